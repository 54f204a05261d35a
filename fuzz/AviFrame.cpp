// Fuzz target for frame decoding: open a movie from memory and draw its first frames, raw or
// compressed, through both decoding paths, forwards and backwards, at the movie's size and
// stretched.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "MyAVIReader.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Damaged frames are the point here; the decoders need not say so.
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    TAviReader reader(nullptr);
    if (!reader.Open(std::make_unique<TMemoryByteSource>(data, size), "fuzz.avi"))
        return 0;
    const int32_t frames = std::min<int32_t>(int32_t(reader.GetVideoChunks().size()), 6);
    const TBitmapInfoHeader& f = reader.GetVideoFormat();
    TBitmap same(std::clamp(f.biWidth, 1, 256),
                 std::clamp(f.biHeight < 0 ? -f.biHeight : f.biHeight, 1, 256));
    TBitmap small(7, 5);
    const bool saved = DecoderOptions[doUseMMIOReader];
    for (bool fileLayer : {true, false}) {
        DecoderOptions[doUseMMIOReader] = fileLayer;
        for (int32_t i = 0; i < frames; ++i)
            reader.GetFrame(i, (i & 1) ? small : same);
        for (int32_t i = frames; i >= -1; --i)
            reader.GetFrame(i, same);
    }
    DecoderOptions[doUseMMIOReader] = saved;
    return 0;
}
