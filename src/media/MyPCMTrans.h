// Uncompressed PCM sound: conversion of a block between sample formats (rate, channels, 8 or
// 16 bits) and the project's mixer, which sums every source of one frame with its own volume and
// balance into one block, saturating what overflows.
#pragma once

#include <cstdint>
#include <vector>

#include "MyCommonParams.h"

// One source's samples for one frame, in the mixing format. The record is move-only: once added
// to the mixer's queue the samples belong to the queue.
struct TAudioSourceInfo {
    int32_t SourceId = 0;        // absolute index of the node's tree item; carried, not mixed
    std::vector<uint8_t> Buffer; // the samples; its size is the record's size in bytes
    Extended Balance = 0;        // 0 centre, -1 all left, 1 all right
    Extended Volume = 0;         // 0 unchanged, -1 silent, 0.0625 unity, 1 sixteen-fold

    TAudioSourceInfo() = default;
    TAudioSourceInfo(int32_t sourceId, std::vector<uint8_t> buffer, Extended balance,
                     Extended volume)
        : SourceId(sourceId), Buffer(std::move(buffer)), Balance(balance), Volume(volume) {}
    TAudioSourceInfo(TAudioSourceInfo&&) = default;
    TAudioSourceInfo& operator=(TAudioSourceInfo&&) = default;
    TAudioSourceInfo(const TAudioSourceInfo&) = delete;
    TAudioSourceInfo& operator=(const TAudioSourceInfo&) = delete;
};

// The mix of one frame. The caller keeps it between frames, so its buffer's memory is reused.
struct TMixBuffer {
    TAudioFormat Format{};       // the mixing format; the caller sets it
    std::vector<uint8_t> Buffer; // the mixed samples; its size is the mix's size in bytes
    int32_t FirstLeft = 0;       // levels of the first mixed sample on the signed 8-bit scale
    int32_t FirstRight = 0;
    bool Clipped = false; // some value was saturated in this mix
};

// Sample layouts, chosen by block align (bits div 8 x channels) alone.
enum TPcmLayout : int {
    plUnsupported = -1,
    plMono8 = 0,
    plMono16 = 1,
    plStereo8 = 2,
    plStereo16 = 3,
};

// One sample frame as signed values (8-bit layouts -128..127); mono layouts use Left only.
struct TPcmSample {
    int32_t Left = 0;
    int32_t Right = 0;
};

// Per-channel gain factors of one source, worked out once per mix.
struct TPcmGain {
    Extended Left = 1;
    Extended Right = 1;
    bool Unity = true; // balance 0 and volume 0: samples pass untouched
};

// The byte value of silence in a PCM format: 0x80 for 8-bit (unsigned) samples, else 0.
uint8_t PcmSilenceByte(const TAudioFormat& format);

// Bytes of a nominal frame's sound block: a whole number of sample frames, Round(rate / fps) x
// block align. 0 when fps is not positive. The blocks of a run are cut by FrameSampleCount.
int32_t FrameAudioBytes(const TAudioFormat& format, Extended fps);

// The sound of a run is cut from one sample line: frame n's block starts at sample frame
// Round(n x rate / fps) of the time line, so where rate / fps is not whole the blocks differ by
// a sample frame and the sound never drifts from the pictures. 0 when fps is not positive.
int64_t FrameSampleStart(int64_t frame, uint32_t rate, Extended fps);
// Sample frames in frame n's block: FrameSampleStart(n + 1) - FrameSampleStart(n).
int32_t FrameSampleCount(int64_t frame, uint32_t rate, Extended fps);
// Where sample frame n of a line at rate from falls on a line at rate to: Round(n x to / from).
int64_t ScaleSamples(int64_t n, uint32_t from, uint32_t to);

class TPCMTrans {
public:
    TPCMTrans() = default;
    TPCMTrans(const TPCMTrans&) = delete;
    TPCMTrans& operator=(const TPCMTrans&) = delete;

    // ---- Mixing queue ----
    // Appends a source; the record's samples now belong to the queue. Always true.
    bool AddSource(TAudioSourceInfo&& info);
    bool HasSources() const { return !Sources.empty(); }
    void ClearSources();
    // An empty buffer with memory left over from earlier mixes, for the next source's samples.
    std::vector<uint8_t> TakeBuffer();

