// Ruler steps, tick places and labels in frames and in times.
#include <gtest/gtest.h>

#include "MyTimeRuler.h"

namespace {

TTimeScale Scale(Extended fps, Extended zoom, int64_t scrollX = 0) {
    TTimeScale s;
    s.Fps = fps;
    s.PixelsPerFrame = zoom * 4;
    s.ScrollX = scrollX;
    s.CursorMargin = 4;
    return s;
}

} // namespace

TEST(TimeRuler, FrameRulerAtZoomOne) {
    EXPECT_EQ(FrameRulerStep(4), 10);
    const auto ticks = RulerTicks(Scale(15, 1), false, 200);
    // Unscrolled, the first tick lies one step left of the image.
    ASSERT_GE(ticks.size(), 3u);
    EXPECT_EQ(ticks[0].X, -36);
    EXPECT_EQ(ticks[0].Label, "-10");
    EXPECT_EQ(ticks[1].X, 4);
    EXPECT_EQ(ticks[1].Label, "0");
    EXPECT_EQ(ticks[2].X, 44);
    EXPECT_EQ(ticks[2].Label, "10");
    // The last tick is the last one whose place (without the margin) is inside the width.
    EXPECT_EQ(ticks.back().X, 204);
    EXPECT_EQ(ticks.back().Label, "50");
}

TEST(TimeRuler, TimeRulerAtZoomOne) {
    // 60 px a second: v is exactly 1 s, which selects step 1 and not 3.
    EXPECT_EQ(TimeRulerStep(60), 1.0L);
    const auto ticks = RulerTicks(Scale(15, 1), true, 200);
    ASSERT_EQ(ticks.size(), 4u);
    EXPECT_EQ(ticks[0].X, 4);
    EXPECT_EQ(ticks[0].Label, "0:00:00");
    EXPECT_EQ(ticks[1].X, 64);
    EXPECT_EQ(ticks[1].Label, "0:00:01");
    EXPECT_EQ(ticks[3].X, 184);
}

TEST(TimeRuler, ZoomSixteenUsesFineSteps) {
    EXPECT_EQ(FrameRulerStep(64), 1);
    EXPECT_EQ(TimeRulerStep(960), 0.1L);
    const auto ticks = RulerTicks(Scale(15, 16), true, 300);
    ASSERT_GE(ticks.size(), 4u);
    EXPECT_EQ(ticks[1].X - ticks[0].X, 96);
    EXPECT_EQ(ticks[1].Label, "0:00:00:10");
    EXPECT_EQ(ticks[3].Label, "0:00:00:30"); // 3 x 0.1 s, never ":29"
}

TEST(TimeRuler, StepTablesAtTheirEnds) {
    // A step value met exactly is taken, compared in the same type.
    EXPECT_EQ(TimeRulerStep(600), 0.1L);
    EXPECT_EQ(TimeRulerStep(240), 0.25L);
    EXPECT_EQ(TimeRulerStep(4), 15.0L);
    // Wider views than the largest step still get the largest step.
    EXPECT_EQ(TimeRulerStep(0.05L), 720.0L);
    EXPECT_EQ(FrameRulerStep(0.001L), 25000);
    EXPECT_EQ(FrameRulerStep(0.0039L), 25000); // v above 10000
    EXPECT_EQ(FrameRulerStep(0.0041L), 10000);
    // Finer than the finest step.
    EXPECT_EQ(TimeRulerStep(10000), 0.025L);
    // No scale, no step.
    EXPECT_EQ(TimeRulerStep(0), 0.0L);
    EXPECT_EQ(FrameRulerStep(0), 0);
    EXPECT_TRUE(RulerTicks(Scale(0, 1), true, 200).empty());
}

TEST(TimeRuler, ScrolledTicksFollowTheSameMapping) {
    const TTimeScale s = Scale(15, 1, 1000);
    const auto frames = RulerTicks(s, false, 200);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].Label, "240");
    for (const auto& t : frames)
        EXPECT_EQ(t.X, s.TimeToX(std::stoi(t.Label) / 15.0L)) << t.Label;
    const auto times = RulerTicks(s, true, 200);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times[0].Label, "0:00:17"); // 17 s is the first tick inside the image
    EXPECT_EQ(times[0].X, s.TimeToX(17));
    for (const auto& t : times)
        EXPECT_GE(t.X - 4, 0);
}

TEST(TimeRuler, Labels) {
    EXPECT_EQ(TimeLabel(3725, false), "1:02:05");
    EXPECT_EQ(TimeLabel(90000, false), "1:00:00");
    EXPECT_EQ(TimeLabel(0.3, true), "0:00:00:30");
    EXPECT_EQ(TimeLabel(0.3L, true), "0:00:00:30");
    EXPECT_EQ(TimeLabel(59.999, true), "0:00:59:99");
    EXPECT_EQ(TimeLabel(0.025, true), "0:00:00:02");
    EXPECT_EQ(TwoDigits(5), "05");
    EXPECT_EQ(TwoDigits(0), "00");
    EXPECT_EQ(TwoDigits(123), "123");
}
