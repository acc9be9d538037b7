#include "tests/e2e/Ser2net.h"

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <algorithm>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace pelvar::e2e {

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

int FreeTcpPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t size = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// Connects and waits for the server's telnet negotiation (it serves this
// client; a raw server says nothing), then shuts down and waits for the
// server's close: the server has let the client go, so the next client is
// not turned away as busy.
bool ServesAndLetsGo(int port, bool telnet, int waitMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    const auto left = [&end] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, ms.count()));
    };
    do {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(port);
        bool served = false;
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            pollfd p{s, POLLIN, 0};
            unsigned char first = 0;
            served = !telnet || (poll(&p, 1, left()) == 1 && recv(s, &first, 1, 0) == 1 && first == 0xFF);
            if (served) {
                shutdown(s, SHUT_WR);
                char drain[256];
                while (poll(&p, 1, left()) == 1 && recv(s, drain, sizeof drain, 0) > 0) {
                }
            }
        }
        close(s);
        if (served)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    return false;
}

Ser2net::Ser2net(const std::string& device, int port, Accepter accepter, const TlsServer& tls) : m_accepter(accepter)
{
    char dir[] = "/tmp/pelvar-ser2net-XXXXXX";
    if (!mkdtemp(dir))
        return;
    m_dir = dir;
    m_port = port != 0 ? port : FreeTcpPort();
    const std::string config = m_dir + "/ser2net.yaml";
    std::string layers = accepter == Accepter::Rfc2217 ? "telnet(rfc2217),"
                         : accepter == Accepter::Telnet ? "telnet,"
                                                        : "";
    if (accepter == Accepter::Tls)
        layers = "telnet(rfc2217),ssl(key=" + tls.key + ",cert=" + tls.cert + (tls.clientAuth ? ",clientauth" : "") + "),";
    std::ofstream(config) << "connection: &board\n"
                          << "  accepter: " << layers << "tcp,127.0.0.1," << m_port << "\n"
                          << "  connector: serialdev," << device << ",115200n81,local\n"
                          << "  options:\n"
                          << "    max-connections: 1\n"
                          << (tls.authDir.empty() ? "" : "    authdir: " + tls.authDir + "\n");
    m_server = std::make_unique<Background>(
        std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-c", config, "-P", m_dir + "/ser2net.pid"});
    // A probe connection is a client too: ser2net must have let it go
    // before a test's client comes.
    // A TLS server says nothing before a handshake: listening is all that shows.
    m_ready = ServesAndLetsGo(m_port, accepter != Accepter::Raw && accepter != Accepter::Tls, 10000);
}

Ser2net::~Ser2net()
{
    Stop();
    if (!m_dir.empty()) {
        unlink((m_dir + "/ser2net.yaml").c_str());
        unlink((m_dir + "/ser2net.pid").c_str());
        rmdir(m_dir.c_str());
    }
}

void Ser2net::Stop()
{
    if (m_server)
        m_server->Stop(nullptr, 9);
    m_server.reset();
}

} // namespace pelvar::e2e
