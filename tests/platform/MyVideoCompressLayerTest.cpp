#include "MyVideoCompressLayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MyDibDraw.h"
#include "MyVideoCodecLayer.h"
#include "MyYuvPicture.h"

#include <turbojpeg.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

uint32_t Code(const std::string& s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

std::string Text(uint32_t c) {
    return std::string{char(c), char(c >> 8), char(c >> 16), char(c >> 24)};
}

// Handlers we offer and the encoder behind each, in list order.
const std::vector<std::pair<std::string, std::string>> Offer = {
    {"mjpg", "mjpeg"},     {"xvid", "mpeg4"},    {"divx", "mpeg4"},
    {"mp42", "msmpeg4v2"}, {"mp43", "msmpeg4"},  {"wmv1", "wmv1"},
    {"cvid", "cinepak"},   {"msvc", "msvideo1"}, {"zmbv", "zmbv"}};

std::vector<std::string> Installed() {
    std::vector<std::string> r;
    for (const auto& [handler, encoder] : Offer)
        if (avcodec_find_encoder_by_name(encoder.c_str()))
            r.push_back(handler);
    return r;
}

// A 64 x 48 B, G, R frame, top row first: left half blue-ish, right half red-ish, a bright band
// across the top eight rows.
std::vector<uint8_t> TestFrame(int w, int h) {
    std::vector<uint8_t> f(size_t(w * h * 3));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &f[size_t((y * w + x) * 3)];
            const bool top = y < 8;
            p[0] = top ? 230 : (x < w / 2 ? 200 : 30);
            p[1] = top ? 230 : 40;
            p[2] = top ? 230 : (x < w / 2 ? 30 : 200);
        }
    return f;
}

// Decodes one packet on its own, through our decoder for the output FOURCC, and draws it at its
// own size: B, G, R rows, top row first.
std::vector<uint8_t> DecodeOne(const TVideoOutputFormat& fmt, const TCompressedFrame& frame) {
    auto d = TVideoDecompressor::Open(
        {fmt.Compression, {fmt.Width, fmt.Height, fmt.BitCount, fmt.Compression, 0}});
    if (!d || !d->Send(frame.Data, frame.Size, 0))
        return {};
    if (d->Receive() != TVideoDecompressor::TStep::Picture &&
        (d->Drain(), d->Receive()) != TVideoDecompressor::TStep::Picture)
        return {};
    TBitmap b(fmt.Width, fmt.Height);
    if (!TDibDraw().DrawPicture(*d->Picture(), b))
        return {};
    std::vector<uint8_t> out;
    for (int y = 0; y < fmt.Height; ++y)
        out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + fmt.Width * 3);
    return out;
}

const TVideoCompressFormat Format64x48{64, 48, 15, 15, 10};

} // namespace

TEST(VideoCompressLayer, RiffTagsMapBothWays) {
    // Lower case falls back to the upper-case tag.
    for (auto [tag, codec] : {std::pair{"mjpg", AV_CODEC_ID_MJPEG},
                              {"divx", AV_CODEC_ID_MPEG4},
                              {"MP43", AV_CODEC_ID_MSMPEG4V3},
                              {"zzzz", AV_CODEC_ID_NONE}})
        EXPECT_EQ(RiffVideoCodecOfTag(Code(tag)), int(codec)) << tag;
    EXPECT_EQ(Text(RiffVideoTagOfCodec(int(AV_CODEC_ID_MJPEG))), "MJPG");
    EXPECT_EQ(RiffVideoTagOfCodec(int(AV_CODEC_ID_NONE)), 0u);
}

