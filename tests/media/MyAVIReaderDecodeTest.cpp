// Frame decoding of the AVI reader: raw frames in every layout, compressed frames through both
// decoding paths (frame-exact, random access equal to sequential), dropped frames and damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <random>
#include <tuple>

#include "AviFixtures.h"
#include "BFrameAvi.h"
#include "EncodedAvi.h"
#include "FakeUiServices.h"
#include "MediaRig.h"
#include "MyAVIMMIOReader.h"
#include "MyVideoCompressLayer.h"
#include "PictureFixtures.h"
#include "TempFolders.h"

namespace {

// Puts back the decoder options a test changes.
struct TOptionsGuard {
    std::array<bool, 5> Saved = DecoderOptions;
    ~TOptionsGuard() { DecoderOptions = Saved; }
};

// The bitmap's pixels without row padding.
std::vector<uint8_t> Pixels(const TBitmap& b) {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < b.Height(); ++y)
        out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + size_t(b.Width()) * 3);
    return out;
}

// A 3 x 2 picture (top row first) of distinct colours, as 0x00BBGGRR.
const uint32_t Picture3x2[2][3] = {{0x0000FF, 0x00FF00, 0xFF0000}, {0xFFFFFF, 0x000000, 0xFF00FF}};

// The picture stored as 24-bit rows padded to 4 bytes, top row first or last.
std::vector<uint8_t> Rows24(bool topDown) {
    std::vector<uint8_t> bits;
    for (int r = 0; r < 2; ++r) {
        const int y = topDown ? r : 1 - r;
        for (int x = 0; x < 3; ++x) {
            const uint32_t c = Picture3x2[y][x];
            bits.insert(bits.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
        }
        bits.insert(bits.end(), 3, 0); // pad 9 bytes to 12
    }
    return bits;
}

void ExpectPicture3x2(const TBitmap& b, const char* what) {
    const int sx = b.Width() / 3, sy = b.Height() / 2;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            ASSERT_EQ(b.Canvas().GetPixel(x, y), Picture3x2[y / sy][x / sx])
                << what << " at " << x << "," << y;
}

TAviSpec RawMovie(int32_t height, uint16_t bitCount, const std::vector<uint8_t>& tail,
                  std::vector<std::vector<uint8_t>> frames) {
    TAviSpec spec;
    spec.Width = 3;
    spec.Height = 2;
    spec.Streams.push_back(MakeVideoStream(3, height, bitCount, FourCC("DIB "), BI_RGB, tail));
    for (auto& f : frames)
        spec.Chunks.push_back(TAviChunkSpec{0, "db", std::move(f)});
    return spec;
}

} // namespace

// ---- Raw frames ---------------------------------------------------------------------------------

// Raw "DIB " streams are drawn by the reader itself, whichever decoding path the options choose.
TEST(AviDecodeRaw, BottomUpAndTopDownGiveTheSamePixelsAtAnySize) {
    TOptionsGuard guard;
    for (bool topDown : {false, true})
        for (bool viaFileLayer : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "top-down " << topDown << " file layer " << viaFileLayer);
            DecoderOptions[doUseMMIOReader] = viaFileLayer;
            TAviReader r;
            ASSERT_TRUE(
                Opens(r, BuildAvi(RawMovie(topDown ? -2 : 2, 24, {}, {Rows24(topDown)})).Bytes));
            EXPECT_EQ(r.GetFrameReader(), nullptr);
            TBitmap same(3, 2), stretched(6, 4);
            ASSERT_TRUE(r.GetFrame(0, same));
            ExpectPicture3x2(same, "same size");
            ASSERT_TRUE(r.GetFrame(0, stretched));
            ExpectPicture3x2(stretched, "stretched");
            EXPECT_EQ(r.GetLastDecodedFrame(), 0);
        }
}

// The picture as 8-bit indices into a table holding its six colours at entries 10..15, as 16 bits
// (5 bits per colour) and as 32 bits; bottom row first, rows padded to 4 bytes. The colours are 0
// or full, so exact in all.
TEST(AviDecodeRaw, PaletteAndDeepFormats) {
    Bytes palette(256 * 4);
    const Bytes six = HexBytes("0000ff00 00ff0000 ff000000 ffffff00 00000000 ff00ff00");
    std::copy(six.begin(), six.end(), palette.begin() + 40);
    struct TCase {
        uint16_t BitCount;
        std::vector<uint8_t> Tail, Bits;
    } cases[] = {{8, palette, HexBytes("0d0e0f00 0a0b0c00")},
                 {16, {}, HexBytes("ff7f0000 1f7c0000 007ce003 1f000000")},
                 {32, {}, HexBytes("ffffff5a 0000005a ff00ff5a 0000ff5a 00ff005a ff00005a")}};
    for (const TCase& c : cases) {
        TAviReader r;
        ASSERT_TRUE(Opens(r, BuildAvi(RawMovie(2, c.BitCount, c.Tail, {c.Bits})).Bytes));
        TBitmap same(3, 2), stretched(9, 6);
        ASSERT_TRUE(r.GetFrame(0, same)) << c.BitCount;
        ExpectPicture3x2(same, "same size");
        ASSERT_TRUE(r.GetFrame(0, stretched)) << c.BitCount;
        ExpectPicture3x2(stretched, "stretched");
    }
}

