#include "sim/BoardFaults.h"

namespace pelvar {

namespace {

using Get = std::function<SimBoardOptions()>;
using Set = std::function<void(const SimBoardOptions&)>;

FaultSwitch Switch(const char* text, const Get& get, const Set& set, std::function<bool(const SimBoardOptions&)> isOn,
                   std::function<void(SimBoardOptions&, bool)> put)
{
    return {text, [get, isOn] { return isOn(get()); },
            [get, set, put](bool on) {
                SimBoardOptions o = get();
                put(o, on);
                set(o);
            }};
}

} // namespace

std::vector<FaultSwitch> BoardFaultSwitches(Get get, Set set)
{
    return {
        Switch(
            "Silent", get, set, [](const SimBoardOptions& o) { return o.silent; },
            [](SimBoardOptions& o, bool on) { o.silent = on; }),
        Switch(
            "NAK", get, set, [](const SimBoardOptions& o) { return o.nak; },
            [](SimBoardOptions& o, bool on) { o.nak = on; }),
        Switch(
            "Corrupt checksum", get, set, [](const SimBoardOptions& o) { return o.corrupt; },
            [](SimBoardOptions& o, bool on) { o.corrupt = on; }),
        Switch(
            "Slow replies (300 ms)", get, set, [](const SimBoardOptions& o) { return o.delayMs != 0; },
            [](SimBoardOptions& o, bool on) { o.delayMs = on ? kDemoSlowReplyMs : 0; }),
        Switch(
            "Drop every 3rd reply", get, set, [](const SimBoardOptions& o) { return o.dropEvery != 0; },
            [](SimBoardOptions& o, bool on) { o.dropEvery = on ? kDemoDropEvery : 0; }),
    };
}

} // namespace pelvar
