// Joins the timeline window to the main window: the main window's view of the timeline
// (cursor, frame count, zoom, stop points) answered by the real timeline widget.
#pragma once

#include "MainZunt.h"
#include "MyTimeline.h"

class TTimelineLink : public TTimelineSeam {
public:
    explicit TTimelineLink(TTimeline* timeline) : Timeline(timeline) {}

    int32_t GetFramePos() const override { return Timeline->GetFramePos(); }
    void SetFramePos(int32_t frame) override;
    int32_t GetMaxFrames() const override { return Timeline->GetMaxFrames(); }
    void SetMaxFrames(int32_t frames) override;
    Extended GetZoomLevel() const override { return Timeline->GetZoomLevel(); }
    void SetZoomLevel(Extended zoom) override;
    bool GetRepeatBetweenStops() const override { return Timeline->RepeatBetweenStops; }
    void KeepCursorVisible() override { Timeline->KeepCursorVisible(); }
    void LocateCursor(int mode) override { Timeline->LocateCursor(mode); }
    bool FindStopPoint(Extended& t, TSearchDirection direction) override;
    void ResetEditor() override;
    void SetAdjustMode(bool adjust) override;
    void RequestRepaint() override { Timeline->RequestRepaint(); }
    TTimeline* GetTimeline() const { return Timeline; }
    void RedrawEditor() override;

private:
    TTimeline* Timeline;
};

// Creates the timeline inside the main window's timeline panel and links it.
TTimeline* CreateMainTimeline(TMainForm& form, QWidget* area, TProjectNode* project);
