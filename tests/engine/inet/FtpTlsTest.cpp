// FTP over TLS against a real server (pyftpdlib's TLS handler) with a
// self-signed certificate for 127.0.0.1 made when the tests start.

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "support/InetHelpers.h"
#include "support/ServerProcess.h"
#include "support/TestCertificate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using kxtest::RandomBytes;
using kxtest::ErrorOf;
using inet::Encryption;
using inet::FtpConnection;
using inet::InternetError;
using inet::TransferType;
using Clock = std::chrono::steady_clock;
namespace err = inet::err;

constexpr std::size_t kLargeSize = (65u << 20) + 123;  // past 64 MiB, and not a round number

std::string DownloadAll(FtpConnection& c, const std::string& path, std::uint64_t offset = 0)
{
    auto stream = c.OpenFileForRead(path, TransferType::Binary, offset);
    std::string out, buf(100000, '\0');
    while (std::size_t n = stream->Read(buf.data(), buf.size()))
        out.append(buf.data(), n);
    stream->Close();
    return out;
}

void UploadAll(FtpConnection& c, const std::string& path, std::string_view data,
               inet::WriteMode mode = inet::WriteMode::Replace, std::uint64_t offset = 0)
{
    auto stream = c.OpenFileForWrite(path, TransferType::Binary, mode, offset);
    stream->Write(data.data(), data.size());
    stream->Close();
}


class FtpTlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kxtest::PyFtpdCanTls())
            GTEST_SKIP() << "pyOpenSSL is missing (Debian package python3-openssl): no TLS test server";
        if (!kxtest::LoopbackCertificate().ok)
            GTEST_SKIP() << "the openssl command (Debian package openssl) could not make a test certificate";
        session_ = std::make_unique<inet::InternetSession>("KestrixTest", inet::AccessType::Direct);
        session_->SetReceiveTimeout(20000);
        session_->SetConversationCallback([this](inet::Talk kind, std::string_view line) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (kind == inet::Talk::Note)
                notes_ += std::string(line) + "\n";
        });
        session_->SetCertificateCallback([this](const inet::CertificateInfo& info) {
            std::lock_guard<std::mutex> lock(mutex_);
            asked_.push_back(info);
            return accept_;
        });
    }
    void StartTls(std::vector<std::string> extra = {})
    {
        extra.insert(extra.begin(), {"--tls", kxtest::LoopbackCertificate().keyAndCert});
        server_ = kxtest::StartPyFtpd(root_.path(), "user", "secret", extra);
    }
    std::unique_ptr<FtpConnection> Connect(Encryption encryption, bool passive = true,
                                           const std::string& host = "127.0.0.1")
    {
        return session_->Connect(host, server_->port(), "user", "secret", passive, encryption);
    }
    bool Noted(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return notes_.find(text) != std::string::npos;
    }

    kxtest::TempDir root_, local_;
    std::unique_ptr<kxtest::ServerProcess> server_;
    std::unique_ptr<inet::InternetSession> session_;
    std::mutex mutex_;
    std::string notes_;
    std::vector<inet::CertificateInfo> asked_;
    bool accept_ = true;
};

// ---------------------------------------------------------------------------
// Transfers, in passive and active mode

class FtpTlsModeTest : public FtpTlsTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Mode, FtpTlsModeTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(FtpTlsModeTest, ListsAndMovesLargeFilesByteExact)
{
    const std::string large = RandomBytes(kLargeSize, GetParam() ? 1 : 2);
    root_.Write("large.bin", large);
    StartTls({"--tls-require-reuse"});  // every data connection must resume the control session
    auto c = Connect(Encryption::ExplicitRequired, GetParam());
    EXPECT_TRUE(c->controlEncrypted() && c->dataEncrypted());
    EXPECT_TRUE(Noted("TLS connection established: TLSv1.3, ")) << notes_;
    std::vector<std::string> names;
    c->Enumerate("", [&](inet::DirEntry&& e) { names.push_back(e.name); });
    EXPECT_NE(std::find(names.begin(), names.end(), "large.bin"), names.end());

