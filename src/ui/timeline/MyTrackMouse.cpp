#include "MyTrackMouse.h"

#include <cstdlib>

#include "MyMovieNode.h"

namespace {

TMovieNode* AsMovie(TTreeNodeData* node) {
    return dynamic_cast<TMovieNode*>(node);
}

bool IsTransition(const TTreeNodeData* node) {
    return node && node->Kind == nkTransition;
}

} // namespace

Extended TTrackMouse::MovieLength() const {
    const TMovieNode* m = AsMovie(HoverNode);
    return m ? m->SourceDuration : 0;
}

bool TTrackMouse::Press(int32_t x, int32_t y, bool left, bool ctrl, bool playDown,
                        const TTimeScale& sc) {
    if (playDown) {
        TrackMode = tmNone;
        return false;
    }
    PressX = x;
    PressY = y;
    DragChanged = false;
    if (HoverStop) {
        TrackMode = tmStopPoint;
    } else if (HoverPeg) {
        TrackMode = tmPeg;
    } else if (HoverNode) {
        const int32_t xs = sc.TimeToX(HoverNode->GetStartTime());
        const int32_t xe = sc.TimeToX(HoverNode->GetEndTime());
        TMovieNode* movie = AsMovie(HoverNode);
        if (std::abs(xs - x) < Threshold) {
            TrackMode = tmStartEdge;
            DragSaved = IsTransition(HoverNode) ? HoverNode->GetDuration() : HoverNode->GetOffset();
        } else if (std::abs(xe - x) < Threshold) {
            TrackMode = movie ? tmOutPoint : tmEndEdge;
            // An open out point starts from the source's end; it is stored only by a real move.
            DragSaved = movie ? (movie->ClipRange.ToEnd || movie->ClipRange.OutTime == 0
                                     ? MovieLength()
                                     : movie->ClipRange.OutTime)
                              : HoverNode->GetDuration();
        } else {
            TrackMode = movie ? tmSourceShift : tmMove;
            DragSaved = movie ? (movie->ClipRange.FromStart ? 0 : movie->ClipRange.InTime)
                              : HoverNode->GetOffset();
        }
        if (!ctrl)
            TrackMode = tmSelect;
    } else {
        TrackMode = tmNone;
    }
    if (!left)
        return true;
    Draw.SelectStopPoint(HoverStop);
    Draw.SelectPeg(HoverPeg);
    if (!HoverNode)
        Draw.SelectObject(nullptr);
    if (TrackMode != tmNone) {
        ThresholdX = x;
        Dragging = true;
    }
    return true;
}

TTrackCursor TTrackMouse::HoverCursor(int32_t x, bool ctrl, const TTimeScale& sc) const {
    if (HoverStop || HoverPeg || (HoverNode && !ctrl))
        return TTrackCursor::Hand;
    if (!HoverNode)
        return TTrackCursor::Default;
    const bool movie = AsMovie(HoverNode) != nullptr;
    const bool transition = IsTransition(HoverNode);
    if (!HoverNode->OffsetApplies && !transition && !movie)
        return TTrackCursor::Default;
    if (HoverNode->IsPositionLocked())
        return TTrackCursor::NoDrop;
    if (std::abs(sc.TimeToX(HoverNode->GetEndTime()) - x) < Threshold)
        return TTrackCursor::HSplit;
    if (std::abs(sc.TimeToX(HoverNode->GetStartTime()) - x) < Threshold)
        return movie ? TTrackCursor::Default : TTrackCursor::HSplit;
    return transition ? TTrackCursor::Default : TTrackCursor::SizeWE;
}

TTrackStep TTrackMouse::Move(int32_t x, int32_t y, bool ctrl, bool adjustDown, bool arrangeDown,
                             const TTimeScale& sc) {
    TTrackStep step;
    const Extended t = sc.XToTime(x);
    if (adjustDown) {
        HoverNode = Draw.ObjectAt(y, t);
        return step;
    }
    if (!Dragging) {
        HoverStop = Draw.StopPointAt(y, t);
        HoverPeg = Draw.PegAt(y, t);
        HoverNode = Draw.ObjectAt(y, t);
        step.SetCursor = true;
        step.Cursor = arrangeDown ? HoverCursor(x, ctrl, sc) : TTrackCursor::Default;
        return step;
    }
    if (std::abs(x - ThresholdX) < Threshold)
        return step;
    step = DragStep(x, sc);
    DragChanged = DragChanged || step.Changed;
    return step;
}

