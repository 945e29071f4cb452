#include "engine/catalog/SitePasswords.h"

#include "engine/base/Settings.h"
#include "engine/catalog/Keyring.h"
#include "engine/catalog/SiteCatalog.h"

#include <QHash>
#include <QUuid>

#include <functional>

namespace {

bool g_fellBack = false;
bool g_fallbackWarned = false;

// Typed in this run; never written anywhere.
QHash<QString, QString>& Remembered()
{
    static QHash<QString, QString> passwords;
    return passwords;
}

QString MemoryKey(const CFtpSite& site)
{
    if (!site.id.isEmpty())
        return site.id;
    return QStringLiteral("%1@%2:%3").arg(site.login, site.address).arg(site.port);
}

void ForEachSite(CXmlNode* node, const std::function<void(CXmlNode*)>& visit)
{
    for (std::size_t i = 0; i < node->ChildCount(); ++i) {
        CXmlNode* child = node->ChildAt(i);
        if (CSiteCatalog::IsSite(child))
            visit(child);
        else if (CSiteCatalog::IsFolder(child))
            ForEachSite(child, visit);
    }
}

QString KeyringProblem(const CKeyring::Reply& reply)
{
    return reply.error.isEmpty() ? QStringLiteral("The keyring did not answer.") : reply.error;
}

} // namespace

namespace SitePasswords {

PasswordPlace ChosenPlace()
{
    switch (kx::GetProfileInt(kx::settings::PasswordStore)) {
    case kx::settings::kPasswordStoreFile: return PasswordPlace::CatalogueFile;
    case kx::settings::kPasswordStoreNowhere: return PasswordPlace::Ask;
    default: return PasswordPlace::Keyring;
    }
}

PasswordPlace PlaceForNewPasswords(bool* fellBack)
{
    PasswordPlace place = ChosenPlace();
    const bool noKeyring = place == PasswordPlace::Keyring && !CKeyring::IsAvailable();
    if (noKeyring)
        place = PasswordPlace::CatalogueFile;
    g_fellBack = g_fellBack || noKeyring;
    if (fellBack)
        *fellBack = noKeyring;
    return place;
}

QString PlaceName(PasswordPlace place)
{
    switch (place) {
    case PasswordPlace::Keyring: return QStringLiteral("the desktop's keyring");
    case PasswordPlace::CatalogueFile: return QStringLiteral("the site catalogue (clear text)");
    case PasswordPlace::Ask: return QStringLiteral("nowhere (asked at every start)");
    }
    return QString();
}

bool IsAnonymousLogin(const QString& login)
{
    const QString name = login.trimmed();
    return name.isEmpty() || name.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) == 0
        || name.compare(QLatin1String("ftp"), Qt::CaseInsensitive) == 0;
}

bool NeedsPassword(const CFtpSite& site)
{
    return site.password.isEmpty() && !IsAnonymousLogin(site.login);
}

bool Fill(CFtpSite& site, QString* problem)
{
    if (!site.password.isEmpty())
        return true;
    if (const auto known = Remembered().constFind(MemoryKey(site)); known != Remembered().cend()) {
        site.password = *known;
        return true;
    }
    if (site.passwordPlace != PasswordPlace::Keyring || site.id.isEmpty())
        return false;
    const CKeyring::Reply reply = CKeyring::Read(CKeyring::KeyOfSite(site.id));
    if (reply.status == CKeyring::Status::Ok) {
        site.password = reply.password;
        return true;
    }
    if (problem) {
        *problem = reply.status == CKeyring::Status::NotFound
            ? QStringLiteral("The keyring gave no password for this site (it may be locked).")
            : QStringLiteral("The keyring could not give the password: %1").arg(KeyringProblem(reply));
    }
    return false;
}

void RememberForRun(const CFtpSite& site, const QString& password)
{
    Remembered().insert(MemoryKey(site), password);
}

void ForgetRemembered()
{
    Remembered().clear();
}

void Store(CFtpSite& site, const QString& password, QString* problem)
{
    const PasswordPlace place = PlaceForNewPasswords();
    site.password = password;
    if (place == PasswordPlace::Keyring) {
        if (site.id.isEmpty())
            site.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const CKeyring::Reply reply = CKeyring::Write(CKeyring::KeyOfSite(site.id), password);
        if (reply.status == CKeyring::Status::Ok) {
            site.passwordPlace = PasswordPlace::Keyring;
            return;
        }
        if (problem)
            *problem = QStringLiteral("The keyring did not take the password (%1); it is kept in the site catalogue.")
                           .arg(KeyringProblem(reply));
        site.passwordPlace = PasswordPlace::CatalogueFile;
        return;
    }
    if (site.passwordPlace == PasswordPlace::Keyring)
        Discard(site);
    site.passwordPlace = place;
    if (place == PasswordPlace::Ask) {
        RememberForRun(site, password);
        site.password.clear();
    }
}

