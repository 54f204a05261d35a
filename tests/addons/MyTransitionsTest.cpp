// Transitions: exact pixels at the start, middle and end, lone and missing sources, and sources
// left as they were.
#include <gtest/gtest.h>

#include <array>

#include "MyTransitions.h"

namespace {

using Px = std::array<uint8_t, 3>; // B, G, R

Px At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

TBitmap Solid(int w, int h, Px c) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + x * 3;
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[2];
        }
    return b;
}

// Every pixel tells where it came from: blue = column, green = row, red = which source.
TBitmap Coded(int w, int h, uint8_t tag) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + x * 3;
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = tag;
        }
    return b;
}

TBitmap Copy(const TBitmap& b) {
    TBitmap c;
    c.Assign(b);
    return c;
}

bool Same(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (!std::equal(a.ScanLine(y), a.ScanLine(y) + a.Width() * 3, b.ScanLine(y)))
            return false;
    return true;
}

constexpr Px Black{0, 0, 0};
constexpr Px Grey{9, 9, 9};

// Runs one transition into a fresh grey frame and checks that the sources stayed as they were.
template <class T> TBitmap Mix(int w, int h, TBitmap* from, TBitmap* to, Extended p) {
    TAddOnBridge bridge;
    T trans(bridge);
    TBitmap out = Solid(w, h, Grey);
    trans.Bitmap = &out;
    TBitmap fromCopy = from ? Copy(*from) : TBitmap();
    TBitmap toCopy = to ? Copy(*to) : TBitmap();
    EXPECT_TRUE(trans.Execute(from, to, p));
    EXPECT_TRUE(!from || Same(*from, fromCopy));
    EXPECT_TRUE(!to || Same(*to, toCopy));
    return out;
}

} // namespace

TEST(HorzSlide, FromLeavesLeftWhileToComesFromRight) {
    TBitmap from = Coded(320, 2, 1), to = Coded(320, 2, 2);
    TBitmap out = Mix<TTransHorzSlide>(320, 2, &from, &to, 0.25L);
    // From drawn at x = -80, to at x = 240.
    EXPECT_EQ(At(out, 0, 1), (Px{80, 1, 1}));
    EXPECT_EQ(At(out, 239, 0), (Px{63, 0, 1})); // column 319
    EXPECT_EQ(At(out, 240, 0), (Px{0, 0, 2}));
    EXPECT_EQ(At(out, 319, 1), (Px{79, 1, 2}));

    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, &from, &to, 1), to));
}

TEST(HorzSlide, MissingSourceIsBlack) {
    TBitmap from = Coded(320, 2, 1), to = Coded(320, 2, 2);
    TBitmap a = Mix<TTransHorzSlide>(320, 2, &from, nullptr, 0.25L);
    EXPECT_EQ(At(a, 0, 0), (Px{80, 0, 1}));
    EXPECT_EQ(At(a, 240, 0), Black);
    EXPECT_EQ(At(a, 319, 1), Black);
    TBitmap b = Mix<TTransHorzSlide>(320, 2, nullptr, &to, 0.25L);
    EXPECT_EQ(At(b, 0, 0), Black);
    EXPECT_EQ(At(b, 239, 1), Black);
    EXPECT_EQ(At(b, 240, 1), (Px{0, 1, 2}));
    // Nothing to show: the frame stays as it was.
    EXPECT_TRUE(Same(Mix<TTransHorzSlide>(320, 2, nullptr, nullptr, 0.5L), Solid(320, 2, Grey)));
}

TEST(VertSlide, ToComesFromBelow) {
    TBitmap from = Coded(2, 240, 1), to = Coded(2, 240, 2);
    TBitmap out = Mix<TTransVertSlide>(2, 240, &from, &to, 0.25L);
    EXPECT_EQ(At(out, 1, 0), (Px{1, 60, 1}));
    EXPECT_EQ(At(out, 0, 179), (Px{0, 239, 1}));
    EXPECT_EQ(At(out, 0, 180), (Px{0, 0, 2}));
    EXPECT_EQ(At(out, 1, 239), (Px{1, 59, 2}));
    TBitmap lone = Mix<TTransVertSlide>(2, 240, nullptr, &to, 0.25L);
    EXPECT_EQ(At(lone, 0, 179), Black);
    EXPECT_EQ(At(lone, 0, 180), (Px{0, 0, 2}));
}

