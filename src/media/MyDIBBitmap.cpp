#include "MyDIBBitmap.h"

#include <cstring>

void InitBitmapInfoHeader(const TBitmap& bitmap, TPixelFormat pixelFormat,
                          TBitmapInfoHeader& header) {
    if (bitmap.Empty())
        throw EInvalidGraphic("Invalid bitmap");
    uint16_t bits = 0;
    switch (pixelFormat) {
    case pf1bit:
        bits = 1;
        break;
    case pf4bit:
        bits = 4;
        break;
    case pf8bit:
        bits = 8;
        break;
    case pf16bit:
        bits = 16;
        break;
    case pf24bit:
        bits = 24;
        break;
    case pf32bit:
        bits = 32;
        break;
    default:
        throw EInvalidGraphic("Invalid pixel format");
    }
    std::memset(&header, 0, sizeof(header));
    header.biSize = sizeof(TBitmapInfoHeader);
    header.biWidth = bitmap.Width();
    header.biHeight = bitmap.Height();
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = BI_RGB;
    header.biSizeImage = CheckedCast<uint32_t>(
        CheckedMul<int64_t>(DIBRowBytes(bitmap.Width(), bits, 32), bitmap.Height()));
}

TDIBBitmap::TDIBBitmap() {
    SetDIBSize(480, 320, pf24bit);
}

void TDIBBitmap::SetDIBSize(int32_t width, int32_t height, TPixelFormat pixelFormat) {
    if (pixelFormat != pf16bit && pixelFormat != pf24bit && pixelFormat != pf32bit)
        throw EInvalidGraphic("Invalid pixel format");
    SetSize(width, height);
    FPixelFormat = pixelFormat;
    AllocDIB();
    UpdateDIB();
}

void TDIBBitmap::AllocDIB() {
    TBitmapInfoHeader h;
    InitBitmapInfoHeader(*this, FPixelFormat, h);
    // Header, then 2^bits colours for palette formats, or three masks for BI_BITFIELDS.
    size_t infoSize = sizeof(TBitmapInfoHeader);
    if (h.biBitCount <= 8)
        infoSize += size_t(4) << h.biBitCount;
    if (h.biCompression == BI_BITFIELDS)
        infoSize += 12;
    FInfo.assign(infoSize, 0);
    std::memcpy(FInfo.data(), &h, sizeof(h));
    FImage.assign(h.biSizeImage, 0);
    FImageSize = h.biSizeImage;
}

bool TDIBBitmap::UpdateDIB() {
    if (Empty())
        return false;
    const TBitmapInfoHeader* old = GetBitmapInfo();
    // The bitmap may have been resized directly; the copy must never outgrow its blocks.
    if (FInfo.size() < sizeof(TBitmapInfoHeader) || old->biWidth != Width() ||
        old->biHeight != Height())
        AllocDIB();
    TBitmapInfoHeader h;
    InitBitmapInfoHeader(*this, FPixelFormat, h);
    std::memcpy(FInfo.data(), &h, sizeof(h));

    const int32_t w = Width(), hgt = Height();
    const size_t dibRow = static_cast<size_t>(DIBRowBytes(w, h.biBitCount, 32));
    for (int32_t y = 0; y < hgt; ++y) {
        const uint8_t* src = ScanLine(y);
        uint8_t* dst = FImage.data() + size_t(hgt - 1 - y) * dibRow;
        switch (FPixelFormat) {
        case pf24bit:
            std::memcpy(dst, src, size_t(w) * 3);
            break;
        case pf32bit:
            for (int32_t x = 0; x < w; ++x, src += 3, dst += 4) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                dst[3] = 0;
            }
            break;
        default: // pf16bit: x R5 G5 B5, little-endian words
            for (int32_t x = 0; x < w; ++x, src += 3, dst += 2) {
                const uint16_t v = uint16_t((src[2] >> 3) << 10 | (src[1] >> 3) << 5 | src[0] >> 3);
                dst[0] = uint8_t(v);
                dst[1] = uint8_t(v >> 8);
            }
            break;
        }
    }
    return true;
}
