// What each control of the panel does: the one table that the window, the
// camera logic and pelvarctl read, so a control's command and name live once.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pelvar {

enum class ControlRole { Slider, FunctionButton };

struct ControlBinding {
    int id; // the control's identifier
    ControlRole role;
    std::uint8_t cmd; // the command it sends
    int valueBox;     // sliders: the box that shows the value; 0 otherwise
    const char* name; // pelvarctl's name: "brightness", "test-pattern"
};

// Sliders first (brightness, contrast, red, green, blue), then the function
// buttons in the order pelvarctl lists them.
std::span<const ControlBinding> AllControlBindings();

const ControlBinding* FindBinding(int controlId);
// By pelvarctl's name, among the controls of one role; nullptr if none.
const ControlBinding* FindBinding(const std::string& name, ControlRole role);
// The slider that sends `cmd`; nullptr for a command no slider sends.
const ControlBinding* FindSliderForCommand(std::uint8_t cmd);

// The names of one role, blank-separated, for usage texts.
std::string BindingNames(ControlRole role, const char* separator = " ");

bool IsFunctionButton(int controlId);

} // namespace pelvar
