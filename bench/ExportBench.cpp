// End-to-end export of the composition users make most, through the root's export loop with the
// pause off: three MJPEG movies with PCM sound joined by 1 s dissolves, a white title half blended
// over the first clip from 2 s to 8 s, into an MJPEG AVI with PCM sound. The movies are made by
// the caller (bench/export_vs_ffmpeg.sh makes them with ffmpeg), so ffmpeg and the engine work
// on the same files.
//   bench_ExportBench export DIR WIDTH HEIGHT THREADS [lossless]
//       DIR holds a.avi, b.avi, c.avi; writes DIR/engine-WIDTHxHEIGHT-THREADS.avi (uncompressed
//       with "lossless") and prints one line: frames, seconds, frames/s, peak memory.
//   bench_ExportBench psnr FILE REFERENCE
//       PSNR over B, G, R of every frame of FILE against REFERENCE, both decoded by our reader
//       (libjpeg-turbo for MJPEG, with JPEG's own chroma siting).
//   bench_ExportBench decode FILE
//       MJPEG decode of every frame of FILE to B, G, R: our reader against libavcodec +
//       libswscale in this process; checks both give the same pictures first.
//   bench_ExportBench open FILE
//       Opens one movie and prints its frames, seconds, sound chunks and the time the open took.
//   bench_ExportBench whole FILE OUT
//       Exports the whole of one movie with its sound (MJPEG, 44.1 kHz 16-bit PCM) into OUT.
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "BenchUi.h"
#include "ITreeItem.h"
#include "MyAVICompress.h"
#include "MyAVIReader.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyProjNode.h"
#include "MyTimeData.h"
#include "MyTransitions.h"

namespace {

constexpr int Fps = 25;
const char* const DissolveId = "{C4E3FBC0-F900-11D6-A6C2-0050DA5016A5}";
const char* const OpaqueTextId = "{77D4093F-9B0C-405E-9647-4E27296E2D8E}";

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long PeakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Exports every frame of root to out and prints the time, the rate and the peak memory.
int TimedExport(TProjectNode& root, int32_t frames, const std::string& out) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!root.ExportMovie(0, frames, nullptr, nullptr, out))
        return 1;
    const double s = Seconds(t0);
    std::printf("%d frames %.3f s %.1f frames/s peak %ld kB\n", frames, s, frames / s, PeakKb());
    return 0;
}

// The title: white 36-point text, half blended, over the clip's seconds 2 to 8.
void AddTitle(TTreeNodeData* clip, int height) {
    auto* o = static_cast<TOverlayNode*>(clip->AddNode("Title", amLastChild, nkOverlay));
    o->SetAddOn(OpaqueTextId);
    o->SetOffset(2);
    o->AutoDuration = false;
    o->UserDuration = 6;
    if (TTimeData* text = o->Curves->FindByKind(ckText))
        text->GetPoint(0)->Lines = {"A title over the first clip"};
    if (TTimeData* font = o->Curves->FindByKind(ckFont)) {
        font->GetPoint(0)->Font.Size = 36 * height / 480;
        font->GetPoint(0)->Font.Color = 0xFFFFFF;
    }
    if (TTimeData* level = o->Curves->FindByKind(ckLevel))
        level->GetPoint(0)->SetLevel(0);
}

// A 1 s cross-fade. The dissolve is known by its identifier but not offered by the add-on
// manager, so the transition is bound to the class itself, as the manager would bind it.
void AddDissolve(TTreeNodeData* track) {
    auto* t = static_cast<TTransNode*>(track->AddNode("D", amLastChild, nkTransition));
    t->SetAddOn(DissolveId);
    t->AddOn = std::make_unique<TTransDissolve>(*t->Bridge);
    t->Curves->UsesPicture = t->AddOn->UsesPicture;
    t->UserDuration = 1;
}

