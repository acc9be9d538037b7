// A board behind ser2net on loopback, three clients in one run: Pelvar's
// RFC 2217 client, a minimal raw-socket client doing the same exchanges
// (the floor), and pyserial's RFC 2217 client. Medians of wall time for a
// status query, a transaction with a 9-byte acknowledge and a dump of 256
// registers. Then Pelvar over each kind of port the same ser2net serves:
// RFC 2217, RFC 2217 inside TLS (a P-256 certificate made with openssl) and
// raw: the open (connection, TLS handshake, negotiation) and a status query.
//
//   net_bench [RUNS]     (default 100; the dump runs RUNS/20 times)
//
// pyserial takes about a quarter of a second an exchange here: it runs a
// tenth of the runs, and its dump reads 16 registers once, scaled to 256
// (PELVAR_BENCH_FULL=1: all 256).
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "platform/PortRef.h"
#include "sim/PtyBoard.h"

using namespace pelvar;

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn>
double MedianMs(int runs, Fn fn)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        fn();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

sockaddr_in Loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t size = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

int ConnectTo(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return s;
}

std::vector<std::uint8_t> Frame(std::uint8_t cmd, std::vector<std::uint8_t> payload = {})
{
    std::vector<std::uint8_t> f;
    f.reserve(payload.size() + 5);
    f.push_back(STX);
    f.push_back(static_cast<std::uint8_t>(payload.size() + 2));
    f.push_back(cmd);
    for (std::uint8_t b : payload)
        f.push_back(b);
    std::uint8_t x = 0;
    for (std::uint8_t b : f)
        x ^= b;
    f.push_back(x);
    f.push_back(ETX);
    return f;
}

// The floor: no negotiation answered, no line settings, no RTS; the frame
// (escaped), the hold time, then bytes until the reply frame is whole.
class RawClient {
public:
    explicit RawClient(int port) : m_socket(ConnectTo(port)) {}
    ~RawClient() { close(m_socket); }
    bool Ok() const { return m_socket >= 0; }

