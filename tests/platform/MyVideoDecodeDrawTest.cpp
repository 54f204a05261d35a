// Motion JPEG pictures drawn by the decoder: straight into the target's rows, after a repeat
// through its own picture, or scaled to another size, they are the pixels of the plain decode.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "MyVideoCodecLayer.h"
#include "PictureFixtures.h"

namespace {

constexpr int W = 30, H = 14; // rows of 90 bytes padded to 92

std::vector<uint8_t> Rows(const TBitmap& b) {
    return std::vector<uint8_t>(b.Bits(), b.Bits() + size_t(b.RowBytes()) * b.Height());
}

std::vector<uint8_t> Frame(int i, int w = W, int h = H, bool chroma420 = false) {
    const uint32_t colors[4] = {0x0000FFu ^ uint32_t(i * 0x30), 0x00FF00, 0xFF0000,
                                0x202020u * uint32_t(i + 1)};
    return BuildJpeg(MakeQuarters(w, h, colors), 80, chroma420);
}

std::unique_ptr<TVideoDecompressor> OpenMjpeg() {
    TVideoStreamFormat f;
    f.Handler = f.Format.Compression = 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24;
    f.Format.Width = W;
    f.Format.Height = H;
    f.Format.BitCount = 24;
    return TVideoDecompressor::Open(f);
}

// A picture at w x h the long way: decoded into the decoder's own picture, then drawn.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& jpeg, int i, int w, int h) {
    auto d = OpenMjpeg();
    EXPECT_TRUE(d->Send(jpeg.data(), jpeg.size(), i));
    EXPECT_EQ(d->Receive(), TVideoDecompressor::TStep::Picture);
    TBitmap b(w, h);
    std::memset(b.Bits(), 0xA5, size_t(b.RowBytes()) * h);
    TDibDraw draw;
    EXPECT_TRUE(draw.DrawPicture(*d->Picture(), b));
    return Rows(b);
}

} // namespace

TEST(VideoDecodeDraw, EveryWayOfDrawingGivesThePlainDecode) {
    auto d = OpenMjpeg();
    ASSERT_TRUE(d);
    TDibDraw draw;
    // Frames in the order a render asks for them: some once, some several times (a movie slower
    // than the project), one looked at through Picture first, one at another size.
    struct TDraw {
        int Frame, Width, Height;
        bool PictureFirst;
    };
    const TDraw draws[] = {{0, W, H, false},  {1, W, H, false}, {1, W, H, false}, {1, W, H, false},
                           {2, W, H, false},  {3, W, H, false}, {4, W, H, true},  {4, W, H, false},
                           {5, 17, 9, false}, {5, W, H, false}, {6, W, H, false}};
    int sent = -1;
    for (const TDraw& t : draws) {
        if (t.Frame != sent) {
            const auto jpeg = Frame(t.Frame);
            ASSERT_TRUE(d->Send(jpeg.data(), jpeg.size(), t.Frame));
            ASSERT_EQ(d->Receive(), TVideoDecompressor::TStep::Picture);
            sent = t.Frame;
        }
        if (t.PictureFirst) {
            ASSERT_NE(d->Picture(), nullptr);
        }
        TBitmap b(t.Width, t.Height);
        // The padding behind each row is not the picture's and stays as it was.
        std::memset(b.Bits(), 0xA5, size_t(b.RowBytes()) * t.Height);
        ASSERT_TRUE(d->DrawPicture(draw, b)) << t.Frame;
        EXPECT_EQ(Rows(b), Reference(Frame(t.Frame), t.Frame, t.Width, t.Height))
            << t.Frame << " " << t.Width;
    }
}

