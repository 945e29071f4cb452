#include "window/views/FtpListModel.h"

#include "window/views/FileTypes.h"

#include <algorithm>
#include <utility>

namespace {

// Rows that arrive faster than this are announced together.
constexpr int kFlushIntervalMs = 150;

template <typename T>
int ThreeWay(T a, T b)
{
    return (a > b) - (a < b);
}

bool IsLineBreakingOrControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
}

// Names come from the server: a line break or control character in one
// would break the row's layout, so the views show U+FFFD in its place. The
// record keeps the name as it was sent.
QString Printable(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), IsLineBreakingOrControl))
        return text;
    QString out = text;
    for (QChar& c : out) {
        if (IsLineBreakingOrControl(c))
            c = QChar::ReplacementCharacter;
    }
    return out;
}

} // namespace

const QString& FtpListItem::Type() const
{
    if (!m_typeKnown) {
        m_type = folder ? QStringLiteral("Folder") : GetShellTypeName(name);
        m_typeKnown = true;
    }
    return m_type;
}

CFtpListModel::CFtpListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &CFtpListModel::FlushPending);
}

int CFtpListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_announced);
}

int CFtpListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const FtpListItem* CFtpListModel::Item(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_announced)
        return nullptr;
    return &m_items[static_cast<std::size_t>(row)];
}

QVariant CFtpListModel::data(const QModelIndex& index, int role) const
{
    const FtpListItem* item = index.isValid() ? Item(index.row()) : nullptr;
    if (!item)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText(*item, column);
    case Qt::EditRole:
        return column == NameColumn ? QVariant(item->name) : QVariant();
    case Qt::DecorationRole:
        return column == NameColumn ? QVariant(GetShellIcon(item->name, item->folder, false)) : QVariant();
    case Qt::TextAlignmentRole:
        // The name column keeps the view's own alignment, so the large icon
        // view can centre it under the icon.
        if (column == SizeColumn)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (column == TypeColumn || column == DateColumn)
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    case Qt::BackgroundRole:
    case Qt::ForegroundRole:
    case Qt::ToolTipRole:
        return m_marker ? m_marker(*item, role) : QVariant();
    default:
        return {};
    }
}

void CFtpListModel::SetRowMarker(RowMarker marker)
{
    m_marker = std::move(marker);
    RefreshMarks();
}

void CFtpListModel::RefreshMarks()
{
    if (m_announced > 0)
        emit dataChanged(index(0, 0), index(static_cast<int>(m_announced) - 1, ColumnCount - 1),
                         {Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole});
}

