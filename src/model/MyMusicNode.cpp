#include "MyMusicNode.h"

#include "MyProjNode.h"

namespace {
constexpr uint32_t clMusicBackground = 0x808080;
const TAudioFormat NoFormat{};
} // namespace

TMusicNode::TMusicNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item)
    : TSoundSourceNode(project, caption, item) {
    Kind = nkMusic;
    Color = 0xDFBDBD;
}

const TAudioFormat& TMusicNode::GetTargetFormat() const {
    return Project ? Project->AudioFormat : NoFormat;
}

bool TMusicNode::RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) {
    if (bitmap && !bitmap->Empty()) {
        TCanvas& c = bitmap->Canvas();
        c.Brush.Color = clMusicBackground;
        c.Brush.Style = bsSolid;
        c.FillRect(TRect{0, 0, bitmap->Width(), bitmap->Height()});
    }
    if (!RenderSound(wantAudio, t))
        return false;
    return TSoundSourceNode::RenderFrame(bitmap, wantAudio, wantVideo, t);
}
