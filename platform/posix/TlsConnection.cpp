// TLS through OpenSSL with memory buffers: OpenSSL never touches the socket.
// What it wants sent goes out through the inner connection's bounded Send,
// what comes in through its bounded Receive, so every wait, the handshake's
// too, is counted on the platform's clock against the caller's limit.
#include "platform/net/TlsConnection.h"

#include <algorithm>
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <vector>

#include "platform/ReadDeadline.h"
#include "platform/SysError.h"

namespace pelvar {

namespace {

// After a handshake in which the server asked for our certificate, TLS 1.3
// tells its verdict only afterwards: a refusal as an alert or a close, an
// acceptance as a session ticket or data. It is waited for this long at
// most, within the connect limit; a server that says nothing is taken as
// having accepted.
constexpr std::uint32_t kClientCertVerdictMs = 300;
// A close_notify on closing is a courtesy: it never waits.
constexpr std::uint32_t kCloseNotifySendMs = 0;
constexpr std::size_t kChunk = 16 * 1024;

struct SslCtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct SslFree {
    void operator()(SSL* p) const { SSL_free(p); }
};

bool IsIpAddress(const std::string& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string Sha256Hex(X509* cert)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), md, &n) != 1)
        return {};
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < n; ++i) {
        hex += digits[md[i] >> 4];
        hex += digits[md[i] & 0xF];
    }
    return hex;
}

// The failures of a chain that trust alone decides: a pin may stand in.
bool IsTrustFailure(int err)
{
    switch (err) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED: return true;
    default: return false;
    }
}

int VerifyFailureCode(int err)
{
    if (IsTrustFailure(err))
        return kErrorTlsUnknownIssuer;
    switch (err) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return kErrorTlsNameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED: return kErrorTlsExpired;
    default: return kErrorTlsBadCertificate;
    }
}

// Whether OpenSSL's failure came from bytes that are no TLS record at all.
bool NotTlsRecord(unsigned long e)
{
    if (ERR_GET_LIB(e) != ERR_LIB_SSL)
        return false;
    switch (ERR_GET_REASON(e)) {
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_RECORD_LENGTH_MISMATCH:
    case SSL_R_UNKNOWN_PROTOCOL:
    case SSL_R_UNEXPECTED_MESSAGE:
    case SSL_R_UNEXPECTED_RECORD:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST: return true;
    default: return false;
    }
}

// Where an SSL keeps its connection, for the verify callback.
int SelfIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

class TlsConnection : public INetConnection {
public:
    TlsConnection(std::unique_ptr<INetConnection> inner, IPlatform& clock, const NetworkAddress& address)
        : m_inner(std::move(inner)), m_clock(clock), m_address(address)
    {}
    ~TlsConnection() override { Close(); }

