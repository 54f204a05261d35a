// Fuzz target for the DIB draw: a bitmap header, colour bytes and bits from the input, drawn at
// the picture's own size (when small) and stretched onto a small bitmap.
//   Input: width (4 bytes), height (4), bit count (2), compression (4), colours used (4),
//   colour byte count (2), the colour bytes, then the bits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "MyDibDraw.h"

namespace {
template <typename T> T Take(const uint8_t*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t head = 4 + 4 + 2 + 4 + 4 + 2;
    if (size < head)
        return 0;
    const uint8_t* p = data;
    TDibFormat format;
    format.Width = Take<int32_t>(p);
    format.Height = Take<int32_t>(p);
    format.BitCount = Take<uint16_t>(p);
    format.Compression = Take<uint32_t>(p);
    format.ClrUsed = Take<uint32_t>(p);
    const size_t colors = std::min<size_t>(Take<uint16_t>(p), size - head);
    const uint8_t* bits = p + colors;
    const size_t bitsSize = size - head - colors;

    TDibDraw draw;
    TBitmap small(7, 5);
    draw.Draw(format, p, colors, bits, bitsSize, small);
    const int64_t w = format.Width, h = format.Height < 0 ? -int64_t(format.Height) : format.Height;
    if (w > 0 && h > 0 && w <= 512 && h <= 512) {
        TBitmap same{int32_t(w), int32_t(h)};
        draw.Draw(format, p, colors, bits, bitsSize, same);
    }
    return 0;
}
