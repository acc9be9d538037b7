#include "discovery/PortList.h"
#include "discovery/PortEntry.h"
#include "discovery/PortWalk.h"
#include "tests/support/CapturedOutput.h"
#include "tests/support/FakeDeviceSource.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pelvar {
namespace {

using test::CapturedOutput;
using test::FakeDeviceSource;
using test::NamedDevice;
using Names = std::vector<std::optional<std::string>>;
using Texts = std::vector<std::string>;

const std::string kLongWithin =
    std::string(250, 'L') + " (COM7) and a tail that runs past the limit" + std::string(100, 't');
const std::string kLongBeyond = std::string(300, 'L') + " (COM8)";
// The euro sign straddles the 258-byte limit: the copy must stop before it.
const std::string kLongNonAscii = std::string(200, 'L') + " (COM9) " + std::string(49, 'x') + "\xE2\x82\xAC tail";

struct FillCase {
    const char* name;
    Names devices;
    Texts expected;                                   // the list afterwards, in order
    std::string expectedOutput;                       // what FillPortList printed
    std::optional<std::size_t> failAt = std::nullopt; // the walk fails at this device
    SourceResult begin = SourceResult::Ok();

    friend void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }
};

class FillPortListTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillPortListTest, ListsThePortEntriesSorted)
{
    const FillCase& c = GetParam();
    FakeDeviceSource source;
    for (const auto& name : c.devices)
        source.devices.push_back(NamedDevice(name));
    source.failAt = c.failAt;
    source.failText = "No such device";
    source.beginResult = c.begin;

    SortedPortList list;
    list.AddString("Stale entry (COM99)");
    CapturedOutput out;
    FillPortList(list, source, out.File());

