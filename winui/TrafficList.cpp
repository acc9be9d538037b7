#include "winui/TrafficList.h"

#include <commctrl.h>

#include <algorithm>

#include "winui/WideText.h"

namespace pelvar {

namespace {

void CopyText(const std::string& text, wchar_t* into, int capacity)
{
    if (into == nullptr || capacity <= 0)
        return;
    lstrcpynW(into, Widen(text).c_str(), capacity);
}

} // namespace

HWND CTrafficList::Create(HWND parent, int id)
{
    m_hList = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                              WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SINGLESEL, 0,
                              0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    if (m_hList == nullptr)
        return nullptr;
    SendMessageW(m_hList, WM_SETFONT, SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
    ListView_SetExtendedListViewStyle(m_hList, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
    // Fixed widths from the font's digit: sizing to contents would read every row.
    HDC dc = GetDC(m_hList);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(m_hList, WM_GETFONT, 0, 0)));
    SIZE digit{8, 8};
    GetTextExtentPoint32W(dc, L"0", 1, &digit);
    for (int c = 0; c < kTrafficColumnCount; ++c) {
        std::wstring title = Widen(TrafficColumnTitle(c));
        SIZE titleSize{0, 0};
        GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &titleSize);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = title.data();
        column.cx =
            c == kTrafficFrames ? 60 * digit.cx : std::max(TrafficColumnDigits(c) * digit.cx, titleSize.cx) + 12;
        column.iSubItem = c;
        SendMessageW(m_hList, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    }
    SelectObject(dc, old);
    ReleaseDC(m_hList, dc);
    return m_hList;
}

void CTrafficList::Post(const ExchangeRecord& record, HWND window, UINT message)
{
    if (m_rows.Post(record) && window != nullptr)
        PostMessageW(window, message, 0, 0);
}

void CTrafficList::StartBatch(HWND window) const { SetTimer(window, kBatchTimer, kTrafficBatchMs, nullptr); }

void CTrafficList::Flush()
{
    std::vector<ExchangeRecord> batch = m_rows.TakePending();
    if (batch.empty())
        return;
    if (m_hList == nullptr) {
        m_rows.Append(std::move(batch));
        return;
    }
    const int before = static_cast<int>(m_rows.Records().size());
    const bool atBottom = ListView_GetTopIndex(m_hList) + ListView_GetCountPerPage(m_hList) >= before;
    const bool dropped = m_rows.DroppedBy(batch) > 0;
    m_rows.Append(std::move(batch));
    const int count = static_cast<int>(m_rows.Records().size());
    // Rows that moved up need drawing again; added rows alone do not.
    ListView_SetItemCountEx(m_hList, count, dropped ? LVSICF_NOSCROLL : LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    if (atBottom && count > 0)
        ListView_EnsureVisible(m_hList, count - 1, FALSE);
}

bool CTrafficList::OnNotify(const NMHDR* header, LRESULT* result) const
{
    if (header->hwndFrom != m_hList)
        return false;
    const std::deque<ExchangeRecord>& rows = m_rows.Records();
    const auto row = [&](int index) -> const ExchangeRecord* {
        return index >= 0 && static_cast<std::size_t>(index) < rows.size() ? &rows[static_cast<std::size_t>(index)]
                                                                           : nullptr;
    };
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header));
        if (const ExchangeRecord* r = row(info->item.iItem); r && (info->item.mask & LVIF_TEXT))
            CopyText(TrafficCellText(*r, info->item.iSubItem), info->item.pszText, info->item.cchTextMax);
        *result = 0;
        return true;
    }
    case LVN_GETINFOTIPW: {
        auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(header));
        if (const ExchangeRecord* r = row(tip->iItem))
            CopyText(TrafficTipText(*r), tip->pszText, tip->cchTextMax);
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
            const ExchangeRecord* r = row(static_cast<int>(draw->nmcd.dwItemSpec));
            const RowColour* colour = r ? TrafficRowColour(*r) : nullptr;
            if (colour != nullptr) {
                draw->clrTextBk = RGB(colour->red, colour->green, colour->blue);
                draw->clrText = RGB(0, 0, 0);
            }
            *result = CDRF_DODEFAULT;
            return true;
        }
        return false;
    }
    default: return false;
    }
}

} // namespace pelvar
