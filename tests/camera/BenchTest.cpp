// The bench's rules without a window: the menu's items in order with their
// check marks, the commands (fault switches by their own identifiers only),
// the reconnect switch kept by the window, the traffic rows' batches, and
// the files: the saved log, the capture and the settings, on the worker
// without its thread against a simulated board.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "camera/Bench.h"
#include "camera/CameraWorker.h"
#include "camera/ControlIds.h"
#include "camera/Preset.h"
#include "platform/SimPlatform.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"
#include "tests/support/FileLines.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar {
namespace {

using test::FileLines;

class FakeBenchView : public IBenchView {
public:
    std::string AskSavePath(const char*, BenchFile) override { return savePath; }
    std::string AskOpenPath(const char*, BenchFile) override { return {}; }
    void ShowTrafficPane(bool show) override { shown = show; }
    bool TrafficPaneShown() const override { return shown; }
    void ShowRegisterView(bool show) override { registersShown = show; }
    bool RegisterViewShown() const override { return registersShown; }
    bool HasPlot() const override { return true; }
    void ShowPlot(bool show) override { plotShown = show; }
    bool PlotShown() const override { return plotShown; }
    Adjustments SliderValues() override { return sliders; }
    void MoveSliders(const Adjustments& values) override { moved.push_back(values); }
    void ShowBenchStatus(const std::string& text) override { statuses.push_back(text); }
    const std::deque<ExchangeRecord>& FlushedTraffic() override { return rows; }
    void StoreAutoReconnect(bool on) override { stored.push_back(on); }

    bool shown = false;
    bool registersShown = false;
    bool plotShown = false;
    std::string savePath; // empty: the dialog was cancelled
    std::vector<std::string> statuses;
    std::vector<bool> stored;
    std::deque<ExchangeRecord> rows;
    Adjustments sliders;
    std::vector<Adjustments> moved;
};

class BenchTest : public ::testing::Test {
protected:
    BenchTest()
    {
        sim.AddPort(5, &board);
        worker.SetExchangeSink([this](const ExchangeRecord& r) { view.rows.push_back(r); });
    }

    void Run()
    {
        worker.RunQueued();
        worker.DrainUi();
    }

    // Connected, then 0xbeef written to register 0x0010.
    void ConnectAndWrite()
    {
        worker.Connect();
        Run();
        ASSERT_TRUE(worker.Camera().IsConnected());
        panel.texts[IDC_REG_ADDRESS] = "0x0010";
        panel.texts[IDC_REG_CONTENT] = "0xbeef";
        worker.RegisterWrite();
        Run();
    }

    SimPlatform sim;
    SimBoardDevice board;
    test::FakeView panel;
    CameraWorker worker{panel,   sim,     [] { return std::vector<PortListing>{{"Board (COM5)", {}}}; },
                        nullptr, nullptr, CameraWorkerOptions{false}};
    FakeBenchView view;
    Bench bench{worker, view};
    test::TempDir dir;
};

TEST_F(BenchTest, MenuItemsInOrderWithTheirChecksAndTheFaultsInTheSubmenu)
{
    bool nak = true;
    bench.SetFaultSwitches(
        {{"Silent", [] { return false; }, [](bool) {}}, {"NAK", [&] { return nak; }, [&](bool on) { nak = on; }}});
    view.shown = true;
    std::vector<std::string> texts;
    std::vector<unsigned> ids;
    std::vector<bool> checked;
    for (const BenchMenuItem& item : bench.MenuItems()) {
        texts.push_back((item.separatorBefore ? "| " : "") + item.text + (item.submenu ? " >" : ""));
        ids.push_back(item.id);
        checked.push_back(item.checked);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"| Reconnect automatically", "RS-485 mode", "| Traffic pane",
                                               "Register view", "Plot", "Save log...", "Save capture...",
                                               "Save settings...", "Load settings...", "Record session...",
                                               "Record pauses as sleep lines", "Silent >", "NAK >"}));
    EXPECT_EQ(ids,
              (std::vector<unsigned>{0x20, 0xA0, 0x30, 0xB0, 0xC0, 0x40, 0x90, 0x50, 0x60, 0x70, 0x80, 0x100, 0x110}));
    EXPECT_EQ(checked, (std::vector<bool>{true, false, true, false, false, false, false, false, false, false, false,
                                          false, true}));
    // Plot opens the plot and is checked while it shows.
    EXPECT_TRUE(bench.OnCommand(0xC0));
    EXPECT_TRUE(view.plotShown);
    EXPECT_TRUE(bench.MenuItems()[4].checked);
}

