// The Win32 panel, driven through its window messages as the window system
// would drive it, against the simulated board: on the virtual clock, and on
// the machine's clock where the window must stay answering while the worker
// waits for the board.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
// The printer spooler's macro, not the simulated platform's method.
#undef AddPort

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "camera/AboutTemplate.h"
#include "camera/ControlIds.h"
#include "camera/PanelTemplate.h"
#include "sim/RealTimeSimPlatform.h"
#include "sim/SimBoard.h"
#include "tests/support/Frames.h"
#include "tests/win/ModalWatch.h"
#include "tests/win/PanelFixture.h"
#include "winui/PelvarDlg.h"
#include "winui/RegistryPortMemory.h"
#include "winui/WakeLatch.h"
#include "winui/WideText.h"

namespace pelvar {
namespace {

using test::kTestKey;
using test::PumpUntil;
using test::TestMemory;
using Bytes = std::vector<std::uint8_t>;
constexpr int kBoardPort = 200;
constexpr int kSilentPort = 100;

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The board, which can be switched off while the panel holds its port.
class SwitchableBoard : public ISimDevice {
public:
    explicit SwitchableBoard(SimBoardOptions options = {}) : device(options) {}
    void OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n) override
    {
        if (on)
            device.OnHostBytes(line, data, n);
    }
    SimBoardDevice device;
    bool on = true;
};

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        sim.AddPort(kBoardPort, &board);
        sim.AddPort(kSilentPort);
        hwnd = dlg.Create();
        ASSERT_NE(hwnd, nullptr);
    }
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey); }

    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    std::string Text(int id) const { return Narrow(test::TextOf(Item(id))); }
    // Place and size converted each on its own, as the dialog manager does.
    void ExpectPlacedAt(int id, DialogRect r, bool withHeight) const
    {
        RECT expected{r.x, r.y, r.cx, r.cy};
        MapDialogRect(hwnd, &expected);
        RECT actual;
        GetWindowRect(Item(id), &actual);
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right);
        if (withHeight) {
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        }
    }
    // The click returns at once; the worker's outcome shows when it is done.
    void Click(int id)
    {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    void SetText(int id, const char* text) { SetWindowTextW(Item(id), Widen(text).c_str()); }
    // The trackbar stands at `position`; the notification carries another.
    void Scroll(int id, int position, WORD code)
    {
        SendMessageW(Item(id), TBM_SETPOS, TRUE, position);
        SendMessageW(hwnd, WM_HSCROLL, MAKEWPARAM(code, 7), reinterpret_cast<LPARAM>(Item(id)));
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    Bytes LastFrame() const { return sim.Writes(kBoardPort).back().bytes; }
    void Connect()
    {
        Click(IDC_CONNECT);
        ASSERT_TRUE(dlg.Camera().IsConnected());
    }
    // Connect, then each control that goes with Disconnect, as the window
    // shows them; the sliders and the port list are no part of it.
    std::vector<bool> EnableStates() const
    {
        std::vector<bool> states{IsWindowEnabled(Item(IDC_CONNECT)) != FALSE};
        for (int id : {IDC_DISCONNECT, IDC_SCALE, IDC_EDGE, IDC_GAMMA, IDC_ARROW_LEFT, IDC_ARROW_RIGHT, IDC_ARROW_UP,
                       IDC_ARROW_DOWN, IDC_REG_ADDRESS, IDC_REG_CONTENT, IDC_REG_WRITE, IDC_REG_READ, IDC_TEST_PATTERN})
            states.push_back(IsWindowEnabled(Item(id)) != FALSE);
        for (int id : {IDC_BRIGHTNESS, IDC_BLUE})
            states.push_back(IsWindowEnabled(Item(id)) != FALSE);
        return states;
    }
    static std::vector<bool> Set(bool connect, bool others)
    {
        std::vector<bool> states{connect};
        states.resize(1 + 13, others);
        states.resize(1 + 13 + 2, true); // the sliders stay enabled
        return states;
    }

    SimPlatform sim;
    SwitchableBoard board;
    // What the machine lists at each look: Connect reads it again.
    std::vector<std::string> listed{"Simulated board (COM200)"};
    CPelvarDlg dlg{GetModuleHandleW(nullptr),
                   [this](IPortList& list) {
                       for (const std::string& entry : listed)
                           list.AddString(entry);
                   },
                   sim, TestMemory()};
    HWND hwnd = nullptr;
};

TEST_F(PanelTest, EveryControlOfTheTemplateWithItsClassTextStyleAndPlace)
{
    EXPECT_EQ(Narrow(test::TextOf(hwnd)), "Zandrel / Pelvar Demo");
    for (const ControlTemplate& item : kPanelTemplate) {
        if (item.id == kNoControlId)
            continue;
        SCOPED_TRACE(item.id);
        ASSERT_NE(Item(item.id), nullptr);
        // A combo box sizes its own closed height.
        ExpectPlacedAt(item.id, item.rect, item.kind != ControlKind::PortList);
        EXPECT_EQ(IsWindowVisible(Item(item.id)) != FALSE, !(item.flags & kHidden));
        if (item.kind != ControlKind::Edit) {
            EXPECT_EQ(Text(item.id), item.text);
        }
    }
    // A few rows as the board maker's panel has them.
    const struct {
        int id;
        const char* text;
        DialogRect rect;
    } rows[] = {
        {IDC_CONNECT, "Connect", {241, 17, 50, 14}},       {IDC_DISCONNECT, "Disconnect", {241, 33, 50, 14}},
        {IDC_BRIGHTNESS_LABEL, "Value:", {15, 71, 21, 8}}, {IDC_TEST_PATTERN, "Test Pattern", {16, 300, 50, 14}},
        {IDC_ARROW_DOWN, "v", {152, 290, 18, 18}},         {IDC_REG_READ, "read", {255, 308, 50, 14}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Text(row.id), row.text);
        ExpectPlacedAt(row.id, row.rect, true);
    }
}

TEST_F(PanelTest, ControlKindsAreTheNativeControls)
{
    struct Row {
        int id;
        const wchar_t* windowClass;
        LONG style;
    };
    const Row rows[] = {
        {IDC_CONNECT, L"Button", BS_DEFPUSHBUTTON},
        {IDC_DISCONNECT, L"Button", BS_PUSHBUTTON},
        {IDC_BRIGHTNESS, TRACKBAR_CLASSW, TBS_AUTOTICKS | TBS_TOP},
        {IDC_BRIGHTNESS_VALUE, L"Edit", ES_READONLY | ES_NUMBER | ES_AUTOHSCROLL},
        {IDC_PORT_LIST, L"ComboBox", CBS_DROPDOWNLIST | CBS_SORT},
        {IDC_SENSOR_TEXT, L"Static", SS_LEFT},
    };
    for (const Row& row : rows) {
        wchar_t cls[64] = {};
        GetClassNameW(Item(row.id), cls, 64);
        EXPECT_STREQ(cls, row.windowClass) << row.id;
        EXPECT_EQ(GetWindowLongW(Item(row.id), GWL_STYLE) & row.style, row.style) << row.id;
    }
    // Typing in a register box stops at its width.
    EXPECT_EQ(GetWindowLongW(Item(IDC_REG_ADDRESS), GWL_STYLE) & ES_AUTOHSCROLL, 0);
    EXPECT_EQ(SendMessageW(Item(IDC_RED), TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendMessageW(Item(IDC_RED), TBM_GETRANGEMAX, 0, 0), 255);
}

TEST_F(PanelTest, TheStatusLineSitsUnderTheTemplateInsideTheWindow)
{
    HWND status = Item(IDC_STATUS_LINE);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(IsWindowVisible(status));
    RECT templ{0, 0, kPanelSize.cx, kPanelSize.cy};
    MapDialogRect(hwnd, &templ);
    RECT at;
    GetWindowRect(status, &at);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&at), 2);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_GE(at.top, templ.bottom);
    EXPECT_LE(at.bottom, client.bottom);
    EXPECT_GT(at.right - at.left, (templ.right - templ.left) * 9 / 10);
    EXPECT_EQ(dlg.StatusText(), "");
}

