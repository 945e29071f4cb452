#include "engine/catalog/SiteImporter.h"

#include "engine/base/FtpSite.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/catalog/XmlDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QStringList>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

namespace {

// FileZilla's protocol numbers; they are stored in its files and never change.
constexpr int kFtp = 0;          // plain FTP that tries TLS when the server offers it
constexpr int kSftp = 1;
constexpr int kFtpsImplicit = 3;
constexpr int kFtpsExplicit = 4;
constexpr int kInsecureFtp = 6;  // plain FTP only

// FileZilla's server types that matter for its stored remote folders.
constexpr int kTypeDefault = 0;
constexpr int kTypeUnix = 1;
constexpr int kTypeDos = 3;
constexpr int kTypeDosVirtual = 8;
constexpr int kTypeCygwin = 9;
constexpr int kTypeDosForwardSlashes = 10;

// A folder or a site read from the file, in document order, so that a parent
// always comes before what it holds.
struct Entry {
    bool isFolder = false;
    qsizetype parent = -1; // index of the holding folder; -1: the folder imported into
    QString name;
    CFtpSite site;
};

struct ParsedFile {
    std::vector<Entry> entries;
    int skipped = 0;
    int passwordsNotImported = 0;
    QString error;
};

QString Native(const QString& fileName)
{
    return QDir::toNativeSeparators(fileName);
}

bool IsControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// The catalogue file drops line breaks and tabs and trims its values, so a
// value is made to look now as it will when read back.
QString SingleLine(const QString& text)
{
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsControl(text[i]))
            line += text[i];
        else if (i == 0 || !IsControl(text[i - 1]))
            line += QLatin1Char(' ');
    }
    return line.trimmed();
}

// A name every lookup by path finds again: "a/b" reads on as "a_b".
QString CatalogueName(const QString& raw)
{
    QString name;
    name.reserve(raw.size());
    for (const QChar c : raw) {
        if (IsControl(c))
            name += QLatin1Char(' ');
        else if (CSiteCatalog::IsForbiddenNameCharacter(c))
            name += QLatin1Char('_');
        else
            name += c;
    }
    return name.trimmed();
}

// FileZilla stores a remote folder as "type prefix-length[ prefix]" followed
// by " length segment" for every segment, so that segments may hold spaces.
// Its Windows builds count lengths in UTF-16 units, the others in code points;
// the two differ only for characters beyond the BMP.
std::optional<QString> DecodeServerPath(QStringView text, bool countCodePoints)
{
    qsizetype pos = 0;
    const auto number = [&](qsizetype limit) -> std::optional<qsizetype> {
        qsizetype value = 0;
        const qsizetype start = pos;
        while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
            value = value * 10 + (text[pos++].unicode() - u'0');
            // Also keeps the value from overflowing.
            if (value > limit)
                return std::nullopt;
        }
        return pos > start ? std::optional<qsizetype>(value) : std::nullopt;
    };
    const auto space = [&]() { return pos < text.size() && text[pos++] == u' '; };
    const auto take = [&](qsizetype count) -> std::optional<QString> {
        qsizetype end = pos;
        for (qsizetype i = 0; i < count; ++i) {
            if (end >= text.size())
                return std::nullopt;
            const bool pair = countCodePoints && text[end].isHighSurrogate() && end + 1 < text.size()
                && text[end + 1].isLowSurrogate();
            end += pair ? 2 : 1;
        }
        const QString taken = text.mid(pos, end - pos).toString();
        pos = end;
        return taken;
    };

    const std::optional<qsizetype> type = number(kTypeDosForwardSlashes);
    if (!type || !space())
        return std::nullopt;
    // No length can exceed the text it counts.
    const std::optional<qsizetype> prefixLength = number(text.size());
    if (!prefixLength)
        return std::nullopt;
    // Prefixes belong to VMS, MVS and the like, whose paths we cannot spell.
    if (*prefixLength != 0)
        return std::nullopt;
    QStringList segments;
    while (pos < text.size()) {
        if (!space())
            return std::nullopt;
        const std::optional<qsizetype> length = number(text.size());
        if (!length || *length == 0 || !space())
            return std::nullopt;
        const std::optional<QString> segment = take(*length);
        if (!segment)
            return std::nullopt;
        segments << *segment;
    }

    switch (*type) {
    case kTypeDefault:
    case kTypeUnix:
    case kTypeDosVirtual:
    case kTypeCygwin:
        return QLatin1Char('/') + segments.join(QLatin1Char('/'));
    case kTypeDos:
    case kTypeDosForwardSlashes: {
        if (segments.isEmpty())
            return std::nullopt;
        const QChar separator = *type == kTypeDos ? QLatin1Char('\\') : QLatin1Char('/');
        // A drive alone is its root: "C:\".
        return segments.size() == 1 ? segments.front() + separator : segments.join(separator);
    }
    default:
        return std::nullopt;
    }
}

