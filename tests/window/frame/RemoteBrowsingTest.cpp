// Browsing a real server through the main window: listings into the tree and
// the list, paths, refresh, cancel, and the folder operations' trace lines.
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
#include "window/views/FtpListView.h"
#include "window/views/FtpTreeView.h"

#include <QAction>
#include <QStatusBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace kx;

RemotePath Path(const char* text)
{
    return RemotePath::FromServer(QString::fromUtf8(text));
}

class RemoteBrowsingTest : public FrameFixture {
protected:
    void StartPyFtpd() { m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret"); }
};

TEST_F(RemoteBrowsingTest, ConnectListsTheHomeFolderIntoTreeAndList)
{
    m_root.Write("zeta.txt", "z");
    m_root.Write("Alpha.bin", std::string(2048, 'a'));
    m_root.Write("100% ü.txt", "percent");
    m_root.MakeDir("pub");
    m_root.MakeDir("Docs");
    m_root.MakeDir("empty");
    StartPyFtpd();
    ASSERT_TRUE(Connect());
    CFtpTreeView* tree = m_frame->TreeView();
    ASSERT_NE(tree->Root(), nullptr);
    EXPECT_EQ(tree->Root()->text(0), QStringLiteral("/"));
    EXPECT_EQ(Children(tree->Root()), (QStringList{QStringLiteral("Docs"), QStringLiteral("empty"), QStringLiteral("pub")}));
    // Sorted by name: folders first, then files, ignoring case.
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("Docs"), QStringLiteral("empty"), QStringLiteral("pub"),
                                   QStringLiteral("100% ü.txt"), QStringLiteral("Alpha.bin"), QStringLiteral("zeta.txt")}));
    const QStringList trace = Trace();
    EXPECT_TRUE(trace.contains(QStringLiteral("Receiving listing of \"/\"...")));
    EXPECT_EQ(trace.last(), QStringLiteral("Listing of \"/\" successfully received."));
    EXPECT_FALSE(m_frame->ListView()->IsBusy());

    // An empty folder.
    const int before = TraceCount();
    tree->setCurrentItem(Child(tree->Root(), QStringLiteral("empty")));
    EXPECT_EQ(m_frame->ListView()->RowCount(), 0);
    EXPECT_EQ(Trace(before).last(), QStringLiteral("\"/empty\" is empty."));
    EXPECT_EQ(m_frame->TracePane()->item(m_frame->TracePane()->count() - 1)->foreground().color(), QColor(0, 130, 0));
    EXPECT_EQ(m_frame->Session().ListedPath(), Path("/empty"));
}

