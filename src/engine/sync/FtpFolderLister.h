#pragma once

#include "engine/sync/RemoteSearch.h"

#include <memory>

namespace inet {
class FtpConnection;
class InternetSession;
}

// A search's own FTP connection as a folder lister: each folder entered, then
// listed without an argument (to some servers a LIST argument is a pattern,
// and "[" or "*" are valid in names). Names that cannot be used safely are
// left out. Cancel closes the internet session, which wakes a blocked read.
class CFtpFolderLister final : public IFolderLister {
public:
    CFtpFolderLister(std::shared_ptr<inet::InternetSession> session, std::unique_ptr<inet::FtpConnection> connection);
    ~CFtpFolderLister() override;

    void List(const RemotePath& folder, const std::function<void(const RemoteEntry&)>& onEntry) override;
    void Cancel() override;

private:
    std::shared_ptr<inet::InternetSession> m_session;
    std::unique_ptr<inet::FtpConnection> m_connection;
};
