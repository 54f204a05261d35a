#include "MyAcmLayer.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
uint16_t Get16(const Bytes& b, size_t at) {
    return uint16_t(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(const Bytes& b, size_t at) {
    return Get16(b, at) | (uint32_t(Get16(b, at + 2)) << 16);
}

// A 128-byte format block holding a PCM header.
Bytes Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    Bytes b(128, 0);
    const uint16_t align = uint16_t(channels * bits / 8);
    Put16(b, 0, 1);
    Put16(b, 2, channels);
    Put32(b, 4, rate);
    Put32(b, 8, rate * align);
    Put16(b, 12, align);
    Put16(b, 14, bits);
    return b;
}

Bytes Suggest(uint16_t tag, const Bytes& src, TAcmResult* result = nullptr) {
    Bytes dst(128, 0);
    Put16(dst, 0, tag);
    TAcmResult r =
        AcmFormatSuggest(src.data(), uint32_t(src.size()), dst.data(), 128, AcmSuggestFormatTag);
    if (result)
        *result = r;
    if (r != TAcmResult::Ok)
        return {};
    return dst;
}

// The header and extra bytes of a format block.
Bytes Header(const Bytes& block) {
    return Bytes(block.begin(), block.begin() + 18 + Get16(block, 16));
}

// Runs Src through one conversion of a fresh stream, flushing at the end.
Bytes ConvertAll(const Bytes& srcFmt, const Bytes& dstFmt, const Bytes& data) {
    TAcmStreamPtr s;
    EXPECT_EQ(AcmStreamOpen(s, srcFmt.data(), 128, dstFmt.data(), 128), TAcmResult::Ok);
    if (!s)
        return {};
    uint32_t size = 0;
    EXPECT_EQ(AcmStreamSize(*s, uint32_t(data.size()), size), TAcmResult::Ok);
    Bytes out(size);
    TAcmStreamHeader h;
    h.Src = data.data();
    h.SrcLength = uint32_t(data.size());
    h.Dst = out.data();
    h.DstLength = size;
    EXPECT_EQ(AcmStreamPrepareHeader(*s, h), TAcmResult::Ok);
    EXPECT_EQ(AcmStreamConvert(*s, h, AcmConvertEnd), TAcmResult::Ok);
    EXPECT_EQ(AcmStreamUnprepareHeader(*s, h), TAcmResult::Ok);
    EXPECT_EQ(h.SrcLengthUsed, data.size());
    out.resize(h.DstLengthUsed);
    return out;
}

// The payload of the "fmt " chunk libavformat's wav muxer writes for an encoder opened with the
// given settings; BitRate also goes into the stream parameters, as a caller would state it.
Bytes MuxerFmtChunk(uint16_t tag, uint32_t rate, uint16_t channels, int64_t bitRate) {
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    const AVCodec* codec = avcodec_find_encoder(av_codec_get_id(tags, tag));
    if (!codec)
        return {};
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->sample_rate = int(rate);
    av_channel_layout_default(&c->ch_layout, channels);
    c->sample_fmt = codec->sample_fmts[0];
    c->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    if (c->bit_rate == 0 || c->bit_rate == 128000)
        c->bit_rate = bitRate;
    Bytes chunk;
    if (avcodec_open2(c, codec, nullptr) == 0) {
        AVFormatContext* o = nullptr;
        avformat_alloc_output_context2(&o, nullptr, "wav", nullptr);
        AVStream* st = avformat_new_stream(o, nullptr);
        avcodec_parameters_from_context(st->codecpar, c);
        st->codecpar->bit_rate = bitRate;
        avio_open_dyn_buf(&o->pb);
        if (avformat_write_header(o, nullptr) >= 0)
            av_write_trailer(o);
        uint8_t* buf = nullptr;
        const int n = avio_close_dyn_buf(o->pb, &buf);
        o->pb = nullptr;
        Bytes file(buf, buf + n);
        av_free(buf);
        avformat_free_context(o);
        for (size_t i = 12; i + 8 <= file.size();) {
            const uint32_t size = Get32(file, i + 4);
            if (std::memcmp(&file[i], "fmt ", 4) == 0) {
                chunk.assign(file.begin() + long(i) + 8, file.begin() + long(i) + 8 + size);
                break;
            }
            i += 8 + size + (size & 1);
        }
    }
    avcodec_free_context(&c);
    return chunk;
}

Bytes Sine16(uint32_t rate, uint16_t channels, uint32_t frames) {
    Bytes b(size_t(frames) * channels * 2);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t ch = 0; ch < channels; ++ch) {
            const double v = 12000 * std::sin(2 * M_PI * (440.0 + 220 * ch) * i / rate);
            const int16_t s = int16_t(std::lrint(v));
            std::memcpy(&b[(size_t(i) * channels + ch) * 2], &s, 2);
        }
    return b;
}

