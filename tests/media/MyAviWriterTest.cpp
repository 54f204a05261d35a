#include "MyAviWriter.h"

#include "AviFixtures.h"
#include "FakeUiServices.h"
#include "FileSizeLimit.h"
#include "MediaProbe.h"
#include "MediaRig.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

TBitmapInfoHeader DibFormat(int32_t w, int32_t h, uint32_t compression = BI_RGB) {
    return TBitmapInfoHeader{40, w, h, 1, 24, compression, uint32_t(w * h * 3), 0, 0, 0, 0};
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

// A 4 x 2 24-bit frame (rows of 12 bytes need no padding) of the bytes seed, seed + 1, ...
Bytes Frame(uint8_t seed) {
    Bytes f(24);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uint8_t(seed + i);
    return f;
}

const uint32_t Mjpg = MakeFourCC('M', 'J', 'P', 'G');

class AviWriterTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TFakeUiServices Ui;
    std::string Cache = Dir.path().toStdString() + "/cache";
    std::string Name = Dir.path().toStdString() + "/out.avi";
};

// ---- Byte layout ------------------------------------------------------------------------------

TEST_F(AviWriterTest, UncompressedVideoOnlyLayout) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    ASSERT_TRUE(w.WriteVideoFrame(Frame(1).data(), 24, true));
    ASSERT_TRUE(w.WriteVideoFrame(Frame(100).data(), 24, false));
    ASSERT_TRUE(w.Close(0));
    const Bytes want = LayoutData("media/avi-raw-video.hex");
    EXPECT_EQ(FirstDifference(ReadBytesFile(Name), want), -1);
}

TEST_F(AviWriterTest, CompressedVideoWithAudioLayoutAndOddPadding) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(true), Mjpg, DibFormat(4, 2, Mjpg)));
    const uint8_t a0[7] = {0x80, 1, 2, 3, 4, 5, 6}, a1[4] = {9, 8, 7, 6};
    const uint8_t v0[5] = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, v1[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(w.WriteAudio(a0, 7, 7));
    ASSERT_TRUE(w.WriteVideoFrame(v0, 5, true));
    ASSERT_TRUE(w.WriteAudio(a1, 4, 4));
    ASSERT_TRUE(w.WriteVideoFrame(v1, 6, false));
    ASSERT_TRUE(w.Close(0));
    const Bytes want = LayoutData("media/avi-mjpg-sound.hex");
    EXPECT_EQ(FirstDifference(ReadBytesFile(Name), want), -1);
}

TEST_F(AviWriterTest, CloseRightAfterOpenGivesEmptyValidFile) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    uint8_t a[4] = {};
    EXPECT_FALSE(w.WriteAudio(a, 4, 4)); // no audio stream
    ASSERT_TRUE(w.Close(0));

    const Bytes b = ReadBytesFile(Name);
    ASSERT_EQ(b.size(), 6156u);
    EXPECT_EQ(TagAt(b, 6144) + TagAt(b, 6148), "moviidx1");
    // RIFF size, total frames, video length, dmlh frames, movi size, idx1 size.
    for (auto [at, v] :
         {std::pair<size_t, uint32_t>{4, 6148}, {48, 0}, {140, 0}, {4352, 0}, {6140, 4}, {6152, 0}})
        EXPECT_EQ(U32At(b, at), v) << at;
    EXPECT_TRUE(Ui.Messages.empty());
    EXPECT_TRUE(ProbeMedia(Name, false).Streams.at(0).KeyFlags.empty());
}

TEST_F(AviWriterTest, FrameRateOfCloseAndEncodedAudioRate) {
    TAviWriter w(Ui, Cache);
    TExportSettings s = MakeSettings(true, 16);
    s.AudioFormat.Wfx.wFormatTag = 0x55; // encoded sound: the rate comes from what was written
    ASSERT_TRUE(w.Open(Name, s, 0, DibFormat(4, 2)));
    const Bytes f = Frame(0);
    uint8_t a[11] = {};
    ASSERT_TRUE(w.WriteAudio(a, 6, 6));
    ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    ASSERT_TRUE(w.WriteAudio(a, 5, 5));
    ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    ASSERT_TRUE(w.Close(29.97L));

    Bytes b = ReadBytesFile(Name);
    EXPECT_EQ(U32At(b, 32), 33367u);   // Round(1000000 / 29.97)
    EXPECT_EQ(U32At(b, 132), 299700u); // Round(10000 * 29.97)
    EXPECT_EQ(U32At(b, 4368), 1u);     // pre-load of one frame at the settings' rate
    EXPECT_EQ(U32At(b, 4376), 88u);    // 11 bytes over 2 frames at the settings' 16 fps

    // A rate of 0 keeps the settings' rate.
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    ASSERT_TRUE(w.Close(0));
    b = ReadBytesFile(Name);
    EXPECT_EQ(U32At(b, 32), 40000u);
    EXPECT_EQ(U32At(b, 132), 250000u);
}

