#include "winui/PelvarDlg.h"

#include <commctrl.h>

#include "camera/AboutTemplate.h"
#include "camera/ControlIds.h"
#include "camera/ControlTable.h"
#include "winui/AboutDlg.h"
#include "winui/DialogTemplate.h"
#include "winui/PlotView.h"
#include "winui/RegisterList.h"
#include "winui/RegistryPortMemory.h"
#include "winui/ResourceIds.h"
#include "winui/WideText.h"

namespace pelvar {

namespace {

constexpr int kSliderMin = 0;
constexpr int kSliderMax = 255;
// Posted by the first paint: handled once the paint messages have run.
constexpr UINT kFirstPaintDone = WM_APP + 1;
// Posted by the worker: its view calls wait to be applied on this thread.
constexpr UINT kDrainUi = WM_APP + 2;
// View calls applied per wake-up; the rest come with the next.
constexpr std::size_t kDrainPortion = 64;
// The port list's first reading, at the latest this long after opening.
constexpr UINT_PTR kFillPortsTimer = 0x7270;
constexpr UINT kFillPortsLatestMs = 500;

// The port list as a sorted combo box fills itself.
class ComboPortList : public IPortList {
public:
    explicit ComboPortList(HWND combo) : m_hCombo(combo) {}
    void Clear() override { SendMessageW(m_hCombo, CB_RESETCONTENT, 0, 0); }
    void AddString(const std::string& text) override
    {
        const std::wstring wide = Widen(text);
        SendMessageW(m_hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }

private:
    HWND m_hCombo;
};

std::wstring WindowText(HWND hwnd)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

IconOrigin IconOriginFor(int clientWidth, int clientHeight, int iconWidth, int iconHeight)
{
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

CPelvarDlg::CPelvarDlg(HINSTANCE instance, PortListFiller fillPorts, IPlatform& platform,
                       std::unique_ptr<IPortMemoryStore> memory)
    : m_hInstance(instance), m_fillPorts(std::move(fillPorts)),
      m_memory(memory ? std::move(memory) : std::make_unique<CRegistryPortMemory>()),
      m_hIcon(LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME)))
{
    // WMI may take seconds over the machine's devices: closing the window
    // does not wait for a reading in flight.
    CameraWorkerOptions options;
    options.listerOwnsItsState = ListsMachinePorts(m_fillPorts);
    m_worker = std::make_unique<CameraWorker>(
        *this, platform, ListerFor(m_fillPorts), m_memory.get(), [this] { WakeUi(); }, options);
    SetUpBench(platform);
}

// The window goes first, so nothing is drawn any more; then the worker lets
// its running exchange end within its bound and releases the port.
CPelvarDlg::~CPelvarDlg()
{
    if (m_hWnd != nullptr && IsWindow(m_hWnd))
        DestroyWindow(m_hWnd);
    m_worker.reset();
}

CPelvarDlg::PortListFiller CPelvarDlg::DefaultPortListFiller() { return MachinePortListFiller(); }

CPelvarDlg* CPelvarDlg::FromHandle(HWND hwnd)
{
    if (hwnd == nullptr || GetWindowLongPtrW(hwnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(&DialogProc))
        return nullptr;
    return reinterpret_cast<CPelvarDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
}

// Worker's thread: one wake-up at a time, however many view calls wait.
void CPelvarDlg::WakeUi()
{
    HWND hwnd = m_hWake.load();
    if (hwnd == nullptr || !m_wake.Arm())
        return;
    if (!PostMessageW(hwnd, kDrainUi, 0, 0))
        m_wake.Disarm();
}

// In portions: the worker may have queued thousands of calls (a flood of
// exchanges), and the window must answer its other messages between them.
void CPelvarDlg::OnDrainUi()
{
    bool more = false;
    m_wake.Take([this, &more] { more = m_worker->DrainUi(kDrainPortion); });
    if (more)
        WakeUi();
}

void CPelvarDlg::FillPortsOnce()
{
    KillTimer(m_hWnd, kFillPortsTimer);
    if (m_bPortsAsked)
        return;
    m_bPortsAsked = true;
    m_worker->FillPortList();
}

void CPelvarDlg::OnDestroy()
{
    m_hWake = nullptr;
    EndBench();
}

bool CPelvarDlg::WaitForCamera(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (m_worker->Idle())
            break;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
    m_worker->DrainUi();
    return true;
}

INT_PTR CPelvarDlg::DoModal(HWND owner)
{
    const DialogTemplateBuilder dialog = BuildPanelTemplate();
    const INT_PTR result = DialogBoxIndirectParamW(m_hInstance, static_cast<LPCDLGTEMPLATEW>(dialog.Data()), owner,
                                                   DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

HWND CPelvarDlg::Create(HWND owner)
{
    const DialogTemplateBuilder dialog = BuildPanelTemplate();
    return CreateDialogIndirectParamW(m_hInstance, static_cast<LPCDLGTEMPLATEW>(dialog.Data()), owner, DialogProc,
                                      reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CPelvarDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CPelvarDlg*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CPelvarDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(msg, wParam, lParam) : FALSE;
}

// The routing: FALSE leaves a message to the dialog's default processing.
INT_PTR CPelvarDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMAND: return OnCommand(LOWORD(wParam), HIWORD(wParam));
    case WM_HSCROLL: OnHScroll(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)); return FALSE;
    case WM_SYSCOMMAND: return OnSysCommand(static_cast<UINT>(wParam), lParam);
    case WM_PAINT: return OnPaint();
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_CLOSE: OnClose(); return TRUE;
    case WM_SETCURSOR: return OnSetCursor();
    case WM_DESTROY: OnDestroy(); return FALSE;
    case WM_TIMER:
        if (wParam != kFillPortsTimer)
            return OnBenchMessage(msg, wParam, lParam);
        FillPortsOnce();
        return TRUE;
    case WM_NOTIFY:
    case WM_INITMENUPOPUP:
    case WM_CONTEXTMENU:
    case WM_DEVICECHANGE:
    case kTrafficPosted: return OnBenchMessage(msg, wParam, lParam);
    case kDrainUi: OnDrainUi(); return TRUE;
    case DM_GETDEFID:
        // Enter outside a button means IDOK (which does nothing), not Connect.
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, MAKELONG(IDOK, DC_HASDEFID));
        return TRUE;
    case kFirstPaintDone:
        FillPortsOnce();
        if (m_firstPaint)
            m_firstPaint(m_hWnd);
        return TRUE;
    default: return FALSE;
    }
}

// Opening: the about item and icons, the disconnected set, the port list,
// the sliders, the register boxes, in this order.
BOOL CPelvarDlg::OnInitDialog()
{
    m_hStatus = Item(IDC_STATUS_LINE);
    AddAboutItem();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetControlStates(true, false);
    // Discovery may take seconds and load much: the worker reads the list
    // once the first paint is out (the timer, for a window never painted);
    // a Connect reads it anyway.
    SetTimer(m_hWnd, kFillPortsTimer, kFillPortsLatestMs, nullptr);
    // Nothing is queued yet: the worker does not touch the values now.
    const Adjustments& adjust = m_worker->Camera().m_adjust;
    SetUpSlider(IDC_BRIGHTNESS, IDC_BRIGHTNESS_VALUE, adjust.brightness);
    SetUpSlider(IDC_CONTRAST, IDC_CONTRAST_VALUE, adjust.contrast);
    SetUpSlider(IDC_RED, IDC_RED_VALUE, adjust.red);
    SetUpSlider(IDC_GREEN, IDC_GREEN_VALUE, adjust.green);
    SetUpSlider(IDC_BLUE, IDC_BLUE_VALUE, adjust.blue);
    SetControlText(IDC_REG_ADDRESS, "0x0000");
    SetControlText(IDC_REG_CONTENT, "0x0000");
    InitBench();
    m_hWake = m_hWnd;
    return TRUE;
}

void CPelvarDlg::AddAboutItem()
{
    HMENU menu = GetSystemMenu(m_hWnd, FALSE);
    const std::wstring text = Widen(kAboutMenuText);
    if (menu == nullptr || text.empty())
        return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text.c_str());
}

// The list as Connect last read it; it selects nothing.
void CPelvarDlg::SetPortEntries(const std::vector<std::string>& entries)
{
    ComboPortList list(Item(IDC_PORT_LIST));
    list.Clear();
    for (const std::string& entry : entries)
        list.AddString(entry);
}

void CPelvarDlg::SetStatusText(const std::string& text) { SetWindowTextW(m_hStatus, Widen(text).c_str()); }

std::string CPelvarDlg::StatusText() const { return Narrow(WindowText(m_hStatus)); }

void CPelvarDlg::SetUpSlider(int sliderId, int valueBoxId, std::int32_t value)
{
    HWND slider = Item(sliderId);
    SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(kSliderMin, kSliderMax));
    SendMessageW(slider, TBM_SETPOS, TRUE, value);
    SetControlText(valueBoxId, std::to_string(SendMessageW(slider, TBM_GETPOS, 0, 0)));
}

