#include "MyWaveOut.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TempFolders.h"

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

// Polls until every header is done; false after a generous time (a hung device).
bool WaitAllDone(std::vector<TWaveOutHeader>& headers) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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

// Sets an environment variable for one scope, then puts back what was there.
class TEnvGuard {
public:
    TEnvGuard(const char* name, const char* value) : Name(name) {
        if (const char* old = std::getenv(name))
            Old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TEnvGuard() {
        if (Old)
            setenv(Name, Old->c_str(), 1);
        else
            unsetenv(Name);
    }

private:
    const char* Name;
    std::optional<std::string> Old;
};

} // namespace

TEST(MyWaveOutTest, DeviceNameComesFromTheEnvironment) {
    {
        TEnvGuard env("TARVOLIN_AUDIO_DEVICE", "null");
        EXPECT_EQ(WaveOutDeviceName(), "null");
    }
    {
        TEnvGuard env("TARVOLIN_AUDIO_DEVICE", "");
        EXPECT_EQ(WaveOutDeviceName(), "default");
    }
    {
        TEnvGuard env("TARVOLIN_AUDIO_DEVICE", nullptr);
        EXPECT_EQ(WaveOutDeviceName(), "default");
    }
}

TEST(MyWaveOutTest, NullDevicePlaysEveryHeaderToDone) {
    for (uint16_t bits : {8, 16}) {
        for (uint16_t channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch");
            auto dev = CreateAlsaWaveOut("null");
            EXPECT_EQ(dev->DeviceCount(), 1);
            TWaveOutFormat f = Pcm(22050, channels, bits);
            ASSERT_EQ(dev->Open(f), WaveOutOk);
            EXPECT_TRUE(dev->IsOpen());
            // A tenth of a second each, one header with a trailing half frame, one empty.
            std::vector<uint8_t> data(f.AvgBytesPerSec / 10, 0x80);
            std::vector<TWaveOutHeader> headers(5);
            for (size_t i = 0; i < headers.size(); ++i) {
                headers[i].Data = data.data();
                headers[i].Length = uint32_t(data.size());
            }
            if (f.BlockAlign > 1)
                headers[3].Length -= 1;
            headers[4].Length = 0;
            for (auto& h : headers) {
                ASSERT_EQ(dev->PrepareHeader(h), WaveOutOk);
                EXPECT_EQ(h.Flags.load(), uint32_t(WaveHdrPrepared));
                ASSERT_EQ(dev->Write(h), WaveOutOk);
            }
            ASSERT_TRUE(WaitAllDone(headers));
            for (auto& h : headers) {
                EXPECT_EQ(h.Flags.load() & WaveHdrInQueue, 0u);
                EXPECT_EQ(dev->UnprepareHeader(h), WaveOutOk);
                EXPECT_EQ(h.Flags.load(), uint32_t(WaveHdrDone));
            }
            EXPECT_EQ(dev->Close(), WaveOutOk);
            EXPECT_FALSE(dev->IsOpen());
        }
    }
}

TEST(MyWaveOutTest, BytesReachTheDeviceInOrderInWholeFrames) {
    // ALSA's tee device copies what is played into a file before handing it to the null device.
    TTempDir dir;
    std::string file = dir.Path + "/played.raw";
    for (uint16_t bits : {8, 16}) {
        SCOPED_TRACE(bits);
        auto dev = CreateAlsaWaveOut("tee:null,'" + file + "',raw");
        TWaveOutFormat f = Pcm(11025, 2, bits);
        ASSERT_EQ(dev->Open(f), WaveOutOk);
        std::vector<std::vector<uint8_t>> blocks;
        std::vector<uint8_t> expected;
        for (int i = 0; i < 6; ++i) {
            // Odd sizes: each block ends in a part of a frame, which is not played.
            std::vector<uint8_t> b(size_t(f.AvgBytesPerSec / 20 + 1 + i * 2), 0);
            for (size_t k = 0; k < b.size(); ++k)
                b[k] = uint8_t(i * 40 + k % 37);
            size_t whole = b.size() / f.BlockAlign * f.BlockAlign;
            expected.insert(expected.end(), b.begin(), b.begin() + std::ptrdiff_t(whole));
            blocks.push_back(std::move(b));
        }
        std::vector<TWaveOutHeader> headers(blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i) {
            headers[i].Data = blocks[i].data();
            headers[i].Length = uint32_t(blocks[i].size());
            ASSERT_EQ(dev->PrepareHeader(headers[i]), WaveOutOk);
            ASSERT_EQ(dev->Write(headers[i]), WaveOutOk);
        }
        ASSERT_TRUE(WaitAllDone(headers));
        ASSERT_EQ(dev->Close(), WaveOutOk);
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(got, expected);
    }
}