    // Through a descriptor: the path that splices on plain connections.
    int fd = ::open(local_.Path("down.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    auto down = c->OpenFileForRead("large.bin", TransferType::Binary);
    while (down->ReadInto(fd, 1 << 20) > 0) {
    }
    down->Close();
    EXPECT_TRUE(local_.Read("down.bin") == large);
    ::lseek(fd, 0, SEEK_SET);
    auto up = c->OpenFileForWrite("up.bin", TransferType::Binary);
    while (up->WriteFrom(fd, 1 << 20) > 0) {
    }
    up->Close();
    ::close(fd);
    EXPECT_TRUE(root_.Read("up.bin") == large);
    EXPECT_EQ(asked_.size(), 1u) << "data connections must not ask about the certificate again";
}

TEST_P(FtpTlsModeTest, ResumesTransfersAndReportsRefusals)
{
    const std::string data = RandomBytes(3'000'000, 3);
    root_.Write("file.bin", data);
    StartTls({"--tls-require-reuse"});
    auto c = Connect(Encryption::ExplicitIfAvailable, GetParam());
    EXPECT_EQ(DownloadAll(*c, "file.bin", 1'234'567), data.substr(1'234'567));
    UploadAll(*c, "part.bin", std::string_view(data).substr(0, 1'000'000));
    UploadAll(*c, "part.bin", std::string_view(data).substr(1'000'000), inet::WriteMode::Restart, 1'000'000);
    EXPECT_TRUE(root_.Read("part.bin") == data);
    EXPECT_EQ(ErrorOf([&] { DownloadAll(*c, "missing.bin"); }), err::kExtendedError);
    EXPECT_EQ(c->lastReplyCode(), 550);
    EXPECT_EQ(c->GetFileSize("part.bin"), data.size());
}

// ---------------------------------------------------------------------------
// Negotiation

TEST_F(FtpTlsTest, ChoosesEncryptionAsAsked)
{
    root_.Write("a.txt", "text\n");
    server_ = kxtest::StartPyFtpd(root_.path(), "user", "secret");  // no TLS at all
    auto plain = Connect(Encryption::ExplicitIfAvailable);
    EXPECT_FALSE(plain->controlEncrypted() || plain->dataEncrypted());
    EXPECT_TRUE(Noted("refused AUTH TLS"));
    EXPECT_EQ(DownloadAll(*plain, "a.txt"), "text\n");
    EXPECT_EQ(ErrorOf([&] { Connect(Encryption::ExplicitRequired); }), err::kTlsNotAvailable);

    StartTls({"--tls-implicit"});
    auto implicit = Connect(Encryption::Implicit, false);
    EXPECT_TRUE(implicit->controlEncrypted() && implicit->dataEncrypted());
    EXPECT_EQ(DownloadAll(*implicit, "a.txt"), "text\n");

    StartTls({"--tls-required", "--tls12", "--tls-require-reuse"});
    for (bool passive : {true, false}) {
        auto c = Connect(Encryption::ExplicitIfAvailable, passive);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(DownloadAll(*c, "a.txt"), "text\n");
    }
    EXPECT_TRUE(Noted("TLS connection established: TLSv1.2, ")) << notes_;
}

TEST_F(FtpTlsTest, AbortAndProxyKeepWorking)
{
    root_.Write("large.bin", RandomBytes(20'000'000, 6));
    StartTls({"--tls-require-reuse"});
    auto c = Connect(Encryption::ExplicitRequired);
    auto stream = c->OpenFileForRead("large.bin", TransferType::Binary);
    char buf[65536];
    ASSERT_GT(stream->Read(buf, sizeof buf), 0u);
    stream->Close();  // ABOR over the encrypted control connection
    UploadAll(*c, "b.txt", "after\n");
    EXPECT_EQ(DownloadAll(*c, "b.txt"), "after\n");

    auto proxy = kxtest::StartConnectProxy();
    inet::InternetSession tunnelled("KestrixTest", inet::AccessType::NamedProxy,
                                    "127.0.0.1:" + std::to_string(proxy->port()));
    tunnelled.SetInsecure(true);
    auto p = tunnelled.Connect("127.0.0.1", server_->port(), "user", "secret", true, Encryption::ExplicitRequired);
    EXPECT_TRUE(p->throughProxy() && p->dataEncrypted());
    EXPECT_EQ(DownloadAll(*p, "b.txt"), "after\n");
}

// ---------------------------------------------------------------------------
// Certificates

TEST_F(FtpTlsTest, UntrustedCertificateRefusedPinnedOrTrusted)
{
    StartTls();
    accept_ = false;
    EXPECT_EQ(ErrorOf([&] { Connect(Encryption::ExplicitRequired); }), err::kInvalidCertificate);
    ASSERT_EQ(asked_.size(), 1u);
    const inet::CertificateInfo info = asked_[0];
    EXPECT_NE(info.subject.find("CN=127.0.0.1"), std::string::npos) << info.subject;
    EXPECT_EQ(info.issuer, info.subject);
    EXPECT_FALSE(info.notBefore.empty() || info.notAfter.empty());
    EXPECT_NE(info.verificationError.find("self-signed"), std::string::npos) << info.verificationError;
    EXPECT_EQ(info.sha256Fingerprint.size(), 32u * 3 - 1);
    EXPECT_EQ(info.pem.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);

    // Pinned in another spelling: lower case, no colons; never asked about again.
    std::string print;
    for (char ch : info.sha256Fingerprint)
        if (ch != ':')
            print += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    session_->SetPinnedCertificates({print});
    for (bool passive : {true, false})
        EXPECT_EQ(Connect(Encryption::ExplicitRequired, passive)->GetCurrentDirectory(), "/");
    session_->SetPinnedCertificates({});

    // Trusted through a CA file, but for 127.0.0.1 only, not for the name "localhost".
    session_->SetCaFile(kxtest::LoopbackCertificate().cert);
    EXPECT_EQ(Connect(Encryption::ExplicitRequired)->GetCurrentDirectory(), "/");
    EXPECT_EQ(asked_.size(), 1u);
    EXPECT_EQ(ErrorOf([&] { Connect(Encryption::ExplicitRequired, true, "localhost"); }),
              err::kInvalidCertificate);
    ASSERT_EQ(asked_.size(), 2u);
    EXPECT_NE(asked_[1].verificationError.find("mismatch"), std::string::npos) << asked_[1].verificationError;
}

// ---------------------------------------------------------------------------
// Hostile servers and interruptions

TEST_F(FtpTlsTest, BrokenNegotiationGivesErrorNumbers)
{
    session_->SetReceiveTimeout(3000);
    const std::pair<std::vector<std::string>, std::uint32_t> cases[] = {
        {{"--reply", "AUTH=234 go ahead\\r\\n"}, err::kTlsFailed},  // then goes on in plain text
        {{"--reply", "AUTH=234 go ahead\\r\\n220 injected\\r\\n"}, err::kInvalidServerResponse},
        {{"--reply", "AUTH=234 go ahead\\r\\n", "--close-after", "AUTH"}, err::kTlsFailed},
        {{"--reply", "AUTH=334 ADAT=abc\\r\\n"}, err::kInvalidServerResponse},
    };
    for (const auto& [switches, expected] : cases) {
        auto server = kxtest::StartScriptedFtpd(root_.path(), switches);
        const auto started = Clock::now();
        EXPECT_EQ(ErrorOf([&] {
                      session_->Connect("127.0.0.1", server->port(), "u", "p", true, Encryption::ExplicitIfAvailable);
                  }),
                  expected)
            << switches[1];
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << switches[1];
    }
}

TEST_F(FtpTlsTest, CloseWakesBlockedReadAndDeadServerGivesErrorNumber)
{
    root_.Write("large.bin", RandomBytes(kLargeSize, 4));
    enum Round { CloseConnection, KillServer, CloseSession };
    for (Round round : {CloseConnection, KillServer, CloseSession}) {
        if (round != KillServer)
            StartTls();
        auto c = Connect(Encryption::ExplicitRequired);
        auto stream = c->OpenFileForRead("large.bin", TransferType::Binary);
        char buf[65536];
        ASSERT_GT(stream->Read(buf, sizeof buf), 0u);
        // Stopped, the server sends nothing more: the read blocks once the
        // socket is drained. Killed, it ends TLS without close_notify.
        ASSERT_EQ(::kill(server_->pid(), round == KillServer ? SIGKILL : SIGSTOP), 0);
        std::atomic<Clock::rep> closedAt{0};
        std::thread closer([&] {
            if (round == KillServer)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            closedAt = Clock::now().time_since_epoch().count();
            round == CloseConnection ? c->Close() : session_->Close();
        });
        const std::uint32_t number = ErrorOf([&] {
            while (stream->Read(buf, sizeof buf) > 0) {
            }
        });
        const Clock::rep caughtAt = Clock::now().time_since_epoch().count();
        closer.join();
        if (round == KillServer) {
            EXPECT_TRUE(number == err::kTlsUncleanClose || number == err::kConnectionReset ||
                        number == err::kConnectionAborted || number == err::kFtpDropped)
                << number;
            continue;
        }
        ::kill(server_->pid(), SIGCONT);
        EXPECT_EQ(number, err::kOperationCancelled);
        EXPECT_LT(Clock::duration(caughtAt - closedAt), std::chrono::milliseconds(500));
    }
}

}  // namespace

namespace {

// vsftpd refuses a data connection that does not resume the control
// connection's TLS session (its default require_ssl_reuse), as ProFTPD and
// Pure-FTPd can: every transfer must carry the session along.
TEST_F(FtpTlsTest, VsftpdInsistingOnSessionReuseTakesEveryTransfer)
{
    if (::access("/usr/sbin/vsftpd", X_OK) != 0 || ::geteuid() != 0)
        GTEST_SKIP() << "vsftpd (Debian package vsftpd) is not installed, or the tests do not run as root, "
                        "which its anonymous chroot needs";
    kxtest::TempDir served;
    ::chmod(served.path().c_str(), 0755);
    ::chmod(served.MakeDir("up").c_str(), 0777);
    const std::string data = RandomBytes(3u << 20, 7);
    served.Write("data.bin", data);
    ::chmod(served.Path("data.bin").c_str(), 0644);
    const std::string pem = kxtest::LoopbackCertificate().keyAndCert;
    server_ = kxtest::ServerProcess::Start(kxtest::SupportScript("vsftpd_server.py"),
                                           {"--root", served.path(), "--cert", pem, "--key", pem});
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto c = session_->Connect("127.0.0.1", server_->port(), "anonymous", "", passive,
                                   Encryption::ExplicitRequired);
        EXPECT_TRUE(c->controlEncrypted() && c->dataEncrypted());
        std::vector<std::string> names;
        c->Enumerate("", [&](inet::DirEntry&& e) { names.push_back(e.name); });
        EXPECT_NE(std::find(names.begin(), names.end(), "data.bin"), names.end());
        EXPECT_TRUE(DownloadAll(*c, "data.bin") == data);
        const std::string name = passive ? "up/passive.bin" : "up/active.bin";
        UploadAll(*c, name, data);
        EXPECT_TRUE(served.Read(name) == data);
        EXPECT_TRUE(DownloadAll(*c, "data.bin", 1000) == data.substr(1000));
    }
}

} // namespace
