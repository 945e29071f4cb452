#include "window/transfers/TransferQueueModel.h"

#include "engine/transfer/TransferQueue.h"
#include "window/transfers/TransferTexts.h"
#include "window/views/FileTypes.h"

namespace {

const char* const kHeadings[CTransferQueueModel::ColumnCount] = {"Filename", "Host", "Source", "Destination", "Status",
                                                                 "Progress"};

} // namespace

CTransferQueueModel::CTransferQueueModel(CTransferQueue& queue, QObject* parent)
    : QAbstractTableModel(parent), m_queue(queue)
{
    connect(&queue, &CTransferQueue::JobAboutToBeAdded, this, [this](int row) { beginInsertRows({}, row, row); });
    connect(&queue, &CTransferQueue::JobAdded, this, [this](int) { endInsertRows(); });
    connect(&queue, &CTransferQueue::JobAboutToBeRemoved, this, [this](int row) { beginRemoveRows({}, row, row); });
    connect(&queue, &CTransferQueue::JobRemoved, this, [this](int) { endRemoveRows(); });
    connect(&queue, &CTransferQueue::JobChanged, this, &CTransferQueueModel::OnJobChanged);
    m_timer.setSingleShot(true);
    m_timer.setInterval(kRepaintMs);
    connect(&m_timer, &QTimer::timeout, this, &CTransferQueueModel::FlushChanges);
}

int CTransferQueueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_queue.JobCount();
}

int CTransferQueueModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

qint64 CTransferQueueModel::IdAt(int row) const
{
    return row >= 0 && row < m_queue.JobCount() ? m_queue.JobAt(row).Id() : 0;
}

QVariant CTransferQueueModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_queue.JobCount())
        return {};
    const TransferJobRecord& record = m_queue.JobAt(index.row());
    const bool download = record.direction == TransferDirection::Download;
    const QString name = record.currentFile.isEmpty() ? record.FirstName() : record.currentFile;
    if (role == IdRole)
        return record.Id();
    if (role == DetailRole)
        return DescribeProgress(record);
    if (role == Qt::DecorationRole && index.column() == FileColumn) {
        const bool folder = record.currentFile.isEmpty() && !record.job.items.isEmpty() && record.job.items.first().IsFolder();
        return GetShellIcon(name, folder, false);
    }
    if (role == Qt::ToolTipRole) {
        if (index.column() == StatusColumn && !record.result.isEmpty())
            return record.result;
        if (index.column() == ProgressColumn)
            return DescribeProgress(record);
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case FileColumn: return name;
    case HostColumn: return record.job.site.host;
    case SourceColumn: return download ? record.job.remoteFolder : QString();
    case DestinationColumn: return download ? record.job.localFolder : record.job.remoteFolder;
    case StatusColumn: return StateText(record);
    case ProgressColumn: return QString::number(record.percent);
    default: return {};
    }
}

QVariant CTransferQueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(kHeadings[section]);
    return {};
}

void CTransferQueueModel::OnJobChanged(qint64 id)
{
    m_changed.insert(id);
    if (!m_timer.isActive())
        m_timer.start();
}

void CTransferQueueModel::FlushChanges()
{
    m_timer.stop();
    int first = -1, last = -1;
    for (const qint64 id : std::as_const(m_changed)) {
        const int row = m_queue.RowOf(id);
        if (row < 0)
            continue;
        first = first < 0 ? row : std::min(first, row);
        last = std::max(last, row);
    }
    m_changed.clear();
    if (first < 0)
        return;
    ++m_changeSignals;
    emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}
