#include "engine/transfer/TransferQueue.h"

#include "engine/base/FtpSite.h"
#include "engine/base/ThreadId.h"
#include "engine/base/TraceLevel.h"
#include "engine/base/WindowMessages.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/transfer/DownloadThread.h"
#include "engine/transfer/SharedLimits.h"
#include "engine/transfer/TransferEvents.h"
#include "engine/transfer/TransferPort.h"
#include "engine/transfer/TransferStore.h"
#include "engine/transfer/UploadThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {

QString g_storeOverride;

// Changes reach the file this often at most: progress is written in
// batches, never per block.
constexpr int kWriteBatchMs = 500;

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool Unfinished(TransferState state)
{
    return state == TransferState::Queued || state == TransferState::Running || state == TransferState::Stopped;
}

} // namespace

struct CTransferQueue::Running {
    qint64 id = 0;
    std::unique_ptr<CTransferThread> thread;
    QString server;
};

CTransferQueue::CTransferQueue(QObject* parent)
    : QObject(parent), m_budget(std::make_shared<CConnectionBudget>())
{
    m_budget->SetLimit(m_parallelLimit);
    connect(&m_scheduler, &QTimer::timeout, this, &CTransferQueue::Tick);
    m_scheduler.start(1000);
    m_writer.setSingleShot(true);
    m_writer.setInterval(kWriteBatchMs);
    connect(&m_writer, &QTimer::timeout, this, &CTransferQueue::Flush);
}

CTransferQueue::~CTransferQueue()
{
    StopAllForExit();
}

QString CTransferQueue::DefaultStorePath()
{
    if (!g_storeOverride.isEmpty())
        return g_storeOverride;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Orlavek/Kestrix/transfer-queue.sqlite");
}

void CTransferQueue::SetDefaultStorePathOverride(const QString& path)
{
    g_storeOverride = path;
}

bool CTransferQueue::IsPersistent() const
{
    return m_store && m_store->IsOpen() && !m_storeBroken;
}

bool CTransferQueue::UseStore(const QString& path, bool startUnfinished)
{
    auto store = std::make_unique<CTransferStore>(path);
    QString message;
    const CTransferStore::Opened opened = store->Open(message);
    if (!message.isEmpty())
        emit Notice(message);
    if (opened == CTransferStore::Opened::Refused)
        return false;
    std::vector<TransferJobRecord> records = store->Load();
    m_store = std::move(store);
    m_storeBroken = false;
    m_nextId = std::max(m_nextId, m_store->LastId() + 1);
    // Jobs added before the file was opened are written into it too.
    for (const auto& job : m_jobs) {
        m_dirtyJobs.insert(job->Id());
        m_dirtyFileLists.insert(job->Id());
    }
    for (TransferJobRecord& record : records) {
        if (!Unfinished(record.state) && record.state != TransferState::Failed)
            continue;
        if (Unfinished(record.state)) {
            record.state = startUnfinished ? TransferState::Queued : TransferState::Stopped;
            m_dirtyJobs.insert(record.Id());
        }
        // A file that was running when the program ended is partial.
        for (std::size_t i = 0; i < record.job.files.size(); ++i) {
            if (record.job.files[i].state == TransferState::Running) {
                record.job.files[i].state = TransferState::Stopped;
                m_dirtyJobs.insert(record.Id());
                m_dirtyFiles[record.Id()].insert(int(i));
            }
        }
        RecountBytes(record);
        record.status.clear();
        const int row = JobCount();
        emit JobAboutToBeAdded(row);
        m_rows.insert(record.Id(), row);
        m_jobs.push_back(std::make_unique<TransferJobRecord>(std::move(record)));
        emit JobAdded(row);
    }
    Flush();
    Schedule();
    emit ActivityChanged();
    return true;
}

void CTransferQueue::SetParallelLimit(int limit)
{
    m_parallelLimit = std::max(0, limit);
    m_budget->SetLimit(m_parallelLimit);
}

void CTransferQueue::SetConnectionsPerJob(int connections)
{
    m_connectionsPerJob = std::clamp(connections, 1, 10);
}

