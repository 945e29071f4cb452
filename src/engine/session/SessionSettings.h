#pragma once

#include "engine/base/FtpSite.h"

#include <QString>

// What the session takes from the user's settings. It is handed to the
// session as a value (CFtpSession::SetSettings) and never read inside it, so
// a caller decides when a change applies and a test states what it runs with.
struct SessionSettings {
    int connectionTimeoutSeconds = 30; // connect, send and receive
    int proxyType = 0;                 // kx::settings::kProxy*
    QString proxyName;                 // host[:port] of the named proxy
    bool statusLines = true;           // the internet session's status lines go to the Trace

    // The values as the settings store holds them now.
    static SessionSettings FromProfile();
};

// The site a connect goes to: the catalogue site at `siteOrAddress` (a path
// such as "Folder\\Site"), or else the address as typed, with the settings'
// defaults for passive mode, attempts, delay, download folder and encryption
// and the given user and password.
CFtpSite SiteToConnect(const QString& siteOrAddress, const QString& user, const QString& password);
