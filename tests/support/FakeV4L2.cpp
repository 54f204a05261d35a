#include "FakeV4L2.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <turbojpeg.h>

void FakeRgbToYuv(uint8_t r, uint8_t g, uint8_t b, uint8_t& y, uint8_t& u, uint8_t& v) {
    y = uint8_t(16 + (66 * r + 129 * g + 25 * b + 128) / 256);
    u = uint8_t(128 + (-38 * r - 74 * g + 112 * b + 128) / 256);
    v = uint8_t(128 + (112 * r - 94 * g - 18 * b + 128) / 256);
}

std::shared_ptr<TFakeCamera> TFakeV4L2Io::Add(TFakeCamera camera) {
    Cameras.push_back(std::make_shared<TFakeCamera>(std::move(camera)));
    return Cameras.back();
}

std::vector<std::string> TFakeV4L2Io::DeviceNodes() {
    std::vector<std::string> out;
    for (auto& c : Cameras)
        out.push_back(c->Path);
    return out;
}

int TFakeV4L2Io::Fail(int err) {
    errno = err;
    return -1;
}

int TFakeV4L2Io::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(Lock);
    for (auto& c : Cameras)
        if (c->Path == path) {
            Opens[NextFd].Cam = c;
            return NextFd++;
        }
    return Fail(ENOENT);
}

int TFakeV4L2Io::Close(int fd) {
    std::lock_guard<std::mutex> lock(Lock);
    return Opens.erase(fd) ? 0 : Fail(EBADF);
}

static size_t FrameBytes(const TCapFormat& f) {
    const size_t px = size_t(f.Width) * size_t(f.Height);
    return f.PixelFormat == CapPixYUYV ? px * 2 : f.PixelFormat == CapPixNV12 ? px * 3 / 2 : px * 3;
}

void TFakeV4L2Io::Fill(TOpen& o, uint32_t index, uint32_t& used) {
    TFakeCamera& c = *o.Cam;
    std::vector<uint8_t>& buf = o.Buffers[index];
    const size_t px = size_t(c.Current.Width) * size_t(c.Current.Height);
    uint8_t y, u, v;
    FakeRgbToYuv(c.R, c.G, c.B, y, u, v);
    used = uint32_t(FrameBytes(c.Current));
    if (c.Current.PixelFormat == CapPixYUYV) {
        for (size_t i = 0; i < px / 2; ++i) {
            buf[4 * i] = y, buf[4 * i + 1] = u, buf[4 * i + 2] = y, buf[4 * i + 3] = v;
        }
    } else if (c.Current.PixelFormat == CapPixNV12) {
        std::fill(buf.begin(), buf.begin() + px, y);
        for (size_t i = 0; i < px / 4; ++i)
            buf[px + 2 * i] = u, buf[px + 2 * i + 1] = v;
    } else {
        std::vector<uint8_t> bgr(px * 3);
        for (size_t i = 0; i < px; ++i)
            bgr[3 * i] = c.B, bgr[3 * i + 1] = c.G, bgr[3 * i + 2] = c.R;
        if (c.Current.PixelFormat == CapPixBGR24) {
            std::copy(bgr.begin(), bgr.end(), buf.begin());
            return;
        }
        tjhandle tj = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(tj, bgr.data(), c.Current.Width, 0, c.Current.Height, TJPF_BGR, &jpeg, &size,
                    TJSAMP_422, 95, 0);
        used = uint32_t(std::min<size_t>(size, buf.size()));
        std::memcpy(buf.data(), jpeg, used);
        tjFree(jpeg);
        tjDestroy(tj);
    }
}

int TFakeV4L2Io::Format(TOpen& o, void* arg, bool set) {
    TFakeCamera& c = *o.Cam;
    auto* f = static_cast<v4l2_format*>(arg);
    if (set) {
        if (c.Busy)
            return Fail(EBUSY);
        // Like a driver: an unknown format or size is adjusted to one it has.
        TCapFormat want{int32_t(f->fmt.pix.width), int32_t(f->fmt.pix.height),
                        f->fmt.pix.pixelformat};
        auto it = std::find(c.Formats.begin(), c.Formats.end(), want);
        if (it == c.Formats.end())
            it = std::find_if(c.Formats.begin(), c.Formats.end(), [&](const TCapFormat& x) {
                return x.PixelFormat == want.PixelFormat;
            });
        c.Current = it == c.Formats.end() ? c.Formats.front() : *it;
    }
    f->fmt.pix.width = uint32_t(c.Current.Width);
    f->fmt.pix.height = uint32_t(c.Current.Height);
    f->fmt.pix.pixelformat = c.Current.PixelFormat;
    f->fmt.pix.bytesperline = c.Current.PixelFormat == CapPixYUYV    ? c.Current.Width * 2
                              : c.Current.PixelFormat == CapPixNV12  ? c.Current.Width
                              : c.Current.PixelFormat == CapPixBGR24 ? c.Current.Width * 3
                                                                     : 0;
    f->fmt.pix.sizeimage = uint32_t(FrameBytes(c.Current));
    return 0;
}

