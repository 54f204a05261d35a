// Pixel filters (byte tables over every input, mirror, negative, TV shop, zoom) and the two
// filters with a memory (freeze, step back), with the JPEG store.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "AddOnRig.h"
#include "MyFilters.h"
#include "MyTimeData.h"

using namespace addonrig;

namespace {

// 256 pixels, pixel v holding v in all three bytes.
TBitmap Ramp() {
    return Paint(256, 1, [](int v, int) { return Grey(v); });
}

bool Near(const TBitmap& a, const TBitmap& b, int tolerance) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Width() * 3; ++i)
            if (std::abs(a.ScanLine(y)[i] - b.ScanLine(y)[i]) > tolerance)
                return false;
    return true;
}

TNodeInfo Look(Extended level, Extended sizing, uint32_t color = 0) {
    return {.Sizing = sizing, .Level = level, .Color = color};
}

} // namespace

TEST(Brightness, EveryInputAtEveryLevel) {
    // Level l multiplies by (1 + l); levels past -1 and 1 act as those, with no wrap.
    const TBitmap ramp = Ramp();
    for (auto [level, num] :
         {std::pair{0.0L, 2}, {0.5L, 3}, {-0.5L, 1}, {-1.0L, 0}, {1.0L, 4}, {-3.5L, 0}, {40.0L, 4}})
        EXPECT_TRUE(
            Same(Filtered<TBrightnessFilter>(ramp, level),
                 Paint(256, 1, [&](int v, int) { return Grey(std::min(255, v * num / 2)); })))
            << double(level);
}

TEST(LightTemperature, EveryInputMixedWithTheColour) {
    // Pure red at level 0: grey 100 becomes 50, 50, 177. Black is "no colour": the frame stays.
    const TBitmap grey = Solid(3, 2, Grey(100));
    ExpectPixels(Filtered<TColorFilter>(grey, Look(0, 0, 0x0000FF)), "2,1=50,50,177");
    EXPECT_TRUE(Same(Filtered<TColorFilter>(grey, Look(1, 0)), grey));
    // Level -1 and below keep the frame; 1 and above give the colour itself.
    const TBitmap ramp = Ramp();
    const uint32_t c = 0x20C0FF; // B 0x20, G 0xC0, R 0xFF
    for (Extended level : {-1.0L, -6.0L})
        EXPECT_TRUE(Same(Filtered<TColorFilter>(ramp, Look(level, 0, c)), ramp));
    for (Extended level : {1.0L, 6.0L})
        EXPECT_TRUE(Same(Filtered<TColorFilter>(ramp, Look(level, 0, c)),
                         Solid(256, 1, {0x20, 0xC0, 0xFF})));
    EXPECT_TRUE(Same(
        Filtered<TColorFilter>(ramp, Look(0, 0, c)), Paint(256, 1, [](int v, int) {
            return Px{uint8_t((0x20 + v) / 2), uint8_t((0xC0 + v) / 2), uint8_t((0xFF + v) / 2)};
        })));
}

TEST(Sepia, TintsTheGreyOfEveryPixelByLevelAndSizing) {
    // The grey is the average of the three bytes, rounded down.
    ExpectPixels(Filtered<TSepiaFilter>(Solid(1, 1, {90, 120, 150}), Look(0, 0)), "0,0=30,60,60");
    ExpectPixels(Filtered<TSepiaFilter>(Solid(1, 1, {0, 1, 255}), Look(1, 1)), "0,0=0,85,85");
    // Level 1 and sizing -1 (and anything past them): a grey picture stays as it is.
    const TBitmap ramp = Ramp();
    EXPECT_TRUE(Same(Filtered<TSepiaFilter>(ramp, Look(1, -1)), ramp));
    EXPECT_TRUE(Same(Filtered<TSepiaFilter>(ramp, Look(9, -9)), ramp));
    EXPECT_TRUE(Same(Filtered<TSepiaFilter>(ramp, Look(1, 1)), Paint(256, 1, [](int v, int) {
                         return Px{0, uint8_t(v), uint8_t(v)};
                     })));
    EXPECT_TRUE(Same(Filtered<TSepiaFilter>(ramp, Look(0, 0)), Paint(256, 1, [](int v, int) {
                         return Px{uint8_t(v / 4), uint8_t(v / 2), uint8_t(v / 2)};
                     })));
}

