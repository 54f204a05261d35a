#include "MyPictureLoader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "MediaRig.h"
#include "MyGIFReader.h"
#include "PictureFixtures.h"
#include "TempFolders.h"

namespace {

constexpr uint32_t Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000, White = 0xFFFFFF;

TBitmap LoadBytes(const std::vector<uint8_t>& bytes, TPictureKind kind, int32_t fitW = 0,
                  int32_t fitH = 0) {
    TPictureLoader loader;
    TBitmap bmp;
    loader.LoadFromMemory(bytes.data(), bytes.size(), kind, bmp, fitW, fitH);
    return bmp;
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int s = 0; s < 24; s += 8) {
        const int d = int((a >> s) & 0xFF) - int((b >> s) & 0xFF);
        if (d > tolerance || d < -tolerance)
            return false;
    }
    return true;
}

// 4 x 3 with a distinct colour per pixel, so any row or column mix-up shows.
uint32_t Colour(int32_t x, int32_t y) {
    return uint32_t(0x102030 + x * 0x000040 + y * 0x004000);
}

// The colours of row y from its left.
std::vector<uint32_t> Row(const TBitmap& bmp, int32_t y, size_t n = 4) {
    std::vector<uint32_t> v;
    for (int32_t x = 0; x < int32_t(n); ++x)
        v.push_back(bmp.Canvas().GetPixel(x, y));
    return v;
}
using Colours = std::vector<uint32_t>;

void ExpectPattern(const TBitmap& bmp) {
    ASSERT_EQ(bmp.Width(), 4);
    ASSERT_EQ(bmp.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(bmp.Canvas().GetPixel(x, y), Colour(x, y)) << x << "," << y;
}

// The byte offset a read of the BMP bytes names in its error, or -2 when the read succeeds.
int64_t ReadErrorOffset(const Bytes& b) {
    TBitmap bmp;
    try {
        ReadBmp(b.data(), b.size(), bmp, "x.bmp");
    } catch (const EReadError& e) {
        EXPECT_EQ(e.FileName, "x.bmp");
        return e.Offset;
    }
    return -2;
}

} // namespace

TEST(PictureKind, ExtensionsMatchExactlyWithoutCase) {
    EXPECT_EQ(PictureKindOf("/a/b.JPG"), TPictureKind::Jpeg);
    EXPECT_EQ(PictureKindOf("b.jpeg"), TPictureKind::Jpeg);
    EXPECT_EQ(PictureKindOf("b.Bmp"), TPictureKind::Bmp);
    EXPECT_EQ(PictureKindOf("b.gIf"), TPictureKind::Gif);
    for (const char* s : {"b.j", "b.bm", "b.", "b", "b.jpgx", "b.txt", "dir.jpg/file", "b.gif.txt"})
        EXPECT_EQ(PictureKindOf(s), TPictureKind::None) << s;
}

TEST(BmpReader, TwentyFourBitBottomUpAndTopDown) {
    for (auto [topDown, header] : {std::pair{false, 40u}, {true, 40u}, {false, 124u}}) {
        TBmpSpec s;
        s.TopDown = topDown;
        s.HeaderSize = header; // 124: a version 5 header
        s.Pixel = [](int32_t x, int32_t y) { return Colour(x, y); };
        ExpectPattern(LoadBytes(BuildBmp(s), TPictureKind::Bmp));
    }
}

TEST(BmpReader, PaletteFormats) {
    std::vector<uint32_t> pal(256);
    for (size_t i = 0; i < pal.size(); ++i)
        pal[i] = uint32_t(i * 0x010305) & 0xFFFFFF;
    for (uint16_t bits : {1, 4, 8}) {
        SCOPED_TRACE(bits);
        TBmpSpec s;
        s.Width = 13; // rows end inside a byte
        s.Bits = bits;
        s.Palette.assign(pal.begin(), pal.begin() + (1 << bits));
        const uint32_t mask = (1u << bits) - 1;
        s.Pixel = [mask](int32_t x, int32_t y) { return uint32_t(x * 3 + y * 7) & mask; };
        TBitmap bmp = LoadBytes(BuildBmp(s), TPictureKind::Bmp);
        ASSERT_EQ(bmp.Width(), 13);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 13; ++x)
                EXPECT_EQ(bmp.Canvas().GetPixel(x, y), pal[(x * 3 + y * 7) & mask]);
    }
    // A core header has three-byte colours.
    TBmpSpec core;
    core.HeaderSize = 12;
    core.Bits = 4;
    core.Palette = {Red, Green, Blue, White};
    core.Pixel = [](int32_t x, int32_t) { return uint32_t(x); };
    EXPECT_EQ(Row(LoadBytes(BuildBmp(core), TPictureKind::Bmp), 2),
              (Colours{Red, Green, Blue, White}));
}

