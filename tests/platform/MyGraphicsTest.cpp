#include "MyGraphics.h"

#include <gtest/gtest.h>

#include "MyCommonParams.h"
#include "MyExceptions.h"

namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

// A bitmap whose every pixel differs: (x, y) holds B = x, G = y, R = 0x80.
TBitmap Pattern(int w, int h) {
    TBitmap bmp(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bmp.Canvas().SetPixel(x, y, 0x80 | y << 8 | x << 16);
    return bmp;
}

uint32_t PatternAt(int x, int y) {
    return 0x80 | y << 8 | x << 16;
}

TBitmap Filled(int w, int h, uint32_t color) {
    TBitmap bmp(w, h);
    bmp.Canvas().Brush.Color = color;
    bmp.Canvas().FillRect(Rect(0, 0, w, h));
    return bmp;
}

// Pixels of bmp that are not `background`, as a bounding box (Right/Bottom exclusive).
TRect InkBox(const TBitmap& bmp, uint32_t background, int* count = nullptr) {
    TRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    int n = 0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (bmp.Canvas().GetPixel(x, y) != background) {
                ++n;
                box.Left = std::min(box.Left, x);
                box.Top = std::min(box.Top, y);
                box.Right = std::max(box.Right, x + 1);
                box.Bottom = std::max(box.Bottom, y + 1);
            }
    if (count)
        *count = n;
    return box;
}

} // namespace

// ---- Bitmap memory ------------------------------------------------------------------------------

TEST(MyGraphicsBitmap, RowsArePaddedBGRTopDown) {
    TBitmap bmp(3, 2);
    EXPECT_EQ(bmp.RowBytes(), 12); // 9 bytes of pixels + 3 of padding
    EXPECT_EQ(bmp.GetPixelFormat(), pf24bit);
    bmp.Canvas().SetPixel(1, 1, 0x112233);
    const uint8_t* row1 = bmp.ScanLine(1);
    EXPECT_EQ(row1, bmp.Bits() + 12);
    EXPECT_EQ(row1[3], 0x11); // blue
    EXPECT_EQ(row1[4], 0x22); // green
    EXPECT_EQ(row1[5], 0x33); // red
    for (int i = 0; i < 24; ++i) {
        if (i < 15 || i > 17) {
            EXPECT_EQ(bmp.Bits()[i], 0) << i;
        }
    }

    bmp.SetSize(321, 240);
    EXPECT_EQ(bmp.RowBytes(), 964);
    bmp.SetSize(320, 240);
    EXPECT_EQ(bmp.RowBytes(), 960);
    bmp.SetSize(1, 1);
    EXPECT_EQ(bmp.RowBytes(), 4);
}

TEST(MyGraphicsBitmap, SetSizeKeepsSharedAreaAndBlackensTheRest) {
    TBitmap bmp = Filled(4, 3, kWhite);
    bmp.SetSize(6, 2);
    EXPECT_EQ(bmp.Width(), 6);
    EXPECT_EQ(bmp.Height(), 2);
    EXPECT_EQ(bmp.Canvas().GetPixel(3, 1), kWhite);
    EXPECT_EQ(bmp.Canvas().GetPixel(4, 0), 0u);
    EXPECT_EQ(bmp.Canvas().GetPixel(5, 1), 0u);
    bmp.SetSize(6, 4);
    EXPECT_EQ(bmp.Canvas().GetPixel(0, 2), 0u);

    // The same size again keeps buffer and pixels.
    const uint8_t* bits = bmp.Bits();
    bmp.SetSize(6, 4);
    EXPECT_EQ(bmp.Bits(), bits);
    EXPECT_EQ(bmp.Canvas().GetPixel(0, 0), kWhite);
}

