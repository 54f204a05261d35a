// In-memory wave output device for tests: plays only when the test advances its clock, records
// what was played and every call, and can be told to fail any call with a given code.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MyWaveOut.h"

// The device's state. The test keeps it (shared); the code under test owns handles made by
// MakeHandle, which all act on this one device. Every member is safe to use from any thread.
class TFakeWaveOut : public std::enable_shared_from_this<TFakeWaveOut> {
public:
    // Scripted answers.
    std::atomic<int32_t> DeviceCountResult{1};
    std::atomic<int32_t> OpenResult{WaveOutOk};
    std::atomic<int32_t> PrepareResult{WaveOutOk};
    std::atomic<int32_t> WriteResult{WaveOutOk};
    std::atomic<int32_t> UnprepareResult{WaveOutOk};
    // Open takes this long (widens races between two callers).
    std::atomic<int32_t> OpenDelayMs{0};

    std::unique_ptr<IWaveOut> MakeHandle();

    // Plays ms of sound at the open format's byte rate; a header is done once its last byte has
    // played.
    void Advance(int64_t ms);
    // Bytes played so far, in order.
    std::vector<uint8_t> Played();
    // Headers written and not yet done.
    size_t QueuedCount();
    bool IsOpen();
    TWaveOutFormat OpenedFormat();
    // Names of the calls made, in order ("count", "open", "prepare", "write", "unprepare",
    // "reset", "close").
    std::vector<std::string> Calls();
    int CallCount(const std::string& name);

private:
    friend class TFakeWaveOutHandle;

    std::mutex Lock;
    bool Open = false;
    TWaveOutFormat Format;
    std::deque<TWaveOutHeader*> Queue;
    size_t HeadOffset = 0;  // bytes of Queue.front() already played
    int64_t ByteCredit = 0; // in thousandths of a byte, so short steps add up exactly
    std::vector<uint8_t> PlayedBytes;
    std::vector<std::string> CallLog;
};
