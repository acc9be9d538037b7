// The panel as a bring-up bench: the traffic pane, the saved log, presets,
// the demo's fault switches on the simulated platform; and a session recorded
// through the real window against pelvar-sim, replayed by pelvarctl against
// another pelvar-sim, with the two boards' received frames compared.
#include <QApplication>
#include <QMenu>
#include <QProcess>
#include <QSlider>
#include <QTest>

#include <filesystem>

#include "app/DemoBoard.h"
#include "camera/ControlIds.h"
#include "camera/ExchangeLog.h"
#include "camera/Preset.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "ui/TrafficPane.h"
#include "tests/support/FileLines.h"
#include "tests/support/TestEnvironment.h"

using namespace pelvar;

namespace {

using pelvar::test::FileLines;

void OnePort(IPortList& list) { list.AddString("Simulated board (COM5)"); }

void Click(CPelvarDlg& dlg, int id)
{
    QTest::mouseClick(dlg.Control(id), Qt::LeftButton);
    QVERIFY(dlg.WaitForCamera());
}

// The pane gets its rows in batches on the window's thread.
void FlushPane(CPelvarDlg& dlg)
{
    QTest::qWait(kTrafficBatchMs + 20);
    dlg.TrafficModel().Flush();
}

ExchangeRecord Numbered(std::uint32_t n)
{
    ExchangeRecord r;
    r.atMs = n;
    return r;
}

// The frames a pelvar-sim --trace reported as received, in order.
QStringList ReceivedFrames(const QString& trace)
{
    QStringList frames;
    for (const QString& line : trace.split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(QStringLiteral("<- "));
        if (at >= 0)
            frames << line.mid(at + 3).section(QStringLiteral("  "), 0, 0);
    }
    return frames;
}

// Starts pelvar-sim on COM`port` with its trace; false when it did not come up.
bool StartSim(QProcess& sim, const QString& dir, int port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PELVAR_PORTS_DIR"), dir);
    sim.setProcessEnvironment(env);
    sim.start(QStringLiteral(PELVAR_SIM_PATH), {"--com", QString::number(port), "--trace"});
    return sim.waitForReadyRead(5000) && sim.readLine().startsWith("COM" + QByteArray::number(port));
}

QString StopSim(QProcess& sim)
{
    sim.terminate();
    sim.waitForFinished(5000);
    return QString::fromUtf8(sim.readAllStandardOutput());
}

} // namespace

class BenchPanelTest : public QObject {
    Q_OBJECT

private slots:
    void paneHiddenByDefaultAndTheWindowAsBefore();
    void paneShowsEachExchangeAndMarksTheBadOnes();
    void paneKeepsTheNewestRowsUpToItsLimit();
    void savedLogAndCaptureHoldThePanesExchanges();
    void settingsSaveAndLoadMoveTheSliders();
    void demoFaultSwitchesInTheWindowMenu();
    void rs485ModeFromTheMenuReachesTheOpen();
    void theDemosSwitchesTurnEachFaultOnAndOff();
    void recordedSessionReplaysAsTheSameFrames();
};

void BenchPanelTest::paneHiddenByDefaultAndTheWindowAsBefore()
{
    SimPlatform sim;
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QSize plain = dlg.size();
    QVERIFY(!dlg.TrafficPaneShown());
    QVERIFY(!dlg.findChild<QTableView*>()->isVisible());

    dlg.OnSysCommand(IDM_TRAFFIC_PANE, 0);
    QVERIFY(dlg.TrafficPaneShown());
    QVERIFY(dlg.width() > plain.width());
    QCOMPARE(dlg.height(), plain.height());
    dlg.OnSysCommand(IDM_TRAFFIC_PANE, 0);
    QVERIFY(!dlg.TrafficPaneShown());
    QCOMPARE(dlg.size(), plain);

    // The menu offers the bench; without the demo, no fault switches.
    const std::unique_ptr<QMenu> menu = dlg.CreateSystemMenu();
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text();
    for (const char* item : {kTrafficPaneMenuText, kPlotMenuText, kSaveLogMenuText, kSaveCaptureMenuText,
                             kSaveSettingsMenuText, kLoadSettingsMenuText, kRecordMenuText})
        QVERIFY2(texts.contains(QString::fromUtf8(item)), item);
    QVERIFY(!texts.contains(QString::fromUtf8(kFaultsMenuText)));
}

