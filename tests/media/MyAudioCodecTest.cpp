#include "MyAudioCodec.h"
#include "MyPCMTrans.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "MediaRig.h"

namespace {

// Two tones, a different one per channel, at about -8 dB.
Bytes Tones(const TAudioFormat& f, uint32_t frames) {
    const uint16_t ch = f.Wfx.nChannels, bits = f.Wfx.wBitsPerSample;
    Bytes b(size_t(frames) * ch * (bits / 8));
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < ch; ++c) {
            const double v =
                0.4 * std::sin(2 * M_PI * (440.0 + 330 * c) * i / f.Wfx.nSamplesPerSec);
            const size_t at = size_t(i) * ch + c;
            if (bits == 8) {
                b[at] = uint8_t(128 + std::lrint(v * 127));
            } else {
                const int16_t s = int16_t(std::lrint(v * 32767));
                std::memcpy(&b[at * 2], &s, 2);
            }
        }
    return b;
}

// Samples of one channel as values of -1..1.
std::vector<double> Channel(const Bytes& data, const TAudioFormat& f, int channel) {
    const uint16_t ch = f.Wfx.nChannels, bits = f.Wfx.wBitsPerSample;
    const size_t frames = data.size() / (ch * (bits / 8));
    std::vector<double> v(frames);
    for (size_t i = 0; i < frames; ++i) {
        const size_t at = i * ch + size_t(channel);
        if (bits == 8) {
            v[i] = (int(data[at]) - 128) / 128.0;
        } else {
            int16_t s;
            std::memcpy(&s, &data[at * 2], 2);
            v[i] = s / 32768.0;
        }
    }
    return v;
}

