#include "camera/BoardConnection.h"

#include "platform/SysError.h"
#include "platform/net/NetworkPlatform.h"

namespace pelvar {

namespace {

constexpr std::uint32_t kPollSendPauseMs = 10; // as between transaction attempts
constexpr std::int32_t kBlueForArvenL = 128;

} // namespace

const char* SensorText(Sensor sensor)
{
    switch (sensor) {
    case Sensor::ArvenL: return "ARVEN-L";
    case Sensor::ArvenS: return "ARVEN-S";
    case Sensor::None: break;
    }
    return "init error";
}

Sensor SensorOf(std::uint8_t status)
{
    if (status & STATUS_SENSOR_L)
        return Sensor::ArvenL;
    if (status & STATUS_SENSOR_S)
        return Sensor::ArvenS;
    return Sensor::None;
}

BoardConnection::BoardConnection(IPlatform& platform, std::int32_t baud) : m_platform(platform), m_nBaud(baud) {}

BoardConnection::~BoardConnection() { Close(); }

void BoardConnection::Close()
{
    if (!m_pLink)
        return;
    m_pLink->Close();
    m_pLink.reset();
}

AdapterFacts BoardConnection::Adapter() const
{
    if (!m_pLink || !m_pLink->IsOpen())
        return {};
    return m_platform.Adapter(m_pLink->Port()->m_hCom);
}

std::int32_t BoardConnection::Attach(const PortRef& port)
{
    // A link kept from before would hold its port: never two at once.
    Close();
    CandidateReport report;
    report.port = port;
    m_port = port;
    m_pLink = std::make_unique<CFrameLink>(port, m_nBaud, m_platform);
    m_pLink->SetTap(m_pTap);
    m_pLink->SetCancelFlag(m_pCancel);
    m_pLink->SetReceiveWindow(m_receiveWindowMs);
    // A port directory entry may ask for RS-485 mode for its port alone.
    DeviceEntry entry;
    m_pLink->SetRs485(m_bRs485 || (port.IsNumber() && FindDeviceEntry(port.number, &entry) && entry.rs485));
    report.openResult = m_pLink->Open();
    if (report.openResult != LINK_OK)
        report.sysError = m_pLink->Port()->LastError();
    m_candidates.push_back(report);
    if (report.openResult != LINK_OK)
        Close();
    return report.openResult;
}

bool BoardConnection::Detect(const std::vector<int>& ports, std::uint8_t* status)
{
    std::vector<PortRef> refs;
    for (int port : ports)
        refs.push_back(PortRef::Com(port));
    return Detect(refs, status);
}

bool BoardConnection::Detect(const std::vector<PortRef>& ports, std::uint8_t* status)
{
    m_candidates.clear();
    Close();
    for (const PortRef& port : ports) {
        if (Cancelled())
            break;
        if (Attach(port) != LINK_OK)
            continue;
        const QueryResult probe = pelvar::QueryStatus(*m_pLink);
        m_candidates.back().probeResult = probe.result;
        if (probe.result == LINK_OK) {
            *status = static_cast<std::uint8_t>(probe.value);
            return true;
        }
        m_candidates.back().probeBytes = m_pLink->LastReceiveBytes();
        Close();
    }
    return false;
}

StartOutcome BoardConnection::Start(std::uint8_t probeStatus, std::uint32_t limitMs, bool sendInit)
{
    StartOutcome outcome;
    if (!m_pLink) {
        outcome.result = LINK_ERR_NOT_OPEN;
        return outcome;
    }
    if (probeStatus == 0 && sendInit)
        RunTransaction(*m_pLink, CMD_INIT, nullptr, 0);

    // The board must report a nonzero status; a board that never does must
    // not hold the caller forever.
    const std::uint32_t start = m_platform.TickCount();
    for (;;) {
        const QueryResult q = pelvar::QueryStatus(*m_pLink);
        outcome.result = q.result;
        if (q.result == LINK_OK && q.value != 0) {
            outcome.status = static_cast<std::uint8_t>(q.value);
            break;
        }
        if (PollSendFailed(q.result, &outcome))
            return outcome;
        if (Cancelled()) {
            outcome.cancelled = true;
            Close();
            return outcome;
        }
        if (m_platform.TickCount() - start >= limitMs) {
            outcome.timedOut = true;
            Close();
            return outcome;
        }
    }
    outcome.sensor = SensorOf(outcome.status);
    if (outcome.sensor == Sensor::ArvenL) {
        // To the board only: the adjustments held for the sliders keep their values.
        auto payload = EncodeAdjustment(kBlueForArvenL);
        RunTransaction(*m_pLink, CMD_GAIN_BLUE, payload.data(), 4);
    }
    return outcome;
}

bool BoardConnection::PollSendFailed(std::int32_t result, StartOutcome* outcome)
{
    if (result != LINK_ERR_SEND)
        return false;
    // A send fails at once, so without a pause the poll would spin. A device
    // that is gone never comes back within the poll: give up at once. The
    // system's own codes tell it, through the kinds both systems share.
    const int err = m_pLink->Port()->LastError();
    if (IsGoneError(err)) {
        outcome->lostError = err;
        Close();
        return true;
    }
    m_platform.Sleep(kPollSendPauseMs);
    return false;
}

RegisterRead BoardConnection::ReadRegister(std::uint16_t address)
{
    RegisterRead read;
    if (!m_pLink)
        return read;
    auto a = EncodeWord(address);
    read.result = RunTransaction(*m_pLink, CMD_REG_ADDRESS, a.data(), 2);
    if (read.result != LINK_OK)
        return read;
    const QueryResult q = QueryRegister(*m_pLink);
    read.result = q.result;
    if (q.result == LINK_OK)
        read.value = static_cast<std::uint16_t>(q.value);
    return read;
}

std::int32_t BoardConnection::WriteRegister(std::uint16_t address, std::uint16_t value)
{
    if (!m_pLink)
        return LINK_ERR_NOT_OPEN;
    auto a = EncodeWord(address);
    const std::int32_t r = RunTransaction(*m_pLink, CMD_REG_ADDRESS, a.data(), 2);
    if (r != LINK_OK)
        return r;
    auto c = EncodeWord(value);
    return RunTransaction(*m_pLink, CMD_REG_WRITE, c.data(), 2);
}

std::int32_t BoardConnection::SetAdjustment(std::uint8_t cmd, std::int32_t value)
{
    if (!m_pLink)
        return LINK_ERR_NOT_OPEN;
    auto payload = EncodeAdjustment(value);
    return RunTransaction(*m_pLink, cmd, payload.data(), 4);
}

std::int32_t BoardConnection::Press(std::uint8_t cmd) { return Transact(cmd, nullptr, 0); }

QueryResult BoardConnection::QueryStatus() { return Query(CMD_STATUS, kStatusRoom); }

QueryResult BoardConnection::Query(std::uint8_t cmd, std::uint32_t room)
{
    if (!m_pLink) {
        QueryResult q;
        q.result = LINK_ERR_NOT_OPEN;
        return q;
    }
    return RunQuery(*m_pLink, cmd, room);
}

std::int32_t BoardConnection::Transact(std::uint8_t cmd, const std::uint8_t* payload, std::uint32_t length)
{
    if (!m_pLink)
        return LINK_ERR_NOT_OPEN;
    return RunTransaction(*m_pLink, cmd, payload, length);
}

ReleaseOutcome BoardConnection::Release()
{
    ReleaseOutcome outcome;
    if (!m_pLink)
        return outcome;
    const QueryResult q = QueryStatus();
    outcome.statusResult = q.result;
    const std::uint8_t status = q.result == LINK_OK ? static_cast<std::uint8_t>(q.value) : 0;
    if (status & STATUS_ACTIVE) {
        outcome.releaseResult = RunTransaction(*m_pLink, CMD_RELEASE, nullptr, 0);
        outcome.released = true;
    }
    return outcome;
}

int BoardConnection::LastError() const { return m_pLink && m_pLink->Port() ? m_pLink->Port()->LastError() : 0; }

bool BoardConnection::LineGone() const
{
    return m_pLink && m_pLink->Port() && m_platform.PortGone(m_pLink->Port()->m_hCom);
}

} // namespace pelvar
