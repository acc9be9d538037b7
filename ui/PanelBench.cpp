// The window as a bring-up bench: the traffic pane and its saved log,
// presets, session recording and the demo's fault switches, all reached
// from the window menu.
#include <QFileDialog>
#include <QMenu>
#include <QSlider>

#include <cstdio>

#include "camera/CaptureFile.h"
#include "camera/ControlTable.h"
#include "camera/Preset.h"
#include "platform/SysError.h"
#include "ui/PelvarDlg.h"
#include "ui/TrafficPane.h"

namespace pelvar {

namespace {

const QString kPresetFilter = QStringLiteral("Presets (*.json);;All files (*)");
const QString kScriptFilter = QStringLiteral("pelvarctl scripts (*.txt *.pelvar);;All files (*)");
const QString kLogFilter = QStringLiteral("Logs (*.log *.txt);;All files (*)");
const QString kCaptureFilter = QStringLiteral("Captures (*.pcapng);;All files (*)");

QAction* AddItem(QMenu& menu, const char* text, unsigned id)
{
    QAction* action = menu.addAction(QString::fromUtf8(text));
    action->setData(id);
    return action;
}

} // namespace

void CPelvarDlg::AddBenchItems(QMenu& menu)
{
    menu.addSeparator();
    QAction* pane = AddItem(menu, kTrafficPaneMenuText, IDM_TRAFFIC_PANE);
    pane->setCheckable(true);
    pane->setChecked(TrafficPaneShown());
    AddItem(menu, kSaveLogMenuText, IDM_SAVE_LOG);
    AddItem(menu, kSaveCaptureMenuText, IDM_SAVE_CAPTURE);
    AddItem(menu, kSaveSettingsMenuText, IDM_SAVE_SETTINGS);
    AddItem(menu, kLoadSettingsMenuText, IDM_LOAD_SETTINGS);
    AddItem(menu, Recording() ? kStopRecordMenuText : kRecordMenuText, IDM_RECORD);
    QAction* pauses = AddItem(menu, kRecordPausesMenuText, IDM_RECORD_PAUSES);
    pauses->setCheckable(true);
    pauses->setChecked(m_recordPauses);
    if (m_faults.empty())
        return;
    // A submenu's choice comes back through the same exec() as the others.
    QMenu* faults = menu.addMenu(QString::fromUtf8(kFaultsMenuText));
    for (std::size_t i = 0; i < m_faults.size(); ++i) {
        QAction* item = faults->addAction(QString::fromStdString(m_faults[i].text));
        item->setCheckable(true);
        item->setChecked(m_faults[i].isOn());
        item->setData(IDM_FAULT_FIRST + static_cast<unsigned>(i));
    }
}

bool CPelvarDlg::OnBenchCommand(unsigned nID)
{
    if (nID >= IDM_FAULT_FIRST && nID - IDM_FAULT_FIRST < m_faults.size()) {
        const FaultSwitch& fault = m_faults[nID - IDM_FAULT_FIRST];
        const bool on = !fault.isOn();
        fault.set(on);
        SetStatusText("Simulated board: " + fault.text + (on ? " on" : " off"));
        return true;
    }
    switch (nID) {
    case IDM_TRAFFIC_PANE: ShowTrafficPane(!TrafficPaneShown()); return true;
    case IDM_SAVE_LOG: AskSaveLog(); return true;
    case IDM_SAVE_CAPTURE: AskSaveCapture(); return true;
    case IDM_SAVE_SETTINGS: AskSaveSettings(); return true;
    case IDM_LOAD_SETTINGS: AskLoadSettings(); return true;
    case IDM_RECORD: AskRecord(); return true;
    case IDM_RECORD_PAUSES: m_recordPauses = !m_recordPauses; return true;
    default: return false;
    }
}

void CPelvarDlg::Report(bool ok, const std::string& done, const std::string& error)
{
    SetStatusText(ok ? done : error);
}

void CPelvarDlg::AskSaveLog()
{
    const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(kSaveLogMenuText), {}, kLogFilter);
    if (path.isEmpty())
        return;
    std::string error;
    const bool ok = SaveLog(path.toStdString(), &error);
    Report(ok, "Log saved: " + std::to_string(TrafficModel().Records().size()) + " exchanges", error);
}

void CPelvarDlg::AskSaveCapture()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QString::fromUtf8(kSaveCaptureMenuText), {}, kCaptureFilter);
    if (path.isEmpty())
        return;
    std::string error;
    const bool ok = SaveCapture(path.toStdString(), &error);
    Report(ok, "Capture saved: " + std::to_string(TrafficModel().Records().size()) + " exchanges", error);
}

void CPelvarDlg::AskSaveSettings()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QString::fromUtf8(kSaveSettingsMenuText), {}, kPresetFilter);
    if (path.isEmpty())
        return;
    std::string error;
    Report(SaveSettings(path.toStdString(), &error), "Settings saved to " + path.toStdString(), error);
}

void CPelvarDlg::AskLoadSettings()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QString::fromUtf8(kLoadSettingsMenuText), {}, kPresetFilter);
    if (path.isEmpty())
        return;
    std::string error;
    // When connected, the adjustments' own status lines follow.
    Report(LoadSettings(path.toStdString(), &error), "Settings loaded from " + path.toStdString(), error);
}

void CPelvarDlg::AskRecord()
{
    if (Recording()) {
        StopRecording();
        SetStatusText("Recording stopped: " + m_recordPath);
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(kRecordMenuText), {}, kScriptFilter);
    if (path.isEmpty())
        return;
    std::string error;
    Report(StartRecording(path.toStdString(), m_recordPauses, &error), "Recording to " + path.toStdString(), error);
}

bool CPelvarDlg::SaveLog(const std::string& path, std::string* error)
{
    TrafficModel().Flush();
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        *error = "Cannot save the log: " + path;
        return false;
    }
    for (const ExchangeRecord& r : TrafficModel().Records())
        std::fprintf(file, "%s\n", ExchangeLine(r).c_str());
    if (std::fclose(file) != 0) {
        *error = "Cannot save the log: " + path;
        return false;
    }
    return true;
}

bool CPelvarDlg::SaveCapture(const std::string& path, std::string* error)
{
    TrafficModel().Flush();
    int err = 0;
    if (WriteCapture(path, TrafficModel().Records(), Worker().OriginWallMicros(), &err))
        return true;
    *error = "Cannot save the capture: " + path + ": " + DescribeErrno(err);
    return false;
}

bool CPelvarDlg::SaveSettings(const std::string& path, std::string* error)
{
    Preset preset;
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            *preset.adjust.For(b.cmd) = static_cast<QSlider*>(Control(b.id))->value();
    }
    return SavePreset(path, preset, error);
}

// The sliders move without notifying (as a trackbar set by its program);
// the worker then sends each value once.
bool CPelvarDlg::LoadSettings(const std::string& path, std::string* error)
{
    Preset preset;
    if (!LoadPreset(path, &preset, error))
        return false;
    for (const ControlBinding& b : AllControlBindings()) {
        if (b.role == ControlRole::Slider)
            static_cast<QSlider*>(Control(b.id))->setValue(*preset.adjust.For(b.cmd));
    }
    m_worker->SetAdjustments(preset.adjust);
    return true;
}

bool CPelvarDlg::StartRecording(const std::string& path, bool withPauses, std::string* error)
{
    if (!m_worker->Recorder().Start(path, withPauses, error))
        return false;
    m_recordPath = path;
    return true;
}

void CPelvarDlg::StopRecording() { m_worker->Recorder().Stop(); }

} // namespace pelvar
