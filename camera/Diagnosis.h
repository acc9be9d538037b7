// The bring-up in one call: the ports found, each port's access, the probe,
// the start-up, the scratch register of the map, the link's quality; each
// step reported as it ends, then a verdict that names the symptom.
// pelvarctl diagnose prints it, the Python module returns it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/BoardConnection.h"
#include "camera/RegisterMap.h"

namespace pelvar {

constexpr std::uint32_t kLinkQueries = 50;
// A status query answers within a few milliseconds on a sound line.
constexpr std::uint32_t kSlowReplyMs = 25;
// What a status query needs at the least: its request and reply on the wire
// at 115200 bit/s (10 bits a byte), the board's reply time, and the RTS hold
// before the host listens.
constexpr std::uint32_t kDiagnosisBaud = 115200;
constexpr std::uint32_t kBoardReplyUs = 1000; // a board answers a status query within this
// Excess over the least time that a latency timer of T ms explains: from T/2
// (the timer's phase) up to T plus this.
constexpr std::uint32_t kTimerMatchSlackUs = 2000;
// RTS lowered later than this after the hold is named: beyond a tick's
// jitter, the host's scheduling is in the way.
constexpr std::uint32_t kRtsLateMs = 1;

// A port busy right after the access check is opened again this often, this far apart.
constexpr int kBusyRetries = 5;
constexpr std::uint32_t kBusyRetryMs = 100;

struct DiagnosisStep {
    std::string step; // "ports", "access", "probe", "start-up", "scratch", "link", "latency", "rts"
    bool ok = false;
    std::string text; // "1 found: COM200"
};

struct DiagnosisVerdict {
    bool ok = false;
    std::int32_t result = 0; // the failed exchange's result; LINK_OK when the symptom is no link failure
    std::string text;        // "ok: board on COM200, ..." or "FAIL: no reply from the board ..."
};

using DiagnosisStepFn = std::function<void(const DiagnosisStep&)>;

// For a front end that shows long work alive; either may be empty.
struct DiagnosisProgress {
    std::function<void(bool searching)> portSearch;      // true before the probe's search, false after
    std::function<void(std::uint32_t done)> linkQueries; // before each of kLinkQueries, then kLinkQueries
};

// On a board that is not connected, tries `ports` in order and leaves the
// board connected when it was found. On a connected board, the port and the
// start-up are left as they are (nothing is sent again) and the board is
// examined on its link.
DiagnosisVerdict Diagnose(BoardConnection& board, const std::vector<PortRef>& ports, const RegisterMap& map,
                          const DiagnosisStepFn& onStep, const DiagnosisProgress& progress = {});

// Why a status query takes `roundTripMs` rather than the protocol's least
// time, when the adapter's latency timer (`adapter`) explains it: "replies
// arrive 14.0 ms late: the adapter's latency timer is 16 ms; ..." with the
// fix. Empty when the timer is unknown or does not explain the excess.
std::string LatencyTimerFinding(std::uint32_t roundTripMs, const AdapterFacts& adapter);

// What RTS falling `lateMs` after its hold means, with the fix: "RTS fell
// 7.0 ms after the frame instead of 2 ms: ...". Empty up to kRtsLateMs.
std::string RtsReleaseFinding(std::uint32_t lateMs);

// The least round trip of a status query in microseconds.
std::uint32_t StatusQueryFloorUs();

// The symptom a failed exchange shows: "no reply from the board ..."; when
// it read `unframedBytes` without a frame, bytes arrive but no frame.
std::string SymptomOf(std::int32_t result, std::uint32_t unframedBytes = 0);

} // namespace pelvar
