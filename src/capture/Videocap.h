// The capture control: a control that connects one capture driver, shows its live picture and
// records a sequence of its frames, with sound when asked, into an AVI file on a worker thread.
// Beneath it sits the capture window, which holds the connected driver, the recording and the
// callbacks; the control adds the driver list, its properties, the buffer file and its errors.
#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "IUiServices.h"
#include "MyCaptureDevice.h"
#include "MyCommonParams.h"

class QTimer;
class TCaptureSequence;

// ---- Exceptions ---------------------------------------------------------------------------------

class ENoDriverException : public Exception {
public:
    ENoDriverException() : Exception("No capture driver selected") {}
};
class ENoCapWindowException : public Exception {
public:
    ENoCapWindowException() : Exception("Can not create capture window") {}
};
class ENotConnectException : public Exception {
public:
    ENotConnectException() : Exception("Can not connect capture driver with capture window") {}
};
class ENoOverlayException : public Exception {
public:
    ENoOverlayException() : Exception("Driver has no overlay mode") {}
};
class EFalseFormat : public Exception {
public:
    EFalseFormat() : Exception("Not supported Frame Format") {}
};
class ENotOpen : public Exception {
public:
    ENotOpen() : Exception("Driver not Open") {}
};
class EBufferFileError : public Exception {
public:
    EBufferFileError() : Exception("Could not create tmp file") {}
};

// ---- Records of the capture window
// ----------------------------------------------------------------

// What the driver can do.
struct TCapDriverCaps {
    int32_t DeviceIndex = 0;
    bool HasOverlay = false;
    bool HasDlgVideoSource = false;
    bool HasDlgVideoFormat = true;
    bool HasDlgVideoDisplay = false;
    bool CaptureInitialized = false;
};

// The state of the capture window.
struct TCapStatus {
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    bool LiveWindow = false;    // preview on
    bool OverlayWindow = false; // overlay on
    bool Scale = false;         // preview stretched to the window
    bool CapturingNow = false;
    bool CapFileExists = false;
    int64_t CurrentVideoFrame = 0;
    int64_t CurrentVideoFramesDropped = 0;
    int64_t CurrentWaveSamples = 0;
    int64_t CurrentTimeElapsedMS = 0;
    int64_t CapFileBytes = 0;
};

// How a sequence is recorded. A new window holds the driver's own defaults.
struct TCaptureParms {
    uint32_t RequestMicroSecPerFrame = 66667;
    bool Yield = false; // ours always records on the worker thread; kept as set
    uint32_t IndexSize = 34952;
    bool CaptureAudio = false;
    int32_t KeyAbort = 0x1B; // Escape; 0 = none
    bool AbortLeftMouse = true;
    bool AbortRightMouse = true;
    bool LimitEnabled = false;
    uint32_t TimeLimit = 0; // seconds
    bool MCIControl = false;
};

// One captured picture handed to the frame and video-stream callbacks.
struct TVideoHdr {
    const uint8_t* Data = nullptr; // Width × Height B, G, R pixels, top row first
    uint32_t BufferLength = 0;
    uint32_t BytesUsed = 0;
    uint32_t TimeCaptured = 0; // milliseconds since the recording began
    int32_t Width = 0;
    int32_t Height = 0;
};

// One block of recorded sound handed to the wave-stream callback.
struct TWaveHdr {
    const uint8_t* Data = nullptr;
    uint32_t BufferLength = 0;
    uint32_t BytesRecorded = 0;
};

// Status ids of the status callback.
inline constexpr int CapStatusBegin = 300;
inline constexpr int CapStatusEnd = 301;
// Error ids of the error callback.
inline constexpr int CapErrorDeviceLost = 1;
inline constexpr int CapErrorWrite = 2;
inline constexpr int CapErrorAudio = 3;

// ---- The capture window
// ---------------------------------------------------------------------------

// The window a driver draws its live picture into; it owns the connected driver and the
// recording. Mouse clicks go on to the parent (the control). Lives on the GUI thread; during a
// recording the worker owns the driver and its callbacks run on the worker.
class TCapWindow : public QWidget {
    Q_OBJECT
public:
    TCapWindow(IUiServices& ui, TCaptureDrivers& drivers, QWidget* parent);
    ~TCapWindow() override;

    bool DriverConnect(int index);
    void DriverDisconnect();
    bool Connected() const { return Device != nullptr; }
    // Why the last connect failed.
    const std::string& ConnectError() const { return LastConnectError; }

    bool GetDriverCaps(TCapDriverCaps& caps) const;
    bool GetStatus(TCapStatus& status) const;
    // The picture the driver delivers: 24-bit, BI_RGB, bottom-up, as the file gets it.
    bool GetVideoFormat(TBitmapInfoHeader& header) const;
    // Takes a 24-bit BI_RGB header of a size the driver offers; false otherwise or while
    // recording.
    bool SetVideoFormat(const TBitmapInfoHeader& header);
    // The driver's own dialogs; true when accepted and applied.
    bool DlgVideoFormat();
    bool DlgVideoCompression();
    // FOURCC of the compressor the file is written with; 0 = full frames.
    uint32_t CompressorHandler() const { return Compressor; }
    void SetCompressorHandler(uint32_t handler) { Compressor = handler; }

