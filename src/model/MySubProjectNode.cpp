#include "MySubProjectNode.h"

#include "MyValueStream.h"

TSubProjectNode::TSubProjectNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TCustomFolderNode(project, caption, item) {
    Kind = nkSubProject;
    SaveFileName = false;
}

void TSubProjectNode::WriteBefore(TValueWriter& writer) const {
    writer.WriteString(GetStoredFileName());
}

void TSubProjectNode::ReadBefore(TValueReader& reader) { SetFileName(reader.ReadString()); }
