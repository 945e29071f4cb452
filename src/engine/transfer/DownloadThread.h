#pragma once

#include "engine/base/RemotePath.h"
#include "engine/transfer/TransferThread.h"

#include <memory>

namespace remote {
class IFileStream;
}

// A download job: the selected remote files and folders (each folder listed
// once, depth first) into the local folder, asking before it replaces or
// continues a file that is already there, unless the file is one an earlier
// run of this job left partial: that one is continued without a question.
class CDownloadThread : public CTransferThread {
public:
    explicit CDownloadThread(TransferJob job);

    // The part of a remote path below the job's remote folder ("/pub" and
    // "/pub/a/b.txt" give "/a/b.txt"); a path not below it comes back whole.
    QString RelativeRemotePath(const QString& path) const;

protected:
    void Collect(remote::IFileSystem& connection, TransferFileList& files) override;
    Plan Decide(TransferFile& file, qsizetype remaining) override;
    void Move(Lane& lane, int index, Plan plan) override;
    QString TargetKey(const TransferFile& file) const override;
    // A synchronisation's folder the local side lacks: made in its turn.
    void FolderReached(const TransferFile& file) override;

private:
    // Appends the files below `folder`, its own files before its subfolders'.
    bool CollectRemoteFolder(remote::IFileSystem& connection, const RemotePath& folder, TransferFileList& files,
                             int depth);
    QString LocalPathOf(const QString& remotePath) const;
    // Opens the remote file at `offset`, or from its start (offset set to 0)
    // when the server will not continue it.
    std::unique_ptr<remote::IFileStream> OpenRemote(remote::IFileSystem& connection, const RemotePath& remote, bool ascii,
                                                quint64& offset);
    // The downloaded file gets the remote file's time: the listing's when it
    // was exact, else the server's MDTM answer.
    void KeepRemoteTime(remote::IFileSystem& connection, const TransferFile& file);

    bool m_targetIsFolder = true;
    bool m_yesToAll = false; // under the dispatch lock
};
