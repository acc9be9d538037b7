#include <gtest/gtest.h>

#include "camera/CameraController.h"
#include "camera/Commands.h"
#include "camera/RegisterView.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"

namespace pelvar {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kMap = R"({"registers": [
  {"name": "CTRL", "address": "0x0012", "reset": "0x0000", "fields": [
    {"name": "MODE", "lsb": 4, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3}},
    {"name": "EN", "lsb": 0, "width": 1}]},
  {"name": "IRQ", "address": "0x0020", "access": "rc"},
  {"name": "GAIN", "address": "0x0030", "reset": "0x0004"},
  {"name": "ID", "address": "0x0040", "access": "ro"}
]})";

constexpr std::size_t kCtrl = 0, kIrq = 1, kGain = 2, kId = 3;
constexpr int kMode = 0, kEn = 1, kRegister = -1;

// The view on a connected simulated board; the worker's part runs at once.
class RegisterViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.AddPort(8, &board);
        view.ports.push_back("Board COM8 (COM8)");
        cam.OnConnect();
        ASSERT_TRUE(cam.IsConnected());
        RegisterMap map;
        std::string error;
        ASSERT_TRUE(ParseRegisterMap(kMap, "test.json", &map, &error)) << error;
        model.SetMap(std::move(map));
        ASSERT_EQ(cam.Board().WriteRegister(0x12, 0x0021), LINK_OK);
        ASSERT_EQ(cam.Board().WriteRegister(0x20, 0x0001), LINK_OK);
        ASSERT_EQ(cam.Board().WriteRegister(0x30, 0x0004), LINK_OK);
        sim.ClearWrites(8);
    }

    // The frames that chose a register (CMD_REG_ADDRESS) or wrote one (CMD_REG_WRITE).
    std::vector<Bytes> Sent(std::uint8_t cmd) const
    {
        std::vector<Bytes> out;
        for (const SimWrite& w : sim.Writes(8))
            if (w.bytes.size() > 2 && w.bytes[2] == cmd)
                out.push_back(w.bytes);
        return out;
    }

    SimPlatform sim;
    SimBoardDevice board;
    test::FakeView view;
    CameraController cam{view, sim};
    std::vector<std::string> statuses;
    RegisterViewModel model{[this](RegisterBoardWork work, std::function<void()> done, std::string) {
                                work(cam.Board());
                                done();
                            },
                            [this](const std::string& s) { statuses.push_back(s); }};
};

TEST_F(RegisterViewTest, TreeFilledFromTheMapWithEachRowsEditor)
{
    ASSERT_EQ(model.RegisterCount(), 4u);
    EXPECT_EQ(model.FieldCount(kCtrl), 2u);
    EXPECT_EQ(model.FieldCount(kGain), 0u);
    struct Row {
        std::size_t reg;
        int field;
        const char* name;
        const char* address;
        const char* access;
        RegisterEditor raw;
        RegisterEditor decoded;
    };
    const Row rows[] = {
        {kCtrl, kRegister, "CTRL", "0x0012", "rw", RegisterEditor::Hex, RegisterEditor::None},
        {kCtrl, kMode, "MODE", "[5:4]", "rw", RegisterEditor::Hex, RegisterEditor::Names},
        {kCtrl, kEn, "EN", "[0]", "rw", RegisterEditor::Hex, RegisterEditor::None},
        {kIrq, kRegister, "IRQ", "0x0020", "rc", RegisterEditor::Hex, RegisterEditor::None},
        {kGain, kRegister, "GAIN", "0x0030", "rw", RegisterEditor::Hex, RegisterEditor::None},
        {kId, kRegister, "ID", "0x0040", "ro", RegisterEditor::None, RegisterEditor::None},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(model.CellText(r.reg, r.field, kRegViewName), r.name);
        EXPECT_EQ(model.CellText(r.reg, r.field, kRegViewAddress), r.address) << r.name;
        EXPECT_EQ(model.CellText(r.reg, r.field, kRegViewAccess), r.access) << r.name;
        EXPECT_EQ(model.EditorFor(r.reg, r.field, kRegViewRaw), r.raw) << r.name;
        EXPECT_EQ(model.EditorFor(r.reg, r.field, kRegViewDecoded), r.decoded) << r.name;
    }
    EXPECT_EQ(model.ValueNames(kCtrl, kMode), (std::vector<std::string>{"off", "continuous", "single"}));

    RegisterViewModel empty{nullptr, nullptr};
    EXPECT_FALSE(empty.HasMap());
    EXPECT_NE(empty.NoMapText().find("\"Load map...\""), std::string::npos) << empty.NoMapText();
}

