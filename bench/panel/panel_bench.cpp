// The panel against boards on pseudo-terminals, offscreen: the longest time
// the window's event loop did not run during a silent transaction, a Connect
// across three silent ports and a Disconnect from a silent board, each also
// run the old way (the camera logic on the window's thread); then a slider
// swept 0..255 in one second against a board with a 1-byte acknowledge.
// Run: QT_QPA_PLATFORM=offscreen build/bench/panel/panel_bench
#include <QApplication>
#include <QElapsedTimer>
#include <QSlider>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <pty.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "camera/ControlIds.h"
#include "platform/posix/PosixPlatform.h"
#include "sim/SimBoard.h"
#include "ui/PelvarDlg.h"
#include "ui/SliderNotifier.h"

using namespace pelvar;
using Clock = std::chrono::steady_clock;

namespace {

double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// A pseudo-terminal attached as COMn; with `board` it answers as the
// simulated board does until made silent, without it nobody answers.
class PtyHost {
public:
    PtyHost(const std::string& dir, int port, const SimBoardOptions* options)
    {
        char name[128];
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            std::abort();
        std::filesystem::create_symlink(name, dir + "/COM" + std::to_string(port));
        if (options) {
            m_board = std::make_unique<SimBoard>(*options);
            m_thread = std::thread([this] { Serve(); });
        }
    }
    ~PtyHost()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        close(m_master);
        close(m_slave);
    }
    void Silence(bool on) { m_silent = on; }
    // Arrival time and value of each brightness frame.
    std::vector<std::pair<Clock::time_point, int>> Brightness()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_brightness;
    }

private:
    void Serve()
    {
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 5) <= 0)
                continue;
            std::uint8_t buf[256];
            const ssize_t n = read(m_master, buf, sizeof buf);
            if (n <= 0 || m_silent)
                continue;
            for (const SimBoardExchange& ex : m_board->Feed(buf, static_cast<std::size_t>(n))) {
                if (ex.received.size() > 3 && ex.received[2] == 0x91) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_brightness.emplace_back(Clock::now(), ex.received[3]);
                }
                if (!ex.reply.empty())
                    (void)!write(m_master, ex.reply.data(), ex.reply.size());
            }
        }
    }

    int m_master = -1;
    int m_slave = -1;
    std::unique_ptr<SimBoard> m_board;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_silent{false};
    std::mutex m_mutex;
    std::vector<std::pair<Clock::time_point, int>> m_brightness;
};

// The panel with the modal box answered at once (the bench measures the loop,
// not the operator).
class BenchDlg : public CPelvarDlg {
public:
    BenchDlg(IPlatform& platform) : CPelvarDlg(DefaultPortListFiller(), nullptr, platform) {}
    void ShowError(const std::string&, const std::string&) override {}
};

// Runs `start`, then the event loop until the worker is idle; returns the
// longest gap between two turns of a 1 ms timer.
double LongestStall(BenchDlg& dlg, const std::function<void()>& start)
{
    double longest = 0;
    auto last = Clock::now();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, MsBetween(last, now));
        last = now;
    });
    tick.start(1);
    QApplication::processEvents();
    last = Clock::now();
    start();
    while (!dlg.Worker().Idle())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    dlg.WaitForCamera();
    return std::max(longest, MsBetween(last, Clock::now()));
}

// The old way: the same operation on the window's thread.
double OnWindowThread(CameraController& cam, const std::function<void(CameraController&)>& op)
{
    const auto t0 = Clock::now();
    op(cam);
    return MsBetween(t0, Clock::now());
}

class NullView : public IPanelView {
public:
    std::vector<std::string> ports;
    void SetControlText(int, const std::string&) override {}
    std::string ControlText(int) override { return {}; }
    void SetControlStates(bool, bool) override {}
    void ShowError(const std::string&, const std::string&) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    int PortCount() override { return static_cast<int>(ports.size()); }
    std::string PortEntry(int i) override { return ports.at(static_cast<std::size_t>(i)); }
    int SelectedPortIndex() override { return -1; }
};

