// Camera frame conversion, the capture worker's per-frame cost: a 640 x 480 frame in YUYV, NV12
// and MJPEG turned into 24-bit B, G, R. Each run first checks that a grey frame comes out grey.
#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <cstdlib>
#include <vector>

#include "MyCaptureDevice.h"

namespace {

constexpr int W = 640, H = 480;

std::vector<uint8_t> GreyFrame(uint32_t pix) {
    if (pix == CapPixYUYV) {
        std::vector<uint8_t> f(size_t(W) * H * 2);
        for (size_t i = 0; i < f.size(); i += 2)
            f[i] = 126, f[i + 1] = 128;
        return f;
    }
    if (pix == CapPixNV12) {
        std::vector<uint8_t> f(size_t(W) * H * 3 / 2, 128);
        std::fill(f.begin(), f.begin() + W * H, 126);
        return f;
    }
    std::vector<uint8_t> bgr(size_t(W) * H * 3, 128);
    tjhandle t = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(t, bgr.data(), W, 0, H, TJPF_BGR, &out, &size, TJSAMP_422, 85, 0);
    std::vector<uint8_t> jpeg(out, out + size);
    tjFree(out);
    tjDestroy(t);
    return jpeg;
}

void Convert(benchmark::State& state, uint32_t pix) {
    const std::vector<uint8_t> src = GreyFrame(pix);
    std::vector<uint8_t> dst(size_t(W) * H * 3);
    TCapFrameConverter conv;
    const TCapFormat f{W, H, pix};
    if (!conv.Convert(f, src.data(), src.size(), dst.data(), W * 3) ||
        std::abs(int(dst[dst.size() / 2]) - 128) > 3) {
        state.SkipWithError("conversion does not give the grey frame");
        return;
    }
    for (auto _ : state) {
        conv.Convert(f, src.data(), src.size(), dst.data(), W * 3);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CaptureYuyvToBgr(benchmark::State& state) {
    Convert(state, CapPixYUYV);
}
BENCHMARK(BM_CaptureYuyvToBgr);

void BM_CaptureNv12ToBgr(benchmark::State& state) {
    Convert(state, CapPixNV12);
}
BENCHMARK(BM_CaptureNv12ToBgr);

void BM_CaptureMjpegToBgr(benchmark::State& state) {
    Convert(state, CapPixMJPEG);
}
BENCHMARK(BM_CaptureMjpegToBgr);

} // namespace

BENCHMARK_MAIN();
