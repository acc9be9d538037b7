// One board as the Python module holds it: a connection with a platform of
// its own (so that threads drive several boards at once), the board's calls,
// and the session's decoded exchanges. Failures
// come back as a Failure, which the module raises as a Python exception.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/Adjustments.h"
#include "camera/BoardConnection.h"
#include "camera/Diagnosis.h"
#include "camera/ExchangeLog.h"
#include "camera/RegisterMap.h"
#include "camera/RegisterSnapshot.h"

namespace pelvar::python {

// Which exception the module raises; the result code picks it for link results.
enum class FailureKind { Link, Port, Startup, Verify, Value };

struct Failure {
    FailureKind kind = FailureKind::Link;
    std::int32_t code = 0;
    std::string message;
    PortRef port; // none named: None
    int sysError = 0;
};

struct DiagnosisReport {
    DiagnosisVerdict verdict;
    std::vector<DiagnosisStep> steps;
};

// pelvarctl diagnose on the port (none named: every listed port), on a platform of its own.
DiagnosisReport DiagnosePorts(const PortRef& port, const std::string& mapPath);

class Board {
public:
    // Finds and starts the board as Connect does: a port named is tried
    // alone, else every listed port. `mapPath` empty: the default map when it exists.
    // `replyWindowMs`: how long a reply is waited for (the board's own window by default).
    // `rs485`: the driver's RS-485 mode drives RTS.
    Board(const PortRef& port, const std::string& mapPath, std::uint32_t replyWindowMs = kReceiveWindowMs,
          bool rs485 = false);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const PortRef& Port() const { return m_port; }
    const std::string& Sensor() const { return m_sensor; }
    bool Open() const { return m_board.IsOpen(); }
    const RegisterMap& Map() const { return m_map; }

    // Each throws a Failure; the checks of the arguments come before any exchange.
    void Set(const std::string& name, int value);
    void Press(const std::string& button);
    RegisterTarget Resolve(const std::string& reference) const;
    static RegisterTarget AtAddress(long long address);
    std::uint16_t Read(const RegisterTarget& t);
    void Write(const RegisterTarget& t, long long value, bool verify);
    // A field's value by one of its names.
    std::uint16_t ValueByName(const RegisterTarget& t, const std::string& name) const;
    // The map's readable registers that a read leaves alone, as reg snapshot reads them.
    RegisterSnapshot Snapshot();
    // A snapshot file, or the map's reset values for "reset"; `forRestore`: of this map only.
    RegisterSnapshot LoadSnapshotFile(const std::string& path, bool forRestore) const;
    std::vector<RegisterDifference> Diff(const RegisterSnapshot& snapshot);
    // Every step; VerifyError when a register written did not read back.
    std::vector<RestoreStep> Restore(const RegisterSnapshot& snapshot);
    // Registers first..last in address order; write-only ones of the map are left out, and those a read clears.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> Dump(long long first, long long last);
    // The preset's adjustments and register writes; the steps as they were done.
    std::vector<std::string> ApplyPreset(const std::string& path);
    // The bring-up on this board's port; the board stays connected.
    DiagnosisReport Diagnose();
    void Transact(std::uint8_t cmd, const std::vector<std::uint8_t>& payload);
    QueryResult Query(std::uint8_t cmd, std::uint32_t room);
    // Milliseconds on the board's clock, for watching.
    std::uint32_t Now();
    void Sleep(std::uint32_t ms);

    // Releases the board (CMD_RELEASE when active) and the port. `raise`:
    // a board that does not answer is a failure rather than ignored.
    void Close(bool raise);

    // The last `count` exchanges (all for 0), oldest first.
    std::vector<ExchangeRecord> Exchanges(std::size_t count) const;
    // Exchanges since connect, counting those the log no longer holds.
    std::uint64_t ExchangeCount() const;
    // The exchanges not taken yet (at most what the log holds), for Python's logging.
    std::vector<ExchangeRecord> TakeNewExchanges();

    // One exchange at a time on the line: a board shared by threads waits here.
    std::mutex& Line() { return m_line; }

    // Ends the running call at its next exchange or poll (Ctrl-C, a close()
    // from another thread); safe in a signal handler.
    void Interrupt() { m_interrupted = true; }
    void ClearInterrupt() { m_interrupted = false; }
    // Closes the port, sending nothing: after an interrupted call.
    void Abandon() { m_board.Close(); }

private:
    void Connect(const PortRef& port);
    [[noreturn]] void Fail(std::int32_t code, const std::string& what) const;
    void Check(std::int32_t code, const std::string& what) const;
    // "COM7 (/dev/ttyUSB0)", or the URL of a network port.
    std::string Label() const;

    std::unique_ptr<IPlatform> m_platform;
    mutable std::mutex m_logMutex;
    ExchangeHistory m_log;
    std::uint64_t m_exchanges = 0;
    std::uint64_t m_taken = 0;
    ExchangeLog m_tap;
    BoardConnection m_board;
    Adjustments m_held;
    RegisterMap m_map;
    std::mutex m_line;
    std::atomic<bool> m_interrupted{false};
    PortRef m_port;
    std::string m_sensor;
};

// The failure an exchange's result stands for.
FailureKind KindOf(std::int32_t code);

} // namespace pelvar::python
