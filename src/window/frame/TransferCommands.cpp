#include "window/frame/TransferCommands.h"

#include "engine/base/Settings.h"
#include "engine/session/FtpSession.h"
#include "engine/sync/FileFilter.h"
#include "engine/transfer/LocalPaths.h"
#include "engine/transfer/TransferQueue.h"
#include "window/transfers/ExitQuestion.h"
#include "window/local/LocalBrowserBar.h"
#include "window/local/RemoteDragOut.h"
#include "window/transfers/ConfirmFileDlg.h"
#include "window/views/FtpListModel.h"
#include "window/views/FtpListView.h"

#include <QDir>
#include <QDockWidget>
#include <QDrag>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>

struct CTransferCommands::PendingDrag {
    FileStatusList entries;
    TransferSite site;
    QString source;
    bool delivered = false;
};

CTransferCommands::CTransferCommands(CFtpSession& session, CFtpListView& list, CLocalBrowserBar& localBrowser,
                                     CTransferQueue& queue, QDockWidget& queueDock, QWidget* window)
    : QObject(window), m_session(session), m_list(list), m_localBrowser(localBrowser), m_queue(queue),
      m_queueDock(queueDock), m_window(window)
{
    m_transferType = kx::GetProfileInt(kx::settings::TransferType);
    m_lastDir = kx::GetProfileString(kx::settings::LastDir);
    connect(&m_list, &CFtpListView::FilesDropped, this, &CTransferCommands::Upload);
    connect(&m_list, &CFtpListView::DragRequested, this, &CTransferCommands::DragSelectionOut);
    connect(&m_localBrowser, &CLocalBrowserBar::RemoteRowsDropped, this, &CTransferCommands::OnRemoteRowsDropped);
    m_chooseUpload = [this](bool folder) {
        QStringList chosen;
        if (!folder)
            chosen = QFileDialog::getOpenFileNames(m_window, QStringLiteral("Upload"), m_lastDir,
                                                   QStringLiteral("All Files (*)"));
        else if (const QString one = QFileDialog::getExistingDirectory(m_window, QStringLiteral("Upload Folder"), m_lastDir);
                 !one.isEmpty())
            chosen << one;
        return chosen;
    };
}

void CTransferCommands::ApplySettings(CTransferQueue& queue)
{
    using namespace kx;
    queue.SetParallelLimit(GetProfileInt(settings::TransferMax));
    queue.SetConnectionsPerJob(GetProfileInt(settings::ConnectionsPerJob));
    queue.SetConnectionTimeout(GetProfileInt(settings::ConnectionTimeout));
    queue.SetRemoveFailed(GetProfileInt(settings::RemoveFailed) != 0);
    queue.SetProxy(GetProfileInt(settings::ProxyType), GetProfileString(settings::ProxyName));
    queue.SetPreserveTimes(GetProfileInt(settings::PreserveTimes) != 0);
    queue.SetFilter(CFileFilter::Load());
}

bool CTransferCommands::ConfirmClose()
{
    if (m_queue.RunningCount() == 0)
        return true;
    switch (AskExitWithTransfers(m_window, m_queue.RunningCount())) {
    case ExitChoice::StopAndKeep: m_queue.StopAllForExit(); return true;
    case ExitChoice::CancelThem: m_queue.CancelAll(); return true;
    case ExitChoice::GoBack: break;
    }
    return false;
}

QString CTransferCommands::DefaultDownloadFolder()
{
    QString folder = kx::GetProfileString(kx::settings::DefaultLocalPath);
    if (folder.isEmpty()) {
        // A fresh account may have no Downloads folder yet.
        folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        if (!QFileInfo(folder).isDir())
            folder = QDir::homePath();
    }
    // A relative setting would land wherever the program happened to start.
    return QDir::cleanPath(QDir(QDir::homePath()).absoluteFilePath(folder));
}

