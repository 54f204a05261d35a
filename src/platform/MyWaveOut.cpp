#include "MyWaveOut.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace {

void SilentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

} // namespace

void SilenceAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(SilentAlsaErrors); });
}

namespace {

// A short period and a buffer of a few periods: a header is reported done at most a few tens of
// milliseconds after it left our hands, and it is only reported once the device's play position
// has passed its last frame.
constexpr unsigned PeriodMicroseconds = 10000;
constexpr unsigned BufferMicroseconds = 40000;
// How long the writer idles when it can make no progress; well below one period.
constexpr auto WriterPoll = std::chrono::milliseconds(2);

void MarkDone(TWaveOutHeader* header) {
    // InQueue goes before Done: whoever sees Done may unprepare and free the header at once.
    header->Flags.fetch_and(~uint32_t(WaveHdrInQueue));
    header->Flags.fetch_or(WaveHdrDone);
}

class TAlsaWaveOut : public IWaveOut {
public:
    explicit TAlsaWaveOut(std::vector<std::string> deviceNames)
        : DeviceNames(std::move(deviceNames)) {
        SilenceAlsa();
    }
    ~TAlsaWaveOut() override {
        std::lock_guard api(ApiLock);
        if (Pcm) {
            ResetLocked();
            Shutdown();
        }
    }

    int32_t DeviceCount() override;
    int32_t Open(const TWaveOutFormat& format) override;
    bool IsOpen() const override {
        std::lock_guard api(ApiLock);
        return Pcm != nullptr;
    }
    int32_t PrepareHeader(TWaveOutHeader& header) override;
    int32_t Write(TWaveOutHeader& header) override;
    int32_t UnprepareHeader(TWaveOutHeader& header) override;
    int32_t Reset() override;
    int32_t Close() override;

private:
    struct TInFlight {
        TWaveOutHeader* Header;
        uint64_t EndFrame; // frames written since the last reset once this header was in
    };

    void WriterLoop();
    void ResetLocked();
    void Shutdown();
    uint64_t PlayedFrames(uint64_t written);

    // Tried in order; the first that opens is played to.
    const std::vector<std::string> DeviceNames;
    // Serialises the public calls; the writer never takes it.
    mutable std::mutex ApiLock;
    snd_pcm_t* Pcm = nullptr; // set and cleared only while the writer is not running
    size_t FrameBytes = 0;
    std::thread Writer;

    // Shared with the writer.
    std::mutex Lock;
    std::condition_variable Wake;        // new header, reset or quit
    std::condition_variable ResetDone;   // the writer has dropped everything
    std::deque<TWaveOutHeader*> Pending; // written by the caller, not yet all handed to ALSA
    size_t Offset = 0;                   // bytes of Pending.front() already handed over
    std::deque<TInFlight> InFlight;      // handed over, not yet played
    bool ResetRequested = false;
    bool Quit = false;
    bool Broken = false; // ALSA failed beyond recovery; every later Write fails
};

int32_t TAlsaWaveOut::DeviceCount() {
    std::lock_guard api(ApiLock);
    if (Pcm)
        return 1;
    // A device that cannot be opened because someone holds it still exists.
    for (const std::string& name : DeviceNames) {
        snd_pcm_t* probe = nullptr;
        int err = snd_pcm_open(&probe, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (err == 0) {
            snd_pcm_close(probe);
            return 1;
        }
        if (err == -EBUSY || err == -EAGAIN)
            return 1;
    }
    return 0;
}

int32_t TAlsaWaveOut::Open(const TWaveOutFormat& format) {
    std::lock_guard api(ApiLock);
    if (Pcm)
        return WaveOutInvalidParam;
    if (!IsPlayableWaveFormat(format))
        return WaveOutBadFormat;

    snd_pcm_t* pcm = nullptr;
    // Non-blocking: a busy device answers at once, and the writer waits on its own terms. The
    // first failure says why when none opens: it is the device the user asked for.
    int firstErr = 0;
    for (const std::string& name : DeviceNames) {
        int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (err == 0)
            break;
        pcm = nullptr;
        if (firstErr == 0)
            firstErr = err;
    }
    if (!pcm)
        return WaveOutCodeFromAlsaOpenError(firstErr != 0 ? firstErr : -ENODEV);

    auto fail = [&](int32_t code) {
        snd_pcm_close(pcm);
        return code;
    };
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0)
        return fail(WaveOutError);
    unsigned rate = format.SamplesPerSec;
    unsigned period = PeriodMicroseconds;
    unsigned buffer = BufferMicroseconds;
    snd_pcm_format_t sampleFormat =
        format.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, sampleFormat) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, format.Channels) < 0 ||
        snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0)
        return fail(WaveOutBadFormat);
    if (snd_pcm_hw_params_set_period_time_near(pcm, hw, &period, nullptr) < 0 ||
        snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer, nullptr) < 0 ||
        snd_pcm_hw_params(pcm, hw) < 0)
        return fail(WaveOutBadFormat);

    snd_pcm_uframes_t periodFrames = 0;
    snd_pcm_uframes_t bufferFrames = 0;
    if (snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) < 0)
        return fail(WaveOutError);
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    // Start once a period is buffered; the writer starts a shorter tail itself.
    if (snd_pcm_sw_params_current(pcm, sw) < 0 ||
        snd_pcm_sw_params_set_start_threshold(pcm, sw, periodFrames) < 0 ||
        snd_pcm_sw_params_set_avail_min(pcm, sw, periodFrames) < 0 ||
        snd_pcm_sw_params(pcm, sw) < 0 || snd_pcm_prepare(pcm) < 0)
        return fail(WaveOutError);

    Pcm = pcm;
    FrameBytes = format.BlockAlign;
    {
        std::lock_guard lk(Lock);
        Pending.clear();
        InFlight.clear();
        Offset = 0;
        ResetRequested = Quit = Broken = false;
    }
    Writer = std::thread([this] { WriterLoop(); });
    return WaveOutOk;
}

