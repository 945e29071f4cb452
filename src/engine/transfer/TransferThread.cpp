#include "engine/transfer/TransferThread.h"

#include "engine/base/ThreadId.h"
#include "engine/base/TraceLevel.h"
#include "engine/base/WindowMessages.h"
#include "engine/inet/InternetError.h"
#include "engine/remote/RemoteFileSystem.h"
#include "engine/transfer/SharedLimits.h"
#include "engine/transfer/SiteConnection.h"
#include "engine/transfer/TransferErrors.h"
#include "engine/transfer/TransferEvents.h"
#include "engine/transfer/TransferPort.h"

#include <QCoreApplication>
#include <QSet>

#include <chrono>

namespace {

// A file's progress reaches the queue at most this often per connection.
constexpr qint64 kFilePostMs = 200;
// The progress window's bytes and rate, at most this often.
constexpr qint64 kPortUpdateMs = 250;

// How the run, or one file, ends early; caught in Run() and the lanes.
struct RunFailure {
    QString text;
};
struct FileFailure {
    QString text;
};
struct RunCancelled {};

QString OneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.remove(QLatin1Char('\r'));
    return text;
}

} // namespace

// Without a window nobody answers: nothing is shown, and no file is replaced
// or continued on a question nobody saw.
struct CTransferThread::NullPort final : ITransferPort {
    void SetCaption(const QString&) override {}
    void SetLine1(const QString&) override {}
    void SetLine2(const QString&) override {}
    void SetRange(int) override {}
    void SetPos(int) override {}
    FileAnswer AskReplace(const FileQuestion&) override { return kAnswerCancel; }
    FileAnswer AskResume(const FileQuestion&) override { return kAnswerCancel; }
    void CancelQuestion() override {}
    void Close() override {}
};

CTransferThread::CTransferThread(Direction direction, TransferJob job)
    : m_direction(direction), m_job(std::move(job)), m_port(std::make_unique<NullPort>()),
      m_site(std::make_unique<CSiteConnection>(m_job.site, m_job.timeoutMs, m_job.proxyType, m_job.proxyName))
{
}

CTransferThread::Lane::~Lane()
{
    owner.DropConnection(*this);
}

CTransferThread::~CTransferThread()
{
    if (IsStarted())
        Stop();
}

void CTransferThread::SetPort(std::unique_ptr<ITransferPort> port)
{
    m_port = port ? std::move(port) : std::make_unique<NullPort>();
}

QString CTransferThread::SuccessText() const
{
    return m_direction == Direction::Download ? QStringLiteral("File(s) successfully downloaded.")
                                              : QStringLiteral("File(s) successfully uploaded.");
}

QString CTransferThread::CancelledText() const
{
    return m_direction == Direction::Download ? QStringLiteral("Download cancelled.")
                                              : QStringLiteral("Upload cancelled.");
}

bool CTransferThread::Resume()
{
    std::lock_guard lock(m_mutex);
    if (m_started)
        return false;
    m_started = true;
    m_thread = std::thread(&CTransferThread::ThreadMain, this);
    return true;
}

bool CTransferThread::IsStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

void CTransferThread::Kill()
{
    {
        std::lock_guard lock(m_mutex);
        m_kill.Set();
        for (remote::IFileSystem* connection : m_connections)
            connection->Cancel();
    }
    m_port->CancelQuestion();
}

bool CTransferThread::IsKilled() const
{
    return const_cast<CSyncEvent&>(m_kill).TryWait();
}

void CTransferThread::Stop()
{
    Kill();
    Resume();
    m_dead.Wait(std::chrono::hours(24 * 365));
    if (m_thread.joinable())
        m_thread.join();
}

bool CTransferThread::IsDead() const
{
    return const_cast<CSyncEvent&>(m_dead).TryWait();
}

QString CTransferThread::ResultText() const
{
    std::lock_guard lock(m_mutex);
    return m_result;
}

bool CTransferThread::Failed() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

TransferFileList CTransferThread::Files() const
{
    std::lock_guard lock(m_filesMutex);
    return m_files;
}

long CTransferThread::ThreadId() const
{
    std::lock_guard lock(m_mutex);
    return m_threadId;
}

void CTransferThread::SetResult(QString text, bool failed)
{
    std::lock_guard lock(m_mutex);
    m_result = std::move(text);
    m_failed = failed;
}

