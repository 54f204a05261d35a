#include "MyTransitions.h"

#include <algorithm>
#include <array>
#include <cstring>

void Darken(int32_t amount, const TBitmap& source, TBitmap& target) {
    const int32_t w = std::min(source.Width(), target.Width());
    const int32_t h = std::min(source.Height(), target.Height());
    if (w <= 0 || h <= 0)
        return;
    const int a = std::clamp(amount, 0, 255);
    const size_t bytes = static_cast<size_t>(w) * 3;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* s = source.ScanLine(y);
        uint8_t* d = target.ScanLine(y);
        for (size_t i = 0; i < bytes; ++i) {
            const int v = s[i] - a;
            d[i] = static_cast<uint8_t>(v < 0 ? 0 : v);
        }
    }
}

void CopyMiddleBand(int32_t rows, const TBitmap& source, TBitmap& target) {
    const int32_t half = rows / 2;
    const int32_t last = std::min(target.Height() - half - 1, source.Height() - 1);
    const int32_t w = std::min(source.Width(), target.Width());
    if (w <= 0)
        return;
    const size_t bytes = static_cast<size_t>(w) * 3;
    for (int32_t y = std::max(half, 0); y <= last; ++y)
        std::memcpy(target.ScanLine(y), source.ScanLine(y), bytes);
}

void Blend(const TBitmap& a, const TBitmap& b, Extended p, TBitmap& target) {
    const int32_t w = std::min({a.Width(), b.Width(), target.Width()});
    const int32_t h = std::min({a.Height(), b.Height(), target.Height()});
    if (w <= 0 || h <= 0)
        return;
    // Both weighted terms are rounded on their own, so one table per source holds every
    // value a byte can take.
    std::array<uint16_t, 256> fa;
    std::array<uint16_t, 256> fb;
    for (int v = 0; v < 256; ++v) {
        fa[v] = static_cast<uint16_t>(Round(v * (1 - p)));
        fb[v] = static_cast<uint16_t>(Round(v * p));
    }
    const size_t bytes = static_cast<size_t>(w) * 3;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* sa = a.ScanLine(y);
        const uint8_t* sb = b.ScanLine(y);
        uint8_t* d = target.ScanLine(y);
        for (size_t i = 0; i < bytes; ++i) {
            const unsigned v = fa[sa[i]] + fb[sb[i]];
            d[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    }
}

namespace {

// Fade of a lone clip: to black when it is the from clip, from black when it is the to clip.
void DimLone(TBitmap* fromBmp, TBitmap* toBmp, Extended p, TBitmap& target) {
    if (fromBmp)
        Darken(Round(p * 255), *fromBmp, target);
    else
        Darken(Round((1 - p) * 255), *toBmp, target);
}

// The from picture leaves and the to picture enters by the same distance along one axis; a lone
// clip slides against black.
bool Slide(TBitmap* target, TBitmap* fromBmp, TBitmap* toBmp, Extended progress, bool vertical) {
    if (!target)
        return false;
    const int32_t length = vertical ? target->Height() : target->Width();
    const int32_t s = Round(length * progress);
    const auto drawAt = [&](const TBitmap& picture, int32_t offset) {
        if (vertical)
            target->Canvas().Draw(0, offset, picture);
        else
            target->Canvas().Draw(offset, 0, picture);
    };
    if (!fromBmp != !toBmp)
        FillBitmap(*target, 0);
    if (fromBmp)
        drawAt(*fromBmp, -s);
    if (toBmp)
        drawAt(*toBmp, length - s);
    return true;
}

} // namespace

bool TTransHorzSlide::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    return Slide(Bitmap, fromBmp, toBmp, progress, false);
}

bool TTransVertSlide::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    return Slide(Bitmap, fromBmp, toBmp, progress, true);
}

bool TTransDimmed::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    if (!Bitmap)
        return false;
    if (!fromBmp && !toBmp)
        return true;
    if (!fromBmp || !toBmp) {
        DimLone(fromBmp, toBmp, progress, *Bitmap);
    } else if (progress <= 0.5L) {
        Darken(Round(progress * 2 * 255), *fromBmp, *Bitmap);
    } else {
        Darken(Round((1 - (progress - 0.5L) * 2) * 255), *toBmp, *Bitmap);
    }
    return true;
}

bool TTransEyesOpen::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    if (!Bitmap)
        return false;
    if (!fromBmp && !toBmp)
        return true;
    const int32_t h = Bitmap->Height();
    TBitmap* source;
    int32_t rows;
    if (fromBmp && !toBmp) {
        source = fromBmp;
        rows = Round(h * progress);
    } else if (toBmp && !fromBmp) {
        source = toBmp;
        rows = Round(h * (1 - progress));
    } else if (progress <= 0.5L) {
        source = fromBmp;
        rows = Round(h * (progress * 2));
    } else {
        source = toBmp;
        rows = Round(h * (1 - (progress - 0.5L) * 2));
    }
    FillBitmap(*Bitmap, 0);
    CopyMiddleBand(rows, *source, *Bitmap);
    return true;
}

bool TTransDissolve::Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) {
    if (!Bitmap)
        return false;
    if (!fromBmp && !toBmp)
        return true;
    if (!fromBmp || !toBmp)
        DimLone(fromBmp, toBmp, progress, *Bitmap);
    else
        Blend(*fromBmp, *toBmp, progress, *Bitmap);
    return true;
}
