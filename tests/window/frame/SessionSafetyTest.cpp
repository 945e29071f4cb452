// What the user does while the session is busy, and where remote items are
// looked for: every test here lost or touched files the user never chose, or
// showed one folder while acting in another, before the session ran one
// operation at a time on absolute paths.
#include "window/frame/FrameFixture.h"
#include "window/frame/RemotePresenter.h"
#include "engine/base/Settings.h"
#include "engine/session/MessagePump.h"
#include "window/resources/CommandIds.h"
#include "window/views/QuickConnectBar.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

namespace {

using namespace kx;

class SessionSafetyTest : public FrameFixture {
protected:
    bool Exists(const std::string& rel) const { return std::filesystem::exists(m_root.Path(rel)); }

    // A real click of the user on a node of the tree.
    void ClickNode(QTreeWidgetItem* node)
    {
        CFtpTreeView* tree = m_frame->TreeView();
        tree->scrollToItem(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
    }

    // Everything a user might do to the remote views while an operation
    // runs: click and key in the tree, F5, double-click a row, the
    // commands, and a selection changed by other code.
    void TryEverything(QTreeWidgetItem* node)
    {
        ClickNode(node);
        QTest::keyClick(m_frame->TreeView(), Qt::Key_Down);
        QTest::keyClick(m_frame.get(), Qt::Key_F5);
        DoubleClickRow(0);
        for (const int id : {cmd::ID_REFRESH, cmd::ID_DELETE, cmd::ID_DISCONNECT, cmd::ID_UP_ONE_LEVEL, cmd::ID_CONNECT})
            m_frame->Command(id)->trigger();
        m_frame->TreeView()->setCurrentItem(node);
        m_frame->KeepAlive().Tick();
    }

    QStringList Listed(int from) const { return Trace(from).filter(QStringLiteral("Receiving listing of")); }
};

TEST_F(SessionSafetyTest, ClicksRefreshAndCommandsDuringADeleteTouchNothingElse)
{
    for (const char* name : {"a1", "a2", "a3", "a4", "a5"})
        m_root.Write(name, "a");
    for (const char* name : {"sibling/a1", "sibling/a3", "sibling/a5", "sibling/s"})
        m_root.Write(name, "s");
    // The second deletion is slow, so the user's actions land in the middle.
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--stall", "DELE#2=0.6"});
    ASSERT_TRUE(Connect());
    QTreeWidgetItem* sibling = Child(m_frame->TreeView()->Root(), QStringLiteral("sibling"));
    ASSERT_NE(sibling, nullptr);
    Select({QStringLiteral("a1"), QStringLiteral("a3"), QStringLiteral("a5")});

    const int before = TraceCount();
    bool triedWhileBusy = false;
    QTimer::singleShot(200, m_frame.get(), [&] {
        triedWhileBusy = m_frame->Session().IsBusy();
        TryEverything(sibling);
    });
    m_frame->Command(cmd::ID_DELETE)->trigger();
    EXPECT_TRUE(triedWhileBusy);

    for (const char* gone : {"a1", "a3", "a5"})
        EXPECT_FALSE(Exists(gone)) << gone;
    for (const char* kept : {"a2", "a4", "sibling/a1", "sibling/a3", "sibling/a5", "sibling/s"})
        EXPECT_TRUE(Exists(kept)) << kept;
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("sibling"), QStringLiteral("a2"), QStringLiteral("a4")}));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/"));
    EXPECT_EQ(m_frame->TreeView()->currentItem(), m_frame->TreeView()->Root());
    EXPECT_TRUE(Listed(before).isEmpty());
    EXPECT_TRUE(m_frame->Session().HasConnection());

    // Idle again, the same click lists the folder.
    ClickNode(sibling);
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/sibling"));
    EXPECT_EQ(Rows().size(), 4);
}

TEST_F(SessionSafetyTest, AClickDuringASlowListingKeepsTheListingAndTheConnection)
{
    m_root.MakeDir("d1");
    m_root.MakeDir("d2");
    std::string listing;
    for (int i = 0; i < 3000; ++i)
        listing += "-rw-r--r--   1 ftp ftp  1 Jan 15  2024 f" + std::to_string(i) + "\r\n";
    const std::string listingFile = m_files.Write("d1.txt", listing);
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE", "--list-file", "/d1=" + listingFile,
                                                        "--data-stall-after", "LIST#2=20000"});
    ASSERT_TRUE(Connect());
    QTreeWidgetItem* d1 = Child(m_frame->TreeView()->Root(), QStringLiteral("d1"));
    QTreeWidgetItem* d2 = Child(m_frame->TreeView()->Root(), QStringLiteral("d2"));
    ASSERT_TRUE(d1 && d2);

    const int before = TraceCount();
    bool cancelEnabled = false;
    QTimer::singleShot(500, m_frame.get(), [&] {
        TryEverything(d2);
        cancelEnabled = m_frame->Command(cmd::ID_CANCEL)->isEnabled();
        m_frame->Command(cmd::ID_CANCEL)->trigger();
    });
    ClickNode(d1);
    EXPECT_TRUE(cancelEnabled);
    EXPECT_EQ(Listed(before), QStringList{QStringLiteral("Receiving listing of \"/d1\"...")});
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/d1"));
    EXPECT_EQ(m_frame->TreeView()->currentItem(), d1);
    EXPECT_GT(Rows().size(), 0);
    EXPECT_LT(Rows().size(), 3000);
    EXPECT_TRUE(m_frame->Session().IsConnected());
    ClickNode(d2);
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/d2"));
}

