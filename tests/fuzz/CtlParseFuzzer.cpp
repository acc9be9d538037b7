// pelvarctl's command line and script lines, fed arbitrary words.
//
// Split at NUL bytes the input is an argument vector; split at line breaks
// it is a script. Whatever comes in, the parser neither throws nor accepts
// a command that the verbs could not carry out as parsed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "link/FrameLink.h"
#include "tools/pelvarctl/CtlParse.h"

namespace {

using namespace pelvar;

using fuzz::Broken;
using fuzz::Check;

std::vector<std::string> Split(const std::string& text, char at)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = text.find(at, from);
        parts.push_back(text.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos)
            return parts;
        from = end + 1;
    }
}

void CheckCommand(const CtlCommand& c)
{
    Check(c.payload.size() <= kMaxPayload, "payload fits one frame");
    if (c.verb == Verb::Set)
        Check(c.value >= 0 && c.value <= 255, "adjustment value 0..255");
    if (c.verb == Verb::Press)
        Check(c.controlId != 0, "press names a button");
}

void CheckCommandLine(const std::vector<std::string>& args)
{
    const ParsedCommandLine p = ParseCommandLine(args);
    Check(p.ok == p.error.empty(), "an error text exactly when refused");
    if (!p.ok)
        return;
    Check(p.options.port >= 0 && p.options.port <= 255, "port 0..255");
    CheckCommand(p.command);
}

void CheckScript(const std::string& text)
{
    for (const std::string& line : Split(text, '\n')) {
        const ParsedScriptLine p = ParseScriptLine(line);
        Check(p.ok == p.error.empty(), "an error text exactly when refused");
        if (!p.ok || p.skip)
            continue;
        Check(p.command.verb != Verb::Run && p.command.verb != Verb::Ports && p.command.verb != Verb::Connect,
              "a script holds no run, ports or connect");
        CheckCommand(p.command);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckCommandLine(Split(text, '\0'));
    CheckScript(text);
    return 0;
}
