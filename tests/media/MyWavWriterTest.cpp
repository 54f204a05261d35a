#include "MyWavWriter.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "FileSizeLimit.h"
#include "MediaRig.h"
#include "TempFolders.h"
#include "waveio.h"

namespace {

struct WavWriterTest : ::testing::Test {
    TTempDir Tmp;
    TScratchHome Home{Tmp.Path}; // the trash of replaced files lands here
    TFakeUiServices Ui;
    TWavWriter Writer{Ui};
    std::string Name = Tmp.Path + "/out.wav";

    std::vector<uint8_t> WriteFile(const TAudioFormat& format, const std::vector<uint8_t>& data,
                                   bool raw = false) {
        EXPECT_TRUE(Writer.Initiate(raw, Name, format));
        EXPECT_TRUE(Writer.WriteData(data.data(), int64_t(data.size())));
        EXPECT_TRUE(Writer.CloseFile());
        return ReadBytesFile(Name);
    }
};

} // namespace

// RIFF size, the plain 16-byte PCM header, data size; odd data is padded outside its size.
TEST_F(WavWriterTest, HeaderIsExactAndOddDataIsPadded) {
    EXPECT_EQ(WriteFile(Pcm(22050, 2, 16), {1, 2, 3, 4, 5, 6, 7, 8}),
              HexBytes("52494646 2c000000 57415645 666d7420 10000000 01000200 22560000 88580100"
                       "04001000 64617461 08000000 01020304 05060708"));
    Name = Tmp.Path + "/odd.wav";
    EXPECT_EQ(WriteFile(Pcm(11025, 1, 8), {0x80, 0x81, 0x82, 0x83, 0x84}),
              HexBytes("52494646 2a000000 57415645 666d7420 10000000 01000100 112b0000 112b0000"
                       "01000800 64617461 05000000 80818283 8400"));
    EXPECT_TRUE(Ui.Questions.empty());
}

TEST_F(WavWriterTest, SizesArePatchedOnClose) {
    std::vector<uint8_t> data(70000, 0x11);
    ASSERT_TRUE(Writer.Initiate(false, Name, Pcm(44100, 2, 16)));
    ASSERT_TRUE(Writer.WriteData(data.data(), 1000));
    ASSERT_TRUE(Writer.WriteData(data.data(), 69000));
    ASSERT_TRUE(Writer.CloseFile());
    std::vector<uint8_t> got = ReadBytesFile(Name);
    ASSERT_EQ(got.size(), 70044u);
    EXPECT_EQ(U32At(got, 4), 70036u);
    EXPECT_EQ(U32At(got, 40), 70000u);

    Name = Tmp.Path + "/second.wav";
    got = WriteFile(Pcm(44100, 2, 16), std::vector<uint8_t>(1000, 7));
    EXPECT_EQ(got.size(), 1044u);
    EXPECT_EQ(U32At(got, 4), 1036u);
    EXPECT_EQ(U32At(got, 40), 1000u);
}

TEST_F(WavWriterTest, RoundTripThroughTheReader) {
    std::vector<uint8_t> samples = MakeRampSamples(301, 1, 8);
    WriteFile(Pcm(11025, 1, 8), samples);
    TFileWaveStream ws(Name);
    EXPECT_EQ(ws.GetFormat().nSamplesPerSec * 100 + ws.GetFormat().wBitsPerSample, 1102508u);
    EXPECT_EQ(ws.GetLength(), 301);
    std::vector<uint8_t> back(400);
    ASSERT_EQ(ws.Read(back.data(), 400), 301);
    back.resize(301);
    EXPECT_EQ(back, samples);
}

TEST_F(WavWriterTest, OtherFormatsKeepTheWholeFormatBlock) {
    TAudioFormat f{};
    f.Wfx.wFormatTag = 0x55;
    f.Wfx.nChannels = 2;
    f.Wfx.nSamplesPerSec = 44100;
    f.Wfx.cbSize = 12;
    f.Extra[0] = 0xAB;
    std::vector<uint8_t> got = WriteFile(f, {9, 9, 9, 9});
    EXPECT_EQ(U32At(got, 16), 128u);
    EXPECT_EQ(got[20], 0x55);
    EXPECT_EQ(got[20 + 18], 0xAB);
    EXPECT_EQ(std::string(got.begin() + 148, got.begin() + 152), "data");
    EXPECT_EQ(U32At(got, 152), 4u);
    EXPECT_EQ(got.size(), 160u);
}

