// The built-in filters that change the frame pixel by pixel or region by region (brightness,
// light temperature, TV shop wall, zoom, sepia, mirror, negative) and the two that remember
// frames between calls (freeze and step back), with the JPEG store the step back keeps.
#pragma once

#include <deque>
#include <vector>

#include "MyCustomAddOn.h"
#include "MyPictureLoader.h"

// Scales every byte: level -1 is black, 0 unchanged, 1 doubles.
class TBrightnessFilter : public TCustomFilter {
public:
    explicit TBrightnessFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;
};

// Mixes the frame with the colour of the colour curve: level -1 leaves it, 1 paints the colour.
class TColorFilter : public TCustomFilter {
public:
    explicit TColorFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;
};

// A wall of n x n shrunken copies of the frame, n from 1 to 10 by the level.
class TPolyFilter : public TCustomFilter {
public:
    explicit TPolyFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;

private:
    TBitmap FTile; // one shrunken copy; never the shared preview picture
    std::vector<int32_t> FColumns;
};

// Scales the frame by level + 1 around the focus point, which keeps its place in the frame;
// what the scaled frame does not cover is black.
class TZoomFilter : public TCustomFilter {
public:
    explicit TZoomFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;

private:
    TBitmap FSource; // the frame as it came in; never the shared preview picture
    std::vector<int32_t> FColumns;
};

// Grey by the average of the three bytes, blue lowered by the sizing, scaled by the level.
class TSepiaFilter : public TCustomFilter {
public:
    explicit TSepiaFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;
};

// Level <= 0 mirrors the left half onto the right half, level > 0 the right onto the left.
class TMirrorFilter : public TCustomFilter {
public:
    explicit TMirrorFilter(TAddOnBridge& bridge);
    bool Apply(int32_t frame, int32_t frame2) override;
};

class TNegativeFilter : public TCustomFilter {
public:
    using TCustomFilter::TCustomFilter;
    bool Apply(int32_t frame, int32_t frame2) override;
};

// Holds the first frame of at least 33 x 33 pixels rendered after a reset and shows it on
// every later frame.
class TFreezeFilter : public TCustomFilter {
public:
    using TCustomFilter::TCustomFilter;

    TBitmap Frozen;
    // -1: nothing held yet; 0: Frozen is shown.
    int32_t FrozenIndex = 0;

    void SetFrameCount(int32_t count) override;
    bool Apply(int32_t frame, int32_t frame2) override;
};

// A frame compressed as a JPEG file image, and the size it decodes to.
struct TJPEGImage {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Data;
};

// Compresses the bitmap (quality 90, 4:2:0); an empty bitmap gives an empty image.
TJPEGImage BitmapToJpeg(const TBitmap& bitmap);

// Remembers the first third of the node's frames and, from the second third on, shows them
// backwards, then every frame delayed by the length of the first third. Frames are kept as
// JPEG images, and each one is let go once it can no longer be shown.
class TStepBackFilter : public TCustomFilter {
public:
    using TCustomFilter::TCustomFilter;

    // Place in the list of the frame shown last; -1 after a reset.
    int32_t ShowIndex = 0;
    // The frames since the last reset that can still be shown. The list's first Dropped places
    // were let go: the shown place only moves on, so nothing before the one shown last comes
    // back. A frame put in front of them goes with them.
    std::deque<TJPEGImage> Frames;
    size_t Dropped = 0;

    void SetFrameCount(int32_t count) override;
    bool Apply(int32_t frame, int32_t frame2) override;

private:
    void ShowKept(const TJPEGImage& shown);

    TPictureLoader FLoader;
    TBitmap FDecoded;
};
