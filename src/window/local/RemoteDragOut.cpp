#include "window/local/RemoteDragOut.h"

#include "window/local/LocalBrowserBar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

QByteArray CRemoteDragOut::PlaceholderContent()
{
    static const QByteArray content =
        QByteArrayLiteral("This file is created by Kestrix. You can safely remove this file.") + '\0';
    return content;
}

CRemoteDragOut::CRemoteDragOut(const QStringList& extraFolders, QObject* parent)
    : QObject(parent)
    , m_source(QDir::tempPath() + QStringLiteral("/kestrix-drag-XXXXXX"))
{
    if (m_source.isValid()) {
        QFile file(m_source.filePath(QLatin1String(kPlaceholderName)));
        if (file.open(QIODevice::WriteOnly) && file.write(PlaceholderContent()) == PlaceholderContent().size())
            m_placeholder = file.fileName();
    }

    QStringList folders{QDir::homePath()};
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                                QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation,
                                QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation})
        folders << QStandardPaths::writableLocation(location);
    folders << extraFolders;
    for (const QString& folder : std::as_const(folders)) {
        // The watch reports changes of a folder, not of the folders below it.
        if (!folder.isEmpty() && QFileInfo(folder).isDir() && !m_watcher.directories().contains(folder))
            m_watcher.addPath(folder);
    }
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &CRemoteDragOut::TakePlaceholder);
}

CRemoteDragOut::~CRemoteDragOut() = default;

QMimeData* CRemoteDragOut::MakeMimeData() const
{
    auto* data = new QMimeData;
    data->setData(QLatin1String(CLocalBrowserBar::kRemoteRowsMimeType), QByteArray("rows"));
    if (HasPlaceholder())
        data->setUrls({QUrl::fromLocalFile(m_placeholder)});
    return data;
}

bool CRemoteDragOut::TakePlaceholder(const QString& folder)
{
    if (!m_seen.isEmpty())
        return false;
    const QString path = QDir(folder).filePath(QLatin1String(kPlaceholderName));
    QFile file(path);
    // Only our own bytes: a user's file of that name is none of our business.
    if (!file.open(QIODevice::ReadOnly) || file.size() != PlaceholderContent().size()
        || file.readAll() != PlaceholderContent())
        return false;
    file.close();
    if (!QFile::remove(path))
        return false;
    m_seen = QDir::cleanPath(folder);
    emit DropSeen(m_seen);
    return true;
}

QString CRemoteDragOut::WaitForDrop(int milliseconds)
{
    if (m_seen.isEmpty()) {
        // The copy may have happened before the watch reported anything.
        for (const QString& folder : m_watcher.directories()) {
            if (TakePlaceholder(folder))
                break;
        }
    }
    if (m_seen.isEmpty()) {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        connect(this, &CRemoteDragOut::DropSeen, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return m_seen;
}