TEST(VideoCompressLayer, ListsTheInstalledEncodersThatFitAvi) {
    IVideoCompressorList& list = LibavVideoCompressors();
    std::vector<std::string> handlers;
    TVideoCompressorInfo info;
    for (int32_t i = 0; list.GetInfo(0, i, info); ++i) {
        EXPECT_EQ(info.Type, VideoCompressorType);
        handlers.push_back(Text(info.Handler));
    }
    EXPECT_EQ(handlers, Installed());
    EXPECT_FALSE(list.GetInfo(0, -1, info));
    EXPECT_FALSE(list.GetInfo(Code("auds"), 0, info));
    EXPECT_TRUE(list.GetInfo(VideoCompressorType, 0, info) || handlers.empty());

    for (const std::string& h : handlers) {
        // Handlers match in any letter case.
        std::string upper = h;
        for (char& ch : upper)
            ch = char(std::toupper(uint8_t(ch)));
        auto c = list.Open(0, Code(upper), TVideoCompressorMode::Query);
        ASSERT_TRUE(c) << h;
        c->GetInfo(info);
        EXPECT_EQ(Text(info.Handler), h);
        EXPECT_FALSE(info.Description.empty());
        EXPECT_LE(info.Name.size(), 15u) << h;
        EXPECT_LE(info.Description.size(), 127u) << h;
        const std::string about = c->GetAboutText();
        EXPECT_TRUE(about.find("libavcodec") != std::string::npos ||
                    about.find("libjpeg-turbo") != std::string::npos)
            << about;
    }
    EXPECT_EQ(list.Open(0, Code("zzzz"), TVideoCompressorMode::Compress), nullptr);
    EXPECT_EQ(list.Open(Code("auds"), Code("mjpg"), TVideoCompressorMode::Compress), nullptr);
}

// Every offered compressor: one packet per frame, the key flag where asked, the output format
// that readers need, and a picture that decodes to what went in.
TEST(VideoCompressLayer, EveryCompressorGivesOneDecodablePacketPerFrame) {
    const std::vector<uint8_t> frame = TestFrame(64, 48);
    for (const std::string& h : Installed()) {
        SCOPED_TRACE(h);
        auto c = LibavVideoCompressors().Open(0, Code(h), TVideoCompressorMode::Compress);
        ASSERT_TRUE(c);
        TVideoOutputFormat out;
        ASSERT_TRUE(c->Begin(Format64x48, out));
        EXPECT_EQ(out.Width, 64);
        EXPECT_EQ(out.Height, 48);
        EXPECT_NE(RiffVideoCodecOfTag(out.Compression), 0);
        EXPECT_EQ(out.ImageSize, uint32_t(64 * 48 * out.BitCount / 8));
        if (h == "msvc") {
            EXPECT_EQ(out.BitCount, 16); // the decoder tells 8-bit from 16-bit by this
        }
        for (int i = 0; i < 8; ++i) {
            const bool key = i == 0 || i == 5;
            TCompressedFrame cf;
            ASSERT_EQ(c->Compress(frame.data(), 64 * 3, key, cf), 0) << "frame " << i;
            ASSERT_NE(cf.Data, nullptr);
            ASSERT_GT(cf.Size, 0u);
            if (key) {
                EXPECT_EQ(cf.Flags, AVIIF_KEYFRAME) << "frame " << i;
            } else if (h == "xvid") {
                EXPECT_EQ(cf.Flags, 0u) << "frame " << i; // a delta frame where none was asked
            }
            if (i == 5) {
                // A key frame stands alone: it decodes without the frames before it. Blue on the
                // left, red on the right, bright at the top (lossy codecs: near).
                const std::vector<uint8_t> pic = DecodeOne(out, cf);
                ASSERT_EQ(pic.size(), frame.size());
                for (auto [x, y] : {std::pair{10, 30}, {50, 30}, {30, 2}})
                    for (int ch = 0; ch < 3; ++ch) {
                        const size_t at = size_t((y * 64 + x) * 3 + ch);
                        EXPECT_NEAR(pic[at], frame[at], 40) << x << "," << y << " channel " << ch;
                    }
            }
        }
        EXPECT_TRUE(c->End());
        EXPECT_FALSE(c->End());
    }
}

