// Video codec layer: codecs found by FOURCC, colour tables taken from the bytes behind the format,
// pictures tagged with their frame numbers, and damaged input refused without harm.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "BFrameAvi.h"
#include "MyVideoCodecLayer.h"
#include "PictureFixtures.h"
#include "TempFolders.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace {

uint32_t Tag(const char* s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

TVideoStreamFormat StreamFormat(uint32_t handler, uint32_t compression, int w, int h,
                                uint16_t bits = 24) {
    return {handler, {w, h, bits, compression, 0}};
}

// JPEG frames of 16 x 16 whose grey level is 40 + 20 * i.
std::vector<std::vector<uint8_t>> MjpegFrames(int count) {
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < count; ++i) {
        const uint32_t grey = uint32_t(40 + 20 * i) * 0x010101u;
        out.push_back(BuildJpeg(MakeQuarters(16, 16, std::array{grey, grey, grey, grey}.data())));
    }
    return out;
}

// Feeds frames[next...] one per call, then drains; False when all is given.
struct TFeeder {
    TVideoDecompressor& D;
    const std::vector<std::vector<uint8_t>>& Frames;
    size_t Next = 0;
    bool operator()() {
        if (Next < Frames.size()) {
            const auto& f = Frames[Next];
            D.Send(f.data(), f.size(), int64_t(Next));
            ++Next;
            return true;
        }
        if (D.Drained())
            return false;
        D.Drain();
        return true;
    }
};

uint8_t Grey(const TVideoDecompressor& d) {
    TDibDraw draw;
    TBitmap b(16, 16);
    EXPECT_TRUE(draw.DrawPicture(*d.Picture(), b));
    return uint8_t(b.Canvas().GetPixel(8, 8) & 0xFF);
}

} // namespace

TEST(VideoCodecLayer, CodecsByFourCC) {
    // Letter case is ignored; 1 is the 8-bit run-length compression.
    for (auto [tag, codec] : {std::pair{Tag("mjpg"), AV_CODEC_ID_MJPEG},
                              {Tag("DX50"), AV_CODEC_ID_MPEG4},
                              {Tag("divx"), AV_CODEC_ID_MPEG4},
                              {Tag("MSVC"), AV_CODEC_ID_MSVIDEO1},
                              {1u, AV_CODEC_ID_MSRLE},
                              {Tag("QQZZ"), AV_CODEC_ID_NONE}})
        EXPECT_EQ(VideoCodecIdOfFourCC(tag), codec) << std::hex << tag;
}

TEST(VideoCodecLayer, OpenByCompressionThenHandler) {
    std::string why;
    auto d = TVideoDecompressor::Open(StreamFormat(Tag("QQZZ"), Tag("MJPG"), 16, 16), &why);
    ASSERT_TRUE(d) << why;
    EXPECT_EQ(d->CodecName(), "mjpeg");
    EXPECT_TRUE(d->IntraOnly());
    EXPECT_EQ(d->Picture(), nullptr);
    EXPECT_EQ(d->PictureNo(), -1);

    d = TVideoDecompressor::Open(StreamFormat(Tag("XVID"), Tag("QQZZ"), 16, 16), &why);
    ASSERT_TRUE(d) << why;
    EXPECT_EQ(d->CodecName(), "mpeg4");
    EXPECT_FALSE(d->IntraOnly());

    EXPECT_FALSE(TVideoDecompressor::Open(StreamFormat(Tag("QQZZ"), Tag("ZZQQ"), 16, 16), &why));
    EXPECT_NE(why.find("QQZZ"), std::string::npos) << why;
    EXPECT_FALSE(TVideoDecompressor::Open(StreamFormat(Tag("MJPG"), Tag("MJPG"), 0, 16)));
    EXPECT_FALSE(TVideoDecompressor::Open(StreamFormat(Tag("MJPG"), Tag("MJPG"), 16, INT32_MIN)));
}

