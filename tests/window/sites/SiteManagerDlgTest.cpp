// The Site Manager and the Favorites menu, driven through their widgets
// against a catalogue file of their own.
#include "CatalogFileFixture.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/sites/FavoritesMenu.h"
#include "engine/catalog/SiteCatalog.h"
#include "window/sites/ElidedLabel.h"
#include "window/sites/SiteManagerDlg.h"
#include "window/sites/SiteProtocolFields.h"
#include "support/Printers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace kx;

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

constexpr char kCatalogue[] = R"(<?xml version="1.0"?>
<SITES name="Favorites">
  <FOLDER name="Work">
    <SITE name="Acme"><ADDRESS>ftp.acme.test</ADDRESS><PORT>2121</PORT><PASVMODE>1</PASVMODE><LOGIN>anna</LOGIN><PASSWORD>secret</PASSWORD><REMOTEPATH>/pub</REMOTEPATH><LOCALPATH>/home/anna</LOCALPATH><RETRIES>5</RETRIES><RETRYDELAY>20</RETRYDELAY><DESCRIPTION>line one</DESCRIPTION></SITE>
    <FOLDER name="Old"><SITE name="Legacy"><ADDRESS>old.test</ADDRESS></SITE></FOLDER>
  </FOLDER>
  <SITE name="Home"><ADDRESS>127.0.0.1</ADDRESS><PORT>21</PORT></SITE>
</SITES>
)";

class SiteManagerTest : public CatalogFileFixture {
protected:
    SiteManagerTest() { Write(kCatalogue); }
    CFtpSite Load(const QString& sitePath, bool* found = nullptr)
    {
        CFtpSite site;
        const bool ok = CSiteCatalog(Path()).LoadSite(sitePath, site);
        if (found)
            *found = ok;
        return site;
    }
    static void Select(CSiteManagerDlg& dialog, const char* path)
    {
        QTreeWidgetItem* item = dialog.FindItemByPath(Q(path));
        ASSERT_NE(item, nullptr) << path;
        dialog.Tree()->setCurrentItem(item);
    }
    static void Show(QDialog& dialog)
    {
        dialog.show();
        // Focus moves, and with them the end of an edit, need an active window.
        QApplication::setActiveWindow(&dialog);
    }
    static void Type(QLineEdit* field, const QString& text)
    {
        field->setFocus();
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Delete);
        else
            QTest::keyClicks(field, text);
    }

};

