#include "MyAviWriter.h"

#include "FakeUiServices.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint32_t U32(const Bytes& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
uint16_t U16(const Bytes& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}
std::string Tag(const Bytes& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}
bool AllZero(const Bytes& b, size_t at, size_t n) {
    return std::all_of(b.begin() + at, b.begin() + at + n, [](uint8_t x) { return x == 0; });
}

// Expects a chunk header (id and size) at the offset.
void ExpectChunk(const Bytes& b, size_t at, const char* id, uint32_t size) {
    EXPECT_EQ(Tag(b, at), id) << "at " << at;
    EXPECT_EQ(U32(b, at + 4), size) << id << " at " << at;
}
void ExpectList(const Bytes& b, size_t at, const char* id, uint32_t size, const char* type) {
    ExpectChunk(b, at, id, size);
    EXPECT_EQ(Tag(b, at + 8), type) << "at " << at;
}
void ExpectIndexEntry(const Bytes& b, size_t at, const char* id, uint32_t flags, uint32_t offset,
                      uint32_t size) {
    EXPECT_EQ(Tag(b, at), id) << "entry at " << at;
    EXPECT_EQ(U32(b, at + 4), flags) << "entry at " << at;
    EXPECT_EQ(U32(b, at + 8), offset) << "entry at " << at;
    EXPECT_EQ(U32(b, at + 12), size) << "entry at " << at;
}

TBitmapInfoHeader DibFormat(int32_t w, int32_t h) {
    TBitmapInfoHeader f{};
    f.biSize = 40;
    f.biWidth = w;
    f.biHeight = h;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = BI_RGB;
    f.biSizeImage = uint32_t(w * h * 3);
    return f;
}

TBitmapInfoHeader MjpgFormat(int32_t w, int32_t h) {
    TBitmapInfoHeader f = DibFormat(w, h);
    f.biCompression = MakeFourCC('M', 'J', 'P', 'G');
    return f;
}

TExportSettings MakeSettings(bool audio, Extended fps = 25) {
    TExportSettings s;
    s.HasAudio = audio;
    s.FrameRate = fps;
    s.Width = 4;
    s.Height = 2;
    MakePcmFormat(s.AudioFormat, 8000, 1, 8);
    s.AudioPreloadTime = 1 / fps;
    s.FrameCount = 2;
    return s;
}

// Two distinct 4 x 2 24-bit frames (rows of 12 bytes need no padding).
Bytes Frame(uint8_t seed) {
    Bytes f(24);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uint8_t(seed + i);
    return f;
}

// What libavformat's own AVI demuxer makes of a file.
struct TDemuxed {
    int Streams = 0;
    AVCodecID VideoCodec = AV_CODEC_ID_NONE, AudioCodec = AV_CODEC_ID_NONE;
    uint32_t VideoTag = 0;
    int Width = 0, Height = 0, BitsPerSample = 0;
    int SampleRate = 0, Channels = 0, BlockAlign = 0;
    int64_t VideoFrames = 0;
    int VideoPackets = 0, AudioPackets = 0, KeyPackets = 0;
    int64_t AudioBytes = 0;
    std::vector<Bytes> VideoData;
};

TDemuxed Demux(const std::string& path) {
    TDemuxed d;
    AVFormatContext* ctx = nullptr;
    if (avformat_open_input(&ctx, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "libavformat cannot open " << path;
        return d;
    }
    d.Streams = int(ctx->nb_streams);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const AVCodecParameters* p = st->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
            d.VideoCodec = p->codec_id;
            d.VideoTag = p->codec_tag;
            d.Width = p->width;
            d.Height = p->height;
            d.BitsPerSample = p->bits_per_coded_sample;
            d.VideoFrames = st->nb_frames;
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
            d.AudioCodec = p->codec_id;
            d.SampleRate = p->sample_rate;
            d.Channels = p->ch_layout.nb_channels;
            d.BlockAlign = p->block_align;
        }
    }
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        AVMediaType type = ctx->streams[pkt->stream_index]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO) {
            ++d.VideoPackets;
            if (pkt->flags & AV_PKT_FLAG_KEY)
                ++d.KeyPackets;
            d.VideoData.emplace_back(pkt->data, pkt->data + pkt->size);
        } else {
            ++d.AudioPackets;
            d.AudioBytes += pkt->size;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return d;
}

class AviWriterTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TFakeUiServices Ui;
    std::string Cache = Dir.path().toStdString() + "/cache";
    std::string Name = Dir.path().toStdString() + "/out.avi";
};

// ---- Byte layout
// ----------------------------------------------------------------------------------

TEST_F(AviWriterTest, UncompressedVideoOnlyLayout) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    Bytes f0 = Frame(1), f1 = Frame(100);
    // The key flag does not matter for uncompressed frames: each stands alone.
    ASSERT_TRUE(w.WriteVideoFrame(f0.data(), 24, true));
    ASSERT_TRUE(w.WriteVideoFrame(f1.data(), 24, false));
    ASSERT_TRUE(w.Close(0));

    Bytes b = ReadAll(Name);
    ASSERT_EQ(b.size(), 6252u);
    ExpectList(b, 0, "RIFF", 6244, "AVI ");
    ExpectList(b, 12, "LIST", 6116, "hdrl");

    ExpectChunk(b, 24, "avih", 56);
    EXPECT_EQ(U32(b, 32), 40000u);   // microseconds per frame at 25 fps
    EXPECT_EQ(U32(b, 36), 0u);       // max bytes per second
    EXPECT_EQ(U32(b, 40), 0u);       // padding granularity
    EXPECT_EQ(U32(b, 44), 0x110u);   // has index, interleaved
    EXPECT_EQ(U32(b, 48), 2u);       // total frames
    EXPECT_EQ(U32(b, 52), 0u);       // initial frames
    EXPECT_EQ(U32(b, 56), 1u);       // streams
    EXPECT_EQ(U32(b, 60), 0u);       // suggested buffer size
    EXPECT_EQ(U32(b, 64), 4u);       // width
    EXPECT_EQ(U32(b, 68), 2u);       // height
    EXPECT_TRUE(AllZero(b, 72, 16)); // reserved

    ExpectList(b, 88, "LIST", 4236, "strl");
    ExpectChunk(b, 100, "strh", 56);
    EXPECT_EQ(Tag(b, 108), "vids");
    EXPECT_EQ(Tag(b, 112), "DIB ");
    EXPECT_EQ(U32(b, 116), 0u);      // flags
    EXPECT_EQ(U32(b, 120), 0u);      // priority, language
    EXPECT_EQ(U32(b, 124), 0u);      // initial frames
    EXPECT_EQ(U32(b, 128), 10000u);  // scale
    EXPECT_EQ(U32(b, 132), 250000u); // rate
    EXPECT_EQ(U32(b, 136), 0u);      // start
    EXPECT_EQ(U32(b, 140), 2u);      // length
    EXPECT_EQ(U32(b, 144), 24u);     // suggested buffer size: largest frame
    EXPECT_EQ(U32(b, 148), 10000u);  // quality
    EXPECT_EQ(U32(b, 152), 0u);      // sample size
    EXPECT_EQ(U16(b, 156), 0);
    EXPECT_EQ(U16(b, 158), 0);
    EXPECT_EQ(U16(b, 160), 4);
    EXPECT_EQ(U16(b, 162), 2);

    ExpectChunk(b, 164, "strf", 40);
    TBitmapInfoHeader dib = DibFormat(4, 2);
    EXPECT_EQ(std::memcmp(&b[172], &dib, 40), 0);
    ExpectChunk(b, 212, "JUNK", 4112);
    EXPECT_TRUE(AllZero(b, 220, 4112));

    ExpectList(b, 4332, "LIST", 260, "odml");
    ExpectChunk(b, 4344, "dmlh", 248);
    EXPECT_EQ(U32(b, 4352), 2u); // total frames, rewritten at Close
    EXPECT_TRUE(AllZero(b, 4356, 244));
    ExpectChunk(b, 4600, "JUNK", 1528);
    EXPECT_TRUE(AllZero(b, 4608, 1528));

    ExpectList(b, 6136, "LIST", 68, "movi");
    ExpectChunk(b, 6148, "00db", 24);
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + 6156));
    ExpectChunk(b, 6180, "00db", 24);
    EXPECT_TRUE(std::equal(f1.begin(), f1.end(), b.begin() + 6188));

    ExpectChunk(b, 6212, "idx1", 32);
    ExpectIndexEntry(b, 6220, "00db", 0x10, 4, 24);
    ExpectIndexEntry(b, 6236, "00db", 0x10, 36, 24);
}

