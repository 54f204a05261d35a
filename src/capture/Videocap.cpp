#include "Videocap.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "MyCapDrvSelect.h"
#include "MyFileReplace.h"
#include "MyPictureWriter.h"
#include "MyVideoCompressLayer.h"
#include "VideocapRecorder.h"

namespace {

constexpr const char* FullFramesText = "Full Frames (Uncompressed)";
constexpr int64_t Megabyte = 1048576;

} // namespace

// ---- Capture window -----------------------------------------------------------------------------

TCapWindow::TCapWindow(IUiServices& ui, TCaptureDrivers& drivers, QWidget* parent)
    : QWidget(parent), Ui(ui), Drivers(drivers) {
    PreviewTimer = new QTimer(this);
    connect(PreviewTimer, &QTimer::timeout, this, [this] { PreviewTick(); });
    setFocusPolicy(Qt::ClickFocus);
    // 11025 Hz mono 8-bit until told otherwise.
    AudioFormat = {WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8, 0};
}

TCapWindow::~TCapWindow() {
    *Alive = false;
    DriverDisconnect();
}

bool TCapWindow::DriverConnect(int index) {
    DriverDisconnect();
    LastConnectError.clear();
    Device = Drivers.Open(index, LastConnectError);
    if (!Device)
        return false;
    DriverIndex = index;
    return true;
}

void TCapWindow::DriverDisconnect() {
    Stop();
    PreviewTimer->stop();
    Preview = false;
    Device.reset();
    DriverIndex = -1;
}

bool TCapWindow::GetDriverCaps(TCapDriverCaps& caps) const {
    if (!Device)
        return false;
    caps = {};
    caps.DeviceIndex = DriverIndex;
    caps.HasOverlay = Device->HasOverlay();
    caps.CaptureInitialized = true;
    return true;
}

bool TCapWindow::GetStatus(TCapStatus& s) const {
    if (!Device)
        return false;
    s = {};
    const TCapFormat f = Device->GetFormat();
    s.ImageWidth = f.Width;
    s.ImageHeight = f.Height;
    s.LiveWindow = Preview;
    s.Scale = Scale;
    s.CapturingNow = Capturing();
    std::error_code ec;
    s.CapFileExists = !CaptureFile.empty() && std::filesystem::exists(CaptureFile, ec);
    if (s.CapFileExists)
        s.CapFileBytes = int64_t(std::filesystem::file_size(CaptureFile, ec));
    // The counts of the last recording stay until the next one begins.
    if (Seq) {
        Seq->Counts(s);
    } else {
        s.CurrentVideoFrame = Last.CurrentVideoFrame;
        s.CurrentVideoFramesDropped = Last.CurrentVideoFramesDropped;
        s.CurrentTimeElapsedMS = Last.CurrentTimeElapsedMS;
        s.CurrentWaveSamples = Last.CurrentWaveSamples;
    }
    return true;
}

bool TCapWindow::GetVideoFormat(TBitmapInfoHeader& h) const {
    if (!Device)
        return false;
    const TCapFormat f = Device->GetFormat();
    h = {};
    h.biSize = sizeof(h);
    h.biWidth = f.Width;
    h.biHeight = f.Height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = uint32_t(int64_t(DIBRowBytes(f.Width, 24, 32)) * f.Height);
    return true;
}

bool TCapWindow::SetVideoFormat(const TBitmapInfoHeader& h) {
    if (!Device || Capturing() || h.biBitCount != 24 || h.biCompression != BI_RGB)
        return false;
    const TCapFormat now = Device->GetFormat();
    if (h.biWidth == now.Width && std::abs(int64_t(h.biHeight)) == now.Height)
        return true;
    // Same size in the driver's current pixel format first, then in any other.
    std::vector<TCapFormat> all = Device->Formats();
    std::stable_partition(all.begin(), all.end(),
                          [&](const TCapFormat& f) { return f.PixelFormat == now.PixelFormat; });
    const bool wasOn = Device->Streaming();
    Device->StopStreaming();
    bool ok = false;
    for (const TCapFormat& f : all)
        if (f.Width == h.biWidth && f.Height == std::abs(int64_t(h.biHeight)) &&
            (ok = Device->SetFormat(f)))
            break;
    if (wasOn)
        Device->StartStreaming();
    return ok;
}