TEST_F(PanelTest, OpensDisconnectedWithSlidersAt128AndTheRegisterBoxesAtZero)
{
    for (int id : {IDC_BRIGHTNESS, IDC_CONTRAST, IDC_RED, IDC_GREEN, IDC_BLUE})
        EXPECT_EQ(SendMessageW(Item(id), TBM_GETPOS, 0, 0), 128) << id;
    for (int id : {IDC_BRIGHTNESS_VALUE, IDC_CONTRAST_VALUE, IDC_RED_VALUE, IDC_GREEN_VALUE, IDC_BLUE_VALUE})
        EXPECT_EQ(Text(id), "128") << id;
    EXPECT_EQ(Text(IDC_REG_ADDRESS), "0x0000");
    EXPECT_EQ(Text(IDC_REG_CONTENT), "0x0000");
    EXPECT_EQ(EnableStates(), Set(true, false));
    // The list is read by the worker, off the window's thread.
    ASSERT_TRUE(dlg.WaitForCamera(10000));
    EXPECT_EQ(dlg.PortCount(), 1);
    EXPECT_EQ(dlg.PortEntry(0), "Simulated board (COM200)");
    EXPECT_TRUE(sim.Writes(kBoardPort).empty()); // opening sends nothing
}

TEST_F(PanelTest, ConnectFindsTheBoardAndShowsPortAndSensor)
{
    // While it runs, Connect and everything it would enable stay off.
    SendMessageW(Item(IDC_CONNECT), BM_CLICK, 0, 0);
    EXPECT_EQ(EnableStates(), Set(false, false));
    ASSERT_TRUE(dlg.WaitForCamera(10000));
    ASSERT_TRUE(dlg.Camera().IsConnected());
    EXPECT_EQ(dlg.StatusText(), "Connected on COM200: ARVEN-L");
    EXPECT_EQ(Text(IDC_PORT_TEXT), "200");
    EXPECT_EQ(Text(IDC_SENSOR_TEXT), "ARVEN-L");
    EXPECT_EQ(EnableStates(), Set(false, true));
    EXPECT_EQ(board.device.Board().CommandCount(CMD_INIT), 1u);
    EXPECT_EQ(Text(IDC_BLUE_VALUE), "128");
}

