#pragma once

// A self-signed certificate for 127.0.0.1, made with the openssl command on
// first use and kept until the test process ends.

#include <string>

namespace kxtest {

struct TestCertificate {
    std::string keyAndCert;  // one PEM file, as pyftpd_server.py --tls takes it
    std::string cert;        // the certificate alone, for a client to trust
    std::string sha256;      // "AB:CD:..." as the library reports it
    bool ok = false;         // false when openssl is missing or failed
};

const TestCertificate& LoopbackCertificate();

// Whether /usr/bin/python3 can run pyftpd_server.py --tls (it needs pyOpenSSL).
bool PyFtpdCanTls();

}  // namespace kxtest