QString DecodeRemoteDir(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QString();
    for (const bool codePoints : {false, true}) {
        if (const std::optional<QString> path = DecodeServerPath(trimmed, codePoints))
            return SingleLine(*path);
    }
    return QString();
}

// The text children of one <Server> element.
struct ServerFields {
    QHash<QString, QString> values;
    QString passEncoding;
    QString ownText; // old files put the name here

    QString Value(const char* name) const { return values.value(QLatin1String(name)); }
};

std::optional<QString> Password(const ServerFields& fields)
{
    const QString stored = fields.Value("Pass");
    QString password;
    if (fields.passEncoding.isEmpty()) {
        password = stored;
    } else if (fields.passEncoding == QLatin1String("base64")) {
        const auto decoded = QByteArray::fromBase64Encoding(stored.trimmed().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        QStringDecoder utf8(QStringDecoder::Utf8);
        password = utf8(*decoded);
        if (utf8.hasError())
            return std::nullopt;
    } else {
        // "crypt": sealed with a master password we do not have.
        return std::nullopt;
    }
    // The catalogue would hand such a password back changed, and a wrong
    // password fails later and less clearly than a missing one.
    for (const QChar c : password) {
        if (IsControl(c))
            return std::nullopt;
    }
    if (password != password.trimmed())
        return std::nullopt;
    return password;
}

// Adds the site to `parsed` unless it is neither FTP nor SFTP.
void TakeServer(const ServerFields& fields, qsizetype parent, const CFtpSite& defaults, ParsedFile& parsed)
{
    const QString protocolText = fields.Value("Protocol").trimmed();
    bool numeric = true;
    const int protocol = protocolText.isEmpty() ? kFtp : protocolText.toInt(&numeric);
    if (!numeric || (protocol != kFtp && protocol != kSftp && protocol != kInsecureFtp && protocol != kFtpsImplicit
                     && protocol != kFtpsExplicit)) {
        ++parsed.skipped;
        return;
    }
    CFtpSite site = defaults;
    switch (protocol) {
    case kFtp: site.encryption = kExplicitTlsIfAvailable; break;
    case kFtpsImplicit: site.encryption = kImplicitTls; break;
    case kFtpsExplicit: site.encryption = kExplicitTlsRequired; break;
    default: site.encryption = kPlainFtp; break;
    }
    if (protocol == kSftp) {
        site.protocol = SiteProtocol::Sftp;
        // FileZilla keeps it for "Key file" logons, and sometimes after the
        // logon type changed; trying it first costs nothing either way.
        site.keyFile = SingleLine(fields.Value("Keyfile"));
    }
    site.address = SingleLine(fields.Value("Host"));
    bool portOk = false;
    const int port = fields.Value("Port").trimmed().toInt(&portOk);
    site.port = portOk && port >= 1 && port <= 65535 ? port : DefaultPortOf(site.protocol);
    if (fields.Value("Logontype").trimmed() == QLatin1String("0")) {
        site.login = QStringLiteral("anonymous");
        // What the connection itself sends for an anonymous login; an empty
        // PASS is refused by some servers.
        site.password = QStringLiteral("anonymous@");
    } else {
        site.login = SingleLine(fields.Value("User"));
        if (fields.values.contains(QStringLiteral("Pass"))) {
            if (const std::optional<QString> password = Password(fields))
                site.password = *password;
            else
                ++parsed.passwordsNotImported;
        }
    }
    const QString pasvMode = fields.Value("PasvMode").trimmed();
    if (pasvMode == QLatin1String("MODE_ACTIVE"))
        site.passive = false;
    else if (pasvMode == QLatin1String("MODE_PASSIVE"))
        site.passive = true;
    site.description = SingleLine(fields.Value("Comments"));
    const QString localDir = SingleLine(fields.Value("LocalDir"));
    if (!localDir.isEmpty())
        site.localPath = localDir;
    site.remotePath = DecodeRemoteDir(fields.Value("RemoteDir"));

    Entry entry;
    entry.parent = parent;
    entry.name = CatalogueName(fields.values.contains(QStringLiteral("Name")) ? fields.Value("Name")
                                                                              : fields.ownText);
    if (entry.name.isEmpty())
        entry.name = CatalogueName(site.address);
    if (entry.name.isEmpty())
        entry.name = QStringLiteral("Imported site");
    entry.site = std::move(site);
    parsed.entries.push_back(std::move(entry));
}

ParsedFile ParseFile(const QString& fileName, const QByteArray& bytes)
{
    // Read once: every lookup of a setting reads the settings file.
    const CFtpSite defaults = CSiteCatalog::DefaultSite();
    enum class Kind { Top, Servers, Folder, Server, Field, Ignored };
    struct Frame {
        Kind kind = Kind::Ignored;
        qsizetype folder = -1; // Folder: its entry; Server: the holding folder's; -1: the top
        QString name;          // Field: the element's name
        QString text;          // Folder, Server, Field: the element's own text
    };

    ParsedFile parsed;
    std::vector<Frame> stack;
    ServerFields server;
    bool sawTop = false;
    bool sawServers = false;
    std::size_t elements = 0;
    QXmlStreamReader reader(bytes);
    const auto notSiteFile = [&]() {
        return QStringLiteral("The file \"%1\" is not a FileZilla site file (sitemanager.xml).").arg(Native(fileName));
    };

    while (!reader.atEnd() && parsed.error.isEmpty()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (++elements > CXmlDocument::kMaxElements) {
                parsed.error = QStringLiteral("The file \"%1\" holds more than %2 elements and was not imported.")
                                   .arg(Native(fileName))
                                   .arg(CXmlDocument::kMaxElements);
                break;
            }
            if (stack.size() >= CXmlDocument::kMaxDepth) {
                parsed.error = QStringLiteral("The file \"%1\" nests deeper than %2 levels and was not imported.")
                                   .arg(Native(fileName))
                                   .arg(CXmlDocument::kMaxDepth);
                break;
            }
            const QStringView name = reader.name();
            Frame frame;
            if (stack.empty()) {
                if (name != u"FileZilla3") {
                    parsed.error = notSiteFile();
                    break;
                }
                sawTop = true;
                frame.kind = Kind::Top;
            } else {
                const Frame& parent = stack.back();
                switch (parent.kind) {
                case Kind::Top:
                    if (name == u"Servers") {
                        sawServers = true;
                        frame.kind = Kind::Servers;
                    }
                    break;
                case Kind::Servers:
                case Kind::Folder:
                    if (name == u"Folder") {
                        frame.kind = Kind::Folder;
                        frame.folder = static_cast<qsizetype>(parsed.entries.size());
                        Entry folder;
                        folder.isFolder = true;
                        folder.parent = parent.folder;
                        parsed.entries.push_back(std::move(folder));
                    } else if (name == u"Server") {
                        frame.kind = Kind::Server;
                        frame.folder = parent.folder;
                        server = ServerFields();
                    }
                    break;
                case Kind::Server:
                    frame.kind = Kind::Field;
                    frame.name = name.toString();
                    if (name == u"Pass")
                        server.passEncoding = reader.attributes().value(QLatin1String("encoding")).toString();
                    break;
                case Kind::Field:
                case Kind::Ignored:
                    break;
                }
            }
            stack.push_back(std::move(frame));
            break;
        }
        case QXmlStreamReader::Characters:
            if (!stack.empty() && (stack.back().kind == Kind::Folder || stack.back().kind == Kind::Server
                                   || stack.back().kind == Kind::Field))
                stack.back().text += reader.text();
            break;
        case QXmlStreamReader::EndElement: {
            if (stack.empty())
                break;
            Frame frame = std::move(stack.back());
            stack.pop_back();
            if (frame.kind == Kind::Folder) {
                QString name = CatalogueName(frame.text);
                parsed.entries[static_cast<std::size_t>(frame.folder)].name =
                    name.isEmpty() ? QStringLiteral("Imported folder") : name;
            } else if (frame.kind == Kind::Field) {
                if (!server.values.contains(frame.name))
                    server.values.insert(frame.name, frame.text);
            } else if (frame.kind == Kind::Server) {
                server.ownText = frame.text;
                TakeServer(server, frame.folder, defaults, parsed);
            }
            break;
        }
        default:
            break;
        }
    }
    if (!parsed.error.isEmpty())
        return parsed;
    if (reader.hasError()) {
        // Text, binary data or an empty file: nothing that even began as XML.
        if (!sawTop)
            parsed.error = notSiteFile();
        else
            parsed.error = QStringLiteral("The file \"%1\" is damaged and was not imported: %2 (line %3).")
                               .arg(Native(fileName), reader.errorString())
                               .arg(reader.lineNumber());
        return parsed;
    }
    if (!sawServers)
        parsed.error = notSiteFile();
    return parsed;
}