TEST_F(SessionSafetyTest, DisconnectAndCloseDuringARecursiveDeleteWaitForIt)
{
    for (int i = 0; i < 6; ++i)
        m_root.Write("tree/sub/f" + std::to_string(i), "x");
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--stall", "DELE#2=0.5"});
    ASSERT_TRUE(Connect());
    Select({QStringLiteral("tree")});

    QStringList refusal;
    QTimer::singleShot(200, m_frame.get(), [&] {
        m_frame->Command(cmd::ID_DISCONNECT)->trigger();
        const int from = TraceCount();
        m_frame->Session().Close();
        refusal = Trace(from);
        m_frame->close(); // cancels, and closes once the delete has stopped
    });
    m_frame->Command(cmd::ID_DELETE)->trigger();
    EXPECT_EQ(refusal, QStringList{QStringLiteral("Cannot disconnect while an operation is running; cancel it first.")});
    const QStringList trace = Trace();
    EXPECT_TRUE(trace.contains(QStringLiteral("Cancelled; the remaining items were not touched.")));
    EXPECT_FALSE(trace.contains(QStringLiteral("Closing FTP session...")));
    EXPECT_TRUE(Exists("tree/sub/f5"));
    EXPECT_TRUE(m_frame->isVisible()); // not while the delete was still on the stack
    PumpMessages();
    EXPECT_FALSE(m_frame->isVisible());
}

TEST_F(SessionSafetyTest, GoToBelowAndOutsideAHomeFolderThenDeleteTheFileOnScreen)
{
    for (const char* path : {"home/user/x.txt", "home/user/docs/x.txt", "home/user/docs/y.txt",
                             "home/user/pub/x.txt", "srv/x.txt", "srv/y.txt"})
        m_root.Write(path, "x");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret", {"--home", "/home/user"});
    ASSERT_TRUE(Connect());
    ASSERT_EQ(m_frame->Session().HomeFolder().ToString(), QStringLiteral("/home/user"));
    CFtpTreeView* tree = m_frame->TreeView();
    const auto deleteOnScreen = [this](const char* name) {
        Select({QString::fromUtf8(name)});
        m_frame->Command(cmd::ID_DELETE)->trigger();
    };

    m_frame->ItemCommands().GoToFolder(QStringLiteral("docs"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/home/user/docs"));
    EXPECT_EQ(tree->currentItem(), NodeAt(QStringLiteral("/home/user/docs")));
    deleteOnScreen("x.txt");
    EXPECT_FALSE(Exists("home/user/docs/x.txt"));
    EXPECT_TRUE(Exists("home/user/x.txt"));

    m_frame->ItemCommands().GoToFolder(QStringLiteral("/home/user/pub"));
    EXPECT_EQ(tree->currentItem(), NodeAt(QStringLiteral("/home/user/pub")));
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("x.txt")});
    deleteOnScreen("x.txt");
    EXPECT_FALSE(Exists("home/user/pub/x.txt"));
    EXPECT_TRUE(Exists("home/user/x.txt"));

    // Outside the home folder: listed under its real path, and the commands
    // act there; Up One Level climbs towards the server's root.
    m_frame->ItemCommands().GoToFolder(QStringLiteral("../../../srv"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/srv"));
    EXPECT_EQ(tree->currentItem(), NodeAt(QStringLiteral("/srv")));
    deleteOnScreen("x.txt");
    EXPECT_FALSE(Exists("srv/x.txt"));
    m_frame->Command(cmd::ID_REFRESH)->trigger();
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("y.txt")});
    m_frame->Command(cmd::ID_UP_ONE_LEVEL)->trigger();
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/"));

    // Back in the home folder by the tree.
    ClickNode(NodeAt(QStringLiteral("/home/user")));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/home/user"));
    deleteOnScreen("x.txt");
    EXPECT_FALSE(Exists("home/user/x.txt"));
    EXPECT_TRUE(Exists("home/user/docs/y.txt"));
}

