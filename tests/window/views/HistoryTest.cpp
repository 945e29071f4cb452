#include "window/views/CustomCommandDlg.h"
#include "window/views/GoToFolderDlg.h"
#include "window/views/HistoryComboBox.h"
#include "window/views/QuickConnectBar.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<QString, QString>>; // text, data
using Stored = std::map<QString, QString>;                // value name, value

QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orlavek"),
                     QStringLiteral("Kestrix"));
}

void Put(const QString& section, const Stored& values)
{
    QSettings store = Store();
    for (const auto& [name, value] : values)
        store.setValue(section + QLatin1Char('/') + name, value);
    store.sync();
}

Stored Values(const QString& section)
{
    QSettings store = Store();
    store.sync();
    store.beginGroup(section);
    Stored values;
    for (const QString& name : store.childKeys())
        values[name] = store.value(name).toString();
    return values;
}

Entries EntriesOf(const CHistoryComboBox& combo)
{
    Entries entries;
    for (int i = 0; i < combo.count(); ++i)
        entries.emplace_back(combo.itemText(i), combo.EntryData(i));
    return entries;
}

QString Repeat(char c, int count)
{
    return QString(count, QLatin1Char(c));
}

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override { Store().clear(); }
};

const QString kQuick = QStringLiteral("QuickConnect");
const QString kFolders = QStringLiteral("GoToFolder");

// ---- the field encoding ------------------------------------------------------

TEST(HistoryFieldEncoding, EncodesOnlyTheSeparatorsAndThePercentSign)
{
    const struct {
        QString field;
        QString encoded;
    } cases[] = {
        {QString(), QString()},
        {QStringLiteral("anna"), QStringLiteral("anna")},
        {QStringLiteral("p@ss w:rd;\\/\"'"), QStringLiteral("p@ss w:rd;\\/\"'")},
        {QStringLiteral("a,b"), QStringLiteral("a%2Cb")},
        {QStringLiteral("a|b"), QStringLiteral("a%7Cb")},
        {QStringLiteral("100%"), QStringLiteral("100%25")},
        {QStringLiteral("%2C"), QStringLiteral("%252C")},
        {QStringLiteral(",|%"), QStringLiteral("%2C%7C%25")},
        {QStringLiteral("Grüße,€"), QStringLiteral("Grüße%2C€")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field.toStdString());
        EXPECT_EQ(CHistoryComboBox::EncodeField(c.field), c.encoded);
        EXPECT_EQ(CHistoryComboBox::DecodeField(c.encoded), c.field);
    }
}

