#include "MyStopList.h"

#include <gtest/gtest.h>

#include "ModelRig.h"
#include "MyCommonServices.h"
#include "TempFolders.h"

namespace {

struct Fixture : TModelRig {
    TTreeNodeData* Group;
    Fixture() : TModelRig(true) {
        TTreeNodeData* track = Add(Root.get(), nkVideoTrack, "Video track");
        Blank(track, 1);
        Group = Blank(track, 6);
        Relayout();
    }
};

} // namespace

TEST(StopList, TimesAreClampedIntoTheOwnersSpan) {
    Fixture f;
    TStopPoint* p = f.Group->Pegs->AddPoint(5.0L);
    EXPECT_EQ(p->PegOffset, 4.0L);
    EXPECT_EQ(p->GetTime(), 5.0L);
    f.Group->UserDuration = 2; // shrink: the mark reports the owner's end
    EXPECT_EQ(p->GetTime(), 3.0L);
    p->SetTime(0.0L); // before the owner: reports its start
    EXPECT_EQ(p->PegOffset, -1.0L);
    EXPECT_EQ(p->GetTime(), 1.0L);
    // A mark read from a file is an absolute time until the tree has been laid out.
    p->SetPendingTime(5.0L);
    EXPECT_EQ(p->GetTime(), 5.0L);
    f.Root->ResolvePendingPegs();
    EXPECT_FALSE(p->IsPending());
    EXPECT_EQ(p->PegOffset, 4.0L);
}

TEST(StopList, KeepsTwoMarksInOrder) {
    Fixture f;
    TStopList& l = *f.Group->Pegs;
    TStopPoint* late = l.AddPoint(4.0L);
    TStopPoint* early = l.AddPoint(2.0L);
    EXPECT_EQ(l.GetItem(0), early);
    EXPECT_EQ(l.GetItem(1), late);
    try {
        l.AddPoint(3.0L);
        FAIL();
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "TStopList: More than 2 stop points");
    }
    EXPECT_EQ(l.GetCount(), 2);
}

TEST(StopList, FindStopAfterPassesOverTheStartFrame) {
    Fixture f;
    TStopList& l = *f.Group->Pegs;
    l.AddPoint(2.01L); // frame 50.25 at 25 fps: on frame 50
    l.AddPoint(4.0L);
    // From, found, stop (unchanged at -1 when nothing is found).
    const std::tuple<int32_t, bool, int32_t> cases[] = {
        {0, true, 50}, {49, true, 50}, {50, true, 100}, {99, true, 100}, {100, false, -1}};
    for (auto [from, found, want] : cases) {
        int32_t stop = -1;
        EXPECT_EQ(l.FindStopAfter(from, 25, stop), found) << from;
        EXPECT_EQ(stop, want) << from;
    }
    int32_t stop = -1;
    EXPECT_FALSE(l.FindStopAfter(0, 0, stop));
    EXPECT_EQ(stop, -1);
}

TEST(PlaceBetweenPegs, TwoPegsGiveOffsetAndDuration) {
    Fixture f;
    f.Group->Pegs->AddPoint(3.0L);
    f.Group->Pegs->AddPoint(6.0L);
    TTreeNodeData* filter = f.Group->AddNode("f", amLastChild, nkFilter);
    filter->PlaceBetweenPegs();
    EXPECT_FALSE(filter->AutoDuration);
    EXPECT_EQ(filter->Offset, 2.0L);
    EXPECT_EQ(filter->UserDuration, 3.0L);
    EXPECT_TRUE(f.Ui.Questions.empty());
}