TEST_F(PanelTest, EverySliderNotificationSendsThePositionOfTheTrackbar)
{
    Connect();
    const struct {
        int slider;
        int valueBox;
        std::uint8_t cmd;
    } sliders[] = {
        {IDC_BRIGHTNESS, IDC_BRIGHTNESS_VALUE, CMD_BRIGHTNESS},
        {IDC_CONTRAST, IDC_CONTRAST_VALUE, CMD_CONTRAST},
        {IDC_RED, IDC_RED_VALUE, CMD_GAIN_RED},
        {IDC_GREEN, IDC_GREEN_VALUE, CMD_GAIN_GREEN},
        {IDC_BLUE, IDC_BLUE_VALUE, CMD_GAIN_BLUE},
    };
    const WORD codes[] = {TB_LINEUP,     TB_LINEDOWN, TB_PAGEUP, TB_PAGEDOWN, TB_THUMBPOSITION,
                          TB_THUMBTRACK, TB_TOP,      TB_BOTTOM, TB_ENDTRACK};
    int position = 0;
    for (const auto& s : sliders) {
        for (WORD code : codes) {
            position = (position + 37) % 256;
            Scroll(s.slider, position, code);
            SCOPED_TRACE(testing::Message() << s.slider << " code " << code);
            EXPECT_EQ(LastFrame(), test::MakeFrame(s.cmd, {static_cast<std::uint8_t>(position), 0, 0, 0}));
            EXPECT_EQ(Text(s.valueBox), std::to_string(position));
        }
    }
    // A repeated notification sends the same value again.
    const std::size_t before = sim.Writes(kBoardPort).size();
    SendMessageW(hwnd, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(Item(IDC_BLUE)));
    ASSERT_TRUE(dlg.WaitForCamera(10000));
    EXPECT_EQ(sim.Writes(kBoardPort).size(), before + 1);
    EXPECT_EQ(dlg.StatusText(), "blue " + std::to_string(position) + ": sent");
    EXPECT_EQ(board.device.Board().Adjust().blue, position);
}

TEST_F(PanelTest, SlidersBeforeConnectUpdateTheirBoxAndSendNothing)
{
    Scroll(IDC_GREEN, 0, TB_THUMBTRACK);
    EXPECT_EQ(Text(IDC_GREEN_VALUE), "0");
    EXPECT_TRUE(sim.Writes(kBoardPort).empty());
}

