#include "tools/pelvarctl/MultiPort.h"

#include "platform/PortName.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "discovery/PortEntry.h"
#include "discovery/PortList.h"
#include "tools/pelvarctl/CtlParse.h"
#include "tools/pelvarctl/CtlRunner.h"

namespace pelvar {

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Where the --port value stands among the options before the verb; -1 if none.
// `inline` is set for the --port=VALUE form.
int PortValueIndex(const std::vector<std::string>& args, bool* inline_)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--" || a.empty() || a[0] != '-')
            return -1;
        if (a.rfind("--port=", 0) == 0) {
            *inline_ = true;
            return static_cast<int>(i);
        }
        if (a == "--port")
            return i + 1 < args.size() ? static_cast<int>(i + 1) : -1;
        if (a == "--map")
            ++i; // its file name is no option
    }
    return -1;
}

std::string PortValue(const std::vector<std::string>& args)
{
    bool inline_ = false;
    const int at = PortValueIndex(args, &inline_);
    if (at < 0)
        return {};
    return inline_ ? args[static_cast<std::size_t>(at)].substr(7) : args[static_cast<std::size_t>(at)];
}

std::vector<std::string> WithPort(std::vector<std::string> args, int port)
{
    bool inline_ = false;
    const int at = PortValueIndex(args, &inline_);
    args[static_cast<std::size_t>(at)] = (inline_ ? "--port=" : "") + std::to_string(port);
    return args;
}

// The listed ports, ascending.
std::vector<int> ListedPorts()
{
    SortedPortList list;
    FillPortList(list);
    std::set<int> ports;
    for (const std::string& entry : list.Entries()) {
        int port = 0;
        if (ReadPortEntry(entry, &port) && port >= kMinPort && port <= kMaxPort)
            ports.insert(port);
    }
    return {ports.begin(), ports.end()};
}

std::string ReadAll(std::FILE* f)
{
    std::string text;
    std::rewind(f);
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    return text;
}

// One board's run: its own output files, its own platform.
struct BoardRun {
    int port = 0;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
    int status = kExitFailed;
};

// Each line of `text` with the board's prefix; JSON objects get "port" first.
void PrintPrefixed(const std::string& text, int port, bool json, std::FILE* to)
{
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (json) {
            nlohmann::ordered_json object = nlohmann::ordered_json::parse(line, nullptr, false);
            if (object.is_object()) {
                nlohmann::ordered_json tagged = {{"port", port}};
                tagged.update(object);
                std::fprintf(to, "%s\n", tagged.dump().c_str());
                continue;
            }
        }
        std::fprintf(to, "COM%d: %s\n", port, line.c_str());
    }
}

} // namespace

bool NamesSeveralPorts(const std::vector<std::string>& args)
{
    const std::string value = PortValue(args);
    return value == "all" || value.find(',') != std::string::npos;
}

int RunOnSeveralPorts(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, IPlatform& platform)
{
    const std::string value = PortValue(args);
    std::vector<int> ports;
    std::string error;
    if (value == "all") {
        ports = ListedPorts();
    } else if (!ParsePortList(value, &ports, &error)) {
        std::fprintf(err, "pelvarctl: --port: %s\n", error.c_str());
        return kExitUsage;
    }
    // The command line is checked once, before any board is touched.
    const ParsedCommandLine parsed = ParseCommandLine(WithPort(args, ports.empty() ? 1 : ports.front()));
    if (!parsed.ok) {
        std::fprintf(err, "pelvarctl: %s\n", parsed.error.c_str());
        return kExitUsage;
    }
    const Verb verb = parsed.command.verb;
    if (verb == Verb::Run && parsed.command.file == "-") {
        std::fprintf(err, "pelvarctl: run -: standard input can feed one board only; give the script as a file\n");
        return kExitUsage;
    }
    if (verb == Verb::Help || verb == Verb::Version || verb == Verb::Ports || verb == Verb::PresetSave)
        return RunPelvarctl(WithPort(args, ports.empty() ? 1 : ports.front()), out, err, platform);
    if (ports.empty()) {
        std::fprintf(err, "pelvarctl: no serial port to try (see pelvarctl ports)\n");
        return kExitFailed;
    }

    std::vector<BoardRun> runs(ports.size());
    const bool parallel = &platform == &DefaultPlatform();
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        BoardRun& run = runs[i];
        run.port = ports[i];
        run.out = std::tmpfile();
        run.err = std::tmpfile();
        if (!run.out || !run.err) {
            std::fprintf(err, "pelvarctl: COM%d: no temporary file for its output: %s\n", run.port,
                         std::strerror(errno));
            continue;
        }
        auto one = [&run, &args, parallel, &platform] {
            std::unique_ptr<IPlatform> own = parallel ? NewPlatform() : nullptr;
            run.status = RunPelvarctl(WithPort(args, run.port), run.out, run.err, own ? *own : platform);
        };
        if (parallel)
            threads.emplace_back(one);
        else
            one();
    }
    for (std::thread& t : threads)
        t.join();

    int worst = 0;
    for (BoardRun& run : runs) {
        if (run.out && run.err) {
            PrintPrefixed(ReadAll(run.out), run.port, parsed.options.json, out);
            PrintPrefixed(ReadAll(run.err), run.port, false, err);
        }
        if (run.out)
            std::fclose(run.out);
        if (run.err)
            std::fclose(run.err);
        worst = std::max(worst, run.status);
    }
    std::fflush(out);
    std::fflush(err);
    return worst;
}

} // namespace pelvar
