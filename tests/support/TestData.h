// Compact expected data for tests: byte blocks written as hex strings, and small files kept in
// tests/data/ beside the tests that read them.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// "52494646 1a00" -> {0x52, 0x49, 0x46, 0x46, 0x1a, 0x00}; spaces and line breaks are ignored.
inline std::vector<uint8_t> HexBytes(std::string_view hex) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : hex) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) {
            if (c == ' ' || c == '\n' || c == '\t')
                continue;
            throw std::invalid_argument("not a hex digit in test data");
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("odd number of hex digits in test data");
    return out;
}

// Appends each value as a little-endian field of the given number of bytes.
inline void PutLE(std::vector<uint8_t>& out, int bytes, std::initializer_list<uint32_t> values) {
    for (uint32_t v : values)
        for (int i = 0; i < bytes; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
}

// Full path of a file under tests/data/.
inline std::string TestDataPath(const std::string& name) {
    return std::string(TARVOLIN_TEST_DATA) + "/" + name;
}

// The bytes of a file under tests/data/; throws when it is missing.
inline std::vector<uint8_t> ReadTestData(const std::string& name) {
    std::ifstream in(TestDataPath(name), std::ios::binary);
    if (!in)
        throw std::runtime_error("missing test data " + name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
