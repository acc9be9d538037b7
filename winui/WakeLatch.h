// One wake-up of the window on its way at a time. The worker posts only
// when none is pending; the window clears the mark before it drains, so a
// view call queued while it drains posts a new wake-up instead of waiting
// for the next event.
#pragma once

#include <atomic>

namespace pelvar {

class WakeLatch {
public:
    // Worker's thread: true when a wake-up must be posted now.
    bool Arm() { return !m_posted.exchange(true); }
    // The post failed: none is on its way.
    void Disarm() { m_posted = false; }
    // Window's thread, on the wake-up: `drain` applies what waits.
    template <class Drain>
    void Take(Drain&& drain)
    {
        m_posted = false;
        drain();
    }

private:
    std::atomic<bool> m_posted{false};
};

} // namespace pelvar
