#include "MyTimelineLink.h"

#include <QToolButton>

#include "MyTrackDraw.h"

void TTimelineLink::SetFramePos(int32_t frame) {
    Timeline->SetFramePos(frame);
    Timeline->RequestRepaint();
}

void TTimelineLink::SetMaxFrames(int32_t frames) {
    Timeline->SetMaxFrames(frames);
    Timeline->RequestRepaint();
}

void TTimelineLink::SetZoomLevel(Extended zoom) {
    Timeline->SetZoomLevel(zoom);
    Timeline->RequestRepaint();
}

bool TTimelineLink::FindStopPoint(Extended& t, bool forward) {
    TTrackDraw* draw = Timeline->GetTrackDraw();
    return draw && draw->FindStopPoint(t, !forward);
}

void TTimelineLink::ResetEditor() {
    if (TTrackDraw* draw = Timeline->GetTrackDraw()) draw->ResetEditor();
}

TTimeline* CreateMainTimeline(TMainForm& form, QWidget* area, TProjectNode* project) {
    auto* timeline = new TTimeline(area);
    TTimelineHost host;
    host.ParentPanel = area;
    host.MaxFrames = project->GetFrameCount();
    host.Project = project;
    host.OnPosition = [&form](int32_t frame, Extended time) { form.TimelinePosition(frame, time); };
    host.OnCursor = [&form](int32_t frame, Extended time) { form.TimelineCursor(frame, time); };
    host.OnPreviewFrame = [&form] { form.PostPreviewFrame(); };
    host.OnSetFrame = [&form](int32_t frame) { form.PostSetFrame(frame); };
    host.PlayDown = [&form] { return form.sbPlay1 && form.sbPlay1->isChecked(); };
    host.AdjustDown = [&form] { return form.sbAdjust && form.sbAdjust->isChecked(); };
    host.ArrangeDown = [&form] { return form.sbArrange && form.sbArrange->isChecked(); };
    host.Commands.RefreshProject = [&form](bool render) { form.RefreshProject(render); };
    timeline->AttachHost(host);
    form.AttachTimeline(std::make_unique<TTimelineLink>(timeline));
    return timeline;
}
