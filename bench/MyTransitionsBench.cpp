// Each built-in transition mixing two 640 x 480 frames, at progresses across the whole range.
#include <benchmark/benchmark.h>

#include "BenchFrames.h"
#include "MyTransitions.h"

namespace {

template <class T> void BM_Transition(benchmark::State& state) {
    TBitmap from = Noise(640, 480, 1);
    TBitmap to = Noise(640, 480, 2);
    TBitmap out(640, 480);
    TAddOnBridge bridge;
    T trans(bridge);
    trans.Bitmap = &out;
    int step = 0;
    for (auto _ : state) {
        const Extended p = (step++ % 51) / 50.0L;
        benchmark::DoNotOptimize(trans.Execute(&from, &to, p));
        benchmark::DoNotOptimize(out.Bits());
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}

// One source missing: the fade to black, and the fill that stands in for it.
template <class T> void BM_TransitionLone(benchmark::State& state) {
    TBitmap from = Noise(640, 480, 1);
    TBitmap out(640, 480);
    TAddOnBridge bridge;
    T trans(bridge);
    trans.Bitmap = &out;
    int step = 0;
    for (auto _ : state) {
        const Extended p = (step++ % 51) / 50.0L;
        benchmark::DoNotOptimize(trans.Execute(&from, nullptr, p));
        benchmark::DoNotOptimize(out.Bits());
    }
    state.SetBytesProcessed(state.iterations() * 640 * 480 * 3);
}

} // namespace

BENCHMARK(BM_Transition<TTransHorzSlide>);
BENCHMARK(BM_Transition<TTransVertSlide>);
BENCHMARK(BM_Transition<TTransDimmed>);
BENCHMARK(BM_Transition<TTransEyesOpen>);
BENCHMARK(BM_Transition<TTransDissolve>);
BENCHMARK(BM_TransitionLone<TTransHorzSlide>);
BENCHMARK(BM_TransitionLone<TTransDimmed>);

BENCHMARK_MAIN();
