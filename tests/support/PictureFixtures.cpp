#include "PictureFixtures.h"

#include <turbojpeg.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "MyCommonParams.h"

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void PutBGR(std::vector<uint8_t>& b, uint32_t color) {
    b.push_back(uint8_t(color >> 16)); // blue
    b.push_back(uint8_t(color >> 8));  // green
    b.push_back(uint8_t(color));       // red
}

} // namespace

std::vector<uint8_t> BuildBmp(const TBmpSpec& s) {
    const bool core = s.HeaderSize == 12;
    const bool inlineMasks = s.Compression == 3 && s.HeaderSize == 40;
    const size_t entry = core ? 3 : 4;
    const size_t tableBytes = s.Palette.size() * entry + (inlineMasks ? 12 : 0);
    const uint32_t offBits = uint32_t(14 + s.HeaderSize + tableBytes);
    const int32_t rowBytes = DIBRowBytes(s.Width, s.Bits, 32);
    const uint32_t imageBytes = uint32_t(rowBytes * s.Height);

    std::vector<uint8_t> b;
    // BITMAPFILEHEADER
    b.push_back('B');
    b.push_back('M');
    Put32(b, offBits + imageBytes); // file size
    Put32(b, 0);                    // two reserved words
    Put32(b, offBits);              // offset of the pixels
    if (core) {
        Put32(b, 12);       // header size
        Put16(b, s.Width);  // width
        Put16(b, s.Height); // height
        Put16(b, 1);        // planes
        Put16(b, s.Bits);   // bit count
    } else {
        Put32(b, s.HeaderSize);                               // header size
        Put32(b, uint32_t(s.Width));                          // width
        Put32(b, uint32_t(s.TopDown ? -s.Height : s.Height)); // height, < 0: top-down
        Put16(b, 1);                                          // planes
        Put16(b, s.Bits);                                     // bit count
        Put32(b, s.Compression);                              // compression
        Put32(b, imageBytes);                                 // image size
        Put32(b, 2835);                                       // x pixels per metre
        Put32(b, 2835);                                       // y pixels per metre
        Put32(b, s.ClrUsed);                                  // colours used
        Put32(b, 0);                                          // colours important
        if (s.HeaderSize > 40) {
            // Version 4/5 header: masks of red, green, blue, alpha, then zeros.
            for (int i = 0; i < 3; ++i)
                Put32(b, s.Masks[i]);
            b.resize(14 + s.HeaderSize, 0);
        }
    }
    if (inlineMasks)
        for (int i = 0; i < 3; ++i)
            Put32(b, s.Masks[i]);
    for (uint32_t c : s.Palette) {
        PutBGR(b, c);
        if (!core)
            b.push_back(0); // reserved
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
            case 16:
                row[size_t(x) * 2] = uint8_t(v);
                row[size_t(x) * 2 + 1] = uint8_t(v >> 8);
                break;
            case 24:
                row[size_t(x) * 3] = uint8_t(v >> 16);
                row[size_t(x) * 3 + 1] = uint8_t(v >> 8);
                row[size_t(x) * 3 + 2] = uint8_t(v);
                break;
            default:
                for (int i = 0; i < 4; ++i)
                    row[size_t(x) * 4 + size_t(i)] = uint8_t(v >> (8 * i));
                break;
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

std::vector<uint8_t> BuildJpeg(const TBitmap& bitmap, int quality) {
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(h, bitmap.Bits(), bitmap.Width(), bitmap.RowBytes(), bitmap.Height(),
                               TJPF_BGR, &out, &size, TJSAMP_444, quality, TJFLAG_ACCURATEDCT);
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
    Put16(b, uint32_t(width));
    Put16(b, uint32_t(height));
    b.push_back(uint8_t(0x80 | 0x70 | (tableBits - 1)));
    b.push_back(0);
    b.push_back(0);
    for (size_t i = 0; i < (size_t(1) << tableBits); ++i) {
        const uint32_t c = i < colors.size() ? colors[i] : 0;
        b.push_back(uint8_t(c));       // red
        b.push_back(uint8_t(c >> 8));  // green
        b.push_back(uint8_t(c >> 16)); // blue
    }
    if (transparent >= 0) {
        // Graphic control extension: size 4, flags (transparency), delay, index, terminator.
        const uint8_t gce[] = {0x21, 0xF9, 4, 0x01, 0, 0, uint8_t(transparent), 0};
        b.insert(b.end(), gce, gce + sizeof(gce));
    }
    // Image descriptor: position, size, no local table, not interlaced.
    b.push_back(0x2C);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, uint32_t(width));
    Put16(b, uint32_t(height));
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
