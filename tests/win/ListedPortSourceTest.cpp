// The testing aid that names the ports (PELVAR_COM_PORTS) and its way through
// the machine's device source into the sorted list and pelvarctl's ports verb.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <windows.h>

#include "discovery/DeviceSource.h"
#include "discovery/PortList.h"
#include "discovery/win/ListedPortSource.h"
#include "platform/net/NetworkPlatform.h"
#include "tests/win/FileOutput.h"
#include "tools/pelvarctl/PortsVerb.h"

namespace pelvar {
namespace {

struct ParseRow {
    const char* text;
    std::vector<int> ports;
};

TEST(ListedPorts, ReadsCom1ToCom255AndPassesOverTheRest)
{
    const ParseRow rows[] = {
        {"", {}},
        {"COM200", {200}},
        {"COM200 COM201", {200, 201}},
        {" COM1,COM255;;COM3\tCOM10 ", {1, 255, 3, 10}},
        {"COM0 COM256 COM03 com4 COM COM1x XCOM5 COM1000", {}},
    };
    for (const ParseRow& r : rows)
        EXPECT_EQ(ParseListedPorts(r.text), r.ports) << r.text;
}

// Sets PELVAR_COM_PORTS for one test.
class ListedPortsEnvironment : public ::testing::Test {
protected:
    void Set(const char* value) { _putenv_s(kListedPortsVariable, value); }
    void TearDown() override { _putenv_s(kListedPortsVariable, ""); }
};

TEST_F(ListedPortsEnvironment, TheMachineSourceListsTheNamedPortsSortedAsText)
{
    Set("COM9 COM200 COM10");
    SortedPortList list;
    FillPortList(list);
    const std::vector<std::string> expected = {"Communications Port (COM10)", "Communications Port (COM200)",
                                               "Communications Port (COM9)"};
    EXPECT_EQ(list.Entries(), expected);
    int port = 0;
    ASSERT_TRUE(ReadPortEntry(list.Entries()[1], &port));
    EXPECT_EQ(port, 200);
}

TEST_F(ListedPortsEnvironment, PortsVerbPrintsTheEntriesAndTheirDevicePaths)
{
    Set("COM201,COM200");
    test::FileOutput out;
    EXPECT_EQ(RunPortsVerb(true, out.File()), 0);
    EXPECT_EQ(out.Text(), "Communications Port (COM200)\t\\\\.\\COM200\n"
                          "Communications Port (COM201)\t\\\\.\\COM201\n");
}

// The user's network ports (registry values COMn holding a URL) are listed
// with the other ports, and Connect reads their number back.
TEST_F(ListedPortsEnvironment, NetworkPortsOfTheUsersRegistryKeyAreListed)
{
    const char* url = "rfc2217://lab-7.example:2217";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kNetworkPortsKey, "COM7", REG_SZ, url,
                              static_cast<DWORD>(std::strlen(url) + 1)),
              ERROR_SUCCESS);
    Set("COM3");
    SortedPortList list;
    FillPortList(list);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kNetworkPortsKey, "COM7");

    const std::vector<std::string> expected = {"Communications Port (COM3)",
                                               "Network port rfc2217://lab-7.example:2217 (COM7)"};
    EXPECT_EQ(list.Entries(), expected);
    int port = 0;
    ASSERT_TRUE(ReadPortEntry(list.Entries()[1], &port));
    EXPECT_EQ(port, 7);
}

TEST(ListedPortSource, EachBeginWalksTheListAgain)
{
    ListedPortSource source("COM5");
    for (int walk = 0; walk < 2; ++walk) {
        ASSERT_EQ(source.Begin().status, SourceStatus::Ok);
        DeviceInfo device;
        ASSERT_EQ(source.Next(device).status, SourceStatus::Ok);
        EXPECT_EQ(device.port, 5);
        EXPECT_EQ(source.Next(device).status, SourceStatus::End);
    }
}

} // namespace
} // namespace pelvar
