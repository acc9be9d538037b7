// Register access by reference ("EXPOSURE", "CTRL.GAIN", "0x0010") on a
// connected board, through the board's own register calls, so that the
// frames are the panel's. Fields are read-modify-written; what the map says
// of a register's access and width is checked before anything is sent.
// pelvarctl's bring-up verbs and the Python module share it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/Adjustments.h"
#include "camera/BoardConnection.h"
#include "camera/Preset.h"
#include "camera/RegisterMap.h"

namespace pelvar {

// "CTRL.GAIN", "EXPOSURE", or the address as "0x0010" without a map entry.
std::string TargetName(const RegisterTarget& t);
// The largest value the register or field holds.
std::uint32_t TargetLimit(const RegisterTarget& t);
// False with *error "VERB: register X is read-only (ro in the map)" and the like.
bool CheckTargetUse(const RegisterTarget& t, bool reads, bool writes, const std::string& verb, std::string* error);
bool CheckTargetValue(const RegisterTarget& t, std::uint16_t value, const std::string& verb, std::string* error);

// A write read back (--verify): refused for a w1c field or register, whose
// bits read 0 once cleared, never what was written.
bool CheckVerify(const RegisterTarget& t, const std::string& verb, std::string* error);
// The read-back shows what was written; a register's w1c bits are left out.
bool ReadBackMatches(const RegisterTarget& t, std::uint16_t wrote, std::uint16_t back);

// Reads the whole register; *field is the target's bits (the register itself without a field).
std::int32_t ReadTarget(BoardConnection& board, const RegisterTarget& t, std::uint16_t* field, std::uint16_t* whole);
// A field is written by a read of its register first, so the other bits stay.
std::int32_t WriteTarget(BoardConnection& board, const RegisterTarget& t, std::uint16_t value);

// The preset's register writes looked up in the map and checked, in file
// order; `where` names the file for messages ("preset.json", with ":LINE").
bool ResolvePresetWrites(const RegisterMap& map, const Preset& preset, const std::string& where,
                         std::vector<RegisterTarget>* targets, std::string* error);

// Sends the five adjustments in the sliders' order, then the register writes
// (targets from ResolvePresetWrites), stopping at the first failure. Each
// step is reported as it ends: "set brightness 200", "reg write EXPOSURE 0x0200".
// `held` keeps the adjustments sent, as the sliders would.
using PresetStepFn = std::function<void(const std::string& step, std::int32_t result)>;
std::int32_t ApplyPreset(BoardConnection& board, Adjustments& held, const Preset& preset,
                         const std::vector<RegisterTarget>& targets, const PresetStepFn& onStep);

} // namespace pelvar