bool TCapWindow::DlgVideoFormat() {
    if (!Device || Capturing())
        return false;
    const std::vector<TCapFormat> all = Device->Formats();
    std::vector<std::string> items;
    int selected = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        items.push_back(CapFormatText(all[i]));
        if (all[i] == Device->GetFormat())
            selected = int(i);
    }
    const int chosen = TDlgCapDrvSelect::Choose(this, "Video Format", items, selected);
    if (chosen < 0 || size_t(chosen) >= all.size())
        return false;
    const bool wasOn = Device->Streaming();
    Device->StopStreaming();
    const bool ok = Device->SetFormat(all[size_t(chosen)]);
    if (wasOn)
        Device->StartStreaming();
    return ok;
}

bool TCapWindow::DlgVideoCompression() {
    if (!Device)
        return false;
    std::vector<std::string> items{FullFramesText};
    std::vector<uint32_t> handlers{0};
    IVideoCompressorList& list = LibavVideoCompressors();
    TVideoCompressorInfo info;
    for (int32_t i = 0; list.GetInfo(VideoCompressorType, i, info); ++i) {
        items.push_back(info.Name.empty() ? FourCCToText(info.Handler) : info.Name);
        handlers.push_back(info.Handler);
    }
    const auto at = std::find(handlers.begin(), handlers.end(), Compressor);
    const int selected = at == handlers.end() ? 0 : int(at - handlers.begin());
    const int chosen = TDlgCapDrvSelect::Choose(this, "Video Compression", items, selected);
    if (chosen < 0 || size_t(chosen) >= handlers.size())
        return false;
    Compressor = handlers[size_t(chosen)];
    return true;
}

bool TCapWindow::SetPreview(bool on) {
    if (!Device)
        return false;
    Preview = on;
    if (on) {
        if (!Device->StartStreaming())
            return Preview = false;
        PreviewTimer->start(PreviewMs);
    } else {
        PreviewTimer->stop();
        if (!Capturing())
            Device->StopStreaming();
    }
    return true;
}

bool TCapWindow::SetOverlay(bool) {
    return false;
}

bool TCapWindow::SetScale(bool on) {
    Scale = on;
    update();
    return Device != nullptr;
}

bool TCapWindow::SetPreviewRate(int ms) {
    PreviewMs = std::max(1, ms);
    if (PreviewTimer->isActive())
        PreviewTimer->start(PreviewMs);
    return Device != nullptr;
}

bool TCapWindow::ReadOne(int timeoutMs) {
    const TCapFormat f = Device->GetFormat();
    Shown.resize(size_t(f.Width) * size_t(f.Height) * 3);
    const TCapRead r = Device->ReadFrame(Shown.data(), f.Width * 3, timeoutMs);
    if (r == TCapRead::Lost && Preview) {
        // A camera unplugged while previewing: stop asking it, and say why once.
        SetPreview(false);
        FireError(CapErrorDeviceLost, Device->ErrorText());
    }
    if (r != TCapRead::Frame)
        return false;
    ShownWidth = f.Width;
    ShownHeight = f.Height;
    return true;
}

void TCapWindow::PreviewTick() {
    if (!Device)
        return;
    bool fresh = false;
    if (Capturing()) {
        std::lock_guard<std::mutex> lock(FrameLock);
        if (LatestNew) {
            const TCapFormat f = Device->GetFormat();
            Shown = Latest;
            ShownWidth = f.Width;
            ShownHeight = f.Height;
            LatestNew = false;
            fresh = true;
        }
    } else {
        // Drain what queued up since the last tick: the newest picture is the one to show.
        for (int i = 0; i < 4 && ReadOne(0); ++i)
            fresh = true;
    }
    if (!fresh)
        return;
    std::function<void(const TVideoHdr&)> fn;
    {
        std::lock_guard<std::mutex> lock(CallbackLock);
        fn = FrameFn;
    }
    if (fn)
        fn({Shown.data(), uint32_t(Shown.size()), uint32_t(Shown.size()), 0, ShownWidth,
            ShownHeight});
    update();
}

