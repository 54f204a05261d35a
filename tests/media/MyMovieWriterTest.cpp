#include "MyMovieWriter.h"

#include "FakeUiServices.h"
#include "FakeVideoCompressors.h"
#include "MediaProbe.h"
#include "MediaRig.h"
#include "TempFolders.h"

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

using ::testing::ElementsAre;

namespace {

uint32_t Code(const std::string& s) {
    return MakeFourCC(uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3]));
}

TExportSettings Settings(bool audio, int32_t w = 64, int32_t h = 48, Extended fps = 15) {
    TExportSettings s;
    s.HasAudio = audio;
    s.FrameRate = fps;
    s.Width = w;
    s.Height = h;
    MakePcmFormat(s.AudioFormat, 22050, 1, 16);
    s.AudioPreloadTime = 1 / fps;
    s.FrameCount = 10;
    return s;
}

// Where the movie data of an export of this kind starts (the writer's fixed layout).
constexpr size_t MoviDataVideoOnly = 6148;
constexpr size_t MoviDataWithSound = 10480;

class MovieWriterTest : public ::testing::Test {
protected:
    TFakeUiServices Ui;
    TTempDir Dir;
    TFakeVideoCompressors Fake;
    TMovieWriter Writer{Ui, Dir.Path};
    std::unique_ptr<TAviCompress> C;

    // The compressor choice with the fake "ffff" of the spec selected.
    TAviCompress& Choose(TFakeCompressorSpec spec = {"ffff", "F", "Fake"}) {
        Fake.Specs.push_back(spec);
        C = std::make_unique<TAviCompress>(Ui, Fake);
        EXPECT_TRUE(C->SelectCompressor(Code("ffff")));
        return *C;
    }
};

} // namespace

