// What the export window costs: the same project (two 640 x 480 MJPEG movies with sound joined by
// a slide, then black frames) exported to an MJPEG AVI with PCM sound, once through the bare
// export loop and once through the export window inside the main window, with the progress
// labels, the preview pictures and a real message pump. The runs alternate; the fastest of each
// kind counts, since other work on the machine only ever makes a run slower. The loop from the
// first frame's report on is timed apart from the window's start-up.
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
#include <ctime>
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

using TClock = std::chrono::steady_clock;

double Between(TClock::time_point a, TClock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Processor time of the whole process (every thread), in seconds. Other work on the machine
// stretches the clock on the wall far more than this.
double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// One export's times in seconds: all of it and the loop from the first frame's report on (the
// part that grows with the project), on the wall clock and in processor time.
struct TRun {
    double Total = -1;
    double Loop = -1;
    double CpuTotal = -1;
    double CpuLoop = -1;
};

// Marks the first report of an export.
struct TFirstReport {
    TClock::time_point Wall{};
    double Cpu = 0;
    bool Seen = false;
    void Mark() {
        if (Seen)
            return;
        Seen = true;
        Wall = TClock::now();
        Cpu = CpuNow();
    }
};

TRun BareExport(TProjectNode& root, TWindowUi& ui, const std::string& out) {
    ui.RealPump = false;
    TFirstReport first;
    const auto t0 = TClock::now();
    const double c0 = CpuNow();
    if (!root.ExportMovie(
            0, root.GetFrameCount(), nullptr, [&first](TFrameReport&) { first.Mark(); }, out))
        return {};
    const auto t1 = TClock::now();
    const double c1 = CpuNow();
    return {Between(t0, t1), Between(first.Wall, t1), c1 - c0, c1 - first.Cpu};
}

TRun WindowExport(TMainForm& form, TWindowUi& ui, const std::string& out, int& previews) {
    ui.RealPump = true;
    ui.OutputFile = out;
    TProjectNode& root = *form.GetProject();
    TFirstReport first;
    const auto t0 = TClock::now();
    const double c0 = CpuNow();
    TExportProgress window(root, ui, &form);
    window.cbShowImages->setChecked(true);
    window.cbPlayResult->setChecked(false);
    std::string name = out;
    if (!window.Prepare(
            name,
            [&form, &first](TFrameReport& r) {
                first.Mark();
                form.FrameRendered(r);
            },
            [&form, &previews](const TBitmap* b) {
                ++previews;
                form.PreviewBlit(b);
            },
            "avi"))
        return {};
    window.Execute();
    const auto t1 = TClock::now();
    const double c1 = CpuNow();
    if (!window.Success || window.Stopped)
        return {};
    return {Between(t0, t1), Between(first.Wall, t1), c1 - c0, c1 - first.Cpu};
}

double Fastest(const std::vector<TRun>& runs, double TRun::*field) {
    double best = runs[0].*field;
    for (const TRun& r : runs)
        best = std::min(best, r.*field);
    return best;
}

void PrintResults(const std::vector<TRun>& bare, const std::vector<TRun>& window, int frames,
                  int runs, int previews) {
    const double bt = Fastest(bare, &TRun::Total), wt = Fastest(window, &TRun::Total);
    const double bl = Fastest(bare, &TRun::Loop), wl = Fastest(window, &TRun::Loop);
    std::printf("%d frames of %dx%d at %d fps, MJPEG + PCM, fastest of %d runs each\n", frames, W,
                H, Fps, runs);
    std::printf("bare ExportMovie:   %.3f s (%.1f frames/s), loop %.3f s\n", bt, frames / bt, bl);
    std::printf("through the window: %.3f s (%.1f frames/s), loop %.3f s\n", wt, frames / wt, wl);
    std::printf("previews shown: %d per run\n", previews / runs);
    // Fastest against fastest, and the middle of the run-by-run ratios (each window run against
    // the bare run just before it, which met about the same load).
    auto overhead = [&](double TRun::*field) {
        return (Fastest(window, field) / Fastest(bare, field) - 1) * 100;
    };
    auto paired = [&](double TRun::*field) {
        std::vector<double> r;
        for (size_t i = 0; i < bare.size(); ++i)
            r.push_back(window[i].*field / (bare[i].*field));
        std::sort(r.begin(), r.end());
        return (r[r.size() / 2] - 1) * 100;
    };
    std::printf("window overhead, wall clock:     whole export %+.1f %%, per-frame loop %+.1f %%\n",
                overhead(&TRun::Total), overhead(&TRun::Loop));
    std::printf("window overhead, processor time: whole export %+.1f %%, per-frame loop %+.1f %%\n",
                overhead(&TRun::CpuTotal), overhead(&TRun::CpuLoop));
    std::printf("median of paired runs:           wall loop %+.1f %%, processor loop %+.1f %%\n",
                paired(&TRun::Loop), paired(&TRun::CpuLoop));
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
    std::vector<TRun> bare, window;
    int previews = 0;
    for (int i = 0; i < runs; ++i) {
        bare.push_back(BareExport(root, ui, folder + "/bare.avi"));
        window.push_back(WindowExport(form, ui, folder + "/window.avi", previews));
        std::printf("run %d: bare %.3f s (loop %.3f s), window %.3f s (loop %.3f s)\n", i + 1,
                    bare.back().Total, bare.back().Loop, window.back().Total, window.back().Loop);
    }
    TExportProgress::ExecHook = nullptr;
    if (Fastest(bare, &TRun::Total) <= 0 || Fastest(window, &TRun::Total) <= 0) {
        std::fprintf(stderr, "an export failed\n");
        return 1;
    }
    // The window must have done its work: pictures in the preview at its refresh rate.
    if (previews < runs) {
        std::fprintf(stderr, "the window showed %d previews in %d runs\n", previews, runs);
        return 1;
    }
    PrintResults(bare, window, frames, runs, previews);
    return 0;
}
