#include "app/win/DemoBoard.h"

#include <string>

#include "discovery/PortList.h"
#include "sim/BoardFaults.h"

namespace pelvar {

// Away from <windows.h>, whose AddPort macro would rename the call.
CDemoBoard::CDemoBoard() { m_platform.AddPort(kPort, &m_board); }

void CDemoBoard::FillPortList(IPortList& list)
{
    list.Clear();
    list.AddString("Simulated board (COM" + std::to_string(kPort) + ")");
}

std::vector<FaultSwitch> CDemoBoard::FaultSwitches()
{
    LockedBoard* b = &m_board;
    return BoardFaultSwitches(
        [b] {
            std::lock_guard<std::mutex> lock(b->mutex);
            return b->device.Board().Options();
        },
        [b](const SimBoardOptions& o) {
            std::lock_guard<std::mutex> lock(b->mutex);
            b->device.Board().SetOptions(o);
        });
}

} // namespace pelvar
