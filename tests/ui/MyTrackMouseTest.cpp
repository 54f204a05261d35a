// Editing on the timeline's track image: the drag state machine and its edits, the popup
// menu's state and commands, and real mouse drags on the timeline widget.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QToolButton>

#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MyTimeline.h"
#include "MyTimelineCommands.h"
#include "MyTrackMouse.h"
#include "TrackProject.h"

namespace {

// 15 fps at 4 px a frame: 60 px a second, time 0 at x 4.
constexpr int32_t X0 = 4;
constexpr int32_t PxPerSec = 60;
int32_t XOf(Extended t) {
    return X0 + static_cast<int32_t>(t * PxPerSec);
}

// Paints the track image of project p at 15 fps and 4 px a frame on an 800 x 200 bitmap.
void PaintTrack(TTrackDraw& draw, TBitmap& bitmap, TProjectNode& p) {
    bitmap.SetSize(800, 200);
    TTrackPaintInfo info;
    info.Bitmap = &bitmap;
    info.ViewRect = TRectI{0, 0, 800, 200};
    info.PixelsPerFrame = 4;
    info.PixelsPerSecond = PxPerSec;
    info.FPS = 15;
    info.Duration = p.GetDuration();
    info.CursorMargin = X0;
    draw.Paint(info);
}

struct TrackEditFixture : ::testing::Test {
    TFakeUiServices Ui;
    TTrackProject P;
    TTreeNodeData* F; // filter under A, 1-3 s
    TBitmap Bitmap;
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

    void Paint() { PaintTrack(Draw, Bitmap, *P.Root); }

    int32_t RowY(TTreeNodeData* n) const { return (n->TrackRect.Top + n->TrackRect.Bottom) / 2; }

    // Hover, press and one move by dx, then release.
    TTrackStep DragBy(TTreeNodeData* n, int32_t x, int32_t dx, bool ctrl = true) {
        const int32_t y = RowY(n);
        Mouse.Move(x, y, ctrl, false, true, Sc);
        Mouse.Press(x, y, true, ctrl, false, Sc);
        const TTrackStep step = Mouse.Move(x + dx, y, ctrl, false, true, Sc);
        TTreeNodeData* selected = nullptr;
        Mouse.Release(selected);
        return step;
    }
};

} // namespace

TEST_F(TrackEditFixture, PressPicksTheModeByZone) {
    struct Case {
        int32_t x;
        bool ctrl;
        uint8_t mode;
    } cases[] = {
        {XOf(2), true, tmMove},    {XOf(1) + 7, true, tmStartEdge}, {XOf(3) - 7, true, tmEndEdge},
        {XOf(2), false, tmSelect}, {XOf(1) + 8, true, tmMove},
    };
    for (const Case& c : cases) {
        Mouse.Move(c.x, RowY(F), c.ctrl, false, true, Sc);
        ASSERT_EQ(Mouse.HoverNode, F) << c.x;
        Mouse.Press(c.x, RowY(F), true, c.ctrl, false, Sc);
        EXPECT_EQ(Mouse.TrackMode, c.mode) << c.x;
        TTreeNodeData* sel;
        Mouse.Release(sel);
        EXPECT_EQ(sel, F); // the node under the mouse becomes active
    }
    // While playing a press does nothing and withholds the popup.
    EXPECT_FALSE(Mouse.Press(XOf(2), RowY(F), true, true, true, Sc));
    EXPECT_EQ(Mouse.TrackMode, tmNone);
}

