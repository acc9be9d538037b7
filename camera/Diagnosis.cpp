#include "camera/Diagnosis.h"

#include <algorithm>
#include <vector>

#include "camera/ControlIds.h"
#include "camera/RegisterAccess.h"
#include "discovery/PortEntry.h"
#include "platform/SysError.h"

namespace pelvar {

namespace {

std::string ResultText(std::int32_t r) { return std::string(ResultName(r)) + " (" + std::to_string(r) + ")"; }

std::string PortName(IPlatform& platform, int port)
{
    const std::string path = platform.PortPath(port);
    return "COM" + std::to_string(port) + (path.empty() ? "" : " (" + path + ")");
}

// What the user can do about a port that cannot be opened, as connect says it.
std::string FixFor(int sysError, const std::string& path)
{
    switch (ClassifyErrno(sysError)) {
    case SysErrorKind::Permission: {
        std::string group = DeviceGroup(path);
        if (group.empty())
            group = "dialout";
        return "; fix: add yourself to group '" + group + "' (sudo usermod -aG " + group + " $USER) and log in again";
    }
    case SysErrorKind::Busy: return "; fix: end the program that holds it";
    default: return "";
    }
}

class Diagnosis {
public:
    Diagnosis(CameraController& cam, IPanelView& view, IPlatform& platform, const RegisterMap& map,
              const DiagnosisStepFn& onStep, const DiagnosisProgress& progress)
        : m_cam(cam), m_view(view), m_platform(platform), m_map(map), m_onStep(onStep), m_progress(progress)
    {}

    DiagnosisVerdict Run()
    {
        std::uint8_t status = 0;
        if (CheckPorts() && Probe(&status) && StartUp(status) && Scratch())
            LinkQuality();
        return Verdict();
    }

private:
    void Step(const char* step, bool ok, const std::string& text) { m_onStep(DiagnosisStep{step, ok, text}); }

    bool Fail(const std::string& symptom, std::int32_t result = LINK_OK)
    {
        if (m_symptom.empty()) {
            m_symptom = symptom;
            m_result = result;
        }
        return false;
    }

    bool CheckPorts()
    {
        std::vector<int> ports;
        for (int i = 0; i < m_view.PortCount(); ++i) {
            int port = 0;
            if (ReadPortEntry(m_view.PortEntry(i), &port))
                ports.push_back(port);
        }
        if (ports.empty()) {
            Step("ports", false, "none found (see pelvarctl ports)");
            return Fail("no serial port to try", LINK_ERR_NO_REPLY);
        }
        std::string names;
        for (int port : ports)
            names += (names.empty() ? "COM" : ", COM") + std::to_string(port);
        Step("ports", true, std::to_string(ports.size()) + " found: " + names);
        int usable = 0;
        for (int port : ports)
            usable += CheckAccess(port) ? 1 : 0;
        if (usable == 0)
            return Fail("no port can be opened (see the access lines for the fix)", PORT_ERR_CONFIG);
        return true;
    }

    // Opens and closes the port, sending nothing.
    bool CheckAccess(int port)
    {
        IPlatform& platform = m_platform;
        const PortHandle h = platform.OpenPort(port);
        if (h != kNoHandle) {
            platform.ClosePort(h);
            Step("access", true, PortName(platform, port) + ": can be opened");
            return true;
        }
        const int e = platform.LastError();
        Step("access", false,
             PortName(platform, port) + ": cannot open: " + DescribeErrno(e) + FixFor(e, platform.PortPath(port)));
        return false;
    }

    bool Probe(std::uint8_t* status)
    {
        CameraController& cam = m_cam;
        if (m_progress.portSearch)
            m_progress.portSearch(true);
        const bool found = cam.DetectBoard(status);
        if (m_progress.portSearch)
            m_progress.portSearch(false);
        if (found) {
            char text[8];
            std::snprintf(text, sizeof text, "0x%02x", *status);
            Step("probe", true, "COM" + std::to_string(cam.m_nPort) + " answers, status " + text);
            return true;
        }
        std::int32_t worst = LINK_ERR_NO_REPLY;
        std::string text;
        for (const CandidateReport& c : cam.Candidates()) {
            if (c.openResult != LINK_OK)
                continue;
            text += (text.empty() ? "" : ", ") + std::string("COM") + std::to_string(c.port) + " "
                    + ResultText(c.probeResult);
            if (worst == LINK_ERR_NO_REPLY)
                worst = c.probeResult;
        }
        Step("probe", false, "no board answered: " + text);
        return Fail(SymptomOf(worst), worst);
    }

