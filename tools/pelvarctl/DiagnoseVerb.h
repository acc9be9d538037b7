// `pelvarctl diagnose`: the bring-up in one command, one line a step (ports,
// each port's access, the probe, the start-up, the scratch register, the
// link's quality) and a verdict that names the symptom.
#pragma once

#include <cstdint>
#include <string>

#include "camera/RegisterMap.h"
#include "tools/pelvarctl/RegVerbs.h"

namespace pelvar {

constexpr std::uint32_t kLinkQueries = 50;
// A status query answers within a few milliseconds on a sound line.
constexpr std::uint32_t kSlowReplyMs = 25;

// Returns 0 when every step passed, 1 otherwise.
int RunDiagnose(VerbContext& ctx, const RegisterMap& map);

// The symptom a failed exchange shows: "no reply from the board ...".
std::string SymptomOf(std::int32_t result);

} // namespace pelvar
