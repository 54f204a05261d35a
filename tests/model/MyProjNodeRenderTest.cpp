// The root's render of whole projects: child effects of picture nodes act once and only in their
// own span, folders after a leading transition, nodes given back after a stopped run, and sound
// cut from one sample line so that it keeps to the pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "ModelRig.h"
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

// Whatever ended a run (export, playback, sound export), the nodes give back what it opened
// (here: a movie's prepared sound).
TEST(RunEnd, NodesAreClosedAfterAStop) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Sound = Pcm(22050, 2, 16);
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
    ASSERT_TRUE(p.Root->ExportWave(false, 0, nullptr, p.Dir.Path + "/out.wav", 5));
    EXPECT_FALSE(movie->GetReader().IsAudioReady());
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WavData(const std::string& path) {
    return WavDataOf(ReadBytes(path));
}

// Index of the first 16-bit sample that is not 0, or -1.
int64_t FirstSound(const Bytes& samples, size_t from = 0) {
    for (size_t i = from; i + 1 < samples.size(); i += 2)
        if (samples[i] || samples[i + 1])
            return int64_t(i / 2);
    return -1;
}

// Sample i of the beep: 1 kHz at 44.1 kHz, never 0 at the start.
int16_t BeepSample(int64_t i) {
    return int16_t(std::lrint(8000 * std::sin(2 * M_PI * 1000 * (i + 0.25) / 44100)));
}

// Black frames, then a 1 s movie whose mono 44.1 kHz sound is a 1 kHz beep from its very first
// sample; 29.97 frames per second, sound in the same format.
struct TBeepProject : TMovieProject {
    static constexpr Extended Fps = 29.97L;
    explicit TBeepProject(Extended blackSeconds) {
        Root->FrameRate = Fps;
        Root->Width = 16;
        Root->Height = 16;
        MakePcmFormat(Root->AudioFormat, 44100, 1, 16);
        auto* black = Root->VideoTrack->AddNode("black", amLastChild, nkBlank);
        black->UserDuration = blackSeconds;
        TNumberedMovieSpec m;
        m.Frames = 30;
        m.MicroSecPerFrame = 33367;
        m.Sound = Root->AudioFormat;
        m.Sound.Wfx.cbSize = 0;
        m.Samples = 44100;
        m.SamplesPerChunk = 1470;
        TAviSpec spec = NumberedMovieSpec(m);
        int64_t i = 0;
        for (TAviChunkSpec& c : spec.Chunks)
            for (size_t k = 0; c.Kind == "wb" && k + 1 < c.Data.size(); k += 2, ++i) {
                const int16_t v = BeepSample(i);
                c.Data[k] = uint8_t(v);
                c.Data[k + 1] = uint8_t(uint16_t(v) >> 8);
            }
        TTreeNodeData* beep = Add<TMovieNode>(nkVideo, Save("beep.avi", spec));
        beep->AutoDuration = false;
        beep->UserDuration = 1; // a whole number of project frames in all
        Root->Refresh();
    }
    // Sample frame of the project's time line where frame n's picture is shown.
    static Extended PictureSample(int64_t n) { return n * 44100 / Fps; }
};

} // namespace

// At 29.97 fps every frame's block is 1471 or 1472 sample frames, cut so that the beep after ten
// minutes starts with its picture, in a WAV export of the whole project as in an AVI export of
// a range that starts in the middle.
TEST(SoundLine, BeepAfterTenMinutesKeepsToItsPicture) {
    TBeepProject p(600);
    const int32_t frames = p.Root->GetFrameCount();
    ASSERT_EQ(frames, 18012);
    const int64_t picture = 17982; // the movie's first frame: 600 s
    const std::string wav = p.Dir.Path + "/all.wav";
    ASSERT_TRUE(p.Root->ExportWave(false, 0, nullptr, wav, frames));
    const Bytes all = WavData(wav);
    EXPECT_EQ(int64_t(all.size()) / 2, Round64(frames * 44100 / TBeepProject::Fps));
    EXPECT_LE(std::abs(FirstSound(all) - TBeepProject::PictureSample(picture)), 1.0L);

    const int32_t first = 17900;
    const std::string avi = p.Dir.Path + "/range.avi";
    ASSERT_TRUE(p.Root->ExportMovie(first, frames, nullptr, nullptr, avi));
    TAviReader r(&p.Ui);
    ASSERT_TRUE(r.Open(avi));
    EXPECT_EQ(r.GetFrameCount(), frames - first);
    const std::string track = p.Dir.Path + "/track.wav";
    ASSERT_TRUE(r.ExtractAudioToWav(false, track, p.Ui));
    const Bytes part = WavData(track);
    EXPECT_EQ(int64_t(part.size()) / 2, FrameSampleStart(frames, 44100, TBeepProject::Fps) -
                                            FrameSampleStart(first, 44100, TBeepProject::Fps));
    EXPECT_LE(std::abs(FirstSound(part) - TBeepProject::PictureSample(picture - first)), 1.0L);
}

