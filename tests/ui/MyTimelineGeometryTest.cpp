// Zoom, scroll and cursor of the timeline without a window: a 600 px track image above a
// 500 px scroll track.
#include <gtest/gtest.h>

#include <vector>

#include "MyTimelineGeometry.h"

namespace {

struct ModelFixture : ::testing::Test {
    TTimelineModel M;
    Extended Fps = 15;
    Extended Duration = 6;
    int Beeps = 0;
    int SetFrames = 0;
    std::vector<std::pair<int32_t, Extended>> Positions;

    ModelFixture() {
        M.ImageWidth = 600;
        M.ScrollTrackWidth = 500;
        M.CursorBarWidth = 600;
        M.Fps = [this] { return Fps; };
        M.Duration = [this] { return Duration; };
        M.Beep = [this] { ++Beeps; };
        M.SetFrame = [this] { ++SetFrames; };
        M.Position = [this](int32_t f, Extended t) { Positions.emplace_back(f, t); };
        M.SetMaxFrames(1000);
    }
};

} // namespace

TEST_F(ModelFixture, ZoomLimits) {
    EXPECT_EQ(M.ThumbPxWidth, 75); // 600 of 4000 strip pixels on a 500 px track
    for (int i = 0; i < 4; ++i)
        M.ZoomIn();
    EXPECT_EQ(M.ZoomLevel, 16);
    EXPECT_EQ(M.PixelsPerFrame, 64);
    EXPECT_EQ(Beeps, 0);
    EXPECT_FALSE(M.SetZoomLevel(32));
    EXPECT_EQ(Beeps, 1);
    EXPECT_EQ(M.ZoomLevel, 16);

    // Zooming out stops once the thumb covers half the track.
    while (M.ZoomLevel > 0.25L && Beeps == 1)
        M.ZoomOut();
    EXPECT_EQ(M.ZoomLevel, 0.25L);
    EXPECT_EQ(M.ThumbPxWidth, 300);
    M.ZoomOut();
    EXPECT_EQ(Beeps, 2);
    EXPECT_EQ(M.ZoomLevel, 0.25L);
    // Nothing asked, nothing beeps; no zoom of 0 or below is taken.
    EXPECT_FALSE(M.SetZoomLevel(0.25L));
    EXPECT_FALSE(M.SetZoomLevel(0));
    EXPECT_EQ(Beeps, 3);
    EXPECT_EQ(M.ZoomLevel, 0.25L);
}

TEST_F(ModelFixture, ZoomInRefusedWhenTheStripWouldBeTooWide) {
    Fps = 25;
    Duration = 1000;
    M.ZoomIn(); // 25 x 8 x 1000 = 200000 pixels
    EXPECT_EQ(Beeps, 1);
    EXPECT_EQ(M.ZoomLevel, 1);
}

TEST_F(ModelFixture, StandardZoomFitsTheProject) {
    Fps = 25;
    Duration = 10;
    M.ZoomIn();
    M.ZoomNormal(); // min(1, 131070 / 1000 / 8)
    EXPECT_EQ(M.ZoomLevel, 1);
    Duration = 1000;
    M.SetMaxFrames(25000);
    M.ZoomNormal();
    EXPECT_EQ(M.ZoomLevel, 131070.0L / 100000 / 8);
    EXPECT_EQ(M.PixelsPerFrame, M.ZoomLevel * 4);
    Fps = 0;
    const Extended z = M.ZoomLevel;
    M.ZoomNormal();
    EXPECT_EQ(M.ZoomLevel, z);
    EXPECT_EQ(Beeps, 0);
}

TEST_F(ModelFixture, FramePosIsClampedToTheStrip) {
    M.SetFramePos(-5);
    EXPECT_EQ(M.GetFramePos(), 0);
    M.SetFramePos(5000);
    EXPECT_EQ(M.GetFramePos(), 1000);
    EXPECT_EQ(M.CursorPixels, 4000);
    ASSERT_FALSE(Positions.empty());
    EXPECT_EQ(Positions.back().first, 1000);
    EXPECT_EQ(Positions.back().second, 1000 / 15.0L);
    // The cursor moves in whole frames.
    M.SetPosPixels(41);
    EXPECT_EQ(M.CursorPixels, 40);
    M.SetPosPixels(43);
    EXPECT_EQ(M.CursorPixels, 44);
}

TEST_F(ModelFixture, DoubleClickOnTheCursorBar) {
    M.CursorBarDoubleClick(124); // middle of the button over x 124: strip pixel 120
    EXPECT_EQ(M.GetFramePos(), 30);
    EXPECT_EQ(M.CursorLeft, 120);
    M.CursorBarDoubleClick(1); // left of the strip's start
    EXPECT_EQ(M.GetFramePos(), 0);
    EXPECT_EQ(M.CursorPixels, 0);
}

TEST_F(ModelFixture, NoFrameRate) {
    Fps = 0;
    Duration = 0;
    M.SetFramePos(10);
    EXPECT_EQ(M.GetFramePos(), 10);
    EXPECT_EQ(Positions.back().second, 0);
    EXPECT_EQ(M.Scale().XToTime(100), 0);
    EXPECT_EQ(M.Scale().SnapToFrame(1.23L), 1.23L);
    EXPECT_EQ(M.Scale().TimeToFrame(5), 0);
    EXPECT_EQ(M.PrepareRepaint(), 0);
    EXPECT_EQ(M.ZoomLevel, 1);
}

