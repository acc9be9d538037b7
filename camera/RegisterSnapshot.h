// A board's registers saved by the map's names, compared with the board (or
// with the map's reset values) and written back. Registers that a read
// disturbs (rc) are never read here; write-only ones cannot be. pelvarctl
// and the Python module share it.
//
//   {"map": {"file": "registers.json", "fnv1a64": "9b0c..."},
//    "registers": [{"name": "CTRL", "address": "0x0012", "value": "0x8032"}]}
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera/BoardConnection.h"
#include "camera/RegisterMap.h"

namespace pelvar {

struct SnapshotEntry {
    std::string name;
    std::uint16_t address = 0;
    std::uint16_t value = 0;
};

struct RegisterSnapshot {
    std::string mapFile; // the map's file as it was named
    std::string mapHash; // Fnv1a64Hex of its bytes
    std::vector<SnapshotEntry> registers;
};

// Read by a snapshot and a comparison: readable, and a read changes nothing.
bool SnapshotReads(const RegisterInfo& reg);
// Why it is not: "rc: a read clears it, so it is not read unless named"; empty when it is.
std::string NotReadWhy(const RegisterInfo& reg);

// Reads every register SnapshotReads allows, in map order; the first failed
// read ends it, with *failed naming the register.
std::int32_t TakeSnapshot(BoardConnection& board, const RegisterMap& map, RegisterSnapshot* out, std::string* failed);
// The map's reset values, for the registers a snapshot would read that have one.
RegisterSnapshot ResetSnapshot(const RegisterMap& map);

bool SaveSnapshot(const std::string& path, const RegisterSnapshot& snapshot, std::string* error);
// False with *error one line, "PATH:LINE: what" for a malformed file.
bool LoadSnapshot(const std::string& path, RegisterSnapshot* out, std::string* error);
// Empty when the snapshot was taken with this map's bytes; else one line saying which map it was.
std::string OtherMapNote(const RegisterSnapshot& snapshot, const RegisterMap& map);

struct RegisterDifference {
    std::string name;
    const RegisterInfo* reg = nullptr; // null: the map has no register of that name
    std::uint16_t was = 0;
    std::uint16_t now = 0;
    std::int32_t result = LINK_OK; // the read's; a failed read counts as a difference
    std::string note;              // why it was not compared: "not in the map", "rc: ..."
};

// The snapshot's registers read again, in its order; only those that differ
// (or could not be compared) are returned.
std::vector<RegisterDifference> DiffSnapshot(BoardConnection& board, const RegisterMap& map,
                                             const RegisterSnapshot& snapshot);
// "CTRL 0x0012: 0x8032 -> 0x8012, MODE continuous(2) -> off(0)"; " (volatile)" after the name for one that
// changes by itself.
std::string DifferenceText(const RegisterDifference& d);

struct RestoreStep {
    std::string name;
    std::uint16_t value = 0;
    bool restored = false;
    bool written = false; // a write was sent: not restored then is a failure
    std::int32_t result = LINK_OK;
    std::string why; // when not restored: "ro", "rc: ...", "wrote 0x0001, read 0x0000", a result name
};

// Writes the snapshot's writable registers in map order, each read back; a
// register's w1c bits are written 0, so that restoring clears nothing. Every
// register of the map or the snapshot gets a step, restored or not.
std::vector<RestoreStep> RestoreSnapshot(BoardConnection& board, const RegisterMap& map,
                                         const RegisterSnapshot& snapshot);

} // namespace pelvar
