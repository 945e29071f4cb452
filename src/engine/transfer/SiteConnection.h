#pragma once

#include "engine/remote/RemoteFileSystem.h"
#include "engine/transfer/TransferJob.h"

#include <QString>

#include <memory>

// How a worker reaches a job's site, over FTP or SFTP: the time-out and proxy
// of the settings, and the trust the user gave the window's connection
// (certificates and host keys accepted once, those trusted for good), so that
// no worker asks a question of its own: anything else not trusted is refused.
class CSiteConnection {
public:
    CSiteConnection(TransferSite site, int timeoutMs, int proxyType, QString proxyName);

    // False for a proxy setting nothing can be made of.
    bool ProxyUsable() const;
    // A file system for the site's protocol, not connected yet.
    std::unique_ptr<remote::IFileSystem> Make() const;
    // Connects and logs in; `notes` gets the connection's own notes (never a
    // password). Throws inet::InternetError.
    void Connect(remote::IFileSystem& fs, const inet::ConversationCallback& notes = {}) const;

    const TransferSite& Site() const { return m_site; }

private:
    TransferSite m_site;
    int m_timeoutMs;
    int m_proxyType;
    QString m_proxyName;
};
