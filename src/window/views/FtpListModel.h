#pragma once

#include "engine/base/TimePrecision.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QIcon>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

// One row of the remote file list.
struct FtpListItem {
    QString name;
    quint64 size = 0;   // bytes; 64-bit, files over 4 GiB are common
    qint64 modified = 0; // seconds since the Unix epoch, UTC; -1 when unknown
    // As the listing dated it, for comparisons with local files.
    TimePrecision precision = TimePrecision::Exact;
    bool folder = false;
    // As the listing gave them; the Properties sheet shows them.
    QString permissions;
    QString owner;
    QString group;

    // "Folder", or the type text of the name. Looking a name up in the MIME
    // database is the dearest part of a row, so it happens when a view shows
    // the row or the list is sorted by type, not when the row arrives.
    const QString& Type() const;
    void ForgetType() { m_typeKnown = false; }

private:
    mutable QString m_type;
    mutable bool m_typeKnown = false;
};

// The rows of the remote file list. Display texts are made when a view asks
// for them, so a row costs its record and nothing else.
//
// Rows added with Append() are not announced one by one: they collect and are
// announced in one insertion at most every few tenths of a second (and at once
// by FlushPending()), so a listing of 100,000 entries does not lay the views
// out 100,000 times. rowCount() and every row accessor cover the announced
// rows only; callers outside the views flush before they ask.
class CFtpListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Permissions, owner and group come last: the Details style shows them
    // only while the listing has them.
    enum Column { NameColumn = 0, SizeColumn, TypeColumn, DateColumn, PermissionsColumn, OwnerColumn, GroupColumn,
                  ColumnCount };

    explicit CFtpListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Announced rows; null for a row outside them.
    const FtpListItem* Item(int row) const;
    // Announced and waiting rows together.
    int TotalCount() const { return static_cast<int>(m_items.size()); }
    bool HasPending() const { return m_announced < m_items.size(); }

    // Adds a row at the end, announced with the next batch.
    void Append(FtpListItem item);
    // Announces the rows that are waiting; harmless while an announcement runs.
    void FlushPending();
    // Inserts at once at `row` (clamped to the rows there are) and returns the
    // row it got.
    int Insert(int row, FtpListItem item);
    void Remove(int row);
    void Clear();
    // Replaces every row at once.
    void SetItems(std::vector<FtpListItem> items);
    // A new name also means a new type text for a file.
    void SetName(int row, const QString& name);
    void SetSizeAndTime(int row, quint64 size, qint64 modified);
    // Finds a row by name, by default without regard to case; -1 when there
    // is none.
    int FindName(const QString& name, Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive) const;

    // Background, text colour and tip of a row by what it is (a comparison's
    // marks); null, or an invalid answer, leaves the row as it is.
    // RefreshMarks() repaints the rows after the marker's answers changed.
    using RowMarker = std::function<QVariant(const FtpListItem& item, int role)>;
    void SetRowMarker(RowMarker marker);
    void RefreshMarks();

    // Reorders the rows; selections and other persistent indexes follow
    // their rows. Rows that compare equal keep their relative order.
    void Sort(int column, bool ascending);

    // The list's ordering: negative when a comes first. Folders go first when
    // sorting by name or size ascending, last descending; first in both
    // directions by type; by date they mix with the files.
    static int Compare(const FtpListItem& a, const FtpListItem& b, int column, bool ascending);
    static bool LessThan(const FtpListItem& a, const FtpListItem& b, int column, bool ascending)
    {
        return Compare(a, b, column, ascending) < 0;
    }
    // The text the views show for the record in that column.
    static QString DisplayText(const FtpListItem& item, int column);

private:
    void ScheduleFlush();

    std::vector<FtpListItem> m_items;
    RowMarker m_marker;
    std::size_t m_announced = 0;
    bool m_flushing = false;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
};
