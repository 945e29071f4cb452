#include "engine/transfer/DownloadThread.h"

#include "engine/base/SizeText.h"
#include "engine/base/TraceLevel.h"
#include "engine/inet/FtpConnection.h"
#include "engine/inet/InternetError.h"
#include "engine/transfer/LocalFile.h"
#include "engine/transfer/LocalPaths.h"
#include "engine/transfer/TransferPort.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <vector>

namespace {

// A folder nested deeper than this on the server is not followed.
constexpr int kMaxDepth = 256;

// "1 KB (1,000 bytes)" and the time, as the questions show a file.
QString Describe(quint64 size, const QDateTime& modified)
{
    return QStringLiteral("%1 (%2 bytes)\r\n%3")
        .arg(FormatSizeKB(size), FormatThousands(size), QLocale().toString(modified, QLocale::LongFormat));
}

std::string ToServer(const RemotePath& path)
{
    return path.ToString().toUtf8().toStdString();
}

} // namespace

CDownloadThread::CDownloadThread()
    : CTransferThread(Direction::Download)
{
}

QString CDownloadThread::RelativeRemotePath(const QString& path) const
{
    const RemotePath folder = RemotePath::FromServer(Job().remoteFolder);
    if (!path.startsWith(QLatin1Char('/')))
        return path;
    const RemotePath remote = RemotePath::FromServer(path);
    if (!remote.IsWithin(folder) || remote == folder)
        return path;
    return QLatin1Char('/') + remote.ComponentsBelow(folder).join(QLatin1Char('/'));
}

RemotePath CDownloadThread::RemotePathOf(const FileStatus& file) const
{
    return file.path.startsWith(QLatin1Char('/')) ? RemotePath::FromServer(file.path) : m_folder.Child(file.path);
}

void CDownloadThread::Transfer()
{
    m_folder = Job().remoteFolder.isEmpty()
        ? RemotePath::FromServer(QString::fromUtf8(Connection().GetCurrentDirectory()))
        : RemotePath::FromServer(Job().remoteFolder);

    FileStatusList files;
    bool folderChosen = false;
    for (const FileStatus& item : Job().items) {
        if (!RemotePath::IsValidName(item.path)) {
            PostTrace(TRACE_ERROR, QStringLiteral("Skipped \"%1\": not a name that can be written to disk.").arg(item.path));
            continue;
        }
        if (item.IsFolder()) {
            folderChosen = true;
            // A folder that cannot be entered or listed brings what it gave so far.
            CollectRemoteFolder(m_folder.Child(item.path), files, 0);
        } else {
            m_totalBytes += item.size;
            files.append(item);
        }
    }
    Job().items.clear();

    const QString& target = Job().localFolder;
    // A chosen folder goes into a folder even when it holds a single file.
    m_targetIsFolder = QFileInfo(target).isDir() || files.size() > 1 || folderChosen;
    m_yesToAll = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (IsKilled())
            Cancelled();
        const FileStatus& file = files[i];
        const QString localPath = LocalPathOf(file);
        if (localPath.isEmpty()) {
            PostTrace(TRACE_ERROR, QStringLiteral("Skipped \"%1\": it would be written outside \"%2\".").arg(file.path, target));
            m_bytesDone += file.size;
            continue;
        }
        bool resume = false;
        if (QFileInfo::exists(localPath) && !m_yesToAll && !Confirm(file, localPath, files.size() - i, resume)) {
            m_bytesDone += file.size;
            continue;
        }
        DownloadFile(file, localPath, resume);
        m_bytesDone += file.size;
    }
}

bool CDownloadThread::CollectRemoteFolder(const RemotePath& folder, FileStatusList& files, int depth)
{
    if (depth > kMaxDepth || folder.IsEmpty() || IsKilled())
        return false;
    std::vector<QString> subfolders;
    try {
        // Entered, then listed without an argument: to some servers a LIST
        // argument is a pattern, and "[" or "*" are valid in names.
        Connection().SetCurrentDirectory(ToServer(folder));
        Connection().Enumerate(
            std::string(),
            [&](inet::DirEntry&& entry) {
                if (entry.IsDots())
                    return;
                const QString name = QString::fromUtf8(entry.name);
                if (!RemotePath::IsValidName(name))
                    return;
                if (entry.isFolder) {
                    subfolders.push_back(name);
                    return;
                }
                FileStatus file;
                file.path = folder.Child(name).ToString();
                file.size = entry.size;
                file.modified = entry.modified;
                file.created = entry.created >= 0 ? entry.created : entry.modified;
                file.accessed = entry.accessed >= 0 ? entry.accessed : entry.modified;
                m_totalBytes += file.size;
                files.append(file);
            },
            [this, &folder](inet::LineKind kind, std::string_view line) {
                if (kind == inet::LineKind::UnsafeName)
                    PostTrace(TRACE_ERROR, QStringLiteral("Skipped an entry of \"%1\" whose name cannot be used safely: \"%2\"")
                                               .arg(folder.ToString(), QString::fromUtf8(line.data(), qsizetype(line.size()))));
            });
    } catch (const inet::InternetError& error) {
        if (IsKilled())
            Cancelled();
        PostTrace(TRACE_ERROR, QStringLiteral("Could not list \"%1\": %2")
                                   .arg(folder.ToString(), QString::fromUtf8(error.serverReply().empty() ? error.message()
                                                                                                         : error.serverReply())));
        return false;
    }
    for (const QString& name : subfolders) {
        if (!CollectRemoteFolder(folder.Child(name), files, depth + 1))
            return false;
    }
    return true;
}