bool TCapWindow::GrabFrame() {
    if (!Device || Capturing())
        return false;
    const bool wasOn = Device->Streaming();
    if (!wasOn && !Device->StartStreaming())
        return false;
    bool ok = false;
    // A driver needs a moment for its first picture; torn ones are skipped.
    for (int i = 0; i < 10 && !ok; ++i)
        ok = ReadOne(200);
    if (!wasOn)
        Device->StopStreaming();
    update();
    return ok;
}

void TCapWindow::PublishFrame(const uint8_t* bgr, size_t size) {
    std::lock_guard<std::mutex> lock(FrameLock);
    Latest.assign(bgr, bgr + size);
    LatestNew = true;
}

void TCapWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (Shown.empty() || ShownWidth <= 0 ||
        Shown.size() < size_t(ShownWidth) * size_t(ShownHeight) * 3) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    const QImage img(Shown.data(), ShownWidth, ShownHeight, ShownWidth * 3, QImage::Format_BGR888);
    if (Scale)
        p.drawImage(rect(), img);
    else
        p.drawImage(0, 0, img);
}

void TCapWindow::mousePressEvent(QMouseEvent* event) {
    if (Capturing() && ((event->button() == Qt::LeftButton && Parms.AbortLeftMouse) ||
                        (event->button() == Qt::RightButton && Parms.AbortRightMouse)))
        Stop();
    // The owner's mouse events fire as well.
    event->ignore();
}

