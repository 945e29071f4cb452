#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class CXmlNode;
class QMenu;

// The generated part of the Favorites menu: every catalogued site, folders
// first and then sites, each group sorted by name ignoring case; folders that
// hold no site anywhere below are left out. The entries before `fixedCount`
// (Add to Favorites, Organize Favorites, the separator) are left alone.
class CFavoritesMenu : public QObject {
    Q_OBJECT
public:
    // More entries would make a menu nobody can use; the Site Manager has all.
    static constexpr int kMaxSites = 512;

    CFavoritesMenu(QMenu* menu, int fixedCount, QObject* parent = nullptr);

    // Reads the catalogue afresh; an unreadable or missing one leaves only
    // the fixed entries.
    void Rebuild(const QString& catalogPath);
    // Site paths in the order of their site numbers.
    const QStringList& SitePaths() const { return m_paths; }
    QMenu* Menu() const { return m_menu; }

signals:
    void SiteChosen(const QString& sitePath);

private:
    void Fill(const CXmlNode* node, QMenu* menu, int insertAt);
    static bool HoldsSite(const CXmlNode* node);

    QMenu* m_menu;
    int m_fixedCount;
    QStringList m_paths;
};
