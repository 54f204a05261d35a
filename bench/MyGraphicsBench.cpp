// Frame-sized fills, copies, stretches and text: every effect and preview goes through them.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>

#include "BenchFrames.h"
#include "MyGraphics.h"

namespace {

void BM_FillRect(benchmark::State& state) {
    TBitmap bmp(640, 480);
    uint32_t color = 0;
    for (auto _ : state) {
        bmp.Canvas().Brush.Color = color++;
        bmp.Canvas().FillRect(Rect(0, 0, 640, 480));
        benchmark::DoNotOptimize(bmp.Bits());
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}
BENCHMARK(BM_FillRect);

void BM_Draw(benchmark::State& state) {
    const TBitmap src = Noise(640, 480, 12345);
    TBitmap dst(640, 480);
    for (auto _ : state) {
        dst.Canvas().Draw(0, 0, src);
        benchmark::DoNotOptimize(dst.Bits());
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}
BENCHMARK(BM_Draw);

void BM_StretchDraw(benchmark::State& state) {
    const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
    const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
    const TBitmap src = Noise(sw, sh, 12345);
    TBitmap dst(dw, dh);
    for (auto _ : state) {
        dst.Canvas().StretchDraw(Rect(0, 0, dw, dh), src);
        benchmark::DoNotOptimize(dst.Bits());
    }
    state.SetBytesProcessed(state.iterations() * dw * dh * 3);
}
BENCHMARK(BM_StretchDraw)->Args({320, 240, 640, 480})->Args({640, 480, 320, 240});

void BM_TextOut(benchmark::State& state) {
    TBitmap bmp(640, 480);
    TCanvas& c = bmp.Canvas();
    c.Font.Size = 24;
    c.Font.Color = 0xFFFFFF;
    c.Brush.Color = 0;
    for (auto _ : state) {
        c.TextOut(10, 10, "The quick brown fox jumps over the lazy dog");
        benchmark::DoNotOptimize(bmp.Bits());
    }
}
BENCHMARK(BM_TextOut);

} // namespace

// Text needs a GUI application for its fonts; without a display it runs offscreen.
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
