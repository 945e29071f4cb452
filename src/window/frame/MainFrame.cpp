#include "window/frame/MainFrame.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/chrome/AboutDlg.h"
#include "window/chrome/CustomizableToolBar.h"
#include "window/frame/CommandTable.h"
#include "window/frame/CompareCommands.h"
#include "window/frame/ConnectCommands.h"
#include "window/frame/EditCommands.h"
#include "window/frame/FrameStatusBar.h"
#include "window/frame/PaneFocus.h"
#include "window/frame/RemoteItemCommands.h"
#include "window/frame/RemotePresenter.h"
#include "window/frame/SyncCommands.h"
#include "window/frame/TracePane.h"
#include "window/frame/TransferCommands.h"
#include "window/frame/WindowPlacement.h"
#include "window/local/LocalBrowserBar.h"
#include "window/options/OptionsSheet.h"
#include "window/resources/CommandIds.h"
#include "engine/catalog/SitePasswords.h"
#include "window/sites/FavoritesMenu.h"
#include "window/sites/PasswordPlaceChoice.h"
#include "engine/transfer/TransferQueue.h"
#include "window/transfers/DesktopNotifier.h"
#include "window/transfers/PasswordPrompt.h"
#include "window/transfers/DialogTransferPort.h"
#include "window/transfers/TransferManagerBar.h"
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"
#include "window/views/QuickConnectBar.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDockWidget>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

namespace {

using namespace kx;

// Narrower than this a pane cannot show its toolbar and a column of names.
constexpr int kNarrowPane = 300;
constexpr int kTraceHeight = 180;

QDockWidget* MakeDock(QMainWindow* frame, const QString& title, const QString& objectName, QWidget* content)
{
    auto* dock = new QDockWidget(title, frame);
    dock->setObjectName(objectName);
    dock->setWidget(content);
    return dock;
}

} // namespace

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainFrame"));
    // The size a first start gets; a stored placement replaces it.
    resize(1024, 720);
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

    CreateCommands();
    CreateMenus();
    CreateToolbar();
    CreateBars();
    WindowPlacement::RestoreBars(*this, Panes());
    CreateClientArea();
    CreateControllers();
    UpdateTitle();
    UpdateCommandUI();
    RestartKeepAlive();

    QMetaObject::invokeMethod(this, [this] { OfferToMovePasswordsIntoKeyring(this); }, Qt::QueuedConnection);
    // A site named on the command line is connected to instead (it calls
    // SkipStartupSiteManager() before the event loop runs).
    QMetaObject::invokeMethod(this, [this] {
        if (m_startupSiteManager && GetProfileInt(settings::ShowConnectionDlg))
            m_connectCommands->OnConnect();
    }, Qt::QueuedConnection);
}

CMainFrame::~CMainFrame()
{
    // The session reports to the views while it closes; stop that first.
    m_session.SetEvents(nullptr);
    // They read the session, the presenter and the queue, which go before
    // the window's children: they go first. The edited files' copies follow
    // queue jobs, and their half-fetched ones are cancelled in it: they go
    // while the queue is still there.
    delete m_syncCommands;
    delete m_compareCommands;
    delete m_editCommands;
    m_editCommands = nullptr;
    // The queue stops its workers as it goes and reports that; the views
    // those reports would reach (the Transfer Manager, the status bar that
    // reads it) are going too, so nothing listens any more.
    QObject::disconnect(m_queue, nullptr, nullptr, nullptr);
    // The Transfer Manager is a view of the queue: it goes before the queue.
    delete m_transferDock;
    delete m_queue;
    m_queue = nullptr;
}

QAction* CMainFrame::AddCommand(int id)
{
    auto* action = new QAction(this);
    action->setData(id);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    if (const CommandTable::Entry* entry = CommandTable::Find(id))
        CommandTable::Apply(*entry, *action, *style());
    // Whatever runs next, a name left open for editing in the list is not
    // carried along into it: the edit ends, unsaved, first.
    connect(action, &QAction::triggered, this, [this] {
        if (m_list)
            m_list->EndEditing();
    });
    m_commands.insert(id, action);
    addAction(action);
    return action;
}

