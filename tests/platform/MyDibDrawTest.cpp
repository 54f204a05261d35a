// DIB draw: exact pixels of every bit depth and row order, stretches that copy pixels without
// blending, refused layouts, and decoded pictures in YUV and palette formats.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "MyDibDraw.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

using Bytes = std::vector<uint8_t>;
using TRow = std::vector<uint32_t>;
using TPicture = std::vector<TRow>; // colours as GetPixel gives them (0x00BBGGRR)

TPicture Read(const TBitmap& b) {
    TPicture p(size_t(b.Height()), TRow(size_t(b.Width())));
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            p[size_t(y)][size_t(x)] = b.Canvas().GetPixel(x, y);
    return p;
}

TDibFormat Format(int32_t w, int32_t h, uint16_t bits, uint32_t compression = BI_RGB,
                  uint32_t clrUsed = 0) {
    TDibFormat f;
    f.Width = w;
    f.Height = h;
    f.BitCount = bits;
    f.Compression = compression;
    f.ClrUsed = clrUsed;
    return f;
}

bool Draw(TDibDraw& d, const TDibFormat& f, const Bytes& colors, const Bytes& bits, TBitmap& b) {
    return d.Draw(f, colors.data(), colors.size(), bits.data(), bits.size(), b);
}

Bytes Le32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values)
        out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    return out;
}

} // namespace

TEST(DibDraw, RowAndImageSizes) {
    EXPECT_EQ(DibRowBytes(Format(3, 2, 24)), 12);
    EXPECT_EQ(DibRowBytes(Format(5, 2, 1)), 4);
    EXPECT_EQ(DibRowBytes(Format(9, 2, 4)), 8);
    EXPECT_EQ(DibImageBytes(Format(3, -2, 16)), 16);
    for (TDibFormat bad : {Format(3, 2, 15), Format(0, 2, 24), Format(3, 0, 24)})
        EXPECT_EQ(DibRowBytes(bad), -1);
    EXPECT_EQ(DibImageBytes(Format(0x7FFFFFFF, 0x7FFFFFFF, 32)), -1);
    EXPECT_EQ(DibImageBytes(Format(0x7FFFFFFF, 1, 32)), -1);
}

TEST(DibDraw, ColourTablesOfOneFourAndEightBits) {
    // Five pixels a row (so 1- and 4-bit rows end inside a byte), two rows, bottom row first.
    const uint32_t colours[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0x808080};
    Bytes table(256 * 4);
    for (size_t i = 0; i < 4; ++i)
        for (size_t k = 0; k < 3; ++k)
            table[i * 4 + k] = uint8_t(colours[i] >> (16 - 8 * k)); // blue, green, red, 0
    const int top[5] = {1, 0, 1, 1, 0}, bottom[5] = {0, 0, 0, 1, 1};
    // 1 bit: row bytes 10110000, 00011000, each padded to 4 bytes; 4 bits: high nibble first.
    for (auto [depth, bits] : {std::pair{1, Bytes{0x18, 0, 0, 0, 0xB0, 0, 0, 0}},
                               {4, Bytes{0x00, 0x01, 0x10, 0, 0x10, 0x11, 0x00, 0}},
                               {8, Bytes{0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0}}}) {
        TDibDraw draw;
        TBitmap b(5, 2);
        ASSERT_TRUE(Draw(draw, Format(5, 2, uint16_t(depth)), table, bits, b)) << depth;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(b.Canvas().GetPixel(x, 0), colours[top[x]]) << depth << " top " << x;
            EXPECT_EQ(b.Canvas().GetPixel(x, 1), colours[bottom[x]]) << depth << " bottom " << x;
        }
    }

    // Indices past the entries the table holds show black: ClrUsed says two, and a table of
    // three entries given for eight bits says three.
    TDibDraw draw;
    TBitmap b(4, 1);
    const Bytes idx = {0, 1, 2, 3};
    ASSERT_TRUE(Draw(draw, Format(4, 1, 8, BI_RGB, 2), table, idx, b));
    EXPECT_EQ(Read(b)[0], (TRow{colours[0], colours[1], 0, 0}));
    ASSERT_TRUE(Draw(draw, Format(4, 1, 8), Bytes(table.begin(), table.begin() + 12), idx, b));
    EXPECT_EQ(Read(b)[0], (TRow{colours[0], colours[1], colours[2], 0}));
}

