// Ruler steps, tick places and labels in frames and in times.
#include <gtest/gtest.h>

#include <tuple>

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

TEST(TimeRuler, StepTables) {
    // Pixels per frame -> frame step.
    const std::pair<Extended, int> frames[] = {{4, 10},          {64, 1},          {0.001L, 25000},
                                               {0.0039L, 25000}, {0.0041L, 10000}, {0, 0}};
    for (auto [v, step] : frames)
        EXPECT_EQ(FrameRulerStep(v), step) << double(v);
    // Pixels per second -> time step. A step met exactly is taken (1 s at 60 px, not 3 s);
    // views wider than the largest step still get it; no scale, no step; from 6000 px a
    // second (zoom 16 above 93.75 fps) no step either.
    const std::pair<Extended, Extended> times[] = {
        {60, 1},      {960, 0.1L},    {600, 0.1L}, {240, 0.25L}, {4, 15},
        {0.05L, 720}, {5999, 0.025L}, {6000, 0},   {10000, 0},   {0, 0}};
    for (auto [v, step] : times)
        EXPECT_EQ(TimeRulerStep(v), step) << double(v);
    EXPECT_TRUE(RulerTicks(Scale(0, 1), true, 200).empty());
}

TEST(TimeRuler, TicksAtZoomOneAndSixteen) {
    const auto frames = RulerTicks(Scale(15, 1), false, 200);
    // Unscrolled, the first tick lies one step left of the image; the last is the last whose
    // place (without the margin) is inside the width.
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(std::tuple(frames[0].X, frames[0].Label, frames[1].X, frames[1].Label,
                         frames.back().X, frames.back().Label),
              std::tuple(-36, "-10", 4, "0", 204, "50"));

    const auto times = RulerTicks(Scale(15, 1), true, 200);
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(std::tuple(times[1].X, times[1].Label), std::tuple(64, "0:00:01"));

    const auto fine = RulerTicks(Scale(15, 16), true, 300);
    ASSERT_GE(fine.size(), 4u);
    // 3 x 0.1 s, never ":29".
    EXPECT_EQ(std::tuple(fine[1].X - fine[0].X, fine[3].Label), std::tuple(96, "0:00:00:30"));
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
    // 17 s is the first tick inside the image.
    EXPECT_EQ(std::tuple(times[0].Label, times[0].X), std::tuple("0:00:17", s.TimeToX(17)));
}

TEST(TimeRuler, Labels) {
    const std::tuple<Extended, bool, const char*> cases[] = {
        {3725, false, "1:02:05"},   {90000, false, "1:00:00"},    {0.3, true, "0:00:00:30"},
        {0.3L, true, "0:00:00:30"}, {59.999, true, "0:00:59:99"}, {0.025, true, "0:00:00:02"}};
    for (auto [t, hundredths, label] : cases)
        EXPECT_EQ(TimeLabel(t, hundredths), label) << double(t);
    EXPECT_EQ(TwoDigits(5) + " " + TwoDigits(123), "05 123");
}
