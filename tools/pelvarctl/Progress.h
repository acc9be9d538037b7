// Shows that a long verb is alive: "reg dump: 123/4096 registers, 8.1/s,
// 7:58 left" on standard error when it is a terminal, redrawn in place on
// the platform's clock and erased when the work ends. Never in a pipe, a
// file or with --json, where it would only be noise in what is read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/ForwardingPlatform.h"

namespace pelvar {

// Work that ends this soon shows nothing; after that, one redraw at most this often.
constexpr std::uint32_t kProgressAfterMs = 1000;
constexpr std::uint32_t kProgressRedrawMs = 250;

// Whether progress goes to `err`: a terminal, and no --json.
bool ProgressWanted(std::FILE* err, bool json);

class Progress {
public:
    // `err` null: shows nothing.
    Progress(std::FILE* err, IPlatform& clock, std::string what, std::string unit, std::uint32_t total);
    ~Progress() { Erase(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Update(std::uint32_t done);
    // Takes the line away; called by the destructor too.
    void Erase();

private:
    std::FILE* m_err;
    IPlatform& m_clock;
    std::string m_what;
    std::string m_unit;
    std::uint32_t m_total;
    std::uint32_t m_start;
    bool m_drawn = false;
    std::uint32_t m_drawnAt = 0;
    std::size_t m_width = 0; // of the line on the terminal; 0: none
};

// Counts the ports opened while connect looks for the board: one step each.
class PortProgressPlatform : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    void Watch(Progress* progress)
    {
        m_progress = progress;
        m_opened = 0;
    }
    PortHandle OpenPort(int port) override
    {
        if (m_progress)
            m_progress->Update(m_opened++);
        return Inner().OpenPort(port);
    }
    PortHandle OpenRef(const PortRef& ref) override
    {
        if (m_progress)
            m_progress->Update(m_opened++);
        return Inner().OpenRef(ref);
    }

private:
    Progress* m_progress = nullptr;
    std::uint32_t m_opened = 0;
};

struct VerbContext;

// The progress of the ports tried while it lives: connect and the probe of
// diagnose and of the verbs that find the board first.
class PortSearch {
public:
    explicit PortSearch(VerbContext& ctx);
    ~PortSearch();
    PortSearch(const PortSearch&) = delete;
    PortSearch& operator=(const PortSearch&) = delete;

private:
    PortProgressPlatform* m_ports;
    Progress m_progress;
};

} // namespace pelvar
