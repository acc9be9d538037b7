// The worker on the simulated clock, without its thread: the queue and the
// coalescing of slider positions, the status line, Connect reading the port
// list again with the remembered adapter first, unplugging and coming back.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "camera/CameraWorker.h"
#include "camera/ControlIds.h"
#include "camera/ViewRelay.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

using test::FakeView;

class MemoryStore : public IPortMemoryStore {
public:
    PortMemory Load() override { return memory; }
    void Save(const PortMemory& m) override { memory = m; }
    PortMemory memory;
};

PortListing Listing(int port, const std::string& serial = {})
{
    PortListing l;
    l.text = "Port (COM" + std::to_string(port) + ")";
    l.device.serial = serial;
    return l;
}

class WorkerTest : public ::testing::Test {
protected:
    // A new board behind `port`, or `device` (a board plugged back in).
    SimBoardDevice& Plug(int port, const std::string& serial = {}, SimBoardDevice* device = nullptr)
    {
        if (!device) {
            boards.push_back(std::make_unique<SimBoardDevice>());
            device = boards.back().get();
        }
        sim.AddPort(port, device);
        listed.push_back(Listing(port, serial));
        return *device;
    }

    void Unplug(int port)
    {
        sim.RemovePort(port);
        std::erase_if(listed, [&](const PortListing& l) { return l.text == Listing(port).text; });
    }

    void Run()
    {
        worker.RunQueued();
        worker.DrainUi();
    }

    // One look of the idle worker, `ms` after the last.
    void WatchAfter(std::uint32_t ms)
    {
        sim.Advance(ms);
        worker.Watch();
        worker.DrainUi();
    }

    // Connected on `port`, then the adapter pulled and noticed.
    void ConnectThenUnplug(int port, const std::string& serial)
    {
        Plug(port, serial);
        ConnectOk();
        Unplug(port);
        worker.Watch();
        worker.DrainUi();
        ASSERT_FALSE(worker.Camera().IsConnected());
    }

    void ConnectOk()
    {
        worker.Connect();
        Run();
        ASSERT_TRUE(worker.Camera().IsConnected());
    }

    // The values sent with `cmd` on `port`, in order.
    std::vector<int> Sent(int port, std::uint8_t cmd) const
    {
        std::vector<int> values;
        for (const SimWrite& w : sim.Writes(port))
            if (w.bytes.at(2) == cmd)
                values.push_back(w.bytes.at(3));
        return values;
    }

    SimPlatform sim;
    FakeView view;
    MemoryStore store;
    std::vector<PortListing> listed;
    std::vector<std::unique_ptr<SimBoardDevice>> boards;
    CameraWorker worker{view, sim, [this] { return listed; }, &store, nullptr, CameraWorkerOptions{false}};
};

// Each row: batches of positions that arrive while the worker is busy; the
// worker runs between batches. Only the latest of a batch goes out, never an
// older one after a newer, and the last position always.
struct CoalesceRow {
    const char* name;
    std::vector<std::vector<int>> batches;
    std::vector<int> sent;
};

class Coalescing : public WorkerTest, public ::testing::WithParamInterface<CoalesceRow> {};

TEST_P(Coalescing, SendsTheLatestPositionOfEachBatch)
{
    Plug(5);
    ConnectOk();
    sim.ClearWrites(5);
    for (const auto& batch : GetParam().batches) {
        for (int position : batch)
            worker.Slider(IDC_BRIGHTNESS, position);
        EXPECT_EQ(view.texts[IDC_BRIGHTNESS_VALUE], std::to_string(batch.back())) << "the box follows at once";
        Run();
    }
    EXPECT_EQ(Sent(5, CMD_BRIGHTNESS), GetParam().sent);
    EXPECT_EQ(boards[0]->Board().Adjust().brightness, GetParam().sent.back());
    EXPECT_EQ(worker.Camera().m_adjust.brightness, GetParam().sent.back());
}

