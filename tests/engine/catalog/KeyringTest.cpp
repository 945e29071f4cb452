// Site passwords in a real Secret Service: GNOME Keyring on a private bus,
// started for this program (tests/support/private_keyring.py).
#include "engine/base/Settings.h"
#include "engine/catalog/Keyring.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SiteImporter.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/session/FtpSession.h"
#include "engine/session/SessionSettings.h"
#include "support/PrivateKeyring.h"
#include "support/ServerProcess.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const auto* const g_keyring = ::testing::AddGlobalTestEnvironment(new PrivateKeyring);

QString FileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

CFtpSite Site(const QString& name, const QString& login, const QString& password)
{
    CFtpSite site;
    site.name = name;
    site.address = QStringLiteral("127.0.0.1");
    site.login = login;
    site.password = password;
    return site;
}

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_KEYRING();
        kx::WriteProfileInt(kx::settings::PasswordStore, -1);
        SitePasswords::ForgetRemembered();
        CSiteCatalog::SetDefaultPathOverride(m_path);
    }
    void TearDown() override { CSiteCatalog::SetDefaultPathOverride(QString()); }

    // A new site stored the way every writer stores one.
    void Add(CFtpSite site, const QString* folder = nullptr)
    {
        SitePasswords::PrepareNewSite(site);
        ASSERT_TRUE(CSiteCatalog(m_path).SaveSite(site, folder));
    }

    QTemporaryDir m_folder;
    QString m_path = m_folder.filePath(QStringLiteral("sites.xml"));
};

