#include "tools/pelvarctl/MultiPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

#include "discovery/PortEntry.h"
#include "discovery/PortList.h"

namespace pelvar {

namespace {

constexpr int kExitFailed = 1;

std::string ReadAll(std::FILE* f)
{
    std::string text;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    return text;
}

// One board's run: its own output and standard error.
struct Board {
    Board(const PortRef& port_, bool json) : port(port_), out(port_, json) {}
    ~Board()
    {
        if (err)
            std::fclose(err);
    }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    PortRef port;
    CtlOutput out;
    std::FILE* err = nullptr;
    int status = kExitFailed;
};

} // namespace

std::vector<PortRef> BoardPorts(const CtlOptions& options) { return options.allPorts ? AllPortsToTry() : options.ports; }

int RunOnEveryBoard(const std::vector<PortRef>& ports, bool json, std::FILE* out, std::FILE* err, IPlatform& platform,
                    PlatformMaker makePlatform, const BoardRun& run)
{
    std::vector<std::unique_ptr<Board>> boards;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        boards.push_back(std::make_unique<Board>(ports[i], json));
        Board& board = *boards.back();
        // Standard error stays a file: the verbs and the trace write to it as they go.
        board.err = std::tmpfile();
        if (!board.err) {
            std::fprintf(err, "pelvarctl: %s: no temporary file for its output: %s\n", board.port.Text().c_str(),
                         std::strerror(errno));
            continue;
        }
        const auto index = static_cast<std::uint32_t>(i);
        auto one = [&board, &run, &platform, makePlatform, index] {
            std::unique_ptr<IPlatform> own = makePlatform ? makePlatform() : nullptr;
            board.status = run(board.port, index, board.out, board.err, own ? *own : platform);
        };
        if (makePlatform)
            threads.emplace_back(one);
        else
            one();
    }
    for (std::thread& t : threads)
        t.join();

    int worst = 0;
    for (const auto& board : boards) {
        const std::string& kept = board->out.Kept();
        std::fwrite(kept.data(), 1, kept.size(), out);
        if (board->err) {
            const std::string said = PrefixLines(ReadAll(board->err), board->port);
            std::fwrite(said.data(), 1, said.size(), err);
        }
        worst = std::max(worst, board->status);
    }
    std::fflush(out);
    std::fflush(err);
    return worst;
}

} // namespace pelvar
