#pragma once

#include "engine/base/FileStatus.h"
#include "engine/base/RemoteEntry.h"
#include "engine/base/RemotePath.h"
#include "engine/session/SessionEvents.h"

#include <QObject>
#include <QStringList>

#include <functional>

class CFtpListView;
class CFtpSession;
class CFtpTreeView;
class CTracePane;
class QTreeWidgetItem;

// Keeps the remote views in step with the session: the folder tree, the file
// list and the Trace pane follow its notifications, and while an operation
// runs the views take no input and the cursor shows the program is busy.
//
// The tree shows the server's real paths: its root is "/", and after a
// connect it holds the home folder's ancestors down to the home folder,
// expanded, with the home folder selected. Every folder listed gets its node
// on the way from "/". The presenter moves the tree's selection itself
// without announcing it, so only a user's click reaches whoever listens to
// the tree.
class CRemotePresenter : public QObject, public ISessionEvents {
    Q_OBJECT
public:
    CRemotePresenter(CFtpSession& session, CFtpTreeView& tree, CFtpListView& list, CTracePane& trace,
                     QObject* parent = nullptr);
    ~CRemotePresenter() override;

    RemotePath PathOfNode(const QTreeWidgetItem* node) const;
    // The node of a folder (with create, the missing nodes on the way from
    // "/" are added); null when it has none, or for an empty path.
    QTreeWidgetItem* NodeOfPath(const RemotePath& folder, bool create);
    // The folder whose rows the list shows.
    const RemotePath& ListFolder() const { return m_listFolder; }
    // Selects the listed folder's node again, without a listing following.
    void ShowListedFolderInTree();
    // A file or folder a transfer has just stored (its absolute path): a row
    // for it in the folder on display, or for the subfolder it went into.
    void ShowStoredItem(const FileStatus& item);

    // Rows this rule holds back stay out of the list, so that no command
    // acts on them (what the filename filters hide, a comparison's identical
    // rows), until the rule changes; null holds back none. Setting it sorts
    // the folder's rows anew.
    using RowRule = std::function<bool(const RemoteEntry& entry)>;
    void SetRowRule(RowRule rule);
    const QList<RemoteEntry>& HeldRows() const { return m_held; }
    // Every row of the folder on display, shown or held back.
    QList<RemoteEntry> AllRows() const;

    // The row a new folder's name is typed into, before the server has it;
    // -1 when none could be added. The presenter is the list's one writer,
    // so the placeholder goes through it too.
    int AddNewFolderRow();
    // The same for a new empty file.
    int AddNewFileRow();
    // The typed name, before the folder is made: the new folder's notice
    // then finds this row rather than adding a second one.
    void NameNewFolderRow(int row, const QString& name);
    void RemoveNewFolderRow(int row);

    // ISessionEvents
    void OnTrace(int level, const QString& text) override;
    void OnStatusLine(const QString& text) override;
    void OnConnected() override;
    void OnDisconnected() override;
    void OnBusyChanged(bool busy) override;
    void OnFolderTreeReset() override;
    void OnListingStarted(const RemotePath& folder, bool refresh) override;
    void OnListingEntry(const RemoteEntry& entry) override;
    void OnListingFinished(const RemotePath& folder, ListingOutcome outcome) override;
    void OnListingRefused(const RemotePath& folder) override;
    void OnItemAdded(const RemotePath& path, const RemoteEntry& entry) override;
    void OnItemRemoved(const RemotePath& path) override;
    void OnItemRenamed(const RemotePath& from, const RemotePath& to) override;
    // The session's messages and questions, as the dialogs behind Prompts()
    // show them.
    void OnMessage(const QString& text, IPrompts::Icon icon) override;
    void OnRequest(RetryCountdownRequest& request) override;
    void OnRequest(CertificateTrustRequest& request) override;
    void OnRequest(HostKeyRequest& request) override;
    void OnRequest(PassphraseRequest& request) override;
    // Handed on to whoever knows where a remembered password goes.
    void OnRequest(PasswordRequest& request) override;
    void SetPasswordAsker(std::function<void(PasswordRequest&)> asker) { m_askPassword = std::move(asker); }

signals:
    void BusyChanged(bool busy);
    void ConnectionChanged();
    // A listing ended; incomplete ones leave the list marked as such.
    void ListingEnded(const RemotePath& folder, bool complete);

private:
    // The folder's node, when its parent has one and it has none yet.
    void AddFolderNode(const RemotePath& folder);
    // Selects the node, or nothing for null, without a listing following.
    void SelectNode(QTreeWidgetItem* node);
    static bool IsListed(const QTreeWidgetItem* node);
    static void SetListed(QTreeWidgetItem* node, bool listed);

    CFtpSession& m_session;
    CFtpTreeView& m_tree;
    CFtpListView& m_list;
    CTracePane& m_trace;
    RemotePath m_listFolder;
    // The running listing's folder has a node that still has to learn its
    // subfolders; they are added when the listing ends.
    bool m_fillNode = false;
    QStringList m_newFolders;
    int m_rows = 0;
    bool m_cursorShown = false;
    std::function<void(PasswordRequest&)> m_askPassword;
    RowRule m_rowRule;
    QList<RemoteEntry> m_held;
};
