// Cost of the export and movie-reading audio paths: one second of 44.1 kHz stereo encoded and
// decoded again, in the per-frame blocks the export loop hands over.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "MyAudioCodec.h"

namespace {

std::vector<uint8_t> OneSecond() {
    std::vector<uint8_t> b(44100 * 4);
    for (int i = 0; i < 44100; ++i)
        for (int c = 0; c < 2; ++c) {
            const int16_t s =
                int16_t(std::lrint(12000 * std::sin(2 * M_PI * (440 + 330 * c) * i / 44100.0)));
            std::memcpy(&b[size_t(i * 2 + c) * 2], &s, 2);
        }
    return b;
}

void RoundTrip(benchmark::State& state, uint32_t tag) {
    TAudioFormat pcm;
    MakePcmFormat(pcm, 44100, 2, 16);
    TAudioCodec encoder, decoder;
    TAudioFormat coded;
    if (!encoder.SuggestFormat(tag, pcm, coded)) {
        state.SkipWithError("no encoder");
        return;
    }
    TAudioFormat decoded = pcm;
    if (!decoder.FindDecoder(tag, coded, decoded)) {
        state.SkipWithError("no decoder");
        return;
    }
    const std::vector<uint8_t> data = OneSecond();
    const uint32_t block = 1764 * 4; // one frame at 25 fps
    std::vector<uint8_t> enc, out;
    size_t made = 0;
    for (auto _ : state) {
        encoder.OpenStream(pcm, coded);
        decoder.OpenStream(coded, decoded);
        made = 0;
        for (uint32_t pos = 0; pos < data.size(); pos += block) {
            const bool last = pos + block >= data.size();
            encoder.Encode(last, data.data() + pos, block, enc);
            if (!enc.empty())
                decoder.Convert(enc.data(), uint32_t(enc.size()), out);
            made += out.size();
        }
        benchmark::DoNotOptimize(made);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["decoded"] = double(made); // bytes of PCM back per second of input
}

void BM_ImaAdpcmRoundTrip(benchmark::State& state) {
    RoundTrip(state, 0x11);
}
void BM_MpegLayer2RoundTrip(benchmark::State& state) {
    RoundTrip(state, 0x50);
}

} // namespace

BENCHMARK(BM_ImaAdpcmRoundTrip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MpegLayer2RoundTrip)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
