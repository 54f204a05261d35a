#include "MyTimelineCommands.h"

#include <algorithm>

#include "IUiServices.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"

namespace {

constexpr const char* TwoStopsText =
    "There are already two stop-points exist. Delete these stop-points first?";
constexpr const char* TwoPegsText = "There are already two pegs exists. Delete these pegs first?";
constexpr const char* GrayText = "Gray is used for disabled object. Please choose another color.";

TCustomDurableNode* AsDurable(TTreeNodeData* node) {
    return dynamic_cast<TCustomDurableNode*>(node);
}

bool IsMaster(TTreeNodeData* node) {
    return dynamic_cast<TMasterNode*>(node) != nullptr;
}

// Puts node under parent at index as counted before node left its old place.
void MoveNode(TTreeNodeData* node, TTreeNodeData* parent, int index) {
    if (node->GetParent() == parent && node->GetIndex() < index)
        --index;
    if (node->GetParent() == parent && node->GetIndex() == index)
        return;
    node->MoveTo(parent, index);
}

// Answers whether there is room for a third mark: the user agrees to delete both.
bool RoomForMark(TStopList& marks, const char* question, IUiServices* ui) {
    if (marks.GetCount() < 2)
        return true;
    if (!ui || ui->Ask(question, TMsgButtons::OKCancel) != TMsgResult::OK)
        return false;
    marks.Clear();
    return true;
}

void Remove(TStopList& marks, TStopPoint* s) {
    for (int i = 0; i < marks.GetCount(); ++i)
        if (marks.GetItem(i) == s) {
            marks.Delete(i);
            return;
        }
}

} // namespace

TTrackMenuState GetTrackMenuState(bool adjustMode, TTreeNodeData* nodeAtP, TTreeNodeData* hoverNode,
                                  TStopPoint* hoverStop, TTreeNodeData* active) {
    TTrackMenuState m;
    m.TopLevel = !adjustMode;
    if (adjustMode)
        return m;
    m.AddVideo = true;
    m.Property = m.Peg = m.MarkInOut = m.Settings = nodeAtP != nullptr;
    m.SetColor = m.Delete = m.AddEffect = hoverNode != nullptr;
    m.DeleteStopPoint = hoverStop != nullptr;
    if (active) {
        m.EnabledChecked = active->IsEnabled();
        m.LockChecked = active->IsPositionLocked();
        m.Enabled = m.Lock = !IsMaster(active);
        const bool open = !active->GetSealed();
        m.AddVideo = open;
        m.AddEffect = m.AddEffect && open;
        m.UseViewer = active->Kind == nkVideo;
    } else {
        m.AddEffect = false;
    }
    m.Locate = active != nullptr;
    m.InsertBefore = m.InsertAfter = nodeAtP != nullptr;
    m.Replace = hoverNode && hoverNode->OffsetApplies;
    return m;
}

TMarkMenuState GetMarkMenuState(TTreeNodeData* active, int32_t x, int32_t y) {
    TMarkMenuState m;
    if (!active || !RectContains(active->TrackRect, x, y))
        return m;
    m.SetIn = m.SetOut = true;
    // The viewer plays movie files; other nodes have nothing to show it.
    m.UseViewer = active->Kind == nkVideo;
    if (TCustomDurableNode* d = AsDurable(active)) {
        m.ReleaseIn = !d->ClipRange.FromStart;
        m.ReleaseOut = !d->ClipRange.ToEnd;
    } else {
        m.ReleaseIn = active->GetOffset() > 0;
        m.ReleaseOut = !active->AutoDuration;
    }
    return m;
}

// ---- adding ---------------------------------------------------------------------------------

