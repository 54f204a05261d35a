#include "MyDibDraw.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "MyByteOrder.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// libswscale wants the full-range YUV formats named by their plain twins with the range given
// apart; it warns about the old names otherwise.
AVPixelFormat PlainYuvFormat(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

// A decoder may hand out numbers its enums do not name (a crafted stream gives colour space
// 187); such a field is read as the integer it is stored as, never loaded as the enum.
template <class TEnum> int StoredNumber(const TEnum& field) {
    static_assert(sizeof(TEnum) == sizeof(int));
    int value;
    std::memcpy(&value, &field, sizeof value);
    return value;
}

} // namespace

int64_t DibRowBytes(const TDibFormat& format) {
    switch (format.BitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return -1;
    }
    if (format.Width <= 0 || format.Height == 0)
        return -1;
    const int64_t row = (int64_t(format.Width) * format.BitCount + 31) / 32 * 4;
    return row > INT32_MAX ? -1 : row;
}

int64_t DibImageBytes(const TDibFormat& format) {
    const int64_t row = DibRowBytes(format);
    if (row < 0)
        return -1;
    const int64_t rows = format.Height < 0 ? -int64_t(format.Height) : int64_t(format.Height);
    const int64_t image = row * rows; // both below 2^31, so no overflow
    return image > INT32_MAX ? -1 : image;
}

// ---- TPictureScaler -----------------------------------------------------------------------------

TPictureScaler::~TPictureScaler() {
    sws_freeContext(Ctx);
}

