// kestrix-ftp over TLS, run as a process against pyftpdlib's TLS handler.

#include "support/ServerProcess.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

const std::string kCli = KX_FTP_TOOL;

TEST(CliTlsTest, EncryptionOptionsAndCertificateTrust)
{
    if (::access(kCli.c_str(), X_OK) != 0)
        GTEST_SKIP() << kCli << " is not built (target kestrix-ftp)";
    if (!kxtest::PyFtpdCanTls() || !kxtest::LoopbackCertificate().ok)
        GTEST_SKIP() << "no TLS test server: needs pyOpenSSL (python3-openssl) and the openssl command";
    kxtest::TempDir root, work;
    const std::string data = std::string(300000, 'd');
    root.Write("data.bin", data);
    // Exit status and standard error of one run, in work.
    auto run = [&](const std::string& args) {
        const std::string cmd = "cd '" + work.path() + "' && '" + kCli + "' " + args + " >out.txt 2>err.txt </dev/null";
        const int rc = std::system(cmd.c_str());
        return std::make_pair(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, work.Read("err.txt"));
    };
    const std::string pem = kxtest::LoopbackCertificate().keyAndCert;
    auto server = kxtest::StartPyFtpd(root.path(), "u", "p", {"--tls", pem});
    const std::string base = " --user u --password p 127.0.0.1:" + std::to_string(server->port()) + " ";

    auto [status, err] = run("--ssl-reqd" + base + "ls");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("error 12045"), std::string::npos) << err;
    EXPECT_NE(err.find("--cacert"), std::string::npos) << err;

    const std::string trust = "--cacert '" + kxtest::LoopbackCertificate().cert + "'";
    EXPECT_EQ(run("--ssl --active " + trust + base + "get data.bin").first, 0);
    EXPECT_EQ(work.Read("data.bin"), data);
    EXPECT_EQ(run("--ssl-reqd --insecure" + base + "put data.bin sent.bin").first, 0);
    EXPECT_EQ(root.Read("sent.bin"), data);

    auto implicit = kxtest::StartPyFtpd(root.path(), "u", "p", {"--tls", pem, "--tls-implicit"});
    const std::string url = "ftps://u:p@127.0.0.1:" + std::to_string(implicit->port()) + "/";
    EXPECT_EQ(run("--insecure " + url + " get sent.bin copy.bin").first, 0);
    EXPECT_EQ(work.Read("copy.bin"), data);

    auto plain = kxtest::StartPyFtpd(root.path(), "u", "p");
    const std::string plainBase = " --user u --password p 127.0.0.1:" + std::to_string(plain->port()) + " ";
    std::tie(status, err) = run("--ssl-reqd" + plainBase + "ls");
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("error 12190"), std::string::npos) << err;
    EXPECT_EQ(run("--ssl" + plainBase + "ls").first, 0);
}

}  // namespace
