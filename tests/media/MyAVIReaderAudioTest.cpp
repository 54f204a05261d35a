#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include <sys/resource.h>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

#include "AviFixtures.h"
#include "FakeUiServices.h"
#include "MediaProbe.h"
#include "MediaRig.h"
#include "MyAudioCodec.h"
#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

// A-law: any byte is a sample, so tracks of exact length are easy to make.
TAudioFormat ALaw(uint32_t rate) {
    TAudioFormat f{};
    f.Wfx.wFormatTag = 6;
    f.Wfx.nChannels = 1;
    f.Wfx.nSamplesPerSec = rate;
    f.Wfx.nAvgBytesPerSec = rate;
    f.Wfx.nBlockAlign = 1;
    f.Wfx.wBitsPerSample = 8;
    return f;
}

// The G.711 A-law expansion, written out independently of any decoder.
int16_t ALawToLinear(uint8_t a) {
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int seg = (a & 0x70) >> 4;
    if (seg == 0)
        t += 8;
    else
        t = (t + 0x108) << (seg - 1);
    return int16_t((a & 0x80) ? t : -t);
}

// 16-bit sample frame i holds i in the left channel and -i in the right one (wrapping), 8-bit
// mono frame i holds i mod 256: any missing, doubled or shifted sample shows.
Bytes Ramp(const TAudioFormat& f, uint32_t frames) {
    const uint16_t ch = f.Wfx.nChannels, bits = f.Wfx.wBitsPerSample;
    Bytes b;
    for (uint32_t i = 0; i < frames; ++i)
        for (uint16_t c = 0; c < ch; ++c) {
            if (bits == 8) {
                b.push_back(uint8_t(i + 77 * c));
            } else {
                const uint16_t v = uint16_t(c == 0 ? i : 0u - i);
                b.push_back(uint8_t(v));
                b.push_back(uint8_t(v >> 8));
            }
        }
    return b;
}

int16_t S16(const Bytes& b, size_t sampleIndex) {
    int16_t v;
    std::memcpy(&v, &b.at(sampleIndex * 2), 2);
    return v;
}

// A movie of tiny raw frames whose sound track is Track cut into chunks of the given sizes;
// chunk i is stored in front of video frame Before[i].
Bytes MovieWithTrack(int frames, const TAudioFormat& format, const Bytes& track,
                     const std::vector<uint32_t>& sizes, const std::vector<int>& before,
                     uint32_t formatSize = 18) {
    TAviSpec spec = MakeDibMovie(4, 2, frames);
    AddAudioTrack(spec, format, sizes, before, formatSize);
    size_t at = 0;
    for (TAviChunkSpec& c : spec.Chunks)
        if (c.Kind == "wb") {
            const size_t n = c.Data.size();
            c.Data.assign(track.begin() + at, track.begin() + at + n);
            at += n;
        }
    EXPECT_EQ(at, track.size());
    return BuildAvi(spec).Bytes;
}

// Evenly spread chunk positions: chunk i before frame i * step.
std::vector<int> Every(size_t chunks, int step) {
    std::vector<int> v(chunks);
    for (size_t i = 0; i < chunks; ++i)
        v[i] = int(i) * step;
    return v;
}

