#pragma once

#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "engine/base/FileQuestion.h"
#include "engine/base/FileStatus.h"
#include "engine/base/RemoteEntry.h"
#include "window/views/FtpListModel.h"

class QAbstractItemView;
class QAction;
class QItemSelectionModel;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QStackedWidget;
class QTreeView;
class CInputLock;
class QDropEvent;
class CNameDelegate;

// The contents of the current remote folder: one row per file or subfolder,
// in four view styles (large icons, small icons, list, details) over one
// model and one selection. The frame fills and asks it; the commands of its
// context menus are the frame's own actions.
class CFtpListView : public QWidget {
    Q_OBJECT
public:
    explicit CFtpListView(QWidget* parent = nullptr);
    ~CFtpListView() override;

    // Listing
    void DeleteAllItems();
    // index = consecutive positions 0, 1, 2...; rows at the end are shown in
    // batches while the listing arrives. "." and ".." are never rows.
    void AddListingEntry(int index, const RemoteEntry& entry);
    // The row's index when one was inserted; -1 when a row of that name
    // (by default ignoring case) existed and got the record's size and the
    // current time.
    int AddOrUpdateEntry(int position, const FileStatus& status, Qt::CaseSensitivity names = Qt::CaseInsensitive);
    // Whether local files dropped on the rows are taken (FilesDropped).
    void SetAcceptsFiles(bool accept) { m_acceptsFiles = accept; }
    bool AcceptsFiles() const { return m_acceptsFiles; }
    // Before local files go up into the folder on display: a chosen file
    // that has a row of exactly its name is asked about. A larger local file
    // may continue the remote one (marked kResume, with the remote size as
    // its size); otherwise it may replace it (No leaves it out, Yes to All
    // stops asking). Folders are not asked about: they merge. False, with the
    // list unchanged, when the user cancelled or there was nothing to send.
    bool ConfirmUploads(FileStatusList& files, IFileQuestions& questions) const;
    // 0-3 sorts by that column in the current direction; -1 re-sorts by the
    // current column and direction.
    void SortByColumn(int column);
    int SortColumn() const { return m_sortColumn; }
    bool SortAscending() const { return m_ascending; }
    // 59408 small icons, 59409 large icons, 59410 list, 59411 details;
    // other ids are ignored.
    void SetViewStyle(int commandId);
    int ViewStyle() const { return m_viewStyle; }
    void ShowBusy(bool busy);
    // A note above the rows that they are not the whole folder (a listing
    // cancelled or broken off), until the next full listing.
    void SetIncomplete(bool incomplete);
    // A line above the rows (empty: none), such as that filters hide some.
    void SetNote(const QString& text);
    QString Note() const;
    // The Details columns: widths as a setting keeps them, restored once at
    // the start; without stored widths the first rows that arrive fit them.
    QString ColumnWidthsText() const;
    void RestoreColumnWidths(const QString& text);
    void FitColumnsOnce();
    // The Details columns the user hid, as a setting keeps them ("4,6,").
    // Permissions, Owner and Group show only while the listing has them.
    QString HiddenColumnsText() const;
    void RestoreHiddenColumns(const QString& text);
    void SetColumnHidden(int column, bool hidden);
    bool IsColumnShown(int column) const;
    // The header's menu: a ticked item for each column but Name.
    std::unique_ptr<QMenu> CreateHeaderMenu(QWidget* parent = nullptr);
    bool IsIncomplete() const;
    bool IsBusy() const { return m_busy != nullptr; }
    void ShowEnabled();
    void ShowDisabled();
    bool IsShownEnabled() const { return m_shownEnabled; }
    // While locked, clicks, keys and context menus on the rows do nothing
    // (the wheel still scrolls): nothing the user does can act on the rows.
    void SetInputLocked(bool locked);

