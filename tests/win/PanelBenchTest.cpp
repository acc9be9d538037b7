// The Win32 panel as a bring-up bench, through its window messages against
// the simulated board: the traffic pane, the saved log, presets, the demo's
// fault switches, the context menu, and the device notifications that end
// and resume a connection.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// The printer spooler's macro, not the simulated platform's method.
#undef AddPort

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "camera/ControlIds.h"
#include "camera/Preset.h"
#include "camera/StatusText.h"
#include "platform/HexBytes.h"
#include "sim/BoardFaults.h"
#include "sim/SimBoard.h"
#include "tests/support/FileLines.h"
#include "tests/win/PanelFixture.h"
#include "winui/PelvarDlg.h"
#include "winui/PlotView.h"
#include "winui/RegisterList.h"
#include "winui/WideText.h"

namespace pelvar {
namespace {

using test::FileLines;

constexpr int kBoardPort = 200;
constexpr int kOtherPort = 100;

// A file in the temporary directory, removed afterwards.
class TempFile {
public:
    explicit TempFile(const char* name)
    {
        wchar_t dir[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, dir);
        m_path = Narrow(dir) + "pelvar-bench-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    }
    ~TempFile() { DeleteFileW(Widen(m_path).c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class BenchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        sim.AddPort(kBoardPort, &board);
        sim.AddPort(kOtherPort);
        hwnd = dlg.Create();
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, test::kTestKey); }

    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    HWND List() const { return Item(IDC_TRAFFIC_LIST); }
    void Click(int id)
    {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    void Command(unsigned id)
    {
        SendMessageW(hwnd, WM_SYSCOMMAND, id, 0);
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    void Scroll(int id, int position)
    {
        SendMessageW(Item(id), TBM_SETPOS, TRUE, position);
        SendMessageW(hwnd, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(Item(id)));
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    // The rows reach the list a batch later, on the window's timer.
    bool ListHolds(int rows) const
    {
        return test::PumpUntil([&] { return ListView_GetItemCount(List()) == rows; }, 5000);
    }
    std::string Cell(int row, int column) const
    {
        wchar_t text[512] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 512;
        SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return Narrow(text);
    }
    // The colour the list is told to draw a row's cells on, as custom drawing asks.
    COLORREF RowBackground(int row) const
    {
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.hdr = {List(), IDC_TRAFFIC_LIST, static_cast<UINT>(NM_CUSTOMDRAW)};
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
        draw.clrTextBk = CLR_DEFAULT;
        SendMessageW(hwnd, WM_NOTIFY, IDC_TRAFFIC_LIST, reinterpret_cast<LPARAM>(&draw));
        return draw.clrTextBk;
    }
    std::string Tip(int row) const
    {
        wchar_t text[512] = {};
        NMLVGETINFOTIPW tip{};
        tip.hdr = {List(), IDC_TRAFFIC_LIST, static_cast<UINT>(LVN_GETINFOTIPW)};
        tip.pszText = text;
        tip.cchTextMax = 512;
        tip.iItem = row;
        SendMessageW(hwnd, WM_NOTIFY, IDC_TRAFFIC_LIST, reinterpret_cast<LPARAM>(&tip));
        return Narrow(text);
    }
    RECT WindowRect() const
    {
        RECT r{};
        GetWindowRect(hwnd, &r);
        return r;
    }
    // A port's arrival or removal, as the system sends it to every top-level
    // window (sent, not posted: Windows refuses to post these with their data).
    void SendPortChange(WPARAM event, const wchar_t* name)
    {
        DEV_BROADCAST_PORT_W port[2]{};
        port[0].dbcp_size = sizeof(port);
        port[0].dbcp_devicetype = DBT_DEVTYP_PORT;
        lstrcpynW(port[0].dbcp_name, name, 16);
        SendMessageW(hwnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&port[0]));
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }
    void SendInterfaceChange(WPARAM event, const wchar_t* name)
    {
        std::vector<std::uint8_t> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + 2 * (lstrlenW(name) + 1));
        auto* notice = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
        notice->dbcc_size = static_cast<DWORD>(bytes.size());
        notice->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        lstrcpyW(notice->dbcc_name, name);
        SendMessageW(hwnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(notice));
        ASSERT_TRUE(dlg.WaitForCamera(10000));
    }

    SimPlatform sim;
    SimBoardDevice board;
    std::vector<std::string> listed{"Simulated board (COM200)"};
    CPelvarDlg dlg{GetModuleHandleW(nullptr),
                   [this](IPortList& list) {
                       for (const std::string& entry : listed)
                           list.AddString(entry);
                   },
                   sim, test::TestMemory()};
    HWND hwnd = nullptr;
};

TEST_F(BenchTest, PaneOpensBesideThePanelAndFillsWithAConnectAndASliderMove)
{
    ASSERT_NE(List(), nullptr);
    EXPECT_FALSE(IsWindowVisible(List())) << "hidden by default";
    const RECT plain = WindowRect();
    Command(IDM_TRAFFIC_PANE);
    EXPECT_TRUE(IsWindowVisible(List()));
    EXPECT_GT(WindowRect().right - WindowRect().left, plain.right - plain.left);
    EXPECT_EQ(WindowRect().bottom - WindowRect().top, plain.bottom - plain.top);
    HWND header = ListView_GetHeader(List());
    ASSERT_EQ(Header_GetItemCount(header), 7);
    std::vector<std::string> titles;
    for (int c = 0; c < 7; ++c) {
        wchar_t text[32] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT;
        item.pszText = text;
        item.cchTextMax = 32;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
        titles.push_back(Narrow(text));
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Time", "Command", "Meaning", "Result", "Attempts", "Took", "Frames"}));

    Click(IDC_CONNECT);
    Scroll(IDC_BRIGHTNESS, 200);
    // status probe, init, status, blue gain, brightness
    ASSERT_TRUE(ListHolds(5));
    EXPECT_EQ(Cell(0, 2), "status 0x00: not started");
    EXPECT_EQ(Cell(2, 2), "status 0x11: active, ARVEN-L");
    EXPECT_EQ(Cell(4, 1), "brightness");
    EXPECT_EQ(Cell(4, 2), "brightness 200");
    EXPECT_EQ(Cell(4, 3), "LINK_OK");
    EXPECT_EQ(Cell(4, 4), "1");
    EXPECT_EQ(Cell(1, 6).rfind("> 02 02 70 70 03  < ", 0), 0u) << Cell(1, 6);
    EXPECT_EQ(Cell(4, 6).rfind("> 02 06 91 C8 00 00 00", 0), 0u) << Cell(4, 6);
    const std::string tip = Tip(4);
    EXPECT_EQ(tip.rfind("> 02 06 91 C8 00 00 00", 0), 0u) << tip;
    EXPECT_EQ(std::count(tip.begin(), tip.end(), '\n'), 1) << "the frame sent, the reply: one a line";
    EXPECT_EQ(RowBackground(4), static_cast<COLORREF>(CLR_DEFAULT)) << "a plain exchange is not marked";

    Command(IDM_TRAFFIC_PANE);
    EXPECT_FALSE(IsWindowVisible(List()));
    EXPECT_EQ(WindowRect().right - WindowRect().left, plain.right - plain.left);
}

// The register view drawn by the window; what its rows hold is the shared
// model's, tested in the camera tests.
TEST_F(BenchTest, RegisterViewFromAMapAndAFieldPickedByNameReachesTheBoard)
{
    Command(IDM_REGISTER_VIEW);
    ASSERT_TRUE(dlg.RegisterViewShown());
    EXPECT_TRUE(IsWindowVisible(Item(IDC_REG_NO_MAP)));
    wchar_t noMap[512] = {};
    GetWindowTextW(Item(IDC_REG_NO_MAP), noMap, 512);
    EXPECT_NE(Narrow(noMap).find("\"Load map...\""), std::string::npos) << Narrow(noMap);

    TempFile map("registers.json");
    std::ofstream(map.Path()) << R"({"registers": [
      {"name": "CTRL", "address": "0x0012", "fields": [
        {"name": "MODE", "lsb": 4, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3}},
        {"name": "EN", "lsb": 0, "width": 1}]},
      {"name": "IRQ", "address": "0x0020", "access": "rc"}]})";
    Click(IDC_CONNECT);
    ASSERT_EQ(dlg.Camera().Board().WriteRegister(0x12, 0x0021), LINK_OK);
    std::string error;
    ASSERT_TRUE(dlg.Registers().LoadMap(map.Path(), &error)) << error;
    HWND list = Item(IDC_REGISTER_LIST);
    EXPECT_TRUE(IsWindowVisible(list));
    ASSERT_EQ(ListView_GetItemCount(list), 4); // CTRL, MODE, EN, IRQ
    const auto cell = [&](int row, int column) {
        wchar_t text[256] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = 256;
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return Narrow(text);
    };
    EXPECT_EQ(cell(0, kRegViewName), "- CTRL");
    EXPECT_EQ(cell(1, kRegViewName), "MODE");
    EXPECT_EQ(cell(3, kRegViewRaw), "not read (rc)");
    // Left on a field folds its register away; Right shows the fields again.
    const auto key = [&](int row, WORD vk) {
        ListView_SetItemState(list, row, LVIS_FOCUSED, LVIS_FOCUSED);
        NMLVKEYDOWN down{{list, static_cast<UINT_PTR>(IDC_REGISTER_LIST), static_cast<UINT>(LVN_KEYDOWN)}, vk, 0};
        LRESULT result = 0;
        dlg.Registers().OnNotify(&down.hdr, &result);
    };
    key(1, VK_LEFT);
    ASSERT_EQ(ListView_GetItemCount(list), 2); // CTRL, IRQ
    EXPECT_EQ(cell(0, kRegViewName), "+ CTRL");
    EXPECT_EQ(cell(1, kRegViewName), "IRQ");
    EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 0);
    key(0, VK_RIGHT);
    ASSERT_EQ(ListView_GetItemCount(list), 4);

