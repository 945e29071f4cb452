#pragma once

#include "engine/base/RemotePath.h"
#include "engine/transfer/TransferThread.h"

#include <QSet>

// An upload job: the selected local files and folders (folders walked on
// disk) into the job's remote folder, each file under the same path below it
// as below the selection's parent folder. Nothing is asked: which files may
// replace or continue remote ones was settled before the job was queued
// (a record marked kResume carries the remote size in its size field). Every
// stored file and created folder is announced (RemoteItemAddedEvent).
class CUploadThread : public CTransferThread {
public:
    CUploadThread();

    // The remote path of a local path below the base folder (the selection's
    // parent folder), within the job's remote folder; empty when some name on
    // the way cannot be used on a server.
    RemotePath RemotePathOf(const QString& localPath) const;
    const QString& BaseFolder() const { return m_baseFolder; }

protected:
    void Transfer() override;

private:
    // Appends the folder's files, then its subfolders' (each folder itself
    // too, so empty ones are made). Symbolic links are not followed.
    void CollectLocalFolder(const QString& folder, FileStatusList& files, int depth);
    // Every missing level of the folder, each asked for once per run.
    void CreateRemoteFolders(const RemotePath& folder);
    void UploadFile(const QString& localPath, const RemotePath& remote, quint64 offset);
    void NotifyUploaded(FileStatus item, const RemotePath& remote);

    RemotePath m_folder; // the job's remote folder
    QString m_baseFolder;
    QSet<QString> m_madeFolders;
};
