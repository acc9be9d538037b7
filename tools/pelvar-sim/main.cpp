// pelvar-sim: plays the camera board on a pseudo-terminal attached as COMn,
// until SIGINT or SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <getopt.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/posix/PortNames.h"
#include "sim/PtyBoard.h"

namespace {

constexpr std::uint32_t kMaxDelayMs = 600000;

const char kUsage[] = "usage: pelvar-sim [options]\n"
                      "Plays the camera board on a pseudo-terminal, linked as COMn in the port\n"
                      "directory ($PELVAR_PORTS_DIR, else $XDG_RUNTIME_DIR/pelvar/ports).\n"
                      "\n"
                      "  --com N            port number, 1..255 (default 200)\n"
                      "  --sensor L|S|none  sensor the board reports (default L)\n"
                      "  --ack-bytes N      payload bytes of an acknowledge, 1..4 (default 4)\n"
                      "  --silent           never answer\n"
                      "  --nak              refuse every command that expects an acknowledge\n"
                      "  --delay-ms N       wait N ms before each reply\n"
                      "  --drop-every N     do not answer every Nth frame\n"
                      "  --garbage          send a stray byte before each reply\n"
                      "  --corrupt          send replies with a wrong checksum\n"
                      "  --hangup-after N   close the line after answering N frames\n"
                      "  --trace            print each frame received and sent\n"
                      "  --state            print the board state on exit\n"
                      "  --help             this text\n"
                      "  --version          program version\n";

struct Settings {
    pelvar::PtyBoardOptions pty;
    bool trace = false;
    bool state = false;
};

bool ParseNumber(const std::string& text, std::uint32_t min, std::uint32_t max, std::uint32_t* out)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    *out = static_cast<std::uint32_t>(v);
    return true;
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "pelvar-sim: %s\n(see pelvar-sim --help)\n", message.c_str());
    return 2;
}

enum OptionId : int {
    kCom = 256,
    kSensor,
    kAckBytes,
    kSilent,
    kNak,
    kDelayMs,
    kDropEvery,
    kGarbage,
    kCorrupt,
    kHangupAfter,
    kTrace,
    kState,
    kVersion,
};

constexpr option kLongOptions[] = {
    {"com", required_argument, nullptr, kCom},
    {"sensor", required_argument, nullptr, kSensor},
    {"ack-bytes", required_argument, nullptr, kAckBytes},
    {"silent", no_argument, nullptr, kSilent},
    {"nak", no_argument, nullptr, kNak},
    {"delay-ms", required_argument, nullptr, kDelayMs},
    {"drop-every", required_argument, nullptr, kDropEvery},
    {"garbage", no_argument, nullptr, kGarbage},
    {"corrupt", no_argument, nullptr, kCorrupt},
    {"hangup-after", required_argument, nullptr, kHangupAfter},
    {"trace", no_argument, nullptr, kTrace},
    {"state", no_argument, nullptr, kState},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// Sets one option; false when its value is refused.
bool ApplyOption(int id, const char* value, Settings* s)
{
    pelvar::SimBoardOptions& b = s->pty.board;
    std::uint32_t n = 0;
    switch (id) {
    case kSilent: b.silent = true; return true;
    case kNak: b.nak = true; return true;
    case kGarbage: b.garbage = true; return true;
    case kCorrupt: b.corrupt = true; return true;
    case kTrace: s->trace = true; return true;
    case kState: s->state = true; return true;
    case kSensor: return pelvar::ParseSensorKind(value, &b.sensor);
    case kAckBytes: return ParseNumber(value, 1, 4, &b.ackBytes);
    case kDelayMs: return ParseNumber(value, 0, kMaxDelayMs, &b.delayMs);
    case kDropEvery: return ParseNumber(value, 1, UINT32_MAX, &b.dropEvery);
    case kHangupAfter: return ParseNumber(value, 1, UINT32_MAX, &b.hangupAfter);
    case kCom:
        if (!ParseNumber(value, pelvar::kMinPort, pelvar::kMaxPort, &n))
            return false;
        s->pty.port = static_cast<int>(n);
        return true;
    default: return false;
    }
}

// -1: go on; otherwise the exit status.
int ParseArgs(int argc, char** argv, Settings* s)
{
    opterr = 0;
    int index = 0;
    for (int id; (id = getopt_long(argc, argv, ":h", kLongOptions, &index)) != -1;) {
        const std::string given = argv[optind - 1];
        if (id == 'h') {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (id == kVersion) {
            std::printf("pelvar-sim %s\n", PELVAR_VERSION);
            return 0;
        }
        if (id == ':')
            return UsageError(given + " needs a value");
        if (id == '?')
            return UsageError("unknown option " + given);
        if (!ApplyOption(id, optarg, s))
            return UsageError(std::string("bad value for --") + kLongOptions[index].name + ": " + optarg);
    }
    if (optind < argc)
        return UsageError("unexpected argument " + std::string(argv[optind]));
    return -1;
}

// SIGINT, SIGTERM and SIGHUP arrive through a descriptor, so nothing runs in
// a handler. Blocked before the board's thread starts, which inherits the mask.
int BlockStopSignals(sigset_t* set)
{
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
    sigaddset(set, SIGHUP);
    if (sigprocmask(SIG_BLOCK, set, nullptr) != 0)
        return -1;
    return signalfd(-1, set, SFD_CLOEXEC);
}

void WaitForSignal(int fd)
{
    signalfd_siginfo info{};
    while (read(fd, &info, sizeof info) < 0 && errno == EINTR) {}
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    const int parsed = ParseArgs(argc, argv, &settings);
    if (parsed >= 0)
        return parsed;

    std::signal(SIGPIPE, SIG_IGN); // a closed stdout must not skip the clean-up
    sigset_t set;
    const int sigfd = BlockStopSignals(&set);
    if (sigfd < 0) {
        std::fprintf(stderr, "pelvar-sim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    pelvar::PtyBoard board(settings.pty);
    if (settings.trace) {
        board.SetTrace([](const pelvar::BoardTraceEvent& event) {
            std::printf("%s\n", pelvar::FormatTraceEvent(event).c_str());
            std::fflush(stdout);
        });
    }
    if (board.Open() != 0) {
        std::fprintf(stderr, "pelvar-sim: %s\n", board.ErrorText().c_str());
        return 1;
    }
    std::printf("%s %s (link %s)\n", board.PortName().c_str(), board.SlavePath().c_str(), board.LinkPath().c_str());
    std::fflush(stdout);
    if (board.Start() != 0) {
        std::fprintf(stderr, "pelvar-sim: %s\n", board.ErrorText().c_str());
        return 1;
    }

    WaitForSignal(sigfd);
    board.Stop();
    close(sigfd);
    if (settings.state) {
        std::fputs(board.StateText().c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
