// A session of the window written as a pelvarctl script: each operation that
// goes to the board becomes one line (`set brightness 200`, `press edge`,
// `reg write 0x0010 0xbeef`, `reg read 0x0010`, `disconnect`), optionally with
// `sleep` lines for the pauses between operations, so `pelvarctl run FILE`
// sends the same frames in the same order. The worker writes the lines as it
// sends, so a slider sweep is recorded as the positions that went out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/Platform.h"

namespace pelvar {

// The longest pause a recorded `sleep` line holds (pelvarctl's limit).
constexpr std::uint32_t kMaxRecordedSleepMs = 3600000;

class ScriptRecorder {
public:
    explicit ScriptRecorder(IPlatform& clock) : m_clock(clock) {}
    ~ScriptRecorder();
    ScriptRecorder(const ScriptRecorder&) = delete;
    ScriptRecorder& operator=(const ScriptRecorder&) = delete;

    // Any thread. Starts a new file at `path` (an earlier recording ends);
    // false with *error set when it cannot be created.
    bool Start(const std::string& path, bool withPauses, std::string* error);
    void Stop();
    bool Recording() const;

    // The worker: an operation is about to go out as `line`; after the last
    // exchange of the operation, OperationEnded.
    void OperationBegins(const std::string& line);
    void OperationEnded();

private:
    IPlatform& m_clock;
    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    bool m_withPauses = false;
    bool m_haveEnd = false;
    std::uint32_t m_lastEnd = 0;
};

// Script lines, in the form pelvarctl reads them.
std::string SetScriptLine(int sliderId, std::int32_t value);                // "set brightness 200"; "" for no slider
std::string PressScriptLine(int controlId);                                 // "press edge"; "" for no button
std::string RegWriteScriptLine(std::uint16_t address, std::uint16_t value); // "reg write 0x0010 0xbeef"
std::string RegReadScriptLine(std::uint16_t address);                       // "reg read 0x0010"
std::string SleepScriptLine(std::uint32_t ms);                              // "sleep 250"

} // namespace pelvar