TEST(MyGraphicsBitmap, EmptyAndInvalidSizes) {
    TBitmap bmp(5, 5);
    bmp.SetSize(0, 5);
    EXPECT_TRUE(bmp.Empty());
    EXPECT_EQ(bmp.Bits(), nullptr);
    bmp.SetSize(0, 0);
    EXPECT_TRUE(bmp.Empty());
    EXPECT_THROW(bmp.SetSize(-1, 4), EInvalidGraphic);
    EXPECT_THROW(bmp.SetSize(200000000, 1), EIntOverflow);
    // Drawing on an empty bitmap does nothing and does not fault.
    TCanvas& c = bmp.Canvas();
    c.FillRect(Rect(0, 0, 10, 10));
    c.Rectangle(0, 0, 10, 10);
    c.Ellipse(0, 0, 10, 10);
    c.MoveTo(0, 0);
    c.LineTo(10, 10);
    c.TextOut(0, 0, "x");
    c.Draw(0, 0, Pattern(2, 2));
    EXPECT_EQ(c.GetPixel(0, 0), clInvalidPixel);
}

TEST(MyGraphicsBitmap, ScanLineIsBoundsChecked) {
    TBitmap bmp(2, 3);
    EXPECT_NO_THROW(bmp.ScanLine(0));
    EXPECT_NO_THROW(bmp.ScanLine(2));
    try {
        bmp.ScanLine(3);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Index, 3);
        EXPECT_EQ(e.Count, 3);
    }
    EXPECT_THROW(bmp.ScanLine(-1), EListError);
    const TBitmap& constBmp = bmp;
    EXPECT_THROW(constBmp.ScanLine(3), EListError);
    EXPECT_THROW(TBitmap().ScanLine(0), EListError);
}

TEST(MyGraphicsBitmap, AssignAndMove) {
    TBitmap src = Pattern(5, 4);
    TBitmap dst(2, 2);
    dst.Canvas().Brush.Color = kRed;
    dst.Assign(src);
    EXPECT_EQ(dst.Width(), 5);
    EXPECT_EQ(dst.Height(), 4);
    EXPECT_EQ(dst.Canvas().GetPixel(4, 3), PatternAt(4, 3));
    EXPECT_EQ(dst.Canvas().Brush.Color, kRed); // canvas state is not part of the picture

    src.Canvas().Pen.Color = kGreen;
    TBitmap moved(std::move(src));
    EXPECT_EQ(src.Width(), 0);
    EXPECT_TRUE(src.Empty());
    EXPECT_EQ(moved.Canvas().Pen.Color, kGreen);
    EXPECT_EQ(&moved.Canvas().Bitmap(), &moved);
    moved.Canvas().SetPixel(0, 0, kBlue);
    EXPECT_EQ(moved.Canvas().GetPixel(0, 0), kBlue);

    dst = std::move(moved);
    EXPECT_EQ(&dst.Canvas().Bitmap(), &dst);
    EXPECT_EQ(dst.Canvas().GetPixel(0, 0), kBlue);
    EXPECT_EQ(dst.Canvas().Pen.Color, kGreen);
}

TEST(MyGraphicsBitmap, PixelsOutsideAreIgnored) {
    TBitmap bmp(2, 2);
    TCanvas& c = bmp.Canvas();
    c.SetPixel(-1, 0, kWhite);
    c.SetPixel(2, 0, kWhite);
    c.SetPixel(0, 2, kWhite);
    EXPECT_EQ(InkBox(bmp, 0).Right, INT32_MIN);
    EXPECT_EQ(c.GetPixel(2, 1), clInvalidPixel);
    EXPECT_EQ(c.GetPixel(0, -1), clInvalidPixel);
    c.SetPixel(1, 1, 0xAB123456); // the top byte is not a colour
    EXPECT_EQ(c.GetPixel(1, 1), 0x123456u);
}

// ---- Fills and outlines -------------------------------------------------------------------------

