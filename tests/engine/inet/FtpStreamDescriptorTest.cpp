// FtpStream::ReadInto and WriteFrom: transfers straight between a data
// connection and a local file. Against pyftpdlib (passive and active) for the
// bytes, resuming and the descriptors' own failures; against the scripted
// server for the ways a transfer breaks, which must end exactly as Read() and
// Write() end.

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "support/InetHelpers.h"
#include "support/ServerProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using kxtest::RandomBytes;
using kxtest::ErrorOf;
using inet::FtpConnection;
using inet::FtpStream;
using inet::InternetError;
using inet::InternetSession;
using inet::TransferType;
using inet::WriteMode;
using Clock = std::chrono::steady_clock;


// Owns a descriptor for the length of a test.
class Fd {
public:
    Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Everything the stream has into fd, `block` at a time; the sum of the counts.
std::uint64_t ReadAllInto(FtpStream& stream, int fd, std::size_t block)
{
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t n = stream.ReadInto(fd, block);
        EXPECT_LE(n, block);
        if (n == 0)
            return total;
        total += n;
    }
}

std::uint64_t WriteAllFrom(FtpStream& stream, int fd, std::size_t block)
{
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t n = stream.WriteFrom(fd, block);
        EXPECT_LE(n, block);
        if (n == 0)
            return total;
        total += n;
    }
}


// The errno of a failure reported as the descriptor's; 0 when none came.
int LocalErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

class DescriptorPyftpdTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        server_ = kxtest::StartPyFtpd(root_.path(), "user", "secret");
        session_ = std::make_unique<InternetSession>("KestrixTest", inet::AccessType::Direct);
        session_->SetConnectTimeout(10000);
        session_->SetReceiveTimeout(20000);
        session_->SetSendTimeout(20000);
    }
    std::unique_ptr<FtpConnection> Connect()
    {
        return session_->Connect("127.0.0.1", server_->port(), "user", "secret", GetParam());
    }

    kxtest::TempDir root_, local_;
    std::unique_ptr<kxtest::ServerProcess> server_;
    std::unique_ptr<InternetSession> session_;
};

