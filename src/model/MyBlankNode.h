// Black frames: a plain colour for a set time, with silence.
#pragma once

#include "MyTreeNode.h"

class TBlankNode : public TMasterNode {
public:
    TBlankNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};
