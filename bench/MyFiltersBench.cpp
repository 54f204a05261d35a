// The pixel filters, freeze and step back on a 640 x 480 frame, at levels that make each one
// do its full work.
#include <benchmark/benchmark.h>

#include "BenchFrames.h"
#include "MyFilters.h"

namespace {

// The argument is the level in hundredths.
template <class T> void BM_Filter(benchmark::State& state) {
    const Extended level = state.range(0) / 100.0L;
    const TBitmap source = Noise(640, 480, 1);
    TBitmap frame;
    TAddOnBridge bridge;
    bridge.GetNodeInfo = [level](TNodeInfo& info) {
        info = TNodeInfo{};
        info.Level = level;
        info.Sizing = 0.3L;
        info.Color = 0x3080FF;
        info.X = 40;
        info.Y = -25;
        return true;
    };
    T filter(bridge);
    filter.Bitmap = &frame;
    filter.SetFrameCount(int32_t(1) << 30);
    int32_t n = 0;
    for (auto _ : state) {
        // A fresh frame each time, as a render gives; the copy is timed as well.
        frame.Assign(source);
        benchmark::DoNotOptimize(filter.Apply(n, n));
        benchmark::DoNotOptimize(frame.Bits());
        ++n;
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}

void BM_CopyOnly(benchmark::State& state) {
    const TBitmap source = Noise(640, 480, 1);
    TBitmap frame;
    for (auto _ : state) {
        frame.Assign(source);
        benchmark::DoNotOptimize(frame.Bits());
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}

// Step back while it remembers the first third (compress only).
void BM_StepBackRemember(benchmark::State& state) {
    const TBitmap source = Noise(640, 480, 1);
    TBitmap frame;
    TAddOnBridge bridge;
    TStepBackFilter filter(bridge);
    filter.Bitmap = &frame;
    filter.SetFrameCount(int32_t(1) << 30);
    int32_t n = 0;
    for (auto _ : state) {
        frame.Assign(source);
        benchmark::DoNotOptimize(filter.Apply(n++, 0));
        if (n == 200) {
            state.PauseTiming();
            filter.SetFrameCount(int32_t(1) << 30);
            n = 0;
            state.ResumeTiming();
        }
    }
}

// Step back once it shows (compress the new frame, decode and draw a kept one). With a third
// of one frame every later frame is shown one frame late, for ever.
void BM_StepBackShow(benchmark::State& state) {
    const TBitmap source = Noise(640, 480, 1);
    TBitmap frame;
    frame.Assign(source);
    TAddOnBridge bridge;
    TStepBackFilter filter(bridge);
    filter.Bitmap = &frame;
    filter.SetFrameCount(3);
    filter.Apply(0, 0);
    int32_t n = 1;
    for (auto _ : state) {
        frame.Assign(source);
        benchmark::DoNotOptimize(filter.Apply(n++, 0));
    }
}

} // namespace

BENCHMARK(BM_CopyOnly);
BENCHMARK_TEMPLATE(BM_Filter, TBrightnessFilter)->Arg(50);
BENCHMARK_TEMPLATE(BM_Filter, TColorFilter)->Arg(30);
BENCHMARK_TEMPLATE(BM_Filter, TPolyFilter)->Arg(0);
BENCHMARK_TEMPLATE(BM_Filter, TPolyFilter)->Arg(100);
BENCHMARK_TEMPLATE(BM_Filter, TZoomFilter)->Arg(-40);
BENCHMARK_TEMPLATE(BM_Filter, TZoomFilter)->Arg(70);
BENCHMARK_TEMPLATE(BM_Filter, TSepiaFilter)->Arg(20);
BENCHMARK_TEMPLATE(BM_Filter, TMirrorFilter)->Arg(-50);
BENCHMARK_TEMPLATE(BM_Filter, TNegativeFilter)->Arg(0);
BENCHMARK_TEMPLATE(BM_Filter, TFreezeFilter)->Arg(0);
BENCHMARK(BM_StepBackRemember);
BENCHMARK(BM_StepBackShow);

BENCHMARK_MAIN();
