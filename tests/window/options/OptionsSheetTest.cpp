// The options: what each page writes, when, and what it refuses.
#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/options/EditingOptions.h"
#include "window/options/OptionsSheet.h"
#include "support/Mnemonics.h"
#include "support/Printers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace kx;

class NotedPrompts : public IPrompts {
public:
    void Message(QWidget*, const QString& text, Icon) override { messages << text; }
    Answer AskYesNo(QWidget*, const QString&, const QString&) override { return Yes; }
    bool RetryCountdown(QWidget*, int, const QString&) override { return false; }
    QStringList messages;
};

class OptionsSheetTest : public ::testing::Test {
protected:
    OptionsSheetTest()
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication).clear();
        SetPrompts(&m_prompts);
    }
    ~OptionsSheetTest() override { SetPrompts(nullptr); }
    static bool Stored(const char* key)
    {
        return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication)
            .contains(QStringLiteral("Settings/") + QString::fromLatin1(key));
    }
    NotedPrompts m_prompts;
};

TEST_F(OptionsSheetTest, OkAtOnceWritesOnlyTheGeneralPage)
{
    qputenv("EMAIL", "anna@example.org");
    COptionsSheet sheet;
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Options")); // the desktop adds " — Kestrix"
    EXPECT_EQ(sheet.General()->m_email->text(), QStringLiteral("anna@example.org"));
    EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
    sheet.General()->m_errorsOnly->click(); // "ShowMessageBox" is stored the other way round
    EXPECT_TRUE(sheet.ApplyButton()->isEnabled());
    sheet.accept();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(GetProfileString(settings::EmailAddress), QStringLiteral("anna@example.org"));
    EXPECT_EQ(GetProfileInt(settings::ShowMessageBox), 0);
    for (const char* key : {"ShowConnectionDlg", "SavePosition", "DeleteConfirmation", "HideProgressDlg"})
        EXPECT_TRUE(Stored(key)) << key;
    for (const char* key : {"TransferMax", "ConnectionTimeout", "ProxyType", "KeepAlive", "Interval", "RemoveFailed"})
        EXPECT_FALSE(Stored(key)) << key;
    qunsetenv("EMAIL");
}

TEST_F(OptionsSheetTest, EnableRulesAndWhatTheShownPagesWrite)
{
    COptionsSheet sheet;
    sheet.show();
    sheet.Pages()->setCurrentWidget(sheet.Connection());
    sheet.Pages()->setCurrentWidget(sheet.Advanced());
    CConnectionOptions* connection = sheet.Connection();
    EXPECT_TRUE(connection->m_passive->isChecked()); // a fresh installation is passive
    EXPECT_EQ(connection->m_encryption->currentIndex(), kExplicitTlsIfAvailable); // and tries TLS
    connection->m_encryption->setCurrentIndex(kExplicitTlsRequired);
    EXPECT_FALSE(connection->m_proxyName->isEnabled());
    connection->m_proxy[2]->click();
    EXPECT_TRUE(connection->m_proxyName->isEnabled());
    EXPECT_TRUE(connection->m_proxyNameLabel->isEnabled());
    connection->m_proxyName->setText(QStringLiteral("proxy.example.com:3128"));
    connection->m_proxy[1]->click();
    EXPECT_FALSE(connection->m_proxyName->isEnabled()); // greyed, still kept and written

    CAdvancedOptions* advanced = sheet.Advanced();
    advanced->m_keepAlive->click();
    EXPECT_FALSE(advanced->m_interval->isEnabled());
    EXPECT_FALSE(advanced->m_intervalLabel->isEnabled());
    advanced->m_interval->setText(QStringLiteral("45"));
    sheet.accept();
    EXPECT_EQ(GetProfileInt(settings::ProxyType), settings::kProxyDirect);
    EXPECT_EQ(GetProfileString(settings::ProxyName), QStringLiteral("proxy.example.com:3128"));
    EXPECT_EQ(GetProfileInt(settings::KeepAlive), 0);
    EXPECT_EQ(GetProfileInt(settings::Interval), 45);
    EXPECT_EQ(GetProfileInt(settings::TransferMax), 10);
    EXPECT_EQ(GetProfileInt(settings::DefaultEncryption), kExplicitTlsRequired);
}

