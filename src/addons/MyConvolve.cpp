#include "MyConvolve.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "MyTimeData.h"

namespace {

struct TKernelRow {
    std::array<int32_t, 9> Weights;
    int32_t Divisor;
};

// Index: 0 Laplace and sketch, 1 unused, 2 edge, 3 sharpen, 4 enhance, 5 emboss, 6 soften,
// 7 blur.
constexpr TKernelRow Kernels[TConvolve::KernelCount] = {
    {{-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1},  //
    {{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1},  //
    {{1, 1, 1, 1, -2, 1, -1, -1, -1}, 1},      //
    {{-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8}, //
    {{0, -1, 0, -1, 5, -1, 0, -1, 0}, 1},      //
    {{1, 0, 1, 0, 0, 0, 1, 0, -2}, 1},         //
    {{2, 2, 2, 2, 0, 2, 2, 2, 2}, 16},         //
    {{3, 3, 3, 3, 8, 3, 3, 3, 3}, 32},         //
};

// One output row. up, mid and down are the bordered rows above, at and below the output row,
// each starting at the left border pixel; n is the number of output bytes. Neighbouring pixels
// are 3 bytes apart, so each byte is weighed with the same byte of its eight neighbours.
//
// Acc is the sum's type: 16 bits when the kernel's weights cannot take a sum past its range,
// which holds for the whole table and doubles what one vector instruction does.
// With a power-of-two divisor the shift gives the same result as a division that truncates
// toward zero: a negative sum divides to 0 or less, which clamps to 0 either way.
template <class Acc, bool PowerOfTwo>
void ConvolveRow(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out, size_t n,
                 const int32_t* k, int32_t divisor, int shift) {
    const Acc k1 = Acc(k[0]), k2 = Acc(k[1]), k3 = Acc(k[2]), k4 = Acc(k[3]), k5 = Acc(k[4]),
              k6 = Acc(k[5]), k7 = Acc(k[6]), k8 = Acc(k[7]), k9 = Acc(k[8]);
    for (size_t i = 0; i < n; ++i) {
        const Acc sum =
            Acc(k1 * up[i] + k2 * up[i + 3] + k3 * up[i + 6] + k4 * mid[i] + k5 * mid[i + 3] +
                k6 * mid[i + 6] + k7 * down[i] + k8 * down[i + 3] + k9 * down[i + 6]);
        Acc v;
        if constexpr (PowerOfTwo)
            v = Acc((sum < 0 ? Acc(0) : sum) >> shift);
        else
            v = Acc(sum / divisor);
        out[i] = static_cast<uint8_t>(v < 1 ? 0 : v > 254 ? 255 : v);
    }
}

using TRowFunc = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, size_t,
                          const int32_t*, int32_t, int);

int PowerOfTwoShift(int32_t d) {
    if (d <= 0 || (d & (d - 1)) != 0)
        return -1;
    int shift = 0;
    while ((1 << shift) != d)
        ++shift;
    return shift;
}

} // namespace

// ---- TConvolve ----------------------------------------------------------------------------------

TConvolve::TConvolve() : WorkBitmap(640, 480) {
    SetKernel(KernelIndex, 0);
}

void TConvolve::SetKernel(uint8_t index, Extended strength) {
    Strength = strength;
    if (index >= KernelCount)
        return;
    KernelIndex = index;
    Kernel = Kernels[index].Weights;
    Divisor = std::max(Kernels[index].Divisor, 1);
}

void TConvolve::BuildBorderedCopy(const TBitmap& bitmap) {
    const int32_t w = bitmap.Width(), h = bitmap.Height();
    const int32_t bw = CheckedAdd(w, 2), bh = CheckedAdd(h, 2);
    if (WorkBitmap.Width() != bw || WorkBitmap.Height() != bh)
        WorkBitmap.SetSize(bw, bh);
    const size_t rowBytes = static_cast<size_t>(w) * 3;
    for (int32_t y = 0; y < bh; ++y) {
        // The rows above and below the frame repeat its first and last row, and each row's
        // outer pixels repeat its first and last pixel, which makes the corners too.
        const uint8_t* src = bitmap.ScanLine(std::clamp(y - 1, 0, h - 1));
        uint8_t* dst = WorkBitmap.ScanLine(y);
        std::memcpy(dst + 3, src, rowBytes);
        std::memcpy(dst, src, 3);
        std::memcpy(dst + rowBytes + 3, src + rowBytes - 3, 3);
    }
}

void TConvolve::Convolve(TBitmap& bitmap, uint8_t index, Extended strength) {
    SetKernel(index, strength);
    if (bitmap.Empty())
        return;
    BuildBorderedCopy(bitmap);
    const size_t n = static_cast<size_t>(bitmap.Width()) * 3;
    const int shift = PowerOfTwoShift(Divisor);
    int64_t reach = 0;
    for (int32_t w : Kernel)
        reach += std::abs(int64_t(w)) * 255;
    const bool narrow = reach <= INT16_MAX;
    const TRowFunc row =
        narrow ? (shift >= 0 ? ConvolveRow<int16_t, true> : ConvolveRow<int16_t, false>)
               : (shift >= 0 ? ConvolveRow<int32_t, true> : ConvolveRow<int32_t, false>);
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        row(WorkBitmap.ScanLine(y), WorkBitmap.ScanLine(y + 1), WorkBitmap.ScanLine(y + 2),
            bitmap.ScanLine(y), n, Kernel.data(), Divisor, shift);
}

// ---- the filters --------------------------------------------------------------------------------

bool TConvolveFilter::ApplyKernel(uint8_t index) {
    if (!Bitmap || !GetNodeInfo)
        return false;
    TNodeInfo info;
    if (!GetNodeInfo(info))
        return false;
    Engine.Convolve(*Bitmap, index, info.Level);
    return true;
}

TSketchFilter::TSketchFilter(TAddOnBridge& bridge) : TConvolveFilter(bridge) {
    if (RegisterTimeEffect)
        RegisterTimeEffect(ckLevel, "Level");
}

bool TSketchFilter::Apply(int32_t frame, int32_t frame2) {
    if (!Bitmap || !GetNodeInfo)
        return false;
    TNodeInfo info;
    if (!GetNodeInfo(info))
        return false;
    // A level past -1..1 (an extrapolated curve) would move the threshold off the byte range.
    const Extended level = std::clamp(info.Level, -1.0L, 1.0L);
    const int32_t threshold = Round((level + 1.0L) * 255.0L / 2.0L);
    Engine.Convolve(*Bitmap, 0, info.Level);

    // Black where 255 - average < threshold, by the sum of the three bytes.
    std::array<uint8_t, 766> out;
    for (int sum = 0; sum < 766; ++sum)
        out[sum] = 255 - sum / 3 < threshold ? 0 : 255;
    const int32_t w = Bitmap->Width();
    for (int32_t y = 0; y < Bitmap->Height(); ++y) {
        uint8_t* p = Bitmap->ScanLine(y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            const uint8_t v = out[p[0] + p[1] + p[2]];
            p[0] = v;
            p[1] = v;
            p[2] = v;
        }
    }
    return true;
}
