#include "engine/transfer/LocalPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

QString AbbreviatePath(const QString& path, int maximum, bool keepName)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (path.size() <= maximum)
        return path;
    if (maximum < name.size())
        return keepName ? name : QString();
    qsizetype end = path.indexOf(QLatin1Char('/'), path.startsWith(QLatin1Char('/')) ? 1 : 0);
    if (end < 0)
        return name;
    if (path.size() - name.size() > end + 1) {
        const qsizetype next = path.indexOf(QLatin1Char('/'), end + 1);
        if (next >= 0)
            end = next;
    }
    const QString volume = path.left(end);
    if (maximum < volume.size() + 5 + name.size())
        return name;
    QString rest = path.mid(end);
    while (volume.size() + 4 + rest.size() > maximum) {
        const qsizetype slash = rest.indexOf(QLatin1Char('/'), 1);
        if (slash < 0)
            break;
        rest = rest.mid(slash);
    }
    return volume + QStringLiteral("/...") + rest;
}

bool CreateFolderPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    QDir().mkpath(path);
    return QFileInfo(path).isDir();
}

QString WithSingleSlashes(QString path)
{
    while (path.contains(QLatin1String("//")))
        path.replace(QLatin1String("//"), QLatin1String("/"));
    return path;
}

FileStatus FileStatusOfLocal(const QFileInfo& info)
{
    FileStatus record;
    record.path = info.absoluteFilePath();
    record.size = info.isDir() ? 0 : quint64(info.size());
    record.modified = info.lastModified().toSecsSinceEpoch();
    record.accessed = info.lastRead().toSecsSinceEpoch();
    record.created = info.birthTime().isValid() ? info.birthTime().toSecsSinceEpoch() : record.modified;
    record.attribute = info.isDir() ? FileStatus::kFolder : 0;
    return record;
}
