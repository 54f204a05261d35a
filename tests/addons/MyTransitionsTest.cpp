// Transitions: exact pixels at the start, middle and end, lone and missing sources, and sources
// left as they were.
#include <gtest/gtest.h>

#include "EffectRig.h"
#include "MyTransitions.h"

using namespace effectrig;

namespace {

// Every pixel tells where it came from: blue = column, green = row, red = which source.
TBitmap Coded(int w, int h, uint8_t tag) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(b, x, y, {uint8_t(x), uint8_t(y), tag});
    return b;
}

constexpr Px Black{0, 0, 0}, Grey{9, 9, 9};

// Runs one transition into a fresh grey frame and checks that the sources stayed as they were.
template <class T> TBitmap Mix(int w, int h, TBitmap* from, TBitmap* to, Extended p) {
    TAddOnBridge bridge;
    T trans(bridge);
    TBitmap out = Solid(w, h, Grey);
    trans.Bitmap = &out;
    const TBitmap fromCopy = from ? Copy(*from) : TBitmap(), toCopy = to ? Copy(*to) : TBitmap();
    EXPECT_TRUE(trans.Execute(from, to, p));
    EXPECT_TRUE(!from || Same(*from, fromCopy));
    EXPECT_TRUE(!to || Same(*to, toCopy));
    return out;
}

} // namespace

TEST(Slides, OffsetsAndMissingSources) {
    TBitmap from = Coded(320, 2, 1), to = Coded(320, 2, 2);
    // From drawn at x = -80, to at x = 240.
    TBitmap out = Mix<TTransHorzSlide>(320, 2, &from, &to, 0.25L);
    EXPECT_EQ(At(out, 0, 1), (Px{80, 1, 1}));
    EXPECT_EQ(At(out, 239, 0), (Px{63, 0, 1})); // column 319
    EXPECT_EQ(At(out, 240, 0), (Px{0, 0, 2}));
    EXPECT_EQ(At(out, 319, 1), (Px{79, 1, 2}));
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, &from, &to, 1), to));
    // A missing source is black; with neither the frame stays as it was.
    out = Mix<TTransHorzSlide>(320, 2, &from, nullptr, 0.25L);
    EXPECT_EQ(At(out, 0, 0), (Px{80, 0, 1}));
    EXPECT_EQ(At(out, 240, 0), Black);
    out = Mix<TTransHorzSlide>(320, 2, nullptr, &to, 0.25L);
    EXPECT_EQ(At(out, 239, 1), Black);
    EXPECT_EQ(At(out, 240, 1), (Px{0, 1, 2}));
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, nullptr, nullptr, 0.5L), Solid(320, 2, Grey)));

    TBitmap top = Coded(2, 240, 1), bottom = Coded(2, 240, 2);
    out = Mix<TTransVertSlide>(2, 240, &top, &bottom, 0.25L);
    EXPECT_EQ(At(out, 1, 0), (Px{1, 60, 1}));
    EXPECT_EQ(At(out, 0, 179), (Px{0, 239, 1}));
    EXPECT_EQ(At(out, 0, 180), (Px{0, 0, 2}));
    EXPECT_EQ(At(out, 1, 239), (Px{1, 59, 2}));
    EXPECT_EQ(At(Mix<TTransVertSlide>(2, 240, nullptr, &bottom, 0.25L), 0, 179), Black);
}

