// kestrix-ftp with sftp:// addresses, run as a process against OpenSSH.

#include "support/InetHelpers.h"
#include "support/ServerProcess.h"
#include "tools/CliProcess.h"
#include "support/SshServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string& kCli = kxtest::kFtpTool;
using kxtest::SshServer;

using Result = kxtest::CliResult;
using kxtest::FileTime;
using kxtest::SetFileTime;

class CliSftpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(kCli.c_str(), X_OK) != 0)
            GTEST_SKIP() << kCli << " is not built (target kestrix-ftp)";
        std::string whyNot;
        ssh_ = SshServer::Start(root_.path(), whyNot);
        if (!ssh_)
            GTEST_SKIP() << whyNot;
        knownHosts_ = ssh_->WriteKnownHosts("known_hosts");
        // No agent and no ~/.ssh of the machine: a HOME of the test's own.
        if (const char* home = std::getenv("HOME"))
            savedHome_ = home;
        ::setenv("HOME", home_.path().c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        ::unsetenv("KESTRIX_FTP_PASSWORD");
    }
    void TearDown() override
    {
        if (savedHome_)
            ::setenv("HOME", savedHome_->c_str(), 1);
    }
    std::string Url(const std::string& path = "/~/") const
    {
        return std::string("sftp://") + SshServer::kUser + "@127.0.0.1:" + std::to_string(ssh_->port()) + path;
    }
    std::string WithPassword() const { return "--password '" + std::string(SshServer::kPassword) + "' "; }
    Result Run(const std::string& args) { return kxtest::RunFtpTool(work_, args); }
    kxtest::TempDir root_, work_, home_;
    std::unique_ptr<SshServer> ssh_;
    std::string knownHosts_;
    std::optional<std::string> savedHome_;
};

TEST_F(CliSftpTest, CommandsWorkAsOverFtp)
{
    const std::string data = kxtest::RandomBytes(700000, 4);
    root_.Write("data.bin", data);
    root_.MakeDir("folder");
    ssh_->Own(root_.path());
    const std::string base = "--known-hosts '" + knownHosts_ + "' " + WithPassword() + "'" + Url() + "' ";

    Result ls = Run(base + "ls");
    EXPECT_EQ(ls.status, 0) << ls.err;
    EXPECT_NE(ls.out.find("-         700000 "), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find(" data.bin\n"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find(" folder\n"), std::string::npos) << ls.out;
    EXPECT_EQ(ls.out.find(" .\n"), std::string::npos) << ls.out;

    EXPECT_EQ(Run(base + "get data.bin copy.bin").status, 0);
    EXPECT_TRUE(work_.Read("copy.bin") == data);
    work_.Write("partial.bin", data.substr(0, 1000));
    EXPECT_EQ(Run(base + "--continue get data.bin partial.bin").status, 0);
    EXPECT_TRUE(work_.Read("partial.bin") == data);

    root_.Write("half.bin", data.substr(0, 300001));
    ssh_->Own(root_.Path("half.bin"));
    EXPECT_EQ(Run(base + "--continue put copy.bin half.bin").status, 0);
    EXPECT_TRUE(root_.Read("half.bin") == data);
    EXPECT_EQ(Run(base + "put copy.bin folder/new.bin").status, 0);
    EXPECT_TRUE(root_.Read("folder/new.bin") == data);

    EXPECT_EQ(Run(base + "mkdir made").status, 0);
    EXPECT_EQ(Run(base + "rename folder/new.bin made/moved.bin").status, 0);
    EXPECT_TRUE(root_.Read("made/moved.bin") == data);
    EXPECT_EQ(Run(base + "rm made/moved.bin").status, 0);
    EXPECT_EQ(Run(base + "rmdir made").status, 0);
    struct stat st{};
    EXPECT_NE(::stat(root_.Path("made").c_str(), &st), 0);

    Result missing = Run(base + "get nothing.bin");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;
    EXPECT_NE(::stat(work_.Path("nothing.bin").c_str(), &st), 0) << "an empty local file was left behind";

    Result quote = Run(base + "quote NOOP");
    EXPECT_EQ(quote.status, 2);
    EXPECT_NE(quote.err.find("SFTP has no such thing"), std::string::npos) << quote.err;

    // A key instead of the password; the home folder from the address.
    Result byKey = Run("--known-hosts '" + knownHosts_ + "' --identity '" + ssh_->keyFile() + "' '" +
                       Url(root_.path()) + "' ls");
    EXPECT_EQ(byKey.status, 0) << byKey.err;
    EXPECT_NE(byKey.out.find(" data.bin\n"), std::string::npos) << byKey.out;
    ::setenv("KESTRIX_FTP_PASSPHRASE", SshServer::kPassphrase, 1);
    Result byProtectedKey = Run("--known-hosts '" + knownHosts_ + "' --identity '" + ssh_->protectedKeyFile() +
                                "' '" + Url() + "' ls");
    ::unsetenv("KESTRIX_FTP_PASSPHRASE");
    EXPECT_EQ(byProtectedKey.status, 0) << byProtectedKey.err;

    Result wrong = Run("--known-hosts '" + knownHosts_ + "' --password 'Sesame-but-wrong' '" + Url() + "' ls");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("error 12242"), std::string::npos) << wrong.err;
    EXPECT_EQ(wrong.err.find("Sesame-but-wrong"), std::string::npos) << wrong.err;

    Result ftpOnly = Run(base + "--ascii ls");
    EXPECT_EQ(ftpOnly.status, 2) << ftpOnly.err;
}

