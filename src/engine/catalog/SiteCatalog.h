#pragma once

#include "engine/catalog/XmlDocument.h"

#include <QString>

class CFtpSite;

// The catalogue of saved sites ("sites.xml"): folders and sites in an XML
// tree. Sites and folders are addressed by site paths, the names from the top
// joined by "\" (the root's own name excluded), compared ignoring case.
//
// The lookups and SaveSite read the file afresh on every call. The Site
// Manager holds one of these for its editing session: Open, edit Document(),
// Write.
class CSiteCatalog {
public:
    enum class FileState {
        Loaded,     // the file was read
        Missing,    // no file yet (or an empty one): a fresh catalogue in memory
        Unreadable, // the file exists but could not be read as a catalogue
    };

    explicit CSiteCatalog(QString path = DefaultPath());

    // "sites.xml" beside the executable when that folder is writable or
    // already holds one; otherwise in the per-user data folder.
    static QString DefaultPath();
    // Redirects DefaultPath for the rest of the process (tests, portable
    // set-ups); an empty path restores the rule above.
    static void SetDefaultPathOverride(const QString& path);

    const QString& Path() const { return m_path; }
    CXmlDocument& Document() { return m_document; }
    FileState State() const { return m_state; }

    // Reads the file into Document(). A missing or unreadable file leaves a
    // fresh root "SITES" named "Favorites" in memory.
    FileState Open();
    // Writes Document() back. Refused (false) when Open found the file
    // unreadable, so a catalogue we failed to understand is never replaced by
    // an empty one.
    bool Write();
    // What went wrong with the file, in words for the user: the last failed
    // Write or SaveSite, or the unreadable file Open found. Empty when fine.
    QString ProblemText() const;

    bool LoadSite(const QString& sitePath, CFtpSite& site);
    // Stores the record under the folder (null: the root; a folder path that
    // names no folder: the root), updating a site of the same name in place.
    // A missing file is created. Writes nothing and returns false when the
    // file exists but cannot be read.
    bool SaveSite(const CFtpSite& site, const QString* folderPath = nullptr);

    // A fresh site's values from the settings' defaults (port 21, passive,
    // local path, retries, retry delay); the other fields empty.
    static CFtpSite DefaultSite();
    // "DefaultEncryption", or TLS if available when the setting is odd.
    static int DefaultEncryption();
    // The value elements of a SITE node, read and written in the file's
    // order; reading ignores the node's name attribute. The password is
    // written only when it lives in the file.
    static CFtpSite ReadSiteValues(CXmlDocument& document, CXmlNode* site);
    static void WriteSiteValues(CXmlDocument& document, CXmlNode* site, const CFtpSite& values);
    // New elements appended under `parent` (null: the root); the name is
    // cleaned of what an attribute cannot hold.
    static CXmlNode* AddFolder(CXmlDocument& document, CXmlNode* parent, const QString& name);
    static CXmlNode* AddSite(CXmlDocument& document, CXmlNode* parent, const CFtpSite& site);
    static bool IsFolder(const CXmlNode* node);
    static bool IsSite(const CXmlNode* node);
    // A FOLDER or the SITES root: what can hold folders and sites.
    static bool IsContainer(const CXmlNode* node);
    // The node's site or folder path: names from the top joined by "\", the
    // root's own name left out (the root gives an empty path).
    static QString PathOf(const CXmlNode* node);

    CXmlNode* FindFolderByPath(CXmlNode* start, const QString& folderPath);
    CXmlNode* FindSiteByName(CXmlNode* folder, const QString& name);

    // Drops the characters an attribute value in the file cannot hold.
    static QString CleanName(const QString& name);
    // Characters a folder or site name may not hold, so that every name can
    // be found again by its path: double quote * / : < > ? \ |
    static bool IsForbiddenNameCharacter(QChar c);
    static QString WithoutForbiddenCharacters(const QString& name);
    // C-library decimal conversion: leading white space and a sign accepted,
    // reading stops at the first non-digit, nothing readable gives 0. Values
    // beyond the 32-bit range are clamped.
    static int ToInt(const QString& text);

    static constexpr char kFileName[] = "sites.xml";
    static constexpr char kRootElement[] = "SITES";
    static constexpr char kFolderElement[] = "FOLDER";
    static constexpr char kSiteElement[] = "SITE";
    static constexpr char kNameAttribute[] = "name";
    static constexpr char kRootDisplayName[] = "Favorites";
    // The value elements of a SITE, in the order they are written.
    static constexpr char kAddress[] = "ADDRESS";
    static constexpr char kPort[] = "PORT";
    static constexpr char kPassiveMode[] = "PASVMODE";
    static constexpr char kLogin[] = "LOGIN";
    static constexpr char kPassword[] = "PASSWORD";
    static constexpr char kRemotePath[] = "REMOTEPATH";
    static constexpr char kLocalPath[] = "LOCALPATH";
    static constexpr char kRetries[] = "RETRIES";
    static constexpr char kRetryDelay[] = "RETRYDELAY";
    static constexpr char kDescription[] = "DESCRIPTION";
    // Written after the others, so catalogues without it keep loading: a site
    // without it follows "DefaultEncryption".
    static constexpr char kEncryption[] = "ENCRYPTION";
    // After those: the site's lasting id, and where its password lives
    // ("keyring" or "ask"; without the element, in PASSWORD). A version that
    // knows neither finds an empty PASSWORD: no password stored.
    static constexpr char kSiteId[] = "SITEID";
    static constexpr char kPasswordPlace[] = "PASSWORDIN";
    static constexpr char kPlaceKeyring[] = "keyring";
    static constexpr char kPlaceAsk[] = "ask";
    // Last, and only for sites that need them, so a catalogue of FTP sites
    // reads the same to a version from before SFTP: the protocol ("0" FTP,
    // "1" SFTP; anything else reads as FTP) and an SFTP site's private key.
    static constexpr char kProtocol[] = "PROTOCOL";
    static constexpr char kKeyFile[] = "KEYFILE";

private:
    FileState Read();
    void MakeFreshRoot();
    CXmlNode* FindNamedChild(CXmlNode* parent, const char* element, const QString& name);

    QString m_path;
    QString m_problem;
    CXmlDocument m_document;
    FileState m_state = FileState::Missing;
};
