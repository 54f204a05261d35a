// The project root's movie export: frames of a range with their sound into the movie writer;
// and what every export run shares.
#include <algorithm>
#include <exception>
#include <new>

#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyMovieNode.h"
#include "MyMovieWriter.h"
#include "MyProjNode.h"
#include "MyWorkerThread.h"

namespace {

// Asks for a key frame on the first frame and whenever more than maxGap frames have passed
// since the last frame the encoder really stored as one (so a key frame just stored is not
// asked for again on the next frame).
void AskKeyFrame(TVideoFrameInfo& frame, bool firstFrame, int32_t maxGap) {
    if (frame.Flags & AVIIF_KEYFRAME)
        frame.FramesSinceKey = 0;
    if (firstFrame || frame.FramesSinceKey > maxGap)
        frame.KeyRequest = true;
    frame.FramesSinceKey += 1;
}

// Tells the window of a frame that has gone into the file.
void ReportExported(int32_t shown, const TVideoFrameInfo& frame,
                    const TExportFrameCallback& onFrame, const TFrameCallback& onReport) {
    if (onFrame)
        onFrame(shown, 0, frame.Bitmap);
    if (onReport) {
        TFrameReport r;
        r.Frame = shown + 1;
        r.Export = true;
        onReport(r);
    }
}

} // namespace

TAviCompress& TProjectNode::GetAviCompress() {
    if (!Ui)
        throw EInvalidOperation("TProjectNode: no user interface for the compressor");
    if (!AviCompress)
        AviCompress = CompressorListOverride
                          ? std::make_unique<TAviCompress>(*Ui, *CompressorListOverride)
                          : std::make_unique<TAviCompress>(*Ui);
    return *AviCompress;
}

IMovieWriter& TProjectNode::GetMovieWriter() {
    if (MovieWriterOverride)
        return *MovieWriterOverride;
    if (!Ui)
        throw EInvalidOperation("TProjectNode: no user interface for the movie writer");
    if (!MovieWriter)
        MovieWriter = std::make_unique<TMovieWriter>(*Ui);
    return *MovieWriter;
}

bool TProjectNode::OpenExportAudio(TAudioFormat& exportFormat) {
    if (!SuggestExportFormat(exportFormat))
        return false;
    TAudioCodec& codec = GetAudioCodec();
    if (!codec.OpenStream(AudioFormat, exportFormat)) {
        std::string name;
        codec.GetCodecName(static_cast<uint32_t>(AudioMode), name);
        Ui->ShowMessage("Export audio format " + name +
                            " is locked exclusively to run on particular application",
                        TMsgKind::Error);
        return false;
    }
    CodecOpen = true;
    return true;
}

TExportSettings TProjectNode::MovieExportSettings(const TAudioFormat& exportFormat,
                                                  int32_t frames) {
    TExportSettings settings{};
    settings.HasAudio = AudioOn;
    settings.FrameRate = GetFPS();
    settings.Width = Width;
    settings.Height = Height;
    settings.AudioFormat = exportFormat;
    settings.AudioPreloadTime = 1.0L / GetFPS();
    settings.FrameCount = frames;
    return settings;
}

