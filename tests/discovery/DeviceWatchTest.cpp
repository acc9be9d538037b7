// Device notifications: what a notification's device name says of the
// adapter, and the port directory's new entries waking the watcher.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "discovery/DeviceWatch.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar {
namespace {

struct NoticeRow {
    const char* name;
    int port;
    const char* serial;
};

class NoticeNames : public ::testing::TestWithParam<NoticeRow> {};

TEST_P(NoticeNames, GiveThePortOrTheSerialNumber)
{
    const DeviceNotice notice = NoticeFromDeviceName(GetParam().name);
    EXPECT_EQ(notice.port, GetParam().port);
    EXPECT_EQ(notice.serial, GetParam().serial);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NoticeNames,
    ::testing::Values(
        NoticeRow{"COM5", 5, ""}, NoticeRow{"com12", 12, ""}, NoticeRow{"COM", 0, ""}, NoticeRow{"COM5x", 0, ""},
        NoticeRow{"COM123456789", 0, ""},
        NoticeRow{"\\\\?\\USB#VID_0403&PID_6001#A1B2C3#{86e0d1e0-8089-11d0-9ce4-08003e301f73}", 0, "A1B2C3"},
        NoticeRow{"\\\\?\\usb#vid_067b&pid_2303#5&2c9a1b3&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}", 0, ""},
        NoticeRow{"\\\\?\\ACPI#PNP0501#1#{86e0d1e0-8089-11d0-9ce4-08003e301f73}", 0, ""}, NoticeRow{"", 0, ""}));

TEST(DeviceWatch, ANewPortDirectoryEntryWakesTheWatcher)
{
    test::TempDir dir;
    test::ScopedEnv env("PELVAR_PORTS_DIR", dir.Path());
    std::atomic<int> arrivals{0};
    const std::unique_ptr<DeviceWatch> watch = WatchMachineDevices([&] { ++arrivals; });
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(arrivals, 0);
    ASSERT_EQ(symlink("/dev/null", (dir.Path() + "/COM7").c_str()), 0);
    for (int i = 0; i < 1000 && arrivals == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(arrivals, 1);
}

} // namespace
} // namespace pelvar
