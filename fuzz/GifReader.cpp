// Fuzz target for the GIF reader: the bytes as a picture in memory, and as a file whose size is
// read without decoding it. A picture that loads must have the size the quick read gave.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MyGIFReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TGIFBitmap picture;
    bool loaded = true;
    try {
        picture.LoadFromMemory(data, size);
    } catch (const Exception&) {
        loaded = false;
    }
    // The same bytes as a file, kept in memory so that a run costs no disk.
    static const int fd = memfd_create("fuzz.gif", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    int32_t width = 0, height = 0;
    const bool sized = TGIFBitmap::ReadSize("/proc/self/fd/" + std::to_string(fd), width, height);
    if (loaded && !picture.Empty() &&
        (!sized || width != picture.Width() || height != picture.Height()))
        std::abort();
    return 0;
}
