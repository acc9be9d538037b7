// The start-up benchmark's marks (bench/win/startup-wine.sh): a line on
// standard output with the wall time of a moment, so that the first paint
// and the exit of a process can be told apart from outside.
#pragma once

namespace pelvar {

// Prints "NAME MICROSECONDS" (µs since 1970, the clock the benchmark's
// driver reads under wine) and flushes it.
void PrintStartupMark(const char* name);

} // namespace pelvar
