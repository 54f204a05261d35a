#include "MyAVIReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "AviFixtures.h"
#include "FakeUiServices.h"
#include "MediaRig.h"
#include "TempFolders.h"

// ---- Byte sources -------------------------------------------------------------------------------

TEST(ByteSource, MemoryReadsStopAtTheEnd) {
    TMemoryByteSource m(std::vector<uint8_t>{1, 2, 3, 4, 5});
    uint8_t b[8] = {};
    EXPECT_EQ(m.ReadAt(3, b, 8), 2u);
    EXPECT_EQ(b[1], 5);
    EXPECT_EQ(m.ReadAt(-1, b, 1), 0u);
    EXPECT_FALSE(m.ReadExact(4, b, 2));
}

TEST(ByteSource, FileReadsBeyondFourGigabytes) {
    TTempDir dir;
    const std::string name = dir.Path + "/sparse.bin";
    const int64_t far = (int64_t(5) << 30) + 3;
    {
        int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        const char tag[] = "far";
        ASSERT_EQ(pwrite(fd, tag, 3, far), 3);
        ASSERT_EQ(pwrite(fd, "near", 4, 10), 4);
        ::close(fd);
    }
    auto src = TFileByteSource::Open(name);
    ASSERT_TRUE(src);
    EXPECT_EQ(src->Size(), far + 3);
    char b[4] = {};
    ASSERT_TRUE(src->ReadExact(far, b, 3));
    EXPECT_EQ(std::string(b, 3), "far");
    ASSERT_TRUE(src->ReadExact(10, b, 4));
    EXPECT_EQ(std::string(b, 4), "near");
    EXPECT_EQ(src->ReadAt(far + 1, b, 4), 2u);
    EXPECT_EQ(src->ReadAt(far + 3, b, 1), 0u);
}

// ---- Structure and accessors --------------------------------------------------------------------

TEST(AviReaderOpen, RawMovieHeadersAndFrames) {
    TAviSpec spec = MakeDibMovie(5, 3, 4, 40000);
    spec.Chunks[2].Key = false;
    TAviImage f = BuildAvi(spec);
    TFakeUiServices ui;
    TAviReader r(&ui);
    ASSERT_TRUE(Opens(r, f.Bytes));
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_EQ(r.GetWidth() * 100 + r.GetHeight(), 503);
    EXPECT_EQ(r.GetFrameCount(), 4);
    EXPECT_EQ(r.GetFrameRate(), 25.0L);
    EXPECT_TRUE(r.IsDIB());
    EXPECT_FALSE(r.HasAudio());
    EXPECT_TRUE(r.HasRelativeOffsets());

    ASSERT_EQ(r.GetVideoChunks().size(), 4u);
    const TPictInfo& p2 = r.GetVideoChunks()[2];
    EXPECT_EQ(p2.Flags, 0u);
    EXPECT_EQ(r.GetVideoChunks()[1].Flags, AVIIF_KEYFRAME);
    EXPECT_EQ(r.ChunkDataPos(p2.Offset), int64_t(f.ChunkPos[2] + 8));
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> data;
        ASSERT_TRUE(r.ReadVideoChunk(i, data, 4));
        std::vector<uint8_t> want = spec.Chunks[size_t(i)].Data;
        want.resize(want.size() + 4, 0);
        EXPECT_EQ(data, want) << "frame " << i;
    }
    std::vector<uint8_t> data{1};
    EXPECT_FALSE(r.ReadVideoChunk(4, data));
    EXPECT_TRUE(data.empty());
}

TEST(AviReaderOpen, AbsoluteOffsetsFromAFile) {
    TAviSpec spec = MakeDibMovie(3, 2, 3);
    spec.Index = TAviIndexMode::Absolute;
    spec.JunkBeforeMovi = true;
    TAviImage f = BuildAvi(spec);
    TTempDir dir;
    const std::string name = dir.Path + "/abs.avi";
    f.Save(name);
    TAviReader r;
    ASSERT_TRUE(r.Open(name)) << r.GetOpenError();
    EXPECT_FALSE(r.HasRelativeOffsets());
    std::vector<uint8_t> data;
    ASSERT_TRUE(r.ReadVideoChunk(1, data));
    EXPECT_EQ(data, spec.Chunks[1].Data);
}

