// kestrix-sites as its users run it: the built tool in a child process, its
// catalogue in a temporary folder, and the result read back through the
// program's own catalogue code.
#include "engine/catalog/SiteCatalog.h"
#include "engine/base/FtpSite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class KestrixSitesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The tool reads the user's settings for a new site's defaults: give
        // it a home of its own.
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(Q("home/.config"))));
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(Q("home/.local/share"))));
    }

    QString CatalogPath() const { return m_dir.filePath(Q("catalogue/sites.xml")); }

    ToolRun Tool(const QStringList& arguments, const QString& catalog) const
    {
        QStringList all{Q("--catalog"), catalog};
        all += arguments;
        return ToolWithoutCatalog(all);
    }

    ToolRun Tool(const QStringList& arguments) const { return Tool(arguments, CatalogPath()); }

    ToolRun ToolWithoutCatalog(const QStringList& arguments) const
    {
        std::vector<std::string> args{KX_SITES_TOOL};
        for (const QString& argument : arguments)
            args.push_back(argument.toStdString());
        std::vector<char*> argv;
        for (std::string& argument : args)
            argv.push_back(argument.data());
        argv.push_back(nullptr);

        const QString home = m_dir.filePath(Q("home"));
        std::vector<std::string> env{
            "HOME=" + home.toStdString(),
            "XDG_CONFIG_HOME=" + (home + Q("/.config")).toStdString(),
            "XDG_DATA_HOME=" + (home + Q("/.local/share")).toStdString(),
        };
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            if (text.rfind("HOME=", 0) != 0 && text.rfind("XDG_CONFIG_HOME=", 0) != 0
                && text.rfind("XDG_DATA_HOME=", 0) != 0)
                env.push_back(text);
        }
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        const std::string outPath = m_dir.filePath(Q("stdout.txt")).toStdString();
        const std::string errPath = m_dir.filePath(Q("stderr.txt")).toStdString();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);

        ToolRun run;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << KX_SITES_TOOL;
            return run;
        }
        int wstatus = 0;
        while (::waitpid(pid, &wstatus, 0) < 0) {
        }
        run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        run.out = QString::fromUtf8(ReadAll(QString::fromStdString(outPath)));
        run.err = QString::fromUtf8(ReadAll(QString::fromStdString(errPath)));
        return run;
    }

    QStringList Lines(const QStringList& arguments) const
    {
        const ToolRun run = Tool(arguments);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QStringList List() const { return Lines({Q("list")}); }

    CFtpSite Load(const QString& sitePath) const
    {
        CSiteCatalog catalog(CatalogPath());
        CFtpSite site;
        EXPECT_TRUE(catalog.LoadSite(sitePath, site)) << sitePath.toStdString();
        return site;
    }

    void Add(const QStringList& arguments) const
    {
        const ToolRun run = Tool(QStringList{Q("add")} + arguments);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
    }

    QTemporaryDir m_dir;
};

