// pelvarctl's command line and script lines, fed arbitrary words.
//
// Split at NUL bytes the input is an argument vector; split at line breaks
// it is a script; whole, it is a register map and a preset file. Whatever
// comes in, the parsers neither throw nor accept what the verbs could not
// carry out as parsed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "camera/Preset.h"
#include "camera/RegisterMap.h"
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

bool IsRegisterText(const std::string& text)
{
    std::string ignored;
    return CheckRegisterText(text, &ignored);
}

void CheckAdjustments(const Adjustments& a)
{
    for (std::int32_t v : {a.brightness, a.contrast, a.red, a.green, a.blue})
        Check(v >= 0 && v <= 255, "preset adjustment 0..255");
}

void CheckRegisterVerb(const CtlCommand& c)
{
    std::uint16_t word = 0;
    switch (c.verb) {
    case Verb::RegRead:
    case Verb::RegWatch:
        Check(IsRegisterText(c.address), "a register reference of the accepted form");
        Check(c.intervalMs >= 1 && c.intervalMs <= kMaxSleepMs, "watch interval 1..3600000 ms");
        break;
    case Verb::RegWrite:
    case Verb::RegExpect:
        Check(IsRegisterText(c.address), "a register reference of the accepted form");
        Check((ParseHex16(c.content, &word) && word == c.word)
                  || (c.address.find('.') != std::string::npos && IsRegisterText(c.content)
                      && c.content.find('.') == std::string::npos),
              "the value is the 16-bit number typed, or a name of a field's value for the map to look up");
        break;
    case Verb::RegDump:
        for (const std::string& r : c.registers)
            Check(IsRegisterText(r), "dump names registers of the accepted form");
        break;
    case Verb::Sleep: Check(c.sleepMs <= kMaxSleepMs, "sleep at most an hour"); break;
    case Verb::PresetSave:
        CheckAdjustments(c.preset.adjust);
        for (const PresetRegisterWrite& w : c.preset.writes)
            Check(IsRegisterText(w.reg), "preset writes name registers of the accepted form");
        break;
    default: break;
    }
}

void CheckCommand(const CtlCommand& c)
{
    Check(c.payload.size() <= kMaxPayload, "payload fits one frame");
    if (c.verb == Verb::Set)
        Check(c.value >= 0 && c.value <= 255, "adjustment value 0..255");
    if (c.verb == Verb::Press)
        Check(c.cmd != 0, "press names a button");
    CheckRegisterVerb(c);
}

// A map that is taken holds distinct names and addresses, fields within
// their registers, and names that resolve to themselves.
void CheckMap(const std::string& text, const std::vector<std::string>& words)
{
    RegisterMap map;
    std::string error;
    const bool ok = ParseRegisterMap(text, "fuzz.json", &map, &error);
    Check(ok == error.empty(), "an error text exactly when refused");
    Check(error.find('\n') == std::string::npos, "the complaint is one line");
    for (std::size_t i = 0; i < map.Registers().size(); ++i) {
        const RegisterInfo& r = map.Registers()[i];
        Check(i == 0 || map.Registers()[i - 1].address < r.address, "addresses distinct, in order");
        Check(r.width >= 1 && r.width <= 16, "width 1..16");
        for (const RegisterField& f : r.fields) {
            Check(f.width >= 1 && f.lsb + f.width <= r.width, "a field fits its register");
            for (const auto& [name, value] : f.values) {
                std::uint16_t encoded = 0xFFFF;
                Check(EncodeFieldValue(f, name, &encoded, &error) && encoded == value, "a value's name encodes it");
                Check(f.ValueName(value) && *f.ValueName(value) == name, "a value decodes to its name");
            }
        }
        Check((r.W1cMask() & ~((1u << r.width) - 1)) == 0, "w1c bits within the register");
        RegisterTarget t;
        Check(ResolveRegister(map, r.name, &t, &error) && t.reg == &r, "a register's name finds it");
    }
    for (const std::string& w : words) {
        RegisterTarget t;
        if (ResolveRegister(map, w, &t, &error))
            Check(!t.field || t.reg, "a field belongs to a register");
    }
}

void CheckPreset(const std::string& text)
{
    Preset preset;
    std::string error;
    if (ParsePreset(text, "fuzz.json", &preset, &error))
        CheckAdjustments(preset.adjust);
    else
        Check(!error.empty() && error.find('\n') == std::string::npos, "one line when refused");
}

void CheckCommandLine(const std::vector<std::string>& args)
{
    const ParsedCommandLine p = ParseCommandLine(args);
    Check(p.ok == p.error.empty(), "an error text exactly when refused");
    if (!p.ok)
        return;
    const PortRef& port = p.options.port;
    Check(!port.IsNumber() || (port.number >= 1 && port.number <= 255), "a port number 1..255");
    Check(port.IsNumber() || port.name.find('\0') == std::string::npos, "a port name holds no NUL");
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
    const std::vector<std::string> words = Split(text, '\0');
    CheckCommandLine(words);
    CheckScript(text);
    CheckMap(text, words);
    CheckPreset(text);
    return 0;
}
