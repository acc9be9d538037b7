// The FTDI driver's registry keys as it leaves them, made under the test's
// own key of HKEY_CURRENT_USER, read for an adapter's latency timer.
#include <gtest/gtest.h>

#include <string>

#include "discovery/win/FtdiFactsSource.h"
#include "platform/win/FtdiRegistry.h"

namespace pelvar {
namespace {

class FtdiKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        bus = L"Software\\PelvarTest\\FTDIBUS-" + std::to_wstring(GetCurrentProcessId());
        Device(L"VID_0403+PID_6001+A9XK1Q2BA", L"COM7", 16);
        Device(L"VID_0403+PID_6015+DN01ZZQ3A", L"COM17", 2);
        Device(L"VID_0403+PID_6010+FT4Y7QXRA", L"COM4", -1); // no timer value
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\PelvarTest"); }

    void Device(const std::wstring& id, const std::wstring& portName, int timerMs)
    {
        HKEY key = nullptr;
        const std::wstring path = bus + L"\\" + id + L"\\0000\\Device Parameters";
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName.c_str()),
                       static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t)));
        const DWORD ms = static_cast<DWORD>(timerMs);
        if (timerMs >= 0)
            RegSetValueExW(key, L"LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ms), sizeof ms);
        RegCloseKey(key);
    }

    std::wstring bus;
};

struct FtdiRow {
    int port;
    const char* driver;
    int latencyTimerMs;
    const char* key;
};

TEST_F(FtdiKeys, ThePortsDeviceGivesItsTimer)
{
    const FtdiRow rows[] = {
        {7, "ftdibus", 16,
         "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+A9XK1Q2BA\\0000\\Device "
         "Parameters"},
        // COM1 is no prefix of COM17's name.
        {17, "ftdibus", 2,
         "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6015+DN01ZZQ3A\\0000\\Device "
         "Parameters"},
        {1, "", -1, ""},
        {4, "ftdibus", -1, ""},
        {9, "", -1, ""},
    };
    for (const FtdiRow& row : rows) {
        const AdapterFacts facts = ReadFtdiAdapterFacts(row.port, HKEY_CURRENT_USER, bus);
        EXPECT_EQ(facts.driver, row.driver) << row.port;
        EXPECT_EQ(facts.latencyTimerMs, row.latencyTimerMs) << row.port;
        EXPECT_EQ(facts.latencyTimerKey, row.key) << row.port;
        EXPECT_TRUE(facts.latencyTimerFile.empty()) << row.port;
    }
}

TEST_F(FtdiKeys, NoDriverKeyNoFacts)
{
    const AdapterFacts facts = ReadFtdiAdapterFacts(7, HKEY_CURRENT_USER, bus + L"-absent");
    EXPECT_EQ(facts.driver, "");
    EXPECT_EQ(facts.latencyTimerMs, -1);
}

// Devices as WMI gives them: a name only.
class NamedDevices : public IDeviceSource {
public:
    SourceResult Begin() override
    {
        m_next = 0;
        return SourceResult::Ok();
    }
    SourceResult Next(DeviceInfo& device) override
    {
        const char* names[] = {"USB Serial Port (COM7)", "Communications Port (COM9)", "Intel(R) Ethernet"};
        if (m_next == 3)
            return SourceResult::End();
        device = DeviceInfo{};
        device.name = names[m_next++];
        return SourceResult::Ok();
    }

private:
    int m_next = 0;
};

TEST_F(FtdiKeys, ThePortListShowsTheTimerBesideThePort)
{
    FtdiFactsSource source(std::make_unique<NamedDevices>(), HKEY_CURRENT_USER, bus);
    ASSERT_EQ(source.Begin().status, SourceStatus::Ok);
    DeviceInfo d;
    ASSERT_EQ(source.Next(d).status, SourceStatus::Ok);
    EXPECT_EQ(d.driver, "ftdibus");
    EXPECT_EQ(d.latencyTimerMs, 16);
    ASSERT_EQ(source.Next(d).status, SourceStatus::Ok);
    EXPECT_EQ(d.driver, "");
    EXPECT_EQ(d.latencyTimerMs, -1);
    ASSERT_EQ(source.Next(d).status, SourceStatus::Ok);
    EXPECT_EQ(d.driver, "");
    EXPECT_EQ(source.Next(d).status, SourceStatus::End);
}

} // namespace
} // namespace pelvar
