// Fuzz target for the conversion of camera frames: a pixel format, a frame size and the bytes a
// driver handed over, converted to 24-bit B, G, R.
//   Input: format selector (1 byte: 0 YUYV, 1 NV12, 2 MJPEG, 3 BGR24), width (2), height (2),
//   then the frame bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "MyCaptureDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    static constexpr uint32_t Formats[4] = {CapPixYUYV, CapPixNV12, CapPixMJPEG, CapPixBGR24};
    uint16_t w, h;
    std::memcpy(&w, data + 1, 2);
    std::memcpy(&h, data + 3, 2);
    // Sizes stay small so a run is quick; the converter must refuse what does not fit.
    const TCapFormat f{w % 257, h % 257, Formats[data[0] % 4]};
    std::vector<uint8_t> out(size_t(f.Width) * size_t(f.Height) * 3 + 1);
    static TCapFrameConverter conv;
    conv.Convert(f, data + 5, size - 5, out.data(), f.Width * 3);
    return 0;
}
