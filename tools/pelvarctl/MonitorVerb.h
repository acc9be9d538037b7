// `pelvarctl monitor --port N`: listens to a line that someone else drives,
// through a receive-only adapter that hears both directions, and prints one
// decoded line per exchange until Ctrl-C.
#pragma once

#include <cstdio>
#include <string>

#include "platform/PortRef.h"

namespace pelvar {

class IPlatform;

struct MonitorOptions {
    PortRef port;
    bool json = false;       // one JSON object per line and event
    std::string capture;     // pcapng of the frames heard; empty: none
    bool stopAtLoss = false; // end when the port goes away instead of waiting for it
};

// 0 after Ctrl-C (or SIGTERM); 1 when the port cannot be opened, or went
// away (it is opened again when it comes back, unless stopAtLoss).
int RunMonitorVerb(const MonitorOptions& options, std::FILE* out, std::FILE* err, IPlatform& platform);

} // namespace pelvar
