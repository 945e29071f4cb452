#pragma once

#include "engine/base/FileStatus.h"

#include <QEvent>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <set>
#include <vector>

class CTransferThread;
class QAction;
class QTreeWidget;
class QTreeWidgetItem;

// What a job needs besides its entries and folders, as the frame hands it
// over: the site's connection parameters and the transfer mode.
struct TransferSite {
    QString host;
    QString user;
    QString password;
    int transferType = 2;
    int retries = 1;
    int retryDelay = 10;
    int port = 21;
    bool passive = false;
    int encryption = 0;              // SiteEncryption
    QStringList acceptedCertificates; // SHA-256 fingerprints the user accepted for this connection
};

// The queue of transfer jobs: one row per job (file, host, source,
// destination, status, progress), one worker thread per job. It starts the
// oldest queued jobs up to the parallel limit (now, after every add and end,
// and every second), follows their progress, writes each end into the Trace
// pane and puts a job that failed before it had collected its files back as
// "Failed", for the user to resubmit.
//
// It owns every worker from its creation to its end; destroying the pane
// stops them all (each keeps what it has written so far). Events the workers
// post for the window (trace lines, stored items) go on to the frame.
class CTransferManagerBar : public QWidget {
    Q_OBJECT
public:
    enum Column { FileColumn = 0, HostColumn, SourceColumn, DestinationColumn, StatusColumn, ProgressColumn, ColumnCount };

    explicit CTransferManagerBar(QWidget* parent = nullptr);
    ~CTransferManagerBar() override;

    // Receives the trace lines and stored items; the main window.
    void SetFrame(QObject* frame) { m_frame = frame; }
    // Settings read by the frame at its start and after the options; new
    // time-out and proxy values apply to jobs added afterwards.
    void SetConnectionTimeout(int seconds) { m_timeoutSeconds = seconds; }
    void SetParallelLimit(int limit) { m_parallelLimit = limit; }
    void SetRemoveFailed(bool remove) { m_removeFailed = remove; }
    void SetProxy(int type, const QString& name)
    {
        m_proxyType = type;
        m_proxyName = name;
    }
    // Whether the workers show their progress windows and questions (off in
    // tests that have nobody to answer).
    void SetShowDialogs(bool show) { m_showDialogs = show; }

    void AddDownload(const FileStatusList& entries, const QString& localFolder, const TransferSite& site,
                     const QString& remoteFolder, bool failed = false);
    void AddUpload(const FileStatusList& entries, const TransferSite& site, const QString& remoteFolder,
                   bool failed = false);
    void StartQueued();

    // The pane's commands, on the selected rows.
    void CancelSelected();
    void ResubmitSelected();
    void SelectAll();
    void InvertSelection();

    QTreeWidget* List() const { return m_list; }
    int RunningCount() const { return static_cast<int>(m_counted.size()); }
    int QueuedCount() const;
    int JobCount() const { return static_cast<int>(m_threads.size()); }
    // Bytes per second of all running jobs, over the last second or so.
    double TransferRate() const { return m_rate; }
    QString ColumnWidthsText() const;

signals:
    // The counts or the rate changed: the status bar follows.
    void ActivityChanged();

protected:
    bool event(QEvent* event) override;

private:
    struct Job;

    void Add(std::unique_ptr<CTransferThread> thread, const FileStatusList& entries, const TransferSite& site,
             const QString& remoteFolder, bool failed);
    QTreeWidgetItem* RowOf(const CTransferThread* thread) const;
    CTransferThread* ThreadOf(const QTreeWidgetItem* row) const;
    void OnStatus(CTransferThread* thread, const QString& name, const QString& status, int percent);
    void OnDone(QEvent::Type type, CTransferThread* thread);
    // Resumes a queued thread and counts it, once.
    bool Start(CTransferThread* thread);
    void ForwardToFrame(QEvent* event);
    void Tick();
    void ShowContextMenu(const QPoint& position);

    QTreeWidget* m_list = nullptr;
    QObject* m_frame = nullptr;
    std::vector<std::unique_ptr<CTransferThread>> m_threads; // in order of creation
    std::set<CTransferThread*> m_counted;                    // started by us, not yet ended
    QTimer m_scheduler;
    QAction* m_cancel = nullptr;
    QAction* m_resubmit = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_invert = nullptr;
    int m_timeoutSeconds = 30;
    int m_parallelLimit = 10;
    bool m_removeFailed = false;
    int m_proxyType = 0;
    QString m_proxyName;
    bool m_showDialogs = true;
    quint64 m_lastMoved = 0;
    double m_rate = 0;
};
