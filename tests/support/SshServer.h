#pragma once

// An OpenSSH server for the tests (sshd_server.py): its own configuration,
// host key and test account, on a free loopback port, gone with the object.

#include "support/ServerProcess.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace kxtest {

struct SshServerOptions {
    bool keyboardInteractive = false;  // keyboard-interactive through PAM
    bool passwords = true;             // password logins allowed
    std::string hostKey;               // an existing private host key (default: a new one)
};

class SshServer {
public:
    static constexpr const char* kUser = "kestrixsftp";
    static constexpr const char* kPassword = "Open-Sesame 4711";
    static constexpr const char* kPassphrase = "key phrase 0815";

    // Serves `root` (the folder a login lands in; handed to the test account).
    // nullptr with the reason in `whyNot` where no server can run here (not
    // root, openssh-server missing): the caller skips. Other failures throw.
    static std::unique_ptr<SshServer> Start(const std::string& root, std::string& whyNot,
                                            const SshServerOptions& options = {});
    ~SshServer();

    int port() const { return process_->port(); }
    ServerProcess& process() { return *process_; }

    // Client keys the account accepts: plain, and one behind kPassphrase.
    const std::string& keyFile() const { return keyFile_; }
    const std::string& protectedKeyFile() const { return protectedKeyFile_; }
    // A key the account does not accept.
    const std::string& strangerKeyFile() const { return strangerKeyFile_; }

    // "[127.0.0.1]:PORT ssh-ed25519 AAAA..." for a known_hosts file.
    std::string KnownHostsLine() const;
    // The host key's fingerprint as OpenSSH prints it ("SHA256:...").
    const std::string& fingerprint() const { return fingerprint_; }
    // A known_hosts file holding the server's key, written into the work folder.
    std::string WriteKnownHosts(const std::string& name) const;

    // Gives a file or folder made by the test to the account, so it can change it.
    void Own(const std::string& path) const;

    // The sftp-server processes started so far, oldest first.
    std::vector<pid_t> SftpServerPids() const;

    const std::string& workDir() const { return work_->path(); }

private:
    SshServer() = default;
    std::unique_ptr<TempDir> work_;
    std::unique_ptr<ServerProcess> process_;
    std::string keyFile_, protectedKeyFile_, strangerKeyFile_, hostPublicKey_, fingerprint_;
};

// Makes an ed25519 key pair at `path` (and path.pub) with ssh-keygen.
void MakeSshKey(const std::string& path, const std::string& passphrase = {});

}  // namespace kxtest
