// The panel as a bring-up bench, free of any GUI library: the menu's items
// and what each does (the traffic rows and their saved log, presets, session
// recording, the reconnect switch, the demo's fault switches). Each window
// draws the items with its own menus and asks for files with its own
// dialogs; the texts, the rules and the status lines are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "camera/Adjustments.h"
#include "camera/ExchangeLog.h"

namespace pelvar {

class CameraWorker;

constexpr const char* kAutoReconnectMenuText = "Reconnect automatically";
constexpr const char* kRs485MenuText = "RS-485 mode";
constexpr const char* kTrafficPaneMenuText = "Traffic pane";
constexpr const char* kRegisterViewMenuText = "Register view";
constexpr const char* kPlotMenuText = "Plot";
constexpr const char* kSaveLogMenuText = "Save log...";
constexpr const char* kSaveCaptureMenuText = "Save capture...";
constexpr const char* kSaveSettingsMenuText = "Save settings...";
constexpr const char* kLoadSettingsMenuText = "Load settings...";
constexpr const char* kRecordMenuText = "Record session...";
constexpr const char* kStopRecordMenuText = "Stop recording";
constexpr const char* kRecordPausesMenuText = "Record pauses as sleep lines";
constexpr const char* kFaultsMenuText = "Simulated board faults";

// Window commands: multiples of 16, as a system menu's own commands keep
// their low four bits for the window system. 0x00D0..0x00F0 are free for
// further items.
constexpr unsigned IDM_AUTO_RECONNECT = 0x0020;
constexpr unsigned IDM_TRAFFIC_PANE = 0x0030;
constexpr unsigned IDM_SAVE_LOG = 0x0040;
constexpr unsigned IDM_SAVE_SETTINGS = 0x0050;
constexpr unsigned IDM_LOAD_SETTINGS = 0x0060;
constexpr unsigned IDM_RECORD = 0x0070;
constexpr unsigned IDM_RECORD_PAUSES = 0x0080;
constexpr unsigned IDM_SAVE_CAPTURE = 0x0090;
constexpr unsigned IDM_RS485 = 0x00A0;
constexpr unsigned IDM_REGISTER_VIEW = 0x00B0;
constexpr unsigned IDM_PLOT = 0x00C0;
// FaultCommand(i) switches fault i of the demo's board.
constexpr unsigned IDM_FAULT_FIRST = 0x0100;
constexpr unsigned FaultCommand(std::size_t i) { return IDM_FAULT_FIRST + 16 * static_cast<unsigned>(i); }

// The traffic pane's rows: at most this many (and kExchangeLogBytes), added
// in batches this far apart.
constexpr std::size_t kTrafficRowLimit = kExchangeLogRows;
constexpr int kTrafficBatchMs = 50;

// The pane's columns, their titles and widths (in digits; the frames take
// the rest), the cells' texts and each row's tooltip: the frames, one a line.
enum TrafficColumn {
    kTrafficTime,
    kTrafficCommand,
    kTrafficMeaning,
    kTrafficResult,
    kTrafficAttempts,
    kTrafficDuration,
    kTrafficFrames,
    kTrafficColumnCount
};
const char* TrafficColumnTitle(int column);
int TrafficColumnDigits(int column);
std::string TrafficCellText(const ExchangeRecord& record, int column);
std::string TrafficTipText(const ExchangeRecord& record);

// Rows that stand out: retried, or failed; read in black on either.
struct RowColour {
    std::uint8_t red, green, blue;
};
constexpr RowColour kRetriedRowColour{255, 236, 179};
constexpr RowColour kFailedRowColour{255, 205, 210};
// Null for a row that does not stand out.
const RowColour* TrafficRowColour(const ExchangeRecord& record);

// A fault of the demo's simulated board that the window menu switches.
struct FaultSwitch {
    std::string text;
    std::function<bool()> isOn;
    std::function<void(bool)> set;
};

// The kinds of file the bench asks for, each with its filter.
enum class BenchFile { Log, Capture, Settings, Script, RegisterMap, Csv, Picture };
struct FileFilter {
    const char* name;     // "Presets"
    const char* patterns; // "*.json", several separated by spaces
};
FileFilter FilterFor(BenchFile kind);

// One menu item. `submenu` items go into the faults submenu.
struct BenchMenuItem {
    std::string text;
    unsigned id = 0;
    bool checkable = false;
    bool checked = false;
    bool submenu = false;
    bool separatorBefore = false;
};

// What the bench asks of its window.
class IBenchView {
public:
    virtual ~IBenchView() = default;
    // A path chosen in the window's file dialog; empty when cancelled.
    virtual std::string AskSavePath(const char* title, BenchFile kind) = 0;
    virtual std::string AskOpenPath(const char* title, BenchFile kind) = 0;
    virtual void ShowTrafficPane(bool show) = 0;
    virtual bool TrafficPaneShown() const = 0;
    // The register view takes the traffic pane's place beside the panel:
    // showing one hides the other.
    virtual void ShowRegisterView(bool show) = 0;
    virtual bool RegisterViewShown() const = 0;
    // The plot of values over time, in the same place; a window without one
    // offers no menu item for it.
    virtual bool HasPlot() const { return false; }
    virtual void ShowPlot(bool /*show*/) {}
    virtual bool PlotShown() const { return false; }
    // The sliders' positions, and moving them without notifying (as a
    // trackbar set by its program).
    virtual Adjustments SliderValues() = 0;
    virtual void MoveSliders(const Adjustments& values) = 0;
    virtual void ShowBenchStatus(const std::string& text) = 0;
    // The pane's rows with what waits in its batch added.
    virtual const std::deque<ExchangeRecord>& FlushedTraffic() = 0;
    // Keeps the reconnect switch in the user's settings.
    virtual void StoreAutoReconnect(bool on) = 0;
};

// The exchanges as the pane shows them: posted from the worker's thread,
// taken in batches on the window's thread, the oldest dropped over the limits.
class TrafficRows {
public:
    explicit TrafficRows(std::size_t limit = kTrafficRowLimit, std::size_t byteLimit = kExchangeLogBytes)
        : m_rows(limit, byteLimit)
    {}

