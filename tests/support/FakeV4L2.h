// A scripted V4L2 device layer: cameras that answer the capture ioctls from memory, hand out
// buffers through a fake mmap, fill dequeued buffers with one flat colour in their pixel format,
// can be busy, and can vanish after a number of frames. Counts what the driver code asked of it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MyCaptureDevice.h"

struct TFakeCamera {
    std::string Path = "/dev/video0";
    std::string Card = "Fake camera";
    uint32_t Version = 0x050A03; // 5.10.3
    bool CaptureNode = true;     // false: a metadata node of the same camera
    std::vector<TCapFormat> Formats{{640, 480, CapPixYUYV}, {320, 240, CapPixYUYV}};
    bool SizeRange = false; // sizes offered as one range from the first format's to the last's
    TCapFormat Current{640, 480, CapPixYUYV};
    bool Busy = false;                // S_FMT and REQBUFS answer EBUSY
    int VanishAfter = -1;             // frames handed out before the device goes away; -1 never
    int FrameSleepMs = 10;            // how long a poll waits for the next frame
    uint8_t B = 64, G = 128, R = 192; // the colour of every picture

    // What the driver code did.
    int QbufCount = 0;
    int DqbufCount = 0;
    int Mapped = 0; // buffers mapped now
    bool StreamOn = false;
    uint32_t IntervalUs = 0;
};

class TFakeV4L2Io : public IV4L2Io {
public:
    std::vector<std::shared_ptr<TFakeCamera>> Cameras;

    std::shared_ptr<TFakeCamera> Add(TFakeCamera camera = {});

    std::vector<std::string> DeviceNodes() override;
    int Open(const std::string& path) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(size_t length, int fd, int64_t offset) override;
    int Munmap(void* address, size_t length) override;
    int Poll(int fd, int timeoutMs, short* revents) override;

private:
    struct TOpen {
        std::shared_ptr<TFakeCamera> Cam;
        std::vector<std::vector<uint8_t>> Buffers;
        std::deque<uint32_t> Queue;
        bool Gone = false;
    };
    int Fail(int err);
    void Fill(TOpen& o, uint32_t index, uint32_t& used);
    int Describe(TFakeCamera& c, unsigned long request, void* arg);
    int Format(TOpen& o, void* arg, bool set);
    int Buffers(TOpen& o, unsigned long request, void* arg);

    std::mutex Lock;
    std::map<int, TOpen> Opens;
    int NextFd = 100;
};

// The YUV the fake writes for a colour (BT.601, limited range), for checking conversions.
void FakeRgbToYuv(uint8_t r, uint8_t g, uint8_t b, uint8_t& y, uint8_t& u, uint8_t& v);
