#include "window/views/FtpTreeView.h"

#include <gtest/gtest.h>

namespace {

// /
// ├── Docs
// │   └── a
// ├── pub
// │   └── docs
// └── zeta
struct SampleTree {
    CFtpTreeView tree;
    QTreeWidgetItem* root = tree.InsertRoot();
    QTreeWidgetItem* pub = tree.InsertChild(root, QStringLiteral("pub"));
    QTreeWidgetItem* zeta = tree.InsertChild(root, QStringLiteral("zeta"));
    QTreeWidgetItem* docsUpper = tree.InsertChild(root, QStringLiteral("Docs"));
    QTreeWidgetItem* a = tree.InsertChild(docsUpper, QStringLiteral("a"));
    QTreeWidgetItem* docsLower = tree.InsertChild(pub, QStringLiteral("docs"));
};

TEST(FtpTreeView, ChildrenStayInAlphabeticalOrderAndPathsFollowTheLabels)
{
    SampleTree t;
    ASSERT_EQ(t.root->childCount(), 3);
    EXPECT_EQ(t.root->child(0), t.docsUpper);
    EXPECT_EQ(t.root->child(1), t.pub);
    EXPECT_EQ(t.root->child(2), t.zeta);
    EXPECT_EQ(CFtpTreeView::ItemPath(t.root), QStringLiteral("/"));
    EXPECT_EQ(CFtpTreeView::ItemPath(t.pub), QStringLiteral("/pub"));
    EXPECT_EQ(CFtpTreeView::ItemPath(t.docsLower), QStringLiteral("/pub/docs"));
    EXPECT_EQ(CFtpTreeView::ItemPath(nullptr), QString());
}

TEST(FtpTreeView, DepthFirstSuccessor)
{
    SampleTree t;
    QList<QTreeWidgetItem*> order;
    for (QTreeWidgetItem* item = t.root; item; item = t.tree.NextItemDepthFirst(item))
        order << item;
    EXPECT_EQ(order, (QList<QTreeWidgetItem*>{t.root, t.docsUpper, t.a, t.pub, t.docsLower, t.zeta}));
}

TEST(FtpTreeView, FindItemByNameIsExactNeverReturnsTheStartAndWrapsAround)
{
    SampleTree t;
    // Case-sensitive: "docs" from the root is the one under pub, not "Docs".
    EXPECT_EQ(t.tree.FindItemByName(t.root, QStringLiteral("docs")), t.docsLower);
    EXPECT_EQ(t.tree.FindItemByName(t.root, QStringLiteral("Docs")), t.docsUpper);
    // From zeta, the search wraps to the root and finds "a" before zeta.
    EXPECT_EQ(t.tree.FindItemByName(t.zeta, QStringLiteral("a")), t.a);
    // The start node itself is never the answer, even when its text matches.
    EXPECT_EQ(t.tree.FindItemByName(t.zeta, QStringLiteral("zeta")), nullptr);
    EXPECT_EQ(t.tree.FindItemByName(t.pub, QStringLiteral("missing")), nullptr);
    // Without a start node the selected one is used.
    t.tree.setCurrentItem(t.docsLower);
    EXPECT_EQ(t.tree.FindItemByName(nullptr, QStringLiteral("pub")), t.pub);

    CFtpTreeView empty;
    EXPECT_EQ(empty.FindItemByName(nullptr, QStringLiteral("x")), nullptr);
}

TEST(FtpTreeView, DeleteChildrenEmptiesTheNode)
{
    SampleTree t;
    t.tree.DeleteChildren(t.root);
    EXPECT_EQ(t.root->childCount(), 0);
}

} // namespace
