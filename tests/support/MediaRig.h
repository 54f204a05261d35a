// Helpers shared by the media tests: PCM formats, fields of written files read back, expected file
// images laid out from hex blocks, and the movie reader opened on bytes in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "MyAVIReader.h"
#include "TestData.h"
#include "WavFixtures.h"

using Bytes = std::vector<uint8_t>;

inline TAudioFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    TAudioFormat f;
    MakePcmFormat(f, rate, channels, bits);
    return f;
}

// A PCM stream format as movie files store it: no extra bytes behind the wave header.
inline TAudioFormat AviPcm(uint32_t rate, uint16_t channels, uint16_t bits) {
    TAudioFormat f = Pcm(rate, channels, bits);
    f.Wfx.cbSize = 0;
    return f;
}

inline uint32_t U32At(const Bytes& b, size_t at) {
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}

inline std::string TagAt(const Bytes& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}

// A file image of size zero bytes with hex blocks laid over it at their offsets.
inline Bytes Layout(size_t size,
                    std::initializer_list<std::pair<size_t, std::string_view>> blocks) {
    Bytes image(size);
    for (auto [at, hex] : blocks) {
        const Bytes block = HexBytes(hex);
        if (at + block.size() > size)
            throw std::invalid_argument("layout block past the end");
        std::copy(block.begin(), block.end(), image.begin() + long(at));
    }
    return image;
}

// The offset of the first byte where two images differ (a size difference counts at the shorter
// end), or -1 when they are equal: a failure names the place instead of printing both.
inline int64_t FirstDifference(const Bytes& got, const Bytes& want) {
    const size_t n = std::min(got.size(), want.size());
    for (size_t i = 0; i < n; ++i)
        if (got[i] != want[i])
            return int64_t(i);
    return got.size() == want.size() ? -1 : int64_t(n);
}

// Opens the reader on bytes in memory; on failure the reader's reason is the assertion text.
inline ::testing::AssertionResult Opens(TAviReader& r, const Bytes& bytes) {
    if (r.Open(std::make_unique<TMemoryByteSource>(bytes), "mem.avi"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << r.GetOpenError();
}
