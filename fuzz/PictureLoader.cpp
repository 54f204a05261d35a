// Fuzz target for the picture loaders: the bytes are read as the kind their first byte suggests
// ('B' a BMP, 'G' a GIF, anything else a JPEG), then the picture is loaded at full size and
// fitted to a small frame, and stretched onto it as the bitmap clip does.
#include <cstddef>
#include <cstdint>

#include "MyPictureLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPictureKind kind = TPictureKind::Jpeg;
    if (size > 0 && data[0] == 'B')
        kind = TPictureKind::Bmp;
    else if (size > 0 && data[0] == 'G')
        kind = TPictureKind::Gif;
    static TPictureLoader loader;
    TBitmap frame(32, 24);
    for (int fit : {0, 1}) {
        TBitmap picture;
        try {
            loader.LoadFromMemory(data, size, kind, picture, fit * 32, fit * 24, "fuzz");
        } catch (const Exception&) {
            continue;
        }
        frame.Canvas().StretchDraw(Rect(0, 0, 32, 24), picture);
    }
    return 0;
}
