// The control panel's layout: every control of the window with its
// identifier, kind, text and place in dialog units, in creation order (group
// boxes before the controls they frame, so they stay behind them). Free of
// any GUI library, so that every front end builds its window from this table.
#pragma once

#include <array>

#include "camera/ControlIds.h"

namespace pelvar {

constexpr int kNoControlId = -1;

// Position and size in dialog units, as a template states them.
struct DialogRect {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

enum class ControlKind { PushButton, DefaultPushButton, GroupBox, Label, Edit, Slider, PortList };

enum ControlFlags : unsigned {
    kPlain = 0,
    kHidden = 1u << 0,
    kReadOnlyDigits = 1u << 1, // a value box: read-only, digits only
    kNoHScroll = 1u << 2,      // typing stops at the box's width
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    DialogRect rect;
    unsigned flags;
};

constexpr DialogRect kPanelSize{0, 0, 321, 356};
// The status line sits under the template's area, which keeps its size; the
// window is taller by its rows.
constexpr DialogRect kStatusLineRect{6, 356, 309, 10};
constexpr DialogRect kPanelWithStatusSize{0, 0, 321, 368};
// The traffic pane opens to the right of the panel, which keeps its layout;
// the window grows to hold it.
constexpr DialogRect kTrafficArea{321, 7, 420, 359};
constexpr DialogRect kPanelWithTraffic{0, 0, 747, 368};
constexpr const char* kPanelCaption = "Zandrel / Pelvar Demo";

constexpr std::array<ControlTemplate, 42> kPanelTemplate = {{
    {IDOK_BUTTON, ControlKind::PushButton, "Exit", {136, 335, 50, 14}, kHidden},
    {kNoControlId, ControlKind::GroupBox, " Serial Communication ", {6, 7, 307, 49}, kPlain},
    {IDC_CONNECT, ControlKind::DefaultPushButton, "Connect", {241, 17, 50, 14}, kPlain},
    {IDC_DISCONNECT, ControlKind::PushButton, "Disconnect", {241, 33, 50, 14}, kPlain},
    {kNoControlId, ControlKind::Label, "COM port:", {19, 21, 34, 8}, kPlain},
    // Wide enough for three digits: ports above 99 exist on Linux (COM200 is
    // the simulated board), and a clipped "20" would name the wrong port.
    {IDC_PORT_TEXT, ControlKind::Label, "", {53, 21, 16, 8}, kPlain},
    {IDC_SENSOR_TEXT, ControlKind::Label, "", {159, 20, 73, 8}, kPlain},
    {IDC_PORT_LIST, ControlKind::PortList, "", {15, 34, 215, 30}, kHidden},
    {kNoControlId, ControlKind::GroupBox, " Brightness ", {6, 58, 307, 34}, kPlain},
    {IDC_BRIGHTNESS_LABEL, ControlKind::Label, "Value:", {15, 71, 21, 8}, kPlain},
    {IDC_BRIGHTNESS_VALUE, ControlKind::Edit, "", {43, 68, 40, 14}, kReadOnlyDigits},
    {IDC_BRIGHTNESS, ControlKind::Slider, "", {90, 68, 214, 15}, kPlain},
    {kNoControlId, ControlKind::GroupBox, " Contrast ", {6, 94, 307, 34}, kPlain},
    {IDC_CONTRAST_LABEL, ControlKind::Label, "Value:", {15, 107, 21, 8}, kPlain},
    {IDC_CONTRAST_VALUE, ControlKind::Edit, "", {43, 105, 40, 14}, kReadOnlyDigits},
    {IDC_CONTRAST, ControlKind::Slider, "", {90, 105, 214, 15}, kPlain},
    {kNoControlId, ControlKind::GroupBox, "Red", {6, 130, 307, 34}, kPlain},
    {IDC_RED_LABEL, ControlKind::Label, "Value:", {15, 143, 21, 8}, kPlain},
    {IDC_RED_VALUE, ControlKind::Edit, "", {43, 141, 40, 14}, kReadOnlyDigits},
    {IDC_RED, ControlKind::Slider, "", {90, 141, 214, 15}, kPlain},
    {kNoControlId, ControlKind::GroupBox, " Green", {6, 166, 307, 34}, kPlain},
    {IDC_GREEN_LABEL, ControlKind::Label, "Value:", {15, 179, 21, 8}, kPlain},
    {IDC_GREEN_VALUE, ControlKind::Edit, "", {43, 178, 40, 14}, kReadOnlyDigits},
    {IDC_GREEN, ControlKind::Slider, "", {90, 178, 214, 15}, kPlain},
    {kNoControlId, ControlKind::GroupBox, "Blue", {6, 203, 307, 34}, kPlain},
    {IDC_BLUE_LABEL, ControlKind::Label, "Value:", {15, 216, 21, 8}, kPlain},
    {IDC_BLUE_VALUE, ControlKind::Edit, "", {43, 214, 40, 14}, kReadOnlyDigits},
    {IDC_BLUE, ControlKind::Slider, "", {90, 214, 214, 15}, kPlain},
    {IDC_EDGE, ControlKind::PushButton, "edge", {16, 244, 50, 14}, kPlain},
    {IDC_SCALE, ControlKind::PushButton, "scale", {16, 263, 50, 14}, kPlain},
    {IDC_GAMMA, ControlKind::PushButton, "gamma", {16, 281, 50, 14}, kPlain},
    {IDC_TEST_PATTERN, ControlKind::PushButton, "Test Pattern", {16, 300, 50, 14}, kPlain},
    {IDC_ARROW_UP, ControlKind::PushButton, "^", {152, 256, 18, 18}, kPlain},
    {IDC_ARROW_LEFT, ControlKind::PushButton, "<", {134, 273, 18, 18}, kPlain},
    {IDC_ARROW_RIGHT, ControlKind::PushButton, ">", {169, 273, 18, 18}, kPlain},
    {IDC_ARROW_DOWN, ControlKind::PushButton, "v", {152, 290, 18, 18}, kPlain},
    {IDC_ADDRESS_LABEL, ControlKind::Label, "Address", {217, 251, 27, 8}, kPlain},
    {IDC_REG_ADDRESS, ControlKind::Edit, "", {255, 249, 40, 14}, kNoHScroll},
    {kNoControlId, ControlKind::Label, "Content", {217, 271, 27, 8}, kPlain},
    {IDC_REG_CONTENT, ControlKind::Edit, "", {255, 269, 40, 14}, kNoHScroll},
    {IDC_REG_WRITE, ControlKind::PushButton, "write", {255, 289, 50, 14}, kPlain},
    {IDC_REG_READ, ControlKind::PushButton, "read", {255, 308, 50, 14}, kPlain},
}};

} // namespace pelvar
