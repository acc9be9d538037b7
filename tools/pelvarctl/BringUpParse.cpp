#include "tools/pelvarctl/BringUpParse.h"

#include <cctype>

#include "camera/ControlTable.h"
#include "camera/RegisterMap.h"

namespace pelvar {

namespace {

using Args = std::vector<std::string>;

constexpr std::uint32_t kMaxWatchCount = 1000000000;

bool Fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

// Decimal 1..limit (0..limit with `zero`), at most 10 digits.
bool ParseCount(const std::string& s, std::uint32_t limit, bool zero, std::uint32_t* out)
{
    if (s.empty() || s.size() > 10)
        return false;
    std::uint64_t v = 0;
    for (unsigned char ch : s) {
        if (!std::isdigit(ch))
            return false;
        v = v * 10 + (ch - '0');
    }
    if (v > limit || (!zero && v == 0))
        return false;
    *out = static_cast<std::uint32_t>(v);
    return true;
}

bool IsNameStart(char ch) { return std::isalpha(static_cast<unsigned char>(ch)) || ch == '_'; }

bool IsNameWord(const std::string& s)
{
    if (s.empty() || !IsNameStart(s[0]))
        return false;
    for (unsigned char ch : s) {
        if (!std::isalnum(ch) && ch != '_')
            return false;
    }
    return true;
}

bool CheckAddress(const std::string& verb, const std::string& text, std::string* error)
{
    if (CheckRegisterText(text, error))
        return true;
    *error = verb + ": " + *error;
    return false;
}

bool ParseValue(const std::string& verb, const std::string& text, std::uint16_t* value, std::string* error)
{
    if (ParseHex16(text, value))
        return true;
    return Fail(error, verb + ": value '" + text + "' is not a hexadecimal number from 0 to 0xFFFF");
}

// A field's value may be one of its names, which only the map knows.
bool ParseFieldValue(const std::string& verb, const std::string& address, const std::string& text, CtlCommand* c,
                     std::string* error)
{
    if (address.find('.') == std::string::npos || !IsNameWord(text))
        return ParseValue(verb, text, &c->word, error);
    if (!ParseHex16(text, &c->word))
        c->word = 0; // the plan looks the name up in the map
    return true;
}

bool ParseRegRead(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i + 1 != a.size())
        return Fail(error, "reg read: usage: reg read ADDR");
    c->verb = Verb::RegRead;
    c->address = a[i];
    return CheckAddress("reg read", a[i], error);
}

bool ParseRegWrite(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    Args words;
    for (std::size_t k = i; k < a.size(); ++k) {
        if (a[k] == "--verify")
            c->verify = true;
        else
            words.push_back(a[k]);
    }
    if (words.size() != 2)
        return Fail(error, "reg write: usage: reg write ADDR VALUE [--verify]");
    c->verb = Verb::RegWrite;
    c->address = words[0];
    c->content = words[1];
    return CheckAddress("reg write", words[0], error) && ParseFieldValue("reg write", words[0], words[1], c, error);
}

bool ParseRegDump(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    c->verb = Verb::RegDump;
    for (std::size_t k = i; k < a.size(); ++k) {
        if (!CheckAddress("reg dump", a[k], error))
            return false;
        c->registers.push_back(a[k]);
    }
    return true;
}

bool ParseRegWatch(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    bool haveAddress = false;
    for (std::size_t k = i; k < a.size(); ++k) {
        if (a[k] == "--csv") {
            c->csv = true;
        } else if (a[k] == "--interval" || a[k] == "--count") {
            if (k + 1 >= a.size())
                return Fail(error, "reg watch: " + a[k] + " needs a number");
            const std::string& n = a[++k];
            if (a[k - 1] == "--interval" && !ParseCount(n, kMaxSleepMs, false, &c->intervalMs))
                return Fail(error, "reg watch: --interval '" + n + "' is not milliseconds from 1 to 3600000");
            if (a[k - 1] == "--count" && !ParseCount(n, kMaxWatchCount, false, &c->count))
                return Fail(error, "reg watch: --count '" + n + "' is not a number from 1 to 1000000000");
        } else if (!haveAddress) {
            c->address = a[k];
            haveAddress = true;
        } else {
            return Fail(error, "reg watch: usage: reg watch ADDR [--interval MS] [--count N] [--csv]");
        }
    }
    if (!haveAddress)
        return Fail(error, "reg watch: usage: reg watch ADDR [--interval MS] [--count N] [--csv]");
    c->verb = Verb::RegWatch;
    return CheckAddress("reg watch", c->address, error);
}

bool ParseRegExpect(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i + 2 != a.size())
        return Fail(error, "reg expect: usage: reg expect ADDR VALUE");
    c->verb = Verb::RegExpect;
    c->address = a[i];
    c->content = a[i + 1];
    return CheckAddress("reg expect", a[i], error) && ParseFieldValue("reg expect", a[i], a[i + 1], c, error);
}

