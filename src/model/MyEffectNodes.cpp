#include "MyEffectNodes.h"

#include <algorithm>

#include "MyAddOnManager.h"
#include "MyCommonServices.h"
#include "MyCustomAddOn.h"
#include "MyProjNode.h"
#include "MyValueStream.h"

namespace {

// Resizes a work picture to the target only when the sizes differ, so it is allocated once.
void SizeLike(TBitmap& work, const TBitmap& target) {
    if (work.Width() != target.Width() || work.Height() != target.Height())
        work.SetSize(target.Width(), target.Height());
}

// The motion path of the effect open in the curve editor helps while editing; it never goes
// into a file.
bool WritesToFile(TCustomProjectNode* project) {
    return project && project->IsWriterTarget();
}

} // namespace

// ---- TCustomAddOnsNode ------------------------------------------------------------------------

TCustomAddOnsNode::TCustomAddOnsNode(TCustomProjectNode* project, const std::string& caption,
                                     ITreeItem* item)
    : TTreeNodeData(project, caption, item), Bridge(std::make_unique<TAddOnBridge>()) {}

TCustomAddOnsNode::~TCustomAddOnsNode() {
    AddOn.reset();
    Bridge.reset();
}

void TCustomAddOnsNode::SetAddOn(const std::string& id) {
    AddOn.reset();
    Unbound.reset();
    Bridge->ID = CutShortString(id);
    // Bound before the add-on exists: it copies these when it is created, registers its
    // curves and borrows its movie reader from its constructor.
    Bridge->CreateMovieInterface = [this](TCustomExtern* owner) -> TMovieInterface* {
        return Project ? Project->CreateMovieInterface(owner) : nullptr;
    };
    Bridge->FreeMovieInterface = [this](TMovieInterface* intf) {
        if (Project)
            Project->FreeMovieInterface(intf);
    };
    Bridge->GetNodeInfo = [this](TNodeInfo& info) { return GetNodeInfo(info); };
    Bridge->RegisterTimeEffect = [this](uint8_t kind, const std::string& caption) {
        return Curves->Register(kind, caption);
    };
    if (Project && Project->AddOnManager)
        AddOn = Project->AddOnManager->CreateObject(*Bridge);
    if (AddOn) {
        Curves->UsesPicture = AddOn->UsesPicture;
        AddOnName = AddOn->Name;
    } else {
        Curves->UsesPicture = false;
        AddOnName.clear();
    }
}

std::string TCustomAddOnsNode::GetAddOnID() const {
    return AddOn ? Bridge->ID : std::string();
}

std::string TCustomAddOnsNode::GetUnboundID() const {
    return Unbound ? Bridge->ID : std::string();
}

int32_t TCustomAddOnsNode::GetFrameHeight() {
    return AddOn ? AddOn->GetHeight() : 0;
}
int32_t TCustomAddOnsNode::GetFrameWidth() {
    return AddOn ? AddOn->GetWidth() : 0;
}
uint8_t TCustomAddOnsNode::GetExternalKind() {
    return AddOn ? AddOn->ExternalKind : 0;
}

// ---- TFilterNode ------------------------------------------------------------------------------

TFilterNode::TFilterNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomAddOnsNode(project, caption, item) {
    Kind = nkFilter;
    Color = 0xFFAEFF;
    OffsetApplies = true;
}

TCustomFilter* TFilterNode::GetFilter() const {
    return dynamic_cast<TCustomFilter*>(AddOn.get());
}

Extended TFilterNode::GetDuration() {
    TTreeNodeData* p = GetParent();
    if (!p)
        return 0;
    Extended d = AutoDuration ? p->GetEndTime() - GetStartTime() : UserDuration;
    return d < 0 ? 0 : d;
}

Extended TFilterNode::GetStartTime() {
    TTreeNodeData* p = GetParent();
    if (!p)
        return 0;
    if (Offset == 0)
        return p->GetStartTime();
    Extended s = p->GetStartTime() + Offset;
    if (!p->OffsetApplies)
        s -= p->GetSourceOffset();
    return s;
}

