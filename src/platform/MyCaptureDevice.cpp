#include "MyCaptureDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/videodev2.h>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <thread>
#include <turbojpeg.h>
#include <unistd.h>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

std::string CapFormatText(const TCapFormat& f) {
    std::string code;
    for (int i = 0; i < 4; ++i)
        code += char((f.PixelFormat >> (8 * i)) & 0xFF);
    return std::to_string(f.Width) + " x " + std::to_string(f.Height) + " " + code;
}

// ---- Clock --------------------------------------------------------------------------------------

namespace {

class TSteadyCaptureClock : public ICaptureClock {
public:
    int64_t NowUs() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void SleepUntilUs(int64_t us) override {
        const int64_t wait = us - NowUs();
        if (wait > 0)
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
    }
};

} // namespace

ICaptureClock& SteadyCaptureClock() {
    static TSteadyCaptureClock clock;
    return clock;
}

// ---- Frame conversion ---------------------------------------------------------------------------

namespace {

// Rows handed to the scaler start on this boundary, and each buffer has this much to spare past
// its last row: the scaler's vector loops read and write up to a vector beyond a row's end.
constexpr size_t ScalerAlign = 64;
constexpr size_t ScalerSlack = 4 * ScalerAlign;

size_t AlignUp(size_t n) {
    return (n + ScalerAlign - 1) / ScalerAlign * ScalerAlign;
}

} // namespace

TCapFrameConverter::TPadded::~TPadded() {
    av_free(Data);
}

bool TCapFrameConverter::TPadded::Fit(size_t bytes) {
    if (bytes + ScalerSlack <= Size)
        return true;
    av_free(Data);
    Size = 0;
    Data = static_cast<uint8_t*>(av_mallocz(bytes + ScalerSlack));
    if (!Data)
        return false;
    Size = bytes + ScalerSlack;
    return true;
}

TCapFrameConverter::TCapFrameConverter() = default;

TCapFrameConverter::~TCapFrameConverter() {
    sws_freeContext(Sws);
    if (Jpeg)
        tjDestroy(Jpeg);
}

bool TCapFrameConverter::Converts(uint32_t pixelFormat) {
    return pixelFormat == CapPixYUYV || pixelFormat == CapPixNV12 || pixelFormat == CapPixMJPEG ||
           pixelFormat == CapPixBGR24;
}

bool TCapFrameConverter::Convert(const TCapFormat& f, const uint8_t* data, size_t size,
                                 uint8_t* bgr, ptrdiff_t stride) {
    if (f.Width <= 0 || f.Height <= 0 || f.Width > MaxCaptureSide || f.Height > MaxCaptureSide ||
        !data)
        return false;
    const size_t pixels = size_t(f.Width) * size_t(f.Height);
    if (f.PixelFormat == CapPixBGR24) {
        if (size < pixels * 3)
            return false;
        for (int32_t y = 0; y < f.Height; ++y)
            std::memcpy(bgr + y * stride, data + size_t(y) * f.Width * 3, size_t(f.Width) * 3);
        return true;
    }
    if (f.PixelFormat == CapPixMJPEG) {
        if (!Jpeg && !(Jpeg = tjInitDecompress()))
            return false;
        int w = 0, h = 0, sub = 0, space = 0;
        if (size == 0 || size > 0x7FFFFFFF ||
            tjDecompressHeader3(Jpeg, data, static_cast<unsigned long>(size), &w, &h, &sub,
                                &space) != 0 ||
            w != f.Width || h != f.Height)
            return false;
        return tjDecompress2(Jpeg, data, static_cast<unsigned long>(size), bgr, f.Width,
                             int(stride), f.Height, TJPF_BGR, 0) == 0;
    }
    if (f.PixelFormat == CapPixYUYV) {
        if (size < pixels * 2 || (f.Width & 1))
            return false;
    } else if (f.PixelFormat == CapPixNV12) {
        if (size < pixels * 3 / 2 || (f.Width & 1) || (f.Height & 1))
            return false;
    } else {
        return false;
    }
    return Scale(f, data, bgr, stride);
}

