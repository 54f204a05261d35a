// Text overlays: block geometry from the font's own metrics, centring, the key colour, clipping
// at every frame edge (the visible part of the same rendering), the font colour of aliased
// text, the opacity blend and what collapses the image. Saved projects with text are checked
// with the other overlays.
#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "AddOnRig.h"
#include "MyCommonParams.h"
#include "MyTextOverlays.h"
#include "MyValueStream.h"

using namespace addonrig;

namespace {

constexpr Px Black{0, 0, 0}, White{255, 255, 255};

// Where a frame differs from black (inclusive), how many pixels, and whether all are white.
struct Bounds {
    int Left = INT_MAX, Top = INT_MAX, Right = INT_MIN, Bottom = INT_MIN, Count = 0;
    bool AllInk = true;
};

Bounds Changed(const TBitmap& b) {
    Bounds r;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const Px p = At(b, x, y);
            if (p == Black)
                continue;
            r.AllInk = r.AllInk && p == White;
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
    // The block's width and line height as the canvas gives them for the font at a size.
    std::pair<int, int> Metrics(int size) const {
        TBitmap scratch(1, 1);
        TCanvas& c = scratch.Canvas();
        c.Font.Name = Font.Name;
        c.Font.Size = size;
        int width = 0;
        for (const std::string& line : Lines)
            width = std::max(width, c.TextWidth(line));
        return {width, c.TextHeight("M^j")};
    }
};

} // namespace

TEST(TextOverlay, BlockFromFontMetricsCentredOnThePosition) {
    TextRig t;
    const auto [width, lineHeight] = t.Metrics(20);
    ASSERT_GT(width, 50);
    ASSERT_GT(lineHeight, 10);
    TSimpleTextOverlay overlay(t.R.Bridge);
    TBitmap frame(320, 240);
    overlay.Bitmap = &frame;
    ASSERT_TRUE(overlay.Run(0, 0, 0, 25));
    const int left = 160 - width / 2, top = 120 - 3 * lineHeight / 2;
    EXPECT_EQ(overlay.TextBlock, Rect(left, top, left + width, top + 3 * lineHeight));
    // Aliased text is drawn in the font colour only, inside the block; ink in the first and in
    // the third line; the wide line nearly fills the width.
    const Bounds b = Changed(frame);
    EXPECT_TRUE(b.AllInk);
    EXPECT_TRUE(b.Left >= left && b.Right < left + width) << b.Left << " " << b.Right;
    EXPECT_TRUE(b.Top >= top && b.Bottom < top + 3 * lineHeight) << b.Top << " " << b.Bottom;
    EXPECT_LT(b.Top, top + lineHeight);
    EXPECT_GE(b.Bottom, top + 2 * lineHeight);
    EXPECT_GT(b.Right - b.Left, width * 3 / 4);
    // The position moves the block by as many pixels.
    t.R.Info.X = -30;
    t.R.Info.Y = 11;
    const Bounds moved = Changed(t.Draw(TBitmap(320, 240)));
    EXPECT_EQ(moved.Left, b.Left - 30);
    EXPECT_EQ(moved.Top, b.Top + 11);
    EXPECT_EQ(moved.Count, b.Count);
}

TEST(TextOverlay, SizingScalesTheFont) {
    TextRig t;
    const auto [w40, h40] = t.Metrics(40);
    t.R.Info.Sizing = 1; // twice the size
    const Bounds big = Changed(t.Draw(TBitmap(400, 300)));
    EXPECT_GE(big.Top, 150 - 3 * h40 / 2);
    EXPECT_GE(big.Bottom, 150 - 3 * h40 / 2 + 2 * h40);
    EXPECT_GT(big.Right - big.Left, w40 * 3 / 4);
    // Sizing -1 is size 0 and a negative font size is nothing: no image, nothing drawn.
    t.R.Info.Sizing = -1;
    EXPECT_EQ(Changed(t.Draw(TBitmap(100, 80))).Count, 0);
    t.R.Info.Sizing = 0;
    t.Font.Size = -12;
    EXPECT_EQ(Changed(t.Draw(TBitmap(100, 80))).Count, 0);
}

TEST(TextOverlay, BlackTextAndNothingToSayLeaveTheFrame) {
    // Black is the key colour; then no lines, no line list, and no snapshot at all.
    const TBitmap grey = Solid(120, 60, Grey(90));
    TextRig t;
    bool result = true;
    for (int step = 0; step < 4; ++step) {
        t.Font.Color = step == 0 ? 0 : 0xFFFFFF;
        if (step == 1)
            t.Lines.clear();
        if (step == 2)
            t.R.Info.Lines = nullptr;
        t.R.HasInfo = step != 3;
        EXPECT_TRUE(Same(t.Draw(Copy(grey), &result), grey)) << step;
    }
    EXPECT_FALSE(result);
}

