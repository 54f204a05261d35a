#include "MyGraphics.h"

#include <array>
#include <functional>
#include <utility>

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QtGlobal>
#include <gtest/gtest.h>

#include "MyCommonParams.h"
#include "MyExceptions.h"
#include "MyYuvPicture.h"

namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

// A bitmap whose every pixel differs: (x, y) holds B = x, G = y, R = 0x80.
uint32_t PatternAt(int x, int y) {
    return 0x80 | y << 8 | x << 16;
}

TBitmap Pattern(int w, int h) {
    TBitmap bmp(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            bmp.Canvas().SetPixel(x, y, PatternAt(x, y));
    return bmp;
}

// A bitmap of one colour, with the pen and font set to white for drawing on it.
TBitmap Filled(int w, int h, uint32_t color = 0) {
    TBitmap bmp(w, h);
    bmp.Canvas().Brush.Color = color;
    bmp.Canvas().FillRect(Rect(0, 0, w, h));
    bmp.Canvas().Pen.Color = bmp.Canvas().Font.Color = kWhite;
    return bmp;
}

// Pixels of bmp that are not `background`, as a bounding box (Right/Bottom exclusive); the box's
// Right is INT32_MIN when there are none.
TRect InkBox(const TBitmap& bmp, uint32_t background, int* count = nullptr) {
    TRect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    int n = 0;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (bmp.Canvas().GetPixel(x, y) != background) {
                ++n;
                box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1),
                       std::max(box.Bottom, y + 1)};
            }
    if (count)
        *count = n;
    return box;
}

// Every pixel of bmp against want(x, y); stops at the first difference.
void ExpectPixels(const TBitmap& bmp, const std::function<uint32_t(int, int)>& want) {
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            ASSERT_EQ(bmp.Canvas().GetPixel(x, y), want(x, y)) << "at " << x << "," << y;
}

int Ink(const TBitmap& bmp, uint32_t background = 0) {
    int n = 0;
    InkBox(bmp, background, &n);
    return n;
}

} // namespace

// ---- Bitmap memory ------------------------------------------------------------------------------

TEST(MyGraphicsBitmap, RowsArePaddedBGRTopDown) {
    TBitmap bmp(3, 2);
    EXPECT_EQ(bmp.RowBytes(), 12); // 9 bytes of pixels + 3 of padding
    EXPECT_EQ(bmp.GetPixelFormat(), pf24bit);
    bmp.Canvas().SetPixel(1, 1, 0xAB112233); // the top byte is not a colour
    EXPECT_EQ(bmp.ScanLine(1), bmp.Bits() + 12);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(bmp.Bits()[i], i == 15 ? 0x11 : i == 16 ? 0x22 : i == 17 ? 0x33 : 0) << i;
    for (auto [w, rowBytes] : {std::pair{321, 964}, {320, 960}, {1, 4}}) {
        bmp.SetSize(w, 2);
        EXPECT_EQ(bmp.RowBytes(), rowBytes);
    }
}

TEST(MyGraphicsBitmap, SetSizeKeepsSharedAreaAndBlackensTheRest) {
    TBitmap bmp = Filled(4, 3, kWhite);
    bmp.SetSize(6, 2);
    EXPECT_EQ(InkBox(bmp, 0), Rect(0, 0, 4, 2));
    bmp.SetSize(6, 4);
    EXPECT_EQ(InkBox(bmp, 0), Rect(0, 0, 4, 2));
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
    EXPECT_THROW(bmp.SetSize(-1, 4), EInvalidGraphic);
    EXPECT_THROW(bmp.SetSize(200000000, 1), EIntOverflow);
    // Drawing on an empty bitmap does nothing, does not fault and does not make Qt complain.
    static int complaints = 0;
    const QtMessageHandler old = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString&) { ++complaints; });
    TCanvas& c = bmp.Canvas();
    c.FillRect(Rect(0, 0, 10, 10));
    c.Rectangle(0, 0, 10, 10);
    c.Ellipse(0, 0, 10, 10);
    c.LineTo(10, 10);
    c.TextOut(0, 0, "x");
    c.Draw(0, 0, Pattern(2, 2));
    qInstallMessageHandler(old);
    EXPECT_EQ(complaints, 0);
    EXPECT_EQ(c.GetPixel(0, 0), clInvalidPixel);
}