TEST_F(TrackEditFixture, DragsMoveAndReshapeWithinTheirLimits) {
    struct Case {
        const char* what;
        int32_t x, dx;
        bool ctrl, locked;
        Extended offset, duration;
        bool autoDuration;
    } cases[] = {
        {"7 px does nothing", XOf(2), 7, true, false, 1, 2, false},
        {"8 px starts", XOf(2), 8, true, false, 1 + 8.0L / 60, 2, false},
        {"moved by 1.5 s", XOf(2), 90, true, false, 2.5, 2, false},
        {"no Ctrl only selects", XOf(2), 90, false, false, 1, 2, false},
        {"offset clamps at 0", XOf(2), -120, true, false, 0, 2, false},
        {"locked stays", XOf(2), 90, true, true, 1, 2, false},
        {"start edge keeps the end", XOf(1) + 2, 60, true, false, 2, 1, false},
        {"end edge", XOf(3) - 2, 60, true, false, 1, 3, false},
        {"end past the parent: auto", XOf(3) - 2, 300, true, false, 1, 0, true},
        {"locked end edge stays", XOf(3) - 2, 60, true, true, 1, 2, false},
    };
    for (const Case& c : cases) {
        F->SetOffset(1);
        F->UserDuration = 2;
        F->AutoDuration = false;
        F->PositionLocked = c.locked;
        P.Refresh();
        Paint();
        const TTrackStep step = DragBy(F, c.x, c.dx, c.ctrl);
        EXPECT_NEAR(double(F->GetOffset()), double(c.offset), 1e-9) << c.what;
        EXPECT_NEAR(double(F->UserDuration), double(c.duration), 1e-9) << c.what;
        EXPECT_EQ(F->AutoDuration, c.autoDuration) << c.what;
        if (c.locked) {
            EXPECT_EQ(step.Cursor, TTrackCursor::Forbidden) << c.what;
        }
    }
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

TEST_F(TrackEditFixture, AClickWithoutMovingChangesNothing) {
    std::vector<uint8_t> before, after;
    P.Root->SaveToStream(before);
    for (int32_t x : {XOf(1) + 2, XOf(2), XOf(3) - 2}) {
        DragBy(F, x, 3);
        EXPECT_FALSE(Mouse.DragChanged);
    }
    DragBy(P.A, XOf(5) - 2, 0); // a clip's end edge
    P.Root->SaveToStream(after);
    EXPECT_EQ(before, after);
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

    Draw.SelectObject(F);
    F->Pegs->AddPoint(2);
    EXPECT_FALSE(Draw.MovePeg(F->Pegs->GetItem(0), 4)); // outside F (1-3)
    EXPECT_TRUE(Draw.MovePeg(F->Pegs->GetItem(0), 2.5));
}

TEST(TrackMenuState, FollowsModeNodeAndSeal) {
    TTrackProject p;
    TTreeNodeData* f = p.Add(p.A, nkFilter, "F", 1);
    TStopPoint* stop = p.Root->Pegs->AddPoint(1);
    // Adjust mode: everything at the top is off.
    EXPECT_FALSE(GetTrackMenuState(true, f, f, stop, f).TopLevel);
    EXPECT_FALSE(GetTrackMenuState(true, f, f, stop, f).AddVideo);

    TTrackMenuState none = GetTrackMenuState(false, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(none.AddVideo);
    EXPECT_FALSE(none.AddEffect || none.Delete || none.InsertBefore || none.Property ||
                 none.Locate || none.Enabled || none.Lock || none.DeleteStopPoint);

    TTrackMenuState master = GetTrackMenuState(false, p.A, p.A, stop, p.A);
    EXPECT_TRUE(master.AddEffect && master.Delete && master.InsertAfter && master.Locate &&
                master.DeleteStopPoint && master.EnabledChecked);
    EXPECT_FALSE(master.Enabled || master.Lock || master.Replace || master.UseViewer);

    TTrackMenuState filter = GetTrackMenuState(false, f, f, nullptr, f);
    EXPECT_TRUE(filter.Enabled && filter.Lock && filter.Replace);

    p.A->Sealed = true;
    TTrackMenuState sealed = GetTrackMenuState(false, p.A, p.A, nullptr, p.A);
    EXPECT_FALSE(sealed.AddVideo || sealed.AddEffect);
    EXPECT_TRUE(sealed.Delete);
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
            TTreeNodeData* n = P.Root->VideoTrack->AddNode("New", amLastChild, NextKind);
            n->AutoDuration = false;
            n->UserDuration = 1;
            return n;
        };
        h.RefreshProject = [this](bool) { ++Refreshes; };
        return h;
    }

    std::vector<std::string> Captions(TTreeNodeData* parent) {
        std::vector<std::string> c;
        for (int i = 0; i < parent->GetChildCount(); ++i)
            c.push_back(parent->GetChild(i)->GetCaption());
        return c;
    }
};

} // namespace

TEST_F(CommandFixture, InsertPlacesAroundTheHoveredClip) {
    using V = std::vector<std::string>;
    P.Root->SetActiveNode(P.B);
    Cmd.Add(TAddPlacement::InsertAfter, P.B);
    EXPECT_EQ(Captions(P.Queue), (V{"A", "T", "B", "New"}));
    Cmd.Add(TAddPlacement::InsertBefore, P.A);
    EXPECT_EQ(Captions(P.Queue), (V{"New", "A", "T", "B", "New"}));
    EXPECT_EQ(Refreshes, 2);
    // The flow refused: nothing changes.
    NextKind = nkFilter;
    EXPECT_EQ(Cmd.Add(TAddPlacement::InsertAfter, P.B), nullptr);
    EXPECT_EQ(Captions(P.Queue).size(), 5u);
    EXPECT_FALSE(Draw.PaintLock);
}

