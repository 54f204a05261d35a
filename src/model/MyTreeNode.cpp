#include "MyTreeNode.h"

#include <algorithm>

#include "IUiServices.h"
#include "MyBlankNode.h"
#include "MyClipNode.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyMusicNode.h"
#include "MyProjNode.h"
#include "MySoundNode.h"
#include "MySubProjectNode.h"
#include "MyWarpNode.h"

TAddOnPreviewContext AddOnPreview;

namespace {

// The seven curves every node registers, in this order; all start disabled.
const TCurveTemplate StandardCurves[] = {
    {"{C9EEAD53-8FD8-4852-8214-7E949739C4A0}", "On-screen positioning", vmPosition, ckPosition, 1},
    {"{155D1DC4-9507-4911-B1DE-D46896A5E674}", "Level", vmLevel, ckLevel, 0},
    {"{8C4F7B38-9275-4AA5-AA33-BD6CD427A851}", "Sizing", vmLevel, ckSizing, 0},
    {"{1C6F9671-3846-47BA-910F-DA139BB9BBCC}", "Text", vmText, ckText, 1},
    {"{4C6F9671-3846-47BA-910F-DA139229BBCC}", "Color", vmColor, ckColor, 1},
    {"{8AB2233F-3351-45F0-9577-2E6B39A75A5F}", "Pick", vmPick, ckPick, 1},
    {"{55359671-3846-47BA-910F-DA139229BBCC}", "Font", vmFont, ckFont, 1},
};

// Seconds cut from every end so that a node ending at t does not render at t.
constexpr Extended EndEpsilon = 1e-7L;

} // namespace

int KindImageIndex(uint8_t kind) {
    switch (kind) {
    case nkGroup:
        return 2;
    case nkVideoTrack:
        return 3;
    case nkVideo:
        return 20;
    case nkFilter:
        return 26;
    case nkTransition:
        return 28;
    case nkOverlay:
        return 27;
    case nkBlank:
        return 22;
    case nkClip:
        return 21;
    case nkAudio:
        return 24;
    case nkMusic:
        return 25;
    case nkSubProject:
        return 4;
    case nkWarp:
        return 23;
    default:
        return -1;
    }
}

std::unique_ptr<TTreeNodeData> CreateNodeOfKind(uint8_t kind, TCustomProjectNode* project,
                                                const std::string& caption, ITreeItem* item) {
    switch (kind) {
    case nkProject:
    case nkSubProject:
        return std::make_unique<TSubProjectNode>(project, caption, item);
    case nkGroup:
        return std::make_unique<TUserFolder>(project, caption, item);
    case nkVideoTrack:
        return std::make_unique<TQueueFolder>(project, caption, item);
    case nkVideo:
        return std::make_unique<TMovieNode>(project, caption, item);
    case nkFilter:
        return std::make_unique<TFilterNode>(project, caption, item);
    case nkTransition:
        return std::make_unique<TTransNode>(project, caption, item);
    case nkOverlay:
        return std::make_unique<TOverlayNode>(project, caption, item);
    case nkBlank:
        return std::make_unique<TBlankNode>(project, caption, item);
    case nkClip:
        return std::make_unique<TClipNode>(project, caption, item);
    case nkAudio:
        return std::make_unique<TSoundNode>(project, caption, item);
    case nkMusic:
        return std::make_unique<TMusicNode>(project, caption, item);
    case nkWarp:
        return std::make_unique<TWarpNode>(project, caption, item);
    default:
        throw EInvalidOperation("TTreeNodeData._AddNode: Mode unknown");
    }
}

// ---- TTreeNodeData ------------------------------------------------------------------------------

TTreeNodeData::TTreeNodeData(TCustomProjectNode* project, const std::string& caption,
                             ITreeItem* item)
    : Curves(std::make_unique<TTimeDataSet>()), Pegs(std::make_unique<TStopList>(this)) {
    Project = project;
    Item = item;
    if (Item) {
        Item->SetData(this);
        Item->SetText(caption);
        Item->SetImageIndex(0);
    }
    Id = NewGuidText();
    for (const auto& t : StandardCurves)
        Curves->AddFromTemplate(t);
}

TTreeNodeData::~TTreeNodeData() {
    Pegs.reset();
    FreeChildren();
    if (Project && Project != this)
        Project->ForgetNode(this);
    if (Item) {
        Item->SetData(nullptr);
        Item->Delete();
        Item = nullptr;
    }
}