TEST(MyGraphicsBitmap, AccessOutsideIsCheckedOrIgnored) {
    TBitmap bmp(2, 3);
    EXPECT_NO_THROW(bmp.ScanLine(2));
    try {
        bmp.ScanLine(3);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Index, 3);
        EXPECT_EQ(e.Count, 3);
    }
    EXPECT_THROW(bmp.ScanLine(-1), EListError);
    EXPECT_THROW(static_cast<const TBitmap&>(bmp).ScanLine(3), EListError);
    EXPECT_THROW(TBitmap().ScanLine(0), EListError);
    for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, 3}, {0, -1}}) {
        bmp.Canvas().SetPixel(x, y, kWhite);
        EXPECT_EQ(bmp.Canvas().GetPixel(x, y), clInvalidPixel);
    }
    EXPECT_EQ(Ink(bmp), 0);
}

TEST(MyGraphicsBitmap, AssignAndMove) {
    TBitmap src = Pattern(5, 4);
    TBitmap dst(2, 2);
    dst.Canvas().Brush.Color = kRed;
    dst.Assign(src);
    EXPECT_EQ(dst.Width(), 5);
    EXPECT_EQ(dst.Canvas().GetPixel(4, 3), PatternAt(4, 3));
    EXPECT_EQ(dst.Canvas().Brush.Color, kRed); // canvas state is not part of the picture

    // A moved bitmap's canvas draws on the new bitmap and keeps its state.
    src.Canvas().Pen.Color = kGreen;
    TBitmap moved(std::move(src));
    EXPECT_TRUE(src.Empty());
    EXPECT_EQ(&moved.Canvas().Bitmap(), &moved);
    dst = std::move(moved);
    EXPECT_EQ(&dst.Canvas().Bitmap(), &dst);
    EXPECT_EQ(dst.Canvas().Pen.Color, kGreen);
    dst.Canvas().SetPixel(0, 0, kBlue);
    EXPECT_EQ(dst.Canvas().GetPixel(0, 0), kBlue);
}

