#include "platform/SimPlatform.h"
#include "platform/PortRef.h"
#include "platform/ReadDeadline.h"

#include <algorithm>
#include <cerrno>

namespace pelvar {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Virtual times compared as the tick count wraps: by their difference.
bool After(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) > 0; }

} // namespace

struct ArrivingByte {
    std::uint32_t time;
    std::uint8_t value;
};

class SimLineImpl : public SimLine {
public:
    SimLineImpl(SimPlatform& platform, int port, bool& hungUp) : m_platform(platform), m_port(port), m_hungUp(hungUp) {}
    std::uint32_t Now() const override { return m_platform.Now(); }
    void Send(std::uint32_t delayMs, const std::vector<std::uint8_t>& bytes) override
    {
        m_platform.Deliver(m_port, m_platform.Now() + delayMs, bytes);
    }
    void HangUp() override { m_hungUp = true; }

private:
    SimPlatform& m_platform;
    int m_port;
    bool& m_hungUp;
};

struct SimPortState {
    SimPortState(SimPlatform& platform, int port, ISimDevice* dev) : device(dev), line(platform, port, hungUp) {}

    ISimDevice* device;
    bool hungUp = false;
    SimLineImpl line;
    bool open = false;
    int openCalls = 0;
    int failOpenErr = 0;
    bool failSettings = false;
    bool failRead = false;
    bool failWrite = false;
    bool failRts = false;
    std::uint32_t drainDelay = 0;
    std::uint32_t rtsRelease = 0;
    std::uint32_t drainedAt = 0;    // when the last write has left the adapter
    std::deque<ArrivingByte> inbox; // ascending by time
    std::vector<SimWrite> writes;
    bool rts = false;
    int rtsChanges = 0;
    std::uint32_t readCalls = 0;
    std::vector<std::uint32_t> readDurations;
    LineSettings settings{};
    Timeouts timeouts{};
    bool hasAdapter = false;
    SimAdapter adapter;
    bool lowLatency = false;
    int lowLatencyRequests = 0;
    int lowLatencyError = 0;
    bool rs485 = false;
    Rs485Settings rs485Settings{};

    // When a byte that reaches the adapter at `at` is handed to the host:
    // at the adapter's next timer tick.
    std::uint32_t Released(std::uint32_t at) const
    {
        if (!hasAdapter)
            return at;
        const std::uint32_t timer = lowLatency ? 1 : adapter.latencyTimerMs;
        return timer == 0 ? at : (at / timer + 1) * timer;
    }
};

SimPlatform::SimPlatform() = default;
SimPlatform::~SimPlatform() = default;

void SimPlatform::AddPort(int port, ISimDevice* device)
{
    Lock lock(m_mutex);
    m_ports[port] = std::make_unique<SimPortState>(*this, port, device);
}

void SimPlatform::RemovePort(int port)
{
    Lock lock(m_mutex);
    m_ports.erase(port);
}

SimPortState* SimPlatform::Port(int port) const
{
    auto it = m_ports.find(port);
    return it == m_ports.end() ? nullptr : it->second.get();
}

SimPortState* SimPlatform::ByHandle(PortHandle h)
{
    SimPortState* p = Port(static_cast<int>(h));
    if (!p || !p->open) {
        m_lastError = EBADF;
        return nullptr;
    }
    return p;
}

bool SimPlatform::Fail(int err)
{
    m_lastError = err;
    return false;
}

void SimPlatform::FailOpen(int port, int err) { Set(port, &SimPortState::failOpenErr, err); }
void SimPlatform::FailSettings(int port, bool fail) { Set(port, &SimPortState::failSettings, fail); }
void SimPlatform::FailRead(int port, bool fail) { Set(port, &SimPortState::failRead, fail); }
void SimPlatform::FailWrite(int port, bool fail) { Set(port, &SimPortState::failWrite, fail); }
void SimPlatform::FailRts(int port, bool fail) { Set(port, &SimPortState::failRts, fail); }
void SimPlatform::SetRtsRelease(int port, std::uint32_t ms) { Set(port, &SimPortState::rtsRelease, ms); }
void SimPlatform::SetDrainDelay(int port, std::uint32_t ms) { Set(port, &SimPortState::drainDelay, ms); }

void SimPlatform::SetAdapter(int port, const SimAdapter& adapter)
{
    Lock lock(m_mutex);
    Port(port)->hasAdapter = true;
    Port(port)->adapter = adapter;
}