void TCapWindow::keyPressEvent(QKeyEvent* event) {
    if (Capturing() && Parms.KeyAbort == 0x1B && event->key() == Qt::Key_Escape) {
        Stop();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TCapWindow::GetSequenceSetup(TCaptureParms& parms) const {
    if (!Device)
        return false;
    parms = Parms;
    return true;
}

bool TCapWindow::SetSequenceSetup(const TCaptureParms& parms) {
    if (!Device || Capturing())
        return false;
    Parms = parms;
    return true;
}

bool TCapWindow::GetAudioFormat(TWaveFormatEx& format) const {
    if (!Device)
        return false;
    format = AudioFormat;
    return true;
}

bool TCapWindow::SetAudioFormat(const TWaveFormatEx& f) {
    if (!Device || Capturing())
        return false;
    const TWaveOutFormat probe{f.wFormatTag,      f.nChannels,   f.nSamplesPerSec,
                               f.nAvgBytesPerSec, f.nBlockAlign, f.wBitsPerSample};
    if (!IsPlayableWaveFormat(probe))
        return false;
    AudioFormat = f;
    return true;
}

bool TCapWindow::SetCaptureFile(const std::string& fileName) {
    if (Capturing() || fileName.empty())
        return false;
    CaptureFile = fileName;
    CaptureFileReserved = false;
    return true;
}

bool TCapWindow::FileAllocate(int64_t bytes) {
    if (CaptureFile.empty() || bytes < 0 || Capturing())
        return false;
    const int fd = ::open(CaptureFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::ftruncate(fd, 0) == 0 && (bytes == 0 || ::posix_fallocate(fd, 0, bytes) == 0);
    ::close(fd);
    CaptureFileReserved = ok && bytes > 0;
    return ok;
}

bool TCapWindow::FileSaveAs(const std::string& fileName) {
    if (CaptureFile.empty() || Capturing())
        return false;
    std::error_code ec;
    std::filesystem::rename(CaptureFile, fileName, ec);
    if (!ec)
        return true;
    // Another file system: copy beside the target, and let the capture file go only once the
    // copy has taken the target's name.
    TFileReplacement copy(fileName, TCaptureSequence::WorkSuffix);
    std::filesystem::copy_file(CaptureFile, copy.TempName(),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec || !copy.Commit())
        return false;
    std::filesystem::remove(CaptureFile, ec);
    return true;
}

bool TCapWindow::SaveDIB(const std::string& fileName) {
    if (!Device || (Shown.empty() && !GrabFrame()))
        return false;
    const int32_t w = ShownWidth, h = ShownHeight;
    const uint32_t rowBytes = uint32_t(DIBRowBytes(w, 24, 32));
    const std::vector<uint8_t> header = BmpFileHeader(w, h); // 24-bit, rows bottom-up
    std::string out(header.begin(), header.end());
    std::string row(rowBytes, '\0');
    for (int32_t y = h - 1; y >= 0; --y) {
        std::memcpy(row.data(), Shown.data() + size_t(y) * w * 3, size_t(w) * 3);
        out += row;
    }
    std::ofstream f(fileName, std::ios::binary | std::ios::trunc);
    f.write(out.data(), std::streamsize(out.size()));
    return bool(f.flush());
}

bool TCapWindow::Capturing() const {
    return Seq && Seq->Running();
}

bool TCapWindow::Sequence(bool toFile) {
    if (!Device || Seq)
        return false;
    Device->SetFrameInterval(Parms.RequestMicroSecPerFrame);
    if (!Device->Streaming() && !Device->StartStreaming()) {
        FireError(CapErrorDeviceLost, Device->ErrorText());
        return false;
    }
    TSequenceSetup setup;
    setup.Parms = Parms;
    setup.Audio = AudioFormat;
    setup.ToFile = toFile;
    setup.FileName = CaptureFile;
    setup.InPlace = CaptureFileReserved;
    setup.Compressor = Compressor;
    Last = {};
    Seq = std::make_unique<TCaptureSequence>(*this, *Device, Ui);
    std::weak_ptr<bool> alive = Alive;
    IUiServices* ui = &Ui;
    const bool ok = Seq->Start(setup, [this, alive, ui] {
        ui->PostToGui([this, alive] {
            if (alive.lock())
                FinishSequence();
        });
    });
    if (!ok) {
        Seq.reset();
        if (!Preview)
            Device->StopStreaming();
        return false;
    }
    std::function<void(int, const std::string&)> fn;
    {
        std::lock_guard<std::mutex> lock(CallbackLock);
        fn = StatusFn;
    }
    if (fn)
        fn(CapStatusBegin, "Capture start");
    return true;
}

bool TCapWindow::Stop() {
    if (!Seq)
        return false;
    Seq->RequestStop();
    Seq->Join();
    FinishSequence();
    return true;
}

void TCapWindow::FinishSequence() {
    if (!Seq)
        return;
    Seq->Join();
    Seq->Counts(Last);
    LastCompleteFlag = Seq->Complete();
    Seq.reset();
    if (Device && !Preview)
        Device->StopStreaming();
    if (OnSequenceEnd)
        OnSequenceEnd();
    std::function<void(int, const std::string&)> fn;
    {
        std::lock_guard<std::mutex> lock(CallbackLock);
        fn = StatusFn;
    }
    if (fn)
        fn(CapStatusEnd, "Capture end: " + std::to_string(Last.CurrentVideoFrame) + " frames");
}

void TCapWindow::FireError(int id, const std::string& text) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    if (ErrorFn)
        ErrorFn(id, text);
}

void TCapWindow::FireVideoStream(const TVideoHdr& hdr) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    if (VideoStreamFn)
        VideoStreamFn(hdr);
}

void TCapWindow::FireWaveStream(const TWaveHdr& hdr) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    if (WaveStreamFn)
        WaveStreamFn(hdr);
}