TEST(PlaceBetweenPegs, OnePegAsksWhichEnd) {
    Fixture f;
    f.Group->Pegs->AddPoint(4.0L);
    TTreeNodeData* a = f.Group->AddNode("a", amLastChild, nkFilter);
    f.Ui.Answers.push_back(TMsgResult::Yes);
    a->PlaceBetweenPegs();
    ASSERT_EQ(f.Ui.Questions.size(), 1u);
    EXPECT_EQ(f.Ui.Questions[0],
              "The existing Peg will be the ending point.\r\nIf the existing Peg "
              "meant to be the starting point press the [ No ] button.");
    EXPECT_FALSE(a->AutoDuration);
    EXPECT_EQ(a->Offset, 0);
    EXPECT_EQ(a->UserDuration, 3.0L);

    TTreeNodeData* b = f.Group->AddNode("b", amLastChild, nkFilter);
    f.Ui.Answers.push_back(TMsgResult::No);
    b->PlaceBetweenPegs();
    EXPECT_TRUE(b->AutoDuration);
    EXPECT_EQ(b->Offset, 3.0L);

    // A movie can not take an offset: only its duration settings change.
    TTreeNodeData* m = f.Group->AddNode("m", amLastChild, nkVideo);
    f.Ui.Answers.push_back(TMsgResult::No);
    m->PlaceBetweenPegs();
    EXPECT_EQ(m->Offset, 0);
}

TEST(PlaceBetweenPegs, NothingUnderAVideoTrackOrWithoutPegs) {
    Fixture f;
    TTreeNodeData* track = f.Root->GetChild(0);
    track->Pegs->AddPoint(1.0L);
    TTreeNodeData* n = track->AddNode("n", amLastChild, nkGroup);
    n->PlaceBetweenPegs();
    TTreeNodeData* g = f.Group->AddNode("g", amLastChild, nkFilter);
    g->PlaceBetweenPegs();
    EXPECT_TRUE(n->AutoDuration);
    EXPECT_TRUE(g->AutoDuration);
    EXPECT_TRUE(f.Ui.Questions.empty());
}

TEST(SnapTime, RoundsToTheFrameGrid) {
    Fixture f;
    EXPECT_EQ(f.Root->SnapTime(1.03L), 1.0L);
    EXPECT_EQ(f.Root->SnapTime(-1.0L), 0);
    f.Root->FrameRate = 0;
    EXPECT_EQ(f.Root->SnapTime(1.03L), 0);
}

// Marks of nodes read from a sub-project's file are times on that file's own time line, which
// begins where the sub-project begins in the project that holds it.
TEST(StopList, MarksInsideASubProjectFollowItsOwnTimeLine) {
    TTempDir dir;
    const std::string inner = dir.Path + "/inner.mpr";
    {
        TModelRig a;
        a.Blank(a.Root->VideoTrack, 1);
        TTreeNodeData* second = a.Blank(a.Root->VideoTrack, 2);
        a.Root->Refresh();
        second->Pegs->AddPoint(1.5L); // half a second into the second clip
        ASSERT_TRUE(a.Root->SaveToFile(inner));
    }
    TModelRig b(true);
    TTreeNodeData* track = b.Add(b.Root.get(), nkVideoTrack, "Video track");
    b.Blank(track, 3);
    TTreeNodeData* sub = b.Add(track, nkSubProject, "Sub");
    sub->SetFileName(inner);
    b.Root->Refresh();
    ASSERT_EQ(sub->GetStartTime(), 3);
    TTreeNodeData* second = sub->GetChild(0)->GetChild(1);
    ASSERT_EQ(second->GetStartTime(), 4);
    EXPECT_EQ(second->Pegs->GetItem(0)->GetTime(), 4.5L);

    // Opened with the project that holds it, the mark becomes the same offset in its clip.
    const std::string outer = dir.Path + "/outer.mpr";
    ASSERT_TRUE(b.Root->SaveToFile(outer));
    TModelRig c;
    ASSERT_TRUE(c.Root->LoadFromFile(outer));
    TTreeNodeData* again = c.Root->GetChild(0)->GetChild(1)->GetChild(0)->GetChild(1);
    ASSERT_FALSE(again->Pegs->GetItem(0)->IsPending());
    EXPECT_EQ(again->Pegs->GetItem(0)->PegOffset, 0.5L);
    EXPECT_EQ(again->Pegs->GetItem(0)->GetTime(), 4.5L);
    LoadMessages.Clear();
}
