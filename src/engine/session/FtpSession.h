#pragma once

#include "engine/base/FtpSite.h"
#include "engine/base/Permissions.h"
#include "engine/base/RemotePath.h"
#include "engine/inet/InternetError.h"
#include "engine/remote/FtpFileSystem.h"
#include "engine/remote/RemoteFileSystem.h"
#include "engine/session/FtpUrl.h"
#include "engine/session/SessionEvents.h"
#include "engine/session/SessionSettings.h"

#include <QElapsedTimer>
#include <QList>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace inet {
class InternetSession;
struct CertificateInfo;
}

// One file or folder a command acts on, named when the command started.
struct RemoteItem {
    RemotePath path;
    bool folder = false;
};


// The main window's one connection to one site: the site's parameters, the
// connection (FTP or SFTP, through remote::IFileSystem), and the folder it lists.
//
// Thread rules: every operation runs on the GUI thread; a blocking connect
// runs on a short-lived thread while the GUI thread keeps its event loop
// going. The event loop also runs, at most every few hundredths of a second,
// while a listing or a multi-step operation is under way, so the window stays
// alive and Cancel can be chosen.
//
// One operation at a time: while one runs (connect, listing, path walk,
// delete, rename, new folder, raw command, keep-alive), every other call is
// refused with a trace line and sends nothing; Cancel alone is heard. Items
// are named by absolute paths, never relative to the server's current folder,
// and whatever way an operation ends the server is left in the listed folder.
//
// Failures become trace lines: the server's reply, then the operation's own
// line. Nothing here touches a widget; the receiver of ISessionEvents does,
// and it answers the questions the session asks (retry countdown,
// certificate) as request objects. What the session needs of the settings
// comes in as a value (SetSettings); which site to connect to is decided
// before Connect (SiteToConnect, the Site Manager).
class CFtpSession : public QObject {
    Q_OBJECT
public:
    CFtpSession();
    ~CFtpSession() override;

    // Opens a connection to the site, with its attempts. True only when a
    // connection stands at the end.
    bool Connect(const CFtpSite& site);
    // Closes the connection and the internet session; refused while an
    // operation runs (cancel it first).
    void Close();
    // True when the connection answers; a dead one is closed. While an
    // operation runs it only says whether a connection exists.
    bool IsConnected();
    QString GetLastResponse() const;
    bool EnableStatusTrace(bool enable);

    // Enters `folder` and lists it. False when it could not be entered: the
    // listed folder then stays what it was.
    bool ListFolder(const RemotePath& folder, bool refresh);
    // Starts the folder tree afresh unless keepTree, then lists `path` (null
    // or empty: the home folder).
    void OpenPath(const RemotePath* path, bool keepTree);
    // Sets the server's current folder to a path as the user typed it.
    bool ChangeFolder(const QString& path);
    bool DeleteFile(const RemotePath& file);
    bool DeleteFolder(const RemotePath& folder, bool recursive);
    // The Delete command, as one operation: the items in order, folders with
    // everything in them. A folder that stays does not stop the rest; a file
    // that stays does, as does Cancel.
    void DeleteItems(const QList<RemoteItem>& items);
    bool Rename(const RemotePath& from, const RemotePath& to);
    bool MakeFolder(const RemotePath& folder);
    // An empty file of that name, as an upload of nothing.
    bool CreateEmptyFile(const RemotePath& file);
    // "SITE CHMOD" with the octal mode, for the items and, by the scope,
    // what lies below the chosen folders. A server that does not know the
    // command (500, 502, 504) stops it at once with a line that says so.
    bool ChangePermissions(const QList<RemoteItem>& items, int mode, PermissionScope scope);
    // What the server holds of one file now: its size (SIZE) and its time
    // (MDTM, seconds UTC; -1 where the server does not tell). False, with
    // the reply traced, when it does not tell the size: a file that is gone.
    bool QueryFile(const RemotePath& file, quint64& size, qint64& modified);

