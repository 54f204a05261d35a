#include "MyTimelineGeometry.h"

#include <algorithm>
#include <cmath>

namespace {

// Image coordinates are kept well inside the 32-bit range, whatever time is asked for.
constexpr int64_t CoordLimit = int64_t(1) << 30;

int32_t ClampCoord(int64_t v) {
    return static_cast<int32_t>(std::clamp(v, -CoordLimit, CoordLimit));
}

int64_t RoundClamped(Extended v) {
    if (std::isnan(v))
        return 0;
    const Extended lim = static_cast<Extended>(CoordLimit) * 4;
    return Round64(std::clamp(v, -lim, lim));
}

} // namespace

// ---- TTimeScale ---------------------------------------------------------------------------

int32_t TTimeScale::PixelToX(Extended p) const {
    return ClampCoord(RoundClamped(p) + CursorMargin - ScrollX);
}

Extended TTimeScale::XToTime(int32_t x) const {
    const Extended pps = PixelsPerSecond();
    if (pps == 0)
        return 0;
    return (static_cast<Extended>(x) - CursorMargin + static_cast<Extended>(ScrollX)) / pps;
}

int32_t TTimeScale::TimeToFrame(Extended t) const {
    const Extended f = Fps * t;
    if (!(f > 0))
        return 0;
    if (f >= 2147483647.0L)
        return 2147483647;
    return Round(f);
}

Extended TTimeScale::SnapToFrame(Extended t) const {
    if (Fps == 0)
        return t;
    const Extended s = static_cast<Extended>(TimeToFrame(t)) / Fps;
    return s < 0 ? 0 : s;
}

int32_t TTimeScale::BandInset() const {
    return static_cast<int32_t>(std::max<int64_t>(0, CursorMargin - ScrollX));
}

// ---- TTimelineModel -----------------------------------------------------------------------

int64_t TTimelineModel::GetMaxPixels() const {
    const Extended p = static_cast<Extended>(MaxFrames) * PixelsPerFrame;
    if (!(p > 0))
        return 0;
    return Round64(std::min<Extended>(p, 1e15L));
}

int64_t TTimelineModel::GetScrollRange() const {
    // The cursor button at the strip's last pixel still fits into the view.
    const int64_t range = GetMaxPixels() + CursorButtonWidth - ImageWidth;
    return range > 0 ? range : 0;
}

TTimeScale TTimelineModel::Scale() const {
    TTimeScale s;
    s.Fps = GetFps();
    s.PixelsPerFrame = PixelsPerFrame;
    s.ScrollX = ScrollX;
    s.CursorMargin = CursorMargin;
    return s;
}

int32_t TTimelineModel::GetFramePos() const {
    if (PixelsPerFrame == 0)
        return 0;
    return Round(CursorPixels / PixelsPerFrame);
}

void TTimelineModel::SetFramePos(int32_t frame) {
    int64_t p = Round64(static_cast<Extended>(frame) * PixelsPerFrame);
    if (p < 0)
        p = 0;
    SetPosPixels(static_cast<Extended>(p));
}

void TTimelineModel::SetPosPixels(Extended p) {
    if (PixelsPerFrame == 0)
        return;
    const Extended maxPixels = static_cast<Extended>(GetMaxPixels());
    if (p > maxPixels)
        p = maxPixels;
    // A double-click left of the strip's start places the cursor on frame 0.
    if (!(p > 0))
        p = 0;
    CursorPixels = static_cast<Extended>(Round64(p / PixelsPerFrame)) * PixelsPerFrame;
    CursorLeft = ClampCoord(Round64(CursorPixels - static_cast<Extended>(ScrollX)));
    DoMoved();
    if (Position) {
        const int32_t frame = GetFramePos();
        const Extended fps = GetFps();
        Position(frame, fps > 0 ? frame / fps : 0);
    }
}

bool TTimelineModel::SetZoomLevel(Extended z) {
    if (!std::isfinite(z) || !(z > 0)) {
        DoBeep();
        return false;
    }
    if (z > ZoomLevel) {
        if (z > MaxZoomLevel || GetFps() * (z * 4) * GetDuration() > MaxStripPixels) {
            DoBeep();
            return false;
        }
    } else if (z < ZoomLevel) {
        if (ThumbPxWidth * 2 >= ScrollTrackWidth) {
            DoBeep();
            return false;
        }
    } else {
        return false;
    }
    const Extended oldZoom = ZoomLevel;
    const int32_t frame = GetFramePos();
    ZoomLevel = z;
    PixelsPerFrame = z * 4;
    if (!UpdateLayout()) {
        ZoomLevel = oldZoom;
        PixelsPerFrame = oldZoom * 4;
        // The failed layout left the thumb sized for the refused zoom; size it for the old one.
        UpdateLayout();
    }
    SetFramePos(frame);
    LocateCursor(2);
    DoRepaint();
    return ZoomLevel == z;
}