    // Mixes and empties the queue into Out (format set by the caller). Every source is cut or
    // padded with silence to the first source's size. False on an empty queue or an unsupported
    // mixing format (the queue is then kept).
    bool MixSources(TMixBuffer& out);
    // Whether a value was clipped since the last mix began.
    bool GetClipped() const { return Clipped; }

    // ---- Conversion ----
    // Converts Buffer from SrcFormat to DstFormat in place. True and unchanged when the formats
    // match; false, Buffer untouched, when either format is not one of the four layouts.
    bool ConvertBuffer(const TAudioFormat& srcFormat, const TAudioFormat& dstFormat,
                       std::vector<uint8_t>& buffer);

    // ---- Continuous conversion ----
    // A source cut into blocks (one per frame) converts as one signal: the converter keeps its
    // place on both sample lines and the last source frames, so a block's edge is not heard and
    // the pitch does not wobble. Other formats than the last call's start a new stream.
    void ResetStream() { Stream = {}; }
    // Source frames the next ConvertStream consumes to make `frames` output frames; -1 when a
    // format is unsupported.
    int64_t StreamSourceFrames(const TAudioFormat& src, const TAudioFormat& dst,
                               int64_t frames) const;
    // Converts the next block: Buffer holds the frames StreamSourceFrames asked for (fewer where
    // the source has ended) and becomes exactly `frames` frames of Dst, silence past the end of
    // the source. False, Buffer untouched, on an unsupported format.
    bool ConvertStream(const TAudioFormat& src, const TAudioFormat& dst,
                       std::vector<uint8_t>& buffer, int64_t frames);

    // ---- Sample operations ----
    static int GetLayout(const TAudioFormat& format);
    // Channels, rate and bits equal.
    static bool SameFormat(const TAudioFormat& a, const TAudioFormat& b);
    // Sample frames ConvertSamples makes of n source frames; -1 when a format is unsupported.
    // Whole rate factors repeat or drop samples; other rate ratios resample to n x dst / src.
    static int64_t ConvertedCount(const TAudioFormat& src, const TAudioFormat& dst, int64_t n);
    // Converts n frames of Src; Dst must hold ConvertedCount frames. n becomes that count.
    static bool ConvertSamples(const TAudioFormat& src, const TAudioFormat& dst,
                               const uint8_t* srcBuffer, uint8_t* dstBuffer, int64_t& n);
    // Sample i of a buffer in layout SrcLayout, converted to DstLayout (signed values).
    static TPcmSample ReadSample(int srcLayout, int dstLayout, const uint8_t* buffer, int64_t i);
    // Stores a sample at index i of a buffer in the given layout.
    static void WriteSample(int layout, uint8_t* buffer, int64_t i, const TPcmSample& sample);
    static TPcmGain GainFactors(int layout, Extended balance, Extended volume);
    // Applies the factors to one sample, rounding and clipping each channel.
    void ApplyGain(int layout, const TPcmGain& gain, TPcmSample& sample);
    int32_t Clip8(int64_t value);
    int32_t Clip16(int64_t value);

private:
    template <int L> void Accumulate(const TAudioSourceInfo& source, int64_t n);
    template <int L> void WriteMix(uint8_t* out, int64_t n);

    // Where a continuous conversion stands: frames consumed and made, and the last source frames
    // (up to two of the largest layout), which the next block's first outputs lie between.
    struct TStreamState {
        TAudioFormat Src{};
        TAudioFormat Dst{};
        bool Open = false;
        int64_t In = 0;
        int64_t Out = 0;
        int64_t HeldFrames = 0;
        uint8_t Held[8] = {};
    };
    bool StreamContinues(const TAudioFormat& src, const TAudioFormat& dst) const;

    std::vector<TAudioSourceInfo> Sources;
    bool Clipped = false;
    TStreamState Stream;
    // Kept between calls so that neither converting nor mixing allocates once warmed up.
    std::vector<uint8_t> Scratch;
    std::vector<int64_t> Sums;
    std::vector<std::vector<uint8_t>> Spare;
};
