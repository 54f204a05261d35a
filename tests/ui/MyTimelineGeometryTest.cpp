// Zoom, scroll and cursor of the timeline without a window: a 600 px track image above a
// 500 px scroll track.
#include <gtest/gtest.h>

#include <limits>
#include <tuple>
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
    for (int i = 0; i < 4; ++i)
        M.ZoomIn();
    EXPECT_EQ(std::tuple(M.PixelsPerFrame, Beeps), std::tuple(Extended(64), 0));
    EXPECT_FALSE(M.SetZoomLevel(32));
    EXPECT_EQ(std::tuple(M.ZoomLevel, Beeps), std::tuple(Extended(16), 1));
    // Zooming out stops once the thumb covers half the track.
    while (M.ZoomLevel > 0.25L && Beeps == 1)
        M.ZoomOut();
    EXPECT_EQ(M.ThumbPxWidth, 300);
    M.ZoomOut();
    EXPECT_EQ(std::tuple(M.ZoomLevel, Beeps), std::tuple(0.25L, 2));
    EXPECT_FALSE(M.SetZoomLevel(0));
    EXPECT_EQ(M.ZoomLevel, 0.25L);
}

TEST_F(ModelFixture, LongProjectsLimitTheZoom) {
    Fps = 25;
    Duration = 1000;
    M.ZoomIn(); // 25 x 8 x 1000 = 200000 pixels: too wide
    EXPECT_EQ(std::tuple(M.ZoomLevel, Beeps), std::tuple(Extended(1), 1));
    M.SetMaxFrames(25000);
    M.ZoomNormal();
    EXPECT_EQ(M.ZoomLevel, 131070.0L / 100000 / 8);
    // A repaint halves the zoom until the project fits, and never reaches 0.
    M.ZoomLevel = 4;
    EXPECT_EQ(std::tuple(M.PrepareRepaint(), M.ZoomLevel), std::tuple(1000, Extended(1)));
    Duration = 1e30L;
    M.PrepareRepaint();
    EXPECT_GT(M.PixelsPerFrame, 0);
}

TEST_F(ModelFixture, FramePosIsClampedToTheStrip) {
    M.SetFramePos(5000);
    ASSERT_FALSE(Positions.empty());
    EXPECT_EQ(std::tuple(M.GetFramePos(), M.CursorPixels, Positions.back().second),
              std::tuple(1000, 4000, 1000 / 15.0L));
    M.SetFramePos(-5);
    EXPECT_EQ(M.GetFramePos(), 0);
    // The cursor moves in whole frames.
    for (auto [x, to] : {std::pair{41, 40}, {43, 44}}) {
        M.SetPosPixels(x);
        EXPECT_EQ(M.CursorPixels, to) << x;
    }
    // The strip is never shorter than the view: 100 frames (400 pixels) become the 150 frames
    // that fill the 600 pixel view.
    M.SetMaxFrames(100);
    EXPECT_EQ(std::tuple(M.MaxFrames, M.ThumbPxWidth, M.ScrollX), std::tuple(150, 500, 0));
    // A project without frames keeps the strip there is.
    M.SetMaxFrames(0);
    EXPECT_EQ(M.MaxFrames, 150);
    // A view 4 px short of the strip leaves less than a pixel of free track; its end still
    // shows the strip's end.
    M.ImageWidth = 2400;
    M.SetMaxFrames(601);
    M.SetScrollPos(500);
    EXPECT_EQ(M.ScrollX, 2404 + 9 - 2400);
}

TEST_F(ModelFixture, NoFrameRate) {
    Fps = 0;
    Duration = 0;
    M.SetFramePos(10);
    M.ZoomNormal();
    EXPECT_EQ(std::tuple(M.GetFramePos(), Positions.back().second, M.Scale().XToTime(100),
                         M.Scale().TimeToFrame(5), M.PrepareRepaint(), M.ZoomLevel),
              std::tuple(10, Extended(0), Extended(0), 0, 0, Extended(1)));
    Duration = std::numeric_limits<Extended>::infinity();
    EXPECT_EQ(M.PrepareRepaint(), 0);
}

TEST_F(ModelFixture, ScrollingStopsAtTheEnds) {
    M.SetZoomLevel(4); // 16000 strip pixels
    M.ScrollTrackClick(400);
    // A tenth of the free track: a tenth of the strip less the view (16000 + 9 - 600).
    EXPECT_EQ(M.ScrollX, 1541);
    M.UpdateLayout(); // a relayout keeps the place
    EXPECT_EQ(M.ScrollX, 1541);
    for (int i = 0; i < 20; ++i)
        M.ScrollTrackClick(499);
    EXPECT_EQ(M.ThumbPxLeft, 500 - M.ThumbPxWidth);
    EXPECT_EQ(M.ScrollX, 16000 + 9 - 600); // the strip's last view-width, nothing past it
    M.ScrollTrackClick(0);                 // left of the thumb: a tenth back
    EXPECT_NEAR(double(M.ScrollX), 16000 + 9 - 600 - 1541, 16);
    M.ArrowDown(true, true); // Ctrl: straight to the start, no repeat
    EXPECT_EQ(std::tuple(M.ArrowTick(), M.ScrollX), std::tuple(0, 0));
    M.ArrowDown(false, false); // right: a hundredth of the free track, then repeats
    EXPECT_EQ(std::tuple(M.ArrowTick(), M.ScrollX), std::tuple(600, 154));
    M.SetScrollPos(0);
    // Dragging the cursor against the right edge scrolls by a hundredth of the free track.
    M.DragCursorTo(1000);
    EXPECT_EQ(std::tuple(M.ScrollX, M.CursorPixels), std::tuple(154, 752)); // 154 + 591, on a frame
    for (int i = 0; i < 200; ++i)
        M.DragCursorTo(1000);
    EXPECT_EQ(M.CursorPixels, 16000);
    M.SetScrollPos(0);
    M.SetFramePos(0);
    M.DragCursorTo(-20);
    EXPECT_EQ(M.CursorPixels, 0);
}

TEST_F(ModelFixture, LocateCursorAndTheOneMapping) {
    M.SetZoomLevel(4);
    M.SetFramePos(500); // strip pixel 8000
    SetFrames = 0;
    M.LocateCursor(2);
    EXPECT_EQ(std::tuple(M.CursorLeft, SetFrames), std::tuple(300, 1));
    // The middle of the cursor button stands over the cursor's time, scrolled or not.
    const TTimeScale s = M.Scale();
    EXPECT_EQ(s.TimeToX(500 / 15.0L), M.CursorLeft + TTimelineModel::CursorMargin);
    EXPECT_EQ(s.TimeToFrame(0.05L), 1); // three quarters of a frame
    for (int32_t x : {0, 17, 304, 599})
        EXPECT_EQ(s.TimeToX(s.XToTime(x)), x);
    // Playback running past the view brings the cursor back to the left edge.
    M.SetFramePos(560);
    M.KeepCursorVisible();
    EXPECT_EQ(M.CursorLeft, 0);
}
