// Convolution: the kernel table on a uniform frame, the kernel's orientation, edge repetition,
// the fast path against a plain reference on random frames, and the sketch threshold.
#include <gtest/gtest.h>

#include "EffectRig.h"
#include "MyConvolve.h"
#include "MyTimeData.h"

using namespace effectrig;

namespace {

// The convolution as a formula: each byte weighed with the same byte of its neighbours, the
// frame's edge pixels standing in for the ones outside it.
TBitmap Reference(const TBitmap& in, const std::array<int32_t, 9>& k, int32_t divisor) {
    TBitmap out(in.Width(), in.Height());
    const int w = in.Width(), h = in.Height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int sx = std::clamp(x + dx, 0, w - 1);
                        const int sy = std::clamp(y + dy, 0, h - 1);
                        sum += k[(dy + 1) * 3 + dx + 1] * in.ScanLine(sy)[sx * 3 + c];
                    }
                const int v = sum / divisor;
                out.ScanLine(y)[x * 3 + c] = static_cast<uint8_t>(v < 1 ? 0 : v > 254 ? 255 : v);
            }
    return out;
}

template <class T> TBitmap Filtered(const TBitmap& frame, Extended level = 0) {
    Rig rig;
    rig.Info.Level = level;
    T filter(rig.Bridge);
    TBitmap out = Copy(frame);
    filter.Bitmap = &out;
    EXPECT_TRUE(filter.Apply(0, 0));
    return out;
}

} // namespace

TEST(Convolve, UniformGreyThroughEveryKernel) {
    const TBitmap grey = Solid(7, 5, {100, 100, 100});
    auto value = [&](TBitmap out) {
        const Px p = At(out, 3, 2);
        EXPECT_TRUE(Same(out, Solid(7, 5, p))) << "not uniform";
        return p[0];
    };
    EXPECT_EQ(value(Filtered<TSharpenFilter>(grey)), 100); // (16 - 8) * 100 div 8
    EXPECT_EQ(value(Filtered<TSoftenFilter>(grey)), 100);  // 1600 div 16
    EXPECT_EQ(value(Filtered<TBlurFilter>(grey)), 100);    // 3200 div 32
    EXPECT_EQ(value(Filtered<TEnchangeFilter>(grey)), 100);
    EXPECT_EQ(value(Filtered<TEmbossFilter>(grey)), 100);
    EXPECT_EQ(value(Filtered<TLaplaceFilter>(grey)), 0);
    EXPECT_EQ(value(Filtered<TEdgeFilter>(grey)), 0);
    // Index 1 is in the table but no filter uses it.
    TConvolve engine;
    TBitmap out = Copy(grey);
    engine.Convolve(out, 1, 0);
    EXPECT_EQ(value(Copy(out)), 100);
}

TEST(Convolve, EmbossWeighsTheUpperLeftNeighbourWithTheFirstWeight) {
    // 1 0 1 / 0 0 0 / 1 0 -2 around one bright pixel on grey: the pixels it is the upper-left,
    // upper-right or lower-left neighbour of get +30, the one it is the lower-right neighbour
    // of gets -2 x 30.
    TBitmap frame = Solid(5, 5, {50, 50, 50});
    Put(frame, 2, 2, {80, 80, 80});
    const TBitmap out = Filtered<TEmbossFilter>(frame);
    for (auto [x, y] : {std::pair{3, 3}, {1, 3}, {3, 1}})
        EXPECT_EQ(At(out, x, y), (Px{80, 80, 80})) << x << "," << y;
    EXPECT_EQ(At(out, 1, 1), (Px{0, 0, 0})); // 150 - 160
    for (auto [x, y] : {std::pair{2, 2}, {2, 1}, {4, 4}})
        EXPECT_EQ(At(out, x, y), (Px{50, 50, 50})) << x << "," << y;
}

TEST(Convolve, EdgePixelsSeeThemselvesRepeated) {
    // A one-pixel frame is its own 3 x 3 neighbourhood: Laplace 8x - 8x = 0, sharpen 8x div 8.
    TBitmap one = Solid(1, 1, {10, 200, 255});
    EXPECT_EQ(At(Filtered<TLaplaceFilter>(one), 0, 0), (Px{0, 0, 0}));
    EXPECT_EQ(At(Filtered<TSharpenFilter>(one), 0, 0), (Px{10, 200, 255}));
    // A step at the right edge: column 2 sees column 2 again on its right.
    TBitmap step = Solid(3, 1, {0, 0, 0});
    Put(step, 2, 0, {100, 100, 100});
    const TBitmap out = Filtered<TLaplaceFilter>(step);
    EXPECT_EQ(At(out, 2, 0)[0], 255); // 8 x 100 - 3 x 0 - 5 x 100 = 300
    EXPECT_EQ(At(out, 1, 0)[0], 0);   // 0 - 3 x 100
}

