#include "window/frame/EditCommands.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/session/FtpSession.h"
#include "engine/transfer/LocalPaths.h"
#include "engine/transfer/TransferQueue.h"
#include "window/edit/EditedFilesDlg.h"
#include "window/frame/RemotePresenter.h"
#include "window/frame/TransferCommands.h"
#include "window/views/FtpListView.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

QString Described(quint64 size, qint64 modified)
{
    QString text = QStringLiteral("%1 bytes").arg(size);
    if (modified >= 0)
        text += QStringLiteral(", changed %1")
                    .arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(modified), QLocale::ShortFormat));
    return text;
}

} // namespace

CEditCommands::CEditCommands(CFtpSession& session, CRemotePresenter& presenter, CFtpListView& list,
                             CTransferQueue& queue, CTransferCommands& transfers, QWidget* window)
    : QObject(window), m_session(session), m_presenter(presenter), m_list(list), m_queue(&queue),
      m_transfers(transfers), m_window(window)
{
    connect(&m_files, &CEditedFiles::Saved, this, &CEditCommands::OnSaved);
    connect(&queue, &CTransferQueue::JobAboutToBeRemoved, this, &CEditCommands::OnJobLeaving);
    connect(&queue, &CTransferQueue::JobFailed, this, &CEditCommands::OnJobFailed);
    // What waited for the session goes on once its operation has ended.
    connect(&m_presenter, &CRemotePresenter::BusyChanged, this, [this](bool busy) {
        if (!busy)
            QTimer::singleShot(0, this, [this] {
                HandleWaiting();
                RefreshRemoteStates();
            });
    });
}

CEditCommands::~CEditCommands()
{
    // The program ends: a copy with changes the server has not got stays
    // (the question on closing said where), the others go.
    for (const EditedFile& file : m_files.Files()) {
        const bool unsent = file.state == EditedFile::State::Saved || file.state == EditedFile::State::Uploading
            || file.state == EditedFile::State::UploadFailed;
        m_files.StopWatching(file.id, unsent);
    }
    // A copy half fetched is of no use at the next start. Cancelling tells
    // this object again through the queue's signals: they go first.
    const QHash<qint64, Download> downloads = std::exchange(m_downloads, {});
    if (m_queue)
        disconnect(m_queue, nullptr, this, nullptr);
    for (auto download = downloads.cbegin(); download != downloads.cend(); ++download) {
        if (m_queue)
            m_queue->Cancel(download.key());
        QFile::remove(download->localPath);
        QDir().rmdir(QFileInfo(download->localPath).path());
    }
}

QString CEditCommands::SiteKeyOfSession() const
{
    return RemotePath::Root().Url(UrlSchemeOf(m_session.Site()), m_session.Site().login, m_session.Server(), m_session.Port());
}

bool CEditCommands::SessionIsOn(const QString& siteKey) const
{
    return m_session.HasConnection() && SiteKeyOfSession() == siteKey;
}

void CEditCommands::OnOpenAndEdit()
{
    if (!m_session.HasConnection() || m_session.IsBusy() || m_session.ListedPath().IsEmpty())
        return;
    // Named now: the list may show another folder by the time a copy arrives.
    const RemotePath folder = m_session.ListedPath();
    QList<std::pair<RemotePath, quint64>> files;
    for (const int row : m_list.SelectedRows()) {
        if (!m_list.IsFolderItem(row))
            files.append({folder.Child(m_list.ItemName(row)), m_list.GetItemSize(row)});
    }
    if (files.isEmpty()) {
        Prompts().Message(m_window, QStringLiteral("Open and Edit opens files; select one or more files, not folders."),
                          IPrompts::Icon::Information);
        return;
    }
    for (const auto& [path, size] : std::as_const(files))
        Open(path, size);
}

