#include "window/local/LocalBrowserBar.h"

#include "engine/base/Prompts.h"
#include "window/local/LocalDelegates.h"
#include "window/local/LocalFileModel.h"

#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileSystemWatcher>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using LocalDelegates::kIndentRole;

QString QuotedName(const QString& path)
{
    return QLatin1Char('\'') + CPlacesList::NameOf(path) + QLatin1Char('\'');
}

} // namespace

CLocalBrowserBar::CLocalBrowserBar(QWidget* parent)
    : QWidget(parent)
    , m_iconProvider(std::make_unique<QFileIconProvider>())
    , m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("localBrowser"));
    m_model = new CLocalFileModel(this);
    // The model's own provider knows only the icon theme, and there may be
    // none; this one falls back to the style's icons.
    m_model->setIconProvider(m_iconProvider.get());
    m_model->setRootPath(QStringLiteral("/"));
    connect(
        m_model, &CLocalFileModel::RenameRefused, this,
        [this](const QString& message) { Prompts().Message(this, message, IPrompts::Icon::Warning); },
        Qt::QueuedConnection);
    // The model notices files coming and going inside the folder shown, not
    // the folder itself going away.
    m_folderWatcher = new QFileSystemWatcher(this);
    connect(m_folderWatcher, &QFileSystemWatcher::directoryChanged, this, &CLocalBrowserBar::OnFolderChangedOnDisk,
            Qt::QueuedConnection);

    auto* label = new QLabel(QStringLiteral("Look &in:"), this);
    m_placesCombo = new QComboBox(this);
    m_placesCombo->setObjectName(QStringLiteral("lookIn"));
    m_placesCombo->setEditable(false);
    m_placesCombo->setItemDelegate(LocalDelegates::NewIndentDelegate(m_placesCombo));
    // Deep paths must not widen the whole pane.
    m_placesCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_placesCombo->setMinimumContentsLength(12);
    label->setBuddy(m_placesCombo);
    connect(m_placesCombo, &QComboBox::activated, this, &CLocalBrowserBar::OnPlaceChosen);

    BuildToolBar();
    BuildViews();

    auto* top = new QHBoxLayout;
    top->setContentsMargins(4, 2, 2, 2);
    top->setSpacing(4);
    top->addWidget(label);
    top->addWidget(m_placesCombo, 1);
    top->addWidget(m_toolBar);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(top);
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("localNote"));
    m_note->setMargin(3);
    m_note->hide();
    layout->addWidget(m_note);
    layout->addWidget(m_stack, 1);

    m_places.AddSystemPlaces();
    SetViewMode(ViewMode::Details);
    if (!BrowseTo(QDir::homePath(), false))
        BrowseTo(QStringLiteral("/"), false);
}

CLocalBrowserBar::~CLocalBrowserBar()
{
    // The model's reader thread asks the icon provider until the model is
    // gone, and the provider goes with the members, before the children.
    delete m_model;
}