TEST_F(CommandFixture, AddVideoWithAGroupGivesItAQueue) {
    NextKind = nkGroup;
    TTreeNodeData* g = Cmd.Add(TAddPlacement::AddVideo, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetParent(), P.Queue);
    ASSERT_EQ(g->GetChildCount(), 1);
    EXPECT_EQ(g->GetChild(0)->Kind, nkVideoTrack);
    EXPECT_EQ(g->GetChild(0)->GetCaption(), "Queue");
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
    EXPECT_EQ(Captions(P.A), (std::vector<std::string>{"New", "After"}));
    EXPECT_EQ(Captions(n), (std::vector<std::string>{"O1", "O2"}));
    EXPECT_EQ(n->GetOffset(), 1.5);
    EXPECT_EQ(n->UserDuration, 2);
    EXPECT_FALSE(n->AutoDuration);
    EXPECT_TRUE(Ui.Questions.empty());
}

TEST_F(CommandFixture, AddEffectWithoutPegsShowsTheNoticeFirst) {
    P.Root->SetActiveNode(P.A);
    NextKind = nkFilter;
    Ui.ConfirmAnswers.push_back({false, false});
    EXPECT_EQ(Cmd.Add(TAddPlacement::AddEffect, P.A), nullptr);
    ASSERT_EQ(Ui.Confirmations.size(), 1u);
    EXPECT_EQ(P.A->GetChildCount(), 0);
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
    EXPECT_FALSE(r.ToEnd);
    EXPECT_EQ(r.OutTime, 4.5);
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

    TBitmap bmp;
    PaintTrack(Draw, bmp, *P.Root);
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

// ---- the real widget ------------------------------------------------------------------------

namespace {

void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton b, Qt::MouseButtons bs,
          Qt::KeyboardModifiers mods) {
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), b, bs, mods);
    QCoreApplication::sendEvent(w, &e);
}

void Settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

TEST(TimelineDrag, CtrlDragMovesAFilterAtAnyZoomAndScroll) {
    for (const auto& [zoom, scrolled] :
         {std::pair{1.0L, false}, std::pair{2.0L, false}, std::pair{4.0L, true}}) {
        TFakeUiServices ui;
        TTrackProject p;
        p.Root->Ui = &ui;
        TTreeNodeData* f = p.Add(p.A, nkFilter, "F", 2);
        f->SetOffset(1);
        p.Refresh();
        TTimeline tl;
        tl.resize(700, 200);
        TTimelineHost h;
        h.MaxFrames = 1000;
        h.Project = p.Root.get();
        h.ArrangeDown = [] { return true; };
        tl.AttachHost(h);
        tl.show();
        tl.SetZoomLevel(zoom);
        Settle();
        if (scrolled) {
            Send(tl.sbScroll, QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton,
                 Qt::LeftButton, Qt::NoModifier);
            Send(tl.sbScroll, QEvent::MouseMove, QPoint(5, 2), Qt::NoButton, Qt::LeftButton,
                 Qt::NoModifier);
            Send(tl.sbScroll, QEvent::MouseButtonRelease, QPoint(2, 2), Qt::LeftButton,
                 Qt::NoButton, Qt::NoModifier);
            Settle();
            ASSERT_GT(tl.GetScrollX(), 0);
        }
        const TTimeScale sc = tl.GetModel().Scale();
        const QPoint from(sc.TimeToX(2), (f->TrackRect.Top + f->TrackRect.Bottom) / 2);
        const QPoint to = from + QPoint(static_cast<int>(1.5L * sc.PixelsPerSecond()), 0);
        Send(tl.Image1, QEvent::MouseMove, from, Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
        Send(tl.Image1, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton,
             Qt::ControlModifier);
        Send(tl.Image1, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
        Send(tl.Image1, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton,
             Qt::ControlModifier);
        EXPECT_NEAR(double(f->GetOffset()), 2.5, 1e-9) << double(zoom);
        EXPECT_EQ(p.Root->GetActiveNode(), f);

        // Saved and read back, the move stays.
        std::vector<uint8_t> bytes;
        p.Root->SaveToStream(bytes);
        TTrackProject q;
        ASSERT_TRUE(q.Root->LoadFromStream(bytes));
        TTreeNodeData* track = q.Root->GetChild(q.Root->GetChildCount() - 1);
        ASSERT_EQ(track->Kind, nkVideoTrack);
        TTreeNodeData* g = track->GetChild(0)->GetChild(0);
        EXPECT_NEAR(double(g->GetOffset()), 2.5, 1e-9);
    }
}