int32_t TAlsaWaveOut::PrepareHeader(TWaveOutHeader& header) {
    std::lock_guard api(ApiLock);
    if (!Pcm)
        return WaveOutInvalidHandle;
    if (!header.Data && header.Length > 0)
        return WaveOutInvalidParam;
    header.Flags.fetch_or(WaveHdrPrepared);
    return WaveOutOk;
}

int32_t TAlsaWaveOut::Write(TWaveOutHeader& header) {
    std::lock_guard api(ApiLock);
    if (!Pcm)
        return WaveOutInvalidHandle;
    uint32_t flags = header.Flags.load();
    if (!(flags & WaveHdrPrepared))
        return WaveOutUnprepared;
    if (flags & WaveHdrInQueue)
        return WaveOutStillPlaying;
    std::lock_guard lk(Lock);
    if (Broken)
        return WaveOutError;
    header.Flags.store((flags & ~uint32_t(WaveHdrDone)) | WaveHdrInQueue);
    Pending.push_back(&header);
    Wake.notify_one();
    return WaveOutOk;
}

int32_t TAlsaWaveOut::UnprepareHeader(TWaveOutHeader& header) {
    std::lock_guard api(ApiLock);
    if (!Pcm)
        return WaveOutInvalidHandle;
    if (header.Flags.load() & WaveHdrInQueue)
        return WaveOutStillPlaying;
    header.Flags.fetch_and(~uint32_t(WaveHdrPrepared));
    return WaveOutOk;
}

int32_t TAlsaWaveOut::Reset() {
    std::lock_guard api(ApiLock);
    if (!Pcm)
        return WaveOutInvalidHandle;
    ResetLocked();
    return WaveOutOk;
}

void TAlsaWaveOut::ResetLocked() {
    std::unique_lock lk(Lock);
    ResetRequested = true;
    Wake.notify_one();
    ResetDone.wait(lk, [this] { return !ResetRequested; });
}

int32_t TAlsaWaveOut::Close() {
    std::lock_guard api(ApiLock);
    if (!Pcm)
        return WaveOutInvalidHandle;
    {
        std::lock_guard lk(Lock);
        if (!Pending.empty() || !InFlight.empty())
            return WaveOutStillPlaying;
    }
    Shutdown();
    return WaveOutOk;
}

void TAlsaWaveOut::Shutdown() {
    {
        std::lock_guard lk(Lock);
        Quit = true;
        Wake.notify_one();
    }
    Writer.join();
    snd_pcm_drop(Pcm);
    snd_pcm_close(Pcm);
    Pcm = nullptr;
}

uint64_t TAlsaWaveOut::PlayedFrames(uint64_t written) {
    snd_pcm_sframes_t delay = 0;
    // Not running nor waiting to start (an underrun, a stopped stream): all that was written has
    // played. A stream waiting for its start threshold has played nothing it holds.
    snd_pcm_state_t state = snd_pcm_state(Pcm);
    if ((state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PREPARED) ||
        snd_pcm_delay(Pcm, &delay) < 0 || delay < 0)
        return written;
    return uint64_t(delay) >= written ? 0 : written - uint64_t(delay);
}

