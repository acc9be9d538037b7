// --port all and --port 7,8,9: the verb on several boards at once, each on
// a thread and a platform of its own, the output gathered per board and
// printed in port order ("COM7: " before each line, or "port" in each JSON
// object). The exit status is the worst of them.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace pelvar {

// Whether --port names several boards ("all", or numbers with commas).
bool NamesSeveralPorts(const std::vector<std::string>& args);

// Runs the command line on every board it names; returns the exit status.
// On the default platform the boards run in parallel; on any other (the
// simulated one of tests) one after another, as it is not shared by threads.
int RunOnSeveralPorts(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, IPlatform& platform);

} // namespace pelvar
