#include "window/frame/RemotePresenter.h"

#include "window/frame/TracePane.h"
#include "engine/base/FileStatus.h"
#include "engine/session/FtpSession.h"
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"

#include <QGuiApplication>
#include <QSignalBlocker>

namespace {

// A node whose folder was listed to the end knows all its subfolders; until
// then (a node made on the way to a deeper folder, or a listing cut short)
// the next listing adds the ones it lacks.
constexpr int kListedRole = Qt::UserRole + 1;

} // namespace

CRemotePresenter::CRemotePresenter(CFtpSession& session, CFtpTreeView& tree, CFtpListView& list, CTracePane& trace,
                                   QObject* parent)
    : QObject(parent), m_session(session), m_tree(tree), m_list(list), m_trace(trace)
{
}

CRemotePresenter::~CRemotePresenter()
{
    if (m_cursorShown)
        QGuiApplication::restoreOverrideCursor();
}

RemotePath CRemotePresenter::PathOfNode(const QTreeWidgetItem* node) const
{
    if (!node)
        return RemotePath();
    QStringList names;
    for (const QTreeWidgetItem* item = node; item->parent(); item = item->parent())
        names.prepend(item->text(0));
    RemotePath path = RemotePath::Root();
    for (const QString& name : names)
        path = path.Child(name);
    return path;
}

QTreeWidgetItem* CRemotePresenter::NodeOfPath(const RemotePath& folder, bool create)
{
    QTreeWidgetItem* node = m_tree.Root();
    if (!node || folder.IsEmpty())
        return nullptr;
    const QSignalBlocker quiet(&m_tree);
    for (const QString& name : folder.Components()) {
        QTreeWidgetItem* child = CFtpTreeView::FindChild(node, name);
        if (!child) {
            if (!create)
                return nullptr;
            child = m_tree.InsertChild(node, name);
        }
        node = child;
    }
    return node;
}

void CRemotePresenter::SelectNode(QTreeWidgetItem* node)
{
    const QSignalBlocker quiet(&m_tree);
    if (!node) {
        m_tree.setCurrentItem(nullptr);
        m_tree.clearSelection();
        return;
    }
    for (QTreeWidgetItem* parent = node->parent(); parent; parent = parent->parent())
        parent->setExpanded(true);
    m_tree.setCurrentItem(node);
    m_tree.scrollToItem(node);
}

bool CRemotePresenter::IsListed(const QTreeWidgetItem* node)
{
    return node->data(0, kListedRole).toBool();
}

void CRemotePresenter::SetListed(QTreeWidgetItem* node, bool listed)
{
    node->setData(0, kListedRole, listed);
}

void CRemotePresenter::SetRowRule(RowRule rule)
{
    m_rowRule = std::move(rule);
    const QList<RemoteEntry> all = AllRows();
    m_held.clear();
    m_list.DeleteAllItems();
    for (const RemoteEntry& entry : all) {
        if (m_rowRule && m_rowRule(entry))
            m_held << entry;
        else
            m_list.AddListingEntry(-1, entry);
    }
    m_list.Model()->FlushPending();
    m_list.SortByColumn(-1);
}

QList<RemoteEntry> CRemotePresenter::AllRows() const
{
    m_list.Model()->FlushPending();
    QList<RemoteEntry> rows;
    rows.reserve(m_list.RowCount() + m_held.size());
    for (int row = 0; row < m_list.RowCount(); ++row) {
        const FtpListItem* item = m_list.Item(row);
        RemoteEntry entry;
        entry.name = item->name;
        entry.size = item->size;
        entry.modified = item->modified;
        entry.precision = item->precision;
        entry.folder = item->folder;
        entry.permissions = item->permissions;
        entry.owner = item->owner;
        entry.group = item->group;
        rows << entry;
    }
    return rows + m_held;
}

int CRemotePresenter::AddNewFolderRow()
{
    FileStatus placeholder;
    // A name no real folder is likely to have, until the typed one comes.
    placeholder.path = QStringLiteral("redloF weN");
    placeholder.attribute = FileStatus::kFolder;
    return m_list.AddOrUpdateEntry(0, placeholder);
}

