#include "MyWarpNode.h"

#include "MyValueStream.h"

TWarpNode::TWarpNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMovieNode(project, caption, item) {
    Kind = nkWarp;
    AutoDuration = false;
    UseAudio = false;
    OutputDuration = 10000;
    UserDuration = 10.0L;
    BalanceCurve = Curves->Register(ckSizing, "*");
    VolumeCurve = Curves->Register(ckLevel, "Motion speed");
    if (VolumeCurve) VolumeCurve->Stepped = true;
}

void TWarpNode::WriteAfter(TValueWriter& writer) const {
    TMovieNode::WriteAfter(writer);
    writer.WriteInteger(OutputDuration);
}

void TWarpNode::ReadAfter(TValueReader& reader) {
    TMovieNode::ReadAfter(reader);
    OutputDuration = reader.ReadInteger();
}
