#include "window/views/FtpListView.h"

#include "window/resources/CommandIds.h"
#include "window/views/ColumnWidths.h"
#include "window/views/FileTypes.h"
#include "window/views/InputLock.h"
#include "window/views/NameDelegate.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QDropEvent>
#include <QListView>
#include <QLocale>
#include <QMimeData>
#include <QUrl>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <vector>

namespace {

constexpr int kColumnWidths[CFtpListModel::ColumnCount] = {180, 100, 100, 100, 90, 80, 80};

// A translucent panel with a running progress bar, laid over the list while
// a listing arrives; the rows stay visible beneath it.
class CBusyPanel : public QWidget {
public:
    explicit CBusyPanel(QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("busyPanel"));
        auto* bar = new QProgressBar(this);
        bar->setObjectName(QStringLiteral("busyAnimation"));
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        bar->setFixedWidth(160);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(bar, 0, Qt::AlignCenter);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QColor veil = palette().color(QPalette::Base);
        veil.setAlpha(150);
        QPainter(this).fillRect(rect(), veil);
    }
};

} // namespace

CFtpListView::CFtpListView(QWidget* parent)
    : QWidget(parent)
{
    m_model = new CFtpListModel(this);
    m_selection = new QItemSelectionModel(m_model, this);
    m_inputLock = new CInputLock(this);

    setAccessibleName(QStringLiteral("Remote files"));
    m_iconView = new QListView(this);
    m_iconView->setObjectName(QStringLiteral("iconView"));
    m_iconView->setAccessibleName(QStringLiteral("Remote files"));
    m_iconView->setUniformItemSizes(true);

    m_detailsView = new QTreeView(this);
    m_detailsView->setObjectName(QStringLiteral("detailsView"));
    m_detailsView->setAccessibleName(QStringLiteral("Remote files"));
    m_detailsView->setUniformRowHeights(true);
    m_detailsView->setRootIsDecorated(false);
    m_detailsView->setItemsExpandable(false);
    m_detailsView->setAllColumnsShowFocus(true);
    m_detailsView->setSortingEnabled(false);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_iconView),
                                    static_cast<QAbstractItemView*>(m_detailsView)}) {
        view->setModel(m_model);
        view->setSelectionModel(m_selection);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        // Editing starts only through EditItem(), which announces it once the
        // editor holds the name.
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        InstallDelegate(view);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        view->setAcceptDrops(true);
        m_inputLock->Watch(view);
        m_inputLock->Watch(view->viewport());
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            m_slowClick.stop();
            if (index.isValid())
                emit ItemActivated(index.row());
        });
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& pos) { ShowContextMenu(view, pos); });
    }

    QHeaderView* header = m_detailsView->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(0, Qt::AscendingOrder);
    for (int column = 0; column < CFtpListModel::ColumnCount; ++column)
        header->resizeSection(column, kColumnWidths[column]);
    connect(header, &QHeaderView::sectionClicked, this, &CFtpListView::OnHeaderClicked);
    SetUpColumns();

    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_iconView);
    m_stack->addWidget(m_detailsView);
    m_incomplete = new QLabel(
        QStringLiteral("This list is incomplete: the listing ended early. Refresh (F5) lists the whole folder."), this);
    m_incomplete->setObjectName(QStringLiteral("incompleteNote"));
    m_incomplete->setWordWrap(true);
    m_incomplete->setMargin(4);
    m_incomplete->setAutoFillBackground(true);
    m_incomplete->setBackgroundRole(QPalette::ToolTipBase);
    m_incomplete->setForegroundRole(QPalette::ToolTipText);
    m_incomplete->hide();
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("listNote"));
    m_note->setMargin(3);
    m_note->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_incomplete);
    layout->addWidget(m_note);
    layout->addWidget(m_stack);

    connect(m_selection, &QItemSelectionModel::selectionChanged, this, [this] {
        m_slowClick.stop();
        m_clickedIndex = QPersistentModelIndex();
        emit SelectionChanged();
    });
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_slowClick.stop();
        CancelEditing();
    });
    // The views drop the editor of a row that goes by themselves (they were
    // told first); the edit only has to end here.
    connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (m_editing && m_editIndex.isValid() && m_editIndex.row() >= first && m_editIndex.row() <= last)
            FinishEditing(false);
    });

    m_slowClick.setSingleShot(true);
    connect(&m_slowClick, &QTimer::timeout, this, [this] {
        if (m_slowClickIndex.isValid() && !m_editing && IsSoleSelectedRow(m_slowClickIndex.row()))
            EditItem(m_slowClickIndex.row());
    });

    SetViewStyle(cmd::ID_VIEW_LARGEICON);
}

