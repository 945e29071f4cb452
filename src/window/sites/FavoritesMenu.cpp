#include "window/sites/FavoritesMenu.h"

#include "engine/catalog/SiteCatalog.h"
#include "window/resources/Resources.h"

#include <QMenu>

#include <algorithm>
#include <vector>

namespace {

QString NameOf(const CXmlNode* node)
{
    return node->GetAttribute(QLatin1String(CSiteCatalog::kNameAttribute));
}

// Children of one kind, by name ignoring case; equal names keep their order.
std::vector<const CXmlNode*> SortedChildren(const CXmlNode* node, bool (*kind)(const CXmlNode*))
{
    std::vector<const CXmlNode*> children;
    for (std::size_t i = 0; i < node->ChildCount(); ++i) {
        if (kind(node->ChildAt(i)))
            children.push_back(node->ChildAt(i));
    }
    std::stable_sort(children.begin(), children.end(), [](const CXmlNode* a, const CXmlNode* b) {
        return NameOf(a).compare(NameOf(b), Qt::CaseInsensitive) < 0;
    });
    return children;
}

} // namespace

CFavoritesMenu::CFavoritesMenu(QMenu* menu, int fixedCount, QObject* parent)
    : QObject(parent)
    , m_menu(menu)
    , m_fixedCount(fixedCount)
{
}

void CFavoritesMenu::Rebuild(const QString& catalogPath)
{
    const QList<QAction*> actions = m_menu->actions();
    for (qsizetype i = m_fixedCount; i < actions.size(); ++i) {
        m_menu->removeAction(actions[i]);
        // A folder's action owns nothing; its submenu is a child of the menu.
        if (QMenu* sub = actions[i]->menu())
            sub->deleteLater();
        actions[i]->deleteLater();
    }
    m_paths.clear();

    CSiteCatalog catalog(catalogPath);
    if (catalog.Open() == CSiteCatalog::FileState::Loaded)
        Fill(catalog.Document().Root(), m_menu, m_fixedCount);
    // The separator under the fixed entries only separates something.
    if (m_fixedCount > 0 && m_fixedCount <= actions.size() && actions[m_fixedCount - 1]->isSeparator())
        actions[m_fixedCount - 1]->setVisible(m_menu->actions().size() > m_fixedCount);
}

bool CFavoritesMenu::HoldsSite(const CXmlNode* node)
{
    // Without recursion: the catalogue may nest deeply.
    std::vector<const CXmlNode*> pending{node};
    while (!pending.empty()) {
        const CXmlNode* at = pending.back();
        pending.pop_back();
        for (std::size_t i = 0; i < at->ChildCount(); ++i) {
            const CXmlNode* child = at->ChildAt(i);
            if (CSiteCatalog::IsSite(child))
                return true;
            if (CSiteCatalog::IsFolder(child))
                pending.push_back(child);
        }
    }
    return false;
}

void CFavoritesMenu::Fill(const CXmlNode* node, QMenu* menu, int insertAt)
{
    // Sites take their numbers before the folders below them, as a reader
    // of the menu meets them: the folder entries go above the sites.
    const std::vector<const CXmlNode*> sites = SortedChildren(node, &CSiteCatalog::IsSite);
    for (const CXmlNode* site : sites) {
        if (m_paths.size() >= kMaxSites)
            break;
        const QString path = CSiteCatalog::PathOf(site);
        QAction* action = menu->addAction(kx::CatalogIconFor(kx::CatalogIcon::Site), NameOf(site).replace(QLatin1Char('&'), QLatin1String("&&")));
        action->setObjectName(QStringLiteral("favorite%1").arg(m_paths.size()));
        action->setStatusTip(QStringLiteral("Connects to %1").arg(QString(path).replace(QLatin1Char('\\'), QStringLiteral(" > "))));
        m_paths << path;
        connect(action, &QAction::triggered, this, [this, path] { emit SiteChosen(path); });
    }
    QAction* firstSite = insertAt < menu->actions().size() ? menu->actions().at(insertAt) : nullptr;
    for (const CXmlNode* folder : SortedChildren(node, &CSiteCatalog::IsFolder)) {
        if (m_paths.size() >= kMaxSites || !HoldsSite(folder))
            continue;
        auto* sub = new QMenu(NameOf(folder).replace(QLatin1Char('&'), QLatin1String("&&")), menu);
        sub->setIcon(kx::CatalogIconFor(kx::CatalogIcon::Folder));
        Fill(folder, sub, 0);
        if (sub->actions().isEmpty()) {
            delete sub;
            continue;
        }
        menu->insertMenu(firstSite, sub);
    }
}