TEST(AviDecodeRaw, DroppedFramesRepeatThePictureBeforeThem) {
    TAviSpec spec = RawMovie(2, 24, {}, {Rows24(false), {}, {}, MakeDib24Frame(3, 2, 9)});
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
    TBitmap b(3, 2);
    // Asked for out of order: the empty chunks still show frame 0.
    ASSERT_TRUE(r.GetFrame(3, b));
    ASSERT_TRUE(r.GetFrame(2, b));
    ExpectPicture3x2(b, "dropped frame 2");
    EXPECT_EQ(r.GetLastDecodedFrame(), 2);

    // With nothing stored before it, an empty first frame has no picture.
    TAviReader first;
    ASSERT_TRUE(Opens(first, BuildAvi(RawMovie(2, 24, {}, {{}, Rows24(false)})).Bytes));
    EXPECT_FALSE(first.GetFrame(0, b));
    EXPECT_EQ(first.GetLastDecodedFrame(), -1);
}

TEST(AviDecodeRaw, RefusesShortChunksAndIndexesOutOfRange) {
    std::vector<uint8_t> shortFrame = Rows24(false);
    shortFrame.pop_back();
    TAviReader r;
    ASSERT_TRUE(Opens(r, BuildAvi(RawMovie(2, 24, {}, {Rows24(false), shortFrame})).Bytes));
    TBitmap b(3, 2);
    b.Canvas().Brush.Color = 0x123456;
    b.Canvas().FillRect(Rect(0, 0, 3, 2));
    EXPECT_FALSE(r.GetFrame(1, b));
    EXPECT_EQ(b.Canvas().GetPixel(0, 0), 0x123456u) << "a refused frame draws nothing";
    EXPECT_FALSE(r.GetFrame(2, b));
    EXPECT_FALSE(r.GetFrame(-1, b));
    EXPECT_EQ(r.GetLastDecodedFrame(), -1);
    TBitmap empty;
    EXPECT_FALSE(r.GetFrame(0, empty));

    r.Close();
    EXPECT_FALSE(r.GetFrame(0, b));
}

// Raw rows under another handler than "DIB " are drawn from the file as well, never by a
// decoder: bottom-up and top-down rows come out upright whichever decoding option is set, also
// for a file libavformat refuses (first id in lower case).
TEST(AviDecodeRaw, RawRowsUnderOtherHandlersThroughEitherDecoder) {
    TOptionsGuard guard;
    for (bool topDown : {false, true}) {
        for (uint32_t handler : {0u, FourCC("RGB "), FourCC("raw ")}) {
            TAviSpec spec = RawMovie(topDown ? -2 : 2, 24, {}, {Rows24(topDown), Rows24(topDown)});
            spec.Streams[0].Handler = handler;
            std::vector<uint8_t> bytes = BuildAvi(spec).Bytes;
            for (bool lowerCaseRiff : {false, true}) {
                if (lowerCaseRiff)
                    std::memcpy(bytes.data(), "riff", 4);
                for (bool viaFileLayer : {true, false}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "top-down " << topDown << " handler " << handler << " riff "
                                 << lowerCaseRiff << " file layer " << viaFileLayer);
                    DecoderOptions[doUseMMIOReader] = viaFileLayer;
                    TAviReader r;
                    ASSERT_TRUE(Opens(r, bytes));
                    EXPECT_EQ(r.GetFrameReader(), nullptr);
                    for (int frame : {1, 0}) {
                        TBitmap b(6, 4);
                        ASSERT_TRUE(r.GetFrame(frame, b));
                        ExpectPicture3x2(b, "raw");
                    }
                }
            }
        }
    }
}

// ---- Compressed frames --------------------------------------------------------------------------

namespace {

struct TMovie {
    std::string File;
    std::vector<uint8_t> Bytes;
    std::map<int64_t, std::vector<uint8_t>> Reference;
};

class AviDecodeCompressed : public ::testing::Test {
protected:
    static constexpr int Frames = 30;
    static constexpr int W = 64, H = 48;

    // The MJPEG (frame 5 dropped) and MPEG-4 (frame 17 dropped) movies, made once.
    static void SetUpTestSuite() {
        // Damaged frames are meant here; the decoders need not say so on stderr.
        av_log_set_level(AV_LOG_QUIET);
        Dir = std::make_unique<TTempDir>();
        for (auto [m, encoder, dropped] :
             {std::tuple{&Mjpeg, "mjpeg", 5}, std::tuple{&Mpeg4, "mpeg4", 17}}) {
            *m = std::make_unique<TMovie>();
            (*m)->File = Dir->Path + "/" + encoder + ".avi";
            TEncodedAviSpec spec{encoder, W, H, Frames, 15, 12, {dropped}, ""};
            std::string why;
            if (!WriteEncodedAvi((*m)->File, spec, &why))
                ADD_FAILURE() << encoder << ": " << why;
            (*m)->Bytes = ReadBytesFile((*m)->File);
            (*m)->Reference = ReferenceDecode((*m)->File);
        }
    }
    static void TearDownTestSuite() {
        Mjpeg.reset();
        Mpeg4.reset();
        Dir.reset();
    }