void CTransferQueue::SetConnectionTimeout(int seconds)
{
    m_timeoutSeconds = std::max(0, seconds);
}

void CTransferQueue::SetProxy(int type, const QString& name)
{
    m_proxyType = type;
    m_proxyName = name;
}

qint64 CTransferQueue::AddDownload(const FileStatusList& entries, const QString& localFolder, const TransferSite& site,
                                   const QString& remoteFolder)
{
    if (entries.isEmpty())
        return 0;
    TransferJobRecord record;
    record.direction = TransferDirection::Download;
    record.job.items = entries;
    record.job.site = site;
    record.job.remoteFolder = remoteFolder;
    record.job.localFolder = localFolder;
    // One file to a path that is not a folder: the user named the file.
    const bool oneFile = entries.size() == 1 && !entries.first().IsFolder();
    record.job.localIsFolder = !oneFile || QFileInfo(localFolder).isDir();
    return Add(std::move(record));
}

qint64 CTransferQueue::AddUpload(const FileStatusList& entries, const TransferSite& site, const QString& remoteFolder)
{
    if (entries.isEmpty())
        return 0;
    TransferJobRecord record;
    record.direction = TransferDirection::Upload;
    record.job.items = entries;
    record.job.site = site;
    record.job.remoteFolder = remoteFolder;
    return Add(std::move(record));
}

qint64 CTransferQueue::AddCollected(TransferDirection direction, TransferJob job)
{
    if (job.files.empty())
        return 0;
    TransferJobRecord record;
    record.direction = direction;
    record.job = std::move(job);
    const qint64 id = Add(std::move(record));
    if (TransferJobRecord* added = FindMutable(id)) {
        RecountBytes(*added);
        MarkFilesDirty(id);
        emit JobChanged(id);
    }
    return id;
}

qint64 CTransferQueue::Add(TransferJobRecord record)
{
    record.job.id = m_nextId++;
    record.added = Now();
    record.state = TransferState::Queued;
    for (const FileStatus& item : std::as_const(record.job.items))
        record.bytesTotal += item.IsFolder() ? 0 : item.size;
    const qint64 id = record.Id();
    const int row = JobCount();
    emit JobAboutToBeAdded(row);
    m_rows.insert(id, row);
    m_jobs.push_back(std::make_unique<TransferJobRecord>(std::move(record)));
    emit JobAdded(row);
    MarkJobDirty(id);
    Schedule();
    emit ActivityChanged();
    return id;
}

int CTransferQueue::RowOf(qint64 id) const
{
    return m_rows.value(id, -1);
}

const TransferJobRecord* CTransferQueue::Find(qint64 id) const
{
    const int row = RowOf(id);
    return row < 0 ? nullptr : m_jobs[std::size_t(row)].get();
}

TransferJobRecord* CTransferQueue::FindMutable(qint64 id)
{
    const int row = RowOf(id);
    return row < 0 ? nullptr : m_jobs[std::size_t(row)].get();
}

int CTransferQueue::CountIn(TransferState state) const
{
    return int(std::count_if(m_jobs.begin(), m_jobs.end(), [state](const auto& job) { return job->state == state; }));
}

int CTransferQueue::QueuedCount() const
{
    return CountIn(TransferState::Queued);
}

int CTransferQueue::ConnectionsTo(const QString& host, int port) const
{
    return m_budget->InUse(CConnectionBudget::ServerKey(host, port));
}

CTransferQueue::Running* CTransferQueue::RunningOf(const CTransferThread* thread)
{
    for (const auto& running : m_running) {
        if (running->thread.get() == thread)
            return running.get();
    }
    return nullptr;
}

void CTransferQueue::Schedule()
{
    // While every job is being stopped or cancelled, nothing new begins.
    if (m_holding)
        return;
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        if (m_parallelLimit > 0 && RunningCount() >= m_parallelLimit)
            return;
        TransferJobRecord& record = *m_jobs[i];
        if (record.state == TransferState::Queued)
            Start(record, false);
    }
}

