#include "MyTrackDraw.h"

#include <algorithm>
#include <cstdlib>

#include "IUiServices.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyTimeRuler.h"

bool RectContains(const TRectI& r, int32_t x, int32_t y) {
    return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

namespace {

// Captions are written in 8 points; the ruler uses the bitmap's own font.
constexpr int32_t CaptionFontSize = 8;

void Fill(TCanvas* c, int32_t l, int32_t t, int32_t r, int32_t b, uint32_t color) {
    if (!c)
        return;
    c->Brush.Color = color;
    c->Brush.Style = bsSolid;
    c->FillRect(Rect(l, t, r, b));
}

// Nodes in depth-first order, the node itself first.
void CollectNodes(TTreeNodeData* node, std::vector<TTreeNodeData*>& out) {
    out.push_back(node);
    for (int i = 0; i < node->GetChildCount(); ++i)
        CollectNodes(node->GetChild(i), out);
}

} // namespace

TTimeScale TTrackPaintInfo::Scale() const {
    TTimeScale s;
    s.Fps = FPS;
    s.PixelsPerFrame = PixelsPerFrame;
    s.ScrollX = ScrollX;
    s.CursorMargin = CursorMargin;
    return s;
}

TTrackDraw::TTrackDraw(ITrackCurveEditor* editor, TProjectNode* project)
    : Editor(editor), Project(project) {}

void TTrackDraw::Beep() const {
    if (Project && Project->Ui)
        Project->Ui->Beep();
}

void TTrackDraw::ClearTrackRects(TTreeNodeData* node) {
    node->TrackRect = TRectI{};
    for (int i = 0; i < node->GetChildCount(); ++i)
        ClearTrackRects(node->GetChild(i));
}

// ---- painting -----------------------------------------------------------------------------

void TTrackDraw::Paint(const TTrackPaintInfo& info) {
    if (PaintLock || !Project)
        return;
    Info = info;
    EditorShown = false;
    Canvas = Info.Bitmap && !Info.Bitmap->Empty() ? &Info.Bitmap->Canvas() : nullptr;
    PaintActive = ActiveNode();
    // Whatever happens while drawing, an editor no row carries is closed.
    auto after = MakeScopeExit([this] {
        Canvas = nullptr;
        PaintActive = nullptr;
        if (!EditorShown) {
            TTreeNodeData* a = ActiveNode();
            if (!a || !a->Curves || !a->Curves->HasEnabled())
                ResetEditor();
        }
    });

    if (Canvas)
        Fill(Canvas, 0, 0, Info.Bitmap->Width(), Info.Bitmap->Height(), clTrackBackground);

    // Rows of nodes the paint does not reach must not answer hit tests with an old rectangle.
    ClearTrackRects(Project);
    int32_t y = RowsTop();
    int32_t bottom = RowsTop();
    DrawChildren(false, Project->VideoTrack, y, bottom);
    DrawChildren(true, Project, y, bottom);
    Bottom = bottom;

    DrawRuler();
    DrawStopPoints();
}

void TTrackDraw::DrawChildren(bool stacked, TTreeNodeData* parent, int32_t& y, int32_t& bottom) {
    if (!parent)
        return;
    int32_t rowY = y;
    int32_t maxY = y;
    for (int i = 0; i < parent->GetChildCount(); ++i) {
        TTreeNodeData* c = parent->GetChild(i);
        if (dynamic_cast<TTransNode*>(c))
            continue;
        if (parent == Project && dynamic_cast<TQueueFolder*>(c))
            continue;
        if (!stacked)
            rowY = y;
        int32_t b = rowY;
        DrawNode(c, rowY, b);
        maxY = std::max({maxY, b, rowY});
    }
    if (!stacked) {
        // Transitions go over the clips they join, on the same row.
        for (int i = 0; i < parent->GetChildCount(); ++i) {
            TTreeNodeData* c = parent->GetChild(i);
            if (!dynamic_cast<TTransNode*>(c))
                continue;
            rowY = y;
            int32_t b = y;
            DrawNode(c, rowY, b);
            maxY = std::max({maxY, b, rowY});
        }
    }
    y = maxY;
    bottom = std::max(bottom, maxY);
}

void TTrackDraw::DrawNode(TTreeNodeData* node, int32_t& y, int32_t& bottom) {
    TTreeNodeData* parent = node->GetParent();
    // A sealed node hides its children on the timeline.
    if (parent && parent->GetSealed())
        return;
    if (dynamic_cast<TQueueFolder*>(node)) {
        DrawChildren(false, node, y, bottom);
        return;
    }
    const bool active = node == PaintActive;
    const bool curveRow = AdjustMode && active && node->Curves && node->Curves->HasEnabled();
    const int32_t h = curveRow ? CurveRowHeight : RowHeight;
    Extended d = node->GetDuration();
    if (!(d > 0))
        return;

    const int32_t top = y;
    y += h + RowGap;
    bottom += h + RowGap;

    // Only the part inside the parent's span is shown.
    Extended s = node->GetStartTime();
    if (parent) {
        const Extended ps = parent->GetStartTime();
        if (s < ps) {
            d -= ps - s;
            s = ps;
        }
        const Extended pe = parent->GetEndTime();
        if (s + d - 0.0001L > pe)
            d = pe - s;
    }
    if (d < 0)
        return;

    const TTimeScale scale = Info.Scale();
    TRectI r;
    r.Left = scale.TimeToX(s);
    r.Right = scale.TimeToX(s + d);
    r.Top = top;
    r.Bottom = top + h;
    node->TrackRect = r;

    // Rows outside the image keep their rectangle for the hit tests but cost no drawing: a long
    // project has most of its rows off to the side.
    TCanvas* canvas = Canvas && Info.Bitmap && r.Right >= 0 && r.Bottom >= 0 &&
                              r.Left < Info.Bitmap->Width() && r.Top < Info.Bitmap->Height()
                          ? Canvas
                          : nullptr;
    const uint32_t pen = node->IsPositionLocked() ? 0x0000FF : 0x000000;
    if (canvas) {
        Canvas->Pen.Color = pen;
        Canvas->Brush.Color = curveRow ? 0xFFFFFF : node->GetDrawColor();
        Canvas->Brush.Style = bsSolid;
        Canvas->Rectangle(r.Left, r.Top, r.Right, r.Bottom);
    }

    if (curveRow) {
        if (Editor) {
            if (EnsureBottomRoom)
                EnsureBottomRoom(r.Bottom + CurveRowHeight);
            TRectI er = r;
            er.Left -= 4;
            er.Right -= 4;
            Editor->EditObject(node, er);
            EditorShown = true;
        }
    } else if (canvas) {
        const int32_t size = Canvas->Font.Size;
        Canvas->Font.Size = CaptionFontSize;
        const std::string caption = node->GetCaption();
        if (r.Right - r.Left - 4 > Canvas->TextWidth(caption)) {
            Canvas->Brush.Color = node->GetDrawColor();
            Canvas->TextOut(r.Left + 8, r.Top + 1, caption);
        }
        Canvas->Font.Size = size;
    }
    if (active && canvas) {
        Canvas->Brush.Color = pen;
        Canvas->FrameRect(Rect(r.Left - 1, r.Top - 1, r.Right + 1, r.Bottom + 1));
    }

    if (canvas)
        DrawPegs(node);
    for (int i = 0; i < node->GetChildCount(); ++i)
        DrawNode(node->GetChild(i), y, bottom);
}

void TTrackDraw::DrawMarker(int32_t x, int32_t y0, bool selected) {
    if (!Canvas)
        return;
    Canvas->Pen.Color = selected ? 0x808080 : 0x000000;
    Canvas->Brush.Color = selected ? 0xC0C0C0 : 0x808080;
    Canvas->Brush.Style = bsSolid;
    Canvas->Ellipse(x - 4, y0 - 2, x + 5, y0 + 7);
    Canvas->SetPixel(x, y0, 0xFFFFFF);
    Canvas->SetPixel(x - 2, y0, 0xFFFFFF);
    Canvas->SetPixel(x - 2, y0 + 2, 0xFFFFFF);
}

void TTrackDraw::DrawPegs(TTreeNodeData* node) {
    TTreeNodeData* parent = node->GetParent();
    if ((parent && parent->GetSealed()) || !node->Pegs || !Canvas)
        return;
    const TStopList& pegs = *node->Pegs;
    const int32_t y0 = node->TrackRect.Top + 10;
    if (pegs.GetCount() == 2) {
        Canvas->Pen.Color = 0x000000;
        Canvas->Brush.Color = clRange;
        Canvas->Rectangle(TimeToX(pegs.GetItem(0)->GetTime()), y0 + 1,
                          TimeToX(pegs.GetItem(1)->GetTime()), y0 + 4);
    }
    const Extended end = node->GetStartTime() + node->GetDuration();
    for (int i = 0; i < pegs.GetCount(); ++i) {
        TStopPoint* p = pegs.GetItem(i);
        const Extended t = p->GetTime();
        const int32_t x = TimeToX(t);
        if (t > end || x < 0)
            continue;
        DrawMarker(x, y0, p->PegSelected);
    }
}

void TTrackDraw::DrawRuler() {
    if (!Canvas)
        return;
    const TTimeScale scale = Info.Scale();
    const bool noScale = Info.ShowSecond ? TimeRulerStep(scale.PixelsPerSecond()) == 0
                                         : FrameRulerStep(scale.PixelsPerFrame) == 0;
    const int32_t width = Info.Bitmap->Width();
    if (noScale) {
        Fill(Canvas, 0, 0, width, Info.Bitmap->Height(), clNoScale);
        return;
    }
    Canvas->Brush.Color = clTrackBackground; // behind the labels
    Canvas->Brush.Style = bsSolid;
    Canvas->Pen.Color = 0x000000;
    const int32_t th = Canvas->TextHeight("`j");
    for (const TRulerTick& tick : RulerTicks(scale, Info.ShowSecond, width)) {
        // Centred over the tick.
        Canvas->TextOut(tick.X - Canvas->TextWidth(tick.Label) / 2, RulerTop(), tick.Label);
        Canvas->MoveTo(tick.X, RulerTop() + th);
        Canvas->LineTo(tick.X, RulerTop() + th + 8);
    }
}

void TTrackDraw::DrawStopPoints() {
    if (!Canvas)
        return;
    const int32_t inset = OriginX();
    const int32_t top = StopRowTop();
    Fill(Canvas, inset, top, Info.Bitmap->Width() - inset, top + 4, clStopBand);
    const TStopList& stops = *Project->Pegs;
    if (stops.GetCount() == 2) {
        Fill(Canvas, TimeToX(stops.GetItem(0)->GetTime()), top + 1,
             TimeToX(stops.GetItem(1)->GetTime()), top + 3, clRange);
    }
    for (int i = 0; i < stops.GetCount(); ++i) {
        TStopPoint* s = stops.GetItem(i);
        const int32_t x = TimeToX(s->GetTime());
        if (x >= 0)
            DrawMarker(x, top, s->PegSelected);
    }
}

// ---- hit tests ----------------------------------------------------------------------------

bool TTrackDraw::PointInStopRow(int32_t, int32_t y) const {
    return y >= StopRowTop() && y <= StopRowTop() + 4;
}

bool TTrackDraw::InStopPointRow(int32_t y) const {
    return y >= StopRowTop() && y < StopRowTop() + 4;
}

TStopPoint* TTrackDraw::StopPointAt(int32_t y, Extended t) const {
    const int32_t px = TimeToX(t);
    if (!Project || !PointInStopRow(px, y))
        return nullptr;
    const TStopList& stops = *Project->Pegs;
    for (int i = 0; i < stops.GetCount(); ++i) {
        TStopPoint* s = stops.GetItem(i);
        if (std::abs(int64_t(TimeToX(s->GetTime())) - px) < MarkerReach)
            return s;
    }
    return nullptr;
}

bool TTrackDraw::PointInCurrentObject(int32_t x, int32_t y) const {
    TTreeNodeData* a = ActiveNode();
    return a && RectContains(a->TrackRect, x, y);
}

TStopPoint* TTrackDraw::PegAt(int32_t y, Extended t) const {
    TTreeNodeData* a = ActiveNode();
    const int32_t px = TimeToX(t);
    if (!a || !a->Pegs || !PointInCurrentObject(px, y))
        return nullptr;
    for (int i = 0; i < a->Pegs->GetCount(); ++i) {
        TStopPoint* p = a->Pegs->GetItem(i);
        if (std::abs(int64_t(TimeToX(p->GetTime())) - px) < MarkerReach)
            return p;
    }
    return nullptr;
}

TTreeNodeData* TTrackDraw::ObjectAt(int32_t y, Extended t) const {
    if (!Project)
        return nullptr;
    const int32_t px = TimeToX(t);
    // Search in the tree's item order; the project's own item is left out.
    std::vector<TTreeNodeData*> order;
    if (Project->Item) {
        for (ITreeItem* it = Project->Item->GetNext(); it; it = it->GetNext())
            if (auto* n = static_cast<TTreeNodeData*>(it->GetData()))
                order.push_back(n);
    } else {
        CollectNodes(Project, order);
        order.erase(order.begin());
    }
    TTreeNodeData* other = nullptr;
    for (TTreeNodeData* n : order) {
        if (!RectContains(n->TrackRect, px, y))
            continue;
        // A transition wins over the clips it overlaps.
        if (dynamic_cast<TTransNode*>(n))
            return n;
        if (!other)
            other = n;
    }
    return other;
}

// ---- edits --------------------------------------------------------------------------------

void TTrackDraw::AddStopPoint(int32_t y, Extended t) {
    if (!Project || !PointInStopRow(TimeToX(t), y))
        return;
    if (Project->Pegs->GetCount() < 2)
        Project->Pegs->AddPoint(t);
    else
        Beep();
}

void TTrackDraw::AddPeg(int32_t y, Extended t) {
    TTreeNodeData* a = ActiveNode();
    if (!a || !a->Pegs || !PointInCurrentObject(TimeToX(t), y))
        return;
    if (a->Pegs->GetCount() < 2)
        a->Pegs->AddPoint(t);
    else
        Beep();
}

void TTrackDraw::SelectStopPoint(TStopPoint* s) {
    if (!Project)
        return;
    for (int i = 0; i < Project->Pegs->GetCount(); ++i)
        Project->Pegs->GetItem(i)->PegSelected = false;
    if (s)
        s->PegSelected = true;
}

void TTrackDraw::SelectPeg(TStopPoint* s) {
    TTreeNodeData* a = ActiveNode();
    if (!a || !a->Pegs)
        return;
    for (int i = 0; i < a->Pegs->GetCount(); ++i)
        a->Pegs->GetItem(i)->PegSelected = false;
    if (s)
        s->PegSelected = true;
}

void TTrackDraw::SelectObject(TTreeNodeData* node) {
    if (Project)
        Project->SetActiveNode(node);
}

bool TTrackDraw::FindStopPoint(Extended& t, TSearchDirection direction) const {
    return Project && Project->Pegs->FindStopPoint(t, direction);
}

void TTrackDraw::ResetEditor() {
    if (Editor)
        Editor->Reset();
}

// ---- drag edits ---------------------------------------------------------------------------

bool TTrackDraw::MoveStopPoint(TStopPoint* s, Extended t) {
    if (!Project || !s)
        return false;
    const Extended old = s->GetTime();
    s->SetTime(t);
    Project->Pegs->SortByTime();
    return s->GetTime() != old;
}

bool TTrackDraw::MovePeg(TStopPoint* s, Extended t) {
    TTreeNodeData* a = ActiveNode();
    if (!a || !a->Pegs || !s || t < a->GetStartTime() || t > a->GetEndTime())
        return false;
    const Extended old = s->GetTime();
    s->SetTime(t);
    a->Pegs->SortByTime();
    return s->GetTime() != old;
}

bool TTrackDraw::MoveObject(TTreeNodeData* node, Extended saved, Extended delta) {
    if (!node || node->IsPositionLocked() || !node->OffsetApplies)
        return false;
    const Extended old = node->GetOffset();
    node->SetOffset(std::max<Extended>(saved + delta, 0));
    return node->GetOffset() != old;
}

bool TTrackDraw::MoveObjectStart(TTreeNodeData* node, Extended saved, Extended delta) {
    if (!node || node->IsPositionLocked())
        return false;
    Extended v = std::max<Extended>(saved + delta, 0);
    if (auto* movie = dynamic_cast<TMovieNode*>(node)) {
        TPartialInfo& r = movie->ClipRange;
        const TPartialInfo old = r;
        // The in point stays at least MinSpan before a set out point.
        if (!r.ToEnd && v > r.OutTime - MinSpan) {
            v = std::max<Extended>(r.OutTime - MinSpan, 0);
            Beep();
        }
        r.FromStart = saved + delta <= 0;
        if (r.FromStart)
            Beep();
        r.InTime = v;
        if (movie->Pegs)
            movie->Pegs->Clear();
        return r.FromStart != old.FromStart || r.InTime != old.InTime;
    }
    if (!node->OffsetApplies)
        return false;
    const Extended old = node->GetOffset();
    // With a fixed length the end stays where it was: the length can not fall below MinSpan.
    if (!node->AutoDuration)
        v = std::min(v, old + node->UserDuration - MinSpan);
    node->SetOffset(std::max<Extended>(v, 0));
    const Extended moved = node->GetOffset();
    if (!node->AutoDuration)
        node->UserDuration += old - moved;
    return moved != old;
}

bool TTrackDraw::MoveObjectEnd(TTreeNodeData* node, Extended saved, Extended delta) {
    if (!node || node->IsPositionLocked())
        return false;
    Extended v = std::max<Extended>(saved + delta, MinSpan);
    if (auto* movie = dynamic_cast<TMovieNode*>(node)) {
        TPartialInfo& r = movie->ClipRange;
        const TPartialInfo old = r;
        const Extended in = r.FromStart ? 0 : r.InTime;
        if (v < in + MinSpan) {
            v = in + MinSpan;
            Beep();
        }
        if (v < movie->SourceDuration) {
            r.ToEnd = false;
            r.OutTime = v;
        } else {
            r.ToEnd = true;
            r.OutTime = 0;
            Beep();
        }
        if (movie->Pegs)
            movie->Pegs->Clear();
        return r.ToEnd != old.ToEnd || r.OutTime != old.OutTime;
    }
    if (!node->OffsetApplies && node->Kind != nkTransition)
        return false;
    const Extended old = node->GetDuration();
    TTreeNodeData* parent = node->GetParent();
    if (parent && v > parent->GetDuration()) {
        node->AutoDuration = true;
        node->UserDuration = 0;
    } else {
        node->AutoDuration = false;
        node->UserDuration = v;
    }
    return node->GetDuration() != old;
}
