// pelvarctl over ser2net: pelvar-sim on a pseudo-terminal, served by ser2net
// on 127.0.0.1 with telnet and RFC 2217. The board must see the same frames
// as over the local pseudo-terminal; a fault of the network ends the
// exchange as the failure it is.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "tests/e2e/LabKeys.h"
#include "tests/e2e/Process.h"
#include "tests/e2e/Ser2net.h"

namespace pelvar::e2e {
namespace {

// The frames the board received, in order, from pelvar-sim's trace.
std::vector<std::string> BoardReceived(const std::string& trace)
{
    std::vector<std::string> frames;
    std::istringstream in(trace);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t at = line.find("<- ");
        if (at != std::string::npos)
            frames.push_back(line.substr(at + 3));
    }
    return frames;
}

// A simulated board on a pseudo-terminal: its device path from its first line.
struct Board {
    explicit Board(const PortsDir& dir, std::vector<std::string> extra = {})
    {
        std::vector<std::string> argv = {PELVAR_SIM_PATH, "--com", "200", "--trace"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = std::make_unique<Background>(argv, std::vector<std::string>{dir.Env()});
        const std::string first = sim->FirstLine();
        const std::size_t at = first.find("/dev/pts/");
        if (at != std::string::npos)
            device = first.substr(at, first.find(' ', at) - at);
    }
    std::unique_ptr<Background> sim;
    std::string device;
};

// A board served by ser2net, each in a port directory of its own.
struct ServedBoard {
    explicit ServedBoard(std::vector<std::string> simArgs = {}, Ser2net::Accepter accepter = Ser2net::Accepter::Rfc2217,
                         const Ser2net::TlsServer& tls = {})
        : board(dir, std::move(simArgs)), server(board.device, 0, accepter, tls)
    {}
    PortsDir dir;
    Board board;
    Ser2net server;
};

const std::vector<std::vector<std::string>> kVerbs = {
    {"connect"},
    {"set", "brightness", "200"},
    {"press", "edge"},
    {"reg", "write", "0x10", "0xffff"},
    {"reg", "read", "0x10"},
    {"reg", "dump", "0x10", "0x12"},
    {"disconnect"},
};

void RunVerbs(const std::string& port, const PortsDir& dir, std::string* log)
{
    for (const auto& verb : kVerbs) {
        std::vector<std::string> argv = {PELVARCTL_PATH, "--port", port};
        argv.insert(argv.end(), verb.begin(), verb.end());
        RunResult r = RunProgram(argv, {dir.Env()});
        *log += verb[0] + ": " + std::to_string(r.status) + " " + r.out + r.err;
        if (r.status != 0)
            ADD_FAILURE() << verb[0] << " over " << port << ": " << r.out << r.err;
    }
}

TEST(NetworkPortE2e, BoardSeesTheSameFramesAsOverTheLocalPort)
{
    PortsDir localDir;
    Board local(localDir);
    ASSERT_FALSE(local.device.empty());
    std::string log;
    RunVerbs("200", localDir, &log);
    const std::vector<std::string> overPty = BoardReceived(local.sim->Stop());

    ASSERT_FALSE(overPty.empty());
    LabKeys keys;
    ASSERT_TRUE(keys.Ready()) << keys.Log();
    const Ser2net::TlsServer tls{keys.File("server.key"), keys.File("server.crt"), false, ""};
    // RFC 2217 plain and inside TLS, and a raw server that passes the bytes
    // through as they are.
    for (Ser2net::Accepter accepter : {Ser2net::Accepter::Rfc2217, Ser2net::Accepter::Tls, Ser2net::Accepter::Raw}) {
        ServedBoard remote({}, accepter, tls);
        const std::string url =
            remote.server.Url() + (accepter == Ser2net::Accepter::Tls ? "?ca=" + keys.File("ca.crt") : "");
        SCOPED_TRACE(url);
        ASSERT_TRUE(remote.server.Ready());
        RunVerbs(url, remote.dir, &log);
        const std::vector<std::string> overNetwork = BoardReceived(remote.board.sim->Stop());
        EXPECT_EQ(overNetwork, overPty) << log;
        // The register write with 0xFFFF crossed whole (escaped by telnet, as it is raw).
        EXPECT_NE(std::find(overNetwork.begin(), overNetwork.end(), "02 04 A4 FF FF A2 03  reg_write"),
                  overNetwork.end());
    }
}

TEST(NetworkPortE2e, PortDirectoryEntryWithAUrlIsFoundByConnect)
{
    ServedBoard served;
    ASSERT_TRUE(served.server.Ready());
    const PortsDir& dir = served.dir;
    Ser2net& server = served.server;
    // Only the network entry: the board's own pseudo-terminal entry goes.
    unlink((dir.Path() + "/COM200").c_str());
    const std::string entry = dir.Path() + "/COM7";
    std::ofstream(entry) << server.Url() << "\n";
    chmod(entry.c_str(), 0600);

    RunResult ports = RunProgram({PELVARCTL_PATH, "ports", "--verbose"}, {dir.Env()});
    EXPECT_NE(ports.out.find("Network port " + server.Url() + " (COM7)"), std::string::npos) << ports.out;
    RunResult r = RunProgram({PELVARCTL_PATH, "connect"}, {dir.Env()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("port: 7\nsensor: ARVEN-L\n"), std::string::npos) << r.out << r.err;
}

// A device path names a port as well, with the checks of the port directory.
TEST(NetworkPortE2e, DevicePathNamesAPort)
{
    PortsDir dir;
    Board board(dir);
    ASSERT_FALSE(board.device.empty());
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", board.device, "connect"}, {dir.Env()});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("sensor: ARVEN-L"), std::string::npos) << r.out << r.err;

    RunResult null = RunProgram({PELVARCTL_PATH, "--port", "/dev/null", "query", "status"}, {dir.Env()});
    EXPECT_EQ(null.status, 1);
    // Named by its path, never by a number made up for it.
    EXPECT_NE(null.err.find("pelvarctl: /dev/null: cannot open: not a usable serial device"), std::string::npos)
        << null.err;
}

TEST(NetworkPortE2e, NothingListeningIsRefusedQuickly)
{
    PortsDir dir;
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort());
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", url, "connect"}, {dir.Env()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelvarctl: " + url + ": cannot open: connection refused (Connection refused)\n");
}

TEST(NetworkPortE2e, MalformedUrlIsAUsageError)
{
    PortsDir dir;
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", "rfc2217://127.0.0.1", "connect"}, {dir.Env()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "pelvarctl: --port: 'rfc2217://127.0.0.1' is not a network port rfc2217://HOST:PORT: the port "
                     "number is missing\n");
}