TEST(Dimming, FadesThroughBlack) {
    TBitmap from = Solid(4, 2, {200, 100, 50}), to = Solid(4, 2, {10, 220, 130});
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 0), from));
    // Round(0.25 * 2 * 255) = 128 off the from clip.
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, &from, &to, 0.25L), 3, 1), (Px{72, 0, 0}));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 0.5L), Solid(4, 2, Black)));
    // Round(127.5) = 128 off the to clip.
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, &from, &to, 0.75L), 0, 0), (Px{0, 92, 2}));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, &from, &to, 1), to));
}

TEST(Dimming, LoneClipFadesOutOrIn) {
    TBitmap from = Solid(4, 2, {200, 100, 50}), to = Solid(4, 2, {10, 220, 130});
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, &from, nullptr, 0.2L), 1, 1), (Px{149, 49, 0}));
    EXPECT_EQ(At(Mix<TTransDimmed>(4, 2, nullptr, &to, 0.2L), 1, 1), (Px{0, 16, 0}));
    EXPECT_TRUE(Same(Mix<TTransDimmed>(4, 2, nullptr, &to, 1), to));
}

TEST(Dimming, OnlyTheCommonAreaIsWritten) {
    TBitmap small = Solid(2, 1, {100, 100, 100});
    TBitmap out = Mix<TTransDimmed>(4, 2, &small, nullptr, 0.2L);
    EXPECT_EQ(At(out, 1, 0), (Px{49, 49, 49}));
    EXPECT_EQ(At(out, 2, 0), Grey);
    EXPECT_EQ(At(out, 0, 1), Grey);
}

TEST(EyesOpen, MiddleBandOfOneSource) {
    TBitmap from = Coded(2, 240, 1), to = Coded(2, 240, 2);
    TBitmap out = Mix<TTransEyesOpen>(2, 240, &from, &to, 0.25L);
    EXPECT_EQ(At(out, 0, 59), Black);
    EXPECT_EQ(At(out, 1, 60), (Px{1, 60, 1}));
    EXPECT_EQ(At(out, 0, 179), (Px{0, 179, 1}));
    EXPECT_EQ(At(out, 0, 180), Black);
    TBitmap late = Mix<TTransEyesOpen>(2, 240, &from, &to, 0.75L);
    EXPECT_EQ(At(late, 0, 59), Black);
    EXPECT_EQ(At(late, 0, 60), (Px{0, 60, 2}));
    EXPECT_EQ(At(late, 0, 179), (Px{0, 179, 2}));
    EXPECT_EQ(At(late, 0, 180), Black);
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, &to, 0.5L), Solid(2, 240, Black)));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, &to, 0), from));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, &from, nullptr, 1), Solid(2, 240, Black)));
    EXPECT_TRUE(Same(Mix<TTransEyesOpen>(2, 240, nullptr, &to, 1), to));
}

TEST(EyesOpen, ShortSourceStopsTheBand) {
    TBitmap shortFrom = Coded(1, 100, 1);
    TBitmap out = Mix<TTransEyesOpen>(2, 240, &shortFrom, nullptr, 0);
    EXPECT_EQ(At(out, 0, 99), (Px{0, 99, 1}));
    EXPECT_EQ(At(out, 1, 99), Black);
    EXPECT_EQ(At(out, 0, 100), Black);
}

TEST(Dissolve, BlendsWithRoundedTerms) {
    TBitmap white = Solid(2, 1, {255, 255, 255}), black = Solid(2, 1, Black);
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &white, &white, 0.5L), 0, 0), (Px{255, 255, 255}));
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &white, &black, 0.5L), 1, 0), (Px{128, 128, 128}));
    TBitmap a = Solid(2, 1, {10, 101, 0}), b = Solid(2, 1, {30, 3, 255});
    // Round(10 * 0.75) + Round(30 * 0.25) = 8 + 8; Round(75.75) + Round(0.75) = 76 + 1.
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &a, &b, 0.25L), 0, 0), (Px{16, 77, 64}));
    // A lone clip fades as in dimming.
    EXPECT_EQ(At(Mix<TTransDissolve>(2, 1, &white, nullptr, 0.2L), 0, 0), (Px{204, 204, 204}));
}

TEST(Dissolve, BlendsOnlyWhereBothSourcesReach) {
    TBitmap a = Solid(4, 2, {200, 200, 200}), b = Solid(2, 1, {100, 100, 100});
    TBitmap out = Mix<TTransDissolve>(4, 2, &a, &b, 0.5L);
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