// Concatenation of n deliveries starting with source frame first, each at its time.
Bytes Deliver(TAviReader& r, int first, int n, Extended fps, std::vector<size_t>* sizes = nullptr,
              int timeShift = 0) {
    Bytes all, block;
    for (int f = first; f < first + n; ++f) {
        EXPECT_TRUE(r.ReadAudio(f, block, (f + timeShift) / fps)) << "frame " << f;
        if (sizes)
            sizes->push_back(block.size());
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

int64_t DecodedSamples(const std::string& path) {
    const TProbedFile p = ProbeMedia(path, true);
    return p.Opened && p.Streams.size() == 1 ? p.Streams[0].DecodedSamples : -1;
}

// The data chunk of a WAV file we wrote (header, format, data).
Bytes WavData(const std::string& path) {
    const Bytes file = ReadBytesFile(path);
    for (size_t at = 12; at + 8 <= file.size();) {
        uint32_t size;
        std::memcpy(&size, &file[at + 4], 4);
        if (std::memcmp(&file[at], "data", 4) == 0)
            return Bytes(file.begin() + at + 8, file.begin() + at + 8 + size);
        at += 8 + size + (size & 1);
    }
    return {};
}

bool AllAre(Bytes::const_iterator from, Bytes::const_iterator to, uint8_t v) {
    return std::all_of(from, to, [v](uint8_t b) { return b == v; });
}

} // namespace

// ---- PCM tracks ---------------------------------------------------------------------------------

TEST(AviAudioPcm, FramesOf44kStereoAreWholeBlocksAndTheRampSurvives) {
    const TAudioFormat f = AviPcm(44100, 2, 16);
    const uint32_t frames = 2940 * 12 + 500;
    const Bytes track = Ramp(f, frames);
    // Chunk sizes that never line up with the 11,760-byte frames.
    const std::vector<uint32_t> sizes = {30000, 4, 17996, 40000, uint32_t(track.size()) - 88000};
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(20, f, track, sizes, Every(sizes.size(), 3))));
    r.PrepareAudio(f, 15);
    ASSERT_TRUE(r.IsAudioReady());

    std::vector<size_t> blockSizes;
    // The first call's time places the start, whatever its frame number; later frame numbers
    // and times do not move a running delivery.
    const Bytes got = Deliver(r, 4, 13, 15, &blockSizes, -4);
    for (size_t s : blockSizes)
        EXPECT_EQ(s, 11760u);
    ASSERT_EQ(got.size(), 13u * 11760);
    // Twelve whole frames of the track, then its last 500 sample frames and silence.
    EXPECT_TRUE(std::equal(track.begin(), track.end(), got.begin()));
    EXPECT_TRUE(AllAre(got.begin() + long(track.size()), got.end(), 0));
    EXPECT_EQ(r.GetPcmReadPos(), int64_t(track.size()));
}

TEST(AviAudioPcm, ConvertsMono8BitAtHalfTheRate) {
    const TAudioFormat src = AviPcm(22050, 1, 8);
    const Bytes track = Ramp(src, 1470 * 4);
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(6, src, track, {1000, 3000, 1880}, {0, 1, 3})));
    r.PrepareAudio(AviPcm(44100, 2, 16), 15);
    const Bytes got = Deliver(r, 0, 4, 15);
    ASSERT_EQ(got.size(), 4u * 11760);
    // Each source sample is doubled in time, copied to both channels and keeps its level.
    for (size_t j = 0; j < got.size() / 4; ++j) {
        const int expect = (int(track[j / 2]) - 128) * 256;
        ASSERT_EQ(S16(got, 2 * j), expect) << "sample frame " << j;
        ASSERT_EQ(S16(got, 2 * j + 1), expect) << "sample frame " << j;
    }
}

// A 44.1 kHz track delivered at 48 kHz in 29.97 fps blocks is the whole track's conversion,
// sample for sample: the blocks' edges leave no trace.
TEST(AviAudioPcm, RateChangeIsOneSignalAcrossTheBlocks) {
    const TAudioFormat src = AviPcm(44100, 2, 16), wanted = AviPcm(48000, 2, 16);
    const Bytes track = MakeSineSamples(44100, 2, 44100);
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(30, src, track, {70000, 3, 90001, 16396}, {0, 3, 4, 9})));
    r.PrepareAudio(wanted, 30000.0L / 1001);
    Bytes all, block;
    for (int f = 0; f < 31; ++f) {
        const int32_t samples = FrameSampleCount(f, 48000, 30000.0L / 1001);
        ASSERT_TRUE(r.ReadAudio(f, block, f * 1001 / 30000.0L, samples));
        ASSERT_EQ(block.size(), size_t(samples) * 4);
        all.insert(all.end(), block.begin(), block.end());
    }
    Bytes whole = track;
    TPCMTrans t;
    ASSERT_TRUE(t.ConvertBuffer(src, wanted, whole));
    ASSERT_GT(all.size(), whole.size());
    for (size_t i = 0; i < whole.size() / 2; ++i)
        ASSERT_EQ(S16(all, i), S16(whole, i)) << "sample " << i;
    EXPECT_TRUE(AllAre(all.begin() + long(whole.size()), all.end(), 0));
}

