#include "MyWarpNode.h"

TWarpNode::TWarpNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMovieNode(project, caption, item) {
    Kind = nkWarp;
}
