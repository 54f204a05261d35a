#include "MyCommonParams.h"

#include <cstring>

uint32_t MakeFourCC(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    // Unsigned throughout, so codes with a high byte >= 0x80 (seen in damaged files) are values.
    return uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

std::string FourCCToText(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        if (c == 0) break;
        s += c;
    }
    return s;
}

int32_t DIBRowBytes(int32_t width, int32_t bitsPerPixel, int32_t alignBits) {
    int32_t bits = CheckedAdd(CheckedMul(width, bitsPerPixel), CheckedSub(alignBits, 1));
    return (bits / alignBits * alignBits) / 8;
}

void MakePcmFormat(TAudioFormat& format, uint32_t rate, uint16_t channels, uint16_t bits) {
    std::memset(&format, 0, sizeof(format));
    format.Wfx.wFormatTag = WAVE_FORMAT_PCM;
    format.Wfx.nChannels = channels;
    format.Wfx.nSamplesPerSec = rate;
    format.Wfx.wBitsPerSample = bits;
    format.Wfx.nBlockAlign = CheckedCast<uint16_t>(CheckedMul<uint32_t>(bits / 8, channels));
    format.Wfx.nAvgBytesPerSec = CheckedMul<uint32_t>(format.Wfx.nBlockAlign, rate);
    format.Wfx.cbSize = 18;
}

int32_t GetBlockAlign(const TAudioFormat& format) {
    return (format.Wfx.wBitsPerSample / 8) * format.Wfx.nChannels;
}

std::string CutShortString(const std::string& s) {
    if (s.size() <= 255) return s;
    size_t n = 255;
    // Back off over UTF-8 continuation bytes so no character is cut in half.
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}
