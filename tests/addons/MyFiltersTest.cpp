// Pixel filters (byte tables over every input, mirror, negative, TV shop, zoom) and the two
// filters with a memory (freeze, step back), with the JPEG store.
#include <gtest/gtest.h>

#include <cstdlib>

#include "EffectRig.h"
#include "MyFilters.h"
#include "MyTimeData.h"

using namespace effectrig;

namespace {

// 256 pixels, pixel v holding v in all three bytes.
TBitmap Ramp() {
    TBitmap b(256, 1);
    for (int v = 0; v < 256; ++v)
        Put(b, v, 0, {uint8_t(v), uint8_t(v), uint8_t(v)});
    return b;
}

// Blue = column, green = row, red = a tag: every pixel tells where it came from.
TBitmap Coded(int w, int h, uint8_t tag = 7) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(b, x, y, {uint8_t(x), uint8_t(y), tag});
    return b;
}

struct Look {
    Extended Level = 0;
    Extended Sizing = 0;
    uint32_t Color = 0;
    int X = 0;
    int Y = 0;
};

template <class T> TBitmap Filtered(const TBitmap& frame, Look look) {
    Rig rig;
    rig.Info.Level = look.Level;
    rig.Info.Sizing = look.Sizing;
    rig.Info.Color = look.Color;
    rig.Info.X = look.X;
    rig.Info.Y = look.Y;
    T filter(rig.Bridge);
    TBitmap out = Copy(frame);
    filter.Bitmap = &out;
    EXPECT_TRUE(filter.Apply(0, 0));
    return out;
}

template <class T> TBitmap Filtered(const TBitmap& frame, Extended level) {
    return Filtered<T>(frame, Look{level});
}

template <class T> bool RefusesWithoutSnapshot() {
    const TBitmap in = Coded(40, 40);
    Rig rig;
    rig.HasInfo = false;
    T filter(rig.Bridge);
    TBitmap frame = Copy(in);
    filter.Bitmap = &frame;
    return !filter.Apply(0, 0) && Same(frame, in);
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

} // namespace

TEST(PixelFilters, WithoutSnapshotTheFrameStays) {
    EXPECT_TRUE(RefusesWithoutSnapshot<TBrightnessFilter>());
    EXPECT_TRUE(RefusesWithoutSnapshot<TColorFilter>());
    EXPECT_TRUE(RefusesWithoutSnapshot<TPolyFilter>());
    EXPECT_TRUE(RefusesWithoutSnapshot<TZoomFilter>());
    EXPECT_TRUE(RefusesWithoutSnapshot<TSepiaFilter>());
    EXPECT_TRUE(RefusesWithoutSnapshot<TMirrorFilter>());
}

TEST(Brightness, EveryInputAtEveryLevel) {
    const TBitmap ramp = Ramp();
    EXPECT_TRUE(Same(Filtered<TBrightnessFilter>(ramp, 0), ramp));
    // Level l multiplies by (1 + l); levels past -1 and 1 act as those, with no wrap.
    for (auto [level, num] :
         {std::pair{0.5L, 3}, {-0.5L, 1}, {-1.0L, 0}, {1.0L, 4}, {-3.5L, 0}, {40.0L, 4}}) {
        const TBitmap out = Filtered<TBrightnessFilter>(ramp, level);
        for (int v = 0; v < 256; ++v) {
            const uint8_t w = uint8_t(std::min(255, v * num / 2));
            ASSERT_EQ(At(out, v, 0), (Px{w, w, w})) << double(level) << " at " << v;
        }
    }
}