INSTANTIATE_TEST_SUITE_P(Table, Coalescing,
                         ::testing::Values(CoalesceRow{"oneAtATime", {{1}, {2}, {3}}, {1, 2, 3}},
                                           CoalesceRow{"sweepWhileBusy", {{0}, {1, 2, 3, 4, 5}, {6, 255}}, {0, 5, 255}},
                                           CoalesceRow{"backAndForth", {{200, 10, 150}}, {150}},
                                           CoalesceRow{"sameValueAgain", {{7}, {7}}, {7, 7}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorkerTest, ButtonsAndRegistersKeepTheirOrderAndASliderKeepsItsPlace)
{
    Plug(5);
    ConnectOk();
    sim.ClearWrites(5);
    worker.Slider(IDC_RED, 10);
    worker.Button(IDC_EDGE);
    view.texts[IDC_REG_ADDRESS] = "10";
    view.texts[IDC_REG_CONTENT] = "beef";
    worker.RegisterWrite();
    view.texts[IDC_REG_ADDRESS] = "99"; // typed after the click: not used by it
    worker.Slider(IDC_RED, 20);
    worker.Button(IDC_GAMMA);
    Run();
    std::vector<std::uint8_t> cmds;
    for (const SimWrite& w : sim.Writes(5))
        cmds.push_back(w.bytes.at(2));
    EXPECT_EQ(cmds, (std::vector<std::uint8_t>{CMD_GAIN_RED, CMD_EDGE, CMD_REG_ADDRESS, CMD_REG_WRITE, CMD_GAMMA}));
    EXPECT_EQ(Sent(5, CMD_GAIN_RED), std::vector<int>{20});
    EXPECT_EQ(boards[0]->Board().Register(0x10), 0xBEEF);
    EXPECT_EQ(view.LastStatus(), "gamma: sent");
}

// The register view's calls: in order with the buttons, their outcome taken
// in by the window only when it drains.
TEST_F(WorkerTest, BoardWorkKeepsItsPlaceAndItsOutcomeWaitsForTheWindow)
{
    Plug(5);
    ConnectOk();
    sim.ClearWrites(5);
    bool done = false;
    worker.Button(IDC_EDGE);
    worker.RunOnBoard([](BoardConnection& board) { board.WriteRegister(0x10, 0x0001); }, [&] { done = true; });
    worker.Button(IDC_GAMMA);
    worker.RunQueued();
    std::vector<std::uint8_t> cmds;
    for (const SimWrite& w : sim.Writes(5))
        cmds.push_back(w.bytes.at(2));
    EXPECT_EQ(cmds, (std::vector<std::uint8_t>{CMD_EDGE, CMD_REG_ADDRESS, CMD_REG_WRITE, CMD_GAMMA}));
    EXPECT_FALSE(done);
    worker.DrainUi();
    EXPECT_TRUE(done);
}

TEST_F(WorkerTest, StatusLineSaysWhatHappened)
{
    worker.Connect();
    Run();
    EXPECT_EQ(view.LastStatus(), "No serial port found");
    EXPECT_EQ(view.states, (std::vector<std::pair<bool, bool>>{{false, false}, {true, false}}))
        << "Connect stays off while it runs, and comes back when nothing answered";

    sim.AddPort(3);
    listed.push_back(Listing(3));
    sim.AddPort(4);
    sim.FailOpen(4, EACCES);
    listed.push_back(Listing(4));
    sim.AddPort(7);
    listed.push_back(Listing(7));
    worker.Connect();
    Run();
    EXPECT_EQ(view.LastStatus(), "No board answered (tried COM3, COM7); COM4: permission denied (Permission denied); "
                                 "join the group 'dialout' (sudo usermod -aG dialout $USER) and log in again");

    SimBoardDevice& board = Plug(9);
    worker.Connect();
    Run();
    EXPECT_EQ(view.LastStatus(), "Connected on COM9: ARVEN-L");
    worker.Slider(IDC_BRIGHTNESS, 200);
    Run();
    EXPECT_EQ(view.LastStatus(), "brightness 200: sent");

    sim.FailRead(9, true);
    worker.Slider(IDC_BRIGHTNESS, 201);
    worker.Button(IDC_ARROW_UP);
    Run();
    EXPECT_EQ(view.LastStatus(), "up: no reply");
    EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), "brightness 201: no reply"), view.statuses.end());
    view.texts[IDC_REG_CONTENT] = "0x1234";
    worker.RegisterRead();
    Run();
    EXPECT_EQ(view.texts[IDC_REG_CONTENT], "") << "a failed read shows no value";
    EXPECT_EQ(view.LastStatus(), "read register 0x0000: no reply");
    sim.FailRead(9, false);
    worker.Disconnect();
    Run();
    EXPECT_EQ(view.LastStatus(), "Disconnected");
    EXPECT_EQ(board.Board().CommandCount(CMD_RELEASE), 1u);
}

