// Recordings in these tests take their sound from ALSA's null device, which opens on every
// machine, whatever the environment names as the sound device.
#pragma once

#include <gtest/gtest.h>

#include "VideocapPart.h"

class TNullSoundEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        TCaptureSequence::WaveInFactory = [] { return CreateAlsaWaveIn("null"); };
    }
};

inline ::testing::Environment* const NullSoundEnvironment =
    ::testing::AddGlobalTestEnvironment(new TNullSoundEnvironment);