    Click(IDC_REG_REFRESH);
    ASSERT_TRUE(test::PumpUntil([&] { return cell(1, kRegViewDecoded) == "continuous(2)"; }, 5000))
        << cell(1, kRegViewDecoded);

    Click(IDC_REG_SNAPSHOT);
    ASSERT_TRUE(dlg.WaitForCamera(10000));

    // MODE picked from the drop-down list of its names, as the operator does.
    sim.ClearWrites(kBoardPort);
    ASSERT_TRUE(dlg.Registers().BeginEdit(1, kRegViewDecoded));
    HWND names = dlg.Registers().Editor();
    ASSERT_NE(names, nullptr);
    ASSERT_EQ(SendMessageW(names, CB_GETCOUNT, 0, 0), 3);
    SendMessageW(names, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"single"));
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_REG_EDITOR, CBN_SELENDOK), reinterpret_cast<LPARAM>(names));
    ASSERT_TRUE(test::PumpUntil([&] { return cell(1, kRegViewDecoded) == "single(3)"; }, 5000))
        << cell(1, kRegViewDecoded);
    EXPECT_EQ(dlg.Registers().Editor(), nullptr);
    bool wrote = false;
    for (const SimWrite& w : sim.Writes(kBoardPort))
        wrote = wrote || w.bytes == std::vector<std::uint8_t>{0x02, 0x04, 0xA4, 0x31, 0x00, 0x93, 0x03};
    EXPECT_TRUE(wrote);
    EXPECT_EQ(board.Board().Register(0x12), 0x0031);

    // Compared with the snapshot: the list paints CTRL and MODE apart, not EN or IRQ.
    Click(IDC_REG_COMPARE);
    ASSERT_TRUE(dlg.WaitForCamera(10000));
    const auto standsOut = [&](int row) {
        constexpr COLORREF kUntouched = RGB(1, 2, 3);
        NMLVCUSTOMDRAW draw{};
        draw.nmcd.hdr = {list, static_cast<UINT_PTR>(IDC_REGISTER_LIST), static_cast<UINT>(NM_CUSTOMDRAW)};
        draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
        draw.nmcd.dwItemSpec = static_cast<DWORD_PTR>(row);
        draw.clrTextBk = kUntouched;
        LRESULT result = 0;
        dlg.Registers().OnNotify(&draw.nmcd.hdr, &result);
        return draw.clrTextBk != kUntouched;
    };
    ASSERT_TRUE(test::PumpUntil([&] { return standsOut(0); }, 5000));
    EXPECT_TRUE(standsOut(1));
    EXPECT_FALSE(standsOut(2));
    EXPECT_FALSE(standsOut(3));
}

