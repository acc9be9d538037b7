// The Win32 window as a bring-up bench: the shared bench's items in the
// system menu below About and in the menu of a right click on the window's
// background (Shift+F10 and the menu key open it too), its files asked for
// with the common file dialogs, the traffic pane beside the panel, and the
// device notifications that end and resume the connection.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include "camera/AboutTemplate.h"
#include "camera/PanelTemplate.h"
#include "winui/PelvarDlg.h"
#include "winui/PlotView.h"
#include "winui/RegisterList.h"
#include "winui/RegistryPortMemory.h"
#include "winui/WideText.h"

namespace pelvar {

namespace {

// The serial-port device interface class (GUID_DEVINTERFACE_COMPORT).
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// "Logs (*.log *.txt)\0*.log;*.txt\0All files (*.*)\0*.*\0\0".
std::wstring FilterString(BenchFile kind)
{
    const FileFilter filter = FilterFor(kind);
    std::wstring patterns = Widen(filter.patterns);
    for (wchar_t& c : patterns) {
        if (c == L' ')
            c = L';';
    }
    std::wstring text = Widen(FilterTitle(filter));
    text += L'\0';
    text += patterns;
    text += L'\0';
    text += L"All files (*.*)";
    text += L'\0';
    text += L"*.*";
    text += L'\0';
    return text;
}

// "log" of "*.log *.txt": what a name typed without an extension gets.
std::wstring DefaultExtension(BenchFile kind)
{
    const std::string patterns = FilterFor(kind).patterns;
    const std::size_t dot = patterns.find('.');
    const std::size_t end = patterns.find(' ');
    return dot == std::string::npos ? std::wstring() : Widen(patterns.substr(dot + 1, end - dot - 1));
}

int FindItem(HMENU menu, UINT id)
{
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (GetMenuItemID(menu, i) == id)
            return i;
    }
    return -1;
}

} // namespace

void CPelvarDlg::SetUpBench(IPlatform& platform)
{
    m_registry = dynamic_cast<CRegistryPortMemory*>(m_memory.get());
    if (m_registry != nullptr)
        m_worker->SetAutoReconnect(m_registry->AutoReconnect());
    m_bench = std::make_unique<pelvar::Bench>(*m_worker, *this);
    m_worker->SetExchangeSink([this](const ExchangeRecord& r) { PostExchange(r); });
    m_registers = std::make_unique<CRegisterList>(
        [worker = m_worker.get()](RegisterBoardWork work, std::function<void()> done, std::string line) {
            worker->RunOnBoard(std::move(work), std::move(done), std::move(line));
        },
        [this](const std::string& line) { SetStatusText(line); },
        [this] { return AskPath(kLoadMapTitle, BenchFile::RegisterMap, false); });
    m_plot = std::make_unique<CPlotView>(
        platform,
        [worker = m_worker.get()](RegisterBoardWork work, std::function<void()> done, std::string line) {
            worker->RunOnBoard(std::move(work), std::move(done), std::move(line));
        },
        [this](const std::string& line) { SetStatusText(line); },
        [this](const char* title, BenchFile kind) { return AskPath(title, kind, true); });
}

void CPelvarDlg::InitBench()
{
    m_traffic.Create(m_hWnd, IDC_TRAFFIC_LIST);
    m_registers->Create(m_hWnd);
    m_plot->Create(m_hWnd);
    AddBenchItems(GetSystemMenu(m_hWnd, FALSE));
    RegisterForDevices();
}

void CPelvarDlg::EndBench()
{
    KillTimer(m_hWnd, CTrafficList::kBatchTimer);
    if (m_hDevNotify != nullptr)
        UnregisterDeviceNotification(m_hDevNotify);
    m_hDevNotify = nullptr;
}

// Ports (DBT_DEVTYP_PORT) are announced to every top-level window; the
// interface notifications, which carry the adapter's instance id, only to
// windows that ask.
void CPelvarDlg::RegisterForDevices()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    m_hDevNotify = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

INT_PTR CPelvarDlg::OnBenchMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case kTrafficPosted: m_traffic.StartBatch(m_hWnd); return TRUE;
    case WM_TIMER:
        if (wParam != CTrafficList::kBatchTimer)
            return FALSE;
        KillTimer(m_hWnd, CTrafficList::kBatchTimer);
        m_traffic.Flush();
        return TRUE;
    case WM_NOTIFY: {
        LRESULT result = 0;
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!m_traffic.OnNotify(header, &result) && !m_registers->OnNotify(header, &result))
            return FALSE;
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_INITMENUPOPUP:
        // The check marks and the record item's text as they are now.
        if (HIWORD(lParam) != 0)
            RefreshSystemMenu();
        return FALSE;
    case WM_CONTEXTMENU: return OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
    case WM_DEVICECHANGE: return OnDeviceChange(wParam, lParam);
    default: return FALSE;
    }
}

// A separator and the items; the faults in a submenu of their own.
void CPelvarDlg::AddBenchItems(HMENU menu)
{
    if (menu == nullptr)
        return;
    HMENU faults = nullptr;
    for (const BenchMenuItem& item : m_bench->MenuItems()) {
        if (item.separatorBefore)
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        if (item.submenu && faults == nullptr) {
            faults = CreatePopupMenu();
            AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(faults), Widen(kFaultsMenuText).c_str());
        }
        AppendMenuW(item.submenu ? faults : menu, MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED), item.id,
                    Widen(item.text).c_str());
    }
}