int CRemotePresenter::AddNewFileRow()
{
    FileStatus placeholder;
    placeholder.path = QStringLiteral("eliF weN");
    return m_list.AddOrUpdateEntry(0, placeholder);
}

void CRemotePresenter::NameNewFolderRow(int row, const QString& name)
{
    if (row >= 0)
        m_list.SetItemName(row, name);
}

void CRemotePresenter::RemoveNewFolderRow(int row)
{
    if (row >= 0)
        m_list.RemoveItem(row);
}

void CRemotePresenter::OnMessage(const QString& text, IPrompts::Icon icon)
{
    Prompts().Message(nullptr, text, icon);
}

void CRemotePresenter::OnRequest(RetryCountdownRequest& request)
{
    request.retry = Prompts().RetryCountdown(nullptr, request.delaySeconds, request.errorText);
}

void CRemotePresenter::OnRequest(CertificateTrustRequest& request)
{
    request.answer = Prompts().AskCertificate(nullptr, request.question);
}

void CRemotePresenter::OnRequest(HostKeyRequest& request)
{
    request.answer = Prompts().AskHostKey(nullptr, request.question);
}

void CRemotePresenter::OnRequest(PassphraseRequest& request)
{
    request.answered = Prompts().AskPassphrase(nullptr, request.keyFile, request.passphrase);
}

void CRemotePresenter::OnRequest(PasswordRequest& request)
{
    if (m_askPassword)
        m_askPassword(request);
}

void CRemotePresenter::OnTrace(int level, const QString& text)
{
    m_trace.AddLine(level, text);
}

void CRemotePresenter::OnStatusLine(const QString& text)
{
    m_trace.AddLine(TRACE_INFO, text);
}

void CRemotePresenter::OnConnected()
{
    m_tree.ShowEnabled();
    m_list.ShowEnabled();
    emit ConnectionChanged();
}

void CRemotePresenter::OnDisconnected()
{
    m_tree.ShowDisabled();
    m_list.ShowDisabled();
    emit ConnectionChanged();
}

void CRemotePresenter::OnBusyChanged(bool busy)
{
    if (busy != m_cursorShown) {
        if (busy)
            QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QGuiApplication::restoreOverrideCursor();
        m_cursorShown = busy;
    }
    m_tree.SetInputLocked(busy);
    m_list.SetInputLocked(busy);
    emit BusyChanged(busy);
}

void CRemotePresenter::OnFolderTreeReset()
{
    {
        const QSignalBlocker quiet(&m_tree);
        m_tree.clear();
    }
    m_list.DeleteAllItems();
    m_listFolder = RemotePath();
    if (m_session.HasConnection()) {
        const QSignalBlocker quiet(&m_tree);
        m_tree.InsertRoot()->setExpanded(true);
        // The way down to the login folder, open; its listing selects it.
        for (QTreeWidgetItem* node = NodeOfPath(m_session.HomeFolder(), true); node; node = node->parent())
            node->setExpanded(true);
    }
}

void CRemotePresenter::OnListingStarted(const RemotePath& folder, bool refresh)
{
    m_list.DeleteAllItems();
    m_list.SetIncomplete(false);
    m_list.ShowBusy(true);
    m_listFolder = folder;
    m_rows = 0;
    m_newFolders.clear();
    m_held.clear();
    QTreeWidgetItem* node = NodeOfPath(folder, true);
    if (node && refresh) {
        const QSignalBlocker quiet(&m_tree);
        m_tree.DeleteChildren(node);
        SetListed(node, false);
    }
    m_fillNode = node && !IsListed(node);
    SelectNode(node);
    if (node)
        node->setExpanded(true);
}

void CRemotePresenter::OnListingEntry(const RemoteEntry& entry)
{
    if (m_rowRule && m_rowRule(entry))
        m_held << entry;
    else
        m_list.AddListingEntry(m_rows++, entry);
    if (entry.folder && m_fillNode)
        m_newFolders << entry.name;
}

