// Audio objects: per-frame blocks from WAV files and movie sound tracks, trimming, curves, the
// information text and the refusals.
#include "MySoundNode.h"

#include <gtest/gtest.h>

#include <cstring>

#include "AviFixtures.h"
#include "ModelRig.h"
#include "MyCommonServices.h"
#include "MyMusicNode.h"
#include "TempFolders.h"
#include "WavFixtures.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TSoundProject : TModelRig {
    TTempDir Dir;
    TScratchHome Home{Dir.Path};
    std::vector<TAudioSourceInfo> Blocks;

    TSoundProject() {
        Root->FrameRate = 15;
        LoadMessages.Clear();
    }

    std::string Wav(const std::string& name, uint32_t rate, uint16_t channels, uint16_t bits,
                    uint32_t frames) {
        return WriteRampWav(Dir.Path + "/" + name, rate, channels, bits, frames);
    }

    template <class T = TSoundNode>
    T* AddSound(uint8_t kind = nkAudio, TTreeNodeData* parent = nullptr) {
        return Add<T>(parent ? parent : Root.get(), kind, "Sound");
    }

    // Opens the node for a run that records every block it hands over.
    bool Open(TSoundSourceNode* n) {
        Blocks.clear();
        const bool ok = n->OpenForRender(0);
        n->SetAudioHandler([this](TAudioSourceInfo& s) {
            Blocks.push_back(std::move(s));
            return true;
        });
        return ok;
    }

    // Renders frame i of the project through the node; the curves are set as the root does.
    bool Frame(TTreeNodeData* n, int i) {
        const Extended t = i / Root->FrameRate;
        n->UpdateCurves(t);
        return n->RenderFrame(nullptr, true, false, t);
    }
};

} // namespace

// ---- WAV sources --------------------------------------------------------------------------------

TEST(SoundNodeWave, BlocksOf1470FramesAtFifteenFramesPerSecond) {
    // The file ends 100 sample frames, or a single one, into the fourth frame.
    for (const uint32_t tail : {100u, 1u}) {
        SCOPED_TRACE(tail);
        TSoundProject p;
        p.Root->AudioFormat = Pcm(22050, 1, 16);
        const uint32_t frames = 1470 * 3 + tail;
        TSoundNode* n = p.AddSound();
        n->SetFileName(p.Wav("a.wav", 22050, 1, 16, frames));
        ASSERT_EQ(n->SourceType, stWave);
        ASSERT_TRUE(p.Open(n));
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(p.Frame(n, i));
        // Four blocks; the file has ended for the last two frames.
        ASSERT_EQ(p.Blocks.size(), 4u);
        Bytes all;
        for (const auto& b : p.Blocks) {
            EXPECT_EQ(b.Buffer.size(), 1470u * 2);
            all.insert(all.end(), b.Buffer.begin(), b.Buffer.end());
        }
        for (uint32_t i = 0; i < frames; ++i)
            ASSERT_EQ(uint16_t(S16(all, i)), uint16_t(i)) << i;
        // The last block is padded with silence.
        for (uint32_t i = frames; i < 1470 * 4; ++i)
            ASSERT_EQ(S16(all, i), 0) << i;
        EXPECT_EQ(p.Blocks[0].SourceId, 2); // after the root and its video track
    }
}

// At 29.97 fps the blocks follow the project's sample line (1471 or 1472 sample frames at
// 44.1 kHz) and a 22.05 kHz file is read on its own line, so no block boundary shifts the sound
// by more than a sample frame.
TEST(SoundNodeWave, BlocksFollowTheProjectsSampleLine) {
    TSoundProject p;
    p.Root->FrameRate = 29.97L;
    p.Root->AudioFormat = Pcm(44100, 1, 16);
    TMusicNode* n = p.AddSound<TMusicNode>(nkMusic);
    n->SetFileName(p.Wav("half.wav", 22050, 1, 16, 22050));
    ASSERT_TRUE(p.Open(n));
    Bytes all;
    for (int i = 0; i < 20; ++i) {
        p.Root->SoundFrame = i;
        ASSERT_TRUE(p.Frame(n, i));
        ASSERT_EQ(p.Blocks.back().Buffer.size(), size_t(FrameSampleCount(i, 44100, 29.97L)) * 2);
        all.insert(all.end(), p.Blocks.back().Buffer.begin(), p.Blocks.back().Buffer.end());
    }
    EXPECT_EQ(int64_t(all.size()) / 2, FrameSampleStart(20, 44100, 29.97L));
    for (size_t j = 0; j < all.size() / 2; ++j)
        ASSERT_EQ(S16(all, j), int(j / 2)) << j;
}

