// Text overlays: block geometry from the font's own metrics, centring, the key colour, clipping
// at every frame edge (the visible part of the same rendering), the font colour of aliased
// text, the opacity blend and what collapses the image. Saved projects with text are checked
// with the other overlays.
#include <gtest/gtest.h>

#include <climits>

#include "EffectRig.h"
#include "MyCommonParams.h"
#include "MyTextOverlays.h"
#include "MyTimeData.h"
#include "MyValueStream.h"

using namespace effectrig;

namespace {

struct Bounds {
    int Left = INT_MAX, Top = INT_MAX, Right = INT_MIN, Bottom = INT_MIN; // inclusive
    int Count = 0;
};

// Where a frame differs from the background, and whether every such pixel is ink.
Bounds Changed(const TBitmap& b, Px background, Px ink, bool& allInk) {
    Bounds r;
    allInk = true;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const Px p = At(b, x, y);
            if (p == background)
                continue;
            allInk = allInk && p == ink;
            r.Left = std::min(r.Left, x);
            r.Right = std::max(r.Right, x);
            r.Top = std::min(r.Top, y);
            r.Bottom = std::max(r.Bottom, y);
            ++r.Count;
        }
    return r;
}

struct TextRig {
    Rig R;
    std::vector<std::string> Lines{"Hi", "A rather wide line", "x"};
    TFontInfo Font;

    TextRig() {
        Font.Size = 20;
        Font.Color = 0xFFFFFF;
        R.Info.Lines = &Lines;
        R.Info.Font = &Font;
    }

    // Runs the overlay on a frame and returns it.
    template <class T = TSimpleTextOverlay> TBitmap Draw(TBitmap frame, bool* result = nullptr) {
        T overlay(R.Bridge);
        overlay.Bitmap = &frame;
        const bool ok = overlay.Run(0, 0, 0, 25);
        if (result)
            *result = ok;
        return frame;
    }
};

// The block's metrics as the canvas gives them for the font at a size in points.
void Metrics(const TextRig& t, int size, int& width, int& lineHeight) {
    TBitmap scratch(1, 1);
    TCanvas& c = scratch.Canvas();
    c.Font.Name = t.Font.Name;
    c.Font.Size = size;
    width = 0;
    for (const std::string& line : t.Lines)
        width = std::max(width, c.TextWidth(line));
    lineHeight = c.TextHeight("M^j");
}

constexpr Px Black{0, 0, 0}, White{255, 255, 255};

} // namespace

TEST(TextOverlay, BlockFromFontMetricsCentredOnThePosition) {
    TextRig t;
    int width, lineHeight;
    Metrics(t, 20, width, lineHeight);
    ASSERT_GT(width, 50);
    ASSERT_GT(lineHeight, 10);

    TSimpleTextOverlay overlay(t.R.Bridge);
    TBitmap frame(320, 240);
    overlay.Bitmap = &frame;
    ASSERT_TRUE(overlay.Run(0, 0, 0, 25));
    const int left = 160 - width / 2, top = 120 - 3 * lineHeight / 2;
    EXPECT_EQ(overlay.TextBlock, Rect(left, top, left + width, top + 3 * lineHeight));

    bool allInk;
    const Bounds b = Changed(frame, Black, White, allInk);
    EXPECT_TRUE(allInk) << "aliased text is drawn in the font colour only";
    EXPECT_GE(b.Left, left);
    EXPECT_LT(b.Right, left + width);
    EXPECT_GE(b.Top, top);
    EXPECT_LT(b.Bottom, top + 3 * lineHeight);
    // Ink in the first and in the third line; the wide line nearly fills the width.
    EXPECT_LT(b.Top, top + lineHeight);
    EXPECT_GE(b.Bottom, top + 2 * lineHeight);
    EXPECT_GT(b.Right - b.Left, width * 3 / 4);

    // The position moves the block by as many pixels.
    t.R.Info.X = -30;
    t.R.Info.Y = 11;
    const Bounds moved = Changed(t.Draw(TBitmap(320, 240)), Black, White, allInk);
    EXPECT_EQ(moved.Left, b.Left - 30);
    EXPECT_EQ(moved.Top, b.Top + 11);
    EXPECT_EQ(moved.Count, b.Count);
}

TEST(TextOverlay, SizingScalesTheFont) {
    TextRig t;
    int w40, h40;
    Metrics(t, 40, w40, h40);
    bool allInk;
    t.R.Info.Sizing = 1; // twice the size
    const Bounds big = Changed(t.Draw(TBitmap(400, 300)), Black, White, allInk);
    EXPECT_GE(big.Top, 150 - 3 * h40 / 2);
    EXPECT_GE(big.Bottom, 150 - 3 * h40 / 2 + 2 * h40);
    EXPECT_GT(big.Right - big.Left, w40 * 3 / 4);
    // Sizing -1 is size 0 and a negative font size is nothing: no image, nothing drawn.
    t.R.Info.Sizing = -1;
    EXPECT_TRUE(Same(t.Draw(TBitmap(100, 80)), TBitmap(100, 80)));
    t.R.Info.Sizing = 0;
    t.Font.Size = -12;
    EXPECT_TRUE(Same(t.Draw(TBitmap(100, 80)), TBitmap(100, 80)));
}

