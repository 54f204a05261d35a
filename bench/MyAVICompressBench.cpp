// Encoding 640 x 480 export frames through the compressor choice: the per-frame cost of an AVI
// export with MJPEG or MPEG-4, uncompressed output for comparison.
#include <benchmark/benchmark.h>

#include "BenchUi.h"
#include "MyAVICompress.h"
#include "MyMovieWriter.h"

namespace {

// A frame with detail and motion, so the encoders have real work: gradients and a moving box.
void DrawFrame(TBitmap& bmp, int i) {
    for (int y = 0; y < bmp.Height(); ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < bmp.Width(); ++x) {
            row[x * 3] = uint8_t(x + i);
            row[x * 3 + 1] = uint8_t(y * 2);
            row[x * 3 + 2] = uint8_t((x ^ y) + i * 3);
        }
    }
    bmp.Canvas().Brush.Color = 0xFFFFFF;
    bmp.Canvas().FillRect(Rect((i * 7) % 560, 100, (i * 7) % 560 + 80, 180));
}

void BM_CompressFrame(benchmark::State& state, const char* handler) {
    TBenchUi ui;
    TAviCompress c(ui);
    const uint32_t code = MakeFourCC(uint8_t(handler[0]), uint8_t(handler[1]), uint8_t(handler[2]),
                                     uint8_t(handler[3]));
    if (!c.SelectCompressor(code) || c.GetFourCC() != code) {
        state.SkipWithError("compressor not installed");
        return;
    }
    TAviCompressParams p;
    p.FrameRate = 25;
    p.Width = 640;
    p.Height = 480;
    p.FrameCount = 1000;
    if (!c.Prepare(p)) {
        state.SkipWithError("compressor refused 640 x 480");
        return;
    }
    // Frames are drawn up front: the benchmark measures the encoder, not the drawing.
    std::vector<TBitmap> frames;
    for (int i = 0; i < 25; ++i) {
        frames.emplace_back(640, 480);
        DrawFrame(frames.back(), i);
    }
    TVideoFrameInfo f;
    int64_t bytes = 0;
    for (auto _ : state) {
        c.GetCurrentBitmap().Assign(frames[size_t(f.FrameNumber % 25)]);
        f.KeyRequest = f.FrameNumber % 25 == 0;
        c.CompressFrame(f);
        bytes += f.Size;
        ++f.FrameNumber;
    }
    c.EndCompress();
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes/frame"] =
        benchmark::Counter(double(bytes) / double(std::max<int64_t>(1, state.iterations())));
}

BENCHMARK_CAPTURE(BM_CompressFrame, mjpeg, "mjpg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompressFrame, mpeg4, "xvid")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CompressFrame, uncompressed, "\0\0\0\0")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
