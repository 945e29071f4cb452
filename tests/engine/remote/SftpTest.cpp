// What only SFTP has, against OpenSSH: host keys, the ways to log in, the
// trace, names that cannot be local names, and a channel that closes mid-file.

#include "engine/remote/RemoteFileSystem.h"
#include "support/RemoteServers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace {

using kxtest::ErrorOf;
using kxtest::SshServer;
namespace ierr = inet::err;
namespace rerr = remote::err;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class SftpTest : public ::testing::Test {
protected:
    void SetUp() override { Start({}); }

    void Start(const kxtest::SshServerOptions& options)
    {
        server_.reset();
        std::string whyNot;
        ssh_ = nullptr;
        auto ssh = SshServer::Start(root_.path(), whyNot, options);
        if (!ssh)
            GTEST_SKIP() << whyNot;
        server_ = std::make_unique<kxtest::SftpServer>(std::move(ssh));
        ssh_ = &server_->ssh();
        options_ = server_->options;
    }

    // Connects with `options_`; the error number (0 on success).
    std::uint32_t Try(const remote::Callbacks& callbacks = {}, std::string* error = nullptr)
    {
        fs_ = remote::CreateFileSystem(remote::Protocol::Sftp);
        try {
            fs_->Connect(options_, callbacks);
        } catch (const inet::InternetError& e) {
            if (error)
                *error = e.what();
            return e.number();
        }
        return 0;
    }

    kxtest::TempDir root_;
    std::unique_ptr<kxtest::SftpServer> server_;
    SshServer* ssh_ = nullptr;
    remote::ConnectOptions options_;
    std::unique_ptr<remote::IFileSystem> fs_;
};

TEST_F(SftpTest, UnknownHostKeyIsAskedAboutAndRememberedOnlyWhenTrusted)
{
    kxtest::TempDir home;
    options_.knownHostsFile = home.Path("known_hosts");
    std::vector<remote::HostKeyInfo> asked;
    remote::HostKeyAnswer answer = remote::HostKeyAnswer::Cancel;
    remote::Callbacks callbacks;
    callbacks.hostKey = [&](const remote::HostKeyInfo& info) {
        asked.push_back(info);
        return answer;
    };

    std::string error;
    EXPECT_EQ(Try(callbacks, &error), rerr::kHostKeyUnknown);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].keyType, "ssh-ed25519");
    EXPECT_EQ(asked[0].fingerprint, ssh_->fingerprint());
    EXPECT_EQ(asked[0].host, "127.0.0.1");
    EXPECT_EQ(asked[0].port, ssh_->port());
    EXPECT_FALSE(asked[0].changed);
    EXPECT_NE(error.find(ssh_->fingerprint()), std::string::npos) << error;
    EXPECT_EQ(Try(), rerr::kHostKeyUnknown) << "no callback: refused";

    answer = remote::HostKeyAnswer::ConnectOnce;
    EXPECT_EQ(Try(callbacks), 0u);
    struct stat st{};
    EXPECT_NE(::stat(options_.knownHostsFile.c_str(), &st), 0) << "nothing remembered";

    answer = remote::HostKeyAnswer::AlwaysTrust;
    EXPECT_EQ(Try(callbacks), 0u);
    const std::string known = home.Read("known_hosts");
    EXPECT_NE(known.find("[127.0.0.1]:" + std::to_string(ssh_->port()) + " ssh-ed25519 "), std::string::npos) << known;
    asked.clear();
    EXPECT_EQ(Try(callbacks), 0u);
    EXPECT_TRUE(asked.empty()) << "a remembered key is not asked about again";

    // --insecure's way: accepted without a question, remembered nowhere.
    options_.knownHostsFile = home.Path("other_known_hosts");
    options_.acceptUnknownHostKey = true;
    EXPECT_EQ(Try(), 0u);
    EXPECT_NE(::stat(options_.knownHostsFile.c_str(), &st), 0);
}

