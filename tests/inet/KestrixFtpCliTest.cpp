// kestrix-ftp, the command-line client, run as a process against the test servers.

#include "support/ServerProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kCli = std::string(KX_BINARY_DIR) + "/src/cli/kestrix-ftp";

struct Result {
    int status = -1;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(kCli.c_str(), X_OK) != 0)
            GTEST_SKIP() << kCli << " is not built (target kestrix-ftp)";
    }
    // The arguments are test-made paths and words: no shell quoting needed beyond '...'.
    Result Run(const std::string& args)
    {
        std::string out = work_.Path("out.txt"), err = work_.Path("err.txt");
        std::string cmd = "cd '" + work_.path() + "' && '" + kCli + "' " + args + " >'" + out + "' 2>'" + err +
                          "' </dev/null";
        int rc = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        r.out = work_.Read("out.txt");
        r.err = work_.Read("err.txt");
        return r;
    }
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

}  // namespace
