#include "support/TestCertificate.h"

#include "support/ServerProcess.h"

#include <cstdlib>

namespace kxtest {

const TestCertificate& LoopbackCertificate()
{
    static const TestCertificate certificate = [] {
        static TempDir dir;
        TestCertificate c;
        c.cert = dir.Path("cert.pem");
        const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + dir.Path("key.pem") +
                                "' -out '" + c.cert +
                                "' -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
        const std::string print = "openssl x509 -noout -fingerprint -sha256 -in '" + c.cert + "' > '" +
                                  dir.Path("sha256.txt") + "' 2>/dev/null";
        if (std::system(cmd.c_str()) == 0 && std::system(print.c_str()) == 0) {
            c.keyAndCert = dir.Write("both.pem", dir.Read("key.pem") + dir.Read("cert.pem"));
            // "sha256 Fingerprint=AB:CD:..." (the label differs between versions)
            std::string line = dir.Read("sha256.txt");
            line = line.substr(line.find('=') + 1);
            c.sha256 = line.substr(0, line.find_first_of("\r\n"));
            c.ok = c.sha256.size() == 95;
        }
        return c;
    }();
    return certificate;
}

bool PyFtpdCanTls()
{
    static const bool can = std::system("/usr/bin/python3 -c 'import OpenSSL' >/dev/null 2>&1") == 0;
    return can;
}

}  // namespace kxtest