    // Every frame in the given order, through the path the options choose, keyed by frame.
    static std::vector<std::vector<uint8_t>> Decode(TAviReader& r, const std::vector<int>& order,
                                                    int w = W, int h = H) {
        std::vector<std::vector<uint8_t>> out(Frames);
        TBitmap b(w, h);
        for (int i : order) {
            EXPECT_TRUE(r.GetFrame(i, b)) << "frame " << i;
            EXPECT_EQ(r.GetLastDecodedFrame(), i);
            out[size_t(i)] = Pixels(b);
        }
        return out;
    }

    static std::vector<int> Sequential() {
        std::vector<int> v(Frames);
        std::iota(v.begin(), v.end(), 0);
        return v;
    }
    static std::vector<int> Shuffled() {
        std::vector<int> v = Sequential();
        std::mt19937 rng(7);
        std::shuffle(v.begin(), v.end(), rng);
        // Backwards steps inside one group of pictures, and the same frame twice.
        v.insert(v.end(), {20, 19, 13, 12, 11, 11, 29, 0});
        return v;
    }

    // Frame-exact against the plain decode: each frame matches its own reference picture far
    // better than the pictures of its neighbours, and a dropped frame shows the one before.
    static void ExpectFrameExact(const TMovie& m, const std::vector<std::vector<uint8_t>>& got,
                                 const std::set<int>& dropped) {
        for (int i = 0; i < Frames; ++i) {
            const int shown = dropped.count(i) ? i - 1 : i;
            ASSERT_TRUE(m.Reference.count(shown)) << "reference lacks frame " << shown;
            const auto& ref = m.Reference.at(shown);
            ASSERT_EQ(got[size_t(i)].size(), ref.size());
            const double own = Psnr(got[size_t(i)].data(), ref.data(), ref.size());
            EXPECT_GT(own, 40) << "frame " << i;
            for (int n : {shown - 1, shown + 1}) {
                if (m.Reference.count(n)) {
                    EXPECT_LT(Psnr(got[size_t(i)].data(), m.Reference.at(n).data(), ref.size()),
                              own - 6)
                        << "frame " << i << " looks like frame " << n;
                }
            }
        }
    }

    static inline std::unique_ptr<TTempDir> Dir;
    static inline std::unique_ptr<TMovie> Mjpeg, Mpeg4;
};

} // namespace

TEST_F(AviDecodeCompressed, BothPathsAreFrameExactInAnyOrder) {
    TOptionsGuard guard;
    const std::pair<const TMovie*, std::set<int>> movies[] = {{Mjpeg.get(), {5}},
                                                              {Mpeg4.get(), {17}}};
    for (const auto& [movie, dropped] : movies) {
        SCOPED_TRACE(movie->File);
        TAviReader r;
        ASSERT_TRUE(r.Open(movie->File));
        ASSERT_NE(r.GetFrameReader(), nullptr);
        EXPECT_EQ(r.GetLastDecodedFrame(), -1);

        DecoderOptions[doUseMMIOReader] = true;
        const auto fileLayer = Decode(r, Sequential());
        ExpectFrameExact(*movie, fileLayer, dropped);
        EXPECT_EQ(Decode(r, Shuffled()), fileLayer);

        DecoderOptions[doUseMMIOReader] = false;
        const auto own = Decode(r, Shuffled());
        EXPECT_EQ(own, fileLayer) << "both paths give the same pictures";
        // The options that once chose other decompress calls change nothing.
        DecoderOptions[doShowDeltaPart] = DecoderOptions[doUseDecompressEx] = true;
        EXPECT_EQ(Decode(r, Sequential()), fileLayer);
        DecoderOptions[doShowDeltaPart] = DecoderOptions[doUseDecompressEx] = false;

        // Stretched targets of either path agree and still follow the movie.
        DecoderOptions[doUseMMIOReader] = true;
        const auto a = Decode(r, {3, 25}, 150, 77);
        DecoderOptions[doUseMMIOReader] = false;
        EXPECT_EQ(Decode(r, {25, 3}, 150, 77), a);
        EXPECT_NE(a[3], a[25]);

        // A fresh reader gets the same pictures whichever frame it starts with.
        TAviReader fresh;
        ASSERT_TRUE(Opens(fresh, movie->Bytes));
        EXPECT_EQ(Decode(fresh, {23})[23], fileLayer[23]);
    }
}

