// The FTP client against a server that misbehaves on purpose (scripted_ftpd.py).

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "support/InetHelpers.h"
#include "support/ServerProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <sys/stat.h>
#include <thread>

namespace {

using kxtest::ErrorOf;
using inet::FtpConnection;
using inet::InternetError;
using inet::InternetSession;
using inet::TransferType;
using Clock = std::chrono::steady_clock;

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


TEST(Connect, RefusesBadAddressesAndUnreachablePorts)
{
    // A port that was free a moment ago: nothing listens there.
    int closedPort = 0;
    {
        kxtest::TempDir root;
        auto server = kxtest::StartScriptedFtpd(root.path(), {});
        closedPort = server->port();
    }
    struct Case {
        std::string host;
        int port;
        std::uint32_t error;
    } cases[] = {
        {"", 21, inet::err::kInvalidUrl},
        {"two words", 21, inet::err::kInvalidUrl},
        {"host/path", 21, inet::err::kInvalidUrl},
        {"[::1", 21, inet::err::kInvalidUrl},
        {"127.0.0.1", 70000, inet::err::kInvalidUrl},
        {"127.0.0.1", -1, inet::err::kInvalidUrl},
        {"127.0.0.1", closedPort, inet::err::kCannotConnect},
        {"0.0.0.0", closedPort, inet::err::kCannotConnect},
    };
    InternetSession session("KestrixTest", inet::AccessType::Direct);
    session.SetConnectTimeout(5000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
        EXPECT_EQ(ErrorOf([&] { session.Connect(c.host, c.port, "u", "p"); }), c.error);
    }
    EXPECT_EQ(ErrorOf([&] { session.Connect("127.0.0.1", closedPort, "u\r\nDELE x", "p"); }),
              inet::err::kInvalidParameter);
    EXPECT_EQ(ErrorOf([&] { session.SetOption(99, 1); }), inet::err::kInvalidOption);
    session.SetOption(inet::option::kDataReceiveTimeout, 1234);
    EXPECT_EQ(session.GetOption(inet::option::kReceiveTimeout), 1234u);
}

class ScriptedTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> switches)
    {
        log_ = logDir_.Path("commands.log");
        switches.push_back("--log");
        switches.push_back(log_);
        server_ = kxtest::StartScriptedFtpd(root_.path(), switches);
    }
    std::unique_ptr<FtpConnection> Connect(bool passive = true)
    {
        return session_.Connect("127.0.0.1", server_->port(), "user", "pw", passive);
    }
    std::vector<std::string> Log() { return kxtest::ReadLines(log_); }

    kxtest::TempDir root_, logDir_;
    std::string log_;
    std::unique_ptr<kxtest::ServerProcess> server_;
    InternetSession session_{"KestrixTest", inet::AccessType::Direct};
};

TEST_F(ScriptedTest, LoginSequenceIsExact)
{
    Start({});
    auto conn = Connect();
    EXPECT_TRUE(conn->HasFeature("mlst"));
    EXPECT_TRUE(conn->usesMlsd());
    conn.reset();
    std::vector<std::string> expected = {"USER user", "PASS pw", "FEAT", "OPTS UTF8 ON", "QUIT"};
    EXPECT_EQ(kxtest::WaitForLines(log_, expected.size()), expected);
}

