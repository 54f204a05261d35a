#include "MyProjNode.h"

TCustomProjectNode::TCustomProjectNode(const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(nullptr, caption, item) {
    Project = this;
    Kind = nkProject;
    SaveFileName = false;
}

TCustomProjectNode::~TCustomProjectNode() {
    // Children go while the root is still whole: their destructors report to it.
    FreeChildren();
}

void TCustomProjectNode::GetFrameRect(TRectI& rect) {
    rect = TRectI{0, 0, Width, Height};
}

void TCustomProjectNode::ForgetNode(TTreeNodeData* node) {
    if (ActiveNode == node) ActiveNode = nullptr;
    if (EditedNode == node) EditedNode = nullptr;
}

void TCustomProjectNode::SetActiveNode(TTreeNodeData* node) {
    if (node && node->GetTreeLevel() <= 0) node = nullptr;
    if (ActiveNode) ActiveNode->Active = false;
    ActiveNode = node;
    if (ActiveNode) ActiveNode->Active = true;
}

TProjectNode::TProjectNode(const std::string& caption, ITreeItem* item)
    : TCustomProjectNode(caption, item) {}

Extended TCustomProjectNode::SnapTime(Extended t) const {
    const Extended fps = GetFrameRate();
    if (fps == 0) return 0;
    Extended r = static_cast<Extended>(Round64(t * fps)) / fps;
    return r < 0 ? 0 : r;
}
