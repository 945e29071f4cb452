#pragma once

#include <QTreeWidget>

class CInputLock;

// The remote folders visited so far, rooted at the connection's home folder
// (the root reads "/"). Children stay in alphabetical order. The selected
// node is the folder the list shows; the frame lists it when it changes.
class CFtpTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit CFtpTreeView(QWidget* parent = nullptr);

    QTreeWidgetItem* Root() const { return topLevelItem(0); }
    QTreeWidgetItem* InsertRoot();
    // A child in sorted position; the icons are the closed and open folder.
    QTreeWidgetItem* InsertChild(QTreeWidgetItem* parent, const QString& text);
    // Adds each name that is not yet a child, in its sorted place.
    void AddChildren(QTreeWidgetItem* parent, QStringList names);
    // The child labelled exactly `name`, or null.
    static QTreeWidgetItem* FindChild(const QTreeWidgetItem* parent, const QString& name);
    // A new label, and the node moves to its sorted place with everything
    // below it.
    void RenameItem(QTreeWidgetItem* item, const QString& text);
    void DeleteChildren(QTreeWidgetItem* item);
    void DeleteItem(QTreeWidgetItem* item);

    // The next node in depth-first pre-order, or null after the last.
    QTreeWidgetItem* NextItemDepthFirst(QTreeWidgetItem* item) const;
    // The first node after `start` (null: the selected node) in depth-first
    // order, wrapping around to the root, whose text is exactly `name`;
    // never `start` itself.
    QTreeWidgetItem* FindItemByName(QTreeWidgetItem* start, const QString& name) const;
    // "/" for the root, "/a/b" for b under a under the root.
    static QString ItemPath(const QTreeWidgetItem* item);

    void ShowEnabled();
    void ShowDisabled();
    // While locked, clicks and keys do nothing: the selection stays put.
    void SetInputLocked(bool locked);

private:
    QTreeWidgetItem* NewFolderItem(const QString& text) const;
    static int SortedPosition(const QTreeWidgetItem* parent, const QString& text);

    CInputLock* m_inputLock = nullptr;
};
