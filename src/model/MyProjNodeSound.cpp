// The project root's runs: the sound collected from the nodes for each frame and the WAV export.
#include <algorithm>
#include <optional>

#include "IUiServices.h"
#include "MyAudioCodec.h"
#include "MyMovieWriter.h"
#include "MyProjNode.h"
#include "MyWavStreaming.h"
#include "MyWavWriter.h"

void TProjectNode::ForEachEnabledDurable(const std::function<void(TCustomDurableNode*)>& fn,
                                         bool stopOnAbort) {
    std::function<void(TTreeNodeData*)> walk = [&](TTreeNodeData* n) {
        for (int i = 0; i < n->GetChildCount(); ++i) {
            TTreeNodeData* c = n->GetChild(i);
            if (stopOnAbort && Abort)
                return;
            if (c->IsEnabled())
                if (auto* d = dynamic_cast<TCustomDurableNode*>(c))
                    fn(d);
            walk(c);
        }
    };
    walk(this);
}

bool TProjectNode::OpenForRender(int32_t startFrame) {
    Mixer.ClearSources();
    ForEachEnabledDurable(
        [this, startFrame](TCustomDurableNode* d) {
            d->SetAudioHandler([this](TAudioSourceInfo& s) { return AudioHandler(s); });
            d->OpenForRender(startFrame);
        },
        true);
    // Movies that effects draw over the frames read ahead like the movie clips.
    SetMovieInterfacesReadAhead(Pipelined());
    return true;
}

void TProjectNode::CloseAllAfterRender() {
    // Runs after a stop or an abort too: whatever ended the run, the nodes give back what the
    // run opened.
    ForEachEnabledDurable([](TCustomDurableNode* d) { d->CloseAfterRender(); }, false);
    SetMovieInterfacesReadAhead(false);
}

bool TProjectNode::AudioHandler(TAudioSourceInfo& source) {
    if (Abort)
        return true;
    if (!AudioOn)
        return false;
    return Mixer.AddSource(std::move(source));
}

TAudioCodec& TProjectNode::GetAudioCodec() {
    if (!AudioCodec)
        AudioCodec = std::make_unique<TAudioCodec>(Ui);
    return *AudioCodec;
}

bool TProjectNode::SuggestExportFormat(TAudioFormat& exportFormat) {
    TAudioCodec& codec = GetAudioCodec();
    if (codec.SuggestFormat(static_cast<uint32_t>(AudioMode), AudioFormat, exportFormat))
        return true;
    std::string name;
    codec.GetCodecName(static_cast<uint32_t>(AudioMode), name);
    Ui->ShowMessage("Can not access codec " + name + ". This may be caused by \n" +
                        "switching between different output formats or codec is not "
                        "supported.\n" +
                        "Closing and reopen the application may help.\n" +
                        "Sorry for the inconvenience.",
                    TMsgKind::Error);
    return false;
}

bool TProjectNode::SendAudio(bool final, const uint8_t* data, size_t size) {
    switch (Target) {
    case tgPreview: {
        if (!Streamer || Streamer->IsStopped())
            return false;
        if (!BufferAudio) {
            TAudioBlock block(data, size);
            if (Streamer->Write(block) < 0)
                return false;
            ++StreamedBlocks;
            return true;
        }
        // Gather about half the sample rate's worth of bytes before handing them on.
        const size_t capacity = static_cast<size_t>(Round64(AudioFormat.Wfx.nSamplesPerSec * 0.5L));
        if (Gather.size() != capacity) {
            Gather.assign(capacity, 0);
            GatherFill = 0;
        }
        if (capacity - GatherFill < size && GatherFill > 0) {
            TAudioBlock block(Gather.data(), GatherFill);
            GatherFill = 0;
            if (Streamer->Write(block) < 0)
                return false;
            ++StreamedBlocks;
        }
        if (size > capacity) {
            // Larger than the whole gather buffer: it goes on by itself.
            TAudioBlock block(data, size);
            if (Streamer->Write(block) < 0)
                return false;
            ++StreamedBlocks;
            return true;
        }
        std::copy(data, data + size, Gather.begin() + static_cast<std::ptrdiff_t>(GatherFill));
        GatherFill += size;
        return true;
    }
    case tgMovieWriter: {
        IMovieWriter& writer = GetMovieWriter();
        const uint32_t samples = static_cast<uint32_t>(AudioFormat.Wfx.nAvgBytesPerSec
                                                           ? static_cast<int64_t>(size) *
                                                                 AudioFormat.Wfx.nSamplesPerSec /
                                                                 AudioFormat.Wfx.nAvgBytesPerSec
                                                           : 0);
        if (AudioMode == 1)
            return writer.WriteAudio(data, static_cast<uint32_t>(size), samples);
        if (!GetAudioCodec().Encode(final, data, static_cast<uint32_t>(size), Encoded))
            return false;
        return Encoded.empty() ||
               writer.WriteAudio(Encoded.data(), static_cast<uint32_t>(Encoded.size()), samples);
    }
    case tgWavWriter: {
        if (!WavWriter)
            return false;
        if (AudioMode == 1)
            return WavWriter->WriteData(data, static_cast<int64_t>(size));
        if (!GetAudioCodec().Encode(final, data, static_cast<uint32_t>(size), Encoded))
            return false;
        return Encoded.empty() || WavWriter->WriteData(Encoded.data(), Encoded.size());
    }
    default:
        return true;
    }
}

