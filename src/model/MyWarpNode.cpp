#include "MyWarpNode.h"

#include "MyProjNode.h"
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
    if (VolumeCurve)
        VolumeCurve->Stepped = true;
}

Extended TWarpNode::GetDuration() {
    // A damaged file may store a negative length; the node then takes no time.
    UserDuration = OutputDuration > 0 ? OutputDuration / 1000.0L : 0;
    return UserDuration;
}

void TWarpNode::SetFileName(const std::string& name) {
    TMovieNode::SetFileName(name);
    // The movie enables its first curve by the file's sound; here that curve is the speed,
    // which matters just as much for a silent file.
    if (VolumeCurve)
        VolumeCurve->SetEnabled(true);
}

Extended TWarpNode::SpeedOf(Extended v) {
    if (v == 0)
        return 1.0L;
    if (v > 0)
        return 8 * v;
    return -1 / (8 * v);
}

Extended TWarpNode::MapTime(Extended t) {
    Extended src = 0, previous = 0, speed = 1.0L;
    const int n = VolumeCurve ? VolumeCurve->GetCount() : 0;
    for (int i = 0; i < n; ++i) {
        const TDataPoint* k = VolumeCurve->GetPoint(i);
        if (i == 0) {
            speed = SpeedOf(k->GetLevel());
            continue;
        }
        const Extended dt = k->Time - previous;
        if (t - previous <= dt)
            break;
        src += dt * speed;
        previous = k->Time;
        speed = SpeedOf(k->GetLevel());
    }
    if (n > 0)
        src += (t - previous) * speed;
    const Extended d = GetSourceDuration();
    return src > d ? d : src;
}

Extended TWarpNode::GetSourceDuration() {
    return GetNaturalDuration();
}

Extended TWarpNode::FitDuration() {
    Extended remaining = GetSourceDuration(), out = 0, previous = 0, speed = 1.0L;
    const int n = VolumeCurve ? VolumeCurve->GetCount() : 0;
    for (int i = 0; i < n; ++i) {
        const TDataPoint* k = VolumeCurve->GetPoint(i);
        if (i == 0) {
            speed = SpeedOf(k->GetLevel());
            continue;
        }
        const Extended dt = k->Time - previous;
        if (remaining / speed <= dt)
            break;
        out += dt;
        remaining -= dt * speed;
        previous = k->Time;
        speed = SpeedOf(k->GetLevel());
    }
    if (n > 0)
        out += remaining / speed;
    return Project ? Project->SnapTime(out) : out;
}

Extended TWarpNode::SourceTimeAt(Extended t) {
    // Keys sit in the node's local time, so they are read there whatever the node's start.
    const Extended s = MapTime(t - GetStartTime()) + InPoint();
    return s > 0 ? s : 0;
}

void TWarpNode::WriteAfter(TValueWriter& writer) const {
    TMovieNode::WriteAfter(writer);
    writer.WriteInteger(OutputDuration);
}

void TWarpNode::ReadAfter(TValueReader& reader) {
    TMovieNode::ReadAfter(reader);
    OutputDuration = reader.ReadInteger();
}
