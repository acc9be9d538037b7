// Everything the RFC 2217 client reads from the network, from a hostile or
// broken server: the first line is the port's URL (as an entry of the port
// directory holds it), the rest the server's byte stream, cut into pieces
// at every byte below 0x08 that follows a 0x07 (so that commands and
// escapes fall across reads). The client runs through the frame link on the
// simulated clock, so a hang shows as a time-out of the fuzzer.
//
// Invariants: the open and every exchange end within their bounds on the
// simulated clock; what the client answers is whole telnet commands
// (IAC, a verb, an option); the cuts of the stream change nothing; a
// stream without IAC is all data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "camera/Commands.h"
#include "link/FrameLink.h"
#include "platform/PortRef.h"
#include "platform/net/NetworkPlatform.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/FakeRfc2217Server.h"

namespace {

using namespace pelvar;
using fuzz::Check;

bool WholeCommands(const test::Bytes& b)
{
    if (b.size() % 3 != 0)
        return false;
    for (std::size_t i = 0; i < b.size(); i += 3) {
        if (b[i] != telnet::IAC || b[i + 1] < telnet::WILL)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = input.find('\n');
    const std::string url = input.substr(0, nl);
    const std::string stream = nl == std::string::npos ? std::string() : input.substr(nl + 1);

    NetworkAddress address;
    std::string error;
    if (!ParseNetworkAddress(url, &address, &error)) {
        Check(!error.empty(), "a refused URL says why");
        return 0;
    }
    Check(!address.host.empty() && address.port != 0, "an accepted URL has a host and a port");

    SimPlatform sim;
    test::FakeServerState server(sim);
    server.confirmBaudAfterMs.reset();
    std::uint32_t at = 1;
    test::Bytes piece;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(stream[i]);
        if (b < 0x08 && !piece.empty() && piece.back() == 0x07) {
            server.SendAt(at++, piece);
            piece.clear();
        }
        piece.push_back(b);
    }
    if (!piece.empty())
        server.SendAt(at, piece);

    // Opened by the name as pelvarctl parses it; the server's answers to the
    // opening are collected apart from the client's own bytes.
    PortRef ref;
    Check(ParsePortRef(url, &ref, &error), "a network address parsed once parses as a port name");
    NetworkPlatform net(sim, [&server] { return std::make_unique<test::FakeRfc2217Connection>(server); });
    CFrameLink link(ref, 115200, net);
    if (link.Open() != LINK_OK)
        return 0;
    Check(sim.Now() <= kNetOpenAnswerMs, "the open waits at most its bound");
    const std::size_t opening = server.fromClient.size();

    const std::uint32_t before = sim.Now();
    link.Transact(CMD_STATUS, nullptr, 0);
    Check(sim.Now() - before <= 6 * (10 + 2 + 500 + 200), "a transaction ends within six attempts");

    for (std::size_t i = opening; i < server.fromClient.size(); ++i) {
        const test::Bytes& sent = server.fromClient[i].bytes;
        const bool ours = sent.size() >= 3 && sent[0] == telnet::IAC && sent[1] == telnet::SB;
        const bool frame = !sent.empty() && sent[0] == STX;
        Check(ours || frame || WholeCommands(sent), "the client answers with whole telnet commands");
    }

    // The session reads the same data and owes the same answers whether the
    // stream comes whole or a byte at a time; without IAC the data is the stream.
    TelnetSession whole;
    TelnetSession bytewise;
    test::Bytes wholeData, wholeAnswers, byteData, byteAnswers;
    const auto* raw = reinterpret_cast<const std::uint8_t*>(stream.data());
    whole.Feed(raw, stream.size(), &wholeData, &wholeAnswers);
    for (std::size_t i = 0; i < stream.size(); ++i)
        bytewise.Feed(raw + i, 1, &byteData, &byteAnswers);
    Check(wholeData == byteData && wholeAnswers == byteAnswers, "the cuts of the stream change nothing");
    Check(wholeData.size() <= stream.size(), "no more data than bytes");
    if (stream.find('\xff') == std::string::npos)
        Check(wholeData == test::Bytes(stream.begin(), stream.end()), "a stream without IAC is all data");
    return 0;
}