TEST_F(KestrixSitesTest, AddCreatesTheCatalogueWithEveryField)
{
    const ToolRun run = Tool({Q("add"), Q("--name"), Q("Acme"), Q("--address"), Q("ftp.acme.test"), Q("--port"),
                          Q("2121"), Q("--user"), Q("bob"), Q("--password"), Q("s3cr&t<>"), Q("--remote-path"),
                          Q("/pub/in coming"), Q("--local-path"), Q("/home/bob/Downloads"), Q("--passive"),
                          Q("--retries"), Q("5"), Q("--retry-delay=30"), Q("--description"),
                          Q("Acme's \"mirror\" — Köln")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(Q("Added site \"Acme\" in ") + CatalogPath())) << run.out.toStdString();
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();

    CFtpSite expected;
    expected.name = Q("Acme");
    expected.address = Q("ftp.acme.test");
    expected.port = 2121;
    expected.login = Q("bob");
    expected.password = Q("s3cr&t<>");
    expected.remotePath = Q("/pub/in coming");
    expected.localPath = Q("/home/bob/Downloads");
    expected.passive = true;
    expected.retries = 5;
    expected.retryDelay = 30;
    expected.description = Q("Acme's \"mirror\" — Köln");
    EXPECT_EQ(Load(Q("Acme")), expected);
}

TEST_F(KestrixSitesTest, NewSiteTakesTheDefaultsOfTheSettings)
{
    Add({Q("--name"), Q("Plain"), Q("--address"), Q("plain.test")});
    const CFtpSite plain = Load(Q("Plain"));
    EXPECT_EQ(plain.port, 21);
    EXPECT_EQ(plain.retries, 3);
    EXPECT_EQ(plain.retryDelay, 10);
    EXPECT_TRUE(plain.passive); // a fresh installation is passive
    EXPECT_TRUE(plain.login.isEmpty());
    EXPECT_TRUE(plain.localPath.isEmpty());

    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(Q("home/.config/Orlavek"))));
    QFile settings(m_dir.filePath(Q("home/.config/Orlavek/Kestrix.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[Settings]\nDefaultRetries=7\nDefaultRetryDelay=42\nDefaultUsePASVMode=0\n"
                   "DefaultLocalPath=/srv/incoming\n");
    settings.close();

    Add({Q("--name"), Q("Tuned"), Q("--address"), Q("tuned.test")});
    const CFtpSite tuned = Load(Q("Tuned"));
    EXPECT_EQ(tuned.retries, 7);
    EXPECT_EQ(tuned.retryDelay, 42);
    EXPECT_FALSE(tuned.passive); // a stored value is kept
    EXPECT_EQ(tuned.localPath, Q("/srv/incoming"));

    // Explicit options win over the defaults.
    Add({Q("--name"), Q("Explicit"), Q("--address"), Q("x.test"), Q("--retries"), Q("0"), Q("--no-passive"),
         Q("--local-path"), Q("")});
    const CFtpSite explicitSite = Load(Q("Explicit"));
    EXPECT_EQ(explicitSite.retries, 0);
    EXPECT_FALSE(explicitSite.passive);
    EXPECT_TRUE(explicitSite.localPath.isEmpty());
}

TEST_F(KestrixSitesTest, AddUpdatesASiteOfTheSameNameInPlace)
{
    Add({Q("--name"), Q("A"), Q("--address"), Q("a.test")});
    Add({Q("--name"), Q("B"), Q("--address"), Q("b.test"), Q("--user"), Q("bee"), Q("--password"), Q("pw"),
         Q("--passive"), Q("--description"), Q("old")});
    Add({Q("--name"), Q("C"), Q("--address"), Q("c.test")});

    const ToolRun run = Tool({Q("add"), Q("--name"), Q("b"), Q("--address"), Q("new-b.test"), Q("--port"), Q("2121"),
                          Q("--no-passive"), Q("--description"), Q("")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(Q("Updated site \"B\""))) << run.out.toStdString();

    EXPECT_EQ(List(), (QStringList{Q("A"), Q("B"), Q("C")}));
    const CFtpSite b = Load(Q("B"));
    EXPECT_EQ(b.name, Q("B"));
    EXPECT_EQ(b.address, Q("new-b.test"));
    EXPECT_EQ(b.port, 2121);
    EXPECT_FALSE(b.passive);
    EXPECT_TRUE(b.description.isEmpty());
    // Not given this time: kept.
    EXPECT_EQ(b.login, Q("bee"));
    EXPECT_EQ(b.password, Q("pw"));

    // An update needs no address.
    Add({Q("--name"), Q("C"), Q("--port"), Q("990")});
    EXPECT_EQ(Load(Q("C")).address, Q("c.test"));
    EXPECT_EQ(Load(Q("C")).port, 990);
}

TEST_F(KestrixSitesTest, FoldersAreCreatedOnceAndFollowedStrictly)
{
    Add({Q("--folder"), Q("Work\\Clients\\Acme"), Q("--name"), Q("S1"), Q("--address"), Q("s1.test")});
    Add({Q("--folder"), Q("work\\clients"), Q("--name"), Q("S2"), Q("--address"), Q("s2.test")});
    Add({Q("--folder"), Q("Work\\Other"), Q("--name"), Q("S3"), Q("--address"), Q("s3.test")});
    // Not the "Other" inside "Work": a new folder at the top.
    Add({Q("--folder"), Q("Other"), Q("--name"), Q("S3"), Q("--address"), Q("top-s3.test")});
    Add({Q("--name"), Q("S1"), Q("--address"), Q("top-s1.test")});

    EXPECT_EQ(List(), (QStringList{Q("Work\\Clients\\Acme\\S1"), Q("Work\\Clients\\S2"), Q("Work\\Other\\S3"),
                                   Q("Other\\S3"), Q("S1")}));
    EXPECT_EQ(Load(Q("Work\\Other\\S3")).address, Q("s3.test"));
    EXPECT_EQ(Load(Q("Other\\S3")).address, Q("top-s3.test"));
    EXPECT_EQ(Load(Q("Work\\Clients\\Acme\\S1")).address, Q("s1.test"));
    EXPECT_EQ(Load(Q("S1")).address, Q("top-s1.test"));

    CSiteCatalog catalog(CatalogPath());
    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    CXmlNode* work = catalog.FindFolderByPath(nullptr, Q("Work"));
    ASSERT_NE(work, nullptr);
    int folders = 0;
    for (std::size_t i = 0; i < work->ChildCount(); ++i)
        folders += work->ChildAt(i)->Name() == Q("FOLDER") ? 1 : 0;
    EXPECT_EQ(folders, 2);
}

TEST_F(KestrixSitesTest, ShowPrintsOneSite)
{
    Add({Q("--folder"), Q("Work"), Q("--name"), Q("Acme"), Q("--address"), Q("ftp.acme.test"), Q("--user"),
         Q("bob"), Q("--password"), Q("hunter2"), Q("--remote-path"), Q("/pub"), Q("--description"),
         Q("Mirror"), Q("--encryption"), Q("tls-required")});

    // Where the password lives and the encryption, never the password itself
    // (no keyring answers in the tests: it stays in the file).
    const QStringList shown = Lines({Q("show"), Q("work\\acme")});
    EXPECT_EQ(shown, (QStringList{Q("Site:        Work\\Acme"), Q("Address:     ftp.acme.test"),
                                  Q("Port:        21"), Q("User:        bob"),
                                  Q("Password:    in this catalogue (clear text)"),
                                  Q("Encryption:  Require explicit FTP over TLS"),
                                  Q("Passive:     yes"), Q("Remote path: /pub"), Q("Local path:"),
                                  Q("Retries:     3"), Q("Retry delay: 10"), Q("Description: Mirror")}));
    EXPECT_FALSE(Tool({Q("show"), Q("Work\\Acme")}).out.contains(Q("hunter2")));
    EXPECT_EQ(Tool({Q("show"), Q("--show-password"), Q("Work\\Acme")}).status, 2);

    for (const QString& missing : {Q("Acme"), Q("Work\\Nope"), Q("Nope\\Acme"), Q("Work"), Q("Work\\"), Q("")}) {
        const ToolRun run = Tool({Q("show"), missing});
        EXPECT_EQ(run.status, 1) << missing.toStdString();
        EXPECT_TRUE(run.err.contains(Q("no site"))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST_F(KestrixSitesTest, NamesKeepEveryCharacterTheFileCanHold)
{
    struct Case {
        const char* given;
        const char* stored;
    };
    const Case cases[] = {
        {"Café Ölberg", "Café Ölberg"},
        {"A & B <test>", "A & B test"},
        {"Say \"hi\"", "Say hi"},
        {"  spaced  ", "  spaced  "},
        {"日本語サイト", "日本語サイト"},
    };
    QStringList expected;
    for (const Case& c : cases) {
        Add({Q("--folder"), Q("Ünïcode Folder"), Q("--name"), Q(c.given), Q("--address"), Q("h.test")});
        expected << Q("Ünïcode Folder\\") + Q(c.stored);
    }
    EXPECT_EQ(List(), expected);
    for (const QString& path : expected) {
        EXPECT_EQ(Load(path).address, Q("h.test")) << path.toStdString();
        EXPECT_EQ(Tool({Q("show"), path}).status, 0) << path.toStdString();
    }
}

TEST_F(KestrixSitesTest, RemoveDeletesOnlyWhatItNames)
{
    struct Case {
        const char* path;
        int status;
        const char* message; // in stderr on failure, stdout on success
        QStringList remaining;
    };
    const Case cases[] = {
        {"Top", 0, "Removed site \"Top\"", {Q("Work\\Deep\\Inner"), Q("Work\\Site")}},
        {"work\\site", 0, "Removed site \"Work\\Site\"", {Q("Top"), Q("Work\\Deep\\Inner")}},
        {"Work\\Empty", 0, "Removed folder \"Work\\Empty\"", {Q("Top"), Q("Work\\Deep\\Inner"), Q("Work\\Site")}},
        {"Work\\Deep", 1, "is not empty", {}},
        {"Work", 1, "is not empty", {}},
        {"Nope", 1, "no site or folder", {}},
        // The program's own lookup would take this for the top-level "Top".
        {"Nope\\Top", 1, "no site or folder", {}},
        {"Deep\\Inner", 1, "no site or folder", {}},
        {"Work\\\\Site", 1, "no site or folder", {}},
    };
    for (const Case& c : cases) {
        QFile::remove(CatalogPath());
        Add({Q("--name"), Q("Top"), Q("--address"), Q("top.test")});
        Add({Q("--folder"), Q("Work\\Deep"), Q("--name"), Q("Inner"), Q("--address"), Q("inner.test")});
        Add({Q("--folder"), Q("Work\\Empty"), Q("--name"), Q("Gone"), Q("--address"), Q("gone.test")});
        ASSERT_EQ(Tool({Q("remove"), Q("Work\\Empty\\Gone")}).status, 0);
        Add({Q("--folder"), Q("Work"), Q("--name"), Q("Site"), Q("--address"), Q("site.test")});
        const QByteArray before = ReadAll(CatalogPath());

        const ToolRun run = Tool({Q("remove"), Q(c.path)});
        EXPECT_EQ(run.status, c.status) << c.path;
        if (c.status == 0) {
            EXPECT_TRUE(run.out.contains(Q(c.message))) << c.path << ": " << run.out.toStdString();
            QStringList remaining = List();
            remaining.sort();
            EXPECT_EQ(remaining, c.remaining) << c.path;
            EXPECT_EQ(Tool({Q("remove"), Q(c.path)}).status, 1) << c.path << " is still there";
        } else {
            EXPECT_TRUE(run.err.contains(Q(c.message))) << c.path << ": " << run.err.toStdString();
            EXPECT_EQ(ReadAll(CatalogPath()), before) << c.path;
        }
    }
}

TEST_F(KestrixSitesTest, UnreadableCatalogueIsLeftUntouched)
{
    const QByteArray contents[] = {
        "<html><body>Not a catalogue</body></html>\n",
        "<?xml version=\"1.0\"?>\n<CONFIG><SITE name=\"X\"/></CONFIG>\n",
        QByteArray("PK\x03\x04\x14\x00garbage\xff\xfe", 16),
        QByteArray(4096, '<'),
    };
    const QStringList commands[] = {
        {Q("list")},
        {Q("show"), Q("X")},
        {Q("remove"), Q("X")},
        {Q("add"), Q("--name"), Q("X"), Q("--address"), Q("x.test")},
        {Q("add"), Q("--folder"), Q("F"), Q("--name"), Q("X"), Q("--address"), Q("x.test")},
    };
    ASSERT_TRUE(QDir().mkpath(QFileInfo(CatalogPath()).absolutePath()));
    for (const QByteArray& content : contents) {
        for (const QStringList& command : commands) {
            QFile file(CatalogPath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(content);
            file.close();

            const ToolRun run = Tool(command);
            EXPECT_EQ(run.status, 1) << command.join(Q(" ")).toStdString();
            EXPECT_TRUE(run.err.contains(Q("left untouched"))) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(CatalogPath())) << run.err.toStdString();
            EXPECT_EQ(ReadAll(CatalogPath()), content) << command.join(Q(" ")).toStdString();
            EXPECT_EQ(QDir(QFileInfo(CatalogPath()).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1)
                << "a stray temporary file";
        }
    }

    // A folder where the file should be.
    const QString folder = m_dir.filePath(Q("folder-catalogue"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QStringList& command : commands) {
        const ToolRun run = Tool(command, folder);
        EXPECT_EQ(run.status, 1) << command.join(Q(" ")).toStdString();
        EXPECT_TRUE(run.err.contains(Q("left untouched"))) << run.err.toStdString();
        EXPECT_TRUE(QFileInfo(folder).isDir());
    }
}

TEST_F(KestrixSitesTest, MissingCatalogueIsOnlyCreatedByAdd)
{
    EXPECT_TRUE(List().isEmpty());
    EXPECT_EQ(Tool({Q("show"), Q("X")}).status, 1);
    EXPECT_EQ(Tool({Q("remove"), Q("X")}).status, 1);
    EXPECT_FALSE(QFileInfo::exists(CatalogPath()));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(CatalogPath()).absolutePath()));

    // A catalogue that cannot be written: its folder would have to be a file.
    const QString blocker = m_dir.filePath(Q("blocker"));
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
    file.close();
    const ToolRun run = Tool({Q("add"), Q("--name"), Q("X"), Q("--address"), Q("x.test")}, blocker + Q("/sites.xml"));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(Q("could not write"))) << run.err.toStdString();
    EXPECT_EQ(ReadAll(blocker), QByteArray("x"));
}

TEST_F(KestrixSitesTest, ImportAddsFileZillaSitesUnderAFolder)
{
    const QString siteFile = m_dir.filePath(Q("sitemanager.xml"));
    QFile file(siteFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<FileZilla3 version="3.66.5" platform="linux"><Servers>
  <Server><Host>top.test</Host><Protocol>0</Protocol><User>u</User>
    <Pass encoding="base64">cHc=</Pass><Logontype>1</Logontype><Name>Top</Name></Server>
  <Folder expanded="1">Clients
    <Server><Host>acme.test</Host><Protocol>4</Protocol><Name>Acme</Name></Server>
    <Server><Host>dav.test</Host><Protocol>9</Protocol><Name>Dav</Name></Server>
  </Folder>
</Servers></FileZilla3>
)");
    file.close();
    Add({Q("--folder"), Q("Old"), Q("--name"), Q("Kept"), Q("--address"), Q("kept.test")});

    const ToolRun run = Tool({Q("import"), siteFile, Q("old\\FileZilla")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, Q("Imported 2 sites in 1 folder. 1 entry for another protocol (such as S3 or WebDAV) was skipped.\n"));
    ASSERT_EQ(Tool({Q("import"), siteFile}).status, 0);
    EXPECT_EQ(List(), (QStringList{Q("Old\\Kept"), Q("Old\\FileZilla\\Top"), Q("Old\\FileZilla\\Clients\\Acme"),
                                   Q("Top"), Q("Clients\\Acme")}));
    const CFtpSite top = Load(Q("Old\\FileZilla\\Top"));
    EXPECT_EQ(top.address, Q("top.test"));
    EXPECT_EQ(top.password, Q("pw"));
    EXPECT_EQ(top.retries, 3); // the settings' defaults, as for a site added by hand

    // Nothing is written when the import fails, not even the folder it was to go in.
    const QByteArray before = ReadAll(CatalogPath());
    const QString broken = m_dir.filePath(Q("broken.xml"));
    QFile brokenFile(broken);
    ASSERT_TRUE(brokenFile.open(QIODevice::WriteOnly));
    brokenFile.write("<FileZilla3><Servers><Server>");
    brokenFile.close();
    const std::pair<QStringList, const char*> failures[] = {
        {{Q("import"), broken, Q("New")}, "is damaged"},
        {{Q("import"), m_dir.filePath(Q("missing.xml"))}, "does not exist"},
        {{Q("import"), CatalogPath()}, "is not a FileZilla site file"},
    };
    for (const auto& [arguments, message] : failures) {
        const ToolRun failed = Tool(arguments);
        EXPECT_EQ(failed.status, 1) << message;
        EXPECT_TRUE(failed.err.contains(Q(message))) << failed.err.toStdString();
        EXPECT_EQ(ReadAll(CatalogPath()), before) << message;
    }
    const std::pair<QStringList, const char*> misuses[] = {
        {{Q("import")}, "import needs a file"},
        {{Q("import"), siteFile, Q("A"), Q("B")}, "import needs a file"},
        {{Q("import"), siteFile, Q("A\\\\B")}, "a folder name in FOLDER is empty"},
        {{Q("import"), Q("--folder"), Q("A"), siteFile}, "--folder does not apply to import"},
    };
    for (const auto& [arguments, message] : misuses) {
        const ToolRun misused = Tool(arguments);
        EXPECT_EQ(misused.status, 2) << message;
        EXPECT_TRUE(misused.err.contains(Q(message))) << misused.err.toStdString();
        EXPECT_EQ(ReadAll(CatalogPath()), before) << message;
    }

    const QByteArray foreign = "<CONFIG/>\n";
    QFile catalog(CatalogPath());
    ASSERT_TRUE(catalog.open(QIODevice::WriteOnly | QIODevice::Truncate));
    catalog.write(foreign);
    catalog.close();
    const ToolRun refused = Tool({Q("import"), siteFile});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(Q("left untouched"))) << refused.err.toStdString();
    EXPECT_EQ(ReadAll(CatalogPath()), foreign);
}

TEST_F(KestrixSitesTest, BadArgumentsAreRefusedBeforeAnythingIsWritten)
{
    struct Case {
        QStringList arguments;
        const char* message;
    };
    const QStringList site{Q("--name"), Q("X"), Q("--address"), Q("x.test")};
    const Case cases[] = {
        {{}, "no command"},
        {{Q("frobnicate")}, "unknown command"},
        {{Q("--bogus"), Q("list")}, "unknown option --bogus"},
        {{Q("add"), Q("--address"), Q("x.test")}, "add needs --name"},
        {{Q("add"), Q("--name"), Q("X")}, "add needs --address"},
        {{Q("add"), Q("--name")}, "--name needs a value"},
        {QStringList{Q("add"), Q("--name"), Q("Y")} + site, "--name is given twice"},
        {QStringList{Q("add"), Q("--port"), Q("0")} + site, "--port must be"},
        {QStringList{Q("add"), Q("--port"), Q("65536")} + site, "--port must be"},
        {QStringList{Q("add"), Q("--port"), Q("21x")} + site, "--port must be"},
        {QStringList{Q("add"), Q("--retries"), Q("-1")} + site, "--retries must be"},
        {QStringList{Q("add"), Q("--retry-delay"), Q("soon")} + site, "--retry-delay must be"},
        {QStringList{Q("add"), Q("--passive"), Q("--no-passive")} + site, "together"},
        {QStringList{Q("add"), Q("--passive=yes")} + site, "--passive takes no value"},
        {{Q("add"), Q("--name"), Q(""), Q("--address"), Q("x.test")}, "the site name is empty"},
        {{Q("add"), Q("--name"), Q("\"<>"), Q("--address"), Q("x.test")}, "the site name is empty"},
        {{Q("add"), Q("--name"), Q("A\\B"), Q("--address"), Q("x.test")}, "separates the parts"},
        {QStringList{Q("add"), Q("--folder"), Q("A\\\\B")} + site, "a folder name in --folder is empty"},
        {QStringList{Q("add"), Q("--folder"), Q("\\A")} + site, "a folder name in --folder is empty"},
        {{Q("add"), Q("--name"), Q("X"), Q("--address"), Q("  ")}, "--address is empty"},
        {QStringList{Q("add"), Q("--password"), Q("tab\there")} + site, "--password must not hold control"},
        {QStringList{Q("add"), Q("--description"), Q("two\nlines")} + site, "--description must not hold control"},
        {{Q("add"), Q("--name"), Q("X\r"), Q("--address"), Q("x.test")}, "the site name must not hold control"},
        {{Q("list"), Q("--name"), Q("X")}, "--name does not apply to list"},
        {{Q("remove"), Q("--encryption"), Q("tls"), Q("X")}, "--encryption does not apply to remove"},
        {QStringList{Q("add"), Q("--encryption"), Q("ssl")} + site, "--encryption must be plain, tls, tls-required or implicit"},
        {{Q("list"), Q("extra")}, "list takes no site path"},
        {{Q("show")}, "show needs exactly one site path"},
        {{Q("remove"), Q("A"), Q("B")}, "remove needs exactly one site path"},
    };
    for (const Case& c : cases) {
        const ToolRun run = Tool(c.arguments);
        const std::string shown = c.arguments.join(Q(" ")).toStdString();
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_TRUE(run.err.contains(Q(c.message))) << shown << ": " << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << shown;
        EXPECT_FALSE(QFileInfo::exists(CatalogPath())) << shown;
    }

    const ToolRun help = ToolWithoutCatalog({Q("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(Q("Usage:")));
}

} // namespace
