// The project root: the top node of the tree. It holds the output settings every node renders
// to, the output bitmap frames are composed in, the run state the loops share, and the project's
// life: new, open, save, modified, and the layout after every change.
#pragma once

#include <functional>
#include <mutex>

#include "MyPCMTrans.h"
#include "MyTreeNode.h"

class IUiServices;
class TAddOnManager;
class TCustomExtern;
class TLocalMovieInterface;
class TMovieInterface;
struct TExportSettings;

// Size presets offered for the output frame.
struct TVideoSize {
    int32_t Id;
    const char* Name;
    uint16_t Width;
    uint16_t Height;
};
extern const TVideoSize VideoSizes[7];

// Frame rate presets.
struct TFPSSize {
    int32_t Id;
    const char* Name;
    Extended FPS;
};
extern const TFPSSize FPSSizes[5];

// What the loops tell the windows about each frame.
struct TFrameReport {
    int32_t Frame = 0;
    bool Preview = false;
    bool Export = false;
    bool RealTime = false;
};
using TFrameCallback = std::function<void(TFrameReport&)>;

// A status bar panel a loop writes its progress into.
struct TStatusPanel {
    std::function<std::string()> GetText;
    std::function<void(const std::string&)> SetText;
};

// The picture control playback draws into: a bitmap the window shows.
struct TPictureControl {
    TBitmap* Picture = nullptr;
    std::function<bool()> IsEnabled;  // null: enabled
    std::function<void()> Invalidate; // the bitmap changed
};

class TPassiveStreamer;
class TAudioCodec;
class IWaveOut;
class TAviCompress;
class IMovieWriter;
class IVideoCompressorList;
class TMovieWriter;

// Called by the movie export after each frame: the frame shown, 0, and the frame's bitmap.
using TExportFrameCallback = std::function<void(int32_t frame, int32_t reserved, TBitmap* bitmap)>;

// Where a run sends its frames and sound.
enum : uint8_t { tgPreview = 0, tgMovieWriter = 1, tgWavWriter = 2 };

class TMovieNode;

class TCustomProjectNode : public TCustomFolderNode {
public:
    TCustomProjectNode(const std::string& caption, ITreeItem* item);
    ~TCustomProjectNode() override;

    // Limits on what a project holds, shared by its setters and the project file reader so that
    // everything written reads back: frame side in pixels, frames per second, sample frames per
    // second, the file's size, and the frame count.
    static constexpr int32_t MaxFrameSide = 4096;
    static constexpr Extended MaxFrameRate = 1000;
    static constexpr int64_t MaxSampleRate = MaxPcmSampleRate;
    static constexpr int64_t MaxProjectFileBytes = int64_t(256) << 20;
    static constexpr int32_t MaxFrameCount = 2147483647;

    Extended FrameRate = 15.0L;
    int32_t Width = 320;
    int32_t Height = 240;
    // The node chosen in the tree or timeline, and the node open in the curve editor.
    TTreeNodeData* EditedNode = nullptr;
    // How the engine reaches the user; set by the owner of the root (may be null in tests).
    IUiServices* Ui = nullptr;
    // Threads an export or playback may keep busy (0: one per core). From 2 on, a worker encodes
    // each frame while the next renders and movies decode their next frame ahead; 1 does all on
    // the calling thread. The file written is the same either way.
    int RenderThreads = 0;
    // True from 2 render threads on: movies decode ahead, frames are encoded on workers.
    bool Pipelined() const;
    // Frames a movie whose frames stand alone decodes ahead at once: as many as render threads.
    // The render thread's own share of a frame is a fraction of a decode, so it asks for frames
    // faster than one decode ends; the frames must be under way several at a time, or it waits.
    int DecodeLanes() const;
    // Movies decoding ahead in the current run, the one that drew a frame last first. Only the
    // few shown last keep their decoders (each lane holds a reader of the file and a frame):
    // a project of many long movies would otherwise hold all of them at once. A movie drawing
    // a frame moves to the front (and may push the last one out); one leaving the run goes.
    static constexpr size_t MaxMoviesReadingAhead = 4;
    void MovieReadsAhead(TMovieNode* movie);
    void MovieLeavesReadAhead(TMovieNode* movie);

