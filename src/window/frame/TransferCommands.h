#pragma once

#include "engine/base/FileStatus.h"
#include "engine/base/RemotePath.h"
#include "engine/transfer/TransferJob.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class CFtpListView;
class CFtpSession;
class CLocalBrowserBar;
class CTransferQueue;
class QDockWidget;
class QMimeData;
class QWidget;

// The transfer commands of the window: Download, Download To, Upload, files
// dropped on the remote list, rows dragged out to the Local Browser or
// another program, and the question when the window closes with transfers
// running. It takes the selected rows and the listed folder when a command
// starts and hands the jobs to the transfer queue.
class CTransferCommands : public QObject {
    Q_OBJECT
public:
    CTransferCommands(CFtpSession& session, CFtpListView& list, CLocalBrowserBar& localBrowser,
                      CTransferQueue& queue, QDockWidget& queueDock, QWidget* window);

    // The queue's bounds, time-out and proxy as the settings hold them now.
    static void ApplySettings(CTransferQueue& queue);
    // The catalogue path of the connected site, for jobs that must find its
    // password again after a restart (empty for a typed address).
    void SetSitePathSource(std::function<QString()> source) { m_sitePath = std::move(source); }
    // Closing with transfers running: stop them and keep them for the next
    // start, or cancel them; false when the user goes back to the window.
    bool ConfirmClose();

    // Where downloads go when nobody chose: "DefaultLocalPath" as it is set
    // now, else the user's Downloads folder if there is one, else home;
    // never the program's working folder.
    static QString DefaultDownloadFolder();

    // The connected site as a job takes it, with the transfer type in force.
    TransferSite SiteOfSession() const;

    // ASCII or binary (kx::settings::kTransferType*), for the jobs queued next.
    int TransferType() const { return m_transferType; }
    void SetTransferType(int type);

    // Queues the selected rows for download into `target` (empty: the
    // Local Browser's folder), as one job or one job per row.
    void Download(const QString& target = QString());
    // Queues entries of another remote folder (a search's matches) for
    // download into the Local Browser's folder.
    void DownloadFrom(const RemotePath& folder, const FileStatusList& entries);
    void OnDownloadTo();
    // Upload... (files), Upload Folder... (one folder with all it holds), and
    // the Local Browser's Upload (what it has selected).
    void OnUpload();
    void OnUploadFolder();
    void OnUploadLocalSelection();
    // Queues local files and folders for upload into the listed folder,
    // after asking about the files already there.
    void Upload(const QStringList& localPaths);
    // What Upload... and Upload Folder... ask the user for (folder: one
    // folder); replaceable for tests.
    using UploadChooser = std::function<QStringList(bool folder)>;
    void SetUploadChooser(UploadChooser chooser) { m_chooseUpload = std::move(chooser); }

    // A job of the queue has ended and these local files are as it left
    // them: the Local Browser shows their sizes and times, or those of the
    // folder it shows them in. The queue calls it when a job ends.
    void ShowLocalFilesWritten(const QStringList& paths);

    // Drags the selected rows out of the remote list: dropped on the Local
    // Browser or into a folder of another program, they are downloaded there.
    // The drag itself is replaceable for tests (it returns the drop action).
    void DragSelectionOut();
    using DragRunner = std::function<Qt::DropAction(QMimeData* data)>;
    void SetDragRunner(DragRunner runner) { m_runDrag = std::move(runner); }
    bool IsDragging() const { return m_drag != nullptr; }

signals:
    // A drag began or ended: the list's drop rule follows.
    void DragStateChanged();

private:
    struct PendingDrag;

    void OnRemoteRowsDropped(const QString& folder);
    // One job per entry ("ForceParallelTransfers", or Shift held down), or
    // one job for all of them.
    void QueueJobs(const FileStatusList& entries, const std::function<void(const FileStatusList&)>& addJob) const;
    void QueueDownload(const FileStatusList& entries, const QString& target, const TransferSite& site,
                       const QString& source);
    FileStatusList SelectedEntries() const;

    CFtpSession& m_session;
    CFtpListView& m_list;
    CLocalBrowserBar& m_localBrowser;
    CTransferQueue& m_queue;
    std::function<QString()> m_sitePath;
    QDockWidget& m_queueDock;
    QWidget* m_window;
    int m_transferType = 2;
    QString m_lastDir;
    PendingDrag* m_drag = nullptr; // the rows of a drag in progress, taken when it started
    DragRunner m_runDrag;
    UploadChooser m_chooseUpload;
};
