#pragma once

#include <QTreeWidget>

class CXmlNode;

// The catalogue's tree with drag-and-drop moves. Qt's own internal move
// would shuffle items without their nodes; the dialog decides and moves both.
class CSiteTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CSiteTree(QWidget* parent = nullptr);

    static CXmlNode* NodeOf(const QTreeWidgetItem* item);
    // Where `item` may be dropped: a folder or the root that does not lie
    // inside the dragged item's own subtree.
    static bool AcceptsDrop(const QTreeWidgetItem* dragged, const QTreeWidgetItem* target);

signals:
    void MoveRequested(QTreeWidgetItem* dragged, QTreeWidgetItem* target);
    void DeleteKeyPressed();

protected:
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions actions) override;
};
