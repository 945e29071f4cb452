#pragma once

#include "engine/base/RemotePath.h"
#include "engine/sync/SyncPlan.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class CFtpSession;
class CLocalBrowserBar;
class CRemoteItemCommands;
class CRemotePresenter;
class CSearchDlg;
class CTransferCommands;
class CTransferQueue;
class QAction;
class QStatusBar;
class QWidget;
struct TransferSite;

// Synchronized Browsing, Synchronize and Search Remote Files.
//
// Synchronized browsing keeps the two panes on the same relative path from
// the pair of folders where it was switched on: entering or leaving a
// folder on one side does the same on the other, and a folder the other side
// lacks is named, with the offer to make it.
//
// Synchronize lists both folders on connections of its own (the window
// stays usable), shows the preview, and on Start queues one job for the
// copies and carries out the deletions the user ticked: on the server
// through the session, on the disk into the trash.
//
// The search walks the server on a connection of its own; its matches are
// downloaded, deleted or opened through the window's own commands.
class CSyncCommands : public QObject {
    Q_OBJECT
public:
    using CommandLookup = std::function<QAction*(int id)>;

    CSyncCommands(CFtpSession& session, CRemotePresenter& presenter, CRemoteItemCommands& items,
                  CTransferCommands& transfers, CTransferQueue& queue, CLocalBrowserBar& localBrowser,
                  QStatusBar& statusBar, CommandLookup command, QWidget* window);

    bool BrowsesInStep() const { return m_inStep; }
    void SetBrowsingInStep(bool on);
    void OnSynchronize();
    void OnSearch();
    // The search window while it is open.
    CSearchDlg* SearchDialog() const;
    // The ticked rows of a preview carried out: the copies queued as one
    // job, the deletions done. Public for the tests of what Start does.
    void CarryOut(const SyncPlan& plan, const QList<SyncItem>& chosen, SyncDirection direction,
                  const QString& localRoot, const RemotePath& remoteRoot);
    void UpdateCommands(bool connected, bool busy);

private:
    // The other side follows the side that moved.
    void FollowRemote(const RemotePath& folder);
    void FollowLocal(const QString& folder);
    void OfferRemoteFolder(const RemotePath& folder);
    void OfferLocalFolder(const QString& folder);
    std::function<std::unique_ptr<class IFolderLister>()> ListerFactory() const;
    void Say(const QString& text);

    CFtpSession& m_session;
    CRemotePresenter& m_presenter;
    CRemoteItemCommands& m_items;
    CTransferCommands& m_transfers;
    CTransferQueue& m_queue;
    CLocalBrowserBar& m_localBrowser;
    QStatusBar& m_statusBar;
    CommandLookup m_command;
    QWidget* m_window;
    QPointer<CSearchDlg> m_search;

    bool m_inStep = false;
    QString m_localBase;
    RemotePath m_remoteBase;
};
