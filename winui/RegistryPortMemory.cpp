#include "winui/RegistryPortMemory.h"

#include <windows.h>

#include "winui/WideText.h"

namespace pelvar {

namespace {

constexpr const wchar_t* kPortValue = L"Port";
constexpr const wchar_t* kSerialValue = L"Serial";
// A USB serial number is short; anything longer is not ours.
constexpr DWORD kSerialMaxChars = 256;

int ReadPort(HKEY key)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG rc = RegQueryValueExW(key, kPortValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value))
        return 0;
    return static_cast<int>(value);
}

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
