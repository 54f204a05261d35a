// Test stand-ins for an effect node: a bridge whose snapshot the test sets field by field and
// which logs the curves an effect registers, plus small frame makers and pixel readers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "MyCustomAddOn.h"

namespace effectrig {

using Px = std::array<uint8_t, 3>; // B, G, R

inline Px At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}

inline void Put(TBitmap& b, int x, int y, Px c) {
    uint8_t* p = b.ScanLine(y) + x * 3;
    p[0] = c[0];
    p[1] = c[1];
    p[2] = c[2];
}

inline TBitmap Solid(int w, int h, Px c) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(b, x, y, c);
    return b;
}

// Bytes from a fixed linear congruential sequence, the same on every run.
inline TBitmap Noise(int w, int h, uint32_t seed) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < w * 3; ++i) {
            seed = seed * 1664525u + 1013904223u;
            row[i] = static_cast<uint8_t>(seed >> 24);
        }
    }
    return b;
}

inline TBitmap Copy(const TBitmap& b) {
    TBitmap c;
    c.Assign(b);
    return c;
}

// Same size and the same pixel bytes (row padding is not compared).
inline bool Same(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Width() * 3; ++i)
            if (a.ScanLine(y)[i] != b.ScanLine(y)[i])
                return false;
    return true;
}

// The node side of an effect. Set Info (and HasInfo) before a call; Registered lists the curves
// the effect enabled, in order, as (kind, caption).
struct Rig {
    TAddOnBridge Bridge;
    TNodeInfo Info;
    bool HasInfo = true;
    std::vector<std::pair<int, std::string>> Registered;

    Rig() {
        Bridge.GetNodeInfo = [this](TNodeInfo& info) {
            if (!HasInfo)
                return false;
            info = Info;
            return true;
        };
        Bridge.RegisterTimeEffect = [this](uint8_t kind, const std::string& caption) {
            Registered.emplace_back(kind, caption);
            return static_cast<TTimeData*>(nullptr);
        };
    }
};

} // namespace effectrig
