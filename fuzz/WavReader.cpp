// Fuzz target for the WAV reader: opens a stream on the input bytes and reads every sample,
// in uneven pieces and by position, as the sound nodes do.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "MyExceptions.h"
#include "waveio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TRiffFile file;
    if (!file.OpenMemory(data, size))
        return 0;
    try {
        TWaveStream ws(file, "fuzz.wav");
        std::vector<uint8_t> buffer(size_t(ws.GetBlockAlign()) * 97);
        int64_t total = 0;
        for (int64_t got; (got = ws.Read(buffer.data(), 97)) > 0;)
            total += got;
        if (total != ws.GetLength())
            __builtin_trap();
        if (ws.GetLength() > 0)
            ws.ReadAt(ws.GetLength() / 2, buffer.data(), 97);
        ws.ReadAt(ws.GetLength(), buffer.data(), 1);
    } catch (const Exception&) {
    }
    return 0;
}