    bool Connect(const std::string& host, std::uint16_t port, std::uint32_t limitMs) override
    {
        Close();
        const std::uint32_t start = m_clock.TickCount();
        const auto left = [&] { return MsLeft(m_clock.TickCount() - start, limitMs); };
        // The files are checked before the server hears of us.
        if (const int err = Prepare(host); err != 0)
            return Fail(err);
        if (!m_inner->Connect(host, port, limitMs))
            return Fail(m_inner->LastError());
        for (;;) {
            ERR_clear_error();
            const int r = SSL_do_handshake(m_ssl.get());
            const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl.get(), r);
            const unsigned long sslError = ERR_peek_last_error();
            // An alert for the server goes out before the refusal is reported.
            const bool sent = SendPending(left());
            if (r != 1 && e != SSL_ERROR_WANT_READ)
                return Fail(HandshakeFailure(sslError));
            if (!sent)
                return Fail(m_inner->LastError());
            if (r == 1)
                break;
            const std::uint32_t wait = left();
            if (wait == 0)
                return Fail(NetErrorTimedOut());
            if (!ReceiveInto(wait))
                return Fail(m_verifyError != 0 ? m_verifyError : ClosedInHandshake());
        }
        if (const int err = CheckPin(); err != 0)
            return Fail(err);
        // TLS 1.2 refuses a client certificate within the handshake.
        if (m_certRequested && SSL_version(m_ssl.get()) >= TLS1_3_VERSION) {
            if (const int err = AwaitClientCertVerdict(std::min(left(), kClientCertVerdictMs)); err != 0)
                return Fail(err);
        }
        m_open = true;
        return true;
    }

    bool Send(const std::uint8_t* bytes, std::size_t n, std::uint32_t limitMs) override
    {
        if (!m_open)
            return Fail(NetErrorDropped());
        // A memory buffer takes everything at once; the inner send is the bound.
        std::size_t done = 0;
        while (done < n) {
            const int chunk = static_cast<int>(std::min(n - done, kChunk));
            const int k = SSL_write(m_ssl.get(), bytes + done, chunk);
            if (k <= 0)
                return Fail(NetErrorDropped());
            done += static_cast<std::size_t>(k);
        }
        if (!SendPending(limitMs))
            return Fail(m_inner->LastError());
        return true;
    }

    bool Receive(std::uint8_t* bytes, std::size_t room, std::uint32_t waitMs, std::size_t* got) override
    {
        *got = 0;
        if (!m_open)
            return Fail(NetErrorDropped());
        if (m_headPlain < m_plain.size()) {
            *got = std::min(room, m_plain.size() - m_headPlain);
            std::copy_n(m_plain.begin() + static_cast<std::ptrdiff_t>(m_headPlain), *got, bytes);
            m_headPlain += *got;
            return true;
        }
        const std::uint32_t start = m_clock.TickCount();
        for (bool first = true;; first = false) {
            int k = 0;
            if (!ReadPlain(bytes, room, &k))
                return Fail(NetErrorDropped());
            if (k > 0) {
                *got = static_cast<std::size_t>(k);
                return true;
            }
            // One receive at least, so that a wait of 0 still takes what is there.
            const std::uint32_t spent = m_clock.TickCount() - start;
            if (!first && spent >= waitMs)
                return true;
            std::size_t in = 0;
            if (!ReceiveRaw(MsLeft(spent, waitMs), &in))
                return Fail(m_inner->LastError());
            if (in == 0)
                return true;
        }
    }

    void Close() override
    {
        if (m_open && m_ssl) {
            SSL_shutdown(m_ssl.get());
            SendPending(kCloseNotifySendMs);
        }
        m_open = false;
        m_inner->Close();
        m_ssl.reset();
        m_ctx.reset();
        m_plain.clear();
        m_headPlain = 0;
        m_certRequested = false;
        m_pinMatched = false;
        m_heardAfterHandshake = false;
        m_verifyError = 0;
    }

    int LastError() const override { return m_error; }