TEST(TextOverlay, ClippedAtEveryEdgeToTheVisiblePartOfTheSameText) {
    // The whole block on a large frame, centred at (300, 200); a 90 x 50 frame whose centre plus
    // offset puts the block across one or more edges must show the same pixels relative to it.
    TextRig t;
    t.Lines = {"Clipped text block", "second line", "and a third one"};
    const TBitmap whole = t.Draw(TBitmap(600, 400));
    for (auto [ox, oy] :
         {std::pair{-80, 0}, {80, 0}, {0, -40}, {0, 40}, {-70, -35}, {75, 30}, {0, 0}}) {
        SCOPED_TRACE(testing::Message() << ox << "," << oy);
        t.R.Info.X = ox;
        t.R.Info.Y = oy;
        TSimpleTextOverlay overlay(t.R.Bridge);
        TBitmap small(90, 50);
        overlay.Bitmap = &small;
        ASSERT_TRUE(overlay.Run(0, 0, 0, 25));
        EXPECT_LE(overlay.TextImage.Width(), 90);
        EXPECT_LE(overlay.TextImage.Height(), 50);
        const TBitmap want = Paint(90, 50, [&, ox = ox, oy = oy](int x, int y) {
            return At(whole, 255 + x - ox, 175 + y - oy);
        });
        EXPECT_TRUE(Same(small, want));
        EXPECT_GT(Changed(want).Count, 0) << "the visible part is drawn";
    }
}

// One overlay that draws frame after frame (its text is laid out once while nothing changes)
// draws each as a fresh overlay would, whatever changed since the frame before.
TEST(TextOverlay, EveryFrameIsDrawnAsAFreshOverlayDrawsIt) {
    TextRig t;
    TSimpleTextOverlay kept(t.R.Bridge);
    const std::function<void()> changes[] = {
        [] {},
        [&] { t.Lines = {"Another text"}; },
        [&] { t.Font.Color = 0x00FF00; },
        [&] { t.Font.Size = 26; },
        [&] { t.Font.Style = TFont::fsBold; },
        [&] { t.Font.Name = "DejaVu Serif"; },
        [&] { t.R.Info.X = 12; },
        [&] { t.R.Info.Sizing = 0.5L; },
        [] {},
        [&] {
            t.Lines = {"Hi", "A rather wide line", "x"};
            t.Font = TFontInfo{};
            t.Font.Size = 20;
            t.Font.Color = 0xFFFFFF;
            t.R.Info.X = 0;
            t.R.Info.Sizing = 0;
        },
    };
    int i = 0;
    for (const auto& change : changes) {
        change();
        for (auto [w, h] : {std::pair{200, 100}, {150, 90}}) {
            TBitmap frame = Solid(w, h, Black);
            kept.Bitmap = &frame;
            ASSERT_TRUE(kept.Run(0, 0, 0, 25));
            EXPECT_TRUE(Same(frame, t.Draw(Solid(w, h, Black)))) << "change " << i << " " << w;
        }
        ++i;
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

TEST(OpaqueTextOverlay, BlendsByItsOpacityLevel) {
    // Ink pixels become (255 a + d (10000 - a)) div 10000 with a = 5000 (1 + level), clamped.
    TextRig t;
    const TBitmap ink = t.Draw(Solid(200, 100, Black));
    ASSERT_GT(Changed(ink).Count, 0);
    const std::tuple<Extended, int, int> rows[] = {
        {0.0L, 127, 177}, {1.0L, 255, 255}, {5.0L, 255, 255}, {-1.0L, 0, 100}, {0.5L, 191, 216}};
    for (auto [level, blue, red] : rows) {
        t.R.Info.Level = level;
        EXPECT_TRUE(Same(t.Draw<TOpaqueSimpleTextOverlay>(Solid(200, 100, {0, 0, 100})),
                         Paint(200, 100,
                               [&, b = blue, r = red](int x, int y) {
                                   return At(ink, x, y) == White
                                              ? Px{uint8_t(b), uint8_t(b), uint8_t(r)}
                                              : Px{0, 0, 100};
                               })))
            << double(level);
    }
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
    EXPECT_EQ(std::pair(overlay.TextImage.Width(), overlay.TextImage.Height()), std::pair(1, 1));
}
