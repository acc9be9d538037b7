// Wall and CPU time of the link's exchanges on a real pseudo-terminal with a
// simulated board, against the figures the exchanges are designed to take.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"

using namespace pelvar;

namespace {

using Clock = std::chrono::steady_clock;

double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

struct Sample {
    double wallMs;
    double cpuMs;
};

template <typename Fn>
Sample Median(int runs, Fn fn)
{
    std::vector<Sample> samples;
    for (int i = 0; i < runs; ++i) {
        double cpu0 = CpuMs();
        auto t0 = Clock::now();
        fn();
        double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        samples.push_back({wall, CpuMs() - cpu0});
    }
    std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.wallMs < b.wallMs; });
    return samples[samples.size() / 2];
}

struct Row {
    const char* name;
    double figureMs; // 0: no figure, a target in ms instead
    double targetMs;
    Sample sample;
};

Sample Measure(int port, const SimBoardOptions& options, int runs, bool query)
{
    PtyBoardOptions o;
    o.port = port;
    o.board = options;
    PtyBoard board(o);
    if (board.Start() != 0) {
        std::fprintf(stderr, "board: %s\n", board.ErrorText().c_str());
        std::exit(1);
    }
    PosixPlatform posix;
    CFrameLink link(port, 115200, posix);
    if (link.Open() != LINK_OK) {
        std::fprintf(stderr, "cannot open COM%d\n", port);
        std::exit(1);
    }
    Sample s = Median(runs, [&] {
        if (query)
            QueryStatus(link);
        else
            link.Transact(CMD_EDGE, nullptr, 0);
    });
    link.Close();
    board.Stop();
    return s;
}

} // namespace

int main()
{
    char dir[] = "/tmp/pelvar-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv("PELVAR_PORTS_DIR", dir, 1);

    SimBoardOptions nineByteAck;
    SimBoardOptions oneByteAck;
    oneByteAck.ackBytes = 1;
    SimBoardOptions silent;
    silent.silent = true;

    std::vector<Row> rows = {
        {"status query", 0, 5, Measure(210, nineByteAck, 50, true)},
        {"transaction, 9-byte ack", 0, 20, Measure(211, nineByteAck, 50, false)},
        {"transaction, 6-byte ack", 260, 0, Measure(212, oneByteAck, 7, false)},
        {"transaction, silent board", 3072, 0, Measure(213, silent, 3, false)},
    };
    rmdir(dir);

    std::printf("%-28s %10s %10s %8s %10s %8s\n", "exchange", "wall ms", "figure ms", "ratio", "cpu ms", "cpu %");
    for (const Row& r : rows) {
        double ratio = r.figureMs > 0 ? r.sample.wallMs / r.figureMs : r.sample.wallMs / r.targetMs;
        std::printf("%-28s %10.2f %10s %8.3f %10.2f %8.2f\n", r.name, r.sample.wallMs,
                    r.figureMs > 0 ? std::to_string(static_cast<int>(r.figureMs)).c_str()
                                   : ("<" + std::to_string(static_cast<int>(r.targetMs))).c_str(),
                    ratio, r.sample.cpuMs, 100.0 * r.sample.cpuMs / r.sample.wallMs);
    }
    return 0;
}