void SimPlatform::Deliver(int port, std::uint32_t at, const std::vector<std::uint8_t>& bytes)
{
    Lock lock(m_mutex);
    SimPortState* p = Port(port);
    if (!p)
        return;
    at = p->Released(at);
    auto pos = std::upper_bound(p->inbox.begin(), p->inbox.end(), at,
                                [](std::uint32_t t, const ArrivingByte& b) { return After(b.time, t); });
    std::vector<ArrivingByte> arriving;
    for (std::uint8_t b : bytes)
        arriving.push_back({at, b});
    p->inbox.insert(pos, arriving.begin(), arriving.end());
}

std::vector<SimWrite> SimPlatform::Writes(int port) const
{
    Lock lock(m_mutex);
    return Port(port)->writes;
}

std::vector<std::uint8_t> SimPlatform::WrittenBytes(int port) const
{
    Lock lock(m_mutex);
    std::vector<std::uint8_t> all;
    for (const SimWrite& w : Port(port)->writes)
        all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    return all;
}

void SimPlatform::ClearWrites(int port)
{
    Lock lock(m_mutex);
    Port(port)->writes.clear();
}

bool SimPlatform::IsOpen(int port) const
{
    Lock lock(m_mutex);
    return Port(port) && Port(port)->open;
}

int SimPlatform::OpenCount() const
{
    Lock lock(m_mutex);
    int n = 0;
    for (const auto& [port, p] : m_ports)
        n += p->open ? 1 : 0;
    return n;
}

// One field of one port, set or read under the lock.
template <typename T>
void SimPlatform::Set(int port, T SimPortState::*field, T value)
{
    Lock lock(m_mutex);
    Port(port)->*field = value;
}

template <typename T>
T SimPlatform::Observe(int port, T SimPortState::*field) const
{
    Lock lock(m_mutex);
    return Port(port)->*field;
}

int SimPlatform::OpenCalls(int port) const { return Observe(port, &SimPortState::openCalls); }
std::uint32_t SimPlatform::ReadCalls(int port) const { return Observe(port, &SimPortState::readCalls); }
std::vector<std::uint32_t> SimPlatform::ReadDurations(int port) const
{
    return Observe(port, &SimPortState::readDurations);
}
bool SimPlatform::Rts(int port) const { return Observe(port, &SimPortState::rts); }
int SimPlatform::RtsChanges(int port) const { return Observe(port, &SimPortState::rtsChanges); }
LineSettings SimPlatform::Settings(int port) const { return Observe(port, &SimPortState::settings); }
Timeouts SimPlatform::AppliedTimeouts(int port) const { return Observe(port, &SimPortState::timeouts); }
bool SimPlatform::LowLatency(int port) const { return Observe(port, &SimPortState::lowLatency); }
int SimPlatform::LowLatencyRequests(int port) const { return Observe(port, &SimPortState::lowLatencyRequests); }
bool SimPlatform::Rs485(int port) const { return Observe(port, &SimPortState::rs485); }
Rs485Settings SimPlatform::Rs485Applied(int port) const { return Observe(port, &SimPortState::rs485Settings); }

std::size_t SimPlatform::PendingBytes(int port) const
{
    Lock lock(m_mutex);
    return Port(port)->inbox.size();
}

std::uint32_t SimPlatform::Now() const
{
    Lock lock(m_mutex);
    return m_now;
}

void SimPlatform::SetNow(std::uint32_t t)
{
    Lock lock(m_mutex);
    m_now = t;
}

void SimPlatform::Advance(std::uint32_t ms)
{
    Lock lock(m_mutex);
    m_now += ms;
}

int SimPlatform::LastError() const
{
    Lock lock(m_mutex);
    return m_lastError;
}

PortHandle SimPlatform::OpenRef(const PortRef& ref)
{
    if (ref.IsNumber())
        return OpenPort(ref.number);
    Lock lock(m_mutex);
    Fail(ENOENT);
    return kNoHandle;
}

PortHandle SimPlatform::OpenPort(int port)
{
    Lock lock(m_mutex);
    SimPortState* p = Port(port);
    if (!p) {
        Fail(ENOENT);
        return kNoHandle;
    }
    p->openCalls++;
    if (p->failOpenErr != 0) {
        Fail(p->failOpenErr);
        return kNoHandle;
    }
    if (p->open) {
        Fail(EBUSY);
        return kNoHandle;
    }
    p->open = true;
    return port;
}

bool SimPlatform::ApplyLineSettings(PortHandle h, const LineSettings& s)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    // As on a real UART: no 9-bit characters, no 1.5 stop bits.
    if (p->failSettings || s.byteSize > 8 || s.stopBits == 1)
        return Fail(EINVAL);
    p->settings = s;
    // A listener on someone else's line leaves the modem lines alone.
    if (s.listenOnly)
        return true;
    if (!p->rts)
        p->rtsChanges++;
    p->rts = true;
    return true;
}

bool SimPlatform::SetTimeouts(PortHandle h, const Timeouts& t)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    p->timeouts = t;
    return true;
}

