// Layout of video tracks with transitions: clips follow each other, a transition overlaps the
// end of the clip before it and the start of the clip after it.
#include <gtest/gtest.h>

#include <vector>

#include "ModelRig.h"
#include "MyBlankNode.h"
#include "MyEffectNodes.h"

namespace {

struct Track : TModelRig {
    TTreeNodeData* Queue;
    std::vector<TTreeNodeData*> Items;

    // "A5 T2 B3": letters are clips of that many seconds, T transitions of that length, M music
    // of that length, F a filter that lasts as long as the track and G a group whose own video
    // track holds black frames of that length (a clip with a source to cut).
    explicit Track(const std::string& layout) : TModelRig(true) {
        Queue = Root->AddNode("Video track", amLastChild, nkVideoTrack);
        size_t i = 0;
        while (i < layout.size()) {
            char c = layout[i++];
            if (c == ' ')
                continue;
            Extended len = 0;
            while (i < layout.size() && layout[i] != ' ')
                len = len * 10 + (layout[i++] - '0');
            const uint8_t kind = c == 'T'   ? nkTransition
                                 : c == 'M' ? nkMusic
                                 : c == 'F' ? nkFilter
                                 : c == 'G' ? nkGroup
                                            : nkBlank;
            TTreeNodeData* n = Queue->AddNode(std::string(1, c), amLastChild, kind);
            if (c == 'G') {
                TTreeNodeData* inner = n->AddNode("track", amLastChild, nkVideoTrack)
                                           ->AddNode("content", amLastChild, nkBlank);
                inner->AutoDuration = false;
                inner->UserDuration = len;
            }
            n->AutoDuration = c == 'F';
            n->UserDuration = len;
            Items.push_back(n);
        }
        Relayout();
    }
    Extended Start(int i) { return Items[i]->GetStartTime(); }
    Extended End(int i) { return Items[i]->GetStartTime() + Items[i]->GetDuration(); }
    Extended Duration() { return Queue->GetDuration(); }
};

} // namespace

// Overlap model: a transition covers the end of the clip before it and the start of the one
// after; nothing is left as a gap and the track ends where its content ends.
TEST(TrackLayout, StartsEndsAndTrackDuration) {
    const struct {
        const char* Layout;
        std::vector<std::pair<Extended, Extended>> Spans; // start, end of each item
        Extended Duration;
    } rows[] = {{"A5 T2 B3", {{0, 5}, {3, 5}, {3, 6}}, 6},
                {"A5 T2 B3 C4", {{0, 5}, {3, 5}, {3, 6}, {6, 10}}, 10},
                {"A5 T2 B3 T1 C4", {{0, 5}, {3, 5}, {3, 6}, {5, 6}, {5, 9}}, 9},
                {"T2 B3", {{0, 2}, {0, 3}}, 3},
                {"A5 T2", {{0, 5}, {3, 5}}, 5},
                // Longer than the clip before it: unlinked and of no length.
                {"A1 T2 B3", {{0, 1}, {1, 1}, {1, 4}}, 4},
                // Sounds take their room in the sequence and start in it; effects take none.
                {"A5 M10 B3", {{0, 5}, {5, 15}, {15, 18}}, 18},
                {"A5 F0 B3 T1 C2", {{0, 5}, {0, 9}, {5, 8}, {7, 8}, {7, 9}}, 9}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.Layout);
        Track t(r.Layout);
        for (size_t i = 0; i < r.Spans.size(); ++i) {
            EXPECT_NEAR(t.Start(int(i)), r.Spans[i].first, 1e-6L) << i;
            EXPECT_NEAR(t.End(int(i)), r.Spans[i].second, 1e-6L) << i;
        }
        EXPECT_EQ(t.Duration(), r.Duration);
        EXPECT_EQ(t.Root->GetDuration(), r.Duration);
        t.Root->Refresh(); // laid out again, nothing moves or grows
        EXPECT_EQ(t.Duration(), r.Duration);
    }
    Track unlinked("A1 T2 B3");
    EXPECT_EQ(static_cast<TTransNode*>(unlinked.Items[1])->PrevClip, nullptr);
}

// A sound's offset in a track moves it into its room: the room holds offset and length, so the
// clip after it starts where it ends, and a start dragged later keeps that end.
TEST(TrackLayout, SoundOffsetIsTakenInsideItsRoom) {
    Track t("A5 M10 B3");
    TTreeNodeData* m = t.Items[1];
    m->SetOffset(2);
    t.Relayout();
    EXPECT_EQ(t.Start(1), 7);
    EXPECT_EQ(t.End(1), 17);
    EXPECT_EQ(t.Start(2), 17);
    EXPECT_EQ(t.Duration(), 20);
    // Placing it at a time works from its room, not from the track's start.
    EXPECT_EQ(m->OffsetForStart(6), 1);
    m->StartWithParent();
    EXPECT_EQ(m->GetOffset(), 0);
}

TEST(TrackLayout, DisabledTransitionStaysUnlinked) {
    Track t("A5 T2 B3");
    t.Items[1]->Enabled = false;
    t.Relayout();
    EXPECT_EQ(t.Items[1]->GetDuration(), 0);
    EXPECT_EQ(t.Start(2), 5);
    EXPECT_EQ(t.Duration(), 8);
}

TEST(TimeModel, EndTimeExcludesTheEndAndIsCutToTheParent) {
    Track t("A4");
    EXPECT_NEAR(t.Items[0]->GetEndTime(), 3.9999999L, 1e-12L);
    // The render walk therefore does not reach A at 4.0.
    EXPECT_FALSE(t.Items[0]->GetStartTime() <= 4.0L && 4.0L <= t.Items[0]->GetEndTime());
    TTreeNodeData* f = t.Items[0]->AddNode("f", amLastChild, nkFilter);
    f->AutoDuration = false;
    f->UserDuration = 100;
    EXPECT_EQ(f->GetEndTime(), t.Items[0]->GetEndTime());
}

TEST(TimeModel, FilterStartFollowsParentAndOffset) {
    Track t("A5 G5");
    TTreeNodeData* b = t.Items[1];
    TTreeNodeData* f = b->AddNode("f", amLastChild, nkFilter);
    EXPECT_EQ(f->GetStartTime(), 5);
    EXPECT_NEAR(f->GetDuration(), 5 - 1e-7L, 1e-12L);
    static_cast<TCustomDurableNode*>(b)->ClipRange.FromStart = false;
    static_cast<TCustomDurableNode*>(b)->ClipRange.InTime = 2;
    f->SetOffset(1.5L);
    EXPECT_EQ(f->GetStartTime(), 5 + 1.5L - 2);
}

TEST(TimeModel, CutClipMeasuresFromNaturalDuration) {
    // From start, in point, to end, out point: the length of an 8 s source.
    const std::tuple<bool, Extended, bool, Extended, Extended> cases[] = {
        {false, 3, true, 0, 5}, {false, 9, true, 0, 0}, {true, 9, false, 20, 8}};
    for (const auto& [fromStart, in, toEnd, out, length] : cases) {
        Track t("G8");
        auto* a = static_cast<TCustomDurableNode*>(t.Items[0]);
        a->AutoDuration = true;
        a->ClipRange = {fromStart, in, toEnd, out};
        EXPECT_EQ(a->GetDuration(), length) << double(in) << " " << double(out);
    }
}
