// Rows, pegs, stop points and hit tests of the track drawer, painted into a plain image.
#include "MyTrackDraw.h"
#include "MainWindowRig.h"

namespace {

struct TRecordingEditor : ITrackCurveEditor {
    TTreeNodeData* Node = nullptr;
    TRectI Rect;
    int Resets = 0;
    void EditObject(TTreeNodeData* node, const TRectI& rect) override {
        Node = node;
        Rect = rect;
    }
    void Reset() override { ++Resets; }
};

struct DrawFixture : ::testing::Test {
    TTrackProject P;
    TFakeUiServices Ui;
    TRecordingEditor Editor;
    TTrackDraw Draw{&Editor, P.Root.get()};
    TBitmap Image{640, 240};

    DrawFixture() { P.Root->Ui = &Ui; }

    // 15 fps, zoom 1 (4 px per frame, 60 px per second), cursor margin 4.
    void Paint(int64_t scrollX = 0) { PaintTrack(Draw, Image, 6, scrollX); }
    int32_t Width(const TTreeNodeData* n) const { return n->TrackRect.Right - n->TrackRect.Left; }
    Extended TimeAt(int32_t x) const { return Draw.GetInfo().Scale().XToTime(x); }
    uint32_t Px(int32_t x, int32_t y) const { return Image.Canvas().GetPixel(x, y); }
    TTreeNodeData* HitAt(int32_t x, int32_t y) const { return Draw.ObjectAt(y, TimeAt(x)); }
    struct THit {
        int32_t X, Y;
        TTreeNodeData* Node = nullptr;
    };
    void ExpectHits(std::initializer_list<THit> hits) const {
        for (const THit& h : hits)
            EXPECT_EQ(HitAt(h.X, h.Y), h.Node) << h.X << "," << h.Y;
    }
};

void ExpectRect(const TRectI& r, int32_t l, int32_t t, int32_t rt, int32_t b) {
    EXPECT_EQ((std::array{r.Left, r.Top, r.Right, r.Bottom}), (std::array{l, t, rt, b}));
}

} // namespace

TEST_F(DrawFixture, ClipsShareOneRowAndTheTransitionWinsTheOverlap) {
    Paint();
    // Time 0 at x 4; 60 px a second; first row at 36, 20 px high.
    ExpectRect(P.A->TrackRect, 4, 36, 304, 56);
    ExpectRect(P.T->TrackRect, 184, 36, 304, 56);
    ExpectRect(P.B->TrackRect, 184, 36, 364, 56);
    // The bottom and right edges are excluded.
    ExpectHits({{100, 40, P.A}, {250, 40, P.T}, {330, 40, P.B}, {330, 56}, {364, 40}});
    EXPECT_EQ(Px(250, 45), P.T->Color); // painted over both clips
}

// A music object in the track is drawn in the room the track gives it, after B, and the clip
// after it follows on the same row.
TEST_F(DrawFixture, MusicInTheTrackIsDrawnInItsRoom) {
    TTreeNodeData* m = P.Add(P.Queue, nkMusic, "M", 2);
    TTreeNodeData* c = P.Add(P.Queue, nkBlank, "C", 1);
    P.Refresh();
    Paint();
    ExpectRect(m->TrackRect, 364, 36, 484, 56); // 6 s .. 8 s
    ExpectRect(c->TrackRect, 484, 36, 544, 56);
    ExpectHits({{100, 40, P.A}, {400, 40, m}, {500, 40, c}});
    EXPECT_EQ(Px(100, 45), P.A->Color);
}

TEST_F(DrawFixture, ScrolledViewHitsWhatItDraws) {
    Paint(100);
    ExpectRect(P.A->TrackRect, -96, 36, 204, 56);
    for (auto [x, node] : {std::pair{50, P.A}, {150, P.T}, {230, P.B}}) {
        EXPECT_EQ(HitAt(x, 45), node) << x;
        EXPECT_EQ(Px(x, 45), node->Color) << x;
    }
}

TEST_F(DrawFixture, ChildRowsStackBelowTheirParentAndAreCutToIt) {
    // B runs 3-6 and is 2 s into its source; a filter 1 s into the source starts at 2 s,
    // before B itself, and is drawn from B's start.
    P.B->Offset = 2;
    TTreeNodeData* f = P.Add(P.B, nkFilter, "f", 2);
    f->Offset = 1;
    TTreeNodeData* g = P.Add(P.A, nkFilter, "g", 1);
    P.Refresh();
    ASSERT_LT(f->GetStartTime(), P.B->GetStartTime());
    Paint();
    ExpectRect(f->TrackRect, 184, 60, 244, 80); // 3 s .. 4 s
    ExpectRect(g->TrackRect, 4, 60, 64, 80);    // both clips' children share the second row
    EXPECT_EQ(Draw.ContentBottom(), 84);
    EXPECT_EQ(HitAt(200, 70), f);
}

