#include "winui/RegistryPortMemory.h"

#include <windows.h>

#include "winui/WideText.h"

namespace pelvar {

namespace {

constexpr const wchar_t* kPortValue = L"Port";
constexpr const wchar_t* kSerialValue = L"Serial";
constexpr const wchar_t* kAutoReconnectValue = L"AutoReconnect";
// A USB serial number is short; anything longer is not ours.
constexpr DWORD kSerialMaxChars = 256;

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return fallback;
    return value;
}

int ReadPort(HKEY key) { return static_cast<int>(ReadDword(key, kPortValue, 0)); }

std::string ReadSerial(HKEY key)
{
    std::wstring text(kSerialMaxChars + 1, L'\0');
    DWORD type = 0;
    DWORD size = kSerialMaxChars * sizeof(wchar_t);
    const LONG rc = RegQueryValueExW(key, kSerialValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return {};
    // The stored text need not end in a zero: cut at the size, then at one.
    text.resize(size / sizeof(wchar_t));
    text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
    return Narrow(text);
}

} // namespace

bool CRegistryPortMemory::AutoReconnect()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return true;
    const bool on = ReadDword(key, kAutoReconnectValue, 1) != 0;
    RegCloseKey(key);
    return on;
}

void CRegistryPortMemory::SetAutoReconnect(bool on)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    const DWORD value = on ? 1 : 0;
    RegSetValueExW(key, kAutoReconnectValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

PortMemory CRegistryPortMemory::Load()
{
    PortMemory memory;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return memory;
    memory.port = ReadPort(key);
    memory.serial = ReadSerial(key);
    RegCloseKey(key);
    return memory;
}

void CRegistryPortMemory::Save(const PortMemory& memory)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return;
    const DWORD port = static_cast<DWORD>(memory.port);
    RegSetValueExW(key, kPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof(port));
    const std::wstring serial = Widen(memory.serial);
    RegSetValueExW(key, kSerialValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(serial.c_str()),
                   static_cast<DWORD>((serial.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

} // namespace pelvar