TEST(AviReaderOpen, IdsMatchWithoutRegardToCase) {
    TAviImage f = BuildAvi(MakeDibMovie(2, 2, 2));
    f.PutId(0, "riff");
    f.PutId(8, "Avi ");
    f.PutId(f.HdrlPos, "list");
    f.PutId(f.AvihPos, "AVIH");
    f.PutId(f.StrhPos[0] + 8, "VIDS");
    f.PutId(f.MoviPos, "MOVI");
    f.PutId(f.Idx1Pos, "IDX1");
    f.PutId(f.EntryPos[1], "00DB");
    TAviReader r;
    ASSERT_TRUE(Opens(r, f.Bytes));
    EXPECT_EQ(r.GetVideoChunks().size(), 2u);
    // The handler is a codec name, not an id: "dib " is not a raw stream.
    f.PutId(f.StrhPos[0] + 12, "dib ");
    ASSERT_TRUE(Opens(r, f.Bytes));
    EXPECT_FALSE(r.IsDIB());
}

TEST(AviReaderOpen, VideoFormatTailKeptUpToTheCap) {
    std::vector<uint8_t> palette(1024);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = uint8_t(i);
    TAviSpec spec = MakeDibMovie(4, 4, 1);
    spec.Streams[0] = MakeVideoStream(4, 4, 8, FourCC("DIB "), BI_RGB, palette);
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetVideoFormat().biClrUsed, 256u);
    EXPECT_EQ(r.GetVideoFormatTail(), palette);

    spec.Streams[0] = MakeVideoStream(4, 4, 24, FourCC("MJPG"), FourCC("MJPG"),
                                      std::vector<uint8_t>(TAviReader::MaxVideoFormatTail + 1));
    EXPECT_FALSE(Opens(r, BuildAvi(spec).Bytes));
}

// Claims of the headers are held to what the file holds: frames to the index (2^31 frames of
// over an hour each would overflow every frame count), sound to a possible sample rate.
TEST(AviReaderOpen, FrameRateDurationAndHeaderClaims) {
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(MakeDibMovie(2, 2, 150, 66666)).Bytes));
    EXPECT_NEAR(double(r.GetDuration()), 9.9999, 1e-12);
    EXPECT_NEAR(double(r.GetFrameRate()), 15.00015, 1e-5);
    ASSERT_TRUE(Opens(r, BuildAvi(MakeDibMovie(2, 2, 3, 0)).Bytes));
    EXPECT_EQ(r.GetFrameRate(), 0);
    EXPECT_EQ(r.GetDuration(), 0);

    TAviSpec spec = MakeDibMovie(2, 2, 3, 0xFFFFFFFF);
    spec.TotalFrames = 0x7FFFFFFF;
    AddAudioTrack(spec, AviPcm(MaxPcmSampleRate + 1, 1, 8), {100}, {0});
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetFrameCount(), 3);
    EXPECT_EQ(r.GetClaimedFrameCount(), 0x7FFFFFFFu);
    EXPECT_EQ(r.GetDuration(), 3 * 4294.967295L);
    EXPECT_FALSE(r.HasAudio());
    spec = MakeDibMovie(2, 2, 3);
    spec.TotalFrames = 2; // fewer than indexed stays as stored
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetFrameCount(), 2);
}

// ---- Index and stream selection -----------------------------------------------------------------

TEST(AviReaderIndex, ChunksAreMatchedToTheTakenStreams) {
    // Streams: 0 audio (PCM), 1 video, 2 a second audio track.
    TAviSpec spec;
    spec.Streams.push_back(MakeAudioStream(AviPcm(8000, 1, 8)));
    spec.Streams.push_back(MakeVideoStream(2, 2, 24));
    spec.Streams.push_back(MakeAudioStream(AviPcm(8000, 1, 8)));
    auto chunk = [](int stream, const char* kind, size_t size) {
        TAviChunkSpec c;
        c.Stream = stream;
        c.Kind = kind;
        c.Data = MakePattern(size, uint32_t(size));
        return c;
    };
    spec.Chunks = {chunk(1, "dc", 16), chunk(0, "wb", 100), chunk(2, "wb", 77), chunk(1, "db", 16),
                   chunk(0, "dc", 9),  chunk(1, "pc", 4),   chunk(1, "dc", 0),  chunk(0, "wb", 50)};
    spec.ExtraEntries = {{FourCC("ix01"), 0, 4, 8}, {FourCC("rec "), 0, 4, 8}};
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetVideoStreamNo(), 1);
    EXPECT_EQ(r.GetAudioStreamNo(), 0);
    ASSERT_EQ(r.GetVideoChunks().size(), 3u);
    EXPECT_EQ(r.GetVideoChunks()[2].Size, 0u); // a dropped frame stays in the index
    ASSERT_EQ(r.GetAudioChunks().size(), 2u);
    EXPECT_EQ(r.GetAudioChunks()[0].Size, 100u);
    EXPECT_EQ(r.GetAudioChunks()[1].Size, 50u);
    std::vector<uint8_t> data;
    ASSERT_TRUE(r.ReadVideoChunk(2, data));
    EXPECT_TRUE(data.empty());
    ASSERT_TRUE(r.ReadAudioChunk(1, data));
    EXPECT_EQ(data, MakePattern(50, 50));
}

