#pragma once

#include "engine/transfer/TransferJob.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CConnectionBudget;
class CTransferStore;
class CTransferThread;
class ITransferPort;

// A password the queue needs to run a job: after a restart the queue's file
// holds none. A job of a catalogue site (sitePath set) is looked up in the
// catalogue first; the rest come to the window.
struct TransferPasswordRequest {
    qint64 jobId = 0;
    QString host;
    int port = 21;
    QString user;
    QString sitePath;
};

// Answers password requests on the GUI thread; nullopt leaves the job stopped.
class ITransferPasswords {
public:
    virtual ~ITransferPasswords() = default;
    virtual std::optional<QString> PasswordFor(const TransferPasswordRequest& request) = 0;
};

// The transfer queue: every job and its files, their states, the workers
// that run them, and (with a store) the file that keeps them across runs.
// Widget-free: the Transfer Manager is a view over it, the status bar reads
// its counts, the frame adds jobs and hears its signals.
//
// Scheduling: queued jobs start oldest first while fewer than "TransferMax"
// jobs run (0: no bound) and their server has a connection slot left; a job
// opens up to ConnectionsPerJob connections, all jobs together no more than
// "TransferMax" to one server. Resubmit starts a job at once, past the bounds:
// the user asked for it.
//
// A completed or cancelled job leaves the queue; a failed one stays, with its
// reason and each file's, unless RemoveFailed is set; a stopped one stays
// until started or removed.
//
// GUI thread only. Destroying it stops every running job and keeps it for
// the next start (StopAllForExit).
class CTransferQueue : public QObject {
    Q_OBJECT
public:
    explicit CTransferQueue(QObject* parent = nullptr);
    ~CTransferQueue() override;

    // The queue's file in the per-user data folder, or the override (tests,
    // portable set-ups; empty restores the rule).
    static QString DefaultStorePath();
    static void SetDefaultStorePathOverride(const QString& path);

    // Keeps the queue in this file from now on and loads the jobs it holds:
    // unfinished ones come back Stopped, or Queued when startUnfinished. A
    // file that cannot be used gives one Notice, and the queue runs in memory.
    bool UseStore(const QString& path, bool startUnfinished = false);
    bool IsPersistent() const;

    void SetParallelLimit(int limit);
    void SetConnectionsPerJob(int connections); // 1-10
    void SetConnectionTimeout(int seconds);
    void SetRemoveFailed(bool remove) { m_removeFailed = remove; }
    void SetProxy(int type, const QString& name);
    // For the jobs that start from now on: copies keep their source's time,
    // and folders are collected without what the filter hides.
    void SetPreserveTimes(bool preserve) { m_preserveTimes = preserve; }
    void SetFilter(const CFileFilter& filter) { m_filter = filter; }
    // The progress window and questions of a job; none: nothing shown and
    // every question answered Cancel. `cancel` is what the window's Cancel does.
    using PortFactory =
        std::function<std::unique_ptr<ITransferPort>(const TransferJobRecord& record, std::function<void()> cancel)>;
    void SetPortFactory(PortFactory factory) { m_portFactory = std::move(factory); }
    void SetPasswordSource(ITransferPasswords* source) { m_passwords = source; }

    // Returns the new job's id (0 when there is nothing to do). The job's
    // folder-or-file target is settled now, from what exists now.
    qint64 AddDownload(const FileStatusList& entries, const QString& localFolder, const TransferSite& site,
                       const QString& remoteFolder);
    qint64 AddUpload(const FileStatusList& entries, const TransferSite& site, const QString& remoteFolder);
    // A job whose files are known already (a synchronisation's): job.files
    // is what it moves, and nothing is collected.
    qint64 AddCollected(TransferDirection direction, TransferJob job);