void CEditCommands::Open(const RemotePath& path, quint64 listedSize)
{
    if (path.IsEmpty())
        return;
    const QString siteKey = SiteKeyOfSession();
    for (const EditedFile& file : m_files.Files()) {
        if (file.siteKey == siteKey && file.remotePath == path) {
            // Open already: its program comes up again on the same copy.
            Launch(file.localPath);
            return;
        }
    }
    for (const Download& download : std::as_const(m_downloads)) {
        if (download.siteKey == siteKey && download.remotePath == path)
            return; // on its way already
    }
    QString problem;
    const QString localPath = m_files.PrepareCopy(siteKey, path, &problem);
    if (localPath.isEmpty()) {
        Prompts().Message(m_window, problem, IPrompts::Icon::Warning);
        return;
    }
    if (QFileInfo::exists(localPath)) {
        // Left by an upload that failed: the user's changes are in it.
        const QString question =
            QStringLiteral("A copy of \"%1\" with changes that were never uploaded is kept at\n%2\n\n"
                           "Edit that copy? (No fetches the server's file and puts the kept copy aside as %3.)")
                .arg(path.ToString(), localPath, QFileInfo(localPath).fileName() + QStringLiteral(".kept"));
        if (Prompts().AskYesNo(m_window, question, QStringLiteral("Open and Edit")) == IPrompts::Yes) {
            const int id = m_files.Watch(siteKey, path, localPath, listedSize, -1);
            // Its changes are still to go up; the server's file as it is now is what they replace.
            m_files.SetState(id, EditedFile::State::Saved);
            m_origins.insert(id, {m_transfers.SiteOfSession(), true});
            QTimer::singleShot(0, this, &CEditCommands::RefreshRemoteStates);
            Launch(localPath);
            return;
        }
        QFile::remove(localPath + QStringLiteral(".kept"));
        if (!QFile::rename(localPath, localPath + QStringLiteral(".kept"))) {
            Prompts().Message(m_window, QStringLiteral("The kept copy %1 could not be put aside; nothing was fetched.")
                                            .arg(localPath),
                              IPrompts::Icon::Warning);
            return;
        }
    }
    // What the server holds now, to tell later whether someone else changed it.
    Download download{siteKey, path, localPath, m_transfers.SiteOfSession(), listedSize, -1};
    quint64 size = 0;
    qint64 modified = -1;
    if (m_session.QueryFile(path, size, modified)) {
        download.remoteSize = size;
        download.remoteModified = modified;
    }
    FileStatus entry;
    entry.path = path.Name();
    entry.size = download.remoteSize;
    entry.modified = entry.created = entry.accessed = modified;
    const qint64 job = m_queue->AddDownload({entry}, localPath, download.site, path.Parent().ToString());
    if (job == 0)
        return;
    m_downloads.insert(job, download);
    m_session.Trace(TRACE_INFO, QStringLiteral("Fetching \"%1\" to edit it").arg(path.ToString()));
}

void CEditCommands::Launch(const QString& localPath)
{
    const QString extension = QFileInfo(localPath).suffix().toLower();
    const QString program = extension.isEmpty()
        ? QString()
        : kx::GetProfileString(QString::fromLatin1(kx::settings::kEditorsSection), extension);
    if (!program.trimmed().isEmpty()) {
        // A hand-edited setting may be only quotes: no program, said as such.
        QStringList arguments = QProcess::splitCommand(program);
        const QString executable = arguments.isEmpty() ? QString() : arguments.takeFirst();
        if (!executable.isEmpty() && QProcess::startDetached(executable, arguments << localPath))
            return;
        Prompts().Message(m_window,
                          QStringLiteral("The program set for .%1 files could not be started:\n%2\n\nThe copy is at %3; "
                                         "it is watched, and saving it offers to upload it.")
                              .arg(extension, program.trimmed(), localPath),
                          IPrompts::Icon::Warning);
        return;
    }
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(localPath)))
        return;
    Prompts().Message(m_window,
                      QStringLiteral("No program opens \"%1\" on this desktop. Set one for its extension in "
                                     "Tools > Options > Editing, or open the copy yourself:\n%2\n\n"
                                     "It is watched, and saving it offers to upload it.")
                          .arg(QFileInfo(localPath).fileName(), localPath),
                      IPrompts::Icon::Warning);
}

void CEditCommands::OnSaved(int id)
{
    Enqueue(id, true);
}

void CEditCommands::Enqueue(int id, bool ask)
{
    for (Waiting& waiting : m_waiting) {
        if (waiting.id == id) {
            waiting.ask = waiting.ask && ask;
            return;
        }
    }
    m_waiting.append({id, ask});
    // Never from inside the watcher's signal, nor inside the session's
    // operation: from the event loop, when the session is free.
    QTimer::singleShot(0, this, &CEditCommands::HandleWaiting);
}

void CEditCommands::HandleWaiting()
{
    if (m_handling || m_session.IsBusy())
        return;
    m_handling = true;
    while (!m_waiting.isEmpty() && !m_session.IsBusy()) {
        const Waiting next = m_waiting.takeFirst();
        OfferUpload(next.id, next.ask);
    }
    m_handling = false;
}

