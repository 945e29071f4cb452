// The Connection Wizard: what its pages refuse and fill in, and what Finish
// and Cancel leave in the catalogue.
#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/sites/CatalogFolderTree.h"
#include "CatalogFileFixture.h"
#include "window/sites/ConnectionWizard.h"
#include "window/sites/SiteProtocolFields.h"
#include "support/Printers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace kx;

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

constexpr char kCatalogue[] = R"(<SITES name="Favorites">
  <FOLDER name="A"><FOLDER name="B"><SITE name="Nova"><ADDRESS>old.test</ADDRESS><PORT>2121</PORT></SITE></FOLDER></FOLDER>
</SITES>
)";

class ConnectionWizardTest : public CatalogFileFixture {
protected:
    // Goes through the pages up to the favorites page, as a user would.
    static void FillIn(CWizardSheet& sheet)
    {
        sheet.SiteNameEdit()->setText(Q("Nova"));
        sheet.next();
        sheet.HostEdit()->setText(Q("ftp.nova.test"));
        sheet.next();
        sheet.UserEdit()->setText(Q("nina"));
        sheet.PasswordEdit()->setText(Q("s3cret"));
        sheet.next();
        sheet.DownloadFolderEdit()->setText(Q("/home/nina/in"));
        sheet.next();
    }
    static void Finish(CWizardSheet& sheet)
    {
        sheet.next();
        ASSERT_EQ(sheet.currentId(), CWizardSheet::kFinishPage);
        sheet.button(QWizard::FinishButton)->click();
    }
    // Runs the wizard, `drive` working it once it is up.
    bool Run(std::function<void(CWizardSheet&)> drive)
    {
        // Polled: building the sheet asks the keyring whether it answers,
        // which runs the event loop before the sheet is up.
        QTimer poll;
        poll.setInterval(20);
        poll.callOnTimeout([&poll, drive] {
            if (auto* sheet = qobject_cast<CWizardSheet*>(QApplication::activeModalWidget())) {
                poll.stop();
                drive(*sheet);
            }
        });
        poll.start();
        // A failed assertion above would leave the wizard open for ever.
        QTimer guard;
        guard.callOnTimeout([] {
            if (QWidget* open = QApplication::activeModalWidget())
                open->close();
        });
        guard.start(10000);
        m_path = Q("stale");
        return RunConnectionWizard(nullptr, m_path, m_connectNow);
    }

    QString m_path;
    bool m_connectNow = false;
};

TEST_F(ConnectionWizardTest, NameAndHostAreRequired)
{
    CWizardSheet sheet;
    EXPECT_EQ(sheet.windowTitle(), Q("Connection Wizard"));
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    sheet.next();
    EXPECT_EQ(m_prompts.messages, QStringList{Q("You must enter a profile name.")});
    EXPECT_EQ(sheet.currentId(), CWizardSheet::kNamePage);
    EXPECT_TRUE(sheet.SiteNameEdit()->hasFocus());

    QTest::keyClicks(sheet.SiteNameEdit(), Q("My:Site?"));
    EXPECT_EQ(sheet.SiteNameEdit()->text(), Q("MySite"));
    sheet.next();
    sheet.HostEdit()->setText(Q("   "));
    sheet.next();
    EXPECT_EQ(m_prompts.messages.value(1), Q("You must enter a host address."));
    EXPECT_EQ(sheet.currentPage()->title(), Q("Host Address"));
    EXPECT_TRUE(sheet.HostEdit()->hasFocus());
}