bool TCapFrameConverter::Scale(const TCapFormat& f, const uint8_t* data, uint8_t* bgr,
                               ptrdiff_t stride) {
    const bool yuyv = f.PixelFormat == CapPixYUYV;
    const size_t w = size_t(f.Width), h = size_t(f.Height);
    // The driver's rows are packed; ours start on aligned boundaries.
    const size_t inRow = yuyv ? w * 2 : w;
    const size_t inStride = AlignUp(inRow);
    const size_t inRows = yuyv ? h : h + h / 2;
    const size_t outStride = AlignUp(w * 3);
    if (!Source.Fit(inStride * inRows) || !Target.Fit(outStride * h))
        return false;
    for (size_t y = 0; y < inRows; ++y)
        std::memcpy(Source.Data + y * inStride, data + y * inRow, inRow);
    const uint8_t* planes[4] = {Source.Data, yuyv ? nullptr : Source.Data + inStride * h, nullptr,
                                nullptr};
    const int strides[4] = {int(inStride), yuyv ? 0 : int(inStride), 0, 0};
    Sws = sws_getCachedContext(Sws, f.Width, f.Height, yuyv ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_NV12,
                               f.Width, f.Height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr,
                               nullptr);
    if (!Sws)
        return false;
    uint8_t* dst[4] = {Target.Data, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {int(outStride), 0, 0, 0};
    if (sws_scale(Sws, planes, strides, 0, f.Height, dst, dstStrides) != f.Height)
        return false;
    for (size_t y = 0; y < h; ++y)
        std::memcpy(bgr + ptrdiff_t(y) * stride, Target.Data + y * outStride, w * 3);
    return true;
}

// ---- Test pattern -------------------------------------------------------------------------------

namespace {

// The eight bars, left to right, as B, G, R.
constexpr uint8_t PatternBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                       {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};

class TTestPatternDevice : public ICaptureDevice {
public:
    explicit TTestPatternDevice(ICaptureClock& clock) : Time(clock) {
        Format = {320, 240, CapPixBGR24};
    }
    TCapDriverDesc Description() const override { return {TestPatternDriverName, "1.0"}; }
    std::vector<TCapFormat> Formats() override {
        return {{160, 120, CapPixBGR24}, {320, 240, CapPixBGR24}, {640, 480, CapPixBGR24}};
    }
    TCapFormat GetFormat() const override { return Format; }
    bool SetFormat(const TCapFormat& f) override {
        const auto all = Formats();
        if (std::find(all.begin(), all.end(), f) == all.end())
            return false;
        Format = f;
        return true;
    }
    void SetFrameInterval(uint32_t us) override { Interval = us; }
    bool StartStreaming() override {
        On = true;
        Next = Time.NowUs();
        return true;
    }
    void StopStreaming() override { On = false; }
    bool Streaming() const override { return On; }
    TCapRead ReadFrame(uint8_t* bgr, ptrdiff_t stride, int timeoutMs) override {
        if (!On)
            return TCapRead::Lost;
        const int64_t now = Time.NowUs();
        if (Next > now) {
            if (Next - now > int64_t(timeoutMs) * 1000)
                return TCapRead::Timeout;
            Time.SleepUntilUs(Next);
        }
        Next = std::max(Next + Interval, Time.NowUs() - Interval);
        Draw(bgr, stride);
        ++Count;
        return TCapRead::Frame;
    }
    std::string ErrorText() const override { return {}; }
    ICaptureClock& Clock() const override { return Time; }

private:
    // The line is the opposite of the bar it crosses, so it shows on every bar and no two
    // frames in a row are alike; it keeps to the third quarter of the rows.
    void Draw(uint8_t* bgr, ptrdiff_t stride) const {
        const int32_t w = Format.Width, h = Format.Height;
        const int32_t line = int32_t(Count % uint64_t(w));
        const uint8_t* bar = PatternBars[line * 8 / w];
        const uint8_t mark[3] = {uint8_t(255 - bar[0]), uint8_t(255 - bar[1]),
                                 uint8_t(255 - bar[2])};
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* p = bgr + y * stride;
            for (int32_t x = 0; x < w; ++x, p += 3)
                std::memcpy(p, PatternBars[x * 8 / w], 3);
            if (y >= h / 2 && y < h * 3 / 4)
                std::memcpy(bgr + y * stride + line * 3, mark, 3);
        }
    }

    ICaptureClock& Time;
    TCapFormat Format;
    bool On = false;
    uint64_t Count = 0;
    int64_t Interval = 66667; // microseconds
    int64_t Next = 0;
};

// ---- V4L2 ---------------------------------------------------------------------------------------

constexpr int V4L2BufferCount = 4;
// Offered when a driver gives size ranges instead of a list.
constexpr TCapFormat StepwiseSizes[] = {{160, 120, 0}, {320, 240, 0},  {640, 480, 0},
                                        {800, 600, 0}, {1280, 720, 0}, {1920, 1080, 0}};

class TV4L2Device : public ICaptureDevice {
public:
    TV4L2Device(std::shared_ptr<IV4L2Io> io, int fd, TCapDriverDesc desc)
        : Io(std::move(io)), Fd(fd), Desc(std::move(desc)) {}
    ~TV4L2Device() override {
        StopStreaming();
        Io->Close(Fd);
    }

    // Takes the driver's current format, or the first one we can convert.
    bool Connect() {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (Xioctl(VIDIOC_G_FMT, &fmt) < 0)
            return false;
        const TCapFormat now{SideOf(fmt.fmt.pix.width), SideOf(fmt.fmt.pix.height),
                             fmt.fmt.pix.pixelformat};
        if (now.Width > 0 && now.Height > 0 && SetFormat(now))
            return true;
        for (const TCapFormat& f : Formats())
            if (SetFormat(f))
                return true;
        if (Error.empty())
            Error = "No frame format of the device can be used";
        return false;
    }

    TCapDriverDesc Description() const override { return Desc; }

    std::vector<TCapFormat> Formats() override {
        std::vector<TCapFormat> out;
        for (uint32_t i = 0;; ++i) {
            v4l2_fmtdesc d{};
            d.index = i;
            d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (Xioctl(VIDIOC_ENUM_FMT, &d) < 0 || i > 64)
                break;
            if (TCapFrameConverter::Converts(d.pixelformat))
                AddSizes(d.pixelformat, out);
        }
        Error.clear();
        return out;
    }

    TCapFormat GetFormat() const override { return Format; }

    bool SetFormat(const TCapFormat& f) override {
        if (On || !TCapFrameConverter::Converts(f.PixelFormat) || f.Width <= 0 || f.Height <= 0 ||
            f.Width > MaxCaptureSide || f.Height > MaxCaptureSide)
            return false;
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = uint32_t(f.Width);
        fmt.fmt.pix.height = uint32_t(f.Height);
        fmt.fmt.pix.pixelformat = f.PixelFormat;
        fmt.fmt.pix.field = V4L2_FIELD_NONE;
        if (Xioctl(VIDIOC_S_FMT, &fmt) < 0)
            return false;
        const TCapFormat got{SideOf(fmt.fmt.pix.width), SideOf(fmt.fmt.pix.height),
                             fmt.fmt.pix.pixelformat};
        // Drivers adjust what they cannot do; only an exact answer is the asked format.
        const uint32_t packed = uint32_t(f.Width) * (f.PixelFormat == CapPixYUYV    ? 2
                                                     : f.PixelFormat == CapPixBGR24 ? 3
                                                     : f.PixelFormat == CapPixNV12  ? 1
                                                                                    : 0);
        // The converters take rows without padding.
        if (!(got == f) ||
            (packed && fmt.fmt.pix.bytesperline && fmt.fmt.pix.bytesperline != packed)) {
            Error = "Not supported Frame Format";
            return false;
        }
        Format = got;
        LineBytes = fmt.fmt.pix.bytesperline;
        return true;
    }

    void SetFrameInterval(uint32_t us) override {
        v4l2_streamparm p{};
        p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        p.parm.capture.timeperframe = {us, 1000000};
        Xioctl(VIDIOC_S_PARM, &p); // a camera with a fixed rate keeps it
        Error.clear();
    }

    bool StartStreaming() override;
    void StopStreaming() override;
    bool Streaming() const override { return On; }
    TCapRead ReadFrame(uint8_t* bgr, ptrdiff_t stride, int timeoutMs) override;
    std::string ErrorText() const override { return Error; }

private:
    struct TBuffer {
        void* Start = nullptr;
        size_t Length = 0;
    };

    // A side as the driver gave it; 0 when it is no size we can hold.
    static int32_t SideOf(uint32_t side) {
        return side <= uint32_t(MaxCaptureSide) ? int32_t(side) : 0;
    }

    int Xioctl(unsigned long request, void* arg) {
        int r;
        do
            r = Io->Ioctl(Fd, request, arg);
        while (r < 0 && errno == EINTR);
        if (r < 0)
            Error = std::strerror(errno);
        return r;
    }

    void AddSizes(uint32_t pixelFormat, std::vector<TCapFormat>& out) {
        for (uint32_t i = 0; i < 64; ++i) {
            v4l2_frmsizeenum s{};
            s.index = i;
            s.pixel_format = pixelFormat;
            if (Xioctl(VIDIOC_ENUM_FRAMESIZES, &s) < 0)
                break;
            if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                const TCapFormat f{SideOf(s.discrete.width), SideOf(s.discrete.height),
                                   pixelFormat};
                if (f.Width > 0 && f.Height > 0)
                    out.push_back(f);
                continue;
            }
            for (TCapFormat f : StepwiseSizes)
                if (uint32_t(f.Width) >= s.stepwise.min_width &&
                    uint32_t(f.Width) <= s.stepwise.max_width &&
                    uint32_t(f.Height) >= s.stepwise.min_height &&
                    uint32_t(f.Height) <= s.stepwise.max_height)
                    out.push_back({f.Width, f.Height, pixelFormat});
            break;
        }
    }

    std::shared_ptr<IV4L2Io> Io;
    int Fd;
    TCapDriverDesc Desc;
    TCapFormat Format;
    uint32_t LineBytes = 0;
    bool On = false;
    std::vector<TBuffer> Buffers;
    TCapFrameConverter Converter;
    std::string Error;
};