TEST(AviReaderIndex, AudioChunksMapOntoFrames) {
    // 8 kHz 8-bit mono at 16 fps: 500 bytes per frame. Chunk layout by frame:
    // A0 V0 A1 A2 V1 V2 A3 V3  -> A0 covers frame 0, A1 only its own first frame 1,
    // A2 frames 1..2, A3 frame 3. A0 is too short for a skew.
    TAviSpec spec = MakeDibMovie(2, 2, 4, 62500);
    AddAudioTrack(spec, AviPcm(8000, 1, 8), {200, 300, 700, 500}, {0, 1, 1, 3});
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    ASSERT_TRUE(r.HasAudio());
    ASSERT_TRUE(r.IsAudioPCM());
    const auto& a = r.GetAudioChunks();
    ASSERT_EQ(a.size(), 4u);
    const int32_t first[] = {0, 1, 1, 3}, last[] = {0, 1, 2, 3};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(a[i].FirstFrame, first[i]) << i;
        EXPECT_EQ(a[i].LastFrame, last[i]) << i;
    }
    EXPECT_EQ(r.GetAudioChunkSamples(a[2]), 700u);
    EXPECT_EQ(r.GetAudioChunkSeconds(a[2]), 700 / 8000.0L);
    EXPECT_EQ(r.GetAudioSkewFrames(), 0);
    EXPECT_EQ(r.GetFrameAudio(0).Pos, a[0].Offset);
    EXPECT_EQ(r.GetFrameAudio(1).Pos, a[2].Offset); // A2 is walked after A1 and wins frame 1
    EXPECT_EQ(r.GetFrameAudio(2).Pos, a[2].Offset + 500);
    EXPECT_EQ(r.GetFrameAudio(3).Pos, a[3].Offset);
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_EQ(r.GetFrameAudio(i).Bytes, 500u);
    EXPECT_EQ(r.GetFrameAudio(4).Bytes, 0u);
}

TEST(AviReaderIndex, LeadingSoundGivesTheSkew) {
    // 44.1 kHz 16-bit stereo at 15 fps: 11,760 bytes per frame; 0.75 s ahead of frame 0 is
    // 11.25 frames, rounded to 11.
    TAviSpec spec = MakeDibMovie(2, 2, 16, 66667);
    std::vector<uint32_t> sizes{132300};
    std::vector<int> before{0};
    for (int i = 1; i < 16; ++i) {
        sizes.push_back(11760);
        before.push_back(i);
    }
    AddAudioTrack(spec, AviPcm(44100, 2, 16), sizes, before);
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetAudioSkewFrames(), 11);
    EXPECT_EQ(r.GetAudioSkewSeconds(), 11 / r.GetFrameRate());
    const auto& a = r.GetAudioChunks();
    EXPECT_EQ(a[0].LastFrame, 11);
    EXPECT_EQ(a[1].FirstFrame, 12);
    EXPECT_EQ(a[15].FirstFrame, 26);
    EXPECT_EQ(r.GetFrameAudio(11).Pos, int64_t(a[0].Offset) + 11 * 11760);
    EXPECT_EQ(r.GetFrameAudio(15).Pos, a[4].Offset);
}

