#include "engine/transfer/DownloadThread.h"

#include "engine/base/SizeText.h"
#include "engine/base/TraceLevel.h"
#include "engine/remote/RemoteFileSystem.h"
#include "engine/inet/InternetError.h"
#include "engine/transfer/LocalFile.h"
#include "engine/transfer/LocalPaths.h"
#include "engine/transfer/SharedLimits.h"
#include "engine/transfer/TransferErrors.h"
#include "engine/transfer/TransferPort.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <climits>
#include <vector>

namespace {

// "1 KB (1,000 bytes)" and the time, as the questions show a file.
QString Describe(quint64 size, const QDateTime& modified)
{
    return QStringLiteral("%1 (%2 bytes)\r\n%3")
        .arg(FormatSizeKB(size), FormatThousands(size), QLocale().toString(modified, QLocale::LongFormat));
}

} // namespace

CDownloadThread::CDownloadThread(TransferJob job)
    : CTransferThread(Direction::Download, std::move(job))
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

QString CDownloadThread::TargetKey(const TransferFile& file) const
{
    return CTargetClaims::LocalKey(file.localPath);
}

void CDownloadThread::Collect(remote::IFileSystem& connection, TransferFileList& files)
{
    const QString& target = Job().localFolder;
    bool folderChosen = false;
    qsizetype fileCount = 0;
    for (const FileStatus& item : Job().items) {
        folderChosen = folderChosen || item.IsFolder();
        fileCount += item.IsFolder() ? 0 : 1;
    }
    // The target is what the user chose when queuing; a folder that has gone
    // since is made again, never taken for the name of a file.
    const QFileInfo targetInfo(target);
    m_targetIsFolder = Job().localIsFolder
        && (targetInfo.isDir() || !targetInfo.exists() || fileCount > 1 || folderChosen);
    if (m_targetIsFolder && !targetInfo.isDir()) {
        errno = 0;
        if (!CreateFolderPath(target))
            Fail(QStringLiteral("The download folder cannot be made: %1")
                     .arg(DescribeFileError(errno ? errno : ENOTDIR, target)));
    }

    for (const FileStatus& item : Job().items) {
        if (!RemotePath::IsValidName(item.path)) {
            PostTrace(TRACE_ERROR, QStringLiteral("Skipped \"%1\": not a name that can be written to disk.").arg(item.path));
            continue;
        }
        const RemotePath remote = RemoteFolder().Child(item.path);
        if (item.IsFolder()) {
            // A folder that cannot be entered or listed brings what it gave so far.
            CollectRemoteFolder(connection, remote, files, 0);
            continue;
        }
        TransferFile file;
        file.remotePath = remote.ToString();
        file.size = item.size;
        file.modified = item.modified;
        file.exactTime = item.HasExactTime() && item.modified >= 0;
        files.push_back(file);
    }
    // Names were checked one by one; where each lands is the last word.
    TransferFileList kept;
    kept.reserve(files.size());
    for (TransferFile& file : files) {
        file.localPath = LocalPathOf(file.remotePath);
        if (file.localPath.isEmpty()) {
            PostTrace(TRACE_ERROR, QStringLiteral("Skipped \"%1\": it would be written outside \"%2\".")
                                       .arg(file.remotePath, target));
            continue;
        }
        kept.push_back(std::move(file));
    }
    files = std::move(kept);
}

bool CDownloadThread::CollectRemoteFolder(remote::IFileSystem& connection, const RemotePath& folder,
                                          TransferFileList& files, int depth)
{
    if (folder.IsEmpty() || IsKilled())
        return false;
    if (depth > kMaxDepth) {
        AddProblem(QStringLiteral("Stopped collecting at \"%1\": folders nested deeper than %2 levels are not "
                                  "followed (a folder that contains itself?). Its files were left out.")
                       .arg(folder.ToString())
                       .arg(kMaxDepth));
        return false;
    }
    std::vector<QString> subfolders;
    try {
        // A path handed to MLSD or SFTP names exactly that folder; a LIST
        // argument may be read as a pattern ("[" and "*" are valid in names),
        // so LIST lists the folder it was entered in.
        const bool named = connection.features().listsNamedFolder;
        if (!named)
            connection.SetCurrentDirectory(ToServer(folder));
        connection.List(
            named ? ToServer(folder) : std::string(),
            [&](remote::Entry&& entry) {
                const QString name = QString::fromUtf8(entry.name);
                if (!RemotePath::IsValidName(name))
                    return;
                if (Filtered(name, entry.isFolder, entry.size))
                    return;
                if (entry.isFolder) {
                    subfolders.push_back(name);
                    return;
                }
                TransferFile file;
                file.remotePath = folder.Child(name).ToString();
                file.size = entry.size;
                file.modified = entry.modified;
                file.exactTime = entry.modified >= 0 && entry.timePrecision == inet::TimePrecision::Exact;
                files.push_back(file);
            },
            [this, &folder](inet::LineKind kind, std::string_view line) {
                QString text = QString::fromUtf8(line.data(), qsizetype(line.size()));
                text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
                text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
                text.replace(QChar(u'\0'), QLatin1String("\\0"));
                if (kind == inet::LineKind::UnsafeName)
                    PostTrace(TRACE_ERROR, QStringLiteral("Skipped an entry of \"%1\" whose name cannot be used safely: \"%2\"")
                                               .arg(folder.ToString(), text));
            });
    } catch (const inet::InternetError& error) {
        if (IsKilled())
            Cancelled();
        AddProblem(QStringLiteral("Could not list \"%1\": %2").arg(folder.ToString(), DescribeInternetError(error, Job().timeoutMs)));
        return false;
    }
    for (const QString& name : subfolders) {
        if (!CollectRemoteFolder(connection, folder.Child(name), files, depth + 1))
            return false;
    }
    return true;
}

