#include <algorithm>
#include <map>
#include <gtest/gtest.h>

#include "camera/CameraController.h"
#include "camera/ControlIds.h"
#include "sim/SimBoard.h"
#include "tests/support/FakeView.h"
#include "tests/support/Frames.h"
#include "tests/support/ScriptedDevice.h"

namespace pelvar {
namespace {

using test::Bytes;
using test::FakeView;
using test::ScriptedDevice;

const std::pair<bool, bool> kDisconnected{true, false};
const std::pair<bool, bool> kConnected{false, true};
const std::pair<bool, bool> kAllOff{false, false};

Bytes StatusReply(std::uint8_t status) { return test::MakeFrame(CMD_STATUS, {status}); }

const Bytes kEmptyStatusReply = {0x02, 0x02, 0x00, 0x00, 0x03};
const Bytes kAck9 = {0x02, 0x06, 0x00, 0x06, 0, 0, 0, 0x02, 0x03};

// The commands a port received, one frame per write.
std::vector<std::uint8_t> Commands(const SimPlatform& sim, int port)
{
    std::vector<std::uint8_t> cmds;
    for (const SimWrite& w : sim.Writes(port))
        cmds.push_back(w.bytes.at(2));
    return cmds;
}

class CameraTest : public ::testing::Test {
protected:
    void AddBoard(int port, const SimBoardOptions& options = {})
    {
        boards.push_back(std::make_unique<SimBoardDevice>(options));
        sim.AddPort(port, boards.back().get());
        view.ports.push_back("Board COM" + std::to_string(port) + " (COM" + std::to_string(port) + ")");
    }

    void Connect()
    {
        cam.OnConnect();
        ASSERT_TRUE(cam.IsConnected());
    }

    SimPlatform sim;
    FakeView view;
    CameraController cam{view, sim};
    std::vector<std::unique_ptr<SimBoardDevice>> boards;
};

TEST_F(CameraTest, EmptyPortListChangesNothing)
{
    cam.OnConnect();
    EXPECT_FALSE(cam.IsConnected());
    EXPECT_TRUE(view.states.empty());
    EXPECT_TRUE(view.texts.empty());
    EXPECT_EQ(sim.Now(), 0u);
}

TEST_F(CameraTest, SilentFirstPortIsReleasedAndTheSecondAnswers)
{
    sim.AddPort(1);
    view.ports.push_back("Communications Port (COM1)");
    AddBoard(7);
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "7");
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "ARVEN-L");
    EXPECT_FALSE(sim.IsOpen(1));
    EXPECT_TRUE(sim.IsOpen(7));
    EXPECT_EQ(sim.OpenCount(), 1);
    EXPECT_EQ(Commands(sim, 1), Bytes({CMD_STATUS}));
    EXPECT_EQ(view.LastState(), kConnected);
    EXPECT_EQ(cam.m_nPort, 7);
}

TEST_F(CameraTest, PortsThatCannotBeOpenedAreSkipped)
{
    sim.AddPort(2);
    sim.FailOpen(2, EACCES);
    view.ports.push_back("A (COM2)");
    view.ports.push_back("B (COM)"); // no number: not a port entry
    view.ports.push_back("C (COMx)");
    AddBoard(9);
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "9");
    ASSERT_EQ(cam.Candidates().size(), 2u);
    EXPECT_EQ(cam.Candidates()[0].sysError, EACCES);
}

TEST_F(CameraTest, StatusZeroGetsInitThenBlueGainForSensorL)
{
    AddBoard(5);
    ASSERT_NO_FATAL_FAILURE(Connect());
    const Bytes expected = {CMD_STATUS, CMD_INIT, CMD_STATUS, CMD_GAIN_BLUE};
    EXPECT_EQ(Commands(sim, 5), expected);
    EXPECT_EQ(sim.Writes(5).back().bytes, Bytes({0x02, 0x06, 0x95, 0x80, 0, 0, 0, 0x11, 0x03}));
    EXPECT_EQ(boards[0]->Board().CommandCount(CMD_INIT), 1u);
    EXPECT_EQ(cam.m_adjust.blue, 128);
    EXPECT_EQ(view.texts.count(IDC_BLUE_VALUE), 0u) << "the blue box keeps its text";
}