TEST(VideoCompressLayer, BottomUpRowsGiveTheSamePicture) {
    if (!avcodec_find_encoder_by_name("zmbv"))
        GTEST_SKIP() << "no ZMBV encoder";
    // ZMBV is lossless, so both ways must decode to the same bytes.
    const std::vector<uint8_t> top = TestFrame(64, 48);
    std::vector<uint8_t> bottomUp(top.size());
    for (int y = 0; y < 48; ++y)
        std::memcpy(&bottomUp[size_t((47 - y) * 64 * 3)], &top[size_t(y * 64 * 3)], 64 * 3);
    std::vector<uint8_t> pics[2];
    for (int way = 0; way < 2; ++way) {
        auto c = LibavVideoCompressors().Open(0, Code("zmbv"), TVideoCompressorMode::Compress);
        TVideoOutputFormat out;
        ASSERT_TRUE(c->Begin(Format64x48, out));
        TCompressedFrame cf;
        if (way == 0)
            ASSERT_EQ(c->Compress(top.data(), 64 * 3, true, cf), 0);
        else
            ASSERT_EQ(c->Compress(&bottomUp[47 * 64 * 3], -64 * 3, true, cf), 0);
        pics[way] = DecodeOne(out, cf);
    }
    ASSERT_EQ(pics[0].size(), top.size());
    EXPECT_EQ(pics[0], pics[1]);
    EXPECT_EQ(pics[0], top);
}

TEST(VideoCompressLayer, RefusesWhatItCannotTake) {
    if (!avcodec_find_encoder_by_name("mjpeg"))
        GTEST_SKIP() << "no MJPEG encoder";
    auto c = LibavVideoCompressors().Open(0, Code("mjpg"), TVideoCompressorMode::Compress);
    ASSERT_TRUE(c);
    uint8_t pixel[3] = {};
    TCompressedFrame cf;
    EXPECT_EQ(c->Compress(pixel, 3, false, cf), CompressNotBegun);
    TVideoOutputFormat out;
    EXPECT_FALSE(c->Begin({0, 48, 15, 15, 10}, out));
    EXPECT_FALSE(c->Begin({64, 48, 0, 15, 10}, out));
    EXPECT_EQ(c->Compress(pixel, 3, false, cf), CompressNotBegun);
}

// Motion JPEG is full-range 4:2:0 JPEG: flat frames come back within 2 levels, whichever way the
// rows are stored, and both row orders give the same bytes.
TEST(VideoCompressLayer, MjpegKeepsFullRangeLevels) {
    struct Level {
        uint8_t B, G, R;
    };
    const Level levels[] = {{0, 0, 0},       {255, 255, 255}, {128, 128, 128}, {16, 16, 16},
                            {235, 235, 235}, {0, 0, 255},     {255, 128, 0}};
    auto c = LibavVideoCompressors().Open(0, Code("mjpg"), TVideoCompressorMode::Compress);
    ASSERT_TRUE(c);
    TVideoOutputFormat out;
    ASSERT_TRUE(c->Begin(Format64x48, out));
    EXPECT_EQ(Text(out.Compression), "MJPG");
    EXPECT_EQ(out.BitCount, 24);
    auto decoder = TVideoDecompressor::Open(
        TVideoStreamFormat{Code("mjpg"), TDibFormat{64, 48, 24, Code("MJPG"), 0}});
    ASSERT_TRUE(decoder);
    for (const Level& l : levels) {
        SCOPED_TRACE(testing::Message() << int(l.B) << "," << int(l.G) << "," << int(l.R));
        std::vector<uint8_t> frame(64 * 48 * 3);
        for (size_t i = 0; i < frame.size(); i += 3) {
            frame[i] = l.B;
            frame[i + 1] = l.G;
            frame[i + 2] = l.R;
        }
        TCompressedFrame cf;
        ASSERT_EQ(c->Compress(frame.data(), 64 * 3, false, cf), 0);
        EXPECT_EQ(cf.Flags, AVIIF_KEYFRAME);
        const std::vector<uint8_t> topDown(cf.Data, cf.Data + cf.Size);
        ASSERT_EQ(c->Compress(&frame[47 * 64 * 3], -64 * 3, false, cf), 0);
        EXPECT_EQ(std::vector<uint8_t>(cf.Data, cf.Data + cf.Size), topDown);
        // Start of image, then the frame header names 4:2:0: luma sampled 2 x 2.
        ASSERT_GT(topDown.size(), 4u);
        EXPECT_EQ(topDown[0], 0xFF);
        EXPECT_EQ(topDown[1], 0xD8);
        const uint8_t sof[] = {0xFF, 0xC0};
        const auto at = std::search(topDown.begin(), topDown.end(), sof, sof + 2);
        ASSERT_LT(at + 12, topDown.end());
        EXPECT_EQ(at[11], 0x22) << "luma sampling";

        ASSERT_TRUE(decoder->Send(topDown.data(), topDown.size(), 0));
        ASSERT_EQ(decoder->Receive(), TVideoDecompressor::TStep::Picture);
        const AVFrame* own = decoder->Picture();
        ASSERT_EQ(own->format, AV_PIX_FMT_BGR24);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64 * 3; ++x) {
                const int want = frame[size_t(y * 64 * 3 + x)];
                ASSERT_NEAR(own->data[0][y * own->linesize[0] + x], want, 2) << x / 3 << "," << y;
            }
    }
}

