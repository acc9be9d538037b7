#include "tools/pelvarctl/CtlParse.h"

#include "discovery/PortEntry.h"
#include "platform/PortName.h"

#include <cctype>
#include <cstring>
#include <getopt.h>
#include <mutex>
#include <sstream>

#include "camera/Commands.h"
#include "camera/ControlTable.h"
#include "discovery/PortEntry.h"
#include "tools/pelvarctl/BringUpParse.h"

namespace pelvar {

namespace {

bool AllDigits(const std::string& s, int base)
{
    if (s.empty())
        return false;
    for (unsigned char c : s) {
        if (base == 10 ? !std::isdigit(c) : !std::isxdigit(c))
            return false;
    }
    return true;
}

// Decimal 0..limit, at most 10 digits.
bool ParseDecimal(const std::string& s, long limit, long* out)
{
    if (!AllDigits(s, 10) || s.size() > 10)
        return false;
    long v = std::stol(s);
    if (v > limit)
        return false;
    *out = v;
    return true;
}

using Args = std::vector<std::string>;

bool Fail(std::string* error, const std::string& text)
{
    *error = text;
    return false;
}

bool ParseVerb(const Args& a, std::size_t i, CtlCommand* c, std::string* error);

bool ParseTransact(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i >= a.size())
        return Fail(error, "transact: missing command (a number such as 0x91, or a name such as brightness)");
    if (!ParseCommandCode(a[i], &c->cmd))
        return Fail(error, "transact: unknown command '" + a[i] + "'");
    // The board answers a query with data, never ACK: as a transaction it
    // would be sent six times and end NAK.
    if (const CommandInfo* info = FindCommand(c->cmd); info && info->exchange == Exchange::Query)
        return Fail(error, std::string("transact: ") + info->name + " is a query, answered with data: use query "
                               + (c->cmd == CMD_STATUS ? "status" : "regread"));
    std::string hex;
    for (std::size_t k = i + 1; k < a.size(); ++k)
        hex += a[k];
    c->verb = Verb::Transact;
    return ParseHexPayload(hex, &c->payload, error);
}

bool ParseQuery(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i >= a.size())
        return Fail(error, "query: missing kind (status or regread)");
    if (i + 1 != a.size())
        return Fail(error, "query: too many arguments");
    if (a[i] == "status")
        c->verb = Verb::QueryStatus;
    else if (a[i] == "regread")
        c->verb = Verb::QueryRegRead;
    else
        return Fail(error, "query: unknown kind '" + a[i] + "' (status or regread)");
    return true;
}

bool ParseSet(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i + 2 != a.size())
        return Fail(error, "set: usage: set brightness|contrast|red|green|blue VALUE");
    const ControlBinding* slider = FindBinding(a[i], ControlRole::Slider);
    if (!slider)
        return Fail(error, "set: unknown adjustment '" + a[i] + "' (" + BindingNames(ControlRole::Slider, ", ") + ")");
    c->cmd = slider->cmd;
    long v = 0;
    if (!ParseDecimal(a[i + 1], 255, &v))
        return Fail(error, "set: value '" + a[i + 1] + "' is not a number from 0 to 255");
    c->value = static_cast<std::int32_t>(v);
    c->verb = Verb::Set;
    return true;
}

bool ParsePress(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    if (i + 1 != a.size())
        return Fail(error, "press: usage: press BUTTON");
    if (const ControlBinding* button = FindBinding(a[i], ControlRole::FunctionButton)) {
        c->cmd = button->cmd;
        c->verb = Verb::Press;
        return true;
    }
    return Fail(error, "press: unknown button '" + a[i] + "' (" + BindingNames(ControlRole::FunctionButton) + ")");
}

bool ParseNoArguments(const Args& a, std::size_t i, Verb verb, CtlCommand* c, std::string* error)
{
    if (i != a.size())
        return Fail(error, a[i - 1] + ": takes no arguments");
    c->verb = verb;
    return true;
}