TEST_F(KeyringTest, APasswordLivesInTheKeyringThroughRenamesAndMoves)
{
    ASSERT_TRUE(CKeyring::IsAvailable());
    Add(Site(QStringLiteral("Acme"), QStringLiteral("bob"), QStringLiteral("hunter2")));
    const QString text = FileText(m_path);
    EXPECT_FALSE(text.contains(QStringLiteral("hunter2"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<PASSWORDIN>keyring</PASSWORDIN>"))) << text.toStdString();

    // What an older version reads: an empty PASSWORD, no password stored.
    CSiteCatalog catalog(m_path);
    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    CXmlNode* node = catalog.FindSiteByName(nullptr, QStringLiteral("Acme"));
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(catalog.Document().GetChildText(node, QLatin1String(CSiteCatalog::kPassword)), QString());

    // Renamed and moved into a folder, as the Site Manager does it.
    CXmlNode* folder = CSiteCatalog::AddFolder(catalog.Document(), nullptr, QStringLiteral("Clients"));
    CXmlNode* moved = catalog.Document().AddChild(folder, node->Name());
    moved->CopyFrom(*node);
    moved->SetAttribute(QLatin1String(CSiteCatalog::kNameAttribute), QStringLiteral("Acme Ltd"));
    catalog.Document().RemoveNode(node);
    ASSERT_TRUE(catalog.Write());

    CFtpSite loaded;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Clients\\Acme Ltd"), loaded));
    EXPECT_EQ(loaded.password, QString());
    EXPECT_EQ(loaded.passwordPlace, PasswordPlace::Keyring);
    ASSERT_TRUE(SitePasswords::Fill(loaded));
    EXPECT_EQ(loaded.password, QStringLiteral("hunter2"));

    // A copy made from it is a site of its own: it shares no entry.
    CFtpSite copy = loaded;
    copy.name = QStringLiteral("Copy");
    Add(copy);
    CFtpSite copied;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Copy"), copied));
    EXPECT_NE(copied.id, loaded.id);
    SitePasswords::Discard(copied);
    CFtpSite original;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Clients\\Acme Ltd"), original));
    EXPECT_TRUE(SitePasswords::Fill(original));
}

TEST_F(KeyringTest, PasswordsMoveBetweenTheFileTheKeyringAndNowhere)
{
    kx::WriteProfileInt(kx::settings::PasswordStore, kx::settings::kPasswordStoreFile);
    Add(Site(QStringLiteral("A"), QStringLiteral("bob"), QStringLiteral("pw-of-a")));
    Add(Site(QStringLiteral("B"), QStringLiteral("carol"), QStringLiteral("pw-of-b")));
    Add(Site(QStringLiteral("Public"), QStringLiteral("anonymous"), QStringLiteral("me@example.org")));
    ASSERT_TRUE(FileText(m_path).contains(QStringLiteral("pw-of-a")));

    const auto move = [&](PasswordPlace place) {
        CSiteCatalog catalog(m_path);
        catalog.Open();
        QString problem;
        const int moved = SitePasswords::MoveAll(catalog, place, &problem);
        EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        EXPECT_TRUE(catalog.Write());
        return moved;
    };
    const auto password = [&](const char* name) {
        CFtpSite site;
        CSiteCatalog(m_path).LoadSite(QString::fromLatin1(name), site);
        SitePasswords::Fill(site);
        return site.password;
    };

    EXPECT_EQ(move(PasswordPlace::Keyring), 2);
    QString text = FileText(m_path);
    EXPECT_FALSE(text.contains(QStringLiteral("pw-of-a")) || text.contains(QStringLiteral("pw-of-b")));
    EXPECT_TRUE(text.contains(QStringLiteral("me@example.org"))); // no secret: left where it was
    EXPECT_EQ(password("A"), QStringLiteral("pw-of-a"));
    EXPECT_EQ(password("B"), QStringLiteral("pw-of-b"));

    EXPECT_EQ(move(PasswordPlace::CatalogueFile), 2);
    text = FileText(m_path);
    EXPECT_TRUE(text.contains(QStringLiteral("pw-of-a")) && text.contains(QStringLiteral("pw-of-b")));
    CFtpSite a;
    CSiteCatalog(m_path).LoadSite(QStringLiteral("A"), a);
    EXPECT_EQ(CKeyring::Read(CKeyring::KeyOfSite(a.id)).status, CKeyring::Status::NotFound);

    EXPECT_EQ(move(PasswordPlace::Ask), 2);
    text = FileText(m_path);
    EXPECT_FALSE(text.contains(QStringLiteral("pw-of-a")));
    EXPECT_EQ(password("A"), QString());
}

TEST_F(KeyringTest, ALockedOrVanishedKeyringLosesNoPassword)
{
    Add(Site(QStringLiteral("Acme"), QStringLiteral("bob"), QStringLiteral("hunter2")));
    ASSERT_TRUE(PrivateKeyring::Command("LOCK"));

    CFtpSite site;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Acme"), site));
    QString problem;
    EXPECT_FALSE(SitePasswords::Fill(site, &problem));
    EXPECT_FALSE(problem.isEmpty());

    // A password stored now goes to the file, and says so; the first site
    // keeps its marker.
    CFtpSite other = Site(QStringLiteral("Other"), QStringLiteral("carol"), QStringLiteral("pw2"));
    SitePasswords::PrepareNewSite(other, &problem);
    EXPECT_EQ(other.passwordPlace, PasswordPlace::CatalogueFile);
    EXPECT_TRUE(problem.contains(QStringLiteral("kept in the site catalogue"))) << problem.toStdString();
    ASSERT_TRUE(CSiteCatalog(m_path).SaveSite(other));

    // Moving what the locked keyring holds out of it moves nothing and
    // forgets nothing.
    CSiteCatalog catalog(m_path);
    catalog.Open();
    problem.clear();
    EXPECT_EQ(SitePasswords::MoveAll(catalog, PasswordPlace::CatalogueFile, &problem), 0);
    EXPECT_TRUE(problem.contains(QStringLiteral("Acme"))) << problem.toStdString();
    ASSERT_TRUE(catalog.Write());
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Acme"), site));
    EXPECT_EQ(site.passwordPlace, PasswordPlace::Keyring);

    ASSERT_TRUE(PrivateKeyring::Command("STOP-KEYRING"));
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Acme"), site));
    EXPECT_FALSE(SitePasswords::Fill(site));
    EXPECT_EQ(site.passwordPlace, PasswordPlace::Keyring);
    EXPECT_TRUE(FileText(m_path).contains(QStringLiteral("<PASSWORDIN>keyring</PASSWORDIN>")));
}

TEST_F(KeyringTest, ImportedPasswordsGoIntoTheKeyring)
{
    const QString file = m_folder.filePath(QStringLiteral("sitemanager.xml"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("<FileZilla3><Servers><Server><Host>ftp.acme.test</Host><Port>21</Port><Protocol>0</Protocol>"
              "<Type>0</Type><User>bob</User><Pass encoding=\"base64\">aHVudGVyMg==</Pass><Logontype>1</Logontype>"
              "<Name>Acme</Name></Server></Servers></FileZilla3>");
    out.close();
    CSiteCatalog catalog(m_path);
    catalog.Open();
    const SiteImportResult result = ImportFileZillaSites(file, catalog.Document(), nullptr);
    ASSERT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    ASSERT_TRUE(catalog.Write());
    EXPECT_FALSE(FileText(m_path).contains(QStringLiteral("hunter2")));
    CFtpSite site;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Acme"), site));
    ASSERT_TRUE(SitePasswords::Fill(site));
    EXPECT_EQ(site.password, QStringLiteral("hunter2"));
}

// The session takes a catalogue site's password from the keyring without a
// question; when the keyring will not give it, it asks, and never sends an
// empty one.
class AnsweringEvents : public ISessionEvents {
public:
    void OnTrace(int, const QString& text) override { lines << text; }
    void OnConnected() override {}
    void OnDisconnected() override {}
    void OnRequest(PasswordRequest& request) override
    {
        ++asked;
        problem = request.problem;
        if (answer.isEmpty())
            return;
        request.answered = true;
        request.password = answer;
    }
    QStringList lines;
    QString answer;
    QString problem;
    int asked = 0;
};

TEST_F(KeyringTest, TheSessionTakesThePasswordFromTheKeyringOrAsks)
{
    kxtest::TempDir root;
    root.Write("readme.txt", "hello");
    auto server = kxtest::StartPyFtpd(root.path(), "bob", "hunter2");
    CFtpSite site = Site(QStringLiteral("Acme"), QStringLiteral("bob"), QStringLiteral("hunter2"));
    site.port = server->port();
    site.retries = 1;
    Add(site);

    AnsweringEvents events;
    CFtpSession session;
    session.SetEvents(&events);
    SessionSettings settings;
    settings.proxyType = kx::settings::kProxyDirect;
    session.SetSettings(settings);
    ASSERT_TRUE(session.Connect(SiteToConnect(QStringLiteral("Acme"), QString(), QString())));
    EXPECT_EQ(events.asked, 0);
    session.Close();

    ASSERT_TRUE(PrivateKeyring::Command("LOCK"));
    SitePasswords::ForgetRemembered();
    EXPECT_FALSE(session.Connect(SiteToConnect(QStringLiteral("Acme"), QString(), QString())));
    EXPECT_EQ(events.asked, 1);
    EXPECT_FALSE(events.problem.isEmpty());
    EXPECT_TRUE(events.lines.last().contains(QStringLiteral("No password was given"))) << events.lines.last().toStdString();

    events.answer = QStringLiteral("hunter2");
    ASSERT_TRUE(session.Connect(SiteToConnect(QStringLiteral("Acme"), QString(), QString())));
    EXPECT_EQ(events.asked, 2);
    // Typed once, kept for the run: no second question.
    session.Close();
    ASSERT_TRUE(session.Connect(SiteToConnect(QStringLiteral("Acme"), QString(), QString())));
    EXPECT_EQ(events.asked, 2);
    EXPECT_FALSE(FileText(m_path).contains(QStringLiteral("hunter2")));
}

} // namespace
