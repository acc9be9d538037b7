// A lab's keys and certificates for TLS ports, made with the openssl command
// in a temporary directory and removed with it: a CA, server certificates
// for 127.0.0.1 (good, expired, self-signed) and for another name, and two
// self-signed client certificates of user "lab", one of them allowed.
#pragma once

#include <string>

namespace pelvar::e2e {

class LabKeys {
public:
    LabKeys();
    ~LabKeys();
    LabKeys(const LabKeys&) = delete;
    LabKeys& operator=(const LabKeys&) = delete;

    bool Ready() const { return m_ready; }
    // What went wrong while making them.
    const std::string& Log() const { return m_log; }
    // A file of the directory: "ca.crt", "server.key", "server.crt",
    // "other-name.crt", "expired.crt", "self.key", "self.crt", "client.crt",
    // "client.key", "client-open.key" (mode 0644), "client-locked.key" (with a
    // pass phrase), "stranger.crt", "stranger.key".
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    // ser2net's authdir: user "lab" allows client.crt only.
    std::string AuthDir() const { return m_dir + "/auth"; }
    // As `openssl x509 -fingerprint -sha256` prints it: "AB:CD:...".
    std::string Fingerprint(const std::string& cert) const;

private:
    std::string m_dir;
    std::string m_log;
    bool m_ready = false;
};

} // namespace pelvar::e2e
