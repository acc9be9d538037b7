// The port on which the board answered last time, kept in the user's part of
// the registry, so Connect tries it first in the next session too.
#pragma once

#include <string>

#include "camera/PortMemory.h"

namespace pelvar {

// Under HKEY_CURRENT_USER.
constexpr const wchar_t* kPelvarRegistryKey = L"Software\\Zandrel\\Pelvar";

class CRegistryPortMemory : public IPortMemoryStore {
public:
    explicit CRegistryPortMemory(std::wstring keyPath = kPelvarRegistryKey) : m_keyPath(std::move(keyPath)) {}

    // Nothing remembered when the key or a value is missing or unreadable.
    PortMemory Load() override;
    // A registry that refuses the write costs only the ordering next time.
    void Save(const PortMemory& memory) override;

    // The "Reconnect automatically" switch, on unless stored off.
    bool AutoReconnect();
    void SetAutoReconnect(bool on);

private:
    std::wstring m_keyPath;
};

} // namespace pelvar
