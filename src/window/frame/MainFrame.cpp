#include "window/frame/MainFrame.h"

#include "window/frame/RemotePresenter.h"
#include "window/frame/TracePane.h"
#include "engine/base/FileStatus.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/base/WindowMessages.h"
#include "window/options/OptionsSheet.h"
#include "window/chrome/AboutDlg.h"
#include "window/chrome/CustomizableToolBar.h"
#include "window/transfers/ConfirmFileDlg.h"
#include "window/transfers/TransferManagerBar.h"
#include "window/resources/CommandIds.h"
#include "window/resources/Resources.h"
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"
#include "window/views/CustomCommandDlg.h"
#include "window/views/GeneralPage.h"
#include "window/views/GoToFolderDlg.h"
#include "window/views/HistoryComboBox.h"
#include "window/views/QuickConnectBar.h"
#include "window/sites/AddFavoritesDlg.h"
#include "window/sites/ConnectionWizard.h"
#include "window/sites/FavoritesMenu.h"
#include "engine/catalog/SiteCatalog.h"
#include "window/sites/SiteManagerDlg.h"
#include "window/local/LocalBrowserBar.h"
#include "window/local/RemoteDragOut.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDockWidget>
#include <QDrag>
#include <QMimeData>
#include <QStyle>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace {

using namespace kx;

// Show states as stored in "FrameStatus".
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
// Narrower than this a pane cannot show its toolbar and a column of names.
constexpr int kNarrowPane = 300;

FileStatus StatusOfLocal(const QFileInfo& info)
{
    FileStatus status;
    status.path = info.absoluteFilePath();
    status.size = info.isDir() ? 0 : quint64(info.size());
    status.modified = info.lastModified().toSecsSinceEpoch();
    status.accessed = info.lastRead().toSecsSinceEpoch();
    status.created = info.birthTime().isValid() ? info.birthTime().toSecsSinceEpoch() : status.modified;
    status.attribute = info.isDir() ? FileStatus::kFolder : 0;
    return status;
}

// A window saved on a larger screen keeps at least this much of itself inside.
constexpr int kVisibleCorner = 32;
constexpr int kTraceHeight = 180;

QDockWidget* MakeDock(QMainWindow* frame, const QString& title, const QString& objectName, QWidget* content)
{
    auto* dock = new QDockWidget(title, frame);
    dock->setObjectName(objectName);
    dock->setWidget(content);
    return dock;
}

QString SectionKey(const char* section)
{
    return QString::fromLatin1(section);
}

void SaveDockSizes(QDockWidget* dock, const char* section, Qt::DockWidgetArea area)
{
    const QSize size = dock->size();
    const bool horizontal = area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
    const char* cx = dock->isFloating() ? settings::kSizeFloatingCX : horizontal ? settings::kSizeHorzCX : settings::kSizeVertCX;
    const char* cy = dock->isFloating() ? settings::kSizeFloatingCY : horizontal ? settings::kSizeHorzCY : settings::kSizeVertCY;
    WriteProfileInt(SectionKey(section), QLatin1String(cx), size.width());
    WriteProfileInt(SectionKey(section), QLatin1String(cy), size.height());
}

int ReadPaneSize(const char* section, const char* key, int current)
{
    return std::max(settings::kMinimumPaneSize, GetProfileInt(SectionKey(section), QLatin1String(key), current));
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

    m_transferType = GetProfileInt(settings::TransferType);
    m_lastDir = GetProfileString(settings::LastDir);

    CreateBars();
    m_forceParallel = GetProfileInt(settings::ForceParallelTransfers);
    m_session.SetProxy(GetProfileInt(settings::ProxyType), GetProfileString(settings::ProxyName));
    m_session.SetSiteChooser([this](CFtpSite& chosen) { return ChooseSite(chosen); });
    RestoreBarStates();

    connect(&m_keepAlive, &QTimer::timeout, this, &CMainFrame::OnKeepAliveTick);

    CreateClientArea();
    UpdateTitle();
    UpdateCommandUI();
    StartKeepAlive();

    if (GetProfileInt(settings::ShowConnectionDlg))
        QMetaObject::invokeMethod(this, &CMainFrame::OnConnectCommand, Qt::QueuedConnection);
}

CMainFrame::~CMainFrame()
{
    // The session reports to the views while it closes; stop that first.
    m_session.SetEvents(nullptr);
}

QAction* CMainFrame::AddCommand(int id, const QString& text, void (CMainFrame::*handler)())
{
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    if (handler)
        connect(action, &QAction::triggered, this, handler);
    m_commands.insert(id, action);
    addAction(action);
    return action;
}

