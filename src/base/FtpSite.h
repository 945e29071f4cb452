#pragma once

#include <QString>

class QDataStream;

// The parameters of one FTP site: a catalogue entry, a quick connection, or
// the job description handed to a transfer thread.
class CFtpSite {
public:
    QString address;       // host name or URL as typed
    qint32 retries = 1;    // connection attempts
    QString description;
    QString localPath;     // local download folder
    QString login;
    QString name;          // catalogue name; empty for a site not in the catalogue
    QString password;
    qint32 port = 21;
    QString remotePath;    // folder to open after login
    qint32 retryDelay = 15; // seconds between attempts
    qint32 reserved = 0;   // unused, kept so the stored form stays stable
    bool passive = false;

    friend bool operator==(const CFtpSite&, const CFtpSite&) = default;
};

// The record's stored form: every field in declaration order, strings as
// strings and numbers (the passive flag included) as 32-bit integers.
QDataStream& operator<<(QDataStream& stream, const CFtpSite& site);
QDataStream& operator>>(QDataStream& stream, CFtpSite& site);