// Ten seconds of a 44.1 kHz sine played in a 48 kHz project at 25 fps: the blocks together are
// the whole file's conversion, sample for sample, at every block's edge too.
TEST(SoundNodeWave, RateChangeIsOneSignalAcrossTheBlocks) {
    TSoundProject p;
    p.Root->FrameRate = 25;
    p.Root->AudioFormat = Pcm(48000, 1, 16);
    TWavFixture f;
    f.Rate = 44100;
    f.Samples = MakeSineSamples(441000, 1, 44100);
    WriteWavFile(p.Dir.Path + "/sine.wav", f);
    TSoundNode* n = p.AddSound();
    n->SetFileName(p.Dir.Path + "/sine.wav");
    ASSERT_TRUE(p.Open(n));
    Bytes all;
    for (int i = 0; i < 250; ++i) {
        p.Root->SoundFrame = i;
        ASSERT_TRUE(p.Frame(n, i));
        ASSERT_EQ(p.Blocks.back().Buffer.size(), 1920u * 2);
        all.insert(all.end(), p.Blocks.back().Buffer.begin(), p.Blocks.back().Buffer.end());
    }
    Bytes whole = f.Samples;
    TPCMTrans t;
    ASSERT_TRUE(t.ConvertBuffer(Pcm(44100, 1, 16), Pcm(48000, 1, 16), whole));
    ASSERT_EQ(all.size(), whole.size());
    for (size_t i = 0; i < whole.size() / 2; ++i)
        ASSERT_EQ(S16(all, i), S16(whole, i)) << "sample " << i;
}

TEST(SoundNodeWave, ConvertsToTheProjectFormatWithEightBitSilence) {
    TSoundProject p;
    p.Root->AudioFormat = Pcm(44100, 2, 8);
    TSoundNode* n = p.AddSound();
    n->SetFileName(p.Wav("m8.wav", 22050, 1, 8, 1470 + 10));
    ASSERT_TRUE(p.Open(n));
    ASSERT_TRUE(p.Frame(n, 0));
    ASSERT_TRUE(p.Frame(n, 1));
    ASSERT_EQ(p.Blocks.size(), 2u);
    const Bytes& b = p.Blocks[1].Buffer;
    ASSERT_EQ(b.size(), 2940u * 2);
    // Source frames 1470..1479, each doubled onto both channels, then 8-bit silence.
    for (size_t j = 0; j < 20; ++j) {
        EXPECT_EQ(b[2 * j], uint8_t(1470 + j / 2));
        EXPECT_EQ(b[2 * j + 1], uint8_t(1470 + j / 2));
    }
    EXPECT_TRUE(std::all_of(b.begin() + 40, b.end(), [](uint8_t v) { return v == 0x80; }));
}

TEST(SoundNodeWave, InPointAndOffsetPlaceTheFirstBlock) {
    TSoundProject p;
    p.Root->AudioFormat = Pcm(22050, 1, 16);
    TTreeNodeData* group = p.Root->AddNode("Group", amLastChild, nkGroup);
    TSoundNode* n = p.AddSound(nkAudio, group);
    n->SetFileName(p.Wav("a.wav", 22050, 1, 16, 22050 * 3));
    n->Offset = 1;
    n->ClipRange.FromStart = false;
    n->ClipRange.InTime = 0.5L;
    p.Root->Refresh();
    ASSERT_EQ(n->GetStartTime(), 1);
    ASSERT_TRUE(p.Open(n));
    // Frame 18 is 1.2 s into the project: 0.2 s into the node, 0.7 s into the file.
    ASSERT_TRUE(p.Frame(n, 18));
    ASSERT_TRUE(p.Frame(n, 19));
    ASSERT_EQ(p.Blocks.size(), 2u);
    EXPECT_EQ(S16(p.Blocks[0].Buffer, 0), int16_t(15435));
    EXPECT_EQ(S16(p.Blocks[1].Buffer, 0), int16_t(15435 + 1470));
    // Auto duration: the source length less the offset.
    EXPECT_EQ(n->GetDuration(), 2);
    n->AutoDuration = false;
    n->UserDuration = 1.25L;
    EXPECT_EQ(n->GetDuration(), 1.25L);
}

