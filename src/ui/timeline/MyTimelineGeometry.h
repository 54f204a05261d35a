// Geometry of the timeline without any widget: the one mapping between time and track-image x
// (zoom, scroll and cursor margin), and the zoom, scroll and cursor state the timeline window
// drives. The window only mirrors this state into its controls, so all of it is testable alone.
#pragma once

#include <cstdint>
#include <functional>

#include "MyBase.h"

// The strip may not grow wider than this many pixels (zoom refusal, the "=" fit and the
// halving before a paint all use it).
constexpr Extended MaxStripPixels = 131070;
constexpr Extended MaxZoomLevel = 16;
// The halving before a paint never goes below this, so the scale can not collapse to 0.
constexpr Extended MinZoomLevel = 1.0L / 1048576;

// Time <-> x of the track image. Time 0 lies CursorMargin pixels right of strip pixel 0, so
// the middle of the cursor button stands over the cursor's time; ScrollX strip pixels are
// scrolled off to the left. Rows, ruler, pegs, stop points and every hit test use this.
struct TTimeScale {
    Extended Fps = 0;
    Extended PixelsPerFrame = 0;
    int64_t ScrollX = 0;
    int32_t CursorMargin = 0;

    Extended PixelsPerSecond() const { return Fps * PixelsPerFrame; }
    // x of the strip pixel p.
    int32_t PixelToX(Extended p) const;
    int32_t TimeToX(Extended t) const { return PixelToX(t * PixelsPerSecond()); }
    int32_t FrameToX(Extended frame) const { return PixelToX(frame * PixelsPerFrame); }
    // Seconds at image x; 0 when there is no scale.
    Extended XToTime(int32_t x) const;
    // Round(Fps * t), 0 when negative.
    int32_t TimeToFrame(Extended t) const;
    // t on the frame grid (unchanged without a frame rate), 0 when negative.
    Extended SnapToFrame(Extended t) const;
    // Margin left free at both ends of the stop-point band: what is left of the cursor margin
    // after scrolling.
    int32_t BandInset() const;
};

// Zoom, scroll and cursor of the timeline. Sizes of the controls are inputs, set by the
// window whenever they change; the results are the cursor button's left, the thumb's left and
// width, ScrollX and the zoom.
class TTimelineModel {
public:
    static constexpr int32_t CursorButtonWidth = 9;
    static constexpr int32_t CursorMargin = CursorButtonWidth / 2;

    // Control sizes in pixels.
    int32_t ImageWidth = 0;       // track image
    int32_t ScrollTrackWidth = 0; // scroll track the thumb moves in
    int32_t CursorBarWidth = 0;   // bar holding the cursor button

    // Reaching the project and the window.
    std::function<Extended()> Fps;      // project frame rate
    std::function<Extended()> Duration; // project duration in seconds
    std::function<void()> Beep;
    std::function<void()> Repaint;                   // coalesced repaint request
    std::function<void()> SetFrame;                  // render the cursor's frame anew (posted)
    std::function<void(int32_t, Extended)> Position; // the cursor was placed
    std::function<void()> Moved;                     // control positions changed

    // State.
    Extended ZoomLevel = 1.0;
    Extended PixelsPerFrame = 4.0;
    int32_t MaxFrames = 0;
    Extended CursorPixels = 0; // cursor in strip pixels, whole frames
    int64_t ScrollX = 0;       // strip pixel at the image's left edge
    Extended ThumbWidth = 16;
    Extended ThumbLeft = 0;
    int32_t CursorLeft = 0;      // cursor button left in the cursor bar
    int32_t ThumbPxLeft = 0;     // thumb control left
    int32_t ThumbPxWidth = 16;   // thumb control width
    int32_t ScrollMode = 0;      // 0 none, 10 left, 11 left to end, 20 right, 21 right to end
    bool ArrowRepeating = false; // the arrow timer's first tick has run

    Extended GetFps() const { return Fps ? Fps() : 0; }
    Extended GetDuration() const { return Duration ? Duration() : 0; }
    int64_t GetMaxPixels() const;
    // Strip pixels the view can scroll over: the thumb at its right end shows the strip's last
    // view-width.
    int64_t GetScrollRange() const;
    TTimeScale Scale() const;

    int32_t GetFramePos() const;
    void SetFramePos(int32_t frame);
    // The one place the cursor moves; p in strip pixels.
    void SetPosPixels(Extended p);

    // False when refused (beeps) or when nothing changed.
    bool SetZoomLevel(Extended z);
    void ZoomIn() { SetZoomLevel(ZoomLevel * 2); }
    void ZoomOut() { SetZoomLevel(ZoomLevel / 2); }
    // Fits the project into the strip, never above zoom 1.
    void ZoomNormal();

    // True when the strip is at least as wide as the view.
    bool UpdateLayout();
    void SetScrollPos(Extended v);
    void SetMaxFrames(int32_t n);
    // Scroll so the cursor stands at the left edge (0), the right edge (1) or the middle (2).
    void LocateCursor(int mode);
    void KeepCursorVisible();

    // A press at x on the scroll track outside the thumb pages the view.
    void ScrollTrackClick(int32_t x);
    void ScrollStep(bool left, bool toEnd);
    void RunScrollMode();
    // Arrow buttons with auto-repeat. Each returns the interval the timer runs next, in
    // milliseconds, or 0 when it stops.
    int32_t ArrowDown(bool left, bool ctrl);
    void ArrowUp() { ScrollMode = 0; }
    int32_t ArrowTick();

    // Dragging the cursor button or the thumb to a new left.
    void DragCursorTo(int32_t newLeft);
    void DragThumbTo(int32_t newLeft);
    // Double-click at x of the cursor bar.
    void CursorBarDoubleClick(int32_t x);

    // Before a paint: halves the zoom until the project fits the strip and returns the
    // duration the paint shows.
    Extended PrepareRepaint();

private:
    void DoBeep() {
        if (Beep)
            Beep();
    }
    void DoRepaint() {
        if (Repaint)
            Repaint();
    }
    void DoMoved() {
        if (Moved)
            Moved();
    }
    // The thumb's left that shows strip pixel scrollX at the view's left edge.
    Extended ThumbLeftFor(Extended scrollX) const;
    // Thumb lefts past the end of the track stop where the thumb touches the end.
    Extended LimitThumb(Extended v) const;
};
