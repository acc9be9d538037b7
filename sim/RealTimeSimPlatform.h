// The simulated line in real time: the same ports and far-end devices as
// SimPlatform, but the clock is the machine's and a read takes as long as it
// would on a real line. This is how `pelvar.exe --demo` hosts the board
// inside the process where there is no pseudo-terminal to put it behind.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/SimPlatform.h"

namespace pelvar {

class RealTimeSimPlatform : public SimPlatform {
public:
    RealTimeSimPlatform();

    PortHandle OpenPort(int port) override;
    bool Read(PortHandle h, std::uint8_t* buf, std::uint32_t len, std::uint32_t* got) override;
    bool Write(PortHandle h, const std::uint8_t* buf, std::uint32_t len) override;
    bool PurgeInput(PortHandle h) override;
    std::uint32_t TickCount() override;
    void Sleep(std::uint32_t ms) override;

private:
    // Brings the line's clock up to the machine's; it never goes back.
    void CatchUp();
    // Waits until the machine's clock has reached the line's.
    void WaitForLine();
    std::uint32_t Elapsed() const;

    std::chrono::steady_clock::time_point m_origin;
};

} // namespace pelvar
