// Picture decoding for bitmap clips: a 640 x 480 JPEG decoded and stretched onto a 320 x 240
// frame (at full size and with the decoder's reduced scale), and clip frames rendered into a
// 640 x 480 project, with each frame a new picture or the same picture again.
#include <benchmark/benchmark.h>

#include <turbojpeg.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "MyClipNode.h"
#include "MyPictureLoader.h"
#include "MyProjNode.h"

namespace {

// A photo-like 640 x 480 picture: smooth gradients with some noise, so the JPEG is not trivial.
std::vector<uint8_t> MakeJpeg(int w, int h, uint32_t seed) {
    TBitmap bmp(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x * 3] = uint8_t(x / 3 + (seed >> 28));
            row[x * 3 + 1] = uint8_t(y / 2 + (seed >> 29));
            row[x * 3 + 2] = uint8_t((x + y) / 5);
        }
    }
    tjhandle t = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(t, bmp.Bits(), w, bmp.RowBytes(), h, TJPF_BGR, &out, &size, TJSAMP_420, 85, 0);
    std::vector<uint8_t> bytes(out, out + size);
    tjFree(out);
    tjDestroy(t);
    return bytes;
}

void DecodeAndStretch(benchmark::State& state, bool scaled) {
    const std::vector<uint8_t> jpeg = MakeJpeg(640, 480, 7);
    TPictureLoader loader;
    TBitmap picture, frame(320, 240);
    for (auto _ : state) {
        loader.LoadFromMemory(jpeg.data(), jpeg.size(), TPictureKind::Jpeg, picture,
                              scaled ? 320 : 0, scaled ? 240 : 0);
        frame.Canvas().StretchDraw(Rect(0, 0, 320, 240), picture);
        benchmark::DoNotOptimize(frame.Bits());
    }
}

void BM_JpegDecodeStretchFull(benchmark::State& state) {
    DecodeAndStretch(state, false);
}
BENCHMARK(BM_JpegDecodeStretchFull);

void BM_JpegDecodeStretchScaled(benchmark::State& state) {
    DecodeAndStretch(state, true);
}
BENCHMARK(BM_JpegDecodeStretchScaled);

// Renders clip frames of 8 pictures into a 640 x 480 project: every frame a new picture, or the
// same picture throughout (served by the clip's cache).
void ClipFrames(benchmark::State& state, bool newPicture) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tarvolin-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (int i = 0; i < 8; ++i) {
        const std::vector<uint8_t> jpeg = MakeJpeg(640, 480, uint32_t(i));
        // A named number only to quiet g++ 12's false overlapping-copy warning at -O3.
        const std::string number = std::to_string(i);
        std::ofstream((dir / ("p" + number + ".jpg")).string(), std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    }
    {
        TMemTree tree;
        auto root = std::make_unique<TProjectNode>("Project", tree.AddRoot("Project"));
        root->FrameRate = 25;
        root->Width = 640;
        root->Height = 480;
        TTreeNodeData* track = root->GetChild(0); // the video track of a new project
        auto* clip = static_cast<TClipNode*>(track->AddNode("Clip", amLastChild, nkClip));
        clip->SetFolder(dir.string());
        clip->SetSourceFrameRate(newPicture ? 25 : 0.001L);
        TBitmap frame(640, 480);
        int n = 0;
        for (auto _ : state) {
            clip->RenderFrame(&frame, false, true, (n++ % 8) / 25.0L);
            benchmark::DoNotOptimize(frame.Bits());
        }
    }
    std::filesystem::remove_all(dir);
}

void BM_ClipFrameNewPicture(benchmark::State& state) {
    ClipFrames(state, true);
}
BENCHMARK(BM_ClipFrameNewPicture);

void BM_ClipFrameSamePicture(benchmark::State& state) {
    ClipFrames(state, false);
}
BENCHMARK(BM_ClipFrameSamePicture);

} // namespace

BENCHMARK_MAIN();
