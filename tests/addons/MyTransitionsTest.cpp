// Transitions: exact pixels at the start, middle and end, lone and missing sources, and sources
// left as they were; the dissolve's fast blend against its defining tables. That none draws without
// a target is checked with the provider's list.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "AddOnRig.h"
#include "MyTransitions.h"

using namespace addonrig;

namespace {

constexpr Px Black{0, 0, 0}, Fill{9, 9, 9};

// Runs one transition into a fresh frame of Fill and checks that the sources stayed as they were.
template <class T> TBitmap Mix(int w, int h, TBitmap* from, TBitmap* to, Extended p) {
    TAddOnBridge bridge;
    T trans(bridge);
    TBitmap out = Solid(w, h, Fill);
    trans.Bitmap = &out;
    const TBitmap fromCopy = from ? Copy(*from) : TBitmap(), toCopy = to ? Copy(*to) : TBitmap();
    EXPECT_TRUE(trans.Execute(from, to, p));
    EXPECT_TRUE(!from || Same(*from, fromCopy));
    EXPECT_TRUE(!to || Same(*to, toCopy));
    return out;
}

// Bytes from a rule of row and byte index.
TBitmap Bytes(int w, int h, int (*rule)(int y, int i)) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i)
            b.ScanLine(y)[i] = static_cast<uint8_t>(rule(y, i) & 0xFF);
    return b;
}

// The blend as it is defined: a table per source of the terms rounded on their own, the sum
// clamped, over the area all three share.
TBitmap BlendByTables(const TBitmap& a, const TBitmap& b, Extended p, const TBitmap& frame) {
    std::array<unsigned, 256> fa, fb;
    for (int v = 0; v < 256; ++v) {
        fa[v] = static_cast<uint16_t>(Round(v * (1 - p)));
        fb[v] = static_cast<uint16_t>(Round(v * p));
    }
    TBitmap out = Copy(frame);
    const int w = std::min({a.Width(), b.Width(), out.Width()});
    const int h = std::min({a.Height(), b.Height(), out.Height()});
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i)
            out.ScanLine(y)[i] =
                static_cast<uint8_t>(std::min(255u, fa[a.ScanLine(y)[i]] + fb[b.ScanLine(y)[i]]));
    return out;
}

} // namespace

TEST(Slides, OffsetsAndMissingSources) {
    TBitmap from = Coded(320, 2, 1), to = Coded(320, 2, 2);
    // From drawn at x = -80, to at x = 240; a missing source is black.
    ExpectPixels(Mix<TTransHorzSlide>(320, 2, &from, &to, 0.25L),
                 "0,1=80,1,1 239,0=63,0,1 240,0=0,0,2 319,1=79,1,2");
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, &from, &to, 1), to));
    ExpectPixels(Mix<TTransHorzSlide>(320, 2, &from, nullptr, 0.25L), "0,0=80,0,1 240,0=0,0,0");
    ExpectPixels(Mix<TTransHorzSlide>(320, 2, nullptr, &to, 0.25L), "239,1=0,0,0 240,1=0,1,2");
    // With neither the frame stays as it was.
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, nullptr, nullptr, 0.5L), Solid(320, 2, Fill)));

    TBitmap top = Coded(2, 240, 1), bottom = Coded(2, 240, 2);
    ExpectPixels(Mix<TTransVertSlide>(2, 240, &top, &bottom, 0.25L),
                 "1,0=1,60,1 0,179=0,239,1 0,180=0,0,2 1,239=1,59,2");
    ExpectPixels(Mix<TTransVertSlide>(2, 240, nullptr, &bottom, 0.25L), "0,179=0,0,0");
}

TEST(Dimming, FadesThroughBlackOverTheCommonArea) {
    TBitmap from = Solid(4, 2, {200, 100, 50}), to = Solid(4, 2, {10, 220, 130});
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 0.5L), Solid(4, 2, Black)));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 1), to));
    // Round(0.25 * 2 * 255) = 128 off the from clip; Round(127.5) = 128 off the to clip; a lone
    // clip fades out or in.
    ExpectPixels(Mix<TTransDimmed>(4, 2, &from, &to, 0.25L), "3,1=72,0,0");
    ExpectPixels(Mix<TTransDimmed>(4, 2, &from, &to, 0.75L), "0,0=0,92,2");
    ExpectPixels(Mix<TTransDimmed>(4, 2, &from, nullptr, 0.2L), "1,1=149,49,0");
    ExpectPixels(Mix<TTransDimmed>(4, 2, nullptr, &to, 0.2L), "1,1=0,16,0");
    // A source smaller than the frame: only its area is written.
    TBitmap small = Solid(2, 1, Grey(100));
    ExpectPixels(Mix<TTransDimmed>(4, 2, &small, nullptr, 0.2L),
                 "1,0=49,49,49 2,0=9,9,9 0,1=9,9,9");
}

