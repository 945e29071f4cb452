#pragma once

#include "engine/base/FileStatus.h"
#include "engine/sync/FileFilter.h"

#include <QString>
#include <QStringList>

#include <vector>

// The site a job talks to, as whoever queues it hands it over: connection
// parameters and the transfer mode. The password lives in memory only; the
// queue's file names the catalogue site instead (sitePath, empty for an
// address the user typed), so it can be found again after a restart.
struct TransferSite {
    QString host;
    QString user;
    QString password;
    int transferType = 2; // 1 ASCII, 2 binary; downloads only
    int retries = 1;      // attempts per connection and per file; fewer than 1 still makes one
    int retryDelay = 10;  // seconds between attempts
    int port = 21;
    bool passive = false;
    int encryption = 0;              // SiteEncryption
    QStringList acceptedCertificates; // SHA-256 fingerprints the user accepted for this connection
    QString sitePath;                 // the catalogue's "Folder\Site", empty for a typed address
    int protocol = 0;                 // SiteProtocol
    QString keyFile;                  // SFTP: the site's own private key file
    // SFTP: host key fingerprints ("SHA256:...") the user let the window's
    // connection use once; a key trusted for good is in known_hosts.
    QStringList acceptedHostKeys;
    // SFTP: the passphrase of keyFile the user gave the window's connection;
    // in memory only, as the password.
    QString keyPassphrase;
};

enum class TransferDirection { Download, Upload };

// Where a job or one of its files stands. The numbers are written into the
// queue's file: never renumber them.
enum class TransferState : int {
    Queued = 0,    // waiting for its turn
    Running = 1,   // a worker has it
    Stopped = 2,   // held by the user or by the end of the program; Start goes on
    Completed = 3, // done (a file the user chose to leave alone counts as done)
    Failed = 4,    // ended with a reason; Resubmit tries what is not done
    Cancelled = 5, // the user called it off: neither success nor failure
};

// One file (or, for uploads, one folder to create) of a job once the job has
// collected them. Paths are absolute on their side.
struct TransferFile {
    QString remotePath;
    QString localPath;
    quint64 size = 0;        // of the source, as listed when collected
    quint64 done = 0;        // bytes on the target as last seen
    qint64 modified = 0;     // of the source, seconds since the epoch
    TransferState state = TransferState::Queued;
    QString result;          // why it failed, or what was done instead
    bool folder = false;     // upload: a folder to create before its files
    // The target already holds the first `remoteSize` bytes and the user
    // chose to continue it (uploads settled before queuing).
    bool resume = false;
    quint64 remoteSize = 0;
    // `modified` came from the disk or an MLSD listing: it is the time to
    // give the copy, with no MDTM to ask the server for it.
    bool exactTime = false;
    // A synchronisation's file: what the target held when the preview was
    // made. A target found otherwise (a file made since, or one changed
    // since) is left alone and the file fails, saying why. targetModified
    // -1: the preview's time was not exact, and the size alone is held to.
    enum class TargetCheck : quint8 { None = 0, Absent = 1, AsListed = 2 };
    TargetCheck targetCheck = TargetCheck::None;
    quint64 targetSize = 0;
    qint64 targetModified = -1;

    // A run of this job began writing it (it was running when the job
    // stopped, or it got some bytes across before it failed): the next run
    // continues it without asking anybody, from what the target holds.
    bool IsPartial() const
    {
        return state == TransferState::Stopped || (done > 0 && state != TransferState::Completed);
    }
};

using TransferFileList = std::vector<TransferFile>;

// What a worker runs: the selection, where it comes from and goes to, how to
// connect. Once the files are known (a job collected before, restarted or
// resubmitted) `files` holds them and the selection is not walked again.
struct TransferJob {
    qint64 id = 0;
    TransferSite site;
    FileStatusList items;  // download: names in remoteFolder, folders marked; upload: full local paths
    QString remoteFolder;  // download: where the files come from; upload: where they go
    QString localFolder;   // download: the destination folder, or the file of a one-file job
    // Decided when the job is queued, from what the user chose then: a folder
    // that is missing when the job starts is made again, never taken for a
    // file name.
    bool localIsFolder = true;
    int timeoutMs = 0;     // connect, send and receive time-out; 0 keeps the library's
    int proxyType = 0;     // 0 the system's, 1 direct, 2 the named proxy
    QString proxyName;
    int connections = 1;   // connections the job may open to the server, 1-10
    // The copy gets the source's modification time (downloads from the
    // listing or MDTM, uploads with MFMT or SITE UTIME where offered).
    bool preserveTimes = false;
    // What the filename filters hide is left out of the folders a job
    // collects, and counted in its result.
    CFileFilter filter;
    TransferFileList files;
};

// A job as the queue keeps it: what to run, and how far it got.
struct TransferJobRecord {
    TransferDirection direction = TransferDirection::Download;
    TransferJob job; // job.id is the record's id
    TransferState state = TransferState::Queued;
    QString result;        // the last run's end: success, cancellation or the reason it failed
    QString status;        // while running: the worker's word ("Connecting", "Downloading"...)
    QString currentFile;   // the name the worker moves now
    quint64 fileDone = 0;
    quint64 fileTotal = 0;
    quint64 bytesDone = 0; // of all the job's files, once they are known
    quint64 bytesTotal = 0;
    int percent = 0;
    double rate = 0;       // bytes per second while running
    int attempts = 0;      // runs started
    qint64 added = 0;      // ms since the epoch, UTC
    qint64 started = 0;
    qint64 finished = 0;
    // The password in job.site is the user's answer in this run of the
    // program; after a restart it is asked for again.
    bool passwordKnown = true;

    qint64 Id() const { return job.id; }
    // The first entry of the selection, as the row names the job.
    QString FirstName() const { return job.items.isEmpty() ? QString() : job.items.first().path; }
};