// Best normalised correlation of the window [start, start + length) of A against B shifted by
// fromLag..toLag samples (codecs add a delay of their own).
double BestCorrelation(const std::vector<double>& a, const std::vector<double>& b, long start,
                       long length, long fromLag, long toLag) {
    double best = 0;
    for (long lag = fromLag; lag <= toLag; ++lag) {
        if (start + length > long(a.size()) || start + lag < 0 ||
            start + lag + length > long(b.size()))
            continue;
        double ab = 0, aa = 0, bb = 0;
        for (long i = start; i < start + length; ++i) {
            const double x = a[size_t(i)], y = b[size_t(i + lag)];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0 && bb > 0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

// Feeds Data to Encode in blocks of the sizes given (repeated), then flushes.
Bytes EncodeInBlocks(TAudioCodec& codec, const Bytes& data, const std::vector<size_t>& sizes) {
    Bytes all, out;
    size_t pos = 0, k = 0;
    while (pos < data.size()) {
        const size_t n = std::min(sizes[k++ % sizes.size()], data.size() - pos);
        EXPECT_TRUE(codec.Encode(false, data.data() + pos, uint32_t(n), out));
        all.insert(all.end(), out.begin(), out.end());
        pos += n;
    }
    EXPECT_TRUE(codec.Encode(true, nullptr, 0, out));
    all.insert(all.end(), out.begin(), out.end());
    return all;
}

// Decodes Data the way the movie reader does: find a decoder, then convert chunk by chunk.
Bytes DecodeAll(uint32_t tag, const TAudioFormat& src, TAudioFormat& pcm, const Bytes& data,
                size_t chunk = 4096) {
    TAudioCodec codec;
    EXPECT_TRUE(codec.FindDecoder(tag, src, pcm));
    EXPECT_TRUE(codec.OpenStream(src, pcm));
    Bytes all, out;
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
        const size_t n = std::min(chunk, data.size() - pos);
        EXPECT_TRUE(codec.Convert(data.data() + pos, uint32_t(n), out));
        all.insert(all.end(), out.begin(), out.end());
    }
    return all;
}

// Decodes Data in one conversion that ends the stream, so that the decoder gives up every frame
// it holds back.
Bytes DecodeToEnd(const TAudioFormat& src, const TAudioFormat& pcm, const Bytes& data) {
    TAcmStreamPtr s;
    EXPECT_EQ(AcmStreamOpen(s, reinterpret_cast<const uint8_t*>(&src), sizeof(src),
                            reinterpret_cast<const uint8_t*>(&pcm), sizeof(pcm)),
              TAcmResult::Ok);
    if (!s)
        return {};
    uint32_t size = 0;
    EXPECT_EQ(AcmStreamSize(*s, uint32_t(data.size()), size), TAcmResult::Ok);
    Bytes out(size);
    TAcmStreamHeader h{data.data(), uint32_t(data.size()), 0, out.data(), size, 0, false};
    EXPECT_EQ(AcmStreamPrepareHeader(*s, h), TAcmResult::Ok);
    EXPECT_EQ(AcmStreamConvert(*s, h, AcmConvertEnd), TAcmResult::Ok);
    out.resize(h.DstLengthUsed);
    return out;
}

bool HasExportCodec(TAudioCodec& codec, uint32_t tag) {
    std::vector<TCodecListItem> list;
    codec.FillExportCodecList(list);
    return std::any_of(list.begin(), list.end(), [&](const auto& i) { return i.Tag == tag; });
}

} // namespace

// ---- Driver tree and lists ------------------------------------------------------------------

TEST(AudioCodecTree, EveryTagHasTheTwelveCandidatesInOrder) {
    TAudioCodec codec;
    ASSERT_FALSE(codec.GetDrivers().empty());
    const auto& kind = *codec.GetDrivers()[0]->Kinds[0];
    EXPECT_EQ(kind.Owner, codec.GetDrivers()[0].get());
    ASSERT_EQ(kind.Details.size(), 12u);
    EXPECT_EQ(kind.Details[0]->Label, "  48000, 16 bits Stereo");
    EXPECT_EQ(kind.Details[11]->Label, "  22050, 8  bits Mono  ");
    for (size_t i = 0; i < 12; ++i) {
        const TWaveFormatEx& w = kind.Details[i]->PcmFormat.Wfx;
        EXPECT_EQ(+w.wFormatTag, 1);
        EXPECT_EQ(+w.nSamplesPerSec, i < 4 ? 48000u : i < 8 ? 44100u : 22050u);
        EXPECT_EQ(+w.nChannels, (i / 2) % 2 ? 1 : 2);
        EXPECT_EQ(+w.wBitsPerSample, i % 2 ? 8 : 16);
    }
}

TEST(AudioCodecTree, ExportListNamesTheEncodersNeutrally) {
    TAudioCodec codec;
    std::vector<TCodecListItem> list;
    codec.FillExportCodecList(list);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].Tag, 1u);
    std::map<uint32_t, std::string> names;
    for (const auto& i : list)
        names[i.Tag] = i.Text;
    names.erase(0x55); // listed only where an MP3 encoder is installed
    EXPECT_EQ(names, (std::map<uint32_t, std::string>{{1, "Uncompressed PCM"},
                                                      {0x02, "ADPCM"},
                                                      {0x06, "A-law"},
                                                      {0x07, "mu-law"},
                                                      {0x11, "IMA ADPCM"},
                                                      {0x31, "GSM 6.10"},
                                                      {0x50, "MPEG Layer-2"},
                                                      {0x161, "WMA v2"},
                                                      {0x2000, "AC-3"}}));
    for (const auto& i : list) {
        EXPECT_EQ(i.Text.find("Audio format"), std::string::npos) << "decode-only tag listed";
        std::string lower = i.Text;
        for (char& c : lower)
            c = char(std::tolower(uint8_t(c)));
        for (const char* vendor : {"microsoft", "fraunhofer", "dolby", "windows", "sony"})
            EXPECT_EQ(lower.find(vendor), std::string::npos) << i.Text;
    }
}

