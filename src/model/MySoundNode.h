// Audio objects: sound taken from a WAV file or from a movie's sound track, handed to the project
// one frame's block at a time in the project's format, trimmed by the in-point and shaped by the
// volume and balance curves. The music object shares the source part and lives in MyMusicNode.
#pragma once

#include <memory>

#include "MyAVIReader.h"
#include "MyPCMTrans.h"
#include "MyTreeNode.h"
#include "waveio.h"

// Where a sound object's samples come from.
enum : uint8_t { stNone = 0, stMovie = 1, stWave = 2 };

// The source part the audio and music objects share: the file, its format, the per-frame blocks
// and the information text.
class TSoundSourceNode : public TCustomSoundNode {
public:
    TSoundSourceNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    ~TSoundSourceNode() override;

    uint8_t SourceType = stNone;
    // The movie reader's decoded format, or the WAV file's 18-byte format.
    TAudioFormat SourceFormat{};
    TPCMTrans PCMTrans;
    // Movie sound: the next block (source frame) number; WAV: the sample frame the run started
    // at, and the file's sample frames consumed since.
    bool AudioCounterStarted = false;
    int64_t AudioCounter = 0;
    int64_t Consumed = 0;
    std::unique_ptr<TAviReader> Reader;
    std::unique_ptr<TFileWaveStream> WaveStream;
    TTimeData* BalanceCurve = nullptr;
    TTimeData* VolumeCurve = nullptr;

    // ".avi" files give their sound track, anything else is read as a WAV file.
    void SetFileName(const std::string& name) override;
    Extended GetDuration() override;
    Extended GetNaturalDuration() override { return GetSourceLength(); }
    bool HasAudio() override { return GetDuration() > 0; }
    // The rate of the node's own sound blocks.
    Extended GetFPS();
    // Where in the source the node starts.
    Extended GetInPoint() const { return ClipRange.FromStart ? 0 : ClipRange.InTime; }
    bool OpenForRender(int32_t startFrame) override;
    bool GetInfo(std::vector<std::string>& lines) override;
    // Seconds of sound in the source (0 without one).
    Extended GetSourceLength();

protected:
    // Class name used in the text of the unknown-source exception.
    virtual const char* ClassName() const = 0;
    // The format blocks are handed over in.
    virtual const TAudioFormat& GetTargetFormat() const = 0;
    // Hands the block of the frame at t to the audio handler. False when the source could not be
    // read or converted.
    bool RenderSound(bool wantAudio, Extended t);

private:
    bool ReadWaveBlock(Extended sourceTime, std::vector<uint8_t>& buffer);

    int32_t SourceId = 0; // absolute index of the tree item, fixed when a run opens
};

class TSoundNode : public TSoundSourceNode {
public:
    TSoundNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // The project's audio format, copied in each time a run opens the node.
    TAudioFormat OutputFormat{};

    // Nothing to play without a parent to place it.
    Extended GetDuration() override;
    bool OpenForRender(int32_t startFrame) override;
    // Sound only: the bitmap is left alone and children are not rendered.
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;

protected:
    const char* ClassName() const override { return "TSoundNode"; }
    const TAudioFormat& GetTargetFormat() const override { return OutputFormat; }
};