TEST_F(WorkerTest, ConnectReadsThePortListAgainAndTriesTheRememberedAdapterFirst)
{
    worker.Connect();
    Run();
    EXPECT_FALSE(worker.Camera().IsConnected());
    sim.AddPort(2);
    listed.push_back(Listing(2));
    Plug(4, "FT1234"); // plugged in after the window opened
    worker.Connect();
    Run();
    ASSERT_TRUE(worker.Camera().IsConnected());
    EXPECT_EQ(view.portLists.back(), (std::vector<std::string>{"Port (COM2)", "Port (COM4)"}));
    EXPECT_EQ(store.memory.port, 4);
    EXPECT_EQ(store.memory.serial, "FT1234");
    EXPECT_EQ(sim.OpenCalls(2), 1);

    // The same adapter, re-enumerated as COM11, is tried before COM2.
    worker.Disconnect();
    Run();
    Unplug(4);
    Plug(11, "FT1234");
    worker.Connect();
    Run();
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "11");
    EXPECT_EQ(sim.OpenCalls(2), 1) << "no probe frame went to COM2";

    // The remembered adapter first, the others after it in the list's order.
    worker.Disconnect();
    Run();
    SimBoardOptions silent;
    silent.silent = true;
    boards.back()->Board().SetOptions(silent);
    sim.AddPort(3);
    listed.push_back(Listing(3));
    sim.AddPort(6);
    listed.push_back(Listing(6));
    worker.Connect();
    Run();
    EXPECT_EQ(view.LastStatus(), "No board answered (tried COM11, COM2, COM3, COM6)");
}

TEST_F(WorkerTest, UnplugDisconnectsAtOnceAndTheAdapterComingBackGetsTheAdjustments)
{
    Plug(5, "A1");
    ConnectOk();
    worker.Slider(IDC_BRIGHTNESS, 200);
    worker.Slider(IDC_BLUE, 3);
    Run();
    worker.Watch();
    EXPECT_TRUE(worker.Camera().IsConnected()) << "a present device is left alone";

    Unplug(5);
    worker.Watch();
    worker.DrainUi();
    EXPECT_FALSE(worker.Camera().IsConnected());
    EXPECT_EQ(view.LastStatus(), "Board unplugged: disconnected");
    EXPECT_EQ(view.LastState(), std::make_pair(true, false));
    EXPECT_TRUE(view.errors.empty()) << "no modal box";
    EXPECT_EQ(sim.OpenCount(), 0);

    sim.Advance(600);
    worker.Watch(); // not listed yet: nothing opened
    SimBoardDevice& back = Plug(6, "A1");
    // RS-485 mode switched on while unplugged is taken by the reconnection.
    sim.SetAdapter(6, SimAdapter{});
    worker.SetRs485(true);
    sim.Advance(499);
    worker.Watch();
    EXPECT_EQ(sim.OpenCalls(6), 0) << "looks again only every 500 ms";
    sim.Advance(1);
    worker.Watch();
    worker.DrainUi();
    ASSERT_TRUE(worker.Camera().IsConnected());
    EXPECT_EQ(back.Board().Adjust().brightness, 200);
    EXPECT_EQ(back.Board().Adjust().blue, 3);
    EXPECT_EQ(back.Board().Adjust().contrast, 128);
    EXPECT_EQ(view.LastStatus(), "Board back on COM6: reconnected, adjustments sent");
    EXPECT_EQ(view.LastState(), std::make_pair(false, true));
    EXPECT_TRUE(sim.Rs485(6));
}

