// pelvarctl's command line and script lines, parsed without side effects so
// that bad input is refused before anything is opened or sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelvar {

enum class Verb {
    Help, Version, Ports, Transact, QueryStatus, QueryRegRead,
    Connect, Disconnect, Set, Press, RegRead, RegWrite, Run,
};

struct CtlOptions {
    int port = 0;          // 0: find the board as Connect does
    bool trace = false;
    bool verbose = false;
};

struct CtlCommand {
    Verb verb = Verb::Help;
    std::uint8_t cmd = 0;                // transact, set: the command code
    std::vector<std::uint8_t> payload;   // transact
    std::int32_t value = 0;              // set
    int controlId = 0;                   // set, press: the slider's or button's identifier
    std::string address;                 // reg: the address box's text
    std::string content;                 // reg write: the content box's text
    std::string file;                    // run
    bool verbose = false;                // ports --verbose
};

struct ParsedCommandLine {
    bool ok = false;
    std::string error;       // one line, for standard error
    CtlOptions options;
    CtlCommand command;
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

// The usage text of --help.
const char* UsageText();

} // namespace pelvar
