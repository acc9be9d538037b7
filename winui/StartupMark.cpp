#include "winui/StartupMark.h"

#include <windows.h>

#include <cstdio>

namespace pelvar {

void PrintStartupMark(const char* name)
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns steps since 1601.
    constexpr unsigned long long kUnixEpochTicks = 116444736000000000ULL;
    std::printf("%s %llu\n", name, (ticks - kUnixEpochTicks) / 10);
    std::fflush(stdout);
}

} // namespace pelvar
