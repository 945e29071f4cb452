#include "engine/sync/TreeListing.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace {

QString Below(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

bool ListLocalFolder(const QString& root, const QString& folder, int depth, bool subfolders,
                     const std::atomic<bool>& cancel, TreeListing& listing)
{
    if (cancel)
        return false;
    const QString absolute = folder.isEmpty() ? root : root + QLatin1Char('/') + folder;
    const QDir dir(absolute);
    if (!dir.exists() || !QFileInfo(absolute).isReadable()) {
        listing.complete = false;
        listing.problem = QStringLiteral("The folder \"%1\" cannot be read.").arg(absolute);
        return false;
    }
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    QStringList children;
    for (const QFileInfo& info : entries) {
        // A link could lead out of the tree, or round in a circle; uploads
        // leave links out too.
        if (info.isSymLink() || (!info.isDir() && !info.isFile()))
            continue;
        TreeEntry entry;
        entry.path = Below(folder, info.fileName());
        entry.folder = info.isDir();
        entry.size = entry.folder ? 0 : quint64(info.size());
        entry.modified = info.lastModified().toSecsSinceEpoch();
        entry.precision = TimePrecision::Exact;
        listing.entries.append(entry);
        if (entry.folder && subfolders)
            children << entry.path;
    }
    for (const QString& child : std::as_const(children)) {
        if (depth + 1 > kMaxTreeDepth) {
            listing.complete = false;
            listing.problem = QStringLiteral("\"%1\" is nested deeper than %2 folders; it was not followed.")
                                  .arg(root + QLatin1Char('/') + child)
                                  .arg(kMaxTreeDepth);
            return false;
        }
        if (!ListLocalFolder(root, child, depth + 1, subfolders, cancel, listing))
            return false;
    }
    return true;
}

} // namespace

TreeListing ListLocalTree(const QString& root, bool subfolders, const std::atomic<bool>& cancel)
{
    TreeListing listing;
    if (!ListLocalFolder(QDir::cleanPath(root), QString(), 0, subfolders, cancel, listing) && listing.problem.isEmpty()) {
        listing.complete = false;
        listing.problem = QStringLiteral("The listing was cancelled.");
    }
    return listing;
}

TreeListing CRemoteTreeLister::List(const RemotePath& root, bool subfolders, int connections, const ListerFactory& open)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = {Folder{QString(), 0}};
        m_listers.clear();
        m_busy = 0;
        m_stopped = m_cancelled;
        m_result = TreeListing();
        if (m_cancelled) {
            m_result.complete = false;
            m_result.problem = QStringLiteral("The listing was cancelled.");
        }
    }
    std::vector<std::thread> lanes;
    for (int i = 1; i < std::clamp(connections, 1, 10); ++i)
        lanes.emplace_back(&CRemoteTreeLister::Lane, this, root, subfolders, std::cref(open), false);
    Lane(root, subfolders, open, true);
    for (std::thread& lane : lanes)
        lane.join();
    std::lock_guard lock(m_mutex);
    m_listers.clear();
    return std::move(m_result);
}

void CRemoteTreeLister::Cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    if (!m_stopped) {
        m_stopped = true;
        m_result.complete = false;
        m_result.problem = QStringLiteral("The listing was cancelled.");
    }
    for (const std::shared_ptr<IFolderLister>& lister : m_listers)
        lister->Cancel();
    m_wake.notify_all();
}

void CRemoteTreeLister::Rearm()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = false;
}

void CRemoteTreeLister::Stop(const QString& problem)
{
    // Under the lock. The first reason is the one the user reads.
    if (!m_stopped) {
        m_stopped = true;
        m_result.complete = false;
        m_result.problem = problem;
    }
    for (const std::shared_ptr<IFolderLister>& lister : m_listers)
        lister->Cancel();
    m_wake.notify_all();
}

void CRemoteTreeLister::Lane(const RemotePath& root, bool subfolders, const ListerFactory& open, bool first)
{
    std::shared_ptr<IFolderLister> lister;
    try {
        lister = open();
    } catch (const std::exception& error) {
        // A further connection that is refused leaves the others to do the work.
        if (first) {
            std::lock_guard lock(m_mutex);
            Stop(QStringLiteral("No connection for the listing: %1").arg(QString::fromUtf8(error.what())));
        }
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_listers.push_back(lister);
    }
    for (;;) {
        Folder folder;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopped || !m_pending.empty() || m_busy == 0; });
            if (m_stopped || m_pending.empty())
                break;
            // Breadth first: the folders near the top spread over the lanes soonest.
            folder = m_pending.front();
            m_pending.pop_front();
            ++m_busy;
        }
        RemotePath path = root;
        for (const QString& name : folder.path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            path = path.Child(name);
        QList<TreeEntry> found;
        std::vector<Folder> children;
        QString failure;
        try {
            lister->List(path, [&](const RemoteEntry& entry) {
                if (!RemotePath::IsValidName(entry.name))
                    return;
                TreeEntry item;
                item.path = Below(folder.path, entry.name);
                item.folder = entry.folder;
                item.size = entry.folder ? 0 : entry.size;
                item.modified = entry.modified;
                item.precision = entry.modified < 0 ? TimePrecision::Unknown : entry.precision;
                found.append(item);
                if (entry.folder && subfolders)
                    children.push_back({item.path, folder.depth + 1});
            });
        } catch (const std::exception& error) {
            failure = QStringLiteral("\"%1\" could not be listed: %2").arg(path.ToString(), QString::fromUtf8(error.what()));
        }
        std::lock_guard lock(m_mutex);
        --m_busy;
        if (m_stopped) {
            m_wake.notify_all();
            break;
        }
        if (!failure.isEmpty()) {
            Stop(failure);
            break;
        }
        if (!children.empty() && children.front().depth > kMaxTreeDepth) {
            Stop(QStringLiteral("\"%1\" is nested deeper than %2 folders; it was not followed.")
                     .arg(path.ToString())
                     .arg(kMaxTreeDepth));
            break;
        }
        m_result.entries.append(found);
        m_pending.insert(m_pending.end(), children.begin(), children.end());
        m_wake.notify_all();
    }
}
