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

CameraController::CameraController(IPanelView& view, IPlatform& platform)
    : m_view(view), m_platform(platform), m_board(platform, m_nBaud)
{}

CameraController::~CameraController() = default;

bool CameraController::AttachPort(int port)
{
    m_board.SetBaud(m_nBaud);
    m_board.ClearCandidates();
    m_nLastResult = m_board.Attach(port);
    m_nPort = port;
    return m_nLastResult == LINK_OK;
}

bool CameraController::DetectBoard(std::uint8_t* status)
{
    m_board.SetBaud(m_nBaud);
    std::vector<int> ports;
    const int count = m_view.PortCount();
    for (int i = 0; i < count; ++i) {
        int port = 0;
        if (ReadPortEntry(m_view.PortEntry(i), &port))
            ports.push_back(port);
    }
    // Releases a link kept through a port-list selection first: it would
    // hold its port and make the detection fail on it.
    const bool found = m_board.Detect(ports, status);
    if (!m_board.Candidates().empty()) {
        m_nPort = m_board.PortNumber();
        const CandidateReport& last = m_board.Candidates().back();
        m_nLastResult = last.openResult != LINK_OK ? last.openResult : last.probeResult;
    }
    if (!found)
        return false;
    m_view.SetControlText(IDC_PORT_TEXT, Decimal(m_nPort));
    m_view.SetControlStates(false, true);
    return true;
}

void CameraController::StartBoard(std::uint8_t probeStatus)
{
    const StartOutcome outcome = m_board.Start(probeStatus, m_nStartLimitMs);
    m_nLastResult = outcome.result;
    m_bStartTimedOut = outcome.timedOut;
    m_nLineLostError = outcome.lostError;
    if (outcome.lostError != 0) {
        m_view.SetControlStates(true, false);
        return;
    }
    if (outcome.timedOut) {
        m_view.SetControlStates(true, false);
        m_view.SetControlText(IDC_SENSOR_TEXT, "init error");
        return;
    }
    if (outcome.Started())
        m_view.SetControlText(IDC_SENSOR_TEXT, SensorText(outcome.sensor));
}

void CameraController::OnConnect()
{
    std::uint8_t status = 0;
    if (!DetectBoard(&status)) {
        m_view.SetStatusText(NoBoardText(m_board.Candidates(), m_platform));
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
    else if (m_board.IsOpen())
        m_view.SetStatusText(ConnectedText(m_nPort, m_view.ControlText(IDC_SENSOR_TEXT)));
}

bool CameraController::LineGone() { return m_board.LineGone(); }

void CameraController::OnLineLost()
{
    if (!m_board.IsOpen())
        return;
    m_view.SetControlStates(false, false);
    m_board.Close();
    m_view.SetControlStates(true, false);
    m_view.SetStatusText(kStatusUnplugged);
}

std::int32_t CameraController::SendAdjustments(std::vector<std::uint8_t>* cmds)
{
    std::int32_t last = LINK_OK;
    std::vector<std::uint8_t> failed;
    for (std::uint8_t cmd : *cmds) {
        const std::int32_t r = m_adjust.For(cmd) ? m_board.SetAdjustment(cmd, Adjustment(cmd)) : LINK_ERR_NOT_OPEN;
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
    if (!m_board.IsOpen())
        return;
    const ReleaseOutcome outcome = m_board.Release();
    m_nLastResult = outcome.released ? outcome.releaseResult : outcome.statusResult;
    if (outcome.statusResult == LINK_ERR_NO_REPLY)
        m_view.ShowError("No reply from camera.", "Error");
    if (outcome.released)
        m_view.SetControlText(IDC_SENSOR_TEXT, "");
    m_view.SetControlStates(false, false);
    m_board.Close();
    m_view.SetControlStates(true, false);
    m_view.SetStatusText(outcome.statusResult == LINK_OK ? kStatusDisconnected : kStatusNoReplyDisconnected);
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
    if (!member)
        return;
    m_nLastResult = m_board.SetAdjustment(cmd, *member);
    if (!m_board.IsOpen())
        return;
    const std::string what = BindingName(FindSliderForCommand(cmd), cmd) + " " + Decimal(*member);
    m_view.SetStatusText(OperationText(what, m_nLastResult));
}

void CameraController::OnFunctionButton(int controlId)
{
    const std::uint8_t cmd = ButtonCommand(controlId);
    if (cmd == 0)
        return;
    m_nLastResult = m_board.Press(cmd);
    if (!m_board.IsOpen())
        return;
    m_view.SetStatusText(OperationText(BindingName(FindBinding(controlId), cmd), m_nLastResult));
}

std::uint16_t CameraController::ReadHexBox(int boxId) { return ParseHexBoxText(m_view.ControlText(boxId)); }

void CameraController::OnRegisterWrite()
{
    m_nLastResult = LINK_ERR_NOT_OPEN;
    if (!m_board.IsOpen())
        return;
    const std::uint16_t address = ReadHexBox(IDC_REG_ADDRESS);
    const std::uint16_t content = ReadHexBox(IDC_REG_CONTENT);
    m_nLastResult = m_board.WriteRegister(address, content);
    m_view.SetStatusText(OperationText("write register " + Hex4(address) + " = " + Hex4(content), m_nLastResult));
}

void CameraController::OnRegisterRead()
{
    m_nLastResult = LINK_ERR_NOT_OPEN;
    if (!m_board.IsOpen())
        return;
    const std::uint16_t address = ReadHexBox(IDC_REG_ADDRESS);
    const RegisterRead read = m_board.ReadRegister(address);
    m_nLastResult = read.result;
    // A failed read shows no value: "0x0000" would read as a register
    // holding zero.
    const std::string what = "read register " + Hex4(address);
    if (!read.Ok()) {
        m_view.SetControlText(IDC_REG_CONTENT, "");
        m_view.SetStatusText(what + ": " + FailureWords(read.result));
        return;
    }
    m_view.SetControlText(IDC_REG_CONTENT, Hex4(read.value));
    m_view.SetStatusText(what + ": " + Hex4(read.value));
}

} // namespace pelvar
