#include "tools/pelvarctl/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "tools/pelvarctl/RegVerbs.h"

namespace pelvar {

namespace {

// "7:58", "1:02:03".
std::string Duration(std::uint64_t seconds)
{
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                      static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    return text;
}

} // namespace

bool ProgressWanted(std::FILE* err, bool json)
{
    const int fd = err ? fileno(err) : -1;
    return !json && fd >= 0 && isatty(fd);
}

Progress::Progress(std::FILE* err, IPlatform& clock, std::string what, std::string unit, std::uint32_t total)
    : m_err(err), m_clock(clock), m_what(std::move(what)), m_unit(std::move(unit)), m_total(total),
      m_start(clock.TickCount())
{}

void Progress::Update(std::uint32_t done)
{
    if (!m_err)
        return;
    const std::uint32_t elapsed = m_clock.TickCount() - m_start;
    if (elapsed < kProgressAfterMs || (m_drawn && elapsed - m_drawnAt < kProgressRedrawMs))
        return;
    m_drawn = true;
    m_drawnAt = elapsed;
    std::string line = m_what + ": " + std::to_string(done) + "/" + std::to_string(m_total) + " " + m_unit;
    if (done > 0) {
        const double rate = done * 1000.0 / elapsed;
        const std::uint64_t left = static_cast<std::uint64_t>((m_total - done) / rate + 0.999);
        char text[64];
        std::snprintf(text, sizeof text, ", %.1f/s, %s left", rate, Duration(left).c_str());
        line += text;
    }
    // Blanks over what is left of a longer line before.
    const std::size_t width = line.size();
    if (width < m_width)
        line.append(m_width - width, ' ');
    m_width = std::max(m_width, width);
    std::fprintf(m_err, "\r%s", line.c_str());
    std::fflush(m_err);
}

void Progress::Erase()
{
    if (!m_err || m_width == 0)
        return;
    std::fprintf(m_err, "\r%s\r", std::string(m_width, ' ').c_str());
    std::fflush(m_err);
    m_width = 0;
}

PortSearch::PortSearch(VerbContext& ctx)
    : m_ports(ctx.ports), m_progress(ctx.ports ? ctx.progress : nullptr, ctx.platform, "looking for the board", "ports",
                                     static_cast<std::uint32_t>(ctx.portsToTry.size()))
{
    if (m_ports)
        m_ports->Watch(&m_progress);
}

PortSearch::~PortSearch()
{
    if (m_ports)
        m_ports->Watch(nullptr);
}

} // namespace pelvar
