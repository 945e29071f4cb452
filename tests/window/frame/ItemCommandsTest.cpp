// The frame's commands on remote items against real servers: delete with its
// failure rules, new folder and rename by in-place editing, properties,
// raw commands and the keep-alive.
#include "window/frame/FrameFixture.h"
#include "window/frame/MainFrame.h"
#include "engine/base/Prompts.h"
#include "engine/base/Settings.h"
#include "window/frame/TracePane.h"
#include "window/frame/FreshProgramState.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/session/MessagePump.h"
#include "window/resources/CommandIds.h"
#include "support/ServerProcess.h"
#include "window/local/LocalBrowserBar.h"
#include "window/transfers/TransferManagerBar.h"
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"
#include "window/views/GeneralPage.h"
#include "window/views/HistoryComboBox.h"
#include "window/views/PermissionsDlg.h"
#include "window/views/QuickConnectBar.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QTreeView>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace {

using namespace kx;

using ItemCommandsTest = FrameFixture;

mode_t ModeOf(const std::string& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST_F(ItemCommandsTest, AFileThatStaysStopsTheDeleteAFolderThatStaysDoesNot)
{
    m_root.Write("a.txt", "a");
    m_root.Write("b.txt", "b");
    m_root.MakeDir("keep");
    m_root.Write("c.txt", "c");
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--reply", "DELE#1=550 Permission denied.\\r\\n",
                                                        "--reply", "RMD=550 Folder is busy.\\r\\n"});
    ASSERT_TRUE(Connect());

    Select({QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    m_frame->Command(cmd::ID_DELETE)->trigger();
    EXPECT_EQ(m_prompts.questions, QStringList{QStringLiteral(
        "Confirm Multiple File Delete: Are you sure you want to delete these 2 items?")});
    EXPECT_TRUE(Rows().contains(QStringLiteral("a.txt")));
    EXPECT_TRUE(Rows().contains(QStringLiteral("b.txt"))); // not touched after the first failure
    EXPECT_TRUE(std::filesystem::exists(m_root.Path("b.txt")));

    const int before = TraceCount();
    Select({QStringLiteral("keep"), QStringLiteral("c.txt")});
    m_frame->Command(cmd::ID_DELETE)->trigger();
    EXPECT_TRUE(Rows().contains(QStringLiteral("keep")));
    EXPECT_FALSE(Rows().contains(QStringLiteral("c.txt")));
    EXPECT_FALSE(std::filesystem::exists(m_root.Path("c.txt")));
    EXPECT_TRUE(Trace(before).contains(QStringLiteral("\"c.txt\" successfully deleted")));
    EXPECT_NE(m_frame->TreeView()->FindItemByName(m_frame->TreeView()->Root(), QStringLiteral("keep")), nullptr);
}

TEST_F(ItemCommandsTest, ConfirmationTextsAndTheSettingThatSkipsThem)
{
    m_root.Write("one.txt", "1");
    m_root.MakeDir("dir/sub");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    m_prompts.answer = IPrompts::No;
    Select({QStringLiteral("one.txt")});
    m_frame->Command(cmd::ID_DELETE)->trigger();
    Select({QStringLiteral("dir")});
    m_frame->Command(cmd::ID_DELETE)->trigger();
    EXPECT_EQ(m_prompts.questions, (QStringList{
        QStringLiteral("Confirm File Delete: Are you sure you want to delete 'one.txt'?"),
        QStringLiteral("Confirm Folder Delete: Are you sure you want to remove the folder 'dir' and all its contents?")}));
    EXPECT_EQ(Rows().size(), 2);

    WriteProfileInt(settings::DeleteConfirmation, 0);
    m_prompts.questions.clear();
    m_frame->Command(cmd::ID_DELETE)->trigger();
    EXPECT_TRUE(m_prompts.questions.isEmpty());
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("one.txt")});
    EXPECT_EQ(m_frame->TreeView()->Root()->childCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(m_root.Path("dir")));
}

