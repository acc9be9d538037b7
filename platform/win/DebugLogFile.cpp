#include "platform/DebugLogFile.h"

namespace pelvar {

std::FILE* CreateEmptyLogFile(const char* name)
{
    // "N": not inherited by child processes.
    return std::fopen(name, "wN");
}

} // namespace pelvar
