// Port entries: which device names belong in the port list, the list's
// order, and the port number an entry names.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/PortRef.h"

namespace pelvar {

// The port test looks at no more than this many bytes of a list text.
constexpr std::size_t kPortCopyLimit = 258;

// The 8-bit copy of a list text: its first kPortCopyLimit bytes at most, cut
// only between UTF-8 characters (a text stops at its first NUL). Empty when
// the bytes before the cut are not valid UTF-8.
std::string EightBitCopy(const std::string& text);

// True when the 8-bit copy holds "(COM": the text belongs in the port list.
bool HasPortMark(const std::string& text);

// The list's order, as this system's sorted list controls have it: whole
// text without regard to case (on Linux ASCII letters only, byte by byte;
// on Windows the user's locale's comparison).
bool PortTextLess(const std::string& a, const std::string& b);

// Puts `entry` where the list's order wants it: after every entry whose text
// does not sort after its own, so that texts equal but for case keep the
// order they came in. `text` gives an entry's list text.
template <class Entry, class Text>
void InsertInListOrder(std::vector<Entry>& entries, Entry entry, Text text)
{
    auto at = std::upper_bound(entries.begin(), entries.end(), entry, [&text](const Entry& a, const Entry& b) {
        return PortTextLess(std::invoke(text, a), std::invoke(text, b));
    });
    entries.insert(at, std::move(entry));
}

// Reads a port entry: the first "(COM" (case-sensitive) within the first 258
// bytes of the text, then the number as "%d" reads it. False when the text is
// not a port entry (no "(COM", or no number after it).
bool ReadPortEntry(const std::string& text, int* port);

// A port as a user names it: its number ("7") or "COM7", 1..255. False for
// anything else.
bool ParseComPortName(const std::string& text, int* port);

// One port as a user names it anywhere: "7", "COM7", a device path or
// rfc2217://HOST:PORT. False with one line in *error.
bool ParsePortReference(const std::string& text, PortRef* ref, std::string* error);

// The port list entry that stands for COMn when a port is given by number.
std::string PortEntryFor(int port);

// A list of ports as a user gives it ("7,8,9", "COM7,rfc2217://lab:2217"),
// numbers ascending first, then names, without repeats; false with one line
// in *error for the first bad element.
bool ParsePortList(const std::string& text, std::vector<PortRef>* ports, std::string* error);

} // namespace pelvar