TEST(Mirror, OddAndEvenWidths) {
    const std::tuple<int, Extended, const char*> rows[] = {
        {5, 0.0L, "abcba"}, {5, -1.0L, "abcba"}, {5, 1.0L, "edcde"}, {5, 0.001L, "edcde"},
        {4, 0.0L, "abba"},  {4, 1.0L, "dccd"},   {1, 1.0L, "a"}};
    for (auto [width, level, want] : rows) {
        const TBitmap out = Filtered<TMirrorFilter>(Coded(width, 2), level);
        // Both rows mirrored, each from itself: blue names the column, green the row.
        std::string seen[2];
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < width; ++x)
                seen[y] += char((At(out, x, y)[1] == y ? 'a' : 'A') + At(out, x, y)[0]);
        EXPECT_EQ(seen[0], want) << double(level);
        EXPECT_EQ(seen[1], want) << double(level);
    }
}

TEST(Negative, TwiceIsTheIdentity) {
    const TBitmap in = Noise(17, 5, 99), once = Filtered<TNegativeFilter>(in);
    EXPECT_EQ(At(once, 16, 4)[2], 255 - At(in, 16, 4)[2]);
    EXPECT_TRUE(Same(Filtered<TNegativeFilter>(once), in));
}

TEST(TvShop, TilesOfTheShrunkFrame) {
    // 322 x 243 at level 0: 5 x 5 tiles of 64 x 48, the strips right and below untouched.
    const TBitmap in = Noise(322, 243, 5);
    const TBitmap out = Filtered<TPolyFilter>(in, 0);
    TBitmap tile(64, 48);
    tile.Canvas().StretchDraw(Rect(0, 0, 64, 48), in);
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i)
            for (int y : {0, 17, 47})
                for (int x : {0, 31, 63})
                    ASSERT_EQ(At(out, i * 64 + x, j * 48 + y), At(tile, x, y)) << i << "," << j;
    for (auto [x, y] : {std::pair{320, 0}, {320, 100}, {321, 242}, {0, 240}, {319, 242}})
        EXPECT_EQ(At(out, x, y), At(in, x, y)) << x << "," << y;
    EXPECT_TRUE(Same(Filtered<TPolyFilter>(in, -1), in)); // one window: nothing to do
    const TBitmap ten = Filtered<TPolyFilter>(in, 1);     // 10 x 10 tiles of 32 x 24
    EXPECT_EQ(At(ten, 9 * 32, 9 * 24), At(ten, 0, 0));
    EXPECT_EQ(At(ten, 320, 0), At(in, 320, 0));
    // Tiles without size: the frame stays.
    const TBitmap small = Coded(7, 30);
    EXPECT_TRUE(Same(Filtered<TPolyFilter>(small, 1), small));
}

TEST(Zoom, ScalesAroundTheFocusPoint) {
    // Zoom 1 is the identity on every frame, also after a shrunk one and off centre.
    Rig rig;
    TZoomFilter zoom(rig.Bridge);
    const TBitmap coded = Coded(8, 6);
    TBitmap frame = Copy(coded);
    zoom.Bitmap = &frame;
    rig.Info.Level = -0.5L;
    EXPECT_TRUE(zoom.Apply(0, 0));
    for (int x : {0, 3, -3}) {
        frame = Copy(coded);
        rig.Info = {.X = x};
        EXPECT_TRUE(zoom.Apply(1, 1));
        EXPECT_TRUE(Same(frame, coded)) << x;
    }
    // Half size around the centre (4, 4): columns and rows 2..5 show every second pixel. Double
    // size: source columns 2..5, each twice. Focus at (6, 4): that pixel keeps its place.
    const TBitmap in = Coded(8, 8);
    ExpectPixels(Filtered<TZoomFilter>(in, -0.5L), "1,4=0,0,0 2,2=1,1,7 5,5=7,7,7 6,5=0,0,0");
    ExpectPixels(Filtered<TZoomFilter>(in, 1), "0,0=2,2,7 1,7=2,5,7 2,0=3,2,7 7,0=5,2,7");
    ExpectPixels(Filtered<TZoomFilter>(in, {.X = 2, .Level = 1}), "6,4=6,4,7 0,4=3,4,7");
    // A frame one pixel wide is zoomed as well: its rows 1..4 fill it.
    ExpectPixels(Filtered<TZoomFilter>(Coded(1, 6), 1), "0,0=0,1,7 0,5=0,4,7");
}