TEST_F(ScriptedTest, FileTimesGoWithSiteUtimeWhereOfferedAndNotAtAllWhereNot)
{
    root_.Write("a.txt", "a");
    Start({"--feat", "SIZE", "--feat", "SITE CHMOD", "--feat", "SITE UTIME"});
    auto conn = Connect();
    EXPECT_EQ(conn->SetModificationTime("/a.txt", 1500000000), FtpConnection::TimeSetting::Set);
    struct stat st{};
    ASSERT_EQ(::stat(root_.Path("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
    EXPECT_EQ(Log().back(), "SITE UTIME 20170714024000 /a.txt");
    conn.reset();
    server_.reset();

    // Neither MFMT nor SITE UTIME: nothing goes out.
    Start({"--feat", "SIZE", "--feat", "SITE CHMOD"});
    conn = Connect();
    EXPECT_EQ(conn->SetModificationTime("/a.txt", 1400000000), FtpConnection::TimeSetting::NotOffered);
    EXPECT_EQ(conn->Command("NOOP").code, 200);
    EXPECT_EQ(Log().back(), "NOOP");
    ASSERT_EQ(::stat(root_.Path("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1500000000);
}

TEST_F(ScriptedTest, NoUtf8FeatureMeansNoOpts)
{
    Start({"--feat", "SIZE"});
    auto conn = Connect();
    EXPECT_FALSE(conn->usesMlsd());
    EXPECT_EQ(conn->Command("NOOP").code, 200);
    std::vector<std::string> expected = {"USER user", "PASS pw", "FEAT", "NOOP"};
    EXPECT_EQ(Log(), expected);
}

TEST_F(ScriptedTest, DataConnectionDroppedHalfWayIsAnError)
{
    root_.Write("file.bin", std::string(1000000, 'z'));
    root_.Write("up.bin", "");
    Start({"--drop-after", "RETR=300000", "--drop-after", "STOR=200000"});
    auto conn = Connect();
    auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
    EXPECT_EQ(stream->announcedSize(), 1000000u);
    try {
        ReadAll(*stream);
        ADD_FAILURE() << "a dropped download ended cleanly";
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kFtpDropped);
        EXPECT_NE(e.serverReply().find("426"), std::string::npos);
    }
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");  // the control connection survives

    std::uint32_t error = ErrorOf([&] {
        auto up = conn->OpenFileForWrite("up.bin", TransferType::Binary);
        std::string block(65536, 'u');
        for (int i = 0; i < 100; ++i)
            up->Write(block.data(), block.size());
        up->Close();
    });
    EXPECT_EQ(error, inet::err::kFtpDropped);
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
}

TEST_F(ScriptedTest, UploadRefusedMidwayReportsTheServerReply)
{
    // The server answers at once and never reads the data: the reply must end the
    // upload, not the send time-out.
    Start({"--reply", "STOR=150 Go ahead.\\r\\n552 Quota exceeded.\\r\\n"});
    session_.SetSendTimeout(60000);
    auto conn = Connect();
    auto up = conn->OpenFileForWrite("f", TransferType::Binary);
    std::string block(1 << 20, 'q');
    auto t0 = Clock::now();
    try {
        for (int i = 0; i < 1000; ++i)
            up->Write(block.data(), block.size());
        up->Close();
        ADD_FAILURE() << "the upload succeeded";
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kExtendedError);
        EXPECT_EQ(e.serverReply(), "552 Quota exceeded.");
    }
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(30));
    EXPECT_EQ(conn->Command("NOOP").code, 200);
}

TEST_F(ScriptedTest, ShortTransferConfirmedAsCompleteIsStillAnError)
{
    // The server claims a complete transfer but hangs up without sending a byte.
    Start({"--reply", "RETR=150 Opening BINARY mode data connection for f (1000 bytes).\\r\\n226 Done.\\r\\n",
           "--close-after", "RETR"});
    auto conn = Connect();
    auto stream = conn->OpenFileForRead("f", TransferType::Binary);
    EXPECT_EQ(ErrorOf([&] { ReadAll(*stream); }), inet::err::kFtpDropped);
}

TEST_F(ScriptedTest, StallsEndWithTimeoutNearTheLimit)
{
    root_.Write("file.bin", std::string(500000, 'a'));
    Start({"--stall", "PWD", "--data-stall-after", "RETR=1000"});
    session_.SetReceiveTimeout(1500);
    {
        auto conn = Connect();
        auto t0 = Clock::now();
        EXPECT_EQ(ErrorOf([&] { conn->GetCurrentDirectory(); }), inet::err::kTimeout);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(15));  // a hang guard, not a speed test
        // The reply may still come later: the connection refuses to guess.
        EXPECT_NE(ErrorOf([&] { conn->Command("NOOP"); }), 0u);
    }
    {
        auto conn = Connect();
        auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
        auto t0 = Clock::now();
        EXPECT_EQ(ErrorOf([&] { ReadAll(*stream); }), inet::err::kTimeout);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(15));
    }
}

TEST_F(ScriptedTest, GreetingStallAndRefusal)
{
    struct Case {
        std::vector<std::string> switches;
        std::uint32_t error;
    } cases[] = {
        {{"--stall", "GREETING"}, inet::err::kTimeout},
        {{"--reply", "GREETING=421 Too many users.\\r\\n"}, inet::err::kExtendedError},
        {{"--close-after", "GREETING"}, inet::err::kConnectionAborted},
        {{"--reply", "GREETING=SSH-2.0-OpenSSH_9.2\\r\\n"}, inet::err::kInvalidServerResponse},
        {{"--reply", "USER=530 Not you.\\r\\n"}, inet::err::kIncorrectUserName},
        {{"--reply", "PASS=530 Wrong.\\r\\n"}, inet::err::kIncorrectPassword},
        {{"--reply", "PASS=332 Need account.\\r\\n"}, inet::err::kLoginFailure},
    };
    session_.SetReceiveTimeout(1500);
    for (auto& c : cases) {
        SCOPED_TRACE(c.switches.back());
        server_.reset();
        Start(c.switches);
        EXPECT_EQ(ErrorOf([&] { Connect(); }), c.error);
    }
}

TEST_F(ScriptedTest, RestRefusedReportsTheServerText)
{
    root_.Write("file.bin", "0123456789abcdef");
    Start({"--no-rest"});
    auto conn = Connect();
    try {
        conn->OpenFileForRead("file.bin", TransferType::Binary, 10);
        ADD_FAILURE();
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kExtendedError);
        EXPECT_EQ(e.serverReply().substr(0, 3), "502");
    }
    auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
    EXPECT_EQ(ReadAll(*stream), "0123456789abcdef");
    std::vector<std::string> expected = {"USER user", "PASS pw",   "FEAT",          "OPTS UTF8 ON",
                                         "TYPE I",    "EPSV",      "REST 10",       "EPSV",
                                         "RETR file.bin"};
    EXPECT_EQ(Log(), expected);
}

