#include "MyTreeNode.h"

#include <gtest/gtest.h>

#include <typeinfo>

#include "ModelRig.h"
#include "MyBlankNode.h"
#include "MyClipNode.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyMusicNode.h"
#include "MyProjNode.h"
#include "MySoundNode.h"
#include "MySubProjectNode.h"
#include "MyWarpNode.h"

namespace {

struct Project : TModelRig {
    Project() : TModelRig(true) {}
};

struct KindRow {
    uint8_t Kind;
    const std::type_info& Type;
    uint32_t Color;
    int Image;
};

} // namespace

TEST(NodeFactory, EveryKindMakesItsClassWithColourAndImage) {
    const KindRow rows[] = {{nkProject, typeid(TSubProjectNode), 0xAFEBF5, 4},
                            {nkGroup, typeid(TUserFolder), 0xAFEBF5, 2},
                            {nkVideoTrack, typeid(TQueueFolder), 0xAFEBF5, 3},
                            {nkVideo, typeid(TMovieNode), 0x91C8FF, 20},
                            {nkFilter, typeid(TFilterNode), 0xFFAEFF, 26},
                            {nkTransition, typeid(TTransNode), 0x97FFFF, 28},
                            {nkOverlay, typeid(TOverlayNode), 0xFFCA95, 27},
                            {nkBlank, typeid(TBlankNode), 0xAFEBF5, 22},
                            {nkClip, typeid(TClipNode), 0xAFEBF5, 21},
                            {nkAudio, typeid(TSoundNode), 0xDFBDBD, 24},
                            {nkMusic, typeid(TMusicNode), 0xDFBDBD, 25},
                            {nkSubProject, typeid(TSubProjectNode), 0xAFEBF5, 4},
                            {nkWarp, typeid(TWarpNode), 0x91C8FF, 23}};
    Project p;
    for (const auto& r : rows) {
        TTreeNodeData* n = p.Root->AddNode("n", amLastChild, r.Kind);
        SCOPED_TRACE(int(r.Kind));
        EXPECT_EQ(typeid(*n), r.Type);
        EXPECT_EQ(n->Kind, r.Kind == nkProject ? uint8_t(nkSubProject) : r.Kind);
        EXPECT_EQ(n->Color, r.Color);
        EXPECT_EQ(n->Item->GetImageIndex(), r.Image);
        EXPECT_EQ(n->Item->GetData(), n);
    }
    EXPECT_EQ(p.Root->GetChildCount(), 13);
    // Level and sizing are edited as values; the other standard curves by their times alone.
    const TTimeDataSet& curves = *p.Root->Curves;
    ASSERT_EQ(curves.GetCount(), 7);
    for (int i = 0; i < curves.GetCount(); ++i) {
        const TTimeData* c = curves.GetItem(i);
        EXPECT_EQ(c->TimeOnly, c->Kind != ckLevel && c->Kind != ckSizing) << c->Caption;
    }
}

TEST(NodeFactory, BadKindOrModeLeavesNothing) {
    Project p;
    for (uint8_t k : {0, 8, 15, 255}) {
        EXPECT_THROW(p.Root->AddNode("x", amLastChild, k), EInvalidOperation);
    }
    EXPECT_THROW(p.Root->AddNode("x", 4, nkGroup), EInvalidOperation);
    EXPECT_THROW(p.Root->AddNode("x", -1, nkGroup), EInvalidOperation);
    // The root has no parent to hold a sibling.
    EXPECT_THROW(p.Root->AddNode("x", amLastSibling, nkGroup), EInvalidOperation);
    EXPECT_EQ(p.Root->GetChildCount(), 0);
    EXPECT_EQ(p.Tree.GetCount(), 1);
}

TEST(NodeFactory, FourPlacementModes) {
    Project p;
    TTreeNodeData* g = p.Root->AddNode("g", amLastChild, nkGroup);
    TTreeNodeData* s = p.Root->AddNode("s", amLastChild, nkVideoTrack);
    TTreeNodeData* g1 = g->AddNode("g1", amLastChild, nkBlank);
    // Mode 1: appended after the last sibling.
    TTreeNodeData* last = g->AddNode("last", amLastSibling, nkBlank);
    EXPECT_EQ(last->GetIndex(), 2);
    EXPECT_EQ(last->GetParent(), p.Root.get());
    // Mode 2 on a node with children: its new first child.
    TTreeNodeData* first = g->AddNode("first", amAfterInTree, nkBlank);
    EXPECT_EQ(first->GetParent(), g);
    EXPECT_EQ(first->GetIndex(), 0);
    // Mode 2 on the last child of a group with a next sibling: between the group and it.
    TTreeNodeData* between = g1->AddNode("between", amAfterInTree, nkBlank);
    EXPECT_EQ(between->GetParent(), p.Root.get());
    EXPECT_EQ(between->GetIndex(), 1);
    EXPECT_EQ(s->GetIndex(), 2);
    // Mode 2 on the very last item: appended as its last sibling.
    TTreeNodeData* tail = last->AddNode("tail", amAfterInTree, nkBlank);
    EXPECT_EQ(tail->GetParent(), p.Root.get());
    EXPECT_EQ(tail->GetIndex(), p.Root->GetChildCount() - 1);
    // Mode 3: right before this node.
    TTreeNodeData* before = s->AddNode("before", amBeforeSibling, nkBlank);
    EXPECT_EQ(before->GetIndex() + 1, s->GetIndex());
}