bool HasEncoder(uint16_t tag) {
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    return avcodec_find_encoder(av_codec_get_id(tags, tag)) != nullptr;
}

struct TDriverInfo {
    TAcmDriverId Id;
    uint32_t Support;
    TAcmDriverDetails Details;
    std::vector<TAcmFormatTagDetails> Tags;
};

std::vector<TDriverInfo> AllDrivers() {
    std::vector<TDriverInfo> list;
    AcmDriverEnum([&](TAcmDriverId id, uint32_t support) {
        TDriverInfo d{id, support, {}, {}};
        EXPECT_EQ(AcmDriverDetails(id, d.Details), TAcmResult::Ok);
        TAcmDriverHandle h = 0;
        EXPECT_EQ(AcmDriverOpen(id, h), TAcmResult::Ok);
        for (uint32_t i = 0; i < d.Details.FormatTagCount; ++i) {
            TAcmFormatTagDetails t;
            EXPECT_EQ(AcmFormatTagDetails(h, i, t), TAcmResult::Ok);
            d.Tags.push_back(t);
        }
        EXPECT_EQ(AcmDriverClose(h), TAcmResult::Ok);
        list.push_back(d);
        return true;
    });
    return list;
}

} // namespace

// ---- Catalogue ------------------------------------------------------------------------------

TEST(AcmCatalogue, OffersTheCodecsWithPcmFirstAndTheConverterLast) {
    const auto drivers = AllDrivers();
    ASSERT_GE(drivers.size(), 3u);
    EXPECT_EQ(drivers.back().Support, AcmDriverSupportConverter);
    std::vector<uint32_t> tags;
    for (size_t i = 0; i + 1 < drivers.size(); ++i) {
        EXPECT_EQ(drivers[i].Support, AcmDriverSupportCodec);
        ASSERT_FALSE(drivers[i].Tags.empty());
        EXPECT_EQ(drivers[i].Tags[0].FormatTag, 1u);
        EXPECT_EQ(drivers[i].Tags[0].FormatSize, 16u);
        for (const auto& t : drivers[i].Tags)
            tags.push_back(t.FormatTag);
    }
    for (uint32_t want : {0x02u, 0x06u, 0x07u, 0x11u, 0x31u, 0x50u, 0x55u, 0x161u, 0x2000u})
        EXPECT_NE(std::find(tags.begin(), tags.end(), want), tags.end()) << want;
    // Tags mapped only for decoding are there too, never offered for encoding.
    EXPECT_NE(std::find(tags.begin(), tags.end(), 0x160u), tags.end());
    for (const auto& d : drivers)
        for (const auto& t : d.Tags)
            if (t.FormatTag == 0x160) {
                EXPECT_FALSE(t.CanEncode);
            }
}

