#include "window/transfers/TransferManagerBar.h"

#include "engine/base/Settings.h"
#include "engine/base/WindowMessages.h"
#include "engine/transfer/TransferQueue.h"
#include "window/resources/CommandIds.h"
#include "window/transfers/DialogTransferPort.h"
#include "window/transfers/TransferQueueModel.h"
#include "window/views/ColumnWidths.h"

#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The Progress cell: a bar, and the percentage over it in the colour of what
// lies beneath, so it reads on both halves.
class CProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString number = index.data().toString();
        // The bytes, rate and time left follow the percentage where there is room.
        QString text = number + QLatin1Char('%');
        const QString detail = index.data(CTransferQueueModel::DetailRole).toString();
        if (!detail.isEmpty() && option.fontMetrics.horizontalAdvance(text + QStringLiteral("  ") + detail) < option.rect.width() - 8)
            text += QStringLiteral("  ") + detail;
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& palette = option.palette;
        painter->save();
        painter->fillRect(option.rect, selected ? palette.highlight() : palette.base());
        QRect frame = option.rect.adjusted(2, 1, -2, -1);
        painter->setPen(palette.color(QPalette::WindowText));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(frame.adjusted(0, 0, -1, -1));
        const QRect inner = frame.adjusted(1, 1, -1, -1);
        const int percent = std::clamp(number.toInt(), 0, 100);
        const int split = inner.left() + static_cast<int>((qint64(inner.width()) * percent + 50) / 100);
        const QRect done(inner.left(), inner.top(), split - inner.left(), inner.height());
        const QRect rest(split, inner.top(), inner.right() - split + 1, inner.height());
        if (selected) {
            painter->fillRect(done, palette.button());
            painter->fillRect(rest, palette.base());
            painter->setPen(palette.color(QPalette::Text));
            painter->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, text);
        } else {
            painter->fillRect(done, palette.highlight());
            painter->fillRect(rest, palette.button());
            painter->setClipRect(done);
            painter->setPen(palette.color(QPalette::Base));
            painter->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, text);
            painter->setClipRect(rest);
            painter->setPen(palette.color(QPalette::Text));
            painter->drawText(option.rect, Qt::AlignCenter | Qt::TextSingleLine, text);
        }
        painter->restore();
    }
};

} // namespace

CTransferManagerBar::CTransferManagerBar(QWidget* parent)
    : QWidget(parent), m_ownQueue(std::make_unique<CTransferQueue>())
{
    m_queue = m_ownQueue.get();
    Build();
}

CTransferManagerBar::CTransferManagerBar(CTransferQueue& queue, QWidget* parent)
    : QWidget(parent), m_queue(&queue)
{
    Build();
}

void CTransferManagerBar::Build()
{
    setObjectName(QStringLiteral("transferManager"));
    m_model = new CTransferQueueModel(*m_queue, this);
    m_list = new QTreeView(this);
    m_list->setObjectName(QStringLiteral("transferList"));
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setAllColumnsShowFocus(true);
    m_list->setItemDelegateForColumn(ProgressColumn, new CProgressDelegate(m_list));
    m_list->header()->setStretchLastSection(false);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &CTransferManagerBar::ShowContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_list);

    const auto command = [this](int id, const QString& text, const QKeySequence& key, void (CTransferManagerBar::*handler)()) {
        auto* action = new QAction(text, this);
        action->setObjectName(QStringLiteral("command%1").arg(id));
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        }
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    m_cancel = command(cmd::ID_TRANSFER_CANCEL, QStringLiteral("&Cancel\tDel"), QKeySequence::Delete,
                       &CTransferManagerBar::CancelSelected);
    m_resubmit = command(cmd::ID_TRANSFER_RESUBMIT, QStringLiteral("&Resubmit\tEnter"), QKeySequence(Qt::Key_Return),
                         &CTransferManagerBar::ResubmitSelected);
    m_selectAll = command(cmd::ID_SELECT_ALL, QStringLiteral("Select &All\tCtrl+A"), QKeySequence(Qt::CTRL | Qt::Key_A),
                          &CTransferManagerBar::SelectAll);
    m_invert = command(cmd::ID_INVERT_SELECTION, QStringLiteral("&Invert Selection"), QKeySequence(),
                       &CTransferManagerBar::InvertSelection);

    // Six equal columns that fill the pane, no narrower than their headings;
    // then the widths the user left last time.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int share = std::max(10, (std::max(width(), 600) - 7 * scrollBar) / ColumnCount);
    for (int column = 0; column < ColumnCount; ++column)
        m_list->header()->resizeSection(column, std::max({share, m_list->header()->sectionSizeHint(column), 10}));
    ::RestoreColumnWidths(*m_list->header(), kx::GetProfileString(kx::settings::TransferColumnWidth));

    if (m_ownQueue)
        SetShowDialogs(true);
    connect(m_queue, &CTransferQueue::ActivityChanged, this, &CTransferManagerBar::ActivityChanged);
    connect(m_queue, &CTransferQueue::JobFailed, this, [this](qint64, const QString& text) {
        if (!isVisible())
            emit JobFailedWhileHidden(text);
    });
}

