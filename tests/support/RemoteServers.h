#pragma once

// The servers behind the remote file system tests: pyftpdlib for FTP, OpenSSH
// for SFTP, each over a fresh folder, with what a test needs to reach into
// them (give a file to the server's account, stall the process serving the
// connection, connect).

#include "engine/remote/RemoteFileSystem.h"
#include "support/InetHelpers.h"
#include "support/ServerProcess.h"
#include "support/SshServer.h"

#include <signal.h>

#include <cstdio>

#include <memory>
#include <string>
#include <vector>

namespace kxtest {

// The first child of a process, as /proc lists it.
inline pid_t FirstChild(pid_t pid)
{
    if (pid <= 0)
        return -1;
    const std::string file = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
    long child = -1;
    if (FILE* f = std::fopen(file.c_str(), "r")) {
        if (std::fscanf(f, "%ld", &child) != 1)
            child = -1;
        std::fclose(f);
    }
    return static_cast<pid_t>(child);
}

class RemoteServer {
public:
    virtual ~RemoteServer() = default;

    // nullptr, with the reason, where the protocol's server cannot run here.
    static std::unique_ptr<RemoteServer> Start(remote::Protocol protocol, const TempDir& root, std::string& whyNot);

    remote::ConnectOptions options;
    remote::Callbacks callbacks;

    // Files and folders made on the server side by the test (through `root`)
    // become the server account's.
    virtual void Own(const std::string& path) = 0;

    // Stops (SIGSTOP) the process serving the newest connection; Resume()
    // lets every stopped one go on.
    void Stall() { Stop(ServingPid()); }
    // Stops the process that accepts new connections: a login then hangs.
    void StallLogins() { Stop(ListeningPid()); }
    void Resume()
    {
        for (pid_t pid : stopped_)
            ::kill(pid, SIGCONT);
        stopped_.clear();
    }

    std::unique_ptr<remote::IFileSystem> Connect()
    {
        auto fs = remote::CreateFileSystem(options.protocol);
        fs->Connect(options, callbacks);
        return fs;
    }

protected:
    virtual pid_t ServingPid() = 0;
    virtual pid_t ListeningPid() = 0;

private:
    void Stop(pid_t pid)
    {
        if (pid > 0 && ::kill(pid, SIGSTOP) == 0)
            stopped_.push_back(pid);
    }
    std::vector<pid_t> stopped_;
};

class FtpServer final : public RemoteServer {
public:
    explicit FtpServer(const TempDir& root) : process_(StartPyFtpd(root.path(), "u", "p"))
    {
        options.protocol = remote::Protocol::Ftp;
        options.host = "127.0.0.1";
        options.port = process_->port();
        options.user = "u";
        options.password = "p";
    }
    // A stopped server could not stop when asked: it goes on first.
    ~FtpServer() override { Resume(); }
    void Own(const std::string&) override {}

protected:
    pid_t ServingPid() override { return process_->pid(); }  // one process serves them all
    pid_t ListeningPid() override { return process_->pid(); }

private:
    std::unique_ptr<ServerProcess> process_;
};

class SftpServer final : public RemoteServer {
public:
    explicit SftpServer(std::unique_ptr<SshServer> ssh) : ssh_(std::move(ssh))
    {
        options.protocol = remote::Protocol::Sftp;
        options.host = "127.0.0.1";
        options.port = ssh_->port();
        options.user = SshServer::kUser;
        options.password = SshServer::kPassword;
        options.knownHostsFile = ssh_->WriteKnownHosts("known_hosts");
        // Nothing of the machine's own: no agent, no ~/.ssh keys.
        options.useAgent = false;
        options.useDefaultKeys = false;
    }
    ~SftpServer() override { Resume(); }
    void Own(const std::string& path) override { ssh_->Own(path); }
    SshServer& ssh() { return *ssh_; }

protected:
    pid_t ServingPid() override
    {
        const std::vector<pid_t> pids = ssh_->SftpServerPids();
        return pids.empty() ? -1 : pids.back();
    }
    // The script starts unshare, which starts sshd.
    pid_t ListeningPid() override { return FirstChild(FirstChild(ssh_->process().pid())); }

private:
    std::unique_ptr<SshServer> ssh_;
};

inline std::unique_ptr<RemoteServer> RemoteServer::Start(remote::Protocol protocol, const TempDir& root,
                                                        std::string& whyNot)
{
    if (protocol == remote::Protocol::Ftp)
        return std::make_unique<FtpServer>(root);
    auto ssh = SshServer::Start(root.path(), whyNot);
    if (!ssh)
        return nullptr;
    return std::make_unique<SftpServer>(std::move(ssh));
}

// A connected FTP file system on a pyftpdlib of the tests.
inline std::unique_ptr<remote::IFileSystem> ConnectFtp(int port, const std::string& user = "anna",
                                                      const std::string& password = "secret")
{
    remote::ConnectOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.user = user;
    options.password = password;
    auto fs = remote::CreateFileSystem(remote::Protocol::Ftp);
    fs->Connect(options);
    return fs;
}

// `folder` + "/" + `name`, for folders that may be "/" themselves.
inline std::string Join(const std::string& folder, const std::string& name)
{
    return folder + (!folder.empty() && folder.back() == '/' ? "" : "/") + name;
}

}  // namespace kxtest
