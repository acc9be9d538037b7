// The debug log never follows a link: what stands at its name is created or
// truncated only when it is a regular file, and the link works without it.
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/FrameLink.h"
#include "platform/SimPlatform.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar {
namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the test inside a fresh directory.
class DebugLogFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(getcwd(m_old, sizeof m_old), nullptr);
        ASSERT_EQ(chdir(m_dir.Path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(m_old), 0); }

    // A link is constructed and used, then destroyed.
    static void UseALink()
    {
        SimPlatform sim;
        sim.AddPort(3);
        CFrameLink link(3, 115200, sim);
        ASSERT_EQ(link.Open(), LINK_OK);
        EXPECT_EQ(link.SendFrame(0x00, nullptr, 0), LINK_OK);
        EXPECT_EQ(sim.WrittenBytes(3), (std::vector<std::uint8_t>{0x02, 0x02, 0x00, 0x00, 0x03}));
    }

    test::TempDir m_dir;
    char m_old[4096] = {};
};

TEST_F(DebugLogFile, PlantedLinkIsLeftAloneAndTheLinkStillWorks)
{
    std::ofstream("precious") << "someone else's data";
    ASSERT_EQ(symlink("precious", "Corvel.debug"), 0);
    UseALink();
    EXPECT_EQ(ReadFile("precious"), "someone else's data");
    struct stat st {};
    ASSERT_EQ(lstat("Corvel.debug", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(DebugLogFile, RegularFileIsCreatedOrTruncatedEmpty)
{
    UseALink();
    struct stat st {};
    ASSERT_EQ(lstat("Corvel.debug", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);

    std::ofstream("Corvel.debug") << "old contents";
    UseALink();
    EXPECT_EQ(ReadFile("Corvel.debug"), "");
}

TEST_F(DebugLogFile, FifoInItsPlaceDoesNotHangTheLink)
{
    ASSERT_EQ(mkfifo("Corvel.debug", 0600), 0);
    UseALink();
    struct stat st {};
    ASSERT_EQ(lstat("Corvel.debug", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

} // namespace
} // namespace pelvar
