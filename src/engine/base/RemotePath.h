#pragma once

#include <QString>
#include <QStringList>

// An absolute folder or file path on the server: "/" followed by names joined
// by "/", with no empty, "." or ".." component and no trailing "/" (the root
// is "/"). Names compare exactly, as the servers of the program's users do.
//
// Remote items are named by these, built when a command starts, rather than
// by a row of a view or relative to a server folder that may have moved.
// A default-constructed path is empty: no folder is meant yet.
class RemotePath {
public:
    RemotePath() = default;
    static RemotePath Root() { return RemotePath(QStringLiteral("/")); }
    // A path as a server reports it (PWD): repeated and trailing "/" are
    // dropped, "." and ".." resolved; a text without a leading "/" is taken
    // from the root.
    static RemotePath FromServer(const QString& text) { return Root().Resolve(text); }

    bool IsEmpty() const { return m_path.isEmpty(); }
    bool IsRoot() const { return m_path.size() == 1; }
    const QString& ToString() const { return m_path; }
    // The last name; empty for the root.
    QString Name() const;
    QStringList Components() const;

    // The folder holding this one; the root is its own parent.
    RemotePath Parent() const;
    // This path and one more name; empty when `name` is not a single name
    // (IsValidName), so a name can never lead out of its folder.
    RemotePath Child(const QString& name) const;
    // A typed path: one beginning with "/" stands alone, any other goes below
    // this one; "." and ".." are resolved by the text, never climbing above
    // the root.
    RemotePath Resolve(const QString& typed) const;

    // The address of this path on a server, for the clipboard and other
    // programs: "ftp://user@host:port/path", every part percent-encoded, the
    // port left out when it is the scheme's own, never a password.
    QString Url(const QString& scheme, const QString& user, const QString& host, int port) const;

    // True when this path is `folder` itself or lies anywhere below it.
    bool IsWithin(const RemotePath& folder) const;
    // The names that lead from `folder` down to this path; empty when this is
    // `folder` or not within it.
    QStringList ComponentsBelow(const RemotePath& folder) const;

    // A name that can stand in a folder on its own: not empty, not "." or
    // "..", and holding no "/", NUL, CR or LF.
    static bool IsValidName(const QString& name);

    friend bool operator==(const RemotePath&, const RemotePath&) = default;

private:
    explicit RemotePath(QString normalised) : m_path(std::move(normalised)) {}
    static RemotePath FromComponents(const QStringList& names);

    QString m_path;
};