TEST(MyGraphicsBitmap, FramesChangeHandsWithoutCopies) {
    // Taken pixels are the very buffer; the giver keeps the taker's former one.
    TBitmap a = Pattern(5, 4), b = Filled(5, 4, kRed);
    const uint8_t* bufferOfA = a.Bits();
    EXPECT_TRUE(b.TakePixelsOf(a));
    EXPECT_EQ(b.Bits(), bufferOfA);
    EXPECT_EQ(b.Canvas().GetPixel(4, 3), PatternAt(4, 3));
    EXPECT_EQ(a.Canvas().GetPixel(4, 3), kRed);
    TBitmap other = Filled(4, 4);
    EXPECT_FALSE(b.TakePixelsOf(other));
    EXPECT_FALSE(b.OweCopyOf(other));
    EXPECT_EQ(b.Canvas().GetPixel(4, 3), PatternAt(4, 3));

    // An owed copy reads as its source through every way in: rows, bits, copies, a resize, a move.
    const std::function<void(TBitmap&)> reads[] = {
        [](TBitmap& x) { EXPECT_EQ(x.Canvas().GetPixel(4, 3), PatternAt(4, 3)); },
        [](TBitmap& x) { EXPECT_EQ(x.Bits()[2], 0x80); }, // R of (0, 0)
        [](TBitmap& x) {
            TBitmap y(1, 1);
            y.Assign(x);
            EXPECT_EQ(y.Canvas().GetPixel(2, 1), PatternAt(2, 1));
        },
        [](TBitmap& x) {
            x.SetSize(6, 4);
            EXPECT_EQ(x.Canvas().GetPixel(4, 3), PatternAt(4, 3));
        },
        [](TBitmap& x) {
            TBitmap y(std::move(x));
            EXPECT_EQ(y.Canvas().GetPixel(1, 2), PatternAt(1, 2));
        },
    };
    for (const auto& read : reads) {
        TBitmap source = Pattern(5, 4), owing = Filled(5, 4, kGreen);
        EXPECT_TRUE(owing.OweCopyOf(source));
        read(owing);
    }
    // Drawing into an owed copy draws over the source's picture, and leaves the source alone.
    TBitmap source = Pattern(5, 4), owing = Filled(5, 4, kGreen);
    owing.OweCopyOf(source);
    owing.Canvas().SetPixel(0, 0, kBlue);
    EXPECT_EQ(owing.Canvas().GetPixel(0, 0), kBlue);
    EXPECT_EQ(owing.Canvas().GetPixel(1, 0), PatternAt(1, 0));
    EXPECT_EQ(source.Canvas().GetPixel(0, 0), PatternAt(0, 0));

    // Pixels replaced whole need no copy: the debt is dropped, so the source may change after.
    TBitmap picture = Pattern(5, 4), next = Filled(5, 4, kWhite);
    owing.OweCopyOf(source);
    EXPECT_TRUE(owing.TakePixelsOf(picture));
    source.Canvas().SetPixel(3, 3, kRed);
    EXPECT_EQ(owing.Canvas().GetPixel(3, 3), PatternAt(3, 3));
    // Handing on a bitmap that owes a copy hands on the copy.
    next.OweCopyOf(source);
    EXPECT_TRUE(picture.TakePixelsOf(next));
    EXPECT_EQ(picture.Canvas().GetPixel(3, 3), kRed);
    EXPECT_EQ(picture.Canvas().GetPixel(0, 1), PatternAt(0, 1));
}
// Planes of a w x h picture whose samples all differ.
TYuvPicture SomePlanes(int w, int h) {
    TYuvPicture p;
    p.SetSize(w, h);
    for (int i = 0; i < 3; ++i) {
        const int pw = i ? (w + 1) / 2 : w, ph = i ? (h + 1) / 2 : h;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x)
                p.Planes()[i][y * p.Strides()[i] + x] = uint8_t(40 + 60 * i + 9 * x + 13 * y);
    }
    return p;
}