void CRemotePresenter::OnListingFinished(const RemotePath& folder, ListingOutcome outcome)
{
    if (m_fillNode) {
        if (QTreeWidgetItem* node = NodeOfPath(folder, false)) {
            const QSignalBlocker quiet(&m_tree);
            m_tree.AddChildren(node, m_newFolders);
            SetListed(node, outcome == ListingOutcome::Complete);
        }
    }
    m_fillNode = false;
    m_newFolders.clear();
    m_list.ShowBusy(false);
    m_list.SetIncomplete(outcome != ListingOutcome::Complete);
    emit ListingEnded(folder, outcome == ListingOutcome::Complete);
    if (m_list.RowCount() > 0) {
        m_list.FitColumnsOnce();
        m_list.SortByColumn(-1);
        m_list.FocusList();
        m_list.SelectItem(0);
    }
}

void CRemotePresenter::ShowListedFolderInTree()
{
    SelectNode(NodeOfPath(m_session.ListedPath(), false));
}

void CRemotePresenter::OnListingRefused(const RemotePath&)
{
    // The list still shows the folder listed before; so does the tree again.
    ShowListedFolderInTree();
}

void CRemotePresenter::OnItemAdded(const RemotePath& path, const RemoteEntry& entry)
{
    if (path.Parent() == m_listFolder && m_rowRule && m_rowRule(entry)) {
        m_held.removeIf([&](const RemoteEntry& held) { return held.name == entry.name; });
        m_held << entry;
    } else if (path.Parent() == m_listFolder && m_list.FindRow(entry.name) < 0) {
        FileStatus row;
        row.path = entry.name;
        row.size = entry.size;
        row.attribute = entry.folder ? FileStatus::kFolder : 0;
        m_list.AddOrUpdateEntry(-1, row, Qt::CaseSensitive);
    }
    if (entry.folder)
        AddFolderNode(path);
}

void CRemotePresenter::AddFolderNode(const RemotePath& folder)
{
    QTreeWidgetItem* parent = NodeOfPath(folder.Parent(), false);
    if (!parent || CFtpTreeView::FindChild(parent, folder.Name()))
        return;
    const QSignalBlocker quiet(&m_tree);
    m_tree.InsertChild(parent, folder.Name());
}

void CRemotePresenter::ShowStoredItem(const FileStatus& item)
{
    const RemotePath path = RemotePath::FromServer(item.path);
    const QStringList below = path.ComponentsBelow(m_listFolder);
    if (m_listFolder.IsEmpty() || below.isEmpty())
        return; // outside the folder on display
    // Straight into the listed folder: its own row. Deeper: the row of the
    // subfolder it went into.
    FileStatus row;
    row.path = below.first();
    const bool folder = below.size() > 1 || item.IsFolder();
    row.attribute = folder ? FileStatus::kFolder : 0;
    row.size = folder ? 0 : item.size;
    m_list.AddOrUpdateEntry(-1, row, Qt::CaseSensitive);
    if (folder)
        AddFolderNode(m_listFolder.Child(row.path));
}

void CRemotePresenter::OnItemRemoved(const RemotePath& path)
{
    if (path.Parent() == m_listFolder) {
        m_held.removeIf([&](const RemoteEntry& held) { return held.name == path.Name(); });
        const int row = m_list.FindRow(path.Name());
        if (row >= 0)
            m_list.RemoveItem(row);
    }
    QTreeWidgetItem* node = NodeOfPath(path, false);
    if (!node || node == m_tree.Root())
        return;
    {
        const QSignalBlocker quiet(&m_tree);
        m_tree.DeleteItem(node);
    }
    // The listed folder may have gone with it (removed from elsewhere).
    ShowListedFolderInTree();
}

void CRemotePresenter::OnItemRenamed(const RemotePath& from, const RemotePath& to)
{
    if (from.Parent() == m_listFolder) {
        for (RemoteEntry& held : m_held) {
            if (held.name == from.Name())
                held.name = to.Name();
        }
        const int row = m_list.FindRow(from.Name());
        if (row >= 0)
            m_list.SetItemName(row, to.Name());
    }
    QTreeWidgetItem* node = NodeOfPath(from, false);
    if (!node || node == m_tree.Root())
        return;
    const QSignalBlocker quiet(&m_tree);
    if (to.Parent() == from.Parent())
        m_tree.RenameItem(node, to.Name());
    else
        m_tree.DeleteItem(node); // moved elsewhere: its new place is learnt by listing it
}