TEST_F(ItemCommandsTest, NewFolderByEditingThenEscapeThenRename)
{
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    CFtpListView* list = m_frame->ListView();

    m_frame->Command(cmd::ID_NEW_FOLDER)->trigger();
    ASSERT_NE(list->Editor(), nullptr);
    EXPECT_EQ(list->Editor()->text(), QStringLiteral("New Folder"));
    EXPECT_EQ(list->Editor()->selectedText(), QStringLiteral("New Folder"));
    QTest::keyClick(list->Editor(), Qt::Key_Return);
    PumpMessages();
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("New Folder")});
    EXPECT_TRUE(std::filesystem::is_directory(m_root.Path("New Folder")));
    EXPECT_EQ(m_frame->TreeView()->Root()->child(0)->text(0), QStringLiteral("New Folder"));

    m_frame->Command(cmd::ID_NEW_FOLDER)->trigger();
    ASSERT_NE(list->Editor(), nullptr);
    QTest::keyClick(list->Editor(), Qt::Key_Escape);
    PumpMessages();
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("New Folder")});

    list->SelectItem(0);
    m_frame->Command(cmd::ID_RENAME)->trigger();
    ASSERT_NE(list->Editor(), nullptr);
    list->Editor()->setText(QStringLiteral("Renamed 100%"));
    QTest::keyClick(list->Editor(), Qt::Key_Return);
    PumpMessages();
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("Renamed 100%")});
    EXPECT_TRUE(std::filesystem::is_directory(m_root.Path("Renamed 100%")));
    EXPECT_FALSE(std::filesystem::exists(m_root.Path("New Folder"))); // renamed, not created
    EXPECT_EQ(m_frame->TreeView()->Root()->child(0)->text(0), QStringLiteral("Renamed 100%"));
}

TEST_F(ItemCommandsTest, ExploreUpOneLevelAndProperties)
{
    m_root.Write("pub/big.iso", std::string(1234567, 'x'));
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    Select({QStringLiteral("pub")});
    const int before = TraceCount();
    m_frame->Command(cmd::ID_EXPLORE)->trigger();
    EXPECT_EQ(Trace(before).first(), QStringLiteral("Changing Folder: \"pub\""));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/pub"));
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("big.iso")});

    const RemoteItemProperties item = m_frame->ItemCommands().PropertiesOf(0);
    CPropertiesSheet sheet(item);
    EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Properties"));
    EXPECT_EQ(sheet.GeneralPage()->FieldText(QStringLiteral("size")), QStringLiteral("1,206 KB (1,234,567 bytes)"));
    EXPECT_EQ(sheet.GeneralPage()->FieldText(QStringLiteral("location")), QStringLiteral("/pub/big.iso"));
    EXPECT_EQ(sheet.GeneralPage()->FieldText(QStringLiteral("name")), QStringLiteral("big.iso"));
    EXPECT_EQ(FormatThousands(0), QStringLiteral("0"));
    EXPECT_EQ(FormatThousands(999), QStringLiteral("999"));
    EXPECT_EQ(FormatThousands(1000), QStringLiteral("1,000"));
    EXPECT_EQ(FormatThousands(5368709120ULL), QStringLiteral("5,368,709,120"));

    m_frame->Command(cmd::ID_UP_ONE_LEVEL)->trigger();
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/"));
    EXPECT_EQ(m_frame->TreeView()->currentItem(), m_frame->TreeView()->Root());
}

