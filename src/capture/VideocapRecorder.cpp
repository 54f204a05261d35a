#include "VideocapRecorder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// How long the worker waits for a frame before it looks at the stop flag again.
constexpr int FrameWaitMs = 200;
// What the file's headers take before the first chunk (a little more than our writer's).
constexpr int64_t HeaderBytes = 16384;
// Disk kept free beyond what the file needs: buffered writes and the writer's index spool.
constexpr int64_t DiskSlack = 1048576;
// Bytes an index entry takes, in the spool and in the file.
constexpr int64_t IndexEntryBytes = 2 * 16;

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

std::function<int64_t(const std::string&)> TCaptureSequence::FreeSpace =
    [](const std::string& folder) -> int64_t {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0)
        return -1;
    return int64_t(fs.f_bavail) * int64_t(fs.f_frsize);
};

std::string TCaptureSequence::WorkFileName(const std::string& fileName) {
    return fileName + WorkSuffix;
}

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
    if (Setup.Parms.LimitEnabled && Setup.Parms.TimeLimit > 0) {
        // The nearest whole frame to the time, and the time's sound exactly.
        SlotLimit = (int64_t(Setup.Parms.TimeLimit) * 1000000 + us / 2) / us;
        SoundLimit = int64_t(Setup.Parms.TimeLimit) * Setup.Audio.nSamplesPerSec;
    }
    Frame.assign(size_t(Format.Width) * size_t(Format.Height) * 3, 0);
    // The sound first: when it cannot be had, no file has been touched.
    if (Setup.Parms.CaptureAudio && !OpenSound())
        return false;
    if (Setup.ToFile && !OpenWriter(Format)) {
        Sound.reset();
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
    WorkFile = Setup.InPlace ? Setup.FileName : WorkFileName(Setup.FileName);
    // One expression only to quiet g++ 12's false overlapping-copy warning at -O3.
    const std::filesystem::path folder = std::filesystem::path(WorkFile).parent_path();
    WorkFolder = (folder.empty() ? std::filesystem::path(".") : folder).string();
    struct stat st {};
    Reserved =
        Setup.InPlace && ::stat(WorkFile.c_str(), &st) == 0 ? int64_t(st.st_blocks) * 512 : 0;
    FileBytes = HeaderBytes;
    // The writer's messages are posted to the GUI thread, also those of this open.
    Writer = std::make_unique<TAviWriter>(WorkerUi);
    Writer->SetWriteInPlace(Setup.InPlace);
    Writer->SetWriteDirect(true); // the working file is this sequence's own
    if (!Writer->Open(WorkFile, settings, Setup.Compressor, header)) {
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
        // Most often a machine without a sound card: say how to record anyway.
        Ui.ShowMessage("Can not record sound: " + (Sound ? Sound->ErrorText() : std::string()) +
                           ".\nUntick \"Include audio\" or connect a sound device.",
                       TMsgKind::Error);
        Sound.reset();
        return false;
    }
    SoundBlockAlign = std::max<int32_t>(a.nBlockAlign, 1);
    const int64_t chunk = std::max<int64_t>(
        1, (int64_t(a.nSamplesPerSec) + SoundChunksPerSecond - 1) / SoundChunksPerSecond);
    SoundBuffer.assign(size_t(chunk) * size_t(SoundBlockAlign), 0);
    SoundFill = 0;
    return true;
}

bool TCaptureSequence::TimeUp(int64_t elapsedUs) const {
    const TCaptureParms& p = Setup.Parms;
    return p.LimitEnabled && p.TimeLimit > 0 && elapsedUs >= int64_t(p.TimeLimit) * 1000000;
}

