#include "engine/base/FtpSite.h"

QStringList SiteEncryptionChoices()
{
    return {QStringLiteral("Plain FTP (insecure)"), QStringLiteral("Explicit FTP over TLS if available"),
            QStringLiteral("Require explicit FTP over TLS"), QStringLiteral("Implicit FTP over TLS")};
}

int DefaultPortOf(SiteProtocol protocol, qint32 encryption)
{
    if (protocol == SiteProtocol::Sftp)
        return 22;
    return encryption == kImplicitTls ? 990 : 21;
}

QString UrlSchemeOf(const CFtpSite& site)
{
    if (site.protocol == SiteProtocol::Sftp)
        return QStringLiteral("sftp");
    return site.encryption == kImplicitTls ? QStringLiteral("ftps") : QStringLiteral("ftp");
}