TEST(NetworkPortE2e, SecondClientIsBusy)
{
    ServedBoard served;
    ASSERT_TRUE(served.server.Ready());
    const PortsDir& dir = served.dir;
    Ser2net& server = served.server;
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    RunResult r = RunProgram({PELVARCTL_PATH, "--port", server.Url(), "connect"}, {dir.Env()});
    close(holder);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("busy"), std::string::npos) << r.err;
}

// ser2net's plain telnet refuses COM-PORT-OPTION: the port is not opened,
// and the user learns what the server is.
TEST(NetworkPortE2e, PlainTelnetServerIsNotOpenedAsAPort)
{
    PortsDir dir;
    Board board(dir);
    ASSERT_FALSE(board.device.empty());
    Ser2net server(board.device, 0, Ser2net::Accepter::Telnet);
    ASSERT_TRUE(server.Ready());
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", server.Url(), "connect"}, {dir.Env()});
    const std::string at = "127.0.0.1:" + std::to_string(server.Port());
    const std::string words = "this server does not speak RFC 2217; if it drives the line itself, name it socket://";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelvarctl: rfc2217://" + at + ": cannot open: " + words + at + "\n");
    EXPECT_EQ(BoardReceived(board.sim->Stop()), std::vector<std::string>{});
}

// A TLS port: how the server is set up, what the URL adds; "{keys}" stands
// for the keys' directory, "{pin:FILE}" for FILE's fingerprint as openssl prints it.
struct TlsRow {
    const char* name;
    const char* serverCert; // with the key of the same name; "plain": RFC 2217 without TLS
    bool clientAuth;
    std::string options;
    std::string words; // after "cannot open: "; empty: the port opens
};

void PrintTo(const TlsRow& row, std::ostream* os) { *os << row.name; }

std::string Expand(std::string text, const LabKeys& keys)
{
    for (std::size_t at; (at = text.find("{keys}")) != std::string::npos;)
        text.replace(at, 6, keys.File("").substr(0, keys.File("").size() - 1));
    for (std::size_t at; (at = text.find("{pin:")) != std::string::npos;) {
        const std::size_t end = text.find('}', at);
        text.replace(at, end + 1 - at, "sha256:" + keys.Fingerprint(text.substr(at + 5, end - at - 5)));
    }
    return text;
}

class TlsPort : public ::testing::TestWithParam<TlsRow> {};

