// A finished file moved over the one it replaces in one step, so a reader
// sees the old file or the new one, never half of one. POSIX's rename does
// this; Windows' C library refuses when the target exists.
#pragma once

namespace pelvar {

// 0, or the errno value of the failure.
int ReplaceFileWith(const char* finished, const char* target);

} // namespace pelvar
