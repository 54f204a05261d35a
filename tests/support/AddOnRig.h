// Shared pieces of the add-on tests: pictures whose pixels tell where they came from, a compact
// check of listed pixels, and one call that runs a filter on a copy of a frame.
#pragma once

#include <array>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "EffectRig.h"

namespace addonrig {

using namespace effectrig;

inline TBitmap Paint(int w, int h, const std::function<Px(int, int)>& fn) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(b, x, y, fn(x, y));
    return b;
}

// Blue = column, green = row, red = a tag: every pixel tells where it came from.
inline Px CodedPx(int x, int y, uint8_t tag = 7) {
    return {uint8_t(x), uint8_t(y), tag};
}

inline TBitmap Coded(int w, int h, uint8_t tag = 7) {
    return Paint(w, h, [tag](int x, int y) { return CodedPx(x, y, tag); });
}

inline Px Grey(int v) {
    return {uint8_t(v), uint8_t(v), uint8_t(v)};
}

// Pixels listed as "x,y=b,g,r x,y=b,g,r ...": each must have those blue, green and red bytes.
inline void ExpectPixels(const TBitmap& b, const std::string& rows) {
    std::istringstream in(rows);
    int x, y, c[3];
    char sep;
    while (in >> x >> sep >> y >> sep >> c[0] >> sep >> c[1] >> sep >> c[2])
        EXPECT_EQ(At(b, x, y), (Px{uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])}))
            << "at " << x << "," << y;
    EXPECT_TRUE(in.eof()) << "unreadable pixel list " << rows;
}

// The frame after one Apply of a T seeing the given snapshot.
template <class T> TBitmap Filtered(const TBitmap& frame, const TNodeInfo& info = {}) {
    Rig rig;
    rig.Info = info;
    T filter(rig.Bridge);
    TBitmap out = Copy(frame);
    filter.Bitmap = &out;
    EXPECT_TRUE(filter.Apply(0, 0));
    return out;
}

template <class T> TBitmap Filtered(const TBitmap& frame, Extended level) {
    return Filtered<T>(frame, TNodeInfo{.Level = level});
}

} // namespace addonrig