TEST_F(WorkerTest, NoReconnectionWhenSwitchedOffOrAfterADisconnect)
{
    Plug(5);
    ConnectOk();
    worker.SetAutoReconnect(false);
    Unplug(5);
    worker.Watch();
    Plug(5);
    WatchAfter(1000);
    EXPECT_FALSE(worker.Camera().IsConnected());
    EXPECT_EQ(sim.OpenCalls(5), 0);

    // Unplugged, then the operator's Disconnect: the adapter coming back is
    // left alone.
    worker.SetAutoReconnect(true);
    Unplug(5);
    ConnectThenUnplug(6, "A1");
    worker.Disconnect();
    Run();
    Plug(6, "A1");
    WatchAfter(1000);
    EXPECT_FALSE(worker.Camera().IsConnected());
    EXPECT_EQ(sim.OpenCalls(6), 0) << "no frame after the operator's Disconnect";
}

// One look of the idle worker while the pulled adapter is awaited, and what
// it did.
struct Look {
    std::uint32_t afterMs;
    bool plugBack = false;                        // the adapter returns before this look
    bool healed = false;                          // its board answers normally from now on
    std::vector<std::pair<int, int>> moves = {};  // the operator's slider moves before the look
    int opens = -1;                               // open calls of the returning port so far; -1 unchecked
    std::optional<bool> connected = std::nullopt; // after the look
    const char* status = nullptr;                 // the status line after the look
    std::vector<std::pair<std::uint8_t, std::vector<int>>> sent = {}; // values sent in this look
    bool nothingSent = false;                                         // not a frame in this look
    bool released = false;                                            // the returning port is closed again
    const char* portText = nullptr;
};

// Connected on COM5 (adapter A1), the adapter pulled and noticed; then looks
// of the idle worker with the adapter coming back on another COM number.
// Other adapters (listed, with a board or not) are never probed.
struct ReturnRow {
    const char* scenario;
    std::vector<std::pair<int, int>> movedConnected;
    std::vector<std::pair<int, int>> movedUnplugged;
    int port;                                        // the COM number the adapter comes back on
    bool sameBoard;                                  // the pulled board itself, else a new one
    SimBoardOptions options;                         // how the returning board behaves until healed
    std::vector<std::pair<int, std::string>> others; // port, serial ("": no board behind it)
    std::vector<Look> looks;
    std::vector<std::pair<std::uint8_t, int>> adjusted; // the returning board's values at the end
};

void PrintTo(const ReturnRow& row, std::ostream* os) { *os << row.scenario; }

SimBoardOptions Silent()
{
    SimBoardOptions o;
    o.silent = true;
    return o;
}

SimBoardOptions Refusing()
{
    SimBoardOptions o;
    o.nak = true; // a new board's status stays 0; a started one still answers the probe and the poll
    return o;
}

class Reconnection : public WorkerTest, public ::testing::WithParamInterface<ReturnRow> {};