// reg snapshot FILE, reg diff FILE|reset, reg restore FILE.
bool ParseRegFileVerb(const std::string& sub, const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    const std::string usage = sub == "diff" ? "reg diff: usage: reg diff FILE|reset" : "reg " + sub + ": usage: reg "
                                                                                             + sub + " FILE";
    if (i + 1 != a.size() || a[i].empty())
        return Fail(error, usage);
    c->verb = sub == "snapshot" ? Verb::RegSnapshot : sub == "diff" ? Verb::RegDiff : Verb::RegRestore;
    c->file = a[i];
    c->againstReset = sub == "diff" && a[i] == "reset";
    return true;
}

bool ParseSaveOption(const Args& a, std::size_t* k, CtlCommand* c, std::string* error)
{
    const std::string& option = a[*k];
    if (*k + 1 >= a.size())
        return Fail(error, "preset save: " + option + " needs a value");
    const std::string& value = a[++*k];
    if (option == "--reg") {
        const std::size_t eq = value.find('=');
        std::uint16_t word = 0;
        if (eq == std::string::npos)
            return Fail(error, "preset save: --reg '" + value + "' is not ADDR=VALUE");
        if (!CheckAddress("preset save", value.substr(0, eq), error)
            || !ParseValue("preset save", value.substr(eq + 1), &word, error))
            return false;
        c->preset.writes.push_back({value.substr(0, eq), word, 0});
        return true;
    }
    const ControlBinding* slider = option.size() > 2 ? FindBinding(option.substr(2), ControlRole::Slider) : nullptr;
    if (!slider || option.compare(0, 2, "--") != 0)
        return Fail(error, "preset save: unknown option '" + option + "'");
    std::uint32_t v = 0;
    if (!ParseCount(value, 255, true, &v))
        return Fail(error, "preset save: " + option + " '" + value + "' is not a number from 0 to 255");
    *c->preset.adjust.For(slider->cmd) = static_cast<std::int32_t>(v);
    return true;
}

} // namespace

bool CheckRegisterText(const std::string& text, std::string* error)
{
    std::uint16_t value = 0;
    if (ParseHex16(text, &value))
        return true;
    if (!text.empty() && IsNameStart(text[0])) {
        const std::size_t dot = text.find('.');
        if (IsNameWord(text.substr(0, dot)) && (dot == std::string::npos || IsNameWord(text.substr(dot + 1))))
            return true;
    }
    bool allHex = !text.empty();
    const std::size_t from = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    for (std::size_t k = from; k < text.size(); ++k)
        allHex = allHex && std::isxdigit(static_cast<unsigned char>(text[k]));
    if (allHex)
        return Fail(error, "address '" + text + "' is over 0xFFFF");
    return Fail(error, "'" + text + "' is neither a hexadecimal address nor a register name");
}

bool ParseRegVerb(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    const std::string sub = i < a.size() ? a[i] : "";
    if (sub == "read")
        return ParseRegRead(a, i + 1, c, error);
    if (sub == "write")
        return ParseRegWrite(a, i + 1, c, error);
    if (sub == "dump")
        return ParseRegDump(a, i + 1, c, error);
    if (sub == "watch")
        return ParseRegWatch(a, i + 1, c, error);
    if (sub == "expect")
        return ParseRegExpect(a, i + 1, c, error);
    if (sub == "snapshot" || sub == "diff" || sub == "restore")
        return ParseRegFileVerb(sub, a, i + 1, c, error);
    return Fail(error, "reg: usage: reg read ADDR | reg write ADDR VALUE [--verify] | reg dump [FROM TO | NAME...] | "
                       "reg watch ADDR | reg expect ADDR VALUE | reg snapshot FILE | reg diff FILE|reset | "
                       "reg restore FILE");
}

bool ParsePresetVerb(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i + 2 == a.size() && a[i] == "apply") {
        c->verb = Verb::PresetApply;
        c->file = a[i + 1];
        return true;
    }
    if (i + 2 <= a.size() && a[i] == "save" && a[i + 1].rfind("--", 0) != 0) {
        c->file = a[i + 1];
        for (std::size_t k = i + 2; k < a.size(); ++k) {
            if (!ParseSaveOption(a, &k, c, error))
                return false;
        }
        c->verb = Verb::PresetSave;
        return true;
    }
    return Fail(error, "preset: usage: preset apply FILE | preset save FILE [--brightness N] [--contrast N] "
                       "[--red N] [--green N] [--blue N] [--reg ADDR=VALUE]...");
}

bool ParseSleepVerb(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i + 1 != a.size() || !ParseCount(a[i], kMaxSleepMs, true, &c->sleepMs))
        return Fail(error, "sleep: usage: sleep MS (0 to 3600000)");
    c->verb = Verb::Sleep;
    return true;
}

} // namespace pelvar