TEST_F(SftpTest, ChangedHostKeyIsRefusedWhateverTheAnswer)
{
    // known_hosts holds another ed25519 key for this server.
    kxtest::TempDir keys;
    kxtest::MakeSshKey(keys.Path("other"));
    std::istringstream words(Slurp(keys.Path("other.pub")));
    std::string type, key;
    words >> type >> key;
    const std::string before = "# a comment stays\n[127.0.0.1]:" + std::to_string(ssh_->port()) + " " + type + " " + key;
    options_.knownHostsFile = keys.Write("known_hosts", before);  // no final line end
    std::vector<remote::HostKeyInfo> asked;
    remote::Callbacks callbacks;
    callbacks.hostKey = [&](const remote::HostKeyInfo& info) {
        asked.push_back(info);
        return remote::HostKeyAnswer::AlwaysTrust;
    };
    std::string error;
    EXPECT_EQ(Try(callbacks, &error), rerr::kHostKeyChanged);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].changed) << "told, for a warning";
    EXPECT_EQ(asked[0].fingerprint, ssh_->fingerprint());
    EXPECT_NE(error.find("changed"), std::string::npos) << error;
    options_.acceptUnknownHostKey = true;
    EXPECT_EQ(Try(callbacks), rerr::kHostKeyChanged);
    EXPECT_EQ(Try(), rerr::kHostKeyChanged);
    EXPECT_EQ(keys.Read("known_hosts"), before) << "known_hosts is left alone";
}

TEST_F(SftpTest, HashedKnownHostsEntriesCount)
{
    options_.knownHostsFile = ssh_->WriteKnownHosts("hashed_known_hosts");
    ASSERT_EQ(std::system(("/usr/bin/ssh-keygen -q -H -f '" + options_.knownHostsFile + "' >/dev/null 2>&1").c_str()),
              0);
    ASSERT_EQ(Slurp(options_.knownHostsFile).rfind("|1|", 0), 0u) << Slurp(options_.knownHostsFile);
    EXPECT_EQ(Try(), 0u);
}

TEST_F(SftpTest, TraceTellsTheStepsButNeverThePassword)
{
    std::vector<std::string> lines;
    remote::Callbacks callbacks;
    callbacks.trace = [&](inet::Talk kind, std::string_view line) {
        EXPECT_EQ(kind, inet::Talk::Note);
        lines.emplace_back(line);
    };
    ASSERT_EQ(Try(callbacks), 0u);
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    EXPECT_NE(all.find("Connected to 127.0.0.1 port " + std::to_string(ssh_->port())), std::string::npos) << all;
    EXPECT_NE(all.find("Server version: SSH-2.0-OpenSSH"), std::string::npos) << all;
    EXPECT_NE(all.find("Host key: ssh-ed25519 " + ssh_->fingerprint()), std::string::npos) << all;
    EXPECT_NE(all.find("Authenticated with the password"), std::string::npos) << all;
    EXPECT_NE(all.find("SFTP version 3"), std::string::npos) << all;
    EXPECT_EQ(all.find(SshServer::kPassword), std::string::npos) << all;

    options_.password = "wrong " + std::string(SshServer::kPassword);
    std::string error;
    lines.clear();
    EXPECT_EQ(Try(callbacks, &error), rerr::kAuthenticationRefused);
    EXPECT_NE(error.find("password"), std::string::npos) << error;
    EXPECT_EQ(error.find(options_.password), std::string::npos) << error;
    for (const std::string& l : lines)
        EXPECT_EQ(l.find(options_.password), std::string::npos) << l;
}