TEST(MyWaveOutTest, ResetMarksEverythingDoneAndAllowsClose) {
    auto dev = CreateAlsaWaveOut("null");
    TWaveOutFormat f = Pcm(44100, 2, 16);
    ASSERT_EQ(dev->Open(f), WaveOutOk);
    std::vector<uint8_t> data(f.AvgBytesPerSec * 2);
    std::vector<TWaveOutHeader> headers(20);
    for (auto& h : headers) {
        h.Data = data.data();
        h.Length = uint32_t(data.size());
        ASSERT_EQ(dev->PrepareHeader(h), WaveOutOk);
        ASSERT_EQ(dev->Write(h), WaveOutOk);
    }
    EXPECT_EQ(dev->Reset(), WaveOutOk);
    for (auto& h : headers) {
        EXPECT_EQ(h.Flags.load(), uint32_t(WaveHdrDone | WaveHdrPrepared));
        EXPECT_EQ(dev->UnprepareHeader(h), WaveOutOk);
    }
    EXPECT_EQ(dev->Close(), WaveOutOk);
    // The device opens again after a close.
    ASSERT_EQ(dev->Open(f), WaveOutOk);
    EXPECT_EQ(dev->Close(), WaveOutOk);
}

TEST(MyWaveOutTest, DestroyingAnOpenDeviceStopsItsWriter) {
    std::vector<uint8_t> data(176400);
    std::vector<TWaveOutHeader> headers(4);
    {
        auto dev = CreateAlsaWaveOut("null");
        ASSERT_EQ(dev->Open(Pcm(44100, 2, 16)), WaveOutOk);
        for (auto& h : headers) {
            h.Data = data.data();
            h.Length = uint32_t(data.size());
            dev->PrepareHeader(h);
            dev->Write(h);
        }
    }
    // Nothing refers to the headers any more; all were given back done.
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

TEST(MyWaveOutTest, UnplayableFormatsAreRefusedAndLeaveTheDeviceClosed) {
    std::vector<std::pair<std::string, TWaveOutFormat>> bad;
    TWaveOutFormat f = Pcm(22050, 2, 16);
    f.FormatTag = 2; // a compressed tag
    bad.push_back({"compressed", f});
    bad.push_back({"24 bits", Pcm(22050, 2, 24)});
    bad.push_back({"no channels", Pcm(22050, 0, 16)});
    bad.push_back({"six channels", Pcm(22050, 6, 16)});
    bad.push_back({"rate 0", Pcm(0, 2, 16)});
    f = Pcm(22050, 2, 16);
    f.BlockAlign = 2;
    bad.push_back({"block align", f});
    f = Pcm(22050, 2, 16);
    f.AvgBytesPerSec = 1000;
    bad.push_back({"byte rate", f});
    auto dev = CreateAlsaWaveOut("null");
    for (auto& [name, format] : bad) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(IsPlayableWaveFormat(format));
        EXPECT_EQ(dev->Open(format), WaveOutBadFormat);
        EXPECT_FALSE(dev->IsOpen());
    }
}

TEST(MyWaveOutTest, MissingDeviceCountsNoneAndReportsNoDriver) {
    auto dev = CreateAlsaWaveOut("tarvolin_no_such_device");
    EXPECT_EQ(dev->DeviceCount(), 0);
    EXPECT_EQ(dev->Open(Pcm(22050, 2, 16)), WaveOutNoDriver);
    EXPECT_FALSE(dev->IsOpen());
}

TEST(MyWaveOutTest, AlsaOpenErrorsMapToResultCodes) {
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(0), WaveOutOk);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-EBUSY), WaveOutAllocated);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-EAGAIN), WaveOutAllocated);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-ENOENT), WaveOutNoDriver);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-ENODEV), WaveOutNoDriver);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-ENXIO), WaveOutNoDriver);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-ENOMEM), WaveOutNoMem);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-EIO), WaveOutError);
    EXPECT_EQ(WaveOutCodeFromAlsaOpenError(-EPERM), WaveOutError);
}
