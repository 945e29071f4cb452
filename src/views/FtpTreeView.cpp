#include "views/FtpTreeView.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyle>

CFtpTreeView::CFtpTreeView(QWidget* parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("remoteTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setSortingEnabled(false);
}

QTreeWidgetItem* CFtpTreeView::InsertRoot()
{
    auto* root = new QTreeWidgetItem(this, {QStringLiteral("/")});
    root->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
    return root;
}

QTreeWidgetItem* CFtpTreeView::InsertChild(QTreeWidgetItem* parent, const QString& text)
{
    int position = 0;
    while (position < parent->childCount()
           && parent->child(position)->text(0).compare(text, Qt::CaseInsensitive) <= 0)
        ++position;
    auto* item = new QTreeWidgetItem({text});
    QIcon icon;
    icon.addPixmap(style()->standardPixmap(QStyle::SP_DirClosedIcon), QIcon::Normal, QIcon::Off);
    icon.addPixmap(style()->standardPixmap(QStyle::SP_DirOpenIcon), QIcon::Selected, QIcon::Off);
    item->setIcon(0, icon);
    parent->insertChild(position, item);
    return item;
}

void CFtpTreeView::DeleteChildren(QTreeWidgetItem* item)
{
    qDeleteAll(item->takeChildren());
}

void CFtpTreeView::DeleteItem(QTreeWidgetItem* item)
{
    delete item;
}

QTreeWidgetItem* CFtpTreeView::NextItemDepthFirst(QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    if (item->childCount() > 0)
        return item->child(0);
    for (QTreeWidgetItem* node = item; node; node = node->parent()) {
        QTreeWidgetItem* parent = node->parent();
        const int index = parent ? parent->indexOfChild(node) : indexOfTopLevelItem(node);
        const int siblings = parent ? parent->childCount() : topLevelItemCount();
        if (index + 1 < siblings)
            return parent ? parent->child(index + 1) : topLevelItem(index + 1);
    }
    return nullptr;
}

QTreeWidgetItem* CFtpTreeView::FindItemByName(QTreeWidgetItem* start, const QString& name) const
{
    if (!start)
        start = currentItem();
    QTreeWidgetItem* candidate = NextItemDepthFirst(start);
    if (!candidate)
        candidate = Root();
    while (candidate && candidate != start) {
        if (candidate->text(0) == name)
            return candidate;
        candidate = NextItemDepthFirst(candidate);
        if (!candidate && start)
            candidate = Root();
    }
    return nullptr;
}

QString CFtpTreeView::ItemPath(const QTreeWidgetItem* item)
{
    if (!item)
        return QString();
    if (!item->parent())
        return item->text(0);
    QString path = item->text(0);
    for (const QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent()) {
        if (!parent->parent()) {
            path.prepend(QLatin1Char('/'));
            break;
        }
        path.prepend(parent->text(0) + QLatin1Char('/'));
    }
    return path;
}

void CFtpTreeView::ShowEnabled()
{
    setPalette(QApplication::palette(this));
    viewport()->update();
}

void CFtpTreeView::ShowDisabled()
{
    QPalette greyed = QApplication::palette(this);
    greyed.setColor(QPalette::Base, greyed.color(QPalette::Button));
    greyed.setColor(QPalette::Text, greyed.color(QPalette::Disabled, QPalette::Text));
    setPalette(greyed);
    viewport()->update();
}
