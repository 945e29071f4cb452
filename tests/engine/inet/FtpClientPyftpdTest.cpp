// The FTP client against a real server (pyftpdlib), in passive and active mode.

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "support/InetHelpers.h"
#include "support/ServerProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>

namespace {

using kxtest::RandomBytes;
using inet::FtpConnection;
using inet::FtpStream;
using inet::InternetError;
using inet::InternetSession;
using inet::TransferType;
using inet::WriteMode;


std::string ReadAll(FtpStream& stream, std::size_t chunk = 65536)
{
    std::string out, buf(chunk, '\0');
    for (;;) {
        std::size_t n = stream.Read(buf.data(), buf.size());
        if (n == 0)
            return out;
        out.append(buf.data(), n);
    }
}

std::string Download(FtpConnection& c, const std::string& path, TransferType type = TransferType::Binary,
                     std::uint64_t offset = 0)
{
    auto stream = c.OpenFileForRead(path, type, offset);
    std::string data = ReadAll(*stream);
    stream->Close();
    return data;
}

void Upload(FtpConnection& c, const std::string& path, std::string_view data,
            WriteMode mode = WriteMode::Replace, std::uint64_t offset = 0)
{
    auto stream = c.OpenFileForWrite(path, TransferType::Binary, mode, offset);
    // Uneven pieces, so no write lines up with a socket buffer.
    std::size_t pos = 0, piece = 1000;
    while (pos < data.size()) {
        std::size_t n = std::min(piece, data.size() - pos);
        stream->Write(data.data() + pos, n);
        pos += n;
        piece = piece * 3 % 100000 + 1;
    }
    stream->Close();
}

std::map<std::string, inet::DirEntry> List(FtpConnection& c, const std::string& path = {})
{
    std::map<std::string, inet::DirEntry> out;
    c.Enumerate(path, [&](inet::DirEntry&& e) {
        if (!e.IsDots())
            out[e.name] = std::move(e);
    });
    return out;
}

void RemoveTree(FtpConnection& c, const std::string& path)
{
    auto entries = List(c, path);  // collected first: no command may run while a listing streams
    for (const auto& [name, e] : entries) {
        std::string child = path + "/" + name;
        if (e.isFolder)
            RemoveTree(c, child);
        else
            c.RemoveFile(child);
    }
    c.RemoveDirectory(path);
}

class PyftpdTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        log_ = logDir_.Path("commands.log");
        server_ = kxtest::StartPyFtpd(root_.path(), "user", "secret", {"--log", log_});
        session_ = std::make_unique<InternetSession>("KestrixTest", inet::AccessType::Direct);
        session_->SetConnectTimeout(10000);
        session_->SetReceiveTimeout(20000);
        session_->SetSendTimeout(20000);
    }
    bool passive() const { return GetParam(); }
    std::unique_ptr<FtpConnection> Connect(const std::string& user = "user", const std::string& pw = "secret")
    {
        return session_->Connect("127.0.0.1", server_->port(), user, pw, passive());
    }

    kxtest::TempDir root_, logDir_;
    std::string log_;
    std::unique_ptr<kxtest::ServerProcess> server_;
    std::unique_ptr<InternetSession> session_;
};

INSTANTIATE_TEST_SUITE_P(Mode, PyftpdTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(PyftpdTest, LoginOutcomes)
{
    struct Case {
        const char* user;
        const char* pw;
        std::uint32_t error;  // 0: success
    } cases[] = {
        {"user", "secret", 0},
        {"user", "wrong", inet::err::kIncorrectPassword},
        {"nobody", "secret", inet::err::kIncorrectPassword},
        {"", "", inet::err::kIncorrectPassword},  // no anonymous account on this server
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.pw);
        try {
            auto conn = Connect(c.user, c.pw);
            EXPECT_EQ(c.error, 0u);
            EXPECT_EQ(conn->GetCurrentDirectory(), "/");
        } catch (const InternetError& e) {
            EXPECT_EQ(e.number(), c.error) << e.what();
            EXPECT_NE(e.serverReply().find("530"), std::string::npos) << e.serverReply();
        }
    }
    auto lines = kxtest::ReadLines(log_);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "USER user");
    EXPECT_EQ(lines[1], "PASS secret");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "USER anonymous"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "PASS anonymous@"), lines.end());
}

