// Read-only byte sources with 64-bit positions that the file readers parse from: an opened file
// or a block of memory. Reads are positional and report how many bytes were actually there, so a
// parser can bound every length by the bytes present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IByteSource {
public:
    virtual ~IByteSource() = default;
    // Bytes in the source, fixed when it was opened.
    virtual int64_t Size() const = 0;
    // Copies up to count bytes from position pos into buffer and returns how many were copied;
    // fewer than count only at the end of the source or on a read error, 0 for a position
    // outside it.
    virtual size_t ReadAt(int64_t pos, void* buffer, size_t count) = 0;

    // True when all count bytes were read.
    bool ReadExact(int64_t pos, void* buffer, size_t count) {
        return ReadAt(pos, buffer, count) == count;
    }
};

// A file opened for reading; other programs may keep writing or reading it meanwhile. Reads may
// come from two threads (a movie's sound and its pictures decoded ahead); they take turns.
class TFileByteSource : public IByteSource {
public:
    // The opened file, or nothing when it cannot be opened or is not a regular file.
    static std::unique_ptr<TFileByteSource> Open(const std::string& fileName);
    ~TFileByteSource() override;
    TFileByteSource(const TFileByteSource&) = delete;
    TFileByteSource& operator=(const TFileByteSource&) = delete;

    int64_t Size() const override { return FileSize; }
    size_t ReadAt(int64_t pos, void* buffer, size_t count) override;

private:
    TFileByteSource(std::FILE* file, int64_t size) : File(file), FileSize(size) {}
    std::FILE* File;
    int64_t FileSize;
    std::mutex Lock; // over the stream and StreamPos
    // Where the stream stands after the last read; -1 when unknown. Saves a seek on sequential
    // reads, which keeps stdio's buffer useful.
    int64_t StreamPos = -1;
};

// A private copy of a block of bytes.
class TMemoryByteSource : public IByteSource {
public:
    explicit TMemoryByteSource(std::vector<uint8_t> bytes) : Bytes(std::move(bytes)) {}
    TMemoryByteSource(const void* data, size_t size);

    int64_t Size() const override { return static_cast<int64_t>(Bytes.size()); }
    size_t ReadAt(int64_t pos, void* buffer, size_t count) override;

private:
    std::vector<uint8_t> Bytes;
};