void CTransferCommands::SetTransferType(int type)
{
    m_transferType = type;
    kx::WriteProfileInt(kx::settings::TransferType, type);
}

TransferSite CTransferCommands::SiteOfSession() const
{
    const CFtpSite& site = m_session.Site();
    // A protocol without ASCII transfers moves every file as it is.
    const int type = m_session.Features().asciiTransfers ? m_transferType : kx::settings::kTransferTypeBinary;
    return TransferSite{m_session.Server(), site.login, site.password, type,
                        site.retries, site.retryDelay, m_session.Port(), site.passive,
                        site.encryption, m_session.AcceptedCertificates(), m_sitePath ? m_sitePath() : QString(),
                        int(site.protocol), site.keyFile, m_session.AcceptedHostKeys(), m_session.KeyPassphrase()};
}

FileStatusList CTransferCommands::SelectedEntries() const
{
    FileStatusList entries;
    for (const int row : m_list.SelectedRows()) {
        FileStatus entry;
        entry.path = m_list.ItemName(row);
        entry.size = m_list.GetItemSize(row);
        entry.created = entry.accessed = entry.modified = m_list.ItemModified(row);
        entry.attribute = m_list.IsFolderItem(row) ? FileStatus::kFolder : 0;
        // Saves the download a question to the server per file.
        if (const FtpListItem* item = m_list.Item(row); item && item->modified >= 0 && item->precision == TimePrecision::Exact)
            entry.attribute |= FileStatus::kExactTime;
        entries << entry;
    }
    return entries;
}

