#pragma once

#include "engine/session/FtpSession.h"
#include "engine/session/KeepAlive.h"
#include "window/frame/WindowPlacement.h"

#include <QHash>
#include <QMainWindow>

#include <memory>

class CCompareCommands;
class CConnectCommands;
class CEditCommands;
class CCustomizableToolBar;
class CFavoritesMenu;
class CFrameStatusBar;
class CFtpListView;
class CFtpTreeView;
class CLocalBrowserBar;
class CQuickConnectBar;
class CRemoteItemCommands;
class CRemotePresenter;
class CSyncCommands;
class CTracePane;
class CTransferCommands;
class CPasswordPrompt;
class CTransferManagerBar;
class CTransferQueue;
class QAction;
class QDockWidget;
class QSplitter;

// The main window: remote folder tree and file list side by side, the
// toolbar, the Quick Connect, Trace, Transfer Manager and Local Browser
// bars, the status bar, and the command table with every command's enable
// rule. It owns the one session to one site; the presenter keeps the views in
// step with it, and the commands themselves live in controllers:
// connecting and the catalogue (CConnectCommands), remote items
// (CRemoteItemCommands), transfers (CTransferCommands), comparing and
// filtering the panes (CCompareCommands), synchronising and searching
// (CSyncCommands), and files opened for editing (CEditCommands).
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The placement stored when the window last closed, applied before it is
    // shown; returns the show state to use (Qt::WindowNoState when none).
    Qt::WindowStates RestorePlacement();

    // The site named on the command line is connected to instead of
    // offering the Site Manager at start-up ("ShowConnectionDlg").
    void SkipStartupSiteManager() { m_startupSiteManager = false; }
    // Connect to a catalogue site path or an address; a null site lets the
    // user pick one.
    bool Connect(const QString* siteOrAddress, const QString& user, const QString& password);

    CFtpSession& Session() { return m_session; }
    CKeepAlive& KeepAlive() { return m_keepAlive; }
    CConnectCommands& ConnectCommands() const { return *m_connectCommands; }
    CRemoteItemCommands& ItemCommands() const { return *m_itemCommands; }
    CTransferCommands& TransferCommands() const { return *m_transferCommands; }
    CCompareCommands& CompareCommands() const { return *m_compareCommands; }
    CSyncCommands& SyncCommands() const { return *m_syncCommands; }
    CRemotePresenter& Presenter() const { return *m_presenter; }
    CEditCommands& EditCommands() const { return *m_editCommands; }
    QAction* Command(int id) const { return m_commands.value(id); }
    CTracePane* TracePane() const { return m_tracePane; }
    CTransferManagerBar* TransferManager() const { return m_transfers; }
    CTransferQueue& TransferQueue() const { return *m_queue; }
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
    const QString& DocumentTitle() const;

    // Brings every command's enabled state and check mark up to date.
    void UpdateCommandUI();
    // Re-reads what the options sheet may have changed.
    void OnOptionsConfirmed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The command as the table describes it, held by the window.
    QAction* AddCommand(int id);
    // The handler of a command already made.
    template <class Handler>
    QAction* AddCommand(int id, Handler handler);
    void CreateCommands();
    void CreateMenus();
    void CreateToolbar();
    void CreateBars();
    void CreateDocks();
    void CreateClientArea();
    void CreateControllers();
    // The docked panes whose sizes are kept, with their settings sections.
    QList<WindowPlacement::Pane> Panes() const;
    // The panes F6 goes through, in order.
    QList<QWidget*> FocusPanes() const;
    void SaveState();
    void UpdateTitle();
    void ApplyViewStyle(int id);
    void SortBy(int column);
    void SetTransferType(int type);
    void OnBusyChanged(bool busy);
    // The views take no input while an operation runs or a worker asks.
    void HoldViews();
    void RestartKeepAlive();
    void OnOptions();
    void OnAbout();
    // A page beside the program in the desktop's browser, or where to find it.
    void OpenBesideTheProgram(const QString& fileName);

    CFtpSession m_session;
    CKeepAlive m_keepAlive{m_session};
    CRemotePresenter* m_presenter = nullptr;
    CConnectCommands* m_connectCommands = nullptr;
    CRemoteItemCommands* m_itemCommands = nullptr;
    CTransferCommands* m_transferCommands = nullptr;
    CCompareCommands* m_compareCommands = nullptr;
    CSyncCommands* m_syncCommands = nullptr;
    CEditCommands* m_editCommands = nullptr;
    CFrameStatusBar* m_statusBar = nullptr;
    QHash<int, QAction*> m_commands;
    QSplitter* m_splitter = nullptr;
    CFtpTreeView* m_tree = nullptr;
    CFtpListView* m_list = nullptr;
    bool m_closePending = false; // closing waits for the running operation
    bool m_startupSiteManager = true;
    CCustomizableToolBar* m_toolbar = nullptr;
    CTracePane* m_tracePane = nullptr;
    CQuickConnectBar* m_quickConnect = nullptr;
    QDockWidget* m_quickConnectDock = nullptr;
    CFavoritesMenu* m_favorites = nullptr;
    QDockWidget* m_traceDock = nullptr;
    QDockWidget* m_transferDock = nullptr;
    CTransferQueue* m_queue = nullptr;
    std::unique_ptr<CPasswordPrompt> m_passwordPrompt;
    CTransferManagerBar* m_transfers = nullptr;
    QDockWidget* m_localBrowserDock = nullptr;
    CLocalBrowserBar* m_localBrowser = nullptr;
    bool m_localBrowserWidened = false; // once per run, when it first shows
};
