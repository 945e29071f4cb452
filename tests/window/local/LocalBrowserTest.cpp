// The Local Browser driven through its widgets, in a home folder of the
// test's own: navigation and history, the places drop-down, new folders,
// renames, the trash and the remote rows dropped on it.
#include "engine/base/Prompts.h"
#include "window/local/LocalBrowserBar.h"
#include "support/AnsweringPrompts.h"
#include "window/local/LocalFileModel.h"
#include "support/Printers.h"
#include "TempHome.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

class LocalBrowserTest : public ::testing::Test {
protected:
    LocalBrowserTest()
    {
        SetPrompts(&m_prompts);
        m_bar = std::make_unique<CLocalBrowserBar>();
        m_bar->resize(600, 400);
        m_bar->show();
        // Keys reach the pane's shortcuts only in the active window.
        m_bar->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_bar.get()));
    }
    ~LocalBrowserTest() override
    {
        m_bar.reset();
        SetPrompts(nullptr);
    }

    // The index of `name` in the folder shown, once the model has read it.
    QModelIndex Row(const QString& name)
    {
        const QString path = QDir(m_bar->GetCurrentFolderPath()).filePath(name);
        QModelIndex index;
        (void)QTest::qWaitFor([&] {
            index = m_bar->Model()->index(path);
            return index.isValid() && m_bar->Model()->fileInfo(index).exists();
        });
        return index;
    }
    // Waits until the folder shown lists what is on disk, so that a change
    // made next is not undone by a listing still on its way.
    bool Listed()
    {
        const int count = int(QDir(m_bar->GetCurrentFolderPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
        return QTest::qWaitFor([&] { return m_bar->Model()->rowCount(m_bar->DetailsView()->rootIndex()) == count; });
    }
    // Where `index` is drawn in the view, once the view has laid it out.
    QPoint CentreOf(QAbstractItemView* view, const QModelIndex& index)
    {
        (void)QTest::qWaitFor([&] { return view->visualRect(index).isValid(); });
        return view->visualRect(index).center();
    }
    void Select(const QStringList& names)
    {
        QItemSelectionModel* selection = m_bar->DetailsView()->selectionModel();
        selection->clear();
        for (const QString& name : names)
            selection->select(Row(name), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Sends a drag of `data` to `view` at `at` and drops it; true when the
    // pane accepted the drag.
    static bool DragAndDrop(QAbstractItemView* view, const QMimeData& data, QPoint at)
    {
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &drop);
        return drop.isAccepted();
    }

    TempHome m_home;
    AnsweringPrompts m_prompts;
    std::unique_ptr<CLocalBrowserBar> m_bar;
};

TEST_F(LocalBrowserTest, StartsAtHomeInDetailsWithNothingToGoBackTo)
{
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), m_home.Home());
    EXPECT_EQ(m_bar->GetViewMode(), CLocalBrowserBar::ViewMode::Details);
    EXPECT_TRUE(m_bar->DetailsView()->isVisible());
    EXPECT_FALSE(m_bar->BackAction()->isEnabled());
    EXPECT_EQ(m_bar->PlacesCombo()->currentData().toString(), m_home.Home());
}

TEST_F(LocalBrowserTest, HistoryKeepsTheLast25FoldersAndBackWalksThemOff)
{
    QSignalSpy changes(m_bar.get(), &CLocalBrowserBar::FolderChanged);
    QStringList folders;
    for (int i = 0; i < 30; ++i) {
        folders << m_home.Folder(QStringLiteral("home/f%1").arg(i));
        ASSERT_TRUE(m_bar->BrowseTo(folders.last(), true));
    }
    // The folder already shown records nothing.
    EXPECT_TRUE(m_bar->BrowseTo(folders.last() + QStringLiteral("/"), true));
    EXPECT_EQ(changes.size(), 30);
    ASSERT_EQ(m_bar->History().size(), CLocalBrowserBar::kMaxHistory);
    EXPECT_EQ(m_bar->History().first(), folders[4]);
    EXPECT_EQ(m_bar->History().last(), folders[28]);

    for (int i = 28; i >= 4; --i) {
        ASSERT_TRUE(m_bar->BackAction()->isEnabled());
        m_bar->BackAction()->trigger();
        EXPECT_EQ(m_bar->GetCurrentFolderPath(), folders[i]);
    }
    EXPECT_FALSE(m_bar->BackAction()->isEnabled());
    EXPECT_TRUE(m_bar->History().isEmpty());
}