TEST(MyGraphicsBitmap, PlanesStayThePixelsUntilTheyAreWritten) {
    TYuvPicture none;
    EXPECT_FALSE(none.SetSize(0, 5));
    EXPECT_FALSE(none.SetSize(4, -1));
    uint8_t row[16] = {};
    EXPECT_FALSE(none.ToRows(row, 16));
    const TYuvPicture planes = SomePlanes(6, 5);
    TBitmap expected(6, 5);
    ASSERT_TRUE(planes.ToRows(expected.Bits(), expected.RowBytes()));
    const auto hold = [&](TBitmap& b) {
        b.PlanesToFill().Assign(planes);
        b.HoldPlanes();
    };
    // Every pixel (read through a const bitmap) is the planes' and nothing else.
    const auto same = [&](const TBitmap& b, int skipX = -1, int skipY = -1) {
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x)
                if (x != skipX || y != skipY) {
                    EXPECT_EQ(b.Canvas().GetPixel(x, y), expected.Canvas().GetPixel(x, y))
                        << x << "," << y;
                }
    };

    // Reads keep them; a write drops them and keeps every other pixel, whether or not the rows
    // were read before.
    for (bool readFirst : {true, false}) {
        TBitmap a = Filled(6, 5, kGreen);
        hold(a);
        ASSERT_NE(a.HeldPlanes(), nullptr);
        if (readFirst) {
            same(a);
            EXPECT_NE(std::as_const(a).Bits(), nullptr);
            EXPECT_NE(a.HeldPlanes(), nullptr);
        }
        a.Canvas().SetPixel(5, 4, kBlue);
        EXPECT_EQ(a.HeldPlanes(), nullptr);
        EXPECT_EQ(a.Canvas().GetPixel(5, 4), kBlue);
        same(a, 5, 4);
    }
    TBitmap b(6, 5);
    hold(b);
    b.Bits();
    EXPECT_EQ(b.HeldPlanes(), nullptr);

    // They move with the pixels.
    TBitmap c(6, 5), d(6, 5);
    hold(c);
    ASSERT_TRUE(d.TakePixelsOf(c));
    EXPECT_EQ(c.HeldPlanes(), nullptr);
    TBitmap e(std::move(d));
    ASSERT_NE(e.HeldPlanes(), nullptr);
    same(e);

    // A copy owed of them reads them where they are, then holds planes of its own; the source
    // is never changed. Handed on, it hands the planes on; written, it drops only its own.
    TBitmap f = Filled(6, 5, kRed);
    ASSERT_TRUE(f.OweCopyOf(e));
    EXPECT_EQ(f.HeldPlanes(), e.HeldPlanes());
    same(f);
    ASSERT_NE(f.HeldPlanes(), nullptr);
    EXPECT_NE(f.HeldPlanes(), e.HeldPlanes());
    f.Canvas().SetPixel(0, 0, kBlue);
    EXPECT_EQ(f.HeldPlanes(), nullptr);
    EXPECT_NE(e.HeldPlanes(), nullptr);
    same(e);
    TBitmap g(6, 5), h(6, 5);
    g.OweCopyOf(e);
    ASSERT_TRUE(h.TakePixelsOf(g));
    ASSERT_NE(h.HeldPlanes(), nullptr);
    EXPECT_NE(h.HeldPlanes(), e.HeldPlanes());
    same(h);

    // A copy made on purpose is rows; a new size keeps the shared area as rows.
    TBitmap k(1, 1);
    k.Assign(e);
    EXPECT_EQ(k.HeldPlanes(), nullptr);
    same(k);
    e.SetSize(7, 5);
    EXPECT_EQ(e.HeldPlanes(), nullptr);
    EXPECT_EQ(e.Canvas().GetPixel(5, 4), expected.Canvas().GetPixel(5, 4));
    EXPECT_EQ(e.Canvas().GetPixel(6, 4), 0u);

    // Holding planes drops a copy that was owed; planes filled and not held (a decode that
    // failed) leave it owed.
    TBitmap m(6, 5), n(6, 5), source = Filled(6, 5, kWhite);
    m.OweCopyOf(source);
    n.OweCopyOf(source);
    hold(m);
    n.PlanesToFill().Assign(planes);
    source.Canvas().SetPixel(0, 0, kBlue);
    same(m);
    EXPECT_EQ(n.HeldPlanes(), nullptr);
    EXPECT_EQ(n.Canvas().GetPixel(0, 0), kBlue);
    EXPECT_EQ(n.Canvas().GetPixel(5, 4), kWhite);
}

// ---- Fills and outlines -------------------------------------------------------------------------

TEST(MyGraphicsCanvas, FillRectExcludesRightAndBottomAndClips) {
    // Inside, then past each edge in turn.
    for (TRect r : {Rect(1, 1, 3, 4), Rect(-3, -2, 2, 1), Rect(4, 3, 100, 100), Rect(-5, 2, 1, 3),
                    Rect(5, -9, 9, 1)}) {
        TBitmap b = Filled(6, 5);
        b.Canvas().Brush.Color = kGreen;
        b.Canvas().FillRect(r);
        const TRect expect{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, 6),
                           std::min(r.Bottom, 5)};
        int n = 0;
        EXPECT_EQ(InkBox(b, 0, &n), expect);
        EXPECT_EQ(n, expect.Width() * expect.Height());
    }
    TBitmap none = Filled(6, 5);
    none.Canvas().Brush.Color = kWhite;
    for (TRect r : {Rect(-10, -10, -1, 3), Rect(6, 0, 9, 5), Rect(3, 3, 1, 5),
                    Rect(INT32_MIN, INT32_MIN, INT32_MIN + 1, INT32_MAX)})
        none.Canvas().FillRect(r); // outside, inverted or far away
    none.Canvas().Brush.Style = bsClear;
    none.Canvas().FillRect(Rect(0, 0, 6, 5));
    EXPECT_EQ(Ink(none), 0);
    none.Canvas().Brush.Style = bsSolid;
    none.Canvas().FillRect(Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX));
    EXPECT_EQ(Ink(none), 30);
}

