// The frame bitmap a project renders into for export: a TBitmap that also keeps a
// device-independent copy of its pixels (a bitmap info block and bottom-up rows), which the
// video compressor and the movie writers take as it is.
#pragma once

#include <cstdint>
#include <vector>

#include "MyCommonParams.h"
#include "MyGraphics.h"

// Fills header for bitmap as a device-independent bitmap of pixelFormat: size 40, the bitmap's
// width and height (positive: bottom-up), planes 1, BI_RGB, the bit count of the format and the
// image size (rows padded to 4 bytes). An empty bitmap raises EInvalidGraphic "Invalid bitmap";
// pfDevice, pf15bit and pfCustom raise EInvalidGraphic "Invalid pixel format".
void InitBitmapInfoHeader(const TBitmap& bitmap, TPixelFormat pixelFormat,
                          TBitmapInfoHeader& header);

// Not to be deleted through a TBitmap pointer (TBitmap has no virtual destructor).
class TDIBBitmap : public TBitmap {
public:
    // A 480 x 320, 24-bit frame with its copy allocated and filled.
    TDIBBitmap();
    TDIBBitmap(const TDIBBitmap&) = delete;
    TDIBBitmap& operator=(const TDIBBitmap&) = delete;

    // Resizes the bitmap, sizes the copy's blocks for the new frame and fills them.
    // The copy can be 16-bit (5-5-5), 24-bit or 32-bit; other formats raise EInvalidGraphic.
    void SetDIBSize(int32_t width, int32_t height, TPixelFormat pixelFormat);
    // Copies the bitmap's pixels into the blocks; called once per frame after drawing. The
    // blocks are reused; they only grow or shrink when the bitmap's size changed since.
    bool UpdateDIB();

    TPixelFormat GetPixelFormat() const { return FPixelFormat; }
    // The info block: the header (and, were the format to need them, colours or masks).
    const TBitmapInfoHeader* GetBitmapInfo() const {
        return reinterpret_cast<const TBitmapInfoHeader*>(FInfo.data());
    }
    const uint8_t* GetInfoPtr() const { return FInfo.data(); }
    uint32_t GetInfoSize() const { return static_cast<uint32_t>(FInfo.size()); }
    // The bits block: rows bottom-up, each padded to 4 bytes.
    const uint8_t* GetBitsPtr() const { return FImage.data(); }
    uint8_t* GetBitsPtr() { return FImage.data(); }
    uint32_t GetImageSize() const { return FImageSize; }

private:
    void AllocDIB();

    TPixelFormat FPixelFormat = pf24bit;
    std::vector<uint8_t> FInfo;
    std::vector<uint8_t> FImage;
    uint32_t FImageSize = 0;
};