int Export(const std::string& dir, int w, int h, int threads, bool lossless) {
    TBenchUi ui;
    TMemTree tree;
    TProjectNode root("Project", tree.AddRoot("Project"));
    root.Ui = &ui;
    root.SetVideoFormat(w, h, Fps);
    root.ExportSleepMs = 0;
    root.RenderThreads = threads;
    // The sound of the movies, as ffmpeg writes it: 44.1 kHz, 16-bit stereo PCM.
    MakePcmFormat(root.AudioFormat, 44100, 2, 16);
    root.AudioFormatFixed = true;
    TTreeNodeData* track = root.VideoTrack;
    const char* names[] = {"a", "b", "c"};
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            AddDissolve(track);
        TTreeNodeData* clip = track->AddNode(names[i], amLastChild, nkVideo);
        clip->SetFileName(dir + "/" + names[i] + ".avi");
        if (i == 0)
            AddTitle(clip, h);
    }
    root.Refresh();
    root.GetAviCompress().SelectCompressor(lossless ? 0 : MakeFourCC('m', 'j', 'p', 'g'));
    const int32_t frames = root.GetFrameCount();
    const std::string out = dir + "/engine-" + std::to_string(w) + "x" + std::to_string(h) + "-" +
                            std::to_string(threads) + (lossless ? "-lossless" : "") + ".avi";
    return TimedExport(root, frames, out);
}

int OpenOne(const std::string& file) {
    const auto t0 = std::chrono::steady_clock::now();
    TAviReader reader;
    if (!reader.Open(file))
        return 1;
    const double s = Seconds(t0);
    std::printf("%d frames %.3f s of movie, %zu sound chunks, %d segments; opened in %.3f s\n",
                reader.GetFrameCount(), double(reader.GetDuration()),
                reader.GetAudioChunks().size(), reader.GetSegmentCount(), s);
    return 0;
}

int ExportWhole(const std::string& file, const std::string& out) {
    TBenchUi ui;
    TMemTree tree;
    TProjectNode root("Project", tree.AddRoot("Project"));
    root.Ui = &ui;
    TAviReader probe;
    if (!probe.Open(file))
        return 1;
    root.SetVideoFormat(probe.GetWidth(), probe.GetHeight(), Fps);
    root.ExportSleepMs = 0;
    MakePcmFormat(root.AudioFormat, 44100, probe.GetDecodedPcmFormat().Wfx.nChannels, 16);
    root.AudioFormatFixed = true;
    root.VideoTrack->AddNode("m", amLastChild, nkVideo)->SetFileName(file);
    root.Refresh();
    root.GetAviCompress().SelectCompressor(MakeFourCC('m', 'j', 'p', 'g'));
    const int32_t frames = root.GetFrameCount();
    return TimedExport(root, frames, out);
}

// libavcodec + libswscale to B, G, R, frame by frame, as an application would without us.
struct TLibavDecode {
    AVFormatContext* Fmt = nullptr;
    AVCodecContext* Ctx = nullptr;
    SwsContext* Sws = nullptr;
    AVPacket* Pkt = av_packet_alloc();
    AVFrame* Frame = av_frame_alloc();
    std::vector<uint8_t> Bgr;
    int Stream = -1;

