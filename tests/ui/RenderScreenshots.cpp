// Renders the control panel and the about box to DIR/panel.png and
// DIR/about.png, with two made-up ports in the (hidden) port list so no
// device of this machine is looked at; and DIR/panel-traffic.png, the panel
// with its traffic pane open, connected to the simulated board on a
// pseudo-terminal of a private port directory, with one fault switched on;
// and DIR/panel-registers.png, the register view of the simulated board
// after a snapshot and two changes, compared.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QPixmap>
#include <QSlider>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "camera/ControlIds.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"
#include "ui/AboutDlg.h"
#include "ui/FrameworkTexts.h"
#include "ui/PelvarDlg.h"
#include "ui/PlotPane.h"
#include "ui/RegisterPane.h"

namespace {

bool Save(QWidget& window, const QString& path)
{
    window.show();
    QApplication::processEvents();
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// A session with the board dropping every third reply: the rows that needed
// a second attempt stand out.
bool SaveTrafficPicture(const QString& path)
{
    char dir[] = "/tmp/pelvar-render-XXXXXX";
    if (!mkdtemp(dir))
        return false;
    setenv("PELVAR_PORTS_DIR", dir, 1);
    pelvar::PtyBoardOptions options;
    options.port = 200;
    options.portsDir = dir;
    pelvar::PtyBoard board(options);
    if (board.Start() != 0)
        return false;
    pelvar::PosixPlatform posix;
    bool saved = false;
    {
        pelvar::CPelvarDlg panel(pelvar::CPelvarDlg::DefaultPortListFiller(), nullptr, posix);
        panel.show();
        panel.ShowTrafficPane(true);
        panel.OnCommand(pelvar::IDC_CONNECT);
        panel.WaitForCamera();
        pelvar::SimBoardOptions faulty = board.BoardOptions();
        faulty.dropEvery = 3;
        board.SetBoardOptions(faulty);
        static_cast<QSlider*>(panel.Control(pelvar::IDC_BRIGHTNESS))->setValue(200);
        panel.Worker().Slider(pelvar::IDC_BRIGHTNESS, 200);
        for (int id : {pelvar::IDC_EDGE, pelvar::IDC_GAMMA, pelvar::IDC_TEST_PATTERN})
            panel.OnCommand(id);
        panel.SetControlText(pelvar::IDC_REG_ADDRESS, "0x0010");
        panel.SetControlText(pelvar::IDC_REG_CONTENT, "0xbeef");
        panel.OnCommand(pelvar::IDC_REG_WRITE);
        panel.OnCommand(pelvar::IDC_REG_READ);
        panel.WaitForCamera();
        // The pane adds its rows in batches.
        const auto until = QDateTime::currentMSecsSinceEpoch() + 200;
        while (QDateTime::currentMSecsSinceEpoch() < until)
            QApplication::processEvents();
        saved = Save(panel, path);
    }
    board.Stop();
    rmdir(dir);
    return saved;
}

// The map of docs/registers.md.
constexpr const char* kExampleMap = R"({
  "registers": [
    {"name": "EXPOSURE", "address": "0x0010", "reset": "0x0100", "description": "exposure time in lines"},
    {"name": "CHIP_ID", "address": "0x0011", "access": "ro", "reset": "0x5a01"},
    {"name": "CTRL", "address": "0x0012", "reset": "0x0000", "description": "pipeline control",
     "fields": [
       {"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3},
        "description": "capture mode"},
       {"name": "GAIN", "lsb": 4, "width": 3},
       {"name": "IRQ", "lsb": 8, "width": 1, "access": "w1c", "description": "frame done; write 1 to clear"},
       {"name": "ERR", "lsb": 9, "width": 1, "access": "w1c"},
       {"name": "EN", "lsb": 15, "width": 1}
     ]},
    {"name": "KICK", "address": "0x0020", "access": "wo"},
    {"name": "STATUS", "address": "0x0030", "access": "volatile", "reset": "0x0000"},
    {"name": "FIFO", "address": "0x0031", "access": "rc", "description": "a read takes the next word",
     "fields": [{"name": "LEVEL", "lsb": 0, "width": 8}]},
    {"name": "INT", "address": "0x0032", "access": "w1c", "reset": "0x0000"},
    {"name": "SCRATCH", "address": "0x00FE", "scratch": true}
  ]
})";

