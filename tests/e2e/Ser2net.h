// ser2net, started by a test on 127.0.0.1 at a free port with a YAML
// configuration it writes, serving one device with telnet and RFC 2217 (or
// telnet alone); stopped when the object goes.
#pragma once

#include <memory>
#include <string>

#include "tests/e2e/Process.h"

namespace pelvar::e2e {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeTcpPort();

class Ser2net {
public:
    // Serves `device` (a pseudo-terminal) at 115200 8N1, one client at a
    // time, on `port` (0: a free one); without `comPortControl` it refuses
    // COM-PORT-OPTION as a plain telnet server does.
    explicit Ser2net(const std::string& device, int port = 0, bool comPortControl = true);
    ~Ser2net();

    bool Ready() const { return m_ready; }
    int Port() const { return m_port; }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
    // Stops the server now (SIGKILL: no goodbye on the connection).
    void Stop();

private:
    std::string m_dir;
    int m_port = 0;
    std::unique_ptr<Background> m_server;
    bool m_ready = false;
};

} // namespace pelvar::e2e