void CLocalBrowserBar::BuildToolBar()
{
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("localBrowserTools"));
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setStyleSheet(QStringLiteral("QToolBar { border: none; background: transparent; }"));

    const auto addCommand = [this](QStyle::StandardPixmap pixmap, const QString& text, const QKeySequence& key,
                                   void (CLocalBrowserBar::*slot)()) {
        QAction* action = m_toolBar->addAction(style()->standardIcon(pixmap), text);
        action->setToolTip(text);
        action->setShortcut(key);
        // The keys work wherever the focus is inside the pane.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_backAction = addCommand(QStyle::SP_ArrowBack, QStringLiteral("Go To Last Folder Visited"),
                              QKeySequence(Qt::ALT | Qt::Key_Left), &CLocalBrowserBar::GoBack);
    m_upAction = addCommand(QStyle::SP_FileDialogToParent, QStringLiteral("Up One Level"),
                            QKeySequence(Qt::ALT | Qt::Key_Up), &CLocalBrowserBar::GoUp);
    m_newFolderAction = addCommand(QStyle::SP_FileDialogNewFolder, QStringLiteral("Create New Folder"),
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), &CLocalBrowserBar::CreateNewFolder);
    m_backAction->setEnabled(false);

    m_viewMenu = new QMenu(QStringLiteral("&View"), this);
    m_viewModes = new QActionGroup(this);
    m_viewModes->setExclusive(true);
    const std::pair<ViewMode, const char*> modes[] = {{ViewMode::Thumbnails, "Thumbnails"},
                                                      {ViewMode::Tiles, "Tiles"},
                                                      {ViewMode::Icons, "Icons"},
                                                      {ViewMode::List, "List"},
                                                      {ViewMode::Details, "Details"}};
    for (const auto& [mode, text] : modes) {
        QAction* action = m_viewMenu->addAction(QString::fromLatin1(text));
        action->setCheckable(true);
        action->setData(int(mode));
        m_viewModes->addAction(action);
        connect(action, &QAction::triggered, this, [this, mode = mode] { SetViewMode(mode); });
    }
    m_viewMenuButton = new QToolButton(m_toolBar);
    m_viewMenuButton->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    m_viewMenuButton->setToolTip(QStringLiteral("View Menu"));
    m_viewMenuButton->setAccessibleName(QStringLiteral("View Menu"));
    m_viewMenuButton->setPopupMode(QToolButton::InstantPopup);
    m_viewMenuButton->setAutoRaise(true);
    m_viewMenuButton->setMenu(m_viewMenu);
    m_toolBar->addWidget(m_viewMenuButton);

    m_openAction = new QAction(QStringLiteral("&Open"), this);
    connect(m_openAction, &QAction::triggered, this, [this] { OpenItem(CurrentView()->currentIndex()); });
    m_renameAction = new QAction(QStringLiteral("Rena&me"), this);
    m_renameAction->setShortcut(QKeySequence(Qt::Key_F2));
    m_renameAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(m_renameAction);
    connect(m_renameAction, &QAction::triggered, this, &CLocalBrowserBar::RenameCurrent);
    m_deleteAction = new QAction(QStringLiteral("&Delete"), this);
    m_deleteAction->setShortcut(QKeySequence::Delete);
    m_deleteAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(m_deleteAction);
    connect(m_deleteAction, &QAction::triggered, this, &CLocalBrowserBar::DeleteSelection);
}

void CLocalBrowserBar::BuildViews()
{
    m_stack = new QStackedWidget(this);
    m_detailsView = new QTreeView(m_stack);
    m_detailsView->setObjectName(QStringLiteral("localDetails"));
    m_detailsView->setModel(m_model);
    m_detailsView->setRootIsDecorated(false);
    m_detailsView->setItemsExpandable(false);
    m_detailsView->setExpandsOnDoubleClick(false);
    m_detailsView->setUniformRowHeights(true);
    m_detailsView->setAllColumnsShowFocus(true);
    m_detailsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_detailsView->setSortingEnabled(true);
    m_detailsView->sortByColumn(0, Qt::AscendingOrder);
    m_detailsView->header()->setSectionsMovable(false);
    m_detailsView->header()->resizeSection(0, 220);
    m_detailsView->header()->resizeSection(1, 80);
    m_detailsView->header()->resizeSection(2, 110);

    m_listView = new QListView(m_stack);
    m_listView->setObjectName(QStringLiteral("localList"));
    m_listView->setModel(m_model);
    // One selection for both: switching the mode keeps what was selected.
    // It belongs to the pane, so neither view takes it along when it goes.
    m_selection = new QItemSelectionModel(m_model, this);
    m_detailsView->setSelectionModel(m_selection);
    m_listView->setSelectionModel(m_selection);
    m_listDelegate = m_listView->itemDelegate();
    m_iconDelegate = LocalDelegates::NewIconDelegate(m_listView);
    m_tileDelegate = LocalDelegates::NewTileDelegate(m_listView);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_detailsView), static_cast<QAbstractItemView*>(m_listView)}) {
        ConfigureView(view);
        m_stack->addWidget(view);
        view->viewport()->installEventFilter(this);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& position) { ShowContextMenu(view, position); });
        connect(view, &QAbstractItemView::activated, this, &CLocalBrowserBar::OpenItem);
    }
}

void CLocalBrowserBar::ConfigureView(QAbstractItemView* view)
{
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    view->setDragEnabled(true);
    view->setDragDropMode(QAbstractItemView::DragDrop);
    view->setDefaultDropAction(Qt::CopyAction);
    // QListView switches the viewport's drops off whenever its movement is
    // static; the remote rows must still land.
    view->setAcceptDrops(true);
    view->viewport()->setAcceptDrops(true);
}