TEST_F(SiteManagerTest, EditsGoIntoTheCatalogueAndCancelKeepsThem)
{
    {
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        EXPECT_EQ(dialog.windowTitle(), Q("Site Manager")); // the desktop adds " — Kestrix"
        EXPECT_EQ(dialog.Tree()->topLevelItem(0)->text(0), Q("Favorites"));
        EXPECT_FALSE(dialog.ConnectButton()->isEnabled()); // nothing selected yet

        // A folder: only its name can be edited, and the name goes everywhere at once.
        Select(dialog, "Work");
        EXPECT_FALSE(dialog.HostField()->isEnabled());
        EXPECT_FALSE(dialog.CommentField()->isEnabled());
        EXPECT_TRUE(dialog.NameField()->isEnabled());
        EXPECT_EQ(dialog.PortField()->text(), Q("21"));
        Type(dialog.NameField(), Q("Jo\"b*s/:<>?\\|"));
        EXPECT_EQ(dialog.Tree()->currentItem()->text(0), Q("Jobs"));
        EXPECT_EQ(dialog.CaptionLabel()->text(), Q("Jobs"));

        // A site: its values, then edits of each kind.
        Select(dialog, "Jobs\\Acme");
        EXPECT_EQ(dialog.HostField()->text(), Q("ftp.acme.test"));
        EXPECT_EQ(dialog.PortField()->text(), Q("2121"));
        EXPECT_TRUE(dialog.PassiveBox()->isChecked());
        EXPECT_EQ(dialog.PasswordField()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(dialog.CommentField()->toPlainText(), Q("line one"));
        Type(dialog.HostField(), Q("ftp.acme.example"));
        Type(dialog.RetriesField(), Q("7"));
        dialog.PassiveBox()->click();

        // A number out of range is refused and the stored value stays.
        Type(dialog.PortField(), Q("99999"));
        dialog.HostField()->setFocus();
        ASSERT_EQ(m_prompts.messages.size(), 1);
        EXPECT_TRUE(m_prompts.messages[0].contains(Q("1 to 65535"))) << m_prompts.messages[0].toStdString();
        EXPECT_EQ(dialog.PortField()->text(), Q("2121"));

        // Anonymous shows the e-mail address in plain text; unchecking brings the login back.
        WriteProfileString(settings::EmailAddress, Q("anna@example.org"));
        dialog.AnonymousBox()->click();
        EXPECT_EQ(dialog.LoginField()->text(), Q("anonymous"));
        EXPECT_EQ(dialog.PasswordField()->text(), Q("anna@example.org"));
        EXPECT_EQ(dialog.PasswordField()->echoMode(), QLineEdit::Normal);
        dialog.AnonymousBox()->click();
        EXPECT_EQ(dialog.LoginField()->text(), Q("anna"));
        EXPECT_EQ(dialog.PasswordField()->text(), Q("secret"));
        EXPECT_EQ(dialog.PasswordField()->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(dialog.ConnectButton()->isEnabled());

        // Implicit TLS brings its own port along when the port was the standard one.
        Select(dialog, "Home");
        EXPECT_EQ(dialog.EncryptionBox()->currentIndex(), kExplicitTlsIfAvailable); // the default
        dialog.EncryptionBox()->setCurrentIndex(kImplicitTls);
        emit dialog.EncryptionBox()->activated(kImplicitTls);
        EXPECT_EQ(dialog.PortField()->text(), Q("990"));

        dialog.reject(); // the close box and Escape end here too
    }
    EXPECT_EQ(m_prompts.messages.size(), 1);
    bool found = false;
    const CFtpSite acme = Load(Q("Jobs\\Acme"), &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(acme.address, Q("ftp.acme.example"));
    EXPECT_EQ(acme.port, 2121);
    EXPECT_EQ(acme.retries, 7);
    EXPECT_FALSE(acme.passive);
    EXPECT_EQ(acme.login, Q("anna"));
    const CFtpSite home = Load(Q("Home"));
    EXPECT_EQ(home.encryption, kImplicitTls);
    EXPECT_EQ(home.port, 990);
    EXPECT_EQ(GetProfileString(settings::LastSelected), Q("Home"));

    // Opened again, the site last selected is selected; Connect hands it over.
    WriteProfileString(settings::LastSelected, Q("Jobs\\Acme"));
    CSiteManagerDlg again(nullptr, Path());
    ASSERT_NE(again.Tree()->currentItem(), nullptr);
    EXPECT_EQ(again.Tree()->currentItem()->text(0), Q("Acme"));
    again.ConnectButton()->click();
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_EQ(again.Site().address, Q("ftp.acme.example"));
    EXPECT_EQ(again.Site().name, Q("Acme"));
    EXPECT_EQ(again.SitePath(), Q("Jobs\\Acme"));
}

// ---- SFTP sites ----------------------------------------------------------------

TEST_F(SiteManagerTest, SftpBringsPort22GreysOutFtpControlsAndStoresTheKeyFile)
{
    {
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        const auto choose = [&](SiteProtocol protocol) {
            dialog.ProtocolBox()->setCurrentIndex(static_cast<int>(protocol));
            emit dialog.ProtocolBox()->activated(static_cast<int>(protocol));
        };
        Select(dialog, "Home");
        EXPECT_EQ(dialog.ProtocolBox()->itemText(0), Q("FTP - File Transfer Protocol"));
        EXPECT_EQ(dialog.ProtocolBox()->itemText(1), Q("SFTP - SSH File Transfer Protocol"));
        EXPECT_EQ(dialog.ProtocolBox()->Protocol(), SiteProtocol::Ftp);
        EXPECT_TRUE(dialog.EncryptionBox()->isEnabled());
        EXPECT_TRUE(dialog.PassiveBox()->isEnabled());
        EXPECT_FALSE(dialog.KeyFileField()->isEnabled());

        choose(SiteProtocol::Sftp);
        EXPECT_EQ(dialog.PortField()->text(), Q("22"));
        for (QWidget* ftpOnly : {static_cast<QWidget*>(dialog.EncryptionBox()), static_cast<QWidget*>(dialog.PassiveBox())}) {
            EXPECT_FALSE(ftpOnly->isEnabled());
            EXPECT_EQ(ftpOnly->toolTip(), Q("Only for FTP sites"));
        }
        EXPECT_TRUE(dialog.KeyFileField()->isEnabled());
        EXPECT_EQ(dialog.KeyFileField()->Edit()->toolTip(), Q("A private key tried before the SSH agent and ~/.ssh's keys"));
        EXPECT_EQ(dialog.KeyFileField()->BrowseButton()->text(), Q("Browse..."));
        Type(dialog.KeyFileField()->Edit(), Q("/home/anna/.ssh/id_ed25519"));

        // A port of the user's own stays whatever the protocol.
        Select(dialog, "Work\\Acme");
        EXPECT_EQ(dialog.ProtocolBox()->Protocol(), SiteProtocol::Ftp);
        EXPECT_TRUE(dialog.EncryptionBox()->isEnabled());
        EXPECT_FALSE(dialog.KeyFileField()->isEnabled());
        EXPECT_EQ(dialog.KeyFileField()->Path(), QString());
        choose(SiteProtocol::Sftp);
        EXPECT_EQ(dialog.PortField()->text(), Q("2121"));
        choose(SiteProtocol::Ftp);
        EXPECT_EQ(dialog.PortField()->text(), Q("2121"));
        EXPECT_TRUE(dialog.PassiveBox()->isEnabled());

        // Implicit TLS's port goes to SFTP's and comes back with FTP.
        Select(dialog, "Work\\Old\\Legacy");
        dialog.EncryptionBox()->setCurrentIndex(kImplicitTls);
        emit dialog.EncryptionBox()->activated(kImplicitTls);
        Type(dialog.PortField(), Q("990"));
        dialog.HostField()->setFocus();
        choose(SiteProtocol::Sftp);
        EXPECT_EQ(dialog.PortField()->text(), Q("22"));
        choose(SiteProtocol::Ftp);
        EXPECT_EQ(dialog.PortField()->text(), Q("990"));

        // Back on the SFTP site, the form shows it as it was left.
        Select(dialog, "Home");
        EXPECT_EQ(dialog.ProtocolBox()->Protocol(), SiteProtocol::Sftp);
        EXPECT_EQ(dialog.KeyFileField()->Path(), Q("/home/anna/.ssh/id_ed25519"));
        EXPECT_FALSE(dialog.EncryptionBox()->isEnabled());
        dialog.CloseButton()->click();
    }
    EXPECT_TRUE(m_prompts.messages.isEmpty()) << m_prompts.messages.join(Q("; ")).toStdString();
    const CFtpSite home = Load(Q("Home"));
    EXPECT_EQ(home.protocol, SiteProtocol::Sftp);
    EXPECT_EQ(home.port, 22);
    EXPECT_EQ(home.keyFile, Q("/home/anna/.ssh/id_ed25519"));
    const CFtpSite acme = Load(Q("Work\\Acme"));
    EXPECT_EQ(acme.protocol, SiteProtocol::Ftp);
    EXPECT_EQ(acme.port, 2121);
    EXPECT_TRUE(acme.passive);
    EXPECT_EQ(Load(Q("Work\\Old\\Legacy")).port, 990);

    // Connect hands the SFTP site over whole.
    CSiteManagerDlg again(nullptr, Path());
    Select(again, "Home");
    again.ConnectButton()->click();
    EXPECT_EQ(again.Site().protocol, SiteProtocol::Sftp);
    EXPECT_EQ(again.Site().keyFile, Q("/home/anna/.ssh/id_ed25519"));
    EXPECT_EQ(again.Site().port, 22);
}

TEST_F(SiteManagerTest, FtpSitesOfAnOlderCatalogueAreLeftAsTheyWere)
{
    CSiteCatalog catalog(Path());
    CFtpSite site = CSiteCatalog::DefaultSite();
    site.name = Q("Plain");
    site.address = Q("ftp.plain.test");
    ASSERT_TRUE(catalog.SaveSite(site));
    const QByteArray before = Read();
    ASSERT_FALSE(before.contains("PROTOCOL"));
    {
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        Select(dialog, "Plain");
        // Choosing what the site already is changes nothing.
        dialog.ProtocolBox()->setCurrentIndex(0);
        emit dialog.ProtocolBox()->activated(0);
        EXPECT_EQ(dialog.PortField()->text(), Q("21"));
        EXPECT_FALSE(dialog.HasChanges());
        dialog.reject();
    }
    EXPECT_TRUE(m_prompts.messages.isEmpty());
    EXPECT_EQ(Read(), before);
}

TEST_F(SiteManagerTest, NewDeleteAndTheDeleteKey)
{
    WriteProfileInt(settings::DefaultRetries, 4);
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);

    // New Site beside a site goes into its folder but copies nothing of it:
    // its host, login and password are no defaults for somebody else's site.
    Select(dialog, "Work\\Acme");
    dialog.OnNewSite();
    EXPECT_EQ(dialog.Tree()->currentItem()->text(0), Q("New Site"));
    EXPECT_EQ(dialog.Tree()->currentItem()->parent()->text(0), Q("Work"));
    EXPECT_EQ(dialog.HostField()->text(), QString());
    EXPECT_EQ(dialog.LoginField()->text(), QString());
    EXPECT_EQ(dialog.PasswordField()->text(), QString());
    EXPECT_EQ(dialog.RetriesField()->text(), Q("4"));
    Select(dialog, "Work\\Old");
    dialog.OnNewSite();
    EXPECT_EQ(dialog.HostField()->text(), QString());
    EXPECT_EQ(dialog.RetriesField()->text(), Q("4"));
    EXPECT_EQ(dialog.PortField()->text(), Q("21"));
    Select(dialog, "Home");
    dialog.OnNewFolder();
    EXPECT_EQ(dialog.Tree()->currentItem()->parent(), dialog.Tree()->topLevelItem(0));
    EXPECT_EQ(dialog.NameField()->selectedText(), Q("New Folder"));

    // The Delete key deletes only from the tree; in a field it edits text.
    QTest::keyClick(dialog.NameField(), Qt::Key_Delete);
    QTest::keyClicks(dialog.NameField(), Q("Inbox"));
    EXPECT_TRUE(m_prompts.questions.isEmpty());
    EXPECT_EQ(dialog.Tree()->currentItem()->text(0), Q("Inbox"));

    Select(dialog, "Work");
    dialog.Tree()->setFocus();
    m_prompts.answer = IPrompts::No;
    QTest::keyClick(dialog.Tree(), Qt::Key_Delete);
    ASSERT_EQ(m_prompts.questions.size(), 1);
    EXPECT_EQ(m_prompts.questions[0],
              Q("Confirm Folder Delete: Are you sure you want to remove the folder 'Work' and all its contents?"));
    EXPECT_NE(dialog.FindItemByPath(Q("Work")), nullptr);
    m_prompts.answer = IPrompts::Yes;
    QTest::keyClick(dialog.Tree(), Qt::Key_Delete);
    EXPECT_EQ(dialog.FindItemByPath(Q("Work")), nullptr);
    Select(dialog, "Home");
    dialog.OnDelete();
    EXPECT_EQ(m_prompts.questions.last(), Q("Confirm Favorite Delete: Are you sure you want to remove 'Home'?"));
    // The root cannot go.
    dialog.Tree()->setCurrentItem(dialog.Tree()->topLevelItem(0));
    dialog.OnDelete();
    EXPECT_EQ(m_prompts.questions.size(), 3);
    dialog.accept();

    bool found = true;
    Load(Q("Work\\Old\\Legacy"), &found);
    EXPECT_FALSE(found); // every site below the folder went with it
    CSiteCatalog catalog(Path());
    catalog.Open();
    EXPECT_NE(catalog.FindFolderByPath(nullptr, Q("Inbox")), nullptr);
}

TEST_F(SiteManagerTest, MovesKeepNamesAndContentsAndRefuseTheImpossible)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    const auto move = [&](const char* from, const char* to) {
        QTreeWidgetItem* target = *to ? dialog.FindItemByPath(Q(to)) : dialog.Tree()->topLevelItem(0);
        dialog.Tree()->setCurrentItem(dialog.FindItemByPath(Q(from)));
        emit dialog.Tree()->MoveRequested(dialog.FindItemByPath(Q(from)), target);
        QCoreApplication::processEvents();
    };
    EXPECT_FALSE(CSiteTree::AcceptsDrop(dialog.FindItemByPath(Q("Work")), dialog.FindItemByPath(Q("Work\\Old"))));
    EXPECT_FALSE(CSiteTree::AcceptsDrop(dialog.FindItemByPath(Q("Work\\Old")), dialog.FindItemByPath(Q("Home"))));
    EXPECT_FALSE(CSiteTree::AcceptsDrop(dialog.Tree()->topLevelItem(0), dialog.FindItemByPath(Q("Work"))));
    move("Work", "Work\\Old");
    move("Work\\Old", "Home");
    EXPECT_NE(dialog.FindItemByPath(Q("Work\\Old\\Legacy")), nullptr);

    // A renamed folder moved to the top keeps its new name and everything in it.
    Select(dialog, "Work\\Old");
    Type(dialog.NameField(), Q("Archive"));
    move("Work\\Archive", "");
    EXPECT_EQ(dialog.Tree()->currentItem()->text(0), Q("Archive"));
    EXPECT_NE(dialog.FindItemByPath(Q("Archive\\Legacy")), nullptr);
    EXPECT_EQ(dialog.FindItemByPath(Q("Work\\Archive")), nullptr);
    move("Home", "Archive");
    dialog.reject();

    bool found = false;
    EXPECT_EQ(Load(Q("Archive\\Legacy"), &found).address, Q("old.test"));
    EXPECT_TRUE(found);
    EXPECT_EQ(Load(Q("Archive\\Home"), &found).address, Q("127.0.0.1"));
    EXPECT_TRUE(found);
    // A moved element is the last child of its new folder.
    EXPECT_TRUE(Read().indexOf("Legacy") < Read().indexOf("\"Home\""));
}

TEST_F(SiteManagerTest, FilterShowsMatchingSitesWithTheirFolders)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    QTest::keyClicks(dialog.FilterField(), Q("old.TEST"));
    EXPECT_FALSE(dialog.FindItemByPath(Q("Work"))->isHidden());
    EXPECT_FALSE(dialog.FindItemByPath(Q("Work\\Old\\Legacy"))->isHidden());
    EXPECT_TRUE(dialog.FindItemByPath(Q("Work\\Acme"))->isHidden());
    EXPECT_TRUE(dialog.FindItemByPath(Q("Home"))->isHidden());
    dialog.FilterField()->clear();
    EXPECT_FALSE(dialog.FindItemByPath(Q("Home"))->isHidden());
}

