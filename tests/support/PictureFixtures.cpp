#include "PictureFixtures.h"

#include <turbojpeg.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "MyCommonParams.h"
#include "TestData.h"

std::vector<uint8_t> BuildBmp(const TBmpSpec& s) {
    const bool core = s.HeaderSize == 12;
    const bool inlineMasks = s.Compression == 3 && s.HeaderSize == 40;
    const size_t entry = core ? 3 : 4;
    const size_t tableBytes = s.Palette.size() * entry + (inlineMasks ? 12 : 0);
    const uint32_t offBits = uint32_t(14 + s.HeaderSize + tableBytes);
    const int32_t rowBytes = DIBRowBytes(s.Width, s.Bits, 32);
    const bool rle = s.Compression == 1 || s.Compression == 2;
    const uint32_t imageBytes = rle ? uint32_t(s.RunData.size()) : uint32_t(rowBytes * s.Height);

    // File header: "BM", file size, two reserved words, offset of the pixels.
    std::vector<uint8_t> b = {'B', 'M'};
    PutLE(b, 4, {offBits + imageBytes, 0, offBits});
    if (core) {
        PutLE(b, 4, {12});
        PutLE(b, 2, {uint32_t(s.Width), uint32_t(s.Height), 1, s.Bits});
    } else {
        // Header size, width, height (< 0: top-down), planes and bit count, compression, image
        // size, pixels per metre across and down, colours used and important.
        PutLE(b, 4, {s.HeaderSize, uint32_t(s.Width), uint32_t(s.TopDown ? -s.Height : s.Height)});
        PutLE(b, 2, {1, s.Bits});
        PutLE(b, 4, {s.Compression, imageBytes, 2835, 2835, s.ClrUsed, 0});
        if (s.HeaderSize > 40) {
            // Version 4/5 header: masks of red, green, blue, alpha, then zeros.
            PutLE(b, 4, {s.Masks[0], s.Masks[1], s.Masks[2]});
            b.resize(14 + s.HeaderSize, 0);
        }
    }
    if (inlineMasks)
        PutLE(b, 4, {s.Masks[0], s.Masks[1], s.Masks[2]});
    for (uint32_t c : s.Palette) // blue, green, red (and a reserved byte)
        PutLE(b, core ? 3 : 4, {(c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16});
    if (rle) {
        b.insert(b.end(), s.RunData.begin(), s.RunData.end());
        return b;
    }
    for (int32_t r = 0; r < s.Height; ++r) {
        const int32_t y = s.TopDown ? r : s.Height - 1 - r;
        std::vector<uint8_t> row(size_t(rowBytes), 0);
        for (int32_t x = 0; x < s.Width; ++x) {
            const uint32_t v = s.Pixel(x, y);
            switch (s.Bits) {
            case 1:
            case 4:
            case 8: {
                const int per = 8 / s.Bits;
                const int shift = 8 - s.Bits * (x % per + 1);
                row[size_t(x / per)] |= uint8_t(v << shift);
                break;
            }
            default: {
                // 16 and 32 bits: the word; 24 bits: blue, green, red of the colour.
                const int n = s.Bits / 8;
                const uint32_t w = n == 3 ? (v >> 16 & 0xFF) | (v & 0xFF00) | (v & 0xFF) << 16 : v;
                for (int i = 0; i < n; ++i)
                    row[size_t(x * n + i)] = uint8_t(w >> (8 * i));
            }
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

std::vector<uint8_t> BuildJpeg(const TBitmap& bitmap, int quality, bool chroma420) {
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc =
        tjCompress2(h, bitmap.Bits(), bitmap.Width(), bitmap.RowBytes(), bitmap.Height(), TJPF_BGR,
                    &out, &size, chroma420 ? TJSAMP_420 : TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
    std::vector<uint8_t> bytes;
    if (rc == 0)
        bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(h);
    if (rc != 0)
        throw std::runtime_error("JPEG compression failed");
    return bytes;
}

std::vector<uint8_t> WithoutHuffmanTables(const std::vector<uint8_t>& jpeg) {
    constexpr uint8_t Dht = 0xC4, Sos = 0xDA;
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + std::min<size_t>(2, jpeg.size()));
    size_t i = 2;
    // Marker segments up to the scan: 0xFF, marker, 16-bit big-endian length (itself included).
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF && jpeg[i + 1] != Sos) {
        const size_t end = std::min(jpeg.size(), i + 2 + (size_t(jpeg[i + 2]) << 8 | jpeg[i + 3]));
        if (jpeg[i + 1] != Dht)
            out.insert(out.end(), jpeg.begin() + long(i), jpeg.begin() + long(end));
        i = end;
    }
    out.insert(out.end(), jpeg.begin() + long(std::min(i, jpeg.size())), jpeg.end());
    return out;
}

std::vector<uint8_t> BuildGif(int32_t width, int32_t height, const std::vector<uint32_t>& colors,
                              const std::vector<uint8_t>& indices, int transparent) {
    int tableBits = 1;
    while ((size_t(1) << tableBits) < colors.size())
        ++tableBits;
    const int minCode = tableBits < 2 ? 2 : tableBits;

    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a'};
    // Logical screen: width, height, global table flag with its size, background, aspect.
    PutLE(b, 2, {uint32_t(width), uint32_t(height)});
    b.insert(b.end(), {uint8_t(0x80 | 0x70 | (tableBits - 1)), 0, 0});
    for (size_t i = 0; i < (size_t(1) << tableBits); ++i) // red, green, blue
        PutLE(b, 3, {i < colors.size() ? colors[i] : 0});
    if (transparent >= 0) {
        // Graphic control extension: size 4, flags (transparency), delay, index, terminator.
        const uint8_t gce[] = {0x21, 0xF9, 4, 0x01, 0, 0, uint8_t(transparent), 0};
        b.insert(b.end(), gce, gce + sizeof(gce));
    }
    // Image descriptor: position, size, no local table, not interlaced.
    b.push_back(0x2C);
    PutLE(b, 2, {0, 0, uint32_t(width), uint32_t(height)});
    b.push_back(0);

    // LZW data made of literal codes only: a clear code comes back before the decoder's table
    // would need a wider code, so every code has the starting width.
    const uint32_t clear = 1u << minCode, eoi = clear + 1;
    const int width0 = minCode + 1;
    const size_t perRun = (size_t(1) << minCode) - 3 > 0 ? (size_t(1) << minCode) - 3 : 1;
    std::vector<uint8_t> packed;
    uint32_t acc = 0;
    int nbits = 0;
    auto emit = [&](uint32_t code) {
        acc |= code << nbits;
        nbits += width0;
        while (nbits >= 8) {
            packed.push_back(uint8_t(acc));
            acc >>= 8;
            nbits -= 8;
        }
    };
    for (size_t i = 0; i < indices.size(); ++i) {
        if (i % perRun == 0)
            emit(clear);
        emit(indices[i]);
    }
    emit(eoi);
    if (nbits > 0)
        packed.push_back(uint8_t(acc));

    b.push_back(uint8_t(minCode));
    for (size_t at = 0; at < packed.size(); at += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - at);
        b.push_back(uint8_t(n));
        b.insert(b.end(), packed.begin() + long(at), packed.begin() + long(at + n));
    }
    b.push_back(0);    // block terminator
    b.push_back(0x3B); // trailer
    return b;
}

TBitmap MakeQuarters(int32_t width, int32_t height, const uint32_t colors[4]) {
    TBitmap bmp(width, height);
    TCanvas& c = bmp.Canvas();
    const int32_t hw = width / 2, hh = height / 2;
    const TRect parts[4] = {Rect(0, 0, hw, hh), Rect(hw, 0, width, hh), Rect(0, hh, hw, height),
                            Rect(hw, hh, width, height)};
    for (int i = 0; i < 4; ++i) {
        c.Brush.Color = colors[i];
        c.FillRect(parts[i]);
    }
    return bmp;
}

void SaveBytes(const std::string& fileName, const std::vector<uint8_t>& bytes) {
    std::ofstream out(fileName, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
