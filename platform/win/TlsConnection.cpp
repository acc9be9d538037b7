// TLS through Schannel with memory buffers: Schannel never touches the
// socket. Its tokens and records go out through the inner connection's
// bounded Send and come in through its bounded Receive, so every wait, the
// handshake's too, is counted on the platform's clock against the caller's
// limit. Schannel's own validation is off; the certificate is checked here
// with CryptoAPI so that ca= anchors, a pin and the host name are decided
// the same way on every Windows, wine's too (wine refuses an exclusive-root
// chain engine and does not match IP addresses in its SSL policy).
#define SECURITY_WIN32
// SCH_CREDENTIALS, which TLS 1.3 needs.
#define SCHANNEL_USE_BLACKLISTS
#include "platform/win/SocketHeaders.h"

#include <windows.h>
#include <winternl.h>

#include <bcrypt.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/ReadDeadline.h"
#include "platform/SysError.h"
#include "platform/net/TlsConnection.h"

namespace pelvar {

namespace {

constexpr std::size_t kChunk = 16 * 1024;
// A close_notify on closing is a courtesy: it never waits.
constexpr std::uint32_t kCloseNotifySendMs = 0;
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY
                                  | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS;
// The chain's failures that trust alone decides: anchors or a pin may stand in.
constexpr DWORD kTrustErrors = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
// No revocation check is asked for; what is said about it is no failure.
constexpr DWORD kRevocationNotes = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

std::wstring Wide(const std::string& utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

// 4 or 16 bytes of an IP address; empty for a name.
std::vector<std::uint8_t> IpBytes(const std::string& host)
{
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return {reinterpret_cast<std::uint8_t*>(&v4), reinterpret_cast<std::uint8_t*>(&v4) + 4};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return {reinterpret_cast<std::uint8_t*>(&v6), reinterpret_cast<std::uint8_t*>(&v6) + 16};
    return {};
}

// Lower-case hex, as fingerprint= is kept. CryptoAPI's own SHA-256 property
// is missing under wine; BCrypt is everywhere.
std::string Sha256Hex(PCCERT_CONTEXT cert)
{
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return {};
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char md[32];
    const bool ok = BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0
                    && BCryptHashData(hash, cert->pbCertEncoded, cert->cbCertEncoded, 0) == 0
                    && BCryptFinishHash(hash, md, sizeof md, 0) == 0;
    if (hash)
        BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(alg, 0);
    if (!ok)
        return {};
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : md) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

// The certificates of a PEM file in a memory store; null when it holds none.
HCERTSTORE LoadPemStore(const std::string& path)
{
    FILE* f = _wfopen(Wide(path).c_str(), L"rb");
    if (!f)
        return nullptr;
    std::string pem;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        pem.append(buf, n);
    fclose(f);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!store)
        return nullptr;
    static const std::string kBegin = "-----BEGIN CERTIFICATE-----";
    static const std::string kEnd = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
        const std::size_t end = pem.find(kEnd, at);
        if (end == std::string::npos)
            break;
        const std::string block = pem.substr(at, end + kEnd.size() - at);
        at = end;
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                 &size, nullptr, nullptr)
            && CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                                nullptr))
            ++added;
    }
    if (added == 0) {
        CertCloseStore(store, 0);
        return nullptr;
    }
    return store;
}

// An IP address is matched against the certificate's IP subjectAltNames only.
bool HasIpAltName(PCCERT_CONTEXT cert, const std::vector<std::uint8_t>& ip)
{
    const CERT_INFO* info = cert->pCertInfo;
    const CERT_EXTENSION* ext = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!ext
        || !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                                CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& e = names->rgAltEntry[i];
        found = e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && e.IPAddress.cbData == ip.size()
                && std::memcmp(e.IPAddress.pbData, ip.data(), ip.size()) == 0;
    }
    LocalFree(names);
    return found;
}