// Sound ahead of frame 0 rounds to whole frames, halves to even, also below one frame a second; no
// frame rate, less than one sample frame per frame or a sample frame of no whole bytes (4-bit
// "PCM") give no skew.
TEST(AviReaderIndex, SkewRoundsHalvesToEvenAndNeedsWholeSampleFrames) {
    const struct {
        uint32_t MicroSecPerFrame, Rate;
        uint16_t Channels, Bits;
        uint32_t Lead;
        int Skew;
        uint32_t FrameBytes;
        bool Audio;
    } rows[] = {
        {62500, 8000, 1, 8, 5250, 10, 500, true}, {62500, 8000, 1, 8, 5750, 12, 500, true},
        {62500, 8000, 1, 8, 250, 0, 500, true},   {62500, 8000, 1, 8, 0, 0, 500, true},
        {0, 8000, 1, 8, 6000, 0, 0, true},        {2000000, 8000, 1, 8, 24000, 2, 16000, true},
        {40000, 10, 2, 16, 6000, 0, 0, true},     {66666, 8000, 1, 4, 6000, 0, 0, false}};
    for (const auto& c : rows) {
        SCOPED_TRACE(testing::Message() << c.Rate << " Hz " << c.Bits << " bits, " << c.Lead);
        TAviSpec spec = MakeDibMovie(2, 2, 20, c.MicroSecPerFrame);
        TAudioFormat f = AviPcm(c.Rate, c.Channels, c.Bits == 4 ? 8 : c.Bits);
        f.Wfx.wBitsPerSample = c.Bits;
        AddAudioTrack(spec, f, {c.Lead, 500}, {0, 1});
        TAviReader r;
        ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
        EXPECT_TRUE(r.IsAudioPCM());
        EXPECT_EQ(r.HasAudio(), c.Audio);
        EXPECT_EQ(r.GetAudioSkewFrames(), c.Skew);
        EXPECT_EQ(r.GetFrameAudio(1).Bytes, c.Audio ? c.FrameBytes : 0u);
        // A chunk without sound is left out of the index.
        EXPECT_EQ(r.GetAudioChunks().size(), c.Lead ? 2u : 1u);
    }
}

TEST(AviReaderIndex, PcmFormatIsRecomputed) {
    TAudioFormat lying = AviPcm(22050, 2, 16);
    lying.Wfx.nBlockAlign = 3;
    lying.Wfx.nAvgBytesPerSec = 1;
    TAviSpec spec = MakeDibMovie(2, 2, 2);
    AddAudioTrack(spec, lying, {100}, {0}, 16);
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetSourceAudioFormat().Wfx.nBlockAlign, 3);
    EXPECT_EQ(r.GetDecodedPcmFormat().Wfx.nBlockAlign, 4);
    EXPECT_EQ(r.GetDecodedPcmFormat().Wfx.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(r.GetAudioChunkSamples(r.GetAudioChunks()[0]), 25u);
}

TEST(AviReaderIndex, CompressedTrackWithoutDecoderPlaysSilent) {
    // A format tag no codec of ours decodes.
    TAudioFormat odd{};
    odd.Wfx.wFormatTag = 0x7A7A;
    odd.Wfx.nChannels = 2;
    odd.Wfx.nSamplesPerSec = 44100;
    odd.Wfx.nAvgBytesPerSec = 16000;
    odd.Wfx.nBlockAlign = 1;
    odd.Wfx.cbSize = 12;
    TAviSpec spec = MakeDibMovie(2, 2, 3);
    AddAudioTrack(spec, odd, {417, 418}, {0, 2}, 30);
    TFakeUiServices ui;
    TAviReader r(&ui);
    ASSERT_TRUE(r.Open(std::make_unique<TMemoryByteSource>(BuildAvi(spec).Bytes), "odd.avi"));
    EXPECT_FALSE(r.HasAudio());
    EXPECT_EQ(r.GetSourceAudioFormat().Wfx.cbSize, 12);
    EXPECT_EQ(r.GetFrameAudio(0).Bytes, 0u);
    r.PrepareAudio(AviPcm(22050, 1, 16), 15);
    EXPECT_FALSE(r.IsAudioReady());
    // The user is told, once, why the movie has no sound.
    EXPECT_EQ(ui.Messages,
              std::vector<std::string>{
                  "The sound track of odd.avi is left out: no decoder reads its "
                  "format (tag 0x7A7A). The movie's pictures are used without sound."});
    EXPECT_EQ(ui.MessageKinds, std::vector<TMsgKind>{TMsgKind::Warning});
    TBitmap frame(2, 2);
    EXPECT_TRUE(r.GetFrame(2, frame));
}

