// Parsers of the bring-up verbs (reg dump/watch/expect, verified writes,
// presets, sleep, diagnose), kept apart from the original grammar.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/pelvarctl/CtlParse.h"

namespace pelvar {

// `a[i]` is the word after the verb. Each sets c->verb on success.
bool ParseRegVerb(const std::vector<std::string>& a, std::size_t i, CtlCommand* c, std::string* error);
bool ParsePresetVerb(const std::vector<std::string>& a, std::size_t i, CtlCommand* c, std::string* error);
bool ParseSleepVerb(const std::vector<std::string>& a, std::size_t i, CtlCommand* c, std::string* error);

} // namespace pelvar
