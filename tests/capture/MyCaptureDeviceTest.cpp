#include "MyCaptureDevice.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <turbojpeg.h>
#include <unistd.h>

#include "FakeV4L2.h"

namespace {

std::vector<uint8_t> Read(ICaptureDevice& dev, TCapRead expected = TCapRead::Frame) {
    const TCapFormat f = dev.GetFormat();
    std::vector<uint8_t> bgr(size_t(f.Width) * f.Height * 3, 0xEE);
    EXPECT_EQ(dev.ReadFrame(bgr.data(), f.Width * 3, 1000), expected);
    return bgr;
}

std::unique_ptr<ICaptureDevice> Connect(const std::shared_ptr<TFakeV4L2Io>& io,
                                        const std::string& path = "/dev/video0") {
    std::string error;
    auto dev = OpenV4L2Device(io, path, error);
    EXPECT_TRUE(dev) << error;
    return dev;
}

} // namespace

// Every pixel format the cameras give comes out as the colour the camera saw.
TEST(CaptureConvert, EachPixelFormatGivesTheCameraColour) {
    const struct {
        uint32_t Pix;
        int Tolerance; // YUV rounding and JPEG loss
    } cases[] = {{CapPixYUYV, 3}, {CapPixNV12, 3}, {CapPixMJPEG, 4}, {CapPixBGR24, 0}};
    for (const auto& c : cases) {
        auto io = std::make_shared<TFakeV4L2Io>();
        auto cam = io->Add({.Formats = {{64, 48, c.Pix}}, .Current = {64, 48, c.Pix}});
        auto dev = Connect(io);
        ASSERT_TRUE(dev->StartStreaming());
        const std::vector<uint8_t> bgr = Read(*dev);
        SCOPED_TRACE(CapFormatText(dev->GetFormat()));
        for (size_t i : {size_t(0), bgr.size() / 2 / 3 * 3, bgr.size() - 3})
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(bgr[i + k], (std::array{cam->B, cam->G, cam->R}[k]), c.Tolerance) << i;
    }
}

