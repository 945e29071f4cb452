#include "engine/base/Settings.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/base/FtpSite.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

class SiteCatalogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Sites read defaults from the settings: every test starts from none.
        QSettings(QSettings::NativeFormat, QSettings::UserScope, kx::kOrganisation, kx::kApplication).clear();
    }

    QString CatalogPath() const { return m_dir.filePath(Q("sites.xml")); }

    void WriteFile(const QByteArray& bytes) const
    {
        QFile file(CatalogPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray ReadFile() const
    {
        QFile file(CatalogPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // A catalogue written by hand: tabs and line ends as a person would type them.
    void WriteSample() const
    {
        WriteFile("<?xml version=\"1.0\"?>\n"
                  "<SITES name=\"Favorites\">\n"
                  "  <SITE name=\"Top\"><ADDRESS>top.example</ADDRESS><PORT> 2121xyz</PORT>"
                  "<PASVMODE>1</PASVMODE><RETRIES>-2</RETRIES><RETRYDELAY>99999999999</RETRYDELAY></SITE>\n"
                  "  <SITE name=\"S\"><ADDRESS>root-s</ADDRESS></SITE>\n"
                  "  <FOLDER name=\"A\">\n"
                  "    <FOLDER name=\"B\">\n"
                  "      <SITE name=\"S\"><ADDRESS>a-b-s</ADDRESS><PORT>21</PORT><PASVMODE>yes</PASVMODE>"
                  "<LOGIN>me</LOGIN><PASSWORD>p&amp;&lt;w</PASSWORD><REMOTEPATH>/pub</REMOTEPATH>"
                  "<LOCALPATH>/home/me</LOCALPATH><DESCRIPTION>Work</DESCRIPTION>"
                  "<EXTRA keep=\"me\">unknown</EXTRA></SITE>\n"
                  "    </FOLDER>\n"
                  "  </FOLDER>\n"
                  "  <FOLDER name=\"Y\"><SITE name=\"InY\"><ADDRESS>y</ADDRESS></SITE></FOLDER>\n"
                  "</SITES>\n");
    }

    static CFtpSite SampleSite(const char* name)
    {
        CFtpSite site;
        site.name = Q(name);
        site.address = Q("ftp.example.org");
        site.port = 2121;
        site.passive = true;
        site.login = Q("anna");
        site.password = Q("s3cr&t<>");
        site.remotePath = Q("/pub/incoming");
        site.localPath = Q("/home/anna/Downloads");
        site.retries = 4;
        site.retryDelay = 7;
        site.description = Q("Mirror ü");
        return site;
    }

    static unsigned Mode(const QString& path)
    {
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 0777) : 0xFFFF;
    }

    QTemporaryDir m_dir;
};

TEST_F(SiteCatalogTest, OneFolderWithOneSiteIsWrittenByteForByte)
{
    CSiteCatalog catalog(CatalogPath());
    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Missing);
    const QString folderAttributes = Q("name = \"Work\"");
    catalog.Document().AddChild(nullptr, Q("FOLDER"), nullptr, &folderAttributes);
    ASSERT_TRUE(catalog.Write());

    CFtpSite site = SampleSite("Mirror");
    site.description.clear();
    const QString folder = Q("Work");
    ASSERT_TRUE(catalog.SaveSite(site, &folder));

    const QByteArray expected = "<?xml version=\"1.0\"?>\r\n"
                                "<SITES name=\"Favorites\" >\r\n"
                                "\t<FOLDER name=\"Work\" >\r\n"
                                "\t\t<SITE name=\"Mirror\" >\r\n"
                                "\t\t\t<ADDRESS>ftp.example.org</ADDRESS>\r\n"
                                "\t\t\t<PORT>2121</PORT>\r\n"
                                "\t\t\t<PASVMODE>1</PASVMODE>\r\n"
                                "\t\t\t<LOGIN>anna</LOGIN>\r\n"
                                "\t\t\t<PASSWORD>s3cr&amp;t&lt;&gt;</PASSWORD>\r\n"
                                "\t\t\t<REMOTEPATH>/pub/incoming</REMOTEPATH>\r\n"
                                "\t\t\t<LOCALPATH>/home/anna/Downloads</LOCALPATH>\r\n"
                                "\t\t\t<RETRIES>4</RETRIES>\r\n"
                                "\t\t\t<RETRYDELAY>7</RETRYDELAY>\r\n"
                                "\t\t\t<DESCRIPTION>\r\n"
                                "\t\t\t</DESCRIPTION>\r\n"
                                "\t\t\t<ENCRYPTION>0</ENCRYPTION>\r\n"
                                "\t\t</SITE>\r\n"
                                "\t</FOLDER>\r\n"
                                "</SITES>\r\n";
    EXPECT_EQ(ReadFile(), expected);

    CFtpSite back;
    ASSERT_TRUE(catalog.LoadSite(Q("work\\MIRROR"), back));
    EXPECT_EQ(back, site);
}

TEST_F(SiteCatalogTest, SftpSitesKeepTheirProtocolAndKeyFile)
{
    CSiteCatalog catalog(CatalogPath());
    CFtpSite site = SampleSite("Shell");
    site.protocol = SiteProtocol::Sftp;
    site.port = 22;
    site.keyFile = Q("/home/anna/.ssh/id_ed25519 ü");
    ASSERT_TRUE(catalog.SaveSite(site));
    EXPECT_TRUE(ReadFile().contains("\t\t<ENCRYPTION>0</ENCRYPTION>\r\n"
                                    "\t\t<PROTOCOL>1</PROTOCOL>\r\n"
                                    "\t\t<KEYFILE>/home/anna/.ssh/id_ed25519 \xc3\xbc</KEYFILE>\r\n"
                                    "\t</SITE>"))
        << ReadFile().toStdString();
    CFtpSite back;
    ASSERT_TRUE(catalog.LoadSite(Q("shell"), back));
    EXPECT_EQ(back, site);

    // Back to FTP: the elements stay, saying so, rather than vanish.
    site.protocol = SiteProtocol::Ftp;
    site.keyFile.clear();
    ASSERT_TRUE(catalog.SaveSite(site));
    EXPECT_TRUE(ReadFile().contains("<PROTOCOL>0</PROTOCOL>\r\n\t\t<KEYFILE>\r\n\t\t</KEYFILE>"))
        << ReadFile().toStdString();
    ASSERT_TRUE(catalog.LoadSite(Q("Shell"), back));
    EXPECT_EQ(back, site);
}

TEST_F(SiteCatalogTest, OlderCataloguesReadAsFtpAndAreWrittenBackUnchanged)
{
    const QByteArray older = "<?xml version=\"1.0\"?>\r\n"
                             "<SITES name=\"Favorites\" >\r\n"
                             "\t<SITE name=\"Mirror\" >\r\n"
                             "\t\t<ADDRESS>ftp.example.org</ADDRESS>\r\n"
                             "\t\t<PORT>2121</PORT>\r\n"
                             "\t\t<PASVMODE>1</PASVMODE>\r\n"
                             "\t\t<LOGIN>anna</LOGIN>\r\n"
                             "\t\t<PASSWORD>pw</PASSWORD>\r\n"
                             "\t\t<REMOTEPATH>/pub</REMOTEPATH>\r\n"
                             "\t\t<LOCALPATH>/tmp</LOCALPATH>\r\n"
                             "\t\t<RETRIES>4</RETRIES>\r\n"
                             "\t\t<RETRYDELAY>7</RETRYDELAY>\r\n"
                             "\t\t<DESCRIPTION>Work</DESCRIPTION>\r\n"
                             "\t\t<ENCRYPTION>2</ENCRYPTION>\r\n"
                             "\t\t<SITEID>0f6c</SITEID>\r\n"
                             "\t</SITE>\r\n"
                             "</SITES>\r\n";
    WriteFile(older);
    CSiteCatalog catalog(CatalogPath());
    CFtpSite site;
    ASSERT_TRUE(catalog.LoadSite(Q("Mirror"), site));
    EXPECT_EQ(site.protocol, SiteProtocol::Ftp);
    EXPECT_TRUE(site.keyFile.isEmpty());
    EXPECT_EQ(site.encryption, kExplicitTlsRequired);

    // Saved as the Site Manager saves it: every value written again.
    ASSERT_TRUE(catalog.SaveSite(site));
    EXPECT_EQ(ReadFile(), older);
}

TEST_F(SiteCatalogTest, UnknownProtocolsReadAsFtp)
{
    const std::pair<const char*, SiteProtocol> cases[] = {
        {"1", SiteProtocol::Sftp}, {" 1\n", SiteProtocol::Sftp}, {"0", SiteProtocol::Ftp},
        {"2", SiteProtocol::Ftp},  {"-1", SiteProtocol::Ftp},     {"sftp", SiteProtocol::Ftp},
        {"1x", SiteProtocol::Ftp}, {"", SiteProtocol::Ftp},       {"99999999999", SiteProtocol::Ftp},
    };
    QByteArray xml = "<SITES name=\"Favorites\">";
    for (std::size_t i = 0; i < std::size(cases); ++i)
        xml += "<SITE name=\"s" + QByteArray::number(qulonglong(i)) + "\"><ADDRESS>h</ADDRESS><PROTOCOL>"
            + cases[i].first + "</PROTOCOL><KEYFILE>/k</KEYFILE></SITE>";
    WriteFile(xml + "</SITES>");
    CSiteCatalog catalog(CatalogPath());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        CFtpSite site;
        ASSERT_TRUE(catalog.LoadSite(Q("s") + QString::number(i), site));
        EXPECT_EQ(site.protocol, cases[i].second) << cases[i].first;
        EXPECT_EQ(site.keyFile, Q("/k"));
    }
}