// Sibling names already taken, compared as the catalogue's lookups compare.
struct TakenNames {
    QSet<QString> taken;
    QHash<QString, int> nextNumber; // where to go on counting for a name

    void Take(const QString& name) { taken.insert(name.toCaseFolded()); }

    QString Unique(const QString& name)
    {
        const QString key = name.toCaseFolded();
        if (!taken.contains(key)) {
            taken.insert(key);
            return name;
        }
        int& number = nextNumber[key];
        number = std::max(number, 2);
        for (;; ++number) {
            const QString candidate = QStringLiteral("%1 (%2)").arg(name, QString::number(number));
            if (!taken.contains(candidate.toCaseFolded())) {
                Take(candidate);
                ++number;
                return candidate;
            }
        }
    }
};

struct Container {
    CXmlNode* node = nullptr;
    TakenNames sites;
    TakenNames folders;
};

// The catalogue must still load after the import; a file the reader refuses
// would lock the user out of every site in it.
bool StaysReadable(CXmlDocument& document)
{
    QString text = document.Serialize();
    if (text.toUtf8().size() > CXmlDocument::kMaxFileSize)
        return false;
    text.removeIf([](QChar c) { return c == u'\r' || c == u'\n' || c == u'\t'; });
    CXmlDocument probe;
    return probe.Parse(text);
}

} // namespace

