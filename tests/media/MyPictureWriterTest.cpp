// Picture files of a frame: the exact bytes of a BMP, JPEG quality as the encoder got it, round
// trips through our own picture loader, and writes that fail.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "FileSizeLimit.h"
#include "MediaRig.h"
#include "MyPictureLoader.h"
#include "MyPictureWriter.h"
#include "TempFolders.h"

namespace {

// A bitmap whose pixel (x, y) is 20 x (x, y, x + y) in B, G, R.
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

} // namespace

TEST(MyPictureWriter, BmpBytesAreBottomUpRowsPaddedWithZeros) {
    TTempDir dir;
    ASSERT_TRUE(TPictureWriter().SaveBmp(Ramp(3, 2), dir.Path + "/a.bmp"));
    // File and info headers, then row 1 and row 0, 9 bytes of pixels padded to 12.
    const Bytes header = HexBytes("424d4e00 00000000 00003600 00002800 00000300 00000200 00000100"
                                  "18000000 00001800 00000000 00000000 00000000 00000000 0000");
    Bytes want = header;
    for (const char* row : {"00141414 14282814 3c000000", "00000014 00142800 28000000"})
        for (uint8_t v : HexBytes(row))
            want.push_back(v);
    EXPECT_EQ(FirstDifference(ReadBytesFile(dir.Path + "/a.bmp"), want), -1);
    EXPECT_EQ(BmpFileHeader(3, 2), header);
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
        ASSERT_EQ(back.Width() * 100 + back.Height(), w * 100 + h);
        for (int32_t y = 0; y < h; ++y)
            EXPECT_EQ(0, std::memcmp(back.ScanLine(y), b.ScanLine(y), size_t(w) * 3));
        ASSERT_TRUE(writer.SaveJpeg(b, 100, dir.Path + "/r.jpg"));
        loader.LoadFromFile(dir.Path + "/r.jpg", back);
        EXPECT_EQ(back.Width() * 100 + back.Height(), w * 100 + h);
    }
}

// libjpeg scales its base tables (first luminance value 16) by 5000 / q below 50 and by 200 - 2q
// above; quality is held to 1..100.
TEST(MyPictureWriter, QualityReachesTheEncoder) {
    const TBitmap b = Ramp(16, 16);
    TPictureWriter writer;
    for (auto [quality, first] : {std::pair{5, 160}, {80, 6}, {100, 1}, {0, 255}, {150, 1}}) {
        ASSERT_TRUE(writer.EncodeJpeg(b, quality));
        const uint8_t* d = writer.JpegData();
        int value = -1; // after the DQT marker, 2 length bytes and the precision/table byte
        for (size_t i = 0; value < 0 && i + 5 < writer.JpegSize(); ++i)
            if (d[i] == 0xFF && d[i + 1] == 0xDB)
                value = d[i + 5];
        EXPECT_EQ(value, first) << quality;
    }
}

// Each failure says why, in the system's words where the system refused.
TEST(MyPictureWriter, FailedWritesLeaveNoFileAndSayWhy) {
    TTempDir dir;
    TPictureWriter writer;
    const TBitmap b = Ramp(4, 4);
    EXPECT_FALSE(writer.SaveBmp(b, dir.Path + "/missing/a.bmp"));
    EXPECT_EQ(writer.ErrorText(), std::strerror(ENOENT));
    EXPECT_FALSE(writer.SaveJpeg(b, 90, dir.Path + "/missing/a.jpg"));
    EXPECT_EQ(writer.ErrorText(), std::strerror(ENOENT));
    EXPECT_FALSE(writer.SaveBmp(TBitmap(), dir.Path + "/empty.bmp"));
    EXPECT_EQ(writer.ErrorText(), "the picture is empty");
    EXPECT_FALSE(writer.SaveJpeg(TBitmap(), 90, dir.Path + "/empty.jpg"));
    EXPECT_EQ(writer.ErrorText(), "the picture could not be compressed");
    EXPECT_FALSE(std::filesystem::exists(dir.Path + "/empty.bmp"));
    EXPECT_TRUE(writer.SaveBmp(b, dir.Path + "/a.bmp"));
    EXPECT_EQ(writer.ErrorText(), "");
}

// A picture of a sequence written over an older one replaces it only when complete: a write the
// system refuses (its file size limit stands in for a full disk) leaves the older picture whole
// and nothing beside it.
TEST(MyPictureWriter, ReplacedPictureSurvivesAFailedWrite) {
    TTempDir dir;
    const std::string name = dir.Path + "/f0001.bmp";
    TPictureWriter writer;
    ASSERT_TRUE(writer.SaveBmp(Ramp(3, 2), name));
    const Bytes old = ReadBytesFile(name);
    TFileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Active());
    const bool saved = writer.SaveBmp(Ramp(200, 200), name);
    limit.Lift();
    EXPECT_FALSE(saved);
    EXPECT_EQ(writer.ErrorText(), std::strerror(EFBIG));
    EXPECT_EQ(ReadBytesFile(name), old);
    EXPECT_FALSE(std::filesystem::exists(name + ".~part"));
    ASSERT_TRUE(writer.SaveBmp(Ramp(5, 5), name));
    EXPECT_EQ(ReadBytesFile(name).size(), 54u + 5 * 16);
    EXPECT_FALSE(std::filesystem::exists(name + ".~part"));
}