void CEditCommands::OfferUpload(int id, bool ask)
{
    const EditedFile* file = m_files.File(id);
    if (!file || file->state == EditedFile::State::Uploading)
        return;
    const QString name = file->remotePath.ToString();
    if (ask && !file->alwaysUpload && !kx::GetProfileInt(kx::settings::EditUploadWithoutAsking)) {
        bool always = false;
        const bool yes = AskUploadBack(m_window, *file, always);
        if (!m_files.File(id))
            return; // its watch ended while the question was open
        if (!yes) {
            m_session.Trace(TRACE_INFO, QStringLiteral("\"%1\" was saved; not uploaded.").arg(name));
            return;
        }
        if (always)
            m_files.SetAlwaysUpload(id, true);
        // Keep-alive may have taken the session while the question was up:
        // the check of the server's file waits for it, unasked again.
        if (m_session.IsBusy()) {
            m_waiting.prepend({id, false});
            return;
        }
    }
    if (!ServerCopyMayBeReplaced(*m_files.File(id))) {
        m_session.Trace(TRACE_INFO, QStringLiteral("\"%1\" was saved; not uploaded.").arg(name));
        return;
    }
    if (m_files.File(id))
        Upload(id);
}

bool CEditCommands::ServerCopyMayBeReplaced(const EditedFile& file)
{
    const QString name = file.remotePath.ToString();
    const QString siteKey = file.siteKey;
    const int id = file.id;
    const quint64 before = file.remoteSize;
    const qint64 beforeModified = file.remoteModified;
    if (!SessionIsOn(siteKey)) {
        m_session.Trace(TRACE_INFO, QStringLiteral("Whether \"%1\" changed on the server since it was opened is not "
                                                   "known: the window is not connected to its site.")
                                        .arg(name));
        return true;
    }
    quint64 size = 0;
    qint64 modified = -1;
    if (!m_session.QueryFile(file.remotePath, size, modified)) {
        const QString reply = m_session.GetLastResponse();
        return Prompts().AskYesNo(m_window,
                                  QStringLiteral("Whether \"%1\" changed on the server since you opened it cannot be "
                                                 "told: the server did not give its size (%2). It may be gone.\n\n"
                                                 "Upload your copy?")
                                      .arg(name, reply),
                                  QStringLiteral("Upload Changed File"))
            == IPrompts::Yes;
    }
    // Times only count when both are known; a size tells on its own.
    const bool changed = size != before || (modified >= 0 && beforeModified >= 0 && modified != beforeModified);
    if (!changed)
        return true;
    const bool replace =
        Prompts().AskYesNo(m_window,
                           QStringLiteral("\"%1\" changed on the server since you opened it: it was %2, it is now %3.\n\n"
                                          "Upload your copy over it? The server's changes are then lost.")
                               .arg(name, Described(before, beforeModified), Described(size, modified)),
                           QStringLiteral("File Changed on the Server"))
        == IPrompts::Yes;
    // Asked once: the next save compares with the file as it is now.
    if (replace && m_files.File(id))
        m_files.SetRemoteState(id, size, modified);
    return replace;
}

void CEditCommands::Upload(int id)
{
    const EditedFile* file = m_files.File(id);
    if (!file || !m_queue)
        return;
    const QFileInfo local(file->localPath);
    if (!local.isFile()) {
        Prompts().Message(m_window, QStringLiteral("The copy of \"%1\" is gone; nothing was uploaded.")
                                        .arg(file->remotePath.ToString()),
                          IPrompts::Icon::Warning);
        return;
    }
    const QString name = file->remotePath.ToString();
    const qint64 job = m_queue->AddUpload({FileStatusOfLocal(local)}, m_origins.value(id).site,
                                          file->remotePath.Parent().ToString());
    if (job == 0)
        return;
    m_files.SetState(id, EditedFile::State::Uploading);
    m_uploads.insert(job, id);
    m_session.Trace(TRACE_INFO, QStringLiteral("Uploading the changed \"%1\" back to the server").arg(name));
}

void CEditCommands::OnJobLeaving(int row)
{
    const TransferJobRecord& record = m_queue->JobAt(row);
    const qint64 job = record.Id();
    const bool done = record.state == TransferState::Completed;
    const bool failed = record.state == TransferState::Failed;
    const QString text = record.result;
    // The queue is in the middle of its own work: the answer comes after.
    if (m_downloads.contains(job)) {
        const Download download = m_downloads.take(job);
        QTimer::singleShot(0, this, [this, download, done, text] { OnDownloadEnded(download, done, text); });
    } else if (m_uploads.contains(job)) {
        const int id = m_uploads.take(job);
        QTimer::singleShot(0, this, [this, id, done, failed, text] { OnUploadEnded(id, done, failed, text); });
    }
}