void PrepareNewSite(CFtpSite& site, QString* problem)
{
    site.id.clear();
    site.passwordPlace = PasswordPlace::CatalogueFile;
    // An anonymous login's "password" is an e-mail address: no secret.
    if (!site.password.isEmpty() && !IsAnonymousLogin(site.login))
        Store(site, site.password, problem);
}

void PrepareNewSites(CXmlDocument& document, CXmlNode* subtree, QString* problem)
{
    const auto prepare = [&](CXmlNode* node) {
        CFtpSite site = CSiteCatalog::ReadSiteValues(document, node);
        PrepareNewSite(site, problem && problem->isEmpty() ? problem : nullptr);
        CSiteCatalog::WriteSiteValues(document, node, site);
    };
    if (CSiteCatalog::IsSite(subtree))
        prepare(subtree);
    else
        ForEachSite(subtree, prepare);
}

void Discard(const CFtpSite& site)
{
    if (site.passwordPlace == PasswordPlace::Keyring && !site.id.isEmpty())
        CKeyring::Remove(CKeyring::KeyOfSite(site.id));
}

int MoveAll(CSiteCatalog& catalog, PasswordPlace place, QString* problem)
{
    CXmlDocument& document = catalog.Document();
    int moved = 0;
    ForEachSite(document.Root(), [&](CXmlNode* node) {
        CFtpSite site = CSiteCatalog::ReadSiteValues(document, node);
        // An anonymous login's "password" is an e-mail address, no secret.
        if (site.passwordPlace == place || IsAnonymousLogin(site.login))
            return;
        QString password = site.password;
        if (site.passwordPlace == PasswordPlace::Keyring) {
            // A locked keyring answers "not found" too: whatever the answer,
            // a site whose password did not come stays as it is, marker and
            // entry, rather than lose what the keyring may still hold.
            const CKeyring::Reply reply = CKeyring::Read(CKeyring::KeyOfSite(site.id));
            if (reply.status != CKeyring::Status::Ok) {
                if (problem && problem->isEmpty())
                    *problem = reply.status == CKeyring::Status::NotFound
                        ? QStringLiteral("The keyring gave no password for \"%1\" (it may be locked).").arg(node->GetAttribute(QLatin1String(CSiteCatalog::kNameAttribute)))
                        : KeyringProblem(reply);
                return;
            }
            password = reply.password;
        }
        if (password.isEmpty() && site.passwordPlace == PasswordPlace::CatalogueFile)
            return; // nothing stored to move
        CFtpSite moving = site;
        if (place == PasswordPlace::Keyring) {
            if (moving.id.isEmpty())
                moving.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            const CKeyring::Reply reply = CKeyring::Write(CKeyring::KeyOfSite(moving.id), password);
            if (reply.status != CKeyring::Status::Ok) {
                if (problem && problem->isEmpty())
                    *problem = KeyringProblem(reply);
                return;
            }
        }
        if (site.passwordPlace == PasswordPlace::Keyring)
            Discard(site);
        moving.passwordPlace = place;
        moving.password = place == PasswordPlace::CatalogueFile ? password : QString();
        CSiteCatalog::WriteSiteValues(document, node, moving);
        ++moved;
    });
    return moved;
}

int CountToMove(CSiteCatalog& catalog, PasswordPlace place)
{
    CXmlDocument& document = catalog.Document();
    int count = 0;
    ForEachSite(document.Root(), [&](CXmlNode* node) {
        const CFtpSite site = CSiteCatalog::ReadSiteValues(document, node);
        const bool stored = site.passwordPlace == PasswordPlace::Keyring
            || (site.passwordPlace == PasswordPlace::CatalogueFile && !site.password.isEmpty()
                && !IsAnonymousLogin(site.login));
        count += stored && site.passwordPlace != place ? 1 : 0;
    });
    return count;
}

QString TakeFallbackWarning()
{
    if (!g_fellBack || g_fallbackWarned)
        return QString();
    g_fallbackWarned = true;
    return QStringLiteral("No keyring answers on this desktop: passwords are kept in the site catalogue, in clear text.");
}

int CountInFile(CSiteCatalog& catalog)
{
    CXmlDocument& document = catalog.Document();
    int count = 0;
    ForEachSite(document.Root(), [&](CXmlNode* node) {
        const CFtpSite site = CSiteCatalog::ReadSiteValues(document, node);
        count += site.passwordPlace == PasswordPlace::CatalogueFile && !site.password.isEmpty()
                && !IsAnonymousLogin(site.login)
            ? 1
            : 0;
    });
    return count;
}

} // namespace SitePasswords