    // Output settings, as stored in the project file.
    bool AudioOn = true;
    int32_t SizePresetId = 0;
    int64_t AudioMode = 1; // 1 = PCM
    int32_t RatePresetId = 0;
    TAudioFormat AudioFormat{};
    uint32_t VideoFourCC = 0; // 0 = uncompressed
    std::string CompressorName;
    bool WMOutput = false;
    std::string WMProfile = "{EC298949-639B-45E2-96FD-4AB32D5919C2}";
    // Stored without a use of their own, and written back as they were read.
    int32_t ReservedByte = 0;
    Extended ReservedValues[2] = {0.5L, 0.0L};
    // The time of the frame rendered last.
    Extended CurrentTime = 0;
    // The frame whose sound the nodes hand over in the render that runs (set by every run before
    // it renders sound), and how many sample frames of the project's format its block holds.
    int32_t SoundFrame = 0;
    int32_t SoundFrameSamples() const { return FrameSamples(SoundFrame); }
    // Sample frames of frame n's block (0 when the frame rate can hold none).
    int32_t FrameSamples(int32_t frame) const;

    // Creates the add-ons that effect nodes ask for; made with the root, freed after the tree.
    std::unique_ptr<TAddOnManager> AddOnManager;

    // ---- movie interfaces lent to effects ----
    // A movie reader for an add-on (its owner), kept in the project's list until the add-on
    // gives it back or the project goes.
    TMovieInterface* CreateMovieInterface(TCustomExtern* owner);
    // Frees an interface of the list; one the project did not make is left alone.
    void FreeMovieInterface(TMovieInterface* intf);
    size_t GetMovieInterfaceCount() const { return MovieInterfaces.size(); }
    // Turns the decoding ahead of every lent movie on or off, for a run of renders.
    void SetMovieInterfacesReadAhead(bool on);

    // The picture control media nodes show their source frames in (null: none).
    TPictureControl* OriginalImage = nullptr;
    // Stores the control and hands it to every media node of the tree.
    void SetOriginalImage(TPictureControl* control);

    // Format version of the last project file read.
    static int32_t FormatVersionRead;

    // The whole project as a file image: header and the root's record.
    void SaveToStream(std::vector<uint8_t>& stream) const;
    // False when the file is refused (unknown format, newer version); read errors raise, and
    // leave the root without children.
    bool LoadFromStream(const std::vector<uint8_t>& stream);

    // The frame rate nodes work with: 1.0 while the add-on preview runs.
    Extended GetFrameRate() const { return AddOnPreview.Active ? 1.0L : FrameRate; }
    void GetFrameRect(TRectI& rect) override;
    // Called by every node as it is destroyed, so the root holds no dangling reference.
    virtual void ForgetNode(TTreeNodeData* node);
    bool IsWMVOutput() const { return WMOutput; }
    // The bitmap a render goes to (the root's own one unless a writer takes the frames).
    virtual TBitmap* GetOutputBitmap() { return OutputBitmap.get(); }
    // True while the frames rendered go into a file: effects then leave out the motion path.
    virtual bool IsWriterTarget() const { return false; }
    // Reads a project file; false when it does not exist or is refused. A FIFO, a device or a
    // file above MaxProjectFileBytes raises a read error before anything is read. The file name
    // is kept only when the file was read.
    virtual bool LoadFromFile(const std::string& fileName);
    // Writes the project file; the previous file stays until the new one is complete.
    bool SaveToFile(const std::string& fileName);
    // t moved onto the frame grid; 0 without a frame rate or for a negative result.
    Extended SnapTime(Extended t) const;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;

    std::unique_ptr<TBitmap> OutputBitmap;

private:
    // Freed after the destructor has freed the children, whose effects give theirs back first.
    std::vector<std::unique_ptr<TLocalMovieInterface>> MovieInterfaces;
    std::vector<TMovieNode*> ReadAheadMovies;
};

class TProjectNode : public TCustomProjectNode {
public:
    TProjectNode(const std::string& caption, ITreeItem* item);
    ~TProjectNode() override;

    bool Abort = false;
    uint8_t Target = tgPreview;
    bool Busy = false;
    uint32_t BackgroundColor = 0;
    std::string LastOutputFile;
    bool VideoFormatFixed = false;
    bool AudioFormatFixed = false;
    // The level-1 video track, or null.
    TQueueFolder* VideoTrack = nullptr;
    bool SoundInPlayback = true;
    bool VideoInPlayback = true;
    bool BufferAudio = false;
    // Number of images of the tree view; sealed nodes use the second half.
    int TreeImageCount = 0;
    std::function<void(TTreeNodeData*)> OnActiveNode;

