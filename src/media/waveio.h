// Reading uncompressed PCM WAV files for the sound and music nodes: the header is checked, and
// samples are read by position in sample frames, never past the data chunk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MyCommonParams.h"
#include "MyRiffIO.h"

// A PCM WAV file open on a RIFF file handle that the caller owns. Every structural or I/O error
// raises EReadError with the file name and, where known, the offset of the fault.
class TWaveStream {
public:
    // Reads and checks the header on Handle and leaves the position at the first sample.
    // FileName is only used in messages.
    TWaveStream(TRiffFile& handle, const std::string& fileName);
    virtual ~TWaveStream() = default;
    TWaveStream(const TWaveStream&) = delete;
    TWaveStream& operator=(const TWaveStream&) = delete;

    // Reads up to Count frames at the position; returns the frames read (0 at the end of data).
    virtual int64_t Read(void* buffer, int64_t count);
    // Moves to Offset frames from the data start (origin 0), the position (1) or the end of the
    // data (2); returns the new position in frames.
    virtual int64_t Seek(int64_t offset, int origin);
    // Reads Count frames at Position; 0 when Position is at or past the length.
    virtual int64_t ReadAt(int64_t position, void* buffer, int64_t count);

    int64_t GetPosition() { return Seek(0, 1); }
    void SetPosition(int64_t position) { Seek(position, 0); }

    // The stream's format: its 18-byte header (extra bytes of PCM files are not kept).
    const TWaveFormatEx& GetFormat() const { return Format; }
    // The format as an audio format block.
    TAudioFormat GetAudioFormat() const;
    int32_t GetBlockAlign() const { return Format.nBlockAlign; }
    // Sample frames in the data chunk.
    int64_t GetLength() const { return Length; }
    int64_t GetDataStart() const { return DataStart; }
    const std::string& GetFileName() const { return FileName; }

protected:
    [[noreturn]] void Fail(const std::string& message, int64_t offset = -1) const;

    TWaveFormatEx Format{};
    int64_t DataStart = 0;
    int64_t DataBytes = 0; // data chunk bytes present, whole frames only
    int64_t Length = 0;
    TRiffFile& Handle;
    TRiffChunk DataChunk;
    TRiffChunk RiffChunk;
    std::string FileName;
};

// Opens the file of a TFileWaveStream before its TWaveStream part reads from it.
class TWaveFileHolder {
protected:
    explicit TWaveFileHolder(const std::string& fileName);
    TRiffFile OwnedFile;
};

// A WAV stream on a file it opens itself and closes when destroyed.
class TFileWaveStream : private TWaveFileHolder, public TWaveStream {
public:
    explicit TFileWaveStream(const std::string& fileName);
};
