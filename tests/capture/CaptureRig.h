// Shared by the capture tests: recordings take their sound from ALSA's null device, which opens on
// every machine whatever the environment names as the sound device, and a wait that keeps the
// posted calls and Qt events flowing while a recording runs.
#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "FakeUiServices.h"
#include "VideocapPart.h"

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