TEST_F(CliSftpTest, SigtermEndsATransferWith143)
{
    root_.Write("big.bin", kxtest::RandomBytes(128 * 1024 * 1024, 6));
    ssh_->Own(root_.path());
    // The sftp-server is stopped as soon as it starts: only the signal can end the wait.
    const std::string pids = ssh_->workDir() + "/sftp-server.pids";
    const std::string script = work_.Write(
        "stall.sh", "'" + kCli + "' --quiet --known-hosts '" + knownHosts_ + "' " + WithPassword() + "'" + Url() +
                        "' get big.bin '" + work_.Path("big.bin") + "' >/dev/null 2>&1 &\n"
                        "client=$!\n"
                        "for i in $(seq 500); do [ -s '" + pids + "' ] && break; sleep 0.01; done\n"
                        "kill -STOP $(tail -n 1 '" + pids + "')\n"
                        "sleep 1; kill -TERM $client; wait $client\n");
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(("/bin/bash '" + script + "'").c_str());
    for (pid_t pid : ssh_->SftpServerPids())
        ::kill(pid, SIGCONT);
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 143) << rc;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(CliSftpTest, HostKeysFollowTheRules)
{
    root_.Write("a.txt", "a");
    ssh_->Own(root_.path());
    const std::string empty = work_.Write("empty_known_hosts", "");
    const std::string args = WithPassword() + "'" + Url() + "' ls";

    Result unknown = Run("--known-hosts '" + empty + "' " + args);
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("error 12240"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find(ssh_->fingerprint()), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("--insecure"), std::string::npos) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    Result insecure = Run("--insecure --known-hosts '" + empty + "' " + args);
    EXPECT_EQ(insecure.status, 0) << insecure.err;
    EXPECT_NE(insecure.out.find(" a.txt\n"), std::string::npos);
    EXPECT_EQ(work_.Read("empty_known_hosts"), "") << "--insecure remembers nothing";

    // Without --known-hosts: ~/.ssh/known_hosts of the (test's) home.
    ::mkdir(home_.Path(".ssh").c_str(), 0700);
    home_.Write(".ssh/known_hosts", ssh_->KnownHostsLine() + "\n");
    EXPECT_EQ(Run(args).status, 0);

    kxtest::MakeSshKey(work_.Path("other"));
    std::string other = work_.Read("other.pub");
    other = other.substr(0, other.find(' ', other.find(' ') + 1));  // type and key
    const std::string changed = work_.Write("changed_known_hosts",
                                            "[127.0.0.1]:" + std::to_string(ssh_->port()) + " " + other + "\n");
    Result refused = Run("--insecure --known-hosts '" + changed + "' " + args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("error 12241"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("ssh-keygen -R"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
}

TEST_F(CliSftpTest, MirrorBothWaysKeepsTimesAndDeletesOnlyWhenAsked)
{
    SetFileTime(root_.Write("site/index.html", "new index"), 1500000000);
    SetFileTime(root_.Write("site/css/style.css", "body{}"), 1500000000);
    SetFileTime(work_.Write("copy/index.html", "old"), 1400000000);
    work_.Write("copy/stray.txt", "only here");
    ssh_->Own(root_.path());
    // The root is relative to the login folder: every folder of the tree is
    // entered on the way, and the root must not be read from the last one.
    const std::string base = "--known-hosts '" + knownHosts_ + "' " + WithPassword() + "'" + Url() + "' ";

    Result down = Run(base + "mirror site copy");
    EXPECT_EQ(down.status, 0) << down.err;
    EXPECT_EQ(work_.Read("copy/index.html"), "new index");
    EXPECT_EQ(work_.Read("copy/css/style.css"), "body{}");
    EXPECT_EQ(FileTime(work_.Path("copy/css/style.css")), 1500000000);
    EXPECT_EQ(work_.Read("copy/stray.txt"), "only here") << "nothing is deleted without --delete";
    EXPECT_EQ(Run(base + "--delete mirror site copy").status, 0);
    EXPECT_EQ(::access(work_.Path("copy/stray.txt").c_str(), F_OK), -1);

    SetFileTime(work_.Write("copy/css/added.txt", "added"), 1600000000);
    Result up = Run(base + "-R mirror site copy");
    EXPECT_EQ(up.status, 0) << up.err;
    EXPECT_NE(up.out.find("upload css/added.txt (new)"), std::string::npos) << up.out;
    EXPECT_EQ(root_.Read("site/css/added.txt"), "added");
    EXPECT_EQ(FileTime(root_.Path("site/css/added.txt")), 1600000000) << "set over SFTP as over FTP";

    Result missing = Run(base + "mirror nowhere copy");
    EXPECT_NE(missing.status, 0);
    EXPECT_EQ(work_.Read("copy/index.html"), "new index") << "a root that is not there changes nothing";
}

}  // namespace