private:
    bool Fail(int err)
    {
        m_error = err;
        if (m_ssl) {
            m_ssl.reset();
            m_ctx.reset();
        }
        m_open = false;
        m_inner->Close();
        return false;
    }

    // 0, or the code of what is wrong with the files or the setup.
    int Prepare(const std::string& host)
    {
        const NetworkAddress& a = m_address;
        if (!a.keyFile.empty()) {
            struct stat st {};
            if (stat(a.keyFile.c_str(), &st) != 0)
                return kErrorTlsCertFile;
            // As ssh: a private key others may read is no longer private.
            if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
                return kErrorTlsKeyReadable;
        }
        m_ctx.reset(SSL_CTX_new(TLS_client_method()));
        if (!m_ctx)
            return kErrorTlsHandshake;
        SSL_CTX* ctx = m_ctx.get();
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        if (!a.caFile.empty()) {
            if (SSL_CTX_load_verify_locations(ctx, a.caFile.c_str(), nullptr) != 1)
                return kErrorTlsCaFile;
        } else if (a.fingerprint.empty()) {
            SSL_CTX_set_default_verify_paths(ctx);
        }
        // A pin without ca= trusts that certificate alone, not the system's anchors too.
        if (!a.certFile.empty()) {
            // An encrypted key would make OpenSSL ask for its pass phrase on the
            // terminal, unbounded, or with nobody there: it is refused instead.
            SSL_CTX_set_default_passwd_cb(ctx, [](char*, int, int, void*) { return 0; });
            if (SSL_CTX_use_certificate_chain_file(ctx, a.certFile.c_str()) != 1
                || SSL_CTX_use_PrivateKey_file(ctx, a.keyFile.c_str(), SSL_FILETYPE_PEM) != 1
                || SSL_CTX_check_private_key(ctx) != 1)
                return kErrorTlsCertFile;
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &TlsConnection::OnVerify);
        m_ssl.reset(SSL_new(ctx));
        if (!m_ssl)
            return kErrorTlsHandshake;
        SSL* ssl = m_ssl.get();
        SSL_set_ex_data(ssl, SelfIndex(), this);
        SSL_set_cert_cb(ssl, &TlsConnection::OnCertRequest, this);
        SSL_set_msg_callback(ssl, &TlsConnection::OnMessage);
        SSL_set_msg_callback_arg(ssl, this);
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (IsIpAddress(host)) {
            X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
        } else {
            SSL_set1_host(ssl, host.c_str());
            SSL_set_tlsext_host_name(ssl, host.c_str());
        }
        SSL_set_bio(ssl, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
        SSL_set_connect_state(ssl);
        return 0;
    }

    static TlsConnection* Self(X509_STORE_CTX* store)
    {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        return static_cast<TlsConnection*>(SSL_get_ex_data(ssl, SelfIndex()));
    }

    static int OnVerify(int ok, X509_STORE_CTX* store)
    {
        if (ok)
            return 1;
        TlsConnection* self = Self(store);
        const int err = X509_STORE_CTX_get_error(store);
        const std::string& pin = self->m_address.fingerprint;
        if (!pin.empty() && IsTrustFailure(err)) {
            if (Sha256Hex(X509_STORE_CTX_get0_cert(store)) == pin) {
                self->m_pinMatched = true;
                return 1;
            }
            self->m_verifyError = kErrorTlsPinMismatch;
            return 0;
        }
        if (self->m_verifyError == 0)
            self->m_verifyError = VerifyFailureCode(err);
        return 0;
    }

    // A session ticket after the handshake: the server has taken our certificate.
    static void OnMessage(int writing, int, int contentType, const void* buf, std::size_t len, SSL* ssl, void* arg)
    {
        if (!writing && contentType == SSL3_RT_HANDSHAKE && len > 0 && SSL_is_init_finished(ssl)
            && static_cast<const std::uint8_t*>(buf)[0] == SSL3_MT_NEWSESSION_TICKET)
            static_cast<TlsConnection*>(arg)->m_heardAfterHandshake = true;
    }

    static int OnCertRequest(SSL*, void* arg)
    {
        static_cast<TlsConnection*>(arg)->m_certRequested = true;
        return 1;
    }

    int HandshakeFailure(unsigned long sslError) const
    {
        if (m_verifyError != 0)
            return m_verifyError;
        if (m_certRequested)
            return m_address.certFile.empty() ? kErrorTlsNoClientCert : kErrorTlsClientCertRefused;
        return NotTlsRecord(sslError) ? kErrorNotTls : kErrorTlsHandshake;
    }

    // The server closed in the middle of the handshake.
    int ClosedInHandshake() const
    {
        if (m_certRequested)
            return m_address.certFile.empty() ? kErrorTlsNoClientCert : kErrorTlsClientCertRefused;
        return kErrorTlsHandshake;
    }

    // Without ca=, a pin is the only trust: the certificate must be the pinned one.
    int CheckPin()
    {
        const NetworkAddress& a = m_address;
        if (a.fingerprint.empty() || !a.caFile.empty() || m_pinMatched)
            return 0;
        X509* leaf = SSL_get1_peer_certificate(m_ssl.get());
        const bool same = Sha256Hex(leaf) == a.fingerprint;
        X509_free(leaf);
        return same ? 0 : kErrorTlsPinMismatch;
    }

    int AwaitClientCertVerdict(std::uint32_t waitMs)
    {
        const std::uint32_t start = m_clock.TickCount();
        std::uint8_t buf[kChunk];
        for (;;) {
            int k = 0;
            const bool alive = ReadPlain(buf, sizeof buf, &k);
            if (!alive)
                return m_address.certFile.empty() ? kErrorTlsNoClientCert : kErrorTlsClientCertRefused;
            if (k > 0)
                m_plain.insert(m_plain.end(), buf, buf + k);
            // A ticket or data: the server went on past our certificate.
            if (k > 0 || m_heardAfterHandshake)
                return 0;
            const std::uint32_t spent = m_clock.TickCount() - start;
            if (spent >= waitMs)
                return 0;
            std::size_t in = 0;
            if (!ReceiveRaw(waitMs - spent, &in))
                return m_address.certFile.empty() ? kErrorTlsNoClientCert : kErrorTlsClientCertRefused;
        }
    }

    // Decrypts what has come. False when the stream has ended or is broken.
    bool ReadPlain(std::uint8_t* bytes, std::size_t room, int* k)
    {
        *k = 0;
        ERR_clear_error();
        const int r = SSL_read(m_ssl.get(), bytes, static_cast<int>(std::min(room, kChunk)));
        // What TLS owes the server (a key update's answer) goes out at once.
        SendPending(kCloseNotifySendMs);
        if (r > 0) {
            *k = r;
            return true;
        }
        return SSL_get_error(m_ssl.get(), r) == SSL_ERROR_WANT_READ;
    }

    // One receive from the inner connection into OpenSSL.
    bool ReceiveRaw(std::uint32_t waitMs, std::size_t* in)
    {
        std::uint8_t buf[kChunk];
        if (!m_inner->Receive(buf, sizeof buf, waitMs, in))
            return false;
        if (*in > 0)
            BIO_write(SSL_get_rbio(m_ssl.get()), buf, static_cast<int>(*in));
        return true;
    }

    bool ReceiveInto(std::uint32_t waitMs)
    {
        std::size_t in = 0;
        return ReceiveRaw(waitMs, &in);
    }

    // Sends what OpenSSL has written for the server.
    bool SendPending(std::uint32_t limitMs)
    {
        BIO* out = SSL_get_wbio(m_ssl.get());
        std::vector<std::uint8_t> bytes(BIO_ctrl_pending(out));
        if (bytes.empty())
            return true;
        const int n = BIO_read(out, bytes.data(), static_cast<int>(bytes.size()));
        return n <= 0 || m_inner->Send(bytes.data(), static_cast<std::size_t>(n), limitMs);
    }

    std::unique_ptr<INetConnection> m_inner;
    IPlatform& m_clock;
    NetworkAddress m_address;
    std::unique_ptr<SSL_CTX, SslCtxFree> m_ctx;
    std::unique_ptr<SSL, SslFree> m_ssl;
    // Data decrypted while waiting for the server's verdict, not yet taken.
    std::vector<std::uint8_t> m_plain;
    std::size_t m_headPlain = 0;
    bool m_open = false;
    bool m_certRequested = false;
    bool m_pinMatched = false;
    bool m_heardAfterHandshake = false;
    int m_verifyError = 0;
    int m_error = 0;
};

} // namespace

std::unique_ptr<INetConnection> MakeTlsConnection(std::unique_ptr<INetConnection> inner, IPlatform& clock,
                                                  const NetworkAddress& address)
{
    return std::make_unique<TlsConnection>(std::move(inner), clock, address);
}

} // namespace pelvar
