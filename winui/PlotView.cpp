#include "winui/PlotView.h"

#include <algorithm>

#include "winui/PngPicture.h"
#include "winui/WideText.h"

namespace pelvar {

namespace {

constexpr wchar_t kCanvasClass[] = L"PelvarPlotCanvas";
constexpr UINT_PTR kSampleTimer = 1;
// One colour a series, in the order they were added.
constexpr COLORREF kSeriesColours[] = {RGB(0, 90, 200), RGB(200, 60, 0), RGB(0, 140, 60), RGB(140, 0, 160),
                                       RGB(120, 100, 0)};

} // namespace

CPlotView::CPlotView(IPlatform& clock, RegisterBoardRunner run, std::function<void(const std::string&)> status,
                     AskSavePath askSavePath)
    : m_status(std::move(status)), m_askSavePath(std::move(askSavePath)),
      m_plot(clock, std::move(run), [this] { InvalidateRect(m_hCanvas, nullptr, TRUE); })
{}

void CPlotView::Create(HWND parent)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = CanvasProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kCanvasClass;
    RegisterClassW(&wc); // a second window finds it registered
    const LPARAM font = static_cast<LPARAM>(SendMessageW(parent, WM_GETFONT, 0, 0));
    m_hNames = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN, 0, 0, 0, 0,
                               parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PLOT_NAMES)), nullptr, nullptr);
    SendMessageW(m_hNames, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    m_controls.push_back(m_hNames);
    const std::pair<int, const char*> buttons[] = {{IDC_PLOT_ADD, kPlotAddButtonText},
                                                   {IDC_PLOT_ADD_RESPONSE, kPlotAddResponseText},
                                                   {IDC_PLOT_PAUSE, kPlotPauseButtonText},
                                                   {IDC_PLOT_SAVE_PNG, kPlotSavePngButtonText},
                                                   {IDC_PLOT_SAVE_CSV, kPlotSaveCsvButtonText}};
    for (const auto& [id, text] : buttons) {
        HWND b = CreateWindowExW(0, L"BUTTON", Widen(text).c_str(), WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        SendMessageW(b, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
        m_controls.push_back(b);
        if (id == IDC_PLOT_PAUSE)
            m_hPause = b;
    }
    m_hCanvas = CreateWindowExW(WS_EX_CLIENTEDGE, kCanvasClass, L"", WS_CHILD, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PLOT_CANVAS)), nullptr, nullptr);
    SetWindowLongPtrW(m_hCanvas, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SendMessageW(m_hCanvas, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
}

void CPlotView::Show(const RECT& area, bool show)
{
    m_shown = show;
    const int row = 24;
    const int width = area.right - area.left;
    // Each button as wide as its text; the names take what the buttons leave.
    std::vector<int> widths(m_controls.size(), 0);
    HDC dc = GetDC(m_hCanvas);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(m_hNames, WM_GETFONT, 0, 0)));
    int buttons = 0;
    for (std::size_t i = 1; i < m_controls.size(); ++i) {
        wchar_t text[64] = {};
        const int length = GetWindowTextW(m_controls[i], text, 64);
        SIZE size{};
        GetTextExtentPoint32W(dc, text, length, &size);
        widths[i] = size.cx + 20;
        buttons += widths[i];
    }
    SelectObject(dc, oldFont);
    ReleaseDC(m_hCanvas, dc);
    widths[0] = std::max(80, width - buttons);
    int x = area.left;
    for (std::size_t i = 0; i < m_controls.size(); ++i) {
        SetWindowPos(m_controls[i], nullptr, x, area.top, widths[i] - 4, i == 0 ? row * 8 : row, SWP_NOZORDER);
        ShowWindow(m_controls[i], show ? SW_SHOW : SW_HIDE);
        x += widths[i];
    }
    SetWindowPos(m_hCanvas, nullptr, area.left, area.top + row + 4, width, area.bottom - area.top - row - 4,
                 SWP_NOZORDER);
    ShowWindow(m_hCanvas, show ? SW_SHOW : SW_HIDE);
    if (show)
        SetTimer(m_hCanvas, kSampleTimer, kPlotIntervalMs, nullptr);
    else
        KillTimer(m_hCanvas, kSampleTimer);
}

