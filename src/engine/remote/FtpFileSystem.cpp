#include "engine/remote/FtpFileSystem.h"

#include "engine/remote/RemoteEntries.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace remote {

namespace {

class FtpFileStream final : public IFileStream {
public:
    explicit FtpFileStream(std::unique_ptr<inet::FtpStream> stream) : stream_(std::move(stream)) {}

    std::size_t Read(void* data, std::size_t size) override { return stream_->Read(data, size); }
    void Write(const void* data, std::size_t size) override { stream_->Write(data, size); }
    std::size_t ReadInto(int fd, std::size_t size) override { return stream_->ReadInto(fd, size); }
    std::size_t WriteFrom(int fd, std::size_t size) override { return stream_->WriteFrom(fd, size); }
    void Close() override { stream_->Close(); }
    bool isUpload() const override { return stream_->isUpload(); }
    std::uint64_t bytesTransferred() const override { return stream_->bytesTransferred(); }
    std::optional<std::uint64_t> size() const override { return stream_->announcedSize(); }

private:
    std::unique_ptr<inet::FtpStream> stream_;
};

[[noreturn]] void Refused(const inet::FtpReply& reply)
{
    throw inet::InternetError(inet::err::kExtendedError, {}, reply.Text());
}

}  // namespace

FtpFileSystem::FtpFileSystem(SessionFactory makeSession) : makeSession_(std::move(makeSession))
{
    if (!makeSession_)
        makeSession_ = [] { return std::make_unique<inet::InternetSession>("Kestrix"); };
}

FtpFileSystem::~FtpFileSystem()
{
    try {
        Close();
    } catch (...) {
    }
}

Features FtpFileSystem::features() const
{
    Features f;
    f.rawCommands = true;
    f.asciiTransfers = true;
    f.setPermissions = true;  // SITE CHMOD: whether the server takes it shows when it is used
    f.setModificationTime = connection_ && connection_->CanSetModificationTime();
    f.fileTimes = connection_ && connection_->HasFeature("MDTM");
    f.encrypted = connection_ && connection_->controlEncrypted() && connection_->dataEncrypted();
    f.listsNamedFolder = connection_ && connection_->usesMlsd();
    return f;
}

void FtpFileSystem::Connect(const ConnectOptions& options, const Callbacks& callbacks)
{
    if (options.protocol != Protocol::Ftp)
        throw inet::InternetError(inet::err::kInvalidParameter, "Not an FTP address");
    const std::uint64_t cancels = cancels_.load();
    Close();
    std::shared_ptr<inet::InternetSession> session(makeSession_());
    session->SetConnectTimeout(options.connectTimeoutMs);
    session->SetReceiveTimeout(options.receiveTimeoutMs);
    session->SetSendTimeout(options.sendTimeoutMs);
    if (callbacks.trace)
        session->SetConversationCallback(callbacks.trace);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session_ = session;
        // A Cancel() that came while the session was being made had nothing to close yet.
        if (cancels_.load() != cancels)
            session->Close();
    }
    connection_ = session->Connect(options.host, options.port ? options.port : DefaultPort(Protocol::Ftp),
                                   options.user, options.password, options.passive, options.encryption);
    home_ = connection_->GetCurrentDirectory();
    if (idle_)
        connection_->SetIdleHandler(idle_, idleMs_);
}

bool FtpFileSystem::IsConnected() const
{
    return connection_ != nullptr;
}

inet::FtpConnection& FtpFileSystem::Conn()
{
    if (!connection_)
        throw inet::InternetError(inet::err::kOperationCancelled, "Not connected");
    return *connection_;
}

std::string FtpFileSystem::GetHomeDirectory()
{
    Conn();
    return home_;
}

std::string FtpFileSystem::GetCurrentDirectory()
{
    return Conn().GetCurrentDirectory();
}

void FtpFileSystem::SetCurrentDirectory(const std::string& path)
{
    Conn().SetCurrentDirectory(path);
}

void FtpFileSystem::List(const std::string& path, const EntryCallback& onEntry, const ProblemCallback& onProblem)
{
    int dots = 0, dotDots = 0;
    Conn().Enumerate(
        path,
        [&](inet::DirEntry&& e) {
            if (e.IsDots()) {
                // Every folder has one of each; a second is a server up to something.
                const bool again = ++(e.name == "." ? dots : dotDots) > 1;
                if (onProblem)
                    onProblem(again ? inet::LineKind::UnsafeName : inet::LineKind::Ignored, e.name);
                return;
            }
            onEntry(FromDirEntry(std::move(e)));
        },
        [&](inet::LineKind kind, std::string_view line) {
            if (onProblem)
                onProblem(kind, line);
        });
}

void FtpFileSystem::CreateDirectory(const std::string& path)
{
    Conn().CreateDirectory(path);
}

void FtpFileSystem::RemoveFile(const std::string& path)
{
    Conn().RemoveFile(path);
}