void CEditCommands::OnJobFailed(qint64 job, const QString& text)
{
    if (m_downloads.contains(job)) {
        // A copy that could not be fetched is no use to anybody: the job goes too.
        const Download download = m_downloads.take(job);
        QTimer::singleShot(0, this, [this, job, download, text] {
            if (m_queue)
                m_queue->Remove(job);
            OnDownloadEnded(download, false, text);
        });
    } else if (const int id = m_uploads.value(job); id != 0) {
        // The job stays in the queue: a resubmit that succeeds still counts.
        QTimer::singleShot(0, this, [this, id, text] { OnUploadEnded(id, false, true, text); });
    }
}

void CEditCommands::OnDownloadEnded(const Download& download, bool done, const QString& text)
{
    if (!done || !QFileInfo(download.localPath).isFile()) {
        QFile::remove(download.localPath);
        QDir().rmdir(QFileInfo(download.localPath).path());
        Prompts().Message(m_window,
                          QStringLiteral("\"%1\" could not be opened for editing: it was not downloaded. %2")
                              .arg(download.remotePath.ToString(), text),
                          IPrompts::Icon::Warning);
        return;
    }
    const int id = m_files.Watch(download.siteKey, download.remotePath, download.localPath, download.remoteSize,
                                 download.remoteModified);
    m_origins.insert(id, {download.site, false});
    m_session.Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" is open for editing; saving it offers to upload it.")
                                       .arg(download.remotePath.ToString()));
    Launch(download.localPath);
}

void CEditCommands::OnUploadEnded(int id, bool done, bool failed, const QString& text)
{
    const EditedFile* file = m_files.File(id);
    if (!file)
        return;
    const QString name = file->remotePath.ToString();
    if (done) {
        m_files.SetState(id, EditedFile::State::Watching);
        // The server's file is now this copy; its time is read when the session is free.
        m_files.SetRemoteState(id, quint64(QFileInfo(file->localPath).size()), -1);
        m_origins[id].refreshRemote = true;
        m_session.Trace(TRACE_SUCCESS, QStringLiteral("\"%1\" uploaded; still watched for changes.").arg(name));
        QTimer::singleShot(0, this, &CEditCommands::RefreshRemoteStates);
        return;
    }
    if (failed) {
        if (file->state == EditedFile::State::UploadFailed)
            return; // said when it failed
        m_files.SetState(id, EditedFile::State::UploadFailed, text);
        Prompts().Message(m_window,
                          QStringLiteral("\"%1\" could not be uploaded: %2\n\nYour changes are kept in\n%3\n"
                                         "Files Being Edited (Tools menu) can upload it again.")
                              .arg(name, text, m_files.File(id)->localPath),
                          IPrompts::Icon::Warning);
        return;
    }
    // Cancelled: the changes are still to go.
    if (file->state == EditedFile::State::Uploading)
        m_files.SetState(id, EditedFile::State::Saved);
}

void CEditCommands::RefreshRemoteStates()
{
    if (m_session.IsBusy())
        return;
    for (auto origin = m_origins.begin(); origin != m_origins.end(); ++origin) {
        const EditedFile* file = m_files.File(origin.key());
        if (!origin->refreshRemote || !file || !SessionIsOn(file->siteKey) || m_session.IsBusy())
            continue;
        origin->refreshRemote = false;
        quint64 size = 0;
        qint64 modified = -1;
        const int id = origin.key();
        if (m_session.QueryFile(file->remotePath, size, modified) && m_files.File(id))
            m_files.SetRemoteState(id, size, modified);
        break; // the session's event loop ran: the table may have changed; the rest come next time
    }
}

void CEditCommands::OnEditedFiles()
{
    CEditedFilesDlg dialog(m_files, m_window);
    connect(&dialog, &CEditedFilesDlg::UploadRequested, this, [this](const QList<int>& ids) {
        for (const int id : ids)
            Enqueue(id, false);
    });
    dialog.exec();
}

bool CEditCommands::ConfirmClose()
{
    QStringList unsent;
    for (const EditedFile& file : m_files.Files()) {
        if (file.state == EditedFile::State::Saved || file.state == EditedFile::State::Uploading
            || file.state == EditedFile::State::UploadFailed)
            unsent << QStringLiteral("  ") + file.remotePath.ToString();
    }
    if (unsent.isEmpty())
        return true;
    const QString question =
        QStringLiteral("These files were changed and the server does not have the changes yet:\n%1\n\n"
                       "Quit all the same? The changed copies are kept in\n%2")
            .arg(unsent.join(QLatin1Char('\n')), CEditedFiles::Root());
    return Prompts().AskYesNo(m_window, question, QStringLiteral("Files Being Edited")) == IPrompts::Yes;
}