CFtpListView::~CFtpListView()
{
    // The views and their editors go first, while this object is still whole;
    // an editor dying now is no end of an edit anybody waits for.
    m_editing = false;
    m_slowClick.stop();
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_iconView),
                                    static_cast<QAbstractItemView*>(m_detailsView)}) {
        view->removeEventFilter(this);
        view->viewport()->removeEventFilter(this);
    }
    m_selection->disconnect(this);
    m_model->disconnect(this);
    delete m_busy;
    delete m_stack;
}

QAbstractItemView* CFtpListView::CurrentView() const
{
    return m_viewStyle == cmd::ID_VIEW_DETAILS ? static_cast<QAbstractItemView*>(m_detailsView)
                                               : static_cast<QAbstractItemView*>(m_iconView);
}

// ---------------------------------------------------------------- listing

void CFtpListView::DeleteAllItems()
{
    CancelEditing();
    // A reset clears the selection without a word; the frame's commands
    // still have to learn that nothing is selected any more.
    const bool hadSelection = m_selection->hasSelection();
    m_model->Clear();
    m_sharedTexts.clear();
    if (!m_listedColumns.isEmpty()) {
        m_listedColumns.clear();
        UpdateColumns();
    }
    if (hadSelection)
        emit SelectionChanged();
}

void CFtpListView::AddListingEntry(int index, const RemoteEntry& entry)
{
    if (entry.name == QLatin1String(".") || entry.name == QLatin1String(".."))
        return;
    FtpListItem item;
    item.name = entry.name;
    item.size = entry.size;
    item.folder = entry.folder;
    item.modified = entry.modified;
    item.precision = entry.precision;
    // Owners, groups and permissions repeat from row to row: the rows share
    // one copy of each text rather than hold 100,000 of them.
    const auto shared = [this](const QString& text) {
        if (text.isEmpty())
            return QString();
        return *m_sharedTexts.insert(text);
    };
    item.permissions = shared(entry.permissions);
    item.owner = shared(entry.owner);
    item.group = shared(entry.group);
    const qsizetype listed = m_listedColumns.size();
    if (!item.permissions.isEmpty())
        m_listedColumns.insert(CFtpListModel::PermissionsColumn);
    if (!item.owner.isEmpty())
        m_listedColumns.insert(CFtpListModel::OwnerColumn);
    if (!item.group.isEmpty())
        m_listedColumns.insert(CFtpListModel::GroupColumn);
    if (m_listedColumns.size() != listed)
        UpdateColumns();
    if (index >= 0 && index < m_model->TotalCount())
        m_model->Insert(index, std::move(item));
    else
        m_model->Append(std::move(item));
}

int CFtpListView::AddOrUpdateEntry(int position, const FileStatus& status, Qt::CaseSensitivity names)
{
    m_model->FlushPending();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const int existing = m_model->FindName(status.path, names);
    if (existing >= 0) {
        m_model->SetSizeAndTime(existing, status.size, now);
        return -1;
    }
    FtpListItem item;
    item.name = status.path;
    item.size = status.size;
    item.folder = status.IsFolder();
    item.modified = now;
    return m_model->Insert(position < 0 ? m_model->TotalCount() : position, std::move(item));
}

void CFtpListView::SortByColumn(int column)
{
    if (column == -1)
        ApplySort(m_sortColumn, false);
    else if (column >= 0 && column < CFtpListModel::ColumnCount)
        ApplySort(column, true);
}

