// Bounded reader and writer of RIFF chunk files (WAV, AVI) over 64-bit file positions: descend
// into and ascend out of chunks, create chunks whose sizes are patched when they are closed, and
// keep every chunk inside its parent and inside the bytes actually present.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MyRiffFormat.h"

// Opens fileName for reading only when it is a regular file. A FIFO, a device or a folder is
// refused at once (opening a FIFO for reading would wait for a writer). size, when given, gets
// the file's length. Null when the file cannot be opened or is no regular file.
std::FILE* OpenRegularFile(const std::string& fileName, int64_t* size = nullptr);

// Why ReadRegularFile failed.
enum class TReadFileResult { Ok, NotAFile, TooLarge, ReadError };

// Reads the whole of a regular file of at most maxBytes into out. The size is checked before
// anything is allocated; out is empty unless the result is Ok.
TReadFileResult ReadRegularFile(const std::string& fileName, int64_t maxBytes,
                                std::vector<uint8_t>& out);

// Length bookkeeping of one RIFF record (chunk or list) while it is written, shared by every
// writer of RIFF files. The header's size is either declared up front or patched when the record
// closes; closing checks the bytes written against it, so a writer fault ends in a clear error
// instead of a file whose sizes lie.
struct TRiffRecord {
    uint32_t Id = 0;
    int64_t DataOffset = 0; // file position of the first data byte, just after the size field
    int64_t Declared = -1;  // the size already in the header; -1 when it is patched on closing

    // The size field for data that ends at end (pad byte excluded). False, with why naming the
    // record and where it starts, when the record starts on an odd offset, ends before its data,
    // differs from the declared size or outgrows the 32-bit field.
    bool SizeAt(int64_t end, uint32_t& size, std::string& why) const;
};

// One chunk as seen by the reader or writer.
struct TRiffChunk {
    uint32_t Id = 0;           // chunk id; the id to look for when descending with Find
    uint32_t Size = 0;         // data bytes (the form type of RIFF/LIST included), pad excluded
    uint32_t FormType = 0;     // form or list type of RIFF and LIST chunks
    int64_t DataOffset = 0;    // file position of the first data byte (just after the size field)
    uint32_t DeclaredSize = 0; // the size field as stored, before it was bounded
    bool Truncated = false;    // the stored size ran past its parent or the end of the file
    bool Dirty = false;        // created here: Ascend writes its size
    int64_t FixedSize = -1;    // created with its size up front: Ascend checks the data against it

    int64_t End() const { return DataOffset + Size; }
};

enum class TRiffMode { Read, Create };
enum class TRiffOrigin { Begin, Current, End };
// What Descend looks for from the current position: the next chunk whatever it is, the next
// chunk with the given Id, or the next RIFF or LIST chunk with the given FormType.
enum class TRiffFind { Next, Chunk, Riff, List };
enum class TRiffCreate { Chunk, Riff, List };

class TRiffFile {
public:
    TRiffFile() = default;
    ~TRiffFile();
    TRiffFile(const TRiffFile&) = delete;
    TRiffFile& operator=(const TRiffFile&) = delete;

    // Opens a file for reading, or creates (truncates) one for reading and writing.
    bool Open(const std::string& fileName, TRiffMode mode);
    // Reads from bytes held by the caller, which must outlive this object.
    bool OpenMemory(const void* data, size_t size);
    // Flushes and closes; false when buffered bytes could not be written.
    bool Close();
    bool IsOpen() const { return File != nullptr || InMemory; }

    // Bytes moved, or -1 on an I/O error. Reading at or past the end moves 0 bytes.
    int64_t Read(void* buffer, int64_t count);
    int64_t Write(const void* buffer, int64_t count);
    // The new position, or -1 when the result would be negative or the seek failed.
    int64_t Seek(int64_t offset, TRiffOrigin origin);
    int64_t Position() const { return Pos; }
    int64_t FileSize() const { return Size; }
    bool Flush();

    // Reads the header of the next chunk from the current position that matches Find and leaves
    // the position at its data (after the form type for RIFF/LIST). The search stays inside
    // Parent's data when given, else inside the file. A chunk whose stored size runs past those
    // bounds is returned with Size cut to the bytes present and Truncated set. False when no
    // chunk matches; the position is then unspecified.
    bool Descend(TRiffChunk& chunk, const TRiffChunk* parent = nullptr,
                 TRiffFind find = TRiffFind::Next);
    // Leaves a chunk: a created (dirty) chunk gets its size from the current position, which is
    // checked as TRiffRecord does and written into its header, and a zero pad byte when odd;
    // then the position moves past the chunk and its pad. False on an I/O error or a size that
    // fails the check (ErrorText says which record and why).
    bool Ascend(TRiffChunk& chunk);
    // Writes a chunk header at the current position (and chunk.FormType for RIFF and LIST) and
    // leaves the position at its data; Ascend completes it. The size field holds fixedSize
    // when it is known up front (the form type counts in it), else 0 until Ascend.
    bool CreateChunk(TRiffChunk& chunk, TRiffCreate kind = TRiffCreate::Chunk,
                     int64_t fixedSize = -1);
    // Why the last Ascend of a created chunk failed its size check; empty when none did.
    const std::string& ErrorText() const { return Error; }

private:
    enum class TLastOp { None, Read, Write };

    bool SyncFilePosition(TLastOp next);
    bool ReadHeader(int64_t at, int64_t limit, TRiffChunk& chunk);

    std::FILE* File = nullptr;
    const uint8_t* Memory = nullptr;
    bool InMemory = false;
    bool Writable = false;
    int64_t Pos = 0;
    int64_t Size = 0;
    // Where the C stream stands and what it did last: it needs a seek between reading and
    // writing, and whenever our position moved without it.
    int64_t FilePos = 0;
    TLastOp LastOp = TLastOp::None;
    std::string Error;
};