TEST(AcmCatalogue, NamesAreNeutralAndFormatSizesFitTheExtras) {
    static const char* const vendors[] = {"microsoft", "fraunhofer", "dolby",    "sony",  "windows",
                                          "apple",     "intel",      "creative", "yamaha"};
    for (const auto& d : AllDrivers()) {
        std::string all = d.Details.ShortName + "|" + d.Details.LongName + "|" +
                          d.Details.Features + "|" + d.Details.Copyright;
        for (const auto& t : d.Tags) {
            all += "|" + t.Name;
            EXPECT_LT(t.Name.size(), 48u);
        }
        for (char& c : all)
            c = char(std::tolower(uint8_t(c)));
        for (const char* v : vendors)
            EXPECT_EQ(all.find(v), std::string::npos) << all;
        for (const auto& t : d.Tags) {
            uint32_t extra = 0;
            if (t.FormatTag == 0x02)
                extra = 32;
            if (t.FormatTag == 0x11 || t.FormatTag == 0x31)
                extra = 2;
            if (t.FormatTag == 0x50)
                extra = 22;
            if (t.FormatTag == 0x55 && t.CanEncode)
                extra = 12;
            if (extra) {
                EXPECT_EQ(t.FormatSize, 18u + extra) << t.FormatTag;
            }
        }
    }
}

// ---- Format blocks --------------------------------------------------------------------------

// The extra bytes other readers depend on, written exactly as libavformat's RIFF writer does.
TEST(AcmFormat, SuggestionsMatchTheWavMuxerByteForByte) {
    struct TCase {
        uint16_t Tag;
        uint32_t Rate;
        uint16_t Channels;
    };
    const TCase cases[] = {{0x02, 44100, 2},  {0x02, 22050, 1},  {0x06, 44100, 2}, {0x07, 22050, 1},
                           {0x11, 44100, 2},  {0x11, 22050, 1},  {0x31, 22050, 1}, {0x31, 8000, 1},
                           {0x50, 44100, 2},  {0x50, 22050, 1},  {0x55, 44100, 2}, {0x55, 22050, 1},
                           {0x161, 44100, 2}, {0x2000, 48000, 2}};
    for (const TCase& c : cases) {
        if (!HasEncoder(c.Tag))
            continue;
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.Tag << std::dec << " " << c.Rate << " " << c.Channels);
        const Bytes ours = Suggest(c.Tag, Pcm(c.Rate, c.Channels, 16));
        ASSERT_FALSE(ours.empty());
        const Bytes muxer = MuxerFmtChunk(c.Tag, c.Rate, c.Channels, int64_t(Get32(ours, 8)) * 8);
        ASSERT_FALSE(muxer.empty());
        EXPECT_EQ(Header(ours), muxer);
    }
}

TEST(AcmFormat, ExtraBytesOfTheBlockCodecs) {
    // ADPCM: samples per block, seven coefficient pairs.
    Bytes f = Suggest(0x02, Pcm(44100, 2, 16));
    ASSERT_FALSE(f.empty());
    const Bytes adpcm = {0x02, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x4E, 0xAE,
                         0x00, 0x00, 0x00, 0x04, 0x04, 0x00, 0x20, 0x00, 0xF4, 0x03,
                         0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0xFF,
                         0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x40, 0x00, 0xF0, 0x00,
                         0x00, 0x00, 0xCC, 0x01, 0x30, 0xFF, 0x88, 0x01, 0x18, 0xFF};
    EXPECT_EQ(Header(f), adpcm); // 44622 bytes/s: 1024-byte blocks of 1012 samples

    // IMA ADPCM: samples per block only.
    f = Suggest(0x11, Pcm(22050, 1, 8));
    ASSERT_FALSE(f.empty());
    const Bytes ima = {0x11, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x36, 0x2B,
                       0x00, 0x00, 0x00, 0x04, 0x04, 0x00, 0x02, 0x00, 0xF9, 0x07};
    EXPECT_EQ(Header(f), ima); // 11062 bytes/s: 1024-byte blocks of 2041 samples

    // GSM 6.10 at a rate other than 8 kHz: the block rate, not the nominal 13 kbit/s.
    f = Suggest(0x31, Pcm(22050, 1, 16));
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(Get32(f, 8), 4478u);
    EXPECT_EQ(Get16(f, 12), 65);
    EXPECT_EQ(Get16(f, 14), 0);
    EXPECT_EQ(Get16(f, 16), 2);
    EXPECT_EQ(Get16(f, 18), 320);
}

