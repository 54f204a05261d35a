#include "MyBlankNode.h"

TBlankNode::TBlankNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkBlank;
}
