#include "MyWarpNode.h"

#include <gtest/gtest.h>

#include "MyBlankNode.h"
#include "NumberedMovie.h"

namespace {

// Level values a key can hold exactly enough for the speeds below.
constexpr Extended Double = 0.25L; // 2x
constexpr Extended Half = -0.25L;  // 0.5x

// A 10 s movie (100 frames at 10 fps) in a fast/slow-motion node of the video track, in a
// project at 10 fps.
struct TWarpRig {
    TMovieProject P;
    TWarpNode* W;

    // lead: seconds of black in front of the node.
    explicit TWarpRig(int frames = 100, Extended lead = 0) {
        P.Root->SetVideoFormat(320, 240, 10);
        if (lead > 0) {
            TTreeNodeData* black = P.Root->VideoTrack->AddNode("black", amLastChild, nkBlank);
            black->UserDuration = lead;
        }
        TNumberedMovieSpec m;
        m.Frames = frames;
        W = P.Add<TWarpNode>(nkWarp, P.Movie("w.avi", m));
    }
    // Speed keys (local time, level), replacing the curve's points.
    void Keys(const std::vector<std::pair<Extended, Extended>>& keys) {
        TTimeData* c = W->VolumeCurve;
        c->Clear();
        for (const auto& [t, level] : keys) {
            TDataPoint* k = c->AppendPoint();
            k->Time = t;
            k->SetLevel(level);
        }
        c->SortPoints();
    }
};

} // namespace

TEST(WarpNode, SpeedCurveStaysUsableWhateverTheSound) {
    TWarpRig r;
    TWarpNode* w = r.W;
    // The file has no sound, and the speed curve is still there to be used.
    EXPECT_TRUE(w->VolumeCurve->GetEnabled());
    EXPECT_EQ(w->BalanceCurve->Caption, "");
    EXPECT_FALSE(w->BalanceCurve->GetEnabled());

    // Stereo sound does not bring the captionless curve back.
    TNumberedMovieSpec m;
    MakePcmFormat(m.Sound, 22050, 2, 16);
    m.Samples = 22050;
    w->SetFileName(r.P.Movie("stereo.avi", m));
    EXPECT_FALSE(w->BalanceCurve->GetEnabled());
    EXPECT_TRUE(w->VolumeCurve->GetEnabled());
}

TEST(WarpNode, DurationIsTheStoredOutputDuration) {
    TWarpRig r;
    r.W->OutputDuration = 2500;
    r.P.Root->Refresh();
    EXPECT_EQ(r.W->GetDuration(), 2.5L);
    EXPECT_EQ(r.W->UserDuration, 2.5L);
    EXPECT_EQ(r.P.Root->GetDuration(), 2.5L);
    r.W->OutputDuration = -40;
    EXPECT_EQ(r.W->GetDuration(), 0);

    r.W->OutputDuration = 3250;
    std::vector<uint8_t> image;
    r.P.Root->SaveToStream(image);
    TMovieProject q;
    ASSERT_TRUE(q.Root->LoadFromStream(image));
    auto* w = dynamic_cast<TWarpNode*>(q.Root->GetChild(0)->GetChild(0));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->OutputDuration, 3250);
    EXPECT_EQ(w->SourceFrameCount, 100);
    EXPECT_TRUE(w->VolumeCurve->GetEnabled());
}

TEST(WarpNode, MapTimeTables) {
    TWarpRig r;
    TWarpNode* w = r.W;
    struct Row {
        Extended T, Src;
    };
    auto check = [&](const char* what, const std::vector<Row>& rows) {
        for (const Row& row : rows)
            EXPECT_NEAR(double(w->MapTime(row.T)), double(row.Src), 2e-4)
                << what << " at " << double(row.T);
    };
    r.Keys({{0, 0}});
    check("level 0", {{0, 0}, {1.5L, 1.5L}, {9.9L, 9.9L}, {10, 10}, {25, 10}});
    r.Keys({{0, Double}});
    check("level 0.25", {{0, 0}, {1, 2}, {4.5L, 9}, {5, 10}, {6, 10}});
    r.Keys({{0, Half}});
    check("level -0.25", {{1, 0.5L}, {8, 4}});
    // 1x for 2 s, 2x for 2 s, then 0.5x.
    r.Keys({{0, 0}, {2, Double}, {4, Half}});
    check("three keys", {{1, 1}, {2, 2}, {3, 4}, {4, 6}, {5, 6.5L}, {12, 10}, {100, 10}});
    // Only the first key's level counts before the second key; its own time does not.
    r.Keys({{1, Double}, {3, 0}});
    check("late first key", {{0.5L, 1}, {3, 6}, {4, 7}});
}

TEST(WarpNode, FitDurationTables) {
    TWarpRig r;
    TWarpNode* w = r.W;
    // 2x is 4.99992 s on the 10 fps grid; 2 s at 1x and 2 s at 2x use 6 s of source and the 4 s
    // left take 8 s at 0.5x; the source may run out before a later key is reached.
    const std::pair<std::vector<std::pair<Extended, Extended>>, Extended> cases[] = {
        {{{0, 0}}, 10},
        {{{0, Double}}, 5},
        {{{0, Half}}, 20},
        {{{0, -0.5L}}, 40},
        {{{0, 0}, {2, Double}, {4, Half}}, 12},
        {{{0, Double}, {8, 0}}, 5}};
    for (const auto& [keys, fit] : cases) {
        r.Keys(keys);
        EXPECT_EQ(w->FitDuration(), fit)
            << keys.size() << " keys, first " << double(keys[0].second);
    }
    // On the frame grid: 3.7 s of source at 1x is 3.75 s at 4 fps.
    TWarpRig s(37);
    s.Keys({{0, 0}});
    s.P.Root->SetVideoFormat(320, 240, 4);
    EXPECT_EQ(s.W->FitDuration(), 3.75L);
}

TEST(WarpNode, RenderedFramesFollowTheSpeedKeysInLocalTime) {
    TWarpRig r(100, 2.0L); // the node starts at 2 s
    r.W->OutputDuration = 6000;
    r.W->ClipRange.FromStart = false;
    r.W->ClipRange.InTime = 0.5L;
    r.Keys({{0, 0}, {1, Double}});
    r.P.Root->Refresh();
    ASSERT_EQ(r.W->GetStartTime(), 2.0L);
    // Local second 0..1 at 1x from the in-point (frame 5), then 2x.
    for (int k = 0; k <= 10; ++k)
        EXPECT_EQ(r.P.Shown(20 + k), 5 + k) << "frame " << 20 + k;
    for (int k = 11; k <= 40; ++k)
        EXPECT_EQ(r.P.Shown(20 + k), 5 + 10 + 2 * (k - 10)) << "frame " << 20 + k;
    // Past the source's end the last frame stays.
    EXPECT_EQ(r.P.Shown(20 + 55), 99);
}

TEST(WarpNode, SoundIsSilenceOfOneProjectFrame) {
    TWarpRig r;
    r.P.Root->SetVideoFormat(320, 240, 15);
    r.P.Root->Refresh();
    std::vector<TAudioSourceInfo> blocks;
    r.W->SetAudioHandler([&](TAudioSourceInfo& s) {
        blocks.push_back(std::move(s));
        return true;
    });
    TBitmap b(8, 6);
    ASSERT_TRUE(r.W->RenderFrame(&b, true, true, 1.0L));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].Buffer, std::vector<uint8_t>(5880, 0));
}
