// Music objects: the grey frame, the children rendered on top, the project format and the rules
// in which they differ from audio objects.
#include "MyMusicNode.h"

#include <gtest/gtest.h>

#include "ModelRig.h"
#include "MyCommonServices.h"
#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

struct TMusicProject : TModelRig {
    TTempDir Dir;
    std::vector<TAudioSourceInfo> Blocks;

    TMusicProject() { MakePcmFormat(Root->AudioFormat, 44100, 2, 16); }

    std::string Wav(const std::string& name, uint32_t rate, uint16_t channels, uint32_t frames) {
        return WriteRampWav(Dir.Path + "/" + name, rate, channels, 16, frames);
    }

    void Record(TSoundSourceNode* n) {
        n->OpenForRender(0);
        n->SetAudioHandler([this](TAudioSourceInfo& s) {
            Blocks.push_back(std::move(s));
            return true;
        });
    }
};

uint32_t Pixel(const TBitmap& b, int x, int y) {
    return b.Canvas().GetPixel(x, y);
}

} // namespace

TEST(MusicNode, PaintsGreyThenRendersItsChildren) {
    TMusicProject p;
    auto* music = p.Add<TMusicNode>(p.Root.get(), nkMusic);
    music->SetFileName(p.Wav("music.wav", 22050, 1, 22050 * 2));
    auto* voice = static_cast<TSoundSourceNode*>(music->AddNode("Voice", amLastChild, nkAudio));
    voice->SetFileName(p.Wav("voice.wav", 44100, 2, 44100));
    // Children end with their parents, which end with the project's video.
    p.Blank(p.Root->VideoTrack, 3);
    p.Root->Refresh();
    p.Record(music);
    p.Record(voice);

    TBitmap bitmap(8, 4);
    bitmap.Canvas().Brush.Color = 0x0000FF;
    bitmap.Canvas().FillRect(TRect{0, 0, 8, 4});
    music->UpdateCurves(0.5L);
    ASSERT_TRUE(music->RenderFrame(&bitmap, true, true, 0.5L));
    EXPECT_EQ(Pixel(bitmap, 7, 3), 0x808080u);
    // The music's own block and the child's, both in the project's format.
    ASSERT_EQ(p.Blocks.size(), 2u);
    EXPECT_EQ(p.Blocks[0].Buffer.size(), 2940u * 4);
    EXPECT_EQ(p.Blocks[1].Buffer.size(), 2940u * 4);
    EXPECT_EQ(p.Blocks[0].SourceId, 3); // root, video track, black, music
    EXPECT_EQ(p.Blocks[1].SourceId, 4);

    // Without sound wanted the frame is still painted and the children still run.
    p.Blocks.clear();
    bitmap.Canvas().FillRect(TRect{0, 0, 8, 4});
    ASSERT_TRUE(music->RenderFrame(&bitmap, false, true, 0.5L));
    EXPECT_EQ(Pixel(bitmap, 3, 2), 0x808080u);
    EXPECT_TRUE(p.Blocks.empty());
}

TEST(MusicNode, HasADurationWithoutAParent) {
    TMusicProject p;
    TMusicNode lone(p.Root.get(), "Lone", nullptr);
    lone.SetFileName(p.Wav("m.wav", 22050, 2, 22050 * 3));
    // No parent needed for a duration.
    EXPECT_EQ(lone.GetDuration(), 3);
    EXPECT_TRUE(lone.BalanceCurve->GetEnabled());
}

TEST(MusicNode, FailedReadFailsTheFrame) {
    TMusicProject p;
    auto* music = p.Add<TMusicNode>(p.Root.get(), nkMusic);
    music->SetFileName(p.Wav("m.wav", 22050, 1, 22050));
    p.Record(music);
    // A project format the converter does not make.
    MakePcmFormat(p.Root->AudioFormat, 44100, 6, 16);
    EXPECT_FALSE(music->RenderFrame(nullptr, true, false, 0));
    EXPECT_TRUE(p.Blocks.empty());
}

// In a video track the music object takes its room in the sequence: its grey covers only that
// room, the clips before and after it show their own colours, and its sound starts with it.
TEST(MusicNode, InATrackPaintsGreyOnlyInItsOwnRoom) {
    TMusicProject p;
    p.Root->FrameRate = 10;
    p.Blank(p.Root->VideoTrack, 2, 0x0000FF);
    auto* music = p.Add<TMusicNode>(p.Root->VideoTrack, nkMusic);
    music->SetFileName(p.Wav("music.wav", 44100, 2, 44100)); // 1 s of a 3 s room
    music->AutoDuration = false;
    music->UserDuration = 3;
    p.Blank(p.Root->VideoTrack, 1, 0x00FF00);
    p.Root->Refresh();
    EXPECT_EQ(music->GetStartTime(), 2);
    EXPECT_EQ(p.Root->GetDuration(), 6);
    TBitmap* out = p.Root->GetOutputBitmap();
    for (int32_t frame = 0; frame < p.Root->GetFrameCount(); ++frame) {
        const Extended t = p.Root->FrameTime(frame);
        p.Root->RenderFrame(out, false, true, t);
        EXPECT_EQ(Pixel(*out, 0, 0), t < 2 ? 0x0000FFu : t < 5 ? 0x808080u : 0x00FF00u) << frame;
    }
    // The first frame in its room hands the file's first samples.
    p.Record(music);
    ASSERT_TRUE(music->RenderFrame(nullptr, true, false, 2));
    ASSERT_EQ(p.Blocks.size(), 1u);
    EXPECT_EQ(S16(p.Blocks[0].Buffer, 0), 0);
    EXPECT_EQ(S16(p.Blocks[0].Buffer, 2), 1);
}