TEST(AudioCodecTree, ProbeReportListsTagsAndCandidates) {
    TAudioCodec codec;
    std::vector<std::string> lines;
    ASSERT_TRUE(codec.ProbeEncoders(lines));
    ASSERT_GT(lines.size(), 20u);
    EXPECT_EQ(lines[0], "1.ADPCM audio codec");
    const auto at = std::find(lines.begin(), lines.end(), "  Available format");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at - 1), "");
    EXPECT_EQ(*(at + 1), "     1. \"ADPCM\"" + std::string(27, ' ') + " Tag:2        Header:   50");
    EXPECT_EQ(*(at + 14), "         22050, 8  bits Mono  ");
    EXPECT_EQ(*(at + 16), "2.G.711 A-law and mu-law audio codec");
    // Tags that only decode cannot compress.
    const auto decodeOnly = std::find_if(lines.begin(), lines.end(), [](const std::string& s) {
        return s.find("\"Audio format 0x0160\"") != std::string::npos;
    });
    ASSERT_NE(decodeOnly, lines.end());
    EXPECT_EQ(*(decodeOnly + 1), "       Can not compress!");

    // The probe set the flags and header sizes.
    for (const auto& d : codec.GetDrivers())
        for (const auto& k : d->Kinds) {
            if (k->FormatTag == 0x11) {
                EXPECT_TRUE(k->CanEncode);
                EXPECT_EQ(k->HeaderSize, 20u);
            }
            if (k->FormatTag == 0x160) {
                EXPECT_FALSE(k->CanEncode);
            }
        }
}

TEST(AudioCodecTree, SourceListsFollowWhatEachCodecAccepts) {
    TAudioCodec codec;
    std::vector<std::string> list;
    ASSERT_TRUE(codec.FillPCMSourceList(1, list));
    EXPECT_EQ(list, (std::vector<std::string>{"44100, 16 bits Stereo", "44100, 8  bits Stereo",
                                              "44100, 16 bits Mono", "44100, 8  bits Mono",
                                              "22050, 16 bits Stereo", "22050, 8  bits Stereo",
                                              "22050, 16 bits Mono", "22050, 8  bits Mono"}));

    // AC-3 takes no 22.05 kHz and GSM 6.10 is mono only, but the stream converts to what they
    // take, so they encode from every listed format; 48 kHz is never listed.
    for (uint32_t tag : {0x2000u, 0x31u}) {
        std::vector<std::string> coded;
        ASSERT_TRUE(codec.FillPCMSourceList(tag, coded));
        EXPECT_EQ(coded, list) << tag;
    }

    list.clear();
    EXPECT_TRUE(codec.FillPCMSourceList(0x1234, list));
    EXPECT_TRUE(list.empty());
}

TEST(AudioCodecTree, NamesAndCounts) {
    TAudioCodec codec;
    // MP3 decodes even without an encoder; tags compare in full.
    for (auto [tag, want] : {std::pair<uint32_t, const char*>{0x11, "IMA ADPCM"},
                             {0x55, "MPEG Layer-3"},
                             {0x160, "Audio format 0x0160"},
                             {0x10011, ""}}) {
        std::string name = "x";
        codec.GetCodecName(tag, name);
        EXPECT_EQ(name, want);
    }

    TAudioFormat f = Pcm(44100, 2, 16);
    EXPECT_EQ(codec.CountTags(f), int32_t(codec.GetDrivers().size())); // every driver has PCM
    f.Wfx.wFormatTag = 0x06;
    EXPECT_EQ(codec.CountTags(f), 1);
    f.Wfx.wFormatTag = 0x1234;
    EXPECT_EQ(codec.CountTags(f), 0);
}

// ---- Suggestions and decoders ---------------------------------------------------------------

