// Smoke tests of the test servers themselves, spoken to over raw sockets so
// that a fault in a fixture is never mistaken for a fault in the FTP library.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/ServerProcess.h"

namespace {

using kxtest::ServerProcess;
using kxtest::TempDir;
using Clock = std::chrono::steady_clock;

// Only reached when something is broken; no test measures time.
constexpr auto kIoLimit = std::chrono::seconds(10);

bool Ipv6LoopbackAvailable() {
    int fd = socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

int ConnectTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    return fd;
}

// A blocking TCP client with a read limit, enough to speak FTP and HTTP by hand.
class Client {
public:
    explicit Client(int fd) : fd_(fd) {}
    Client(const std::string& host, int port) : fd_(ConnectTo(host, port)) {}
    ~Client() {
        if (fd_ >= 0)
            close(fd_);
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return fd_ >= 0; }

    void Send(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // Up to n bytes; fewer when the peer closes or the limit passes.
    std::string ReadExactly(std::size_t n) {
        while (buffer_.size() < n && Fill()) {
        }
        std::string out = buffer_.substr(0, n);
        buffer_.erase(0, out.size());
        return out;
    }

    std::string ReadUntil(std::string_view marker) {
        std::size_t at;
        while ((at = buffer_.find(marker)) == std::string::npos && Fill()) {
        }
        std::size_t end = at == std::string::npos ? buffer_.size() : at + marker.size();
        std::string out = buffer_.substr(0, end);
        buffer_.erase(0, end);
        return out;
    }

    // Everything up to the peer's close (or the limit).
    std::string ReadAll() {
        while (Fill()) {
        }
        std::string out;
        out.swap(buffer_);
        return out;
    }

    bool SawEof() {
        if (!buffer_.empty())
            return false;
        return !Fill() && eof_;
    }

    // One complete FTP reply: "ddd text" or "ddd-" ... "ddd text".
    std::string ReadReply() {
        std::string reply = ReadUntil("\r\n");
        if (reply.size() < 4 || reply[3] != '-')
            return reply;
        std::string end = reply.substr(0, 3) + " ";
        for (;;) {
            std::string line = ReadUntil("\r\n");
            reply += line;
            if (line.empty() || line.compare(0, 4, end) == 0)
                return reply;
        }
    }

private:
    bool Fill() {
        if (fd_ < 0 || eof_)
            return false;
        auto deadline = Clock::now() + kIoLimit;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd pfd{fd_, POLLIN, 0};
            int ready = poll(&pfd, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return false;
            char buf[65536];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                eof_ = true;
                return false;
            }
            buffer_.append(buf, static_cast<std::size_t>(n));
            return true;
        }
    }

