#include "camera/Diagnosis.h"

#include <algorithm>
#include <vector>

#include "camera/FailureText.h"
#include "camera/RegisterAccess.h"
#include "platform/SysError.h"

namespace pelvar {

namespace {

std::string ResultText(std::int32_t r) { return std::string(ResultName(r)) + " (" + std::to_string(r) + ")"; }

// ", 7 bytes without a frame" after a probe that read something but no reply.
std::string BytesText(std::int32_t result, std::uint32_t bytes)
{
    if (result != LINK_ERR_NO_REPLY || bytes == 0)
        return {};
    return ", " + std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes") + " without a frame";
}

// Tenths of a millisecond: "14.0".
std::string Millis(std::uint32_t us)
{
    const std::uint32_t tenths = (us + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string LatencyText(std::uint32_t roundTripMs, const AdapterFacts& adapter)
{
    return "status query " + std::to_string(roundTripMs) + " ms, least " + Millis(StatusQueryFloorUs())
           + " ms; the adapter's latency timer is " + std::to_string(adapter.latencyTimerMs) + " ms";
}

class Diagnosis {
public:
    Diagnosis(BoardConnection& board, const std::vector<PortRef>& ports, const RegisterMap& map,
              const DiagnosisStepFn& onStep, const DiagnosisProgress& progress)
        : m_board(board), m_ports(ports), m_platform(board.Platform()), m_map(map), m_onStep(onStep),
          m_progress(progress)
    {}

    DiagnosisVerdict Run()
    {
        std::uint8_t status = 0;
        const bool ready = m_board.IsOpen() ? OnTheOpenLink() : CheckPorts() && Probe(&status) && StartUp(status);
        if (ready && Scratch())
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

    // A board connected already keeps its start-up: running it again would
    // send CMD_INIT and the blue gain over the user's settings.
    bool OnTheOpenLink()
    {
        const std::string port = PortLabel(m_platform, m_board.Port());
        Step("ports", true, port + ": connected already");
        const QueryResult q = m_board.QueryStatus();
        if (q.result != LINK_OK) {
            Step("probe", false, DescribeFailure({port, "", "status query", q.result, m_board.LastError()}));
            return Fail(SymptomOf(q.result, m_board.LastReceiveBytes()), q.result);
        }
        char text[8];
        std::snprintf(text, sizeof text, "0x%02x", q.value);
        Step("probe", true, port + " answers, status " + text);
        m_sensor = SensorOf(static_cast<std::uint8_t>(q.value));
        return SensorStep(q.value != 0, q.result);
    }

    bool SensorStep(bool started, std::int32_t result)
    {
        if (!started) {
            Step("start-up", false, "the status is 0: the board is not started");
            return Fail("the board does not start: its status stays 0 after CMD_INIT", result);
        }
        Step("start-up", m_sensor != Sensor::None, std::string("sensor ") + SensorText(m_sensor));
        if (m_sensor == Sensor::None)
            return Fail("the board names no sensor (status without a sensor bit)", LINK_OK);
        return true;
    }

    bool CheckPorts()
    {
        const std::vector<PortRef>& ports = m_ports;
        if (ports.empty()) {
            Step("ports", false, "none found (see pelvarctl ports)");
            return Fail("no serial port to try", LINK_ERR_NO_REPLY);
        }
        std::string names;
        for (const PortRef& port : ports)
            names += (names.empty() ? "" : ", ") + port.Text();
        Step("ports", true, std::to_string(ports.size()) + " found: " + names);
        int usable = 0;
        for (const PortRef& port : ports)
            usable += CheckAccess(port) ? 1 : 0;
        if (usable == 0)
            return Fail("no port can be opened (see the access lines for the fix)", PORT_ERR_CONFIG);
        return true;
    }

    // Opens and closes the port, sending nothing.
    bool CheckAccess(const PortRef& port)
    {
        IPlatform& platform = m_platform;
        const PortHandle h = platform.OpenRef(port);
        if (h != kNoHandle) {
            platform.ClosePort(h);
            Step("access", true, PortLabel(platform, port) + ": can be opened");
            return true;
        }
        Step("access", false, DescribeFailure(OpenFailure(platform, port, PORT_ERR_CONFIG, platform.LastError())));
        return false;
    }

    bool Probe(std::uint8_t* status)
    {
        if (m_progress.portSearch)
            m_progress.portSearch(true);
        bool found = m_board.Detect(m_ports, status);
        // A server that takes one client at a time may still be closing the
        // access check's connection: a busy open is tried again, a few times.
        for (int retry = 0; !found && retry < kBusyRetries && OnlyBusyOpens(); ++retry) {
            m_platform.Sleep(kBusyRetryMs);
            found = m_board.Detect(m_ports, status);
        }
        if (m_progress.portSearch)
            m_progress.portSearch(false);
        if (found) {
            char text[8];
            std::snprintf(text, sizeof text, "0x%02x", *status);
            Step("probe", true, PortLabel(m_platform, m_board.Port()) + " answers, status " + text);
            return true;
        }
        // A port that could be checked and then not opened for the probe
        // (a server still closing the check's connection) is named with its
        // reason, never left out.
        std::int32_t worst = LINK_ERR_NO_REPLY;
        std::uint32_t unframed = 0;
        std::string text;
        for (const CandidateReport& c : m_board.Candidates()) {
            const std::string words = c.openResult != LINK_OK
                                          ? DescribeFailure(OpenFailure(m_platform, c.port, c.openResult, c.sysError))
                                          : PortLabel(m_platform, c.port) + " " + ResultText(c.probeResult)
                                                + BytesText(c.probeResult, c.probeBytes);
            text += (text.empty() ? "" : ", ") + words;
            if (c.openResult == LINK_OK && worst == LINK_ERR_NO_REPLY)
                worst = c.probeResult;
            if (c.openResult == LINK_OK && c.probeResult == LINK_ERR_NO_REPLY)
                unframed += c.probeBytes;
        }
        Step("probe", false, "no board answered: " + text);
        if (NoneOpened()) {
            const CandidateReport& c = m_board.Candidates().back();
            return Fail("the port could not be opened for the probe: "
                            + DescribeFailure(OpenFailure(m_platform, c.port, c.openResult, c.sysError)),
                        c.openResult);
        }
        return Fail(SymptomOf(worst, unframed), worst);
    }

    bool NoneOpened() const
    {
        const auto& tried = m_board.Candidates();
        return !tried.empty() && std::all_of(tried.begin(), tried.end(), [](const CandidateReport& c) {
                   return c.openResult != LINK_OK;
               });
    }

    bool OnlyBusyOpens() const
    {
        const auto& tried = m_board.Candidates();
        return NoneOpened() && std::all_of(tried.begin(), tried.end(), [](const CandidateReport& c) {
                   return ClassifyErrno(c.sysError) == SysErrorKind::Busy;
               });
    }

    bool StartUp(std::uint8_t probeStatus)
    {
        if (probeStatus == 0) {
            // Sent here rather than by the start-up so that a refusal is seen.
            const std::int32_t r = m_board.Transact(CMD_INIT, nullptr, 0);
            if (r != LINK_OK) {
                Step("start-up", false, "CMD_INIT: " + ResultText(r));
                return Fail(SymptomOf(r, m_board.LastReceiveBytes()), r);
            }
        }
        const StartOutcome start = m_board.Start(probeStatus, kStartLimitMs, false);
        m_sensor = start.sensor;
        if (start.lostError != 0) {
            const std::string gone = DescribeFailure(
                {PortLabel(m_platform, m_board.Port()), "", "status query", LINK_ERR_SEND, start.lostError});
            Step("start-up", false, gone);
            return Fail(gone, LINK_ERR_SEND);
        }
        if (start.timedOut) {
            Step("start-up", false, "the status stayed 0 for 10 s: init error");
            return Fail("the board does not start: its status stays 0 after CMD_INIT", start.result);
        }
        if (start.cancelled) {
            Step("start-up", false, "cancelled");
            return Fail("cancelled", start.result);
        }
        return SensorStep(true, start.result);
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
        const RegisterRead before = m_board.ReadRegister(reg->address);
        const std::uint16_t original = before.value;
        std::int32_t r = before.result;
        if (r != LINK_OK) {
            Step("scratch", false, name + ": reading it: " + ResultText(r) + "; nothing written");
            return Fail(SymptomOf(r, m_board.LastReceiveBytes()), r);
        }
        const std::uint16_t patterns[] = {0x0000, 0xFFFF, 0xAAAA, 0x5555, 0x0001, 0x8000};
        for (std::uint16_t pattern : patterns) {
            const std::uint16_t p = pattern & mask;
            r = m_board.WriteRegister(reg->address, p);
            if (r != LINK_OK) {
                // Taken before the restore's own exchanges.
                const std::string symptom = SymptomOf(r, m_board.LastReceiveBytes());
                Step("scratch", false,
                     name + ": writing " + Hex16(p) + ": " + ResultText(r) + "; " + Restore(*reg, original));
                return Fail(symptom, r);
            }
            const RegisterRead read = m_board.ReadRegister(reg->address);
            const std::uint16_t back = read.value;
            r = read.result;
            if (r != LINK_OK) {
                // Taken before the restore's own exchanges.
                const std::string symptom = SymptomOf(r, m_board.LastReceiveBytes());
                Step("scratch", false,
                     name + ": reading back " + Hex16(p) + ": " + ResultText(r) + "; " + Restore(*reg, original));
                return Fail(symptom, r);
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
        if (!m_board.IsOpen() || IsGoneError(m_board.LastError()))
            return "not restored: the device has gone";
        const std::int32_t r = m_board.WriteRegister(reg.address, original);
        if (r != LINK_OK)
            return "not restored: writing " + Hex16(original) + ": " + ResultText(r);
        const RegisterRead back = m_board.ReadRegister(reg.address);
        if (!back.Ok())
            return Hex16(original) + " written back, not read back: " + ResultText(back.result);
        if (back.value != original)
            return "not restored: wrote " + Hex16(original) + ", read " + Hex16(back.value);
        return "restored " + Hex16(original);
    }

    void LinkQuality()
    {
        std::vector<std::uint32_t> latencies;
        std::vector<std::uint32_t> rtsLate;
        std::int32_t lastFailure = LINK_OK;
        for (std::uint32_t i = 0; i < kLinkQueries; ++i) {
            if (m_progress.linkQueries)
                m_progress.linkQueries(i);
            const std::uint32_t t0 = m_platform.TickCount();
            const QueryResult q = m_board.QueryStatus();
            if (q.result == LINK_OK) {
                latencies.push_back(m_platform.TickCount() - t0);
                rtsLate.push_back(m_board.RtsLateMs());
            } else {
                lastFailure = q.result;
            }
        }
        if (m_progress.linkQueries)
            m_progress.linkQueries(kLinkQueries);
        const std::uint32_t failures = kLinkQueries - static_cast<std::uint32_t>(latencies.size());
        const std::uint32_t retries = m_board.Retries();
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
        // A USB adapter's latency timer slows a sound line without failing it.
        const AdapterFacts adapter = m_board.Adapter();
        if (!latencies.empty() && adapter.latencyTimerMs >= 0) {
            m_latency = LatencyTimerFinding(median, adapter);
            Step("latency", m_latency.empty(), m_latency.empty() ? LatencyText(median, adapter) : m_latency);
        }
        // RTS lowered late by the host, as most queries saw it.
        std::sort(rtsLate.begin(), rtsLate.end());
        m_rtsLate = RtsReleaseFinding(rtsLate.empty() ? 0 : rtsLate[rtsLate.size() / 2]);
        if (!m_rtsLate.empty())
            Step("rts", false, m_rtsLate);
        if (failures == kLinkQueries)
            Fail(SymptomOf(lastFailure, m_board.LastReceiveBytes()), lastFailure);
        else if (failures > 0)
            Fail("lost replies: " + std::to_string(failures) + " of " + std::to_string(kLinkQueries)
                     + " status queries failed (" + ResultName(lastFailure) + ")",
                 lastFailure);
        else if (median > kSlowReplyMs && !m_latency.empty())
            Fail(m_latency, LINK_OK);
        else if (median > kSlowReplyMs && !m_rtsLate.empty())
            Fail(m_rtsLate, LINK_OK);
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
            v.text = "ok: board on " + PortLabel(m_platform, m_board.Port()) + ", sensor " + SensorText(m_sensor)
                     + ", status queries answered in " + std::to_string(m_median) + " ms"
                     + (m_latency.empty() ? "" : "; " + m_latency) + (m_rtsLate.empty() ? "" : "; " + m_rtsLate);
        else
            v.text = "FAIL: " + m_symptom;
        return v;
    }

    BoardConnection& m_board;
    const std::vector<PortRef>& m_ports;
    IPlatform& m_platform;
    Sensor m_sensor = Sensor::None;
    const RegisterMap& m_map;
    const DiagnosisStepFn& m_onStep;
    const DiagnosisProgress& m_progress;
    std::string m_symptom;
    std::int32_t m_result = LINK_OK;
    std::uint32_t m_median = 0;
    std::string m_latency; // what the adapter's latency timer costs, when it costs something
    std::string m_rtsLate; // RTS lowered late by the host, when it is
};

} // namespace

std::uint32_t StatusQueryFloorUs()
{
    const std::uint32_t requestBytes = 0 + 5;
    const std::uint32_t replyBytes = kStatusRoom + 5;
    const std::uint32_t wireUs = (requestBytes + replyBytes) * 10u * 1000000u / kDiagnosisBaud;
    // The reply is read once RTS has fallen, whatever came before.
    return std::max(wireUs + kBoardReplyUs, HoldTimeMs(requestBytes, kDiagnosisBaud) * 1000u);
}

std::string LatencyTimerFinding(std::uint32_t roundTripMs, const AdapterFacts& adapter)
{
    if (adapter.latencyTimerMs <= 1)
        return {};
    const std::uint32_t floorUs = StatusQueryFloorUs();
    const std::uint32_t tookUs = roundTripMs * 1000u;
    const std::uint32_t timerUs = static_cast<std::uint32_t>(adapter.latencyTimerMs) * 1000u;
    if (tookUs <= floorUs)
        return {};
    const std::uint32_t lateUs = tookUs - floorUs;
    if (lateUs < timerUs / 2 || lateUs > timerUs + kTimerMatchSlackUs)
        return {};
    std::string why;
    if (!adapter.latencyTimerKey.empty())
        why = "Windows has no call to lower it";
    else if (adapter.lowLatencyError == 0)
        why = "its driver did not lower it on Pelvar's request";
    else if (ClassifyErrno(adapter.lowLatencyError) == SysErrorKind::Permission)
        why = "Pelvar could not lower it (permission)";
    else if (ClassifyErrno(adapter.lowLatencyError) == SysErrorKind::Unsupported)
        why = "its driver takes no low-latency request";
    else
        why = "Pelvar could not lower it (" + DescribeErrno(adapter.lowLatencyError) + ")";
    std::string fix;
    if (!adapter.latencyTimerKey.empty()) {
        // The FTDI driver on Windows: its own property page, or the value it reads at plug-in.
        fix = "set Latency Timer (msec) to 1 in Device Manager (the port's Port Settings, Advanced), or LatencyTimer "
              "to 1 under "
              + adapter.latencyTimerKey + " as administrator and replug the adapter";
    } else {
        const std::string file =
            adapter.latencyTimerFile.empty() ? std::string("the adapter's latency_timer") : adapter.latencyTimerFile;
        fix = "`echo 1 > " + file + "` as root, or add the udev rule from docs/port-names.md";
    }
    return "replies arrive " + Millis(lateUs) + " ms late: the adapter's latency timer is "
           + std::to_string(adapter.latencyTimerMs) + " ms; " + why + ": " + fix;
}

std::string RtsReleaseFinding(std::uint32_t lateMs)
{
    if (lateMs <= kRtsLateMs)
        return {};
    return "RTS fell " + Millis((kRtsHoldAfterFrameMs + lateMs) * 1000u) + " ms after the frame instead of "
           + std::to_string(kRtsHoldAfterFrameMs)
           + " ms: the host lowers it late, and the board's reply may meet a line still driven; if the adapter "
             "switches direction itself, use RS-485 mode (--rs485, or ?rs485 in a port entry)";
}

std::string SymptomOf(std::int32_t result, std::uint32_t unframedBytes)
{
    if (result == LINK_ERR_NO_REPLY && unframedBytes > 0)
        return "bytes arrive but no frame (LINK_ERR_NO_REPLY): a wrong bit rate, wiring, or another protocol on this "
               "port?";
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

DiagnosisVerdict Diagnose(BoardConnection& board, const std::vector<PortRef>& ports, const RegisterMap& map,
                          const DiagnosisStepFn& onStep, const DiagnosisProgress& progress)
{
    Diagnosis diagnosis(board, ports, map, onStep, progress);
    return diagnosis.Run();
}

} // namespace pelvar