void BenchPanelTest::paneShowsEachExchangeAndMarksTheBadOnes()
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    dlg.ShowTrafficPane(true);
    Click(dlg, IDC_CONNECT);
    Click(dlg, IDC_EDGE);
    SimBoardOptions nak;
    nak.nak = true;
    board.Board().SetOptions(nak);
    Click(dlg, IDC_GAMMA);
    FlushPane(dlg);

    CTrafficModel& model = dlg.TrafficModel();
    // status probe, init, status, blue gain, edge, gamma
    QCOMPARE(model.rowCount(), 6);
    const auto cell = [&](int row, int column) { return model.index(row, column).data().toString(); };
    QCOMPARE(cell(0, CTrafficModel::Meaning), QStringLiteral("status 0x00: not started"));
    QCOMPARE(cell(2, CTrafficModel::Meaning), QStringLiteral("status 0x11: active, ARVEN-L"));
    QCOMPARE(cell(4, CTrafficModel::Command), QStringLiteral("edge"));
    QCOMPARE(cell(4, CTrafficModel::Result), QStringLiteral("LINK_OK"));
    QVERIFY(!model.index(4, 0).data(Qt::BackgroundRole).isValid());
    QCOMPARE(cell(5, CTrafficModel::Result), QStringLiteral("LINK_ERR_NAK"));
    QCOMPARE(cell(5, CTrafficModel::Attempts), QStringLiteral("6"));
    QVERIFY(model.index(5, CTrafficModel::Time).data(Qt::BackgroundRole).isValid());
    QVERIFY(cell(4, CTrafficModel::Frames).startsWith(QStringLiteral("> 02 02 1A 1A 03  < 02 06 1A 06")));
    QCOMPARE(model.index(4, 0).data(Qt::ToolTipRole).toString().count(QLatin1Char('\n')), 1);
}

void BenchPanelTest::paneKeepsTheNewestRowsUpToItsLimit()
{
    CTrafficModel model(nullptr, 5);
    for (std::uint32_t n = 0; n < 3; ++n)
        model.Post(Numbered(n));
    model.Flush();
    QCOMPARE(model.rowCount(), 3);
    for (std::uint32_t n = 3; n < 7; ++n)
        model.Post(Numbered(n));
    model.Flush();
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(model.Records().front().atMs, 2u);
    QCOMPARE(model.Records().back().atMs, 6u);
    // A batch larger than the limit keeps its own newest rows.
    for (std::uint32_t n = 100; n < 112; ++n)
        model.Post(Numbered(n));
    model.Flush();
    QCOMPARE(model.rowCount(), 5);
    QCOMPARE(model.Records().front().atMs, 107u);
    QCOMPARE(model.Records().back().atMs, 111u);
}

// The bench's files come from this window's pane and sliders (their
// contents are the bench's own tests).
void BenchPanelTest::savedLogAndCaptureHoldThePanesExchanges()
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    CPelvarDlg dlg(OnePort, nullptr, sim);
    Click(dlg, IDC_CONNECT);
    dlg.SetControlText(IDC_REG_ADDRESS, "0x0010");
    dlg.SetControlText(IDC_REG_CONTENT, "0xbeef");
    Click(dlg, IDC_REG_WRITE);
    test::TempDir dir;
    const std::string path = dir.Path() + "/session.log";
    std::string error;
    // The pane is hidden: the log is kept all the same.
    QVERIFY2(dlg.SaveLog(path, &error), error.c_str());
    const std::vector<std::string> lines = FileLines(path);
    QCOMPARE(lines.size(), std::size_t{6}); // 4 of Connect, the address latch, the write
    QCOMPARE(lines.size(), dlg.TrafficModel().Records().size());
    QVERIFY2(lines[5].find("reg 0x0010 = 0xbeef") != std::string::npos, lines[5].c_str());
    QVERIFY2(dlg.SaveCapture(dir.Path() + "/session.pcapng", &error), error.c_str());
}

void BenchPanelTest::settingsSaveAndLoadMoveTheSliders()
{
    SimPlatform sim;
    CPelvarDlg dlg(OnePort, nullptr, sim);
    test::TempDir dir;
    const std::string saved = dir.Path() + "/saved.json";
    static_cast<QSlider*>(dlg.Control(IDC_GREEN))->setValue(42);
    std::string error;
    QVERIFY2(dlg.SaveSettings(saved, &error), error.c_str());
    Preset preset;
    QVERIFY2(LoadPreset(saved, &preset, &error), error.c_str());
    QCOMPARE(preset.adjust.green, 42);

    preset.adjust.brightness = 200;
    preset.adjust.blue = 7;
    const std::string other = dir.Path() + "/other.json";
    QVERIFY(SavePreset(other, preset, &error));
    QVERIFY(dlg.LoadSettings(other, &error));
    QVERIFY(dlg.WaitForCamera());
    QCOMPARE(static_cast<QSlider*>(dlg.Control(IDC_BRIGHTNESS))->value(), 200);
    QCOMPARE(static_cast<QSlider*>(dlg.Control(IDC_GREEN))->value(), 42);
    QCOMPARE(QString::fromStdString(dlg.ControlText(IDC_BLUE_VALUE)), QStringLiteral("7"));
}