// Decoding ahead changes no picture: steady walks (where the guess is right), steps of two,
// jumps back and size changes (where it is wrong), by either path, one frame ahead or several at
// once (Motion JPEG on readers of their own; MPEG-4 keeps one).
TEST_F(AviDecodeCompressed, ReadAheadGivesThePicturesOfThePlainDecode) {
    TOptionsGuard guard;
    std::vector<int> walk = Sequential();
    walk.insert(walk.end(), {0, 2, 4, 6, 8, 3, 3, 4, 28, 29, 27, 28, 5, 9, 13, 14});
    for (int lanes : {1, 4})
        for (const TMovie* movie : {Mjpeg.get(), Mpeg4.get()})
            for (bool fileLayer : {false, true}) {
                SCOPED_TRACE(movie->File + (fileLayer ? " file layer" : " own") + " lanes " +
                             std::to_string(lanes));
                DecoderOptions[doUseMMIOReader] = fileLayer;
                TAviReader plain, ahead;
                ASSERT_TRUE(plain.Open(movie->File));
                ASSERT_TRUE(ahead.Open(movie->File));
                ahead.BeginReadAhead(lanes);
                TBitmap a(W, H), b(W, H), small(W / 2, H / 2), smallToo(W / 2, H / 2);
                for (size_t k = 0; k < walk.size(); ++k) {
                    const int i = walk[k];
                    const bool half = k % 11 == 5;
                    ASSERT_EQ(ahead.GetFrame(i, half ? small : a),
                              plain.GetFrame(i, half ? smallToo : b));
                    ASSERT_EQ(ahead.GetLastDecodedFrame(), i);
                    ASSERT_EQ(half ? Pixels(small) : Pixels(a), half ? Pixels(smallToo) : Pixels(b))
                        << "frame " << i;
                }
                ahead.EndReadAhead();
                EXPECT_FALSE(ahead.IsReadingAhead());
                // Closing with frames still decoding ahead waits for them.
                ahead.BeginReadAhead(lanes);
                ASSERT_TRUE(ahead.GetFrame(10, a));
                ahead.Close();
                EXPECT_FALSE(ahead.IsReadingAhead());
            }
}

// Past the frames of the index no path paints a picture.
TEST_F(AviDecodeCompressed, PastTheEnd) {
    TOptionsGuard guard;
    TAviReader r;
    ASSERT_TRUE(r.Open(Mjpeg->File));
    TBitmap b(8, 8);
    b.Canvas().Brush.Color = 0x336699;
    b.Canvas().FillRect(Rect(0, 0, 8, 8));
    b.Canvas().Brush.Color = 0xFFFFFF;
    for (bool viaFileLayer : {true, false}) {
        DecoderOptions[doUseMMIOReader] = viaFileLayer;
        EXPECT_FALSE(r.GetFrame(Frames, b));
        EXPECT_FALSE(r.GetFrame(-1, b));
    }
    EXPECT_EQ(b.Canvas().GetPixel(4, 4), 0x336699u);
    EXPECT_EQ(r.GetLastDecodedFrame(), -1);
}

TEST_F(AviDecodeCompressed, UnknownCodecOpensButDrawsNothing) {
    TOptionsGuard guard;
    std::vector<uint8_t> bytes = Mjpeg->Bytes;
    // Rename the codec everywhere it is named (stream handler and format compression).
    int renamed = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], "MJPG", 4) == 0) {
            std::memcpy(&bytes[i], "QQZZ", 4);
            ++renamed;
        }
    ASSERT_GE(renamed, 2);
    TAviReader r;
    ASSERT_TRUE(Opens(r, bytes));
    TBitmap b(W, H);
    for (bool viaFileLayer : {true, false}) {
        DecoderOptions[doUseMMIOReader] = viaFileLayer;
        EXPECT_FALSE(r.GetFrame(0, b));
        EXPECT_FALSE(r.GetFrame(1, b));
    }
    EXPECT_EQ(r.GetLastDecodedFrame(), -1);
}

TEST_F(AviDecodeCompressed, FilesTheFileLayerRefusesDecodeOverOurIndex) {
    TOptionsGuard guard;
    DecoderOptions[doUseMMIOReader] = true;
    TAviReader plain;
    ASSERT_TRUE(plain.Open(Mpeg4->File));
    const auto expected = Decode(plain, Sequential());

    // Our walk takes ids in any letter case; libavformat does not.
    std::vector<uint8_t> bytes = Mpeg4->Bytes;
    std::memcpy(bytes.data(), "riff", 4);
    TAviReader r;
    ASSERT_TRUE(Opens(r, bytes));
    EXPECT_EQ(r.GetFrameReader(), nullptr);
    EXPECT_EQ(Decode(r, Shuffled()), expected);
    // A layer reused for a file it refuses forgets the movie it had.
    TAVIMMIOReader layer;
    ASSERT_TRUE(layer.Open(Mpeg4->File));
    EXPECT_EQ(layer.GetFrameCount(), Frames);
    TMemoryByteSource refused(bytes);
    EXPECT_FALSE(layer.Open(refused, "refused.avi"));
    EXPECT_EQ(layer.GetFrameCount(), 0);
}