struct SensorRow {
    const char* name;
    std::uint8_t probe;
    std::uint8_t polled;
    const char* sensor;
    Bytes commands;
};

class CameraSensor : public CameraTest, public ::testing::WithParamInterface<SensorRow> {};

TEST_P(CameraSensor, IdentifiesFromTheStatusReadAfterTheProbe)
{
    const SensorRow& row = GetParam();
    ScriptedDevice board;
    board.replies.push_back({1, StatusReply(row.probe)});
    if (row.probe == 0)
        board.replies.push_back({1, kAck9});
    board.replies.push_back({1, StatusReply(row.polled)});
    board.always = kAck9;
    sim.AddPort(3, &board);
    view.ports.push_back("X (COM3)");
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], row.sensor);
    EXPECT_EQ(Commands(sim, 3), row.commands);
    EXPECT_EQ(view.LastState(), kConnected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CameraSensor,
    ::testing::Values(SensorRow{"zeroThen11", 0x00, 0x11, "ARVEN-L", {CMD_STATUS, CMD_INIT, CMD_STATUS, CMD_GAIN_BLUE}},
                      SensorRow{"status21", 0x21, 0x21, "ARVEN-S", {CMD_STATUS, CMD_STATUS}},
                      SensorRow{"status01", 0x01, 0x01, "init error", {CMD_STATUS, CMD_STATUS}},
                      SensorRow{"status31TestsLFirst", 0x31, 0x31, "ARVEN-L", {CMD_STATUS, CMD_STATUS, CMD_GAIN_BLUE}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, EmptyStatusPayloadReadsAsZero)
{
    ScriptedDevice board;
    board.replies.push_back({1, kEmptyStatusReply});
    board.replies.push_back({1, kAck9});
    board.replies.push_back({1, StatusReply(0x21)});
    sim.AddPort(3, &board);
    view.ports.push_back("X (COM3)");
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(Commands(sim, 3), Bytes({CMD_STATUS, CMD_INIT, CMD_STATUS}));
}

TEST_F(CameraTest, StartThatNeverReportsAStatusGivesUpAfterTenSeconds)
{
    // Probe: status 0; init acknowledged; then status 0 for ever, each
    // query taking 2 ms (the frame's hold, the reply already in).
    ScriptedDevice board;
    board.replies.push_back({1, StatusReply(0x00)});
    board.replies.push_back({1, kAck9});
    board.always = StatusReply(0x00);
    board.alwaysDelayMs = 1;
    sim.AddPort(4, &board);
    view.ports.push_back("X (COM4)");
    cam.OnConnect();
    ASSERT_GE(sim.Writes(4).size(), 3u);
    const std::uint32_t firstPoll = sim.Writes(4)[2].time;
    EXPECT_EQ(sim.Now() - firstPoll, 10000u);
    EXPECT_TRUE(cam.StartTimedOut());
    EXPECT_FALSE(cam.IsConnected());
    EXPECT_FALSE(sim.IsOpen(4));
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "4");
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "init error");
    EXPECT_EQ(view.LastState(), kDisconnected);
    const std::vector<std::uint8_t> cmds = Commands(sim, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(cmds.begin(), cmds.begin() + 3), Bytes({CMD_STATUS, CMD_INIT, CMD_STATUS}));
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), CMD_GAIN_BLUE), 0);
}

TEST_F(CameraTest, ConnectWhileALinkIsHeldReleasesItFirst)
{
    AddBoard(6);
    ASSERT_NO_FATAL_FAILURE(Connect());
    view.selected = 0;
    cam.OnPortSelChange();
    EXPECT_EQ(view.LastState(), kDisconnected);
    EXPECT_TRUE(sim.IsOpen(6)) << "a selection does not touch the link";
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(sim.OpenCount(), 1);
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "6");
}

