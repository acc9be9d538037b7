#include "tools/pelvarctl/PortsVerb.h"
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

FakeDeviceSource MachineWithTwoPorts()
{
    DeviceInfo usb;
    usb.name = "USB Serial Device (COM33)";
    usb.devicePath = "/dev/ttyUSB0";
    usb.port = 33;
    usb.vendorId = "0403";
    usb.productId = "6001";
    usb.serial = "A50285BI";
    usb.driver = "ftdi_sio";
    usb.latencyTimerMs = 16;
    DeviceInfo uart;
    uart.name = "Communications Port (COM1)";
    uart.devicePath = "/dev/ttyS9";
    uart.port = 1;
    DeviceInfo mouse;
    mouse.name = "Mouse";
    return FakeDeviceSource({usb, mouse, uart});
}

struct VerbCase {
    const char* name;
    bool verbose;
    std::optional<std::size_t> failAt;
    std::string expected;
    int exitCode;

    friend void PrintTo(const VerbCase& c, std::ostream* os) { *os << c.name; }
};

class PortsVerbTest : public ::testing::TestWithParam<VerbCase> {};

TEST_P(PortsVerbTest, PrintsOneEntryALineInListOrder)
{
    const VerbCase& c = GetParam();
    FakeDeviceSource source = MachineWithTwoPorts();
    source.failAt = c.failAt;
    source.failText = "No such device";
    CapturedOutput out;

    int rc = RunPortsVerb(c.verbose, out.File(), source);

    EXPECT_EQ(out.Text(), c.expected);
    EXPECT_EQ(rc, c.exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, PortsVerbTest,
    ::testing::Values(
        VerbCase{"Plain", false, std::nullopt, "Communications Port (COM1)\nUSB Serial Device (COM33)\n", 0},
        VerbCase{"Verbose", true, std::nullopt,
                 "Communications Port (COM1)\t/dev/ttyS9\n"
                 "USB Serial Device (COM33)\t/dev/ttyUSB0\tusb 0403:6001\tserial A50285BI\tdriver ftdi_sio\t"
                 "latency timer 16 ms\n",
                 0},
        VerbCase{"FailureThenWhatWasFound", false, 2, "Error ocured: No such device\nUSB Serial Device (COM33)\n", 1},
        VerbCase{"FailureBeforeAnything", false, 0, "Error ocured: No such device\n", 1}),
    [](const ::testing::TestParamInfo<VerbCase>& info) { return std::string(info.param.name); });

TEST(PortsVerbRefused, AnEntryThatCannotBeOpenedIsListedWithItsReason)
{
    DeviceInfo gone;
    gone.name = "Serial device /nonexistent/pelvar-port (COM9)";
    gone.devicePath = "/nonexistent/pelvar-port";
    gone.port = 9;
    gone.refusal = "links to nothing";
    FakeDeviceSource source({gone});
    CapturedOutput out;

    EXPECT_EQ(RunPortsVerb(false, out.File(), source), 0);

    EXPECT_EQ(out.Text(), "Serial device /nonexistent/pelvar-port (COM9)\trefused: links to nothing\n");
}

TEST(PortsVerbOrder, NamesEqualButForCaseKeepTheirArrivalOrder)
{
    // As the panel's list does (SortedPortListTest.EqualTextsKeepArrivalOrder).
    struct Row {
        std::vector<std::string> arrivals;
        std::string expected;
    };
    const Row rows[] = {{{"Modem (COM3)", "Zeta (COM1)", "MODEM (COM3)", "modem (COM3)"},
                         "Modem (COM3)\nMODEM (COM3)\nmodem (COM3)\nZeta (COM1)\n"},
                        {{"modem (COM3)", "MODEM (COM3)", "Zeta (COM1)", "Modem (COM3)"},
                         "modem (COM3)\nMODEM (COM3)\nModem (COM3)\nZeta (COM1)\n"}};
    for (const Row& r : rows) {
        std::vector<DeviceInfo> devices;
        for (const std::string& name : r.arrivals)
            devices.push_back(test::NamedDevice(name));
        FakeDeviceSource source(devices);
        CapturedOutput out;
        EXPECT_EQ(RunPortsVerb(false, out.File(), source), 0);
        EXPECT_EQ(out.Text(), r.expected);
    }
}

} // namespace
} // namespace pelvar