TEST_F(RemoteBrowsingTest, RefreshRebuildsChildrenAndReselectingDoesNotDuplicate)
{
    m_root.MakeDir("a/one");
    StartPyFtpd();
    ASSERT_TRUE(Connect());
    CFtpTreeView* tree = m_frame->TreeView();
    QTreeWidgetItem* a = Child(tree->Root(), QStringLiteral("a"));
    ASSERT_NE(a, nullptr);
    tree->setCurrentItem(a);
    EXPECT_EQ(Children(a), QStringList{QStringLiteral("one")});

    std::filesystem::create_directory(m_root.Path("a/two"));
    tree->setCurrentItem(tree->Root());
    tree->setCurrentItem(a); // listed again without refresh: the tree keeps what it had
    EXPECT_EQ(Children(a), QStringList{QStringLiteral("one")});
    EXPECT_EQ(m_frame->ListView()->RowCount(), 2);

    m_frame->Command(cmd::ID_REFRESH)->trigger();
    EXPECT_EQ(Children(a), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    EXPECT_EQ(m_frame->Session().ListedPath(), Path("/a"));
}

TEST_F(RemoteBrowsingTest, FailedListingGoesBackToThePreviousFolder)
{
    m_root.MakeDir("gone");
    StartPyFtpd();
    ASSERT_TRUE(Connect());
    CFtpTreeView* tree = m_frame->TreeView();
    QTreeWidgetItem* gone = Child(tree->Root(), QStringLiteral("gone"));
    ASSERT_NE(gone, nullptr);
    std::filesystem::remove(m_root.Path("gone"));
    const int before = TraceCount();
    tree->setCurrentItem(gone);
    EXPECT_EQ(tree->currentItem(), tree->Root());
    const QStringList trace = Trace(before);
    ASSERT_GE(trace.size(), 2);
    EXPECT_TRUE(trace[trace.size() - 2].startsWith(QStringLiteral("550")));
    EXPECT_EQ(trace.last(), QStringLiteral("An error occurred opening the folder: \"/gone\"."));
}

TEST_F(RemoteBrowsingTest, TheTreeShowsRealPathsFromTheRootDownToTheLoginFolder)
{
    m_root.MakeDir("home/u/a/b/c");
    m_root.MakeDir("home/u/a/sibling");
    m_root.MakeDir("home/u/Docs");
    m_root.MakeDir("home/other");
    m_root.MakeDir("srv");
    StartPyFtpd();
    ASSERT_TRUE(Connect(QStringLiteral("/home/u/")));
    EXPECT_EQ(m_frame->Session().HomeFolder(), Path("/home/u"));
    CFtpTreeView* tree = m_frame->TreeView();

    // "/" at the top, the way down to the login folder open, the login
    // folder selected with its own folders below it.
    EXPECT_EQ(tree->Root()->text(0), QStringLiteral("/"));
    EXPECT_EQ(Children(tree->Root()), QStringList{QStringLiteral("home")});
    EXPECT_EQ(Children(NodeAt(QStringLiteral("/home"))), QStringList{QStringLiteral("u")});
    EXPECT_TRUE(tree->Root()->isExpanded());
    EXPECT_TRUE(NodeAt(QStringLiteral("/home"))->isExpanded());
    EXPECT_EQ(tree->currentItem(), NodeAt(QStringLiteral("/home/u")));
    EXPECT_EQ(CFtpTreeView::ItemPath(tree->currentItem()), QStringLiteral("/home/u"));
    EXPECT_EQ(Children(NodeAt(QStringLiteral("/home/u"))), (QStringList{QStringLiteral("a"), QStringLiteral("Docs")}));

    // Straight to a deep folder: its nodes are made on the way, it is listed.
    const RemotePath deep = Path("/home/u/a/b");
    m_frame->Session().OpenPath(&deep, true);
    EXPECT_EQ(CFtpTreeView::ItemPath(tree->currentItem()), QStringLiteral("/home/u/a/b"));
    EXPECT_EQ(m_frame->Session().ListedPath(), deep);
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("c")});
    EXPECT_FALSE(m_frame->ListView()->IsBusy());

    // The folder on the way learns its other subfolders when it is listed.
    QTreeWidgetItem* a = NodeAt(QStringLiteral("/home/u/a"));
    ASSERT_NE(a, nullptr);
    tree->setCurrentItem(a);
    EXPECT_EQ(Children(a), (QStringList{QStringLiteral("b"), QStringLiteral("sibling")}));
    EXPECT_EQ(Children(Child(a, QStringLiteral("b"))), QStringList{QStringLiteral("c")});

    // Up from the login folder, and up again: the real "/" in both views.
    tree->setCurrentItem(NodeAt(QStringLiteral("/home/u")));
    m_frame->Command(cmd::ID_UP_ONE_LEVEL)->trigger();
    EXPECT_EQ(m_frame->Session().ListedPath(), Path("/home"));
    EXPECT_EQ(tree->currentItem(), NodeAt(QStringLiteral("/home")));
    EXPECT_EQ(Children(NodeAt(QStringLiteral("/home"))), (QStringList{QStringLiteral("other"), QStringLiteral("u")}));
    m_frame->Command(cmd::ID_UP_ONE_LEVEL)->trigger();
    EXPECT_EQ(m_frame->Session().ListedPath(), Path("/"));
    EXPECT_EQ(tree->currentItem(), tree->Root());
    EXPECT_EQ(Rows(), (QStringList{QStringLiteral("home"), QStringLiteral("srv")}));
    EXPECT_EQ(Children(tree->Root()), (QStringList{QStringLiteral("home"), QStringLiteral("srv")}));
    EXPECT_FALSE(m_frame->Command(cmd::ID_UP_ONE_LEVEL)->isEnabled());

    // A folder that is not there changes nothing.
    const RemotePath missing = Path("/home/u/missing");
    m_frame->Session().OpenPath(&missing, true);
    EXPECT_EQ(m_frame->Session().ListedPath(), Path("/"));
    EXPECT_EQ(tree->currentItem(), tree->Root());
}

TEST_F(RemoteBrowsingTest, FolderTreeIsDeletedDepthFirstWithEveryStepTraced)
{
    m_root.Write("t/f1.txt", "1");
    m_root.Write("t/s1/f2.txt", "2");
    m_root.Write("t/s1/s2/f3.txt", "3");
    m_root.MakeDir("t/s3");
    StartPyFtpd();
    ASSERT_TRUE(Connect());
    const int before = TraceCount();
    ASSERT_TRUE(m_frame->Session().DeleteFolder(Path("/t"), true));
    EXPECT_EQ(Trace(before), (QStringList{
        QStringLiteral("Deleting file \"f1.txt\""), QStringLiteral("\"f1.txt\" successfully deleted"),
        QStringLiteral("Deleting file \"f2.txt\""), QStringLiteral("\"f2.txt\" successfully deleted"),
        QStringLiteral("Deleting file \"f3.txt\""), QStringLiteral("\"f3.txt\" successfully deleted"),
        QStringLiteral("Deleting Folder \"s2\""), QStringLiteral("\"s2\" successfully deleted"),
        QStringLiteral("Deleting Folder \"s1\""), QStringLiteral("\"s1\" successfully deleted"),
        QStringLiteral("Deleting Folder \"s3\""), QStringLiteral("\"s3\" successfully deleted"),
        QStringLiteral("Deleting Folder \"t\""), QStringLiteral("\"t\" successfully deleted"),
    }));
    EXPECT_FALSE(std::filesystem::exists(m_root.Path("t")));
}

