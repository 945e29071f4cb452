#pragma once

#include "engine/remote/RemoteFileSystem.h"
#include "engine/sync/RemoteSearch.h"

#include <memory>

// A search's own connection (FTP or SFTP) as a folder lister. Names that
// cannot be used safely never reach it (the file system leaves them out).
// Cancel cancels the connection, which wakes a blocked read at once.
class CRemoteFolderLister final : public IFolderLister {
public:
    explicit CRemoteFolderLister(std::unique_ptr<remote::IFileSystem> connection);
    ~CRemoteFolderLister() override;

    void List(const RemotePath& folder, const std::function<void(const RemoteEntry&)>& onEntry) override;
    void Cancel() override;

private:
    std::unique_ptr<remote::IFileSystem> m_connection;
};
