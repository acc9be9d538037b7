// Wall-clock measurements for the tests that run in real time.
#pragma once

#include <chrono>

namespace pelvar::test {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

} // namespace pelvar::test
