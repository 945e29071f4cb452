#pragma once

#include "engine/base/FileStatus.h"
#include "engine/base/SyncEvent.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class ITransferPort;
class QEvent;
class QObject;

namespace inet {
class FtpConnection;
class InternetSession;
}

// What a transfer job is. Whoever queues the job writes it before the thread
// starts; nobody changes it afterwards (the thread empties `items` once it
// has expanded them into its own file list).
struct TransferJob {
    // Download: names in remoteFolder, folders marked. Upload: full local paths.
    FileStatusList items;
    QString host;
    QString user;
    QString password;
    QString remoteFolder; // download: where the files come from; upload: where they go
    QString localFolder;  // download: the destination folder, or the file of a one-file job
    int transferType = 2; // 1 ASCII, 2 binary; downloads only
    int retries = 1;      // connection attempts; fewer than 1 still makes one
    int retryDelay = 10;  // seconds between attempts
    int port = 21;
    bool passive = false;
    // SiteEncryption. A worker never asks about a certificate: it takes the
    // ones accepted on the main connection and those trusted for good.
    int encryption = 0;
    QStringList acceptedCertificates;
    int timeoutMs = 0;    // connect, send and receive time-out; 0 keeps the library's
    int proxyType = 0;    // 0 the system's, 1 direct, 2 the named proxy
    QString proxyName;
};

// A local file that could not be created, opened, read or written.
struct FileError {
    int cause;        // errno
    QString fileName;
};

// One transfer job on a thread of its own, with its own connection: connect
// with attempts, enter the job's remote folder, run the engine (Transfer()),
// report the end. Download and upload threads differ in their engines and
// their texts only.
//
// Thread rules: the object is made and destroyed on the GUI thread. Job(),
// SetReceiver() and SetPort() only before Resume(). Kill(), IsKilled() and
// the result accessors work from any thread. While the run lasts the thread
// reports only through events posted to the receiver (TransferStatusEvent,
// TransferDoneEvent, RemoteItemAddedEvent) and talks to the user only
// through its port; it never touches a widget.
//
// Stopping: Kill() sets the kill event, closes the thread's internet session
// (a call blocked on a stalled server returns at once) and answers a waiting
// question with Cancel. The engine also tests the kill event before every
// block it copies. Stop() kills, starts a thread never started (it then ends
// at once) and waits for its end; the object may then be deleted.
class CTransferThread {
public:
    enum class Direction { Download, Upload };

    virtual ~CTransferThread();
    CTransferThread(const CTransferThread&) = delete;
    CTransferThread& operator=(const CTransferThread&) = delete;

    Direction GetDirection() const { return m_direction; }
    TransferJob& Job() { return m_job; }
    const TransferJob& Job() const { return m_job; }
    // Receives the thread's events; must outlive the thread's run.
    void SetReceiver(QObject* receiver) { m_receiver = receiver; }
    // The progress dialog and the questions; without one nothing is shown
    // and every question is answered Cancel.
    void SetPort(std::unique_ptr<ITransferPort> port);

    // Starts the run; true only for the call that started it.
    bool Resume();
    bool IsStarted() const;
    void Kill();
    bool IsKilled() const;
    void Stop();
    // The run is over and the thread has let go of everything.
    bool IsDead() const;

    // Once dead: the success text, the cancelled text, or why it failed.
    QString ResultText() const;
    bool Failed() const;
    // The operating system's id of the worker, for "[%d]" in trace lines.
    long ThreadId() const;
    // Bytes copied so far, for the rate the window shows.
    quint64 BytesMoved() const { return m_moved.load(std::memory_order_relaxed); }

    QString SuccessText() const;
    QString CancelledText() const;

protected:
    explicit CTransferThread(Direction direction);

    // Everything after connecting and entering the job's remote folder.
    // Failures are thrown: Fail(), FileError or inet::InternetError.
    virtual void Transfer() = 0;

    inet::FtpConnection& Connection() { return *m_connection; }
    ITransferPort& Port() { return *m_port; }
    const QString& Host() const { return m_job.host; }

    // Ends the run as failed with this text.
    [[noreturn]] static void Fail(const QString& text);
    // Ends the run as cancelled (not a failure).
    [[noreturn]] static void Cancelled();

    // The queue row: an empty name or status leaves that column alone.
    void PostStatus(const QString& name, const QString& status, int percent);
    // Events for the receiver, which owns them once posted.
    void Post(QEvent* event);
    // The percentage of the run with `bytesOfFile` of the current file done;
    // shown and posted only when it changes.
    void UpdatePercent(quint64 bytesOfFile);
    // The server's last reply as one line.
    QString LastReply() const;
    int LastPercent() const { return m_lastPercent; }
    // A line for the Trace pane, "[thread id] text".
    void PostTrace(int level, const QString& text);

    // Bytes copied between two looks at the kill event: large enough to keep
    // the system calls few, small enough that Cancel acts at once.
    static constexpr std::size_t kBlockSize = 1024 * 1024;

    quint64 m_totalBytes = 0; // every file of the run
    quint64 m_bytesDone = 0;  // files finished or skipped

private:
    struct NullPort;

    void ThreadMain();
    void Run();
    void OpenSession();
    void ConnectWithAttempts();
    void SetResult(QString text, bool failed);

    const Direction m_direction;
    TransferJob m_job;
    QObject* m_receiver = nullptr;
    std::unique_ptr<ITransferPort> m_port;
    std::unique_ptr<inet::FtpConnection> m_connection;
    int m_lastPercent = 0;
    quint64 m_lastFileBytes = 0;
    std::atomic<quint64> m_moved{0};

    CSyncEvent m_kill{CSyncEvent::Reset::Manual};
    CSyncEvent m_dead{CSyncEvent::Reset::Manual};
    // Guards the session pointer against Kill() from another thread, and the
    // state the GUI thread reads.
    mutable std::mutex m_mutex;
    std::shared_ptr<inet::InternetSession> m_session;
    std::thread m_thread;
    bool m_started = false;
    QString m_result;
    bool m_failed = false;
    long m_threadId = 0;
};
