#pragma once

// Running transfer threads in tests: a receiver that keeps every event a
// worker posts, a port that records the progress window's lines and answers
// questions from a script, and a fixture that runs a job to its end.

#include "engine/base/FtpSite.h"
#include "engine/base/Settings.h"
#include "engine/base/TraceLevel.h"
#include "engine/base/WindowMessages.h"
#include "engine/remote/RemoteFileSystem.h"
#include "support/Printers.h"
#include "support/ServerProcess.h"
#include "engine/transfer/DownloadThread.h"
#include "engine/transfer/TransferEvents.h"
#include "engine/transfer/TransferPort.h"
#include "engine/transfer/UploadThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// The jobs table as the queue's file had it before it knew protocols
// (versions 1 and 2).
inline constexpr char kJobsTableBeforeProtocols[] =
    "CREATE TABLE jobs (id INTEGER PRIMARY KEY, direction INTEGER, state INTEGER, result TEXT, host TEXT, "
    "user TEXT, port INTEGER, site_path TEXT, transfer_type INTEGER, retries INTEGER, retry_delay INTEGER, "
    "passive INTEGER, encryption INTEGER, remote_folder TEXT, local_folder TEXT, local_is_folder INTEGER, "
    "items BLOB, bytes_done INTEGER, bytes_total INTEGER, attempts INTEGER, added INTEGER, started INTEGER, "
    "finished INTEGER)";

// Writes a queue file as an earlier release left it: the statements in order.
inline void WriteQueueFile(const QString& path, std::initializer_list<const char*> statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("earlier release"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        for (const char* statement : statements)
            ASSERT_TRUE(query.exec(QString::fromLatin1(statement))) << statement;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("earlier release"));
}

// A remote or local item as the window hands a selection to a job.
inline FileStatus Entry(const QString& name, quint64 size = 0, bool folder = false)
{
    FileStatus entry;
    entry.path = name;
    entry.size = size;
    entry.attribute = folder ? FileStatus::kFolder : 0;
    return entry;
}

struct StatusRecord {
    QString name;
    QString status;
    int percent;
};

class RecordingReceiver : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (auto* status = dynamic_cast<TransferStatusEvent*>(event)) {
            statuses.push_back({status->Name(), status->Status(), status->Percent()});
        } else if (auto* done = dynamic_cast<TransferDoneEvent*>(event)) {
            ++doneEvents;
            result = done->ResultText();
            failed = done->Failed();
            cancelled = done->Cancelled();
        } else if (auto* item = dynamic_cast<RemoteItemAddedEvent*>(event)) {
            stored << item->Item().path;
        } else if (auto* line = dynamic_cast<TraceLineEvent*>(event)) {
            traces << line->Text().section(QStringLiteral("] "), 1);
            if (line->Level() == TRACE_ERROR)
                redTraces << traces.back();
        } else if (auto* file = dynamic_cast<TransferFileEvent*>(event)) {
            if (file->State() == TransferState::Completed)
                completedFiles << file->Index();
        } else {
            return QObject::event(event);
        }
        return true;
    }
    QStringList Words() const
    {
        QStringList words;
        for (const StatusRecord& status : statuses) {
            if (!status.status.isEmpty())
                words << status.status;
        }
        return words;
    }
    void Clear()
    {
        statuses.clear();
        traces.clear();
        redTraces.clear();
        stored.clear();
        completedFiles.clear();
        doneEvents = 0;
        result.clear();
        failed = false;
        cancelled = false;
    }
    int PercentEvents() const
    {
        int count = 0;
        for (const StatusRecord& status : statuses)
            count += status.status.isEmpty() && status.name.isEmpty() ? 1 : 0;
        return count;
    }

    std::vector<StatusRecord> statuses;
    QStringList traces;
    QStringList redTraces; // the lines the Trace pane shows in red
    QStringList stored;
    QList<int> completedFiles; // indexes of the files reported complete
    int doneEvents = 0;
    QString result;
    bool failed = false;
    bool cancelled = false;
};