bool CTransferQueue::EnsurePassword(TransferJobRecord& record)
{
    if (record.passwordKnown)
        return true;
    TransferSite& site = record.job.site;
    if (!site.sitePath.isEmpty()) {
        // Wherever the site keeps it: the file, the keyring, or this run's memory.
        CFtpSite stored;
        if (CSiteCatalog().LoadSite(site.sitePath, stored)
            && (!SitePasswords::NeedsPassword(stored) || SitePasswords::Fill(stored))) {
            site.password = stored.password;
            record.passwordKnown = true;
            return true;
        }
    }
    // One question at a time; the others wait for the next pass.
    if (!m_passwords || m_askingPassword)
        return false;
    m_askingPassword = true;
    const std::optional<QString> answer =
        m_passwords->PasswordFor({record.Id(), site.host, site.port, site.user, site.sitePath});
    m_askingPassword = false;
    if (!answer)
        return false;
    site.password = *answer;
    record.passwordKnown = true;
    return true;
}

bool CTransferQueue::Start(TransferJobRecord& record, bool forced)
{
    const qint64 id = record.Id();
    if (!EnsurePassword(record)) {
        // The question may have let other events in: find the record again.
        if (TransferJobRecord* again = FindMutable(id); again && again->state != TransferState::Running) {
            again->state = TransferState::Stopped;
            again->result = QStringLiteral("Waiting for the password of %1@%2").arg(again->job.site.user, again->job.site.host);
            MarkJobDirty(id);
            emit JobChanged(id);
        }
        return false;
    }
    const QString server = CConnectionBudget::ServerKey(record.job.site.host, record.job.site.port);
    if (forced)
        m_budget->Force(server);
    else if (m_budget->Acquire(server, 1) == 0)
        return false;

    TransferJob job = record.job;
    job.timeoutMs = m_timeoutSeconds * 1000;
    job.proxyType = m_proxyType;
    job.proxyName = m_proxyName;
    job.connections = m_connectionsPerJob;
    job.preserveTimes = m_preserveTimes;
    job.filter = m_filter;
    std::unique_ptr<CTransferThread> thread;
    if (record.direction == TransferDirection::Download)
        thread = std::make_unique<CDownloadThread>(std::move(job));
    else
        thread = std::make_unique<CUploadThread>(std::move(job));
    thread->SetReceiver(this);
    thread->SetConnectionBudget(m_budget);
    if (m_portFactory) {
        CTransferThread* raw = thread.get();
        thread->SetPort(m_portFactory(record, [raw] { raw->Kill(); }));
    }
    record.state = TransferState::Running;
    record.status = QStringLiteral("Queued");
    record.result.clear();
    record.started = Now();
    record.finished = 0;
    record.rate = 0;
    ++record.attempts;
    auto running = std::make_unique<Running>();
    running->id = id;
    running->server = server;
    running->thread = std::move(thread);
    running->thread->Resume();
    m_running.push_back(std::move(running));
    MarkJobDirty(id);
    emit JobChanged(id);
    return true;
}

void CTransferQueue::Cancel(qint64 id)
{
    TransferJobRecord* record = FindMutable(id);
    if (!record)
        return;
    if (record->state == TransferState::Running) {
        m_stopping.remove(id);
        for (const auto& running : m_running) {
            if (running->id == id)
                running->thread->Kill();
        }
        return;
    }
    emit TraceLine(TRACE_INFO, QStringLiteral("[%1] %2: %3").arg(CurrentThreadId()).arg(record->FirstName(),
                                                          record->direction == TransferDirection::Download
                                                              ? QStringLiteral("Download cancelled.")
                                                              : QStringLiteral("Upload cancelled.")));
    RemoveRow(RowOf(id));
    emit ActivityChanged();
}

void CTransferQueue::Resubmit(qint64 id)
{
    TransferJobRecord* record = FindMutable(id);
    if (!record || record->state == TransferState::Running || record->state == TransferState::Completed)
        return;
    if (!Start(*record, true))
        return;
    emit ActivityChanged();
}

void CTransferQueue::Stop(qint64 id)
{
    TransferJobRecord* record = FindMutable(id);
    if (!record)
        return;
    if (record->state == TransferState::Running) {
        m_stopping.insert(id);
        for (const auto& running : m_running) {
            if (running->id == id)
                running->thread->Kill();
        }
        return;
    }
    if (record->state == TransferState::Queued) {
        record->state = TransferState::Stopped;
        MarkJobDirty(id);
        emit JobChanged(id);
        emit ActivityChanged();
    }
}

