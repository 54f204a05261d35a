// Editing on the timeline's track image: the drag state machine and its edits, the popup
// menu's state and commands, and real mouse drags on the timeline widget.

#include "MyTrackMouse.h"
#include "MainWindowRig.h"
#include "MyMovieNode.h"
#include "MyTimelineCommands.h"

namespace {

// 15 fps at 4 px a frame: 60 px a second, time 0 at x 4.
constexpr int32_t X0 = 4;
int32_t XOf(Extended t) {
    return X0 + static_cast<int32_t>(t * 60);
}

struct TrackEditFixture : ::testing::Test {
    TFakeUiServices Ui;
    TTrackProject P;
    TTreeNodeData* F; // filter under A, 1-3 s
    TBitmap Bitmap{800, 200};
    TTrackDraw Draw{nullptr, P.Root.get()};
    TTrackMouse Mouse{Draw};
    TTimeScale Sc{15, 4, 0, X0};

    TrackEditFixture() {
        P.Root->Ui = &Ui;
        F = P.Add(P.A, nkFilter, "F", 2);
        F->SetOffset(1);
        P.Refresh();
        Paint();
    }
    void Paint() { PaintTrack(Draw, Bitmap, P.Root->GetDuration()); }
    int32_t RowY(TTreeNodeData* n) const { return (n->TrackRect.Top + n->TrackRect.Bottom) / 2; }
    // Hover, press and one move by dx, then release; the mode the press chose.
    uint8_t DragBy(TTreeNodeData* n, int32_t x, int32_t dx, bool ctrl = true) {
        const int32_t y = RowY(n);
        Mouse.Move(x, y, ctrl, false, true, Sc);
        EXPECT_EQ(Mouse.HoverNode, n);
        Mouse.Press(x, y, true, ctrl, false, Sc);
        const uint8_t mode = Mouse.TrackMode;
        Step = Mouse.Move(x + dx, y, ctrl, false, true, Sc);
        TTreeNodeData* selected = nullptr;
        Mouse.Release(selected);
        EXPECT_EQ(selected, n); // the node under the mouse becomes active
        return mode;
    }
    TTrackStep Step;
};

} // namespace

TEST_F(TrackEditFixture, DragsMoveAndReshapeWithinTheirLimitsByTheZonePressed) {
    struct Case {
        const char* what;
        int32_t x, dx;
        bool ctrl, locked;
        uint8_t mode;
        Extended offset, duration;
        bool autoDuration;
    } cases[] = {
        {"7 px does nothing", XOf(2), 7, true, false, tmMove, 1, 2, false},
        {"8 px starts", XOf(2), 8, true, false, tmMove, 1 + 8.0L / 60, 2, false},
        {"moved by 1.5 s", XOf(2), 90, true, false, tmMove, 2.5, 2, false},
        {"no Ctrl only selects", XOf(2), 90, false, false, tmSelect, 1, 2, false},
        {"offset clamps at 0", XOf(2), -120, true, false, tmMove, 0, 2, false},
        {"locked stays", XOf(2), 90, true, true, tmMove, 1, 2, false},
        {"start edge keeps the end", XOf(1) + 2, 60, true, false, tmStartEdge, 2, 1, false},
        {"start edge zone is 7 px", XOf(1) + 7, 3, true, false, tmStartEdge, 1, 2, false},
        {"8 px in is a move", XOf(1) + 8, 0, true, false, tmMove, 1, 2, false},
        {"end edge", XOf(3) - 2, 60, true, false, tmEndEdge, 1, 3, false},
        {"8 px in from the end is a move", XOf(3) - 8, 0, true, false, tmMove, 1, 2, false},
        {"end edge zone is 7 px", XOf(3) - 7, 3, true, false, tmEndEdge, 1, 2, false},
        {"end past the parent: auto", XOf(3) - 2, 300, true, false, tmEndEdge, 1, 0, true},
        {"locked end edge stays", XOf(3) - 2, 60, true, true, tmEndEdge, 1, 2, false},
    };
    std::vector<uint8_t> before, after;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        F->SetOffset(1);
        F->UserDuration = 2;
        F->AutoDuration = false;
        F->PositionLocked = c.locked;
        P.Refresh();
        Paint();
        P.Root->SaveToStream(before);
        EXPECT_EQ(DragBy(F, c.x, c.dx, c.ctrl), c.mode);
        EXPECT_NEAR(double(F->GetOffset()), double(c.offset), 1e-9);
        EXPECT_NEAR(double(F->UserDuration), double(c.duration), 1e-9);
        EXPECT_EQ(F->AutoDuration, c.autoDuration);
        P.Root->SaveToStream(after);
        EXPECT_EQ(Mouse.DragChanged, before != after); // a click without a move changes nothing
        if (c.locked) {
            EXPECT_EQ(Step.Cursor, TTrackCursor::Forbidden);
        }
    }
    // While playing a press does nothing and withholds the popup.
    EXPECT_FALSE(Mouse.Press(XOf(2), RowY(F), true, true, true, Sc));
    EXPECT_EQ(Mouse.TrackMode, tmNone);
}