bool SimPlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    p->readCalls++;
    const std::uint32_t start = m_now;
    const bool arrived = !p->inbox.empty() && !After(p->inbox.front().time, m_now);
    if (p->failRead || (p->hungUp && !arrived)) {
        // A failing call still costs time; without it a retry loop would
        // never see its virtual deadline pass.
        m_now += 1;
        p->readDurations.push_back(1);
        return Fail(EIO);
    }
    ReadDeadline deadline(p->timeouts, len, start);
    std::uint32_t n = 0;
    while (n < len) {
        const std::uint32_t left = deadline.Remaining(m_now);
        if (!p->inbox.empty()) {
            const std::uint32_t due = After(p->inbox.front().time, m_now) ? p->inbox.front().time - m_now : 0;
            if (due <= left) {
                m_now += due;
                buf[n++] = p->inbox.front().value;
                p->inbox.pop_front();
                deadline.Arrived(m_now);
                continue;
            }
        }
        if (left == ReadDeadline::kNoLimit) {
            // A real port would wait for ever; a test is told at once.
            p->readDurations.push_back(m_now - start);
            return Fail(EDEADLK);
        }
        m_now += left;
        break;
    }
    *got = n;
    p->readDurations.push_back(m_now - start);
    return true;
}

bool SimPlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    if (p->failWrite || p->hungUp)
        return Fail(EIO);
    // In RS-485 mode the driver raises RTS for the bytes itself.
    p->writes.push_back({m_now, std::vector<std::uint8_t>(buf, buf + len), p->rts || p->rs485});
    p->drainedAt = m_now + p->drainDelay;
    if (p->device)
        p->device->OnHostBytes(p->line, buf, len);
    return true;
}

bool SimPlatform::SetRts(PortHandle h, bool raised)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    if (p->failRts)
        return Fail(EIO);
    if (p->rts && !raised)
        m_now += p->rtsRelease;
    if (p->rts != raised)
        p->rtsChanges++;
    p->rts = raised;
    return true;
}

bool SimPlatform::DrainOutput(PortHandle h)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    // Unsigned difference: the clock may wrap.
    if (static_cast<std::int32_t>(p->drainedAt - m_now) > 0)
        m_now = p->drainedAt;
    return true;
}

bool SimPlatform::PurgeInput(PortHandle h)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    while (!p->inbox.empty() && !After(p->inbox.front().time, m_now))
        p->inbox.pop_front();
    return true;
}

bool SimPlatform::ClosePort(PortHandle h)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    p->open = false;
    // A driver keeps its low-latency flag past the close, as a real one
    // does until it is put back; RS-485 mode is undone by the close.
    p->lowLatencyError = 0;
    p->rs485 = false;
    return true;
}

bool SimPlatform::SetLowLatency(PortHandle h, bool on)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    if (!on) {
        p->lowLatency = false;
        return true;
    }
    p->lowLatencyRequests++;
    const int refusal = p->hasAdapter ? p->adapter.lowLatencyRefusal : ENOTTY;
    p->lowLatencyError = refusal;
    if (refusal != 0)
        return Fail(refusal);
    p->lowLatency = true;
    return true;
}

bool SimPlatform::SetRs485(PortHandle h, const Rs485Settings& s)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p)
        return false;
    const int refusal = p->hasAdapter ? p->adapter.rs485Refusal : ENOTTY;
    if (refusal != 0)
        return Fail(refusal);
    p->rs485 = true;
    p->rs485Settings = s;
    return true;
}

AdapterFacts SimPlatform::Adapter(PortHandle h)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    if (!p || !p->hasAdapter)
        return {};
    AdapterFacts facts;
    facts.driver = p->adapter.driver;
    facts.latencyTimerMs = p->lowLatency ? 1 : static_cast<int>(p->adapter.latencyTimerMs);
    facts.latencyTimerFile = p->adapter.latencyTimerFile;
    facts.latencyTimerKey = p->adapter.latencyTimerKey;
    facts.lowLatencyError = p->lowLatencyError;
    return facts;
}

bool SimPlatform::PortGone(PortHandle h)
{
    Lock lock(m_mutex);
    SimPortState* p = ByHandle(h);
    return p == nullptr || p->hungUp;
}

std::uint32_t SimPlatform::TickCount()
{
    Lock lock(m_mutex);
    return m_now;
}

void SimPlatform::Sleep(std::uint32_t ms)
{
    Lock lock(m_mutex);
    m_now += ms;
}

std::string SimPlatform::PortPath(int port) const
{
    Lock lock(m_mutex);
    return Port(port) ? "sim:COM" + std::to_string(port) : std::string();
}

} // namespace pelvar
