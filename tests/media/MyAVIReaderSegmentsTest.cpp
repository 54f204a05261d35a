// AVI 2.0 movies: the "AVIX" segments behind the first RIFF form, which "idx1" does not cover.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AviFixtures.h"
#include "FakeUiServices.h"
#include "MediaRig.h"
#include "TempFolders.h"

namespace {

constexpr int32_t W = 4, H = 2;

TAviChunkSpec Frame(int seed, bool key = true) {
    return TAviChunkSpec{0, "db", MakeDib24Frame(W, H, uint8_t(seed)), key};
}

TAviChunkSpec Sound(int seed) {
    return TAviChunkSpec{1, "wb", MakePattern(800, uint32_t(seed))};
}

// 10 frames a second, each followed by 800 bytes of 8 kHz 8-bit mono sound: frames 0-2 in the
// first RIFF form, frames 3-4 in a segment with a standard index (frame 4 not a key frame), frames
// 5-7 in one without.
TAviSpec ThreeSegmentMovie() {
    TAviSpec spec = MakeDibMovie(W, H, 3, 100000);
    AddAudioTrack(spec, AviPcm(8000, 1, 8), {800, 800, 800}, {1, 2, 3});
    spec.Segments.resize(2);
    spec.Segments[0].Chunks = {Frame(3), Sound(3), Frame(4, false), Sound(4)};
    spec.Segments[1].Chunks = {Frame(5), Sound(5), Frame(6), Sound(6), Frame(7), Sound(7)};
    spec.Segments[1].StandardIndex = false;
    return spec;
}

// The chunks of the movie's first stream (video) or second (sound), in file order.
std::vector<Bytes> DataOf(const TAviSpec& spec, int stream) {
    std::vector<Bytes> out;
    auto take = [&](const std::vector<TAviChunkSpec>& chunks) {
        for (const auto& c : chunks)
            if (c.Stream == stream)
                out.push_back(c.Data);
    };
    take(spec.Chunks);
    for (const auto& s : spec.Segments)
        take(s.Chunks);
    return out;
}

void ExpectPicture(TAviReader& r, int32_t index, const Bytes& dib) {
    TBitmap b(W, H);
    ASSERT_TRUE(r.GetFrame(index, b)) << "frame " << index;
    const size_t row = size_t(DIBRowBytes(W, 24, 32));
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W * 3; ++x)
            ASSERT_EQ(b.ScanLine(H - 1 - y)[x], dib[size_t(y) * row + size_t(x)])
                << "frame " << index << " at " << x << "," << y;
}

} // namespace

