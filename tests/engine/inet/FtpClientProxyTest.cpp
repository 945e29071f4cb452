// The FTP client through an HTTP CONNECT proxy: control and data connections are tunnelled.

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "support/ServerProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using inet::InternetError;
using inet::InternetSession;
using inet::TransferType;

std::string ReadAll(inet::FtpStream& stream)
{
    std::string out, buf(65536, '\0');
    for (;;) {
        std::size_t n = stream.Read(buf.data(), buf.size());
        if (n == 0)
            return out;
        out.append(buf.data(), n);
    }
}

class ProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.Write("dir/file.bin", std::string(3 * 1024 * 1024, 'p'));
        root_.Write("dir/other.txt", "other");
        server_ = kxtest::StartPyFtpd(root_.path(), "user", "secret");
        proxyLog_ = logs_.Path("proxy.log");
        proxy_ = kxtest::StartConnectProxy({"--log", proxyLog_});
    }

    // Lists /dir and downloads the big file; returns the number of tunnels that took.
    void ListAndDownload(inet::FtpConnection& conn)
    {
        std::vector<std::string> names;
        conn.Enumerate("/dir", [&](inet::DirEntry&& e) {
            if (!e.IsDots())
                names.push_back(e.name);
        });
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"file.bin", "other.txt"}));
        auto stream = conn.OpenFileForRead("/dir/file.bin", TransferType::Binary);
        EXPECT_EQ(ReadAll(*stream), root_.Read("dir/file.bin"));
    }

    void ExpectTunnels()
    {
        auto lines = kxtest::ReadLines(proxyLog_);
        ASSERT_EQ(lines.size(), 3u);  // control, listing, download
        std::string control = "CONNECT 127.0.0.1:" + std::to_string(server_->port()) + " HTTP/1.1";
        EXPECT_EQ(lines[0], control);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].rfind("CONNECT 127.0.0.1:", 0), 0u) << lines[i];
            EXPECT_NE(lines[i], control);
        }
    }

    kxtest::TempDir root_, logs_;
    std::string proxyLog_;
    std::unique_ptr<kxtest::ServerProcess> server_, proxy_;
};

TEST_F(ProxyTest, NamedProxyTunnelsControlAndData)
{
    InternetSession session("KestrixTest", inet::AccessType::NamedProxy,
                            "127.0.0.1:" + std::to_string(proxy_->port()));
    // Active mode is impossible through a tunnel: the connection goes passive.
    auto conn = session.Connect("127.0.0.1", server_->port(), "user", "secret", false);
    EXPECT_TRUE(conn->throughProxy());
    EXPECT_TRUE(conn->passive());
    ListAndDownload(*conn);
    ExpectTunnels();
}

TEST_F(ProxyTest, PreconfiguredProxyComesFromTheEnvironment)
{
    std::string url = "http://127.0.0.1:" + std::to_string(proxy_->port());
    ::setenv("ftp_proxy", url.c_str(), 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    {
        InternetSession session("KestrixTest", inet::AccessType::Preconfigured);
        auto conn = session.Connect("127.0.0.1", server_->port(), "user", "secret", true);
        EXPECT_TRUE(conn->throughProxy());
        ListAndDownload(*conn);
        ExpectTunnels();

        ::setenv("no_proxy", "127.0.0.0/8", 1);
        conn = session.Connect("127.0.0.1", server_->port(), "user", "secret", true);
        EXPECT_FALSE(conn->throughProxy());
    }
    ::unsetenv("ftp_proxy");
    ::unsetenv("no_proxy");
}

TEST_F(ProxyTest, RefusedTunnelIsCannotConnect)
{
    auto strict = kxtest::StartConnectProxy({"--require-auth", "who:pw"});
    InternetSession session("KestrixTest", inet::AccessType::NamedProxy,
                            "127.0.0.1:" + std::to_string(strict->port()));
    try {
        session.Connect("127.0.0.1", server_->port(), "user", "secret", true);
        ADD_FAILURE();
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kCannotConnect);
        EXPECT_NE(std::string(e.what()).find("407"), std::string::npos) << e.what();
    }
    EXPECT_THROW(InternetSession("x", inet::AccessType::NamedProxy, "socks5://127.0.0.1:1"), InternetError);
}

}  // namespace