TEST_F(ConnectionWizardTest, ATypedPortGoesIntoThePortField)
{
    CWizardSheet sheet;
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
    sheet.SiteNameEdit()->setText(Q("Nova"));
    sheet.next();
    EXPECT_EQ(sheet.PortEdit()->text(), Q("21"));
    // Implicit TLS brings its port while the port is the standard one.
    sheet.EncryptionBox()->setCurrentIndex(kImplicitTls);
    emit sheet.EncryptionBox()->activated(kImplicitTls);
    EXPECT_EQ(sheet.PortEdit()->text(), Q("990"));
    sheet.EncryptionBox()->setCurrentIndex(kPlainFtp);
    emit sheet.EncryptionBox()->activated(kPlainFtp);
    EXPECT_EQ(sheet.PortEdit()->text(), Q("21"));

    sheet.HostEdit()->setText(Q("ftp.nova.test:99999"));
    sheet.next();
    EXPECT_EQ(sheet.currentId(), CWizardSheet::kHostPage);
    EXPECT_EQ(m_prompts.messages, QStringList{Q("Enter a port number from 1 to 65535.")});
    sheet.HostEdit()->setText(Q(" ftp.nova.test:2124"));
    sheet.next();
    EXPECT_EQ(sheet.currentId(), CWizardSheet::kLoginPage);
    EXPECT_EQ(sheet.HostEdit()->text(), Q("ftp.nova.test"));
    EXPECT_EQ(sheet.PortEdit()->text(), Q("2124"));
    EXPECT_EQ(sheet.Site().address, Q("ftp.nova.test"));
    EXPECT_EQ(sheet.Site().port, 2124);

    // An IPv6 address keeps its colons; in brackets it may carry a port.
    sheet.back();
    sheet.HostEdit()->setText(Q("2001:db8::1"));
    sheet.next();
    EXPECT_EQ(sheet.Site().address, Q("2001:db8::1"));
    EXPECT_EQ(sheet.Site().port, 2124);
    sheet.back();
    sheet.HostEdit()->setText(Q("[2001:db8::1]:21"));
    sheet.next();
    EXPECT_EQ(sheet.Site().address, Q("[2001:db8::1]"));
    EXPECT_EQ(sheet.Site().port, 21);
}