    void New();
    // Opens a project file. Any failure (a read error, a refused file, no memory) adds its
    // reason to the load messages and leaves a clean new project without a file name.
    bool LoadFromFile(const std::string& fileName) override;
    bool Save() { return SaveToFile(FileName); }
    bool IsModified();
    bool Clear();
    TTreeNodeData* AddChild(int mode, uint8_t kind, ITreeItem* parentItem, const std::string& name);
    void DeleteNode(ITreeItem* item);
    void DiscardNode(TTreeNodeData*& node);
    void DeleteChildren() override;

    void SetVideoFormat(int32_t width, int32_t height, Extended fps);
    void SetBackgroundColor(uint32_t color);
    Extended GetFPS() const { return GetFrameRate(); }
    int32_t GetFrameCount();
    // Time of frame i: i / fps, held at the project's end.
    Extended FrameTime(int32_t frame);

    TBitmap* GetOutputBitmap() override;
    // Marks the runs of its lifetime as writing their frames to picture files (the
    // picture-sequence export plays them to the preview, whose pictures it writes), so nothing
    // drawn only for the user's eyes goes into them.
    class TWritingPictures {
    public:
        explicit TWritingPictures(TProjectNode& root) : Root(root), Was(root.WritingPictures) {
            Root.WritingPictures = true;
        }
        ~TWritingPictures() { Root.WritingPictures = Was; }
        TWritingPictures(const TWritingPictures&) = delete;
        TWritingPictures& operator=(const TWritingPictures&) = delete;

    private:
        TProjectNode& Root;
        const bool Was;
    };
    bool IsWriterTarget() const override { return Target == tgMovieWriter || WritingPictures; }

    // ---- sound of a run ----
    // Gives every enabled durable node the audio handler and opens it for a run.
    bool OpenForRender(int32_t startFrame) override;
    void CloseAllAfterRender();
    // Queues one node's block for this frame.
    bool AudioHandler(TAudioSourceInfo& source);
    // Mixes what the nodes queued for a frame and sends it where the run's target says.
    bool WriteAudioChunk(bool final, int32_t frame);
    TPCMTrans& GetMixer() { return Mixer; }

    // ---- export loops ----
    // Sound only, frames first..first+count+1, into a WAV file (or raw samples).
    bool ExportWave(bool raw, int32_t first, const TStatusPanel* statusPanel,
                    const std::string& fileName, int32_t count);

    // Frames first..first+count with their sound into the movie writer (AVI or Windows Media).
    bool ExportMovie(int32_t first, int32_t count, const TExportFrameCallback& onFrame,
                     const TFrameCallback& onReport, const std::string& fileName);
    // Milliseconds the movie export sleeps per frame (0 for benchmarks).
    int ExportSleepMs = 10;
    TAviCompress& GetAviCompress();
    IMovieWriter& GetMovieWriter();
    // A writer to use instead of the real one (tests); not owned.
    IMovieWriter* MovieWriterOverride = nullptr;
    // The compressors to offer instead of the installed ones (tests); not owned. Read when the
    // compressor choice is made.
    IVideoCompressorList* CompressorListOverride = nullptr;

    // ---- playback ----
    // Plays frames from startFrame (to endFrame when above 0), with sound through a wave-output
    // thread; real time follows the clock, otherwise every pass shows the next frame.
    bool Play(int32_t startFrame, int32_t endFrame, bool realTime, const TFrameCallback& onReport,
              const TPictureControl& image);
    TPassiveStreamer* GetStreamer() const { return Streamer.get(); }
    // The silence written ahead of playback: how many blocks of how many bytes (about a second,
    // one frame's sound each).
    static void PrerollBlocks(Extended fps, const TAudioFormat& format, int32_t& count,
                              size_t& bytes);
    // Finished wave-output threads kept until they can be freed.
    size_t GetThreadCount();
    // Makes the device of each new wave-output thread (null: the sound system's own).
    std::function<std::unique_ptr<IWaveOut>()> WaveOutFactory;

    // The audio codec of exports whose audio mode is not PCM.
    TAudioCodec& GetAudioCodec();

    void Refresh();
    void UpdateImageIndexes();
    TTreeNodeData* GetActiveNode() const;
    void SetActiveNode(TTreeNodeData* node);
    bool Stop();

