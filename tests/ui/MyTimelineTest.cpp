// The timeline window offscreen: what it paints, the coalesced repaint, the zoom buttons, and
// the cursor placed by the mouse.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>

#include <memory>
#include <vector>

#include "FakeUiServices.h"
#include "MyTimeline.h"
#include "TrackProject.h"

namespace {

QRgb Rgb(uint32_t bgr) {
    return qRgb(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

void Settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A synthetic mouse event sent straight to a control, in its own coordinates.
void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, buttons,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void Drag(QWidget* w, QPoint from, QPoint by) {
    SendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseMove, from + by, Qt::NoButton, Qt::LeftButton);
    // The control has moved; the release comes where the mouse is now.
    SendMouse(w, QEvent::MouseButtonRelease, from, Qt::LeftButton, Qt::NoButton);
}

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
        Settle();
    }

    TTimelineHost MakeHost() {
        TTimelineHost h;
        h.MaxFrames = 1000;
        h.Project = P.Root.get();
        h.ZoomLevel = 1.0;
        h.OnPosition = [this](int32_t f, Extended t) { Positions.emplace_back(f, t); };
        h.OnCursor = [this](int32_t f, Extended t) { Cursors.emplace_back(f, t); };
        h.OnPreviewFrame = [this] { ++Previews; };
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
    Settle();
    EXPECT_EQ(Pixel(500, 150), clTrackBackground);
    EXPECT_EQ(Pixel(100, 45), P.A->Color);
    EXPECT_EQ(Pixel(250, 45), P.T->Color);
    EXPECT_EQ(Pixel(330, 45), P.B->Color);
    EXPECT_EQ(Pixel(363, 45), 0x0000FF); // the locked clip's frame
    EXPECT_EQ(Pixel(150, TTrackDraw::StopRowOffset + 1), clRange);
    EXPECT_EQ(Pixel(400, TTrackDraw::StopRowOffset + 1), clStopBand);
    // The window shows the same image.
    const QImage shown = TL->Image1->grab().toImage();
    EXPECT_EQ(shown.pixel(363, 45), Rgb(0x0000FF));
}

TEST_F(TimelineFixture, TwoRepaintRequestsGiveOnePaint) {
    const int before = TL->GetPaintCount();
    TL->RequestRepaint();
    TL->RequestRepaint();
    EXPECT_EQ(TL->GetPaintCount(), before); // never inside the caller
    Settle();
    EXPECT_EQ(TL->GetPaintCount(), before + 1);
}

TEST_F(TimelineFixture, ClickingOrDraggingOnTheCursorBarMovesTheCursorAndThePreview) {
    QTest::mouseDClick(TL->pPos, Qt::LeftButton, Qt::NoModifier, QPoint(124, 7));
    EXPECT_EQ(TL->GetFramePos(), 30);
    ASSERT_FALSE(Positions.empty());
    EXPECT_EQ(Positions.back().second, 2);
    EXPECT_EQ(TL->sbPos->x(), 120); // its middle over x 124
    Settle();
    EXPECT_EQ(Previews, 1);
    // Left of the strip's start: frame 0.
    QTest::mouseDClick(TL->pPos, Qt::LeftButton, Qt::NoModifier, QPoint(1, 7));
    EXPECT_EQ(TL->GetFramePos(), 0);
    Drag(TL->sbPos, QPoint(4, 7), QPoint(100, 0));
    EXPECT_EQ(TL->GetFramePos(), 25);
    Settle();
    EXPECT_EQ(Previews, 3);
}

TEST_F(TimelineFixture, TrackImageHitsAndReportsTheTimeUnderTheMouse) {
    Settle();
    SendMouse(TL->Image1, QEvent::MouseMove, QPoint(125, 45), Qt::NoButton, Qt::NoButton);
    ASSERT_FALSE(Cursors.empty());
    EXPECT_EQ(Cursors.back().first, 30);
    EXPECT_EQ(Cursors.back().second, 2);

    // Scrolled by the thumb, the same drawn pixels hit the same nodes.
    TL->SetZoomLevel(4);
    Drag(TL->sbScroll, QPoint(2, 2), QPoint(3, 0));
    Settle();
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
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(TL->sbZoomIn, Qt::LeftButton);
    EXPECT_EQ(TL->GetZoomLevel(), 16);
    EXPECT_EQ(Ui.Beeps, 0);
    QTest::mouseClick(TL->sbZoomIn, Qt::LeftButton);
    EXPECT_EQ(Ui.Beeps, 1);
    EXPECT_EQ(TL->GetZoomLevel(), 16);
    QTest::mouseClick(TL->sbZoomNormal, Qt::LeftButton);
    EXPECT_EQ(TL->GetZoomLevel(), 1);
}

TEST_F(TimelineFixture, PaintingWithoutFrameRateTerminates) {
    P.Root->FrameRate = 0;
    TL->SetShowSecond(true);
    const int before = TL->GetPaintCount();
    Settle();
    EXPECT_EQ(TL->GetPaintCount(), before + 1);
    EXPECT_EQ(Pixel(300, 100), clNoScale);
    EXPECT_EQ(TL->GetZoomLevel(), 1);
}

TEST_F(TimelineFixture, VerticalScrollMovesTheRows) {
    Drag(TL->sbVertScroll, QPoint(5, 5), QPoint(0, 20));
    Settle();
    EXPECT_EQ(P.A->TrackRect.Top, 16);
    EXPECT_EQ(TL->ObjectAtPoint(100, 20), P.A);
}

TEST_F(TimelineFixture, SoundSwitchStopsTheProjectFirst) {
    QTest::mouseClick(TL->sbSoundSuppress, Qt::LeftButton);
    EXPECT_FALSE(P.Root->SoundInPlayback);
    EXPECT_TRUE(P.Root->Abort);
}

TEST_F(TimelineFixture, ContentMovesIntoTheHostPanelAndLeavesWithTheWindow) {
    QWidget panel;
    panel.resize(600, 180);
    auto tl = std::make_unique<TTimeline>();
    TTimelineHost h = MakeHost();
    h.ParentPanel = &panel;
    tl->AttachHost(h);
    EXPECT_EQ(tl->BasePanel->parentWidget(), &panel);
    panel.show();
    Settle();
    EXPECT_GT(tl->GetPaintCount(), 0);
    tl.reset();
    Settle();
    EXPECT_TRUE(panel.findChildren<QWidget*>().isEmpty());
}
