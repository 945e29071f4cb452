// Customize Toolbar on a toolbar of its own: what it offers beyond the
// buttons the toolbar came with, and that its labels' letters are keys.
#include "window/chrome/CustomizableToolBar.h"
#include "support/Mnemonics.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QStyle>

#include <gtest/gtest.h>

#include <map>

namespace {

struct Commands {
    explicit Commands(QWidget* owner)
    {
        const QIcon icon = owner->style()->standardIcon(QStyle::SP_FileIcon);
        for (const auto& [id, text] : {std::pair{1, "&Connect..."}, {2, "&Refresh\tF5"}, {3, "N&ew Folder"}, {4, "&Options..."}}) {
            auto* action = new QAction(icon, QString::fromLatin1(text), owner);
            actions[id] = action;
        }
    }
    QAction* operator()(int id) const { return actions.count(id) ? actions.at(id) : nullptr; }
    std::map<int, QAction*> actions;
};

QStringList Texts(const QListWidget& list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.item(i)->text();
    return texts;
}

TEST(CustomizeToolbarDlg, OffersTheButtonsBeyondTheOnesTheToolbarCameWith)
{
    QMainWindow window;
    Commands commands(&window);
    CCustomizableToolBar bar(QStringLiteral("Toolbar"), &window);
    bar.LoadToolBar({1, CCustomizableToolBar::kSeparator, 2}, [&](int id) { return commands(id); }, {3, 4, 2});
    EXPECT_EQ(bar.OfferedButtons(), (QList<int>{1, 2, 3, 4}));

    CCustomizeToolbarDlg dialog(bar);
    EXPECT_EQ(Texts(*dialog.Available()), (QStringList{QStringLiteral("Separator"), QStringLiteral("New Folder"),
                                                        QStringLiteral("Options")}));
    EXPECT_EQ(Texts(*dialog.Current()), (QStringList{QStringLiteral("Connect"), QStringLiteral("Separator"),
                                                      QStringLiteral("Refresh")}));
    dialog.Available()->setCurrentRow(2);
    dialog.Add();
    EXPECT_EQ(bar.Buttons(), (QList<int>{1, CCustomizableToolBar::kSeparator, 2, 4}));
    EXPECT_TRUE(bar.actions().contains(commands(4)));
    // Reset brings back the buttons it came with, and what was offered stays offered.
    bar.Reset();
    EXPECT_EQ(bar.Buttons(), (QList<int>{1, CCustomizableToolBar::kSeparator, 2}));
    bar.SetButtons({3, 99});
    EXPECT_EQ(bar.Buttons(), QList<int>{3}); // an id nobody offered is left out
}

TEST(CustomizeToolbarDlg, TheLabelsLettersMoveTheKeyboardToTheirLists)
{
    QMainWindow window;
    Commands commands(&window);
    CCustomizableToolBar bar(QStringLiteral("Toolbar"), &window);
    bar.LoadToolBar({1}, [&](int id) { return commands(id); });
    CCustomizeToolbarDlg dialog(bar);
    EXPECT_EQ(kxtest::LabelsShowingAmpersands(dialog), QStringList());
    QStringList buddies;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (label->buddy())
            buddies << label->buddy()->objectName();
    buddies.sort();
    EXPECT_EQ(buddies, (QStringList{QStringLiteral("available"), QStringLiteral("current")}));
}

} // namespace