TEST_P(Reconnection, TheReturningAdapterIsLookedForAtTheCadence)
{
    const ReturnRow& row = GetParam();
    SCOPED_TRACE(row.scenario);
    SimBoardDevice& first = Plug(5, "A1");
    ConnectOk();
    for (const auto& [slider, position] : row.movedConnected)
        worker.Slider(slider, position);
    Run();
    Unplug(5);
    worker.Watch();
    worker.DrainUi();
    ASSERT_FALSE(worker.Camera().IsConnected());
    for (const auto& [slider, position] : row.movedUnplugged)
        worker.Slider(slider, position);
    Run();
    for (const auto& [port, serial] : row.others) {
        if (serial.empty()) {
            sim.AddPort(port);
            listed.push_back(Listing(port));
        } else {
            Plug(port, serial);
        }
    }

    SimBoardDevice* back = nullptr;
    for (std::size_t i = 0; i < row.looks.size(); ++i) {
        const Look& look = row.looks[i];
        SCOPED_TRACE("look " + std::to_string(i + 1));
        if (look.plugBack) {
            back = &Plug(row.port, "A1", row.sameBoard ? &first : nullptr);
            back->Board().SetOptions(row.options);
        }
        if (look.healed)
            back->Board().SetOptions({});
        for (const auto& [slider, position] : look.moves)
            worker.Slider(slider, position);
        Run();
        if (back)
            sim.ClearWrites(row.port);
        WatchAfter(look.afterMs);
        if (look.opens >= 0) {
            EXPECT_EQ(sim.OpenCalls(row.port), look.opens);
        }
        if (look.connected) {
            ASSERT_EQ(worker.Camera().IsConnected(), *look.connected);
        }
        if (look.status) {
            EXPECT_EQ(view.LastStatus(), look.status);
        }
        for (const auto& [cmd, values] : look.sent) {
            EXPECT_EQ(Sent(row.port, cmd), values) << int(cmd);
        }
        if (look.nothingSent) {
            EXPECT_TRUE(sim.Writes(row.port).empty());
        }
        if (look.released) {
            EXPECT_FALSE(sim.IsOpen(row.port));
        }
        if (look.portText) {
            EXPECT_EQ(view.texts[IDC_PORT_TEXT], look.portText);
        }
        for (const auto& other : row.others) {
            EXPECT_EQ(sim.OpenCalls(other.first), 0) << "COM" << other.first << " was probed";
        }
    }
    for (const auto& [cmd, value] : row.adjusted) {
        EXPECT_EQ(*back->Board().Adjust().For(cmd), value) << int(cmd);
    }
}

constexpr const char* kUnplugged = "Board unplugged: disconnected";
constexpr const char* kBack = "Board back on COM6: reconnected, adjustments sent";