TEST(DibDraw, SixteenBitsWidenToFullScale) {
    TDibDraw draw;
    TBitmap b(3, 1);
    // 5-5-5: red full, green 16 (-> 132), blue 1 (-> 8); the same again with its masks given.
    const Bytes px555 = {0x01, 0x7E, 0xFF, 0x7F, 0x00, 0x00, 0, 0};
    ASSERT_TRUE(Draw(draw, Format(3, 1, 16), {}, px555, b));
    EXPECT_EQ(Read(b)[0], (TRow{0x0884FF, 0xFFFFFF, 0}));
    const Bytes masks555 = Le32s({0x7C00, 0x03E0, 0x001F});
    ASSERT_TRUE(Draw(draw, Format(3, 1, 16, BI_BITFIELDS), masks555, px555, b));
    EXPECT_EQ(b.Canvas().GetPixel(0, 0), 0x0884FFu);

    // 5-6-5: green 63 -> 255, 32 -> 130.
    const Bytes masks565 = Le32s({0xF800, 0x07E0, 0x001F});
    const Bytes px565 = {0xE0, 0x07, 0x00, 0x04, 0x1F, 0xF8, 0, 0};
    ASSERT_TRUE(Draw(draw, Format(3, 1, 16, BI_BITFIELDS), masks565, px565, b));
    EXPECT_EQ(Read(b)[0], (TRow{0x00FF00, 0x008200, 0xFF00FF}));

    // Masks we have no layout for, or missing, are refused.
    EXPECT_FALSE(
        Draw(draw, Format(3, 1, 16, BI_BITFIELDS), Le32s({0x001F, 0x07E0, 0xF800}), px565, b));
    EXPECT_FALSE(Draw(draw, Format(3, 1, 16, BI_BITFIELDS), Le32s({0xF800, 0x07E0}), px565, b));
}

TEST(DibDraw, TrueColourRowOrderAndPadding) {
    // 24 bits, 3 x 2: rows of 9 bytes padded to 12.
    const Bytes topRow = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE};
    const Bytes bottomRow = {10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE};
    Bytes bottomUp = bottomRow, topDown = topRow;
    bottomUp.insert(bottomUp.end(), topRow.begin(), topRow.end());
    topDown.insert(topDown.end(), bottomRow.begin(), bottomRow.end());
    const TPicture expected = {{0x010203, 0x040506, 0x070809}, {0x0A0B0C, 0x0D0E0F, 0x101112}};
    TDibDraw draw;
    TBitmap b(3, 2);
    ASSERT_TRUE(Draw(draw, Format(3, 2, 24), {}, bottomUp, b));
    EXPECT_EQ(Read(b), expected);
    ASSERT_TRUE(Draw(draw, Format(3, -2, 24), {}, topDown, b));
    EXPECT_EQ(Read(b), expected);

    // 32 bits: blue, green, red and a byte that is not drawn; bit fields in that order too.
    const Bytes px32 = {1, 2, 3, 0xFF, 4, 5, 6, 0x00};
    TBitmap c(2, 1);
    ASSERT_TRUE(Draw(draw, Format(2, 1, 32), {}, px32, c));
    EXPECT_EQ(Read(c)[0], (TRow{0x010203, 0x040506}));
    ASSERT_TRUE(
        Draw(draw, Format(2, 1, 32, BI_BITFIELDS), Le32s({0xFF0000, 0xFF00, 0xFF}), px32, c));
    EXPECT_EQ(Read(c)[0], (TRow{0x010203, 0x040506}));
    EXPECT_FALSE(
        Draw(draw, Format(2, 1, 32, BI_BITFIELDS), Le32s({0xFF, 0xFF00, 0xFF0000}), px32, c));
}

TEST(DibDraw, StretchesCopyPixelsWithoutBlending) {
    // 4 x 4 of distinct colours, top-down.
    Bytes bits;
    std::set<uint32_t> source;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t v = uint8_t(16 * (y * 4 + x) + 7);
            bits.insert(bits.end(), {v, uint8_t(255 - v), uint8_t(x * 60)});
            source.insert(uint32_t(v) << 16 | uint32_t(255 - v) << 8 | uint32_t(x * 60));
        }
    TDibDraw draw;
    TBitmap small(4, 4);
    ASSERT_TRUE(Draw(draw, Format(4, -4, 24), {}, bits, small));
    // Every pixel is one of the source's, picked as the canvas's own stretch picks it (doubling
    // and odd sizes both ways).
    for (auto [w, h] : {std::pair{8, 8}, {7, 3}, {2, 9}, {1, 1}}) {
        TBitmap odd(w, h), canvas(w, h);
        ASSERT_TRUE(Draw(draw, Format(4, -4, 24), {}, bits, odd));
        for (const auto& row : Read(odd))
            for (uint32_t c : row)
                ASSERT_TRUE(source.count(c)) << w << "x" << h << " blended " << std::hex << c;
        canvas.Canvas().StretchDraw(Rect(0, 0, w, h), small);
        EXPECT_EQ(Read(odd), Read(canvas)) << w << "x" << h;
    }
}

