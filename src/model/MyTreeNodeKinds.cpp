// The node classes between the common node and the media nodes: durable, transable and folder
// nodes, the video track, sound and effect nodes; with their time rules.
#include <algorithm>

#include "MyEffectNodes.h"
#include "MyProjNode.h"
#include "MyTreeNode.h"

// ---- TCustomDurableNode -----------------------------------------------------------------------

TCustomDurableNode::TCustomDurableNode(TCustomProjectNode* project, const std::string& caption,
                                       ITreeItem* item)
    : TTreeNodeData(project, caption, item) {}

Extended CutDuration(const TPartialInfo& r, Extended natural) {
    Extended in = r.FromStart ? 0 : r.InTime;
    Extended out = r.ToEnd ? natural : r.OutTime;
    Extended d = out - in;
    if (d < 0)
        d = 0;
    if (d > natural)
        d = natural;
    if (d < 0)
        d = 0;
    return d;
}

Extended TCustomDurableNode::GetDuration() {
    Extended d = TTreeNodeData::GetDuration();
    if (ClipRange.FromStart && ClipRange.ToEnd)
        return d;
    return CutDuration(ClipRange, NaturalDuration);
}

Extended TCustomDurableNode::GetSourceOffset() {
    Extended s = TTreeNodeData::GetSourceOffset();
    if (!ClipRange.FromStart)
        s += ClipRange.InTime;
    return s;
}

// ---- TCustomTransableNode ---------------------------------------------------------------------

TCustomTransableNode::~TCustomTransableNode() {
    // Transitions linked to this node must not keep pointing at it.
    if (InTrans && InTrans->NextClip == this)
        InTrans->NextClip = nullptr;
    if (OutTrans && OutTrans->PrevClip == this)
        OutTrans->PrevClip = nullptr;
}

Extended TCustomTransableNode::GetStartTime() {
    Extended s = TTreeNodeData::GetStartTime();
    if (InTrans && InTrans->PrevClip)
        s -= InTrans->GetLength();
    return s;
}

void TCustomTransableNode::DropTransitionLinks() {
    // Both ends of each link go, so no transition is left pointing here.
    if (InTrans && InTrans->NextClip == this)
        InTrans->NextClip = nullptr;
    if (OutTrans && OutTrans->PrevClip == this)
        OutTrans->PrevClip = nullptr;
    InTrans = nullptr;
    OutTrans = nullptr;
}

void TCustomTransableNode::ResetLinks() {
    DropTransitionLinks();
    TTreeNodeData::ResetLinks();
}

void TCustomTransableNode::Calculate() {
    // The source's length is known before the track adds up its clips.
    NaturalDuration = GetNaturalDuration();
    TCustomDurableNode::Calculate();
}

// A transition longer than the clip it overlaps is dropped from both of its clips.
static void DropLongTransitions(TCustomTransableNode* node, Extended natural) {
    if (node->OutTrans && node->OutTrans->GetLength() > natural)
        node->OutTrans->Unlink();
    if (node->InTrans && node->InTrans->GetLength() > natural)
        node->InTrans->Unlink();
}

void TCustomTransableNode::Layout(Extended start) {
    NaturalDuration = GetNaturalDuration();
    DropLongTransitions(this, NaturalDuration);
    TTreeNodeData::Layout(start);
}

// ---- TCustomFolderNode ------------------------------------------------------------------------

static EInvalidOperation UnspecifiedKind(TTreeNodeData* child) {
    return EInvalidOperation("TCustomFolderNode._CalcDuration type unspecified: " +
                             child->AddOnName);
}

// How a child of a video track takes part in the track's sequence.
enum class TSequenceRole { Clip, Slot, None };

// Clips (and folders) follow each other, overlapped by their transitions. A sound placed
// directly in a track takes room for its offset and its length in the sequence. Transitions and
// effects, whose times come from their neighbours or their parent, take no room.
static TSequenceRole SequenceRole(TTreeNodeData* c) {
    if (dynamic_cast<TCustomTransableNode*>(c))
        return TSequenceRole::Clip;
    if (dynamic_cast<TCustomSoundNode*>(c))
        return TSequenceRole::Slot;
    return TSequenceRole::None;
}

// Where a clip begins in the sequence when the one before it ends at w: under a linked
// transition it begins where the transition begins.
static Extended SequenceStart(TTreeNodeData* c, Extended w) {
    auto* tn = dynamic_cast<TCustomTransableNode*>(c);
    if (tn && tn->InTrans && tn->InTrans->PrevClip)
        w -= tn->InTrans->GetLength();
    return w;
}

// Where the sequence goes on after child c, laid out at w.
static Extended SequenceNext(TTreeNodeData* c, Extended w) {
    switch (SequenceRole(c)) {
    case TSequenceRole::Clip:
        return SequenceStart(c, w) + c->GetDuration();
    case TSequenceRole::Slot:
        return std::max(w, w + c->GetOffset() + c->GetDuration());
    case TSequenceRole::None:
        break;
    }
    return w;
}