TEST_F(SiteManagerTest, FilterNeverLeavesTheFormOnAHiddenSite)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    Select(dialog, "Work\\Acme");
    // Acme goes out of view: the form and Enter follow the site still shown.
    QTest::keyClicks(dialog.FilterField(), Q("Legacy"));
    ASSERT_NE(dialog.Tree()->currentItem(), nullptr);
    EXPECT_EQ(dialog.Tree()->currentItem(), dialog.FindItemByPath(Q("Work\\Old\\Legacy")));
    EXPECT_EQ(dialog.HostField()->text(), Q("old.test"));

    // Nothing matches: nothing is shown, and nothing can be connected to.
    QTest::keyClicks(dialog.FilterField(), Q("zzz"));
    EXPECT_EQ(dialog.Tree()->currentItem(), nullptr);
    EXPECT_EQ(dialog.HostField()->text(), QString());
    EXPECT_FALSE(dialog.ConnectButton()->isEnabled());

    dialog.FilterField()->clear();
    QTest::keyClicks(dialog.FilterField(), Q("old"));
    QTest::keyClick(dialog.FilterField(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.SitePath(), Q("Work\\Old\\Legacy"));
    EXPECT_EQ(dialog.Site().address, Q("old.test"));
}

TEST_F(SiteManagerTest, DoubleClickOnASiteConnectsAndOnAFolderDoesNot)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    const auto doubleClick = [&](const char* path) {
        QTreeWidgetItem* item = dialog.FindItemByPath(Q(path));
        const QPoint centre = dialog.Tree()->visualItemRect(item).center();
        QTest::mouseClick(dialog.Tree()->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseDClick(dialog.Tree()->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    };
    doubleClick("Work");
    EXPECT_TRUE(dialog.isVisible());
    doubleClick("Home");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.SitePath(), Q("Home"));
}