TEST_P(TlsPort, OpensOnlyAVerifiedServerAndSaysWhichCheckFailed)
{
    const TlsRow& row = GetParam();
    LabKeys keys;
    ASSERT_TRUE(keys.Ready()) << keys.Log();
    const std::string cert = row.serverCert;
    const std::string key = cert == "other-name" || cert == "expired" || cert == "self" ? cert : "server";
    Ser2net::TlsServer tls{keys.File(key + ".key"), keys.File(cert + ".crt"), row.clientAuth, keys.AuthDir()};
    ServedBoard served({}, cert == "plain" ? Ser2net::Accepter::Rfc2217 : Ser2net::Accepter::Tls, tls);
    ASSERT_TRUE(served.server.Ready());
    const std::string url =
        "rfc2217+tls://127.0.0.1:" + std::to_string(served.server.Port()) + Expand(row.options, keys);
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", url, "connect"}, {served.dir.Env()});
    const std::vector<std::string> frames = BoardReceived(served.board.sim->Stop());
    if (row.words.empty()) {
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("sensor: ARVEN-L"), std::string::npos) << r.out << r.err;
    } else {
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.err, "pelvarctl: " + url + ": cannot open: " + Expand(row.words, keys) + "\n");
        // Refused before a single frame for the board. A server without TLS
        // passes the client's hello to the line, where the board drops it.
        std::vector<std::string> commands;
        for (const std::string& f : frames) {
            if (f.find("ignored)") == std::string::npos)
                commands.push_back(f);
        }
        EXPECT_EQ(commands, std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TlsPort,
    ::testing::Values(
        TlsRow{"pinned_self_signed_without_ca", "self", false, "?fingerprint={pin:self.crt}", ""},
        TlsRow{"client_certificate_allowed", "server", true,
               "?ca={keys}/ca.crt&cert={keys}/client.crt&key={keys}/client.key", ""},
        TlsRow{"unknown_issuer_without_ca", "server", false, "",
               "the server's certificate is from an unknown issuer (name its CA with ca=FILE or pin it with "
               "fingerprint=sha256:...)"},
        TlsRow{"name_mismatch", "other-name", false, "?ca={keys}/ca.crt",
               "the server's certificate is not for 127.0.0.1"},
        TlsRow{"expired", "expired", false, "?ca={keys}/ca.crt", "the server's certificate has expired"},
        TlsRow{"pin_mismatch", "self", false, "?fingerprint={pin:server.crt}",
               "the server's certificate does not match fingerprint="},
        TlsRow{"client_certificate_missing", "server", true, "?ca={keys}/ca.crt",
               "the server asked for a client certificate and none was given (cert=, key=)"},
        TlsRow{"client_certificate_refused", "server", true,
               "?ca={keys}/ca.crt&cert={keys}/stranger.crt&key={keys}/stranger.key",
               "the server refused the client certificate"},
        TlsRow{"key_readable_by_others", "server", true,
               "?ca={keys}/ca.crt&cert={keys}/client.crt&key={keys}/client-open.key",
               "key file {keys}/client-open.key is readable by others"},
        // Nobody could type its pass phrase: refused, never asked for.
        TlsRow{"key_with_a_pass_phrase", "server", true,
               "?ca={keys}/ca.crt&cert={keys}/client.crt&key={keys}/client-locked.key",
               "the client certificate cannot be loaded from {keys}/client.crt and {keys}/client-locked.key"},
        TlsRow{"plain_rfc2217_server", "plain", false, "?ca={keys}/ca.crt", "the server does not speak TLS"}),
    [](const auto& info) { return std::string(info.param.name); });

// ser2net turns a second client away after the handshake: busy, as over
// plain RFC 2217, not a failed handshake.
TEST(NetworkPortE2e, SecondTlsClientIsBusy)
{
    LabKeys keys;
    ASSERT_TRUE(keys.Ready()) << keys.Log();
    ServedBoard served({"--silent"}, Ser2net::Accepter::Tls,
                       {keys.File("server.key"), keys.File("server.crt"), false, ""});
    ASSERT_TRUE(served.server.Ready());
    const std::string url = served.server.Url() + "?ca=" + keys.File("ca.crt");
    // A silent board keeps the first client at its attempts for seconds.
    Background holder({PELVARCTL_PATH, "--port", url, "transact", "init"}, {served.dir.Env()});
    const std::string seen = served.board.sim->FirstLine();
    ASSERT_NE(seen.find("<- 02 02 70 70 03"), std::string::npos) << seen;
    RunResult r = RunProgram({PELVARCTL_PATH, "--port", url, "connect"}, {served.dir.Env()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pelvarctl: " + url + ": cannot open: busy: the server serves another client\n");
    holder.Stop();
}

TEST(NetworkPortE2e, ServerStoppedInTheMiddleEndsTheExchange)
{
    ServedBoard served({"--silent"});
    ASSERT_TRUE(served.server.Ready());
    const PortsDir& dir = served.dir;
    Ser2net& server = served.server;
    Background ctl({PELVARCTL_PATH, "--port", server.Url(), "transact", "init"}, {dir.Env()});
    // The first attempt is under way once the board has seen its frame.
    const std::string seen = served.board.sim->FirstLine();
    ASSERT_NE(seen.find("<- 02 02 70 70 03"), std::string::npos) << seen;
    server.Stop();
    int status = -1;
    const std::string out = ctl.Stop(&status, 0);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("LINK_ERR_SEND"), std::string::npos) << out;
}

} // namespace
} // namespace pelvar::e2e
