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

namespace {

// One switch on one field of the running board's options.
template <typename Get, typename Put>
FaultSwitch Switch(PtyBoard* board, const char* text, Get get, Put put)
{
    return {text, [board, get] { return get(board->BoardOptions()); },
            [board, put](bool on) {
                SimBoardOptions o = board->BoardOptions();
                put(o, on);
                board->SetBoardOptions(o);
            }};
}

} // namespace

std::vector<FaultSwitch> CDemoBoard::FaultSwitches()
{
    PtyBoard* b = m_board.get();
    if (!b)
        return {};
    return {
        Switch(
            b, "Silent", [](const SimBoardOptions& o) { return o.silent; },
            [](SimBoardOptions& o, bool on) { o.silent = on; }),
        Switch(
            b, "NAK", [](const SimBoardOptions& o) { return o.nak; }, [](SimBoardOptions& o, bool on) { o.nak = on; }),
        Switch(
            b, "Corrupt checksum", [](const SimBoardOptions& o) { return o.corrupt; },
            [](SimBoardOptions& o, bool on) { o.corrupt = on; }),
        Switch(
            b, "Slow replies (300 ms)", [](const SimBoardOptions& o) { return o.delayMs != 0; },
            [](SimBoardOptions& o, bool on) { o.delayMs = on ? kDemoSlowReplyMs : 0; }),
        Switch(
            b, "Drop every 3rd reply", [](const SimBoardOptions& o) { return o.dropEvery != 0; },
            [](SimBoardOptions& o, bool on) { o.dropEvery = on ? kDemoDropEvery : 0; }),
    };
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