template <class Handler>
QAction* CMainFrame::AddCommand(int id, Handler handler)
{
    QAction* action = Command(id);
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void CMainFrame::CreateCommands()
{
    using namespace cmd;
    // Every command of the table, except the bars' switches, which the bars
    // bring along. The controllers' commands get their handlers in
    // CreateControllers().
    const QList<int> barSwitches{ID_VIEW_QUICK_CONNECT, ID_VIEW_TRANSFER_MANAGER, ID_VIEW_LOCAL_BROWSER, ID_VIEW_TRACE,
                                 ID_VIEW_TOOLBAR};
    for (const CommandTable::Entry& entry : CommandTable::Entries()) {
        if (!barSwitches.contains(entry.id))
            AddCommand(entry.id);
    }
    AddCommand(ID_CANCEL, [this] {
        m_session.Cancel();
        UpdateCommandUI();
    });
    auto* styles = new QActionGroup(this);
    for (const int id : {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS})
        styles->addAction(AddCommand(id, [this, id] { ApplyViewStyle(id); }))->setCheckable(true);
    auto* sorts = new QActionGroup(this);
    const int sortIds[] = {ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_TYPE, ID_SORT_DATE};
    for (int column = 0; column < 4; ++column)
        sorts->addAction(AddCommand(sortIds[column], [this, column] { SortBy(column); }))->setCheckable(true);
    auto* modes = new QActionGroup(this);
    modes->addAction(AddCommand(ID_TRANSFER_ASCII, [this] { SetTransferType(settings::kTransferTypeAscii); }))->setCheckable(true);
    modes->addAction(AddCommand(ID_TRANSFER_BINARY, [this] { SetTransferType(settings::kTransferTypeBinary); }))->setCheckable(true);
    AddCommand(ID_OPTIONS, &CMainFrame::OnOptions);
    AddCommand(ID_APP_EXIT, &QWidget::close);
    AddCommand(ID_APP_ABOUT, &CMainFrame::OnAbout);
    AddCommand(ID_HELP_FINDER, [this] { OpenBesideTheProgram(QStringLiteral("kestrix.html")); });
    AddCommand(ID_WEB_SITE, [this] { OpenBesideTheProgram(QStringLiteral("website.htm")); });
    AddCommand(ID_NEXT_PANE, [this] { PaneFocus::Move(FocusPanes(), 1); });
    AddCommand(ID_PREVIOUS_PANE, [this] { PaneFocus::Move(FocusPanes(), -1); });
    // The Views button drops down the four view styles.
    auto* views = new QMenu(this);
    for (const int id : {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS})
        views->addAction(Command(id));
    Command(ID_VIEWS_DROPDOWN)->setMenu(views);
}

void CMainFrame::CreateMenus()
{
    using namespace cmd;
    const auto fill = [this](QMenu* menu, std::initializer_list<int> ids) {
        for (const int id : ids) {
            if (id == 0)
                menu->addSeparator();
            else
                menu->addAction(Command(id));
        }
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    fill(file, {ID_CONNECT, ID_DISCONNECT, ID_CANCEL, 0, ID_CONNECTION_WIZARD, 0, ID_OPEN_EDIT, ID_DOWNLOAD, ID_DOWNLOAD_TO,
                ID_UPLOAD, ID_UPLOAD_FOLDER, 0, ID_NEW_FOLDER, ID_CREATE_EMPTY_FILE, ID_RENAME, ID_DELETE, ID_PERMISSIONS,
                ID_PROPERTIES, 0, ID_APP_EXIT});
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    fill(edit, {ID_COPY_URL, 0, ID_SELECT_ALL, ID_INVERT_SELECTION});
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QMenu* bars = view->addMenu(QStringLiteral("&Toolbars"));
    bars->setObjectName(QStringLiteral("barsMenu"));
    view->addSeparator();
    fill(view, {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS});
    QMenu* arrange = view->addMenu(QStringLiteral("Arrange &Icons by"));
    fill(arrange, {ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_TYPE, ID_SORT_DATE});
    view->addSeparator();
    fill(view, {ID_EXPLORE, ID_UP_ONE_LEVEL, ID_GO_TO_FOLDER, ID_REFRESH, 0, ID_NEXT_PANE, ID_PREVIOUS_PANE});
    fill(view, {0, ID_COMPARE_FOLDERS});
    fill(view->addMenu(QStringLiteral("Comp&are by")), {ID_COMPARE_BY_SIZE, ID_COMPARE_BY_SIZE_AND_TIME});
    fill(view, {ID_HIDE_IDENTICAL, ID_SYNCHRONIZED_BROWSING, ID_FILENAME_FILTERS});
    QMenu* favorites = menuBar()->addMenu(QStringLiteral("F&avorites"));
    fill(favorites, {ID_ADD_TO_FAVORITES, ID_ORGANIZE_FAVORITES, 0});
    m_favorites = new CFavoritesMenu(favorites, 3, this);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    fill(tools, {ID_CUSTOM_COMMAND, ID_SYNCHRONIZE, ID_SEARCH_REMOTE, ID_EDITED_FILES, 0, ID_TRANSFER_ASCII, ID_TRANSFER_BINARY, 0, ID_GO_SITE_DOWNLOAD_FOLDER,
                 ID_GO_DEFAULT_DOWNLOAD_FOLDER, 0, ID_OPTIONS});
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    fill(help, {ID_HELP_FINDER, ID_WEB_SITE, 0, ID_APP_ABOUT});
    for (QMenu* menu : {file, edit, view, favorites, tools, help})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

void CMainFrame::CreateToolbar()
{
    using namespace cmd;
    m_toolbar = new CCustomizableToolBar(QStringLiteral("Toolbar"), this);
    m_toolbar->setObjectName(QString::fromLatin1(settings::kToolbarName));
    addToolBar(m_toolbar);
    const QList<int> buttons{ID_CONNECT,  ID_DISCONNECT, ID_CANCEL, 0, ID_UP_ONE_LEVEL,     ID_GO_TO_FOLDER, ID_REFRESH, 0,
                             ID_DOWNLOAD, ID_UPLOAD,     0,         ID_DELETE, ID_PROPERTIES, 0, ID_VIEWS_DROPDOWN,
                             0, ID_COMPARE_FOLDERS, ID_SYNCHRONIZE};
    connect(m_toolbar, &CCustomizableToolBar::ButtonsChanged, this, [this] {
        if (auto* button = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(Command(cmd::ID_VIEWS_DROPDOWN))))
            button->setPopupMode(QToolButton::InstantPopup);
    });
    // Customize offers every command that has an icon to stand on a button.
    QList<int> offered;
    for (const CommandTable::Entry& entry : CommandTable::Entries()) {
        if (Command(entry.id) && !Command(entry.id)->icon().isNull())
            offered << entry.id;
    }
    m_toolbar->LoadToolBar(buttons, [this](int id) { return Command(id); }, offered);
    m_toolbar->LoadState(QString::fromLatin1(settings::kToolbarName));
}

void CMainFrame::CreateBars()
{
    m_queue = new CTransferQueue(this);
    CTransferCommands::ApplySettings(*m_queue);
    m_passwordPrompt = std::make_unique<CPasswordPrompt>(this);
    m_queue->SetPasswordSource(m_passwordPrompt.get());
    // Said once the window is up; the queue then runs in memory.
    connect(m_queue, &CTransferQueue::Notice, this, [this](const QString& text) {
        QTimer::singleShot(0, this, [this, text] { Prompts().Message(this, text, IPrompts::Icon::Warning); });
    });
    m_queue->UseStore(CTransferQueue::DefaultStorePath(), GetProfileInt(settings::StartQueuedTransfers) != 0);
    m_transfers = new CTransferManagerBar(*m_queue, this);
    m_transfers->SetShowDialogs(true);
    new CDesktopNotifier(*m_queue, this);
    m_transferDock = MakeDock(this, QStringLiteral("Transfer Manager"), QString::fromLatin1(settings::kTransferManagerSection), m_transfers);
    addDockWidget(Qt::BottomDockWidgetArea, m_transferDock);
    m_transferDock->hide();

    m_quickConnect = new CQuickConnectBar(this);
    m_quickConnectDock = MakeDock(this, QStringLiteral("Quick Connect"), QStringLiteral("QuickConnect"), m_quickConnect);
    m_quickConnectDock->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    addDockWidget(Qt::TopDockWidgetArea, m_quickConnectDock);
    m_quickConnectDock->hide();

    m_tracePane = new CTracePane(this);
    m_traceDock = MakeDock(this, QStringLiteral("Trace"), QString::fromLatin1(settings::kTraceSection), m_tracePane);
    addDockWidget(Qt::BottomDockWidgetArea, m_traceDock);
    // The queue above the Trace, both the window's width: its six columns
    // need the room.
    splitDockWidget(m_transferDock, m_traceDock, Qt::Vertical);

    m_localBrowser = new CLocalBrowserBar(this);
    m_localBrowser->setObjectName(QStringLiteral("localBrowser"));
    m_localBrowserDock = MakeDock(this, QStringLiteral("Local Browser"), QString::fromLatin1(settings::kFileBrowserSection), m_localBrowser);
    addDockWidget(Qt::BottomDockWidgetArea, m_localBrowserDock);
    m_localBrowserDock->hide();
    // Beside the queue and the Trace it would start as a sliver with its
    // toolbar cut off; the first time it shows, it gets room to browse.
    connect(m_localBrowserDock, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (!visible || m_localBrowserWidened)
            return;
        m_localBrowserWidened = true;
        if (!m_localBrowserDock->isFloating() && m_localBrowserDock->width() < kNarrowPane
            && dockWidgetArea(m_localBrowserDock) == Qt::BottomDockWidgetArea)
            resizeDocks({m_localBrowserDock}, {std::max(2 * kNarrowPane, width() / 2)}, Qt::Horizontal);
    });

    using namespace cmd;
    const std::pair<int, QAction*> toggles[] = {{ID_VIEW_TOOLBAR, m_toolbar->toggleViewAction()},
                                                {ID_VIEW_STATUS_BAR, Command(ID_VIEW_STATUS_BAR)},
                                                {ID_VIEW_QUICK_CONNECT, m_quickConnectDock->toggleViewAction()},
                                                {ID_VIEW_TRANSFER_MANAGER, m_transferDock->toggleViewAction()},
                                                {ID_VIEW_LOCAL_BROWSER, m_localBrowserDock->toggleViewAction()},
                                                {ID_VIEW_TRACE, m_traceDock->toggleViewAction()}};
    QMenu* bars = menuBar()->findChild<QMenu*>(QStringLiteral("barsMenu"));
    for (const auto& [id, toggle] : toggles) {
        CommandTable::Apply(*CommandTable::Find(id), *toggle, *style());
        toggle->setData(id);
        m_commands.insert(id, toggle);
        bars->addAction(toggle);
    }
    QAction* statusToggle = Command(ID_VIEW_STATUS_BAR);
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    connect(statusToggle, &QAction::toggled, statusBar(), &QWidget::setVisible);
}

void CMainFrame::CreateClientArea()
{
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_tree = new CFtpTreeView(m_splitter);
    m_list = new CFtpListView(m_splitter);
    m_list->setObjectName(QStringLiteral("remoteList"));
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setCollapsible(0, false);
    m_tree->setMinimumWidth(10);
    m_splitter->setSizes({200, 600});
    m_splitter->setStretchFactor(1, 1);
    setCentralWidget(m_splitter);
    m_list->SetCommandLookup([this](int id) { return Command(id); });
    connect(m_list, &CFtpListView::SelectionChanged, this, &CMainFrame::UpdateCommandUI);
    connect(m_list, &CFtpListView::SortChanged, this, &CMainFrame::UpdateCommandUI);
    m_presenter = new CRemotePresenter(m_session, *m_tree, *m_list, *m_tracePane, this);
    connect(m_presenter, &CRemotePresenter::BusyChanged, this, &CMainFrame::OnBusyChanged);
    connect(m_presenter, &CRemotePresenter::ConnectionChanged, this, [this] {
        UpdateTitle();
        UpdateCommandUI();
    });
    connect(m_presenter, &CRemotePresenter::ListingEnded, this, [this](const RemotePath& folder, bool complete) {
        if (complete)
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(QStringLiteral("The list of \"%1\" is incomplete.").arg(folder.ToString()));
    });
    m_session.SetEvents(m_presenter);
    // Keys that also edit text act only while the remote views have the focus.
    for (const CommandTable::Entry& entry : CommandTable::Entries()) {
        if (entry.scope != CommandTable::KeyScope::Views)
            continue;
        QAction* action = Command(entry.id);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        // Held by the window as well, the key would act wherever the focus
        // is inside it: Enter in the Quick Connect bar, F2 in a field.
        removeAction(action);
        m_splitter->addAction(action);
    }

    m_list->SortByColumn(std::clamp(GetProfileInt(settings::SortColumn), 0, CFtpListModel::ColumnCount - 1));
    m_list->RestoreColumnWidths(GetProfileString(settings::ListColumnWidth));
    m_list->RestoreHiddenColumns(GetProfileString(settings::ListHiddenColumns));
    const int style = GetProfileInt(settings::ViewStyle);
    m_list->SetViewStyle((style >= settings::kViewSmallIcons && style <= settings::kViewDetails) ? style
                                                                                                : settings::kViewLargeIcons);
    m_presenter->OnDisconnected();
}

void CMainFrame::CreateControllers()
{
    using namespace cmd;
    m_statusBar = new CFrameStatusBar(*statusBar(), m_session, *m_list, *m_transfers);
    connect(m_queue, &CTransferQueue::ActivityChanged, m_statusBar, &CFrameStatusBar::UpdateTransfers);
    connect(m_queue, &CTransferQueue::TraceLine, m_tracePane, &CTracePane::AddLine);
    connect(m_queue, &CTransferQueue::StatusLine, m_tracePane, [this](const QString& line) { m_tracePane->AddLine(TRACE_INFO, line); });
    connect(m_queue, &CTransferQueue::ItemStored, m_presenter, &CRemotePresenter::ShowStoredItem);
    connect(m_transfers, &CTransferManagerBar::JobFailedWhileHidden, m_transferDock, &QDockWidget::show);

    m_connectCommands = new CConnectCommands(m_session, *m_favorites, *m_localBrowser, *m_quickConnect, this);
    connect(m_connectCommands, &CConnectCommands::ConnectionChanged, this, [this] {
        // Said once a run, the first time a password had to go to the file.
        if (const QString warning = SitePasswords::TakeFallbackWarning(); !warning.isEmpty())
            m_session.Trace(TRACE_ERROR, warning);
        UpdateTitle();
        UpdateCommandUI();
    });
    const auto bind = [this](int id, auto* receiver, auto handler) {
        connect(Command(id), &QAction::triggered, receiver, handler);
    };
    m_presenter->SetPasswordAsker([this](PasswordRequest& request) { m_connectCommands->AnswerPasswordRequest(request); });
    bind(ID_CONNECT, m_connectCommands, &CConnectCommands::OnConnect);
    bind(ID_ORGANIZE_FAVORITES, m_connectCommands, &CConnectCommands::OnConnect);
    bind(ID_DISCONNECT, m_connectCommands, &CConnectCommands::OnDisconnect);
    bind(ID_CONNECTION_WIZARD, m_connectCommands, &CConnectCommands::OnConnectionWizard);
    bind(ID_ADD_TO_FAVORITES, m_connectCommands, &CConnectCommands::OnAddToFavorites);
    bind(ID_GO_SITE_DOWNLOAD_FOLDER, m_connectCommands, &CConnectCommands::OnGoSiteDownloadFolder);
    bind(ID_GO_DEFAULT_DOWNLOAD_FOLDER, m_connectCommands, &CConnectCommands::OnGoDefaultDownloadFolder);
    bind(ID_STORE_SITE_LOCAL_PATH, m_connectCommands, &CConnectCommands::OnStoreSiteLocalPath);

    m_itemCommands = new CRemoteItemCommands(m_session, *m_presenter, *m_list, this);
    connect(m_tree, &QTreeWidget::currentItemChanged, m_itemCommands, &CRemoteItemCommands::OnTreeSelectionChanged);
    bind(ID_EXPLORE, m_itemCommands, &CRemoteItemCommands::OnExplore);
    bind(ID_UP_ONE_LEVEL, m_itemCommands, &CRemoteItemCommands::OnUpOneLevel);
    bind(ID_REFRESH, m_itemCommands, &CRemoteItemCommands::OnRefresh);
    bind(ID_DELETE, m_itemCommands, &CRemoteItemCommands::OnDelete);
    bind(ID_RENAME, m_itemCommands, &CRemoteItemCommands::OnRename);
    bind(ID_NEW_FOLDER, m_itemCommands, &CRemoteItemCommands::OnNewFolder);
    bind(ID_PROPERTIES, m_itemCommands, &CRemoteItemCommands::OnProperties);
    bind(ID_PERMISSIONS, m_itemCommands, &CRemoteItemCommands::OnPermissions);
    bind(ID_COPY_URL, m_itemCommands, &CRemoteItemCommands::OnCopyUrl);
    bind(ID_CREATE_EMPTY_FILE, m_itemCommands, &CRemoteItemCommands::OnCreateEmptyFile);
    bind(ID_GO_TO_FOLDER, m_itemCommands, &CRemoteItemCommands::OnGoToFolder);
    bind(ID_CUSTOM_COMMAND, m_itemCommands, &CRemoteItemCommands::OnCustomCommand);
    bind(ID_SELECT_ALL, m_list, &CFtpListView::SelectAll);
    bind(ID_INVERT_SELECTION, m_list, &CFtpListView::InvertSelection);

    m_transferCommands = new CTransferCommands(m_session, *m_list, *m_localBrowser, *m_queue, *m_transferDock, this);
    m_transferCommands->SetSitePathSource([this] { return m_connectCommands->SitePath(); });
    connect(m_queue, &CTransferQueue::LocalFilesWritten, m_transferCommands, &CTransferCommands::ShowLocalFilesWritten);
    connect(m_transferCommands, &CTransferCommands::DragStateChanged, this, &CMainFrame::UpdateCommandUI);
    m_editCommands = new CEditCommands(m_session, *m_presenter, *m_list, *m_queue, *m_transferCommands, this);
    bind(ID_OPEN_EDIT, m_editCommands, &CEditCommands::OnOpenAndEdit);
    bind(ID_EDITED_FILES, m_editCommands, &CEditCommands::OnEditedFiles);
    connect(m_itemCommands, &CRemoteItemCommands::DownloadRequested, m_transferCommands, [this] {
        if (GetProfileInt(settings::DoubleClickOpensFiles))
            m_editCommands->OnOpenAndEdit();
        else
            m_transferCommands->Download();
    });
    bind(ID_DOWNLOAD, m_transferCommands, [this] { m_transferCommands->Download(); });
    bind(ID_DOWNLOAD_TO, m_transferCommands, &CTransferCommands::OnDownloadTo);
    bind(ID_UPLOAD, m_transferCommands, &CTransferCommands::OnUpload);
    bind(ID_UPLOAD_FOLDER, m_transferCommands, &CTransferCommands::OnUploadFolder);
    bind(ID_UPLOAD_LOCAL_SELECTION, m_transferCommands, &CTransferCommands::OnUploadLocalSelection);
    const auto lookup = [this](int id) { return Command(id); };
    m_compareCommands = new CCompareCommands(m_session, *m_presenter, *m_list, *m_localBrowser, *statusBar(), lookup, this);
    connect(m_compareCommands, &CCompareCommands::FilterChanged, m_queue, &CTransferQueue::SetFilter);
    m_syncCommands = new CSyncCommands(m_session, *m_presenter, *m_itemCommands, *m_transferCommands, *m_queue,
                                       *m_localBrowser, *statusBar(), lookup, this);
    m_localBrowser->SetContextActions({Command(ID_UPLOAD_LOCAL_SELECTION), Command(ID_GO_SITE_DOWNLOAD_FOLDER),
                                       Command(ID_GO_DEFAULT_DOWNLOAD_FOLDER), Command(ID_STORE_SITE_LOCAL_PATH)});
    connect(&COpenTransferQuestions::Instance(), &COpenTransferQuestions::CountChanged, this, [this] {
        HoldViews();
        UpdateCommandUI();
    });
    m_presenter->OnDisconnected();
}

bool CMainFrame::Connect(const QString* siteOrAddress, const QString& user, const QString& password)
{
    return m_connectCommands->Connect(siteOrAddress, user, password);
}

const QString& CMainFrame::DocumentTitle() const
{
    return m_connectCommands->DocumentTitle();
}

void CMainFrame::ApplyViewStyle(int id)
{
    m_list->SetViewStyle(id);
    WriteProfileInt(settings::ViewStyle, id);
    UpdateCommandUI();
}

void CMainFrame::SortBy(int column)
{
    m_list->SortByColumn(column);
    UpdateCommandUI();
}

void CMainFrame::SetTransferType(int type)
{
    m_transferCommands->SetTransferType(type);
    UpdateCommandUI();
}

void CMainFrame::HoldViews()
{
    // A worker's open question holds the views as an operation does.
    const bool held = m_session.IsBusy() || COpenTransferQuestions::Instance().Count() > 0;
    m_tree->SetInputLocked(held);
    m_list->SetInputLocked(held);
}

void CMainFrame::OnBusyChanged(bool busy)
{
    HoldViews();
    UpdateCommandUI();
    if (busy)
        return;
    // The one place keep-alive restarts: a whole interval after the last
    // operation of the session, whichever it was.
    RestartKeepAlive();
    if (m_closePending)
        QTimer::singleShot(0, this, &QWidget::close);
}

Qt::WindowStates CMainFrame::RestorePlacement()
{
    return WindowPlacement::Restore(*this);
}

QList<WindowPlacement::Pane> CMainFrame::Panes() const
{
    // A first start gets a Trace pane tall enough to follow a connection.
    return {{m_transferDock, settings::kTransferManagerSection, 0},
            {m_traceDock, settings::kTraceSection, kTraceHeight},
            {m_localBrowserDock, settings::kFileBrowserSection, 0}};
}

QList<QWidget*> CMainFrame::FocusPanes() const
{
    // In the order they stand at first: top to bottom, left to right.
    return {m_quickConnect, m_tree, m_list, m_transfers, m_tracePane, m_localBrowser};
}

void CMainFrame::SaveState()
{
    WindowPlacement::Save(*this);
    WriteProfileInt(settings::SortColumn, m_list->SortColumn());
    WriteProfileString(settings::ListColumnWidth, m_list->ColumnWidthsText());
    WriteProfileString(settings::ListHiddenColumns, m_list->HiddenColumnsText());
    m_toolbar->SaveState(QString::fromLatin1(settings::kToolbarName));
    WindowPlacement::SaveBars(*this, Panes());
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The running operation's steps are still on the stack: stop it, and
    // close once it has returned (the transfers are asked about then).
    if (m_session.IsBusy()) {
        m_closePending = true;
        m_session.Cancel();
        event->ignore();
        return;
    }
    if (!m_editCommands->ConfirmClose() || !m_transferCommands->ConfirmClose()) {
        event->ignore();
        return;
    }
    m_closePending = false;
    SaveState();
    QMainWindow::closeEvent(event);
}

void CMainFrame::UpdateTitle()
{
    QString title = QStringLiteral("Not Connected");
    if (m_session.HasConnection())
        title = m_session.Site().name.isEmpty() ? m_session.Site().address : m_session.Site().name;
    setWindowTitle(title + QStringLiteral(" - Kestrix"));
}

void CMainFrame::UpdateCommandUI()
{
    using namespace cmd;
    if (!m_transferCommands)
        return;
    const bool connected = m_session.HasConnection();
    // One operation at a time: while one runs, only Cancel acts on the
    // session; while a worker asks whether to replace a file, nothing does.
    const bool busy = m_session.IsBusy() || COpenTransferQuestions::Instance().Count() > 0;
    const bool selected = !m_list->SelectedRows().isEmpty();
    const auto enable = [this](int id, bool on) {
        if (QAction* action = Command(id))
            action->setEnabled(on);
    };
    enable(ID_CONNECT, !busy);
    enable(ID_ORGANIZE_FAVORITES, !busy);
    enable(ID_CONNECTION_WIZARD, !busy);
    enable(ID_ADD_TO_FAVORITES, connected && !busy);
    for (QAction* favorite : m_favorites->Menu()->actions().mid(3))
        favorite->setEnabled(!busy);
    enable(ID_DISCONNECT, connected && !busy);
    enable(ID_CANCEL, m_session.IsBusy());
    for (const int id : {ID_DOWNLOAD, ID_DOWNLOAD_TO, ID_RENAME, ID_DELETE, ID_PROPERTIES, ID_OPEN_EDIT, ID_PERMISSIONS})
        enable(id, connected && selected && !busy);
    for (const int id : {ID_UPLOAD, ID_UPLOAD_FOLDER, ID_UPLOAD_LOCAL_SELECTION, ID_NEW_FOLDER, ID_EXPLORE,
                         ID_REFRESH, ID_GO_TO_FOLDER, ID_SELECT_ALL, ID_INVERT_SELECTION, ID_CREATE_EMPTY_FILE})
        enable(id, connected && !busy);
    // Raw commands and ASCII transfers are FTP's: off, and saying why, while
    // the connection's protocol has none.
    const remote::Features features = m_session.Features();
    const auto ftpOnly = [this](int id, bool on, bool offered) {
        if (QAction* action = Command(id)) {
            action->setEnabled(on && offered);
            action->setToolTip(offered ? QString() : QStringLiteral("Only for FTP sites"));
        }
    };
    ftpOnly(ID_CUSTOM_COMMAND, connected && !busy, !connected || features.rawCommands);
    ftpOnly(ID_TRANSFER_ASCII, true, !connected || features.asciiTransfers);
    enable(ID_UP_ONE_LEVEL, connected && !busy && m_itemCommands->CanGoUp());
    enable(ID_COPY_URL, connected && !m_session.ListedPath().IsEmpty());
    m_statusBar->UpdateList();
    m_statusBar->UpdateLock();
    m_list->SetAcceptsFiles(!m_transferCommands->IsDragging() && connected && !busy && !m_session.ListedPath().IsEmpty());
    enable(ID_STORE_SITE_LOCAL_PATH, connected && !m_connectCommands->SitePath().isEmpty());
    if (m_compareCommands && m_syncCommands) {
        m_compareCommands->UpdateCommands(connected, busy);
        m_syncCommands->UpdateCommands(connected, busy);
    }
    m_quickConnect->ConnectButton()->setEnabled(!busy);
    if (QAction* style = Command(m_list->ViewStyle()))
        style->setChecked(true);
    const int sortIds[] = {ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_TYPE, ID_SORT_DATE};
    Command(sortIds[std::clamp(m_list->SortColumn(), 0, 3)])->setChecked(true);
    const int transferType = m_transferCommands->TransferType();
    Command(ID_TRANSFER_ASCII)->setChecked(transferType == settings::kTransferTypeAscii);
    Command(ID_TRANSFER_BINARY)->setChecked(transferType == settings::kTransferTypeBinary);
}

void CMainFrame::OpenBesideTheProgram(const QString& fileName)
{
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        Prompts().Message(this, QStringLiteral("No web browser could be started to show the page. It is here:\n%1").arg(path),
                          IPrompts::Icon::Warning);
}

void CMainFrame::OnAbout()
{
    CAboutDlg(QCoreApplication::applicationVersion(), this).exec();
}

void CMainFrame::OnOptions()
{
    COptionsSheet sheet(this);
    connect(&sheet, &COptionsSheet::Applied, this, &CMainFrame::OnOptionsConfirmed);
    if (sheet.exec() == QDialog::Accepted)
        OnOptionsConfirmed();
}

void CMainFrame::OnOptionsConfirmed()
{
    m_connectCommands->OnSettingsChanged();
    CTransferCommands::ApplySettings(*m_queue);
    m_queue->Schedule();
    m_session.EnableStatusTrace(GetProfileInt(settings::HideStatusCallbackInfoAfterOptions) == 0);
    RestartKeepAlive();
}

void CMainFrame::RestartKeepAlive()
{
    m_keepAlive.Restart(GetProfileInt(settings::KeepAlive) != 0, GetProfileInt(settings::Interval));
}