// PCM whose samples are not whole bytes cannot be played either, and is said so; a track that
// plays opens without a word.
TEST(AviReaderIndex, UnplayablePcmTrackIsReported) {
    for (uint16_t bits : {4, 8}) {
        TAudioFormat pcm = AviPcm(8000, 2, 8);
        pcm.Wfx.wBitsPerSample = bits;
        TAviSpec spec = MakeDibMovie(2, 2, 2);
        AddAudioTrack(spec, pcm, {100}, {0});
        TFakeUiServices ui;
        TAviReader r(&ui);
        ASSERT_TRUE(r.Open(std::make_unique<TMemoryByteSource>(BuildAvi(spec).Bytes), "pcm.avi"));
        EXPECT_EQ(r.HasAudio(), bits == 8);
        if (bits == 8) {
            EXPECT_TRUE(ui.Messages.empty());
            continue;
        }
        EXPECT_EQ(ui.Messages,
                  std::vector<std::string>{"The sound track of pcm.avi is left out: its PCM "
                                           "format (2 channels of 4 bits at 8000 Hz) cannot be "
                                           "played. The movie's pictures are used without sound."});
        EXPECT_EQ(ui.MessageKinds, std::vector<TMsgKind>{TMsgKind::Warning});
    }
}

// Plain PCM the mixer takes no layout of (more than 16 bits, more than two channels) is left out
// when the movie opens, with the warning, so that the frames do not fail on their first sound
// block; the track can still be copied out as stored.
TEST(AviReaderIndex, PcmTrackTheMixerCannotTakeIsLeftOut) {
    const struct { uint16_t Channels, Bits; } rows[] = {{2, 24}, {2, 32}, {6, 16}, {1, 24}};
    for (const auto& c : rows) {
        SCOPED_TRACE(std::to_string(c.Channels) + " x " + std::to_string(c.Bits));
        TAudioFormat pcm{};
        MakePcmFormat(pcm, 22050, c.Channels, c.Bits);
        TAviSpec spec = MakeDibMovie(2, 2, 3);
        AddAudioTrack(spec, pcm, {pcm.Wfx.nBlockAlign * 100u}, {0});
        TFakeUiServices ui;
        TAviReader r(&ui);
        ASSERT_TRUE(r.Open(std::make_unique<TMemoryByteSource>(BuildAvi(spec).Bytes), "deep.avi"));
        EXPECT_FALSE(r.HasAudio());
        EXPECT_TRUE(r.HasAudioTrack());
        EXPECT_EQ(ui.Messages, std::vector<std::string>{
                                   "The sound track of deep.avi is left out: its PCM format (" +
                                   std::to_string(c.Channels) +
                                   (c.Channels == 1 ? " channel of " : " channels of ") +
                                   std::to_string(c.Bits) +
                                   " bits at 22050 Hz) cannot be played. The movie's pictures "
                                   "are used without sound."});
        EXPECT_EQ(ui.MessageKinds, std::vector<TMsgKind>{TMsgKind::Warning});
        r.PrepareAudio(AviPcm(22050, 2, 16), 15);
        EXPECT_FALSE(r.IsAudioReady());
        TBitmap frame(2, 2);
        EXPECT_TRUE(r.GetFrame(2, frame));
        EXPECT_EQ(r.GetDecodedPcmFormat().Wfx.nBlockAlign, c.Channels * c.Bits / 8);
    }
}

// ---- Refusals -----------------------------------------------------------------------------------