void CFtpListView::OnHeaderClicked(int column)
{
    m_ascending = column == m_sortColumn ? !m_ascending : true;
    ApplySort(column, true);
}

void CFtpListView::ApplySort(int column, bool moveArrow)
{
    m_model->Sort(column, m_ascending);
    m_sortColumn = column;
    if (moveArrow)
        m_detailsView->header()->setSortIndicator(column, m_ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    emit SortChanged(m_sortColumn, m_ascending);
}

void CFtpListView::SetViewStyle(int commandId)
{
    if (commandId != cmd::ID_VIEW_SMALLICON && commandId != cmd::ID_VIEW_LARGEICON && commandId != cmd::ID_VIEW_LIST
        && commandId != cmd::ID_VIEW_DETAILS)
        return;
    CancelEditing();
    QAbstractItemView* previous = m_viewStyle != 0 ? CurrentView() : nullptr;
    const bool hadFocus = previous && previous->hasFocus();
    m_viewStyle = commandId;
    if (commandId != cmd::ID_VIEW_DETAILS)
        ConfigureIconView();
    QAbstractItemView* view = CurrentView();
    m_stack->setCurrentWidget(view);
    setFocusProxy(view);
    if (hadFocus)
        view->setFocus();
    if (m_selection->currentIndex().isValid())
        view->scrollTo(m_selection->currentIndex());
}

void CFtpListView::ConfigureIconView()
{
    const QFontMetrics metrics(m_iconView->font());
    auto* delegate = static_cast<CNameDelegate*>(m_iconView->itemDelegate());
    if (m_viewStyle == cmd::ID_VIEW_LARGEICON) {
        // Two lines of text under the icon.
        const QSize cell(std::max(80, metrics.averageCharWidth() * 14), 32 + 2 * metrics.height() + 10);
        delegate->fixedCell = cell;
        m_iconView->setViewMode(QListView::IconMode);
        m_iconView->setIconSize(QSize(32, 32));
        m_iconView->setFlow(QListView::LeftToRight);
        m_iconView->setWordWrap(true);
        m_iconView->setGridSize(cell + QSize(6, 4));
    } else {
        const QSize cell(16 + 10 + metrics.averageCharWidth() * 26, std::max(16, metrics.height()) + 4);
        delegate->fixedCell = cell;
        m_iconView->setViewMode(QListView::ListMode);
        m_iconView->setIconSize(QSize(16, 16));
        m_iconView->setFlow(m_viewStyle == cmd::ID_VIEW_LIST ? QListView::TopToBottom : QListView::LeftToRight);
        m_iconView->setWordWrap(false);
        m_iconView->setGridSize(cell);
    }
    m_iconView->setWrapping(true);
    m_iconView->setMovement(QListView::Static);
    m_iconView->setResizeMode(QListView::Adjust);
    m_iconView->setTextElideMode(Qt::ElideRight);
    m_iconView->setUniformItemSizes(true);
    // All rows in one go: with every cell one fixed size that is a few
    // milliseconds at 100,000 rows. Laid out in batches, the list never came
    // to rest: the first batch alone needs no scroll bar across the flow, the
    // whole list does; the bar appearing at the end shrinks the viewport in
    // the direction the rows flow, which with Adjust starts the layout over
    // (at once, since the repaint asks for a row's place), the first batch
    // takes the bar away again, and so on, with End stuck in the first batch.
    m_iconView->setLayoutMode(QListView::SinglePass);
}

void CFtpListView::ShowBusy(bool busy)
{
    if (busy) {
        if (m_busy)
            return;
        m_busy = new CBusyPanel(this);
        m_busy->setGeometry(rect());
        m_busy->raise();
        m_busy->show();
        return;
    }
    m_model->FlushPending();
    if (!m_busy)
        return;
    delete m_busy;
    m_busy = nullptr;
    update();
}

QString CFtpListView::ColumnWidthsText() const
{
    return ::ColumnWidthsText(*m_detailsView->header());
}

void CFtpListView::RestoreColumnWidths(const QString& text)
{
    m_columnsSettled = ::RestoreColumnWidths(*m_detailsView->header(), text) || m_columnsSettled;
}

void CFtpListView::FitColumnsOnce()
{
    m_model->FlushPending();
    if (m_columnsSettled || m_model->rowCount() == 0)
        return;
    m_columnsSettled = true;
    // Measured on the first rows: enough to size a column, and cheap at
    // 100,000 rows. The last column stretches over what is left.
    QHeaderView* header = m_detailsView->header();
    QStyleOptionViewItem option;
    option.initFrom(m_detailsView);
    option.decorationSize = m_detailsView->iconSize().isValid() ? m_detailsView->iconSize() : QSize(16, 16);
    option.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    const int rows = std::min(m_model->rowCount(), 500);
    for (int column = 0; column + 1 < CFtpListModel::ColumnCount; ++column) {
        // Never narrower than at the start: the first folder's short names
        // would leave the next folder's long ones cut.
        int width = std::max(header->sectionSizeHint(column), kColumnWidths[column] - 8);
        for (int row = 0; row < rows; ++row)
            width = std::max(width, m_detailsView->itemDelegate()->sizeHint(option, m_model->index(row, column)).width());
        header->resizeSection(column, width + 8);
    }
}

void CFtpListView::SetIncomplete(bool incomplete)
{
    m_incomplete->setVisible(incomplete);
}

void CFtpListView::SetNote(const QString& text)
{
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
}

QString CFtpListView::Note() const
{
    return m_note->isHidden() ? QString() : m_note->text();
}

bool CFtpListView::IsIncomplete() const
{
    return !m_incomplete->isHidden();
}

void CFtpListView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_busy)
        m_busy->setGeometry(rect());
}