TEST_F(PanelTest, FunctionButtonsSendTheirCommand)
{
    Connect();
    const std::pair<int, std::uint8_t> buttons[] = {
        {IDC_EDGE, CMD_EDGE},
        {IDC_SCALE, CMD_SCALE},
        {IDC_GAMMA, CMD_GAMMA},
        {IDC_TEST_PATTERN, CMD_TEST_PATTERN},
        {IDC_ARROW_LEFT, CMD_ARROW_LEFT},
        {IDC_ARROW_RIGHT, CMD_ARROW_RIGHT},
        {IDC_ARROW_UP, CMD_ARROW_UP},
        {IDC_ARROW_DOWN, CMD_ARROW_DOWN},
    };
    for (const auto& [id, cmd] : buttons) {
        Click(id);
        EXPECT_EQ(LastFrame(), test::MakeFrame(cmd)) << id;
    }
}

TEST_F(PanelTest, RegisterWriteAndReadThroughTheBoxes)
{
    Connect();
    SetText(IDC_REG_ADDRESS, "0x0010");
    SetText(IDC_REG_CONTENT, "beef");
    Click(IDC_REG_WRITE);
    EXPECT_EQ(board.device.Board().Register(0x0010), 0xBEEF);
    EXPECT_EQ(Text(IDC_REG_CONTENT), "beef"); // a write leaves the operator's text
    SetText(IDC_REG_CONTENT, "");
    Click(IDC_REG_READ);
    EXPECT_EQ(Text(IDC_REG_CONTENT), "0xbeef");
    EXPECT_EQ(Text(IDC_REG_ADDRESS), "0x0010");
}

// A read that fails shows no value: "0x0000" would read as a register that
// holds zero. The status line says why.
TEST_F(PanelTest, AFailedRegisterReadLeavesTheContentBoxEmptyAndSaysWhy)
{
    Connect();
    SetText(IDC_REG_ADDRESS, "0x0010");
    board.on = false;
    Click(IDC_REG_READ);
    EXPECT_EQ(Text(IDC_REG_CONTENT), "");
    EXPECT_EQ(dlg.StatusText(), "read register 0x0010: no reply");
    EXPECT_EQ(Text(IDC_REG_ADDRESS), "0x0010");
    EXPECT_EQ(EnableStates(), Set(false, true)); // still connected
}

// A board plugged in after the window opened is found, and the port that
// answered last is tried first, also by the next panel (the registry).
TEST_F(PanelTest, ConnectReadsThePortsAgainAndTriesTheRememberedPortFirst)
{
    listed = {"A silent port (COM100)"};
    Click(IDC_CONNECT);
    EXPECT_FALSE(dlg.Camera().IsConnected());
    EXPECT_EQ(dlg.StatusText(), "No board answered (tried COM100)");
    EXPECT_EQ(EnableStates(), Set(true, false));

    listed = {"A silent port (COM100)", "Simulated board (COM200)"};
    Click(IDC_CONNECT);
    ASSERT_TRUE(dlg.Camera().IsConnected());
    EXPECT_EQ(dlg.PortCount(), 2); // the list shows what Connect read
    EXPECT_EQ(dlg.PortEntry(1), "Simulated board (COM200)");
    Click(IDC_DISCONNECT);

    sim.ClearWrites(kSilentPort);
    CPelvarDlg next(
        GetModuleHandleW(nullptr),
        [this](IPortList& list) {
            for (const std::string& entry : listed)
                list.AddString(entry);
        },
        sim, std::make_unique<CRegistryPortMemory>(kTestKey));
    const HWND nextWindow = next.Create();
    SendDlgItemMessageW(nextWindow, IDC_CONNECT, BM_CLICK, 0, 0);
    ASSERT_TRUE(next.WaitForCamera(10000));
    ASSERT_TRUE(next.Camera().IsConnected());
    EXPECT_EQ(next.Camera().m_nPort, kBoardPort);
    EXPECT_TRUE(sim.Writes(kSilentPort).empty()); // COM100 was never probed
}