TEST(AviReaderRefuse, DamagedStructures) {
    const TAviImage good = [] {
        TAviSpec spec = MakeDibMovie(3, 2, 3);
        AddAudioTrack(spec, AviPcm(8000, 1, 8), {500, 500}, {0, 1});
        return BuildAvi(spec);
    }();
    struct Case {
        const char* Name;
        std::function<void(TAviImage&)> Damage;
        size_t TAviImage::*At; // where the reader must report the fault
    };
    const Case cases[] = {
        {"avih not 56 bytes", [](TAviImage& f) { f.PutU32(f.AvihPos + 4, 52); },
         &TAviImage::AvihPos},
        {"hdrl list below 4 bytes", [](TAviImage& f) { f.PutU32(f.HdrlPos + 4, 2); },
         &TAviImage::HdrlPos},
        {"movi list ends beyond the file",
         [](TAviImage& f) { f.PutU32(f.MoviListPos + 4, uint32_t(f.Bytes.size())); },
         &TAviImage::MoviListPos},
        {"idx1 counts more entries than present",
         [](TAviImage& f) { f.PutU32(f.Idx1Pos + 4, f.GetU32(f.Idx1Pos + 4) + 16); },
         &TAviImage::Idx1Pos},
        {"idx1 missing", [](TAviImage& f) { f.PutId(f.Idx1Pos, "JUNK"); }, &TAviImage::Idx1Pos},
        {"movi missing", [](TAviImage& f) { f.PutId(f.MoviPos, "rec "); }, nullptr},
        {"not an AVI", [](TAviImage& f) { f.PutId(8, "WAVE"); }, nullptr},
        {"no video stream", [](TAviImage& f) { f.PutId(f.StrhPos[0] + 8, "txts"); }, nullptr},
        {"huge width", [](TAviImage& f) { f.PutU32(f.AvihPos + 8 + 32, 0x80000000u); }, nullptr},
    };
    for (const Case& c : cases) {
        TAviImage f = good;
        c.Damage(f);
        TFakeUiServices ui;
        TAviReader r(&ui);
        EXPECT_FALSE(r.Open(std::make_unique<TMemoryByteSource>(f.Bytes), "bad.avi")) << c.Name;
        EXPECT_FALSE(r.IsLoaded());
        ASSERT_EQ(ui.Messages.size(), 1u) << c.Name;
        EXPECT_EQ(ui.Messages[0], "Can not open bad.avi\n" + r.GetOpenError());
        EXPECT_NE(r.GetOpenError().find("bad.avi"), std::string::npos) << r.GetOpenError();
        if (c.At) {
            EXPECT_EQ(r.GetOpenErrorOffset(), int64_t(f.*c.At))
                << c.Name << ": " << r.GetOpenError();
        }
    }
}

TEST(AviReaderRefuse, BadStreamHeadersAndFormats) {
    auto dib = [](auto change) {
        TAviSpec spec = MakeDibMovie(2, 2, 2);
        AddAudioTrack(spec, AviPcm(8000, 1, 8), {10}, {0});
        change(spec);
        return BuildAvi(spec).Bytes;
    };
    const struct {
        const char* Name;
        Bytes File;
        bool Opens;
    } rows[] = {
        {"strh of 47 bytes", dib([](TAviSpec& s) { s.Streams[0].StrhSize = 47; }), false},
        {"strh of 48 bytes", dib([](TAviSpec& s) { s.Streams[0].StrhSize = 48; }), true},
        {"strf of 129 bytes",
         dib([](TAviSpec& s) { s.Streams[1] = MakeAudioStream(AviPcm(8000, 1, 8), 129); }), false},
        {"strf of 128 bytes",
         dib([](TAviSpec& s) { s.Streams[1] = MakeAudioStream(AviPcm(8000, 1, 8), 128); }), true},
        // The index must follow the movie data directly, and must exist.
        {"JUNK before idx1", dib([](TAviSpec& s) { s.JunkBeforeIdx1 = true; }), false},
        {"no idx1", dib([](TAviSpec& s) { s.Index = TAviIndexMode::None; }), false},
        // Sound with no video frame in the index; without sound an empty index is a movie.
        {"sound only",
         dib([](TAviSpec& s) { s.Chunks.erase(s.Chunks.begin() + 1, s.Chunks.end()); }), false},
        {"no frames", BuildAvi(MakeDibMovie(2, 2, 0)).Bytes, true},
    };
    for (const auto& c : rows) {
        TAviReader r;
        EXPECT_EQ(Opens(r, c.File), c.Opens) << c.Name;
    }
}

