// The register view, free of any GUI library: the map's registers as a tree
// (each register, then its fields), each row's raw value, decoded value and
// access; which rows can be edited and how; and the board calls behind
// Refresh, Snapshot, Compare and an edit. The calls are the ones pelvarctl's
// reg verbs make; they run on the worker, and what they bring back is taken
// in on the window's thread. Each window only draws the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/Bench.h"
#include "camera/BoardConnection.h"
#include "camera/RegisterMap.h"
#include "camera/RegisterSnapshot.h"

namespace pelvar {

constexpr const char* kLoadMapButtonText = "Load map...";
constexpr const char* kLoadMapTitle = "Load register map";
constexpr const char* kRefreshButtonText = "Refresh";
constexpr const char* kSnapshotButtonText = "Snapshot";
constexpr const char* kCompareButtonText = "Compare";
constexpr const char* kCompareResetButtonText = "Compare with reset";

enum RegisterViewColumn {
    kRegViewName,
    kRegViewAddress, // a register's address, a field's bits "[6:4]"
    kRegViewRaw,
    kRegViewDecoded,
    kRegViewAccess,
    kRegViewColumnCount
};
const char* RegisterViewColumnTitle(int column);
int RegisterViewColumnDigits(int column);

// Rows that changed since the snapshot (or reset) they were compared with.
constexpr RowColour kChangedRowColour{255, 224, 130};

// How a row's cell is edited: a field with named values from the list of
// its names, other writable rows as hexadecimal, the rest not at all.
enum class RegisterEditor { None, Names, Hex };

// The work the view hands to the worker, and the window's-thread call that
// takes in its outcome; `scriptLine` goes to a session recording.
using RegisterBoardWork = std::function<void(BoardConnection& board)>;
using RegisterBoardRunner =
    std::function<void(RegisterBoardWork work, std::function<void()> done, std::string scriptLine)>;

class RegisterViewModel {
public:
    // `run` carries each operation to the board; `changed` (window's thread)
    // is told after the rows changed, with a line for the status.
    RegisterViewModel(RegisterBoardRunner run, std::function<void(const std::string& status)> changed);
    RegisterViewModel(const RegisterViewModel&) = delete;
    RegisterViewModel& operator=(const RegisterViewModel&) = delete;

    // Replaces the rows; what the worker still brings back for the old map is dropped.
    void SetMap(RegisterMap map);
    bool LoadMap(const std::string& path, std::string* error);
    bool HasMap() const { return m_map && !m_map->Empty(); }
    const RegisterMap* Map() const { return m_map.get(); }
    // The same map for the plot, kept alive while its series point into it.
    std::shared_ptr<const RegisterMap> SharedMap() const { return m_map; }
    // What the pane says without a map.
    std::string NoMapText() const;

    // The tree: registers in the map's order, each with its fields.
    std::size_t RegisterCount() const { return HasMap() ? m_map->Registers().size() : 0; }
    std::size_t FieldCount(std::size_t reg) const;
    // `field` -1: the register's own row.
    std::string CellText(std::size_t reg, int field, int column) const;
    std::string TipText(std::size_t reg, int field) const;
    bool Marked(std::size_t reg, int field) const;

    RegisterEditor EditorFor(std::size_t reg, int field, int column) const;
    // The names offered for a field with named values, in the map's order.
    std::vector<std::string> ValueNames(std::size_t reg, int field) const;
    // What the editor starts with: the value's name, or its hexadecimal.
    std::string EditText(std::size_t reg, int field, int column) const;
    // Sends `text` (a name or hexadecimal) to the row, then reads the
    // register back when a read disturbs nothing. False with *error one line
    // when it is refused before anything is sent.
    bool Edit(std::size_t reg, int field, const std::string& text, std::string* error);

    // Reads every register a read does not disturb (never rc, never wo).
    void Refresh();
    void TakeSnapshot();
    bool HasSnapshot() const { return m_hasSnapshot; }
    // Marks the rows that differ from the snapshot, or from the map's reset values.
    void Compare();
    void CompareWithReset();

private:
    struct Cell {
        bool known = false; // a value was read
        std::uint16_t value = 0;
        std::int32_t result = LINK_OK; // the last read's
        bool marked = false;
        std::uint16_t was = 0; // what it was compared with, when marked
        std::string tip;       // the difference, as pelvarctl reg diff prints it
    };
    const RegisterInfo& Reg(std::size_t reg) const { return m_map->Registers()[reg]; }
    const RegisterField* FieldOf(std::size_t reg, int field) const;
    // The work's outcome is taken in only while the map it was made for is shown.
    std::function<void()> WhileCurrent(std::function<void()> apply);
    void RunCompare(const RegisterSnapshot& against, const std::string& what);
    void Tell(const std::string& status);

    RegisterBoardRunner m_run;
    std::function<void(const std::string&)> m_changed;
    std::shared_ptr<const RegisterMap> m_map;
    std::shared_ptr<int> m_generation; // a new one for each map; the work holds it weakly
    std::vector<Cell> m_cells;
    RegisterSnapshot m_snapshot;
    bool m_hasSnapshot = false;
};

} // namespace pelvar
