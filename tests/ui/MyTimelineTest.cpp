// The timeline window offscreen: what it paints, the coalesced repaint, the zoom buttons, and
// the cursor placed by the mouse.
#include "MainWindowRig.h"

namespace {

struct TimelineFixture : ::testing::Test {
    TFakeUiServices Ui;
    TTrackProject P;
    std::vector<std::pair<int32_t, Extended>> Positions;
    std::vector<std::pair<int32_t, Extended>> Cursors;
    int Previews = 0;
    std::unique_ptr<TTimeline> TL;

    TimelineFixture() {
        P.Root->Ui = &Ui;
        TL = std::make_unique<TTimeline>();
        TL->resize(700, 200);
        TL->AttachHost(MakeHost());
        TL->show();
        PumpEvents();
    }

    TTimelineHost MakeHost() {
        TTimelineHost h;
        h.MaxFrames = 1000;
        h.Project = P.Root.get();
        h.ZoomLevel = 1.0;
        h.OnPosition = [this](int32_t f, Extended t) { Positions.emplace_back(f, t); };
        h.OnCursor = [this](int32_t f, Extended t) { Cursors.emplace_back(f, t); };
        h.OnPreviewFrame = [this] { ++Previews; };
        h.ArrangeDown = [] { return true; };
        return h;
    }

    uint32_t Pixel(int x, int y) const { return TL->GetTrackBitmap().Canvas().GetPixel(x, y); }
};

} // namespace

TEST_F(TimelineFixture, PaintsRowsStopBandAndLockedFrame) {
    P.Root->Pegs->AddPoint(1);
    P.Root->Pegs->AddPoint(4);
    P.B->PositionLocked = true;
    TL->RequestRepaint();
    PumpEvents();
    const int32_t stops = TTrackDraw::StopRowOffset + 1;
    EXPECT_EQ((std::array{Pixel(500, 150), Pixel(100, 45), Pixel(250, 45), Pixel(330, 45),
                          Pixel(363, 45), Pixel(150, stops), Pixel(400, stops)}),
              (std::array<uint32_t, 7>{clTrackBackground, P.A->Color, P.T->Color, P.B->Color,
                                       0x0000FF, clRange, clStopBand}));
    // The window shows the same image; the locked clip's frame is red.
    EXPECT_EQ(TL->Image1->grab().toImage().pixel(363, 45), qRgb(255, 0, 0));
}

TEST_F(TimelineFixture, TwoRepaintRequestsGiveOnePaint) {
    const int before = TL->GetPaintCount();
    TL->RequestRepaint();
    TL->RequestRepaint();
    EXPECT_EQ(TL->GetPaintCount(), before); // never inside the caller
    PumpEvents();
    EXPECT_EQ(TL->GetPaintCount(), before + 1);
}

TEST_F(TimelineFixture, ClickingOrDraggingOnTheCursorBarMovesTheCursorAndThePreview) {
    QTest::mouseDClick(TL->pPos, Qt::LeftButton, Qt::NoModifier, QPoint(124, 7));
    ASSERT_FALSE(Positions.empty());
    // The button's middle stands over x 124.
    EXPECT_EQ(std::tuple(TL->GetFramePos(), Positions.back().second, TL->sbPos->x()),
              std::tuple(30, Extended(2), 120));
    PumpEvents();
    EXPECT_EQ(Previews, 1);
    // Left of the strip's start: frame 0.
    QTest::mouseDClick(TL->pPos, Qt::LeftButton, Qt::NoModifier, QPoint(1, 7));
    EXPECT_EQ(TL->GetFramePos(), 0);
    MouseDrag(TL->sbPos, {{4, 7}, {104, 7}, {4, 7}}); // the button moved under the mouse
    EXPECT_EQ(TL->GetFramePos(), 25);
    PumpEvents();
    EXPECT_EQ(Previews, 3);
}

TEST_F(TimelineFixture, TrackImageHitsAndReportsTheTimeUnderTheMouse) {
    PumpEvents();
    SendMouse(TL->Image1, QEvent::MouseMove, QPoint(125, 45), Qt::NoButton);
    ASSERT_FALSE(Cursors.empty());
    EXPECT_EQ(Cursors.back(), std::pair(30, Extended(2)));

    // Scrolled by the thumb, the same drawn pixels hit the same nodes.
    TL->SetZoomLevel(4);
    MouseDrag(TL->sbScroll, {{2, 2}, {5, 2}, {2, 2}});
    PumpEvents();
    ASSERT_GT(TL->GetScrollX(), 0);
    int hits = 0;
    for (int x = 0; x < TL->Image1->width(); x += 7)
        if (TTreeNodeData* hit = TL->ObjectAtPoint(x, 45)) {
            ++hits;
            EXPECT_EQ(Pixel(x, 45), hit->Color) << x;
        }
    EXPECT_GT(hits, 0);
}

