// Identifiers of the control panel's controls and the order in which an
// enable set walks them. Shared by the window and the logic behind it.
#pragma once

#include <array>

namespace pelvar {

constexpr int IDOK_BUTTON = 1;     // hidden "Exit"
constexpr int IDC_CMD_INIT = 3;    // no control in the panel
constexpr int IDC_CMD_RELEASE = 4; // no control in the panel
constexpr int IDC_CMD_FUNC16 = 5;  // no control in the panel
constexpr int IDC_SCALE = 6;
constexpr int IDC_CMD_FUNC18 = 7; // no control in the panel
constexpr int IDC_CMD_FUNC19 = 8; // no control in the panel
constexpr int IDC_EDGE = 9;
constexpr int IDC_GAMMA = 10;
constexpr int IDC_TEST_PATTERN = 11;
constexpr int IDC_CONNECT = 1000;
constexpr int IDC_DISCONNECT = 1001;
constexpr int IDC_PORT_LIST = 1002;
constexpr int IDC_BRIGHTNESS_VALUE = 1003;
constexpr int IDC_BRIGHTNESS_LABEL = 1004;
constexpr int IDC_BRIGHTNESS = 1005;
constexpr int IDC_CONTRAST_LABEL = 1006;
constexpr int IDC_CONTRAST_VALUE = 1007;
constexpr int IDC_CONTRAST = 1008;
constexpr int IDC_RED_LABEL = 1009;
constexpr int IDC_RED_VALUE = 1010;
constexpr int IDC_RED = 1011;
constexpr int IDC_GREEN_LABEL = 1012;
constexpr int IDC_GREEN_VALUE = 1013;
constexpr int IDC_GREEN = 1014;
constexpr int IDC_BLUE_LABEL = 1015;
constexpr int IDC_BLUE_VALUE = 1016;
constexpr int IDC_BLUE = 1017;
constexpr int IDC_ARROW_LEFT = 1021;
constexpr int IDC_ARROW_RIGHT = 1022;
constexpr int IDC_ARROW_UP = 1023;
constexpr int IDC_ARROW_DOWN = 1024;
constexpr int IDC_REG_READ = 1025;
constexpr int IDC_REG_ADDRESS = 1026;
constexpr int IDC_REG_CONTENT = 1027;
constexpr int IDC_ADDRESS_LABEL = 1028;
constexpr int IDC_REG_WRITE = 1029;
constexpr int IDC_PORT_TEXT = 1030;
constexpr int IDC_SENSOR_TEXT = 1031;

constexpr int IDM_ABOUTBOX = 0x0010;

// After Connect (by connectEnabled), each of these by othersEnabled, in order.
constexpr std::array<int, 18> kEnableSetOrder = {
    IDC_DISCONNECT, IDC_CMD_INIT,    IDC_CMD_RELEASE, IDC_CMD_FUNC16, IDC_SCALE,       IDC_CMD_FUNC19,
    IDC_EDGE,       IDC_GAMMA,       IDC_CMD_FUNC18,  IDC_ARROW_LEFT, IDC_ARROW_RIGHT, IDC_ARROW_UP,
    IDC_ARROW_DOWN, IDC_REG_ADDRESS, IDC_REG_CONTENT, IDC_REG_WRITE,  IDC_REG_READ,    IDC_TEST_PATTERN,
};

} // namespace pelvar