// Black frames 0-1 s, a music object 1-2 s whose file (0.5 s of one sample value) ends halfway
// through its room, then the beep movie 2-3 s: the frames after the music's file have no sound
// source. The music sits in the track itself or in a sub-project placed there.
struct TGapProject : TBeepProject {
    explicit TGapProject(bool inSubProject) : TBeepProject(1) {
        TWavFixture wav;
        wav.Rate = 44100;
        for (int i = 0; i < 22050; ++i)
            wav.Samples.insert(wav.Samples.end(), {0x34, 0x12});
        WriteWavFile(Dir.Path + "/half.wav", wav);
        TTreeNodeData* beep = Root->VideoTrack->GetChild(1);
        if (inSubProject) {
            TMemTree tree;
            TProjectNode inner("Inner", tree.AddRoot("Inner"));
            inner.Ui = &Ui;
            AddMusic(inner.VideoTrack, amLastChild);
            EXPECT_TRUE(inner.SaveToFile(Dir.Path + "/inner.prj"));
            beep->AddNode("sub", amBeforeSibling, nkSubProject)
                ->SetFileName(Dir.Path + "/inner.prj");
        } else {
            AddMusic(beep, amBeforeSibling);
        }
        Root->Refresh();
    }
    void AddMusic(TTreeNodeData* at, int mode) {
        TTreeNodeData* music = at->AddNode("m", mode, nkMusic);
        music->SetFileName(Dir.Path + "/half.wav");
        music->AutoDuration = false;
        music->UserDuration = 1;
    }
    // The music's first frame is frame 30 (1.001 s), 44 samples into its file.
    static int64_t MusicFrom() { return FrameSampleStart(30, 44100, Fps); }
    static int64_t MusicTo() { return MusicFrom() + 22050 - 44; }
    // The music, the silence after it and the beep with its picture, from sample from of sound.
    static void Check(const Bytes& sound, int64_t from = 0) {
        for (int64_t i : {int64_t(0), MusicFrom() - 1, MusicTo(), MusicTo() + 10000})
            EXPECT_EQ(S16(sound, size_t(from + i)), 0) << i;
        for (int64_t i : {MusicFrom(), MusicFrom() + 10000, MusicTo() - 1})
            EXPECT_EQ(S16(sound, size_t(from + i)), 0x1234) << i;
        EXPECT_LE(
            std::abs(FirstSound(sound, size_t(from + MusicTo()) * 2) - from - PictureSample(60)),
            1.0L);
    }
};

// The frames that nothing sounds in still take their share of the sample line as silence, in the
// WAV export as in the AVI export: the sound holds exactly the frames' samples and the beep
// starts with its picture.
TEST(SoundLine, FramesWithoutASourceAreSilentAndKeepTheirShare) {
    for (bool inSubProject : {false, true}) {
        SCOPED_TRACE(inSubProject);
        TGapProject p(inSubProject);
        const int32_t frames = p.Root->GetFrameCount();
        ASSERT_EQ(frames, 90);
        const int64_t total = FrameSampleStart(frames, 44100, TBeepProject::Fps);
        const std::string wav = p.Dir.Path + "/all.wav";
        ASSERT_TRUE(p.Root->ExportWave(false, 0, nullptr, wav, frames));
        const Bytes all = WavData(wav);
        EXPECT_EQ(int64_t(all.size()) / 2, total);
        TGapProject::Check(all);

        const std::string avi = p.Dir.Path + "/all.avi";
        ASSERT_TRUE(p.Root->ExportMovie(0, frames, nullptr, nullptr, avi));
        TAviReader r(&p.Ui);
        ASSERT_TRUE(r.Open(avi));
        EXPECT_EQ(r.GetFrameCount(), frames);
        const std::string track = p.Dir.Path + "/track.wav";
        ASSERT_TRUE(r.ExtractAudioToWav(false, track, p.Ui));
        const Bytes part = WavData(track);
        EXPECT_EQ(int64_t(part.size()) / 2, total);
        TGapProject::Check(part);
    }
}