TEST(AviAudioPcm, PastTheEndGivesSilenceOfTheWantedFormat) {
    const TAudioFormat src = AviPcm(22050, 1, 8);
    const Bytes track = Ramp(src, 1470 + 100);
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(4, src, track, {uint32_t(track.size())}, {0})));
    // 8-bit mono 11025 Hz: 735 bytes a frame, silence is 0x80.
    r.PrepareAudio(AviPcm(11025, 1, 8), 15);
    const Bytes got = Deliver(r, 0, 3, 15);
    EXPECT_EQ(r.GetPcmReadPos(), int64_t(track.size()));
    ASSERT_EQ(got.size(), 3 * 735u);
    // The partly filled frame is padded with silence, not with zeros.
    for (size_t k = 0; k < 50; ++k)
        ASSERT_EQ(got[735 + k], track[1470 + 2 * k]);
    EXPECT_TRUE(AllAre(got.begin() + 785, got.end(), 0x80));
}

TEST(AviAudioPcm, FirstTimePlacesTheStartInsideAChunk) {
    const TAudioFormat f = AviPcm(44100, 2, 16);
    const Bytes track = Ramp(f, 44100 * 3);
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(45, f, track, {176400, 176400, 176400}, {0, 15, 30})));
    r.PrepareAudio(f, 15);
    Bytes block;
    ASSERT_TRUE(r.ReadAudio(0, block, 1.5L));
    // 176,400 + 88,200 bytes are passed over; the frame after them is handed out.
    EXPECT_EQ(r.GetPcmReadPos(), 264600 + 11760);
    EXPECT_EQ(S16(block, 0), int16_t(66150));
    EXPECT_EQ(S16(block, 1), int16_t(-66150));

    // A new prepare starts over from the next call's time; a negative time is the start.
    r.PrepareAudio(f, 15);
    ASSERT_TRUE(r.ReadAudio(30, block, -2));
    EXPECT_EQ(S16(block, 0), 0);
    EXPECT_EQ(r.GetPcmReadPos(), 11760);
}

TEST(AviAudioPcm, SkewedTrackStartsAtTheTimeNotTheIndex) {
    // 0.75 s ahead of frame 0, then one frame's worth in front of every frame: a skew of 11.
    const TAudioFormat f = AviPcm(22050, 1, 16);
    std::vector<uint32_t> sizes(30, 1470 * 2);
    sizes[0] = 16538 * 2;
    const Bytes track = Ramp(f, std::accumulate(sizes.begin(), sizes.end(), 0u) / 2);
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(30, f, track, sizes, Every(30, 1))));
    EXPECT_EQ(r.GetAudioSkewFrames(), 11);
    r.PrepareAudio(f, 15);
    Bytes block;
    ASSERT_TRUE(r.ReadAudio(20, block, 20 / 15.0L));
    EXPECT_EQ(uint16_t(S16(block, 0)), uint16_t(20 * 1470));
}

TEST(AviAudioPcm, NothingIsDeliveredUnlessPrepared) {
    const TAudioFormat f = AviPcm(22050, 1, 16);
    const Bytes track = Ramp(f, 3000);
    TAviReader r;
    Bytes block = {1, 2, 3};
    EXPECT_FALSE(r.ReadAudio(0, block, 0));
    EXPECT_TRUE(block.empty());
    ASSERT_TRUE(Opens(r, MovieWithTrack(3, f, track, {uint32_t(track.size())}, {0})));
    EXPECT_FALSE(r.ReadAudio(0, block, 0));
    r.PrepareAudio(f, 0); // no frame rate: nothing to divide by
    EXPECT_FALSE(r.ReadAudio(0, block, 0));
    r.PrepareAudio(AviPcm(22050, 6, 16), 15); // a layout the converter does not make
    EXPECT_FALSE(r.IsAudioReady());
    r.PrepareAudio(f, 15);
    EXPECT_TRUE(r.ReadAudio(0, block, 0));
    r.UnprepareAudio();
    EXPECT_FALSE(r.ReadAudio(1, block, 0));
    r.PrepareAudio(f, 15);
    r.Close();
    EXPECT_FALSE(r.ReadAudio(1, block, 0));
}

