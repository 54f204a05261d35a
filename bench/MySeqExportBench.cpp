// Picture-sequence export against the movie export on the same frames: a 640 x 480, 25 fps MJPEG
// movie of 2 s played frame by frame with each picture written as a JPG at quality 90 (what the
// sequence dialog does per frame), and the same project exported as an MJPEG AVI. Both without
// sound and without the loops' pauses; the counter is frames per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "BenchUi.h"
#include "MyAVICompress.h"
#include "MyCommonParams.h"
#include "MyMovieWriter.h"
#include "MyPictureWriter.h"
#include "MyProjNode.h"

namespace {

constexpr int W = 640, H = 480, Fps = 25, Frames = 50;

std::string Folder() {
    static const std::string dir = [] {
        const auto d = std::filesystem::temp_directory_path() / "tarvolin-seq-bench";
        std::filesystem::create_directories(d / "seq");
        return d.string();
    }();
    return dir;
}

// A moving pattern, written once with our own MJPEG AVI writer.
std::string Input(TBenchUi& ui) {
    static const std::string name = [&ui] {
        const std::string n = Folder() + "/in.avi";
        TAviCompress compress(ui);
        compress.SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
        TMovieWriter writer(ui);
        TExportSettings s{};
        s.FrameRate = Fps;
        s.Width = W;
        s.Height = H;
        s.FrameCount = Frames;
        if (!writer.Open(false, n, compress, s))
            return std::string();
        TVideoFrameInfo frame;
        for (int i = 0; i < Frames; ++i) {
            TBitmap& b = *writer.GetBitmap();
            for (int y = 0; y < H; ++y) {
                uint8_t* row = b.ScanLine(y);
                for (int x = 0; x < W; ++x) {
                    row[3 * x] = uint8_t((x + i * 4) & 0xFF);
                    row[3 * x + 1] = uint8_t(y & 0xFF);
                    row[3 * x + 2] = uint8_t((x ^ y) & 0x3F);
                }
            }
            frame.KeyRequest = true;
            if (!writer.WriteVideoFrame(frame))
                return std::string();
            frame.FrameNumber += 1;
        }
        return writer.Close(Fps) ? n : std::string();
    }();
    return name;
}

struct TBenchProject {
    explicit TBenchProject(TBenchUi& ui) : Root("Project", Tree.AddRoot("Project")) {
        Root.Ui = &ui;
        Root.SetVideoFormat(W, H, Fps);
        Root.AudioOn = false;
        Root.SoundInPlayback = false;
        Root.ExportSleepMs = 0;
        Root.VideoTrack->AddNode("in", amLastChild, nkVideo)->SetFileName(Input(ui));
        Root.Refresh();
    }
    TMemTree Tree;
    TProjectNode Root;
};

void SequenceToJpg90(benchmark::State& state) {
    TBenchUi ui;
    TBenchProject p(ui);
    TPictureWriter writer;
    TBitmap picture(W, H);
    TPictureControl image{&picture, nullptr, nullptr};
    const std::string path = Folder() + "/seq/frame";
    int64_t written = 0;
    for (auto _ : state) {
        // New files each time, as a real export writes them: rewriting files that exist makes
        // some file systems wait for the disk on every close.
        state.PauseTiming();
        std::filesystem::remove_all(Folder() + "/seq");
        std::filesystem::create_directories(Folder() + "/seq");
        state.ResumeTiming();
        p.Root.Play(
            0, -1, false,
            [&](TFrameReport& r) {
                if (writer.SaveJpeg(picture, 90, path + IntToZeroPadded(r.Frame, 6) + ".jpg"))
                    ++written;
            },
            image);
    }
    state.counters["frames/s"] = benchmark::Counter(double(written), benchmark::Counter::kIsRate);
}

void MovieExportMjpeg(benchmark::State& state) {
    TBenchUi ui;
    TBenchProject p(ui);
    p.Root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
    const int32_t frames = p.Root.GetFrameCount();
    int64_t written = 0;
    for (auto _ : state) {
        if (p.Root.ExportMovie(0, frames, nullptr, nullptr, Folder() + "/out.avi"))
            written += frames;
    }
    state.counters["frames/s"] = benchmark::Counter(double(written), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(SequenceToJpg90)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MovieExportMjpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