// The list sorts as the system compares ("é" with "e", before "o"), and
// Connect probes in the order the list shows, not in the bytes' order.
TEST_F(PanelTest, ConnectProbesInTheListsOwnOrder)
{
    sim.AddPort(1);
    sim.AddPort(3);
    listed = {"Port de communication (COM1)", "P\xC3\xA9riph\xC3\xA9rique s\xC3\xA9rie USB (COM3)"};
    Click(IDC_CONNECT);
    ASSERT_EQ(dlg.PortCount(), 2);
    EXPECT_EQ(dlg.PortEntry(0), "P\xC3\xA9riph\xC3\xA9rique s\xC3\xA9rie USB (COM3)");
    EXPECT_EQ(dlg.PortEntry(1), "Port de communication (COM1)");
    EXPECT_EQ(dlg.StatusText(), "No board answered (tried COM3, COM1)");
}

TEST_F(PanelTest, DisconnectReleasesTheBoard)
{
    Connect();
    Click(IDC_DISCONNECT);
    EXPECT_FALSE(dlg.Camera().IsConnected());
    EXPECT_FALSE(sim.IsOpen(kBoardPort));
    EXPECT_EQ(board.device.Board().CommandCount(CMD_RELEASE), 1u);
    EXPECT_EQ(Text(IDC_SENSOR_TEXT), "");
    EXPECT_EQ(Text(IDC_PORT_TEXT), "200");
    EXPECT_EQ(EnableStates(), Set(true, false));
    EXPECT_EQ(dlg.StatusText(), "Disconnected");
}

TEST_F(PanelTest, DisconnectFromASilentBoardShowsTheErrorBox)
{
    Connect();
    board.on = false;
    const auto seen = test::WatchModal(hwnd, [&] { Click(IDC_DISCONNECT); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Error");
    EXPECT_EQ(seen[0].owner, hwnd);
    EXPECT_EQ(seen[0].icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR)));
    EXPECT_NE(std::find(seen[0].texts.begin(), seen[0].texts.end(), L"No reply from camera."), seen[0].texts.end());
    EXPECT_EQ(Text(IDC_SENSOR_TEXT), "ARVEN-L");
    EXPECT_FALSE(sim.IsOpen(kBoardPort));
    EXPECT_EQ(EnableStates(), Set(true, false));
    EXPECT_EQ(dlg.StatusText(), "No reply from camera: disconnected");
}

TEST_F(PanelTest, SystemMenuHasASeparatorAndTheAboutItemThenTheBench)
{
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    int about = -1;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (GetMenuItemID(menu, i) == IDM_ABOUTBOX)
            about = i;
    }
    ASSERT_GE(about, 1);
    EXPECT_EQ(GetMenuState(menu, about - 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    wchar_t text[64] = {};
    GetMenuStringW(menu, about, text, 64, MF_BYPOSITION);
    EXPECT_EQ(Narrow(text), kAboutMenuText);
    EXPECT_EQ(GetMenuState(menu, about + 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(GetMenuItemID(menu, about + 2), IDM_AUTO_RECONNECT);
}

TEST_F(PanelTest, AboutCommandsOpenTheAboutBox)
{
    for (WPARAM command : {WPARAM{0x0010}, WPARAM{0x0017}, WPARAM{0x001F}}) {
        const auto seen = test::WatchModal(hwnd, [&] { SendMessageW(hwnd, WM_SYSCOMMAND, command, 0); });
        ASSERT_EQ(seen.size(), 1u) << command;
        EXPECT_EQ(Narrow(seen[0].caption), kAboutCaption);
        EXPECT_EQ(seen[0].owner, hwnd);
        // The first child is the icon picture.
        const std::vector<std::wstring> texts{Widen(kAboutVersionText), Widen(kAboutNoticeText), L"OK"};
        ASSERT_EQ(seen[0].texts.size(), 4u);
        EXPECT_EQ(std::vector<std::wstring>(seen[0].texts.begin() + 1, seen[0].texts.end()), texts);
        EXPECT_TRUE(seen[0].hasIcon);
        EXPECT_NE(seen[0].icon, nullptr); // the program's icon, loaded from its resources
    }
    // Not the about item: the window system's own command.
    const auto none = test::WatchModal(
        hwnd, [&] { SendMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0); }, 200);
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(IsIconic(hwnd));
}

// On the machine's clock: the demo board behind a real-time simulated line.
class PanelRealTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        line.AddPort(kBoardPort, &board);
        dlg = std::make_unique<CPelvarDlg>(
            GetModuleHandleW(nullptr), [](IPortList& list) { list.AddString("Simulated board (COM200)"); }, line,
            TestMemory());
        hwnd = dlg->Create();
        SendDlgItemMessageW(hwnd, IDC_CONNECT, BM_CLICK, 0, 0);
        ASSERT_TRUE(dlg->WaitForCamera(10000));
        ASSERT_TRUE(dlg->Camera().IsConnected());
    }
    void TearDown() override
    {
        dlg.reset();
        RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
    }

    static constexpr double kToleranceMs = 400;
    // Each reply 20 ms late, so a sweep outruns the board.
    static SimBoardOptions SlowReplies()
    {
        SimBoardOptions options;
        options.delayMs = 20;
        return options;
    }
    RealTimeSimPlatform line;
    SwitchableBoard board{SlowReplies()};
    std::unique_ptr<CPelvarDlg> dlg;
    HWND hwnd = nullptr;
};