// A video format whose picture has no size, or one nothing could hold, refuses the file as a bad
// main header does: one message naming the file, the reason and where the format lies.
TEST(AviReaderRefuse, ImpossiblePictureSizeInTheVideoFormat) {
    const struct {
        uint32_t Width, Height;
        bool Opens;
    } rows[] = {{0x7FFFFFFFu, 2, false},
                {2, 0x80000000u, false},
                {0, 2, false},
                {0xFFFFFFFEu, 2, false}, // -2
                {2, 0, false},
                {TAviReader::MaxPictureSide + 1, 2, false},
                {2, uint32_t(-TAviReader::MaxPictureSide - 1), false},
                {2, 0xFFFFFFFEu, true}, // top-down rows
                {TAviReader::MaxPictureSide, 2, true}};
    for (const auto& c : rows) {
        SCOPED_TRACE(std::to_string(int32_t(c.Width)) + " x " + std::to_string(int32_t(c.Height)));
        // Sizes that open get frames that hold their picture.
        TAviImage f =
            BuildAvi(c.Opens ? MakeDibMovie(int32_t(c.Width), std::abs(int32_t(c.Height)), 2)
                             : MakeDibMovie(2, 2, 2));
        f.PutU32(f.StrfPos[0] + 8 + 4, c.Width);  // biWidth
        f.PutU32(f.StrfPos[0] + 8 + 8, c.Height); // biHeight
        TFakeUiServices ui;
        TAviReader r(&ui);
        EXPECT_EQ(r.Open(std::make_unique<TMemoryByteSource>(f.Bytes), "bad.avi"), c.Opens);
        if (c.Opens) {
            EXPECT_TRUE(ui.Messages.empty());
            continue;
        }
        EXPECT_EQ(r.GetOpenError(), "Video format gives an impossible picture size (" +
                                        std::to_string(int32_t(c.Width)) + " x " +
                                        std::to_string(int32_t(c.Height)) + ") (bad.avi, offset " +
                                        std::to_string(f.StrfPos[0] + 8) + ")");
        EXPECT_EQ(ui.Messages,
                  std::vector<std::string>{"Can not open bad.avi\n" + r.GetOpenError()});
        EXPECT_EQ(ui.MessageKinds, std::vector<TMsgKind>{TMsgKind::Error});
    }
}

// Raw frames none of which holds a whole picture can never be drawn: the file is refused on open
// with the reason and where the first frame lies, as for an impossible picture size. One short
// frame among whole ones loses that frame only (AviDecodeRaw).
TEST(AviReaderRefuse, RawFramesShorterThanThePicture) {
    const struct {
        const char* Name;
        uint32_t Width;
        uint16_t BitCount;
        std::string Reason;
    } rows[] = {
        {"wide", TAviReader::MaxPictureSide, 24,
         "Every raw frame is shorter than one picture of 16384 x 2 at 24 bits (98304 bytes; the "
         "first holds 16)"},
        {"one byte short", 3, 24,
         "Every raw frame is shorter than one picture of 3 x 2 at 24 bits (24 bytes; the first "
         "holds 16)"},
        {"no layout", 2, 7, "Raw frames of 2 x 2 at 7 bits describe no picture that can be drawn"}};
    for (const auto& c : rows) {
        SCOPED_TRACE(c.Name);
        TAviImage f = BuildAvi(MakeDibMovie(2, 2, 3));
        f.PutU32(f.StrfPos[0] + 8 + 4, c.Width);               // biWidth
        f.PutU32(f.StrfPos[0] + 8 + 12, c.BitCount << 16 | 1); // biPlanes, biBitCount
        TFakeUiServices ui;
        TAviReader r(&ui);
        EXPECT_FALSE(r.Open(std::make_unique<TMemoryByteSource>(f.Bytes), "short.avi"));
        EXPECT_EQ(r.GetOpenError(),
                  c.Reason + " (short.avi, offset " + std::to_string(f.ChunkPos[0]) + ")");
        EXPECT_EQ(r.GetOpenErrorOffset(), int64_t(f.ChunkPos[0]));
        EXPECT_EQ(ui.Messages,
                  std::vector<std::string>{"Can not open short.avi\n" + r.GetOpenError()});
        EXPECT_FALSE(r.IsLoaded());
    }
    // A dropped first frame is passed over for the first one stored; a movie with no stored
    // frame, or one whole frame among short ones, opens.
    TAviSpec spec = MakeDibMovie(2, 2, 3);
    spec.Chunks[0].Data.clear();
    spec.Chunks[1].Data.resize(10);
    TAviImage f = BuildAvi(spec);
    TAviReader r;
    EXPECT_TRUE(Opens(r, f.Bytes));
    f.PutU32(f.StrfPos[0] + 8 + 4, 3);
    EXPECT_FALSE(Opens(r, f.Bytes));
    EXPECT_EQ(r.GetOpenErrorOffset(), int64_t(f.ChunkPos[1]));
    for (auto& chunk : spec.Chunks)
        chunk.Data.clear();
    EXPECT_TRUE(Opens(r, BuildAvi(spec).Bytes));
}

