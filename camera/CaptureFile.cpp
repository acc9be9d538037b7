#include "camera/CaptureFile.h"

#include <cerrno>
#include <chrono>

#include "link/ReplyJudge.h"
#include "link/ResultCodes.h"

namespace pelvar {

namespace {

constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 0x00000001;
constexpr std::uint32_t kEnhancedPacket = 0x00000006;
constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptComment = 1;
constexpr std::uint16_t kOptIfName = 2;
constexpr std::uint16_t kOptEpbFlags = 2;
// epb_flags bits 0-1: 01 inbound, 10 outbound.
constexpr std::uint32_t kInbound = 1;
constexpr std::uint32_t kOutbound = 2;

void Put16(std::vector<std::uint8_t>& b, std::uint16_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& b, std::uint32_t v)
{
    Put16(b, static_cast<std::uint16_t>(v));
    Put16(b, static_cast<std::uint16_t>(v >> 16));
}

// An option: code, length, value padded to 32 bits.
void PutOption(std::vector<std::uint8_t>& b, std::uint16_t code, const std::string& value)
{
    Put16(b, code);
    Put16(b, static_cast<std::uint16_t>(value.size()));
    b.insert(b.end(), value.begin(), value.end());
    while (b.size() % 4 != 0)
        b.push_back(0);
}

// An interface of the capture's link type, named when `name` is not empty.
std::vector<std::uint8_t> InterfaceBody(const std::string& name)
{
    std::vector<std::uint8_t> idb;
    Put16(idb, static_cast<std::uint16_t>(kCaptureLinkType));
    Put16(idb, 0);
    Put32(idb, 0); // no snapshot limit
    if (!name.empty()) {
        PutOption(idb, kOptIfName, name);
        Put16(idb, kOptEnd);
        Put16(idb, 0);
    }
    return idb;
}

// Type, total length, body (padded to 32 bits), total length again.
std::vector<std::uint8_t> Block(std::uint32_t type, std::vector<std::uint8_t> body)
{
    while (body.size() % 4 != 0)
        body.push_back(0);
    std::vector<std::uint8_t> block;
    const auto total = static_cast<std::uint32_t>(body.size() + 12);
    Put32(block, type);
    Put32(block, total);
    block.insert(block.end(), body.begin(), body.end());
    Put32(block, total);
    return block;
}

} // namespace

std::uint64_t WallClockMicros()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

CaptureWriter::~CaptureWriter()
{
    if (m_file)
        std::fclose(m_file);
}

bool CaptureWriter::Open(const std::string& path, std::uint64_t originUs, int* error,
                         const std::vector<std::string>& interfaces)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    errno = 0;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        *error = errno;
        return false;
    }
    m_originUs = originUs;
    m_error = 0;
    std::vector<std::uint8_t> shb;
    Put32(shb, 0x1A2B3C4D); // byte-order magic
    Put16(shb, 1);          // version 1.0
    Put16(shb, 0);
    Put32(shb, 0xFFFFFFFF); // section length not given
    Put32(shb, 0xFFFFFFFF);
    Put(Block(kSectionHeader, shb));
    if (interfaces.empty())
        Put(Block(kInterfaceDescription, InterfaceBody({})));
    for (const std::string& name : interfaces)
        Put(Block(kInterfaceDescription, InterfaceBody(name)));
    // Nothing is buffered long: a capture cut short by a crash keeps its frames.
    Flush();
    if (m_error != 0) {
        *error = m_error;
        std::fclose(m_file);
        m_file = nullptr;
        return false;
    }
    return true;
}

void CaptureWriter::Put(const std::vector<std::uint8_t>& block)
{
    if (m_file && std::fwrite(block.data(), 1, block.size(), m_file) != block.size() && m_error == 0)
        m_error = errno ? errno : EIO;
}

void CaptureWriter::AddNoise(const std::vector<std::uint8_t>& bytes, std::uint32_t atMs, std::uint32_t interfaceId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PutFrame(false, true, bytes, atMs, interfaceId);
    Flush();
}

void CaptureWriter::PutFrame(bool sent, bool noise, const std::vector<std::uint8_t>& bytes, std::uint32_t atMs,
                             std::uint32_t interfaceId, std::uint64_t notKeptBefore)
{
    const std::uint64_t us = m_originUs + std::uint64_t(atMs) * 1000;
    std::vector<std::uint8_t> epb;
    Put32(epb, interfaceId);
    Put32(epb, static_cast<std::uint32_t>(us >> 32));
    Put32(epb, static_cast<std::uint32_t>(us));
    Put32(epb, static_cast<std::uint32_t>(bytes.size()));
    Put32(epb, static_cast<std::uint32_t>(bytes.size()));
    epb.insert(epb.end(), bytes.begin(), bytes.end());
    while (epb.size() % 4 != 0)
        epb.push_back(0);
    if (noise)
        PutOption(epb, kOptComment, kCaptureNoiseComment);
    if (notKeptBefore > 0)
        PutOption(epb, kOptComment, NotKeptText(notKeptBefore));
    Put16(epb, kOptEpbFlags);
    Put16(epb, 4);
    Put32(epb, sent ? kOutbound : kInbound);
    Put16(epb, kOptEnd);
    Put16(epb, 0);
    Put(Block(kEnhancedPacket, epb));
}

void CaptureWriter::Add(const ExchangeRecord& record, std::uint32_t interfaceId)
{
    // The exchange's frames together, not between another board's.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const ExchangeFrame& f : record.frames) {
        // The host takes a frame only from the first byte a read returns
        // (the largest room holds any whole one): a block without one is
        // bytes the link dropped, not a reply.
        const bool noise =
            !f.sent
            && JudgeReply(f.bytes.data(), static_cast<std::uint32_t>(f.bytes.size()), kMaxRoom, ReplyKind::Data)
                   == LINK_ERR_NO_REPLY;
        PutFrame(f.sent, noise, f.bytes, f.atMs, interfaceId, f.notKeptBefore);
    }
    Flush();
}

void CaptureWriter::Flush()
{
    if (m_file && std::fflush(m_file) != 0 && m_error == 0)
        m_error = errno ? errno : EIO;
}

bool CaptureWriter::Close(int* error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file)
        return true;
    if (std::fclose(m_file) != 0 && m_error == 0)
        m_error = errno;
    m_file = nullptr;
    *error = m_error;
    return m_error == 0;
}

} // namespace pelvar