TEST_F(ItemCommandsTest, CustomCommandAndKeepAliveTraceTheReply)
{
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    WriteProfileInt(settings::Interval, 1);
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(m_frame->KeepAlive().IsRunning());

    int before = TraceCount();
    m_frame->Session().SendCustomCommand(QStringLiteral("SYST"));
    QStringList trace = Trace(before);
    ASSERT_EQ(trace.size(), 2);
    EXPECT_EQ(trace[0], QStringLiteral("Sending custom command: SYST..."));
    EXPECT_TRUE(trace[1].startsWith(QStringLiteral("215"))) << trace[1].toStdString();
    EXPECT_EQ(TraceColours(before), (QList<QColor>{QColor(0, 0, 255), QColor(0, 130, 0)}));
    const QStringList talk = Conversation(before);
    ASSERT_EQ(talk.size(), 2);
    EXPECT_EQ(talk[0], QStringLiteral("Command: SYST"));
    EXPECT_EQ(talk[1], QStringLiteral("Response: ") + trace[1]);

    // An idle connection sends NOOP on the timer.
    before = TraceCount();
    QTest::qWait(1600);
    trace = Trace(before);
    ASSERT_GE(trace.size(), 2);
    EXPECT_EQ(trace[0], QStringLiteral("Sending NOOP command..."));
    EXPECT_TRUE(trace[1].startsWith(QStringLiteral("200")));

    // Switched off in the options: nothing more, on this connection too.
    WriteProfileInt(settings::KeepAlive, 0);
    m_frame->OnOptionsConfirmed();
    before = TraceCount();
    QTest::qWait(1300);
    EXPECT_TRUE(Trace(before).filter(QStringLiteral("NOOP")).isEmpty());

    // Disconnected, a raw command gets no answer.
    m_frame->Command(cmd::ID_DISCONNECT)->trigger();
    before = TraceCount();
    m_frame->Session().SendCustomCommand(QStringLiteral("NOOP"));
    EXPECT_EQ(Trace(before).last(), QStringLiteral("Did not received any response!"));
}

} // namespace

