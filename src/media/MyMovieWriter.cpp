#include "MyMovieWriter.h"

TMovieWriter::TMovieWriter(IUiServices& ui, const std::string& indexFolder)
    : Ui(ui), WMV(ui), Avi(ui, indexFolder) {}

TMovieWriter::~TMovieWriter() = default;

bool TMovieWriter::Open(bool useWMV, const std::string& fileName, TAviCompress& compressor,
                        const TExportSettings& settings) {
    UseWMV = useWMV;
    if (UseWMV) {
        TWMFInfo info;
        info.Name = fileName;
        info.AudioFormat = settings.AudioFormat.Wfx;
        // Without sound the audio stream carries no more than the encoder's start-up, which
        // any PCM format can give.
        if (!settings.HasAudio && info.AudioFormat.wFormatTag != WAVE_FORMAT_PCM) {
            TAudioFormat pcm{};
            MakePcmFormat(pcm, 44100, 2, 16);
            info.AudioFormat = pcm.Wfx;
        }
        info.Width = settings.Width;
        info.Height = settings.Height;
        info.FrameRate = settings.FrameRate;
        info.Profile = Profile;
        return WMV.Open(info);
    }

    Compressor = &compressor;
    TAviCompressParams params;
    params.FrameRate = settings.FrameRate;
    params.Width = settings.Width;
    params.Height = settings.Height;
    params.FrameCount = settings.FrameCount;
    params.PixelFormat = pf24bit;
    if (!compressor.Prepare(params)) {
        Ui.ShowMessage(AviEncoderInitFailedText, TMsgKind::Error);
        return false;
    }
    bool opened = false;
    try {
        opened = Avi.Open(fileName, settings, compressor.GetFourCC(), params.VideoFormat);
    } catch (...) {
        compressor.EndCompress();
        throw;
    }
    if (!opened)
        compressor.EndCompress();
    return opened;
}

TBitmap* TMovieWriter::GetBitmap() {
    if (UseWMV)
        return &WMV.GetBitmap();
    return Compressor ? &Compressor->GetCurrentBitmap() : nullptr;
}

bool TMovieWriter::WriteVideoFrame(TVideoFrameInfo& frame) {
    if (UseWMV) {
        frame.Bitmap = GetBitmap();
        return WMV.WriteVideoFrame();
    }
    if (!Compressor || !Avi.IsOpen())
        return false;
    return StoreEncoded(frame, [&] { return Compressor->CompressFrame(frame); });
}

bool TMovieWriter::StoreEncoded(TVideoFrameInfo& frame, const std::function<bool()>& encode) {
    try {
        if (!encode())
            return false;
    } catch (...) {
        // The frames so far stay a valid file, and no index is left behind.
        Avi.Close(0);
        Compressor->EndCompress();
        throw;
    }
    return Avi.WriteVideoFrame(frame.Data, uint32_t(frame.Size),
                               (frame.Flags & AVIIF_KEYFRAME) != 0);
}

bool TMovieWriter::CanQueueVideo() {
    return !UseWMV && Compressor && Avi.IsOpen() && Compressor->CanQueue();
}

int TMovieWriter::VideoQueueDepth() {
    return CanQueueVideo() ? Compressor->QueueDepth() : 0;
}

bool TMovieWriter::QueueVideoFrame(TVideoFrameInfo& frame) {
    return CanQueueVideo() && Compressor->QueueFrame(frame);
}

bool TMovieWriter::WriteQueuedVideoFrame(TVideoFrameInfo& frame) {
    if (UseWMV || !Compressor || !Avi.IsOpen())
        return false;
    return StoreEncoded(frame, [&] { return Compressor->FinishFrame(frame); });
}

bool TMovieWriter::WriteAudio(const void* buffer, uint32_t size, uint32_t count) {
    if (UseWMV)
        return WMV.WriteAudio(buffer, size);
    if (!Avi.IsOpen())
        return false;
    return Avi.WriteAudio(buffer, size, count);
}

bool TMovieWriter::Close(Extended frameRate) {
    if (UseWMV)
        return WMV.Close();
    const bool ok = Avi.Close(frameRate);
    if (Compressor)
        Compressor->EndCompress();
    return ok;
}
