#include "MyAcmLayer.h"

#include "MyCommonParams.h"

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestData.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint16_t v) {
    std::memcpy(&b[at], &v, 2);
}
uint32_t Get(const Bytes& b, size_t at, size_t n) {
    uint32_t v = 0;
    std::memcpy(&v, &b[at], n);
    return v;
}

// A 128-byte format block holding a PCM header.
Bytes Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    const uint16_t align = uint16_t(channels * bits / 8);
    const TWaveFormatEx w{1, channels, rate, rate * align, align, bits, 0};
    Bytes b(128, 0);
    std::memcpy(b.data(), &w, 18);
    return b;
}

Bytes Suggest(uint16_t tag, const Bytes& src, TAcmResult* result = nullptr) {
    Bytes dst(128, 0);
    Put16(dst, 0, tag);
    TAcmResult r =
        AcmFormatSuggest(src.data(), uint32_t(src.size()), dst.data(), 128, AcmSuggestFormatTag);
    if (result)
        *result = r;
    return r == TAcmResult::Ok ? dst : Bytes{};
}

// The header and extra bytes of a format block.
Bytes Header(const Bytes& block) {
    return Bytes(block.begin(), block.begin() + 18 + Get(block, 16, 2));
}

TAcmStreamPtr Open(const Bytes& src, const Bytes& dst) {
    TAcmStreamPtr s;
    EXPECT_EQ(AcmStreamOpen(s, src.data(), 128, dst.data(), 128), TAcmResult::Ok);
    return s;
}

// One conversion call into a buffer of `room` bytes (the stream's own estimate when 0); gives the
// bytes written and, in *used, the source bytes taken.
Bytes Convert(TAcmStream& s, const uint8_t* src, size_t n, uint32_t flags, uint32_t* used = nullptr,
              uint32_t room = 0) {
    if (room == 0) {
        EXPECT_EQ(AcmStreamSize(s, uint32_t(n), room), TAcmResult::Ok);
    }
    Bytes out(room);
    TAcmStreamHeader h{src, uint32_t(n), 0, out.data(), room, 0, false};
    EXPECT_EQ(AcmStreamPrepareHeader(s, h), TAcmResult::Ok);
    EXPECT_EQ(AcmStreamConvert(s, h, flags), TAcmResult::Ok);
    EXPECT_EQ(AcmStreamUnprepareHeader(s, h), TAcmResult::Ok);
    if (used)
        *used = h.SrcLengthUsed;
    out.resize(h.DstLengthUsed);
    return out;
}

// Runs all of data through a fresh stream, flushing at the end.
Bytes ConvertAll(const Bytes& srcFmt, const Bytes& dstFmt, const Bytes& data) {
    TAcmStreamPtr s = Open(srcFmt, dstFmt);
    uint32_t used = 0;
    Bytes out = s ? Convert(*s, data.data(), data.size(), AcmConvertEnd, &used) : Bytes{};
    EXPECT_EQ(used, data.size());
    return out;
}

Bytes Sine16(uint32_t rate, uint16_t channels, uint32_t frames) {
    Bytes b(size_t(frames) * channels * 2);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t ch = 0; ch < channels; ++ch) {
            const int16_t s =
                int16_t(std::lrint(12000 * std::sin(2 * M_PI * (440.0 + 220 * ch) * i / rate)));
            std::memcpy(&b[(size_t(i) * channels + ch) * 2], &s, 2);
        }
    return b;
}

bool HasEncoder(uint16_t tag) {
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    return avcodec_find_encoder(av_codec_get_id(tags, tag)) != nullptr;
}

} // namespace

// ---- Catalogue ------------------------------------------------------------------------------

