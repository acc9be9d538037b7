// The simulated board of `pelvar --demo`: pelvar-sim's board on its own
// thread, attached as COM200 in a port directory of the process's own, so
// the port list holds the simulated board alone and no real device is probed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/BoardFaults.h"
#include "sim/PtyBoard.h"
#include "ui/PelvarDlg.h"

namespace pelvar {

class CDemoBoard {
public:
    static constexpr int kPort = 200;

    CDemoBoard();
    ~CDemoBoard();
    CDemoBoard(const CDemoBoard&) = delete;
    CDemoBoard& operator=(const CDemoBoard&) = delete;

    // Creates the directory, points PELVAR_PORTS_DIR at it and starts the
    // board. Returns false with ErrorText() set.
    bool Start();
    const std::string& ErrorText() const { return m_error; }
    PtyBoard& Board() { return *m_board; }
    const std::string& PortsDir() const { return m_dir; }
    // The board's faults as switches of the window menu: silent, NAK,
    // corrupt checksum, slow replies, drop every third reply.
    std::vector<FaultSwitch> FaultSwitches();

private:
    std::string m_dir;
    std::string m_error;
    std::unique_ptr<PtyBoard> m_board;
};

} // namespace pelvar