TEST_F(WavWriterTest, RawModeWritesSamplesOnly) {
    Ui.Answers.push_back(TMsgResult::Cancel);
    EXPECT_FALSE(Writer.Initiate(true, Name, Pcm(22050, 2, 16)));
    EXPECT_FALSE(std::filesystem::exists(Name));
    ASSERT_EQ(Ui.Questions.size(), 1u);
    EXPECT_EQ(Ui.Questions[0],
              "Saving PCM data without header will most likely unreadable. Continue?");

    Ui.Answers.push_back(TMsgResult::OK);
    EXPECT_EQ(WriteFile(Pcm(22050, 2, 16), {1, 2, 3}, true), (std::vector<uint8_t>{1, 2, 3}));

    TAudioFormat other{};
    other.Wfx.wFormatTag = 0x55;
    std::filesystem::remove(Name);
    EXPECT_EQ(WriteFile(other, {4, 5, 6}, true), (std::vector<uint8_t>{4, 5, 6}));
    EXPECT_EQ(Ui.Questions.size(), 2u); // no question for compressed data
}

TEST_F(WavWriterTest, ReplacingAFileAsksAndTrashesIt) {
    WriteBytesFile(Name, {'o', 'l', 'd'});
    Ui.Answers.push_back(TMsgResult::Cancel);
    EXPECT_FALSE(Writer.Initiate(false, Name, Pcm(8000, 1, 8)));
    EXPECT_EQ(ReadBytesFile(Name), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(Ui.Questions.back(), "File " + Name + " overwrite it?");

    Ui.Answers.push_back(TMsgResult::OK);
    EXPECT_EQ(WriteFile(Pcm(8000, 1, 8), {0x80, 0x80}).size(), 46u);
    EXPECT_TRUE(std::filesystem::exists(Tmp.Path + "/.local/share/Trash/files/out.wav"));
}

TEST_F(WavWriterTest, MisuseAndFileErrors) {
    EXPECT_FALSE(Writer.WriteData("x", 1));
    EXPECT_FALSE(Writer.CloseFile());
    ASSERT_TRUE(Writer.Initiate(false, Name, Pcm(8000, 1, 8)));
    EXPECT_THROW(Writer.Initiate(false, Tmp.Path + "/b.wav", Pcm(8000, 1, 8)), EInvalidOperation);
    // More than the 32-bit sizes can describe is refused before anything is written.
    EXPECT_FALSE(Writer.WriteData("x", 0xFFFFFFFFLL - 36));
    EXPECT_TRUE(Writer.WriteData("x", 1));
    EXPECT_TRUE(Writer.CloseFile());

    std::string bad = Tmp.Path + "/no/such/folder.wav";
    EXPECT_FALSE(Writer.Initiate(false, bad, Pcm(8000, 1, 8)));
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0], "Can not write file " + bad + " (" + std::strerror(ENOENT) + ")");
    EXPECT_FALSE(Writer.IsOpen());
}

TEST_F(WavWriterTest, AnOpenFileIsCompletedWhenTheWriterGoes) {
    {
        TWavWriter w(Ui);
        ASSERT_TRUE(w.Initiate(false, Name, Pcm(8000, 1, 16)));
        ASSERT_TRUE(w.WriteData("abcd", 4));
    }
    std::vector<uint8_t> got = ReadBytesFile(Name);
    ASSERT_EQ(got.size(), 48u);
    EXPECT_EQ(U32At(got, 4), 40u);
    EXPECT_EQ(U32At(got, 40), 4u);
}

// A full disk (the system's file size limit stands in for it) fails the file with the reason,
// and a file already at the name stays as it was, with nothing left beside it.
TEST_F(WavWriterTest, FailedWriteNamesTheReasonAndKeepsTheOldFile) {
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteBytesFile(Name, old);
    Ui.Answers.push_back(TMsgResult::OK);
    TFileSizeLimit limit(10000);
    ASSERT_TRUE(limit.Active());
    const bool initiated = Writer.Initiate(false, Name, Pcm(8000, 1, 8));
    const std::vector<uint8_t> block(4096, 0x80);
    bool wrote = true;
    for (int i = 0; initiated && wrote && i < 8; ++i)
        wrote = Writer.WriteData(block.data(), int64_t(block.size()));
    const bool closed = initiated && Writer.CloseFile();
    limit.Lift();

    ASSERT_TRUE(initiated);
    EXPECT_FALSE(closed);
    EXPECT_NE(Writer.ErrorText().find(std::strerror(EFBIG)), std::string::npos)
        << Writer.ErrorText();
    EXPECT_EQ(ReadBytesFile(Name), old);
    EXPECT_FALSE(std::filesystem::exists(Name + ".~part"));
    EXPECT_FALSE(std::filesystem::exists(Tmp.Path + "/.local/share/Trash/files/out.wav"));
}