TEST_F(AviDecodeCompressed, DamagedFramesFailCleanly) {
    TOptionsGuard guard;
    // Rebuild the MJPEG movie chunk by chunk: frame 1 cut in half, frame 2 garbage.
    TAviReader source;
    ASSERT_TRUE(source.Open(Mjpeg->File));
    std::vector<std::vector<uint8_t>> chunks(5);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(source.ReadVideoChunk(i, chunks[size_t(i)]));
    chunks[1].resize(chunks[1].size() / 2);
    chunks[2] = MakePattern(chunks[2].size(), 2);
    TAviSpec spec;
    spec.Width = W;
    spec.Height = H;
    spec.Streams.push_back(MakeVideoStream(W, H, 24, FourCC("MJPG"), FourCC("MJPG")));
    for (auto& c : chunks)
        spec.Chunks.push_back(TAviChunkSpec{0, "dc", c});
    TAviImage image = BuildAvi(spec);

    auto expectClean = [&](TAviReader& r, int i) {
        TBitmap b(W, H);
        ASSERT_TRUE(r.GetFrame(i, b)) << i;
        EXPECT_GT(Psnr(Pixels(b).data(), Mjpeg->Reference.at(i).data(), size_t(W) * H * 3), 40)
            << i;
    };
    for (bool viaFileLayer : {false, true}) {
        SCOPED_TRACE(viaFileLayer ? "file layer" : "own decompressor");
        DecoderOptions[doUseMMIOReader] = viaFileLayer;
        TAviReader r;
        ASSERT_TRUE(Opens(r, image.Bytes));
        TBitmap b(W, H);
        // Half a picture may decode with damage or not at all; either way no crash.
        r.GetFrame(1, b);
        EXPECT_FALSE(r.GetFrame(2, b));
        // Whole frames around the damage decode as in the clean movie.
        for (int i : {3, 0, 4})
            expectClean(r, i);
    }

    // An index entry pointing past the end of the file loses that frame only.
    image.PutU32(image.EntryPos[3] + 8, 0x7FFFFF00u);
    DecoderOptions[doUseMMIOReader] = false;
    TAviReader r;
    ASSERT_TRUE(Opens(r, image.Bytes));
    TBitmap b(W, H);
    EXPECT_FALSE(r.GetFrame(3, b));
    expectClean(r, 4);
}

TEST_F(AviDecodeCompressed, GarbageInAPredictedFrameHealsAtTheNextKeyFrame) {
    TOptionsGuard guard;
    TAviReader clean;
    ASSERT_TRUE(clean.Open(Mpeg4->File));
    DecoderOptions[doUseMMIOReader] = false;
    const auto expected = Decode(clean, Sequential());

    // Overwrite the data of frame 5 (a predicted frame) in place.
    std::vector<uint8_t> bytes = Mpeg4->Bytes;
    const TPictInfo& p = clean.GetVideoChunks()[5];
    ASSERT_FALSE(p.Flags & AVIIF_KEYFRAME);
    const std::vector<uint8_t> junk = MakePattern(p.Size, 5);
    std::copy(junk.begin(), junk.end(), bytes.begin() + clean.ChunkDataPos(p.Offset));
    for (bool viaFileLayer : {false, true}) {
        DecoderOptions[doUseMMIOReader] = viaFileLayer;
        TAviReader r;
        ASSERT_TRUE(Opens(r, bytes));
        TBitmap b(W, H);
        for (int i = 0; i < 12; ++i)
            r.GetFrame(i, b); // damaged or not, but no crash
        for (int i : {12, 20, 13}) {
            ASSERT_TRUE(r.GetFrame(i, b));
            EXPECT_EQ(Pixels(b), expected[size_t(i)]) << i;
        }
    }
}

TEST_F(AviDecodeCompressed, CorruptBytesAnywhereInTheDataFailCleanly) {
    TOptionsGuard guard;
    // A small MPEG-4 movie with key frames every 4; then every 5th byte of its frame data, in
    // turn, is set to 0xFF and each frame is asked for through both paths.
    const std::string file = Dir->Path + "/small-mpeg4.avi";
    ASSERT_TRUE(WriteEncodedAvi(file, {"mpeg4", 16, 16, 6, 15, 4, {}, ""}));
    TAviReader clean;
    ASSERT_TRUE(clean.Open(file));
    const std::vector<uint8_t> bytes = ReadBytesFile(file);
    const auto& chunks = clean.GetVideoChunks();
    const size_t from = size_t(clean.ChunkDataPos(chunks.front().Offset));
    const size_t to = size_t(clean.ChunkDataPos(chunks.back().Offset) + chunks.back().Size);
    int drawn = 0;
    for (size_t at = from; at < to; at += 5) {
        std::vector<uint8_t> damaged = bytes;
        damaged[at] = 0xFF;
        TAviReader r;
        ASSERT_TRUE(Opens(r, damaged));
        TBitmap b(16, 16), small(5, 3);
        for (bool viaFileLayer : {true, false}) {
            DecoderOptions[doUseMMIOReader] = viaFileLayer;
            for (int i : {0, 5, 2, 3, 1, 4})
                drawn += r.GetFrame(i, (i & 1) ? small : b);
        }
    }
    // Most single-byte damage still gives pictures.
    EXPECT_GT(drawn, 0);
}

// ---- Camera-style Motion JPEG -------------------------------------------------------------------

