#include "winui/RegisterList.h"

#include <algorithm>

#include "winui/WideText.h"

namespace pelvar {

namespace {

constexpr int kButtonGap = 4; // pixels between the buttons, and above the list

void CopyText(const std::string& text, wchar_t* into, int capacity)
{
    if (into == nullptr || capacity <= 0)
        return;
    lstrcpynW(into, Widen(text).c_str(), capacity);
}

std::string WindowText(HWND hwnd)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

SIZE TextSize(HWND hwnd, const std::wstring& text)
{
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    SIZE size{8, 8};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return size;
}

} // namespace

CRegisterList::CRegisterList(RegisterBoardRunner run, std::function<void(const std::string&)> status,
                             std::function<std::string()> askMapPath)
    : m_view(std::move(run), [this](const std::string& line) { Changed(line); }), m_status(std::move(status)),
      m_askMapPath(std::move(askMapPath))
{}

void CRegisterList::Create(HWND parent)
{
    m_hParent = parent;
    const LPARAM font = static_cast<LPARAM>(SendMessageW(parent, WM_GETFONT, 0, 0));
    const std::pair<int, const char*> buttons[] = {{IDC_REG_LOAD_MAP, kLoadMapButtonText},
                                                   {IDC_REG_REFRESH, kRefreshButtonText},
                                                   {IDC_REG_SNAPSHOT, kSnapshotButtonText},
                                                   {IDC_REG_COMPARE, kCompareButtonText},
                                                   {IDC_REG_COMPARE_RESET, kCompareResetButtonText}};
    for (const auto& [id, text] : buttons) {
        HWND b = CreateWindowExW(0, L"BUTTON", Widen(text).c_str(), WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        SendMessageW(b, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
        m_buttons.push_back(b);
    }
    m_hNoMap = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFT, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REG_NO_MAP)), nullptr, nullptr);
    SendMessageW(m_hNoMap, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    m_hList =
        CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                        WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL, 0, 0, 0,
                        0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REGISTER_LIST)), nullptr, nullptr);
    SendMessageW(m_hList, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    ListView_SetExtendedListViewStyle(m_hList, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
    const SIZE digit = TextSize(m_hList, L"0");
    for (int c = 0; c < kRegViewColumnCount; ++c) {
        std::wstring title = Widen(RegisterViewColumnTitle(c));
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = title.data();
        column.cx = RegisterViewColumnDigits(c) * digit.cx + 12;
        column.iSubItem = c;
        SendMessageW(m_hList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    }
    const std::string path = DefaultRegisterMapPath();
    std::string error;
    if (!path.empty() && GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES && !LoadMap(path, &error)
        && m_status)
        m_status(error);
    ShowMapState();
}

// The buttons in a row at the top, the list (or the no-map text) below.
void CRegisterList::Show(const RECT& area, bool show)
{
    if (!show)
        EndEdit(false);
    m_shown = show;
    int x = area.left;
    int rowHeight = 0;
    for (HWND b : m_buttons) {
        const SIZE text = TextSize(b, Widen(WindowText(b)));
        const int w = text.cx + 16;
        const int h = text.cy + 10;
        rowHeight = std::max(rowHeight, h);
        SetWindowPos(b, nullptr, x, area.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
        ShowWindow(b, show ? SW_SHOW : SW_HIDE);
        x += w + kButtonGap;
    }
    const int top = area.top + rowHeight + kButtonGap;
    SetWindowPos(m_hList, nullptr, area.left, top, area.right - area.left, area.bottom - top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(m_hNoMap, nullptr, area.left, top, area.right - area.left, area.bottom - top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowMapState();
}

void CRegisterList::ShowMapState()
{
    const bool hasMap = m_view.HasMap();
    SetWindowTextW(m_hNoMap, Widen(m_view.NoMapText()).c_str());
    ShowWindow(m_hNoMap, m_shown && !hasMap ? SW_SHOW : SW_HIDE);
    ShowWindow(m_hList, m_shown && hasMap ? SW_SHOW : SW_HIDE);
    for (HWND b : m_buttons)
        if (GetDlgCtrlID(b) != IDC_REG_LOAD_MAP)
            EnableWindow(b, hasMap);
}

bool CRegisterList::LoadMap(const std::string& path, std::string* error)
{
    EndEdit(false);
    if (!m_view.LoadMap(path, error))
        return false;
    Rebuild();
    ShowMapState();
    return true;
}

void CRegisterList::Rebuild()
{
    m_rows.clear();
    m_folded.resize(m_view.RegisterCount(), false);
    for (std::size_t r = 0; r < m_view.RegisterCount(); ++r) {
        m_rows.emplace_back(r, -1);
        for (std::size_t f = 0; !m_folded[r] && f < m_view.FieldCount(r); ++f)
            m_rows.emplace_back(r, static_cast<int>(f));
    }
    ListView_SetItemCountEx(m_hList, static_cast<int>(m_rows.size()), 0);
    InvalidateRect(m_hList, nullptr, TRUE);
}

void CRegisterList::SetExpanded(int row, bool expanded)
{
    if (row < 0 || row >= RowCount())
        return;
    const std::size_t reg = RowAt(row).first;
    if (m_view.FieldCount(reg) == 0 || m_folded[reg] == !expanded)
        return;
    EndEdit(false); // its row number would point elsewhere
    m_folded[reg] = !expanded;
    Rebuild();
    const int at = static_cast<int>(std::find(m_rows.begin(), m_rows.end(), std::make_pair(reg, -1)) - m_rows.begin());
    ListView_SetItemState(m_hList, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(m_hList, at, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(m_hList, at, FALSE);
}

void CRegisterList::Changed(const std::string& status)
{
    if (m_hList != nullptr)
        InvalidateRect(m_hList, nullptr, FALSE);
    if (m_status && !status.empty())
        m_status(status);
}

bool CRegisterList::BeginEdit(int row, int column)
{
    EndEdit(false);
    if (row < 0 || row >= RowCount())
        return false;
    const auto [reg, field] = RowAt(row);
    const RegisterEditor editor = m_view.EditorFor(reg, field, column);
    if (editor == RegisterEditor::None)
        return false;
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    if (!SendMessageW(m_hList, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell)))
        return false;
    MapWindowPoints(m_hList, m_hParent, reinterpret_cast<POINT*>(&cell), 2);
    const LPARAM font = static_cast<LPARAM>(SendMessageW(m_hList, WM_GETFONT, 0, 0));
    const std::wstring current = Widen(m_view.EditText(reg, field, column));
    if (editor == RegisterEditor::Names) {
        m_hEditor = CreateWindowExW(0, WC_COMBOBOXW, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST,
                                    cell.left, cell.top, cell.right - cell.left, 200, m_hParent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REG_EDITOR)), nullptr, nullptr);
        for (const std::string& name : m_view.ValueNames(reg, field))
            SendMessageW(m_hEditor, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
        SendMessageW(m_hEditor, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(current.c_str()));
    } else {
        m_hEditor = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", current.c_str(), WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                                    cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top + 4, m_hParent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REG_EDITOR)), nullptr, nullptr);
        SendMessageW(m_hEditor, EM_SETSEL, 0, -1);
    }
    if (m_hEditor == nullptr)
        return false;
    SendMessageW(m_hEditor, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    SetWindowPos(m_hEditor, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    m_editRow = row;
    SetFocus(m_hEditor);
    return true;
}

void CRegisterList::EndEdit(bool commit)
{
    if (m_hEditor == nullptr || m_ending)
        return;
    m_ending = true; // destroying the editor takes its focus: that must not end it twice
    const std::string text = WindowText(m_hEditor);
    const auto [reg, field] = RowAt(m_editRow);
    HWND editor = m_hEditor;
    m_hEditor = nullptr;
    m_editRow = -1;
    DestroyWindow(editor);
    SetFocus(m_hList);
    m_ending = false;
    std::string why;
    if (commit && !text.empty() && !m_view.Edit(reg, field, text, &why) && m_status)
        m_status(why);
}

bool CRegisterList::OnCommand(int id, int code)
{
    if (m_hEditor != nullptr) {
        // Enter and Escape reach the dialog as IDOK and IDCANCEL.
        if (id == IDOK || id == IDCANCEL) {
            EndEdit(id == IDOK);
            return true;
        }
        if (id == IDC_REG_EDITOR) {
            // Not from within the drop-down list's own notification: the
            // list is destroyed by the end of the edit.
            if (code == CBN_SELENDOK)
                PostMessageW(m_hParent, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            else if (code == EN_KILLFOCUS || code == CBN_KILLFOCUS)
                EndEdit(code == EN_KILLFOCUS);
            return true;
        }
    }
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_REG_LOAD_MAP: {
        const std::string path = m_askMapPath ? m_askMapPath() : std::string();
        std::string error;
        if (!path.empty() && !LoadMap(path, &error) && m_status)
            m_status(error);
        return true;
    }
    case IDC_REG_REFRESH: m_view.Refresh(); return true;
    case IDC_REG_SNAPSHOT: m_view.TakeSnapshot(); return true;
    case IDC_REG_COMPARE: m_view.Compare(); return true;
    case IDC_REG_COMPARE_RESET: m_view.CompareWithReset(); return true;
    default: return false;
    }
}

bool CRegisterList::OnNotify(const NMHDR* header, LRESULT* result)
{
    if (header == nullptr || header->hwndFrom != m_hList)
        return false;
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header));
        if (info->item.iItem < 0 || info->item.iItem >= RowCount())
            return true;
        const auto [reg, field] = RowAt(info->item.iItem);
        if (info->item.mask & LVIF_TEXT) {
            std::string text = m_view.CellText(reg, field, info->item.iSubItem);
            if (field < 0 && info->item.iSubItem == kRegViewName && m_view.FieldCount(reg) > 0)
                text = (m_folded[reg] ? "+ " : "- ") + text;
            CopyText(text, info->item.pszText, info->item.cchTextMax);
        }
        if (info->item.mask & LVIF_INDENT)
            info->item.iIndent = field < 0 ? 0 : 1;
        *result = 0;
        return true;
    }
    case LVN_GETINFOTIPW: {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(header));
        if (tip->iItem >= 0 && tip->iItem < RowCount()) {
            const auto [reg, field] = RowAt(tip->iItem);
            CopyText(m_view.TipText(reg, field), tip->pszText, tip->cchTextMax);
        }
        *result = 0;
        return true;
    }
    case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(header));
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            *result = CDRF_NOTIFYITEMDRAW;
            return true;
        }
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const int row = static_cast<int>(draw->nmcd.dwItemSpec);
            if (row >= 0 && row < RowCount()) {
                const auto [reg, field] = RowAt(row);
                if (m_view.Marked(reg, field)) {
                    draw->clrTextBk = RGB(kChangedRowColour.red, kChangedRowColour.green, kChangedRowColour.blue);
                    draw->clrText = RGB(0, 0, 0);
                }
            }
            *result = CDRF_DODEFAULT;
            return true;
        }
        *result = CDRF_DODEFAULT;
        return true;
    }
    case LVN_KEYDOWN: {
        const auto* key = reinterpret_cast<const NMLVKEYDOWN*>(header);
        const int row = ListView_GetNextItem(m_hList, -1, LVNI_FOCUSED);
        if (key->wVKey == VK_RIGHT || key->wVKey == VK_ADD)
            SetExpanded(row, true);
        else if (key->wVKey == VK_LEFT || key->wVKey == VK_SUBTRACT)
            SetExpanded(row, false);
        *result = 0;
        return true;
    }
    case NM_CLICK: {
        // The "+" or "-" before a register's name folds or shows its fields.
        const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
        LVHITTESTINFO hit{};
        hit.pt = click->ptAction;
        ListView_SubItemHitTest(m_hList, &hit);
        RECT label{};
        if (hit.iItem >= 0 && hit.iSubItem == kRegViewName && RowAt(hit.iItem).second < 0
            && ListView_GetItemRect(m_hList, hit.iItem, &label, LVIR_LABEL)
            && hit.pt.x < label.left + TextSize(m_hList, L"+ ").cx + 4)
            SetExpanded(hit.iItem, m_folded[RowAt(hit.iItem).first]);
        *result = 0;
        return true;
    }
    case NM_DBLCLK: {
        const auto* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
        LVHITTESTINFO hit{};
        hit.pt = click->ptAction;
        ListView_SubItemHitTest(m_hList, &hit);
        if (hit.iItem >= 0)
            BeginEdit(hit.iItem, hit.iSubItem);
        *result = 0;
        return true;
    }
    default: return false;
    }
}

} // namespace pelvar
