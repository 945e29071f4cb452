// kestrix-ftp, the command-line client, run as a process against the test servers.

#include "support/ServerProcess.h"
#include "tools/CliProcess.h"

#include <chrono>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string& kCli = kxtest::kFtpTool;

using Result = kxtest::CliResult;
using kxtest::FileTime;
using kxtest::SetFileTime;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(kCli.c_str(), X_OK) != 0)
            GTEST_SKIP() << kCli << " is not built (target kestrix-ftp)";
    }
    Result Run(const std::string& args) { return kxtest::RunFtpTool(work_, args); }
    kxtest::TempDir root_, work_;
};

TEST_F(CliTest, TransfersAndListing)
{
    root_.Write("data.bin", std::string(300000, 'd'));
    root_.MakeDir("folder");
    auto server = kxtest::StartPyFtpd(root_.path(), "u", "p");
    std::string base = "--user u --password p 127.0.0.1:" + std::to_string(server->port()) + " ";

    Result ls = Run(base + "ls");
    EXPECT_EQ(ls.status, 0) << ls.err;
    EXPECT_NE(ls.out.find("-         300000 "), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find(" data.bin\n"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("d "), std::string::npos) << ls.out;

    EXPECT_EQ(Run(base + "get data.bin copy.bin").status, 0);
    EXPECT_EQ(work_.Read("copy.bin"), root_.Read("data.bin"));

    work_.Write("partial.bin", std::string(1000, 'd'));
    EXPECT_EQ(Run(base + "--continue get data.bin partial.bin").status, 0);
    EXPECT_EQ(work_.Read("partial.bin"), root_.Read("data.bin"));

    root_.Write("half.bin", std::string(150000, 'd'));
    EXPECT_EQ(Run(base + "--continue --active put copy.bin half.bin").status, 0);
    EXPECT_EQ(root_.Read("half.bin"), root_.Read("data.bin"));

    Result quote = Run(base + "quote 'NOOP'");
    EXPECT_EQ(quote.status, 0);
    EXPECT_EQ(quote.out.substr(0, 3), "200");
    EXPECT_NE(Run(base + "quote 'BOGUS'").status, 0);
    Result missing = Run(base + "get nothing.bin");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("550"), std::string::npos) << missing.err;
    struct stat st;
    EXPECT_NE(::stat(work_.Path("nothing.bin").c_str(), &st), 0) << "an empty local file was left behind";

    ::setenv("KESTRIX_FTP_PASSWORD", "p", 1);
    EXPECT_EQ(Run("--user u 127.0.0.1:" + std::to_string(server->port()) + " mkdir made").status, 0);
    ::unsetenv("KESTRIX_FTP_PASSWORD");
    EXPECT_EQ(::stat(root_.Path("made").c_str(), &st), 0);
}

TEST_F(CliTest, IncompleteTransferNeverExitsZero)
{
    root_.Write("data.bin", std::string(1000000, 'x'));
    auto server = kxtest::StartScriptedFtpd(root_.path(), {"--drop-after", "RETR=100000"});
    std::string url = "ftp://u:p@127.0.0.1:" + std::to_string(server->port());
    Result r = Run(url + " get data.bin");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("12111"), std::string::npos) << r.err;

    Result usage = Run("--no-such-option host ls");
    EXPECT_EQ(usage.status, 2);
}

TEST_F(CliTest, OddServersAndOddArgumentsGetSoundAnswers)
{
    root_.Write("crlf.txt", "line one\r\nline two\r\n");
    std::string data(300000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    root_.Write("data.bin", data);
    // A server that says 350 to REST and then sends from the first byte.
    auto server = kxtest::StartScriptedFtpd(root_.path(), {"--reply", "REST=350 Restarting.\\r\\n"});
    const std::string url = "ftp://u:p@127.0.0.1:" + std::to_string(server->port()) + " ";

    // ASCII changes the length on the way: the announced size is no measure.
    Result ascii = Run(url + "--ascii get crlf.txt");
    EXPECT_EQ(ascii.status, 0) << ascii.err;
    EXPECT_EQ(work_.Read("crlf.txt"), "line one\nline two\n");

    // The resumed copy never grows past the file with the wrong bytes.
    work_.Write("partial.bin", data.substr(0, 1000));
    Result resumed = Run(url + "--continue get data.bin partial.bin");
    EXPECT_EQ(resumed.status, 1);
    EXPECT_NE(resumed.err.find("did not resume"), std::string::npos) << resumed.err;
    EXPECT_EQ(work_.Read("partial.bin"), data.substr(0, 1000));

    // A password in a malformed address stays out of the usage error.
    Result usage = Run("'ftp://u:topsecret@[::1' ls");
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.err.find("topsecret"), std::string::npos) << usage.err;

    // Below a millisecond is the shortest time-out, not none; SIGTERM is 143.
    auto stalled = kxtest::StartScriptedFtpd(root_.path(), {"--stall", "GREETING"});
    const std::string stalledUrl = "ftp://u:p@127.0.0.1:" + std::to_string(stalled->port()) + " ";
    const auto start = std::chrono::steady_clock::now();
    Result quick = Run("--timeout 0.0004 " + stalledUrl + "ls");
    EXPECT_EQ(quick.status, 1) << quick.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const std::string cmd = "timeout --preserve-status -s TERM 1 '" + kCli + "' " + stalledUrl + "ls >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 143) << rc;
}

}  // namespace