TEST(NodeFlags, InheritedFromAncestors) {
    Project p;
    TTreeNodeData* g = p.Root->AddNode("g", amLastChild, nkGroup);
    TTreeNodeData* t = g->AddNode("t", amLastChild, nkVideoTrack);
    TTreeNodeData* c = t->AddNode("c", amLastChild, nkBlank);
    g->Enabled = false;
    EXPECT_FALSE(c->IsEnabled());
    EXPECT_TRUE(c->Enabled);
    EXPECT_EQ(c->GetDrawColor(), 0x808080u);
    g->Enabled = true;
    EXPECT_EQ(c->GetDrawColor(), 0xAFEBF5u);
    g->SetSealed(true);
    EXPECT_TRUE(c->GetSealed());
    EXPECT_FALSE(p.Root->GetSealed());
    g->PositionLocked = true;
    EXPECT_TRUE(c->IsPositionLocked());
    EXPECT_FALSE(p.Root->IsPositionLocked());
    TTreeNodeData* sub = p.Root->AddNode("sub", amLastChild, nkSubProject);
    sub->SetSealed(false);
    EXPECT_TRUE(sub->GetSealed());
    EXPECT_FALSE(sub->Sealed);
}

TEST(NodeBasics, CaptionOffsetAndLevel) {
    Project p;
    TTreeNodeData* f = p.Root->AddNode("  f ", amLastChild, nkFilter);
    f->SetCaption("   ");
    EXPECT_EQ(f->GetCaption(), "  f ");
    f->SetCaption("  Blur  ");
    EXPECT_EQ(f->GetCaption(), "Blur");
    f->SetOffset(-2);
    EXPECT_EQ(f->Offset, 0);
    TTreeNodeData* b = p.Root->AddNode("b", amLastChild, nkBlank);
    b->SetOffset(3); // offsets apply to filters, overlays and sounds only
    EXPECT_EQ(b->Offset, 0);
}

TEST(NodeBasics, MissingFileKeepsNameForSavingOnly) {
    Project p;
    LoadMessages.Clear();
    TTreeNodeData* m = p.Root->AddNode("m", amLastChild, nkVideo);
    m->SetFileName("/no/such/file.avi");
    EXPECT_EQ(m->FileName, "");
    EXPECT_EQ(m->GetStoredFileName(), "/no/such/file.avi");
    ASSERT_EQ(LoadMessages.Lines.size(), 1u);
    EXPECT_EQ(LoadMessages.Lines[0], "Can not locate /no/such/file.avi.");
    m->SetFileName("");
    EXPECT_EQ(LoadMessages.Lines.size(), 1u);
    LoadMessages.Clear();
}

TEST(NodeLifetime, DeletingNodesClearsLinksAndRootReferences) {
    Project p;
    TTreeNodeData* track = p.Root->AddNode("Video track", amLastChild, nkVideoTrack);
    TBlankNode* a = p.Blank(track, 5);
    auto* t = p.Add<TTransNode>(track, nkTransition);
    TBlankNode* b = p.Blank(track, 5);
    p.Root->ResetLinks();
    p.Root->Calculate();
    ASSERT_EQ(t->PrevClip, a);
    ASSERT_EQ(t->NextClip, b);
    p.Root->SetActiveNode(b);
    p.Root->EditedNode = b;
    track->DeleteChild(b);
    EXPECT_EQ(t->NextClip, nullptr);
    EXPECT_EQ(p.Root->GetActiveNode(), nullptr);
    EXPECT_EQ(p.Root->EditedNode, nullptr);
    track->DeleteChild(t);
    EXPECT_EQ(a->OutTrans, nullptr);
    EXPECT_EQ(track->GetChildCount(), 1);
    p.Root->SetActiveNode(p.Root.get()); // the root is never active
    EXPECT_EQ(p.Root->GetActiveNode(), nullptr);
}

