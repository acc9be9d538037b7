// A pseudo-terminal pair held open for a test: the slave stands for the
// serial device, the master for the far end of the line.
#pragma once

#include <pty.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace pelvar::test {

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_slavePath = name;
    }
    ~PseudoTerminal()
    {
        CloseMaster();
        close(m_slave);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int Master() const { return m_master; }
    int Slave() const { return m_slave; }
    const std::string& SlavePath() const { return m_slavePath; }

    // The far end goes away: the slave's user sees a hang-up.
    void CloseMaster()
    {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

} // namespace pelvar::test