TEST(MyGraphicsCanvas, FillRectExcludesRightAndBottomAndClips) {
    TBitmap bmp(6, 5);
    TCanvas& c = bmp.Canvas();
    c.Brush.Color = kRed;
    c.FillRect(Rect(1, 1, 3, 4));
    EXPECT_EQ(InkBox(bmp, 0), Rect(1, 1, 3, 4));

    for (TRect r :
         {Rect(-3, -2, 2, 1), Rect(4, 3, 100, 100), Rect(-5, 2, 1, 3), Rect(5, -9, 9, 1)}) {
        TBitmap b(6, 5);
        b.Canvas().Brush.Color = kGreen;
        b.Canvas().FillRect(r);
        TRect expect{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, 6),
                     std::min(r.Bottom, 5)};
        int n = 0;
        EXPECT_EQ(InkBox(b, 0, &n), expect);
        EXPECT_EQ(n, expect.Width() * expect.Height());
    }

    TBitmap none(6, 5);
    none.Canvas().Brush.Color = kWhite;
    none.Canvas().FillRect(Rect(-10, -10, -1, 3)); // wholly left
    none.Canvas().FillRect(Rect(6, 0, 9, 5));      // wholly right
    none.Canvas().FillRect(Rect(3, 3, 1, 5));      // inverted
    none.Canvas().FillRect(Rect(INT32_MIN, INT32_MIN, INT32_MIN + 1, INT32_MAX));
    none.Canvas().Brush.Style = bsClear;
    none.Canvas().FillRect(Rect(0, 0, 6, 5));
    EXPECT_EQ(InkBox(none, 0).Right, INT32_MIN);
    none.Canvas().Brush.Style = bsSolid;
    none.Canvas().FillRect(Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX));
    int n = 0;
    InkBox(none, 0, &n);
    EXPECT_EQ(n, 30);
}

TEST(MyGraphicsCanvas, RectangleOutlineAndFill) {
    TBitmap bmp(8, 7);
    TCanvas& c = bmp.Canvas();
    c.Pen.Color = kRed;
    c.Brush.Color = kGreen;
    c.Rectangle(1, 1, 6, 5);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 8; ++x) {
            uint32_t expect = 0;
            if (x >= 1 && x <= 5 && y >= 1 && y <= 4)
                expect = (x == 1 || x == 5 || y == 1 || y == 4) ? kRed : kGreen;
            EXPECT_EQ(c.GetPixel(x, y), expect) << x << "," << y;
        }

    // Swapped corners draw the same rectangle; a clear brush leaves the inside alone.
    TBitmap other = Filled(8, 7, kBlue);
    other.Canvas().Pen.Color = kRed;
    other.Canvas().Brush.Style = bsClear;
    other.Canvas().Rectangle(6, 5, 1, 1);
    EXPECT_EQ(other.Canvas().GetPixel(1, 1), kRed);
    EXPECT_EQ(other.Canvas().GetPixel(5, 4), kRed);
    EXPECT_EQ(other.Canvas().GetPixel(3, 2), kBlue);
    EXPECT_EQ(other.Canvas().GetPixel(6, 5), kBlue);

    // Clipped at every edge.
    TBitmap clip(4, 4);
    clip.Canvas().Pen.Color = kWhite;
    clip.Canvas().Brush.Color = kGreen;
    clip.Canvas().Rectangle(-2, -2, 6, 6);
    int n = 0;
    InkBox(clip, kGreen, &n);
    EXPECT_EQ(n, 0);
}

TEST(MyGraphicsCanvas, FrameRectUsesTheBrush) {
    TBitmap bmp(5, 5);
    bmp.Canvas().Brush.Color = kBlue;
    bmp.Canvas().FrameRect(Rect(0, 0, 4, 3));
    int n = 0;
    EXPECT_EQ(InkBox(bmp, 0, &n), Rect(0, 0, 4, 3));
    EXPECT_EQ(n, 10);
    EXPECT_EQ(bmp.Canvas().GetPixel(1, 1), 0u);
}

// ---- Lines and ellipses -------------------------------------------------------------------------