void CTransferQueue::Remove(qint64 id)
{
    const TransferJobRecord* record = Find(id);
    if (!record)
        return;
    if (record->state == TransferState::Running) {
        Cancel(id);
        return;
    }
    RemoveRow(RowOf(id));
    emit ActivityChanged();
}

void CTransferQueue::StartAll()
{
    for (const auto& job : m_jobs) {
        if (job->state == TransferState::Stopped || job->state == TransferState::Failed) {
            job->state = TransferState::Queued;
            MarkJobDirty(job->Id());
            emit JobChanged(job->Id());
        }
    }
    Schedule();
    emit ActivityChanged();
}

void CTransferQueue::StopAll()
{
    for (const auto& job : m_jobs) {
        if (job->state == TransferState::Queued || job->state == TransferState::Running)
            Stop(job->Id());
    }
    emit ActivityChanged();
}

void CTransferQueue::StopAllForExit()
{
    m_holding = true;
    m_scheduler.stop();
    for (const auto& running : m_running) {
        m_stopping.insert(running->id);
        running->thread->Kill();
    }
    // Each has had its sockets closed: the waits are short.
    while (!m_running.empty()) {
        CTransferThread* thread = m_running.front()->thread.get();
        thread->Stop();
        OnDone(thread, thread->Failed(), true, thread->ResultText());
    }
    Flush();
}

void CTransferQueue::CancelAll()
{
    m_holding = true;
    m_stopping.clear();
    for (const auto& running : m_running)
        running->thread->Kill();
    while (!m_running.empty()) {
        CTransferThread* thread = m_running.front()->thread.get();
        thread->Stop();
        OnDone(thread, false, true, thread->CancelledText());
    }
    while (!m_jobs.empty())
        RemoveRow(JobCount() - 1);
    m_holding = false;
    Flush();
    emit ActivityChanged();
}

bool CTransferQueue::event(QEvent* event)
{
    if (auto* status = dynamic_cast<TransferStatusEvent*>(event)) {
        Running* running = RunningOf(status->Thread());
        TransferJobRecord* record = running ? FindMutable(running->id) : nullptr;
        if (!record)
            return true;
        if (!status->Status().isEmpty())
            record->status = status->Status();
        if (status->Percent() >= 0)
            record->percent = std::clamp(status->Percent(), 0, 100);
        if (!status->Name().isEmpty()) {
            record->currentFile = status->Name().mid(status->Name().lastIndexOf(QLatin1Char('/')) + 1);
            emit StatusLine(QStringLiteral("[%1] %2: \"%3\"")
                                .arg(status->Thread()->ThreadId())
                                .arg(status->Status(), status->Name()));
        }
        emit JobChanged(record->Id());
        return true;
    }
    if (auto* files = dynamic_cast<TransferFilesEvent*>(event)) {
        Running* running = RunningOf(files->Thread());
        TransferJobRecord* record = running ? FindMutable(running->id) : nullptr;
        if (!record)
            return true;
        record->job.files = files->Files();
        RecountBytes(*record);
        MarkFilesDirty(record->Id());
        emit JobChanged(record->Id());
        return true;
    }
    if (auto* file = dynamic_cast<TransferFileEvent*>(event)) {
        Running* running = RunningOf(file->Thread());
        TransferJobRecord* record = running ? FindMutable(running->id) : nullptr;
        if (!record || file->Index() < 0 || std::size_t(file->Index()) >= record->job.files.size())
            return true;
        TransferFile& target = record->job.files[std::size_t(file->Index())];
        const auto share = [](const TransferFile& f) {
            return f.folder ? 0 : f.state == TransferState::Completed ? f.size : std::min(f.done, f.size);
        };
        const quint64 before = share(target);
        target.state = file->State();
        target.done = file->Done();
        target.size = file->Size();
        target.result = file->Result();
        record->bytesDone = record->bytesDone + share(target) - std::min(before, record->bytesDone + share(target));
        if (file->State() == TransferState::Running || file->State() == TransferState::Queued) {
            const QString& path = record->direction == TransferDirection::Download ? target.remotePath : target.localPath;
            record->currentFile = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            record->fileDone = target.done;
            record->fileTotal = target.size;
        }
        record->rate = file->Rate();
        MarkFileDirty(record->Id(), file->Index());
        emit JobChanged(record->Id());
        return true;
    }
    if (auto* done = dynamic_cast<TransferDoneEvent*>(event)) {
        if (RunningOf(done->Thread()))
            OnDone(done->Thread(), done->Failed(), done->Cancelled(), done->ResultText());
        return true;
    }
    if (auto* line = dynamic_cast<TraceLineEvent*>(event)) {
        emit TraceLine(line->Level(), line->Text());
        return true;
    }
    if (auto* item = dynamic_cast<RemoteItemAddedEvent*>(event)) {
        emit ItemStored(item->Item());
        return true;
    }
    return QObject::event(event);
}

