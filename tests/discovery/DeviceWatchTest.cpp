// Device notifications: what a notification's device name says of the
// adapter, and the port directory's new entries waking the watcher.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
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

// How an entry comes into the directory: made there, or made beside it and
// renamed in (as mv and editors write files, and a board replaces a stale link).
struct ArrivalRow {
    const char* name;
    bool renamedIn;

    friend void PrintTo(const ArrivalRow& row, std::ostream* os) { *os << row.name; }
};

class PortDirectoryArrival : public ::testing::TestWithParam<ArrivalRow> {};

TEST_P(PortDirectoryArrival, WakesTheWatcher)
{
    test::TempDir top;
    const std::string ports = top.MakeDir("ports");
    const std::string staging = top.MakeDir("staging");
    test::ScopedEnv env("PELVAR_PORTS_DIR", ports);
    std::atomic<int> arrivals{0};
    const std::unique_ptr<DeviceWatch> watch = WatchMachineDevices([&] { ++arrivals; });
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(arrivals, 0);
    if (GetParam().renamedIn) {
        ASSERT_EQ(symlink("/dev/null", (staging + "/COM7").c_str()), 0);
        ASSERT_EQ(rename((staging + "/COM7").c_str(), (ports + "/COM7").c_str()), 0);
    } else {
        ASSERT_EQ(symlink("/dev/null", (ports + "/COM7").c_str()), 0);
    }
    for (int i = 0; i < 1000 && arrivals == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(arrivals, 1);
}

INSTANTIATE_TEST_SUITE_P(Ways, PortDirectoryArrival,
                         ::testing::Values(ArrivalRow{"Created", false}, ArrivalRow{"RenamedIn", true}),
                         [](const ::testing::TestParamInfo<ArrivalRow>& info) { return std::string(info.param.name); });

} // namespace
} // namespace pelvar
