#include "discovery/win/WmiDeviceSource.h"

#include <ole2.h>

#include <cstdio>

namespace pelvar {

namespace {

constexpr wchar_t kServer[] = L".";
constexpr wchar_t kNamespace[] = L"root\\cimv2";
constexpr wchar_t kQuery[] = L"Select * from  Win32_PnPEntity";
constexpr wchar_t kLanguage[] = L"WQL";
constexpr wchar_t kNameProperty[] = L"Name";
// wbemFlagReturnImmediately alone: results arrive while they are walked.
constexpr long kQueryFlags = 16;

// An owned BSTR.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : m_s(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(m_s); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return m_s; }

private:
    BSTR m_s;
};

// An owned VARIANT, cleared at scope end.
class Variant {
public:
    Variant() { VariantInit(&m_v); }
    ~Variant() { VariantClear(&m_v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* Get() { return &m_v; }
    const VARIANT& operator*() const { return m_v; }

private:
    VARIANT m_v;
};

class SystemCalls : public IWmiCalls {
public:
    HRESULT Initialize() override { return CoInitialize(nullptr); }
    void Uninitialize() override { CoUninitialize(); }

    HRESULT CreateLocator(IUnknown** unknown) override
    {
        const HRESULT hr =
            CoCreateInstance(CLSID_SWbemLocator, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(unknown));
        if (SUCCEEDED(hr))
            OleRun(*unknown);
        return hr;
    }

    HRESULT QueryLocator(IUnknown* unknown, IUnknown** locator) override
    {
        return unknown->QueryInterface(IID_ISWbemLocator, reinterpret_cast<void**>(locator));
    }

    HRESULT ConnectServer(IUnknown* locator, IUnknown** services) override
    {
        Bstr server(kServer), space(kNamespace), empty(L"");
        return static_cast<ISWbemLocator*>(locator)->ConnectServer(server.Get(), space.Get(), empty.Get(), empty.Get(),
                                                                   empty.Get(), empty.Get(), 0, nullptr,
                                                                   reinterpret_cast<ISWbemServices**>(services));
    }

    HRESULT ExecQuery(IUnknown* services, IUnknown** set) override
    {
        Bstr query(kQuery), language(kLanguage);
        return static_cast<ISWbemServices*>(services)->ExecQuery(query.Get(), language.Get(), kQueryFlags, nullptr,
                                                                 reinterpret_cast<ISWbemObjectSet**>(set));
    }

    HRESULT Enumerate(IUnknown* set, IUnknown** enumerator) override
    {
        ComRef<IUnknown> unknown;
        HRESULT hr = static_cast<ISWbemObjectSet*>(set)->get__NewEnum(unknown.Put());
        if (FAILED(hr))
            return hr;
        hr = unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(enumerator));
        // Without an enumerator the walk cannot start: using none is E_POINTER.
        return hr == E_NOINTERFACE ? E_POINTER : hr;
    }

    HRESULT NextItem(IUnknown* enumerator, VARIANT* item) override
    {
        ULONG fetched = 0;
        return static_cast<IEnumVARIANT*>(enumerator)->Next(1, item, &fetched);
    }

    HRESULT ReadName(IUnknown* item, VARIANT* value) override
    {
        ComRef<ISWbemObject> object;
        HRESULT hr = item->QueryInterface(IID_ISWbemObject, reinterpret_cast<void**>(object.Put()));
        if (FAILED(hr))
            return hr;
        ComRef<ISWbemPropertySet> properties;
        hr = object->get_Properties_(properties.Put());
        if (FAILED(hr))
            return hr;
        ComRef<ISWbemProperty> property;
        Bstr name(kNameProperty);
        hr = properties->Item(name.Get(), 0, property.Put());
        if (FAILED(hr))
            return hr;
        return property->get_Value(value);
    }
};

} // namespace

IWmiCalls& SystemWmiCalls()
{
    // Never destroyed: a port list reading the closed panel left running may
    // still walk while the process ends.
    static SystemCalls* calls = new SystemCalls;
    return *calls;
}

std::string HresultText(HRESULT hr)
{
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s;
    if (n == 0 || !text || !WideToUtf8(text, n, &s))
        s.clear();
    LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    if (s.empty()) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "Unknown error 0x%08lX", static_cast<unsigned long>(hr));
        s = buf;
    }
    return s;
}

bool WideToUtf8(const wchar_t* text, std::size_t length, std::string* out)
{
    out->clear();
    if (length == 0)
        return true;
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0)
        return false;
    out->resize(static_cast<std::size_t>(n));
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length), out->data(), n, nullptr,
                        nullptr);
    return true;
}

WmiDeviceSource::~WmiDeviceSource() { Release(); }

void WmiDeviceSource::Release()
{
    // Every reference goes before COM itself.
    m_enum.Reset();
    m_set.Reset();
    m_services.Reset();
    m_locator.Reset();
    if (m_bComReady)
        m_calls.Uninitialize();
    m_bComReady = false;
}

SourceResult WmiDeviceSource::Finish(SourceResult result)
{
    if (result.status != SourceStatus::Ok)
        Release();
    return result;
}

SourceResult WmiDeviceSource::Begin()
{
    Release();
    // Only an initialisation that took is undone: a thread already in another
    // apartment keeps its own.
    m_bComReady = SUCCEEDED(m_calls.Initialize());
    HRESULT hr = S_OK;
    {
        // The locator's first reference goes here, while COM is still up.
        ComRef<IUnknown> unknown;
        hr = m_calls.CreateLocator(unknown.Put());
        if (SUCCEEDED(hr))
            hr = m_calls.QueryLocator(unknown.Get(), m_locator.Put());
    }
    if (FAILED(hr))
        return Finish(SourceResult::Unavailable());
    return Finish(Connect());
}

SourceResult WmiDeviceSource::Connect()
{
    HRESULT hr = m_calls.ConnectServer(m_locator.Get(), m_services.Put());
    if (SUCCEEDED(hr))
        hr = m_calls.ExecQuery(m_services.Get(), m_set.Put());
    if (SUCCEEDED(hr))
        hr = m_calls.Enumerate(m_set.Get(), m_enum.Put());
    return FAILED(hr) ? SourceResult::Failed(HresultText(hr)) : SourceResult::Ok();
}

SourceResult WmiDeviceSource::Next(DeviceInfo& device)
{
    if (!m_enum)
        return SourceResult::End();
    SourceResult result = SourceResult::Ok();
    {
        // The item and its name are let go before Finish may end COM.
        Variant item;
        Variant value;
        // Only S_OK delivers an item; S_FALSE at the end and failures alike end the walk.
        if (m_calls.NextItem(m_enum.Get(), item.Get()) != S_OK) {
            result = SourceResult::End();
        } else {
            IUnknown* object = ((*item).vt == VT_DISPATCH || (*item).vt == VT_UNKNOWN) ? (*item).punkVal : nullptr;
            const HRESULT hr = object ? m_calls.ReadName(object, value.Get()) : E_NOINTERFACE;
            device = DeviceInfo{};
            if (FAILED(hr)) {
                result = SourceResult::Failed(HresultText(hr));
            } else if ((*value).vt == VT_BSTR) {
                // A name that has no 8-bit form cannot be a port entry.
                std::string text;
                device.name =
                    WideToUtf8((*value).bstrVal, SysStringLen((*value).bstrVal), &text) ? text : std::string();
            }
            // Any other value: no name, not listed, no failure.
        }
    }
    return Finish(std::move(result));
}

} // namespace pelvar
