#include "MyRiffIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "MyBase.h"
#include "MyByteOrder.h"

namespace {

constexpr int64_t kHeaderBytes = 8; // chunk id + 32-bit size
constexpr int64_t kMaxChunkSize = 0xFFFFFFFFLL;

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool HasFormType(uint32_t id) {
    return id == RIFF_ID_RIFF || id == RIFF_ID_LIST;
}

// A chunk id as printable text for messages; bytes outside ASCII show as '?'.
std::string IdText(uint32_t id) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = char((id >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

} // namespace

std::FILE* OpenRegularFile(const std::string& fileName, int64_t* size) {
    // Without O_NONBLOCK the open itself would block on a FIFO, before anything can be checked.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    if (size)
        *size = static_cast<int64_t>(st.st_size);
    return f;
}

TReadFileResult ReadRegularFile(const std::string& fileName, int64_t maxBytes,
                                std::vector<uint8_t>& out) {
    out.clear();
    int64_t size = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(OpenRegularFile(fileName, &size),
                                                            &std::fclose);
    if (!f)
        return TReadFileResult::NotAFile;
    if (size < 0 || size > maxBytes)
        return TReadFileResult::TooLarge;
    out.resize(static_cast<size_t>(size));
    if (size > 0 && std::fread(out.data(), 1, out.size(), f.get()) != out.size()) {
        out.clear();
        return TReadFileResult::ReadError;
    }
    return TReadFileResult::Ok;
}

bool TRiffRecord::SizeAt(int64_t end, uint32_t& size, std::string& why) const {
    const std::string name =
        "Record \"" + IdText(Id) + "\" at offset " + std::to_string(DataOffset - kHeaderBytes);
    size = 0;
    why.clear();
    if (DataOffset & 1)
        why = name + " starts on an odd offset";
    else if (end < DataOffset)
        why = name + " ends before its data";
    else if (end - DataOffset > kMaxChunkSize)
        why = name + " holds " + std::to_string(end - DataOffset) +
              " bytes, more than its size field can give";
    else if (Declared >= 0 && end - DataOffset != Declared)
        why = name + " holds " + std::to_string(end - DataOffset) + " bytes, its header says " +
              std::to_string(Declared);
    if (!why.empty())
        return false;
    size = uint32_t(end - DataOffset);
    return true;
}

TRiffFile::~TRiffFile() {
    Close();
}

bool TRiffFile::Open(const std::string& fileName, TRiffMode mode) {
    Close();
    File =
        mode == TRiffMode::Read ? OpenRegularFile(fileName) : std::fopen(fileName.c_str(), "w+b");
    if (!File)
        return false;
    Writable = mode == TRiffMode::Create;
    Error.clear();
    Size = 0;
    if (!Writable) {
        if (fseeko(File, 0, SEEK_END) != 0) {
            Close();
            return false;
        }
        Size = ftello(File);
        if (Size < 0 || fseeko(File, 0, SEEK_SET) != 0) {
            Close();
            return false;
        }
    }
    Pos = 0;
    FilePos = 0;
    LastOp = TLastOp::None;
    return true;
}

bool TRiffFile::OpenMemory(const void* data, size_t size) {
    Close();
    if (!data && size != 0)
        return false;
    Memory = static_cast<const uint8_t*>(data);
    InMemory = true;
    Writable = false;
    Size = CheckedCast<int64_t>(size);
    Pos = 0;
    return true;
}

bool TRiffFile::Close() {
    bool ok = true;
    if (File) {
        ok = std::fflush(File) == 0;
        ok = (std::fclose(File) == 0) && ok;
        File = nullptr;
    }
    Memory = nullptr;
    InMemory = false;
    Writable = false;
    Pos = Size = FilePos = 0;
    LastOp = TLastOp::None;
    return ok;
}

bool TRiffFile::SyncFilePosition(TLastOp next) {
    // The C library wants a seek whenever a stream switches between reading and writing.
    if (FilePos != Pos || (LastOp != TLastOp::None && LastOp != next)) {
        if (fseeko(File, Pos, SEEK_SET) != 0)
            return false;
        FilePos = Pos;
    }
    LastOp = next;
    return true;
}

int64_t TRiffFile::Read(void* buffer, int64_t count) {
    if (!IsOpen() || count < 0)
        return -1;
    if (count == 0 || Pos >= Size)
        return 0;
    count = std::min(count, Size - Pos);
    if (InMemory) {
        std::memcpy(buffer, Memory + Pos, size_t(count));
        Pos += count;
        return count;
    }
    if (!SyncFilePosition(TLastOp::Read))
        return -1;
    size_t got = std::fread(buffer, 1, size_t(count), File);
    FilePos += int64_t(got);
    Pos += int64_t(got);
    if (got < size_t(count) && std::ferror(File)) {
        std::clearerr(File);
        return -1;
    }
    return int64_t(got);
}

int64_t TRiffFile::Write(const void* buffer, int64_t count) {
    if (!File || !Writable || count < 0)
        return -1;
    if (count == 0)
        return 0;
    if (!SyncFilePosition(TLastOp::Write))
        return -1;
    size_t put = std::fwrite(buffer, 1, size_t(count), File);
    FilePos += int64_t(put);
    Pos += int64_t(put);
    Size = std::max(Size, Pos);
    if (put < size_t(count)) {
        std::clearerr(File);
        return -1;
    }
    return int64_t(put);
}

int64_t TRiffFile::Seek(int64_t offset, TRiffOrigin origin) {
    if (!IsOpen())
        return -1;
    int64_t base = origin == TRiffOrigin::Begin ? 0 : origin == TRiffOrigin::Current ? Pos : Size;
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
        return -1;
    // The C stream is moved lazily, on the next read or write.
    Pos = target;
    return Pos;
}

bool TRiffFile::Flush() {
    if (!File)
        return InMemory;
    return std::fflush(File) == 0;
}

bool TRiffFile::ReadHeader(int64_t at, int64_t limit, TRiffChunk& chunk) {
    uint8_t header[kHeaderBytes];
    if (Seek(at, TRiffOrigin::Begin) < 0 || Read(header, kHeaderBytes) != kHeaderBytes)
        return false;
    chunk = TRiffChunk{};
    chunk.Id = Le32(header);
    chunk.DeclaredSize = Le32(header + 4);
    chunk.DataOffset = at + kHeaderBytes;
    int64_t present = std::max<int64_t>(0, limit - chunk.DataOffset);
    if (int64_t(chunk.DeclaredSize) > present) {
        chunk.Size = uint32_t(present); // present < DeclaredSize <= 0xFFFFFFFF
        chunk.Truncated = true;
    } else {
        chunk.Size = chunk.DeclaredSize;
    }
    if (HasFormType(chunk.Id) && chunk.Size >= 4) {
        uint8_t form[4];
        if (Read(form, 4) != 4)
            return false;
        chunk.FormType = Le32(form);
    }
    return true;
}

bool TRiffFile::Descend(TRiffChunk& chunk, const TRiffChunk* parent, TRiffFind find) {
    if (!IsOpen())
        return false;
    int64_t limit = Size;
    int64_t at = Pos;
    if (parent) {
        limit = std::min(limit, parent->End());
        // Never start inside the parent's header or form type.
        int64_t first = parent->DataOffset + (HasFormType(parent->Id) ? 4 : 0);
        at = std::max(at, first);
    }
    // Every step moves on by at least a header, so the search ends within the bounds.
    while (at <= limit - kHeaderBytes) {
        TRiffChunk found;
        if (!ReadHeader(at, limit, found))
            return false;
        bool match = false;
        switch (find) {
        case TRiffFind::Next:
            match = true;
            break;
        case TRiffFind::Chunk:
            match = found.Id == chunk.Id;
            break;
        case TRiffFind::Riff:
            match = found.Id == RIFF_ID_RIFF && found.FormType == chunk.FormType;
            break;
        case TRiffFind::List:
            match = found.Id == RIFF_ID_LIST && found.FormType == chunk.FormType;
            break;
        }
        if (match) {
            chunk = found;
            int64_t dataPos = found.DataOffset + (HasFormType(found.Id) && found.Size >= 4 ? 4 : 0);
            return Seek(dataPos, TRiffOrigin::Begin) >= 0;
        }
        if (found.Truncated)
            return false; // nothing trustworthy follows a chunk that overruns
        at = found.DataOffset + int64_t(found.Size) + (found.Size & 1);
    }
    return false;
}

bool TRiffFile::Ascend(TRiffChunk& chunk) {
    if (!IsOpen())
        return false;
    if (chunk.Dirty) {
        const int64_t end = Pos;
        uint32_t size = 0;
        if (!Writable ||
            !TRiffRecord{chunk.Id, chunk.DataOffset, chunk.FixedSize}.SizeAt(end, size, Error))
            return false;
        uint8_t field[4];
        PutLe32(field, size);
        if (Seek(chunk.DataOffset - 4, TRiffOrigin::Begin) < 0 || Write(field, 4) != 4)
            return false;
        if (size & 1) {
            // RIFF chunks start on even offsets; the pad byte is not counted in the size.
            const uint8_t pad = 0;
            if (Seek(end, TRiffOrigin::Begin) < 0 || Write(&pad, 1) != 1)
                return false;
        }
        chunk.Size = chunk.DeclaredSize = size;
        chunk.Dirty = false;
        return Seek(end + (size & 1), TRiffOrigin::Begin) >= 0;
    }
    int64_t next = chunk.End() + (chunk.Size & 1);
    return Seek(std::min(next, std::max(Size, chunk.End())), TRiffOrigin::Begin) >= 0;
}

bool TRiffFile::CreateChunk(TRiffChunk& chunk, TRiffCreate kind, int64_t fixedSize) {
    if (!File || !Writable || fixedSize > kMaxChunkSize)
        return false;
    if (kind == TRiffCreate::Riff)
        chunk.Id = RIFF_ID_RIFF;
    if (kind == TRiffCreate::List)
        chunk.Id = RIFF_ID_LIST;
    uint8_t header[12];
    PutLe32(header, chunk.Id);                                    // chunk id
    PutLe32(header + 4, fixedSize < 0 ? 0 : uint32_t(fixedSize)); // size, checked by Ascend
    PutLe32(header + 8, chunk.FormType); // form or list type, only for RIFF and LIST
    int64_t headerBytes = kind == TRiffCreate::Chunk ? kHeaderBytes : kHeaderBytes + 4;
    int64_t at = Pos;
    if (Write(header, headerBytes) != headerBytes)
        return false;
    chunk.DataOffset = at + kHeaderBytes;
    chunk.Size = chunk.DeclaredSize = uint32_t(headerBytes - kHeaderBytes);
    chunk.Truncated = false;
    chunk.Dirty = true;
    chunk.FixedSize = fixedSize;
    return true;
}
