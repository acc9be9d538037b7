#include "camera/Bench.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "camera/CameraWorker.h"
#include "camera/CaptureFile.h"
#include "camera/Commands.h"
#include "camera/ControlTable.h"
#include "camera/Preset.h"
#include "link/ResultCodes.h"
#include "platform/SysError.h"

namespace pelvar {

FileFilter FilterFor(BenchFile kind)
{
    switch (kind) {
    case BenchFile::Log: return {"Logs", "*.log *.txt"};
    case BenchFile::Capture: return {"Captures", "*.pcapng"};
    case BenchFile::Settings: return {"Presets", "*.json"};
    case BenchFile::Script: return {"pelvarctl scripts", "*.txt *.pelvar"};
    case BenchFile::RegisterMap: return {"Register maps", "*.json"};
    case BenchFile::Csv: return {"CSV files", "*.csv"};
    case BenchFile::Picture: return {"PNG pictures", "*.png"};
    }
    return {"All files", "*"};
}

std::string FilterTitle(const FileFilter& filter) { return std::string(filter.name) + " (" + filter.patterns + ")"; }

const char* TrafficColumnTitle(int column)
{
    static const char* const kTitles[kTrafficColumnCount] = {"Time",     "Command", "Meaning", "Result",
                                                             "Attempts", "Took",    "Frames"};
    return column >= 0 && column < kTrafficColumnCount ? kTitles[column] : "";
}

int TrafficColumnDigits(int column)
{
    static const int kDigits[kTrafficFrames] = {8, 11, 26, 18, 7, 7};
    return column >= 0 && column < kTrafficFrames ? kDigits[column] : 0;
}

std::string TrafficCellText(const ExchangeRecord& r, int column)
{
    switch (column) {
    case kTrafficTime: return std::to_string(r.atMs) + " ms";
    case kTrafficCommand: return CommandName(r.cmd);
    case kTrafficMeaning: return ExchangeMeaning(r);
    case kTrafficResult: return ResultName(r.result);
    case kTrafficAttempts: return std::to_string(r.attempts);
    case kTrafficDuration: return std::to_string(r.durationMs) + " ms";
    case kTrafficFrames: return FramesText(r);
    default: return {};
    }
}

std::string TrafficTipText(const ExchangeRecord& r)
{
    std::string tip;
    for (const ExchangeFrame& f : r.frames) {
        if (!tip.empty())
            tip += '\n';
        ExchangeRecord one;
        one.frames.push_back(f);
        tip += FramesText(one);
    }
    return tip.empty() ? "no frames" : tip;
}

const RowColour* TrafficRowColour(const ExchangeRecord& r)
{
    if (r.result != LINK_OK)
        return &kFailedRowColour;
    if (r.attempts > 1)
        return &kRetriedRowColour;
    return nullptr;
}

bool TrafficRows::Post(const ExchangeRecord& record)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back(record);
    const bool wake = !m_wakeAsked;
    m_wakeAsked = true;
    return wake;
}

std::vector<ExchangeRecord> TrafficRows::TakePending()
{
    std::vector<ExchangeRecord> batch;
    std::lock_guard<std::mutex> lock(m_mutex);
    batch.swap(m_pending);
    m_wakeAsked = false;
    return batch;
}

Adjustments ReadSliders(const std::function<std::int32_t(int sliderId)>& position)
{
    Adjustments values;
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            *values.For(b.cmd) = position(b.id);
    }
    return values;
}

void MoveEachSlider(const Adjustments& values, const std::function<void(int sliderId, std::int32_t value)>& move)
{
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            move(b.id, *values.For(b.cmd));
    }
}

bool SaveExchangeLog(const std::string& path, const std::deque<ExchangeRecord>& rows, std::string* error)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    bool ok = file != nullptr;
    for (auto r = rows.begin(); ok && r != rows.end(); ++r)
        ok = std::fprintf(file, "%s\n", ExchangeLine(*r).c_str()) >= 0;
    // A full disk shows at the close: the log is only saved if that succeeds too.
    if (file != nullptr && std::fclose(file) != 0)
        ok = false;
    if (!ok)
        *error = "Cannot save the log: " + path;
    return ok;
}

std::vector<BenchMenuItem> Bench::MenuItems() const
{
    std::vector<BenchMenuItem> items;
    items.push_back({kAutoReconnectMenuText, IDM_AUTO_RECONNECT, true, m_worker.AutoReconnect(), false, true});
    items.push_back({kRs485MenuText, IDM_RS485, true, m_worker.Rs485()});
    items.push_back({kTrafficPaneMenuText, IDM_TRAFFIC_PANE, true, m_view.TrafficPaneShown(), false, true});
    items.push_back({kRegisterViewMenuText, IDM_REGISTER_VIEW, true, m_view.RegisterViewShown()});
    if (m_view.HasPlot())
        items.push_back({kPlotMenuText, IDM_PLOT, true, m_view.PlotShown()});
    items.push_back({kSaveLogMenuText, IDM_SAVE_LOG});
    items.push_back({kSaveCaptureMenuText, IDM_SAVE_CAPTURE});
    items.push_back({kSaveSettingsMenuText, IDM_SAVE_SETTINGS});
    items.push_back({kLoadSettingsMenuText, IDM_LOAD_SETTINGS});
    items.push_back({Recording() ? kStopRecordMenuText : kRecordMenuText, IDM_RECORD});
    items.push_back({kRecordPausesMenuText, IDM_RECORD_PAUSES, true, m_recordPauses});
    for (std::size_t i = 0; i < m_faults.size(); ++i)
        items.push_back({m_faults[i].text, FaultCommand(i), true, m_faults[i].isOn(), true});
    return items;
}

