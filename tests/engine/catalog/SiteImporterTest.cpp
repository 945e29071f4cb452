#include "engine/catalog/SiteImporter.h"

#include "engine/base/FtpSite.h"
#include "engine/catalog/SiteCatalog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

// Shaped like what FileZilla 3 writes, with the odd cases people's files hold.
constexpr char kSiteManager[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>
<FileZilla3 version="3.63.2" platform="windows">
    <Servers>
        <Server>
            <Host>ftp.top.test</Host>
            <Port>2121</Port>
            <Protocol>0</Protocol>
            <Type>0</Type>
            <User>alice</User>
            <Pass encoding="base64">c2VjcmV0IHB3</Pass>
            <Logontype>1</Logontype>
            <PasvMode>MODE_ACTIVE</PasvMode>
            <Name>Top</Name>
            <Comments>line one&#13;&#10;line two</Comments>
            <Colour>2</Colour>
            <LocalDir>/home/alice/dl</LocalDir>
            <RemoteDir>1 0 4 home 11 alice smith</RemoteDir>
            <SyncBrowsing>0</SyncBrowsing>
        </Server>
        <Folder expanded="1">Work &amp; Play
            <Server>
                <Host>ab.test</Host><Port>99999</Port><Protocol>4</Protocol><User>bob</User>
                <Pass>p&lt;w&amp;</Pass><Logontype>1</Logontype><PasvMode>MODE_PASSIVE</PasvMode><Name>a/b</Name>
            </Server>
            <Server>
                <Host>anon.test</Host><Port>21</Port><Protocol>6</Protocol><User>ignored</User>
                <Logontype>0</Logontype><Name>x:y</Name>
            </Server>
            <Server><Host>ssh.test</Host><Port>22</Port><Protocol>1</Protocol><Name>Shell</Name></Server>
            <Folder>Über "quotes"
                <Server>
                    <Host>koeln.test</Host><Protocol>3</Protocol><User>k</User>
                    <Pass encoding="crypt" pubkey="ABCDEF">SEALED</Pass><Logontype>1</Logontype>
                    <PasvMode>MODE_DEFAULT</PasvMode><Name>Köln</Name>
                </Server>
                <Server><Host>second.test</Host><Protocol>0</Protocol><Name>köln</Name></Server>
                <Server><Host>bucket.test</Host><Protocol>7</Protocol><Name>Bucket</Name></Server>
            </Folder>
        </Folder>
        <Folder>Work &amp; Play
            <Server><Host>old.test</Host><Port>0</Port>Old style name</Server>
            <Server><Host>2001:db8::1</Host><Name>  </Name></Server>
        </Folder>
    </Servers>
</FileZilla3>
)";

class SiteImporterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString WriteFile(const QString& name, const QByteArray& bytes) const
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    // A file of one site per remote folder, named r0, r1 ...
    QString RemoteDirFile(const QStringList& remoteDirs) const
    {
        QByteArray xml = "<FileZilla3><Servers>";
        for (qsizetype i = 0; i < remoteDirs.size(); ++i)
            xml += "<Server><Host>h</Host><Name>r" + QByteArray::number(i) + "</Name><RemoteDir>"
                + remoteDirs[i].toUtf8() + "</RemoteDir></Server>";
        return WriteFile(Q("remote.xml"), xml + "</Servers></FileZilla3>");
    }

    QTemporaryDir m_dir;
};

