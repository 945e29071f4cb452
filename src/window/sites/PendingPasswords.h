#pragma once

#include "engine/base/FtpSite.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class CXmlDocument;
class CXmlNode;

// Passwords typed into the Site Manager, and sites it removed, until the
// catalogue is written: then each typed password goes where the setting
// "Store passwords in" says (the keyring, the file, or this run's memory)
// and the removed sites' keyring entries go. The document is marked at once,
// so what the dialog shows and connects with is where the password will be.
class CPendingPasswords {
public:
    // The site's password as typed now; the site gets an id if it has none.
    void Edited(CXmlDocument& document, CXmlNode* site, const QString& password);
    // Typed and not yet stored; null when nothing was typed for the site.
    QString Typed(CXmlDocument& document, CXmlNode* site) const;
    // A site, or a folder with its sites, leaves the catalogue.
    void Removed(CXmlDocument& document, CXmlNode* node);
    // Before the document is written: the typed passwords to their places,
    // the removed sites' entries out of the keyring. Returns what went wrong,
    // in words for the user.
    QStringList Apply(CXmlDocument& document);
    bool IsEmpty() const { return m_typed.isEmpty() && m_removed.isEmpty(); }

private:
    QHash<QString, QString> m_typed; // by site id
    QList<CFtpSite> m_removed;
};