    // Any thread; true for the first record since the last TakePending, when
    // the window is to be woken (once per batch, however fast rows come).
    bool Post(const ExchangeRecord& record);
    // Window's thread.
    std::vector<ExchangeRecord> TakePending();
    // How many of the batch's newest rows adding it keeps: fewer than all
    // when the batch alone is over the limits.
    std::size_t KeptOf(const std::vector<ExchangeRecord>& batch) const { return m_rows.KeptOf(batch); }
    // How many of the oldest rows adding `batch` drops.
    std::size_t DroppedBy(const std::vector<ExchangeRecord>& batch) const { return m_rows.DroppedBy(batch); }
    void DropOldest(std::size_t n) { m_rows.DropOldest(n); }
    // Adds a batch, dropping the oldest rows over the limits (of a batch
    // larger than the limits, its own newest rows stay).
    void Append(std::vector<ExchangeRecord> batch) { m_rows.Append(std::move(batch)); }
    std::size_t Limit() const { return m_rows.RowLimit(); }
    const std::deque<ExchangeRecord>& Records() const { return m_rows.Records(); }

private:
    ExchangeHistory m_rows;
    std::mutex m_mutex;
    std::vector<ExchangeRecord> m_pending;
    bool m_wakeAsked = false;
};

// The five sliders' positions as adjustments, and each slider moved to its
// adjustment: `position` and `move` take a slider's control identifier.
Adjustments ReadSliders(const std::function<std::int32_t(int sliderId)>& position);
void MoveEachSlider(const Adjustments& values, const std::function<void(int sliderId, std::int32_t value)>& move);

// "Logs (*.log *.txt)": the filter's text as a file dialog shows it.
std::string FilterTitle(const FileFilter& filter);

// The rows as text, one ExchangeLine a line; false with *error set.
bool SaveExchangeLog(const std::string& path, const std::deque<ExchangeRecord>& rows, std::string* error);

class Bench {
public:
    Bench(CameraWorker& worker, IBenchView& view) : m_worker(worker), m_view(view) {}

    // The demo's switches; none outside the demo.
    void SetFaultSwitches(std::vector<FaultSwitch> faults) { m_faults = std::move(faults); }
    const std::vector<FaultSwitch>& FaultSwitches() const { return m_faults; }

    // The items below the about item, in order, with their check marks now.
    std::vector<BenchMenuItem> MenuItems() const;
    // Runs a bench command; false when `id` is none of them.
    bool OnCommand(unsigned id);

    // The operations behind the items, without the file dialogs.
    bool SaveLog(const std::string& path, std::string* error);
    // The pane's frames as pcapng for Wireshark.
    bool SaveCapture(const std::string& path, std::string* error);
    bool SaveSettings(const std::string& path, std::string* error);
    bool LoadSettings(const std::string& path, std::string* error);
    bool StartRecording(const std::string& path, bool withPauses, std::string* error);
    void StopRecording();
    bool Recording() const;
    bool RecordPauses() const { return m_recordPauses; }

private:
    void AskSaveLog();
    void AskSaveCapture();
    void AskSaveSettings();
    void AskLoadSettings();
    void AskRecord();
    void Report(bool ok, const std::string& done, const std::string& error);

    CameraWorker& m_worker;
    IBenchView& m_view;
    std::vector<FaultSwitch> m_faults;
    bool m_recordPauses = false;
    std::string m_recordPath;
};

} // namespace pelvar