    bool StartUp(std::uint8_t probeStatus)
    {
        CameraController& cam = m_cam;
        if (probeStatus == 0) {
            // Sent here rather than by StartBoard so that a refusal is seen.
            const std::int32_t r = RunTransaction(*cam.Link(), CMD_INIT, nullptr, 0);
            if (r != LINK_OK) {
                Step("start-up", false, "CMD_INIT: " + ResultText(r));
                return Fail(SymptomOf(r), r);
            }
        }
        // CMD_INIT has gone out above: a nonzero status makes StartBoard go
        // straight to its status poll.
        cam.StartBoard(probeStatus == 0 ? STATUS_ACTIVE : probeStatus);
        const std::string sensor = m_view.ControlText(IDC_SENSOR_TEXT);
        if (cam.StartTimedOut()) {
            Step("start-up", false, "the status stayed 0 for 10 s: " + sensor);
            return Fail("the board does not start: its status stays 0 after CMD_INIT", cam.LastResult());
        }
        Step("start-up", sensor != "init error", "sensor " + sensor);
        if (sensor == "init error")
            return Fail("the board names no sensor (status without a sensor bit)", LINK_OK);
        return true;
    }

    bool Scratch()
    {
        const RegisterInfo* reg = m_map.FirstScratch();
        if (!reg) {
            Step("scratch", true, "no scratch register in the map: skipped");
            return true;
        }
        const std::string name = reg->name + " (" + Hex16(reg->address) + ")";
        const std::uint16_t mask = static_cast<std::uint16_t>((1u << reg->width) - 1);
        std::uint16_t original = 0;
        std::int32_t r = ReadRegister(m_cam, m_view, reg->address, &original);
        if (r != LINK_OK) {
            Step("scratch", false, name + ": reading it: " + ResultText(r) + "; nothing written");
            return Fail(SymptomOf(r), r);
        }
        const std::uint16_t patterns[] = {0x0000, 0xFFFF, 0xAAAA, 0x5555, 0x0001, 0x8000};
        for (std::uint16_t pattern : patterns) {
            const std::uint16_t p = pattern & mask;
            std::uint16_t back = 0;
            r = WriteRegister(m_cam, m_view, reg->address, p);
            if (r != LINK_OK) {
                Step("scratch", false,
                     name + ": writing " + Hex16(p) + ": " + ResultText(r) + "; " + Restore(*reg, original));
                return Fail(SymptomOf(r), r);
            }
            r = ReadRegister(m_cam, m_view, reg->address, &back);
            if (r != LINK_OK) {
                Step("scratch", false,
                     name + ": reading back " + Hex16(p) + ": " + ResultText(r) + "; " + Restore(*reg, original));
                return Fail(SymptomOf(r), r);
            }
            if (back != p) {
                Step("scratch", false,
                     name + ": wrote " + Hex16(p) + ", read " + Hex16(back) + "; " + Restore(*reg, original));
                return Fail("register " + reg->name + " does not keep what is written", LINK_OK);
            }
        }
        const std::string restored = Restore(*reg, original);
        const bool ok = restored.rfind("restored", 0) == 0;
        Step("scratch", ok,
             name + ": " + std::to_string(std::size(patterns)) + " patterns written and read back; " + restored);
        if (!ok)
            return Fail("register " + reg->name + " keeps a test pattern: " + restored, LINK_OK);
        return true;
    }

    // Puts the scratch register's value from before the test back, read back
    // to be sure: the user's register must not keep a test pattern unsaid.
    std::string Restore(const RegisterInfo& reg, std::uint16_t original)
    {
        if (m_cam.LineLostError() != 0)
            return "not restored: the device has gone";
        std::int32_t r = WriteRegister(m_cam, m_view, reg.address, original);
        if (r != LINK_OK)
            return "not restored: writing " + Hex16(original) + ": " + ResultText(r);
        std::uint16_t back = 0;
        r = ReadRegister(m_cam, m_view, reg.address, &back);
        if (r != LINK_OK)
            return Hex16(original) + " written back, not read back: " + ResultText(r);
        if (back != original)
            return "not restored: wrote " + Hex16(original) + ", read " + Hex16(back);
        return "restored " + Hex16(original);
    }

