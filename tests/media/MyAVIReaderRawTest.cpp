// Raw frames judged by their format whatever the stream's handler, and the sound-only open: what
// is said about the pictures, and when, depends on whether the pictures are used.
#include <cstring>

#include <gtest/gtest.h>

#include "AviFixtures.h"
#include "EncodedAvi.h"
#include "FakeUiServices.h"
#include "MediaRig.h"
#include "TempFolders.h"

namespace {

struct TOptionGuard {
    bool Saved = DecoderOptions[doUseMMIOReader];
    ~TOptionGuard() { DecoderOptions[doUseMMIOReader] = Saved; }
};

Bytes Pixels(const TBitmap& b) {
    Bytes out;
    for (int y = 0; y < b.Height(); ++y)
        out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + b.Width() * 3);
    return out;
}

// A 3 x 2 raw movie of three frames in the given layout; 16-bit frames are bit fields 5-6-5.
TAviSpec RawMovie(uint32_t handler, uint16_t bits) {
    TAviSpec spec = MakeDibMovie(3, 2, 3);
    if (bits == 16) {
        const Bytes masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
        spec.Streams[0] = MakeVideoStream(3, 2, 16, handler, BI_BITFIELDS, masks);
        for (size_t i = 0; i < spec.Chunks.size(); ++i)
            spec.Chunks[i].Data = MakePattern(16, uint32_t(i));
    }
    spec.Streams[0].Handler = handler;
    return spec;
}

// Where the handler of the first stream header lies in a file written by libavformat.
size_t HandlerPos(const Bytes& file) {
    for (size_t i = 0; i + 16 <= file.size(); ++i)
        if (std::memcmp(&file[i], "strh", 4) == 0)
            return i + 12;
    return 0;
}

} // namespace

// Uncompressed frames are drawn straight from the file whatever the handler says: 0 (as ffmpeg
// writes raw video), "RGB ", "DIB " or any other; the file layer is never opened for them.
TEST(AviReaderRaw, UncompressedFormatIsDrawnRawWhateverTheHandler) {
    TOptionGuard guard;
    for (const uint16_t bits : {24, 16})
        for (const uint32_t handler : {0u, FourCC("RGB "), FourCC("DIB "), FourCC("dib ")}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, handler " + std::to_string(handler));
            const TAviSpec spec = RawMovie(handler, bits);
            TAviReader r;
            ASSERT_TRUE(Opens(r, BuildAvi(spec).Bytes));
            EXPECT_TRUE(r.IsRawVideo());
            EXPECT_EQ(r.GetFrameReader(), nullptr);
            const TAviStreamSpec& s = spec.Streams[0];
            TDibFormat f{3, 2, bits, bits == 16 ? uint32_t(BI_BITFIELDS) : uint32_t(BI_RGB), 0};
            for (const bool fileLayer : {true, false}) {
                DecoderOptions[doUseMMIOReader] = fileLayer;
                for (const int i : {2, 0, 1}) {
                    TBitmap got(3, 2), want(3, 2);
                    TDibDraw draw;
                    const Bytes& bitsOf = spec.Chunks[size_t(i)].Data;
                    ASSERT_TRUE(draw.Draw(f, s.Format.data() + 40, s.Format.size() - 40,
                                          bitsOf.data(), bitsOf.size(), want));
                    ASSERT_TRUE(r.GetFrame(i, got)) << i;
                    EXPECT_EQ(Pixels(got), Pixels(want)) << i;
                }
            }
        }
}

// A stream whose frames are all shorter than one picture is refused whatever its handler, with
// the picture's height as the number of rows whichever way they are stored.
TEST(AviReaderRaw, FramesShorterThanThePictureRefusedWhateverTheHandler) {
    for (const uint32_t handler : {0u, FourCC("RGB ")})
        for (const int32_t height : {2, -2}) {
            SCOPED_TRACE(std::to_string(handler) + " " + std::to_string(height));
            TAviSpec spec = RawMovie(handler, 24);
            for (TAviChunkSpec& c : spec.Chunks)
                c.Data.resize(16);
            TAviImage f = BuildAvi(spec);
            f.PutU32(f.StrfPos[0] + 8 + 8, uint32_t(height)); // biHeight
            TFakeUiServices ui;
            TAviReader r(&ui);
            EXPECT_FALSE(r.Open(std::make_unique<TMemoryByteSource>(f.Bytes), "short.avi"));
            EXPECT_EQ(r.GetOpenError(), "Every raw frame is shorter than one picture of 3 x 2 at "
                                        "24 bits (24 bytes; the first holds 16) (short.avi, "
                                        "offset " +
                                            std::to_string(f.ChunkPos[0]) + ")");
            EXPECT_EQ(ui.Messages,
                      std::vector<std::string>{"Can not open short.avi\n" + r.GetOpenError()});
        }
}