// Records on the worker's thread; answers from `answers` in order, Cancel
// when they run out.
class ScriptedPort : public ITransferPort {
public:
    void SetCaption(const QString& text) override { Log(QStringLiteral("caption ") + text); }
    void SetLine1(const QString& text) override { Log(QStringLiteral("1 ") + text); }
    void SetLine2(const QString& text) override { Log(QStringLiteral("2 ") + text); }
    void SetRange(int) override {}
    void SetPos(int) override {}
    FileAnswer AskReplace(const FileQuestion& question) override { return Ask(QStringLiteral("replace "), question); }
    FileAnswer AskResume(const FileQuestion& question) override { return Ask(QStringLiteral("resume "), question); }
    void CancelQuestion() override {}
    void Close() override { Log(QStringLiteral("closed")); }

    QStringList Lines() const
    {
        std::lock_guard lock(mutex);
        return lines;
    }
    QStringList Questions() const
    {
        std::lock_guard lock(mutex);
        return questions;
    }

    std::deque<FileAnswer> answers;

private:
    void Log(const QString& line)
    {
        std::lock_guard lock(mutex);
        lines << line;
    }
    FileAnswer Ask(const QString& kind, const FileQuestion& question)
    {
        std::lock_guard lock(mutex);
        questions << kind + question.fileName + QStringLiteral(" %1").arg(question.remaining);
        if (answers.empty())
            return kAnswerCancel;
        const FileAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    mutable std::mutex mutex;
    QStringList lines;
    QStringList questions;
};

class WorkerFixture : public ::testing::Test {
protected:
    // A job against the test server's account, without proxy or waits.
    static TransferJob NewJob(int port, const QString& remoteFolder = QStringLiteral("/"))
    {
        TransferJob job;
        job.site.host = QStringLiteral("127.0.0.1");
        job.site.port = port;
        job.site.user = QStringLiteral("anna");
        job.site.password = QStringLiteral("secret");
        job.site.retryDelay = 0;
        job.site.passive = true;
        job.remoteFolder = remoteFolder;
        job.timeoutMs = 10000;
        job.proxyType = kx::settings::kProxyDirect;
        return job;
    }

    // A job against any server the remote file system reaches, FTP or SFTP,
    // from the options a test connects it with. An SFTP host key is trusted
    // the way the window's "connect once" does it: known_hosts is the
    // user's own, and no worker may ask.
    static TransferJob NewJob(const remote::ConnectOptions& server, const QString& hostKey,
                              const QString& remoteFolder)
    {
        TransferJob job = NewJob(server.port, remoteFolder);
        job.site.host = QString::fromStdString(server.host);
        job.site.user = QString::fromStdString(server.user);
        job.site.password = QString::fromStdString(server.password);
        job.site.passive = server.passive;
        if (server.protocol == remote::Protocol::Sftp) {
            job.site.protocol = int(SiteProtocol::Sftp);
            if (!hostKey.isEmpty())
                job.site.acceptedHostKeys << hostKey;
        }
        return job;
    }

    template <typename Thread>
    std::unique_ptr<Thread> Make(TransferJob job)
    {
        auto thread = std::make_unique<Thread>(std::move(job));
        thread->SetReceiver(&m_receiver);
        auto scripted = std::make_unique<ScriptedPort>();
        m_port = scripted.get();
        thread->SetPort(std::move(scripted));
        return thread;
    }

    // `edit` changes the job before the thread is made from it.
    template <typename Thread>
    std::unique_ptr<Thread> Make(int port, const QString& remoteFolder = QStringLiteral("/"),
                                 const std::function<void(TransferJob&)>& edit = {})
    {
        TransferJob job = NewJob(port, remoteFolder);
        if (edit)
            edit(job);
        return Make<Thread>(std::move(job));
    }

    // Lets the events in until the run's end has arrived.
    bool WaitForEnd(int milliseconds = 60000)
    {
        const QDeadlineTimer deadline(milliseconds);
        while (m_receiver.doneEvents == 0 && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        QCoreApplication::processEvents();
        return m_receiver.doneEvents > 0;
    }

    // Runs the job to its end; the receiver then holds every event.
    template <typename Thread>
    void Run(Thread& thread)
    {
        ASSERT_TRUE(thread.Resume());
        ASSERT_TRUE(WaitForEnd());
        thread.Stop();
    }

    RecordingReceiver m_receiver;
    ScriptedPort* m_port = nullptr; // owned by the thread made last
    kxtest::TempDir m_remote;
    kxtest::TempDir m_local;
    kxtest::TempDir m_files; // listings and logs of the test servers
};
