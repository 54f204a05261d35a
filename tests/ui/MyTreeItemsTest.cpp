#include "MyTreeItems.h"

#include <QPixmap>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "MyExceptions.h"
#include "MyProjNode.h"

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

TEST(TreeWidgetItems, ImageIndexShowsTheTreesIcon) {
    QTreeWidget tree;
    ITreeItem* root = AddTreeRoot(&tree, "r");
    ITreeItem* child = root->AddChild("c");
    child->SetImageIndex(1);
    EXPECT_TRUE(static_cast<TTreeWidgetItem*>(child)->icon(0).isNull());
    QPixmap red(16, 16), green(16, 16);
    red.fill(Qt::red);
    green.fill(Qt::green);
    SetTreeImages(&tree, {QIcon(red), QIcon(green)});
    const QImage shown = static_cast<TTreeWidgetItem*>(child)->icon(0).pixmap(16, 16).toImage();
    EXPECT_EQ(shown.pixelColor(8, 8), QColor(Qt::green));
    child->SetImageIndex(7); // outside the list: no icon
    EXPECT_TRUE(static_cast<TTreeWidgetItem*>(child)->icon(0).isNull());
}

TEST(TreeWidgetItems, ProjectRootBuildsAndFreesItsItemsInTheWidget) {
    auto tree = std::make_unique<QTreeWidget>();
    ITreeItem* item = AddTreeRoot(tree.get(), "???");
    auto project = std::make_unique<TProjectNode>("Project", item);
    QTreeWidgetItem* top = tree->topLevelItem(0);
    ASSERT_EQ(top->childCount(), 1);
    EXPECT_EQ(AsTreeItem(top->child(0))->GetData(), project->VideoTrack);
    project->VideoTrack->AddNode("Black", amLastChild, nkBlank);
    EXPECT_EQ(top->child(0)->childCount(), 1);
    // The root deletes its own item with it.
    project.reset();
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}
