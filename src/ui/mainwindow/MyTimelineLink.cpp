#include "MyTimelineLink.h"

#include <QToolButton>
#include <QTreeWidget>

#include "MyLocalEditor.h"
#include "MyTrackDraw.h"
#include "MyTreeItems.h"

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

bool TTimelineLink::FindStopPoint(Extended& t, TSearchDirection direction) {
    TTrackDraw* draw = Timeline->GetTrackDraw();
    return draw && draw->FindStopPoint(t, direction);
}

void TTimelineLink::ResetEditor() {
    if (TTrackDraw* draw = Timeline->GetTrackDraw())
        draw->ResetEditor();
}

void TTimelineLink::RedrawEditor() {
    if (TTrackDraw* draw = Timeline->GetTrackDraw(); draw && draw->Editor)
        draw->Editor->Redraw();
}

void TTimelineLink::SetAdjustMode(bool adjust) {
    if (TTrackDraw* draw = Timeline->GetTrackDraw())
        draw->AdjustMode = adjust;
    Timeline->RequestRepaint();
}

TTimeline* CreateMainTimeline(TMainForm& form, QWidget* area, TProjectNode* project) {
    auto* timeline = new TTimeline(area);
    TTimelineHost host;
    host.ParentPanel = area;
    host.MaxFrames = 1000;
    host.Project = project;
    // The ruler starts in times.
    host.ShowSecond = true;
    host.OnPosition = [&form](int32_t frame, Extended time) { form.TimelinePosition(frame, time); };
    host.OnCursor = [&form](int32_t frame, Extended time) { form.TimelineCursor(frame, time); };
    host.OnPreviewFrame = [&form] { form.PostPreviewFrame(); };
    host.OnSetFrame = [&form](int32_t frame) { form.PostSetFrame(frame); };
    host.OnSendFrame = [&form](int32_t frame) { form.SendSetFrame(frame); };
    host.EditorPanel = form.pEditorPanel;
    host.DisplayPanel = form.pDisplay;
    host.BottomPanel = form.pBottom;
    host.CreateEditor = [&form, project](TTimeline& tl) {
        auto editor = std::make_unique<TLocalEditorForm>(
            tl, [&form](int32_t frame) { form.SendSetFrame(frame); });
        editor->Setup(project, form.pEditorPanel, form.pDisplay);
        return editor;
    };
    host.PlayDown = [&form] { return form.sbPlay1 && form.sbPlay1->isChecked(); };
    host.AdjustDown = [&form] { return form.sbAdjust && form.sbAdjust->isChecked(); };
    host.ArrangeDown = [&form] { return form.sbArrange && form.sbArrange->isChecked(); };
    host.Commands.RefreshProject = [&form](bool render) { form.RefreshProject(render); };
    host.Commands.AddObject = [&form](uint16_t kinds) { return form.AddObject(kinds, false); };
    host.Commands.DeleteObject = [&form](TTreeNodeData* node) {
        if (auto* item = dynamic_cast<TTreeWidgetItem*>(node->Item)) {
            form.TreeView1->setCurrentItem(item);
            form.Delete1Click();
        }
    };
    host.Commands.GotoObjectEdge = [&form](bool atEnd) { form.GotoObjectEdge(atEnd); };
    host.Commands.EditNodeProperties = [&form] { form.EditNodeProperties(true); };
    host.Commands.EditMovieRange = [&form] { form.EditMovieRange(); };
    host.Commands.ProjectItemSelected = [&form, project] {
        return form.TreeView1->currentItem() == dynamic_cast<TTreeWidgetItem*>(project->Item);
    };
    // The tree stays still while the add-object flow rebuilds it.
    host.Commands.TreeUpdate = [&form](bool begin) { form.TreeView1->setUpdatesEnabled(!begin); };
    timeline->AttachHost(host);
    form.AttachTimeline(std::make_unique<TTimelineLink>(timeline));
    return timeline;
}
