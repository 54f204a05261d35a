#include "MyPCMTrans.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>

#include "MediaRig.h"
#include "WavFixtures.h"

namespace {

std::vector<uint8_t> S16(std::initializer_list<int> values) {
    std::vector<uint8_t> b(values.size() * 2);
    size_t i = 0;
    for (int v : values) {
        int16_t s = int16_t(v);
        std::memcpy(&b[2 * i++], &s, 2);
    }
    return b;
}

std::vector<int> Get16(const std::vector<uint8_t>& b) {
    std::vector<int> v(b.size() / 2);
    for (size_t i = 0; i < v.size(); ++i) {
        int16_t s;
        std::memcpy(&s, &b[2 * i], 2);
        v[i] = s;
    }
    return v;
}

std::vector<int> Convert16(uint32_t srcRate, uint32_t dstRate, std::initializer_list<int> v) {
    TPCMTrans t;
    std::vector<uint8_t> b = S16(v);
    EXPECT_TRUE(t.ConvertBuffer(Pcm(srcRate, 1, 16), Pcm(dstRate, 1, 16), b));
    return Get16(b);
}

std::vector<uint8_t> Convert(const TAudioFormat& src, const TAudioFormat& dst,
                             std::vector<uint8_t> b) {
    TPCMTrans t;
    EXPECT_TRUE(t.ConvertBuffer(src, dst, b));
    return b;
}

TAudioSourceInfo Source(std::vector<uint8_t> b, Extended balance = 0, Extended volume = 0) {
    return TAudioSourceInfo(7, std::move(b), balance, volume);
}

// Mixes the given sources in a format and returns the mix.
TMixBuffer Mix(TPCMTrans& t, const TAudioFormat& format) {
    TMixBuffer out;
    out.Format = format;
    EXPECT_TRUE(t.MixSources(out));
    return out;
}

} // namespace

using V = std::vector<int>;
using B = std::vector<uint8_t>;

