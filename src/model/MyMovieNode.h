// A video object: frames and sound of an AVI movie placed on the project's time axis. It maps
// project time to source time, hands the project one sound block per rendered frame and
// describes its file in the information text.
#pragma once

#include <memory>

#include "MyAVIReader.h"
#include "MyTreeNode.h"

class IUiServices;
struct TPictureControl;

class TMovieNode : public TMasterNode {
public:
    TMovieNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    ~TMovieNode() override;

    // Taken from the file when it opens; 0 until then.
    Extended SourceFrameRate = 0;
    int32_t SourceWidth = 0;
    int32_t SourceHeight = 0;
    int32_t SourceFrameCount = 0;
    bool UseAudio = true;
    // The file's duration, set together with the natural duration.
    Extended SourceDuration = 0;
    // Sound blocks handed out during a run are numbered on from the first one.
    bool AudioCounterStarted = false;
    int32_t AudioCounter = 0;
    // Stored and read back; no other use.
    Extended ReservedValue = 0;
    TTimeData* BalanceCurve = nullptr;
    TTimeData* VolumeCurve = nullptr;
    // Where the main window shows the source frame before any effect; not owned, may be null.

    // Opens the movie. A file that does not open keeps the values of the last one (the reader
    // shows its own message); a missing file is left to the base operation.
    void SetFileName(const std::string& name) override;
    // The file has sound we can deliver and the node is asked to use it.
    bool HasAudio() override;
    // The movie's decoded sound format when it has sound, else the project's.
    void GetAudioFormat(TAudioFormat& format);
    Extended GetNaturalDuration() override;
    int32_t GetSourceWidth() override { return SourceWidth; }
    int32_t GetSourceHeight() override { return SourceHeight; }
    Extended GetSourceFrameRate() override { return SourceFrameRate; }
    void Unlink() override;

    // Readies the sound for a run; false when the file has none.
    bool OpenForRender(int32_t startFrame) override;
    void CloseAfterRender() override;
    // Draws the frame shown at t (wakes the decoder before playback), then the children.
    bool PrepareFrame(TBitmap* bitmap, Extended t) override;
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;
    bool GetInfo(std::vector<std::string>& lines) override;
    // Copies the sound track as stored into a WAV file (or raw samples).
    bool ExtractAudio(bool raw, const std::string& fileName, IUiServices& ui);

    // Seconds into the file shown at project time t (never below 0).
    virtual Extended SourceTimeAt(Extended t);
    // The frame of the file at source time s, kept inside the file's frames.
    int32_t SourceFrameAt(Extended s) const;
    const TAviReader& GetReader() const { return *Reader; }
    // Ends decoding ahead until the movie draws its next frame of the run.
    void StopReadingAhead() { Reader->EndReadAhead(); }

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;

    // Where the clip starts in the file.
    Extended InPoint() const { return ClipRange.FromStart ? 0 : ClipRange.InTime; }

private:
    // Hands this frame's sound (or one frame of silence) to the audio handler; false when the
    // file's sound could not be read.
    bool DeliverAudio(int32_t block, Extended s);
    void ShowSourceFrame(const TBitmap& bitmap);

    // Draws frame index of the file into bitmap, decoding ahead during a pipelined run.
    bool DrawFrame(int32_t index, TBitmap& bitmap);

    std::unique_ptr<TAviReader> Reader;
    // Between OpenForRender and CloseAfterRender of a run whose frames are decoded ahead.
    bool ReadAheadRun = false;
};