TEST(DibDraw, RefusedLayoutsLeaveTheTargetAlone) {
    TDibDraw draw;
    TBitmap b(2, 2);
    b.Canvas().Brush.Color = 0x445566;
    b.Canvas().FillRect(Rect(0, 0, 2, 2));
    const Bytes bits(64, 0x11);
    EXPECT_FALSE(Draw(draw, Format(2, 2, 24), {}, Bytes(15, 0x11), b)) << "one byte short";
    EXPECT_FALSE(Draw(draw, Format(2, 2, 8, 1), {}, bits, b)) << "run-length coded";
    EXPECT_FALSE(Draw(draw, Format(2, 2, 2), {}, bits, b));
    EXPECT_FALSE(Draw(draw, Format(2, 2, 24, BI_BITFIELDS), {}, bits, b));
    EXPECT_FALSE(Draw(draw, Format(2, 2, 24, 0x47504A4D), {}, bits, b));
    EXPECT_FALSE(Draw(draw, Format(-2, 2, 24), {}, bits, b));
    EXPECT_FALSE(Draw(draw, Format(2, 2, 24), {}, {}, b));
    EXPECT_EQ(Read(b), (TPicture{{0x445566, 0x445566}, {0x445566, 0x445566}}));
    TBitmap empty;
    EXPECT_FALSE(Draw(draw, Format(2, 2, 24), {}, bits, empty));
    // The same drawer still works after refusals.
    ASSERT_TRUE(Draw(draw, Format(2, 2, 24), {}, bits, b));
    EXPECT_EQ(b.Canvas().GetPixel(1, 1), 0x111111u);
}

TEST(DibDraw, DecodedPicturesInYuvAndPalette) {
    auto frame = [](AVPixelFormat format, uint8_t y, AVColorRange range) {
        AVFrame* f = av_frame_alloc();
        f->format = format;
        f->width = 16;
        f->height = 8;
        f->color_range = range;
        av_frame_get_buffer(f, 0);
        std::memset(f->data[0], y, size_t(f->linesize[0]) * 8);
        if (format != AV_PIX_FMT_PAL8) {
            const size_t rows = size_t(8 >> av_pix_fmt_desc_get(format)->log2_chroma_h);
            std::memset(f->data[1], 128, size_t(f->linesize[1]) * rows);
            std::memset(f->data[2], 128, size_t(f->linesize[2]) * rows);
        }
        return f;
    };
    struct TCase {
        AVPixelFormat Format;
        uint8_t Y;
        AVColorRange Range;
        uint32_t Expected;
    };
    TDibDraw draw;
    for (const TCase& c : {TCase{AV_PIX_FMT_YUV420P, 235, AVCOL_RANGE_MPEG, 0xFFFFFF},
                           {AV_PIX_FMT_YUV420P, 16, AVCOL_RANGE_MPEG, 0x000000},
                           {AV_PIX_FMT_YUV420P, 255, AVCOL_RANGE_JPEG, 0xFFFFFF},
                           {AV_PIX_FMT_YUVJ420P, 255, AVCOL_RANGE_UNSPECIFIED, 0xFFFFFF},
                           {AV_PIX_FMT_YUVJ420P, 0, AVCOL_RANGE_UNSPECIFIED, 0x000000},
                           {AV_PIX_FMT_YUVJ422P, 128, AVCOL_RANGE_UNSPECIFIED, 0x808080}}) {
        AVFrame* f = frame(c.Format, c.Y, c.Range);
        TBitmap b(16, 8), stretched(5, 1);
        EXPECT_TRUE(draw.DrawPicture(*f, b));
        EXPECT_TRUE(draw.DrawPicture(*f, stretched));
        EXPECT_EQ(Read(b), TPicture(8, TRow(16, c.Expected))) << int(c.Y) << " " << int(c.Format);
        EXPECT_EQ(Read(stretched), TPicture(1, TRow(5, c.Expected)));
        av_frame_free(&f);
    }

    // Palette pictures: index 7 shows the decoder's colour table entry 7 (blue, green, red).
    AVFrame* p = frame(AV_PIX_FMT_PAL8, 7, AVCOL_RANGE_UNSPECIFIED);
    std::memset(p->data[1], 0, 1024);
    std::memcpy(p->data[1] + 7 * 4, "\x30\x20\x10", 3);
    TBitmap b(16, 8);
    ASSERT_TRUE(draw.DrawPicture(*p, b));
    EXPECT_EQ(b.Canvas().GetPixel(15, 7), 0x302010u);
    // A picture one pixel wide still draws, stretched over the whole target.
    p->width = 1;
    TBitmap wide(3, 2);
    ASSERT_TRUE(draw.DrawPicture(*p, wide));
    EXPECT_EQ(wide.Canvas().GetPixel(2, 1), 0x302010u);
    // A pixel format libswscale does not know is refused.
    p->format = AV_PIX_FMT_NB;
    EXPECT_FALSE(draw.DrawPicture(*p, wide));
    av_frame_free(&p);
}

