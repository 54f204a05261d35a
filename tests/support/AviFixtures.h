// Test fixture maker for AVI 1.0 files, written byte by byte so a test controls every header,
// chunk and index entry (and can damage them). Records where each part landed so tests can patch
// sizes and ids afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MyCommonParams.h"

uint32_t FourCC(const char (&s)[5]);

struct TAviStreamSpec {
    uint32_t Type = FourCC("vids");
    uint32_t Handler = FourCC("DIB ");
    uint32_t Scale = 1;
    uint32_t Rate = 15;
    uint32_t SampleSize = 0;
    // Bytes written for "strh": the 48 header bytes, then the frame rectangle, then zeros.
    // Below 48 writes a damaged header.
    uint32_t StrhSize = 56;
    std::vector<uint8_t> Format; // "strf" data
};

// One chunk of the "movi" list, named by stream number and kind ("00dc", "01wb").
struct TAviChunkSpec {
    int Stream = 0;
    std::string Kind = "db";
    std::vector<uint8_t> Data; // empty: a dropped frame
    bool Key = true;
    bool Indexed = true;
};

// A raw "idx1" entry added behind the entries of the chunks.
struct TAviIndexEntry {
    uint32_t Id = 0;
    uint32_t Flags = 0;
    uint32_t Offset = 0;
    uint32_t Size = 0;
};

enum class TAviIndexMode { Relative, Absolute, None };

// An AVI 2.0 segment behind the first RIFF form: "RIFF" "AVIX" holding a "movi" list with the
// chunks and, when StandardIndex, an "ix##" index of the first video stream's chunks at its end
// (non-key chunks marked by the top bit of their size).
struct TAviSegmentSpec {
    std::vector<TAviChunkSpec> Chunks;
    bool StandardIndex = true;
};

struct TAviSpec {
    uint32_t MicroSecPerFrame = 66666;
    int64_t TotalFrames = -1; // -1: the number of chunks of the first video stream
    uint32_t Width = 0;       // 0: taken from the first video stream's format
    uint32_t Height = 0;
    std::vector<TAviStreamSpec> Streams;
    std::vector<TAviChunkSpec> Chunks;
    TAviIndexMode Index = TAviIndexMode::Relative;
    std::vector<TAviIndexEntry> ExtraEntries;
    bool JunkBeforeMovi = false; // a "JUNK" chunk and a "LIST" "INFO" before the movie data
    bool JunkBeforeIdx1 = false; // a "JUNK" chunk between "movi" and "idx1"
    std::vector<TAviSegmentSpec> Segments; // written behind the first RIFF form, in order
};

// The written file and where its parts start (positions of the ids).
struct TAviImage {
    std::vector<uint8_t> Bytes;
    size_t HdrlPos = 0;
    size_t AvihPos = 0;
    std::vector<size_t> StrlPos, StrhPos, StrfPos;
    size_t MoviListPos = 0;
    size_t MoviPos = 0; // the four characters "movi"
    std::vector<size_t> ChunkPos;
    size_t Idx1Pos = 0; // 0 when no index was written
    std::vector<size_t> EntryPos;
    std::vector<size_t> SegmentPos;                   // "RIFF" of each segment
    std::vector<std::vector<size_t>> SegmentChunkPos; // the chunks of each segment

    uint32_t GetU32(size_t pos) const;
    void PutU32(size_t pos, uint32_t value);
    void PutId(size_t pos, const char (&id)[5]);
    void Save(const std::string& fileName) const;
};

TAviImage BuildAvi(const TAviSpec& spec);

// A video stream with a BITMAPINFOHEADER format and the given bytes behind it (palette etc.).
TAviStreamSpec MakeVideoStream(int32_t width, int32_t height, uint16_t bitCount,
                               uint32_t handler = FourCC("DIB "), uint32_t compression = BI_RGB,
                               const std::vector<uint8_t>& tail = {});
// An audio stream whose "strf" is the first formatSize bytes of format.
TAviStreamSpec MakeAudioStream(const TAudioFormat& format, uint32_t formatSize = 18);
// Bottom-up 24-bit rows padded to 4 bytes, filled with a pattern that depends on seed.
std::vector<uint8_t> MakeDib24Frame(int32_t width, int32_t height, uint8_t seed);
// Recognisable bytes for chunk number seed.
std::vector<uint8_t> MakePattern(size_t size, uint32_t seed);

// A raw 24-bit movie: one video stream, frames chunks "00db".
TAviSpec MakeDibMovie(int32_t width, int32_t height, int frames, uint32_t microSecPerFrame = 66666);
// Adds an audio stream and its chunks: chunk i (sizes[i] bytes of pattern) is written in front
// of video frame beforeFrame[i] (at the end when that is past the last frame).
void AddAudioTrack(TAviSpec& spec, const TAudioFormat& format, const std::vector<uint32_t>& sizes,
                   const std::vector<int>& beforeFrame, uint32_t formatSize = 18);
