// A music object: sound that runs under its children, which it renders.
#pragma once

#include "MyTreeNode.h"

class TMusicNode : public TCustomSoundNode {
public:
    TMusicNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};
