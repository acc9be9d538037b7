// The machine's serial ports as a list of readable names, each ending in
// "(COMn)", sorted by whole text without regard to case.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace pelvar {

// A list that keeps its entries sorted (as a sorted combo box does).
class IPortList {
public:
    virtual ~IPortList() = default;
    virtual void Clear() = 0;
    virtual void AddString(const std::string& text) = 0;
};

class SortedPortList : public IPortList {
public:
    void Clear() override { m_entries.clear(); }
    void AddString(const std::string& text) override;
    const std::vector<std::string>& Entries() const { return m_entries; }

private:
    std::vector<std::string> m_entries;
};

// Reads a port entry: the first "(COM" (case-sensitive) within the first 258
// bytes of the text, then the number as "%d" reads it. False when the text is
// not a port entry (no "(COM", or no number after it).
bool ReadPortEntry(const std::string& text, int* port);

class IDeviceSource;

// Empties `list` and fills it from `source`; a failure of the walk prints
// "Error ocured: <reason>" to `out` and keeps what was found before it.
void FillPortList(IPortList& list, IDeviceSource& source, std::FILE* out = stdout);

// The machine's own source: the port directory, plus udev unless the
// directory is exclusive (PELVAR_PORTS_DIR set).
void FillPortList(IPortList& list);

} // namespace pelvar
