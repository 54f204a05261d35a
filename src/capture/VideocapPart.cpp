#include "VideocapPart.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

namespace {

// How long the worker waits for a frame before it looks at the stop flag again.
constexpr int FrameWaitMs = 200;
// Sound read ahead of the picture at most: one second.
constexpr int64_t SoundBufferSeconds = 1;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// ---- Worker's user interface --------------------------------------------------------------------

void TWorkerUi::ShowMessage(const std::string& text, TMsgKind kind) {
    IUiServices* gui = &Gui;
    Gui.PostToGui([gui, text, kind] { gui->ShowMessage(text, kind); });
}

void TWorkerUi::Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t TWorkerUi::TickCount() {
    return NowUs() / 1000;
}

// ---- Sequence -----------------------------------------------------------------------------------

std::function<std::unique_ptr<IWaveIn>()> TCaptureSequence::WaveInFactory = [] {
    return CreateAlsaWaveIn();
};

TCaptureSequence::TCaptureSequence(TCapWindow& window, ICaptureDevice& device, IUiServices& ui)
    : Window(window), Device(device), Ui(ui), WorkerUi(ui) {}

TCaptureSequence::~TCaptureSequence() {
    RequestStop();
    Join();
}

bool TCaptureSequence::Start(const TSequenceSetup& setup, std::function<void()> ended) {
    Setup = setup;
    Ended = std::move(ended);
    Format = Device.GetFormat();
    const uint32_t us = std::max<uint32_t>(Setup.Parms.RequestMicroSecPerFrame, 1);
    FrameRate = 1000000.0L / us;
    KeyRate = std::max(1, Round(FrameRate));
    Frame.assign(size_t(Format.Width) * size_t(Format.Height) * 3, 0);
    if (Setup.ToFile && !OpenWriter(Format))
        return false;
    if (Setup.Parms.CaptureAudio && !OpenSound()) {
        // Nothing was recorded: no empty file is left behind.
        if (Writer) {
            Writer->Close(0);
            std::error_code ec;
            std::filesystem::remove(Setup.FileName, ec);
        }
        if (Encoder)
            Encoder->End();
        return false;
    }
    StopFlag = false;
    RunningFlag = true;
    Worker = std::thread([this] { Run(); });
    return true;
}

bool TCaptureSequence::OpenWriter(const TCapFormat& format) {
    TExportSettings settings;
    settings.HasAudio = Setup.Parms.CaptureAudio;
    settings.FrameRate = FrameRate;
    settings.Width = format.Width;
    settings.Height = format.Height;
    if (settings.HasAudio) {
        const TWaveFormatEx& a = Setup.Audio;
        MakePcmFormat(settings.AudioFormat, a.nSamplesPerSec, a.nChannels, a.wBitsPerSample);
    }
    TBitmapInfoHeader header{};
    header.biSize = sizeof(header);
    header.biWidth = format.Width;
    header.biHeight = format.Height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const int32_t rowBytes = DIBRowBytes(format.Width, 24, 32);
    header.biSizeImage = uint32_t(CheckedMul<int64_t>(rowBytes, format.Height));
    if (Setup.Compressor != 0) {
        Encoder = LibavVideoCompressors().Open(VideoCompressorType, Setup.Compressor,
                                               TVideoCompressorMode::Compress);
        TVideoOutputFormat out;
        TVideoCompressFormat in{format.Width, format.Height, FrameRate, KeyRate, 0};
        if (!Encoder || !Encoder->Begin(in, out)) {
            Encoder.reset();
            Ui.ShowMessage(AviEncoderInitFailedText, TMsgKind::Error);
            return false;
        }
        header.biBitCount = out.BitCount;
        header.biCompression = out.Compression;
        header.biSizeImage = out.ImageSize;
    } else {
        Dib.assign(header.biSizeImage, 0);
    }
    // The writer's messages are posted to the GUI thread, also those of this open.
    Writer = std::make_unique<TAviWriter>(WorkerUi);
    if (!Writer->Open(Setup.FileName, settings, Setup.Compressor, header)) {
        Writer.reset();
        if (Encoder)
            Encoder->End();
        Encoder.reset();
        return false;
    }
    return true;
}

bool TCaptureSequence::OpenSound() {
    const TWaveFormatEx& a = Setup.Audio;
    TWaveOutFormat f;
    f.FormatTag = WAVE_FORMAT_PCM;
    f.Channels = a.nChannels;
    f.SamplesPerSec = a.nSamplesPerSec;
    f.BitsPerSample = a.wBitsPerSample;
    f.BlockAlign = a.nBlockAlign;
    f.AvgBytesPerSec = a.nAvgBytesPerSec;
    Sound = WaveInFactory();
    if (!Sound || !Sound->Open(f)) {
        Ui.ShowMessage("Can not record sound: " + (Sound ? Sound->ErrorText() : std::string()),
                       TMsgKind::Error);
        Sound.reset();
        return false;
    }
    SoundBlockAlign = std::max<int32_t>(a.nBlockAlign, 1);
    SoundBuffer.assign(size_t(a.nSamplesPerSec) * SoundBufferSeconds * size_t(SoundBlockAlign), 0);
    return true;
}

bool TCaptureSequence::LimitReached(int64_t elapsedUs) const {
    const TCaptureParms& p = Setup.Parms;
    if (p.LimitEnabled && p.TimeLimit > 0 && elapsedUs >= int64_t(p.TimeLimit) * 1000000)
        return true;
    // Every frame and every sound block takes one index entry.
    return p.IndexSize > 0 && Entries >= int64_t(p.IndexSize);
}

void TCaptureSequence::Run() {
    const int64_t start = NowUs();
    const int64_t us = std::max<uint32_t>(Setup.Parms.RequestMicroSecPerFrame, 1);
    int64_t slotLimit = INT64_MAX;
    if (Setup.Parms.LimitEnabled && Setup.Parms.TimeLimit > 0)
        slotLimit = (int64_t(Setup.Parms.TimeLimit) * 1000000 + us / 2) / us; // nearest whole frame
    int64_t written = 0;
    bool ok = true;
    while (ok && !StopFlag) {
        const TCapRead r = Device.ReadFrame(Frame.data(), Format.Width * 3, FrameWaitMs);
        const int64_t elapsed = NowUs() - start;
        ElapsedMs = elapsed / 1000;
        if (r == TCapRead::Lost) {
            Window.FireError(CapErrorDeviceLost, Device.ErrorText());
            break;
        }
        if (Sound && !PumpSound(elapsed))
            ok = false;
        if (LimitReached(elapsed)) {
            // A timed recording holds exactly its time's worth of frames, however late the
            // driver's last picture came.
            for (; ok && written > 0 && written < slotLimit && slotLimit != INT64_MAX; ++written) {
                ok = WriteFrame(written % KeyRate == 0);
                ++Dropped;
            }
            Frames = written;
            break;
        }
        if (r != TCapRead::Frame)
            continue;
        Window.PublishFrame(Frame.data(), Frame.size());
        // Slots whose time has come: a slow driver's missing pictures are filled with this one.
        const int64_t due = std::min(elapsed / us + 1, slotLimit);
        if (written >= due)
            continue;
        for (; ok && written < due; ++written) {
            ok = WriteFrame(written % KeyRate == 0);
            if (written + 1 < due)
                ++Dropped;
        }
        Frames = written;
        TVideoHdr hdr{Frame.data(),           uint32_t(Frame.size()),
                      uint32_t(Frame.size()), uint32_t(elapsed / 1000),
                      Format.Width,           Format.Height};
        Window.FireVideoStream(hdr);
    }
    if (Writer && !Writer->Close(0))
        Window.FireError(CapErrorWrite, "Can not write " + Setup.FileName);
    if (Encoder)
        Encoder->End();
    if (Sound)
        Sound->Close();
    RunningFlag = false;
    if (Ended)
        Ended();
}

bool TCaptureSequence::WriteFrame(bool keyFrame) {
    ++Entries;
    if (!Writer)
        return true;
    const int32_t w = Format.Width, h = Format.Height;
    if (Encoder) {
        TCompressedFrame out;
        if (Encoder->Compress(Frame.data(), w * 3, keyFrame, out) != 0)
            return false;
        return Writer->WriteVideoFrame(out.Data, out.Size, (out.Flags & AVIIF_KEYFRAME) != 0);
    }
    // The file's frames are bottom-up DIBs.
    const size_t rowBytes = Dib.size() / size_t(h);
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(Dib.data() + size_t(h - 1 - y) * rowBytes, Frame.data() + size_t(y) * w * 3,
                    size_t(w) * 3);
    return Writer->WriteVideoFrame(Dib.data(), uint32_t(Dib.size()), true);
}

bool TCaptureSequence::PumpSound(int64_t elapsedUs) {
    // Never more sound than time has passed: a device that answers at once (the null device)
    // must not run ahead of the pictures.
    const int64_t due = elapsedUs * int64_t(Setup.Audio.nSamplesPerSec) / 1000000;
    const int64_t room = int64_t(SoundBuffer.size()) / SoundBlockAlign;
    const int64_t n = Sound->Read(SoundBuffer.data(), std::min(due - SoundFramesRead, room));
    if (n < 0) {
        Window.FireError(CapErrorAudio, Sound->ErrorText());
        Sound.reset();
        return true;
    }
    if (n == 0)
        return true;
    SoundFramesRead += n;
    WaveSamples = SoundFramesRead;
    const uint32_t bytes = uint32_t(n * SoundBlockAlign);
    ++Entries;
    if (Writer && !Writer->WriteAudio(SoundBuffer.data(), bytes, uint32_t(n)))
        return false;
    Window.FireWaveStream({SoundBuffer.data(), uint32_t(SoundBuffer.size()), bytes});
    return true;
}

void TCaptureSequence::Join() {
    if (Worker.joinable())
        Worker.join();
}

void TCaptureSequence::Counts(TCapStatus& status) const {
    status.CurrentVideoFrame = Frames;
    status.CurrentVideoFramesDropped = Dropped;
    status.CurrentTimeElapsedMS = ElapsedMs;
    status.CurrentWaveSamples = WaveSamples;
}
