// The socket layer under the FTP client: who may connect to an active-mode
// listener, and how waits end (error, cancel) — on loopback sockets only.

#include "engine/inet/InternetError.h"
#include "engine/inet/NetSocket.h"

#include "support/InetHelpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>

namespace {

using kxtest::ErrorOf;
using namespace inet::net;

Address Loopback(const char* ip, int port)
{
    Address a;
    EXPECT_TRUE(ParseNumericHost(ip, port, a)) << ip;
    return a;
}


TEST(NetSocket, AcceptTakesOnlyTheExpectedPeer)
{
    Cancel none;
    Socket listener = ListenTcp(Loopback("127.0.0.1", 0));
    Address where = listener.Local();

    // A stranger (another loopback address) gets there first.
    int stranger = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(stranger, 0);
    Address from = Loopback("127.0.0.2", 0);
    if (::bind(stranger, from.sa(), from.length) != 0) {
        ::close(stranger);
        GTEST_SKIP() << "127.0.0.2 is not usable here";
    }
    ASSERT_EQ(::connect(stranger, where.sa(), where.length), 0);
    Socket expected = ConnectTcp({where}, 5000, none);

    Socket accepted = AcceptFrom(listener, Loopback("127.0.0.1", 0), 5000, none);
    EXPECT_TRUE(accepted.Peer().SameHost(Loopback("127.0.0.1", 0)));
    EXPECT_EQ(accepted.Peer().port(), expected.Local().port());
    char c;
    ssize_t n = ::recv(stranger, &c, 1, 0);  // closed unanswered: end of stream or reset
    EXPECT_LE(n, 0);
    ::close(stranger);
}

TEST(NetSocket, WaitsEndWithTheRightError)
{
    Cancel none;
    // Nothing listens on a port we just released.
    Address closedPort;
    {
        Socket s = ListenTcp(Loopback("127.0.0.1", 0));
        closedPort = s.Local();
    }
    EXPECT_EQ(ErrorOf([&] { ConnectTcp({closedPort}, 5000, none); }), inet::err::kCannotConnect);

    Socket listener = ListenTcp(Loopback("127.0.0.1", 0));
    Socket client = ConnectTcp({listener.Local()}, 5000, none);
    char buf[16];
    EXPECT_EQ(ErrorOf([&] { client.RecvSome(buf, sizeof buf, 50, none); }), inet::err::kTimeout);

    CancelFlag flag;
    Cancel cancel{nullptr, &flag};
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flag.Fire();
    });
    EXPECT_EQ(ErrorOf([&] { client.RecvSome(buf, sizeof buf, 0, cancel); }), inet::err::kOperationCancelled);
    t.join();
    EXPECT_EQ(ErrorOf([&] { AcceptFrom(listener, listener.Local(), 0, cancel); }),
              inet::err::kOperationCancelled);

    auto addresses = Resolve("localhost", 21, 5000, none);
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.front().port(), 21);
    EXPECT_EQ(Resolve("[::1]", 2121, 5000, none).front().HostString(), "::1");
    EXPECT_EQ(ErrorOf([&] { Resolve("localhost", 21, 5000, cancel); }), inet::err::kOperationCancelled);
}

TEST(NetSocket, AddressesCompareAcrossFamilies)
{
    Address v4 = Loopback("127.0.0.1", 1);
    Address mapped = Loopback("::ffff:127.0.0.1", 2);
    Address v6 = Loopback("::1", 3);
    EXPECT_TRUE(v4.SameHost(mapped));
    EXPECT_TRUE(mapped.SameHost(v4));
    EXPECT_FALSE(v4.SameHost(v6));
    EXPECT_FALSE(v4.SameHost(Loopback("127.0.0.2", 1)));
    EXPECT_EQ(v6.ToString(), "[::1]:3");
    EXPECT_EQ(v4.ToString(), "127.0.0.1:1");
}

}  // namespace