TEST_F(TimelineFixture, ZoomButtonsAndTheLimitBeep) {
    for (int beeps : {0, 0, 0, 0, 1}) {
        QTest::mouseClick(TL->sbZoomIn, Qt::LeftButton);
        EXPECT_EQ(Ui.Beeps, beeps);
    }
    EXPECT_EQ(TL->GetZoomLevel(), 16);
    QTest::mouseClick(TL->sbZoomNormal, Qt::LeftButton);
    EXPECT_EQ(TL->GetZoomLevel(), 1);
}

TEST_F(TimelineFixture, PaintingWithoutFrameRateTerminates) {
    P.Root->FrameRate = 0;
    TL->SetShowSecond(true);
    const int before = TL->GetPaintCount();
    PumpEvents();
    EXPECT_EQ(TL->GetPaintCount(), before + 1);
    EXPECT_EQ(Pixel(300, 100), clNoScale);
    EXPECT_EQ(TL->GetZoomLevel(), 1);
}

TEST_F(TimelineFixture, VerticalScrollMovesTheRows) {
    MouseDrag(TL->sbVertScroll, {{5, 5}, {5, 25}, {5, 5}});
    PumpEvents();
    EXPECT_EQ(P.A->TrackRect.Top, 16);
    EXPECT_EQ(TL->ObjectAtPoint(100, 20), P.A);
    MouseDrag(TL->sbVertScroll, {{5, 5}, {5, -40}, {5, -40}}); // past the top: stops there
    PumpEvents();
    EXPECT_EQ(std::pair(TL->sbVertScroll->y(), P.A->TrackRect.Top), std::pair(0, 36));
}

TEST_F(TimelineFixture, SmallArrowScrollsUntilReleased) {
    SendMouse(TL->sbSmallRight, QEvent::MouseButtonPress, {3, 3});
    PumpEvents();
    EXPECT_EQ(TL->GetModel().ScrollMode, 20);
    SendMouse(TL->sbSmallRight, QEvent::MouseButtonRelease, {3, 3}, Qt::NoButton);
    EXPECT_EQ(TL->GetModel().ScrollMode, 0);
}

TEST_F(TimelineFixture, SoundSwitchStopsTheProjectFirst) {
    QTest::mouseClick(TL->sbSoundSuppress, Qt::LeftButton);
    EXPECT_TRUE(!P.Root->SoundInPlayback && P.Root->Abort);
}

TEST_F(TimelineFixture, CtrlDragMovesAFilterAtAnyZoomAndScroll) {
    TTreeNodeData* f = P.Add(P.A, nkFilter, "F", 2);
    for (Extended zoom : {1.0L, 2.0L, 4.0L}) {
        SCOPED_TRACE(double(zoom));
        f->SetOffset(1);
        P.Refresh();
        TL->SetZoomLevel(zoom);
        TL->RequestRepaint();
        PumpEvents();
        if (zoom == 4) {
            MouseDrag(TL->sbScroll, {{2, 2}, {5, 2}, {2, 2}});
            PumpEvents();
            ASSERT_GT(TL->GetScrollX(), 0);
        }
        const TTimeScale sc = TL->GetModel().Scale();
        const QPoint from(sc.TimeToX(2), (f->TrackRect.Top + f->TrackRect.Bottom) / 2);
        const QPoint to = from + QPoint(static_cast<int>(1.5L * sc.PixelsPerSecond()), 0);
        SendMouse(TL->Image1, QEvent::MouseMove, from, Qt::NoButton, Qt::ControlModifier);
        MouseDrag(TL->Image1, {from, to, to}, Qt::ControlModifier);
        EXPECT_NEAR(double(f->GetOffset()), 2.5, 1e-9);
        EXPECT_EQ(P.Root->GetActiveNode(), f);
    }
}

// The timeline inside the real main window: its strip starts 1000 frames long, and "Enabled"
// of the popup menu renders the preview anew.
class MainTimeline : public TMainWindowRig<> {};

TEST_F(MainTimeline, StripStartsAThousandFramesLongAndEnabledRendersAtOnce) {
    EXPECT_EQ(Form->Timeline().GetMaxFrames(), 1000);
    TBlankNode* red = AddBlank(2, 0x0000FF);
    Form->RefreshProject(false);
    Form->SendSetFrame(5);
    PumpEvents();
    ASSERT_EQ(Form->VideoImage->Picture().Canvas().GetPixel(1, 1), 0x0000FFu);
    TTimeline* tl = Form->GetMainTimeline();
    ASSERT_TRUE(tl);
    // A mark on the preview that only a new render takes away.
    Form->VideoImage->Picture().Canvas().SetPixel(1, 1, 0x123456);
    tl->GetCommands()->ToggleEnabled(red);
    EXPECT_FALSE(red->IsEnabled());
    PumpEvents();
    EXPECT_NE(Form->VideoImage->Picture().Canvas().GetPixel(1, 1), 0x123456u);
}