void TAlsaWaveOut::WriterLoop() {
    std::unique_lock lk(Lock);
    uint64_t written = 0; // frames handed to ALSA since the last reset
    for (;;) {
        if (ResetRequested) {
            lk.unlock();
            snd_pcm_drop(Pcm);
            snd_pcm_prepare(Pcm);
            lk.lock();
            for (TWaveOutHeader* h : Pending)
                MarkDone(h);
            for (const TInFlight& f : InFlight)
                MarkDone(f.Header);
            Pending.clear();
            InFlight.clear();
            Offset = 0;
            written = 0;
            ResetRequested = false;
            ResetDone.notify_all();
            continue;
        }
        if (Quit)
            return;
        if (Pending.empty() && InFlight.empty()) {
            Wake.wait(lk);
            continue;
        }

        // ALSA is called without the lock; a reset or quit asked meanwhile waits for this pass,
        // so the header stays valid until the pass is over.
        TWaveOutHeader* cur = Pending.empty() ? nullptr : Pending.front();
        size_t offset = Offset;
        lk.unlock();
        bool progressed = false;
        bool broken = false;
        if (cur) {
            snd_pcm_uframes_t frames = (cur->Length - offset) / FrameBytes;
            if (frames > 0) {
                snd_pcm_sframes_t n = snd_pcm_writei(Pcm, cur->Data + offset, frames);
                if (n >= 0) {
                    offset += size_t(n) * FrameBytes;
                    written += uint64_t(n);
                    progressed = n > 0;
                } else if (n != -EAGAIN) {
                    // An underrun (the caller fed too slowly) or a suspend: start again.
                    broken = snd_pcm_recover(Pcm, int(n), 1) < 0;
                }
            }
        } else if (snd_pcm_state(Pcm) == SND_PCM_STATE_PREPARED) {
            // Nothing more to feed: play a tail shorter than the start threshold too.
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_delay(Pcm, &delay) == 0 && delay > 0)
                snd_pcm_start(Pcm);
        }
        uint64_t played = PlayedFrames(written);

        lk.lock();
        if (ResetRequested || Quit)
            continue;
        if (broken) {
            // The device is gone; report everything done so the owner can free it and see the
            // failure on its next Write.
            Broken = true;
            for (TWaveOutHeader* h : Pending)
                MarkDone(h);
            for (const TInFlight& f : InFlight)
                MarkDone(f.Header);
            Pending.clear();
            InFlight.clear();
            Offset = 0;
            continue;
        }
        if (cur) {
            Offset = offset;
            if (cur->Length - offset < FrameBytes) {
                Pending.pop_front();
                InFlight.push_back({cur, written});
                Offset = 0;
                progressed = true;
            }
        }
        while (!InFlight.empty() && InFlight.front().EndFrame <= played) {
            MarkDone(InFlight.front().Header);
            InFlight.pop_front();
        }
        if (!progressed)
            Wake.wait_for(lk, WriterPoll);
    }
}

} // namespace

std::string WaveOutDeviceName() {
    const char* name = std::getenv("TARVOLIN_AUDIO_DEVICE");
    return name && *name ? std::string(name) : std::string("default");
}

std::vector<std::string> WaveOutDeviceNames() {
    std::vector<std::string> names{WaveOutDeviceName()};
    const char* chosen = std::getenv("TARVOLIN_AUDIO_DEVICE");
    if (chosen && *chosen)
        return names;
    // As desktop players do: when "default" does not play (no sound server, a broken
    // configuration), the first sound card, with ALSA converting rate and format.
    SilenceAlsa();
    int card = -1;
    if (snd_card_next(&card) == 0 && card >= 0)
        names.push_back("plughw:" + std::to_string(card) + ",0");
    return names;
}

std::unique_ptr<IWaveOut> CreateAlsaWaveOut(const std::string& deviceName) {
    return std::make_unique<TAlsaWaveOut>(std::vector<std::string>{deviceName});
}

std::unique_ptr<IWaveOut> CreateAlsaWaveOut(const std::vector<std::string>& deviceNames) {
    return std::make_unique<TAlsaWaveOut>(deviceNames);
}

std::unique_ptr<IWaveOut> CreateWaveOut() {
    return CreateAlsaWaveOut(WaveOutDeviceNames());
}

int32_t WaveOutCodeFromAlsaOpenError(int alsaError) {
    switch (alsaError) {
    case 0:
        return WaveOutOk;
    case -EBUSY:
    case -EAGAIN:
        return WaveOutAllocated;
    case -ENOENT: // no such PCM or card in the configuration
    case -ENODEV:
    case -ENXIO:
        return WaveOutNoDriver;
    case -ENOMEM:
        return WaveOutNoMem;
    default:
        return WaveOutError;
    }
}

bool IsPlayableWaveFormat(const TWaveOutFormat& f) {
    if (f.FormatTag != 1)
        return false;
    if (f.BitsPerSample != 8 && f.BitsPerSample != 16)
        return false;
    if (f.Channels < 1 || f.Channels > 2 || f.SamplesPerSec == 0)
        return false;
    uint32_t align = uint32_t(f.Channels) * (f.BitsPerSample / 8);
    return f.BlockAlign == align && uint64_t(f.AvgBytesPerSec) == uint64_t(f.SamplesPerSec) * align;
}