QAbstractItemView* CLocalBrowserBar::CurrentView() const
{
    if (m_viewMode == ViewMode::Details)
        return m_detailsView;
    return m_listView;
}

QAction* CLocalBrowserBar::ViewModeAction(ViewMode mode) const
{
    for (QAction* action : m_viewModes->actions()) {
        if (action->data().toInt() == int(mode))
            return action;
    }
    return nullptr;
}

void CLocalBrowserBar::SetViewMode(ViewMode mode)
{
    const bool hadFocus = m_stack->currentWidget() && m_stack->currentWidget()->hasFocus();
    m_viewMode = mode;
    ViewModeAction(mode)->setChecked(true);
    if (mode == ViewMode::Details) {
        // The list selects names only; the details select whole rows.
        for (const QModelIndex& index : SelectedRows())
            m_selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    } else {
        ConfigureListView(mode);
    }
    m_stack->setCurrentWidget(CurrentView());
    if (hadFocus)
        CurrentView()->setFocus();
}

void CLocalBrowserBar::ConfigureListView(ViewMode mode)
{
    QListView* view = m_listView;
    const bool icons = mode == ViewMode::Thumbnails || mode == ViewMode::Icons;
    view->setViewMode(icons ? QListView::IconMode : QListView::ListMode);
    view->setFlow(mode == ViewMode::List ? QListView::TopToBottom : QListView::LeftToRight);
    view->setWrapping(true);
    view->setMovement(QListView::Static);
    view->setResizeMode(QListView::Adjust);
    // Uniform sizes would cut every name to the width of the first one.
    view->setUniformItemSizes(false);
    view->setSelectionRectVisible(true);
    view->setWordWrap(icons);
    view->setTextElideMode(Qt::ElideMiddle);
    view->setSpacing(0);
    switch (mode) {
    case ViewMode::Thumbnails:
        view->setIconSize(QSize(96, 96));
        view->setGridSize(QSize(128, 148));
        break;
    case ViewMode::Tiles:
        view->setIconSize(QSize(48, 48));
        view->setGridSize(QSize(236, 62));
        break;
    case ViewMode::Icons:
        view->setIconSize(QSize(32, 32));
        view->setGridSize(QSize(100, 80));
        break;
    case ViewMode::List:
    case ViewMode::Details:
        view->setIconSize(QSize(16, 16));
        view->setGridSize(QSize());
        view->setSpacing(1);
        break;
    }
    view->setItemDelegate(mode == ViewMode::Tiles ? m_tileDelegate : icons ? m_iconDelegate : m_listDelegate);
    ConfigureView(view);
}

bool CLocalBrowserBar::BrowseTo(const QString& folder, bool recordHistory)
{
    const QString path = CPlacesList::Normalized(folder);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    if (path == m_currentFolder)
        return true;
    if (recordHistory && !m_currentFolder.isEmpty()) {
        m_history.append(m_currentFolder);
        while (m_history.size() > kMaxHistory)
            m_history.removeFirst();
    }
    if (!m_currentFolder.isEmpty())
        m_folderWatcher->removePath(m_currentFolder);
    m_folderWatcher->addPath(path);
    m_currentFolder = path;
    // The root path is the folder the model watches, so it follows the
    // folder shown: files appearing there show up at once.
    const QModelIndex index = m_model->setRootPath(path);
    m_currentIndex = index;
    m_selection->clear();
    m_detailsView->setRootIndex(index);
    m_listView->setRootIndex(index);
    RefillPlacesCombo(m_places.ShowLocation(path));
    m_backAction->setEnabled(!m_history.isEmpty());
    m_upAction->setEnabled(path != QLatin1String("/"));
    emit FolderChanged(path);
    return true;
}

void CLocalBrowserBar::GoToPath(const QString& path)
{
    if (!BrowseTo(path, true) && !BrowseTo(QDir::homePath(), true))
        BrowseTo(QStringLiteral("/"), true);
}

void CLocalBrowserBar::RefreshFile(const QString& path)
{
    m_model->RefreshFile(QDir::cleanPath(path));
}

void CLocalBrowserBar::GoBack()
{
    if (m_history.isEmpty())
        return;
    // A folder shown again after a deleted one may head the history.
    QString folder = m_history.takeLast();
    while (folder == m_currentFolder && !m_history.isEmpty())
        folder = m_history.takeLast();
    if (!BrowseTo(folder, false))
        ComplainAbout(folder);
    m_backAction->setEnabled(!m_history.isEmpty());
}

