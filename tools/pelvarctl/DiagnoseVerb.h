// `pelvarctl diagnose`: the bring-up in one command, one line a step (ports,
// each port's access, the probe, the start-up, the scratch register, the
// link's quality) and a verdict that names the symptom.
#pragma once

#include "camera/Diagnosis.h"
#include "camera/RegisterMap.h"
#include "tools/pelvarctl/RegVerbs.h"

namespace pelvar {

// Returns 0 when every step passed, 1 otherwise.
int RunDiagnose(VerbContext& ctx, const RegisterMap& map);

} // namespace pelvar