TEST(SoundNodeWave, VolumeAndBalanceComeFromTheCurvesAtLocalTime) {
    TSoundProject p;
    p.Root->AudioFormat = Pcm(22050, 2, 16);
    TSoundNode* n = p.AddSound();
    n->Offset = 1;
    n->SetFileName(p.Wav("s.wav", 22050, 2, 16, 22050 * 3));
    ASSERT_TRUE(n->BalanceCurve->GetEnabled());
    n->VolumeCurve->GetPoint(0)->SetLevel(0);
    n->VolumeCurve->AddNew(2)->SetLevel(0.5L);
    n->BalanceCurve->GetPoint(0)->SetLevel(-0.25L);
    ASSERT_TRUE(p.Open(n));
    ASSERT_TRUE(p.Frame(n, 30)); // 2 s into the project, 1 s into the node
    ASSERT_EQ(p.Blocks.size(), 1u);
    EXPECT_NEAR(double(p.Blocks[0].Volume), 0.25, 1e-4);
    EXPECT_NEAR(double(p.Blocks[0].Balance), -0.25, 1e-4);
    // A mono file takes the balance curve away; balance is then centred.
    n->SetFileName(p.Wav("m.wav", 22050, 1, 16, 22050));
    EXPECT_FALSE(n->BalanceCurve->GetEnabled());
    ASSERT_TRUE(p.Open(n));
    ASSERT_TRUE(p.Frame(n, 16));
    ASSERT_EQ(p.Blocks.size(), 1u);
    EXPECT_EQ(p.Blocks[0].Balance, 0);
}

TEST(SoundNodeWave, RefusesEightKilohertzAndDamagedFiles) {
    TSoundProject p;
    TSoundNode* n = p.AddSound();
    const std::string good = p.Wav("good.wav", 22050, 1, 16, 22050);
    n->SetFileName(good);
    // A damaged file is reported and changes nothing.
    TWavFixture bad;
    bad.Samples = Ramp(100, 1, 16);
    bad.FormType = "AVI ";
    const std::string badName = p.Dir.Path + "/bad.wav";
    WriteWavFile(badName, bad);
    n->SetFileName(badName);
    ASSERT_EQ(p.Ui.Messages.size(), 1u);
    EXPECT_EQ(p.Ui.Messages[0].rfind("Can not open " + badName, 0), 0u);
    EXPECT_EQ(n->FileName, good);
    EXPECT_EQ(n->GetSourceLength(), 1);
    // Plain PCM the mixer can not take says what it holds and also changes nothing.
    const struct {
        uint16_t Channels, Bits;
        const char* Holds;
    } unusable[] = {{1, 32, "32-bit PCM with 1 channel"},
                    {2, 24, "24-bit PCM with 2 channels"},
                    {6, 16, "16-bit PCM with 6 channels"}};
    for (const auto& u : unusable) {
        const std::string name = p.Wav("wide.wav", 44100, u.Channels, u.Bits, 100);
        n->SetFileName(name);
        ASSERT_EQ(p.Ui.Messages.size(), 2u) << u.Holds;
        EXPECT_EQ(p.Ui.Messages.back(), "Can not open " + name + "\nIts sound is " + u.Holds +
                                            "; only 8 or 16-bit PCM, mono or stereo, is read.");
        EXPECT_EQ(n->FileName, good);
        p.Ui.Messages.pop_back();
        p.Ui.MessageKinds.pop_back();
    }
    // 8 kHz: refused, and like the others it changes nothing.
    n->SetFileName(p.Wav("speech.wav", 8000, 1, 16, 8000));
    ASSERT_EQ(p.Ui.Messages.size(), 2u);
    EXPECT_EQ(p.Ui.Messages[1], "Wave format 8000 is of low quality and not supported");
    EXPECT_EQ(n->FileName, good);
    EXPECT_EQ(n->SourceType, stWave);
    EXPECT_EQ(n->GetSourceLength(), 1);
    // A missing file is remembered for saving and reported among the load messages.
    TSoundNode* loaded = p.AddSound();
    loaded->SetFileName(p.Dir.Path + "/gone.wav");
    EXPECT_EQ(loaded->GetStoredFileName(), p.Dir.Path + "/gone.wav");
    ASSERT_EQ(LoadMessages.Count(), 1);
    EXPECT_EQ(p.Ui.Messages.size(), 2u);
    // At a rate near zero one frame's block would be 88 MB: refused, not allocated.
    n->SetFileName(good);
    p.Root->AudioFormat = Pcm(22050, 1, 16);
    p.Root->FrameRate = 0.0005L;
    ASSERT_TRUE(p.Open(n));
    EXPECT_FALSE(p.Frame(n, 0));
}

