#include "MyTimeRuler.h"

#include <cmath>

const int32_t FrameRulerSteps[13] = {1,   5,    10,   25,   50,    100,  250,
                                     500, 1000, 2500, 5000, 10000, 25000};
const Extended TimeRulerSteps[14] = {0.025L, 0.05L, 0.1L,  0.25L, 0.5L,   1.0L,   3.0L,
                                     5.0L,   15.0L, 30.0L, 60.0L, 120.0L, 360.0L, 720.0L};

int32_t FrameRulerStep(Extended pixelsPerFrame) {
    if (!(pixelsPerFrame > 0))
        return 0;
    const Extended want =
        static_cast<Extended>(MinLabelSpacing * LabelSpacingFactor) / pixelsPerFrame;
    if (want > 10000)
        return FrameRulerSteps[12];
    const int32_t v = Round(want);
    for (int32_t s : FrameRulerSteps)
        if (s >= v)
            return s;
    return FrameRulerSteps[12];
}

Extended TimeRulerStep(Extended pixelsPerSecond) {
    if (!(pixelsPerSecond > 0))
        return 0;
    const Extended v = TimeRulerLabelPixels / pixelsPerSecond;
    // Labels closer than a hundredth of a second apart would say nothing: no scale. Views
    // wider than the largest step get the largest.
    if (v <= 0.01L)
        return 0;
    for (Extended s : TimeRulerSteps)
        if (s >= v)
            return s;
    return TimeRulerSteps[13];
}

std::string TwoDigits(int64_t n) {
    std::string s = std::to_string(n);
    while (s.size() < 2)
        s.insert(s.begin(), '0');
    return s;
}

std::string TimeLabel(Extended t, bool hundredths) {
    constexpr int64_t DayMs = 86400000;
    int64_t ms = 0;
    if (std::isfinite(t)) {
        const Extended lim = 9e15L;
        ms = Round64(t * 1000 > lim ? lim : (t * 1000 < -lim ? -lim : t * 1000));
    }
    ms = ((ms % DayMs) + DayMs) % DayMs;
    std::string s = std::to_string(ms / 3600000) + ":" + TwoDigits(ms / 60000 % 60) + ":" +
                    TwoDigits(ms / 1000 % 60);
    if (hundredths) {
        // Appended, not joined, only to quiet g++ 12's false overlapping-copy warning at -O3.
        s += ':';
        s += TwoDigits(ms % 1000 / 10);
    }
    return s;
}

std::vector<TRulerTick> RulerTicks(const TTimeScale& scale, bool showSecond, int32_t width) {
    std::vector<TRulerTick> ticks;
    // However small the spacing, no more ticks than pixels are produced.
    const int32_t maxTicks = width + 8;
    const Extended scrollX = static_cast<Extended>(scale.ScrollX);
    if (!showSecond) {
        const int32_t step = FrameRulerStep(scale.PixelsPerFrame);
        if (step == 0)
            return ticks;
        // The first tick lies one step before the view.
        int64_t i = Round64(scrollX / (step * scale.PixelsPerFrame)) - 1;
        for (int32_t n = 0; n < maxTicks; ++n, ++i) {
            const Extended frame = static_cast<Extended>(i) * step;
            const int32_t x = scale.FrameToX(frame);
            if (x - scale.CursorMargin > width)
                break;
            ticks.push_back({x, std::to_string(i * step)});
        }
    } else {
        const Extended step = TimeRulerStep(scale.PixelsPerSecond());
        if (step == 0)
            return ticks;
        const Extended spacing = step * scale.PixelsPerSecond();
        int64_t i = Round64(scrollX / spacing) - 1;
        for (int32_t n = 0; n < maxTicks; ++n) {
            ++i;
            const Extended t = static_cast<Extended>(i) * step;
            const int32_t x = scale.TimeToX(t);
            if (x - scale.CursorMargin < 0)
                continue;
            if (x - scale.CursorMargin > width)
                break;
            ticks.push_back({x, TimeLabel(t, step < 1)});
        }
    }
    return ticks;
}
