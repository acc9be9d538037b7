// The application object: prepares the toolkit, runs the control panel as a
// modal dialog and lets the process end when it closes.
#pragma once

#include <QApplication>

#include <string>

namespace pelvar {

class CDemoBoard;

constexpr const char* kOrganizationName = "Vom lokalen Anwendungs-Assistenten generierte Anwendungen";
constexpr const char* kApplicationName = "Pelvar";

class CPelvarApp {
public:
    CPelvarApp(int& argc, char** argv);

    // Runs the panel until it is closed; always false: there is no main
    // loop of the application's own after it.
    // With the demo's board, the window menu gets its fault switches.
    bool InitInstance(CDemoBoard* demo = nullptr);

    // The demo without a window (see HeadlessDemo.h); the exit status.
    int RunHeadlessDemo(CDemoBoard& board, const std::string& picturePath);

private:
    void PrepareFramework();

    QApplication m_app;
};

} // namespace pelvar
