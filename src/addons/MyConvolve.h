// The 3 x 3 convolution engine and the filters built on it: seven fixed kernels (sharpen,
// soften, emboss, blur, edge, Laplace, enhance) and the sketch filter, which turns the Laplace
// result into black-and-white strokes.
#pragma once

#include <array>

#include "MyCustomAddOn.h"

// Filters a frame in place by one of the kernels of its table. The frame is first copied into a
// bitmap one pixel larger on every side, whose border repeats the frame's edge pixels, so the
// inner loop needs no edge tests.
class TConvolve {
public:
    static constexpr int KernelCount = 8;

    TConvolve();
    TConvolve(const TConvolve&) = delete;
    TConvolve& operator=(const TConvolve&) = delete;

    // The bordered copy, (frame width + 2) x (frame height + 2) once used.
    TBitmap WorkBitmap;
    uint8_t KernelIndex = 3;
    // Kept for callers; it does not change the result.
    Extended Strength = 0;
    // Weights row by row from the top-left neighbour (k1 k2 k3 / k4 k5 k6 / k7 k8 k9).
    std::array<int32_t, 9> Kernel{};
    int32_t Divisor = 1;

    // Loads the kernel and divisor of an index; an index past the table keeps the previous ones.
    void SetKernel(uint8_t index, Extended strength);
    void Convolve(TBitmap& bitmap, uint8_t index, Extended strength);
    // 0 below 1, 255 above 254.
    static int32_t Clamp(int32_t value) { return value < 1 ? 0 : value > 254 ? 255 : value; }

private:
    void BuildBorderedCopy(const TBitmap& bitmap);
};

// Base of the kernel filters; owns the engine and runs it on the frame.
class TConvolveFilter : public TCustomFilter {
public:
    using TCustomFilter::TCustomFilter;

    TConvolve Engine;

protected:
    // Convolves Bitmap with a kernel of the table; False without a snapshot or a frame.
    bool ApplyKernel(uint8_t index);
};

class TSharpenFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(3); }
};

class TSoftenFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(6); }
};

class TEmbossFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(5); }
};

class TBlurFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(7); }
};

class TEdgeFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(2); }
};

class TLaplaceFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(0); }
};

class TEnchangeFilter : public TConvolveFilter {
public:
    using TConvolveFilter::TConvolveFilter;
    bool Apply(int32_t frame, int32_t frame2) override { return ApplyKernel(4); }
};

// Laplace edges thresholded to black and white; the level sets the threshold.
class TSketchFilter : public TConvolveFilter {
public:
    explicit TSketchFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;
};