bool ParseVerb(const Args& a, std::size_t i, CtlCommand* c, std::string* error)
{
    const std::string& verb = a[i];
    ++i;
    if (verb == "transact")
        return ParseTransact(a, i, c, error);
    if (verb == "query")
        return ParseQuery(a, i, c, error);
    if (verb == "set")
        return ParseSet(a, i, c, error);
    if (verb == "press")
        return ParsePress(a, i, c, error);
    if (verb == "reg")
        return ParseRegVerb(a, i, c, error);
    if (verb == "preset")
        return ParsePresetVerb(a, i, c, error);
    if (verb == "sleep")
        return ParseSleepVerb(a, i, c, error);
    if (verb == "diagnose")
        return ParseNoArguments(a, i, Verb::Diagnose, c, error);
    if (verb == "ports") {
        // "ports --verbose" reads as naturally as "--verbose ports".
        if (i + 1 == a.size() && (a[i] == "--verbose" || a[i] == "-v")) {
            c->verbose = true;
            ++i;
        }
        return ParseNoArguments(a, i, Verb::Ports, c, error);
    }
    if (verb == "connect")
        return ParseNoArguments(a, i, Verb::Connect, c, error);
    if (verb == "monitor")
        return ParseNoArguments(a, i, Verb::Monitor, c, error);
    if (verb == "disconnect")
        return ParseNoArguments(a, i, Verb::Disconnect, c, error);
    if (verb == "run") {
        if (i + 1 != a.size())
            return Fail(error, "run: usage: run FILE (or - for standard input)");
        c->verb = Verb::Run;
        c->file = a[i];
        return true;
    }
    return Fail(error, "unknown verb '" + verb + "' (see pelvarctl --help)");
}

Args SplitWords(const std::string& line)
{
    Args words;
    std::istringstream in(line);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

} // namespace

bool ParsePortNumber(const std::string& text, int* port)
{
    long v = 0;
    if (!ParseDecimal(text, 255, &v) || v < 1)
        return false;
    *port = static_cast<int>(v);
    return true;
}

bool ParseCommandCode(const std::string& text, std::uint8_t* code)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::string digits = text.substr(2);
        if (!AllDigits(digits, 16) || digits.size() > 2)
            return false;
        *code = static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16));
        return true;
    }
    long v = 0;
    if (ParseDecimal(text, 255, &v)) {
        *code = static_cast<std::uint8_t>(v);
        return true;
    }
    if (const CommandInfo* info = FindCommand(text)) {
        *code = info->code;
        return true;
    }
    return false;
}

bool ParseHexPayload(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error)
{
    std::string digits;
    for (unsigned char c : text) {
        if (std::isspace(c))
            continue;
        if (!std::isxdigit(c))
            return Fail(error, "payload: '" + text + "' is not hexadecimal bytes");
        digits += static_cast<char>(c);
    }
    if (digits.size() % 2 != 0)
        return Fail(error, "payload: odd number of hexadecimal digits");
    if (digits.size() / 2 > kMaxPayload)
        return Fail(error, "payload: more than 252 bytes");
    bytes->clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes->push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

namespace {

constexpr int kOptionVersion = 256;
constexpr int kOptionJson = 257;
constexpr int kOptionMap = 258;
constexpr int kOptionCapture = 259;
constexpr int kOptionStopAtLoss = 260;
constexpr int kOptionRs485 = 261;

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kOptionVersion},
    {"trace", optional_argument, nullptr, 't'},
    {"verbose", no_argument, nullptr, 'v'},
    {"port", required_argument, nullptr, 'p'},
    {"json", no_argument, nullptr, kOptionJson},
    {"map", required_argument, nullptr, kOptionMap},
    {"capture", required_argument, nullptr, kOptionCapture},
    {"stop-at-loss", no_argument, nullptr, kOptionStopAtLoss},
    {"rs485", no_argument, nullptr, kOptionRs485},
    {nullptr, 0, nullptr, 0},
};

// --trace alone is the byte trace; =decoded the exchanges; =both the two.
bool ApplyTrace(const char* value, CtlOptions* options, std::string* error)
{
    const std::string form = value ? value : "bytes";
    if (form != "bytes" && form != "decoded" && form != "both")
        return Fail(error, "--trace: '" + form + "' is not bytes, decoded or both");
    options->trace = form != "decoded";
    options->traceDecoded = form != "bytes";
    return true;
}

