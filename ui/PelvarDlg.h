// The control panel window: every control of the panel at its template
// place, the enable sets, the routing of notifications to the handlers, and
// the window's system menu, icon and closing rules.
#pragma once

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/AboutTemplate.h"
#include "camera/Bench.h"
#include "camera/CameraController.h"
#include "camera/CameraWorker.h"
#include "camera/PanelView.h"
#include "discovery/PortList.h"
#include "ui/DialogUnits.h"

class QComboBox;
class QLabel;
class QMenu;
class QSlider;

namespace pelvar {

struct ControlTemplate;
class CTrafficModel;
class CTrafficPane;
class CRegisterPane;
class CPlotPane;

// Window commands of the system menu, besides the about item.
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;

constexpr const char* kMinimizeMenuText = "Mi&nimieren";
constexpr const char* kCloseMenuText = "&Schließen\tAlt+F4";
class CPelvarDlg : public QDialog, public IPanelView, public IBenchView {
    Q_OBJECT

public:
    using PortListFiller = pelvar::PortListFiller;

    // `fillPorts` fills the port list once while the window opens; by default
    // the machine's own discovery. `platform` carries every exchange with the board.
    explicit CPelvarDlg(PortListFiller fillPorts = DefaultPortListFiller(), QWidget* parent = nullptr,
                        IPlatform& platform = DefaultPlatform());
    ~CPelvarDlg() override;

    static PortListFiller DefaultPortListFiller();

    // The control with this identifier, or null when the panel has none.
    QWidget* Control(int id) const;

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

    // Waits (running the event loop) until the camera logic has finished
    // what was asked of it and the window shows the outcome; false on time-out.
    bool WaitForCamera(int timeoutMs = 30000);
    std::string StatusText() const;

    // Routes a command (a button click) to its handler; false when no route exists.
    bool OnCommand(int id);
    void OnSysCommand(unsigned nID, std::intptr_t lParam);
    // The window menu: minimise, close, a separator and the about item.
    std::unique_ptr<QMenu> CreateSystemMenu();
    QIcon OnQueryDragIcon() const { return m_hIcon; }
    // Ends the panel with the accept result (the close box, Alt+F4, the menu).
    void OnClose();

    // Handlers: each hands the notification to the camera logic.
    virtual void OnConnect();
    virtual void OnDisconnect();
    virtual void OnPortSelChange();
    // scrollCode and position as CSliderNotifier delivers them; id of the slider.
    virtual void OnHScroll(unsigned scrollCode, unsigned position, int controlId);
    // One fixed command per identifier: 3..11 and the arrows 1021..1024.
    virtual void OnFunctionButton(int id);
    virtual void OnRegisterWrite();
    virtual void OnRegisterRead();

    // The logic behind the handlers; it holds the adjustment values, the
    // port number, the bit rate and the link.
    // Read it only after WaitForCamera.
    CameraController& Camera() { return m_worker->Camera(); }
    CameraWorker& Worker() { return *m_worker; }

    // The traffic pane, hidden at first; it keeps the exchanges also while hidden.
    void ShowTrafficPane(bool show) override;
    bool TrafficPaneShown() const override;
    CTrafficModel& TrafficModel();
    // The register view, in the traffic pane's place; hidden at first.
    void ShowRegisterView(bool show) override;
    bool RegisterViewShown() const override;
    CRegisterPane& RegisterPane() { return *m_registers; }
    // The plot of values over time, in the same place, of the register view's map.
    bool HasPlot() const override { return true; }
    void ShowPlot(bool show) override;
    bool PlotShown() const override;
    CPlotPane& PlotPane() { return *m_plot; }
    // The pane's rows as text, one exchange a line with its frames.
    bool SaveLog(const std::string& path, std::string* error) { return m_bench->SaveLog(path, error); }
    // The pane's frames as pcapng for Wireshark.
    bool SaveCapture(const std::string& path, std::string* error) { return m_bench->SaveCapture(path, error); }
    // The five adjustments as a preset file, and back: loading moves the
    // sliders and, when connected, sends each adjustment once.
    bool SaveSettings(const std::string& path, std::string* error) { return m_bench->SaveSettings(path, error); }
    bool LoadSettings(const std::string& path, std::string* error) { return m_bench->LoadSettings(path, error); }
    // Each operation that goes to the board, as a pelvarctl script.
    bool StartRecording(const std::string& path, bool withPauses, std::string* error)
    {
        return m_bench->StartRecording(path, withPauses, error);
    }
    void StopRecording() { m_bench->StopRecording(); }
    bool Recording() { return m_bench->Recording(); }
    // The demo's switches; none outside the demo.
    void SetFaultSwitches(std::vector<FaultSwitch> faults) { m_bench->SetFaultSwitches(std::move(faults)); }

public slots:
    // Enter and Escape arrive here; the panel stays open.
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

private slots:
    void DrainWorker() { m_worker->DrainUi(); }

protected:
    void OnOK() {}
    void OnCancel() {}
    void OnInitDialog();

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void CreateControls();
    QWidget* CreateControl(const ControlTemplate& item);
    QWidget* CreateButton(const ControlTemplate& item);
    QWidget* CreateEdit(const ControlTemplate& item);
    QWidget* CreateSlider(const ControlTemplate& item);
    QWidget* CreatePortList();
    void SetUpSlider(int sliderId, int valueBoxId, std::int32_t value);
    void CreateStatusLine();
    void AddBenchItems(QMenu& menu);
    // IBenchView
    std::string AskSavePath(const char* title, BenchFile kind) override;
    std::string AskOpenPath(const char* title, BenchFile kind) override;
    Adjustments SliderValues() override;
    void MoveSliders(const Adjustments& values) override;
    void ShowBenchStatus(const std::string& text) override { SetStatusText(text); }
    const std::deque<ExchangeRecord>& FlushedTraffic() override;
    void StoreAutoReconnect(bool on) override;
    void DefaultSysCommand(unsigned nID);
    bool IsBackground(const QPoint& pos) const;
    bool HandleDialogKey(const QKeyEvent* event);
    QComboBox* PortList() const;

    PortListFiller m_fillPorts;
    std::unique_ptr<IPortMemoryStore> m_memory;
    std::unique_ptr<CameraWorker> m_worker;
    QLabel* m_status = nullptr;
    CTrafficPane* m_traffic = nullptr;
    CRegisterPane* m_registers = nullptr;
    CPlotPane* m_plot = nullptr;
    std::unique_ptr<Bench> m_bench;
    DialogBaseUnits m_units;
    QIcon m_hIcon;
    std::map<int, QWidget*> m_controls;
};

} // namespace pelvar
