#include "engine/transfer/UploadThread.h"

#include "engine/base/TraceLevel.h"
#include "engine/base/WindowMessages.h"
#include "engine/remote/RemoteFileSystem.h"
#include "engine/inet/InternetError.h"
#include "engine/transfer/LocalFile.h"
#include "engine/transfer/LocalPaths.h"
#include "engine/transfer/SharedLimits.h"
#include "engine/transfer/TransferErrors.h"
#include "engine/transfer/TransferPort.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace {

QString WithoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

CUploadThread::CUploadThread(TransferJob job)
    : CTransferThread(Direction::Upload, std::move(job))
{
    // The entries of a job share their parent folder; its part of each path
    // is left behind on the server.
    for (const FileStatus& item : Job().items) {
        const QString path = WithoutTrailingSlashes(item.path);
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        m_baseFolder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    }
}

QString CUploadThread::TargetKey(const TransferFile& file) const
{
    return CTargetClaims::RemoteKey(Host(), Job().site.port, file.remotePath);
}

RemotePath CUploadThread::RemotePathOf(const QString& localPath) const
{
    const QString prefix = m_baseFolder == QLatin1String("/") ? m_baseFolder : m_baseFolder + QLatin1Char('/');
    const QString relative = localPath.startsWith(prefix) ? localPath.mid(prefix.size()) : QFileInfo(localPath).fileName();
    const RemotePath folder = RemoteFolder().IsEmpty() ? RemotePath::FromServer(Job().remoteFolder) : RemoteFolder();
    RemotePath path = folder;
    for (const QString& name : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path = path.Child(name);
        if (path.IsEmpty())
            break;
    }
    return path == folder ? RemotePath() : path;
}

void CUploadThread::Collect(remote::IFileSystem&, TransferFileList& files)
{
    FileStatusList entries;
    for (const FileStatus& item : Job().items) {
        const QString path = WithoutTrailingSlashes(item.path);
        if (item.IsFolder()) {
            FileStatus folder = item;
            folder.path = path;
            entries.append(folder);
            CollectLocalFolder(path, entries, 0);
        } else {
            entries.append(item);
        }
    }
    for (const FileStatus& entry : std::as_const(entries)) {
        const RemotePath remote = RemotePathOf(entry.path);
        if (remote.IsEmpty()) {
            PostTrace(TRACE_ERROR, QStringLiteral("Skipped \"%1\": its name cannot be used on the server.").arg(entry.path));
            continue;
        }
        TransferFile file;
        file.localPath = entry.path;
        file.remotePath = remote.ToString();
        file.folder = entry.IsFolder();
        file.modified = entry.modified;
        file.exactTime = true; // the disk's own
        file.size = entry.size;
        if (entry.IsResume()) {
            file.resume = true;
            file.remoteSize = entry.size; // the remote size, as the confirmation found it
            if (const QFileInfo local(entry.path); local.isFile())
                file.size = quint64(local.size());
        }
        files.push_back(file);
    }
}

void CUploadThread::CollectLocalFolder(const QString& folder, FileStatusList& files, int depth)
{
    if (IsKilled())
        return;
    if (depth > kMaxDepth) {
        AddProblem(QStringLiteral("Stopped collecting at \"%1\": folders nested deeper than %2 levels are not followed.")
                       .arg(folder)
                       .arg(kMaxDepth));
        return;
    }
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    QFileInfoList subfolders;
    for (const QFileInfo& entry : entries) {
        // A link could lead out of the selection, or round in a circle.
        if (entry.isSymLink()) {
            PostTrace(TRACE_INFO, QStringLiteral("Skipped the symbolic link \"%1\".").arg(entry.filePath()));
            continue;
        }
        if (Filtered(entry.fileName(), entry.isDir(), entry.isDir() ? 0 : quint64(entry.size())))
            continue;
        if (entry.isDir())
            subfolders << entry;
        else if (entry.isFile())
            files.append(FileStatusOfLocal(entry));
    }
    for (const QFileInfo& subfolder : subfolders) {
        files.append(FileStatusOfLocal(subfolder));
        CollectLocalFolder(subfolder.filePath(), files, depth + 1);
    }
}

void CUploadThread::Prepare(remote::IFileSystem& connection, TransferFileList& files)
{
    // Folders first, over one connection, so that no file waits for its
    // folder whichever connection takes it.
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (IsKilled())
            Cancelled();
        const TransferFile file = FileAt(int(i));
        const RemotePath remote = RemotePath::FromServer(file.remotePath);
        // A synchronisation names every folder the server lacks, parents
        // first: one MKD each, and none for the folders its files go into.
        const bool planned = file.targetCheck != TransferFile::TargetCheck::None;
        if (file.folder && planned) {
            if (file.state != TransferState::Completed) {
                CreateRemoteFolders(connection, remote, true);
                MarkFile(int(i), TransferState::Completed, QString());
            }
        } else if (file.folder) {
            CreateRemoteFolders(connection, remote);
            if (file.state != TransferState::Completed)
                MarkFile(int(i), TransferState::Completed, QString());
        } else if (file.state != TransferState::Completed && !planned) {
            CreateRemoteFolders(connection, remote.Parent());
        }
    }
}