void CMainFrame::CreateCommands()
{
    using namespace cmd;
    AddCommand(ID_CONNECT, QStringLiteral("&Connect...\tCtrl+C"), &CMainFrame::OnConnectCommand);
    AddCommand(ID_DISCONNECT, QStringLiteral("&Disconnect\tCtrl+D"), &CMainFrame::OnDisconnect);
    // Every letter of the File menu is a mnemonic of one item only.
    AddCommand(ID_CANCEL, QStringLiteral("C&ancel\tEsc"), &CMainFrame::OnCancel);
    AddCommand(ID_CONNECTION_WIZARD, QStringLiteral("Connection &Wizard..."), &CMainFrame::OnConnectionWizard);
    AddCommand(ID_DOWNLOAD, QStringLiteral("Dow&nload"), &CMainFrame::OnDownload);
    AddCommand(ID_DOWNLOAD_TO, QStringLiteral("Download &to..."), &CMainFrame::OnDownloadTo);
    AddCommand(ID_UPLOAD, QStringLiteral("&Upload..."), &CMainFrame::OnUpload);
    AddCommand(ID_NEW_FOLDER, QStringLiteral("N&ew Folder"), &CMainFrame::OnNewFolder);
    AddCommand(ID_RENAME, QStringLiteral("&Rename\tF2"), &CMainFrame::OnRename);
    AddCommand(ID_DELETE, QStringLiteral("De&lete\tDel"), &CMainFrame::OnDelete);
    AddCommand(ID_EXPLORE, QStringLiteral("&Explore\tEnter"), &CMainFrame::OnExplore);
    AddCommand(ID_CUSTOM_COMMAND, QStringLiteral("&Custom Command..."), &CMainFrame::OnCustomCommand);
    AddCommand(ID_UP_ONE_LEVEL, QStringLiteral("Go &Up One Level\tBackspace"), &CMainFrame::OnUpOneLevel);
    AddCommand(ID_REFRESH, QStringLiteral("&Refresh\tF5"), &CMainFrame::OnRefresh);
    AddCommand(ID_GO_TO_FOLDER, QStringLiteral("&Go To Folder..."), &CMainFrame::OnGoToFolder);
    AddCommand(ID_SELECT_ALL, QStringLiteral("Select &All\tCtrl+A"), &CMainFrame::OnSelectAll);
    AddCommand(ID_INVERT_SELECTION, QStringLiteral("In&vert Selection"), &CMainFrame::OnInvertSelection);
    AddCommand(ID_PROPERTIES, QStringLiteral("&Properties"), &CMainFrame::OnProperties);

    auto* styles = new QActionGroup(this);
    for (const auto& [id, text] : {std::pair{ID_VIEW_SMALLICON, "S&mall Icons"}, {ID_VIEW_LARGEICON, "Lar&ge Icons"},
                                   {ID_VIEW_LIST, "&List"}, {ID_VIEW_DETAILS, "&Details"}}) {
        QAction* action = AddCommand(id, QString::fromLatin1(text));
        action->setCheckable(true);
        styles->addAction(action);
        connect(action, &QAction::triggered, this, [this, id = id] { ApplyViewStyle(id); });
    }
    auto* sorts = new QActionGroup(this);
    const std::pair<int, const char*> sortKeys[] = {
        {ID_SORT_NAME, "&Name"}, {ID_SORT_SIZE, "&Size"}, {ID_SORT_TYPE, "&Type"}, {ID_SORT_DATE, "&Date"}};
    for (int column = 0; column < 4; ++column) {
        QAction* action = AddCommand(sortKeys[column].first, QString::fromLatin1(sortKeys[column].second));
        action->setCheckable(true);
        sorts->addAction(action);
        connect(action, &QAction::triggered, this, [this, column] { SortBy(column); });
    }

    AddCommand(ID_ADD_TO_FAVORITES, QStringLiteral("&Add to Favorites...\tCtrl+F"), &CMainFrame::OnAddToFavorites);
    AddCommand(ID_ORGANIZE_FAVORITES, QStringLiteral("&Organize Favorites...\tCtrl+E"), &CMainFrame::OnConnectCommand);
    auto* modes = new QActionGroup(this);
    for (QAction* mode : {AddCommand(ID_TRANSFER_ASCII, QStringLiteral("&Ascii"), &CMainFrame::OnTransferAscii),
                          AddCommand(ID_TRANSFER_BINARY, QStringLiteral("&Binary"), &CMainFrame::OnTransferBinary)}) {
        mode->setCheckable(true);
        modes->addAction(mode);
    }
    AddCommand(ID_OPTIONS, QStringLiteral("&Options..."), &CMainFrame::OnOptions);
    AddCommand(ID_GO_SITE_DOWNLOAD_FOLDER, QStringLiteral("Go to site's download folder"),
               &CMainFrame::OnGoSiteDownloadFolder);
    AddCommand(ID_GO_DEFAULT_DOWNLOAD_FOLDER, QStringLiteral("Go to default download folder"),
               &CMainFrame::OnGoDefaultDownloadFolder);
    AddCommand(ID_STORE_SITE_LOCAL_PATH, QStringLiteral("Store as the site's download folder"),
               &CMainFrame::OnStoreSiteLocalPath);
    AddCommand(ID_VIEWS_DROPDOWN, QStringLiteral("Views"));
    AddCommand(ID_APP_EXIT, QStringLiteral("E&xit"), nullptr);
    connect(Command(ID_APP_EXIT), &QAction::triggered, this, &QWidget::close);
    AddCommand(ID_APP_ABOUT, QStringLiteral("&About Kestrix..."), &CMainFrame::OnAbout);
    AddCommand(ID_HELP_FINDER, QStringLiteral("&Help Topics\tF1"), &CMainFrame::OnHelpTopics);
    AddCommand(ID_WEB_SITE, QStringLiteral("&Kestrix Web Site"), &CMainFrame::OnWebSite);

    // The keys that work in the whole window. Keys that also edit text
    // (Backspace, Del, Enter, F2, Ctrl+A) act only while the remote views
    // have the focus: a typing user must keep them for the text.
    Command(ID_CANCEL)->setShortcut(QKeySequence(Qt::Key_Escape));
    // A text field that has the focus keeps Ctrl+C for copying.
    Command(ID_CONNECT)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    Command(ID_DISCONNECT)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    Command(ID_HELP_FINDER)->setShortcut(QKeySequence(Qt::Key_F1));
    Command(ID_REFRESH)->setShortcut(QKeySequence(Qt::Key_F5));
    Command(ID_ORGANIZE_FAVORITES)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    Command(ID_ADD_TO_FAVORITES)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
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
    fill(file, {ID_CONNECT, ID_DISCONNECT, ID_CANCEL, 0, ID_CONNECTION_WIZARD, 0, ID_DOWNLOAD, ID_DOWNLOAD_TO,
                ID_UPLOAD, 0, ID_NEW_FOLDER, ID_RENAME, ID_DELETE, ID_PROPERTIES, 0, ID_APP_EXIT});
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    fill(edit, {ID_SELECT_ALL, ID_INVERT_SELECTION});
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QMenu* bars = view->addMenu(QStringLiteral("&Toolbars"));
    bars->setObjectName(QStringLiteral("barsMenu"));
    view->addSeparator();
    fill(view, {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS});
    QMenu* arrange = view->addMenu(QStringLiteral("Arrange &Icons by"));
    fill(arrange, {ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_TYPE, ID_SORT_DATE});
    view->addSeparator();
    fill(view, {ID_EXPLORE, ID_UP_ONE_LEVEL, ID_GO_TO_FOLDER, ID_REFRESH});
    QMenu* favorites = menuBar()->addMenu(QStringLiteral("F&avorites"));
    fill(favorites, {ID_ADD_TO_FAVORITES, ID_ORGANIZE_FAVORITES, 0});
    m_favorites = new CFavoritesMenu(favorites, 3, this);
    connect(m_favorites, &CFavoritesMenu::SiteChosen, this, [this](const QString& sitePath) {
        if (!m_session.IsBusy())
            Connect(&sitePath, QString(), QString());
    });
    RebuildFavorites();
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    fill(tools, {ID_CUSTOM_COMMAND, 0, ID_TRANSFER_ASCII, ID_TRANSFER_BINARY, 0, ID_GO_SITE_DOWNLOAD_FOLDER,
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
    QStyle* s = style();
    const std::pair<int, QStyle::StandardPixmap> buttons[] = {
        {ID_CONNECT, QStyle::SP_DriveNetIcon},      {ID_DISCONNECT, QStyle::SP_DialogCloseButton},
        {ID_CANCEL, QStyle::SP_BrowserStop},        {0, QStyle::SP_CustomBase},
        {ID_UP_ONE_LEVEL, QStyle::SP_FileDialogToParent}, {ID_GO_TO_FOLDER, QStyle::SP_DirOpenIcon},
        {ID_REFRESH, QStyle::SP_BrowserReload},     {0, QStyle::SP_CustomBase},
        {ID_DOWNLOAD, QStyle::SP_ArrowDown},        {ID_UPLOAD, QStyle::SP_ArrowUp},
        {0, QStyle::SP_CustomBase},                 {ID_DELETE, QStyle::SP_TrashIcon},
        {ID_PROPERTIES, QStyle::SP_FileDialogInfoView}, {0, QStyle::SP_CustomBase},
        {ID_VIEWS_DROPDOWN, QStyle::SP_FileDialogListView},
    };
    QList<int> ids;
    for (const auto& [id, pixmap] : buttons) {
        ids << id;
        if (id != 0)
            Command(id)->setIcon(s->standardIcon(pixmap, nullptr, this));
    }
    // The Views button drops down the four view styles.
    auto* views = new QMenu(this);
    for (const int id : {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS})
        views->addAction(Command(id));
    Command(ID_VIEWS_DROPDOWN)->setMenu(views);
    connect(m_toolbar, &CCustomizableToolBar::ButtonsChanged, this, [this] {
        if (auto* button = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(Command(cmd::ID_VIEWS_DROPDOWN))))
            button->setPopupMode(QToolButton::InstantPopup);
    });
    m_toolbar->LoadToolBar(ids, [this](int id) { return Command(id); });
    m_toolbar->LoadState(QString::fromLatin1(settings::kToolbarName));
}

void CMainFrame::CreateBars()
{
    m_transfers = new CTransferManagerBar(this);
    m_transfers->SetFrame(this);
    m_transfers->SetParallelLimit(GetProfileInt(settings::TransferMax));
    m_transfers->SetConnectionTimeout(GetProfileInt(settings::ConnectionTimeout));
    m_transfers->SetRemoveFailed(GetProfileInt(settings::RemoveFailed) != 0);
    m_transfers->SetProxy(GetProfileInt(settings::ProxyType), GetProfileString(settings::ProxyName));
    connect(m_transfers, &CTransferManagerBar::ActivityChanged, this, &CMainFrame::UpdateTransferStatus);
    m_listStatus = new QLabel(this);
    m_listStatus->setObjectName(QStringLiteral("listStatus"));
    statusBar()->addWidget(m_listStatus);
    m_transferStatus = new QLabel(this);
    m_transferStatus->setObjectName(QStringLiteral("transferStatus"));
    statusBar()->addPermanentWidget(m_transferStatus);
    m_lock = new QLabel(this);
    m_lock->setObjectName(QStringLiteral("encryptionLock"));
    m_lock->setPixmap(kx::LockIcon().pixmap(16));
    m_lock->setToolTip(QStringLiteral("The connection is encrypted (TLS)."));
    m_lock->setAccessibleName(QStringLiteral("Encrypted connection"));
    m_lock->hide();
    statusBar()->addPermanentWidget(m_lock);
    m_transferDock = MakeDock(this, QStringLiteral("Transfer Manager"), QString::fromLatin1(settings::kTransferManagerSection), m_transfers);
    addDockWidget(Qt::BottomDockWidgetArea, m_transferDock);
    m_transferDock->hide();

    m_quickConnect = new CQuickConnectBar(this);
    m_quickConnectDock = MakeDock(this, QStringLiteral("Quick Connect"), QStringLiteral("QuickConnect"), m_quickConnect);
    m_quickConnectDock->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    addDockWidget(Qt::TopDockWidgetArea, m_quickConnectDock);
    m_quickConnectDock->hide();
    connect(m_quickConnect, &CQuickConnectBar::ConnectRequested, this, &CMainFrame::OnQuickConnect);

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
    const std::pair<int, QDockWidget*> toggles[] = {{ID_VIEW_QUICK_CONNECT, m_quickConnectDock},
                                                    {ID_VIEW_TRANSFER_MANAGER, m_transferDock},
                                                    {ID_VIEW_LOCAL_BROWSER, m_localBrowserDock},
                                                    {ID_VIEW_TRACE, m_traceDock}};
    const char* texts[] = {"&Quick Connect", "Trans&fer Manager", "Local &Browser", "Tra&ce"};
    QMenu* bars = menuBar()->findChild<QMenu*>(QStringLiteral("barsMenu"));
    int i = 0;
    for (const auto& [id, dock] : toggles) {
        QAction* toggle = dock->toggleViewAction();
        toggle->setText(QString::fromLatin1(texts[i++]));
        toggle->setData(id);
        m_commands.insert(id, toggle);
        bars->addAction(toggle);
    }
    QAction* toolbarToggle = m_toolbar->toggleViewAction();
    toolbarToggle->setText(QStringLiteral("&Toolbar"));
    m_commands.insert(ID_VIEW_TOOLBAR, toolbarToggle);
    bars->insertAction(bars->actions().value(0), toolbarToggle);
    auto* statusToggle = AddCommand(ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    connect(statusToggle, &QAction::toggled, statusBar(), &QWidget::setVisible);
    bars->insertAction(bars->actions().value(1), statusToggle);
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
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CMainFrame::OnTreeSelectionChanged);
    m_presenter = new CRemotePresenter(m_session, *m_tree, *m_list, *m_tracePane, this);
    connect(m_presenter, &CRemotePresenter::BusyChanged, this, &CMainFrame::OnBusyChanged);
    connect(m_presenter, &CRemotePresenter::ConnectionChanged, this, &CMainFrame::OnConnectionChanged);
    connect(m_presenter, &CRemotePresenter::ListingEnded, this, [this](const RemotePath& folder, bool complete) {
        if (complete)
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(QStringLiteral("The list of \"%1\" is incomplete.").arg(folder.ToString()));
    });
    m_session.SetEvents(m_presenter);
    connect(m_list, &CFtpListView::ItemActivated, this, [this] { OnExplore(); });
    connect(m_list, &CFtpListView::FilesDropped, this, &CMainFrame::Upload);
    connect(m_list, &CFtpListView::DragRequested, this, &CMainFrame::DragSelectionOut);
    connect(m_localBrowser, &CLocalBrowserBar::RemoteRowsDropped, this, &CMainFrame::OnRemoteRowsDropped);
    m_localBrowser->SetContextActions({Command(cmd::ID_GO_SITE_DOWNLOAD_FOLDER),
                                       Command(cmd::ID_GO_DEFAULT_DOWNLOAD_FOLDER),
                                       Command(cmd::ID_STORE_SITE_LOCAL_PATH)});
    connect(m_list, &CFtpListView::EditingStarted, this, &CMainFrame::OnEditingStarted);
    connect(m_list, &CFtpListView::EditingFinished, this, &CMainFrame::OnEditingFinished);

    // Keys that also edit text act only while the remote views have the focus.
    using namespace cmd;
    const std::pair<int, QKeySequence> viewKeys[] = {
        {ID_UP_ONE_LEVEL, QKeySequence(Qt::Key_Backspace)}, {ID_DELETE, QKeySequence(QKeySequence::Delete)},
        {ID_EXPLORE, QKeySequence(Qt::Key_Return)},         {ID_RENAME, QKeySequence(Qt::Key_F2)},
        {ID_SELECT_ALL, QKeySequence(Qt::CTRL | Qt::Key_A)}};
    for (const auto& [id, key] : viewKeys) {
        QAction* action = Command(id);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        // Held by the window as well, the key would act wherever the focus
        // is inside it: Enter in the Quick Connect bar, F2 in a field.
        removeAction(action);
        m_splitter->addAction(action);
    }

    m_list->SortByColumn(std::clamp(GetProfileInt(settings::SortColumn), 0, 3));
    m_list->RestoreColumnWidths(GetProfileString(settings::ListColumnWidth));
    const int style = GetProfileInt(settings::ViewStyle);
    m_list->SetViewStyle((style >= settings::kViewSmallIcons && style <= settings::kViewDetails) ? style
                                                                                                : settings::kViewLargeIcons);
    m_presenter->OnDisconnected();
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

// Only the user's own clicks arrive here: the presenter moves the selection
// without announcing it.
void CMainFrame::OnTreeSelectionChanged(QTreeWidgetItem* current)
{
    if (!current)
        return;
    // Refused while busy, or the folder would not open: the tree goes back
    // to the folder the list shows.
    if (!m_session.ListFolder(m_presenter->PathOfNode(current), false))
        m_presenter->ShowListedFolderInTree();
    StartKeepAlive();
}

void CMainFrame::OnBusyChanged(bool busy)
{
    UpdateCommandUI();
    if (!busy && m_closePending)
        QTimer::singleShot(0, this, &QWidget::close);
}

void CMainFrame::OnConnectionChanged()
{
    UpdateTitle();
    UpdateCommandUI();
}

Qt::WindowStates CMainFrame::RestorePlacement()
{
    if (!GetProfileInt(settings::SavePosition))
        return Qt::WindowNoState;
    const int status = GetProfileInt(settings::FrameStatus);
    const int top = GetProfileInt(settings::FrameTop);
    const int left = GetProfileInt(settings::FrameLeft);
    const int bottom = GetProfileInt(settings::FrameBottom);
    const int right = GetProfileInt(settings::FrameRight);
    if (status == -1 || top == -1 || left == -1 || bottom == -1 || right == -1)
        return Qt::WindowNoState;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || right <= left || bottom <= top)
        return Qt::WindowNoState;
    const QRect work = screen->availableGeometry();
    const QRect whole = screen->geometry();
    const int width = std::min(right - left, whole.width());
    const int height = std::min(bottom - top, whole.height());
    const int x = std::min(left + work.left(), whole.width() - kVisibleCorner);
    const int y = std::min(top + work.top(), whole.height() - kVisibleCorner);
    setGeometry(x, y, width, height);
    if (status == kShowMaximized)
        return Qt::WindowMaximized;
    if (status == kShowMinimized)
        return Qt::WindowMinimized;
    return Qt::WindowNoState;
}

void CMainFrame::RestoreBarStates()
{
    const QString state = GetProfileString(QString::fromLatin1(settings::kQuickConnectStateSection), QStringLiteral("DockState"));
    if (!state.isEmpty())
        restoreState(QByteArray::fromBase64(state.toLatin1()));
    // The panes' own sizes are the ones the user left them at; applied over
    // Qt's state, so what was written is what comes back (and a first start
    // gets a Trace pane tall enough to follow a connection). Dock sizes only
    // take once the window is laid out.
    QMetaObject::invokeMethod(this, &CMainFrame::ApplyPaneSizes, Qt::QueuedConnection);
}

void CMainFrame::ApplyPaneSizes()
{
    const std::pair<QDockWidget*, const char*> panes[] = {
        {m_transferDock, settings::kTransferManagerSection},
        {m_traceDock, settings::kTraceSection},
        {m_localBrowserDock, settings::kFileBrowserSection}};
    for (const auto& [dock, section] : panes) {
        if (dock->isFloating()) {
            dock->resize(ReadPaneSize(section, settings::kSizeFloatingCX, dock->width()),
                         ReadPaneSize(section, settings::kSizeFloatingCY, dock->height()));
            continue;
        }
        if (!dock->isVisible())
            continue;
        const Qt::DockWidgetArea area = dockWidgetArea(dock);
        if (area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea) {
            const int fallback = dock == m_traceDock ? kTraceHeight : dock->height();
            resizeDocks({dock}, {ReadPaneSize(section, settings::kSizeHorzCY, fallback)}, Qt::Vertical);
        } else {
            resizeDocks({dock}, {ReadPaneSize(section, settings::kSizeVertCX, dock->width())}, Qt::Horizontal);
        }
    }
}

void CMainFrame::SaveState()
{
    if (GetProfileInt(settings::SavePosition)) {
        const QRect work = screen() ? screen()->availableGeometry() : QRect();
        const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
        const int status = isMaximized() ? kShowMaximized : isMinimized() ? kShowMinimized : kShowNormal;
        WriteProfileInt(settings::FrameStatus, status);
        WriteProfileInt(settings::FrameTop, normal.top() - work.top());
        WriteProfileInt(settings::FrameLeft, normal.left() - work.left());
        WriteProfileInt(settings::FrameBottom, normal.bottom() + 1 - work.top());
        WriteProfileInt(settings::FrameRight, normal.right() + 1 - work.left());
    }
    WriteProfileString(settings::LastDir, m_lastDir);
    WriteProfileInt(settings::SortColumn, m_list->SortColumn());
    WriteProfileString(settings::ListColumnWidth, m_list->ColumnWidthsText());

    m_toolbar->SaveState(QString::fromLatin1(settings::kToolbarName));
    SaveDockSizes(m_transferDock, settings::kTransferManagerSection, dockWidgetArea(m_transferDock));
    SaveDockSizes(m_traceDock, settings::kTraceSection, dockWidgetArea(m_traceDock));
    SaveDockSizes(m_localBrowserDock, settings::kFileBrowserSection, dockWidgetArea(m_localBrowserDock));
    WriteProfileString(QString::fromLatin1(settings::kQuickConnectStateSection), QStringLiteral("DockState"),
                       QString::fromLatin1(saveState().toBase64()));
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The running operation's steps are still on the stack: stop it, and
    // close once it has returned.
    if (m_session.IsBusy()) {
        m_closePending = true;
        m_session.Cancel();
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
    if (!m_list)
        return;
    const bool connected = m_session.HasConnection();
    // One operation at a time: while one runs, only Cancel acts on the session.
    const bool busy = m_session.IsBusy();
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
    enable(ID_CANCEL, busy);
    for (const int id : {ID_DOWNLOAD, ID_DOWNLOAD_TO, ID_RENAME, ID_DELETE, ID_PROPERTIES})
        enable(id, connected && selected && !busy);
    for (const int id : {ID_UPLOAD, ID_NEW_FOLDER, ID_EXPLORE, ID_CUSTOM_COMMAND, ID_REFRESH, ID_GO_TO_FOLDER,
                         ID_SELECT_ALL, ID_INVERT_SELECTION})
        enable(id, connected && !busy);
    enable(ID_UP_ONE_LEVEL, connected && !busy && CanGoUp());
    UpdateListStatus();
    m_list->SetAcceptsFiles(!m_drag && connected && !busy && !m_session.ListedPath().IsEmpty());
    enable(ID_STORE_SITE_LOCAL_PATH, connected && !m_sitePath.isEmpty());
    m_lock->setVisible(m_session.IsEncrypted());
    m_quickConnect->ConnectButton()->setEnabled(!busy);
    if (QAction* style = Command(m_list->ViewStyle()))
        style->setChecked(true);
    const int sortIds[] = {ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_TYPE, ID_SORT_DATE};
    Command(sortIds[std::clamp(m_list->SortColumn(), 0, 3)])->setChecked(true);
    Command(ID_TRANSFER_ASCII)->setChecked(m_transferType == settings::kTransferTypeAscii);
    Command(ID_TRANSFER_BINARY)->setChecked(m_transferType == settings::kTransferTypeBinary);
}

bool CMainFrame::Connect(const QString* siteOrAddress, const QString& user, const QString& password)
{
    m_pendingSitePath = siteOrAddress ? *siteOrAddress : QString();
    const bool connected = m_session.Connect(siteOrAddress, user, password);
    // The Site Manager may have changed the catalogue, whatever came of it.
    RebuildFavorites();
    m_sitePath = connected && !m_session.SiteRecord().name.isEmpty() ? m_pendingSitePath : QString();
    if (connected)
        OnGoSiteDownloadFolder();
    if (connected) {
        m_documentTitle = m_session.Site().name.isEmpty() ? m_session.Site().address : m_session.Site().name;
        m_session.OpenPath(nullptr, false);
        StartKeepAlive();
    }
    UpdateTitle();
    UpdateCommandUI();
    return connected;
}

void CMainFrame::OnConnectCommand()
{
    Connect(nullptr, QString(), QString());
}

bool CMainFrame::ChooseSite(CFtpSite& chosen)
{
    CSiteManagerDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    chosen = dialog.Site();
    m_pendingSitePath = dialog.SitePath();
    return true;
}

void CMainFrame::RebuildFavorites()
{
    m_favorites->Rebuild(CSiteCatalog::DefaultPath());
    UpdateCommandUI();
}

void CMainFrame::OnConnectionWizard()
{
    if (m_session.IsBusy())
        return;
    QString sitePath;
    bool connectNow = false;
    const bool stored = RunConnectionWizard(this, sitePath, connectNow);
    RebuildFavorites();
    if (stored && connectNow)
        Connect(&sitePath, QString(), QString());
}

void CMainFrame::OnAddToFavorites()
{
    if (!m_session.HasConnection() || m_session.IsBusy())
        return;
    CFtpSite site = m_session.SiteRecord();
    const QString remote = m_session.ListedPath().IsEmpty() ? site.remotePath : m_session.ListedPath().ToString();
    // The proposed name must obey the catalogue's name rules, in which "/"
    // has no place: "/pub/sub" is proposed as "[pub-sub]", the root as nothing.
    QString folder = remote;
    while (folder.startsWith(QLatin1Char('/')))
        folder.remove(0, 1);
    folder.replace(QLatin1Char('/'), QLatin1Char('-'));
    site.name = CSiteCatalog::WithoutForbiddenCharacters(site.name.isEmpty() ? site.address : site.name);
    if (!folder.isEmpty())
        site.name += QStringLiteral(" [%1]").arg(CSiteCatalog::WithoutForbiddenCharacters(folder));
    site.remotePath = remote;
    if (const QString local = m_localBrowser->GetCurrentFolderPath(); !local.isEmpty())
        site.localPath = local;
    CAddFavoritesDlg::AddSite(this, site);
    RebuildFavorites();
}

void CMainFrame::OnDisconnect()
{
    m_session.Close();
    m_documentTitle = QStringLiteral("Not Connected");
    UpdateTitle();
    UpdateCommandUI();
}

void CMainFrame::OnCancel()
{
    m_session.Cancel();
    UpdateCommandUI();
}

void CMainFrame::OnRefresh()
{
    m_session.ListFolder(m_session.ListedPath(), true);
    StartKeepAlive();
}

void CMainFrame::OnQuickConnect()
{
    const QString host = m_quickConnect->Host();
    if (host.isEmpty() || m_session.IsBusy())
        return;
    if (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) {
        m_quickConnect->HostHistory()->ClearHistory();
        m_quickConnect->ClearCredentials();
        return;
    }
    const QString entry = m_quickConnect->HistoryEntry();
    m_quickConnect->HostHistory()->AddToHistory(&entry);
    Connect(&host, m_quickConnect->User(), m_quickConnect->Password());
}

void CMainFrame::OnTransferAscii()
{
    m_transferType = settings::kTransferTypeAscii;
    WriteProfileInt(settings::TransferType, m_transferType);
    UpdateCommandUI();
}

void CMainFrame::OnTransferBinary()
{
    m_transferType = settings::kTransferTypeBinary;
    WriteProfileInt(settings::TransferType, m_transferType);
    UpdateCommandUI();
}

void CMainFrame::OpenBesideTheProgram(const QString& fileName)
{
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        Prompts().Message(this, QStringLiteral("No web browser could be started to show the page. It is here:\n%1").arg(path),
                          IPrompts::Icon::Warning);
}

void CMainFrame::OnHelpTopics()
{
    OpenBesideTheProgram(QStringLiteral("kestrix.html"));
}

void CMainFrame::OnWebSite()
{
    OpenBesideTheProgram(QStringLiteral("website.htm"));
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
    m_session.SetProxy(GetProfileInt(settings::ProxyType), GetProfileString(settings::ProxyName));
    m_transfers->SetParallelLimit(GetProfileInt(settings::TransferMax));
    m_transfers->SetConnectionTimeout(GetProfileInt(settings::ConnectionTimeout));
    m_transfers->SetRemoveFailed(GetProfileInt(settings::RemoveFailed) != 0);
    m_transfers->SetProxy(GetProfileInt(settings::ProxyType), GetProfileString(settings::ProxyName));
    m_transfers->StartQueued();
    m_session.EnableStatusTrace(GetProfileInt(settings::HideStatusCallbackInfoAfterOptions) == 0);
    m_forceParallel = GetProfileInt(settings::ForceParallelTransfers);
    // Stopped first, so switching keep-alive off takes effect at once.
    m_keepAlive.stop();
    StartKeepAlive();
}

void CMainFrame::StartKeepAlive()
{
    if (GetProfileInt(settings::KeepAlive))
        m_keepAlive.start(std::max(1, GetProfileInt(settings::Interval)) * 1000);
}

void CMainFrame::OnKeepAliveTick()
{
    if (m_session.HasConnection() && !m_session.IsBusy())
        m_session.SendKeepAlive();
}

void CMainFrame::OnExplore()
{
    const int row = m_list->FirstSelectedRow();
    if (row < 0 || m_session.IsBusy())
        return;
    if (!m_list->IsFolderItem(row)) {
        Download();
        return;
    }
    const QString name = m_list->ItemName(row);
    m_session.Trace(TRACE_COMMAND, QStringLiteral("Changing Folder: \"%1\"").arg(name));
    m_session.ListFolder(m_session.ListedPath().Child(name), false);
    StartKeepAlive();
}

bool CMainFrame::CanGoUp() const
{
    // The home folder is the top of the tree; a folder outside it (reached
    // with Go To Folder) goes up towards the server's root.
    const RemotePath& listed = m_session.ListedPath();
    return !listed.IsEmpty() && listed != m_session.HomeFolder() && !listed.IsRoot();
}

void CMainFrame::UpdateListStatus()
{
    if (!m_session.HasConnection() || m_session.ListedPath().IsEmpty()) {
        m_listStatus->setText(QStringLiteral("Ready"));
        return;
    }
    const QList<int> selected = m_list->SelectedRows();
    quint64 bytes = 0;
    for (const int row : selected)
        bytes += m_list->IsFolderItem(row) ? 0 : m_list->GetItemSize(row);
    const int rows = m_list->RowCount();
    QString text = rows == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(FormatThousands(quint64(rows)));
    if (!selected.isEmpty())
        text += QStringLiteral(", %1 selected (%2)").arg(FormatThousands(quint64(selected.size())), FormatSizeKB(bytes));
    m_listStatus->setText(text);
}

void CMainFrame::OnUpOneLevel()
{
    const RemotePath listed = m_session.ListedPath();
    if (!CanGoUp())
        return;
    m_session.ListFolder(listed.Parent(), false);
    StartKeepAlive();
}

void CMainFrame::OnDelete()
{
    const QList<int> rows = m_list->SelectedRows();
    if (rows.isEmpty())
        return;
    if (GetProfileInt(settings::DeleteConfirmation)) {
        QString question;
        QString caption;
        if (rows.size() > 1) {
            question = QStringLiteral("Are you sure you want to delete these %1 items?").arg(rows.size());
            caption = QStringLiteral("Confirm Multiple File Delete");
        } else if (m_list->IsFolderItem(rows.first())) {
            question = QStringLiteral("Are you sure you want to remove the folder '%1' and all its contents?")
                           .arg(m_list->ItemName(rows.first()));
            caption = QStringLiteral("Confirm Folder Delete");
        } else {
            question = QStringLiteral("Are you sure you want to delete '%1'?").arg(m_list->ItemName(rows.first()));
            caption = QStringLiteral("Confirm File Delete");
        }
        if (Prompts().AskYesNo(this, question, caption) != IPrompts::Yes)
            return;
    }
    // Named now, in the folder on screen now: whatever the views do while the
    // delete runs cannot change what it deletes.
    const RemotePath folder = m_session.ListedPath();
    QList<RemoteItem> items;
    for (const int row : rows)
        items.append({folder.Child(m_list->ItemName(row)), m_list->IsFolderItem(row)});
    m_session.DeleteItems(items);
    StartKeepAlive();
    UpdateCommandUI();
}

void CMainFrame::OnRename()
{
    const int row = m_list->FirstSelectedRow();
    if (!m_session.HasConnection() || row < 0)
        return;
    m_oldName = m_list->ItemName(row);
    m_editFolder = m_session.ListedPath();
    m_list->FocusList();
    m_list->EditItem(row);
}

void CMainFrame::OnNewFolder()
{
    FileStatus placeholder;
    placeholder.path = QStringLiteral("redloF weN");
    placeholder.attribute = FileStatus::kFolder;
    const int row = m_list->AddOrUpdateEntry(0, placeholder);
    if (row < 0)
        return;
    m_list->SelectItem(row);
    m_list->FocusList();
    m_newFolderPending = true;
    m_editFolder = m_session.ListedPath();
    m_list->EditItem(row);
    if (QLineEdit* editor = m_list->Editor()) {
        editor->setText(QStringLiteral("New Folder"));
        editor->selectAll();
    }
}

void CMainFrame::OnEditingStarted(int row)
{
    if (!m_newFolderPending) {
        m_oldName = m_list->ItemName(row);
        m_editFolder = m_session.ListedPath();
    }
}

bool CMainFrame::CheckTypedName(const QString& name)
{
    if (RemotePath::IsValidName(name))
        return true;
    // Said before anything goes to the server: "../x" or "a/b" would make
    // the folder somewhere else than the row claims.
    Prompts().Message(this,
                      QStringLiteral("\"%1\" cannot be used as a name. A name may not be \".\" or \"..\", "
                                     "nor hold \"/\" or a line break.").arg(name),
                      IPrompts::Icon::Warning);
    return false;
}

void CMainFrame::OnEditingFinished(int row, const QString& newText, bool accepted)
{
    const bool pending = m_newFolderPending;
    m_newFolderPending = false;
    const bool haveText = accepted && !newText.isEmpty();
    if (!haveText || !m_session.HasConnection() || !CheckTypedName(newText)) {
        if (pending && row >= 0)
            m_list->RemoveItem(row);
        return;
    }
    if (pending) {
        // The row takes its name first, so the new folder's notice finds it
        // rather than adding a second one.
        if (row >= 0)
            m_list->SetItemName(row, newText);
        if (!m_session.MakeFolder(m_editFolder.Child(newText)) && row >= 0)
            m_list->RemoveItem(row);
    } else {
        m_session.Rename(m_editFolder.Child(m_oldName), m_editFolder.Child(newText));
    }
    StartKeepAlive();
}

RemoteItemProperties CMainFrame::PropertiesOf(int row) const
{
    RemoteItemProperties item;
    item.folder = m_list->IsFolderItem(row);
    item.name = m_list->ItemName(row);
    item.sizeText = m_list->ItemText(row, 1);
    item.bytes = m_list->GetItemSize(row);
    item.type = m_list->ItemText(row, 2);
    item.date = m_list->ItemText(row, 3);
    item.location = m_session.ListedPath().Child(item.name).ToString();
    return item;
}

void CMainFrame::OnProperties()
{
    const int row = m_list->FirstSelectedRow();
    if (row < 0)
        return;
    CPropertiesSheet(PropertiesOf(row), this).exec();
}

void CMainFrame::OnGoToFolder()
{
    CGoToFolderDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        GoToFolder(dialog.Path());
}

void CMainFrame::GoToFolder(const QString& typed)
{
    if (typed.isEmpty())
        return;
    QString path = typed;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const RemotePath& listed = m_session.ListedPath();
    const RemotePath target = (listed.IsEmpty() ? m_session.HomeFolder() : listed).Resolve(path);
    if (m_session.ChangeFolder(target.ToString()))
        m_session.OpenPath(&target, true);
}

void CMainFrame::OnCustomCommand()
{
    CCustomCommandDlg dialog(this);
    if (dialog.exec() == QDialog::Accepted)
        m_session.SendCustomCommand(dialog.Command());
}

void CMainFrame::OnSelectAll()
{
    m_list->SelectAll();
}

void CMainFrame::OnInvertSelection()
{
    m_list->InvertSelection();
}

bool CMainFrame::event(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == WM_STATUS_TEXT) {
        // A worker's progress shares the number; it is the queue's, not a line.
        if (const auto* line = dynamic_cast<StatusTextEvent*>(event))
            m_tracePane->AddLine(TRACE_INFO, line->Text());
        return true;
    }
    if (type == WM_TRACE_LINE || type == WM_TRACE_LINE2) {
        const auto* line = static_cast<TraceLineEvent*>(event);
        m_tracePane->AddFormattedLine(line->Level(), line->Text());
        return true;
    }
    if (type == WM_REMOTE_ITEM_ADDED) {
        m_presenter->ShowStoredItem(static_cast<RemoteItemAddedEvent*>(event)->Item());
        return true;
    }
    return QMainWindow::event(event);
}

// ---------------------------------------------------------------- transfers

QString CMainFrame::DefaultDownloadFolder()
{
    QString folder = GetProfileString(settings::DefaultLocalPath);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    // A relative setting would land wherever the program happened to start.
    return QDir::cleanPath(QDir(QDir::homePath()).absoluteFilePath(folder));
}

bool CMainFrame::SeparateJobs() const
{
    return m_forceParallel != 0 || (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier);
}

TransferSite CMainFrame::SiteOfSession() const
{
    const CFtpSite& site = m_session.Site();
    return TransferSite{m_session.Server(), site.login, site.password, m_transferType,
                        site.retries, site.retryDelay, m_session.Port(), site.passive,
                        site.encryption, m_session.AcceptedCertificates()};
}

FileStatusList CMainFrame::SelectedEntries() const
{
    FileStatusList entries;
    for (const int row : m_list->SelectedRows()) {
        FileStatus entry;
        entry.path = m_list->ItemName(row);
        entry.size = m_list->GetItemSize(row);
        entry.created = entry.accessed = entry.modified = m_list->ItemModified(row);
        entry.attribute = m_list->IsFolderItem(row) ? FileStatus::kFolder : 0;
        entries << entry;
    }
    return entries;
}

void CMainFrame::Download(const QString& target)
{
    if (!m_session.HasConnection() || m_session.IsBusy())
        return;
    const FileStatusList entries = SelectedEntries();
    if (!entries.isEmpty())
        QueueDownload(entries, target, SiteOfSession(), m_session.ListedPath().ToString());
}

void CMainFrame::QueueDownload(const FileStatusList& entries, const QString& target, const TransferSite& site,
                               const QString& source)
{
    QString folder = target;
    if (folder.isEmpty())
        folder = m_localBrowser->GetCurrentFolderPath();
    if (folder.isEmpty())
        folder = DefaultDownloadFolder();
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (SeparateJobs()) {
        for (const FileStatus& entry : entries)
            m_transfers->AddDownload({entry}, folder, site, source);
    } else {
        m_transfers->AddDownload(entries, folder, site, source);
    }
    m_transferDock->show();
}

struct CMainFrame::PendingDrag {
    FileStatusList entries;
    TransferSite site;
    QString source;
    bool delivered = false;
};

void CMainFrame::DragSelectionOut()
{
    // Nothing leaves while the session is busy or a drag is already out.
    if (m_drag || !m_session.HasConnection() || m_session.IsBusy() || m_session.ListedPath().IsEmpty())
        return;
    PendingDrag drag{SelectedEntries(), SiteOfSession(), m_session.ListedPath().ToString()};
    if (drag.entries.isEmpty())
        return;
    m_drag = &drag;
    // The list never takes its own rows back as an upload.
    m_list->SetAcceptsFiles(false);
    CRemoteDragOut out({m_localBrowser->GetCurrentFolderPath()});
    QMimeData* data = out.MakeMimeData();
    Qt::DropAction action = Qt::IgnoreAction;
    if (m_runDrag) {
        action = m_runDrag(data);
        delete data;
    } else {
        auto* qdrag = new QDrag(m_list);
        qdrag->setMimeData(data);
        qdrag->setPixmap(QIcon::fromTheme(QStringLiteral("text-x-generic"),
                                          style()->standardIcon(QStyle::SP_FileIcon)).pixmap(32));
        action = qdrag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    }
    // A drop on the Local Browser has been delivered already; one that
    // another program took is found by its placeholder.
    if (!drag.delivered && (action == Qt::CopyAction || action == Qt::MoveAction)) {
        const QString folder = out.WaitForDrop();
        if (!folder.isEmpty())
            QueueDownload(drag.entries, folder, drag.site, drag.source);
    }
    m_drag = nullptr;
    UpdateCommandUI();
}

void CMainFrame::OnRemoteRowsDropped(const QString& folder)
{
    if (!m_drag || m_drag->delivered)
        return;
    m_drag->delivered = true;
    QueueDownload(m_drag->entries, folder, m_drag->site, m_drag->source);
}

void CMainFrame::OnGoSiteDownloadFolder()
{
    const QString local = m_session.HasConnection() ? m_session.SiteRecord().localPath : QString();
    if (local.isEmpty()) {
        OnGoDefaultDownloadFolder();
        return;
    }
    m_localBrowser->GoToPath(QDir::cleanPath(QDir(QDir::homePath()).absoluteFilePath(local)));
}

void CMainFrame::OnGoDefaultDownloadFolder()
{
    m_localBrowser->GoToPath(DefaultDownloadFolder());
}

void CMainFrame::OnStoreSiteLocalPath()
{
    const QString folder = m_localBrowser->GetCurrentFolderPath();
    if (m_sitePath.isEmpty() || folder.isEmpty() || !m_session.HasConnection())
        return;
    CFtpSite site = m_session.SiteRecord();
    site.localPath = folder;
    const qsizetype split = m_sitePath.lastIndexOf(QLatin1Char('\\'));
    const QString catalogueFolder = split < 0 ? QString() : m_sitePath.left(split);
    CSiteCatalog catalog;
    if (!catalog.SaveSite(site, split < 0 ? nullptr : &catalogueFolder)) {
        const QString problem = catalog.ProblemText();
        Prompts().Message(this, problem.isEmpty() ? QStringLiteral("The site could not be stored.") : problem,
                          IPrompts::Icon::Error);
    }
}

void CMainFrame::OnDownload()
{
    Download();
}

void CMainFrame::OnDownloadTo()
{
    const QList<int> rows = m_list->SelectedRows();
    if (rows.isEmpty())
        return;
    const QString start = m_lastDir.isEmpty() ? DefaultDownloadFolder() : m_lastDir;
    QString target;
    if (rows.size() == 1 && !m_list->IsFolderItem(rows.first())) {
        // One file: the name it gets here.
        target = QFileDialog::getSaveFileName(this, QStringLiteral("Download to"),
                                              start + QLatin1Char('/') + m_list->ItemName(rows.first()),
                                              QStringLiteral("All Files (*)"));
        if (target.isEmpty())
            return;
        m_lastDir = QFileInfo(target).absolutePath();
    } else {
        // Several entries, or a folder: the folder they go into.
        target = QFileDialog::getExistingDirectory(this, QStringLiteral("Download to"), start);
        if (target.isEmpty())
            return;
        m_lastDir = target;
    }
    Download(target);
}

void CMainFrame::OnUpload()
{
    const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Upload"), m_lastDir,
                                                            QStringLiteral("All Files (*)"));
    Upload(files);
}