TEST(LightTemperature, EveryInputMixedWithTheColour) {
    // Pure red at level 0: grey 100 becomes 50, 50, 177.
    TBitmap grey = Solid(3, 2, {100, 100, 100});
    EXPECT_EQ(At(Filtered<TColorFilter>(grey, Look{0, 0, 0x0000FF}), 2, 1), (Px{50, 50, 177}));
    // Black is "no colour": the frame stays at any level.
    EXPECT_TRUE(Same(Filtered<TColorFilter>(grey, Look{1, 0, 0}), grey));

    const TBitmap ramp = Ramp();
    const uint32_t c = 0x20C0FF; // B 0x20, G 0xC0, R 0xFF
    // Level -1 and below keep the frame; 1 and above give the colour itself.
    for (Extended level : {-1.0L, -6.0L})
        EXPECT_TRUE(Same(Filtered<TColorFilter>(ramp, Look{level, 0, c}), ramp));
    for (Extended level : {1.0L, 6.0L})
        EXPECT_TRUE(Same(Filtered<TColorFilter>(ramp, Look{level, 0, c}),
                         Solid(256, 1, {0x20, 0xC0, 0xFF})));
    const TBitmap mid = Filtered<TColorFilter>(ramp, Look{0, 0, c});
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(At(mid, v, 0),
                  (Px{uint8_t((0x20 + v) / 2), uint8_t((0xC0 + v) / 2), uint8_t((0xFF + v) / 2)}))
            << v;
}

TEST(Sepia, EveryGreyAndTheDocumentedPixel) {
    TBitmap one = Solid(1, 1, {90, 120, 150});
    EXPECT_EQ(At(Filtered<TSepiaFilter>(one, Look{0, 0}), 0, 0), (Px{30, 60, 60}));
    // The grey is the average of the three bytes, rounded down.
    TBitmap mixed = Solid(1, 1, {0, 1, 255});
    EXPECT_EQ(At(Filtered<TSepiaFilter>(mixed, Look{1, 1}), 0, 0), (Px{0, 85, 85}));

    const TBitmap ramp = Ramp();
    // Level 1 and sizing -1 (and anything past them): a grey picture stays as it is.
    EXPECT_TRUE(Same(Filtered<TSepiaFilter>(ramp, Look{1, -1}), ramp));
    EXPECT_TRUE(Same(Filtered<TSepiaFilter>(ramp, Look{9, -9}), ramp));
    const TBitmap yellow = Filtered<TSepiaFilter>(ramp, Look{1, 1});
    const TBitmap halved = Filtered<TSepiaFilter>(ramp, Look{0, 0});
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(At(yellow, v, 0), (Px{0, uint8_t(v), uint8_t(v)})) << v;
        const uint8_t g = uint8_t(v / 2);
        ASSERT_EQ(At(halved, v, 0), (Px{uint8_t(g / 2), g, g})) << v;
    }
}

TEST(Mirror, OddAndEvenWidths) {
    auto row = [](const TBitmap& b) {
        std::string s;
        for (int x = 0; x < b.Width(); ++x)
            s += char('a' + At(b, x, 0)[0]);
        return s;
    };
    const TBitmap five = Coded(5, 2);
    EXPECT_EQ(row(Filtered<TMirrorFilter>(five, 0)), "abcba");
    EXPECT_EQ(row(Filtered<TMirrorFilter>(five, -1)), "abcba");
    EXPECT_EQ(row(Filtered<TMirrorFilter>(five, 1)), "edcde");
    EXPECT_EQ(row(Filtered<TMirrorFilter>(five, 0.001L)), "edcde");
    const TBitmap four = Coded(4, 2);
    EXPECT_EQ(row(Filtered<TMirrorFilter>(four, 0)), "abba");
    EXPECT_EQ(row(Filtered<TMirrorFilter>(four, 1)), "dccd");
    const TBitmap out = Filtered<TMirrorFilter>(five, 0);
    EXPECT_EQ(At(out, 4, 1), (Px{0, 1, 7})); // rows stay rows
    const TBitmap single = Coded(1, 3);
    EXPECT_TRUE(Same(Filtered<TMirrorFilter>(single, 1), single));
}