bool Bench::OnCommand(unsigned id)
{
    if (id >= IDM_FAULT_FIRST && (id - IDM_FAULT_FIRST) % 16 == 0 && (id - IDM_FAULT_FIRST) / 16 < m_faults.size()) {
        const FaultSwitch& fault = m_faults[(id - IDM_FAULT_FIRST) / 16];
        const bool on = !fault.isOn();
        fault.set(on);
        m_view.ShowBenchStatus("Simulated board: " + fault.text + (on ? " on" : " off"));
        return true;
    }
    switch (id) {
    case IDM_AUTO_RECONNECT:
        m_worker.SetAutoReconnect(!m_worker.AutoReconnect());
        m_view.StoreAutoReconnect(m_worker.AutoReconnect());
        return true;
    case IDM_RS485:
        // The open port keeps its mode: RTS is not handed over mid-connection.
        m_worker.SetRs485(!m_worker.Rs485());
        m_view.ShowBenchStatus(m_worker.Rs485() ? "RS-485 mode on from the next Connect"
                                                : "RS-485 mode off from the next Connect");
        return true;
    case IDM_TRAFFIC_PANE: m_view.ShowTrafficPane(!m_view.TrafficPaneShown()); return true;
    case IDM_REGISTER_VIEW: m_view.ShowRegisterView(!m_view.RegisterViewShown()); return true;
    case IDM_PLOT:
        if (!m_view.HasPlot())
            return false;
        m_view.ShowPlot(!m_view.PlotShown());
        return true;
    case IDM_SAVE_LOG: AskSaveLog(); return true;
    case IDM_SAVE_CAPTURE: AskSaveCapture(); return true;
    case IDM_SAVE_SETTINGS: AskSaveSettings(); return true;
    case IDM_LOAD_SETTINGS: AskLoadSettings(); return true;
    case IDM_RECORD: AskRecord(); return true;
    case IDM_RECORD_PAUSES: m_recordPauses = !m_recordPauses; return true;
    default: return false;
    }
}

void Bench::Report(bool ok, const std::string& done, const std::string& error)
{
    m_view.ShowBenchStatus(ok ? done : error);
}

void Bench::AskSaveLog()
{
    const std::string path = m_view.AskSavePath(kSaveLogMenuText, BenchFile::Log);
    if (path.empty())
        return;
    std::string error;
    const bool ok = SaveLog(path, &error);
    Report(ok, "Log saved: " + std::to_string(m_view.FlushedTraffic().size()) + " exchanges", error);
}

void Bench::AskSaveCapture()
{
    const std::string path = m_view.AskSavePath(kSaveCaptureMenuText, BenchFile::Capture);
    if (path.empty())
        return;
    std::string error;
    const bool ok = SaveCapture(path, &error);
    Report(ok, "Capture saved: " + std::to_string(m_view.FlushedTraffic().size()) + " exchanges", error);
}

void Bench::AskSaveSettings()
{
    const std::string path = m_view.AskSavePath(kSaveSettingsMenuText, BenchFile::Settings);
    if (path.empty())
        return;
    std::string error;
    Report(SaveSettings(path, &error), "Settings saved to " + path, error);
}

void Bench::AskLoadSettings()
{
    const std::string path = m_view.AskOpenPath(kLoadSettingsMenuText, BenchFile::Settings);
    if (path.empty())
        return;
    std::string error;
    // When connected, the adjustments' own status lines follow.
    Report(LoadSettings(path, &error), "Settings loaded from " + path, error);
}

void Bench::AskRecord()
{
    if (Recording()) {
        StopRecording();
        m_view.ShowBenchStatus("Recording stopped: " + m_recordPath);
        return;
    }
    const std::string path = m_view.AskSavePath(kRecordMenuText, BenchFile::Script);
    if (path.empty())
        return;
    std::string error;
    Report(StartRecording(path, m_recordPauses, &error), "Recording to " + path, error);
}

bool Bench::SaveLog(const std::string& path, std::string* error)
{
    return SaveExchangeLog(path, m_view.FlushedTraffic(), error);
}

bool Bench::SaveCapture(const std::string& path, std::string* error)
{
    int err = 0;
    if (WriteCapture(path, m_view.FlushedTraffic(), m_worker.OriginWallMicros(), &err))
        return true;
    *error = "Cannot save the capture: " + path + ": " + DescribeErrno(err);
    return false;
}

bool Bench::SaveSettings(const std::string& path, std::string* error)
{
    Preset preset;
    preset.adjust = m_view.SliderValues();
    return SavePreset(path, preset, error);
}

// The worker then sends each value once.
bool Bench::LoadSettings(const std::string& path, std::string* error)
{
    Preset preset;
    if (!LoadPreset(path, &preset, error))
        return false;
    m_view.MoveSliders(preset.adjust);
    m_worker.SetAdjustments(preset.adjust);
    return true;
}

bool Bench::StartRecording(const std::string& path, bool withPauses, std::string* error)
{
    if (!m_worker.Recorder().Start(path, withPauses, error))
        return false;
    m_recordPath = path;
    return true;
}

void Bench::StopRecording() { m_worker.Recorder().Stop(); }

bool Bench::Recording() const { return m_worker.Recorder().Recording(); }

} // namespace pelvar