    // The exact (UTC) times of files of `folder` by MDTM, for a listing
    // whose times are the server's clock without its zone; a name the server
    // gives no time for is left out. Empty when the server offers no MDTM.
    QHash<QString, qint64> ExactTimes(const RemotePath& folder, const QStringList& names);

    // Raw commands: the command line goes to the server as typed and its
    // reply to the Trace pane.
    void SendCustomCommand(const QString& command);
    void SendKeepAlive();

    // Formats "[thread id] text" and hands it to the events receiver.
    void Trace(int level, const QString& text);

    // Stops a running listing or multi-step operation at its next step, and
    // gives up a connect attempt that is waiting for its thread.
    void Cancel();

    void SetEvents(ISessionEvents* events) { m_events = events; }
    // Taken by the next connect; a connection already open keeps its own.
    void SetSettings(const SessionSettings& settings) { m_settings = settings; }

    const CFtpSite& Site() const { return m_site; }
    // The site as it was chosen, before its remote folder went into the
    // address: what a new favorite copies.
    const CFtpSite& SiteRecord() const { return m_siteRecord; }
    // Fingerprints of the server certificates accepted for this connection
    // (once or for good), for the transfer threads to accept without asking.
    const QStringList& AcceptedCertificates() const { return m_acceptedCertificates; }
    // Likewise the SSH host keys ("SHA256:...") the user let this connection use once.
    const QStringList& AcceptedHostKeys() const { return m_acceptedHostKeys; }
    // Everything on the wire is encrypted (the status bar shows a lock).
    bool IsEncrypted() const;
    // What the connection's protocol can do (nothing while not connected):
    // commands for one protocol's features only ask this.
    remote::Features Features() const;
    // The passphrase of the site's key file as the user gave it for this
    // connection, for the transfer workers; empty when none was asked.
    const QString& KeyPassphrase() const { return m_keyPassphrase; }
    // The folder the views show; empty before the first listing.
    const RemotePath& ListedPath() const { return m_listedPath; }
    // The folder reached after login; the folder tree's root stands for it.
    const RemotePath& HomeFolder() const { return m_homeFolder; }
    const QString& Server() const { return m_server; }
    // The port of the connection: the one written in the address, else the site's.
    int Port() const { return m_port; }
    bool IsBusy() const { return m_busy; }
    // True when no operation runs; otherwise the refusal is traced, as for
    // any call made while one runs.
    bool CheckIdle();
    bool IsConnecting() const { return m_connecting; }
    bool IsListing() const { return m_listing; }
    bool HasConnection() const { return m_connection != nullptr; }

protected:
    bool event(QEvent* event) override;

private:
    struct ConnectAttempt;
    struct StatusSink;

    // The steps of Connect, in order.
    void StartFresh(const CFtpSite& site);
    // The site's password from where it lives, or from the user; false when
    // none was given.
    bool ObtainPassword();
    bool OpenInternetSessionTraced();
    bool CheckAddress(FtpUrl& url);
    void ConnectWithAttempts(const QString& server, int port);
    // One attempt; false when no further attempt is to be made.
    bool ConnectOnce(const QString& server, int port, int attempt, int remaining);
    void EnterStartFolder(const FtpUrl& url);
    void TellUser(const QString& text, IPrompts::Icon icon);
    bool DecideCertificate(const inet::CertificateInfo& info);
    remote::HostKeyAnswer DecideHostKey(const remote::HostKeyInfo& key);
    std::optional<std::string> AskPassphrase(const QString& keyFile);
    // "FTP" or "SFTP", for the session's own lines.
    QString ProtocolLabel() const;

    // One operation, from its first step to its last. Only one that starts
    // on an idle session counts: it marks the session busy, which refuses
    // every other until it ends, and tells the events receiver both ends.
    class Operation {
    public:
        explicit Operation(CFtpSession& session);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;
        // False when another operation runs: do nothing.
        bool Started() const { return m_started; }

    private:
        CFtpSession& m_session;
        bool m_started;
    };

