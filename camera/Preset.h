// A preset: the five image adjustments and, optionally, register writes in
// order, kept in a JSON file that pelvarctl and the panel both read.
//
//   {"adjustments": {"brightness": 128, "contrast": 128, "red": 128, "green": 128, "blue": 128},
//    "registers": [{"register": "EXPOSURE", "value": "0x0200"}, {"register": "CTRL.GAIN", "value": 3}]}
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/Adjustments.h"

namespace pelvar {

// "register" is kept as written (an address or a name of the register map);
// the reader resolves it against its map.
struct PresetRegisterWrite {
    std::string reg;
    std::uint16_t value = 0;
    int line = 0;
};

struct Preset {
    Adjustments adjust;
    std::vector<PresetRegisterWrite> writes;
};

// All five adjustments must be present, each 0..255. On failure *error is
// one line: "SOURCE:LINE: what is wrong".
bool ParsePreset(const std::string& text, const std::string& source, Preset* preset, std::string* error);
bool LoadPreset(const std::string& path, Preset* preset, std::string* error);

std::string PresetText(const Preset& preset);
// Writes the whole file or, on failure, leaves any earlier file as it was.
bool SavePreset(const std::string& path, const Preset& preset, std::string* error);

} // namespace pelvar
