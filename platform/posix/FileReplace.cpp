#include "platform/FileReplace.h"

#include <cerrno>
#include <cstdio>

namespace pelvar {

int ReplaceFileWith(const char* finished, const char* target) { return std::rename(finished, target) == 0 ? 0 : errno; }

} // namespace pelvar
