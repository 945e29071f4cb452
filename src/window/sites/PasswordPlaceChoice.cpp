#include "window/sites/PasswordPlaceChoice.h"

#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "engine/catalog/Keyring.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"

namespace {

using namespace kx;

PasswordPlace PlaceOf(int store)
{
    switch (store) {
    case settings::kPasswordStoreFile: return PasswordPlace::CatalogueFile;
    case settings::kPasswordStoreNowhere: return PasswordPlace::Ask;
    default: return PasswordPlace::Keyring;
    }
}

// Moves what the catalogue stores to `place` after the user agreed. The
// file is written in one piece (a failed write leaves the old file), unless
// the caller holds it open and writes it. True when something moved.
bool MovePasswords(QWidget* owner, PasswordPlace place, const QString& question, CSiteCatalog* open = nullptr)
{
    CSiteCatalog file;
    CSiteCatalog& catalog = open ? *open : file;
    if (!open && catalog.Open() != CSiteCatalog::FileState::Loaded)
        return false;
    const int count = SitePasswords::CountToMove(catalog, place);
    if (count == 0)
        return false;
    if (Prompts().AskYesNo(owner, question.arg(count), QStringLiteral("Passwords")) != IPrompts::Yes)
        return false;
    QString problem;
    const int moved = SitePasswords::MoveAll(catalog, place, &problem);
    if (moved > 0 && !open && !catalog.Write()) {
        Prompts().Message(owner, catalog.ProblemText(), IPrompts::Icon::Error);
        return false;
    }
    if (!problem.isEmpty())
        Prompts().Message(owner,
                          QStringLiteral("%1 of %2 passwords were moved. The keyring said: %3").arg(moved).arg(count).arg(problem),
                          IPrompts::Icon::Warning);
    return moved > 0;
}

} // namespace

CPasswordPlaceChoice::CPasswordPlaceChoice(QWidget* parent)
    : QComboBox(parent)
{
    setObjectName(QStringLiteral("passwordPlace"));
    // In the order of the setting's values.
    addItem(QStringLiteral("the desktop's keyring"));
    addItem(QStringLiteral("the site catalogue (clear text)"));
    addItem(QStringLiteral("nowhere (ask at every start)"));
    if (!CKeyring::IsAvailable())
        setItemText(0, QStringLiteral("the desktop's keyring (none answers: clear text)"));
    Reload();
}

int CPasswordPlaceChoice::StoreSetting() const
{
    return currentIndex();
}

void CPasswordPlaceChoice::Reload()
{
    const int store = GetProfileInt(settings::PasswordStore);
    setCurrentIndex(store == settings::kPasswordStoreFile || store == settings::kPasswordStoreNowhere
                        ? store
                        : settings::kPasswordStoreKeyring);
}

bool CPasswordPlaceChoice::Apply(QWidget* owner, CSiteCatalog* open) const
{
    const int store = StoreSetting();
    if (PlaceOf(store) == SitePasswords::ChosenPlace() && GetProfileInt(settings::PasswordStore) >= 0)
        return false;
    WriteProfileInt(settings::PasswordStore, store);
    WriteProfileInt(settings::PasswordMoveOffered, 1);
    const PasswordPlace place = SitePasswords::PlaceForNewPasswords();
    switch (place) {
    case PasswordPlace::Keyring:
        return MovePasswords(owner, place, QStringLiteral("Move the stored passwords of %1 sites into the desktop's keyring?"),
                             open);
    case PasswordPlace::CatalogueFile:
        return MovePasswords(owner, place,
                             QStringLiteral("Move the stored passwords of %1 sites into the site catalogue, in clear text?"),
                             open);
    case PasswordPlace::Ask:
        return MovePasswords(owner, place,
                             QStringLiteral("Forget the stored passwords of %1 sites? They are asked for at the next connect."),
                             open);
    }
    return false;
}

void OfferToMovePasswordsIntoKeyring(QWidget* owner)
{
    if (GetProfileInt(settings::PasswordMoveOffered) || SitePasswords::ChosenPlace() != PasswordPlace::Keyring
        || !CKeyring::IsAvailable())
        return;
    CSiteCatalog catalog;
    if (catalog.Open() != CSiteCatalog::FileState::Loaded || SitePasswords::CountInFile(catalog) == 0)
        return;
    WriteProfileInt(settings::PasswordMoveOffered, 1);
    MovePasswords(owner, PasswordPlace::Keyring,
                  QStringLiteral("%1 sites keep their passwords in the site catalogue, in clear text. "
                                 "Move them into the desktop's keyring?"));
}