void TCapWindow::SetStatusCallback(std::function<void(int, const std::string&)> fn) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    StatusFn = std::move(fn);
}
void TCapWindow::SetErrorCallback(std::function<void(int, const std::string&)> fn) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    ErrorFn = std::move(fn);
}
void TCapWindow::SetFrameCallback(std::function<void(const TVideoHdr&)> fn) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    FrameFn = std::move(fn);
}
void TCapWindow::SetVideoStreamCallback(std::function<void(const TVideoHdr&)> fn) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    VideoStreamFn = std::move(fn);
}
void TCapWindow::SetWaveStreamCallback(std::function<void(const TWaveHdr&)> fn) {
    std::lock_guard<std::mutex> lock(CallbackLock);
    WaveStreamFn = std::move(fn);
}

// ---- Audio format -------------------------------------------------------------------------------

void Videocap::TAudioFormat::ApplyToWindow(TCapWindow* window) const {
    if (!window)
        return;
    TWaveFormatEx f{};
    window->GetAudioFormat(f);
    static constexpr uint32_t Rates[] = {11025, 22050, 44100, 48000};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nSamplesPerSec = Rates[int(Frequency)];
    f.nChannels = Channels == TChannel::Mono ? 1 : 2;
    f.wBitsPerSample = Resolution == TResolution::r16Bit ? 16 : 8;
    f.nBlockAlign = uint16_t(f.nChannels * f.wBitsPerSample / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.cbSize = 0;
    window->SetAudioFormat(f);
}

// ---- Capture control ----------------------------------------------------------------------------

TVideoCap::TVideoCap(IUiServices& ui, QWidget* parent, TCaptureDrivers* drivers)
    : QWidget(parent), Ui(ui), Drivers(drivers ? *drivers : DefaultCaptureDrivers()) {
    resize(100, 100);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
}

TVideoCap::~TVideoCap() {
    Close();
}

void TVideoCap::SetDriverOpen(bool open) {
    if (open)
        Open();
    else
        Close();
}

void TVideoCap::SetDriverIndex(int index) {
    if (index == FDriverIndex)
        return;
    Close();
    Caps.reset();
    {
        std::lock_guard<std::mutex> lock(StatusLock);
        Status.reset();
    }
    TCapDriverDesc desc;
    if (index >= 0 && index < MaxCaptureDrivers && Drivers.Describe(index, desc)) {
        FDriverIndex = index;
        FDriverName = desc.Name;
    } else {
        FDriverIndex = -1;
        FDriverName.clear();
    }
}

void TVideoCap::SetDriverName(const std::string& name) {
    if (name == FDriverName)
        return;
    const std::vector<TCapDriverDesc> all = Drivers.List();
    for (size_t i = 0; i < all.size() && i < size_t(MaxCaptureDrivers); ++i)
        if (all[i].Name == name) {
            SetDriverIndex(int(i));
            return;
        }
    SetDriverIndex(-1);
}

std::vector<std::string> TVideoCap::GetDriverList() const {
    std::vector<std::string> out;
    out.reserve(MaxCaptureDrivers);
    for (const TCapDriverDesc& d : Drivers.List())
        out.push_back(d.Name + " " + d.Version);
    return out;
}

bool TVideoCap::Open() {
    if (Window)
        return true;
    if (FDriverIndex < 0)
        Fail<ENoDriverException>();
    Window = new TCapWindow(Ui, Drivers, this);
    Window->setObjectName(objectName());
    Window->setGeometry(0, 0, width(), height());
    Window->show();
    Window->OnSequenceEnd = [this] { SequenceEnded(); };
    InstallCallbacks();
    if (!Window->DriverConnect(FDriverIndex)) {
        Close();
        Fail<ENotConnectException>();
    }
    SetupBufferFile(true);
    Window->SetScale(FScaleToWindow);
    Window->SetPreviewRate(Round(1.0L / FPreviewRate * 1000));
    UpdateStatus(true);
    FitWindow();
    return true;
}

void TVideoCap::Close() {
    if (!Window)
        return;
    Window->Stop();
    try {
        SetupBufferFile(false);
    } catch (const Exception&) {
        // Closing goes on; a buffer file that cannot be let go is left in the temporary folder.
    }
    Window->DriverDisconnect();
    delete Window;
    Window = nullptr;
}

void TVideoCap::InstallCallbacks() {
    if (!Window)
        return;
    Window->SetStatusCallback(OnStatusCallback
                                  ? [this, fn = OnStatusCallback](
                                        int id, const std::string& text) { fn(*this, id, text); }
                                  : std::function<void(int, const std::string&)>());
    Window->SetFrameCallback(
        OnFrameCallback ? [this, fn = OnFrameCallback](const TVideoHdr& h) { fn(*this, h); }
                        : std::function<void(const TVideoHdr&)>());
    Window->SetErrorCallback(
        OnError ? [this, fn = OnError](int id, const std::string& text) { fn(*this, id, text); }
                : std::function<void(int, const std::string&)>());
    Window->SetVideoStreamCallback(
        OnVideoStream ? [this, fn = OnVideoStream](const TVideoHdr& h) { fn(*this, h); }
                      : std::function<void(const TVideoHdr&)>());
    Window->SetWaveStreamCallback(
        OnAudioStream ? [this, fn = OnAudioStream](const TWaveHdr& h) { fn(*this, h); }
                      : std::function<void(const TWaveHdr&)>());
}

void TVideoCap::SetOnStatusCallback(std::function<void(TVideoCap&, int, const std::string&)> fn) {
    OnStatusCallback = std::move(fn);
    InstallCallbacks();
}
void TVideoCap::SetOnVideoStream(std::function<void(TVideoCap&, const TVideoHdr&)> fn) {
    OnVideoStream = std::move(fn);
    InstallCallbacks();
}
void TVideoCap::SetOnFrameCallback(std::function<void(TVideoCap&, const TVideoHdr&)> fn) {
    OnFrameCallback = std::move(fn);
    InstallCallbacks();
}
void TVideoCap::SetOnAudioStream(std::function<void(TVideoCap&, const TWaveHdr&)> fn) {
    OnAudioStream = std::move(fn);
    InstallCallbacks();
}
void TVideoCap::SetOnError(std::function<void(TVideoCap&, int, const std::string&)> fn) {
    OnError = std::move(fn);
    InstallCallbacks();
}

bool TVideoCap::GetDriverCaps() {
    if (Caps)
        return true;
    if (FDriverIndex < 0)
        return false;
    const bool wasOpen = GetDriverOpen();
    try {
        Open();
    } catch (const Exception&) {
        return false;
    }
    TCapDriverCaps caps;
    if (Window->GetDriverCaps(caps))
        Caps = caps;
    if (!wasOpen)
        Close();
    return Caps.has_value();
}

bool TVideoCap::UpdateStatus(bool fireEvent) {
    bool ok = false;
    if (Window) {
        TCapStatus s;
        ok = Window->GetStatus(s);
        std::lock_guard<std::mutex> lock(StatusLock);
        if (ok)
            Status = s;
    }
    if (fireEvent && OnStatus)
        OnStatus(*this);
    return ok;
}

uint16_t TVideoCap::ImageWidth() const {
    std::lock_guard<std::mutex> lock(StatusLock);
    return Status ? uint16_t(Status->ImageWidth) : 0;
}

uint16_t TVideoCap::ImageHeight() const {
    std::lock_guard<std::mutex> lock(StatusLock);
    return Status ? uint16_t(Status->ImageHeight) : 0;
}

bool TVideoCap::GetVideoOverlay() {
    if (!Window)
        return false;
    UpdateStatus(false);
    std::lock_guard<std::mutex> lock(StatusLock);
    return Status && Status->OverlayWindow;
}

void TVideoCap::SetVideoOverlay(bool on) {
    if (on == GetVideoOverlay())
        return;
    if (!GetDriverCaps() || !HasOverlay())
        Fail<ENoOverlayException>();
    if (on) {
        Open();
        GrabFrame();
    }
    Window->SetOverlay(on);
    UpdateStatus(true);
    update();
}

bool TVideoCap::GetVideoPreview() {
    if (!Window)
        return false;
    UpdateStatus(false);
    std::lock_guard<std::mutex> lock(StatusLock);
    return Status && Status->LiveWindow;
}

void TVideoCap::SetVideoPreview(bool on) {
    if (on)
        Open();
    if (!Window)
        return;
    Window->SetPreview(on);
    UpdateStatus(true);
    update();
}

void TVideoCap::SetPreviewScaleToWindow(bool on) {
    FScaleToWindow = on;
    if (Window) {
        Window->SetScale(on);
        FitWindow();
    }
    update();
}

void TVideoCap::SetPreviewScaleProportional(bool on) {
    FScaleProportional = on;
    if (Window)
        FitWindow();
    update();
}

void TVideoCap::SetPreviewRate(uint16_t rate) {
    FPreviewRate = std::clamp<uint16_t>(rate, 1, 30);
    if (Window)
        Window->SetPreviewRate(Round(1.0L / FPreviewRate * 1000));
}

void TVideoCap::SetMicroSecPerFrame(uint32_t us) {
    FMicroSecPerFrame = std::max<uint32_t>(us, 33333);
}

uint16_t TVideoCap::GetFrameRate() const {
    return FMicroSecPerFrame == 0 ? 0 : uint16_t(Round(1000000.0L / FMicroSecPerFrame));
}

void TVideoCap::SetFrameRate(uint16_t fps) {
    if (fps != 0)
        FMicroSecPerFrame = uint32_t(Round(1.0L / fps * 1000000));
}

void TVideoCap::SetCapIndexSize(uint32_t size) {
    FCapIndexSize = size == 0 ? 0 : std::clamp<uint32_t>(size, 1800, 324000);
}

void TVideoCap::SetBufferFileSize(uint16_t megabytes) {
    if (megabytes == FBufferFileSize)
        return;
    FBufferFileSize = megabytes;
    if (Window)
        SetupBufferFile(true);
}

void TVideoCap::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (Window && FScaleToWindow)
        FitWindow();
}

