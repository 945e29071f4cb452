#include "engine/sync/FolderComparison.h"

#include <QHash>

#include <algorithm>

namespace {

// Local file systems keep seconds (FAT two); a copy made to the second on
// one side and the other must still count as the same.
constexpr qint64 kExactSlack = 2;
// No zone: the server's clock may stand anywhere from UTC-12 to UTC+14.
constexpr qint64 kZoneSpread = 14 * 3600;

qint64 SlackOf(TimePrecision precision)
{
    switch (precision) {
    case TimePrecision::Exact: return kExactSlack;
    case TimePrecision::Minutes: return 60 + kZoneSpread;
    case TimePrecision::Days: return 24 * 3600 + kZoneSpread;
    case TimePrecision::Unknown: break;
    }
    return -1;
}

} // namespace

qint64 CFolderComparison::Tolerance(TimePrecision a, TimePrecision b)
{
    const qint64 slackA = SlackOf(a);
    const qint64 slackB = SlackOf(b);
    if (slackA < 0 || slackB < 0)
        return -1;
    return std::max(slackA, slackB);
}

ComparedRow CFolderComparison::CompareOne(const ComparedEntry* local, const ComparedEntry* remote, CompareMode mode)
{
    ComparedRow row;
    const ComparedEntry& any = local ? *local : *remote;
    row.name = any.name;
    row.folder = any.folder;
    if (!remote) {
        row.difference = Difference::OnlyLocal;
        return row;
    }
    if (!local) {
        row.difference = Difference::OnlyRemote;
        return row;
    }
    // A file on one side and a folder of that name on the other are not the same thing.
    if (local->folder != remote->folder) {
        row.folder = false;
        row.difference = Difference::SizeDiffers;
        return row;
    }
    if (local->folder)
        return row; // folders compare by what they hold, not by their own dates
    const bool sizesDiffer = local->size != remote->size;
    if (mode == CompareMode::SizeAndTime) {
        const qint64 tolerance = Tolerance(local->precision, remote->precision);
        const bool bothDated = local->modified >= 0 && remote->modified >= 0 && tolerance >= 0;
        if (bothDated) {
            const qint64 delta = local->modified - remote->modified;
            if (delta > tolerance) {
                row.difference = Difference::LocalNewer;
                return row;
            }
            if (-delta > tolerance) {
                row.difference = Difference::RemoteNewer;
                return row;
            }
            // Two times that agree say nothing when either could be off by hours.
            row.approximate = tolerance > kExactSlack;
        } else {
            row.approximate = true;
        }
    }
    row.difference = sizesDiffer ? Difference::SizeDiffers : Difference::Same;
    return row;
}

QList<ComparedRow> CFolderComparison::Compare(const QList<ComparedEntry>& local, const QList<ComparedEntry>& remote,
                                              CompareMode mode)
{
    QHash<QString, const ComparedEntry*> remoteByName;
    remoteByName.reserve(remote.size());
    for (const ComparedEntry& entry : remote)
        remoteByName.insert(entry.name, &entry);
    QList<ComparedRow> rows;
    rows.reserve(std::max(local.size(), remote.size()));
    for (const ComparedEntry& entry : local) {
        const ComparedEntry* other = remoteByName.take(entry.name);
        rows.append(CompareOne(&entry, other, mode));
    }
    for (const ComparedEntry& entry : remote) {
        if (remoteByName.contains(entry.name))
            rows.append(CompareOne(nullptr, &entry, mode));
    }
    return rows;
}