// Everything below About goes and comes back as the bench is now.
void CPelvarDlg::RefreshSystemMenu()
{
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    const int about = FindItem(menu, IDM_ABOUTBOX);
    if (about < 0)
        return;
    while (GetMenuItemCount(menu) > about + 1)
        DeleteMenu(menu, static_cast<UINT>(about + 1), MF_BYPOSITION);
    AddBenchItems(menu);
}

HMENU CPelvarDlg::CreateBenchMenu()
{
    HMENU menu = CreatePopupMenu();
    const std::wstring about = Widen(kAboutMenuText);
    if (!about.empty())
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    AddBenchItems(menu);
    return menu;
}

// Static texts and group frames let the click through to the window; a
// click on any other control is that control's. From the keyboard (no
// position) the menu opens at the window's corner.
bool CPelvarDlg::OnContextMenu(HWND clicked, LPARAM where)
{
    const bool keyboard = where == -1;
    if (!keyboard && clicked != m_hWnd)
        return false;
    POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
    if (keyboard) {
        at = {0, 0};
        ClientToScreen(m_hWnd, &at);
    }
    HMENU menu = CreateBenchMenu();
    const UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, m_hWnd, nullptr));
    DestroyMenu(menu);
    // The command runs after the menu has closed, as a window command would.
    if (chosen != 0)
        OnSysCommand(chosen, 0);
    return true;
}

// Arrivals and removals of ports: the worker reads the list again, ends
// the connection when its adapter went and tries it at once when it is back.
bool CPelvarDlg::OnDeviceChange(WPARAM event, LPARAM data)
{
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || data == 0)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    std::wstring name;
    if (header->dbch_devicetype == DBT_DEVTYP_PORT)
        name = reinterpret_cast<const DEV_BROADCAST_PORT_W*>(header)->dbcp_name;
    else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
        name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name;
    else
        return false;
    m_worker->DeviceChanged(event == DBT_DEVICEARRIVAL ? DeviceChange::Arrived : DeviceChange::Removed,
                            NoticeFromDeviceName(Narrow(name)));
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
    return true;
}

std::string CPelvarDlg::AskPath(const char* title, BenchFile kind, bool save)
{
    const std::wstring filter = FilterString(kind);
    const std::wstring caption = Widen(title);
    const std::wstring extension = DefaultExtension(kind);
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrTitle = caption.c_str();
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY
                | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn)))
        return {};
    file.resize(file.find(L'\0'));
    return Narrow(file);
}

std::string CPelvarDlg::AskSavePath(const char* title, BenchFile kind) { return AskPath(title, kind, true); }

std::string CPelvarDlg::AskOpenPath(const char* title, BenchFile kind) { return AskPath(title, kind, false); }

// The panes go beside the panel, which keeps its layout; the window grows to hold them.
RECT CPelvarDlg::SizeForPane(bool wide)
{
    RECT area{kTrafficArea.x, kTrafficArea.y, kTrafficArea.x + kTrafficArea.cx, kTrafficArea.y + kTrafficArea.cy};
    MapDialogRect(m_hWnd, &area);
    const DialogRect& size = wide ? kPanelWithTraffic : kPanelWithStatusSize;
    RECT client{0, 0, size.cx, size.cy};
    MapDialogRect(m_hWnd, &client);
    AdjustWindowRectEx(&client, static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE)));
    SetWindowPos(m_hWnd, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return area;
}

void CPelvarDlg::ShowTrafficPane(bool show)
{
    const RECT area = SizeForPane(show);
    if (show) {
        m_registers->Show(area, false);
        m_plot->Show(area, false);
    }
    SetWindowPos(m_traffic.Handle(), nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(m_traffic.Handle(), show ? SW_SHOW : SW_HIDE);
    if (show) {
        m_traffic.Flush();
        const int count = static_cast<int>(m_traffic.Rows().Records().size());
        if (count > 0)
            ListView_EnsureVisible(m_traffic.Handle(), count - 1, FALSE);
    }
}

void CPelvarDlg::ShowRegisterView(bool show)
{
    const RECT area = SizeForPane(show);
    if (show) {
        ShowWindow(m_traffic.Handle(), SW_HIDE);
        m_plot->Show(area, false);
    }
    m_registers->Show(area, show);
}

void CPelvarDlg::ShowPlot(bool show)
{
    const RECT area = SizeForPane(show);
    if (show) {
        ShowWindow(m_traffic.Handle(), SW_HIDE);
        m_registers->Show(area, false);
        m_plot->SetMap(m_registers->View().SharedMap());
    }
    m_plot->Show(area, show);
}

bool CPelvarDlg::PlotShown() const { return m_plot && m_plot->Shown(); }

bool CPelvarDlg::RegisterViewShown() const { return m_registers && m_registers->Shown(); }

bool CPelvarDlg::TrafficPaneShown() const
{
    return m_traffic.Handle() != nullptr && IsWindowVisible(m_traffic.Handle());
}

const std::deque<ExchangeRecord>& CPelvarDlg::FlushedTraffic()
{
    m_traffic.Flush();
    return m_traffic.Rows().Records();
}

Adjustments CPelvarDlg::SliderValues()
{
    return ReadSliders([this](int id) { return static_cast<std::int32_t>(SendMessageW(Item(id), TBM_GETPOS, 0, 0)); });
}

// A trackbar set by its program does not notify.
void CPelvarDlg::MoveSliders(const Adjustments& values)
{
    MoveEachSlider(values, [this](int id, std::int32_t value) { SendMessageW(Item(id), TBM_SETPOS, TRUE, value); });
}

void CPelvarDlg::StoreAutoReconnect(bool on)
{
    if (m_registry != nullptr)
        m_registry->SetAutoReconnect(on);
}

} // namespace pelvar
