#include "discovery/PortList.h"
#include "discovery/PortEntry.h"
#include "discovery/PortWalk.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pelvar {
namespace {

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

const std::string kEuro = "\xE2\x82\xAC";      // 3 bytes
const std::string kSmile = "\xF0\x9F\x98\x80"; // 4 bytes
const std::string kEAcute = "\xC3\xA9";        // 2 bytes

struct EntryCase {
    const char* name;
    std::string text;
    std::optional<int> port; // none: not a port entry

    friend void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }
};

class ReadPortEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(ReadPortEntryTest, ReadsTheNumberAfterTheFirstMark)
{
    const EntryCase& c = GetParam();
    int port = -12345;
    bool isEntry = ReadPortEntry(c.text, &port);
    ASSERT_EQ(isEntry, c.port.has_value());
    if (c.port)
        EXPECT_EQ(port, *c.port);
    else
        EXPECT_EQ(port, -12345) << "a text that is not a port entry leaves the number alone";
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ReadPortEntryTest,
    ::testing::Values(
        EntryCase{"CommunicationsPort", "Communications Port (COM1)", 1},
        EntryCase{"TwoDigits", "USB Serial Device (COM10)", 10},
        EntryCase{"MarkInTheMiddle", "Modem (COM4) internal", 4},
        EntryCase{"FirstMarkWins", "Dock (COM5) via (COM6)", 5},
        EntryCase{"PrinterPort", "Printer Port (LPT1)", std::nullopt},
        EntryCase{"ParenthesisWithoutMark", "Intel(R) Graphics", std::nullopt},
        EntryCase{"LowerCaseMark", "Modem (com3)", std::nullopt},
        EntryCase{"MixedCaseMark", "Modem (Com3)", std::nullopt}, EntryCase{"Empty", "", std::nullopt},
        EntryCase{"LeadingSpace", "Port (COM 7)", 7}, EntryCase{"LeadingTabAndNewline", "Port (COM\t\n8)", 8},
        EntryCase{"PlusSign", "Port (COM+9)", 9}, EntryCase{"MinusSignKept", "Port (COM-3)", -3},
        EntryCase{"ZeroKept", "Port (COM0)", 0}, EntryCase{"AboveRangeKept", "Port (COM300)", 300},
        EntryCase{"LeadingZeros", "Port (COM007)", 7}, EntryCase{"StopsAtFirstOtherCharacter", "Port (COM12abc)", 12},
        EntryCase{"NoNumber", "Port (COMx)", std::nullopt}, EntryCase{"NothingAfterMark", "Port (COM", std::nullopt},
        EntryCase{"ClosingRightAway", "Port (COM)", std::nullopt},
        EntryCase{"SignWithoutDigits", "Port (COM-)", std::nullopt},
        EntryCase{"SpaceAfterSign", "Port (COM- 3)", std::nullopt},
        EntryCase{"OnlySpaces", "Port (COM   ", std::nullopt},
        EntryCase{"SecondMarkNotTriedWhenFirstHasNoNumber", "A (COMx) B (COM2)", std::nullopt},
        EntryCase{"OverflowHeldAtMax", "Port (COM99999999999999999999)", INT_MAX},
        EntryCase{"OverflowDoesNotWrapToSmallPort", "Port (COM4294967299)", INT_MAX},
        EntryCase{"NegativeOverflowHeldAtMin", "Port (COM-99999999999)", INT_MIN},
        EntryCase{"IntMax", "Port (COM2147483647)", INT_MAX}, EntryCase{"IntMin", "Port (COM-2147483648)", INT_MIN},
        EntryCase{"NonAsciiName", "Ger" + kEAcute + "t (COM3)", 3},
        EntryCase{"InvalidUtf8BeforeMark", "Bad \xFF (COM3)", std::nullopt},
        EntryCase{"LoneContinuationByte", "\x80 (COM3)", std::nullopt},
        EntryCase{"OverlongEncoding", "\xC0\xAF (COM3)", std::nullopt},
        EntryCase{"Surrogate", "\xED\xA0\x80 (COM3)", std::nullopt},
        EntryCase{"TextEndsAtNul", std::string("ab\0(COM3)", 9), std::nullopt},
        EntryCase{"NulAfterNumber", std::string("(COM3)\0(COM4)", 13), 3},
        EntryCase{"MarkEndsAtLimit", Repeat('x', 254) + "(COM5)", 5},
        EntryCase{"MarkCrossesLimit", Repeat('x', 255) + "(COM5)", std::nullopt},
        EntryCase{"MarkBeyondLimit", Repeat('x', 400) + "(COM5)", std::nullopt},
        EntryCase{"FirstMarkWithinLimitSecondBeyond", "A (COM2) " + Repeat('x', 300) + "(COM5)", 2},
        EntryCase{"DigitsAcrossLimitReadWhole", Repeat('x', 254) + "(COM123)", 123},
        EntryCase{"InvalidUtf8BeyondLimitIgnored", "(COM3) " + Repeat('x', 260) + "\xFF", 3},
        EntryCase{"CharacterAcrossLimitNotCut", "(COM6) " + Repeat('y', 249) + kEuro + "tail", 6},
        EntryCase{"MultiByteBeforeMarkPushesItOut", Repeat('x', 252) + kEuro + "(COM5)", std::nullopt},
        EntryCase{"MultiByteBeforeMarkStillWithin", Repeat('x', 252) + kEAcute + "(COM5)", 5},
        EntryCase{"HugeText", "(COM8)" + Repeat('z', 1 << 20), 8},
        EntryCase{"HugeTextMarkAtEnd", Repeat('z', 1 << 20) + "(COM8)", std::nullopt}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.name); });