TEST_F(ScriptedTest, ResumeSequenceIsExact)
{
    root_.Write("file.bin", "0123456789abcdef");
    Start({});
    auto conn = Connect();
    auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary, 10);
    EXPECT_EQ(ReadAll(*stream), "abcdef");
    auto lines = Log();
    std::vector<std::string> tail(lines.end() - 4, lines.end());
    std::vector<std::string> expected = {"TYPE I", "EPSV", "REST 10", "RETR file.bin"};
    EXPECT_EQ(tail, expected);
}

TEST_F(ScriptedTest, MalformedReplies)
{
    struct Case {
        const char* name;
        std::vector<std::string> switches;
        std::uint32_t error;         // 0: PWD must work
        const char* pwd = "/";
    } cases[] = {
        {"garbage", {"--reply", "PWD=hello there\\r\\n"}, inet::err::kInvalidServerResponse},
        {"no_code_digits", {"--reply", "PWD=2x7 \"/\"\\r\\n"}, inet::err::kInvalidServerResponse},
        {"lf_only", {"--reply", "PWD=257 \"/lf\"\\n"}, 0, "/lf"},
        {"split_segments", {"--reply", "PWD=2\\w57 \"/sp\\wlit\"\\r\\w\\n", "--split-pause", "0.1"}, 0, "/split"},
        {"multiline", {"--multiline", "PWD"}, 0},
        {"multiline_everywhere", {"--multiline", "*"}, 0},
        {"unquoted_pwd", {"--reply", "PWD=257 /plain is current\\r\\n"}, 0, "/plain"},
        {"unterminated_quote", {"--reply", "PWD=257 \"/open\\r\\n"}, inet::err::kInvalidServerResponse},
        {"wrong_code", {"--reply", "PWD=550 No.\\r\\n"}, inet::err::kExtendedError},
        {"closed", {"--close-after", "PWD"}, inet::err::kConnectionAborted},
        {"multiline_greeting", {"--greeting", "Hello", "--greeting", "221 not the end", "--greeting", "Bye"}, 0},
        // "220 x" inside a 220 reply ends it: the rest is a stray reply that must not answer USER.
        {"stray_after_greeting", {"--greeting", "Hello", "--greeting", "220 too early", "--greeting", "Bye"}, 0},
        {"duplicate_reply", {"--reply", "CWD=250 Ok.\\r\\n250 Ok again.\\r\\n"}, 0},
    };
    session_.SetReceiveTimeout(3000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.reset();
        Start(c.switches);
        auto conn = Connect();
        conn->SetCurrentDirectory("/");
        std::string pwd;
        EXPECT_EQ(ErrorOf([&] { pwd = conn->GetCurrentDirectory(); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(pwd, c.pwd);
        }
        if (std::string(c.name) == "multiline_greeting") {
            EXPECT_EQ(conn->greeting(), "220-Hello\r\n221 not the end\r\n220 Bye");
        }
    }
}

TEST_F(ScriptedTest, OverlongReplyLineStaysBounded)
{
    std::string reply = "257 \"/" + std::string(100000, 'L') + "\" is current\r\n";
    std::string file = root_.Write("reply.txt", reply);
    std::string multi = "211-start\r\n";
    for (int i = 0; i < 20000; ++i)
        multi += "211-line " + std::to_string(i) + "\r\n";
    multi += "211 end\r\n";
    std::string multiFile = root_.Write("multi.txt", multi);
    Start({"--reply-file", "PWD=" + file, "--reply-file", "STAT=" + multiFile});
    auto conn = Connect();
    // The quote that closes the path lies past the kept part of the line.
    EXPECT_EQ(ErrorOf([&] { conn->GetCurrentDirectory(); }), inet::err::kInvalidServerResponse);
    inet::FtpReply r = conn->Command("STAT");
    EXPECT_EQ(r.code, 211);
    EXPECT_TRUE(r.truncated);
    EXPECT_LE(r.lines.size(), inet::ReplyReader::kMaxKeptLines);
    EXPECT_EQ(conn->Command("NOOP").code, 200);
}

TEST_F(ScriptedTest, EpsvRefusedFallsBackToPasvOnce)
{
    root_.Write("a.txt", "AAA");
    Start({"--no-epsv"});
    auto conn = Connect();
    EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "AAA");
    EXPECT_TRUE(conn->epsvFallback());
    EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "AAA");
    auto lines = Log();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "EPSV"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PASV"), 2);
}