int TFakeV4L2Io::Buffers(TOpen& o, unsigned long request, void* arg) {
    TFakeCamera& c = *o.Cam;
    if (request == VIDIOC_REQBUFS) {
        auto* r = static_cast<v4l2_requestbuffers*>(arg);
        if (c.Busy)
            return Fail(EBUSY);
        if (c.Mapped > 0 && r->count > 0)
            return Fail(EBUSY);
        o.Buffers.assign(r->count, std::vector<uint8_t>(FrameBytes(c.Current)));
        o.Queue.clear();
        return 0;
    }
    auto* b = static_cast<v4l2_buffer*>(arg);
    if (request == VIDIOC_QUERYBUF) {
        if (b->index >= o.Buffers.size())
            return Fail(EINVAL);
        b->length = uint32_t(o.Buffers[b->index].size());
        b->m.offset = b->index * 4096;
        return 0;
    }
    if (request == VIDIOC_QBUF) {
        if (b->index >= o.Buffers.size())
            return Fail(EINVAL);
        o.Queue.push_back(b->index);
        ++c.QbufCount;
        return 0;
    }
    // VIDIOC_DQBUF
    if (o.Queue.empty() || !c.StreamOn)
        return Fail(EAGAIN);
    b->index = o.Queue.front();
    o.Queue.pop_front();
    Fill(o, b->index, b->bytesused);
    b->flags = 0;
    ++c.DqbufCount;
    return 0;
}

int TFakeV4L2Io::Describe(TFakeCamera& c, unsigned long request, void* arg) {
    if (request == VIDIOC_QUERYCAP) {
        auto* cap = static_cast<v4l2_capability*>(arg);
        std::memset(cap, 0, sizeof(*cap));
        std::strncpy(reinterpret_cast<char*>(cap->card), c.Card.c_str(), sizeof(cap->card) - 1);
        cap->version = c.Version;
        cap->device_caps =
            c.CaptureNode ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING : V4L2_CAP_META_CAPTURE;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    if (request == VIDIOC_ENUM_FMT) {
        auto* d = static_cast<v4l2_fmtdesc*>(arg);
        std::vector<uint32_t> codes;
        for (const TCapFormat& f : c.Formats)
            if (std::find(codes.begin(), codes.end(), f.PixelFormat) == codes.end())
                codes.push_back(f.PixelFormat);
        if (d->index >= codes.size())
            return Fail(EINVAL);
        d->pixelformat = codes[d->index];
        return 0;
    }
    // VIDIOC_ENUM_FRAMESIZES: the sizes of one pixel format, as a list.
    auto* s = static_cast<v4l2_frmsizeenum*>(arg);
    if (c.SizeRange && s->index == 0 && !c.Formats.empty()) {
        const TCapFormat &lo = c.Formats.front(), &hi = c.Formats.back();
        s->type = V4L2_FRMSIZE_TYPE_CONTINUOUS;
        s->stepwise = {uint32_t(lo.Width),  uint32_t(hi.Width),  1,
                       uint32_t(lo.Height), uint32_t(hi.Height), 1};
        return 0;
    }
    uint32_t n = 0;
    for (const TCapFormat& f : c.Formats)
        if (f.PixelFormat == s->pixel_format && n++ == s->index) {
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete = {uint32_t(f.Width), uint32_t(f.Height)};
            return 0;
        }
    return Fail(EINVAL);
}

int TFakeV4L2Io::Ioctl(int fd, unsigned long request, void* arg) {
    std::lock_guard<std::mutex> lock(Lock);
    auto it = Opens.find(fd);
    if (it == Opens.end())
        return Fail(EBADF);
    TOpen& o = it->second;
    TFakeCamera& c = *o.Cam;
    if (o.Gone)
        return Fail(ENODEV);
    switch (request) {
    case VIDIOC_QUERYCAP:
    case VIDIOC_ENUM_FMT:
    case VIDIOC_ENUM_FRAMESIZES:
        return Describe(c, request, arg);
    case VIDIOC_G_FMT:
        return Format(o, arg, false);
    case VIDIOC_S_FMT:
        return c.StreamOn ? Fail(EBUSY) : Format(o, arg, true);
    case VIDIOC_S_PARM: {
        auto* p = static_cast<v4l2_streamparm*>(arg);
        c.IntervalUs = p->parm.capture.timeperframe.numerator;
        return 0;
    }
    case VIDIOC_STREAMON:
        c.StreamOn = true;
        return 0;
    case VIDIOC_STREAMOFF:
        c.StreamOn = false;
        o.Queue.clear();
        return 0;
    case VIDIOC_REQBUFS:
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF:
        return Buffers(o, request, arg);
    default:
        return Fail(ENOTTY);
    }
}

void* TFakeV4L2Io::Mmap(size_t length, int fd, int64_t offset) {
    std::lock_guard<std::mutex> lock(Lock);
    auto it = Opens.find(fd);
    const size_t index = size_t(offset / 4096);
    if (it == Opens.end() || index >= it->second.Buffers.size() ||
        length > it->second.Buffers[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    ++it->second.Cam->Mapped;
    return it->second.Buffers[index].data();
}

int TFakeV4L2Io::Munmap(void* address, size_t length) {
    std::lock_guard<std::mutex> lock(Lock);
    for (auto& [fd, o] : Opens)
        for (auto& b : o.Buffers)
            if (b.data() == address) {
                --o.Cam->Mapped;
                return 0;
            }
    return Fail(EINVAL);
}

int TFakeV4L2Io::Poll(int fd, int timeoutMs, short* revents) {
    int sleepMs;
    {
        std::lock_guard<std::mutex> lock(Lock);
        auto it = Opens.find(fd);
        if (it == Opens.end())
            return Fail(EBADF);
        TOpen& o = it->second;
        TFakeCamera& c = *o.Cam;
        if (o.Gone || (c.VanishAfter >= 0 && c.DqbufCount >= c.VanishAfter)) {
            o.Gone = true;
            *revents = POLLERR;
            return 1;
        }
        if (o.Queue.empty() || !c.StreamOn) {
            *revents = 0;
            return 0;
        }
        sleepMs = std::min(timeoutMs, c.FrameSleepMs);
    }
    if (timeoutMs == 0)
        return *revents = POLLIN, 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    *revents = POLLIN;
    return 1;
}