TEST_F(TrackEditFixture, OpenOutPointDragStartsFromTheSourcesEnd) {
    auto* m = static_cast<TMovieNode*>(P.Add(P.Queue, nkVideo, "M", 2));
    m->SourceDuration = 4;
    m->ClipRange.ToEnd = true;
    m->ClipRange.OutTime = 1; // left over from an earlier cut: the open end wins
    P.Refresh();
    Paint();
    EXPECT_EQ(DragBy(m, XOf(m->GetEndTime()) - 2, -60), tmOutPoint);
    EXPECT_EQ(std::tuple(m->ClipRange.ToEnd, m->ClipRange.OutTime), std::tuple(false, 3.0L));
}

TEST_F(TrackEditFixture, TransitionLengthFollowsItsStartEdgeAndKeepsAMinimum) {
    // T runs 3-5; its start edge pulled left lengthens it.
    DragBy(P.T, XOf(3) + 2, -30);
    EXPECT_NEAR(double(P.T->GetDuration()), 2.5, 1e-9);
    P.Refresh();
    Paint();
    DragBy(P.T, XOf(P.T->GetStartTime()) + 2, 400);
    EXPECT_NEAR(double(P.T->GetDuration()), 0.05, 1e-9);
}

TEST_F(TrackEditFixture, StopPointsAndPegsLandOnFramesAndStayInTheirNode) {
    P.Root->Pegs->AddPoint(1);
    Paint();
    const int32_t stopY = Draw.StopRowTop() + 2;
    Mouse.Move(XOf(1), stopY, false, false, true, Sc);
    ASSERT_NE(Mouse.HoverStop, nullptr);
    Mouse.Press(XOf(1), stopY, true, false, false, Sc);
    Mouse.Move(XOf(1) + 31, stopY, false, false, true, Sc); // 0.5167 s: snaps to 0.5333
    EXPECT_NEAR(double(P.Root->Pegs->GetItem(0)->GetTime()), 1 + 8.0 / 15, 1e-9);
    // A double click adds a stop point on an empty spot and takes away the one it hits.
    TTreeNodeData* none = nullptr;
    Mouse.Release(none);
    for (auto [x, count] : {std::pair{XOf(2), 2}, {XOf(1 + 8.0 / 15), 1}}) {
        Mouse.Press(x, stopY, true, false, false, Sc);
        Mouse.DoubleClick(Sc);
        Mouse.Release(none);
        ASSERT_EQ(P.Root->Pegs->GetCount(), count);
    }
    EXPECT_NEAR(double(P.Root->Pegs->GetItem(0)->GetTime()), 2, 1e-9);
    Draw.SelectObject(F);
    F->Pegs->AddPoint(2);
    EXPECT_FALSE(Draw.MovePeg(F->Pegs->GetItem(0), 4)); // outside F (1-3)
    EXPECT_TRUE(Draw.MovePeg(F->Pegs->GetItem(0), 2.5));
}

