// The SFTP client against replies written by hand: whatever a broken or
// hostile server sends, the answer is a clear error, never a crash, a hang or
// a wrong byte.

#include "engine/remote/SftpClient.h"
#include "support/InetHelpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using kxtest::ErrorOf;
using remote::sftp::Client;
namespace ierr = inet::err;

// Hands out the bytes it was given; then the channel is closed.
class ScriptedChannel final : public remote::sftp::Channel {
public:
    std::string toClient, fromClient;
    std::size_t ReadSome(void* data, std::size_t size) override
    {
        if (pos_ == toClient.size())
            throw inet::InternetError(remote_closed, "closed");
        const std::size_t n = std::min(size, std::min<std::size_t>(toClient.size() - pos_, 7));  // dribbles
        toClient.copy(static_cast<char*>(data), n, pos_);
        pos_ += n;
        return n;
    }
    void WriteAll(const void* data, std::size_t size) override
    {
        fromClient.append(static_cast<const char*>(data), size);
    }
    // Once, when the bytes up to `stallAt` (or a few more) are out: nothing comes in time.
    bool WaitReadable(int) override
    {
        if (stallAt != std::string::npos && pos_ >= stallAt) {
            stallAt = std::string::npos;
            return false;
        }
        return true;
    }
    std::size_t stallAt = std::string::npos;
    static constexpr std::uint32_t remote_closed = 12243;

private:
    std::size_t pos_ = 0;
};

std::string U32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string Str(const std::string& s)
{
    return U32(static_cast<std::uint32_t>(s.size())) + s;
}
std::string Packet(std::uint8_t type, const std::string& body)
{
    return U32(static_cast<std::uint32_t>(body.size() + 1)) + static_cast<char>(type) + body;
}
const std::string kVersion = Packet(2, U32(3));
std::string Status(std::uint32_t id, std::uint32_t code, const std::string& message = "")
{
    return Packet(101, U32(id) + U32(code) + Str(message) + Str(""));
}
std::string Handle(std::uint32_t id)
{
    return Packet(102, U32(id) + Str("h1"));
}
std::string Data(std::uint32_t id, const std::string& bytes)
{
    return Packet(103, U32(id) + Str(bytes));
}

class SftpClientTest : public ::testing::Test {
protected:
    std::uint32_t Run(const std::string& replies, const std::function<void(Client&)>& action)
    {
        channel_ = ScriptedChannel();
        channel_.toClient = kVersion + replies;
        Client client(channel_);
        client.Init();
        return ErrorOf([&] { action(client); });
    }
    // Reads the whole file "f" with `inFlight` requests of 32 KiB.
    static std::string ReadFile(Client& client, std::size_t inFlight)
    {
        Client::Reader reader(client, client.Open("f", remote::sftp::open_flag::kRead), 0, inFlight);
        std::string out;
        for (std::string_view v = reader.Peek(); !v.empty(); v = reader.Peek()) {
            out.append(v);
            reader.Consume(v.size());
        }
        return out;
    }
    ScriptedChannel channel_;
};

TEST_F(SftpClientTest, RefusalsCarryTheServersWords)
{
    inet::InternetError caught(0, "");
    EXPECT_EQ(Run(Status(1, 2, "No such file\r\n\x1b[31m"), [&](Client& c) {
                  try {
                      c.Remove("x");
                  } catch (const inet::InternetError& e) {
                      caught = e;
                      throw;
                  }
              }),
              ierr::kExtendedError);
    EXPECT_EQ(caught.serverReply(), "SFTP status 2: No such file???[31m");
}

TEST_F(SftpClientTest, BrokenRepliesAreRefused)
{
    auto remove = [](Client& c) { c.Remove("x"); };
    EXPECT_EQ(Run(U32(64 * 1024 * 1024) + "x", remove), ierr::kInvalidServerResponse) << "a packet too long";
    EXPECT_EQ(Run(U32(0), remove), ierr::kInvalidServerResponse) << "an empty packet";
    EXPECT_EQ(Run(Status(7, 0), remove), ierr::kInvalidServerResponse) << "an answer to another request";
    EXPECT_EQ(Run(Packet(101, U32(1)), remove), ierr::kInvalidServerResponse) << "a status cut short";
    EXPECT_EQ(Run(Handle(1), remove), ierr::kInvalidServerResponse) << "a handle where a status was due";
    EXPECT_EQ(Run(Packet(105, U32(1) + U32(1) + "abc"), [](Client& c) { c.Stat("x"); }),
              ierr::kInvalidServerResponse)
        << "attributes that claim a size and hold none";
    EXPECT_EQ(Run(Packet(104, U32(1) + U32(0x10000000)), [](Client& c) { c.RealPath("."); }),
              ierr::kInvalidServerResponse);
    EXPECT_EQ(Run(Packet(102, U32(1) + Str(std::string(1000, 'h'))), [](Client& c) { c.OpenDirectory("/"); }),
              ierr::kInvalidServerResponse)
        << "a handle longer than any server's";
    std::vector<remote::sftp::NameEntry> names;
    EXPECT_EQ(Run(Packet(104, U32(1) + U32(1000000) + Str("a")), [&](Client& c) { c.ReadDirectory("h", names); }),
              ierr::kInvalidServerResponse)
        << "a count of names the packet cannot hold";
    EXPECT_EQ(Run("", remove), 12243u) << "the channel's own error passes through";
}

