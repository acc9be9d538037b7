#include "app/PelvarApp.h"

#include <QSessionManager>
#include <QTimer>

#include <cstdlib>
#include <cstring>

#include "app/DemoBoard.h"
#include "app/HeadlessDemo.h"
#include "ui/FrameworkTexts.h"
#include "ui/PelvarDlg.h"

namespace pelvar {

namespace {

// Closes the panel right after its first paint, for the start-up benchmark
// (PELVAR_EXIT_AFTER_SHOW=1).
class CExitAfterFirstPaint : public QObject {
public:
    explicit CExitAfterFirstPaint(CPelvarDlg* dlg) : QObject(dlg), m_pDlg(dlg) { dlg->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_pDlg && event->type() == QEvent::Paint && !m_bDone) {
            m_bDone = true;
            QTimer::singleShot(0, m_pDlg, [dlg = m_pDlg] { dlg->close(); });
        }
        return false;
    }

private:
    CPelvarDlg* m_pDlg;
    bool m_bDone = false;
};

bool ExitAfterShowRequested()
{
    const char* value = std::getenv("PELVAR_EXIT_AFTER_SHOW");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// The session manager may restart a running instance; there is no state to
// recover or files to reopen.
void AllowRestartBySession(QApplication& app)
{
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(&app, &QGuiApplication::saveStateRequest, &app,
                     [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartIfRunning); });
#else
    (void)app;
#endif
}

} // namespace

CPelvarApp::CPelvarApp(int& argc, char** argv) : m_app(argc, argv) { AllowRestartBySession(m_app); }

void CPelvarApp::PrepareFramework()
{
    InstallGermanFrameworkTexts(m_app);
    // Settings would live under this organisation; the program stores none.
    QCoreApplication::setOrganizationName(QString::fromUtf8(kOrganizationName));
    QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationName));
    QGuiApplication::setDesktopFileName(QStringLiteral("pelvar"));
}

bool CPelvarApp::InitInstance(CDemoBoard* demo)
{
    PrepareFramework();
    CPelvarDlg dlg;
    if (demo)
        dlg.SetFaultSwitches(demo->FaultSwitches());
    if (ExitAfterShowRequested()) {
        new CExitAfterFirstPaint(&dlg);
    }
    dlg.exec();
    return false;
}

int CPelvarApp::RunHeadlessDemo(CDemoBoard& board, const std::string& picturePath)
{
    PrepareFramework();
    CPelvarDlg dlg;
    return pelvar::RunHeadlessDemo(dlg, board, picturePath, stdout);
}

} // namespace pelvar
