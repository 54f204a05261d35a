#include "MyClipNode.h"

#include "MyValueStream.h"

TClipNode::TClipNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkClip;
    AutoDuration = false;
    UserDuration = 1.0L;
}

void TClipNode::WriteAfter(TValueWriter& writer) const {
    TMasterNode::WriteAfter(writer);
    writer.WriteString(Folder);
    writer.WriteFloat(ClipRate);
}

void TClipNode::ReadAfter(TValueReader& reader) {
    TMasterNode::ReadAfter(reader);
    Folder = reader.ReadString();
    ClipRate = ReadFiniteFloat(reader);
}
