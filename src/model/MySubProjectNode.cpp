#include "MySubProjectNode.h"

TSubProjectNode::TSubProjectNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(project, caption, item) {
    Kind = nkSubProject;
    SaveFileName = false;
}
