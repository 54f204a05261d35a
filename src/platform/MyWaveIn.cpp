#include "MyWaveIn.h"

#include <alsa/asoundlib.h>

namespace {

class TAlsaWaveIn : public IWaveIn {
public:
    explicit TAlsaWaveIn(std::string deviceName) : DeviceName(std::move(deviceName)) {}
    ~TAlsaWaveIn() override { Close(); }

    bool Open(const TWaveOutFormat& f) override {
        Close();
        if (!IsPlayableWaveFormat(f)) {
            Error = "The sound format cannot be recorded";
            return false;
        }
        SilenceAlsa();
        int err = snd_pcm_open(&Pcm, DeviceName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
        if (err >= 0)
            err = snd_pcm_set_params(
                Pcm, f.BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                SND_PCM_ACCESS_RW_INTERLEAVED, f.Channels, f.SamplesPerSec, 1, 500000);
        if (err >= 0)
            err = snd_pcm_start(Pcm);
        if (err < 0) {
            Error = snd_strerror(err);
            Close();
            return false;
        }
        Error.clear();
        return true;
    }

    bool IsOpen() const override { return Pcm != nullptr; }

    int64_t Read(uint8_t* buffer, int64_t maxFrames) override {
        if (!Pcm)
            return -1;
        if (maxFrames <= 0)
            return 0;
        snd_pcm_sframes_t n = snd_pcm_readi(Pcm, buffer, snd_pcm_uframes_t(maxFrames));
        if (n == -EAGAIN)
            return 0;
        if (n < 0) {
            // An overrun (or a suspend) loses the sound in between; the stream goes on.
            if (snd_pcm_recover(Pcm, int(n), 1) < 0 || snd_pcm_start(Pcm) < 0) {
                Error = snd_strerror(int(n));
                return -1;
            }
            return 0;
        }
        return n;
    }

    void Close() override {
        if (Pcm)
            snd_pcm_close(Pcm);
        Pcm = nullptr;
    }

    std::string ErrorText() const override { return Error; }

private:
    std::string DeviceName;
    snd_pcm_t* Pcm = nullptr;
    std::string Error;
};

} // namespace

std::unique_ptr<IWaveIn> CreateAlsaWaveIn(const std::string& deviceName) {
    return std::make_unique<TAlsaWaveIn>(deviceName);
}