TEST(VideoCodecLayer, PicturesComeTaggedWithTheirFrameNumbers) {
    const auto frames = MjpegFrames(5);
    ASSERT_EQ(frames.size(), 5u);
    auto d = TVideoDecompressor::Open(StreamFormat(Tag("MJPG"), Tag("MJPG"), 16, 16));
    ASSERT_TRUE(d);
    TFeeder feed{*d, frames};
    ASSERT_TRUE(d->DecodeUntil(2, std::ref(feed)));
    EXPECT_EQ(d->PictureNo(), 2);
    EXPECT_NEAR(Grey(*d), 80, 3);
    // Already past frame 1: the walk says so instead of showing another picture.
    EXPECT_FALSE(d->DecodeUntil(1, std::ref(feed)));
    ASSERT_TRUE(d->DecodeUntil(4, std::ref(feed)));
    EXPECT_NEAR(Grey(*d), 120, 3);
    // Nothing beyond the last frame.
    EXPECT_FALSE(d->DecodeUntil(5, std::ref(feed)));
    EXPECT_TRUE(d->Drained());

    // After a reset the decoder takes frames again from anywhere.
    d->Reset();
    EXPECT_EQ(d->Picture(), nullptr);
    EXPECT_FALSE(d->Drained());
    TFeeder again{*d, frames, 1};
    ASSERT_TRUE(d->DecodeUntil(1, std::ref(again)));
    EXPECT_NEAR(Grey(*d), 60, 3);
    // An empty frame is not sent (it would end the stream).
    EXPECT_TRUE(d->Send(nullptr, 0, 7));
    EXPECT_FALSE(d->Drained());
}

TEST(VideoCodecLayer, ColourTableFromTheBytesBehindTheFormat) {
    // An 8-bit run-length picture of 4 x 2, bottom row first: four pixels of colour 3, then
    // two of 5 and two of 6.
    std::vector<uint8_t> palette(1024);
    for (auto [i, c] : {std::pair{3, 0x102030u}, {5, 0x506070u}, {6, 0xA0B0C0u}})
        for (int k = 0; k < 3; ++k)
            palette[size_t(i * 4 + k)] = uint8_t(c >> (16 - 8 * k)); // blue, green, red
    TVideoStreamFormat f = StreamFormat(Tag("mrle"), 1, 4, 2, 8);
    f.Extra = palette.data();
    f.ExtraSize = palette.size();
    auto d = TVideoDecompressor::Open(f);
    ASSERT_TRUE(d);
    const std::vector<std::vector<uint8_t>> frames = {{4, 3, 0, 0, 2, 5, 2, 6, 0, 1}};
    TFeeder feed{*d, frames};
    ASSERT_TRUE(d->DecodeUntil(0, std::ref(feed)));
    TDibDraw draw;
    TBitmap b(4, 2);
    ASSERT_TRUE(draw.DrawPicture(*d->Picture(), b));
    for (auto [x, y, c] :
         {std::tuple{0, 1, 0x102030u}, {3, 1, 0x102030u}, {1, 0, 0x506070u}, {2, 0, 0xA0B0C0u}})
        EXPECT_EQ(b.Canvas().GetPixel(x, y), c) << x << "," << y;
}

TEST(VideoCodecLayer, GarbageIsRefusedAndTheDecoderGoesOn) {
    av_log_set_level(AV_LOG_QUIET);
    auto frames = MjpegFrames(3);
    ASSERT_EQ(frames.size(), 3u);
    std::vector<uint8_t> junk(frames[1].size());
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = uint8_t(i * 131 + 7);
    frames[1] = junk;
    frames.push_back(std::vector<uint8_t>(3, 0xFF)); // a stump of a marker
    auto d = TVideoDecompressor::Open(StreamFormat(Tag("MJPG"), Tag("MJPG"), 16, 16));
    ASSERT_TRUE(d);
    TFeeder feed{*d, frames};
    EXPECT_FALSE(d->DecodeUntil(1, std::ref(feed)));
    d->Reset();
    TFeeder rest{*d, frames, 2};
    ASSERT_TRUE(d->DecodeUntil(2, std::ref(rest)));
    EXPECT_NEAR(Grey(*d), 80, 3);
    EXPECT_FALSE(d->DecodeUntil(3, std::ref(rest)));
}

