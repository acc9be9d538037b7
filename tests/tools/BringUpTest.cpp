// pelvarctl as a bring-up tool on the simulated clock: the register map and
// presets, registers by name, dumps, verified and field writes, watching,
// script expectations, the diagnosis and the JSON output.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <termios.h>
#include <optional>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "camera/Commands.h"
#include "camera/Preset.h"
#include "camera/RegisterMap.h"
#include "camera/TextFile.h"
#include "platform/HexBytes.h"
#include "sim/SimBoard.h"
#include "platform/ForwardingPlatform.h"
#include "tests/support/CtlCapture.h"
#include "tests/support/Pty.h"
#include "tests/support/TestEnvironment.h"
#include "tools/pelvarctl/CtlOutput.h"
#include "tools/pelvarctl/CtlParse.h"
#include "tools/pelvarctl/Progress.h"

namespace pelvar {
namespace {

using test::CtlCapture;
using test::RunCtlCaptured;

constexpr const char* kMap = R"({"registers": [
  {"name": "EXPOSURE", "address": "0x0010", "reset": "0x0000", "access": "rw"},
  {"name": "CTRL", "address": "0x0012", "fields": [{"name": "GAIN", "lsb": 4, "width": 3},
                                                    {"name": "TOP", "lsb": 15, "width": 1}]},
  {"name": "ID", "address": 17, "access": "ro"},
  {"name": "KICK", "address": "0x0020", "access": "wo"},
  {"name": "LED", "address": "0x0014", "width": 8},
  {"name": "SCRATCH", "address": "0x00FE", "scratch": true}
]})";

// Every key a bring-up map may carry: named values, descriptions, w1c bits
// beside rw fields, a register a read clears, one that changes by itself.
constexpr const char* kNamedMap = R"({"registers": [
  {"name": "EXPOSURE", "address": "0x0010", "reset": "0x0100", "description": "Exposure in lines"},
  {"name": "ID", "address": "0x0011", "access": "ro", "reset": "0x5a01"},
  {"name": "CTRL", "address": "0x0012", "reset": "0x0000", "description": "Pipeline control", "fields": [
    {"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3},
     "description": "Capture mode"},
    {"name": "GAIN", "lsb": 4, "width": 3},
    {"name": "IRQ", "lsb": 8, "width": 1, "access": "w1c"},
    {"name": "ERR", "lsb": 9, "width": 1, "access": "w1c"},
    {"name": "EN", "lsb": 15, "width": 1}]},
  {"name": "KICK", "address": "0x0020", "access": "wo"},
  {"name": "STATUS", "address": "0x0030", "access": "volatile", "reset": "0x0000"},
  {"name": "FIFO", "address": "0x0031", "access": "rc", "fields": [{"name": "LEVEL", "lsb": 0, "width": 8}]},
  {"name": "INT", "address": "0x0032", "access": "w1c", "reset": "0x0000"}
]})";

// ---- The map file ----------------------------------------------------------

TEST(RegisterMap, ReadsTheDocumentedForm)
{
    RegisterMap map;
    std::string error;
    ASSERT_TRUE(ParseRegisterMap(kMap, "m.json", &map, &error)) << error;
    ASSERT_EQ(map.Registers().size(), 6u);
    EXPECT_EQ(map.Registers().front().name, "EXPOSURE") << "address order";
    EXPECT_EQ(map.Find("ID")->address, 0x11);
    EXPECT_EQ(map.Find("ID")->access, RegisterAccess::ReadOnly);
    EXPECT_EQ(map.Find("EXPOSURE")->reset, std::optional<std::uint16_t>(0));
    const RegisterField* gain = map.Find("CTRL")->Field("GAIN");
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(FieldMask(*gain), 0x0070);
    EXPECT_EQ(InsertField(0xFFFF, *gain, 3), 0xFFBF);
    EXPECT_EQ(ExtractField(0xFFBF, *gain), 3);
    // A field may end at the top bit; 15 is the highest lsb.
    const RegisterField* top = map.Find("CTRL")->Field("TOP");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(FieldMask(*top), 0x8000);
    EXPECT_EQ(map.FirstScratch()->name, "SCRATCH");
    EXPECT_EQ(map.FindAddress(0x14)->width, 8u);
}

TEST(RegisterMap, TheExampleFileOfTheRepositoryReads)
{
    RegisterMap map;
    std::string error;
    EXPECT_TRUE(LoadRegisterMap(PELVAR_SOURCE_DIR "/res/registers.example.json", &map, &error)) << error;
    EXPECT_NE(map.FirstScratch(), nullptr);
}

struct BadMapRow {
    const char* name;
    const char* text;
    const char* where; // "m.json:LINE:"
    const char* what;
    bool exact = false; // `what` is the whole complaint after `where`
};

class BadMap : public ::testing::TestWithParam<BadMapRow> {};