bool TProjectNode::WriteAudioChunk(bool final, int32_t frame) {
    if (Target == tgMovieWriter && final) {
        // The end of a movie export: only what the codec still holds. Every frame has had its
        // block, so there is nothing to mix.
        if (AudioMode == 1 || !CodecOpen)
            return true;
        if (!GetAudioCodec().Encode(true, nullptr, 0, Encoded))
            return false;
        return Encoded.empty() || GetMovieWriter().WriteAudio(
                                      Encoded.data(), static_cast<uint32_t>(Encoded.size()), 0);
    }
    bool mixed = false;
    if (!MixAudioChunk(frame, mixed))
        return false;
    return !mixed || SendAudio(final, Mix.Buffer.data(), Mix.Buffer.size());
}

bool TProjectNode::MixAudioChunk(int32_t frame, bool& mixed) {
    mixed = false;
    if (Abort || !AudioOn)
        return true;
    Mix.Format = AudioFormat;
    Mix.FirstLeft = Mix.FirstRight = 0;
    Mix.Clipped = false;
    // The block is the frame's share of the sample line, whatever length its sources had.
    const size_t bytes = size_t(FrameSamples(frame)) * size_t(GetBlockAlign(AudioFormat));
    if (!Mixer.HasSources()) {
        // A frame nothing sounds in still takes its share of the line, as silence: skipping it
        // would pull all later sound ahead of its pictures.
        if (bytes == 0)
            return true;
        Mix.Buffer.assign(bytes, PcmSilenceByte(AudioFormat));
        mixed = true;
        return true;
    }
    if (!Mixer.MixSources(Mix))
        return false;
    if (bytes > 0 && Mix.Buffer.size() != bytes)
        Mix.Buffer.resize(bytes, PcmSilenceByte(AudioFormat));
    mixed = true;
    return true;
}

namespace {

// How a WAV export that reached its file ended.
void ReportWaveExport(IUiServices& ui, bool result, bool aborted, const std::string& fileName,
                      const std::string& why) {
    if (result)
        ui.ShowMessage("Finish writing " + fileName);
    else if (aborted)
        ui.ShowMessage("Finish writing interupted file " + fileName);
    else
        ui.ShowMessage("Fail to write " + fileName + (why.empty() ? "" : " (" + why + ")"),
                       TMsgKind::Error);
}

} // namespace

bool TProjectNode::ExportWave(bool raw, int32_t first, const TStatusPanel* statusPanel,
                              const std::string& fileName, int32_t count) {
    Abort = false;
    if (GetFPS() == 0 || count == 0 || !Ui)
        return false;
    std::optional<std::string> keptStatus;
    bool ended = false; // the file was completed or abandoned, and the user hears how
    std::string why;
    TExportRun run;
    run.Open = [&] {
        if (statusPanel)
            keptStatus = statusPanel->GetText();
        TAudioFormat exportFormat = AudioFormat;
        if (AudioMode != 1) {
            // Encoded sound is made from CD-quality PCM; the nodes deliver that format from the
            // start, so they are opened only once it is set.
            MakePcmFormat(AudioFormat, 44100, 2, 16);
            if (!SuggestExportFormat(exportFormat) ||
                !GetAudioCodec().OpenStream(AudioFormat, exportFormat))
                return false;
            CodecOpen = true;
        }
        WavWriter = std::make_unique<TWavWriter>(*Ui);
        return WavWriter->Initiate(raw, fileName, exportFormat);
    };
    run.Frames = [&] {
        const bool ok = EndWaveFile(ExportWaveFrames(first, count, statusPanel), why);
        ended = true;
        return ok;
    };
    run.Close = [&](bool&) {
        // A file still open here was cut short by an exception: the old file stays.
        if (WavWriter && WavWriter->IsOpen())
            WavWriter->Abandon();
        WavWriter.reset();
        if (keptStatus)
            statusPanel->SetText(*keptStatus);
    };
    const bool result = RunExport(fileName, first, run);
    if (ended)
        ReportWaveExport(*Ui, result, Abort, fileName, why);
    return result;
}

