// Lists the machine's ttys through udev; nothing is opened, and the machine
// may have no serial hardware at all.
#include "discovery/PortEntry.h"
#include "discovery/PortWalk.h"
#include "discovery/linux/UdevDeviceSource.h"
#include "platform/posix/PortNames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace pelvar {
namespace {

struct Walk {
    SourceStatus begun = SourceStatus::Ok;
    std::vector<DeviceInfo> devices;
    std::string error;
};

Walk WalkAll(UdevDeviceSource& source)
{
    Walk walk;
    SourceResult begun = source.Begin();
    walk.begun = begun.status;
    walk.error = begun.error;
    if (begun.status != SourceStatus::Ok)
        return walk;
    for (;;) {
        DeviceInfo device;
        SourceResult step = source.Next(device);
        if (step.status != SourceStatus::Ok) {
            walk.error = step.error;
            return walk;
        }
        walk.devices.push_back(device);
    }
}

std::string ReadFirstLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// What the walk should find, read from sysfs on its own.
std::set<std::string> SysfsPorts()
{
    std::set<std::string> nodes;
    const std::filesystem::path ttyClass = "/sys/class/tty";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ttyClass, ec)) {
        const std::string node = "/dev/" + entry.path().filename().string();
        if (!std::filesystem::exists(entry.path() / "device"))
            continue;
        if (std::filesystem::exists(entry.path() / "type") && ReadFirstLine(entry.path() / "type") == "0")
            continue;
        if (FixedPortNumber(node) != 0)
            nodes.insert(node);
    }
    return nodes;
}

TEST(UdevDeviceSource, ListsTheNumberedHardwarePortsOfSysfs)
{
    UdevDeviceSource source;
    Walk walk = WalkAll(source);
    ASSERT_NE(walk.begun, SourceStatus::Failed) << walk.error;
    if (walk.begun == SourceStatus::Unavailable)
        GTEST_SKIP() << "no udev on this machine";
    EXPECT_EQ(walk.error, "");

    std::set<std::string> listed;
    for (const DeviceInfo& device : walk.devices)
        listed.insert(device.devicePath);
    EXPECT_EQ(listed, SysfsPorts());
}

TEST(UdevDeviceSource, EveryDeviceIsAPortEntryOfItsOwnNumber)
{
    UdevDeviceSource source;
    Walk walk = WalkAll(source);
    for (const DeviceInfo& device : walk.devices) {
        ASSERT_TRUE(device.name.has_value()) << device.devicePath;
        const std::string suffix = " (COM" + std::to_string(device.port) + ")";
        EXPECT_EQ(device.port, FixedPortNumber(device.devicePath)) << device.devicePath;
        EXPECT_TRUE(device.name->ends_with(suffix)) << *device.name;
        EXPECT_GT(device.name->size(), suffix.size()) << "a description precedes the port";
        EXPECT_TRUE(HasPortMark(*device.name)) << *device.name;
    }
}

TEST(UdevDeviceSource, SecondWalkFindsTheSameDevices)
{
    UdevDeviceSource source;
    Walk first = WalkAll(source);
    Walk second = WalkAll(source);
    ASSERT_EQ(first.devices.size(), second.devices.size());
    for (std::size_t i = 0; i < first.devices.size(); ++i)
        EXPECT_EQ(first.devices[i].name, second.devices[i].name);
}

struct TtyCase {
    const char* name;
    TtyFacts facts;
    std::string expected;

    friend void PrintTo(const TtyCase& c, std::ostream* os) { *os << c.name; }
};

class TtyDisplayNameTest : public ::testing::TestWithParam<TtyCase> {};

TEST_P(TtyDisplayNameTest, DescribesThenNamesThePort)
{
    EXPECT_EQ(TtyDisplayName(GetParam().facts), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TtyDisplayNameTest,
    ::testing::Values(
        TtyCase{"DatabaseModelFirst",
                {"/dev/ttyUSB0", "ttyUSB0", "CP210x UART Bridge", "CP2102_USB_to_UART", "CP2102 USB to UART"},
                "CP210x UART Bridge (COM33)"},
        TtyCase{"ModelWithUnderscoresAsSpaces",
                {"/dev/ttyUSB1", "ttyUSB1", "", "CP2102_USB_to_UART_Bridge", "CP2102 USB to UART"},
                "CP2102 USB to UART Bridge (COM34)"},
        TtyCase{"UsbProductString", {"/dev/ttyACM0", "ttyACM0", "", "", "Pico Serial"}, "Pico Serial (COM65)"},
        TtyCase{"BuiltInUart", {"/dev/ttyS0", "ttyS0", "", "", ""}, "Communications Port (COM1)"},
        TtyCase{"UsbAdapterWithoutNames", {"/dev/ttyUSB3", "ttyUSB3", "", "", ""}, "USB Serial Device (COM36)"},
        TtyCase{"AcmWithoutNames", {"/dev/ttyACM2", "ttyACM2", "", "", ""}, "USB Serial Device (COM67)"},
        TtyCase{"ArmUart", {"/dev/ttyAMA0", "ttyAMA0", "", "", ""}, "Communications Port (COM97)"},
        TtyCase{"LastFixedPort", {"/dev/ttyAMA31", "ttyAMA31", "", "", ""}, "Communications Port (COM128)"},
        TtyCase{"BeyondTheRule", {"/dev/ttyS40", "ttyS40", "", "", ""}, ""},
        TtyCase{"KindTheRuleDoesNotCover", {"/dev/ttyGS0", "ttyGS0", "Gadget", "", ""}, ""}),
    [](const ::testing::TestParamInfo<TtyCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace pelvar