bool TCaptureSequence::Room(uint32_t bytes, bool last) {
    // Every frame and every sound block takes one index entry; the last sound block may take the
    // entry the others leave for it.
    const int64_t keep = Sound && !last ? 1 : 0;
    const int64_t size = Setup.Parms.IndexSize;
    if (size > 0 && Entries + 1 + keep > size)
        return false;
    if (!Writer)
        return true;
    const int64_t chunk = 8 + int64_t(bytes) + (bytes & 1);
    const int64_t needed = FileBytes + chunk + IndexEntryBytes * (Entries + 2) + DiskSlack;
    if (needed > Reserved) {
        const int64_t free = FreeSpace(WorkFolder);
        // Growth beyond what the file holds must fit what the disk has left.
        if (free >= 0 && needed - std::max(Reserved, FileBytes) > free) {
            DiskFull = true;
            return false;
        }
    }
    FileBytes += chunk;
    return true;
}

void TCaptureSequence::Run() {
    ICaptureClock& clock = Device.Clock();
    const int64_t start = clock.NowUs();
    const int64_t us = std::max<uint32_t>(Setup.Parms.RequestMicroSecPerFrame, 1);
    bool ok = true;
    while (ok && !StopFlag) {
        const TCapRead r = Device.ReadFrame(Frame.data(), Format.Width * 3, FrameWaitMs);
        const int64_t elapsed = clock.NowUs() - start;
        ElapsedMs = elapsed / 1000;
        if (r == TCapRead::Lost) {
            Window.FireError(CapErrorDeviceLost, Device.ErrorText());
            break;
        }
        if (Sound && !PumpSound(elapsed))
            break;
        if (TimeUp(elapsed)) {
            // A timed recording holds exactly its time's worth of frames, however late the
            // driver's last picture came.
            if (Written > 0 && SlotLimit != INT64_MAX)
                WriteSlots(SlotLimit, false);
            break;
        }
        if (r != TCapRead::Frame)
            continue;
        Window.PublishFrame(Frame.data(), Frame.size());
        // Slots whose time has come: a slow driver's missing pictures are filled with this one.
        const int64_t due = std::min(elapsed / us + 1, SlotLimit);
        if (Written >= due)
            continue;
        ok = WriteSlots(due, true);
        TVideoHdr hdr{Frame.data(),           uint32_t(Frame.size()),
                      uint32_t(Frame.size()), uint32_t(elapsed / 1000),
                      Format.Width,           Format.Height};
        Window.FireVideoStream(hdr);
    }
    Finish();
}

bool TCaptureSequence::WriteSlots(int64_t due, bool fresh) {
    // A fresh picture takes the last slot; the slots before it stand for the driver's dropped
    // frames, as do all the slots a picture already written fills again.
    for (; Written < due; ++Written) {
        if (!WriteFrame(Written % KeyRate == 0))
            break;
        if (!fresh || Written + 1 < due)
            ++Dropped;
    }
    Frames = Written;
    return Written >= due;
}

bool TCaptureSequence::WriteFrame(bool keyFrame) {
    const int32_t w = Format.Width, h = Format.Height;
    if (!Writer) {
        if (!Room(0, false))
            return false;
        ++Entries;
        return true;
    }
    const uint8_t* data = Dib.data();
    uint32_t size = uint32_t(Dib.size());
    bool key = true;
    TCompressedFrame out;
    if (Encoder) {
        if (Encoder->Compress(Frame.data(), w * 3, keyFrame, out) != 0) {
            WriteFailed = true;
            return false;
        }
        data = static_cast<const uint8_t*>(out.Data);
        size = out.Size;
        key = (out.Flags & AVIIF_KEYFRAME) != 0;
    } else {
        // The file's frames are bottom-up DIBs.
        const size_t rowBytes = Dib.size() / size_t(h);
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(Dib.data() + size_t(h - 1 - y) * rowBytes, Frame.data() + size_t(y) * w * 3,
                        size_t(w) * 3);
    }
    if (!Room(size, false))
        return false;
    ++Entries;
    if (!Writer->WriteVideoFrame(data, size, key)) {
        WriteFailed = true;
        return false;
    }
    return true;
}

