// A fast/slow-motion object: a movie played at a speed that follows a curve.
#pragma once

#include "MyMovieNode.h"

class TWarpNode : public TMovieNode {
public:
    TWarpNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};