TEST_F(ScriptedTest, PasvAddressIsIgnoredForThePeer)
{
    root_.Write("a.txt", "data");
    for (const char* address : {"0.0.0.0", "127.0.0.2"}) {
        SCOPED_TRACE(address);
        server_.reset();
        Start({"--no-epsv", "--pasv-address", address});
        auto conn = Connect();
        EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "data");
    }
}

TEST_F(ScriptedTest, DosListingThroughList)
{
    root_.Write("dos/file one.txt", std::string(1234, 'x'));
    root_.MakeDir("dos/sub folder");
    Start({"--feat", "SIZE", "--list-format", "dos"});
    auto conn = Connect();
    std::map<std::string, inet::DirEntry> entries;
    std::vector<std::string> problems;
    conn->Enumerate(
        "/dos", [&](inet::DirEntry&& e) { entries[e.name] = e; },
        [&](inet::LineKind, std::string_view line) { problems.emplace_back(line); });
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries["file one.txt"].size, 1234u);
    EXPECT_FALSE(entries["file one.txt"].isFolder);
    EXPECT_TRUE(entries["sub folder"].isFolder);
    EXPECT_EQ(Log().back(), "LIST /dos");
}

TEST_F(ScriptedTest, HostileListingNamesAreRefusedAndReported)
{
    std::string list =
        "-rw-r--r-- 1 u g 10 Jan 01 2020 good.txt\r\n"
        "-rw-r--r-- 1 u g 10 Jan 01 2020 ../../etc/passwd\r\n"
        "-rw-r--r-- 1 u g 10 Jan 01 2020 dir\\evil\r\n"
        "-rw-r--r-- 1 u g 10 Jan 01 2020 bell\x07name\r\n"
        "this is not a listing line\r\n"
        "drwxr-xr-x 2 u g 0 Jan 01 2020 fine folder\r\n";
    std::string mlsd =
        "type=file;size=3; ok.bin\r\n"
        "type=file;size=3; a/b\r\n"
        "type=dir; sub\r\n"
        "garbage\r\n";
    std::string listFile = logDir_.Write("list.txt", list);
    std::string mlsdFile = logDir_.Write("mlsd.txt", mlsd);
    for (bool useMlsd : {false, true}) {
        SCOPED_TRACE(useMlsd ? "MLSD" : "LIST");
        server_.reset();
        if (useMlsd)
            Start({"--mlsd-file", mlsdFile});
        else
            Start({"--feat", "SIZE", "--list-file", listFile});
        auto conn = Connect();
        std::vector<std::string> names;
        std::vector<std::pair<inet::LineKind, std::string>> problems;
        conn->Enumerate(
            "", [&](inet::DirEntry&& e) { names.push_back(e.name); },
            [&](inet::LineKind k, std::string_view line) { problems.emplace_back(k, std::string(line)); });
        if (useMlsd) {
            EXPECT_EQ(names, (std::vector<std::string>{"ok.bin", "sub"}));
            ASSERT_EQ(problems.size(), 2u);
            EXPECT_EQ(problems[0].first, inet::LineKind::UnsafeName);
            EXPECT_EQ(problems[1].first, inet::LineKind::Unrecognised);
        } else {
            EXPECT_EQ(names, (std::vector<std::string>{"good.txt", "fine folder"}));
            ASSERT_EQ(problems.size(), 4u);
            EXPECT_EQ(problems[0].first, inet::LineKind::UnsafeName);
            EXPECT_EQ(problems[1].first, inet::LineKind::UnsafeName);
            EXPECT_EQ(problems[2].first, inet::LineKind::UnsafeName);
            EXPECT_EQ(problems[3].first, inet::LineKind::Unrecognised);
        }
        EXPECT_EQ(conn->GetCurrentDirectory(), "/");
    }
}