void TFilterNode::BeginRender() {
    if (TCustomFilter* f = GetFilter())
        f->SetFrameCount(Round(GetDuration() * ProjectFrameRate()));
    TTreeNodeData::BeginRender();
}

bool TFilterNode::RunFilter(TBitmap* bitmap, Extended t) {
    TCustomFilter* f = GetFilter();
    if (!f || !bitmap)
        return false;
    const int32_t n = Round((t - GetStartTime()) * ProjectFrameRate());
    Bridge->NoPath = WritesToFile(Project);
    f->Bitmap = bitmap;
    return f->Run(n, n);
}

bool TFilterNode::PrepareFrame(TBitmap* bitmap, Extended t) {
    return RunFilter(bitmap, t);
}

bool TFilterNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    // Without pictures the children still render, for their sound. A filter that lost its
    // add-on still lets its children draw, but reports that it could not do its own part.
    const bool bound = GetFilter() != nullptr;
    if (wantVideo)
        RunFilter(bitmap, t);
    return TTreeNodeData::RenderFrame(bitmap, wantAudio, wantVideo, t) && bound;
}

// ---- TOverlayNode -----------------------------------------------------------------------------

TOverlayNode::TOverlayNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomAddOnsNode(project, caption, item) {
    Kind = nkOverlay;
    Color = 0xFFCA95;
    OffsetApplies = true;
}

TCustomOverlay* TOverlayNode::GetOverlay() const {
    return dynamic_cast<TCustomOverlay*>(AddOn.get());
}

Extended TOverlayNode::GetDuration() {
    TTreeNodeData* p = GetParent();
    if (!p)
        return 0;
    Extended r;
    TCustomOverlay* o = GetOverlay();
    if (o && o->HasDuration) {
        // An overlay with a length of its own (a movie) is cut like a clip.
        NaturalDuration = o->Duration;
        r = ClipRange.FromStart && ClipRange.ToEnd ? NaturalDuration
                                                   : CutDuration(ClipRange, NaturalDuration);
    } else {
        r = p->GetDuration();
    }
    // The offset counts in the parent's source time; what the overlay gives up of r is the part
    // of its parent that lies before it.
    Extended d = AutoDuration ? r - (GetStartTime() - p->GetStartTime()) : UserDuration;
    return d < 0 ? 0 : d;
}

Extended TOverlayNode::GetStartTime() {
    return StartFromParent(this);
}

void TOverlayNode::SetFileName(const std::string& name) {
    TTreeNodeData::SetFileName(name);
    if (TCustomOverlay* o = GetOverlay())
        o->SetParams(FileName);
}

bool TOverlayNode::GetInfo(std::vector<std::string>& lines) {
    TCustomOverlay* o = GetOverlay();
    if (!o || !o->GetInfo(lines))
        return false;
    if (!ClipRange.FromStart || !ClipRange.ToEnd)
        lines.push_back("Clipped to:   " + FormatTimeText(GetDuration()));
    return true;
}

bool TOverlayNode::FrameAt(Extended& t, int32_t& frame, int32_t& sourceFrame) {
    const Extended fps = ProjectFrameRate();
    Extended f = (t - GetStartTime()) * fps;
    frame = Round(f);
    if (!ClipRange.FromStart) {
        f += ClipRange.InTime * fps;
        t += ClipRange.InTime;
    }
    if (!ClipRange.ToEnd && f > ClipRange.OutTime * fps)
        return false;
    sourceFrame = Round(f);
    return true;
}

bool TOverlayNode::PrepareFrame(TBitmap* bitmap, Extended t) {
    TCustomOverlay* o = GetOverlay();
    if (!o || !bitmap)
        return false;
    int32_t frame, sourceFrame;
    if (!FrameAt(t, frame, sourceFrame))
        return false;
    Bridge->NoPath = WritesToFile(Project);
    o->Bitmap = bitmap;
    o->Run(frame, sourceFrame, t - GetStartTime(), ProjectFrameRate());
    return true;
}

