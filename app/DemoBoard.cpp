#include "app/DemoBoard.h"

#include <cstdlib>
#include <unistd.h>

namespace pelvar {

CDemoBoard::CDemoBoard() = default;

CDemoBoard::~CDemoBoard()
{
    if (m_board)
        m_board->Stop();
    if (!m_dir.empty())
        rmdir(m_dir.c_str());
}

std::vector<FaultSwitch> CDemoBoard::FaultSwitches()
{
    PtyBoard* b = m_board.get();
    if (!b)
        return {};
    return BoardFaultSwitches([b] { return b->BoardOptions(); },
                              [b](const SimBoardOptions& o) { b->SetBoardOptions(o); });
}

bool CDemoBoard::Start()
{
    const char* base = std::getenv("XDG_RUNTIME_DIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/pelvar-demo-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        m_error = "cannot create a port directory in " + pattern;
        return false;
    }
    m_dir = pattern;
    setenv("PELVAR_PORTS_DIR", m_dir.c_str(), 1);

    PtyBoardOptions options;
    options.port = kPort;
    options.portsDir = m_dir;
    m_board = std::make_unique<PtyBoard>(options);
    if (m_board->Start() != 0) {
        m_error = m_board->ErrorText();
        return false;
    }
    return true;
}

} // namespace pelvar
