#include "engine/base/FtpSite.h"

#include <QDataStream>

QStringList SiteEncryptionChoices()
{
    return {QStringLiteral("Plain FTP (insecure)"), QStringLiteral("Explicit FTP over TLS if available"),
            QStringLiteral("Require explicit FTP over TLS"), QStringLiteral("Implicit FTP over TLS")};
}

QDataStream& operator<<(QDataStream& stream, const CFtpSite& site)
{
    stream << site.address << site.retries << site.description << site.localPath << site.login << site.name
           << site.password << site.port << site.remotePath << site.retryDelay << site.encryption
           << qint32(site.passive ? 1 : 0);
    return stream;
}

QDataStream& operator>>(QDataStream& stream, CFtpSite& site)
{
    qint32 passive = 0;
    stream >> site.address >> site.retries >> site.description >> site.localPath >> site.login >> site.name
        >> site.password >> site.port >> site.remotePath >> site.retryDelay >> site.encryption >> passive;
    site.passive = passive != 0;
    return stream;
}
