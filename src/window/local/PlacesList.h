#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The entries of the Local Browser's "Look in" drop-down, kept apart from the
// combo box so the rules can be followed without a window. The fixed entries
// (the root, the home folder, its standard folders, the mounted volumes) stay
// for the whole run; the folder being shown gets an entry of its own, with
// every ancestor that has none, so the drop-down always reads as a path.
class CPlacesList {
public:
    enum class Kind { Root, Home, Standard, Volume, Folder };

    struct Entry {
        QString path; // absolute, no trailing slash except "/"
        QString text;
        int indent = 0;
        bool temporary = false;
        Kind kind = Kind::Folder;
    };

    // Temporary entries at this indent or shallower are kept when the
    // location changes: they are the short paths the user is likely to use
    // again, and keeping them keeps the list from jumping about.
    static constexpr int kKeptTemporaryIndent = 2;

    // Adds a fixed entry at the end, unless its path already has one.
    void AddFixed(const QString& path, const QString& text, int indent, Kind kind);
    // The root, the home folder, its standard folders that exist and the
    // mounted volumes worth browsing, as this machine has them.
    void AddSystemPlaces();

    // Makes `folder` the location: drops the deep temporary entries of
    // earlier locations and inserts `folder` and its missing ancestors, each
    // right after its parent's entry. Returns the row of `folder`.
    int ShowLocation(const QString& folder);

    int IndexOf(const QString& path) const;
    // The row of the deepest entry above `path`, or -1.
    int NearestAncestor(const QString& path) const;
    const QList<Entry>& Entries() const { return m_entries; }

    // The form every path is kept in: absolute, cleaned, no trailing slash.
    static QString Normalized(const QString& path);
    // "/" for "/a" and for "/"; the folder above otherwise.
    static QString ParentOf(const QString& path);
    // The last name of the path; "/" for the root.
    static QString NameOf(const QString& path);
    // False for the kernel's and the container's pseudo file systems, which
    // nobody downloads into.
    static bool IsBrowsableVolume(const QString& mountPoint, const QByteArray& fileSystemType);

private:
    QList<Entry> m_entries;
};
