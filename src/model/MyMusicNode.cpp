#include "MyMusicNode.h"

TMusicNode::TMusicNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomSoundNode(project, caption, item) {
    Kind = nkMusic;
    Color = 0xDFBDBD;
}
