#pragma once

#include "engine/base/FileStatus.h"
#include "engine/transfer/TransferJob.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class CTransferQueue;
class CTransferQueueModel;
class QAction;
class QTreeView;

// The Transfer Manager: a view of the transfer queue, one row per job (file,
// host, source, destination, status, progress with bytes, rate and time
// left), with Cancel, Resubmit, Select All and Invert Selection on the
// selected rows.
//
// Made without a queue it keeps one of its own, in memory; given one (the
// program's, kept in its file) it shows and drives that one. The frame's
// calls below pass straight through to the queue; what the queue tells the
// window (trace lines, stored items) the window takes from the queue itself.
class CTransferManagerBar : public QWidget {
    Q_OBJECT
public:
    enum Column { FileColumn = 0, HostColumn, SourceColumn, DestinationColumn, StatusColumn, ProgressColumn, ColumnCount };

    explicit CTransferManagerBar(QWidget* parent = nullptr);
    CTransferManagerBar(CTransferQueue& queue, QWidget* parent = nullptr);
    ~CTransferManagerBar() override;

    CTransferQueue& Queue() { return *m_queue; }
    CTransferQueueModel* Model() const { return m_model; }

    // Settings read by the frame at its start and after the options; new
    // time-out and proxy values apply to jobs started afterwards.
    void SetConnectionTimeout(int seconds);
    void SetParallelLimit(int limit);
    void SetRemoveFailed(bool remove);
    void SetProxy(int type, const QString& name);
    // Whether the workers show their progress windows and questions (off in
    // tests that have nobody to answer).
    void SetShowDialogs(bool show);

    // `failed`: the job is added held (stopped), to be resubmitted.
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

    QTreeView* List() const { return m_list; }
    int RunningCount() const;
    int QueuedCount() const;
    int JobCount() const;
    // Bytes per second of all running jobs, over the last second or so.
    double TransferRate() const;
    QString ColumnWidthsText() const;

signals:
    // The counts or the rate changed: the status bar follows.
    void ActivityChanged();
    // A job failed while this pane is hidden: the frame shows it, or a note
    // in the status bar that opens it.
    void JobFailedWhileHidden(const QString& text);

private:
    void Build();
    QList<qint64> SelectedIds() const;
    void ShowContextMenu(const QPoint& position);

    std::unique_ptr<CTransferQueue> m_ownQueue;
    CTransferQueue* m_queue = nullptr;
    CTransferQueueModel* m_model = nullptr;
    QTreeView* m_list = nullptr;
    QAction* m_cancel = nullptr;
    QAction* m_resubmit = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_invert = nullptr;
};