QString CDownloadThread::LocalPathOf(const QString& remotePath) const
{
    const QString& target = Job().localFolder;
    if (!m_targetIsFolder)
        return target;
    const QString local = WithSingleSlashes(target + QLatin1Char('/') + RelativeRemotePath(remotePath));
    // Names were checked one by one; this is the last word on where it goes.
    const QString root = QDir::cleanPath(target);
    const QString cleaned = QDir::cleanPath(local);
    const bool inside = root == QLatin1String("/") ? cleaned.size() > 1
                                                   : cleaned.startsWith(root + QLatin1Char('/'));
    return inside ? local : QString();
}

void CDownloadThread::FolderReached(const TransferFile& file)
{
    if (file.localPath.isEmpty() || QFileInfo(file.localPath).isDir())
        return;
    errno = 0;
    if (!CreateFolderPath(file.localPath))
        PostTrace(TRACE_ERROR, DescribeFileError(errno ? errno : ENOTDIR, file.localPath));
}

CTransferThread::Plan CDownloadThread::Decide(TransferFile& file, qsizetype remaining)
{
    const QFileInfo local(file.localPath);
    if (!local.exists())
        return Plan::Move;
    // Ours from an earlier run: the bytes on disk are the truth, whatever the
    // queue's record managed to note before the program ended.
    if (file.IsPartial() && local.isFile() && quint64(local.size()) <= file.size)
        return Plan::Continue;
    // The user saw this replacement in the preview and kept it; whether the
    // file is still what it showed is checked as it is written.
    if (file.targetCheck != TransferFile::TargetCheck::None)
        return Plan::Move;
    if (m_yesToAll)
        return Plan::Move;
    FileQuestion question;
    question.fileName = local.fileName();
    question.remaining = static_cast<int>(std::min<qsizetype>(remaining, INT_MAX));
    question.existingDescription = Describe(quint64(local.size()), local.lastModified());
    question.newDescription = Describe(file.size, QDateTime::fromSecsSinceEpoch(file.modified));

    if (local.isFile() && quint64(local.size()) < file.size) {
        switch (Port().AskResume(question)) {
        case kAnswerYes: return Plan::Resume;
        case kAnswerNo: return Plan::Move; // fetched whole
        default: Cancelled();
        }
    }
    switch (Port().AskReplace(question)) {
    case kAnswerYesToAll: m_yesToAll = true; return Plan::Move;
    case kAnswerYes: return Plan::Move;
    case kAnswerNo: return Plan::Skip;
    default: Cancelled();
    }
}

std::unique_ptr<remote::IFileStream> CDownloadThread::OpenRemote(remote::IFileSystem& connection,
                                                                 const RemotePath& remote, bool ascii, quint64& offset)
{
    const inet::TransferType type = ascii ? inet::TransferType::Ascii : inet::TransferType::Binary;
    try {
        // The restart goes out with the transfer itself, after the type and
        // the data connection are set: servers refuse it in ASCII type, and
        // some forget it on PASV.
        try {
            return connection.OpenRead(ToServer(remote), offset, type);
        } catch (const inet::InternetError& error) {
            if (offset == 0 || IsKilled() || error.number() != inet::err::kExtendedError)
                throw;
            // No "350": the file is fetched whole.
            offset = 0;
            return connection.OpenRead(ToServer(remote), 0, type);
        }
    } catch (const inet::InternetError& error) {
        if (IsKilled() || error.number() != inet::err::kExtendedError)
            throw;
        FailFile(QStringLiteral("Unable to open remote file %1: %2")
                     .arg(remote.Name(), DescribeInternetError(error, Job().timeoutMs)));
    }
}

