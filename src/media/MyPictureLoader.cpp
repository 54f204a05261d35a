#include "MyPictureLoader.h"

#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "MyByteOrder.h"
#include "MyCommonParams.h"
#include "MyGIFReader.h"
#include "MyRiffIO.h"

TPictureKind PictureKindOf(const std::string& fileName) {
    const size_t slash = fileName.find_last_of('/');
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return TPictureKind::None;
    std::string ext = fileName.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    if (ext == ".jpg" || ext == ".jpeg")
        return TPictureKind::Jpeg;
    if (ext == ".bmp")
        return TPictureKind::Bmp;
    if (ext == ".gif")
        return TPictureKind::Gif;
    return TPictureKind::None;
}

void CheckPictureSize(int64_t width, int64_t height, const std::string& fileName,
                      int64_t widthOffset, int64_t heightOffset) {
    // The error points at the width when it is the bad value (or the pixel count is too large),
    // else at the height.
    const bool badWidth = width <= 0 || width > MaxPictureSide;
    const bool badHeight = height <= 0 || height > MaxPictureSide;
    const int64_t at = badWidth || !badHeight ? widthOffset : heightOffset;
    if (width <= 0 || height <= 0)
        throw EReadError("Picture has no pixels", fileName, at);
    if (badWidth || badHeight || width * height > MaxPicturePixels)
        throw EReadError("Picture too large: " + std::to_string(width) + " x " +
                             std::to_string(height),
                         fileName, at);
}

// ---- BMP ----------------------------------------------------------------------------------------

namespace {

// One colour channel of a BI_BITFIELDS mask, scaled to 8 bits.
struct TMaskChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;

    explicit TMaskChannel(uint32_t mask) : Mask(mask) {
        if (mask == 0)
            return;
        Shift = std::countr_zero(mask);
        Bits = 32 - std::countl_zero(mask >> Shift);
    }
    uint8_t Get(uint32_t v) const {
        if (Bits == 0)
            return 0;
        const uint64_t val = (v & Mask) >> Shift;
        if (Bits >= 8)
            return uint8_t(val >> (Bits - 8));
        const uint64_t max = (uint64_t(1) << Bits) - 1;
        return uint8_t((val * 255 + max / 2) / max);
    }
};

struct TBmpLayout {
    int32_t Width = 0;
    int32_t Height = 0;
    bool TopDown = false;
    uint16_t Bits = 0;
    uint32_t Masks[3] = {0, 0, 0}; // red, green, blue
    std::vector<uint8_t> Palette;  // B, G, R per entry
    size_t PixelOffset = 0;
    size_t RowBytes = 0;
    uint32_t Compression = BI_RGB;
};

EReadError BmpError(const std::string& what, const std::string& fileName, size_t offset) {
    return EReadError(what, fileName, static_cast<int64_t>(offset));
}