    void Exchange(const std::vector<std::uint8_t>& frame, std::size_t replyLength)
    {
        std::vector<std::uint8_t> out;
        for (std::uint8_t b : frame) {
            out.push_back(b);
            if (b == 0xFF)
                out.push_back(0xFF);
        }
        send(m_socket, out.data(), out.size(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::size_t got = 0;
        while (got < replyLength) {
            pollfd p{m_socket, POLLIN, 0};
            if (poll(&p, 1, 500) <= 0)
                return;
            std::uint8_t buf[256];
            const ssize_t n = recv(m_socket, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n; ++i)
                got += m_skip > 0 ? (--m_skip, 0) : buf[i] == 0xFF ? (m_skip = 2, 0) : 1;
        }
    }

private:
    int m_socket;
    int m_skip = 0; // bytes of a telnet command still to pass over (ser2net's are three long)
};

struct Figures {
    double status, transaction, dump;
};

Figures RunPelvar(const std::string& url, int runs)
{
    PortRef ref;
    std::string error;
    if (!ParsePortRef(url, &ref, &error)) {
        std::fprintf(stderr, "net_bench: %s\n", error.c_str());
        std::exit(1);
    }
    CFrameLink link(ref, 115200);
    if (link.Open() != LINK_OK) {
        std::fprintf(stderr, "net_bench: cannot open %s\n", url.c_str());
        std::exit(1);
    }
    const std::uint8_t brightness[] = {0xC8, 0, 0, 0};
    Figures f{};
    f.status = MedianMs(runs, [&] { QueryStatus(link); });
    f.transaction = MedianMs(runs, [&] { link.Transact(CMD_BRIGHTNESS, brightness, 4); });
    f.dump = MedianMs(std::max(1, runs / 20), [&] {
        for (int a = 0; a < 256; ++a) {
            const std::uint8_t address[] = {static_cast<std::uint8_t>(a), 0};
            link.Transact(CMD_REG_ADDRESS, address, 2);
            QueryRegister(link);
        }
    });
    link.Close();
    return f;
}

Figures RunRaw(int port, int runs)
{
    RawClient raw(port);
    if (!raw.Ok()) {
        std::fprintf(stderr, "net_bench: raw client cannot connect\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };
    Figures f{};
    f.status = MedianMs(runs, [&] { raw.Exchange(Frame(CMD_STATUS), 6); });
    f.transaction = MedianMs(runs, [&] {
        pause();
        raw.Exchange(Frame(CMD_BRIGHTNESS, {0xC8, 0, 0, 0}), 9);
    });
    f.dump = MedianMs(std::max(1, runs / 20), [&] {
        for (int a = 0; a < 256; ++a) {
            pause();
            raw.Exchange(Frame(CMD_REG_ADDRESS, {static_cast<std::uint8_t>(a), 0}), 9);
            raw.Exchange(Frame(CMD_REG_READ), 7);
        }
    });
    return f;
}

Figures RunPyserial(const std::string& url, int runs)
{
    const bool full = std::getenv("PELVAR_BENCH_FULL") != nullptr;
    const int registers = full ? 256 : 16;
    const std::string command = "/usr/bin/python3 " PYSERIAL_CLIENT " " + url + " "
                                + std::to_string(std::max(3, runs / 10)) + " " + std::to_string(registers);
    Figures f{-1, -1, -1};
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return f;
    char name[32];
    double ms = 0;
    while (std::fscanf(p, "%31s %lf", name, &ms) == 2) {
        const std::string n = name;
        (n == "status" ? f.status : n == "transaction" ? f.transaction : f.dump) = ms;
    }
    f.dump *= 256.0 / registers;
    pclose(p);
    return f;
}

struct KindFigures {
    double open, status;
};

KindFigures RunKind(const std::string& url, int runs)
{
    PortRef ref;
    std::string error;
    if (!ParsePortRef(url, &ref, &error)) {
        std::fprintf(stderr, "net_bench: %s\n", error.c_str());
        std::exit(1);
    }
    KindFigures f{};
    std::vector<double> opens;
    for (int i = 0; i < std::max(3, runs / 5); ++i) {
        CFrameLink link(ref, 115200);
        const auto t0 = Clock::now();
        if (link.Open() != LINK_OK) {
            std::fprintf(stderr, "net_bench: cannot open %s\n", url.c_str());
            std::exit(1);
        }
        opens.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        link.Close();
        // ser2net lets the last client go before it takes the next.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::sort(opens.begin(), opens.end());
    f.open = opens[opens.size() / 2];
    CFrameLink link(ref, 115200);
    if (link.Open() != LINK_OK) {
        std::fprintf(stderr, "net_bench: cannot open %s\n", url.c_str());
        std::exit(1);
    }
    f.status = MedianMs(runs, [&] { QueryStatus(link); });
    link.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
    char dir[] = "/tmp/pelvar-net-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    setenv("PELVAR_PORTS_DIR", dir, 1);
    PtyBoardOptions o;
    o.port = 200;
    PtyBoard board(o);
    if (board.Start() != 0) {
        std::fprintf(stderr, "board: %s\n", board.ErrorText().c_str());
        return 1;
    }
    const int port = FreePort();
    int tlsPort = FreePort();
    while (tlsPort == port)
        tlsPort = FreePort();
    int rawPort = FreePort();
    while (rawPort == port || rawPort == tlsPort)
        rawPort = FreePort();
    const std::string key = std::string(dir) + "/server.key";
    const std::string cert = std::string(dir) + "/server.crt";
    const std::string makeKey = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + key
                                + " -out " + cert
                                + " -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null";
    if (std::system(makeKey.c_str()) != 0) {
        std::fprintf(stderr, "net_bench: openssl could not make a key\n");
        return 1;
    }
    const std::string config = std::string(dir) + "/ser2net.yaml";
    const std::string device = "  connector: serialdev," + board.SlavePath() + ",115200n81,local\n";
    std::ofstream(config) << "connection: &board\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                          << device << "connection: &board-tls\n  accepter: telnet(rfc2217),ssl(key=" << key
                          << ",cert=" << cert << "),tcp(nodelay),127.0.0.1," << tlsPort << "\n"
                          << device << "connection: &board-raw\n  accepter: tcp,127.0.0.1," << rawPort << "\n"
                          << device;
    const pid_t server = fork();
    if (server == 0) {
        execl("/usr/sbin/ser2net", "ser2net", "-n", "-c", config.c_str(), "-P",
              (std::string(dir) + "/ser2net.pid").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
        const int s = ConnectTo(port);
        if (s >= 0) {
            close(s);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);

    const Figures pelvar = RunPelvar(url, runs);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Figures raw = RunRaw(port, runs);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const Figures py = RunPyserial(url, runs);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const KindFigures plainKind = RunKind(url, runs);
    const KindFigures tlsKind = RunKind("rfc2217+tls://127.0.0.1:" + std::to_string(tlsPort) + "?ca=" + cert, runs);
    const KindFigures rawKind = RunKind("socket://127.0.0.1:" + std::to_string(rawPort), runs);

    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    unlink(config.c_str());
    unlink((std::string(dir) + "/ser2net.pid").c_str());
    unlink(key.c_str());
    unlink(cert.c_str());

    std::printf("%-26s %12s %12s %12s %8s\n", "exchange (median ms)", "pelvar", "raw socket", "pyserial", "ratio");
    const auto row = [](const char* name, double p, double r, double y) {
        std::printf("%-26s %12.2f %12.2f %12.2f %8.3f\n", name, p, r, y, p / r);
    };
    row("status query", pelvar.status, raw.status, py.status);
    row("transaction, 9-byte ack", pelvar.transaction, raw.transaction, py.transaction);
    row("dump of 256 registers", pelvar.dump, raw.dump, py.dump);
    std::printf("\n%-26s %12s %12s %14s\n", "pelvar by port (median ms)", "open", "status query", "status / 2217");
    const auto kind = [&](const char* name, const KindFigures& k) {
        std::printf("%-26s %12.2f %12.2f %14.3f\n", name, k.open, k.status, k.status / plainKind.status);
    };
    kind("rfc2217://", plainKind);
    kind("rfc2217+tls://", tlsKind);
    kind("socket://", rawKind);
    board.Stop();
    rmdir(dir);
    return 0;
}
