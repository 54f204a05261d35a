#include "MyClipNode.h"

TClipNode::TClipNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkClip;
}