TEST_P(BadMap, OneLineNamingFileLineAndFault)
{
    RegisterMap map;
    std::string error;
    EXPECT_FALSE(ParseRegisterMap(GetParam().text, "m.json", &map, &error));
    EXPECT_EQ(error.rfind(GetParam().where, 0), 0u) << error;
    EXPECT_NE(error.find(GetParam().what), std::string::npos) << error;
    if (GetParam().exact) {
        EXPECT_EQ(error, std::string(GetParam().where) + " " + GetParam().what);
    }
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_TRUE(map.Empty()) << "a refused map keeps nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadMap,
    ::testing::Values(
        BadMapRow{"syntax", "{\"registers\": [\n{\"name\": \"A\" \"address\": 1}]}", "m.json:2:", "syntax error"},
        BadMapRow{"addressOver16Bits", "{\"registers\": [\n{\"name\": \"A\",\n \"address\": \"0x10000\"}]}",
                  "m.json:2:", "address"},
        BadMapRow{"negativeAddress", "{\"registers\": [{\"name\": \"A\", \"address\": -1}]}", "m.json:1:", "address"},
        BadMapRow{"fieldWiderThanRegister",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1,\n\"fields\": [\n{\"name\": \"F\", \"lsb\": 14, "
                  "\"width\": 3}]}]}",
                  "m.json:3:", "does not fit its 16-bit register"},
        BadMapRow{"fieldOutsideNarrowRegister",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"width\": 8, \"fields\": [{\"name\": \"F\", "
                  "\"lsb\": 6, \"width\": 3}]}]}",
                  "m.json:1:", "8-bit"},
        BadMapRow{"resetWiderThanRegister",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"width\": 4, \"reset\": 16}]}",
                  "m.json:1:", "reset"},
        BadMapRow{"duplicateName",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1},\n{\"name\": \"A\", \"address\": 2}]}",
                  "m.json:2:", "appears twice"},
        BadMapRow{"duplicateFieldName",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [\n{\"name\": \"F\", \"lsb\": 0, "
                  "\"width\": 2},\n{\"name\": \"F\", \"lsb\": 4, \"width\": 2}]}]}",
                  "m.json:3:", "register A: field F appears twice"},
        BadMapRow{"registerWidthZero", "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"width\": 0}]}",
                  "m.json:1:", "register A: width 0"},
        BadMapRow{"fieldWidthZero",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1,\n\"fields\": [{\"name\": \"F\", \"lsb\": 0, "
                  "\"width\": 0}]}]}",
                  "m.json:2:", "field A.F (lsb 0, width 0) does not fit"},
        BadMapRow{"escapedQuoteInADescription",
                  "{\"registers\": [{\"name\": \"A\", \"description\": \"a 12\\\" panel\", \"address\": 1},\n"
                  "{\"name\": \"A\", \"address\": 2}]}",
                  "m.json:2:", "appears twice"},
        BadMapRow{"duplicateAddress",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1},\n{\"name\": \"B\", \"address\": \"0x1\"}]}",
                  "m.json:2:", "already register A"},
        BadMapRow{"unknownAccess", "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"access\": \"rx\"}]}",
                  "m.json:1:", "register A: access \"rx\" is not rw, ro, wo, w1c, rc or volatile", true},
        BadMapRow{"valuesNotAnObject",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [\n{\"name\": \"M\", \"lsb\": 0, "
                  "\"width\": 2, \"values\": [\"off\"]}]}]}",
                  "m.json:2:", "field A.M: values must be an object of names and numbers", true},
        BadMapRow{"valueWiderThanField",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [{\"name\": \"M\", \"lsb\": 0, "
                  "\"width\": 2,\n\"values\": {\"off\": 0,\n \"big\": 4}}]}]}",
                  "m.json:2:", "field A.M: value big 4 is not a number from 0 to 3", true},
        BadMapRow{"valueNameWithABlank",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [{\"name\": \"M\", \"lsb\": 0, "
                  "\"width\": 2, \"values\": {\"no way\": 1}}]}]}",
                  "m.json:1:",
                  "field A.M: value name \"no way\" must be letters, digits and _, starting with a letter or _", true},
        BadMapRow{"twoNamesForOneValue",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [{\"name\": \"M\", \"lsb\": 0, "
                  "\"width\": 2, \"values\": {\"on\": 1, \"yes\": 1}}]}]}",
                  "m.json:1:", "field A.M: values on and yes are both 1", true},
        BadMapRow{
            "fieldAccessRc",
            "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [\n{\"name\": \"M\", \"lsb\": 0, "
            "\"width\": 2, \"access\": \"rc\"}]}]}",
            "m.json:2:", "field A.M: access \"rc\" is not rw or w1c (ro, wo, rc and volatile are a register's access)",
            true},
        BadMapRow{"w1cFieldInAReadOnlyRegister",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"access\": \"ro\", \"fields\": [{\"name\": "
                  "\"M\", \"lsb\": 0, \"width\": 1, \"access\": \"w1c\"}]}]}",
                  "m.json:1:", "field A.M: access \"w1c\" needs an rw register, not ro", true},
        BadMapRow{"descriptionNotText", "{\"registers\": [\n{\"name\": \"A\", \"address\": 1, \"description\": 7}]}",
                  "m.json:2:", "register A: description 7 is not text", true},
        BadMapRow{"misspeltValuesKey",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"fields\": [{\"name\": \"M\", \"lsb\": 0, "
                  "\"width\": 2, \"value\": {\"on\": 1}}]}]}",
                  "m.json:1:", "field A.M: unknown key \"value\"", true},
        BadMapRow{"misspeltKey", "{\"registers\": [{\"name\": \"A\", \"adress\": 1}]}", "m.json:1:", "\"adress\""},
        BadMapRow{"missingAddress", "{\"registers\": [{\"name\": \"A\"}]}", "m.json:1:", "no \"address\""},
        BadMapRow{"nameWithDot", "{\"registers\": [{\"name\": \"A.B\", \"address\": 1}]}", "m.json:1:", "name"},
        BadMapRow{"hexWithoutPrefixIsNoDecimal", "{\"registers\": [{\"name\": \"A\", \"address\": \"1f\"}]}",
                  "m.json:1:", "address"},
        BadMapRow{"noRegisterList", "{\"regs\": []}", "m.json:1:", "\"regs\""},
        BadMapRow{"scratchReadOnly",
                  "{\"registers\": [{\"name\": \"A\", \"address\": 1, \"access\": \"ro\", \"scratch\": true}]}",
                  "m.json:1:", "scratch"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ResolveRow {
    const char* name;
    const char* text;
    bool ok;
    std::uint16_t address;
    const char* registerName; // "" for none
    bool field;
};

class Resolve : public ::testing::TestWithParam<ResolveRow> {};

TEST_P(Resolve, NamesAndNumbers)
{
    RegisterMap map;
    std::string error;
    ASSERT_TRUE(ParseRegisterMap(kMap, "m.json", &map, &error));
    RegisterTarget t;
    const ResolveRow& row = GetParam();
    ASSERT_EQ(ResolveRegister(map, row.text, &t, &error), row.ok) << error;
    if (!row.ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(t.address, row.address);
    EXPECT_EQ(t.reg ? t.reg->name : "", row.registerName);
    EXPECT_EQ(t.field != nullptr, row.field);
}

INSTANTIATE_TEST_SUITE_P(Table, Resolve,
                         ::testing::Values(ResolveRow{"name", "EXPOSURE", true, 0x10, "EXPOSURE", false},
                                           ResolveRow{"field", "CTRL.GAIN", true, 0x12, "CTRL", true},
                                           ResolveRow{"numberFindsItsName", "0x0012", true, 0x12, "CTRL", false},
                                           ResolveRow{"bareHex", "beef", true, 0xBEEF, "", false},
                                           ResolveRow{"upperPrefix", "0XFFFF", true, 0xFFFF, "", false},
                                           ResolveRow{"over16Bits", "12345", false, 0, "", false},
                                           ResolveRow{"prefixedOver16Bits", "0x10000", false, 0, "", false},
                                           ResolveRow{"unknownName", "GAIN", false, 0, "", false},
                                           ResolveRow{"unknownField", "CTRL.MODE", false, 0, "", false},
                                           ResolveRow{"empty", "", false, 0, "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Resolve, ANameThatIsAlsoHexIsTheRegisterUnlessPrefixed)
{
    RegisterMap map;
    std::string error;
    ASSERT_TRUE(
        ParseRegisterMap("{\"registers\": [{\"name\": \"FACE\", \"address\": \"0x0030\"}]}", "m.json", &map, &error))
        << error;
    RegisterTarget t;
    ASSERT_TRUE(ResolveRegister(map, "FACE", &t, &error)) << error;
    EXPECT_EQ(t.address, 0x0030);
    ASSERT_TRUE(ResolveRegister(map, "0xFACE", &t, &error)) << error;
    EXPECT_EQ(t.address, 0xFACE);
    EXPECT_EQ(t.reg, nullptr);
    ASSERT_TRUE(ResolveRegister(map, "face", &t, &error)) << error;
    EXPECT_EQ(t.address, 0xFACE) << "names are matched as written";
}

// Values as the map names them, both ways.
struct NamedValueRow {
    const char* name;
    const char* field; // of CTRL
    const char* text;  // typed
    bool ok;
    std::uint16_t value; // the field's value
    const char* error;   // when refused
};

class NamedValue : public ::testing::TestWithParam<NamedValueRow> {};

TEST_P(NamedValue, EncodedByNameOrNumber)
{
    RegisterMap map;
    std::string error;
    ASSERT_TRUE(ParseRegisterMap(kNamedMap, "m.json", &map, &error)) << error;
    const NamedValueRow& row = GetParam();
    std::uint16_t value = 0xFFFF;
    ASSERT_EQ(EncodeFieldValue(*map.Find("CTRL")->Field(row.field), row.text, &value, &error), row.ok) << error;
    if (row.ok)
        EXPECT_EQ(value, row.value);
    else
        EXPECT_EQ(error, row.error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NamedValue,
    ::testing::Values(NamedValueRow{"name", "MODE", "continuous", true, 2, ""},
                      NamedValueRow{"nameOfZero", "MODE", "off", true, 0, ""},
                      NamedValueRow{"numberBesideNames", "MODE", "1", true, 1, ""},
                      NamedValueRow{"prefixedNumber", "GAIN", "0x7", true, 7, ""},
                      NamedValueRow{"unknownName", "MODE", "burst", false, 0,
                                    "'burst' is no value of field MODE (off, continuous, single, or 0 to 0x0003)"},
                      NamedValueRow{"tooWide", "GAIN", "8", false, 0, "'8' is no value of field GAIN (0 to 0x0007)"},
                      NamedValueRow{"namesAreMatchedAsWritten", "MODE", "Single", false, 0,
                                    "'Single' is no value of field MODE (off, continuous, single, or 0 to 0x0003)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NamedValue, DecodedWithNamesInFieldOrder)
{
    RegisterMap map;
    std::string error;
    ASSERT_TRUE(ParseRegisterMap(kNamedMap, "m.json", &map, &error)) << error;
    const RegisterInfo& ctrl = *map.Find("CTRL");
    EXPECT_EQ(DecodedText(ctrl, 0x8032), "MODE=continuous(2) GAIN=3 IRQ=0 ERR=0 EN=1");
    EXPECT_EQ(DecodedText(ctrl, 0x0371), "MODE=1 GAIN=7 IRQ=1 ERR=1 EN=0") << "1 has no name";
    EXPECT_EQ(DecodedText(*map.Find("EXPOSURE"), 0x1234), "") << "no fields";
    EXPECT_EQ(ctrl.description, "Pipeline control");
    EXPECT_EQ(ctrl.Field("MODE")->description, "Capture mode");
    EXPECT_EQ(ctrl.W1cMask(), 0x0300);
    EXPECT_EQ(map.Find("INT")->W1cMask(), 0xFFFF);
    EXPECT_EQ(map.Find("FIFO")->access, RegisterAccess::ReadClears);
    EXPECT_EQ(map.Find("STATUS")->access, RegisterAccess::Volatile);
}

// ---- Presets ---------------------------------------------------------------

TEST(Preset, SavedTextReadsBackTheSame)
{
    Preset p;
    p.adjust.brightness = 255; // each limit is a value of its own
    p.adjust.blue = 0;
    p.writes = {{"EXPOSURE", 0xFFFF, 0}, {"CTRL.GAIN", 3, 0}};
    Preset back;
    std::string error;
    ASSERT_TRUE(ParsePreset(PresetText(p), "p.json", &back, &error)) << error;
    EXPECT_EQ(back.adjust.brightness, 255);
    EXPECT_EQ(back.adjust.blue, 0);
    EXPECT_EQ(back.adjust.contrast, 128);
    ASSERT_EQ(back.writes.size(), 2u);
    EXPECT_EQ(back.writes[0].value, 0xFFFF);
    EXPECT_EQ(back.writes[1].reg, "CTRL.GAIN");
    EXPECT_EQ(back.writes[1].value, 3);
}

TEST(Preset, AFailedSaveLeavesNoTemporaryFile)
{
    test::TempDir dir;
    const std::string path = dir.Path() + "/p.json";
    std::filesystem::create_directory(path); // the rename over it fails
    std::string error;
    EXPECT_FALSE(SavePreset(path, Preset{}, &error));
    EXPECT_EQ(error.rfind(path + ": cannot write: ", 0), 0u) << error;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

struct BadPresetRow {
    const char* name;
    const char* text;
    const char* what;
};

class BadPreset : public ::testing::TestWithParam<BadPresetRow> {};

TEST_P(BadPreset, RefusedWithTheFileAndLine)
{
    Preset p;
    std::string error;
    EXPECT_FALSE(ParsePreset(GetParam().text, "p.json", &p, &error));
    EXPECT_EQ(error.rfind("p.json:", 0), 0u) << error;
    EXPECT_NE(error.find(GetParam().what), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

constexpr const char* kFive = R"("brightness": 1, "contrast": 2, "red": 3, "green": 4)";

INSTANTIATE_TEST_SUITE_P(
    Table, BadPreset,
    ::testing::Values(BadPresetRow{"missingBlue", "{\"adjustments\": {\"brightness\": 1}}", "is missing"},
                      BadPresetRow{"over255",
                                   "{\"adjustments\": {\"brightness\": 256, \"contrast\": 2, \"red\": 3, "
                                   "\"green\": 4, \"blue\": 5}}",
                                   "0..255"},
                      BadPresetRow{"unknownAdjustment", "{\"adjustments\": {\"hue\": 1}}", "\"hue\""},
                      BadPresetRow{
                          "valueOver16Bits",
                          "{\"adjustments\": {\"brightness\": 1, \"contrast\": 2, \"red\": 3, \"green\": 4, "
                          "\"blue\": 5},\n\"registers\": [\n{\"register\": \"0x10\", \"value\": \"0x10000\"}]}",
                          "value"},
                      BadPresetRow{"noAdjustments", "{\"registers\": []}", "no \"adjustments\""},
                      // A newline in a key stays escaped: the complaint is one line.
                      BadPresetRow{"newlineInAKey", "{\"adjust\\nments\": {}}", "unknown key \"adjust\\nments\""},
                      BadPresetRow{"newlineInAnAdjustment", "{\"adjustments\": {\"h\\nue\": 1}}",
                                   "unknown adjustment \"h\\nue\""},
                      BadPresetRow{"notJson", "brightness=3", "syntax error"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The command line --------------------------------------------------------

struct BringUpParseRow {
    const char* name;
    std::vector<std::string> args;
    Verb verb; // Help for a refused line
    // Accepted: what the command carries ("address EXPOSURE value 0x0200
    // verify"); refused: the whole error line.
    std::string expected;
};

// The parsed command as the user gave it, field by field.
std::string Facts(const CtlCommand& c, const CtlOptions& o)
{
    std::string text;
    const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    if (!c.address.empty())
        add("address " + c.address);
    for (const std::string& r : c.registers)
        add("register " + r);
    if (c.verb == Verb::RegWrite || c.verb == Verb::RegExpect)
        add("value " + Hex16(c.word));
    if (c.verify)
        add("verify");
    if (c.verb == Verb::RegWatch)
        add("interval " + std::to_string(c.intervalMs) + " count " + std::to_string(c.count));
    if (c.csv)
        add("csv");
    if (!c.file.empty())
        add("file " + c.file);
    if (c.againstReset)
        add("against reset");
    const auto name = [](const PortRef& port) { return port.IsNumber() ? std::to_string(port.number) : port.name; };
    if (o.port.kind != PortRef::Kind::None)
        add("port " + name(o.port));
    if (o.allPorts)
        add("ports all");
    for (const PortRef& port : o.ports)
        add("board " + name(port));
    if (!o.capture.empty())
        add("capture " + o.capture);
    if (!o.map.empty())
        add("map " + o.map);
    if (o.stopAtLoss)
        add("stop at loss");
    if (o.rs485)
        add("rs485");
    if (c.verb == Verb::Sleep)
        add("sleep " + std::to_string(c.sleepMs));
    if (c.verb == Verb::PresetSave) {
        add("red " + std::to_string(c.preset.adjust.red));
        for (const PresetRegisterWrite& w : c.preset.writes)
            add("reg " + w.reg + "=" + Hex16(w.value));
    }
    return text;
}

// A failing row is named, not dumped as bytes.
void PrintTo(const BringUpParseRow& row, std::ostream* os) { *os << row.name; }

class BringUpCommandLine : public ::testing::TestWithParam<BringUpParseRow> {};

TEST_P(BringUpCommandLine, ParsesOrRefusesWithOneLine)
{
    const BringUpParseRow& row = GetParam();
    ParsedCommandLine p = ParseCommandLine(row.args);
    ASSERT_EQ(p.ok, row.verb != Verb::Help) << p.error;
    if (p.ok) {
        EXPECT_EQ(p.command.verb, row.verb);
        EXPECT_EQ(Facts(p.command, p.options), row.expected);
    } else {
        EXPECT_EQ(p.error, row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BringUpCommandLine,
    ::testing::Values(
        BringUpParseRow{"dumpRange", {"reg", "dump", "0x10", "0x1f"}, Verb::RegDump, "register 0x10 register 0x1f"},
        BringUpParseRow{"dumpNames",
                        {"--map", "m.json", "reg", "dump", "EXPOSURE", "CTRL", "ID"},
                        Verb::RegDump,
                        "register EXPOSURE register CTRL register ID map m.json"},
        BringUpParseRow{"dumpWholeMap", {"reg", "dump"}, Verb::RegDump, ""},
        BringUpParseRow{"writeVerify",
                        {"reg", "write", "EXPOSURE", "0x0200", "--verify"},
                        Verb::RegWrite,
                        "address EXPOSURE value 0x0200 verify"},
        BringUpParseRow{"verifyFirst",
                        {"reg", "write", "--verify", "10", "beef"},
                        Verb::RegWrite,
                        "address 10 value 0xbeef verify"},
        BringUpParseRow{
            "writeField", {"reg", "write", "CTRL.GAIN", "3"}, Verb::RegWrite, "address CTRL.GAIN value 0x0003"},
        BringUpParseRow{"watch",
                        {"reg", "watch", "10", "--interval", "50", "--count", "3"},
                        Verb::RegWatch,
                        "address 10 interval 50 count 3"},
        BringUpParseRow{
            "watchDefaults", {"reg", "watch", "EXPOSURE"}, Verb::RegWatch, "address EXPOSURE interval 200 count 0"},
        BringUpParseRow{"watchTenDigitCount",
                        {"reg", "watch", "10", "--count", "1000000000", "--interval", "3600000"},
                        Verb::RegWatch,
                        "address 10 interval 3600000 count 1000000000"},
        BringUpParseRow{
            "expect", {"--json", "reg", "expect", "10", "beef"}, Verb::RegExpect, "address 10 value 0xbeef"},
        BringUpParseRow{"presetApply", {"preset", "apply", "p.json"}, Verb::PresetApply, "file p.json"},
        BringUpParseRow{"presetSave",
                        {"preset", "save", "p.json", "--red", "7", "--reg", "CTRL.GAIN=3"},
                        Verb::PresetSave,
                        "file p.json red 7 reg CTRL.GAIN=0x0003"},
        BringUpParseRow{"diagnose", {"--map=m.json", "diagnose"}, Verb::Diagnose, "map m.json"},
        BringUpParseRow{"sleep", {"sleep", "250"}, Verb::Sleep, "sleep 250"},
        BringUpParseRow{"monitor", {"--port", "3", "--json", "monitor"}, Verb::Monitor, "port 3"},
        BringUpParseRow{"portList", {"--port", "9,COM7,8", "connect"}, Verb::Connect, "board 7 board 8 board 9"},
        BringUpParseRow{"mapThenPortList",
                        {"--map", "m.json", "--port", "200,201", "reg", "read", "EXPOSURE"},
                        Verb::RegRead,
                        "address EXPOSURE board 200 board 201 map m.json"},
        BringUpParseRow{
            "stopAtLoss", {"--stop-at-loss", "--port", "3", "monitor"}, Verb::Monitor, "port 3 stop at loss"},
        BringUpParseRow{"rs485", {"--rs485", "--port", "33", "connect"}, Verb::Connect, "port 33 rs485"},
        BringUpParseRow{"optionsAfterTheVerb",
                        {"connect", "--port", "200"},
                        Verb::Help,
                        "connect: takes no arguments (options go before the verb: pelvarctl --port 200 connect)"},
        BringUpParseRow{"optionsAfterTheVerbAmongItsOwn",
                        {"--json", "reg", "watch", "10", "--port=5", "--count", "3", "--stop-at-loss"},
                        Verb::Help,
                        "reg watch: usage: reg watch ADDR [--interval MS] [--count N] [--csv] (options go before the verb: "
                        "pelvarctl --json --port=5 --stop-at-loss reg watch 10 --count 3)"},
        BringUpParseRow{"snapshotOfSeveralBoards",
                        {"--port", "all", "reg", "snapshot", "s.json"},
                        Verb::Help,
                        "reg snapshot: one board at a time (each would write s.json)"},
        BringUpParseRow{"csvWithJson",
                        {"--json", "reg", "watch", "CTRL", "--csv"},
                        Verb::Help,
                        "reg watch: --csv is for one board and without --json"},
        BringUpParseRow{"diffReset", {"reg", "diff", "reset"}, Verb::RegDiff, "file reset against reset"},
        BringUpParseRow{"restore", {"reg", "restore", "s.json"}, Verb::RegRestore, "file s.json"},
        BringUpParseRow{"watchCsv",
                        {"reg", "watch", "CTRL", "--csv", "--count", "2"},
                        Verb::RegWatch,
                        "address CTRL interval 200 count 2 csv"},
        BringUpParseRow{"valueNameForAWholeRegister",
                        {"reg", "write", "CTRL", "continuous"},
                        Verb::Help,
                        "reg write: value 'continuous' is not a hexadecimal number from 0 to 0xFFFF"},
        BringUpParseRow{"snapshotWithoutFile",
                        {"reg", "snapshot"},
                        Verb::Help,
                        "reg snapshot: usage: reg snapshot FILE"},
        BringUpParseRow{"portListOfNames",
                        {"--port", "rfc2217://lab:2217,/dev/pts/3,COM7", "connect"},
                        Verb::Connect,
                        "board 7 board /dev/pts/3 board rfc2217://lab:2217"},
        BringUpParseRow{"portUrl",
                        {"--port", "rfc2217://lab:2217?ign_purge", "connect"},
                        Verb::Connect,
                        "port rfc2217://lab:2217?ign_purge"},
        BringUpParseRow{"portAll", {"--port=all", "diagnose"}, Verb::Diagnose, "ports all"},
        BringUpParseRow{
            "lastPortWins", {"--port", "all", "--port", "7,8", "--port", "3", "connect"}, Verb::Connect, "port 3"},
        BringUpParseRow{"portListBad", {"--port", "41,x", "connect"}, Verb::Help,
                        "--port: 'x' is not a port number from 1 to 255, COMn, a device path or rfc2217://HOST:PORT"},
        BringUpParseRow{
            "captureAnyVerb", {"--capture", "s.pcapng", "set", "brightness", "200"}, Verb::Set, "capture s.pcapng"},
        BringUpParseRow{
            "monitorArgument", {"--port", "3", "monitor", "now"}, Verb::Help, "monitor: takes no arguments"},
        BringUpParseRow{"captureMissing",
                        {"set", "--capture"},
                        Verb::Help,
                        "set: usage: set brightness|contrast|red|green|blue VALUE"},
        BringUpParseRow{"captureFileMissing", {"--capture"}, Verb::Help, "--capture: missing file name"},
        BringUpParseRow{"captureEmpty", {"--capture=", "connect"}, Verb::Help, "--capture: empty file name"},
        BringUpParseRow{
            "addressOver16Bits", {"reg", "read", "12345"}, Verb::Help, "reg read: address '12345' is over 0xFFFF"},
        BringUpParseRow{"prefixedAddressOver16Bits",
                        {"reg", "dump", "0x0", "0x10000"},
                        Verb::Help,
                        "reg dump: address '0x10000' is over 0xFFFF"},
        BringUpParseRow{"valueOver16Bits",
                        {"reg", "write", "10", "10000"},
                        Verb::Help,
                        "reg write: value '10000' is not a hexadecimal number from 0 to 0xFFFF"},
        BringUpParseRow{"negativeValue",
                        {"reg", "write", "10", "-1"},
                        Verb::Help,
                        "reg write: value '-1' is not a hexadecimal number from 0 to 0xFFFF"},
        BringUpParseRow{"addressNeitherNumberNorName",
                        {"reg", "read", "1x"},
                        Verb::Help,
                        "reg read: '1x' is neither a hexadecimal address nor a register name"},
        BringUpParseRow{
            "expectWithoutValue", {"reg", "expect", "10"}, Verb::Help, "reg expect: usage: reg expect ADDR VALUE"},
        BringUpParseRow{"watchZeroInterval",
                        {"reg", "watch", "10", "--interval", "0"},
                        Verb::Help,
                        "reg watch: --interval '0' is not milliseconds from 1 to 3600000"},
        BringUpParseRow{"watchCountOverLimit",
                        {"reg", "watch", "10", "--count", "1000000001"},
                        Verb::Help,
                        "reg watch: --count '1000000001' is not a number from 1 to 1000000000"},
        BringUpParseRow{"watchCountElevenDigits",
                        {"reg", "watch", "10", "--count", "00000000001"},
                        Verb::Help,
                        "reg watch: --count '00000000001' is not a number from 1 to 1000000000"},
        BringUpParseRow{
            "watchCountMissing", {"reg", "watch", "10", "--count"}, Verb::Help, "reg watch: --count needs a number"},
        BringUpParseRow{"watchTwoAddresses",
                        {"reg", "watch", "10", "11"},
                        Verb::Help,
                        "reg watch: usage: reg watch ADDR [--interval MS] [--count N] [--csv]"},
        BringUpParseRow{"presetSaveBadValue",
                        {"preset", "save", "p.json", "--green", "256"},
                        Verb::Help,
                        "preset save: --green '256' is not a number from 0 to 255"},
        BringUpParseRow{"presetSaveUnknownOption",
                        {"preset", "save", "p.json", "--hue", "3"},
                        Verb::Help,
                        "preset save: unknown option '--hue'"},
        BringUpParseRow{"presetSaveRegWithoutValue",
                        {"preset", "save", "p.json", "--reg", "10"},
                        Verb::Help,
                        "preset save: --reg '10' is not ADDR=VALUE"},
        BringUpParseRow{"presetNoFile",
                        {"preset", "apply"},
                        Verb::Help,
                        "preset: usage: preset apply FILE | preset save FILE [--brightness N] [--contrast N] [--red N] "
                        "[--green N] [--blue N] [--reg ADDR=VALUE]..."},
        BringUpParseRow{"diagnoseArgument", {"diagnose", "now"}, Verb::Help, "diagnose: takes no arguments"},
        BringUpParseRow{"mapMissing", {"--map"}, Verb::Help, "--map: missing file name"},
        BringUpParseRow{"sleepTooLong", {"sleep", "3600001"}, Verb::Help, "sleep: usage: sleep MS (0 to 3600000)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BringUpScriptLine, ExpectAndSleepAreScriptLinesAndAWatchMustEnd)
{
    ParsedScriptLine expect = ParseScriptLine("reg expect EXPOSURE 0x0200");
    ASSERT_TRUE(expect.ok) << expect.error;
    EXPECT_EQ(expect.command.word, 0x0200);
    ParsedScriptLine sleep = ParseScriptLine("sleep 40");
    ASSERT_TRUE(sleep.ok);
    EXPECT_EQ(sleep.command.sleepMs, 40u);
    EXPECT_TRUE(ParseScriptLine("reg watch 10 --count 2").ok);
    EXPECT_FALSE(ParseScriptLine("reg watch 10").ok);
    EXPECT_EQ(ParseScriptLine("reg watch 10 --count 2 --csv").error,
              "reg watch: --csv is not for a script (its rows would mix with the other verbs' lines)");
    EXPECT_TRUE(ParseScriptLine("reg snapshot s.json").ok);
    EXPECT_FALSE(ParseScriptLine("diagnose").ok);
}

// ---- On the simulated board ------------------------------------------------

// The simulated board with two faults a real board can have: writes that do
// not stick (every value stored is 0), and a register that changes by itself
// at a given read.
class TamperedBoard : public ISimDevice {
public:
    explicit TamperedBoard(const SimBoardOptions& options = {}) : m_inner(options) {}

    void OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n) override
    {
        const std::uint8_t cmd = n > 2 ? data[2] : 0;
        // CMD_REG_WRITE of 0x0001 and of 0x0000.
        static const std::uint8_t kWriteOne[] = {0x02, 0x04, 0xA4, 0x01, 0x00, 0xA3, 0x03};
        static const std::uint8_t kWriteZero[] = {0x02, 0x04, 0xA4, 0x00, 0x00, 0xA2, 0x03};
        if (cmd == CMD_REG_READ && ++m_reads == changeAtRead)
            m_inner.Board().Feed(kWriteOne, sizeof kWriteOne, line.Now());
        if (cmd == dropCmd && std::count(dropAt.begin(), dropAt.end(), ++m_seen) > 0)
            return;
        if (cmd == CMD_REG_WRITE && n > 4)
            written.push_back(static_cast<std::uint16_t>(data[3] | data[4] << 8));
        if (cmd == CMD_REG_WRITE || cmd == CMD_REG_READ)
            registerFrames.push_back(HexBytes(data, n));
        if (cmd == CMD_REG_ADDRESS && n > 4)
            latched.push_back(static_cast<std::uint16_t>(data[3] | data[4] << 8));
        if (cmd == CMD_REG_WRITE && writesLost) {
            m_inner.OnHostBytes(line, kWriteZero, sizeof kWriteZero);
            return;
        }
        m_inner.OnHostBytes(line, data, n);
    }

    SimBoard& Board() { return m_inner.Board(); }
    bool writesLost = false;
    std::vector<std::uint16_t> written;      // the values of the register writes received
    std::vector<std::string> registerFrames; // CMD_REG_WRITE and CMD_REG_READ frames as received
    std::vector<std::uint16_t> latched;      // the addresses of CMD_REG_ADDRESS, in order
    int changeAtRead = 0;                    // the latched register becomes 0x0001 at this read
    // These frames of command dropCmd (counted from 1) are lost on the way.
    std::uint8_t dropCmd = 0xFF;
    std::vector<int> dropAt;

private:
    SimBoardDevice m_inner;
    int m_reads = 0;
    int m_seen = 0;
};

class BringUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddPort(5, &board);
        mapPath = dir.Path() + "/registers.json";
        std::ofstream(mapPath) << kMap;
    }

    CtlCapture Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--port", "5", "--map", mapPath});
        return RunCtlCaptured(args, sim);
    }

    std::string WriteFile(const std::string& name, const std::string& text)
    {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    test::ScopedEnv noDefaultMap{"XDG_CONFIG_HOME", "/nonexistent"};
    test::TempDir dir;
    std::string mapPath;
    SimPlatform sim;
    TamperedBoard board;
};

// The same on a map with named values, w1c bits and read-clear registers.
class NamedBringUp : public BringUp {
protected:
    void SetUp() override
    {
        BringUp::SetUp();
        std::ofstream(mapPath) << kNamedMap;
    }
};

TEST_F(NamedBringUp, AFieldWriteWritesZeroToTheOtherW1cBits)
{
    ASSERT_EQ(Run({"reg", "write", "CTRL", "8372"}).status, 0); // IRQ and ERR pending, MODE 2, GAIN 7
    board.registerFrames.clear();
    CtlCapture r = Run({"reg", "write", "CTRL.GAIN", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    // 0x8012: GAIN 1, MODE and EN kept, IRQ and ERR written 0 so that they stay pending.
    EXPECT_EQ(board.registerFrames, (std::vector<std::string>{"02 02 24 24 03", "02 04 A4 12 80 30 03"}));
    ASSERT_EQ(Run({"reg", "write", "CTRL", "8372"}).status, 0);
    board.registerFrames.clear();
    ASSERT_EQ(Run({"reg", "write", "CTRL.IRQ", "1"}).status, 0);
    EXPECT_EQ(board.registerFrames, (std::vector<std::string>{"02 02 24 24 03", "02 04 A4 72 81 51 03"}))
        << "the IRQ bit written 1 to clear it, ERR written 0";
}

TEST_F(NamedBringUp, AVerifiedWriteLeavesTheW1cBitsOutAndAW1cFieldIsNotVerified)
{
    board.writesLost = true; // every value stored reads 0, as cleared w1c bits do
    CtlCapture cleared = Run({"reg", "write", "CTRL", "0300", "--verify"});
    EXPECT_EQ(cleared.status, 0) << cleared.out;
    EXPECT_EQ(Run({"reg", "write", "CTRL", "0301", "--verify"}).status, 1) << "MODE is no w1c bit";
    CtlCapture field = Run({"reg", "write", "CTRL.IRQ", "1", "--verify"});
    EXPECT_EQ(field.status, 2);
    EXPECT_EQ(field.err, "pelvarctl: reg write: CTRL.IRQ is w1c: a 1 written clears it, so a read-back never shows "
                         "it; write without verify\n");
}

TEST_F(NamedBringUp, AReadClearRegistersFieldIsNotReadModifyWritten)
{
    CtlCapture r = Run({"reg", "write", "FIFO.LEVEL", "3"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "pelvarctl: reg write: register FIFO is read-clear (rc in the map): a field write would read it "
                     "first; write the whole register\n");
    EXPECT_EQ(sim.OpenCalls(5), 0);
    EXPECT_EQ(Run({"reg", "write", "FIFO", "3"}).status, 0) << "the whole register is written without a read";
    EXPECT_EQ(board.Board().Register(0x31), 3);
}

TEST_F(NamedBringUp, ReadsShowFieldsByNameAndWritesTakeNames)
{
    ASSERT_EQ(Run({"reg", "write", "CTRL", "8032"}).status, 0);
    EXPECT_EQ(Run({"reg", "read", "CTRL"}).out,
              "result: LINK_OK (0)\nvalue: 0x8032\ndecoded: CTRL 0x8032 MODE=continuous(2) GAIN=3 IRQ=0 ERR=0 EN=1\n");
    const CtlCapture json = Run({"--json", "reg", "read", "CTRL"});
    const nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["value"], 0x8032);
    EXPECT_EQ(j["fields"]["MODE"], nlohmann::json::parse(R"({"value": 2, "name": "continuous"})"));
    EXPECT_EQ(j["fields"]["GAIN"], nlohmann::json::parse(R"({"value": 3})"));
    board.registerFrames.clear();
    const CtlCapture write = Run({"reg", "write", "CTRL.MODE", "single"});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(board.registerFrames, (std::vector<std::string>{"02 02 24 24 03", "02 04 A4 33 80 11 03"}));
    EXPECT_EQ(Run({"reg", "read", "CTRL.MODE"}).out,
              "result: LINK_OK (0)\nvalue: 0x0003\nregister: 0x8033\ndecoded: CTRL.MODE=single(3)\n");
    EXPECT_EQ(Run({"reg", "expect", "CTRL.MODE", "single"}).status, 0);
    EXPECT_EQ(Run({"reg", "expect", "CTRL.MODE", "off"}).status, 1);
    const CtlCapture unknown = Run({"reg", "write", "CTRL.MODE", "burst"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "pelvarctl: reg write: 'burst' is no value of field MODE (off, continuous, single, or 0 to "
                           "0x0003)\n");
}

TEST_F(NamedBringUp, ADumpReadsAReadClearRegisterOnlyWhenNamed)
{
    CtlCapture all = Run({"reg", "dump"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_NE(all.out.find("0x0031 not read (rc: a read clears it; name it to read it) FIFO\n"), std::string::npos)
        << all.out;
    EXPECT_EQ(std::count(board.latched.begin(), board.latched.end(), 0x31), 0);
    CtlCapture range = Run({"reg", "dump", "0x30", "0x32"});
    EXPECT_EQ(std::count(board.latched.begin(), board.latched.end(), 0x31), 0) << range.out;
    CtlCapture named = Run({"reg", "dump", "FIFO"});
    EXPECT_EQ(named.out, "0x0031 0x0000 FIFO\nresult: LINK_OK (0)\n");
    EXPECT_EQ(std::count(board.latched.begin(), board.latched.end(), 0x31), 1);
}

TEST_F(NamedBringUp, SnapshotDiffAndRestoreOnTheBoard)
{
    const std::string file = dir.Path() + "/day1.json";
    for (const char* w : {"EXPOSURE=0200", "CTRL=8032", "STATUS=0001"})
        ASSERT_EQ(Run({"reg", "write", std::string(w).substr(0, std::string(w).find('=')),
                       std::string(w).substr(std::string(w).find('=') + 1)})
                      .status,
                  0);
    board.latched.clear();
    CtlCapture snap = Run({"reg", "snapshot", file});
    ASSERT_EQ(snap.status, 0) << snap.err;
    EXPECT_EQ(snap.out, "result: LINK_OK (0)\n"
                        "not read: KICK (wo: it cannot be read)\n"
                        "not read: FIFO (rc: a read clears it, so it is not read unless named)\n"
                        "registers: 5\nsaved: " + file + "\n");
    EXPECT_EQ(board.latched, (std::vector<std::uint16_t>{0x10, 0x11, 0x12, 0x30, 0x32})) << "map order, no rc";
    const nlohmann::json saved = nlohmann::json::parse(std::ifstream(file));
    EXPECT_EQ(saved["map"]["file"], mapPath);
    EXPECT_EQ(saved["map"]["fnv1a64"], "827d10ac20c3dbf7");
    EXPECT_EQ(saved["registers"][2], nlohmann::json::parse(R"({"name": "CTRL", "address": "0x0012", "value": "0x8032"})"));

    CtlCapture same = Run({"reg", "diff", file});
    EXPECT_EQ(same.status, 0) << same.out << same.err;
    EXPECT_EQ(same.out, "result: LINK_OK (0)\ndiffer: 0\n");

    ASSERT_EQ(Run({"reg", "write", "CTRL.MODE", "off"}).status, 0);
    ASSERT_EQ(Run({"reg", "write", "EXPOSURE", "0300"}).status, 0);
    ASSERT_EQ(Run({"reg", "write", "STATUS", "0005"}).status, 0);
    CtlCapture changed = Run({"reg", "diff", file});
    EXPECT_EQ(changed.status, 1);
    EXPECT_EQ(changed.out, "EXPOSURE 0x0010: 0x0200 -> 0x0300\n"
                           "CTRL 0x0012: 0x8032 -> 0x8030, MODE continuous(2) -> off(0)\n"
                           "STATUS (volatile) 0x0030: 0x0001 -> 0x0005\n"
                           "result: LINK_OK (0)\ndiffer: 3\n");
    EXPECT_EQ(std::count(board.latched.begin(), board.latched.end(), 0x31), 0) << "diff reads no rc register";
    const CtlCapture json = Run({"--json", "reg", "diff", file});
    EXPECT_EQ(json.status, 1);
    const nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["differences"][1], nlohmann::json::parse(R"({"name": "CTRL", "address": 18, "volatile": false,
        "was": 32818, "now": 32816, "fields": {"MODE": {"was": 2, "now": 0}}})"));
    EXPECT_EQ(j["differences"][2]["volatile"], true);
    EXPECT_EQ(j["differ"], 3);

    board.latched.clear();
    CtlCapture restore = Run({"reg", "restore", file});
    EXPECT_EQ(restore.status, 0) << restore.out << restore.err;
    EXPECT_EQ(restore.out, "restored: EXPOSURE 0x0200\n"
                           "not restored: ID (ro: it cannot be written)\n"
                           "restored: CTRL 0x8032\n"
                           "not restored: KICK (wo: it cannot be read)\n"
                           "not restored: STATUS (volatile: it changes by itself)\n"
                           "not restored: FIFO (rc: a read clears it, so it is not read unless named)\n"
                           "not restored: INT (w1c: writing its value would clear it)\n"
                           "result: LINK_OK (0)\nrestored: 2\nfailed: 0\n");
    EXPECT_EQ(board.Board().Register(0x10), 0x0200);
    EXPECT_EQ(board.Board().Register(0x12), 0x8032);
    EXPECT_EQ(board.latched, (std::vector<std::uint16_t>{0x10, 0x10, 0x12, 0x12})) << "each written, then read back";

    board.writesLost = true;
    ASSERT_EQ(Run({"reg", "write", "EXPOSURE", "0300"}).status, 0);
    CtlCapture lost = Run({"reg", "restore", file});
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.out.find("not restored: EXPOSURE (wrote 0x0200, read 0x0000)\n"), std::string::npos) << lost.out;
    EXPECT_NE(lost.out.find("failed: 2\n"), std::string::npos) << lost.out;
}

TEST_F(NamedBringUp, AScriptOnSeveralBoardsTakesNoSnapshot)
{
    const std::string snapshot = dir.Path() + "/s.json";
    const std::string script = WriteFile("s.txt", "reg read CTRL\nreg snapshot " + snapshot + "\n");
    CtlCapture r = RunCtlCaptured({"--port", "5,6", "--map", mapPath, "run", script}, sim);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "pelvarctl: run: reg snapshot: one board at a time (each would write " + snapshot + ")\n");
    EXPECT_EQ(sim.OpenCalls(5), 0);
}

TEST_F(NamedBringUp, DiffAgainstTheResetValuesAndAnotherMapsSnapshot)
{
    CtlCapture reset = Run({"reg", "diff", "reset"});
    EXPECT_EQ(reset.status, 1);
    EXPECT_EQ(reset.out, "EXPOSURE 0x0010: 0x0100 -> 0x0000\n"
                         "ID 0x0011: 0x5a01 -> 0x0000\n"
                         "result: LINK_OK (0)\ndiffer: 2\n");
    const std::string other = WriteFile(
        "other.json", R"({"map": {"file": "old.json", "fnv1a64": "0000000000000001"},
"registers": [{"name": "EXPOSURE", "address": "0x0010", "value": "0x0000"}]})");
    CtlCapture diff = Run({"reg", "diff", other});
    EXPECT_EQ(diff.status, 0) << "compared by name all the same";
    EXPECT_EQ(diff.err, "pelvarctl: reg diff: " + other +
                            ": taken with another map (old.json, fnv1a64 0000000000000001); this is " + mapPath +
                            ", fnv1a64 827d10ac20c3dbf7\n");
    board.latched.clear();
    CtlCapture restore = Run({"reg", "restore", other});
    EXPECT_EQ(restore.status, 2);
    EXPECT_EQ(sim.OpenCalls(5), 2) << "restore refused before the port is opened";
    const std::string bad = WriteFile("bad.json", "{\"map\": {},\n\"registers\": [{\"name\": \"A\"}]}");
    CtlCapture malformed = Run({"reg", "restore", bad});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.err, "pelvarctl: " + bad +
                                 ":2: each register needs \"name\", and \"address\" and \"value\" from 0 to 0xffff\n");
}

TEST_F(NamedBringUp, WatchAsCsvHasEveryReadAndAGapForAFailedOne)
{
    ASSERT_EQ(Run({"reg", "write", "CTRL", "8032"}).status, 0);
    board.dropCmd = CMD_REG_READ;
    board.dropAt = {2}; // the watch's second read is lost on the way
    CtlCapture r = Run({"reg", "watch", "CTRL", "--interval", "1000", "--count", "3", "--csv"});
    EXPECT_EQ(r.status, 1) << "a read failed";
    EXPECT_EQ(r.out, "ms,value,MODE,GAIN,IRQ,ERR,EN\n0,32818,2,3,0,0,1\n1000,,,,,,\n2000,32818,2,3,0,0,1\n");
    EXPECT_EQ(RunCtlCaptured({"--port", "5", "--json", "reg", "watch", "CTRL", "--count", "1", "--csv"}, sim).status,
              2);
}

struct RefusalRow {
    const char* name;
    std::vector<std::string> args; // "{file}" stands for a file holding `file`
    const char* what;
    std::string file = {}; // may hold a NUL byte
};

class BringUpRefusal : public BringUp, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(BringUpRefusal, ExitTwoOneLineAndNothingSent)
{
    std::vector<std::string> args = GetParam().args;
    if (!GetParam().file.empty()) {
        const std::string path = WriteFile("row.json", GetParam().file);
        std::replace(args.begin(), args.end(), std::string("{file}"), path);
    }
    CtlCapture r = Run(args);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_NE(r.err.find(GetParam().what), std::string::npos) << r.err;
    EXPECT_EQ(sim.OpenCalls(5), 0) << "the port is not even opened";
}

INSTANTIATE_TEST_SUITE_P(
    Table, BringUpRefusal,
    ::testing::Values(
        RefusalRow{"nameNotInMap", {"reg", "read", "GAIN"}, "no register address and no name"},
        RefusalRow{"fieldNotInRegister", {"reg", "write", "CTRL.MODE", "1"}, "no field 'MODE'"},
        RefusalRow{"addressOver16Bits", {"reg", "read", "0x10000"}, "over 0xFFFF"},
        RefusalRow{"fromAboveTo", {"reg", "dump", "0x20", "0x10"}, "above TO"},
        RefusalRow{"valueOver16Bits", {"reg", "write", "EXPOSURE", "1beef"}, "0xFFFF"},
        RefusalRow{"valueWiderThanField", {"reg", "write", "CTRL.GAIN", "8"}, "does not fit CTRL.GAIN"},
        RefusalRow{"valueWiderThanRegister", {"reg", "write", "LED", "100"}, "does not fit LED (8 bits"},
        RefusalRow{"writeReadOnly", {"reg", "write", "ID", "1"}, "read-only"},
        RefusalRow{"readWriteOnly", {"reg", "read", "KICK"}, "write-only"},
        RefusalRow{"verifyWriteOnly", {"reg", "write", "KICK", "1", "--verify"}, "write-only"},
        RefusalRow{"expectOverField", {"reg", "expect", "CTRL.GAIN", "9"}, "does not fit"},
        RefusalRow{"dumpAField", {"reg", "dump", "CTRL.GAIN", "ID"}, "a field"},
        RefusalRow{"presetMissing",
                   {"preset", "apply", "/nonexistent/p.json"},
                   "/nonexistent/p.json: cannot read the preset: No such file or directory"},
        RefusalRow{"presetSaveUnknownName", {"preset", "save", "/nonexistent/p.json", "--reg", "FOO=1"}, "FOO"},
        RefusalRow{"presetApplyUnknownName",
                   {"preset", "apply", "{file}"},
                   "row.json:3: 'FOO' is no register address and no name in ",
                   "{\"adjustments\": {\"brightness\": 1, \"contrast\": 2, \"red\": 3, \"green\": 4, "
                   "\"blue\": 5},\n\"registers\": [{\"register\": \"EXPOSURE\", \"value\": 1},\n"
                   "{\"register\": \"FOO\", \"value\": 1}]}"},
        RefusalRow{"mapFileMissing",
                   {"--map", "/nonexistent/m.json", "reg", "read", "10"},
                   "pelvarctl: /nonexistent/m.json: cannot read the register map: No such file or directory"},
        // Devices and directories are refused before a byte is read.
        RefusalRow{"mapIsADevice",
                   {"--map", "/dev/zero", "reg", "read", "10"},
                   "pelvarctl: /dev/zero: cannot read the register map: is not a regular file"},
        RefusalRow{"mapIsADirectory",
                   {"--map", "/", "reg", "read", "10"},
                   "pelvarctl: /: cannot read the register map: is a directory"},
        RefusalRow{"presetIsADevice",
                   {"preset", "apply", "/dev/zero"},
                   "pelvarctl: /dev/zero: cannot read the preset: is not a regular file"},
        RefusalRow{"runADirectory", {"run", "/"}, "pelvarctl: run: cannot read '/': is a directory"},
        RefusalRow{
            "runADevice", {"run", "/dev/zero"}, "pelvarctl: run: cannot read '/dev/zero': is not a regular file"},
        RefusalRow{"runTextWithANulByte",
                   {"run", "{file}"},
                   "row.json:2: a NUL byte: this is not a text script",
                   std::string("reg read 10\nreg read 10\0\n", 25)}),
    [](const auto& info) { return std::string(info.param.name); });

// A file over the limit is refused at once: maps, presets and scripts alike.
TEST_F(BringUp, UserFilesOverFourMebibytesAreRefused)
{
    const std::string big = WriteFile("big.json", std::string(4 * 1024 * 1024 + 1, ' '));
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--port", "5", "--map", big, "reg", "read", "10"},
         "pelvarctl: " + big + ": cannot read the register map: is over the 4 MiB limit\n"},
        {{"--port", "5", "--map", mapPath, "preset", "apply", big},
         "pelvarctl: " + big + ": cannot read the preset: is over the 4 MiB limit\n"},
        {{"--port", "5", "--map", mapPath, "run", big},
         "pelvarctl: run: cannot read '" + big + "': is over the 4 MiB limit\n"}};
    for (const auto& [args, message] : rows) {
        CtlCapture r = RunCtlCaptured(args, sim);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, message);
    }
    // Exactly at the limit is no refusal for its size.
    std::filesystem::resize_file(big, 4 * 1024 * 1024);
    EXPECT_EQ(RunCtlCaptured({"--port", "5", "--map", big, "reg", "read", "10"}, sim).err.find("limit"),
              std::string::npos);
    EXPECT_EQ(sim.OpenCalls(5), 0);
}

// Standard input that never ends (/dev/zero, a flood through a pipe) stops at the limit.
TEST(TextStream, StopsOneBlockPastTheLimit)
{
    std::FILE* zero = std::fopen("/dev/zero", "rb");
    ASSERT_NE(zero, nullptr);
    std::string text;
    std::string why;
    EXPECT_FALSE(ReadTextStream(zero, 4 * 1024 * 1024, &text, &why));
    std::fclose(zero);
    EXPECT_EQ(why, "is over the 4 MiB limit");
    EXPECT_LE(text.size(), 4u * 1024 * 1024 + 65536);
}

TEST_F(BringUp, MalformedMapIsRefusedForEveryVerbBeforeAnythingIsOpened)
{
    const std::string bad =
        WriteFile("bad.json", "{\"registers\": [\n  {\"name\": \"A\", \"address\": \"0x10000\"}\n]}\n");
    for (const std::vector<std::string>& verb :
         {std::vector<std::string>{"connect"}, {"reg", "read", "10"}, {"diagnose"}}) {
        std::vector<std::string> args = {"--port", "5", "--map", bad};
        args.insert(args.end(), verb.begin(), verb.end());
        CtlCapture r = RunCtlCaptured(args, sim);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("pelvarctl: " + bad + ":2: register A: address", 0), 0u) << r.err;
    }
    EXPECT_EQ(sim.OpenCalls(5), 0);
}

TEST_F(BringUp, TheDefaultMapComesFromTheConfigDirectory)
{
    dir.MakeDir("config/pelvar");
    WriteFile("config/pelvar/registers.json", kMap);
    test::ScopedEnv config("XDG_CONFIG_HOME", dir.Path() + "/config");
    ASSERT_EQ(RunCtlCaptured({"--port", "5", "reg", "write", "EXPOSURE", "beef"}, sim).status, 0);
    EXPECT_EQ(board.Board().Register(0x10), 0xBEEF);
    WriteFile("config/pelvar/registers.json", "{");
    EXPECT_EQ(RunCtlCaptured({"--port", "5", "reg", "read", "10"}, sim).status, 2);
}

TEST_F(BringUp, RegistersByNameAndFieldsReadModifyWrite)
{
    ASSERT_EQ(Run({"reg", "write", "CTRL", "ffff"}).status, 0);
    CtlCapture field = Run({"reg", "write", "CTRL.GAIN", "3"});
    EXPECT_EQ(field.status, 0) << field.err;
    EXPECT_EQ(board.Board().Register(0x12), 0xFFBF) << "only bits 4..6 change";
    CtlCapture read = Run({"reg", "read", "CTRL.GAIN"});
    EXPECT_EQ(read.out, "result: LINK_OK (0)\nvalue: 0x0003\nregister: 0xffbf\n");
    CtlCapture plain = Run({"reg", "read", "CTRL"});
    EXPECT_EQ(plain.out, "result: LINK_OK (0)\nvalue: 0xffbf\ndecoded: CTRL 0xffbf GAIN=3 TOP=1\n")
        << "text output as before, the fields decoded after";
}

TEST_F(BringUp, FieldWriteReadsFirstAndWritesNothingWhenTheReadFails)
{
    SimBoardOptions options;
    options.dropEvery = 3; // probe, address, then the read's query goes unanswered
    TamperedBoard flaky(options);
    SimPlatform p;
    p.AddPort(5, &flaky);
    CtlCapture r = RunCtlCaptured({"--port", "5", "--map", mapPath, "reg", "write", "CTRL.GAIN", "3"}, p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "result: LINK_ERR_NO_REPLY (-2002)\n");
    EXPECT_EQ(flaky.Board().CommandCount(CMD_REG_WRITE), 0u);
}

TEST_F(BringUp, DumpPrintsEveryRegisterInAddressOrderWithItsName)
{
    ASSERT_EQ(Run({"reg", "write", "EXPOSURE", "beef"}).status, 0);
    CtlCapture r = Run({"reg", "dump", "0x0f", "0x12"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "0x000f 0x0000\n0x0010 0xbeef EXPOSURE\n0x0011 0x0000 ID\n0x0012 0x0000 CTRL\nresult: LINK_OK (0)\n");
    CtlCapture names = Run({"reg", "dump", "SCRATCH", "EXPOSURE", "0x10"});
    EXPECT_EQ(names.out, "0x0010 0xbeef EXPOSURE\n0x00fe 0x0000 SCRATCH\nresult: LINK_OK (0)\n");
    CtlCapture whole = Run({"reg", "dump"});
    EXPECT_NE(whole.out.find("0x0020 write-only KICK\n"), std::string::npos) << "never read";
    EXPECT_EQ(board.Board().LatchedAddress(), 0x00FE) << "the last register of the map was read last";
}

TEST_F(BringUp, DumpGoesOnPastAFailedRegisterAndExitsOne)
{
    SimBoardOptions options;
    options.dropEvery = 4;
    TamperedBoard flaky(options);
    SimPlatform p;
    p.AddPort(5, &flaky);
    CtlCapture r = RunCtlCaptured({"--port", "5", "reg", "dump", "0", "7"}, p);
    EXPECT_EQ(r.status, 1);
    int lines = 0;
    for (char c : r.out)
        lines += c == '\n';
    EXPECT_EQ(lines, 9) << r.out;
    EXPECT_NE(r.out.find(" LINK_ERR_NO_REPLY (-2002)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0x0007 "), std::string::npos) << "the dump reached the end";
    EXPECT_NE(r.out.find("result: LINK_ERR_NO_REPLY (-2002)\n"), std::string::npos);
}

TEST_F(BringUp, VerifiedWriteReadsBack)
{
    CtlCapture good = Run({"reg", "write", "EXPOSURE", "beef", "--verify"});
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "result: LINK_OK (0)\nverify: read back 0xbeef\n");
    board.writesLost = true;
    CtlCapture bad = Run({"reg", "write", "EXPOSURE", "beef", "--verify"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("verify: wrote 0xbeef, read 0x0000\n"), std::string::npos) << bad.out;
    const std::uint32_t readsBefore = board.Board().CommandCount(CMD_REG_READ);
    CtlCapture unverified = Run({"reg", "write", "EXPOSURE", "beef"});
    EXPECT_EQ(unverified.status, 0);
    EXPECT_EQ(unverified.out, "result: LINK_OK (0)\n");
    EXPECT_EQ(board.Board().CommandCount(CMD_REG_READ), readsBefore) << "without --verify nothing is read back";
}

TEST_F(BringUp, WatchPrintsTheFirstValueAndEachChangeOnTheClock)
{
    board.changeAtRead = 3; // the third read sees 0x0001
    const std::uint32_t before = sim.Now();
    CtlCapture r = Run({"reg", "watch", "EXPOSURE", "--interval", "100", "--count", "5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 ms 0x0010 0x0000 EXPOSURE\n200 ms 0x0010 0x0001 EXPOSURE\nresult: LINK_OK (0)\nreads: 5\n");
    EXPECT_GE(sim.Now() - before, 400u);
    EXPECT_LT(sim.Now() - before, 500u) << "no wait after the last read";
    EXPECT_FALSE(sim.IsOpen(5));
}

TEST_F(BringUp, WatchShowsAFailingReadOnceAndTheValueWhenReadsRecover)
{
    board.dropCmd = CMD_REG_READ;
    board.dropAt = {2, 3}; // the second and third reads get no reply
    board.changeAtRead = 4;
    CtlCapture r = Run({"reg", "watch", "EXPOSURE", "--interval", "1000", "--count", "5"});
    EXPECT_EQ(r.status, 1) << "a read failed";
    EXPECT_EQ(r.out, "0 ms 0x0010 0x0000 EXPOSURE\n"
                     "1000 ms 0x0010 LINK_ERR_NO_REPLY (-2002) EXPOSURE\n"
                     "3000 ms 0x0010 0x0001 EXPOSURE\n"
                     "result: LINK_ERR_NO_REPLY (-2002)\nreads: 5\n");
}

// Raises SIGINT once the clock passes a time, as Ctrl-C would.
class InterruptingPlatform : public ForwardingPlatform {
public:
    InterruptingPlatform(SimPlatform& inner, std::uint32_t at) : ForwardingPlatform(inner), m_inner(inner), m_at(at) {}
    void Sleep(std::uint32_t ms) override
    {
        m_inner.Sleep(ms);
        if (!m_raised && m_inner.Now() >= m_at) {
            m_raised = true;
            std::raise(SIGINT);
        }
    }

private:
    SimPlatform& m_inner;
    std::uint32_t m_at;
    bool m_raised = false;
};

TEST_F(BringUp, CtrlCEndsAWatchCleanlyWithThePortReleased)
{
    InterruptingPlatform p(sim, 1050);
    CtlCapture r = RunCtlCaptured({"--port", "5", "reg", "watch", "10"}, p);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("result: LINK_OK (0)\nreads: 6\n"), std::string::npos) << r.out;
    EXPECT_FALSE(sim.IsOpen(5));
    EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL) << "the handler is taken away again";
}

TEST_F(BringUp, MapBeforeAPortListReadsByNameOnEveryBoard)
{
    TamperedBoard second;
    sim.AddPort(6, &second);
    CtlCapture r = RunCtlCaptured({"--map", mapPath, "--port", "5,6", "reg", "read", "EXPOSURE"}, sim);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "COM5: result: LINK_OK (0)\nCOM5: value: 0x0000\nCOM6: result: LINK_OK (0)\nCOM6: value: 0x0000\n");
    EXPECT_EQ(board.Board().CommandCount(CMD_REG_READ), 1u);
    EXPECT_EQ(second.Board().CommandCount(CMD_REG_READ), 1u);
}

// The device of port 5 pulled and plugged back at given times on the
// simulated clock, Ctrl-C at another, as the calls pass them; every open
// of a port is noted with its time.
class UnplugPlatform : public ForwardingPlatform {
public:
    static constexpr std::uint32_t kNever = 0xFFFFFFFF;

    explicit UnplugPlatform(SimPlatform& inner) : ForwardingPlatform(inner), m_inner(inner) {}

    PortHandle OpenPort(int port) override
    {
        Pass();
        opens.push_back(m_inner.Now());
        return m_inner.OpenPort(port);
    }
    PortHandle OpenRef(const PortRef& ref) override
    {
        Pass();
        opens.push_back(m_inner.Now());
        return m_inner.OpenRef(ref);
    }
    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override
    {
        Pass();
        return m_inner.Read(h, buf, len, got);
    }
    void Sleep(std::uint32_t ms) override
    {
        m_inner.Sleep(ms);
        Pass();
    }

    std::uint32_t unplugAt = kNever;
    std::uint32_t plugAt = kNever;
    ISimDevice* pluggedBack = nullptr;
    std::uint32_t interruptAt = kNever;
    std::uint32_t interruptedAt = kNever;
    std::vector<std::uint32_t> opens;

private:
    void Pass()
    {
        const std::uint32_t now = m_inner.Now();
        if (now >= unplugAt) {
            m_inner.RemovePort(5);
            unplugAt = kNever;
        }
        if (now >= plugAt) {
            m_inner.RemovePort(5);
            m_inner.AddPort(5, pluggedBack);
            plugAt = kNever;
        }
        if (now >= interruptAt) {
            interruptAt = kNever;
            interruptedAt = now;
            std::raise(SIGINT);
        }
    }

    SimPlatform& m_inner;
};

// The board hangs up after the first read; a board is back on the port at
// 1150 ms.
struct LostBoard {
    LostBoard()
    {
        sim.AddPort(5, &leaving);
        p.pluggedBack = &back;
        p.plugAt = 1150;
    }
    static SimBoardOptions HangingUp()
    {
        SimBoardOptions o;
        o.hangupAfter = 3; // the probe and the first read's two frames
        return o;
    }
    SimPlatform sim;
    SimBoardDevice leaving{HangingUp()};
    SimBoardDevice back;
    UnplugPlatform p{sim};
};

TEST_F(BringUp, WatchSaysALostBoardAtOnceAndReadsAgainWhenItIsBack)
{
    LostBoard line;
    CtlCapture r = RunCtlCaptured(
        {"--port", "5", "--map", mapPath, "reg", "watch", "EXPOSURE", "--interval", "100", "--count", "15"}, line.p);
    EXPECT_EQ(r.status, 1) << "a read failed";
    EXPECT_EQ(r.out, "0 ms 0x0010 0x0000 EXPOSURE\n"
                     "100 ms 0x0010 LINK_ERR_SEND (-2001) EXPOSURE\n"
                     "1200 ms 0x0010 0x0000 EXPOSURE\n"
                     "result: LINK_ERR_SEND (-2001)\nreads: 5\n");
    EXPECT_EQ(r.err, "pelvarctl: reg watch: COM5 (sim:COM5): the device has gone: absent (Input/output error)\n"
                     "pelvarctl: reg watch: COM5 (sim:COM5): back\n");
    // The first open found the board; then one look every 500 ms at most,
    // at the watch's reads due (2 ms into the clock: after the first probe).
    EXPECT_EQ(line.p.opens, (std::vector<std::uint32_t>{0, 702, 1202}));
    EXPECT_EQ(line.back.Board().CommandCount(CMD_REG_READ), 3u);
    EXPECT_FALSE(line.sim.IsOpen(5));
}

TEST_F(BringUp, WatchEndsAtTheLossWhenAsked)
{
    LostBoard line;
    CtlCapture r = RunCtlCaptured({"--stop-at-loss", "--port", "5", "--json", "--map", mapPath, "reg", "watch",
                                   "EXPOSURE", "--interval", "100", "--count", "20"},
                                  line.p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "{\"verb\":\"reg watch\",\"address\":16,\"name\":\"EXPOSURE\",\"changes\":[{\"ms\":0,\"value\":0},"
                     "{\"ms\":100,\"result\":\"LINK_ERR_SEND\",\"code\":-2001,\"lost\":true}],"
                     "\"result\":\"LINK_ERR_SEND\",\"code\":-2001,\"reads\":2,\"interrupted\":false,"
                     "\"frames\":[],\"exit\":1}\n");
    EXPECT_EQ(r.err, "pelvarctl: reg watch: COM5 (sim:COM5): the device has gone: absent (Input/output error)\n");
    EXPECT_EQ(line.p.opens, (std::vector<std::uint32_t>{0})) << "not looked for again";
}

TEST_F(BringUp, CtrlCEndsAWatchThatWaitsForALostBoard)
{
    // The read at 1000 ms finds the board gone; the next read is due at 2000 ms.
    LostBoard line;
    line.p.plugAt = UnplugPlatform::kNever;
    line.p.interruptAt = 1300;
    CtlCapture r = RunCtlCaptured({"--port", "5", "reg", "watch", "10", "--interval", "1000"}, line.p);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("result: LINK_ERR_SEND (-2001)\nreads: 2\n"), std::string::npos) << r.out;
    EXPECT_LT(line.sim.Now() - line.p.interruptedAt, 200u);
    EXPECT_FALSE(line.sim.IsOpen(5));
    EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
}

// A silent line on COM5 pulled at 1000 ms; what the monitor says and when
// it opens the port again.
TEST(MonitorLoss, SaidAtOnceThenTheLineIsListenedToAgainOrTheMonitorEnds)
{
    struct Row {
        const char* name;
        bool stopAtLoss;
        std::uint32_t plugAt;
        std::uint32_t interruptAt;
        std::string err;
        std::vector<std::uint32_t> opens;
    };
    // The simulated port's words for a handle whose device was removed.
    const std::string gone = "pelvarctl: monitor: COM5 (sim:COM5): the device has gone: Bad file descriptor\n";
    const Row rows[] = {
        {"backAt1700", false, 1700, 2300, gone + "pelvarctl: monitor: COM5 (sim:COM5): back\n", {0, 1500, 2000}},
        {"ctrlCWhileAway", false, UnplugPlatform::kNever, 1300, gone, {0}},
        // Ctrl-C at 2300 only ends a monitor that would go on.
        {"stopAtLoss", true, 1700, 2300, gone, {0}},
    };
    for (const Row& row : rows) {
        SimPlatform sim;
        sim.AddPort(5);
        UnplugPlatform p(sim);
        p.unplugAt = 1000;
        p.plugAt = row.plugAt;
        p.interruptAt = row.interruptAt;
        std::vector<std::string> args = {"--port", "5", "monitor"};
        if (row.stopAtLoss)
            args.insert(args.begin(), "--stop-at-loss");
        CtlCapture r = RunCtlCaptured(args, p);
        EXPECT_EQ(r.status, 1) << row.name;
        EXPECT_EQ(r.err, row.err) << row.name;
        EXPECT_EQ(p.opens, row.opens) << row.name;
        if (row.stopAtLoss)
            EXPECT_LT(sim.Now(), 1100u) << row.name << ": ended at the loss";
        else
            EXPECT_LT(sim.Now() - p.interruptedAt, 200u) << row.name;
        EXPECT_FALSE(sim.IsOpen(5)) << row.name;
        // The line is someone else's: listening again never raised RTS on it.
        if (row.opens.size() > 1) {
            EXPECT_EQ(sim.RtsChanges(5), 0) << row.name;
        }
    }
    EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
}

// A device that hangs up right after its last bytes: they come with the
// verdict, and the monitor shows them before it says the device has gone.
class HangUpAfterBytes : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    bool Read(PortHandle, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override
    {
        const std::uint8_t heard[] = {0x02, 0x02, 0x00, 0x00, 0x03, 0x02, 0x03, 0x00, 0x11, 0x10, 0x03};
        *got = m_told ? 0 : std::min<std::uint32_t>(len, sizeof heard);
        std::memcpy(buf, heard, *got);
        m_told = true;
        return true;
    }
    bool PortGone(PortHandle) override { return m_told; }

private:
    bool m_told = false;
};

TEST(MonitorLoss, TheLastBytesBeforeAHangUpAreHeard)
{
    SimPlatform sim;
    sim.AddPort(5);
    HangUpAfterBytes p(sim);
    CtlCapture r = RunCtlCaptured({"--stop-at-loss", "--port", "5", "monitor"}, p);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("status 0x11: active, ARVEN-L"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "pelvarctl: monitor: COM5 (sim:COM5): the device has gone\n") << "no 'no error' after a hang-up";
}

TEST_F(BringUp, ScriptExpectationsStopTheScriptOnAMismatch)
{
    const std::string script = WriteFile("s.txt", "reg write EXPOSURE beef\nsleep 1000\nreg expect EXPOSURE beef\n"
                                                  "reg expect 0x10 0\nset red 1\n");
    const std::uint32_t before = sim.Now();
    CtlCapture r = Run({"run", script});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("expect: wanted 0x0000, read 0xbeef\n"), std::string::npos) << r.out;
    EXPECT_EQ(board.Board().Adjust().red, 128) << "the line after the mismatch never ran";
    EXPECT_GE(sim.Now() - before, 1000u) << "sleep waits on the platform's clock";
}

TEST_F(BringUp, ScriptLineWithANameNotInTheMapSendsNothing)
{
    const std::string script = WriteFile("s.txt", "set red 1\nreg read GAIN\n");
    CtlCapture r = Run({"run", script});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "pelvarctl: " + script + ":2: reg read: 'GAIN' is no register address and no name in " + mapPath + "\n");
    EXPECT_EQ(sim.OpenCalls(5), 0);
}

TEST_F(BringUp, PresetSavedThenAppliedInFileOrder)
{
    const std::string preset = dir.Path() + "/p.json";
    CtlCapture saved = Run({"preset", "save", preset, "--brightness", "200", "--blue", "7", "--reg", "CTRL=ffff",
                            "--reg", "CTRL.GAIN=2", "--reg", "0x10=beef"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(sim.OpenCalls(5), 0) << "saving needs no board";
    CtlCapture applied = Run({"preset", "apply", preset});
    EXPECT_EQ(applied.status, 0) << applied.out << applied.err;
    EXPECT_EQ(board.Board().Adjust().brightness, 200);
    EXPECT_EQ(board.Board().Adjust().contrast, 128);
    EXPECT_EQ(board.Board().Adjust().blue, 7);
    EXPECT_EQ(board.Board().Register(0x12), 0xFFAF) << "the field write came after the whole one";
    EXPECT_EQ(board.Board().Register(0x10), 0xBEEF);
}

TEST_F(BringUp, PresetStopsAtTheFirstRefusal)
{
    SimBoardOptions options;
    options.nak = true;
    TamperedBoard refusing(options);
    SimPlatform p;
    p.AddPort(5, &refusing);
    const std::string preset = WriteFile("p.json", "{\"adjustments\": {\"brightness\": 1, \"contrast\": 2, \"red\": 3, "
                                                   "\"green\": 4, \"blue\": 5}}");
    CtlCapture r = RunCtlCaptured({"--port", "5", "preset", "apply", preset}, p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "set brightness 1: LINK_ERR_NAK (-2009)\nresult: LINK_ERR_NAK (-2009)\n");
}

TEST_F(BringUp, JsonCarriesTheSameFactsAndTheFrames)
{
    ASSERT_EQ(Run({"reg", "write", "EXPOSURE", "beef"}).status, 0);
    CtlCapture r = Run({"--json", "--trace", "reg", "read", "EXPOSURE"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one object, one line";
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["verb"], "reg read");
    EXPECT_EQ(j["result"], "LINK_OK");
    EXPECT_EQ(j["code"], 0);
    EXPECT_EQ(j["value"], 0xBEEF);
    EXPECT_EQ(j["name"], "EXPOSURE");
    EXPECT_EQ(j["exit"], 0);
    ASSERT_EQ(j["frames"].size(), 6u) << "probe, address, read: each frame and its reply";
    EXPECT_NE(j["frames"][2].get<std::string>().find("> 02 04 A5 10 00 B3 03"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << "with --json the trace goes into the object: " << r.err;

    CtlCapture failed = Run({"--json", "reg", "expect", "EXPOSURE", "0"});
    EXPECT_EQ(failed.status, 1);
    const auto f = nlohmann::json::parse(failed.out);
    EXPECT_EQ(f["matched"], false);
    EXPECT_EQ(f["exit"], 1);
}

TEST_F(BringUp, JsonGivesOneObjectPerScriptLine)
{
    const std::string script = WriteFile("s.txt", "set red 1\nreg dump 10 11\nquery status\n");
    CtlCapture r = Run({"--json", "run", script});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<nlohmann::json> objects;
    std::size_t from = 0;
    for (std::size_t end; (end = r.out.find('\n', from)) != std::string::npos; from = end + 1)
        objects.push_back(nlohmann::json::parse(r.out.substr(from, end - from)));
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[0]["verb"], "set");
    EXPECT_EQ(objects[1]["registers"].size(), 2u);
    EXPECT_EQ(objects[1]["registers"][0]["name"], "EXPOSURE");
    EXPECT_EQ(objects[2]["status"], 0) << "not started";
}

// ---- Progress on a terminal ----------------------------------------------------

std::string Drain(std::FILE* f, char*& buf, std::size_t& len)
{
    std::fflush(f);
    return std::string(buf, len);
}

TEST(Progress, DrawnAfterASecondAtMostFourTimesASecondAndErased)
{
    SimPlatform clock;
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* err = open_memstream(&buf, &len);
    const std::string blank = "\r" + std::string(46, ' ') + "\r";
    {
        std::optional<Progress> p;
        p.emplace(err, clock, "reg dump", "registers", 4096);
        p->Update(0);
        clock.Sleep(999);
        p->Update(9);
        EXPECT_EQ(Drain(err, buf, len), "") << "work that ends within a second shows nothing";
        clock.Sleep(1);
        p->Update(10);
        std::string shown = "\rreg dump: 10/4096 registers, 10.0/s, 6:49 left";
        EXPECT_EQ(Drain(err, buf, len), shown);
        clock.Sleep(100);
        p->Update(11);
        clock.Sleep(150);
        p->Update(12);
        // The shorter line blanks the last character of the longer one.
        shown += "\rreg dump: 12/4096 registers, 9.6/s, 7:06 left ";
        EXPECT_EQ(Drain(err, buf, len), shown);
        p->Erase();
        shown += blank;
        EXPECT_EQ(Drain(err, buf, len), shown);
        // Erased for a line of output: back at the next redraw, not at once.
        p->Update(13);
        EXPECT_EQ(Drain(err, buf, len), shown);
        clock.Sleep(250);
        p->Update(14);
        shown += "\rreg dump: 14/4096 registers, 9.3/s, 7:18 left";
        EXPECT_EQ(Drain(err, buf, len), shown);
        shown += "\r" + std::string(45, ' ') + "\r";
        p.reset();
        EXPECT_EQ(Drain(err, buf, len), shown) << "the destructor erases";
    }
    std::fclose(err);
    std::free(buf);

    Progress hours(nullptr, clock, "reg dump", "registers", 100000);
    clock.Sleep(1000);
    hours.Update(1); // no stream: nothing, and no crash
    char* hbuf = nullptr;
    std::size_t hlen = 0;
    std::FILE* herr = open_memstream(&hbuf, &hlen);
    {
        Progress p(herr, clock, "reg dump", "registers", 100000);
        clock.Sleep(1000);
        p.Update(1);
        EXPECT_EQ(Drain(herr, hbuf, hlen), "\rreg dump: 1/100000 registers, 1.0/s, 27:46:39 left");
    }
    std::fclose(herr);
    std::free(hbuf);
}

// What pelvarctl writes to a terminal that is both its standard output and
// its standard error, as a user sees it (no newline translation).
std::string OnATerminal(const std::vector<std::string>& args, IPlatform& platform, int* status)
{
    test::PseudoTerminal pty;
    termios raw{};
    tcgetattr(pty.Slave(), &raw);
    cfmakeraw(&raw);
    tcsetattr(pty.Slave(), TCSANOW, &raw);
    std::FILE* out = fdopen(dup(pty.Slave()), "w");
    std::FILE* err = fdopen(dup(pty.Slave()), "w");
    // The terminal's buffer is small: read it while pelvarctl writes.
    std::string text;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        char chunk[4096];
        for (;;) {
            pollfd p{pty.Master(), POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                const ssize_t k = read(pty.Master(), chunk, sizeof chunk);
                if (k > 0)
                    text.append(chunk, static_cast<std::size_t>(k));
            } else if (done) {
                return;
            }
        }
    });
    *status = RunPelvarctl(args, out, err, platform);
    std::fclose(err);
    std::fclose(out);
    done = true;
    reader.join();
    return text;
}

// Standard error as a file (2> log): its text.
std::string ErrInAFile(const std::vector<std::string>& args, IPlatform& platform)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    RunPelvarctl(args, out, err, platform);
    std::rewind(err);
    std::string text;
    for (int ch; (ch = std::fgetc(err)) != EOF;)
        text += static_cast<char>(ch);
    std::fclose(out);
    std::fclose(err);
    return text;
}

TEST_F(BringUp, ProgressOnlyOnATerminalNeverOverTheOutputAndNeverWithJson)
{
    const CtlCapture plain = RunCtlCaptured({"--port", "5", "reg", "dump", "0", "ff"}, sim);
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(ErrInAFile({"--port", "5", "reg", "dump", "0", "ff"}, sim), "") << "standard error is no terminal";

    int status = -1;
    const std::string screen = OnATerminal({"--port", "5", "reg", "dump", "0", "ff"}, sim, &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(screen.find("\rreg dump: 1"), std::string::npos) << screen;
    EXPECT_NE(screen.find("/256 registers, "), std::string::npos) << screen;
    // Every progress line is redrawn or blanked before anything else is written;
    // without them the screen holds the plain output.
    const std::regex progress("\r *\r|\rreg dump: [^\r\n]*(?=\r)");
    EXPECT_EQ(std::regex_replace(screen, progress, ""), plain.out) << screen;
    EXPECT_EQ(screen.back(), '\n') << "the result line is the last thing written";

    EXPECT_EQ(OnATerminal({"--json", "--port", "5", "reg", "dump", "0", "ff"}, sim, &status).find('\r'),
              std::string::npos);
    EXPECT_EQ(OnATerminal({"--trace", "--port", "5", "reg", "dump", "0", "3"}, sim, &status).find("reg dump:"),
              std::string::npos);
}

TEST(Progress, ConnectShowsThePortsTriedAcrossSilentOnes)
{
    test::TempDir dir;
    const std::string ports = dir.MakeDir("ports");
    for (int n = 6; n <= 9; ++n)
        ASSERT_EQ(symlink("/dev/null", (ports + "/COM" + std::to_string(n)).c_str()), 0);
    test::ScopedEnv env("PELVAR_PORTS_DIR", ports);
    // Three silent ports, then the board: about 0.7 s a silent port.
    const auto connect = [](const std::function<std::string(IPlatform&)>& run) {
        SimPlatform p;
        SimBoardDevice board;
        for (int n = 6; n <= 8; ++n)
            p.AddPort(n);
        p.AddPort(9, &board);
        return run(p);
    };
    const std::string plain = connect([](IPlatform& p) { return RunCtlCaptured({"connect"}, p).out; });
    int status = -1;
    const std::string screen = connect([&](IPlatform& p) { return OnATerminal({"connect"}, p, &status); });
    EXPECT_EQ(status, 0);
    EXPECT_NE(screen.find("\rlooking for the board: 2/4 ports, "), std::string::npos) << screen;
    const std::regex progress("\r *\r|\rlooking for the board: [^\r\n]*(?=\r)");
    EXPECT_EQ(std::regex_replace(screen, progress, ""), plain) << screen;
}

TEST_F(BringUp, DiagnoseShowsItsLinkQueriesOnASlowBoard)
{
    const auto slow = [this](const std::function<std::string(IPlatform&)>& run) {
        SimBoardOptions options;
        options.delayMs = 100; // 50 status queries: over five seconds
        TamperedBoard board(options);
        SimPlatform p;
        p.AddPort(5, &board);
        return run(p);
    };
    const std::vector<std::string> args = {"--port", "5", "--map", mapPath, "diagnose"};
    const std::string plain = slow([&](IPlatform& p) { return RunCtlCaptured(args, p).out; });
    int status = -1;
    const std::string screen = slow([&](IPlatform& p) { return OnATerminal(args, p, &status); });
    EXPECT_EQ(status, 1) << "slow replies";
    EXPECT_NE(screen.find("/50 status queries, "), std::string::npos) << screen;
    const std::regex progress("\r *\r|\rdiagnose: [^\r\n]*(?=\r)");
    EXPECT_EQ(std::regex_replace(screen, progress, ""), plain) << screen;
}

// ---- diagnose ----------------------------------------------------------------

struct DiagnoseRow {
    const char* name;
    SimBoardOptions options;
    bool writesLost;
    int status;
    const char* verdict;
    std::optional<SimAdapter> adapter = std::nullopt; // a USB adapter in front of the board
    std::uint32_t rtsReleaseMs = 0;                   // lowering RTS takes this long (the host's scheduling)
    bool rs485 = false;                               // pelvarctl --rs485
    const char* rtsLine = nullptr;                    // the step naming a late RTS; none without
};

SimAdapter AdapterWith(std::uint32_t timerMs, int lowLatencyRefusal)
{
    SimAdapter a;
    a.latencyTimerMs = timerMs;
    a.lowLatencyRefusal = lowLatencyRefusal;
    return a;
}

// What WinPlatform reports of an FTDI adapter at the driver's default timer.
SimAdapter WindowsAdapter()
{
    SimAdapter a = AdapterWith(16, ENOTSUP);
    a.driver = "ftdibus";
    a.latencyTimerFile.clear();
    a.latencyTimerKey =
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A9XK1Q2BA\\0000\\Device "
        "Parameters";
    return a;
}

class Diagnose : public BringUp, public ::testing::WithParamInterface<DiagnoseRow> {};

SimBoardOptions Faulty(void (*set)(SimBoardOptions&))
{
    SimBoardOptions o;
    set(o);
    return o;
}

TEST_P(Diagnose, VerdictNamesTheSymptom)
{
    const DiagnoseRow& row = GetParam();
    TamperedBoard faulty(row.options);
    faulty.writesLost = row.writesLost;
    SimPlatform p;
    p.AddPort(5, &faulty);
    if (row.adapter)
        p.SetAdapter(5, *row.adapter);
    p.SetRtsRelease(5, row.rtsReleaseMs);
    std::vector<std::string> args = {"--port", "5", "--map", mapPath, "diagnose"};
    if (row.rs485)
        args.insert(args.begin(), "--rs485");
    CtlCapture r = RunCtlCaptured(args, p);
    EXPECT_EQ(r.status, row.status) << r.out;
    const std::size_t verdict = r.out.rfind("verdict: ");
    ASSERT_NE(verdict, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\n', verdict), r.out.size() - 1) << "the verdict is the last line";
    EXPECT_NE(r.out.find(row.verdict, verdict), std::string::npos) << r.out;
    if (row.rtsLine)
        EXPECT_NE(r.out.find(row.rtsLine), std::string::npos) << r.out;
    else
        EXPECT_EQ(r.out.find("\nrts: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("ports: 1 found: COM5\naccess: COM5", 0), 0u) << r.out;
    EXPECT_FALSE(p.IsOpen(5));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Diagnose,
    ::testing::Values(
        DiagnoseRow{"soundBoard", {}, false, 0, "verdict: ok: board on COM5 (sim:COM5), sensor ARVEN-L"},
        DiagnoseRow{"silent", Faulty([](SimBoardOptions& o) { o.silent = true; }), false, 1, "FAIL: no reply"},
        DiagnoseRow{"nak", Faulty([](SimBoardOptions& o) { o.nak = true; }), false, 1,
                    "FAIL: the board refuses commands: NAK"},
        DiagnoseRow{"corrupt", Faulty([](SimBoardOptions& o) { o.corrupt = true; }), false, 1, "FAIL: checksum errors"},
        DiagnoseRow{"slow", Faulty([](SimBoardOptions& o) { o.delayMs = 100; }), false, 1, "FAIL: slow replies"},
        DiagnoseRow{"dropped", Faulty([](SimBoardOptions& o) { o.dropEvery = 7; }), false, 1, "FAIL: lost replies"},
        DiagnoseRow{"writesDoNotStick", {}, true, 1, "FAIL: register SCRATCH does not keep what is written"},
        // A status query takes 16 ms against the 2 ms of the RTS hold: the adapter's timer, named with the fix.
        DiagnoseRow{"latencyTimerNotLowered", {}, false, 0,
                    "verdict: ok: board on COM5 (sim:COM5), sensor ARVEN-L, status queries answered in 16 ms; "
                    "replies arrive 14.0 ms late: the adapter's latency timer is 16 ms; Pelvar could not lower it "
                    "(permission): `echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer` as root, or add "
                    "the udev rule from docs/port-names.md\n",
                    AdapterWith(16, EPERM)},
        // A timer long enough to make the line slow: the failure names it rather than "slow replies".
        DiagnoseRow{"latencyTimerMakesItSlow", {}, false, 1,
                    "verdict: FAIL: replies arrive 30.0 ms late: the adapter's latency timer is 32 ms; its driver "
                    "takes no low-latency request: `echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer` as "
                    "root, or add the udev rule from docs/port-names.md\n",
                    AdapterWith(32, ENOTTY)},
        // An FTDI adapter on Windows: the fix is in its driver's settings.
        DiagnoseRow{"latencyTimerOnWindows", {}, false, 0,
                    "replies arrive 14.0 ms late: the adapter's latency timer is 16 ms; Windows has no call to lower "
                    "it: set Latency Timer (msec) to 1 in Device Manager (the port's Port Settings, Advanced), or "
                    "LatencyTimer to 1 under HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\"
                    "VID_0403+PID_6001+A9XK1Q2BA\\0000\\Device Parameters as administrator and replug the adapter\n",
                    WindowsAdapter()},
        // Lowered on open: the 1 ms timer hides inside the hold.
        DiagnoseRow{"latencyTimerLowered", {}, false, 0,
                    "verdict: ok: board on COM5 (sim:COM5), sensor ARVEN-L, status queries answered in 2 ms\n",
                    AdapterWith(16, 0)},
        // The host lowers RTS 5 ms after the hold: named with the fix, on its own line and in the verdict.
        DiagnoseRow{"rtsReleasedLate", {}, false, 0,
                    "verdict: ok: board on COM5 (sim:COM5), sensor ARVEN-L, status queries answered in 7 ms; RTS "
                    "fell 7.0 ms after the frame instead of 2 ms: the host lowers it late, and the board's reply "
                    "may meet a line still driven; if the adapter switches direction itself, use RS-485 mode "
                    "(--rs485, or ?rs485 in a port entry)\n",
                    std::nullopt, 5, false,
                    "\nrts: RTS fell 7.0 ms after the frame instead of 2 ms: the host lowers it late, and the "
                    "board's reply may meet a line still driven; if the adapter switches direction itself, use "
                    "RS-485 mode (--rs485, or ?rs485 in a port entry)\nresult: LINK_OK (0)\n"},
        DiagnoseRow{"rtsReleaseMakesItSlow", {}, false, 1,
                    "verdict: FAIL: RTS fell 32.0 ms after the frame instead of 2 ms: the host lowers it late, and "
                    "the board's reply may meet a line still driven; if the adapter switches direction itself, use "
                    "RS-485 mode (--rs485, or ?rs485 in a port entry)\n",
                    std::nullopt, 30, false, "\nrts: RTS fell 32.0 ms after the frame instead of 2 ms: "},
        // A tick's lateness is scheduling jitter, not worth a word.
        DiagnoseRow{"rtsReleasedOnTime", {}, false, 0,
                    "verdict: ok: board on COM5 (sim:COM5), sensor ARVEN-L, status queries answered in 3 ms\n",
                    std::nullopt, 1},
        // The driver lowers RTS: the host's slow release never comes into it.
        DiagnoseRow{"rtsInRs485Mode", {}, false, 0,
                    "verdict: ok: board on COM5 (sim:COM5), sensor ARVEN-L, status queries answered in 1 ms\n",
                    AdapterWith(16, 0), 5, true},
        // Bytes that never make a frame are no silent board.
        DiagnoseRow{"garbage", Faulty([](SimBoardOptions& o) { o.garbage = true; }), false, 1,
                    "FAIL: bytes arrive but no frame (LINK_ERR_NO_REPLY): a wrong bit rate, wiring, or another "
                    "protocol on this port?"},
        // The line drops right after CMD_INIT, inside the start-up's status poll.
        DiagnoseRow{"lineDropsDuringStartUp", Faulty([](SimBoardOptions& o) { o.hangupAfter = 2; }), false, 1,
                    "FAIL: COM5 (sim:COM5): status query: the device has gone: absent (Input/output error) "
                    "(LINK_ERR_SEND)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A port that the access check could open and the probe finds busy: a
// server taking one client at a time, still closing the check's connection.
class BusyAfterTheCheck : public ForwardingPlatform {
public:
    BusyAfterTheCheck(SimPlatform& inner, int busyOpens) : ForwardingPlatform(inner), m_busyOpens(busyOpens) {}
    PortHandle OpenPort(int port) override { return OpenRef(PortRef::Com(port)); }
    PortHandle OpenRef(const PortRef& port) override
    {
        ++opens;
        if (opens > 1 && opens <= 1 + m_busyOpens) {
            m_error = EBUSY;
            return kNoHandle;
        }
        m_error = 0;
        return ForwardingPlatform::OpenRef(port);
    }
    int LastError() const override { return m_error ? m_error : ForwardingPlatform::LastError(); }
    int opens = 0;

private:
    int m_busyOpens;
    int m_error = 0;
};

struct BusyProbeRow {
    const char* name;
    int busyOpens;
    int status;
    int opens;
    const char* verdict;
};

class DiagnoseBusyProbe : public BringUp, public ::testing::WithParamInterface<BusyProbeRow> {};

TEST_P(DiagnoseBusyProbe, TheProbeOpensAgainAndNamesAnOpenFailure)
{
    const BusyProbeRow& row = GetParam();
    BusyAfterTheCheck platform(sim, row.busyOpens);
    CtlCapture r = RunCtlCaptured({"--port", "5", "--map", mapPath, "diagnose"}, platform);
    EXPECT_EQ(r.status, row.status) << r.out;
    EXPECT_EQ(platform.opens, row.opens);
    EXPECT_NE(r.out.find(row.verdict), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiagnoseBusyProbe,
    ::testing::Values(BusyProbeRow{"busyOnce", 1, 0, 3, "verdict: ok: board on COM5"},
                      // The check, the probe and five more: then the open failure is the verdict, not "powered?".
                      BusyProbeRow{"busyThroughout", 99, 1, 7,
                                   "probe: no board answered: COM5 (sim:COM5): cannot open: busy: held by another "
                                   "program (Device or resource busy)\nresult: PORT_ERR_CONFIG (-1003)\n"},
                      BusyProbeRow{"busyThroughoutVerdict", 99, 1, 7,
                                   "verdict: FAIL: the port could not be opened for the probe: COM5 (sim:COM5): "
                                   "cannot open: busy: held by another program (Device or resource busy)\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BringUp, DiagnoseGivesTheFixForAPortThatCannotBeOpened)
{
    sim.FailOpen(5, EACCES);
    CtlCapture r = Run({"diagnose"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("access: COM5 (sim:COM5): cannot open: permission denied (Permission denied); join the "
                         "group 'dialout' (sudo usermod -aG dialout $USER) and log in again\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("verdict: FAIL: no port can be opened"), std::string::npos) << r.out;
}

// The scratch test on a register that held 0x1234, failing at each point:
// whatever the board did, the step says whether the value went back.
struct ScratchRow {
    const char* name;
    std::uint8_t dropCmd;
    std::vector<int> dropAt;
    int changeAtRead;
    bool writesLost;
    const char* scratch; // the step's text
    bool scratchOk;
    int linkOk; // -1: the link step is not reached
    const char* verdict;
    std::uint16_t after;
};

void PrintTo(const ScratchRow& row, std::ostream* os) { *os << row.name; }

class DiagnoseScratch : public BringUp, public ::testing::WithParamInterface<ScratchRow> {};

TEST_P(DiagnoseScratch, TheRegisterGetsItsValueBackAndTheStepSaysSo)
{
    const ScratchRow& row = GetParam();
    ASSERT_EQ(Run({"reg", "write", "SCRATCH", "1234"}).status, 0);
    board.dropCmd = row.dropCmd;
    board.dropAt = row.dropAt;
    board.changeAtRead = row.changeAtRead;
    board.writesLost = row.writesLost;
    CtlCapture r = Run({"--json", "diagnose"});
    const auto j = nlohmann::json::parse(r.out);
    std::map<std::string, nlohmann::json> steps;
    for (const auto& step : j["steps"])
        steps[step["step"].get<std::string>()] = step;
    ASSERT_EQ(steps.count("scratch"), 1u) << r.out;
    EXPECT_EQ(steps["scratch"]["text"], std::string("SCRATCH (0x00fe): ") + row.scratch);
    EXPECT_EQ(steps["scratch"]["ok"], row.scratchOk);
    if (row.linkOk < 0) {
        EXPECT_EQ(steps.count("link"), 0u);
    } else {
        ASSERT_EQ(steps.count("link"), 1u) << r.out;
        EXPECT_EQ(steps["link"]["ok"], row.linkOk == 1) << steps["link"]["text"];
    }
    EXPECT_EQ(j["verdict"].get<std::string>().rfind(row.verdict, 0), 0u) << j["verdict"];
    EXPECT_EQ(r.status, row.scratchOk && row.linkOk == 1 ? 0 : 1);
    EXPECT_EQ(board.Board().Register(0xFE), row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiagnoseScratch,
    ::testing::Values(ScratchRow{"sound",
                                 0xFF,
                                 {},
                                 0,
                                 false,
                                 "6 patterns written and read back; restored 0x1234",
                                 true,
                                 1,
                                 "ok: board on COM5",
                                 0x1234},
                      ScratchRow{"firstReadFails",
                                 CMD_REG_READ,
                                 {1},
                                 0,
                                 false,
                                 "reading it: LINK_ERR_NO_REPLY (-2002); nothing written",
                                 false,
                                 -1,
                                 "FAIL: no reply from the board",
                                 0x1234},
                      ScratchRow{"readBackFails",
                                 CMD_REG_READ,
                                 {3},
                                 0,
                                 false,
                                 "reading back 0xffff: LINK_ERR_NO_REPLY (-2002); restored 0x1234",
                                 false,
                                 -1,
                                 "FAIL: no reply from the board",
                                 0x1234},
                      ScratchRow{"valueDoesNotComeBack",
                                 0xFF,
                                 {},
                                 3,
                                 false,
                                 "wrote 0xffff, read 0x0001; restored 0x1234",
                                 false,
                                 -1,
                                 "FAIL: register SCRATCH does not keep what is written",
                                 0x1234},
                      ScratchRow{"restoreNotReadBack",
                                 CMD_REG_READ,
                                 {3, 4},
                                 0,
                                 false,
                                 "reading back 0xffff: LINK_ERR_NO_REPLY (-2002); 0x1234 written back, not read back: "
                                 "LINK_ERR_NO_REPLY (-2002)",
                                 false,
                                 -1,
                                 "FAIL: no reply from the board",
                                 0x1234},
                      ScratchRow{"writesDoNotStick",
                                 0xFF,
                                 {},
                                 0,
                                 true,
                                 "wrote 0xffff, read 0x0000; not restored: wrote 0x1234, read 0x0000",
                                 false,
                                 -1,
                                 "FAIL: register SCRATCH does not keep what is written",
                                 0x0000},
                      // A lost acknowledgement costs a retry: the link is not sound, though every query answered.
                      ScratchRow{"retriedWrite",
                                 CMD_REG_WRITE,
                                 {1},
                                 0,
                                 false,
                                 "6 patterns written and read back; restored 0x1234",
                                 true,
                                 0,
                                 "FAIL: transactions needed 1 retries",
                                 0x1234}),
    [](const auto& info) { return std::string(info.param.name); });

// An 8-bit scratch register is sent only what it can hold; the value it had goes back.
TEST_F(BringUp, DiagnoseScratchPatternsFitAnEightBitRegister)
{
    const std::string narrow = WriteFile(
        "narrow.json", R"({"registers": [{"name": "NARROW", "address": "0x00FD", "width": 8, "scratch": true}]})");
    CtlCapture r = RunCtlCaptured({"--port", "5", "--map", narrow, "diagnose"}, sim);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(board.written, (std::vector<std::uint16_t>{0x0000, 0x00FF, 0x00AA, 0x0055, 0x0001, 0x0000, 0x0000}));
}

TEST_F(BringUp, DiagnoseCountsTheLink)
{
    CtlCapture r = Run({"diagnose"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("link: 50 status queries: latency min "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; failures 0; retries 0\n"), std::string::npos) << r.out;
}

} // namespace
} // namespace pelvar