void CUploadThread::CreateRemoteFolders(remote::IFileSystem& connection, const RemotePath& folder, bool lastOnly)
{
    RemotePath level = RemoteFolder();
    const QStringList names = folder.ComponentsBelow(RemoteFolder());
    for (qsizetype i = 0; i < names.size(); ++i) {
        level = level.Child(names[i]);
        if (lastOnly && i + 1 < names.size())
            continue;
        if (m_madeFolders.contains(level.ToString()))
            continue;
        m_madeFolders.insert(level.ToString());
        try {
            connection.CreateDirectory(ToServer(level));
        } catch (const inet::InternetError& error) {
            // Mostly "it exists"; a folder that truly cannot be made shows
            // when its files cannot be stored.
            if (IsKilled() || error.number() != inet::err::kExtendedError)
                throw;
        }
    }
}

CTransferThread::Plan CUploadThread::Decide(TransferFile& file, qsizetype)
{
    if (file.IsPartial())
        return Plan::Continue;
    return file.resume ? Plan::Resume : Plan::Move;
}

void CUploadThread::Move(Lane& lane, int index, Plan plan)
{
    const TransferFile file = FileAt(index);
    const RemotePath remote = RemotePath::FromServer(file.remotePath);
    const QString name = remote.Name();
    const QString& localPath = file.localPath;
    const QString localFolder = localPath.left(localPath.lastIndexOf(QLatin1Char('/')) + 1);
    Port().SetLine1(QStringLiteral("Copying '%1'").arg(name));
    Port().SetLine2(QStringLiteral("From '%1' to '%2'").arg(AbbreviatePath(localFolder, 50, true), Host()));

    CLocalFile in;
    if (!in.Open(localPath, CLocalFile::Mode::Read))
        throw FileError{errno, localPath};
    const QFileInfo info(localPath);
    const quint64 localSize = quint64(info.size());

    remote::IFileSystem& connection = *lane.connection;
    const std::string path = ToServer(remote);
    quint64 offset = 0;
    if (plan == Plan::Resume || plan == Plan::Continue) {
        // Ours from an earlier run: what the server holds is the truth. The
        // user's choice before queuing: the size the confirmation found.
        if (plan == Plan::Continue) {
            try {
                offset = connection.GetFileSize(path);
            } catch (const inet::InternetError& error) {
                if (IsKilled() || error.number() != inet::err::kExtendedError)
                    throw;
                offset = 0;
            }
        } else {
            offset = file.remoteSize;
        }
        if (offset > localSize)
            offset = 0;
    }
    if (plan == Plan::Move && file.targetCheck != TransferFile::TargetCheck::None) {
        if (const QString changed = CheckTarget(connection, file, path); !changed.isEmpty())
            FailFile(changed);
    }
    std::unique_ptr<remote::IFileStream> out;
    // Uploads go as they are, whatever the transfer type chosen.
    const auto open = [&](quint64 at) {
        return connection.OpenWrite(path, at > 0 ? remote::WriteMode::Restart : remote::WriteMode::Replace, at);
    };
    try {
        try {
            out = open(offset);
        } catch (const inet::InternetError& error) {
            if (offset == 0 || IsKilled() || error.number() != inet::err::kExtendedError)
                throw;
            offset = 0; // no "350": the whole file goes again
            out = open(0);
        }
    } catch (const inet::InternetError& error) {
        if (IsKilled() || error.number() != inet::err::kExtendedError)
            throw;
        FailFile(QStringLiteral("Unable to open remote file %1: %2").arg(name, DescribeInternetError(error, Job().timeoutMs)));
    }
    in.Seek(offset);
    Port().SetRange(100);
    Started(lane, index, offset);
    PostStatus(localPath, QStringLiteral("Uploading"), -1);

    Pump(lane, index, offset, [&] { return in.CopyTo(*out, kBlockSize); });
    in.Close();
    if (IsKilled())
        Cancelled();
    out->Close(); // the server's confirmation, or why it did not store the file
    KeepLocalTime(connection, file, path);
    NotifyUploaded(file);
}

QString CUploadThread::CheckTarget(remote::IFileSystem& connection, const TransferFile& file, const std::string& path)
{
    const std::optional<remote::Entry> now = connection.Stat(path);
    if (!now)
        return TargetChangedText(file, false, 0, -1);
    return TargetChangedText(file, true, now->size, now->modified);
}

void CUploadThread::KeepLocalTime(remote::IFileSystem& connection, const TransferFile& file, const std::string& path)
{
    if (!Job().preserveTimes || file.modified < 0 || IsKilled())
        return;
    if (!connection.features().setModificationTime) {
        PostTraceOnce(QStringLiteral("MFMT"), TRACE_INFO,
                      QStringLiteral("%1 offers no way to set file times (neither MFMT nor SITE UTIME): uploaded "
                                     "files keep the time they were stored.").arg(Host()));
        return;
    }
    try {
        connection.SetModificationTime(path, file.modified);
    } catch (const inet::InternetError& error) {
        // The file is stored whole: a connection's trouble shows with the next one.
        if (error.number() != inet::err::kExtendedError)
            return;
        PostTraceOnce(QStringLiteral("MFMT refused"), TRACE_INFO,
                      QStringLiteral("%1 refused to set the time of an uploaded file: %2")
                          .arg(Host(), QString::fromUtf8(error.serverReply()).trimmed()));
    }
}

void CUploadThread::NotifyUploaded(const TransferFile& file)
{
    FileStatus item;
    item.path = file.remotePath;
    item.size = file.folder ? 0 : file.size;
    item.modified = file.modified;
    item.created = item.accessed = file.modified;
    item.attribute = file.folder ? FileStatus::kFolder : 0;
    Post(new RemoteItemAddedEvent(item));
}