// Bytes that end exactly where an unreadable page begins: one step past them faults.
class TGuarded {
public:
    explicit TGuarded(size_t size) : Size(size) {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        Mapped = (size + page - 1) / page * page + page;
        Base = static_cast<uint8_t*>(
            ::mmap(nullptr, Mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_NE(Base, MAP_FAILED);
        EXPECT_EQ(::mprotect(Base + Mapped - page, page, PROT_NONE), 0);
    }
    ~TGuarded() { ::munmap(Base, Mapped); }
    TGuarded(const TGuarded&) = delete;
    TGuarded& operator=(const TGuarded&) = delete;
    uint8_t* Data() const { return Base + Mapped - size_t(::sysconf(_SC_PAGESIZE)) - Size; }

private:
    size_t Size;
    size_t Mapped = 0;
    uint8_t* Base = nullptr;
};

// A frame of the format filled with one colour: B, G, R = 40, 120, 200.
std::vector<uint8_t> FlatFrame(const TCapFormat& f) {
    const size_t px = size_t(f.Width) * size_t(f.Height);
    uint8_t y, u, v;
    FakeRgbToYuv(200, 120, 40, y, u, v);
    std::vector<uint8_t> out;
    if (f.PixelFormat == CapPixYUYV) {
        for (size_t i = 0; i < px / 2; ++i)
            out.insert(out.end(), {y, u, y, v});
    } else if (f.PixelFormat == CapPixNV12) {
        out.assign(px, y);
        for (size_t i = 0; i < px / 4; ++i)
            out.insert(out.end(), {u, v});
    } else {
        std::vector<uint8_t> bgr;
        for (size_t i = 0; i < px; ++i)
            bgr.insert(bgr.end(), {40, 120, 200});
        if (f.PixelFormat == CapPixBGR24)
            return bgr;
        tjhandle tj = tjInitCompress();
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        EXPECT_EQ(tjCompress2(tj, bgr.data(), f.Width, 0, f.Height, TJPF_BGR, &jpeg, &size,
                              TJSAMP_422, 95, 0),
                  0);
        out.assign(jpeg, jpeg + size);
        tjFree(jpeg);
        tjDestroy(tj);
    }
    return out;
}

// Widths that are no multiple of the scaler's vectors, and the smallest: frame and picture each
// end right before a guard page, so reading or writing one byte past either faults.
TEST(CaptureConvert, AwkwardSizesStayInsideFrameAndPicture) {
    TCapFrameConverter conv;
    for (uint32_t pix : {CapPixYUYV, CapPixNV12, CapPixMJPEG, CapPixBGR24})
        for (int32_t w : {1, 2, 3, 6, 18, 34, 50, 66, 98, 130, 322})
            for (int32_t h : {1, 2, 3, 8, 17}) {
                const TCapFormat f{w, h, pix};
                const bool takes =
                    !(pix == CapPixYUYV && (w & 1)) && !(pix == CapPixNV12 && ((w & 1) || (h & 1)));
                const std::vector<uint8_t> frame =
                    takes ? FlatFrame(f) : std::vector<uint8_t>(size_t(w) * h * 2);
                TGuarded in(frame.size()), out(size_t(w) * h * 3);
                std::memcpy(in.Data(), frame.data(), frame.size());
                SCOPED_TRACE(CapFormatText(f));
                ASSERT_EQ(conv.Convert(f, in.Data(), frame.size(), out.Data(), w * 3), takes);
                if (!takes)
                    continue;
                const int tolerance = pix == CapPixBGR24 ? 0 : 4;
                for (size_t i : {size_t(0), size_t(w) * h * 3 - 3})
                    for (int k = 0; k < 3; ++k)
                        EXPECT_NEAR(out.Data()[i + k], (std::array{40, 120, 200}[k]), tolerance);
            }
}

TEST(CaptureConvert, ShortOrForeignDataIsRefused) {
    TCapFrameConverter conv;
    std::vector<uint8_t> src(64 * 48 * 2 - 1), dst(64 * 48 * 3);
    EXPECT_FALSE(conv.Convert({64, 48, CapPixYUYV}, src.data(), src.size(), dst.data(), 192));
    EXPECT_FALSE(conv.Convert({64, 48, CapPixNV12}, src.data(), 64 * 48, dst.data(), 192));
    EXPECT_FALSE(conv.Convert({64, 48, CapPixMJPEG}, src.data(), src.size(), dst.data(), 192));
    EXPECT_FALSE(conv.Convert({64, 48, CapFourCC('H', '2', '6', '4')}, src.data(), src.size(),
                              dst.data(), 192));
    EXPECT_FALSE(TCapFrameConverter::Converts(CapFourCC('H', '2', '6', '4')));
}

TEST(CaptureDrivers, CaptureNodesThenTheTestPattern) {
    auto io = std::make_shared<TFakeV4L2Io>();
    TCaptureDrivers none(io);
    ASSERT_EQ(none.List().size(), 1u);
    EXPECT_EQ(none.List()[0].Name, TestPatternDriverName);

    io->Add({.Path = "/dev/video0", .Card = "Cam A"});
    io->Add({.Path = "/dev/video1", .Card = "Cam A meta", .CaptureNode = false});
    io->Add({.Path = "/dev/video2", .Card = "Cam B", .Version = 0x060102});
    TCaptureDrivers drivers(io);
    const auto list = drivers.List();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Name, "Cam A");
    EXPECT_EQ(list[0].Version, "5.10.3");
    EXPECT_EQ(list[1].Name, "Cam B");
    EXPECT_EQ(list[1].Version, "6.1.2");
    EXPECT_EQ(list[2].Name, TestPatternDriverName);
    std::string error;
    auto dev = drivers.Open(1, error);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->Description().Name, "Cam B");
    EXPECT_EQ(drivers.Open(2, error)->Description().Name, TestPatternDriverName);
    EXPECT_FALSE(drivers.Open(3, error));

    // Never more than ten drivers, the test pattern always among them.
    for (int i = 3; i < 14; ++i)
        io->Add({.Path = "/dev/video" + std::to_string(i)});
    EXPECT_EQ(drivers.List().size(), size_t(MaxCaptureDrivers));
    EXPECT_EQ(drivers.List().back().Name, TestPatternDriverName);
}

TEST(CaptureV4L2, FormatNegotiation) {
    auto io = std::make_shared<TFakeV4L2Io>();
    const uint32_t h264 = CapFourCC('H', '2', '6', '4');
    io->Add({.Formats = {{1920, 1080, h264}, {1280, 720, CapPixMJPEG}, {640, 480, CapPixYUYV}},
             .Current = {1920, 1080, h264}});
    auto dev = Connect(io);
    // A format we cannot decode is left for the first one we can.
    EXPECT_EQ(dev->GetFormat(), (TCapFormat{1280, 720, CapPixMJPEG}));
    const std::vector<TCapFormat> offered = dev->Formats();
    EXPECT_EQ(offered, (std::vector<TCapFormat>{{1280, 720, CapPixMJPEG}, {640, 480, CapPixYUYV}}));
    EXPECT_TRUE(dev->SetFormat({640, 480, CapPixYUYV}));
    EXPECT_EQ(dev->GetFormat(), (TCapFormat{640, 480, CapPixYUYV}));
    // The driver would adjust 800 x 600; an adjusted answer is a refusal and nothing changes.
    EXPECT_FALSE(dev->SetFormat({800, 600, CapPixYUYV}));
    EXPECT_EQ(dev->GetFormat(), (TCapFormat{640, 480, CapPixYUYV}));
    EXPECT_FALSE(dev->SetFormat({1920, 1080, h264}));
    dev->SetFrameInterval(83333);
    EXPECT_EQ(io->Cameras[0]->IntervalUs, 83333u);

    // A range of sizes offers the common sizes inside it, bounds included.
    auto ranged = std::make_shared<TFakeV4L2Io>();
    ranged->Add({.Formats = {{320, 240, CapPixYUYV}, {800, 599, CapPixYUYV}}, .SizeRange = true});
    EXPECT_EQ(Connect(ranged)->Formats(),
              (std::vector<TCapFormat>{{320, 240, CapPixYUYV}, {640, 480, CapPixYUYV}}));
}

