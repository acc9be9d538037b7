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

class WmiDeviceSource : public IDeviceSource {
public:
    WmiDeviceSource() = default;
    ~WmiDeviceSource() override;
    WmiDeviceSource(const WmiDeviceSource&) = delete;
    WmiDeviceSource& operator=(const WmiDeviceSource&) = delete;

    SourceResult Begin() override;
    SourceResult Next(DeviceInfo& device) override;

private:
    SourceResult Connect();
    SourceResult ReadName(IDispatch* item, DeviceInfo& device);
    SourceResult Finish(SourceResult result);
    void Release();

    bool m_bComReady = false;
    ComRef<ISWbemLocator> m_locator;
    ComRef<ISWbemServices> m_services;
    ComRef<ISWbemObjectSet> m_set;
    ComRef<IEnumVARIANT> m_enum;
};

} // namespace pelvar