// Camera movies store their JPEG frames without Huffman tables and name the stream "MJPG": every
// frame decodes, through either path, to the picture of the same movie with the tables.
TEST(AviDecodeCamera, MjpegWithoutHuffmanTablesDecodes) {
    TOptionsGuard guard;
    constexpr int W = 48, H = 32, Frames = 4;
    auto jpeg = LibavVideoCompressors().Open(0, FourCC("mjpg"), TVideoCompressorMode::Compress);
    ASSERT_TRUE(jpeg);
    TVideoCompressFormat format;
    format.Width = W;
    format.Height = H;
    format.FrameRate = 15;
    TVideoOutputFormat out;
    ASSERT_TRUE(jpeg->Begin(format, out));
    TAviSpec specs[2];
    for (TAviSpec& spec : specs)
        spec.Streams.push_back(MakeVideoStream(W, H, 24, FourCC("MJPG"), FourCC("MJPG")));
    for (int i = 0; i < Frames; ++i) {
        const std::vector<uint8_t> picture = TestPicture(i, W, H);
        TCompressedFrame cf;
        ASSERT_EQ(jpeg->Compress(picture.data(), W * 3, true, cf), 0);
        const std::vector<uint8_t> full(cf.Data, cf.Data + cf.Size);
        specs[0].Chunks.push_back(TAviChunkSpec{0, "dc", full});
        specs[1].Chunks.push_back(TAviChunkSpec{0, "dc", WithoutHuffmanTables(full)});
    }
    std::vector<uint8_t> pictures[2][2][Frames];
    for (int bare : {0, 1})
        for (bool fileLayer : {false, true}) {
            SCOPED_TRACE(testing::Message() << (bare ? "bare" : "with tables") << " "
                                            << (fileLayer ? "file layer" : "own"));
            DecoderOptions[doUseMMIOReader] = fileLayer;
            TAviReader r;
            ASSERT_TRUE(Opens(r, BuildAvi(specs[bare]).Bytes));
            TBitmap b(W, H);
            for (int i : {2, 0, 3, 1}) {
                ASSERT_TRUE(r.GetFrame(i, b)) << i;
                pictures[bare][fileLayer][i] = Pixels(b);
                const std::vector<uint8_t> want = TestPicture(i, W, H);
                // 4:2:0 on this tiny, sharp picture: far from exact, far from garbage.
                EXPECT_GT(Psnr(Pixels(b).data(), want.data(), want.size()), 25) << i;
            }
        }
    for (int i = 0; i < Frames; ++i) {
        EXPECT_EQ(pictures[1][0][i], pictures[0][0][i]) << i;
        EXPECT_EQ(pictures[1][1][i], pictures[0][0][i]) << i;
        EXPECT_EQ(pictures[0][1][i], pictures[0][0][i]) << i;
    }
}

// ---- Movies with sound the program cannot use -----------------------------------------------

namespace {

// Where the "strf" chunk of the second stream (the sound) starts.
size_t SoundFormatPos(const std::vector<uint8_t>& bytes) {
    size_t found = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], "strf", 4) == 0 && ++found == 2)
            return i;
    ADD_FAILURE() << "no sound format";
    return 0;
}

} // namespace

// A movie written with 24-bit sound whose format chunk is then stored as 0 bytes long: the format
// bytes stay behind it, and libavformat misreads the header so that it draws no picture. The
// sound is left out with one warning and every picture decodes, whichever path is chosen.
TEST(AviDecodeSoundless, SoundFormatOfSizeZeroKeepsThePictures) {
    TOptionsGuard guard;
    av_log_set_level(AV_LOG_QUIET);
    TTempDir dir;
    const std::string file = dir.Path + "/deep.avi";
    constexpr int W = 32, H = 24, Frames = 6;
    TEncodedAviSpec spec{"mjpeg", W, H, Frames, 15, 12, {}, ""};
    spec.SoundBits = 24;
    ASSERT_TRUE(WriteEncodedAvi(file, spec));
    const auto reference = ReferenceDecode(file);
    std::vector<uint8_t> bytes = ReadBytesFile(file);
    const size_t strf = SoundFormatPos(bytes);
    ASSERT_EQ(U32At(bytes, strf + 4), 40u);
    std::memset(&bytes[strf + 4], 0, 4);
    for (bool viaFileLayer : {true, false}) {
        SCOPED_TRACE(viaFileLayer ? "file layer" : "own decompressor");
        DecoderOptions[doUseMMIOReader] = viaFileLayer;
        TFakeUiServices ui;
        TAviReader r(&ui);
        ASSERT_TRUE(r.Open(std::make_unique<TMemoryByteSource>(bytes), "deep.avi"));
        EXPECT_FALSE(r.HasAudio());
        EXPECT_EQ(ui.Messages, std::vector<std::string>{
                                   "The sound track of deep.avi is left out: its format record "
                                   "holds 0 bytes, too few to describe a sound. The movie's "
                                   "pictures are used without sound."});
        TBitmap b(W, H);
        for (int i : {0, 3, 5, 1}) {
            ASSERT_TRUE(r.GetFrame(i, b)) << i;
            EXPECT_GT(Psnr(Pixels(b).data(), reference.at(i).data(), size_t(W) * H * 3), 40) << i;
        }
    }
}