// The wave header of the suggestion, as files store it. IMA ADPCM takes 1024-byte blocks of 1017
// samples; MPEG layer 2 32 kbit/s mono at the low rates. What a codec can not take exactly it
// takes at the nearest rate and channel count: GSM 6.10 is mono only, 32 kHz the nearest AC-3
// rate to 22.05 kHz.
TEST(AudioCodecSuggest, GivesTheCodecsFormatForThePcmSource) {
    TAudioCodec codec;
    TAudioFormat f;
    const struct {
        uint32_t Tag, Rate;
        uint16_t Channels, Bits;
        const char* Header; // "": no suggestion
    } rows[] = {{0x11, 44100, 2, 16, "11000200 44ac0000 73ad0000 00040400 0200"},
                {0x50, 22050, 1, 8, "50000100 22560000 a00f0000 d1000000 1600"},
                {0x2000, 48000, 2, 16, "00200200 80bb0000 803e0000 000f1000 0000"},
                {0x31, 44100, 2, 16, "31000100 44ac0000 fd220000 41000000 0200"},
                {0x2000, 22050, 2, 16, "00200200 007d0000 803e0000 000f1000 0000"},
                {0x160, 44100, 2, 16, ""}, // decode only
                {0x1234, 44100, 2, 16, ""},
                {0x10011, 44100, 2, 16, ""}};
    for (const auto& c : rows) {
        SCOPED_TRACE(c.Tag);
        const bool ok = codec.SuggestFormat(c.Tag, Pcm(c.Rate, c.Channels, c.Bits), f);
        const uint8_t* header = reinterpret_cast<const uint8_t*>(&f.Wfx);
        EXPECT_EQ(ok ? Bytes(header, header + 18) : Bytes(), HexBytes(c.Header));
    }
    EXPECT_EQ(+f.Wfx.wFormatTag, 0);
}

TEST(AudioCodecSuggest, FindDecoderKeepsTheWantedFormatOrPicksTheFirstCandidate) {
    TAudioCodec codec;
    TAudioFormat ima;
    ASSERT_TRUE(codec.SuggestFormat(0x11, Pcm(44100, 2, 16), ima));

    TAudioFormat want = Pcm(44100, 2, 16);
    want.Extra[0] = 0x5A; // left alone, untouched
    ASSERT_TRUE(codec.FindDecoder(0x11, ima, want));
    EXPECT_EQ(want.Extra[0], 0x5A);

    want = Pcm(22050, 1, 8);
    ASSERT_TRUE(codec.FindDecoder(0x11, ima, want));
    const TAudioFormat first = Pcm(44100, 2, 16);
    EXPECT_EQ(std::memcmp(&want, &first, sizeof(want)), 0);

    // Sound outside the candidates decodes at its own rate.
    TAudioFormat gsm;
    TAcmStreamPtr unused;
    const TAudioFormat pcm8k = Pcm(8000, 1, 16);
    gsm.Wfx.wFormatTag = 0x31;
    ASSERT_EQ(AcmFormatSuggest(reinterpret_cast<const uint8_t*>(&pcm8k), 128,
                               reinterpret_cast<uint8_t*>(&gsm), 128, AcmSuggestFormatTag),
              TAcmResult::Ok);
    want = Pcm(44100, 2, 16);
    ASSERT_TRUE(codec.FindDecoder(0x31, gsm, want));
    EXPECT_EQ(std::memcmp(&want, &pcm8k, sizeof(want)), 0);

    TAudioFormat unknown = ima;
    unknown.Wfx.wFormatTag = 0x1234;
    EXPECT_FALSE(codec.FindDecoder(0x1234, unknown, want));
}

// ---- Streams --------------------------------------------------------------------------------

TEST(AudioCodecStream, UnknownSourceTagIsReportedAndClosedStreamsRefuse) {
    TFakeUiServices ui;
    TAudioCodec codec(&ui);
    Bytes out;
    const Bytes data(100, 0);
    EXPECT_FALSE(codec.Convert(data.data(), 100, out));
    TAudioFormat src = Pcm(44100, 2, 16);
    src.Wfx.wFormatTag = 0x1234;
    EXPECT_FALSE(codec.OpenStream(src, Pcm(44100, 2, 16)));
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0], "Debug: No decoder available for audio export!");
    EXPECT_FALSE(codec.IsOpen());

    // A codec that cannot make the destination fails without a message.
    TAudioFormat ac3 = Pcm(22050, 2, 16);
    ac3.Wfx.wFormatTag = 0x2000;
    EXPECT_FALSE(codec.OpenStream(Pcm(22050, 2, 16), ac3));
    EXPECT_EQ(ui.Messages.size(), 1u);
    EXPECT_FALSE(codec.Encode(true, nullptr, 0, out));
}