// ---- Read back by libavformat -----------------------------------------------------------------

TEST_F(AviWriterTest, LibavformatReadsUncompressedVideoAndPcm) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(true), 0, DibFormat(4, 2)));
    const Bytes f0 = Frame(1), f1 = Frame(50), sound(320, 0x80);
    for (const Bytes* f : {&f0, &f1}) {
        ASSERT_TRUE(w.WriteAudio(sound.data(), 320, 320));
        ASSERT_TRUE(w.WriteVideoFrame(f->data(), 24, true));
    }
    ASSERT_TRUE(w.Close(0));

    const TProbedFile p = ProbeMedia(Name, true);
    ASSERT_EQ(p.Streams.size(), 2u);
    const TProbedStream* v = p.FirstOf(true);
    EXPECT_EQ(v->CodecId, int(AV_CODEC_ID_RAWVIDEO));
    EXPECT_EQ(v->Width * 10 + v->Height, 42);
    ASSERT_EQ(v->Pictures.size(), 2u);
    // Bottom-up rows: the picture's top row is the frame's second row.
    EXPECT_TRUE(std::equal(f1.begin() + 12, f1.end(), v->Pictures[1].begin()));
    const TProbedStream* a = p.FirstOf(false);
    EXPECT_EQ(a->CodecId, int(AV_CODEC_ID_PCM_U8));
    EXPECT_EQ(a->SampleRate * 10 + a->Channels, 80001);
    EXPECT_EQ(a->DecodedSamples, 640);
}

TEST_F(AviWriterTest, LibavformatReadsCompressedTagAndKeyFlags) {
    // A codec with inter frames, so the key flags come from the index.
    const uint32_t xvid = MakeFourCC('X', 'V', 'I', 'D');
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), xvid, DibFormat(4, 2, xvid)));
    const uint8_t v[3] = {1, 2, 3};
    for (bool key : {true, false, true})
        ASSERT_TRUE(w.WriteVideoFrame(v, 3, key));
    ASSERT_TRUE(w.Close(0));

    const TProbedFile p = ProbeMedia(Name, false);
    ASSERT_EQ(p.Streams.size(), 1u);
    EXPECT_EQ(p.Streams[0].CodecTag, xvid);
    EXPECT_EQ(p.Streams[0].CodecId, int(AV_CODEC_ID_MPEG4));
    EXPECT_EQ(p.Streams[0].KeyFlags, (std::vector<bool>{true, false, true}));
}

TEST_F(AviWriterTest, PumpsPerFrameAndRestsAfterLargeChunks) {
    TAviWriter w(Ui, Cache);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), Mjpg, DibFormat(4, 2, Mjpg)));
    Bytes big(50001);
    ASSERT_TRUE(w.WriteVideoFrame(big.data(), 49999, true)); // 50000 with its pad: no rest
    EXPECT_EQ(Ui.PumpCount * 10 + Ui.SleptMs, 10);
    ASSERT_TRUE(w.WriteVideoFrame(big.data(), 50001, true));
    EXPECT_EQ(Ui.PumpCount * 10 + Ui.SleptMs, 22);
    ASSERT_TRUE(w.Close(0));
}

// ---- Temporary index --------------------------------------------------------------------------