TEST_F(SiteImporterTest, ImportsFoldersAndSitesOfARealFile)
{
    const QString catalogPath = m_dir.filePath(Q("sites.xml"));
    CSiteCatalog catalog(catalogPath);
    catalog.Open();
    const SiteImportResult result =
        ImportFileZillaSites(WriteFile(Q("sitemanager.xml"), kSiteManager), catalog.Document(), nullptr);
    ASSERT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(result.sites, 8);
    EXPECT_EQ(result.folders, 3);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(result.passwordsNotImported, 1);
    EXPECT_EQ(DescribeImport(result),
              Q("Imported 8 sites in 3 folders. 1 entry for another protocol (such as S3 or WebDAV) was skipped. "
                "1 site was imported without its password, which was encrypted with a FileZilla "
                "master password or could not be stored; enter it in the Site Manager."));
    ASSERT_TRUE(catalog.Write()) << catalog.ProblemText().toStdString();

    const CFtpSite defaults = CSiteCatalog::DefaultSite();
    CSiteCatalog reread(catalogPath);
    const auto load = [&](const char* path) {
        CFtpSite site;
        EXPECT_TRUE(reread.LoadSite(Q(path), site)) << path;
        return site;
    };
    CFtpSite top = defaults;
    top.name = Q("Top");
    top.address = Q("ftp.top.test");
    top.port = 2121;
    top.login = Q("alice");
    top.password = Q("secret pw");
    top.passive = false;
    top.description = Q("line one line two");
    top.localPath = Q("/home/alice/dl");
    top.remotePath = Q("/home/alice smith");
    EXPECT_EQ(load("Top"), top);

    const CFtpSite ab = load("Work & Play\\a_b");
    EXPECT_EQ(ab.name, Q("a_b"));
    EXPECT_EQ(ab.port, 21);
    EXPECT_EQ(ab.login, Q("bob"));
    EXPECT_EQ(ab.password, Q("p<w&"));
    EXPECT_TRUE(ab.passive);
    const CFtpSite anonymous = load("work & play\\X_Y");
    EXPECT_EQ(anonymous.login, Q("anonymous"));
    EXPECT_EQ(anonymous.password, Q("anonymous@"));

    const CFtpSite koeln = load("Work & Play\\Über _quotes_\\Köln");
    EXPECT_EQ(koeln.address, Q("koeln.test"));
    EXPECT_EQ(koeln.login, Q("k"));
    EXPECT_TRUE(koeln.password.isEmpty());
    EXPECT_EQ(koeln.passive, defaults.passive);
    EXPECT_EQ(koeln.encryption, kImplicitTls); // FileZilla's implicit FTPS
    EXPECT_EQ(load("Work & Play\\Über _quotes_\\köln (2)").address, Q("second.test"));
    const CFtpSite old = load("Work & Play (2)\\Old style name");
    EXPECT_EQ(old.address, Q("old.test"));
    EXPECT_EQ(old.port, 21);
    EXPECT_EQ(load("Work & Play (2)\\2001_db8__1").address, Q("2001:db8::1"));
    EXPECT_EQ(load("Work & Play\\Shell").protocol, SiteProtocol::Sftp);
    CFtpSite skipped;
    EXPECT_FALSE(reread.LoadSite(Q("Work & Play\\Über _quotes_\\Bucket"), skipped));
}