TEST(AudioCodecStream, OddBlocksCarryOverAndEncodeLikeOneBlock) {
    const TAudioFormat pcm = Pcm(44100, 2, 16);
    const Bytes data = Tones(pcm, 20000);
    TAudioCodec one, pieces;
    TAudioFormat ima;
    ASSERT_TRUE(one.SuggestFormat(0x11, pcm, ima));
    ASSERT_TRUE(one.OpenStream(pcm, ima));
    ASSERT_TRUE(pieces.OpenStream(pcm, ima));

    // Less than a block (1017 samples) of input: nothing out, all of it carried.
    Bytes out;
    ASSERT_TRUE(pieces.Encode(false, data.data(), 1001, out));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(pieces.GetCarryOverSize(), 1001u);
    Bytes piecewise = EncodeInBlocks(pieces, Bytes(data.begin() + 1001, data.end()),
                                     {3333, 17, 4096, 1, 9999, 7});
    piecewise.insert(piecewise.begin(), out.begin(), out.end());
    EXPECT_EQ(pieces.GetCarryOverSize(), 0u);

    const Bytes whole = EncodeInBlocks(one, data, {data.size()});
    ASSERT_EQ(whole.size(), 20u * 1024); // 20000 samples padded to 20 blocks
    EXPECT_EQ(piecewise, whole);
}

TEST(AudioCodecStream, LastCallFlushesTheCodecsTail) {
    const TAudioFormat pcm = Pcm(44100, 2, 16);
    // 46000 samples end 1072 into a 1152-sample MPEG frame and 1456 into a 1536-sample AC-3
    // frame: more than the frame minus the codec's delay, so the delay holds the last samples.
    const Bytes data = Tones(pcm, 46000);
    for (uint32_t tag : {0x50u, 0x161u, 0x2000u, 0x55u}) {
        TAudioCodec codec;
        TAudioFormat enc;
        if (!codec.SuggestFormat(tag, pcm, enc))
            continue; // an encoder missing at run time
        SCOPED_TRACE(tag);
        ASSERT_TRUE(codec.OpenStream(pcm, enc));
        Bytes body, tail;
        ASSERT_TRUE(codec.Encode(false, data.data(), uint32_t(data.size()), body));
        ASSERT_TRUE(codec.Encode(true, nullptr, 0, tail));
        EXPECT_GT(tail.size(), 0u);
        Bytes all = body;
        all.insert(all.end(), tail.begin(), tail.end());
        const Bytes decoded = DecodeToEnd(enc, pcm, all);
        EXPECT_GE(decoded.size(), data.size());
        // The last 1000 samples of the input are in the output, shifted by the codec's delay
        // (the WMA decoder drops its first frame and so runs ahead instead).
        const std::vector<double> in = Channel(data, pcm, 0);
        EXPECT_GT(BestCorrelation(in, Channel(decoded, pcm, 0), long(in.size()) - 1000, 1000, -2600,
                                  2600),
                  0.95);
    }
}