CTransferManagerBar::~CTransferManagerBar()
{
    kx::WriteProfileString(kx::settings::TransferColumnWidth, ColumnWidthsText());
    // Our own queue stops its workers as it goes: what they wrote stays for
    // a later resume. A queue given to us outlives us and keeps running.
    disconnect(m_queue, nullptr, this, nullptr);
    m_ownQueue.reset();
}

QString CTransferManagerBar::ColumnWidthsText() const
{
    return ::ColumnWidthsText(*m_list->header());
}

void CTransferManagerBar::SetConnectionTimeout(int seconds)
{
    m_queue->SetConnectionTimeout(seconds);
}

void CTransferManagerBar::SetParallelLimit(int limit)
{
    m_queue->SetParallelLimit(limit);
}

void CTransferManagerBar::SetRemoveFailed(bool remove)
{
    m_queue->SetRemoveFailed(remove);
}

void CTransferManagerBar::SetProxy(int type, const QString& name)
{
    m_queue->SetProxy(type, name);
}

void CTransferManagerBar::SetShowDialogs(bool show)
{
    if (!show) {
        m_queue->SetPortFactory({});
        return;
    }
    m_queue->SetPortFactory([](const TransferJobRecord& record, std::function<void()> cancel) {
        return std::make_unique<CDialogTransferPort>(record.direction == TransferDirection::Download, std::move(cancel));
    });
}

void CTransferManagerBar::AddDownload(const FileStatusList& entries, const QString& localFolder,
                                      const TransferSite& site, const QString& remoteFolder, bool failed)
{
    const qint64 id = m_queue->AddDownload(entries, localFolder, site, remoteFolder);
    if (failed && id)
        m_queue->Stop(id);
}

void CTransferManagerBar::AddUpload(const FileStatusList& entries, const TransferSite& site, const QString& remoteFolder,
                                    bool failed)
{
    const qint64 id = m_queue->AddUpload(entries, site, remoteFolder);
    if (failed && id)
        m_queue->Stop(id);
}

void CTransferManagerBar::StartQueued()
{
    m_queue->Schedule();
}

int CTransferManagerBar::RunningCount() const
{
    return m_queue->RunningCount();
}

int CTransferManagerBar::QueuedCount() const
{
    return m_queue->QueuedCount();
}

int CTransferManagerBar::JobCount() const
{
    return m_queue->JobCount();
}

double CTransferManagerBar::TransferRate() const
{
    return m_queue->TransferRate();
}

QList<qint64> CTransferManagerBar::SelectedIds() const
{
    QList<qint64> ids;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        ids << m_model->IdAt(index.row());
    return ids;
}

void CTransferManagerBar::CancelSelected()
{
    for (const qint64 id : SelectedIds())
        m_queue->Cancel(id);
}

void CTransferManagerBar::ResubmitSelected()
{
    for (const qint64 id : SelectedIds())
        m_queue->Resubmit(id); // past the limit: the user asked for it
}

void CTransferManagerBar::SelectAll()
{
    m_list->selectAll();
}

void CTransferManagerBar::InvertSelection()
{
    QItemSelection all(m_model->index(0, 0), m_model->index(m_model->rowCount() - 1, ColumnCount - 1));
    m_list->selectionModel()->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
}

void CTransferManagerBar::ShowContextMenu(const QPoint& position)
{
    if (!m_list->selectionModel()->hasSelection())
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("Transfer"));
    menu.addAction(m_cancel);
    menu.addAction(m_resubmit);
    menu.addSeparator();
    menu.addAction(m_selectAll);
    menu.addAction(m_invert);
    menu.exec(m_list->viewport()->mapToGlobal(position));
}