TEST_F(SessionSafetyTest, AFolderThatFailsHalfWayDoesNotMoveTheNextDelete)
{
    m_root.Write("a/one.txt", "1");
    m_root.Write("a/same.txt", "inner");
    m_root.Write("same.txt", "outer");
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--reply", "DELE#2=550 Permission denied.\\r\\n"});
    ASSERT_TRUE(Connect());
    Select({QStringLiteral("a"), QStringLiteral("same.txt")});
    m_frame->Command(cmd::ID_DELETE)->trigger();

    EXPECT_FALSE(Exists("same.txt"));
    EXPECT_TRUE(Exists("a/same.txt"));
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("a")});
    // The server is back in the folder on screen.
    const int before = TraceCount();
    m_frame->Session().SendCustomCommand(QStringLiteral("PWD"));
    EXPECT_TRUE(Trace(before).last().startsWith(QStringLiteral("257 \"/\""))) << Trace(before).last().toStdString();
}

TEST_F(SessionSafetyTest, AFailedListingLeavesRefreshOnTheFolderOnScreen)
{
    m_root.Write("good/g.txt", "g");
    m_root.MakeDir("gone");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    CFtpTreeView* tree = m_frame->TreeView();
    QTreeWidgetItem* good = Child(tree->Root(), QStringLiteral("good"));
    QTreeWidgetItem* gone = Child(tree->Root(), QStringLiteral("gone"));
    ASSERT_TRUE(good && gone);
    ClickNode(good);
    std::filesystem::remove(m_root.Path("gone"));
    ClickNode(gone);
    EXPECT_EQ(tree->currentItem(), good);
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/good"));

    const int before = TraceCount();
    m_frame->Command(cmd::ID_REFRESH)->trigger();
    EXPECT_EQ(Trace(before).last(), QStringLiteral("Listing of \"/good\" successfully received."));
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("g.txt")});
    EXPECT_EQ(m_frame->ItemCommands().PropertiesOf(0).location, QStringLiteral("/good/g.txt"));
}

TEST_F(SessionSafetyTest, RenamingAFileNamedLikeAFolderElsewhereLeavesTheTreeAlone)
{
    m_root.Write("data", "a file");
    m_root.MakeDir("sub/data/deeper");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    ASSERT_TRUE(Connect());
    CFtpTreeView* tree = m_frame->TreeView();
    QTreeWidgetItem* sub = Child(tree->Root(), QStringLiteral("sub"));
    ASSERT_NE(sub, nullptr);
    ClickNode(sub);
    ClickNode(tree->Root());
    const auto rename = [this](const char* from, const char* to) {
        Select({QString::fromUtf8(from)});
        m_frame->Command(cmd::ID_RENAME)->trigger();
        ASSERT_NE(m_frame->ListView()->Editor(), nullptr);
        m_frame->ListView()->Editor()->setText(QString::fromUtf8(to));
        QTest::keyClick(m_frame->ListView()->Editor(), Qt::Key_Return);
    };

    rename("data", "info");
    EXPECT_TRUE(Exists("info"));
    EXPECT_EQ(Children(sub), QStringList{QStringLiteral("data")});

    // A folder's node follows its rename, with what lies below it.
    rename("sub", "A-sub");
    QTreeWidgetItem* renamed = Child(tree->Root(), QStringLiteral("A-sub"));
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(Children(renamed), QStringList{QStringLiteral("data")});
    ClickNode(Child(renamed, QStringLiteral("data")));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/A-sub/data"));

    // A name that is a path is refused before anything is sent.
    const int before = TraceCount();
    rename("deeper", "../escaped");
    EXPECT_TRUE(Trace(before).filter(QStringLiteral("Renaming")).isEmpty());
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].startsWith(QStringLiteral("\"../escaped\" cannot be used as a name.")));
    EXPECT_TRUE(Exists("A-sub/data/deeper"));
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("deeper")});
}

TEST_F(SessionSafetyTest, QuickConnectWaitsForTheRunningConnectAndUnfinishedCommandsAreOff)
{
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--stall", "GREETING"});
    CQuickConnectBar* bar = m_frame->QuickConnectBar();
    bool buttonEnabled = true;
    QTimer::singleShot(300, m_frame.get(), [&] {
        buttonEnabled = bar->ConnectButton()->isEnabled();
        bar->HostField()->setText(QStringLiteral("127.0.0.1:%1").arg(m_server->port()));
        emit bar->ConnectRequested();
        m_frame->Command(cmd::ID_CANCEL)->trigger();
    });
    EXPECT_FALSE(Connect());
    EXPECT_FALSE(buttonEnabled);
    EXPECT_EQ(Trace().filter(QStringLiteral("Opening Internet Session...")).size(), 1);
    EXPECT_TRUE(bar->ConnectButton()->isEnabled());
    for (const int id : {cmd::ID_DOWNLOAD, cmd::ID_DOWNLOAD_TO, cmd::ID_UPLOAD, cmd::ID_STORE_SITE_LOCAL_PATH})
        EXPECT_FALSE(m_frame->Command(id)->isEnabled()) << id;
}

} // namespace
