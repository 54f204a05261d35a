// Wave output device: open a PCM format, queue headers of sample data that the device plays in
// order and marks done when they have been heard, reset and close. Result codes are the numbers
// the streaming code has always mapped to its messages. The real backend plays through ALSA.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Result codes of every call.
enum : int32_t {
    WaveOutOk = 0,
    WaveOutError = 1,         // unspecified failure
    WaveOutAllocated = 4,     // the device is in use by someone else
    WaveOutInvalidHandle = 5, // the device is not open
    WaveOutNoDriver = 6,      // no driver can play to the device
    WaveOutNoMem = 7,         // out of memory
    WaveOutInvalidParam = 11, // a header without data, a second open, ...
    WaveOutBadFormat = 32,    // the format cannot be played
    WaveOutStillPlaying = 33, // headers are still queued
    WaveOutUnprepared = 34,   // the header was not prepared
};

// Header flag bits.
enum : uint32_t {
    WaveHdrDone = 0x01,     // set by the device once the header's sound has been played
    WaveHdrPrepared = 0x02, // set by PrepareHeader, cleared by UnprepareHeader
    WaveHdrInQueue = 0x10,  // between Write and done
};

// The PCM format to open (fields as in a wave format header).
struct TWaveOutFormat {
    uint16_t FormatTag = 0; // 1 = PCM, the only tag the device plays
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0; // 8 (unsigned) or 16 (signed little-endian)
};

// One block handed to the device. The caller owns the header and its data and keeps both alive
// and unmoved from Write until the header is done (or Reset/Close returned). Flags are written
// by the device's own thread, hence atomic.
struct TWaveOutHeader {
    const uint8_t* Data = nullptr;
    uint32_t Length = 0; // bytes; a trailing part of a sample frame is not played
    std::atomic<uint32_t> Flags{0};
};

// One wave output device handle.
class IWaveOut {
public:
    virtual ~IWaveOut() = default;

    // How many output devices there are to open (0: none, no message of Open will help).
    virtual int32_t DeviceCount() = 0;
    virtual int32_t Open(const TWaveOutFormat& format) = 0;
    virtual bool IsOpen() const = 0;
    virtual int32_t PrepareHeader(TWaveOutHeader& header) = 0;
    // Queues a prepared header behind those already written.
    virtual int32_t Write(TWaveOutHeader& header) = 0;
    // Fails with WaveOutStillPlaying while the header is queued.
    virtual int32_t UnprepareHeader(TWaveOutHeader& header) = 0;
    // Stops at once; every queued header is marked done and the device forgets it.
    virtual int32_t Reset() = 0;
    // Fails with WaveOutStillPlaying while headers are queued (Reset first).
    virtual int32_t Close() = 0;
};

// Output device name: $TARVOLIN_AUDIO_DEVICE when set and not empty, else "default".
std::string WaveOutDeviceName();
// The devices tried in order: $TARVOLIN_AUDIO_DEVICE alone when set, else "default" and then
// the first sound card ("plughw:N,0") when there is one.
std::vector<std::string> WaveOutDeviceNames();
// The ALSA backend playing to the named PCM device.
std::unique_ptr<IWaveOut> CreateAlsaWaveOut(const std::string& deviceName);
// The ALSA backend playing to the first of the named devices that opens.
std::unique_ptr<IWaveOut> CreateAlsaWaveOut(const std::vector<std::string>& deviceNames);
// The ALSA backend on WaveOutDeviceNames().
std::unique_ptr<IWaveOut> CreateWaveOut();
// The result code for a negative ALSA error number met while opening a device.
int32_t WaveOutCodeFromAlsaOpenError(int alsaError);
// True when the format is one the device layer plays (PCM, 8 or 16 bits, 1 or 2 channels, a
// block align and byte rate that agree with the rest).
bool IsPlayableWaveFormat(const TWaveOutFormat& format);
// Keeps ALSA's own diagnostics off stderr (a missing card is reported in six lines): our callers
// report failures through their result codes instead. Any thread, any number of times.
void SilenceAlsa();
