// The time ruler of the track image: choice of the tick step from the zoom, the ticks that fall
// into the view and their labels, as frame numbers or as times. Painting is left to the track
// drawer; everything here is plain arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MyTimelineGeometry.h"

// Tick steps of the frame ruler (frames) and of the time ruler (seconds).
extern const int32_t FrameRulerSteps[13];
extern const Extended TimeRulerSteps[14];

// The ruler wants a label at least MinLabelSpacing x LabelSpacingFactor pixels apart (frames) or
// one per 60 pixels (times).
constexpr int32_t MinLabelSpacing = 10;
constexpr int32_t LabelSpacingFactor = 4;
constexpr Extended TimeRulerLabelPixels = 60;

// Frame step for the zoom; 0 when there is no scale.
int32_t FrameRulerStep(Extended pixelsPerFrame);
// Time step in seconds for the scale; 0 when there is no scale.
Extended TimeRulerStep(Extended pixelsPerSecond);

// Decimal text of n, padded on the left with "0" to two characters.
std::string TwoDigits(int64_t n);
// "h:mm:ss" of a time of day (hours modulo 24), with ":hh" hundredths when asked; taken from
// whole milliseconds.
std::string TimeLabel(Extended t, bool hundredths);

struct TRulerTick {
    int32_t X; // tick position in the image (the cursor margin included)
    std::string Label;
};

// The ticks of the frame or time ruler for an image width pixels wide. Empty when the ruler
// has no scale (the caller then greys the strip).
std::vector<TRulerTick> RulerTicks(const TTimeScale& scale, bool showSecond, int32_t width);