// Applies one option getopt_long found; false with p->error set when it is refused.
bool ApplyOption(int opt, const char* value, const char* given, ParsedCommandLine* p)
{
    switch (opt) {
    case 'h': p->command.verb = Verb::Help; return true;
    case kOptionVersion: p->command.verb = Verb::Version; return true;
    case 't': return ApplyTrace(value, &p->options, &p->error);
    case 'v': p->options.verbose = true; return true;
    case kOptionJson: p->options.json = true; return true;
    case kOptionStopAtLoss: p->options.stopAtLoss = true; return true;
    case kOptionRs485: p->options.rs485 = true; return true;
    case kOptionMap:
        if (*value == '\0')
            return Fail(&p->error, "--map: empty file name");
        p->options.map = value;
        return true;
    case kOptionCapture:
        if (*value == '\0')
            return Fail(&p->error, "--capture: empty file name");
        p->options.capture = value;
        return true;
    case 'p':
        p->options.port = {};
        p->options.allPorts = std::string(value) == "all";
        p->options.ports.clear();
        if (p->options.allPorts)
            return true;
        if (std::strchr(value, ',')) {
            if (std::string why; !ParsePortList(value, &p->options.ports, &why))
                return Fail(&p->error, "--port: " + why);
            return true;
        }
        if (std::string why; !ParsePortReference(value, &p->options.port, &why))
            return Fail(&p->error, "--port: " + why);
        return true;
    case ':':
        if (std::string(given).rfind("--map", 0) == 0)
            return Fail(&p->error, "--map: missing file name");
        if (std::string(given).rfind("--capture", 0) == 0)
            return Fail(&p->error, "--capture: missing file name");
        return Fail(&p->error, "--port: missing port number (1 to 255)");
    default: return Fail(&p->error, std::string("unknown option '") + given + "' (see pelvarctl --help)");
    }
}

// One of pelvarctl's own options ("--port", "--map=m.json", "-v"), or null.
const option* OwnOption(const std::string& word)
{
    const bool letter = word == "-h" || word == "-v";
    if (!letter && word.rfind("--", 0) != 0)
        return nullptr;
    const std::string name =
        word.substr(2, word.find('=') == std::string::npos ? std::string::npos : word.find('=') - 2);
    for (const option* o = kLongOptions; o->name; ++o) {
        if (letter ? o->val == word[1] : name == o->name)
            return o;
    }
    return nullptr;
}

// A verb refused with pelvarctl's own options after it: the command line
// as it should have been, those options (and their values) moved before the
// verb. Empty when no such option follows the verb.
std::string OptionsFirstHint(const std::vector<std::string>& args, std::size_t verbAt)
{
    std::string before;
    std::string after;
    bool moved = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const option* o = k > verbAt ? OwnOption(args[k]) : nullptr;
        if (k >= verbAt && !o) {
            after += " " + args[k];
            continue;
        }
        moved = moved || o;
        before += " " + args[k];
        if (o && o->has_arg == required_argument && args[k].find('=') == std::string::npos) {
            if (k + 1 == args.size())
                return ""; // its value is missing too: no whole line to show
            before += " " + args[++k];
        }
    }
    return moved ? "options go before the verb: pelvarctl" + before + after : "";
}

} // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    ParsedCommandLine p;
    // getopt_long permutes and keeps state: hand it a private argv, stop at
    // the verb ('+'), and start it afresh (optind 0) on every call; one
    // caller at a time.
    static std::mutex getoptInUse;
    std::lock_guard<std::mutex> lock(getoptInUse);
    std::vector<std::string> words{"pelvarctl"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    optind = 0;
    opterr = 0;
    for (int opt; (opt = getopt_long(argc, argv.data(), "+:hv", kLongOptions, nullptr)) != -1;) {
        const char* given = argv[static_cast<std::size_t>(optind) - 1];
        if (!ApplyOption(opt, optarg, given, &p))
            return p;
        if (opt == 'h' || opt == kOptionVersion) { // the rest is not looked at
            p.ok = true;
            return p;
        }
    }
    const std::size_t i = static_cast<std::size_t>(optind) - 1;
    if (i >= args.size()) {
        p.error = "missing verb (see pelvarctl --help)";
        return p;
    }
    p.ok = ParseVerb(args, i, &p.command, &p.error);
    if (const std::string hint = p.ok ? "" : OptionsFirstHint(args, i); !hint.empty())
        p.error += " (" + hint + ")";
    if (p.ok && p.command.csv && (p.options.json || p.SeveralBoards())) {
        p.ok = false;
        p.error = "reg watch: --csv is for one board and without --json";
    }
    // Every board would write the same file, the last one's registers kept.
    if (p.ok && p.command.verb == Verb::RegSnapshot && p.SeveralBoards()) {
        p.ok = false;
        p.error = "reg snapshot: one board at a time (each would write " + p.command.file + ")";
    }
    return p;
}

