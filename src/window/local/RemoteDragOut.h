#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QMimeData;

// One drag of remote rows out of the remote list. Remote files are not local
// files a file manager could copy, so the drag offers one small placeholder
// file instead. Wherever it lands, a watch on the likely drop folders sees it
// appear: that folder is where the rows are downloaded, and the placeholder
// is removed. Inside this program the Local Browser takes the rows by their
// own type and no placeholder is involved.
class CRemoteDragOut : public QObject {
    Q_OBJECT
public:
    static constexpr char kPlaceholderName[] = "deleteme.!!!";
    // How long after a drop the placeholder may take to appear.
    static constexpr int kDropWaitMs = 2500;
    // The placeholder's text and a closing zero byte: 66 bytes.
    static QByteArray PlaceholderContent();

    // Folders watched for the placeholder: the desktop, home and its standard
    // folders, and `extraFolders` (the Local Browser's folder).
    explicit CRemoteDragOut(const QStringList& extraFolders, QObject* parent = nullptr);
    ~CRemoteDragOut() override;

    // False when the placeholder could not be written (no temporary folder):
    // the drag then offers only the in-program type.
    bool HasPlaceholder() const { return !m_placeholder.isEmpty(); }

    // The drag's data: the rows' own type for the Local Browser, and the
    // placeholder as a file for everybody else.
    QMimeData* MakeMimeData() const;

    // After a drop another program took: runs the event loop until the
    // placeholder appears in a watched folder or the wait is over. Returns
    // the drop folder, or an empty string.
    QString WaitForDrop(int milliseconds = kDropWaitMs);

    // A placeholder in `folder` with exactly our bytes is deleted and the
    // folder reported (DropSeen); anything else of that name is left alone.
    bool TakePlaceholder(const QString& folder);

signals:
    void DropSeen(const QString& folder);

private:
    QTemporaryDir m_source;
    QString m_placeholder;
    QFileSystemWatcher m_watcher;
    QString m_seen;
};
