#include "discovery/linux/MachineDeviceSource.h"
#include "discovery/linux/PortDirectorySource.h"
#include "discovery/PortList.h"
#include "tests/support/CapturedOutput.h"
#include "tests/support/FakeDeviceSource.h"
#include "tests/support/Pty.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ostream>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace pelvar {
namespace {

using test::CapturedOutput;
using test::FakeDeviceSource;
using test::NamedDevice;
using test::ScopedEnv;
using test::TempDir;
using Texts = std::vector<std::string>;

using test::PseudoTerminal;

void Link(const std::string& dir, const std::string& name, const std::string& target)
{
    ASSERT_EQ(symlink(target.c_str(), (dir + "/" + name).c_str()), 0) << name;
}

struct Rig {
    // The devices source that udev would be; the machine source owns it.
    FakeDeviceSource* devices = nullptr;
    std::unique_ptr<MachineDeviceSource> source;
};

Rig MakeRig(std::vector<DeviceInfo> devices)
{
    auto fake = std::make_unique<FakeDeviceSource>(std::move(devices));
    Rig rig;
    rig.devices = fake.get();
    rig.source = std::make_unique<MachineDeviceSource>(std::move(fake));
    return rig;
}

class ExclusiveDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Link(m_dir.Path(), "COM201", m_pty.SlavePath());
        Link(m_dir.Path(), "COM5", "/dev/null");
        // Not port entries: wrong case, leading zero, out of range, no number.
        Link(m_dir.Path(), "com7", "/dev/null");
        Link(m_dir.Path(), "COM05", "/dev/null");
        Link(m_dir.Path(), "COM0", "/dev/null");
        Link(m_dir.Path(), "COM256", "/dev/null");
        std::ofstream(m_dir.Path() + "/notes") << "not a port\n";
        // A network port; and one that others could change, which is none.
        Entry("COM7", "rfc2217://lab-7.example:2217\n", 0600);
        Entry("COM8", "rfc2217://elsewhere.example:2217\n", 0620);
    }

    void Entry(const std::string& name, const std::string& text, mode_t mode)
    {
        const std::string path = m_dir.Path() + "/" + name;
        std::ofstream(path) << text;
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    Texts Expected() const
    {
        return {"Network port rfc2217://lab-7.example:2217 (COM7)",
                "Pseudo terminal " + m_pty.SlavePath() + " (COM201)", "Serial device /dev/null (COM5)",
                "Serial device " + m_dir.Path() + "/COM8 (COM8)"};
    }

    TempDir m_dir;
    PseudoTerminal m_pty;
    ScopedEnv m_env{"PELVAR_PORTS_DIR", m_dir.Path()};
};

TEST_F(ExclusiveDirectoryTest, EntriesAreTheWholeList)
{
    Rig rig = MakeRig({NamedDevice("USB Serial Device (COM3)", 3)});
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, *rig.source, out.File());

    EXPECT_EQ(list.Entries(), Expected());
    EXPECT_EQ(rig.devices->beginCount, 0) << "no device walk when the directory is exclusive";
    EXPECT_EQ(out.Text(), "");
}

TEST_F(ExclusiveDirectoryTest, MachineListUsesNoRealDevice)
{
    SortedPortList list;
    FillPortList(list);
    EXPECT_EQ(list.Entries(), Expected());
}

TEST_F(ExclusiveDirectoryTest, EntriesReadBackAsTheirPortNumbers)
{
    SortedPortList list;
    FillPortList(list);
    std::vector<int> ports;
    for (const std::string& entry : list.Entries()) {
        int port = 0;
        ASSERT_TRUE(ReadPortEntry(entry, &port)) << entry;
        ports.push_back(port);
    }
    EXPECT_EQ(ports, (std::vector<int>{7, 201, 5, 8}));
}

// The default directory beside the devices: $XDG_RUNTIME_DIR/pelvar/ports.
class SharedDirectoryTest : public ::testing::Test {
protected:
    TempDir m_runtime;
    std::string m_ports = m_runtime.MakeDir("pelvar/ports");
    ScopedEnv m_noExclusive{"PELVAR_PORTS_DIR", std::nullopt};
    ScopedEnv m_xdg{"XDG_RUNTIME_DIR", m_runtime.Path()};
    PseudoTerminal m_pty;
};

