#include "MyDIBBitmap.h"

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
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 321);
        EXPECT_EQ(h.biHeight, 7);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, r.Bits);
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(h.biSizeImage, r.Image);
        EXPECT_EQ(h.biClrUsed, 0u);
    }
}

TEST(InitBitmapInfoHeader, EmptyBitmapAndUnusableFormatsRaise) {
    TBitmapInfoHeader h;
    TBitmap empty;
    try {
        InitBitmapInfoHeader(empty, pf24bit, h);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.GetMessage(), "Invalid bitmap");
    }
    TBitmap bmp(2, 2);
    for (TPixelFormat f : {pfDevice, pf15bit, pfCustom}) {
        try {
            InitBitmapInfoHeader(bmp, f, h);
            FAIL();
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.GetMessage(), "Invalid pixel format");
        }
    }
}

TEST(DIBBitmap, NewFrameIs480By320With24BitCopy) {
    TDIBBitmap dib;
    EXPECT_EQ(dib.Width(), 480);
    EXPECT_EQ(dib.Height(), 320);
    EXPECT_EQ(dib.GetPixelFormat(), pf24bit);
    EXPECT_EQ(dib.GetImageSize(), 460800u);
    EXPECT_EQ(dib.GetInfoSize(), 40u);
    EXPECT_EQ(dib.GetBitmapInfo()->biSizeImage, 460800u);
    EXPECT_EQ(dib.GetBitmapInfo()->biBitCount, 24);
}

TEST(DIBBitmap, SizesAndRowPadding) {
    TDIBBitmap dib;
    dib.SetDIBSize(320, 240, pf24bit);
    EXPECT_EQ(dib.GetImageSize(), 230400u);
    dib.SetDIBSize(321, 240, pf24bit);
    EXPECT_EQ(dib.GetImageSize(), 231360u); // 963 bytes of pixels padded to 964
    EXPECT_EQ(dib.GetBitmapInfo()->biWidth, 321);
    dib.SetDIBSize(5, 2, pf32bit);
    EXPECT_EQ(dib.GetImageSize(), 40u);
    EXPECT_THROW(dib.SetDIBSize(5, 2, pf8bit), EInvalidGraphic);
}

TEST(DIBBitmap, RowsAreStoredBottomUp) {
    TDIBBitmap dib;
    dib.SetDIBSize(321, 3, pf24bit);
    dib.Canvas().SetPixel(0, 0, 0x0000FF);   // red, top left
    dib.Canvas().SetPixel(320, 2, 0xFF0000); // blue, bottom right
    ASSERT_TRUE(dib.UpdateDIB());
    const uint8_t* bits = dib.GetBitsPtr();
    const size_t row = 964;
    EXPECT_EQ(bits[2 * row + 0], 0);
    EXPECT_EQ(bits[2 * row + 1], 0);
    EXPECT_EQ(bits[2 * row + 2], 255);
    EXPECT_EQ(bits[320 * 3 + 0], 255);
    EXPECT_EQ(bits[320 * 3 + 2], 0);
    EXPECT_EQ(bits[963], 0); // padding stays zero
}

TEST(DIBBitmap, BlocksAreReusedFromFrameToFrame) {
    TDIBBitmap dib;
    dib.SetDIBSize(64, 48, pf24bit);
    const uint8_t* bits = dib.GetBitsPtr();
    const uint8_t* info = dib.GetInfoPtr();
    for (int i = 0; i < 3; ++i) {
        dib.Canvas().SetPixel(i, 0, 0x00FF00);
        ASSERT_TRUE(dib.UpdateDIB());
    }
    EXPECT_EQ(dib.GetBitsPtr(), bits);
    EXPECT_EQ(dib.GetInfoPtr(), info);
    EXPECT_EQ(dib.GetBitsPtr()[47 * 192 + 2 * 3 + 1], 255);
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
    EXPECT_EQ(p[4], 0x12);
    EXPECT_EQ(p[5], 0x34);
    EXPECT_EQ(p[6], 0x56);
    EXPECT_EQ(p[7], 0);
    dib.SetDIBSize(2, 1, pf16bit);
    dib.Canvas().SetPixel(0, 0, 0x0000FF); // red: 0x7C00
    dib.Canvas().SetPixel(1, 0, 0xFF0000); // blue: 0x001F
    ASSERT_TRUE(dib.UpdateDIB());
    p = dib.GetBitsPtr();
    EXPECT_EQ(p[0] | p[1] << 8, 0x7C00);
    EXPECT_EQ(p[2] | p[3] << 8, 0x001F);
}