// A board gone silent holds the worker for the transaction's six attempts
// (about 3 s), not the window: it answers within 100 ms meanwhile, and
// closing it then ends with the running attempt, the port released.
TEST_F(PanelRealTime, ASilentBoardBlocksNeitherTheWindowNorItsClosing)
{
    board.on = false;
    std::atomic<bool> probed{false};
    bool busy = false;
    bool answered = false;
    double answerMs = 0;
    std::thread probe([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        busy = !dlg->Worker().Idle();
        DWORD_PTR result = 0;
        const auto sent = std::chrono::steady_clock::now();
        answered = SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 100, &result) != 0;
        answerMs = MsSince(sent);
        probed = true;
    });
    SendDlgItemMessageW(hwnd, IDC_EDGE, BM_CLICK, 0, 0);
    const bool pumped = PumpUntil([&] { return probed.load(); }, 10000);
    probe.join();
    ASSERT_TRUE(pumped);
    EXPECT_TRUE(busy);
    EXPECT_TRUE(answered);
    EXPECT_LT(answerMs, 100.0);

    // A second command waits behind the silent one. Closing drops it and
    // ends the transaction with the attempt that runs (512 ms at most),
    // not after all six.
    SendDlgItemMessageW(hwnd, IDC_SCALE, BM_CLICK, 0, 0);
    const auto closing = std::chrono::steady_clock::now();
    dlg.reset();
    EXPECT_LT(MsSince(closing), 512 + kToleranceMs);
    EXPECT_FALSE(line.IsOpen(kBoardPort));
    for (const SimWrite& w : line.Writes(kBoardPort))
        EXPECT_NE(w.bytes, test::MakeFrame(CMD_SCALE)) << "the queued command went out";
}

// A sweep faster than the board answers: the worker sends the latest
// position each time it is free, never an older one after a newer, and the
// board ends where the slider was left.
TEST_F(PanelRealTime, ASweptSliderIsCoalescedAndEndsWhereItWasLeft)
{
    HWND slider = GetDlgItem(hwnd, IDC_BRIGHTNESS);
    line.ClearWrites(kBoardPort);
    int notifications = 0;
    for (int position = 0; position <= 255; position += 5, ++notifications) {
        SendMessageW(slider, TBM_SETPOS, TRUE, position);
        SendMessageW(hwnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), reinterpret_cast<LPARAM>(slider));
    }
    EXPECT_EQ(Narrow(test::TextOf(GetDlgItem(hwnd, IDC_BRIGHTNESS_VALUE))), "255"); // the box at once
    ASSERT_TRUE(dlg->WaitForCamera(10000));
    std::vector<int> sent;
    for (const SimWrite& w : line.Writes(kBoardPort)) {
        if (w.bytes.size() > 3 && w.bytes[2] == CMD_BRIGHTNESS)
            sent.push_back(w.bytes[3]);
    }
    ASSERT_FALSE(sent.empty());
    EXPECT_LT(sent.size(), static_cast<std::size_t>(notifications));
    EXPECT_TRUE(std::is_sorted(sent.begin(), sent.end()));
    EXPECT_EQ(std::adjacent_find(sent.begin(), sent.end()), sent.end());
    EXPECT_EQ(sent.back(), 255);
    EXPECT_EQ(board.device.Board().Adjust().brightness, 255);
    EXPECT_EQ(dlg->StatusText(), "brightness 255: sent");
}