// Camera frames often leave out the Huffman tables; they decode with the standard ones, to the
// same picture as the frame that carries them.
TEST(VideoCodecLayer, MjpegWithoutHuffmanTablesDecodesWithTheStandardOnes) {
    const uint32_t colors[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0x808080};
    const std::vector<uint8_t> full = BuildJpeg(MakeQuarters(32, 16, colors));
    const std::vector<uint8_t> bare = WithoutHuffmanTables(full);
    ASSERT_LT(bare.size(), full.size());
    auto d = TVideoDecompressor::Open(StreamFormat(Tag("MJPG"), Tag("MJPG"), 32, 16));
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->IntraOnly());
    std::vector<uint8_t> pictures[2];
    for (const auto* jpeg : {&full, &bare}) {
        ASSERT_TRUE(d->Send(jpeg->data(), jpeg->size(), 4));
        ASSERT_EQ(d->Receive(), TVideoDecompressor::TStep::Picture);
        EXPECT_EQ(d->PictureNo(), 4);
        TBitmap b(32, 16);
        TDibDraw draw;
        ASSERT_TRUE(draw.DrawPicture(*d->Picture(), b));
        pictures[jpeg == &bare] = std::vector<uint8_t>(b.Bits(), b.Bits() + b.RowBytes() * 16);
        for (auto [x, y, color] : {std::tuple{4, 4, 0x0000FF}, {28, 12, 0x808080}})
            for (int shift : {0, 8, 16})
                EXPECT_NEAR(int(b.Canvas().GetPixel(x, y) >> shift & 0xFF), color >> shift & 0xFF,
                            2);
    }
    EXPECT_EQ(pictures[0], pictures[1]);
    // Without a frame sent there is no picture; after draining, the end.
    EXPECT_EQ(d->Receive(), TVideoDecompressor::TStep::NeedData);
    d->Drain();
    EXPECT_EQ(d->Receive(), TVideoDecompressor::TStep::Finished);
}

// MPEG-4 part 2 with two B-frames in open groups: frames go in in stored order and pictures come
// out numbered in showing order, as the library shows them. After a reset at a key frame whose
// B-frames show frames before it, the key frame's picture is the first out and takes its own
// number in showing order.
TEST(VideoCodecLayer, PicturesAreNumberedInShowingOrder) {
    av_log_set_level(AV_LOG_QUIET);
    TTempDir dir;
    const std::string file = dir.Path + "/bframes.avi";
    constexpr int W = 64, H = 48;
    ASSERT_TRUE(WriteBFrameAvi(file, {"mpeg4", W, H, 30, 12, 2, false}));
    const std::vector<TStoredFrame> frames = StoredFrames(file);
    const auto library = LibraryPictures(file);
    ASSERT_EQ(frames.size(), 30u);
    ASSERT_EQ(library.size(), 30u);
    auto d = TVideoDecompressor::Open(StreamFormat(Tag("FMP4"), Tag("FMP4"), W, H));
    ASSERT_TRUE(d);
    TDibDraw draw;
    TBitmap b(W, H);
    auto pixels = [&]() {
        EXPECT_TRUE(d->DrawPicture(draw, b));
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < H; ++y)
            out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + W * 3);
        return out;
    };
    auto feedFrom = [&](size_t next) {
        return [&, next]() mutable {
            if (next < frames.size()) {
                d->Send(frames[next].Data.data(), frames[next].Data.size(), int64_t(next));
                ++next;
                return true;
            }
            if (d->Drained())
                return false;
            d->Drain();
            return true;
        };
    };
    std::function<bool()> feed = feedFrom(0);
    for (int64_t i = 0; i < 30; ++i) {
        ASSERT_TRUE(d->DecodeUntil(i, feed)) << i;
        ASSERT_EQ(pixels(), library[size_t(i)]) << i;
    }

    size_t key = 1;
    while (key < frames.size() && !frames[key].Key)
        ++key;
    ASSERT_LT(key, frames.size());
    d->Reset();
    feed = feedFrom(key);
    TVideoDecompressor::TStep step;
    while ((step = d->Receive()) == TVideoDecompressor::TStep::NeedData)
        ASSERT_TRUE(feed());
    ASSERT_EQ(step, TVideoDecompressor::TStep::Picture);
    EXPECT_GT(d->PictureNo(), int64_t(key)) << "B-frames behind the key frame lead it";
    ASSERT_LT(d->PictureNo(), 30);
    EXPECT_EQ(pixels(), library[size_t(d->PictureNo())]);
    // Their frames decode from the key frame before.
    EXPECT_FALSE(d->DecodeUntil(int64_t(key), feed));
}
