#include "MyWaveOut.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

TWaveOutFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    TWaveOutFormat f;
    f.FormatTag = 1;
    f.Channels = channels;
    f.SamplesPerSec = rate;
    f.BitsPerSample = bits;
    f.BlockAlign = uint16_t(channels * bits / 8);
    f.AvgBytesPerSec = rate * f.BlockAlign;
    return f;
}

// Prepares and writes one header per block; the blocks must outlive the headers' use.
std::vector<TWaveOutHeader> Queue(IWaveOut& dev, const std::vector<std::vector<uint8_t>>& blocks) {
    std::vector<TWaveOutHeader> headers(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        headers[i].Data = blocks[i].data();
        headers[i].Length = uint32_t(blocks[i].size());
        EXPECT_EQ(dev.PrepareHeader(headers[i]), WaveOutOk);
        EXPECT_EQ(headers[i].Flags.load(), uint32_t(WaveHdrPrepared));
        EXPECT_EQ(dev.Write(headers[i]), WaveOutOk);
    }
    return headers;
}

// Polls until every header is done; false after a generous time (a hung device).
bool WaitAllDone(std::vector<TWaveOutHeader>& headers) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        bool all = true;
        for (auto& h : headers)
            all = all && (h.Flags.load() & WaveHdrDone);
        if (all)
            return true;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Sets (or, with nullptr, removes) the chosen sound device for one scope.
struct TDeviceEnv {
    explicit TDeviceEnv(const char* value) {
        if (const char* old = std::getenv(Name))
            Old = old;
        value ? setenv(Name, value, 1) : unsetenv(Name);
    }
    ~TDeviceEnv() { Old ? setenv(Name, Old->c_str(), 1) : unsetenv(Name); }
    static constexpr const char* Name = "TARVOLIN_AUDIO_DEVICE";
    std::optional<std::string> Old;
};

} // namespace

TEST(MyWaveOutTest, DeviceNamesComeFromTheEnvironment) {
    for (auto [value, name] : {std::pair<const char*, const char*>{"null", "null"},
                               {"", "default"},
                               {nullptr, "default"}}) {
        TDeviceEnv env(value);
        EXPECT_EQ(WaveOutDeviceName(), name) << (value ? value : "unset");
    }
    {
        TDeviceEnv env("null");
        EXPECT_EQ(WaveOutDeviceNames(), std::vector<std::string>{"null"});
    }
    TDeviceEnv env(nullptr);
    const std::vector<std::string> names = WaveOutDeviceNames();
    ASSERT_GE(names.size(), 1u);
    EXPECT_LE(names.size(), 2u);
    EXPECT_EQ(names[0], "default");
    // A machine with a sound card adds its first device, converted by ALSA.
    if (names.size() > 1) {
        EXPECT_EQ(names[1].rfind("plughw:", 0), 0u);
    }
}

// ALSA's tee device copies what is played into a file before handing it to the null device.
TEST(MyWaveOutTest, BytesReachTheDeviceInOrderInWholeFrames) {
    TTempDir dir;
    const std::string file = dir.Path + "/played.raw";
    for (uint16_t bits : {8, 16})
        for (uint16_t channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch");
            auto dev = CreateAlsaWaveOut("tee:null,'" + file + "',raw");
            EXPECT_EQ(dev->DeviceCount(), 1);
            const TWaveOutFormat f = Pcm(11025, channels, bits);
            ASSERT_EQ(dev->Open(f), WaveOutOk);
            EXPECT_TRUE(dev->IsOpen());
            std::vector<std::vector<uint8_t>> blocks;
            std::vector<uint8_t> expected;
            for (int i = 0; i < 6; ++i) {
                // Odd sizes: a block may end in a part of a frame, which is not played.
                auto& b = blocks.emplace_back(size_t(f.AvgBytesPerSec / 20 + 1 + i * 2));
                for (size_t k = 0; k < b.size(); ++k)
                    b[k] = uint8_t(i * 40 + k % 37);
                expected.insert(expected.end(), b.begin(), b.end() - long(b.size() % f.BlockAlign));
            }
            blocks.emplace_back(f.BlockAlign, uint8_t(0xA5)); // a single frame
            expected.insert(expected.end(), f.BlockAlign, uint8_t(0xA5));
            blocks.emplace_back().reserve(1); // data, but no bytes
            auto headers = Queue(*dev, blocks);
            ASSERT_TRUE(WaitAllDone(headers));
            for (auto& h : headers) {
                EXPECT_EQ(dev->UnprepareHeader(h), WaveOutOk);
                EXPECT_EQ(h.Flags.load(), uint32_t(WaveHdrDone));
            }
            ASSERT_EQ(dev->Close(), WaveOutOk);
            EXPECT_FALSE(dev->IsOpen());
            EXPECT_EQ(ReadBytesFile(file), expected);
        }
}

