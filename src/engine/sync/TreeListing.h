#pragma once

#include "engine/base/RemotePath.h"
#include "engine/sync/RemoteSearch.h"
#include "engine/sync/SyncPlan.h"

#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// One side of a synchronisation as its listing found it.
struct TreeListing {
    QList<TreeEntry> entries;
    // False when some folder could not be listed (the problem says which and
    // why): what is missing from the entries is then not known to be missing.
    bool complete = true;
    QString problem;
};

// A folder nested deeper than this is not followed (a link that leads back
// into its own folder would otherwise never end).
inline constexpr int kMaxTreeDepth = 64;

// The local folder and, with subfolders, everything below it, from the disk.
// Symbolic links are left out, as uploads leave them out; a folder that
// cannot be read makes the listing incomplete. `cancel` stops it between
// folders.
TreeListing ListLocalTree(const QString& root, bool subfolders, const std::atomic<bool>& cancel);

// A remote folder tree listed over several connections at once (each lister
// its own), breadth first. The first lister that cannot be opened, or any
// folder that cannot be listed, makes the listing incomplete and stops it.
// Cancel() may come from any thread; List() then returns at once, incomplete.
class CRemoteTreeLister {
public:
    using ListerFactory = std::function<std::unique_ptr<IFolderLister>()>;

    TreeListing List(const RemotePath& root, bool subfolders, int connections, const ListerFactory& open);
    // A Cancel() that comes before List() stops it as soon as it starts;
    // Rearm() forgets it, for a lister used again.
    void Cancel();
    void Rearm();

private:
    struct Folder {
        QString path; // below the root, "" for the root itself
        int depth = 0;
    };
    void Lane(const RemotePath& root, bool subfolders, const ListerFactory& open, bool first);
    void Stop(const QString& problem);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Folder> m_pending;
    std::vector<std::shared_ptr<IFolderLister>> m_listers;
    int m_busy = 0;      // lanes listing a folder now
    bool m_stopped = false;
    bool m_cancelled = false;
    TreeListing m_result;
};