// A refused 8 kHz file leaves the node its sound: the project file keeps the old name and an
// export still carries the old samples.
TEST(SoundNodeWave, EightKilohertzKeepsTheSoundThereWas) {
    for (const uint8_t kind : {nkAudio, nkMusic}) {
        SCOPED_TRACE(+kind);
        TSoundProject p;
        p.Root->AudioFormat = Pcm(22050, 1, 16);
        p.Blank(p.Root->VideoTrack, 1);
        auto* n = p.AddSound<TSoundSourceNode>(kind);
        const std::string good = p.Wav("good.wav", 22050, 1, 16, 22050);
        n->SetFileName(good);
        n->SetFileName(p.Wav("speech.wav", 8000, 1, 16, 8000));
        EXPECT_EQ(p.Ui.Messages,
                  std::vector<std::string>{"Wave format 8000 is of low quality and not supported"});
        EXPECT_EQ(n->GetStoredFileName(), good);
        p.Root->Refresh();
        const std::string out = p.Dir.Path + "/out.wav";
        ASSERT_TRUE(p.Root->ExportWave(false, 0, nullptr, out, p.Root->GetFrameCount()));
        EXPECT_EQ(WavDataOf(ReadBytes(out)), Ramp(22050, 1, 16));
    }
}

TEST(SoundNodeWave, InformationText) {
    TSoundProject p;
    TSoundNode* n = p.AddSound();
    std::vector<std::string> lines;
    ASSERT_TRUE(n->GetInfo(lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"Audio", "Source unknown"}));
    n->SetFileName(p.Wav("s.wav", 44100, 2, 16, 44100 * 2 + 22050));
    ASSERT_TRUE(n->GetInfo(lines));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Audio", "Format:  PCM stereo 16", "Sample per second: 44100",
                         "Average bytes per second: 176400", "Duration: 0h:00m:02s:50ms"}));
    // The recorded natural duration counts whole seconds; the duration is exact.
    EXPECT_EQ(n->NaturalDuration, 2);
    EXPECT_EQ(n->GetDuration(), 2.5L);
    EXPECT_TRUE(n->HasAudio());
}

TEST(SoundNodeWave, OutsideTheTreeThereIsNoDuration) {
    TSoundProject p;
    TSoundNode lone(p.Root.get(), "Lone", nullptr);
    lone.SetFileName(p.Wav("s.wav", 22050, 1, 16, 22050));
    EXPECT_EQ(lone.GetDuration(), 0);
    EXPECT_EQ(lone.GetSourceLength(), 1);
}

// ---- Movie sources ------------------------------------------------------------------------------