TEST_F(BenchTest, CommandsSwitchAndSayWhatTheyDid)
{
    bool nak = false;
    bench.SetFaultSwitches(
        {{"Silent", [] { return false; }, [](bool) {}}, {"NAK", [&] { return nak; }, [&](bool on) { nak = on; }}});
    // A system command's low four bits are the window system's: 0x111 is no switch.
    EXPECT_FALSE(bench.OnCommand(0x111));
    EXPECT_FALSE(bench.OnCommand(0x120)) << "no third switch";
    EXPECT_FALSE(nak);
    EXPECT_TRUE(bench.OnCommand(0x110));
    EXPECT_TRUE(nak);
    EXPECT_EQ(view.statuses.back(), "Simulated board: NAK on");

    EXPECT_TRUE(bench.OnCommand(IDM_AUTO_RECONNECT));
    EXPECT_FALSE(worker.AutoReconnect());
    EXPECT_EQ(view.stored, std::vector<bool>{false});
    EXPECT_TRUE(bench.OnCommand(IDM_TRAFFIC_PANE));
    EXPECT_TRUE(view.shown);
    EXPECT_TRUE(bench.OnCommand(IDM_RECORD_PAUSES));
    EXPECT_TRUE(bench.RecordPauses());
    // A file dialog that was cancelled does nothing.
    EXPECT_TRUE(bench.OnCommand(IDM_SAVE_LOG));
    EXPECT_EQ(view.statuses.size(), 1u);
    EXPECT_FALSE(bench.OnCommand(0x10)) << "the about item is the window's";
}

// The switch reaches the port at the next Connect; the open port keeps its mode.
TEST_F(BenchTest, Rs485ModeIsTakenAtTheNextConnect)
{
    sim.SetAdapter(5, SimAdapter{});
    worker.Connect();
    Run();
    ASSERT_TRUE(worker.Camera().IsConnected());
    EXPECT_FALSE(sim.Rs485(5));

    EXPECT_TRUE(bench.OnCommand(IDM_RS485));
    EXPECT_EQ(view.statuses.back(), "RS-485 mode on from the next Connect");
    EXPECT_FALSE(sim.Rs485(5));
    worker.Disconnect();
    worker.Connect();
    Run();
    ASSERT_TRUE(worker.Camera().IsConnected());
    EXPECT_TRUE(sim.Rs485(5));
    EXPECT_EQ(sim.Rs485Applied(5).delayAfterSendMs, 2u);

    EXPECT_TRUE(bench.OnCommand(IDM_RS485));
    EXPECT_EQ(view.statuses.back(), "RS-485 mode off from the next Connect");
    worker.Disconnect();
    worker.Connect();
    Run();
    ASSERT_TRUE(worker.Camera().IsConnected());
    EXPECT_FALSE(sim.Rs485(5));
}

TEST(TrafficRows, OneWakeUpPerBatchAndTheNewestRowsUpToTheLimit)
{
    TrafficRows rows(3);
    ExchangeRecord r;
    EXPECT_TRUE(rows.Post(r));
    EXPECT_FALSE(rows.Post(r)) << "the batch already woke the window";
    EXPECT_EQ(rows.TakePending().size(), 2u);
    r.atMs = 7;
    EXPECT_TRUE(rows.Post(r));
    std::vector<ExchangeRecord> batch;
    for (std::uint32_t n = 10; n < 12; ++n) {
        r.atMs = n;
        batch.push_back(r);
    }
    rows.Append(rows.TakePending());
    EXPECT_EQ(rows.DroppedBy(std::vector<ExchangeRecord>(2)), 0u);
    rows.Append(batch);
    ASSERT_EQ(rows.Records().size(), 3u);
    EXPECT_EQ(rows.Records().front().atMs, 7u);
    EXPECT_EQ(rows.DroppedBy(std::vector<ExchangeRecord>(5)), 3u) << "never more than it holds";
}

TEST(TrafficRows, TenThousandRowsKeptOfTenThousandAndOne)
{
    TrafficRows rows;
    ExchangeRecord r;
    for (std::uint32_t n = 0; n < 10001; ++n) {
        r.atMs = n;
        rows.Post(r);
    }
    rows.Append(rows.TakePending());
    ASSERT_EQ(rows.Records().size(), 10000u);
    EXPECT_EQ(rows.Records().front().atMs, 1u);
    EXPECT_EQ(rows.Records().back().atMs, 10000u);
}

