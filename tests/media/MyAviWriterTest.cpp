#include "MyAviWriter.h"

#include "FakeUiServices.h"
#include "MediaProbe.h"

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
#include <libavcodec/avcodec.h>
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
std::string Tag(const Bytes& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}
bool AllZero(const Bytes& b, size_t at, size_t n) {
    return std::all_of(b.begin() + at, b.begin() + at + n, [](uint8_t x) { return x == 0; });
}

// Little-endian 32-bit fields and four-character ids at their offsets.
void ExpectU32s(const Bytes& b, std::initializer_list<std::pair<size_t, uint32_t>> fields) {
    for (auto [at, v] : fields)
        EXPECT_EQ(U32(b, at), v) << "at " << at;
}
void ExpectTags(const Bytes& b, std::initializer_list<std::pair<size_t, const char*>> tags) {
    for (auto [at, id] : tags)
        EXPECT_EQ(Tag(b, at), id) << "at " << at;
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
    ExpectTags(b, {{0, "RIFF"},    {8, "AVI "},    {12, "LIST"},   {20, "hdrl"},   {24, "avih"},
                   {88, "LIST"},   {96, "strl"},   {100, "strh"},  {108, "vids"},  {112, "DIB "},
                   {164, "strf"},  {212, "JUNK"},  {4332, "LIST"}, {4340, "odml"}, {4344, "dmlh"},
                   {4600, "JUNK"}, {6136, "LIST"}, {6144, "movi"}, {6148, "00db"}, {6180, "00db"},
                   {6212, "idx1"}});
    // Sizes: RIFF, hdrl, avih, strl, strh, strf, JUNK, odml, dmlh, JUNK, movi, chunks, idx1.
    ExpectU32s(b, {{4, 6244},
                   {16, 6116},
                   {28, 56},
                   {92, 4236},
                   {104, 56},
                   {168, 40},
                   {216, 4112},
                   {4336, 260},
                   {4348, 248},
                   {4604, 1528},
                   {6140, 68},
                   {6152, 24},
                   {6184, 24},
                   {6216, 32}});
    // avih: microseconds per frame at 25 fps, max bytes per second, padding, flags (has index,
    // interleaved), total frames, initial frames, streams, buffer size, width, height.
    ExpectU32s(b, {{32, 40000},
                   {36, 0},
                   {40, 0},
                   {44, 0x110},
                   {48, 2},
                   {52, 0},
                   {56, 1},
                   {60, 0},
                   {64, 4},
                   {68, 2}});
    EXPECT_TRUE(AllZero(b, 72, 16));
    // strh: flags, priority and language, initial frames, scale, rate, start, length, buffer
    // size (the largest frame), quality, sample size; then the frame rectangle.
    ExpectU32s(b, {{116, 0},
                   {120, 0},
                   {124, 0},
                   {128, 10000},
                   {132, 250000},
                   {136, 0},
                   {140, 2},
                   {144, 24},
                   {148, 10000},
                   {152, 0},
                   {156, 0},
                   {160, 4 | 2 << 16}});
    TBitmapInfoHeader dib = DibFormat(4, 2);
    EXPECT_EQ(std::memcmp(&b[172], &dib, 40), 0);
    EXPECT_TRUE(AllZero(b, 220, 4112));
    EXPECT_EQ(U32(b, 4352), 2u); // dmlh total frames, rewritten at Close
    EXPECT_TRUE(AllZero(b, 4356, 244));
    EXPECT_TRUE(AllZero(b, 4608, 1528));
    EXPECT_TRUE(std::equal(f0.begin(), f0.end(), b.begin() + 6156));
    EXPECT_TRUE(std::equal(f1.begin(), f1.end(), b.begin() + 6188));
    // idx1 entries: id, flags, offset from "movi", size.
    ExpectTags(b, {{6220, "00db"}, {6236, "00db"}});
    ExpectU32s(b, {{6224, 0x10}, {6228, 4}, {6232, 24}, {6240, 0x10}, {6244, 36}, {6248, 24}});
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
    ExpectTags(b, {{0, "RIFF"},
                   {112, "MJPG"},
                   {4332, "LIST"},
                   {4340, "strl"},
                   {4344, "strh"},
                   {4352, "auds"},
                   {4408, "strf"},
                   {4544, "JUNK"},
                   {8664, "LIST"},
                   {8672, "odml"},
                   {8676, "dmlh"},
                   {8932, "JUNK"},
                   {10468, "LIST"},
                   {10476, "movi"},
                   {10480, "01wb"},
                   {10496, "00dc"},
                   {10510, "01wb"},
                   {10522, "00dc"},
                   {10536, "idx1"}});
    // RIFF and hdrl sizes, total frames (video only), streams, largest video chunk, strf
    // compression, second strl and strf sizes, dmlh frames, movi size, chunk sizes, idx1 size.
    ExpectU32s(b, {{4, 10600},
                   {16, 10448},
                   {48, 2},
                   {56, 2},
                   {144, 6},
                   {172 + 16, MakeFourCC('M', 'J', 'P', 'G')},
                   {4336, 4324},
                   {4412, 128},
                   {8684, 2},
                   {10472, 60},
                   {10484, 7},
                   {10500, 5},
                   {10514, 4},
                   {10526, 6},
                   {10540, 64}});
    // Audio strh: handler, flags, priority and language, initial frames (one frame of
    // pre-load), scale (block align), rate (PCM bytes per second), start, length (audio bytes /
    // block align), largest audio chunk, quality, sample size.
    ExpectU32s(b, {{4356, 0},
                   {4360, 0},
                   {4364, 0},
                   {4368, 1},
                   {4372, 1},
                   {4376, 8000},
                   {4380, 0},
                   {4384, 11},
                   {4388, 7},
                   {4392, 10000},
                   {4396, 1}});
    EXPECT_TRUE(AllZero(b, 4400, 8)); // frame rectangle
    EXPECT_EQ(std::memcmp(&b[4416], &s.AudioFormat, 128), 0);
    // Odd chunks are padded with a zero byte that their size leaves out.
    EXPECT_EQ(std::memcmp(&b[10488], a0, 7), 0);
    EXPECT_EQ(b[10495], 0);
    EXPECT_EQ(std::memcmp(&b[10504], v0, 5), 0);
    EXPECT_EQ(b[10509], 0);
    EXPECT_EQ(std::memcmp(&b[10530], v1, 6), 0);
    // idx1: sound has no key flag; the second frame was not asked to be a key frame.
    ExpectTags(b, {{10544, "01wb"}, {10560, "00dc"}, {10576, "01wb"}, {10592, "00dc"}});
    ExpectU32s(b, {{10548, 0},
                   {10552, 4},
                   {10556, 7},
                   {10564, 0x10},
                   {10568, 20},
                   {10572, 5},
                   {10580, 0},
                   {10584, 34},
                   {10588, 4},
                   {10596, 0},
                   {10600, 46},
                   {10604, 6}});
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
    ExpectTags(b, {{6136, "LIST"}, {6144, "movi"}, {6148, "idx1"}});
    // RIFF size, total frames, video length, dmlh frames, movi size, idx1 size.
    ExpectU32s(b, {{4, 6148}, {48, 0}, {140, 0}, {4352, 0}, {6140, 4}, {6152, 0}});
    EXPECT_TRUE(Ui.Messages.empty());

    const TProbedFile p = ProbeMedia(Name, false);
    ASSERT_EQ(p.Streams.size(), 1u);
    EXPECT_TRUE(p.Streams[0].KeyFlags.empty());
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

    const TProbedFile p = ProbeMedia(Name, true);
    ASSERT_EQ(p.Streams.size(), 2u);
    const TProbedStream* v = p.FirstOf(true);
    EXPECT_EQ(v->CodecId, int(AV_CODEC_ID_RAWVIDEO));
    EXPECT_EQ(v->Width * 10 + v->Height, 42);
    EXPECT_EQ(v->DecodedFrames, 2);
    ASSERT_EQ(v->Pictures.size(), 2u);
    // Bottom-up rows: the picture's top row is the frame's second row.
    EXPECT_TRUE(std::equal(f1.begin() + 12, f1.end(), v->Pictures[1].begin()));
    const TProbedStream* a = p.FirstOf(false);
    EXPECT_EQ(a->CodecId, int(AV_CODEC_ID_PCM_U8));
    EXPECT_EQ(a->SampleRate, 8000);
    EXPECT_EQ(a->Channels, 1);
    EXPECT_EQ(a->DecodedSamples, 640);
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

    const TProbedFile p = ProbeMedia(Name, false);
    ASSERT_EQ(p.Streams.size(), 1u);
    EXPECT_EQ(p.Streams[0].CodecTag, MakeFourCC('X', 'V', 'I', 'D'));
    EXPECT_EQ(p.Streams[0].CodecId, int(AV_CODEC_ID_MPEG4));
    EXPECT_EQ(p.Streams[0].KeyFlags, (std::vector<bool>{true, false, true}));
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

TEST_F(AviWriterTest, UncreatableOutputOrIndexIsReported) {
    // A "folder" that is a plain file stops even a privileged user.
    const std::string plain = Dir.path().toStdString() + "/plain";
    std::ofstream(plain) << "x";
    for (auto [out, cache] : {std::pair{plain + "/out.avi", Cache}, {Name, plain + "/cache"}}) {
        TFakeUiServices ui;
        TAviWriter w(ui, cache);
        EXPECT_FALSE(w.Open(out, MakeSettings(false), 0, DibFormat(4, 2)));
        ASSERT_EQ(ui.Messages.size(), 1u);
        EXPECT_THAT(ui.Messages[0], HasSubstr(out == Name ? "plain/cache" : out));
        EXPECT_FALSE(w.IsOpen());
        EXPECT_FALSE(fs::exists(w.GetIndexFileName()));
    }
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
    EXPECT_EQ(ProbeMedia(Name, false).Streams.at(0).KeyFlags.size(), 3u);
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
