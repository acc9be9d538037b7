// A session's frames as a pcapng file for Wireshark: one packet a frame,
// with its direction and time, under a user link-layer type that the Lua
// dissector installed with the package decodes. Several boards share one
// file, one interface each, named after its port.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "camera/ExchangeLog.h"

namespace pelvar {

// DLT_USER0: the first of the link-layer types kept for private protocols.
constexpr std::uint32_t kCaptureLinkType = 147;
// The comment on a packet of bytes that are no frame (noise on the line,
// bytes a read took that the link dropped): the dissector pairs no reply
// with it.
constexpr const char* kCaptureNoiseComment = "noise";

// Microseconds since 1970 now, for the time of a session's origin.
std::uint64_t WallClockMicros();

class CaptureWriter {
public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Creates the file with its section and interfaces: one unnamed, or one
    // per name in `interfaces` (interface i is interfaces[i]); `originUs` is
    // the wall time at which the records' atMs is 0. False with *error
    // (errno) when it cannot be written.
    bool Open(const std::string& path, std::uint64_t originUs, int* error,
              const std::vector<std::string>& interfaces = {});
    // Every frame of the exchange, in order, on interface `interfaceId`; a
    // block read back that holds no frame from its first byte is noise, and
    // one after bytes the record did not keep says how many.
    // Safe from several threads: the boards of one file each add their own.
    void Add(const ExchangeRecord& record, std::uint32_t interfaceId = 0);
    // Bytes heard that are no frame, as noise.
    void AddNoise(const std::vector<std::uint8_t>& bytes, std::uint32_t atMs, std::uint32_t interfaceId = 0);
    // False with *error when a write failed on the way.
    bool Close(int* error);
    bool IsOpen() const { return m_file != nullptr; }

private:
    void Put(const std::vector<std::uint8_t>& block);
    void PutFrame(bool sent, bool noise, const std::vector<std::uint8_t>& bytes, std::uint32_t atMs,
                  std::uint32_t interfaceId, std::uint64_t notKeptBefore = 0);
    void Flush();

    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::uint64_t m_originUs = 0;
    int m_error = 0;
};

// The whole of `records` (any container of ExchangeRecord) in one go: the
// panel's "Save capture...".
template <class Records>
bool WriteCapture(const std::string& path, const Records& records, std::uint64_t originUs, int* error)
{
    CaptureWriter writer;
    if (!writer.Open(path, originUs, error))
        return false;
    for (const ExchangeRecord& r : records)
        writer.Add(r);
    return writer.Close(error);
}

} // namespace pelvar
