// The frame receiver fed arbitrary byte streams on the simulated line.
//
// Input: two header bytes, then chunks of [delay ms][count][count bytes].
//   header 0: bits 0-2 the receive room (from kRooms), bit 3 transaction
//             mode, bits 4-5 how many exchanges follow (1 to 4)
//   header 1: faults: bit 0 reads fail, bit 1 writes fail, bit 2 RTS fails,
//             bit 3 the board hangs up after its first reply
// Receive mode delivers every chunk at its arrival time before receiving;
// transaction mode has the board answer each frame written with the next
// chunk. Chunk delays split frames across reads, so the interval and total
// time-outs and partial frames are reached.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/fuzz/FuzzCheck.h"
#include "link/FrameLink.h"
#include "platform/SimPlatform.h"

namespace {

using namespace pelvar;

constexpr int kPort = 1;
constexpr std::uint32_t kRooms[] = {1, 2, 4, 0, 3, 8, kMaxRoom, kMaxRoom + 1};

struct Chunk {
    std::uint32_t delay;
    std::vector<std::uint8_t> bytes;
};

using fuzz::Broken;
using fuzz::Check;

std::vector<Chunk> SplitChunks(const std::uint8_t* data, std::size_t size)
{
    std::vector<Chunk> chunks;
    std::size_t i = 0;
    while (i + 2 <= size) {
        Chunk c;
        c.delay = data[i];
        const std::size_t count = std::min<std::size_t>(data[i + 1], size - i - 2);
        c.bytes.assign(data + i + 2, data + i + 2 + count);
        chunks.push_back(std::move(c));
        i += 2 + count;
    }
    return chunks;
}

// The board: answers each frame the host writes with the next chunk.
class ChunkBoard : public ISimDevice {
public:
    ChunkBoard(const std::vector<Chunk>& chunks, bool hangUpAfterFirst) : m_chunks(chunks), m_hangUp(hangUpAfterFirst)
    {}

    void OnHostBytes(SimLine& line, const std::uint8_t*, std::size_t) override
    {
        if (m_next >= m_chunks.size())
            return;
        const Chunk& c = m_chunks[m_next++];
        line.Send(c.delay, c.bytes);
        if (m_hangUp)
            line.HangUp();
    }

private:
    const std::vector<Chunk>& m_chunks;
    std::size_t m_next = 0;
    bool m_hangUp;
};

// Longest a receive may take: the 500 ms window plus one poll that started
// just inside it (one timed read: 100 ms of short reads, then one platform
// read of up to 50 ms per byte plus 50 ms).
std::uint32_t ReceiveBound(std::uint32_t room) { return kReceiveWindowMs + 150 + 50 * (room + 5); }

bool Contains(const std::vector<std::uint8_t>& stream, const std::uint8_t* frame, std::uint32_t n)
{
    return std::search(stream.begin(), stream.end(), frame, frame + n) != stream.end();
}

void CheckDeliveredFrame(const std::uint8_t* frame, std::uint32_t length, std::uint32_t room,
                         const std::vector<std::uint8_t>& stream)
{
    Check(length >= 5 && length <= kFrameBufferSize, "frame length within 5..258");
    Check(frame[0] == STX, "frame starts with STX");
    Check(length == frame[1] + 3u, "frame length is LEN + 3");
    Check(frame[length - 1] == ETX, "frame ends with ETX");
    Check(frame[1] - 2u <= room, "payload fits the room");
    std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i + 2 < length; ++i)
        sum ^= frame[i];
    Check(sum == frame[length - 2], "checksum is the XOR of STX..payload");
    Check(Contains(stream, frame, length), "frame is bytes that arrived, in order");
}

void RunReceives(SimPlatform& sim, CFrameLink& link, const std::vector<Chunk>& chunks, std::uint32_t room,
                 int exchanges)
{
    std::vector<std::uint8_t> stream;
    std::uint32_t at = 0;
    for (const Chunk& c : chunks) {
        at += c.delay;
        sim.Deliver(kPort, at, c.bytes);
        stream.insert(stream.end(), c.bytes.begin(), c.bytes.end());
    }
    for (int k = 0; k < exchanges; ++k) {
        std::uint8_t frame[kFrameBufferSize];
        std::uint32_t length = 0xDEADBEEF;
        const std::uint32_t start = sim.Now();
        const std::int32_t r = link.ReceiveFrame(frame, room, &length);
        const std::uint32_t took = sim.Now() - start;
        if (room > kMaxRoom) {
            Check(r == LINK_ERR_BAD_ARG && length == 0xDEADBEEF, "a room above 253 is refused, length untouched");
            continue;
        }
        Check(r == LINK_OK || r == LINK_ERR_NO_REPLY || r == LINK_ERR_CHECKSUM || r == LINK_ERR_REPLY_TOO_LONG,
              "receive result is a documented code");
        Check(took <= ReceiveBound(room), "receive ends within its window plus one poll");
        if (r == LINK_OK)
            CheckDeliveredFrame(frame, length, room, stream);
        else
            Check(length == 0, "failed receive leaves length 0");
    }
}

void RunTransactions(SimPlatform& sim, CFrameLink& link, bool failRts, int exchanges)
{
    const std::uint8_t payload[4] = {0xC8, 0x00, 0x00, 0x00};
    for (int k = 0; k < exchanges; ++k) {
        const std::uint32_t start = sim.Now();
        const std::int32_t r = link.Transact(0x91, payload, sizeof payload);
        const std::uint32_t took = sim.Now() - start;
        Check(r == LINK_OK || r == LINK_ERR_NO_REPLY || r == LINK_ERR_CHECKSUM || r == LINK_ERR_REPLY_TOO_LONG
                  || r == LINK_ERR_NAK || r == LINK_ERR_SEND,
              "transaction result is a documented code");
        const std::uint32_t attemptBound = 10 + HoldTimeMs(9, 115200) + ReceiveBound(kTransactRoom);
        Check(took <= kTransactAttempts * attemptBound, "transaction ends within six attempts");
        if (!failRts)
            Check(!sim.Rts(kPort), "RTS is lowered after a transaction");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint32_t room = kRooms[data[0] & 0x07];
    const bool transact = (data[0] & 0x08) != 0;
    const int exchanges = 1 + ((data[0] >> 4) & 0x03);
    const std::uint8_t faults = data[1];
    const std::vector<Chunk> chunks = SplitChunks(data + 2, size - 2);

    SimPlatform sim;
    ChunkBoard board(chunks, (faults & 0x08) != 0);
    sim.AddPort(kPort, transact ? &board : nullptr);
    {
        CFrameLink link(kPort, 115200, sim);
        Check(link.Open() == LINK_OK, "simulated port opens");
        sim.FailRead(kPort, (faults & 0x01) != 0);
        sim.FailWrite(kPort, (faults & 0x02) != 0);
        sim.FailRts(kPort, (faults & 0x04) != 0);
        if (transact)
            RunTransactions(sim, link, (faults & 0x04) != 0, exchanges);
        else
            RunReceives(sim, link, chunks, room, exchanges);
    }
    Check(sim.OpenCount() == 0, "destroying the link releases the port");
    return 0;
}
