#include "MyFilters.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "MyExceptions.h"
#include "MyTimeData.h"

namespace {

// Curve values come from key points and files and may be extrapolated past -1..1; every weight
// derived from them is kept in its range so that no byte wraps.
Extended ClampLevel(Extended v) {
    return std::clamp(v, -1.0L, 1.0L);
}

// Nearest-neighbour source index of destination index i when n source pixels spread over m
// destination pixels: the source pixel under the destination pixel's centre. The canvas stretch
// follows the same rule.
inline int64_t SourceIndex(int64_t i, int64_t n, int64_t m) {
    return ((2 * i + 1) * n) / (2 * m);
}

// Every byte of the frame through one table.
void MapBytes(TBitmap& bmp, const std::array<uint8_t, 256>& table) {
    const size_t n = static_cast<size_t>(bmp.Width()) * 3;
    for (int32_t y = 0; y < bmp.Height(); ++y) {
        uint8_t* p = bmp.ScanLine(y);
        for (size_t i = 0; i < n; ++i)
            p[i] = table[p[i]];
    }
}

bool Snapshot(TCustomAddOn& addOn, TNodeInfo& info) {
    return addOn.Bitmap && addOn.GetNodeInfo && addOn.GetNodeInfo(info);
}

// Largest zoom worked out; past it a single source pixel covers far more than any frame, and
// the index arithmetic stays well inside 64 bits.
constexpr Extended MaxZoom = 1 << 20;

} // namespace

// ---- brightness -------------------------------------------------------------------------------

TBrightnessFilter::TBrightnessFilter(TAddOnBridge& bridge) : TCustomFilter(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckLevel, "Level");
}

bool TBrightnessFilter::Apply(int32_t, int32_t) {
    TNodeInfo info;
    if (!Snapshot(*this, info))
        return false;
    if (info.Level == 0)
        return true;
    const int32_t m = Round((ClampLevel(info.Level) + 1.0L) * 500.0L);
    std::array<uint8_t, 256> table;
    for (int b = 0; b < 256; ++b)
        table[b] = static_cast<uint8_t>(std::min(255, b * m / 500));
    MapBytes(*Bitmap, table);
    return true;
}

// ---- light temperature ------------------------------------------------------------------------

TColorFilter::TColorFilter(TAddOnBridge& bridge) : TCustomFilter(bridge) {
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckLevel, "Level");
        RegisterTimeEffect(ckColor, "Base enchanged color");
    }
}

bool TColorFilter::Apply(int32_t, int32_t) {
    TNodeInfo info;
    if (!Snapshot(*this, info))
        return false;
    const uint32_t c = info.Color;
    if (c == 0)
        return true;
    const int32_t a = Round((ClampLevel(info.Level) + 1.0L) * 0.5L * 10000.0L);
    const int32_t b = 10000 - a;
    // The colour is the same under every pixel, so each of its three bytes makes one table.
    const int32_t s[3] = {int32_t((c >> 16) & 0xFF), int32_t((c >> 8) & 0xFF), int32_t(c & 0xFF)};
    std::array<std::array<uint8_t, 256>, 3> table;
    for (int k = 0; k < 3; ++k)
        for (int d = 0; d < 256; ++d)
            table[k][d] = static_cast<uint8_t>((s[k] * a + d * b) / 10000);
    const int32_t w = Bitmap->Width();
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        uint8_t* p = Bitmap->ScanLine(y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            p[0] = table[0][p[0]];
            p[1] = table[1][p[1]];
            p[2] = table[2][p[2]];
        }
    }
    return true;
}

// ---- TV shop wall -----------------------------------------------------------------------------

TPolyFilter::TPolyFilter(TAddOnBridge& bridge) : TCustomFilter(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckLevel, "Number of windows");
}

bool TPolyFilter::Apply(int32_t, int32_t) {
    TNodeInfo info;
    if (!Snapshot(*this, info))
        return false;
    const int32_t n = Round((ClampLevel(info.Level) + 1.0L) * 0.5L * 9.0L) + 1;
    if (n <= 1)
        return true;
    const int32_t w = Bitmap->Width(), h = Bitmap->Height();
    const int32_t tw = w / n, th = h / n;
    if (tw < 1 || th < 1)
        return true;

    // The whole frame shrunk into one tile.
    if (FTile.Width() != tw || FTile.Height() != th)
        FTile.SetSize(tw, th);
    FColumns.resize(static_cast<size_t>(tw));
    for (int32_t x = 0; x < tw; ++x)
        FColumns[x] = static_cast<int32_t>(SourceIndex(x, w, tw)) * 3;
    for (int32_t y = 0; y < th; ++y) {
        const uint8_t* src = Bitmap->ScanLine(static_cast<int32_t>(SourceIndex(y, h, th)));
        uint8_t* dst = FTile.ScanLine(y);
        for (int32_t x = 0; x < tw; ++x, dst += 3) {
            const uint8_t* s = src + FColumns[x];
            dst[0] = s[0];
            dst[1] = s[1];
            dst[2] = s[2];
        }
    }
    // n tiles side by side in every frame row the tiles cover; the strip right of and below
    // them keeps the frame.
    const size_t tileBytes = static_cast<size_t>(tw) * 3;
    for (int32_t j = 0; j < n; ++j)
        for (int32_t y = 0; y < th; ++y) {
            const uint8_t* src = FTile.ScanLine(y);
            uint8_t* dst = Bitmap->ScanLine(j * th + y);
            for (int32_t i = 0; i < n; ++i)
                std::memcpy(dst + i * tileBytes, src, tileBytes);
        }
    return true;
}