void TVideoCap::FitWindow() {
    if (!Window)
        return;
    const int32_t iw = ImageWidth(), ih = ImageHeight();
    if (!FScaleToWindow) {
        Window->setGeometry(0, 0, iw, ih);
        return;
    }
    // Without a known picture height there is no ratio to keep: the window fills the control.
    if (!FScaleProportional || ih == 0 || iw == 0 || height() == 0) {
        Window->setGeometry(0, 0, width(), height());
        return;
    }
    const float controlRatio = float(width()) / float(height());
    const float imageRatio = float(iw) / float(ih);
    if (controlRatio > imageRatio)
        Window->setGeometry(0, 0, Round(height() * imageRatio), height());
    else
        Window->setGeometry(0, 0, width(), Round(width() / imageRatio));
}

void TVideoCap::SetupBufferFile(bool enable) {
    if (FBufferFileName.empty() && FBufferFileSize == 0)
        return;
    const int64_t size = enable ? FBufferFileSize : 0;
    if (FBufferFileName.empty()) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "capXXXXXX").string();
        const int fd = ::mkstemp(tmpl.data());
        if (fd < 0)
            Fail<EBufferFileError>();
        ::close(fd);
        FBufferFileName = tmpl;
    }
    if (size > 0) {
        if (!Window->SetCaptureFile(FBufferFileName) ||
            !Window->FileAllocate(CheckedMul<int64_t>(size, Megabyte)))
            Fail<EBufferFileError>();
        return;
    }
    Window->SetCaptureFile(VideoFileName);
    // A temporary file of ours: deleted, not sent to the trash.
    std::error_code ec;
    std::filesystem::remove(FBufferFileName, ec);
    FBufferFileName.clear();
}

