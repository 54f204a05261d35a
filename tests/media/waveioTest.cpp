#include "waveio.h"

#include <gtest/gtest.h>

#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

TWavFixture Stereo16(int frames) {
    TWavFixture f;
    f.Rate = 22050;
    f.Channels = 2;
    f.Bits = 16;
    f.Samples = MakeRampSamples(frames, 2, 16);
    return f;
}

// The message raised when a stream is opened on the fixture's bytes, or "" when it opens.
std::string OpenError(const TWavFixture& fixture) {
    std::vector<uint8_t> bytes = MakeWavBytes(fixture);
    TRiffFile file;
    EXPECT_TRUE(file.OpenMemory(bytes.data(), bytes.size()));
    try {
        TWaveStream ws(file, "song.wav");
    } catch (const EReadError& e) {
        EXPECT_EQ(e.FileName, "song.wav");
        return e.GetMessage();
    }
    return "";
}

} // namespace

TEST(WaveStream, ReadsFormatAndSamples) {
    TTempDir tmp;
    TWavFixture fx = Stereo16(100);
    fx.JunkBeforeFmt = true;
    WriteWavFile(tmp.Path + "/a.wav", fx);
    TFileWaveStream ws(tmp.Path + "/a.wav");
    EXPECT_EQ(ws.GetFormat().wFormatTag, 1);
    EXPECT_EQ(ws.GetFormat().nChannels, 2);
    EXPECT_EQ(ws.GetFormat().nSamplesPerSec, 22050u);
    EXPECT_EQ(ws.GetFormat().wBitsPerSample, 16);
    EXPECT_EQ(ws.GetBlockAlign(), 4);
    EXPECT_EQ(ws.GetLength(), 100);
    EXPECT_EQ(ws.GetDataStart(), 12 + 12 + 24 + 8);
    EXPECT_EQ(ws.GetPosition(), 0);
    std::vector<uint8_t> got(400);
    EXPECT_EQ(ws.Read(got.data(), 100), 100);
    EXPECT_EQ(got, fx.Samples);
    EXPECT_EQ(ws.GetPosition(), 100);
    EXPECT_EQ(ws.Read(got.data(), 1), 0);
}

TEST(WaveStream, ReadingStopsAtTheEndOfTheData) {
    TWavFixture fx = Stereo16(10);
    fx.ListAfterData = true;
    std::vector<uint8_t> bytes = MakeWavBytes(fx);
    TRiffFile file;
    ASSERT_TRUE(file.OpenMemory(bytes.data(), bytes.size()));
    TWaveStream ws(file, "x.wav");
    std::vector<uint8_t> got(4 * 50, 0xEE);
    ws.SetPosition(6);
    EXPECT_EQ(ws.Read(got.data(), 50), 4);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 16),
              std::vector<uint8_t>(fx.Samples.begin() + 24, fx.Samples.end()));
    EXPECT_EQ(got[16], 0xEE); // nothing of the LIST chunk
}

TEST(WaveStream, ReadAtAndSeek) {
    TWavFixture fx = Stereo16(10);
    std::vector<uint8_t> bytes = MakeWavBytes(fx);
    TRiffFile file;
    ASSERT_TRUE(file.OpenMemory(bytes.data(), bytes.size()));
    TWaveStream ws(file, "x.wav");
    uint8_t frame[4] = {};
    EXPECT_EQ(ws.ReadAt(10, frame, 1), 0);
    EXPECT_EQ(ws.ReadAt(11, frame, 1), 0);
    EXPECT_EQ(ws.GetPosition(), 0); // no seek for a position past the end
    EXPECT_EQ(ws.ReadAt(7, frame, 1), 1);
    EXPECT_EQ(frame[0], uint8_t(700 & 0xFF));
    EXPECT_EQ(ws.GetPosition(), 8);
    EXPECT_EQ(ws.Seek(-3, 1), 5);
    EXPECT_EQ(ws.Seek(-2, 2), 8);
    EXPECT_EQ(ws.Seek(0, 0), 0);
    try {
        ws.Seek(-1, 0);
        FAIL() << "seek before the data start";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Seeking to an invalid location in the file.");
    }
    EXPECT_THROW(ws.Seek(INT64_MAX / 2, 1), EReadError);
}

TEST(WaveStream, ShortDataChunkPlaysWhatIsThere) {
    TWavFixture fx = Stereo16(10);
    fx.DataSizeOverride = 0xFFFFFFFF; // as left by a recorder that never finished
    fx.TruncateTo = 44 + 4 * 7 + 3;   // seven whole frames and part of one
    std::vector<uint8_t> bytes = MakeWavBytes(fx);
    TRiffFile file;
    ASSERT_TRUE(file.OpenMemory(bytes.data(), bytes.size()));
    TWaveStream ws(file, "x.wav");
    EXPECT_EQ(ws.GetLength(), 7);
    std::vector<uint8_t> got(40);
    EXPECT_EQ(ws.Read(got.data(), 10), 7);
}

TEST(WaveStream, DamagedFilesRaiseClearErrors) {
    TWavFixture fx = Stereo16(4);
    EXPECT_EQ(OpenError(fx), "");

    TWavFixture f = fx;
    f.TruncateTo = 6;
    EXPECT_EQ(OpenError(f), "Invalid multimedia file!");
    f = fx;
    f.FormType = "AVI ";
    EXPECT_EQ(OpenError(f), "Not a wave file!");
    f = fx;
    f.OmitFmt = true;
    EXPECT_EQ(OpenError(f), "Couldn't find 'fmt' chunk!");
    f = fx;
    f.FmtSizeOverride = 14;
    EXPECT_EQ(OpenError(f), "Abnormal 'fmt' size!");
    f = fx;
    f.TruncateTo = 12 + 8 + 10; // 'fmt ' claims 16 bytes, 10 are there
    EXPECT_EQ(OpenError(f), "Abnormal 'fmt' size!");
    f = fx;
    f.FormatTag = 2;
    f.FormatExtra = std::vector<uint8_t>(32, 1);
    EXPECT_EQ(OpenError(f), "Only Uncompressed PCM format is supported. Can not read song.wav");
    f.FmtSizeOverride = 16;
    EXPECT_EQ(OpenError(f), "Error reading 'waveformatex' length!");
    f.FmtSizeOverride = 20; // extra size says 32
    EXPECT_EQ(OpenError(f), "Error reading 'waveformatex'!");
    f = fx;
    f.BlockAlignOverride = 0;
    EXPECT_EQ(OpenError(f), "Invalid PCM format in song.wav");
    f = fx;
    f.Channels = 0;
    EXPECT_EQ(OpenError(f), "Invalid PCM format in song.wav");
    for (uint32_t rate : {0u, MaxPcmSampleRate + 1, 2147483647u}) {
        f = fx;
        f.Rate = rate; // a 3-frame export would take gigabytes
        EXPECT_EQ(OpenError(f), "Invalid PCM format in song.wav") << rate;
    }
    f = fx;
    f.OmitData = true;
    EXPECT_EQ(OpenError(f), "Couldn't find 'data' chunk!");
    f = fx;
    f.RiffSizeOverride = 4 + 24; // the data chunk lies outside the RIFF chunk
    EXPECT_EQ(OpenError(f), "Couldn't find 'data' chunk!");
}

TEST(WaveStream, MissingFileRaises) {
    TTempDir tmp;
    try {
        TFileWaveStream ws(tmp.Path + "/none.wav");
        FAIL() << "opened a missing file";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.FileName, tmp.Path + "/none.wav");
    }
}