TEST(TrackMenuState, FollowsModeNodeAndSeal) {
    TTrackProject p;
    TTreeNodeData* f = p.Add(p.A, nkFilter, "F", 1);
    TStopPoint* stop = p.Root->Pegs->AddPoint(1);
    auto bits = [](const TTrackMenuState& s) {
        std::string out;
        for (bool b :
             {s.TopLevel, s.AddVideo, s.AddEffect, s.Delete, s.InsertBefore, s.InsertAfter,
              s.Replace, s.MarkInOut, s.Locate, s.Settings, s.Peg, s.SetColor, s.Property,
              s.DeleteStopPoint, s.Enabled, s.EnabledChecked, s.Lock, s.LockChecked, s.UseViewer})
            out += b ? '1' : '0';
        return out;
    };
    // Top, add video/effect, delete, insert before/after, replace, marks, locate, settings,
    // peg, colour, property, delete stop, enabled (checked), lock (checked), viewer.
    EXPECT_EQ(bits(GetTrackMenuState(true, f, f, stop, f)), "0000000000000000000");
    EXPECT_EQ(bits(GetTrackMenuState(false, nullptr, nullptr, nullptr, nullptr)),
              "1100000000000000000");
    EXPECT_EQ(bits(GetTrackMenuState(false, p.A, p.A, stop, p.A)), "1111110111111101000");
    EXPECT_EQ(bits(GetTrackMenuState(false, f, f, nullptr, f)), "1111111111111011100");
    p.A->Sealed = true;
    EXPECT_EQ(bits(GetTrackMenuState(false, p.A, p.A, nullptr, p.A)), "1001110111111001000");
}

namespace {

struct CommandFixture : ::testing::Test {
    TFakeUiServices Ui;
    TTrackProject P;
    TTrackDraw Draw{nullptr, P.Root.get()};
    uint8_t NextKind = nkBlank;
    int Refreshes = 0;
    TTimelineCommands Cmd{Draw, &Ui, MakeHost()};

    CommandFixture() { P.Root->Ui = &Ui; }
    TTimelineCommandHost MakeHost() {
        TTimelineCommandHost h;
        // The add-object flow makes its node at the end of the video track.
        h.AddObject = [this](uint16_t kinds) -> TTreeNodeData* {
            if (!(kinds & (1u << NextKind)))
                return nullptr;
            return P.Add(P.Root->VideoTrack, NextKind, "New", 1);
        };
        h.RefreshProject = [this](bool) { ++Refreshes; };
        return h;
    }
};

} // namespace

TEST_F(CommandFixture, InsertPlacesAroundTheHoveredClipAndAGroupGetsAQueue) {
    P.Root->SetActiveNode(P.B);
    Cmd.Add(TAddPlacement::InsertAfter, P.B);
    EXPECT_EQ(Captions(P.Queue), (TNames{"A", "T", "B", "New"}));
    Cmd.Add(TAddPlacement::InsertBefore, P.A);
    EXPECT_EQ(Captions(P.Queue), (TNames{"New", "A", "T", "B", "New"}));
    EXPECT_EQ(Refreshes, 2);
    // The flow refused: nothing changes.
    NextKind = nkFilter;
    EXPECT_EQ(Cmd.Add(TAddPlacement::InsertAfter, P.B), nullptr);
    EXPECT_EQ(Captions(P.Queue).size(), 5u);
    EXPECT_FALSE(Draw.PaintLock);
    NextKind = nkGroup;
    TTreeNodeData* g = Cmd.Add(TAddPlacement::AddVideo, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetParent(), P.Queue);
    ASSERT_EQ(g->GetChildCount(), 1);
    EXPECT_EQ(std::tuple(g->GetChild(0)->Kind, g->GetChild(0)->GetCaption()),
              std::tuple(uint8_t(nkVideoTrack), std::string("Queue")));
}