void CTransferCommands::QueueJobs(const FileStatusList& entries,
                                  const std::function<void(const FileStatusList&)>& addJob) const
{
    const bool separate = kx::GetProfileInt(kx::settings::ForceParallelTransfers) != 0
        || (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
    if (separate) {
        for (const FileStatus& entry : entries)
            addJob({entry});
    } else {
        addJob(entries);
    }
    m_queueDock.show();
}

void CTransferCommands::Download(const QString& target)
{
    if (!m_session.HasConnection() || m_session.IsBusy())
        return;
    const FileStatusList entries = SelectedEntries();
    if (!entries.isEmpty())
        QueueDownload(entries, target, SiteOfSession(), m_session.ListedPath().ToString());
}

void CTransferCommands::DownloadFrom(const RemotePath& folder, const FileStatusList& entries)
{
    if (m_session.HasConnection() && !entries.isEmpty() && !folder.IsEmpty())
        QueueDownload(entries, QString(), SiteOfSession(), folder.ToString());
}

void CTransferCommands::QueueDownload(const FileStatusList& entries, const QString& target, const TransferSite& site,
                                      const QString& source)
{
    QString folder = target;
    if (folder.isEmpty())
        folder = m_localBrowser.GetCurrentFolderPath();
    if (folder.isEmpty())
        folder = DefaultDownloadFolder();
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    QueueJobs(entries, [&](const FileStatusList& job) { m_queue.AddDownload(job, folder, site, source); });
}

void CTransferCommands::OnDownloadTo()
{
    const QList<int> rows = m_list.SelectedRows();
    if (rows.isEmpty())
        return;
    const QString start = m_lastDir.isEmpty() ? DefaultDownloadFolder() : m_lastDir;
    QString target;
    if (rows.size() == 1 && !m_list.IsFolderItem(rows.first())) {
        // One file: the name it gets here.
        target = QFileDialog::getSaveFileName(m_window, QStringLiteral("Download to"),
                                              start + QLatin1Char('/') + m_list.ItemName(rows.first()),
                                              QStringLiteral("All Files (*)"));
        if (target.isEmpty())
            return;
        m_lastDir = QFileInfo(target).absolutePath();
    } else {
        // Several entries, or a folder: the folder they go into.
        target = QFileDialog::getExistingDirectory(m_window, QStringLiteral("Download to"), start);
        if (target.isEmpty())
            return;
        m_lastDir = target;
    }
    // Where Download To starts next time, in this run and the next.
    kx::WriteProfileString(kx::settings::LastDir, m_lastDir);
    Download(target);
}

void CTransferCommands::OnUpload()
{
    Upload(m_chooseUpload(false));
}

void CTransferCommands::OnUploadFolder()
{
    Upload(m_chooseUpload(true));
}

void CTransferCommands::OnUploadLocalSelection()
{
    Upload(m_localBrowser.SelectedPaths());
}

void CTransferCommands::ShowLocalFilesWritten(const QStringList& paths)
{
    const QString shown = m_localBrowser.GetCurrentFolderPath();
    for (const QString& path : paths) {
        // A file deeper down shows as the folder it went into.
        QString item = QDir::cleanPath(path);
        while (!item.isEmpty() && QFileInfo(item).absolutePath() != shown && item != QFileInfo(item).absolutePath())
            item = QFileInfo(item).absolutePath();
        if (QFileInfo(item).absolutePath() == shown)
            m_localBrowser.RefreshFile(item);
    }
}

void CTransferCommands::Upload(const QStringList& localPaths)
{
    if (localPaths.isEmpty() || !m_session.HasConnection() || m_session.IsBusy() || m_session.ListedPath().IsEmpty())
        return;
    FileStatusList entries;
    for (const QString& path : localPaths) {
        const QFileInfo info(path);
        if (info.exists())
            entries << FileStatusOfLocal(info);
    }
    CDialogFileQuestions questions(m_window);
    if (!m_list.ConfirmUploads(entries, questions) || entries.isEmpty())
        return;
    const TransferSite site = SiteOfSession();
    const QString target = m_session.ListedPath().ToString();
    QueueJobs(entries, [&](const FileStatusList& job) { m_queue.AddUpload(job, site, target); });
}

void CTransferCommands::DragSelectionOut()
{
    // Nothing leaves while the session is busy or a drag is already out.
    if (m_drag || !m_session.HasConnection() || m_session.IsBusy() || m_session.ListedPath().IsEmpty())
        return;
    PendingDrag drag{SelectedEntries(), SiteOfSession(), m_session.ListedPath().ToString()};
    if (drag.entries.isEmpty())
        return;
    m_drag = &drag;
    // The list never takes its own rows back as an upload.
    emit DragStateChanged();
    CRemoteDragOut out({m_localBrowser.GetCurrentFolderPath()});
    QMimeData* data = out.MakeMimeData(QFileInfo(drag.entries.first().path).fileName());
    // The drag's source window exists once the drag runs.
    QTimer::singleShot(0, &out, &CRemoteDragOut::OfferDirectSave);
    Qt::DropAction action = Qt::IgnoreAction;
    if (m_runDrag) {
        action = m_runDrag(data);
        delete data;
    } else {
        auto* qdrag = new QDrag(&m_list);
        qdrag->setMimeData(data);
        qdrag->setPixmap(QIcon::fromTheme(QStringLiteral("text-x-generic"),
                                          m_list.style()->standardIcon(QStyle::SP_FileIcon)).pixmap(32));
        action = qdrag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    }
    // A drop on the Local Browser has been delivered already; one that
    // another program took names its folder (Direct Save) or is found by its
    // placeholder.
    if (!drag.delivered && (action == Qt::CopyAction || action == Qt::MoveAction)) {
        const QString folder = out.WaitForDrop();
        if (!folder.isEmpty())
            QueueDownload(drag.entries, folder, drag.site, drag.source);
    }
    m_drag = nullptr;
    emit DragStateChanged();
}

void CTransferCommands::OnRemoteRowsDropped(const QString& folder)
{
    if (!m_drag || m_drag->delivered)
        return;
    m_drag->delivered = true;
    QueueDownload(m_drag->entries, folder, m_drag->site, m_drag->source);
}
