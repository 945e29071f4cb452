#pragma once

#include "engine/base/RemotePath.h"
#include "engine/sync/RemoteSearch.h"
#include "engine/sync/SyncPlan.h"
#include "engine/transfer/TransferJob.h"

#include <memory>

// The transfer job that carries out the ticked rows of a synchronisation's
// preview: the folders the target lacks first, then the files, each with
// what the preview saw at its target, so that a target changed since is
// left alone. Deletions are not part of it. `plan` is the whole preview: a
// folder the target lacks goes along with a ticked file inside it, even when
// its own row was unticked. No files: nothing to move.
TransferJob MakeSyncJob(const QList<SyncItem>& chosen, const QList<SyncItem>& plan, SyncDirection direction,
                        const QString& localRoot, const RemotePath& remoteRoot, const TransferSite& site);

// A folder lister on a connection of its own to the site, as a transfer
// job would connect (time-out in ms, 0 the library's; proxy as the queue's
// settings name it). Throws std::exception, the reason in what(), when no
// connection can be made.
std::unique_ptr<IFolderLister> OpenFolderLister(const TransferSite& site, int timeoutMs, int proxyType,
                                                const QString& proxyName);