    void LinkQuality()
    {
        std::vector<std::uint32_t> latencies;
        std::int32_t lastFailure = LINK_OK;
        for (std::uint32_t i = 0; i < kLinkQueries; ++i) {
            if (m_progress.linkQueries)
                m_progress.linkQueries(i);
            const std::uint32_t t0 = m_platform.TickCount();
            const QueryResult q = QueryStatus(*m_cam.Link());
            if (q.result == LINK_OK)
                latencies.push_back(m_platform.TickCount() - t0);
            else
                lastFailure = q.result;
        }
        if (m_progress.linkQueries)
            m_progress.linkQueries(kLinkQueries);
        const std::uint32_t failures = kLinkQueries - static_cast<std::uint32_t>(latencies.size());
        const std::uint32_t retries = m_cam.Link()->Retries();
        std::sort(latencies.begin(), latencies.end());
        const std::uint32_t median = latencies.empty() ? 0 : latencies[latencies.size() / 2];
        std::string text = std::to_string(kLinkQueries) + " status queries: latency ";
        if (latencies.empty())
            text += "none (no reply)";
        else
            text += "min " + std::to_string(latencies.front()) + " ms, median " + std::to_string(median) + " ms, max "
                    + std::to_string(latencies.back()) + " ms";
        text += "; failures " + std::to_string(failures) + "; retries " + std::to_string(retries);
        const bool ok = failures == 0 && retries == 0 && median <= kSlowReplyMs;
        Step("link", ok, text);
        m_median = median;
        if (failures == kLinkQueries)
            Fail(SymptomOf(lastFailure), lastFailure);
        else if (failures > 0)
            Fail("lost replies: " + std::to_string(failures) + " of " + std::to_string(kLinkQueries)
                     + " status queries failed (" + ResultName(lastFailure) + ")",
                 lastFailure);
        else if (median > kSlowReplyMs)
            Fail("slow replies: a status query takes " + std::to_string(median) + " ms (a sound line: under "
                     + std::to_string(kSlowReplyMs) + " ms)",
                 LINK_OK);
        else if (retries > 0)
            Fail("transactions needed " + std::to_string(retries)
                     + " retries: replies are lost or refused now and then",
                 LINK_OK);
    }

    DiagnosisVerdict Verdict()
    {
        DiagnosisVerdict v;
        v.ok = m_symptom.empty();
        v.result = m_result;
        if (v.ok)
            v.text = "ok: board on COM" + std::to_string(m_cam.m_nPort) + ", sensor "
                     + m_view.ControlText(IDC_SENSOR_TEXT) + ", status queries answered in " + std::to_string(m_median)
                     + " ms";
        else
            v.text = "FAIL: " + m_symptom;
        return v;
    }

    CameraController& m_cam;
    IPanelView& m_view;
    IPlatform& m_platform;
    const RegisterMap& m_map;
    const DiagnosisStepFn& m_onStep;
    const DiagnosisProgress& m_progress;
    std::string m_symptom;
    std::int32_t m_result = LINK_OK;
    std::uint32_t m_median = 0;
};

} // namespace

std::string SymptomOf(std::int32_t result)
{
    switch (result) {
    case LINK_ERR_NO_REPLY:
    case PORT_ERR_READ_TIMEOUT:
        return "no reply from the board (" + std::string(ResultName(result)) + "): is it powered and on this port?";
    case LINK_ERR_NAK: return "the board refuses commands: NAK (LINK_ERR_NAK)";
    case LINK_ERR_CHECKSUM:
        return "checksum errors in the board's replies (LINK_ERR_CHECKSUM): noise on the line or a wrong line speed";
    case LINK_ERR_REPLY_TOO_LONG: return "replies longer than the protocol allows (LINK_ERR_REPLY_TOO_LONG)";
    default: return std::string("the link failed (") + ResultName(result) + ")";
    }
}

DiagnosisVerdict Diagnose(CameraController& cam, IPanelView& view, IPlatform& platform, const RegisterMap& map,
                          const DiagnosisStepFn& onStep, const DiagnosisProgress& progress)
{
    Diagnosis diagnosis(cam, view, platform, map, onStep, progress);
    return diagnosis.Run();
}

} // namespace pelvar
