// The RFC 2217 port on the simulated clock, behind a scripted server: the
// bytes of the negotiation, IAC in both directions, servers that never
// confirm, and every time limit of the client, exactly.
#include <cerrno>
#include <fstream>
#include <ostream>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "platform/PortRef.h"
#include "platform/SysError.h"
#include "platform/net/NetworkPlatform.h"
#include "tests/support/FakeRfc2217Server.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar {
namespace {

using test::Bytes;
using test::FakeRfc2217Connection;
using test::FakeServerState;
using test::ScopedEnv;
using test::TempDir;

const Bytes kOpening = {
    0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x03, 0xFF,
    0xFD, 0x03, 0xFF, 0xFB, 0x2C,                               // WILL/DO BINARY, SGA; WILL COM-PORT
    0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0, // SET-BAUDRATE 115200
    0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0,                   // SET-DATASIZE 8
    0xFF, 0xFA, 0x2C, 0x03, 0x01, 0xFF, 0xF0,                   // SET-PARITY none
    0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0,                   // SET-STOPSIZE 1
};
const Bytes kPurge = {0xFF, 0xFA, 0x2C, 0x0C, 0x01, 0xFF, 0xF0};
const Bytes kRtsOn = {0xFF, 0xFA, 0x2C, 0x05, 0x0B, 0xFF, 0xF0};
const Bytes kRtsOff = {0xFF, 0xFA, 0x2C, 0x05, 0x0C, 0xFF, 0xF0};
const Bytes kStatusQuery = {0x02, 0x02, 0x00, 0x00, 0x03};
const Bytes kStatusReply = {0x02, 0x03, 0x00, 0x11, 0x10, 0x03};

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class NetworkPortTest : public ::testing::Test {
protected:
    void SetUp() override { sim.SetNow(1000); }

    static PortRef Ref(const std::string& url)
    {
        PortRef ref;
        std::string error;
        EXPECT_TRUE(ParsePortRef(url, &ref, &error)) << error;
        return ref;
    }

    std::int32_t OpenLink(const std::string& url = "rfc2217://board.lab:4000")
    {
        link = std::make_unique<CFrameLink>(Ref(url), 115200, net);
        return link->Open();
    }

    // Port directory entry COM9 holding `text`, the user's alone.
    void Entry(const std::string& text)
    {
        const std::string path = dir.Path() + "/COM9";
        std::ofstream(path, std::ios::binary) << text;
        ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    }

    TempDir dir;
    ScopedEnv env{"PELVAR_PORTS_DIR", dir.Path()};
    SimPlatform sim;
    FakeServerState server{sim};
    NetworkPlatform net{sim, [this] { return std::make_unique<FakeRfc2217Connection>(server); }};
    std::unique_ptr<CFrameLink> link;
};

TEST_F(NetworkPortTest, OpenNegotiatesAndAsksForTheBoardsLineSettingsInOneBlock)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    EXPECT_EQ(server.connectedHost, "board.lab");
    EXPECT_EQ(server.connectedPort, 4000);
    ASSERT_EQ(server.fromClient.size(), 1u);
    EXPECT_EQ(server.fromClient[0].bytes, kOpening);
    EXPECT_EQ(sim.Now(), 1000u); // the confirmation came at once
}

TEST_F(NetworkPortTest, OpenGoesOnWithoutAConfirmationAfter300Ms)
{
    server.confirmBaudAfterMs.reset();
    ASSERT_EQ(OpenLink(), LINK_OK);
    EXPECT_EQ(sim.Now(), 1300u);
}

TEST_F(NetworkPortTest, ServerThatClosesAtOnceIsBusy)
{
    server.confirmBaudAfterMs.reset();
    const std::string text = "Port already in use\r\n";
    server.SendAt(1002, Bytes(text.begin(), text.end()));
    server.closeAt = 1005;
    EXPECT_EQ(OpenLink(), PORT_ERR_CONFIG);
    EXPECT_EQ(link->Port()->LastError(), EBUSY);
    EXPECT_EQ(sim.Now(), 1005u);
    EXPECT_TRUE(server.closedByClient);
}