// A snapshot of the simulated board, then CTRL.MODE picked by name and
// EXPOSURE changed behind the panel's back: Compare marks both.
bool SaveRegisterPicture(const QString& path, const QString& mapPath)
{
    std::ofstream(mapPath.toStdString()) << kExampleMap;
    pelvar::SimPlatform sim;
    pelvar::SimBoardDevice board;
    sim.AddPort(5, &board);
    pelvar::CPelvarDlg panel([](pelvar::IPortList& list) { list.AddString("Simulated board (COM5)"); }, nullptr, sim);
    panel.show();
    panel.ShowRegisterView(true);
    panel.OnCommand(pelvar::IDC_CONNECT);
    panel.WaitForCamera();
    pelvar::BoardConnection& line = panel.Camera().Board();
    const std::pair<std::uint16_t, std::uint16_t> values[] = {
        {0x10, 0x0100}, {0x11, 0x5a01}, {0x12, 0x8022}, {0x30, 0x0004}, {0xFE, 0x1234}};
    for (const auto& [address, value] : values)
        line.WriteRegister(address, value);
    pelvar::CRegisterPane& pane = panel.RegisterPane();
    std::string error;
    if (!pane.LoadMap(mapPath.toStdString(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    pane.View().TakeSnapshot();
    panel.WaitForCamera();
    pane.View().Edit(2, 0, "single", &error);
    panel.WaitForCamera();
    line.WriteRegister(0x10, 0x0180);
    pane.View().Compare();
    panel.WaitForCamera();
    pane.TreeView()->clearSelection();
    return Save(panel, path);
}

// The plot of EXPOSURE and the response time over 30 s of the simulated
// clock, the board not answering one sample in the middle (its retries take seconds).
bool SavePlotPicture(const QString& path, const QString& mapPath)
{
    std::ofstream(mapPath.toStdString()) << kExampleMap;
    pelvar::SimPlatform sim;
    pelvar::SimBoardDevice board;
    sim.AddPort(5, &board);
    pelvar::CPelvarDlg panel([](pelvar::IPortList& list) { list.AddString("Simulated board (COM5)"); }, nullptr, sim);
    panel.show();
    panel.OnCommand(pelvar::IDC_CONNECT);
    panel.WaitForCamera();
    std::string error;
    if (!panel.RegisterPane().LoadMap(mapPath.toStdString(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    panel.ShowPlot(true);
    pelvar::RegisterPlotModel& plot = panel.PlotPane().Plot();
    plot.SetPaused(true); // samples come from here, at exact times
    if (!plot.AddSeries("EXPOSURE", &error))
        return false;
    plot.AddResponseTime();
    const std::uint32_t start = sim.TickCount();
    for (int n = 0; n < 300; ++n) {
        // Failed reads wait out their timeouts: the clock only ever goes forward.
        const std::uint32_t due = start + 100u * static_cast<std::uint32_t>(n);
        if (sim.TickCount() < due)
            sim.SetNow(due);
        panel.Camera().Board().WriteRegister(0x10, static_cast<std::uint16_t>(0x100 + (n % 60) * 8));
        sim.FailRead(5, n == 150);
        plot.SetPaused(false);
        plot.Sample();
        plot.SetPaused(true);
        panel.WaitForCamera();
        QApplication::processEvents();
    }
    sim.FailRead(5, false);
    return Save(panel, path);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    pelvar::InstallGermanFrameworkTexts(app);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    pelvar::CPelvarDlg panel([](pelvar::IPortList& list) {
        list.AddString("USB Serial Device (COM3)");
        list.AddString("Communications Port (COM1)");
    });
    pelvar::CAboutDlg about;
    const bool ok = Save(panel, dir.filePath(QStringLiteral("panel.png")))
                    && Save(about, dir.filePath(QStringLiteral("about.png")))
                    && SaveTrafficPicture(dir.filePath(QStringLiteral("panel-traffic.png")))
                    && SaveRegisterPicture(dir.filePath(QStringLiteral("panel-registers.png")),
                                           QDir::temp().filePath(QStringLiteral("pelvar-render-registers.json")))
                    && SavePlotPicture(dir.filePath(QStringLiteral("panel-plot.png")),
                                       QDir::temp().filePath(QStringLiteral("pelvar-render-plot.json")));
    return ok ? 0 : 1;
}