TEST_F(RegisterViewTest, RefreshReadsAllButTheReadClearingRegister)
{
    model.Refresh();
    // CTRL, GAIN, ID chosen in turn; IRQ (0x0020, rc) never.
    EXPECT_EQ(Sent(CMD_REG_ADDRESS), (std::vector<Bytes>{{0x02, 0x04, 0xA5, 0x12, 0x00, 0xB1, 0x03},
                                                         {0x02, 0x04, 0xA5, 0x30, 0x00, 0x93, 0x03},
                                                         {0x02, 0x04, 0xA5, 0x40, 0x00, 0xE3, 0x03}}));
    EXPECT_EQ(board.Board().Register(0x20), 0x0001);
    EXPECT_EQ(model.CellText(kCtrl, kRegister, kRegViewRaw), "0x0021");
    EXPECT_EQ(model.CellText(kCtrl, kRegister, kRegViewDecoded), "MODE=continuous(2) EN=1");
    EXPECT_EQ(model.CellText(kCtrl, kMode, kRegViewDecoded), "continuous(2)");
    EXPECT_EQ(model.CellText(kIrq, kRegister, kRegViewRaw), "not read (rc)");
    EXPECT_EQ(statuses.back(), "Refreshed 3 registers");
}

TEST_F(RegisterViewTest, FieldEditedByNameWritesTheRegisterWithTheOtherBitsKept)
{
    model.Refresh();
    EXPECT_EQ(model.EditText(kCtrl, kMode, kRegViewDecoded), "continuous");
    sim.ClearWrites(8);
    std::string error;
    ASSERT_TRUE(model.Edit(kCtrl, kMode, "single", &error)) << error;
    // 0x0021 with MODE (bits 5:4) = 3: 0x0031.
    EXPECT_EQ(Sent(CMD_REG_WRITE), (std::vector<Bytes>{{0x02, 0x04, 0xA4, 0x31, 0x00, 0x93, 0x03}}));
    EXPECT_EQ(model.CellText(kCtrl, kMode, kRegViewDecoded), "single(3)");

    // Refused before anything is sent: an unknown name, a value too wide, a read-only register.
    sim.ClearWrites(8);
    EXPECT_FALSE(model.Edit(kCtrl, kMode, "burst", &error));
    EXPECT_FALSE(model.Edit(kCtrl, kEn, "2", &error));
    EXPECT_FALSE(model.Edit(kId, kRegister, "0x1", &error));
    EXPECT_TRUE(sim.Writes(8).empty());

    ASSERT_TRUE(model.Edit(kGain, kRegister, "0x00ff", &error)) << error;
    EXPECT_EQ(Sent(CMD_REG_WRITE), (std::vector<Bytes>{{0x02, 0x04, 0xA4, 0xFF, 0x00, 0x5D, 0x03}}));
}

TEST_F(RegisterViewTest, CompareMarksExactlyTheRowsThatChanged)
{
    model.TakeSnapshot();
    ASSERT_TRUE(model.HasSnapshot());
    ASSERT_EQ(cam.Board().WriteRegister(0x12, 0x0020), LINK_OK); // EN 1 -> 0, MODE stays
    ASSERT_EQ(cam.Board().WriteRegister(0x30, 0x0005), LINK_OK);
    model.Compare();
    struct Mark {
        std::size_t reg;
        int field;
        bool snapshot; // marked against the snapshot
        bool reset;    // against the reset values (CTRL 0x0000, GAIN 0x0004)
    };
    const Mark marks[] = {{kCtrl, kRegister, true, true}, {kCtrl, kMode, false, true},
                          {kCtrl, kEn, true, false},      {kIrq, kRegister, false, false},
                          {kGain, kRegister, true, true}, {kId, kRegister, false, false}};
    for (const Mark& m : marks)
        EXPECT_EQ(model.Marked(m.reg, m.field), m.snapshot) << m.reg << "." << m.field;
    EXPECT_EQ(model.TipText(kGain, kRegister), "GAIN 0x0030: 0x0004 -> 0x0005");
    EXPECT_EQ(statuses.back(), "Compared with the snapshot: 2 registers differ");

    model.CompareWithReset();
    for (const Mark& m : marks)
        EXPECT_EQ(model.Marked(m.reg, m.field), m.reset) << m.reg << "." << m.field;
    EXPECT_EQ(statuses.back(), "Compared with reset: 2 registers differ");

    // A map without reset values compares nothing, and does not say all is the same.
    RegisterMap bare;
    std::string error;
    ASSERT_TRUE(
        ParseRegisterMap(R"({"registers": [{"name": "GAIN", "address": "0x0030"}]})", "bare.json", &bare, &error))
        << error;
    model.SetMap(std::move(bare));
    sim.ClearWrites(8);
    model.CompareWithReset();
    EXPECT_TRUE(sim.Writes(8).empty());
    EXPECT_EQ(statuses.back(), "Compare with reset: no register that is read has a reset value in the map");
}

} // namespace
} // namespace pelvar
