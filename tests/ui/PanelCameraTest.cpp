// The real panel driving the camera logic: on the simulated platform in
// virtual time, and end to end over a pseudo-terminal with the simulated board.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include "camera/Commands.h"
#include "camera/ControlIds.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "tests/e2e/Ser2net.h"
#include "tests/support/TestEnvironment.h"
#include "tests/ui/ModalWatcher.h"

using namespace pelvar;

namespace {

void OnePort(IPortList& list) { list.AddString("Simulated board (COM5)"); }

QString Text(CPelvarDlg& dlg, int id) { return QString::fromStdString(dlg.ControlText(id)); }

bool Enabled(CPelvarDlg& dlg, int id) { return dlg.Control(id)->isEnabled(); }

// Bytes wait at a pseudo-terminal's master within `ms`.
bool Readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN);
}

void Click(CPelvarDlg& dlg, int id)
{
    QTest::mouseClick(dlg.Control(id), Qt::LeftButton);
    QVERIFY(dlg.WaitForCamera());
}

} // namespace

class PanelCameraTest : public QObject {
    Q_OBJECT

private slots:
    void operatorPathOnTheSimulatedPlatform();
    void silentBoardAtDisconnectShowsTheMessage();
    void operatorPathOverAPseudoTerminal();
    void unplugAndComeBackOverAPseudoTerminal();
    void closingDuringAConnectEndsWithinOneProbe();
    void networkPortOfTheDirectoryLostAndBack();
};

void PanelCameraTest::operatorPathOnTheSimulatedPlatform()
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(5, &board);
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(Enabled(dlg, IDC_CONNECT));
    QVERIFY(!Enabled(dlg, IDC_EDGE));

    Click(dlg, IDC_CONNECT);
    QCOMPARE(Text(dlg, IDC_PORT_TEXT), QStringLiteral("5"));
    QCOMPARE(Text(dlg, IDC_SENSOR_TEXT), QStringLiteral("ARVEN-L"));
    QCOMPARE(dlg.StatusText(), std::string("Connected on COM5: ARVEN-L"));
    QVERIFY(!Enabled(dlg, IDC_CONNECT));
    for (int id : {IDC_DISCONNECT, IDC_EDGE, IDC_ARROW_LEFT, IDC_REG_ADDRESS, IDC_REG_READ})
        QVERIFY(Enabled(dlg, id));
    QCOMPARE(Text(dlg, IDC_BLUE_VALUE), QStringLiteral("128"));

    // A key step on the slider: a line notification and an end-of-tracking
    // notification, the same value sent twice.
    auto* slider = static_cast<QSlider*>(dlg.Control(IDC_BRIGHTNESS));
    slider->setFocus();
    sim.ClearWrites(5);
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(Text(dlg, IDC_BRIGHTNESS_VALUE), QStringLiteral("129"));
    QVERIFY(dlg.WaitForCamera());
    QCOMPARE(board.Board().Adjust().brightness, 129);
    // The end-of-tracking notification repeats the value: sent again, or
    // taken together with the first while that one waited.
    QVERIFY(board.Board().CommandCount(CMD_BRIGHTNESS) >= 1u);
    QVERIFY(board.Board().CommandCount(CMD_BRIGHTNESS) <= 2u);
    QCOMPARE(dlg.StatusText(), std::string("brightness 129: sent"));
    const std::vector<std::uint8_t> frame = {0x02, 0x06, 0x91, 0x81, 0, 0, 0, 0x14, 0x03};
    QCOMPARE(sim.Writes(5).front().bytes, frame);
    QVERIFY(QApplication::overrideCursor() == nullptr);

    Click(dlg, IDC_ARROW_LEFT);
    QCOMPARE(board.Board().CommandCount(CMD_ARROW_LEFT), 1u);

    dlg.SetControlText(IDC_REG_ADDRESS, "0x0010");
    dlg.SetControlText(IDC_REG_CONTENT, "ff");
    Click(dlg, IDC_REG_WRITE);
    QCOMPARE(board.Board().Register(0x10), std::uint16_t(0x00FF));
    QCOMPARE(Text(dlg, IDC_REG_CONTENT), QStringLiteral("ff"));
    Click(dlg, IDC_REG_READ);
    QCOMPARE(Text(dlg, IDC_REG_CONTENT), QStringLiteral("0x00ff"));

    Click(dlg, IDC_DISCONNECT);
    QVERIFY(Enabled(dlg, IDC_CONNECT));
    QVERIFY(!Enabled(dlg, IDC_DISCONNECT));
    QCOMPARE(Text(dlg, IDC_SENSOR_TEXT), QString());
    QCOMPARE(Text(dlg, IDC_PORT_TEXT), QStringLiteral("5"));
    QVERIFY(!sim.IsOpen(5));
    QCOMPARE(board.Board().CommandCount(CMD_RELEASE), 1u);
}

