// The Details columns of the remote list: which of them show, and the
// header's menu that hides and shows them.
#include "window/views/FtpListView.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTreeView>

namespace {

// The columns a listing may leave without a word: shown only when it has them.
bool ComesWithTheListing(int column)
{
    return column >= CFtpListModel::PermissionsColumn && column <= CFtpListModel::GroupColumn;
}

} // namespace

void CFtpListView::SetUpColumns()
{
    QHeaderView* header = m_detailsView->header();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& pos) {
        CreateHeaderMenu(this)->exec(header->mapToGlobal(pos));
    });
    UpdateColumns();
}

void CFtpListView::UpdateColumns()
{
    for (int column = CFtpListModel::SizeColumn; column < CFtpListModel::ColumnCount; ++column) {
        const bool hidden = m_hiddenColumns.contains(column) || (ComesWithTheListing(column) && !m_listedColumns.contains(column));
        if (m_detailsView->isColumnHidden(column) != hidden)
            m_detailsView->setColumnHidden(column, hidden);
    }
}

bool CFtpListView::IsColumnShown(int column) const
{
    return column >= 0 && column < CFtpListModel::ColumnCount && !m_detailsView->isColumnHidden(column);
}

void CFtpListView::SetColumnHidden(int column, bool hidden)
{
    // The name is what a row is: it always shows.
    if (column <= CFtpListModel::NameColumn || column >= CFtpListModel::ColumnCount)
        return;
    if (hidden)
        m_hiddenColumns.insert(column);
    else
        m_hiddenColumns.remove(column);
    UpdateColumns();
}

QString CFtpListView::HiddenColumnsText() const
{
    QString text;
    for (int column = CFtpListModel::SizeColumn; column < CFtpListModel::ColumnCount; ++column) {
        if (m_hiddenColumns.contains(column))
            text += QString::number(column) + QLatin1Char(',');
    }
    return text;
}

void CFtpListView::RestoreHiddenColumns(const QString& text)
{
    m_hiddenColumns.clear();
    // A hand-edited value may hold anything: what is no column is left out.
    for (const QString& field : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int column = field.trimmed().toInt(&ok);
        if (ok && column > CFtpListModel::NameColumn && column < CFtpListModel::ColumnCount)
            m_hiddenColumns.insert(column);
    }
    UpdateColumns();
}

std::unique_ptr<QMenu> CFtpListView::CreateHeaderMenu(QWidget* parent)
{
    auto menu = std::make_unique<QMenu>(parent);
    menu->setObjectName(QStringLiteral("ColumnsPopup"));
    static const char* const texts[CFtpListModel::ColumnCount] = {
        "", "&Size", "&Type", "&Date Modified", "&Permissions", "&Owner", "&Group"};
    for (int column = CFtpListModel::SizeColumn; column < CFtpListModel::ColumnCount; ++column) {
        QAction* item = menu->addAction(QString::fromLatin1(texts[column]));
        item->setCheckable(true);
        item->setChecked(!m_hiddenColumns.contains(column));
        item->setData(column);
        if (ComesWithTheListing(column) && !m_listedColumns.contains(column))
            item->setStatusTip(QStringLiteral("Shown when the server's listing gives it"));
        connect(item, &QAction::toggled, this, [this, column](bool shown) { SetColumnHidden(column, !shown); });
    }
    return menu;
}