TEST(BmpReader, ShortColourTableReadsMissingEntriesAsBlack) {
    TBmpSpec s;
    s.Bits = 8;
    s.Palette = {Red, Green}; // the writer says 0 colours used, but only two are there
    s.Pixel = [](int32_t x, int32_t) { return uint32_t(x); };
    EXPECT_EQ(Row(LoadBytes(BuildBmp(s), TPictureKind::Bmp), 0), (Colours{Red, Green, 0, 0}));
    // With the colours counted, a pixel offset of 0 means the pixels follow the table.
    s.ClrUsed = 2;
    std::vector<uint8_t> b = BuildBmp(s);
    std::fill(b.begin() + 10, b.begin() + 14, 0);
    EXPECT_EQ(Row(LoadBytes(b, TPictureKind::Bmp), 2), (Colours{Red, Green, 0, 0}));
}

TEST(BmpReader, SixteenAndThirtyTwoBitWithAndWithoutMasks) {
    TBmpSpec s;
    s.Bits = 16; // 5-5-5
    s.Pixel = [](int32_t x, int32_t) {
        const uint32_t v[] = {0x7C00, 0x03E0, 0x001F, 0x7FFF};
        return v[x];
    };
    EXPECT_EQ(Row(LoadBytes(BuildBmp(s), TPictureKind::Bmp), 1),
              (Colours{Red, Green, Blue, White}));

    s.Compression = 3; // 5-6-5 masks after the header
    s.Masks[0] = 0xF800, s.Masks[1] = 0x07E0, s.Masks[2] = 0x001F;
    s.Pixel = [](int32_t x, int32_t) {
        const uint32_t v[] = {0xF800, 0x07E0, 0x001F, 0x8410};
        return v[x];
    };
    // The last is 16/31 red and blue, 32/63 green.
    EXPECT_EQ(Row(LoadBytes(BuildBmp(s), TPictureKind::Bmp), 0),
              (Colours{Red, Green, Blue, 0x848284u}));

    TBmpSpec t;
    t.Bits = 32;
    t.Pixel = [](int32_t x, int32_t y) { // B, G, R, x in memory
        const uint32_t c = Colour(x, y);
        return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF) | 0xAA000000u;
    };
    ExpectPattern(LoadBytes(BuildBmp(t), TPictureKind::Bmp));
    t.Compression = 3; // masks inside a version 4 header, red in the low byte
    t.HeaderSize = 108;
    t.Masks[0] = 0x000000FF, t.Masks[1] = 0x0000FF00, t.Masks[2] = 0x00FF0000;
    t.Pixel = [](int32_t x, int32_t y) { return Colour(x, y); };
    ExpectPattern(LoadBytes(BuildBmp(t), TPictureKind::Bmp));
}

// Every damage is a read error that names the file and the byte offset of the bad value.
TEST(BmpReader, DamagedFilesRaiseReadErrors) {
    TBmpSpec s;
    s.Width = 8;
    s.Height = 8;
    const Bytes good = BuildBmp(s);
    // Every cut short of the last row's padding fails, the header included.
    for (size_t n : {size_t(0), size_t(1), size_t(17), size_t(30), size_t(53), good.size() - 3})
        EXPECT_GE(ReadErrorOffset(Bytes(good.begin(), good.begin() + long(n))), 0) << n;
    // Magic, header size, width, height, pixel offset, bit count, compression (RLE8, bit fields on
    // 24 bits): where the value is, the offset the error names (pixels past the end: where the
    // bytes run out).
    const struct {
        size_t At;
        uint32_t Value;
        int64_t Offset;
    } patches[] = {{0, 0, 0},
                   {14, 39, 14},
                   {14, 0xFFFFFFFF, 14},
                   {18, 0, 18},
                   {18, 0x80000000, 18},
                   {22, 0x80000000, 22},
                   {18, 100000, 18},
                   {18, 30000, 246},
                   {22, 30000, 246},
                   {10, 0xFFFFFFF0, 246},
                   {10, 20, 10},
                   {28, 2, 14},
                   {30, 1, 14},
                   {30, 3, 14}};
    for (const auto& c : patches) {
        Bytes b = good;
        for (int i = 0; i < (c.At == 28 ? 2 : 4); ++i)
            b[c.At + size_t(i)] = uint8_t(c.Value >> (8 * i));
        const int64_t offset = ReadErrorOffset(b);
        EXPECT_EQ(offset, c.Offset) << c.At << " " << c.Value << ": " << offset;
    }
    TBmpSpec pal;
    pal.Bits = 8;
    EXPECT_GE(ReadErrorOffset(BuildBmp(pal)), 0) << "palette picture without colours";
}