TEST_F(DrawFixture, ZeroLengthCutAwayAndSealedNodesAreNotHittable) {
    TTreeNodeData* group = P.Add(P.A, nkFilter, "G", 2);
    TTreeNodeData* inner = P.Add(group, nkFilter, "inner", 2);
    TTreeNodeData* music = P.Add(P.A, nkFilter, "M", 4);
    P.Refresh();
    Paint();
    // G's row at 60, its child below at 84, M at 108.
    EXPECT_EQ(HitAt(50, 90), inner);
    EXPECT_EQ(music->TrackRect.Top, 108);
    // Sealing G hides its child; the old rectangle must not answer any more.
    group->SetSealed(true);
    Paint();
    EXPECT_EQ(std::tuple(Width(inner), music->TrackRect.Top), std::tuple(0, 84));
    EXPECT_NE(HitAt(50, 90), inner);
    // A node of no length takes no row and hides its children.
    group->SetSealed(false);
    group->UserDuration = 0;
    P.Refresh();
    Paint();
    EXPECT_EQ(std::tuple(HitAt(50, 65), Width(inner)), std::tuple(music, 0));
    P.A->DeleteChild(group);
    P.A->DeleteChild(music);

    // A filter that starts after its clip's end is cut away: not drawn, not hittable, its
    // children not drawn, but its row stays taken.
    TTreeNodeData* late = P.Add(P.A, nkFilter, "late", 1);
    late->Offset = 10;
    TTreeNodeData* lateChild = P.Add(late, nkFilter, "c", 1);
    TTreeNodeData* next = P.Add(P.A, nkFilter, "next", 1);
    P.Refresh();
    Paint();
    EXPECT_EQ(std::tuple(Width(late), Width(lateChild), next->TrackRect.Top), std::tuple(0, 0, 84));
    ExpectHits({{30, 65}, {30, 90, next}});
}

TEST_F(DrawFixture, LockedAndActiveNodesAreFramed) {
    P.B->PositionLocked = true;
    Draw.SelectObject(P.A);
    Paint();
    // B's right border in red, A's active frame 1 px outside it; B is not active.
    EXPECT_EQ(std::tuple(Px(363, 45), Px(3, 45), Px(364, 45)),
              std::tuple(0x0000FFu, 0u, uint32_t(clTrackBackground)));
    EXPECT_TRUE(Draw.PointInCurrentObject(100, 40));
    EXPECT_FALSE(Draw.PointInCurrentObject(330, 40));
}

TEST_F(DrawFixture, CurveRowIsTallWhiteAndCarriesTheEditor) {
    TTreeNodeData* f = P.Add(P.A, nkFilter, "f", 2);
    TTreeNodeData* below = P.Add(P.A, nkFilter, "below", 1);
    f->Curves->Register(ckLevel, "Level")->SetEnabled(true);
    P.Refresh();
    Draw.SelectObject(f);
    Paint();
    EXPECT_EQ(Editor.Node, nullptr); // only in adjust mode

    Draw.AdjustMode = true;
    Paint();
    ExpectRect(f->TrackRect, 4, 60, 124, 140);
    EXPECT_EQ(below->TrackRect.Top, 144);
    EXPECT_EQ(Editor.Node, f);
    ExpectRect(Editor.Rect, 0, 60, 120, 140);

    // Once no row carries the editor and the active node has no curve, it is closed.
    const int resets = Editor.Resets;
    Draw.SelectObject(below);
    Paint();
    EXPECT_EQ(Editor.Resets, resets + 1);
}