    EXPECT_EQ(list.Entries(), c.expected);
    EXPECT_EQ(out.Text(), c.expectedOutput);
    EXPECT_EQ(source.beginCount, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, FillPortListTest,
    ::testing::Values(
        FillCase{"MachineWithThreePorts",
                 {"Intel(R) Graphics", "USB Serial Device (COM3)", "PCI Express Root Port",
                  "Communications Port (COM1)", "Printer Port (LPT1)", "USB Serial Device (COM10)"},
                 {"Communications Port (COM1)", "USB Serial Device (COM10)", "USB Serial Device (COM3)"},
                 ""},
        FillCase{"LowerCaseMarkNotListed", {"Modem (com3)", "Modem (COM3)"}, {"Modem (COM3)"}, ""},
        FillCase{"MarkInTheMiddleListedWhole", {"Modem (COM4) internal"}, {"Modem (COM4) internal"}, ""},
        FillCase{"MarkWithoutNumberStillListed", {"Odd (COMx)"}, {"Odd (COMx)"}, ""},
        FillCase{"NullNamesSkippedSilently",
                 {std::nullopt, "USB Serial Device (COM3)", std::nullopt},
                 {"USB Serial Device (COM3)"},
                 ""},
        FillCase{"LongNameListedWholeWhenMarkWithinLimit", {kLongWithin, kLongBeyond}, {kLongWithin}, ""},
        FillCase{"LongNameWithMultiByteCharactersAroundTheCut", {kLongNonAscii}, {kLongNonAscii}, ""},
        FillCase{"NoDevices", {}, {}, ""},
        FillCase{"NoDeviceService", {"USB Serial Device (COM3)"}, {}, "", std::nullopt, SourceResult::Unavailable()},
        FillCase{"QueryFails",
                 {"USB Serial Device (COM3)"},
                 {},
                 "Error ocured: Connection refused",
                 std::nullopt,
                 SourceResult::Failed("Connection refused")},
        FillCase{"FailureMidWalkKeepsEarlierEntries",
                 {"USB Serial Device (COM3)", "Mouse", "Communications Port (COM1)", "USB Serial Device (COM4)"},
                 {"Communications Port (COM1)", "USB Serial Device (COM3)"},
                 "Error ocured: No such device",
                 3},
        FillCase{"FailureAtFirstDevice", {"USB Serial Device (COM3)"}, {}, "Error ocured: No such device", 0}),
    [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

TEST(FillPortList, StopsAskingAfterAFailure)
{
    FakeDeviceSource source({NamedDevice("A (COM1)"), NamedDevice("B (COM2)")});
    source.failAt = 1;
    source.failText = "Input/output error";
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, source, out.File());

    EXPECT_EQ(source.nextCount, 2);
    EXPECT_EQ(out.Text(), "Error ocured: Input/output error");
}

TEST(FillPortList, SecondRunShowsTheChangedMachine)
{
    FakeDeviceSource source({NamedDevice("USB Serial Device (COM3)")});
    SortedPortList list;
    CapturedOutput out;
    FillPortList(list, source, out.File());

    source.devices = {NamedDevice("USB Serial Device (COM4)")};
    FillPortList(list, source, out.File());

    EXPECT_EQ(list.Entries(), Texts{"USB Serial Device (COM4)"});
}

// The list sees Clear first and then one AddString per listed device.
class RecordingList : public IPortList {
public:
    void Clear() override { calls.push_back("Clear"); }
    void AddString(const std::string& text) override { calls.push_back("Add " + text); }
    std::vector<std::string> calls;
};

TEST(FillPortList, EmptiesTheListBeforeAdding)
{
    FakeDeviceSource source({NamedDevice("B (COM2)"), NamedDevice("A (COM1)")});
    RecordingList list;
    CapturedOutput out;

    FillPortList(list, source, out.File());

    EXPECT_EQ(list.calls, (Texts{"Clear", "Add B (COM2)", "Add A (COM1)"}));
}

struct SortCase {
    const char* name;
    Texts added;
    Texts expected;

    friend void PrintTo(const SortCase& c, std::ostream* os) { *os << c.name; }
};

class SortedPortListTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortedPortListTest, KeepsWholeTextOrderWithoutRegardToCase)
{
    const SortCase& c = GetParam();
    SortedPortList list;
    for (const std::string& text : c.added)
        list.AddString(text);
    EXPECT_EQ(list.Entries(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, SortedPortListTest,
    ::testing::Values(
        SortCase{"ByNameNotByDiscovery",
                 {"USB Serial Device (COM3)", "Communications Port (COM1)"},
                 {"Communications Port (COM1)", "USB Serial Device (COM3)"}},
        SortCase{"ByTextNotByPortNumber",
                 {"USB Serial Device (COM3)", "USB Serial Device (COM10)"},
                 {"USB Serial Device (COM10)", "USB Serial Device (COM3)"}},
        SortCase{"NameBeforeNumber", {"Zeta (COM1)", "Alpha (COM9)"}, {"Alpha (COM9)", "Zeta (COM1)"}},
        SortCase{"CaseIgnored", {"B port (COM2)", "a port (COM1)"}, {"a port (COM1)", "B port (COM2)"}},
        SortCase{"CaseIgnoredInTheMiddle",
                 {"USB SERIAL DEVICE (COM4)", "usb serial device (COM3)"},
                 {"usb serial device (COM3)", "USB SERIAL DEVICE (COM4)"}},
        SortCase{"EqualTextsKeepArrivalOrder",
                 {"Port (COM1)", "PORT (COM1)", "port (COM1)"},
                 {"Port (COM1)", "PORT (COM1)", "port (COM1)"}},
        SortCase{"DuplicatesKept", {"A (COM1)", "A (COM1)"}, {"A (COM1)", "A (COM1)"}},
        SortCase{"PrefixFirst", {"Port (COM1) x", "Port (COM1)"}, {"Port (COM1)", "Port (COM1) x"}},
        SortCase{"NonAsciiAfterAscii", {"\xC3\x84rger (COM2)", "Zeta (COM1)"}, {"Zeta (COM1)", "\xC3\x84rger (COM2)"}}),
    [](const ::testing::TestParamInfo<SortCase>& info) { return std::string(info.param.name); });

TEST(SortedPortList, ClearEmptiesIt)
{
    SortedPortList list;
    list.AddString("A (COM1)");
    list.Clear();
    EXPECT_TRUE(list.Entries().empty());
}

} // namespace
} // namespace pelvar
