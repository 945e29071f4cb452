#include "window/local/LocalDelegates.h"

#include <QApplication>
#include <QListView>
#include <QPainter>

namespace {

using LocalDelegates::kIndentRole;
constexpr int kIndentStep = 12;

// The places drop-down shows its tree by indenting each entry; the
// selection still spans the whole row, as in a menu.
class CIndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        QStyle* style = item.widget ? item.widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, item.widget);
        item.rect.adjust(Shift(index), 0, 0, 0);
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(Shift(index), 0);
    }

private:
    static int Shift(const QModelIndex& index) { return index.data(kIndentRole).toInt() * kIndentStep; }
};

// The space an item may take in the icon and tile modes: its grid cell,
// less a little room between the cells.
QSize CellSize(const QStyleOptionViewItem& option)
{
    const auto* view = qobject_cast<const QListView*>(option.widget);
    if (!view || !view->gridSize().isValid())
        return QSize();
    return view->gridSize() - QSize(8, 4);
}

// Icons and thumbnails: names wrap to the width of the cell, not to the
// width of the icon as they would by default.
class CIconDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize cell = CellSize(option);
        if (!cell.isValid())
            return QStyledItemDelegate::sizeHint(option, index);
        QStyleOptionViewItem item(option);
        item.rect = QRect(QPoint(0, 0), cell);
        return QSize(cell.width(), qMin(QStyledItemDelegate::sizeHint(item, index).height(), cell.height()));
    }
};

// Tiles: a medium icon with the name, the type and the size beside it, so
// files can be told apart without the Details columns.
class CTileDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QIcon icon = item.icon;
        const QString name = item.text;
        const QWidget* widget = item.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        // The panel alone: selection, hover and focus, no text or icon.
        item.text.clear();
        item.icon = QIcon();
        item.features &= ~QStyleOptionViewItem::HasDecoration;
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

        const QRect area = item.rect.adjusted(6, 4, -6, -4);
        const QSize iconSize = item.decorationSize;
        const QRect iconRect(QPoint(area.left(), area.center().y() - iconSize.height() / 2), iconSize);
        const bool selected = item.state & QStyle::State_Selected;
        icon.paint(painter, iconRect, Qt::AlignCenter, selected ? QIcon::Selected : QIcon::Normal);

        QStringList lines{name};
        for (const int column : {2, 1}) {
            const QString text = index.sibling(index.row(), column).data().toString();
            if (!text.isEmpty())
                lines << text;
        }
        const QFontMetrics& metrics = item.fontMetrics;
        const QRect textRect = area.adjusted(iconSize.width() + 8, 0, 0, 0);
        int y = textRect.center().y() - int(lines.size()) * metrics.height() / 2;
        const QPalette::ColorGroup group = item.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        painter->save();
        painter->setFont(item.font);
        for (int i = 0; i < lines.size(); ++i) {
            QColor colour = item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
            if (i > 0 && !selected)
                colour = item.palette.color(group, QPalette::PlaceholderText);
            painter->setPen(colour);
            const QRect line(textRect.left(), y, textRect.width(), metrics.height());
            painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                              metrics.elidedText(lines[i], Qt::ElideMiddle, line.width()));
            y += metrics.height();
        }
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QSize cell = CellSize(option);
        return cell.isValid() ? cell : QStyledItemDelegate::sizeHint(option, index);
    }
};

} // namespace

namespace LocalDelegates {

QStyledItemDelegate* NewIndentDelegate(QObject* parent)
{
    return new CIndentDelegate(parent);
}

QStyledItemDelegate* NewIconDelegate(QObject* parent)
{
    return new CIconDelegate(parent);
}

QStyledItemDelegate* NewTileDelegate(QObject* parent)
{
    return new CTileDelegate(parent);
}

} // namespace LocalDelegates
