// The built-in transitions: horizontal and vertical slides, dimming through black, opening
// eyes and dissolve, with the scan-line helpers they share. None keeps state between frames and
// none changes its two sources: every result is written into the add-on's Bitmap.
#pragma once

#include "MyCustomAddOn.h"

// target := max(0, source - amount) byte by byte, over the area both bitmaps share.
void Darken(int32_t amount, const TBitmap& source, TBitmap& target);
// Copies the rows Rows div 2 .. target height - Rows div 2 - 1 of source into target, as far as
// source reaches.
void CopyMiddleBand(int32_t rows, const TBitmap& source, TBitmap& target);
// target := min(255, Round(a * (1 - p)) + Round(b * p)) byte by byte, over the area all three
// bitmaps share.
void Blend(const TBitmap& a, const TBitmap& b, Extended p, TBitmap& target);

// The from clip leaves to the left while the to clip comes in from the right.
class TTransHorzSlide : public TCustomTransition {
public:
    using TCustomTransition::TCustomTransition;
    bool Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) override;
};

// The to clip comes in from below, pushing the from clip up.
class TTransVertSlide : public TCustomTransition {
public:
    using TCustomTransition::TCustomTransition;
    bool Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) override;
};

// Fades to black and back; at the middle the picture is fully black.
class TTransDimmed : public TCustomTransition {
public:
    using TCustomTransition::TCustomTransition;
    bool Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) override;
};

// A horizontal band of the picture closes to nothing and opens again on the next clip.
class TTransEyesOpen : public TCustomTransition {
public:
    using TCustomTransition::TCustomTransition;
    bool Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) override;
};

// Cross-fades two clips; a lone clip fades to or from black as in dimming.
class TTransDissolve : public TTransDimmed {
public:
    using TTransDimmed::TTransDimmed;
    bool Execute(TBitmap* fromBmp, TBitmap* toBmp, Extended progress) override;
};