void ParseBmp(const uint8_t* d, size_t n, TBmpLayout& l, const std::string& file) {
    // BITMAPFILEHEADER: "BM", file size, two reserved words, offset of the pixels.
    if (n < 2 || d[0] != 'B' || d[1] != 'M')
        throw BmpError("Not a BMP file", file, 0);
    if (n < 18)
        throw BmpError("Truncated BMP file", file, n);
    const uint32_t offBits = Le32(d + 10);
    const uint32_t hs = Le32(d + 14);
    const bool core = hs == 12;
    if (!core && (hs < 40 || hs > 1024))
        throw BmpError("Unsupported BMP header size " + std::to_string(hs), file, 14);
    if (n - 14 < hs)
        throw BmpError("Truncated BMP header", file, n);
    const uint8_t* h = d + 14;

    int64_t width, height;
    uint32_t compression = BI_RGB, clrUsed = 0;
    if (core) {
        // BITMAPCOREHEADER: 16-bit width and height, planes, bit count.
        width = Le16(h + 4);
        height = Le16(h + 6);
        l.Bits = Le16(h + 10);
    } else {
        // BITMAPINFOHEADER: signed width and height (negative height: rows top-down), planes,
        // bit count, compression, image size, resolution, colours used, colours important.
        width = int32_t(Le32(h + 4));
        height = int32_t(Le32(h + 8));
        l.Bits = Le16(h + 14);
        compression = Le32(h + 16);
        clrUsed = Le32(h + 32);
    }
    l.TopDown = height < 0;
    if (height < 0)
        height = -height;
    CheckPictureSize(width, height, file, 18, core ? 20 : 22);
    l.Width = int32_t(width);
    l.Height = int32_t(height);

    if (l.Bits != 1 && l.Bits != 4 && l.Bits != 8 && l.Bits != 16 && l.Bits != 24 && l.Bits != 32)
        throw BmpError("Unsupported BMP bit count " + std::to_string(l.Bits), file, 14);
    const bool rle =
        (compression == BI_RLE8 && l.Bits == 8) || (compression == BI_RLE4 && l.Bits == 4);
    if (compression == BI_BITFIELDS ? (l.Bits != 16 && l.Bits != 32)
                                    : compression != BI_RGB && !rle)
        throw BmpError("Unsupported BMP compression " + std::to_string(compression), file, 14);
    // Run-length coded pictures are stored bottom-up only.
    if (rle && l.TopDown)
        throw BmpError("Run-length coded BMP stored top-down", file, 14 + 8);
    l.Compression = compression;

    size_t tableStart = 14 + size_t(hs);
    if (compression == BI_BITFIELDS) {
        // Masks of red, green and blue: inside a version 2 or later header, else right after it.
        size_t at = 14 + 40;
        if (hs == 40)
            tableStart += 12;
        if (n < at + 12)
            throw BmpError("Truncated BMP colour masks", file, n);
        for (int i = 0; i < 3; ++i)
            l.Masks[i] = Le32(d + at + 4 * i);
    } else if (l.Bits == 16) {
        l.Masks[0] = 0x7C00, l.Masks[1] = 0x03E0, l.Masks[2] = 0x001F;
    } else if (l.Bits == 32) {
        l.Masks[0] = 0xFF0000, l.Masks[1] = 0x00FF00, l.Masks[2] = 0x0000FF;
    }

    if (l.Bits <= 8) {
        const size_t entry = core ? 3 : 4;
        const size_t maxCount = size_t(1) << l.Bits;
        size_t count = clrUsed == 0 || clrUsed > maxCount ? maxCount : clrUsed;
        // The table ends where the pixels begin; writers that leave colours out of a full-size
        // table are common, so take what is there.
        const size_t end = offBits != 0 ? std::min<size_t>(offBits, n) : n;
        if (end < tableStart || end - tableStart < entry)
            throw BmpError("BMP colour table missing", file, tableStart);
        count = std::min(count, (end - tableStart) / entry);
        l.Palette.assign(maxCount * 3, 0); // indices past the table read as black
        for (size_t i = 0; i < count; ++i)
            std::memcpy(&l.Palette[i * 3], d + tableStart + i * entry, 3);
        tableStart += count * entry;
    }

    l.PixelOffset = offBits == 0 ? tableStart : offBits;
    if (l.PixelOffset < 14 + size_t(hs))
        throw BmpError("BMP pixel offset inside the header", file, 10);
    l.RowBytes = size_t(DIBRowBytes(l.Width, l.Bits, 32));
    if (rle) {
        // Runs are checked as they are decoded; only the start must lie in the file.
        if (l.PixelOffset > n)
            throw BmpError("Truncated BMP pixel data", file, n);
        return;
    }
    // Every pixel byte must be there; only the last row's padding may be missing.
    const uint64_t lastRow = (uint64_t(l.Width) * l.Bits + 7) / 8;
    const uint64_t need = uint64_t(l.RowBytes) * uint64_t(l.Height - 1) + lastRow;
    if (l.PixelOffset > n || n - l.PixelOffset < need)
        throw BmpError("Truncated BMP pixel data", file, n);
}

// Expands RLE8 or RLE4 runs into one palette index per pixel, bottom row first. Pixels the runs
// never reach (skipped by a delta or an early end) keep index 0; pixels a run puts beyond the
// right edge are dropped, as other readers do. Runs that leave the file are an error.
std::vector<uint8_t> ExpandRle(const uint8_t* d, size_t n, const TBmpLayout& l,
                               const std::string& file) {
    const size_t w = size_t(l.Width), h = size_t(l.Height);
    std::vector<uint8_t> idx(w * h, 0);
    const bool four = l.Compression == BI_RLE4;
    size_t x = 0, y = 0, p = l.PixelOffset;
    auto put = [&](uint8_t v) {
        if (x < w)
            idx[y * w + x] = v;
        ++x;
    };
    while (y < h) {
        if (p + 2 > n)
            throw BmpError("Truncated BMP run data", file, p);
        const uint8_t count = d[p], value = d[p + 1];
        p += 2;
        if (count > 0) {
            // An encoded run: count pixels of one index, or of two alternating nibbles.
            for (unsigned i = 0; i < count; ++i)
                put(four ? uint8_t((i & 1) ? value & 0x0F : value >> 4) : value);
        } else if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // delta: move right and up
            if (p + 2 > n)
                throw BmpError("Truncated BMP run data", file, p);
            x += d[p];
            y += d[p + 1];
            p += 2;
        } else { // absolute: value literal pixels, padded to a whole word
            const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
            if (n - p < bytes)
                throw BmpError("Truncated BMP run data", file, p);
            for (unsigned i = 0; i < value; ++i)
                put(four ? uint8_t((i & 1) ? d[p + i / 2] & 0x0F : d[p + i / 2] >> 4) : d[p + i]);
            p += bytes + (bytes & 1);
        }
    }
    return idx;
}

