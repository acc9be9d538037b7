// pelvarctl's command line and script lines, parsed without side effects so
// that bad input is refused before anything is opened or sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/Preset.h"
#include "platform/PortRef.h"

namespace pelvar {

enum class Verb {
    Help,
    Version,
    Ports,
    Transact,
    QueryStatus,
    QueryRegRead,
    Connect,
    Disconnect,
    Set,
    Press,
    RegRead,
    RegWrite,
    Run,
    RegDump,
    RegWatch,
    RegExpect,
    RegSnapshot,
    RegDiff,
    RegRestore,
    Sleep,
    PresetApply,
    PresetSave,
    Diagnose,
    Monitor,
};

struct CtlOptions {
    PortRef port;               // none named: find the board as Connect does
    bool allPorts = false;      // --port all: every listed port, a board on each
    std::vector<PortRef> ports; // --port N,M,...: these boards, ascending
    bool trace = false;         // --trace, --trace=bytes: the bytes of each frame and read
    bool traceDecoded = false;  // --trace=decoded: one line per exchange, as the panel's log
    bool verbose = false;
    bool json = false;       // one JSON object per verb on standard output
    std::string map;         // --map FILE; empty: the default map when it exists
    std::string capture;     // --capture FILE: the session's frames as pcapng
    bool stopAtLoss = false; // reg watch, monitor: end at a lost connection instead of waiting for it
    bool rs485 = false;      // --rs485: the driver's RS-485 mode drives RTS
};

constexpr std::uint32_t kDefaultWatchIntervalMs = 200;
constexpr std::uint32_t kMaxSleepMs = 3600000;

struct CtlCommand {
    Verb verb = Verb::Help;
    std::uint8_t cmd = 0;                               // transact, set: the command code
    std::vector<std::uint8_t> payload;                  // transact
    std::int32_t value = 0;                             // set
    std::string address;                                // reg: an address or a name of the register map
    std::string content;                                // reg write: the content box's text
    std::string file;                                   // run, preset, reg snapshot/diff/restore
    bool verbose = false;                               // ports --verbose
    std::uint16_t word = 0;                             // reg write, reg expect: the value, checked to 16 bits
    bool verify = false;                                // reg write --verify
    std::vector<std::string> registers;                 // reg dump: FROM TO, or names; empty: the whole map
    std::uint32_t intervalMs = kDefaultWatchIntervalMs; // reg watch
    std::uint32_t count = 0;                            // reg watch: reads; 0 until interrupted
    bool csv = false;                                   // reg watch --csv: every read as a line of CSV
    bool againstReset = false;                          // reg diff reset: the map's reset values
    std::uint32_t sleepMs = 0;                          // sleep
    Preset preset;                                      // preset save: what to write
};

struct ParsedCommandLine {
    bool ok = false;
    std::string error; // one line, for standard error
    CtlOptions options;
    CtlCommand command;

    // --port all or a list: the verb runs on each board named.
    bool SeveralBoards() const { return options.allPorts || !options.ports.empty(); }
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);

// One line of a `run` script. Blank lines and lines starting with '#' give
// ok with *skip set.
struct ParsedScriptLine {
    bool ok = false;
    bool skip = false;
    std::string error;
    CtlCommand command;
};
ParsedScriptLine ParseScriptLine(const std::string& line);

// Parsing helpers, exposed for tests.
bool ParsePortNumber(const std::string& text, int* port);
bool ParseCommandCode(const std::string& text, std::uint8_t* code);
bool ParseHexPayload(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error);
// A register reference's form: a 16-bit hexadecimal number (0x optional) or
// NAME / NAME.FIELD of the map. Whether a name exists is the map's to say.
bool CheckRegisterText(const std::string& text, std::string* error);

// The verb's name as the JSON output gives it: "reg dump", "preset apply".
const char* VerbName(Verb verb);

// The usage text of --help.
const char* UsageText();

} // namespace pelvar