void Stalls(const std::string& dir)
{
    PosixPlatform posix;
    SimBoardOptions answering;
    PtyHost board(dir, 100, &answering);
    BenchDlg dlg(posix);
    dlg.show();
    dlg.WaitForCamera();
    dlg.OnCommand(IDC_CONNECT);
    dlg.WaitForCamera();
    board.Silence(true);
    const double transaction = LongestStall(dlg, [&] { dlg.OnCommand(IDC_EDGE); });
    const double disconnect = LongestStall(dlg, [&] { dlg.OnCommand(IDC_DISCONNECT); });

    // The old way, on the same board still silent: connected first while it answers.
    NullView view;
    view.ports = {"B (COM100)"};
    CameraController cam(view, posix);
    board.Silence(false);
    cam.OnConnect();
    board.Silence(true);
    const double oldTransaction = OnWindowThread(cam, [](CameraController& c) { c.OnFunctionButton(IDC_EDGE); });
    const double oldDisconnect = OnWindowThread(cam, [](CameraController& c) { c.OnDisconnect(); });
    std::filesystem::remove(dir + "/COM100");

    PtyHost s1(dir, 101, nullptr), s2(dir, 102, nullptr), s3(dir, 103, nullptr);
    const double connect = LongestStall(dlg, [&] { dlg.OnCommand(IDC_CONNECT); });
    view.ports = {"S (COM101)", "S (COM102)", "S (COM103)"};
    const double oldConnect = OnWindowThread(cam, [](CameraController& c) { c.OnConnect(); });
    std::printf("| silent transaction (edge) | %.1f ms | %.0f ms |\n", transaction, oldTransaction);
    std::printf("| Connect across three silent ports | %.1f ms | %.0f ms |\n", connect, oldConnect);
    std::printf("| Disconnect from a silent board | %.1f ms | %.0f ms |\n", disconnect, oldDisconnect);
    for (int p = 101; p <= 103; ++p)
        std::filesystem::remove(dir + "/COM" + std::to_string(p));
}

void Sweep(const std::string& dir)
{
    PosixPlatform posix;
    SimBoardOptions oneByte;
    oneByte.ackBytes = 1;
    PtyHost board(dir, 110, &oneByte);
    BenchDlg dlg(posix);
    dlg.show();
    dlg.OnCommand(IDC_CONNECT);
    dlg.WaitForCamera();
    auto* slider = static_cast<QSlider*>(dlg.Control(IDC_BRIGHTNESS));
    slider->setValue(0);
    const auto t0 = Clock::now();
    int next = 0;
    Clock::time_point released;
    double stall = LongestStall(dlg, [&] {
        while (next <= 255) {
            const auto due = t0 + std::chrono::microseconds(1000000LL * next / 255);
            if (Clock::now() < due) {
                QApplication::processEvents(QEventLoop::AllEvents, 1);
                continue;
            }
            slider->setValue(next);
            dlg.OnHScroll(TB_THUMBTRACK, static_cast<unsigned>(next), IDC_BRIGHTNESS);
            ++next;
        }
        dlg.OnHScroll(TB_THUMBPOSITION, 255, IDC_BRIGHTNESS);
        released = Clock::now();
    });
    const auto frames = board.Brightness();
    double held = -1;
    for (const auto& [at, value] : frames)
        if (value == 255 && held < 0)
            held = MsBetween(released, at);
    std::printf("| sweep 0..255 in 1 s, 1-byte acknowledge | %zu frames sent; final position at the board "
                "%.0f ms after release; longest stall %.1f ms |\n",
                frames.size(), held, stall);
}

} // namespace

int main(int argc, char** argv)
{
    char dir[] = "/tmp/pelvar-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv("PELVAR_PORTS_DIR", dir, 1);
    // The remembered port goes to a settings file of the bench's own.
    setenv("XDG_CONFIG_HOME", dir, 1);
    QApplication app(argc, argv);
    std::printf("| Operation | longest stall, worker | the old way (window's thread) |\n|---|---|---|\n");
    Stalls(dir);
    Sweep(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
