// Helpers shared by the media tests: PCM formats, fields of written files read back, expected file
// images laid out from hex blocks, and the movie reader opened on bytes in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
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

// An expected file image kept under tests/data/: a "size N" line, then lines of an offset and the
// hex bytes found there; every byte not listed is zero, and "#" starts a comment line.
inline Bytes LayoutData(const std::string& name) {
    const Bytes text = ReadTestData(name);
    std::istringstream in(std::string(text.begin(), text.end()));
    Bytes image;
    for (std::string line, first, rest; std::getline(in, line);) {
        std::istringstream fields(line);
        if (line.empty() || line[0] == '#' || !(fields >> first) || !std::getline(fields, rest))
            continue;
        if (first == "size") {
            image.assign(std::stoul(rest), 0);
            continue;
        }
        const size_t at = std::stoul(first);
        const Bytes block = HexBytes(rest);
        if (at + block.size() > image.size())
            throw std::invalid_argument(name + ": bytes past the end at " + first);
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