void CTransferQueue::OnDone(CTransferThread* thread, bool failed, bool cancelled, const QString& text)
{
    const auto owned = std::find_if(m_running.begin(), m_running.end(),
                                    [thread](const auto& running) { return running->thread.get() == thread; });
    if (owned == m_running.end())
        return;
    std::unique_ptr<Running> ended = std::move(*owned);
    m_running.erase(owned);
    // The thread has posted its last event; it ends at once.
    thread->Stop();
    m_budget->Release(ended->server, 1);
    m_endedMoved += thread->BytesMoved();
    const long threadId = thread->ThreadId();
    if (TransferJobRecord* record = FindMutable(ended->id)) {
        // The worker's own list is the last word on every file; events still
        // on their way are dropped with the thread.
        TransferFileList files = thread->Files();
        if (!files.empty()) {
            record->job.files = std::move(files);
            RecountBytes(*record);
            MarkFilesDirty(record->Id());
        }
    }
    const qint64 id = ended->id;
    ended.reset();

    if (TransferJobRecord* record = FindMutable(id)) {
        const bool stopped = m_stopping.contains(id);
        m_stopping.remove(id);
        record->finished = Now();
        record->rate = 0;
        record->status.clear();
        const QString prefix = QStringLiteral("[%1] ").arg(threadId);
        if (record->direction == TransferDirection::Download) {
            QStringList written;
            for (const TransferFile& file : record->job.files) {
                if (file.state != TransferState::Queued && !file.folder)
                    written << file.localPath;
            }
            if (!written.isEmpty())
                emit LocalFilesWritten(written);
        }
        if (stopped && (cancelled || !failed)) {
            record->state = TransferState::Stopped;
            record->result = QStringLiteral("Stopped");
            // Only the files it had begun: Stopped marks a partial target.
            for (TransferFile& file : record->job.files) {
                if (file.state == TransferState::Running)
                    file.state = TransferState::Stopped;
            }
            MarkFilesDirty(id);
            emit TraceLine(TRACE_INFO, prefix + QStringLiteral("%1: stopped; Start goes on from here.").arg(record->FirstName()));
            emit JobChanged(id);
        } else if (cancelled) {
            // Neither success nor failure: the neutral colour.
            emit TraceLine(TRACE_INFO, prefix + text);
            RemoveRow(RowOf(id));
        } else if (failed) {
            record->state = TransferState::Failed;
            record->result = text;
            MarkJobDirty(id);
            emit TraceLine(TRACE_ERROR, prefix + text);
            emit JobChanged(id);
            emit JobFailed(id, text);
            if (m_removeFailed)
                RemoveRow(RowOf(id));
        } else {
            record->state = TransferState::Completed;
            record->result = text;
            // Where the files went, since the user may not have chosen it.
            const QString where = record->direction == TransferDirection::Download
                ? QStringLiteral(" Saved in \"%1\".")
                      .arg(QDir::cleanPath(record->job.localIsFolder ? record->job.localFolder
                                                                     : QFileInfo(record->job.localFolder).path()))
                : QString();
            emit TraceLine(TRACE_SUCCESS, prefix + text + where);
            RemoveRow(RowOf(id));
        }
    }
    Schedule();
    emit ActivityChanged();
    if (m_running.empty() && QueuedCount() == 0)
        emit QueueFinished();
}