TEST_F(ScriptedTest, CallbackExceptionAbortsTheListing)
{
    std::string big;
    for (int i = 0; i < 50000; ++i)
        big += "type=file;size=" + std::to_string(i) + "; file" + std::to_string(i) + "\r\n";
    std::string file = logDir_.Write("big.txt", big);
    Start({"--mlsd-file", file, "--rate", "MLSD=200000"});
    auto conn = Connect();
    int count = 0;
    EXPECT_THROW(conn->Enumerate("", [&](inet::DirEntry&&) {
        if (++count == 10)
            throw std::runtime_error("enough");
    }),
                 std::runtime_error);
    EXPECT_EQ(conn->GetCurrentDirectory(), "/");
}

TEST_F(ScriptedTest, AborSequenceAndConnectionReuse)
{
    root_.Write("slow.bin", std::string(2000000, 's'));
    Start({"--rate", "RETR=100000"});
    for (bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto conn = Connect(passive);
        auto stream = conn->OpenFileForRead("slow.bin", TransferType::Binary);
        char buf[1000];
        ASSERT_GT(stream->Read(buf, sizeof buf), 0u);
        stream->Close();
        EXPECT_EQ(conn->GetCurrentDirectory(), "/");
        auto lines = Log();
        std::vector<std::string> tail(lines.end() - 4, lines.end());
        std::vector<std::string> expected = {"RETR slow.bin", "ABOR", "NOOP", "PWD"};
        EXPECT_EQ(tail, expected);
    }
}

TEST_F(ScriptedTest, AsciiDownloadConvertsAtEveryReadSize)
{
    std::string file;
    for (int i = 0; i < 3000; ++i)
        file += (i % 3 == 0) ? "unix line\n" : (i % 3 == 1) ? "dos line\r\n" : "lone cr\r";
    root_.Write("text.txt", file);
    // What the server sends (LF as CR LF, existing CR LF kept) with CR LF read back as LF.
    std::string expected;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            continue;
        expected += file[i];
    }
    Start({"--rate", "RETR=2000000"});  // small segments, so CR and LF land in different reads
    auto conn = Connect();
    for (std::size_t chunk : {1, 2, 3, 4096}) {
        SCOPED_TRACE(chunk);
        auto stream = conn->OpenFileForRead("text.txt", TransferType::Ascii);
        std::string got;
        std::vector<char> buf(chunk);
        for (;;) {
            std::size_t n = stream->Read(buf.data(), buf.size());
            if (n == 0)
                break;
            got.append(buf.data(), n);
        }
        EXPECT_EQ(got, expected);
    }
}

TEST_F(ScriptedTest, ActiveModeUsesPortWithoutEprtFeature)
{
    root_.Write("a.txt", "active");
    Start({});
    auto conn = Connect(false);
    EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "active");
    auto lines = Log();
    EXPECT_EQ(lines[lines.size() - 2].rfind("PORT 127,0,0,1,", 0), 0u) << lines[lines.size() - 2];
    server_.reset();
    Start({"--feat", "EPRT", "--feat", "SIZE"});
    conn = Connect(false);
    EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "active");
    lines = Log();
    EXPECT_EQ(lines[lines.size() - 2].rfind("EPRT |1|127.0.0.1|", 0), 0u) << lines[lines.size() - 2];
}