TEST_F(CommandFixture, ReplaceKeepsPlaceTimesAndChildren) {
    TTreeNodeData* old = P.Add(P.A, nkFilter, "Old", 2);
    old->SetOffset(1.5);
    P.Add(old, nkOverlay, "O1", 1);
    P.Add(old, nkOverlay, "O2", 1);
    P.Add(P.A, nkFilter, "After", 1);
    P.A->Pegs->AddPoint(0.5); // no peg notice
    P.Root->SetActiveNode(P.A);
    NextKind = nkFilter;
    TTreeNodeData* n = Cmd.Add(TAddPlacement::Replace, old);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(Captions(P.A), (TNames{"New", "After"}));
    EXPECT_EQ(Captions(n), (TNames{"O1", "O2"}));
    EXPECT_EQ(std::tuple(n->GetOffset(), n->UserDuration, n->AutoDuration),
              std::tuple(Extended(1.5), Extended(2), false));
    EXPECT_TRUE(Ui.Questions.empty());
    // Without pegs an effect shows the notice first; declined, nothing is added.
    P.Root->SetActiveNode(P.B);
    Ui.ConfirmAnswers.push_back({false, false});
    EXPECT_EQ(Cmd.Add(TAddPlacement::AddEffect, P.B), nullptr);
    EXPECT_EQ(Ui.Confirmations.size(), 1u);
    EXPECT_EQ(P.B->GetChildCount(), 0);
}

TEST_F(CommandFixture, MarksSetAndReleaseInPointsAndOutPoints) {
    P.Root->SetActiveNode(P.A); // A runs 0-5
    TPartialInfo& r = static_cast<TCustomDurableNode*>(P.A)->ClipRange;
    r.FromStart = false;
    r.InTime = 2;
    const TTimeScale sc{15, 4, 0, X0};
    Cmd.SetMarkIn(1, sc);
    EXPECT_EQ(r.InTime, 3);
    Cmd.SetMarkOut(P.A->GetStartTime() + 1.5L, XOf(1.5), sc);
    EXPECT_EQ(std::tuple(r.ToEnd, r.OutTime), std::tuple(false, Extended(4.5)));
    // Never less than 0.05 s between them.
    Cmd.SetMarkOut(P.A->GetStartTime(), XOf(0), sc);
    EXPECT_NEAR(double(r.OutTime - r.InTime), 0.05, 1e-9);
    EXPECT_GE(Ui.Beeps, 1);
    Cmd.ReleaseMarkIn();
    Cmd.ReleaseMarkOut();
    EXPECT_TRUE(r.FromStart && r.ToEnd);
}

TEST_F(CommandFixture, GreyTrackColourAsksAgainAndThirdMarksAskFirst) {
    Ui.ColorAnswers = {TTimelineCommands::Gray, 0x112233};
    Cmd.SetTrackColor(P.B);
    EXPECT_EQ(P.B->Color, 0x112233u);
    EXPECT_EQ(Ui.Messages.size(), 1u);
    TBitmap bmp{800, 200};
    PaintTrack(Draw, bmp, P.Root->GetDuration());
    P.Root->Pegs->AddPoint(1);
    P.Root->Pegs->AddPoint(2);
    // Outside the stop row: refused before anything is asked or deleted.
    Cmd.AddStopPoint(Draw.RowsTop() + 5, 3);
    EXPECT_EQ(P.Root->Pegs->GetCount(), 2);
    EXPECT_TRUE(Ui.Questions.empty());
    Ui.Answers.push_back(TMsgResult::OK);
    Cmd.AddStopPoint(Draw.StopRowTop() + 1, 3);
    ASSERT_EQ(P.Root->Pegs->GetCount(), 1);
    EXPECT_EQ(P.Root->Pegs->GetItem(0)->GetTime(), 3);
}