bool TProjectNode::ExportWaveFrames(int32_t first, int32_t count, const TStatusPanel* statusPanel) {
    TBusyCursorGuard cursor(Ui);
    Target = tgWavWriter;
    int32_t k = 0;
    const int32_t last = CheckedAdd(CheckedAdd(first, count), 1);
    // Every frame writes its share of the sample line, silent or not, so the file holds the
    // sound of the project's frames and no more.
    const int32_t frames = GetFrameCount();
    for (int32_t i = first; i <= last; ++i) {
        if (Abort)
            return true;
        Ui->ProcessMessages();
        CurrentTime = FrameTime(i);
        SoundFrame = i;
        if (i < frames) {
            if (!RenderFrame(GetOutputBitmap(), true, false, CurrentTime))
                return false;
            if (!WriteAudioChunk(false, i))
                return false;
        }
        Ui->Sleep(2);
        ++k;
        if (i % 10 == 0 && statusPanel)
            statusPanel->SetText("Progress: " + std::to_string(int64_t(k) * 100 / count) +
                                 "% (Press Escape to stop)");
    }
    return true;
}

bool TProjectNode::EndWaveFile(bool result, std::string& why) {
    // What the codec still holds belongs to the file too.
    if (result && CodecOpen) {
        if (!GetAudioCodec().Encode(true, nullptr, 0, Encoded) ||
            (!Encoded.empty() && !WavWriter->WriteData(Encoded.data(), Encoded.size())))
            result = false;
    }
    // The file counts only when it was completed; a failed export leaves the old file as it was.
    if (!result && !Abort)
        WavWriter->Abandon();
    else if (!WavWriter->CloseFile())
        result = false;
    why = WavWriter->ErrorText();
    return result;
}

// ---- playback -----------------------------------------------------------------------------------

size_t TProjectNode::GetThreadCount() {
    std::lock_guard<std::mutex> lock(ThreadListLock);
    return ThreadList.size();
}

