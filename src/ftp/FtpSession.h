#pragma once

#include "ftp/FtpSite.h"
#include "ftp/SyncEvent.h"
#include "ftp/TraceLevel.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class CFtpListView;
class CFtpTreeView;
class QTreeWidgetItem;
class QWidget;

namespace inet {
class FtpConnection;
class InternetError;
class InternetSession;
}

// How the session reports to the main window.
class ISessionEvents {
public:
    virtual ~ISessionEvents() = default;
    virtual void OnTrace(int level, const QString& text) = 0;
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;
};

// The main window's one connection to one site: the site's parameters, the
// internet session and the FTP connection on it. Every operation runs on the
// GUI thread and reports each step as a trace line; a blocking connect runs
// on a short-lived thread while the GUI thread keeps dispatching events.
class CFtpSession : public QObject {
    Q_OBJECT
public:
    CFtpSession();
    ~CFtpSession() override;

    // Opens a connection to a catalogue site path or an address. A null
    // siteOrAddress lets the user pick a site (see SetSiteChooser). True only
    // when a connection stands at the end.
    bool Connect(const QString* siteOrAddress, const QString& user, const QString& password);
    void Close();
    bool IsConnected();
    QString GetLastResponse() const;
    bool EnableStatusTrace(bool enable);

    // Folder operations on the open connection. `name` for ListFolder is the
    // tree path of `item` ("/a/b"), resolved against the home folder; with
    // refresh, the folder listed last is listed again into `item`.
    bool ListFolder(const QString& name, QTreeWidgetItem* item, bool refresh);
    // Rebuilds the tree unless keepTree, selects the root (which lists it)
    // and walks `path` component by component, matching names ignoring case.
    void OpenPath(const QString* path, bool keepTree);
    bool ChangeFolder(const QString& path);
    bool DeleteFile(const QString& name);
    bool DeleteFolder(const QString& name, bool recursive);
    bool Rename(const QString& oldName, const QString& newName);
    bool MakeFolder(const QString& name);

    // Raw commands: the command line goes to the server as typed and its
    // reply to the Trace pane.
    void SendCustomCommand(const QString& command);
    void SendKeepAlive();

    // Formats "[thread id] text" and hands it to the events receiver.
    void Trace(int level, const QString& text);

    // Cancel: stops a running listing, and gives up a connect attempt that
    // is waiting for its thread.
    void Cancel();

    void SetEvents(ISessionEvents* events) { m_events = events; }
    void SetViews(CFtpListView* list, CFtpTreeView* tree)
    {
        m_listView = list;
        m_treeView = tree;
    }
    // The frame: owner of dialogs and receiver of the status lines (posted
    // as StatusTextEvent).
    void SetFrame(QWidget* frame);
    void SetProxy(int proxyType, const QString& proxyName);
    // Runs the Site Manager; returns false when the user cancelled.
    using SiteChooser = std::function<bool(QWidget* owner, CFtpSite& chosen)>;
    void SetSiteChooser(SiteChooser chooser) { m_siteChooser = std::move(chooser); }
    bool HasSiteChooser() const { return static_cast<bool>(m_siteChooser); }

    const CFtpSite& Site() const { return m_site; }
    const QString& ListedPath() const { return m_listedPath; }
    const QString& HomeFolder() const { return m_homeFolder; }
    const QString& Server() const { return m_server; }
    bool IsConnecting() const { return m_connecting; }
    bool IsListing() const { return m_listing; }
    bool IsWalkingPath() const { return m_walkingPath; }
    bool HasConnection() const { return m_connection != nullptr; }
    inet::FtpConnection* Connection() const { return m_connection.get(); }

signals:
    // Command states (Connect, Cancel...) changed while an operation runs.
    void CommandStateChanged();

protected:
    bool event(QEvent* event) override;

private:
    struct ConnectAttempt;
    struct StatusSink;

    std::unique_ptr<inet::FtpConnection> OpenConnection(const QString& server, int port,
                                                        std::shared_ptr<ConnectAttempt>& attempt);
    bool OpenInternetSession();
    void RefreshCommandUI();
    bool DeleteFolderTree(const QString& name, int depth);
    // The server's reply when it had a say in the failure (else the error's
    // own text), then the operation's line; both red.
    void TraceFailure(const inet::InternetError& error, const QString& line);
    bool RequireConnection();
    // Server replies go to the Trace pane as one line.
    static QString WithoutLineBreaks(QString text);
    // Runs one server operation; a refusal traces the reply and failureLine.
    bool Attempt(const std::function<void()>& operation, const QString& failureLine);
    // Removes a file or an empty folder with its success or failure lines.
    bool RemoveTraced(const QString& name, bool folder);
    void SendAndTraceReply(const QString& command);

    ISessionEvents* m_events = nullptr;
    CFtpListView* m_listView = nullptr;
    CFtpTreeView* m_treeView = nullptr;
    QPointer<QWidget> m_frame;
    CFtpSite m_site;
    QString m_listedPath;
    QString m_homeFolder = QStringLiteral("/");
    QString m_server;
    bool m_walkingPath = false;
    QString m_proxyName;
    int m_proxyType = 0;
    // Shared with connect threads, which may outlive an attempt given up.
    std::shared_ptr<inet::InternetSession> m_internetSession;
    std::unique_ptr<inet::FtpConnection> m_connection;
    std::shared_ptr<ConnectAttempt> m_attempt;
    std::shared_ptr<StatusSink> m_statusSink;
    QString m_lastResponse;
    bool m_listing = false;
    bool m_connecting = false;
    SiteChooser m_siteChooser;
};