TEST(AviAudioPcm, ChunkBeyondTheFileFailsTheRead) {
    const TAudioFormat f = AviPcm(22050, 1, 16);
    TAviSpec spec = MakeDibMovie(4, 2, 3);
    AddAudioTrack(spec, f, {6000}, {0});
    TAviImage img = BuildAvi(spec);
    // The index claims the audio chunk is larger than the file.
    for (size_t e : img.EntryPos)
        if (img.GetU32(e) == FourCC("01wb"))
            img.PutU32(e + 8, 0x7FFFFFF0);
    TAviReader r;
    ASSERT_TRUE(Opens(r, img.Bytes));
    r.PrepareAudio(f, 15);
    Bytes block;
    EXPECT_FALSE(r.ReadAudio(0, block, 0));
}

// ---- Compressed tracks --------------------------------------------------------------------------

namespace {

// 22,050 Hz A-law, five frames (7,350 bytes) per chunk, each chunk in front of its first frame:
// the index's frame numbers then match the sound exactly.
struct TALawMovie {
    Bytes Track;
    Bytes File;
    explicit TALawMovie(int chunks, uint32_t extraAtEnd = 0) {
        const uint32_t chunk = 1470 * 5;
        for (uint32_t i = 0; i < chunk * uint32_t(chunks) + extraAtEnd; ++i)
            Track.push_back(uint8_t(i * 7 + (i >> 8)));
        std::vector<uint32_t> sizes(size_t(chunks), chunk);
        sizes.back() += extraAtEnd;
        File = MovieWithTrack(chunks * 5, ALaw(22050), Track, sizes, Every(size_t(chunks), 5));
    }
    // The decoded sound as 16-bit mono bytes.
    Bytes Reference() const {
        Bytes out;
        for (uint8_t a : Track) {
            const int16_t v = ALawToLinear(a);
            out.push_back(uint8_t(v));
            out.push_back(uint8_t(uint16_t(v) >> 8));
        }
        return out;
    }
};

} // namespace

TEST(AviAudioCompressed, DecodedDeliveriesEqualTheReferenceDecode) {
    TALawMovie m(4);
    TAviReader r;
    ASSERT_TRUE(Opens(r, m.File));
    EXPECT_TRUE(r.HasAudio());
    EXPECT_FALSE(r.IsAudioPCM());
    r.PrepareAudio(AviPcm(22050, 1, 16), 15);
    ASSERT_TRUE(r.IsAudioReady());
    std::vector<size_t> sizes;
    const Bytes got = Deliver(r, 0, 22, 15, &sizes);
    for (size_t s : sizes)
        ASSERT_EQ(s, 2940u);
    const Bytes ref = m.Reference();
    ASSERT_EQ(got.size(), 22u * 2940);
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), got.begin()));
    EXPECT_TRUE(AllAre(got.begin() + long(ref.size()), got.end(), 0)); // then silence
    EXPECT_LE(r.GetCompAudBuffer().Capacity, 4u * 2940 + 7350 * 2);
}

TEST(AviAudioCompressed, StartingMidMovieSkipsExactlyToTheFrame) {
    TALawMovie m(6);
    const Bytes ref = m.Reference();
    // Inside the first chunk, inside the second (the first chunk is decoded and mostly dropped)
    // and deep in the movie.
    for (int first : {3, 7, 12, 26}) {
        TAviReader r;
        ASSERT_TRUE(Opens(r, m.File));
        r.PrepareAudio(AviPcm(22050, 1, 16), 15);
        const Bytes got = Deliver(r, first, 3, 15);
        ASSERT_EQ(got.size(), 3u * 2940);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + first * 2940))
            << "starting at frame " << first;
    }
}

TEST(AviAudioCompressed, ConvertsToTheWantedFormatInWholeBlocks) {
    TALawMovie m(3);
    TAviReader r;
    ASSERT_TRUE(Opens(r, m.File));
    // 44.1 kHz stereo 8-bit: the decoder cannot make it, the converter takes over.
    r.PrepareAudio(AviPcm(44100, 2, 8), 15);
    ASSERT_TRUE(r.IsAudioReady());
    std::vector<size_t> sizes;
    const Bytes got = Deliver(r, 0, 18, 15, &sizes);
    for (size_t s : sizes)
        ASSERT_EQ(s, 2940u * 2);
    EXPECT_TRUE(AllAre(got.end() - 2940 * 2, got.end(), 0x80)); // 8-bit silence past the end
    for (size_t j = 0; j < 2940 * 15; j += 97)
        ASSERT_EQ(got[2 * j], got[2 * j + 1]);
}

