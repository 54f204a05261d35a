// Frame decoding speed: sequential decode of 640 x 480 MJPEG and MPEG-4 (GOP 12) movies into a
// bitmap of the same size, and random access to frame i, through the AVI file layer and through
// our own decompressor. The movies are written into a temporary folder first (or into
// $TARVOLIN_BENCH_DIR, where they are kept for comparison with other decoders). And the sound of
// the first and of the last 100 frames of an hour-long movie, which should cost the same.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

#include "../tests/support/EncodedAvi.h"
#include "BenchUi.h"
#include "MyAVIReader.h"
#include "MyAviWriter.h"

namespace {

constexpr int Frames = 240;
constexpr int Width = 640;
constexpr int Height = 480;
constexpr int HourFps = 25;
constexpr int HourFrames = 3600 * HourFps;

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
        WriteHourLongMovie();
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
    std::string HourLong;

private:
    // An hour at 25 fps of 8 x 8 raw frames, each with its 320 bytes of 8 kHz 8-bit mono sound in
    // a chunk of its own: 90,000 sound chunks, as an interleaving writer stores them.
    void WriteHourLongMovie() {
        HourLong = Dir + "/hour.avi";
        if (std::filesystem::exists(HourLong))
            return;
        TBenchUi ui;
        TAviWriter w(ui, Dir);
        TExportSettings s;
        s.HasAudio = true;
        s.FrameRate = HourFps;
        s.Width = s.Height = 8;
        MakePcmFormat(s.AudioFormat, 8000, 1, 8);
        s.FrameCount = HourFrames;
        const TBitmapInfoHeader format{40, 8, 8, 1, 24, BI_RGB, 8 * 8 * 3, 0, 0, 0, 0};
        std::vector<uint8_t> frame(8 * 8 * 3), sound(8000 / HourFps);
        bool ok = w.Open(HourLong, s, 0, format);
        for (int i = 0; ok && i < HourFrames; ++i) {
            std::fill(sound.begin(), sound.end(), uint8_t(i));
            ok = w.WriteAudio(sound.data(), uint32_t(sound.size()), uint32_t(sound.size())) &&
                 w.WriteVideoFrame(frame.data(), uint32_t(frame.size()), true);
        }
        if (!(ok && w.Close(0)))
            HourLong.clear();
    }
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

// state.range(0): 0 the first 100 frames' sound, 1 the last 100 frames'. Each round prepares the
// sound as an export does and reads it frame by frame from where the range starts.
void BM_HourLongSound(benchmark::State& state) {
    TAviReader r;
    if (Movies().HourLong.empty() || !r.Open(Movies().HourLong) ||
        r.GetFrameCount() != HourFrames) {
        state.SkipWithError("movie not written");
        return;
    }
    const int first = state.range(0) ? HourFrames - 100 : 0;
    TAudioFormat wanted;
    MakePcmFormat(wanted, 8000, 1, 8);
    std::vector<uint8_t> block;
    // The work checked first: the last frame's sound is the bytes written with it.
    r.PrepareAudio(wanted, HourFps);
    if (!r.ReadAudio(HourFrames - 1, block, Extended(HourFrames - 1) / HourFps) ||
        block != std::vector<uint8_t>(8000 / HourFps, uint8_t(HourFrames - 1))) {
        state.SkipWithError("wrong sound");
        return;
    }
    for (auto _ : state) {
        r.PrepareAudio(wanted, HourFps);
        for (int i = first; i < first + 100; ++i)
            if (!r.ReadAudio(i, block, Extended(i) / HourFps)) {
                state.SkipWithError("sound failed");
                return;
            }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetLabel(state.range(0) ? "last 100 frames of an hour" : "first 100 frames of an hour");
    state.SetItemsProcessed(state.iterations() * 100);
}

} // namespace

BENCHMARK(BM_HourLongSound)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SequentialDecode)->ArgsProduct({{0, 1}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomAccess)->ArgsProduct({{0, 1}, {1, 0}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
