#include "MyMovieNode.h"

TMovieNode::TMovieNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkVideo;
    Color = 0x91C8FF;
}
