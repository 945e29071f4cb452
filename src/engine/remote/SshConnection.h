#pragma once

// One SSH connection (libssh) with the "sftp" subsystem on a channel of its
// own: the TCP connection, the handshake, the host key check against
// known_hosts, the logins tried in turn, and the channel as the byte pipe of
// the SFTP client. Internal to SftpFileSystem.
//
// Used by one thread; Cancel() from any thread shuts the socket down, which
// wakes whatever waits on it: the call then throws 12017.

#include "engine/remote/RemoteFileSystem.h"
#include "engine/remote/SftpClient.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace remote {

class SshConnection final : public sftp::Channel {
public:
    SshConnection();
    ~SshConnection() override;
    SshConnection(const SshConnection&) = delete;
    SshConnection& operator=(const SshConnection&) = delete;

    // Connects, checks the host key, logs in and starts the sftp subsystem.
    void Open(const ConnectOptions& options, const Callbacks& callbacks);

    std::size_t ReadSome(void* data, std::size_t size) override;
    void WriteAll(const void* data, std::size_t size) override;
    bool WaitReadable(int timeoutMs) override;
    std::uint32_t receiveTimeoutMs() const override { return receiveTimeoutMs_; }

    // Any thread.
    void Cancel();
    bool cancelled() const { return cancelled_.load(); }

    // The cipher agreed on, for the trace.
    std::string cipher() const;

private:
    struct Impl;
    [[noreturn]] void Fail(std::uint32_t fallback, const std::string& what);
    void ConnectSocket(const ConnectOptions& options, const Callbacks& callbacks);
    void CheckHostKey(const ConnectOptions& options, const Callbacks& callbacks);
    void Authenticate(const ConnectOptions& options, const Callbacks& callbacks);

    std::unique_ptr<Impl> d_;
    std::atomic<bool> cancelled_{false};
    std::mutex fdMutex_;
    int fd_ = -1;         // ours; libssh works on a duplicate of it
    int wakeFd_ = -1;     // eventfd: wakes a TCP connect in progress
    std::uint32_t receiveTimeoutMs_ = 0;
};

// ~/.ssh (from $HOME, else the password database).
std::string SshFolder();

}  // namespace remote
