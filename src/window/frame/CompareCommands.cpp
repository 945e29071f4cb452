#include "window/frame/CompareCommands.h"

#include "engine/base/Settings.h"
#include "engine/session/FtpSession.h"
#include "window/frame/RemotePresenter.h"
#include "window/local/LocalBrowserBar.h"
#include "window/local/LocalFileModel.h"
#include "window/local/LocalRowHider.h"
#include "window/resources/CommandIds.h"
#include "window/sync/CompareLegend.h"
#include "window/sync/FilterDlg.h"
#include "window/views/FtpListView.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QStatusBar>
#include <QTreeView>

namespace {

// Beyond this many files the comparison stays with the listing's times
// rather than hold the connection for minutes.
constexpr qsizetype kMaxExactTimes = 500;

// The panes change in bursts (a folder read in the background, files a
// transfer writes): one comparison after the burst.
constexpr int kRefreshDelayMs = 150;

QString HiddenText(int byFilter, int identical)
{
    QStringList parts;
    if (byFilter > 0)
        parts << (byFilter == 1 ? QStringLiteral("The filename filters hide 1 item here.")
                                : QStringLiteral("The filename filters hide %1 items here.").arg(byFilter));
    if (identical > 0)
        parts << (identical == 1 ? QStringLiteral("1 identical item is hidden.")
                                 : QStringLiteral("%1 identical items are hidden.").arg(identical));
    return parts.join(QLatin1Char(' '));
}

} // namespace

CCompareCommands::CCompareCommands(CFtpSession& session, CRemotePresenter& presenter, CFtpListView& list,
                                   CLocalBrowserBar& localBrowser, QStatusBar& statusBar, CommandLookup command,
                                   QWidget* window)
    : QObject(window), m_session(session), m_presenter(presenter), m_list(list), m_localBrowser(localBrowser),
      m_command(std::move(command)), m_window(window)
{
    using namespace cmd;
    m_mode = kx::GetProfileInt(kx::settings::CompareMode) == 0 ? CompareMode::Size : CompareMode::SizeAndTime;
    m_hideIdentical = kx::GetProfileInt(kx::settings::HideIdentical) != 0;
    m_filter = CFileFilter::Load();

    m_legend = new CCompareLegend(&statusBar);
    m_legend->hide();
    statusBar.addPermanentWidget(m_legend);
    m_localHider = new CLocalRowHider(localBrowser);

    QAction* compare = m_command(ID_COMPARE_FOLDERS);
    compare->setCheckable(true);
    connect(compare, &QAction::triggered, this, &CCompareCommands::SetComparing);
    auto* modes = new QActionGroup(this);
    for (const int id : {ID_COMPARE_BY_SIZE, ID_COMPARE_BY_SIZE_AND_TIME}) {
        QAction* mode = m_command(id);
        mode->setCheckable(true);
        modes->addAction(mode);
        connect(mode, &QAction::triggered, this, [this, id] {
            SetMode(id == ID_COMPARE_BY_SIZE ? CompareMode::Size : CompareMode::SizeAndTime);
        });
    }
    QAction* hide = m_command(ID_HIDE_IDENTICAL);
    hide->setCheckable(true);
    connect(hide, &QAction::triggered, this, &CCompareCommands::SetHideIdentical);
    connect(m_legend->HideIdentical(), &QCheckBox::clicked, this, &CCompareCommands::SetHideIdentical);
    connect(m_command(ID_FILENAME_FILTERS), &QAction::triggered, this, &CCompareCommands::OnFilenameFilters);

    // Both panes ask through a guarded pointer: the views may outlive this.
    const QPointer<CCompareCommands> self(this);
    m_list.Model()->SetRowMarker([self](const FtpListItem& item, int role) {
        return self ? self->Mark(item.name, false, role) : QVariant();
    });
    m_presenter.SetRowRule([self](const RemoteEntry& entry) { return self && self->HidesRemote(entry); });
    m_localHider->SetRule([self](const QFileInfo& info) { return self && self->HidesLocal(info); });

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshDelayMs);
    connect(&m_refresh, &QTimer::timeout, this, &CCompareCommands::Refresh);
    connect(&m_presenter, &CRemotePresenter::ListingEnded, this, &CCompareCommands::Schedule);
    // The rows stay in view, greyed, after a disconnect: their marks go.
    connect(&m_presenter, &CRemotePresenter::ConnectionChanged, this, &CCompareCommands::Schedule);
    connect(&m_localBrowser, &CLocalBrowserBar::FolderChanged, this, &CCompareCommands::Schedule);
    connect(m_localHider, &CLocalRowHider::Applied, this, [this] {
        if (!m_applying)
            UpdateNotes();
    });
    CLocalFileModel* localModel = m_localBrowser.Model();
    connect(localModel, &QFileSystemModel::directoryLoaded, this, &CCompareCommands::Schedule);
    for (QAbstractItemModel* model : {static_cast<QAbstractItemModel*>(localModel),
                                      static_cast<QAbstractItemModel*>(m_list.Model())}) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &CCompareCommands::Schedule);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &CCompareCommands::Schedule);
        connect(model, &QAbstractItemModel::dataChanged, this, &CCompareCommands::Schedule);
    }
    Refresh();
}