bool CPelvarDlg::OnCommand(int id, int code)
{
    if (m_plot && m_plot->OnCommand(id, code))
        return TRUE;
    if (m_registers && m_registers->OnCommand(id, code))
        return true;
    if (id == IDC_PORT_LIST) {
        if (code == CBN_SELCHANGE)
            OnPortSelChange();
        return true;
    }
    if (code != BN_CLICKED)
        return false;
    if (IsFunctionButton(id)) {
        OnFunctionButton(id);
        return true;
    }
    switch (id) {
    case IDOK: OnOK(); return true;
    case IDCANCEL: OnCancel(); return true;
    case IDC_CONNECT: OnConnect(); return true;
    case IDC_DISCONNECT: OnDisconnect(); return true;
    case IDC_REG_WRITE: OnRegisterWrite(); return true;
    case IDC_REG_READ: OnRegisterRead(); return true;
    default: return false;
    }
}

// Every notification code alike; the position is asked of the trackbar, as
// the one in the notification is not used. The worker ignores any other
// control and coalesces the positions while an exchange runs.
void CPelvarDlg::OnHScroll(UINT /*code*/, UINT /*position*/, HWND control)
{
    if (control != nullptr)
        m_worker->Slider(GetDlgCtrlID(control), static_cast<int>(SendMessageW(control, TBM_GETPOS, 0, 0)));
}

