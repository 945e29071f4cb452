// The permissions dialog: boxes and the octal number in step, mixed items,
// the scope for folders.
#include "engine/base/Permissions.h"
#include "window/views/PermissionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(Permissions, ListingTextsGiveTheirModes)
{
    const std::pair<const char*, int> cases[] = {
        {"rwxr-xr-x", 0755}, {"-rw-r-----", 0640}, {"drwx------", 0700}, {"-rwsr-Sr-T", 0744},
        {"---------", 0},    {"rwxrwxrwx", 0777}, {"", -1},            {"rw-r--r--x", -1},
        {"perm=adfr", -1},   {"rwq------", -1},
    };
    for (const auto& [text, mode] : cases)
        EXPECT_EQ(ModeOfPermissionText(QString::fromLatin1(text)), mode) << text;
}

TEST(PermissionsDlg, BoxesAndNumberFollowEachOtherAndFoldersOfferAScope)
{
    CPermissionsDlg one({QStringLiteral("a.txt")}, {0640}, false);
    EXPECT_EQ(one.OctalField()->text(), QStringLiteral("640"));
    EXPECT_TRUE(one.Box(0, 1)->isChecked());
    EXPECT_FALSE(one.Box(2, 0)->isChecked());
    EXPECT_EQ(one.ScopeBox(), nullptr);
    EXPECT_EQ(one.Scope(), PermissionScope::ItemsOnly);

    one.Box(2, 0)->click();
    EXPECT_EQ(one.OctalField()->text(), QStringLiteral("644"));
    one.OctalField()->selectAll();
    QTest::keyClicks(one.OctalField(), QStringLiteral("751"));
    EXPECT_EQ(one.Mode(), 0751);
    EXPECT_TRUE(one.Box(0, 2)->isChecked());
    EXPECT_TRUE(one.Box(1, 2)->isChecked());
    EXPECT_FALSE(one.Box(1, 1)->isChecked());
    QTest::keyClicks(one.OctalField(), QStringLiteral("9")); // not octal: refused
    EXPECT_EQ(one.Mode(), 0751);

    // Two items that disagree on group write: half ticked, and left so the
    // number leaves that bit out.
    CPermissionsDlg mixed({QStringLiteral("a"), QStringLiteral("b")}, {0664, 0644, -1}, true);
    EXPECT_EQ(mixed.Box(1, 1)->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(mixed.Mode(), 0644);
    EXPECT_EQ(mixed.MixedBits(), 020);
    ASSERT_NE(mixed.ScopeBox(), nullptr);
    EXPECT_FALSE(mixed.ScopeBox()->isEnabled());
    mixed.findChild<QCheckBox*>(QStringLiteral("recurse"))->click();
    EXPECT_TRUE(mixed.ScopeBox()->isEnabled());
    EXPECT_EQ(mixed.Scope(), PermissionScope::AllBelow);
    mixed.ScopeBox()->setCurrentIndex(1);
    EXPECT_EQ(mixed.Scope(), PermissionScope::FilesBelow);
}

} // namespace