TEST(TextOverlay, BlackTextAndNothingToSayLeaveTheFrame) {
    const TBitmap grey = Solid(120, 60, {90, 90, 90});
    TextRig t;
    t.Font.Color = 0; // black is the key colour
    EXPECT_TRUE(Same(t.Draw(Copy(grey)), grey));
    t.Font.Color = 0xFFFFFF;
    t.Lines.clear();
    EXPECT_TRUE(Same(t.Draw(Copy(grey)), grey));
    t.R.Info.Lines = nullptr;
    EXPECT_TRUE(Same(t.Draw(Copy(grey)), grey));
    t.R.HasInfo = false;
    bool result = true;
    EXPECT_TRUE(Same(t.Draw(Copy(grey), &result), grey));
    EXPECT_FALSE(result);
}

TEST(TextOverlay, ClippedAtEveryEdgeToTheVisiblePartOfTheSameText) {
    TextRig t;
    t.Lines = {"Clipped text block", "second line", "and a third one"};
    // The whole block on a large frame, centred at (300, 200).
    const TBitmap whole = t.Draw(TBitmap(600, 400));
    // A small frame whose centre + offset puts the block across one or more edges; each of its
    // pixels must equal the large frame's pixel at the same place relative to the block.
    const int w = 90, h = 50;
    const int offsets[][2] = {{-80, 0}, {80, 0}, {0, -40}, {0, 40}, {-70, -35}, {75, 30}, {0, 0}};
    for (const auto& o : offsets) {
        t.R.Info.X = o[0];
        t.R.Info.Y = o[1];
        TSimpleTextOverlay overlay(t.R.Bridge);
        TBitmap small(w, h);
        overlay.Bitmap = &small;
        ASSERT_TRUE(overlay.Run(0, 0, 0, 25));
        EXPECT_LE(overlay.TextImage.Width(), w);
        EXPECT_LE(overlay.TextImage.Height(), h);
        // Small (x, y) is the block position (x - 45 - ox, y - 25 - oy) from its centre.
        int ink = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Px expected = At(whole, 300 + x - w / 2 - o[0], 200 + y - h / 2 - o[1]);
                ASSERT_EQ(At(small, x, y), expected)
                    << o[0] << "," << o[1] << " at " << x << "," << y;
                ink += expected == White;
            }
        EXPECT_GT(ink, 0) << "the visible part is drawn";
    }
}

TEST(TextOverlay, HugeSizesAndManyLinesStayWithinTheFrame) {
    TextRig t;
    t.Font.Size = 2000000000;
    t.Lines.assign(5000, "Many lines");
    TSimpleTextOverlay overlay(t.R.Bridge);
    TBitmap frame(64, 48);
    overlay.Bitmap = &frame;
    ASSERT_TRUE(overlay.Run(0, 0, 0, 25));
    EXPECT_EQ(overlay.TextImage.Width(), 64);
    EXPECT_EQ(overlay.TextImage.Height(), 48);
    EXPECT_EQ(overlay.TextImage.Canvas().Font.Size, MaxTextFontSize);
}

TEST(TextOverlay, SubtitleDrawsAsTheTextOverlay) {
    TextRig t;
    EXPECT_TRUE(Same(t.Draw<TSubTitleOverlay>(Solid(200, 100, {1, 2, 3})),
                     t.Draw<TSimpleTextOverlay>(Solid(200, 100, {1, 2, 3}))));
}

TEST(OpaqueTextOverlay, BlendsByItsOpacityLevel) {
    TextRig t;
    const TBitmap solid = t.Draw(Solid(200, 100, {0, 0, 0}));
    bool allInk;
    const Bounds ink = Changed(solid, Black, White, allInk);
    ASSERT_GT(ink.Count, 0);
    auto blended = [&](Extended level, Px expected) {
        t.R.Info.Level = level;
        const TBitmap out = t.Draw<TOpaqueSimpleTextOverlay>(Solid(200, 100, {0, 0, 100}));
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 200; ++x) {
                const Px want = At(solid, x, y) == White ? expected : Px{0, 0, 100};
                if (At(out, x, y) != want)
                    return false;
            }
        return true;
    };
    EXPECT_TRUE(blended(0, {127, 127, 177})); // (255 x 5000 + d x 5000) div 10000
    EXPECT_TRUE(blended(1, White));
    EXPECT_TRUE(blended(5, White));
    EXPECT_TRUE(blended(-1, (Px{0, 0, 100})));
    EXPECT_TRUE(blended(0.5L, (Px{191, 191, 216}))); // a = 7500
}

TEST(TextOverlay, ReadingARecordCollapsesTheImage) {
    TextRig t;
    TSimpleTextOverlay overlay(t.R.Bridge);
    TBitmap frame(200, 100);
    overlay.Bitmap = &frame;
    ASSERT_TRUE(overlay.Run(0, 0, 0, 25));
    ASSERT_GT(overlay.TextImage.Width(), 1);
    std::vector<uint8_t> bytes;
    TValueWriter w(bytes);
    overlay.WriteData(w);
    TValueReader r(bytes.data(), bytes.size());
    overlay.ReadData(r);
    EXPECT_EQ(overlay.TextImage.Width(), 1);
    EXPECT_EQ(overlay.TextImage.Height(), 1);
}
