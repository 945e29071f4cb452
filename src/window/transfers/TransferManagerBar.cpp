#include "window/transfers/TransferManagerBar.h"

#include "engine/base/Settings.h"
#include "engine/base/TraceLevel.h"
#include "engine/base/WindowMessages.h"
#include "window/resources/CommandIds.h"
#include "window/transfers/DialogTransferPort.h"
#include "engine/transfer/DownloadThread.h"
#include "engine/transfer/TransferEvents.h"
#include "engine/transfer/UploadThread.h"
#include "window/views/ColumnWidths.h"
#include "window/views/FileTypes.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The row's thread, as the rows and the events name it.
constexpr int kThreadRole = Qt::UserRole + 1;

const char* const kHeadings[CTransferManagerBar::ColumnCount] = {"Filename", "Host", "Source", "Destination", "Status",
                                                                  "Progress"};

QString Queued()
{
    return QStringLiteral("Queued");
}

QString FailedStatus()
{
    return QStringLiteral("Failed");
}

// The Progress cell: a bar, and the percentage over it in the colour of what
// lies beneath, so it reads on both halves.
class CProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString number = index.data().toString();
        const QString text = number + QLatin1Char('%');
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
    : QWidget(parent)
{
    setObjectName(QStringLiteral("transferManager"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("transferList"));
    m_list->setColumnCount(ColumnCount);
    QStringList headings;
    for (const char* heading : kHeadings)
        headings << QString::fromLatin1(heading);
    m_list->setHeaderLabels(headings);
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

    connect(&m_scheduler, &QTimer::timeout, this, &CTransferManagerBar::Tick);
    m_scheduler.start(1000);
}

CTransferManagerBar::~CTransferManagerBar()
{
    kx::WriteProfileString(kx::settings::TransferColumnWidth, ColumnWidthsText());
    m_scheduler.stop();
    // Every worker stops where it is; what it wrote stays for a later resume.
    for (const auto& thread : m_threads)
        thread->Kill();
    for (const auto& thread : m_threads)
        thread->Stop();
    m_threads.clear();
}

QString CTransferManagerBar::ColumnWidthsText() const
{
    return ::ColumnWidthsText(*m_list->header());
}

void CTransferManagerBar::AddDownload(const FileStatusList& entries, const QString& localFolder,
                                      const TransferSite& site, const QString& remoteFolder, bool failed)
{
    auto thread = std::make_unique<CDownloadThread>();
    thread->Job().localFolder = localFolder;
    Add(std::move(thread), entries, site, remoteFolder, failed);
}

void CTransferManagerBar::AddUpload(const FileStatusList& entries, const TransferSite& site, const QString& remoteFolder,
                                    bool failed)
{
    Add(std::make_unique<CUploadThread>(), entries, site, remoteFolder, failed);
}

void CTransferManagerBar::Add(std::unique_ptr<CTransferThread> thread, const FileStatusList& entries,
                              const TransferSite& site, const QString& remoteFolder, bool failed)
{
    if (entries.isEmpty())
        return;
    const bool download = thread->GetDirection() == CTransferThread::Direction::Download;
    TransferJob& job = thread->Job();
    job.items = entries;
    job.host = site.host;
    job.user = site.user;
    job.password = site.password;
    job.remoteFolder = remoteFolder;
    job.transferType = site.transferType;
    job.retries = site.retries;
    job.retryDelay = site.retryDelay;
    job.port = site.port;
    job.passive = site.passive;
    job.encryption = site.encryption;
    job.acceptedCertificates = site.acceptedCertificates;
    job.timeoutMs = std::max(0, m_timeoutSeconds) * 1000;
    job.proxyType = m_proxyType;
    job.proxyName = m_proxyName;
    thread->SetReceiver(this);
    if (m_showDialogs) {
        CTransferThread* raw = thread.get();
        thread->SetPort(std::make_unique<CDialogTransferPort>(download, [raw] { raw->Kill(); }));
    }

    const FileStatus& first = entries.first();
    auto* row = new QTreeWidgetItem(m_list);
    row->setText(FileColumn, first.path);
    row->setIcon(FileColumn, GetShellIcon(first.path, first.IsFolder(), false));
    row->setText(HostColumn, site.host);
    row->setText(SourceColumn, download ? remoteFolder : QString());
    row->setText(DestinationColumn, download ? job.localFolder : remoteFolder);
    row->setText(StatusColumn, failed ? FailedStatus() : Queued());
    row->setText(ProgressColumn, QStringLiteral("0"));
    row->setData(FileColumn, kThreadRole, QVariant::fromValue(reinterpret_cast<quintptr>(thread.get())));
    m_threads.push_back(std::move(thread));
    StartQueued();
    emit ActivityChanged();
}

QTreeWidgetItem* CTransferManagerBar::RowOf(const CTransferThread* thread) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_list->topLevelItem(i);
        if (ThreadOf(row) == thread)
            return row;
    }
    return nullptr;
}

CTransferThread* CTransferManagerBar::ThreadOf(const QTreeWidgetItem* row) const
{
    const auto* wanted = reinterpret_cast<const CTransferThread*>(row->data(FileColumn, kThreadRole).value<quintptr>());
    for (const auto& thread : m_threads) {
        if (thread.get() == wanted)
            return thread.get();
    }
    return nullptr;
}

