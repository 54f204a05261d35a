// Fuzz target for the AVI reader: open a movie from memory, walk its indexes and read the data
// of every video and audio chunk they list.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "MyAVIReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TAviReader reader(nullptr);
    if (!reader.Open(std::make_unique<TMemoryByteSource>(data, size), "fuzz.avi"))
        return 0;
    std::vector<uint8_t> buffer;
    const auto frames = static_cast<int32_t>(reader.GetVideoChunks().size());
    for (int32_t i = 0; i < frames; ++i)
        reader.ReadVideoChunk(i, buffer, 4);
    const auto chunks = static_cast<int32_t>(reader.GetAudioChunks().size());
    for (int32_t i = 0; i < chunks; ++i)
        reader.ReadAudioChunk(i, buffer);
    // The accessors must hold up on whatever header was accepted.
    volatile Extended sink = reader.GetDuration() + reader.GetFrameRate();
    (void)sink;
    return 0;
}