namespace {

TEST_F(ItemCommandsTest, GoToFolderRelativeAndAbsolute)
{
    m_root.MakeDir("pub/sub/deeper");
    m_root.MakeDir("other");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    m_frame->ItemCommands().GoToFolder(QStringLiteral("pub"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/pub"));
    m_frame->ItemCommands().GoToFolder(QStringLiteral("sub"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/pub/sub"));
    EXPECT_EQ(CFtpTreeView::ItemPath(m_frame->TreeView()->currentItem()), QStringLiteral("/pub/sub"));
    m_frame->ItemCommands().GoToFolder(QStringLiteral("\\other"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/other"));

    const int before = TraceCount();
    m_frame->ItemCommands().GoToFolder(QStringLiteral("/missing"));
    const QStringList trace = Trace(before);
    EXPECT_EQ(trace.first(), QStringLiteral("Changing folder: \"/missing\""));
    EXPECT_EQ(trace.last(), QStringLiteral("An error occurred opening the folder: \"/missing\""));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/other"));
}

TEST_F(ItemCommandsTest, QuickConnectToAnSftpHostMakesAnSftpSite)
{
    m_frame->show();
    CQuickConnectBar* bar = m_frame->QuickConnectBar();
    // With a password nothing is asked before the connection is tried.
    bar->findChild<QLineEdit*>(QStringLiteral("user"))->setText(QStringLiteral("anna"));
    bar->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("secret"));
    struct Case {
        const char* host;
        int protocol; // what the bar's drop-down says
        int port;
    } const cases[] = {
        {"sftp://nohost.invalid/srv", 0, 22},
        {"sftp://nohost.invalid:2222", 0, 2222},
        {"nohost.invalid", 1, 22},
        {"nohost.invalid", 0, 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        bar->HostField()->setText(QString::fromUtf8(c.host));
        bar->SetProtocol(static_cast<SiteProtocol>(c.protocol));
        emit bar->ConnectRequested();
        // Nothing answers there; the site the connection was tried with stays.
        EXPECT_FALSE(m_frame->Session().HasConnection());
        const CFtpSite& site = m_frame->Session().SiteRecord();
        EXPECT_EQ(site.protocol, c.port == 21 ? SiteProtocol::Ftp : SiteProtocol::Sftp);
        EXPECT_EQ(site.port, c.port);
        EXPECT_TRUE(site.address.contains(QStringLiteral("nohost.invalid")));
    }
    EXPECT_EQ(m_frame->Session().SiteRecord().address, QStringLiteral("nohost.invalid"));
}

TEST_F(ItemCommandsTest, QuickConnectRemembersTheHost)
{
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    m_frame->show();
    CQuickConnectBar* bar = m_frame->QuickConnectBar();
    bar->HostField()->setText(QStringLiteral("127.0.0.1:%1").arg(m_server->port()));
    bar->findChild<QLineEdit*>(QStringLiteral("user"))->setText(QStringLiteral("anna"));
    bar->findChild<QLineEdit*>(QStringLiteral("password"))->setText(QStringLiteral("sec,ret|%"));
    emit bar->ConnectRequested();
    EXPECT_FALSE(m_frame->Session().HasConnection()); // that password is wrong
    ASSERT_EQ(bar->HostHistory()->count(), 1);
    EXPECT_EQ(CHistoryComboBox::DataField(bar->HostHistory()->EntryData(0), 1), QStringLiteral("sec,ret|%"));

    CMainFrame again;
    EXPECT_EQ(again.QuickConnectBar()->Host(), QStringLiteral("127.0.0.1:%1").arg(m_server->port()));
    EXPECT_EQ(again.QuickConnectBar()->User(), QStringLiteral("anna"));
    EXPECT_EQ(again.QuickConnectBar()->Password(), QStringLiteral("sec,ret|%"));
}

} // namespace

namespace {

TEST_F(ItemCommandsTest, NoKeepAliveWhileAListingRuns)
{
    std::string listing;
    for (int i = 0; i < 3000; ++i)
        listing += "-rw-r--r--   1 ftp ftp  1 Jan 15  2024 f" + std::to_string(i) + "\r\n";
    const std::string listingFile = m_files.Write("listing.txt", listing);
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE", "--list-file", listingFile,
                                                        "--data-stall-after", "LIST=5000"});
    bool listingWhenTicked = false;
    int noopLines = -1;
    QTimer::singleShot(600, [&] {
        listingWhenTicked = m_frame->Session().IsListing();
        const int before = TraceCount();
        m_frame->KeepAlive().Tick();
        noopLines = int(Trace(before).filter(QStringLiteral("NOOP")).size());
        m_frame->Command(cmd::ID_CANCEL)->trigger();
    });
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(listingWhenTicked);
    EXPECT_EQ(noopLines, 0);
    // Idle again: the tick sends.
    const int before = TraceCount();
    m_frame->KeepAlive().Tick();
    EXPECT_EQ(Trace(before).first(), QStringLiteral("Sending NOOP command..."));
}

} // namespace

namespace {

TEST_F(ItemCommandsTest, KeysOfTheViewsStayInTheViewsAndMenuKeysWork)
{
    m_root.Write("a.txt", "a");
    m_root.MakeDir("sub");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    m_frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    Select({QStringLiteral("a.txt")});

    // Typing in the Quick Connect bar: Enter connects, F2 stays in the field.
    m_frame->QuickConnectDock()->show();
    CQuickConnectBar* bar = m_frame->QuickConnectBar();
    QLineEdit* user = bar->findChild<QLineEdit*>(QStringLiteral("user"));
    QApplication::processEvents();
    user->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), user);
    QTest::keyClick(user, Qt::Key_F2);
    EXPECT_EQ(m_frame->ListView()->Editor(), nullptr);
    QSignalSpy connectRequests(bar, &CQuickConnectBar::ConnectRequested);
    bar->HostField()->setFocus();
    ASSERT_TRUE(bar->HostField()->hasFocus());
    bar->HostField()->setText(QStringLiteral("127.0.0.1:%1").arg(m_server->port()));
    const int before = TraceCount();
    QTest::keyClick(bar->HostHistory(), Qt::Key_Return); // the focus widget of the host field
    EXPECT_EQ(connectRequests.count(), 1);
    EXPECT_TRUE(Trace(before).filter(QStringLiteral("Changing Folder")).isEmpty());

    // Ctrl+C copies in a text field, Ctrl+D disconnects, Ctrl+C elsewhere connects.
    bar->HostField()->selectAll();
    QTest::keyClick(bar->HostField(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), bar->HostField()->text());
    m_frame->ListView()->FocusList();
    QTest::keyClick(m_frame->ListView()->CurrentView(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_FALSE(m_frame->Session().HasConnection());
    QString opened;
    WhenModal([&](QWidget* modal) {
        opened = modal->windowTitle();
        modal->close();
    });
    QTest::keyClick(m_frame->ListView()->CurrentView(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(opened, QStringLiteral("Site Manager"));
}

TEST_F(ItemCommandsTest, PropertiesShowTheOwnerGroupAndPermissionsTheListingGives)
{
    const std::string listing = "-rw-r-----   1 anna     staff          12 Jan 15  2024 report.txt\r\n"
                                "drwxr-x---   2 root     wheel        4096 Jan 15  2024 private\r\n";
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE", "--list-file", m_files.Write("list.txt", listing)});
    ASSERT_TRUE(Connect());
    QStringList shown;
    WhenModal([&](QWidget* modal) {
        auto* sheet = qobject_cast<CPropertiesSheet*>(modal);
        ASSERT_NE(sheet, nullptr);
        for (const char* field : {"owner", "group", "permissions"})
            shown << sheet->GeneralPage()->FieldText(QString::fromLatin1(field));
        sheet->accept();
    });
    Select({QStringLiteral("report.txt")});
    m_frame->Command(cmd::ID_PROPERTIES)->trigger();
    EXPECT_EQ(shown, (QStringList{QStringLiteral("anna"), QStringLiteral("staff"), QStringLiteral("rw-r-----")}));
    const RemoteItemProperties folder = m_frame->ItemCommands().PropertiesOf(RowOf(QStringLiteral("private")));
    EXPECT_EQ(folder.owner + QLatin1Char(':') + folder.group + QLatin1Char(' ') + folder.permissions,
              QStringLiteral("root:wheel rwxr-x---"));
}

TEST_F(ItemCommandsTest, AGoToThatFailsSaysSoWhereTheUserLooked)
{
    m_root.MakeDir("pub");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    WhenModal([](QWidget* modal) {
        auto* path = modal->findChild<QComboBox*>();
        ASSERT_NE(path, nullptr);
        path->setEditText(QStringLiteral("/nope"));
        static_cast<QDialog*>(modal)->accept();
    });
    m_frame->Command(cmd::ID_GO_TO_FOLDER)->trigger();
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].startsWith(QStringLiteral("The folder \"/nope\" could not be opened.\n\nThe server said: 550")))
        << m_prompts.messages[0].toStdString();
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/pub"));
    // One that opens says nothing.
    m_frame->ItemCommands().GoToFolder(QStringLiteral("/"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/"));
    EXPECT_EQ(m_prompts.messages.size(), 1);
}

TEST_F(ItemCommandsTest, ACommandThatRunsClosesTheNameEditorUnsaved)
{
    m_root.Write("a.txt", "a");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    kxtest::TempDir downloads;
    m_frame->LocalBrowser()->GoToPath(QString::fromStdString(downloads.path()));
    ASSERT_TRUE(Connect());
    Select({QStringLiteral("a.txt")});
    m_frame->Command(cmd::ID_RENAME)->trigger();
    ASSERT_TRUE(m_frame->ListView()->IsEditing());
    m_frame->ListView()->Editor()->setText(QStringLiteral("half"));
    m_frame->Command(cmd::ID_DOWNLOAD)->trigger();
    EXPECT_FALSE(m_frame->ListView()->IsEditing());
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("a.txt")});
    EXPECT_TRUE(std::filesystem::exists(m_root.Path("a.txt")));
    EXPECT_EQ(m_frame->TransferManager()->JobCount(), 1);
}

TEST_F(ItemCommandsTest, StatusBarRepliesAndColumnsTellTheWholeStory)
{
    m_root.Write("a-file-with-a-rather-long-name-to-show.txt", std::string(3000, 'a'));
    m_root.Write("b.txt", std::string(5000, 'b'));
    m_root.MakeDir("sub");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    m_frame->Command(cmd::ID_VIEW_DETAILS)->trigger();
    ASSERT_TRUE(Connect());
    QLabel* status = m_frame->findChild<QLabel*>(QStringLiteral("listStatus"));
    ASSERT_NE(status, nullptr);
    Select({QStringLiteral("a-file-with-a-rather-long-name-to-show.txt"), QStringLiteral("b.txt")});
    EXPECT_EQ(status->text(), QStringLiteral("3 items, 2 selected (8 KB)"));
    // A folder's size is not known: no size is made up for it.
    Select({QStringLiteral("sub")});
    EXPECT_EQ(status->text(), QStringLiteral("3 items, 1 selected"));
    Select({QStringLiteral("sub"), QStringLiteral("b.txt")});
    EXPECT_EQ(status->text(), QStringLiteral("3 items, 2 selected (5 KB)"));

    // Each line of a multi-line reply is a line of the Trace.
    const int before = TraceCount();
    m_frame->Session().SendCustomCommand(QStringLiteral("HELP"));
    const QStringList reply = Trace(before + 1);
    EXPECT_GT(reply.size(), 2);
    EXPECT_TRUE(reply.first().startsWith(QStringLiteral("214")));
    for (const QString& line : reply)
        EXPECT_FALSE(line.contains(QLatin1Char('\n')));

    // The Details columns fit what they show; the last one takes the rest.
    QTreeView* details = m_frame->ListView()->DetailsView();
    const int nameWidth = details->header()->sectionSize(0);
    EXPECT_GT(nameWidth, details->fontMetrics().horizontalAdvance(QStringLiteral("a-file-with-a-rather-long-name-to-show.txt")));
    EXPECT_TRUE(details->header()->stretchLastSection());
    // The user's widths outlive the window.
    details->header()->resizeSection(0, 333);
    m_frame->close();
    m_frame = std::make_unique<CMainFrame>();
    EXPECT_EQ(m_frame->ListView()->DetailsView()->header()->sectionSize(0), 333);
}

TEST_F(ItemCommandsTest, PermissionsAreReadFromTheListingAndSetThroughTheDialog)
{
    m_root.Write("www/a.txt", "a");
    m_root.Write("www/b.txt", "b");
    m_root.Write("www/c.txt", "c");
    ASSERT_EQ(::chmod(m_root.Path("www/a.txt").c_str(), 0640), 0);
    ASSERT_EQ(::chmod(m_root.Path("www/b.txt").c_str(), 0600), 0);
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    m_frame->Command(cmd::ID_VIEW_DETAILS)->trigger();
    ASSERT_TRUE(Connect(QStringLiteral("/www")));
    CFtpListView* list = m_frame->ListView();
    // The listing has modes and owners: their columns show.
    for (const int column : {CFtpListModel::PermissionsColumn, CFtpListModel::OwnerColumn, CFtpListModel::GroupColumn})
        EXPECT_TRUE(list->IsColumnShown(column)) << column;
    EXPECT_EQ(list->ItemText(RowOf(QStringLiteral("a.txt")), CFtpListModel::PermissionsColumn), QStringLiteral("rw-r-----"));

    // One file: its mode in the boxes, a new one typed.
    QString shown;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<CPermissionsDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        shown = dialog->OctalField()->text();
        dialog->OctalField()->setText(QString());
        QTest::keyClicks(dialog->OctalField(), QStringLiteral("604"));
        dialog->accept();
    });
    Select({QStringLiteral("a.txt")});
    m_frame->Command(cmd::ID_PERMISSIONS)->trigger();
    EXPECT_EQ(shown, QStringLiteral("640"));
    EXPECT_EQ(ModeOf(m_root.Path("www/a.txt")), 0604u);
    EXPECT_TRUE(Trace().contains(QStringLiteral("Permissions successfully changed")));
    // Listed again: the row shows the new mode.
    EXPECT_EQ(list->ItemText(RowOf(QStringLiteral("a.txt")), CFtpListModel::PermissionsColumn), QStringLiteral("rw----r--"));

    // Two that disagree: the half-ticked box keeps each one's own bit.
    Qt::CheckState othersRead = Qt::Checked;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<CPermissionsDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        othersRead = dialog->Box(2, 0)->checkState();
        dialog->Box(1, 0)->setCheckState(Qt::Checked); // group read for both
        dialog->accept();
    });
    Select({QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    m_frame->Command(cmd::ID_PERMISSIONS)->trigger();
    EXPECT_EQ(othersRead, Qt::PartiallyChecked);
    EXPECT_EQ(ModeOf(m_root.Path("www/a.txt")), 0644u);
    EXPECT_EQ(ModeOf(m_root.Path("www/b.txt")), 0640u);

    // Cancelled: nothing is sent.
    const int before = TraceCount();
    WhenModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    Select({QStringLiteral("c.txt")});
    m_frame->Command(cmd::ID_PERMISSIONS)->trigger();
    EXPECT_FALSE(Conversation(before).join(QLatin1Char('\n')).contains(QStringLiteral("SITE")));
}

TEST_F(ItemCommandsTest, ColumnsTheUserHidesStayHiddenAndTheListingsColumnsComeAndGo)
{
    m_root.Write("a.txt", "a");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    m_frame->Command(cmd::ID_VIEW_DETAILS)->trigger();
    CFtpListView* list = m_frame->ListView();
    // Nothing listed yet: nothing to show in them.
    EXPECT_FALSE(list->IsColumnShown(CFtpListModel::OwnerColumn));
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(list->IsColumnShown(CFtpListModel::OwnerColumn));
    std::unique_ptr<QMenu> menu = list->CreateHeaderMenu();
    QAction* owner = nullptr;
    for (QAction* item : menu->actions())
        owner = item->text() == QStringLiteral("&Owner") ? item : owner;
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(owner->isChecked());
    owner->trigger();
    EXPECT_FALSE(list->IsColumnShown(CFtpListModel::OwnerColumn));
    EXPECT_TRUE(list->IsColumnShown(CFtpListModel::GroupColumn));
    m_frame->close();
    m_frame = std::make_unique<CMainFrame>();
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(m_frame->ListView()->IsColumnShown(CFtpListModel::OwnerColumn));
    EXPECT_TRUE(m_frame->ListView()->IsColumnShown(CFtpListModel::PermissionsColumn));
}

TEST_F(ItemCommandsTest, CopyUrlGivesEncodedAddressesWithoutThePassword)
{
    m_root.Write("pub/a b#1.txt", "a");
    m_root.Write("pub/\xc3\xbc.html", "u");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect(QStringLiteral("/pub")));
    const QString site = QStringLiteral("ftp://anna@127.0.0.1:%1").arg(m_server->port());
    Select({QStringLiteral("a b#1.txt"), QStringLiteral("\u00fc.html")});
    m_frame->Command(cmd::ID_COPY_URL)->trigger();
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied.split(QLatin1Char('\n')),
              (QStringList{site + QStringLiteral("/pub/a%20b%231.txt"), site + QStringLiteral("/pub/%C3%BC.html")}));
    EXPECT_FALSE(copied.contains(QStringLiteral("secret")));
    // Nothing selected: the folder on display.
    Select({});
    m_frame->Command(cmd::ID_COPY_URL)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), site + QStringLiteral("/pub"));
}

