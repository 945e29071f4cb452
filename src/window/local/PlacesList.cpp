#include "window/local/PlacesList.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <algorithm>

namespace {

bool IsAtOrUnder(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

QString CPlacesList::Normalized(const QString& path)
{
    if (path.isEmpty())
        return QString();
    return QDir::cleanPath(QDir(path).absolutePath());
}

QString CPlacesList::ParentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString CPlacesList::NameOf(const QString& path)
{
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool CPlacesList::IsBrowsableVolume(const QString& mountPoint, const QByteArray& fileSystemType)
{
    for (const char* hidden : {"/proc", "/sys", "/dev", "/run", "/var/run", "/snap"}) {
        if (IsAtOrUnder(mountPoint, QLatin1String(hidden)))
            return false;
    }
    static const QList<QByteArray> pseudo = {
        "proc", "sysfs", "devtmpfs", "devpts", "squashfs", "securityfs", "pstore", "debugfs",
        "tracefs", "bpf", "mqueue", "hugetlbfs", "fusectl", "configfs", "binfmt_misc", "autofs",
        "efivarfs", "nsfs", "rpc_pipefs", "ramfs"};
    if (pseudo.contains(fileSystemType) || fileSystemType.startsWith("cgroup"))
        return false;
    // A tmpfs is usually a private scratch area of the system; /tmp is the
    // one users put files in. An overlay is a container's root file system.
    if (fileSystemType == "tmpfs")
        return mountPoint == QLatin1String("/tmp");
    if (fileSystemType == "overlay")
        return mountPoint == QLatin1String("/");
    return true;
}

int CPlacesList::IndexOf(const QString& path) const
{
    for (int row = 0; row < m_entries.size(); ++row) {
        if (m_entries[row].path == path)
            return row;
    }
    return -1;
}

int CPlacesList::NearestAncestor(const QString& path) const
{
    QString ancestor = path;
    while (ancestor != QLatin1String("/")) {
        ancestor = ParentOf(ancestor);
        const int row = IndexOf(ancestor);
        if (row >= 0)
            return row;
    }
    return -1;
}

void CPlacesList::AddFixed(const QString& path, const QString& text, int indent, Kind kind)
{
    if (IndexOf(path) < 0)
        m_entries.append({path, text, indent, false, kind});
}

void CPlacesList::AddSystemPlaces()
{
    AddFixed(QStringLiteral("/"), QStringLiteral("/"), 0, Kind::Root);
    const QString home = Normalized(QDir::homePath());
    if (QFileInfo(home).isDir())
        AddFixed(home, NameOf(home), 1, Kind::Home);

    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                                QStandardPaths::DownloadLocation, QStandardPaths::MusicLocation,
                                QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation}) {
        const QString path = Normalized(QStandardPaths::writableLocation(location));
        // Unconfigured folders fall back to the home folder itself.
        if (!path.isEmpty() && path != home && QFileInfo(path).isDir())
            AddFixed(path, NameOf(path), 2, Kind::Standard);
    }

    QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    std::sort(volumes.begin(), volumes.end(),
              [](const QStorageInfo& a, const QStorageInfo& b) { return a.rootPath() < b.rootPath(); });
    for (const QStorageInfo& volume : volumes) {
        const QString root = Normalized(volume.rootPath());
        // Containers mount single files (/etc/hosts) as volumes.
        if (!volume.isValid() || !volume.isReady() || !IsBrowsableVolume(root, volume.fileSystemType())
            || !QFileInfo(root).isDir() || IndexOf(root) >= 0)
            continue;
        const int parent = NearestAncestor(root);
        const int indent = parent < 0 ? 0 : m_entries[parent].indent + 1;
        const QString label = volume.name();
        AddFixed(root, label.isEmpty() ? root : QStringLiteral("%1 (%2)").arg(label, root), indent, Kind::Volume);
    }
}

int CPlacesList::ShowLocation(const QString& folder)
{
    m_entries.removeIf([](const Entry& entry) { return entry.temporary && entry.indent > kKeptTemporaryIndent; });
    const int existing = IndexOf(folder);
    if (existing >= 0)
        return existing;

    QStringList missing{folder};
    int parent = -1;
    for (QString ancestor = folder; ancestor != QLatin1String("/");) {
        ancestor = ParentOf(ancestor);
        parent = IndexOf(ancestor);
        if (parent >= 0)
            break;
        missing.prepend(ancestor);
    }
    int row = parent + 1;
    int indent = parent < 0 ? 0 : m_entries[parent].indent + 1;
    for (const QString& path : std::as_const(missing))
        m_entries.insert(row++, {path, NameOf(path), indent++, true, Kind::Folder});
    return row - 1;
}