TTrackStep TTrackMouse::DragStep(int32_t x, const TTimeScale& sc) {
    TTrackStep step;
    const Extended delta = sc.XToTime(x) - sc.XToTime(PressX);
    const Extended t = sc.SnapToFrame(sc.XToTime(x));
    switch (TrackMode) {
    case tmStopPoint:
        step.Changed = Draw.MoveStopPoint(HoverStop, t);
        return step;
    case tmPeg:
        step.Changed = Draw.MovePeg(HoverPeg, t);
        return step;
    case tmMove:
        ThresholdX = -1000;
        step.SetCursor = true;
        if (!HoverNode || HoverNode->IsPositionLocked() || !HoverNode->OffsetApplies) {
            step.Cursor = TTrackCursor::Forbidden;
            return step;
        }
        step.Cursor = TTrackCursor::SizeWE;
        step.Changed = Draw.MoveObject(HoverNode, DragSaved, delta);
        return step;
    case tmStartEdge:
    case tmEndEdge:
        ThresholdX = -1000;
        return EdgeStep(TrackMode == tmStartEdge, delta);
    case tmSourceShift:
    case tmOutPoint: {
        step.SetCursor = true;
        const bool shift = TrackMode == tmSourceShift;
        step.Cursor = HoverNode && HoverNode->IsPositionLocked()
                          ? TTrackCursor::Forbidden
                          : (shift ? TTrackCursor::SizeWE : TTrackCursor::HSplit);
        // The source moves against the mouse.
        step.Changed = shift ? Draw.MoveObjectStart(HoverNode, DragSaved, -delta)
                             : Draw.MoveObjectEnd(HoverNode, DragSaved, delta);
        if (step.Changed && Draw.Project) {
            Draw.Project->Refresh();
            step.Refreshed = true;
            step.FollowEnd = !shift;
            step.EndTime = HoverNode->GetEndTime();
        }
        return step;
    }
    default:
        return step;
    }
}

TTrackStep TTrackMouse::EdgeStep(bool start, Extended delta) {
    TTrackStep step;
    step.SetCursor = true;
    const bool transition = IsTransition(HoverNode);
    if (!HoverNode || HoverNode->IsPositionLocked() || (!HoverNode->OffsetApplies && !transition)) {
        step.Cursor = TTrackCursor::Forbidden;
        return step;
    }
    step.Cursor = TTrackCursor::HSplit;
    if (transition) {
        // Pulling a transition's start edge left lengthens it.
        step.Changed = Draw.MoveObjectEnd(HoverNode, DragSaved, start ? -delta : delta);
        if (step.Changed && Draw.Project) {
            Draw.Project->Refresh();
            step.Refreshed = true;
        }
        return step;
    }
    step.Changed = start ? Draw.MoveObjectStart(HoverNode, DragSaved, delta)
                         : Draw.MoveObjectEnd(HoverNode, DragSaved, delta);
    return step;
}

bool TTrackMouse::Release(TTreeNodeData*& selected) {
    selected = nullptr;
    if (!Dragging)
        return false;
    Dragging = false;
    if (HoverStop)
        HoverStop->PegSelected = false;
    else if (HoverPeg)
        HoverPeg->PegSelected = false;
    Draw.SelectObject(HoverNode);
    selected = HoverNode;
    return true;
}

void TTrackMouse::DoubleClick(const TTimeScale& sc) {
    const Extended t = sc.XToTime(PressX);
    if (Draw.InStopPointRow(PressY)) {
        TStopPoint* s = Draw.StopPointAt(PressY, t);
        TProjectNode* p = Draw.Project;
        if (s && p) {
            for (int i = 0; i < p->Pegs->GetCount(); ++i)
                if (p->Pegs->GetItem(i) == s)
                    p->Pegs->Delete(i);
        } else {
            Draw.AddStopPoint(PressY, t);
        }
        HoverStop = nullptr;
        return;
    }
    TStopPoint* peg = Draw.PegAt(PressY, t);
    if (peg && peg->Owner && peg->Owner->Pegs) {
        TStopList& pegs = *peg->Owner->Pegs;
        for (int i = 0; i < pegs.GetCount(); ++i)
            if (pegs.GetItem(i) == peg)
                pegs.Delete(i);
    } else if (!peg) {
        Draw.AddPeg(PressY, t);
    }
    HoverPeg = nullptr;
}

void TTrackMouse::Forget() {
    Dragging = false;
    TrackMode = tmNone;
    HoverStop = HoverPeg = nullptr;
    HoverNode = nullptr;
}