TEST(HistoryFieldEncoding, DecodingLeavesEveryOtherPercentAlone)
{
    const struct {
        QString stored;
        QString decoded;
    } cases[] = {
        {QStringLiteral("%"), QStringLiteral("%")},
        {QStringLiteral("ab%"), QStringLiteral("ab%")},
        {QStringLiteral("%2"), QStringLiteral("%2")},
        {QStringLiteral("%7"), QStringLiteral("%7")},
        {QStringLiteral("%zz"), QStringLiteral("%zz")},
        {QStringLiteral("%41"), QStringLiteral("%41")},
        {QStringLiteral("%%2C"), QStringLiteral("%,")},
        {QStringLiteral("%2c%7c"), QStringLiteral(",|")},
        {QStringLiteral("%2C%"), QStringLiteral(",%")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        EXPECT_EQ(CHistoryComboBox::DecodeField(c.stored), c.decoded);
    }
}

TEST(HistoryFieldEncoding, DataFieldsSplitAtTheFirstAndSecondComma)
{
    const struct {
        QString data;
        QString user;
        QString password;
    } cases[] = {
        {QString(), QString(), QString()},
        {QStringLiteral("anna"), QStringLiteral("anna"), QString()},
        {QStringLiteral("anna,"), QStringLiteral("anna"), QString()},
        {QStringLiteral(",secret"), QString(), QStringLiteral("secret")},
        {QStringLiteral("anna,secret"), QStringLiteral("anna"), QStringLiteral("secret")},
        {QStringLiteral("anna,secret,more"), QStringLiteral("anna"), QStringLiteral("secret")},
        {QStringLiteral("a%2Cb,p%7Cw%25"), QStringLiteral("a,b"), QStringLiteral("p|w%")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.toStdString());
        EXPECT_EQ(CHistoryComboBox::DataField(c.data, 0), c.user);
        EXPECT_EQ(CHistoryComboBox::DataField(c.data, 1), c.password);
    }
}

// ---- loading -----------------------------------------------------------------

TEST_F(HistoryTest, LoadReadsValuesUntilTheFirstMissingOrEmptyOne)
{
    Stored twelve;
    Entries firstTen;
    for (int i = 0; i < 12; ++i) {
        twelve[kQuick + QString::number(i)] = QStringLiteral("h%1|d%1").arg(i);
        if (i < 10)
            firstTen.emplace_back(QStringLiteral("h%1").arg(i), QStringLiteral("d%1").arg(i));
    }
    const struct {
        const char* name;
        Stored stored;
        Entries expected;
    } cases[] = {
        {"nothing stored", {}, {}},
        {"text and data",
         {{kQuick + "0", "ftp.one|anna,pw"}, {kQuick + "1", "ftp.two|"}, {kQuick + "2", "ftp.three"}},
         {{"ftp.one", "anna,pw"}, {"ftp.two", ""}, {"ftp.three", ""}}},
        {"data ends at the second pipe", {{kQuick + "0", "a|b|c"}}, {{"a", "b"}}},
        {"gap in the numbering", {{kQuick + "0", "a|1"}, {kQuick + "2", "c|3"}}, {{"a", "1"}}},
        {"empty value", {{kQuick + "0", "a|1"}, {kQuick + "1", ""}, {kQuick + "2", "c|3"}}, {{"a", "1"}}},
        {"first value missing", {{kQuick + "1", "b|2"}}, {}},
        {"other sections and names ignored",
         {{kQuick + "x", "x|x"}, {kQuick + "00", "y|y"}, {kQuick + "0", "a|1"}},
         {{"a", "1"}}},
        {"more than a full list", twelve, firstTen},
        {"300 characters of text", {{kQuick + "0", Repeat('y', 300)}}, {{Repeat('y', 259), ""}}},
        {"300 characters with data", {{kQuick + "0", "h|" + Repeat('x', 298)}}, {{"h", Repeat('x', 257)}}},
        {"cut through the second pipe",
         {{kQuick + "0", "h|" + Repeat('x', 257) + "|tail"}},
         {{"h", Repeat('x', 257)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Store().clear();
        Put(kQuick, c.stored);
        Put(kFolders, {{kQuick + "0", "z|z"}});
        CHistoryComboBox combo;
        combo.LoadHistory(kQuick);
        EXPECT_EQ(EntriesOf(combo), c.expected);
        EXPECT_EQ(combo.Section(), kQuick);
    }
}

TEST_F(HistoryTest, LoadingAgainReplacesTheList)
{
    Put(kFolders, {{"GoToFolder0", "/pub|"}, {"GoToFolder1", "/incoming|"}});
    CHistoryComboBox combo;
    combo.LoadHistory(kFolders);
    combo.LoadHistory(kFolders);
    EXPECT_EQ(EntriesOf(combo), (Entries{{"/pub", ""}, {"/incoming", ""}}));
}

TEST_F(HistoryTest, ASectionThatCannotBeOpenedStartsEmptyAndSavesNothing)
{
    for (const QString& section : {QString(), QStringLiteral("/"), QStringLiteral("\\")}) {
        SCOPED_TRACE(section.toStdString());
        CHistoryComboBox combo;
        combo.LoadHistory(section);
        EXPECT_EQ(combo.count(), 0);
        const QString entry = QStringLiteral("ftp.one|anna,pw");
        EXPECT_EQ(combo.AddToHistory(&entry), 0);
        EXPECT_EQ(combo.count(), 1);
        combo.ClearHistory();
        EXPECT_EQ(combo.count(), 0);
        EXPECT_TRUE(Store().allKeys().isEmpty());
    }
}

// ---- adding and clearing -----------------------------------------------------

TEST_F(HistoryTest, ReusedHostKeepsPositionAndLetterCaseAndTakesTheNewData)
{
    const Stored start{{"QuickConnect0", "ftp.one|a,1"}, {"QuickConnect1", "Ftp.Two|b,2"}, {"QuickConnect2", "ftp.three|c,3"}};
    const struct {
        QString entry;
        int index;
        Entries after;
    } cases[] = {
        {"ftp.two|bob,new", 1, {{"ftp.one", "a,1"}, {"Ftp.Two", "bob,new"}, {"ftp.three", "c,3"}}},
        {"FTP.ONE|anna,x", 0, {{"ftp.one", "anna,x"}, {"Ftp.Two", "b,2"}, {"ftp.three", "c,3"}}},
        {"ftp.THREE|", 2, {{"ftp.one", "a,1"}, {"Ftp.Two", "b,2"}, {"ftp.three", ""}}},
        {"ftp.three", 2, {{"ftp.one", "a,1"}, {"Ftp.Two", "b,2"}, {"ftp.three", ""}}},
        // Only a whole-text match counts.
        {"ftp.tw|z,z", 3, {{"ftp.one", "a,1"}, {"Ftp.Two", "b,2"}, {"ftp.three", "c,3"}, {"ftp.tw", "z,z"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry.toStdString());
        Store().clear();
        Put(kQuick, start);
        CHistoryComboBox combo;
        combo.LoadHistory(kQuick);
        EXPECT_EQ(combo.AddToHistory(&c.entry), c.index);
        EXPECT_EQ(EntriesOf(combo), c.after);
        Stored expected;
        for (size_t i = 0; i < c.after.size(); ++i)
            expected[kQuick + QString::number(i)] = c.after[i].first + "|" + c.after[i].second;
        EXPECT_EQ(Values(kQuick), expected);
    }
}

TEST_F(HistoryTest, TheEleventhHostDropsTheOldest)
{
    CHistoryComboBox combo;
    combo.LoadHistory(kQuick);
    for (int i = 0; i < 10; ++i) {
        const QString entry = QStringLiteral("host%1|u%1,p%1").arg(i);
        EXPECT_EQ(combo.AddToHistory(&entry), i);
    }
    const QString eleventh = QStringLiteral("host10|u10,p10");
    EXPECT_EQ(combo.AddToHistory(&eleventh), 9);
    ASSERT_EQ(combo.count(), 10);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("host1"));
    EXPECT_EQ(combo.itemText(9), QStringLiteral("host10"));

    Stored expected;
    for (int i = 0; i < 10; ++i)
        expected[kQuick + QString::number(i)] = QStringLiteral("host%1|u%1,p%1").arg(i + 1);
    EXPECT_EQ(Values(kQuick), expected);

    // A host already remembered does not push anything out of a full list.
    const QString again = QStringLiteral("HOST5|new,new");
    EXPECT_EQ(combo.AddToHistory(&again), 4);
    EXPECT_EQ(combo.count(), 10);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("host1"));
    EXPECT_EQ(combo.EntryData(4), QStringLiteral("new,new"));
}

TEST_F(HistoryTest, AddingTheEditTextKeepsWhatWasTypedAndTheEntrysData)
{
    Put(kQuick, {{"QuickConnect0", "ftp.one|anna,pw"}});
    CHistoryComboBox combo;
    combo.LoadHistory(kQuick);

    combo.setEditText(QStringLiteral("FTP.ONE"));
    EXPECT_EQ(combo.AddToHistory(), 0);
    EXPECT_EQ(combo.currentText(), QStringLiteral("FTP.ONE"));
    EXPECT_EQ(EntriesOf(combo), (Entries{{"ftp.one", "anna,pw"}}));

    combo.setEditText(QStringLiteral("  ftp.two "));
    EXPECT_EQ(combo.AddToHistory(), 1);
    EXPECT_EQ(combo.currentText(), QStringLiteral("  ftp.two "));
    EXPECT_EQ(Values(kQuick), (Stored{{"QuickConnect0", "ftp.one|anna,pw"}, {"QuickConnect1", "  ftp.two |"}}));

    // Nothing typed: nothing to remember.
    combo.setEditText(QString());
    EXPECT_EQ(combo.AddToHistory(), -1);
    const QString noText = QStringLiteral("|anna,pw");
    EXPECT_EQ(combo.AddToHistory(&noText), -1);
    EXPECT_EQ(combo.count(), 2);
    EXPECT_EQ(Values(kQuick).size(), 2u);
}

TEST_F(HistoryTest, ClearingFiveThenAddingTwoLeavesValuesZeroAndOneOnly)
{
    CHistoryComboBox combo;
    combo.LoadHistory(kQuick);
    for (int i = 0; i < 5; ++i) {
        const QString entry = QStringLiteral("host%1|u,p").arg(i);
        combo.AddToHistory(&entry);
    }
    ASSERT_EQ(Values(kQuick).size(), 5u);
    combo.setEditText(QStringLiteral("host4"));

    combo.ClearHistory();
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(combo.currentText(), QString());
    EXPECT_TRUE(Values(kQuick).empty());

    const QString first = QStringLiteral("new0|a,b");
    const QString second = QStringLiteral("new1|");
    EXPECT_EQ(combo.AddToHistory(&first), 0);
    EXPECT_EQ(combo.AddToHistory(&second), 1);
    EXPECT_EQ(Values(kQuick), (Stored{{"QuickConnect0", "new0|a,b"}, {"QuickConnect1", "new1|"}}));
}

TEST_F(HistoryTest, ClearingStopsAtTheFirstMissingValue)
{
    Put(kQuick, {{"QuickConnect0", "a|"}, {"QuickConnect1", "b|"}, {"QuickConnect3", "d|"}});
    CHistoryComboBox combo;
    combo.LoadHistory(kQuick);
    combo.ClearHistory();
    EXPECT_EQ(Values(kQuick), (Stored{{"QuickConnect3", "d|"}}));
}

// ---- the Quick Connect bar ---------------------------------------------------

QLineEdit* UserField(const CQuickConnectBar& bar)
{
    return bar.findChild<QLineEdit*>(QStringLiteral("user"));
}

QLineEdit* PasswordField(const CQuickConnectBar& bar)
{
    return bar.findChild<QLineEdit*>(QStringLiteral("password"));
}

QStringList LabelTexts(const QWidget& widget)
{
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

TEST_F(HistoryTest, QuickConnectBarLayout)
{
    CQuickConnectBar bar;
    EXPECT_EQ(LabelTexts(bar), (QStringList{"Host:", "Username:", "Password:"}));
    EXPECT_EQ(bar.ConnectButton()->text(), QStringLiteral("Connect"));
    EXPECT_TRUE(bar.ConnectButton()->isDefault());
    EXPECT_EQ(PasswordField(bar)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(bar.HostField(), bar.HostHistory()->lineEdit());
    EXPECT_EQ(bar.HostHistory()->Section(), kQuick);
    EXPECT_EQ(bar.HostHistory()->count(), 0);
    EXPECT_EQ(bar.Host(), QString());
    EXPECT_EQ(bar.User(), QString());
}

TEST_F(HistoryTest, QuickConnectBarStartsWithTheFirstEntryAndFillsFromAPickedOne)
{
    Put(kQuick, {{"QuickConnect0", "ftp.one|anna,first"}, {"QuickConnect1", "ftp.two|bob"},
                 {"QuickConnect2", "ftp.three|carl,p%2Cw%7Cd,ignored"}});
    CQuickConnectBar bar;
    EXPECT_EQ(bar.Host(), QStringLiteral("ftp.one"));
    EXPECT_EQ(bar.User(), QStringLiteral("anna"));
    EXPECT_EQ(bar.Password(), QStringLiteral("first"));

    // Down in the drop-down is the user picking the next entry.
    QTest::keyClick(bar.HostHistory(), Qt::Key_Down);
    EXPECT_EQ(bar.Host(), QStringLiteral("ftp.two"));
    EXPECT_EQ(bar.User(), QStringLiteral("bob"));
    EXPECT_EQ(bar.Password(), QString());

    QTest::keyClick(bar.HostHistory(), Qt::Key_Down);
    EXPECT_EQ(bar.Host(), QStringLiteral("ftp.three"));
    EXPECT_EQ(bar.User(), QStringLiteral("carl"));
    EXPECT_EQ(bar.Password(), QStringLiteral("p,w|d"));

    QTest::keyClick(bar.HostHistory(), Qt::Key_Up);
    EXPECT_EQ(bar.User(), QStringLiteral("bob"));

    // A click in the opened list.
    bar.show();
    bar.HostHistory()->showPopup();
    QAbstractItemView* list = bar.HostHistory()->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const QPoint third = list->visualRect(list->model()->index(2, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
    EXPECT_EQ(bar.Host(), QStringLiteral("ftp.three"));
    EXPECT_EQ(bar.User(), QStringLiteral("carl"));
    EXPECT_EQ(bar.Password(), QStringLiteral("p,w|d"));

    // Remembering a connection moves no selection into the typed fields.
    bar.HostField()->setText(QStringLiteral(" ftp.new "));
    UserField(bar)->setText(QStringLiteral("nina"));
    PasswordField(bar)->setText(QStringLiteral("pw"));
    const QString entry = bar.HistoryEntry();
    EXPECT_EQ(entry, QStringLiteral("ftp.new|nina,pw"));
    EXPECT_EQ(bar.HostHistory()->AddToHistory(&entry), 3);
    EXPECT_EQ(bar.Host(), QStringLiteral("ftp.new"));
    EXPECT_EQ(bar.User(), QStringLiteral("nina"));
    EXPECT_EQ(bar.Password(), QStringLiteral("pw"));
}

TEST_F(HistoryTest, EnterInAnyQuickConnectFieldPressesConnectWithWhatWasTyped)
{
    Put(kQuick, {{"QuickConnect0", "ftp.one|anna,first"}, {"QuickConnect1", "ftp.two|bob,second"}});
    // A remembered host typed again with a new password must connect (and be
    // remembered) with the new one, not the stored one.
    for (const QString& host : {QStringLiteral("ftp.typed"), QStringLiteral("ftp.one"), QStringLiteral("ftp.two"),
                                QStringLiteral("FTP.TWO")}) {
        SCOPED_TRACE(host.toStdString());
        CQuickConnectBar bar;
        bar.show();
        QSignalSpy spy(&bar, &CQuickConnectBar::ConnectRequested);
        bar.HostField()->setText(host);
        UserField(bar)->setText(QStringLiteral("typed-user"));
        PasswordField(bar)->setText(QStringLiteral("typed-pw"));
        int expected = 0;
        // Keys go to the focus widget, which for the host is the drop-down itself.
        for (QWidget* field : {static_cast<QWidget*>(bar.HostHistory()), static_cast<QWidget*>(UserField(bar)),
                               static_cast<QWidget*>(PasswordField(bar))}) {
            SCOPED_TRACE(field->objectName().toStdString());
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
                QTest::keyClick(field, key);
                EXPECT_EQ(spy.count(), ++expected);
                EXPECT_EQ(bar.Host(), host);
                EXPECT_EQ(bar.User(), QStringLiteral("typed-user"));
                EXPECT_EQ(bar.Password(), QStringLiteral("typed-pw"));
            }
        }
        bar.ConnectButton()->click();
        EXPECT_EQ(spy.count(), expected + 1);
        EXPECT_EQ(bar.HostHistory()->count(), 2); // the frame decides what is remembered
        EXPECT_EQ(bar.HistoryEntry(), host + QStringLiteral("|typed-user,typed-pw"));
    }
}

TEST_F(HistoryTest, QuickConnectSftpIsChosenOrTypedAndRemembered)
{
    CQuickConnectBar bar;
    bar.show();
    EXPECT_EQ(bar.ProtocolBox()->count(), 2);
    EXPECT_EQ(bar.Protocol(), SiteProtocol::Ftp);
    bar.HostField()->setText(QStringLiteral("shell.example.test:2222"));
    EXPECT_EQ(bar.Address(), QStringLiteral("shell.example.test:2222"));
    bar.ProtocolBox()->setCurrentIndex(1);
    EXPECT_EQ(bar.Address(), QStringLiteral("sftp://shell.example.test:2222"));
    UserField(bar)->setText(QStringLiteral("deploy"));
    // Remembered with its protocol; an FTP entry is written as before.
    const QString entry = bar.HistoryEntry();
    EXPECT_EQ(entry, QStringLiteral("shell.example.test:2222|deploy,,sftp"));
    bar.HostHistory()->AddToHistory(&entry);

    // A scheme typed is what the drop-down shows, and is not doubled.
    bar.HostField()->clear();
    bar.HostField()->setFocus();
    QTest::keyClicks(bar.HostField(), QStringLiteral("ftps://secure.test"));
    EXPECT_EQ(bar.Protocol(), SiteProtocol::Ftp);
    EXPECT_EQ(bar.Address(), QStringLiteral("ftps://secure.test"));
    bar.HostField()->clear();
    QTest::keyClicks(bar.HostField(), QStringLiteral("SFTP://shell.test"));
    EXPECT_EQ(bar.Protocol(), SiteProtocol::Sftp);
    EXPECT_EQ(bar.Address(), QStringLiteral("SFTP://shell.test"));

    CQuickConnectBar again;
    EXPECT_EQ(again.Host(), QStringLiteral("shell.example.test:2222"));
    EXPECT_EQ(again.User(), QStringLiteral("deploy"));
    EXPECT_EQ(again.Protocol(), SiteProtocol::Sftp);
}

TEST_F(HistoryTest, TabMovesThroughTheQuickConnectFields)
{
    CQuickConnectBar bar;
    bar.show();
    QApplication::setActiveWindow(&bar);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&bar));
    bar.HostField()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), bar.HostHistory());
    const QWidget* order[] = {bar.ProtocolBox(), UserField(bar), PasswordField(bar), bar.ConnectButton()};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
}

TEST_F(HistoryTest, CredentialsWithSeparatorsComeBackUnchanged)
{
    const struct {
        QString user;
        QString password;
        QString stored; // exactly what the store holds
    } cases[] = {
        {"anna", "secret", "ftp.one|anna,secret"},
        {"", "", "ftp.one|,"},
        {"anonymous", "me@example.org", "ftp.one|anonymous,me@example.org"},
        {"a,b", "x", "ftp.one|a%2Cb,x"},
        {"anna", "p,w", "ftp.one|anna,p%2Cw"},
        {"anna", "p|w", "ftp.one|anna,p%7Cw"},
        {"an|na", "100%", "ftp.one|an%7Cna,100%25"},
        {"%2C", ",|,%", "ftp.one|%252C,%2C%7C%2C%25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.user + " / " + c.password).toStdString());
        Store().clear();
        {
            CQuickConnectBar bar;
            bar.HostField()->setText(QStringLiteral("ftp.one"));
            UserField(bar)->setText(c.user);
            PasswordField(bar)->setText(c.password);
            const QString entry = bar.HistoryEntry();
            bar.HostHistory()->AddToHistory(&entry);
        }
        EXPECT_EQ(Values(kQuick), (Stored{{"QuickConnect0", c.stored}}));
        CQuickConnectBar bar;
        EXPECT_EQ(bar.Host(), QStringLiteral("ftp.one"));
        EXPECT_EQ(bar.User(), c.user);
        EXPECT_EQ(bar.Password(), c.password);
    }
}

// ---- Go To Folder ------------------------------------------------------------

QPushButton* Button(const QDialog& dialog, QDialogButtonBox::StandardButton which)
{
    return dialog.findChild<QDialogButtonBox*>()->button(which);
}

TEST_F(HistoryTest, GoToFolderOffersTheHistoryWithAnEmptyPath)
{
    Put(kFolders, {{"GoToFolder0", "/pub|"}, {"GoToFolder1", "/incoming|"}});
    CGoToFolderDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Go To Folder"));
    EXPECT_EQ(LabelTexts(dialog), QStringList{"Type the path of the folder you want to open."});
    EXPECT_EQ(EntriesOf(*dialog.History()), (Entries{{"/pub", ""}, {"/incoming", ""}}));
    EXPECT_EQ(dialog.Path(), QString());
    EXPECT_EQ(Button(dialog, QDialogButtonBox::Ok)->text().remove(QLatin1Char('&')), QStringLiteral("OK"));
    EXPECT_EQ(Button(dialog, QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Cancel"));
}

TEST_F(HistoryTest, GoToFolderOkRemembersThePathAndShiftOkForgetsEverything)
{
    Put(kFolders, {{"GoToFolder0", "/pub|"}, {"GoToFolder1", "/incoming|"}});
    {
        CGoToFolderDlg dialog;
        dialog.SetShiftOverride(false);
        dialog.History()->setEditText(QStringLiteral("/pub/new folder"));
        Button(dialog, QDialogButtonBox::Ok)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Path(), QStringLiteral("/pub/new folder"));
    }
    {
        CGoToFolderDlg dialog;
        dialog.SetShiftOverride(false);
        dialog.History()->setEditText(QStringLiteral("/PUB"));
        Button(dialog, QDialogButtonBox::Ok)->click();
        EXPECT_EQ(dialog.Path(), QStringLiteral("/PUB"));
    }
    EXPECT_EQ(Values(kFolders),
              (Stored{{"GoToFolder0", "/pub|"}, {"GoToFolder1", "/incoming|"}, {"GoToFolder2", "/pub/new folder|"}}));
    {
        CGoToFolderDlg dialog;
        dialog.History()->setEditText(QStringLiteral("/ignored"));
        Button(dialog, QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(Values(kFolders).size(), 3u);
    {
        CGoToFolderDlg dialog;
        EXPECT_EQ(dialog.History()->count(), 3);
        dialog.SetShiftOverride(true);
        dialog.History()->setEditText(QStringLiteral("/somewhere"));
        Button(dialog, QDialogButtonBox::Ok)->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Path(), QString());
        EXPECT_EQ(dialog.History()->count(), 0);
    }
    EXPECT_TRUE(Values(kFolders).empty());
    CGoToFolderDlg reopened;
    EXPECT_EQ(reopened.History()->count(), 0);
}

TEST_F(HistoryTest, EnterInGoToFolderIsOk)
{
    CGoToFolderDlg dialog;
    dialog.SetShiftOverride(false);
    dialog.show();
    dialog.History()->setEditText(QStringLiteral("/pub"));
    QTest::keyClick(dialog.History(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Path(), QStringLiteral("/pub"));
    EXPECT_EQ(Values(kFolders), (Stored{{"GoToFolder0", "/pub|"}}));
}

// ---- Send Custom Command -----------------------------------------------------

TEST_F(HistoryTest, CustomCommandReturnsTheTypedLine)
{
    const struct {
        const char* name;
        bool byEnter;
    } cases[] = {{"Send clicked", false}, {"Enter pressed", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CCustomCommandDlg dialog;
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Send Custom Command"));
        EXPECT_EQ(LabelTexts(dialog), QStringList{"Command:"});
        const QList<QPushButton*> buttons = dialog.findChildren<QPushButton*>();
        QStringList texts;
        QPushButton* send = nullptr;
        for (QPushButton* button : buttons) {
            texts << QString(button->text()).remove(QLatin1Char('&'));
            if (button->text() == QStringLiteral("Send"))
                send = button;
        }
        texts.sort();
        EXPECT_EQ(texts, (QStringList{"Cancel", "Send"}));
        ASSERT_NE(send, nullptr);
        EXPECT_TRUE(send->isDefault());
        EXPECT_EQ(dialog.Command(), QString());

        dialog.show();
        QTest::keyClicks(dialog.CommandField(), QStringLiteral("SITE CHMOD 644 a, b|c.txt"));
        if (c.byEnter)
            QTest::keyClick(dialog.CommandField(), Qt::Key_Return);
        else
            send->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Command(), QStringLiteral("SITE CHMOD 644 a, b|c.txt"));
    }
    CCustomCommandDlg cancelled;
    cancelled.CommandField()->setText(QStringLiteral("NOOP"));
    cancelled.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

} // namespace
