// A bitmap that loads the first frame of a GIF picture (through Qt's image reader), for the
// bitmap clip's ".gif" pictures. Transparent pixels come out black.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "MyExceptions.h"
#include "MyGraphics.h"

class TGIFBitmap : public TBitmap {
public:
    // Replaces size and pixels with the file's first frame. A file that cannot be opened or
    // decoded raises EReadError naming the file; the bitmap is then left as it was.
    void LoadFromFile(const std::string& fileName);
    void LoadFromMemory(const uint8_t* data, size_t size);
    // Width and height of the file's picture without decoding it; false when it is no GIF.
    static bool ReadSize(const std::string& fileName, int32_t& width, int32_t& height);
};
