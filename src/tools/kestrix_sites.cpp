// kestrix-sites: the site catalogue from the command line, for people who
// script their catalogue and for the demo set-up of scripts/run.sh. It edits
// the file through the same catalogue code as the program, so what it writes
// is exactly what the Site Manager would have written.
#include "engine/base/Settings.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/catalog/SiteImporter.h"
#include "engine/base/FtpSite.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] = R"(Usage:
  kestrix-sites [--catalog FILE] list
  kestrix-sites [--catalog FILE] add [--folder PATH] --name NAME --address ADDR
                [--port N] [--user U] [--password P] [--remote-path P]
                [--local-path P] [--passive | --no-passive] [--retries N]
                [--retry-delay S] [--description TEXT] [--encryption E]
  kestrix-sites [--catalog FILE] show SITE-PATH
  kestrix-sites [--catalog FILE] remove SITE-PATH
  kestrix-sites [--catalog FILE] import FILE [FOLDER]

Site paths are the folder names from the top and the site name joined by "\",
for example "Work\Clients\Acme"; names are compared ignoring case.

list    prints every site path, one per line.
add     creates the catalogue file and the folders it is missing. When the
        folder already holds a site of that name, the site is updated in place
        and the options not given keep their stored values; a new site takes
        the defaults of the Kestrix settings for what is not given.
        --encryption is plain, tls (explicit TLS if the server offers it),
        tls-required (explicit TLS or no connection) or implicit (port 990).
        A password goes where Kestrix keeps passwords (Options, "Passwords
        kept in"): the desktop's keyring, or the catalogue in clear text.
show    prints one site with its encryption and where its password is kept;
        it never prints a password.
remove  deletes one site, or one empty folder.
import  adds the folders and sites of a FileZilla site file (sitemanager.xml)
        under FOLDER, a folder path created where missing, or at the top.
        A name already taken gets a number: Acme (2), Acme (3) ... Entries
        for protocols other than FTP, FTPS and SFTP are skipped; FTPS ones
        keep their encryption, SFTP ones their key file. Passwords go where
        Kestrix keeps passwords.

Without --catalog the tool uses the catalogue Kestrix itself uses: sites.xml
beside the program when that folder is writable or already holds one,
otherwise ~/.local/share/Orlavek/Kestrix/sites.xml.

Exit status: 0 on success, 1 when the work could not be done, 2 on a usage
error. A catalogue that cannot be read is never written.
)";

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

void Out(const QString& line)
{
    Print(stdout, line + QLatin1Char('\n'));
}

// A warning that does not stop the work.
void Err(const QString& message)
{
    Print(stderr, QStringLiteral("kestrix-sites: ") + message + QLatin1Char('\n'));
}

int Fail(const QString& message, int status = kExitFailure)
{
    Print(stderr, QStringLiteral("kestrix-sites: ") + message + QLatin1Char('\n'));
    if (status == kExitUsage)
        Print(stderr, QStringLiteral("Try \"kestrix-sites --help\".\n"));
    return status;
}

struct Options {
    std::optional<QString> catalog;
    QString command;
    QStringList operands;
    QStringList given; // option names as typed, to check they fit the command

    std::optional<QString> folder;
    std::optional<QString> name;
    std::optional<QString> address;
    std::optional<QString> user;
    std::optional<QString> password;
    std::optional<QString> remotePath;
    std::optional<QString> localPath;
    std::optional<QString> description;
    std::optional<QString> port;
    std::optional<QString> retries;
    std::optional<QString> retryDelay;
    std::optional<QString> encryption;
    std::optional<bool> passive;
    bool help = false;
};

struct ValueOption {
    const char* name;
    std::optional<QString> Options::*field;
};

constexpr ValueOption kValueOptions[] = {
    {"--catalog", &Options::catalog},
    {"--folder", &Options::folder},
    {"--name", &Options::name},
    {"--address", &Options::address},
    {"--user", &Options::user},
    {"--password", &Options::password},
    {"--remote-path", &Options::remotePath},
    {"--local-path", &Options::localPath},
    {"--description", &Options::description},
    {"--port", &Options::port},
    {"--retries", &Options::retries},
    {"--retry-delay", &Options::retryDelay},
    {"--encryption", &Options::encryption},
};

// --encryption's words, in SiteEncryption order.
const char* const kEncryptionWords[] = {"plain", "tls", "tls-required", "implicit"};

