// Each built-in transition mixing two 640 x 480 frames, at progresses across the whole range.
#include <algorithm>

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

// The dissolve's blend alone at a frame size of its own, over fifty progresses: the halves
// among them hold ties, which weigh on exact rounding.
void BM_Blend(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    TBitmap from = Noise(w, h, 1);
    TBitmap to = Noise(w, h, 2);
    TBitmap out(w, h);
    // The blend does the work it is timed for: the first row is the rounded terms' sum.
    Blend(from, to, 0.3L, out);
    for (int i = 0; i < w * 3; ++i) {
        const int want =
            std::min(255, Round(from.ScanLine(0)[i] * 0.7L) + Round(to.ScanLine(0)[i] * 0.3L));
        if (out.ScanLine(0)[i] != want) {
            state.SkipWithError("the blend does not give the rounded terms' sum");
            return;
        }
    }
    int step = 0;
    for (auto _ : state) {
        Blend(from, to, (step++ % 51) / 50.0L, out);
        benchmark::DoNotOptimize(out.Bits());
    }
    state.SetBytesProcessed(state.iterations() * w * h * 3);
}

} // namespace

BENCHMARK(BM_Blend)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Transition<TTransHorzSlide>);
BENCHMARK(BM_Transition<TTransVertSlide>);
BENCHMARK(BM_Transition<TTransDimmed>);
BENCHMARK(BM_Transition<TTransEyesOpen>);
BENCHMARK(BM_Transition<TTransDissolve>);
BENCHMARK(BM_TransitionLone<TTransHorzSlide>);
BENCHMARK(BM_TransitionLone<TTransDimmed>);

BENCHMARK_MAIN();
