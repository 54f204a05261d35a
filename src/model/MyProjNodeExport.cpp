// The project root's movie export: frames of a range with their sound into the movie writer.
#include "IUiServices.h"
#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyMovieWriter.h"
#include "MyProjNode.h"

TAviCompress& TProjectNode::GetAviCompress() {
    if (!Ui) throw EInvalidOperation("TProjectNode: no user interface for the compressor");
    if (!AviCompress) AviCompress = std::make_unique<TAviCompress>(*Ui);
    return *AviCompress;
}

IMovieWriter& TProjectNode::GetMovieWriter() {
    if (MovieWriterOverride) return *MovieWriterOverride;
    if (!Ui) throw EInvalidOperation("TProjectNode: no user interface for the movie writer");
    if (!MovieWriter) MovieWriter = std::make_unique<TMovieWriter>(*Ui);
    return *MovieWriter;
}

bool TProjectNode::ExportMovie(int32_t first, int32_t count, const TExportFrameCallback& onFrame,
                               const TFrameCallback& onReport, const std::string& fileName) {
    bool result = false;
    Abort = false;
    if (GetFPS() == 0 || !Ui) return false;
    LastOutputFile = fileName;
    const int32_t frames = GetFrameCount();
    if (frames - first - 1 < count) count = frames - first - 1;
    BeginRender();

    const TAudioFormat kept = AudioFormat;
    TAudioFormat exportFormat = AudioFormat;
    if (AudioMode != 1) {
        if (!SuggestExportFormat(exportFormat)) return false;
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
    }

    TExportSettings settings{};
    settings.HasAudio = AudioOn;
    settings.FrameRate = GetFPS();
    settings.Width = Width;
    settings.Height = Height;
    settings.AudioFormat = exportFormat;
    settings.AudioPreloadTime = 1.0L / GetFPS();
    settings.FrameCount = frames;

    IMovieWriter& writer = GetMovieWriter();
    writer.SetProfile(WMProfile);
    if (!writer.Open(IsWMVOutput(), fileName, GetAviCompress(), settings)) {
        if (CodecOpen) GetAudioCodec().CloseStream();
        CodecOpen = false;
        return false;
    }

    Busy = true;
    Target = tgMovieWriter;
    bool closed = false;
    {
        // The closing steps run however the loop ends.
        auto closing = MakeScopeExit([&] {
            CloseAllAfterRender();
            // A file that could not be completed is not a success.
            if (!writer.Close(GetFPS()))
                result = false;
            closed = true;
            AudioFormat = kept;
            if (CodecOpen)
                GetAudioCodec().CloseStream();
            CodecOpen = false;
            Busy = false;
        });
        OpenForRender(first);

        TVideoFrameInfo frame;
        frame.KeyRequest = true;
        bool failed = false;
        int32_t i = first;
        for (; i <= first + count; ++i) {
            if (Abort) break;
            Ui->ProcessMessages();
            CurrentTime = FrameTime(i);
            RenderFrame(GetOutputBitmap(), AudioOn, true, CurrentTime);
            // Count from the last frame the encoder really stored as a key frame, so one that
            // has just been stored is not asked for again on the next frame.
            if (frame.Flags & 0x10) frame.FramesSinceKey = 0;
            if (i == first) frame.KeyRequest = true;
            if (frame.FramesSinceKey > Round(GetFPS())) frame.KeyRequest = true;
            frame.FramesSinceKey += 1;
            if (AudioOn && !WriteAudioChunk(false, i)) {
                failed = true;
                break;
            }
            if (!writer.WriteVideoFrame(frame)) {
                failed = true;
                break;
            }
            frame.KeyRequest = false;
            frame.FrameNumber += 1;
            const int32_t shown = Round(GetFPS() * CurrentTime);
            if (onFrame) onFrame(shown, 0, frame.Bitmap);
            if (onReport) {
                TFrameReport r;
                r.Frame = shown + 1;
                r.Export = true;
                onReport(r);
            }
            Ui->ProcessMessages();
            Ui->Sleep(ExportSleepMs);
        }
        if (!failed) {
            // What the codec still holds goes into the file.
            result = !AudioOn || WriteAudioChunk(true, i);
        }
    }
    return result;
}
