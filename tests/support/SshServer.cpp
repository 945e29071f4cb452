#include "support/SshServer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kxtest {
namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The paths are made by the tests themselves: single quotes are enough.
void RunOrThrow(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

}  // namespace

void MakeSshKey(const std::string& path, const std::string& passphrase)
{
    RunOrThrow("/usr/bin/ssh-keygen -q -t ed25519 -C kestrix-test -N '" + passphrase + "' -f '" + path +
               "' </dev/null");
}

std::unique_ptr<SshServer> SshServer::Start(const std::string& root, std::string& whyNot,
                                            const SshServerOptions& options)
{
    if (::geteuid() != 0) {
        whyNot = "the OpenSSH test server needs root (it logs in a test account); run the tests as root";
        return nullptr;
    }
    for (const char* tool : {"/usr/sbin/sshd", "/usr/lib/openssh/sftp-server", "/usr/bin/ssh-keygen"})
        if (::access(tool, X_OK) != 0) {
            whyNot = std::string(tool) + " is missing: apt-get install openssh-server openssh-client";
            return nullptr;
        }
    std::unique_ptr<SshServer> server(new SshServer);
    server->work_ = std::make_unique<TempDir>();
    const TempDir& work = *server->work_;
    server->keyFile_ = work.Path("id_plain");
    server->protectedKeyFile_ = work.Path("id_protected");
    server->strangerKeyFile_ = work.Path("id_stranger");
    MakeSshKey(server->keyFile_);
    MakeSshKey(server->protectedKeyFile_, kPassphrase);
    MakeSshKey(server->strangerKeyFile_);
    work.Write("accepted_keys", Slurp(server->keyFile_ + ".pub") + Slurp(server->protectedKeyFile_ + ".pub"));

    std::string hostKey = options.hostKey;
    if (hostKey.empty()) {
        hostKey = work.Path("host_key");
        RunOrThrow("/usr/bin/ssh-keygen -q -t ed25519 -C kestrix-test-host -N '' -f '" + hostKey + "' </dev/null");
    }
    server->hostPublicKey_ = Trimmed(Slurp(hostKey + ".pub"));
    // "256 SHA256:... comment (ED25519)"
    const std::string listing = work.Path("fingerprint.txt");
    RunOrThrow("/usr/bin/ssh-keygen -l -E sha256 -f '" + hostKey + ".pub' >'" + listing + "'");
    std::istringstream words(Slurp(listing));
    std::string bits;
    words >> bits >> server->fingerprint_;

    std::vector<std::string> args{"--root",     root,     "--work",           work.path(),
                                  "--user",     kUser,    "--password",       kPassword,
                                  "--authorized-keys", work.Path("accepted_keys"), "--host-key", hostKey};
    if (options.keyboardInteractive)
        args.push_back("--kbdint");
    if (!options.passwords)
        args.push_back("--no-password");
    server->process_ = ServerProcess::Start(SupportScript("sshd_server.py"), args);
    return server;
}

SshServer::~SshServer() = default;

std::string SshServer::KnownHostsLine() const
{
    // Only the key type and the key: the comment is not part of a known_hosts line.
    std::istringstream words(hostPublicKey_);
    std::string type, key;
    words >> type >> key;
    return "[127.0.0.1]:" + std::to_string(port()) + " " + type + " " + key;
}

std::string SshServer::WriteKnownHosts(const std::string& name) const
{
    return work_->Write(name, KnownHostsLine() + "\n");
}

void SshServer::Own(const std::string& path) const
{
    const passwd* pw = ::getpwnam(kUser);
    if (!pw)
        throw std::runtime_error("no test account");
    namespace fs = std::filesystem;
    if (::lchown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
        throw std::runtime_error("cannot chown " + path);
    if (fs::is_directory(fs::symlink_status(path)))
        for (const auto& entry : fs::recursive_directory_iterator(path))
            if (::lchown(entry.path().c_str(), pw->pw_uid, pw->pw_gid) != 0)
                throw std::runtime_error("cannot chown " + entry.path().string());
}

std::vector<pid_t> SshServer::SftpServerPids() const
{
    std::vector<pid_t> pids;
    std::istringstream lines(Slurp(work_->Path("sftp-server.pids")));
    long pid = 0;
    while (lines >> pid)
        pids.push_back(static_cast<pid_t>(pid));
    return pids;
}

}  // namespace kxtest