TTreeNodeData* TTimelineCommands::Add(TAddPlacement how, TTreeNodeData* hoverNode) {
    TProjectNode* project = Draw.Project;
    if (!project || !Host.AddObject)
        return nullptr;
    TTreeNodeData* target =
        Host.ProjectItemSelected && Host.ProjectItemSelected() ? project : project->GetActiveNode();
    bool videoKinds = how == TAddPlacement::AddVideo;
    if (!videoKinds) {
        if (!target)
            return nullptr;
        if (how == TAddPlacement::InsertBefore || how == TAddPlacement::InsertAfter)
            videoKinds = IsMaster(target);
        if ((how == TAddPlacement::InsertBefore || how == TAddPlacement::InsertAfter ||
             how == TAddPlacement::Replace) &&
            !hoverNode)
            return nullptr;
    }
    if (!videoKinds && (!target->Pegs || target->Pegs->GetCount() == 0) &&
        !ShowConfirm(DlgNoStopPoint, Ui))
        return nullptr;

    TTreeNodeData* node = nullptr;
    {
        Draw.BeginUpdate();
        if (Host.TreeUpdate)
            Host.TreeUpdate(true);
        auto release = MakeScopeExit([&] {
            if (Host.TreeUpdate)
                Host.TreeUpdate(false);
            Draw.EndUpdate();
        });
        node = Host.AddObject(videoKinds ? VideoKindSet : EffectKindSet);
        if (!node)
            return nullptr;
        Place(node, how, target, hoverNode);
    }
    // A replacement keeps the place of the node it replaced; asking about pegs would move it.
    if (how != TAddPlacement::Replace)
        node->PlaceBetweenPegs();
    if (Host.RefreshProject)
        Host.RefreshProject(false);
    if (Host.GotoObjectEdge)
        Host.GotoObjectEdge(false);
    Repaint();
    return node;
}

void TTimelineCommands::Place(TTreeNodeData* node, TAddPlacement how, TTreeNodeData* target,
                              TTreeNodeData* hoverNode) {
    TProjectNode* project = Draw.Project;
    switch (how) {
    case TAddPlacement::AddVideo: {
        if (dynamic_cast<TUserFolder*>(node))
            node->AddNode("Queue", amLastChild, nkVideoTrack);
        // Put after or before a clip in the dialog, it is where the user asked already.
        if (dynamic_cast<TQueueFolder*>(node->GetParent()))
            return;
        TTreeNodeData* track = dynamic_cast<TQueueFolder*>(target);
        if (!track)
            track = project->VideoTrack;
        if (track)
            MoveNode(node, track, track->GetChildCount());
        return;
    }
    case TAddPlacement::AddEffect:
        MoveNode(node, target, target->GetChildCount());
        return;
    case TAddPlacement::InsertBefore:
    case TAddPlacement::InsertAfter:
        MoveNode(node, hoverNode->GetParent(),
                 hoverNode->GetIndex() + (how == TAddPlacement::InsertAfter ? 1 : 0));
        return;
    case TAddPlacement::Replace:
        MoveNode(node, hoverNode->GetParent(), hoverNode->GetIndex());
        node->SetOffset(hoverNode->GetOffset());
        node->UserDuration = hoverNode->UserDuration;
        node->AutoDuration = hoverNode->AutoDuration;
        // Last to first to the front, so the children keep their order.
        for (int i = hoverNode->GetChildCount() - 1; i >= 0; --i)
            hoverNode->GetChild(i)->MoveTo(node, 0);
        if (project->GetActiveNode() == hoverNode)
            project->SetActiveNode(node);
        project->DeleteNode(hoverNode->Item);
        return;
    }
}

void TTimelineCommands::Delete(TTreeNodeData* hoverNode) {
    if (hoverNode && Host.DeleteObject)
        Host.DeleteObject(hoverNode);
}

// ---- marks ----------------------------------------------------------------------------------

void TTimelineCommands::SetMarkIn(Extended t, const TTimeScale& sc) {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!a)
        return;
    const Extended s = a->GetStartTime();
    // At least MinSpan of the node stays in front of its end.
    const Extended limit = a->GetEndTime() - TTrackDraw::MinSpan;
    if (t > limit) {
        t = std::max(limit, s);
        if (Ui)
            Ui->Beep();
    }
    if (TCustomDurableNode* d = AsDurable(a)) {
        const Extended base = d->ClipRange.FromStart ? s : s - d->ClipRange.InTime;
        d->ClipRange.FromStart = false;
        d->ClipRange.InTime = t - base;
    } else {
        // The end stays where it was; with an automatic length it follows the parent anyway.
        const Extended end = s + a->GetDuration();
        a->SetOffset(a->OffsetForStart(t));
        if (!a->AutoDuration)
            a->UserDuration = std::max(end - a->GetStartTime(), TTrackDraw::MinSpan);
    }
    AfterMark(a);
    if (Host.SetCursorPixels)
        Host.SetCursorPixels(sc.TimeToX(a->GetStartTime()) + sc.ScrollX);
    if (Host.SetFrame && Host.FramePos)
        Host.SetFrame(Host.FramePos());
}

