// Fuzz target for the sound delivery of the AVI reader: open a movie from memory, prepare its
// track for the project's format and read the sound of every frame, from the start and again
// from the middle, so PCM reads, decoders and the decode-ahead buffer all see the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "MyAVIReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TAviReader reader(nullptr);
    if (!reader.Open(std::make_unique<TMemoryByteSource>(data, size), "fuzz.avi"))
        return 0;
    TAudioFormat wanted;
    MakePcmFormat(wanted, 22050, 2, 16);
    constexpr Extended fps = 15;
    const auto frames = static_cast<int32_t>(reader.GetVideoChunks().size());
    std::vector<uint8_t> buffer;
    for (int32_t start : {0, frames / 2}) {
        reader.PrepareAudio(wanted, fps);
        for (int32_t f = start; f < frames; ++f)
            reader.ReadAudio(f, buffer, f / fps);
        reader.UnprepareAudio();
    }
    return 0;
}
