#include "engine/remote/SftpFileSystem.h"

#include "engine/remote/RemoteEntries.h"
#include "engine/remote/SftpClient.h"
#include "engine/remote/SshConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace remote {

using inet::InternetError;
namespace ierr = inet::err;

struct SftpFileSystem::State {
    SshConnection ssh;
    sftp::Client client{ssh};
    std::string home, cwd;
    bool streamOpen = false;
};

namespace {

// Owner and group as "ls -l" shows them: the third and fourth words of the
// long name the server sends beside each name.
void OwnerFromLongname(const std::string& longname, Entry& e)
{
    std::istringstream words(longname);
    std::string perms, links, owner, group;
    if (words >> perms >> links >> owner >> group && perms.size() == 10) {
        e.owner = std::move(owner);
        e.group = std::move(group);
    }
}

Entry MakeEntry(std::string name, const sftp::NameEntry& n)
{
    Entry e;
    e.name = std::move(name);
    const sftp::Attributes& a = n.attrs;
    if (a.Has(sftp::Attributes::kSize))
        e.size = a.size;
    if (a.Has(sftp::Attributes::kTimes))
        e.modified = a.mtime;
    e.isFolder = a.IsFolder();
    e.isLink = a.IsLink();
    if (a.Has(sftp::Attributes::kPermissions)) {
        e.mode = a.permissions & 07777u;
        e.permissions = PermissionText(*e.mode);
    }
    OwnerFromLongname(n.longname, e);
    if (e.owner.empty() && a.Has(sftp::Attributes::kUidGid)) {
        e.owner = std::to_string(a.uid);
        e.group = std::to_string(a.gid);
    }
    return e;
}

bool IsServerRefusal(const InternetError& e)
{
    return e.number() == ierr::kExtendedError;
}

void WriteAllTo(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "write");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The common part of both directions: the busy mark of the file system, and
// the handle closed however the stream ends.
class SftpStreamBase : public IFileStream {
protected:
    SftpStreamBase(std::shared_ptr<SftpFileSystem::State> state, std::string handle)
        : state_(std::move(state)), handle_(std::move(handle))
    {
        state_->streamOpen = true;
    }
    void Finished()
    {
        closed_ = true;
        state_->streamOpen = false;
    }
    // Gives up without waiting for the server: its late answers are dropped.
    void Abandon() noexcept
    {
        if (closed_)
            return;
        Finished();
        try {
            if (!state_->ssh.cancelled())
                state_->client.CloseHandleLater(handle_);
        } catch (...) {
        }
    }
    void CheckOpen() const
    {
        if (closed_)
            throw InternetError(ierr::kInvalidOperation, "The transfer has ended");
    }

    std::shared_ptr<SftpFileSystem::State> state_;
    std::string handle_;
    bool closed_ = false;
    std::uint64_t transferred_ = 0;
};

class SftpReadStream final : public SftpStreamBase {
public:
    SftpReadStream(std::shared_ptr<SftpFileSystem::State> state, std::string handle, std::uint64_t offset,
                   std::optional<std::uint64_t> size)
        : SftpStreamBase(std::move(state), handle), reader_(state_->client, handle, offset,
                                                            SftpFileSystem::kRequestsInFlight),
          size_(size)
    {
    }
    ~SftpReadStream() override
    {
        reader_.Abandon();
        Abandon();
    }

    std::size_t Read(void* data, std::size_t size) override
    {
        std::string_view v = Next();
        const std::size_t n = std::min(size, v.size());
        if (n == 0)
            return 0;
        std::memcpy(data, v.data(), n);
        reader_.Consume(n);
        transferred_ += n;
        return n;
    }
    std::size_t ReadInto(int fd, std::size_t size) override
    {
        std::string_view v = Next();
        const std::size_t n = std::min(size, v.size());
        if (n == 0)
            return 0;
        WriteAllTo(fd, v.data(), n);
        reader_.Consume(n);
        transferred_ += n;
        return n;
    }
    void Write(const void*, std::size_t) override
    {
        throw InternetError(ierr::kInvalidOperation, "A download cannot be written to");
    }
    std::size_t WriteFrom(int, std::size_t) override
    {
        throw InternetError(ierr::kInvalidOperation, "A download cannot be written to");
    }
    void Close() override
    {
        reader_.Abandon();
        Abandon();
    }
    bool isUpload() const override { return false; }
    std::uint64_t bytesTransferred() const override { return transferred_; }
    std::optional<std::uint64_t> size() const override { return size_; }

private:
    // The next bytes; empty once the server said end-of-file and the handle is closed.
    std::string_view Next()
    {
        if (closed_)
            return {};
        std::string_view v = reader_.Peek();
        if (!v.empty())
            return v;
        // The end as the server tells it, but fewer bytes than the file held
        // when it was opened: it shrank under us, or the server lies. Either
        // way the copy is not the file.
        const std::uint64_t end = reader_.position();
        Finished();
        state_->client.CloseHandle(handle_);
        if (size_ && end < *size_)
            throw InternetError(ierr::kFtpDropped, "The file ended at byte " + std::to_string(end) + " of the " +
                                                       std::to_string(*size_) + " it held when it was opened");
        return {};
    }

