// What the main window asks of the timeline: cursor, length, zoom, repeat switch and stop
// points. This plain one keeps the values itself and knows no stop point; the timeline window
// puts its own in place when it attaches (TMainForm::AttachTimeline).
#pragma once

#include <cstdint>

#include "MyBase.h"
#include "MyStopList.h"

class TTimelineSeam {
public:
    virtual ~TTimelineSeam() = default;

    virtual int32_t GetFramePos() const { return FramePos; }
    virtual void SetFramePos(int32_t frame) { FramePos = frame; }
    virtual int32_t GetMaxFrames() const { return MaxFrames; }
    virtual void SetMaxFrames(int32_t frames) { MaxFrames = frames; }
    virtual Extended GetZoomLevel() const { return ZoomLevel; }
    virtual void SetZoomLevel(Extended zoom) { ZoomLevel = zoom; }
    // Play repeats the range between two stop points.
    virtual bool GetRepeatBetweenStops() const { return false; }
    // Scrolls so the cursor stays in view while playing.
    virtual void KeepCursorVisible() {}
    // Scrolls the cursor into view; mode 2 puts it in the middle.
    virtual void LocateCursor(int mode) {}
    // Looks for a stop point from t in direction; moves t onto it when found.
    virtual bool FindStopPoint(Extended& t, TSearchDirection direction) { return false; }
    // The track drawer's editing state: cleared on a new or opened project.
    virtual void ResetEditor() {}
    // Drops the curve editor's selection and redraws it (editing is allowed again).
    virtual void RedrawEditor() {}
    virtual void SetAdjustMode(bool adjust) {}
    // Repaints the tracks (posted, coalesced).
    virtual void RequestRepaint() {}

protected:
    int32_t FramePos = 0;
    int32_t MaxFrames = 1000;
    Extended ZoomLevel = 1.0L;
};