    bool SetPreview(bool on);
    bool SetOverlay(bool on); // no driver of ours draws an overlay: false
    bool SetScale(bool on);
    bool SetPreviewRate(int milliseconds);
    int PreviewRateMs() const { return PreviewMs; }
    bool GrabFrame();

    bool GetSequenceSetup(TCaptureParms& parms) const;
    bool SetSequenceSetup(const TCaptureParms& parms);
    bool GetAudioFormat(TWaveFormatEx& format) const;
    bool SetAudioFormat(const TWaveFormatEx& format);
    bool SetCaptureFile(const std::string& fileName);
    const std::string& GetCaptureFile() const { return CaptureFile; }
    // Reserves bytes of disk for the capture file; a recording then writes into it as it stands
    // and cuts it to the movie's length at the end.
    bool FileAllocate(int64_t bytes);
    // Moves the recorded capture file to fileName; the capture file is then gone. An older file
    // of that name is replaced only by a whole copy.
    bool FileSaveAs(const std::string& fileName);
    // Whether the last recording left a whole file.
    bool LastComplete() const { return LastCompleteFlag; }
    // The current picture as a 24-bit BMP file.
    bool SaveDIB(const std::string& fileName);

    // Starts a recording into the capture file (toFile) or only to the callbacks; returns at once.
    bool Sequence(bool toFile);
    // Ends the recording; returns once the file is closed.
    bool Stop();
    bool Capturing() const;

    // The callbacks; set or cleared at any time (the worker sees the change at once).
    void SetStatusCallback(std::function<void(int, const std::string&)> fn);
    void SetErrorCallback(std::function<void(int, const std::string&)> fn);
    void SetFrameCallback(std::function<void(const TVideoHdr&)> fn);
    void SetVideoStreamCallback(std::function<void(const TVideoHdr&)> fn);
    void SetWaveStreamCallback(std::function<void(const TWaveHdr&)> fn);
    // Runs on the GUI thread after every recording, before the end status goes out.
    std::function<void()> OnSequenceEnd;

    // What the worker calls; public for the sequence only.
    void FireError(int id, const std::string& text);
    void FireVideoStream(const TVideoHdr& hdr);
    void FireWaveStream(const TWaveHdr& hdr);
    // The worker's latest picture for the preview.
    void PublishFrame(const uint8_t* bgr, size_t size);

