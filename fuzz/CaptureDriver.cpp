// Fuzz target for what a V4L2 driver answers: the device layer lists the nodes, connects one,
// negotiates its formats, maps its buffers and reads frames, while every answer comes from the
// input.
//   Input: for each call the layer makes, in order, one control byte: 0 (or no input left) for a
//   sane answer (a 64 x 48 YUYV camera), 1 for a failure (errno chosen by the next byte), 2 for
//   an answer whose fields are read from the bytes that follow.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <linux/videodev2.h>
#include <map>
#include <memory>
#include <poll.h>
#include <sys/mman.h>
#include <vector>

#include "MyCaptureDevice.h"

namespace {

// Mapped buffers larger than this are refused, as a system short of memory would.
constexpr size_t MaxMapBytes = 4u << 20;
// Frames are read only while they are this small, so that a run stays quick.
constexpr size_t MaxReadPixels = 1u << 18;

class TScriptedV4L2 : public IV4L2Io {
public:
    TScriptedV4L2(const uint8_t* data, size_t size) : P(data), Left(size) {}

    std::vector<std::string> DeviceNodes() override {
        std::vector<std::string> out{"/dev/video0"};
        if (Control() == 2)
            for (uint8_t i = 1, n = Byte() % 12; i <= n; ++i)
                out.push_back("/dev/video" + std::to_string(i));
        return out;
    }
    int Open(const std::string&) override { return Control() == 1 ? Fail() : 3; }
    int Close(int) override { return 0; }
    int Ioctl(int, unsigned long request, void* arg) override;
    void* Mmap(size_t length, int, int64_t) override {
        if (Control() == 1 || length == 0 || length > MaxMapBytes) {
            errno = ENOMEM;
            return MAP_FAILED;
        }
        auto buffer = std::make_unique<uint8_t[]>(length);
        std::memset(buffer.get(), int(Left & 0xFF), length);
        void* p = buffer.get();
        Maps[p] = std::move(buffer);
        return p;
    }
    int Munmap(void* address, size_t) override {
        return Maps.erase(address) ? 0 : (errno = EINVAL, -1);
    }
    int Poll(int, int, short* revents) override {
        switch (Control()) {
        case 1:
            return Fail();
        case 2:
            *revents = short(Word());
            return Byte() % 2;
        default:
            *revents = POLLIN;
            return 1;
        }
    }

private:
    uint8_t Byte() {
        if (Left == 0)
            return 0;
        --Left;
        return *P++;
    }
    uint32_t Word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    uint8_t Control() { return Byte() % 3; }
    int Fail() {
        static constexpr int Errors[] = {EINVAL, EBUSY, EAGAIN, ENODEV, EIO, ENOMEM, EINTR};
        errno = Errors[Byte() % 7];
        return -1;
    }
    int Answer(unsigned long request, void* arg, bool fuzzed);
    void Format(v4l2_format& f, bool set, bool fuzzed);

    const uint8_t* P;
    size_t Left;
    std::map<void*, std::unique_ptr<uint8_t[]>> Maps;
    uint32_t Queued = 0;
};

int TScriptedV4L2::Ioctl(int, unsigned long request, void* arg) {
    const uint8_t c = Control();
    if (c == 1)
        return Fail();
    return Answer(request, arg, c == 2);
}

void TScriptedV4L2::Format(v4l2_format& f, bool set, bool fuzzed) {
    v4l2_pix_format& p = f.fmt.pix;
    if (fuzzed) {
        p.width = Word();
        p.height = Word();
        p.pixelformat = Word();
        p.bytesperline = Word();
        p.sizeimage = Word();
        return;
    }
    if (!set) {
        p.width = 64;
        p.height = 48;
        p.pixelformat = CapPixYUYV;
    }
    p.bytesperline = p.pixelformat == CapPixYUYV    ? p.width * 2
                     : p.pixelformat == CapPixBGR24 ? p.width * 3
                     : p.pixelformat == CapPixNV12  ? p.width
                                                    : 0;
    p.sizeimage = p.width * p.height * 3;
}

int TScriptedV4L2::Answer(unsigned long request, void* arg, bool fuzzed) {
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* c = static_cast<v4l2_capability*>(arg);
        std::memset(c, 0, sizeof(*c));
        for (size_t i = 0; fuzzed && i < sizeof(c->card); ++i)
            c->card[i] = Byte();
        c->version = fuzzed ? Word() : 0x050A00;
        c->device_caps = fuzzed ? Word() : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        c->capabilities = fuzzed ? Word() : c->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* d = static_cast<v4l2_fmtdesc*>(arg);
        static constexpr uint32_t Known[] = {CapPixYUYV, CapPixNV12, CapPixMJPEG, CapPixBGR24};
        if (!fuzzed && d->index > 0)
            return errno = EINVAL, -1;
        d->pixelformat = fuzzed ? (Byte() % 2 ? Known[Byte() % 4] : Word()) : CapPixYUYV;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* s = static_cast<v4l2_frmsizeenum*>(arg);
        if (!fuzzed && s->index > 0)
            return errno = EINVAL, -1;
        s->type = fuzzed ? Byte() % 4 : V4L2_FRMSIZE_TYPE_DISCRETE;
        if (s->type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            s->discrete.width = fuzzed ? Word() : 64;
            s->discrete.height = fuzzed ? Word() : 48;
        } else {
            s->stepwise = {Word(), Word(), Word(), Word(), Word(), Word()};
        }
        return 0;
    }
    case VIDIOC_G_FMT:
    case VIDIOC_S_FMT:
        Format(*static_cast<v4l2_format*>(arg), request == VIDIOC_S_FMT, fuzzed);
        return 0;
    case VIDIOC_REQBUFS: {
        auto* r = static_cast<v4l2_requestbuffers*>(arg);
        if (fuzzed)
            r->count = Word();
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        b->length = fuzzed ? Word() : 64 * 48 * 2;
        b->m.offset = b->index * 4096;
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        b->index = fuzzed ? Word() : Queued++ % 4;
        b->bytesused = fuzzed ? Word() : 0;
        b->flags = fuzzed ? Word() : 0;
        return 0;
    }
    default: // S_PARM, QBUF, STREAMON, STREAMOFF
        return 0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto io = std::make_shared<TScriptedV4L2>(data, size);
    TCaptureDrivers drivers(io);
    drivers.List();
    std::string error;
    auto dev = OpenV4L2Device(io, "/dev/video0", error);
    if (!dev)
        return 0;
    const std::vector<TCapFormat> formats = dev->Formats();
    for (size_t i = 0; i < formats.size() && i < 4; ++i)
        dev->SetFormat(formats[i]);
    dev->SetFrameInterval(66667);
    for (int round = 0; round < 2 && dev->StartStreaming(); ++round) {
        for (int i = 0; i < 6; ++i) {
            const TCapFormat f = dev->GetFormat();
            if (size_t(f.Width) * size_t(f.Height) > MaxReadPixels)
                break;
            std::vector<uint8_t> bgr(size_t(f.Width) * size_t(f.Height) * 3);
            if (dev->ReadFrame(bgr.data(), f.Width * 3, 0) == TCapRead::Lost)
                break;
        }
        dev->StopStreaming();
    }
    return 0;
}