TEST(Negative, TwiceIsTheIdentity) {
    const TBitmap in = Noise(17, 5, 99);
    TAddOnBridge bridge; // needs no snapshot
    TNegativeFilter negative(bridge);
    TBitmap frame = Copy(in);
    negative.Bitmap = &frame;
    EXPECT_TRUE(negative.Apply(0, 0));
    EXPECT_EQ(At(frame, 16, 4)[2], 255 - At(in, 16, 4)[2]);
    EXPECT_TRUE(negative.Apply(1, 1));
    EXPECT_TRUE(Same(frame, in));
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
    for (int y : {0, 100, 242}) {
        EXPECT_EQ(At(out, 320, y), At(in, 320, y));
        EXPECT_EQ(At(out, 321, y), At(in, 321, y));
    }
    EXPECT_EQ(At(out, 0, 240), At(in, 0, 240));
    EXPECT_EQ(At(out, 319, 242), At(in, 319, 242));

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
        rig.Info.Level = 0;
        rig.Info.X = x;
        EXPECT_TRUE(zoom.Apply(1, 1));
        EXPECT_TRUE(Same(frame, coded)) << x;
    }

    const TBitmap in = Coded(8, 8);
    // Half size around the centre (4, 4): columns and rows 2..5 show every second pixel.
    const TBitmap half = Filtered<TZoomFilter>(in, -0.5L);
    EXPECT_EQ(At(half, 1, 4), (Px{0, 0, 0}));
    EXPECT_EQ(At(half, 2, 2), (Px{1, 1, 7}));
    EXPECT_EQ(At(half, 5, 5), (Px{7, 7, 7}));
    EXPECT_EQ(At(half, 6, 5), (Px{0, 0, 0}));
    // Double size around the centre: source columns 2..5, each twice.
    const TBitmap twice = Filtered<TZoomFilter>(in, 1);
    EXPECT_EQ(At(twice, 0, 0), (Px{2, 2, 7}));
    EXPECT_EQ(At(twice, 1, 7), (Px{2, 5, 7}));
    EXPECT_EQ(At(twice, 2, 0)[0], 3);
    EXPECT_EQ(At(twice, 7, 0)[0], 5);
    // Focus two pixels right of the centre, at (6, 4): that pixel keeps its place.
    const TBitmap right = Filtered<TZoomFilter>(in, Look{1, 0, 0, 2, 0});
    EXPECT_EQ(At(right, 6, 4), (Px{6, 4, 7}));
    EXPECT_EQ(At(right, 0, 4)[0], 3);
}

TEST(Zoom, SizesOfNothingAreBlackAndHugeOnesOnePixel) {
    const TBitmap in = Coded(8, 6);
    const TBitmap black = Solid(8, 6, {0, 0, 0});
    // Round(8 x 0.01) = 0 at -0.99; a shrunk picture right of the frame lands outside it.
    for (Look look : {Look{-1}, Look{-4}, Look{-0.99L}, Look{-0.5L, 0, 0, 40, 0}})
        EXPECT_TRUE(Same(Filtered<TZoomFilter>(in, look), black)) << double(look.Level);
    // A zoom far past any frame: the focus point (4, 3) lies between pixels, so the four
    // pixels around it fill the frame.
    const TBitmap huge = Filtered<TZoomFilter>(in, 1e9L);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(At(huge, x, y), (Px{uint8_t(x < 4 ? 3 : 4), uint8_t(y < 3 ? 2 : 3), 7}));
}

TEST(PixelFilters, NeverDrawIntoTheSharedPreviewPicture) {
    TBitmap picture = Coded(20, 10, 1);
    const TBitmap kept = Copy(picture);
    AddOnPreview.Picture = &picture;
    {
        TAddOnPreviewScope scope;
        const TBitmap in = Noise(40, 30, 8);
        Filtered<TColorFilter>(in, Look{0, 0, 0x00FF00});
        Filtered<TPolyFilter>(in, 0.3L);
        Filtered<TZoomFilter>(in, -0.3L);
        Filtered<TZoomFilter>(in, 0.7L);
    }
    AddOnPreview.Picture = nullptr;
    EXPECT_TRUE(Same(picture, kept));
}

