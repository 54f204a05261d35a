// Frames for the benchmarks: pseudo-random pixels, the same for a given seed on every run.
#pragma once

#include <cstdint>

#include "MyGraphics.h"

inline TBitmap Noise(int w, int h, uint32_t seed = 1) {
    TBitmap bmp(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int i = 0; i < w * 3; ++i) {
            seed = seed * 1664525u + 1013904223u;
            row[i] = static_cast<uint8_t>(seed >> 24);
        }
    }
    return bmp;
}