TEST(Dimming, FadesThroughBlackOverTheCommonArea) {
    TBitmap from = Solid(4, 2, {200, 100, 50}), to = Solid(4, 2, {10, 220, 130});
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 0), from));
    // Round(0.25 * 2 * 255) = 128 off the from clip.
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, &from, &to, 0.25L), 3, 1), (Px{72, 0, 0}));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 0.5L), Solid(4, 2, Black)));
    // Round(127.5) = 128 off the to clip.
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, &from, &to, 0.75L), 0, 0), (Px{0, 92, 2}));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 1), to));
    // A lone clip fades out or in.
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, &from, nullptr, 0.2L), 1, 1), (Px{149, 49, 0}));
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, nullptr, &to, 0.2L), 1, 1), (Px{0, 16, 0}));
    // A source smaller than the frame: only its area is written.
    TBitmap small = Solid(2, 1, {100, 100, 100});
    const TBitmap out = Mix<TTransDimmed>(4, 2, &small, nullptr, 0.2L);
    EXPECT_EQ(At(out, 1, 0), (Px{49, 49, 49}));
    EXPECT_EQ(At(out, 2, 0), Grey);
    EXPECT_EQ(At(out, 0, 1), Grey);
}

TEST(EyesOpen, MiddleBandOfOneSource) {
    TBitmap from = Coded(2, 240, 1), to = Coded(2, 240, 2);
    // Rows 60..179 show from at 0.25 and to at 0.75; the rest is black.
    for (auto [p, tag] : {std::pair{0.25L, 1}, {0.75L, 2}}) {
        const TBitmap out = Mix<TTransEyesOpen>(2, 240, &from, &to, p);
        EXPECT_EQ(At(out, 0, 59), Black);
        EXPECT_EQ(At(out, 1, 60), (Px{1, 60, uint8_t(tag)}));
        EXPECT_EQ(At(out, 0, 179), (Px{0, 179, uint8_t(tag)}));
        EXPECT_EQ(At(out, 0, 180), Black);
    }
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, &to, 0.5L), Solid(2, 240, Black)));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, nullptr, 1), Solid(2, 240, Black)));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, nullptr, &to, 1), to));
    // A source shorter and narrower than the frame stops the band.
    TBitmap shortFrom = Coded(1, 100, 1);
    const TBitmap out = Mix<TTransEyesOpen>(2, 240, &shortFrom, nullptr, 0);
    EXPECT_EQ(At(out, 0, 99), (Px{0, 99, 1}));
    EXPECT_EQ(At(out, 1, 99), Black);
    EXPECT_EQ(At(out, 0, 100), Black);
}

TEST(Dissolve, BlendsWithRoundedTermsWhereBothSourcesReach) {
    TBitmap white = Solid(2, 1, {255, 255, 255}), black = Solid(2, 1, Black);
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &white, &white, 0.5L), 0, 0), (Px{255, 255, 255}));
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &white, &black, 0.5L), 1, 0), (Px{128, 128, 128}));
    TBitmap a = Solid(2, 1, {10, 101, 0}), b = Solid(2, 1, {30, 3, 255});
    // Round(10 * 0.75) + Round(30 * 0.25) = 8 + 8; Round(75.75) + Round(0.75) = 76 + 1.
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &a, &b, 0.25L), 0, 0), (Px{16, 77, 64}));
    // A lone clip fades as in dimming.
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &white, nullptr, 0.2L), 0, 0), (Px{204, 204, 204}));
    TBitmap big = Solid(4, 2, {200, 200, 200}), small = Solid(2, 1, {100, 100, 100});
    const TBitmap out = Mix<TTransDissolve>(4, 2, &big, &small, 0.5L);
    EXPECT_EQ(At(out, 1, 0), (Px{150, 150, 150}));
    EXPECT_EQ(At(out, 2, 0), Grey);
    EXPECT_EQ(At(out, 0, 1), Grey);
}

TEST(Transitions, NoTargetDrawsNothing) {
    TAddOnBridge bridge;
    TBitmap from = Solid(2, 1, Grey);
    TTransHorzSlide h(bridge);
    TTransVertSlide v(bridge);
    TTransDimmed d(bridge);
    TTransEyesOpen e(bridge);
    TTransDissolve s(bridge);
    for (TCustomTransition* t : std::initializer_list<TCustomTransition*>{&h, &v, &d, &e, &s})
        EXPECT_FALSE(t->Execute(&from, &from, 0.5L));
}
