#include "platform/win/FtdiRegistry.h"

namespace pelvar {

namespace {

constexpr const wchar_t* kParameters = L"\\0000\\Device Parameters";

// An open key, closed at scope end.
class Key {
public:
    Key(HKEY parent, const std::wstring& path)
    {
        if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    ~Key()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::wstring ReadText(HKEY key, const wchar_t* name)
{
    wchar_t text[64] = {};
    DWORD type = 0;
    DWORD size = sizeof text - sizeof text[0]; // room for a terminator the value may lack
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS
        || type != REG_SZ)
        return {};
    return text;
}

int ReadMs(HKEY key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS
        || type != REG_DWORD || value > 255)
        return -1;
    return static_cast<int>(value);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

} // namespace

AdapterFacts ReadFtdiAdapterFacts(int port, HKEY root, const std::wstring& busKey)
{
    AdapterFacts facts;
    const Key bus(root, busKey);
    if (!bus.Get())
        return facts;
    const std::wstring portName = L"COM" + std::to_wstring(port);
    wchar_t id[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof id / sizeof id[0];
        const LSTATUS status = RegEnumKeyExW(bus.Get(), i, id, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            continue;
        const Key parameters(bus.Get(), std::wstring(id) + kParameters);
        if (!parameters.Get() || _wcsicmp(ReadText(parameters.Get(), L"PortName").c_str(), portName.c_str()) != 0)
            continue;
        facts.driver = kFtdiDriver;
        facts.latencyTimerMs = ReadMs(parameters.Get(), L"LatencyTimer");
        // The advice names the key as the running system has it, whatever root was read.
        if (facts.latencyTimerMs >= 0)
            facts.latencyTimerKey =
                "HKEY_LOCAL_MACHINE\\" + Narrow(kFtdiBusKey) + "\\" + Narrow(id) + Narrow(kParameters);
        break;
    }
    return facts;
}

} // namespace pelvar
