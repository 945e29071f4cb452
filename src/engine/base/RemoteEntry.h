#pragma once

#include "engine/base/TimePrecision.h"

#include <QString>

// One entry of a remote folder as the program keeps it: what the session
// hands to the views, free of the FTP library's own types.
struct RemoteEntry {
    QString name;
    quint64 size = 0;     // bytes; 64-bit, files over 4 GiB are common
    qint64 modified = -1; // seconds since the Unix epoch, UTC; -1 when unknown
    // A LIST time is the server's clock without its zone: a comparison of
    // dates allows for that.
    TimePrecision precision = TimePrecision::Exact;
    bool folder = false;
    // As the listing gives them ("rwxr-xr-x", names or numbers); empty when it does not.
    QString permissions;
    QString owner;
    QString group;
};