TEST(MyGraphicsCanvas, RectangleAndFrameRect) {
    TBitmap bmp = Filled(8, 7);
    TCanvas& c = bmp.Canvas();
    c.Pen.Color = kRed;
    c.Brush.Color = kGreen;
    c.Rectangle(1, 1, 6, 5);
    ExpectPixels(bmp, [](int x, int y) {
        if (x < 1 || x > 5 || y < 1 || y > 4)
            return 0u;
        return x == 1 || x == 5 || y == 1 || y == 4 ? kRed : kGreen;
    });

    // Swapped corners draw the same outline; a clear brush leaves the inside alone.
    TBitmap other = Filled(8, 7, kBlue);
    other.Canvas().Brush.Style = bsClear;
    other.Canvas().Rectangle(6, 5, 1, 1);
    EXPECT_EQ(InkBox(other, kBlue), Rect(1, 1, 6, 5));
    EXPECT_EQ(other.Canvas().GetPixel(3, 2), kBlue);

    // Clipped at every edge: only the fill shows.
    TBitmap clip = Filled(4, 4);
    clip.Canvas().Brush.Color = kGreen;
    clip.Canvas().Rectangle(-2, -2, 6, 6);
    EXPECT_EQ(Ink(clip, kGreen), 0);

    // FrameRect outlines in the brush colour.
    TBitmap frame = Filled(5, 5);
    frame.Canvas().Brush.Color = kBlue;
    frame.Canvas().FrameRect(Rect(0, 0, 4, 3));
    int n = 0;
    EXPECT_EQ(InkBox(frame, 0, &n), Rect(0, 0, 4, 3));
    EXPECT_EQ(n, 10);
}

TEST(MyGraphicsCanvas, LineToDrawsTheStartAndLeavesOutTheEnd) {
    for (auto [x0, y0, x1, y1] : {std::array{1, 2, 6, 2},
                                  {6, 2, 1, 2},
                                  {4, 8, 4, 1},
                                  {1, 1, 7, 7},
                                  {8, 8, 2, 5},
                                  {0, 9, 9, 0}}) {
        TBitmap b = Filled(10, 10);
        b.Canvas().MoveTo(x0, y0);
        b.Canvas().LineTo(x1, y1);
        EXPECT_EQ(b.Canvas().PenPos, Point(x1, y1));
        EXPECT_EQ(b.Canvas().GetPixel(x0, y0), kWhite) << x0 << "," << y0;
        EXPECT_EQ(b.Canvas().GetPixel(x1, y1), 0u) << x1 << "," << y1;
        EXPECT_EQ(Ink(b), std::max(std::abs(x1 - x0), std::abs(y1 - y0)));
        if (y0 == y1) {
            EXPECT_EQ(InkBox(b, 0), Rect(std::min(x0, x1 + 1), 2, std::max(x0 + 1, x1), 3));
        }
    }
    // A line to its own start draws nothing.
    TBitmap dot = Filled(3, 3);
    dot.Canvas().MoveTo(1, 1);
    dot.Canvas().LineTo(1, 1);
    EXPECT_EQ(Ink(dot), 0);

    // Lines leaving the bitmap are clipped; the polyline joins.
    TBitmap clip = Filled(5, 5);
    clip.Canvas().MoveTo(-3, 2);
    clip.Canvas().LineTo(8, 2);
    clip.Canvas().LineTo(8, -4);
    EXPECT_EQ(InkBox(clip, 0), Rect(0, 2, 5, 3));
    // An end right of the bitmap is no pixel of the next row: every inked pixel is whole.
    TBitmap right = Filled(5, 5);
    right.Canvas().MoveTo(0, 4);
    right.Canvas().LineTo(9, 2);
    int whole = 0;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            whole += right.Canvas().GetPixel(x, y) == kWhite;
    EXPECT_EQ(whole, Ink(right));
}