TEST(AcmFormat, ExtraBytesOfTheMpegCodecs) {
    Bytes f = Suggest(0x50, Pcm(44100, 2, 16));
    ASSERT_FALSE(f.empty());
    const Bytes mp2 = {0x50, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x80, 0x3E, 0x00,
                       0x00, 0xA2, 0x01, 0x00, 0x00, 0x16, 0x00, // 128 kbit/s, 418
                       0x02, 0x00, 0x00, 0xF4, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
                       0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Header(f), mp2);
    if (HasEncoder(0x55)) {
        f = Suggest(0x55, Pcm(44100, 1, 16));
        ASSERT_FALSE(f.empty());
        const Bytes mp3 = {0x55, 0x00, 0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x40, 0x1F, 0x00, 0x00,
                           0x80, 0x04, 0x00, 0x00, 0x0C, 0x00, // 64 kbit/s
                           0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x80, 0x04, 0x01, 0x00, 0x71, 0x05};
        EXPECT_EQ(Header(f), mp3);
    }
}

TEST(AcmFormat, SuggestRefusesWhatTheCodecRefuses) {
    TAcmResult r;
    EXPECT_TRUE(Suggest(0x31, Pcm(22050, 2, 16), &r).empty()); // GSM is mono only
    EXPECT_EQ(r, TAcmResult::NotPossible);
    EXPECT_TRUE(Suggest(0x2000, Pcm(22050, 2, 16), &r).empty()); // AC-3 has no 22.05 kHz
    EXPECT_TRUE(Suggest(0x50, Pcm(8000, 1, 16), &r).empty());
    EXPECT_TRUE(Suggest(0x1234, Pcm(44100, 2, 16), &r).empty()); // no such codec
    EXPECT_EQ(r, TAcmResult::NotPossible);
    EXPECT_TRUE(Suggest(0x160, Pcm(44100, 2, 16), &r).empty()); // decode only
    Bytes bad = Pcm(44100, 2, 16);
    Put16(bad, 12, 3); // block align that does not fit the channels and bits
    EXPECT_TRUE(Suggest(0x11, bad, &r).empty());
    EXPECT_EQ(r, TAcmResult::BadFormat);
    Bytes tooSmall(8, 0);
    EXPECT_EQ(
        AcmFormatSuggest(Pcm(44100, 2, 16).data(), 128, tooSmall.data(), 8, AcmSuggestFormatTag),
        TAcmResult::InvalidParam);
}

TEST(AcmFormat, CompressedSourcesSuggestPcmAtTheirOwnRate) {
    const Bytes ima = Suggest(0x11, Pcm(11025, 1, 16));
    ASSERT_FALSE(ima.empty());
    Bytes dst(128, 0);
    ASSERT_EQ(AcmFormatSuggest(ima.data(), 128, dst.data(), 128, 0), TAcmResult::Ok);
    EXPECT_EQ(Header(dst), Header(Pcm(11025, 1, 16)));
}

// ---- Streams --------------------------------------------------------------------------------

TEST(AcmStream, OpenRefusesBadAndImpossibleFormats) {
    TAcmStreamPtr s;
    const Bytes pcm = Pcm(44100, 2, 16);
    const Bytes ima = Suggest(0x11, pcm);
    ASSERT_FALSE(ima.empty());
    EXPECT_EQ(AcmStreamOpen(s, pcm.data(), 128, ima.data(), 128), TAcmResult::Ok);
    EXPECT_TRUE(s);
    // Codecs keep rate and channels.
    EXPECT_EQ(AcmStreamOpen(s, Pcm(22050, 2, 16).data(), 128, ima.data(), 128),
              TAcmResult::NotPossible);
    EXPECT_FALSE(s);
    EXPECT_EQ(AcmStreamOpen(s, ima.data(), 128, Pcm(44100, 1, 16).data(), 128),
              TAcmResult::NotPossible);
    // An extra size beyond the block.
    Bytes broken = ima;
    Put16(broken, 16, 200);
    EXPECT_EQ(AcmStreamOpen(s, broken.data(), 128, pcm.data(), 128), TAcmResult::BadFormat);
    // Extra bytes the encoder would not write.
    broken = ima;
    Put16(broken, 18, 1000);
    EXPECT_EQ(AcmStreamOpen(s, pcm.data(), 128, broken.data(), 128), TAcmResult::NotPossible);
    // Unknown tag, codec to codec, 24-bit PCM.
    Bytes unknown = ima;
    Put16(unknown, 0, 0x1234);
    EXPECT_EQ(AcmStreamOpen(s, unknown.data(), 128, pcm.data(), 128), TAcmResult::NotPossible);
    EXPECT_EQ(AcmStreamOpen(s, ima.data(), 128, ima.data(), 128), TAcmResult::NotPossible);
    EXPECT_EQ(AcmStreamOpen(s, Pcm(44100, 2, 24).data(), 128, pcm.data(), 128),
              TAcmResult::BadFormat);
    EXPECT_EQ(AcmStreamOpen(s, nullptr, 0, pcm.data(), 128), TAcmResult::BadFormat);
    EXPECT_FALSE(s);
}

