#pragma once

#include <QPointer>
#include <QTreeWidget>

class CXmlDocument;
class CXmlNode;

// The folders of a catalogue document as a tree, for choosing where a site
// goes: the root on top, then every FOLDER in the document's order; sites are
// left out. Folders are made, renamed and deleted right in the document; the
// owner decides when to write it.
//
// Keys: Insert makes a folder, F2 renames, Delete deletes.
class CCatalogFolderTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CCatalogFolderTree(QWidget* parent = nullptr);

    // Shows the document's folders with the root selected. The document must
    // outlive the tree, or the next Populate.
    void Populate(CXmlDocument& document);
    CXmlDocument* Document() const { return m_document; }

    QTreeWidgetItem* RootItem() const;
    static CXmlNode* NodeOf(const QTreeWidgetItem* item);

    // A folder "New Folder" under the selected one (the root when none is
    // selected), selected and with its label open for typing a name.
    QTreeWidgetItem* NewFolder();
    // Opens the selected folder's label for editing; the root has no name to
    // change.
    void RenameSelected();
    // Deletes the selected folder and everything in it once the user agrees;
    // true when it was deleted.
    bool DeleteSelected();
    // Commits a label being edited, so that closing a dialog keeps what was
    // typed.
    void FinishEditing();

    // The selected folder's path; the root's (empty) when none is selected.
    QString SelectedFolderPath() const;
    // Selects the folder at the path (ignoring case); false, with the
    // selection unchanged, when there is none.
    bool SelectFolderPath(const QString& path);

    // The label editor open now, if any.
    QWidget* LabelEditor() const { return m_editor; }

signals:
    // A folder was made, renamed or deleted.
    void Modified();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    class LabelDelegate;
    friend class LabelDelegate;

    QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, CXmlNode* node);
    void ApplyLabel(QTreeWidgetItem* item, const QString& typed);
    QTreeWidgetItem* SelectedOrRoot() const;

    CXmlDocument* m_document = nullptr;
    QPointer<QWidget> m_editor;
};
