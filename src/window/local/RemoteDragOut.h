#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QMimeData;

// One drag of remote rows out of the remote list. Remote files are not local
// files a file manager could copy. Under X11 the drag offers X Direct Save:
// a file manager that speaks it names the folder of the drop, whatever folder
// that is, and a program that does not refuses the drop, so nothing is left
// behind. Elsewhere the drag offers one small placeholder file instead, and a
// watch on the likely drop folders sees it appear: that folder is where the
// rows are downloaded, and the placeholder is removed. Inside this program
// the Local Browser takes the rows by their own type and neither is involved.
class CRemoteDragOut : public QObject {
    Q_OBJECT
public:
    static constexpr char kPlaceholderName[] = "deleteme.!!!";
    // How long after a drop the placeholder may take to appear.
    static constexpr int kDropWaitMs = 2500;
    // The placeholder's text and a closing zero byte: 66 bytes.
    static QByteArray PlaceholderContent();

    enum class Way { DirectSave, Placeholder };

    // Folders watched for the placeholder: the desktop, home and its standard
    // folders, and `extraFolders` (the Local Browser's folder). The way is
    // Direct Save where the window system has it, unless one is given.
    explicit CRemoteDragOut(const QStringList& extraFolders, QObject* parent = nullptr);
    CRemoteDragOut(const QStringList& extraFolders, Way way, QObject* parent = nullptr);
    ~CRemoteDragOut() override;

    Way Using() const { return m_way; }
    // False when the placeholder could not be written (no temporary folder),
    // or Direct Save is used: then no file is offered.
    bool HasPlaceholder() const { return !m_placeholder.isEmpty(); }

    // The drag's data: the rows' own type for the Local Browser, and for
    // everybody else Direct Save of `suggestedName` (the first row's name)
    // or the placeholder as a file. The data asks this object about Direct
    // Save for as long as it lives.
    QMimeData* MakeMimeData(const QString& suggestedName);
    // Once the drag runs (the window system has its source): names the file
    // for a Direct Save target.
    void OfferDirectSave();
    // A Direct Save target's address of the drop: "S" for a folder of this
    // computer, which becomes the drop folder; "F" (not saved: nothing is)
    // for any other address; nothing while the target has written no
    // address yet (it may ask while the drag still moves).
    QByteArray AnswerDirectSave(const QString& address);

    // After a drop another program took: runs the event loop until a Direct
    // Save target has answered or the placeholder appears in a watched
    // folder, or the wait is over. Returns the drop folder, or an empty
    // string.
    QString WaitForDrop(int milliseconds = kDropWaitMs);

    // A placeholder in `folder` with exactly our bytes is deleted and the
    // folder reported (DropSeen); anything else of that name is left alone.
    bool TakePlaceholder(const QString& folder);

signals:
    void DropSeen(const QString& folder);

private:
    Way m_way;
    QTemporaryDir m_source;
    QString m_placeholder;
    QString m_suggestedName;
    QFileSystemWatcher m_watcher;
    QString m_seen;
    bool m_answered = false; // a Direct Save target has had its answer
};