TEST(Zoom, SizesOfNothingAreBlackAndHugeOnesOnePixel) {
    const TBitmap in = Coded(8, 6);
    // Round(8 x 0.01) = 0 at -0.99; a shrunk picture right of the frame lands outside it.
    for (TNodeInfo look :
         {TNodeInfo{.Level = -1}, {.Level = -4}, {.Level = -0.99L}, {.X = 40, .Level = -0.5L}})
        EXPECT_TRUE(Same(Filtered<TZoomFilter>(in, look), Solid(8, 6, {0, 0, 0})))
            << double(look.Level);
    // A zoom far past any frame: the focus point (4, 3) lies between pixels, so the four
    // pixels around it fill the frame.
    EXPECT_TRUE(Same(Filtered<TZoomFilter>(in, 1e9L), Paint(8, 6, [](int x, int y) {
                         return CodedPx(x < 4 ? 3 : 4, y < 3 ? 2 : 3);
                     })));
}

TEST(Freeze, HoldsTheFirstFrameOfAtLeast33Pixels) {
    TAddOnBridge bridge;
    TFreezeFilter freeze(bridge);
    auto passes = [&](TBitmap frame, const TBitmap& want) {
        freeze.Bitmap = &frame;
        return freeze.Apply(0, 0) && Same(frame, want);
    };
    // Before any reset: the empty picture draws nothing. 32 pixels wide or high: passed through,
    // nothing held.
    EXPECT_TRUE(passes(Coded(40, 40, 1), Coded(40, 40, 1)));
    freeze.SetFrameCount(100);
    EXPECT_TRUE(passes(Coded(32, 240, 2), Coded(32, 240, 2)));
    EXPECT_TRUE(passes(Coded(320, 32, 2), Coded(320, 32, 2)));
    EXPECT_EQ(freeze.FrozenIndex, -1);
    EXPECT_TRUE(passes(Coded(33, 33, 3), Coded(33, 33, 3)));
    EXPECT_EQ(freeze.FrozenIndex, 0);
    for (uint8_t tag : {4, 5})
        EXPECT_TRUE(passes(Coded(33, 33, tag), Coded(33, 33, 3)));
    // A reset forgets it.
    freeze.SetFrameCount(100);
    EXPECT_TRUE(passes(Coded(33, 33, 6), Coded(33, 33, 6)));
}

namespace {

// Frames told apart by their grey level, 20 apart: JPEG loss on a flat frame is far smaller.
TBitmap Numbered(int n) {
    return Solid(48, 40, Grey(20 + 20 * n));
}

int NumberOf(const TBitmap& b) {
    return (At(b, 20, 20)[1] - 10) / 20;
}

// The numbers a step-back filter shows for the frames of the given numbers, each at its own place.
std::vector<int> Shown(TStepBackFilter& step, std::initializer_list<int> numbers, bool flat) {
    std::vector<int> shown;
    for (int n : numbers) {
        TBitmap frame = Numbered(n);
        step.Bitmap = &frame;
        EXPECT_TRUE(step.Apply(n, n));
        EXPECT_TRUE(!flat || Near(frame, Solid(48, 40, At(frame, 0, 0)), 2));
        shown.push_back(NumberOf(frame));
    }
    return shown;
}

} // namespace

TEST(StepBack, ShowsTheFirstThirdBackwardsThenDelayed) {
    TAddOnBridge bridge;
    TStepBackFilter step(bridge);
    step.SetFrameCount(9);
    EXPECT_EQ(Shown(step, {0, 1, 2, 3, 4, 5, 6, 7, 8}, true),
              (std::vector<int>{0, 1, 2, 2, 1, 0, 3, 4, 5}));
    // Rendering from the start again begins a new pass.
    step.SetFrameCount(9);
    EXPECT_EQ(Shown(step, {0, 1, 2, 3, 4}, false), (std::vector<int>{0, 1, 2, 2, 1}));
    // Going back within a pass starts nothing over: frame 0 goes in front of the frames (2, 1,
    // 0, 3, 4) and the places shown go on from where they were. Of the nine places, the four
    // before the one shown last were let go.
    EXPECT_EQ(Shown(step, {0, 5, 6, 7}, false), (std::vector<int>{0, 1, 0, 3}));
    EXPECT_EQ(std::pair(step.Dropped, step.Frames.size()), std::pair(size_t(4), size_t(5)));
}

