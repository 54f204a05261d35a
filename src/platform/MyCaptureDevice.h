// Capture-device layer: the list of capture drivers (the machine's V4L2 cameras, then a built-in
// test-pattern generator so capture always has a source), connecting one, its frame formats, and
// reading its frames as 24-bit B, G, R pictures. V4L2 is reached through a small ioctl seam so the
// streaming code can be driven by a scripted device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SwsContext;

// Pixel formats, as V4L2 FOURCCs.
inline constexpr uint32_t CapFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
inline constexpr uint32_t CapPixYUYV = CapFourCC('Y', 'U', 'Y', 'V');
inline constexpr uint32_t CapPixNV12 = CapFourCC('N', 'V', '1', '2');
inline constexpr uint32_t CapPixMJPEG = CapFourCC('M', 'J', 'P', 'G');
inline constexpr uint32_t CapPixBGR24 = CapFourCC('B', 'G', 'R', '3');

// One frame format a driver delivers.
struct TCapFormat {
    int32_t Width = 0;
    int32_t Height = 0;
    uint32_t PixelFormat = 0;
    bool operator==(const TCapFormat&) const = default;
};
// "640 x 480 YUYV".
std::string CapFormatText(const TCapFormat& format);

// Largest frame side taken from a driver: larger answers are not a picture we can hold.
inline constexpr int32_t MaxCaptureSide = 8192;
// Most streaming buffers used, whatever number a driver hands out (the V4L2 core's own limit).
inline constexpr uint32_t MaxCaptureBuffers = 64;

// The time capture runs on: a driver paces its frames by it and a recording measures itself by
// it. The system's steady clock, or a test's clock that jumps ahead instead of waiting.
class ICaptureClock {
public:
    virtual ~ICaptureClock() = default;
    virtual int64_t NowUs() = 0;
    // Returns once NowUs() has reached us.
    virtual void SleepUntilUs(int64_t us) = 0;
};
ICaptureClock& SteadyCaptureClock();

// Name and version of one driver, as the driver list shows them.
struct TCapDriverDesc {
    std::string Name;
    std::string Version;
};

// Outcome of waiting for a frame.
enum class TCapRead {
    Frame,   // the picture was written
    Timeout, // none arrived in time
    Skipped, // a frame arrived but could not be decoded (a torn JPEG); the next may be good
    Lost     // the device is gone or failed; nothing more will come
};

// One connected capture driver. Not thread-safe: one thread uses it at a time.
class ICaptureDevice {
public:
    virtual ~ICaptureDevice() = default;
    virtual TCapDriverDesc Description() const = 0;
    // The formats offered by the driver's format dialog.
    virtual std::vector<TCapFormat> Formats() = 0;
    virtual TCapFormat GetFormat() const = 0;
    // Negotiates the format; false (the old one stays) when the driver refuses it.
    virtual bool SetFormat(const TCapFormat& format) = 0;
    // Asks for one frame every usPerFrame microseconds; drivers that cannot, ignore it.
    virtual void SetFrameInterval(uint32_t usPerFrame) = 0;
    virtual bool HasOverlay() const { return false; }
    virtual bool StartStreaming() = 0;
    virtual void StopStreaming() = 0;
    virtual bool Streaming() const = 0;
    // Waits up to timeoutMs for the next frame and writes it as GetFormat().Width × Height
    // B, G, R pixels, top row first, rows stride bytes apart.
    virtual TCapRead ReadFrame(uint8_t* bgr, ptrdiff_t stride, int timeoutMs) = 0;
    // Why the last call failed ("Device or resource busy"); empty when it did not.
    virtual std::string ErrorText() const = 0;
    // The clock the driver's frames arrive by.
    virtual ICaptureClock& Clock() const { return SteadyCaptureClock(); }
};

// ---- Frame conversion ---------------------------------------------------------------------------