    // Starts what may start now.
    void Schedule();
    // A running job ends as cancelled and goes; one not running goes at once.
    void Cancel(qint64 id);
    // Runs the job now, whatever the bounds, continuing what is not done.
    void Resubmit(qint64 id);
    // A running job stops where it is and stays; a queued one waits.
    void Stop(qint64 id);
    // Takes a job that is not running out of the queue.
    void Remove(qint64 id);
    void StartAll();  // every stopped or failed job back in line
    void StopAll();
    // Before the program ends: every running job stops, all wait for next
    // time, the file is written, and no job starts any more. Returns at once
    // (workers are killed, not waited for beyond their closing sockets).
    void StopAllForExit();
    // Every job, running or not, cancelled and gone.
    void CancelAll();

    int JobCount() const { return int(m_jobs.size()); }
    const TransferJobRecord& JobAt(int row) const { return *m_jobs[std::size_t(row)]; }
    int RowOf(qint64 id) const;
    const TransferJobRecord* Find(qint64 id) const;
    int RunningCount() const { return int(m_running.size()); }
    int QueuedCount() const;
    int CountIn(TransferState state) const;
    // Bytes per second of all running jobs, over the last second or so.
    double TransferRate() const { return m_rate; }
    // Connections open to the server now, for tests and the status bar.
    int ConnectionsTo(const QString& host, int port) const;
    // Writes pending changes now (the batches otherwise go every half second).
    void Flush();

signals:
    void JobAboutToBeAdded(int row);
    void JobAdded(int row);
    void JobAboutToBeRemoved(int row);
    void JobRemoved(int row);
    // Anything about the job changed: state, progress, current file.
    void JobChanged(qint64 id);
    // Lines for the Trace pane (plain text) and the session's status lines.
    void TraceLine(int level, const QString& text);
    void StatusLine(const QString& text);
    // A file or folder an upload has just stored (absolute remote path).
    void ItemStored(const FileStatus& item);
    // The local files a download job wrote to (whole or in part), once it ends.
    void LocalFilesWritten(const QStringList& paths);
    // The counts or the rate changed.
    void ActivityChanged();
    void JobFailed(qint64 id, const QString& text);
    // The last running job ended and nothing is queued.
    void QueueFinished();
    // Something about the queue itself the user should read once (its file).
    void Notice(const QString& text);

protected:
    bool event(QEvent* event) override;

private:
    struct Running;

    qint64 Add(TransferJobRecord record);
    TransferJobRecord* FindMutable(qint64 id);
    bool Start(TransferJobRecord& record, bool forced);
    bool EnsurePassword(TransferJobRecord& record);
    void OnDone(CTransferThread* thread, bool failed, bool cancelled, const QString& text);
    void RemoveRow(int row);
    Running* RunningOf(const CTransferThread* thread);
    void Tick();
    void MarkJobDirty(qint64 id);
    void MarkFileDirty(qint64 id, int index);
    void MarkFilesDirty(qint64 id);
    void StoreFailed();
    void RecountBytes(TransferJobRecord& record);

    std::vector<std::unique_ptr<TransferJobRecord>> m_jobs;
    QHash<qint64, int> m_rows;
    std::vector<std::unique_ptr<Running>> m_running;
    QSet<qint64> m_stopping;
    std::shared_ptr<CConnectionBudget> m_budget;
    std::unique_ptr<CTransferStore> m_store;
    PortFactory m_portFactory;
    ITransferPasswords* m_passwords = nullptr;
    bool m_askingPassword = false;
    bool m_holding = false; // no job starts: all are being stopped or cancelled
    qint64 m_nextId = 1;
    int m_parallelLimit = 10;
    int m_connectionsPerJob = 2;
    int m_timeoutSeconds = 30;
    bool m_removeFailed = false;
    int m_proxyType = 0;
    QString m_proxyName;
    bool m_preserveTimes = true;
    CFileFilter m_filter;
    QTimer m_scheduler;
    QTimer m_writer;
    quint64 m_endedMoved = 0;
    quint64 m_lastMoved = 0;
    double m_rate = 0;
    bool m_storeBroken = false;
    // What the next batch writes.
    QSet<qint64> m_dirtyJobs;
    QSet<qint64> m_dirtyFileLists;
    QHash<qint64, QSet<int>> m_dirtyFiles;
    QSet<qint64> m_removed;
};