// The plot drawn by the window, fed from the simulated board; the series'
// rules are the shared model's, tested in the camera tests.
TEST_F(BenchTest, PlotSamplesTheBoardAndBreaksAtAGap)
{
    Click(IDC_CONNECT);
    Command(IDM_PLOT);
    ASSERT_TRUE(dlg.PlotShown());
    EXPECT_FALSE(dlg.RegisterViewShown());
    EXPECT_TRUE(IsWindowVisible(Item(IDC_PLOT_CANVAS)));
    SetWindowTextW(Item(IDC_PLOT_NAMES), L"0x0012");
    Click(IDC_PLOT_ADD);
    Click(IDC_PLOT_ADD_RESPONSE);
    ASSERT_EQ(dlg.Camera().Board().WriteRegister(0x12, 0x0021), LINK_OK);
    const RegisterPlotModel& plot = dlg.PlotView().Plot();
    ASSERT_EQ(plot.Series().size(), 2u);
    EXPECT_EQ(plot.Series()[0].Name(), "0x0012");
    ASSERT_TRUE(test::PumpUntil([&] { return plot.Series()[0].Size() >= 2; }, 5000));
    sim.FailRead(kBoardPort, true);
    ASSERT_TRUE(test::PumpUntil(
        [&] {
            const PlotSeries& s = plot.Series()[0];
            return s.At(s.Size() - 1).gap;
        },
        20000));
    sim.FailRead(kBoardPort, false);
    ASSERT_TRUE(test::PumpUntil([&] { return plot.Series()[0].Segments().size() >= 2; }, 20000));
    EXPECT_EQ(plot.Series()[0].Segments().back().back().value, 0x21);

    // Saved as the canvas shows it, twice to one name as a user does.
    TempFile png("plot.png");
    std::string error;
    ASSERT_TRUE(dlg.PlotView().SavePng(png.Path(), &error)) << error;
    ASSERT_TRUE(dlg.PlotView().SavePng(png.Path(), &error)) << error;
    std::ifstream in(png.Path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(bytes.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const auto be32 = [&](std::size_t at) {
        return (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16)
               | (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint8_t(bytes[at + 3]);
    };
    RECT canvas{};
    GetClientRect(Item(IDC_PLOT_CANVAS), &canvas);
    EXPECT_EQ(be32(16), std::uint32_t(canvas.right));
    EXPECT_EQ(be32(20), std::uint32_t(canvas.bottom));
    EXPECT_EQ(bytes.substr(bytes.size() - 8, 4), "IEND");
    const std::string nowhere = png.Path() + ".gone\\plot.png";
    EXPECT_FALSE(dlg.PlotView().SavePng(nowhere, &error));
    EXPECT_EQ(error, nowhere + ": cannot write: No such file or directory");
    Command(IDM_PLOT);
    EXPECT_FALSE(IsWindowVisible(Item(IDC_PLOT_CANVAS)));
}

TEST_F(BenchTest, DemoFaultSwitchesActOnTheBoardAndTheFailedRowsStandOut)
{
    std::mutex lock;
    dlg.SetFaultSwitches(BoardFaultSwitches(
        [&] {
            std::lock_guard<std::mutex> hold(lock);
            return board.Board().Options();
        },
        [&](const SimBoardOptions& o) {
            std::lock_guard<std::mutex> hold(lock);
            board.Board().SetOptions(o);
        }));
    Click(IDC_CONNECT);
    Command(FaultCommand(1));
    EXPECT_EQ(dlg.StatusText(), "Simulated board: NAK on");
    EXPECT_TRUE(board.Board().Options().nak);
    Click(IDC_EDGE);
    EXPECT_EQ(board.Board().CommandCount(CMD_EDGE), 0u) << "refused";
    Command(FaultCommand(1));
    EXPECT_EQ(dlg.StatusText(), "Simulated board: NAK off");
    Click(IDC_GAMMA);
    EXPECT_EQ(board.Board().CommandCount(CMD_GAMMA), 1u);
    ASSERT_TRUE(ListHolds(6));
    EXPECT_EQ(Cell(4, 3), "LINK_ERR_NAK");
    EXPECT_EQ(Cell(4, 4), "6");
    EXPECT_EQ(RowBackground(4), RGB(255, 205, 210));
    EXPECT_EQ(RowBackground(5), static_cast<COLORREF>(CLR_DEFAULT));

    // The switches sit in a submenu of the system menu, checked as they stand.
    Command(FaultCommand(4));
    SendMessageW(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(GetSystemMenu(hwnd, FALSE)), MAKELPARAM(0, TRUE));
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    HMENU faults = GetSubMenu(menu, GetMenuItemCount(menu) - 1);
    ASSERT_NE(faults, nullptr);
    ASSERT_EQ(GetMenuItemCount(faults), 5);
    EXPECT_EQ(GetMenuItemID(faults, 4), FaultCommand(4));
    EXPECT_EQ(GetMenuState(faults, 4, MF_BYPOSITION) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(faults, 1, MF_BYPOSITION) & MF_CHECKED, 0u);
    EXPECT_EQ(board.Board().Options().dropEvery, 3u);
}

// The bench's files come from this window's pane and trackbars (their
// contents are the bench's own tests, tests/camera/BenchTest.cpp).
TEST_F(BenchTest, SavedLogHasOneDecodedLineForEachExchangeOfThePane)
{
    Click(IDC_CONNECT);
    SetDlgItemTextW(hwnd, IDC_REG_ADDRESS, L"0x0010");
    SetDlgItemTextW(hwnd, IDC_REG_CONTENT, L"0xbeef");
    Click(IDC_REG_WRITE);
    const TempFile log("session.log");
    std::string error;
    // The pane is hidden and its batch not yet added: the log has it all.
    ASSERT_TRUE(dlg.BenchLogic().SaveLog(log.Path(), &error)) << error;
    const std::vector<std::string> lines = FileLines(log.Path());
    ASSERT_EQ(lines.size(), 6u); // 4 of Connect, the address latch, the write
    EXPECT_NE(lines[5].find("reg 0x0010 = 0xbeef"), std::string::npos) << lines[5];
}

TEST_F(BenchTest, SettingsRoundTripThroughAFileMoveTheTrackbars)
{
    SendMessageW(Item(IDC_GREEN), TBM_SETPOS, TRUE, 42);
    const TempFile saved("saved.json");
    std::string error;
    ASSERT_TRUE(dlg.BenchLogic().SaveSettings(saved.Path(), &error)) << error;
    Preset preset;
    ASSERT_TRUE(LoadPreset(saved.Path(), &preset, &error)) << error;
    EXPECT_EQ(preset.adjust.green, 42);

    preset.adjust.brightness = 200;
    preset.adjust.blue = 7;
    const TempFile other("other.json");
    ASSERT_TRUE(SavePreset(other.Path(), preset, &error));
    ASSERT_TRUE(dlg.BenchLogic().LoadSettings(other.Path(), &error)) << error;
    ASSERT_TRUE(dlg.WaitForCamera(10000));
    EXPECT_EQ(SendMessageW(Item(IDC_BRIGHTNESS), TBM_GETPOS, 0, 0), 200);
    EXPECT_EQ(SendMessageW(Item(IDC_GREEN), TBM_GETPOS, 0, 0), 42);
    wchar_t text[8] = {};
    GetDlgItemTextW(hwnd, IDC_BLUE_VALUE, text, 8);
    EXPECT_STREQ(text, L"7");
}

TEST_F(BenchTest, TheSameItemsOpenOnARightClickInTheBackgroundAndFromTheKeyboard)
{
    HMENU menu = dlg.CreateBenchMenu();
    std::vector<unsigned> ids;
    for (int i = 0; i < GetMenuItemCount(menu); ++i)
        ids.push_back(GetMenuItemID(menu, i));
    DestroyMenu(menu);
    EXPECT_EQ(ids, (std::vector<unsigned>{IDM_ABOUTBOX, 0, IDM_AUTO_RECONNECT, IDM_RS485, 0, IDM_TRAFFIC_PANE,
                                          IDM_REGISTER_VIEW, IDM_PLOT, IDM_SAVE_LOG, IDM_SAVE_CAPTURE,
                                          IDM_SAVE_SETTINGS, IDM_LOAD_SETTINGS, IDM_RECORD, IDM_RECORD_PAUSES}));

    // Reconnect automatically: switched from the menu, kept in the registry.
    EXPECT_TRUE(dlg.Worker().AutoReconnect());
    Command(IDM_AUTO_RECONNECT);
    EXPECT_FALSE(dlg.Worker().AutoReconnect());
    EXPECT_FALSE(CRegistryPortMemory(test::kTestKey).AutoReconnect());
    Command(IDM_AUTO_RECONNECT);
    EXPECT_TRUE(CRegistryPortMemory(test::kTestKey).AutoReconnect());

    // The menu is tracked modally: a timer sees it open, then closes it.
    // Shift+F10 and the menu key send no position. A click on a button is
    // the button's: no menu opens.
    RECT button{};
    GetWindowRect(Item(IDC_CONNECT), &button);
    const LPARAM onButton = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    static bool menuOpen = false;
    for (const auto& [clicked, where, opens] :
         {std::tuple{hwnd, LPARAM(-1), true}, std::tuple{hwnd, MAKELPARAM(5, 5), true},
          std::tuple{Item(IDC_CONNECT), onButton, false}}) {
        menuOpen = false;
        SetTimer(hwnd, 0x51, 150, [](HWND window, UINT, UINT_PTR id, DWORD) {
            KillTimer(window, id);
            HWND popup = FindWindowW(L"#32768", nullptr);
            menuOpen = popup != nullptr && IsWindowVisible(popup);
            EndMenu();
        });
        SendMessageW(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(clicked), where);
        test::PumpUntil([] { return false; }, 300);
        KillTimer(hwnd, 0x51);
        EXPECT_EQ(menuOpen, opens) << where;
    }
}

// A session recorded in the panel is a pelvarctl script: each operation that
// went to the board, one a line. With PELVAR_RECORD_OUT naming a directory
// the script and the frames the board received go there, and
// tests/win/ctl-e2e.sh replays the script with pelvarctl.exe against
// pelvar-sim and compares the frames.
TEST_F(BenchTest, RecordedSessionIsAScriptOfTheOperationsThatWentToTheBoard)
{
    const char* out = std::getenv("PELVAR_RECORD_OUT");
    const TempFile temp("session.txt");
    const std::string script = out != nullptr ? std::string(out) + "\\session.txt" : temp.Path();
    Click(IDC_CONNECT);
    const std::size_t before = sim.Writes(kBoardPort).size();
    std::string error;
    ASSERT_TRUE(dlg.BenchLogic().StartRecording(script, false, &error)) << error;
    Scroll(IDC_RED, 10);
    Scroll(IDC_RED, 11);
    Click(IDC_EDGE);
    SetDlgItemTextW(hwnd, IDC_REG_ADDRESS, L"0x0010");
    SetDlgItemTextW(hwnd, IDC_REG_CONTENT, L"0xbeef");
    Click(IDC_REG_WRITE);
    Click(IDC_REG_READ);
    Click(IDC_DISCONNECT);
    dlg.BenchLogic().StopRecording();
    EXPECT_EQ(FileLines(script),
              (std::vector<std::string>{"# pelvar session: replay with pelvarctl run FILE", "set red 10", "set red 11",
                                        "press edge", "reg write 0x0010 0xbeef", "reg read 0x0010", "disconnect"}));
    const std::vector<SimWrite>& writes = sim.Writes(kBoardPort);
    ASSERT_GE(writes.size(), before + 7);
    if (out == nullptr)
        return;
    std::ofstream frames(std::string(out) + "\\panel-frames.txt");
    for (std::size_t i = before; i < writes.size(); ++i)
        frames << HexBytes(writes[i].bytes) << "\n";
}

// The notifications the system sends, sent to the window's handler: the removal of
// the open port ends the connection at once, the same port's return
// reconnects with the adjustments, another port's arrival is not probed.
TEST_F(BenchTest, DeviceNotificationsEndAndResumeTheConnection)
{
    Click(IDC_CONNECT);
    Scroll(IDC_RED, 9);
    SendPortChange(DBT_DEVICEREMOVECOMPLETE, L"COM7");
    EXPECT_TRUE(dlg.Camera().IsConnected()) << "another port went";

    SendPortChange(DBT_DEVICEREMOVECOMPLETE, L"COM200");
    EXPECT_FALSE(dlg.Camera().IsConnected());
    EXPECT_EQ(dlg.StatusText(), "Board unplugged: disconnected");
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_CONNECT)));
    EXPECT_EQ(sim.OpenCount(), 0);

    // The board's adapter is away; another one is plugged in.
    listed = {"Other adapter (COM100)"};
    SendPortChange(DBT_DEVICEARRIVAL, L"COM100");
    EXPECT_EQ(sim.OpenCalls(kOtherPort), 0) << "not the adapter that was pulled";
    ASSERT_EQ(dlg.PortCount(), 1) << "the list is read again";
    EXPECT_EQ(dlg.PortEntry(0), "Other adapter (COM100)");
    EXPECT_FALSE(dlg.Camera().IsConnected());

    const std::size_t redBefore = board.Board().CommandCount(CMD_GAIN_RED);
    listed.push_back("Simulated board (COM200)");
    SendPortChange(DBT_DEVICEARRIVAL, L"COM200");
    ASSERT_TRUE(dlg.Camera().IsConnected());
    EXPECT_EQ(dlg.StatusText(), "Board back on COM200: reconnected, adjustments sent");
    EXPECT_EQ(board.Board().CommandCount(CMD_GAIN_RED), redBefore + 1);
    EXPECT_EQ(board.Board().Adjust().red, 9);
    EXPECT_EQ(sim.OpenCalls(kOtherPort), 0);

    // An interface notification names no COM number: with no serial number
    // remembered it is about no adapter in particular.
    SendInterfaceChange(DBT_DEVICEREMOVECOMPLETE,
                        L"\\\\?\\USB#VID_0403&PID_6001#A1B2C3#{86e0d1e0-8089-11d0-9ce4-08003e301f73}");
    EXPECT_TRUE(dlg.Camera().IsConnected());

    // Switched off, the return is left to the operator.
    Command(IDM_AUTO_RECONNECT);
    SendPortChange(DBT_DEVICEREMOVECOMPLETE, L"COM200");
    SendPortChange(DBT_DEVICEARRIVAL, L"COM200");
    EXPECT_FALSE(dlg.Camera().IsConnected());
}

} // namespace
} // namespace pelvar