TEST_F(RemoteBrowsingTest, RenameMakeFolderAndFailuresTraceTheServerReply)
{
    m_root.Write("old.txt", "x");
    StartPyFtpd();
    ASSERT_TRUE(Connect());
    CFtpSession& session = m_frame->Session();
    int before = TraceCount();
    EXPECT_TRUE(session.Rename(Path("/old.txt"), Path("/new.txt")));
    EXPECT_TRUE(session.MakeFolder(Path("/Neu ü")));
    EXPECT_TRUE(session.ChangeFolder(QStringLiteral("/Neu ü")));
    EXPECT_EQ(Trace(before), (QStringList{
        QStringLiteral("Renaming \"old.txt\" to \"new.txt\""), QStringLiteral("\"old.txt\" successfully renamed"),
        QStringLiteral("Creating New Folder \"Neu ü\""), QStringLiteral("\"Neu ü\" folder successfully created"),
        QStringLiteral("Changing folder: \"/Neu ü\"")}));
    EXPECT_TRUE(std::filesystem::exists(m_root.Path("Neu ü")));

    before = TraceCount();
    EXPECT_FALSE(session.DeleteFile(Path("/missing.txt")));
    EXPECT_FALSE(session.DeleteFolder(Path("/missing"), false));
    const QStringList trace = Trace(before);
    ASSERT_EQ(trace.size(), 5);
    EXPECT_EQ(trace[0], QStringLiteral("Deleting file \"missing.txt\""));
    EXPECT_TRUE(trace[1].startsWith(QStringLiteral("550")));
    EXPECT_EQ(trace[2], QStringLiteral("An error occurred deleting the file or folder: \"missing.txt\""));
    EXPECT_TRUE(trace[3].startsWith(QStringLiteral("550")));
    EXPECT_EQ(trace[4], QStringLiteral("An error occurred deleting the file or folder: \"missing\""));

    m_frame->Command(cmd::ID_DISCONNECT)->trigger();
    before = TraceCount();
    EXPECT_FALSE(session.MakeFolder(Path("/x")));
    EXPECT_EQ(Trace(before), QStringList{QStringLiteral("Not connected.")});
}

TEST_F(RemoteBrowsingTest, CancelKeepsTheRowsSoFarAndTheConnection)
{
    std::string listing;
    for (int i = 0; i < 5000; ++i)
        listing += "-rw-r--r--   1 ftp ftp  " + std::to_string(i) + " Jan 15  2024 file" + std::to_string(i) + ".txt\r\n";
    const std::string listingFile = m_files.Write("listing.txt", listing);
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE", "--list-file", listingFile,
                                                        "--data-stall-after", "LIST=20000"});
    bool cancelEnabled = false;
    QTimer::singleShot(800, [&] {
        cancelEnabled = m_frame->Command(cmd::ID_CANCEL)->isEnabled();
        m_frame->Command(cmd::ID_CANCEL)->trigger();
    });
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(cancelEnabled);
    const int rows = m_frame->ListView()->RowCount();
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, 5000);
    // Part of a folder does not pass for all of it: not in the Trace, the
    // status bar or the list, until a full listing.
    EXPECT_EQ(Trace().last(), QStringLiteral("Listing of \"/\" cancelled: the list shows only part of the folder."));
    EXPECT_EQ(m_frame->TracePane()->item(m_frame->TracePane()->count() - 1)->foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(m_frame->statusBar()->currentMessage(), QStringLiteral("The list of \"/\" is incomplete."));
    EXPECT_TRUE(m_frame->ListView()->IsIncomplete());
    EXPECT_FALSE(m_frame->ListView()->IsBusy());
    EXPECT_FALSE(m_frame->Command(cmd::ID_CANCEL)->isEnabled());
    EXPECT_TRUE(m_frame->Session().IsConnected());
}

TEST_F(RemoteBrowsingTest, HostileNamesAreSkippedAndReported)
{
    const std::string listing =
        "-rw-r--r--   1 ftp ftp  12 Jan 15  2024 fine.txt\r\n"
        "-rw-r--r--   1 ftp ftp  12 Jan 15  2024 ../../etc/passwd\r\n"
        "-rw-r--r--   1 ftp ftp  12 Jan 15  2024 back\\slash\r\n"
        "drwxr-xr-x   1 ftp ftp  0 Jan 15  2024 ..\r\n"
        "this is not a listing line\r\n";
    const std::string listingFile = m_files.Write("hostile.txt", listing);
    m_server = kxtest::StartScriptedFtpd(m_root.path(), {"--feat", "SIZE", "--list-file", listingFile});
    ASSERT_TRUE(Connect());
    EXPECT_EQ(Rows(), QStringList{QStringLiteral("fine.txt")});
    EXPECT_EQ(m_frame->TreeView()->Root()->childCount(), 0);
    const QStringList trace = Trace();
    EXPECT_EQ(trace.filter(QStringLiteral("Skipped an entry whose name cannot be used safely")).size(), 2);
}

} // namespace
