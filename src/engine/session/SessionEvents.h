#pragma once

#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "engine/base/RemoteEntry.h"
#include "engine/base/RemotePath.h"
#include "engine/base/TraceLevel.h"

#include <QString>

// How a listing that got under way ended.
enum class ListingOutcome {
    Complete,  // every entry arrived (there may have been none)
    Cancelled, // the user stopped it; the entries so far arrived
    Failed,    // the server or the connection broke it off
};

// The questions the session asks in the middle of an operation, as request
// objects it hands up and the window answers before returning (a dialog, or
// a test's script). Each carries its answer; one that nobody answers keeps
// the default, which never retries, trusts or connects on its own.

// The wait between two connection attempts: retry, or give up.
struct RetryCountdownRequest {
    int delaySeconds = 0;
    QString errorText; // why the attempt failed
    bool retry = false;
};

// A server certificate the system does not trust. A changed certificate is
// refused whatever the answer; the question only shows it.
struct CertificateTrustRequest {
    CertificateQuestion question;
    CertificateAnswer answer = CertificateAnswer::Cancel;
};

// An SSH host key known_hosts does not vouch for. A changed key is refused
// whatever the answer, as a changed certificate is.
struct HostKeyRequest {
    HostKeyQuestion question;
    CertificateAnswer answer = CertificateAnswer::Cancel;
};

// The passphrase of an SSH private key, asked once per connection.
struct PassphraseRequest {
    QString keyFile;
    bool answered = false;
    QString passphrase;
};

// A password the site needs and nobody stored, or that the keyring would not
// give (`problem` says why). With `remember`, whoever answers keeps it where
// the setting "PasswordStore" says; the session keeps it for this run only.
struct PasswordRequest {
    CFtpSite site; // as chosen, before anything was added to its address
    QString problem;
    bool answered = false;
    QString password;
    bool remember = false;
};

// What the session tells the window, in the order it happens and on the GUI
// thread. The session owns no widget: whoever receives these keeps the views
// in step with the server. Only the first three must be handled.
class ISessionEvents {
public:
    virtual ~ISessionEvents() = default;

    // A finished line, "[thread id] text".
    virtual void OnTrace(int level, const QString& text) = 0;
    virtual void OnConnected() = 0;
    virtual void OnDisconnected() = 0;

    // A line of the internet session's status callback, "[thread id] text".
    virtual void OnStatusLine(const QString& text) { OnTrace(TRACE_INFO, text); }
    // An operation began (true) or ended (false). While one runs the session
    // refuses every other; only Cancel is heard.
    virtual void OnBusyChanged(bool /*busy*/) {}

    // Nothing is known of the server's folders any more except the home
    // folder (HomeFolder()).
    virtual void OnFolderTreeReset() {}
    // The server has entered `folder` and its entries follow; it is now the
    // listed folder. With refresh, what was known of its subfolders is stale.
    virtual void OnListingStarted(const RemotePath& /*folder*/, bool /*refresh*/) {}
    virtual void OnListingEntry(const RemoteEntry& /*entry*/) {}
    virtual void OnListingFinished(const RemotePath& /*folder*/, ListingOutcome /*outcome*/) {}
    // `folder` could not be entered; the listed folder is still the one before.
    virtual void OnListingRefused(const RemotePath& /*folder*/) {}

    // Something the user must see now, in a message box: the last connection
    // attempt failed, an address that is no FTP address.
    virtual void OnMessage(const QString& /*text*/, IPrompts::Icon /*icon*/) {}
    virtual void OnRequest(RetryCountdownRequest& /*request*/) {}
    virtual void OnRequest(CertificateTrustRequest& /*request*/) {}
    virtual void OnRequest(PasswordRequest& /*request*/) {}
    virtual void OnRequest(HostKeyRequest& /*request*/) {}
    virtual void OnRequest(PassphraseRequest& /*request*/) {}

    // A file or folder was created, removed or renamed on the server.
    virtual void OnItemAdded(const RemotePath& /*path*/, const RemoteEntry& /*entry*/) {}
    virtual void OnItemRemoved(const RemotePath& /*path*/) {}
    virtual void OnItemRenamed(const RemotePath& /*from*/, const RemotePath& /*to*/) {}
};