TEST_F(SiteManagerTest, AnEmptyHostIsRefusedWithAMessage)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    Select(dialog, "Home");
    Type(dialog.HostField(), QString());
    EXPECT_TRUE(dialog.ConnectButton()->isEnabled());
    dialog.ConnectButton()->click();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_EQ(m_prompts.messages[0], Q("Enter the host address of \"Home\" before connecting to it."));
    EXPECT_TRUE(dialog.HostField()->hasFocus());
}

TEST_F(SiteManagerTest, EscapeAsksWhetherToKeepTheChangesCloseKeepsThem)
{
    {
        // Untouched: Escape closes without a question.
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        Select(dialog, "Home");
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(m_prompts.questions.isEmpty());
    }
    const QByteArray before = Read();
    {
        // A half-typed host and a half-typed port, thrown away.
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        Select(dialog, "Home");
        Type(dialog.HostField(), Q("half.typ"));
        Type(dialog.PortField(), Q("8"));
        m_prompts.answer = IPrompts::No;
        QTest::keyClick(dialog.PortField(), Qt::Key_Escape);
        ASSERT_EQ(m_prompts.questions.size(), 1);
        EXPECT_EQ(m_prompts.questions[0], Q("Site Manager: Keep the changes you made to your sites?"));
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(Read(), before);
    {
        // Only a port typed, and kept.
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        Select(dialog, "Home");
        Type(dialog.PortField(), Q("2100"));
        m_prompts.answer = IPrompts::Yes;
        dialog.reject();
        EXPECT_EQ(m_prompts.questions.size(), 2);
    }
    EXPECT_EQ(Load(Q("Home")).port, 2100);
    {
        // Close keeps them without asking.
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        Select(dialog, "Home");
        Type(dialog.HostField(), Q("closed.test"));
        dialog.CloseButton()->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(m_prompts.questions.size(), 2);
    EXPECT_EQ(Load(Q("Home")).address, Q("closed.test"));
}

TEST_F(SiteManagerTest, LongNamesAreCutShortAndTheDialogKeepsItsSize)
{
    const QString longName(300, QLatin1Char('w'));
    Write(QStringLiteral("<SITES name=\"Favorites\"><SITE name=\"%1\"><ADDRESS>long.test</ADDRESS></SITE>"
                         "<SITE name=\"Short\"><ADDRESS>short.test</ADDRESS></SITE></SITES>")
              .arg(longName)
              .toUtf8());
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    Select(dialog, "Short");
    QCoreApplication::processEvents();
    const QSize size = dialog.size();
    dialog.Tree()->setCurrentItem(dialog.FindItemByPath(longName));
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.size(), size);
    EXPECT_LE(dialog.minimumSizeHint().width(), 800);
    EXPECT_EQ(dialog.CaptionLabel()->FullText(), longName);
    EXPECT_TRUE(dialog.CaptionLabel()->text().endsWith(QChar(0x2026))) << dialog.CaptionLabel()->text().toStdString();
    EXPECT_LE(dialog.Tree()->header()->sectionSize(0), dialog.Tree()->viewport()->width());
    // The long name's row shows it cut short; its tooltip has all of it.
    EXPECT_EQ(dialog.Tree()->currentItem()->toolTip(0), longName);
}

TEST_F(SiteManagerTest, CharactersLeftOutOfANameAreNamed)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    Select(dialog, "Home");
    EXPECT_TRUE(dialog.NameHint()->isHidden());
    Type(dialog.NameField(), Q("a/b\\c"));
    EXPECT_EQ(dialog.NameField()->text(), Q("abc"));
    EXPECT_FALSE(dialog.NameHint()->isHidden());
    EXPECT_TRUE(dialog.NameHint()->text().startsWith(Q("Left out: / \\\n"))) << dialog.NameHint()->text().toStdString();
    // Another site: the hint was about the last one.
    Select(dialog, "Work\\Acme");
    EXPECT_TRUE(dialog.NameHint()->isHidden());
}