void TVideoCap::GetVideoFormat(TBitmapInfoHeader& header) {
    std::memset(&header, 0, sizeof(header));
    if (!Window)
        Fail<ENotOpen>();
    Window->GetVideoFormat(header);
}

void TVideoCap::SetVideoFormat(const TBitmapInfoHeader& header) {
    if (!Window)
        Fail<ENotOpen>();
    if (!Window->SetVideoFormat(header))
        Fail<EFalseFormat>();
    UpdateStatus(true);
    FitWindow();
}

bool TVideoCap::DlgVideoFormat() {
    if (FDriverIndex < 0)
        return false;
    const bool wasOpen = GetDriverOpen();
    Open();
    const bool ok = Window->DlgVideoFormat();
    if (ok) {
        UpdateStatus(true);
        FitWindow();
        update();
    }
    if (!wasOpen)
        Close();
    return ok;
}

bool TVideoCap::DlgVideoCompression() {
    if (FDriverIndex < 0)
        return false;
    const bool wasOpen = GetDriverOpen();
    Open();
    const bool ok = Window->DlgVideoCompression();
    if (!wasOpen)
        Close();
    return ok;
}

bool TVideoCap::GrabFrame() {
    if (!Window)
        return false;
    const bool ok = Window->GrabFrame();
    if (ok)
        UpdateStatus(true);
    return ok;
}

