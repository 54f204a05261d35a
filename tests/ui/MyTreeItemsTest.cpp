#include "MyTreeItems.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

#include "MyExceptions.h"

TEST(TreeWidgetItems, InsertMoveDeleteFollowTheWidget) {
    QTreeWidget tree;
    ITreeItem* root = AddTreeRoot(&tree, "Project");
    ITreeItem* a = root->AddChild("a");
    ITreeItem* c = root->AddChild("c");
    ITreeItem* b = c->InsertSibling(1, "b");
    ITreeItem* c1 = c->AddChild("c1");
    auto* qroot = tree.topLevelItem(0);
    ASSERT_EQ(qroot->childCount(), 3);
    EXPECT_EQ(qroot->child(1)->text(0), "b");
    EXPECT_EQ(root->GetItem(1), b);
    EXPECT_THROW(root->InsertChild(5, "x"), EListError);

    // A moved item takes its children and stays open.
    static_cast<TTreeWidgetItem*>(c)->setExpanded(true);
    c->MoveTo(a, 0);
    EXPECT_EQ(qroot->childCount(), 2);
    EXPECT_EQ(c->GetParent(), a);
    EXPECT_EQ(c1->GetLevel(), 3);
    EXPECT_TRUE(static_cast<TTreeWidgetItem*>(c)->isExpanded());
    EXPECT_THROW(a->MoveTo(c1, 0), EInvalidOperation);

    // To the top level, with an index past the end clamped.
    b->MoveTo(nullptr, 99);
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(b->GetIndex(), 1);
    EXPECT_EQ(c1->GetNext(), b); // depth first, across levels
    EXPECT_EQ(b->GetNext(), nullptr);

    a->Delete();
    EXPECT_EQ(qroot->childCount(), 0);
}
