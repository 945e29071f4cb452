#pragma once

#include <QString>
#include <QStringList>


// How a site's connection is protected.
enum SiteEncryption : qint32 {
    kPlainFtp = 0,
    kExplicitTlsIfAvailable = 1, // AUTH TLS when the server takes it, plain otherwise
    kExplicitTlsRequired = 2,    // AUTH TLS or no connection
    kImplicitTls = 3,            // TLS from the first byte (ftps://, port 990)
};

// The choices as the dialogs offer them, in SiteEncryption order.
QStringList SiteEncryptionChoices();

// The protocol a site speaks. Catalogues written before SFTP have no element
// for it: their sites are FTP.
enum class SiteProtocol : qint32 {
    Ftp = 0,  // FTP, with or without TLS (see SiteEncryption)
    Sftp = 1, // SFTP over SSH, port 22 by default
};

// The port a protocol uses when none is given (21, 22; 990 for implicit TLS).
int DefaultPortOf(SiteProtocol protocol, qint32 encryption = 0);

class CFtpSite;
// The scheme of the site's addresses: "sftp", "ftps" (TLS from the first
// byte) or "ftp" (the other ways begin as plain FTP).
QString UrlSchemeOf(const CFtpSite& site);

// Where a catalogue site's password lives.
enum class PasswordPlace : qint32 {
    CatalogueFile = 0, // in the PASSWORD element, in clear text
    Keyring = 1,       // in the desktop's keyring, under the site's id
    Ask = 2,           // nowhere: asked at the first connect of a run
};

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
    // How the connection is protected (SiteEncryption). The stored form keeps
    // it where an unused field used to be, so older records read as plain.
    qint32 encryption = 0;
    bool passive = false;
    // Stays with the site through renames and moves: the key of its keyring
    // entry. Empty for a typed address and for sites written before it.
    QString id;
    PasswordPlace passwordPlace = PasswordPlace::CatalogueFile;
    SiteProtocol protocol = SiteProtocol::Ftp;
    // SFTP: a private key file tried before the user's usual keys; empty for
    // the SSH agent and ~/.ssh's keys alone.
    QString keyFile;

    friend bool operator==(const CFtpSite&, const CFtpSite&) = default;
};
