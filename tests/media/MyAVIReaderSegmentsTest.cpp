// AVI 2.0 movies: the "AVIX" segments behind the first RIFF form, which "idx1" does not cover.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AviFixtures.h"
#include "EncodedAvi.h"
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
    // The standard index tells key frames; without one, raw frames all stand alone.
    EXPECT_EQ(v[3].Flags, AVIIF_KEYFRAME);
    EXPECT_EQ(v[4].Flags, 0u);
    EXPECT_EQ(v[7].Flags, AVIIF_KEYFRAME);
    ExpectPicture(r, 7, video[7]);
    ExpectPicture(r, 4, video[4]);

    const auto& a = r.GetAudioChunks();
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(a[5].FirstFrame, 6);
    EXPECT_EQ(a[6].LastFrame, 7);
    EXPECT_EQ(r.GetFrameAudio(7).Pos, a[6].Offset);
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

// Only a standard index of the video stream's chunks, two words an entry, marks key frames; its
// name is read in any letter case. An index passed over leaves its segment as one without: raw
// frames all stand alone, so frame 4, which the index marks as no key frame, becomes one.
TEST(AviSegments, OnlyAStandardIndexOfTheVideoStreamMarksKeyFrames) {
    const TAviImage whole = BuildAvi(ThreeSegmentMovie());
    const std::string text(whole.Bytes.begin(), whole.Bytes.end());
    const size_t ix = text.find("ix00", whole.SegmentPos[0]);
    ASSERT_NE(ix, std::string::npos);
    struct TCase {
        const char* What;
        size_t At;
        const char* Put;
        bool Used;
    };
    // The index's words per entry, its type (1: an index of chunks), the chunk id it indexes, and
    // its own name.
    const TCase cases[] = {{"4 words an entry", ix + 8, "\4\0\0\1", false},
                           {"an index of indexes", ix + 8, "\2\0\0\0", false},
                           {"the sound's chunks", ix + 16, "01wb", false},
                           {"another stream's frames", ix + 16, "02db", false},
                           {"upper case", ix, "IX00", true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Bytes bytes = whole.Bytes;
        std::copy(c.Put, c.Put + 4, bytes.begin() + long(c.At));
        TAviReader r;
        ASSERT_TRUE(Opens(r, bytes));
        EXPECT_EQ(r.GetFrameCount(), 8);
        EXPECT_EQ(r.GetVideoChunks()[3].Flags, AVIIF_KEYFRAME);
        EXPECT_EQ(r.GetVideoChunks()[4].Flags, c.Used ? 0u : AVIIF_KEYFRAME);
    }
}

// Frames of a predicted codec in a segment without a standard index (a cut recording's last):
// its key frames are told by the codec's parser, as the encoder marked them in a whole file.
TEST(AviSegments, TheStreamTellsKeyFramesOfASegmentWithoutIndex) {
    TTempDir dir;
    for (const char* encoder : {"mpeg4", "libx264"}) {
        if (!avcodec_find_encoder_by_name(encoder))
            continue;
        SCOPED_TRACE(encoder);
        TEncodedAviSpec e;
        e.Encoder = encoder;
        e.Frames = 24;
        e.Gop = 5;
        const std::string file = dir.Path + "/" + encoder + ".avi";
        std::string why;
        ASSERT_TRUE(WriteEncodedAvi(file, e, &why)) << why;
        TAviReader whole;
        ASSERT_TRUE(whole.Open(file));
        const auto& keys = whole.GetVideoChunks();
        ASSERT_EQ(keys.size(), 24u);

        // The same frames, the first 7 in the first RIFF form, the rest in a segment.
        TAviSpec spec;
        spec.Streams.push_back(
            MakeVideoStream(e.Width, e.Height, 24, whole.GetVideoStreamHeader().fccHandler,
                            whole.GetVideoFormat().biCompression, whole.GetVideoFormatTail()));
        spec.Segments.resize(1);
        spec.Segments[0].StandardIndex = false;
        for (int32_t i = 0; i < 24; ++i) {
            Bytes data;
            ASSERT_TRUE(whole.ReadVideoChunk(i, data));
            const bool key = keys[size_t(i)].Flags & AVIIF_KEYFRAME;
            (i < 7 ? spec.Chunks : spec.Segments[0].Chunks)
                .push_back(TAviChunkSpec{0, "dc", data, key});
        }
        TAviReader r;
        ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
        ASSERT_EQ(r.GetFrameCount(), 24);
        int segmentKeys = 0;
        for (size_t i = 7; i < 24; ++i) {
            EXPECT_EQ(r.GetVideoChunks()[i].Flags, keys[i].Flags) << "frame " << i;
            segmentKeys += keys[i].Flags != 0;
        }
        EXPECT_GE(segmentKeys, 3);
        EXPECT_LT(segmentKeys, 17);
    }
}

// A byte source that counts the reads made of it into reads.
class TCountingSource : public IByteSource {
public:
    TCountingSource(Bytes bytes, int64_t& reads) : Inner(std::move(bytes)), Reads(reads) {}
    int64_t Size() const override { return Inner.Size(); }
    size_t ReadAt(int64_t pos, void* buffer, size_t count) override {
        ++Reads;
        return Inner.ReadAt(pos, buffer, count);
    }

private:
    TMemoryByteSource Inner;
    int64_t& Reads;
};

// A stretch of zero bytes (a crashed recorder's tail) holds no chunk: the segment ends at its
// first byte with the one warning of a damaged segment, and the walk does not step through it.
TEST(AviSegments, ZeroBytesEndTheSegmentAtOnce) {
    const TAviImage whole = BuildAvi(ThreeSegmentMovie());
    constexpr size_t zeros = 1 << 20;
    // A megabyte of zeros inside the last segment's "movi" list, before frame 6.
    const size_t frame6 = whole.SegmentChunkPos[1][2];
    TAviImage inside = whole;
    inside.Bytes.insert(inside.Bytes.begin() + long(frame6), zeros, 0);
    const size_t seg = whole.SegmentPos[1];
    inside.PutU32(seg + 4, whole.GetU32(seg + 4) + zeros);   // the segment's size
    inside.PutU32(seg + 16, whole.GetU32(seg + 16) + zeros); // its "movi" list's size
    // A last segment that holds nothing but zeros: no "movi" list at all.
    Bytes empty(whole.Bytes.begin(), whole.Bytes.begin() + long(seg));
    PutLE(empty, 4, {FourCC("RIFF"), uint32_t(4 + zeros), FourCC("AVIX")});
    empty.resize(empty.size() + zeros, 0);
    const struct {
        const char* What;
        Bytes File;
        int64_t DamagedAt;
        int32_t Frames;
    } cases[] = {{"zeros in the movie data", inside.Bytes, int64_t(frame6), 6},
                 {"zeros for a segment", empty, int64_t(seg + 12), 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        int64_t reads = 0;
        TFakeUiServices ui;
        TAviReader r(&ui);
        ASSERT_TRUE(r.Open(std::make_unique<TCountingSource>(c.File, reads), "mem.avi"))
            << r.GetOpenError();
        EXPECT_EQ(r.GetDamagedAt(), c.DamagedAt);
        EXPECT_EQ(r.GetFrameCount(), c.Frames);
        ASSERT_EQ(ui.Messages.size(), 1u);
        EXPECT_EQ(ui.MessageKinds[0], TMsgKind::Warning);
        // The whole open, frames and sound included, reads a few hundred times at most; a walk
        // through the zeros would read 2 chunk header words for each 8 bytes of them.
        EXPECT_LT(reads, 500);
    }
}

// Memory stays in proportion to the file: a segment of empty chunks costs one 16-byte record for
// each empty video chunk (8 bytes of file) and none for an empty sound chunk, which holds no
// sound; the smallest chunk with sound (10 bytes with its pad byte) costs 24.
TEST(AviSegments, EmptyChunksCostAtMostTwiceTheirBytes) {
    static_assert(sizeof(TPictInfo) <= 2 * 8);
    static_assert(sizeof(TAudioInfo) <= 24);
    TAviSpec spec = ThreeSegmentMovie();
    for (int i = 0; i < 5000; ++i) {
        spec.Segments[1].Chunks.push_back(TAviChunkSpec{0, "db", {}});
        spec.Segments[1].Chunks.push_back(TAviChunkSpec{1, "wb", {}});
    }
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    EXPECT_EQ(r.GetVideoChunks().size(), 8u + 5000);
    EXPECT_EQ(r.GetAudioChunks().size(), 8u);
    EXPECT_EQ(r.GetAudioChunks().back().LastFrame, 8 + 5000 - 1);
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