TEST_F(ScriptedTest, CloseFromAnotherThreadWakesABlockedRead)
{
    root_.Write("file.bin", std::string(100000, 'b'));
    Start({"--data-stall-after", "RETR=1000", "--stall", "PWD"});
    session_.SetReceiveTimeout(120000);
    auto conn = Connect();
    auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
    char buf[4096];
    std::size_t got = 0;
    while (got < 1000)
        got += stream->Read(buf, sizeof buf);
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        conn->Close();
    });
    auto t0 = Clock::now();
    EXPECT_EQ(ErrorOf([&] { stream->Read(buf, sizeof buf); }), inet::err::kOperationCancelled);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(30));  // the receive time-out is 120 s
    closer.join();
    stream.reset();

    // A blocked command and a blocked connect are woken the same way.
    auto conn2 = Connect();
    std::thread closer2([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        conn2->Close();
    });
    EXPECT_EQ(ErrorOf([&] { conn2->GetCurrentDirectory(); }), inet::err::kOperationCancelled);
    closer2.join();

    server_.reset();
    Start({"--stall", "GREETING"});
    std::thread closer3([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        session_.Close();
    });
    EXPECT_EQ(ErrorOf([&] { Connect(); }), inet::err::kOperationCancelled);
    closer3.join();
}

}  // namespace

namespace {

struct Abandoned {};

TEST_F(ScriptedTest, IdleHandlerRunsWhileDataStallsAndCanAbandonTheTransfer)
{
    std::string listing;
    for (int i = 0; i < 2000; ++i)
        listing += "-rw-r--r--   1 ftp ftp  12 Jan 15  2024 file" + std::to_string(i) + ".txt\r\n";
    const std::string listingFile = logDir_.Write("listing.txt", listing);
    root_.Write("file.bin", std::string(100000, 'c'));
    Start({"--feat", "SIZE", "--list-file", listingFile, "--data-stall-after", "LIST=3000",
           "--data-stall-after", "RETR=1000"});
    session_.SetReceiveTimeout(120000);
    auto conn = Connect();

    int calls = 0;
    conn->SetIdleHandler([&] {
        if (++calls == 3)
            throw Abandoned{};
    }, 20);
    int entries = 0;
    EXPECT_THROW(conn->Enumerate("", [&](inet::DirEntry&&) { ++entries; }), Abandoned);
    EXPECT_GT(entries, 0);
    EXPECT_LT(entries, 2000);
    EXPECT_EQ(calls, 3);
    // The transfer was aborted; the control connection goes on.
    EXPECT_EQ(conn->Command("NOOP").code, 200);

    calls = 0;
    {
        auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
        EXPECT_THROW(ReadAll(*stream), Abandoned);
    }
    EXPECT_FALSE(conn->GetCurrentDirectory().empty());

    // Switched off, a stall is only bounded by the receive time-out again.
    conn->SetIdleHandler({}, 0);
    session_.SetReceiveTimeout(500);
    auto stream = conn->OpenFileForRead("file.bin", TransferType::Binary);
    EXPECT_EQ(ErrorOf([&] { ReadAll(*stream); }), inet::err::kTimeout);
    EXPECT_EQ(calls, 3);
}

} // namespace

namespace {

// Records what the session tells of the conversation.
struct Talked {
    std::vector<std::string> sent, received, notes;
    void Attach(InternetSession& session)
    {
        session.SetConversationCallback([this](inet::Talk kind, std::string_view line) {
            (kind == inet::Talk::Sent ? sent : kind == inet::Talk::Received ? received : notes)
                .emplace_back(line);
        });
    }
};

std::size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

} // namespace