TEST(AviAudioCompressed, ImaAdpcmDeliveriesEqualOneWholeDecode) {
    // A tone encoded by our own codec layer into IMA ADPCM blocks.
    const TAudioFormat pcm = AviPcm(22050, 2, 16);
    Bytes tone;
    for (int i = 0; i < 22050; ++i)
        for (int c = 0; c < 2; ++c) {
            const int16_t v = int16_t(9000 * std::sin(i * (0.05 + 0.02 * c)));
            tone.push_back(uint8_t(v));
            tone.push_back(uint8_t(uint16_t(v) >> 8));
        }
    TAudioCodec enc;
    TAudioFormat ima{};
    ASSERT_TRUE(enc.SuggestFormat(0x11, pcm, ima));
    ASSERT_TRUE(enc.OpenStream(pcm, ima));
    Bytes coded;
    ASSERT_TRUE(enc.Encode(true, tone.data(), uint32_t(tone.size()), coded));
    const uint32_t block = ima.Wfx.nBlockAlign;
    ASSERT_GT(block, 0u);
    const size_t blocks = coded.size() / block;
    coded.resize(blocks * block);
    // Chunks of one to three codec blocks.
    std::vector<uint32_t> sizes;
    for (size_t done = 0, k = 0; done < blocks; ++k) {
        const size_t n = std::min<size_t>(1 + k % 3, blocks - done);
        sizes.push_back(uint32_t(n * block));
        done += n;
    }
    TAviReader r;
    ASSERT_TRUE(Opens(
        r, MovieWithTrack(16, ima, coded, sizes, Every(sizes.size(), 1), 18 + ima.Wfx.cbSize)));
    r.PrepareAudio(pcm, 15);
    ASSERT_TRUE(r.IsAudioReady());
    const Bytes got = Deliver(r, 0, 16, 15);

    TAudioCodec dec;
    TAudioFormat decoded = pcm;
    ASSERT_TRUE(dec.FindDecoder(0x11, ima, decoded));
    ASSERT_TRUE(dec.OpenStream(ima, decoded));
    Bytes ref;
    ASSERT_TRUE(dec.Encode(true, coded.data(), uint32_t(coded.size()), ref));
    ASSERT_GE(got.size(), ref.size());
    EXPECT_TRUE(std::equal(ref.begin(), ref.end(), got.begin()));
}

TEST(AviAudioCompressed, ChunkThatOutgrowsTheCeilingIsAFalseResult) {
    // 8 kHz A-law to 48 kHz stereo 16-bit: 24 bytes per source byte.
    TAviReader r;
    ASSERT_TRUE(Opens(r, MovieWithTrack(4, ALaw(8000), Bytes(48000, 0xD5), {48000}, {0})));
    r.PrepareAudio(AviPcm(48000, 2, 16), 15);
    ASSERT_TRUE(r.IsAudioReady());
    Bytes block;
    EXPECT_FALSE(r.ReadAudio(0, block, 0));
    EXPECT_LE(r.GetCompAudBuffer().Capacity, TAviReader::MaxCompAudBuffer);
}

// ---- MP3 in chunks of any size ------------------------------------------------------------------

