#include "MyWaveOut.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iterator>
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

} // namespace

TEST(MyWaveOutTest, DeviceNameComesFromTheEnvironment) {
    const char* old = std::getenv("TARVOLIN_AUDIO_DEVICE");
    const std::string saved = old ? old : "";
    setenv("TARVOLIN_AUDIO_DEVICE", "null", 1);
    EXPECT_EQ(WaveOutDeviceName(), "null");
    setenv("TARVOLIN_AUDIO_DEVICE", "", 1);
    EXPECT_EQ(WaveOutDeviceName(), "default");
    unsetenv("TARVOLIN_AUDIO_DEVICE");
    EXPECT_EQ(WaveOutDeviceName(), "default");
    if (old)
        setenv("TARVOLIN_AUDIO_DEVICE", saved.c_str(), 1);
}

// ALSA's null device takes the real snd_pcm calls and consumes at once.
TEST(MyWaveOutTest, NullDevicePlaysEveryHeaderToDone) {
    for (uint16_t bits : {8, 16})
        for (uint16_t channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " ch");
            auto dev = CreateAlsaWaveOut("null");
            EXPECT_EQ(dev->DeviceCount(), 1);
            const TWaveOutFormat f = Pcm(22050, channels, bits);
            ASSERT_EQ(dev->Open(f), WaveOutOk);
            EXPECT_TRUE(dev->IsOpen());
            // A tenth of a second each, one with a trailing half frame, one empty.
            std::vector<std::vector<uint8_t>> blocks(
                3, std::vector<uint8_t>(f.AvgBytesPerSec / 10, 0x80));
            blocks.emplace_back(f.AvgBytesPerSec / 10 - (f.BlockAlign > 1), 0x80);
            blocks.emplace_back().reserve(1); // data, but no bytes
            auto headers = Queue(*dev, blocks);
            ASSERT_TRUE(WaitAllDone(headers));
            for (auto& h : headers) {
                EXPECT_EQ(dev->UnprepareHeader(h), WaveOutOk);
                EXPECT_EQ(h.Flags.load(), uint32_t(WaveHdrDone));
            }
            EXPECT_EQ(dev->Close(), WaveOutOk);
            EXPECT_FALSE(dev->IsOpen());
        }
}

TEST(MyWaveOutTest, BytesReachTheDeviceInOrderInWholeFrames) {
    // ALSA's tee device copies what is played into a file before handing it to the null device.
    TTempDir dir;
    const std::string file = dir.Path + "/played.raw";
    for (uint16_t bits : {8, 16}) {
        SCOPED_TRACE(bits);
        auto dev = CreateAlsaWaveOut("tee:null,'" + file + "',raw");
        const TWaveOutFormat f = Pcm(11025, 2, bits);
        ASSERT_EQ(dev->Open(f), WaveOutOk);
        std::vector<std::vector<uint8_t>> blocks;
        std::vector<uint8_t> expected;
        for (int i = 0; i < 6; ++i) {
            // Odd sizes: each block ends in a part of a frame, which is not played.
            auto& b = blocks.emplace_back(size_t(f.AvgBytesPerSec / 20 + 1 + i * 2));
            for (size_t k = 0; k < b.size(); ++k)
                b[k] = uint8_t(i * 40 + k % 37);
            expected.insert(expected.end(), b.begin(), b.end() - long(b.size() % f.BlockAlign));
        }
        auto headers = Queue(*dev, blocks);
        ASSERT_TRUE(WaitAllDone(headers));
        ASSERT_EQ(dev->Close(), WaveOutOk);
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

    auto missing = CreateAlsaWaveOut("tarvolin_no_such_device");
    EXPECT_EQ(missing->DeviceCount(), 0);
    EXPECT_EQ(missing->Open(Pcm(22050, 2, 16)), WaveOutNoDriver);
    EXPECT_FALSE(missing->IsOpen());
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
