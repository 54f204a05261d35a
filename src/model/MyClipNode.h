// A bitmap clip: a folder of still pictures played at a chosen rate.
#pragma once

#include "MyTreeNode.h"

class TClipNode : public TMasterNode {
public:
    TClipNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};
