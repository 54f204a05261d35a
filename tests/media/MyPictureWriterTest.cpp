// Picture files of a frame: the exact bytes of a BMP, JPEG quality as the encoder got it, round
// trips through our own picture loader, and writes that fail.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "MyPictureLoader.h"
#include "MyPictureWriter.h"
#include "TempFolders.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A bitmap whose pixel (x, y) is (x, y, x + y) in B, G, R.
TBitmap Ramp(int32_t w, int32_t h) {
    TBitmap b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 20);
            p[1] = uint8_t(y * 20);
            p[2] = uint8_t(x * 20 + y * 20);
        }
    return b;
}

// The first value of the first quantisation table in a JPEG stream.
int FirstQuantValue(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 5 < size; ++i)
        if (data[i] == 0xFF && data[i + 1] == 0xDB)
            return data[i + 5]; // marker, 2 length bytes, precision/table byte, then the values
    return -1;
}

} // namespace

TEST(MyPictureWriter, BmpBytesAreBottomUpRowsPaddedWithZeros) {
    TTempDir dir;
    TBitmap b = Ramp(3, 2); // 9 bytes a row, padded to 12
    TPictureWriter writer;
    const std::string name = dir.Path + "/a.bmp";
    ASSERT_TRUE(writer.SaveBmp(b, name));
    const std::vector<uint8_t> bytes = ReadAll(name);
    std::vector<uint8_t> expected = {
        'B', 'M', 78, 0, 0, 0,  0, 0, 0, 0, 54, 0, 0, 0,     // file header
        40,  0,   0,  0, 3, 0,  0, 0, 2, 0, 0,  0, 1, 0, 24, // info header
        0,   0,   0,  0, 0, 24, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // Row 1 first, then row 0.
    for (int y : {1, 0}) {
        const uint8_t* row = b.ScanLine(y);
        expected.insert(expected.end(), row, row + 9);
        expected.insert(expected.end(), {0, 0, 0});
    }
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(BmpFileHeader(3, 2), std::vector<uint8_t>(expected.begin(), expected.begin() + 54));
}

TEST(MyPictureWriter, FilesReadBackAsTheBitmap) {
    TTempDir dir;
    TPictureWriter writer;
    TPictureLoader loader;
    for (auto [w, h] : {std::pair{1, 1}, {5, 3}, {64, 48}}) {
        SCOPED_TRACE(w);
        const TBitmap b = Ramp(w, h);
        TBitmap back;
        ASSERT_TRUE(writer.SaveBmp(b, dir.Path + "/r.bmp"));
        loader.LoadFromFile(dir.Path + "/r.bmp", back);
        ASSERT_EQ(back.Width(), w);
        ASSERT_EQ(back.Height(), h);
        for (int32_t y = 0; y < h; ++y)
            EXPECT_EQ(0, std::memcmp(back.ScanLine(y), b.ScanLine(y), size_t(w) * 3));
        ASSERT_TRUE(writer.SaveJpeg(b, 100, dir.Path + "/r.jpg"));
        loader.LoadFromFile(dir.Path + "/r.jpg", back);
        EXPECT_EQ(back.Width(), w);
        EXPECT_EQ(back.Height(), h);
    }
}

TEST(MyPictureWriter, QualityReachesTheEncoder) {
    const TBitmap b = Ramp(16, 16);
    TPictureWriter writer;
    // libjpeg scales its base tables (first luminance value 16) by 5000 / q below 50 and by
    // 200 - 2q above: quality 5 gives 160, quality 100 gives 1, 80 gives 6.
    const struct {
        int Quality, First;
    } cases[] = {{5, 160}, {80, 6}, {100, 1}, {0, 255}, {150, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Quality);
        ASSERT_TRUE(writer.EncodeJpeg(b, c.Quality));
        EXPECT_EQ(FirstQuantValue(writer.JpegData(), writer.JpegSize()), c.First);
    }
}

TEST(MyPictureWriter, FailedWritesLeaveNoFile) {
    TTempDir dir;
    TPictureWriter writer;
    const TBitmap b = Ramp(4, 4);
    EXPECT_FALSE(writer.SaveBmp(b, dir.Path + "/missing/a.bmp"));
    EXPECT_FALSE(writer.SaveJpeg(b, 90, dir.Path + "/missing/a.jpg"));
    EXPECT_FALSE(writer.SaveBmp(TBitmap(), dir.Path + "/empty.bmp"));
    EXPECT_FALSE(writer.SaveJpeg(TBitmap(), 90, dir.Path + "/empty.jpg"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path + "/empty.bmp"));
}