INSTANTIATE_TEST_SUITE_P(Mode, DescriptorPyftpdTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(DescriptorPyftpdTest, DownloadArrivesWholeAtEveryBlockSize)
{
    const std::string data = RandomBytes(3 * 1024 * 1024 + 17, 1);
    root_.Write("big.bin", data);
    root_.Write("empty.bin", "");
    auto conn = Connect();
    for (std::size_t block : {std::size_t(1) << 20, std::size_t(65536), std::size_t(4093)}) {
        SCOPED_TRACE(block);
        const std::string target = local_.Path("big-" + std::to_string(block));
        Fd out(target, O_WRONLY | O_CREAT | O_TRUNC);
        auto stream = conn->OpenFileForRead("big.bin", TransferType::Binary);
        EXPECT_EQ(ReadAllInto(*stream, out.get(), block), data.size());
        EXPECT_EQ(stream->bytesTransferred(), data.size());
        EXPECT_EQ(stream->ReadInto(out.get(), block), 0u);  // stays at its end
        stream->Close();
        EXPECT_EQ(local_.Read("big-" + std::to_string(block)), data);
    }
    Fd out(local_.Path("empty"), O_WRONLY | O_CREAT | O_TRUNC);
    auto stream = conn->OpenFileForRead("empty.bin", TransferType::Binary);
    EXPECT_EQ(ReadAllInto(*stream, out.get(), 65536), 0u);
    stream->Close();
    EXPECT_EQ(local_.Read("empty"), "");
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
}

TEST_P(DescriptorPyftpdTest, DownloadContinuesAtTheFilePosition)
{
    const std::string data = RandomBytes(700000, 2);
    root_.Write("f.bin", data);
    const std::size_t offset = 123457;
    local_.Write("f.bin", data.substr(0, offset));
    auto conn = Connect();
    Fd out(local_.Path("f.bin"), O_WRONLY);
    ASSERT_EQ(::lseek(out.get(), static_cast<off_t>(offset), SEEK_SET), static_cast<off_t>(offset));
    auto stream = conn->OpenFileForRead("f.bin", TransferType::Binary, offset);
    EXPECT_EQ(ReadAllInto(*stream, out.get(), 256 * 1024), data.size() - offset);
    stream->Close();
    EXPECT_EQ(local_.Read("f.bin"), data);
}

TEST_P(DescriptorPyftpdTest, AsciiDownloadIsConvertedAsByRead)
{
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += i % 2 ? "dos line\r\n" : "unix line\n";
    root_.Write("t.txt", text);
    auto conn = Connect();
    auto byRead = conn->OpenFileForRead("t.txt", TransferType::Ascii);
    std::string expected, buf(4096, '\0');
    for (std::size_t n; (n = byRead->Read(buf.data(), buf.size())) > 0;)
        expected.append(buf.data(), n);
    byRead->Close();
    ASSERT_EQ(expected.find('\r'), std::string::npos);

    Fd out(local_.Path("t.txt"), O_WRONLY | O_CREAT | O_TRUNC);
    auto stream = conn->OpenFileForRead("t.txt", TransferType::Ascii);
    EXPECT_EQ(ReadAllInto(*stream, out.get(), 1000), expected.size());
    stream->Close();
    EXPECT_EQ(local_.Read("t.txt"), expected);
}

TEST_P(DescriptorPyftpdTest, TargetsTheKernelCannotSpliceIntoStillGetEveryByte)
{
    // Appending files refuse splice(): the bytes take the buffer instead, on
    // this and on every later download of the connection.
    const std::string data = RandomBytes(2 * 1024 * 1024 + 5, 3);
    root_.Write("f.bin", data);
    local_.Write("log.bin", "head");
    auto conn = Connect();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Fd out(local_.Path("log.bin"), O_WRONLY | O_APPEND);
        auto stream = conn->OpenFileForRead("f.bin", TransferType::Binary);
        EXPECT_EQ(ReadAllInto(*stream, out.get(), 1 << 20), data.size());
        stream->Close();
    }
    EXPECT_EQ(local_.Read("log.bin"), "head" + data + data);
}

TEST_P(DescriptorPyftpdTest, FailuresOfTheTargetAreTheDescriptorsAndLeaveTheConnectionUsable)
{
    root_.Write("f.bin", RandomBytes(500000, 4));
    local_.Write("readonly.bin", "");
    auto conn = Connect();
    {
        Fd readOnly(local_.Path("readonly.bin"), O_RDONLY);
        auto stream = conn->OpenFileForRead("f.bin", TransferType::Binary);
        EXPECT_EQ(LocalErrorOf([&] { ReadAllInto(*stream, readOnly.get(), 65536); }), EBADF);
    }
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    {
        Fd full("/dev/full", O_WRONLY);
        ASSERT_GE(full.get(), 0);
        auto stream = conn->OpenFileForRead("f.bin", TransferType::Binary);
        EXPECT_EQ(LocalErrorOf([&] { ReadAllInto(*stream, full.get(), 65536); }), ENOSPC);
    }
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    // And the next download through the same connection is whole again.
    Fd out(local_.Path("again.bin"), O_WRONLY | O_CREAT | O_TRUNC);
    auto stream = conn->OpenFileForRead("f.bin", TransferType::Binary);
    EXPECT_EQ(ReadAllInto(*stream, out.get(), 65536), 500000u);
    stream->Close();
    EXPECT_EQ(local_.Read("again.bin"), root_.Read("f.bin"));
}