// The MJPEG compressor also codes a frame given as 4:2:0 planes of its size: they come back as
// those planes within the quantiser's error, with no trip through rows. Other compressors take
// rows only.
TEST(VideoCompressLayer, MjpegCodesPlanesOfItsSize) {
    for (auto [w, h] : {std::pair{64, 48}, {29, 13}}) {
        auto c = LibavVideoCompressors().Open(0, Code("mjpg"), TVideoCompressorMode::Compress);
        ASSERT_TRUE(c);
        TYuvPicture planes;
        planes.SetSize(w, h);
        TCompressedFrame cf;
        EXPECT_EQ(c->CompressPlanes(planes, true, cf), CompressNotBegun);
        TVideoOutputFormat out;
        ASSERT_TRUE(c->Begin(TVideoCompressFormat{w, h, 15, 15, 10}, out));
        ASSERT_TRUE(c->TakesPlanes());
        for (int i = 0; i < 3; ++i) {
            const int pw = i ? (w + 1) / 2 : w, ph = i ? (h + 1) / 2 : h;
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x)
                    planes.Planes()[i][y * planes.Strides()[i] + x] =
                        uint8_t(i ? 100 + 20 * i + x : 30 + x + 2 * y);
        }
        ASSERT_EQ(c->CompressPlanes(planes, true, cf), 0);
        EXPECT_EQ(cf.Flags, AVIIF_KEYFRAME);
        tjhandle tj = tjInitDecompress();
        int jw = 0, jh = 0, sub = -1, cs = -1;
        ASSERT_EQ(tjDecompressHeader3(tj, cf.Data, cf.Size, &jw, &jh, &sub, &cs), 0);
        EXPECT_EQ(jw, w);
        EXPECT_EQ(jh, h);
        EXPECT_EQ(sub, TJSAMP_420);
        TYuvPicture back;
        back.SetSize(w, h);
        ASSERT_EQ(tjDecompressToYUVPlanes(tj, cf.Data, cf.Size, back.Planes().data(), w,
                                          back.Strides(), h, 0),
                  0);
        tjDestroy(tj);
        for (int i = 0; i < 3; ++i) {
            const int pw = i ? (w + 1) / 2 : w, ph = i ? (h + 1) / 2 : h;
            double squares = 0;
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x) {
                    const size_t at = size_t(y * planes.Strides()[i] + x);
                    const double d = back.Planes()[i][at] - planes.Planes()[i][at];
                    squares += d * d;
                }
            const double psnr = 10 * std::log10(255.0 * 255.0 * pw * ph / std::max(squares, 1e-9));
            EXPECT_GT(psnr, 40) << "plane " << i << " at " << w << "x" << h;
        }
        // Planes of another size are refused.
        TYuvPicture other;
        other.SetSize(w + 1, h);
        EXPECT_NE(c->CompressPlanes(other, true, cf), 0);
    }
    for (const std::string& h : Installed())
        if (h != "mjpg") {
            auto c = LibavVideoCompressors().Open(0, Code(h), TVideoCompressorMode::Compress);
            TVideoOutputFormat out;
            ASSERT_TRUE(c && c->Begin(Format64x48, out)) << h;
            EXPECT_FALSE(c->TakesPlanes()) << h;
        }
}