void PanelCameraTest::silentBoardAtDisconnectShowsTheMessage()
{
    SimPlatform sim;
    SimBoardOptions options;
    options.dropEvery = 5; // probe, init, poll, blue gain answered; the fifth frame not
    SimBoardDevice board(options);
    sim.AddPort(5, &board);
    CPelvarDlg dlg(OnePort, nullptr, sim);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Click(dlg, IDC_CONNECT);
    QCOMPARE(Text(dlg, IDC_SENSOR_TEXT), QStringLiteral("ARVEN-L"));

    test::CMessageBoxCloser closer;
    Click(dlg, IDC_DISCONNECT);
    QVERIFY(closer.Fired());
    QCOMPARE(closer.seen.text, QStringLiteral("No reply from camera."));
    QCOMPARE(closer.seen.caption, QStringLiteral("Error"));
    QCOMPARE(closer.seen.icon, QMessageBox::Critical);
    QCOMPARE(closer.seen.buttons.size(), qsizetype(1));
    QCOMPARE(Text(dlg, IDC_SENSOR_TEXT), QStringLiteral("ARVEN-L"));
    QVERIFY(Enabled(dlg, IDC_CONNECT));
    QVERIFY(!sim.IsOpen(5));
}

// The whole operator's path against the pelvar-sim program.
void PanelCameraTest::operatorPathOverAPseudoTerminal()
{
    test::TempDir dir;
    test::ScopedEnv env("PELVAR_PORTS_DIR", dir.Path());
    QProcess sim;
    sim.start(QStringLiteral(PELVAR_SIM_PATH), {"--com", "200", "--state"});
    QVERIFY(sim.waitForReadyRead(5000));
    QVERIFY(sim.readLine().startsWith("COM200 /dev/pts/"));
    {
        PosixPlatform posix;
        CPelvarDlg dlg(CPelvarDlg::DefaultPortListFiller(), nullptr, posix);
        QCOMPARE(dlg.PortCount(), 1);
        QVERIFY(dlg.PortEntry(0).find("(COM200)") != std::string::npos);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        Click(dlg, IDC_CONNECT);
        QCOMPARE(Text(dlg, IDC_PORT_TEXT), QStringLiteral("200"));
        QCOMPARE(Text(dlg, IDC_SENSOR_TEXT), QStringLiteral("ARVEN-L"));

        auto* slider = static_cast<QSlider*>(dlg.Control(IDC_CONTRAST));
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_End);
        QVERIFY(dlg.WaitForCamera());
        QCOMPARE(Text(dlg, IDC_CONTRAST_VALUE), QStringLiteral("255"));
        Click(dlg, IDC_TEST_PATTERN);
        dlg.SetControlText(IDC_REG_ADDRESS, "1234");
        dlg.SetControlText(IDC_REG_CONTENT, "abcd");
        Click(dlg, IDC_REG_WRITE);
        dlg.SetControlText(IDC_REG_CONTENT, "");
        Click(dlg, IDC_REG_READ);
        QCOMPARE(Text(dlg, IDC_REG_CONTENT), QStringLiteral("0xabcd"));
        Click(dlg, IDC_DISCONNECT);
        QVERIFY(Enabled(dlg, IDC_CONNECT));
    }
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    const QString state = QString::fromUtf8(sim.readAllStandardOutput());
    QVERIFY2(state.contains("contrast 255"), qPrintable(state));
    QVERIFY2(state.contains("test_pattern 1"), qPrintable(state));
    QVERIFY2(state.contains("0x1234=0xabcd"), qPrintable(state));
    QVERIFY2(state.contains("init 1, release 1"), qPrintable(state));
}

// The board's program ends (its pseudo-terminal hangs up) and starts again
// on the same port: the panel notices both without a click.
void PanelCameraTest::unplugAndComeBackOverAPseudoTerminal()
{
    char dir[] = "/tmp/pelvar-ui-XXXXXX";
    QVERIFY(mkdtemp(dir) != nullptr);
    setenv("PELVAR_PORTS_DIR", dir, 1);
    QProcess sim;
    sim.start(QStringLiteral(PELVAR_SIM_PATH), {"--com", "201"});
    QVERIFY(sim.waitForReadyRead(5000));
    QProcess again;
    {
        PosixPlatform posix;
        CPelvarDlg dlg(CPelvarDlg::DefaultPortListFiller(), nullptr, posix);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Click(dlg, IDC_CONNECT);
        QCOMPARE(dlg.StatusText(), std::string("Connected on COM201: ARVEN-L"));
        // Two values the board would not hold by itself (it starts at 128).
        auto* slider = static_cast<QSlider*>(dlg.Control(IDC_GREEN));
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Home);
        QVERIFY(dlg.WaitForCamera());
        slider = static_cast<QSlider*>(dlg.Control(IDC_BRIGHTNESS));
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_End);
        QVERIFY(dlg.WaitForCamera());

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.StatusText(), std::string("Board unplugged: disconnected"), 2000);
        QVERIFY(Enabled(dlg, IDC_CONNECT));
        QVERIFY(!Enabled(dlg, IDC_DISCONNECT));

        again.start(QStringLiteral(PELVAR_SIM_PATH), {"--com", "201", "--state"});
        QVERIFY(again.waitForReadyRead(5000));
        QTRY_COMPARE_WITH_TIMEOUT(dlg.StatusText(), std::string("Board back on COM201: reconnected, adjustments sent"),
                                  5000);
        QVERIFY(Enabled(dlg, IDC_DISCONNECT));
    }
    again.terminate();
    QVERIFY(again.waitForFinished(5000));
    const QString state = QString::fromUtf8(again.readAllStandardOutput());
    QVERIFY2(state.contains("green 0"), qPrintable(state));
    QVERIFY2(state.contains("brightness 255"), qPrintable(state));
    unsetenv("PELVAR_PORTS_DIR");
    std::filesystem::remove_all(dir);
}