TEST(AcmCatalogue, CodecsWithPcmFirstNeutralNamesAndTheConverterLast) {
    std::vector<uint32_t> supports;
    std::map<uint32_t, bool> canEncode;
    AcmDriverEnum([&](TAcmDriverId id, uint32_t support) {
        supports.push_back(support);
        TAcmDriverDetails d;
        EXPECT_EQ(AcmDriverDetails(id, d), TAcmResult::Ok);
        std::string all = d.ShortName + "|" + d.LongName + "|" + d.Features + "|" + d.Copyright;
        TAcmDriverHandle h = 0;
        EXPECT_EQ(AcmDriverOpen(id, h), TAcmResult::Ok);
        EXPECT_GT(d.FormatTagCount, 0u);
        for (uint32_t i = 0; i < d.FormatTagCount; ++i) {
            TAcmFormatTagDetails t;
            EXPECT_EQ(AcmFormatTagDetails(h, i, t), TAcmResult::Ok);
            all += "|" + t.Name;
            EXPECT_LT(t.Name.size(), 48u);
            canEncode[t.FormatTag] = canEncode[t.FormatTag] || t.CanEncode;
            // PCM first at 16 bytes; the largest block of a codec's tag fits its extra bytes.
            const std::map<uint32_t, uint32_t> size = {{0x01, 16}, {0x02, 50}, {0x11, 20},
                                                       {0x31, 20}, {0x50, 40}, {0x55, 30}};
            if (i == 0 && support == AcmDriverSupportCodec) {
                EXPECT_EQ(t.FormatTag, 1u);
            }
            if (size.count(t.FormatTag) && (t.FormatTag != 0x55 || t.CanEncode)) {
                EXPECT_EQ(t.FormatSize, size.at(t.FormatTag)) << t.FormatTag;
            }
        }
        EXPECT_EQ(AcmDriverClose(h), TAcmResult::Ok);
        for (char& c : all)
            c = char(std::tolower(uint8_t(c)));
        for (const char* v : {"microsoft", "fraunhofer", "dolby", "sony", "windows", "apple",
                              "intel", "creative", "yamaha"})
            EXPECT_EQ(all.find(v), std::string::npos) << all;
        return true;
    });
    ASSERT_GE(supports.size(), 3u);
    EXPECT_EQ(supports.back(), AcmDriverSupportConverter);
    supports.pop_back();
    EXPECT_EQ(supports, std::vector<uint32_t>(supports.size(), AcmDriverSupportCodec));
    for (uint32_t want : {0x02u, 0x06u, 0x07u, 0x11u, 0x31u, 0x50u, 0x55u, 0x161u, 0x2000u})
        EXPECT_TRUE(canEncode.count(want)) << want;
    // Tags mapped only for decoding are there too, never offered for encoding.
    ASSERT_TRUE(canEncode.count(0x160));
    EXPECT_FALSE(canEncode[0x160]);
}

// ---- Format blocks --------------------------------------------------------------------------

// Whole headers, byte for byte as libavformat's RIFF writer puts them in a "fmt " chunk: tag,
// channels, rate, bytes/s, block align, bits, extra size, and the codec's extra fields.
TEST(AcmFormat, HeaderBytesOfEachCodec) {
    struct TCase {
        uint16_t Tag;
        uint32_t Rate;
        uint16_t Channels, Bits;
        const char* Expected;
    };
    const TCase cases[] = {
        // ADPCM: 1024-byte blocks, seven coefficient pairs.
        {0x02, 44100, 2, 16,
         "0200 0200 44AC0000 4EAE0000 0004 0400 2000 F403 0700 00010000 000200FF 00000000 "
         "C0004000 F0000000 CC0130FF 880118FF"},
        {0x02, 22050, 1, 16,
         "0200 0100 22560000 512B0000 0004 0400 2000 F407 0700 00010000 000200FF 00000000 "
         "C0004000 F0000000 CC0130FF 880118FF"},
        {0x06, 44100, 2, 16, "0600 0200 44AC0000 88580100 0200 0800 0000"},
        {0x07, 22050, 1, 16, "0700 0100 22560000 22560000 0100 0800 0000"},
        // IMA ADPCM: 1024-byte blocks; from 8-bit too.
        {0x11, 44100, 2, 16, "1100 0200 44AC0000 73AD0000 0004 0400 0200 F903"},
        {0x11, 22050, 1, 16, "1100 0100 22560000 362B0000 0004 0400 0200 F907"},
        {0x11, 22050, 1, 8, "1100 0100 22560000 362B0000 0004 0400 0200 F907"},
        // GSM 6.10 at a rate other than 8 kHz: the block rate, not the nominal 13 kbit/s.
        {0x31, 22050, 1, 16, "3100 0100 22560000 7E110000 4100 0000 0200 4001"},
        {0x31, 8000, 1, 16, "3100 0100 401F0000 59060000 4100 0000 0200 4001"},
        // MPEG layer 2: layer, bit rate, mode, mode extension, emphasis, flags, PTS.
        {0x50, 44100, 2, 16,
         "5000 0200 44AC0000 803E0000 A201 0000 1600 0200 00F40100 0100 0000 0100 1000 00000000 "
         "00000000"},
        {0x50, 22050, 1, 16,
         "5000 0100 22560000 A00F0000 D100 0000 1600 0200 007D0000 0800 0000 0100 1000 00000000 "
         "00000000"},
        // MPEG layer 3: id, flags, block size, frames per block, codec delay.
        {0x55, 44100, 2, 16,
         "5500 0200 44AC0000 803E0000 8004 0000 0C00 0100 02000000 8004 0100 7105"},
        {0x55, 44100, 1, 16,
         "5500 0100 44AC0000 401F0000 8004 0000 0C00 0100 02000000 8004 0100 7105"},
        {0x55, 22050, 1, 16,
         "5500 0100 22560000 A00F0000 4002 0000 0C00 0100 02000000 8004 0100 7105"},
        {0x161, 44100, 2, 16, "6101 0200 44AC0000 803E0000 E702 1000 0A00 00000000 01000000 0000"},
        {0x2000, 48000, 2, 16, "0020 0200 80BB0000 803E0000 000F 1000 0000"},
    };
    for (const TCase& c : cases) {
        if (!HasEncoder(c.Tag))
            continue;
        SCOPED_TRACE(testing::Message() << std::hex << c.Tag << std::dec << " " << c.Rate << " "
                                        << c.Channels << " " << c.Bits);
        const Bytes f = Suggest(c.Tag, Pcm(c.Rate, c.Channels, c.Bits));
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(Header(f), HexBytes(c.Expected));
    }
}

