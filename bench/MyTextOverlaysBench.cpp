// The text overlays on a 640 x 480 frame: three lines of 24-point text rendered and keyed (or
// blended) every frame, as a render does.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>

#include "MyCommonParams.h"
#include "MyTextOverlays.h"

namespace {

template <class T> void BM_Text(benchmark::State& state) {
    std::vector<std::string> lines{"The first line of the title", "A second, rather longer line",
                                   "Third"};
    TFontInfo font;
    font.Size = 24;
    font.Color = 0x40E0FF;
    TAddOnBridge bridge;
    bridge.GetNodeInfo = [&](TNodeInfo& info) {
        info = TNodeInfo{};
        info.Lines = &lines;
        info.Font = &font;
        info.Y = 120;
        return true;
    };
    T overlay(bridge);
    TBitmap frame(640, 480);
    overlay.Bitmap = &frame;
    for (auto _ : state) {
        benchmark::DoNotOptimize(overlay.Run(0, 0, 0, 25));
        benchmark::DoNotOptimize(frame.Bits());
    }
}

} // namespace

BENCHMARK(BM_Text<TSimpleTextOverlay>);
BENCHMARK(BM_Text<TOpaqueSimpleTextOverlay>);
BENCHMARK(BM_Text<TSubTitleOverlay>);

// Text needs a GUI application for its fonts; without a display it runs offscreen.
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
