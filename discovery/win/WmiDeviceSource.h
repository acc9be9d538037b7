// The machine's Plug and Play devices through WMI: Win32_PnPEntity queried by
// the scripting objects, one device's display name at a time.
#pragma once

#include <windows.h>
#include <wbemdisp.h>

#include <string>

#include "discovery/DeviceSource.h"

namespace pelvar {

// An owned interface reference, released at scope end.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Address to receive a new reference; drops the one held.
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void Reset()
    {
        if (m_p)
            m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

// "Error ocured: %S" text of an HRESULT: the system's message for it, else
// "Unknown error 0x80041003" as COM's error object words it.
std::string HresultText(HRESULT hr);

// UTF-8 form of a wide text; false when it holds an unpaired surrogate.
bool WideToUtf8(const wchar_t* text, std::size_t length, std::string* out);

// The COM calls of a walk, one per step that can fail, so that tests can
// fail each of them. Objects travel as IUnknown; each call's result is a new
// reference that the caller releases.
class IWmiCalls {
public:
    virtual ~IWmiCalls() = default;
    virtual HRESULT Initialize() = 0; // CoInitialize
    virtual void Uninitialize() = 0;  // CoUninitialize
    // The scripting locator's object, running.
    virtual HRESULT CreateLocator(IUnknown** unknown) = 0;
    virtual HRESULT QueryLocator(IUnknown* unknown, IUnknown** locator) = 0;
    virtual HRESULT ConnectServer(IUnknown* locator, IUnknown** services) = 0;
    virtual HRESULT ExecQuery(IUnknown* services, IUnknown** set) = 0;
    // The set's enumerator (IEnumVARIANT).
    virtual HRESULT Enumerate(IUnknown* set, IUnknown** enumerator) = 0;
    // S_OK with one item, S_FALSE at the end, or a failure.
    virtual HRESULT NextItem(IUnknown* enumerator, VARIANT* item) = 0;
    // The item's "Name" property.
    virtual HRESULT ReadName(IUnknown* item, VARIANT* value) = 0;
};

// The system's own COM.
IWmiCalls& SystemWmiCalls();

class WmiDeviceSource : public IDeviceSource {
public:
    explicit WmiDeviceSource(IWmiCalls& calls = SystemWmiCalls()) : m_calls(calls) {}
    ~WmiDeviceSource() override;
    WmiDeviceSource(const WmiDeviceSource&) = delete;
    WmiDeviceSource& operator=(const WmiDeviceSource&) = delete;

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

private:
    SourceResult Connect();
    SourceResult Finish(SourceResult result);
    void Release();

    IWmiCalls& m_calls;
    bool m_bComReady = false;
    ComRef<IUnknown> m_locator;
    ComRef<IUnknown> m_services;
    ComRef<IUnknown> m_set;
    ComRef<IUnknown> m_enum;
};

} // namespace pelvar