// Run-length coded palette pictures as common tools write them: encoded runs, absolute runs
// (with their word padding), a delta jump, a run past the right edge (cut), an early end.
TEST(BmpReader, RunLengthCodedPictures) {
    struct TCase {
        const char* Name;
        uint16_t Bits;
        uint32_t Compression;
        int32_t Width, Height;
        std::vector<uint8_t> Runs;
        std::vector<std::vector<int>> Expected; // palette indices, top row first
    };
    // clang-format off
    const TCase cases[] = {
        {"RLE8", 8, 1, 5, 3,
         {0x02, 1, 0x00, 3, 2, 3, 4, 0x00, 0x00, 0x00, // bottom: run, absolute 3 + pad, EOL
          0x00, 2, 1, 0, 0x05, 5, 0x00, 0x00,           // delta right 1, run cut at the edge, EOL
          0x01, 6, 0x00, 0x01},                         // one pixel, end of picture
         {{6, 0, 0, 0, 0}, {0, 5, 5, 5, 5}, {1, 1, 2, 3, 4}}},
        {"RLE4", 4, 2, 5, 2,
         {0x05, 0x12, 0x00, 0x00,                       // bottom: alternating nibbles, EOL
          0x00, 5, 0x34, 0x57, 0x60, 0x00, 0x00, 0x01}, // absolute 5 (3 bytes + pad), end
         {{3, 4, 5, 7, 6}, {1, 2, 1, 2, 1}}},
    };
    // clang-format on
    auto colour = [](int i) { return uint32_t(0x050000 + i * 0x001020); };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBmpSpec s;
        s.Width = c.Width;
        s.Height = c.Height;
        s.Bits = c.Bits;
        s.Compression = c.Compression;
        s.RunData = c.Runs;
        for (int i = 0; i < 16; ++i)
            s.Palette.push_back(colour(i));
        const std::vector<uint8_t> file = BuildBmp(s);
        TBitmap bmp = LoadBytes(file, TPictureKind::Bmp);
        ASSERT_EQ(bmp.Width(), c.Width);
        ASSERT_EQ(bmp.Height(), c.Height);
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x)
                EXPECT_EQ(bmp.Canvas().GetPixel(x, y), colour(c.Expected[size_t(y)][size_t(x)]))
                    << x << "," << y;
        // Cut inside the runs: a read error, not a half picture.
        const std::vector<uint8_t> cut(file.begin(), file.end() - 3);
        EXPECT_GE(ReadErrorOffset(cut), 0);
        s.TopDown = true;
        EXPECT_EQ(ReadErrorOffset(BuildBmp(s)), 14 + 8); // the height
    }
}

TEST(BmpReader, LastRowMayLackItsPadding) {
    TBmpSpec s;
    s.Width = 3; // 9 bytes of pixels, 12 per row
    s.Pixel = [](int32_t x, int32_t y) { return Colour(x, y); };
    std::vector<uint8_t> b = BuildBmp(s);
    b.erase(b.end() - 3, b.end());
    TBitmap bmp = LoadBytes(b, TPictureKind::Bmp);
    EXPECT_EQ(bmp.Canvas().GetPixel(2, 0), Colour(2, 0));
}

TEST(JpegReader, PixelsSurviveARoundTrip) {
    const uint32_t q[4] = {Red, Green, Blue, White};
    const TBitmap src = MakeQuarters(64, 32, q);
    TBitmap bmp = LoadBytes(BuildJpeg(src), TPictureKind::Jpeg);
    ASSERT_EQ(bmp.Width(), 64);
    ASSERT_EQ(bmp.Height(), 32);
    const int px[4][2] = {{8, 8}, {56, 8}, {8, 24}, {56, 24}};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(Near(bmp.Canvas().GetPixel(px[i][0], px[i][1]), q[i], 6)) << i;
}