    // Picture shown now (B, G, R rows, Width × 3 apart).
    const std::vector<uint8_t>& Picture() const { return Shown; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PreviewTick();
    void FinishSequence();
    bool ReadOne(int timeoutMs);

    IUiServices& Ui;
    TCaptureDrivers& Drivers;
    std::unique_ptr<ICaptureDevice> Device;
    std::string LastConnectError;
    int DriverIndex = -1;
    QTimer* PreviewTimer = nullptr;
    bool Preview = false;
    bool Scale = false;
    int PreviewMs = 66;
    uint32_t Compressor = 0;
    TCaptureParms Parms;
    TWaveFormatEx AudioFormat{};
    std::string CaptureFile;
    bool CaptureFileReserved = false;
    bool LastCompleteFlag = true;
    std::vector<uint8_t> Shown;
    int32_t ShownWidth = 0;
    int32_t ShownHeight = 0;

    std::unique_ptr<TCaptureSequence> Seq;
    TCapStatus Last;              // counts of the last recording
    mutable std::mutex FrameLock; // the worker's latest picture
    std::vector<uint8_t> Latest;
    bool LatestNew = false;
    mutable std::mutex CallbackLock;
    std::function<void(int, const std::string&)> StatusFn, ErrorFn;
    std::function<void(const TVideoHdr&)> FrameFn, VideoStreamFn;
    std::function<void(const TWaveHdr&)> WaveStreamFn;
    // Posted calls check it: the window may be gone when they run.
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

// ---- The capture control ------------------------------------------------------------------------

namespace Videocap {

// Named as the control's own audio format; the program's audio format block is ::TAudioFormat.
enum class TChannel { Stereo, Mono };
enum class TFrequency { f11025Hz, f22050Hz, f44100Hz, f48000hz };
enum class TResolution { r8Bit, r16Bit };

// The format of the captured sound.
class TAudioFormat {
public:
    TChannel Channels = TChannel::Mono;
    TFrequency Frequency = TFrequency::f11025Hz;
    TResolution Resolution = TResolution::r8Bit;

    void ApplyToWindow(TCapWindow* window) const;
};

} // namespace Videocap

class TVideoCap : public QWidget {
    Q_OBJECT
public:
    // drivers: where drivers come from; the default drivers when null.
    explicit TVideoCap(IUiServices& ui, QWidget* parent = nullptr,
                       TCaptureDrivers* drivers = nullptr);
    ~TVideoCap() override;

    // ---- properties ----
    bool GetDriverOpen() const { return Window != nullptr; }
    void SetDriverOpen(bool open);
    int GetDriverIndex() const { return FDriverIndex; }
    void SetDriverIndex(int index);
    const std::string& GetDriverName() const { return FDriverName; }
    void SetDriverName(const std::string& name);
    bool GetVideoOverlay();
    void SetVideoOverlay(bool on);
    bool GetVideoPreview();
    void SetVideoPreview(bool on);
    bool GetPreviewScaleToWindow() const { return FScaleToWindow; }
    void SetPreviewScaleToWindow(bool on);
    bool GetPreviewScaleProportional() const { return FScaleProportional; }
    void SetPreviewScaleProportional(bool on);
    uint16_t GetPreviewRate() const { return FPreviewRate; }
    void SetPreviewRate(uint16_t rate);
    uint32_t GetMicroSecPerFrame() const { return FMicroSecPerFrame; }
    void SetMicroSecPerFrame(uint32_t us);
    uint16_t GetFrameRate() const;
    void SetFrameRate(uint16_t fps);
    bool CapAudio = false;
    std::string VideoFileName = "Video.avi";
    // Kept for the owner; nothing here reads it.
    std::string SingleImageFile = "Capture.bmp";
    uint16_t CapTimeLimit = 0; // seconds, 0 = none
    uint32_t GetCapIndexSize() const { return FCapIndexSize; }
    void SetCapIndexSize(uint32_t size);
    bool CapToFile = true;
    Videocap::TAudioFormat CapAudioFormat;
    uint16_t GetBufferFileSize() const { return FBufferFileSize; }
    void SetBufferFileSize(uint16_t megabytes);

    // ---- events ----
    void SetOnStatus(std::function<void(TVideoCap&)> fn) { OnStatus = std::move(fn); }
    void SetOnStatusCallback(std::function<void(TVideoCap&, int, const std::string&)> fn);
    void SetOnVideoStream(std::function<void(TVideoCap&, const TVideoHdr&)> fn);
    void SetOnFrameCallback(std::function<void(TVideoCap&, const TVideoHdr&)> fn);
    void SetOnAudioStream(std::function<void(TVideoCap&, const TWaveHdr&)> fn);
    void SetOnError(std::function<void(TVideoCap&, int, const std::string&)> fn);

    // ---- operations ----
    // "name version" of every driver.
    std::vector<std::string> GetDriverList() const;
    bool Open();
    void Close();
    bool GetDriverCaps();
    bool HasOverlay() const { return Caps && Caps->HasOverlay; }
    bool UpdateStatus(bool fireEvent);
    uint16_t ImageWidth() const;
    uint16_t ImageHeight() const;
    void GetVideoFormat(TBitmapInfoHeader& header);
    void SetVideoFormat(const TBitmapInfoHeader& header);
    bool DlgVideoFormat();
    bool DlgVideoCompression();
    bool GrabFrame();
    bool StartCapture();
    bool StopCapture();
    // Call on the GUI thread.
    bool GetCaptureCounts(int64_t& frame, int64_t& dropped, int64_t& elapsedMs);
    bool HasDriverName() const { return !FDriverName.empty(); }

    TCapWindow* CaptureWindow() const { return Window; }
    const std::string& BufferFileName() const { return FBufferFileName; }
    // The index size StartCapture asks for.
    int64_t SequenceIndexSize() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitWindow();
    void SetupBufferFile(bool enable);
    void InstallCallbacks();
    void SequenceEnded();
    // Every error goes out after a status refresh that tells the owner.
    template <class E> [[noreturn]] void Fail() {
        UpdateStatus(true);
        throw E();
    }

    IUiServices& Ui;
    TCaptureDrivers& Drivers;
    TCapWindow* Window = nullptr;
    int FDriverIndex = -1;
    std::string FDriverName;
    std::optional<TCapDriverCaps> Caps;
    // Read by callbacks on the worker too.
    mutable std::mutex StatusLock;
    std::optional<TCapStatus> Status;
    bool FScaleToWindow = false;
    bool FScaleProportional = false;
    uint16_t FPreviewRate = 30;
    uint32_t FMicroSecPerFrame = 66667;
    std::string FBufferFileName;
    uint16_t FBufferFileSize = 0;
    uint32_t FCapIndexSize = 0;
    bool SequenceToFile = false;

    std::function<void(TVideoCap&)> OnStatus;
    std::function<void(TVideoCap&, int, const std::string&)> OnStatusCallback, OnError;
    std::function<void(TVideoCap&, const TVideoHdr&)> OnVideoStream, OnFrameCallback;
    std::function<void(TVideoCap&, const TWaveHdr&)> OnAudioStream;
};