// ---- zoom -------------------------------------------------------------------------------------

TZoomFilter::TZoomFilter(TAddOnBridge& bridge) : TCustomFilter(bridge) {
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckLevel, "Zooming level");
        RegisterTimeEffect(ckPosition, "Zoom focus point");
    }
}

bool TZoomFilter::Apply(int32_t, int32_t) {
    TNodeInfo info;
    if (!Snapshot(*this, info))
        return false;
    const Extended z = std::clamp(info.Level + 1.0L, -1.0L, MaxZoom);
    if (z == 1.0L)
        return true;
    const int32_t w = Bitmap->Width(), h = Bitmap->Height();
    if (w < 1 || h < 1)
        return true;
    // The scaled frame's rectangle: the focus point F stays where it is, every other point
    // moves z times as far from it.
    TPoint f;
    ToFramePoint(info, f);
    const int64_t sw = Round64(w * z), sh = Round64(h * z);
    const int64_t left = f.X - Round64(f.X * z), top = f.Y - Round64(f.Y * z);
    const size_t rowBytes = static_cast<size_t>(w) * 3;
    // Columns [x0, x1) of the frame lie on the scaled frame; the rest are black.
    const int64_t x0 = std::clamp<int64_t>(left, 0, w);
    const int64_t x1 = std::clamp<int64_t>(left + std::max<int64_t>(sw, 0), x0, w);
    if (sw < 1 || sh < 1 || x0 == x1) {
        for (int32_t y = 0; y < h; ++y)
            std::memset(Bitmap->ScanLine(y), 0, rowBytes);
        return true;
    }

    FSource.Assign(*Bitmap);
    FColumns.resize(static_cast<size_t>(x1 - x0));
    for (int64_t x = x0; x < x1; ++x)
        FColumns[x - x0] = static_cast<int32_t>(SourceIndex(x - left, w, sw)) * 3;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* dst = Bitmap->ScanLine(y);
        const int64_t j = y - top;
        if (j < 0 || j >= sh) {
            std::memset(dst, 0, rowBytes);
            continue;
        }
        const uint8_t* src = FSource.ScanLine(static_cast<int32_t>(SourceIndex(j, h, sh)));
        std::memset(dst, 0, static_cast<size_t>(x0) * 3);
        uint8_t* p = dst + x0 * 3;
        for (int32_t c : FColumns) {
            p[0] = src[c];
            p[1] = src[c + 1];
            p[2] = src[c + 2];
            p += 3;
        }
        std::memset(p, 0, static_cast<size_t>(w - x1) * 3);
    }
    return true;
}

// ---- sepia ------------------------------------------------------------------------------------

TSepiaFilter::TSepiaFilter(TAddOnBridge& bridge) : TCustomFilter(bridge) {
    if (RegisterTimeEffect) {
        RegisterTimeEffect(ckLevel, "Brightness");
        RegisterTimeEffect(ckSizing, "Sepia level");
    }
}

bool TSepiaFilter::Apply(int32_t, int32_t) {
    TNodeInfo info;
    if (!Snapshot(*this, info))
        return false;
    const int32_t a = Round((ClampLevel(info.Level) + 1.0L) * 500.0L);
    const int32_t s = std::abs(Round((ClampLevel(info.Sizing) + 1.0L) * 500.0L) - 1000);
    // Grey and blue by the sum of the three bytes.
    std::array<uint8_t, 766> grey, blue;
    for (int sum = 0; sum < 766; ++sum) {
        const int32_t g = std::min(255, sum / 3 * a / 1000);
        grey[sum] = static_cast<uint8_t>(g);
        blue[sum] = static_cast<uint8_t>(std::min(255, g * s / 1000));
    }
    const int32_t w = Bitmap->Width();
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        uint8_t* p = Bitmap->ScanLine(y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            const int sum = p[0] + p[1] + p[2];
            p[0] = blue[sum];
            p[1] = grey[sum];
            p[2] = grey[sum];
        }
    }
    return true;
}

// ---- mirror -----------------------------------------------------------------------------------

TMirrorFilter::TMirrorFilter(TAddOnBridge& bridge) : TCustomFilter(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckLevel, "Using left/right side");
}

