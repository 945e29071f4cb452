#include "engine/transfer/SyncJobs.h"

#include "engine/inet/InternetError.h"
#include "engine/sync/RemoteFolderLister.h"
#include "engine/transfer/SiteConnection.h"
#include "engine/transfer/TransferErrors.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <stdexcept>

namespace {

// The remote path of a path below the synchronised folder; empty when some
// name on the way cannot stand on a server.
RemotePath RemoteOf(const RemotePath& root, const QString& relative)
{
    RemotePath path = root;
    for (const QString& name : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path = path.Child(name);
        if (path.IsEmpty())
            return path;
    }
    return path;
}

QString ParentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

} // namespace

TransferJob MakeSyncJob(const QList<SyncItem>& chosen, const QList<SyncItem>& plan, SyncDirection direction,
                        const QString& localRoot, const RemotePath& remoteRoot, const TransferSite& site)
{
    const bool upload = direction == SyncDirection::Upload;
    const QString local = QDir::cleanPath(localRoot);
    TransferJob job;
    job.site = site;
    job.remoteFolder = remoteRoot.ToString();
    job.localFolder = local;
    job.localIsFolder = true;
    FileStatus root;
    root.path = upload ? local : remoteRoot.Name();
    root.attribute = FileStatus::kFolder;
    job.items = {root};

    QSet<QString> missingFolders;
    for (const SyncItem& item : plan) {
        if (item.action == SyncItem::Action::MakeFolder)
            missingFolders.insert(item.path);
    }
    // The folders to make: the ticked ones, and those a ticked file needs.
    QSet<QString> folders;
    for (const SyncItem& item : chosen) {
        if (item.action == SyncItem::Action::MakeFolder)
            folders.insert(item.path);
        if (item.action != SyncItem::Action::Copy && item.action != SyncItem::Action::Replace)
            continue;
        for (QString parent = ParentOf(item.path); !parent.isEmpty(); parent = ParentOf(parent)) {
            if (missingFolders.contains(parent))
                folders.insert(parent);
        }
    }
    QStringList orderedFolders(folders.begin(), folders.end());
    // Parents before their children.
    std::sort(orderedFolders.begin(), orderedFolders.end(), [](const QString& a, const QString& b) {
        const qsizetype depthA = a.count(QLatin1Char('/'));
        const qsizetype depthB = b.count(QLatin1Char('/'));
        return depthA != depthB ? depthA < depthB : a < b;
    });
    for (const QString& folder : std::as_const(orderedFolders)) {
        const RemotePath remote = RemoteOf(remoteRoot, folder);
        if (remote.IsEmpty())
            continue;
        TransferFile file;
        file.folder = true;
        // Its parents are made before it, by entries of their own.
        file.targetCheck = TransferFile::TargetCheck::Absent;
        file.remotePath = remote.ToString();
        file.localPath = local + QLatin1Char('/') + folder;
        job.files.push_back(file);
    }
    for (const SyncItem& item : chosen) {
        if (item.folder || (item.action != SyncItem::Action::Copy && item.action != SyncItem::Action::Replace))
            continue;
        const RemotePath remote = RemoteOf(remoteRoot, item.path);
        if (remote.IsEmpty())
            continue;
        TransferFile file;
        file.remotePath = remote.ToString();
        file.localPath = local + QLatin1Char('/') + item.path;
        file.size = item.size;
        file.modified = item.sourceModified;
        file.exactTime = item.sourceModified >= 0 && item.sourcePrecision == TimePrecision::Exact;
        if (item.action == SyncItem::Action::Copy) {
            file.targetCheck = TransferFile::TargetCheck::Absent;
        } else {
            file.targetCheck = TransferFile::TargetCheck::AsListed;
            file.targetSize = item.targetSize;
            // A zoneless time cannot be held to the second: the size alone then.
            file.targetModified = item.targetPrecision == TimePrecision::Exact ? item.targetModified : -1;
        }
        job.files.push_back(file);
    }
    return job;
}

std::unique_ptr<IFolderLister> OpenFolderLister(const TransferSite& site, int timeoutMs, int proxyType,
                                                const QString& proxyName)
{
    // The trust the user gave the window's connection, as the transfer
    // workers take it: nobody is asked again here.
    const CSiteConnection connector(site, timeoutMs, proxyType, proxyName);
    std::unique_ptr<remote::IFileSystem> connection = connector.Make();
    try {
        connector.Connect(*connection);
    } catch (const inet::InternetError& error) {
        throw std::runtime_error(DescribeInternetError(error, timeoutMs).toStdString());
    }
    return std::make_unique<CRemoteFolderLister>(std::move(connection));
}
