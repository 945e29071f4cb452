#pragma once

#include "engine/base/RemotePath.h"
#include "engine/transfer/TransferThread.h"

#include <QSet>

#include <string>

// An upload job: the selected local files and folders (folders walked on
// disk) into the job's remote folder, each file under the same path below it
// as below the selection's parent folder. Every folder is made before the
// files move. Nothing is asked: which files may replace or continue remote
// ones was settled before the job was queued (a record marked kResume
// carries the remote size in its size field). Every stored file and created
// folder is announced (RemoteItemAddedEvent).
class CUploadThread : public CTransferThread {
public:
    explicit CUploadThread(TransferJob job);

    // The remote path of a local path below the base folder (the selection's
    // parent folder), within the job's remote folder; empty when some name on
    // the way cannot be used on a server.
    RemotePath RemotePathOf(const QString& localPath) const;
    const QString& BaseFolder() const { return m_baseFolder; }

protected:
    void Collect(remote::IFileSystem& connection, TransferFileList& files) override;
    void Prepare(remote::IFileSystem& connection, TransferFileList& files) override;
    Plan Decide(TransferFile& file, qsizetype remaining) override;
    void Move(Lane& lane, int index, Plan plan) override;
    QString TargetKey(const TransferFile& file) const override;
    // Announced in the files' order, as the lists show what was stored.
    void FolderReached(const TransferFile& file) override { NotifyUploaded(file); }

private:
    // Appends the folder's files, then its subfolders' (each folder itself
    // too, so empty ones are made). Symbolic links are not followed.
    void CollectLocalFolder(const QString& folder, FileStatusList& files, int depth);
    // Every missing level of the folder (or the last one only), each asked
    // for once per run.
    void CreateRemoteFolders(remote::IFileSystem& connection, const RemotePath& folder, bool lastOnly = false);
    void NotifyUploaded(const TransferFile& file);
    // A synchronisation's target as the server has it now, held to what the
    // preview showed: why it is left alone, or empty when it may be written.
    QString CheckTarget(remote::IFileSystem& connection, const TransferFile& file, const std::string& path);
    // The uploaded file gets the local file's time, where the server lets it.
    void KeepLocalTime(remote::IFileSystem& connection, const TransferFile& file, const std::string& path);

    QString m_baseFolder;
    QSet<QString> m_madeFolders;
};