TEST_F(AviWriterTest, CompressedVideoWithAudioLayoutAndOddPadding) {
    TAviWriter w(Ui, Cache);
    TExportSettings s = MakeSettings(true);
    ASSERT_TRUE(w.Open(Name, s, MakeFourCC('M', 'J', 'P', 'G'), MjpgFormat(4, 2)));
    const uint8_t a0[7] = {0x80, 1, 2, 3, 4, 5, 6}, a1[4] = {9, 8, 7, 6};
    const uint8_t v0[5] = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, v1[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(w.WriteAudio(a0, 7, 7));
    ASSERT_TRUE(w.WriteVideoFrame(v0, 5, true));
    ASSERT_TRUE(w.WriteAudio(a1, 4, 4));
    ASSERT_TRUE(w.WriteVideoFrame(v1, 6, false));
    ASSERT_TRUE(w.Close(0));

    Bytes b = ReadAll(Name);
    ASSERT_EQ(b.size(), 10608u);
    ExpectList(b, 0, "RIFF", 10600, "AVI ");
    ExpectList(b, 12, "LIST", 10448, "hdrl");
    EXPECT_EQ(U32(b, 56), 2u); // streams
    EXPECT_EQ(U32(b, 48), 2u); // total frames: video only
    ExpectList(b, 88, "LIST", 4236, "strl");
    EXPECT_EQ(Tag(b, 112), "MJPG");
    EXPECT_EQ(U32(b, 144), 6u);                                  // largest video chunk
    EXPECT_EQ(U32(b, 172 + 16), MakeFourCC('M', 'J', 'P', 'G')); // strf compression

    ExpectList(b, 4332, "LIST", 4324, "strl");
    ExpectChunk(b, 4344, "strh", 56);
    EXPECT_EQ(Tag(b, 4352), "auds");
    EXPECT_EQ(U32(b, 4356), 0u);      // handler
    EXPECT_EQ(U32(b, 4360), 0u);      // flags
    EXPECT_EQ(U32(b, 4364), 0u);      // priority, language
    EXPECT_EQ(U32(b, 4368), 1u);      // initial frames: one frame of pre-load
    EXPECT_EQ(U32(b, 4372), 1u);      // scale: block align
    EXPECT_EQ(U32(b, 4376), 8000u);   // rate: PCM bytes per second
    EXPECT_EQ(U32(b, 4380), 0u);      // start
    EXPECT_EQ(U32(b, 4384), 11u);     // length: audio bytes / block align
    EXPECT_EQ(U32(b, 4388), 7u);      // largest audio chunk
    EXPECT_EQ(U32(b, 4392), 10000u);  // quality
    EXPECT_EQ(U32(b, 4396), 1u);      // sample size
    EXPECT_TRUE(AllZero(b, 4400, 8)); // frame rectangle
    ExpectChunk(b, 4408, "strf", 128);
    EXPECT_EQ(std::memcmp(&b[4416], &s.AudioFormat, 128), 0);
    ExpectChunk(b, 4544, "JUNK", 4112);

    ExpectList(b, 8664, "LIST", 260, "odml");
    ExpectChunk(b, 8676, "dmlh", 248);
    EXPECT_EQ(U32(b, 8684), 2u);
    ExpectChunk(b, 8932, "JUNK", 1528);

    ExpectList(b, 10468, "LIST", 60, "movi");
    ExpectChunk(b, 10480, "01wb", 7);
    EXPECT_EQ(std::memcmp(&b[10488], a0, 7), 0);
    EXPECT_EQ(b[10495], 0); // pad byte
    ExpectChunk(b, 10496, "00dc", 5);
    EXPECT_EQ(std::memcmp(&b[10504], v0, 5), 0);
    EXPECT_EQ(b[10509], 0);
    ExpectChunk(b, 10510, "01wb", 4);
    ExpectChunk(b, 10522, "00dc", 6);
    EXPECT_EQ(std::memcmp(&b[10530], v1, 6), 0);

    ExpectChunk(b, 10536, "idx1", 64);
    ExpectIndexEntry(b, 10544, "01wb", 0, 4, 7);
    ExpectIndexEntry(b, 10560, "00dc", 0x10, 20, 5);
    ExpectIndexEntry(b, 10576, "01wb", 0, 34, 4);
    ExpectIndexEntry(b, 10592, "00dc", 0, 46, 6);
}

TEST_F(AviWriterTest, CloseRightAfterOpenGivesEmptyValidFile) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    // No audio stream: the block is refused and nothing reaches the file.
    uint8_t a[4] = {};
    EXPECT_FALSE(w.WriteAudio(a, 4, 4));
    ASSERT_TRUE(w.Close(0));

    Bytes b = ReadAll(Name);
    ASSERT_EQ(b.size(), 6156u);
    ExpectList(b, 0, "RIFF", 6148, "AVI ");
    EXPECT_EQ(U32(b, 48), 0u);   // total frames
    EXPECT_EQ(U32(b, 140), 0u);  // video length
    EXPECT_EQ(U32(b, 4352), 0u); // dmlh frames
    ExpectList(b, 6136, "LIST", 4, "movi");
    ExpectChunk(b, 6148, "idx1", 0);
    EXPECT_TRUE(Ui.Messages.empty());

    TDemuxed d = Demux(Name);
    EXPECT_EQ(d.Streams, 1);
    EXPECT_EQ(d.VideoPackets, 0);
}

