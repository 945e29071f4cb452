// The wire-format helpers of the FTP library, fed with byte strings.

#include "engine/inet/FtpProtocol.h"
#include "engine/inet/InternetError.h"
#include "engine/inet/ProxyConfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using inet::FtpReply;
using inet::InternetError;
using inet::ReplyReader;

// Hands out `bytes` in chunks of at most `chunk` bytes, then end of stream.
ReplyReader::Source ChunkedSource(const std::string& bytes, std::size_t chunk, std::size_t& pos)
{
    return [&bytes, chunk, &pos](char* data, std::size_t size) -> std::size_t {
        std::size_t n = std::min({size, chunk, bytes.size() - pos});
        std::memcpy(data, bytes.data() + pos, n);
        pos += n;
        return n;
    };
}

struct ReplyCase {
    const char* name;
    std::string wire;
    std::vector<int> codes;               // the replies expected, in order
    std::vector<std::size_t> lineCounts;  // lines kept per reply
    std::string firstText;                // Text() of the first reply
};

class ReplyReaderTable : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyReaderTable, SplitsRepliesAtEveryChunkSize)
{
    const ReplyCase& c = GetParam();
    for (std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(7), std::size_t(4096)}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        std::size_t pos = 0;
        ReplyReader reader;
        auto source = ChunkedSource(c.wire, chunk, pos);
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            FtpReply r = reader.Read(source);
            EXPECT_EQ(r.code, c.codes[i]) << "reply " << i;
            EXPECT_EQ(r.lines.size(), c.lineCounts[i]) << "reply " << i;
            if (i == 0) {
                EXPECT_EQ(r.Text(), c.firstText);
            }
        }
        try {
            reader.Read(source);
            ADD_FAILURE() << "a reply after the last one";
        } catch (const InternetError& e) {
            EXPECT_EQ(e.number(), inet::err::kConnectionAborted);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Wire, ReplyReaderTable,
    ::testing::Values(
        ReplyCase{"single", "220 Ready\r\n", {220}, {1}, "220 Ready"},
        ReplyCase{"lf_only", "220 Ready\n331 Pw\n", {220, 331}, {1, 1}, "220 Ready"},
        ReplyCase{"bare_code", "200\r\n", {200}, {1}, "200"},
        ReplyCase{"multiline_digits_inside",
                  "211-Features:\r\n EPSV\r\n211-not the end\r\n123 digits first\r\n211 End\r\n200 OK\r\n",
                  {211, 200},
                  {5, 1},
                  "211-Features:\r\n EPSV\r\n211-not the end\r\n123 digits first\r\n211 End"},
        ReplyCase{"other_code_does_not_end",
                  "230-Welcome\r\n220 still inside\r\n230 Logged in\r\n",
                  {230},
                  {3},
                  "230-Welcome\r\n220 still inside\r\n230 Logged in"},
        ReplyCase{"missing_last_line_end", "221 Bye", {221}, {1}, "221 Bye"},
        ReplyCase{"two_in_one_segment", "150 Opening\r\n226 Done\r\n", {150, 226}, {1, 1}, "150 Opening"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyReader, RefusesGarbageWithoutWaitingForMore)
{
    for (std::string wire : std::vector<std::string>{"HTTP/1.1 400 Bad\r\n", "22 short\r\n", "2200 joined\r\n", "abc\r\n", "650 out\r\n",
                             std::string("\0\0\0\r\n", 5)}) {
        std::size_t pos = 0;
        ReplyReader reader;
        try {
            reader.Read(ChunkedSource(wire, 4096, pos));
            ADD_FAILURE() << "accepted " << wire;
        } catch (const InternetError& e) {
            EXPECT_EQ(e.number(), inet::err::kInvalidServerResponse) << wire;
        }
    }
}

TEST(ReplyReader, BoundsOverlongLinesAndHugeReplies)
{
    std::string wire = "200 " + std::string(100000, 'x') + "\r\n";
    wire += "211-start\r\n";
    for (int i = 0; i < 5000; ++i)
        wire += " line " + std::to_string(i) + "\r\n";
    wire += "211 end\r\n";
    std::size_t pos = 0;
    ReplyReader reader;
    auto source = ChunkedSource(wire, 1000, pos);
    FtpReply first = reader.Read(source);
    EXPECT_EQ(first.code, 200);
    EXPECT_TRUE(first.truncated);
    EXPECT_EQ(first.lines.front().size(), ReplyReader::kMaxLineBytes);
    FtpReply second = reader.Read(source);
    EXPECT_EQ(second.code, 211);
    EXPECT_TRUE(second.truncated);
    EXPECT_EQ(second.lines.size(), ReplyReader::kMaxKeptLines);
    EXPECT_EQ(second.lines.back(), "211 end");
}

TEST(ReplyReader, EndOfStreamInsideMultilineReplyIsAnError)
{
    std::string wire = "211-start\r\n more\r\n";
    std::size_t pos = 0;
    ReplyReader reader;
    try {
        reader.Read(ChunkedSource(wire, 4096, pos));
        ADD_FAILURE();
    } catch (const InternetError& e) {
        EXPECT_EQ(e.number(), inet::err::kConnectionAborted);
        EXPECT_NE(e.serverReply().find("211-start"), std::string::npos);
    }
}

TEST(ReplyParsers, Pasv)
{
    struct Case {
        const char* text;
        bool ok;
        int port;
    } cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,4,1)", true, 1025},
        {"227 Entering Passive Mode (0,0,0,0,200,10).", true, 51210},
        {"227 =127,0,0,2,255,255", true, 65535},
        {"227 Entering Passive Mode 127,0,0,1,0,21", true, 21},
        {"227 Entering Passive Mode (127,0,0,1,4)", false, 0},
        {"227 Entering Passive Mode (300,0,0,1,4,1)", false, 0},
        {"227 Entering Passive Mode (127,0,0,1,0,0)", false, 0},
        {"227 (1,2,3,4,5,1000)", false, 0},
        {"227 nothing", false, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t addr[4] = {};
        int port = 0;
        EXPECT_EQ(inet::ParsePasvReply(c.text, addr, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(ReplyParsers, Epsv)
{
    struct Case {
        const char* text;
        bool ok;
        int port;
    } cases[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", true, 6446},
        {"229 Entering Extended Passive Mode (!!!1025!)", true, 1025},
        {"229 (|||65535|)", true, 65535},
        {"229 (|||65536|)", false, 0},
        {"229 (|||0|)", false, 0},
        {"229 (|||12|", false, 0},
        {"229 (||12|)", false, 0},
        {"229 Entering Extended Passive Mode", false, 0},
        {"229 (|1|127.0.0.1|99|)", false, 0},
    };
    for (const Case& c : cases) {
        int port = 0;
        EXPECT_EQ(inet::ParseEpsvReply(c.text, port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

TEST(ReplyParsers, Pwd)
{
    std::map<std::string, std::optional<std::string>> cases = {
        {"257 \"/\" is the current directory", "/"},
        {"257 \"/a \"\"quoted\"\" name\" is current", "/a \"quoted\" name"},
        {"257 \"/with space/\"", "/with space/"},
        {"257 /noquotes is current", "/noquotes"},
        {"257 \"/unterminated", std::nullopt},
        {"257 \"\"", ""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(inet::ParsePwdReply(text), expected) << text;
}

TEST(ReplyParsers, SizeMdtmAndAnnouncedSize)
{
    EXPECT_EQ(inet::ParseSizeReply("213 5368709120"), 5368709120ULL);
    EXPECT_EQ(inet::ParseSizeReply("213 18446744073709551615"), 18446744073709551615ULL);
    EXPECT_EQ(inet::ParseSizeReply("213 18446744073709551616"), std::nullopt);
    EXPECT_EQ(inet::ParseSizeReply("213 12a"), std::nullopt);
    EXPECT_EQ(inet::ParseSizeReply("213 "), std::nullopt);

    EXPECT_EQ(inet::ParseMdtmReply("213 19700101000000"), 0);
    EXPECT_EQ(inet::ParseMdtmReply("213 20240229235959"), 1709251199);
    EXPECT_EQ(inet::ParseMdtmReply("213 20240229235959.123"), 1709251199);
    EXPECT_EQ(inet::ParseMdtmReply("213 20230229000000"), std::nullopt);
    EXPECT_EQ(inet::ParseMdtmReply("213 20241301000000"), std::nullopt);
    EXPECT_EQ(inet::ParseMdtmReply("213 2024010100000"), std::nullopt);
    EXPECT_EQ(inet::ParseMdtmReply("213 99999999999999"), std::nullopt);

    EXPECT_EQ(inet::ParseTransferSize("150 Opening BINARY mode data connection for a (b) (1234 bytes)."), 1234u);
    EXPECT_EQ(inet::ParseTransferSize("150 Opening data connection for x (5000000000 bytes)"), 5000000000ULL);
    EXPECT_EQ(inet::ParseTransferSize("150 File status okay. About to open data connection."), std::nullopt);
    EXPECT_EQ(inet::ParseTransferSize("150 ( bytes)"), std::nullopt);
}

TEST(ReplyParsers, Feat)
{
    FtpReply r;
    r.code = 211;
    r.lines = {"211-Features:", " MDTM", " MLST type*;size*;modify*;", " REST STREAM", " utf8", "211 End"};
    auto f = inet::ParseFeatReply(r);
    EXPECT_EQ(f.size(), 4u);
    EXPECT_EQ(f["MLST"], "type*;size*;modify*;");
    EXPECT_EQ(f["REST"], "STREAM");
    EXPECT_TRUE(f.count("UTF8"));
    // ProFTPD names its SITE commands one per line: none of them is lost.
    r.lines = {"211-Features:", " SITE MKDIR", " SITE UTIME", " SITE RMDIR", "211 End"};
    EXPECT_EQ(inet::ParseFeatReply(r)["SITE"], "MKDIR\nUTIME\nRMDIR");
    r.code = 500;
    EXPECT_TRUE(inet::ParseFeatReply(r).empty());
}

TEST(FtpProtocol, UnixFactsAreAskedForOnlyWhereTheyAreOfferedAndOff)
{
    // pyftpdlib: offered, not on.
    EXPECT_EQ(inet::MlstFactsWithUnixFacts("type*;perm*;size*;modify*;unique*;unix.mode;unix.uid;unix.gid;"),
              "type;perm;size;modify;unique;unix.mode;unix.uid;unix.gid;");
    // On already (ProFTPD), none offered, or nothing on to keep: nothing to ask.
    EXPECT_EQ(inet::MlstFactsWithUnixFacts("modify*;perm*;size*;type*;UNIX.mode*;UNIX.owner*;"), "");
    EXPECT_EQ(inet::MlstFactsWithUnixFacts("type*;size*;modify*;"), "");
    EXPECT_EQ(inet::MlstFactsWithUnixFacts("type;size;unix.mode;"), "");
    EXPECT_EQ(inet::MlstFactsWithUnixFacts(""), "");
    EXPECT_EQ(inet::MlstFactsWithUnixFacts("type*;UNIX.mode"), "type;UNIX.mode;");
}

TEST(ProxyConfig, ParsesAddresses)
{
    struct Case {
        const char* text;
        const char* host;  // nullptr: must be refused
        int port;
    } cases[] = {
        {"proxy", "proxy", 8080},
        {"127.0.0.1:3128", "127.0.0.1", 3128},
        {"http://localhost:9000/", "localhost", 9000},
        {"HTTP://localhost", "localhost", 8080},
        {"[::1]:8000", "::1", 8000},
        {"[::1]", "::1", 8080},
        {"::1", "::1", 8080},
        {"socks5://localhost:1080", nullptr, 0},
        {"https://localhost:443", nullptr, 0},
        {"localhost:0", nullptr, 0},
        {"localhost:65536", nullptr, 0},
        {"localhost:12ab", nullptr, 0},
        {"localhost:", nullptr, 0},
        {"", nullptr, 0},
        {"[::1", nullptr, 0},
    };
    for (const Case& c : cases) {
        if (c.host) {
            inet::ProxyAddress p = inet::ParseProxyAddress(c.text);
            EXPECT_EQ(p.host, c.host) << c.text;
            EXPECT_EQ(p.port, c.port) << c.text;
        } else {
            EXPECT_THROW(inet::ParseProxyAddress(c.text), InternetError) << c.text;
        }
    }
}

TEST(ProxyConfig, NoProxyMatchesLikeCurl)
{
    struct Case {
        const char* list;
        const char* host;
        bool match;
    } cases[] = {
        {"*", "anything", true},
        {"localhost", "localhost", true},
        {"localhost", "LOCALHOST", true},
        {"example.test", "ftp.example.test", true},
        {".example.test", "ftp.example.test", true},
        {".example.test", "example.test", true},
        {"example.test", "badexample.test", false},
        {"a.test, example.test", "x.example.test", true},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"127.0.0.0/8", "127.1.2.3", true},
        {"127.0.0.0/8", "128.0.0.1", false},
        {"::1", "[::1]", true},
        {"[::1]", "::1", true},
        {"::/0", "::1", true},
        {"", "localhost", false},
        {"localhost", "127.0.0.1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(inet::NoProxyMatches(c.list, c.host), c.match) << c.list << " vs " << c.host;
}

TEST(ProxyConfig, EnvironmentOrder)
{
    std::map<std::string, std::string> env;
    auto lookup = [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_FALSE(inet::ProxyFromEnvironment("localhost", lookup));
    env["ALL_PROXY"] = "http://127.0.0.1:1111";
    EXPECT_EQ(inet::ProxyFromEnvironment("localhost", lookup)->port, 1111);
    env["all_proxy"] = "http://127.0.0.1:2222";
    EXPECT_EQ(inet::ProxyFromEnvironment("localhost", lookup)->port, 2222);
    env["FTP_PROXY"] = "127.0.0.1:3333";
    EXPECT_EQ(inet::ProxyFromEnvironment("localhost", lookup)->port, 3333);
    env["ftp_proxy"] = "127.0.0.1:4444";
    EXPECT_EQ(inet::ProxyFromEnvironment("localhost", lookup)->port, 4444);
    env["NO_PROXY"] = "localhost";
    EXPECT_FALSE(inet::ProxyFromEnvironment("localhost", lookup));
    EXPECT_TRUE(inet::ProxyFromEnvironment("127.0.0.1", lookup));
    env["no_proxy"] = "127.0.0.1";
    EXPECT_FALSE(inet::ProxyFromEnvironment("127.0.0.1", lookup));
    env["ftp_proxy"] = "socks5://127.0.0.1";
    EXPECT_THROW(inet::ProxyFromEnvironment("example.test", lookup), InternetError);
}

TEST(Dates, DaysFromCivilAgreesAtKnownPoints)
{
    EXPECT_EQ(inet::UtcSeconds(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(inet::UtcSeconds(1969, 12, 31, 23, 59, 59), -1);
    EXPECT_EQ(inet::UtcSeconds(2000, 3, 1, 0, 0, 0), 951868800);
    EXPECT_EQ(inet::UtcSeconds(2038, 1, 19, 3, 14, 8), 2147483648LL);
    EXPECT_EQ(inet::UtcSeconds(1900, 2, 29, 0, 0, 0), std::nullopt);
    EXPECT_EQ(inet::UtcSeconds(2000, 2, 29, 0, 0, 0), 951782400);
    EXPECT_EQ(inet::UtcSeconds(2024, 4, 31, 0, 0, 0), std::nullopt);
}

}  // namespace