namespace {

// Credentials from a netrc, as curl takes them: the host's entry (or the
// default one) fills what the command line leaves out; a file others may
// read is refused before anything is sent; quoted values and macros parse.
TEST_F(CliTest, NetrcGivesTheCredentialsTheCommandLineLeavesOut)
{
    root_.Write("readme.txt", "hello");
    auto server = kxtest::StartPyFtpd(root_.path(), "anna", "se cret");
    const std::string host = "127.0.0.1:" + std::to_string(server->port()) + " ";
    const std::string netrc = work_.Write("netrc",
                                          "macdef init\ncd /pub\nls\n\n"
                                          "machine 127.0.0.2 login other password wrong\n"
                                          "machine 127.0.0.1\n  login anna\n  password \"se cret\"\n"
                                          "default login anonymous password guest@\n");
    ::chmod(netrc.c_str(), 0600);
    ::unsetenv("KESTRIX_FTP_PASSWORD");

    Result byFile = Run("--netrc-file '" + netrc + "' " + host + "ls");
    EXPECT_EQ(byFile.status, 0) << byFile.err;
    EXPECT_NE(byFile.out.find(" readme.txt\n"), std::string::npos) << byFile.out;

    // --netrc reads $NETRC (or ~/.netrc); a user named on the command line
    // picks the entry with that login, or none.
    ::setenv("NETRC", netrc.c_str(), 1);
    EXPECT_EQ(Run("--netrc --user anna " + host + "ls").status, 0);
    Result otherUser = Run("--netrc --user bob " + host + "ls");
    EXPECT_EQ(otherUser.status, 1) << otherUser.err;
    // A password on the command line wins over the file's.
    EXPECT_EQ(Run("--netrc --password wrong " + host + "ls").status, 1);
    ::unsetenv("NETRC");

    ::chmod(netrc.c_str(), 0644);
    Result leaky = Run("--netrc-file '" + netrc + "' " + host + "ls");
    EXPECT_EQ(leaky.status, 2);
    EXPECT_NE(leaky.err.find("may be read by others (mode 0644)"), std::string::npos) << leaky.err;
    EXPECT_EQ(leaky.out, "");

    const std::string broken = work_.Write("broken", "machine 127.0.0.1 login anna password \"open\n");
    ::chmod(broken.c_str(), 0600);
    Result unreadable = Run("--netrc-file '" + broken + "' " + host + "ls");
    EXPECT_EQ(unreadable.status, 2);
    EXPECT_NE(unreadable.err.find("not closed"), std::string::npos) << unreadable.err;
    EXPECT_EQ(Run("--netrc-file '" + work_.Path("none") + "' " + host + "ls").status, 2);
}

TEST_F(CliTest, MirrorCopiesWhatDiffersKeepsTimesAndDeletesOnlyWhenAsked)
{
    SetFileTime(root_.Write("site/index.html", "new index"), 1500000000);
    SetFileTime(root_.Write("site/css/style.css", "body{}"), 1500000000);
    SetFileTime(root_.Write("site/same.txt", "same"), 1500000000);
    SetFileTime(work_.Write("copy/same.txt", "same"), 1500000000);
    SetFileTime(work_.Write("copy/index.html", "old"), 1400000000);
    work_.Write("copy/stray.txt", "only here");
    auto server = kxtest::StartPyFtpd(root_.path(), "u", "p");
    const std::string base = "--user u --password p 127.0.0.1:" + std::to_string(server->port()) + " ";

    // A dry run names every action and changes nothing.
    Result dry = Run(base + "--dry-run --delete mirror /site copy");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("would download index.html (newer)"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("would mkdir css"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("would download css/style.css (new)"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("would delete stray.txt"), std::string::npos) << dry.out;
    EXPECT_EQ(dry.out.find("same.txt"), std::string::npos) << dry.out;
    EXPECT_EQ(work_.Read("copy/index.html"), "old");

    // Without --delete nothing goes; the copies get the server's times.
    Result down = Run(base + "mirror /site copy");
    EXPECT_EQ(down.status, 0) << down.err;
    EXPECT_EQ(work_.Read("copy/index.html"), "new index");
    EXPECT_EQ(work_.Read("copy/css/style.css"), "body{}");
    EXPECT_EQ(FileTime(work_.Path("copy/css/style.css")), 1500000000);
    EXPECT_EQ(work_.Read("copy/stray.txt"), "only here");
    EXPECT_EQ(Run(base + "--delete mirror /site copy").status, 0);
    EXPECT_EQ(::access(work_.Path("copy/stray.txt").c_str(), F_OK), -1);

    // Reversed, only newer: a remote file newer than the local one stays.
    SetFileTime(work_.Write("copy/index.html", "edited, and older"), 1300000000);
    SetFileTime(work_.Write("copy/added.txt", "added"), 1600000000);
    Result up = Run(base + "--only-newer -R mirror /site copy");
    EXPECT_EQ(up.status, 0) << up.err;
    EXPECT_EQ(root_.Read("site/index.html"), "new index");
    EXPECT_EQ(root_.Read("site/added.txt"), "added");
    EXPECT_EQ(FileTime(root_.Path("site/added.txt")), 1600000000);

    // Into a folder not there yet: made, never a listing that failed.
    Result fresh = Run(base + "mirror /site new/copy");
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_EQ(work_.Read("new/copy/css/style.css"), "body{}");

    // A source that cannot be listed: an error, and nothing deleted.
    Result missing = Run(base + "--delete mirror /nowhere copy");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(work_.Read("copy/added.txt"), "added");
}

} // namespace