TEST_F(SftpTest, KeysLogInAndAPassphraseIsAskedOnce)
{
    options_.password.clear();
    options_.identityFile = ssh_->keyFile();
    std::vector<std::string> lines;
    remote::Callbacks callbacks;
    callbacks.trace = [&](inet::Talk, std::string_view line) { lines.emplace_back(line); };
    EXPECT_EQ(Try(callbacks), 0u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authenticated with the key " + ssh_->keyFile()), lines.end());

    int questions = 0;
    std::string answer = SshServer::kPassphrase;
    callbacks.passphrase = [&](const std::string& file) -> std::optional<std::string> {
        ++questions;
        EXPECT_EQ(file, ssh_->protectedKeyFile());
        return answer;
    };
    options_.identityFile = ssh_->protectedKeyFile();
    lines.clear();
    EXPECT_EQ(Try(callbacks), 0u);
    EXPECT_EQ(questions, 1);
    for (const std::string& l : lines)
        EXPECT_EQ(l.find(SshServer::kPassphrase), std::string::npos) << l;

    questions = 0;
    answer = "not the phrase";
    std::string error;
    EXPECT_EQ(Try(callbacks, &error), rerr::kAuthenticationRefused);
    EXPECT_EQ(questions, 1) << "asked once, not again and again";
    EXPECT_EQ(error.find("not the phrase"), std::string::npos) << error;

    // No answer at all: the key is skipped, the password still works.
    callbacks.passphrase = {};
    options_.password = SshServer::kPassword;
    EXPECT_EQ(Try(callbacks), 0u);

    options_.password.clear();
    options_.identityFile = ssh_->strangerKeyFile();
    EXPECT_EQ(Try(callbacks), rerr::kAuthenticationRefused);
    options_.identityFile = root_.Path("no-such-key");
    EXPECT_EQ(Try(callbacks), rerr::kKeyUnusable);

    // ~/.ssh/id_ed25519 without naming it: a HOME of the test's own.
    kxtest::TempDir home;
    home.Write(".ssh/id_ed25519", Slurp(ssh_->keyFile()));
    ::chmod(home.Path(".ssh/id_ed25519").c_str(), 0600);
    const char* savedHome = std::getenv("HOME");
    const std::string saved = savedHome ? savedHome : "";
    ::setenv("HOME", home.path().c_str(), 1);
    options_.identityFile.clear();
    options_.useDefaultKeys = true;
    lines.clear();
    EXPECT_EQ(Try(callbacks), 0u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authenticated with the key " + home.Path(".ssh/id_ed25519")),
              lines.end());
    options_.useDefaultKeys = false;
    EXPECT_EQ(Try(callbacks), rerr::kAuthenticationRefused);
    if (savedHome)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
}

// An ssh-agent of the test's own, holding the account's key.
class TestAgent {
public:
    explicit TestAgent(const std::string& socket) : socket_(socket)
    {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::execl("/usr/bin/ssh-agent", "ssh-agent", "-D", "-a", socket.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && ::access(socket.c_str(), F_OK) != 0; ++i)
            ::usleep(10000);
    }
    ~TestAgent()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool Add(const std::string& key) const
    {
        return std::system(("SSH_AUTH_SOCK='" + socket_ + "' /usr/bin/ssh-add -q '" + key + "' 2>/dev/null").c_str()) ==
               0;
    }

private:
    std::string socket_;
    pid_t pid_ = -1;
};

TEST_F(SftpTest, TheAgentIsAskedFirst)
{
    if (::access("/usr/bin/ssh-agent", X_OK) != 0)
        GTEST_SKIP() << "ssh-agent is missing (openssh-client)";
    kxtest::TempDir agentDir;
    TestAgent agent(agentDir.Path("agent.sock"));
    ASSERT_TRUE(agent.Add(ssh_->keyFile()));
    const char* saved = std::getenv("SSH_AUTH_SOCK");
    const std::string savedSocket = saved ? saved : "";
    ::setenv("SSH_AUTH_SOCK", agentDir.Path("agent.sock").c_str(), 1);
    options_.useAgent = true;
    options_.password.clear();
    std::vector<std::string> lines;
    remote::Callbacks callbacks;
    callbacks.trace = [&](inet::Talk, std::string_view line) { lines.emplace_back(line); };
    EXPECT_EQ(Try(callbacks), 0u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authenticated with a key from the SSH agent"), lines.end());
    options_.useAgent = false;
    EXPECT_EQ(Try(), rerr::kAuthenticationRefused) << "without the agent nothing is left to try";

    // An agent that is gone leaves the other ways to try.
    ::setenv("SSH_AUTH_SOCK", agentDir.Path("gone.sock").c_str(), 1);
    options_.useAgent = true;
    options_.password = SshServer::kPassword;
    EXPECT_EQ(Try(), 0u);
    if (saved)
        ::setenv("SSH_AUTH_SOCK", savedSocket.c_str(), 1);
    else
        ::unsetenv("SSH_AUTH_SOCK");
}

TEST_F(SftpTest, KeyboardInteractiveIsAnsweredWithThePassword)
{
    kxtest::SshServerOptions options;
    options.keyboardInteractive = true;
    options.passwords = false;
    Start(options);
    std::vector<std::string> lines;
    remote::Callbacks callbacks;
    callbacks.trace = [&](inet::Talk, std::string_view line) { lines.emplace_back(line); };
    std::string error;
    const std::uint32_t result = Try(callbacks, &error);
    if (result != 0 && error.find("keyboard-interactive") == std::string::npos)
        GTEST_SKIP() << "sshd offers no keyboard-interactive here (PAM): " << error;
    EXPECT_EQ(result, 0u) << error;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authenticated with keyboard-interactive"), lines.end());
    options_.password = "wrong";
    EXPECT_EQ(Try(callbacks), rerr::kAuthenticationRefused);
}

TEST_F(SftpTest, NamesThatCannotBeLocalNamesAreSkippedAndReported)
{
    root_.Write("fine.txt", "ok");
    root_.Write("line\nbreak.txt", "x");
    root_.Write("back\\slash.txt", "x");
    root_.Write("bell\a.txt", "x");
    root_.MakeDir("folder");
    ssh_->Own(root_.path());
    ASSERT_EQ(Try(), 0u);
    std::vector<std::string> names, unsafe, ignored;
    std::vector<remote::Entry> entries;
    fs_->List(
        "", [&](remote::Entry&& e) { entries.push_back(std::move(e)); },
        [&](inet::LineKind kind, std::string_view text) {
            (kind == inet::LineKind::UnsafeName ? unsafe : ignored).emplace_back(text);
        });
    for (const auto& e : entries)
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    std::sort(unsafe.begin(), unsafe.end());
    std::sort(ignored.begin(), ignored.end());
    EXPECT_EQ(names, (std::vector<std::string>{"fine.txt", "folder"}));
    EXPECT_EQ(unsafe, (std::vector<std::string>{"back\\slash.txt", "bell\a.txt", "line\nbreak.txt"}));
    EXPECT_EQ(ignored, (std::vector<std::string>{".", ".."}));

    // Owner, group and permissions come with every entry.
    for (const auto& e : entries) {
        EXPECT_EQ(e.owner, SshServer::kUser) << e.name;
        EXPECT_EQ(e.group, SshServer::kUser) << e.name;
        ASSERT_TRUE(e.mode) << e.name;
        if (e.name == "fine.txt") {
            EXPECT_EQ(e.permissions, "rw-r--r--");
        }
    }
    // A path holding NUL never reaches the server as a shorter one.
    EXPECT_EQ(ErrorOf([&] { fs_->RemoveFile(std::string("fine.txt\0.bak", 13)); }), ierr::kInvalidParameter);
    EXPECT_EQ(root_.Read("fine.txt"), "ok");
}

// Giving up on a stopped server and closing waits for nothing. (The FTP
// library's stream waits up to the receive time-out for its ABOR's answer
// there; Cancel() is the quick way out with FTP.)
TEST_F(SftpTest, LettingGoOfAStalledServerIsQuick)
{
    struct GaveUp {};
    root_.Write("big.bin", kxtest::RandomBytes(24 * 1024 * 1024, 5));
    ssh_->Own(root_.path());
    options_.receiveTimeoutMs = 20000;
    ASSERT_EQ(Try(), 0u);
    fs_->SetIdleHandler([] { throw GaveUp{}; }, 50);
    auto down = fs_->OpenRead("big.bin");
    std::string buffer(65536, '\0');
    ASSERT_GT(down->Read(buffer.data(), buffer.size()), 0u);
    server_->Stall();
    EXPECT_THROW(
        {
            while (down->Read(buffer.data(), buffer.size()) > 0) {
            }
        },
        GaveUp);
    const auto start = std::chrono::steady_clock::now();
    down.reset();
    fs_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SftpTest, AChannelClosedMidFileIsAFailure)
{
    const std::string data = kxtest::RandomBytes(48 * 1024 * 1024, 3);
    root_.Write("big.bin", data);
    ssh_->Own(root_.path());
    ASSERT_EQ(Try(), 0u);
    auto down = fs_->OpenRead("big.bin");
    EXPECT_EQ(down->size().value_or(0), data.size());
    std::string got, buffer(1 << 20, '\0');
    got.append(buffer.data(), down->Read(buffer.data(), buffer.size()));
    const std::vector<pid_t> pids = ssh_->SftpServerPids();
    ASSERT_FALSE(pids.empty());
    ::kill(pids.back(), SIGKILL);
    const std::uint32_t error = ErrorOf([&] {
        while (std::size_t n = down->Read(buffer.data(), buffer.size()))
            got.append(buffer.data(), n);
    });
    EXPECT_EQ(error, rerr::kChannelClosed);
    EXPECT_LT(got.size(), data.size());
    EXPECT_EQ(got, data.substr(0, got.size())) << "what came is the file's start";

    // The same on the way up: the upload never counts as done.
    ASSERT_EQ(Try(), 0u);
    auto up = fs_->OpenWrite("up.bin");
    up->Write(data.data(), 1 << 20);
    ::kill(ssh_->SftpServerPids().back(), SIGKILL);
    const std::uint32_t upError = ErrorOf([&] {
        up->Write(data.data(), data.size());
        up->Close();
    });
    EXPECT_EQ(upError, rerr::kChannelClosed);
}

}  // namespace