TEST_F(AviWriterTest, FrameRateOfCloseAndEncodedAudioRate) {
    TAviWriter w(Ui, Cache);
    TExportSettings s = MakeSettings(true, 16);
    s.AudioFormat.Wfx.wFormatTag = 0x55; // encoded sound: the rate comes from what was written
    ASSERT_TRUE(w.Open(Name, s, 0, DibFormat(4, 2)));
    Bytes f = Frame(0);
    uint8_t a[11] = {};
    ASSERT_TRUE(w.WriteAudio(a, 6, 6));
    ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    ASSERT_TRUE(w.WriteAudio(a, 5, 5));
    ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    ASSERT_TRUE(w.Close(29.97L));

    Bytes b = ReadAll(Name);
    EXPECT_EQ(U32(b, 32), 33367u);   // Round(1000000 / 29.97)
    EXPECT_EQ(U32(b, 132), 299700u); // Round(10000 * 29.97)
    EXPECT_EQ(U32(b, 4368), 1u);     // pre-load of one frame at the settings' rate
    EXPECT_EQ(U32(b, 4376), 88u);    // 11 bytes over 2 frames at the settings' 16 fps

    // A rate of 0 keeps the settings' rate.
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    ASSERT_TRUE(w.Close(0));
    b = ReadAll(Name);
    EXPECT_EQ(U32(b, 32), 40000u);
    EXPECT_EQ(U32(b, 132), 250000u);
}

// ---- Read back by libavformat -----------------------------------------------------------------