TEST_F(ItemCommandsTest, AnEmptyFileIsNamedInPlaceAndNeverEmptiesOneThatExists)
{
    m_root.Write("keep.txt", "precious");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    CFtpListView* list = m_frame->ListView();
    m_frame->Command(cmd::ID_CREATE_EMPTY_FILE)->trigger();
    ASSERT_NE(list->Editor(), nullptr);
    EXPECT_EQ(list->Editor()->text(), QStringLiteral("New File.txt"));
    EXPECT_EQ(list->Editor()->selectedText(), QStringLiteral("New File"));
    QTest::keyClicks(list->Editor(), QStringLiteral("notes"));
    QTest::keyClick(list->Editor(), Qt::Key_Return);
    PumpMessages();
    EXPECT_TRUE(Rows().contains(QStringLiteral("notes.txt")));
    EXPECT_TRUE(std::filesystem::is_regular_file(m_root.Path("notes.txt")));
    EXPECT_EQ(m_root.Read("notes.txt"), "");

    // The name of a file that is there: refused, the file untouched.
    m_frame->Command(cmd::ID_CREATE_EMPTY_FILE)->trigger();
    ASSERT_NE(list->Editor(), nullptr);
    list->Editor()->setText(QStringLiteral("keep.txt"));
    QTest::keyClick(list->Editor(), Qt::Key_Return);
    PumpMessages();
    EXPECT_EQ(m_prompts.messages, QStringList{QStringLiteral("\"keep.txt\" exists already; nothing was created.")});
    EXPECT_EQ(m_root.Read("keep.txt"), "precious");
    EXPECT_EQ(Rows().count(QStringLiteral("keep.txt")), 1);
    EXPECT_EQ(Rows().size(), 2);
}

} // namespace