bool TV4L2Device::StartStreaming() {
    if (On)
        return true;
    v4l2_requestbuffers req{};
    req.count = V4L2BufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(VIDIOC_REQBUFS, &req) < 0)
        return false;
    On = true; // from here StopStreaming gives back whatever was taken
    // Buffers beyond the ones used stay with the driver, never queued.
    const uint32_t count = std::min(req.count, MaxCaptureBuffers);
    for (uint32_t i = 0; i < count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (Xioctl(VIDIOC_QUERYBUF, &b) < 0)
            break;
        if (b.length == 0) {
            Error = "The device gave an empty buffer";
            break;
        }
        void* p = Io->Mmap(b.length, Fd, b.m.offset);
        if (p == MAP_FAILED) {
            Error = std::strerror(errno);
            break;
        }
        Buffers.push_back({p, b.length});
        if (Xioctl(VIDIOC_QBUF, &b) < 0)
            break;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Buffers.size() != count || count == 0 || Xioctl(VIDIOC_STREAMON, &type) < 0) {
        const std::string why = Error.empty() ? "The device gave no buffers" : Error;
        StopStreaming();
        Error = why;
        return false;
    }
    Error.clear();
    return true;
}

void TV4L2Device::StopStreaming() {
    if (!On)
        return;
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Xioctl(VIDIOC_STREAMOFF, &type);
    for (TBuffer& b : Buffers)
        Io->Munmap(b.Start, b.Length);
    Buffers.clear();
    v4l2_requestbuffers req{};
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    Xioctl(VIDIOC_REQBUFS, &req);
    On = false;
}