void CPlotView::SetMap(std::shared_ptr<const RegisterMap> map)
{
    m_plot.SetMap(map);
    SendMessageW(m_hNames, CB_RESETCONTENT, 0, 0);
    if (!map)
        return;
    for (const RegisterInfo& r : map->Registers()) {
        SendMessageW(m_hNames, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(r.name).c_str()));
        for (const RegisterField& f : r.fields)
            SendMessageW(m_hNames, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(r.name + "." + f.name).c_str()));
    }
}

bool CPlotView::OnCommand(int id, int code)
{
    if (code != BN_CLICKED)
        return false;
    switch (id) {
    case IDC_PLOT_ADD: {
        wchar_t text[128] = {};
        GetWindowTextW(m_hNames, text, 128);
        std::string error;
        if (!m_plot.AddSeries(Narrow(text), &error))
            Say(error);
        InvalidateRect(m_hCanvas, nullptr, TRUE);
        return true;
    }
    case IDC_PLOT_ADD_RESPONSE:
        m_plot.AddResponseTime();
        InvalidateRect(m_hCanvas, nullptr, TRUE);
        return true;
    case IDC_PLOT_PAUSE:
        m_plot.SetPaused(!m_plot.Paused());
        SetWindowTextW(m_hPause, Widen(m_plot.Paused() ? kPlotResumeButtonText : kPlotPauseButtonText).c_str());
        return true;
    case IDC_PLOT_SAVE_PNG: {
        const std::string path = m_askSavePath ? m_askSavePath(kPlotSavePngButtonText, BenchFile::Picture) : "";
        std::string error;
        if (!path.empty() && !SavePng(path, &error))
            Say(error);
        return true;
    }
    case IDC_PLOT_SAVE_CSV: {
        const std::string path = m_askSavePath ? m_askSavePath(kPlotSaveCsvButtonText, BenchFile::Csv) : "";
        std::string error;
        if (!path.empty() && !m_plot.SaveCsv(path, &error))
            Say(error);
        return true;
    }
    default: return false;
    }
}

LRESULT CALLBACK CPlotView::CanvasProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CPlotView*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    switch (msg) {
    case WM_TIMER:
        if (self && wParam == kSampleTimer)
            self->m_plot.Sample();
        return 0;
    case WM_SETFONT: SetPropW(hWnd, L"PelvarFont", reinterpret_cast<HANDLE>(wParam)); return 0;
    case WM_PAINT:
        if (self) {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hWnd, &ps);
            RECT client;
            GetClientRect(hWnd, &client);
            HGDIOBJ oldFont = SelectObject(dc, static_cast<HGDIOBJ>(GetPropW(hWnd, L"PelvarFont")));
            self->Paint(dc, client);
            SelectObject(dc, oldFont);
            EndPaint(hWnd, &ps);
            return 0;
        }
        break;
    case WM_DESTROY: RemovePropW(hWnd, L"PelvarFont"); break;
    default: break;
    }
    return DefWindowProcW(hWnd, msg, wParam, lParam);
}

