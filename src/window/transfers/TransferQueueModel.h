#pragma once

#include <QAbstractTableModel>
#include <QSet>
#include <QTimer>

class CTransferQueue;

// The Transfer Manager's rows: one per job of the queue, read from the queue
// whenever the view asks. The queue's change signals are gathered and passed
// on a few times a second at most, however many files a second move; rows
// added and removed are passed on at once.
class CTransferQueueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FileColumn = 0, HostColumn, SourceColumn, DestinationColumn, StatusColumn, ProgressColumn, ColumnCount };
    enum Role {
        IdRole = Qt::UserRole + 1, // the job's id (qint64)
        DetailRole,                // bytes, rate and time left, for the Progress cell
    };
    // Changes reach the view at most this often.
    static constexpr int kRepaintMs = 250;

    explicit CTransferQueueModel(CTransferQueue& queue, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    qint64 IdAt(int row) const;
    // How many dataChanged signals went out, for the tests of the coalescing.
    int ChangeSignals() const { return m_changeSignals; }
    // Passes the gathered changes on now.
    void FlushChanges();

private:
    void OnJobChanged(qint64 id);

    CTransferQueue& m_queue;
    QSet<qint64> m_changed;
    QTimer m_timer;
    int m_changeSignals = 0;
};
