#include "window/sites/PendingPasswords.h"

#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"

#include <QUuid>

#include <functional>

namespace {

void ForEachSiteNode(CXmlNode* node, const std::function<void(CXmlNode*)>& visit)
{
    if (CSiteCatalog::IsSite(node)) {
        visit(node);
        return;
    }
    for (std::size_t i = 0; node && i < node->ChildCount(); ++i)
        ForEachSiteNode(node->ChildAt(i), visit);
}

CXmlNode* FindSiteById(CXmlNode* node, CXmlDocument& document, const QString& id)
{
    CXmlNode* found = nullptr;
    ForEachSiteNode(node, [&](CXmlNode* site) {
        if (!found && document.GetChildText(site, QLatin1String(CSiteCatalog::kSiteId)).trimmed() == id)
            found = site;
    });
    return found;
}

} // namespace

void CPendingPasswords::Edited(CXmlDocument& document, CXmlNode* node, const QString& password)
{
    CFtpSite site = CSiteCatalog::ReadSiteValues(document, node);
    if (site.id.isEmpty())
        site.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const PasswordPlace place = SitePasswords::PlaceForNewPasswords();
    // The keyring keeps its entry until the write: a dialog closed on a
    // locked keyring must not have lost the old password already.
    if (site.passwordPlace != PasswordPlace::Keyring || place == PasswordPlace::Keyring)
        site.passwordPlace = place;
    site.password = password;
    CSiteCatalog::WriteSiteValues(document, node, site);
    m_typed.insert(site.id, password);
}

QString CPendingPasswords::Typed(CXmlDocument& document, CXmlNode* node) const
{
    const QString id = document.GetChildText(node, QLatin1String(CSiteCatalog::kSiteId)).trimmed();
    return id.isEmpty() ? QString() : m_typed.value(id);
}

void CPendingPasswords::Removed(CXmlDocument& document, CXmlNode* node)
{
    ForEachSiteNode(node, [&](CXmlNode* site) {
        CFtpSite values = CSiteCatalog::ReadSiteValues(document, site);
        m_typed.remove(values.id);
        if (values.passwordPlace == PasswordPlace::Keyring)
            m_removed << values;
    });
}

QStringList CPendingPasswords::Apply(CXmlDocument& document)
{
    QStringList problems;
    for (auto typed = m_typed.cbegin(); typed != m_typed.cend(); ++typed) {
        CXmlNode* node = FindSiteById(document.Root(), document, typed.key());
        if (!node)
            continue;
        CFtpSite site = CSiteCatalog::ReadSiteValues(document, node);
        QString problem;
        SitePasswords::Store(site, typed.value(), &problem);
        CSiteCatalog::WriteSiteValues(document, node, site);
        if (!problem.isEmpty())
            problems << QStringLiteral("%1: %2").arg(node->GetAttribute(QLatin1String(CSiteCatalog::kNameAttribute)), problem);
    }
    for (const CFtpSite& site : std::as_const(m_removed)) {
        // A site moved in the tree is removed and added again under its id.
        if (!FindSiteById(document.Root(), document, site.id))
            SitePasswords::Discard(site);
    }
    m_typed.clear();
    m_removed.clear();
    return problems;
}