TEST_F(ModelFixture, RepaintHalvesTheZoomUntilTheProjectFits) {
    Fps = 25;
    Duration = 1000;
    M.ZoomLevel = 4;
    EXPECT_EQ(M.PrepareRepaint(), 1000);
    EXPECT_EQ(M.ZoomLevel, 1);
    EXPECT_EQ(M.PixelsPerFrame, 4);
    // An empty project shows the strip's length.
    Duration = 0;
    EXPECT_EQ(M.PrepareRepaint(), 1000 / 25.0L);
    // However long the project, the zoom stays above 0.
    Duration = 1e30L;
    M.PrepareRepaint();
    EXPECT_GT(M.ZoomLevel, 0);
    EXPECT_GT(M.PixelsPerFrame, 0);
}

TEST_F(ModelFixture, ScrollTrackClickPages) {
    // A thumb wider than a tenth of the track pages by its width.
    M.ScrollTrackClick(400);
    EXPECT_EQ(M.ThumbLeft, 75);
    EXPECT_EQ(M.ScrollX, Round64(4000 * 75 / 425.0L));
    M.ScrollTrackClick(10);
    EXPECT_EQ(M.ThumbLeft, 0);
    EXPECT_EQ(M.ScrollX, 0);
    // A narrow thumb pages by a tenth of the free track, and stops at the end.
    M.SetZoomLevel(4);
    M.SetScrollPos(0);
    EXPECT_EQ(M.ThumbWidth, 600 / 16000.0L * 500);
    M.ScrollTrackClick(400);
    EXPECT_EQ(M.ThumbLeft, (500 - M.ThumbWidth) * 0.1L);
    EXPECT_EQ(M.ScrollX, 1600);
    for (int i = 0; i < 20; ++i)
        M.ScrollTrackClick(499);
    EXPECT_EQ(M.ThumbPxLeft, 500 - M.ThumbPxWidth);
}

TEST_F(ModelFixture, ArrowButtonsRepeat) {
    M.SetZoomLevel(4);
    M.SetScrollPos(0);
    const Extended step = (500 - M.ThumbWidth) * 0.01L;
    EXPECT_EQ(M.ArrowDown(false, false), 10);
    EXPECT_EQ(M.ArrowTick(), 600);
    EXPECT_EQ(M.ThumbLeft, step);
    EXPECT_EQ(M.ArrowTick(), 100);
    EXPECT_EQ(M.ArrowTick(), 100);
    EXPECT_EQ(M.ThumbLeft, 3 * step);
    M.ArrowUp();
    EXPECT_EQ(M.ArrowTick(), 0);
    EXPECT_EQ(M.ThumbLeft, 3 * step);
    // With Ctrl: one jump to the end and no repeat.
    EXPECT_EQ(M.ArrowDown(false, true), 10);
    EXPECT_EQ(M.ArrowTick(), 0);
    EXPECT_EQ(M.ThumbPxLeft, 500 - M.ThumbPxWidth);
    EXPECT_EQ(M.ScrollMode, 0);
    M.ArrowDown(true, true);
    EXPECT_EQ(M.ArrowTick(), 0);
    EXPECT_EQ(M.ScrollX, 0);
}

TEST_F(ModelFixture, DraggingTheCursorAgainstTheRightEdgeScrolls) {
    M.SetZoomLevel(4); // 16000 strip pixels, thumb 18.75 of 500
    M.SetScrollPos(0);
    M.DragCursorTo(1000);
    EXPECT_EQ(M.ScrollX, 160);      // a hundredth of the free track
    EXPECT_EQ(M.CursorPixels, 752); // 160 + 591, on a whole frame
    EXPECT_EQ(M.CursorLeft, 592);
    M.DragCursorTo(1000);
    EXPECT_EQ(M.ScrollX, 320);
    for (int i = 0; i < 200; ++i)
        M.DragCursorTo(1000);
    EXPECT_EQ(M.CursorPixels, 16000);
    const int64_t scroll = M.ScrollX;
    M.DragCursorTo(1000);
    EXPECT_EQ(M.ScrollX, scroll);
    // Against the left edge, at frame 0 nothing happens.
    M.SetScrollPos(0);
    M.SetFramePos(0);
    M.DragCursorTo(-20);
    EXPECT_EQ(M.CursorPixels, 0);
    EXPECT_EQ(M.ScrollX, 0);
}

TEST_F(ModelFixture, StripNeverShorterThanTheView) {
    M.SetMaxFrames(100); // 400 pixels under a 600 px image
    EXPECT_EQ(M.MaxFrames, 1000);
    EXPECT_EQ(M.ThumbPxWidth, 75);
    M.SetMaxFrames(2000);
    EXPECT_EQ(M.MaxFrames, 2000);
}

TEST_F(ModelFixture, LocateCursorAndTheOneMapping) {
    M.SetZoomLevel(4);
    M.SetFramePos(500); // strip pixel 8000
    SetFrames = 0;
    M.LocateCursor(2);
    EXPECT_EQ(M.ScrollX, 7700);
    EXPECT_EQ(M.CursorLeft, 300);
    EXPECT_EQ(SetFrames, 1);
    // The middle of the cursor button stands over the cursor's time, scrolled or not.
    const TTimeScale s = M.Scale();
    EXPECT_EQ(s.TimeToX(500 / 15.0L), M.CursorLeft + TTimelineModel::CursorMargin);
    for (int32_t x : {0, 17, 304, 599})
        EXPECT_EQ(s.TimeToX(s.XToTime(x)), x);
    M.LocateCursor(0);
    EXPECT_EQ(M.CursorLeft, 0);
    M.LocateCursor(1);
    EXPECT_EQ(M.CursorLeft, 600);
    // Playback running past the view brings the cursor back to the left edge.
    M.SetFramePos(560);
    M.KeepCursorVisible();
    EXPECT_EQ(M.CursorLeft, 0);
}
