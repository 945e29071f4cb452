#include "engine/catalog/SiteCatalog.h"

#include "engine/base/FtpSite.h"
#include "engine/base/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace {

QString g_pathOverride;

QString ExecutableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Command-line tools and benchmarks may run without an application object.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

bool IsWritableFolder(const QString& folder)
{
    return !folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

// Text with nothing but white space is what an interrupted first save or a
// `touch` leaves behind: there is nothing in it to lose.
bool IsBlank(const QString& text)
{
    for (const QChar c : text) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

} // namespace

CSiteCatalog::CSiteCatalog(QString path)
    : m_path(std::move(path))
{
}

QString CSiteCatalog::DefaultPath()
{
    if (!g_pathOverride.isEmpty())
        return g_pathOverride;
    const QString besideProgram = ExecutableFolder() + QLatin1Char('/') + QLatin1String(kFileName);
    if (QFileInfo::exists(besideProgram) || IsWritableFolder(ExecutableFolder()))
        return besideProgram;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Orlavek/Kestrix/") + QLatin1String(kFileName);
}

void CSiteCatalog::SetDefaultPathOverride(const QString& path)
{
    g_pathOverride = path;
}

void CSiteCatalog::MakeFreshRoot()
{
    m_document.Clear();
    m_document.Root()->SetName(QLatin1String(kRootElement));
    m_document.Root()->SetAttribute(QLatin1String(kNameAttribute), QLatin1String(kRootDisplayName));
}

CSiteCatalog::FileState CSiteCatalog::Read()
{
    const QFileInfo info(m_path);
    if (!info.exists() && !info.isSymLink())
        return FileState::Missing;
    if (!m_document.Load(m_path))
        return FileState::Unreadable;
    if (m_document.Root()->Name().compare(QLatin1String(kRootElement), Qt::CaseInsensitive) == 0)
        return FileState::Loaded;
    if (IsBlank(m_document.SourceText()))
        return FileState::Missing;
    // Some other file under our name: rewriting it would destroy it.
    return FileState::Unreadable;
}

CSiteCatalog::FileState CSiteCatalog::Open()
{
    m_state = Read();
    m_problem.clear();
    if (m_state == FileState::Unreadable)
        m_problem = QStringLiteral("The site catalogue \"%1\" exists but could not be read. It is left as it is, "
                                   "and nothing will be saved to it; changes made now are lost when you close.")
                        .arg(QDir::toNativeSeparators(m_path));
    if (m_state != FileState::Loaded)
        MakeFreshRoot();
    return m_state;
}

QString CSiteCatalog::ProblemText() const
{
    return m_problem;
}

bool CSiteCatalog::Write()
{
    if (m_state == FileState::Unreadable)
        return false;
    const auto failed = [this](const QString& why) {
        m_problem = QStringLiteral("The site catalogue could not be saved to \"%1\": %2. "
                                   "The file on disk was left as it was.")
                        .arg(m_path, why);
        return false;
    };
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder))
            return failed(QStringLiteral("the folder \"%1\" could not be created").arg(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    if (!m_document.Save(m_path))
        return failed(m_document.SaveError());
    m_state = FileState::Loaded;
    m_problem.clear();
    return true;
}

CXmlNode* CSiteCatalog::FindNamedChild(CXmlNode* parent, const char* element, const QString& name)
{
    if (!parent)
        parent = m_document.Root();
    for (std::size_t i = 0; i < parent->ChildCount(); ++i) {
        CXmlNode* child = parent->ChildAt(i);
        if (child->Name().compare(QLatin1String(element), Qt::CaseInsensitive) == 0
            && child->GetAttribute(QLatin1String(kNameAttribute)).compare(name, Qt::CaseInsensitive) == 0)
            return child;
    }
    return nullptr;
}

CXmlNode* CSiteCatalog::FindFolderByPath(CXmlNode* start, const QString& folderPath)
{
    // Every component but the last is looked up where the previous one was
    // found, or from the root when it was not; the last one must exist.
    const QStringList names = folderPath.split(QLatin1Char('\\'));
    CXmlNode* node = start ? start : m_document.Root();
    for (qsizetype i = 0; i < names.size(); ++i) {
        CXmlNode* found = FindNamedChild(node, kFolderElement, names[i]);
        if (i == names.size() - 1)
            return found;
        node = found ? found : m_document.Root();
    }
    return nullptr;
}

CXmlNode* CSiteCatalog::FindSiteByName(CXmlNode* folder, const QString& name)
{
    return FindNamedChild(folder, kSiteElement, name);
}

bool CSiteCatalog::LoadSite(const QString& sitePath, CFtpSite& site)
{
    if (Read() != FileState::Loaded)
        return false;
    CXmlNode* folder = nullptr;
    QString name = sitePath;
    const qsizetype split = sitePath.lastIndexOf(QLatin1Char('\\'));
    if (split >= 0) {
        folder = FindFolderByPath(nullptr, sitePath.left(split));
        name = sitePath.mid(split + 1);
    }
    CXmlNode* node = FindSiteByName(folder, name);
    if (!node)
        return false;

    site = ReadSiteValues(m_document, node);
    site.name = node->GetAttribute(QLatin1String(kNameAttribute));
    return true;
}

bool CSiteCatalog::SaveSite(const CFtpSite& site, const QString* folderPath)
{
    // A first site goes into a new file; one we cannot read stays untouched.
    if (Open() == FileState::Unreadable)
        return false;
    CXmlNode* folder = folderPath ? FindFolderByPath(nullptr, *folderPath) : nullptr;
    if (!folder)
        folder = m_document.Root();

    CXmlNode* node = FindSiteByName(folder, CleanName(site.name));
    if (node)
        WriteSiteValues(m_document, node, site);
    else
        AddSite(m_document, folder, site);
    return Write();
}

CFtpSite CSiteCatalog::DefaultSite()
{
    CFtpSite site;
    site.port = 21;
    site.passive = GetProfileInt(kx::settings::DefaultUsePASVMode) != 0;
    site.encryption = DefaultEncryption();
    site.localPath = GetProfileString(kx::settings::DefaultLocalPath);
    site.retries = GetProfileInt(kx::settings::DefaultRetries);
    site.retryDelay = GetProfileInt(kx::settings::DefaultRetryDelay);
    return site;
}

CFtpSite CSiteCatalog::ReadSiteValues(CXmlDocument& document, CXmlNode* node)
{
    const auto text = [&](const char* element) { return document.GetChildText(node, QLatin1String(element)); };
    CFtpSite site;
    site.address = text(kAddress);
    site.passive = text(kPassiveMode) == QLatin1String("1");
    site.retries = ToInt(text(kRetries));
    site.retryDelay = ToInt(text(kRetryDelay));
    site.port = ToInt(text(kPort));
    site.description = text(kDescription);
    site.localPath = text(kLocalPath);
    site.remotePath = text(kRemotePath);
    site.login = text(kLogin);
    site.password = text(kPassword);
    const QString encryption = text(kEncryption).trimmed();
    bool known = false;
    const int value = encryption.toInt(&known);
    site.encryption = known && value >= kPlainFtp && value <= kImplicitTls ? value : DefaultEncryption();
    site.id = text(kSiteId).trimmed();
    const QString place = text(kPasswordPlace).trimmed();
    // A keyring entry needs the id it is kept under; without one the
    // password cannot be found, and is asked for.
    if (place == QLatin1String(kPlaceKeyring))
        site.passwordPlace = site.id.isEmpty() ? PasswordPlace::Ask : PasswordPlace::Keyring;
    else if (place == QLatin1String(kPlaceAsk))
        site.passwordPlace = PasswordPlace::Ask;
    if (site.passwordPlace != PasswordPlace::CatalogueFile)
        site.password.clear();
    // Only the values we know: a protocol from a newer version that this one
    // cannot speak is better tried as FTP than refused.
    if (text(kProtocol).trimmed() == QLatin1String("1"))
        site.protocol = SiteProtocol::Sftp;
    site.keyFile = text(kKeyFile);
    return site;
}

void CSiteCatalog::WriteSiteValues(CXmlDocument& document, CXmlNode* node, const CFtpSite& site)
{
    const auto set = [&](const char* element, const QString& value) {
        document.SetChildText(node, QLatin1String(element), value);
    };
    set(kAddress, site.address);
    set(kPort, QString::number(site.port));
    set(kPassiveMode, site.passive ? QStringLiteral("1") : QStringLiteral("0"));
    set(kLogin, site.login);
    set(kPassword, site.passwordPlace == PasswordPlace::CatalogueFile ? site.password : QString());
    set(kRemotePath, site.remotePath);
    set(kLocalPath, site.localPath);
    set(kRetries, QString::number(site.retries));
    set(kRetryDelay, QString::number(site.retryDelay));
    set(kDescription, site.description);
    set(kEncryption, QString::number(site.encryption));
    // Catalogues that never used the keyring stay as they were.
    const bool hasPlace = document.FindChild(node, QLatin1String(kPasswordPlace)) != nullptr;
    if (!site.id.isEmpty() || document.FindChild(node, QLatin1String(kSiteId)))
        set(kSiteId, site.id);
    switch (site.passwordPlace) {
    case PasswordPlace::Keyring: set(kPasswordPlace, QLatin1String(kPlaceKeyring)); break;
    case PasswordPlace::Ask: set(kPasswordPlace, QLatin1String(kPlaceAsk)); break;
    case PasswordPlace::CatalogueFile:
        if (hasPlace)
            set(kPasswordPlace, QString());
        break;
    }
    // Catalogues of FTP sites stay as they were, byte for byte.
    if (site.protocol != SiteProtocol::Ftp || document.FindChild(node, QLatin1String(kProtocol)))
        set(kProtocol, QString::number(static_cast<qint32>(site.protocol)));
    if (!site.keyFile.isEmpty() || document.FindChild(node, QLatin1String(kKeyFile)))
        set(kKeyFile, site.keyFile);
}

int CSiteCatalog::DefaultEncryption()
{
    const int value = GetProfileInt(kx::settings::DefaultEncryption);
    return value >= kPlainFtp && value <= kImplicitTls ? value : kExplicitTlsIfAvailable;
}

CXmlNode* CSiteCatalog::AddFolder(CXmlDocument& document, CXmlNode* parent, const QString& name)
{
    const QString attributes = QStringLiteral("name = \"%1\"").arg(CleanName(name));
    return document.AddChild(parent, QLatin1String(kFolderElement), nullptr, &attributes);
}

CXmlNode* CSiteCatalog::AddSite(CXmlDocument& document, CXmlNode* parent, const CFtpSite& site)
{
    const QString attributes = QStringLiteral("name = \"%1\"").arg(CleanName(site.name));
    CXmlNode* node = document.AddChild(parent, QLatin1String(kSiteElement), nullptr, &attributes);
    WriteSiteValues(document, node, site);
    return node;
}

bool CSiteCatalog::IsFolder(const CXmlNode* node)
{
    return node && node->Name().compare(QLatin1String(kFolderElement), Qt::CaseInsensitive) == 0;
}

bool CSiteCatalog::IsSite(const CXmlNode* node)
{
    return node && node->Name().compare(QLatin1String(kSiteElement), Qt::CaseInsensitive) == 0;
}

bool CSiteCatalog::IsContainer(const CXmlNode* node)
{
    return node && (IsFolder(node) || node->Name().compare(QLatin1String(kRootElement), Qt::CaseInsensitive) == 0);
}

QString CSiteCatalog::PathOf(const CXmlNode* node)
{
    QStringList names;
    for (; node && node->Parent(); node = node->Parent())
        names.prepend(node->GetAttribute(QLatin1String(kNameAttribute)));
    return names.join(QLatin1Char('\\'));
}

bool CSiteCatalog::IsForbiddenNameCharacter(QChar c)
{
    return QStringView(u"\"*/:<>?\\|").contains(c);
}

QString CSiteCatalog::WithoutForbiddenCharacters(const QString& name)
{
    QString cleaned;
    cleaned.reserve(name.size());
    for (const QChar c : name) {
        if (!IsForbiddenNameCharacter(c))
            cleaned += c;
    }
    return cleaned;
}

QString CSiteCatalog::CleanName(const QString& name)
{
    QString cleaned = name;
    cleaned.remove(QLatin1Char('"'));
    cleaned.remove(QLatin1Char('<'));
    cleaned.remove(QLatin1Char('>'));
    return cleaned;
}

int CSiteCatalog::ToInt(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    // isspace() of the C locale: space, \t, \n, \v, \f, \r.
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i] >= QLatin1Char('\t') && text[i] <= QLatin1Char('\r'))))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 kLimit = qint64(std::numeric_limits<int>::max()) + 1;
    while (i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        value = std::min(kLimit, value * 10 + (text[i].unicode() - '0'));
        ++i;
    }
    if (negative)
        return static_cast<int>(std::max<qint64>(-value, std::numeric_limits<int>::min()));
    return static_cast<int>(std::min<qint64>(value, std::numeric_limits<int>::max()));
}
