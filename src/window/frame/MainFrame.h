#pragma once

#include "engine/base/FileStatus.h"
#include "engine/session/FtpSession.h"
#include "window/views/GeneralPage.h"

#include <QHash>
#include <QMainWindow>
#include <QTimer>

#include <functional>

class CCustomizableToolBar;
class CFavoritesMenu;
class CLocalBrowserBar;
class CFtpSite;
class CFtpListView;
class CFtpTreeView;
class CQuickConnectBar;
class CRemotePresenter;
class CTransferManagerBar;
class QLabel;
struct TransferSite;
class CTracePane;
class QAction;
class QMimeData;
class QDockWidget;
class QSplitter;
class QToolBar;
class QTreeWidgetItem;

// The main window: remote folder tree and file list side by side, the
// toolbar, the Quick Connect, Trace, Transfer Manager and Local Browser bars,
// every command with its enable rule, and the one session to one site. The
// session reports to the presenter, which keeps the views in step; the
// commands name the items they act on by absolute paths taken when they start.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The placement stored when the window last closed, applied before it is
    // shown; returns the show state to use (Qt::WindowNoState when none).
    Qt::WindowStates RestorePlacement();

    // Connect to a catalogue site path or an address; the document title
    // follows. A null site lets the user pick one.
    bool Connect(const QString* siteOrAddress, const QString& user, const QString& password);

    CFtpSession& Session() { return m_session; }
    QAction* Command(int id) const { return m_commands.value(id); }
    CTracePane* TracePane() const { return m_tracePane; }
    CRemotePresenter* Presenter() const { return m_presenter; }
    CTransferManagerBar* TransferManager() const { return m_transfers; }
    QDockWidget* QuickConnectDock() const { return m_quickConnectDock; }
    QDockWidget* TraceDock() const { return m_traceDock; }
    QDockWidget* TransferManagerDock() const { return m_transferDock; }
    QDockWidget* LocalBrowserDock() const { return m_localBrowserDock; }
    CLocalBrowserBar* LocalBrowser() const { return m_localBrowser; }
    CCustomizableToolBar* ToolBar() const { return m_toolbar; }
    CQuickConnectBar* QuickConnectBar() const { return m_quickConnect; }
    CFavoritesMenu* FavoritesMenu() const { return m_favorites; }
    CFtpTreeView* TreeView() const { return m_tree; }
    CFtpListView* ListView() const { return m_list; }
    const QString& DocumentTitle() const { return m_documentTitle; }

    // Brings every command's enabled state and check mark up to date.
    void UpdateCommandUI();
    // Re-reads what the options sheet may have changed.
    void OnOptionsConfirmed();
    // (Re)starts the keep-alive timer when keep-alive is on; each call
    // postpones the next NOOP by a whole interval.
    void StartKeepAlive();
    bool IsKeepAliveRunning() const { return m_keepAlive.isActive(); }
    void OnKeepAliveTick();
    // Opens a typed folder: "\\" become "/", a relative path goes below the
    // listed folder; the tree is kept.
    void GoToFolder(const QString& typed);
    // What the Properties sheet shows for a list row.
    RemoteItemProperties PropertiesOf(int row) const;
    // Queues the selected rows for download into `target` (empty: the
    // Local Browser's folder), as one job or one job per row.
    void Download(const QString& target = QString());
    // Drags the selected rows out of the remote list: dropped on the Local
    // Browser or into a folder of another program, they are downloaded there.
    // The drag itself is replaceable for tests (it returns the drop action).
    void DragSelectionOut();
    using DragRunner = std::function<Qt::DropAction(QMimeData* data)>;
    void SetDragRunner(DragRunner runner) { m_runDrag = std::move(runner); }
    // Queues local files and folders for upload into the listed folder,
    // after asking about the files already there.
    void Upload(const QStringList& localPaths);
    // Where downloads go when nobody chose: "DefaultLocalPath", else the
    // user's Downloads folder; never the program's working folder.
    static QString DefaultDownloadFolder();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* AddCommand(int id, const QString& text, void (CMainFrame::*handler)() = nullptr);
    void CreateCommands();
    void CreateMenus();
    void CreateToolbar();
    void CreateBars();
    void CreateClientArea();
    void RestoreBarStates();
    void ApplyPaneSizes();
    void SaveState();
    void UpdateTitle();
    void ApplyViewStyle(int id);
    void SortBy(int column);
    void OnTreeSelectionChanged(QTreeWidgetItem* current);
    void OnBusyChanged(bool busy);
    void OnConnectionChanged();
    // A name typed for the server; false, with a trace line, for one that
    // would not stay a single name in the listed folder.
    bool CheckTypedName(const QString& name);

    // Command handlers
    void OnConnectCommand();
    void OnConnectionWizard();
    void OnAddToFavorites();
    bool ChooseSite(CFtpSite& chosen);
    void RebuildFavorites();
    void OnDisconnect();
    void OnCancel();
    void OnRefresh();
    void OnQuickConnect();
    void OnHelpTopics();
    void OnWebSite();
    void OnAbout();
    void OnTransferAscii();
    void OnTransferBinary();
    void OnExplore();
    void OnUpOneLevel();
    void OnDelete();
    void OnRename();
    void OnNewFolder();
    void OnProperties();
    void OnSelectAll();
    void OnGoToFolder();
    void OnCustomCommand();
    void OnOptions();
    void OnDownload();
    void OnDownloadTo();
    void OnUpload();
    void UpdateTransferStatus();
    // The items of the listed folder and the selection, in the status bar.
    void UpdateListStatus();
    bool CanGoUp() const;
    // A page beside the program in the desktop's browser, or where to find it.
    void OpenBesideTheProgram(const QString& fileName);
    // One job per entry: "ForceParallelTransfers", or Shift held down.
    bool SeparateJobs() const;
    TransferSite SiteOfSession() const;
    FileStatusList SelectedEntries() const;
    void QueueDownload(const FileStatusList& entries, const QString& target, const TransferSite& site,
                       const QString& source);
    void OnGoSiteDownloadFolder();
    void OnGoDefaultDownloadFolder();
    void OnStoreSiteLocalPath();
    void OnRemoteRowsDropped(const QString& folder);
    void OnInvertSelection();
    void OnEditingStarted(int row);
    void OnEditingFinished(int row, const QString& newText, bool accepted);

    CFtpSession m_session;
    CRemotePresenter* m_presenter = nullptr;
    QHash<int, QAction*> m_commands;
    QSplitter* m_splitter = nullptr;
    CFtpTreeView* m_tree = nullptr;
    CFtpListView* m_list = nullptr;
    QTimer m_keepAlive;
    QString m_oldName;          // a row's name when its edit began
    RemotePath m_editFolder;    // the listed folder when that edit began
    bool m_newFolderPending = false;
    bool m_closePending = false; // closing waits for the running operation
    CCustomizableToolBar* m_toolbar = nullptr;
    CTracePane* m_tracePane = nullptr;
    CQuickConnectBar* m_quickConnect = nullptr;
    QDockWidget* m_quickConnectDock = nullptr;
    CFavoritesMenu* m_favorites = nullptr;
    QDockWidget* m_traceDock = nullptr;
    QDockWidget* m_transferDock = nullptr;
    CTransferManagerBar* m_transfers = nullptr;
    QLabel* m_transferStatus = nullptr;
    QLabel* m_listStatus = nullptr;
    QDockWidget* m_localBrowserDock = nullptr;
    CLocalBrowserBar* m_localBrowser = nullptr;
    QLabel* m_lock = nullptr; // shown while the connection is encrypted
    bool m_localBrowserWidened = false; // once per run, when it first shows
    // The catalogue path of the connected site; empty for a typed address.
    QString m_sitePath;
    QString m_pendingSitePath; // the path asked for while a connect runs
    // The rows of a drag in progress, taken when it started.
    struct PendingDrag;
    PendingDrag* m_drag = nullptr;
    DragRunner m_runDrag;
    QString m_documentTitle = QStringLiteral("Not Connected");
    QString m_lastDir;
    int m_transferType = 2;
    int m_forceParallel = 0;
};
