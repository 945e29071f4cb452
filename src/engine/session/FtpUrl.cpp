#include "engine/session/FtpUrl.h"

#include <QUrl>

namespace {

int DefaultPort(const QString& scheme)
{
    if (scheme == QLatin1String("ftp") || scheme == QLatin1String("ftpes"))
        return 21;
    if (scheme == QLatin1String("ftps"))
        return 990;
    if (scheme == QLatin1String("sftp"))
        return 22;
    if (scheme == QLatin1String("http"))
        return 80;
    if (scheme == QLatin1String("https"))
        return 443;
    if (scheme == QLatin1String("gopher"))
        return 70;
    return 0;
}

bool IsSchemeText(const QString& scheme)
{
    if (scheme.isEmpty() || !scheme[0].isLetter())
        return false;
    for (const QChar c : scheme) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.'))
            || c.unicode() > 0x7f)
            return false;
    }
    return true;
}

} // namespace

bool FtpUrl::Parse(const QString& address, FtpUrl& url)
{
    const QString text = address.trimmed();
    const qsizetype separator = text.indexOf(QLatin1String("://"));
    if (separator <= 0)
        return false;
    FtpUrl result;
    result.scheme = text.left(separator).toLower();
    if (!IsSchemeText(result.scheme))
        return false;

    const QString rest = text.mid(separator + 3);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    QString authority = slash < 0 ? rest : rest.left(slash);
    result.objectPath = slash < 0 ? QStringLiteral("/") : rest.mid(slash);
    // Credentials in the address are not ours to use: the site record holds them.
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        authority = authority.mid(at + 1);

    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        result.server = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return false;
            portText = after.mid(1);
        }
    } else {
        const qsizetype colon = authority.indexOf(QLatin1Char(':'));
        if (colon >= 0 && authority.indexOf(QLatin1Char(':'), colon + 1) >= 0) {
            result.server = authority; // a bare IPv6 address
        } else if (colon >= 0) {
            result.server = authority.left(colon);
            portText = authority.mid(colon + 1);
            if (portText.isEmpty())
                return false;
        } else {
            result.server = authority;
        }
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port <= 0 || port > 65535 || portText.startsWith(QLatin1Char('+')))
            return false;
        result.port = port;
        result.explicitPort = true;
    } else {
        result.port = DefaultPort(result.scheme);
    }
    for (const QChar c : result.server) {
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20)
            return false;
    }
    url = result;
    return true;
}

bool FtpUrl::TakeCredentials(QString& address, QString& user, QString& password)
{
    const qsizetype separator = address.indexOf(QLatin1String("://"));
    const qsizetype start = separator < 0 ? 0 : separator + 3;
    qsizetype end = address.indexOf(QLatin1Char('/'), start);
    if (end < 0)
        end = address.size();
    // The last "@" of the authority: a password may hold one unencoded.
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'), end - 1);
    if (at < start)
        return false;
    const QString userInfo = address.mid(start, at - start);
    const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
    const auto decoded = [](const QString& text) { return QUrl::fromPercentEncoding(text.toUtf8()); };
    const QString name = decoded(colon < 0 ? userInfo : userInfo.left(colon));
    if (name.isEmpty())
        return false;
    user = name;
    password = colon < 0 ? QString() : decoded(userInfo.mid(colon + 1));
    address.remove(start, at + 1 - start);
    return true;
}