void CPlotView::Paint(HDC dc, const RECT& client)
{
    TEXTMETRICW tm;
    GetTextMetricsW(dc, &tm);
    const int line = tm.tmHeight;
    const int count = static_cast<int>(m_plot.Series().size());
    const int left = tm.tmAveCharWidth * 7 + 6;
    const bool twoAxes = m_plot.HasRightAxis();
    const RECT area{left, 4 + line * count, client.right - (twoAxes ? left : 8), client.bottom - 8 - line};
    const auto [t0, t1, v0, v1] = m_plot.Range();
    const PlotRange r = m_plot.RightRange();
    SetBkMode(dc, TRANSPARENT);
    MoveToEx(dc, area.left, area.top, nullptr);
    LineTo(dc, area.left, area.bottom);
    LineTo(dc, area.right, area.bottom);
    const std::wstring top = Widen(CsvNumber(v1));
    const std::wstring bottom = Widen(CsvNumber(v0));
    TextOutW(dc, 2, area.top - line / 2, top.c_str(), static_cast<int>(top.size()));
    TextOutW(dc, 2, area.bottom - line / 2, bottom.c_str(), static_cast<int>(bottom.size()));
    if (twoAxes) {
        LineTo(dc, area.right, area.top - 1);
        const std::wstring rightTop = Widen(CsvNumber(r.v1));
        const std::wstring rightBottom = Widen(CsvNumber(r.v0));
        TextOutW(dc, area.right + 4, area.top - line / 2, rightTop.c_str(), static_cast<int>(rightTop.size()));
        TextOutW(dc, area.right + 4, area.bottom - line / 2, rightBottom.c_str(), static_cast<int>(rightBottom.size()));
    }
    const std::wstring from = Widen(CsvNumber(t0) + " ms");
    const std::wstring to = Widen(CsvNumber(t1) + " ms");
    TextOutW(dc, area.left, area.bottom + 2, from.c_str(), static_cast<int>(from.size()));
    SIZE toSize{};
    GetTextExtentPoint32W(dc, to.c_str(), static_cast<int>(to.size()), &toSize);
    TextOutW(dc, area.right - toSize.cx, area.bottom + 2, to.c_str(), static_cast<int>(to.size()));
    const double w = area.right - area.left;
    const double h = area.bottom - area.top;
    int n = 0;
    for (const PlotSeries& s : m_plot.Series()) {
        const COLORREF colour = kSeriesColours[n % std::size(kSeriesColours)];
        HPEN pen = CreatePen(PS_SOLID, 2, colour);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        SetTextColor(dc, colour);
        const bool onRight = m_plot.OnRightAxis(static_cast<std::size_t>(n));
        const double low = onRight ? r.v0 : v0;
        const double high = onRight ? r.v1 : v1;
        const std::wstring name = Widen(s.Name());
        SIZE nameSize{};
        GetTextExtentPoint32W(dc, name.c_str(), static_cast<int>(name.size()), &nameSize);
        TextOutW(dc, onRight ? area.right - nameSize.cx : left, 2 + line * n, name.c_str(),
                 static_cast<int>(name.size()));
        // A gap breaks the line: each run is its own Polyline.
        for (const std::vector<PlotPoint>& run : s.Segments(t0, t1, static_cast<std::size_t>(area.right - area.left))) {
            std::vector<POINT> points;
            for (const PlotPoint& pt : run)
                points.push_back({area.left + static_cast<LONG>(w * double(pt.ms - t0) / double(t1 - t0)),
                                  area.bottom - static_cast<LONG>(h * (pt.value - low) / (high - low))});
            if (points.size() == 1)
                points.push_back({points[0].x + 1, points[0].y});
            Polyline(dc, points.data(), static_cast<int>(points.size()));
        }
        SelectObject(dc, oldPen);
        DeleteObject(pen);
        ++n;
    }
    SetTextColor(dc, RGB(0, 0, 0));
}

bool CPlotView::SavePng(const std::string& path, std::string* error)
{
    RECT client{};
    GetClientRect(m_hCanvas, &client);
    std::string png;
    HDC screen = GetDC(m_hCanvas);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    ReleaseDC(m_hCanvas, screen);
    if (dc && bitmap) {
        HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
        HGDIOBJ oldFont = SelectObject(dc, static_cast<HGDIOBJ>(GetPropW(m_hCanvas, L"PelvarFont")));
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        Paint(dc, client);
        SelectObject(dc, oldFont);
        SelectObject(dc, oldBitmap);
        png = EncodePng(bitmap);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (dc)
        DeleteDC(dc);
    return RegisterPlotModel::SavePng(path, png, error);
}

void CPlotView::Say(const std::string& line)
{
    if (m_status)
        m_status(line);
}

} // namespace pelvar