TEST_F(SharedDirectoryTest, EntryReplacesTheDeviceWhosePortItTakes)
{
    Link(m_ports, "COM33", m_pty.SlavePath());
    Rig rig = MakeRig({NamedDevice("USB Serial Device (COM33)", 33), NamedDevice("Communications Port (COM1)", 1),
                       NamedDevice("USB Serial Device (COM34)", 34)});
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, *rig.source, out.File());

    EXPECT_EQ(list.Entries(), (Texts{"Communications Port (COM1)", "Pseudo terminal " + m_pty.SlavePath() + " (COM33)",
                                     "USB Serial Device (COM34)"}));
    EXPECT_EQ(out.Text(), "");
}

TEST_F(SharedDirectoryTest, DeviceFailureKeepsDirectoryEntriesAndEarlierDevices)
{
    Link(m_ports, "COM200", m_pty.SlavePath());
    Rig rig = MakeRig({NamedDevice("Communications Port (COM1)", 1), NamedDevice("USB Serial Device (COM34)", 34)});
    rig.devices->failAt = 1;
    rig.devices->failText = "No such device";
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, *rig.source, out.File());

    EXPECT_EQ(list.Entries(),
              (Texts{"Communications Port (COM1)", "Pseudo terminal " + m_pty.SlavePath() + " (COM200)"}));
    EXPECT_EQ(out.Text(), "Error ocured: No such device");
}

TEST_F(SharedDirectoryTest, NoDeviceServiceStillListsTheDirectory)
{
    Link(m_ports, "COM200", m_pty.SlavePath());
    Rig rig = MakeRig({NamedDevice("Communications Port (COM1)", 1)});
    rig.devices->beginResult = SourceResult::Unavailable();
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, *rig.source, out.File());

    EXPECT_EQ(list.Entries(), (Texts{"Pseudo terminal " + m_pty.SlavePath() + " (COM200)"}));
    EXPECT_EQ(out.Text(), "");
}

TEST_F(SharedDirectoryTest, EmptyDirectoryLeavesTheDevices)
{
    Rig rig = MakeRig({NamedDevice("USB Serial Device (COM33)", 33), NamedDevice("Communications Port (COM1)", 1)});
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, *rig.source, out.File());

    EXPECT_EQ(list.Entries(), (Texts{"Communications Port (COM1)", "USB Serial Device (COM33)"}));
    EXPECT_EQ(rig.devices->beginCount, 1);
}