bool TProjectNode::ExportMovie(int32_t first, int32_t count, const TExportFrameCallback& onFrame,
                               const TFrameCallback& onReport, const std::string& fileName) {
    Abort = false;
    if (GetFPS() == 0 || !Ui)
        return false;
    LastOutputFile = fileName;
    const int32_t frames = GetFrameCount();
    if (frames - first - 1 < count)
        count = frames - first - 1;
    IMovieWriter* writer = nullptr; // set once it has opened its file
    TExportRun run;
    run.Open = [&] {
        BeginRender();
        TAudioFormat exportFormat = AudioFormat;
        if (AudioMode != 1 && !OpenExportAudio(exportFormat))
            return false;
        const TExportSettings settings = MovieExportSettings(exportFormat, frames);
        IMovieWriter& w = GetMovieWriter();
        w.SetProfile(WMProfile);
        TAviCompress& compressor = GetAviCompress();
        compressor.SetEncodeThreads(EffectiveThreadCount(RenderThreads));
        if (!w.Open(IsWMVOutput(), fileName, compressor, settings))
            return false;
        writer = &w;
        Target = tgMovieWriter;
        return true;
    };
    run.Frames = [&] {
        return Pipelined() && writer->CanQueueVideo()
                   ? ExportFramesPipelined(*writer, first, count, onFrame, onReport)
                   : ExportFramesPlain(*writer, first, count, onFrame, onReport);
    };
    run.Close = [&](bool& result) {
        // A file that could not be completed is not a success.
        if (writer && !writer->Close(GetFPS()))
            result = false;
    };
    return RunExport(fileName, first, run);
}

