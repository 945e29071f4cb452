#pragma once

#include <QList>
#include <QString>

// One entry of a transfer job: a remote or local file or folder, its times,
// size and path. Sizes are 64-bit: files over 4 GiB transfer like any other.
struct FileStatus {
    static constexpr quint8 kFolder = 0x10;
    // `modified` is the server's UTC time to the second (MLSD, MDTM), not a
    // LIST time without zone: a download can give it to its copy unasked.
    static constexpr quint8 kExactTime = 0x20;
    static constexpr quint8 kResume = 0x80; // continue a partial upload

    qint64 created = 0;  // seconds since the Unix epoch, UTC
    qint64 accessed = 0;
    qint64 modified = 0;
    quint64 size = 0;
    quint8 attribute = 0;
    QString path; // a bare name, a full local path or an absolute remote path

    bool IsFolder() const { return (attribute & kFolder) != 0; }
    bool IsResume() const { return (attribute & kResume) != 0; }
    bool HasExactTime() const { return (attribute & kExactTime) != 0; }
};

using FileStatusList = QList<FileStatus>;
