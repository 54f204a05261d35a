// Numbers read from bytes stored little-endian, as RIFF, AVI, WAV and BMP files hold them; the
// bytes need no alignment.
#pragma once

#include <cstdint>

inline uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

inline uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