TEST(CaptureV4L2, BuffersAreQueuedAndEachFrameRequeued) {
    auto io = std::make_shared<TFakeV4L2Io>();
    auto cam = io->Add({.Formats = {{32, 24, CapPixYUYV}}, .Current = {32, 24, CapPixYUYV}});
    auto dev = Connect(io);
    ASSERT_TRUE(dev->StartStreaming());
    EXPECT_EQ(cam->Mapped, 4);
    EXPECT_EQ(cam->QbufCount, 4);
    EXPECT_TRUE(cam->StreamOn);
    for (int i = 0; i < 10; ++i)
        Read(*dev);
    EXPECT_EQ(cam->DqbufCount, 10);
    EXPECT_EQ(cam->QbufCount, 14);
    // Formats are fixed while streaming.
    EXPECT_FALSE(dev->SetFormat({32, 24, CapPixYUYV}));
    dev->StopStreaming();
    EXPECT_EQ(cam->Mapped, 0);
    EXPECT_FALSE(cam->StreamOn);
    // And it streams again.
    ASSERT_TRUE(dev->StartStreaming());
    Read(*dev);
    dev.reset();
    EXPECT_EQ(cam->Mapped, 0);
}

TEST(CaptureV4L2, BusyDeviceDoesNotConnect) {
    auto io = std::make_shared<TFakeV4L2Io>();
    io->Add({.Busy = true});
    std::string error;
    EXPECT_FALSE(OpenV4L2Device(io, "/dev/video0", error));
    EXPECT_EQ(error, std::strerror(EBUSY));
    EXPECT_FALSE(OpenV4L2Device(io, "/dev/video9", error));
    EXPECT_EQ(error, std::strerror(ENOENT));
}

TEST(CaptureV4L2, VanishingDeviceIsLost) {
    auto io = std::make_shared<TFakeV4L2Io>();
    io->Add({.Formats = {{32, 24, CapPixNV12}}, .Current = {32, 24, CapPixNV12}, .VanishAfter = 3});
    auto dev = Connect(io);
    ASSERT_TRUE(dev->StartStreaming());
    for (int i = 0; i < 3; ++i)
        Read(*dev);
    Read(*dev, TCapRead::Lost);
    EXPECT_FALSE(dev->ErrorText().empty());
}

TEST(CaptureTestPattern, BarsAndTheMovingLine) {
    auto dev = CreateTestPatternDevice();
    EXPECT_EQ(dev->GetFormat(), (TCapFormat{320, 240, CapPixBGR24}));
    EXPECT_FALSE(dev->SetFormat({300, 200, CapPixBGR24}));
    ASSERT_TRUE(dev->SetFormat({160, 120, CapPixBGR24}));
    dev->SetFrameInterval(1000);
    ASSERT_TRUE(dev->StartStreaming());
    const uint8_t want[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    std::vector<uint8_t> bgr = Read(*dev);
    const uint8_t* row = bgr.data() + 30 * 160 * 3;
    // Bars 20 pixels wide: white, yellow, cyan, green, magenta, red, blue, black.
    for (int bar = 0; bar < 8; ++bar)
        for (int x : {bar * 20, bar * 20 + 19})
            EXPECT_EQ(0, std::memcmp(row + x * 3, want[bar], 3)) << "bar " << bar << " x " << x;
    // Frame n draws column n in the opposite of its bar, on rows 60 to 89 only: the first frame
    // shows it black on the white bar.
    EXPECT_EQ(0, std::memcmp(bgr.data() + (60 * 160) * 3, want[7], 3));
    EXPECT_EQ(0, std::memcmp(bgr.data() + (89 * 160) * 3, want[7], 3));
    EXPECT_EQ(0, std::memcmp(bgr.data() + (90 * 160) * 3, want[0], 3));
    EXPECT_EQ(0, std::memcmp(bgr.data() + (59 * 160) * 3, want[0], 3));
    // The 146th frame shows it white inside the black bar.
    for (int i = 1; i < 146; ++i)
        bgr = Read(*dev);
    row = bgr.data() + 75 * 160 * 3;
    EXPECT_EQ(0, std::memcmp(row + 145 * 3, want[0], 3));
    EXPECT_EQ(0, std::memcmp(row + 144 * 3, want[7], 3));
    EXPECT_EQ(0, std::memcmp(row + 146 * 3, want[7], 3));
    dev->StopStreaming();
    Read(*dev, TCapRead::Lost);
}
