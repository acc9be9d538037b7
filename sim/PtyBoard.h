// A simulated board on a real pseudo-terminal, attached as port COMn through
// a link in the port directory, so the host opens it like any serial device.
//
// Open() creates the pseudo-terminal and the link; Start() serves it on a
// thread of its own until Stop(), which also removes the link. A hang-up
// (hangup-after) closes the master end, as an unplugged adapter does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimBoard.h"

namespace pelvar {

struct PtyBoardOptions {
    int port = 200; // the link is named COM<port>
    SimBoardOptions board;
    std::string portsDir; // empty: the port directory the environment names
};

enum class BoardTraceKind { Received, Sent, HungUp };

struct BoardTraceEvent {
    std::uint32_t ms = 0; // since Open()
    BoardTraceKind kind = BoardTraceKind::Received;
    std::vector<std::uint8_t> bytes; // the frame (a reply with its stray byte, if any)
    std::uint8_t cmd = 0;            // command byte of the frame received or answered
    bool checksumOk = true;          // received frames only
};

// "  12 ms  <- 02 02 00 00 03  status" style, no newline.
std::string FormatTraceEvent(const BoardTraceEvent& event);

class PtyBoard {
public:
    using TraceFn = std::function<void(const BoardTraceEvent&)>;

    explicit PtyBoard(const PtyBoardOptions& options);
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    // Called on the board's thread; set before Start().
    void SetTrace(TraceFn trace) { m_trace = std::move(trace); }

    // Creates the pseudo-terminal, the port directory (0700) and the link.
    // 0 or a negative errno; ErrorText() says what failed.
    int Open();
    // Opens if needed and serves the board on its own thread.
    int Start();
    // Ends the thread, closes the pseudo-terminal, removes the link. Idempotent.
    void Stop();

    bool Running() const { return m_thread.joinable(); }
    bool HungUp() const { return m_hungUp.load(); }
    int Port() const { return m_options.port; }
    std::string PortName() const { return "COM" + std::to_string(m_options.port); }
    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& LinkPath() const { return m_linkPath; }
    const std::string& ErrorText() const { return m_error; }

    // The board's options, read and switched while the thread runs (the
    // demo's fault switches); a change holds from the next frame on.
    SimBoardOptions BoardOptions() const;
    void SetBoardOptions(const SimBoardOptions& options);

    // A copy of the board as it is now (safe while the thread runs).
    SimBoard Snapshot() const;
    std::string StateText() const;

private:
    int Fail(int err, const std::string& what);
    int OpenPty();
    int CreateLink();
    void RemoveLink();
    void ReleaseOwner();
    void CloseFds();
    void Serve();
    bool HandleInput();
    bool Answer(const SimBoardExchange& ex, std::chrono::steady_clock::time_point receivedAt);
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    bool WriteAll(const std::vector<std::uint8_t>& bytes);
    void HangUp();
    std::uint32_t NowMs() const;
    void Trace(BoardTraceKind kind, const std::vector<std::uint8_t>& bytes, std::uint8_t cmd, bool checksumOk);

    PtyBoardOptions m_options;
    mutable std::mutex m_mutex; // guards m_board
    SimBoard m_board;
    TraceFn m_trace;
    int m_master = -1;
    int m_slave = -1; // kept open so a host's close is no hang-up
    int m_stopPipe[2] = {-1, -1};
    std::string m_slavePath;
    std::string m_linkPath;
    int m_ownerFd = -1; // locked while the board holds its name
    std::string m_ownerPath;
    std::string m_error;
    std::thread m_thread;
    std::atomic<bool> m_hungUp{false};
    std::chrono::steady_clock::time_point m_origin;
};

} // namespace pelvar