TEST_F(ConnectionWizardTest, SftpTakesPort22AndAKeyFileInsteadOfTheEncryption)
{
    ASSERT_TRUE(Run([](CWizardSheet& sheet) {
        const auto choose = [&](SiteProtocol protocol) {
            sheet.ProtocolBox()->setCurrentIndex(static_cast<int>(protocol));
            emit sheet.ProtocolBox()->activated(static_cast<int>(protocol));
        };
        sheet.SiteNameEdit()->setText(Q("Shell"));
        sheet.next();
        EXPECT_EQ(sheet.ProtocolBox()->Protocol(), SiteProtocol::Ftp);
        EXPECT_EQ(sheet.PortEdit()->text(), Q("21"));
        EXPECT_FALSE(sheet.KeyFileField()->isEnabled());
        choose(SiteProtocol::Sftp);
        EXPECT_EQ(sheet.PortEdit()->text(), Q("22"));
        EXPECT_FALSE(sheet.EncryptionBox()->isEnabled());
        EXPECT_EQ(sheet.EncryptionBox()->toolTip(), Q("Only for FTP sites"));
        EXPECT_TRUE(sheet.KeyFileField()->isEnabled());
        // FTP again is FTP as before: its port, its encryption, no key.
        choose(SiteProtocol::Ftp);
        EXPECT_EQ(sheet.PortEdit()->text(), Q("21"));
        EXPECT_TRUE(sheet.EncryptionBox()->isEnabled());
        EXPECT_FALSE(sheet.KeyFileField()->isEnabled());
        choose(SiteProtocol::Sftp);
        sheet.HostEdit()->setText(Q("shell.nova.test"));
        sheet.next();

        ASSERT_EQ(sheet.currentId(), CWizardSheet::kLoginPage);
        sheet.UserEdit()->setText(Q("deploy"));
        sheet.KeyFileField()->Edit()->setFocus();
        QTest::keyClicks(sheet.KeyFileField()->Edit(), Q("/home/nina/.ssh/deploy_ed25519"));
        sheet.next();
        sheet.next();
        sheet.next();
        ASSERT_EQ(sheet.currentId(), CWizardSheet::kFinishPage);
        QStringList summary;
        for (const QLabel* label : sheet.currentPage()->findChildren<QLabel*>())
            summary << label->text();
        EXPECT_TRUE(summary.contains(Q("shell.nova.test, port 22, SFTP"))) << summary.join(Q("|")).toStdString();
        sheet.button(QWizard::FinishButton)->click();
    }));
    CFtpSite site;
    ASSERT_TRUE(CSiteCatalog(Path()).LoadSite(Q("Shell"), site));
    EXPECT_EQ(site.protocol, SiteProtocol::Sftp);
    EXPECT_EQ(site.port, 22);
    EXPECT_EQ(site.login, Q("deploy"));
    EXPECT_EQ(site.keyFile, Q("/home/nina/.ssh/deploy_ed25519"));
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(ConnectionWizardTest, AKeyFileTypedBeforeChoosingFtpIsNotStored)
{
    CWizardSheet sheet;
    sheet.ProtocolBox()->setCurrentIndex(1);
    emit sheet.ProtocolBox()->activated(1);
    sheet.KeyFileField()->SetPath(Q("/k"));
    EXPECT_EQ(sheet.Site().keyFile, Q("/k"));
    sheet.ProtocolBox()->setCurrentIndex(0);
    emit sheet.ProtocolBox()->activated(0);
    EXPECT_EQ(sheet.Site().protocol, SiteProtocol::Ftp);
    EXPECT_EQ(sheet.Site().keyFile, QString());
    // A port the user typed stays through protocol changes.
    sheet.PortEdit()->setText(Q("2200"));
    sheet.ProtocolBox()->setCurrentIndex(1);
    emit sheet.ProtocolBox()->activated(1);
    EXPECT_EQ(sheet.Site().port, 2200);
}

TEST_F(ConnectionWizardTest, AnonymousFillsTheLoginAndBrowseFillsTheFolder)
{
    WriteProfileString(settings::EmailAddress, Q("nina@example.org"));
    WriteProfileString(settings::DefaultLocalPath, Q("/srv/downloads"));
    CWizardSheet sheet;
    EXPECT_EQ(sheet.PasswordEdit()->echoMode(), QLineEdit::Password);
    sheet.AnonymousBox()->click();
    EXPECT_EQ(sheet.UserEdit()->text(), Q("anonymous"));
    EXPECT_EQ(sheet.PasswordEdit()->text(), Q("nina@example.org"));
    EXPECT_EQ(sheet.PasswordEdit()->echoMode(), QLineEdit::Normal);
    sheet.AnonymousBox()->click();
    EXPECT_EQ(sheet.PasswordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(sheet.UserEdit()->text() + sheet.PasswordEdit()->text(), Q("anonymousnina@example.org"));

    QStringList asked;
    QString answer = Q("/data/in");
    sheet.SetFolderChooser([&](QWidget*, const QString& caption, const QString& start) {
        asked << caption << start;
        return answer;
    });
    sheet.BrowseButton()->click();
    answer.clear(); // cancelled: the folder stays
    sheet.BrowseButton()->click();
    EXPECT_EQ(asked, (QStringList{Q("Select a directory:"), Q("/srv/downloads"), Q("Select a directory:"), Q("/data/in")}));
    EXPECT_EQ(sheet.DownloadFolderEdit()->text(), Q("/data/in"));
}

TEST_F(ConnectionWizardTest, FinishAtTheTopCreatesTheCatalogueAndGivesTheBareName)
{
    WriteProfileInt(settings::DefaultRetries, 7);
    ASSERT_TRUE(Run([](CWizardSheet& sheet) {
        FillIn(sheet);
        sheet.next();
        EXPECT_FALSE(sheet.ConnectNowBox()->isChecked());
        sheet.ConnectNowBox()->click();
        sheet.button(QWizard::FinishButton)->click();
    }));
    EXPECT_EQ(m_path, Q("Nova"));
    EXPECT_TRUE(m_connectNow);
    CFtpSite expected = CSiteCatalog::DefaultSite();
    expected.name = Q("Nova");
    expected.address = Q("ftp.nova.test");
    expected.login = Q("nina");
    expected.password = Q("s3cret");
    expected.localPath = Q("/home/nina/in");
    CFtpSite site;
    ASSERT_TRUE(CSiteCatalog(Path()).LoadSite(m_path, site));
    EXPECT_TRUE(site == expected);
    EXPECT_EQ(site.retries, 7);
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(ConnectionWizardTest, FinishInAFolderUpdatesTheSiteOfThatName)
{
    Write(kCatalogue);
    ASSERT_TRUE(Run([](CWizardSheet& sheet) {
        FillIn(sheet);
        EXPECT_TRUE(sheet.FolderTree()->SelectFolderPath(Q("A\\B")));
        Finish(sheet);
    }));
    EXPECT_EQ(m_path, Q("A\\B\\Nova"));
    EXPECT_FALSE(m_connectNow);
    CSiteCatalog catalog(Path());
    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    EXPECT_EQ(catalog.FindFolderByPath(nullptr, Q("A\\B"))->ChildCount(), 1u);
    CFtpSite site;
    ASSERT_TRUE(catalog.LoadSite(m_path, site));
    EXPECT_EQ(site.address + QString::number(site.port), Q("ftp.nova.test21"));
}

TEST_F(ConnectionWizardTest, AFolderMadeOnTheFavoritesPageIsKept)
{
    Write(kCatalogue);
    ASSERT_TRUE(Run([](CWizardSheet& sheet) {
        FillIn(sheet);
        CCatalogFolderTree& tree = *sheet.FolderTree();
        tree.SelectFolderPath(Q("A"));
        tree.NewFolder();
        auto* editor = qobject_cast<QLineEdit*>(tree.LabelEditor());
        ASSERT_NE(editor, nullptr);
        editor->setText(Q("Clients"));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        EXPECT_EQ(sheet.currentId(), CWizardSheet::kFavoritesPage); // Return ended only the edit
        Finish(sheet);
    }));
    EXPECT_EQ(m_path, Q("A\\Clients\\Nova"));
    CFtpSite site;
    EXPECT_TRUE(CSiteCatalog(Path()).LoadSite(m_path, site));
    EXPECT_TRUE(CSiteCatalog(Path()).LoadSite(Q("A\\B\\Nova"), site));
}

TEST_F(ConnectionWizardTest, CancelStoresNothing)
{
    EXPECT_FALSE(Run([](CWizardSheet& sheet) {
        FillIn(sheet);
        sheet.FolderTree()->NewFolder();
        sheet.reject();
    }));
    EXPECT_TRUE(m_path.isEmpty());
    EXPECT_FALSE(QFile::exists(Path()));
}

TEST_F(ConnectionWizardTest, AnUnreadableCatalogueIsToldAndLeftAlone)
{
    const QByteArray foreign = "<HTML><BODY>not a catalogue</BODY></HTML>\n";
    Write(foreign);
    EXPECT_FALSE(Run([](CWizardSheet& sheet) {
        FillIn(sheet);
        EXPECT_EQ(sheet.FolderTree()->RootItem()->text(0), Q("Favorites"));
        auto* hint = sheet.findChild<QLabel*>(Q("favoritesHint"));
        ASSERT_NE(hint, nullptr);
        EXPECT_EQ(hint->text(), sheet.Catalog().ProblemText());
        Finish(sheet);
    }));
    EXPECT_TRUE(m_path.isEmpty());
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].contains(Q("exists but could not be read")));
    EXPECT_EQ(Read(), foreign);
}

} // namespace