TEST_F(ScriptedTest, ARefusedDataModeIsTriedOnceInTheOtherAndKept)
{
    root_.Write("a.txt", "AAA");
    struct Case {
        const char* name;
        bool passive;
        std::vector<std::string> switches;
        const char* refused;   // the setup command that failed
        const char* fallback;  // what the working mode sends
    } cases[] = {
        {"passive refused", true, {"--no-epsv", "--reply", "PASV=500 No passive here.\\r\\n"}, "PASV", "PORT "},
        {"active refused", false, {"--reply", "PORT=500 No.\\r\\n"}, "PORT ", "EPSV"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.reset();
        Start(c.switches);
        const std::size_t earlier = Log().size();  // the log file goes on across servers
        Talked talk;
        talk.Attach(session_);
        auto conn = Connect(c.passive);
        EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "AAA");
        EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary)), "AAA");
        const auto all = Log();
        const std::vector<std::string> lines(all.begin() + earlier, all.end());
        EXPECT_EQ(CountPrefix(lines, c.refused), 1u);
        EXPECT_EQ(CountPrefix(lines, c.fallback), 2u);
        EXPECT_EQ(CountPrefix(lines, "RETR"), 2u);
        ASSERT_EQ(talk.notes.size(), 1u);
        EXPECT_EQ(talk.notes[0].rfind(c.passive ? "Passive mode failed: " : "Active mode failed: ", 0), 0u)
            << talk.notes[0];
        EXPECT_NE(talk.notes[0].find(c.passive ? "Trying active mode." : "Trying passive mode."),
                  std::string::npos);
        EXPECT_EQ(talk.notes[0].find('\r'), std::string::npos);
        session_.SetConversationCallback(nullptr);
    }
}

TEST_F(ScriptedTest, A425ReplyResendsTheCommandInTheOtherModeWithItsOffset)
{
    root_.Write("a.txt", "0123456789");
    Start({"--reply", "RETR#1=425 Can't open data connection.\\r\\n"});
    auto conn = Connect(true);
    EXPECT_EQ(ReadAll(*conn->OpenFileForRead("a.txt", TransferType::Binary, 4)), "456789");
    const auto lines = Log();
    std::vector<std::string> tail(lines.end() - 6, lines.end());
    EXPECT_EQ(tail[0], "EPSV");
    EXPECT_EQ(tail[1], "REST 4");
    EXPECT_EQ(tail[2], "RETR a.txt");
    EXPECT_EQ(tail[3].rfind("PORT 127,0,0,1,", 0), 0u) << tail[3];
    EXPECT_EQ(tail[4], "REST 4");
    EXPECT_EQ(tail[5], "RETR a.txt");
}

TEST_F(ScriptedTest, BothModesRefusedFailsAndTheChosenModeComesBack)
{
    root_.Write("a.txt", "AAA");
    Start({"--no-epsv", "--reply", "PASV=500 No passive.\\r\\n", "--reply", "PORT=500 No active.\\r\\n"});
    auto conn = Connect(true);
    EXPECT_NE(ErrorOf([&] { conn->OpenFileForRead("a.txt", TransferType::Binary); }), 0u);
    EXPECT_NE(ErrorOf([&] { conn->OpenFileForRead("a.txt", TransferType::Binary); }), 0u);
    // Each attempt starts passive again and tries active once; nothing is retrieved.
    const auto lines = Log();
    EXPECT_EQ(CountPrefix(lines, "PASV"), 2u);
    EXPECT_EQ(CountPrefix(lines, "PORT "), 2u);
    EXPECT_EQ(CountPrefix(lines, "RETR"), 0u);
    EXPECT_EQ(conn->Command("NOOP").code, 200);
}

TEST_F(ScriptedTest, TheConversationIsToldLineByLineWithThePasswordMasked)
{
    Start({"--multiline", "NOOP"});
    Talked talk;
    talk.Attach(session_);
    auto conn = Connect();
    conn->Command("NOOP");
    ASSERT_GE(talk.sent.size(), 3u);
    EXPECT_EQ(talk.sent[0], "USER user");
    EXPECT_EQ(talk.sent[1], "PASS ****");
    EXPECT_EQ(talk.sent.back(), "NOOP");
    for (const std::string& line : talk.sent)
        EXPECT_EQ(line.find("pw"), std::string::npos) << line;
    // The multi-line NOOP reply: every line on its own, the last with the code.
    ASSERT_GE(talk.received.size(), 4u);
    const std::vector<std::string> last(talk.received.end() - 4, talk.received.end());
    EXPECT_EQ(last[0].substr(0, 4), "200-");
    EXPECT_EQ(last[1], " continued");
    EXPECT_EQ(last[2], "123 a line that starts with digits");
    EXPECT_EQ(last[3].substr(0, 4), "200 ");
    EXPECT_TRUE(talk.notes.empty());
}
