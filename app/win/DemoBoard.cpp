#include "app/win/DemoBoard.h"

#include <string>

#include "discovery/PortList.h"

namespace pelvar {

// Away from <windows.h>, whose AddPort macro would rename the call.
CDemoBoard::CDemoBoard() { m_platform.AddPort(kPort, &m_board); }

void CDemoBoard::FillPortList(IPortList& list)
{
    list.Clear();
    list.AddString("Simulated board (COM" + std::to_string(kPort) + ")");
}

} // namespace pelvar