ParsedScriptLine ParseScriptLine(const std::string& line)
{
    ParsedScriptLine p;
    Args words = SplitWords(line);
    if (words.empty() || words[0][0] == '#') {
        p.ok = true;
        p.skip = true;
        return p;
    }
    const std::string& verb = words[0];
    if (verb == "run" || verb == "ports" || verb == "connect" || verb == "diagnose" || verb == "monitor") {
        p.error = verb + ": not allowed in a script (a script runs over one connection)";
        return p;
    }
    p.ok = ParseVerb(words, 0, &p.command, &p.error);
    if (p.ok && p.command.verb == Verb::RegWatch && p.command.count == 0) {
        p.ok = false;
        p.error = "reg watch: a script needs --count N (nothing would end the watch)";
    }
    return p;
}

const char* VerbName(Verb verb)
{
    switch (verb) {
    case Verb::Help: return "help";
    case Verb::Version: return "version";
    case Verb::Ports: return "ports";
    case Verb::Transact: return "transact";
    case Verb::QueryStatus: return "query status";
    case Verb::QueryRegRead: return "query regread";
    case Verb::Connect: return "connect";
    case Verb::Disconnect: return "disconnect";
    case Verb::Set: return "set";
    case Verb::Press: return "press";
    case Verb::RegRead: return "reg read";
    case Verb::RegWrite: return "reg write";
    case Verb::Run: return "run";
    case Verb::RegDump: return "reg dump";
    case Verb::RegWatch: return "reg watch";
    case Verb::RegExpect: return "reg expect";
    case Verb::RegSnapshot: return "reg snapshot";
    case Verb::RegDiff: return "reg diff";
    case Verb::RegRestore: return "reg restore";
    case Verb::Sleep: return "sleep";
    case Verb::PresetApply: return "preset apply";
    case Verb::PresetSave: return "preset save";
    case Verb::Diagnose: return "diagnose";
    case Verb::Monitor: return "monitor";
    }
    return "unknown";
}