void DecodeRle(const uint8_t* d, size_t n, const TBmpLayout& l, TBitmap& bitmap,
               const std::string& file) {
    const std::vector<uint8_t> idx = ExpandRle(d, n, l, file);
    bitmap.SetSize(l.Width, l.Height);
    const size_t w = size_t(l.Width);
    for (int32_t row = 0; row < l.Height; ++row) {
        const uint8_t* s = idx.data() + size_t(row) * w;
        uint8_t* o = bitmap.ScanLine(l.Height - 1 - row);
        for (size_t x = 0; x < w; ++x, o += 3)
            std::memcpy(o, &l.Palette[size_t(s[x]) * 3], 3);
    }
}

void DecodeBmp(const uint8_t* d, const TBmpLayout& l, TBitmap& bitmap) {
    bitmap.SetSize(l.Width, l.Height);
    const TMaskChannel r(l.Masks[0]), g(l.Masks[1]), b(l.Masks[2]);
    const bool plain32 =
        l.Bits == 32 && l.Masks[0] == 0xFF0000 && l.Masks[1] == 0x00FF00 && l.Masks[2] == 0x0000FF;
    const int32_t w = l.Width;
    for (int32_t row = 0; row < l.Height; ++row) {
        const uint8_t* s = d + l.PixelOffset + size_t(row) * l.RowBytes;
        uint8_t* o = bitmap.ScanLine(l.TopDown ? row : l.Height - 1 - row);
        switch (l.Bits) {
        case 1:
        case 4:
        case 8: {
            const int bits = l.Bits;
            const int perByte = 8 / bits;
            const int mask = (1 << bits) - 1;
            for (int32_t x = 0; x < w; ++x, o += 3) {
                const int shift = 8 - bits * (x % perByte + 1);
                const size_t idx = size_t((s[x / perByte] >> shift) & mask);
                std::memcpy(o, &l.Palette[idx * 3], 3);
            }
            break;
        }
        case 24:
            std::memcpy(o, s, size_t(w) * 3);
            break;
        case 16:
            for (int32_t x = 0; x < w; ++x, o += 3, s += 2) {
                const uint32_t v = Le16(s);
                o[0] = b.Get(v), o[1] = g.Get(v), o[2] = r.Get(v);
            }
            break;
        default: // 32
            for (int32_t x = 0; x < w; ++x, o += 3, s += 4) {
                if (plain32) {
                    o[0] = s[0], o[1] = s[1], o[2] = s[2];
                } else {
                    const uint32_t v = Le32(s);
                    o[0] = b.Get(v), o[1] = g.Get(v), o[2] = r.Get(v);
                }
            }
            break;
        }
    }
}

std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
    std::vector<uint8_t> bytes;
    switch (ReadRegularFile(fileName, MaxPictureFileBytes, bytes)) {
    case TReadFileResult::Ok:
        return bytes;
    case TReadFileResult::NotAFile:
        throw EReadError("Cannot open file " + fileName, fileName);
    case TReadFileResult::TooLarge:
        throw EReadError("Picture file too large", fileName);
    default:
        throw EReadError("Cannot read file " + fileName, fileName);
    }
}

} // namespace

void ReadBmp(const uint8_t* data, size_t size, TBitmap& bitmap, const std::string& fileName) {
    TBmpLayout l;
    ParseBmp(data, size, l, fileName);
    if (l.Compression == BI_RLE8 || l.Compression == BI_RLE4)
        DecodeRle(data, size, l, bitmap, fileName);
    else
        DecodeBmp(data, l, bitmap);
}

void ReadBmpSize(const uint8_t* data, size_t size, int32_t& width, int32_t& height,
                 const std::string& fileName) {
    TBmpLayout l;
    ParseBmp(data, size, l, fileName);
    width = l.Width;
    height = l.Height;
}

// ---- TPictureLoader -----------------------------------------------------------------------------

TPictureLoader::TPictureLoader() : FDecompressor(tjInitDecompress()) {}

TPictureLoader::~TPictureLoader() {
    if (FDecompressor)
        tjDestroy(FDecompressor);
}