bool TMirrorFilter::Apply(int32_t, int32_t) {
    TNodeInfo info;
    if (!Snapshot(*this, info))
        return false;
    const int32_t w = Bitmap->Width(), half = w / 2;
    const bool leftSide = info.Level <= 0;
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        uint8_t* row = Bitmap->ScanLine(y);
        for (int32_t x = 0; x < half; ++x) {
            // Left side: pixel x onto its mirror place; right side: the other way round.
            uint8_t* l = row + x * 3;
            uint8_t* r = row + (w - 1 - x) * 3;
            if (leftSide)
                std::memcpy(r, l, 3);
            else
                std::memcpy(l, r, 3);
        }
    }
    return true;
}

// ---- negative ---------------------------------------------------------------------------------

bool TNegativeFilter::Apply(int32_t, int32_t) {
    if (!Bitmap)
        return false;
    const size_t n = static_cast<size_t>(Bitmap->Width()) * 3;
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        uint8_t* p = Bitmap->ScanLine(y);
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(255 - p[i]);
    }
    return true;
}

// ---- freeze -----------------------------------------------------------------------------------

void TFreezeFilter::SetFrameCount(int32_t count) {
    TCustomFilter::SetFrameCount(count);
    FrozenIndex = -1;
    Frozen.SetSize(8, 8);
}

bool TFreezeFilter::Apply(int32_t, int32_t) {
    if (!Bitmap)
        return false;
    if (FrozenIndex < 0) {
        // A frame below 33 pixels either way is passed through and not held.
        if (Bitmap->Width() < 33 || Bitmap->Height() < 33)
            return true;
        FrozenIndex = 0;
        Frozen.Assign(*Bitmap);
    }
    Bitmap->Canvas().Draw(0, 0, Frozen);
    return true;
}

// ---- step back --------------------------------------------------------------------------------

namespace {

// One compressor per thread, with an output buffer that grows to the largest frame once.
struct TJpegCompressor {
    TJpegCompressor() : Handle(tjInitCompress()) {}
    ~TJpegCompressor() {
        if (Handle)
            tjDestroy(Handle);
    }
    TJpegCompressor(const TJpegCompressor&) = delete;
    TJpegCompressor& operator=(const TJpegCompressor&) = delete;
    tjhandle Handle;
    std::vector<uint8_t> Buffer;
};

constexpr int JpegQuality = 90;

} // namespace

TJPEGImage BitmapToJpeg(const TBitmap& bitmap) {
    TJPEGImage image;
    if (bitmap.Empty())
        return image;
    thread_local TJpegCompressor compressor;
    if (!compressor.Handle)
        throw Exception("JPEG compressor not available");
    const unsigned long bound = tjBufSize(bitmap.Width(), bitmap.Height(), TJSAMP_420);
    if (bound == static_cast<unsigned long>(-1))
        throw Exception("Picture too large for JPEG");
    if (compressor.Buffer.size() < bound)
        compressor.Buffer.resize(bound);
    unsigned char* out = compressor.Buffer.data();
    unsigned long size = 0;
    if (tjCompress2(compressor.Handle, bitmap.Bits(), bitmap.Width(), bitmap.RowBytes(),
                    bitmap.Height(), TJPF_BGR, &out, &size, TJSAMP_420, JpegQuality,
                    TJFLAG_NOREALLOC) != 0)
        throw Exception(std::string("JPEG compression failed: ") +
                        tjGetErrorStr2(compressor.Handle));
    image.Width = bitmap.Width();
    image.Height = bitmap.Height();
    image.Data.assign(out, out + size);
    return image;
}

void TStepBackFilter::SetFrameCount(int32_t count) {
    TCustomFilter::SetFrameCount(count);
    Frames.clear();
    Dropped = 0;
    ShowIndex = -1;
}

namespace {

TJPEGImage KeepFrame(const TBitmap& bitmap) {
    try {
        return BitmapToJpeg(bitmap);
    } catch (const Exception&) {
        // Kept as an empty entry, which shows nothing, so the order stays right.
        return {};
    }
}

} // namespace

bool TStepBackFilter::Apply(int32_t frame, int32_t) {
    if (!Bitmap)
        return false;
    if (frame < 0)
        return true;
    const int32_t third = FrameCount / 3;
    if (frame < third) {
        if (Dropped > 0)
            ++Dropped;
        else
            Frames.push_front(KeepFrame(*Bitmap));
        return true;
    }
    Frames.push_back(KeepFrame(*Bitmap));
    ++ShowIndex;
    if (ShowIndex < 0)
        return true;
    const size_t show = size_t(ShowIndex);
    if (show >= Dropped && show - Dropped < Frames.size())
        ShowKept(Frames[show - Dropped]);
    // The one shown now stays, so a step back by one frame still finds it.
    while (Dropped < show && !Frames.empty()) {
        Frames.pop_front();
        ++Dropped;
    }
    return true;
}

void TStepBackFilter::ShowKept(const TJPEGImage& shown) {
    if (shown.Data.empty())
        return;
    try {
        FLoader.LoadFromMemory(shown.Data.data(), shown.Data.size(), TPictureKind::Jpeg, FDecoded);
        Bitmap->Canvas().Draw(0, 0, FDecoded);
    } catch (const EReadError&) {
        // A frame that does not decode leaves the current one in place.
    }
}
