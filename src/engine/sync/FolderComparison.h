#pragma once

#include "engine/base/TimePrecision.h"

#include <QList>
#include <QString>

// One side's entry of a folder, as the comparison needs it.
struct ComparedEntry {
    QString name;
    bool folder = false;
    quint64 size = 0;
    qint64 modified = -1; // seconds since the Unix epoch, UTC; -1 when unknown
    TimePrecision precision = TimePrecision::Exact;
};

enum class Difference {
    Same,
    OnlyLocal,
    OnlyRemote,
    LocalNewer,
    RemoteNewer,
    SizeDiffers, // same age as far as the times tell, other sizes
};

enum class CompareMode { Size, SizeAndTime };

struct ComparedRow {
    QString name;
    bool folder = false;
    Difference difference = Difference::Same;
    // The times were too coarse or zoneless to tell which side is newer;
    // the row was judged by size alone.
    bool approximate = false;
};

// Compares the entries of a local and a remote folder by name (exactly, as
// Linux and FTP servers name files), in UTC throughout: the local time zone
// and daylight saving never make a file newer. A time known only to the
// minute, or without its zone, is newer only beyond what its precision and
// any zone could explain; within that the row is marked approximate.
class CFolderComparison {
public:
    // Seconds by which two times may differ and still count as the same,
    // for the coarser of the two precisions.
    static qint64 Tolerance(TimePrecision a, TimePrecision b);

    static QList<ComparedRow> Compare(const QList<ComparedEntry>& local, const QList<ComparedEntry>& remote,
                                      CompareMode mode);
    // One pair (either may be missing: null).
    static ComparedRow CompareOne(const ComparedEntry* local, const ComparedEntry* remote, CompareMode mode);
};