TEST(EyesOpen, MiddleBandOfOneSource) {
    TBitmap from = Coded(2, 240, 1), to = Coded(2, 240, 2);
    // Rows 60..179 show from at 0.25 and to at 0.75; the rest is black.
    ExpectPixels(Mix<TTransEyesOpen>(2, 240, &from, &to, 0.25L),
                 "0,59=0,0,0 1,60=1,60,1 0,179=0,179,1 0,180=0,0,0");
    ExpectPixels(Mix<TTransEyesOpen>(2, 240, &from, &to, 0.75L),
                 "0,59=0,0,0 1,60=1,60,2 0,179=0,179,2 0,180=0,0,0");
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, &to, 0.5L), Solid(2, 240, Black)));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, nullptr, 1), Solid(2, 240, Black)));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, nullptr, &to, 1), to));
    // A source shorter and narrower than the frame stops the band.
    TBitmap shortFrom = Coded(1, 100, 1);
    ExpectPixels(Mix<TTransEyesOpen>(2, 240, &shortFrom, nullptr, 0),
                 "0,99=0,99,1 1,99=0,0,0 0,100=0,0,0");
}

TEST(Dissolve, BlendsWithRoundedTermsWhereBothSourcesReach) {
    TBitmap white = Solid(2, 1, Grey(255)), black = Solid(2, 1, Black);
    TBitmap a = Solid(2, 1, {10, 101, 0}), b = Solid(2, 1, {30, 3, 255});
    ExpectPixels(Mix<TTransDissolve>(2, 1, &white, &white, 0.5L), "0,0=255,255,255");
    ExpectPixels(Mix<TTransDissolve>(2, 1, &white, &black, 0.5L), "1,0=128,128,128");
    // Round(10 * 0.75) + Round(30 * 0.25) = 8 + 8; Round(75.75) + Round(0.75) = 76 + 1.
    ExpectPixels(Mix<TTransDissolve>(2, 1, &a, &b, 0.25L), "0,0=16,77,64");
    // A lone clip fades as in dimming.
    ExpectPixels(Mix<TTransDissolve>(2, 1, &white, nullptr, 0.2L), "0,0=204,204,204");
    TBitmap big = Solid(4, 2, Grey(200)), small = Solid(2, 1, Grey(100));
    ExpectPixels(Mix<TTransDissolve>(4, 2, &big, &small, 0.5L),
                 "1,0=150,150,150 2,0=9,9,9 0,1=9,9,9");
}

TEST(Dissolve, BlendEqualsTheTablesForEveryBytePairAndProgress) {
    // Ends, halves, quarters and thirds; sixtieths and tenths, whose ties the long double
    // products may or may not hit; progresses a hair off a half; some outside 0..1; and a fixed
    // pseudo-random sequence.
    std::vector<Extended> progresses = {0,         1,        0.5L,          0.25L,         0.75L,
                                        1 / 3.0L,  2 / 3.0L, 0.5L + 1e-18L, 0.5L - 1e-18L, 1e-9L,
                                        1 - 1e-9L, -0.25L,   1.25L};
    for (int i = 1; i < 60; ++i)
        progresses.push_back(i / 60.0L);
    for (int i = 1; i < 10; ++i)
        progresses.push_back(i * 0.1L);
    uint32_t seed = 5;
    for (int i = 0; i < 40; ++i) {
        seed = seed * 1664525u + 1013904223u;
        progresses.push_back(seed / 4294967296.0L);
    }
    // 261 pixels wide, the first size pairs every byte of one source with every byte of the
    // other and leaves a row tail of 15 bytes; the others are tails alone. Sources and frame
    // differ in size, so only the common area is blended.
    struct Sizes {
        int wa, ha, wb, hb, wt, ht;
    };
    for (const Sizes& z :
         {Sizes{262, 256, 263, 258, 261, 257}, Sizes{5, 2, 6, 1, 7, 3}, Sizes{1, 1, 1, 1, 1, 1}}) {
        const TBitmap a = Bytes(z.wa, z.ha, [](int, int i) { return i; });
        const TBitmap b = Bytes(z.wb, z.hb, [](int y, int i) { return y + i / 256; });
        const TBitmap frame = Solid(z.wt, z.ht, Fill);
        for (Extended p : progresses) {
            SCOPED_TRACE(testing::Message() << "width " << z.wt << ", progress " << p);
            TBitmap out = Copy(frame);
            Blend(a, b, p, out);
            EXPECT_TRUE(Same(out, BlendByTables(a, b, p, frame)));
        }
    }
}