TEST_F(AviWriterTest, LibavformatReadsUncompressedVideoAndPcm) {
    TAviWriter w(Ui, Cache);
    TExportSettings s = MakeSettings(true);
    ASSERT_TRUE(w.Open(Name, s, 0, DibFormat(4, 2)));
    Bytes f0 = Frame(1), f1 = Frame(50);
    Bytes sound(320, 0x80);
    ASSERT_TRUE(w.WriteAudio(sound.data(), 320, 320));
    ASSERT_TRUE(w.WriteVideoFrame(f0.data(), 24, true));
    ASSERT_TRUE(w.WriteAudio(sound.data(), 320, 320));
    ASSERT_TRUE(w.WriteVideoFrame(f1.data(), 24, true));
    ASSERT_TRUE(w.Close(0));

    TDemuxed d = Demux(Name);
    EXPECT_EQ(d.Streams, 2);
    EXPECT_EQ(d.VideoCodec, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(d.Width, 4);
    EXPECT_EQ(d.Height, 2);
    EXPECT_EQ(d.BitsPerSample, 24);
    EXPECT_EQ(d.VideoFrames, 2);
    EXPECT_EQ(d.VideoPackets, 2);
    ASSERT_EQ(d.VideoData.size(), 2u);
    EXPECT_EQ(d.VideoData[0], f0);
    EXPECT_EQ(d.VideoData[1], f1);
    EXPECT_EQ(d.AudioCodec, AV_CODEC_ID_PCM_U8);
    EXPECT_EQ(d.SampleRate, 8000);
    EXPECT_EQ(d.Channels, 1);
    EXPECT_EQ(d.BlockAlign, 1);
    EXPECT_EQ(d.AudioBytes, 640);
}

TEST_F(AviWriterTest, LibavformatReadsCompressedTagAndKeyFlags) {
    // A codec with inter frames, so the key flags come from the index.
    TBitmapInfoHeader xvid = DibFormat(4, 2);
    xvid.biCompression = MakeFourCC('X', 'V', 'I', 'D');
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), MakeFourCC('X', 'V', 'I', 'D'), xvid));
    const uint8_t v[3] = {1, 2, 3};
    ASSERT_TRUE(w.WriteVideoFrame(v, 3, true));
    ASSERT_TRUE(w.WriteVideoFrame(v, 3, false));
    ASSERT_TRUE(w.WriteVideoFrame(v, 3, true));
    ASSERT_TRUE(w.Close(0));

    TDemuxed d = Demux(Name);
    EXPECT_EQ(d.Streams, 1);
    EXPECT_EQ(d.VideoTag, MakeFourCC('X', 'V', 'I', 'D'));
    EXPECT_EQ(d.VideoCodec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(d.VideoFrames, 3);
    EXPECT_EQ(d.VideoPackets, 3);
    EXPECT_EQ(d.KeyPackets, 2);
}

// ---- Pumping ----------------------------------------------------------------------------------

TEST_F(AviWriterTest, PumpsPerFrameAndRestsAfterLargeChunks) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(
        w.Open(Name, MakeSettings(false), MakeFourCC('M', 'J', 'P', 'G'), MjpgFormat(4, 2)));
    Bytes big(50001);
    ASSERT_TRUE(w.WriteVideoFrame(big.data(), 49999, true)); // 50000 with its pad: no rest
    EXPECT_EQ(Ui.PumpCount, 1);
    EXPECT_EQ(Ui.SleptMs, 0);
    ASSERT_TRUE(w.WriteVideoFrame(big.data(), 50001, true));
    EXPECT_EQ(Ui.PumpCount, 2);
    EXPECT_EQ(Ui.SleptMs, 2);
    ASSERT_TRUE(w.Close(0));
}

// ---- Temporary index --------------------------------------------------------------------------

TEST_F(AviWriterTest, TemporaryIndexLivesOnlyWhileOpen) {
    // A stale index from an earlier run is cleared away.
    fs::create_directories(Cache);
    std::ofstream(Cache + "/Index.~tmp") << "stale";
    TAviWriter w(Ui, Cache);
    EXPECT_EQ(w.GetIndexFileName(), Cache + "/Index.~tmp");
    EXPECT_FALSE(fs::exists(w.GetIndexFileName()));

    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    EXPECT_TRUE(fs::exists(w.GetIndexFileName()));
    ASSERT_TRUE(w.Close(0));
    EXPECT_FALSE(fs::exists(w.GetIndexFileName()));

    // Left open: the writer's end removes it too.
    {
        TAviWriter w2(Ui, Cache);
        ASSERT_TRUE(w2.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    }
    EXPECT_FALSE(fs::exists(Cache + "/Index.~tmp"));
}

TEST_F(AviWriterTest, TemporaryIndexDefaultsToTheCacheFolder) {
    TAviWriter w(Ui);
    std::string cache =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation).toStdString();
    ASSERT_FALSE(cache.empty());
    EXPECT_EQ(w.GetIndexFileName(), cache + "/Index.~tmp");
}

// ---- Failures ---------------------------------------------------------------------------------

