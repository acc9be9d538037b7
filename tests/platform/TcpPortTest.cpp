// A network port on real sockets, to a listener on 127.0.0.1 that the test
// makes: descriptors numbered past 1024, and what one wait of the client
// costs against a server that says nothing.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "platform/net/NetConnection.h"
#include "platform/net/Rfc2217Port.h"
#include "platform/posix/PosixPlatform.h"

namespace pelvar {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A listening socket on 127.0.0.1, on a port the system picks for it.
struct Listener {
    Listener()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(fd, 4) != 0
            || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (peer >= 0)
            close(peer);
        if (fd >= 0)
            close(fd);
    }
    bool Accept()
    {
        peer = accept(fd, nullptr, nullptr);
        return peer >= 0;
    }
    int fd = -1;
    int peer = -1;
    std::uint16_t port = 0;
};

// Counts the client's waits for data.
class CountingConnection : public INetConnection {
public:
    explicit CountingConnection(int* receives) : m_receives(receives) {}
    bool Connect(const std::string& host, std::uint16_t port, std::uint32_t limitMs) override
    {
        return m_real->Connect(host, port, limitMs);
    }
    bool Send(const std::uint8_t* bytes, std::size_t n, std::uint32_t limitMs) override
    {
        return m_real->Send(bytes, n, limitMs);
    }
    bool Receive(std::uint8_t* bytes, std::size_t room, std::uint32_t waitMs, std::size_t* got) override
    {
        ++*m_receives;
        return m_real->Receive(bytes, room, waitMs, got);
    }
    void Close() override { m_real->Close(); }
    int LastError() const override { return m_real->LastError(); }

private:
    std::unique_ptr<INetConnection> m_real = MakeTcpConnection();
    int* m_receives;
};

const Timeouts kBoard{50, 50, 50, 50, 50};
const LineSettings kLine{115200, 8, 0, 0, false};

// Descriptors past 1024 held for the test's length, the soft limit raised
// for it if need be and put back after.
class ManyDescriptors {
public:
    explicit ManyDescriptors(int above)
    {
        getrlimit(RLIMIT_NOFILE, &m_old);
        const rlim_t wanted = static_cast<rlim_t>(above) + 64;
        if (m_old.rlim_cur != RLIM_INFINITY && m_old.rlim_cur < wanted) {
            rlimit raised = m_old;
            raised.rlim_cur = std::min(wanted, m_old.rlim_max);
            m_raised = setrlimit(RLIMIT_NOFILE, &raised) == 0;
        }
        for (int fd = open("/dev/null", O_RDONLY); fd >= 0; fd = open("/dev/null", O_RDONLY)) {
            m_held.push_back(fd);
            if (fd > above)
                break;
        }
    }
    ~ManyDescriptors()
    {
        for (int fd : m_held)
            close(fd);
        if (m_raised)
            setrlimit(RLIMIT_NOFILE, &m_old);
    }
    int Highest() const { return m_held.empty() ? -1 : m_held.back(); }

private:
    rlimit m_old{};
    bool m_raised = false;
    std::vector<int> m_held;
};

// Opens `port` on `server` with the board's timeouts, and takes the connection.
void OpenOn(Rfc2217Port& port, Listener& server)
{
    ASSERT_NE(server.port, 0);
    ASSERT_TRUE(port.Open({"127.0.0.1", server.port}, kLine)) << port.Error();
    port.SetTimeouts(kBoard);
    ASSERT_TRUE(server.Accept());
}

TEST(TcpPort, WorksWithMoreThan1024DescriptorsOpen)
{
    ManyDescriptors many(1100);
    ASSERT_GT(many.Highest(), 1100) << "the test could not open enough descriptors";
    Listener server;
    PosixPlatform clock;
    Rfc2217Port port(clock, MakeTcpConnection());
    ASSERT_NO_FATAL_FAILURE(OpenOn(port, server));

    const Bytes reply = {0x02, 0x03, 0x00, 0x11, 0x10, 0x03};
    ASSERT_EQ(write(server.peer, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    Bytes buf(reply.size());
    std::uint32_t got = 0;
    // A read's limits are short; the bytes are on their way, so a few reads.
    for (int tries = 0; tries < 20 && got < reply.size(); ++tries) {
        std::uint32_t k = 0;
        ASSERT_TRUE(port.Read(buf.data() + got, static_cast<std::uint32_t>(reply.size()) - got, &k)) << port.Error();
        got += k;
    }
    EXPECT_EQ(buf, reply);
}

// The wait notices a refused connect at once, not at the connect's limit.
TEST(TcpPort, RefusedConnectIsReportedAsRefused)
{
    std::uint16_t closed = 0;
    {
        Listener gone;
        closed = gone.port;
    }
    ASSERT_NE(closed, 0);
    std::unique_ptr<INetConnection> c = MakeTcpConnection();
    EXPECT_FALSE(c->Connect("127.0.0.1", closed, 3000));
    EXPECT_EQ(c->LastError(), ECONNREFUSED);
}

// One wait lasts as many milliseconds as it is given: a read of 9 bytes
// from a silent server is one wait of 500 ms, not hundreds of short ones.
TEST(TcpPort, ReadFromASilentServerWaitsOnceForItsLimit)
{
    Listener server;
    PosixPlatform clock;
    int receives = 0;
    Rfc2217Port port(clock, std::make_unique<CountingConnection>(&receives));
    ASSERT_NO_FATAL_FAILURE(OpenOn(port, server));

    receives = 0;
    std::uint8_t buf[9];
    std::uint32_t got = 99;
    ASSERT_TRUE(port.Read(buf, 9, &got)) << port.Error();
    EXPECT_EQ(got, 0u);
    EXPECT_LE(receives, 2) << "each wait ended long before its time";
}

// The end of the stream is the port gone, not a read that found nothing yet.
TEST(TcpPort, ServerThatEndsTheStreamEndsTheReadAsDropped)
{
    Listener server;
    PosixPlatform clock;
    Rfc2217Port port(clock, MakeTcpConnection());
    ASSERT_NO_FATAL_FAILURE(OpenOn(port, server));
    // A plain end of stream: closing with the client's negotiation unread would reset instead.
    ASSERT_EQ(shutdown(server.peer, SHUT_WR), 0);

    std::uint8_t buf[9];
    std::uint32_t got = 99;
    EXPECT_FALSE(port.Read(buf, 9, &got));
    EXPECT_EQ(port.Error(), ECONNRESET);
}

} // namespace
} // namespace pelvar
