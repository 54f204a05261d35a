// Transitions: exact pixels at the start, middle and end, lone and missing sources, and sources
// left as they were. That none draws without a target is checked with the provider's list.
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