void TTimelineCommands::SetMarkOut(Extended t, int32_t x, const TTimeScale& sc) {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!a)
        return;
    const Extended s = a->GetStartTime();
    if (t < s + TTrackDraw::MinSpan) {
        t = s + TTrackDraw::MinSpan;
        if (Ui)
            Ui->Beep();
    }
    if (TCustomDurableNode* d = AsDurable(a)) {
        d->ClipRange.ToEnd = false;
        d->ClipRange.OutTime = t - s + (d->ClipRange.FromStart ? 0 : d->ClipRange.InTime);
    } else {
        a->AutoDuration = false;
        a->UserDuration = t - s;
    }
    AfterMark(a);
    if (Host.SetCursorPixels)
        Host.SetCursorPixels(x + sc.ScrollX - 2);
    if (Host.SetFrame && Host.FramePos)
        Host.SetFrame(Host.FramePos());
}

void TTimelineCommands::ReleaseMarkIn() {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!a)
        return;
    if (TCustomDurableNode* d = AsDurable(a)) {
        d->ClipRange.FromStart = true;
    } else {
        const Extended end = a->GetStartTime() + a->GetDuration();
        a->SetOffset(0);
        a->StartWithParent();
        if (!a->AutoDuration)
            a->UserDuration = std::max(end - a->GetStartTime(), TTrackDraw::MinSpan);
    }
    AfterMark(a);
}

void TTimelineCommands::ReleaseMarkOut() {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!a)
        return;
    if (TCustomDurableNode* d = AsDurable(a))
        d->ClipRange.ToEnd = true;
    else
        a->AutoDuration = true;
    AfterMark(a);
}

void TTimelineCommands::AfterMark(TTreeNodeData* node) {
    if (node->Pegs)
        node->Pegs->Clear();
    if (Draw.Project)
        Draw.Project->Refresh();
    Repaint();
}

void TTimelineCommands::Locate(bool atEnd) {
    if (!Draw.ActiveNode())
        return;
    if (Host.GotoObjectEdge)
        Host.GotoObjectEdge(atEnd);
    if (Host.LocateCursor)
        Host.LocateCursor(2);
}

// ---- settings -------------------------------------------------------------------------------

void TTimelineCommands::ToggleEnabled(TTreeNodeData* node) {
    if (!node)
        return;
    node->Enabled = !node->IsEnabled();
    Repaint();
    // The preview shows the switched node at once, before the menu's next command can run.
    if (Host.SendFrame)
        Host.SendFrame(-1);
}

void TTimelineCommands::ToggleLock(TTreeNodeData* node) {
    if (!node)
        return;
    node->PositionLocked = !node->IsPositionLocked();
    Repaint();
}

void TTimelineCommands::SetTrackColor(TTreeNodeData* node) {
    if (!node || !Ui)
        return;
    for (;;) {
        const std::optional<uint32_t> c = Ui->ChooseColor(node->GetDrawColor());
        if (!c)
            return;
        if (*c != Gray) {
            node->Color = *c;
            Repaint();
            return;
        }
        Ui->ShowMessage(GrayText);
    }
}

// ---- stop points and pegs -------------------------------------------------------------------

void TTimelineCommands::AddStopPoint(int32_t y, Extended t) {
    TProjectNode* p = Draw.Project;
    // The place is checked first, so a refused add never costs the existing stop points.
    if (!p || p->GetDuration() == 0 || !Draw.PointInStopRow(Draw.TimeToX(t), y))
        return;
    if (!RoomForMark(*p->Pegs, TwoStopsText, Ui))
        return;
    Draw.AddStopPoint(y, t);
    Repaint();
}

void TTimelineCommands::DeleteStopPoint(TStopPoint* s) {
    if (!s || !Draw.Project)
        return;
    Remove(*Draw.Project->Pegs, s);
    Repaint();
}

void TTimelineCommands::ClearStopPoints() {
    if (!Draw.Project)
        return;
    Draw.Project->Pegs->Clear();
    Repaint();
}

void TTimelineCommands::AddPeg(int32_t y, Extended t) {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!a || !a->Pegs || !Draw.PointInCurrentObject(Draw.TimeToX(t), y))
        return;
    if (!RoomForMark(*a->Pegs, TwoPegsText, Ui))
        return;
    Draw.AddPeg(y, t);
    Repaint();
}

void TTimelineCommands::DeletePeg(TStopPoint* s) {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!s || !a || !a->Pegs)
        return;
    Remove(*a->Pegs, s);
    Repaint();
}

void TTimelineCommands::ClearPegs() {
    TTreeNodeData* a = Draw.ActiveNode();
    if (!a || !a->Pegs)
        return;
    a->Pegs->Clear();
    Repaint();
}