TEST(MyGraphicsCanvas, LineToLeavesOutTheEndPixel) {
    TBitmap bmp(10, 10);
    TCanvas& c = bmp.Canvas();
    c.Pen.Color = kWhite;
    c.MoveTo(1, 2);
    c.LineTo(6, 2);
    EXPECT_EQ(c.PenPos, Point(6, 2));
    int n = 0;
    EXPECT_EQ(InkBox(bmp, 0, &n), Rect(1, 2, 6, 3));
    EXPECT_EQ(n, 5);

    // Drawn the other way, the start (right) end is drawn and the left one left out.
    TBitmap back(10, 10);
    back.Canvas().Pen.Color = kWhite;
    back.Canvas().MoveTo(6, 2);
    back.Canvas().LineTo(1, 2);
    EXPECT_EQ(InkBox(back, 0), Rect(2, 2, 7, 3));

    // Vertical upwards and diagonal: start in, end out.
    for (auto [x0, y0, x1, y1] : {std::array{4, 8, 4, 1}, std::array{1, 1, 7, 7},
                                  std::array{8, 8, 2, 5}, std::array{0, 9, 9, 0}}) {
        TBitmap b(10, 10);
        b.Canvas().Pen.Color = kWhite;
        b.Canvas().MoveTo(x0, y0);
        b.Canvas().LineTo(x1, y1);
        EXPECT_EQ(b.Canvas().GetPixel(x0, y0), kWhite) << x0 << "," << y0;
        EXPECT_EQ(b.Canvas().GetPixel(x1, y1), 0u) << x1 << "," << y1;
        int count = 0;
        InkBox(b, 0, &count);
        EXPECT_EQ(count, std::max(std::abs(x1 - x0), std::abs(y1 - y0)));
    }

    // A line to its own start draws nothing.
    TBitmap dot(3, 3);
    dot.Canvas().Pen.Color = kWhite;
    dot.Canvas().MoveTo(1, 1);
    dot.Canvas().LineTo(1, 1);
    EXPECT_EQ(dot.Canvas().GetPixel(1, 1), 0u);

    // Lines leaving the bitmap are clipped; the polyline joins.
    TBitmap clip(5, 5);
    clip.Canvas().Pen.Color = kWhite;
    clip.Canvas().MoveTo(-3, 2);
    clip.Canvas().LineTo(8, 2);
    clip.Canvas().LineTo(8, -4);
    EXPECT_EQ(InkBox(clip, 0), Rect(0, 2, 5, 3));
}

TEST(MyGraphicsCanvas, EllipseStaysInsideItsRectangle) {
    TBitmap bmp(20, 16);
    TCanvas& c = bmp.Canvas();
    c.Pen.Color = kRed;
    c.Brush.Color = kGreen;
    c.Ellipse(2, 3, 15, 12);
    EXPECT_EQ(InkBox(bmp, 0), Rect(2, 3, 15, 12));
    EXPECT_EQ(c.GetPixel(8, 7), kGreen);
    EXPECT_EQ(c.GetPixel(8, 3), kRed);
    EXPECT_EQ(c.GetPixel(2, 3), 0u);

    TBitmap hollow = Filled(20, 16, kBlue);
    hollow.Canvas().Pen.Color = kWhite;
    hollow.Canvas().Pen.Width = 0;
    hollow.Canvas().Brush.Style = bsClear;
    hollow.Canvas().Ellipse(2, 3, 15, 12);
    EXPECT_EQ(hollow.Canvas().GetPixel(8, 7), kBlue);
    EXPECT_EQ(InkBox(hollow, kBlue), Rect(2, 3, 15, 12));
}

// ---- Copies and stretches -----------------------------------------------------------------------

TEST(MyGraphicsCopy, DrawCopiesExactlyAndClipsAtEveryEdge) {
    const TBitmap src = Pattern(4, 3);
    for (int dx = -5; dx <= 7; ++dx)
        for (int dy = -4; dy <= 6; ++dy) {
            TBitmap dst = Filled(6, 5, kWhite);
            dst.Canvas().Draw(dx, dy, src);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 6; ++x) {
                    const int sx = x - dx, sy = y - dy;
                    const bool in = sx >= 0 && sx < 4 && sy >= 0 && sy < 3;
                    ASSERT_EQ(dst.Canvas().GetPixel(x, y), in ? PatternAt(sx, sy) : kWhite)
                        << "at " << dx << "," << dy << " pixel " << x << "," << y;
                }
        }
    TBitmap dst = Filled(6, 5, kWhite);
    dst.Canvas().Draw(INT32_MAX - 1, INT32_MIN, src);
    dst.Canvas().Draw(INT32_MIN, 0, src);
    EXPECT_EQ(InkBox(dst, kWhite).Right, INT32_MIN);
}