TEST(Convolve, FastPathMatchesTheFormulaOnRandomFrames) {
    std::vector<TBitmap> inputs;
    uint32_t seed = 7;
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {13, 9}, {64, 48}, {5, 33}})
        inputs.push_back(Noise(w, h, seed++));
    // Checkerboards of 0 and 255 bytes give the largest sums either way.
    for (int phase = 0; phase < 2; ++phase) {
        inputs.emplace_back(6, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const uint8_t v = (x + y + phase) % 2 ? 255 : 0;
                Put(inputs.back(), x, y, {v, uint8_t(255 - v), v});
            }
    }
    for (const TBitmap& in : inputs)
        for (uint8_t index = 0; index < TConvolve::KernelCount; ++index)
            for (Extended strength : {0.0L, 0.25L}) {
                TConvolve engine;
                TBitmap out = Copy(in);
                engine.Convolve(out, index, strength);
                EXPECT_TRUE(Same(out, Reference(in, engine.Kernel, engine.Divisor)))
                    << in.Width() << "x" << in.Height() << " kernel " << int(index);
            }
}

TEST(Convolve, KernelTable) {
    TConvolve engine;
    EXPECT_EQ(engine.KernelIndex, 3);
    EXPECT_EQ(engine.Divisor, 8);
    engine.SetKernel(7, 0.5L);
    EXPECT_EQ(engine.Kernel, (std::array<int32_t, 9>{3, 3, 3, 3, 8, 3, 3, 3, 3}));
    EXPECT_EQ(engine.Divisor, 32);
    // Past the table: the kernel stays, the strength is taken.
    engine.SetKernel(8, -1);
    EXPECT_EQ(engine.KernelIndex, 7);
    EXPECT_EQ(engine.Divisor, 32);
    EXPECT_EQ(engine.Strength, -1);
    engine.SetKernel(2, 0);
    EXPECT_EQ(engine.Kernel, (std::array<int32_t, 9>{1, 1, 1, 1, -2, 1, -1, -1, -1}));
}

TEST(Convolve, WithoutSnapshotTheFrameStays) {
    Rig rig;
    rig.HasInfo = false;
    TBlurFilter blur(rig.Bridge);
    TSketchFilter sketch(rig.Bridge);
    const TBitmap in = Noise(9, 9, 3);
    TBitmap frame = Copy(in);
    blur.Bitmap = &frame;
    sketch.Bitmap = &frame;
    EXPECT_FALSE(blur.Apply(0, 0));
    EXPECT_FALSE(sketch.Apply(0, 0));
    EXPECT_TRUE(Same(frame, in));
    // Only the sketch filter has a curve.
    EXPECT_EQ(rig.Registered, (std::vector<std::pair<int, std::string>>{{ckLevel, "Level"}}));
}

TEST(Sketch, ThresholdsTheLaplaceResult) {
    // Laplace of a uniform frame is 0: g = 255, white at any level below 1.
    const TBitmap flat = Solid(4, 4, {90, 90, 90});
    for (Extended level : {0.0L, 0.99L})
        EXPECT_TRUE(Same(Filtered<TSketchFilter>(flat, level), Solid(4, 4, {255, 255, 255})));

    // One bright pixel: Laplace gives 8 x 200 at it (255) and -200 at its neighbours (0).
    TBitmap dot = Solid(5, 5, {0, 0, 0});
    Put(dot, 2, 2, {200, 200, 200});
    // Level 0: t = 128; g = 0 at the dot turns black, g = 255 elsewhere stays white.
    TBitmap out = Filtered<TSketchFilter>(dot, 0);
    EXPECT_EQ(At(out, 2, 2), (Px{0, 0, 0}));
    EXPECT_EQ(At(out, 1, 2), (Px{255, 255, 255}));
    // Level 1: t = 255, so every pixel with g < 255 is black, and levels past 1 act as 1.
    TBitmap mixed = Solid(3, 1, {0, 0, 0});
    Put(mixed, 1, 0, {1, 0, 0});
    for (Extended level : {1.0L, 7.0L}) {
        out = Filtered<TSketchFilter>(mixed, level);
        EXPECT_EQ(At(out, 0, 0), (Px{255, 255, 255})) << double(level);
        EXPECT_EQ(At(out, 1, 0), (Px{0, 0, 0}))
            << double(level); // 8 - 2 = 6 on blue, 6 div 3 = 2, g = 253
    }
    // Level -1 and below: t = 0, nothing is below it: all white.
    for (Extended level : {-1.0L, -9.0L})
        EXPECT_TRUE(Same(Filtered<TSketchFilter>(dot, level), Solid(5, 5, {255, 255, 255})));
}
