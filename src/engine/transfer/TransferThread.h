#pragma once

#include "engine/base/RemotePath.h"
#include "engine/base/SyncEvent.h"
#include "engine/remote/RemoteFileSystem.h"
#include "engine/transfer/TransferJob.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CConnectionBudget;
class ITransferPort;
class QEvent;
class QObject;

class CSiteConnection;

// A local file that could not be created, opened, read or written.
struct FileError {
    int cause;        // errno
    QString fileName;
};

// One transfer job on a thread of its own: connect with attempts, enter the
// job's remote folder, collect the files (unless the job already knows them),
// then move them over up to job.connections connections, each logged in once
// and fed the next file in order. Questions come one at a time, in the
// files' order. A file that fails fails alone: the others go on, a broken
// connection is made again and the file continued where it stopped, within
// the site's retries. Download and upload threads differ in how they collect,
// ask and move one file.
//
// Thread rules: the object is made and destroyed on the GUI thread; the job
// is fixed at construction. SetReceiver(), SetPort() and
// SetConnectionBudget() only before Resume(). Kill(), IsKilled() and the
// result accessors work from any thread. While the run lasts the thread
// reports only through events posted to the receiver (TransferStatusEvent,
// TransferFilesEvent, TransferFileEvent, TransferDoneEvent, TraceLineEvent,
// RemoteItemAddedEvent) and talks to the user only through its port; it
// never touches a widget.
//
// Stopping: Kill() sets the kill event, cancels every connection of the job
// (every call blocked on a stalled server returns at once) and answers a
// waiting question with Cancel. Stop() kills, starts a thread never started
// (it then ends at once) and waits for its end; the object may then be
// deleted. What was written stays, and the files' records say how far each got.
class CTransferThread {
public:
    using Direction = TransferDirection;

    virtual ~CTransferThread();
    CTransferThread(const CTransferThread&) = delete;
    CTransferThread& operator=(const CTransferThread&) = delete;

    Direction GetDirection() const { return m_direction; }
    const TransferJob& Job() const { return m_job; }
    // Receives the thread's events; must outlive the thread's run.
    void SetReceiver(QObject* receiver) { m_receiver = receiver; }
    // The progress dialog and the questions; without one nothing is shown
    // and every question is answered Cancel.
    void SetPort(std::unique_ptr<ITransferPort> port);
    // Where the job's extra connections come from; without one it opens all
    // it may. The job's first connection is the starter's to count.
    void SetConnectionBudget(std::shared_ptr<CConnectionBudget> budget) { m_budget = std::move(budget); }

    // Starts the run; true only for the call that started it.
    bool Resume();
    bool IsStarted() const;
    void Kill();
    bool IsKilled() const;
    void Stop();
    // The run is over and the thread has let go of everything.
    bool IsDead() const;

    // Once dead: the success text, the cancelled text or why it failed.
    QString ResultText() const;
    bool Failed() const;
    // Once dead: every file as the run left it.
    TransferFileList Files() const;
    // The operating system's id of the worker, as trace lines show it.
    long ThreadId() const;
    // Bytes copied so far, for the rate the window shows.
    quint64 BytesMoved() const { return m_moved.load(std::memory_order_relaxed); }
    // The most connections that moved files at once.
    int PeakConnections() const { return m_peakLanes.load(); }

    QString SuccessText() const;
    QString CancelledText() const;

protected:
    CTransferThread(Direction direction, TransferJob job);

    // One connection of the job (FTP or SFTP) and the file it moves. Its
    // connection is one Kill() reaches until the lane drops it or goes.
    struct Lane {
        explicit Lane(CTransferThread& owner) : owner(owner) {}
        ~Lane();
        Lane(const Lane&) = delete;
        Lane& operator=(const Lane&) = delete;
        CTransferThread& owner;
        int number = 0;
        std::unique_ptr<remote::IFileSystem> connection;
        quint64 counted = 0; // bytes of its current file already in the job's count
        qint64 lastPost = 0; // ms, of its last file event
    };
    // Move: from the start. Resume: from where the user agreed (the sizes
    // seen when asked). Continue: a file this job began; the target's own
    // size says where to go on. Skip: left as it is.
    enum class Plan { Move, Resume, Continue, Skip };

    // The job's files from its selection, over the first connection (whose
    // current folder is the job's remote folder).
    virtual void Collect(remote::IFileSystem& connection, TransferFileList& files) = 0;
    // Once the files are known, before any moves, on the first connection.
    virtual void Prepare(remote::IFileSystem&, TransferFileList&) {}
    // In the files' order, one at a time: whether this file goes and how.
    // May ask the user; Cancelled() calls the job off.
    virtual Plan Decide(TransferFile& file, qsizetype remaining) = 0;
    // Moves one file; failures are thrown (FileError, inet::InternetError,
    // FailFile()). Reports its bytes through Started() and Moved().
    virtual void Move(Lane& lane, int index, Plan plan) = 0;
    // A folder entry's turn in the files' order (it was made in Prepare).
    virtual void FolderReached(const TransferFile&) {}
    // What a file writes, for the claims against a second job writing it.
    virtual QString TargetKey(const TransferFile& file) const = 0;