TEST_P(PyftpdTest, AnonymousUsesGivenPassword)
{
    server_.reset();
    server_ = kxtest::StartPyFtpd(root_.path(), "user", "secret", {"--anonymous", "--log", log_});
    auto conn = Connect("", "me@example.test");
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    auto lines = kxtest::ReadLines(log_);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "USER anonymous");
    EXPECT_EQ(lines[1], "PASS me@example.test");
}

TEST_P(PyftpdTest, CurrentFolder)
{
    root_.MakeDir("sub/dir \"quoted\"");
    auto conn = Connect();
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    conn->SetCurrentDirectory("sub");
    EXPECT_EQ(conn->GetCurrentDirectory(), "/sub");
    conn->SetCurrentDirectory("dir \"quoted\"");
    EXPECT_EQ(conn->GetCurrentDirectory(), "/sub/dir \"quoted\"");
    try {
        conn->SetCurrentDirectory("/missing");
        ADD_FAILURE();
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kExtendedError);
        EXPECT_EQ(e.serverReply().substr(0, 3), "550");
        EXPECT_EQ(conn->lastReplyText(), e.serverReply());
    }
    EXPECT_EQ(conn->GetCurrentDirectory(), "/sub/dir \"quoted\"");
    EXPECT_THROW(conn->SetCurrentDirectory("a\r\nDELE x"), InternetError);
    EXPECT_EQ(conn->GetCurrentDirectory(), "/sub/dir \"quoted\"");
}

TEST_P(PyftpdTest, MlsdListingCarriesSizesTimesAndFolders)
{
    root_.Write("small.txt", "hello");
    root_.Write("big.bin", std::string(300000, 'x'));
    root_.MakeDir("folder");
    struct utimbuf t{1600000000, 1600000000};
    ASSERT_EQ(::utime(root_.Path("small.txt").c_str(), &t), 0);
    auto conn = Connect();
    EXPECT_TRUE(conn->usesMlsd());
    auto entries = List(*conn);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries["small.txt"].size, 5u);
    EXPECT_FALSE(entries["small.txt"].isFolder);
    EXPECT_EQ(entries["small.txt"].modified, 1600000000);
    EXPECT_EQ(entries["big.bin"].size, 300000u);
    EXPECT_TRUE(entries["folder"].isFolder);
    EXPECT_EQ(conn->GetModificationTime("small.txt"), 1600000000);
    EXPECT_EQ(conn->GetFileSize("big.bin"), 300000u);
    // The mode and owner come too, once asked for: the server does not send them unasked.
    ASSERT_EQ(::chmod(root_.Path("small.txt").c_str(), 0640), 0);
    EXPECT_EQ(List(*conn)["small.txt"].permissions, "rw-r-----");
    EXPECT_EQ(List(*conn)["small.txt"].owner, std::to_string(::getuid()));
    // The listing of another folder, and the connection still works after.
    root_.Write("folder/inner", "abc");
    auto inner = List(*conn, "/folder");
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner["inner"].size, 3u);
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
}