TEST_F(DrawFixture, StopPointsHitWithinEightPixels) {
    TStopList& stops = *P.Root->Pegs;
    stops.AddPoint(1);
    stops.AddPoint(4);
    const int32_t top = TTrackDraw::StopRowOffset;
    // The first stop point is drawn at x 64, and at 34 when scrolled by 30.
    for (int64_t scroll : {0, 30}) {
        Paint(scroll);
        const int32_t x = 64 - int32_t(scroll);
        for (int32_t dx : {-8, 8})
            EXPECT_EQ(Draw.StopPointAt(top + 2, TimeAt(x + dx)), stops.GetItem(0)) << scroll;
        for (int32_t dx : {-9, 9})
            EXPECT_EQ(Draw.StopPointAt(top + 2, TimeAt(x + dx)), nullptr) << scroll;
    }
    Paint();
    // Five pixel rows for hits, four for the double-click test.
    EXPECT_EQ(std::tuple(Draw.StopPointAt(top + 4, TimeAt(64)),
                         Draw.StopPointAt(top + 5, TimeAt(64)),
                         Draw.StopPointAt(top - 1, TimeAt(64))),
              std::tuple(stops.GetItem(0), nullptr, nullptr));
    EXPECT_TRUE(Draw.InStopPointRow(top + 3) && !Draw.InStopPointRow(top + 4));
    // Band, range between the two stop points, marker on them; the band starts at the margin.
    EXPECT_EQ(
        (std::array{Px(150, top + 2), Px(150, top + 3), Px(20, top + 1), Px(2, top), Px(64, top)}),
        (std::array<uint32_t, 5>{clRange, clStopBand, clStopBand, clTrackBackground, 0xFFFFFF}));
}

TEST_F(DrawFixture, ThirdStopPointBeepsAndSearchFindsTheRange) {
    Paint();
    const int32_t top = TTrackDraw::StopRowOffset;
    Draw.AddStopPoint(top + 2, 2);
    Draw.AddStopPoint(top + 10, 3); // outside the row: nothing
    Draw.AddStopPoint(top + 2, 5);
    EXPECT_EQ(std::tuple(P.Root->Pegs->GetCount(), Ui.Beeps), std::tuple(2, 0));
    Draw.AddStopPoint(top + 2, 4);
    EXPECT_EQ(std::tuple(P.Root->Pegs->GetCount(), Ui.Beeps), std::tuple(2, 1));
    P.Root->Ui = nullptr; // refused silently without services
    Draw.AddStopPoint(top + 2, 4);
    P.Root->Ui = &Ui;
    EXPECT_EQ(std::tuple(P.Root->Pegs->GetCount(), Ui.Beeps), std::tuple(2, 1));

    // From, direction, found, result (unchanged when nothing is found).
    using enum TSearchDirection;
    const std::tuple<Extended, TSearchDirection, bool, Extended> cases[] = {
        {3, Forward, true, 5},
        {3, Backward, true, 2},
        {5.5, Forward, false, 5.5},
        {-1, Backward, false, -1}};
    for (auto [from, direction, found, to] : cases) {
        Extended t = from;
        EXPECT_EQ(Draw.FindStopPoint(t, direction), found) << from;
        EXPECT_EQ(t, to) << from;
    }
    Draw.SelectStopPoint(P.Root->Pegs->GetItem(1));
    EXPECT_TRUE(!P.Root->Pegs->GetItem(0)->PegSelected && P.Root->Pegs->GetItem(1)->PegSelected);
}

TEST_F(DrawFixture, PegsOfTheActiveNode) {
    Draw.SelectObject(P.A);
    Paint();
    Draw.AddPeg(45, 1);
    Draw.AddPeg(20, 2); // not in A's row
    Draw.AddPeg(45, 2);
    Draw.AddPeg(45, 3);
    EXPECT_EQ(std::tuple(P.A->Pegs->GetCount(), Ui.Beeps), std::tuple(2, 1)); // a third is refused
    Paint();
    // Pegs at x 64 and 124, the range drawn between them.
    EXPECT_EQ(std::tuple(Draw.PegAt(45, TimeAt(72)), Draw.PegAt(45, TimeAt(73))),
              std::tuple(P.A->Pegs->GetItem(0), nullptr));
    EXPECT_EQ(Px(90, 48), clRange);
    // Pegs answer only for the active node.
    Draw.SelectObject(P.B);
    EXPECT_EQ(Draw.PegAt(45, TimeAt(64)), nullptr);
}

TEST_F(DrawFixture, PegAfterItsNodeIsNotDrawn) {
    TTreeNodeData* f = P.Add(P.A, nkFilter, "f", 2);
    P.Refresh();
    f->Pegs->AddPoint(1);
    // A mark read from a file keeps its stored time until it is resolved; here 1 s past f.
    f->Pegs->AddPoint(0.5)->SetPendingTime(3);
    f->Pegs->SortByTime();
    Paint();
    const int32_t y0 = f->TrackRect.Top + 10;
    EXPECT_EQ(std::tuple(Px(64, y0), Px(184, y0)),
              std::tuple(0xFFFFFFu, uint32_t(clTrackBackground)));
}
