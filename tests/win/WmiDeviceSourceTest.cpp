// WMI discovery through fake COM calls (every failure path, every reference
// let go while COM is up), run for real (under wine: every device is "Wine
// PnP Device", none a port), and the texts it reports.
#include <gtest/gtest.h>

#include <objbase.h>

#include <deque>

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

class FakeWmi;

// An object of the fake COM world: it counts its references and notes a
// release that comes after COM was uninitialised.
class FakeObject : public IUnknown {
public:
    explicit FakeObject(FakeWmi& com) : m_com(com) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override;
    int refs = 1;

private:
    FakeWmi& m_com;
};

// One device of the fake walk.
struct FakeItem {
    enum Kind { Text, Number, Object };
    const wchar_t* name = L"";
    Kind kind = Text;
    HRESULT next = S_OK; // what fetching it gives
    HRESULT read = S_OK; // what reading its name gives
};

class FakeWmi : public IWmiCalls {
public:
    HRESULT create = S_OK, query = S_OK, connect = S_OK, exec = S_OK, enumerate = S_OK;
    std::vector<FakeItem> items;
    bool initialised = false;
    int initialisations = 0, uninitialisations = 0, lateReleases = 0;

    int Held() const
    {
        int held = 0;
        for (const FakeObject& o : m_objects)
            held += o.refs;
        return held;
    }

    HRESULT Initialize() override
    {
        ++initialisations;
        initialised = true;
        return S_OK;
    }
    void Uninitialize() override
    {
        ++uninitialisations;
        initialised = false;
    }
    HRESULT CreateLocator(IUnknown** out) override { return Give(create, out); }
    HRESULT QueryLocator(IUnknown*, IUnknown** out) override { return Give(query, out); }
    HRESULT ConnectServer(IUnknown*, IUnknown** out) override { return Give(connect, out); }
    HRESULT ExecQuery(IUnknown*, IUnknown** out) override { return Give(exec, out); }
    HRESULT Enumerate(IUnknown*, IUnknown** out) override { return Give(enumerate, out); }
    HRESULT NextItem(IUnknown*, VARIANT* item) override
    {
        if (m_next == items.size())
            return S_FALSE;
        const FakeItem& it = items[m_next++];
        if (it.next != S_OK)
            return it.next;
        item->vt = VT_UNKNOWN;
        return Give(S_OK, &item->punkVal);
    }
    HRESULT ReadName(IUnknown*, VARIANT* value) override
    {
        const FakeItem& it = items[m_next - 1];
        if (FAILED(it.read))
            return it.read;
        if (it.kind == FakeItem::Number) {
            value->vt = VT_I4;
            value->lVal = 7;
        } else if (it.kind == FakeItem::Object) {
            value->vt = VT_UNKNOWN;
            return Give(S_OK, &value->punkVal);
        } else {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(it.name);
        }
        return S_OK;
    }

private:
    HRESULT Give(HRESULT hr, IUnknown** out)
    {
        if (FAILED(hr))
            return hr;
        m_objects.emplace_back(*this);
        *out = &m_objects.back();
        return hr;
    }

    std::deque<FakeObject> m_objects;
    std::size_t m_next = 0;
    friend class FakeObject;
};

ULONG FakeObject::Release()
{
    if (!m_com.initialised)
        ++m_com.lateReleases;
    return static_cast<ULONG>(--refs);
}

// The walk as text: "Unavailable", or each step's outcome ("A (COM1)", "-"
// for a device without a name, "End", "Failed: <text>").
std::string Walk(WmiDeviceSource& source)
{
    SourceResult r = source.Begin();
    if (r.status == SourceStatus::Unavailable)
        return "Unavailable";
    if (r.status == SourceStatus::Failed)
        return "Failed: " + r.error;
    std::string walk;
    for (int i = 0; i < 10; ++i) {
        DeviceInfo device;
        r = source.Next(device);
        if (r.status == SourceStatus::End)
            return walk + "End";
        if (r.status == SourceStatus::Failed)
            return walk + "Failed: " + r.error;
        walk += (device.name ? *device.name : "-") + "; ";
    }
    return walk + "...";
}

struct WalkRow {
    const char* what;
    void (*setUp)(FakeWmi&);
    const char* walk;
};

void PrintTo(const WalkRow& row, std::ostream* os) { *os << row.what; }

class WmiWalkPaths : public ::testing::TestWithParam<WalkRow> {};