TEST(ReadPortEntry, AcceptsNoPortPointer)
{
    EXPECT_TRUE(ReadPortEntry("Port (COM4)", nullptr));
    EXPECT_FALSE(ReadPortEntry("Port", nullptr));
}

struct CopyCase {
    const char* name;
    std::string text;
    std::size_t length; // of the copy; the copy is always a prefix of the text

    friend void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }
};

class EightBitCopyTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(EightBitCopyTest, CutsOnlyBetweenCharacters)
{
    const CopyCase& c = GetParam();
    std::string copy = EightBitCopy(c.text);
    EXPECT_LE(copy.size(), kPortCopyLimit);
    EXPECT_EQ(copy.size(), c.length);
    EXPECT_EQ(copy, c.text.substr(0, c.length));
}

INSTANTIATE_TEST_SUITE_P(Copies, EightBitCopyTest,
                         ::testing::Values(CopyCase{"Short", "USB Serial Device (COM3)", 24},
                                           CopyCase{"ExactlyAtLimit", Repeat('a', 258), 258},
                                           CopyCase{"OneOverLimit", Repeat('a', 259), 258},
                                           CopyCase{"TwoByteEndsAtLimit", Repeat('a', 256) + kEAcute, 258},
                                           CopyCase{"TwoByteAcrossLimit", Repeat('a', 257) + kEAcute, 257},
                                           CopyCase{"ThreeByteEndsAtLimit", Repeat('a', 255) + kEuro, 258},
                                           CopyCase{"ThreeByteAcrossLimitByOne", Repeat('a', 256) + kEuro, 256},
                                           CopyCase{"ThreeByteAcrossLimitByTwo", Repeat('a', 257) + kEuro, 257},
                                           CopyCase{"FourByteAcrossLimit", Repeat('a', 255) + kSmile, 255},
                                           CopyCase{"FourByteEndsAtLimit", Repeat('a', 254) + kSmile + "b", 258},
                                           CopyCase{"AllMultiByte",
                                                    [] {
                                                        std::string s;
                                                        for (int i = 0; i < 100; ++i)
                                                            s += kEuro;
                                                        return s;
                                                    }(),
                                                    258},
                                           CopyCase{"TruncatedCharacterAtEnd", "abc\xE2\x82", 0},
                                           CopyCase{"InvalidByteGivesEmptyCopy",
                                                    "abc\xFE"
                                                    "def",
                                                    0}),
                         [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

// A port as a user names it on the command line or in Python: one name, its
// value as the open gets it, or the line that refuses it.
struct ReferenceCase {
    const char* name;
    std::string text;
    std::string said; // the port's own text ("COM7", the path, the URL), or the refusal
    bool ok;

    friend void PrintTo(const ReferenceCase& c, std::ostream* os) { *os << c.name; }
};

class ParsePortReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(ParsePortReferenceTest, NamesOnePortOrSaysWhyNot)
{
    PortRef ref;
    std::string error;
    const bool ok = ParsePortReference(GetParam().text, &ref, &error);
    EXPECT_EQ(ok, GetParam().ok) << error;
    EXPECT_EQ(ok ? ref.Text() : error, GetParam().said);
}

const std::string kNotAPort = "' is not a port number from 1 to 255, COMn, a device path or rfc2217://HOST:PORT";

INSTANTIATE_TEST_SUITE_P(
    Names, ParsePortReferenceTest,
    ::testing::Values(
        ReferenceCase{"Number", "7", "COM7", true}, ReferenceCase{"ComName", "COM7", "COM7", true},
        ReferenceCase{"Com100", "COM100", "COM100", true}, ReferenceCase{"Highest", "255", "COM255", true},
        ReferenceCase{"ComHighest", "COM255", "COM255", true},
        ReferenceCase{"ComAboveRange", "COM256", "'COM256" + kNotAPort, false},
        ReferenceCase{"Zero", "0", "'0" + kNotAPort, false},
        ReferenceCase{"ComZero", "COM0", "'COM0" + kNotAPort, false},
        ReferenceCase{"AboveRange", "256", "'256" + kNotAPort, false},
        ReferenceCase{"LowerCase", "com7", "'com7" + kNotAPort, false},
        ReferenceCase{"LeadingBlank", " 5", "' 5" + kNotAPort, false},
        ReferenceCase{"Empty", "", "'" + kNotAPort, false},
        ReferenceCase{"Url", "rfc2217://lab:2217?ign_purge", "rfc2217://lab:2217?ign_purge", true},
        ReferenceCase{"BadUrl", "rfc2217://lab",
                      "'rfc2217://lab' is not a network port rfc2217://HOST:PORT: the port number is missing", false},
        ReferenceCase{"NulInPath", std::string("/dev/pts/2\0junk", 15),
                      "'/dev/pts/2\\0junk' is not a port name: it holds a NUL byte", false},
        ReferenceCase{"NulAfterNumber", std::string("7\0", 2), "'7\\0' is not a port name: it holds a NUL byte",
                      false}),
    [](const ::testing::TestParamInfo<ReferenceCase>& info) { return std::string(info.param.name); });

struct ListCase {
    const char* name;
    std::string text;
    std::vector<std::string> ports; // each port's own text, in the list's order
    std::string error;

    friend void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }
};

class ParsePortListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ParsePortListTest, GivesEachPortOnceInOrder)
{
    std::vector<PortRef> ports;
    std::string error;
    const bool ok = ParsePortList(GetParam().text, &ports, &error);
    EXPECT_EQ(error, GetParam().error);
    std::vector<std::string> texts;
    for (const PortRef& port : ports)
        texts.push_back(port.Text());
    EXPECT_EQ(texts, GetParam().ports);
    EXPECT_EQ(ok, GetParam().error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ParsePortListTest,
    ::testing::Values(
        ListCase{"Ascending", "9,COM7,8", {"COM7", "COM8", "COM9"}, ""}, ListCase{"Repeats", "5,COM5,5", {"COM5"}, ""},
        ListCase{"NamesAfterNumbers", "rfc2217://lab:2217,7,rfc2217://lab:2217", {"COM7", "rfc2217://lab:2217"}, ""},
        ListCase{"TrailingComma", "5,", {}, "'" + kNotAPort}, ListCase{"BlankElement", "5, 6", {}, "' 6" + kNotAPort},
        ListCase{"ZeroElement", "5,0", {}, "'0" + kNotAPort}, ListCase{"Twice", "5,5", {"COM5"}, ""},
        ListCase{"HighNumbers", "COM255,100", {"COM100", "COM255"}, ""},
        ListCase{"AboveRangeElement", "5,COM256", {}, "'COM256" + kNotAPort},
        ListCase{"LeadingBlank", " 5", {}, "' 5" + kNotAPort}, ListCase{"LeadingComma", ",5", {}, "'" + kNotAPort},
        ListCase{"BadUrlElement",
                 "5,rfc2217://lab",
                 {},
                 "'rfc2217://lab' is not a network port rfc2217://HOST:PORT: the "
                 "port number is missing"}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace pelvar