// Turns driver frames into 24-bit B, G, R: YUYV and NV12 through libswscale, MJPEG through
// TurboJPEG, BGR24 copied. The scaler reads and writes whole vectors past a row's end, so it only
// ever sees padded, aligned copies of its own; the caller's frame and picture are touched exactly.
// Keeps its scaler, decoder and buffers between frames.
class TCapFrameConverter {
public:
    TCapFrameConverter();
    ~TCapFrameConverter();
    TCapFrameConverter(const TCapFrameConverter&) = delete;
    TCapFrameConverter& operator=(const TCapFrameConverter&) = delete;

    static bool Converts(uint32_t pixelFormat);
    // False when the data is too short for the format or does not decode to that size.
    bool Convert(const TCapFormat& format, const uint8_t* data, size_t size, uint8_t* bgr,
                 ptrdiff_t stride);

private:
    // An aligned buffer with room past its end for the scaler's overreach.
    struct TPadded {
        uint8_t* Data = nullptr;
        size_t Size = 0;
        TPadded() = default;
        TPadded(const TPadded&) = delete;
        TPadded& operator=(const TPadded&) = delete;
        ~TPadded();
        bool Fit(size_t bytes);
    };
    bool Scale(const TCapFormat& f, const uint8_t* data, uint8_t* bgr, ptrdiff_t stride);

    SwsContext* Sws = nullptr;
    void* Jpeg = nullptr;
    TPadded Source, Target;
};

// ---- V4L2 seam ----------------------------------------------------------------------------------

// The system calls the V4L2 driver uses; results and errno as the system gives them (-1 and
// errno set on failure).
class IV4L2Io {
public:
    virtual ~IV4L2Io() = default;
    // Device nodes in the order the driver list shows them ("/dev/video0", ...).
    virtual std::vector<std::string> DeviceNodes() = 0;
    virtual int Open(const std::string& path) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* Mmap(size_t length, int fd, int64_t offset) = 0; // MAP_FAILED on failure
    virtual int Munmap(void* address, size_t length) = 0;
    // Waits for a frame: >0 ready (revents in *revents), 0 timed out, -1 failed.
    virtual int Poll(int fd, int timeoutMs, short* revents) = 0;
};

// The real system calls over /dev/video*.
std::shared_ptr<IV4L2Io> CreateSystemV4L2Io();

// ---- Driver list --------------------------------------------------------------------------------

inline constexpr int MaxCaptureDrivers = 10;
inline constexpr const char* TestPatternDriverName = "Test pattern generator";

// The drivers of the machine: V4L2 video capture nodes with streaming, then the test pattern.
class TCaptureDrivers {
public:
    // patternClock: the clock of the test pattern; the steady clock when null.
    explicit TCaptureDrivers(std::shared_ptr<IV4L2Io> io, ICaptureClock* patternClock = nullptr);

    // Every driver, in index order (at most MaxCaptureDrivers).
    std::vector<TCapDriverDesc> List();
    // Driver index's description; false when there is no such driver.
    bool Describe(int index, TCapDriverDesc& desc);
    // Connects driver index; null with the reason in error when it cannot be.
    std::unique_ptr<ICaptureDevice> Open(int index, std::string& error);

private:
    struct TNode {
        std::string Path;
        TCapDriverDesc Desc;
    };
    std::vector<TNode> Scan();

    std::shared_ptr<IV4L2Io> Io;
    ICaptureClock* PatternClock;
};

// The drivers every capture control uses unless given others: the system's V4L2 nodes.
TCaptureDrivers& DefaultCaptureDrivers();
// Replaces the default drivers (a scripted V4L2 layer); null puts the system's back.
void SetDefaultCaptureDrivers(std::shared_ptr<TCaptureDrivers> drivers);

// The built-in generator: colour bars with a line that moves one pixel per frame, drawn in the
// opposite colour of each bar across the third quarter of the rows.
std::unique_ptr<ICaptureDevice>
CreateTestPatternDevice(ICaptureClock& clock = SteadyCaptureClock());
// The V4L2 device at path, connected (opened and its format negotiated); null with the reason.
std::unique_ptr<ICaptureDevice> OpenV4L2Device(std::shared_ptr<IV4L2Io> io, const std::string& path,
                                               std::string& error);
