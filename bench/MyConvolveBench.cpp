// The kernel filters and the sketch filter on a 640 x 480 frame.
#include <benchmark/benchmark.h>

#include "BenchFrames.h"
#include "MyConvolve.h"

namespace {

// The frame is filtered again on every pass; its content does not change the work done.
template <class T> void BM_Kernel(benchmark::State& state) {
    TBitmap frame = Noise(640, 480, 1);
    TAddOnBridge bridge;
    bridge.GetNodeInfo = [](TNodeInfo& info) {
        info = TNodeInfo{};
        return true;
    };
    T filter(bridge);
    filter.Bitmap = &frame;
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.Apply(0, 0));
        benchmark::DoNotOptimize(frame.Bits());
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}

} // namespace

BENCHMARK(BM_Kernel<TSharpenFilter>);
BENCHMARK(BM_Kernel<TSoftenFilter>);
BENCHMARK(BM_Kernel<TEmbossFilter>);
BENCHMARK(BM_Kernel<TBlurFilter>);
BENCHMARK(BM_Kernel<TEdgeFilter>);
BENCHMARK(BM_Kernel<TLaplaceFilter>);
BENCHMARK(BM_Kernel<TEnchangeFilter>);
BENCHMARK(BM_Kernel<TSketchFilter>);

BENCHMARK_MAIN();
