#include "MyBlankNode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ModelRig.h"
#include "MyGraphics.h"
#include "MyPCMTrans.h"
#include "TestData.h"

namespace {

class TRecordingBlank : public TBlankNode {
public:
    using TBlankNode::TBlankNode;
    std::vector<TFrameSilence> Handed;

protected:
    void HandFrameSilence(TFrameSilence& silence) override { Handed.push_back(silence); }
};

struct BlankProject : TModelRig {
    TTreeNodeData* Queue = Root->VideoTrack;
};

} // namespace

TEST(FrameSilence, WholeSampleFramesOfTheFormatsSilence) {
    const struct {
        uint32_t Rate;
        uint16_t Channels, Bits;
        int32_t Samples;
        size_t Bytes;
        uint8_t Value;
    } rows[] = {{22050, 2, 16, 1470, 1470 * 4, 0},
                {11025, 1, 8, 5512, 5512, 0x80},
                {11025, 2, 8, 441, 441 * 2, 0x80}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.Rate);
        const std::vector<uint8_t> s = MakeFrameSilence(Pcm(r.Rate, r.Channels, r.Bits), r.Samples);
        ASSERT_EQ(s.size(), r.Bytes);
        EXPECT_EQ(size_t(std::count(s.begin(), s.end(), r.Value)), s.size());
    }
    EXPECT_TRUE(MakeFrameSilence(Pcm(22050, 2, 16), 0).empty());
    EXPECT_TRUE(MakeFrameSilence(Pcm(0, 2, 16), 15).empty());
    EXPECT_TRUE(MakeFrameSilence(TAudioFormat{}, 15).empty());
}

TEST(BlankNode, FillsEveryPixelAndRestoresTheBrush) {
    BlankProject p;
    TBlankNode* b = p.Blank(p.Queue, 1, 0x0000FF);
    TBitmap bmp(5, 3); // rows of 15 bytes padded to 16
    for (int y = 0; y < 3; ++y)
        std::fill(bmp.ScanLine(y), bmp.ScanLine(y) + 16, uint8_t(0x55));
    bmp.Canvas().Brush.Color = 0x123456;
    bmp.Canvas().Brush.Style = bsClear;
    ASSERT_TRUE(b->RenderFrame(&bmp, false, true, 0));
    for (int y = 0; y < 3; ++y) // five red pixels, the padding untouched
        EXPECT_EQ(std::vector<uint8_t>(bmp.ScanLine(y), bmp.ScanLine(y) + 16),
                  HexBytes("0000ff 0000ff 0000ff 0000ff 0000ff 55"));
    EXPECT_EQ(bmp.Canvas().Brush.Color, 0x123456u);
}

TEST(BlankNode, HandsOneFrameOfSilence) {
    BlankProject p;
    ITreeItem* item = p.Queue->Item->AddChild("Black");
    TRecordingBlank b(p.Root.get(), "Black", item);
    b.BlankColor = 0x0000FF;
    TBitmap bmp(4, 4);
    b.RenderFrame(&bmp, true, true, 0);
    EXPECT_TRUE(b.Handed.empty()); // no handler
    b.AudioHandler = [](TAudioSourceInfo&) { return true; };
    ASSERT_TRUE(b.RenderFrame(&bmp, true, false, 0));
    ASSERT_EQ(b.Handed.size(), 1u);
    EXPECT_EQ(b.Handed[0].Data, std::vector<uint8_t>(1470 * 4, 0));
    EXPECT_EQ(b.Handed[0].SourceId, 2); // project, track, black frames
    MakePcmFormat(p.Root->AudioFormat, 11025, 1, 8);
    b.RenderFrame(&bmp, true, false, 0);
    ASSERT_EQ(b.Handed.size(), 2u);
    EXPECT_EQ(b.Handed[1].Data, std::vector<uint8_t>(735, 0x80));
    p.Root->FrameRate = 0;
    b.RenderFrame(&bmp, true, false, 0);
    EXPECT_EQ(b.Handed.size(), 2u);
}

TEST(BlankNode, SilenceKeepsPaceWhenAChildFails) {
    BlankProject p;
    ITreeItem* item = p.Queue->Item->AddChild("Black");
    TRecordingBlank b(p.Root.get(), "Black", item);
    b.AudioHandler = [](TAudioSourceInfo&) { return true; };
    b.AddNode("Empty clip", amLastChild, nkClip); // no pictures: its frame fails
    TBitmap bmp(4, 4);
    // The children run in the base render, whose answer a failing child does not change.
    EXPECT_TRUE(b.RenderFrame(&bmp, true, true, 0));
    EXPECT_EQ(b.Handed.size(), 1u);
}

// Black frames have no source to cut: a clip range read from a project file leaves them their
// user duration, in the track's layout too, and does not move the effects under them.
TEST(BlankNode, CutRangeFromAFileKeepsTheUserDuration) {
    BlankProject p;
    TBlankNode* b = p.Blank(p.Queue, 5, 0x0000FF);
    p.Blank(p.Queue, 1);
    b->AutoDuration = true;
    b->ClipRange.FromStart = false;
    b->ClipRange.InTime = 1;
    b->ClipRange.ToEnd = false;
    b->ClipRange.OutTime = 3;
    b->AddNode("f", amLastChild, nkFilter)->SetOffset(0.5L);
    const std::vector<uint8_t> file = p.Save();

    BlankProject q;
    ASSERT_TRUE(q.Root->LoadFromStream(file));
    q.Root->Refresh();
    TTreeNodeData* track = q.Root->GetChild(0);
    ASSERT_EQ(track->GetChildCount(), 2);
    auto* read = static_cast<TBlankNode*>(track->GetChild(0));
    ASSERT_FALSE(read->ClipRange.FromStart); // the range itself is kept for the next save
    EXPECT_EQ(read->ClipRange.OutTime, 3);
    EXPECT_EQ(read->GetDuration(), 5);
    EXPECT_EQ(track->GetChild(1)->GetStartTime(), 5);
    EXPECT_EQ(track->GetDuration(), 6);
    EXPECT_EQ(read->GetChild(0)->GetStartTime(), 0.5L);
    EXPECT_EQ(q.Save(), file);
}