void FtpFileSystem::RemoveDirectory(const std::string& path)
{
    Conn().RemoveDirectory(path);
}

void FtpFileSystem::Rename(const std::string& from, const std::string& to)
{
    Conn().Rename(from, to);
}

std::optional<Entry> FtpFileSystem::Stat(const std::string& path)
{
    inet::FtpConnection& conn = Conn();
    if (conn.HasFeature("MLST")) {
        // One round trip for size, time and kind together.
        const inet::FtpReply reply = conn.Command("MLST " + path);
        if (reply.code == 550)
            return std::nullopt;
        if (reply.code == 250 && reply.lines.size() >= 2) {
            std::string_view facts = reply.lines[1];
            while (!facts.empty() && facts.front() == ' ')
                facts.remove_prefix(1);
            inet::DirEntry raw;
            const inet::LineKind kind = inet::ParseMlsdLine(facts, raw);
            if (kind == inet::LineKind::Entry || kind == inet::LineKind::UnsafeName) {
                Entry entry = FromDirEntry(std::move(raw));
                entry.name = path.substr(path.find_last_of('/') + 1);
                if (entry.isFolder)
                    entry.size = 0;
                return entry;
            }
        }
    }
    Entry entry;
    entry.name = path.substr(path.find_last_of('/') + 1);
    try {
        entry.size = conn.GetFileSize(path);
    } catch (const inet::InternetError& error) {
        if (error.number() != inet::err::kExtendedError)
            throw;
        return std::nullopt;
    }
    try {
        entry.modified = conn.GetModificationTime(path);
    } catch (const inet::InternetError& error) {
        if (error.number() != inet::err::kExtendedError && error.number() != inet::err::kInvalidServerResponse)
            throw;
    }
    return entry;
}

std::uint64_t FtpFileSystem::GetFileSize(const std::string& path)
{
    return Conn().GetFileSize(path);
}

std::int64_t FtpFileSystem::GetModificationTime(const std::string& path)
{
    return Conn().GetModificationTime(path);
}

void FtpFileSystem::SetModificationTime(const std::string& path, std::int64_t unixSeconds)
{
    inet::FtpConnection& conn = Conn();
    if (unixSeconds < 0)
        throw inet::InternetError(inet::err::kInvalidParameter, "Not a time a server can take");
    switch (conn.SetModificationTime(path, unixSeconds)) {
    case inet::FtpConnection::TimeSetting::Set:
        return;
    case inet::FtpConnection::TimeSetting::NotOffered:
        throw inet::InternetError(inet::err::kInvalidOperation,
                                  "The server cannot set modification times (no MFMT or SITE UTIME)");
    case inet::FtpConnection::TimeSetting::Refused:
        break;
    }
    throw inet::InternetError(inet::err::kExtendedError, {}, conn.lastReplyText());
}

void FtpFileSystem::SetPermissions(const std::string& path, std::uint32_t mode)
{
    char octal[16];
    std::snprintf(octal, sizeof octal, "%03o", mode & 07777u);
    inet::FtpReply reply = Conn().Command(std::string("SITE CHMOD ") + octal + " " + path);
    if (!reply.Positive())
        Refused(reply);
}

std::unique_ptr<IFileStream> FtpFileSystem::OpenRead(const std::string& path, std::uint64_t offset,
                                                     inet::TransferType type)
{
    return std::make_unique<FtpFileStream>(Conn().OpenFileForRead(path, type, offset));
}

std::unique_ptr<IFileStream> FtpFileSystem::OpenWrite(const std::string& path, WriteMode mode, std::uint64_t offset,
                                                      inet::TransferType type)
{
    inet::WriteMode ftpMode = inet::WriteMode::Replace;
    if (mode == WriteMode::Append)
        ftpMode = inet::WriteMode::Append;
    else if (mode == WriteMode::Restart && offset > 0)
        ftpMode = inet::WriteMode::Restart;
    return std::make_unique<FtpFileStream>(Conn().OpenFileForWrite(path, type, ftpMode, offset));
}

void FtpFileSystem::SetIdleHandler(std::function<void()> handler, std::uint32_t intervalMs)
{
    idle_ = std::move(handler);
    idleMs_ = intervalMs;
    if (connection_)
        connection_->SetIdleHandler(idle_, idleMs_);
}

void FtpFileSystem::KeepAlive()
{
    inet::FtpReply reply = Conn().Command("NOOP");
    if (!reply.Positive())
        Refused(reply);
}

inet::FtpReply FtpFileSystem::RawCommand(const std::string& line)
{
    return Conn().Command(line);
}

void FtpFileSystem::Close()
{
    connection_.reset();  // QUIT when idle and healthy
    std::lock_guard<std::mutex> lock(mutex_);
    session_.reset();
}

void FtpFileSystem::Cancel()
{
    std::shared_ptr<inet::InternetSession> session;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++cancels_;
        session = session_;
    }
    if (session)
        session->Close();
}

}  // namespace remote
