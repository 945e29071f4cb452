#pragma once

#include "engine/sync/SyncPlan.h"
#include "engine/sync/TreeListing.h"

#include <QObject>

#include <atomic>
#include <thread>

// The preview of a synchronisation: both sides listed, the local one from
// the disk and the remote one over connections of its own (the main
// session stays free for the window), and the plan made from them. A side
// that could not be listed completely gives a plan with an error, never one
// that takes what it could not see for missing.
class CSyncComparer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QString localRoot;
        RemotePath remoteRoot;
        SyncDirection direction = SyncDirection::Upload;
        SyncOptions options;
        int connections = 2; // remote listings at once
        CRemoteTreeLister::ListerFactory openLister; // called on the comparer's threads
    };

    explicit CSyncComparer(QObject* parent = nullptr);
    ~CSyncComparer() override; // cancels and waits

    // Lists and plans on a thread of its own; Finished follows on this
    // object's thread. False while one runs.
    bool Start(Request request);
    void Cancel();
    bool IsRunning() const { return m_thread.joinable() && !m_finished; }

    // The same on the calling thread (the command line).
    static SyncPlan Compare(const Request& request, CRemoteTreeLister& lister, const std::atomic<bool>& cancel);

signals:
    void Finished(const SyncPlan& plan);

private:
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    CRemoteTreeLister m_lister;
};