const ComparedRow* CCompareCommands::RowOf(const QString& name) const
{
    const auto found = m_rows.constFind(name);
    return found == m_rows.cend() ? nullptr : &*found;
}

void CCompareCommands::SetComparing(bool on)
{
    m_comparing = on;
    m_command(cmd::ID_COMPARE_FOLDERS)->setChecked(on);
    Refresh();
}

void CCompareCommands::SetMode(CompareMode mode)
{
    m_mode = mode;
    kx::WriteProfileInt(kx::settings::CompareMode, mode == CompareMode::Size ? 0 : 1);
    Refresh();
}

void CCompareCommands::SetHideIdentical(bool hide)
{
    m_hideIdentical = hide;
    kx::WriteProfileInt(kx::settings::HideIdentical, hide ? 1 : 0);
    m_command(cmd::ID_HIDE_IDENTICAL)->setChecked(hide);
    m_legend->HideIdentical()->setChecked(hide);
    Refresh();
}

void CCompareCommands::OnFilenameFilters()
{
    CFilterDlg dialog(m_filter, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    SetFilter(CFileFilter(dialog.Rules()));
}

void CCompareCommands::SetFilter(const CFileFilter& filter)
{
    m_filter = filter;
    emit FilterChanged(m_filter);
    Refresh();
}

void CCompareCommands::Schedule()
{
    // With nothing compared and no rule on, a change of the panes changes
    // nothing here. While a listing streams in, its end compares once.
    if ((m_comparing || m_filter.IsActive()) && !m_applying && !m_session.IsListing())
        m_refresh.start();
}

QList<ComparedEntry> CCompareCommands::LocalEntries() const
{
    // From the disk, dot files included: the comparison is of the folders,
    // not of what the Local Browser chooses to show.
    QList<ComparedEntry> entries;
    const QFileInfoList infos = QDir(m_comparedLocal).entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& info : infos) {
        const bool folder = info.isDir();
        const quint64 size = folder ? 0 : quint64(info.size());
        if (m_filter.Hides(info.fileName(), folder, size))
            continue;
        entries.append({info.fileName(), folder, size, info.lastModified().toSecsSinceEpoch(), TimePrecision::Exact});
    }
    return entries;
}

void CCompareCommands::ReadExactTimes(const QList<RemoteEntry>& remote, const QList<ComparedEntry>& local)
{
    if (m_exactFolder != m_comparedRemote) {
        m_exactTimes.clear();
        m_exactFolder = m_comparedRemote;
    }
    QSet<QString> localFiles;
    for (const ComparedEntry& entry : local) {
        if (!entry.folder)
            localFiles.insert(entry.name);
    }
    QStringList wanted;
    for (const RemoteEntry& entry : remote) {
        if (entry.folder || entry.precision == TimePrecision::Exact || !localFiles.contains(entry.name))
            continue;
        const auto known = m_exactTimes.constFind(entry.name);
        if (known == m_exactTimes.cend() || known->listed != entry.modified || known->size != entry.size)
            wanted << entry.name;
    }
    if (wanted.isEmpty() || wanted.size() > kMaxExactTimes || m_session.IsBusy())
        return;
    m_readingTimes = true;
    const QHash<QString, qint64> times = m_session.ExactTimes(m_presenter.ListFolder(), wanted);
    m_readingTimes = false;
    for (const RemoteEntry& entry : remote) {
        if (wanted.contains(entry.name))
            m_exactTimes.insert(entry.name, {entry.modified, entry.size, times.value(entry.name, -1)});
    }
}

