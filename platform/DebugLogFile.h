// The link's debug log: created empty (or truncated) in the working
// directory, never through a symbolic link, never inherited by a child.
#pragma once

#include <cstdio>

namespace pelvar {

// The regular file `name`, created or truncated empty and open for writing;
// null when it cannot be, when `name` is a symbolic link (left alone) or not
// a regular file.
std::FILE* CreateEmptyLogFile(const char* name);

} // namespace pelvar