    sftp::Client::Reader reader_;
    std::optional<std::uint64_t> size_;
};

class SftpWriteStream final : public SftpStreamBase {
public:
    SftpWriteStream(std::shared_ptr<SftpFileSystem::State> state, std::string handle, std::uint64_t offset)
        : SftpStreamBase(std::move(state), handle),
          writer_(state_->client, handle, offset, SftpFileSystem::kRequestsInFlight)
    {
    }
    ~SftpWriteStream() override { Abandon(); }

    std::size_t Read(void*, std::size_t) override
    {
        throw InternetError(ierr::kInvalidOperation, "An upload cannot be read from");
    }
    std::size_t ReadInto(int, std::size_t) override
    {
        throw InternetError(ierr::kInvalidOperation, "An upload cannot be read from");
    }
    void Write(const void* data, std::size_t size) override
    {
        CheckOpen();
        writer_.Write(data, size);
        transferred_ += size;
    }
    std::size_t WriteFrom(int fd, std::size_t size) override
    {
        CheckOpen();
        std::size_t total = 0;
        while (total < size) {
            std::size_t room = 0;
            char* at = writer_.Space(room);
            room = std::min(room, size - total);
            const ssize_t n = ::read(fd, at, room);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::generic_category(), "read");
            }
            if (n == 0)
                break;
            writer_.Commit(static_cast<std::size_t>(n));
            total += static_cast<std::size_t>(n);
            transferred_ += static_cast<std::uint64_t>(n);
        }
        return total;
    }
    void Close() override
    {
        if (closed_)
            return;
        try {
            writer_.Finish();
        } catch (...) {
            Abandon();
            throw;
        }
        Finished();
        state_->client.CloseHandle(handle_);
    }
    bool isUpload() const override { return true; }
    std::uint64_t bytesTransferred() const override { return transferred_; }
    std::optional<std::uint64_t> size() const override { return std::nullopt; }

private:
    sftp::Client::Writer writer_;
};

}  // namespace

SftpFileSystem::SftpFileSystem() = default;

SftpFileSystem::~SftpFileSystem()
{
    Close();
}

Features SftpFileSystem::features() const
{
    Features f;
    f.setModificationTime = true;
    f.fileTimes = true;
    f.setPermissions = true;
    f.ownerAndGroup = true;
    f.encrypted = true;
    f.listsNamedFolder = true;
    return f;
}

void SftpFileSystem::Connect(const ConnectOptions& options, const Callbacks& callbacks)
{
    if (options.protocol != Protocol::Sftp)
        throw InternetError(ierr::kInvalidParameter, "Not an SFTP address");
    const std::uint64_t cancels = cancels_.load();
    Close();
    auto state = std::make_shared<State>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
        // A Cancel() that came while the state was being made had nothing to stop yet.
        if (cancels_.load() != cancels)
            state->ssh.Cancel();
    }
    try {
        state->ssh.Open(options, callbacks);
        state->client.Init();
        if (callbacks.trace) {
            std::string line = "SFTP version " + std::to_string(state->client.version());
            if (state->client.readChunk() > 32768)
                line += ", requests of " + std::to_string(state->client.readChunk() / 1024) + " KiB";
            try {
                callbacks.trace(inet::Talk::Note, line);
            } catch (...) {
            }
        }
        state->home = state->client.RealPath(".");
        state->cwd = state->home;
        if (idle_)
            state->client.SetIdleHandler(idle_, idleMs_);
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.reset();
        throw;
    }
}

bool SftpFileSystem::IsConnected() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ != nullptr;
}

SftpFileSystem::State& SftpFileSystem::Ready()
{
    State* s = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        s = state_.get();
    }
    if (!s || s->ssh.cancelled())
        throw InternetError(ierr::kOperationCancelled, s ? "The operation was cancelled" : "Not connected");
    if (s->streamOpen)
        throw InternetError(ierr::kTransferInProgress, "A transfer is still in progress on this connection");
    return *s;
}