TEST(AcmFormat, SuggestRefusesWhatTheCodecRefuses) {
    TAcmResult r;
    EXPECT_TRUE(Suggest(0x31, Pcm(22050, 2, 16), &r).empty()); // GSM is mono only
    EXPECT_EQ(r, TAcmResult::NotPossible);
    EXPECT_TRUE(Suggest(0x2000, Pcm(22050, 2, 16), &r).empty()); // AC-3 has no 22.05 kHz
    EXPECT_TRUE(Suggest(0x50, Pcm(8000, 1, 16), &r).empty());
    EXPECT_TRUE(Suggest(0x160, Pcm(44100, 2, 16), &r).empty());  // decode only
    EXPECT_TRUE(Suggest(0x1234, Pcm(44100, 2, 16), &r).empty()); // no such codec
    EXPECT_EQ(r, TAcmResult::NotPossible);
    Bytes bad = Pcm(44100, 2, 16);
    Put16(bad, 12, 3); // block align that does not fit the channels and bits
    EXPECT_TRUE(Suggest(0x11, bad, &r).empty());
    EXPECT_EQ(r, TAcmResult::BadFormat);
    Bytes tooSmall(8, 0);
    EXPECT_EQ(
        AcmFormatSuggest(Pcm(44100, 2, 16).data(), 128, tooSmall.data(), 8, AcmSuggestFormatTag),
        TAcmResult::InvalidParam);

    // From a compressed source the suggestion is PCM at the source's own rate.
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
    // Unknown tag, codec to codec, 24-bit PCM, no format.
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
    const Bytes src(reinterpret_cast<const uint8_t*>(in), reinterpret_cast<const uint8_t*>(in + 6));
    const Bytes mono = ConvertAll(Pcm(44100, 2, 16), Pcm(44100, 1, 16), src);
    EXPECT_EQ(mono, HexBytes("D007 0000 FF7F"));
    // 16 to 8 bits keeps the top byte; 8-bit is unsigned.
    EXPECT_EQ(ConvertAll(Pcm(44100, 2, 16), Pcm(44100, 2, 8), src), HexBytes("838B 7F81 FFFF"));
    // Mono to stereo copies at full level.
    EXPECT_EQ(ConvertAll(Pcm(44100, 1, 16), Pcm(44100, 2, 16), mono),
              HexBytes("D007D007 00000000 FF7FFF7F"));
}

TEST(AcmStream, PcmRateChangeGivesTheRightLengthAndLeavesPartialFrames) {
    Bytes data = Sine16(22050, 2, 22050);
    data.push_back(0x55); // half a frame: left for the caller
    TAcmStreamPtr s = Open(Pcm(22050, 2, 16), Pcm(44100, 2, 16));
    ASSERT_TRUE(s);
    uint32_t used = 0;
    const Bytes out = Convert(*s, data.data(), data.size(), AcmConvertEnd, &used);
    EXPECT_EQ(used, data.size() - 1);
    EXPECT_EQ(out.size() % 4, 0u);
    EXPECT_NEAR(double(out.size()) / 4, 44100, 4);
    // The resampler runs on across calls: the same sound in two calls gives the same bytes.
    TAcmStreamPtr t = Open(Pcm(22050, 2, 16), Pcm(44100, 2, 16));
    Bytes split = Convert(*t, data.data(), 4 * 1001, AcmConvertBlockAlign);
    const Bytes rest = Convert(*t, data.data() + 4 * 1001, data.size() - 4 * 1001, AcmConvertEnd);
    split.insert(split.end(), rest.begin(), rest.end());
    EXPECT_EQ(split, out);
}

