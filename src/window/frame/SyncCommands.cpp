#include "window/frame/SyncCommands.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/base/TraceLevel.h"
#include "engine/session/FtpSession.h"
#include "engine/sync/SyncComparer.h"
#include "engine/transfer/SyncJobs.h"
#include "engine/transfer/TransferQueue.h"
#include "window/frame/RemoteItemCommands.h"
#include "window/frame/RemotePresenter.h"
#include "window/frame/TransferCommands.h"
#include "window/local/LocalBrowserBar.h"
#include "window/resources/CommandIds.h"
#include "window/sync/SearchDlg.h"
#include "window/sync/SyncPreviewDlg.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

namespace {

constexpr int kMessageMs = 8000;

// The way from one folder to another: `up` levels up, then down by names.
struct Way {
    qsizetype up = 0;
    QStringList down;
};

Way WayBetween(const QStringList& from, const QStringList& to)
{
    qsizetype common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common])
        ++common;
    return {from.size() - common, to.mid(common)};
}

QStringList LocalComponents(const QString& folder)
{
    return QDir::cleanPath(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

} // namespace

CSyncCommands::CSyncCommands(CFtpSession& session, CRemotePresenter& presenter, CRemoteItemCommands& items,
                             CTransferCommands& transfers, CTransferQueue& queue, CLocalBrowserBar& localBrowser,
                             QStatusBar& statusBar, CommandLookup command, QWidget* window)
    : QObject(window), m_session(session), m_presenter(presenter), m_items(items), m_transfers(transfers),
      m_queue(queue), m_localBrowser(localBrowser), m_statusBar(statusBar), m_command(std::move(command)),
      m_window(window)
{
    using namespace cmd;
    QAction* inStep = m_command(ID_SYNCHRONIZED_BROWSING);
    inStep->setCheckable(true);
    connect(inStep, &QAction::triggered, this, &CSyncCommands::SetBrowsingInStep);
    connect(m_command(ID_SYNCHRONIZE), &QAction::triggered, this, &CSyncCommands::OnSynchronize);
    connect(m_command(ID_SEARCH_REMOTE), &QAction::triggered, this, &CSyncCommands::OnSearch);
    connect(&m_presenter, &CRemotePresenter::ListingEnded, this,
            [this](const RemotePath& folder, bool) { FollowRemote(folder); });
    connect(&m_localBrowser, &CLocalBrowserBar::FolderChanged, this, &CSyncCommands::FollowLocal);
    connect(&m_presenter, &CRemotePresenter::ConnectionChanged, this, [this] {
        if (!m_session.HasConnection())
            SetBrowsingInStep(false);
    });
}

CSearchDlg* CSyncCommands::SearchDialog() const
{
    return m_search;
}

void CSyncCommands::Say(const QString& text)
{
    m_statusBar.showMessage(text, kMessageMs);
}

void CSyncCommands::SetBrowsingInStep(bool on)
{
    const bool possible = m_session.HasConnection() && !m_session.ListedPath().IsEmpty();
    m_inStep = on && possible;
    m_command(cmd::ID_SYNCHRONIZED_BROWSING)->setChecked(m_inStep);
    if (!m_inStep)
        return;
    // The pair of folders the two sides keep to, whatever happens later.
    m_localBase = QDir::cleanPath(m_localBrowser.GetCurrentFolderPath());
    m_remoteBase = m_session.ListedPath();
    Say(QStringLiteral("Synchronized browsing: \"%1\" goes with \"%2\".").arg(m_localBase, m_remoteBase.ToString()));
}

void CSyncCommands::FollowRemote(const RemotePath& folder)
{
    if (!m_inStep || folder.IsEmpty())
        return;
    const Way way = WayBetween(m_remoteBase.Components(), folder.Components());
    const QStringList base = LocalComponents(m_localBase);
    if (way.up > base.size()) {
        Say(QStringLiteral("Synchronized browsing: the Local Browser cannot go above \"/\"."));
        return;
    }
    const QString target = QLatin1Char('/') + (base.mid(0, base.size() - way.up) + way.down).join(QLatin1Char('/'));
    if (target == QDir::cleanPath(m_localBrowser.GetCurrentFolderPath()))
        return;
    if (!QFileInfo(target).isDir()) {
        OfferLocalFolder(target);
        return;
    }
    m_localBrowser.BrowseTo(target, true);
}

void CSyncCommands::FollowLocal(const QString& folder)
{
    if (!m_inStep || !m_session.HasConnection())
        return;
    const Way way = WayBetween(LocalComponents(m_localBase), LocalComponents(folder));
    const QStringList base = m_remoteBase.Components();
    if (way.up > base.size()) {
        Say(QStringLiteral("Synchronized browsing: the remote side cannot go above \"/\"."));
        return;
    }
    RemotePath target = RemotePath::Root();
    for (const QString& name : base.mid(0, base.size() - way.up) + way.down) {
        target = target.Child(name);
        if (target.IsEmpty()) {
            Say(QStringLiteral("Synchronized browsing: \"%1\" is not a name a server can have.").arg(name));
            return;
        }
    }
    const RemotePath& listed = m_session.ListedPath();
    if (target == listed)
        return;
    if (m_session.IsBusy()) {
        Say(QStringLiteral("Synchronized browsing could not follow: the server is busy with another operation."));
        return;
    }
    // A subfolder the listed folder does not hold is known to be missing.
    if (target.Parent() == listed) {
        bool there = false;
        for (const RemoteEntry& entry : m_presenter.AllRows())
            there = there || (entry.folder && entry.name == target.Name());
        if (!there) {
            OfferRemoteFolder(target);
            return;
        }
    }
    if (!m_session.ListFolder(target, false))
        OfferRemoteFolder(target);
}

void CSyncCommands::OfferRemoteFolder(const RemotePath& folder)
{
    const QString question =
        QStringLiteral("The remote folder \"%1\" does not exist (or cannot be opened). Do you want to create it?")
            .arg(folder.ToString());
    if (Prompts().AskYesNo(m_window, question, QStringLiteral("Synchronized Browsing")) != IPrompts::Yes) {
        Say(QStringLiteral("Synchronized browsing: the remote folder \"%1\" does not exist.").arg(folder.ToString()));
        return;
    }
    if (m_session.MakeFolder(folder))
        m_session.ListFolder(folder, false);
}

void CSyncCommands::OfferLocalFolder(const QString& folder)
{
    const QString question =
        QStringLiteral("The local folder \"%1\" does not exist. Do you want to create it?").arg(folder);
    if (Prompts().AskYesNo(m_window, question, QStringLiteral("Synchronized Browsing")) != IPrompts::Yes) {
        Say(QStringLiteral("Synchronized browsing: the local folder \"%1\" does not exist.").arg(folder));
        return;
    }
    if (!QDir().mkpath(folder)) {
        Prompts().Message(m_window, QStringLiteral("The folder \"%1\" could not be created.").arg(folder),
                          IPrompts::Icon::Error);
        return;
    }
    m_localBrowser.BrowseTo(folder, true);
}

std::function<std::unique_ptr<IFolderLister>()> CSyncCommands::ListerFactory() const
{
    using namespace kx;
    const TransferSite site = m_transfers.SiteOfSession();
    const int timeoutMs = GetProfileInt(settings::ConnectionTimeout) * 1000;
    const int proxyType = GetProfileInt(settings::ProxyType);
    const QString proxyName = GetProfileString(settings::ProxyName);
    return [site, timeoutMs, proxyType, proxyName] { return OpenFolderLister(site, timeoutMs, proxyType, proxyName); };
}

void CSyncCommands::OnSynchronize()
{
    if (!m_session.HasConnection() || m_session.ListedPath().IsEmpty())
        return;
    // The two folders as they are now, whatever the panes show later.
    const QString localRoot = QDir::cleanPath(m_localBrowser.GetCurrentFolderPath());
    const RemotePath remoteRoot = m_session.ListedPath();
    CSyncPreviewDlg dialog(localRoot, remoteRoot.ToString(), m_window);
    CSyncComparer comparer;
    SyncPlan shown;
    SyncDirection shownDirection = SyncDirection::Upload;
    SyncDirection asked = SyncDirection::Upload;
    bool again = false;
    const auto start = [&] {
        CSyncComparer::Request request;
        request.localRoot = localRoot;
        request.remoteRoot = remoteRoot;
        request.direction = asked = dialog.Direction();
        request.options = dialog.Options();
        request.connections = std::clamp(kx::GetProfileInt(kx::settings::ConnectionsPerJob), 1, 10);
        request.openLister = ListerFactory();
        dialog.StartButton()->setEnabled(false);
        dialog.Summary()->setText(QStringLiteral("Listing both folders..."));
        comparer.Start(std::move(request));
    };
    connect(&dialog, &CSyncPreviewDlg::PlanWanted, &comparer, [&] {
        // Options changed while one ran: its plan is for the old ones.
        if (comparer.IsRunning()) {
            again = true;
            comparer.Cancel();
            return;
        }
        start();
    });
    connect(&comparer, &CSyncComparer::Finished, &dialog, [&](const SyncPlan& plan) {
        if (again) {
            again = false;
            start();
            return;
        }
        shown = plan;
        shownDirection = asked;
        dialog.ShowPlan(plan);
    });
    if (dialog.exec() != QDialog::Accepted || !shown.error.isEmpty())
        return;
    CarryOut(shown, dialog.Chosen(), shownDirection, localRoot, remoteRoot);
}

void CSyncCommands::CarryOut(const SyncPlan& plan, const QList<SyncItem>& chosen, SyncDirection direction,
                             const QString& localRoot, const RemotePath& remoteRoot)
{
    const bool upload = direction == SyncDirection::Upload;
    TransferJob job = MakeSyncJob(chosen, plan.items, direction, localRoot, remoteRoot, m_transfers.SiteOfSession());
    const qsizetype copies = std::count_if(job.files.begin(), job.files.end(), [](const TransferFile& f) { return !f.folder; });
    if (!job.files.empty())
        m_queue.AddCollected(upload ? TransferDirection::Upload : TransferDirection::Download, std::move(job));
    // Only what was ticked goes, deepest first as the plan lists it; a
    // folder only once it is empty, so nothing unticked inside it goes along.
    int deleted = 0, kept = 0;
    for (const SyncItem& item : chosen) {
        if (item.action != SyncItem::Action::Delete)
            continue;
        bool gone = false;
        if (upload) {
            RemotePath path = remoteRoot;
            for (const QString& name : item.path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
                path = path.Child(name);
            if (!path.IsEmpty() && path != remoteRoot)
                gone = item.folder ? m_session.DeleteFolder(path, false) : m_session.DeleteFile(path);
        } else {
            const QString path = localRoot + QLatin1Char('/') + item.path;
            // Into the trash: a deletion on the disk can still be undone.
            gone = item.folder ? QDir().rmdir(path) : QFile::moveToTrash(path);
            if (!gone)
                m_session.Trace(TRACE_ERROR, QStringLiteral("Synchronize: \"%1\" could not be deleted%2.")
                                                 .arg(path, item.folder ? QStringLiteral(" (it is not empty)")
                                                                        : QStringLiteral(" (no trash to move it to)")));
        }
        (gone ? deleted : kept) += 1;
    }
    m_session.Trace(TRACE_INFO, QStringLiteral("Synchronize: %1 file(s) queued to %2, %3 deleted%4.")
                                    .arg(copies)
                                    .arg(upload ? QStringLiteral("upload") : QStringLiteral("download"))
                                    .arg(deleted)
                                    .arg(kept > 0 ? QStringLiteral(", %1 could not be deleted").arg(kept) : QString()));
    if (QAction* manager = m_command(cmd::ID_VIEW_TRANSFER_MANAGER); copies > 0 && manager && !manager->isChecked())
        manager->trigger();
}

void CSyncCommands::OnSearch()
{
    if (m_search) {
        m_search->raise();
        m_search->activateWindow();
        return;
    }
    if (!m_session.HasConnection())
        return;
    auto* dialog = new CSearchDlg(m_session.ListedPath().IsEmpty() ? RemotePath::Root() : m_session.ListedPath(),
                                  ListerFactory(), m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_search = dialog;
    connect(dialog, &CSearchDlg::DownloadRequested, this, [this](const QList<SearchMatch>& matches) {
        // One job per folder the matches are in, as Download makes one per folder on display.
        QList<RemotePath> folders;
        QHash<QString, FileStatusList> byFolder;
        for (const SearchMatch& match : matches) {
            const RemotePath folder = match.path.Parent();
            if (!byFolder.contains(folder.ToString()))
                folders << folder;
            FileStatus entry;
            entry.path = match.entry.name;
            entry.size = match.entry.size;
            entry.modified = entry.created = entry.accessed = std::max<qint64>(0, match.entry.modified);
            entry.attribute = match.entry.folder ? FileStatus::kFolder : 0;
            byFolder[folder.ToString()] << entry;
        }
        for (const RemotePath& folder : std::as_const(folders))
            m_transfers.DownloadFrom(folder, byFolder.value(folder.ToString()));
    });
    connect(dialog, &CSearchDlg::DeleteRequested, this, [this, dialog](const QList<SearchMatch>& matches) {
        if (matches.isEmpty())
            return;
        const QString question = matches.size() == 1
            ? QStringLiteral("Are you sure you want to delete '%1'%2?")
                  .arg(matches.first().path.ToString(),
                       matches.first().entry.folder ? QStringLiteral(" and all its contents") : QString())
            : QStringLiteral("Are you sure you want to delete these %1 items?").arg(matches.size());
        if (Prompts().AskYesNo(dialog, question, QStringLiteral("Confirm Delete")) != IPrompts::Yes)
            return;
        QList<RemoteItem> items;
        for (const SearchMatch& match : matches)
            items.append({match.path, match.entry.folder});
        m_session.DeleteItems(items);
    });
    connect(dialog, &CSearchDlg::OpenFolderRequested, this,
            [this](const RemotePath& folder) { m_items.GoToFolder(folder.ToString()); });
    dialog->show();
}

void CSyncCommands::UpdateCommands(bool connected, bool busy)
{
    using namespace cmd;
    const bool listed = connected && !m_session.ListedPath().IsEmpty();
    m_command(ID_SYNCHRONIZED_BROWSING)->setEnabled(listed || m_inStep);
    m_command(ID_SYNCHRONIZED_BROWSING)->setChecked(m_inStep);
    m_command(ID_SYNCHRONIZE)->setEnabled(listed && !busy);
    m_command(ID_SEARCH_REMOTE)->setEnabled(connected);
}