TEST(NodeLifetime, MoveKeepsOwnershipAndOrder) {
    Project p;
    TTreeNodeData* g = p.Root->AddNode("g", amLastChild, nkGroup);
    TTreeNodeData* x = p.Root->AddNode("x", amLastChild, nkBlank);
    x->MoveTo(g, 0);
    EXPECT_EQ(x->GetParent(), g);
    EXPECT_EQ(p.Root->GetChildCount(), 1);
    EXPECT_THROW(g->MoveTo(x, 0), EInvalidOperation);
    g->DeleteChild(x); // owned by g now
    EXPECT_EQ(g->GetChildCount(), 0);
}

TEST(NodeCurves, UpdateDescendsHalfAFrameEarly) {
    Project p;
    p.Root->FrameRate = 10;
    TTreeNodeData* track = p.Root->AddNode("Video track", amLastChild, nkVideoTrack);
    p.Blank(track, 2);
    TTreeNodeData* b = p.Blank(track, 2);
    p.Relayout();
    TTimeData* level = b->Curves->FindByKey("{155D1DC4-9507-4911-B1DE-D46896A5E674}");
    level->GetPoint(0)->SetLevel(0);
    level->AddNew(1.0L)->SetLevel(1.0L);
    // b starts at 2.0; half a frame before (1.95) still updates it, to local time -0.05.
    p.Root->UpdateCurves(1.96L);
    EXPECT_NEAR(b->Curves->Time, -0.04L, 1e-12L);
    b->Curves->Time = 99;
    p.Root->UpdateCurves(1.5L);
    EXPECT_EQ(b->Curves->Time, 99); // too early: left alone
    {
        // The add-on preview counts frames in seconds; the slack stays half a stored frame.
        TAddOnPreviewScope preview;
        p.Root->UpdateCurves(1.5L);
        EXPECT_EQ(b->Curves->Time, 99);
        p.Root->UpdateCurves(1.96L);
        EXPECT_NEAR(b->Curves->Time, -0.04L, 1e-12L);
        b->Curves->Time = 99;
    }
    p.Root->FrameRate = 0; // no rate: no slack, and no division by zero
    p.Root->UpdateCurves(2.5L);
    EXPECT_NEAR(b->Curves->Time, 0.5L, 1e-12L);
    p.Root->UpdateCurves(2.0L); // both ends belong to the node
    EXPECT_EQ(b->Curves->Time, 0);
    p.Root->UpdateCurves(b->GetEndTime());
    EXPECT_NEAR(b->Curves->Time, 2.0L, 1e-6L);
}

TEST(NodeInfo, SnapshotFromEnabledCurves) {
    Project p;
    TTreeNodeData* n = p.Root->AddNode("n", amLastChild, nkBlank);
    TNodeInfo info;
    info.X = 7;
    n->GetNodeInfo(info);
    EXPECT_EQ(info.X, 0); // no enabled position curve

    n->Curves->Register(ckPosition, "")->GetPoint(0)->SetPosition(0.5L, -0.25L);
    n->Curves->Register(ckSizing, "")->GetPoint(0)->SetLevel(1.7L);
    n->Curves->Register(ckLevel, "")->GetPoint(0)->SetLevel(0.5L);
    n->Curves->Register(ckColor, "")->GetPoint(0)->SetRawValue(0x112233);
    n->Curves->Register(ckPick, "")->GetPoint(0)->SetRawValue(0x445566);
    n->Curves->Register(ckText, "")->GetPoint(0)->Lines = {"hello"};
    n->Curves->Register(ckFont, "")->GetPoint(0)->Font.Size = 30;
    p.Root->EditedNode = n;
    n->Curves->SetTime(0);
    n->GetNodeInfo(info);
    EXPECT_EQ(info.X, 160);
    EXPECT_EQ(info.Y, -60);
    EXPECT_EQ(info.Sizing, 1.0L);
    EXPECT_NEAR(info.Level, 0.5L, 1.0 / 65535);
    EXPECT_EQ(info.Color, 0x445566u); // the picked colour wins
    ASSERT_NE(info.Lines, nullptr);
    EXPECT_EQ(*info.Lines, std::vector<std::string>{"hello"});
    ASSERT_NE(info.Font, nullptr);
    EXPECT_EQ(info.Font->Size, 30);
    EXPECT_TRUE(info.IsEdited);

    {
        TAddOnPreviewScope scope;
        AddOnPreview.Info = TNodeInfo{};
        AddOnPreview.Info.X = 50;
        n->GetNodeInfo(info);
        EXPECT_EQ(info.X, 50);
        EXPECT_EQ(info.Curves, nullptr);
        EXPECT_EQ(p.Root->GetFrameRate(), 1.0L);
    }
    EXPECT_FALSE(AddOnPreview.Active);
}