TEST(MyWaveOutTest, ResetOrDestroyGivesEveryHeaderBackDone) {
    const std::vector<std::vector<uint8_t>> blocks(20, std::vector<uint8_t>(176400 * 2));
    auto dev = CreateAlsaWaveOut("null");
    ASSERT_EQ(dev->Open(Pcm(44100, 2, 16)), WaveOutOk);
    auto headers = Queue(*dev, blocks);
    EXPECT_EQ(dev->Reset(), WaveOutOk);
    for (auto& h : headers) {
        EXPECT_EQ(h.Flags.load(), uint32_t(WaveHdrDone | WaveHdrPrepared));
        EXPECT_EQ(dev->UnprepareHeader(h), WaveOutOk);
    }
    EXPECT_EQ(dev->Close(), WaveOutOk);

    // The device opens again after a close; destroying it while open stops its writer.
    ASSERT_EQ(dev->Open(Pcm(44100, 2, 16)), WaveOutOk);
    headers = Queue(*dev, blocks);
    dev.reset();
    for (auto& h : headers)
        EXPECT_TRUE(h.Flags.load() & WaveHdrDone);
}

TEST(MyWaveOutTest, CallsOutOfOrderAreRefusedWithTheirCodes) {
    auto dev = CreateAlsaWaveOut("null");
    std::vector<uint8_t> data(100);
    TWaveOutHeader h;
    h.Data = data.data();
    h.Length = 100;
    EXPECT_EQ(dev->PrepareHeader(h), WaveOutInvalidHandle);
    EXPECT_EQ(dev->Write(h), WaveOutInvalidHandle);
    EXPECT_EQ(dev->Reset(), WaveOutInvalidHandle);
    EXPECT_EQ(dev->Close(), WaveOutInvalidHandle);

    ASSERT_EQ(dev->Open(Pcm(8000, 1, 8)), WaveOutOk);
    EXPECT_EQ(dev->Open(Pcm(8000, 1, 8)), WaveOutInvalidParam);
    EXPECT_EQ(dev->Write(h), WaveOutUnprepared);
    TWaveOutHeader noData;
    noData.Length = 10;
    EXPECT_EQ(dev->PrepareHeader(noData), WaveOutInvalidParam);
    EXPECT_EQ(dev->Close(), WaveOutOk);
}

// The first of the devices named that opens is played to; when none opens, the first one's
// failure is the answer.
TEST(MyWaveOutTest, FallsBackToTheNextDeviceThatOpens) {
    using TNames = std::vector<std::string>;
    auto dev = CreateAlsaWaveOut(TNames{"tarvolin_no_such_device", "null"});
    EXPECT_EQ(dev->DeviceCount(), 1);
    EXPECT_EQ(dev->Open(Pcm(22050, 2, 16)), WaveOutOk);
    EXPECT_TRUE(dev->IsOpen());
    EXPECT_EQ(dev->Close(), WaveOutOk);
    for (const TNames& names : {TNames{"tarvolin_no_such_device"},
                                TNames{"tarvolin_no_such_device", "also_none"}, TNames{}}) {
        auto none = CreateAlsaWaveOut(names);
        EXPECT_EQ(none->DeviceCount(), 0);
        EXPECT_EQ(none->Open(Pcm(22050, 2, 16)), WaveOutNoDriver);
        EXPECT_FALSE(none->IsOpen());
    }
}

TEST(MyWaveOutTest, UnplayableFormatsAreRefusedAndLeaveTheDeviceClosed) {
    TWaveOutFormat compressed = Pcm(22050, 2, 16), align = compressed, rate = compressed;
    compressed.FormatTag = 2;
    align.BlockAlign = 2;
    rate.AvgBytesPerSec = 1000;
    auto dev = CreateAlsaWaveOut("null");
    for (const TWaveOutFormat& f : {compressed, align, rate, Pcm(22050, 2, 24), Pcm(22050, 0, 16),
                                    Pcm(22050, 6, 16), Pcm(0, 2, 16)}) {
        SCOPED_TRACE(testing::Message()
                     << f.FormatTag << " " << f.Channels << " ch " << f.BitsPerSample << " bits "
                     << f.SamplesPerSec << " Hz " << f.BlockAlign);
        EXPECT_FALSE(IsPlayableWaveFormat(f));
        EXPECT_EQ(dev->Open(f), WaveOutBadFormat);
        EXPECT_FALSE(dev->IsOpen());
    }
}

TEST(MyWaveOutTest, AlsaOpenErrorsMapToResultCodes) {
    for (auto [error, code] : {std::pair{0, WaveOutOk},
                               {-EBUSY, WaveOutAllocated},
                               {-EAGAIN, WaveOutAllocated},
                               {-ENOENT, WaveOutNoDriver},
                               {-ENODEV, WaveOutNoDriver},
                               {-ENXIO, WaveOutNoDriver},
                               {-ENOMEM, WaveOutNoMem},
                               {-EIO, WaveOutError},
                               {-EPERM, WaveOutError}})
        EXPECT_EQ(WaveOutCodeFromAlsaOpenError(error), code) << error;
}