// A 4:2:0 picture of a target's size that allows planes is left as planes, whatever was drawn
// before (so the frame codes the same whoever decodes it), and reads as the plain decode.
TEST(VideoDecodeDraw, PlanesOfA420PictureReadAsThePlainDecode) {
    for (auto [w, h] : {std::pair{W, H}, {29, 13}}) {
        auto d = OpenMjpeg();
        TDibDraw draw;
        struct TDraw {
            int Frame, Width, Height;
            bool PictureFirst, Allows, Chroma420;
        };
        const TDraw draws[] = {{0, w, h, false, true, true},     {1, w, h, false, true, true},
                               {1, w, h, false, true, true},     {2, w, h, true, true, true},
                               {3, w + 2, h, false, true, true}, {3, w, h, false, true, true},
                               {4, w, h, false, false, true},    {5, w, h, false, true, false},
                               {6, w, h, false, true, true}};
        for (const TDraw& t : draws) {
            const auto jpeg = Frame(t.Frame, w, h, t.Chroma420);
            if (d->PictureNo() != t.Frame) {
                ASSERT_TRUE(d->Send(jpeg.data(), jpeg.size(), t.Frame));
                ASSERT_EQ(d->Receive(), TVideoDecompressor::TStep::Picture);
            }
            if (t.PictureFirst) {
                ASSERT_NE(d->Picture(), nullptr);
            }
            TBitmap b(t.Width, t.Height);
            std::memset(b.Bits(), 0xA5, size_t(b.RowBytes()) * t.Height);
            b.AllowPlanes(t.Allows);
            ASSERT_TRUE(d->DrawPicture(draw, b)) << t.Frame;
            const bool planes = t.Allows && t.Chroma420 && t.Width == w;
            EXPECT_EQ(b.HeldPlanes() != nullptr, planes) << t.Frame << " " << t.Width;
            EXPECT_EQ(Rows(b), Reference(jpeg, t.Frame, t.Width, t.Height))
                << t.Frame << " " << t.Width << " " << w;
        }
    }
}

TEST(VideoDecodeDraw, NothingToDrawWithoutAPicture) {
    auto d = OpenMjpeg();
    TDibDraw draw;
    TBitmap b(W, H), none;
    EXPECT_FALSE(d->DrawPicture(draw, b));
    const auto jpeg = Frame(0);
    ASSERT_TRUE(d->Send(jpeg.data(), jpeg.size(), 0));
    // Sent but not received yet, then received and reset: still nothing.
    EXPECT_FALSE(d->DrawPicture(draw, b));
    ASSERT_EQ(d->Receive(), TVideoDecompressor::TStep::Picture);
    EXPECT_FALSE(d->DrawPicture(draw, none));
    d->Reset();
    EXPECT_FALSE(d->DrawPicture(draw, b));
    EXPECT_EQ(d->Picture(), nullptr);
}

// Damaged pictures come out the same whether or not the target allows planes.
TEST(VideoDecodeDraw, DamagedPicturesDrawAlikeWithOrWithoutPlanes) {
    constexpr int w = 64, h = 48;
    const std::vector<uint8_t> good = Frame(0, w, h, true);
    size_t scan = 0; // the start of scan marker; the coded picture follows
    while (scan + 1 < good.size() && !(good[scan] == 0xFF && good[scan + 1] == 0xDA))
        ++scan;
    ASSERT_LT(scan + 40, good.size());
    const size_t half = scan + (good.size() - scan) / 2;
    std::vector<uint8_t> cut(good.begin(), good.begin() + long(half));
    std::vector<uint8_t> scrambled = good;
    for (size_t i = half; i < half + 12; ++i)
        scrambled[i] = uint8_t(i * 37);
    for (const auto& jpeg : {cut, scrambled}) {
        bool drawn[2];
        std::vector<uint8_t> rows[2];
        for (bool planes : {false, true}) {
            auto d = OpenMjpeg();
            ASSERT_TRUE(d->Send(jpeg.data(), jpeg.size(), 0));
            ASSERT_EQ(d->Receive(), TVideoDecompressor::TStep::Picture);
            TBitmap b(w, h);
            std::memset(b.Bits(), 0x33, size_t(b.RowBytes()) * h);
            b.AllowPlanes(planes);
            TDibDraw draw;
            drawn[planes] = d->DrawPicture(draw, b);
            rows[planes] = Rows(b);
        }
        EXPECT_EQ(drawn[0], drawn[1]);
        EXPECT_EQ(rows[0], rows[1]);
    }
}
