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

} // namespace

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
        CoUninitialize();
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
    m_bComReady = SUCCEEDED(CoInitialize(nullptr));
    ComRef<IUnknown> unknown;
    if (FAILED(CoCreateInstance(CLSID_SWbemLocator, nullptr, CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<void**>(unknown.Put()))))
        return Finish(SourceResult::Unavailable());
    OleRun(unknown.Get());
    if (FAILED(unknown->QueryInterface(IID_ISWbemLocator, reinterpret_cast<void**>(m_locator.Put()))))
        return Finish(SourceResult::Unavailable());
    return Finish(Connect());
}

SourceResult WmiDeviceSource::Connect()
{
    Bstr server(kServer), space(kNamespace), empty(L"");
    HRESULT hr = m_locator->ConnectServer(server.Get(), space.Get(), empty.Get(), empty.Get(), empty.Get(), empty.Get(),
                                          0, nullptr, m_services.Put());
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    Bstr query(kQuery), language(kLanguage);
    hr = m_services->ExecQuery(query.Get(), language.Get(), kQueryFlags, nullptr, m_set.Put());
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    ComRef<IUnknown> unknown;
    hr = m_set->get__NewEnum(unknown.Put());
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    hr = unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(m_enum.Put()));
    // Without an enumerator the walk cannot start: using none is E_POINTER.
    if (hr == E_NOINTERFACE)
        hr = E_POINTER;
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    return SourceResult::Ok();
}

SourceResult WmiDeviceSource::Next(DeviceInfo& device)
{
    if (!m_enum)
        return SourceResult::End();
    Variant item;
    ULONG fetched = 0;
    // Only S_OK delivers an item; S_FALSE at the end and failures alike end the walk.
    if (m_enum->Next(1, item.Get(), &fetched) != S_OK)
        return Finish(SourceResult::End());
    IUnknown* object = ((*item).vt == VT_DISPATCH || (*item).vt == VT_UNKNOWN) ? (*item).punkVal : nullptr;
    if (!object)
        return Finish(SourceResult::Failed(HresultText(E_NOINTERFACE)));
    return Finish(ReadName(static_cast<IDispatch*>(object), device));
}

SourceResult WmiDeviceSource::ReadName(IDispatch* item, DeviceInfo& device)
{
    ComRef<ISWbemObject> object;
    HRESULT hr = item->QueryInterface(IID_ISWbemObject, reinterpret_cast<void**>(object.Put()));
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    ComRef<ISWbemPropertySet> properties;
    hr = object->get_Properties_(properties.Put());
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    ComRef<ISWbemProperty> property;
    Bstr name(kNameProperty);
    hr = properties->Item(name.Get(), 0, property.Put());
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    Variant value;
    hr = property->get_Value(value.Get());
    if (FAILED(hr))
        return SourceResult::Failed(HresultText(hr));
    device = DeviceInfo{};
    if ((*value).vt != VT_BSTR)
        return SourceResult::Ok(); // no name: not listed, no failure
    std::string text;
    // A name that has no 8-bit form cannot be a port entry.
    device.name = WideToUtf8((*value).bstrVal, SysStringLen((*value).bstrVal), &text) ? text : std::string();
    return SourceResult::Ok();
}

} // namespace pelvar
