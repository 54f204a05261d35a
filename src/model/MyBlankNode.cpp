#include "MyBlankNode.h"

#include "MyGraphics.h"
#include "MyPCMTrans.h"
#include "MyProjNode.h"
#include "MyValueStream.h"

std::vector<uint8_t> MakeFrameSilence(const TAudioFormat& format, int32_t samples) {
    // Whole sample frames of the format's own silence (0x80 for unsigned 8-bit samples).
    if (samples <= 0 || format.Wfx.nSamplesPerSec == 0)
        return {};
    const int32_t bytes = CheckedMul<int32_t>(samples, GetBlockAlign(format));
    if (bytes <= 0)
        return {};
    return std::vector<uint8_t>(static_cast<size_t>(bytes), PcmSilenceByte(format));
}

int32_t AbsoluteItemIndex(const ITreeItem* item) {
    if (!item)
        return -1;
    const ITreeItem* top = item;
    while (top->GetParent())
        top = top->GetParent();
    int32_t index = 0;
    for (const ITreeItem* i = top->GetSiblingItem(0); i; i = i->GetNext(), ++index)
        if (i == item)
            return index;
    return -1;
}

bool BuildFrameSilence(TCustomDurableNode& node, TFrameSilence& silence) {
    if (!node.Project)
        return false;
    const TCustomProjectNode& p = *node.Project;
    silence.Format = p.AudioFormat;
    try {
        silence.Data = MakeFrameSilence(p.AudioFormat, p.SoundFrameSamples());
    } catch (const EIntOverflow&) {
        return false; // a frame rate so small that one frame's sound can not be held
    }
    if (silence.Data.empty())
        return false;
    silence.SourceId = AbsoluteItemIndex(node.Item);
    TNodeInfo info;
    node.GetNodeInfo(info);
    silence.Balance = info.Sizing;
    silence.Volume = info.Level;
    return true;
}

void DeliverFrameSilence(TCustomDurableNode& node, TFrameSilence& silence) {
    if (!node.AudioHandler)
        return;
    TAudioSourceInfo source(silence.SourceId, std::move(silence.Data), silence.Balance,
                            silence.Volume);
    node.AudioHandler(source);
}

TBlankNode::TBlankNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TMasterNode(project, caption, item) {
    Kind = nkBlank;
    AutoDuration = false;
    UserDuration = 1.0L;
}

Extended TBlankNode::GetDuration() {
    // Black frames have no source to cut: a clip range (a file may carry one) leaves their
    // length alone.
    return UserDuration;
}

Extended TBlankNode::GetSourceOffset() {
    // Nor does a range move the effects under them.
    return TTreeNodeData::GetSourceOffset();
}

void FillBitmap(TBitmap* bitmap, uint32_t colour) {
    if (!bitmap || bitmap->Empty())
        return;
    TCanvas& c = bitmap->Canvas();
    const TBrush saved = c.Brush;
    c.Brush.Color = colour & 0xFFFFFF;
    c.Brush.Style = bsSolid;
    c.FillRect(Rect(0, 0, bitmap->Width(), bitmap->Height()));
    c.Brush = saved;
}

bool TBlankNode::PrepareFrame(TBitmap* bitmap, Extended t) {
    FillBitmap(bitmap, BlankColor);
    return TMasterNode::PrepareFrame(bitmap, t);
}

bool TBlankNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    // Only the colour here: the base render below runs each child effect once, inside its own
    // span, as under a movie.
    if (wantVideo)
        FillBitmap(bitmap, BlankColor);
    if (AudioHandler && wantAudio) {
        TFrameSilence silence;
        if (BuildFrameSilence(*this, silence))
            HandFrameSilence(silence);
    }
    return TMasterNode::RenderFrame(bitmap, wantAudio, wantVideo, t);
}

void TBlankNode::WriteAfter(TValueWriter& writer) const {
    TMasterNode::WriteAfter(writer);
    writer.WriteInteger(static_cast<int32_t>(BlankColor));
}

void TBlankNode::ReadAfter(TValueReader& reader) {
    TMasterNode::ReadAfter(reader);
    BlankColor = static_cast<uint32_t>(reader.ReadInteger());
}