bool TPictureScaler::Scale(const uint8_t* const planes[4], const int strides[4], int width,
                           int height, int pixFmt, bool fullRange, int colorSpace,
                           TBitmap& target) {
    if (width <= 0 || height <= 0 || target.Empty())
        return false;
    const AVPixelFormat format = PlainYuvFormat(static_cast<AVPixelFormat>(pixFmt), fullRange);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc)
        return false;
    const bool yuv =
        !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && desc->nb_components >= 3;
    if (!yuv) {
        fullRange = false;
        colorSpace = -1;
    }

    if (!Ctx || width != SrcWidth || height != SrcHeight || format != SrcFormat ||
        target.Width() != DstWidth || target.Height() != DstHeight || fullRange != FullRange ||
        colorSpace != ColorSpace) {
        sws_freeContext(Ctx);
        Ctx = sws_getContext(width, height, format, target.Width(), target.Height(),
                             AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!Ctx) {
            SrcFormat = -1;
            return false;
        }
        if (yuv) {
            const int cs = (colorSpace == AVCOL_SPC_UNSPECIFIED || colorSpace < 0 ||
                            colorSpace > AVCOL_SPC_BT2020_CL)
                               ? SWS_CS_DEFAULT
                               : colorSpace;
            sws_setColorspaceDetails(Ctx, sws_getCoefficients(cs), fullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        }
        SrcWidth = width;
        SrcHeight = height;
        SrcFormat = format;
        DstWidth = target.Width();
        DstHeight = target.Height();
        FullRange = fullRange;
        ColorSpace = colorSpace;
    }
    uint8_t* const dst[4] = {target.Bits(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {target.RowBytes(), 0, 0, 0};
    return sws_scale(Ctx, planes, strides, 0, height, dst, dstStrides) > 0;
}

// ---- TDibDraw -----------------------------------------------------------------------------------

void TDibDraw::Expand(const uint8_t* bits, int64_t stride, int width, int height, TPacking packing,
                      const uint8_t* table, size_t entries) {
    // Indices past the end of the table show black.
    uint8_t lut[256][3] = {};
    entries = std::min<size_t>(entries, 256);
    for (size_t i = 0; i < entries; ++i) {
        // Colour table entry: blue, green, red, reserved.
        lut[i][0] = table[i * 4];
        lut[i][1] = table[i * 4 + 1];
        lut[i][2] = table[i * 4 + 2];
    }
    // 5 and 6-bit channels repeat their top bits below, so full scale stays full (31 -> 255).
    auto w5 = [](unsigned v) { return uint8_t((v << 3) | (v >> 2)); };
    auto w6 = [](unsigned v) { return uint8_t((v << 2) | (v >> 4)); };

    ExpandedStride = (size_t(width) * 3 + 15) & ~size_t(15);
    // With room behind the last row, which the scaler's vector code reads past.
    const size_t need = ExpandedStride * size_t(height) + 128;
    if (Expanded.size() < need)
        Expanded.resize(need);
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = bits + stride * y;
        uint8_t* out = Expanded.data() + ExpandedStride * size_t(y);
        for (int x = 0; x < width; ++x, out += 3) {
            switch (packing) {
            case TPacking::Index1:
                std::memcpy(out, lut[(src[x >> 3] >> (7 - (x & 7))) & 1], 3);
                break;
            case TPacking::Index4:
                std::memcpy(out, lut[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15], 3);
                break;
            case TPacking::Index8:
                std::memcpy(out, lut[src[x]], 3);
                break;
            case TPacking::Rgb555: {
                const unsigned v = src[2 * x] | unsigned(src[2 * x + 1]) << 8;
                out[0] = w5(v & 31);
                out[1] = w5((v >> 5) & 31);
                out[2] = w5((v >> 10) & 31);
                break;
            }
            case TPacking::Rgb565: {
                const unsigned v = src[2 * x] | unsigned(src[2 * x + 1]) << 8;
                out[0] = w5(v & 31);
                out[1] = w6((v >> 5) & 63);
                out[2] = w5(v >> 11);
                break;
            }
            }
        }
    }
}

bool TDibDraw::ScaleExpanded(int width, int height, TBitmap& target) {
    return Stretch(Expanded.data(), int64_t(ExpandedStride), 3, width, height, target);
}

bool TDibDraw::Stretch(const uint8_t* top, int64_t stride, int bytesPerPixel, int width, int height,
                       TBitmap& target) {
    if (width <= 0 || height <= 0 || target.Empty())
        return false;
    const int dw = target.Width(), dh = target.Height();
    // Target pixel i takes the source pixel under its centre, as the canvas stretches.
    if (Columns.size() != size_t(dw) || ColumnsFor[0] != width || ColumnsFor[1] != dw ||
        ColumnsFor[2] != bytesPerPixel) {
        Columns.resize(size_t(dw));
        for (int x = 0; x < dw; ++x)
            Columns[size_t(x)] = size_t(StretchSourceIndex(x, width, dw)) * size_t(bytesPerPixel);
        ColumnsFor[0] = width;
        ColumnsFor[1] = dw;
        ColumnsFor[2] = bytesPerPixel;
    }
    const bool sameRow = bytesPerPixel == 3 && dw == width;
    for (int y = 0; y < dh; ++y) {
        const uint8_t* in = top + stride * StretchSourceIndex(y, height, dh);
        uint8_t* out = target.ScanLine(y);
        if (sameRow) {
            std::memcpy(out, in, size_t(dw) * 3);
            continue;
        }
        for (size_t c : Columns) {
            out[0] = in[c];
            out[1] = in[c + 1];
            out[2] = in[c + 2];
            out += 3;
        }
    }
    return true;
}

bool TDibDraw::Draw(const TDibFormat& format, const uint8_t* colors, size_t colorsSize,
                    const uint8_t* bits, size_t bitsSize, TBitmap& target) {
    const int64_t row = DibRowBytes(format);
    const int64_t image = DibImageBytes(format);
    if (row < 0 || image < 0 || uint64_t(image) > bitsSize || !bits || target.Empty())
        return false;
    if (!colors)
        colorsSize = 0;
    const int width = format.Width;
    const int height = format.Height < 0 ? -format.Height : format.Height;
    // Walk from the top row down whichever way the rows are stored.
    const bool topDown = format.Height < 0;
    const uint8_t* top = topDown ? bits : bits + row * (height - 1);
    const int64_t stride = topDown ? row : -row;
    // Widened rows are kept to what an int stride can address.
    const bool widenable = int64_t(width) * 3 + 15 <= INT32_MAX;

    if (format.BitCount <= 8) {
        if (format.Compression != BI_RGB || !widenable)
            return false;
        size_t entries = format.ClrUsed != 0 ? format.ClrUsed : size_t(1) << format.BitCount;
        entries = std::min(entries, colorsSize / 4);
        const TPacking packing = format.BitCount == 1   ? TPacking::Index1
                                 : format.BitCount == 4 ? TPacking::Index4
                                                        : TPacking::Index8;
        Expand(top, stride, width, height, packing, colors, entries);
        return ScaleExpanded(width, height, target);
    }

    // Masks of red, green and blue for bit fields; only the common layouts are drawn.
    uint32_t r = 0, g = 0, b = 0;
    if (format.Compression == BI_BITFIELDS) {
        if (colorsSize < 12)
            return false;
        r = Le32(colors);
        g = Le32(colors + 4);
        b = Le32(colors + 8);
    } else if (format.Compression != BI_RGB) {
        return false;
    }

    if (format.BitCount == 16) {
        // Plain 16-bit pixels are 5 bits each of red, green and blue.
        TPacking packing;
        if (format.Compression == BI_RGB || (r == 0x7C00 && g == 0x03E0 && b == 0x001F))
            packing = TPacking::Rgb555;
        else if (r == 0xF800 && g == 0x07E0 && b == 0x001F)
            packing = TPacking::Rgb565;
        else
            return false;
        if (!widenable)
            return false;
        Expand(top, stride, width, height, packing);
        return ScaleExpanded(width, height, target);
    }

    // 24-bit pixels are blue, green, red; 32-bit ones have an unused byte behind.
    if (format.BitCount == 24 && format.Compression == BI_RGB)
        return Stretch(top, stride, 3, width, height, target);
    if (format.BitCount == 32 &&
        (format.Compression == BI_RGB || (r == 0xFF0000 && g == 0xFF00 && b == 0xFF)))
        return Stretch(top, stride, 4, width, height, target);
    return false;
}

bool TDibDraw::DrawPicture(const AVFrame& picture, TBitmap& target) {
    if (picture.width <= 0 || picture.height <= 0 || !picture.data[0])
        return false;
    if (picture.format == AV_PIX_FMT_PAL8) {
        if (!picture.data[1])
            return false;
        // A decoder's palette is 256 entries of B, G, R, A in memory, as a DIB colour table.
        Expand(picture.data[0], picture.linesize[0], picture.width, picture.height,
               TPacking::Index8, picture.data[1], 256);
        return ScaleExpanded(picture.width, picture.height, target);
    }
    // Pictures already in our pixel layout (Motion JPEG) are copied or stretched as they are.
    if (picture.format == AV_PIX_FMT_BGR24)
        return Stretch(picture.data[0], picture.linesize[0], 3, picture.width, picture.height,
                       target);
    const uint8_t* const planes[4] = {picture.data[0], picture.data[1], picture.data[2],
                                      picture.data[3]};
    const bool fullRange = StoredNumber(picture.color_range) == AVCOL_RANGE_JPEG;
    const int colorSpace = StoredNumber(picture.colorspace);
    if (picture.width == target.Width() && picture.height == target.Height())
        return Scaler.Scale(planes, picture.linesize, picture.width, picture.height, picture.format,
                            fullRange, colorSpace, target);
    // Another size is converted at its own size and then stretched as the canvas stretches, so
    // a movie looks the same whether it is drawn at its size or scaled, and no pixel is a blend.
    Converted.SetSize(picture.width, picture.height);
    return Scaler.Scale(planes, picture.linesize, picture.width, picture.height, picture.format,
                        fullRange, colorSpace, Converted) &&
           Stretch(Converted.Bits(), Converted.RowBytes(), 3, picture.width, picture.height,
                   target);
}