void CTransferThread::Fail(const QString& text)
{
    throw RunFailure{text};
}

void CTransferThread::FailFile(const QString& text)
{
    throw FileFailure{text};
}

void CTransferThread::Cancelled()
{
    throw RunCancelled{};
}

TransferFile CTransferThread::FileAt(int index) const
{
    std::lock_guard lock(m_filesMutex);
    return m_files[std::size_t(index)];
}

std::string CTransferThread::ToServer(const RemotePath& path) const
{
    return path.ToString().toUtf8().toStdString();
}

void CTransferThread::Post(QEvent* event)
{
    if (m_receiver)
        QCoreApplication::postEvent(m_receiver, event);
    else
        delete event;
}

void CTransferThread::PostStatus(const QString& name, const QString& status, int percent)
{
    Post(new TransferStatusEvent(this, name, status, percent));
}

void CTransferThread::PostTrace(int level, const QString& text)
{
    Post(new TraceLineEvent(WM_TRACE_LINE, level, QStringLiteral("[%1] ").arg(CurrentThreadId()) + OneLine(text)));
}

void CTransferThread::AddProblem(const QString& text)
{
    PostTrace(TRACE_ERROR, text);
    std::lock_guard lock(m_filesMutex);
    m_problems << text;
}

bool CTransferThread::Filtered(const QString& name, bool folder, quint64 size)
{
    if (!m_job.filter.Hides(name, folder, size))
        return false;
    ++m_filtered;
    return true;
}

void CTransferThread::PostTraceOnce(const QString& topic, int level, const QString& text)
{
    static std::mutex mutex;
    static QSet<QString> said;
    {
        std::lock_guard lock(mutex);
        const QString key = CConnectionBudget::ServerKey(m_job.site.host, m_job.site.port) + QLatin1Char(' ') + topic;
        if (said.contains(key))
            return;
        said.insert(key);
    }
    PostTrace(level, text);
}

QString CTransferThread::TargetChangedText(const TransferFile& file, bool exists, quint64 size, qint64 modified)
{
    using Check = TransferFile::TargetCheck;
    if (file.targetCheck == Check::None)
        return QString();
    if (file.targetCheck == Check::Absent)
        return exists ? QStringLiteral("Left alone: the target was made after the preview. Compare again to decide.")
                      : QString();
    if (!exists)
        return QStringLiteral("Left alone: the target has gone since the preview. Compare again to decide.");
    if (size != file.targetSize || (file.targetModified >= 0 && modified >= 0 && modified != file.targetModified))
        return QStringLiteral("Left alone: the target changed after the preview. Compare again to decide.");
    return QString();
}

void CTransferThread::AddToTotal(quint64 bytes)
{
    std::lock_guard lock(m_filesMutex);
    m_totalBytes += bytes;
}

void CTransferThread::ThreadMain()
{
    {
        std::lock_guard lock(m_mutex);
        m_threadId = CurrentThreadId();
    }
    // The lanes and their connections go with the run, before anybody may
    // delete the object.
    Run();
    m_dead.Set();
}

