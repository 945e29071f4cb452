// The catalogue's dialogs with a real keyring: GNOME Keyring on a private
// bus started for this program.
#include "engine/base/Settings.h"
#include "engine/catalog/Keyring.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "support/PrivateKeyring.h"
#include "window/sites/CatalogFileFixture.h"
#include "window/sites/PasswordPlaceChoice.h"
#include "window/sites/SiteManagerDlg.h"

#include <QLineEdit>
#include <QTest>

namespace {

const auto* const g_keyring = ::testing::AddGlobalTestEnvironment(new PrivateKeyring);

class SitesKeyringTest : public CatalogFileFixture {
protected:
    void SetUp() override
    {
        SKIP_WITHOUT_KEYRING();
        SitePasswords::ForgetRemembered();
    }
    // Sites written the way an older version wrote them: passwords in the file.
    void WriteClearTextSites()
    {
        Write("<SITES name=\"Favorites\">"
              "<SITE name=\"A\"><ADDRESS>a.test</ADDRESS><LOGIN>bob</LOGIN><PASSWORD>pw-of-a</PASSWORD></SITE>"
              "<FOLDER name=\"F\"><SITE name=\"B\"><ADDRESS>b.test</ADDRESS><LOGIN>carol</LOGIN>"
              "<PASSWORD>pw-of-b</PASSWORD></SITE></FOLDER></SITES>");
    }
    static QString PasswordOf(const char* path)
    {
        CFtpSite site;
        CSiteCatalog().LoadSite(QString::fromLatin1(path), site);
        SitePasswords::Fill(site);
        return site.password;
    }
};

TEST_F(SitesKeyringTest, TheFirstStartOffersOnceToMoveClearTextPasswordsIntoTheKeyring)
{
    WriteClearTextSites();
    const QByteArray before = Read();
    m_prompts.answer = IPrompts::No;
    OfferToMovePasswordsIntoKeyring(nullptr);
    ASSERT_EQ(m_prompts.questions.size(), 1);
    EXPECT_TRUE(m_prompts.questions[0].contains(QStringLiteral("2 sites keep their passwords"))) << m_prompts.questions[0].toStdString();
    EXPECT_EQ(Read(), before); // No: nothing changes
    OfferToMovePasswordsIntoKeyring(nullptr);
    EXPECT_EQ(m_prompts.questions.size(), 1); // and it is not asked again

    // Until the setting changes: then Yes moves them, in one write.
    kx::WriteProfileInt(kx::settings::PasswordMoveOffered, 0);
    m_prompts.answer = IPrompts::Yes;
    OfferToMovePasswordsIntoKeyring(nullptr);
    EXPECT_EQ(m_prompts.questions.size(), 2);
    const QByteArray after = Read();
    EXPECT_FALSE(after.contains("pw-of-a") || after.contains("pw-of-b")) << after.toStdString();
    EXPECT_EQ(PasswordOf("A"), QStringLiteral("pw-of-a"));
    EXPECT_EQ(PasswordOf("F\\B"), QStringLiteral("pw-of-b"));

    // Back to the file from the choice the Options sheet shows.
    CPasswordPlaceChoice choice;
    choice.setCurrentIndex(kx::settings::kPasswordStoreFile);
    choice.Apply(nullptr);
    EXPECT_TRUE(Read().contains("pw-of-a"));
    EXPECT_EQ(PasswordOf("F\\B"), QStringLiteral("pw-of-b"));
}

TEST_F(SitesKeyringTest, TheSiteManagerPutsATypedPasswordInTheKeyringAndRemovesItWithTheSite)
{
    WriteClearTextSites();
    kx::WriteProfileInt(kx::settings::PasswordMoveOffered, 1);
    QString id;
    {
        CSiteManagerDlg dialog;
        dialog.Tree()->setCurrentItem(dialog.Tree()->findItems(QStringLiteral("A"), Qt::MatchExactly | Qt::MatchRecursive).value(0));
        ASSERT_EQ(dialog.NameField()->text(), QStringLiteral("A"));
        dialog.PasswordField()->selectAll();
        QTest::keyClicks(dialog.PasswordField(), QStringLiteral("typed"));
        dialog.reject(); // every close writes the catalogue
    }
    EXPECT_FALSE(Read().contains("typed"));
    EXPECT_FALSE(Read().contains("pw-of-a"));
    EXPECT_EQ(PasswordOf("A"), QStringLiteral("typed"));
    CFtpSite site;
    ASSERT_TRUE(CSiteCatalog().LoadSite(QStringLiteral("A"), site));
    ASSERT_FALSE(site.id.isEmpty());

    {
        CSiteManagerDlg dialog;
        dialog.Tree()->setCurrentItem(dialog.Tree()->findItems(QStringLiteral("A"), Qt::MatchExactly | Qt::MatchRecursive).value(0));
        EXPECT_TRUE(dialog.PasswordField()->text().isEmpty());
        EXPECT_EQ(dialog.PasswordField()->placeholderText(), QStringLiteral("kept in the keyring"));
        QTest::keyClick(dialog.Tree(), Qt::Key_Delete); // answered Yes
        dialog.reject();
    }
    EXPECT_EQ(CKeyring::Read(CKeyring::KeyOfSite(site.id)).status, CKeyring::Status::NotFound);
}

} // namespace
