// The recording of the capture window: a worker thread that takes the driver's frames at the
// asked rate, with sound from the capture device, and writes them through our AVI writer. A
// recording goes to a working file beside the chosen one and takes its name only once complete,
// or into a reserved buffer file as it stands; it ends before the disk or the index runs out.
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
    // FileName is a reserved buffer: written as it stands and cut to the movie's length at the
    // end, instead of going through a working file.
    bool InPlace = false;
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
    // Bytes free for a file in folder, -1 when unknown; the file system's answer unless a test
    // gives another.
    static std::function<int64_t(const std::string& folder)> FreeSpace;
    // Sound goes into the file in blocks of a fifth of a second: the index a timed recording asks
    // for holds five of them a second beside its frames.
    static constexpr int32_t SoundChunksPerSecond = 5;
    // The working file of a recording into fileName: its name with WorkSuffix appended.
    static constexpr const char* WorkSuffix = ".~cap";
    static std::string WorkFileName(const std::string& fileName);
    // Puts fileName on the disk, first cut to the length its RIFF form gives when asked (a
    // reserved file is longer); false when it did not all get there.
    static bool FlushToDisk(const std::string& fileName, bool cutToRiff);

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
    // Once ended: the file is whole (or there was none to write).
    bool Complete() const { return CompleteFlag; }

private:
    bool OpenWriter(const TCapFormat& format);
    bool OpenSound();
    void Run();
    void Finish();
    // Gives a closed file its name; true when the recording is whole.
    bool PlaceFile(bool complete);
    bool TimeUp(int64_t elapsedUs) const;
    // Writes the slots up to due with the current picture, fresh from the driver or not; false
    // when the recording must end.
    bool WriteSlots(int64_t due, bool fresh);
    bool WriteFrame(bool keyFrame);
    bool PumpSound(int64_t elapsedUs);
    bool WriteSoundChunk(bool last);
    // Room in the index (keeping one entry for the last sound block) and on the disk for a
    // chunk of bytes; false when there is none, a full disk noted.
    bool Room(uint32_t bytes, bool last);

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
    std::string WorkFile;
    std::string WorkFolder;           // asked for its free space as the file grows
    int64_t Reserved = 0;             // bytes the working file holds on the disk already
    int64_t FileBytes = 0;            // what the file will take, its index included
    std::vector<uint8_t> SoundBuffer; // one block of sound
    int64_t SoundFill = 0;            // sample frames in it
    int64_t SoundFramesRead = 0;
    int64_t SoundLimit = INT64_MAX; // sample frames a timed recording holds
    int32_t SoundBlockAlign = 0;
    int64_t SlotLimit = INT64_MAX; // frames a timed recording holds
    int64_t Written = 0;
    bool WriteFailed = false;
    bool DiskFull = false;
    std::atomic<bool> CompleteFlag{false};

    std::atomic<int64_t> Frames{0};
    std::atomic<int64_t> Dropped{0};
    std::atomic<int64_t> ElapsedMs{0};
    std::atomic<int64_t> WaveSamples{0};
    std::atomic<int64_t> Entries{0};
};
