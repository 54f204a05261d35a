// What the export window costs: the same project (two 640 x 480 MJPEG movies with sound joined by
// a slide, then black frames) exported to an MJPEG AVI with PCM sound, once through the bare
// export loop and once through the export window inside the main window, with the progress
// labels, the preview pictures and a real message pump. The runs alternate; the fastest of each
// kind counts, since other work on the machine only ever makes a run slower.
//   bench_ExportWindowBench [RUNS]
#include <QApplication>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchUi.h"
#include "MainZunt.h"
#include "MyAVICompress.h"
#include "MyBlankNode.h"
#include "MyEffectNodes.h"
#include "MyExportProgress.h"
#include "MyMovieWriter.h"
#include "MyProjNode.h"

namespace {

constexpr int W = 640, H = 480, Fps = 25, Seconds = 3;
const uint32_t Mjpg = MakeFourCC('m', 'j', 'p', 'g');

// The window's user: names the output file, and pumps for real when asked to.
class TWindowUi : public TBenchUi {
public:
    std::string OutputFile;
    bool RealPump = false;
    std::optional<std::string> SaveFileDialog(const std::string&, const std::vector<TFileFilter>&,
                                              const std::string&, const std::string&) override {
        return OutputFile;
    }
    void ProcessMessages() override {
        if (RealPump)
            QCoreApplication::processEvents();
    }
};

// A moving pattern with a 440 Hz tone.
bool MakeInput(TBenchUi& ui, const std::string& name, int shade) {
    TAviCompress compress(ui);
    if (!compress.SelectCompressor(Mjpg))
        return false;
    TMovieWriter writer(ui);
    TExportSettings s{};
    s.HasAudio = true;
    s.FrameRate = Fps;
    s.Width = W;
    s.Height = H;
    MakePcmFormat(s.AudioFormat, 22050, 2, 16);
    s.AudioPreloadTime = 1.0L / Fps;
    s.FrameCount = Fps * Seconds;
    if (!writer.Open(false, name, compress, s))
        return false;
    const int samples = 22050 / Fps;
    std::vector<int16_t> pcm(size_t(samples) * 2);
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
        for (int k = 0; k < samples; ++k) {
            const double t = double(i * samples + k) / 22050.0;
            pcm[2 * size_t(k)] = pcm[2 * size_t(k) + 1] =
                int16_t(8000 * std::sin(2 * M_PI * 440 * t));
        }
        if (!writer.WriteAudio(pcm.data(), uint32_t(pcm.size() * 2), uint32_t(samples)))
            return false;
        frame.KeyRequest = true;
        if (!writer.WriteVideoFrame(frame))
            return false;
        frame.FrameNumber += 1;
    }
    return writer.Close(Fps);
}

void BuildProject(TProjectNode& root, const std::string& dir) {
    root.SetVideoFormat(W, H, Fps);
    root.ExportSleepMs = 0;
    TTreeNodeData* track = root.VideoTrack;
    track->AddNode("A", amLastChild, nkVideo)->SetFileName(dir + "/a.avi");
    auto* slide = static_cast<TTransNode*>(track->AddNode("Slide", amLastChild, nkTransition));
    slide->SetAddOn("{7602E471-A8CA-46B2-B869-8AF956428110}");
    slide->UserDuration = 1.0L;
    track->AddNode("B", amLastChild, nkVideo)->SetFileName(dir + "/b.avi");
    auto* blank = static_cast<TBlankNode*>(track->AddNode("Black", amLastChild, nkBlank));
    blank->UserDuration = 1.0L;
    root.VideoFourCC = Mjpg;
    root.GetAviCompress().SelectCompressor(Mjpg);
}

double ElapsedSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double BareExport(TProjectNode& root, TWindowUi& ui, const std::string& out) {
    ui.RealPump = false;
    const auto t0 = std::chrono::steady_clock::now();
    if (!root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, out))
        return -1;
    return ElapsedSince(t0);
}

double WindowExport(TMainForm& form, TWindowUi& ui, const std::string& out, int& previews) {
    ui.RealPump = true;
    ui.OutputFile = out;
    TProjectNode& root = *form.GetProject();
    const auto t0 = std::chrono::steady_clock::now();
    TExportProgress window(root, ui, &form);
    window.cbShowImages->setChecked(true);
    window.cbPlayResult->setChecked(false);
    std::string name = out;
    if (!window.Prepare(
            name, [&form](TFrameReport& r) { form.FrameRendered(r); },
            [&form, &previews](const TBitmap* b) {
                ++previews;
                form.PreviewBlit(b);
            },
            "avi"))
        return -1;
    window.Execute();
    const double s = ElapsedSince(t0);
    return window.Success && !window.Stopped ? s : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir dir;
    // The main window keeps its settings here, not in the user's own.
    setenv("XDG_CONFIG_HOME", dir.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);
    const std::string folder = dir.path().toStdString();
    TWindowUi ui;
    if (!MakeInput(ui, folder + "/a.avi", 40) || !MakeInput(ui, folder + "/b.avi", 160)) {
        std::fprintf(stderr, "could not write the input movies\n");
        return 1;
    }
    TMainForm form(&ui);
    form.show();
    // A resize still pending would stop the first export that pumps it.
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    TProjectNode& root = *form.GetProject();
    BuildProject(root, folder);
    form.RefreshProject(false);
    TExportProgress::ExecHook = [](TExportProgress& w) {
        w.Timer1->setInterval(0);
        w.show();
        while (w.isVisible())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return w.result();
    };
    const int frames = root.GetFrameCount();
    std::vector<double> bare, window;
    int previews = 0;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(BareExport(root, ui, folder + "/bare.avi"));
        window.push_back(WindowExport(form, ui, folder + "/window.avi", previews));
        std::printf("run %d: bare %.3f s, window %.3f s\n", i + 1, bare.back(), window.back());
    }
    TExportProgress::ExecHook = nullptr;
    if (*std::min_element(bare.begin(), bare.end()) <= 0 ||
        *std::min_element(window.begin(), window.end()) <= 0) {
        std::fprintf(stderr, "an export failed\n");
        return 1;
    }
    // The window must have done its work: pictures in the preview at its refresh rate.
    if (previews < runs) {
        std::fprintf(stderr, "the window showed %d previews in %d runs\n", previews, runs);
        return 1;
    }
    const double b = *std::min_element(bare.begin(), bare.end());
    const double w = *std::min_element(window.begin(), window.end());
    std::printf("%d frames of %dx%d at %d fps, MJPEG + PCM, %d runs each\n", frames, W, H, Fps,
                runs);
    std::printf("bare ExportMovie:   fastest %.3f s (%.1f frames/s), median %.3f s\n", b,
                frames / b, Median(bare));
    std::printf("through the window: fastest %.3f s (%.1f frames/s), median %.3f s\n", w,
                frames / w, Median(window));
    std::printf("previews shown: %d per run\n", previews / runs);
    std::printf("window overhead: %+.1f %% (fastest), %+.1f %% (median)\n", (w / b - 1) * 100,
                (Median(window) / Median(bare) - 1) * 100);
    return 0;
}
