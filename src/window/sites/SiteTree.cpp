#include "window/sites/SiteTree.h"

#include "engine/catalog/SiteCatalog.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QKeyEvent>

CSiteTree::CSiteTree(QWidget* parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::InternalMove);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

CXmlNode* CSiteTree::NodeOf(const QTreeWidgetItem* item)
{
    return item ? static_cast<CXmlNode*>(item->data(0, Qt::UserRole).value<void*>()) : nullptr;
}

bool CSiteTree::AcceptsDrop(const QTreeWidgetItem* dragged, const QTreeWidgetItem* target)
{
    if (!dragged || !target || !dragged->parent() || !CSiteCatalog::IsContainer(NodeOf(target)))
        return false;
    for (const QTreeWidgetItem* up = target; up; up = up->parent()) {
        if (up == dragged)
            return false;
    }
    return true;
}

void CSiteTree::startDrag(Qt::DropActions actions)
{
    // The root stays where it is.
    if (currentItem() && currentItem()->parent())
        QTreeWidget::startDrag(actions);
}

void CSiteTree::dragMoveEvent(QDragMoveEvent* event)
{
    QTreeWidget::dragMoveEvent(event);
    const bool fromHere = event->source() == this;
    if (fromHere && AcceptsDrop(currentItem(), itemAt(event->position().toPoint())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CSiteTree::dropEvent(QDropEvent* event)
{
    QTreeWidgetItem* dragged = currentItem();
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    // Never let Qt move the items itself: the nodes must move with them.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (event->source() == this && target != dragged && AcceptsDrop(dragged, target))
        emit MoveRequested(dragged, target);
}

void CSiteTree::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        emit DeleteKeyPressed();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