TEST(AviSegments, EveryChunkOfEverySegmentIsRead) {
    const TAviSpec spec = ThreeSegmentMovie();
    const TAviImage f = BuildAvi(spec);
    TFakeUiServices ui;
    TAviReader r(&ui);
    ASSERT_TRUE(Opens(r, f.Bytes));
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_EQ(r.GetSegmentCount(), 2);
    EXPECT_EQ(r.GetDamagedAt(), -1);
    EXPECT_EQ(r.GetClaimedFrameCount(), 3u); // the first segment's count, as writers store it
    EXPECT_EQ(r.GetFrameCount(), 8);
    EXPECT_EQ(r.GetDuration(), 8 * 0.1L);

    const std::vector<Bytes> video = DataOf(spec, 0), sound = DataOf(spec, 1);
    const auto& v = r.GetVideoChunks();
    ASSERT_EQ(v.size(), 8u);
    for (int32_t i = 0; i < 8; ++i) {
        Bytes data;
        ASSERT_TRUE(r.ReadVideoChunk(i, data));
        EXPECT_EQ(data, video[size_t(i)]) << "frame " << i;
    }
    EXPECT_EQ(r.ChunkDataPos(v[4].Offset), int64_t(f.SegmentChunkPos[0][2] + 8));
    EXPECT_EQ(v[3].EntryNo, 6u); // numbered on past the six "idx1" entries
    // The standard index tells key frames; without one the walk marks none.
    EXPECT_EQ(v[3].Flags, AVIIF_KEYFRAME);
    EXPECT_EQ(v[4].Flags, 0u);
    EXPECT_EQ(v[7].Flags, 0u);
    ExpectPicture(r, 7, video[7]);
    ExpectPicture(r, 4, video[4]);

    const auto& a = r.GetAudioChunks();
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(a[5].FirstFrame, 6);
    EXPECT_EQ(a[6].LastFrame, 7);
    EXPECT_EQ(v[7].AudioPos, a[6].Offset);
    // Every frame's sound comes out, in order, up to the last one.
    r.PrepareAudio(AviPcm(8000, 1, 8), 10);
    for (int32_t i = 0; i < 8; ++i) {
        Bytes block;
        ASSERT_TRUE(r.ReadAudio(i, block, i / 10.0L));
        EXPECT_EQ(block, sound[size_t(i)]) << "frame " << i;
    }

    // Sound alone in the last segment plays on to the last frame.
    TAviSpec soundLast = spec;
    soundLast.Segments[1].Chunks = {Sound(5), Sound(6)};
    ASSERT_TRUE(Opens(r, BuildAvi(soundLast).Bytes));
    EXPECT_EQ(r.GetFrameCount(), 5);
    ASSERT_EQ(r.GetAudioChunks().size(), 7u);
    EXPECT_EQ(r.GetAudioChunks().back().FirstFrame, 5);
    EXPECT_EQ(r.GetAudioChunks().back().LastFrame, 4);
    EXPECT_EQ(r.GetAudioChunks()[5].LastFrame, 5);
}

// Only a standard index of the video stream's chunks, two words an entry, marks key frames: an
// index of another shape is passed over, and the frames are read all the same.
TEST(AviSegments, AnIndexOfAnotherShapeMarksNoKeyFrame) {
    const TAviImage whole = BuildAvi(ThreeSegmentMovie());
    const std::string text(whole.Bytes.begin(), whole.Bytes.end());
    const size_t ix = text.find("ix00", whole.SegmentPos[0]);
    ASSERT_NE(ix, std::string::npos);
    // The index's words per entry and its type (1: an index of chunks).
    for (const size_t at : {ix + 8, ix + 11}) {
        SCOPED_TRACE(at - ix);
        Bytes bytes = whole.Bytes;
        bytes[at] = 4;
        TAviReader r;
        ASSERT_TRUE(Opens(r, bytes));
        EXPECT_EQ(r.GetFrameCount(), 8);
        EXPECT_EQ(r.GetVideoChunks()[3].Flags, 0u);
    }
}