TEST(MyGraphicsCopy, DrawOntoItselfReadsTheSourceFirst) {
    TBitmap bmp = Pattern(6, 6);
    bmp.Canvas().Draw(1, 2, bmp);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool moved = x >= 1 && y >= 2;
            EXPECT_EQ(bmp.Canvas().GetPixel(x, y),
                      moved ? PatternAt(x - 1, y - 2) : PatternAt(x, y));
        }
}

TEST(MyGraphicsCopy, StretchIsNearestNeighbour) {
    const TBitmap src = Pattern(3, 2);
    TBitmap up(6, 4);
    up.Canvas().StretchDraw(Rect(0, 0, 6, 4), src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(up.Canvas().GetPixel(x, y), PatternAt(x / 2, y / 2));

    // Shrinking takes the source pixel under each target pixel's centre.
    const TBitmap big = Pattern(9, 6);
    TBitmap down(3, 2);
    down.Canvas().StretchDraw(Rect(0, 0, 3, 2), big);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(down.Canvas().GetPixel(x, y), PatternAt(3 * x + 1, 3 * y + 1));

    TBitmap same(9, 6);
    same.Canvas().StretchDraw(Rect(0, 0, 9, 6), big);
    EXPECT_EQ(InkBox(same, 0).Right, 9);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(same.Canvas().GetPixel(x, y), PatternAt(x, y));

    // Empty or inverted targets draw nothing.
    TBitmap none(4, 4);
    none.Canvas().StretchDraw(Rect(0, 0, 0, 4), big);
    none.Canvas().StretchDraw(Rect(3, 3, 1, 1), big);
    none.Canvas().StretchDraw(Rect(0, 0, 4, 4), TBitmap());
    EXPECT_EQ(InkBox(none, 0).Right, INT32_MIN);
}

TEST(MyGraphicsCopy, ClippedStretchMatchesTheUnclippedOne) {
    // Drawing into a small bitmap must give the same pixels as drawing into a large one with
    // the target moved by its margin: clipping changes which pixels are written, never which
    // source pixel lands where.
    const TBitmap src = Pattern(7, 5);
    const int margin = 40;
    for (TRect d : {Rect(-9, -7, 11, 8), Rect(3, 2, 30, 25), Rect(-20, 4, 5, 6), Rect(5, -13, 8, 3),
                    Rect(-3, -3, 2, 1), Rect(9, 7, 30, 30)}) {
        TBitmap small = Filled(10, 8, kWhite);
        small.Canvas().StretchDraw(d, src);
        TBitmap large = Filled(10 + 2 * margin, 8 + 2 * margin, kWhite);
        large.Canvas().StretchDraw(
            Rect(d.Left + margin, d.Top + margin, d.Right + margin, d.Bottom + margin), src);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(small.Canvas().GetPixel(x, y),
                          large.Canvas().GetPixel(x + margin, y + margin))
                    << d.Left << "," << d.Top << "," << d.Right << "," << d.Bottom << " at " << x
                    << "," << y;
    }
}

TEST(MyGraphicsCopy, CopyRectFromCanvasAndSourceOutside) {
    TBitmap src = Pattern(5, 5);
    TBitmap dst = Filled(4, 4, kWhite);
    dst.Canvas().CopyRect(Rect(0, 0, 4, 4), src.Canvas(), Rect(3, -1, 7, 3));
    // Source columns 3..4 exist, 5..6 do not; row -1 does not.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const int sx = 3 + x, sy = y - 1;
            const bool in = sx < 5 && sy >= 0;
            EXPECT_EQ(dst.Canvas().GetPixel(x, y), in ? PatternAt(sx, sy) : kWhite)
                << x << "," << y;
        }

    // Stretching a source part: 2x1 pixels onto 4x2.
    TBitmap part = Filled(4, 2, kWhite);
    part.Canvas().CopyRect(Rect(0, 0, 4, 2), src, Rect(1, 2, 3, 3));
    EXPECT_EQ(part.Canvas().GetPixel(0, 0), PatternAt(1, 2));
    EXPECT_EQ(part.Canvas().GetPixel(1, 1), PatternAt(1, 2));
    EXPECT_EQ(part.Canvas().GetPixel(2, 0), PatternAt(2, 2));
    EXPECT_EQ(part.Canvas().GetPixel(3, 1), PatternAt(2, 2));

    // Stretching a source part that runs past the source's right and bottom edges (columns
    // 3..6, rows 3..6 of a 5 x 5 picture, doubled): only the existing pixels are copied.
    TBitmap past = Filled(10, 10, kWhite);
    past.Canvas().CopyRect(Rect(0, 0, 8, 8), src, Rect(3, 3, 7, 7));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool in = x < 4 && y < 4;
            EXPECT_EQ(past.Canvas().GetPixel(x, y), in ? PatternAt(3 + x / 2, 3 + y / 2) : kWhite)
                << x << "," << y;
        }

    // The edge copy of a bordered frame: row 0 of a picture into row 0 of a larger one at x 1.
    TBitmap work(7, 7);
    work.Canvas().CopyRect(Rect(1, 0, 6, 1), src.Canvas(), Rect(0, 0, 5, 1));
    EXPECT_EQ(work.Canvas().GetPixel(1, 0), PatternAt(0, 0));
    EXPECT_EQ(work.Canvas().GetPixel(5, 0), PatternAt(4, 0));
    EXPECT_EQ(work.Canvas().GetPixel(6, 0), 0u);
}