    std::unique_ptr<remote::IFileSystem> OpenConnection(const remote::ConnectOptions& options,
                                                        std::shared_ptr<ConnectAttempt>& attempt);
    // A connect attempt under way is woken and fails at once.
    void CancelAttempt();
    bool OpenInternetSession();
    // Internet sessions as the settings say (proxy, status lines, certificate
    // questions): FTP connections run on one each.
    remote::FtpFileSystem::SessionFactory InternetSessionFactory();
    // A file system for the site's protocol, not connected.
    std::unique_ptr<remote::IFileSystem> MakeFileSystem();
    // The conversation, host-key and passphrase questions of a connect.
    remote::Callbacks ConnectCallbacks();
    bool CheckConnection();
    void CloseNow();
    bool ListFolderNow(const RemotePath& folder, bool refresh);
    // The entries of the entered folder, to the events receiver; false when
    // Cancel stopped it. A broken-off listing leaves its error in `failure`.
    bool ReceiveListing(int& count, std::optional<inet::InternetError>& failure);
    void TraceListingEnd(const RemotePath& folder, ListingOutcome outcome, int count,
                         const std::optional<inet::InternetError>& failure);
    bool DeleteFileNow(const RemotePath& file);
    bool DeleteFolderNow(const RemotePath& folder, bool recursive);
    bool DeleteFolderTree(const RemotePath& folder, int depth);
    // The files and subfolders of `folder`; false, with failureLine traced,
    // when it cannot be entered or listed.
    bool ListNamesIn(const RemotePath& folder, std::vector<QString>& files, std::vector<QString>& subfolders,
                     bool skipLinks, const QString& failureLine);
    // One SITE CHMOD; false when refused (`unsupported` when the server does
    // not know the command at all).
    bool ChmodOne(const RemotePath& path, int mode, bool& unsupported);
    bool ChmodTree(const RemotePath& folder, int mode, PermissionScope scope, int depth, bool& unsupported);
    // Puts the server back in the listed folder after an operation that
    // moved it, so the server's folder is the one on screen.
    void RestoreServerFolder();
    // Runs the event loop when it has not run for a while: the one place a
    // running operation lets the window repaint and hear Cancel.
    void KeepWindowAlive();
    // True once Cancel was chosen; the first caller traces it.
    bool StopForCancel();
    // The refusal of a call made while another operation runs.
    void TraceBusy();
    // The server's reply when it had a say in the failure (else the error's
    // own text), then the operation's line; both red.
    void TraceFailure(const inet::InternetError& error, const QString& line);
    bool RequireConnection();
    // A connection, and a path that names an item (not empty, not the root).
    bool CanActOn(const RemotePath& path);
    // Server replies go to the Trace pane as one line.
    static QString WithoutLineBreaks(QString text);
    // Runs one server operation; a refusal traces the reply and failureLine.
    bool Attempt(const std::function<void()>& operation, const QString& failureLine);
    // Removes a file or an empty folder with its success or failure lines.
    bool RemoveTraced(const RemotePath& path, bool folder);
    void SendAndTraceReply(const QString& command);

    ISessionEvents* m_events = nullptr;
    SessionSettings m_settings;
    CFtpSite m_site;
    CFtpSite m_siteRecord;
    QStringList m_acceptedCertificates;
    QStringList m_acceptedHostKeys;
    bool m_certificateAsked = false; // during the current connect wait
    RemotePath m_listedPath;
    RemotePath m_homeFolder = RemotePath::Root();
    QString m_server;
    int m_port = 21;
    // Between opening the internet session and closing it: attempts may be made.
    bool m_sessionOpen = false;
    std::unique_ptr<remote::IFileSystem> m_connection;
    QString m_keyPassphrase;
    std::shared_ptr<ConnectAttempt> m_attempt;
    std::shared_ptr<StatusSink> m_statusSink;
    QString m_lastResponse;
    bool m_busy = false;
    bool m_cancelRequested = false;
    bool m_cancelTraced = false;
    bool m_listing = false;
    bool m_connecting = false;
    QElapsedTimer m_sincePump;
};
