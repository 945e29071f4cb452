#include "window/local/RemoteDragOut.h"

#include "window/local/DirectSave.h"
#include "window/local/LocalBrowserBar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

QByteArray CRemoteDragOut::PlaceholderContent()
{
    static const QByteArray content =
        QByteArrayLiteral("This file is created by Kestrix. You can safely remove this file.") + '\0';
    return content;
}

namespace {

// The rows' data; the Direct Save answer is made when a target asks for it,
// at the drop, by the drag that is still running.
class CRemoteRowsData : public QMimeData {
public:
    explicit CRemoteRowsData(CRemoteDragOut* drag) : m_drag(drag) {}

    QStringList formats() const override
    {
        QStringList all = QMimeData::formats();
        if (m_drag && m_drag->Using() == CRemoteDragOut::Way::DirectSave)
            all << QLatin1String(DirectSave::kFormat);
        return all;
    }

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override
    {
        if (format != QLatin1String(DirectSave::kFormat))
            return QMimeData::retrieveData(format, type);
        // Gone already: the drag is over, and so is any download from it.
        return m_drag ? m_drag->AnswerDirectSave(DirectSave::TargetAddress()) : QByteArray("E");
    }

private:
    QPointer<CRemoteDragOut> m_drag;
};

} // namespace

CRemoteDragOut::CRemoteDragOut(const QStringList& extraFolders, QObject* parent)
    : CRemoteDragOut(extraFolders, DirectSave::IsAvailable() ? Way::DirectSave : Way::Placeholder, parent)
{
}

CRemoteDragOut::CRemoteDragOut(const QStringList& extraFolders, Way way, QObject* parent)
    : QObject(parent)
    , m_way(way)
    , m_source(QDir::tempPath() + QStringLiteral("/kestrix-drag-XXXXXX"))
{
    if (m_way == Way::Placeholder && m_source.isValid()) {
        QFile file(m_source.filePath(QLatin1String(kPlaceholderName)));
        if (file.open(QIODevice::WriteOnly) && file.write(PlaceholderContent()) == PlaceholderContent().size())
            m_placeholder = file.fileName();
    }
    // Direct Save names the folder itself; a placeholder watch beside it
    // could only mistake an old placeholder for this drop.
    if (m_way == Way::DirectSave)
        return;

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

CRemoteDragOut::~CRemoteDragOut()
{
    if (m_way == Way::DirectSave)
        DirectSave::Withdraw();
}

QMimeData* CRemoteDragOut::MakeMimeData(const QString& suggestedName)
{
    m_suggestedName = suggestedName;
    auto* data = new CRemoteRowsData(this);
    data->setData(QLatin1String(CLocalBrowserBar::kRemoteRowsMimeType), QByteArray("rows"));
    if (HasPlaceholder())
        data->setUrls({QUrl::fromLocalFile(m_placeholder)});
    return data;
}

void CRemoteDragOut::OfferDirectSave()
{
    if (m_way == Way::DirectSave)
        DirectSave::Offer(m_suggestedName.isEmpty() ? QStringLiteral("download") : m_suggestedName);
}

QByteArray CRemoteDragOut::AnswerDirectSave(const QString& address)
{
    // Some targets ask while the drag still moves, before they have written
    // an address: no answer yet, which they take as nothing to say ("F"
    // would be a failed drop).
    if (QUrl(address).scheme().isEmpty())
        return QByteArray();
    // One drop, one answer: a second request changes nothing.
    if (m_answered)
        return m_seen.isEmpty() ? QByteArray("F") : QByteArray("S");
    m_answered = true;
    const QString folder = DirectSave::LocalFolderOf(address);
    if (folder.isEmpty()) {
        emit DropSeen(QString());
        return QByteArray("F");
    }
    m_seen = folder;
    emit DropSeen(m_seen);
    return QByteArray("S");
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
    if (m_answered)
        return m_seen;
    if (m_seen.isEmpty() && m_way == Way::Placeholder) {
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