TEST(JpegReader, LargePictureDecodesScaledButNeverBelowTheFrame) {
    const uint32_t q[4] = {Red, Green, Blue, White};
    const std::vector<uint8_t> jpeg = BuildJpeg(MakeQuarters(640, 480, q));
    TBitmap bmp = LoadBytes(jpeg, TPictureKind::Jpeg, 160, 120);
    EXPECT_EQ(bmp.Width(), 160);
    EXPECT_EQ(bmp.Height(), 120);
    EXPECT_TRUE(Near(bmp.Canvas().GetPixel(140, 100), White, 8));
    bmp = LoadBytes(jpeg, TPictureKind::Jpeg, 170, 120);
    EXPECT_GE(bmp.Width(), 170);
    EXPECT_LT(bmp.Width(), 640);
    bmp = LoadBytes(jpeg, TPictureKind::Jpeg, 1000, 1000);
    EXPECT_EQ(bmp.Width(), 640);
}

TEST(JpegReader, DamagedFilesRaiseReadErrors) {
    const uint32_t q[4] = {Red, Green, Blue, White};
    const std::vector<uint8_t> good = BuildJpeg(MakeQuarters(64, 64, q));
    TPictureLoader loader;
    auto fails = [&](const std::vector<uint8_t>& b, const char* what) {
        SCOPED_TRACE(what);
        TBitmap bmp;
        EXPECT_THROW(loader.LoadFromMemory(b.data(), b.size(), TPictureKind::Jpeg, bmp),
                     EReadError);
    };
    fails({}, "empty");
    fails({0xFF, 0xD8}, "start marker only");
    fails(std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2)), "half");
    fails(std::vector<uint8_t>(good.begin(), good.end() - 2), "no end marker");
    // Frame header claiming 60000 x 60000: refused before any pixel memory is taken.
    std::vector<uint8_t> huge = good;
    for (size_t i = 0; i + 8 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60, huge[i + 7] = 0xEA, huge[i + 8] = 0x60;
            break;
        }
    fails(huge, "huge");
    // The loader stays usable after failures.
    TBitmap bmp;
    loader.LoadFromMemory(good.data(), good.size(), TPictureKind::Jpeg, bmp);
    EXPECT_EQ(bmp.Width(), 64);
}

