// Where passwords go when no keyring answers (this program has no session
// bus and no event loop), and the "nowhere" setting.
#include "engine/base/Settings.h"
#include "engine/catalog/Keyring.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"

#include <QFile>
#include <QTemporaryDir>

#include <optional>

#include <gtest/gtest.h>

namespace {

class SitePasswordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_settings.emplace();
        kx::UseSettingsFolder(m_settings->path());
        SitePasswords::ForgetRemembered();
    }
    std::optional<QTemporaryDir> m_settings;
    QTemporaryDir m_folder;
    QString m_path = m_folder.filePath(QStringLiteral("sites.xml"));
};

TEST_F(SitePasswordsTest, WithoutAKeyringPasswordsStayInTheFileAndTheFallBackIsSaidOnce)
{
    EXPECT_FALSE(CKeyring::IsAvailable());
    EXPECT_EQ(SitePasswords::ChosenPlace(), PasswordPlace::Keyring); // the default
    bool fellBack = false;
    EXPECT_EQ(SitePasswords::PlaceForNewPasswords(&fellBack), PasswordPlace::CatalogueFile);
    EXPECT_TRUE(fellBack);

    CFtpSite site;
    site.name = QStringLiteral("Acme");
    site.address = QStringLiteral("ftp.acme.test");
    site.login = QStringLiteral("bob");
    site.password = QStringLiteral("hunter2");
    QString problem;
    SitePasswords::PrepareNewSite(site, &problem);
    EXPECT_TRUE(problem.isEmpty());
    EXPECT_EQ(site.passwordPlace, PasswordPlace::CatalogueFile);
    ASSERT_TRUE(CSiteCatalog(m_path).SaveSite(site));
    CFtpSite loaded;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Acme"), loaded));
    EXPECT_EQ(loaded.password, QStringLiteral("hunter2"));

    EXPECT_FALSE(SitePasswords::TakeFallbackWarning().isEmpty());
    EXPECT_TRUE(SitePasswords::TakeFallbackWarning().isEmpty()); // once a run
}

TEST_F(SitePasswordsTest, NowhereMeansAskedOnceARunAndNeverWritten)
{
    kx::WriteProfileInt(kx::settings::PasswordStore, kx::settings::kPasswordStoreNowhere);
    CFtpSite site;
    site.name = QStringLiteral("Acme");
    site.address = QStringLiteral("ftp.acme.test");
    site.login = QStringLiteral("bob");
    site.password = QStringLiteral("hunter2");
    SitePasswords::PrepareNewSite(site);
    ASSERT_TRUE(CSiteCatalog(m_path).SaveSite(site));
    QFile file(m_path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_FALSE(text.contains("hunter2")) << text.toStdString();
    EXPECT_TRUE(text.contains("<PASSWORDIN>ask</PASSWORDIN>"));

    CFtpSite loaded;
    ASSERT_TRUE(CSiteCatalog(m_path).LoadSite(QStringLiteral("Acme"), loaded));
    EXPECT_TRUE(SitePasswords::NeedsPassword(loaded));
    ASSERT_TRUE(SitePasswords::Fill(loaded)); // typed in this run
    EXPECT_EQ(loaded.password, QStringLiteral("hunter2"));
    SitePasswords::ForgetRemembered();
    loaded.password.clear();
    EXPECT_FALSE(SitePasswords::Fill(loaded));

    // Anonymous logins need none; their address stays where it is.
    loaded.login = QStringLiteral("Anonymous");
    EXPECT_FALSE(SitePasswords::NeedsPassword(loaded));
}

} // namespace