bool TOverlayNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    if (!wantVideo)
        return true;
    TCustomOverlay* o = GetOverlay();
    if (!o || !bitmap)
        return false;
    int32_t frame, sourceFrame;
    if (!FrameAt(t, frame, sourceFrame))
        return false;
    // The add-on hands back its local time; the children sit on the project's time line.
    Bridge->BeforeDraw = [this](TBitmap* b, Extended time) {
        if (!b)
            return;
        Extended at = time + GetStartTime();
        if (!ClipRange.FromStart)
            at -= ClipRange.InTime;
        TTreeNodeData::RenderFrame(b, false, true, at);
    };
    Bridge->NoPath = WritesToFile(Project);
    o->Bitmap = bitmap;
    o->Run(frame, sourceFrame, t - GetStartTime(), ProjectFrameRate());
    return true;
}

// ---- TTransNode -------------------------------------------------------------------------------

TTransNode::TTransNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomAddOnsNode(project, caption, item) {
    Kind = nkTransition;
    Color = 0x97FFFF;
    UserDuration = 2.0L;
}

TTransNode::~TTransNode() {
    Unlink();
}

TCustomTransition* TTransNode::GetTransition() const {
    return dynamic_cast<TCustomTransition*>(AddOn.get());
}

Extended TTransNode::GetDuration() {
    if (!PrevClip && !NextClip)
        return 0;
    return UserDuration;
}

Extended TTransNode::GetStartTime() {
    Extended s = TTreeNodeData::GetStartTime();
    if (PrevClip)
        s -= UserDuration;
    return s;
}

void TTransNode::SetNeighbour(bool side, TCustomTransableNode* node) {
    if (side)
        PrevClip = node;
    else
        NextClip = node;
}

void TTransNode::ResetLinks() {
    if (PrevClip && PrevClip->OutTrans == this)
        PrevClip->OutTrans = nullptr;
    if (NextClip && NextClip->InTrans == this)
        NextClip->InTrans = nullptr;
    PrevClip = nullptr;
    NextClip = nullptr;
    TTreeNodeData::ResetLinks();
}

void TTransNode::Unlink() {
    // Both clips forget this transition, and it forgets them.
    if (PrevClip && PrevClip->OutTrans == this)
        PrevClip->OutTrans = nullptr;
    if (NextClip && NextClip->InTrans == this)
        NextClip->InTrans = nullptr;
    PrevClip = nullptr;
    NextClip = nullptr;
    TTreeNodeData::Unlink();
}

void TTransNode::Calculate() {
    TTreeNodeData* p = GetParent();
    if (!p || !IsEnabled())
        return;
    int i = GetIndex();
    if (i > 0) {
        if (auto* prev = dynamic_cast<TCustomTransableNode*>(p->GetChild(i - 1))) {
            PrevClip = prev;
            prev->OutTrans = this;
        }
    }
    if (i + 1 < p->GetChildCount()) {
        if (auto* next = dynamic_cast<TCustomTransableNode*>(p->GetChild(i + 1))) {
            NextClip = next;
            next->InTrans = this;
        }
    }
    TTreeNodeData::Calculate();
}

Extended TTransNode::GetProgress(Extended t) {
    const Extended length = GetLength();
    if (length <= 0)
        return 1;
    return std::clamp((t - GetStartTime()) / length, 0.0L, 1.0L);
}