// The options each command accepts besides --catalog.
QStringList OptionsOf(const QString& command)
{
    if (command == QLatin1String("add")) {
        return {QStringLiteral("--folder"), QStringLiteral("--name"), QStringLiteral("--address"),
                QStringLiteral("--port"), QStringLiteral("--user"), QStringLiteral("--password"),
                QStringLiteral("--remote-path"), QStringLiteral("--local-path"), QStringLiteral("--passive"),
                QStringLiteral("--no-passive"), QStringLiteral("--retries"), QStringLiteral("--retry-delay"),
                QStringLiteral("--description"), QStringLiteral("--encryption")};
    }
    return {};
}

// Returns an error message, empty when the arguments parsed.
QString Parse(const QStringList& arguments, Options& options)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            if (options.command.isEmpty())
                options.command = argument;
            else
                options.operands << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            options.help = true;
            continue;
        }

        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? argument : argument.left(equals);
        std::optional<QString> inlineValue;
        if (equals >= 0)
            inlineValue = argument.mid(equals + 1);

        bool known = false;
        for (const ValueOption& option : kValueOptions) {
            if (name != QLatin1String(option.name))
                continue;
            known = true;
            if (options.*option.field)
                return QStringLiteral("%1 is given twice").arg(name);
            if (inlineValue) {
                options.*option.field = *inlineValue;
            } else {
                if (i + 1 >= arguments.size())
                    return QStringLiteral("%1 needs a value").arg(name);
                options.*option.field = arguments[++i];
            }
            break;
        }
        if (!known) {
            const bool isFlag = name == QLatin1String("--passive") || name == QLatin1String("--no-passive");
            if (!isFlag)
                return QStringLiteral("unknown option %1").arg(name);
            if (inlineValue)
                return QStringLiteral("%1 takes no value").arg(name);
            if (options.passive)
                return QStringLiteral("--passive and --no-passive are given together, or one of them twice");
            options.passive = name == QLatin1String("--passive");
        }
        options.given << name;
    }
    return QString();
}

// The catalogue's reader drops CR, LF and TAB, so a value holding one would
// silently come back different: refuse it up front instead.
QString CheckText(const QString& option, const QString& value)
{
    for (const QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("%1 must not hold control characters (tabs, line breaks)").arg(option);
    }
    return QString();
}

bool IsBlank(const QString& text)
{
    return text.trimmed().isEmpty();
}

// A name as the catalogue will store it; empty with `error` set when it
// cannot be stored or addressed.
QString CheckName(const QString& what, const QString& name, QString& error)
{
    error = CheckText(what, name);
    if (!error.isEmpty())
        return QString();
    const QString cleaned = CSiteCatalog::CleanName(name);
    if (IsBlank(cleaned)) {
        error = QStringLiteral("%1 is empty").arg(what);
        return QString();
    }
    if (cleaned.contains(QLatin1Char('\\'))) {
        error = QStringLiteral("%1 \"%2\" holds a \"\\\", which separates the parts of a site path").arg(what, cleaned);
        return QString();
    }
    return cleaned;
}

std::optional<int> ParseNumber(const QString& text, int minimum, int maximum)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return static_cast<int>(value);
}

bool IsElement(const CXmlNode* node, const char* element)
{
    return node->Name().compare(QLatin1String(element), Qt::CaseInsensitive) == 0;
}

QString NameOf(const CXmlNode* node)
{
    return node->GetAttribute(QLatin1String(CSiteCatalog::kNameAttribute));
}

QString UnreadableMessage(const CSiteCatalog& catalog)
{
    return QStringLiteral("%1 is not a site catalogue this program can read; it was left untouched")
        .arg(catalog.Path());
}

// What a site path names, found strictly: every folder on the way must exist
// where the path says (the program's own lookup falls back to the top level).
struct Resolved {
    CXmlNode* parent = nullptr; // the folder holding the last name
    CXmlNode* site = nullptr;
    CXmlNode* folder = nullptr;
    QString storedPath; // with the names as the catalogue spells them
};

Resolved Resolve(CSiteCatalog& catalog, const QString& path)
{
    Resolved result;
    const QStringList names = path.split(QLatin1Char('\\'));
    for (const QString& name : names) {
        if (name.isEmpty())
            return result;
    }
    CXmlNode* node = catalog.Document().Root();
    QStringList stored;
    for (qsizetype i = 0; i + 1 < names.size(); ++i) {
        // A single name: a direct child of `node`, nothing else.
        node = catalog.FindFolderByPath(node, names[i]);
        if (!node)
            return result;
        stored << NameOf(node);
    }
    result.parent = node;
    result.site = catalog.FindSiteByName(node, names.back());
    if (!result.site)
        result.folder = catalog.FindFolderByPath(node, names.back());
    if (result.site || result.folder)
        stored << NameOf(result.site ? result.site : result.folder);
    result.storedPath = stored.join(QLatin1Char('\\'));
    return result;
}

