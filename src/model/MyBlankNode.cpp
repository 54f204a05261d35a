#include "MyBlankNode.h"

#include "MyValueStream.h"

TBlankNode::TBlankNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkBlank;
    AutoDuration = false;
    UserDuration = 1.0L;
}

void TBlankNode::WriteAfter(TValueWriter& writer) const {
    TMasterNode::WriteAfter(writer);
    writer.WriteInteger(static_cast<int32_t>(BlankColor));
}

void TBlankNode::ReadAfter(TValueReader& reader) {
    TMasterNode::ReadAfter(reader);
    BlankColor = static_cast<uint32_t>(reader.ReadInteger());
}
