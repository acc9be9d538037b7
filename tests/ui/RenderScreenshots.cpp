// Renders the control panel and the about box to DIR/panel.png and
// DIR/about.png, with two made-up ports in the (hidden) port list so no
// device of this machine is looked at; and DIR/panel-traffic.png, the panel
// with its traffic pane open, connected to the simulated board on a
// pseudo-terminal of a private port directory, with one fault switched on.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QPixmap>
#include <QSlider>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "camera/ControlIds.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/PtyBoard.h"
#include "ui/AboutDlg.h"
#include "ui/FrameworkTexts.h"
#include "ui/PelvarDlg.h"

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
                    && SaveTrafficPicture(dir.filePath(QStringLiteral("panel-traffic.png")));
    return ok ? 0 : 1;
}