void TTreeNodeData::FreeChildren() {
    if (!Item) {
        OwnedChildren.clear();
        return;
    }
    for (int i = Item->GetCount() - 1; i >= 0; --i) {
        auto* child = static_cast<TTreeNodeData*>(Item->GetItem(i)->GetData());
        if (child)
            ReleaseChild(child).reset();
    }
    OwnedChildren.clear();
    Item->DeleteChildren();
}

std::unique_ptr<TTreeNodeData> TTreeNodeData::ReleaseChild(TTreeNodeData* child) {
    auto it = std::find_if(OwnedChildren.begin(), OwnedChildren.end(),
                           [child](const auto& p) { return p.get() == child; });
    if (it == OwnedChildren.end())
        throw EInvalidOperation("TTreeNodeData.ReleaseChild: not a child of this node");
    std::unique_ptr<TTreeNodeData> owned = std::move(*it);
    OwnedChildren.erase(it);
    return owned;
}

void TTreeNodeData::AdoptChild(std::unique_ptr<TTreeNodeData> child) {
    OwnedChildren.push_back(std::move(child));
}

void TTreeNodeData::DeleteChild(TTreeNodeData* child) {
    ReleaseChild(child).reset();
}

void TTreeNodeData::MoveTo(TTreeNodeData* newParent, int index) {
    TTreeNodeData* oldParent = GetParent();
    if (!oldParent || !newParent || !Item || !newParent->Item)
        throw EInvalidOperation("TTreeNodeData.MoveTo: node can not be moved");
    for (TTreeNodeData* p = newParent; p; p = p->GetParent())
        if (p == this)
            throw EInvalidOperation("TTreeNodeData.MoveTo: node moved into itself");
    std::unique_ptr<TTreeNodeData> self = oldParent->ReleaseChild(this);
    Item->MoveTo(newParent->Item, index);
    newParent->AdoptChild(std::move(self));
}

TTreeNodeData* TTreeNodeData::AddNode(const std::string& caption, int mode, uint8_t kind) {
    if (kind == nkProject)
        kind = nkSubProject;
    if (KindImageIndex(kind) < 0 || mode < amLastChild || mode > amBeforeSibling || !Item)
        throw EInvalidOperation("TTreeNodeData._AddNode: Mode unknown");

    ITreeItem* newItem = nullptr;
    TTreeNodeData* owner = this; // the node that will own the new node
    switch (mode) {
    case amLastChild:
        newItem = Item->AddChild(caption);
        break;
    case amLastSibling:
        newItem = Item->InsertSibling(Item->GetSiblingCount(), caption);
        owner = GetParent();
        break;
    case amAfterInTree: {
        ITreeItem* next = Item->GetNext();
        if (next && next->GetParent() == Item) {
            newItem = Item->InsertChild(0, caption);
        } else if (next) {
            newItem = next->InsertSibling(next->GetIndex(), caption);
            auto* p = next->GetParent();
            owner = p ? static_cast<TTreeNodeData*>(p->GetData()) : nullptr;
        } else {
            newItem = Item->InsertSibling(Item->GetSiblingCount(), caption);
            owner = GetParent();
        }
        break;
    }
    case amBeforeSibling:
        newItem = Item->InsertSibling(Item->GetIndex(), caption);
        owner = GetParent();
        break;
    }
    if (!owner) {
        // A sibling of the root has no node to own it: refuse rather than leak an orphan.
        newItem->Delete();
        throw EInvalidOperation("TTreeNodeData._AddNode: Mode unknown");
    }
    std::unique_ptr<TTreeNodeData> node;
    try {
        node = CreateNodeOfKind(kind, Project, caption, newItem);
    } catch (...) {
        newItem->Delete();
        throw;
    }
    newItem->SetImageIndex(KindImageIndex(kind));
    node->ImageIndex = newItem->GetImageIndex();
    TTreeNodeData* raw = node.get();
    owner->AdoptChild(std::move(node));
    return raw;
}

TTreeNodeData* TTreeNodeData::GetParent() const {
    if (!Item)
        return nullptr;
    ITreeItem* p = Item->GetParent();
    return p ? static_cast<TTreeNodeData*>(p->GetData()) : nullptr;
}

int TTreeNodeData::GetChildCount() const {
    return Item ? Item->GetCount() : 0;
}

TTreeNodeData* TTreeNodeData::GetChild(int i) const {
    if (!Item)
        throw EListError("TTreeNodeData.GetChild: no item", i, 0);
    return static_cast<TTreeNodeData*>(Item->GetItem(i)->GetData());
}