// Closing the window while Connect walks four silent ports: the probe in
// flight ends and no further port is tried. A loaded machine may move on to
// the next port between the count and the close, so one more is allowed.
void PanelCameraTest::closingDuringAConnectEndsWithinOneProbe()
{
    char dir[] = "/tmp/pelvar-ui-XXXXXX";
    QVERIFY(mkdtemp(dir) != nullptr);
    setenv("PELVAR_PORTS_DIR", dir, 1);
    constexpr int kPorts = 4;
    int fds[2 * kPorts];
    for (int i = 0; i < kPorts; ++i) {
        char name[128];
        QVERIFY(openpty(&fds[2 * i], &fds[2 * i + 1], name, nullptr, nullptr) == 0);
        std::filesystem::create_symlink(name, std::string(dir) + "/COM" + std::to_string(210 + i));
    }
    const auto probed = [&] {
        int n = 0;
        for (int i = 0; i < kPorts; ++i)
            n += Readable(fds[2 * i], 0) ? 1 : 0;
        return n;
    };
    PosixPlatform posix;
    int probedBeforeTheClose = 0;
    {
        CPelvarDlg dlg(CPelvarDlg::DefaultPortListFiller(), nullptr, posix);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.Control(IDC_CONNECT), Qt::LeftButton);
        QVERIFY(!Enabled(dlg, IDC_CONNECT));
        QVERIFY(Readable(fds[0], 5000));
        probedBeforeTheClose = probed();
    }
    QVERIFY2(probed() <= probedBeforeTheClose + 1,
             qPrintable(QString("%1 ports probed after the close, %2 before").arg(probed()).arg(probedBeforeTheClose)));
    for (int port = 210; port < 210 + kPorts; ++port) {
        const PortHandle h = posix.OpenPort(port);
        QVERIFY2(h != kNoHandle, qPrintable(QString::number(port)));
        posix.ClosePort(h);
    }
    for (int fd : fds)
        close(fd);
    unsetenv("PELVAR_PORTS_DIR");
    std::filesystem::remove_all(dir);
}

// A board on another machine: the port directory holds only a network
// entry, COM7, for ser2net serving the board. Connect finds it and shows its
// number; ser2net stopped is a board unplugged, and when it serves again the
// panel reconnects by itself.
void PanelCameraTest::networkPortOfTheDirectoryLostAndBack()
{
    char dir[] = "/tmp/pelvar-ui-XXXXXX";
    QVERIFY(mkdtemp(dir) != nullptr);
    setenv("PELVAR_PORTS_DIR", dir, 1);
    QProcess sim;
    sim.start(QStringLiteral(PELVAR_SIM_PATH), {"--com", "201", "--state"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString first = QString::fromUtf8(sim.readLine()).trimmed();
    const std::string device = first.section(' ', 1, 1).toStdString();
    QVERIFY2(device.rfind("/dev/pts/", 0) == 0, qPrintable(first));
    std::filesystem::remove(std::string(dir) + "/COM201");
    auto server = std::make_unique<e2e::Ser2net>(device);
    QVERIFY(server->Ready());
    const int tcpPort = server->Port();
    const std::string entry = std::string(dir) + "/COM7";
    std::ofstream(entry) << server->Url() << "\n";
    QVERIFY(chmod(entry.c_str(), 0600) == 0);
    {
        CPelvarDlg dlg(CPelvarDlg::DefaultPortListFiller(), nullptr, DefaultPlatform());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        Click(dlg, IDC_CONNECT);
        QCOMPARE(dlg.StatusText(), std::string("Connected on COM7: ARVEN-L"));
        QCOMPARE(Text(dlg, IDC_PORT_TEXT), QStringLiteral("7"));

        server->Stop();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.StatusText(), std::string("Board unplugged: disconnected"), 3000);
        QVERIFY(Enabled(dlg, IDC_CONNECT));

        server = std::make_unique<e2e::Ser2net>(device, tcpPort);
        QVERIFY(server->Ready());
        QTRY_COMPARE_WITH_TIMEOUT(dlg.StatusText(), std::string("Board back on COM7: reconnected, adjustments sent"),
                                  8000);
    }
    server.reset();
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    const QString state = QString::fromUtf8(sim.readAllStandardOutput());
    QVERIFY2(state.contains("init 1"), qPrintable(state));
    unsetenv("PELVAR_PORTS_DIR");
    std::filesystem::remove_all(dir);
}

QTEST_MAIN(PanelCameraTest)
#include "PanelCameraTest.moc"