QVariant CFtpListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) {
        static const char* const titles[ColumnCount] = {"Name", "Size", "Type", "Date Modified", "Permissions",
                                                        "Owner", "Group"};
        return QString::fromLatin1(titles[section]);
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant((section == SizeColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags CFtpListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    if (index.column() == NameColumn)
        result |= Qt::ItemIsEditable;
    return result;
}

void CFtpListModel::Append(FtpListItem item)
{
    m_items.push_back(std::move(item));
    ScheduleFlush();
}

void CFtpListModel::ScheduleFlush()
{
    if (m_flushTimer.isActive())
        return;
    // The first rows of a listing show at once; later ones wait for the batch.
    const qint64 waited = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : kFlushIntervalMs;
    m_flushTimer.start(static_cast<int>(std::max<qint64>(0, kFlushIntervalMs - waited)));
}

void CFtpListModel::FlushPending()
{
    if (m_flushing || !HasPending())
        return;
    m_flushTimer.stop();
    m_flushing = true;
    beginInsertRows(QModelIndex(), static_cast<int>(m_announced), static_cast<int>(m_items.size()) - 1);
    m_announced = m_items.size();
    endInsertRows();
    m_flushing = false;
    m_sinceFlush.start();
}

int CFtpListModel::Insert(int row, FtpListItem item)
{
    FlushPending();
    const int count = static_cast<int>(m_items.size());
    row = std::clamp(row, 0, count);
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(m_items.begin() + row, std::move(item));
    ++m_announced;
    endInsertRows();
    return row;
}

void CFtpListModel::Remove(int row)
{
    if (!Item(row))
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_items.erase(m_items.begin() + row);
    --m_announced;
    endRemoveRows();
}

void CFtpListModel::Clear()
{
    m_flushTimer.stop();
    beginResetModel();
    m_items.clear();
    m_announced = 0;
    endResetModel();
    m_sinceFlush.invalidate();
}

void CFtpListModel::SetItems(std::vector<FtpListItem> items)
{
    m_flushTimer.stop();
    beginResetModel();
    m_items = std::move(items);
    m_announced = m_items.size();
    endResetModel();
}

void CFtpListModel::SetName(int row, const QString& name)
{
    if (!Item(row))
        return;
    FtpListItem& item = m_items[static_cast<std::size_t>(row)];
    item.name = name;
    item.ForgetType();
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void CFtpListModel::SetSizeAndTime(int row, quint64 size, qint64 modified)
{
    if (!Item(row))
        return;
    FtpListItem& item = m_items[static_cast<std::size_t>(row)];
    item.size = size;
    item.modified = modified;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int CFtpListModel::FindName(const QString& name, Qt::CaseSensitivity sensitivity) const
{
    for (std::size_t row = 0; row < m_items.size(); ++row) {
        if (QString::compare(m_items[row].name, name, sensitivity) == 0)
            return static_cast<int>(row);
    }
    return -1;
}

int CFtpListModel::Compare(const FtpListItem& a, const FtpListItem& b, int column, bool ascending)
{
    if (a.folder != b.folder && column != DateColumn) {
        const int folderFirst = a.folder ? -1 : 1;
        if (column == TypeColumn)
            return folderFirst;
        return ascending ? folderFirst : -folderFirst;
    }
    int result = 0;
    switch (column) {
    case NameColumn:
        result = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        break;
    case SizeColumn:
        result = ThreeWay(a.size, b.size);
        break;
    case TypeColumn:
        result = QString::compare(a.Type(), b.Type(), Qt::CaseInsensitive);
        break;
    case DateColumn:
        result = ThreeWay(a.modified, b.modified);
        break;
    case PermissionsColumn:
        result = QString::compare(a.permissions, b.permissions);
        break;
    case OwnerColumn:
        result = QString::compare(a.owner, b.owner, Qt::CaseInsensitive);
        break;
    case GroupColumn:
        result = QString::compare(a.group, b.group, Qt::CaseInsensitive);
        break;
    default:
        break;
    }
    return ascending ? result : -result;
}

void CFtpListModel::Sort(int column, bool ascending)
{
    if (column < 0 || column >= ColumnCount)
        return;
    FlushPending();
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    // The records themselves are sorted, each with its old row: comparing
    // through a table of row numbers costs a cache miss per comparison.
    const std::size_t count = m_items.size();
    std::vector<std::pair<FtpListItem, int>> rows;
    rows.reserve(count);
    for (std::size_t row = 0; row < count; ++row)
        rows.emplace_back(std::move(m_items[row]), static_cast<int>(row));
    std::stable_sort(rows.begin(), rows.end(), [column, ascending](const auto& a, const auto& b) {
        return Compare(a.first, b.first, column, ascending) < 0;
    });
    std::vector<int> newRow(count);
    for (std::size_t row = 0; row < count; ++row) {
        newRow[static_cast<std::size_t>(rows[row].second)] = static_cast<int>(row);
        m_items[row] = std::move(rows[row].first);
    }

    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        const bool known = old.isValid() && static_cast<std::size_t>(old.row()) < count;
        to.append(known ? createIndex(newRow[static_cast<std::size_t>(old.row())], old.column()) : QModelIndex());
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QString CFtpListModel::DisplayText(const FtpListItem& item, int column)
{
    switch (column) {
    case NameColumn:
        return Printable(item.name);
    case SizeColumn:
        return item.folder ? QString() : FormatSizeKB(item.size);
    case TypeColumn:
        return Printable(item.Type());
    case DateColumn:
        return FormatShortDateTime(item.modified);
    case PermissionsColumn:
        return Printable(item.permissions);
    case OwnerColumn:
        return Printable(item.owner);
    case GroupColumn:
        return Printable(item.group);
    default:
        return {};
    }
}
