// One paint of the timeline's track image and one hit test on a project of 2,000 nodes: 400
// black-frame clips of 2 s, each with four filters, at 25 fps on a 1,000 x 600 image.
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdlib>
#include <memory>

#include "BenchUi.h"
#include "ITreeItem.h"
#include "MyProjNode.h"
#include "MyTrackDraw.h"

namespace {

struct TBigProject {
    TMemTree Tree;
    TBenchUi Ui;
    std::unique_ptr<TProjectNode> Root;
    TBitmap Bitmap;
    TTrackPaintInfo Info;

    TBigProject() : Root(std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"))) {
        Root->Ui = &Ui;
        for (int i = 0; i < 400; ++i) {
            TTreeNodeData* clip = Root->VideoTrack->AddNode("Clip", amLastChild, nkBlank);
            clip->AutoDuration = false;
            clip->UserDuration = 2;
            for (int k = 0; k < 4; ++k) {
                TTreeNodeData* f = clip->AddNode("Filter", amLastChild, nkFilter);
                f->AutoDuration = false;
                f->UserDuration = 0.5;
                f->SetOffset(0.4L * k);
            }
        }
        Root->Refresh();
        Bitmap.SetSize(1000, 600);
        Info.Bitmap = &Bitmap;
        Info.ViewRect = TRectI{0, 0, 1000, 600};
        Info.FPS = 25;
        Info.PixelsPerFrame = 4;
        Info.PixelsPerSecond = 100;
        Info.Duration = Root->GetDuration();
        Info.CursorMargin = 4;
    }
};

void BM_TrackPaint(benchmark::State& state) {
    TBigProject p;
    TTrackDraw draw(nullptr, p.Root.get());
    for (auto _ : state) {
        draw.Paint(p.Info);
        benchmark::DoNotOptimize(p.Bitmap.ScanLine(0));
    }
    // The paint drew what it timed: the first clip's row carries its colour.
    if (p.Root->VideoTrack->GetChild(0)->TrackRect.Width() <= 0)
        state.SkipWithError("nothing was painted");
}
BENCHMARK(BM_TrackPaint)->Unit(benchmark::kMillisecond);

void BM_TrackHitTest(benchmark::State& state) {
    TBigProject p;
    TTrackDraw draw(nullptr, p.Root.get());
    draw.Paint(p.Info);
    TTreeNodeData* want = p.Root->VideoTrack->GetChild(3);
    const int32_t y = (want->TrackRect.Top + want->TrackRect.Bottom) / 2;
    for (auto _ : state)
        benchmark::DoNotOptimize(draw.ObjectAt(y, 7.0L));
    if (draw.ObjectAt(y, 7.0L) != want)
        state.SkipWithError("the hit test missed");
}
BENCHMARK(BM_TrackHitTest)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
