#include "window/views/FtpTreeView.h"

#include "window/views/InputLock.h"

#include <QApplication>
#include <QHeaderView>
#include <QSet>
#include <QStyle>

#include <algorithm>

namespace {

bool SortsBefore(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

} // namespace

CFtpTreeView::CFtpTreeView(QWidget* parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("remoteTree"));
    setAccessibleName(QStringLiteral("Remote folders"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    m_inputLock = new CInputLock(this);
    m_inputLock->Watch(this);
    m_inputLock->Watch(viewport());
}

void CFtpTreeView::SetInputLocked(bool locked)
{
    m_inputLock->SetLocked(locked);
}

QTreeWidgetItem* CFtpTreeView::InsertRoot()
{
    auto* root = new QTreeWidgetItem(this, {QStringLiteral("/")});
    root->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
    return root;
}

QTreeWidgetItem* CFtpTreeView::NewFolderItem(const QString& text) const
{
    auto* item = new QTreeWidgetItem({text});
    QIcon icon;
    icon.addPixmap(style()->standardPixmap(QStyle::SP_DirClosedIcon), QIcon::Normal, QIcon::Off);
    icon.addPixmap(style()->standardPixmap(QStyle::SP_DirOpenIcon), QIcon::Selected, QIcon::Off);
    item->setIcon(0, icon);
    return item;
}

int CFtpTreeView::SortedPosition(const QTreeWidgetItem* parent, const QString& text)
{
    // After every child that sorts before it or equal to it.
    int low = 0;
    int high = parent->childCount();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (SortsBefore(text, parent->child(middle)->text(0)))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

QTreeWidgetItem* CFtpTreeView::InsertChild(QTreeWidgetItem* parent, const QString& text)
{
    QTreeWidgetItem* item = NewFolderItem(text);
    parent->insertChild(SortedPosition(parent, text), item);
    return item;
}

void CFtpTreeView::AddChildren(QTreeWidgetItem* parent, QStringList names)
{
    QSet<QString> known;
    for (int i = 0; i < parent->childCount(); ++i)
        known.insert(parent->child(i)->text(0));
    names.removeIf([&known](const QString& name) {
        if (known.contains(name))
            return true;
        known.insert(name);
        return false;
    });
    if (parent->childCount() > 0) {
        // Few children so far (the folders on a path opened directly): each
        // newcomer goes to its place.
        for (const QString& name : names)
            InsertChild(parent, name);
        return;
    }
    // A folder of many subfolders takes them in one insertion.
    std::stable_sort(names.begin(), names.end(), SortsBefore);
    QList<QTreeWidgetItem*> items;
    items.reserve(names.size());
    for (const QString& name : names)
        items << NewFolderItem(name);
    parent->addChildren(items);
}

QTreeWidgetItem* CFtpTreeView::FindChild(const QTreeWidgetItem* parent, const QString& name)
{
    for (int i = 0; parent && i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == name)
            return parent->child(i);
    }
    return nullptr;
}

void CFtpTreeView::RenameItem(QTreeWidgetItem* item, const QString& text)
{
    QTreeWidgetItem* parent = item->parent();
    if (!parent) {
        item->setText(0, text);
        return;
    }
    const bool expanded = item->isExpanded();
    const bool current = currentItem() == item;
    parent->takeChild(parent->indexOfChild(item));
    item->setText(0, text);
    parent->insertChild(SortedPosition(parent, text), item);
    item->setExpanded(expanded);
    if (current)
        setCurrentItem(item);
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
