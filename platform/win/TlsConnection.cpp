// The Windows build has no TLS library yet: a TLS port is refused at its
// open, before any connection, with words that say so.
#include "platform/net/TlsConnection.h"

#include "platform/SysError.h"

namespace pelvar {

namespace {

class NoTlsConnection : public INetConnection {
public:
    bool Connect(const std::string&, std::uint16_t, std::uint32_t) override { return false; }
    bool Send(const std::uint8_t*, std::size_t, std::uint32_t) override { return false; }
    bool Receive(std::uint8_t*, std::size_t, std::uint32_t, std::size_t* got) override
    {
        *got = 0;
        return false;
    }
    void Close() override {}
    int LastError() const override { return kErrorTlsUnavailable; }
};

} // namespace

std::unique_ptr<INetConnection> MakeTlsConnection(std::unique_ptr<INetConnection>, IPlatform&, const NetworkAddress&)
{
    return std::make_unique<NoTlsConnection>();
}

} // namespace pelvar