// Each codec keeps the length and the signal of what it encodes from blocks of odd sizes. HeldBack:
// the samples at the end that a decoder keeps until its stream ends (the movie reader never ends
// it): one frame of the transform codecs, whose parser or overlap needs the next one.
TEST(AudioCodecStream, RoundTripsKeepLengthAndSignal) {
    const struct {
        uint32_t Tag, Rate;
        uint16_t Channels, Bits;
        double MinCorrelation;
        uint32_t HeldBack;
    } rows[] = {{0x02, 44100, 2, 16, 0.99, 0},     {0x02, 22050, 1, 8, 0.98, 0},
                {0x06, 44100, 2, 16, 0.999, 0},    {0x07, 22050, 1, 16, 0.999, 0},
                {0x11, 44100, 2, 16, 0.99, 0},     {0x11, 22050, 1, 8, 0.98, 0},
                {0x31, 22050, 1, 16, 0.9, 0},      {0x50, 44100, 2, 16, 0.98, 0},
                {0x55, 44100, 2, 16, 0.98, 0},     {0x161, 44100, 2, 16, 0.95, 2048},
                {0x2000, 48000, 2, 16, 0.98, 1536}};
    TAudioCodec lister;
    const bool mp3 = HasExportCodec(lister, 0x55); // the MP3 encoder may not be installed
    for (const auto& p : rows) {
        if (p.Tag == 0x55 && !mp3)
            continue;
        SCOPED_TRACE(testing::Message() << "tag " << p.Tag << ", " << p.Rate << " Hz");
        const TAudioFormat pcm = Pcm(p.Rate, p.Channels, p.Bits);
        TAudioCodec codec;
        TAudioFormat enc;
        ASSERT_TRUE(codec.SuggestFormat(p.Tag, pcm, enc));
        ASSERT_TRUE(codec.OpenStream(pcm, enc));
        const uint32_t frames = p.Rate / 2;
        const Bytes data = Tones(pcm, frames);
        const Bytes encoded = EncodeInBlocks(codec, data, {4410 * 4 + 2, 999});
        ASSERT_FALSE(encoded.empty());
        EXPECT_LT(encoded.size(), data.size() + data.size() / 50);

        TAudioFormat out = pcm;
        const Bytes decoded = DecodeAll(p.Tag, enc, out, encoded, 3000);
        ASSERT_EQ(+out.Wfx.nSamplesPerSec, p.Rate);
        ASSERT_EQ(+out.Wfx.nChannels, p.Channels);
        const size_t outFrames = decoded.size() / out.Wfx.nBlockAlign;
        EXPECT_GE(outFrames + p.HeldBack, frames);
        EXPECT_LE(outFrames, frames + 8192u);
        for (int c = 0; c < p.Channels; ++c)
            EXPECT_GT(BestCorrelation(Channel(data, pcm, c), Channel(decoded, out, c), 4000, 2048,
                                      0, 4000),
                      p.MinCorrelation)
                << "channel " << c;
    }
}

// Every codec the export lists encodes from every format a project or the WAV export can have:
// its suggestion opens, takes blocks of a frame and gives back about the sound's length.
TEST(AudioCodecStream, EveryOfferedCodecEncodesFromEveryProjectFormat) {
    TAudioCodec codec;
    std::vector<TCodecListItem> offered;
    codec.FillExportCodecList(offered);
    ASSERT_GT(offered.size(), 1u);
    for (const TCodecListItem& item : offered) {
        if (item.Tag == 1)
            continue;
        for (const TAudioFormat& pcm : {Pcm(44100, 2, 16), Pcm(22050, 2, 16), Pcm(22050, 1, 8),
                                        Pcm(11025, 1, 16), Pcm(48000, 2, 16)}) {
            SCOPED_TRACE(item.Text + " from " + std::to_string(pcm.Wfx.nSamplesPerSec) + " Hz " +
                         std::to_string(pcm.Wfx.nChannels) + " ch");
            TAudioFormat coded;
            ASSERT_TRUE(codec.SuggestFormat(item.Tag, pcm, coded));
            TAudioCodec encoder;
            ASSERT_TRUE(encoder.OpenStream(pcm, coded));
            const Bytes all = EncodeInBlocks(encoder, Tones(pcm, pcm.Wfx.nSamplesPerSec),
                                             {size_t(FrameAudioBytes(pcm, 29.97L))});
            // About a second of the coded format (codecs pad their last block, some hold a
            // little back).
            EXPECT_GT(all.size(), coded.Wfx.nAvgBytesPerSec * 8 / 10);
            EXPECT_LT(all.size(), coded.Wfx.nAvgBytesPerSec * 13 / 10 + 8192);
        }
    }
}