TEST_F(SftpClientTest, ReadsAreCheckedAgainstWhatWasAsked)
{
    // Open is request 1, the reads 2, 3, ...
    // A 3-byte file: the short answer's gap is asked for again and is at the end too.
    EXPECT_EQ(Run(Handle(1) + Data(2, "abc") + Status(3, 1) + Status(4, 1),
                  [](Client& c) { EXPECT_EQ(ReadFile(c, 2), "abc"); }),
              0u);
    EXPECT_EQ(Run(Handle(1) + Data(2, std::string(40000, 'x')), [](Client& c) { ReadFile(c, 1); }),
              ierr::kInvalidServerResponse)
        << "more than asked";
    EXPECT_EQ(Run(Handle(1) + Data(2, ""), [](Client& c) { ReadFile(c, 1); }), ierr::kInvalidServerResponse)
        << "nothing, and no end of file either";
    EXPECT_EQ(Run(Handle(1) + Data(9, "abc"), [](Client& c) { ReadFile(c, 1); }), ierr::kInvalidServerResponse);
    EXPECT_EQ(Run(Handle(1) + Data(2, std::string(32768, 'a')), [](Client& c) { ReadFile(c, 2); }), 12243u)
        << "the channel closing mid-file is no end of file";

    // Short answers leave gaps that are asked for again, in order.
    std::string expected = std::string(32768, 'a') + std::string(100, 'b') + std::string(32668, 'c');
    std::string replies = Handle(1) + Data(2, std::string(32768, 'a')) + Data(3, std::string(100, 'b'));
    // 4 is the third block (at 65536), 5 the one sent when the first was used, 6 the gap at 32868.
    replies += Status(4, 1) + Status(5, 1) + Data(6, std::string(32668, 'c'));
    EXPECT_EQ(Run(replies, [&](Client& c) { EXPECT_TRUE(ReadFile(c, 3) == expected); }), 0u);
}

TEST_F(SftpClientTest, WritesWaitForEveryConfirmation)
{
    auto write = [](Client& c) {
        Client::Writer writer(c, c.Open("f", remote::sftp::open_flag::kWrite), 0, 2);
        writer.Write(std::string(100000, 'w').data(), 100000);
        writer.Finish();
    };
    EXPECT_EQ(Run(Handle(1) + Status(2, 0) + Status(3, 0) + Status(4, 0) + Status(5, 0), write), 0u);
    EXPECT_EQ(Run(Handle(1) + Status(2, 0) + Status(3, 4, "disk full"), write), ierr::kExtendedError);
    EXPECT_EQ(Run(Handle(1) + Status(2, 0) + Status(3, 0), write), 12243u) << "confirmations missing";
    EXPECT_EQ(Run(Handle(1) + Status(2, 0) + Status(3, 0) + Status(3, 0), write), ierr::kInvalidServerResponse);
}

TEST_F(SftpClientTest, GivingUpHalfWayThroughAReplyLeavesTheClientUsable)
{
    struct GaveUp {};
    channel_.toClient = kVersion + Status(1, 0) + Status(2, 4, "second");
    channel_.stallAt = kVersion.size() + 7;  // inside the first status
    Client client(channel_);
    client.Init();
    client.SetIdleHandler([] { throw GaveUp{}; }, 10);
    EXPECT_THROW(client.Remove("a"), GaveUp);
    // The rest of the first reply is read and dropped; the second is this call's.
    inet::InternetError caught(0, "");
    try {
        client.Remove("b");
    } catch (const inet::InternetError& e) {
        caught = e;
    }
    EXPECT_EQ(caught.serverReply(), "SFTP status 4: second");
}

TEST_F(SftpClientTest, APathHoldingNulIsNeverSent)
{
    EXPECT_EQ(Run("", [](Client& c) { c.Remove(std::string("a\0b", 3)); }), ierr::kInvalidParameter);
    EXPECT_EQ(channel_.fromClient.size(), 9u) << "only the INIT went out";
}

}  // namespace