TEST_F(AviWriterTest, TemporaryIndexLivesOnlyWhileOpen) {
    EXPECT_EQ(TAviWriter(Ui).GetIndexFileName(),
              QStandardPaths::writableLocation(QStandardPaths::CacheLocation).toStdString() +
                  "/Index.~tmp");
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

    { // Left open: the writer's end removes it too.
        TAviWriter w2(Ui, Cache);
        ASSERT_TRUE(w2.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    }
    EXPECT_FALSE(fs::exists(Cache + "/Index.~tmp"));
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
    const Bytes f = Frame(7);
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
    const Bytes b = ReadBytesFile(Name);
    EXPECT_EQ(b.size(), 6300u);
    EXPECT_EQ(U32At(b, 4), 6292u);
    EXPECT_EQ(U32At(b, 48), 3u);
    EXPECT_EQ(ProbeMedia(Name, false).Streams.at(0).KeyFlags.size(), 3u);
}

TEST_F(AviWriterTest, FailedWriteIsReportedAndNeverSucceeds) {
    // An older movie at the name survives the failed export whole.
    const Bytes previous = MakePattern(3000, 9);
    WriteBytesFile(Name, previous);
    // The system refuses to let the file grow past 16 KB.
    TFileSizeLimit limit(16384);
    ASSERT_TRUE(limit.Active());

    TAviWriter w(Ui, Cache);
    const bool opened = w.Open(Name, MakeSettings(false), Mjpg, DibFormat(4, 2, Mjpg));
    const Bytes f(1000, 0x55);
    bool failed = false;
    for (int i = 0; opened && i < 40 && !failed; ++i)
        failed = !w.WriteVideoFrame(f.data(), 1000, i == 0);
    const bool closed = opened && w.Close(0);
    limit.Lift();

    ASSERT_TRUE(opened);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(closed);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_THAT(Ui.Messages[0], HasSubstr("Fail to write " + Name));
    EXPECT_THAT(Ui.Messages[0], HasSubstr(std::strerror(EFBIG)));
    EXPECT_FALSE(fs::exists(w.GetIndexFileName()));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(ReadBytesFile(Name), previous);
    EXPECT_FALSE(fs::exists(Name + ".~part"));
}

// Until Close the movie lives beside its name; a stop (here the size limit) still completes it.
TEST_F(AviWriterTest, MovieTakesItsNameOnlyWhenClosed) {
    const Bytes previous = MakePattern(100, 3);
    WriteBytesFile(Name, previous);
    TAviWriter w(Ui, Cache);
    w.SetMaxFileSize(6148 + 2 * 32 + 8 + 2 * 16);
    ASSERT_TRUE(w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    const Bytes f = Frame(1);
    ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    ASSERT_TRUE(w.WriteVideoFrame(f.data(), 24, true));
    EXPECT_FALSE(w.WriteVideoFrame(f.data(), 24, true));
    EXPECT_EQ(ReadBytesFile(Name), previous);
    EXPECT_TRUE(fs::exists(Name + ".~part"));
    ASSERT_TRUE(w.Close(0));
    EXPECT_FALSE(fs::exists(Name + ".~part"));
    EXPECT_EQ(ProbeMedia(Name, false).Streams.at(0).KeyFlags.size(), 2u);
}

// A process killed in the middle of an export leaves the old movie whole and nothing half
// written under its name; the unfinished file is beside it under the temporary name, and the
// next export to that name takes its place.
TEST_F(AviWriterTest, KilledExportLeavesTheOldFileWhole) {
    const Bytes previous = MakePattern(5000, 4);
    WriteBytesFile(Name, previous);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    TAviWriter w(Ui, Cache);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        if (w.Open(Name, MakeSettings(false), 0, DibFormat(4, 2))) {
            const Bytes f = Frame(1);
            for (int i = 0;; ++i) {
                if (!w.WriteVideoFrame(f.data(), 24, true))
                    break;
                if (i == 200 && ::write(ready[1], "x", 1) != 1)
                    break;
            }
        }
        _exit(1);
    }
    ::close(ready[1]);
    char c = 0;
    const bool running = ::read(ready[0], &c, 1) == 1;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ASSERT_TRUE(running);
    EXPECT_EQ(ReadBytesFile(Name), previous);
    EXPECT_TRUE(fs::exists(Name + ".~part"));

    TAviWriter again(Ui, Cache);
    ASSERT_TRUE(again.Open(Name, MakeSettings(false), 0, DibFormat(4, 2)));
    const Bytes f = Frame(2);
    ASSERT_TRUE(again.WriteVideoFrame(f.data(), 24, true));
    ASSERT_TRUE(again.Close(0));
    EXPECT_FALSE(fs::exists(Name + ".~part"));
    EXPECT_EQ(ProbeMedia(Name, false).Streams.at(0).KeyFlags.size(), 1u);
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