TCapRead TV4L2Device::ReadFrame(uint8_t* bgr, ptrdiff_t stride, int timeoutMs) {
    if (!On)
        return TCapRead::Lost;
    short revents = 0;
    const int ready = Io->Poll(Fd, timeoutMs, &revents);
    if (ready == 0)
        return TCapRead::Timeout;
    if (ready < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) {
        Error = ready < 0 ? std::strerror(errno) : "The device was removed";
        return TCapRead::Lost;
    }
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    if (Xioctl(VIDIOC_DQBUF, &b) < 0)
        return errno == EAGAIN ? TCapRead::Timeout : TCapRead::Lost;
    if (b.index >= Buffers.size())
        return TCapRead::Lost;
    const TBuffer& buf = Buffers[b.index];
    const size_t used = std::min<size_t>(b.bytesused ? b.bytesused : buf.Length, buf.Length);
    const bool ok =
        !(b.flags & V4L2_BUF_FLAG_ERROR) &&
        Converter.Convert(Format, static_cast<const uint8_t*>(buf.Start), used, bgr, stride);
    // The buffer goes straight back to the driver, whatever became of its picture.
    if (Xioctl(VIDIOC_QBUF, &b) < 0)
        return TCapRead::Lost;
    return ok ? TCapRead::Frame : TCapRead::Skipped;
}

// ---- System calls -------------------------------------------------------------------------------

