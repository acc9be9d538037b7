// An invariant a fuzz target asserts: a broken one aborts, so libFuzzer
// keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace pelvar::fuzz {

[[noreturn]] inline void Broken(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

inline void Check(bool holds, const char* what)
{
    if (!holds)
        Broken(what);
}

} // namespace pelvar::fuzz
