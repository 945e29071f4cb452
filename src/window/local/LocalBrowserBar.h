#pragma once

#include "window/local/PlacesList.h"

#include <QList>
#include <QPersistentModelIndex>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class CLocalFileModel;
class QAbstractItemDelegate;
class QAbstractItemView;
class QAction;
class QActionGroup;
class QComboBox;
class QFileIconProvider;
class QFileSystemWatcher;
class QItemSelectionModel;
class QLabel;
class QListView;
class QMenu;
class QModelIndex;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QTreeView;
class QUrl;

// The Local Browser: one local folder at a time, so the user sees where
// downloads land and can drag files to and from the remote list. A "Look in"
// drop-down of places, Back / Up / New Folder, five ways to show the files,
// and the usual file manager keys (Enter, F2, Delete).
class CLocalBrowserBar : public QWidget {
    Q_OBJECT
public:
    // What the remote list puts on its drags; dropped here, it asks the
    // frame to download the rows into the folder under the cursor.
    static constexpr char kRemoteRowsMimeType[] = "application/x-kestrix-remote-rows";
    static constexpr int kMaxHistory = 25;

    enum class ViewMode { Thumbnails, Tiles, Icons, List, Details };
    // Opens a file with the desktop's program for it; false when none did.
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit CLocalBrowserBar(QWidget* parent = nullptr);
    ~CLocalBrowserBar() override;

    // Shows `folder`; false, and the current folder stays, when it does not
    // exist, is no folder or cannot be read. The folder left behind goes to
    // the history when `recordHistory` is set and the folder changes.
    bool BrowseTo(const QString& folder, bool recordHistory);
    // Absolute, without a trailing slash except for "/".
    QString GetCurrentFolderPath() const { return m_currentFolder; }
    // Browses with history; a path that cannot be shown shows the home
    // folder instead (never the folder the program was started from, which
    // nobody chose).
    void GoToPath(const QString& path);
    // A file the program has written (a download that ended): its size and
    // time in the view as they are now.
    void RefreshFile(const QString& path);

    void GoBack();
    void GoUp();
    // "New Folder" (or "New Folder (2)", ...) in the current folder, selected
    // and open for renaming.
    void CreateNewFolder();
    // Asks, then moves the selected items to the trash.
    void DeleteSelection();
    void RenameCurrent();
    // Opens the item: a folder is entered, a file handed to the desktop.
    void OpenItem(const QModelIndex& index);

    void SetViewMode(ViewMode mode);
    ViewMode GetViewMode() const { return m_viewMode; }
    // The frame's commands that apply to the pane, shown in its context menu.
    void SetContextActions(QList<QAction*> actions);
    // The right-click menu over an item (onItem) or the empty space.
    std::unique_ptr<QMenu> CreateContextMenu(bool onItem);
    void SetUrlOpener(UrlOpener opener);

    // A line above the files (empty: none), such as that filters hide some.
    void SetNote(const QString& text);
    QString Note() const;

    // Oldest first; Back returns to the last one.
    const QStringList& History() const { return m_history; }
    // The paths of the selected items, in the order they are shown.
    QStringList SelectedPaths() const;

    QComboBox* PlacesCombo() const { return m_placesCombo; }
    QListView* ListView() const { return m_listView; }
    QTreeView* DetailsView() const { return m_detailsView; }
    // The list view, or the details view in Details mode.
    QAbstractItemView* CurrentView() const;
    CLocalFileModel* Model() const { return m_model; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QAction* BackAction() const { return m_backAction; }
    QAction* UpAction() const { return m_upAction; }
    QAction* NewFolderAction() const { return m_newFolderAction; }
    QAction* ViewModeAction(ViewMode mode) const;

signals:
    void FolderChanged(const QString& folder);
    void RemoteRowsDropped(const QString& targetFolder);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildToolBar();
    void BuildViews();
    void ConfigureView(QAbstractItemView* view);
    void ConfigureListView(ViewMode mode);
    void RefillPlacesCombo(int currentRow);
    void OnPlaceChosen(int row);
    void OnFolderChangedOnDisk();
    void ShowContextMenu(QAbstractItemView* view, const QPoint& position);
    bool HandleDrag(QAbstractItemView* view, QEvent* event);
    // Tells the user why `folder` cannot be shown.
    void ComplainAbout(const QString& folder);
    QList<QModelIndex> SelectedRows() const;

    std::unique_ptr<QFileIconProvider> m_iconProvider;
    CLocalFileModel* m_model = nullptr;
    CPlacesList m_places;
    QComboBox* m_placesCombo = nullptr;
    QToolBar* m_toolBar = nullptr;
    QAction* m_backAction = nullptr;
    QAction* m_upAction = nullptr;
    QAction* m_newFolderAction = nullptr;
    QToolButton* m_viewMenuButton = nullptr;
    QMenu* m_viewMenu = nullptr;
    QActionGroup* m_viewModes = nullptr;
    QStackedWidget* m_stack = nullptr;
    QLabel* m_note = nullptr;
    QListView* m_listView = nullptr;
    QTreeView* m_detailsView = nullptr;
    QItemSelectionModel* m_selection = nullptr;
    QAbstractItemDelegate* m_listDelegate = nullptr;
    QAbstractItemDelegate* m_iconDelegate = nullptr;
    QAbstractItemDelegate* m_tileDelegate = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_renameAction = nullptr;
    QAction* m_deleteAction = nullptr;
    QList<QAction*> m_contextActions;

    ViewMode m_viewMode = ViewMode::Details;
    QString m_currentFolder;
    QPersistentModelIndex m_currentIndex;
    QFileSystemWatcher* m_folderWatcher = nullptr;
    QStringList m_history;
    UrlOpener m_openUrl;
};