int TTreeNodeData::GetIndex() const {
    return Item ? Item->GetIndex() : -1;
}

std::string TTreeNodeData::GetCaption() const {
    return Item ? Item->GetText() : std::string();
}

void TTreeNodeData::SetCaption(const std::string& s) {
    const std::string text = TrimText(s);
    if (text.empty() || !Item)
        return;
    Item->SetText(text);
}

int TTreeNodeData::GetTreeLevel() const {
    return Item ? Item->GetLevel() : -1;
}

bool TTreeNodeData::IsEnabled() const {
    for (const TTreeNodeData* n = this; n; n = n->GetParent())
        if (!n->Enabled)
            return false;
    return true;
}

bool TTreeNodeData::IsPositionLocked() const {
    for (const TTreeNodeData* n = this; n; n = n->GetParent())
        if (n->PositionLocked)
            return true;
    return false;
}

uint32_t TTreeNodeData::GetDrawColor() const {
    return IsEnabled() ? Color : clDisabledNode;
}

Extended TTreeNodeData::ProjectFrameRate() const {
    return Project ? Project->GetFrameRate() : 0;
}

Extended TTreeNodeData::GetDuration() {
    return AutoDuration ? NaturalDuration : UserDuration;
}

Extended TTreeNodeData::GetStartTime() {
    return StartTime + (OffsetApplies ? Offset : 0);
}

bool TTreeNodeData::GetSealed() {
    if (Sealed)
        return true;
    TTreeNodeData* p = GetParent();
    return p ? p->GetSealed() : false;
}

void TTreeNodeData::ResetLinks() {
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->ResetLinks();
}

void TTreeNodeData::Calculate() {
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->Calculate();
}

void TTreeNodeData::Layout(Extended start) {
    StartTime = start + (OffsetApplies ? Offset : 0);
    const Extended childStart = StartTime + GetDuration();
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->Layout(childStart);
}

void TTreeNodeData::GetFrameRect(TRectI& rect) {
    rect = TRectI{};
    if (TTreeNodeData* p = GetParent())
        p->GetFrameRect(rect);
}

int32_t TTreeNodeData::GetFrameHeight() {
    TRectI r;
    GetFrameRect(r);
    return CheckedSub(r.Bottom, r.Top);
}

int32_t TTreeNodeData::GetFrameWidth() {
    TRectI r;
    GetFrameRect(r);
    return CheckedSub(r.Right, r.Left);
}

void TTreeNodeData::SetOffset(Extended value) {
    if (OffsetApplies)
        Offset = value < 0 ? 0 : value;
}

void TTreeNodeData::Unlink() {
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->Unlink();
}

void TTreeNodeData::Changed() {
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->Changed();
}

void TTreeNodeData::SetFileName(const std::string& name) {
    if (name.empty())
        return;
    if (FileExists(name)) {
        FileName = name;
        MissingFileName.clear();
    } else {
        MissingFileName = name;
        LoadMessages.Add("Can not locate " + name + ".");
    }
}

Extended TTreeNodeData::GetSourceOffset() {
    TTreeNodeData* p = GetParent();
    return Offset + (p ? p->GetSourceOffset() : 0);
}

void TTreeNodeData::BeginRender() {
    if (ProjectFrameRate() == 0)
        return;
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->BeginRender();
}

bool TTreeNodeData::PrepareFrame(TBitmap* bitmap, Extended t) {
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        if (c->IsEnabled() && !c->PrepareFrame(bitmap, t))
            return false;
    }
    return true;
}

bool TTreeNodeData::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    if (ProjectFrameRate() == 0)
        return false;
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        if (c->IsEnabled() && c->GetStartTime() <= t && t <= c->GetEndTime())
            c->RenderFrame(bitmap, wantAudio, wantVideo, t);
    }
    return true;
}

bool TTreeNodeData::PrepareAtStart(TBitmap* bitmap) {
    if (ProjectFrameRate() == 0)
        return false;
    for (int i = 0; i < GetChildCount(); ++i) {
        TTreeNodeData* c = GetChild(i);
        if (c->IsEnabled())
            c->PrepareFrame(bitmap, c->GetStartTime());
    }
    return true;
}

Extended TTreeNodeData::GetEndTime() {
    Extended e = GetStartTime() + GetDuration() - EndEpsilon;
    if (TTreeNodeData* p = GetParent()) {
        Extended pe = p->GetEndTime();
        if (e > pe)
            e = pe;
        Extended ps = p->GetStartTime();
        if (e < ps)
            e = ps;
    }
    return e;
}

