// pelvarctl's verbs on the camera logic, with the terminal as the panel.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace pelvar {

// Runs pelvarctl with `args` (without the program name); returns the exit
// status: 0 success, 1 the board did not answer or refused, 2 usage error.
int RunPelvarctl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                 IPlatform& platform = DefaultPlatform());

} // namespace pelvar