TEST_P(DescriptorPyftpdTest, UploadSendsTheFileFromItsPosition)
{
    const std::string data = RandomBytes(2 * 1024 * 1024 + 333, 5);
    local_.Write("up.bin", data);
    auto conn = Connect();
    {
        Fd in(local_.Path("up.bin"), O_RDONLY);
        auto stream = conn->OpenFileForWrite("up.bin", TransferType::Binary);
        EXPECT_EQ(stream->WriteFrom(in.get(), 1000), 1000u);  // a block, then the rest in other sizes
        EXPECT_EQ(WriteAllFrom(*stream, in.get(), 1 << 20), data.size() - 1000);
        EXPECT_EQ(stream->bytesTransferred(), data.size());
        stream->Close();
    }
    EXPECT_EQ(root_.Read("up.bin"), data);

    // Continued: the server's part stays, the file's position says where the rest starts.
    const std::size_t offset = 999999;
    root_.Write("part.bin", data.substr(0, offset));
    {
        Fd in(local_.Path("up.bin"), O_RDONLY);
        ASSERT_EQ(::lseek(in.get(), static_cast<off_t>(offset), SEEK_SET), static_cast<off_t>(offset));
        auto stream = conn->OpenFileForWrite("part.bin", TransferType::Binary, WriteMode::Restart, offset);
        EXPECT_EQ(WriteAllFrom(*stream, in.get(), 256 * 1024), data.size() - offset);
        stream->Close();
    }
    EXPECT_EQ(root_.Read("part.bin"), data);

    // ASCII: LF goes as CR LF, as Write() sends it, even when a block ends
    // between the two; the server stores its own (LF) line ends.
    local_.Write("t.txt", "one\ntwo\n");
    {
        Fd in(local_.Path("t.txt"), O_RDONLY);
        auto stream = conn->OpenFileForWrite("t.txt", TransferType::Ascii);
        EXPECT_EQ(WriteAllFrom(*stream, in.get(), 3), 8u);
        EXPECT_EQ(stream->bytesTransferred(), 10u);
        stream->Close();
    }
    EXPECT_EQ(root_.Read("t.txt"), "one\ntwo\n");
}

TEST_P(DescriptorPyftpdTest, AnUnreadableSourceIsTheDescriptorsFailure)
{
    local_.Write("w.bin", "data");
    auto conn = Connect();
    {
        Fd writeOnly(local_.Path("w.bin"), O_WRONLY);
        auto stream = conn->OpenFileForWrite("w.bin", TransferType::Binary);
        EXPECT_EQ(LocalErrorOf([&] { stream->WriteFrom(writeOnly.get(), 65536); }), EBADF);
    }
    {
        Fd folder(local_.path(), O_RDONLY | O_DIRECTORY);
        auto stream = conn->OpenFileForWrite("d.bin", TransferType::Binary);
        EXPECT_EQ(LocalErrorOf([&] { stream->WriteFrom(folder.get(), 65536); }), EISDIR);
    }
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
}

TEST_P(DescriptorPyftpdTest, StreamsOfTheWrongDirectionRefuse)
{
    root_.Write("f.bin", "x");
    local_.Write("l.bin", "y");
    auto conn = Connect();
    Fd fd(local_.Path("l.bin"), O_RDWR);
    {
        auto down = conn->OpenFileForRead("f.bin", TransferType::Binary);
        EXPECT_EQ(ErrorOf([&] { down->WriteFrom(fd.get(), 10); }), inet::err::kInvalidOperation);
    }
    auto up = conn->OpenFileForWrite("g.bin", TransferType::Binary);
    EXPECT_EQ(ErrorOf([&] { up->ReadInto(fd.get(), 10); }), inet::err::kInvalidOperation);
    up->Close();
    EXPECT_EQ(ErrorOf([&] { up->WriteFrom(fd.get(), 10); }), inet::err::kInvalidOperation);
}

class DescriptorScriptedTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> switches)
    {
        server_ = kxtest::StartScriptedFtpd(root_.path(), switches);
    }
    std::unique_ptr<FtpConnection> Connect()
    {
        return session_.Connect("127.0.0.1", server_->port(), "user", "pw", true);
    }

    kxtest::TempDir root_, local_;
    std::unique_ptr<kxtest::ServerProcess> server_;
    InternetSession session_{"KestrixTest", inet::AccessType::Direct};
};

