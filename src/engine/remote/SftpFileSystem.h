#pragma once

// The SFTP side of the remote file system: an SSH connection (libssh) with
// the SFTP client of SftpClient.h on its channel.
//
// What differs from FTP, within the rules of RemoteFileSystem.h:
// - SFTP has no current folder on the server: it is kept here, and relative
//   paths are resolved against it before they are sent.
// - Downloads keep 16 read requests in flight, uploads 16 write requests, of
//   the largest size the server announces (limits@openssh.com; 32 KiB else).
// - A download ends only at the server's end-of-file answer; a channel or
//   connection that ends before throws (12243, 12030), and fewer bytes than
//   the size the file had when it was opened throw 12111.
// - Listings: "." and ".." reach the problem callback as LineKind::Ignored,
//   unsafe names (inet::IsSafeEntryName; a NUL or '/' included) as
//   LineKind::UnsafeName; links are followed once to tell whether they lead
//   to a folder.
// - Rename never replaces: a `to` that exists is refused (12003), where FTP
//   servers differ from one another.

#include "engine/remote/RemoteFileSystem.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace remote {

class SftpFileSystem final : public IFileSystem {
public:
    static constexpr std::size_t kRequestsInFlight = 16;

    SftpFileSystem();
    ~SftpFileSystem() override;

    Protocol protocol() const override { return Protocol::Sftp; }
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
    void SetModificationTime(const std::string& path, std::int64_t unixSeconds) override;
    void SetPermissions(const std::string& path, std::uint32_t mode) override;
    std::unique_ptr<IFileStream> OpenRead(const std::string& path, std::uint64_t offset = 0,
                                          inet::TransferType type = inet::TransferType::Binary) override;
    std::unique_ptr<IFileStream> OpenWrite(const std::string& path, WriteMode mode = WriteMode::Replace,
                                           std::uint64_t offset = 0,
                                           inet::TransferType type = inet::TransferType::Binary) override;
    void KeepAlive() override;
    void SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs) override;
    inet::FtpReply RawCommand(const std::string& line) override;  // always 12016
    void Close() override;
    void Cancel() override;

    // The absolute form of `path` (relative ones from the current folder), as it is sent.
    std::string Resolve(const std::string& path) const;

    struct State;  // shared with open streams

private:
    State& Ready();

    mutable std::mutex mutex_;  // guards state_ against Cancel() from another thread
    std::shared_ptr<State> state_;
    std::atomic<std::uint64_t> cancels_{0};
    std::function<void()> idle_;
    std::uint32_t idleMs_ = 0;
};

}  // namespace remote
