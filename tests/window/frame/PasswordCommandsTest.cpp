// A password nobody stored, asked when a connect needs it: against a real
// server, with no keyring (the tests have no session bus).
#include "FrameFixture.h"

#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "window/resources/CommandIds.h"
#include "window/sites/PasswordDlg.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>

namespace {

class PasswordCommandsTest : public FrameFixture {
protected:
    void AddSite(PasswordPlace place, const QString& password = QString())
    {
        CFtpSite site = CSiteCatalog::DefaultSite();
        site.name = QStringLiteral("Local");
        site.address = QStringLiteral("127.0.0.1");
        site.port = m_server->port();
        site.login = QStringLiteral("anna");
        site.password = password;
        site.retries = 1;
        site.passwordPlace = place;
        ASSERT_TRUE(CSiteCatalog().SaveSite(site));
    }
    bool ConnectToSite()
    {
        const QString path = QStringLiteral("Local");
        return m_frame->Connect(&path, QString(), QString());
    }
    // Answers the password question like a user would, counting the questions.
    void Answer(const QString& password, bool remember)
    {
        m_frame->ConnectCommands().SetPasswordAsker(
            [this, password, remember](const PasswordRequest& request, QString& typed, bool& keep) {
                ++m_asked;
                m_askedFor = request.site.login;
                if (password.isEmpty())
                    return false;
                typed = password;
                keep = remember;
                return true;
            });
    }
    static QString CatalogueText()
    {
        QFile file(CSiteCatalog::DefaultPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    int m_asked = 0;
    QString m_askedFor;
};

TEST_F(PasswordCommandsTest, ASiteKeptNowhereIsAskedOnceARunAndNothingIsWritten)
{
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    kx::WriteProfileInt(kx::settings::PasswordStore, kx::settings::kPasswordStoreNowhere);
    AddSite(PasswordPlace::Ask);
    m_frame->show();

    Answer(QString(), false);
    EXPECT_FALSE(ConnectToSite());
    EXPECT_EQ(m_asked, 1);
    EXPECT_EQ(m_askedFor, QStringLiteral("anna"));
    EXPECT_TRUE(Trace().last().startsWith(QStringLiteral("No password was given"))) << Trace().last().toStdString();
    EXPECT_TRUE(Conversation().filter(QStringLiteral("PASS")).isEmpty()); // never an empty one

    Answer(QStringLiteral("secret"), true);
    ASSERT_TRUE(ConnectToSite());
    EXPECT_EQ(m_asked, 2);
    EXPECT_TRUE(Conversation().contains(QStringLiteral("Command: PASS ****")));
    m_frame->Command(cmd::ID_DISCONNECT)->trigger();
    ASSERT_TRUE(ConnectToSite());
    EXPECT_EQ(m_asked, 2);
    EXPECT_FALSE(CatalogueText().contains(QStringLiteral("secret")));
}

TEST_F(PasswordCommandsTest, ARememberedPasswordIsStoredByTheSetting)
{
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    kx::WriteProfileInt(kx::settings::PasswordStore, kx::settings::kPasswordStoreFile);
    AddSite(PasswordPlace::CatalogueFile);
    m_frame->show();
    Answer(QStringLiteral("secret"), true);
    ASSERT_TRUE(ConnectToSite());
    EXPECT_EQ(m_asked, 1);
    CFtpSite stored;
    ASSERT_TRUE(CSiteCatalog().LoadSite(QStringLiteral("Local"), stored));
    EXPECT_EQ(stored.password, QStringLiteral("secret"));

    // The dialog itself: the password is hidden, "Remember" says where it goes.
    CPasswordDlg dialog(stored, QStringLiteral("The keyring gave no password."), true);
    auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("password"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.findChild<QCheckBox*>(QStringLiteral("remember"))->toolTip().contains(QStringLiteral("site catalogue")));
}

} // namespace