void CTransferThread::Run()
{
    m_clock.start();
    QString text;
    bool cancelled = IsKilled();
    if (!cancelled) {
        PostStatus(QString(), QStringLiteral("Initializing"), 0);
        try {
            if (!m_site->ProxyUsable())
                Fail(QStringLiteral("Cannot open an Internet Session. Please check your internet configuration."));
            Lane first(*this);
            ConnectWithAttempts(first);
            m_folder = m_job.remoteFolder.isEmpty()
                ? RemotePath::FromServer(QString::fromUtf8(first.connection->GetCurrentDirectory()))
                : RemotePath::FromServer(m_job.remoteFolder);
            TransferFileList files = m_job.files;
            if (files.empty()) {
                Collect(*first.connection, files);
                Post(new TransferFilesEvent(this, files));
            }
            {
                std::lock_guard lock(m_filesMutex);
                m_files = std::move(files);
                m_totalBytes = 0;
                m_jobDone = 0;
                for (TransferFile& file : m_files) {
                    if (file.folder)
                        continue;
                    m_totalBytes += file.size;
                    if (file.state == TransferState::Completed)
                        m_jobDone += qint64(file.size);
                }
            }
            Prepare(*first.connection, m_files);
            RunLanes(first);
            if (IsKilled())
                Cancelled();
            text = Summary();
            if (text.isEmpty()) {
                m_port->SetLine1(QStringLiteral("Closing connection to %1").arg(Host()));
                PostStatus(QString(), QStringLiteral("Finished"), 100);
            }
        } catch (const RunFailure& failure) {
            text = failure.text;
        } catch (const FileFailure& failure) {
            text = failure.text;
        } catch (const RunCancelled&) {
            cancelled = true;
        } catch (const FileError& error) {
            text = DescribeFileError(error.cause, error.fileName);
        } catch (const inet::InternetError& error) {
            if (IsKilled())
                cancelled = true; // the kill closed the session under a running call
            else
                text = DescribeInternetError(error, m_job.timeoutMs);
        } catch (const std::exception& error) {
            // Not to be taken for a success.
            text = QStringLiteral("Unexpected error: %1").arg(QString::fromLocal8Bit(error.what()));
        }
    }
    text = OneLine(text);
    if (cancelled || (text.isEmpty() && IsKilled())) {
        text = CancelledText();
        cancelled = true;
    }
    const bool failed = !cancelled && !text.isEmpty();
    if (text.isEmpty())
        text = SuccessText();
    if (const int filtered = m_filtered.load(); !cancelled && filtered > 0)
        text += (text.endsWith(QLatin1Char('.')) ? QStringLiteral(" ") : QStringLiteral(". "))
            + (filtered == 1 ? QStringLiteral("1 entry was") : QStringLiteral("%1 entries were").arg(filtered))
            + QStringLiteral(" left out by the filename filters.");
    SetResult(text, failed);
    m_port->Close();
    Post(new TransferDoneEvent(m_direction == Direction::Download ? WM_DOWNLOAD_DONE : WM_UPLOAD_DONE, this, text,
                               failed, cancelled));
}

void CTransferThread::ConnectLane(Lane& lane)
{
    DropConnection(lane);
    std::unique_ptr<remote::IFileSystem> connection = m_site->Make();
    {
        std::lock_guard lock(m_mutex);
        // A kill that came before the connection existed still has to reach it.
        if (IsKilled())
            connection->Cancel();
        m_connections.push_back(connection.get());
        lane.connection = std::move(connection);
    }
    // Of the conversation only the notes reach the Trace: every file's own
    // commands and replies, from several workers at once, would push the
    // session's lines out of the pane within seconds.
    try {
        m_site->Connect(*lane.connection, [this](inet::Talk kind, std::string_view line) {
            if (kind == inet::Talk::Note)
                PostTrace(LevelOfNote(line), QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        });
    } catch (...) {
        DropConnection(lane);
        throw;
    }
}

void CTransferThread::DropConnection(Lane& lane)
{
    std::unique_ptr<remote::IFileSystem> gone;
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_connections, lane.connection.get());
        gone = std::move(lane.connection);
    }
}

void CTransferThread::ConnectWithAttempts(Lane& lane)
{
    m_port->SetCaption(QStringLiteral("Copying..."));
    m_port->SetPos(0);
    m_port->SetLine2(QString());
    PostStatus(QString(), QStringLiteral("Connecting"), 0);

    // Fewer than one attempt would go on without a connection.
    const int attempts = std::max(1, m_job.site.retries);
    for (int attempt = 1; !lane.connection; ++attempt) {
        m_port->SetLine1(QStringLiteral("Connecting to %1 (Attempt %2 of %3)").arg(Host()).arg(attempt).arg(attempts));
        try {
            ConnectLane(lane);
        } catch (const inet::InternetError& error) {
            if (IsKilled())
                Cancelled();
            if (attempt >= attempts)
                Fail(DescribeInternetError(error, m_job.timeoutMs).left(1024));
            m_port->SetLine1(
                QStringLiteral("Failed to connect to %1 (Attempt %2 of %3)").arg(Host()).arg(attempt).arg(attempts));
            m_port->SetLine2(QStringLiteral("Retrying after %1 seconds...").arg(m_job.site.retryDelay));
            if (m_kill.Wait(std::chrono::seconds(std::max(0, m_job.site.retryDelay))))
                Cancelled();
            PostStatus(QString(), QStringLiteral("Retrying"), 0);
            m_port->SetLine2(QString());
        }
    }
    if (!m_job.remoteFolder.isEmpty()) {
        try {
            lane.connection->SetCurrentDirectory(m_job.remoteFolder.toUtf8().toStdString());
        } catch (const inet::InternetError& error) {
            if (IsKilled())
                Cancelled();
            Fail(QStringLiteral("Cannot open the folder %1: %2")
                     .arg(m_job.remoteFolder, DescribeInternetError(error, m_job.timeoutMs)));
        }
    }
    m_port->SetLine1(QStringLiteral("Finding files in sub directories..."));
}

