#include "base/FtpSite.h"

#include <QDataStream>

QDataStream& operator<<(QDataStream& stream, const CFtpSite& site)
{
    stream << site.address << site.retries << site.description << site.localPath << site.login << site.name
           << site.password << site.port << site.remotePath << site.retryDelay << site.reserved
           << qint32(site.passive ? 1 : 0);
    return stream;
}

QDataStream& operator>>(QDataStream& stream, CFtpSite& site)
{
    qint32 passive = 0;
    stream >> site.address >> site.retries >> site.description >> site.localPath >> site.login >> site.name
        >> site.password >> site.port >> site.remotePath >> site.retryDelay >> site.reserved >> passive;
    site.passive = passive != 0;
    return stream;
}
