#include "camera/CameraController.h"

#include <cstdio>

#include "camera/ControlIds.h"
#include "camera/ControlTable.h"
#include "camera/StatusText.h"
#include "platform/TextScan.h"
#include "discovery/PortList.h"
#include "platform/SysError.h"

namespace pelvar {

namespace {

constexpr std::size_t kHexBoxChars = 8;
constexpr std::uint32_t kPollSendPauseMs = 10; // as between transaction attempts

class WaitCursor {
public:
    explicit WaitCursor(IPanelView& view) : m_view(view) { m_view.BeginWaitCursor(); }
    ~WaitCursor() { m_view.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    IPanelView& m_view;
};

std::string Decimal(std::int32_t v) { return std::to_string(v); }

std::string Hex4(std::uint16_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

std::string BindingName(const ControlBinding* b, std::uint8_t cmd)
{
    return b ? std::string(b->name) : CommandName(cmd);
}

} // namespace

std::uint8_t ButtonCommand(int controlId)
{
    const ControlBinding* b = FindBinding(controlId);
    return b && b->role == ControlRole::FunctionButton ? b->cmd : 0;
}

bool SliderBinding(int sliderId, std::uint8_t* cmd, int* valueBoxId)
{
    const ControlBinding* b = FindBinding(sliderId);
    if (!b || b->role != ControlRole::Slider)
        return false;
    *cmd = b->cmd;
    *valueBoxId = b->valueBox;
    return true;
}

std::uint16_t ParseHexBoxText(const std::string& full)
{
    const std::string text = full.substr(0, kHexBoxChars);
    std::size_t i = 0;
    while (i < text.size() && IsScanfSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // "0x" counts as a prefix only when a digit follows it.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && HexDigit(text[i + 2]) >= 0)
        i += 2;
    std::uint32_t value = 0;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i)
        value = value * 16 + static_cast<std::uint32_t>(HexDigit(text[i]));
    if (negative)
        value = 0u - value;
    return static_cast<std::uint16_t>(value & 0xFFFF);
}

CameraController::CameraController(IPanelView& view, IPlatform& platform) : m_view(view), m_platform(platform) {}

CameraController::~CameraController() = default;

void CameraController::ReleaseLink()
{
    if (!m_pLink)
        return;
    m_pLink->Close();
    m_pLink.reset();
}

bool CameraController::AttachPort(int port)
{
    CandidateReport report;
    report.port = port;
    m_nPort = port;
    m_pLink = std::make_unique<CFrameLink>(port, m_nBaud, m_platform);
    m_pLink->SetTap(m_pTap);
    m_pLink->SetCancelFlag(m_pCancel);
    report.openResult = m_pLink->Open();
    m_nLastResult = report.openResult;
    if (report.openResult != LINK_OK)
        report.sysError = m_pLink->Port()->LastError();
    m_candidates.push_back(report);
    if (report.openResult != LINK_OK) {
        ReleaseLink();
        return false;
    }
    return true;
}

bool CameraController::TryCandidate(int port, std::uint8_t* status)
{
    if (!AttachPort(port))
        return false;
    QueryResult probe = QueryStatus(*m_pLink);
    m_candidates.back().probeResult = probe.result;
    m_nLastResult = probe.result;
    if (probe.result != LINK_OK) {
        ReleaseLink();
        return false;
    }
    *status = static_cast<std::uint8_t>(probe.value);
    return true;
}

bool CameraController::DetectBoard(std::uint8_t* status)
{
    m_candidates.clear();
    // A link kept through a port-list selection would hold its port and make
    // the detection fail on it: release it first.
    ReleaseLink();
    const int count = m_view.PortCount();
    if (count <= 0)
        return false;
    for (int i = 0; i < count && !(m_pCancel && m_pCancel->load()); ++i) {
        int port = 0;
        if (!ReadPortEntry(m_view.PortEntry(i), &port))
            continue;
        if (!TryCandidate(port, status))
            continue;
        m_view.SetControlText(IDC_PORT_TEXT, Decimal(port));
        m_view.SetControlStates(false, true);
        return true;
    }
    return false;
}

void CameraController::StartBoard(std::uint8_t probeStatus)
{
    m_bStartTimedOut = false;
    m_nLineLostError = 0;
    if (probeStatus == 0)
        RunTransaction(*m_pLink, CMD_INIT, nullptr, 0);

    // The board must report a nonzero status; a board that never does must
    // not hold the window forever.
    const std::uint32_t start = m_platform.TickCount();
    std::uint8_t status = 0;
    for (;;) {
        QueryResult q = QueryStatus(*m_pLink);
        m_nLastResult = q.result;
        if (q.result == LINK_OK && q.value != 0) {
            status = static_cast<std::uint8_t>(q.value);
            break;
        }
        if (PollSendFailed(q.result))
            return;
        if (m_pCancel && m_pCancel->load()) {
            ReleaseLink();
            return;
        }
        if (m_platform.TickCount() - start >= m_nStartLimitMs) {
            m_bStartTimedOut = true;
            ReleaseLink();
            m_view.SetControlStates(true, false);
            m_view.SetControlText(IDC_SENSOR_TEXT, "init error");
            return;
        }
    }
    if (status & STATUS_SENSOR_L) {
        auto payload = EncodeAdjustment(128);
        RunTransaction(*m_pLink, CMD_GAIN_BLUE, payload.data(), 4);
    }
    m_view.SetControlText(IDC_SENSOR_TEXT, SensorName(status));
}

bool CameraController::PollSendFailed(std::int32_t result)
{
    if (result != LINK_ERR_SEND)
        return false;
    // A send fails at once, so without a pause the poll would spin. A device
    // that is gone never comes back within the poll: give up at once. The
    // system's own codes tell it, through the kinds both systems share.
    const int err = m_pLink->Port()->LastError();
    if (ClassifyErrno(err) == SysErrorKind::NotFound) {
        m_nLineLostError = err;
        ReleaseLink();
        m_view.SetControlStates(true, false);
        return true;
    }
    m_platform.Sleep(kPollSendPauseMs);
    return false;
}

void CameraController::OnConnect()
{
    std::uint8_t status = 0;
    if (!DetectBoard(&status)) {
        m_view.SetStatusText(NoBoardText(m_candidates, m_platform));
        return;
    }
    StartBoard(status);
    ReportStart();
}

void CameraController::ReportStart()
{
    const std::string com = "COM" + Decimal(m_nPort);
    if (m_nLineLostError != 0)
        m_view.SetStatusText(com + ": the device has gone: " + DescribeErrno(m_nLineLostError));
    else if (m_bStartTimedOut)
        m_view.SetStatusText(com + ": the board did not start (init error)");
    else if (m_pLink)
        m_view.SetStatusText(ConnectedText(m_nPort, m_view.ControlText(IDC_SENSOR_TEXT)));
}

bool CameraController::LineGone() { return m_pLink && m_pLink->Port() && m_platform.PortGone(m_pLink->Port()->m_hCom); }

void CameraController::OnLineLost()
{
    if (!m_pLink)
        return;
    m_view.SetControlStates(false, false);
    ReleaseLink();
    m_view.SetControlStates(true, false);
    m_view.SetStatusText(kStatusUnplugged);
}

std::int32_t CameraController::SendAdjustments(std::vector<std::uint8_t>* cmds)
{
    std::int32_t last = LINK_OK;
    std::vector<std::uint8_t> failed;
    for (std::uint8_t cmd : *cmds) {
        std::int32_t r = LINK_ERR_NOT_OPEN;
        if (m_pLink && m_adjust.For(cmd)) {
            auto payload = EncodeAdjustment(Adjustment(cmd));
            r = RunTransaction(*m_pLink, cmd, payload.data(), 4);
        }
        if (r != LINK_OK) {
            failed.push_back(cmd);
            last = r;
        }
    }
    *cmds = std::move(failed);
    m_nLastResult = last;
    return last;
}

void CameraController::OnDisconnect()
{
    if (!m_pLink)
        return;
    QueryResult q = QueryStatus(*m_pLink);
    m_nLastResult = q.result;
    std::uint8_t status = q.result == LINK_OK ? static_cast<std::uint8_t>(q.value) : 0;
    if (q.result == LINK_ERR_NO_REPLY)
        m_view.ShowError("No reply from camera.", "Error");
    const bool answered = q.result == LINK_OK;
    if (status & STATUS_ACTIVE) {
        m_nLastResult = RunTransaction(*m_pLink, CMD_RELEASE, nullptr, 0);
        m_view.SetControlText(IDC_SENSOR_TEXT, "");
    }
    m_view.SetControlStates(false, false);
    ReleaseLink();
    m_view.SetControlStates(true, false);
    m_view.SetStatusText(answered ? kStatusDisconnected : kStatusNoReplyDisconnected);
}

void CameraController::OnPortSelChange()
{
    const int index = m_view.SelectedPortIndex();
    if (index < 0)
        return;
    int port = 0;
    if (!ReadPortEntry(m_view.PortEntry(index), &port))
        return;
    m_nPort = port;
    m_view.SetControlStates(true, false);
}

std::int32_t CameraController::Adjustment(std::uint8_t cmd) const
{
    const std::int32_t* value = m_adjust.For(cmd);
    return value ? *value : 0;
}

void CameraController::OnHScroll(int controlId, int position)
{
    std::uint8_t cmd = 0;
    int valueBox = 0;
    if (!SliderBinding(controlId, &cmd, &valueBox))
        return;
    *m_adjust.For(cmd) = position;
    m_view.SetControlText(valueBox, Decimal(position));
    SendAdjustment(cmd);
}

void CameraController::SendAdjustment(std::uint8_t cmd)
{
    WaitCursor cursor(m_view);
    const std::int32_t* member = m_adjust.For(cmd);
    if (!m_pLink || !member)
        return;
    auto payload = EncodeAdjustment(*member);
    m_nLastResult = RunTransaction(*m_pLink, cmd, payload.data(), 4);
    const std::string what = BindingName(FindSliderForCommand(cmd), cmd) + " " + Decimal(*member);
    m_view.SetStatusText(OperationText(what, m_nLastResult));
}

void CameraController::OnFunctionButton(int controlId)
{
    const std::uint8_t cmd = ButtonCommand(controlId);
    if (!m_pLink || cmd == 0)
        return;
    m_nLastResult = RunTransaction(*m_pLink, cmd, nullptr, 0);
    m_view.SetStatusText(OperationText(BindingName(FindBinding(controlId), cmd), m_nLastResult));
}

std::uint16_t CameraController::ReadHexBox(int boxId) { return ParseHexBoxText(m_view.ControlText(boxId)); }

void CameraController::OnRegisterWrite()
{
    if (!m_pLink)
        return;
    const std::uint16_t address = ReadHexBox(IDC_REG_ADDRESS);
    const std::uint16_t content = ReadHexBox(IDC_REG_CONTENT);
    auto a = EncodeWord(address);
    m_nLastResult = RunTransaction(*m_pLink, CMD_REG_ADDRESS, a.data(), 2);
    if (m_nLastResult == LINK_OK) {
        auto c = EncodeWord(content);
        m_nLastResult = RunTransaction(*m_pLink, CMD_REG_WRITE, c.data(), 2);
    }
    m_view.SetStatusText(OperationText("write register " + Hex4(address) + " = " + Hex4(content), m_nLastResult));
}

void CameraController::OnRegisterRead()
{
    if (!m_pLink)
        return;
    const std::uint16_t address = ReadHexBox(IDC_REG_ADDRESS);
    std::uint16_t value = 0;
    auto a = EncodeWord(address);
    m_nLastResult = RunTransaction(*m_pLink, CMD_REG_ADDRESS, a.data(), 2);
    if (m_nLastResult == LINK_OK) {
        QueryResult q = QueryRegister(*m_pLink);
        m_nLastResult = q.result;
        if (q.result == LINK_OK)
            value = static_cast<std::uint16_t>(q.value);
    }
    // A failed read shows no value: "0x0000" would read as a register
    // holding zero.
    const std::string what = "read register " + Hex4(address);
    if (m_nLastResult != LINK_OK) {
        m_view.SetControlText(IDC_REG_CONTENT, "");
        m_view.SetStatusText(what + ": " + FailureWords(m_nLastResult));
        return;
    }
    m_view.SetControlText(IDC_REG_CONTENT, Hex4(value));
    m_view.SetStatusText(what + ": " + Hex4(value));
}

} // namespace pelvar