    bool Open(const std::string& file) {
        if (avformat_open_input(&Fmt, file.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(Fmt, nullptr) < 0)
            return false;
        Stream = av_find_best_stream(Fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (Stream < 0)
            return false;
        const AVCodecParameters* par = Fmt->streams[Stream]->codecpar;
        Ctx = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
        avcodec_parameters_to_context(Ctx, par);
        return avcodec_open2(Ctx, Ctx->codec, nullptr) >= 0;
    }
    // Every frame in turn; each one converted, the last one kept in Bgr.
    int DecodeAll() {
        av_seek_frame(Fmt, Stream, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(Ctx);
        int n = 0;
        while (av_read_frame(Fmt, Pkt) >= 0) {
            if (Pkt->stream_index == Stream && avcodec_send_packet(Ctx, Pkt) >= 0)
                while (avcodec_receive_frame(Ctx, Frame) >= 0) {
                    Convert();
                    ++n;
                }
            av_packet_unref(Pkt);
        }
        return n;
    }
    // One scaler context for the whole file, made with the first frame (a cached context
    // compares the full-range format names it was given against the ones it keeps, and so
    // rebuilds itself on every frame).
    void Convert() {
        const int w = Frame->width, h = Frame->height;
        if (!Sws)
            Sws = sws_getContext(w, h, AVPixelFormat(Frame->format), w, h, AV_PIX_FMT_BGR24,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
        Bgr.resize(size_t(w) * h * 3);
        uint8_t* dst[4] = {Bgr.data()};
        int stride[4] = {w * 3};
        sws_scale(Sws, Frame->data, Frame->linesize, 0, h, dst, stride);
    }
    ~TLibavDecode() {
        sws_freeContext(Sws);
        av_frame_free(&Frame);
        av_packet_free(&Pkt);
        avcodec_free_context(&Ctx);
        avformat_close_input(&Fmt);
    }
};

int Decode(const std::string& file) {
    TAviReader reader;
    TLibavDecode libav;
    if (!reader.Open(file) || !libav.Open(file))
        return 1;
    const int frames = reader.GetFrameCount();
    TBitmap b(reader.GetWidth(), reader.GetHeight());
    // The work checked first: the last frame of both ways is the same picture.
    DecoderOptions[doUseMMIOReader] = false;
    if (!reader.GetFrame(frames - 1, b) || libav.DecodeAll() != frames)
        return 1;
    double err = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width() * 3; ++x) {
            const double d = double(b.ScanLine(y)[x]) - libav.Bgr[size_t(y) * b.Width() * 3 + x];
            err += d * d;
        }
    const double psnr = 10 * std::log10(255.0 * 255.0 * b.Width() * b.Height() * 3 / err);
    double best[2] = {1e9, 1e9};
    for (int round = 0; round < 5; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < frames; ++i)
            if (!reader.GetFrame(i, b))
                return 1;
        best[0] = std::min(best[0], Seconds(t0));
        t0 = std::chrono::steady_clock::now();
        libav.DecodeAll();
        best[1] = std::min(best[1], Seconds(t0));
    }
    std::printf("MJPEG decode to BGR, %d frames %dx%d (best of 5; pictures agree at %.1f dB):\n"
                "  engine (libjpeg-turbo)      %.1f frames/s\n"
                "  libavcodec + libswscale     %.1f frames/s\n"
                "  ratio                       %.2f\n",
                frames, b.Width(), b.Height(), psnr, frames / best[0], frames / best[1],
                best[1] / best[0]);
    return 0;
}

int Psnr(const std::string& file, const std::string& reference) {
    TAviReader a, b;
    if (!a.Open(file) || !b.Open(reference) || a.GetFrameCount() != b.GetFrameCount())
        return 1;
    TBitmap x(a.GetWidth(), a.GetHeight()), y(a.GetWidth(), a.GetHeight());
    double err = 0;
    for (int i = 0; i < a.GetFrameCount(); ++i) {
        if (!a.GetFrame(i, x) || !b.GetFrame(i, y))
            return 1;
        for (int r = 0; r < x.Height(); ++r)
            for (int c = 0; c < x.Width() * 3; ++c) {
                const double d = double(x.ScanLine(r)[c]) - y.ScanLine(r)[c];
                err += d * d;
            }
    }
    const double n = double(a.GetFrameCount()) * x.Width() * x.Height() * 3;
    std::printf("%.2f\n", 10 * std::log10(255.0 * 255.0 * n / err));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The title's text needs a GUI application for its fonts.
    QGuiApplication app(argc, argv);
    // libswscale warns about the full-range format names on every conversion.
    av_log_set_level(AV_LOG_ERROR);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 5 && args[0] == "export")
        return Export(args[1], std::stoi(args[2]), std::stoi(args[3]), std::stoi(args[4]),
                      args.size() > 5 && args[5] == "lossless");
    if (args.size() == 2 && args[0] == "decode")
        return Decode(args[1]);
    if (args.size() == 3 && args[0] == "psnr")
        return Psnr(args[1], args[2]);
    if (args.size() == 2 && args[0] == "open")
        return OpenOne(args[1]);
    if (args.size() == 3 && args[0] == "whole")
        return ExportWhole(args[1], args[2]);
    std::fprintf(stderr, "usage: bench_ExportBench export DIR W H THREADS [lossless]\n"
                         "       bench_ExportBench psnr FILE REFERENCE\n"
                         "       bench_ExportBench decode FILE\n"
                         "       bench_ExportBench open FILE\n"
                         "       bench_ExportBench whole FILE OUT\n");
    return 2;
}