// Values 0x0010..0x001F all mean the about item: the low four bits of a
// system command are the window system's own.
bool CPelvarDlg::OnSysCommand(UINT nID, LPARAM /*lParam*/)
{
    if (m_bench->OnCommand(nID & 0xFFF0))
        return true;
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(m_hInstance);
        about.DoModal(m_hWnd);
        return true;
    }
    return false;
}

bool CPelvarDlg::OnPaint()
{
    NoteFirstPaint();
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const IconOrigin at = IconOriginFor(client.right - client.left, client.bottom - client.top,
                                        GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, at.x, at.y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return true;
}

void CPelvarDlg::NoteFirstPaint()
{
    if (m_bPainted)
        return;
    m_bPainted = true;
    PostMessageW(m_hWnd, kFirstPaintDone, 0, 0);
}

// The dialog's own OK ending: OnOK is overridden to do nothing.
void CPelvarDlg::OnClose() { EndDialog(m_hWnd, IDOK); }

void CPelvarDlg::SetControlText(int id, const std::string& text) { SetDlgItemTextW(m_hWnd, id, Widen(text).c_str()); }

std::string CPelvarDlg::ControlText(int id)
{
    HWND item = Item(id);
    return item != nullptr ? Narrow(WindowText(item)) : std::string();
}

void CPelvarDlg::SetControlStates(bool connectEnabled, bool othersEnabled)
{
    if (HWND connect = Item(IDC_CONNECT))
        EnableWindow(connect, connectEnabled);
    for (const int id : kEnableSetOrder) {
        if (HWND item = Item(id))
            EnableWindow(item, othersEnabled);
    }
}

void CPelvarDlg::ShowError(const std::string& text, const std::string& caption)
{
    MessageBoxW(m_hWnd, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONERROR);
}

// The window answers while an adjustment is in flight, so the wait cursor is
// kept up through WM_SETCURSOR until the last one has ended.
void CPelvarDlg::BeginWaitCursor()
{
    ++m_nWaitCursor;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
}

void CPelvarDlg::EndWaitCursor()
{
    if (m_nWaitCursor == 0 || --m_nWaitCursor > 0)
        return;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
}

bool CPelvarDlg::OnSetCursor()
{
    if (m_nWaitCursor == 0)
        return false;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
    return true;
}

int CPelvarDlg::PortCount() { return static_cast<int>(SendMessageW(Item(IDC_PORT_LIST), CB_GETCOUNT, 0, 0)); }

std::string CPelvarDlg::PortEntry(int index)
{
    HWND list = Item(IDC_PORT_LIST);
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Narrow(text);
}

int CPelvarDlg::SelectedPortIndex() { return static_cast<int>(SendMessageW(Item(IDC_PORT_LIST), CB_GETCURSEL, 0, 0)); }

} // namespace pelvar
