// Sound capture device: opens a PCM format on an ALSA capture device and hands out whatever
// sample frames have arrived, without waiting. The capture worker reads it once per picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MyWaveOut.h"

class IWaveIn {
public:
    virtual ~IWaveIn() = default;
    // PCM, 8 (unsigned) or 16 bits, 1 or 2 channels. False with the reason in ErrorText.
    virtual bool Open(const TWaveOutFormat& format) = 0;
    virtual bool IsOpen() const = 0;
    // Copies at most maxFrames sample frames that have arrived; 0 when none, -1 when the device
    // failed for good. An overrun is recovered from and the lost sound skipped.
    virtual int64_t Read(uint8_t* buffer, int64_t maxFrames) = 0;
    virtual void Close() = 0;
    virtual std::string ErrorText() const = 0;
};

// Capture device name: the same device the sound output uses ($TARVOLIN_AUDIO_DEVICE, else
// "default").
std::unique_ptr<IWaveIn> CreateAlsaWaveIn(const std::string& deviceName = WaveOutDeviceName());
