// pelvarctl's verbs on the camera logic, with the terminal as the panel.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace pelvar {

// Makes the platform of one board of several; the boards then run at once.
using PlatformMaker = std::unique_ptr<IPlatform> (*)();

// Runs pelvarctl with `args` (without the program name); returns the exit
// status: 0 success, 1 the board did not answer or refused, 2 usage error.
// The boards of --port all|LIST run at once, each on a platform from
// `boardPlatform`; without it one after another on `platform`.
int RunPelvarctl(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                 IPlatform& platform = DefaultPlatform(), PlatformMaker boardPlatform = nullptr);

} // namespace pelvar