int List(CSiteCatalog& catalog)
{
    if (catalog.Open() == CSiteCatalog::FileState::Unreadable)
        return Fail(UnreadableMessage(catalog));
    struct Frame {
        const CXmlNode* folder;
        std::size_t next;
        QString prefix;
    };
    // Document order, without recursion: a hand-made file may nest deeply.
    std::vector<Frame> stack{{catalog.Document().Root(), 0, QString()}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next >= frame.folder->ChildCount()) {
            stack.pop_back();
            continue;
        }
        const CXmlNode* child = frame.folder->ChildAt(frame.next++);
        if (IsElement(child, CSiteCatalog::kSiteElement))
            Out(frame.prefix + NameOf(child));
        else if (IsElement(child, CSiteCatalog::kFolderElement))
            stack.push_back({child, 0, frame.prefix + NameOf(child) + QLatin1Char('\\')});
    }
    return 0;
}

QString PasswordWhere(const CFtpSite& site)
{
    switch (site.passwordPlace) {
    case PasswordPlace::Keyring: return QStringLiteral("in the desktop's keyring");
    case PasswordPlace::Ask: return QStringLiteral("not stored (asked at connect)");
    case PasswordPlace::CatalogueFile: break;
    }
    return site.password.isEmpty() ? QStringLiteral("none") : QStringLiteral("in this catalogue (clear text)");
}

int Show(CSiteCatalog& catalog, const QString& path)
{
    if (catalog.Open() == CSiteCatalog::FileState::Unreadable)
        return Fail(UnreadableMessage(catalog));
    const Resolved found = Resolve(catalog, path);
    CFtpSite site;
    if (!found.site || !catalog.LoadSite(found.storedPath, site))
        return Fail(QStringLiteral("no site \"%1\" in %2").arg(path, catalog.Path()));

    const std::pair<const char*, QString> lines[] = {
        {"Site", found.storedPath},
        {"Address", site.address},
        {"Port", QString::number(site.port)},
        {"User", site.login},
        {"Password", PasswordWhere(site)},
        {"Encryption", SiteEncryptionChoices().value(site.encryption)},
        {"Passive", site.passive ? QStringLiteral("yes") : QStringLiteral("no")},
        {"Remote path", site.remotePath},
        {"Local path", site.localPath},
        {"Retries", QString::number(site.retries)},
        {"Retry delay", QString::number(site.retryDelay)},
        {"Description", site.description},
    };
    for (const auto& [label, value] : lines) {
        QString line = QLatin1String(label) + QLatin1Char(':');
        if (!value.isEmpty())
            line = line.leftJustified(13) + value;
        Out(line);
    }
    return 0;
}

int Remove(CSiteCatalog& catalog, const QString& path)
{
    if (catalog.Open() == CSiteCatalog::FileState::Unreadable)
        return Fail(UnreadableMessage(catalog));
    const Resolved found = Resolve(catalog, path);
    CXmlNode* node = found.site ? found.site : found.folder;
    if (!node)
        return Fail(QStringLiteral("no site or folder \"%1\" in %2").arg(path, catalog.Path()));
    if (found.folder && found.folder->ChildCount() > 0) {
        return Fail(QStringLiteral("folder \"%1\" is not empty; remove what it holds first")
                        .arg(found.storedPath));
    }
    catalog.Document().RemoveNode(node, found.parent);
    if (!catalog.Write())
        return Fail(QStringLiteral("could not write %1").arg(catalog.Path()));
    Out(QStringLiteral("Removed %1 \"%2\" from %3")
            .arg(found.site ? QStringLiteral("site") : QStringLiteral("folder"), found.storedPath, catalog.Path()));
    return 0;
}

int Import(CSiteCatalog& catalog, const QString& fileName, const std::optional<QString>& folderPath)
{
    QString error;
    QStringList folders;
    if (folderPath) {
        for (const QString& part : folderPath->split(QLatin1Char('\\'))) {
            folders << CheckName(QStringLiteral("a folder name in FOLDER"), part, error);
            if (!error.isEmpty())
                return Fail(error, kExitUsage);
        }
    }
    if (fileName.isEmpty())
        return Fail(QStringLiteral("the file to import is empty"), kExitUsage);

    if (catalog.Open() == CSiteCatalog::FileState::Unreadable)
        return Fail(UnreadableMessage(catalog));
    CXmlNode* folder = catalog.Document().Root();
    for (const QString& part : folders) {
        CXmlNode* child = catalog.FindFolderByPath(folder, part);
        folder = child ? child : CSiteCatalog::AddFolder(catalog.Document(), folder, part);
    }
    // Folders made above live only in memory until the import succeeds.
    const SiteImportResult result = ImportFileZillaSites(fileName, catalog.Document(), folder);
    if (!result.error.isEmpty())
        return Fail(result.error);
    if (!catalog.Write())
        return Fail(catalog.ProblemText());
    Out(DescribeImport(result));
    return 0;
}