TEST(MyGraphicsCanvas, EllipseStaysInsideItsRectangle) {
    TBitmap bmp = Filled(20, 16);
    TCanvas& c = bmp.Canvas();
    c.Pen.Color = kRed;
    c.Brush.Color = kGreen;
    c.Ellipse(2, 3, 15, 12);
    EXPECT_EQ(InkBox(bmp, 0), Rect(2, 3, 15, 12));
    EXPECT_EQ(c.GetPixel(8, 7), kGreen);
    EXPECT_EQ(c.GetPixel(8, 3), kRed);
    EXPECT_EQ(c.GetPixel(2, 3), 0u);

    TBitmap hollow = Filled(20, 16, kBlue);
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
            SCOPED_TRACE(testing::Message() << "drawn at " << dx << "," << dy);
            TBitmap dst = Filled(6, 5, kWhite);
            dst.Canvas().Draw(dx, dy, src);
            ExpectPixels(dst, [&](int x, int y) {
                const int sx = x - dx, sy = y - dy;
                return sx >= 0 && sx < 4 && sy >= 0 && sy < 3 ? PatternAt(sx, sy) : kWhite;
            });
        }
    TBitmap dst = Filled(6, 5, kWhite);
    dst.Canvas().Draw(INT32_MAX - 1, INT32_MIN, src);
    dst.Canvas().Draw(INT32_MIN, 0, src);
    EXPECT_EQ(Ink(dst, kWhite), 0);

    // Onto itself: the source is read before it is overwritten.
    TBitmap self = Pattern(6, 6);
    self.Canvas().Draw(1, 2, self);
    ExpectPixels(self, [](int x, int y) {
        return x >= 1 && y >= 2 ? PatternAt(x - 1, y - 2) : PatternAt(x, y);
    });
}

TEST(MyGraphicsCopy, StretchIsNearestNeighbour) {
    // Growing repeats pixels; shrinking takes the source pixel under each target pixel's centre;
    // the same size copies.
    struct TCase {
        int SrcW, SrcH, W, H;
    };
    for (TCase t : {TCase{3, 2, 6, 4}, {9, 6, 3, 2}, {9, 6, 9, 6}}) {
        TBitmap dst = Filled(t.W, t.H, kWhite);
        dst.Canvas().StretchDraw(Rect(0, 0, t.W, t.H), Pattern(t.SrcW, t.SrcH));
        ExpectPixels(dst, [&](int x, int y) {
            return PatternAt((2 * x + 1) * t.SrcW / (2 * t.W), (2 * y + 1) * t.SrcH / (2 * t.H));
        });
    }
    // Empty or inverted targets and empty sources draw nothing.
    TBitmap none = Filled(4, 4);
    none.Canvas().StretchDraw(Rect(0, 0, 0, 4), Pattern(9, 6));
    none.Canvas().StretchDraw(Rect(3, 3, 1, 1), Pattern(9, 6));
    none.Canvas().StretchDraw(Rect(0, 0, 4, 4), TBitmap());
    EXPECT_EQ(Ink(none), 0);
}

TEST(MyGraphicsCopy, ClippedStretchMatchesTheUnclippedOne) {
    // Drawing into a small bitmap must give the same pixels as drawing into a large one with
    // the target moved by its margin: clipping changes which pixels are written, never which
    // source pixel lands where.
    const TBitmap src = Pattern(7, 5);
    const int m = 40;
    for (TRect d : {Rect(-9, -7, 11, 8), Rect(3, 2, 30, 25), Rect(-20, 4, 5, 6), Rect(5, -13, 8, 3),
                    Rect(-3, -3, 2, 1), Rect(9, 7, 30, 30)}) {
        TBitmap small = Filled(10, 8, kWhite);
        small.Canvas().StretchDraw(d, src);
        TBitmap large = Filled(10 + 2 * m, 8 + 2 * m, kWhite);
        large.Canvas().StretchDraw(Rect(d.Left + m, d.Top + m, d.Right + m, d.Bottom + m), src);
        SCOPED_TRACE(testing::Message()
                     << d.Left << "," << d.Top << "," << d.Right << "," << d.Bottom);
        ExpectPixels(small, [&](int x, int y) { return large.Canvas().GetPixel(x + m, y + m); });
    }
}

