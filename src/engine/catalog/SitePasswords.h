#pragma once

#include "engine/base/FtpSite.h"

#include <QString>

class CSiteCatalog;
class CXmlDocument;
class CXmlNode;

// Where site passwords live, by the setting "PasswordStore": the desktop's
// keyring, the catalogue file in clear text, or nowhere (typed at the first
// connect of a run and kept in memory until the program ends). Whatever the
// place, no password is ever written anywhere else: not into the queue, the
// Trace or a log.
namespace SitePasswords {

// The place the setting names; "keyring" where nothing is set.
PasswordPlace ChosenPlace();
// Where a password stored now goes: the chosen place, or the catalogue file
// while no keyring answers (fellBack then true).
PasswordPlace PlaceForNewPasswords(bool* fellBack = nullptr);
QString PlaceName(PasswordPlace place);

// No login, "anonymous" or "ftp": the password is an e-mail address, if any.
bool IsAnonymousLogin(const QString& login);
// A connect to the site needs a password it lacks: it has a login that is
// not anonymous, and no password.
bool NeedsPassword(const CFtpSite& site);
// Fills site.password from where it lives: the keyring, or what was typed
// earlier in this run. False when it is not known; `problem` then says why
// when the keyring had a say (locked, refused, gone).
bool Fill(CFtpSite& site, QString* problem = nullptr);
// Keeps a typed password for the rest of the run, for the site (by its id or
// its address and login).
void RememberForRun(const CFtpSite& site, const QString& password);
void ForgetRemembered();

// Puts the password where new passwords go and marks the site so: its place,
// an id when it has none, the PASSWORD element's text. The caller writes the
// site into the catalogue. A keyring that refuses leaves the password in the
// catalogue file instead, and says so in `problem`.
void Store(CFtpSite& site, const QString& password, QString* problem = nullptr);
// A site about to enter the catalogue as a new one (a copy, a favorite, the
// wizard's): an id of its own, and its password where new passwords go.
void PrepareNewSite(CFtpSite& site, QString* problem = nullptr);
// The same for every site below `subtree` of a document (an import).
void PrepareNewSites(CXmlDocument& document, CXmlNode* subtree, QString* problem = nullptr);
// A site leaves the catalogue: its keyring entry goes with it.
void Discard(const CFtpSite& site);

// Every site's password of an open catalogue moved to `place` (stored
// passwords only; a keyring entry that cannot be read stays where it is).
// The caller writes the catalogue. Returns how many moved; `problem` names
// the first that could not.
int MoveAll(CSiteCatalog& catalog, PasswordPlace place, QString* problem = nullptr);
// Sites of an open catalogue whose password stands in the file (anonymous
// logins, whose "password" is an e-mail address, not counted; MoveAll leaves
// them in the file too).
int CountInFile(CSiteCatalog& catalog);
// Sites of an open catalogue with a stored password elsewhere than `place`.
int CountToMove(CSiteCatalog& catalog, PasswordPlace place);

// Once per run, after a password went to the file because no keyring
// answered: the warning for the Trace. Empty otherwise.
QString TakeFallbackWarning();

} // namespace SitePasswords