    // Curves first, then the picture, for one frame at t.
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;
    // One frame for the preview area, stretched into rect of canvas.
    bool RenderPreview(int32_t frame, TCanvas& canvas, const TRect& rect,
                       const TFrameCallback& onReport);

private:
    TQueueFolder* FindVideoTrack() const;
    // The steps after a file was read; raises when the project cannot be used.
    bool TakeLoadedProject();
    // Every stored field as in a project just constructed, then New.
    void ResetToNew();
    // The project file image of the root as constructed.
    std::vector<uint8_t> FreshImage;
    // Mixes frame's block from what the nodes queued into Mix.Buffer, silence when they queued
    // nothing; mixed is False when there is nothing to send (a stopped run, sound off). False
    // when the mix fails.
    bool MixAudioChunk(int32_t frame, bool& mixed);
    // Sends a mixed block to the current target; false when it could not be written.
    bool SendAudio(bool final, const uint8_t* data, size_t size);
    // Every enabled durable node below the root, in tree order; stopOnAbort ends the walk as
    // soon as abort is set.
    void ForEachEnabledDurable(const std::function<void(TCustomDurableNode*)>& fn,
                               bool stopOnAbort);

    // Joins and frees the kept wave-output threads that have ended.
    void FreeEndedThreads();
    // The encoded format of the export for the audio mode; says so when the codec has none.
    bool SuggestExportFormat(TAudioFormat& exportFormat);
    void StopStreamer();
    // The frame loop of a movie export whose frames are encoded on workers while the next ones
    // render: the file gets the same chunks in the same order as the plain loop writes them.
    bool ExportFramesPipelined(IMovieWriter& writer, int32_t first, int32_t count,
                               const TExportFrameCallback& onFrame, const TFrameCallback& onReport);
    // Frame i of an export with its sound, into the output bitmap.
    void RenderExportFrame(int32_t i);
    // The frame loop of a movie export that encodes each frame before the next is drawn.
    bool ExportFramesPlain(IMovieWriter& writer, int32_t first, int32_t count,
                           const TExportFrameCallback& onFrame, const TFrameCallback& onReport);
    // One export: what it opens before its first frame (codec, file), its frames, and its own
    // closing (the file), which may turn the result into a failure.
    struct TExportRun {
        std::function<bool()> Open; // false: no frame is rendered
        std::function<bool()> Frames;
        std::function<void(bool& result)> Close;
    };
    // Runs an export with the root busy: Open, the nodes opened at frame first, Frames; then,
    // however that ended, the nodes closed, Close, the project's sound format put back and the
    // codec closed. Every closing step runs whatever the others did and none in a destructor;
    // the first exception is handed on once all have run. Memory that runs out ends the export
    // with a message and False.
    bool RunExport(const std::string& fileName, int32_t first, const TExportRun& run);
    // The frame loop of a WAV export: Count + 2 frames of sound into the WAV writer.
    bool ExportWaveFrames(int32_t first, int32_t count, const TStatusPanel* statusPanel);
    // Flushes the codec and completes the WAV file, or abandons it after a failure (result
    // False); False when the file could not be completed, with the reason in why.
    bool EndWaveFile(bool result, std::string& why);
    // Opens the audio codec for an export in AudioMode; says why when it cannot.
    bool OpenExportAudio(TAudioFormat& exportFormat);
    TExportSettings MovieExportSettings(const TAudioFormat& exportFormat, int32_t frames);
    // One run of Play: its frame clock, the sound kept ahead and the frames drawn and reported.
    class TPlayLoop;
    // The frames of a pipelined export between their render and the file.
    class TExportQueue;
    // Blocks handed to the running wave-output thread so far.
    int64_t StreamedBlocks = 0;

    TPCMTrans Mixer;
    TMixBuffer Mix;
    std::unique_ptr<TPassiveStreamer> Streamer;
    std::mutex ThreadListLock;
    std::vector<std::unique_ptr<TPassiveStreamer>> ThreadList;
    // Preview sound gathered before it is queued (buffer audio).
    std::vector<uint8_t> Gather;
    size_t GatherFill = 0;
    std::unique_ptr<TAudioCodec> AudioCodec;
    std::unique_ptr<TAviCompress> AviCompress;
    std::unique_ptr<TMovieWriter> MovieWriter;
    bool CodecOpen = false;
    std::vector<uint8_t> Encoded;
    // The WAV writer of the running WAV export.
    std::unique_ptr<class TWavWriter> WavWriter;
    // A TWritingPictures is alive.
    bool WritingPictures = false;
};