// The parser and decoder read past the end of what they are handed; chunks of odd sizes that
// split MP3 frames anywhere decode without a read outside their buffers (checked under ASan),
// and the tone comes through.
TEST(AviAudioCompressed, Mp3InOddSizedChunksDecodesCleanly) {
    const TAudioFormat pcm = AviPcm(22050, 1, 16);
    TAudioCodec enc;
    TAudioFormat format{};
    if (!enc.SuggestFormat(0x55, pcm, format))
        GTEST_SKIP() << "no MP3 encoder";
    ASSERT_TRUE(enc.OpenStream(pcm, format));
    Bytes tone(44100), mp3; // one second of 1 kHz
    for (size_t i = 0; i < 22050; ++i) {
        const int16_t v = int16_t(16000 * std::sin(2 * M_PI * 1000 * double(i) / 22050));
        std::memcpy(&tone[2 * i], &v, 2);
    }
    ASSERT_TRUE(enc.Encode(true, tone.data(), uint32_t(tone.size()), mp3));
    std::vector<uint32_t> sizes;
    for (size_t at = 0; at < mp3.size(); at += 333)
        sizes.push_back(uint32_t(std::min<size_t>(333, mp3.size() - at)));
    constexpr int frames = 15;
    std::vector<int> before;
    for (size_t i = 0; i < sizes.size(); ++i)
        before.push_back(int(i * frames / sizes.size()));
    const Bytes file = MovieWithTrack(frames, format, mp3, sizes, before, 18 + format.Wfx.cbSize);
    if (const char* dir = std::getenv("TARVOLIN_SEED_DIR"))
        std::ofstream(std::string(dir) + "/mp3-odd-chunks.avi", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));

    TAviReader r;
    ASSERT_TRUE(Opens(r, file));
    ASSERT_TRUE(r.HasAudio());
    r.PrepareAudio(AviPcm(22050, 1, 16), frames);
    ASSERT_TRUE(r.IsAudioReady());
    const Bytes got = Deliver(r, 0, frames, frames);
    ASSERT_EQ(got.size(), 44100u);
    // The middle of the tone is loud (the encoder's delay may leave its start quiet).
    int peak = 0;
    for (size_t i = 11025; i < 16538; ++i)
        peak = std::max(peak, std::abs(int(S16(got, i))));
    EXPECT_GT(peak, 8000);
}

// ---- Header fields that lie ---------------------------------------------------------------------

namespace {

// Two seconds of a stereo tone (440 Hz left, 660 Hz right) as MP3 from our codec layer's encoder.
struct TMp3Track {
    TAudioFormat Format{};
    Bytes Mp3;
    bool Made = false;

    TMp3Track() {
        const TAudioFormat pcm = AviPcm(44100, 2, 16);
        TAudioCodec enc;
        if (!enc.SuggestFormat(0x55, pcm, Format) || !enc.OpenStream(pcm, Format))
            return;
        Bytes tone(44100 * 2 * 4);
        for (size_t i = 0; i < 88200; ++i)
            for (int c = 0; c < 2; ++c) {
                const double hz = c == 0 ? 440 : 660;
                const int16_t v = int16_t(12000 * std::sin(2 * M_PI * hz * double(i) / 44100));
                std::memcpy(&tone[4 * i + 2 * size_t(c)], &v, 2);
            }
        Made = enc.Encode(true, tone.data(), uint32_t(tone.size()), Mp3);
    }

    // A 15 fps movie of 30 frames with the track in one chunk per frame, under the given header.
    Bytes Movie(const TAudioFormat& header) const {
        std::vector<uint32_t> sizes;
        const size_t per = Mp3.size() / 30 + 1;
        for (size_t at = 0; at < Mp3.size(); at += per)
            sizes.push_back(uint32_t(std::min(per, Mp3.size() - at)));
        return MovieWithTrack(30, header, Mp3, sizes, Every(sizes.size(), 1),
                              18 + header.Wfx.cbSize);
    }