TEST_P(PyftpdTest, SetsAFilesTimeWithMfmt)
{
    root_.Write("page.html", "<p>");
    auto conn = Connect();
    ASSERT_TRUE(conn->HasFeature("MFMT"));
    EXPECT_EQ(conn->SetModificationTime("page.html", 1500000000), FtpConnection::TimeSetting::Set);
    struct stat st{};
    ASSERT_EQ(::stat(root_.Path("page.html").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
    EXPECT_EQ(conn->GetModificationTime("page.html"), 1500000000);
    EXPECT_EQ(conn->SetModificationTime("missing.html", 1500000000), FtpConnection::TimeSetting::Refused);
    // A path that would smuggle in a second command is refused before it is sent.
    EXPECT_THROW(conn->SetModificationTime("page.html\r\nDELE page.html", 1500000000), InternetError);
    EXPECT_TRUE(std::filesystem::exists(root_.Path("page.html")));
}

TEST_P(PyftpdTest, UploadAndDownloadAreByteExact)
{
    std::string data = RandomBytes(3 * 1024 * 1024 + 17, 1);
    auto conn = Connect();
    Upload(*conn, "up.bin", data);
    EXPECT_EQ(root_.Read("up.bin"), data);
    EXPECT_EQ(Download(*conn, "up.bin"), data);
    EXPECT_EQ(conn->GetFileSize("up.bin"), data.size());
    // Small reads cross every chunk boundary differently.
    auto stream = conn->OpenFileForRead("up.bin", TransferType::Binary);
    EXPECT_EQ(ReadAll(*stream, 4093), data);
    EXPECT_EQ(stream->bytesTransferred(), data.size());
    stream->Close();
    // An empty file is a transfer too.
    Upload(*conn, "empty", "");
    EXPECT_EQ(Download(*conn, "empty"), "");

    auto lines = kxtest::ReadLines(log_);
    auto has = [&](const char* prefix) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(has("EPSV"), passive());
    EXPECT_EQ(has("PORT ") || has("EPRT "), !passive());
}

TEST_P(PyftpdTest, AsciiTransfersConvertLineEnds)
{
    auto conn = Connect();
    Upload(*conn, "bin.txt", "a\nb\r\nc\n");
    // pyftpdlib sends LF as CR LF in ASCII mode; locally it is LF again.
    EXPECT_EQ(Download(*conn, "bin.txt", TransferType::Ascii), "a\nb\nc\n");
    auto up = conn->OpenFileForWrite("text.txt", TransferType::Ascii);
    up->Write("x\ny", 3);
    up->Write("\n", 1);
    up->Close();
    EXPECT_EQ(root_.Read("text.txt"), "x\ny\n");  // the server stores local (LF) line ends
}

TEST_P(PyftpdTest, ResumesDownloadsAndUploads)
{
    std::string data = RandomBytes(2 * 1024 * 1024 + 3, 2);
    root_.Write("file.bin", data);
    auto conn = Connect();
    const std::uint64_t half = 1234567;
    EXPECT_EQ(Download(*conn, "file.bin", TransferType::Binary, half), data.substr(half));

    Upload(*conn, "partial.bin", std::string_view(data).substr(0, half));
    Upload(*conn, "partial.bin", std::string_view(data).substr(half), WriteMode::Restart, half);
    EXPECT_EQ(root_.Read("partial.bin"), data);

    Upload(*conn, "appended.bin", std::string_view(data).substr(0, 1000));
    Upload(*conn, "appended.bin", std::string_view(data).substr(1000), WriteMode::Append);
    EXPECT_EQ(root_.Read("appended.bin"), data);

    auto lines = kxtest::ReadLines(log_);
    std::vector<std::string> transfer;
    for (const auto& l : lines)
        if (l.rfind("REST", 0) == 0 || l.rfind("RETR", 0) == 0 || l.rfind("STOR", 0) == 0 || l.rfind("APPE", 0) == 0)
            transfer.push_back(l);
    std::vector<std::string> expected = {"REST 1234567",        "RETR file.bin",    "STOR partial.bin",
                                         "REST 1234567",        "STOR partial.bin", "STOR appended.bin",
                                         "APPE appended.bin"};
    EXPECT_EQ(transfer, expected);
}

TEST_P(PyftpdTest, RenameMkdirRmdirAndTreeRemoval)
{
    auto conn = Connect();
    conn->CreateDirectory("tree");
    conn->CreateDirectory("tree/a");
    conn->CreateDirectory("tree/a/b");
    Upload(*conn, "tree/a/b/f1", "1");
    Upload(*conn, "tree/a/f2", "2");
    Upload(*conn, "tree/f3", "3");
    conn->Rename("tree/f3", "tree/f3 renamed");
    EXPECT_EQ(root_.Read("tree/f3 renamed"), "3");
    EXPECT_THROW(conn->Rename("tree/nothing", "x"), InternetError);
    EXPECT_THROW(conn->RemoveDirectory("tree"), InternetError);  // not empty
    RemoveTree(*conn, "/tree");
    struct stat st;
    EXPECT_NE(::stat(root_.Path("tree").c_str(), &st), 0);
    EXPECT_THROW(conn->RemoveFile("tree/f3"), InternetError);
}

TEST_P(PyftpdTest, NonAsciiNames)
{
    const std::string name = "Ünïcödé 名前 ñ.txt";
    const std::string folder = "Папка";
    auto conn = Connect();
    conn->CreateDirectory(folder);
    Upload(*conn, folder + "/" + name, "content");
    EXPECT_EQ(root_.Read(folder + "/" + name), "content");
    auto entries = List(*conn, folder);
    ASSERT_EQ(entries.count(name), 1u);
    EXPECT_EQ(entries[name].size, 7u);
    conn->SetCurrentDirectory(folder);
    EXPECT_EQ(conn->GetCurrentDirectory(), "/" + folder);
    EXPECT_EQ(Download(*conn, name), "content");
}

TEST_P(PyftpdTest, SparseFileBeyondFourGiB)
{
    const std::uint64_t size = 5ULL * 1024 * 1024 * 1024 + 7;
    const std::uint64_t markAt = 4ULL * 1024 * 1024 * 1024 + 100;
    const std::string mark = "past four GiB";
    {
        int fd = ::open(root_.Path("huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        ASSERT_EQ(::pwrite(fd, mark.data(), mark.size(), static_cast<off_t>(markAt)),
                  static_cast<ssize_t>(mark.size()));
        ::close(fd);
    }
    auto conn = Connect();
    auto entries = List(*conn);
    EXPECT_EQ(entries["huge.bin"].size, size);
    EXPECT_EQ(conn->GetFileSize("huge.bin"), size);
    auto stream = conn->OpenFileForRead("huge.bin", TransferType::Binary, markAt);
    std::string got;
    char buf[64];
    while (got.size() < mark.size()) {
        std::size_t n = stream->Read(buf, std::min(sizeof buf, mark.size() - got.size()));
        ASSERT_GT(n, 0u);
        got.append(buf, n);
    }
    EXPECT_EQ(got, mark);
    stream->Close();  // far from the end: ABOR
    EXPECT_EQ(conn->Command("NOOP").code, 200);
}

TEST_P(PyftpdTest, EarlyCloseAbortsAndKeepsTheConnection)
{
    root_.Write("big.bin", RandomBytes(8 * 1024 * 1024, 3));
    auto conn = Connect();
    for (int round = 0; round < 2; ++round) {
        auto stream = conn->OpenFileForRead("big.bin", TransferType::Binary);
        char buf[65536];
        ASSERT_GT(stream->Read(buf, sizeof buf), 0u);
        EXPECT_THROW(conn->GetCurrentDirectory(), InternetError);  // busy while the stream is open
        stream->Close();
        EXPECT_EQ(conn->Command("NOOP").code, 200);
        EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    }
    // A stream dropped without Close() aborts too.
    conn->OpenFileForRead("big.bin", TransferType::Binary).reset();
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    EXPECT_EQ(Download(*conn, "big.bin").size(), 8u * 1024 * 1024);
    conn.reset();
    auto lines = kxtest::WaitForLines(log_, 1000, std::chrono::milliseconds(500));
    auto abor = std::find(lines.begin(), lines.end(), "ABOR");
    ASSERT_NE(abor, lines.end());
    ASSERT_NE(abor + 1, lines.end());
    EXPECT_EQ(*(abor + 1), "NOOP");
}

TEST_P(PyftpdTest, CloseFromAnotherThreadCancelsATransfer)
{
    {
        int fd = ::open(root_.Path("endless.bin").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 1LL << 40), 0);  // far more than the test will ever read
        ::close(fd);
    }
    for (bool wholeSession : {false, true}) {
        SCOPED_TRACE(wholeSession ? "session Close" : "connection Close");
        auto conn = Connect();
        auto stream = conn->OpenFileForRead("endless.bin", TransferType::Binary);
        std::atomic<bool> started{false};
        std::thread closer([&] {
            while (!started.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (wholeSession)
                session_->Close();
            else
                conn->Close();
        });
        std::uint32_t error = 0;
        try {
            char buf[65536];
            for (;;) {
                if (stream->Read(buf, sizeof buf) == 0)
                    break;
                started.store(true);
            }
        } catch (const InternetError& e) {
            error = e.number();
        }
        closer.join();
        EXPECT_EQ(error, inet::err::kOperationCancelled);
        try {
            conn->Command("NOOP");
            ADD_FAILURE();
        } catch (const InternetError& e) {
            EXPECT_EQ(e.number(), inet::err::kOperationCancelled);
        }
    }
    EXPECT_THROW(Connect(), InternetError);  // the session is closed
}

TEST(PyftpdStatus, CallbackSeesTheConnectSequence)
{
    kxtest::TempDir root;
    auto server = kxtest::StartPyFtpd(root.path(), "user", "secret");
    InternetSession session("KestrixTest", inet::AccessType::Direct);
    std::vector<std::uint32_t> seen;
    std::vector<std::string> infos;
    EXPECT_FALSE(session.EnableStatusCallback(true));  // nothing to call yet
    EXPECT_FALSE(session.IsStatusCallbackEnabled());
    session.SetStatusCallback([&](std::uint32_t status, std::string_view info) {
        seen.push_back(status);
        infos.emplace_back(info);
    });
    EXPECT_TRUE(session.EnableStatusCallback(true));
    EXPECT_TRUE(session.IsStatusCallbackEnabled());
    auto conn = session.Connect("localhost", server->port(), "user", "secret", true);
    std::vector<std::uint32_t> head(seen.begin(), seen.begin() + std::min<std::size_t>(seen.size(), 11));
    std::vector<std::uint32_t> expected = {60, 10, 11, 20, 21, 40, 41, 30, 31, 40, 41};
    EXPECT_EQ(head, expected);
    EXPECT_EQ(infos[1], "localhost");
    for (const auto& info : infos)
        EXPECT_EQ(info.find("secret"), std::string::npos) << "password shown to the callback";
    conn.reset();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.back(), 51u);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 70u), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), 50u), seen.end());

    std::size_t before = seen.size();
    EXPECT_TRUE(session.EnableStatusCallback(false));
    conn = session.Connect("127.0.0.1", server->port(), "user", "secret", true);
    EXPECT_EQ(seen.size(), before);
}

TEST(PyftpdIpv6, ConnectsToBracketedAndBareAddresses)
{
    kxtest::TempDir root;
    root.Write("f", "v6");
    std::unique_ptr<kxtest::ServerProcess> server;
    try {
        server = kxtest::StartPyFtpd(root.path(), "user", "secret", {"--ipv6"});
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
    }
    InternetSession session("KestrixTest", inet::AccessType::Direct);
    for (const char* host : {"::1", "[::1]"}) {
        for (bool passive : {true, false}) {
            auto conn = session.Connect(host, server->port(), "user", "secret", passive);
            EXPECT_EQ(Download(*conn, "f"), "v6") << host << (passive ? " passive" : " active");
        }
    }
}

}  // namespace