// Records that each hold a lot (a flooding line) stop at 8 MiB, far below
// the row limit; the newest stay.
TEST(TrafficRows, LargeRecordsAreBoundedInBytes)
{
    TrafficRows rows;
    ExchangeRecord r;
    r.frames = {{false, std::vector<std::uint8_t>(4000, 0xFF)}};
    for (std::uint32_t n = 0; n < 3000; ++n) {
        r.atMs = n;
        rows.Post(r);
        if (n % 100 == 99)
            rows.Append(rows.TakePending());
    }
    // Each record holds over 4000 bytes and under 5000 with its bookkeeping.
    EXPECT_LE(rows.Records().size(), 8388608u / 4000);
    EXPECT_GE(rows.Records().size(), 8388608u / 5000);
    EXPECT_EQ(rows.Records().back().atMs, 2999u);
    // One batch over the limits alone keeps its own newest.
    r.atMs = 5000;
    std::vector<ExchangeRecord> batch(3000, r);
    rows.Append(batch);
    EXPECT_LE(rows.Records().size(), 8388608u / 4000);
    EXPECT_EQ(rows.Records().front().atMs, 5000u);
}

TEST_F(BenchTest, ALogThatCannotBeWrittenIsNotReportedSaved)
{
    view.rows.push_back(ExchangeRecord{});
    view.savePath = "/dev/full"; // every write fails with ENOSPC, but only at the flush
    EXPECT_TRUE(bench.OnCommand(IDM_SAVE_LOG));
    ASSERT_EQ(view.statuses.size(), 1u);
    EXPECT_EQ(view.statuses[0], "Cannot save the log: /dev/full");
}

TEST_F(BenchTest, SavedLogHasOneDecodedLineForEachExchangeOfThePane)
{
    ConnectAndWrite();
    const std::string path = dir.Path() + "/session.log";
    view.savePath = path;
    EXPECT_TRUE(bench.OnCommand(IDM_SAVE_LOG));
    EXPECT_EQ(view.statuses, std::vector<std::string>{"Log saved: 6 exchanges"});
    // Times on the simulated clock: 2 ms a query, 12 ms a transaction (its
    // 10 ms pause before sending included).
    const std::vector<std::string> expected = {
        "      0 ms  status        status 0x00: not started        LINK_OK                  1 attempt       2 ms  "
        "> 02 02 00 00 03  < 02 03 00 00 01 03",
        "      2 ms  init          init                            LINK_OK                  1 attempt      12 ms  "
        "> 02 02 70 70 03  < 02 06 70 06 00 00 00 72 03",
        "     14 ms  status        status 0x11: active, ARVEN-L    LINK_OK                  1 attempt       2 ms  "
        "> 02 02 00 00 03  < 02 03 00 11 10 03",
        "     16 ms  gain_blue     blue 128                        LINK_OK                  1 attempt      12 ms  "
        "> 02 06 95 80 00 00 00 11 03  < 02 06 95 06 00 00 00 97 03",
        "     28 ms  reg_address   reg address 0x0010              LINK_OK                  1 attempt      12 ms  "
        "> 02 04 A5 10 00 B3 03  < 02 06 A5 06 00 00 00 A7 03",
        "     40 ms  reg_write     reg 0x0010 = 0xbeef             LINK_OK                  1 attempt      12 ms  "
        "> 02 04 A4 EF BE F3 03  < 02 06 A4 06 00 00 00 A6 03",
    };
    EXPECT_EQ(FileLines(path), expected);

    std::string error;
    EXPECT_FALSE(bench.SaveLog(dir.Path() + "/no/such.log", &error));
    EXPECT_EQ(error, "Cannot save the log: " + dir.Path() + "/no/such.log");
}

// pcapng blocks as the file holds them: type, then the body. A file that
// does not end with a whole block fails the test.
std::vector<std::pair<std::uint32_t, std::string>> PcapngBlocks(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
        return v;
    };
    std::vector<std::pair<std::uint32_t, std::string>> blocks;
    std::size_t at = 0;
    while (at + 12 <= data.size()) {
        const std::uint32_t length = u32(at + 4);
        if (length < 12 || length % 4 != 0 || at + length > data.size() || u32(at + length - 4) != length)
            break;
        blocks.emplace_back(u32(at), data.substr(at + 8, length - 12));
        at += length;
    }
    EXPECT_EQ(at, data.size()) << "a bad block at byte " << at;
    return blocks;
}