SiteImportResult ImportFileZillaSites(const QString& fileName, CXmlDocument& document, CXmlNode* folder)
{
    SiteImportResult result;
    CXmlNode* target = folder ? folder : document.Root();
    if (!CSiteCatalog::IsContainer(target)) {
        result.error = QStringLiteral("Sites can only be imported into a folder of the site catalogue.");
        return result;
    }

    const QFileInfo info(fileName);
    if (!info.exists()) {
        result.error = QStringLiteral("The file \"%1\" does not exist.").arg(Native(fileName));
        return result;
    }
    // A FIFO or a device would block or never end.
    if (!info.isFile()) {
        result.error = QStringLiteral("\"%1\" is not a file.").arg(Native(fileName));
        return result;
    }
    const auto tooLarge = [&]() {
        return QStringLiteral("The file \"%1\" is larger than %2 MB, more than any site file holds, "
                              "and was not imported.")
            .arg(Native(fileName))
            .arg(CXmlDocument::kMaxFileSize / (1024 * 1024));
    };
    if (info.size() > CXmlDocument::kMaxFileSize) {
        result.error = tooLarge();
        return result;
    }
    const auto unreadable = [&](const QFile& file) {
        return QStringLiteral("The file \"%1\" could not be read: %2.").arg(Native(fileName), file.errorString());
    };
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = unreadable(file);
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = unreadable(file);
        return result;
    }
    // It may have grown since it was measured.
    if (bytes.size() > CXmlDocument::kMaxFileSize) {
        result.error = tooLarge();
        return result;
    }

    std::vector<CXmlNode*> added; // the top-level ones, to take back
    {
        ParsedFile parsed = ParseFile(fileName, bytes);
        if (!parsed.error.isEmpty()) {
            result.error = parsed.error;
            return result;
        }

        // One per imported folder, after the one imported into.
        std::vector<Container> containers(parsed.entries.size() + 1);
        containers[0].node = target;
        for (std::size_t i = 0; i < target->ChildCount(); ++i) {
            const CXmlNode* child = target->ChildAt(i);
            const QString name = child->GetAttribute(QLatin1String(CSiteCatalog::kNameAttribute));
            if (CSiteCatalog::IsSite(child))
                containers[0].sites.Take(name);
            else if (CSiteCatalog::IsFolder(child))
                containers[0].folders.Take(name);
        }
        for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
            Entry& entry = parsed.entries[i];
            Container& parent = containers[static_cast<std::size_t>(entry.parent + 1)];
            CXmlNode* node = nullptr;
            if (entry.isFolder) {
                node = CSiteCatalog::AddFolder(document, parent.node, parent.folders.Unique(entry.name));
                containers[i + 1].node = node;
                ++result.folders;
            } else {
                entry.site.name = parent.sites.Unique(entry.name);
                node = CSiteCatalog::AddSite(document, parent.node, entry.site);
                ++result.sites;
            }
            if (entry.parent < 0)
                added.push_back(node);
        }
        result.skipped = parsed.skipped;
        result.passwordsNotImported = parsed.passwordsNotImported;
    }


    if (!added.empty() && !StaysReadable(document)) {
        for (CXmlNode* node : added)
            document.RemoveNode(node, target);
        SiteImportResult refused;
        refused.error = QStringLiteral("Importing \"%1\" would make the site catalogue too large or too deeply "
                                       "nested to be read again, so nothing was imported.")
                            .arg(Native(fileName));
        return refused;
    }
    // Imported passwords go where the user keeps passwords, once the import stands.
    for (CXmlNode* node : added)
        SitePasswords::PrepareNewSites(document, node, &result.passwordProblem);
    return result;
}

