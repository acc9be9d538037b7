// The pcapng file the capture writes, read back block by block: each
// packet's time, direction, bytes and comments.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "camera/CaptureFile.h"
#include "tests/support/TestEnvironment.h"

namespace pelvar {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Packet {
    std::uint64_t micros = 0;
    std::uint32_t flags = 0;
    Bytes bytes;
    std::vector<std::string> comments;
    bool operator==(const Packet&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Packet& p)
{
    os << p.micros << " flags " << p.flags << " bytes " << p.bytes.size();
    for (const std::string& c : p.comments)
        os << " '" << c << "'";
    return os;
}

std::uint32_t U32(const std::string& d, std::size_t at)
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(d[at]) | static_cast<unsigned char>(d[at + 1]) << 8
                                      | static_cast<unsigned char>(d[at + 2]) << 16
                                      | static_cast<unsigned char>(d[at + 3]) << 24);
}

std::uint16_t U16(const std::string& d, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) | static_cast<unsigned char>(d[at + 1]) << 8);
}

// The enhanced packet blocks; a block that does not end the file whole fails.
std::vector<Packet> Packets(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Packet> packets;
    std::size_t at = 0;
    while (at < d.size()) {
        const std::uint32_t length = at + 12 <= d.size() ? U32(d, at + 4) : 0;
        if (length < 12 || length % 4 != 0 || at + length > d.size() || U32(d, at + length - 4) != length) {
            ADD_FAILURE() << "bad block at " << at;
            return packets;
        }
        if (U32(d, at) == 6) {
            Packet p;
            p.micros = std::uint64_t(U32(d, at + 12)) << 32 | U32(d, at + 16);
            const std::uint32_t size = U32(d, at + 20);
            p.bytes.assign(d.begin() + static_cast<std::ptrdiff_t>(at + 28),
                           d.begin() + static_cast<std::ptrdiff_t>(at + 28 + size));
            for (std::size_t o = at + 28 + (size + 3) / 4 * 4; U16(d, o) != 0;) {
                const std::uint16_t code = U16(d, o);
                const std::uint16_t n = U16(d, o + 2);
                if (code == 1)
                    p.comments.push_back(d.substr(o + 4, n));
                if (code == 2)
                    p.flags = U32(d, o + 4);
                o += 4 + (n + 3u) / 4 * 4;
            }
            packets.push_back(p);
        }
        at += length;
    }
    return packets;
}

TEST(CaptureFileTest, TimesInMicrosecondsAndBytesThatAreNoFrameAsNoise)
{
    test::TempDir dir;
    const std::string path = dir.Path() + "/capture.pcapng";
    ExchangeRecord r;
    r.atMs = 10;
    r.frames = {
        {true, {0x02, 0x02, 0x00, 0x00, 0x03}, 10},
        // A stray byte before the reply: the read takes no reply from it.
        {false, {0xFF, 0x02, 0x03, 0x00, 0x11, 0x10, 0x03}, 12},
        {false, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}, 13, 300},
    };
    CaptureWriter writer;
    int error = 0;
    ASSERT_TRUE(writer.Open(path, 1700000000000000, &error, {"COM5"}));
    writer.Add(r);
    writer.AddNoise({0xFF, 0x00}, 1500);
    ASSERT_TRUE(writer.Close(&error));
    const std::vector<Packet> expected = {
        {1700000000010000, 2, {0x02, 0x02, 0x00, 0x00, 0x03}, {}},
        {1700000000012000, 1, {0xFF, 0x02, 0x03, 0x00, 0x11, 0x10, 0x03}, {"noise"}},
        {1700000000013000, 1, {0x02, 0x03, 0x00, 0x11, 0x10, 0x03}, {"[300 bytes not kept]"}},
        {1700000001500000, 1, {0xFF, 0x00}, {"noise"}},
    };
    EXPECT_EQ(Packets(path), expected);
}

} // namespace
} // namespace pelvar
