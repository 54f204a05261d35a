#include "MyDIBBitmap.h"

#include <cstring>

#include <gtest/gtest.h>

TEST(InitBitmapInfoHeader, HeaderFieldsPerPixelFormat) {
    TBitmap bmp(321, 7);
    TBitmapInfoHeader h;
    const struct {
        TPixelFormat Format;
        uint16_t Bits;
        uint32_t Image;
    } rows[] = {{pf1bit, 1, 44 * 7},    {pf4bit, 4, 164 * 7},   {pf8bit, 8, 324 * 7},
                {pf16bit, 16, 644 * 7}, {pf24bit, 24, 964 * 7}, {pf32bit, 32, 1284 * 7}};
    for (const auto& r : rows) {
        InitBitmapInfoHeader(bmp, r.Format, h);
        const TBitmapInfoHeader want{40, 321, 7, 1, r.Bits, BI_RGB, r.Image, 0, 0, 0, 0};
        EXPECT_EQ(std::memcmp(&h, &want, sizeof(h)), 0) << r.Bits;
    }
    const TBitmap empty, two(2, 2);
    const std::pair<const TBitmap*, TPixelFormat> bad[] = {
        {&empty, pf24bit}, {&two, pfDevice}, {&two, pf15bit}, {&two, pfCustom}};
    for (auto [b, f] : bad) {
        try {
            InitBitmapInfoHeader(*b, f, h);
            ADD_FAILURE() << "no exception for format " << int(f);
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.GetMessage(), b == &empty ? "Invalid bitmap" : "Invalid pixel format");
        }
    }
}

// A new frame copy is 480 x 320 at 24 bits; rows are padded to 4 bytes.
TEST(DIBBitmap, SizesAndRowPadding) {
    TDIBBitmap dib;
    EXPECT_EQ(dib.GetInfoSize(), 40u);
    const struct {
        int32_t W, H;
        TPixelFormat Format;
        uint32_t Image;
        uint16_t Bits;
    } rows[] = {{0, 0, pf24bit, 460800, 24},
                {320, 240, pf24bit, 230400, 24},
                {321, 240, pf24bit, 231360, 24}, // 963 bytes of pixels padded to 964
                {5, 2, pf32bit, 40, 32}};
    for (const auto& r : rows) {
        if (r.W)
            dib.SetDIBSize(r.W, r.H, r.Format);
        EXPECT_EQ(dib.GetPixelFormat(), r.Format);
        EXPECT_EQ(dib.GetImageSize(), r.Image);
        EXPECT_EQ(dib.GetBitmapInfo()->biSizeImage, r.Image);
        EXPECT_EQ(dib.GetBitmapInfo()->biBitCount, r.Bits);
        EXPECT_EQ(dib.GetBitmapInfo()->biWidth, r.W ? r.W : 480);
        EXPECT_EQ(dib.Height(), r.H ? r.H : 320);
    }
    EXPECT_THROW(dib.SetDIBSize(5, 2, pf8bit), EInvalidGraphic);
}

TEST(DIBBitmap, RowsAreStoredBottomUpInBlocksReusedFromFrameToFrame) {
    TDIBBitmap dib;
    dib.SetDIBSize(321, 3, pf24bit);
    const uint8_t* bits = dib.GetBitsPtr();
    const uint8_t* info = dib.GetInfoPtr();
    dib.Canvas().SetPixel(0, 0, 0x0000FF);   // red, top left
    dib.Canvas().SetPixel(320, 2, 0xFF0000); // blue, bottom right
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(dib.UpdateDIB());
    EXPECT_EQ(dib.GetBitsPtr(), bits);
    EXPECT_EQ(dib.GetInfoPtr(), info);
    const size_t row = 964;
    EXPECT_EQ(bits[2 * row + 0] | bits[2 * row + 1] << 8 | bits[2 * row + 2] << 16, 0xFF0000);
    EXPECT_EQ(bits[320 * 3 + 0] | bits[320 * 3 + 2] << 16, 0xFF);
    EXPECT_EQ(bits[963], 0);               // padding stays zero
    dib.Canvas().SetPixel(1, 0, 0x00FF00); // a later frame reaches the same block
    ASSERT_TRUE(dib.UpdateDIB());
    EXPECT_EQ(bits[2 * row + 3 + 1], 255);
}

TEST(DIBBitmap, CopyFollowsADirectResize) {
    // Resizing through the plain bitmap must not let the copy write past its block.
    TDIBBitmap dib;
    dib.SetDIBSize(4, 4, pf24bit);
    dib.SetSize(100, 50);
    ASSERT_TRUE(dib.UpdateDIB());
    EXPECT_EQ(dib.GetImageSize(), 300u * 50u);
    EXPECT_EQ(dib.GetBitmapInfo()->biWidth, 100);
    dib.SetSize(0, 0);
    EXPECT_FALSE(dib.UpdateDIB());
}

TEST(DIBBitmap, PixelsIn16And32BitCopies) {
    TDIBBitmap dib;
    dib.SetDIBSize(2, 1, pf32bit);
    dib.Canvas().SetPixel(1, 0, 0x123456); // R 0x56, G 0x34, B 0x12
    ASSERT_TRUE(dib.UpdateDIB());
    const uint8_t* p = dib.GetBitsPtr();
    EXPECT_EQ(uint32_t(p[4] | p[5] << 8 | p[6] << 16 | p[7] << 24), 0x563412u);
    dib.SetDIBSize(2, 1, pf16bit);
    dib.Canvas().SetPixel(0, 0, 0x0000FF); // red: 0x7C00
    dib.Canvas().SetPixel(1, 0, 0xFF0000); // blue: 0x001F
    ASSERT_TRUE(dib.UpdateDIB());
    p = dib.GetBitsPtr();
    EXPECT_EQ(p[0] | p[1] << 8, 0x7C00);
    EXPECT_EQ(p[2] | p[3] << 8, 0x001F);
}