// A compressed stream no decoder reads, on either path, is said once when it opens.
TEST(AviDecodeSoundless, PicturesNoDecoderReadsAreSaidOnce) {
    TOptionsGuard guard;
    av_log_set_level(AV_LOG_QUIET);
    TTempDir dir;
    const std::string file = dir.Path + "/odd.avi";
    ASSERT_TRUE(WriteEncodedAvi(file, {"mjpeg", 16, 16, 3, 15, 12, {}, ""}));
    std::vector<uint8_t> bytes = ReadBytesFile(file);
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], "MJPG", 4) == 0)
            std::memcpy(&bytes[i], "QQZZ", 4);
    TFakeUiServices ui;
    TAviReader r(&ui);
    ASSERT_TRUE(r.Open(std::make_unique<TMemoryByteSource>(bytes), "odd.avi"));
    EXPECT_EQ(ui.Messages, std::vector<std::string>{"The pictures of odd.avi cannot be decoded: No "
                                                    "decompressor for \"QQZZ\" / \"QQZZ\"."});
    EXPECT_EQ(ui.MessageKinds, std::vector<TMsgKind>{TMsgKind::Warning});
    TBitmap b(16, 16);
    EXPECT_FALSE(r.GetFrame(1, b));
    EXPECT_EQ(ui.Messages.size(), 1u);
}

// ---- B-frames -----------------------------------------------------------------------------------

namespace {

struct TBMovie {
    std::string Name;
    TBFrameAviSpec Spec;
    std::string File;
    std::vector<std::vector<uint8_t>> Pictures; // the library's, in showing order
};

class AviDecodeBFrames : public ::testing::Test {
protected:
    static constexpr int W = 64, H = 48, Frames = 36;

    // H.264 with x264's defaults (3 B-frames, B-frames as references, closed groups) and MPEG-4
    // part 2 with 2 B-frames in open groups (B-frames behind a key frame show frames before it)
    // and in closed ones; a key frame every 12 frames.
    static void SetUpTestSuite() {
        av_log_set_level(AV_LOG_QUIET);
        Dir = std::make_unique<TTempDir>();
        TBFrameAviSpec h264;
        h264.Frames = Frames;
        TBFrameAviSpec open = h264;
        open.Encoder = "mpeg4";
        open.BFrames = 2;
        TBFrameAviSpec closed = open;
        closed.ClosedGop = true;
        TBFrameAviSpec h264Open = h264;
        h264Open.X264OpenGop = true;
        for (const auto& [name, spec] :
             {std::pair{"h264", h264}, std::pair{"h264-open", h264Open},
              std::pair{"mpeg4-open", open}, std::pair{"mpeg4-closed", closed}}) {
            TBMovie m;
            m.Name = name;
            m.Spec = spec;
            Movies.push_back(std::move(m));
        }
        for (TBMovie& m : Movies) {
            m.File = Dir->Path + "/" + m.Name + ".avi";
            std::string why;
            if (!WriteBFrameAvi(m.File, m.Spec, &why))
                ADD_FAILURE() << m.Name << ": " << why;
            m.Pictures = LibraryPictures(m.File);
        }
    }
    static void TearDownTestSuite() {
        Movies.clear();
        Dir.reset();
    }

    static std::vector<int> Range(int from, int to, int step = 1) {
        std::vector<int> v;
        for (int i = from; i != to; i += step)
            v.push_back(i);
        return v;
    }
    // The ways a movie is walked: in a row, starting in the middle, backwards (a preview stepping
    // back), and jumping about.
    static std::vector<std::pair<std::string, std::vector<int>>> Walks() {
        std::vector<int> middle = Range(17, Frames);
        const std::vector<int> head = Range(0, 17);
        middle.insert(middle.end(), head.begin(), head.end());
        std::vector<int> jumps = Range(0, Frames);
        std::mt19937 rng(11);
        std::shuffle(jumps.begin(), jumps.end(), rng);
        jumps.insert(jumps.end(), {13, 12, 11, 10, 24, 23, 22, 35, 0});
        return {{"in a row", Range(0, Frames)},
                {"from the middle", middle},
                {"backwards", Range(Frames - 1, -1, -1)},
                {"jumping", jumps}};
    }

    static const TBMovie& Named(const std::string& name) {
        return *std::find_if(Movies.begin(), Movies.end(),
                             [&](const TBMovie& m) { return m.Name == name; });
    }

    static inline std::unique_ptr<TTempDir> Dir;
    static inline std::vector<TBMovie> Movies;
};

} // namespace

// Frame n is the n-th picture in showing order, on both paths, however the movie is walked.
TEST_F(AviDecodeBFrames, EveryFrameIsTheLibrarysPictureInShowingOrder) {
    TOptionsGuard guard;
    for (const TBMovie& m : Movies) {
        SCOPED_TRACE(m.Name);
        ASSERT_EQ(m.Pictures.size(), size_t(Frames));
        for (bool viaFileLayer : {true, false})
            for (const auto& [name, walk] : Walks()) {
                SCOPED_TRACE(name + (viaFileLayer ? ", file layer" : ", own decompressor"));
                DecoderOptions[doUseMMIOReader] = viaFileLayer;
                TAviReader r;
                ASSERT_TRUE(r.Open(m.File));
                ASSERT_EQ(r.GetFrameCount(), Frames);
                ASSERT_NE(r.GetFrameReader(), nullptr);
                TBitmap b(W, H);
                for (int i : walk) {
                    ASSERT_TRUE(r.GetFrame(i, b)) << "frame " << i;
                    ASSERT_EQ(Pixels(b), m.Pictures[size_t(i)]) << "frame " << i;
                }
            }
    }
}