TEST_F(SiteManagerTest, TheKeyboardWalksTheDialogTopToBottom)
{
    CSiteManagerDlg dialog(nullptr, Path());
    Show(dialog);
    Select(dialog, "Home");
    const QList<QWidget*> wanted{dialog.FilterField(), dialog.Tree(), dialog.NameField(), dialog.HostField(),
                                 dialog.PortField(), dialog.ProtocolBox(), dialog.EncryptionBox(), dialog.PassiveBox(),
                                 dialog.AnonymousBox(), dialog.LoginField(), dialog.PasswordField(),
                                 dialog.KeyFileField()->Edit(), dialog.KeyFileField()->BrowseButton()};
    QList<QWidget*> seen;
    QWidget* widget = dialog.FilterField();
    for (int i = 0; i < 200 && seen.size() < wanted.size(); ++i, widget = widget->nextInFocusChain()) {
        if (wanted.contains(widget) && !seen.contains(widget))
            seen << widget;
    }
    EXPECT_EQ(seen, wanted);
    // The comment comes last of the form, before the buttons.
    QWidget* afterComment = dialog.CommentField()->nextInFocusChain();
    while (afterComment && !qobject_cast<QPushButton*>(afterComment))
        afterComment = afterComment->nextInFocusChain();
    ASSERT_NE(afterComment, nullptr);
    EXPECT_EQ(static_cast<QPushButton*>(afterComment)->text(), Q("New &Site"));
}