TEST_F(SiteImporterTest, SftpSitesComeWithTheirPortAndKeyFile)
{
    // As FileZilla 3.66 on Linux writes them: a key-file logon, a password
    // logon on a custom port, one without a port, and a WebDAV site.
    const QString file = WriteFile(Q("sitemanager.xml"), R"(<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>
<FileZilla3 version="3.66.5" platform="linux">
    <Servers>
        <Server>
            <Host>shell.example.test</Host>
            <Port>22</Port>
            <Protocol>1</Protocol>
            <Type>0</Type>
            <User>deploy</User>
            <Keyfile>/home/anna/.ssh/deploy_ed25519</Keyfile>
            <Logontype>5</Logontype>
            <PasvMode>MODE_DEFAULT</PasvMode>
            <EncodingType>Auto</EncodingType>
            <BypassProxy>0</BypassProxy>
            <Name>Deploy</Name>
            <RemoteDir>1 0 3 srv 3 www</RemoteDir>
            <SyncBrowsing>0</SyncBrowsing>
            <DirectoryComparison>0</DirectoryComparison>
        </Server>
        <Server>
            <Host>backup.example.test</Host><Port>2222</Port><Protocol>1</Protocol><Type>0</Type>
            <User>anna</User><Pass encoding="base64">aHVudGVyMg==</Pass><Logontype>1</Logontype>
            <PasvMode>MODE_DEFAULT</PasvMode><Name>Backup</Name>
        </Server>
        <Server><Host>noport.test</Host><Protocol>1</Protocol><Logontype>2</Logontype><Name>No port</Name></Server>
        <Server><Host>dav.test</Host><Port>443</Port><Protocol>9</Protocol><Name>Dav</Name></Server>
    </Servers>
</FileZilla3>
)");
    CXmlDocument document;
    document.Root()->SetName(Q("SITES"));
    const SiteImportResult result = ImportFileZillaSites(file, document, nullptr);
    ASSERT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(result.sites, 3);
    EXPECT_EQ(result.skipped, 1);
    EXPECT_EQ(DescribeImport(result),
              Q("Imported 3 sites. 1 entry for another protocol (such as S3 or WebDAV) was skipped."));
    ASSERT_EQ(document.Root()->ChildCount(), 3u);
    const auto site = [&](std::size_t i) { return CSiteCatalog::ReadSiteValues(document, document.Root()->ChildAt(i)); };

    const CFtpSite deploy = site(0);
    EXPECT_EQ(deploy.protocol, SiteProtocol::Sftp);
    EXPECT_EQ(deploy.address, Q("shell.example.test"));
    EXPECT_EQ(deploy.port, 22);
    EXPECT_EQ(deploy.login, Q("deploy"));
    EXPECT_TRUE(deploy.password.isEmpty());
    EXPECT_EQ(deploy.keyFile, Q("/home/anna/.ssh/deploy_ed25519"));
    EXPECT_EQ(deploy.encryption, kPlainFtp);
    EXPECT_EQ(deploy.remotePath, Q("/srv/www"));

    const CFtpSite backup = site(1);
    EXPECT_EQ(backup.protocol, SiteProtocol::Sftp);
    EXPECT_EQ(backup.port, 2222);
    EXPECT_EQ(backup.login, Q("anna"));
    EXPECT_EQ(backup.password, Q("hunter2"));
    EXPECT_TRUE(backup.keyFile.isEmpty());

    const CFtpSite noPort = site(2);
    EXPECT_EQ(noPort.protocol, SiteProtocol::Sftp);
    EXPECT_EQ(noPort.port, 22);
}

TEST_F(SiteImporterTest, TakenNamesGetNumbersAndNothingIsMerged)
{
    CSiteCatalog catalog(m_dir.filePath(Q("sites.xml")));
    catalog.Open();
    CFtpSite existing;
    existing.name = Q("TOP");
    CSiteCatalog::AddSite(catalog.Document(), nullptr, existing);
    const QString file = WriteFile(Q("sitemanager.xml"), kSiteManager);
    ASSERT_TRUE(ImportFileZillaSites(file, catalog.Document(), nullptr).error.isEmpty());
    ASSERT_TRUE(ImportFileZillaSites(file, catalog.Document(), nullptr).error.isEmpty());

    QStringList names;
    for (std::size_t i = 0; i < catalog.Document().Root()->ChildCount(); ++i)
        names << catalog.Document().Root()->ChildAt(i)->GetAttribute(Q("name"));
    EXPECT_EQ(names, (QStringList{Q("TOP"), Q("Top (2)"), Q("Work & Play"), Q("Work & Play (2)"), Q("Top (3)"),
                                  Q("Work & Play (3)"), Q("Work & Play (4)")}));
}

TEST_F(SiteImporterTest, RemoteFoldersAreDecodedOrLeftEmpty)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1 0 4 home 5 alice", "/home/alice"},
        {"1 0", "/"},
        {"0 0 8 with spc 3 d i", "/with spc/d i"},
        {"3 0 2 C: 5 Users", "C:\\Users"},
        {"10 0 2 D:", "D:/"},
        {"1 0 2 😀", "/😀"}, // lengths in UTF-16 units (Windows)
        {"1 0 1 😀 1 x", "/😀/x"}, // in code points (elsewhere)
        {"1 0 9 short", ""},
        {"2 5 DISK: 3 foo", ""},
        {"1 0 0 x", ""},
        {"1 0 99999999999999999999 x", ""},
        {"garbage", ""},
        {"", ""},
    };
    QStringList remoteDirs;
    for (const auto& [stored, expected] : cases)
        remoteDirs << Q(stored);
    CXmlDocument document;
    document.Root()->SetName(Q("SITES"));
    ASSERT_TRUE(ImportFileZillaSites(RemoteDirFile(remoteDirs), document, nullptr).error.isEmpty());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(CSiteCatalog::ReadSiteValues(document, document.Root()->ChildAt(i)).remotePath, Q(cases[i].second))
            << cases[i].first;
    }
}