std::string SftpFileSystem::Resolve(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string cwd = state_ ? state_->cwd : std::string("/");
    if (path.empty())
        return cwd;
    if (path.front() == '/')
        return path;
    return cwd + (cwd.empty() || cwd.back() == '/' ? "" : "/") + path;
}

std::string SftpFileSystem::GetHomeDirectory()
{
    return Ready().home;
}

std::string SftpFileSystem::GetCurrentDirectory()
{
    return Ready().cwd;
}

void SftpFileSystem::SetCurrentDirectory(const std::string& path)
{
    State& s = Ready();
    const std::string target = s.client.RealPath(Resolve(path));
    if (!s.client.Stat(target).IsFolder())
        throw InternetError(ierr::kExtendedError, {}, "SFTP: " + target + " is not a folder");
    std::lock_guard<std::mutex> lock(mutex_);
    s.cwd = target;
}

void SftpFileSystem::List(const std::string& path, const EntryCallback& onEntry, const ProblemCallback& onProblem)
{
    State& s = Ready();
    const std::string folder = Resolve(path);
    const std::string handle = s.client.OpenDirectory(folder);
    std::vector<sftp::NameEntry> batch;
    int dots = 0, dotDots = 0;
    try {
        for (;;) {
            batch.clear();
            if (!s.client.ReadDirectory(handle, batch))
                break;
            for (sftp::NameEntry& n : batch) {
                if (n.name == "." || n.name == "..") {
                    // Every folder has one of each; a second is a server up to something.
                    const bool again = ++(n.name == "." ? dots : dotDots) > 1;
                    if (onProblem)
                        onProblem(again ? inet::LineKind::UnsafeName : inet::LineKind::Ignored, n.name);
                    continue;
                }
                if (!inet::IsSafeEntryName(n.name)) {
                    if (onProblem)
                        onProblem(inet::LineKind::UnsafeName, n.name);
                    continue;
                }
                Entry e = MakeEntry(n.name, n);
                if (e.isLink) {
                    const std::string full = folder + (folder.back() == '/' ? "" : "/") + e.name;
                    try {
                        e.linkTarget = s.client.ReadLink(full);
                        const sftp::Attributes target = s.client.Stat(full);
                        e.isFolder = target.IsFolder();
                        if (!e.isFolder && target.Has(sftp::Attributes::kSize))
                            e.size = target.size;
                    } catch (const InternetError& error) {
                        if (!IsServerRefusal(error))
                            throw;  // a link that leads nowhere stays a link to a file
                    }
                }
                onEntry(std::move(e));
            }
        }
    } catch (...) {
        try {
            if (!s.ssh.cancelled())
                s.client.CloseHandleLater(handle);
        } catch (...) {
        }
        throw;
    }
    s.client.CloseHandle(handle);
}

void SftpFileSystem::CreateDirectory(const std::string& path)
{
    Ready().client.MakeDirectory(Resolve(path));
}

void SftpFileSystem::RemoveFile(const std::string& path)
{
    Ready().client.Remove(Resolve(path));
}

void SftpFileSystem::RemoveDirectory(const std::string& path)
{
    Ready().client.RemoveDirectory(Resolve(path));
}

void SftpFileSystem::Rename(const std::string& from, const std::string& to)
{
    Ready().client.Rename(Resolve(from), Resolve(to));
}

std::optional<Entry> SftpFileSystem::Stat(const std::string& path)
{
    sftp::NameEntry found;
    try {
        found.attrs = Ready().client.Stat(Resolve(path));
    } catch (const InternetError& error) {
        // Only "no such file" (status 2) says nothing is there; a refusal
        // to tell (permission denied) is no answer.
        const std::string& reply = error.serverReply();
        if (!IsServerRefusal(error) || (reply != "SFTP status 2" && reply.rfind("SFTP status 2:", 0) != 0))
            throw;
        return std::nullopt;
    }
    Entry entry = MakeEntry(path.substr(path.find_last_of('/') + 1), found);
    if (entry.isFolder)
        entry.size = 0;
    return entry;
}

std::uint64_t SftpFileSystem::GetFileSize(const std::string& path)
{
    const sftp::Attributes a = Ready().client.Stat(Resolve(path));
    if (!a.Has(sftp::Attributes::kSize))
        throw InternetError(ierr::kExtendedError, {}, "SFTP: the server gave no size for " + path);
    return a.size;
}

