// The window's commands as a user meets them: the letters of every menu,
// the keys, the line the status bar shows for a highlighted command, F6
// between the panes, and what Customize Toolbar offers.
#include "window/frame/FrameFixture.h"
#include "window/chrome/CustomizableToolBar.h"
#include "window/frame/CommandTable.h"
#include "window/local/LocalBrowserBar.h"
#include "window/resources/CommandIds.h"
#include "window/transfers/TransferManagerBar.h"
#include "window/views/QuickConnectBar.h"

#include <QAction>
#include <QDockWidget>
#include <QHash>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

namespace {

// The letter after the single "&" of a text ("" when it has none).
QString LetterOf(const QString& text)
{
    QString plain = text.section(QLatin1Char('\t'), 0, 0);
    plain.remove(QStringLiteral("&&"));
    const qsizetype amp = plain.indexOf(QLatin1Char('&'));
    return amp < 0 ? QString() : plain.mid(amp + 1, 1).toLower();
}

class CommandsTest : public FrameFixture {
protected:
    // Every menu of the menu bar, with the menus inside them.
    QList<QMenu*> Menus() const
    {
        QList<QMenu*> menus;
        for (QAction* top : m_frame->menuBar()->actions())
            menus << top->menu();
        for (qsizetype i = 0; i < menus.size(); ++i) {
            for (QAction* item : menus[i]->actions()) {
                if (item->menu())
                    menus << item->menu();
            }
        }
        return menus;
    }
    // Two items of `menu` with the same letter, or an item of the table without one.
    static QStringList LetterProblems(const QMenu& menu, const QString& where)
    {
        QStringList problems;
        QHash<QString, QString> seen;
        for (QAction* item : menu.actions()) {
            if (item->isSeparator() || !item->isVisible())
                continue;
            const QString letter = LetterOf(item->text());
            const bool fromTable = CommandTable::Find(item->data().toInt()) != nullptr;
            if (letter.isEmpty() && (fromTable || item->menu()))
                problems << where + QStringLiteral(": no letter in ") + item->text();
            else if (!letter.isEmpty() && seen.contains(letter))
                problems << where + QStringLiteral(": ") + seen[letter] + QStringLiteral(" and ") + item->text();
            seen.insert(letter, item->text());
        }
        return problems;
    }
};

TEST_F(CommandsTest, EveryMenuHasOneItemPerLetterAndEveryCommandAHelpLine)
{
    QStringList problems;
    QStringList titles;
    for (QAction* top : m_frame->menuBar()->actions())
        titles << top->text();
    QMenu bar;
    for (QAction* top : m_frame->menuBar()->actions())
        bar.addAction(top->text());
    problems << LetterProblems(bar, QStringLiteral("menu bar"));
    for (QMenu* menu : Menus())
        problems << LetterProblems(*menu, menu->title());
    // The list's menus, for a folder, a file and the empty space, and the Local Browser's.
    for (const auto& [name, isFolder] : {std::pair{"dir", true}, std::pair{"file.txt", false}}) {
        FileStatus row;
        row.path = QString::fromLatin1(name);
        row.attribute = isFolder ? FileStatus::kFolder : 0;
        m_frame->ListView()->AddOrUpdateEntry(-1, row);
    }
    for (const QString& selected : {QStringLiteral("dir"), QStringLiteral("file.txt"), QString()}) {
        Select(selected.isEmpty() ? QStringList() : QStringList{selected});
        const std::unique_ptr<QMenu> menu = m_frame->ListView()->CreateContextMenu();
        ASSERT_NE(menu, nullptr);
        problems << LetterProblems(*menu, menu->objectName());
    }
    for (const bool onItem : {true, false}) {
        const std::unique_ptr<QMenu> menu = m_frame->LocalBrowser()->CreateContextMenu(onItem);
        problems << LetterProblems(*menu, QStringLiteral("Local Browser"));
        EXPECT_TRUE(menu->actions().contains(m_frame->Command(cmd::ID_UPLOAD_LOCAL_SELECTION)));
    }
    EXPECT_EQ(problems, QStringList());

    // Every command has an id of its own: two that share one would run
    // each other's handler, and the toolbar stores buttons by id.
    QHash<int, QString> owners;
    for (const CommandTable::Entry& entry : CommandTable::Entries()) {
        if (owners.contains(entry.id))
            problems << QStringLiteral("%1 and %2 share the id %3")
                            .arg(owners.value(entry.id), QString::fromUtf8(entry.text)).arg(entry.id);
        owners.insert(entry.id, QString::fromUtf8(entry.text));
    }
    EXPECT_EQ(problems, QStringList());

    // Every command says in the status bar what it does.
    QStringList silent;
    for (const CommandTable::Entry& entry : CommandTable::Entries()) {
        QAction* action = m_frame->Command(entry.id);
        if (!action)
            silent << QStringLiteral("missing %1").arg(entry.id);
        else if (action->statusTip().isEmpty())
            silent << action->text();
    }
    for (QMenu* menu : Menus()) {
        for (QAction* item : menu->actions()) {
            if (!item->isSeparator() && !item->menu() && item->isVisible() && item->statusTip().isEmpty()
                && menu->title() != QStringLiteral("F&avorites"))
                silent << item->text();
        }
    }
    EXPECT_EQ(silent, QStringList());
}

TEST_F(CommandsTest, AHighlightedMenuItemSaysWhatItDoesInTheStatusBar)
{
    m_frame->show();
    QApplication::setActiveWindow(m_frame.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    // Opened from the menu bar, as the user opens it.
    m_frame->menuBar()->setActiveAction(m_frame->menuBar()->actions().first());
    QMenu* file = Menus().first();
    ASSERT_TRUE(QTest::qWaitFor([file] { return file->isVisible(); }));
    file->setActiveAction(m_frame->Command(cmd::ID_CONNECTION_WIZARD));
    EXPECT_EQ(m_frame->statusBar()->currentMessage(), QStringLiteral("Adds a new site step by step"));
    file->setActiveAction(m_frame->Command(cmd::ID_APP_EXIT));
    EXPECT_EQ(m_frame->statusBar()->currentMessage(), QStringLiteral("Closes Kestrix"));
    file->hide();
}

TEST_F(CommandsTest, DownloadAndUploadHaveKeysThatCollideWithNothing)
{
    EXPECT_EQ(m_frame->Command(cmd::ID_DOWNLOAD)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(m_frame->Command(cmd::ID_UPLOAD)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_U));
    EXPECT_EQ(m_frame->Command(cmd::ID_DOWNLOAD)->text(), QStringLiteral("Dow&nload\tCtrl+S"));
    // A key of the whole window must be the only one of its kind: held also
    // by a pane, Qt would call it ambiguous and neither would act. The
    // panes' own keys may repeat from pane to pane.
    const QList<QAction*> actions = m_frame->findChildren<QAction*>();
    QStringList clashes;
    for (QAction* wide : actions) {
        if (wide->shortcutContext() != Qt::WindowShortcut && wide->shortcutContext() != Qt::ApplicationShortcut)
            continue;
        for (QAction* other : actions) {
            for (const QKeySequence& key : wide->shortcuts()) {
                if (other != wide && !key.isEmpty() && other->shortcuts().contains(key))
                    clashes << key.toString() + QStringLiteral(": ") + wide->text() + QStringLiteral(" and ") + other->text();
            }
        }
    }
    EXPECT_EQ(clashes, QStringList());
}

TEST_F(CommandsTest, F6AndShiftF6GoFromPaneToPane)
{
    m_frame->show();
    m_frame->LocalBrowserDock()->show();
    QApplication::setActiveWindow(m_frame.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_frame.get()));
    m_frame->TreeView()->setFocus();
    const auto focusIn = [](QWidget* pane) {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == pane || pane->isAncestorOf(focus));
    };
    // Shown: the tree, the list, the Trace and the Local Browser; the Quick
    // Connect bar and the Transfer Manager are hidden and skipped.
    const QList<QWidget*> order{m_frame->ListView(), m_frame->TracePane(), m_frame->LocalBrowser(), m_frame->TreeView()};
    for (QWidget* pane : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
        EXPECT_TRUE(focusIn(pane)) << pane->objectName().toStdString() << " "
                                   << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "");
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(focusIn(m_frame->LocalBrowser()));
    // The list's own view takes the keyboard, not its frame.
    m_frame->Command(cmd::ID_NEXT_PANE)->trigger();
    m_frame->Command(cmd::ID_NEXT_PANE)->trigger();
    EXPECT_EQ(QApplication::focusWidget(), m_frame->ListView()->CurrentView());
}