    // Rows. A row outside the list reads as empty, 0 or false.
    int RowCount() const;
    QString ItemName(int row) const;
    // The row of exactly this name; -1 when there is none.
    int FindRow(const QString& name) const;
    bool IsFolderItem(int row) const;
    quint64 GetItemSize(int row) const;
    qint64 ItemModified(int row) const;
    QString ItemText(int row, int column) const;
    // The row's record as the listing gave it; null for a row outside the list.
    const FtpListItem* Item(int row) const;
    void SetItemName(int row, const QString& name);
    void RemoveItem(int row);
    QList<int> SelectedRows() const;
    int FirstSelectedRow() const;
    void SelectItem(int row);
    void SelectAll();
    void InvertSelection();
    void EditItem(int row);
    QLineEdit* Editor() const;
    bool IsEditing() const { return m_editing; }
    // Ends an edit of a name unsaved, and a rename a click was about to
    // start: a command that runs now must not leave an editor open.
    void EndEditing();
    void FocusList();

    void SetCommandLookup(std::function<QAction*(int commandId)> lookup);
    // The right-click menu for the current selection ("FolderPopup",
    // "FilePopup" or "ListPopup" as its object name), holding the frame's
    // actions; null when the lookup offers none of them.
    std::unique_ptr<QMenu> CreateContextMenu(QWidget* parent = nullptr) const;

    CFtpListModel* Model() const { return m_model; }
    QListView* IconView() const { return m_iconView; }
    QTreeView* DetailsView() const { return m_detailsView; }
    QAbstractItemView* CurrentView() const;
    QItemSelectionModel* Selection() const { return m_selection; }
    // The panel over the list while it is busy, or null.
    QWidget* BusyPanel() const { return m_busy; }

signals:
    void SelectionChanged();
    void ItemActivated(int row);
    void EditingStarted(int row);
    void EditingFinished(int row, const QString& newText, bool accepted);
    void SortChanged(int column, bool ascending);
    // Local files and folders dropped on the list from a file manager.
    void FilesDropped(const QStringList& paths);
    // The mouse was pressed on a selected row and moved far enough to start
    // dragging the selection out; whoever owns the session decides.
    void DragRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnHeaderClicked(int column);
    void ApplySort(int column, bool moveArrow);
    void ShowContextMenu(QAbstractItemView* view, const QPoint& pos);
    bool HandleFileDrop(QDropEvent* drop);
    void InstallDelegate(QAbstractItemView* view);
    void OnEditorCreated(CNameDelegate* delegate, QLineEdit* editor, const QModelIndex& index);
    void OnNameCommitted(QWidget* editor, const QString& text);
    void OnEditorClosed(QWidget* editor, bool reverted);
    void FinishEditing(bool accepted);
    void CancelEditing();
    bool IsSoleSelectedRow(int row) const;
    void ApplyColours();
    void ConfigureIconView();
    void SetUpColumns();
    void UpdateColumns();

    CFtpListModel* m_model = nullptr;
    QItemSelectionModel* m_selection = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLabel* m_incomplete = nullptr;
    QLabel* m_note = nullptr;
    QListView* m_iconView = nullptr;
    QTreeView* m_detailsView = nullptr;
    QWidget* m_busy = nullptr;
    std::function<QAction*(int)> m_lookup;
    CInputLock* m_inputLock = nullptr;
    bool m_acceptsFiles = false;
    bool m_columnsSettled = false;
    QSet<QString> m_sharedTexts; // owners, groups, permissions of the rows
    QSet<int> m_hiddenColumns;   // by the user
    QSet<int> m_listedColumns;   // of permissions, owner and group: those the rows have

    int m_sortColumn = 0;
    bool m_ascending = true;
    int m_viewStyle = 0;
    bool m_shownEnabled = true;

    bool m_editing = false;
    quint64 m_editSession = 0;
    CNameDelegate* m_editDelegate = nullptr;
    QPointer<QLineEdit> m_editor;
    QPersistentModelIndex m_editIndex;
    bool m_committed = false;
    QString m_committedText;

    // A click on the only selected row starts renaming it, unless the click
    // turns out to be half of a double-click. Only a row the user clicked
    // before counts, in a list that had the keyboard already: a row the
    // program selected, or the click that brings the list the focus, renames
    // nothing.
    QTimer m_slowClick;
    QPersistentModelIndex m_slowClickIndex;
    QPersistentModelIndex m_clickedIndex; // the row the last click left selected
    bool m_pressOnSoleSelection = false;
    bool m_pressOnSeveral = false; // on one row of a selection of several
    bool m_focusFromClick = false; // the list got the keyboard from the press now coming
    QPoint m_dragStart;
    bool m_mayDrag = false;
};
