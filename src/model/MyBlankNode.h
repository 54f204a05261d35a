// Black frames: a plain colour for a set time, with silence. Also the one frame of silence that
// every picture node (black frames, bitmap clips) hands the project while sound is gathered.
#pragma once

#include <vector>

#include "MyTreeNode.h"

// One frame of silence in the project's sound format, with the source fields the mixer takes.
struct TFrameSilence {
    TAudioFormat Format{};
    std::vector<uint8_t> Data;
    int32_t SourceId = 0; // absolute index of the node's tree item
    Extended Balance = 0; // sizing value of the node's parameter snapshot
    Extended Volume = 0;  // level value of the node's parameter snapshot
};

// Silence of samples whole sample frames, each byte 0x80 for 8-bit sound and 0 otherwise. Empty
// when the count, the rate or the block align is 0.
std::vector<uint8_t> MakeFrameSilence(const TAudioFormat& format, int32_t samples);

// Fills silence for node: the block of the project's sound frame in its sound format; false when
// there is nothing to hand over (no project, no frame rate, an empty block).
bool BuildFrameSilence(TCustomDurableNode& node, TFrameSilence& silence);

// Hands the block (moved out of silence) to the node's audio handler as a mixer source.
void DeliverFrameSilence(TCustomDurableNode& node, TFrameSilence& silence);

// Fills the whole bitmap with colour (0x00BBGGRR); the canvas brush is left as it was.
void FillBitmap(TBitmap* bitmap, uint32_t colour);

// Position of item in a depth-first walk over the whole tree (the first top-level item is 0).
int32_t AbsoluteItemIndex(const ITreeItem* item);

class TBlankNode : public TMasterNode {
public:
    TBlankNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // The fill colour, 0x00BBGGRR.
    uint32_t BlankColor = 0;

    // The user duration, whatever the auto-duration flag and the clip range say.
    Extended GetDuration() override;
    // The offsets of the node and its parents; the clip range's in point is left out.
    Extended GetSourceOffset() override;
    // Fills the whole bitmap with the colour, then lets the children draw.
    bool PrepareFrame(TBitmap* bitmap, Extended t) override;
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;

protected:
    // Called once per rendered frame with sound wanted; passes the block to the project.
    virtual void HandFrameSilence(TFrameSilence& silence) { DeliverFrameSilence(*this, silence); }

    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