    // The track decoded by libavcodec directly (parser, decoder, conversion to packed 16 bits).
    Bytes Reference() const {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
        AVCodecContext* c = avcodec_alloc_context3(codec);
        AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_MP3);
        AVPacket* pkt = av_packet_alloc();
        AVFrame* f = av_frame_alloc();
        SwrContext* swr = nullptr;
        Bytes out;
        EXPECT_GE(avcodec_open2(c, codec, nullptr), 0);
        auto take = [&] {
            while (avcodec_receive_frame(c, f) == 0) {
                if (!swr) {
                    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
                    swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, 44100, &f->ch_layout,
                                        AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
                    swr_init(swr);
                }
                const size_t at = out.size();
                out.resize(at + size_t(f->nb_samples) * 4);
                uint8_t* dst = out.data() + at;
                const int n =
                    swr_convert(swr, &dst, f->nb_samples,
                                const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
                out.resize(at + size_t(std::max(n, 0)) * 4);
            }
        };
        Bytes padded(Mp3);
        padded.resize(Mp3.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        for (size_t at = 0; at <= Mp3.size();) {
            const int left = int(Mp3.size() - at);
            const int n = av_parser_parse2(parser, c, &pkt->data, &pkt->size, padded.data() + at,
                                           left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            at += size_t(n);
            if (pkt->size > 0 && avcodec_send_packet(c, pkt) == 0)
                take();
            if (left == 0)
                break;
        }
        avcodec_send_packet(c, nullptr);
        take();
        swr_free(&swr);
        av_frame_free(&f);
        av_packet_free(&pkt);
        av_parser_close(parser);
        avcodec_free_context(&c);
        return out;
    }
};

// The largest resident size the process has had, in MB.
long PeakResidentMB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

// Signal-to-noise ratio of got against want over their 16-bit samples [from, to), in dB.
double Snr16(const Bytes& got, const Bytes& want, size_t from, size_t to) {
    double signal = 0, noise = 0;
    for (size_t i = from; i < to; ++i) {
        const double w = S16(want, i), d = S16(got, i) - w;
        signal += w * w;
        noise += d * d;
    }
    return noise == 0 ? 99 : 10 * std::log10(signal / noise);
}

} // namespace

// A header's byte rate of 0, or a sample rate far above the frames' own, sizes nothing: the
// sound comes through as libavcodec decodes it, at normal memory.
TEST(AviAudioCompressed, Mp3UnderLyingHeaderFieldsDecodesAsTheFramesSay) {
    const TMp3Track track;
    if (!track.Made)
        GTEST_SKIP() << "no MP3 encoder";
    const Bytes ref = track.Reference();
    ASSERT_GE(ref.size(), 30u * 11760);
    const long peakBefore = PeakResidentMB();

    TAudioFormat noByteRate = track.Format;
    noByteRate.Wfx.nAvgBytesPerSec = 0;
    TAudioFormat highRate = noByteRate;
    highRate.Wfx.nSamplesPerSec = 767999;
    for (const TAudioFormat& header : {noByteRate, highRate}) {
        SCOPED_TRACE(header.Wfx.nSamplesPerSec);
        TAviReader r;
        ASSERT_TRUE(Opens(r, track.Movie(header)));
        r.PrepareAudio(AviPcm(44100, 2, 16), 15);
        ASSERT_TRUE(r.IsAudioReady());
        const Bytes got = Deliver(r, 0, 30, 15);
        ASSERT_EQ(got.size(), 30u * 11760);
        if (header.Wfx.nSamplesPerSec == 44100) {
            // Decoded at the frames' own rate: sample for sample what libavcodec gives.
            EXPECT_EQ(FirstDifference(got, Bytes(ref.begin(), ref.begin() + long(got.size()))), -1);
        } else {
            // Taken up to the header's rate and back: the same sound within resampling noise.
            EXPECT_GT(Snr16(got, ref, 4410, got.size() / 2 - 4410), 30);
        }
    }
    EXPECT_LT(PeakResidentMB() - peakBefore, 256);
}

// ---- Sound-track extraction ---------------------------------------------------------------------

namespace {

// Presses Escape while the given pump runs.
class TEscapeUi : public TFakeUiServices {
public:
    int EscapeAtPump = -1;
    void ProcessMessages() override {
        TFakeUiServices::ProcessMessages();
        if (PumpCount == EscapeAtPump)
            TAviReader::EscapePressed = true;
    }
};

struct AviAudioExtract : ::testing::Test {
    TTempDir Dir;
    TAviReader R;
    std::string Name(const char* name) const { return Dir.Path + "/" + name; }
};

} // namespace

TEST_F(AviAudioExtract, PcmTrackWithProgressTexts) {
    const TAudioFormat f = AviPcm(22050, 2, 16);
    const Bytes track = Ramp(f, 5000);
    ASSERT_TRUE(Opens(R, MovieWithTrack(6, f, track, {4000, 12000, 4000}, {0, 2, 4})));
    TFakeUiServices ui;
    const std::string name = Name("track.wav");
    ASSERT_TRUE(R.ExtractAudioToWav(false, name, ui));
    EXPECT_EQ(ui.StatusTexts, (std::vector<std::string>{"Progress: 0% (Press Escape to stop)",
                                                        "Progress: 50% (Press Escape to stop)",
                                                        "Progress: 100% (Press Escape to stop)",
                                                        "Done writing " + name}));
    EXPECT_EQ(ui.PumpCount, 3);
    EXPECT_EQ(ui.BusyDepth, 0);
    EXPECT_EQ(WavData(name), track);
    EXPECT_EQ(DecodedSamples(name), 5000);
}

TEST_F(AviAudioExtract, CompressedTrackKeepsItsFormat) {
    TALawMovie m(3, 11);
    ASSERT_TRUE(Opens(R, m.File));
    TFakeUiServices ui;
    const std::string name = Name("alaw.wav");
    ASSERT_TRUE(R.ExtractAudioToWav(false, name, ui));
    const TProbedFile p = ProbeMedia(name, true);
    ASSERT_EQ(p.Streams.size(), 1u);
    EXPECT_EQ(p.Streams[0].CodecTag, 6u);
    EXPECT_EQ(p.Streams[0].DecodedSamples, int64_t(m.Track.size()));
    EXPECT_EQ(WavData(name), m.Track);
}

TEST_F(AviAudioExtract, EscapeStopsWithAClosedFile) {
    const TAudioFormat f = AviPcm(22050, 1, 16);
    const Bytes track = Ramp(f, 3000);
    ASSERT_TRUE(Opens(R, MovieWithTrack(6, f, track, {2000, 2000, 2000}, {0, 2, 4})));
    TEscapeUi ui;
    ui.EscapeAtPump = 2;
    const std::string name = Name("part.wav");
    EXPECT_TRUE(R.ExtractAudioToWav(false, name, ui));
    EXPECT_FALSE(TAviReader::EscapePressed);
    EXPECT_EQ(ui.StatusTexts.back(), "Done writing " + name);
    // One chunk was copied before Escape was seen, and the header says so.
    EXPECT_EQ(WavData(name), Bytes(track.begin(), track.begin() + 2000));
    EXPECT_EQ(DecodedSamples(name), 1000);
}

TEST_F(AviAudioExtract, EmptyOrMissingTracksAndShortChunks) {
    const TAudioFormat f = AviPcm(22050, 1, 16);
    TAviSpec empty = MakeDibMovie(4, 2, 2);
    AddAudioTrack(empty, f, {}, {});
    ASSERT_TRUE(Opens(R, BuildAvi(empty).Bytes));
    TFakeUiServices ui;
    const std::string name = Name("empty.wav");
    EXPECT_TRUE(R.ExtractAudioToWav(false, name, ui));
    EXPECT_EQ(ui.StatusTexts, std::vector<std::string>{"Done writing " + name});
    EXPECT_EQ(std::filesystem::file_size(name), 44u);

    // One chunk is 100 % at once (no division by the chunk count less one).
    const Bytes one = Ramp(f, 100);
    ASSERT_TRUE(Opens(R, MovieWithTrack(2, f, one, {200}, {0})));
    ui.StatusTexts.clear();
    EXPECT_TRUE(R.ExtractAudioToWav(false, Name("one.wav"), ui));
    EXPECT_EQ(ui.StatusTexts.front(), "Progress: 100% (Press Escape to stop)");

    // No sound at all: nothing is written, and the status bar still ends the run.
    ASSERT_TRUE(Opens(R, BuildAvi(MakeDibMovie(4, 2, 2)).Bytes));
    ui.StatusTexts.clear();
    EXPECT_FALSE(R.ExtractAudioToWav(false, Name("none.wav"), ui));
    EXPECT_FALSE(std::filesystem::exists(Name("none.wav")));
    EXPECT_EQ(ui.StatusTexts, std::vector<std::string>{"Done writing " + Name("none.wav")});

    // A chunk the file does not hold ends with False and a closed file of what came before.
    TAviSpec spec = MakeDibMovie(4, 2, 4);
    AddAudioTrack(spec, f, {3000, 3000}, {0, 2});
    TAviImage img = BuildAvi(spec);
    int seen = 0;
    for (size_t e : img.EntryPos)
        if (img.GetU32(e) == FourCC("01wb") && ++seen == 2)
            img.PutU32(e + 12, 0x7FFFFFF0);
    ASSERT_TRUE(Opens(R, img.Bytes));
    const std::string cut = Name("short.wav");
    EXPECT_FALSE(R.ExtractAudioToWav(false, cut, ui));
    EXPECT_EQ(ui.StatusTexts.back(), "Done writing " + cut);
    EXPECT_EQ(WavData(cut).size(), 3000u);
}