TEST_F(CommandsTest, CustomizeToolbarOffersEveryCommandWithAnIcon)
{
    CCustomizeToolbarDlg customize(*m_frame->ToolBar());
    QStringList offered;
    for (int i = 0; i < customize.Available()->count(); ++i)
        offered << customize.Available()->item(i)->text();
    EXPECT_EQ(offered.first(), QStringLiteral("Separator"));
    QStringList wanted;
    const QList<int> shown = m_frame->ToolBar()->Buttons();
    for (const CommandTable::Entry& entry : CommandTable::Entries()) {
        QAction* action = m_frame->Command(entry.id);
        if (action && !action->icon().isNull() && !shown.contains(entry.id))
            wanted << action->iconText();
    }
    EXPECT_EQ(offered.mid(1), wanted);
    for (const char* name : {"Download to", "Upload Folder", "New Folder", "Custom Command", "Help Topics"})
        EXPECT_TRUE(offered.contains(QString::fromLatin1(name))) << name;

    // Added, it stands on the toolbar; the layout keeps it.
    customize.Available()->setCurrentRow(int(offered.indexOf(QStringLiteral("New Folder"))));
    customize.Add();
    EXPECT_TRUE(m_frame->ToolBar()->Buttons().contains(cmd::ID_NEW_FOLDER));
    EXPECT_TRUE(m_frame->ToolBar()->actions().contains(m_frame->Command(cmd::ID_NEW_FOLDER)));
}

} // namespace