TEST(Freeze, HoldsTheFirstFrameOfAtLeast33Pixels) {
    TAddOnBridge bridge;
    TFreezeFilter freeze(bridge);
    auto apply = [&](TBitmap frame) {
        freeze.Bitmap = &frame;
        EXPECT_TRUE(freeze.Apply(0, 0));
        return frame;
    };
    // Before any reset: the empty picture draws nothing.
    EXPECT_TRUE(Same(apply(Coded(40, 40, 1)), Coded(40, 40, 1)));
    freeze.SetFrameCount(100);
    // 32 pixels wide or high: passed through, nothing held.
    EXPECT_TRUE(Same(apply(Coded(32, 240, 2)), Coded(32, 240, 2)));
    EXPECT_TRUE(Same(apply(Coded(320, 32, 2)), Coded(320, 32, 2)));
    EXPECT_EQ(freeze.FrozenIndex, -1);
    EXPECT_TRUE(Same(apply(Coded(33, 33, 3)), Coded(33, 33, 3)));
    EXPECT_EQ(freeze.FrozenIndex, 0);
    for (uint8_t tag : {4, 5})
        EXPECT_TRUE(Same(apply(Coded(33, 33, tag)), Coded(33, 33, 3)));
    // A reset forgets it.
    freeze.SetFrameCount(100);
    EXPECT_TRUE(Same(apply(Coded(33, 33, 6)), Coded(33, 33, 6)));
}

namespace {

// Frames told apart by their grey level, 20 apart: JPEG loss on a flat frame is far smaller.
TBitmap Numbered(int n) {
    return Solid(48, 40, {uint8_t(20 + 20 * n), uint8_t(20 + 20 * n), uint8_t(20 + 20 * n)});
}

int NumberOf(const TBitmap& b) {
    return (At(b, 20, 20)[1] - 10) / 20;
}

} // namespace

TEST(StepBack, ShowsTheFirstThirdBackwardsThenDelayed) {
    TAddOnBridge bridge;
    TStepBackFilter step(bridge);
    step.SetFrameCount(9);
    std::vector<int> shown;
    for (int f = 0; f < 9; ++f) {
        TBitmap frame = Numbered(f);
        step.Bitmap = &frame;
        EXPECT_TRUE(step.Apply(f, f));
        EXPECT_TRUE(Near(frame, Solid(48, 40, At(frame, 0, 0)), 2));
        shown.push_back(NumberOf(frame));
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 2, 1, 0, 3, 4, 5}));
}

TEST(StepBack, KeepsOnlyFramesItWillStillShow) {
    TAddOnBridge bridge;
    TStepBackFilter step(bridge);
    step.SetFrameCount(30); // third = 10
    size_t most = 0;
    for (int f = 0; f < 30; ++f) {
        TBitmap frame = Numbered(f % 11);
        step.Bitmap = &frame;
        step.Apply(f, f);
        most = std::max(most, step.Frames.size());
        if (f >= 20) {
            EXPECT_EQ(NumberOf(frame), (f - 10) % 11) << f;
        }
    }
    EXPECT_EQ(most, 10u); // the first third, never more
    // Before any reset the shown place runs one ahead of the list: frames pass unchanged and
    // nothing piles up.
    TStepBackFilter fresh(bridge);
    for (int f = 0; f < 50; ++f) {
        TBitmap frame = Numbered(f % 11);
        fresh.Bitmap = &frame;
        fresh.Apply(f, f);
        EXPECT_TRUE(Same(frame, Numbered(f % 11)));
        EXPECT_LE(fresh.Frames.size(), 1u);
    }
}

TEST(StepBack, ShortClipsAndGoingBack) {
    TAddOnBridge bridge;
    TStepBackFilter step(bridge);
    step.SetFrameCount(2); // third = 0: every frame comes back through the JPEG store at once
    const TBitmap in = Noise(48, 40, 4);
    TBitmap frame = Copy(in);
    step.Bitmap = &frame;
    EXPECT_TRUE(step.Apply(0, 0));
    EXPECT_FALSE(Same(frame, in));
    EXPECT_TRUE(step.Apply(-1, -1)); // before the node: nothing happens
    EXPECT_EQ(step.ShowIndex, 0);
    // Rendering from the start again begins a new pass.
    step.SetFrameCount(9);
    std::vector<int> shown;
    for (int f : {0, 1, 2, 3, 4, 0, 1, 2, 3}) {
        TBitmap n = Numbered(f);
        step.Bitmap = &n;
        step.Apply(f, f);
        shown.push_back(NumberOf(n));
    }
    EXPECT_EQ(shown[3], 2);
    EXPECT_EQ(shown[8], 2);
}

TEST(StepBack, JpegImageDecodesToTheFrameSize) {
    const TBitmap in = Noise(33, 17, 2);
    const TJPEGImage image = BitmapToJpeg(in);
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