TEST_P(WmiWalkPaths, LetsGoOfEveryReferenceBeforeCom)
{
    FakeWmi com;
    GetParam().setUp(com);
    WmiDeviceSource source(com);
    EXPECT_EQ(Walk(source), GetParam().walk);
    // The walk has ended: everything is let go, COM last.
    EXPECT_EQ(com.Held(), 0);
    EXPECT_EQ(com.lateReleases, 0);
    EXPECT_EQ(com.initialisations, 1);
    EXPECT_EQ(com.uninitialisations, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WmiWalkPaths,
    ::testing::Values(
        WalkRow{"NoLocator", [](FakeWmi& c) { c.create = REGDB_E_CLASSNOTREG; }, "Unavailable"},
        WalkRow{"LocatorRefused", [](FakeWmi& c) { c.query = E_NOINTERFACE; }, "Unavailable"},
        WalkRow{"ConnectServerFails", [](FakeWmi& c) { c.connect = static_cast<HRESULT>(0x8FFF0001); },
                "Failed: Unknown error 0x8FFF0001"},
        WalkRow{"ExecQueryFails", [](FakeWmi& c) { c.exec = static_cast<HRESULT>(0x8FFF0002); },
                "Failed: Unknown error 0x8FFF0002"},
        WalkRow{"NoEnumerator", [](FakeWmi& c) { c.enumerate = static_cast<HRESULT>(0x8FFF0003); },
                "Failed: Unknown error 0x8FFF0003"},
        WalkRow{"NextFailsAfterOne",
                [](FakeWmi& c) {
                    c.items = {{L"A (COM1)"}, {L"B (COM2)", FakeItem::Text, static_cast<HRESULT>(0x8FFF0004)}};
                },
                "A (COM1); End"},
        WalkRow{"NameReadFails",
                [](FakeWmi& c) {
                    c.items = {{L"A (COM1)"}, {L"B (COM2)", FakeItem::Text, S_OK, static_cast<HRESULT>(0x8FFF0005)}};
                },
                "A (COM1); Failed: Unknown error 0x8FFF0005"},
        WalkRow{"NamesThatAreNoText",
                [](FakeWmi& c) {
                    c.items = {{L"", FakeItem::Number}, {L"", FakeItem::Object}, {L"C (COM3)"}};
                },
                "-; -; C (COM3); End"}),
    [](const ::testing::TestParamInfo<WalkRow>& info) { return std::string(info.param.what); });

TEST(WmiDeviceSource, AWalkLeftHalfwayLetsGoOfEverythingWithTheSource)
{
    FakeWmi com;
    com.items = {{L"A (COM1)"}, {L"B (COM2)"}};
    {
        WmiDeviceSource source(com);
        ASSERT_EQ(source.Begin().status, SourceStatus::Ok);
        EXPECT_TRUE(com.initialised);
        DeviceInfo device;
        source.Next(device);
        EXPECT_EQ(com.Held(), 4) << "locator, services, set, enumerator";
    }
    EXPECT_EQ(com.Held(), 0);
    EXPECT_EQ(com.lateReleases, 0);
    EXPECT_EQ(com.uninitialisations, 1);
}

TEST(WmiDeviceSource, FillPortListKeepsThePortsAndPrintsTheFailure)
{
    FakeWmi com;
    com.items = {{L"Port de communication (COM1)"},
                 {L"Wine PnP Device"},
                 {L"", FakeItem::Number},
                 {L"USB Serial Port (COM7)"},
                 {L"X (COM8)", FakeItem::Text, S_OK, static_cast<HRESULT>(0x8FFF0006)}};
    WmiDeviceSource source(com);
    SortedPortList list;
    list.AddString("stale (COM9)");
    test::FileOutput out;
    FillPortList(list, source, out.File());
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"Port de communication (COM1)", "USB Serial Port (COM7)"}));
    EXPECT_EQ(out.Text(), "Error ocured: Unknown error 0x8FFF0006");
}

TEST(WmiDeviceSource, WalksToItsEndAndReleasesCom)
{
    WmiDeviceSource source;
    SourceResult begun = source.Begin();
    ASSERT_NE(begun.status, SourceStatus::Failed) << begun.error;
    // COM is up while the walk runs: a second initialisation only counts.
    const HRESULT again = CoInitialize(nullptr);
    if (SUCCEEDED(again))
        CoUninitialize();
    EXPECT_EQ(again, begun.status == SourceStatus::Ok ? S_FALSE : S_OK);
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

TEST(WmiTexts, HresultTextIsTheSystemMessageOrTheUnknownCode)
{
    EXPECT_EQ(HresultText(E_ACCESSDENIED), "Access denied."); // wine's wording
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
