#include "camera/ScriptRecorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "camera/ControlTable.h"

namespace pelvar {

namespace {

std::string Hex16(std::uint16_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", v);
    return text;
}

} // namespace

std::string SetScriptLine(int sliderId, std::int32_t value)
{
    const ControlBinding* b = FindBinding(sliderId);
    if (!b || b->role != ControlRole::Slider)
        return {};
    return std::string("set ") + b->name + " " + std::to_string(value);
}

std::string PressScriptLine(int controlId)
{
    const ControlBinding* b = FindBinding(controlId);
    if (!b || b->role != ControlRole::FunctionButton)
        return {};
    return std::string("press ") + b->name;
}

std::string RegWriteScriptLine(std::uint16_t address, std::uint16_t value)
{
    return "reg write " + Hex16(address) + " " + Hex16(value);
}

std::string RegReadScriptLine(std::uint16_t address) { return "reg read " + Hex16(address); }

std::string SleepScriptLine(std::uint32_t ms) { return "sleep " + std::to_string(ms); }

ScriptRecorder::~ScriptRecorder() { Stop(); }

bool ScriptRecorder::Start(const std::string& path, bool withPauses, std::string* error)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    std::fputs("# pelvar session: replay with pelvarctl run FILE\n", file);
    std::fflush(file);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = file;
    m_withPauses = withPauses;
    m_haveEnd = false;
    return true;
}

void ScriptRecorder::Stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

bool ScriptRecorder::Recording() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file != nullptr;
}

// Each line is flushed: a session cut short still replays up to its end.
void ScriptRecorder::OperationBegins(const std::string& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file || line.empty())
        return;
    if (m_withPauses && m_haveEnd) {
        const std::uint32_t pause = std::min(m_clock.TickCount() - m_lastEnd, kMaxRecordedSleepMs);
        if (pause > 0)
            std::fprintf(m_file, "%s\n", SleepScriptLine(pause).c_str());
    }
    std::fprintf(m_file, "%s\n", line.c_str());
    std::fflush(m_file);
    m_haveEnd = false;
}

void ScriptRecorder::OperationEnded()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file)
        return;
    m_lastEnd = m_clock.TickCount();
    m_haveEnd = true;
}

} // namespace pelvar