void CMainFrame::Upload(const QStringList& localPaths)
{
    if (localPaths.isEmpty() || !m_session.HasConnection() || m_session.IsBusy() || m_session.ListedPath().IsEmpty())
        return;
    FileStatusList entries;
    for (const QString& path : localPaths) {
        const QFileInfo info(path);
        if (info.exists())
            entries << StatusOfLocal(info);
    }
    CDialogFileQuestions questions(this);
    if (!m_list->ConfirmUploads(entries, questions) || entries.isEmpty())
        return;
    const TransferSite site = SiteOfSession();
    const QString target = m_session.ListedPath().ToString();
    if (SeparateJobs()) {
        for (const FileStatus& entry : entries)
            m_transfers->AddUpload({entry}, site, target);
    } else {
        m_transfers->AddUpload(entries, site, target);
    }
    m_transferDock->show();
}

void CMainFrame::UpdateTransferStatus()
{
    const int running = m_transfers->RunningCount();
    const int queued = m_transfers->QueuedCount();
    if (running == 0 && queued == 0) {
        m_transferStatus->clear();
        return;
    }
    m_transferStatus->setText(QStringLiteral("Transfers: %1 running, %2 queued, %3 KB/s")
                                  .arg(running)
                                  .arg(queued)
                                  .arg(FormatThousands(quint64(m_transfers->TransferRate() / 1024.0 + 0.5))));
}