TEST_F(LocalBrowserTest, UpStopsAtTheRootAndBadPathsLeaveOrFallBack)
{
    const QString sub = m_home.Folder(QStringLiteral("home/a b"));
    ASSERT_TRUE(m_bar->BrowseTo(sub, false));
    m_bar->UpAction()->trigger();
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), m_home.Home());
    EXPECT_EQ(m_bar->History(), QStringList{sub});

    ASSERT_TRUE(m_bar->BrowseTo(QStringLiteral("/"), false));
    m_bar->GoUp();
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), QStringLiteral("/"));
    EXPECT_EQ(m_bar->History(), QStringList{sub});
    EXPECT_FALSE(m_bar->UpAction()->isEnabled());

    EXPECT_FALSE(m_bar->BrowseTo(m_home.Root() + QStringLiteral("/missing"), true));
    EXPECT_FALSE(m_bar->BrowseTo(m_home.File(QStringLiteral("home/plain.txt")), true));
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), QStringLiteral("/"));

    ASSERT_TRUE(m_bar->BrowseTo(sub, false));
    // Home, never the folder the program happened to start in.
    m_bar->GoToPath(m_home.Root() + QStringLiteral("/missing"));
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), m_home.Home());
    EXPECT_EQ(m_bar->History().last(), sub);
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(LocalBrowserTest, SizesReadInKilobytesAndAWrittenFileIsReadAgain)
{
    const QString folder = m_home.Folder(QStringLiteral("home/in"));
    const QString file = m_home.File(QStringLiteral("home/in/growing.bin"));
    m_home.Folder(QStringLiteral("home/in/sub"));
    ASSERT_TRUE(m_bar->BrowseTo(folder, false));
    ASSERT_TRUE(Listed());
    const auto sizeText = [&](const QString& name) { return Row(name).siblingAtColumn(1).data().toString(); };
    EXPECT_EQ(sizeText(QStringLiteral("growing.bin")), QStringLiteral("1 KB")); // as the remote list says it
    EXPECT_EQ(sizeText(QStringLiteral("sub")), QString());

    // A download writing into the file: the folder watch does not see it grow.
    QFile growing(file);
    ASSERT_TRUE(growing.open(QIODevice::Append));
    growing.write(QByteArray(3 * 1024 * 1024, 'x'));
    growing.close();
    QTest::qWait(300);
    QSignalSpy changed(m_bar->Model(), &QAbstractItemModel::dataChanged);
    m_bar->RefreshFile(file);
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(sizeText(QStringLiteral("growing.bin")), QStringLiteral("3,073 KB"));
    m_bar->RefreshFile(m_home.Root() + QStringLiteral("/elsewhere.bin")); // not shown: nothing to do
    EXPECT_EQ(changed.size(), 1);
}

TEST_F(LocalBrowserTest, FolderDeletedWhileShownGivesWayToTheNearestOneLeft)
{
    const QString deep = m_home.Folder(QStringLiteral("home/gone/deeper"));
    ASSERT_TRUE(m_bar->BrowseTo(deep, true));
    ASSERT_TRUE(QDir(m_home.Home() + QStringLiteral("/gone")).removeRecursively());
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_bar->GetCurrentFolderPath() == m_home.Home(); }));
    // Back skips the folder that is shown already.
    m_bar->GoBack();
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), m_home.Home());
    EXPECT_TRUE(m_bar->History().isEmpty());
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(LocalBrowserTest, PlacesFollowTheFolderAndChoosingOneBrowsesThere)
{
    const QString deep = m_home.Folder(QStringLiteral("home/x/y/z"));
    ASSERT_TRUE(m_bar->BrowseTo(deep, false));
    QComboBox* combo = m_bar->PlacesCombo();
    EXPECT_EQ(combo->currentData().toString(), deep);
    EXPECT_EQ(combo->currentText(), QStringLiteral("z"));
    const int row = combo->currentIndex();
    EXPECT_EQ(combo->itemData(row - 1).toString(), m_home.Home() + QStringLiteral("/x/y"));
    EXPECT_EQ(combo->itemData(row - 3).toString(), m_home.Home());

    // The keys choose the entry above, the parent folder.
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), m_home.Home() + QStringLiteral("/x/y"));
    EXPECT_EQ(m_bar->History(), QStringList{deep});
    EXPECT_EQ(combo->currentData().toString(), m_bar->GetCurrentFolderPath());
}

TEST_F(LocalBrowserTest, OpeningEntersFoldersAndHandsFilesToTheDesktop)
{
    m_home.Folder(QStringLiteral("home/docs"));
    const QString file = m_home.File(QStringLiteral("home/read me.txt"));
    QList<QUrl> opened;
    m_bar->SetUrlOpener([&opened](const QUrl& url) {
        opened << url;
        return false;
    });
    m_bar->OpenItem(Row(QStringLiteral("read me.txt")));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(file)});
    EXPECT_EQ(m_prompts.messages, QStringList{"No program could open 'read me.txt'."});

    QTreeView* view = m_bar->DetailsView();
    view->setFocus();
    view->setCurrentIndex(Row(QStringLiteral("docs")));
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(m_bar->GetCurrentFolderPath(), m_home.Home() + QStringLiteral("/docs"));
    EXPECT_EQ(m_bar->History(), QStringList{m_home.Home()});
}

