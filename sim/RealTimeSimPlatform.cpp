#include "sim/RealTimeSimPlatform.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace pelvar {

RealTimeSimPlatform::RealTimeSimPlatform() : m_origin(std::chrono::steady_clock::now()) {}

std::uint32_t RealTimeSimPlatform::Elapsed() const
{
    const auto since = std::chrono::steady_clock::now() - m_origin;
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void RealTimeSimPlatform::CatchUp()
{
    std::lock_guard<std::recursive_mutex> lock(Mutex());
    SetNow(std::max(Now(), Elapsed()));
}

void RealTimeSimPlatform::WaitForLine()
{
    const std::uint32_t elapsed = Elapsed();
    if (Now() > elapsed)
        std::this_thread::sleep_for(std::chrono::milliseconds(Now() - elapsed));
}

PortHandle RealTimeSimPlatform::OpenPort(int port)
{
    CatchUp();
    return SimPlatform::OpenPort(port);
}

// The simulated read knows at once when its bytes arrive or its time-outs
// end; the caller is held until then, as a real read would hold it.
bool RealTimeSimPlatform::Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got)
{
    CatchUp();
    const bool ok = SimPlatform::Read(h, buf, len, got);
    WaitForLine();
    return ok;
}

bool RealTimeSimPlatform::Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len)
{
    CatchUp();
    return SimPlatform::Write(h, buf, len);
}

bool RealTimeSimPlatform::PurgeInput(PortHandle h)
{
    CatchUp();
    return SimPlatform::PurgeInput(h);
}

std::uint32_t RealTimeSimPlatform::TickCount()
{
    CatchUp();
    return Now();
}

void RealTimeSimPlatform::Sleep(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    CatchUp();
}

} // namespace pelvar