TEST(AcmStream, EncoderTakesWholeFramesAndFlushesAtTheEnd) {
    TAcmStreamPtr s = Open(Pcm(44100, 2, 16), Suggest(0x50, Pcm(44100, 2, 16)));
    ASSERT_TRUE(s);
    const Bytes src = Sine16(44100, 2, 3000); // two frames of 1152, and 696 samples
    uint32_t used = 0;
    const Bytes first = Convert(*s, src.data(), src.size(), AcmConvertBlockAlign, &used);
    EXPECT_EQ(used, 2304u * 4);
    EXPECT_GE(first.size(), 2u * 417); // 1152-sample frames of 417 or 418 bytes at 128 kbit/s
    EXPECT_LE(first.size(), 2u * 418);

    // The end call takes the rest and, as the codec's 481 samples of delay would keep the last
    // of them, that much silence: 3000 + 481 samples make four frames.
    const Bytes tail = Convert(*s, src.data() + used, src.size() - used, AcmConvertEnd, &used);
    EXPECT_EQ(used, 696u * 4);
    const size_t total = first.size() + tail.size();
    EXPECT_GE(total, 4u * 417);
    EXPECT_LE(total, 4u * 418);
    EXPECT_EQ(tail.at(0), 0xFF); // the tail starts on a frame header

    // A new stream begins after the end: the same input in one call gives the same bytes.
    Bytes whole = first;
    whole.insert(whole.end(), tail.begin(), tail.end());
    EXPECT_EQ(Convert(*s, src.data(), src.size(), AcmConvertEnd, nullptr, 4 * 418 + 1000), whole);
}

TEST(AcmStream, OutputThatDoesNotFitWaitsForTheNextCall) {
    TAcmStreamPtr s = Open(Pcm(22050, 1, 16), Suggest(0x11, Pcm(22050, 1, 16)));
    ASSERT_TRUE(s);
    const Bytes src = Sine16(22050, 1, 2041 * 3);
    uint32_t used = 0;
    // Room for one 1024-byte block only; blocks are never split.
    EXPECT_EQ(Convert(*s, src.data(), src.size(), AcmConvertBlockAlign, &used, 1500).size(), 1024u);
    EXPECT_EQ(used, src.size());
    EXPECT_EQ(Convert(*s, nullptr, 0, AcmConvertBlockAlign).size(), 2048u);
}

// The estimate for a parsed codec never comes from the header's byte rate or sample rate (a
// byte rate of 0 once asked for gigabytes); what a decode makes is handed out in full all the
// same, the part beyond the caller's room by a call with no source, and the ended stream stays
// ended for it.
TEST(AcmStream, DecodeSizeIgnoresTheHeaderAndPendingOutputIsHandedOut) {
    const Bytes pcm = Pcm(44100, 2, 16);
    Bytes mp2 = Suggest(0x50, pcm);
    ASSERT_FALSE(mp2.empty());
    const Bytes coded = ConvertAll(pcm, mp2, Sine16(44100, 2, 11025));
    Bytes lying = mp2;
    std::memcpy(&lying[4], "\xff\xb7\x0b\x00", 4); // nSamplesPerSec 767999
    std::memset(&lying[8], 0, 4);                  // nAvgBytesPerSec 0
    const Bytes lyingPcm = Pcm(767999, 2, 16);
    TAcmStreamPtr s = Open(lying, lyingPcm);
    ASSERT_TRUE(s);
    uint32_t room = 0;
    ASSERT_EQ(AcmStreamSize(*s, uint32_t(coded.size()), room), TAcmResult::Ok);
    EXPECT_LT(room, 16u << 20);

    // 1000 bytes of room, then the rest in one call without source.
    uint32_t used = 0;
    Bytes out = Convert(*s, coded.data(), coded.size(), AcmConvertEnd, &used, 1000);
    EXPECT_EQ(used, coded.size());
    uint32_t pending = 0;
    ASSERT_EQ(AcmStreamPending(*s, pending), TAcmResult::Ok);
    const Bytes rest = Convert(*s, nullptr, 0, 0, nullptr, pending);
    EXPECT_EQ(rest.size(), pending);
    ASSERT_EQ(AcmStreamPending(*s, pending), TAcmResult::Ok);
    EXPECT_EQ(pending, 0u);
    out.insert(out.end(), rest.begin(), rest.end());
    // 11025 samples at 44.1 kHz taken to 767999 Hz: about a quarter second.
    EXPECT_GT(out.size() / 4, 767999u / 4 - 767999u / 50);
    EXPECT_LT(out.size() / 4, 767999u / 4 + 767999u / 10);
}