void CDownloadThread::Move(Lane& lane, int index, Plan plan)
{
    const TransferFile file = FileAt(index);
    const RemotePath remote = RemotePath::FromServer(file.remotePath);
    const QString name = remote.Name();
    const QString& localPath = file.localPath;
    const QString localFolder = localPath.left(localPath.lastIndexOf(QLatin1Char('/')) + 1);
    if (!localFolder.isEmpty() && !QFileInfo(localFolder).isDir()) {
        errno = 0;
        if (!CreateFolderPath(localFolder))
            throw FileError{errno ? errno : ENOTDIR, localFolder};
    }
    Port().SetLine1(QStringLiteral("Copying '%1'").arg(name));
    Port().SetLine2(QStringLiteral("From '%1' to '%2'").arg(Host(), AbbreviatePath(localFolder, 50, true)));
    if (plan == Plan::Move && file.targetCheck != TransferFile::TargetCheck::None) {
        const QFileInfo now(localPath);
        const QString changed = TargetChangedText(file, now.exists(), quint64(now.size()),
                                                  now.exists() ? now.lastModified().toSecsSinceEpoch() : -1);
        if (!changed.isEmpty())
            FailFile(changed);
    }

    quint64 offset = 0;
    if (plan == Plan::Resume || plan == Plan::Continue) {
        const QFileInfo existing(localPath);
        offset = existing.isFile() ? quint64(existing.size()) : 0;
        // More on disk than the server has: not a beginning of this file.
        if (file.size > 0 && offset > file.size)
            offset = 0;
        if (file.size > 0 && offset == file.size) {
            Started(lane, index, offset);
            return; // complete already
        }
    }
    const bool ascii = Job().site.transferType == 1;
    // The remote file first: a refused one leaves no empty local file behind.
    std::unique_ptr<remote::IFileStream> in = OpenRemote(*lane.connection, remote, ascii, offset);
    CLocalFile out;
    if (!out.Open(localPath, offset > 0 ? CLocalFile::Mode::WriteKeep : CLocalFile::Mode::WriteTruncate))
        throw FileError{errno, localPath};
    out.Seek(offset);
    Started(lane, index, offset);
    PostStatus(name, QStringLiteral("Downloading"), -1);
    Port().SetRange(100);

    // A server that took the restart but sends from the first byte gives
    // more than the file holds: stop there, before the copy is damaged further.
    bool overran = false;
    const quint64 bytes = Pump(
        lane, index, offset, [&] { return out.CopyFrom(*in, kBlockSize); },
        [&](quint64 so) { return overran = offset > 0 && file.size > 0 && so > file.size && !ascii; });
    if (overran) {
        out.Truncate(offset);
        out.Close();
        in.reset(); // aborts the rest
        Moved(lane, index, offset);
        FailFile(QStringLiteral("The server did not continue %1 at byte %2 but sent it from its start; the local "
                                "file was put back as it was (%3 bytes of %4).")
                     .arg(name, FormatThousands(offset), FormatThousands(offset), FormatThousands(file.size)));
    }
    out.Close();
    if (IsKilled())
        Cancelled(); // the stream's end aborts what is left
    in->Close();
    // The time goes on a copy known complete, never on a broken one.
    if (file.size == 0) {
        KeepRemoteTime(*lane.connection, file);
        return;
    }
    // The server's word that all went well is not enough: a connection that
    // drops must not leave a broken file taken for a finished one. In ASCII
    // the line ends change the length, by one byte per converted CR LF at
    // most, so what came over the wire is held to the listed size.
    if (ascii) {
        const quint64 wire = in->bytesTransferred();
        const quint64 local = bytes - offset;
        if (offset + wire < file.size)
            FailFile(QStringLiteral("The download of %1 ended after %2 of %3 bytes (%4 line ends converted).")
                         .arg(name, FormatThousands(offset + wire), FormatThousands(file.size),
                              FormatThousands(wire - std::min(wire, local))));
        KeepRemoteTime(*lane.connection, file);
        return;
    }
    if (bytes < file.size)
        FailFile(QStringLiteral("The download of %1 ended after %2 of %3 bytes.")
                     .arg(name, FormatThousands(bytes), FormatThousands(file.size)));
    if (offset > 0 && bytes > file.size)
        FailFile(QStringLiteral("The server did not continue %1 where it ended; the local file (%2 bytes of %3) is damaged.")
                     .arg(name, FormatThousands(bytes), FormatThousands(file.size)));
    KeepRemoteTime(*lane.connection, file);
}

void CDownloadThread::KeepRemoteTime(remote::IFileSystem& connection, const TransferFile& file)
{
    if (!Job().preserveTimes || IsKilled())
        return;
    qint64 modified = file.exactTime ? file.modified : -1;
    if (modified < 0) {
        try {
            modified = connection.GetModificationTime(ToServer(RemotePath::FromServer(file.remotePath)));
        } catch (const inet::InternetError& error) {
            if (error.number() != inet::err::kExtendedError && error.number() != inet::err::kInvalidServerResponse)
                return; // the connection's trouble shows with the next file
            PostTraceOnce(QStringLiteral("MDTM"), TRACE_INFO,
                          QStringLiteral("%1 does not tell exact file times (MDTM): downloaded files keep the time "
                                         "they were written.").arg(Host()));
            return;
        }
    }
    if (!SetLocalModified(file.localPath, modified))
        PostTrace(TRACE_ERROR, QStringLiteral("The time of %1 could not be set: %2")
                                   .arg(file.localPath, DescribeFileError(errno, file.localPath)));
}
