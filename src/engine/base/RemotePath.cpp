#include "engine/base/RemotePath.h"

#include <QUrl>

QString RemotePath::Name() const
{
    return IsRoot() ? QString() : m_path.section(QLatin1Char('/'), -1);
}

QStringList RemotePath::Components() const
{
    return m_path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

RemotePath RemotePath::Parent() const
{
    if (IsEmpty() || IsRoot())
        return *this;
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    return RemotePath(slash == 0 ? QStringLiteral("/") : m_path.left(slash));
}

RemotePath RemotePath::Child(const QString& name) const
{
    if (IsEmpty() || !IsValidName(name))
        return RemotePath();
    return RemotePath(IsRoot() ? m_path + name : m_path + QLatin1Char('/') + name);
}

RemotePath RemotePath::Resolve(const QString& typed) const
{
    QStringList names = typed.startsWith(QLatin1Char('/')) ? QStringList() : Components();
    for (const QString& name : typed.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            if (!names.isEmpty())
                names.removeLast();
            continue;
        }
        names << name;
    }
    return FromComponents(names);
}

bool RemotePath::IsWithin(const RemotePath& folder) const
{
    if (IsEmpty() || folder.IsEmpty())
        return false;
    if (folder.IsRoot() || m_path == folder.m_path)
        return true;
    return m_path.startsWith(folder.m_path) && m_path.at(folder.m_path.size()) == QLatin1Char('/');
}

QStringList RemotePath::ComponentsBelow(const RemotePath& folder) const
{
    if (!IsWithin(folder))
        return {};
    return Components().mid(folder.Components().size());
}

bool RemotePath::IsValidName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QChar(0) || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return false;
    }
    return true;
}

RemotePath RemotePath::FromComponents(const QStringList& names)
{
    return RemotePath(QLatin1Char('/') + names.join(QLatin1Char('/')));
}

QString RemotePath::Url(const QString& scheme, const QString& user, const QString& host, int port) const
{
    QUrl url;
    url.setScheme(scheme);
    const bool anonymous = user.isEmpty() || user.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0;
    if (!anonymous)
        url.setUserName(user, QUrl::DecodedMode);
    url.setHost(host, QUrl::DecodedMode);
    const int standard = scheme == QLatin1String("sftp") ? 22 : scheme == QLatin1String("ftps") ? 990 : 21;
    if (port > 0 && port != standard)
        url.setPort(port);
    url.setPath(IsEmpty() ? QStringLiteral("/") : m_path, QUrl::DecodedMode);
    // Fully encoded: "#", "?" and "%" in names stay names for whoever reads it.
    QString text = url.toString(QUrl::FullyEncoded);
    return text;
}