TEST(AviReaderRefuse, ChunkReadsStayInsideTheFile) {
    TAviSpec spec = MakeDibMovie(2, 2, 2);
    spec.ExtraEntries = {{FourCC("00db"), 0x10, 0xFFFFFFF0u, 0xFFFFFFFFu},
                         {FourCC("00db"), 0x10, 4, 0x7FFFFFFF}};
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    ASSERT_EQ(r.GetVideoChunks().size(), 4u);
    std::vector<uint8_t> data;
    EXPECT_FALSE(r.ReadVideoChunk(2, data));
    EXPECT_FALSE(r.ReadVideoChunk(3, data));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(r.ReadVideoChunk(1, data));
    r.Close();
    EXPECT_FALSE(r.ReadChunkData(4, 1, data));
}

TEST(AviReaderRefuse, EveryTruncationFails) {
    TAviSpec spec = MakeDibMovie(3, 2, 3);
    AddAudioTrack(spec, AviPcm(8000, 1, 8), {501, 500}, {0, 2});
    const TAviImage f = BuildAvi(spec);
    ASSERT_TRUE([&] {
        TAviReader r;
        return Opens(r, f.Bytes);
    }());
    TAviReader r;
    for (size_t n = 0; n < f.Bytes.size(); ++n) {
        // Data bytes are sampled; every header and index byte is tried.
        if (n > f.ChunkPos[0] + 16 && n < f.Idx1Pos && n % 97 != 0)
            continue;
        std::vector<uint8_t> cut(f.Bytes.begin(), f.Bytes.begin() + long(n));
        EXPECT_FALSE(Opens(r, cut)) << "cut at " << n;
        // A RIFF size that agrees with the cut takes the walk further in.
        if (n >= 8) {
            uint32_t riff = uint32_t(n - 8);
            std::memcpy(cut.data() + 4, &riff, 4);
            EXPECT_FALSE(Opens(r, cut)) << "cut at " << n << " with RIFF size";
        }
    }
}

// ---- Lifecycle ----------------------------------------------------------------------------------

TEST(AviReaderLifecycle, MissingFileIsSilent) {
    TTempDir dir;
    TFakeUiServices ui;
    TAviReader r(&ui);
    EXPECT_FALSE(r.Open(dir.Path + "/none.avi"));
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_FALSE(r.Open(dir.Path)); // a folder exists but is no movie
    EXPECT_EQ(ui.Messages,
              std::vector<std::string>{"Can not open " + dir.Path + "\n" + r.GetOpenError()});
    EXPECT_FALSE(TFileByteSource::Open(dir.Path));
    // A FIFO would block the open until a writer comes: it is refused at once.
    const std::string fifo = dir.Path + "/pipe.avi";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ui.Messages.clear();
    EXPECT_FALSE(r.Open(fifo));
    EXPECT_EQ(ui.Messages,
              std::vector<std::string>{"Can not open " + fifo + "\n" + r.GetOpenError()});
}

TEST(AviReaderLifecycle, OpenStartsWithClose) {
    TAviSpec spec = MakeDibMovie(2, 2, 3);
    AddAudioTrack(spec, AviPcm(8000, 1, 8), {500}, {0});
    const TAviImage withAudio = BuildAvi(spec);
    TAviImage bad = withAudio;
    bad.PutU32(bad.AvihPos + 4, 50);

    TAviReader r;
    ASSERT_TRUE(Opens(r, withAudio.Bytes));
    ASSERT_TRUE(r.HasAudio());
    EXPECT_FALSE(Opens(r, bad.Bytes));
    EXPECT_FALSE(r.IsLoaded());
    EXPECT_FALSE(r.HasAudio());
    EXPECT_TRUE(r.GetAudioChunks().empty());
    EXPECT_EQ(r.GetFrameCount(), 0);

    ASSERT_TRUE(Opens(r, withAudio.Bytes));
    ASSERT_TRUE(Opens(r, BuildAvi(MakeDibMovie(4, 4, 5)).Bytes));
    EXPECT_FALSE(r.HasAudio());
    EXPECT_EQ(r.GetVideoChunks().size(), 5u);
    r.Close();
    std::vector<uint8_t> data;
    EXPECT_FALSE(r.ReadVideoChunk(0, data));
}