TEST_F(MovieWriterTest, UncompressedAviFrameAndSound) {
    TMovieWriter mw(Ui, Dir.Path);
    EXPECT_EQ(mw.GetBitmap(), nullptr); // no AVI export has named its bitmap yet
    TAviCompress c(Ui, Fake);
    const std::string file = Dir.Path + "/dib.avi";
    ASSERT_TRUE(mw.Open(false, file, c, Settings(true, 4, 2)));
    TVideoFrameInfo f;
    f.FramesSinceKey = 77;
    mw.GetBitmap()->Canvas().SetPixel(0, 0, 0x0000FF);
    const uint8_t sound[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(mw.WriteAudio(sound, 6, 3));
    ASSERT_TRUE(mw.WriteVideoFrame(f));
    EXPECT_EQ(f.Size, 24);
    EXPECT_EQ(f.Bitmap, &c.GetCurrentBitmap());
    EXPECT_EQ(f.FramesSinceKey, 77);
    ASSERT_TRUE(mw.Close(0));
    EXPECT_FALSE(c.IsBegun());

    const Bytes b = ReadBytesFile(file);
    size_t at = MoviDataWithSound;
    EXPECT_EQ(TagAt(b, at), "01wb");
    EXPECT_EQ(U32At(b, at + 4), 6u);
    at += 8 + 6;
    EXPECT_EQ(TagAt(b, at), "00db");
    EXPECT_EQ(U32At(b, at + 4), 24u);
    // Bottom-up rows: the red top-left pixel opens the second (last) row.
    EXPECT_EQ(b.at(at + 8 + 12), 0);
    EXPECT_EQ(b.at(at + 8 + 14), 255);
    EXPECT_EQ(TagAt(b, 112), "DIB "); // the video stream's handler
}

TEST_F(MovieWriterTest, CompressedAviFramesCarryTheEncoderKeyFlags) {
    TAviCompress& c = Choose();
    TMovieWriter& mw = Writer;
    const std::string file = Dir.Path + "/fake.avi";
    ASSERT_TRUE(mw.Open(false, file, c, Settings(false)));
    TVideoFrameInfo f;
    for (int i = 0; i < 3; ++i) {
        f.KeyRequest = i == 0;
        ASSERT_TRUE(mw.WriteVideoFrame(f));
        EXPECT_EQ(f.Flags, i == 0 ? AVIIF_KEYFRAME : 0u);
        EXPECT_EQ(f.Size, 4);
        ++f.FrameNumber;
    }
    EXPECT_FALSE(mw.WriteAudio("ab", 2, 1)); // no audio stream in this export
    ASSERT_TRUE(mw.Close(0));
    EXPECT_EQ(Fake.Ends, 1);
    const Bytes b = ReadBytesFile(file);
    EXPECT_EQ(TagAt(b, MoviDataVideoOnly), "00dc");
    EXPECT_EQ(TagAt(b, 112), "ffff");
    EXPECT_EQ(U32At(b, 188), Code("ffff")); // biCompression of the stream format
    // idx1 follows three 12-byte chunks: flags 0x10, 0, 0.
    const size_t idx1 = MoviDataVideoOnly + 3 * 12;
    ASSERT_EQ(TagAt(b, idx1), "idx1");
    EXPECT_EQ(U32At(b, idx1 + 8 + 4), 0x10u);
    EXPECT_EQ(U32At(b, idx1 + 8 + 16 + 4), 0u);
}

TEST_F(MovieWriterTest, EncoderThatWillNotStartIsReportedBeforeAnyFile) {
    TFakeCompressorSpec s{"ffff", "F", "Fake"};
    s.Begins = false;
    const std::string file = Dir.Path + "/none.avi";
    EXPECT_FALSE(Writer.Open(false, file, Choose(s), Settings(false)));
    EXPECT_THAT(Ui.Messages, ElementsAre(AviEncoderInitFailedText));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(MovieWriterTest, AviFileThatCannotBeMadeEndsTheEncoder) {
    EXPECT_FALSE(Writer.Open(false, Dir.Path + "/no/such/folder.avi", Choose(), Settings(false)));
    EXPECT_FALSE(C->IsBegun());
    EXPECT_EQ(Fake.Ends, 1);
}

TEST_F(MovieWriterTest, CompressorFailureLeavesAValidFileAndNoIndex) {
    TFakeCompressorSpec s{"ffff", "F", "Fake"};
    s.FailAt = 2;
    TAviCompress& c = Choose(s);
    TMovieWriter& mw = Writer;
    const std::string file = Dir.Path + "/broken.avi";
    ASSERT_TRUE(mw.Open(false, file, c, Settings(false)));
    TVideoFrameInfo f;
    for (; f.FrameNumber < 2; ++f.FrameNumber)
        ASSERT_TRUE(mw.WriteVideoFrame(f));
    EXPECT_THROW(mw.WriteVideoFrame(f), Exception);
    EXPECT_FALSE(std::filesystem::exists(mw.GetAviWriter().GetIndexFileName()));
    EXPECT_FALSE(c.IsBegun());
    EXPECT_FALSE(mw.WriteVideoFrame(f));
    EXPECT_FALSE(mw.Close(0)); // the export did not end well
    const Bytes b = ReadBytesFile(file);
    EXPECT_EQ(U32At(b, 48), 2u); // total frames in the main header
    EXPECT_EQ(U32At(b, 4), uint32_t(b.size() - 8));
}

TEST_F(MovieWriterTest, RealMjpegAviReadsBack) {
    if (!avcodec_find_encoder_by_name("mjpeg"))
        GTEST_SKIP() << "no MJPEG encoder";
    TMovieWriter mw(Ui, Dir.Path);
    TAviCompress c(Ui);
    ASSERT_TRUE(c.SelectCompressor(Code("mjpg")));
    const std::string file = Dir.Path + "/mjpg.avi";
    ASSERT_TRUE(mw.Open(false, file, c, Settings(true)));
    TVideoFrameInfo f;
    std::vector<uint8_t> sound(1470 * 2);
    for (int i = 0; i < 5; ++i) {
        mw.GetBitmap()->Canvas().Brush.Color = 0x10E010;
        mw.GetBitmap()->Canvas().FillRect(Rect(0, 0, 64, 48));
        f.KeyRequest = i == 0;
        ASSERT_TRUE(mw.WriteAudio(sound.data(), uint32_t(sound.size()), 1470));
        ASSERT_TRUE(mw.WriteVideoFrame(f));
        ++f.FrameNumber;
    }
    ASSERT_TRUE(mw.Close(15));
    const TProbedFile p = ProbeMedia(file, true);
    ASSERT_EQ(p.Streams.size(), 2u);
    const TProbedStream* v = p.FirstOf(true);
    EXPECT_EQ(v->CodecId, int(AV_CODEC_ID_MJPEG));
    EXPECT_EQ(v->DecodedFrames, 5);
    ASSERT_FALSE(v->Pictures.empty());
    EXPECT_GT(v->Pictures[0][1], 200); // green
    EXPECT_EQ(p.FirstOf(false)->CodecId, int(AV_CODEC_ID_PCM_S16LE));
}

TEST_F(MovieWriterTest, WindowsMediaPicturesNeedNoSound) {
    if (!TWMFBase::IsWMVCoreAvailable())
        GTEST_SKIP() << "no Windows Media writing";
    TMovieWriter mw(Ui, Dir.Path);
    TAviCompress c(Ui, Fake);
    mw.SetProfile("{3DF678D9-1352-4186-BBF8-74F0C19B6AE2}"); // modem 28.8
    const std::string file = Dir.Path + "/mute.wmv";
    TExportSettings s = Settings(false);
    s.AudioFormat.Wfx.wFormatTag = 0x55; // not used without sound
    ASSERT_TRUE(mw.Open(true, file, c, s));
    EXPECT_TRUE(mw.IsWMV());
    EXPECT_EQ(mw.GetBitmap(), &mw.GetWMVWriter().GetBitmap());
    TVideoFrameInfo f;
    for (int i = 0; i < 6; ++i) {
        f.Bitmap = nullptr;
        ASSERT_TRUE(mw.WriteVideoFrame(f));
        EXPECT_EQ(f.Bitmap, &mw.GetWMVWriter().GetBitmap());
        EXPECT_EQ(f.Data, nullptr);
    }
    ASSERT_TRUE(mw.Close(0));
    EXPECT_TRUE(Fake.Opened.empty()); // the compressor choice is not involved
    const TProbedFile p = ProbeMedia(file, true);
    ASSERT_TRUE(p.Opened);
    EXPECT_EQ(p.FirstOf(true)->DecodedFrames, 6);
    EXPECT_EQ(p.FirstOf(true)->Width, 160);
}

TEST_F(MovieWriterTest, WindowsMediaRefusesCodedSound) {
    TAviCompress c(Ui, Fake);
    TExportSettings s = Settings(true);
    s.AudioFormat.Wfx.wFormatTag = 0x55;
    EXPECT_FALSE(Writer.Open(true, Dir.Path + "/coded.wmv", c, s));
    EXPECT_EQ(Ui.Messages.size(), 1u);
    EXPECT_FALSE(Writer.Close(0));
}