void CTransferThread::RunLanes(Lane& first)
{
    qsizetype toMove = 0;
    {
        std::lock_guard lock(m_filesMutex);
        for (const TransferFile& file : m_files)
            toMove += !file.folder && file.state != TransferState::Completed ? 1 : 0;
    }
    const int allowed = std::clamp(m_job.connections, 1, 10);
    const int wanted = int(std::min<qsizetype>(allowed, toMove)) - 1;
    const QString server = CConnectionBudget::ServerKey(m_job.site.host, m_job.site.port);
    int extra = 0;
    if (wanted > 0)
        extra = m_budget ? m_budget->Acquire(server, wanted) : wanted;

    std::vector<std::unique_ptr<Lane>> lanes;
    std::vector<std::thread> threads;
    for (int i = 0; i < extra; ++i) {
        lanes.push_back(std::make_unique<Lane>(*this));
        lanes.back()->number = i + 1;
        threads.emplace_back([this, lane = lanes.back().get()] { LaneMain(*lane); });
    }
    LaneMain(first);
    for (std::thread& thread : threads)
        thread.join();
    lanes.clear();
    DropConnection(first);
    if (m_budget && extra > 0)
        m_budget->Release(server, extra);
}

void CTransferThread::LaneMain(Lane& lane)
{
    try {
        if (!lane.connection) {
            if (IsKilled())
                return;
            try {
                ConnectLane(lane);
            } catch (const inet::InternetError& error) {
                // The job goes on over the connections it has.
                if (!IsKilled())
                    PostTrace(TRACE_INFO, QStringLiteral("A further connection to %1 could not be opened: %2")
                                              .arg(Host(), DescribeInternetError(error, m_job.timeoutMs)));
                return;
            }
        }
        const int now = ++m_lanes;
        for (int peak = m_peakLanes.load(); now > peak && !m_peakLanes.compare_exchange_weak(peak, now);) {
        }
        for (;;) {
            Plan plan = Plan::Move;
            const int index = Next(plan);
            if (index < 0 || !MoveWithAttempts(lane, index, plan))
                break;
        }
        --m_lanes;
    } catch (const RunCancelled&) {
        --m_lanes;
        Kill(); // a question answered Cancel calls the whole job off
    } catch (const RunFailure& failure) {
        --m_lanes;
        StopDispatch(failure.text);
    }
}

int CTransferThread::Next(Plan& plan)
{
    std::lock_guard dispatch(m_dispatchMutex);
    for (;;) {
        int index;
        TransferFile file;
        qsizetype remaining;
        {
            std::lock_guard lock(m_filesMutex);
            if (m_stopDispatch || m_next >= m_files.size())
                return -1;
            index = int(m_next++);
            file = m_files[std::size_t(index)];
            remaining = qsizetype(m_files.size()) - index;
        }
        if (IsKilled())
            Cancelled();
        if (file.folder) {
            FolderReached(file);
            continue;
        }
        if (file.state == TransferState::Completed)
            continue;
        const QString key = TargetKey(file);
        if (!CTargetClaims::Instance().TryClaim(key, this)) {
            MarkFile(index, TransferState::Failed,
                     QStringLiteral("Another transfer of this program is writing %1 at this moment; this file was "
                                    "left alone so that the two do not mix. Resubmit it once that transfer has ended.")
                         .arg(m_direction == Direction::Download ? file.localPath : file.remotePath));
            continue;
        }
        Plan decided;
        try {
            decided = Decide(file, remaining);
        } catch (...) {
            CTargetClaims::Instance().Release(key, this);
            throw;
        }
        if (decided == Plan::Skip) {
            CTargetClaims::Instance().Release(key, this);
            {
                std::lock_guard lock(m_filesMutex);
                m_jobDone += qint64(file.size);
            }
            MarkFile(index, TransferState::Completed, QStringLiteral("Left as it was"));
            continue;
        }
        plan = decided;
        return index;
    }
}