// ---- Text ---------------------------------------------------------------------------------------

TEST(MyGraphicsText, TextStaysInsideItsMeasuredCell) {
    TBitmap bmp(200, 60);
    TCanvas& c = bmp.Canvas();
    c.Font.Size = 14;
    c.Font.Color = kWhite;
    c.Brush.Color = 0;
    const std::string text = "Mj^g Wq";
    const int w = c.TextWidth(text), h = c.TextHeight(text);
    ASSERT_GT(w, 0);
    ASSERT_GT(h, 0);
    c.TextOut(10, 20, text);
    int ink = 0;
    const TRect box = InkBox(bmp, 0, &ink);
    EXPECT_GT(ink, 20);
    EXPECT_GE(box.Left, 10);
    EXPECT_GE(box.Top, 20);
    EXPECT_LE(box.Right, 10 + w);
    EXPECT_LE(box.Bottom, 20 + h);
    EXPECT_EQ(c.PenPos, Point(10 + w, 20));

    // Glyphs are drawn in the font colour only, without smoothing.
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x) {
            const uint32_t p = c.GetPixel(x, y);
            ASSERT_TRUE(p == 0 || p == kWhite) << x << "," << y;
        }
}

TEST(MyGraphicsText, BackgroundIsTheBrushUnlessClear) {
    TBitmap bmp(120, 40);
    TCanvas& c = bmp.Canvas();
    c.Font.Color = kWhite;
    c.Brush.Color = kRed;
    c.TextOut(-3, 5, "Hello");
    const int w = c.TextWidth("Hello"), h = c.TextHeight("Hello");
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x) {
            const bool inCell = x < -3 + w && y >= 5 && y < 5 + h;
            const uint32_t p = c.GetPixel(x, y);
            if (inCell) {
                ASSERT_TRUE(p == kRed || p == kWhite) << x << "," << y;
            } else {
                ASSERT_EQ(p, 0u) << x << "," << y;
            }
        }

    TBitmap clear = Filled(120, 40, kBlue);
    clear.Canvas().Font.Color = kWhite;
    clear.Canvas().Brush.Style = bsClear;
    clear.Canvas().TextOut(2, 2, "Hello");
    int ink = 0;
    InkBox(clear, kBlue, &ink);
    EXPECT_GT(ink, 0);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x) {
            const uint32_t p = clear.Canvas().GetPixel(x, y);
            ASSERT_TRUE(p == kBlue || p == kWhite);
        }
}