TEST_F(SiteManagerTest, AnUnreadableCatalogueIsToldOnceAndNeverOverwritten)
{
    const QByteArray foreign("<html><body>not a catalogue</body></html>");
    Write(foreign);
    {
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        QCoreApplication::processEvents();
        ASSERT_EQ(m_prompts.messages.size(), 1);
        EXPECT_TRUE(m_prompts.messages[0].contains(Path()));
        EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 1);
        dialog.Tree()->setCurrentItem(dialog.Tree()->topLevelItem(0));
        dialog.OnNewSite();
        Type(dialog.HostField(), Q("lost.test"));
        dialog.reject();
    }
    EXPECT_EQ(m_prompts.messages.size(), 1);
    EXPECT_EQ(Read(), foreign);
}

TEST_F(SiteManagerTest, ImportGoesIntoTheSelectedFolder)
{
    const QString file = m_dir.filePath(Q("sitemanager.xml"));
    QFile zilla(file);
    ASSERT_TRUE(zilla.open(QIODevice::WriteOnly));
    zilla.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<FileZilla3><Servers><Folder expanded="1">Clients<Server><Host>ftp.client.test</Host><Port>21</Port><Protocol>0</Protocol><Type>0</Type><User>bob</User><Pass encoding="base64">c2VjcmV0</Pass><Logontype>1</Logontype><Name>Client one</Name></Server></Folder>
<Server><Host>sftp.test</Host><Port>22</Port><Protocol>1</Protocol><Name>Secure</Name></Server></Servers></FileZilla3>)");
    zilla.close();
    {
        CSiteManagerDlg dialog(nullptr, Path());
        Show(dialog);
        Select(dialog, "Work\\Acme");
        dialog.ImportFrom(file);
        ASSERT_FALSE(m_prompts.messages.isEmpty());
        EXPECT_NE(dialog.FindItemByPath(Q("Work\\Clients\\Client one")), nullptr);
        dialog.ImportFrom(m_dir.filePath(Q("missing.xml")));
        EXPECT_EQ(m_prompts.messages.size(), 2);
        dialog.reject();
    }
    bool found = false;
    const CFtpSite client = Load(Q("Work\\Clients\\Client one"), &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(client.password, Q("secret"));
    EXPECT_EQ(client.login, Q("bob"));
}

