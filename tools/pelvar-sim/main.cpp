// pelvar-sim: plays the camera board on a pseudo-terminal attached as COMn,
// until SIGINT or SIGTERM.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/signalfd.h>
#include <unistd.h>

#include "platform/posix/PortNames.h"
#include "sim/PtyBoard.h"

namespace {

constexpr std::uint32_t kMaxDelayMs = 600000;

const char kUsage[] =
    "usage: pelvar-sim [options]\n"
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

bool ParseNumber(const std::string& text, std::uint32_t min, std::uint32_t max,
                 std::uint32_t* out) {
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

int UsageError(const std::string& message) {
    std::fprintf(stderr, "pelvar-sim: %s\n(see pelvar-sim --help)\n", message.c_str());
    return 2;
}

bool IsValueOption(const std::string& name) {
    return name == "--com" || name == "--sensor" || name == "--ack-bytes" ||
           name == "--delay-ms" || name == "--drop-every" || name == "--hangup-after";
}

// Sets a flag option; false when `name` is none.
bool ApplyFlag(const std::string& name, Settings* s) {
    pelvar::SimBoardOptions& b = s->pty.board;
    if (name == "--silent") b.silent = true;
    else if (name == "--nak") b.nak = true;
    else if (name == "--garbage") b.garbage = true;
    else if (name == "--corrupt") b.corrupt = true;
    else if (name == "--trace") s->trace = true;
    else if (name == "--state") s->state = true;
    else return false;
    return true;
}

bool ApplyValue(const std::string& name, const std::string& value, Settings* s) {
    pelvar::SimBoardOptions& b = s->pty.board;
    std::uint32_t n = 0;
    if (name == "--sensor")
        return pelvar::ParseSensorKind(value, &b.sensor);
    if (name == "--com") {
        if (!ParseNumber(value, pelvar::kMinPort, pelvar::kMaxPort, &n))
            return false;
        s->pty.port = static_cast<int>(n);
        return true;
    }
    if (name == "--ack-bytes")
        return ParseNumber(value, 1, 4, &b.ackBytes);
    if (name == "--delay-ms")
        return ParseNumber(value, 0, kMaxDelayMs, &b.delayMs);
    if (name == "--drop-every")
        return ParseNumber(value, 1, UINT32_MAX, &b.dropEvery);
    return ParseNumber(value, 1, UINT32_MAX, &b.hangupAfter);   // --hangup-after
}

// -1: go on; otherwise the exit status.
int ParseArgs(int argc, char** argv, Settings* s) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (name == "--version") {
            std::printf("pelvar-sim %s\n", PELVAR_VERSION);
            return 0;
        }
        if (!hasValue && ApplyFlag(name, s))
            continue;
        if (!IsValueOption(name))
            return UsageError("unknown option " + std::string(argv[i]));
        if (!hasValue) {
            if (i + 1 >= argc)
                return UsageError(name + " needs a value");
            value = argv[++i];
        }
        if (!ApplyValue(name, value, s))
            return UsageError("bad value for " + name + ": " + value);
    }
    return -1;
}

// SIGINT, SIGTERM and SIGHUP arrive through a descriptor, so nothing runs in
// a handler. Blocked before the board's thread starts, which inherits the mask.
int BlockStopSignals(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
    sigaddset(set, SIGHUP);
    if (sigprocmask(SIG_BLOCK, set, nullptr) != 0)
        return -1;
    return signalfd(-1, set, SFD_CLOEXEC);
}

void WaitForSignal(int fd) {
    signalfd_siginfo info{};
    while (read(fd, &info, sizeof info) < 0 && errno == EINTR) {
    }
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    const int parsed = ParseArgs(argc, argv, &settings);
    if (parsed >= 0)
        return parsed;

    std::signal(SIGPIPE, SIG_IGN);   // a closed stdout must not skip the clean-up
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
    std::printf("%s %s (link %s)\n", board.PortName().c_str(), board.SlavePath().c_str(),
                board.LinkPath().c_str());
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
