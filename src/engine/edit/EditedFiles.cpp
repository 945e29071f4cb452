#include "engine/edit/EditedFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

struct CEditedFiles::Watched {
    EditedFile file;
    QTimer settle;
    qint64 lastSize = -1;
    QDateTime lastModified;
    bool savedDuringUpload = false; // looked at again once the upload ends
};

namespace {

QString Digest(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

bool MakePrivateFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

CEditedFiles::CEditedFiles(QObject* parent, int settleMs)
    : QObject(parent), m_settleMs(settleMs)
{
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &CEditedFiles::OnPathChanged);
    // An editor that saves by writing a new file and renaming it over the
    // old one ends the file's watch; its folder sees the new file arrive.
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &CEditedFiles::OnPathChanged);
}

CEditedFiles::~CEditedFiles() = default;

QString CEditedFiles::Root()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return QDir(base).filePath(QStringLiteral("kestrix-edit-%1").arg(::getuid()));
}

QString CEditedFiles::PrepareCopy(const QString& siteKey, const RemotePath& remotePath, QString* problem)
{
    const QString folder = QDir(Root()).filePath(Digest(siteKey) + QLatin1Char('/') + Digest(remotePath.ToString()));
    if (!MakePrivateFolder(Root()) || !MakePrivateFolder(QFileInfo(folder).path()) || !MakePrivateFolder(folder)) {
        if (problem)
            *problem = QStringLiteral("The folder for the copy could not be made: %1").arg(folder);
        return QString();
    }
    const QString path = QDir(folder).filePath(remotePath.Name());
    for (const auto& watched : std::as_const(m_files)) {
        if (watched->file.localPath == path) {
            if (problem)
                *problem = QStringLiteral("\"%1\" is being edited already.").arg(remotePath.ToString());
            return QString();
        }
    }
    return path;
}

int CEditedFiles::Watch(const QString& siteKey, const RemotePath& remotePath, const QString& localPath,
                        quint64 remoteSize, qint64 remoteModified)
{
    auto watched = std::make_shared<Watched>();
    EditedFile& file = watched->file;
    file.id = m_nextId++;
    file.siteKey = siteKey;
    file.remotePath = remotePath;
    file.localPath = localPath;
    file.state = EditedFile::State::Watching;
    file.remoteSize = remoteSize;
    file.remoteModified = remoteModified;
    QFile::setPermissions(localPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QFileInfo info(localPath);
    watched->lastSize = info.size();
    watched->lastModified = info.lastModified();
    watched->settle.setSingleShot(true);
    const int id = file.id;
    connect(&watched->settle, &QTimer::timeout, this, [this, id] { Settle(id); });
    m_files.insert(id, watched);
    m_watcher.addPath(localPath);
    m_watcher.addPath(info.path());
    emit Changed();
    return id;
}

void CEditedFiles::OnPathChanged(const QString& path)
{
    for (const auto& watched : std::as_const(m_files)) {
        EditedFile& file = watched->file;
        if (file.localPath != path && QFileInfo(file.localPath).path() != path)
            continue;
        if (file.state == EditedFile::State::Downloading)
            continue;
        if (file.state == EditedFile::State::Uploading) {
            watched->savedDuringUpload = true;
            continue;
        }
        // A file replaced by rename is a new file to the watcher.
        if (QFileInfo::exists(file.localPath) && !m_watcher.files().contains(file.localPath))
            m_watcher.addPath(file.localPath);
        watched->settle.start(m_settleMs);
    }
}

void CEditedFiles::Settle(int id)
{
    const auto watched = m_files.value(id);
    if (!watched)
        return;
    const QFileInfo info(watched->file.localPath);
    if (!info.exists()) {
        // Between an editor's delete and its rename: look again.
        watched->settle.start(m_settleMs);
        return;
    }
    const bool moved = info.size() != watched->lastSize || info.lastModified() != watched->lastModified;
    watched->lastSize = info.size();
    watched->lastModified = info.lastModified();
    if (!moved)
        return; // touched, not changed
    // Still being written? Wait until it stands still for a whole moment.
    QTimer::singleShot(m_settleMs, this, [this, id] {
        const auto again = m_files.value(id);
        if (!again)
            return;
        const QFileInfo now(again->file.localPath);
        if (!now.exists() || now.size() != again->lastSize || now.lastModified() != again->lastModified) {
            again->lastSize = now.size();
            again->lastModified = now.lastModified();
            again->settle.start(m_settleMs);
            return;
        }
        again->file.state = EditedFile::State::Saved;
        emit Changed();
        emit Saved(again->file.id);
    });
}

void CEditedFiles::SetState(int id, EditedFile::State state, const QString& problem)
{
    if (const auto watched = m_files.value(id)) {
        watched->file.state = state;
        watched->file.problem = problem;
        if (state != EditedFile::State::Uploading && watched->savedDuringUpload) {
            watched->savedDuringUpload = false;
            watched->settle.start(m_settleMs);
        }
        emit Changed();
    }
}

void CEditedFiles::SetAlwaysUpload(int id, bool always)
{
    if (const auto watched = m_files.value(id))
        watched->file.alwaysUpload = always;
}

void CEditedFiles::SetRemoteState(int id, quint64 size, qint64 modified)
{
    if (const auto watched = m_files.value(id)) {
        watched->file.remoteSize = size;
        watched->file.remoteModified = modified;
    }
}

void CEditedFiles::StopWatching(int id, bool keepCopy)
{
    const auto watched = m_files.take(id);
    if (!watched)
        return;
    m_watcher.removePath(watched->file.localPath);
    bool folderShared = false;
    for (const auto& other : std::as_const(m_files))
        folderShared = folderShared || QFileInfo(other->file.localPath).path() == QFileInfo(watched->file.localPath).path();
    if (!folderShared)
        m_watcher.removePath(QFileInfo(watched->file.localPath).path());
    if (!keepCopy && watched->file.state != EditedFile::State::UploadFailed) {
        QFile::remove(watched->file.localPath);
        QDir().rmdir(QFileInfo(watched->file.localPath).path());
    }
    emit Changed();
}

void CEditedFiles::RemoveCopy(int id)
{
    if (const auto watched = m_files.value(id))
        watched->file.state = EditedFile::State::Watching; // nothing left to keep
    StopWatching(id, false);
}

const EditedFile* CEditedFiles::File(int id) const
{
    const auto watched = m_files.value(id);
    return watched ? &watched->file : nullptr;
}

QList<EditedFile> CEditedFiles::Files() const
{
    QList<EditedFile> files;
    for (const auto& watched : std::as_const(m_files))
        files << watched->file;
    std::sort(files.begin(), files.end(), [](const EditedFile& a, const EditedFile& b) { return a.id < b.id; });
    return files;
}

int CEditedFiles::PendingCount() const
{
    int count = 0;
    for (const auto& watched : std::as_const(m_files))
        count += watched->file.state == EditedFile::State::Saved || watched->file.state == EditedFile::State::Uploading
                || watched->file.state == EditedFile::State::UploadFailed
            ? 1
            : 0;
    return count;
}