const char* UsageText()
{
    return "usage: pelvarctl [--port N] [--map FILE] [--json] [--trace[=decoded|both]] [--capture FILE]\n"
           "                 [--stop-at-loss] [--rs485] [--verbose] VERB [ARGS]\n"
           "\n"
           "Talks to the camera board over a serial port. Without --port, the board is\n"
           "found as the panel's Connect finds it: every listed port in order.\n"
           "\n"
           "verbs:\n"
           "  ports                      list the serial ports, in the order Connect tries them\n"
           "  connect                    find and start the board; prints port and sensor\n"
           "  disconnect                 release the board (CMD_RELEASE when it is active)\n"
           "  set NAME VALUE             NAME brightness|contrast|red|green|blue, VALUE 0..255\n"
           "  press BUTTON               edge scale gamma test-pattern left right up down\n"
           "                             init release func16 func18 func19\n"
           "  reg read ADDR              read a 16-bit register; the map's fields decoded\n"
           "  reg write ADDR VALUE [--verify]\n"
           "                             write a 16-bit register (NAME.FIELD: only its\n"
           "                             bits, read first; VALUE may be a value's name);\n"
           "                             --verify reads it back\n"
           "  reg dump [FROM TO | NAME...]\n"
           "                             read FROM..TO (inclusive), the named registers or\n"
           "                             the whole map: \"0x0010 0xbeef NAME\"; rc registers\n"
           "                             only when named\n"
           "  reg watch ADDR [--interval MS] [--count N] [--csv]\n"
           "                             read every MS ms (200), print each change with the\n"
           "                             ms since the start; N reads, or until Ctrl-C; a lost\n"
           "                             board is waited for and read again when back;\n"
           "                             --csv: every read as ms,value,fields\n"
           "  reg expect ADDR VALUE      read; exit 1 when the register holds another value\n"
           "  reg snapshot FILE          save the map's readable registers (not rc) as JSON\n"
           "  reg diff FILE|reset        the registers that differ from a snapshot or from\n"
           "                             the map's reset values; exit 1 when any does\n"
           "  reg restore FILE           write a snapshot's writable registers back in map\n"
           "                             order, each read back; says what it could not\n"
           "  preset apply FILE          send a preset: the five adjustments, then its\n"
           "                             register writes in order\n"
           "  preset save FILE [--brightness N] [--contrast N] [--red N] [--green N] [--blue N]\n"
           "                  [--reg ADDR=VALUE]...\n"
           "                             write a preset file (adjustments not given: 128)\n"
           "  diagnose                   the whole bring-up, a line a step, and a verdict\n"
           "  sleep MS                   wait (for scripts)\n"
           "  transact CMD [PAYLOAD]     one acknowledged transaction; CMD 0x91, 145 or a name\n"
           "                             (brightness, status, init, reg_address ...);\n"
           "                             PAYLOAD hexadecimal bytes, \"c8000000\" or \"c8 00 00 00\"\n"
           "  query status|regread       one status or register-content query\n"
           "  run FILE                   one verb a line over one connection (- reads stdin)\n"
           "  monitor                    (needs --port) listen to a line driven by others,\n"
           "                             never sending: one decoded line per exchange, until\n"
           "                             Ctrl-C; garbage and cut frames shown as such\n"
           "\n"
           "ADDR is hexadecimal (0x0010 or 10) up to 0xFFFF, or a name of the register map\n"
           "(EXPOSURE, CTRL.GAIN); VALUE is hexadecimal up to 0xFFFF.\n"
           "\n"
           "options:\n"
           "  --port N     use COMN only (1..255), a device path, or a network port\n"
           "               rfc2217://, rfc2217+tls:// or socket://HOST:PORT;\n"
           "               see the port naming rule in pelvarctl(1)\n"
           "  --port all|N,M,...\n"
           "               run the verb on every listed board, or on these, at once; a line\n"
           "               prefix (COMn: ) or a \"port\" in each JSON object; exit status the worst\n"
           "  --map FILE   the register map (JSON); without it\n"
           "               $XDG_CONFIG_HOME/pelvar/registers.json when it exists\n"
           "  --json       one JSON object per verb on standard output\n"
           "  --trace      every frame sent and block read on standard error, with ms\n"
           "  --trace=decoded  one line per exchange instead: command, meaning, result,\n"
           "               attempts, time and frames, as the panel's saved log (=both: the two)\n"
           "               (with --json: in the object's \"frames\")\n"
           "  --capture FILE  the frames of the session (or those monitor hears) as\n"
           "               pcapng for Wireshark (see pelvarctl(1))\n"
           "  --stop-at-loss  reg watch, monitor: end (exit 1) when the connection or device\n"
           "               is lost, instead of waiting for it to come back\n"
           "  --rs485      the driver's RS-485 mode drives RTS (adapters and UARTs with\n"
           "               automatic direction control); refused where the driver has none\n"
           "  --verbose    ports: device path, USB ids, serial number, driver and the\n"
           "               adapter's latency timer\n"
           "  --help       this text\n"
           "  --version    the version\n"
           "\n"
           "exit status: 0 success, 1 the board did not answer, refused or did not match,\n"
           "             2 usage error (nothing is opened or sent)\n"
           "environment: PELVAR_PORTS_DIR names the port directory and is then the only\n"
           "             source of ports\n";
}

} // namespace pelvar
