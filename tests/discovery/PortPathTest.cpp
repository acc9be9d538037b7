// Device paths name ports where the system has them: here, not on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/PortEntry.h"

namespace pelvar {
namespace {

TEST(PortPath, ADevicePathNamesItsPort)
{
    PortRef ref;
    std::string error;
    ASSERT_TRUE(ParsePortReference("/dev/pts/3", &ref, &error)) << error;
    EXPECT_EQ(ref.Text(), "/dev/pts/3");
}

TEST(PortPath, PathsComeAfterNumbersAndBeforeUrlsInAList)
{
    std::vector<PortRef> ports;
    std::string error;
    ASSERT_TRUE(ParsePortList("rfc2217://lab:2217,/dev/pts/3,7,rfc2217://lab:2217", &ports, &error)) << error;
    std::vector<std::string> texts;
    for (const PortRef& port : ports)
        texts.push_back(port.Text());
    EXPECT_EQ(texts, (std::vector<std::string>{"COM7", "/dev/pts/3", "rfc2217://lab:2217"}));
}

TEST(PortPath, AListWithAPathRefusesItsBadElementByName)
{
    std::vector<PortRef> ports;
    std::string error;
    EXPECT_FALSE(ParsePortList("/dev/pts/3,COM0", &ports, &error));
    EXPECT_EQ(error, "'COM0' is not a port number from 1 to 255, COMn, a device path or rfc2217://HOST:PORT");
}

} // namespace
} // namespace pelvar
