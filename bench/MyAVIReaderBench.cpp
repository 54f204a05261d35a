// Frame decoding speed: sequential decode of 640 x 480 MJPEG and MPEG-4 (GOP 12) movies into a
// bitmap of the same size, and random access to frame i, through the AVI file layer and through
// our own decompressor. The movies are written into a temporary folder first (or into
// $TARVOLIN_BENCH_DIR, where they are kept for comparison with other decoders).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "../tests/support/EncodedAvi.h"
#include "MyAVIReader.h"

namespace {

constexpr int Frames = 240;
constexpr int Width = 640;
constexpr int Height = 480;

class TBenchMovies {
public:
    TBenchMovies() {
        if (const char* keep = std::getenv("TARVOLIN_BENCH_DIR")) {
            Dir = keep;
            std::filesystem::create_directories(Dir);
        } else {
            std::string tmpl =
                (std::filesystem::temp_directory_path() / "tarvolin-bench-XXXXXX").string();
            if (::mkdtemp(tmpl.data()))
                Dir = tmpl;
            Owned = true;
        }
        for (const char* encoder : {"mjpeg", "mpeg4"}) {
            TEncodedAviSpec spec;
            spec.Encoder = encoder;
            spec.Width = Width;
            spec.Height = Height;
            spec.Frames = Frames;
            spec.Fps = 25;
            spec.Gop = 12;
            const std::string file = Dir + "/" + encoder + ".avi";
            if (!std::filesystem::exists(file))
                WriteEncodedAvi(file, spec);
            Files.push_back(file);
        }
    }
    ~TBenchMovies() {
        std::error_code ec;
        if (Owned && !Dir.empty())
            std::filesystem::remove_all(Dir, ec);
    }
    std::string Dir;
    bool Owned = false;
    std::vector<std::string> Files; // mjpeg, mpeg4
};

const TBenchMovies& Movies() {
    static TBenchMovies movies;
    return movies;
}

// state.range(0): 0 MJPEG, 1 MPEG-4; state.range(1): 1 through the AVI file layer, 0 through
// our own decompressor.
bool OpenMovie(benchmark::State& state, TAviReader& r) {
    DecoderOptions[doUseMMIOReader] = state.range(1) != 0;
    if (!r.Open(Movies().Files[size_t(state.range(0))])) {
        state.SkipWithError("movie not written");
        return false;
    }
    state.SetLabel(std::string(state.range(0) ? "mpeg4" : "mjpeg") +
                   (state.range(1) ? " file layer" : " own decompressor"));
    return true;
}

void BM_SequentialDecode(benchmark::State& state) {
    TAviReader r;
    if (!OpenMovie(state, r))
        return;
    TBitmap b(Width, Height);
    int i = 0;
    for (auto _ : state) {
        if (!r.GetFrame(i, b)) {
            state.SkipWithError("frame failed");
            break;
        }
        i = (i + 1) % Frames;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_RandomAccess(benchmark::State& state) {
    TAviReader r;
    if (!OpenMovie(state, r))
        return;
    TBitmap b(Width, Height);
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> pick(0, Frames - 1);
    for (auto _ : state) {
        if (!r.GetFrame(pick(rng), b)) {
            state.SkipWithError("frame failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_SequentialDecode)->ArgsProduct({{0, 1}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomAccess)->ArgsProduct({{0, 1}, {1, 0}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
