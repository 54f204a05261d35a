// DIB draw: puts device-independent bitmaps (1, 4 and 8 bits with a colour table, 16, 24 and
// 32 bits, stored bottom-up or top-down) and decoded video pictures onto our 24-bit bitmaps,
// stretched over the whole target. DIB pixels are widened and stretched (nearest neighbour) by
// our own code; decoded video is converted by libswscale and stretched by the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "MyGraphics.h"
#include "MyRiffFormat.h"

struct AVFrame;
struct SwsContext;

// The fields of a bitmap header that say how the bits are laid out.
struct TDibFormat {
    int32_t Width = 0;
    int32_t Height = 0; // negative: rows stored top-down
    uint16_t BitCount = 0;
    uint32_t Compression = 0; // 0 plain RGB, 3 bit fields (masks in the colour bytes), or a FOURCC
    uint32_t ClrUsed = 0;     // colour table entries; 0 means 2^BitCount for 8 bits or fewer
};

// Bytes of one stored row (padded to 4 bytes) and of the whole picture; -1 when the size or bit
// count cannot describe a picture, or the numbers do not fit in 32 bits.
int64_t DibRowBytes(const TDibFormat& format);
int64_t DibImageBytes(const TDibFormat& format);

// One libswscale conversion kept between calls and rebuilt only when the source size or
// format or the target size changes, so drawing frame after frame allocates nothing.
class TPictureScaler {
public:
    TPictureScaler() = default;
    ~TPictureScaler();
    TPictureScaler(const TPictureScaler&) = delete;
    TPictureScaler& operator=(const TPictureScaler&) = delete;

    // Scales a picture in libswscale pixel format pixFmt (an AVPixelFormat) over the whole of
    // target. planes and strides as libswscale takes them (a negative stride walks upwards).
    // fullRange and colorSpace (an AVColorSpace) matter for YUV sources only. False when the
    // conversion cannot be set up.
    bool Scale(const uint8_t* const planes[4], const int strides[4], int width, int height,
               int pixFmt, bool fullRange, int colorSpace, TBitmap& target);

private:
    SwsContext* Ctx = nullptr;
    int SrcWidth = 0, SrcHeight = 0, SrcFormat = -1, DstWidth = 0, DstHeight = 0;
    bool FullRange = false;
    int ColorSpace = -1;
};

class TDibDraw {
public:
    // Draws a packed DIB over the whole of target. colors are the bytes behind the header (the
    // colour table, or three masks for bit fields); bits hold the rows as the format stores
    // them. False, with target untouched, for a layout we do not draw (run-length coding, odd
    // masks) or bits shorter than the picture.
    bool Draw(const TDibFormat& format, const uint8_t* colors, size_t colorsSize,
              const uint8_t* bits, size_t bitsSize, TBitmap& target);
    // Draws a picture a decoder gave over the whole of target, stretched nearest neighbour when
    // the sizes differ.
    bool DrawPicture(const AVFrame& picture, TBitmap& target);

private:
    // How Expand reads a pixel: an index of 1, 4 or 8 bits, or 16 bits of 5-5-5 or 5-6-5.
    enum class TPacking { Index1, Index4, Index8, Rgb555, Rgb565 };
    // Pixels become B, G, R rows in Expanded, top row first; table holds the colours of index
    // pixels.
    void Expand(const uint8_t* bits, int64_t stride, int width, int height, TPacking packing,
                const uint8_t* table = nullptr, size_t entries = 0);
    bool ScaleExpanded(int width, int height, TBitmap& target);
    // Nearest-neighbour stretch of B, G, R(, unused) pixels over the whole of target, so every
    // pixel drawn is one of the source's.
    bool Stretch(const uint8_t* top, int64_t stride, int bytesPerPixel, int width, int height,
                 TBitmap& target);

    TPictureScaler Scaler;
    // A decoded picture in our pixel layout at its own size, before it is stretched.
    TBitmap Converted;
    std::vector<uint8_t> Expanded;
    size_t ExpandedStride = 0;
    // Source byte offset of each target column, kept while sizes stay the same.
    std::vector<size_t> Columns;
    int ColumnsFor[3] = {0, 0, 0}; // source width, target width, bytes per pixel
};