bool CTransferManagerBar::Start(CTransferThread* thread)
{
    // A row reads "Queued" until its thread's first status arrives: only the
    // call that really starts the thread counts it.
    if (!thread->Resume())
        return false;
    m_counted.insert(thread);
    return true;
}

void CTransferManagerBar::StartQueued()
{
    const auto full = [this] { return m_parallelLimit > 0 && RunningCount() >= m_parallelLimit; };
    for (int i = 0; i < m_list->topLevelItemCount() && !full(); ++i) {
        QTreeWidgetItem* row = m_list->topLevelItem(i);
        if (row->text(StatusColumn) != Queued())
            continue;
        if (CTransferThread* thread = ThreadOf(row))
            Start(thread);
    }
}

int CTransferManagerBar::QueuedCount() const
{
    int queued = 0;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        queued += m_list->topLevelItem(i)->text(StatusColumn) == Queued() ? 1 : 0;
    return queued;
}

void CTransferManagerBar::Tick()
{
    StartQueued();
    quint64 moved = 0;
    for (const auto& thread : m_threads)
        moved += thread->BytesMoved();
    // The ended jobs' bytes left the sum with them: never a negative rate.
    m_rate = moved >= m_lastMoved ? double(moved - m_lastMoved) : 0.0;
    m_lastMoved = moved;
    emit ActivityChanged();
}

bool CTransferManagerBar::event(QEvent* event)
{
    if (auto* status = dynamic_cast<TransferStatusEvent*>(event)) {
        OnStatus(status->Thread(), status->Name(), status->Status(), status->Percent());
        return true;
    }
    if (auto* done = dynamic_cast<TransferDoneEvent*>(event)) {
        OnDone(done->type(), done->Thread());
        return true;
    }
    if (event->type() == WM_TRACE_LINE || event->type() == WM_REMOTE_ITEM_ADDED) {
        ForwardToFrame(event);
        return true;
    }
    return QWidget::event(event);
}

void CTransferManagerBar::ForwardToFrame(QEvent* event)
{
    if (m_frame)
        QCoreApplication::sendEvent(m_frame, event);
}

void CTransferManagerBar::OnStatus(CTransferThread* thread, const QString& name, const QString& status, int percent)
{
    QTreeWidgetItem* row = RowOf(thread);
    if (!row)
        return;
    if (!status.isEmpty())
        row->setText(StatusColumn, status);
    row->setText(ProgressColumn, QString::number(percent));
    if (!name.isEmpty()) {
        row->setText(FileColumn, name);
        row->setIcon(FileColumn, GetShellIcon(name, false, false));
        TraceLineEvent line(WM_TRACE_LINE, TRACE_INFO, QStringLiteral("[%1] %2: \"%3\"").arg(thread->ThreadId()).arg(status, name));
        ForwardToFrame(&line);
    }
}

void CTransferManagerBar::OnDone(QEvent::Type type, CTransferThread* thread)
{
    const auto owned = std::find_if(m_threads.begin(), m_threads.end(),
                                    [thread](const auto& candidate) { return candidate.get() == thread; });
    if (owned == m_threads.end())
        return;
    // The thread has posted its last event; it ends at once.
    thread->Stop();
    const bool failed = thread->Failed();
    const QString line = QStringLiteral("[%1] %2").arg(thread->ThreadId()).arg(thread->ResultText());
    TraceLineEvent trace(type == WM_DOWNLOAD_DONE ? WM_TRACE_LINE : WM_TRACE_LINE2, failed ? TRACE_ERROR : TRACE_SUCCESS,
                         line);
    ForwardToFrame(&trace);
    delete RowOf(thread);
    m_counted.erase(thread);

    // A job that failed before it had gathered its files still holds them:
    // it comes back, to be resubmitted.
    std::unique_ptr<CTransferThread> ended = std::move(*owned);
    m_threads.erase(owned);
    const TransferJob& job = ended->Job();
    if (failed && !m_removeFailed && !job.items.isEmpty()) {
        TransferSite site{job.host,  job.user,    job.password,   job.transferType,        job.retries,
                          job.retryDelay, job.port, job.passive, job.encryption, job.acceptedCertificates};
        if (ended->GetDirection() == CTransferThread::Direction::Download)
            AddDownload(job.items, job.localFolder, site, job.remoteFolder, true);
        else
            AddUpload(job.items, site, job.remoteFolder, true);
    }
    ended.reset();
    StartQueued();
    emit ActivityChanged();
}

void CTransferManagerBar::CancelSelected()
{
    for (QTreeWidgetItem* row : m_list->selectedItems()) {
        if (CTransferThread* thread = ThreadOf(row)) {
            // A job never started starts now, only to end at once; it is not counted.
            thread->Kill();
            thread->Resume();
        }
    }
}

void CTransferManagerBar::ResubmitSelected()
{
    for (QTreeWidgetItem* row : m_list->selectedItems()) {
        const QString status = row->text(StatusColumn);
        if (status != Queued() && status != FailedStatus())
            continue;
        if (CTransferThread* thread = ThreadOf(row))
            Start(thread); // past the limit: the user asked for it
    }
    emit ActivityChanged();
}

void CTransferManagerBar::SelectAll()
{
    m_list->selectAll();
}

void CTransferManagerBar::InvertSelection()
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_list->topLevelItem(i);
        row->setSelected(!row->isSelected());
    }
}

void CTransferManagerBar::ShowContextMenu(const QPoint& position)
{
    if (m_list->selectedItems().isEmpty())
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
