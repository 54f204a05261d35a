// The mixer runs once per rendered frame with every sounding node, and every PCM track's
// blocks go through the converter; both sit on the export and playback paths.
#include <benchmark/benchmark.h>

#include "MyPCMTrans.h"

namespace {

TAudioFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    TAudioFormat f;
    MakePcmFormat(f, rate, channels, bits);
    return f;
}

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> b(bytes);
    for (auto& c : b) {
        seed = seed * 1664525u + 1013904223u;
        c = uint8_t(seed >> 24);
    }
    return b;
}

} // namespace

// Four sources of one 25 fps frame at 44.1 kHz stereo 16-bit, with volume and balance set.
static void BM_MixFourSources(benchmark::State& state) {
    TPCMTrans trans;
    TMixBuffer out;
    out.Format = Pcm(44100, 2, 16);
    const size_t bytes = size_t(FrameAudioBytes(out.Format, 25));
    std::vector<std::vector<uint8_t>> sources;
    for (uint32_t i = 0; i < 4; ++i)
        sources.push_back(Noise(bytes, i + 1));
    for (auto _ : state) {
        for (size_t i = 0; i < sources.size(); ++i) {
            std::vector<uint8_t> b = trans.TakeBuffer();
            b.assign(sources[i].begin(), sources[i].end());
            trans.AddSource(TAudioSourceInfo(int32_t(i), std::move(b), i == 1 ? 0.3L : 0,
                                             i == 2 ? -0.25L : 0.0625L * i));
        }
        trans.MixSources(out);
        benchmark::DoNotOptimize(out.Buffer.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes) * 4);
}
BENCHMARK(BM_MixFourSources);

// One frame's block of a 22.05 kHz track doubled to 44.1 kHz.
static void BM_Convert22050To44100(benchmark::State& state) {
    TPCMTrans trans;
    const TAudioFormat src = Pcm(22050, 2, 16), dst = Pcm(44100, 2, 16);
    const std::vector<uint8_t> block = Noise(size_t(FrameAudioBytes(src, 25)), 7);
    std::vector<uint8_t> b;
    for (auto _ : state) {
        b.assign(block.begin(), block.end());
        trans.ConvertBuffer(src, dst, b);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}
BENCHMARK(BM_Convert22050To44100);

// The same for a 48 kHz track, which is resampled.
static void BM_Convert48000To44100(benchmark::State& state) {
    TPCMTrans trans;
    const TAudioFormat src = Pcm(48000, 2, 16), dst = Pcm(44100, 2, 16);
    const std::vector<uint8_t> block = Noise(size_t(FrameAudioBytes(src, 25)), 9);
    std::vector<uint8_t> b;
    for (auto _ : state) {
        b.assign(block.begin(), block.end());
        trans.ConvertBuffer(src, dst, b);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}
BENCHMARK(BM_Convert48000To44100);

BENCHMARK_MAIN();