TEST_F(AviWriterTest, UncreatableOutputIsReported) {
    // A "folder" that is a plain file stops even a privileged user.
    std::ofstream(Dir.path().toStdString() + "/plain") << "x";
    std::string bad = Dir.path().toStdString() + "/plain/out.avi";
    TAviWriter w(Ui, Cache);
    EXPECT_FALSE(w.Open(bad, MakeSettings(false), 0, DibFormat(4, 2)));
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_THAT(Ui.Messages[0], HasSubstr(bad));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(fs::exists(w.GetIndexFileName()));
}

TEST_F(AviWriterTest, UncreatableIndexFolderIsReported) {
    std::ofstream(Dir.path().toStdString() + "/plain") << "x";
    TAviWriter w(Ui, Dir.path().toStdString() + "/plain/cache");
    EXPECT_FALSE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_THAT(Ui.Messages[0], HasSubstr("plain/cache"));
    EXPECT_FALSE(w.IsOpen());
}

TEST_F(AviWriterTest, SizeLimitStopsBeforeTheFileWouldBreak) {
    TAviWriter w(Ui, Cache);
    // Room for exactly three 24-byte frames, the idx1 header and three entries.
    w.SetMaxFileSize(6148 + 3 * 32 + 8 + 3 * 16);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    Bytes f = Frame(7);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    EXPECT_FALSE(w.WriteVideoFrame(f.data(), 24, true));
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_THAT(Ui.Messages[0], HasSubstr("size limit"));
    EXPECT_THAT(Ui.Messages[0], HasSubstr("3 frames"));
    // Nothing more goes in once stopped, even what would fit, and no second message.
    EXPECT_FALSE(w.WriteVideoFrame(f.data(), 0, true));
    EXPECT_EQ(Ui.Messages.size(), 1u);

    // What was written closes into a valid file.
    EXPECT_TRUE(w.Close(0));
    EXPECT_FALSE(fs::exists(w.GetIndexFileName()));
    Bytes b = ReadAll(Name);
    EXPECT_EQ(b.size(), 6300u);
    EXPECT_EQ(U32(b, 4), 6292u);
    EXPECT_EQ(U32(b, 48), 3u);
    TDemuxed d = Demux(Name);
    EXPECT_EQ(d.VideoPackets, 3);
}

TEST_F(AviWriterTest, FailedWriteIsReportedAndNeverSucceeds) {
    // The system refuses to let the file grow past 16 KB.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 16384;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    TAviWriter w(Ui, Cache);
    bool opened =
        w.Open(Name, MakeSettings(false), MakeFourCC('M', 'J', 'P', 'G'), MjpgFormat(4, 2));
    Bytes f(1000, 0x55);
    bool failed = false;
    for (int i = 0; opened && i < 40 && !failed; ++i)
        failed = !w.WriteVideoFrame(f.data(), 1000, i == 0);
    bool closed = opened && w.Close(0);

    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(opened);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(closed);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_THAT(Ui.Messages[0], HasSubstr("Fail to write " + Name));
    EXPECT_THAT(Ui.Messages[0], HasSubstr(std::strerror(EFBIG)));
    EXPECT_FALSE(fs::exists(w.GetIndexFileName()));
    EXPECT_FALSE(w.IsOpen());
}

TEST_F(AviWriterTest, UnusableSettingsAreRefusedBeforeAnyFileIsTouched) {
    TAviWriter w(Ui, Cache);
    EXPECT_THROW(w.Open(Name, MakeSettings(false, 0), 0, DibFormat(4, 2)), EInvalidOperation);
    TExportSettings s = MakeSettings(true);
    s.AudioFormat.Wfx.nBlockAlign = 0;
    EXPECT_THROW(w.Open(Name, s, 0, DibFormat(4, 2)), EInvalidOperation);
    s = MakeSettings(false);
    s.Width = 40000;
    EXPECT_THROW(w.Open(Name, s, 0, DibFormat(4, 2)), EInvalidOperation);
    EXPECT_FALSE(fs::exists(Name));
    uint8_t x = 0;
    EXPECT_THROW(w.WriteVideoFrame(&x, 1, true), EInvalidOperation);
    EXPECT_FALSE(w.Close(0));
}

} // namespace
