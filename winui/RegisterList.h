// The register view drawn with Win32 controls: the shared RegisterViewModel's
// tree as a report-view list (a register's fields indented below it, shown
// or folded away: "-" or "+" before the name, Right and Left), its
// buttons above, and an editor opened over a cell by a double click: a
// drop-down list of the names for a field with named values, an edit box
// for hexadecimal otherwise. Enter (or leaving the editor) writes, Escape
// drops the edit. Every board call goes through the camera worker.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "camera/RegisterView.h"

namespace pelvar {

constexpr int IDC_REG_LOAD_MAP = 1042;
constexpr int IDC_REG_REFRESH = 1043;
constexpr int IDC_REG_SNAPSHOT = 1044;
constexpr int IDC_REG_COMPARE = 1045;
constexpr int IDC_REG_COMPARE_RESET = 1046;
constexpr int IDC_REG_NO_MAP = 1047;
constexpr int IDC_REGISTER_LIST = 1048;
constexpr int IDC_REG_EDITOR = 1049;

class CRegisterList {
public:
    // `askMapPath` asks for a map file (empty: cancelled); `status` shows a line.
    CRegisterList(RegisterBoardRunner run, std::function<void(const std::string&)> status,
                  std::function<std::string()> askMapPath);

    // The controls, hidden; the map at the usual place is loaded when there is one.
    void Create(HWND parent);
    // Places the controls in `area` (client pixels) and shows or hides them.
    void Show(const RECT& area, bool show);
    bool Shown() const { return m_shown; }
    bool LoadMap(const std::string& path, std::string* error);
    RegisterViewModel& View() { return m_view; }
    HWND List() const { return m_hList; }

    // The list's rows: a register, then its fields.
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    std::pair<std::size_t, int> RowAt(int row) const { return m_rows[static_cast<std::size_t>(row)]; }

    // Shows or folds away the fields of the register on `row` (or of the
    // field's register), keeping that register's row in focus.
    void SetExpanded(int row, bool expanded);

    // Opens the row's editor over the cell; false when the cell is not edited.
    bool BeginEdit(int row, int column);
    // The open editor (a drop-down list or an edit box), or null.
    HWND Editor() const { return m_hEditor; }
    // Hands the editor's text to the model (commit) or drops it, and closes the editor.
    void EndEdit(bool commit);

    // The window's messages for these controls; true when handled.
    bool OnCommand(int id, int code);
    bool OnNotify(const NMHDR* header, LRESULT* result);

private:
    void Changed(const std::string& status);
    void ShowMapState();
    void Rebuild();

    RegisterViewModel m_view;
    std::function<void(const std::string&)> m_status;
    std::function<std::string()> m_askMapPath;
    std::vector<std::pair<std::size_t, int>> m_rows;
    std::vector<bool> m_folded; // a register each
    std::vector<HWND> m_buttons;
    HWND m_hParent = nullptr;
    HWND m_hList = nullptr;
    HWND m_hNoMap = nullptr;
    HWND m_hEditor = nullptr;
    int m_editRow = -1;
    bool m_shown = false;
    bool m_ending = false;
};

} // namespace pelvar