TEST(AudioCodecStream, CompandingCodesSurviveExactly) {
    for (uint32_t tag : {0x06u, 0x07u}) {
        SCOPED_TRACE(tag);
        TAudioFormat coded = Pcm(22050, 1, 8);
        coded.Wfx.wFormatTag = uint16_t(tag);
        coded.Wfx.cbSize = 0;
        Bytes codes(256);
        for (int i = 0; i < 256; ++i)
            codes[size_t(i)] = uint8_t(i);
        TAudioFormat pcm = Pcm(22050, 1, 16);
        const Bytes decoded = DecodeAll(tag, coded, pcm, codes, 100);
        ASSERT_EQ(decoded.size(), 512u);
        int16_t first;
        std::memcpy(&first, decoded.data() + 2 * (tag == 0x06 ? 0xD5 : 0xFF), 2);
        EXPECT_EQ(first, tag == 0x06 ? 8 : 0); // the smallest step

        TAudioCodec encoder;
        ASSERT_TRUE(encoder.OpenStream(pcm, coded));
        Bytes again;
        ASSERT_TRUE(encoder.Encode(true, decoded.data(), uint32_t(decoded.size()), again));
        // Both zero codes of mu-law decode to 0, which encodes as 0xFF.
        if (tag == 0x07)
            codes[0x7F] = 0xFF;
        EXPECT_EQ(again, codes);
    }
}

TEST(AudioCodecStream, DecodesTagsItDoesNotEncode) {
    // 32-bit float PCM (tag 3) to 16-bit.
    TAudioFormat f = Pcm(44100, 2, 32);
    f.Wfx.wFormatTag = 3;
    f.Wfx.cbSize = 0;
    const float samples[] = {0.5f, -0.25f, 1.0f, 0.0f};
    Bytes data(sizeof(samples));
    std::memcpy(data.data(), samples, sizeof(samples));
    TAudioFormat pcm = Pcm(44100, 2, 16);
    const Bytes decoded = DecodeAll(3, f, pcm, data);
    ASSERT_EQ(decoded.size(), 8u);
    int16_t s[4];
    std::memcpy(s, decoded.data(), 8);
    EXPECT_EQ(s[0], 16384);
    EXPECT_EQ(s[1], -8192);
    EXPECT_EQ(s[2], 32767);
    EXPECT_EQ(s[3], 0);
}

TEST(AudioCodecStream, DamagedDataDecodesToWhatCanBeRead) {
    TAudioCodec codec;
    TAudioFormat mp2;
    ASSERT_TRUE(codec.SuggestFormat(0x50, Pcm(44100, 2, 16), mp2));
    Bytes junk(20000);
    uint32_t x = 12345;
    for (auto& b : junk) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 24);
    }
    for (size_t i = 0; i < junk.size(); i += 97)
        junk[i] = 0xFF; // plenty of false sync words
    for (uint32_t tag : {0x50u, 0x02u, 0x11u, 0x161u, 0x2000u}) {
        TAudioFormat enc;
        ASSERT_TRUE(codec.SuggestFormat(tag, Pcm(48000, 2, 16), enc) ||
                    codec.SuggestFormat(tag, Pcm(44100, 2, 16), enc));
        TAudioFormat pcm = Pcm(enc.Wfx.nSamplesPerSec, 2, 16);
        TAudioCodec decoder;
        ASSERT_TRUE(decoder.OpenStream(enc, pcm));
        Bytes out;
        for (size_t pos = 0; pos < junk.size(); pos += 1500)
            decoder.Convert(junk.data() + pos, uint32_t(std::min<size_t>(1500, junk.size() - pos)),
                            out);
        EXPECT_EQ(out.size() % 4, 0u);
    }
}