int Add(CSiteCatalog& catalog, const Options& options)
{
    // Everything is checked before the file is touched.
    QString error;
    if (!options.name)
        return Fail(QStringLiteral("add needs --name"), kExitUsage);
    const QString name = CheckName(QStringLiteral("the site name"), *options.name, error);
    if (!error.isEmpty())
        return Fail(error, kExitUsage);

    QStringList folders;
    if (options.folder) {
        for (const QString& part : options.folder->split(QLatin1Char('\\'))) {
            folders << CheckName(QStringLiteral("a folder name in --folder"), part, error);
            if (!error.isEmpty())
                return Fail(error, kExitUsage);
        }
    }

    const std::pair<const char*, const std::optional<QString>*> texts[] = {
        {"--address", &options.address},         {"--user", &options.user},
        {"--password", &options.password},       {"--remote-path", &options.remotePath},
        {"--local-path", &options.localPath},    {"--description", &options.description},
        {"--port", &options.port},               {"--retries", &options.retries},
        {"--retry-delay", &options.retryDelay},
    };
    for (const auto& [option, value] : texts) {
        if (*value && !(error = CheckText(QLatin1String(option), **value)).isEmpty())
            return Fail(error, kExitUsage);
    }
    if (options.address && IsBlank(*options.address))
        return Fail(QStringLiteral("--address is empty"), kExitUsage);

    std::optional<int> port;
    std::optional<int> retries;
    std::optional<int> retryDelay;
    constexpr int kIntMax = std::numeric_limits<int>::max();
    if (options.port && !(port = ParseNumber(*options.port, 1, 65535)))
        return Fail(QStringLiteral("--port must be a number from 1 to 65535, not \"%1\"").arg(*options.port),
                    kExitUsage);
    if (options.retries && !(retries = ParseNumber(*options.retries, 0, kIntMax)))
        return Fail(QStringLiteral("--retries must be a whole number of 0 or more, not \"%1\"").arg(*options.retries),
                    kExitUsage);
    std::optional<int> encryption;
    if (options.encryption) {
        for (int i = 0; i < int(std::size(kEncryptionWords)); ++i)
            if (*options.encryption == QLatin1String(kEncryptionWords[i]))
                encryption = i;
        if (!encryption)
            return Fail(QStringLiteral("--encryption must be plain, tls, tls-required or implicit, not \"%1\"")
                            .arg(*options.encryption),
                        kExitUsage);
    }
    if (options.retryDelay && !(retryDelay = ParseNumber(*options.retryDelay, 0, kIntMax)))
        return Fail(QStringLiteral("--retry-delay must be a whole number of seconds, 0 or more, not \"%1\"")
                        .arg(*options.retryDelay),
                    kExitUsage);

    const CSiteCatalog::FileState state = catalog.Open();
    if (state == CSiteCatalog::FileState::Unreadable)
        return Fail(UnreadableMessage(catalog));

    bool changed = state == CSiteCatalog::FileState::Missing;
    bool foldersCreated = false;
    CXmlNode* folder = catalog.Document().Root();
    for (const QString& part : folders) {
        CXmlNode* child = catalog.FindFolderByPath(folder, part);
        if (!child) {
            const QString attributes =
                QStringLiteral("%1 = \"%2\"").arg(QLatin1String(CSiteCatalog::kNameAttribute), part);
            child = catalog.Document().AddChild(folder, QLatin1String(CSiteCatalog::kFolderElement), nullptr,
                                                &attributes);
            changed = foldersCreated = true;
        }
        folder = child;
    }
    const CXmlNode* existing = foldersCreated ? nullptr : catalog.FindSiteByName(folder, name);
    if (!existing && !options.address)
        return Fail(QStringLiteral("add needs --address for a new site"), kExitUsage);

    // SaveSite reads the file afresh, so the folders must be in it first.
    if (changed && !catalog.Write())
        return Fail(QStringLiteral("could not write %1").arg(catalog.Path()));

    QStringList storedFolders;
    for (const CXmlNode* node = folder; node && node != catalog.Document().Root(); node = node->Parent())
        storedFolders.prepend(NameOf(node));
    const QString folderPath = storedFolders.join(QLatin1Char('\\'));
    const auto pathOf = [&](const QString& siteName) {
        return folderPath.isEmpty() ? siteName : folderPath + QLatin1Char('\\') + siteName;
    };

    // LoadSite and SaveSite read the file again, which rebuilds the tree:
    // no node pointer survives them.
    const bool update = existing != nullptr;
    CFtpSite site;
    if (update) {
        const QString existingPath = pathOf(NameOf(existing));
        if (!catalog.LoadSite(existingPath, site))
            return Fail(QStringLiteral("could not read site \"%1\" back from %2").arg(existingPath, catalog.Path()));
    } else {
        // What the Site Manager offers for a new site.
        site.name = name;
        site.retries = kx::GetProfileInt(kx::settings::DefaultRetries);
        site.retryDelay = kx::GetProfileInt(kx::settings::DefaultRetryDelay);
        site.passive = kx::GetProfileInt(kx::settings::DefaultUsePASVMode) != 0;
        site.localPath = kx::GetProfileString(kx::settings::DefaultLocalPath);
    }

    if (options.address)
        site.address = options.address->trimmed();
    if (port)
        site.port = *port;
    if (options.user)
        site.login = *options.user;
    if (options.encryption)
        site.encryption = *encryption;
    if (options.remotePath)
        site.remotePath = *options.remotePath;
    if (options.localPath)
        site.localPath = *options.localPath;
    if (options.passive)
        site.passive = *options.passive;
    if (retries)
        site.retries = *retries;
    if (retryDelay)
        site.retryDelay = *retryDelay;
    if (options.description)
        site.description = *options.description;

    // A new site gets an id of its own; a password goes where passwords are kept.
    QString problem;
    if (!update)
        SitePasswords::PrepareNewSite(site, &problem);
    if (options.password)
        SitePasswords::Store(site, *options.password, &problem);
    if (!problem.isEmpty())
        Err(problem);
    if (!catalog.SaveSite(site, folderPath.isEmpty() ? nullptr : &folderPath))
        return Fail(QStringLiteral("could not save the site in %1").arg(catalog.Path()));
    Out(QStringLiteral("%1 site \"%2\" in %3")
            .arg(update ? QStringLiteral("Updated") : QStringLiteral("Added"), pathOf(site.name), catalog.Path()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    // The keyring answers through an event loop.
    QCoreApplication application(argc, argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    Options options;
    const QString error = Parse(arguments, options);
    if (!error.isEmpty())
        return Fail(error, kExitUsage);
    if (options.help) {
        Print(stdout, QLatin1String(kUsage));
        return 0;
    }

    const QString& command = options.command;
    if (command.isEmpty())
        return Fail(QStringLiteral("no command given (list, add, show, remove or import)"), kExitUsage);
    if (command != QLatin1String("list") && command != QLatin1String("add") && command != QLatin1String("show")
        && command != QLatin1String("remove") && command != QLatin1String("import"))
        return Fail(QStringLiteral("unknown command \"%1\" (list, add, show, remove or import)").arg(command),
                    kExitUsage);

    const QStringList allowed = OptionsOf(command);
    for (const QString& option : options.given) {
        if (option != QLatin1String("--catalog") && !allowed.contains(option))
            return Fail(QStringLiteral("%1 does not apply to %2").arg(option, command), kExitUsage);
    }
    const qsizetype operandsWanted = command == QLatin1String("show") || command == QLatin1String("remove") ? 1 : 0;
    if (command == QLatin1String("import")) {
        if (options.operands.isEmpty() || options.operands.size() > 2)
            return Fail(QStringLiteral("import needs a file and at most one folder path"), kExitUsage);
    } else if (options.operands.size() != operandsWanted) {
        if (operandsWanted == 0)
            return Fail(QStringLiteral("%1 takes no site path (unexpected \"%2\")").arg(command, options.operands.front()),
                        kExitUsage);
        return Fail(QStringLiteral("%1 needs exactly one site path").arg(command), kExitUsage);
    }
    if (options.catalog && options.catalog->isEmpty())
        return Fail(QStringLiteral("--catalog is empty"), kExitUsage);

    CSiteCatalog catalog(options.catalog ? *options.catalog : CSiteCatalog::DefaultPath());
    if (command == QLatin1String("list"))
        return List(catalog);
    if (command == QLatin1String("show"))
        return Show(catalog, options.operands.front());
    if (command == QLatin1String("remove"))
        return Remove(catalog, options.operands.front());
    if (command == QLatin1String("import")) {
        return Import(catalog, options.operands.front(),
                      options.operands.size() > 1 ? std::optional<QString>(options.operands[1]) : std::nullopt);
    }
    return Add(catalog, options);
}