bool TProjectNode::RunExport(const std::string& fileName, int32_t first, const TExportRun& run) {
    const TAudioFormat kept = AudioFormat;
    bool result = false;
    bool nodesOpen = false;
    std::exception_ptr failure;
    // Each step runs whatever the steps before it did; the first exception is kept for later.
    const auto step = [&failure](const auto& fn) {
        try {
            fn();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    Busy = true;
    step([&] {
        if (!run.Open())
            return;
        OpenForRender(first);
        nodesOpen = true;
        result = run.Frames();
    });
    // The nodes were opened for the export's format: they close before it is put back.
    step([&] {
        if (nodesOpen)
            CloseAllAfterRender();
    });
    step([&] { run.Close(result); });
    AudioFormat = kept;
    step([&] {
        if (CodecOpen)
            GetAudioCodec().CloseStream();
    });
    CodecOpen = false;
    Busy = false;
    if (!failure)
        return result;
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        Ui->ShowMessage("Not enough memory to export " + fileName, TMsgKind::Error);
    }
    return false;
}

void TProjectNode::RenderExportFrame(int32_t i) {
    Ui->ProcessMessages();
    CurrentTime = FrameTime(i);
    SoundFrame = i;
    RenderFrame(GetOutputBitmap(), AudioOn, true, CurrentTime);
}

bool TProjectNode::ExportFramesPlain(IMovieWriter& writer, int32_t first, int32_t count,
                                     const TExportFrameCallback& onFrame,
                                     const TFrameCallback& onReport) {
    TVideoFrameInfo frame;
    frame.KeyRequest = true;
    int32_t i = first;
    for (; i <= first + count; ++i) {
        if (Abort)
            break;
        RenderExportFrame(i);
        AskKeyFrame(frame, i == first, Round(GetFPS()));
        if (AudioOn && !WriteAudioChunk(false, i))
            return false;
        if (!writer.WriteVideoFrame(frame))
            return false;
        frame.KeyRequest = false;
        frame.FrameNumber += 1;
        ReportExported(Round(GetFPS() * CurrentTime), frame, onFrame, onReport);
        Ui->ProcessMessages();
        Ui->Sleep(ExportSleepMs);
    }
    // What the codec still holds goes into the file.
    return !AudioOn || WriteAudioChunk(true, i);
}

bool TCustomProjectNode::Pipelined() const {
    return EffectiveThreadCount(RenderThreads) > 1;
}

int TCustomProjectNode::DecodeLanes() const {
    return EffectiveThreadCount(RenderThreads);
}

void TCustomProjectNode::MovieReadsAhead(TMovieNode* movie) {
    if (!ReadAheadMovies.empty() && ReadAheadMovies.front() == movie)
        return;
    std::erase(ReadAheadMovies, movie);
    ReadAheadMovies.insert(ReadAheadMovies.begin(), movie);
    if (ReadAheadMovies.size() > MaxMoviesReadingAhead) {
        ReadAheadMovies.back()->StopReadingAhead();
        ReadAheadMovies.pop_back();
    }
}

void TCustomProjectNode::MovieLeavesReadAhead(TMovieNode* movie) {
    std::erase(ReadAheadMovies, movie);
}

// The frames queued to the encoders, oldest first, each with the sound mixed when it rendered:
// a frame's sound goes into the file just before its picture, as the plain loop writes them.
class TProjectNode::TExportQueue {
public:
    TExportQueue(TProjectNode& root, IMovieWriter& writer, const TExportFrameCallback& onFrame,
                 const TFrameCallback& onReport)
        : Root(root), Writer(writer), OnFrame(onFrame), OnReport(onReport),
          Entries(size_t(std::max(1, writer.VideoQueueDepth()))) {
        Frame.KeyRequest = true;
    }

    // The frame the loop keeps: key requests go in, the last written frame's flags come out.
    TVideoFrameInfo Frame;

    bool Full() const { return Count == int(Entries.size()); }

    // Mixes frame i's sound and starts encoding its picture.
    bool Queue(int32_t i) {
        TEntry& e = Entries[(First + size_t(Count)) % Entries.size()];
        bool mixed = false;
        if (!Root.MixAudioChunk(i, mixed))
            return false;
        e.HasAudio = mixed;
        if (mixed)
            e.Audio.assign(Root.Mix.Buffer.begin(), Root.Mix.Buffer.end());
        e.Time = Root.CurrentTime;
        if (!Writer.QueueVideoFrame(Frame))
            return false;
        ++Count;
        Frame.KeyRequest = false;
        Frame.FrameNumber += 1;
        return true;
    }

    // The oldest frame into the file, and its report.
    bool WriteOldest() {
        TEntry& e = Entries[First];
        First = (First + 1) % Entries.size();
        --Count;
        if (e.HasAudio && !Root.SendAudio(false, e.Audio.data(), e.Audio.size()))
            return false;
        if (!Writer.WriteQueuedVideoFrame(Frame))
            return false;
        ReportExported(Round(Root.GetFPS() * e.Time), Frame, OnFrame, OnReport);
        return true;
    }

    // Every queued frame into the file; a stop in one of their reports drops the later ones.
    bool WriteAll() {
        const bool stopped = Root.Abort;
        while (Count > 0) {
            if (Root.Abort && !stopped)
                return true;
            if (!WriteOldest())
                return false;
        }
        return true;
    }

private:
    struct TEntry {
        Extended Time = 0;
        bool HasAudio = false;
        std::vector<uint8_t> Audio;
    };
    TProjectNode& Root;
    IMovieWriter& Writer;
    const TExportFrameCallback& OnFrame;
    const TFrameCallback& OnReport;
    std::vector<TEntry> Entries;
    size_t First = 0;
    int Count = 0;
};

bool TProjectNode::ExportFramesPipelined(IMovieWriter& writer, int32_t first, int32_t count,
                                         const TExportFrameCallback& onFrame,
                                         const TFrameCallback& onReport) {
    TExportQueue queue(*this, writer, onFrame, onReport);
    int32_t i = first;
    for (; i <= first + count; ++i) {
        if (Abort)
            break;
        // Renders while the workers encode the frames before.
        RenderExportFrame(i);
        const bool stopped = Abort;
        if (queue.Full() && !queue.WriteOldest())
            return false;
        // A stop in that frame's report ends the export where the plain loop would see it: the
        // frames rendered after it never reach the file.
        if (Abort && !stopped)
            return !AudioOn || WriteAudioChunk(true, i);
        AskKeyFrame(queue.Frame, i == first, Round(GetFPS()));
        if (!queue.Queue(i))
            return false;
        Ui->ProcessMessages();
        Ui->Sleep(ExportSleepMs);
    }
    if (!queue.WriteAll())
        return false;
    // What the codec still holds goes into the file.
    return !AudioOn || WriteAudioChunk(true, i);
}