TEST_F(SharedDirectoryTest, DirectoryWritableByOthersIsIgnored)
{
    Link(m_ports, "COM33", m_pty.SlavePath());
    std::filesystem::permissions(m_ports, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
    Rig rig = MakeRig({NamedDevice("USB Serial Device (COM33)", 33)});
    SortedPortList list;
    CapturedOutput out;

    FillPortList(list, *rig.source, out.File());

    EXPECT_EQ(list.Entries(), (Texts{"USB Serial Device (COM33)"}));
}

// Why a port directory that is there is not honoured: said, not just obeyed.
struct TrustRow {
    const char* name;
    const char* kind; // "dir", "file" or "absent"
    mode_t mode;
    uid_t owner; // 0: this user
    std::string refusal;

    friend void PrintTo(const TrustRow& row, std::ostream* os) { *os << row.name; }
};

class PortDirectoryTrust : public ::testing::TestWithParam<TrustRow> {};

TEST_P(PortDirectoryTrust, SaysWhyTheDirectoryIsIgnored)
{
    const TrustRow& row = GetParam();
    if (row.owner != 0 && geteuid() != 0)
        GTEST_SKIP() << "only root can give a directory away";
    TempDir top;
    const std::string path = top.Path() + "/ports";
    if (std::string(row.kind) == "dir") {
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    }
    if (std::string(row.kind) == "file")
        std::ofstream(path) << "";
    if (std::string(row.kind) != "absent") {
        ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    }
    if (row.owner != 0) {
        ASSERT_EQ(chown(path.c_str(), row.owner, static_cast<gid_t>(-1)), 0);
    }
    ScopedEnv env{"PELVAR_PORTS_DIR", path};

    const PortDirectory dir = CurrentPortDirectory();

    EXPECT_EQ(dir.refusal, row.refusal);
    EXPECT_EQ(PortDirectoryNotice(dir),
              row.refusal.empty() ? "" : "port directory " + path + " ignored: " + row.refusal);
    EXPECT_EQ(dir.trusted, std::string(row.kind) == "dir" && row.refusal.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortDirectoryTrust,
    ::testing::Values(TrustRow{"Private", "dir", 0700, 0, ""}, TrustRow{"Absent", "absent", 0, 0, ""},
                      TrustRow{"GroupWritable", "dir", 0770, 0, "group-writable"},
                      TrustRow{"WorldWritable", "dir", 0703, 0, "world-writable"},
                      TrustRow{"WritableByAll", "dir", 0777, 0, "group-writable and world-writable"},
                      TrustRow{"SomeoneElses", "dir", 0700, 65534, "owned by another user (uid 65534)"},
                      TrustRow{"NotADirectory", "file", 0600, 0, "not a directory"}),
    [](const ::testing::TestParamInfo<TrustRow>& info) { return std::string(info.param.name); });

// Entries that are refused without being opened say so in the listing.
TEST(PortDirectorySource, EntriesThatCannotBeOpenedCarryTheirReason)
{
    TempDir dir;
    ScopedEnv env{"PELVAR_PORTS_DIR", dir.Path()};
    PseudoTerminal pty;
    Link(dir.Path(), "COM9", "/nonexistent/pelvar-port");
    Link(dir.Path(), "COM10", dir.Path() + "/fifo");
    ASSERT_EQ(mkfifo((dir.Path() + "/fifo").c_str(), 0600), 0);
    Link(dir.Path(), "COM11", "/");
    Link(dir.Path(), "COM12", dir.Path() + "/COM12");
    Link(dir.Path(), "COM201", pty.SlavePath());
    PortDirectorySource source(CurrentPortDirectory());
    ASSERT_EQ(source.Begin().status, SourceStatus::Ok);

    std::vector<std::string> seen;
    for (DeviceInfo device; source.Next(device).status == SourceStatus::Ok;)
        seen.push_back("COM" + std::to_string(device.port) + ": " + device.refusal);

    EXPECT_EQ(seen, (Texts{"COM9: links to nothing", "COM10: not a terminal: a FIFO",
                           "COM11: not a terminal: a directory", "COM12: a loop of links", "COM201: "}));
}

struct NameCase {
    const char* name;
    PortDirectoryEntry entry;
    std::string expected;

    friend void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }
};

class PortDirectoryEntryNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortDirectoryEntryNameTest, NamesTheTarget)
{
    EXPECT_EQ(PortDirectoryEntryName(GetParam().entry), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PortDirectoryEntryNameTest,
    ::testing::Values(
        NameCase{"PseudoTerminal", {201, "/run/p/COM201", "/dev/pts/3", ""}, "Pseudo terminal /dev/pts/3 (COM201)"},
        NameCase{"OtherDevice", {200, "/run/p/COM200", "/dev/ttyUSB0", ""}, "Serial device /dev/ttyUSB0 (COM200)"},
        NameCase{"BrokenLinkNamedByEntry", {9, "/run/p/COM9", "", ""}, "Serial device /run/p/COM9 (COM9)"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

TEST(PortDirectorySource, DanglingLinkIsListedByItsTarget)
{
    TempDir dir;
    ScopedEnv env{"PELVAR_PORTS_DIR", dir.Path()};
    Link(dir.Path(), "COM9", "/nonexistent/pelvar-port");
    SortedPortList list;

    FillPortList(list);

    EXPECT_EQ(list.Entries(), (Texts{"Serial device /nonexistent/pelvar-port (COM9)"}));
}

} // namespace
} // namespace pelvar