INSTANTIATE_TEST_SUITE_P(
    WorkerTest, Reconnection,
    ::testing::Values(
        // Only the returning adapter is probed, every 500 ms, until its board answers.
        ReturnRow{"a silent board on the returning adapter",
                  {},
                  {},
                  6,
                  false,
                  Silent(),
                  {{3, ""}},
                  {Look{.afterMs = 500, .plugBack = true, .opens = 1},
                   Look{.afterMs = 499, .opens = 1}, // looks again only every 500 ms
                   Look{.afterMs = 1, .opens = 2, .status = kUnplugged, .released = true},
                   Look{.afterMs = 500, .healed = true, .connected = true, .status = kBack}},
                  {}},
        // A board that answers but refuses its start: said once, and no more looks.
        ReturnRow{"a returning board that does not start",
                  {},
                  {},
                  6,
                  false,
                  Refusing(),
                  {},
                  {Look{.afterMs = 500,
                        .plugBack = true,
                        .connected = false,
                        .status = "COM6: the board did not start (init error)"},
                   Look{.afterMs = 1000, .opens = 1}},
                  {}},
        ReturnRow{"another adapter appearing while reconnecting",
                  {},
                  {},
                  8,
                  false,
                  {},
                  {{7, "B2"}},
                  {Look{.afterMs = 500, .connected = false}, Look{.afterMs = 500, .connected = false},
                   Look{.afterMs = 500, .connected = false}, Look{.afterMs = 500, .connected = false},
                   Look{.afterMs = 500, .plugBack = true, .portText = "8"}},
                  {}},
        // The values moved while unplugged are those sent, each once.
        ReturnRow{"sliders moved while unplugged",
                  {},
                  {{IDC_BRIGHTNESS, 42}, {IDC_RED, 0}},
                  6,
                  false,
                  {},
                  {},
                  {Look{.afterMs = 500,
                        .plugBack = true,
                        .connected = true,
                        .sent = {{CMD_BRIGHTNESS, {42}}, {CMD_GAIN_RED, {0}}}}},
                  {{CMD_CONTRAST, 128}}},
        // The board is back but refuses the adjustments: the status says so,
        // and the next looks send those it still lacks, and only those.
        ReturnRow{"adjustments the returning board refused",
                  {{IDC_BRIGHTNESS, 200}},
                  {},
                  6,
                  true,
                  Refusing(),
                  {},
                  {Look{.afterMs = 500,
                        .plugBack = true,
                        .connected = true,
                        .status = "Board back on COM6: reconnected; brightness, contrast, red, green, blue not sent: "
                                  "refused by the board"},
                   Look{.afterMs = 499, .nothingSent = true}, // looks again only every 500 ms
                   // The operator's own move reaches the board; brightness had arrived.
                   Look{.afterMs = 1,
                        .healed = true,
                        .moves = {{IDC_BRIGHTNESS, 201}},
                        .status = kBack,
                        .sent = {{CMD_BRIGHTNESS, {}}, {CMD_GAIN_BLUE, {128}}}},
                   Look{.afterMs = 1000, .nothingSent = true}}, // nothing is left to send
                  {{CMD_BRIGHTNESS, 201}}}),
    [](const ::testing::TestParamInfo<ReturnRow>& info) {
        std::string name;
        for (const char* c = info.param.scenario; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// The threaded worker done with everything queued, within a bound generous
// for a loaded machine.
bool WaitIdle(const CameraWorker& worker)
{
    for (int i = 0; i < 2000 && !worker.Idle(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return worker.Idle();
}

// Device events instead of waiting for the next look: the port list is read
// again on each, the removal of the open adapter (by serial number, else by
// COM number) ends the connection, its return reconnects at the same
// instant of the simulated clock, and another adapter is never probed.
TEST_F(WorkerTest, DeviceEventsEndAndResumeTheConnectionWithoutWaitingForALook)
{
    Plug(5, "A1");
    ConnectOk();
    worker.Slider(IDC_RED, 9);
    Run();
    const std::size_t listsBefore = view.portLists.size();

    for (const DeviceNotice& other :
         {DeviceNotice{0, "B2"}, DeviceNotice{7, ""}, DeviceNotice{5, "B2"}, DeviceNotice{}})
        worker.DeviceChanged(DeviceChange::Removed, other);
    Run();
    EXPECT_TRUE(worker.Camera().IsConnected()) << "another adapter went";
    EXPECT_EQ(view.portLists.size(), listsBefore + 4) << "the list is read again on each event";

    Unplug(5);
    worker.DeviceChanged(DeviceChange::Removed, {0, "A1"});
    Run();
    EXPECT_FALSE(worker.Camera().IsConnected());
    EXPECT_EQ(view.LastStatus(), "Board unplugged: disconnected");
    EXPECT_EQ(view.portLists.back(), std::vector<std::string>{});

    Plug(8, "Z9");
    worker.DeviceChanged(DeviceChange::Arrived, {8, ""});
    Run();
    EXPECT_EQ(sim.OpenCalls(8), 0) << "an adapter that was not pulled is not probed";
    EXPECT_EQ(view.portLists.back(), std::vector<std::string>{"Port (COM8)"});

    const std::uint32_t before = sim.Now();
    SimBoardDevice& back = Plug(6, "A1");
    worker.DeviceChanged(DeviceChange::Arrived);
    Run();
    ASSERT_TRUE(worker.Camera().IsConnected());
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "6");
    EXPECT_EQ(back.Board().Adjust().red, 9);
    EXPECT_EQ(view.LastStatus(), "Board back on COM6: reconnected, adjustments sent");
    EXPECT_LT(sim.Now() - before, 500u) << "no period waited: only the exchanges' own time";
    EXPECT_EQ(sim.OpenCalls(8), 0);
}

TEST_F(WorkerTest, AnAdapterWithoutSerialIsKnownByItsComNumberAndTheSwitchHolds)
{
    Plug(5);
    ConnectOk();
    worker.DeviceChanged(DeviceChange::Removed, {0, "A1"});
    Run();
    EXPECT_TRUE(worker.Camera().IsConnected()) << "a serial number says nothing of an adapter without one";
    Unplug(5);
    worker.DeviceChanged(DeviceChange::Removed, {5, ""});
    Run();
    ASSERT_FALSE(worker.Camera().IsConnected());

    worker.SetAutoReconnect(false);
    Plug(5);
    worker.DeviceChanged(DeviceChange::Arrived, {5, ""});
    Run();
    EXPECT_EQ(sim.OpenCalls(5), 0) << "Reconnect automatically is off";
    worker.SetAutoReconnect(true);
    worker.DeviceChanged(DeviceChange::Arrived, {5, ""});
    Run();
    EXPECT_TRUE(worker.Camera().IsConnected());
}

// Discovery runs on the worker: the window gets the list when it is read,
// and a Connect queued meanwhile runs after it.
TEST_F(WorkerTest, PortListIsFilledByTheWorkerBeforeAQueuedConnect)
{
    Plug(3);
    worker.FillPortList();
    worker.Connect();
    EXPECT_TRUE(view.portLists.empty());
    Run();
    ASSERT_GE(view.portLists.size(), 1u);
    EXPECT_EQ(view.portLists.front(), std::vector<std::string>{"Port (COM3)"});
    EXPECT_TRUE(worker.Camera().IsConnected());
}

// A modal box runs its own event loop, which drains again: the calls after
// the box must wait until it is closed.
class ModalView : public FakeView {
public:
    CameraWorker* worker = nullptr;
    std::size_t statesWhileOpen = 0;
    void ShowError(const std::string& text, const std::string& caption) override
    {
        FakeView::ShowError(text, caption);
        worker->DrainUi();
        statesWhileOpen = states.size();
    }
};

// A window flooded with view calls takes them in portions, in order, and
// is told whether more wait, so it can answer its other messages between.
TEST(ViewRelayDrain, AppliesAtMostAPortionAndSaysWhatRemains)
{
    ViewRelay relay([] {});
    for (const char* text : {"a", "b", "c", "d", "e"})
        relay.SetStatusText(text);
    FakeView view;
    EXPECT_TRUE(relay.Drain(view, 2));
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(relay.Drain(view, 2));
    EXPECT_FALSE(relay.Drain(view, 2));
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_FALSE(relay.Drain(view));
}

TEST(WorkerThread, RunsOperationsInOrderAndKeepsTheModalBoxBeforeTheStates)
{
    SimPlatform sim;
    SimBoardOptions options;
    options.dropEvery = 5; // probe, init, poll, blue gain answered; the fifth frame not
    SimBoardDevice board(options);
    sim.AddPort(5, &board);
    ModalView view;
    std::vector<PortListing> listed{Listing(5)};
    {
        CameraWorker worker(
            view, sim, [&] { return listed; }, nullptr, [] {});
        view.worker = &worker;
        worker.Connect();
        worker.Disconnect();
        ASSERT_TRUE(WaitIdle(worker));
        worker.DrainUi();
        ASSERT_EQ(view.errors, std::vector<std::string>{"Error: No reply from camera."});
        EXPECT_EQ(view.states.size(), view.statesWhileOpen + 2) << "(false, false) and (true, false) after the box";
        EXPECT_EQ(view.LastState(), std::make_pair(true, false));
    }
    EXPECT_FALSE(sim.IsOpen(5));
}

// The worker on its own thread, and this thread changing the port list
// (under a lock, as the machine's list is read afresh).
class WorkerThreadTest : public ::testing::Test {
protected:
    WorkerThreadTest() { sim.AddPort(5, &board); }

    void List(std::vector<PortListing> ports)
    {
        std::lock_guard<std::mutex> lock(listMutex);
        listed = std::move(ports);
    }

    PortLister Lister()
    {
        return [this] {
            std::lock_guard<std::mutex> lock(listMutex);
            return listed;
        };
    }

    SimPlatform sim;
    SimBoardDevice board;
    FakeView view;
    std::mutex listMutex;
    std::vector<PortListing> listed{Listing(5, "A1")};
};

// The worker's own looks while this thread pulls the adapter, plugs it back
// and moves the simulated clock: the platform is used from both threads at
// once (scripts/run-tsan-tests.sh checks it).
TEST_F(WorkerThreadTest, UnplugAndReturnAreNoticedByTheWorkersOwnLooks)
{
    CameraWorker worker(view, sim, Lister(), nullptr, [] {});
    // Waits for the status line, moving the virtual clock as it waits.
    const auto waitForStatus = [&](const std::string& text) {
        for (int i = 0; i < 2000 && view.LastStatus() != text; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            sim.Advance(50);
            worker.DrainUi();
        }
        return view.LastStatus();
    };
    worker.Connect();
    worker.Slider(IDC_GREEN, 7);
    ASSERT_EQ(waitForStatus("green 7: sent"), "green 7: sent");

    List({});
    sim.RemovePort(5);
    ASSERT_EQ(waitForStatus("Board unplugged: disconnected"), "Board unplugged: disconnected");
    List({Listing(6, "A1")});
    sim.AddPort(6, &board);
    EXPECT_EQ(waitForStatus("Board back on COM6: reconnected, adjustments sent"),
              "Board back on COM6: reconnected, adjustments sent");
    EXPECT_TRUE(sim.IsOpen(6));
}

TEST_F(WorkerThreadTest, ClosingWhileConnectedReleasesThePort)
{
    {
        CameraWorker worker(view, sim, Lister(), nullptr, [] {});
        worker.Connect();
        worker.Slider(IDC_RED, 9);
        ASSERT_TRUE(WaitIdle(worker));
        worker.DrainUi();
        ASSERT_EQ(view.LastStatus(), "red 9: sent");
        EXPECT_TRUE(sim.IsOpen(5));
    }
    EXPECT_FALSE(sim.IsOpen(5)) << "the worker's end released the port";
    EXPECT_EQ(board.Board().CommandCount(CMD_RELEASE), 0u) << "closing is no Disconnect";
}

// A lister that owns its state, as the machine's does, reading on a thread
// of its own: the list reaches the window and a queued Connect uses it.
TEST_F(WorkerThreadTest, AListerOnItsOwnThreadFillsTheListBeforeAQueuedConnect)
{
    CameraWorkerOptions options;
    options.listerOwnsItsState = true;
    CameraWorker worker(
        view, sim, [] { return std::vector<PortListing>{Listing(5, "A1")}; }, nullptr, [] {}, options);
    worker.FillPortList();
    worker.Connect();
    ASSERT_TRUE(WaitIdle(worker));
    worker.DrainUi();
    ASSERT_GE(view.portLists.size(), 1u);
    EXPECT_EQ(view.portLists.front(), std::vector<std::string>{"Port (COM5)"});
    EXPECT_TRUE(worker.Camera().IsConnected());
}

// Discovery that hangs (WMI may take seconds) must not hold up closing:
// the reading is left to end by itself, and what it writes into outlives
// the worker.
TEST(WorkerThread, ClosingDoesNotWaitForAPortListReadingInFlight)
{
    struct Reading {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false;
        bool released = false;
        bool returned = false;
        bool closed = false;
        bool closedWhileBlocked = false;
    };
    auto reading = std::make_shared<Reading>();
    SimPlatform sim;
    FakeView view;
    CameraWorkerOptions options;
    options.listerOwnsItsState = true;
    auto worker = std::make_unique<CameraWorker>(
        view, sim,
        [reading] {
            std::unique_lock<std::mutex> lock(reading->mutex);
            reading->entered = true;
            reading->changed.notify_all();
            reading->changed.wait(lock, [&] { return reading->released; });
            reading->returned = true;
            reading->changed.notify_all();
            return std::vector<PortListing>{Listing(3)};
        },
        nullptr, [] {}, options);
    worker->FillPortList();
    std::unique_lock<std::mutex> lock(reading->mutex);
    reading->changed.wait(lock, [&] { return reading->entered; });
    lock.unlock();

    std::thread closer([&] {
        worker.reset();
        std::lock_guard<std::mutex> guard(reading->mutex);
        reading->closedWhileBlocked = !reading->released;
        reading->closed = true;
        reading->changed.notify_all();
    });
    lock.lock();
    // A close that waits for the reading would wait for ever: after a long
    // while the reading is let go, and the order shows what happened.
    reading->changed.wait_for(lock, std::chrono::seconds(30), [&] { return reading->closed; });
    reading->released = true;
    reading->changed.notify_all();
    lock.unlock();
    closer.join();
    lock.lock();
    EXPECT_TRUE(reading->closedWhileBlocked) << "closing waited for the port list reading";
    reading->changed.wait(lock, [&] { return reading->returned; });
}

} // namespace
} // namespace pelvar