// What a server answers to the options asked for at the opening. A refused
// COM-PORT-OPTION must never be used: no line setting, purge or RTS follows.
struct RefusalRow {
    const char* name;
    Bytes answer; // sent 1 ms after the opening block
    std::optional<std::uint32_t> confirmBaudAfterMs;
    std::int32_t open;
    int error;
    std::uint32_t elapsedMs;

    friend void PrintTo(const RefusalRow& row, std::ostream* os) { *os << row.name; }
};

class NetworkRefusal : public NetworkPortTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(NetworkRefusal, OpensOnlyWhereTheLineCanBeControlled)
{
    server.confirmBaudAfterMs = GetParam().confirmBaudAfterMs;
    server.SendAt(1001, GetParam().answer);
    EXPECT_EQ(OpenLink(), GetParam().open);
    EXPECT_EQ(link->Port()->LastError(), GetParam().error);
    EXPECT_EQ(sim.Now() - 1000, GetParam().elapsedMs);
    if (GetParam().open == LINK_OK) {
        server.fromClient.clear();
        ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
        EXPECT_EQ(server.AllFromClient(), Cat({kPurge, kRtsOn, kStatusQuery, kRtsOff}));
    } else {
        EXPECT_TRUE(server.closedByClient);
        ASSERT_EQ(server.fromClient.size(), 1u);
        EXPECT_EQ(server.fromClient[0].bytes, kOpening);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetworkRefusal,
    ::testing::Values(
        RefusalRow{"com_port_refused", {0xFF, 0xFE, 0x2C}, std::nullopt, PORT_ERR_CONFIG, kErrorNotRfc2217, 1},
        // The line is still controlled; the frames go out as they are.
        RefusalRow{"binary_refused", {0xFF, 0xFE, 0x00, 0xFF, 0xFC, 0x00}, 2, LINK_OK, 0, 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConnectRow {
    const char* name;
    int refuseWith;
    std::uint32_t connectMs;
    int error;
    std::uint32_t elapsedMs;
    std::string url = "rfc2217://board.lab:4000";
    Bytes answer = {}; // what the server sends 1 ms after the connection

    friend void PrintTo(const ConnectRow& row, std::ostream* os) { *os << row.name; }
};

class NetworkConnect : public NetworkPortTest, public ::testing::WithParamInterface<ConnectRow> {};

TEST_P(NetworkConnect, FailsWithinItsBound)
{
    server.refuseWith = GetParam().refuseWith;
    server.connectMs = GetParam().connectMs;
    if (!GetParam().answer.empty())
        server.SendAt(1000 + GetParam().connectMs + 1, GetParam().answer);
    EXPECT_EQ(OpenLink(GetParam().url), PORT_ERR_CONFIG);
    EXPECT_EQ(link->Port()->LastError(), GetParam().error);
    EXPECT_EQ(sim.Now() - 1000, GetParam().elapsedMs);
    // Over TLS nothing but TLS records went out: a handshake (0x16), an alert (0x15).
    if (GetParam().url.rfind("rfc2217+tls://", 0) == 0) {
        ASSERT_FALSE(server.fromClient.empty());
        EXPECT_EQ(Bytes(server.fromClient[0].bytes.begin(), server.fromClient[0].bytes.begin() + 3),
                  (Bytes{0x16, 0x03, 0x01}));
        for (const auto& sent : server.fromClient)
            EXPECT_TRUE(sent.bytes[0] == 0x16 || sent.bytes[0] == 0x15) << int(sent.bytes[0]);
        EXPECT_TRUE(server.closedByClient);
    }
}

constexpr const char* kTlsUrl = "rfc2217+tls://board.lab:4000";

INSTANTIATE_TEST_SUITE_P(
    Rows, NetworkConnect,
    ::testing::Values(ConnectRow{"refused", ECONNREFUSED, 0, ECONNREFUSED, 0},
                      ConnectRow{"no_answer", 0, 60000, ETIMEDOUT, 3000},
                      // The handshake shares the connect limit with the connection.
                      ConnectRow{"tls_hello_never_answered", 0, 0, ETIMEDOUT, 3000, kTlsUrl},
                      ConnectRow{"tls_hello_after_a_slow_connect", 0, 2600, ETIMEDOUT, 3000, kTlsUrl},
                      // A plain RFC 2217 server greets with telnet's options.
                      ConnectRow{"tls_server_speaks_telnet",
                                 0,
                                 0,
                                 kErrorNotTls,
                                 1,
                                 kTlsUrl,
                                 {0xFF, 0xFB, 0x03, 0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x2C}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkPortTest, MalformedEntryIsNotConnected)
{
    Entry("rfc2217://board.lab\n");
    link = std::make_unique<CFrameLink>(9, 115200, net);
    EXPECT_EQ(link->Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(link->Port()->LastError(), EINVAL);
    EXPECT_EQ(server.connects, 0);
}

// A port directory entry as written by hand or by an editor: its first line
// is the URL, whole or not at all.
struct EntryRow {
    const char* name;
    std::string text;
    std::uint16_t port; // the server port connected to; 0: refused
    std::string said;   // PortPath: the URL opened, or why the entry is refused (after its path)

    friend void PrintTo(const EntryRow& row, std::ostream* os) { *os << row.name; }
};

class NetworkEntry : public NetworkPortTest, public ::testing::WithParamInterface<EntryRow> {};

TEST_P(NetworkEntry, OpensTheWholeLineOrNothing)
{
    Entry(GetParam().text);
    link = std::make_unique<CFrameLink>(9, 115200, net);
    if (GetParam().port == 0) {
        EXPECT_EQ(link->Open(), PORT_ERR_CONFIG);
        EXPECT_EQ(link->Port()->LastError(), EINVAL);
        EXPECT_EQ(server.connects, 0);
        EXPECT_EQ(net.PortPath(9), dir.Path() + "/COM9" + GetParam().said);
    } else {
        EXPECT_EQ(link->Open(), LINK_OK);
        EXPECT_EQ(server.connectedPort, GetParam().port);
        EXPECT_EQ(net.PortPath(9), GetParam().said);
    }
}

// 511 characters: "rfc2217://" (10), the host, ":40" and two more digits.
const std::string kLongHost = "board.lab" + std::string(511 - 10 - 9 - 5, 'a');

INSTANTIATE_TEST_SUITE_P(
    Rows, NetworkEntry,
    ::testing::Values(
        EntryRow{"crlf", "rfc2217://board.lab:4000\r\n", 4000, "rfc2217://board.lab:4000"},
        EntryRow{"trailing_blanks", "rfc2217://board.lab:4001 \t\n", 4001, "rfc2217://board.lab:4001"},
        EntryRow{"longest_line", "rfc2217://" + kLongHost + ":4002\n", 4002, "rfc2217://" + kLongHost + ":4002"},
        // Cut at 511 characters this would name port 40 of the same host.
        EntryRow{"over_long_line", "rfc2217://" + kLongHost + "a:4003\n", 0,
                 ": its line is longer than 511 characters"},
        EntryRow{"nul_inside", std::string("rfc2217://board.lab:4004\0junk\n", 30), 0, ": its line holds a NUL byte"},
        EntryRow{"tls_with_an_empty_option", "rfc2217+tls://board.lab:4005?ca=\n", 0,
                 ": 'rfc2217+tls://board.lab:4005?ca=' is not a network port rfc2217+tls://HOST:PORT: ca= needs a "
                 "value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkPortTest, LocalPortAfterANetworkOneReportsItsOwnError)
{
    server.refuseWith = ECONNREFUSED;
    EXPECT_EQ(OpenLink(), PORT_ERR_CONFIG);
    EXPECT_EQ(link->Port()->LastError(), ECONNREFUSED);
    // COM42 is neither simulated nor an entry: the local platform's ENOENT.
    CFrameLink local(42, 115200, net);
    EXPECT_EQ(local.Open(), PORT_ERR_CONFIG);
    EXPECT_EQ(local.Port()->LastError(), ENOENT);
    EXPECT_EQ(net.LastError(), ENOENT);
}

TEST_F(NetworkPortTest, EveryNameOfARunOpensItsOwnAddress)
{
    // More names than there are COM numbers: none runs out, none meets another.
    for (int i = 1; i <= 300; ++i) {
        ASSERT_EQ(OpenLink("rfc2217://board.lab:" + std::to_string(5000 + i)), LINK_OK) << i;
        ASSERT_EQ(server.connectedPort, 5000 + i);
        link.reset();
    }
    server.refuseWith = ECONNREFUSED;
    EXPECT_EQ(OpenLink("rfc2217://board.lab:5301"), PORT_ERR_CONFIG);
    EXPECT_EQ(link->Port()->LastError(), ECONNREFUSED);
}

TEST_F(NetworkPortTest, FrameGoesOutWithPurgeAndRtsAheadAndRtsFallsAfterTheHoldTime)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    server.fromClient.clear();
    ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
    ASSERT_EQ(server.fromClient.size(), 2u);
    EXPECT_EQ(server.fromClient[0].at, 1000u);
    EXPECT_EQ(server.fromClient[0].bytes, Cat({kPurge, kRtsOn, kStatusQuery}));
    EXPECT_EQ(server.fromClient[1].at, 1002u); // 2 ms hold at 115200 bit/s
    EXPECT_EQ(server.fromClient[1].bytes, kRtsOff);
}

// The server's adapter is set at the server: no low latency asked, no
// RS-485 mode, and a link that wants it does not use the port.
TEST_F(NetworkPortTest, NeitherLowLatencyNorRs485ModeReachesTheServer)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    EXPECT_FALSE(net.SetLowLatency(link->Port()->m_hCom, true));
    EXPECT_EQ(net.LastError(), ENOTTY);
    EXPECT_TRUE(net.SetLowLatency(link->Port()->m_hCom, false));
    EXPECT_EQ(net.Adapter(link->Port()->m_hCom).latencyTimerMs, -1);
    link->Close();

    link = std::make_unique<CFrameLink>(Ref("rfc2217://board.lab:4000"), 115200, net);
    link->SetRs485(true);
    EXPECT_EQ(link->Open(), PORT_ERR_RS485);
    EXPECT_EQ(link->Port()->LastError(), ENOTTY);
    EXPECT_FALSE(link->IsOpen());
}

TEST_F(NetworkPortTest, QuirkOptionsLeaveOutControlAndPurge)
{
    ASSERT_EQ(OpenLink("rfc2217://board.lab:4000?ign_set_control&ign_purge"), LINK_OK);
    server.fromClient.clear();
    ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
    ASSERT_EQ(server.fromClient.size(), 1u);
    EXPECT_EQ(server.fromClient[0].bytes, kStatusQuery);
}

TEST_F(NetworkPortTest, EveryFfOfAFrameIsDoubled)
{
    ASSERT_EQ(OpenLink("rfc2217://board.lab:4000?ign_set_control&ign_purge"), LINK_OK);
    server.fromClient.clear();
    const std::uint8_t value[] = {0xFF, 0xFF};
    ASSERT_EQ(link->SendFrame(CMD_REG_WRITE, value, 2), LINK_OK);
    EXPECT_EQ(server.AllFromClient(), (Bytes{0x02, 0x04, 0xA4, 0xFF, 0xFF, 0xFF, 0xFF, 0xA2, 0x03}));
}

// The same timing as a local port: the read of 9 bytes ends 50 ms after the
// 6 that came, the second one for the 3 missing lasts 200 ms.
// A raw server passes the line's bytes through and drives RTS itself: no
// negotiation, no wait for one, no purge or RTS request, no escaping either way.
TEST_F(NetworkPortTest, RawPortCarriesTheBytesAsTheyAre)
{
    ASSERT_EQ(OpenLink("socket://board.lab:4000"), LINK_OK);
    EXPECT_EQ(server.connectedPort, 4000);
    EXPECT_TRUE(server.fromClient.empty());
    EXPECT_EQ(sim.Now(), 1000u);
    const std::uint8_t value[] = {0xFF, 0xFF};
    ASSERT_EQ(link->SendFrame(CMD_REG_WRITE, value, 2), LINK_OK);
    EXPECT_EQ(server.AllFromClient(), (Bytes{0x02, 0x04, 0xA4, 0xFF, 0xFF, 0xA2, 0x03}));

    server.fromClient.clear();
    server.SendAt(sim.Now() + 1, {0x02, 0xFF, 0xFD, 0x18, 0xFF, 0xFF, 0x03});
    std::uint8_t buf[16] = {};
    std::uint32_t got = 0;
    ASSERT_EQ(link->Port()->ReadTimed(buf, 7, &got), LINK_OK);
    EXPECT_EQ(Bytes(buf, buf + got), (Bytes{0x02, 0xFF, 0xFD, 0x18, 0xFF, 0xFF, 0x03}));
    EXPECT_TRUE(server.fromClient.empty()); // nothing answered: it was data
}

TEST_F(NetworkPortTest, ReplyTimingIsThatOfALocalPort)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    server.onClientBytes = [this](const Bytes& b) {
        if (std::search(b.begin(), b.end(), kStatusQuery.begin(), kStatusQuery.end()) != b.end())
            server.SendIn(10, kStatusReply);
    };
    ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
    const std::uint32_t sent = sim.Now();
    std::uint8_t frame[kFrameBufferSize];
    std::uint32_t length = 0;
    ASSERT_EQ(link->ReceiveFrame(frame, 4, &length), LINK_OK);
    EXPECT_EQ(Bytes(frame, frame + length), kStatusReply);
    EXPECT_EQ(sim.Now() - sent, 258u); // 10 ms after the send began, less the 2 ms hold
}

// A reply that came after its exchange gave up must not answer the next
// query: the purge ahead of the next frame drops it, whether it still waits
// in the socket or a poll for the unplugged board has taken it in.
struct LateRow {
    const char* name;
    bool polledBetween;

    friend void PrintTo(const LateRow& row, std::ostream* os) { *os << row.name; }
};

class NetworkLateReply : public NetworkPortTest, public ::testing::WithParamInterface<LateRow> {};

TEST_P(NetworkLateReply, IsDroppedBeforeTheNextFrame)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    const Bytes zeroReply = {0x02, 0x03, 0x00, 0x00, 0x01, 0x03};
    int queries = 0;
    server.onClientBytes = [&](const Bytes& b) {
        if (std::search(b.begin(), b.end(), kStatusQuery.begin(), kStatusQuery.end()) == b.end())
            return;
        ++queries;
        server.SendIn(queries == 1 ? 900 : 5, queries == 1 ? kStatusReply : zeroReply);
    };
    std::uint8_t frame[kFrameBufferSize];
    std::uint32_t length = 0;
    ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
    ASSERT_EQ(link->ReceiveFrame(frame, 4, &length), LINK_ERR_NO_REPLY);
    sim.SetNow(2000); // the first reply came at 1900
    if (GetParam().polledBetween) {
        EXPECT_FALSE(net.PortGone(link->Port()->m_hCom));
    }
    ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
    ASSERT_EQ(link->ReceiveFrame(frame, 4, &length), LINK_OK);
    EXPECT_EQ(Bytes(frame, frame + length), zeroReply);
}

INSTANTIATE_TEST_SUITE_P(Rows, NetworkLateReply,
                         ::testing::Values(LateRow{"still_in_the_socket", false}, LateRow{"taken_in_by_a_poll", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetworkPortTest, SilentBoardCostsSixAttemptsAsOnALocalPort)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    server.fromClient.clear();
    EXPECT_EQ(link->Transact(CMD_INIT, nullptr, 0), LINK_ERR_NO_REPLY);
    EXPECT_EQ(sim.Now() - 1000, 3072u); // six times 10 ms pause, 2 ms hold, 500 ms window
    int frames = 0;
    const Bytes all = server.AllFromClient();
    const Bytes init = {0x02, 0x02, 0x70, 0x70, 0x03};
    for (auto it = all.begin(); (it = std::search(it, all.end(), init.begin(), init.end())) != all.end(); ++it)
        ++frames;
    EXPECT_EQ(frames, 6);
}

TEST_F(NetworkPortTest, DropInTheMiddleFailsTheExchangeAndTheDeviceHasGone)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    server.closeAt = 1100;
    EXPECT_EQ(link->Transact(CMD_INIT, nullptr, 0), LINK_ERR_SEND);
    EXPECT_EQ(link->Port()->LastError(), ECONNRESET);
    EXPECT_LE(sim.Now() - 1000, 600u); // the first window, then five sends that fail at once
    EXPECT_TRUE(net.PortGone(link->Port()->m_hCom));
}

// The server closes 10 ms into a reply, after three of its six bytes.
class NetworkCutReply : public NetworkPortTest {
protected:
    void SetUp() override
    {
        NetworkPortTest::SetUp();
        ASSERT_EQ(OpenLink(), LINK_OK);
        server.onClientBytes = [this](const Bytes& b) {
            if (std::search(b.begin(), b.end(), kStatusQuery.begin(), kStatusQuery.end()) == b.end())
                return;
            server.SendIn(10, {0x02, 0x03, 0x00});
            server.closeAt = sim.Now() + 20;
        };
        ASSERT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_OK);
    }
};

TEST_F(NetworkCutReply, ReadEndsAtTheDropAndTheNextReadReportsIt)
{
    const PortHandle h = link->Port()->m_hCom;
    std::uint8_t buf[9];
    std::uint32_t got = 0;
    ASSERT_TRUE(net.Read(h, buf, 9, &got));
    EXPECT_EQ(Bytes(buf, buf + got), (Bytes{0x02, 0x03, 0x00}));
    EXPECT_EQ(sim.Now(), 1020u) << "ended by the close, not 50 ms after the last byte";
    EXPECT_FALSE(net.Read(h, buf, 9, &got));
    EXPECT_EQ(net.LastError(), ECONNRESET);
    EXPECT_TRUE(net.PortGone(h));
}

TEST_F(NetworkCutReply, LinkTakesNoFrameAndTheDeviceHasGone)
{
    std::uint8_t frame[kFrameBufferSize];
    std::uint32_t length = 99;
    EXPECT_EQ(link->ReceiveFrame(frame, 4, &length), LINK_ERR_NO_REPLY);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(link->Port()->LastError(), ECONNRESET);
    EXPECT_TRUE(net.PortGone(link->Port()->m_hCom));
}

TEST_F(NetworkPortTest, SendThatCannotGoOutFailsAtItsLimit)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    server.sendStalls = true;
    EXPECT_EQ(link->SendFrame(CMD_STATUS, nullptr, 0), LINK_ERR_SEND);
    EXPECT_EQ(sim.Now() - 1000, 300u); // 50 ms a byte plus 50 ms for 5 bytes
    // Half a command may be in the stream: the port has gone, and says so at once.
    EXPECT_EQ(link->Port()->LastError(), ECONNRESET);
    EXPECT_TRUE(net.PortGone(link->Port()->m_hCom));
}

// What the server sends, as it may arrive: data with its IAC escapes and
// commands anywhere, and the answers the client owes.
struct IncomingRow {
    const char* name;
    std::vector<Bytes> chunks;
    Bytes data;
    Bytes answers;
};

class NetworkIncoming : public NetworkPortTest, public ::testing::WithParamInterface<IncomingRow> {};

TEST_P(NetworkIncoming, DataAndAnswers)
{
    ASSERT_EQ(OpenLink(), LINK_OK);
    server.fromClient.clear();
    std::uint32_t at = sim.Now();
    for (const Bytes& chunk : GetParam().chunks)
        server.SendAt(++at, chunk);
    std::uint8_t buf[64] = {};
    std::uint32_t got = 0;
    CComPort& port = *link->Port();
    // Fewer than 64 bytes come: the read ends at its limit, the line still up.
    EXPECT_EQ(port.ReadTimed(buf, 64, &got), PORT_ERR_READ_TIMEOUT);
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_EQ(Bytes(buf, buf + got), GetParam().data);
    EXPECT_EQ(server.AllFromClient(), GetParam().answers);
}

Bytes Overlong()
{
    Bytes b = {0x02, 0xFF, 0xFA, 0x2C, 0x6A};
    b.insert(b.end(), 40, 0x41);
    b.insert(b.end(), {0xFF, 0xF0, 0x03});
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetworkIncoming,
    ::testing::Values(
        IncomingRow{"doubled_ff_is_one",
                    {{0x02, 0x04, 0xA4, 0xFF, 0xFF, 0xFF, 0xFF, 0xA2, 0x03}},
                    {0x02, 0x04, 0xA4, 0xFF, 0xFF, 0xA2, 0x03},
                    {}},
        IncomingRow{"iac_split_between_reads", {{0x02, 0xFF}, {0xFF, 0x03}}, {0x02, 0xFF, 0x03}, {}},
        IncomingRow{
            "notification_inside_data", {{0x02, 0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0, 0x03}}, {0x02, 0x03}, {}},
        IncomingRow{"ff_inside_subnegotiation",
                    {{0x02, 0xFF, 0xFA, 0x2C, 0x6B, 0xFF, 0xFF, 0xFF, 0xF0, 0x03}},
                    {0x02, 0x03},
                    {}},
        IncomingRow{"overlong_subnegotiation", {Overlong()}, {0x02, 0x03}, {}},
        IncomingRow{"nop_and_go_ahead", {{0x02, 0xFF, 0xF1, 0xFF, 0xF9, 0x03}}, {0x02, 0x03}, {}},
        IncomingRow{"broken_subnegotiation",
                    {{0x02, 0xFF, 0xFA, 0x2C, 0xFF, 0xFB, 0x01, 0x03}},
                    {0x02, 0x03},
                    {0xFF, 0xFE, 0x01}},
        IncomingRow{"echo_offered_is_refused", {{0xFF, 0xFB, 0x01}}, {}, {0xFF, 0xFE, 0x01}},
        IncomingRow{"terminal_type_asked_is_refused", {{0xFF, 0xFD, 0x18}}, {}, {0xFF, 0xFC, 0x18}},
        IncomingRow{"agreement_to_our_request_is_not_answered", {{0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x2C}}, {}, {}},
        IncomingRow{
            "refusing_an_agreed_option_is_confirmed", {{0xFF, 0xFD, 0x00}, {0xFF, 0xFE, 0x00}}, {}, {0xFF, 0xFC, 0x00}},
        IncomingRow{"unasked_offer_of_a_refused_option_is_taken",
                    {{0xFF, 0xFC, 0x03}, {0xFF, 0xFB, 0x03}},
                    {},
                    {0xFF, 0xFD, 0x03}}),
    [](const auto& info) { return std::string(info.param.name); });

struct UrlRow {
    const char* text;
    const char* host; // nullptr: refused
    std::uint16_t port;
    const char* error;
    bool raw = false;
    bool tls = false;
};

class NetworkUrl : public ::testing::TestWithParam<UrlRow> {};

TEST_P(NetworkUrl, Parses)
{
    NetworkAddress a;
    std::string error;
    const bool ok = ParseNetworkAddress(GetParam().text, &a, &error);
    if (GetParam().host) {
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(a.host, GetParam().host);
        EXPECT_EQ(a.port, GetParam().port);
        EXPECT_EQ(a.raw, GetParam().raw);
        EXPECT_EQ(a.tls, GetParam().tls);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, std::string("'") + GetParam().text + "' is not a network port "
                             + (GetParam().raw   ? "socket"
                                : GetParam().tls ? "rfc2217+tls"
                                                 : "rfc2217")
                             + "://HOST:PORT: " + GetParam().error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetworkUrl,
    ::testing::Values(
        UrlRow{"rfc2217://lab-7.example:2217", "lab-7.example", 2217, ""},
        UrlRow{"rfc2217://192.168.1.20:4001", "192.168.1.20", 4001, ""},
        UrlRow{"rfc2217://[::1]:65535", "::1", 65535, ""},
        UrlRow{"rfc2217://[fe80::1]:4000?ign_set_control", "fe80::1", 4000, ""},
        UrlRow{"rfc2217://host", nullptr, 0, "the port number is missing"},
        UrlRow{"rfc2217://:4000", nullptr, 0, "the host is missing"},
        UrlRow{"rfc2217://host:0", nullptr, 0, "'0' is not a TCP port from 1 to 65535"},
        UrlRow{"rfc2217://host:65536", nullptr, 0, "'65536' is not a TCP port from 1 to 65535"},
        UrlRow{"rfc2217://host:40x", nullptr, 0, "'40x' is not a TCP port from 1 to 65535"},
        UrlRow{"rfc2217://ho st:4000", nullptr, 0, "'ho st' is not a host name or address"},
        UrlRow{"rfc2217://[::1:4000", nullptr, 0, "an IPv6 address needs its closing ']'"},
        UrlRow{"rfc2217://h:1?fast", nullptr, 0, "unknown option 'fast' (known: ign_set_control, ign_purge)"},
        UrlRow{"telnet://h:1", nullptr, 0, "it does not begin with rfc2217://"},
        UrlRow{"socket://127.0.0.1:3001", "127.0.0.1", 3001, "", true}, UrlRow{"socket://[::1]:7", "::1", 7, "", true},
        UrlRow{"socket://h", nullptr, 0, "the port number is missing", true},
        UrlRow{"socket://h:1?ign_purge", nullptr, 0, "socket:// takes no options", true},
        UrlRow{"rfc2217+tls://127.0.0.1:3002?ca=/etc/lab/ca.pem&ign_purge", "127.0.0.1", 3002, "", false, true},
        UrlRow{"rfc2217+tls://[::1]:3002", "::1", 3002, "", false, true},
        UrlRow{"rfc2217+tls://h", nullptr, 0, "the port number is missing", false, true},
        UrlRow{"rfc2217://h:1?ca=lab.pem", nullptr, 0, "ca= is an option of rfc2217+tls:// ports"},
        UrlRow{"rfc2217+tls://h:1?ca=", nullptr, 0, "ca= needs a value", false, true},
        UrlRow{"rfc2217+tls://h:1?key=a&key=b", nullptr, 0, "key= is given twice", false, true},
        UrlRow{"rfc2217+tls://h:1?cert=me.pem", nullptr, 0, "a client certificate needs both cert= and key=", false,
               true},
        UrlRow{"rfc2217+tls://h:1?fingerprint=sha256:AB:CD", nullptr, 0,
               "fingerprint 'sha256:AB:CD' is not sha256: and 64 hex digits", false, true},
        UrlRow{"rfc2217+tls://h:1?fingerprint=sha1:"
               "0000000000000000000000000000000000000000000000000000000000000000",
               nullptr, 0,
               "fingerprint 'sha1:0000000000000000000000000000000000000000000000000000000000000000' "
               "is not sha256: and 64 hex digits",
               false, true},
        UrlRow{"rfc2217+tls://h:1?insecure", nullptr, 0,
               "unknown option 'insecure' (known: ign_set_control, ign_purge, ca=, fingerprint=, "
               "cert=, key=)",
               false, true}));

// The fingerprint as openssl prints it: colons, upper case, any prefix case.
TEST(NetworkUrlTls, CarriesItsFilesAndThePinInOneForm)
{
    NetworkAddress a;
    std::string error;
    ASSERT_TRUE(ParseNetworkAddress("rfc2217+tls://lab-7:3002?ca=/lab/ca.crt&cert=/me.crt&key=/me.key&fingerprint="
                                    "SHA256:0A:1B:2C:3D:4E:5F:60:71:82:93:A4:B5:C6:D7:E8:F9:0A:1B:2C:3D:4E:5F:60:71:"
                                    "82:93:A4:B5:C6:D7:E8:F9",
                                    &a, &error))
        << error;
    EXPECT_EQ(a.caFile, "/lab/ca.crt");
    EXPECT_EQ(a.certFile, "/me.crt");
    EXPECT_EQ(a.keyFile, "/me.key");
    EXPECT_EQ(a.fingerprint, "0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f9");
}

TEST(NamedPorts, ANameIsItsOwnValueAndAnEqualNameTheSame)
{
    PortRef a, b, path;
    std::string error;
    ASSERT_TRUE(ParsePortRef("rfc2217://a:1", &a, &error));
    ASSERT_TRUE(ParsePortRef("rfc2217://a:1", &b, &error));
    ASSERT_TRUE(ParsePortRef("/dev/ttyUSB0", &path, &error));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.Text(), "rfc2217://a:1");
    EXPECT_EQ(path.Text(), "/dev/ttyUSB0");
    EXPECT_FALSE(a == path);
}

} // namespace
} // namespace pelvar
