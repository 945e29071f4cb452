#pragma once

#include <QString>

class CXmlDocument;
class CXmlNode;

struct SiteImportResult {
    int sites = 0;                // sites added
    int folders = 0;              // folders added
    int skipped = 0;              // entries of protocols other than FTP/FTPS/SFTP
    int passwordsNotImported = 0; // sites added without their password
    QString error;                // non-empty: nothing was added
    QString passwordProblem;      // the keyring refused; those passwords stayed in the file
};

// Adds the folders and sites of a FileZilla "sitemanager.xml" under `folder`
// (null: the catalogue root) of the document. All or nothing: on error the
// document is left untouched.
//
// Names that clash (ignoring case) with a sibling of the same kind, imported
// or already there, get " (2)", " (3)" ... so every entry stays reachable by
// its path. That includes folders: an import never mixes its entries into a
// folder the user already has, so removing an import's folders removes it.
SiteImportResult ImportFileZillaSites(const QString& fileName, CXmlDocument& document, CXmlNode* folder);

// One or two plain sentences for the user about what an import did.
QString DescribeImport(const SiteImportResult& result);
