// The bring-up verbs on a connection: registers by name, dumps, verified
// and field writes, watching, expectations, presets, sleep. All through the
// camera logic's register read and write, nothing else on the wire.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "camera/BoardConnection.h"
#include "camera/Preset.h"
#include "camera/RegisterAccess.h"
#include "camera/RegisterMap.h"
#include "camera/RegisterSnapshot.h"
#include "tools/pelvarctl/CtlOutput.h"
#include "tools/pelvarctl/CtlParse.h"

namespace pelvar {

// A verb with its register references looked up in the map and its preset
// read, so that every refusal comes before anything is opened or sent.
struct PlannedVerb {
    CtlCommand command;
    std::vector<RegisterTarget> targets; // reg verbs: the registers, in order
    bool named = false;                  // reg dump: the registers were named, so rc ones are read too
    Preset preset;                       // preset apply, preset save
    const RegisterMap* map = nullptr;    // the map the targets point into
    RegisterSnapshot snapshot;           // reg diff, reg restore: what to compare with or write
    std::string otherMap;                // reg diff: the snapshot was taken with another map
};

// False with *error one line for bad input (exit 2).
bool PlanVerb(const CtlCommand& command, const RegisterMap& map, PlannedVerb* plan, std::string* error);

class PortProgressPlatform;

struct VerbContext {
    BoardConnection& board;
    Adjustments& held;                      // the adjustments sent, as the panel's sliders keep them
    const std::vector<PortRef>& portsToTry; // in order
    IPlatform& platform;
    CtlOutput& out;
    std::FILE* err;                        // where refusals and hints go
    std::FILE* progress = nullptr;         // a terminal's standard error; null: no progress shown
    PortProgressPlatform* ports = nullptr; // counts the ports opened while looking for the board
    bool stopAtLoss = false;               // reg watch: end at a lost board instead of waiting for it
};

// reg read/write/dump/watch/expect, sleep, preset apply on a connected board;
// returns the exit status.
int RunRegisterVerb(const PlannedVerb& plan, VerbContext& ctx);

// preset save: no board involved.
int RunPresetSave(const PlannedVerb& plan, CtlOutput& out, std::FILE* err);

} // namespace pelvar
