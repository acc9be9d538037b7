// How long the window's event loop stands still: a 1 ms timer's turns,
// watched until the bench's condition holds.
#pragma once

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "bench/TrafficFlood.h"

namespace pelvar::bench {

struct LoopStalls {
    double longestMs = 0;    // the longest time between two turns
    double longestEndMs = 0; // when it ended, from the start
    double lostMs = 0;       // past the timer's interval, in stalls over 2 ms
    double wallMs = 0;
};

// Runs the loop until `done(ms since the start)` is true at a turn.
inline LoopStalls WatchLoop(const std::function<bool(double)>& done)
{
    LoopStalls s;
    QEventLoop loop;
    const auto start = Clock::now();
    auto last = start;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        const double gap = MsBetween(last, now);
        if (gap > s.longestMs) {
            s.longestMs = gap;
            s.longestEndMs = MsBetween(start, now);
        }
        if (gap > 2.0)
            s.lostMs += gap - 1.0;
        last = now;
        if (done(MsBetween(start, now)))
            loop.quit();
    });
    tick.start(1);
    loop.exec();
    s.wallMs = MsBetween(start, Clock::now());
    return s;
}

} // namespace pelvar::bench