TEST(AcmStream, PcmConversionKeepsLevelAndAveragesChannels) {
    // Stereo 16-bit frames (L, R): (1000, 3000), (-256, 256), (32767, 32767).
    const int16_t in[] = {1000, 3000, -256, 256, 32767, 32767};
    Bytes src(sizeof(in));
    std::memcpy(src.data(), in, sizeof(in));
    const Bytes mono = ConvertAll(Pcm(44100, 2, 16), Pcm(44100, 1, 16), src);
    ASSERT_EQ(mono.size(), 6u);
    int16_t m[3];
    std::memcpy(m, mono.data(), 6);
    EXPECT_EQ(m[0], 2000);
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ(m[2], 32767);

    // 16 to 8 bits keeps the top byte; 8-bit is unsigned.
    const Bytes eight = ConvertAll(Pcm(44100, 2, 16), Pcm(44100, 2, 8), src);
    EXPECT_EQ(eight, (Bytes{0x83, 0x8B, 0x7F, 0x81, 0xFF, 0xFF}));

    // Mono to stereo copies at full level.
    const Bytes back = ConvertAll(Pcm(44100, 1, 16), Pcm(44100, 2, 16), mono);
    ASSERT_EQ(back.size(), 12u);
    int16_t st[6];
    std::memcpy(st, back.data(), 12);
    EXPECT_EQ(st[0], 2000);
    EXPECT_EQ(st[1], 2000);
    EXPECT_EQ(st[4], 32767);
}

TEST(AcmStream, PcmRateChangeGivesTheRightLengthAndLeavesPartialFrames) {
    const Bytes src = Sine16(22050, 2, 22050);
    TAcmStreamPtr s;
    ASSERT_EQ(AcmStreamOpen(s, Pcm(22050, 2, 16).data(), 128, Pcm(44100, 2, 16).data(), 128),
              TAcmResult::Ok);
    Bytes data = src;
    data.push_back(0x55); // half a frame: left for the caller
    uint32_t size = 0;
    ASSERT_EQ(AcmStreamSize(*s, uint32_t(data.size()), size), TAcmResult::Ok);
    Bytes out(size);
    TAcmStreamHeader h{data.data(), uint32_t(data.size()), 0, out.data(), size, 0, false};
    ASSERT_EQ(AcmStreamPrepareHeader(*s, h), TAcmResult::Ok);
    ASSERT_EQ(AcmStreamConvert(*s, h, AcmConvertEnd), TAcmResult::Ok);
    EXPECT_EQ(h.SrcLengthUsed, src.size());
    EXPECT_EQ(h.DstLengthUsed % 4, 0u);
    EXPECT_NEAR(double(h.DstLengthUsed) / 4, 44100, 4);
}