    // Ends the run as failed with this text.
    [[noreturn]] static void Fail(const QString& text);
    // Ends the current file as failed; the job goes on.
    [[noreturn]] static void FailFile(const QString& text);
    // Ends the run as cancelled (not a failure).
    [[noreturn]] static void Cancelled();

    ITransferPort& Port() { return *m_port; }
    const QString& Host() const { return m_job.site.host; }
    // The job's remote folder as the first connection found it.
    const RemotePath& RemoteFolder() const { return m_folder; }
    // A copy of the file's record (the lanes share the list).
    TransferFile FileAt(int index) const;
    std::string ToServer(const RemotePath& path) const;

    void PostStatus(const QString& name, const QString& status, int percent);
    void Post(QEvent* event);
    // A line for the Trace pane, "[thread id] text", plain text.
    void PostTrace(int level, const QString& text);
    // The job could not do all it was asked, though no file failed (a folder
    // too deep to follow): the job ends failed, saying so.
    void AddProblem(const QString& text);
    // An entry of a folder being collected that the filename filters hide:
    // left out, and counted in the job's result.
    bool Filtered(const QString& name, bool folder, quint64 size);
    // A line for the Trace pane once per server and `topic` in this run of
    // the program, however many jobs and files meet the same limit.
    void PostTraceOnce(const QString& topic, int level, const QString& text);
    // A synchronisation's file whose target is no longer what the preview
    // showed: why it is left alone, or empty when it may be written.
    static QString TargetChangedText(const TransferFile& file, bool exists, quint64 size, qint64 modified);
    // The file's target held `offset` bytes when its move began.
    void Started(Lane& lane, int index, quint64 offset);
    // The file's target holds `bytesOfFile` bytes now.
    void Moved(Lane& lane, int index, quint64 bytesOfFile);
    // The copy loop of both directions: `step` moves the next block and
    // returns its size, 0 at the end. Returns the file's bytes at the end, or
    // where a kill stopped it. `beyond` (optional) is asked after each block
    // whether the bytes so far are more than can be right; it stops the loop.
    quint64 Pump(Lane& lane, int index, quint64 offset, const std::function<std::size_t()>& step,
                 const std::function<bool(quint64)>& beyond = {});
    void AddToTotal(quint64 bytes);
    void MarkFile(int index, TransferState state, const QString& result);

    // Bytes moved between two looks at the kill event: large enough to keep
    // the system calls few, small enough that Cancel acts at once.
    static constexpr std::size_t kBlockSize = 1024 * 1024;
    // A folder nested deeper than this is not followed.
    static constexpr int kMaxDepth = 256;

private:
    struct NullPort;
    struct LaneGone {};

    void ThreadMain();
    void Run();
    void ConnectWithAttempts(Lane& lane);
    void ConnectLane(Lane& lane);
    // Lets go of the lane's connection; Kill() no longer reaches it.
    void DropConnection(Lane& lane);
    void RunLanes(Lane& first);
    void LaneMain(Lane& lane);
    // The next file for a lane, decided; -1 when none is left.
    int Next(Plan& plan);
    // False when the lane lost its connection for good.
    bool MoveWithAttempts(Lane& lane, int index, Plan plan);
    void PostFile(Lane* lane, int index, bool force);
    void StopDispatch(const QString& reason);
    QString Summary();
    void SetResult(QString text, bool failed);
    void UpdateRate();

    const Direction m_direction;
    const TransferJob m_job;
    QObject* m_receiver = nullptr;
    std::unique_ptr<ITransferPort> m_port;
    std::shared_ptr<CConnectionBudget> m_budget;
    RemotePath m_folder;

    // The files and the counts the lanes share.
    mutable std::mutex m_filesMutex;
    TransferFileList m_files;
    quint64 m_totalBytes = 0;
    qint64 m_jobDone = 0;
    int m_lastPercent = -1;
    QStringList m_problems;
    QString m_stopReason;
    bool m_stopDispatch = false;
    QElapsedTimer m_clock;
    qint64 m_lastPortUpdate = -1000;
    qint64 m_rateSince = 0;
    quint64 m_rateMoved = 0;
    double m_rate = 0;
    QString m_currentName;
    quint64 m_currentSize = 0;

    // Handing out files and asking questions: one lane at a time, in order.
    std::mutex m_dispatchMutex;
    std::size_t m_next = 0;

    std::atomic<int> m_filtered{0};
    std::atomic<quint64> m_moved{0};
    std::atomic<int> m_lanes{0};
    std::atomic<int> m_peakLanes{0};

    CSyncEvent m_kill{CSyncEvent::Reset::Manual};
    CSyncEvent m_dead{CSyncEvent::Reset::Manual};
    std::unique_ptr<CSiteConnection> m_site;
    // Guards the live connections against Kill() from another thread, and
    // the state the GUI thread reads.
    mutable std::mutex m_mutex;
    std::vector<remote::IFileSystem*> m_connections;
    std::thread m_thread;
    bool m_started = false;
    QString m_result;
    bool m_failed = false;
    long m_threadId = 0;
};