void CFtpListView::SetInputLocked(bool locked)
{
    m_inputLock->SetLocked(locked);
}

void CFtpListView::ShowEnabled()
{
    m_shownEnabled = true;
    ApplyColours();
}

void CFtpListView::ShowDisabled()
{
    m_shownEnabled = false;
    ApplyColours();
}

void CFtpListView::ApplyColours()
{
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_iconView),
                                    static_cast<QAbstractItemView*>(m_detailsView)}) {
        if (m_shownEnabled) {
            view->setPalette(QPalette());
        } else {
            QPalette greyed = palette();
            greyed.setColor(QPalette::Base, greyed.color(QPalette::Button));
            greyed.setColor(QPalette::Text, greyed.color(QPalette::Disabled, QPalette::Text));
            view->setPalette(greyed);
        }
        view->viewport()->update();
    }
}

// ---------------------------------------------------------------- rows

int CFtpListView::RowCount() const
{
    m_model->FlushPending();
    return m_model->rowCount();
}

QString CFtpListView::ItemName(int row) const
{
    m_model->FlushPending();
    const FtpListItem* item = m_model->Item(row);
    return item ? item->name : QString();
}

bool CFtpListView::IsFolderItem(int row) const
{
    m_model->FlushPending();
    const FtpListItem* item = m_model->Item(row);
    return item && item->folder;
}

quint64 CFtpListView::GetItemSize(int row) const
{
    m_model->FlushPending();
    const FtpListItem* item = m_model->Item(row);
    return item ? item->size : 0;
}

qint64 CFtpListView::ItemModified(int row) const
{
    m_model->FlushPending();
    const FtpListItem* item = m_model->Item(row);
    return item ? item->modified : 0;
}

const FtpListItem* CFtpListView::Item(int row) const
{
    m_model->FlushPending();
    return m_model->Item(row);
}

QString CFtpListView::ItemText(int row, int column) const
{
    m_model->FlushPending();
    const FtpListItem* item = m_model->Item(row);
    return item ? CFtpListModel::DisplayText(*item, column) : QString();
}

