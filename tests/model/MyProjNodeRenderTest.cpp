// The root's render of whole projects: child effects of picture nodes act once and only in their
// own span, folders after a leading transition, and nodes given back after a stopped run.
#include <gtest/gtest.h>

#include "MyAVIReader.h"
#include "MyClipNode.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "NumberedMovie.h"
#include "PictureFixtures.h"

namespace {

const char* const NegativeId = "{1C285050-BEEF-4AED-8697-A49A53A2D6A1}";
const char* const BrightnessId = "{D472437A-CE58-42FB-9316-1795B4EED7BA}";
const char* const DimmingId = "{71B4D000-6339-4E21-BD8F-E3045AF3A447}";

// The picture node under test: black frames, a bitmap clip or a movie, showing colour.
TTreeNodeData* AddPictureNode(TMovieProject& p, uint8_t kind, uint32_t colour, Extended seconds) {
    TTreeNodeData* n = p.Root->VideoTrack->AddNode("n", amLastChild, kind);
    if (kind == nkBlank) {
        static_cast<TBlankNode*>(n)->BlankColor = colour;
    } else if (kind == nkClip) {
        TBmpSpec s;
        s.Pixel = [colour](int32_t, int32_t) { return colour; };
        SaveBytes(p.Dir.Path + "/one.bmp", BuildBmp(s));
        static_cast<TClipNode*>(n)->SetFolder(p.Dir.Path);
    } else {
        n->SetFileName(p.Movie("m.avi"));
    }
    n->AutoDuration = kind == nkVideo;
    n->UserDuration = seconds;
    return n;
}

uint32_t RenderedColour(TMovieProject& p, Extended t) {
    TBitmap* out = p.Root->GetOutputBitmap();
    EXPECT_TRUE(p.Root->RenderFrame(out, false, true, t));
    return out->Canvas().GetPixel(1, 1);
}

} // namespace

// A Negative filter on the middle second of a red 3 s clip: it turns red into cyan once per
// frame inside its span and leaves every other frame alone.
TEST(ChildEffects, ActOnceAndOnlyInTheirSpan) {
    for (uint8_t kind : {nkBlank, nkClip}) {
        SCOPED_TRACE(int(kind));
        TMovieProject p;
        TTreeNodeData* clip = AddPictureNode(p, kind, 0x0000FF, 3);
        auto* f = static_cast<TFilterNode*>(clip->AddNode("f", amLastChild, nkFilter));
        f->SetAddOn(NegativeId);
        f->SetOffset(1);
        f->AutoDuration = false;
        f->UserDuration = 1;
        p.Root->Refresh();
        ASSERT_EQ(p.Root->GetFrameCount(), 45);
        for (int i = 0; i < 45; ++i) {
            const bool inside = i >= 15 && i < 30;
            ASSERT_EQ(RenderedColour(p, p.Root->FrameTime(i)), inside ? 0xFFFF00u : 0x0000FFu)
                << "frame " << i;
        }
    }
}

// Brightness at level 0.5 raises every channel by half, once, whatever picture node it is on.
TEST(ChildEffects, SameResultUnderEveryPictureNode) {
    const uint32_t colour = NumberedFrameColour(0); // what the movie's frame 0 shows
    for (uint8_t kind : {nkVideo, nkBlank, nkClip}) {
        SCOPED_TRACE(int(kind));
        TMovieProject p;
        TTreeNodeData* n = AddPictureNode(p, kind, colour, 2);
        auto* f = static_cast<TFilterNode*>(n->AddNode("f", amLastChild, nkFilter));
        f->SetAddOn(BrightnessId);
        f->Curves->FindByKind(ckLevel)->GetPoint(0)->SetLevel(0.5L);
        p.Root->Refresh();
        EXPECT_EQ(RenderedColour(p, 0), 0x00FF60u); // R 0x40 -> 0x60, G saturates, B stays 0
    }
}

// [T2 G] with G a group holding a 3 s movie: the group's content runs from 0 to 3 s, its clip
// shows frame 0 at the start and its last frame at the end.
TEST(FolderLayout, GroupAfterALeadingTransitionStartsWithIt) {
    TMovieProject p;
    auto* t = static_cast<TTransNode*>(p.Root->VideoTrack->AddNode("T", amLastChild, nkTransition));
    t->SetAddOn(DimmingId);
    TTreeNodeData* g = p.Root->VideoTrack->AddNode("G", amLastChild, nkGroup);
    TTreeNodeData* inner = g->AddNode("v", amLastChild, nkVideoTrack);
    TNumberedMovieSpec m;
    m.Frames = 30; // 3 s at 10 frames per second
    auto* movie = static_cast<TMovieNode*>(inner->AddNode("m", amLastChild, nkVideo));
    movie->SetFileName(p.Movie("m.avi", m));
    p.Root->Refresh();
    EXPECT_EQ(movie->GetStartTime(), 0);
    EXPECT_EQ(p.Root->GetDuration(), 3);
    TBitmap source;
    TPictureControl control{&source, nullptr, nullptr};
    movie->SourceFrameControl = &control;
    p.Root->RenderFrame(p.Root->GetOutputBitmap(), false, true, 0.02L); // under the fade in
    EXPECT_EQ(NumberedFrameOf(source), 0);
    EXPECT_EQ(p.Shown(30), 20); // t = 2 s, past the transition
    EXPECT_EQ(p.Shown(44), 29); // the last frame of the project
}

// Whatever ended a run, the nodes give back what it opened (here: a movie's prepared sound).
TEST(RunEnd, NodesAreClosedAfterAStop) {
    TMovieProject p;
    TNumberedMovieSpec m;
    MakePcmFormat(m.Sound, 22050, 2, 16);
    m.Sound.Wfx.cbSize = 0;
    m.Samples = 44100;
    auto* movie = p.Add<TMovieNode>(nkVideo, p.Movie("m.avi", m));
    p.Root->Refresh();
    auto stopAt3 = [&p](TFrameReport& r) {
        if (r.Frame == 3)
            p.Root->Stop();
    };
    ASSERT_TRUE(p.Root->ExportMovie(0, 100, nullptr, stopAt3, p.Dir.Path + "/out.avi"));
    EXPECT_FALSE(movie->GetReader().IsAudioReady());

    p.Root->SoundInPlayback = false;
    TBitmap shown(8, 6);
    ASSERT_TRUE(p.Root->Play(0, 0, false, stopAt3, TPictureControl{&shown, nullptr, nullptr}));
    EXPECT_FALSE(movie->GetReader().IsAudioReady());
    EXPECT_FALSE(p.Root->Busy);
}