void BenchPanelTest::demoFaultSwitchesInTheWindowMenu()
{
    SimPlatform sim;
    CPelvarDlg dlg(OnePort, nullptr, sim);
    bool silent = false;
    bool nak = false;
    dlg.SetFaultSwitches({{"Silent", [&] { return silent; }, [&](bool on) { silent = on; }},
                          {"NAK", [&] { return nak; }, [&](bool on) { nak = on; }}});
    dlg.OnSysCommand(FaultCommand(1), 0);
    QVERIFY(nak);
    QVERIFY(!silent);
    QCOMPARE(dlg.StatusText(), std::string("Simulated board: NAK on"));

    const std::unique_ptr<QMenu> menu = dlg.CreateSystemMenu();
    QMenu* faults = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->menu() && a->text() == QString::fromUtf8(kFaultsMenuText))
            faults = a->menu();
    }
    QVERIFY(faults);
    QCOMPARE(faults->actions().size(), qsizetype(2));
    QVERIFY(!faults->actions()[0]->isChecked());
    QVERIFY(faults->actions()[1]->isChecked());
    QCOMPARE(faults->actions()[1]->data().toUInt(), FaultCommand(1));
    dlg.OnSysCommand(FaultCommand(1), 0);
    QVERIFY(!nak);
}

void BenchPanelTest::rs485ModeFromTheMenuReachesTheOpen()
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    sim.SetAdapter(5, SimAdapter{});
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.OnSysCommand(IDM_RS485, 0);
    const std::unique_ptr<QMenu> menu = dlg.CreateSystemMenu();
    bool checked = false;
    for (QAction* a : menu->actions())
        checked = checked || (a->data().toUInt() == IDM_RS485 && a->isChecked());
    QVERIFY(checked);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Click(dlg, IDC_CONNECT);
    QCOMPARE(QString::fromStdString(dlg.ControlText(IDC_SENSOR_TEXT)), QStringLiteral("ARVEN-L"));
    QVERIFY(sim.Rs485(5));
}

// The switches of pelvar --demo, on its own board: each one on, then off
// again, reaches the running board's options both ways.
void BenchPanelTest::theDemosSwitchesTurnEachFaultOnAndOff()
{
    struct Row {
        const char* text;
        std::uint32_t on; // the option's value while switched on; 0 when off
        std::uint32_t (*option)(const SimBoardOptions&);
    };
    const Row rows[] = {
        {"Silent", 1, [](const SimBoardOptions& o) -> std::uint32_t { return o.silent; }},
        {"NAK", 1, [](const SimBoardOptions& o) -> std::uint32_t { return o.nak; }},
        {"Corrupt checksum", 1, [](const SimBoardOptions& o) -> std::uint32_t { return o.corrupt; }},
        {"Slow replies (300 ms)", 300, [](const SimBoardOptions& o) { return o.delayMs; }},
        {"Drop every 3rd reply", 3, [](const SimBoardOptions& o) { return o.dropEvery; }},
    };
    test::ScopedEnv env("PELVAR_PORTS_DIR", std::nullopt); // Start points it at its own directory
    CDemoBoard demo;
    QVERIFY2(demo.Start(), demo.ErrorText().c_str());
    std::vector<FaultSwitch> switches = demo.FaultSwitches();
    QCOMPARE(switches.size(), std::size(rows));
    for (std::size_t i = 0; i < switches.size(); ++i) {
        const Row& row = rows[i];
        QCOMPARE(switches[i].text, std::string(row.text));
        QVERIFY2(!switches[i].isOn(), row.text);
        switches[i].set(true);
        QVERIFY2(switches[i].isOn(), row.text);
        QCOMPARE(row.option(demo.Board().BoardOptions()), row.on);
        switches[i].set(false);
        QVERIFY2(!switches[i].isOn(), row.text);
        QCOMPARE(row.option(demo.Board().BoardOptions()), 0u);
    }
}

