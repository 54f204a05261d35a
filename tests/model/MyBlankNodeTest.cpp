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

// Black frames last their user duration whatever the auto-duration flag says; a cut range
// measures on that length like any clip's, before and after the track is laid out, and the
// track gives the cut clip that much room.
TEST(BlankNode, CutRangeMeasuresOnTheUserDuration) {
    BlankProject p;
    TBlankNode* b = p.Blank(p.Queue, 5, 0x0000FF);
    TBlankNode* after = p.Blank(p.Queue, 1);
    b->AutoDuration = true;
    EXPECT_EQ(b->GetDuration(), 5);
    const struct {
        bool FromStart;
        Extended In;
        bool ToEnd;
        Extended Out, Want;
    } cases[] = {{false, 1, false, 3, 2}, {false, 1, true, 0, 4},  {true, 0, false, 3.5L, 3.5L},
                 {false, 1, false, 9, 5}, {false, 4, false, 2, 0}, {true, 0, true, 0, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Want);
        b->ClipRange.FromStart = c.FromStart;
        b->ClipRange.InTime = c.In;
        b->ClipRange.ToEnd = c.ToEnd;
        b->ClipRange.OutTime = c.Out;
        EXPECT_EQ(b->GetDuration(), c.Want);
        p.Root->Refresh();
        EXPECT_EQ(b->GetDuration(), c.Want);
        EXPECT_EQ(after->GetStartTime(), c.Want);
    }
    // A fresh node, cut before any layout.
    auto* fresh = p.Add<TBlankNode>(p.Queue, nkBlank);
    fresh->UserDuration = 2;
    fresh->ClipRange.FromStart = false;
    fresh->ClipRange.InTime = 0.5L;
    EXPECT_EQ(fresh->GetDuration(), 1.5L);
}
