// Renders the control panel and the about box to DIR/panel.png and
// DIR/about.png, with two made-up ports in the (hidden) port list so no
// device of this machine is looked at.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

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
                    && Save(about, dir.filePath(QStringLiteral("about.png")));
    return ok ? 0 : 1;
}
