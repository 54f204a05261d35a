// A video object: frames and sound of an AVI movie placed on the project's time axis.
#pragma once

#include "MyTreeNode.h"

class TMovieNode : public TMasterNode {
public:
    TMovieNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};
