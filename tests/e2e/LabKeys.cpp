#include "tests/e2e/LabKeys.h"

#include <cstdlib>

#include "tests/e2e/Process.h"

namespace pelvar::e2e {

namespace {

// P-256 keys: made in milliseconds. `openssl ca` takes the names asked for
// from the request, and dates in the past.
const char* kScript = R"(set -e
cat > ca.cnf <<'END'
[ ca ]
default_ca = lab
[ lab ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[ any ]
commonName = supplied
END
touch index.txt
echo 01 > serial
key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
openssl req -x509 $key -keyout ca.key -out ca.crt -days 30 -subj "/CN=Lab CA"
request() { openssl req $key -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" -addext "subjectAltName=$3"; }
request server 127.0.0.1 IP:127.0.0.1
openssl ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -in server.csr -out server.crt -days 30
request other-name lab-9.example DNS:lab-9.example
openssl ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -in other-name.csr -out other-name.crt -days 30
request expired 127.0.0.1 IP:127.0.0.1
openssl ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -in expired.csr -out expired.crt \
  -startdate 20200101000000Z -enddate 20200201000000Z
openssl req -x509 $key -keyout self.key -out self.crt -days 30 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1
openssl req -x509 $key -keyout client.key -out client.crt -days 30 -subj /CN=lab
openssl req -x509 $key -keyout stranger.key -out stranger.crt -days 30 -subj /CN=lab
chmod 600 *.key
cp client.key client-open.key
chmod 644 client-open.key
openssl pkey -in client.key -aes256 -passout pass:lab -out client-locked.key
chmod 600 client-locked.key
mkdir -p auth/lab/allowed_certs
cp client.crt auth/lab/allowed_certs/
openssl rehash auth/lab/allowed_certs
)";

} // namespace

LabKeys::LabKeys()
{
    char dir[] = "/tmp/pelvar-keys-XXXXXX";
    if (!mkdtemp(dir))
        return;
    m_dir = dir;
    const RunResult r = RunProgram({"/bin/sh", "-c", "cd '" + m_dir + "' || exit 1\n" + kScript});
    m_log = r.out + r.err;
    m_ready = r.status == 0;
}

LabKeys::~LabKeys()
{
    if (!m_dir.empty())
        RunProgram({"/bin/rm", "-rf", m_dir});
}

std::string LabKeys::Fingerprint(const std::string& cert) const
{
    const RunResult r =
        RunProgram({"/usr/bin/openssl", "x509", "-in", File(cert), "-noout", "-fingerprint", "-sha256"});
    const std::size_t eq = r.out.find('=');
    if (r.status != 0 || eq == std::string::npos)
        return {};
    std::string fp = r.out.substr(eq + 1);
    while (!fp.empty() && (fp.back() == '\n' || fp.back() == '\r'))
        fp.pop_back();
    return fp;
}

} // namespace pelvar::e2e