TEST(PCMConvert, WholeRateFactorsRepeatOrDropSamples) {
    EXPECT_EQ(Convert16(22050, 44100, {1, 2, 3}), (V{1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(Convert16(44100, 22050, {10, 11, 12, 13, 14}), (V{10, 12}));
    EXPECT_EQ(Convert16(44100, 11025, {10, 11, 12, 13, 14, 15, 16, 17}), (V{10, 14}));
    EXPECT_EQ(Convert16(44100, 22050, {5, 6, 7}), (V{5}));
    EXPECT_EQ(Convert16(11025, 44100, {9}), (V{9, 9, 9, 9}));
}

TEST(PCMConvert, OtherRatesAreResampledToLengthAndPitch) {
    // A ramp of 480 frames at 48 kHz (10 ms) becomes 441 frames at 44.1 kHz; output frame j
    // lies at source position j x 160 / 147 on the same ramp.
    std::vector<uint8_t> b(480 * 2);
    for (int i = 0; i < 480; ++i) {
        int16_t v = int16_t(i * 50);
        std::memcpy(&b[2 * i], &v, 2);
    }
    const V out = Get16(Convert(Pcm(48000, 1, 16), Pcm(44100, 1, 16), b));
    ASSERT_EQ(out.size(), 441u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[147], 160 * 50);
    EXPECT_EQ(out[1], 54); // 50 x 160 / 147 = 54.4, toward zero
    EXPECT_EQ(out[440], 478 * 50 + 50 * (440 * 160 % 147) / 147);

    EXPECT_EQ(TPCMTrans::ConvertedCount(Pcm(44100, 1, 16), Pcm(48000, 1, 16), 441), 480);
    EXPECT_EQ(TPCMTrans::ConvertedCount(Pcm(22050, 2, 16), Pcm(48000, 2, 16), 735), 1600);
    EXPECT_EQ(TPCMTrans::ConvertedCount(Pcm(22050, 2, 16), Pcm(48000, 2, 16), 0), 0);
    EXPECT_EQ(TPCMTrans::ConvertedCount(Pcm(22050, 2, 16), Pcm(48000, 2, 16), -1), -1);
    // Up-sampling past the last source frame holds its value.
    EXPECT_EQ(Convert16(44100, 48000, {300, 300, 300}), (V{300, 300, 300}));
}

// A source cut into per-frame blocks converts as one signal: every output frame, at the blocks'
// edges too, equals the conversion of the whole signal; past the source's end comes silence.
TEST(PCMStream, BlocksConvertAsTheWholeSignalDoes) {
    struct TCase {
        uint32_t From, To;
        uint16_t Channels, Bits;
        Extended Fps;
        int Seconds;
    };
    const TCase cases[] = {
        {44100, 48000, 1, 16, 25, 10},
        {44100, 48000, 2, 16, 30000.0L / 1001, 1},
        {48000, 44100, 2, 16, 24, 1},
        {22050, 44100, 1, 16, 30000.0L / 1001, 1},
        {44100, 22050, 2, 16, 30000.0L / 1001, 1},
        {32000, 44100, 2, 8, 15, 1},
        {44100, 44100, 2, 8, 30000.0L / 1001, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.From) + " -> " + std::to_string(c.To));
        const TAudioFormat src = Pcm(c.From, c.Channels, 16), dst = Pcm(c.To, c.Channels, c.Bits);
        const int srcAlign = c.Channels * 2, dstAlign = c.Channels * c.Bits / 8;
        // The source line does not end on a block edge.
        const B signal = MakeSineSamples(int(c.From) * c.Seconds + 7, c.Channels, c.From);
        B whole = signal;
        TPCMTrans w;
        ASSERT_TRUE(w.ConvertBuffer(src, dst, whole));

        TPCMTrans t;
        B stream;
        size_t at = 0;
        for (int64_t k = 0; stream.size() < whole.size() + 4000; ++k) {
            const int64_t frames = FrameSampleCount(k, c.To, c.Fps);
            const int64_t need = t.StreamSourceFrames(src, dst, frames);
            ASSERT_GE(need, 0);
            const size_t end = std::min(signal.size(), at + size_t(need) * srcAlign);
            B block(signal.begin() + long(std::min(at, end)), signal.begin() + long(end));
            at += size_t(need) * srcAlign;
            ASSERT_TRUE(t.ConvertStream(src, dst, block, frames));
            ASSERT_EQ(block.size(), size_t(frames * dstAlign));
            stream.insert(stream.end(), block.begin(), block.end());
        }
        ASSERT_TRUE(std::equal(whole.begin(), whole.end(), stream.begin()));
        const uint8_t silence = c.Bits == 8 ? 0x80 : 0;
        EXPECT_TRUE(std::all_of(stream.begin() + long(whole.size()), stream.end(),
                                [silence](uint8_t v) { return v == silence; }));
    }
}

TEST(PCMStream, OtherFormatsOrAResetStartANewLine) {
    const TAudioFormat s44 = Pcm(44100, 1, 16), s48 = Pcm(48000, 1, 16);
    const B ramp = S16({0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000});
    auto first = [&](TPCMTrans& t, const TAudioFormat& dst) {
        B b(ramp.begin(), ramp.begin() + 2 * t.StreamSourceFrames(s44, dst, 5));
        EXPECT_TRUE(t.ConvertStream(s44, dst, b, 5));
        return Get16(b);
    };
    TPCMTrans t;
    const V start = first(t, s48);
    EXPECT_EQ(start, (V{0, 918, 1837, 2756, 3675})); // j x 147 / 160 x 1000, toward zero
    EXPECT_NE(first(t, s48), start);                 // goes on from where it stood
    t.ResetStream();
    EXPECT_EQ(first(t, s48), start);
    EXPECT_EQ(first(t, Pcm(22050, 1, 16)), (V{0, 2000, 4000, 6000, 8000}));
    EXPECT_EQ(first(t, s48), start);
    // An unsupported format is refused and leaves the block as it was.
    B b = ramp;
    EXPECT_EQ(t.StreamSourceFrames(s44, Pcm(44100, 3, 16), 5), -1);
    EXPECT_FALSE(t.ConvertStream(s44, Pcm(44100, 3, 16), b, 5));
    EXPECT_EQ(b, ramp);
}

TEST(PCMConvert, BitDepthKeepsTheLevelAndEightBitIsUnsigned) {
    TAudioFormat m8 = Pcm(22050, 1, 8), m16 = Pcm(22050, 1, 16);
    EXPECT_EQ(Convert(m16, m8, S16({32767, -32768, 0, 256, -1})),
              (B{0xFF, 0x00, 0x80, 0x81, 0x7F}));
    EXPECT_EQ(Get16(Convert(m8, m16, {0x00, 0x80, 0xFF})), (V{-32768, 0, 127 * 256}));
}

TEST(PCMConvert, ChannelsAreSpreadOrAveraged) {
    TAudioFormat m8 = Pcm(8000, 1, 8), s8 = Pcm(8000, 2, 8);
    TAudioFormat m16 = Pcm(8000, 1, 16), s16 = Pcm(8000, 2, 16);
    EXPECT_EQ(Get16(Convert(m16, s16, S16({-5, 1234}))), (V{-5, -5, 1234, 1234}));
    EXPECT_EQ(Get16(Convert(s16, m16, S16({1000, 3001, -7, 4}))), (V{2000, -1}));
    // Both channels count, whatever the bit depth on either side.
    EXPECT_EQ(Convert(s16, m8, S16({10000, 20000})), (B{128 + 58}));
    EXPECT_EQ(Convert(s8, m8, {0x80 + 10, 0x80 + 30}), (B{0x80 + 20}));
    EXPECT_EQ(Get16(Convert(s8, m16, {0x80 + 1, 0x80 + 2})), (V{3 * 128}));
    EXPECT_EQ(Convert(m8, s8, {0x10}), (B{0x10, 0x10}));
    EXPECT_EQ(Convert(s16, s8, S16({-32768, 32767})), (B{0x00, 0xFF}));
}

TEST(PCMConvert, SilenceStaysSilenceThroughEveryLayout) {
    const TAudioFormat formats[] = {Pcm(11025, 1, 8), Pcm(22050, 1, 16), Pcm(44100, 2, 8),
                                    Pcm(48000, 2, 16)};
    for (const auto& src : formats) {
        for (const auto& dst : formats) {
            std::vector<uint8_t> b(GetBlockAlign(src) * 40, PcmSilenceByte(src));
            TPCMTrans t;
            ASSERT_TRUE(t.ConvertBuffer(src, dst, b));
            for (uint8_t c : b)
                ASSERT_EQ(c, PcmSilenceByte(dst));
        }
    }
}

TEST(PCMConvert, SameOrUnsupportedFormatsLeaveTheBufferAlone) {
    TPCMTrans t;
    std::vector<uint8_t> b = {1, 2, 3};
    EXPECT_TRUE(t.ConvertBuffer(Pcm(8000, 1, 16), Pcm(8000, 1, 16), b));
    EXPECT_EQ(b, (B{1, 2, 3}));
    EXPECT_FALSE(t.ConvertBuffer(Pcm(8000, 1, 24), Pcm(8000, 1, 16), b));
    EXPECT_FALSE(t.ConvertBuffer(Pcm(8000, 1, 16), Pcm(8000, 6, 16), b));
    EXPECT_FALSE(t.ConvertBuffer(Pcm(0, 1, 8), Pcm(8000, 1, 16), b));
    EXPECT_EQ(b, (B{1, 2, 3}));
    // A trailing part-frame is dropped.
    EXPECT_TRUE(t.ConvertBuffer(Pcm(8000, 1, 16), Pcm(8000, 1, 8), b));
    EXPECT_EQ(b.size(), 1u);
}

TEST(PCMGain, VolumeLawAndBalance) {
    TPCMTrans t;
    auto gained = [&](int layout, Extended balance, Extended volume, TPcmSample s) {
        t.ApplyGain(layout, TPCMTrans::GainFactors(layout, balance, volume), s);
        return std::pair(s.Left, s.Right);
    };
    EXPECT_EQ(gained(plStereo16, 0, 0.0625L, {1000, -999}), std::pair(1000, -999));
    EXPECT_EQ(gained(plStereo16, 0, -0.5L, {1001, -999}), std::pair(500, -500)); // halves to even
    EXPECT_EQ(gained(plStereo16, 0, -1, {1000, -999}), std::pair(0, 0));
    EXPECT_EQ(gained(plStereo16, 0, 0.01L, {1000, 100}), std::pair(160, 16));
    EXPECT_EQ(gained(plStereo16, 1, 0, {1000, 1000}), std::pair(0, 2000));
    EXPECT_EQ(gained(plStereo16, -0.5L, 0, {1000, 1000}), std::pair(1500, 500));
    EXPECT_EQ(gained(plMono16, 1, 0, {1000, 0}).first, 1000); // balance means nothing in mono
    EXPECT_FALSE(t.GetClipped());
    EXPECT_EQ(gained(plStereo8, 0, 1, {10, -10}), std::pair(127, -128));
    EXPECT_TRUE(t.GetClipped());
    // Out-of-range curve values saturate instead of inverting or failing.
    EXPECT_EQ(gained(plStereo16, 5, -3, {1000, 1000}), std::pair(0, 0));
    EXPECT_EQ(gained(plMono16, 0, 1e30L, {1, 0}).first, 32767);
    Extended nan = std::numeric_limits<Extended>::quiet_NaN();
    EXPECT_EQ(gained(plStereo16, nan, nan, {3, 4}), std::pair(3, 4));
}

TEST(PCMMix, SumsAndClipsWithTheClippedFlag) {
    TPCMTrans t;
    TAudioFormat s16 = Pcm(44100, 2, 16);
    t.AddSource(Source(S16({30000, -30000, 100, -5})));
    t.AddSource(Source(S16({30000, -30000, 200, 3})));
    TMixBuffer out = Mix(t, s16);
    EXPECT_EQ(Get16(out.Buffer), (V{32767, -32768, 300, -2}));
    EXPECT_TRUE(out.Clipped);
    EXPECT_EQ(std::pair(out.FirstLeft, out.FirstRight), std::pair(127, -128));
    EXPECT_FALSE(t.HasSources());

    // The flag belongs to one mix.
    t.AddSource(Source(S16({1000, -1000})));
    out = Mix(t, s16);
    EXPECT_FALSE(out.Clipped);
    EXPECT_EQ(std::pair(out.FirstLeft, out.FirstRight), std::pair(3, -3));
}

TEST(PCMMix, GainAppliesPerSource) {
    TPCMTrans t;
    t.AddSource(Source(S16({1000, 1000}), 1, 0));   // right only, doubled
    t.AddSource(Source(S16({400, 400}), 0, -0.5L)); // halved
    t.AddSource(Source(S16({50, 50}), 0, 0.0625L)); // unchanged
    EXPECT_EQ(Get16(Mix(t, Pcm(44100, 2, 16)).Buffer), (V{250, 2250}));
}

TEST(PCMMix, EightBitSourcesMixAroundTheirSilence) {
    TPCMTrans t;
    t.AddSource(Source({0x80 + 100, 0x80 - 10, 0x80}));
    t.AddSource(Source({0x80 + 100, 0x80 - 20, 0x80}));
    const TMixBuffer out = Mix(t, Pcm(22050, 1, 8));
    EXPECT_EQ(out.Buffer, (B{0xFF, 0x80 - 30, 0x80}));
    EXPECT_TRUE(out.Clipped);
    EXPECT_EQ(std::pair(out.FirstLeft, out.FirstRight), std::pair(127, 127));
}

TEST(PCMMix, SourcesAreCutOrPaddedToTheFirst) {
    TPCMTrans t;
    TAudioFormat m8 = Pcm(22050, 1, 8);
    t.AddSource(Source(B(100, 0x90)));
    t.AddSource(Source(B(60, 0x90)));
    TMixBuffer out = Mix(t, m8);
    ASSERT_EQ(out.Buffer.size(), 100u);
    EXPECT_EQ(out.Buffer[59], 0xA0);
    EXPECT_EQ(out.Buffer[60], 0x90); // the short source is padded with silence, not zero bytes

    t.AddSource(Source(B(60, 0x90)));
    t.AddSource(Source(B(100, 0x90)));
    out = Mix(t, m8);
    EXPECT_EQ(out.Buffer, B(60, 0xA0));
}

TEST(PCMMix, EmptyQueueOrUnsupportedFormatFails) {
    TPCMTrans t;
    TMixBuffer out;
    out.Format = Pcm(44100, 2, 16);
    EXPECT_FALSE(t.MixSources(out));
    t.AddSource(Source(S16({1})));
    out.Format = Pcm(44100, 2, 24);
    EXPECT_FALSE(t.MixSources(out));
    EXPECT_FALSE(t.HasSources()); // the failed frame's blocks are dropped
}

TEST(PCMFrames, BlocksAreWholeSampleFrames) {
    EXPECT_EQ(FrameAudioBytes(Pcm(44100, 2, 16), 25), 1764 * 4);
    EXPECT_EQ(FrameAudioBytes(Pcm(44100, 2, 16), 30000.0L / 1001), 1471 * 4);
    EXPECT_EQ(FrameAudioBytes(Pcm(22050, 1, 8), 30), 735);
    EXPECT_EQ(FrameAudioBytes(Pcm(11025, 2, 8), 2), 5512 * 2); // 5512.5 rounds to even
    EXPECT_EQ(FrameAudioBytes(Pcm(44100, 2, 16), 0), 0);
    EXPECT_EQ(PcmSilenceByte(Pcm(8000, 2, 8)), 0x80);
    EXPECT_EQ(PcmSilenceByte(Pcm(8000, 2, 16)), 0x00);
}

// Blocks cut from one sample line: where rate / fps is whole every block has that size, else
// they differ by one sample frame and any run of them adds up to the line's length.
TEST(PCMFrames, BlocksFollowOneSampleLine) {
    const struct {
        uint32_t Rate;
        Extended Fps;
        int32_t Low, High; // the two block sizes met
    } rows[] = {
        {22050, 15, 1470, 1470},     {44100, 15, 2940, 2940},
        {22050, 25, 882, 882},       {44100, 25, 1764, 1764},
        {44100, 29.97L, 1471, 1472}, {48000, 24, 2000, 2000},
        {44100, 24, 1837, 1838},     {22050, 30000.0L / 1001, 735, 736},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.Rate) + " Hz at " + std::to_string(double(r.Fps)));
        int64_t sum = 0;
        for (int64_t n = 17982; n < 17982 + 300; ++n) { // ten minutes in at 29.97
            const int32_t c = FrameSampleCount(n, r.Rate, r.Fps);
            ASSERT_TRUE(c == r.Low || c == r.High) << n << ": " << c;
            sum += c;
        }
        EXPECT_EQ(FrameSampleStart(17982, r.Rate, r.Fps) + sum,
                  Round64(Extended(17982 + 300) * r.Rate / r.Fps));
    }
    EXPECT_EQ(FrameSampleStart(17982, 44100, 29.97L), 26460000); // 600 s exactly
    EXPECT_EQ(FrameSampleCount(0, 44100, 0), 0);
    EXPECT_EQ(ScaleSamples(1470, 22050, 44100), 2940);
    EXPECT_EQ(ScaleSamples(1471, 44100, 22050), 736); // 735.5 rounds to even
}