ComparedEntry CCompareCommands::RemoteEntryOf(const RemoteEntry& entry) const
{
    ComparedEntry compared{entry.name, entry.folder, entry.size, entry.modified, entry.precision};
    const auto known = m_exactTimes.constFind(entry.name);
    if (entry.precision != TimePrecision::Exact && m_exactFolder == m_comparedRemote && known != m_exactTimes.cend()
        && known->listed == entry.modified && known->size == entry.size && known->exact >= 0) {
        compared.modified = known->exact;
        compared.precision = TimePrecision::Exact;
    }
    return compared;
}

void CCompareCommands::Refresh()
{
    if (m_readingTimes)
        return; // compared again once the answers are in
    m_refresh.stop();
    m_rows.clear();
    m_comparedLocal = m_localBrowser.GetCurrentFolderPath();
    m_comparedRemote = m_presenter.ListFolder().ToString();
    const bool listed = m_session.HasConnection() && !m_presenter.ListFolder().IsEmpty() && !m_session.IsListing();
    int onlyOneSide = 0, newer = 0, otherSize = 0, approximate = 0;
    if (m_comparing && listed) {
        const QList<RemoteEntry> rows = m_presenter.AllRows();
        const QList<ComparedEntry> local = LocalEntries();
        if (m_mode == CompareMode::SizeAndTime)
            ReadExactTimes(rows, local);
        QList<ComparedEntry> remote;
        for (const RemoteEntry& entry : rows) {
            if (!m_filter.Hides(entry.name, entry.folder, entry.size))
                remote.append(RemoteEntryOf(entry));
        }
        for (const ComparedRow& row : CFolderComparison::Compare(local, remote, m_mode)) {
            m_rows.insert(row.name, row);
            onlyOneSide += row.difference == Difference::OnlyLocal || row.difference == Difference::OnlyRemote;
            newer += row.difference == Difference::LocalNewer || row.difference == Difference::RemoteNewer;
            otherSize += row.difference == Difference::SizeDiffers;
            approximate += row.approximate;
        }
    }
    m_applying = true;
    m_list.Model()->RefreshMarks();
    const QPointer<CCompareCommands> self(this);
    m_localBrowser.Model()->SetRowMarker(m_comparing ? m_comparedLocal : QString(),
                                         [self](const QString& name, int role) {
                                             return self ? self->Mark(name, true, role) : QVariant();
                                         });
    ApplyHiding();
    m_applying = false;
    // Without a listed folder there is nothing to tell, not "the same files".
    m_legend->setVisible(m_comparing && listed);
    m_legend->ShowCounts(onlyOneSide, newer, otherSize, approximate);
    UpdateNotes();
}

CCompareCommands::Hidden CCompareCommands::WhyHidden(const QString& name, bool folder, quint64 size, bool local,
                                                     const QString& folderPath) const
{
    if (m_filter.Hides(name, folder, size))
        return Hidden::ByFilter;
    if (!m_comparing || !m_hideIdentical || folderPath != (local ? m_comparedLocal : m_comparedRemote))
        return Hidden::No;
    const ComparedRow* row = RowOf(name);
    // A folder on both sides may hold different files: it stays in view.
    return row && row->difference == Difference::Same && !row->folder ? Hidden::AsIdentical : Hidden::No;
}

bool CCompareCommands::HidesRemote(const RemoteEntry& entry) const
{
    return WhyHidden(entry.name, entry.folder, entry.size, false, m_presenter.ListFolder().ToString()) != Hidden::No;
}

bool CCompareCommands::HidesLocal(const QFileInfo& info) const
{
    return WhyHidden(info.fileName(), info.isDir(), info.isDir() ? 0 : quint64(info.size()), true, info.absolutePath())
        != Hidden::No;
}

