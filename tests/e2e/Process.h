// Child processes for end-to-end tests: run to completion with captured
// output, or keep running (the simulated board) until stopped.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace pelvar::e2e {

struct RunResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
    double wallMs = 0;
    bool timedOut = false;
};

// Runs `argv` with `env` added to the environment; kills it after `timeoutMs`.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     const std::string& input = {}, int timeoutMs = 30000);

class Background {
public:
    Background(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // The first line the process printed (waits up to 5 s); empty if none.
    std::string FirstLine();
    // SIGTERM (or `signal`), then everything it printed after its first line;
    // its exit status in *status.
    std::string Stop(int* status = nullptr, int signal = 15);
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

// A private directory (mode 0700) for PELVAR_PORTS_DIR, removed at scope end.
class PortsDir {
public:
    PortsDir();
    ~PortsDir();
    const std::string& Path() const { return m_path; }
    std::string Env() const { return "PELVAR_PORTS_DIR=" + m_path; }

private:
    std::string m_path;
};

// Number of open file descriptors of this process.
int OpenFdCount();

} // namespace pelvar::e2e
