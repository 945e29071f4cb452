#pragma once

#include "engine/base/RemotePath.h"
#include "engine/transfer/TransferThread.h"

#include <memory>

namespace inet {
class FtpStream;
}

// A download job: the selected remote files and folders (folders walked on
// the server, depth first) into the local folder, asking before it replaces
// or continues a file that is already there.
class CDownloadThread : public CTransferThread {
public:
    CDownloadThread();

    // The part of a remote path below the job's remote folder ("/pub" and
    // "/pub/a/b.txt" give "/a/b.txt"); a path not below it comes back whole.
    QString RelativeRemotePath(const QString& path) const;

protected:
    void Transfer() override;

private:
    // Appends the files below `folder`, its own files before its subfolders'.
    bool CollectRemoteFolder(const RemotePath& folder, FileStatusList& files, int depth);
    QString LocalPathOf(const FileStatus& file) const;
    // Asks about an existing local file; false: leave this file alone.
    bool Confirm(const FileStatus& file, const QString& localPath, qsizetype remaining, bool& resume);
    void DownloadFile(const FileStatus& file, const QString& localPath, bool resume);
    // Opens the remote file at `offset`, or from its start (offset set to 0)
    // when the server will not continue it.
    std::unique_ptr<inet::FtpStream> OpenRemote(const RemotePath& remote, bool ascii, quint64& offset);
    RemotePath RemotePathOf(const FileStatus& file) const;

    RemotePath m_folder; // the job's remote folder
    bool m_targetIsFolder = true;
    bool m_yesToAll = false;
};