TEST(GifReader, FirstFrameColoursAndTransparency) {
    const std::vector<uint32_t> colors = {Red, Green, Blue, White};
    std::vector<uint8_t> idx;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            idx.push_back(uint8_t((x + y) % 4));
    TBitmap bmp = LoadBytes(BuildGif(7, 5, colors, idx), TPictureKind::Gif);
    ASSERT_EQ(bmp.Width(), 7);
    ASSERT_EQ(bmp.Height(), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(bmp.Canvas().GetPixel(x, y), colors[size_t((x + y) % 4)]);
    // Transparent white shows black.
    EXPECT_EQ(Row(LoadBytes(BuildGif(7, 5, colors, idx, 3), TPictureKind::Gif), 0),
              (Colours{Red, Green, Blue, 0}));
}

// The picture is drawn onto the GIF bitmap as it stands: transparent pixels leave what the
// bitmap held where both sizes meet, black where it grew.
TEST(GifReader, TransparentPixelsLeaveTheBitmapsPixels) {
    const std::vector<uint8_t> holes =
        BuildGif(3, 3, {Red, Blue}, {0, 1, 0, 1, 1, 1, 0, 1, 0}, 1); // blue is transparent
    TGIFBitmap gif;
    gif.SetSize(2, 2);
    gif.Canvas().Brush.Color = Green;
    gif.Canvas().FillRect(Rect(0, 0, 2, 2));
    gif.LoadFromMemory(holes.data(), holes.size());
    ASSERT_EQ(gif.Width(), 3);
    EXPECT_EQ(Row(gif, 0, 3), (Colours{Red, Green, Red}));
    EXPECT_EQ(Row(gif, 1, 3), (Colours{Green, Green, 0}));
    EXPECT_EQ(Row(gif, 2, 3), (Colours{Red, 0, Red}));
    // Loaded again over itself nothing changes; a smaller picture keeps the shared corner.
    gif.LoadFromMemory(holes.data(), holes.size());
    EXPECT_EQ(Row(gif, 1, 3), (Colours{Green, Green, 0}));
    const std::vector<uint8_t> clear = BuildGif(1, 1, {Red, Blue}, {1}, 1);
    gif.LoadFromMemory(clear.data(), clear.size());
    EXPECT_EQ(gif.Canvas().GetPixel(0, 0), Red);
}

TEST(GifReader, FilesAndDamage) {
    TTempDir dir;
    const std::vector<uint8_t> good = BuildGif(3, 2, {Red, Blue}, {0, 1, 0, 1, 0, 1});
    SaveBytes(dir.Path + "/a.gif", good);
    TGIFBitmap gif;
    gif.LoadFromFile(dir.Path + "/a.gif");
    EXPECT_EQ(gif.Width(), 3);
    EXPECT_EQ(gif.Canvas().GetPixel(1, 1), Red);
    int32_t w = 0, h = 0;
    EXPECT_TRUE(TGIFBitmap::ReadSize(dir.Path + "/a.gif", w, h));
    EXPECT_EQ(w * 10 + h, 32);

    EXPECT_THROW(gif.LoadFromFile(dir.Path + "/missing.gif"), EReadError);
    EXPECT_EQ(gif.Width(), 3); // unchanged after a failure
    for (size_t n : {size_t(0), size_t(6), size_t(12), good.size() - 8}) {
        SCOPED_TRACE(n);
        TGIFBitmap g;
        EXPECT_THROW(g.LoadFromMemory(good.data(), n), EReadError);
    }
    // A BMP named .gif is not read as a BMP.
    const std::vector<uint8_t> bmp = BuildBmp(TBmpSpec{});
    EXPECT_THROW(gif.LoadFromMemory(bmp.data(), bmp.size()), EReadError);
}

TEST(PictureLoader, FilesBySizeAndKind) {
    TTempDir dir;
    TBmpSpec s;
    s.Width = 5;
    s.Height = 9;
    SaveBytes(dir.Path + "/p.BMP", BuildBmp(s));
    const uint32_t q[4] = {Red, Green, Blue, White};
    SaveBytes(dir.Path + "/p.jpeg", BuildJpeg(MakeQuarters(48, 16, q)));
    SaveBytes(dir.Path + "/p.gif", BuildGif(2, 3, {Red, Blue}, {0, 1, 0, 1, 0, 1}));
    SaveBytes(dir.Path + "/bad.jpg", {1, 2, 3});
    dir.File("p.txt", "text");

    TPictureLoader loader;
    int32_t w = 0, h = 0;
    for (auto [name, size] : {std::pair{"p.BMP", 509},
                              {"p.jpeg", 4816},
                              {"p.gif", 203},
                              {"bad.jpg", -1},
                              {"p.txt", -1},
                              {"none.bmp", -1}}) {
        w = h = 0;
        const bool read = loader.ReadSize(dir.Path + "/" + name, w, h);
        EXPECT_EQ(read ? w * 100 + h : -1, size) << name;
    }

    TBitmap bmp;
    loader.LoadFromFile(dir.Path + "/p.gif", bmp);
    EXPECT_EQ(bmp.Canvas().GetPixel(1, 0), Blue);
    loader.LoadFromFile(dir.Path + "/p.jpeg", bmp);
    EXPECT_EQ(bmp.Width(), 48);
    try {
        loader.LoadFromFile(dir.Path + "/bad.jpg", bmp);
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_EQ(e.FileName, dir.Path + "/bad.jpg");
    }
    EXPECT_THROW(loader.LoadFromFile(dir.Path + "/p.txt", bmp), EReadError);
    EXPECT_THROW(loader.LoadFromFile(dir.Path + "/none.gif", bmp), EReadError);
}

// A picture name that is a FIFO is refused at once by every loader instead of waiting for a
// writer.
TEST(PictureLoader, FifosAreRefusedAtOnce) {
    TTempDir dir;
    for (const char* name : {"p.bmp", "p.jpg", "p.gif"}) {
        SCOPED_TRACE(name);
        const std::string fifo = dir.Path + "/" + name;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        TPictureLoader loader;
        TBitmap bmp;
        EXPECT_THROW(loader.LoadFromFile(fifo, bmp), EReadError);
        int32_t w = 0, h = 0;
        EXPECT_FALSE(loader.ReadSize(fifo, w, h));
    }
}