TEST_F(SiteImporterTest, BadFilesAreRefusedAndLeaveTheDocumentAsItWas)
{
    const QByteArray fileZilla = "<FileZilla3><Servers>";
    QByteArray laughs = "<!DOCTYPE l [<!ENTITY a0 \"aaaaaaaaaa\">";
    for (int i = 1; i < 10; ++i)
        laughs += QStringLiteral("<!ENTITY a%1 \"%2\">").arg(i).arg(QStringLiteral("&a%1;").arg(i - 1).repeated(10))
                      .toUtf8();
    laughs += "]>" + fileZilla + "<Server><Name>&a9;</Name></Server></Servers></FileZilla3>";
    const std::pair<QByteArray, const char*> contents[] = {
        {"", "is not a FileZilla site file"},
        {"just some text", "is not a FileZilla site file"},
        {QByteArray("\x00\xff\xfe\x01PK", 6), "is not a FileZilla site file"},
        {"<html><body>FileZilla3</body></html>", "is not a FileZilla site file"},
        {"<FileZilla3><RecentServers/></FileZilla3>", "is not a FileZilla site file"},
        {fileZilla + "<Server><Host>a</Host></Servers></FileZilla3>", "is damaged"},
        {fileZilla + "<Server><Host>a</Host></Server>", "is damaged"},
        {laughs, "is damaged"},
        {fileZilla + QByteArray("<Folder>x").repeated(1001), "nests deeper than 1000 levels"},
        {fileZilla + QByteArray("<x/>").repeated(1'000'001), "holds more than 1000000 elements"},
    };
    CSiteCatalog catalog(m_dir.filePath(Q("sites.xml")));
    catalog.Open();
    CFtpSite existing;
    existing.name = Q("Kept");
    CSiteCatalog::AddSite(catalog.Document(), nullptr, existing);
    CXmlDocument& document = catalog.Document();
    const QString before = document.Serialize();
    const auto expectRefused = [&](const QString& file, CXmlNode* folder, const char* message) {
        const SiteImportResult result = ImportFileZillaSites(file, document, folder);
        EXPECT_TRUE(result.error.contains(Q(message))) << message << ": " << result.error.toStdString();
        EXPECT_EQ(DescribeImport(result), result.error);
        EXPECT_EQ(result.sites + result.folders, 0);
        EXPECT_EQ(document.Serialize(), before) << message;
    };
    for (const auto& [bytes, message] : contents)
        expectRefused(WriteFile(Q("bad.xml"), bytes), nullptr, message);

    expectRefused(m_dir.filePath(Q("missing.xml")), nullptr, "does not exist");
    expectRefused(m_dir.path(), nullptr, "is not a file");
    const QString fifo = m_dir.filePath(Q("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    expectRefused(fifo, nullptr, "is not a file");
    const QString good = WriteFile(Q("sitemanager.xml"), kSiteManager);
    expectRefused(good, document.Root()->ChildAt(0), "only be imported into a folder");

    // A catalogue nested so deep that the imported sites would make it unreadable.
    CXmlNode* deep = nullptr;
    for (std::size_t depth = 1; depth < CXmlDocument::kMaxDepth; ++depth)
        deep = CSiteCatalog::AddFolder(document, deep, Q("d"));
    const QString nested = document.Serialize();
    const SiteImportResult result = ImportFileZillaSites(good, document, deep);
    EXPECT_TRUE(result.error.contains(Q("too deeply nested"))) << result.error.toStdString();
    EXPECT_EQ(document.Serialize(), nested);
}

} // namespace
