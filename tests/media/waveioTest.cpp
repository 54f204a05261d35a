#include "waveio.h"

#include <gtest/gtest.h>

#include <memory>

#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

TWavFixture Stereo16(int frames) {
    TWavFixture f;
    f.Channels = 2;
    f.Samples = MakeRampSamples(frames, 2, 16);
    return f;
}

// A wave stream over the bytes of a fixture in memory.
struct TMemoryWave {
    std::vector<uint8_t> Bytes;
    TRiffFile File;
    std::unique_ptr<TWaveStream> Ws;
    explicit TMemoryWave(const TWavFixture& fx) : Bytes(MakeWavBytes(fx)) {
        EXPECT_TRUE(File.OpenMemory(Bytes.data(), Bytes.size()));
        Ws = std::make_unique<TWaveStream>(File, "song.wav");
    }
};

} // namespace

TEST(WaveStream, ReadsFormatAndSamples) {
    TTempDir tmp;
    TWavFixture fx = Stereo16(100);
    fx.JunkBeforeFmt = true;
    WriteWavFile(tmp.Path + "/a.wav", fx);
    TFileWaveStream ws(tmp.Path + "/a.wav");
    const TWaveFormatEx& f = ws.GetFormat();
    EXPECT_EQ(f.wFormatTag * 1000 + f.nChannels * 100 + f.wBitsPerSample, 1216);
    EXPECT_EQ(f.nSamplesPerSec, 22050u);
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
    TMemoryWave m(fx);
    std::vector<uint8_t> got(4 * 50, 0xEE);
    m.Ws->SetPosition(6);
    EXPECT_EQ(m.Ws->Read(got.data(), 50), 4);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 16),
              std::vector<uint8_t>(fx.Samples.begin() + 24, fx.Samples.end()));
    EXPECT_EQ(got[16], 0xEE); // nothing of the LIST chunk
}

TEST(WaveStream, ReadAtAndSeek) {
    TMemoryWave m(Stereo16(10));
    TWaveStream& ws = *m.Ws;
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
    TMemoryWave m(fx);
    EXPECT_EQ(m.Ws->GetLength(), 7);
    std::vector<uint8_t> got(40);
    EXPECT_EQ(m.Ws->Read(got.data(), 10), 7);
}

// Frames of an odd size (24-bit mono, 8-bit three channels) count and read whole: the length is
// the data size div the block align, a trailing part frame is left out. A block align that
// disagrees with the channels and bits cannot say where a frame ends and is refused.
TEST(WaveStream, OddBlockAlignsReadWholeFrames) {
    for (const auto& [channels, bits] : {std::pair<uint16_t, uint16_t>{1, 24}, {3, 8}}) {
        SCOPED_TRACE(channels);
        TWavFixture fx;
        fx.Channels = channels;
        fx.Bits = bits;
        for (int i = 0; i < 101; ++i)
            fx.Samples.push_back(uint8_t(i * 7 + 1));
        TMemoryWave m(fx);
        EXPECT_EQ(m.Ws->GetBlockAlign(), 3);
        EXPECT_EQ(m.Ws->GetLength(), 33);
        std::vector<uint8_t> got(3 * 40, 0xEE);
        EXPECT_EQ(m.Ws->ReadAt(30, got.data(), 10), 3);
        EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + 9),
                  std::vector<uint8_t>(fx.Samples.begin() + 90, fx.Samples.begin() + 99));
        EXPECT_EQ(got[9], 0xEE);
        EXPECT_EQ(m.Ws->ReadAt(33, got.data(), 1), 0);
    }
    TWavFixture fx = Stereo16(4);
    fx.Channels = 1;
    fx.BlockAlignOverride = 3;
    const std::vector<uint8_t> bytes = MakeWavBytes(fx);
    TRiffFile file;
    ASSERT_TRUE(file.OpenMemory(bytes.data(), bytes.size()));
    try {
        TWaveStream ws(file, "song.wav");
        ADD_FAILURE() << "opened";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetMessage(), "Invalid PCM format in song.wav");
    }
}