    int fd_;
    bool eof_ = false;
    std::string buffer_;
};

int PassivePort(const std::string& reply_227) {
    auto open = reply_227.find('(');
    int h[4], p1 = 0, p2 = 0;
    if (open == std::string::npos ||
        std::sscanf(reply_227.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &h[0], &h[1], &h[2], &h[3],
                    &p1, &p2) != 6)
        return -1;
    return p1 * 256 + p2;
}

// ------------------------------------------------------------- greetings

struct StartCase {
    const char* name;
    bool ipv6;
    std::function<std::unique_ptr<ServerProcess>(const TempDir&)> start;
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }


class ServerGreets : public ::testing::TestWithParam<StartCase> {};

TEST_P(ServerGreets, With220OnLoopback) {
    const StartCase& c = GetParam();
    if (c.ipv6 && !Ipv6LoopbackAvailable())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    TempDir root;
    auto server = c.start(root);
    Client client(c.ipv6 ? "::1" : "127.0.0.1", server->port());
    ASSERT_TRUE(client.connected());
    std::string greeting = client.ReadReply();
    EXPECT_EQ(greeting.substr(0, 4), "220 ") << greeting;
    client.Send("QUIT\r\n");
    EXPECT_EQ(client.ReadReply().substr(0, 3), "221");
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerGreets,
    ::testing::Values(
        StartCase{"PyFtpd", false,
                  [](const TempDir& d) { return kxtest::StartPyFtpd(d.path(), "u", "p"); }},
        StartCase{"PyFtpdIpv6", true,
                  [](const TempDir& d) {
                      return kxtest::StartPyFtpd(d.path(), "u", "p", {"--ipv6"});
                  }},
        StartCase{"Scripted", false,
                  [](const TempDir& d) { return kxtest::StartScriptedFtpd(d.path(), {}); }},
        StartCase{"ScriptedIpv6", true,
                  [](const TempDir& d) {
                      return kxtest::StartScriptedFtpd(d.path(), {"--ipv6"});
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------- command logs

struct LogCase {
    const char* name;
    std::function<std::unique_ptr<ServerProcess>(const TempDir&, const std::string& log)> start;
};
void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }


class CommandLog : public ::testing::TestWithParam<LogCase> {};

TEST_P(CommandLog, HoldsEveryLineVerbatimAndInOrder) {
    TempDir dir;
    std::string root = dir.MakeDir("root");
    std::string log = dir.Path("commands.log");
    auto server = GetParam().start(dir, log);

    // A name that is not valid UTF-8 must reach the log byte for byte.
    const std::vector<std::string> commands{
        "USER tester", "PASS secret", "SYST", "TYPE I", "CWD caf\xe9", "NOOP", "PWD", "QUIT"};
    Client client("127.0.0.1", server->port());
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.ReadReply().substr(0, 3), "220");
    for (const auto& command : commands) {
        client.Send(command + "\r\n");
        std::string reply = client.ReadReply();
        ASSERT_GE(reply.size(), 5u) << "no reply to " << command;
    }
    EXPECT_EQ(kxtest::ReadLines(log), commands);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, CommandLog,
    ::testing::Values(LogCase{"PyFtpd",
                              [](const TempDir& d, const std::string& log) {
                                  return kxtest::StartPyFtpd(d.Path("root"), "tester", "secret",
                                                             {"--log", log});
                              }},
                      LogCase{"Scripted",
                              [](const TempDir& d, const std::string& log) {
                                  return kxtest::StartScriptedFtpd(d.Path("root"), {"--log", log});
                              }}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------- scripted server: control replies

struct ScriptCase {
    const char* name;
    std::vector<std::string> switches;  // "@DIR" becomes the temporary folder
    std::string scenario;               // written to @DIR/scenario.json when not empty
    std::string request;
    std::string expected;  // a prefix of what arrives, or all of it when closes
    bool closes;
};
void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }


class ScriptedServer : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptedServer, AnswersAsScripted) {
    const ScriptCase& c = GetParam();
    TempDir dir;
    std::string root = dir.MakeDir("root");
    dir.Write("long-reply", "257 \"" + std::string(100 * 1024, 'x') + "\"\r\n");
    std::vector<std::string> switches;
    for (const auto& s : c.switches) {
        std::string arg = s;
        for (auto at = arg.find("@DIR"); at != std::string::npos; at = arg.find("@DIR"))
            arg.replace(at, 4, dir.path());
        switches.push_back(arg);
    }
    if (!c.scenario.empty())
        switches.insert(switches.end(), {"--scenario", dir.Write("scenario.json", c.scenario)});
    auto server = kxtest::StartScriptedFtpd(root, switches);

    Client client("127.0.0.1", server->port());
    ASSERT_TRUE(client.connected());
    client.Send(c.request);
    if (c.closes) {
        EXPECT_EQ(client.ReadAll(), c.expected);
    } else {
        EXPECT_EQ(client.ReadExactly(c.expected.size()), c.expected);
    }
}

const std::string kGreeting = "220 Kestrix scripted test server ready.\r\n";
const std::string kLogin = "USER a\r\nPASS b\r\n";
const std::string kLoggedIn = kGreeting + "331 Password required for a.\r\n230 User logged in.\r\n";

INSTANTIATE_TEST_SUITE_P(
    Switches, ScriptedServer,
    ::testing::Values(
        ScriptCase{"MultiLineGreetingWithDigitLines",
                   {"--greeting", "Welcome", "--greeting", "123 this line starts with digits",
                    "--greeting", "220-and this one with the code", "--greeting", "Go ahead"},
                   "",
                   "",
                   "220-Welcome\r\n123 this line starts with digits\r\n"
                   "220-and this one with the code\r\n220 Go ahead\r\n", false},
        ScriptCase{"GreetingFromScenarioFile",
                   {},
                   R"({"greeting": ["First", "Last"], "syst": "Windows_NT"})",
                   "SYST\r\n",
                   "220-First\r\n220 Last\r\n215 Windows_NT\r\n", false},
        ScriptCase{"GreetingSplitAcrossSegments",
                   {"--reply", "GREETING=2\\w20 in\\w pieces\\r\\n", "--split-pause", "0.05"},
                   "",
                   "",
                   "220 in pieces\r\n", false},
        ScriptCase{"GreetingWithoutLineEndThenClose",
                   {"--reply", "GREETING=220 no line end", "--close-after", "GREETING"},
                   "",
                   "",
                   "220 no line end",
                   true},
        ScriptCase{"OverlongReplyFromFile",
                   {"--reply-file", "PWD=@DIR/long-reply"},
                   "",
                   kLogin + "PWD\r\n",
                   kLoggedIn + "257 \"" + std::string(100 * 1024, 'x') + "\"\r\n", false},
        ScriptCase{"GarbageReplyWithRawBytes",
                   {"--reply", "SYST=X1\\x00\\xff garbage\\r\\n"},
                   "",
                   kLogin + "SYST\r\n",
                   kLoggedIn + std::string("X1\0\xff garbage\r\n", 14), false},
        ScriptCase{"OnlyTheSecondOccurrence",
                   {"--reply", "NOOP#2=421 second\\r\\n"},
                   "",
                   kLogin + "NOOP\r\nNOOP\r\nNOOP\r\n",
                   kLoggedIn + "200 NOOP ok.\r\n421 second\r\n200 NOOP ok.\r\n", false},
        ScriptCase{"MultiLineReplyStillCarriesOut",
                   {"--multiline", "CWD"},
                   "",
                   kLogin + "CWD /\r\nPWD\r\n",
                   kLoggedIn +
                       "250-CWD command successful.\r\n continued\r\n"
                       "123 a line that starts with digits\r\n250 CWD command successful.\r\n"
                       "257 \"/\" is the current directory.\r\n", false},
        ScriptCase{"CloseAfterCommand",
                   {"--close-after", "SYST"},
                   "",
                   kLogin + "SYST\r\nNOOP\r\n",
                   kLoggedIn,
                   true},
        ScriptCase{"FiniteStallCarriesOn",
                   {"--stall", "NOOP=0.1"},
                   "",
                   kLogin + "NOOP\r\n",
                   kLoggedIn + "200 NOOP ok.\r\n", false},
        ScriptCase{"DefaultFeatures",
                   {},
                   "",
                   "FEAT\r\n",
                   kGreeting +
                       "211-Features:\r\n EPSV\r\n MDTM\r\n SIZE\r\n REST STREAM\r\n UTF8\r\n"
                       " MLST type*;size*;modify*;\r\n211 End\r\n", false},
        ScriptCase{"RefusesEpsvAndRest",
                   {"--no-epsv", "--no-rest"},
                   "",
                   "FEAT\r\n" + kLogin + "EPSV\r\nREST 100\r\n",
                   kGreeting +
                       "211-Features:\r\n MDTM\r\n SIZE\r\n UTF8\r\n"
                       " MLST type*;size*;modify*;\r\n211 End\r\n"
                       "331 Password required for a.\r\n230 User logged in.\r\n"
                       "500 EPSV not understood.\r\n502 REST not implemented.\r\n", false},
        ScriptCase{"PasvAnnouncesGivenAddress",
                   {"--pasv-address", "0.0.0.0"},
                   "",
                   kLogin + "PASV\r\n",
                   kLoggedIn + "227 Entering Passive Mode (0,0,0,0,", false},
        ScriptCase{"ActiveModeOnlyToLoopback",
                   {},
                   "",
                   kLogin + "PORT 0,0,0,0,4,1\r\nEPRT |1|0.0.0.0|1025|\r\n",
                   kLoggedIn +
                       "501 Refusing to connect to 0.0.0.0: loopback addresses only.\r\n"
                       "501 Refusing to connect to 0.0.0.0: loopback addresses only.\r\n", false},
        ScriptCase{"WrongLoginRefused",
                   {"--user", "alice", "--password", "right"},
                   "",
                   "USER alice\r\nPASS wrong\r\nPWD\r\n",
                   kGreeting +
                       "331 Password required for alice.\r\n530 Login incorrect.\r\n"
                       "530 Please log in with USER and PASS first.\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------- scripted server: data transfers

struct DataCase {
    const char* name;
    std::vector<std::string> switches;  // "@DIR" becomes the temporary folder
    bool active;
    std::string before;   // commands sent ahead of the transfer command
    std::string command;  // "RETR file", "LIST", ...
    std::size_t data_from, data_length;  // which part of file.bin arrives...
    std::string literal;  // ...unless this is set: "@LISTING" for listing.txt, or the bytes
    std::string final_code;
};
void PrintTo(const DataCase& c, std::ostream* os) { *os << c.name; }


class ScriptedData : public ::testing::TestWithParam<DataCase> {};

TEST_P(ScriptedData, MovesTheRightBytes) {
    const DataCase& c = GetParam();
    TempDir dir;
    std::string root = dir.MakeDir("root");
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += static_cast<char>(i * 7 % 251);
    std::string file = dir.Write("root/file.bin", content);
    // 2024-01-15 15:04:00 UTC, old enough for the year form of "ls -l".
    const timespec when[2] = {{1705331040, 0}, {1705331040, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), when, 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    // Names a client must refuse to use as local paths, and a DOS line.
    std::string listing =
        "-rw-r--r--   1 u  g  5 Jan  1  2020 ../../escape\r\n"
        "-rw-r--r--   1 u  g  5 Jan  1  2020 a\x01" "b\r\n"
        "01-15-24  03:04PM                 1234 dos name.txt\r\n";
    dir.Write("listing.txt", listing);

    std::vector<std::string> switches;
    for (const auto& s : c.switches) {
        std::string arg = s;
        for (auto at = arg.find("@DIR"); at != std::string::npos; at = arg.find("@DIR"))
            arg.replace(at, 4, dir.path());
        switches.push_back(arg);
    }
    auto server = kxtest::StartScriptedFtpd(root, switches);
    Client control("127.0.0.1", server->port());
    ASSERT_TRUE(control.connected());
    ASSERT_EQ(control.ReadReply().substr(0, 3), "220");
    control.Send("USER a\r\nPASS b\r\nTYPE I\r\n");
    for (const char* code : {"331", "230", "200"})
        ASSERT_EQ(control.ReadReply().substr(0, 3), code);

    std::unique_ptr<Client> data;
    int listener = -1;
    if (c.active) {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
        ASSERT_EQ(listen(listener, 1), 0);
        ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        control.Send("EPRT |1|127.0.0.1|" + std::to_string(ntohs(addr.sin_port)) + "|\r\n");
        ASSERT_EQ(control.ReadReply().substr(0, 3), "200");
    } else {
        control.Send("PASV\r\n");
        std::string reply = control.ReadReply();
        ASSERT_EQ(reply.substr(0, 3), "227") << reply;
        data = std::make_unique<Client>("127.0.0.1", PassivePort(reply));
        ASSERT_TRUE(data->connected());
    }
    control.Send(c.before);
    for (std::size_t at = c.before.find("\r\n"); at != std::string::npos;
         at = c.before.find("\r\n", at + 2))
        ASSERT_EQ(control.ReadReply().substr(0, 1), "3");
    control.Send(c.command + "\r\n");
    if (c.active) {
        pollfd pfd{listener, POLLIN, 0};
        ASSERT_EQ(poll(&pfd, 1, static_cast<int>(std::chrono::milliseconds(kIoLimit).count())), 1);
        data = std::make_unique<Client>(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        close(listener);
    }
    std::string reply = control.ReadReply();
    ASSERT_EQ(reply.substr(0, 3), "150") << reply;
    std::string received = data->ReadAll();
    std::string wanted = c.literal.empty()         ? content.substr(c.data_from, c.data_length)
                         : c.literal == "@LISTING" ? listing
                                                   : c.literal;
    EXPECT_EQ(received, wanted);
    reply = control.ReadReply();
    EXPECT_EQ(reply.substr(0, 3), c.final_code) << reply;
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ScriptedData,
    ::testing::Values(
        DataCase{"PassiveRetr", {}, false, "", "RETR file.bin", 0, 5000, "", "226"},
        DataCase{"ActiveRetr", {}, true, "", "RETR file.bin", 0, 5000, "", "226"},
        DataCase{"RestartedRetr", {}, false, "REST 4000\r\n", "RETR file.bin", 4000, 1000, "",
                 "226"},
        DataCase{"DroppedRetr", {"--drop-after", "RETR#1=1000"}, false, "", "RETR file.bin", 0,
                 1000, "", "426"},
        DataCase{"SlowRetr", {"--rate", "200000"}, false, "", "RETR file.bin", 0, 5000, "", "226"},
        DataCase{"UnixList", {}, false, "", "LIST", 0, 0,
                 "-rw-r--r--   1 owner    group            5000 Jan 15  2024 file.bin\r\n", "226"},
        DataCase{"DosList", {"--list-format", "dos"}, false, "", "LIST", 0, 0,
                 "01-15-24  03:04PM                 5000 file.bin\r\n", "226"},
        DataCase{"Mlsd", {}, true, "", "MLSD", 0, 0,
                 "type=file;size=5000;modify=20240115150400; file.bin\r\n", "226"},
        DataCase{"Nlst", {}, false, "", "NLST", 0, 0, "file.bin\r\n", "226"},
        DataCase{"ListFromFile", {"--list-file", "@DIR/listing.txt"}, false, "", "LIST", 0, 0,
                 "@LISTING", "226"},
        DataCase{"ListFromFileForOneFolder", {"--list-file", "/=@DIR/listing.txt"}, true, "",
                 "LIST -la", 0, 0, "@LISTING", "226"},
        DataCase{"MlsdFromFile", {"--mlsd-file", "@DIR/listing.txt"}, false, "", "MLSD", 0, 0,
                 "@LISTING", "226"},
        DataCase{"DroppedList", {"--drop-after", "LIST=10"}, false, "", "LIST", 0, 0,
                 "-rw-r--r--", "426"}),
    [](const auto& info) { return std::string(info.param.name); });

struct UploadCase {
    const char* name;
    std::vector<std::string> switches;
    std::string existing;  // file.bin before the upload; "" for none
    std::string before;    // commands sent ahead of the transfer command
    std::string command;
    std::string expected_file;
    std::string final_code;
};

void PrintTo(const UploadCase& c, std::ostream* os) { *os << c.name; }

class ScriptedUpload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(ScriptedUpload, StoresTheRightBytes) {
    const UploadCase& c = GetParam();
    TempDir dir;
    std::string root = dir.MakeDir("root");
    if (!c.existing.empty())
        dir.Write("root/file.bin", c.existing);
    auto server = kxtest::StartScriptedFtpd(root, c.switches);
    Client control("127.0.0.1", server->port());
    ASSERT_TRUE(control.connected());
    ASSERT_EQ(control.ReadReply().substr(0, 3), "220");
    control.Send("USER a\r\nPASS b\r\nTYPE I\r\nEPSV\r\n");
    for (const char* code : {"331", "230", "200"})
        ASSERT_EQ(control.ReadReply().substr(0, 3), code);
    std::string reply = control.ReadReply();
    ASSERT_EQ(reply.substr(0, 3), "229") << reply;
    int port = 0;
    ASSERT_EQ(std::sscanf(reply.c_str(), "229 Entering Extended Passive Mode (|||%d|)", &port), 1);
    control.Send(c.before + c.command + "\r\n");
    if (!c.before.empty()) {
        ASSERT_EQ(control.ReadReply().substr(0, 3), "350");
    }
    {
        Client data("127.0.0.1", port);
        ASSERT_TRUE(data.connected());
        reply = control.ReadReply();
        ASSERT_EQ(reply.substr(0, 3), "150") << reply;
        data.Send(std::string(3000, 'u'));
    }
    reply = control.ReadReply();
    EXPECT_EQ(reply.substr(0, 3), c.final_code) << reply;
    EXPECT_EQ(dir.Read("root/file.bin"), c.expected_file);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, ScriptedUpload,
    ::testing::Values(
        UploadCase{"Stor", {}, "old", "", "STOR file.bin", std::string(3000, 'u'), "226"},
        UploadCase{"Appe", {}, "old", "", "APPE file.bin", "old" + std::string(3000, 'u'), "226"},
        UploadCase{"RestartedStor", {}, "0123456789", "REST 4\r\n", "STOR file.bin",
                   "0123" + std::string(3000, 'u'), "226"},
        UploadCase{"DroppedStor", {"--drop-after", "STOR=1000"}, "", "", "STOR file.bin",
                   std::string(1000, 'u'), "426"}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ proxy

TEST(ConnectProxy, RelaysToPyFtpdAndLogsTheRequest) {
    TempDir dir;
    std::string root = dir.MakeDir("root");
    auto ftpd = kxtest::StartPyFtpd(root, "user", "pw");
    auto proxy = kxtest::StartConnectProxy({"--log", dir.Path("proxy.log")});

    Client client("127.0.0.1", proxy->port());
    ASSERT_TRUE(client.connected());
    std::string request = "CONNECT 127.0.0.1:" + std::to_string(ftpd->port()) + " HTTP/1.1";
    client.Send(request + "\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
    EXPECT_EQ(client.ReadReply().substr(0, 4), "220 ");
    client.Send("USER user\r\nPASS pw\r\n");
    EXPECT_EQ(client.ReadReply().substr(0, 3), "331");
    EXPECT_EQ(client.ReadReply().substr(0, 3), "230");
    client.Send("QUIT\r\n");
    EXPECT_EQ(client.ReadReply().substr(0, 3), "221");
    EXPECT_TRUE(client.SawEof());
    EXPECT_EQ(kxtest::ReadLines(dir.Path("proxy.log")), std::vector<std::string>{request});
}

struct ProxyCase {
    const char* name;
    std::vector<std::string> extra;
    std::string request;  // "@PORT" becomes the port of a live FTP server
    std::string status_line;
};
void PrintTo(const ProxyCase& c, std::ostream* os) { *os << c.name; }


class ConnectProxyRequests : public ::testing::TestWithParam<ProxyCase> {};

// A refusal has to come from the proxy's own checks: a connection attempt to
// these targets would end in 502 or a time-out, never in 403.
TEST_P(ConnectProxyRequests, AreAnsweredWithStatus) {
    const ProxyCase& c = GetParam();
    TempDir dir;
    auto ftpd = kxtest::StartScriptedFtpd(dir.path(), {});
    auto proxy = kxtest::StartConnectProxy(c.extra);
    std::string request = c.request;
    if (auto at = request.find("@PORT"); at != std::string::npos)
        request.replace(at, 5, std::to_string(ftpd->port()));

    Client client("127.0.0.1", proxy->port());
    ASSERT_TRUE(client.connected());
    client.Send(request);
    std::string head = client.ReadUntil("\r\n\r\n");
    EXPECT_EQ(head.substr(0, head.find("\r\n")), c.status_line) << head;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectProxyRequests,
    ::testing::Values(
        ProxyCase{"Ipv4Documentation", {}, "CONNECT 192.0.2.1:21 HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 403 Forbidden"},
        ProxyCase{"Ipv6Documentation", {}, "CONNECT [2001:db8::1]:21 HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 403 Forbidden"},
        ProxyCase{"HostName", {}, "CONNECT ftp.example.com:21 HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 403 Forbidden"},
        ProxyCase{"AnyAddress", {}, "CONNECT 0.0.0.0:21 HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 403 Forbidden"},
        ProxyCase{"NotConnect", {}, "GET http://127.0.0.1/ HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 405 Method Not Allowed"},
        ProxyCase{"Malformed", {}, "CONNECT\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        ProxyCase{"LocalhostAllowed", {}, "CONNECT localhost:@PORT HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 200 Connection established"},
        ProxyCase{"AuthMissing", {"--require-auth", "kx:secret"},
                  "CONNECT 127.0.0.1:@PORT HTTP/1.1\r\n\r\n",
                  "HTTP/1.1 407 Proxy Authentication Required"},
        ProxyCase{"AuthWrong", {"--require-auth", "kx:secret"},
                  "CONNECT 127.0.0.1:@PORT HTTP/1.1\r\n"
                  "Proxy-Authorization: Basic a3g6d3Jvbmc=\r\n\r\n",  // kx:wrong
                  "HTTP/1.1 407 Proxy Authentication Required"},
        ProxyCase{"AuthRight", {"--require-auth", "kx:secret"},
                  "CONNECT 127.0.0.1:@PORT HTTP/1.1\r\n"
                  "Proxy-Authorization: Basic a3g6c2VjcmV0\r\n\r\n",  // kx:secret
                  "HTTP/1.1 200 Connection established"}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------- process hygiene

struct OrphanCase {
    const char* name;
    std::function<std::unique_ptr<ServerProcess>(const std::string& dir)> start;
    bool greets;
    std::string opening;  // sent on a connection held open while the test dies
};
void PrintTo(const OrphanCase& c, std::ostream* os) { *os << c.name; }


class KilledTest : public ::testing::TestWithParam<OrphanCase> {};

bool WaitForExit(pid_t pid, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Stands in for a test process that crashes or is killed by CTest: its server
// must notice the end of its stdin and go, even with a session stalled forever.
TEST_P(KilledTest, LeavesNoServerBehind) {
    const OrphanCase& c = GetParam();
    TempDir dir;
    // The orphaned server is handed to us instead of to init, so that we can
    // see it exit and reap it.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct ResetSubreaper {
        ~ResetSubreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    } reset;

    int report[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
    pid_t test_process = fork();
    ASSERT_GE(test_process, 0);
    if (test_process == 0) {
        // Never returns into the test framework: it only starts the server,
        // tells the parent about it and waits to be killed.
        close(report[0]);
        try {
            auto server = c.start(dir.path());
            int ids[2] = {static_cast<int>(server->pid()), server->port()};
            if (write(report[1], ids, sizeof ids) == static_cast<ssize_t>(sizeof ids))
                for (;;)
                    pause();
        } catch (...) {
        }
        _exit(1);
    }
    close(report[1]);
    int ids[2] = {0, 0};
    ssize_t got = read(report[0], ids, sizeof ids);
    close(report[0]);
    if (got != static_cast<ssize_t>(sizeof ids)) {
        kill(test_process, SIGKILL);
        waitpid(test_process, nullptr, 0);
        FAIL() << "the forked test process did not start its server";
    }
    pid_t server_pid = ids[0];

    Client client("127.0.0.1", ids[1]);
    ASSERT_TRUE(client.connected());
    if (c.greets)
        client.ReadReply();
    client.Send(c.opening);

    kill(test_process, SIGKILL);
    waitpid(test_process, nullptr, 0);

    bool gone = WaitForExit(server_pid, std::chrono::seconds(10));
    if (!gone) {
        kill(server_pid, SIGKILL);
        waitpid(server_pid, nullptr, 0);
    }
    EXPECT_TRUE(gone) << "server " << server_pid << " outlived its test process";
}

INSTANTIATE_TEST_SUITE_P(
    Servers, KilledTest,
    ::testing::Values(
        OrphanCase{"PyFtpd",
                   [](const std::string& d) { return kxtest::StartPyFtpd(d, "u", "p"); },
                   true, "USER u\r\n"},
        OrphanCase{"ScriptedStalledForever",
                   [](const std::string& d) {
                       return kxtest::StartScriptedFtpd(d, {"--stall", "USER"});
                   },
                   true, "USER u\r\n"},
        OrphanCase{"Proxy",
                   [](const std::string&) { return kxtest::StartConnectProxy(); },
                   false, "CONNECT 127.0.0.1:1 HTTP/1.1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadStartCase {
    const char* name;
    std::function<std::unique_ptr<ServerProcess>(const std::string& dir)> start;
    std::string stderr_part;
};
void PrintTo(const BadStartCase& c, std::ostream* os) { *os << c.name; }


class BadStart : public ::testing::TestWithParam<BadStartCase> {};

TEST_P(BadStart, ThrowsWithTheServersOwnMessage) {
    TempDir dir;
    try {
        GetParam().start(dir.path());
        FAIL() << "started";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().stderr_part), std::string::npos)
            << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, BadStart,
    ::testing::Values(
        BadStartCase{"ScriptedMissingRoot",
                     [](const std::string& d) {
                         return kxtest::StartScriptedFtpd(d + "/missing", {});
                     },
                     "not a folder"},
        BadStartCase{"ScriptedPublicPasvAddress",
                     [](const std::string& d) {
                         return kxtest::StartScriptedFtpd(d, {"--pasv-address", "192.0.2.1"});
                     },
                     "PASV may announce only"},
        BadStartCase{"ScriptedUnknownScenarioKey",
                     [](const std::string& d) {
                         std::string file = d + "/s.json";
                         FILE* f = std::fopen(file.c_str(), "w");
                         std::fputs("{\"no_such_setting\": 1}", f);
                         std::fclose(f);
                         return kxtest::StartScriptedFtpd(d, {"--scenario", file});
                     },
                     "no_such_setting"},
        BadStartCase{"PyFtpdPublicMasquerade",
                     [](const std::string& d) {
                         return kxtest::StartPyFtpd(d, "u", "p", {"--masquerade", "192.0.2.1"});
                     },
                     "loopback"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TempDirFixture, WritesNestedFilesAndRemovesTheTree) {
    std::string path;
    {
        TempDir dir;
        path = dir.path();
        std::string bytes("a\0b\r\n\xff", 6);
        std::string file = dir.Write("x/y/z.bin", bytes);
        EXPECT_EQ(file, path + "/x/y/z.bin");
        EXPECT_EQ(dir.Read("x/y/z.bin"), bytes);
        dir.MakeDir("x/locked");
        chmod(dir.Path("x/locked").c_str(), 0);
        chmod(dir.Path("x").c_str(), 0500);
        EXPECT_THROW(dir.Path("../outside"), std::invalid_argument);
        EXPECT_THROW(dir.Path("/etc/passwd"), std::invalid_argument);
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

}  // namespace