void TTimelineModel::ZoomNormal() {
    const Extended w = GetFps() * 4 * GetDuration();
    if (w > 0)
        SetZoomLevel(std::min<Extended>(1, MaxStripPixels / w / 8));
}

bool TTimelineModel::UpdateLayout() {
    const int64_t maxPixels = GetMaxPixels();
    if (maxPixels == 0)
        return false;
    bool result = true;
    const Extended track = ScrollTrackWidth;
    ThumbWidth = static_cast<Extended>(ImageWidth) / static_cast<Extended>(maxPixels) * track;
    if (ThumbWidth < 16)
        ThumbWidth = 16;
    if (ThumbWidth > track) {
        ThumbWidth = track;
        result = false;
    }
    if (!(ThumbLeft + ThumbWidth < track))
        SetScrollPos(Round64(track - ThumbWidth));
    // The thumb keeps its exact place for the strip's place: rounding it to a whole pixel here
    // would move the strip at each relayout.
    ThumbPxWidth = Round(ThumbWidth);
    if (ThumbWidth == track)
        SetScrollPos(0);
    else
        SetScrollPos(ThumbLeftFor(static_cast<Extended>(ScrollX)));
    DoRepaint();
    return result;
}

void TTimelineModel::SetScrollPos(Extended v) {
    ThumbLeft = v < 0 ? 0 : v;
    ThumbPxLeft = ClampCoord(Round64(ThumbLeft));
    const Extended free = ScrollTrackWidth - ThumbWidth;
    if (free <= 0) {
        ScrollX = 0;
    } else {
        // A thumb touching the track's end shows the strip's end, whatever its rounding.
        const bool atEnd = ThumbPxLeft + ThumbPxWidth >= ScrollTrackWidth;
        const Extended left = atEnd ? free : std::min<Extended>(ThumbLeft, free);
        const int64_t s = Round64(
            std::min<Extended>(static_cast<Extended>(GetScrollRange()) * left / free, 1e15L));
        ScrollX = s < 0 ? 0 : s;
    }
    DoMoved();
    SetPosPixels(CursorPixels);
    DoRepaint();
}

Extended TTimelineModel::ThumbLeftFor(Extended scrollX) const {
    const int64_t range = GetScrollRange();
    if (range == 0)
        return 0;
    const Extended free = ScrollTrackWidth - ThumbWidth;
    return std::clamp<Extended>(scrollX / static_cast<Extended>(range) * free, 0,
                                std::max<Extended>(free, 0));
}

void TTimelineModel::SetMaxFrames(int32_t n) {
    const int32_t old = MaxFrames;
    MaxFrames = n;
    // A strip shorter than the view is lengthened to fill it, so a shorter project after a
    // long one still gets its own strip. A project without frames keeps the strip there is
    // (1000 frames at the start).
    if (n <= 0) {
        MaxFrames = old;
    } else if (PixelsPerFrame > 0 && static_cast<Extended>(n) * PixelsPerFrame < ImageWidth) {
        MaxFrames = static_cast<int32_t>(std::ceil(ImageWidth / PixelsPerFrame));
    }
    if (!UpdateLayout()) {
        MaxFrames = old;
        // Size the thumb for the strip that stays.
        UpdateLayout();
    }
    LocateCursor(2);
}

void TTimelineModel::LocateCursor(int mode) {
    const int64_t maxPixels = GetMaxPixels();
    if (maxPixels == 0)
        return;
    Extended target = static_cast<Extended>(CursorLeft) + static_cast<Extended>(ScrollX);
    if (mode == 1)
        target -= ImageWidth;
    if (mode == 2)
        target -= ImageWidth / 2;
    SetScrollPos(ThumbLeftFor(std::max<Extended>(target, 0)));
    if (SetFrame)
        SetFrame();
}

void TTimelineModel::KeepCursorVisible() {
    if (CursorLeft > CursorBarWidth)
        LocateCursor(0);
    else if (CursorLeft < 0)
        LocateCursor(2);
}

