#include "platform/PortName.h"

#include <cctype>

namespace pelvar {

namespace {

bool HasScheme(const std::string& text, const char* scheme) { return text.rfind(scheme, 0) == 0; }

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
           || c == '_';
}

// The 64 hex digits of a SHA-256 fingerprint, in lower case, from
// "sha256:" and the digits as openssl prints them (colons optional).
bool ParseFingerprint(const std::string& text, std::string* hex)
{
    const std::string prefix = "sha256:";
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    std::string digits;
    for (std::size_t i = prefix.size(); i < text.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        if (c == ':')
            continue;
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
        digits += c;
    }
    if (digits.size() != 64)
        return false;
    *hex = digits;
    return true;
}

bool ParseOptions(const std::string& text, NetworkAddress* address, std::string* error)
{
    const char* known =
        address->tls ? "ign_set_control, ign_purge, ca=, fingerprint=, cert=, key=" : "ign_set_control, ign_purge";
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t end = text.find('&', i);
        if (end == std::string::npos)
            end = text.size();
        const std::string option = text.substr(i, end - i);
        const std::size_t eq = option.find('=');
        const std::string name = option.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : option.substr(eq + 1);
        std::string* field = name == "ca"            ? &address->caFile
                             : name == "cert"        ? &address->certFile
                             : name == "key"         ? &address->keyFile
                             : name == "fingerprint" ? &address->fingerprint
                                                     : nullptr;
        if (option == "ign_set_control") {
            address->ignoreSetControl = true;
        } else if (option == "ign_purge") {
            address->ignorePurge = true;
        } else if (field && !address->tls) {
            *error = name + "= is an option of " + kRfc2217TlsScheme + " ports";
            return false;
        } else if (field && eq != std::string::npos) {
            if (value.empty()) {
                *error = name + "= needs a value";
                return false;
            }
            if (!field->empty()) {
                *error = name + "= is given twice";
                return false;
            }
            if (field == &address->fingerprint) {
                if (!ParseFingerprint(value, field)) {
                    *error = "fingerprint '" + value + "' is not sha256: and 64 hex digits";
                    return false;
                }
            } else {
                *field = value;
            }
        } else {
            *error = "unknown option '" + option + "' (known: " + known + ")";
            return false;
        }
        i = end + 1;
    }
    if (address->certFile.empty() != address->keyFile.empty()) {
        *error = "a client certificate needs both cert= and key=";
        return false;
    }
    return true;
}

} // namespace

bool LooksLikeNetworkPort(const std::string& text)
{
    return HasScheme(text, kRfc2217Scheme) || HasScheme(text, kRfc2217TlsScheme) || HasScheme(text, kSocketScheme);
}

bool ParseNetworkAddress(const std::string& text, NetworkAddress* address, std::string* error)
{
    NetworkAddress a;
    a.raw = HasScheme(text, kSocketScheme);
    a.tls = HasScheme(text, kRfc2217TlsScheme);
    const std::string scheme = a.raw ? kSocketScheme : a.tls ? kRfc2217TlsScheme : kRfc2217Scheme;
    const std::string head = "'" + text + "' is not a network port " + scheme + "HOST:PORT: ";
    if (!LooksLikeNetworkPort(text)) {
        *error = head + "it does not begin with rfc2217://";
        return false;
    }
    std::string rest = text.substr(scheme.size());
    std::string options;
    if (std::size_t q = rest.find('?'); q != std::string::npos) {
        options = rest.substr(q + 1);
        rest.resize(q);
    }
    std::size_t colon = 0;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close == 1) {
            *error = head + "an IPv6 address needs its closing ']'";
            return false;
        }
        a.host = rest.substr(1, close - 1);
        for (char c : a.host) {
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.')) {
                *error = head + "'" + a.host + "' is not an IPv6 address";
                return false;
            }
        }
        colon = close + 1;
        if (colon >= rest.size() || rest[colon] != ':') {
            *error = head + "the port number is missing";
            return false;
        }
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos) {
            *error = head + "the port number is missing";
            return false;
        }
        a.host = rest.substr(0, colon);
        for (char c : a.host) {
            if (!IsHostChar(c)) {
                *error = head + "'" + a.host + "' is not a host name or address";
                return false;
            }
        }
    }
    if (a.host.empty()) {
        *error = head + "the host is missing";
        return false;
    }
    const std::string digits = rest.substr(colon + 1);
    unsigned long port = 0;
    bool ok = !digits.empty() && digits.size() <= 5 && digits[0] != '0';
    for (char c : digits) {
        ok = ok && c >= '0' && c <= '9';
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (!ok || port > 65535) {
        *error = head + "'" + digits + "' is not a TCP port from 1 to 65535";
        return false;
    }
    a.port = static_cast<std::uint16_t>(port);
    // The options are telnet's quirks: a raw port has none.
    if (a.raw && !options.empty()) {
        *error = head + "socket:// takes no options";
        return false;
    }
    if (!options.empty() && !ParseOptions(options, &a, error)) {
        *error = head + *error;
        return false;
    }
    *address = a;
    return true;
}

} // namespace pelvar