QString CDownloadThread::LocalPathOf(const FileStatus& file) const
{
    const QString& target = Job().localFolder;
    if (!m_targetIsFolder)
        return target;
    const QString local = WithSingleSlashes(target + QLatin1Char('/') + RelativeRemotePath(file.path));
    // Names were checked one by one; this is the last word on where it goes.
    const QString root = QDir::cleanPath(target);
    const QString cleaned = QDir::cleanPath(local);
    const bool inside = root == QLatin1String("/") ? cleaned.size() > 1
                                                   : cleaned.startsWith(root + QLatin1Char('/'));
    return inside ? local : QString();
}

bool CDownloadThread::Confirm(const FileStatus& file, const QString& localPath, qsizetype remaining, bool& resume)
{
    const QFileInfo local(localPath);
    FileQuestion question;
    question.fileName = local.fileName();
    question.remaining = static_cast<int>(std::min<qsizetype>(remaining, INT_MAX));
    question.existingDescription = Describe(quint64(local.size()), local.lastModified());
    question.newDescription = Describe(file.size, QDateTime::fromSecsSinceEpoch(file.modified));

    if (local.isFile() && quint64(local.size()) < file.size) {
        switch (Port().AskResume(question)) {
        case kAnswerYes: resume = true; return true;
        case kAnswerNo: return true; // fetched whole
        default: Cancelled();
        }
    }
    switch (Port().AskReplace(question)) {
    case kAnswerYesToAll: m_yesToAll = true; return true;
    case kAnswerYes: return true;
    case kAnswerNo: return false;
    default: Cancelled();
    }
}

std::unique_ptr<inet::FtpStream> CDownloadThread::OpenRemote(const RemotePath& remote, bool ascii, quint64& offset)
{
    const inet::TransferType type = ascii ? inet::TransferType::Ascii : inet::TransferType::Binary;
    try {
        // The restart goes out with the transfer itself, after the type and
        // the data connection are set: servers refuse it in ASCII type, and
        // some forget it on PASV.
        try {
            return Connection().OpenFileForRead(ToServer(remote), type, offset);
        } catch (const inet::InternetError& error) {
            if (offset == 0 || IsKilled() || error.number() != inet::err::kExtendedError)
                throw;
            // No "350": the file is fetched whole.
            offset = 0;
            return Connection().OpenFileForRead(ToServer(remote), type, 0);
        }
    } catch (const inet::InternetError& error) {
        if (IsKilled() || error.number() != inet::err::kExtendedError)
            throw;
        QString reply = QString::fromUtf8(error.serverReply());
        reply.remove(QLatin1Char('\r'));
        Fail(QStringLiteral("Unable to open remote file %1 (%2)").arg(remote.Name(), reply.trimmed()));
    }
}

void CDownloadThread::DownloadFile(const FileStatus& file, const QString& localPath, bool resume)
{
    const RemotePath remote = RemotePathOf(file);
    const QString name = remote.Name();
    const QString localFolder = localPath.left(localPath.lastIndexOf(QLatin1Char('/')) + 1);
    if (!localFolder.isEmpty())
        CreateFolderPath(localFolder);
    Port().SetLine1(QStringLiteral("Copying '%1'").arg(name));
    Port().SetLine2(QStringLiteral("From '%1' to '%2'").arg(Host(), AbbreviatePath(localFolder, 50, true)));

    quint64 offset = 0;
    if (resume) {
        const QFileInfo existing(localPath);
        offset = existing.isFile() ? quint64(existing.size()) : 0;
    }
    const bool ascii = Job().transferType == 1;
    std::unique_ptr<inet::FtpStream> in = OpenRemote(remote, ascii, offset);
    CLocalFile out;
    if (!out.Open(localPath, offset > 0 ? CLocalFile::Mode::WriteKeep : CLocalFile::Mode::WriteTruncate))
        Fail(QStringLiteral("Unable to create file %1").arg(localPath));
    out.Seek(offset);
    PostStatus(name, QStringLiteral("Downloading"), LastPercent());
    Port().SetRange(100);

    quint64 bytesOfFile = offset;
    try {
        for (;;) {
            if (IsKilled())
                break;
            // Straight from the data connection into the file: a binary
            // download never passes through a buffer of ours.
            const std::size_t got = out.CopyFrom(*in, kBlockSize);
            if (got == 0)
                break;
            bytesOfFile += got;
            UpdatePercent(bytesOfFile);
        }
    } catch (const inet::InternetError& error) {
        if (IsKilled() || error.number() != inet::err::kFtpDropped)
            throw;
        Fail(QStringLiteral("The download of %1 broke off after %2 bytes: %3")
                 .arg(name, FormatThousands(bytesOfFile), QString::fromUtf8(error.message())));
    }
    out.Close();
    if (IsKilled())
        return; // the stream's end aborts what is left
    in->Close();
    if (ascii || file.size == 0)
        return; // ASCII changes line ends, so sizes do not compare
    // The server's word that all went well is not enough: a connection that
    // drops, or a server that ignored the restart, must not leave a broken
    // file taken for a finished one.
    if (bytesOfFile < file.size)
        Fail(QStringLiteral("The download of %1 ended after %2 of %3 bytes.")
                 .arg(name, FormatThousands(bytesOfFile), FormatThousands(file.size)));
    if (offset > 0 && bytesOfFile > file.size)
        Fail(QStringLiteral("The server did not continue %1 where it ended; the local file (%2 bytes of %3) is damaged.")
                 .arg(name, FormatThousands(bytesOfFile), FormatThousands(file.size)));
}
