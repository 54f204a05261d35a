#include "MyMovieNode.h"

#include "MyValueStream.h"

TMovieNode::TMovieNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkVideo;
    Color = 0x91C8FF;
    BalanceCurve = Curves->Register(ckSizing, "Audio ballance");
    VolumeCurve = Curves->Register(ckLevel, "Audio volume");
}

void TMovieNode::WriteAfter(TValueWriter& writer) const {
    TMasterNode::WriteAfter(writer);
    writer.WriteBoolean(UseAudio);
    writer.WriteFloat(ReservedValue);
}

void TMovieNode::ReadAfter(TValueReader& reader) {
    TMasterNode::ReadAfter(reader);
    UseAudio = reader.ReadBoolean();
    ReservedValue = reader.ReadFloat();
}
