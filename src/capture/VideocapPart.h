// The recording of the capture window: a worker thread that takes the driver's frames at the
// asked rate, with sound from the capture device, and writes them through our AVI writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MyAviWriter.h"
#include "MyQuietUi.h"
#include "MyVideoCompressLayer.h"
#include "MyWaveIn.h"
#include "Videocap.h"

// What one recording is made of.
struct TSequenceSetup {
    TCaptureParms Parms;
    TWaveFormatEx Audio{};
    bool ToFile = true;
    std::string FileName;
    uint32_t Compressor = 0; // FOURCC; 0 = full frames
};

// Messages of a writer on the worker reach the user through the GUI thread; the worker neither
// pumps nor asks.
class TWorkerUi : public TQuietUi {
public:
    explicit TWorkerUi(IUiServices& gui) : Gui(gui) {}
    void ShowMessage(const std::string& text, TMsgKind kind) override;
    void Sleep(int milliseconds) override;
    int64_t TickCount() override;
    void PostToGui(std::function<void()> fn) override { Gui.PostToGui(std::move(fn)); }

private:
    IUiServices& Gui;
};

class TCaptureSequence {
public:
    // The sound device the recording opens; the ALSA one unless a test gives another.
    static std::function<std::unique_ptr<IWaveIn>()> WaveInFactory;

    TCaptureSequence(TCapWindow& window, ICaptureDevice& device, IUiServices& ui);
    ~TCaptureSequence();
    TCaptureSequence(const TCaptureSequence&) = delete;
    TCaptureSequence& operator=(const TCaptureSequence&) = delete;

    // Opens the file and the sound, then records on the worker; false (message shown) when
    // something could not be opened. ended runs on the worker as its last act.
    bool Start(const TSequenceSetup& setup, std::function<void()> ended);
    void RequestStop() { StopFlag = true; }
    // Waits for the worker; the file is closed when it returns.
    void Join();
    bool Running() const { return RunningFlag; }
    void Counts(TCapStatus& status) const;

private:
    bool OpenWriter(const TCapFormat& format);
    bool OpenSound();
    void Run();
    bool WriteFrame(bool keyFrame);
    bool PumpSound(int64_t elapsedUs);
    bool LimitReached(int64_t elapsedUs) const;

    TCapWindow& Window;
    ICaptureDevice& Device;
    IUiServices& Ui;
    TWorkerUi WorkerUi;
    TSequenceSetup Setup;
    std::function<void()> Ended;
    std::unique_ptr<TAviWriter> Writer;
    std::unique_ptr<IVideoCompressor> Encoder;
    std::unique_ptr<IWaveIn> Sound;
    std::thread Worker;
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> RunningFlag{false};

    TCapFormat Format;
    Extended FrameRate = 0;
    int32_t KeyRate = 1;
    std::vector<uint8_t> Frame; // top-down B, G, R, Width × 3 apart
    std::vector<uint8_t> Dib;   // bottom-up rows padded to 4 bytes, as the file takes them
    std::vector<uint8_t> SoundBuffer;
    int64_t SoundFramesRead = 0;
    int32_t SoundBlockAlign = 0;

    std::atomic<int64_t> Frames{0};
    std::atomic<int64_t> Dropped{0};
    std::atomic<int64_t> ElapsedMs{0};
    std::atomic<int64_t> WaveSamples{0};
    std::atomic<int64_t> Entries{0};
};
