// The wave output falls back from a device that does not open to the next one named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "MyWaveOut.h"

namespace {

TWaveOutFormat Pcm16(uint32_t rate, uint16_t channels) {
    TWaveOutFormat f;
    f.FormatTag = 1;
    f.Channels = channels;
    f.SamplesPerSec = rate;
    f.BlockAlign = uint16_t(channels * 2);
    f.AvgBytesPerSec = rate * f.BlockAlign;
    f.BitsPerSample = 16;
    return f;
}

// Sets an environment variable for one scope.
struct TEnvGuard {
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
    const char* Name;
    std::optional<std::string> Old;
};

} // namespace

TEST(MyWaveOutFallback, TheFirstDeviceThatOpensIsPlayedTo) {
    auto dev = CreateAlsaWaveOut(std::vector<std::string>{"tarvolin_no_such_device", "null"});
    EXPECT_EQ(dev->DeviceCount(), 1);
    EXPECT_EQ(dev->Open(Pcm16(22050, 2)), WaveOutOk);
    EXPECT_TRUE(dev->IsOpen());
    EXPECT_EQ(dev->Close(), WaveOutOk);

    // None opens: the first one's failure is the answer.
    auto none = CreateAlsaWaveOut(std::vector<std::string>{"tarvolin_no_such_device", "also_none"});
    EXPECT_EQ(none->DeviceCount(), 0);
    EXPECT_EQ(none->Open(Pcm16(22050, 2)), WaveOutNoDriver);
    EXPECT_FALSE(none->IsOpen());
    EXPECT_EQ(CreateAlsaWaveOut(std::vector<std::string>{})->Open(Pcm16(8000, 1)), WaveOutNoDriver);
}

TEST(MyWaveOutFallback, ADeviceChosenByTheUserIsTheOnlyOneTried) {
    {
        TEnvGuard env("TARVOLIN_AUDIO_DEVICE", "null");
        EXPECT_EQ(WaveOutDeviceNames(), std::vector<std::string>{"null"});
    }
    TEnvGuard env("TARVOLIN_AUDIO_DEVICE", nullptr);
    const std::vector<std::string> names = WaveOutDeviceNames();
    ASSERT_GE(names.size(), 1u);
    EXPECT_EQ(names[0], "default");
    // A machine with a sound card adds its first device, converted by ALSA.
    if (names.size() > 1)
        EXPECT_EQ(names[1].rfind("plughw:", 0), 0u);
    EXPECT_LE(names.size(), 2u);
}