// A decoded picture drawn at another size is the picture at its own size stretched nearest
// neighbour (target pixel x takes source pixel ((2x + 1) * sw) div (2 * tw), rows alike), in YUV
// as in our own pixel layout: no pixel is a blend of two.
TEST(DibDraw, DecodedPicturesOfAnotherSizeAreStretchedNotBlended) {
    constexpr int W = 10, H = 6;
    auto pattern = [](int x, int y) { return uint8_t((x * 37 + y * 91) % 7 * 36 + 16); };
    AVFrame* yuv = av_frame_alloc();
    yuv->format = AV_PIX_FMT_YUV420P;
    yuv->width = W;
    yuv->height = H;
    ASSERT_EQ(av_frame_get_buffer(yuv, 0), 0);
    AVFrame* bgr = av_frame_alloc();
    bgr->format = AV_PIX_FMT_BGR24;
    bgr->width = W;
    bgr->height = H;
    ASSERT_EQ(av_frame_get_buffer(bgr, 0), 0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            yuv->data[0][y * yuv->linesize[0] + x] = pattern(x, y);
            uint8_t* px = bgr->data[0] + y * bgr->linesize[0] + x * 3;
            px[0] = pattern(x, y);
            px[1] = uint8_t(255 - pattern(x, y));
            px[2] = uint8_t(x * 20);
        }
    for (int y = 0; y < H / 2; ++y) {
        std::memset(yuv->data[1] + y * yuv->linesize[1], 128, W / 2);
        std::memset(yuv->data[2] + y * yuv->linesize[2], 128, W / 2);
    }

    TDibDraw draw;
    for (AVFrame* f : {yuv, bgr}) {
        TBitmap own(W, H);
        ASSERT_TRUE(draw.DrawPicture(*f, own));
        const TPicture source = Read(own);
        for (auto [tw, th] : {std::pair{23, 13}, {20, 12}, {7, 4}, {3, 9}}) {
            TBitmap b(tw, th);
            ASSERT_TRUE(draw.DrawPicture(*f, b));
            TPicture expected(size_t(th), TRow(size_t(tw), 0));
            for (int y = 0; y < th; ++y)
                for (int x = 0; x < tw; ++x)
                    expected[size_t(y)][size_t(x)] = source[size_t((2 * y + 1) * H / (2 * th))]
                                                           [size_t((2 * x + 1) * W / (2 * tw))];
            EXPECT_EQ(Read(b), expected) << f->format << " at " << tw << "x" << th;
        }
        // Back at its own size the same drawer gives the same pixels as before.
        TBitmap again(W, H);
        ASSERT_TRUE(draw.DrawPicture(*f, again));
        EXPECT_EQ(Read(again), source);
    }
    av_frame_free(&yuv);
    av_frame_free(&bgr);
}

// A crafted stream can make the decoder hand out a colour space and range that their enums do
// not name: the picture draws as one whose colour space and range are unspecified.
TEST(DibDraw, DecodedPictureWithUnnamedColourSpaceDrawsAsUnspecified) {
    auto frame = [](int colorSpace, int range) {
        AVFrame* f = av_frame_alloc();
        f->format = AV_PIX_FMT_YUV420P;
        f->width = 4;
        f->height = 2;
        av_frame_get_buffer(f, 0);
        // Stored as the decoder stores them, whether or not the enum names the number.
        std::memcpy(&f->colorspace, &colorSpace, sizeof colorSpace);
        std::memcpy(&f->color_range, &range, sizeof range);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                f->data[0][y * f->linesize[0] + x] = uint8_t(60 + 40 * x + 20 * y);
        std::memcpy(f->data[1], "\x50\xA0", 2);
        std::memcpy(f->data[2], "\xC0\x30", 2);
        return f;
    };
    AVFrame* plain = frame(AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED);
    TDibDraw draw;
    TBitmap expected(4, 2), expectedStretched(7, 3);
    ASSERT_TRUE(draw.DrawPicture(*plain, expected));
    ASSERT_TRUE(draw.DrawPicture(*plain, expectedStretched));
    av_frame_free(&plain);
    for (auto [space, range] : {std::pair{187, 0}, {2, 187}, {-1, -1}, {187, 187}}) {
        SCOPED_TRACE(std::to_string(space) + " " + std::to_string(range));
        AVFrame* odd = frame(space, range);
        TDibDraw fresh;
        TBitmap b(4, 2), stretched(7, 3);
        ASSERT_TRUE(fresh.DrawPicture(*odd, b));
        ASSERT_TRUE(fresh.DrawPicture(*odd, stretched));
        EXPECT_EQ(Read(b), Read(expected));
        EXPECT_EQ(Read(stretched), Read(expectedStretched));
        av_frame_free(&odd);
    }
}
