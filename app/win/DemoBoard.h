// The simulated board of `pelvar.exe --demo`: pelvar-sim's board inside the
// process, as COM200 of a real-time simulated line, and a port list that
// holds it alone, so no port of the machine is probed.
#pragma once

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
    SimBoard& Board() { return m_board.Board(); }
    // "Simulated board (COM200)", through the port list's own rules.
    static void FillPortList(IPortList& list);

private:
    SimBoardDevice m_board;
    RealTimeSimPlatform m_platform;
};

} // namespace pelvar
