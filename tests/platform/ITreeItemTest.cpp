#include "ITreeItem.h"

#include <gtest/gtest.h>

#include "MyExceptions.h"

TEST(MemTree, InsertMoveDeleteKeepOrder) {
    TMemTree tree;
    ITreeItem* root = tree.AddRoot("Project");
    ITreeItem* a = root->AddChild("a");
    ITreeItem* c = root->AddChild("c");
    ITreeItem* b = c->InsertSibling(1, "b");
    ASSERT_EQ(root->GetCount(), 3);
    EXPECT_EQ(root->GetItem(1), b);
    EXPECT_EQ(b->GetIndex(), 1);
    EXPECT_EQ(b->GetLevel(), 1);
    a->MoveTo(c, 0);
    EXPECT_EQ(root->GetCount(), 2);
    EXPECT_EQ(a->GetParent(), c);
    EXPECT_EQ(a->GetLevel(), 2);
    EXPECT_THROW(c->MoveTo(a, 0), EInvalidOperation);
    c->Delete();
    EXPECT_EQ(root->GetCount(), 1);
    EXPECT_EQ(root->GetItem(0), b);
}

TEST(MemTree, NextItemWalksDepthFirst) {
    TMemTree tree;
    ITreeItem* root = tree.AddRoot("r");
    ITreeItem* g = root->AddChild("g");
    ITreeItem* g1 = g->AddChild("g1");
    ITreeItem* s = root->AddChild("s");
    EXPECT_EQ(root->GetNext(), g);
    EXPECT_EQ(g->GetNext(), g1);
    EXPECT_EQ(g1->GetNext(), s);
    EXPECT_EQ(s->GetNext(), nullptr);
    ITreeItem* root2 = tree.AddRoot("r2");
    EXPECT_EQ(s->GetNext(), root2);
}