bool CTransferThread::MoveWithAttempts(Lane& lane, int index, Plan plan)
{
    const QString key = TargetKey(FileAt(index));
    struct ClaimRelease {
        QString key;
        const void* owner;
        ~ClaimRelease() { CTargetClaims::Instance().Release(key, owner); }
    } release{key, this};

    lane.counted = 0;
    const int attempts = std::max(1, m_job.site.retries);
    for (int attempt = 1;; ++attempt) {
        try {
            if (!lane.connection)
                ConnectLane(lane);
            MarkFile(index, TransferState::Running, QString());
            Move(lane, index, plan);
            if (IsKilled())
                Cancelled();
            MarkFile(index, TransferState::Completed, QString());
            return true;
        } catch (const FileFailure& failure) {
            MarkFile(index, TransferState::Failed, OneLine(failure.text));
            return true;
        } catch (const FileError& error) {
            const QString text = DescribeFileError(error.cause, error.fileName);
            MarkFile(index, TransferState::Failed, text);
            if (StopsTheJob(error.cause))
                StopDispatch(text);
            return true;
        } catch (const inet::InternetError& error) {
            if (IsKilled())
                Cancelled();
            const QString text = DescribeInternetError(error, m_job.timeoutMs);
            if (!IsConnectionProblem(error)) {
                MarkFile(index, TransferState::Failed, text);
                return true;
            }
            // A dropped data connection leaves the control connection usable.
            if (error.number() != inet::err::kFtpDropped)
                DropConnection(lane);
            if (attempt >= attempts) {
                MarkFile(index, TransferState::Failed, text);
                if (lane.connection)
                    return true;
                std::lock_guard lock(m_filesMutex);
                if (m_stopReason.isEmpty())
                    m_stopReason = text;
                return false;
            }
            const TransferFile file = FileAt(index);
            PostTrace(TRACE_ERROR, QStringLiteral("%1: %2; trying again in %3 s (attempt %4 of %5)")
                                       .arg(m_direction == Direction::Download ? file.remotePath : file.localPath, text)
                                       .arg(m_job.site.retryDelay)
                                       .arg(attempt + 1)
                                       .arg(attempts));
            int percent;
            {
                std::lock_guard lock(m_filesMutex);
                percent = std::max(0, m_lastPercent);
            }
            PostStatus(QString(), QStringLiteral("Retrying"), percent);
            if (m_kill.Wait(std::chrono::seconds(std::max(0, m_job.site.retryDelay))))
                Cancelled();
            // What the broken attempt wrote is ours: the next one continues it.
            if (file.done > 0)
                plan = Plan::Continue;
        }
    }
}

void CTransferThread::StopDispatch(const QString& reason)
{
    std::lock_guard lock(m_filesMutex);
    m_stopDispatch = true;
    if (m_stopReason.isEmpty())
        m_stopReason = reason;
}

void CTransferThread::MarkFile(int index, TransferState state, const QString& result)
{
    bool several;
    QString name;
    {
        std::lock_guard lock(m_filesMutex);
        TransferFile& file = m_files[std::size_t(index)];
        file.state = state;
        file.result = result;
        several = m_files.size() > 1;
        name = m_direction == Direction::Download ? file.remotePath : file.localPath;
        if (state == TransferState::Running) {
            m_currentName = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
            m_currentSize = file.size;
        }
    }
    PostFile(nullptr, index, true);
    if (state == TransferState::Failed && several)
        PostTrace(TRACE_ERROR, QStringLiteral("%1: %2").arg(name, result));
}

void CTransferThread::PostFile(Lane* lane, int index, bool force)
{
    const qint64 now = m_clock.elapsed();
    if (lane && !force && now - lane->lastPost < kFilePostMs)
        return;
    if (lane)
        lane->lastPost = now;
    TransferFile file;
    double rate;
    {
        std::lock_guard lock(m_filesMutex);
        file = m_files[std::size_t(index)];
        rate = m_rate;
    }
    Post(new TransferFileEvent(this, index, file.state, file.done, file.size, file.result, rate));
}