TEST_F(CameraTest, DisconnectReleasesAnActiveBoard)
{
    AddBoard(6);
    ASSERT_NO_FATAL_FAILURE(Connect());
    view.states.clear();
    cam.OnDisconnect();
    EXPECT_FALSE(cam.IsConnected());
    EXPECT_FALSE(sim.IsOpen(6));
    EXPECT_EQ(boards[0]->Board().CommandCount(CMD_RELEASE), 1u);
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "");
    EXPECT_EQ(view.texts[IDC_PORT_TEXT], "6");
    EXPECT_EQ(view.states, (std::vector<std::pair<bool, bool>>{kAllOff, kDisconnected}));
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(CameraTest, DisconnectFromASilentBoardShowsTheMessageAndStillCloses)
{
    ScriptedDevice board;
    board.replies.push_back({1, StatusReply(0x21)});
    board.replies.push_back({1, StatusReply(0x21)});
    sim.AddPort(2, &board);
    view.ports.push_back("X (COM2)");
    ASSERT_NO_FATAL_FAILURE(Connect());
    cam.OnDisconnect();
    EXPECT_EQ(view.errors, std::vector<std::string>{"Error: No reply from camera."});
    EXPECT_EQ(Commands(sim, 2).back(), CMD_STATUS) << "no release without a reply";
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "ARVEN-S");
    EXPECT_FALSE(sim.IsOpen(2));
    EXPECT_EQ(view.LastState(), kDisconnected);
}

TEST_F(CameraTest, DisconnectWithoutActiveBitSendsNoRelease)
{
    ScriptedDevice board;
    board.always = StatusReply(0x20);
    sim.AddPort(2, &board);
    view.ports.push_back("X (COM2)");
    ASSERT_NO_FATAL_FAILURE(Connect());
    cam.OnDisconnect();
    EXPECT_EQ(Commands(sim, 2), Bytes({CMD_STATUS, CMD_STATUS, CMD_STATUS}));
    EXPECT_EQ(view.texts[IDC_SENSOR_TEXT], "ARVEN-S");
    EXPECT_TRUE(view.errors.empty());
}

struct SliderRow {
    const char* name;
    int slider;
    int valueBox;
    int position;
    Bytes frame;
};

class CameraSlider : public CameraTest, public ::testing::WithParamInterface<SliderRow> {};