bool CFtpListView::ConfirmUploads(FileStatusList& files, IFileQuestions& questions) const
{
    if (files.isEmpty())
        return false;
    const auto describe = [](quint64 size, qint64 modified) {
        return QStringLiteral("%1\r\nmodified: %2")
            .arg(FormatSizeKB(size), QLocale().toString(QDateTime::fromSecsSinceEpoch(modified), QLocale::LongFormat));
    };
    FileStatusList kept;
    bool yesToAll = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        FileStatus file = files[i];
        const QString name = file.path.section(QLatin1Char('/'), -1);
        const int row = FindRow(name);
        if (row < 0 || yesToAll || file.IsFolder() || IsFolderItem(row)) {
            kept << file;
            continue;
        }
        FileQuestion question;
        question.fileName = name;
        question.remaining = static_cast<int>(files.size() - i);
        question.newDescription = describe(file.size, file.modified);
        question.existingDescription = describe(GetItemSize(row), ItemModified(row));
        if (file.size > GetItemSize(row)) {
            switch (questions.AskResume(question)) {
            case kAnswerYes:
                file.attribute |= FileStatus::kResume;
                file.size = GetItemSize(row);
                break;
            case kAnswerNo:
                file.attribute &= ~FileStatus::kResume;
                break;
            default:
                return false;
            }
            kept << file;
            continue;
        }
        switch (questions.AskReplace(question)) {
        case kAnswerYesToAll:
            yesToAll = true;
            kept << file;
            break;
        case kAnswerYes:
            kept << file;
            break;
        case kAnswerNo:
            break;
        default:
            return false;
        }
    }
    files = kept;
    return true;
}

int CFtpListView::FindRow(const QString& name) const
{
    m_model->FlushPending();
    return m_model->FindName(name, Qt::CaseSensitive);
}

void CFtpListView::SetItemName(int row, const QString& name)
{
    m_model->FlushPending();
    m_model->SetName(row, name);
}

void CFtpListView::RemoveItem(int row)
{
    m_model->FlushPending();
    m_model->Remove(row);
}

QList<int> CFtpListView::SelectedRows() const
{
    m_model->FlushPending();
    const int count = m_model->rowCount();
    std::vector<bool> selected(static_cast<std::size_t>(count), false);
    for (const QItemSelectionRange& range : m_selection->selection()) {
        for (int row = std::max(0, range.top()); row <= range.bottom() && row < count; ++row)
            selected[static_cast<std::size_t>(row)] = true;
    }
    QList<int> rows;
    for (int row = 0; row < count; ++row) {
        if (selected[static_cast<std::size_t>(row)])
            rows.append(row);
    }
    return rows;
}

int CFtpListView::FirstSelectedRow() const
{
    m_model->FlushPending();
    int first = -1;
    for (const QItemSelectionRange& range : m_selection->selection()) {
        if (range.isValid() && (first < 0 || range.top() < first))
            first = range.top();
    }
    return first;
}

bool CFtpListView::IsSoleSelectedRow(int row) const
{
    const QItemSelection selection = m_selection->selection();
    if (selection.isEmpty())
        return false;
    return std::all_of(selection.cbegin(), selection.cend(), [row](const QItemSelectionRange& range) {
        return range.top() == row && range.bottom() == row;
    });
}

void CFtpListView::SelectItem(int row)
{
    m_model->FlushPending();
    if (!m_model->Item(row))
        return;
    const QModelIndex index = m_model->index(row, 0);
    m_selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    CurrentView()->scrollTo(index);
}

void CFtpListView::SelectAll()
{
    m_model->FlushPending();
    const int count = m_model->rowCount();
    if (count == 0)
        return;
    const QItemSelection all(m_model->index(0, 0), m_model->index(count - 1, CFtpListModel::ColumnCount - 1));
    m_selection->select(all, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_selection->setCurrentIndex(m_model->index(count - 1, 0), QItemSelectionModel::NoUpdate);
}

void CFtpListView::InvertSelection()
{
    m_model->FlushPending();
    const int count = m_model->rowCount();
    if (count == 0)
        return;
    const QItemSelection all(m_model->index(0, 0), m_model->index(count - 1, CFtpListModel::ColumnCount - 1));
    m_selection->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}

void CFtpListView::FocusList()
{
    CurrentView()->setFocus();
}
