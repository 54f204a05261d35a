// Convolution: the kernel table on a uniform frame, the kernel's orientation, edge repetition,
// the fast path against a plain reference on random frames, and the sketch threshold.
#include <gtest/gtest.h>

#include "AddOnRig.h"
#include "MyConvolve.h"

using namespace addonrig;

namespace {

// The convolution as a formula: each byte weighed with the same byte of its neighbours, the
// frame's edge pixels standing in for the ones outside it.
TBitmap Reference(const TBitmap& in, const std::array<int32_t, 9>& k, int32_t divisor) {
    const int w = in.Width(), h = in.Height();
    auto byte = [&](int x, int y, int c) {
        int sum = 0;
        for (int i = 0; i < 9; ++i)
            sum +=
                k[i] * in.ScanLine(std::clamp(y + i / 3 - 1, 0,
                                              h - 1))[std::clamp(x + i % 3 - 1, 0, w - 1) * 3 + c];
        return uint8_t(std::clamp(sum / divisor, 0, 255));
    };
    return Paint(w, h, [&](int x, int y) {
        return Px{byte(x, y, 0), byte(x, y, 1), byte(x, y, 2)};
    });
}

} // namespace

TEST(Convolve, UniformGreyThroughEveryKernel) {
    // Sharpen (16 - 8) x 100 div 8, soften 1600 div 16, blur 3200 div 32; Laplace and edge sum to
    // nothing. Kernel 1 is in the table but no filter uses it.
    const TBitmap grey = Solid(7, 5, Grey(100));
    TConvolve engine;
    TBitmap one = Copy(grey);
    engine.Convolve(one, 1, 0);
    const struct {
        TBitmap Out;
        int Want;
    } table[] = {{Filtered<TSharpenFilter>(grey), 100}, {Filtered<TSoftenFilter>(grey), 100},
                 {Filtered<TBlurFilter>(grey), 100},    {Filtered<TEnchangeFilter>(grey), 100},
                 {Filtered<TEmbossFilter>(grey), 100},  {Filtered<TLaplaceFilter>(grey), 0},
                 {Filtered<TEdgeFilter>(grey), 0},      {std::move(one), 100}};
    for (const auto& [out, want] : table)
        EXPECT_TRUE(Same(out, Solid(7, 5, Grey(want)))) << want;
}

TEST(Convolve, EmbossWeighsTheUpperLeftNeighbourWithTheFirstWeight) {
    // 1 0 1 / 0 0 0 / 1 0 -2 around one bright pixel on grey: the pixels it is the upper-left,
    // upper-right or lower-left neighbour of get +30, the one it is the lower-right neighbour
    // of gets -2 x 30 (150 - 160).
    TBitmap frame = Solid(5, 5, Grey(50));
    Put(frame, 2, 2, Grey(80));
    ExpectPixels(
        Filtered<TEmbossFilter>(frame),
        "3,3=80,80,80 1,3=80,80,80 3,1=80,80,80 1,1=0,0,0 2,2=50,50,50 2,1=50,50,50 4,4=50,50,50");
}

TEST(Convolve, EdgePixelsSeeThemselvesRepeated) {
    // A one-pixel frame is its own 3 x 3 neighbourhood: Laplace 8x - 8x = 0, sharpen 8x div 8.
    const TBitmap one = Solid(1, 1, {10, 200, 255});
    ExpectPixels(Filtered<TLaplaceFilter>(one), "0,0=0,0,0");
    ExpectPixels(Filtered<TSharpenFilter>(one), "0,0=10,200,255");
    // A step at the right edge: column 2 sees column 2 again on its right: 8 x 100 - 3 x 0 -
    // 5 x 100 = 300; column 1 gets 0 - 3 x 100.
    TBitmap step = Solid(3, 1, {0, 0, 0});
    Put(step, 2, 0, Grey(100));
    ExpectPixels(Filtered<TLaplaceFilter>(step), "2,0=255,255,255 1,0=0,0,0");
}

TEST(Convolve, FastPathMatchesTheFormulaOnRandomFrames) {
    std::vector<TBitmap> inputs;
    uint32_t seed = 7;
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {13, 9}, {64, 48}, {5, 33}})
        inputs.push_back(Noise(w, h, seed++));
    // Checkerboards of 0 and 255 bytes give the largest sums either way.
    for (int phase = 0; phase < 2; ++phase)
        inputs.push_back(Paint(6, 5, [phase](int x, int y) {
            const uint8_t v = (x + y + phase) % 2 ? 255 : 0;
            return Px{v, uint8_t(255 - v), v};
        }));
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

TEST(Sketch, ThresholdsTheLaplaceResult) {
    // One bright pixel: Laplace gives 8 x 200 at it (g = 0) and -200 at its neighbours (255).
    // Level 0: t = 128; level 1 and past it: t = 255, so every pixel with g < 255 is black (one
    // blue step gives 8 - 2 = 6, 6 div 3 = 2, g = 253); level -1 and below: t = 0, all white.
    const TBitmap flat = Solid(4, 4, Grey(90)), white = Solid(5, 5, Grey(255));
    TBitmap dot = Solid(5, 5, {0, 0, 0}), step = Solid(3, 1, {0, 0, 0});
    Put(dot, 2, 2, Grey(200));
    Put(step, 1, 0, {1, 0, 0});
    for (Extended level : {0.0L, 0.99L})
        EXPECT_TRUE(Same(Filtered<TSketchFilter>(flat, level), Solid(4, 4, Grey(255))));
    ExpectPixels(Filtered<TSketchFilter>(dot, 0), "2,2=0,0,0 1,2=255,255,255");
    for (Extended level : {1.0L, 7.0L})
        ExpectPixels(Filtered<TSketchFilter>(step, level), "0,0=255,255,255 1,0=0,0,0");
    for (Extended level : {-1.0L, -9.0L})
        EXPECT_TRUE(Same(Filtered<TSketchFilter>(dot, level), white));
}