void CTransferThread::UpdateRate()
{
    // Over half a second at least, smoothed, so a display does not jump.
    const qint64 now = m_clock.elapsed();
    const qint64 span = now - m_rateSince;
    if (span < 500)
        return;
    const quint64 moved = m_moved.load();
    const double current = double(moved - m_rateMoved) * 1000.0 / double(span);
    m_rate = m_rate <= 0 ? current : 0.5 * m_rate + 0.5 * current;
    m_rateSince = now;
    m_rateMoved = moved;
}

void CTransferThread::Started(Lane& lane, int index, quint64 offset)
{
    {
        std::lock_guard lock(m_filesMutex);
        m_jobDone += qint64(offset) - qint64(lane.counted);
        lane.counted = offset;
        m_files[std::size_t(index)].done = offset;
    }
    PostFile(&lane, index, true);
}

void CTransferThread::Moved(Lane& lane, int index, quint64 bytesOfFile)
{
    int percent = -1;
    bool portUpdate = false;
    TransferProgress progress;
    {
        std::lock_guard lock(m_filesMutex);
        const qint64 delta = qint64(bytesOfFile) - qint64(lane.counted);
        m_jobDone += delta;
        if (delta > 0)
            m_moved.fetch_add(quint64(delta), std::memory_order_relaxed);
        lane.counted = bytesOfFile;
        TransferFile& file = m_files[std::size_t(index)];
        file.done = bytesOfFile;
        UpdateRate();
        const quint64 done = quint64(std::max<qint64>(0, m_jobDone));
        if (m_totalBytes > 0) {
            const int now = int(std::min<quint64>(100, done * 100 / m_totalBytes));
            if (now != m_lastPercent) {
                m_lastPercent = now;
                percent = now;
            }
        }
        const qint64 ms = m_clock.elapsed();
        if (ms - m_lastPortUpdate >= kPortUpdateMs) {
            m_lastPortUpdate = ms;
            portUpdate = true;
            progress = {std::min(done, m_totalBytes), m_totalBytes, m_currentName,
                        std::min(bytesOfFile, std::max(file.size, bytesOfFile)), file.size, m_rate};
        }
    }
    if (percent >= 0) {
        m_port->SetPos(percent);
        PostStatus(QString(), QString(), percent);
    }
    if (portUpdate)
        m_port->SetProgress(progress);
    PostFile(&lane, index, false);
}

quint64 CTransferThread::Pump(Lane& lane, int index, quint64 offset, const std::function<std::size_t()>& step,
                              const std::function<bool(quint64)>& beyond)
{
    quint64 bytes = offset;
    for (;;) {
        if (IsKilled())
            break;
        const std::size_t got = step();
        if (got == 0)
            break;
        bytes += got;
        if (beyond && beyond(bytes))
            break;
        Moved(lane, index, bytes);
    }
    return bytes;
}

QString CTransferThread::Summary()
{
    QString text;
    std::vector<int> untried;
    {
        std::lock_guard lock(m_filesMutex);
        int total = 0, completed = 0, failed = 0;
        QString onlyFailure;
        for (std::size_t i = 0; i < m_files.size(); ++i) {
            const TransferFile& file = m_files[i];
            if (file.folder)
                continue;
            ++total;
            if (file.state == TransferState::Completed) {
                ++completed;
            } else if (file.state == TransferState::Failed) {
                ++failed;
                onlyFailure = file.result;
            } else {
                untried.push_back(int(i));
            }
        }
        if (failed == 0 && untried.empty() && m_problems.isEmpty())
            return QString();
        const QString reason = m_stopReason.isEmpty() ? QStringLiteral("the connection to the server was lost")
                                                      : m_stopReason;
        for (const int i : untried) {
            m_files[std::size_t(i)].state = TransferState::Failed;
            m_files[std::size_t(i)].result = QStringLiteral("Not transferred: ") + reason;
        }
        failed += int(untried.size());
        if (total == 1 && failed == 1 && m_problems.isEmpty()) {
            text = untried.empty() ? onlyFailure : reason;
        } else if (failed > 0) {
            text = QStringLiteral("%1 of %2 files transferred, %3 failed").arg(completed).arg(total).arg(failed);
            if (!m_stopReason.isEmpty())
                text += QStringLiteral(": ") + m_stopReason;
            text += QLatin1Char('.');
        }
        for (const QString& problem : std::as_const(m_problems))
            text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + problem;
    }
    for (const int i : untried)
        PostFile(nullptr, i, true);
    return text;
}
