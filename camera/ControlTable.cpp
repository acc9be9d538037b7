#include "camera/ControlTable.h"

#include <array>

#include "camera/Commands.h"
#include "camera/ControlIds.h"

namespace pelvar {

namespace {

using R = ControlRole;

constexpr std::array<ControlBinding, 18> kBindings = {{
    {IDC_BRIGHTNESS, R::Slider, CMD_BRIGHTNESS, IDC_BRIGHTNESS_VALUE, "brightness"},
    {IDC_CONTRAST, R::Slider, CMD_CONTRAST, IDC_CONTRAST_VALUE, "contrast"},
    {IDC_RED, R::Slider, CMD_GAIN_RED, IDC_RED_VALUE, "red"},
    {IDC_GREEN, R::Slider, CMD_GAIN_GREEN, IDC_GREEN_VALUE, "green"},
    {IDC_BLUE, R::Slider, CMD_GAIN_BLUE, IDC_BLUE_VALUE, "blue"},
    {IDC_EDGE, R::FunctionButton, CMD_EDGE, 0, "edge"},
    {IDC_SCALE, R::FunctionButton, CMD_SCALE, 0, "scale"},
    {IDC_GAMMA, R::FunctionButton, CMD_GAMMA, 0, "gamma"},
    {IDC_TEST_PATTERN, R::FunctionButton, CMD_TEST_PATTERN, 0, "test-pattern"},
    {IDC_ARROW_LEFT, R::FunctionButton, CMD_ARROW_LEFT, 0, "left"},
    {IDC_ARROW_RIGHT, R::FunctionButton, CMD_ARROW_RIGHT, 0, "right"},
    {IDC_ARROW_UP, R::FunctionButton, CMD_ARROW_UP, 0, "up"},
    {IDC_ARROW_DOWN, R::FunctionButton, CMD_ARROW_DOWN, 0, "down"},
    // Identifiers without a control in the panel: reachable from pelvarctl.
    {IDC_CMD_INIT, R::FunctionButton, CMD_INIT, 0, "init"},
    {IDC_CMD_RELEASE, R::FunctionButton, CMD_RELEASE, 0, "release"},
    {IDC_CMD_FUNC16, R::FunctionButton, CMD_FUNC_16, 0, "func16"},
    {IDC_CMD_FUNC18, R::FunctionButton, CMD_FUNC_18, 0, "func18"},
    {IDC_CMD_FUNC19, R::FunctionButton, CMD_FUNC_19, 0, "func19"},
}};

} // namespace

std::span<const ControlBinding> AllControlBindings() { return kBindings; }

const ControlBinding* FindBinding(int controlId)
{
    for (const ControlBinding& b : kBindings) {
        if (b.id == controlId)
            return &b;
    }
    return nullptr;
}

const ControlBinding* FindBinding(const std::string& name, ControlRole role)
{
    for (const ControlBinding& b : kBindings) {
        if (b.role == role && name == b.name)
            return &b;
    }
    return nullptr;
}

const ControlBinding* FindSliderForCommand(std::uint8_t cmd)
{
    for (const ControlBinding& b : kBindings) {
        if (b.role == ControlRole::Slider && b.cmd == cmd)
            return &b;
    }
    return nullptr;
}

std::string BindingNames(ControlRole role, const char* separator)
{
    std::string names;
    for (const ControlBinding& b : kBindings) {
        if (b.role != role)
            continue;
        if (!names.empty())
            names += separator;
        names += b.name;
    }
    return names;
}

bool IsFunctionButton(int controlId)
{
    const ControlBinding* b = FindBinding(controlId);
    return b && b->role == ControlRole::FunctionButton;
}

} // namespace pelvar
