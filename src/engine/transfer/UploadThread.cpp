#include "engine/transfer/UploadThread.h"

#include "engine/base/TraceLevel.h"
#include "engine/base/WindowMessages.h"
#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetError.h"
#include "engine/transfer/LocalFile.h"
#include "engine/transfer/LocalPaths.h"
#include "engine/transfer/TransferPort.h"

#include <QDir>
#include <QFileInfo>


namespace {

// A local tree nested deeper than this is not followed.
constexpr int kMaxDepth = 256;

std::string ToServer(const RemotePath& path)
{
    return path.ToString().toUtf8().toStdString();
}

QString WithoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

FileStatus RecordOf(const QFileInfo& info)
{
    FileStatus record;
    record.path = info.filePath();
    record.size = info.isDir() ? 0 : quint64(info.size());
    record.modified = info.lastModified().toSecsSinceEpoch();
    record.accessed = info.lastRead().toSecsSinceEpoch();
    record.created = info.birthTime().isValid() ? info.birthTime().toSecsSinceEpoch() : record.modified;
    record.attribute = info.isDir() ? FileStatus::kFolder : 0;
    return record;
}

} // namespace

CUploadThread::CUploadThread()
    : CTransferThread(Direction::Upload)
{
}

RemotePath CUploadThread::RemotePathOf(const QString& localPath) const
{
    const QString prefix = m_baseFolder == QLatin1String("/") ? m_baseFolder : m_baseFolder + QLatin1Char('/');
    const QString relative = localPath.startsWith(prefix) ? localPath.mid(prefix.size()) : QFileInfo(localPath).fileName();
    RemotePath path = m_folder;
    for (const QString& name : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path = path.Child(name);
        if (path.IsEmpty())
            break;
    }
    return path == m_folder ? RemotePath() : path;
}

void CUploadThread::Transfer()
{
    m_folder = Job().remoteFolder.isEmpty()
        ? RemotePath::FromServer(QString::fromUtf8(Connection().GetCurrentDirectory()))
        : RemotePath::FromServer(Job().remoteFolder);

    FileStatusList files;
    for (const FileStatus& item : Job().items) {
        const QString path = WithoutTrailingSlashes(item.path);
        if (item.IsFolder()) {
            FileStatus folder = item;
            folder.path = path;
            files.append(folder);
            CollectLocalFolder(path, files, 0);
        } else {
            m_totalBytes += item.size;
            files.append(item);
        }
        // The entries of a job share their parent folder; its part of each
        // path is left behind on the server.
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        m_baseFolder = slash > 0 ? path.left(slash) : QStringLiteral("/");
    }
    Job().items.clear();

    for (FileStatus& file : files) {
        if (IsKilled())
            Cancelled();
        const RemotePath remote = RemotePathOf(file.path);
        if (remote.IsEmpty()) {
            PostTrace(TRACE_ERROR, QStringLiteral("Skipped \"%1\": its name cannot be used on the server.").arg(file.path));
            m_bytesDone += file.size;
            continue;
        }
        if (file.IsFolder()) {
            CreateRemoteFolders(remote);
            NotifyUploaded(file, remote);
            continue;
        }
        quint64 offset = 0;
        if (file.IsResume()) {
            offset = file.size; // the remote size, as the confirmation found it
            if (const QFileInfo local(file.path); local.isFile())
                file.size = quint64(local.size());
        }
        CreateRemoteFolders(remote.Parent());
        UploadFile(file.path, remote, offset);
        m_bytesDone += file.size;
        NotifyUploaded(file, remote);
    }
}

void CUploadThread::CollectLocalFolder(const QString& folder, FileStatusList& files, int depth)
{
    if (depth > kMaxDepth || IsKilled())
        return;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    QFileInfoList subfolders;
    for (const QFileInfo& entry : entries) {
        // A link could lead out of the selection, or round in a circle.
        if (entry.isSymLink()) {
            PostTrace(TRACE_INFO, QStringLiteral("Skipped the symbolic link \"%1\".").arg(entry.filePath()));
            continue;
        }
        if (entry.isDir()) {
            subfolders << entry;
        } else if (entry.isFile()) {
            const FileStatus record = RecordOf(entry);
            m_totalBytes += record.size;
            files.append(record);
        }
    }
    for (const QFileInfo& subfolder : subfolders) {
        files.append(RecordOf(subfolder));
        CollectLocalFolder(subfolder.filePath(), files, depth + 1);
    }
}

void CUploadThread::CreateRemoteFolders(const RemotePath& folder)
{
    RemotePath level = m_folder;
    for (const QString& name : folder.ComponentsBelow(m_folder)) {
        level = level.Child(name);
        if (m_madeFolders.contains(level.ToString()))
            continue;
        m_madeFolders.insert(level.ToString());
        try {
            Connection().CreateDirectory(ToServer(level));
        } catch (const inet::InternetError& error) {
            // Mostly "it exists"; a folder that truly cannot be made shows
            // when its files cannot be stored.
            if (IsKilled() || error.number() != inet::err::kExtendedError)
                throw;
        }
    }
}

void CUploadThread::UploadFile(const QString& localPath, const RemotePath& remote, quint64 offset)
{
    const QString name = remote.Name();
    const QString localFolder = localPath.left(localPath.lastIndexOf(QLatin1Char('/')) + 1);
    Port().SetLine1(QStringLiteral("Copying '%1'").arg(name));
    Port().SetLine2(QStringLiteral("From '%1' to '%2'").arg(AbbreviatePath(localFolder, 50, true), Host()));

    CLocalFile in;
    if (!in.Open(localPath, CLocalFile::Mode::Read))
        Fail(QStringLiteral("Unable to open file %1").arg(localPath));

    std::unique_ptr<inet::FtpStream> out;
    const std::string path = ToServer(remote);
    // Uploads go as they are, whatever the transfer type chosen.
    const auto open = [&](quint64 at) {
        return Connection().OpenFileForWrite(path, inet::TransferType::Binary,
                                             at > 0 ? inet::WriteMode::Restart : inet::WriteMode::Replace, at);
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
        QString reply = QString::fromUtf8(error.serverReply());
        reply.remove(QLatin1Char('\r'));
        Fail(QStringLiteral("Unable to open remote file %1 (%2)").arg(name, reply.trimmed()));
    }
    in.Seek(offset);
    Port().SetRange(100);
    PostStatus(localPath, QStringLiteral("Uploading"), LastPercent());

    quint64 bytesOfFile = offset;
    for (;;) {
        if (IsKilled())
            break;
        const std::size_t got = in.CopyTo(*out, kBlockSize);
        if (got == 0)
            break;
        bytesOfFile += got;
        UpdatePercent(bytesOfFile);
    }
    in.Close();
    if (!IsKilled())
        out->Close(); // the server's confirmation, or why it did not store the file
}

void CUploadThread::NotifyUploaded(FileStatus item, const RemotePath& remote)
{
    item.path = remote.ToString();
    item.attribute &= ~FileStatus::kResume;
    Post(new RemoteItemAddedEvent(item));
}
