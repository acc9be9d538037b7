// From an adapter's return to the first frame at the board, on Linux: the
// panel's worker is connected to pelvar-sim's board on a pseudo-terminal in
// a port directory; the board hangs up and its entry goes; a new board comes
// back under the same COM number. Timed from just before the new entry is
// made to the first frame the board receives, with the arrival events
// (udev, inotify on the port directory) and with the 500 ms look alone.
// Run: build/bench/discovery/reconnect_bench [ROUNDS]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "camera/CameraWorker.h"
#include "camera/StatusText.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"
#include "tests/support/FakeView.h"

using namespace pelvar;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPort = 220;

double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Runs the worker's outcome into the view until `status` shows; false after 5 s.
bool WaitForStatus(CameraWorker& worker, test::FakeView& view, const std::string& status)
{
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end) {
        worker.DrainUi();
        if (view.LastStatus() == status)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// One return; a negative time when something did not happen.
double OneReturn(const std::string& dir, bool events)
{
    PtyBoardOptions options;
    options.port = kPort;
    options.portsDir = dir;
    PtyBoard first(options);
    if (first.Start() != 0)
        return -1;
    test::FakeView view;
    PosixPlatform posix;
    CameraWorker worker(view, posix, ListerFor(MachinePortListFiller()), nullptr, [] {});
    if (events && !worker.WatchMachineArrivals())
        return -2;
    worker.Connect();
    if (!WaitForStatus(worker, view, ConnectedText(kPort, "ARVEN-L")))
        return -3;
    first.Stop();
    if (!WaitForStatus(worker, view, kStatusUnplugged))
        return -4;

    PtyBoard back(options);
    std::atomic<bool> received{false};
    Clock::time_point at;
    back.SetTrace([&](const BoardTraceEvent& e) {
        if (e.kind == BoardTraceKind::Received && !received.exchange(true))
            at = Clock::now();
    });
    const auto start = Clock::now();
    if (back.Start() != 0)
        return -5;
    if (!WaitForStatus(worker, view, ReconnectedText(kPort)) || !received)
        return -6;
    return MsBetween(start, at);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    char pattern[] = "/tmp/pelvar-reconnect-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("reconnect_bench: mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    setenv("PELVAR_PORTS_DIR", dir.c_str(), 1);
    std::printf("| wake-up | rounds | median | min | max |\n|---|---|---|---|---|\n");
    for (const bool events : {true, false}) {
        std::vector<double> times;
        for (int i = 0; i < rounds; ++i) {
            const double ms = OneReturn(dir, events);
            if (ms < 0) {
                std::fprintf(stderr, "reconnect_bench: round failed (%g)\n", ms);
                rmdir(dir.c_str());
                return 1;
            }
            times.push_back(ms);
        }
        std::sort(times.begin(), times.end());
        std::printf("| %s | %d | %.1f ms | %.1f ms | %.1f ms |\n", events ? "arrival events" : "500 ms look alone",
                    rounds, times[times.size() / 2], times.front(), times.back());
    }
    rmdir(dir.c_str());
    return 0;
}
