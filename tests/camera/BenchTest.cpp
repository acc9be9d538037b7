// The bench's rules without a window: the menu's items in order with their
// check marks, the commands (fault switches by their own identifiers only),
// the reconnect switch kept by the window, the traffic rows' batches.
#include <gtest/gtest.h>

#include "camera/Bench.h"
#include "camera/CameraWorker.h"
#include "platform/SimPlatform.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

class FakeBenchView : public IBenchView {
public:
    std::string AskSavePath(const char*, BenchFile) override { return savePath; }
    std::string AskOpenPath(const char*, BenchFile) override { return {}; }
    void ShowTrafficPane(bool show) override { shown = show; }
    bool TrafficPaneShown() const override { return shown; }
    Adjustments SliderValues() override { return {}; }
    void MoveSliders(const Adjustments&) override {}
    void ShowBenchStatus(const std::string& text) override { statuses.push_back(text); }
    const std::deque<ExchangeRecord>& FlushedTraffic() override { return rows; }
    void StoreAutoReconnect(bool on) override { stored.push_back(on); }

    bool shown = false;
    std::string savePath; // empty: the dialog was cancelled
    std::vector<std::string> statuses;
    std::vector<bool> stored;
    std::deque<ExchangeRecord> rows;
};

class BenchTest : public ::testing::Test {
protected:
    SimPlatform sim;
    test::FakeView panel;
    CameraWorker worker{panel, sim, nullptr, nullptr, nullptr, CameraWorkerOptions{false}};
    FakeBenchView view;
    Bench bench{worker, view};
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
    EXPECT_EQ(texts,
              (std::vector<std::string>{"| Reconnect automatically", "| Traffic pane", "Save log...", "Save capture...",
                                        "Save settings...", "Load settings...", "Record session...",
                                        "Record pauses as sleep lines", "Silent >", "NAK >"}));
    EXPECT_EQ(ids, (std::vector<unsigned>{0x20, 0x30, 0x40, 0x90, 0x50, 0x60, 0x70, 0x80, 0x100, 0x110}));
    EXPECT_EQ(checked, (std::vector<bool>{true, true, false, false, false, false, false, false, false, true}));
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

} // namespace
} // namespace pelvar