TEST_F(DescriptorScriptedTest, ABrokenDownloadEndsAsThroughRead)
{
    root_.Write("file.bin", std::string(1000000, 'z'));
    Start({"--drop-after", "RETR=300000"});
    auto conn = Connect();
    Fd out(local_.Path("file.bin"), O_WRONLY | O_CREAT | O_TRUNC);
    {
        auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
        try {
            ReadAllInto(*stream, out.get(), 1 << 20);
            ADD_FAILURE() << "a dropped download ended cleanly";
        } catch (const InternetError& e) {
            EXPECT_EQ(e.number(), inet::err::kFtpDropped);
            EXPECT_NE(e.serverReply().find("426"), std::string::npos);
        }
        // The failure stays with the stream.
        EXPECT_EQ(ErrorOf([&] { stream->ReadInto(out.get(), 10); }), inet::err::kFtpDropped);
    }
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    struct stat st{};
    ASSERT_EQ(::fstat(out.get(), &st), 0);
    EXPECT_LE(st.st_size, 300000);
}

TEST_F(DescriptorScriptedTest, ADownloadShortOfItsAnnouncedSizeIsAnError)
{
    Start({"--reply", "RETR=150 Opening BINARY mode data connection for f (1000 bytes).\\r\\n226 Done.\\r\\n",
           "--close-after", "RETR"});
    auto conn = Connect();
    Fd out(local_.Path("f"), O_WRONLY | O_CREAT | O_TRUNC);
    auto stream = conn->OpenFileForRead("f", TransferType::Binary);
    EXPECT_EQ(ErrorOf([&] { ReadAllInto(*stream, out.get(), 65536); }), inet::err::kFtpDropped);
}

TEST_F(DescriptorScriptedTest, AStalledDownloadTimesOutAndACloseWakesIt)
{
    root_.Write("file.bin", std::string(500000, 'a'));
    Start({"--data-stall-after", "RETR=1000"});
    session_.SetReceiveTimeout(1500);
    Fd out(local_.Path("file.bin"), O_WRONLY | O_CREAT | O_TRUNC);
    {
        auto conn = Connect();
        auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
        const auto t0 = Clock::now();
        EXPECT_EQ(ErrorOf([&] { ReadAllInto(*stream, out.get(), 65536); }), inet::err::kTimeout);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(15));  // a hang guard, not a speed test
    }
    session_.SetReceiveTimeout(120000);
    auto conn = Connect();
    auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
    std::uint64_t got = 0;
    while (got < 1000)
        got += stream->ReadInto(out.get(), 65536);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        conn->Close();
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(ErrorOf([&] { stream->ReadInto(out.get(), 65536); }), inet::err::kOperationCancelled);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(30));  // the receive time-out is 120 s
    closer.join();
}

TEST_F(DescriptorScriptedTest, ABrokenOrRefusedUploadEndsAsThroughWrite)
{
    local_.Write("big.bin", std::string(8 * 1024 * 1024, 'u'));
    {
        root_.Write("up.bin", "");
        Start({"--drop-after", "STOR=200000"});
        auto conn = Connect();
        Fd in(local_.Path("big.bin"), O_RDONLY);
        EXPECT_EQ(ErrorOf([&] {
                      auto up = conn->OpenFileForWrite("up.bin", TransferType::Binary);
                      WriteAllFrom(*up, in.get(), 1 << 20);
                      up->Close();
                  }),
                  inet::err::kFtpDropped);
        EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    }
    server_.reset();
    Start({"--reply", "STOR=150 Go ahead.\\r\\n552 Quota exceeded.\\r\\n"});
    session_.SetSendTimeout(60000);
    auto conn = Connect();
    Fd in(local_.Path("big.bin"), O_RDONLY);
    auto up = conn->OpenFileForWrite("f", TransferType::Binary);
    const auto t0 = Clock::now();
    try {
        for (int i = 0; i < 100; ++i) {
            ASSERT_EQ(::lseek(in.get(), 0, SEEK_SET), 0);
            WriteAllFrom(*up, in.get(), 1 << 20);
        }
        up->Close();
        ADD_FAILURE() << "the upload succeeded";
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kExtendedError);
        EXPECT_EQ(e.serverReply(), "552 Quota exceeded.");
    }
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(30));
    EXPECT_EQ(conn->Command("NOOP").code, 200);
}

}  // namespace