TEST(MyGraphicsCopy, CopyRectWithASourcePartlyOutside) {
    TBitmap src = Pattern(5, 5);
    // Source columns 3..4 exist, 5..6 do not; row -1 does not.
    TBitmap dst = Filled(4, 4, kWhite);
    dst.Canvas().CopyRect(Rect(0, 0, 4, 4), src.Canvas(), Rect(3, -1, 7, 3));
    ExpectPixels(
        dst, [](int x, int y) { return 3 + x < 5 && y >= 1 ? PatternAt(3 + x, y - 1) : kWhite; });

    // Stretching a source part that runs past the source's right and bottom edges (columns
    // 3..6, rows 3..6 of a 5 x 5 picture, doubled): only the existing pixels are copied.
    TBitmap past = Filled(10, 10, kWhite);
    past.Canvas().CopyRect(Rect(0, 0, 8, 8), src, Rect(3, 3, 7, 7));
    ExpectPixels(past, [](int x, int y) {
        return x < 4 && y < 4 ? PatternAt(3 + x / 2, 3 + y / 2) : kWhite;
    });
}

// ---- Text ---------------------------------------------------------------------------------------

TEST(MyGraphicsText, TextStaysInsideItsMeasuredCell) {
    TBitmap bmp = Filled(200, 60);
    TCanvas& c = bmp.Canvas();
    c.Font.Size = 14;
    const std::string text = "Mj^g Wq";
    const int w = c.TextWidth(text), h = c.TextHeight(text);
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
    EXPECT_EQ(Ink(bmp, 0) + Ink(bmp, kWhite), 200 * 60);
}

TEST(MyGraphicsText, BackgroundIsTheBrushUnlessClear) {
    // The cell, cut at the left edge, is all brush or font colour; nothing outside it changes.
    TBitmap bmp = Filled(120, 40);
    TCanvas& c = bmp.Canvas();
    c.Brush.Color = kRed;
    c.TextOut(-3, 5, "Hello");
    const int w = c.TextWidth("Hello"), h = c.TextHeight("Hello");
    EXPECT_EQ(InkBox(bmp, 0), Rect(0, 5, w - 3, 5 + h));
    EXPECT_EQ(2 * 120 * 40 - Ink(bmp, kRed) - Ink(bmp, kWhite), (w - 3) * h);

    TBitmap clear = Filled(120, 40, kBlue);
    clear.Canvas().Brush.Style = bsClear;
    clear.Canvas().TextOut(2, 2, "Hello");
    EXPECT_GT(Ink(clear, kBlue), 0);
    EXPECT_EQ(Ink(clear, kBlue) + Ink(clear, kWhite), 120 * 40);
}

TEST(MyGraphicsText, GlyphsAreThePixelsAPainterOnTheBitmapSets) {
    // Large text is drawn by way of a 32-bit picture; small and large alike must set exactly the
    // pixels a painter on the 24-bit bitmap itself sets, cut at every edge.
    const std::string texts[] = {"A title over the first clip", "Mj^g Wq |",
                                 "\xC3\x84\xC3\x96 "
                                 "\xC3\xA9\xC3\xB1 fi"};
    const TFontStyles styles[] = {0, TFont::fsBold | TFont::fsItalic,
                                  TFont::fsUnderline | TFont::fsStrikeOut};
    const TPoint places[] = {Point(6, 4), Point(-37, -21), Point(150, 70)};
    for (int size : {12, 36, 48, 49, 54, 80})
        for (const std::string& text : texts)
            for (TFontStyles style : styles)
                for (const TPoint& at : places) {
                    SCOPED_TRACE(std::to_string(size) + " pt, style " + std::to_string(style) +
                                 " at " + std::to_string(at.X) + "," + std::to_string(at.Y));
                    TBitmap bmp = Pattern(240, 120);
                    TCanvas& c = bmp.Canvas();
                    c.Brush.Style = bsClear;
                    c.Font.Size = size;
                    c.Font.Style = style;
                    c.Font.Color = 0x3399CC;
                    TBitmap ref(240, 120);
                    ref.Assign(bmp);
                    c.TextOut(at.X, at.Y, text);

                    QFont font(QStringLiteral("Arial"));
                    font.setPixelSize(Round(size * 96.0L / 72));
                    font.setBold(style & TFont::fsBold);
                    font.setItalic(style & TFont::fsItalic);
                    font.setUnderline(style & TFont::fsUnderline);
                    font.setStrikeOut(style & TFont::fsStrikeOut);
                    font.setStyleStrategy(QFont::NoAntialias);
                    QImage view(ref.Bits(), ref.Width(), ref.Height(), ref.RowBytes(),
                                QImage::Format_BGR888);
                    QPainter painter(&view);
                    painter.setRenderHint(QPainter::Antialiasing, false);
                    painter.setRenderHint(QPainter::TextAntialiasing, false);
                    painter.setFont(font);
                    painter.setPen(QColor(0xCC, 0x99, 0x33));
                    painter.drawText(QPoint(at.X, at.Y + QFontMetrics(font).ascent()),
                                     QString::fromStdString(text));
                    painter.end();
                    int differ = 0, inked = 0;
                    for (int y = 0; y < 120; ++y)
                        for (int x = 0; x < 240; ++x) {
                            differ += c.GetPixel(x, y) != ref.Canvas().GetPixel(x, y);
                            inked += c.GetPixel(x, y) == 0x3399CC;
                        }
                    EXPECT_EQ(differ, 0);
                    if (at.X > 0) {
                        EXPECT_GT(inked, 20);
                    }
                }
}

