// What the FTDI driver keeps in the registry of the adapter behind a COM port:
// its latency timer (the time it holds received bytes before passing them to
// the host). Read only: changing it needs an administrator and a replug.
#pragma once

#include <windows.h>

#include <string>

#include "platform/Platform.h"

namespace pelvar {

// Where the driver keeps one key per device, each with "0000\Device
// Parameters" holding "PortName" ("COM7") and "LatencyTimer" (ms).
constexpr const wchar_t* kFtdiBusKey = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
constexpr const char* kFtdiDriver = "ftdibus";

// The facts of COM`port` as the keys under `busKey` of `root` show them;
// empty when no FTDI device has that port.
AdapterFacts ReadFtdiAdapterFacts(int port, HKEY root = HKEY_LOCAL_MACHINE, const std::wstring& busKey = kFtdiBusKey);

} // namespace pelvar