TEST(MyGraphicsText, FontSizeStyleAndFace) {
    TBitmap bmp(1, 1);
    TCanvas& c = bmp.Canvas();
    EXPECT_EQ(c.Font.Name, "Arial");
    c.Font.Size = 8;
    const int h8 = c.TextHeight("M"), w8 = c.TextWidth("MMMM");
    c.Font.Size = 16;
    EXPECT_GT(c.TextHeight("M"), h8 * 3 / 2);
    EXPECT_GT(c.TextWidth("MMMM"), w8 * 3 / 2);
    EXPECT_EQ(c.TextWidth(""), 0);

    // "Arial" is served by its metric twin.
    c.Font.Name = "Liberation Sans";
    const int twin = c.TextWidth("The quick brown fox");
    c.Font.Name = "Arial";
    EXPECT_EQ(c.TextWidth("The quick brown fox"), twin);

    c.Font.Style = TFont::fsBold;
    const int bold = c.TextWidth("The quick brown fox");
    EXPECT_GT(bold, twin);

    // UTF-8 text is measured and drawn as characters.
    c.Font.Style = 0;
    // (e and e-acute share their advance; read as two Latin-1 characters it would be wider)
    EXPECT_EQ(c.TextWidth("\xC3\xA9"), c.TextWidth("e"));
    TBitmap text(40, 30);
    text.Canvas().Font.Color = kWhite;
    text.Canvas().Brush.Color = 0;
    text.Canvas().TextOut(0, 0, "\xC3\xA9");
    int ink = 0;
    InkBox(text, 0, &ink);
    EXPECT_GT(ink, 0);
}

TEST(MyGraphicsText, StyleBitsMatchTheStoredOnes) {
    static_assert(TFont::fsBold == fsBold && TFont::fsItalic == fsItalic &&
                  TFont::fsUnderline == fsUnderline && TFont::fsStrikeOut == fsStrikeOut);
    TBitmap plain(120, 40), underlined(120, 40);
    for (TBitmap* b : {&plain, &underlined}) {
        b->Canvas().Font.Color = kWhite;
        b->Canvas().Brush.Color = 0;
    }
    underlined.Canvas().Font.Style = TFont::fsUnderline;
    plain.Canvas().TextOut(0, 0, "ace");
    underlined.Canvas().TextOut(0, 0, "ace");
    int plainInk = 0, underInk = 0;
    InkBox(plain, 0, &plainInk);
    InkBox(underlined, 0, &underInk);
    EXPECT_GT(underInk, plainInk);
}

TEST(MyGraphicsText, TextPartlyOrFarOutside) {
    TBitmap bmp(30, 20);
    TCanvas& c = bmp.Canvas();
    c.Font.Color = kWhite;
    c.Brush.Style = bsClear;
    c.TextOut(INT32_MAX - 3, 0, "W");
    c.TextOut(0, INT32_MIN, "W");
    c.TextOut(INT32_MIN, INT32_MAX, "W");
    EXPECT_EQ(InkBox(bmp, 0).Right, INT32_MIN);
    EXPECT_EQ(c.PenPos.X, INT32_MIN + c.TextWidth("W"));

    // Only the right part of a glyph cut by the left edge remains; then the bottom edge.
    c.Font.Size = 12;
    c.TextOut(-c.TextWidth("W") / 2, 0, "W");
    int ink = 0;
    EXPECT_EQ(InkBox(bmp, 0, &ink).Left, 0);
    EXPECT_GT(ink, 0);
    TBitmap low(30, 20);
    low.Canvas().Font.Color = kWhite;
    low.Canvas().Font.Size = 12;
    low.Canvas().Brush.Style = bsClear;
    low.Canvas().TextOut(5, 20 - low.Canvas().TextHeight("W") / 2, "W");
    EXPECT_EQ(InkBox(low, 0, &ink).Bottom, 20);
}