bool TTransNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    if (!bitmap)
        return false;
    const Extended lt = t - GetStartTime();
    const Extended p = GetProgress(t);
    // With clips on both sides the sound switches from one to the other at the middle.
    const bool both = PrevClip && NextClip;
    TBitmap* from = nullptr;
    TBitmap* to = nullptr;
    if (PrevClip) {
        SizeLike(FromBitmap, *bitmap);
        from = &FromBitmap;
        if (!PrevClip->RenderFrame(from, both ? wantAudio && p < 0.5L : wantAudio, wantVideo, t))
            return false;
    }
    if (NextClip && lt > 0) {
        SizeLike(ToBitmap, *bitmap);
        to = &ToBitmap;
        if (!NextClip->RenderFrame(to, both ? wantAudio && p >= 0.5L : wantAudio, wantVideo, t))
            return false;
    }
    if (wantVideo) {
        TCustomTransition* trans = GetTransition();
        if (!trans)
            return false;
        trans->Bitmap = bitmap;
        if (AddOnPreview.Active) {
            if (AddOnPreview.WorkBitmap)
                trans->Bitmap = AddOnPreview.WorkBitmap;
            if (AddOnPreview.Picture)
                from = to = AddOnPreview.Picture;
        }
        if (!trans->Execute(from, to, p))
            return false;
    }
    return TTreeNodeData::RenderFrame(bitmap, wantAudio, wantVideo, t);
}

// ---- stored form ------------------------------------------------------------------------------

void TCustomAddOnsNode::WriteBefore(TValueWriter& w) const {
    if (Unbound)
        w.WriteRaw(Unbound->ID);
    else
        w.WriteString(GetAddOnID());
}

void TCustomAddOnsNode::ReadBefore(TValueReader& r) {
    // The add-on is bound before the common record so that the curves it registers exist when
    // the curve set is read.
    const size_t at = r.GetPosition();
    const std::string id = r.ReadString();
    if (id.empty()) {
        AddOn.reset();
        Unbound.reset();
        Bridge->ID.clear();
        AddOnName.clear();
        return;
    }
    SetAddOn(id);
    if (AddOn)
        return;
    // The node stays, draws nothing and keeps what the file holds for its add-on.
    Unbound = std::make_unique<TUnboundRecord>();
    Unbound->ID = r.BytesSince(at);
    LoadMessages.Add("The effect add-on " + Bridge->ID + " of \"" + GetCaption() +
                     "\" is not available here; the effect is kept but shows nothing.");
}

void TCustomAddOnsNode::WriteCurves(TValueWriter& w) const {
    if (Unbound)
        w.WriteRaw(Unbound->Curves);
    else
        TTreeNodeData::WriteCurves(w);
}

void TCustomAddOnsNode::ReadCurves(TValueReader& r) {
    const size_t at = r.GetPosition();
    TTreeNodeData::ReadCurves(r);
    if (Unbound)
        Unbound->Curves = r.BytesSince(at);
}

void TCustomAddOnsNode::WriteAddOnData(TValueWriter& w) const {
    if (Unbound)
        w.WriteRaw(Unbound->Data);
    else if (AddOn)
        AddOn->WriteData(w);
}

void TCustomAddOnsNode::ReadAddOnData(TValueReader& r) {
    if (AddOn) {
        AddOn->ReadData(r);
    } else if (Unbound) {
        // Only the add-on knows how many values its record has; it ends where the values the
        // file must hold next begin.
        const size_t at = r.GetPosition();
        r.SetPosition(FindEndOfStoredValues(r));
        Unbound->Data = r.BytesSince(at);
    }
}

void TFilterNode::WriteAfter(TValueWriter& w) const {
    WriteAddOnData(w);
}
void TFilterNode::ReadAfter(TValueReader& r) {
    ReadAddOnData(r);
}

void TOverlayNode::WriteAfter(TValueWriter& w) const {
    ClipRange.SaveToWriter(w);
    WriteAddOnData(w);
}

void TOverlayNode::ReadAfter(TValueReader& r) {
    ClipRange.LoadFromReader(r);
    ReadAddOnData(r);
}

void TTransNode::WriteAfter(TValueWriter& w) const {
    w.WriteFloat(UserDuration);
    WriteAddOnData(w);
}

void TTransNode::ReadAfter(TValueReader& r) {
    UserDuration = ReadFiniteFloat(r);
    ReadAddOnData(r);
}