TEST_P(CameraSlider, StoresShowsAndSendsThePosition)
{
    const SliderRow& row = GetParam();
    AddBoard(8);
    ASSERT_NO_FATAL_FAILURE(Connect());
    sim.ClearWrites(8);
    cam.OnHScroll(row.slider, row.position);
    EXPECT_EQ(view.texts[row.valueBox], std::to_string(row.position));
    ASSERT_EQ(sim.Writes(8).size(), 1u);
    EXPECT_EQ(sim.Writes(8)[0].bytes, row.frame);
    EXPECT_EQ(view.cursorDepth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CameraSlider,
    ::testing::Values(
        SliderRow{
            "brightness200", IDC_BRIGHTNESS, IDC_BRIGHTNESS_VALUE, 200, {0x02, 0x06, 0x91, 0xC8, 0, 0, 0, 0x5D, 0x03}},
        SliderRow{"contrast0", IDC_CONTRAST, IDC_CONTRAST_VALUE, 0, {0x02, 0x06, 0x92, 0, 0, 0, 0, 0x96, 0x03}},
        SliderRow{"red255", IDC_RED, IDC_RED_VALUE, 255, {0x02, 0x06, 0x93, 0xFF, 0, 0, 0, 0x68, 0x03}},
        SliderRow{"green1", IDC_GREEN, IDC_GREEN_VALUE, 1, {0x02, 0x06, 0x94, 0x01, 0, 0, 0, 0x91, 0x03}},
        SliderRow{"blue128", IDC_BLUE, IDC_BLUE_VALUE, 128, {0x02, 0x06, 0x95, 0x80, 0, 0, 0, 0x11, 0x03}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, SliderWithoutLinkUpdatesTheBoxAndShowsTheCursorOnly)
{
    cam.OnHScroll(IDC_BRIGHTNESS, 42);
    EXPECT_EQ(cam.m_adjust.brightness, 42);
    EXPECT_EQ(view.texts[IDC_BRIGHTNESS_VALUE], "42");
    EXPECT_EQ(view.cursorShown, 1);
    EXPECT_EQ(view.cursorDepth, 0);
}

TEST_F(CameraTest, RepeatedNotificationSendsTheSameValueAgainAndFailuresAreKept)
{
    AddBoard(8, SimBoardOptions{.sensor = SensorKind::S});
    ASSERT_NO_FATAL_FAILURE(Connect());
    cam.OnHScroll(IDC_GREEN, 17);
    cam.OnHScroll(IDC_GREEN, 17);
    EXPECT_EQ(boards[0]->Board().CommandCount(CMD_GAIN_GREEN), 2u);
    EXPECT_EQ(boards[0]->Board().Adjust().green, 17);
    sim.RemovePort(8); // switched off
    cam.OnHScroll(IDC_GREEN, 30);
    EXPECT_EQ(view.texts[IDC_GREEN_VALUE], "30");
    EXPECT_EQ(cam.m_adjust.green, 30);
    EXPECT_TRUE(view.errors.empty());
}

TEST_F(CameraTest, NotificationsFromOtherControlsSendNothing)
{
    AddBoard(8);
    ASSERT_NO_FATAL_FAILURE(Connect());
    sim.ClearWrites(8);
    cam.OnHScroll(IDC_REG_ADDRESS, 5);
    EXPECT_TRUE(sim.Writes(8).empty());
}

TEST_F(CameraTest, EachButtonSendsItsCodeWithAnEmptyPayload)
{
    struct Row {
        int id;
        std::uint8_t cmd;
    };
    const Row rows[] = {{IDC_CMD_INIT, 0x70},   {IDC_CMD_RELEASE, 0xF0}, {IDC_CMD_FUNC16, 0x16},
                        {IDC_SCALE, 0x17},      {IDC_CMD_FUNC18, 0x18},  {IDC_CMD_FUNC19, 0x19},
                        {IDC_EDGE, 0x1A},       {IDC_GAMMA, 0x1B},       {IDC_TEST_PATTERN, 0xA6},
                        {IDC_ARROW_LEFT, 0x21}, {IDC_ARROW_RIGHT, 0x20}, {IDC_ARROW_UP, 0x22},
                        {IDC_ARROW_DOWN, 0x23}};
    AddBoard(8);
    ASSERT_NO_FATAL_FAILURE(Connect());
    for (const Row& r : rows) {
        sim.ClearWrites(8);
        cam.OnFunctionButton(r.id);
        ASSERT_EQ(sim.Writes(8).size(), 1u) << r.id;
        const std::uint8_t cs = static_cast<std::uint8_t>(0x02 ^ 0x02 ^ r.cmd);
        EXPECT_EQ(sim.Writes(8)[0].bytes, Bytes({0x02, 0x02, r.cmd, cs, 0x03})) << r.id;
        EXPECT_EQ(cam.LastResult(), LINK_OK);
    }
    EXPECT_EQ(view.cursorShown, 0) << "buttons show no wait cursor";
}

struct HexBoxRow {
    const char* name;
    const char* text;
    std::uint16_t value;
};

class HexBox : public ::testing::TestWithParam<HexBoxRow> {};

TEST_P(HexBox, ReadsTheBoxAsTheConversionDoes) { EXPECT_EQ(ParseHexBoxText(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(
    Table, HexBox,
    ::testing::Values(HexBoxRow{"plain", "10", 0x10}, HexBoxRow{"prefix", "0x10", 0x10},
                      HexBoxRow{"upperPrefix", "0X10", 0x10}, HexBoxRow{"leadingBlank", " 10", 0x10},
                      HexBoxRow{"lowSixteenBits", "12345", 0x2345}, HexBoxRow{"firstEightChars", "1234567890", 0x5678},
                      HexBoxRow{"empty", "", 0}, HexBoxRow{"noDigits", "xyz", 0},
                      HexBoxRow{"stopsAtBlank", "1F x", 0x1F}, HexBoxRow{"minusOne", "-1", 0xFFFF},
                      HexBoxRow{"plusSign", "+ff", 0xFF}, HexBoxRow{"prefixWithoutDigits", "0xg", 0},
                      HexBoxRow{"mixedCase", "aBcD", 0xABCD}, HexBoxRow{"tabs", "\t\t7", 7},
                      HexBoxRow{"eightCharsWithPrefix", "0x00ff12", 0xFF12}, HexBoxRow{"minusPrefix", "-0x10", 0xFFF0},
                      // "0x" and exactly one digit: the digit is the value, also as the eighth character.
                      HexBoxRow{"prefixOneDigit", "0x5", 5}, HexBoxRow{"upperPrefixOneDigit", "0XA", 0xA},
                      HexBoxRow{"minusPrefixOneDigit", "-0x1", 0xFFFF},
                      HexBoxRow{"prefixOneDigitEndingTheEightChars", "     0x5", 5},
                      HexBoxRow{"prefixDigitBeyondTheEightChars", "      0x5", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, RegisterWriteThenReadThroughTheBoxes)
{
    AddBoard(8);
    ASSERT_NO_FATAL_FAILURE(Connect());
    sim.ClearWrites(8);
    view.texts[IDC_REG_ADDRESS] = "0x0010";
    view.texts[IDC_REG_CONTENT] = "0x00ff";
    cam.OnRegisterWrite();
    ASSERT_EQ(sim.Writes(8).size(), 2u);
    EXPECT_EQ(sim.Writes(8)[0].bytes, Bytes({0x02, 0x04, 0xA5, 0x10, 0x00, 0xB3, 0x03}));
    EXPECT_EQ(sim.Writes(8)[1].bytes, Bytes({0x02, 0x04, 0xA4, 0xFF, 0x00, 0x5D, 0x03}));
    EXPECT_EQ(view.texts[IDC_REG_CONTENT], "0x00ff");
    EXPECT_EQ(boards[0]->Board().Register(0x10), 0x00FF);

    view.texts[IDC_REG_CONTENT] = "ff";
    cam.OnRegisterRead();
    EXPECT_EQ(view.texts[IDC_REG_CONTENT], "0x00ff");
    EXPECT_EQ(view.texts[IDC_REG_ADDRESS], "0x0010");
}

struct RegReadRow {
    const char* name;
    Bytes reply;
    const char* shown;
};

class RegisterRead : public CameraTest, public ::testing::WithParamInterface<RegReadRow> {};

TEST_P(RegisterRead, ShowsTheReplyPayloadLowByteFirst)
{
    ScriptedDevice board;
    board.replies.push_back({1, StatusReply(0x21)});
    board.replies.push_back({1, StatusReply(0x21)});
    board.replies.push_back({1, kAck9});            // CMD_REG_ADDRESS
    board.replies.push_back({1, GetParam().reply}); // CMD_REG_READ
    sim.AddPort(2, &board);
    view.ports.push_back("X (COM2)");
    ASSERT_NO_FATAL_FAILURE(Connect());
    view.texts[IDC_REG_ADDRESS] = "20";
    view.texts[IDC_REG_CONTENT] = "junk";
    cam.OnRegisterRead();
    EXPECT_EQ(view.texts[IDC_REG_CONTENT], GetParam().shown);
}

Bytes RegReply(const Bytes& payload) { return test::MakeFrame(CMD_REG_READ, payload); }

INSTANTIATE_TEST_SUITE_P(Table, RegisterRead,
                         ::testing::Values(RegReadRow{"word", RegReply({0x34, 0x12}), "0x1234"},
                                           RegReadRow{"oneByte", RegReply({0x7F}), "0x007f"},
                                           RegReadRow{"empty", RegReply({}), "0x0000"},
                                           RegReadRow{"lowerCaseDigits", RegReply({0xCD, 0xAB}), "0xabcd"},
                                           RegReadRow{"threeBytesRefusedShowsNoValue", RegReply({1, 2, 3}), ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, UnacknowledgedAddressStopsTheWrite)
{
    // Answers the status but refuses every transaction.
    ScriptedDevice board;
    board.replies.push_back({1, StatusReply(0x21)});
    board.replies.push_back({1, StatusReply(0x21)});
    board.always = {0x02, 0x03, 0x00, 0x15, 0x14, 0x03};
    sim.AddPort(8, &board);
    view.ports.push_back("X (COM8)");
    ASSERT_NO_FATAL_FAILURE(Connect());
    sim.ClearWrites(8);
    view.texts[IDC_REG_ADDRESS] = "1";
    view.texts[IDC_REG_CONTENT] = "2";
    cam.OnRegisterWrite();
    EXPECT_EQ(Commands(sim, 8), Bytes(6, CMD_REG_ADDRESS));
    EXPECT_EQ(cam.LastResult(), LINK_ERR_NAK);
}

Bytes Times(int n, const Bytes& frame)
{
    Bytes all;
    for (int i = 0; i < n; ++i)
        all.insert(all.end(), frame.begin(), frame.end());
    return all;
}

class CameraFailure;

struct FailureRow {
    const char* name;
    void (CameraFailure::*act)(); // arranges the failure and runs one handler
    std::map<int, Bytes> wire;    // port -> every byte the handler wrote
    std::vector<std::pair<bool, bool>> states;
    std::map<int, std::string> shown;
    const char* status;
    bool connected;
};

class CameraFailure : public CameraTest, public ::testing::WithParamInterface<FailureRow> {
public:
    void EveryPortSilent()
    {
        AddPorts();
        cam.OnConnect();
    }
    void EveryPortRefused()
    {
        AddPorts();
        sim.FailOpen(1, EACCES);
        sim.FailSettings(3, true);
        cam.OnConnect();
    }
    void DisconnectGarbled()
    {
        ConnectBoard();
        // Status 0x31 (active) with checksum 0x31 instead of 0x30.
        board.replies.push_back({1, {0x02, 0x03, 0x00, 0x31, 0x31, 0x03}});
        cam.OnDisconnect();
    }
    void SliderWhileOff()
    {
        ConnectBoard();
        cam.OnHScroll(IDC_RED, 77);
    }
    void ReadAddressRefused()
    {
        ConnectBoard();
        board.always = {0x02, 0x03, 0x00, 0x15, 0x14, 0x03};
        view.texts[IDC_REG_ADDRESS] = "1";
        view.texts[IDC_REG_CONTENT] = "0x1234";
        cam.OnRegisterRead();
    }

protected:
    void AddPorts()
    {
        for (int port : {1, 3}) {
            sim.AddPort(port);
            view.ports.push_back("Port (COM" + std::to_string(port) + ")");
        }
    }

    // An ARVEN-S board on COM2 that falls silent once connected.
    void ConnectBoard()
    {
        board.replies = {{1, StatusReply(0x21)}, {1, StatusReply(0x21)}};
        sim.AddPort(2, &board);
        view.ports.push_back("X (COM2)");
        ASSERT_NO_FATAL_FAILURE(Connect());
        sim.ClearWrites(2);
        view.states.clear();
        view.statuses.clear();
    }

    ScriptedDevice board;
};

TEST_P(CameraFailure, SaysWhyAndLeavesNothingHalfDone)
{
    const FailureRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE((this->*row.act)());
    for (const auto& [port, bytes] : row.wire)
        EXPECT_EQ(sim.WrittenBytes(port), bytes) << "COM" << port;
    EXPECT_EQ(view.states, row.states);
    for (const auto& [id, text] : row.shown)
        EXPECT_EQ(view.texts[id], text) << "control " << id;
    EXPECT_EQ(view.LastStatus(), row.status);
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(cam.IsConnected(), row.connected);
    EXPECT_EQ(sim.OpenCount(), row.connected ? 1 : 0);
    EXPECT_EQ(view.cursorDepth, 0);
}

const Bytes kStatusFrame = {0x02, 0x02, 0x00, 0x00, 0x03};
const std::map<int, std::string> kNothingShown = {{IDC_PORT_TEXT, ""}, {IDC_SENSOR_TEXT, ""}};

INSTANTIATE_TEST_SUITE_P(
    Table, CameraFailure,
    ::testing::Values(FailureRow{"everyPortSilent",
                                 &CameraFailure::EveryPortSilent,
                                 {{1, kStatusFrame}, {3, kStatusFrame}},
                                 {},
                                 kNothingShown,
                                 "No board answered (tried COM1, COM3)",
                                 false},
                      FailureRow{"everyPortRefused",
                                 &CameraFailure::EveryPortRefused,
                                 {{1, {}}, {3, {}}},
                                 {},
                                 kNothingShown,
                                 "COM1: permission denied (Permission denied); join the group 'dialout' (sudo "
                                 "usermod -aG dialout $USER) and log in again; "
                                 "COM3: not a usable serial device (Invalid argument)",
                                 false},
                      // Only no reply at all earns the message box; the garbled status counts as 0.
                      FailureRow{"disconnectGarbledReply",
                                 &CameraFailure::DisconnectGarbled,
                                 {{2, kStatusFrame}},
                                 {kAllOff, kDisconnected},
                                 {{IDC_PORT_TEXT, "2"}, {IDC_SENSOR_TEXT, "ARVEN-S"}},
                                 "No reply from camera: disconnected",
                                 false},
                      FailureRow{"sliderWhileTheBoardIsOff",
                                 &CameraFailure::SliderWhileOff,
                                 {{2, Times(6, {0x02, 0x06, 0x93, 0x4D, 0, 0, 0, 0xDA, 0x03})}},
                                 {},
                                 {{IDC_RED_VALUE, "77"}},
                                 "red 77: no reply",
                                 true},
                      FailureRow{"registerReadAddressRefused",
                                 &CameraFailure::ReadAddressRefused,
                                 {{2, Times(6, {0x02, 0x04, 0xA5, 0x01, 0x00, 0xA2, 0x03})}},
                                 {},
                                 {{IDC_REG_ADDRESS, "1"}, {IDC_REG_CONTENT, ""}},
                                 "read register 0x0001: refused by the board",
                                 true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, HandlersWithoutLinkDoNothing)
{
    view.texts[IDC_REG_CONTENT] = "abc";
    cam.OnRegisterRead();
    cam.OnRegisterWrite();
    cam.OnFunctionButton(IDC_EDGE);
    cam.OnDisconnect();
    EXPECT_EQ(view.texts[IDC_REG_CONTENT], "abc");
    EXPECT_TRUE(view.states.empty());
    EXPECT_EQ(sim.Now(), 0u);
}

// A caller that reads the last result after a register read must not find
// the previous operation's LINK_OK there.
TEST_F(CameraTest, ARegisterReadWithoutALinkLeavesNoEarlierResult)
{
    AddBoard(6);
    ASSERT_NO_FATAL_FAILURE(Connect());
    cam.OnDisconnect();
    ASSERT_EQ(cam.LastResult(), LINK_OK);
    cam.OnRegisterRead();
    EXPECT_EQ(cam.LastResult(), LINK_ERR_NOT_OPEN);
    EXPECT_EQ(cam.Board().ReadRegister(0x10).result, LINK_ERR_NOT_OPEN);
    EXPECT_EQ(cam.Board().QueryStatus().result, LINK_ERR_NOT_OPEN);
}

} // namespace
} // namespace pelvar
