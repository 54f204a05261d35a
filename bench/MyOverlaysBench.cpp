// The picture and movie overlays drawing onto a 640 x 480 frame: a 640 x 480 picture (or movie
// frame) centred on it, with and without children composed first. Movie frames come from a stand-in
// interface that copies a prepared picture, so the figures are the overlays' own work.
#include <benchmark/benchmark.h>

#include "BenchFrames.h"
#include <cstring>

#include "MyMovieInterface.h"
#include "MyOverlays.h"

namespace {

constexpr int W = 640;
constexpr int H = 480;

class TPictureMovie : public TMovieInterface {
public:
    TBitmap Picture = Noise(W, H, 3);
    bool IsOpen() const override { return true; }
    Extended GetFrameRate() const override { return 25; }
    int32_t GetFrameCount() const override { return 1000; }
    int32_t GetCurrentFrame() const override { return 0; }
    std::string GetFileName() const override { return "bench.avi"; }
    int32_t GetWidth() const override { return W; }
    int32_t GetHeight() const override { return H; }
    Extended GetDuration() const override { return 40; }
    bool Open(const std::string&) override { return true; }
    void Close() override {}
    bool GetFrameAt(TBitmap& bitmap, Extended, Extended) override {
        if (bitmap.Width() == W && bitmap.Height() == H)
            std::memcpy(bitmap.Bits(), Picture.Bits(), static_cast<size_t>(H) * Picture.RowBytes());
        else
            bitmap.Canvas().StretchDraw(Rect(0, 0, bitmap.Width(), bitmap.Height()), Picture);
        return true;
    }
};

struct TBench {
    TAddOnBridge Bridge;
    TPictureMovie Movie;
    TBitmap Frame = Noise(W, H, 1);
    TNodeInfo Info;

    explicit TBench(bool children, Extended sizing = 1, Extended level = 0.25L) {
        Info.Sizing = sizing;
        Info.Level = level;
        Info.Color = 0x00FF00;
        Bridge.GetNodeInfo = [this](TNodeInfo& info) {
            info = Info;
            return true;
        };
        Bridge.CreateMovieInterface = [this](TCustomExtern*) { return &Movie; };
        Bridge.FreeMovieInterface = [](TMovieInterface*) {};
        if (children)
            Bridge.BeforeDraw = [](TBitmap* b, Extended) { benchmark::DoNotOptimize(b->Bits()); };
        Bridge.WorkBitmap = Noise(W, H, 2);
    }
};

template <class T> void BM_Overlay(benchmark::State& state) {
    TBench bench(state.range(0) != 0);
    T overlay(bench.Bridge);
    overlay.Bitmap = &bench.Frame;
    int frame = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(overlay.Run(frame % 10, frame % 10, frame / 25.0L, 25));
        ++frame;
        benchmark::DoNotOptimize(bench.Frame.Bits());
    }
    state.SetBytesProcessed(state.iterations() * W * H * 3);
}

// The movie at half size, which the sizing curve asks for most often.
template <class T> void BM_MovieHalf(benchmark::State& state) {
    TBench bench(false, 0);
    T overlay(bench.Bridge);
    overlay.Bitmap = &bench.Frame;
    for (auto _ : state) {
        benchmark::DoNotOptimize(overlay.Run(0, 0, 0, 25));
        benchmark::DoNotOptimize(bench.Frame.Bits());
    }
}

void BM_RotateBitmap(benchmark::State& state) {
    const TBitmap source = Noise(W, H, 4);
    for (auto _ : state) {
        TBitmap r = RotateBitmap(source, 0, 33);
        benchmark::DoNotOptimize(r.Bits());
    }
    state.SetBytesProcessed(state.iterations() * W * H * 3);
}

} // namespace

// Argument: 1 when the node's children are composed into a copy of the picture first.
BENCHMARK(BM_Overlay<TBitmapOverlay>)->Arg(0)->Arg(1);
BENCHMARK(BM_Overlay<TOpaqueBitmapOverlay>)->Arg(0)->Arg(1);
BENCHMARK(BM_Overlay<TCreditOverlay>)->Arg(0);
BENCHMARK(BM_Overlay<TFocusOverlay>)->Arg(0);
BENCHMARK(BM_Overlay<TRotateOverlay>)->Arg(0);
BENCHMARK(BM_Overlay<TMovieOverlay>)->Arg(0)->Arg(1);
BENCHMARK(BM_Overlay<TTransMovieOverlay>)->Arg(0);
BENCHMARK(BM_Overlay<TRoundMovieOverlay>)->Arg(0);
BENCHMARK(BM_MovieHalf<TMovieOverlay>);
BENCHMARK(BM_MovieHalf<TTransMovieOverlay>);
BENCHMARK(BM_MovieHalf<TRoundMovieOverlay>);
BENCHMARK(BM_RotateBitmap);

BENCHMARK_MAIN();