// A "DIB " handler over compressed frames is not raw: the frames go to the decoder, as the same
// movie with its own handler does.
TEST(AviReaderRaw, DibHandlerOverCompressedFramesIsDecoded) {
    TOptionGuard guard;
    av_log_set_level(AV_LOG_QUIET);
    TTempDir dir;
    const std::string file = dir.Path + "/mjpeg.avi";
    ASSERT_TRUE(WriteEncodedAvi(file, {"mjpeg", 16, 16, 3, 15, 12, {}, ""}));
    const Bytes plain = ReadBytesFile(file);
    Bytes dib = plain;
    const size_t at = HandlerPos(dib);
    ASSERT_EQ(TagAt(dib, at), "MJPG");
    std::memcpy(&dib[at], "DIB ", 4);
    TAviReader a, b;
    ASSERT_TRUE(Opens(a, plain));
    ASSERT_TRUE(Opens(b, dib));
    EXPECT_TRUE(b.IsDIB());
    EXPECT_FALSE(b.IsRawVideo());
    for (const bool fileLayer : {true, false}) {
        DecoderOptions[doUseMMIOReader] = fileLayer;
        for (const int i : {0, 2}) {
            TBitmap pa(16, 16), pb(16, 16);
            ASSERT_TRUE(a.GetFrame(i, pa));
            ASSERT_TRUE(b.GetFrame(i, pb)) << i << " " << fileLayer;
            EXPECT_EQ(Pixels(pb), Pixels(pa)) << i << " " << fileLayer;
        }
    }
}

// A use for the sound takes a movie whose pictures could never show, and says only what touches
// the sound; a use for the pictures refuses it with one message, and says nothing of the damaged
// tail before it.
TEST(AviReaderRaw, SoundOnlyOpenIgnoresThePictures) {
    TAviSpec spec = MakeDibMovie(3, 2, 2);
    AddAudioTrack(spec, AviPcm(8000, 1, 8), {400, 400}, {0, 1});
    spec.Segments.resize(1);
    spec.Segments[0].Chunks = {TAviChunkSpec{0, "db", MakePattern(16, 2)},
                               TAviChunkSpec{1, "wb", MakePattern(400, 3)},
                               TAviChunkSpec{0, "db", MakePattern(16, 4)}};
    for (TAviChunkSpec& c : spec.Chunks)
        if (c.Kind == "db")
            c.Data.resize(16);
    const TAviImage whole = BuildAvi(spec);
    // Cut inside the last frame: the segment is damaged there.
    const size_t cut = whole.SegmentChunkPos[0][2];
    const Bytes bytes(whole.Bytes.begin(), whole.Bytes.begin() + long(cut) + 12);

    TFakeUiServices ui;
    TAviReader pictures(&ui);
    EXPECT_FALSE(pictures.Open(std::make_unique<TMemoryByteSource>(bytes), "cut.avi"));
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0].rfind("Can not open cut.avi\nEvery raw frame is shorter", 0), 0u);

    ui.Messages.clear();
    TAviReader sound(&ui);
    ASSERT_TRUE(
        sound.Open(std::make_unique<TMemoryByteSource>(bytes), "cut.avi", TAviUse::SoundOnly));
    EXPECT_EQ(sound.GetFrameCount(), 3);
    EXPECT_EQ(ui.Messages,
              std::vector<std::string>{"The movie cut.avi is damaged or cut off at byte " +
                                       std::to_string(cut) + " of " + std::to_string(bytes.size()) +
                                       "; its first 3 frames (" +
                                       FormatTimeText(sound.GetDuration()) + ") are used."});
    EXPECT_TRUE(sound.HasAudio());
    EXPECT_EQ(sound.GetAudioChunks().size(), 3u);
    Bytes data;
    ASSERT_TRUE(sound.ReadAudioChunk(2, data));
    EXPECT_EQ(data, MakePattern(400, 3));
}

// A sound track the mixer cannot take is named with its channels in the right number, and the
// sentence after it says what is left, the pictures or nothing.
TEST(AviReaderRaw, LeftOutSoundIsSaidForTheUse) {
    TAviSpec spec = MakeDibMovie(3, 2, 2);
    AddAudioTrack(spec, AviPcm(22050, 1, 24), {300}, {0});
    const Bytes bytes = BuildAvi(spec).Bytes;
    for (const TAviUse use : {TAviUse::Pictures, TAviUse::SoundOnly}) {
        TFakeUiServices ui;
        TAviReader r(&ui);
        ASSERT_TRUE(r.Open(std::make_unique<TMemoryByteSource>(bytes), "mono.avi", use));
        EXPECT_EQ(ui.Messages,
                  std::vector<std::string>{
                      "The sound track of mono.avi is left out: its PCM format (1 channel of 24 "
                      "bits at 22050 Hz) cannot be played." +
                      std::string(use == TAviUse::Pictures
                                      ? " The movie's pictures are used without sound."
                                      : " The movie gives no sound.")});
    }
}
