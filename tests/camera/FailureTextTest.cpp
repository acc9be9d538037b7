// The words users read for each failure, whichever front end shows them:
// the panel, pelvarctl, Python and the diagnosis all pass through here.
#include <cerrno>

#include <gtest/gtest.h>

#include "camera/FailureText.h"
#include "link/ResultCodes.h"
#include "platform/SysError.h"

namespace pelvar {
namespace {

struct FailureRow {
    const char* name;
    FailureFacts facts;
    const char* words;
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class FailureWordsTable : public ::testing::TestWithParam<FailureRow> {};

TEST_P(FailureWordsTable, OneSentencePerSituation) { EXPECT_EQ(DescribeFailure(GetParam().facts), GetParam().words); }

constexpr const char* kUrl = "rfc2217://127.0.0.1:4000";

INSTANTIATE_TEST_SUITE_P(
    Table, FailureWordsTable,
    ::testing::Values(
        FailureRow{"absent",
                   {"COM9 (/nonexistent/ttyUSB9)", "/nonexistent/ttyUSB9", "cannot open", PORT_ERR_CONFIG, ENOENT},
                   "COM9 (/nonexistent/ttyUSB9): cannot open: absent (No such file or directory)"},
        FailureRow{"permission",
                   {"COM4 (/nonexistent/ttyS4)", "/nonexistent/ttyS4", "cannot open", PORT_ERR_CONFIG, EACCES},
                   "COM4 (/nonexistent/ttyS4): cannot open: permission denied (Permission denied); join the group "
                   "'dialout' (sudo usermod -aG dialout $USER) and log in again"},
        // A driver without RS-485 mode: one line, the open already undone.
        FailureRow{"rs485Refused",
                   {"COM33 (/nonexistent/ttyUSB0)", "/nonexistent/ttyUSB0", "cannot open", PORT_ERR_RS485, ENOTTY},
                   "COM33 (/nonexistent/ttyUSB0): cannot open: the driver has no RS-485 mode; the port was not "
                   "used (leave RS-485 mode off and Pelvar drives RTS itself)"},
        FailureRow{"serverBusy",
                   {kUrl, kUrl, "cannot open", PORT_ERR_CONFIG, EBUSY},
                   "rfc2217://127.0.0.1:4000: cannot open: busy: the server serves another client"},
        FailureRow{"refused",
                   {kUrl, kUrl, "cannot open", PORT_ERR_CONFIG, ECONNREFUSED},
                   "rfc2217://127.0.0.1:4000: cannot open: connection refused (Connection refused)"},
        FailureRow{"unknownHost",
                   {"rfc2217://nohost.invalid:4000", "rfc2217://nohost.invalid:4000", "cannot open", PORT_ERR_CONFIG,
                    kErrorUnknownHost},
                   "rfc2217://nohost.invalid:4000: cannot open: unknown host (the name does not resolve)"},
        FailureRow{"notRfc2217",
                   {"rfc2217://lab-7:4000?ign_purge", "rfc2217://lab-7:4000?ign_purge", "cannot open", PORT_ERR_CONFIG,
                    kErrorNotRfc2217},
                   "rfc2217://lab-7:4000?ign_purge: cannot open: this server does not speak RFC 2217; if it drives "
                   "the line itself, name it socket://lab-7:4000"},
        // TLS refusals name the host or the file from the URL, wherever the port was named.
        FailureRow{"tlsNameMismatch",
                   {"COM7", "rfc2217+tls://lab-7:3002?ca=/lab/ca.crt", "cannot open", PORT_ERR_CONFIG,
                    kErrorTlsNameMismatch},
                   "COM7: cannot open: the server's certificate is not for lab-7"},
        FailureRow{"tlsKeyReadable",
                   {"rfc2217+tls://lab-7:3002?cert=/home/me/lab.crt&key=/home/me/lab.key",
                    "rfc2217+tls://lab-7:3002?cert=/home/me/lab.crt&key=/home/me/lab.key", "cannot open",
                    PORT_ERR_CONFIG, kErrorTlsKeyReadable},
                   "rfc2217+tls://lab-7:3002?cert=/home/me/lab.crt&key=/home/me/lab.key: cannot open: key file "
                   "/home/me/lab.key is readable by others"},
        FailureRow{"tlsExpired",
                   {"rfc2217+tls://lab-7:3002", "rfc2217+tls://lab-7:3002", "cannot open", PORT_ERR_CONFIG,
                    kErrorTlsExpired},
                   "rfc2217+tls://lab-7:3002: cannot open: the server's certificate has expired"},
        FailureRow{"lineSettingsRefused",
                   {"COM3", "", "cannot open", PORT_ERR_CONFIG, 0},
                   "COM3: cannot open: the line settings were refused"},
        FailureRow{"resetMidExchange",
                   {kUrl, "", "set brightness 200", LINK_ERR_SEND, ECONNRESET},
                   "rfc2217://127.0.0.1:4000: set brightness 200: the connection was lost (Connection reset by peer) "
                   "(LINK_ERR_SEND)"},
        FailureRow{"unpluggedMidExchange",
                   {"COM7 (/dev/ttyUSB0)", "", "press edge", LINK_ERR_SEND, EIO},
                   "COM7 (/dev/ttyUSB0): press edge: the device has gone: absent (Input/output error) (LINK_ERR_SEND)"},
        FailureRow{"noReply",
                   {"COM5", "", "read 0x0010", LINK_ERR_NO_REPLY, 0},
                   "COM5: read 0x0010: no reply from the board (LINK_ERR_NO_REPLY)"},
        FailureRow{"nak", {"COM5", "", "press edge", LINK_ERR_NAK, 0},
                   "COM5: press edge: refused by the board (NAK) (LINK_ERR_NAK)"},
        FailureRow{"badChecksum",
                   {"COM5", "", "query status", LINK_ERR_CHECKSUM, 0},
                   "COM5: query status: garbled reply (bad checksum) (LINK_ERR_CHECKSUM)"},
        FailureRow{"notStarted",
                   {"COM5", "", "", LINK_OK, 0, true},
                   "COM5: the board did not start (its status stayed 0)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A dropped network connection is a gone device (the panel reconnects), a
// refused one is not.
TEST(FailureWords, DroppedConnectionsAreGoneRefusedOnesAreNot)
{
    EXPECT_TRUE(IsGoneError(ECONNRESET));
    EXPECT_TRUE(IsGoneError(EIO));
    EXPECT_FALSE(IsGoneError(ECONNREFUSED));
    EXPECT_FALSE(IsGoneError(kErrorUnknownHost));
    EXPECT_FALSE(IsGoneError(EBUSY));
    EXPECT_FALSE(IsGoneError(kErrorTlsClientCertRefused));
}

} // namespace
} // namespace pelvar