void CTransferQueue::RemoveRow(int row)
{
    if (row < 0 || row >= JobCount())
        return;
    const qint64 id = m_jobs[std::size_t(row)]->Id();
    emit JobAboutToBeRemoved(row);
    m_jobs.erase(m_jobs.begin() + row);
    m_rows.remove(id);
    for (int i = row; i < JobCount(); ++i)
        m_rows[m_jobs[std::size_t(i)]->Id()] = i;
    emit JobRemoved(row);
    m_dirtyJobs.remove(id);
    m_dirtyFileLists.remove(id);
    m_dirtyFiles.remove(id);
    m_removed.insert(id);
    m_stopping.remove(id);
    if (m_store && !m_writer.isActive())
        m_writer.start();
}

void CTransferQueue::RecountBytes(TransferJobRecord& record)
{
    if (record.job.files.empty())
        return;
    quint64 done = 0, total = 0;
    for (const TransferFile& file : record.job.files) {
        if (file.folder)
            continue;
        total += file.size;
        done += file.state == TransferState::Completed ? file.size : std::min(file.done, file.size);
    }
    record.bytesDone = done;
    record.bytesTotal = total;
}

void CTransferQueue::Tick()
{
    Schedule();
    quint64 moved = m_endedMoved;
    for (const auto& running : m_running)
        moved += running->thread->BytesMoved();
    m_rate = moved >= m_lastMoved ? double(moved - m_lastMoved) : 0.0;
    m_lastMoved = moved;
    emit ActivityChanged();
}

void CTransferQueue::MarkJobDirty(qint64 id)
{
    if (!m_store)
        return;
    m_dirtyJobs.insert(id);
    if (!m_writer.isActive())
        m_writer.start();
}

void CTransferQueue::MarkFileDirty(qint64 id, int index)
{
    if (!m_store)
        return;
    if (!m_dirtyFileLists.contains(id))
        m_dirtyFiles[id].insert(index);
    MarkJobDirty(id);
}

void CTransferQueue::MarkFilesDirty(qint64 id)
{
    if (!m_store)
        return;
    m_dirtyFileLists.insert(id);
    m_dirtyFiles.remove(id);
    MarkJobDirty(id);
}

void CTransferQueue::Flush()
{
    m_writer.stop();
    if (!m_store || !m_store->IsOpen() || m_storeBroken)
        return;
    if (m_dirtyJobs.isEmpty() && m_removed.isEmpty())
        return;
    if (!m_store->Begin()) {
        StoreFailed();
        return;
    }
    bool ok = true;
    for (const qint64 id : std::as_const(m_removed))
        ok = ok && m_store->RemoveJob(id);
    for (const qint64 id : std::as_const(m_dirtyJobs)) {
        const TransferJobRecord* record = Find(id);
        if (!record)
            continue;
        ok = ok && m_store->SaveJob(*record);
        if (m_dirtyFileLists.contains(id)) {
            ok = ok && m_store->SaveFiles(id, record->job.files);
        } else {
            const QSet<int> indexes = m_dirtyFiles.value(id);
            for (const int index : indexes) {
                if (index >= 0 && std::size_t(index) < record->job.files.size())
                    ok = ok && m_store->SaveFile(id, index, record->job.files[std::size_t(index)]);
            }
        }
    }
    if (!ok || !m_store->Commit()) {
        m_store->Rollback();
        StoreFailed();
        return;
    }
    m_dirtyJobs.clear();
    m_dirtyFileLists.clear();
    m_dirtyFiles.clear();
    m_removed.clear();
}

void CTransferQueue::StoreFailed()
{
    // Said once; the queue goes on in memory.
    if (m_storeBroken)
        return;
    m_storeBroken = true;
    emit Notice(QStringLiteral("The transfer queue could not be written to %1: %2. Transfers are kept in memory only "
                               "from now on.")
                    .arg(m_store->Path(), m_store->LastError()));
}
