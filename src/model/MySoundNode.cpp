#include "MySoundNode.h"

TSoundNode::TSoundNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomSoundNode(project, caption, item) {
    Kind = nkAudio;
    Color = 0xDFBDBD;
}