TEST(StepBack, AWholeRunShowsItsKeptFramesWhileHoldingAThird) {
    // 45 frames, a third of 15, rendered in order. Each shown frame is exactly the kept frame
    // decoded from its JPEG image; no more than the third and the frame shown last are held.
    const int count = 45, third = count / 3;
    auto source = [](int f) { return Noise(48, 40, uint32_t(f + 1)); };
    auto stored = [](const TBitmap& b) {
        const TJPEGImage image = BitmapToJpeg(b);
        TPictureLoader loader;
        TBitmap back;
        loader.LoadFromMemory(image.Data.data(), image.Data.size(), TPictureKind::Jpeg, back);
        return back;
    };
    TAddOnBridge bridge;
    TStepBackFilter step(bridge);
    step.SetFrameCount(count);
    size_t most = 0;
    for (int f = 0; f < count; ++f) {
        TBitmap frame = source(f);
        step.Bitmap = &frame;
        ASSERT_TRUE(step.Apply(f, f));
        most = std::max(most, step.Frames.size());
        if (f < third)
            EXPECT_TRUE(Same(frame, source(f))) << f;
        else
            EXPECT_TRUE(Same(frame, stored(source(f < 2 * third ? 2 * third - 1 - f : f - third))))
                << f;
    }
    EXPECT_EQ(most, size_t(third + 1));
}

TEST(StepBack, LetsGoOfFramesItCanNoLongerShow) {
    // Before any reset the shown place runs one ahead of the list: frames pass unchanged and
    // none is held. After a reset to 30 frames (a third of 10), from frame 20 on each frame
    // shows the one 10 before it, holding the ten to come and the one shown.
    TAddOnBridge bridge;
    TStepBackFilter step(bridge);
    for (int f = 0; f < 80; ++f) {
        if (f == 50)
            step.SetFrameCount(30);
        TBitmap frame = Numbered(f % 11);
        step.Bitmap = &frame;
        step.Apply(f - 50 * (f >= 50), 0);
        EXPECT_EQ(step.Frames.size(), size_t(f < 50 ? 0 : std::min(f - 49, 11))) << f;
        if (f < 50) {
            EXPECT_TRUE(Same(frame, Numbered(f % 11)));
        } else if (f >= 70) {
            EXPECT_EQ(NumberOf(frame), (f - 10) % 11) << f;
        }
    }
    // A third of 0: every frame comes back through the JPEG store at once; before the node
    // nothing happens.
    step.SetFrameCount(2);
    const TBitmap in = Noise(48, 40, 4);
    TBitmap frame = Copy(in);
    step.Bitmap = &frame;
    EXPECT_TRUE(step.Apply(0, 0));
    EXPECT_FALSE(Same(frame, in));
    EXPECT_TRUE(step.Apply(-1, -1));
    EXPECT_EQ(step.ShowIndex, 0);
}

TEST(StepBack, JpegImageDecodesToTheFrameSize) {
    const TJPEGImage image = BitmapToJpeg(Noise(33, 17, 2));
    ASSERT_GT(image.Data.size(), 4u);
    EXPECT_EQ(image.Data[0], 0xFF);
    EXPECT_EQ(image.Data[1], 0xD8);
    TPictureLoader loader;
    TBitmap back;
    loader.LoadFromMemory(image.Data.data(), image.Data.size(), TPictureKind::Jpeg, back);
    EXPECT_EQ(back.Width(), 33);
    EXPECT_EQ(back.Height(), 17);
    const TJPEGImage flat = BitmapToJpeg(Solid(16, 16, {40, 90, 200}));
    loader.LoadFromMemory(flat.Data.data(), flat.Data.size(), TPictureKind::Jpeg, back);
    EXPECT_TRUE(Near(back, Solid(16, 16, {40, 90, 200}), 2));
    EXPECT_TRUE(BitmapToJpeg(TBitmap()).Data.empty());
}
