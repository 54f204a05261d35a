#include "MyByteSource.h"

#include "MyRiffIO.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<TFileByteSource> TFileByteSource::Open(const std::string& fileName) {
    // Only a regular file has a meaningful size; a FIFO or a device is refused without waiting.
    int64_t size = 0;
    std::FILE* f = OpenRegularFile(fileName, &size);
    if (!f)
        return nullptr;
    return std::unique_ptr<TFileByteSource>(new TFileByteSource(f, size));
}

TFileByteSource::~TFileByteSource() {
    std::fclose(File);
}

size_t TFileByteSource::ReadAt(int64_t pos, void* buffer, size_t count) {
    if (pos < 0 || pos >= FileSize || count == 0)
        return 0;
    std::lock_guard<std::mutex> hold(Lock);
    if (pos != StreamPos) {
        if (fseeko(File, static_cast<off_t>(pos), SEEK_SET) != 0) {
            StreamPos = -1;
            return 0;
        }
    }
    size_t n = std::fread(buffer, 1, count, File);
    if (n < count) {
        // The file may have shrunk or failed; let the next read seek afresh.
        std::clearerr(File);
        StreamPos = -1;
    } else {
        StreamPos = pos + static_cast<int64_t>(n);
    }
    return n;
}

TMemoryByteSource::TMemoryByteSource(const void* data, size_t size) {
    if (size > 0) {
        const auto* p = static_cast<const uint8_t*>(data);
        Bytes.assign(p, p + size);
    }
}

size_t TMemoryByteSource::ReadAt(int64_t pos, void* buffer, size_t count) {
    if (pos < 0 || static_cast<uint64_t>(pos) >= Bytes.size() || count == 0)
        return 0;
    size_t n = std::min(count, Bytes.size() - static_cast<size_t>(pos));
    std::memcpy(buffer, Bytes.data() + pos, n);
    return n;
}