TEST(FavoritesMenuTest, FoldersFirstThenSitesEachByNameIgnoringCase)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(Q("sites.xml"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<SITES name="Favorites">
<FOLDER name="B"><SITE name="b1"/></FOLDER>
<FOLDER name="A"><SITE name="s4"/><SITE name="s2"/><SITE name="S3"/><SITE name="s1"/>
  <FOLDER name="sub2"><SITE name="x"/></FOLDER><FOLDER name="Sub1"><SITE name="y"/></FOLDER></FOLDER>
<SITE name="z"/><SITE name="Y & co"/>
<FOLDER name="Empty"><FOLDER name="Inner"/></FOLDER>
</SITES>)");
    file.close();

    QMenu menu;
    menu.addAction(Q("&Add to Favorites..."));
    menu.addAction(Q("&Organize Favorites..."));
    menu.addSeparator();
    CFavoritesMenu favorites(&menu, 3);
    favorites.Rebuild(path);
    QStringList top;
    for (QAction* action : menu.actions().mid(3))
        top << action->text();
    EXPECT_EQ(top, (QStringList{Q("A"), Q("B"), Q("Y && co"), Q("z")}));
    QStringList inA;
    for (QAction* action : menu.actions().at(3)->menu()->actions())
        inA << action->text();
    EXPECT_EQ(inA, (QStringList{Q("Sub1"), Q("sub2"), Q("s1"), Q("s2"), Q("S3"), Q("s4")}));

    QString chosen;
    QObject::connect(&favorites, &CFavoritesMenu::SiteChosen, [&](const QString& site) { chosen = site; });
    menu.actions().at(3)->menu()->actions().at(0)->menu()->actions().at(0)->trigger();
    EXPECT_EQ(chosen, Q("A\\Sub1\\y"));
    // Highlighted, an entry says where it goes in the status bar.
    EXPECT_EQ(menu.actions().at(3)->menu()->actions().at(0)->menu()->actions().at(0)->statusTip(), Q("Connects to A > Sub1 > y"));

    // Rebuilt from an unreadable file: the fixed entries stay alone.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("garbage");
    file.close();
    favorites.Rebuild(path);
    EXPECT_EQ(menu.actions().size(), 3);
    EXPECT_TRUE(favorites.SitePaths().isEmpty());
}

} // namespace