void CLocalBrowserBar::GoUp()
{
    if (m_currentFolder == QLatin1String("/"))
        return;
    const QString parent = CPlacesList::ParentOf(m_currentFolder);
    if (!BrowseTo(parent, true))
        ComplainAbout(parent);
}

void CLocalBrowserBar::ComplainAbout(const QString& folder)
{
    const QFileInfo info(folder);
    QString text;
    if (!info.exists())
        text = QStringLiteral("The folder '%1' does not exist.").arg(folder);
    else if (!info.isDir())
        text = QStringLiteral("'%1' is not a folder.").arg(folder);
    else
        text = QStringLiteral("You do not have permission to open the folder '%1'.").arg(folder);
    Prompts().Message(this, text, IPrompts::Icon::Warning);
}

void CLocalBrowserBar::OpenItem(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const QString path = m_model->filePath(index);
    if (m_model->isDir(index)) {
        if (!BrowseTo(path, true))
            ComplainAbout(path);
        return;
    }
    if (!m_openUrl(QUrl::fromLocalFile(path)))
        Prompts().Message(this, QStringLiteral("No program could open %1.").arg(QuotedName(path)),
                          IPrompts::Icon::Warning);
}

void CLocalBrowserBar::SetUrlOpener(UrlOpener opener)
{
    m_openUrl = std::move(opener);
}

void CLocalBrowserBar::SetContextActions(QList<QAction*> actions)
{
    m_contextActions = std::move(actions);
}

void CLocalBrowserBar::SetNote(const QString& text)
{
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
}

QString CLocalBrowserBar::Note() const
{
    return m_note->isHidden() ? QString() : m_note->text();
}

QList<QModelIndex> CLocalBrowserBar::SelectedRows() const
{
    // Not selectedRows(): the list view selects the name column only. A row
    // hidden from view (a filter's) is never acted on, whatever selected it.
    QList<QModelIndex> rows;
    for (const QModelIndex& index : m_selection->selectedIndexes()) {
        if (index.column() == 0 && index.parent() == m_currentIndex
            && !m_detailsView->isRowHidden(index.row(), index.parent()))
            rows << index;
    }
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    return rows;
}

QStringList CLocalBrowserBar::SelectedPaths() const
{
    QStringList paths;
    for (const QModelIndex& index : SelectedRows())
        paths << m_model->filePath(index);
    return paths;
}

