// The catalogue folder tree and "Add to Favorites", driven through their
// widgets against a catalogue file of their own.
#include "engine/base/FtpSite.h"
#include "engine/base/Prompts.h"
#include "CatalogFileFixture.h"
#include "window/sites/AddFavoritesDlg.h"
#include "window/sites/CatalogFolderTree.h"
#include "support/Printers.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

constexpr char kCatalogue[] = R"(<SITES name="Favorites">
  <FOLDER name="Work"><SITE name="Acme"><ADDRESS>ftp.acme.test</ADDRESS></SITE><FOLDER name="Old"></FOLDER></FOLDER>
  <SITE name="Home"><ADDRESS>127.0.0.1</ADDRESS></SITE>
  <FOLDER name="Misc"></FOLDER>
</SITES>
)";

class FavoritesTest : public CatalogFileFixture {
protected:
    static QLineEdit* Editor(const CCatalogFolderTree& tree) { return qobject_cast<QLineEdit*>(tree.LabelEditor()); }
    // Types into the open label, as a user would, and ends with `key`.
    static void TypeLabel(CCatalogFolderTree& tree, const char* text, Qt::Key key = Qt::Key_Return)
    {
        QLineEdit* editor = Editor(tree);
        ASSERT_NE(editor, nullptr);
        editor->clear();
        QTest::keyClicks(editor, Q(text));
        QTest::keyClick(editor, key);
        QCoreApplication::processEvents();
    }
    // Runs AddSite, `action` working the dialog once it is up.
    static bool AddSite(const CFtpSite& current, QString* stored, std::function<void(CAddFavoritesDlg&)> action)
    {
        QTimer::singleShot(0, [action] {
            auto* dialog = qobject_cast<CAddFavoritesDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            action(*dialog);
        });
        // A failed assertion above would leave the dialog open for ever.
        QTimer guard;
        guard.callOnTimeout([] {
            if (QWidget* open = QApplication::activeModalWidget())
                open->close();
        });
        guard.start(10000);
        return CAddFavoritesDlg::AddSite(nullptr, current, stored);
    }
};

using CatalogFolderTreeTest = FavoritesTest;

TEST_F(CatalogFolderTreeTest, ShowsTheRootAndItsFoldersButNoSites)
{
    CXmlDocument document;
    ASSERT_TRUE(document.Parse(Q(kCatalogue)));
    CCatalogFolderTree tree;
    tree.Populate(document);
    QTreeWidgetItem* root = tree.RootItem();
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(root->text(0), Q("Favorites"));
    EXPECT_EQ(CCatalogFolderTree::NodeOf(root), document.Root());
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->text(0) + root->child(1)->text(0), Q("WorkMisc"));
    ASSERT_EQ(root->child(0)->childCount(), 1);
    EXPECT_EQ(tree.SelectedFolderPath(), QString());

    EXPECT_TRUE(tree.SelectFolderPath(Q("work\\OLD")));
    EXPECT_FALSE(tree.SelectFolderPath(Q("Work\\Acme"))); // a site is no folder
    EXPECT_EQ(tree.SelectedFolderPath(), Q("Work\\Old"));
    tree.clearSelection();
    EXPECT_EQ(tree.SelectedFolderPath(), QString()); // nothing selected: the root
}

