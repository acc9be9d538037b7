// The simulated board's faults as the demo's menu switches them: silent,
// NAK, corrupt checksum, slow replies, drop every third reply. Both demos
// (the Qt panel's pseudo-terminal board, the Win32 panel's in-process line)
// switch the same faults with the same texts.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "camera/Bench.h"
#include "sim/SimBoard.h"

namespace pelvar {

constexpr std::uint32_t kDemoSlowReplyMs = 300; // slow, yet inside the receive window
constexpr std::uint32_t kDemoDropEvery = 3;

// Each switch reads the running board's options with `get` and hands the
// changed ones to `set`, which applies them from the board's next frame.
std::vector<FaultSwitch> BoardFaultSwitches(std::function<SimBoardOptions()> get,
                                            std::function<void(const SimBoardOptions&)> set);

} // namespace pelvar