TEST(WaveStream, DamagedFilesRaiseClearErrors) {
    const std::string invalidPcm = "Invalid PCM format in song.wav";
    const struct {
        void (*Damage)(TWavFixture&);
        std::string Message; // "" when the file opens
    } rows[] = {
        {[](TWavFixture&) {}, ""},
        {[](TWavFixture& f) { f.TruncateTo = 6; }, "Invalid multimedia file!"},
        {[](TWavFixture& f) { f.FormType = "AVI "; }, "Not a wave file!"},
        {[](TWavFixture& f) { f.OmitFmt = true; }, "Couldn't find 'fmt' chunk!"},
        {[](TWavFixture& f) { f.FmtSizeOverride = 14; }, "Abnormal 'fmt' size!"},
        // 'fmt ' claims 16 bytes, 10 are there.
        {[](TWavFixture& f) { f.TruncateTo = 12 + 8 + 10; }, "Abnormal 'fmt' size!"},
        {[](TWavFixture& f) { f.FormatTag = 2, f.FormatExtra.assign(32, 1); },
         "Only Uncompressed PCM format is supported. Can not read song.wav: its format tag is 2, "
         "not 1 (PCM)."},
        {[](TWavFixture& f) {
             f.FormatTag = 2, f.FormatExtra.assign(32, 1), f.FmtSizeOverride = 16;
         },
         "Error reading 'waveformatex' length!"},
        // The extra size says 32.
        {[](TWavFixture& f) {
             f.FormatTag = 2, f.FormatExtra.assign(32, 1), f.FmtSizeOverride = 20;
         },
         "Error reading 'waveformatex'!"},
        {[](TWavFixture& f) { f.BlockAlignOverride = 0; }, invalidPcm},
        {[](TWavFixture& f) { f.Channels = 0; }, invalidPcm},
        // Rates no sound card plays: a 3-frame export would take gigabytes.
        {[](TWavFixture& f) { f.Rate = 0; }, invalidPcm},
        {[](TWavFixture& f) { f.Rate = MaxPcmSampleRate + 1; }, invalidPcm},
        {[](TWavFixture& f) { f.Rate = 2147483647u; }, invalidPcm},
        {[](TWavFixture& f) { f.OmitData = true; }, "Couldn't find 'data' chunk!"},
        // The data chunk lies outside the RIFF chunk.
        {[](TWavFixture& f) { f.RiffSizeOverride = 4 + 24; }, "Couldn't find 'data' chunk!"},
    };
    for (const auto& c : rows) {
        TWavFixture f = Stereo16(4);
        c.Damage(f);
        std::string message;
        try {
            TMemoryWave m(f);
        } catch (const EReadError& e) {
            EXPECT_EQ(e.FileName, "song.wav");
            message = e.GetMessage();
        }
        EXPECT_EQ(message, c.Message);
    }
}

// Plain 32-bit PCM as sound tools write it by default (the extensible tag, with PCM in its
// sub-format GUID) is refused for what it is, not as compressed sound; so is floating point.
TEST(WaveStream, ExtensibleFormatsAreRefusedForWhatTheyHold) {
    auto extensible = [](uint16_t bits, uint8_t subFormat) {
        TWavFixture f;
        f.Channels = 2;
        f.Bits = bits;
        f.Rate = 44100;
        f.Samples.assign(size_t(8) * bits / 8, 0);
        f.FormatTag = 0xFFFE;
        // Valid bits, channel mask (front left and right), sub-format GUID.
        f.FormatExtra = {uint8_t(bits), 0, 3,    0, 0, 0,    subFormat, 0,    0,    0,   0, 0,
                         0x10,          0, 0x80, 0, 0, 0xAA, 0,         0x38, 0x9B, 0x71};
        return f;
    };
    const struct {
        TWavFixture Fixture;
        std::string Message;
    } rows[] = {
        {extensible(32, 1), "Can not read song.wav: its sound is 32-bit PCM in the extensible "
                            "format (tag 0xFFFE). Only plain PCM (format tag 1) is read; save the "
                            "file as 8 or 16-bit PCM."},
        {extensible(32, 3), "Can not read song.wav: its sound is 32-bit floating-point in the "
                            "extensible format (tag 0xFFFE). Only plain PCM (format tag 1) is "
                            "read; save the file as 8 or 16-bit PCM."},
    };
    for (const auto& c : rows) {
        std::string message;
        try {
            TMemoryWave m(c.Fixture);
        } catch (const EReadError& e) {
            message = e.GetMessage();
        }
        EXPECT_EQ(message, c.Message);
    }
    // Too short to hold a sub-format, the tag is all there is to name.
    TWavFixture cut = extensible(32, 1);
    cut.FormatExtra.resize(6);
    std::string message;
    try {
        TMemoryWave m(cut);
    } catch (const EReadError& e) {
        message = e.GetMessage();
    }
    EXPECT_EQ(message, "Only Uncompressed PCM format is supported. Can not read song.wav: its "
                       "format tag is 65534, not 1 (PCM).");
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