void CLocalBrowserBar::CreateNewFolder()
{
    const QDir folder(m_currentFolder);
    const QString base = QStringLiteral("New Folder");
    QString name = base;
    for (int number = 2; QFileInfo(folder.filePath(name)).exists() || QFileInfo(folder.filePath(name)).isSymLink();
         ++number)
        name = QStringLiteral("%1 (%2)").arg(base).arg(number);
    const QModelIndex created = m_model->mkdir(m_model->index(m_currentFolder), name);
    if (!created.isValid()) {
        Prompts().Message(this,
                          QStringLiteral("Cannot create the folder '%1' in '%2'. The folder may be read-only.")
                              .arg(name, m_currentFolder),
                          IPrompts::Icon::Warning);
        return;
    }
    QAbstractItemView* view = CurrentView();
    view->setFocus();
    view->selectionModel()->setCurrentIndex(created, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(created);
    view->edit(created);
}

void CLocalBrowserBar::RenameCurrent()
{
    QAbstractItemView* view = CurrentView();
    const QModelIndex current = view->currentIndex();
    if (current.isValid())
        view->edit(current.sibling(current.row(), 0));
}

void CLocalBrowserBar::DeleteSelection()
{
    const QStringList paths = SelectedPaths();
    if (paths.isEmpty())
        return;
    const QString question = paths.size() == 1
        ? QStringLiteral("Move %1 to the trash?").arg(QuotedName(paths.first()))
        : QStringLiteral("Move these %1 items to the trash?").arg(paths.size());
    if (Prompts().AskYesNo(this, question, QStringLiteral("Confirm Delete")) != IPrompts::Yes)
        return;
    // A fresh account may lack the data folder the trash lives in.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QStringList failed;
    for (const QString& path : paths) {
        if (!QFile::moveToTrash(path))
            failed << QuotedName(path);
    }
    if (failed.size() == 1)
        Prompts().Message(this, QStringLiteral("%1 could not be moved to the trash.").arg(failed.first()),
                          IPrompts::Icon::Warning);
    else if (!failed.isEmpty())
        Prompts().Message(this,
                          QStringLiteral("These items could not be moved to the trash:\n") + failed.join(QLatin1Char('\n')),
                          IPrompts::Icon::Warning);
}

void CLocalBrowserBar::RefillPlacesCombo(int currentRow)
{
    const QSignalBlocker blocker(m_placesCombo);
    m_placesCombo->clear();
    const QFileIconProvider* icons = m_iconProvider.get();
    for (const CPlacesList::Entry& entry : m_places.Entries()) {
        QIcon icon;
        switch (entry.kind) {
        case CPlacesList::Kind::Root:
        case CPlacesList::Kind::Volume:
            icon = icons->icon(QAbstractFileIconProvider::Drive);
            break;
        case CPlacesList::Kind::Home:
            icon = style()->standardIcon(QStyle::SP_DirHomeIcon);
            break;
        case CPlacesList::Kind::Standard:
        case CPlacesList::Kind::Folder:
            icon = icons->icon(QAbstractFileIconProvider::Folder);
            break;
        }
        m_placesCombo->addItem(icon, entry.text, entry.path);
        const int row = m_placesCombo->count() - 1;
        m_placesCombo->setItemData(row, entry.indent, kIndentRole);
        m_placesCombo->setItemData(row, entry.path, Qt::ToolTipRole);
    }
    m_placesCombo->setCurrentIndex(currentRow);
}

void CLocalBrowserBar::OnPlaceChosen(int row)
{
    const QString path = m_placesCombo->itemData(row).toString();
    if (path.isEmpty() || BrowseTo(path, true))
        return;
    ComplainAbout(path);
    RefillPlacesCombo(m_places.IndexOf(m_currentFolder));
}

void CLocalBrowserBar::OnFolderChangedOnDisk()
{
    if (QFileInfo(m_currentFolder).isDir())
        return;
    // The folder shown has been deleted or moved away: show the nearest
    // folder above it that is still there rather than an empty, dead list.
    QString folder = m_currentFolder;
    while (folder != QLatin1String("/") && !BrowseTo(folder, false))
        folder = CPlacesList::ParentOf(folder);
    if (folder == QLatin1String("/"))
        BrowseTo(folder, false);
}

void CLocalBrowserBar::ShowContextMenu(QAbstractItemView* view, const QPoint& position)
{
    const QModelIndex index = view->indexAt(position);
    if (index.isValid() && !view->selectionModel()->isSelected(index))
        view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const std::unique_ptr<QMenu> menu = CreateContextMenu(index.isValid());
    menu->exec(view->viewport()->mapToGlobal(position));
}

std::unique_ptr<QMenu> CLocalBrowserBar::CreateContextMenu(bool onItem)
{
    auto menu = std::make_unique<QMenu>(this);
    if (onItem) {
        menu->addAction(m_openAction);
        menu->setDefaultAction(m_openAction);
        menu->addSeparator();
    }
    menu->addActions(m_contextActions);
    menu->addSeparator();
    if (onItem) {
        menu->addAction(m_renameAction);
        menu->addAction(m_deleteAction);
    } else {
        menu->addAction(m_newFolderAction);
        menu->addMenu(m_viewMenu);
    }
    return menu;
}

bool CLocalBrowserBar::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
        if (watched == m_detailsView->viewport())
            return HandleDrag(m_detailsView, event);
        if (watched == m_listView->viewport())
            return HandleDrag(m_listView, event);
    }
    return QWidget::eventFilter(watched, event);
}

bool CLocalBrowserBar::HandleDrag(QAbstractItemView* view, QEvent* event)
{
    // Only the remote rows are taken; local files dragged in (from here or
    // from elsewhere) are refused, so nothing on disk moves by accident.
    auto* drop = static_cast<QDropEvent*>(event);
    if (!drop->mimeData() || !drop->mimeData()->hasFormat(QLatin1String(kRemoteRowsMimeType))) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        const QModelIndex index = view->indexAt(drop->position().toPoint());
        const bool onFolder = index.isValid() && m_model->isDir(index);
        emit RemoteRowsDropped(onFolder ? m_model->filePath(index) : m_currentFolder);
    }
    return true;
}