int64_t TVideoCap::SequenceIndexSize() const {
    int64_t size;
    if (CapTimeLimit != 0) {
        size = int64_t(GetFrameRate()) * CapTimeLimit;
        if (CapAudio)
            size += 5 * int64_t(CapTimeLimit);
    } else {
        size = FCapIndexSize != 0 ? FCapIndexSize : 100000;
    }
    return std::clamp<int64_t>(size, 1800, 324000);
}

bool TVideoCap::StartCapture() {
    if (!Window)
        return false;
    TCaptureParms parms{};
    Window->GetSequenceSetup(parms);
    if (FBufferFileName.empty())
        Window->SetCaptureFile(VideoFileName);
    parms.RequestMicroSecPerFrame = FMicroSecPerFrame;
    parms.Yield = true;
    parms.CaptureAudio = CapAudio;
    parms.KeyAbort = 0;
    parms.AbortLeftMouse = false;
    parms.AbortRightMouse = false;
    parms.LimitEnabled = true;
    parms.TimeLimit = CapTimeLimit;
    parms.MCIControl = false;
    parms.IndexSize = uint32_t(SequenceIndexSize());
    Window->SetSequenceSetup(parms);
    if (CapAudio)
        CapAudioFormat.ApplyToWindow(Window);
    SequenceToFile = CapToFile;
    const bool ok = Window->Sequence(CapToFile);
    UpdateStatus(true);
    return ok;
}

void TVideoCap::SequenceEnded() {
    // With a buffer file the recording went there: it becomes the chosen file now, and a fresh
    // buffer is reserved for the next one. If the move fails the recording stays in the buffer.
    if (!FBufferFileName.empty() && SequenceToFile) {
        if (Window->LastComplete() && Window->FileSaveAs(VideoFileName)) {
            // The buffer is private to us in the shared temporary folder; under its chosen name
            // the recording is an ordinary new file of the user's, like one recorded directly.
            ::chmod(VideoFileName.c_str(), NewFileMode());
            FBufferFileName.clear();
            try {
                SetupBufferFile(true);
            } catch (const Exception& e) {
                Ui.ShowMessage(e.GetMessage(), TMsgKind::Error);
            }
        } else {
            Ui.ShowMessage("Can not save the capture to " + VideoFileName + "; it is kept in " +
                               FBufferFileName,
                           TMsgKind::Error);
            FBufferFileName.clear();
            try {
                SetupBufferFile(true);
            } catch (const Exception&) {
            }
        }
    }
    UpdateStatus(true);
}

bool TVideoCap::StopCapture() {
    if (!Window)
        return false;
    const bool ok = Window->Stop();
    UpdateStatus(true);
    return ok;
}

bool TVideoCap::GetCaptureCounts(int64_t& frame, int64_t& dropped, int64_t& elapsedMs) {
    frame = 0;
    dropped = 0;
    UpdateStatus(false);
    std::lock_guard<std::mutex> lock(StatusLock);
    if (!Status)
        return false;
    frame = Status->CurrentVideoFrame;
    dropped = Status->CurrentVideoFramesDropped;
    elapsedMs = Status->CurrentTimeElapsedMS;
    return true;
}