TEST(SoundNodeMovie, HandsTheTrackFromTheInPoint) {
    TSoundProject p;
    p.Root->AudioFormat = Pcm(22050, 1, 16);
    // 30 frames at 15 fps with 2 s of 22,050 Hz mono sound in chunks of one second.
    TAviSpec spec = MakeDibMovie(4, 2, 30);
    AddAudioTrack(spec, Pcm(22050, 1, 16), {44100, 44100}, {0, 15});
    const Bytes track = Ramp(44100, 1, 16);
    size_t at = 0;
    for (TAviChunkSpec& c : spec.Chunks)
        if (c.Kind == "wb") {
            c.Data.assign(track.begin() + at, track.begin() + at + c.Data.size());
            at += c.Data.size();
        }
    const std::string name = p.Dir.Path + "/movie.AVI";
    BuildAvi(spec).Save(name);

    TSoundNode* n = p.AddSound();
    n->SetFileName(name);
    ASSERT_EQ(n->SourceType, stMovie);
    EXPECT_NEAR(double(n->GetFPS()), 15, 1e-3);
    EXPECT_NEAR(double(n->GetSourceLength()), 2, 1e-3);
    n->ClipRange.FromStart = false;
    n->ClipRange.InTime = 1;
    ASSERT_TRUE(p.Open(n));
    ASSERT_TRUE(p.Frame(n, 0));
    ASSERT_TRUE(p.Frame(n, 1));
    ASSERT_EQ(p.Blocks.size(), 2u);
    EXPECT_EQ(p.Blocks[0].Buffer.size(), 2940u);
    EXPECT_EQ(S16(p.Blocks[0].Buffer, 0), int16_t(22050));
    EXPECT_EQ(S16(p.Blocks[1].Buffer, 0), int16_t(22050 + 1470));

    std::vector<std::string> lines;
    ASSERT_TRUE(n->GetInfo(lines));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Audio", "Format:  PCM mono 16", "Sample per second: 22050",
                         "Average bytes per second: 44100", "Duration: 0h:00m:02s:00ms"}));
}

TEST(SoundNodeMovie, MovieWithoutSoundDoesNotOpen) {
    TSoundProject p;
    const std::string name = p.Dir.Path + "/silent.avi";
    BuildAvi(MakeDibMovie(4, 2, 3)).Save(name);
    TSoundNode* n = p.AddSound();
    n->SetFileName(name);
    EXPECT_EQ(n->SourceType, stMovie);
    EXPECT_FALSE(p.Open(n));
    EXPECT_FALSE(p.Frame(n, 0));
    EXPECT_TRUE(p.Blocks.empty());
}

// A sound object over a movie takes its sound whatever its pictures are: raw frames too short
// for the picture, or a compressed stream no decoder reads. Nothing is said about the pictures.
TEST(SoundNodeMovie, PicturesNeverCostTheSound) {
    TAviSpec shortFrames = MakeDibMovie(4, 2, 30);
    for (TAviChunkSpec& c : shortFrames.Chunks)
        c.Data.resize(10);
    TAviSpec undecodable = MakeDibMovie(4, 2, 30);
    undecodable.Streams[0] = MakeVideoStream(4, 2, 24, FourCC("QQZZ"), FourCC("QQZZ"));
    for (TAviChunkSpec& c : undecodable.Chunks) {
        c.Kind = "dc";
        c.Data = MakePattern(40, 7);
    }
    for (TAviSpec* spec : {&shortFrames, &undecodable})
        for (const uint8_t kind : {nkAudio, nkMusic}) {
            SCOPED_TRACE(std::to_string(spec == &undecodable) + " kind " + std::to_string(kind));
            TSoundProject p;
            p.Root->AudioFormat = Pcm(22050, 1, 16);
            TAviSpec s = *spec;
            AddAudioTrack(s, Pcm(22050, 1, 16), {44100, 44100}, {0, 15});
            const Bytes track = Ramp(44100, 1, 16);
            size_t at = 0;
            for (TAviChunkSpec& c : s.Chunks)
                if (c.Kind == "wb") {
                    c.Data.assign(track.begin() + long(at), track.begin() + long(at + 44100));
                    at += 44100;
                }
            const std::string name = p.Dir.Path + "/movie.avi";
            BuildAvi(s).Save(name);
            auto* n = p.AddSound<TSoundSourceNode>(kind);
            n->SetFileName(name);
            EXPECT_EQ(p.Ui.Messages, std::vector<std::string>{});
            EXPECT_NEAR(double(n->GetSourceLength()), 2, 1e-3);
            ASSERT_TRUE(p.Open(n));
            for (int i = 0; i < 3; ++i)
                ASSERT_TRUE(p.Frame(n, i)) << i;
            ASSERT_EQ(p.Blocks.size(), 3u);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(p.Blocks[size_t(i)].Buffer,
                          Bytes(track.begin() + i * 2940, track.begin() + (i + 1) * 2940));
        }
}
