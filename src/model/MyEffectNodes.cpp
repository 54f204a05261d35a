#include "MyEffectNodes.h"

#include "MyValueStream.h"

// ---- Effect nodes -----------------------------------------------------------------------------

TCustomAddOnsNode::TCustomAddOnsNode(TCustomProjectNode* project, const std::string& caption,
                                     ITreeItem* item)
    : TTreeNodeData(project, caption, item) {}

int32_t TCustomAddOnsNode::GetFrameHeight() { return 0; }
int32_t TCustomAddOnsNode::GetFrameWidth() { return 0; }

TFilterNode::TFilterNode(TCustomProjectNode* project, const std::string& caption,
                         ITreeItem* item)
    : TCustomAddOnsNode(project, caption, item) {
    Kind = nkFilter;
    Color = 0xFFAEFF;
    OffsetApplies = true;
}

Extended TFilterNode::GetDuration() {
    TTreeNodeData* p = GetParent();
    if (!p) return 0;
    Extended d = AutoDuration ? p->GetEndTime() - GetStartTime() : UserDuration;
    return d < 0 ? 0 : d;
}

Extended TFilterNode::GetStartTime() {
    TTreeNodeData* p = GetParent();
    if (!p) return 0;
    if (Offset == 0) return p->GetStartTime();
    Extended s = p->GetStartTime() + Offset;
    if (!p->OffsetApplies) s -= p->GetSourceOffset();
    return s;
}

TOverlayNode::TOverlayNode(TCustomProjectNode* project, const std::string& caption,
                           ITreeItem* item)
    : TCustomAddOnsNode(project, caption, item) {
    Kind = nkOverlay;
    Color = 0xFFCA95;
    OffsetApplies = true;
}

Extended TOverlayNode::GetDuration() {
    TTreeNodeData* p = GetParent();
    if (!p) return 0;
    Extended r = p->GetDuration();
    Extended d = AutoDuration ? r - Offset : UserDuration;
    return d < 0 ? 0 : d;
}

Extended TOverlayNode::GetStartTime() { return StartFromParent(this); }

TTransNode::TTransNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomAddOnsNode(project, caption, item) {
    Kind = nkTransition;
    Color = 0x97FFFF;
    UserDuration = 2.0L;
}

TTransNode::~TTransNode() { Unlink(); }

Extended TTransNode::GetDuration() {
    if (!PrevClip && !NextClip) return 0;
    return UserDuration;
}

Extended TTransNode::GetStartTime() {
    Extended s = TTreeNodeData::GetStartTime();
    if (PrevClip) s -= UserDuration;
    return s;
}

void TTransNode::SetNeighbour(bool side, TCustomTransableNode* node) {
    if (side)
        PrevClip = node;
    else
        NextClip = node;
}

void TTransNode::ResetLinks() {
    if (PrevClip && PrevClip->OutTrans == this) PrevClip->OutTrans = nullptr;
    if (NextClip && NextClip->InTrans == this) NextClip->InTrans = nullptr;
    PrevClip = nullptr;
    NextClip = nullptr;
    TTreeNodeData::ResetLinks();
}

void TTransNode::Unlink() {
    // Both clips forget this transition, and it forgets them.
    if (PrevClip && PrevClip->OutTrans == this) PrevClip->OutTrans = nullptr;
    if (NextClip && NextClip->InTrans == this) NextClip->InTrans = nullptr;
    PrevClip = nullptr;
    NextClip = nullptr;
    TTreeNodeData::Unlink();
}

void TTransNode::Calculate() {
    TTreeNodeData* p = GetParent();
    if (!p || !IsEnabled()) return;
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

// ---- stored form ------------------------------------------------------------------------------

void TCustomAddOnsNode::WriteBefore(TValueWriter& w) const { w.WriteString(AddOnID); }

void TCustomAddOnsNode::ReadBefore(TValueReader& r) {
    const size_t at = r.GetPosition();
    std::string id = r.ReadString();
    if (!id.empty())
        throw EReadError("Unknown add-on " + id, {}, static_cast<int64_t>(at));
    AddOnID.clear();
}

void TCustomAddOnsNode::WriteAddOnData(TValueWriter&) const {}
void TCustomAddOnsNode::ReadAddOnData(TValueReader&) {}

void TFilterNode::WriteAfter(TValueWriter& w) const { WriteAddOnData(w); }
void TFilterNode::ReadAfter(TValueReader& r) { ReadAddOnData(r); }

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
