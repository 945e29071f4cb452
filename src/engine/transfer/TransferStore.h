#pragma once

#include "engine/transfer/TransferJob.h"

#include <QString>

#include <memory>
#include <vector>

class QLockFile;

// The queue's file: an SQLite database (WAL) with one row per job and one per
// file of a job. It is the queue's memory across runs, not its master: the
// queue writes its changes in batches, and after a crash the bytes on disk or
// on the server count, not the progress noted here. No password is written.
//
// One process at a time: a lock file beside the database keeps a second
// instance out, which then runs with a queue in memory.
//
// GUI thread only (Qt SQL connections belong to the thread that made them).
class CTransferStore {
public:
    enum class Opened {
        Existing,  // read what was there
        Fresh,     // no file yet: an empty queue
        SetAside,  // the file could not be read: kept under another name, a fresh one made
        Refused,   // cannot be used (locked by another instance, unwritable): nothing opened
    };

    explicit CTransferStore(QString path);
    ~CTransferStore();
    CTransferStore(const CTransferStore&) = delete;
    CTransferStore& operator=(const CTransferStore&) = delete;

    // Takes the lock, opens or makes the file. The text says what happened
    // when it was not a plain open, for the user.
    Opened Open(QString& message);
    bool IsOpen() const { return m_open; }
    const QString& Path() const { return m_path; }

    // Every job with its files, in the order they were added.
    std::vector<TransferJobRecord> Load();

    // One batch of changes; false (with LastError()) when the disk refused.
    bool Begin();
    bool Commit();
    void Rollback();
    bool SaveJob(const TransferJobRecord& record);
    // All files of a job, replacing those written before.
    bool SaveFiles(qint64 jobId, const TransferFileList& files);
    bool SaveFile(qint64 jobId, int index, const TransferFile& file);
    bool RemoveJob(qint64 jobId);
    // The highest job id written, so new ids never meet old ones.
    qint64 LastId();
    QString LastError() const { return m_error; }

private:
    bool OpenDatabase(QString& error);
    bool MakeSchema(QString& error);
    void CloseDatabase();
    bool Exec(const QString& statement);

    QString m_path;
    QString m_connection;
    std::unique_ptr<QLockFile> m_lock;
    bool m_open = false;
    QString m_error;
};