namespace {

// Plays the root from its first frame on the clock into a fake device of ui's; played is what
// the device was given, preroll the bytes of silence before the first frame's sound.
bool PlayIntoDevice(TTickingUi& ui, TProjectNode& root, Bytes& played, size_t& preroll) {
    ui.Device = std::make_shared<TFakeWaveOut>();
    ui.Root = &root;
    root.Ui = &ui;
    root.WaveOutFactory = [&ui] { return ui.Device->MakeHandle(); };
    if (!root.Play(0, 0, true, nullptr, TPictureControl{}))
        return false;
    int32_t count = 0;
    size_t bytes = 0;
    TProjectNode::PrerollBlocks(TBeepProject::Fps, root.AudioFormat, count, bytes);
    preroll = size_t(count) * bytes;
    played = ui.Device->Played();
    return true;
}

} // namespace

// Playback hands the device the silence of those frames too, so the beep is heard with its
// picture after the pre-roll.
TEST(SoundLine, PlaybackKeepsTheFramesWithoutASource) {
    TTickingUi ui; // outlives the project, whose kept wave-output threads report to it
    TGapProject p(false);
    Bytes played;
    size_t preroll = 0;
    ASSERT_TRUE(PlayIntoDevice(ui, *p.Root, played, preroll));
    ASSERT_GT(played.size(), preroll + size_t(TBeepProject::PictureSample(61)) * 2);
    TGapProject::Check(played, int64_t(preroll / 2));
}

// Playback feeds the device the same blocks: after the pre-roll, the beep that starts at 2 s is
// heard where the picture of its first frame (frame 60, at 2.002 s) is, within a sample frame.
TEST(SoundLine, PlaybackKeepsTheBeepWithItsPicture) {
    TTickingUi ui; // outlives the project, whose kept wave-output threads report to it
    TBeepProject p(2);
    Bytes played;
    size_t preroll = 0;
    ASSERT_TRUE(PlayIntoDevice(ui, *p.Root, played, preroll));
    const int64_t heard = FirstSound(played, preroll) - int64_t(preroll / 2);
    EXPECT_LE(std::abs(heard - TBeepProject::PictureSample(60)), 1.0L);
    // What is heard there is the beep 2.002 s into the project: its sample 88.
    EXPECT_EQ(int16_t(played[preroll + 2 * heard] | played[preroll + 2 * heard + 1] << 8),
              BeepSample(88));
}

// A codec the output lists offer works for a stereo project and for the WAV export's CD-quality
// sound: the sound is brought to the rate and channels the codec takes (GSM 6.10: mono).
TEST(CodecExports, GsmFromAStereoProject) {
    TMovieProject p;
    auto* black = p.Root->VideoTrack->AddNode("black", amLastChild, nkBlank);
    black->UserDuration = 1;
    p.Root->Width = 16;
    p.Root->Height = 16;
    p.Root->AudioMode = 0x31;
    p.Root->Refresh();
    ASSERT_EQ(p.Root->AudioFormat.Wfx.nChannels, 2);
    const std::string wav = p.Dir.Path + "/gsm.wav";
    ASSERT_TRUE(p.Root->ExportWave(false, 0, nullptr, wav, p.Root->GetFrameCount()));
    EXPECT_FALSE(WavData(wav).empty());
    const std::string avi = p.Dir.Path + "/gsm.avi";
    ASSERT_TRUE(p.Root->ExportMovie(0, p.Root->GetFrameCount(), nullptr, nullptr, avi));
    TAviReader r(&p.Ui);
    ASSERT_TRUE(r.Open(avi));
    EXPECT_EQ(+r.GetSourceAudioFormat().Wfx.wFormatTag, 0x31);
    EXPECT_EQ(+r.GetSourceAudioFormat().Wfx.nChannels, 1);
    // The WAV export's own closing message is the only one.
    EXPECT_EQ(p.Ui.Messages, std::vector<std::string>{"Finish writing " + wav});
}