void TPictureLoader::ReadJpeg(const uint8_t* data, size_t size, TBitmap& bitmap, int32_t fitWidth,
                              int32_t fitHeight, const std::string& fileName) {
    if (!FDecompressor)
        throw EReadError("JPEG decoder not available", fileName);
    if (size > static_cast<size_t>(MaxPictureFileBytes))
        throw EReadError("Picture file too large", fileName);
    const auto len = static_cast<unsigned long>(size);
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    if (size == 0 || tjDecompressHeader3(FDecompressor, data, len, &w, &h, &subsamp, &colorspace))
        throw EReadError(std::string("Invalid JPEG file: ") + tjGetErrorStr2(FDecompressor),
                         fileName);
    CheckPictureSize(w, h, fileName);

    // The smallest scale the decoder offers that still covers the fit size: a large photo
    // shown in a small frame then costs a fraction of a full decode.
    tjscalingfactor scale{1, 1};
    if (fitWidth > 0 && fitHeight > 0) {
        int count = 0;
        if (const tjscalingfactor* f = tjGetScalingFactors(&count)) {
            for (int i = 0; i < count; ++i) {
                if (f[i].num >= f[i].denom)
                    continue;
                const int sw = TJSCALED(w, f[i]), sh = TJSCALED(h, f[i]);
                if (sw >= fitWidth && sh >= fitHeight && sw < TJSCALED(w, scale))
                    scale = f[i];
            }
        }
    }
    const int sw = TJSCALED(w, scale), sh = TJSCALED(h, scale);
    bitmap.SetSize(sw, sh);
    // A truncated or damaged stream only raises warnings in the decoder; stop at the first one
    // so such a file fails instead of showing grey. Scan limits guard against progressive
    // files built to take forever.
    if (tjDecompress2(FDecompressor, data, len, bitmap.Bits(), sw, bitmap.RowBytes(), sh, TJPF_BGR,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
        const std::string why = tjGetErrorStr2(FDecompressor);
        bitmap.SetSize(0, 0);
        throw EReadError("Invalid JPEG file: " + why, fileName);
    }
}

void TPictureLoader::LoadFromMemory(const uint8_t* data, size_t size, TPictureKind kind,
                                    TBitmap& bitmap, int32_t fitWidth, int32_t fitHeight,
                                    const std::string& fileName) {
    switch (kind) {
    case TPictureKind::Jpeg:
        ReadJpeg(data, size, bitmap, fitWidth, fitHeight, fileName);
        break;
    case TPictureKind::Bmp:
        ReadBmp(data, size, bitmap, fileName);
        break;
    case TPictureKind::Gif: {
        TGIFBitmap gif;
        gif.LoadFromMemory(data, size);
        bitmap.SetSize(gif.Width(), gif.Height());
        for (int32_t y = 0; y < gif.Height(); ++y)
            std::memcpy(bitmap.ScanLine(y), gif.ScanLine(y), size_t(gif.Width()) * 3);
        break;
    }
    default:
        throw EReadError("No picture loader for " + fileName, fileName);
    }
}

void TPictureLoader::LoadFromFile(const std::string& fileName, TBitmap& bitmap, int32_t fitWidth,
                                  int32_t fitHeight) {
    const TPictureKind kind = PictureKindOf(fileName);
    if (kind == TPictureKind::None)
        throw EReadError("No picture loader for " + fileName, fileName);
    const std::vector<uint8_t> bytes = ReadWholeFile(fileName);
    try {
        LoadFromMemory(bytes.data(), bytes.size(), kind, bitmap, fitWidth, fitHeight, fileName);
    } catch (EReadError& e) {
        e.FileName = fileName;
        throw;
    }
}

bool TPictureLoader::ReadSize(const std::string& fileName, int32_t& width, int32_t& height) {
    try {
        switch (PictureKindOf(fileName)) {
        case TPictureKind::Gif:
            return TGIFBitmap::ReadSize(fileName, width, height);
        case TPictureKind::Bmp: {
            const std::vector<uint8_t> bytes = ReadWholeFile(fileName);
            ReadBmpSize(bytes.data(), bytes.size(), width, height, fileName);
            return true;
        }
        case TPictureKind::Jpeg: {
            const std::vector<uint8_t> bytes = ReadWholeFile(fileName);
            int w = 0, h = 0, subsamp = 0, colorspace = 0;
            if (!FDecompressor || bytes.empty() ||
                tjDecompressHeader3(FDecompressor, bytes.data(),
                                    static_cast<unsigned long>(bytes.size()), &w, &h, &subsamp,
                                    &colorspace))
                return false;
            CheckPictureSize(w, h, fileName);
            width = w;
            height = h;
            return true;
        }
        default:
            return false;
        }
    } catch (const Exception&) {
        return false;
    }
}
