// Schannel's TLS layer against a fake server on the simulated clock: the
// handshake within the connect limit, a server that is no TLS server, and
// what is refused before any connection.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <ostream>

#include "platform/SysError.h"
#include "platform/net/TlsConnection.h"
#include "tests/support/FakeRfc2217Server.h"

namespace pelvar {
namespace {

using test::Bytes;
using test::FakeRfc2217Connection;
using test::FakeServerState;

struct TlsConnectRow {
    const char* name;
    std::uint32_t connectMs;
    std::optional<std::uint32_t> closeAt; // after the connection, ms
    Bytes answer;                         // what the server sends 1 ms after the connection
    NetworkAddress address;
    int error;
    std::uint32_t elapsedMs;
    int connects;

    friend void PrintTo(const TlsConnectRow& row, std::ostream* os) { *os << row.name; }
};

class TlsConnectWin : public ::testing::TestWithParam<TlsConnectRow> {};

TEST_P(TlsConnectWin, FailsWithinTheConnectLimit)
{
    const TlsConnectRow& row = GetParam();
    SimPlatform sim;
    sim.SetNow(1000);
    FakeServerState server{sim};
    server.connectMs = row.connectMs;
    if (row.closeAt)
        server.closeAt = 1000 + row.connectMs + *row.closeAt;
    if (!row.answer.empty())
        server.SendAt(1000 + row.connectMs + 1, row.answer);
    auto tls = MakeTlsConnection(std::make_unique<FakeRfc2217Connection>(server), sim, row.address);

    EXPECT_FALSE(tls->Connect("board.lab", 4000, 3000));
    EXPECT_EQ(tls->LastError(), row.error);
    EXPECT_EQ(sim.Now() - 1000, row.elapsedMs);
    EXPECT_EQ(server.connects, row.connects);
    // Nothing but TLS records went out: a handshake (0x16), an alert (0x15).
    for (const auto& sent : server.fromClient)
        EXPECT_TRUE(sent.bytes[0] == 0x16 || sent.bytes[0] == 0x15) << int(sent.bytes[0]);
    if (row.connects > 0) {
        ASSERT_FALSE(server.fromClient.empty());
        EXPECT_EQ(server.fromClient[0].bytes[0], 0x16);
    }
}

NetworkAddress WithFiles(const char* ca, const char* cert, const char* key)
{
    NetworkAddress a;
    a.tls = true;
    a.caFile = ca;
    a.certFile = cert;
    a.keyFile = key;
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TlsConnectWin,
    ::testing::Values(
        TlsConnectRow{"hello_never_answered", 0, {}, {}, {}, WSAETIMEDOUT, 3000, 1},
        // The handshake shares the connect limit with the connection.
        TlsConnectRow{"hello_after_a_slow_connect", 2600, {}, {}, {}, WSAETIMEDOUT, 3000, 1},
        // A plain RFC 2217 server greets with telnet's options.
        TlsConnectRow{"server_speaks_telnet",
                      0,
                      {},
                      {0xFF, 0xFB, 0x03, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x2C},
                      {},
                      kErrorNotTls,
                      1,
                      1},
        // A fatal handshake_failure alert in answer to the hello.
        TlsConnectRow{"server_refuses_the_hello",
                      0,
                      {},
                      {0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 0x28},
                      {},
                      kErrorTlsHandshake,
                      1,
                      1},
        TlsConnectRow{"server_hangs_up_in_the_handshake", 40, 5, {}, {}, kErrorTlsHandshake, 45, 1},
        // Refused before the server hears of us.
        TlsConnectRow{
            "client_certificate", 0, {}, {}, WithFiles("", "me.crt", "me.key"), kErrorTlsClientCertUnavailable, 0, 0},
        TlsConnectRow{"ca_file_missing", 0, {}, {}, WithFiles("no-such-ca.crt", "", ""), kErrorTlsCaFile, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pelvar