// A segment cut off, or one whose chunk runs past its list, ends the movie at the last whole
// chunk and says so once; bytes that are no segment after the movie change nothing.
TEST(AviSegments, DamagedSegmentEndsTheMovieWithOneMessage) {
    const TAviImage whole = BuildAvi(ThreeSegmentMovie());
    const size_t frame6 = whole.SegmentChunkPos[1][2];
    struct TCase {
        const char* What;
        Bytes File;
        int64_t DamagedAt;
        int32_t Frames;
    };
    std::vector<TCase> cases;
    cases.push_back({"cut inside frame 6",
                     Bytes(whole.Bytes.begin(), whole.Bytes.begin() + long(frame6) + 20),
                     int64_t(frame6), 6});
    TAviImage overlong = whole;
    overlong.PutU32(whole.SegmentChunkPos[0][1] + 4, 0x7FFFFFF0); // the sound after frame 3
    cases.push_back(
        {"chunk past its list", overlong.Bytes, int64_t(whole.SegmentChunkPos[0][1]), 4});
    TAviImage noMovi = whole;
    noMovi.PutId(whole.SegmentPos[1] + 20, "JUNK");
    cases.push_back({"segment without movie data", noMovi.Bytes, int64_t(whole.Bytes.size()), 5});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TFakeUiServices ui;
        TAviReader r(&ui);
        ASSERT_TRUE(Opens(r, c.File));
        EXPECT_EQ(r.GetDamagedAt(), c.DamagedAt);
        EXPECT_EQ(r.GetFrameCount(), c.Frames);
        EXPECT_EQ(r.GetDuration(), c.Frames * 0.1L);
        ASSERT_EQ(ui.Messages.size(), 1u);
        EXPECT_EQ(ui.MessageKinds[0], TMsgKind::Warning);
        EXPECT_EQ(ui.Messages[0], "The movie mem.avi is damaged or cut off at byte " +
                                      std::to_string(c.DamagedAt) + " of " +
                                      std::to_string(c.File.size()) + "; its first " +
                                      std::to_string(c.Frames) + " frames (" +
                                      FormatTimeText(c.Frames * 0.1L) + ") are used.");
        Bytes data;
        EXPECT_TRUE(r.ReadVideoChunk(c.Frames - 1, data));
    }

    // A plain movie with bytes behind it that are no segment reads as it always did.
    TAviSpec plain = MakeDibMovie(W, H, 3, 100000);
    Bytes bytes = BuildAvi(plain).Bytes;
    const Bytes trailer = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 0};
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    TFakeUiServices ui;
    TAviReader r(&ui);
    ASSERT_TRUE(Opens(r, bytes));
    EXPECT_EQ(r.GetFrameCount(), 3);
    EXPECT_EQ(r.GetSegmentCount(), 0);
    EXPECT_TRUE(ui.Messages.empty());
}

// Segments that start past 4 GB: a sparse file whose first segment holds 3 GB of filler before
// its frame, and whose second starts behind it with another 3 GB before its frame.
TEST(AviSegments, PositionsPastFourGigabytes) {
    TTempDir dir;
    const std::string name = dir.Path + "/big.avi";
    const TAviImage first = BuildAvi(MakeDibMovie(W, H, 2, 100000));
    const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    auto put = [&](int64_t pos, const Bytes& b) {
        ASSERT_EQ(pwrite(fd, b.data(), b.size(), pos), ssize_t(b.size()));
    };
    put(0, first.Bytes);
    constexpr uint32_t filler = 3u << 30;
    const Bytes frameData = MakeDib24Frame(W, H, 9);
    const uint32_t frameChunk = 8 + uint32_t(frameData.size());
    // RIFF AVIX, LIST movi, JUNK of filler bytes (not written), then one frame.
    std::vector<int64_t> framePos;
    int64_t pos = int64_t(first.Bytes.size());
    for (int s = 0; s < 2; ++s) {
        Bytes head;
        PutLE(head, 4,
              {FourCC("RIFF"), 4 + 12 + 8 + filler + frameChunk, FourCC("AVIX"), FourCC("LIST"),
               4 + 8 + filler + frameChunk, FourCC("movi"), FourCC("JUNK"), filler});
        put(pos, head);
        framePos.push_back(pos + int64_t(head.size()) + filler);
        Bytes chunk;
        PutLE(chunk, 4, {FourCC("00db"), uint32_t(frameData.size())});
        chunk.insert(chunk.end(), frameData.begin(), frameData.end());
        put(framePos.back(), chunk);
        pos = framePos.back() + frameChunk;
    }
    ::close(fd);
    ASSERT_GT(framePos[1], int64_t(6) << 30);

    TFakeUiServices ui;
    TAviReader r(&ui);
    ASSERT_TRUE(r.Open(name)) << r.GetOpenError();
    EXPECT_TRUE(ui.Messages.empty());
    ASSERT_EQ(r.GetFrameCount(), 4);
    for (int s = 0; s < 2; ++s)
        EXPECT_EQ(r.ChunkDataPos(r.GetVideoChunks()[size_t(2 + s)].Offset),
                  framePos[size_t(s)] + 8);
    Bytes data;
    ASSERT_TRUE(r.ReadVideoChunk(3, data));
    EXPECT_EQ(data, frameData);
    ExpectPicture(r, 3, frameData);
}