TEST_F(LocalBrowserTest, NewFolderTakesTheNextFreeNameAndStartsRenaming)
{
    m_home.Folder(QStringLiteral("home/New Folder"));
    ASSERT_TRUE(Listed());
    m_bar->NewFolderAction()->trigger();
    EXPECT_TRUE(QFileInfo(m_home.Home() + QStringLiteral("/New Folder (2)")).isDir());
    EXPECT_EQ(m_bar->SelectedPaths(), QStringList{m_home.Home() + QStringLiteral("/New Folder (2)")});

    // The name typed replaces the new one.
    auto* editor = qobject_cast<QLineEdit*>(m_bar->DetailsView()->indexWidget(Row(QStringLiteral("New Folder (2)"))));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QStringLiteral("New Folder (2)"));
    editor->setText(QStringLiteral("Photos"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(m_home.Home() + QStringLiteral("/Photos")).isDir(); }));
    EXPECT_TRUE(m_prompts.messages.isEmpty());

    // No slash, no name taken: refused with a word why, nothing renamed.
    const QModelIndex photos = Row(QStringLiteral("Photos"));
    EXPECT_FALSE(m_bar->Model()->setData(photos, QStringLiteral("a/b")));
    EXPECT_FALSE(m_bar->Model()->setData(photos, QStringLiteral("New Folder")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_prompts.messages.size() == 2; }));
    EXPECT_EQ(m_prompts.messages, QStringList({"A name cannot contain the character '/'.",
                                               "Cannot rename 'Photos': an item named 'New Folder' already exists "
                                               "in this folder."}));
    EXPECT_TRUE(QFileInfo(m_home.Home() + QStringLiteral("/Photos")).isDir());

    // A folder nobody may write in says so.
    ASSERT_TRUE(m_bar->BrowseTo(QStringLiteral("/proc"), false));
    m_bar->CreateNewFolder();
    ASSERT_EQ(m_prompts.messages.size(), 3);
    EXPECT_TRUE(m_prompts.messages.last().startsWith("Cannot create the folder 'New Folder' in '/proc'"));
}

TEST_F(LocalBrowserTest, DeleteAsksAndMovesToTheTrashOnlyOnYes)
{
    const QString a = m_home.File(QStringLiteral("home/a.txt"));
    const QString b = m_home.Folder(QStringLiteral("home/b"));
    Select({QStringLiteral("a.txt")});
    m_prompts.answer = IPrompts::No;
    m_bar->DetailsView()->setFocus();
    QTest::keyClick(m_bar->DetailsView(), Qt::Key_Delete);
    EXPECT_EQ(m_prompts.questions, QStringList{"Confirm Delete: Move 'a.txt' to the trash?"});
    EXPECT_TRUE(QFileInfo::exists(a));

    Select({QStringLiteral("a.txt"), QStringLiteral("b")});
    m_prompts.answer = IPrompts::Yes;
    m_bar->DeleteSelection();
    EXPECT_EQ(m_prompts.questions.last(), QStringLiteral("Confirm Delete: Move these 2 items to the trash?"));
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_FALSE(QFileInfo::exists(b));
    EXPECT_TRUE(QFileInfo::exists(m_home.Home() + QStringLiteral("/.local/share/Trash/files/a.txt")));
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(LocalBrowserTest, RemoteRowsDropOnTheFolderUnderTheCursorOrTheFolderShown)
{
    const QString target = m_home.Folder(QStringLiteral("home/target"));
    m_home.File(QStringLiteral("home/file.txt"));
    QSignalSpy drops(m_bar.get(), &CLocalBrowserBar::RemoteRowsDropped);
    QMimeData remote;
    remote.setData(QLatin1String(CLocalBrowserBar::kRemoteRowsMimeType), "rows");

    QTreeView* details = m_bar->DetailsView();
    EXPECT_TRUE(DragAndDrop(details, remote, CentreOf(details, Row(QStringLiteral("target")))));
    EXPECT_TRUE(DragAndDrop(details, remote, CentreOf(details, Row(QStringLiteral("file.txt")))));
    EXPECT_TRUE(DragAndDrop(details, remote, QPoint(300, 350)));

    m_bar->ViewModeAction(CLocalBrowserBar::ViewMode::Icons)->trigger();
    QListView* icons = m_bar->ListView();
    ASSERT_TRUE(icons->isVisible());
    EXPECT_EQ(icons->viewMode(), QListView::IconMode);
    EXPECT_TRUE(DragAndDrop(icons, remote, CentreOf(icons, Row(QStringLiteral("target")))));

    ASSERT_EQ(drops.size(), 4);
    EXPECT_EQ(drops[0][0].toString(), target);
    EXPECT_EQ(drops[1][0].toString(), m_home.Home());
    EXPECT_EQ(drops[2][0].toString(), m_home.Home());
    EXPECT_EQ(drops[3][0].toString(), target);

    // Local files dragged in are refused: the pane moves nothing itself.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(m_home.Home() + QStringLiteral("/file.txt"))});
    EXPECT_FALSE(DragAndDrop(icons, files, CentreOf(icons, Row(QStringLiteral("target")))));
    EXPECT_EQ(drops.size(), 4);
    EXPECT_TRUE(QFileInfo::exists(m_home.Home() + QStringLiteral("/file.txt")));
}

} // namespace