// Where the content of a video track's children ends, laid out from 0.
static Extended TrackContentEnd(TTreeNodeData* track) {
    Extended w = 0;
    for (int i = 0; i < track->GetChildCount(); ++i)
        w = SequenceNext(track->GetChild(i), w);
    return w < 0 ? 0 : w;
}

// A project, group or sub-project lasts as long as its video track (the last one, when there
// are several); other folder kinds do not come here.
void TCustomFolderNode::TakeTrackDuration(TTreeNodeData* child) {
    switch (Kind) {
    case nkProject:
    case nkGroup:
    case nkSubProject:
        if (child->Kind == nkVideoTrack)
            NaturalDuration = child->GetDuration();
        break;
    default:
        throw UnspecifiedKind(child);
    }
}

void TCustomFolderNode::Calculate() {
    NaturalDuration = 0;
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        c->Calculate();
        if (Kind != nkVideoTrack)
            TakeTrackDuration(c);
    }
    if (Kind == nkVideoTrack) {
        // A transition longer than either of its clips is unlinked from both before any time is
        // taken from it.
        for (int i = 0; i < GetChildCount(); ++i) {
            auto* t = dynamic_cast<TTransNode*>(GetChild(i));
            if (!t)
                continue;
            Extended l = t->GetLength();
            if ((t->PrevClip && l > t->PrevClip->GetDuration()) ||
                (t->NextClip && l > t->NextClip->GetDuration()))
                t->Unlink();
        }
        NaturalDuration = TrackContentEnd(this);
    }
    FolderDuration = NaturalDuration;
}

void TCustomFolderNode::Layout(Extended start) {
    NaturalDuration = GetNaturalDuration();
    // The content begins where the folder begins: under a transition from a clip before it,
    // where that transition begins; a leading transition overlaps the folder's own start.
    Extended w = SequenceStart(this, start);
    if (Kind == nkVideoTrack) {
        // A linked transition overlaps the end of the clip before it and the start of the clip
        // after it, which starts where the transition starts.
        for (int i = 0; i < GetChildCount(); ++i) {
            TTreeNodeData* c = GetChild(i);
            c->Layout(w);
            w = SequenceNext(c, w);
        }
    } else {
        TTreeNodeData* prev = nullptr;
        for (int i = 0; i < GetChildCount(); ++i) {
            TTreeNodeData* c = GetChild(i);
            if (prev && prev->Kind == nkTransition)
                w -= prev->GetDuration();
            c->Layout(w);
            w += c->GetDuration();
            TakeTrackDuration(c);
            prev = c;
        }
    }
    DropLongTransitions(this, NaturalDuration);
    StartTime = start;
}

TUserFolder::TUserFolder(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(project, caption, item) {
    Kind = nkGroup;
}

// ---- TQueueFolder -----------------------------------------------------------------------------

TQueueFolder::TQueueFolder(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(project, caption, item) {
    Kind = nkVideoTrack;
}

bool TQueueFolder::PrepareFrame(TBitmap* bitmap, Extended t) {
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        if (c->Kind == nkTransition && c->IsEnabled())
            return c->PrepareFrame(bitmap, t);
    }
    return TTreeNodeData::PrepareFrame(bitmap, t);
}

bool TQueueFolder::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    if (ProjectFrameRate() == 0)
        return false;
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        if (c->Kind == nkTransition && c->IsEnabled() && c->GetStartTime() <= t &&
            t <= c->GetEndTime()) {
            // The transition renders the clips on both of its sides itself.
            c->RenderFrame(bitmap, wantAudio, wantVideo, t);
            return true;
        }
    }
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        if (c->IsEnabled() && c->GetStartTime() <= t && t <= c->GetEndTime())
            c->RenderFrame(bitmap, wantAudio, wantVideo, t);
    }
    return true;
}

// ---- TCustomSoundNode -------------------------------------------------------------------------

TCustomSoundNode::TCustomSoundNode(TCustomProjectNode* project, const std::string& caption,
                                   ITreeItem* item)
    : TCustomDurableNode(project, caption, item) {
    Kind = nkAudio;
    OffsetApplies = true;
}

// Sounds and overlays sit relative to their parent's start and source cut.
Extended StartFromParent(TTreeNodeData* node) {
    TTreeNodeData* p = node->GetParent();
    if (!p)
        return 0;
    return p->GetStartTime() + node->Offset - p->GetSourceOffset();
}

Extended TCustomSoundNode::GetStartTime() {
    // A video track plays its children one after another: a sound there has its own place in
    // the sequence, not the track's start.
    TTreeNodeData* p = GetParent();
    if (p && p->Kind == nkVideoTrack)
        return SlotStart + Offset;
    return StartFromParent(this);
}

void TCustomSoundNode::Layout(Extended start) {
    SlotStart = start;
    TCustomDurableNode::Layout(start);
}