void CCompareCommands::ApplyHiding()
{
    // The remote rows are sorted anew only when what is held back changes:
    // that costs the selection.
    QSet<QString> wanted;
    for (const RemoteEntry& entry : m_presenter.AllRows()) {
        if (HidesRemote(entry))
            wanted.insert(entry.name);
    }
    QSet<QString> held;
    for (const RemoteEntry& entry : m_presenter.HeldRows())
        held.insert(entry.name);
    if (wanted != held) {
        const QPointer<CCompareCommands> self(this);
        m_presenter.SetRowRule([self](const RemoteEntry& entry) { return self && self->HidesRemote(entry); });
    }
    m_localHider->Apply();
}

void CCompareCommands::UpdateNotes()
{
    int remoteFiltered = 0, remoteIdentical = 0;
    for (const RemoteEntry& entry : m_presenter.HeldRows()) {
        const Hidden why = WhyHidden(entry.name, entry.folder, entry.size, false, m_presenter.ListFolder().ToString());
        remoteFiltered += why == Hidden::ByFilter;
        remoteIdentical += why == Hidden::AsIdentical;
    }
    m_list.SetNote(HiddenText(remoteFiltered, remoteIdentical));
    int localFiltered = 0, localIdentical = 0;
    CLocalFileModel* model = m_localBrowser.Model();
    const QModelIndex root = m_localBrowser.DetailsView()->rootIndex();
    for (int row = 0, rows = model->rowCount(root); row < rows; ++row) {
        if (!m_localBrowser.DetailsView()->isRowHidden(row, root))
            continue;
        const QFileInfo info = model->fileInfo(model->index(row, 0, root));
        const Hidden why =
            WhyHidden(info.fileName(), info.isDir(), info.isDir() ? 0 : quint64(info.size()), true, info.absolutePath());
        localFiltered += why == Hidden::ByFilter;
        localIdentical += why == Hidden::AsIdentical;
    }
    m_localBrowser.SetNote(HiddenText(localFiltered, localIdentical));
}

QVariant CCompareCommands::Mark(const QString& name, bool localSide, int role) const
{
    if (!m_comparing)
        return QVariant();
    const ComparedRow* row = RowOf(name);
    if (!row)
        return QVariant();
    const CompareMark mark = MarkOf(row->difference, localSide);
    switch (role) {
    case Qt::BackgroundRole:
        return mark == CompareMark::Plain ? QVariant() : QVariant(MarkColour(mark));
    case Qt::ForegroundRole:
        // The marks are light: dark text on them whatever the theme.
        return mark == CompareMark::Plain ? QVariant() : QVariant(QColor(Qt::black));
    case Qt::ToolTipRole: {
        QStringList tip;
        if (mark != CompareMark::Plain) {
            const QString name = MarkName(mark);
            tip << name.left(1).toUpper() + name.mid(1) + QLatin1Char('.');
        }
        if (row->approximate)
            tip << QStringLiteral("Compared by size: the server's time for it is not exact.");
        return tip.isEmpty() ? QVariant() : QVariant(tip.join(QLatin1Char(' ')));
    }
    default:
        return QVariant();
    }
}

void CCompareCommands::UpdateCommands(bool connected, bool busy)
{
    using namespace cmd;
    m_command(ID_COMPARE_FOLDERS)->setEnabled(connected || m_comparing);
    m_command(ID_COMPARE_FOLDERS)->setChecked(m_comparing);
    m_command(ID_COMPARE_BY_SIZE)->setChecked(m_mode == CompareMode::Size);
    m_command(ID_COMPARE_BY_SIZE_AND_TIME)->setChecked(m_mode == CompareMode::SizeAndTime);
    m_command(ID_HIDE_IDENTICAL)->setChecked(m_hideIdentical);
    m_legend->HideIdentical()->setChecked(m_hideIdentical);
    // The remote rows are sorted anew when the rules change: not while an
    // operation fills the list.
    m_command(ID_FILENAME_FILTERS)->setEnabled(!busy);
    m_command(ID_HIDE_IDENTICAL)->setEnabled(!busy);
}