// Whether the first bytes of the server's answer can begin a TLS record
// (handshake or alert, version 3.x).
bool LooksLikeTls(const std::vector<std::uint8_t>& in)
{
    return !in.empty() && (in[0] == 0x15 || in[0] == 0x16) && (in.size() < 2 || in[1] == 0x03);
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
        if (const int err = Prepare(); err != 0)
            return Fail(err);
        if (!m_inner->Connect(host, port, limitMs))
            return Fail(m_inner->LastError());
        const std::wstring target = Wide(host);
        bool heard = false;
        for (;;) {
            bool sent = false;
            const SECURITY_STATUS st = HandshakeStep(target.c_str(), left(), &sent);
            if (st == SEC_I_INCOMPLETE_CREDENTIALS)
                return Fail(kErrorTlsNoClientCert);
            if (st != SEC_E_OK && st != SEC_I_CONTINUE_NEEDED && st != SEC_E_INCOMPLETE_MESSAGE)
                return Fail(kErrorTlsHandshake);
            if (!sent)
                return Fail(m_inner->LastError());
            if (st == SEC_E_OK)
                break;
            if (st == SEC_I_CONTINUE_NEEDED && !m_in.empty())
                continue;
            const std::uint32_t wait = left();
            if (wait == 0)
                return Fail(NetErrorTimedOut());
            std::size_t got = 0;
            if (!ReceiveRaw(wait, &got))
                return Fail(kErrorTlsHandshake);
            // Garbage instead of TLS is told apart from a failed handshake.
            if (!heard && got > 0) {
                heard = true;
                if (!LooksLikeTls(m_in))
                    return Fail(kErrorNotTls);
            }
        }
        if (const int err = Verify(host); err != 0)
            return Fail(err);
        if (QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK)
            return Fail(kErrorTlsHandshake);
        m_open = true;
        return true;
    }

    bool Send(const std::uint8_t* bytes, std::size_t n, std::uint32_t limitMs) override
    {
        if (!m_open)
            return Fail(NetErrorDropped());
        // All the records first; the inner send is the bound.
        std::vector<std::uint8_t> wire;
        for (std::size_t done = 0; done < n;) {
            const std::size_t chunk = std::min<std::size_t>(n - done, m_sizes.cbMaximumMessage);
            const std::size_t at = wire.size();
            wire.resize(at + m_sizes.cbHeader + chunk + m_sizes.cbTrailer);
            std::uint8_t* rec = wire.data() + at;
            std::memcpy(rec + m_sizes.cbHeader, bytes + done, chunk);
            SecBuffer b[4] = {{m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, rec},
                              {static_cast<unsigned long>(chunk), SECBUFFER_DATA, rec + m_sizes.cbHeader},
                              {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, rec + m_sizes.cbHeader + chunk},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
            if (EncryptMessage(&m_context, 0, &desc, 0) != SEC_E_OK)
                return Fail(NetErrorDropped());
            // The trailer may come out shorter than its room.
            wire.resize(at + b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
            done += chunk;
        }
        if (!m_inner->Send(wire.data(), wire.size(), limitMs))
            return Fail(m_inner->LastError());
        return true;
    }

    bool Receive(std::uint8_t* bytes, std::size_t room, std::uint32_t waitMs, std::size_t* got) override
    {
        *got = 0;
        if (!m_open)
            return Fail(NetErrorDropped());
        const std::uint32_t start = m_clock.TickCount();
        for (bool first = true;; first = false) {
            // The last bytes before the server's goodbye are handed out first.
            if (!m_ended && !Decrypt())
                m_ended = true;
            if (m_headPlain < m_plain.size()) {
                *got = std::min(room, m_plain.size() - m_headPlain);
                std::copy_n(m_plain.begin() + static_cast<std::ptrdiff_t>(m_headPlain), *got, bytes);
                m_headPlain += *got;
                if (m_headPlain == m_plain.size()) {
                    m_plain.clear();
                    m_headPlain = 0;
                }
                return true;
            }
            if (m_ended)
                return Fail(NetErrorDropped());
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
        if (m_open)
            SendCloseNotify();
        m_open = false;
        m_inner->Close();
        Release();
    }

    int LastError() const override { return m_error; }

private:
    bool Fail(int err)
    {
        m_error = err;
        m_open = false;
        m_inner->Close();
        Release();
        return false;
    }

    void Release()
    {
        if (m_haveContext)
            DeleteSecurityContext(&m_context);
        if (m_haveCred)
            FreeCredentialsHandle(&m_cred);
        if (m_caStore)
            CertCloseStore(m_caStore, 0);
        m_haveContext = false;
        m_haveCred = false;
        m_caStore = nullptr;
        m_in.clear();
        m_plain.clear();
        m_headPlain = 0;
        m_ended = false;
    }

    // 0, or the code of what is wrong with the files or the setup.
    int Prepare()
    {
        const NetworkAddress& a = m_address;
        // Importing a PEM key into Windows' key stores is not done yet.
        if (!a.certFile.empty() || !a.keyFile.empty())
            return kErrorTlsClientCertUnavailable;
        if (!a.caFile.empty()) {
            m_caStore = LoadPemStore(a.caFile);
            if (!m_caStore)
                return kErrorTlsCaFile;
        }
        constexpr DWORD kFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        // The versions the system offers, TLS 1.2 at least.
        TLS_PARAMETERS versions{};
        versions.grbitDisabledProtocols = SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
        SCH_CREDENTIALS cred{};
        cred.dwVersion = SCH_CREDENTIALS_VERSION;
        cred.dwFlags = kFlags;
        cred.cTlsParameters = 1;
        cred.pTlsParameters = &versions;
        TimeStamp expiry{};
        SECURITY_STATUS st =
            AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &cred,
                                      nullptr, nullptr, &m_cred, &expiry);
        // Systems before Windows 10 1809 know only the older form, and TLS 1.2 at most.
        if (st != SEC_E_OK) {
            SCHANNEL_CRED old{};
            old.dwVersion = SCHANNEL_CRED_VERSION;
            old.dwFlags = kFlags;
            old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
            st = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                           &old, nullptr, nullptr, &m_cred, &expiry);
        }
        if (st != SEC_E_OK)
            return kErrorTlsHandshake;
        m_haveCred = true;
        return 0;
    }

    // The server's certificate: trusted through ca= (its chain ends at a
    // certificate of that file), the system's anchors, or fingerprint=
    // (without ca= the only trust), then for `host`, then in its dates.
    int Verify(const std::string& host)
    {
        PCCERT_CONTEXT leaf = nullptr;
        if (QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf) != SEC_E_OK || !leaf)
            return kErrorTlsBadCertificate;
        // The server's intermediates and the ca= file, to build the chain from.
        HCERTSTORE pool = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
        if (pool) {
            CertAddStoreToCollection(pool, leaf->hCertStore, 0, 0);
            if (m_caStore)
                CertAddStoreToCollection(pool, m_caStore, 0, 0);
        }
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        int err = kErrorTlsBadCertificate;
        if (CertGetCertificateChain(nullptr, leaf, nullptr, pool, &para, 0, nullptr, &chain) && chain->cChain > 0)
            err = Judge(leaf, chain, host);
        if (chain)
            CertFreeCertificateChain(chain);
        if (pool)
            CertCloseStore(pool, 0);
        CertFreeCertificateContext(leaf);
        return err;
    }

    int Judge(PCCERT_CONTEXT leaf, PCCERT_CHAIN_CONTEXT chain, const std::string& host) const
    {
        const NetworkAddress& a = m_address;
        const DWORD errors = chain->TrustStatus.dwErrorStatus & ~kRevocationNotes;
        bool anchored = false;
        if (m_caStore) {
            const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
            PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
            PCCERT_CONTEXT inFile =
                CertFindCertificateInStore(m_caStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr);
            anchored = inFile && (errors & CERT_TRUST_IS_PARTIAL_CHAIN) == 0;
            if (inFile)
                CertFreeCertificateContext(inFile);
        } else if (a.fingerprint.empty()) {
            anchored = (errors & kTrustErrors) == 0;
        }
        if (!anchored && !(a.fingerprint.size() > 0 && Sha256Hex(leaf) == a.fingerprint))
            return a.fingerprint.empty() ? kErrorTlsUnknownIssuer : kErrorTlsPinMismatch;
        if (const int err = CheckName(chain, leaf, host); err != 0)
            return err;
        if (errors & CERT_TRUST_IS_NOT_TIME_VALID)
            return kErrorTlsExpired;
        return (errors & ~kTrustErrors) == 0 ? 0 : kErrorTlsBadCertificate;
    }

    static int CheckName(PCCERT_CHAIN_CONTEXT chain, PCCERT_CONTEXT leaf, const std::string& host)
    {
        const std::vector<std::uint8_t> ip = IpBytes(host);
        if (!ip.empty())
            return HasIpAltName(leaf, ip) ? 0 : kErrorTlsNameMismatch;
        std::wstring name = Wide(host);
        HTTPSPolicyCallbackData https{};
        https.cbStruct = sizeof https;
        https.dwAuthType = AUTHTYPE_SERVER;
        // Trust and dates are judged apart; here only the name.
        https.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        https.pwszServerName = name.data();
        CERT_CHAIN_POLICY_PARA para{};
        para.cbSize = sizeof para;
        para.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG | CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
        para.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status))
            return kErrorTlsBadCertificate;
        if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
            return kErrorTlsNameMismatch;
        return status.dwError == 0 ? 0 : kErrorTlsBadCertificate;
    }

    // Decrypts the whole records that have come. False when the stream has
    // ended or is broken.
    bool Decrypt()
    {
        while (!m_in.empty()) {
            SecBuffer b[4] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_DATA, m_in.data()},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
            const SECURITY_STATUS st = DecryptMessage(&m_context, &desc, 0, nullptr);
            if (st == SEC_E_INCOMPLETE_MESSAGE)
                return true;
            if (st != SEC_E_OK && st != SEC_I_RENEGOTIATE)
                return false;
            std::vector<std::uint8_t> extra;
            for (const SecBuffer& x : b) {
                const auto* p = static_cast<const std::uint8_t*>(x.pvBuffer);
                if (x.BufferType == SECBUFFER_DATA && x.cbBuffer > 0)
                    m_plain.insert(m_plain.end(), p, p + x.cbBuffer);
                else if (x.BufferType == SECBUFFER_EXTRA && x.cbBuffer > 0)
                    extra.assign(p, p + x.cbBuffer);
            }
            m_in = std::move(extra);
            // TLS 1.3 sends tickets and key updates after the handshake;
            // they go back to the handshake's call.
            if (st == SEC_I_RENEGOTIATE && !Renegotiate())
                return false;
        }
        return true;
    }

    bool Renegotiate()
    {
        bool sent = false;
        return HandshakeStep(nullptr, kCloseNotifySendMs, &sent) == SEC_E_OK;
    }

    // One turn of the handshake (or of a renegotiation, `target` null): what
    // has come in goes to Schannel, its token out to the server, and the
    // bytes it did not use stay for the next turn.
    SECURITY_STATUS HandshakeStep(const wchar_t* target, std::uint32_t sendLimitMs, bool* sent)
    {
        SecBuffer in[2] = {{static_cast<unsigned long>(m_in.size()), SECBUFFER_TOKEN, m_in.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
        DWORD attributes = 0;
        TimeStamp expiry{};
        const SECURITY_STATUS st = InitializeSecurityContextW(
            &m_cred, m_haveContext ? &m_context : nullptr, const_cast<wchar_t*>(target), kContextRequest, 0, 0,
            m_haveContext ? &inDesc : nullptr, 0, &m_context, &outDesc, &attributes, &expiry);
        if (!m_haveContext && (st == SEC_E_OK || st == SEC_I_CONTINUE_NEEDED))
            m_haveContext = true;
        *sent = SendToken(out[0], sendLimitMs);
        if (st == SEC_E_INCOMPLETE_MESSAGE) {
            // Keep it all and wait for the rest.
        } else if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
            m_in.erase(m_in.begin(), m_in.end() - static_cast<std::ptrdiff_t>(in[1].cbBuffer));
        } else {
            m_in.clear();
        }
        return st;
    }

    void SendCloseNotify()
    {
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
        SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, token};
        if (ApplyControlToken(&m_context, &tokenDesc) != SEC_E_OK)
            return;
        SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
        DWORD attributes = 0;
        TimeStamp expiry{};
        InitializeSecurityContextW(&m_cred, &m_context, nullptr, kContextRequest, 0, 0, nullptr, 0, &m_context,
                                   &outDesc, &attributes, &expiry);
        SendToken(out[0], kCloseNotifySendMs);
    }

    // Sends and frees a token Schannel allocated.
    bool SendToken(SecBuffer& token, std::uint32_t limitMs)
    {
        if (!token.pvBuffer)
            return true;
        const bool ok = token.cbBuffer == 0
                        || m_inner->Send(static_cast<const std::uint8_t*>(token.pvBuffer), token.cbBuffer, limitMs);
        FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
        return ok;
    }

    // One receive from the inner connection into the undecrypted bytes.
    bool ReceiveRaw(std::uint32_t waitMs, std::size_t* in)
    {
        std::uint8_t buf[kChunk];
        if (!m_inner->Receive(buf, sizeof buf, waitMs, in))
            return false;
        m_in.insert(m_in.end(), buf, buf + *in);
        return true;
    }

    std::unique_ptr<INetConnection> m_inner;
    IPlatform& m_clock;
    NetworkAddress m_address;
    CredHandle m_cred{};
    CtxtHandle m_context{};
    bool m_haveCred = false;
    bool m_haveContext = false;
    HCERTSTORE m_caStore = nullptr;
    SecPkgContext_StreamSizes m_sizes{};
    // Bytes from the server not yet decrypted, and plain bytes not yet taken.
    std::vector<std::uint8_t> m_in;
    std::vector<std::uint8_t> m_plain;
    std::size_t m_headPlain = 0;
    // The stream has ended (close_notify, or a record that fails).
    bool m_ended = false;
    bool m_open = false;
    int m_error = 0;
};

} // namespace

std::unique_ptr<INetConnection> MakeTlsConnection(std::unique_ptr<INetConnection> inner, IPlatform& clock,
                                                  const NetworkAddress& address)
{
    return std::make_unique<TlsConnection>(std::move(inner), clock, address);
}

} // namespace pelvar