TEST_F(BenchTest, CaptureHoldsThePanesFramesForWireshark)
{
    ConnectAndWrite();
    const std::string capture = dir.Path() + "/session.pcapng";
    view.savePath = capture;
    EXPECT_TRUE(bench.OnCommand(IDM_SAVE_CAPTURE));
    EXPECT_EQ(view.statuses, std::vector<std::string>{"Capture saved: 6 exchanges"});
    const auto blocks = PcapngBlocks(capture);
    ASSERT_EQ(blocks.size(), 2u + 12u); // section, interface, and both frames of the six exchanges
    EXPECT_EQ(blocks[0].first, 0x0A0D0D0Au);
    EXPECT_EQ(blocks[0].second.substr(0, 4), std::string("\x4D\x3C\x2B\x1A"));
    EXPECT_EQ(blocks[1].first, 1u);
    EXPECT_EQ(blocks[1].second.substr(0, 2), std::string("\x93\x00", 2)); // DLT_USER0
    // Each packet: interface, time (2 words), captured and original length,
    // the frame padded to 32 bits, then the direction flag (1 in, 2 out).
    std::vector<std::pair<std::string, int>> packets;
    for (std::size_t i = 2; i < blocks.size(); ++i) {
        const std::string& b = blocks[i].second;
        EXPECT_EQ(blocks[i].first, 6u);
        const auto length = static_cast<std::size_t>(static_cast<unsigned char>(b[12]));
        const std::size_t flags = 20 + (length + 3) / 4 * 4 + 4;
        packets.emplace_back(b.substr(20, length), b[flags]);
    }
    EXPECT_EQ(packets.front(), std::make_pair(std::string("\x02\x02\x00\x00\x03", 5), 2));
    EXPECT_EQ(packets[1].second, 1);
    EXPECT_EQ(packets[packets.size() - 2], std::make_pair(std::string("\x02\x04\xA4\xEF\xBE\xF3\x03", 7), 2));
    EXPECT_EQ(packets.back(), std::make_pair(std::string("\x02\x06\xA4\x06\x00\x00\x00\xA6\x03", 9), 1));

    std::string error;
    EXPECT_FALSE(bench.SaveCapture(dir.Path() + "/no/such.pcapng", &error));
    EXPECT_EQ(error, "Cannot save the capture: " + dir.Path() + "/no/such.pcapng: absent (No such file or directory)");
}

TEST_F(BenchTest, SettingsRoundTripAndLoadingSendsEachAdjustmentOnce)
{
    view.sliders.green = 42;
    const std::string saved = dir.Path() + "/saved.json";
    std::string error;
    ASSERT_TRUE(bench.SaveSettings(saved, &error)) << error;
    Preset preset;
    ASSERT_TRUE(LoadPreset(saved, &preset, &error)) << error;
    EXPECT_EQ(preset.adjust.green, 42);
    EXPECT_EQ(preset.adjust.red, 128);

    // Disconnected: the sliders move, nothing is sent.
    preset.adjust.brightness = 200;
    preset.adjust.blue = 7;
    const std::string other = dir.Path() + "/other.json";
    ASSERT_TRUE(SavePreset(other, preset, &error)) << error;
    ASSERT_TRUE(bench.LoadSettings(other, &error)) << error;
    Run();
    ASSERT_EQ(view.moved.size(), 1u);
    EXPECT_EQ(view.moved[0].brightness, 200);
    EXPECT_EQ(view.moved[0].green, 42);
    EXPECT_EQ(view.moved[0].blue, 7);
    EXPECT_EQ(panel.texts[IDC_BLUE_VALUE], "7");
    EXPECT_EQ(board.Board().CommandCount(CMD_BRIGHTNESS), 0u);

    worker.Connect();
    Run();
    ASSERT_TRUE(worker.Camera().IsConnected());
    const std::uint32_t blueAtConnect = board.Board().CommandCount(CMD_GAIN_BLUE);
    ASSERT_TRUE(bench.LoadSettings(other, &error)) << error;
    Run();
    for (std::uint8_t cmd : {CMD_BRIGHTNESS, CMD_CONTRAST, CMD_GAIN_RED, CMD_GAIN_GREEN})
        EXPECT_EQ(board.Board().CommandCount(cmd), 1u) << int(cmd);
    EXPECT_EQ(board.Board().CommandCount(CMD_GAIN_BLUE), blueAtConnect + 1);
    EXPECT_EQ(board.Board().Adjust().brightness, 200);
    EXPECT_EQ(board.Board().Adjust().green, 42);
    EXPECT_EQ(board.Board().Adjust().blue, 7);

    EXPECT_FALSE(bench.LoadSettings(dir.Path() + "/missing.json", &error));
    EXPECT_EQ(error.rfind(dir.Path() + "/missing.json", 0), 0u) << error;
    EXPECT_EQ(view.moved.size(), 2u) << "a file that cannot be read moves nothing";
}

} // namespace
} // namespace pelvar
