// The control panel as a native Win32 dialog: the template is built from the
// shared panel description, and every handler queues its work for the camera
// worker, as the Qt window does on Linux, so the window never waits for the
// board.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "camera/Bench.h"
#include "camera/CameraController.h"
#include "camera/CameraWorker.h"
#include "camera/PanelView.h"
#include "camera/PortMemory.h"
#include "discovery/PortList.h"
#include "winui/DialogTemplate.h"
#include "winui/TrafficList.h"
#include "winui/WakeLatch.h"

namespace pelvar {

// Where a minimised window draws its icon: centred, rounding as the
// window system's integer division does (toward zero).
struct IconOrigin {
    int x;
    int y;
};
IconOrigin IconOriginFor(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

class CRegistryPortMemory;
class CRegisterList;
class CPlotView;

// The traffic pane's control.
constexpr int IDC_TRAFFIC_LIST = 1041;

class CPelvarDlg : public IPanelView, public IBenchView {
public:
    // Posted by the exchange sink: the first record of a batch.
    static constexpr UINT kTrafficPosted = WM_APP + 3;

    using PortListFiller = pelvar::PortListFiller;

    // `memory` keeps the port that answered last; by default in the registry.
    CPelvarDlg(HINSTANCE instance, PortListFiller fillPorts, IPlatform& platform = DefaultPlatform(),
               std::unique_ptr<IPortMemoryStore> memory = nullptr);
    ~CPelvarDlg() override;
    CPelvarDlg(const CPelvarDlg&) = delete;
    CPelvarDlg& operator=(const CPelvarDlg&) = delete;

    // The machine's port list (WMI, or PELVAR_COM_PORTS).
    static PortListFiller DefaultPortListFiller();

    // Runs the panel until it is closed.
    INT_PTR DoModal(HWND owner = nullptr);
    // The panel without its own loop (tests drive it by messages).
    HWND Create(HWND owner = nullptr);
    HWND Handle() const { return m_hWnd; }
    // The panel behind a window this class made; null for any other window.
    static CPelvarDlg* FromHandle(HWND hwnd);
    // The logic behind the handlers; read it only after WaitForCamera.
    CameraController& Camera() { return m_worker->Camera(); }
    CameraWorker& Worker() { return *m_worker; }
    // Runs the window's messages until the worker has finished what was
    // asked of it and the window shows the outcome; false on time-out.
    bool WaitForCamera(DWORD timeoutMs = 30000);
    std::string StatusText() const;
    // Called once, after the panel's first paint has reached the screen.
    void OnFirstPaint(std::function<void(HWND)> hook) { m_firstPaint = std::move(hook); }

    // The bench: the items below About in the system menu and on a right
    // click in the window's background.
    pelvar::Bench& BenchLogic() { return *m_bench; }
    void SetFaultSwitches(std::vector<FaultSwitch> faults) { m_bench->SetFaultSwitches(std::move(faults)); }
    CTrafficList& Traffic() { return m_traffic; }
    // Any thread: an exchange for the traffic pane (the worker's sink).
    void PostExchange(const ExchangeRecord& record) { m_traffic.Post(record, m_hWake.load(), kTrafficPosted); }
    // The menu a right click in the background opens (the caller destroys it).
    HMENU CreateBenchMenu();

    // IBenchView
    std::string AskSavePath(const char* title, BenchFile kind) override;
    std::string AskOpenPath(const char* title, BenchFile kind) override;
    void ShowTrafficPane(bool show) override;
    bool TrafficPaneShown() const override;
    // The register view, in the traffic pane's place.
    void ShowRegisterView(bool show) override;
    bool RegisterViewShown() const override;
    CRegisterList& Registers() { return *m_registers; }
    // The plot of values over time, in the same place, of the register view's map.
    bool HasPlot() const override { return true; }
    void ShowPlot(bool show) override;
    bool PlotShown() const override;
    CPlotView& PlotView() { return *m_plot; }
    Adjustments SliderValues() override;
    void MoveSliders(const Adjustments& values) override;
    void ShowBenchStatus(const std::string& text) override { SetStatusText(text); }
    const std::deque<ExchangeRecord>& FlushedTraffic() override;
    void StoreAutoReconnect(bool on) override;

    // IPanelView
    void SetControlText(int id, const std::string& text) override;
    std::string ControlText(int id) override;
    void SetControlStates(bool connectEnabled, bool othersEnabled) override;
    void ShowError(const std::string& text, const std::string& caption) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    int PortCount() override;
    std::string PortEntry(int index) override;
    int SelectedPortIndex() override;
    void SetStatusText(const std::string& text) override;
    void SetPortEntries(const std::vector<std::string>& entries) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void AddAboutItem();
    // The bench's part of the window (winui/PanelBench.cpp).
    void SetUpBench(IPlatform& platform);
    void InitBench();
    void EndBench();
    INT_PTR OnBenchMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void AddBenchItems(HMENU menu);
    // The window sized with (or without) the area beside the panel; that area in client pixels.
    RECT SizeForPane(bool wide);
    void RefreshSystemMenu();
    bool OnContextMenu(HWND clicked, LPARAM where);
    bool OnDeviceChange(WPARAM event, LPARAM data);
    void RegisterForDevices();
    std::string AskPath(const char* title, BenchFile kind, bool save);
    void WakeUi();
    void OnDrainUi();
    void OnDestroy();
    bool OnSetCursor();
    void SetUpSlider(int sliderId, int valueBoxId, std::int32_t value);
    bool OnCommand(int id, int code);
    void OnHScroll(UINT code, UINT position, HWND control);
    bool OnSysCommand(UINT nID, LPARAM lParam);
    bool OnPaint();
    void NoteFirstPaint();
    void FillPortsOnce();
    void OnClose();
    void OnOK() {}
    void OnCancel() {}

    // Each handler queues the operation for the worker and returns.
    void OnConnect() { m_worker->Connect(); }
    void OnDisconnect() { m_worker->Disconnect(); }
    void OnPortSelChange() { m_worker->PortSelChange(); }
    void OnRegisterWrite() { m_worker->RegisterWrite(); }
    void OnRegisterRead() { m_worker->RegisterRead(); }
    void OnFunctionButton(int id) { m_worker->Button(id); }

    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

    HINSTANCE m_hInstance;
    PortListFiller m_fillPorts;
    std::unique_ptr<IPortMemoryStore> m_memory;
    CRegistryPortMemory* m_registry = nullptr; // m_memory, when it is the registry
    CTrafficList m_traffic;
    std::unique_ptr<CameraWorker> m_worker;
    std::unique_ptr<pelvar::Bench> m_bench;
    std::unique_ptr<CRegisterList> m_registers;
    std::unique_ptr<CPlotView> m_plot;
    HDEVNOTIFY m_hDevNotify = nullptr;
    HWND m_hWnd = nullptr;
    HWND m_hStatus = nullptr;
    // Where the worker posts its wake-up; null while there is no window.
    std::atomic<HWND> m_hWake{nullptr};
    WakeLatch m_wake;
    HICON m_hIcon = nullptr;
    int m_nWaitCursor = 0;
    std::function<void(HWND)> m_firstPaint;
    bool m_bPainted = false;
    bool m_bPortsAsked = false;
};

} // namespace pelvar