std::int64_t SftpFileSystem::GetModificationTime(const std::string& path)
{
    const sftp::Attributes a = Ready().client.Stat(Resolve(path));
    if (!a.Has(sftp::Attributes::kTimes))
        throw InternetError(ierr::kExtendedError, {}, "SFTP: the server gave no time for " + path);
    return a.mtime;
}

void SftpFileSystem::SetModificationTime(const std::string& path, std::int64_t unixSeconds)
{
    if (unixSeconds < 0 || unixSeconds > 0xFFFFFFFFll)
        throw InternetError(ierr::kInvalidParameter, "SFTP version 3 cannot carry that time");
    sftp::Attributes a;
    a.flags = sftp::Attributes::kTimes;
    a.atime = a.mtime = static_cast<std::uint32_t>(unixSeconds);
    Ready().client.SetStat(Resolve(path), a);
}

void SftpFileSystem::SetPermissions(const std::string& path, std::uint32_t mode)
{
    sftp::Attributes a;
    a.flags = sftp::Attributes::kPermissions;
    a.permissions = mode & 07777u;
    Ready().client.SetStat(Resolve(path), a);
}

std::unique_ptr<IFileStream> SftpFileSystem::OpenRead(const std::string& path, std::uint64_t offset,
                                                      inet::TransferType type)
{
    if (type != inet::TransferType::Binary)
        throw InternetError(ierr::kInvalidOperation, "ASCII transfers are an FTP feature");
    State& s = Ready();
    const std::string handle = s.client.Open(Resolve(path), sftp::open_flag::kRead);
    std::optional<std::uint64_t> size;
    bool folder = false;
    try {
        const sftp::Attributes a = s.client.FStat(handle);
        folder = a.IsFolder();
        if (a.Has(sftp::Attributes::kSize))
            size = a.size;
    } catch (const InternetError& e) {
        if (!IsServerRefusal(e))
            throw;  // a server that cannot tell the size may still serve the file
    }
    if (folder) {
        s.client.CloseHandleLater(handle);
        throw InternetError(ierr::kExtendedError, {}, "SFTP: " + path + " is a folder");
    }
    std::shared_ptr<State> state;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state = state_;
    }
    return std::make_unique<SftpReadStream>(state, handle, offset, size);
}

std::unique_ptr<IFileStream> SftpFileSystem::OpenWrite(const std::string& path, WriteMode mode, std::uint64_t offset,
                                                       inet::TransferType type)
{
    if (type != inet::TransferType::Binary)
        throw InternetError(ierr::kInvalidOperation, "ASCII transfers are an FTP feature");
    State& s = Ready();
    std::uint32_t flags = sftp::open_flag::kWrite | sftp::open_flag::kCreate;
    if (mode == WriteMode::Replace)
        flags |= sftp::open_flag::kTruncate;
    const std::string handle = s.client.Open(Resolve(path), flags);
    std::uint64_t start = 0;
    try {
        if (mode == WriteMode::Restart) {
            start = offset;
        } else if (mode == WriteMode::Append) {
            // Writing at the end as the server measures it now, rather than
            // asking for append mode: some servers ignore offsets then.
            const sftp::Attributes a = s.client.FStat(handle);
            if (!a.Has(sftp::Attributes::kSize))
                throw InternetError(ierr::kExtendedError, {}, "SFTP: the server gave no size to append to");
            start = a.size;
        }
    } catch (...) {
        s.client.CloseHandleLater(handle);
        throw;
    }
    std::shared_ptr<State> state;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state = state_;
    }
    return std::make_unique<SftpWriteStream>(state, handle, start);
}

void SftpFileSystem::SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs)
{
    idle_ = std::move(handler);
    idleMs_ = intervalMs;
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_)
        state_->client.SetIdleHandler(idle_, idleMs_);
}

void SftpFileSystem::KeepAlive()
{
    Ready().client.RealPath(".");
}

inet::FtpReply SftpFileSystem::RawCommand(const std::string&)
{
    throw InternetError(ierr::kInvalidOperation, "Raw commands are an FTP feature; SFTP has none");
}

void SftpFileSystem::Close()
{
    std::shared_ptr<State> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old.swap(state_);
    }
    // An open stream keeps the connection until it ends.
}

void SftpFileSystem::Cancel()
{
    std::shared_ptr<State> s;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++cancels_;
        s = state_;
    }
    if (s)
        s->ssh.Cancel();
}

}  // namespace remote
