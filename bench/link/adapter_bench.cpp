// What a USB adapter's latency timer costs the link's exchanges, on the
// simulated clock (exact, no wall time): a status query, an acknowledged
// adjustment and a 256-register dump with no adapter (the line's floor), an
// adapter left at its 16 ms timer, and one lowered to 1 ms on open.
#include <cerrno>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "camera/BoardConnection.h"
#include "camera/Commands.h"
#include "sim/SimBoard.h"

using namespace pelvar;

namespace {

constexpr int kPort = 33;

struct Work {
    const char* name;
    std::uint32_t replies;
    std::function<bool(BoardConnection&)> run;
};

// Virtual ms that `work` takes on a started board behind `adapter`.
std::uint32_t Measure(const Work& work, const std::optional<SimAdapter>& adapter)
{
    SimPlatform sim;
    SimBoardDevice board;
    sim.AddPort(kPort, &board);
    if (adapter)
        sim.SetAdapter(kPort, *adapter);
    BoardConnection connection(sim);
    std::uint8_t status = 0;
    if (!connection.Detect(std::vector<PortRef>{PortRef::Com(kPort)}, &status)
        || connection.Start(status, kStartLimitMs).result != LINK_OK) {
        std::fprintf(stderr, "%s: the board did not start\n", work.name);
        return 0;
    }
    // Each run starts where the one before it ended, as in a session.
    work.run(connection);
    const std::uint32_t t0 = sim.Now();
    if (!work.run(connection)) {
        std::fprintf(stderr, "%s: failed\n", work.name);
        return 0;
    }
    return sim.Now() - t0;
}

} // namespace

int main()
{
    const std::vector<Work> work = {
        {"status query", 1, [](BoardConnection& b) { return b.QueryStatus().result == LINK_OK; }},
        {"adjustment (acknowledged)", 1,
         [](BoardConnection& b) { return b.SetAdjustment(CMD_BRIGHTNESS, 200) == LINK_OK; }},
        {"reg dump, 256 registers", 512,
         [](BoardConnection& b) {
             for (std::uint32_t a = 0; a < 256; ++a) {
                 if (b.ReadRegister(static_cast<std::uint16_t>(a)).result != LINK_OK)
                     return false;
             }
             return true;
         }},
    };
    SimAdapter refused; // the default 16 ms timer, kept
    refused.lowLatencyRefusal = EPERM;
    const SimAdapter lowered; // lowered to 1 ms on open

    std::printf("%-28s %8s %10s %10s %10s %8s %10s\n", "exchange", "replies", "floor ms", "16 ms tmr", "1 ms tmr",
                "1ms/flr", "goal ms");
    bool met = true;
    for (const Work& w : work) {
        const std::uint32_t floor = Measure(w, std::nullopt);
        const std::uint32_t slow = Measure(w, refused);
        const std::uint32_t fast = Measure(w, lowered);
        // Within 1.1 times the floor plus 1 ms a reply.
        const double goal = 1.1 * floor + w.replies;
        met = met && fast <= goal;
        std::printf("%-28s %8u %10u %10u %10u %8.3f %10.1f%s\n", w.name, w.replies, floor, slow, fast,
                    floor ? static_cast<double>(fast) / floor : 0.0, goal, fast <= goal ? "" : "  MISSED");
    }
    return met ? 0 : 1;
}
