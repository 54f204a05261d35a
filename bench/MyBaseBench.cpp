// Rounding is on every time-to-frame conversion; keep an eye on its cost.
#include <benchmark/benchmark.h>

#include "MyBase.h"

static void BM_Round(benchmark::State& state) {
    Extended x = 0.25L;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Round(x));
        x += 0.5L;
        if (x > 1e6L)
            x = 0.25L;
    }
}
BENCHMARK(BM_Round);

BENCHMARK_MAIN();
