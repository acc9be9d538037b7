// ser2net, started by a test on 127.0.0.1 at a free port with a YAML
// configuration it writes, serving one device with telnet and RFC 2217
// (plain or inside TLS), telnet alone or raw; stopped when the object goes.
#pragma once

#include <memory>
#include <string>

#include "tests/e2e/Process.h"

namespace pelvar::e2e {

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeTcpPort();

// The TLS accepter's files. With clientAuth, a client must show a
// certificate whose common name is a user of authDir holding that very
// certificate in authDir/USER/allowed_certs (rehashed).
struct Ser2netTls {
    std::string key;
    std::string cert;
    bool clientAuth = false;
    std::string authDir;
};

class Ser2net {
public:
    // RFC 2217; plain telnet, which refuses COM-PORT-OPTION; raw TCP, the
    // line's bytes as they are; RFC 2217 inside TLS (see TlsServer).
    enum class Accepter { Rfc2217, Telnet, Raw, Tls };

    using TlsServer = Ser2netTls;

    // Serves `device` (a pseudo-terminal) at 115200 8N1, one client at a
    // time, on `port` (0: a free one).
    explicit Ser2net(const std::string& device, int port = 0, Accepter accepter = Accepter::Rfc2217,
                     const TlsServer& tls = {});
    ~Ser2net();

    bool Ready() const { return m_ready; }
    int Port() const { return m_port; }
    std::string Url() const
    {
        const char* scheme = m_accepter == Accepter::Raw   ? "socket://"
                             : m_accepter == Accepter::Tls ? "rfc2217+tls://"
                                                           : "rfc2217://";
        return scheme + std::string("127.0.0.1:") + std::to_string(m_port);
    }
    // Stops the server now (SIGKILL: no goodbye on the connection).
    void Stop();

private:
    std::string m_dir;
    int m_port = 0;
    Accepter m_accepter = Accepter::Rfc2217;
    std::unique_ptr<Background> m_server;
    bool m_ready = false;
};

} // namespace pelvar::e2e