class TSystemV4L2Io : public IV4L2Io {
public:
    std::vector<std::string> DeviceNodes() override {
        std::vector<std::pair<int, std::string>> found;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator("/dev", ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("video", 0) == 0 && name.size() > 5 &&
                std::all_of(name.begin() + 5, name.end(), ::isdigit))
                found.emplace_back(std::stoi(name.substr(5)), e.path().string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> out;
        for (auto& f : found)
            out.push_back(f.second);
        return out;
    }
    int Open(const std::string& path) override {
        return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    int Close(int fd) override { return ::close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    void* Mmap(size_t length, int fd, int64_t offset) override {
        return ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    }
    int Munmap(void* address, size_t length) override { return ::munmap(address, length); }
    int Poll(int fd, int timeoutMs, short* revents) override {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        *revents = p.revents;
        return r;
    }
};

std::mutex DefaultDriversLock;
std::shared_ptr<TCaptureDrivers> DefaultDrivers;

} // namespace

std::shared_ptr<IV4L2Io> CreateSystemV4L2Io() {
    return std::make_shared<TSystemV4L2Io>();
}

std::unique_ptr<ICaptureDevice> CreateTestPatternDevice(ICaptureClock& clock) {
    return std::make_unique<TTestPatternDevice>(clock);
}

std::unique_ptr<ICaptureDevice> OpenV4L2Device(std::shared_ptr<IV4L2Io> io, const std::string& path,
                                               std::string& error) {
    const int fd = io->Open(path);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    v4l2_capability cap{};
    if (io->Ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) {
        error = std::strerror(errno);
        io->Close(fd);
        return nullptr;
    }
    cap.card[sizeof(cap.card) - 1] = 0;
    TCapDriverDesc desc{reinterpret_cast<const char*>(cap.card),
                        std::to_string(cap.version >> 16) + "." +
                            std::to_string((cap.version >> 8) & 0xFF) + "." +
                            std::to_string(cap.version & 0xFF)};
    auto dev = std::make_unique<TV4L2Device>(io, fd, desc);
    if (!dev->Connect()) {
        error = dev->ErrorText();
        return nullptr;
    }
    return dev;
}

// ---- Driver list --------------------------------------------------------------------------------

TCaptureDrivers::TCaptureDrivers(std::shared_ptr<IV4L2Io> io, ICaptureClock* patternClock)
    : Io(std::move(io)), PatternClock(patternClock) {}

std::vector<TCaptureDrivers::TNode> TCaptureDrivers::Scan() {
    std::vector<TNode> out;
    for (const std::string& path : Io->DeviceNodes()) {
        if (out.size() + 1 >= size_t(MaxCaptureDrivers))
            break;
        const int fd = Io->Open(path);
        if (fd < 0)
            continue;
        v4l2_capability cap{};
        const bool ok = Io->Ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
        Io->Close(fd);
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        // Metadata and output nodes of the same camera are not capture drivers.
        if (!ok || !(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
            continue;
        cap.card[sizeof(cap.card) - 1] = 0;
        out.push_back(
            {path,
             {reinterpret_cast<const char*>(cap.card),
              std::to_string(cap.version >> 16) + "." + std::to_string((cap.version >> 8) & 0xFF) +
                  "." + std::to_string(cap.version & 0xFF)}});
    }
    out.push_back({{}, {TestPatternDriverName, "1.0"}});
    return out;
}

std::vector<TCapDriverDesc> TCaptureDrivers::List() {
    std::vector<TCapDriverDesc> out;
    for (TNode& n : Scan())
        out.push_back(std::move(n.Desc));
    return out;
}

bool TCaptureDrivers::Describe(int index, TCapDriverDesc& desc) {
    const std::vector<TNode> nodes = Scan();
    if (index < 0 || size_t(index) >= nodes.size())
        return false;
    desc = nodes[size_t(index)].Desc;
    return true;
}

std::unique_ptr<ICaptureDevice> TCaptureDrivers::Open(int index, std::string& error) {
    const std::vector<TNode> nodes = Scan();
    if (index < 0 || size_t(index) >= nodes.size()) {
        error = "No such capture driver";
        return nullptr;
    }
    if (nodes[size_t(index)].Path.empty())
        return CreateTestPatternDevice(PatternClock ? *PatternClock : SteadyCaptureClock());
    return OpenV4L2Device(Io, nodes[size_t(index)].Path, error);
}

TCaptureDrivers& DefaultCaptureDrivers() {
    std::lock_guard<std::mutex> lock(DefaultDriversLock);
    if (!DefaultDrivers)
        DefaultDrivers = std::make_shared<TCaptureDrivers>(CreateSystemV4L2Io());
    return *DefaultDrivers;
}

void SetDefaultCaptureDrivers(std::shared_ptr<TCaptureDrivers> drivers) {
    std::lock_guard<std::mutex> lock(DefaultDriversLock);
    DefaultDrivers = std::move(drivers);
}