// Decoding ahead, one lane or several, gives the same pictures, also when the walk steps back.
TEST_F(AviDecodeBFrames, ReadAheadGivesTheLibrarysPictures) {
    TOptionsGuard guard;
    std::vector<int> walk = Range(0, Frames);
    walk.insert(walk.end(), {20, 19, 18, 17, 3, 4, 5, 30, 32, 34, 11, 12});
    for (const TBMovie& m : Movies)
        for (int lanes : {1, 4})
            for (bool viaFileLayer : {true, false}) {
                SCOPED_TRACE(m.Name + (viaFileLayer ? " file layer" : " own") + " lanes " +
                             std::to_string(lanes));
                DecoderOptions[doUseMMIOReader] = viaFileLayer;
                TAviReader r;
                ASSERT_TRUE(r.Open(m.File));
                r.BeginReadAhead(lanes);
                TBitmap b(W, H);
                for (int i : walk) {
                    ASSERT_TRUE(r.GetFrame(i, b)) << "frame " << i;
                    ASSERT_EQ(Pixels(b), m.Pictures[size_t(i)]) << "frame " << i;
                }
                r.EndReadAhead();
            }
}

// DivX "packed" B-frames: each B-frame stored behind the frame before it, its own chunk a
// placeholder (a not-coded frame, or empty). They play in order on both paths, as the movie they
// were packed from.
TEST_F(AviDecodeBFrames, PackedBFramesPlayInOrder) {
    TOptionsGuard guard;
    const TBMovie& source = Named("mpeg4-open");
    for (bool emptyPlaceholders : {false, true}) {
        const std::string file =
            Dir->Path + (emptyPlaceholders ? "/packed-empty.avi" : "/packed.avi");
        ASSERT_TRUE(PackBFrames(source.File, file, emptyPlaceholders));
        for (bool viaFileLayer : {true, false})
            for (const auto& [name, walk] : Walks()) {
                SCOPED_TRACE(name + (emptyPlaceholders ? ", empty placeholders" : "") +
                             (viaFileLayer ? ", file layer" : ", own decompressor"));
                DecoderOptions[doUseMMIOReader] = viaFileLayer;
                TAviReader r;
                ASSERT_TRUE(r.Open(file));
                ASSERT_EQ(r.GetFrameCount(), Frames);
                const auto& chunks = r.GetVideoChunks();
                EXPECT_EQ(std::count_if(chunks.begin(), chunks.end(),
                                        [](const TPictInfo& p) { return p.Size == 0; }) > 0,
                          emptyPlaceholders);
                TBitmap b(W, H);
                for (int i : walk) {
                    ASSERT_TRUE(r.GetFrame(i, b)) << "frame " << i;
                    ASSERT_EQ(Pixels(b), source.Pictures[size_t(i)]) << "frame " << i;
                }
            }
    }
}

// ---- AVI 2.0 past the header's count ------------------------------------------------------------

// A recording whose writer stopped past its first RIFF form: the stream header counts only the
// 5 frames of that form, the "AVIX" segments hold 15 more. Every frame the index finds is drawn
// from its own chunk, on either path, and past them nothing is.
TEST(AviDecodeSegments, FramesPastTheHeadersCountAreDecoded) {
    TOptionsGuard guard;
    constexpr int W = 16, H = 16;
    auto frame = [](int i) {
        const uint32_t grey = uint32_t(20 + 10 * i) * 0x010101u;
        const uint32_t quarters[4] = {grey, grey, grey, grey};
        return TAviChunkSpec{0, "dc", BuildJpeg(MakeQuarters(W, H, quarters))};
    };
    TAviSpec spec;
    spec.Streams.push_back(MakeVideoStream(W, H, 24, FourCC("MJPG"), FourCC("MJPG")));
    for (int i = 0; i < 5; ++i)
        spec.Chunks.push_back(frame(i));
    spec.Segments.resize(3);
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < 5; ++i)
            spec.Segments[size_t(s)].Chunks.push_back(frame(5 + 5 * s + i));
    const TAviImage image = BuildAvi(spec);
    ASSERT_EQ(image.GetU32(image.StrhPos[0] + 8 + 32), 5u) << "the header counts one RIFF form";
    for (bool viaFileLayer : {true, false}) {
        SCOPED_TRACE(viaFileLayer ? "file layer" : "own decompressor");
        DecoderOptions[doUseMMIOReader] = viaFileLayer;
        TAviReader r;
        ASSERT_TRUE(Opens(r, image.Bytes));
        ASSERT_EQ(r.GetFrameCount(), 20);
        TBitmap b(W, H);
        for (int i : {19, 5, 12, 0, 4, 18}) {
            b.Canvas().Brush.Color = 0xFFFFFF;
            b.Canvas().FillRect(Rect(0, 0, W, H));
            ASSERT_TRUE(r.GetFrame(i, b)) << i;
            const int grey = int(b.Canvas().GetPixel(8, 8) & 0xFF);
            EXPECT_NEAR(grey, 20 + 10 * i, 2) << "frame " << i;
        }
        EXPECT_FALSE(r.GetFrame(20, b));
    }
}