void BenchPanelTest::recordedSessionReplaysAsTheSameFrames()
{
    test::TempDir panelDir;
    test::TempDir replayDir;
    const std::string script = panelDir.Path() + "/session.txt";

    QProcess panelBoard;
    QVERIFY(StartSim(panelBoard, QString::fromStdString(panelDir.Path()), 210));
    QString panelTrace;
    {
        test::ScopedEnv env("PELVAR_PORTS_DIR", panelDir.Path());
        PosixPlatform posix;
        CPelvarDlg dlg(CPelvarDlg::DefaultPortListFiller(), nullptr, posix);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Click(dlg, IDC_CONNECT);
        QCOMPARE(QString::fromStdString(dlg.ControlText(IDC_PORT_TEXT)), QStringLiteral("210"));
        // Until the simulator has printed the connect's last frame, the blue gain.
        QTRY_VERIFY_WITH_TIMEOUT((panelTrace += QString::fromUtf8(panelBoard.readAllStandardOutput()))
                                     .contains(QStringLiteral("<- 02 06 95")),
                                 10000);
        const qsizetype beforeRecording = ReceivedFrames(panelTrace).size();

        std::string error;
        QVERIFY2(dlg.StartRecording(script, true, &error), error.c_str());
        // A sweep by keyboard: positions are coalesced while the worker is busy.
        auto* slider = static_cast<QSlider*>(dlg.Control(IDC_RED));
        slider->setFocus();
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(slider, Qt::Key_Right);
            QTest::qWait(i % 3 == 0 ? 30 : 0);
        }
        QVERIFY(dlg.WaitForCamera());
        Click(dlg, IDC_EDGE);
        dlg.SetControlText(IDC_REG_ADDRESS, "0x0010");
        dlg.SetControlText(IDC_REG_CONTENT, "0xbeef");
        Click(dlg, IDC_REG_WRITE);
        Click(dlg, IDC_REG_READ);
        Click(dlg, IDC_DISCONNECT);
        dlg.StopRecording();
        // Until the simulator has printed the session's last frame, the register read.
        QTRY_VERIFY_WITH_TIMEOUT((panelTrace += QString::fromUtf8(panelBoard.readAllStandardOutput()))
                                     .contains(QStringLiteral("<- 02 02 24 24 03")),
                                 10000);
        panelTrace = ReceivedFrames(panelTrace).mid(beforeRecording).join(QLatin1Char('\n'));
    }
    StopSim(panelBoard);

    QProcess replayBoard;
    QVERIFY(StartSim(replayBoard, QString::fromStdString(replayDir.Path()), 211));
    // The panel's board was started by its Connect: start this one too, as
    // `pelvarctl connect` does, then replay. The run probes the board first.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PELVAR_PORTS_DIR"), QString::fromStdString(replayDir.Path()));
    for (const QStringList& args : {QStringList{"--port", "211", "connect"},
                                    QStringList{"--port", "211", "run", QString::fromStdString(script)}}) {
        QProcess ctl;
        ctl.setProcessEnvironment(env);
        ctl.start(QStringLiteral(PELVARCTL_PATH), args);
        QVERIFY(ctl.waitForFinished(30000));
        QVERIFY2(ctl.exitCode() == 0, ctl.readAllStandardError().constData());
    }
    QString replayOut;
    QTRY_VERIFY_WITH_TIMEOUT((replayOut += QString::fromUtf8(replayBoard.readAllStandardOutput()))
                                 .contains(QStringLiteral("<- 02 02 24 24 03")),
                             10000);
    const QStringList replayed = ReceivedFrames(replayOut + StopSim(replayBoard));
    // connect: status, init, status, blue gain; run: status.
    QVERIFY(replayed.size() > 5);
    QCOMPARE(replayed.mid(0, 5).join(QLatin1Char(' ')),
             QStringLiteral("02 02 00 00 03 02 02 70 70 03 02 02 00 00 03 02 06 95 80 00 00 00 11 03 02 02 00 00 03"));
    const QString replayTrace = replayed.mid(5).join(QLatin1Char('\n'));

    // More than one position of the sweep went out, and every operation after it.
    QVERIFY2(panelTrace.count(QStringLiteral("02 06 93")) >= 2, qPrintable(panelTrace));
    QVERIFY2(panelTrace.count(QLatin1Char('\n')) >= 8, qPrintable(panelTrace));
    QCOMPARE(replayTrace, panelTrace);
    const std::vector<std::string> lines = FileLines(script);
    QVERIFY(std::find(lines.begin(), lines.end(), "press edge") != lines.end());
}

QTEST_MAIN(BenchPanelTest)
#include "BenchPanelTest.moc"