void TProjectNode::FreeEndedThreads() {
    // Threads are joined here, on the GUI thread, never from another thread's end callback.
    std::vector<std::unique_ptr<TPassiveStreamer>> ended;
    {
        std::lock_guard<std::mutex> lock(ThreadListLock);
        for (auto it = ThreadList.begin(); it != ThreadList.end();) {
            // One that never started has no thread to wait for.
            if ((*it)->IsTerminated() || !(*it)->IsStarted()) {
                ended.push_back(std::move(*it));
                it = ThreadList.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Freed outside the lock: freeing waits for the thread.
}

void TProjectNode::PrerollBlocks(Extended fps, const TAudioFormat& format, int32_t& count,
                                 size_t& bytes) {
    count = Round(fps * 0.5L) * 2 + 1;
    bytes = static_cast<size_t>(FrameAudioBytes(format, fps));
}

void TProjectNode::StopStreamer() {
    if (Streamer)
        Streamer->Stop();
}

// Longer than any pump of a running loop takes unless something waited for the user.
constexpr int64_t PumpStallMs = 250;

class TProjectNode::TPlayLoop {
public:
    // Reads the clock: the pictures are timed from here.
    TPlayLoop(TProjectNode& node, int32_t startFrame, int32_t endFrame, bool realTime,
              const TFrameCallback& onReport, const TPictureControl& image)
        : N(node), Ui(*node.Ui), StartFrame(startFrame), EndFrame(endFrame), RealTime(realTime),
          OnReport(onReport), Image(image), T0(Ui.TickCount()),
          Current(realTime ? startFrame : startFrame - 1), LastDrawn(startFrame - 1),
          NextSound(startFrame), AheadLimit(node.BufferAudio ? 1 : Round(node.GetFPS() * 0.5L)) {}

    // Starts the streamer and its pre-roll when the run has sound.
    void StartSound(bool sound);
    // Plays until the end, a stop or a frame that cannot be drawn; Play's result.
    bool Run();

private:
    void Preroll();
    void Pump();
    void Report(int32_t frame);
    bool FinalReport();
    void StartClockAfterPreroll();
    // Moves to the frame to show; the run's result when that ends it.
    std::optional<bool> NextFrame();
    // Sends the sound of the next frame when the device's queue runs short; true when it did.
    bool FeedSound();
    // Draws the current frame; the run's result when that ends it.
    std::optional<bool> DrawCurrent();
    void ShowPicture();

    TProjectNode& N;
    IUiServices& Ui;
    const int32_t StartFrame;
    const int32_t EndFrame;
    const bool RealTime;
    const TFrameCallback& OnReport;
    const TPictureControl& Image;
    int64_t T0;
    // Frame by frame, the start frame is the first one drawn.
    int32_t Current;
    int32_t LastDrawn;
    int32_t NextSound;
    int32_t LastReported = -1;
    const int32_t AheadLimit;
    bool Sound = false;
    bool EndReached = false;
    bool ClockRunning = true;
    int64_t PrerollCount = 0;
    int64_t PrerollDeadline = 0;
};

void TProjectNode::TPlayLoop::StartSound(bool sound) {
    Sound = sound;
    if (Sound) {
        N.Streamer->Init(
            N.AudioFormat, [](TCustomWavePlayer*) {}, [](TCustomWavePlayer*) {});
        N.Streamer->Start();
        Preroll();
    }
    // With sound, the picture clock starts once the pre-roll has been heard, so what is heard
    // matches what is shown.
    ClockRunning = !(Sound && RealTime && PrerollCount > 0);
    // A device that stalls must not hold the pictures back for ever.
    PrerollDeadline =
        Ui.TickCount() + 1000 + static_cast<int64_t>(PrerollCount * 1000 / N.GetFPS());
    N.GatherFill = 0;
}

// About a second of silence so the device has a full queue before the first picture.
void TProjectNode::TPlayLoop::Preroll() {
    int32_t count = 0;
    size_t bytes = 0;
    PrerollBlocks(N.GetFPS(), N.AudioFormat, count, bytes);
    for (int32_t i = 0; i < count && bytes > 0; ++i) {
        TAudioBlock block = TAudioBlock::Filled(bytes, PcmSilenceByte(N.AudioFormat));
        if (N.Streamer->Write(block) >= 0)
            ++N.StreamedBlocks;
    }
    PrerollCount = N.StreamedBlocks;
    // No device to play to (the streamer has said why): the pictures play on silently.
    if (N.Streamer->IsTerminated())
        Sound = false;
}

// A pump that held the loop (a message box the user reads) stops the picture clock for that
// long, so playback goes on from where it was instead of jumping to its end.
void TProjectNode::TPlayLoop::Pump() {
    const int64_t before = Ui.TickCount();
    Ui.ProcessMessages();
    const int64_t held = Ui.TickCount() - before;
    if (ClockRunning && held > PumpStallMs)
        T0 += held;
}

void TProjectNode::TPlayLoop::Report(int32_t frame) {
    if (OnReport) {
        TFrameReport r;
        r.Frame = frame;
        r.RealTime = RealTime;
        OnReport(r);
    }
}

bool TProjectNode::TPlayLoop::FinalReport() {
    Report(EndFrame > 0 ? EndFrame : Current);
    return true;
}

void TProjectNode::TPlayLoop::StartClockAfterPreroll() {
    if (!ClockRunning && (N.StreamedBlocks - N.Streamer->GetQueuedCount() >= PrerollCount ||
                          N.Streamer->IsFinished() || Ui.TickCount() > PrerollDeadline)) {
        ClockRunning = true;
        T0 = Ui.TickCount();
    }
}

std::optional<bool> TProjectNode::TPlayLoop::NextFrame() {
    if (RealTime) {
        Current = ClockRunning ? StartFrame + Round((Ui.TickCount() - T0) * N.GetFPS() / 1000.0L)
                               : StartFrame;
        if (Current > N.GetFrameCount()) {
            Current = N.GetFrameCount();
            return FinalReport();
        }
    } else {
        ++Current;
        // Frame by frame, the project's frames are 0 .. count - 1, each reported once drawn: a
        // closing report would hand the last picture on a second time.
        if (Current >= N.GetFrameCount())
            return true;
    }
    if (EndFrame > 0 && Current > EndFrame) {
        if (RealTime)
            FinalReport();
        return true;
    }
    return std::nullopt;
}

bool TProjectNode::TPlayLoop::FeedSound() {
    if (!Sound || !RealTime || N.Streamer->GetQueuedCount() > AheadLimit)
        return false;
    // The sound of frame NextSound, from the nodes that cover that frame.
    N.SoundFrame = NextSound;
    if (!N.RenderFrame(N.GetOutputBitmap(), true, false, N.FrameTime(NextSound)) ||
        !N.WriteAudioChunk(false, NextSound))
        return false;
    ++NextSound;
    return true;
}

std::optional<bool> TProjectNode::TPlayLoop::DrawCurrent() {
    N.CurrentTime = static_cast<Extended>(Current) / N.GetFPS();
    if (N.CurrentTime > N.GetDuration()) {
        if (EndReached)
            return FinalReport();
        N.CurrentTime = N.GetDuration();
        EndReached = true;
    }
    if (N.VideoInPlayback) {
        if (!N.RenderFrame(N.GetOutputBitmap(), false, true, N.CurrentTime))
            return false;
        ShowPicture();
    }
    return std::nullopt;
}

void TProjectNode::TPlayLoop::ShowPicture() {
    if (!Image.Picture || (Image.IsEnabled && !Image.IsEnabled()))
        return;
    TBitmap* out = N.GetOutputBitmap();
    if (out->Width() == Image.Picture->Width() && out->Height() == Image.Picture->Height())
        Image.Picture->Canvas().Draw(0, 0, *out);
    else
        Image.Picture->Canvas().StretchDraw(
            Rect(0, 0, Image.Picture->Width(), Image.Picture->Height()), *out);
    if (Image.Invalidate)
        Image.Invalidate();
}

bool TProjectNode::TPlayLoop::Run() {
    for (;;) {
        Pump();
        if ((N.Streamer && Sound && RealTime && N.Streamer->IsFinished()) || N.Abort)
            return true;
        StartClockAfterPreroll();
        if (const std::optional<bool> end = NextFrame())
            return *end;
        if (RealTime && OnReport && Current > LastReported) {
            LastReported = Current;
            Report(Current);
        }
        if (FeedSound() || Current == LastDrawn)
            continue;
        LastDrawn = Current;
        Pump();
        Ui.Sleep(10);
        if (const std::optional<bool> end = DrawCurrent())
            return *end;
        // Frame by frame, a frame is reported once it is drawn, so the handler sees frame N's
        // picture under number N.
        if (!RealTime && OnReport && Current > LastReported) {
            LastReported = Current;
            Report(Current);
        }
    }
}

bool TProjectNode::Play(int32_t startFrame, int32_t endFrame, bool realTime,
                        const TFrameCallback& onReport, const TPictureControl& image) {
    Abort = false;
    if (GetFPS() == 0 || !Ui)
        return false;
    Busy = true;
    FreeEndedThreads();
    StreamedBlocks = 0;
    // Frame by frame nothing is heard (the sound-ahead pass runs in real time only): no device is
    // opened, so a machine without sound exports its pictures without a word. With the project's
    // sound off nothing would be written either, and a thread made for it would never run to its
    // end.
    const bool withSound = SoundInPlayback && realTime && AudioOn;
    if (withSound)
        Streamer = std::make_unique<TPassiveStreamer>(
            Ui, WaveOutFactory ? WaveOutFactory() : std::unique_ptr<IWaveOut>());
    Target = tgPreview;
    BeginRender();
    {
        TBitmap scratch(32, 32);
        PrepareAtStart(&scratch);
    }
    TPlayLoop loop(*this, startFrame, endFrame, realTime, onReport, image);
    OpenForRender(startFrame);

    auto closing = MakeScopeExit([this] {
        Busy = false;
        CloseAllAfterRender();
        if (Streamer) {
            Streamer->Stop();
            std::lock_guard<std::mutex> lock(ThreadListLock);
            ThreadList.push_back(std::move(Streamer));
        }
    });
    loop.StartSound(withSound);
    return loop.Run();
}
