#include "engine/sync/SyncPlan.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

QString NameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString ParentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

ComparedEntry AsCompared(const TreeEntry& entry)
{
    return ComparedEntry{NameOf(entry.path), entry.folder, entry.size, entry.modified, entry.precision};
}

// The entries that take part: below a folder hidden by the filter nothing
// does, and without subfolders only the top level.
QList<const TreeEntry*> Kept(const QList<TreeEntry>& tree, const SyncOptions& options, int& skipped)
{
    QSet<QString> hiddenFolders;
    QList<const TreeEntry*> kept;
    QList<const TreeEntry*> sorted;
    for (const TreeEntry& entry : tree)
        sorted.append(&entry);
    // Parents before their children.
    std::sort(sorted.begin(), sorted.end(), [](const TreeEntry* a, const TreeEntry* b) {
        return a->path.count(QLatin1Char('/')) < b->path.count(QLatin1Char('/'));
    });
    for (const TreeEntry* entry : std::as_const(sorted)) {
        const QString parent = ParentOf(entry->path);
        if (!options.subfolders && !parent.isEmpty())
            continue;
        if (!parent.isEmpty() && hiddenFolders.contains(parent)) {
            if (entry->folder)
                hiddenFolders.insert(entry->path);
            continue;
        }
        if (options.useFilter && options.filter.Hides(NameOf(entry->path), entry->folder, entry->size)) {
            ++skipped;
            if (entry->folder)
                hiddenFolders.insert(entry->path);
            continue;
        }
        kept.append(entry);
    }
    return kept;
}

} // namespace

SyncPlan PlanSync(const QList<TreeEntry>& source, const QList<TreeEntry>& target, bool targetComplete,
                  const SyncOptions& options)
{
    SyncPlan plan;
    if (!targetComplete) {
        plan.error = QStringLiteral("The target folder could not be listed completely; nothing is planned, "
                                    "so nothing there is taken for missing.");
        return plan;
    }
    int skippedTarget = 0;
    const QList<const TreeEntry*> sources = Kept(source, options, plan.skippedByFilter);
    const QList<const TreeEntry*> targets = Kept(target, options, skippedTarget);
    QHash<QString, const TreeEntry*> targetByPath;
    for (const TreeEntry* entry : targets)
        targetByPath.insert(entry->path, entry);

    for (const TreeEntry* entry : sources) {
        const TreeEntry* there = targetByPath.take(entry->path);
        const ComparedEntry local = AsCompared(*entry);
        const ComparedEntry remote = there ? AsCompared(*there) : ComparedEntry();
        // "Local" stands for the source here; the rule is the same either way.
        const ComparedRow row = CFolderComparison::CompareOne(&local, there ? &remote : nullptr, options.mode);
        plan.approximate = plan.approximate || row.approximate;
        SyncItem item;
        item.path = entry->path;
        item.folder = entry->folder;
        item.size = entry->size;
        item.sourceModified = entry->modified;
        item.sourcePrecision = entry->precision;
        if (there) {
            item.targetSize = there->size;
            item.targetModified = there->modified;
            item.targetPrecision = there->precision;
        }
        switch (row.difference) {
        case Difference::OnlyLocal:
            item.action = entry->folder ? SyncItem::Action::MakeFolder : SyncItem::Action::Copy;
            item.reason = QStringLiteral("new");
            break;
        case Difference::LocalNewer:
            item.action = SyncItem::Action::Replace;
            item.reason = QStringLiteral("newer");
            break;
        case Difference::SizeDiffers:
            // A file where the target has a folder of its name (or the reverse) is not touched.
            if (entry->folder || there->folder)
                continue;
            item.action = SyncItem::Action::Replace;
            item.reason = QStringLiteral("different size");
            break;
        case Difference::Same:
        case Difference::RemoteNewer:
        case Difference::OnlyRemote:
            continue;
        }
        plan.items.append(item);
    }
    // What only the target holds, deepest first so a folder goes after its contents.
    QList<const TreeEntry*> onlyTarget = targetByPath.values();
    std::sort(onlyTarget.begin(), onlyTarget.end(), [](const TreeEntry* a, const TreeEntry* b) {
        const qsizetype depthA = a->path.count(QLatin1Char('/'));
        const qsizetype depthB = b->path.count(QLatin1Char('/'));
        return depthA != depthB ? depthA > depthB : a->path < b->path;
    });
    for (const TreeEntry* entry : std::as_const(onlyTarget)) {
        SyncItem item;
        item.action = SyncItem::Action::Delete;
        item.path = entry->path;
        item.folder = entry->folder;
        item.size = entry->size;
        item.targetSize = entry->size;
        item.targetModified = entry->modified;
        item.targetPrecision = entry->precision;
        item.reason = QStringLiteral("only on the target");
        item.checked = false;
        plan.items.append(item);
    }
    return plan;
}