Extended TTimelineModel::LimitThumb(Extended v) const {
    if (v + ThumbPxWidth > ScrollTrackWidth)
        v = ScrollTrackWidth - ThumbPxWidth;
    return v;
}

void TTimelineModel::ScrollTrackClick(int32_t x) {
    if (ScrollTrackWidth <= 0)
        return;
    const Extended track = ScrollTrackWidth;
    const Extended page = ThumbWidth / track <= 0.1L ? (track - ThumbWidth) * 0.1L
                                                     : static_cast<Extended>(ThumbPxWidth);
    Extended v;
    if (x < ThumbLeft) {
        if (ScrollX == 0)
            return;
        v = std::max<Extended>(ThumbLeft - page, 0);
    } else {
        if (ThumbWidth == track)
            return;
        v = LimitThumb(ThumbLeft + page);
    }
    SetScrollPos(v);
}

void TTimelineModel::ScrollStep(bool left, bool toEnd) {
    const Extended step = (ScrollTrackWidth - ThumbWidth) * 0.01L;
    Extended v;
    if (toEnd) {
        v = left ? 0 : static_cast<Extended>(ScrollTrackWidth - ThumbPxWidth);
    } else if (left) {
        if (ScrollX == 0)
            return;
        v = std::max<Extended>(ThumbLeft - step, 0);
    } else {
        if (ThumbWidth == ScrollTrackWidth)
            return;
        v = LimitThumb(ThumbLeft + step);
    }
    SetScrollPos(v);
}

void TTimelineModel::RunScrollMode() {
    switch (ScrollMode) {
    case 10:
        ScrollStep(true, false);
        break;
    case 11:
        ScrollStep(true, true);
        break;
    case 20:
        ScrollStep(false, false);
        break;
    case 21:
        ScrollStep(false, true);
        break;
    default:
        break;
    }
}

int32_t TTimelineModel::ArrowDown(bool left, bool ctrl) {
    ScrollMode = (left ? 10 : 20) + (ctrl ? 1 : 0);
    ArrowRepeating = false;
    return 10;
}

int32_t TTimelineModel::ArrowTick() {
    int32_t next = 0;
    if (!ArrowRepeating) {
        RunScrollMode();
        next = 600;
        ArrowRepeating = true;
    } else if (ScrollMode != 0) {
        RunScrollMode();
        next = 100;
    }
    // A jump to the end happens once.
    if (ScrollMode == 11 || ScrollMode == 21)
        ScrollMode = 0;
    return ScrollMode > 0 ? next : 0;
}

void TTimelineModel::DragCursorTo(int32_t newLeft) {
    const int32_t maxLeft = CursorBarWidth - CursorButtonWidth;
    if (newLeft < 0) {
        if (CursorPixels == 0)
            return;
        ScrollStep(true, false);
        newLeft = 0;
    } else if (newLeft > maxLeft) {
        if (CursorPixels >= static_cast<Extended>(GetMaxPixels()))
            return;
        ScrollStep(false, false);
        newLeft = maxLeft;
    }
    SetPosPixels(static_cast<Extended>(ScrollX) + newLeft);
}

void TTimelineModel::DragThumbTo(int32_t newLeft) {
    const int32_t maxLeft = ScrollTrackWidth - ThumbPxWidth;
    newLeft = std::clamp(newLeft, 0, std::max(0, maxLeft));
    ThumbPxLeft = newLeft;
    SetScrollPos(newLeft);
}

void TTimelineModel::CursorBarDoubleClick(int32_t x) {
    SetPosPixels(static_cast<Extended>(x) + static_cast<Extended>(ScrollX) -
                 (CursorButtonWidth - 1) / 2);
}

Extended TTimelineModel::PrepareRepaint() {
    const Extended fps = GetFps();
    Extended d = GetDuration();
    if (!(d > 0))
        d = fps > 0 ? MaxFrames / fps : 0;
    if (!(fps > 0) || !std::isfinite(d))
        return std::isfinite(d) ? d : 0;
    bool halved = false;
    while (fps * ZoomLevel * 4 * d > MaxStripPixels && ZoomLevel / 2 >= MinZoomLevel) {
        ZoomLevel /= 2;
        halved = true;
    }
    if (halved)
        PixelsPerFrame = ZoomLevel * 4;
    return d;
}
