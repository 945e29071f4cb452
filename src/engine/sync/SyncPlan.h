#pragma once

#include "engine/sync/FileFilter.h"
#include "engine/sync/FolderComparison.h"

#include <QList>
#include <QString>

// One entry of a folder tree, named by its path below the tree's top
// ("a/b.txt", folders included).
struct TreeEntry {
    QString path;
    bool folder = false;
    quint64 size = 0;
    qint64 modified = -1; // UTC seconds; -1 when unknown
    TimePrecision precision = TimePrecision::Exact;
};

enum class SyncDirection { Upload, Download }; // the local folder to the remote one, or back

struct SyncOptions {
    CompareMode mode = CompareMode::SizeAndTime;
    bool subfolders = true;
    bool useFilter = true;
    CFileFilter filter;
};

// What the synchronisation would do with one entry: the preview's row.
struct SyncItem {
    enum class Action { MakeFolder, Copy, Replace, Delete };
    Action action = Action::Copy;
    QString path;
    bool folder = false;
    quint64 size = 0;     // of the source file (Copy, Replace) or the target one (Delete)
    qint64 sourceModified = -1;
    TimePrecision sourcePrecision = TimePrecision::Exact;
    // What the target held when the preview was made, so that a file that
    // changes afterwards is looked at again before it is overwritten.
    quint64 targetSize = 0;
    qint64 targetModified = -1;
    TimePrecision targetPrecision = TimePrecision::Exact;
    QString reason;
    // Copies start ticked; deletions only when the user ticks them.
    bool checked = true;
};

struct SyncPlan {
    QList<SyncItem> items;
    int skippedByFilter = 0;
    // Times were too coarse or zoneless for some files: those were judged by size.
    bool approximate = false;
    // Non-empty: no plan could be made (a target that could not be listed is
    // never taken for an empty one).
    QString error;
};

// A one-way synchronisation of `source` onto `target`: folders the target
// lacks are made, files it lacks are copied, files newer on the source or of
// another size replace the target's (with SizeAndTime; with Size, another
// size only); what only the target holds is offered for deletion, unticked.
// A file newer on the target is left alone. Nothing changes here: the plan
// is the dry run, carried out only when the user starts it.
SyncPlan PlanSync(const QList<TreeEntry>& source, const QList<TreeEntry>& target, bool targetComplete,
                  const SyncOptions& options);