TEST_F(CatalogFolderTreeTest, NewFolderAndRenameKeepOutForbiddenAndEmptyNames)
{
    Write(kCatalogue);
    CAddFavoritesDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    CCatalogFolderTree& tree = *dialog.FolderTree();
    ASSERT_TRUE(tree.SelectFolderPath(Q("Work")));
    QTest::keyClick(&tree, Qt::Key_Insert);
    EXPECT_EQ(tree.SelectedFolderPath(), Q("Work\\New Folder"));
    CXmlNode* work = CCatalogFolderTree::NodeOf(tree.RootItem()->child(0));
    ASSERT_EQ(work->ChildCount(), 3u);
    CXmlNode* made = work->ChildAt(2);
    EXPECT_TRUE(CSiteCatalog::IsFolder(made));

    TypeLabel(tree, "Re:po/rts?");
    EXPECT_TRUE(dialog.isVisible()); // Return ended the edit, not the dialog
    EXPECT_EQ(made->GetAttribute(Q("name")), Q("Reports"));
    QTest::keyClick(&tree, Qt::Key_F2);
    TypeLabel(tree, "");
    QTest::keyClick(&tree, Qt::Key_F2);
    TypeLabel(tree, "Ignored", Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(made->GetAttribute(Q("name")), Q("Reports"));
    EXPECT_EQ(tree.SelectedFolderPath(), Q("Work\\Reports"));

    tree.SelectFolderPath(QString());
    tree.RenameSelected(); // the root keeps its name
    EXPECT_EQ(Editor(tree), nullptr);
    tree.SelectFolderPath(Q("Misc"));
    tree.RenameSelected(); // and is left open when the dialog goes
    ASSERT_NE(Editor(tree), nullptr);
    Editor(tree)->setText(Q("Gone"));
}

TEST_F(CatalogFolderTreeTest, DeleteAsksFirstAndTakesTheContentsAlong)
{
    CXmlDocument document;
    ASSERT_TRUE(document.Parse(Q(kCatalogue)));
    CCatalogFolderTree tree;
    tree.Populate(document);
    QTest::keyClick(&tree, Qt::Key_Delete); // the root is never deleted
    EXPECT_TRUE(m_prompts.questions.isEmpty());

    tree.SelectFolderPath(Q("Work"));
    m_prompts.answer = IPrompts::No;
    QTest::keyClick(&tree, Qt::Key_Delete);
    EXPECT_EQ(m_prompts.questions, QStringList{Q("Confirm Folder Delete: Are you sure you want to remove the "
                                                 "folder 'Work' and all its contents?")});
    EXPECT_EQ(document.Root()->ChildCount(), 3u);
    m_prompts.answer = IPrompts::Yes;
    EXPECT_TRUE(tree.DeleteSelected());
    ASSERT_EQ(document.Root()->ChildCount(), 2u);
    EXPECT_EQ(document.Root()->ChildAt(0)->GetAttribute(Q("name")), Q("Home"));
    EXPECT_EQ(tree.RootItem()->childCount(), 1);
    EXPECT_EQ(tree.currentItem(), tree.RootItem());
}

TEST_F(FavoritesTest, ClosingWithoutOkKeepsTheFoldersMade)
{
    Write(kCatalogue);
    CAddFavoritesDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), Q("Add to Favorites"));
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.NewFolderButton()->click();
    ASSERT_NE(Editor(*dialog.FolderTree()), nullptr);
    Editor(*dialog.FolderTree())->setText(Q("Clients"));
    dialog.close(); // the close box, the label still open: what was typed counts
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    CSiteCatalog catalog(Path());
    ASSERT_EQ(catalog.Open(), CSiteCatalog::FileState::Loaded);
    EXPECT_NE(catalog.FindFolderByPath(nullptr, Q("Clients")), nullptr);
    EXPECT_NE(catalog.FindFolderByPath(nullptr, Q("Work\\Old")), nullptr);
    EXPECT_TRUE(m_prompts.messages.isEmpty());
}

TEST_F(FavoritesTest, AddSiteNeedsANameAndStoresInTheChosenFolder)
{
    Write(kCatalogue);
    CFtpSite current;
    current.name = Q("ftp://mirror.test/pub");
    current.address = Q("mirror.test");
    QString stored;
    ASSERT_TRUE(AddSite(current, &stored, [this](CAddFavoritesDlg& dialog) {
        EXPECT_EQ(dialog.NameEdit()->text(), Q("ftpmirror.testpub"));
        dialog.NameEdit()->setText(Q("  "));
        dialog.OkButton()->click();
        EXPECT_EQ(m_prompts.messages, QStringList{Q("You must enter a name.")});
        EXPECT_TRUE(dialog.isVisible());
        dialog.NameEdit()->setText(Q("Mirror"));
        dialog.FolderTree()->SelectFolderPath(Q("Work\\Old"));
        dialog.OkButton()->click();
    }));
    EXPECT_EQ(stored, Q("Work\\Old\\Mirror"));
    CFtpSite loaded;
    ASSERT_TRUE(CSiteCatalog(Path()).LoadSite(stored, loaded));
    EXPECT_EQ(loaded.address, Q("mirror.test"));
}

TEST_F(FavoritesTest, AnUnreadableCatalogueIsToldOnceAndNeverWritten)
{
    const QByteArray foreign = "<HTML><BODY>not a catalogue</BODY></HTML>\n";
    Write(foreign);
    EXPECT_FALSE(AddSite(CFtpSite(), nullptr, [](CAddFavoritesDlg& dialog) {
        EXPECT_EQ(dialog.FolderTree()->RootItem()->text(0), Q("Favorites"));
        EXPECT_EQ(dialog.FolderTree()->RootItem()->childCount(), 0);
        dialog.NewFolderButton()->click();
        dialog.NameEdit()->setText(Q("A"));
        dialog.OkButton()->click();
    }));
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].contains(Q("exists but could not be read")));
    EXPECT_EQ(Read(), foreign);
}

TEST_F(FavoritesTest, AFailedWriteIsTold)
{
    Write(kCatalogue);
    // A file where the catalogue's folder should be: no write can succeed.
    CSiteCatalog::SetDefaultPathOverride(Path() + Q("/sites.xml"));
    CAddFavoritesDlg dialog;
    dialog.NewFolderButton()->click();
    dialog.reject();
    ASSERT_EQ(m_prompts.messages.size(), 1);
    EXPECT_TRUE(m_prompts.messages[0].startsWith(Q("The site catalogue could not be saved")));
    EXPECT_TRUE(dialog.CatalogueUnusable());
    EXPECT_EQ(Read(), QByteArray(kCatalogue));
}

} // namespace
