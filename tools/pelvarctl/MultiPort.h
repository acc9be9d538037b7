// --port all and --port 7,8,9: the verb on several boards at once, each on
// a thread and a platform of its own with its own output, printed in port
// order ("COM7: " before each line, or "port" in each JSON object). The
// exit status is the worst of them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tools/pelvarctl/CtlOutput.h"
#include "tools/pelvarctl/CtlRunner.h"

namespace pelvar {

// The boards --port names: every listed port for "all", else the list.
std::vector<PortRef> BoardPorts(const CtlOptions& options);

// The verb on board `port` (the `index`th of the list) with its own output,
// standard error and platform; returns its exit status.
using BoardRun =
    std::function<int(const PortRef& port, std::uint32_t index, CtlOutput& out, std::FILE* err, IPlatform& platform)>;

// `run` on every board of `ports`, then each board's output and standard
// error in port order; returns the worst exit status. With `makePlatform`
// the boards run at once, each on a platform of its own; without it (the
// simulated platform of tests, not shared by threads) one after another on
// `platform`.
int RunOnEveryBoard(const std::vector<PortRef>& ports, bool json, std::FILE* out, std::FILE* err, IPlatform& platform,
                    PlatformMaker makePlatform, const BoardRun& run);

} // namespace pelvar
