// The simulated board of `pelvar.exe --demo`: pelvar-sim's board inside the
// process, as COM200 of a real-time simulated line, and a port list that
// holds it alone, so no port of the machine is probed.
#pragma once

#include <mutex>
#include <vector>

#include "camera/Bench.h"
#include "discovery/PortList.h"
#include "sim/RealTimeSimPlatform.h"
#include "sim/SimBoard.h"

namespace pelvar {

class CDemoBoard {
public:
    static constexpr int kPort = 200;

    CDemoBoard();
    CDemoBoard(const CDemoBoard&) = delete;
    CDemoBoard& operator=(const CDemoBoard&) = delete;

    IPlatform& Platform() { return m_platform; }
    SimBoard& Board() { return m_board.device.Board(); }
    // "Simulated board (COM200)", through the port list's own rules.
    static void FillPortList(IPortList& list);
    // The board's faults as switches of the window menu; they take effect
    // from the board's next frame.
    std::vector<FaultSwitch> FaultSwitches();

private:
    // The worker's frames reach the board on its thread, the switches come
    // from the window's: one lock for both.
    struct LockedBoard : ISimDevice {
        void OnHostBytes(SimLine& line, const std::uint8_t* data, std::size_t n) override
        {
            std::lock_guard<std::mutex> lock(mutex);
            device.OnHostBytes(line, data, n);
        }
        std::mutex mutex;
        SimBoardDevice device;
    };

    LockedBoard m_board;
    RealTimeSimPlatform m_platform;
};

} // namespace pelvar
