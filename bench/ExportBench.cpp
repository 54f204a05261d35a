// End-to-end export: a project built in code (two 640 x 480 MJPEG movies with sound joined by a
// slide, then black frames, under a filter) exported to an MJPEG AVI with PCM sound through the
// root's export loop. Prints frames per second without the per-frame pause (the engine's own
// speed) and with the 10 ms pause the export keeps for the user interface.
//   bench_ExportBench [FOLDER]   writes its inputs and outputs into FOLDER (default: a new
//                                temporary folder) so other tools can run on the same inputs.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "BenchUi.h"
#include "MyAVICompress.h"
#include "MyBlankNode.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyMovieWriter.h"
#include "MyProjNode.h"

namespace {

constexpr int W = 640, H = 480, Fps = 25, Seconds = 4;

// A moving pattern with a 440 Hz tone, written with our own MJPEG AVI writer.
bool MakeInput(TBenchUi& ui, const std::string& name, int shade) {
    TAviCompress compress(ui);
    if (!compress.SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'))) return false;
    TMovieWriter writer(ui);
    TExportSettings s{};
    s.HasAudio = true;
    s.FrameRate = Fps;
    s.Width = W;
    s.Height = H;
    MakePcmFormat(s.AudioFormat, 22050, 2, 16);
    s.AudioPreloadTime = 1.0L / Fps;
    s.FrameCount = Fps * Seconds;
    if (!writer.Open(false, name, compress, s)) return false;
    const int samplesPerFrame = 22050 / Fps;
    std::vector<int16_t> pcm(samplesPerFrame * 2);
    TVideoFrameInfo frame;
    for (int i = 0; i < Fps * Seconds; ++i) {
        TBitmap& b = *writer.GetBitmap();
        for (int y = 0; y < H; ++y) {
            uint8_t* row = b.ScanLine(y);
            for (int x = 0; x < W; ++x) {
                row[3 * x] = uint8_t((x + i * 4) & 0xFF);
                row[3 * x + 1] = uint8_t((y + shade) & 0xFF);
                row[3 * x + 2] = uint8_t(shade + ((x ^ y) & 0x3F));
            }
        }
        for (int k = 0; k < samplesPerFrame; ++k) {
            const double t = double(i * samplesPerFrame + k) / 22050.0;
            pcm[2 * k] = pcm[2 * k + 1] = int16_t(8000 * std::sin(2 * M_PI * 440 * t));
        }
        if (!writer.WriteAudio(pcm.data(), uint32_t(pcm.size() * 2), samplesPerFrame))
            return false;
        frame.KeyRequest = true;
        if (!writer.WriteVideoFrame(frame)) return false;
        frame.FrameNumber += 1;
    }
    return writer.Close(Fps);
}

double ExportOnce(TBenchUi& ui, const std::string& dir, bool pause) {
    TMemTree tree;
    TProjectNode root("Project", tree.AddRoot("Project"));
    root.Ui = &ui;
    root.SetVideoFormat(W, H, Fps);
    root.ExportSleepMs = pause ? 10 : 0;
    ui.RealSleep = pause;
    TTreeNodeData* track = root.VideoTrack;
    track->AddNode("A", amLastChild, nkVideo)->SetFileName(dir + "/a.avi");
    auto* slide = static_cast<TTransNode*>(track->AddNode("Slide", amLastChild, nkTransition));
    slide->SetAddOn("{7602E471-A8CA-46B2-B869-8AF956428110}");
    slide->UserDuration = 1.0L;
    track->AddNode("B", amLastChild, nkVideo)->SetFileName(dir + "/b.avi");
    auto* blank = static_cast<TBlankNode*>(track->AddNode("Black", amLastChild, nkBlank));
    blank->UserDuration = 1.0L;
    root.Refresh();
    root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
    const int32_t frames = root.GetFrameCount();
    const auto t0 = std::chrono::steady_clock::now();
    if (!root.ExportMovie(0, frames, nullptr, nullptr, dir + "/out.avi")) return -1;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("  %d frames in %.3f s\n", frames, s);
    return frames / s;
}

} // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "";
    if (dir.empty()) {
        dir = (std::filesystem::temp_directory_path() / "tarvolin-export-bench").string();
    }
    std::filesystem::create_directories(dir);
    TBenchUi ui;
    if (!MakeInput(ui, dir + "/a.avi", 40) || !MakeInput(ui, dir + "/b.avi", 160)) {
        std::fprintf(stderr, "could not write the input movies\n");
        return 1;
    }
    std::printf("inputs: %s/a.avi %s/b.avi (%dx%d, %d fps, %d s, MJPEG + PCM)\n", dir.c_str(),
                dir.c_str(), W, H, Fps, Seconds);
    const double fast = ExportOnce(ui, dir, false);
    std::printf("engine export, no pause:        %.1f frames/s\n", fast);
    const double paced = ExportOnce(ui, dir, true);
    std::printf("engine export, 10 ms per frame: %.1f frames/s\n", paced);
    return fast > 0 && paced > 0 ? 0 : 1;
}