TEST_F(OptionsSheetTest, AnEntryOutOfRangeOrABadProxyKeepsTheSheetOpen)
{
    COptionsSheet sheet;
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    sheet.Pages()->setCurrentWidget(sheet.Connection());
    sheet.Pages()->setCurrentWidget(sheet.General());
    CConnectionOptions* connection = sheet.Connection();
    connection->m_timeout->setText(QStringLiteral("0"));
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(m_prompts.messages, QStringList{QStringLiteral("Connection timeout must be a whole number from 1 to 3600.")});
    EXPECT_EQ(sheet.Pages()->currentWidget(), connection);
    EXPECT_TRUE(connection->m_timeout->hasFocus());
    EXPECT_FALSE(Stored("ConnectionTimeout"));

    // No connection at all is no limit anybody means.
    connection->m_timeout->setText(QStringLiteral("60"));
    connection->m_transferMax->setText(QStringLiteral("0"));
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    ASSERT_EQ(m_prompts.messages.size(), 2);
    EXPECT_EQ(m_prompts.messages[1], QStringLiteral("Maximum simultaneous connections must be a whole number from 1 to 100."));
    EXPECT_TRUE(connection->m_transferMax->hasFocus());
    m_prompts.messages.removeLast();
    connection->m_transferMax->setText(QStringLiteral("100"));

    connection->m_proxy[2]->click();
    connection->m_proxyName->setText(QStringLiteral("not a host!"));
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    ASSERT_EQ(m_prompts.messages.size(), 2);
    EXPECT_TRUE(m_prompts.messages[1].startsWith(QStringLiteral("\"not a host!\" is not a proxy address.")));
    connection->m_proxyName->setText(QStringLiteral("[::1]:8080"));
    sheet.accept();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(GetProfileInt(settings::ConnectionTimeout), 60);
    EXPECT_EQ(GetProfileInt(settings::TransferMax), 100);
}

TEST_F(OptionsSheetTest, EveryLabelLetterIsAKeyNoneShowsAnAmpersand)
{
    COptionsSheet sheet;
    for (QWidget* page : {static_cast<QWidget*>(sheet.General()), static_cast<QWidget*>(sheet.Connection()),
                          static_cast<QWidget*>(sheet.Advanced())})
        EXPECT_EQ(kxtest::LabelsShowingAmpersands(*page), QStringList()) << page->objectName().toStdString();
    QStringList seconds;
    for (const QLabel* label : sheet.findChildren<QLabel*>())
        if (label->text().contains(QStringLiteral("second")))
            seconds << label->text();
    seconds.sort();
    EXPECT_EQ(seconds, (QStringList{QStringLiteral("&Interval (seconds):"), QStringLiteral("Connection &Timeout (seconds):")}));
}

} // namespace

namespace {

TEST_F(OptionsSheetTest, TheEditingPageWritesWhatOpeningDoesAndAProgramPerExtension)
{
    WriteProfileString(QStringLiteral("Editors"), QStringLiteral("txt"), QStringLiteral("/usr/bin/old"));
    COptionsSheet sheet;
    sheet.show();
    sheet.Pages()->setCurrentWidget(sheet.Editing());
    CEditingOptions* editing = sheet.Editing();
    EXPECT_FALSE(editing->m_openEdits->isChecked());
    EXPECT_EQ(editing->m_programs->toPlainText(), QStringLiteral("txt=/usr/bin/old"));
    editing->m_openEdits->click();
    editing->m_uploadUnasked->click();
    EXPECT_TRUE(sheet.ApplyButton()->isEnabled());

    // A line that names no program: said, and nothing written.
    editing->m_programs->setPlainText(QStringLiteral("html=/usr/bin/gedit -s\nnonsense"));
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(m_prompts.messages,
              QStringList{QStringLiteral("\"nonsense\" is not of the form extension=program (html=/usr/bin/gedit).")});
    EXPECT_EQ(GetProfileInt(settings::DoubleClickOpensFiles), 0);

    // Written whole: the extension in lower case without its dot, the old line gone.
    editing->m_programs->setPlainText(QStringLiteral("html=/usr/bin/gedit -s\n\n .PHP = /usr/bin/kate \n"));
    sheet.accept();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(GetProfileInt(settings::DoubleClickOpensFiles), 1);
    EXPECT_EQ(GetProfileInt(settings::EditUploadWithoutAsking), 1);
    EXPECT_EQ(GetProfileString(QStringLiteral("Editors"), QStringLiteral("html")), QStringLiteral("/usr/bin/gedit -s"));
    EXPECT_EQ(GetProfileString(QStringLiteral("Editors"), QStringLiteral("php")), QStringLiteral("/usr/bin/kate"));
    EXPECT_EQ(GetProfileString(QStringLiteral("Editors"), QStringLiteral("txt")), QString());
}

} // namespace