TEST(AcmStream, EncoderTakesWholeFramesAndFlushesAtTheEnd) {
    const Bytes pcm = Pcm(44100, 2, 16);
    const Bytes mp2 = Suggest(0x50, pcm);
    ASSERT_FALSE(mp2.empty());
    TAcmStreamPtr s;
    ASSERT_EQ(AcmStreamOpen(s, pcm.data(), 128, mp2.data(), 128), TAcmResult::Ok);
    const Bytes src = Sine16(44100, 2, 3000); // two frames of 1152, and 696 samples
    uint32_t size = 0;
    ASSERT_EQ(AcmStreamSize(*s, uint32_t(src.size()), size), TAcmResult::Ok);
    Bytes out(size);
    TAcmStreamHeader h{src.data(), uint32_t(src.size()), 0, out.data(), size, 0, false};
    ASSERT_EQ(AcmStreamPrepareHeader(*s, h), TAcmResult::Ok);
    ASSERT_EQ(AcmStreamConvert(*s, h, AcmConvertBlockAlign), TAcmResult::Ok);
    EXPECT_EQ(h.SrcLengthUsed, 2304u * 4);
    const uint32_t first = h.DstLengthUsed;
    EXPECT_GE(first, 2u * 417); // 1152-sample frames of 417 or 418 bytes at 128 kbit/s
    EXPECT_LE(first, 2u * 418);

    // The end call takes the rest and, as the codec's 481 samples of delay would keep the last
    // of them, that much silence: 3000 + 481 samples make four frames.
    h.Src = src.data() + h.SrcLengthUsed;
    h.SrcLength = uint32_t(src.size()) - h.SrcLengthUsed;
    ASSERT_EQ(AcmStreamSize(*s, h.SrcLength, size), TAcmResult::Ok);
    Bytes tail(size);
    h.Dst = tail.data();
    h.DstLength = size;
    ASSERT_EQ(AcmStreamConvert(*s, h, AcmConvertEnd), TAcmResult::Ok);
    EXPECT_EQ(h.SrcLengthUsed, 696u * 4);
    const uint32_t total = first + h.DstLengthUsed;
    EXPECT_GE(total, 4u * 417);
    EXPECT_LE(total, 4u * 418);
    EXPECT_EQ(tail[0], 0xFF); // the tail starts on a frame header

    // A new stream begins after the end: the same input gives the same bytes again.
    Bytes again(4 * 418 + 1000);
    TAcmStreamHeader h2{
        src.data(), uint32_t(src.size()), 0, again.data(), uint32_t(again.size()), 0, false};
    ASSERT_EQ(AcmStreamPrepareHeader(*s, h2), TAcmResult::Ok);
    ASSERT_EQ(AcmStreamConvert(*s, h2, AcmConvertEnd), TAcmResult::Ok);
    EXPECT_EQ(h2.DstLengthUsed, total);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + first, again.begin()));
}

TEST(AcmStream, OutputThatDoesNotFitWaitsForTheNextCall) {
    const Bytes pcm = Pcm(22050, 1, 16);
    const Bytes ima = Suggest(0x11, pcm);
    ASSERT_FALSE(ima.empty());
    const Bytes src = Sine16(22050, 1, 2041 * 3);
    TAcmStreamPtr s;
    ASSERT_EQ(AcmStreamOpen(s, pcm.data(), 128, ima.data(), 128), TAcmResult::Ok);
    Bytes out(1500); // room for one 1024-byte block only; blocks are never split
    TAcmStreamHeader h{src.data(), uint32_t(src.size()), 0, out.data(), 1500, 0, false};
    ASSERT_EQ(AcmStreamPrepareHeader(*s, h), TAcmResult::Ok);
    ASSERT_EQ(AcmStreamConvert(*s, h, AcmConvertBlockAlign), TAcmResult::Ok);
    EXPECT_EQ(h.SrcLengthUsed, src.size());
    EXPECT_EQ(h.DstLengthUsed, 1024u);
    uint32_t size = 0;
    ASSERT_EQ(AcmStreamSize(*s, 0, size), TAcmResult::Ok);
    EXPECT_GE(size, 2048u);
    Bytes rest(size);
    TAcmStreamHeader h2{nullptr, 0, 0, rest.data(), size, 0, false};
    ASSERT_EQ(AcmStreamPrepareHeader(*s, h2), TAcmResult::Ok);
    ASSERT_EQ(AcmStreamConvert(*s, h2, AcmConvertBlockAlign), TAcmResult::Ok);
    EXPECT_EQ(h2.DstLengthUsed, 2048u);
}
