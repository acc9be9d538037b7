// WMI discovery run for real (under wine: every device is "Wine PnP Device",
// none a port) and the texts it reports.
#include <gtest/gtest.h>

#include <objbase.h>

#include "discovery/PortList.h"
#include "discovery/win/WmiDeviceSource.h"
#include "tests/win/FileOutput.h"

namespace pelvar {
namespace {

// COM is back to uninitialised exactly when a new CoInitialize answers S_OK.
bool ComIsUninitialised()
{
    HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

TEST(WmiDeviceSource, WalksToItsEndAndReleasesCom)
{
    WmiDeviceSource source;
    SourceResult begun = source.Begin();
    ASSERT_NE(begun.status, SourceStatus::Failed) << begun.error;
    int devices = 0;
    if (begun.status == SourceStatus::Ok) {
        for (;;) {
            DeviceInfo device;
            SourceResult step = source.Next(device);
            ASSERT_NE(step.status, SourceStatus::Failed) << step.error;
            if (step.status == SourceStatus::End)
                break;
            ASSERT_LT(++devices, 100000);
            EXPECT_TRUE(device.name.has_value());
        }
    }
    // The walk is over: the next step stays at the end.
    DeviceInfo after;
    EXPECT_EQ(source.Next(after).status, SourceStatus::End);
    EXPECT_TRUE(ComIsUninitialised());
    std::printf("WMI devices: %d\n", devices);
}

TEST(WmiDeviceSource, AWalkLeftHalfwayReleasesComWithTheSource)
{
    {
        WmiDeviceSource source;
        source.Begin();
        DeviceInfo device;
        source.Next(device);
    }
    EXPECT_TRUE(ComIsUninitialised());
}

TEST(WmiDeviceSource, FillPortListKeepsOnlyPortsAndPrintsNothing)
{
    WmiDeviceSource source;
    SortedPortList list;
    list.AddString("stale (COM9)");
    test::FileOutput out;
    FillPortList(list, source, out.File());
    // wine reports no device with "(COM" in its name.
    for (const std::string& entry : list.Entries())
        EXPECT_NE(entry.find("(COM"), std::string::npos) << entry;
    EXPECT_EQ(std::count(list.Entries().begin(), list.Entries().end(), "stale (COM9)"), 0);
    EXPECT_EQ(out.Text(), "");
}

TEST(WmiTexts, HresultTextIsTheSystemMessageOrTheUnknownCode)
{
    EXPECT_EQ(HresultText(static_cast<HRESULT>(0x80041003)).find("\n"), std::string::npos);
    EXPECT_FALSE(HresultText(E_POINTER).empty());
    EXPECT_EQ(HresultText(static_cast<HRESULT>(0x8FFF1234)), "Unknown error 0x8FFF1234");
}

TEST(WmiTexts, WideNamesBecomeUtf8AndUnpairedSurrogatesFail)
{
    std::string out;
    const wchar_t name[] = L"USB Serial Device (COM7) \u00e4";
    ASSERT_TRUE(WideToUtf8(name, wcslen(name), &out));
    EXPECT_EQ(out, "USB Serial Device (COM7) \xc3\xa4");
    const wchar_t broken[] = {L'(', L'C', L'O', L'M', L'1', L')', 0xD800, 0};
    EXPECT_FALSE(WideToUtf8(broken, 7, &out));
}

} // namespace
} // namespace pelvar