bool TCaptureSequence::PumpSound(int64_t elapsedUs) {
    // Never more sound than time has passed: a device that answers at once (the null device)
    // must not run ahead of the pictures.
    const int64_t due =
        std::min(elapsedUs * int64_t(Setup.Audio.nSamplesPerSec) / 1000000, SoundLimit);
    const int64_t chunk = int64_t(SoundBuffer.size()) / SoundBlockAlign;
    while (SoundFramesRead < due) {
        const int64_t n = Sound->Read(SoundBuffer.data() + SoundFill * SoundBlockAlign,
                                      std::min(due - SoundFramesRead, chunk - SoundFill));
        if (n < 0) {
            // The sound is gone; what came keeps its place, the pictures go on.
            Window.FireError(CapErrorAudio, Sound->ErrorText());
            const bool kept = WriteSoundChunk(true);
            Sound.reset();
            return kept;
        }
        if (n == 0)
            break;
        SoundFill += n;
        SoundFramesRead += n;
        WaveSamples = SoundFramesRead;
        if (SoundFill == chunk && !WriteSoundChunk(false))
            return false;
    }
    return true;
}

bool TCaptureSequence::WriteSoundChunk(bool last) {
    if (SoundFill == 0)
        return true;
    const uint32_t bytes = uint32_t(SoundFill * SoundBlockAlign);
    if (!Room(bytes, last))
        return false;
    ++Entries;
    if (Writer && !Writer->WriteAudio(SoundBuffer.data(), bytes, uint32_t(SoundFill))) {
        WriteFailed = true;
        return false;
    }
    Window.FireWaveStream({SoundBuffer.data(), uint32_t(SoundBuffer.size()), bytes});
    SoundFill = 0;
    return true;
}

void TCaptureSequence::Finish() {
    // The sound of the last moments, in the index entry kept for it.
    if (Sound && !WriteFailed)
        WriteSoundChunk(true);
    Frames = Written;
    if (DiskFull)
        WorkerUi.ShowMessage("The disk is full: the recording " + Setup.FileName + " ends after " +
                                 std::to_string(Written) + " frames.",
                             TMsgKind::Warning);
    // A writer stopped at its size limit still closes into a whole file; one that failed to
    // write does not.
    bool complete = Writer && Writer->Close(0);
    if (Writer && !complete)
        Window.FireError(CapErrorWrite, "Can not write " + Setup.FileName);
    if (Encoder)
        Encoder->End();
    if (Sound)
        Sound->Close();
    if (Writer)
        complete = PlaceFile(complete);
    CompleteFlag = complete || !Writer;
    RunningFlag = false;
    if (Ended)
        Ended();
}

bool TCaptureSequence::FlushToDisk(const std::string& fileName, bool cutToRiff) {
    const int fd = ::open(fileName.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    if (cutToRiff) {
        uint8_t h[8];
        ok = ::pread(fd, h, 8, 0) == 8 && std::memcmp(h, "RIFF", 4) == 0;
        const uint32_t size =
            uint32_t(h[4]) | uint32_t(h[5]) << 8 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 24;
        ok = ok && ::ftruncate(fd, off_t(size) + 8) == 0;
    }
    // A full disk may only show now, when the system places what it had buffered.
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    return ok;
}

bool TCaptureSequence::PlaceFile(bool complete) {
    std::error_code ec;
    // A disk too full for a single frame gives no recording to take an older file's place.
    complete = complete && !(DiskFull && Written == 0);
    if (Setup.InPlace) {
        if (complete && !FlushToDisk(WorkFile, true)) {
            Window.FireError(CapErrorWrite, "Can not write " + WorkFile);
            return false;
        }
        return complete;
    }
    complete = complete && FlushToDisk(WorkFile, false);
    if (complete) {
        // Only a whole file takes the chosen name; until then an older file of that name stays.
        std::filesystem::rename(WorkFile, Setup.FileName, ec);
        if (ec)
            WorkerUi.ShowMessage("Can not save the capture to " + Setup.FileName +
                                     "; it is kept in " + WorkFile,
                                 TMsgKind::Error);
        return true;
    }
    if (Written == 0)
        std::filesystem::remove(WorkFile, ec);
    else
        WorkerUi.ShowMessage("The capture to " + Setup.FileName +
                                 " could not be finished; what was recorded is kept in " + WorkFile,
                             TMsgKind::Error);
    return false;
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
