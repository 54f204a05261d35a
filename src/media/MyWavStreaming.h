// The wave-output thread of preview playback: the playback loop hands it one block of mixed
// sound per frame, the thread queues each block on the wave output device, frees the blocks the
// device has played, and closes the device when stopped or when the device fails.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MyCommonParams.h"
#include "MyWaveOut.h"

class IUiServices;

// A block of sound bytes with one owner. Moving it hands the bytes over; a moved-from or reset
// block is empty.
class TAudioBlock {
public:
    TAudioBlock() = default;
    // size zero bytes.
    explicit TAudioBlock(size_t size);
    // A copy of size bytes at data.
    TAudioBlock(const void* data, size_t size);
    // size bytes of value.
    static TAudioBlock Filled(size_t size, uint8_t value);

    TAudioBlock(TAudioBlock&& other) noexcept;
    TAudioBlock& operator=(TAudioBlock&& other) noexcept;
    TAudioBlock(const TAudioBlock&) = delete;
    TAudioBlock& operator=(const TAudioBlock&) = delete;

    uint8_t* Data() { return Bytes.get(); }
    const uint8_t* Data() const { return Bytes.get(); }
    size_t Size() const { return Length; }
    bool Empty() const { return Length == 0; }
    void Reset();

private:
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Length = 0;
};

// Messages of the device failures.
inline constexpr const char* WaveOutNoDeviceText =
    "Sound device is in use or there is no suitable device for wave output";
// The message for a failed open, by the device's result code.
const char* WaveOutOpenErrorText(int32_t code);

class TCustomWavePlayer;
using TWavePlayerEvent = std::function<void(TCustomWavePlayer* sender)>;

// A thread that owns a wave output device and the list of headers queued on it.
class TCustomWavePlayer {
public:
    // ui shows the device's failures (posted to the GUI thread) and runs OnTerminate there; it
    // may be null, in which case failures go unreported and OnTerminate runs on the worker.
    // Without a device the real one (CreateWaveOut) is used.
    explicit TCustomWavePlayer(IUiServices* ui, std::unique_ptr<IWaveOut> device = nullptr);
    // Stops the worker and waits for it; blocks still queued are freed.
    virtual ~TCustomWavePlayer();
    TCustomWavePlayer(const TCustomWavePlayer&) = delete;
    TCustomWavePlayer& operator=(const TCustomWavePlayer&) = delete;

    // Once, before Start or the first Write: keeps a copy of the format and the two events.
    // OnDone runs on the worker after it has closed the device; OnTerminate runs on the GUI
    // thread after the worker has ended.
    virtual void Init(const TAudioFormat& format, TWavePlayerEvent onDone,
                      TWavePlayerEvent onTerminate);
    // Runs the worker; a second call does nothing.
    void Start();
    // Asks the worker to end; it notices within one pass (about 10 ms). Any thread may call it.
    void Stop();
    // Waits until the worker has ended (at once when it never ran). Not from the worker itself.
    void WaitFor();

    bool IsStopped() const { return StopFlag.load(); }
    bool IsStarted() const { return Started.load(); }
    // The worker gave up on the device or has ended; Write refuses blocks.
    bool IsTerminated() const { return Terminated.load(); }
    const TAudioFormat& GetFormat() const { return Format; }

protected:
    struct TQueuedHeader {
        TWaveOutHeader Header; // Data points into Block
        TAudioBlock Block;
    };

    // The worker's body.
    virtual void Execute() = 0;
    // Starts the worker unless it runs already.
    void StartThread();
    // Sends a message to the user from any thread.
    void PostMessage(const std::string& text);

    IUiServices* const Ui;
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Started{false};
    bool Initialised = false; // written before the worker starts
    // The header list and its lock; the lock also makes every call on Device one at a time.
    std::mutex HeadersLock;
    std::vector<std::unique_ptr<TQueuedHeader>> Headers;
    std::unique_ptr<IWaveOut> Device;
    TWavePlayerEvent OnDone;
    TWavePlayerEvent OnTerminate;
    TAudioFormat Format{};

private:
    void ThreadBody();

    std::thread Thread;
    // Posted OnTerminate calls check it, so a player freed before they run is not touched.
    std::shared_ptr<int> Alive = std::make_shared<int>(0);
};

// The player preview playback uses: it plays only what Write gives it.
class TPassiveStreamer : public TCustomWavePlayer {
public:
    using TCustomWavePlayer::TCustomWavePlayer;
    ~TPassiveStreamer() override;

    void Init(const TAudioFormat& format, TWavePlayerEvent onDone,
              TWavePlayerEvent onTerminate) override;
    // Queues a block for playing (starting the worker when needed) and takes it: on success the
    // block is left empty and the result is the number of blocks held. -1 when refused (before
    // Init, after Stop, after a device failure, or when larger than 4 GiB); the caller keeps
    // the block then. An empty block queues nothing and gives the current count.
    int32_t Write(TAudioBlock& block);
    // Blocks written and not yet played.
    int32_t GetQueuedCount() const { return Queued.load(); }
    // The worker has closed the device (after Stop or a device failure).
    bool IsFinished() const { return Finished.load(); }

protected:
    void Execute() override;

private:
    // With HeadersLock held: opens the device once, checking first that there is one; failures
    // are reported and mark the player terminated.
    void OpenDeviceLocked();
    // With HeadersLock held: frees every played block.
    void ReapLocked();

    std::atomic<bool> Error{false};
    bool DeviceOpen = false; // an open was tried; under HeadersLock
    bool NoDevice = false;   // the device count was 0; under HeadersLock
    std::atomic<int32_t> Queued{0};
    std::atomic<bool> Finished{false};
};
