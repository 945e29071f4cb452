#pragma once

#include "engine/base/RemotePath.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

// One remote file opened for editing: its private local copy and what the
// server held when it was fetched.
struct EditedFile {
    enum class State {
        Downloading, // the copy is being fetched
        Watching,    // open in the editor, nothing saved since the last upload
        Saved,       // the editor saved it: waiting for the upload question or the queue
        Uploading,
        UploadFailed, // the copy is kept; the user is told where it is
    };

    int id = 0;
    QString siteKey;         // which site, as the copy's folder names it
    RemotePath remotePath;
    QString localPath;
    State state = State::Downloading;
    quint64 remoteSize = 0;  // as fetched, to see whether the server's copy changed since
    qint64 remoteModified = -1;
    bool alwaysUpload = false; // "always for this file"
    QString problem;           // why the last upload failed
};

// The files being edited, each copy in a private folder of its own (per site
// and per remote path, so two files of one name never share a copy),
// readable by the user only, watched for saves. A save is taken as complete
// only once the file has stood still (size and time unchanged) for a moment,
// or once an editor's save-by-rename has put the new file in place: an
// upload never takes a half-written copy. A copy goes when its watch ends,
// unless its last upload failed.
class CEditedFiles : public QObject {
    Q_OBJECT
public:
    explicit CEditedFiles(QObject* parent = nullptr, int settleMs = 700);
    ~CEditedFiles() override;

    // Where the copy of `remotePath` on the site goes; the folder is made
    // (mode 0700) and must not hold another file of ours. Empty on failure.
    QString PrepareCopy(const QString& siteKey, const RemotePath& remotePath, QString* problem = nullptr);
    // The copy is in place: the watch starts. Returns the file's id.
    int Watch(const QString& siteKey, const RemotePath& remotePath, const QString& localPath, quint64 remoteSize,
              qint64 remoteModified);
    // The upload of a saved copy has started, succeeded or failed.
    void SetState(int id, EditedFile::State state, const QString& problem = QString());
    void SetAlwaysUpload(int id, bool always);
    // The server's copy as the upload left it: the next save compares with this.
    void SetRemoteState(int id, quint64 size, qint64 modified);
    // Ends the watch; the copy is removed unless its last upload failed (or keepCopy).
    void StopWatching(int id, bool keepCopy = false);
    void RemoveCopy(int id);

    const EditedFile* File(int id) const;
    QList<EditedFile> Files() const;
    // Saved but not uploaded: what quitting would lose.
    int PendingCount() const;

    // The folder all copies live under (per user).
    static QString Root();

signals:
    // A save stood still long enough: the copy may be uploaded.
    void Saved(int id);
    void Changed(); // any file's state, for the list of edited files

private:
    struct Watched;
    void OnPathChanged(const QString& path);
    void Settle(int id);

    QFileSystemWatcher m_watcher;
    QHash<int, std::shared_ptr<Watched>> m_files;
    int m_nextId = 1;
    int m_settleMs;
};