void TTreeNodeData::UpdateCurves(Extended t) {
    Curves->SetTime(t - GetStartTime());
    // Half a frame of slack on each side; without a frame rate there is none. The frame is the
    // project's stored one, also while the add-on preview counts frames in seconds.
    const Extended fps = Project ? Project->FrameRate : 0;
    const Extended h = fps > 0 ? 0.5L / fps : 0;
    for (int i = GetChildCount() - 1; i >= 0; --i) {
        TTreeNodeData* c = GetChild(i);
        if (c->GetStartTime() - h <= t && t <= c->GetEndTime() + h)
            c->UpdateCurves(t);
    }
}

bool TTreeNodeData::GetNodeInfo(TNodeInfo& info) {
    if (AddOnPreview.Active) {
        info = AddOnPreview.Info;
        return true;
    }
    info = TNodeInfo{};
    info.IsEdited = Project && Project->EditedNode == this;
    info.Curves = Curves.get();
    if (TTimeData* c = Curves->FindByKind(ckPosition)) {
        Extended x, y;
        c->CurrentPoint.GetPosition(x, y);
        info.X = Round(GetFrameWidth() * x);
        info.Y = Round(GetFrameHeight() * y);
    }
    if (TTimeData* c = Curves->FindByKind(ckLevel))
        info.Level = c->CurrentPoint.GetLevel();
    if (TTimeData* c = Curves->FindByKind(ckSizing))
        info.Sizing = std::clamp(c->CurrentPoint.GetLevel(), -1.0L, 1.0L);
    if (TTimeData* c = Curves->FindByKind(ckColor))
        info.Color = static_cast<uint32_t>(c->CurrentPoint.GetRawValue());
    if (TTimeData* c = Curves->FindByKind(ckPick))
        info.Color = static_cast<uint32_t>(c->CurrentPoint.GetRawValue());
    if (TTimeData* c = Curves->FindByKind(ckText))
        info.Lines = &c->CurrentPoint.Lines;
    if (TTimeData* c = Curves->FindByKind(ckFont))
        info.Font = &c->CurrentPoint.Font;
    return true;
}

void TTreeNodeData::PlaceBetweenPegs() {
    TTreeNodeData* p = GetParent();
    if (!p || p->Kind == nkVideoTrack || p->Pegs->GetCount() == 0)
        return;
    const Extended ps = p->GetStartTime();
    if (p->Pegs->GetCount() == 1) {
        const Extended mark = p->Pegs->GetItem(0)->GetTime();
        IUiServices* ui = Project ? Project->Ui : nullptr;
        TMsgResult r = ui ? ui->Ask("The existing Peg will be the ending point.\r\nIf the existing "
                                    "Peg meant to be the starting point press the [ No ] button.",
                                    TMsgButtons::YesNo)
                          : TMsgResult::No;
        if (r == TMsgResult::Yes) {
            AutoDuration = false;
            SetOffset(0);
            StartWithParent();
            UserDuration = std::max<Extended>(mark - GetStartTime(), 0);
        } else {
            AutoDuration = true;
            SetOffset(OffsetForStart(mark));
        }
        return;
    }
    // The first two marks in list order; a span never comes out negative.
    Extended a = p->Pegs->GetItem(0)->GetTime();
    Extended b = p->Pegs->GetItem(1)->GetTime();
    if (b < a)
        std::swap(a, b);
    AutoDuration = false;
    SetOffset(OffsetForStart(std::max(a, ps)));
    UserDuration = std::max<Extended>(b - GetStartTime(), 0);
}

Extended TTreeNodeData::OffsetForStart(Extended t) {
    // Every start rule is the offset plus a base that does not depend on it, except that a
    // filter's zero offset means "with the parent"; a probe offset of 1 avoids that case.
    const Extended saved = Offset;
    Offset = 1;
    const Extended base = GetStartTime() - 1;
    Offset = saved;
    return std::max<Extended>(t - base, 0);
}

void TTreeNodeData::StartWithParent() {
    TTreeNodeData* p = GetParent();
    if (OffsetApplies && p && GetStartTime() != p->GetStartTime())
        SetOffset(OffsetForStart(p->GetStartTime()));
}

void TTreeNodeData::ResolvePendingPegs() {
    Pegs->ResolvePending();
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->ResolvePendingPegs();
}

void TTreeNodeData::SetPendingPegBase(TTreeNodeData* base) {
    Pegs->SetPendingBase(base);
    for (int i = 0; i < GetChildCount(); ++i)
        GetChild(i)->SetPendingPegBase(base);
}