TEST(MyGraphicsText, FontSizeStyleAndFace) {
    static_assert(TFont::fsBold == fsBold && TFont::fsItalic == fsItalic &&
                  TFont::fsUnderline == fsUnderline && TFont::fsStrikeOut == fsStrikeOut);
    TBitmap bmp = Filled(200, 40);
    TCanvas& c = bmp.Canvas();
    EXPECT_EQ(c.Font.Name, "Arial");
    c.Font.Size = 8;
    const int h8 = c.TextHeight("M"), w8 = c.TextWidth("MMMM");
    c.Font.Size = 16;
    EXPECT_GT(c.TextHeight("M"), h8 * 3 / 2);
    EXPECT_GT(c.TextWidth("MMMM"), w8 * 3 / 2);
    EXPECT_EQ(c.TextWidth(""), 0);
    // UTF-8 text is measured as characters (e and e-acute share their advance; read as two
    // Latin-1 characters it would be wider).
    EXPECT_EQ(c.TextWidth("\xC3\xA9"), c.TextWidth("e"));

    // "Arial" is served by its metric twin; bold is wider; underlining adds ink.
    const int arial = c.TextWidth("The quick brown fox");
    c.Font.Name = "Liberation Sans";
    EXPECT_EQ(c.TextWidth("The quick brown fox"), arial);
    c.Font.Style = TFont::fsBold;
    EXPECT_GT(c.TextWidth("The quick brown fox"), arial);
    c.Font.Style = 0;
    c.TextOut(0, 0, "ace");
    const int plain = Ink(bmp);
    c.Font.Style = TFont::fsUnderline;
    c.TextOut(0, 0, "ace");
    EXPECT_GT(Ink(bmp), plain);
}

TEST(MyGraphicsText, TextPartlyOrFarOutside) {
    TBitmap bmp = Filled(30, 20);
    TCanvas& c = bmp.Canvas();
    c.Brush.Style = bsClear;
    c.TextOut(INT32_MAX - 3, 0, "W");
    c.TextOut(0, INT32_MIN, "W");
    c.TextOut(INT32_MIN, INT32_MAX, "W");
    EXPECT_EQ(Ink(bmp), 0);
    EXPECT_EQ(c.PenPos.X, INT32_MIN + c.TextWidth("W"));

    // A glyph cut by the left edge keeps its right part; one cut by the bottom edge its top.
    c.Font.Size = 12;
    c.TextOut(-c.TextWidth("W") / 2, 0, "W");
    EXPECT_EQ(InkBox(bmp, 0).Left, 0);
    TBitmap low = Filled(30, 20);
    low.Canvas().Font.Size = 12;
    low.Canvas().Brush.Style = bsClear;
    low.Canvas().TextOut(5, 20 - low.Canvas().TextHeight("W") / 2, "W");
    EXPECT_EQ(InkBox(low, 0).Bottom, 20);
}