QString DescribeImport(const SiteImportResult& result)
{
    if (!result.error.isEmpty())
        return result.error;
    const auto count = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QStringList sentences;
    if (result.sites > 0 && result.folders > 0)
        sentences << QStringLiteral("Imported %1 in %2.")
                         .arg(count(result.sites, "site", "sites"), count(result.folders, "folder", "folders"));
    else if (result.sites > 0)
        sentences << QStringLiteral("Imported %1.").arg(count(result.sites, "site", "sites"));
    else if (result.folders > 0)
        sentences << QStringLiteral("Imported %1 but no sites.").arg(count(result.folders, "folder", "folders"));
    else
        sentences << QStringLiteral("The file held no FTP or SFTP sites to import.");
    if (result.skipped > 0)
        sentences << (result.skipped == 1
                          ? QStringLiteral("1 entry for another protocol (such as S3 or WebDAV) was skipped.")
                          : QStringLiteral("%1 entries for other protocols (such as S3 or WebDAV) were skipped.")
                                .arg(result.skipped));
    if (result.passwordsNotImported == 1)
        sentences << QStringLiteral("1 site was imported without its password, which was encrypted with a "
                                    "FileZilla master password or could not be stored; enter it in the Site Manager.");
    else if (result.passwordsNotImported > 1)
        sentences << QStringLiteral("%1 sites were imported without their passwords, which were encrypted with a "
                                    "FileZilla master password or could not be stored; enter them in the Site "
                                    "Manager.")
                         .arg(result.passwordsNotImported);
    if (!result.passwordProblem.isEmpty())
        sentences << QStringLiteral("Some passwords stayed in the site catalogue: %1").arg(result.passwordProblem);
    return sentences.join(QLatin1Char(' '));
}
