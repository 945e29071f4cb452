#pragma once

#include <QString>

// An address as the user typed it: "ftp://host:port/path", or any other
// "scheme://..." (which parses, but is not FTP). A bare host does not parse;
// the session then tries again with "ftp://" in front of it.
struct FtpUrl {
    QString scheme;      // lower case
    QString server;      // host name or address, IPv6 without brackets
    QString objectPath;  // "/" when the address names none
    int port = 0;        // the scheme's default when the address names none
    bool explicitPort = false;

    bool IsFtp() const { return scheme == QLatin1String("ftp"); }

    static bool Parse(const QString& address, FtpUrl& url);
};