// The worker's view calls reach the window by one posted wake-up at a
// time; one queued while the window drains must post the next, or it waits
// for an unrelated event.
TEST(PanelWakeUp, ACallQueuedWhileTheWindowDrainsPostsANewWakeUp)
{
    WakeLatch wake;
    EXPECT_TRUE(wake.Arm());
    EXPECT_FALSE(wake.Arm()) << "one is on its way";
    bool postedWhileDraining = false;
    wake.Take([&] { postedWhileDraining = wake.Arm(); });
    EXPECT_TRUE(postedWhileDraining);
    EXPECT_FALSE(wake.Arm());
    // A post that failed leaves none on its way.
    wake.Disarm();
    EXPECT_TRUE(wake.Arm());
}

TEST(PanelIcon, MinimisedIconIsCentredRoundingTowardZero)
{
    const struct {
        int client;
        int at;
    } rows[] = {{36, 2}, {32, 0}, {30, 0}, {29, -1}, {20, -5}};
    for (const auto& row : rows) {
        const IconOrigin at = IconOriginFor(row.client, row.client, 32, 32);
        EXPECT_EQ(at.x, row.at) << row.client;
        EXPECT_EQ(at.y, row.at) << row.client;
    }
}

// The modal panel: Enter and Escape leave it open and send nothing; the
// close message ends it with IDOK.
TEST(PanelModal, OnlyTheCloseMessageEndsIt)
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(kBoardPort, &board);
    CPelvarDlg dlg(
        GetModuleHandleW(nullptr), [](IPortList& list) { list.AddString("Board (COM200)"); }, sim);
    bool stillOpen = false;
    dlg.OnFirstPaint([&](HWND hwnd) {
        HWND address = GetDlgItem(hwnd, IDC_REG_ADDRESS);
        EnableWindow(address, TRUE);
        SetFocus(address);
        for (WPARAM key : {WPARAM{VK_RETURN}, WPARAM{VK_ESCAPE}}) {
            MSG msg{address, WM_KEYDOWN, key, 0, 0, {}};
            IsDialogMessageW(hwnd, &msg);
        }
        SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
        SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
        stillOpen = IsWindowVisible(hwnd) != FALSE;
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(sim.Writes(kBoardPort).empty()); // Enter did not press Connect
}

struct ProcessBox {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK FindProcessBox(HWND hwnd, LPARAM param)
{
    auto* find = reinterpret_cast<ProcessBox*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    // Shown: its texts are in place.
    if (pid != find->pid || std::wstring(cls) != L"#32770" || !IsWindowVisible(hwnd))
        return TRUE;
    find->box = hwnd;
    return FALSE;
}

BOOL CALLBACK CollectText(HWND child, LPARAM param)
{
    reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(test::TextOf(child));
    return TRUE;
}

// A window program has no console: the message is a box, then status 2.
TEST(PelvarExe, AnUnknownArgumentIsShownInAMessageBoxThenEndsWithStatus2)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self);
    exe.resize(exe.find_last_of(L'\\') + 1);
    std::wstring command = L"\"" + exe + L"..\\..\\app\\win\\pelvar.exe\" --bogus";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << GetLastError();
    ProcessBox find{process.dwProcessId, nullptr};
    for (int i = 0; i < 400 && !find.box; ++i) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            break;
        EnumWindows(FindProcessBox, reinterpret_cast<LPARAM>(&find));
    }
    std::wstring caption;
    std::vector<std::wstring> texts;
    if (find.box) {
        caption = test::TextOf(find.box);
        EnumChildWindows(find.box, CollectText, reinterpret_cast<LPARAM>(&texts));
        PostMessageW(find.box, WM_COMMAND, IDOK, 0);
    }
    const bool ended = WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0;
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    if (!ended)
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_NE(find.box, nullptr) << "no message box";
    EXPECT_EQ(caption, L"Pelvar");
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        L"unknown argument: --bogus\nusage: pelvar.exe [--demo [--picture FILE.bmp [--traffic | "
                        L"--registers MAP.json | --plot MAP.json]]]"),
              texts.end());
    EXPECT_TRUE(ended);
    EXPECT_EQ(status, 2u);
}

} // namespace
} // namespace pelvar
