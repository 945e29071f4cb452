#pragma once

// The FTP side of the remote file system: the FTP library (engine/inet) behind
// the protocol-neutral interface, with its behaviour and its speed (downloads
// keep the kernel copy of FtpStream::ReadInto) unchanged.

#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetSession.h"
#include "engine/remote/RemoteFileSystem.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace remote {

class FtpFileSystem final : public IFileSystem {
public:
    // Each Connect() works in a session of its own (a cancelled session stays
    // closed for good), made by `makeSession`: where proxies, certificate
    // callbacks, pinned certificates and the CA file are set. The default one
    // is a plain session with the environment's proxy settings. Time-outs come
    // from ConnectOptions, the trace callback from Callbacks.
    using SessionFactory = std::function<std::unique_ptr<inet::InternetSession>()>;
    explicit FtpFileSystem(SessionFactory makeSession = {});
    ~FtpFileSystem() override;

    Protocol protocol() const override { return Protocol::Ftp; }
    Features features() const override;

    void Connect(const ConnectOptions& options, const Callbacks& callbacks = {}) override;
    bool IsConnected() const override;

    std::string GetHomeDirectory() override;
    std::string GetCurrentDirectory() override;
    void SetCurrentDirectory(const std::string& path) override;
    void List(const std::string& path, const EntryCallback& onEntry, const ProblemCallback& onProblem = {}) override;
    void CreateDirectory(const std::string& path) override;
    void RemoveFile(const std::string& path) override;
    void RemoveDirectory(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::optional<Entry> Stat(const std::string& path) override;
    std::uint64_t GetFileSize(const std::string& path) override;
    std::int64_t GetModificationTime(const std::string& path) override;
    void SetModificationTime(const std::string& path, std::int64_t unixSeconds) override;   // MFMT
    void SetPermissions(const std::string& path, std::uint32_t mode) override;              // SITE CHMOD
    std::unique_ptr<IFileStream> OpenRead(const std::string& path, std::uint64_t offset = 0,
                                          inet::TransferType type = inet::TransferType::Binary) override;
    std::unique_ptr<IFileStream> OpenWrite(const std::string& path, WriteMode mode = WriteMode::Replace,
                                           std::uint64_t offset = 0,
                                           inet::TransferType type = inet::TransferType::Binary) override;
    void KeepAlive() override;
    void SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs) override;
    inet::FtpReply RawCommand(const std::string& line) override;
    void Close() override;
    void Cancel() override;

    // The FTP connection itself, for what only FTP has (passive mode, TLS
    // state, features, the idle handler); null while not connected.
    inet::FtpConnection* connection() { return connection_.get(); }

private:
    inet::FtpConnection& Conn();

    SessionFactory makeSession_;
    mutable std::mutex mutex_;  // guards session_ against Cancel() from another thread
    std::shared_ptr<inet::InternetSession> session_;
    std::atomic<std::uint64_t> cancels_{0};
    std::unique_ptr<inet::FtpConnection> connection_;
    std::string home_;
    std::function<void()> idle_;
    std::uint32_t idleMs_ = 0;
};

}  // namespace remote
