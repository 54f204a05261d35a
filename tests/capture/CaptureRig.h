// Shared by the capture tests: recordings take their sound from ALSA's null device, which opens on
// every machine whatever the environment names as the sound device, and a wait that keeps the
// posted calls and Qt events flowing while a recording runs.
#pragma once

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "FakeUiServices.h"
#include "MyCaptureDevice.h"
#include "VideocapRecorder.h"

class TNullSoundEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        TCaptureSequence::WaveInFactory = [] { return CreateAlsaWaveIn("null"); };
    }
};

inline ::testing::Environment* const NullSoundEnvironment =
    ::testing::AddGlobalTestEnvironment(new TNullSoundEnvironment);

// Runs posted calls and Qt events until done() holds or ten seconds pass.
inline bool WaitFor(TFakeUiServices& ui, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        ui.RunPosted();
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A clock that jumps to the time waited for: a recording of minutes runs in moments.
class TJumpClock : public ICaptureClock {
public:
    int64_t NowUs() override { return Now; }
    void SleepUntilUs(int64_t us) override {
        int64_t now = Now;
        while (now < us && !Now.compare_exchange_weak(now, us)) {
        }
    }
    std::atomic<int64_t> Now{1000000};
};

// A sound device that has every sample asked for at once: sample frame n holds n mod 256 in each
// byte, so a gap or a repeat in the recorded sound shows.
class TCountingWaveIn : public IWaveIn {
public:
    bool Open(const TWaveOutFormat& format) override {
        Align = std::max<int>(format.BlockAlign, 1);
        return IsOpenFlag = true;
    }
    bool IsOpen() const override { return IsOpenFlag; }
    int64_t Read(uint8_t* buffer, int64_t maxFrames) override {
        for (int64_t i = 0; i < maxFrames; ++i, ++Count)
            std::fill_n(buffer + i * Align, Align, uint8_t(Count));
        return std::max<int64_t>(maxFrames, 0);
    }
    void Close() override { IsOpenFlag = false; }
    std::string ErrorText() const override { return {}; }

private:
    int Align = 1;
    bool IsOpenFlag = false;
    int64_t Count = 0;
};

// Recordings of one scope take their sound from a counting device.
class TCountingSound {
public:
    TCountingSound() {
        TCaptureSequence::WaveInFactory = [] { return std::make_unique<TCountingWaveIn>(); };
    }
    ~TCountingSound() { TCaptureSequence::WaveInFactory = Saved; }
    TCountingSound(const TCountingSound&) = delete;
    TCountingSound& operator=(const TCountingSound&) = delete;

private:
    std::function<std::unique_ptr<IWaveIn>()> Saved = TCaptureSequence::WaveInFactory;
};
