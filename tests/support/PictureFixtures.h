// Test fixture makers for still pictures, written byte by byte (BMP, GIF) or through the JPEG
// library's compressor, so tests control every header field and can damage the result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MyGraphics.h"

struct TBmpSpec {
    int32_t Width = 4;
    int32_t Height = 3;
    uint16_t Bits = 24;
    bool TopDown = false;
    uint32_t HeaderSize = 40; // 12 writes a core header
    uint32_t Compression = 0; // 0 BI_RGB, 1 BI_RLE8, 2 BI_RLE4, 3 BI_BITFIELDS
    // BI_RLE8 and BI_RLE4: the coded pixel bytes, written in place of the rows.
    std::vector<uint8_t> RunData{};
    uint32_t Masks[3] = {0, 0, 0};
    // Colours 0x00BBGGRR, written B, G, R, 0 (B, G, R with a core header).
    std::vector<uint32_t> Palette{};
    uint32_t ClrUsed = 0;
    // Raw value at (x, y), y from the top: a palette index, a 16- or 32-bit word, or a
    // 0x00BBGGRR colour for 24 bits.
    std::function<uint32_t(int32_t x, int32_t y)> Pixel = [](int32_t, int32_t) { return 0u; };
};

std::vector<uint8_t> BuildBmp(const TBmpSpec& spec);

// A JPEG of bitmap at quality, 4:4:4 or with chroma halved both ways (4:2:0).
std::vector<uint8_t> BuildJpeg(const TBitmap& bitmap, int quality = 95, bool chroma420 = false);

// The JPEG with every Huffman table segment (DHT) before the scan left out, as many cameras
// store Motion JPEG frames: decoders then use the standard tables.
std::vector<uint8_t> WithoutHuffmanTables(const std::vector<uint8_t>& jpeg);

// A GIF87a/89a with one frame: the colours (0x00BBGGRR, at most 256) and one index per pixel,
// rows top-down. transparent >= 0 adds a graphic control block marking that index.
std::vector<uint8_t> BuildGif(int32_t width, int32_t height, const std::vector<uint32_t>& colors,
                              const std::vector<uint8_t>& indices, int transparent = -1);

// A bitmap of four quarters: top left, top right, bottom left, bottom right.
TBitmap MakeQuarters(int32_t width, int32_t height, const uint32_t colors[4]);

void SaveBytes(const std::string& fileName, const std::vector<uint8_t>& bytes);
