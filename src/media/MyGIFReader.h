// A bitmap that loads the first frame of a GIF picture (through Qt's image reader), for the
// bitmap clip's ".gif" pictures. The picture is drawn onto the bitmap's own pixels, so
// transparent ones show what the bitmap held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "MyExceptions.h"
#include "MyGraphics.h"

class TGIFBitmap : public TBitmap {
public:
    // Takes the size of the file's first frame and draws the frame onto the pixels kept. A file
    // that cannot be opened or decoded raises EReadError naming the file; the bitmap is then left
    // as it was.
    void LoadFromFile(const std::string& fileName);
    void LoadFromMemory(const uint8_t* data, size_t size);
    // Width and height of the picture LoadFromFile gives for the file (its logical screen, which
    // a quick look at the first image may not tell); false when it is no GIF.
    static bool ReadSize(const std::string& fileName, int32_t& width, int32_t& height);
};