TEST_F(SiteCatalogTest, SitePathsResolveIgnoringCaseWithTheRootFallback)
{
    WriteSample();
    CSiteCatalog catalog(CatalogPath());
    struct Case {
        const char* path;
        const char* address; // nullptr: not found
    };
    const Case cases[] = {
        {"A\\B\\S", "a-b-s"},
        {"a\\b\\s", "a-b-s"},
        {"S", "root-s"},
        {"X\\S", "root-s"},     // no folder X: the folder part falls back to the root
        {"X\\Y\\InY", "y"},     // ... and the walk goes on from the root
        {"A\\X\\S", "root-s"},
        {"A\\S", nullptr},      // S lies in B, not directly in A
        {"B\\S", "root-s"},     // B is no top-level folder
        {"Missing", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        CFtpSite site;
        site.address = Q("unchanged");
        const bool found = catalog.LoadSite(Q(c.path), site);
        EXPECT_EQ(found, c.address != nullptr) << c.path;
        EXPECT_EQ(site.address, c.address ? Q(c.address) : Q("unchanged")) << c.path;
    }

    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    CXmlNode* y = catalog.FindFolderByPath(nullptr, Q("X\\Y"));
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->GetAttribute(Q("name")), Q("Y"));
    CXmlNode* b = catalog.FindFolderByPath(nullptr, Q("A\\B"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(catalog.FindFolderByPath(b, Q("B")), nullptr);
    EXPECT_NE(catalog.FindSiteByName(b, Q("s")), nullptr);
}

TEST_F(SiteCatalogTest, ValuesAreReadWithCConversionAndMissingElementsGiveZero)
{
    WriteSample();
    CSiteCatalog catalog(CatalogPath());
    CFtpSite top;
    ASSERT_TRUE(catalog.LoadSite(Q("Top"), top));
    EXPECT_EQ(top.port, 2121);
    EXPECT_TRUE(top.passive);
    EXPECT_EQ(top.retries, -2);
    EXPECT_EQ(top.retryDelay, std::numeric_limits<int>::max());

    CFtpSite bare;
    ASSERT_TRUE(catalog.LoadSite(Q("S"), bare));
    EXPECT_EQ(bare.port, 0);
    EXPECT_FALSE(bare.passive);
    EXPECT_EQ(bare.retries, 0);
    EXPECT_EQ(bare.login, QString());
    // Catalogues from before encryption follow the default, TLS if available.
    EXPECT_EQ(bare.encryption, kExplicitTlsIfAvailable);
    kx::WriteProfileInt(kx::settings::DefaultEncryption, kPlainFtp);
    ASSERT_TRUE(catalog.LoadSite(Q("S"), bare));
    EXPECT_EQ(bare.encryption, kPlainFtp);

    CFtpSite full;
    ASSERT_TRUE(catalog.LoadSite(Q("A\\B\\S"), full));
    EXPECT_FALSE(full.passive); // only "1" means passive
    EXPECT_EQ(full.password, Q("p&<w"));
    EXPECT_EQ(full.name, Q("S"));
    EXPECT_EQ(full.remotePath, Q("/pub"));

    EXPECT_EQ(CSiteCatalog::ToInt(Q("  +42abc")), 42);
    EXPECT_EQ(CSiteCatalog::ToInt(Q("-")), 0);
    EXPECT_EQ(CSiteCatalog::ToInt(Q("\t\n7")), 7);
    EXPECT_EQ(CSiteCatalog::ToInt(Q("-99999999999")), std::numeric_limits<int>::min());
    EXPECT_EQ(CSiteCatalog::ToInt(Q("٣")), 0); // only ASCII digits count
}

TEST_F(SiteCatalogTest, SaveSiteUpdatesInPlaceAndKeepsWhatItDoesNotKnow)
{
    WriteSample();
    CSiteCatalog catalog(CatalogPath());
    const QString folder = Q("a\\B");
    CFtpSite site = SampleSite("s");
    ASSERT_TRUE(catalog.SaveSite(site, &folder));
    site.address = Q("second.example");
    ASSERT_TRUE(catalog.SaveSite(site, &folder));

    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    CXmlNode* b = catalog.FindFolderByPath(nullptr, Q("A\\B"));
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->ChildCount(), 1u);
    CXmlNode* node = b->ChildAt(0);
    EXPECT_EQ(node->GetAttribute(Q("name")), Q("S")); // the stored name is kept
    EXPECT_EQ(catalog.Document().GetChildText(node, Q("ADDRESS")), Q("second.example"));
    CXmlNode* extra = catalog.Document().FindChild(node, Q("EXTRA"));
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(extra->Text(), Q("unknown"));
    EXPECT_EQ(extra->GetAttribute(Q("keep")), Q("me"));

    // The other sites are where they were.
    CFtpSite top;
    EXPECT_TRUE(catalog.LoadSite(Q("Top"), top));
    EXPECT_EQ(top.address, Q("top.example"));

    // A folder path that names no folder stores at the root.
    const QString nowhere = Q("Nowhere");
    ASSERT_TRUE(catalog.SaveSite(SampleSite("New"), &nowhere));
    CFtpSite added;
    EXPECT_TRUE(catalog.LoadSite(Q("New"), added));
    EXPECT_EQ(added, SampleSite("New"));
}

TEST_F(SiteCatalogTest, NamesLoseTheCharactersTheFileCannotHold)
{
    CSiteCatalog catalog(CatalogPath());
    catalog.Open();
    ASSERT_TRUE(catalog.Write());
    ASSERT_TRUE(catalog.SaveSite(SampleSite("My \"best\" <site>")));
    ASSERT_TRUE(catalog.SaveSite(SampleSite("My best site")));
    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    EXPECT_EQ(catalog.Document().Root()->ChildCount(), 1u);
    CFtpSite back;
    ASSERT_TRUE(catalog.LoadSite(Q("my best site"), back));
    EXPECT_EQ(back.name, Q("My best site"));
    EXPECT_EQ(back.password, Q("s3cr&t<>"));
}

TEST_F(SiteCatalogTest, NothingIsWrittenOverAFileThatCouldNotBeRead)
{
    CSiteCatalog catalog(CatalogPath());
    // No file yet: the first site creates it.
    EXPECT_TRUE(catalog.SaveSite(SampleSite("x")));
    CFtpSite back;
    EXPECT_TRUE(catalog.LoadSite(Q("x"), back));

    const QByteArray foreign[] = {
        QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0binary", 16),
        QByteArray("just some notes, not a catalogue"),
        QByteArray("<html><body>oops</body></html>"),
    };
    for (const QByteArray& bytes : foreign) {
        WriteFile(bytes);
        EXPECT_FALSE(catalog.SaveSite(SampleSite("x")));
        EXPECT_EQ(catalog.Open(), CSiteCatalog::FileState::Unreadable);
        EXPECT_TRUE(catalog.ProblemText().contains(CatalogPath())) << catalog.ProblemText().toStdString();
        EXPECT_EQ(catalog.Document().Root()->Name(), Q("SITES")); // a fresh root to show
        EXPECT_FALSE(catalog.Write());
        EXPECT_EQ(ReadFile(), bytes);
    }

    // A file too large to be a catalogue (sparse: no real disk use).
    WriteFile("<SITES name=\"Favorites\"></SITES>");
    ASSERT_TRUE(QFile::resize(CatalogPath(), CXmlDocument::kMaxFileSize + 1));
    EXPECT_EQ(catalog.Open(), CSiteCatalog::FileState::Unreadable);
    EXPECT_FALSE(catalog.Write());
    EXPECT_EQ(QFileInfo(CatalogPath()).size(), CXmlDocument::kMaxFileSize + 1);

    // A blank file holds nothing to lose and is replaced.
    WriteFile("  \r\n");
    EXPECT_EQ(catalog.Open(), CSiteCatalog::FileState::Missing);
    EXPECT_TRUE(catalog.Write());
    EXPECT_TRUE(ReadFile().startsWith("<?xml"));
}

TEST_F(SiteCatalogTest, FilesArePrivateAndWrittenAtomically)
{
    ::umask(022);
    const QString nested = m_dir.filePath(Q("new/folder/sites.xml"));
    CSiteCatalog catalog(nested);
    catalog.Open();
    ASSERT_TRUE(catalog.Write());
    EXPECT_EQ(Mode(nested), 0600u);
    EXPECT_EQ(Mode(m_dir.filePath(Q("new/folder"))), 0700u);

    CSiteCatalog real(CatalogPath());
    real.Open();
    for (int i = 0; i < 50; ++i)
        real.Document().AddChild(nullptr, Q("SITE"), nullptr, nullptr)->SetAttribute(Q("name"), QString::number(i));
    ASSERT_TRUE(real.Write());
    ::chmod(QFile::encodeName(CatalogPath()).constData(), 0644);
    const QByteArray before = ReadFile();

    // Make the disk "full" part way through the next write: the old file
    // must survive whole and no temporary file may be left behind.
    for (int i = 0; i < 2000; ++i)
        real.Document().AddChild(nullptr, Q("SITE"), nullptr, nullptr)->SetAttribute(Q("name"), QString::number(i));
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = before.size() + 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool written = real.Write();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_TRUE(real.ProblemText().startsWith(Q("The site catalogue could not be saved to \"") + CatalogPath()))
        << real.ProblemText().toStdString();
    EXPECT_EQ(ReadFile(), before);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{Q("sites.xml")});

    ASSERT_TRUE(real.Write());
    EXPECT_EQ(Mode(CatalogPath()), 0600u);
}

TEST_F(SiteCatalogTest, DefaultLocationIsBesideTheProgramWhenWritable)
{
    CSiteCatalog::SetDefaultPathOverride(QString());
    const QString beside = CSiteCatalog::DefaultPath();
    EXPECT_TRUE(beside.endsWith(Q("/sites.xml")));
    EXPECT_EQ(QFileInfo(beside).absolutePath(),
              QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2));

    CSiteCatalog::SetDefaultPathOverride(CatalogPath());
    EXPECT_EQ(CSiteCatalog::DefaultPath(), CatalogPath());
    EXPECT_EQ(CSiteCatalog().Path(), CatalogPath());
    CSiteCatalog::SetDefaultPathOverride(QString());
}

} // namespace
