// The movie-range dialog's clip player: random seeks on a 640 x 480 MPEG-4 movie with a key
// frame every 12 frames, each showing the exact frame. Before timing, one seek is checked against
// a decode of every frame in order.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "../tests/support/EncodedAvi.h"
#include "BenchUi.h"
#include "MyAVIReader.h"
#include "MyClipPlayer.h"

namespace {

constexpr int Frames = 240;
constexpr int Width = 640;
constexpr int Height = 480;

struct TBenchMovie {
    TBenchMovie() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "tarvolin-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data()))
            Dir = tmpl;
        TEncodedAviSpec spec;
        spec.Encoder = "mpeg4";
        spec.Width = Width;
        spec.Height = Height;
        spec.Frames = Frames;
        spec.Fps = 25;
        spec.Gop = 12;
        File = Dir + "/mpeg4.avi";
        Written = WriteEncodedAvi(File, spec);
    }
    ~TBenchMovie() {
        std::error_code ec;
        if (!Dir.empty())
            std::filesystem::remove_all(Dir, ec);
    }
    std::string Dir, File;
    bool Written = false;
};

const TBenchMovie& Movie() {
    static TBenchMovie movie;
    return movie;
}

bool SameFrame(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 3) != 0)
            return false;
    return true;
}

// Frame target decoded in order from frame 0, as the render reaches it.
bool SequentialFrame(int32_t target, TBitmap& out) {
    TAviReader r;
    if (!r.Open(Movie().File))
        return false;
    out.SetSize(Width, Height);
    for (int32_t i = 0; i <= target; ++i)
        if (!r.GetFrame(i, out))
            return false;
    return true;
}

// state.range(0): 1 through the AVI file layer, 0 through our own decompressor.
void BM_ClipPlayerSeek(benchmark::State& state) {
    DecoderOptions[doUseMMIOReader] = state.range(0) != 0;
    state.SetLabel(state.range(0) ? "file layer" : "own decompressor");
    TBenchUi ui;
    TClipPlayer player(&ui);
    TBitmap expected;
    if (!Movie().Written || !player.Open(Movie().File) || !SequentialFrame(137, expected)) {
        state.SkipWithError("movie not written or not opened");
        return;
    }
    player.Seek(137);
    if (!SameFrame(player.Picture(), expected)) {
        state.SkipWithError("seek shows another frame");
        return;
    }
    std::mt19937 rng(19);
    std::uniform_int_distribution<int> pick(0, Frames - 1);
    for (auto _ : state) {
        const int i = pick(rng);
        player.Seek(i);
        if (player.GetShownFrame() != i) {
            state.SkipWithError("seek failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_ClipPlayerSeek)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
