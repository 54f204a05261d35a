#include "MyMovieNode.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ModelRig.h"
#include "MyBlankNode.h"
#include "MyEffectNodes.h"
#include "MyValueStream.h"
#include "MyWarpNode.h"
#include "NumberedMovie.h"
#include "TestData.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const HorzSlideId = "{7602E471-A8CA-46B2-B869-8AF956428110}";

// Every block a node hands to the project during a run.
struct TBlockLog {
    std::vector<TAudioSourceInfo> Blocks;
    TAudioHandler Handler() {
        return [this](TAudioSourceInfo& s) {
            Blocks.push_back(std::move(s));
            return true;
        };
    }
};

// Renders project frames first..last with sound only, the node's blocks going to the log.
void RunSound(TMovieProject& p, TMovieNode* n, TBlockLog& log, int first, int last) {
    p.Root->OpenForRender(first);
    n->SetAudioHandler(log.Handler());
    for (int i = first; i <= last; ++i)
        p.Root->RenderFrame(p.Root->GetOutputBitmap(), true, false, p.Root->FrameTime(i));
    p.Root->CloseAllAfterRender();
}

TBitmap White(int32_t w = 8, int32_t h = 6) {
    TBitmap b(w, h);
    FillBitmap(&b, 0xFFFFFF);
    return b;
}

std::vector<std::string> Info(TMovieNode* n) {
    std::vector<std::string> lines{"stale"};
    EXPECT_TRUE(n->GetInfo(lines));
    return lines;
}

} // namespace

// A stereo track no decoder reads has no usable sound, but its two channels still give the
// balance curve.
TEST(MovieFile, StereoTrackThatDoesNotDecodeEnablesTheBalanceOnly) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Frames = 4;
    m.Sound = Pcm(22050, 2, 16);
    m.Sound.Wfx.wFormatTag = 0x7A7A; // no codec knows it
    m.Samples = 2205;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("odd.avi", m));
    EXPECT_FALSE(n->HasAudio());
    EXPECT_FALSE(n->VolumeCurve->GetEnabled());
    EXPECT_TRUE(n->BalanceCurve->GetEnabled());
}

TEST(MovieFile, OpeningTakesTheFileValuesAndEnablesTheSoundCurves) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Frames = 12;
    m.MicroSecPerFrame = 40000;
    // Stereo sound enables both curves, mono the volume only, none neither.
    const struct {
        uint16_t Channels;
        uint32_t Samples;
        bool Volume, Balance;
    } cases[] = {{2, 11025, true, true}, {1, 11025, true, false}, {1, 0, false, false}};
    std::vector<TMovieNode*> nodes;
    for (const auto& c : cases) {
        m.Sound = Pcm(22050, c.Channels, 16);
        m.Samples = c.Samples;
        auto* n = p.Add<TMovieNode>(nkVideo,
                                    p.Movie(NumberedName("m", int64_t(nodes.size()), ".avi"), m));
        nodes.push_back(n);
        EXPECT_NEAR(double(n->NaturalDuration), 0.48, 1e-12);
        EXPECT_EQ(n->VolumeCurve->GetEnabled(), c.Volume);
        EXPECT_EQ(n->BalanceCurve->GetEnabled(), c.Balance);
        EXPECT_EQ(n->HasAudio(), c.Volume);
    }
    EXPECT_TRUE(p.Ui.Messages.empty());
    TAudioFormat f;
    nodes[0]->GetAudioFormat(f);
    EXPECT_EQ(f.Wfx.nChannels, 2);
    // Sound switched off: the project's format stands in.
    nodes[0]->UseAudio = false;
    EXPECT_FALSE(nodes[0]->HasAudio());
    p.Root->AudioFormat = Pcm(44100, 1, 8);
    nodes[0]->GetAudioFormat(f);
    EXPECT_EQ(f.Wfx.nSamplesPerSec, 44100u);
}

TEST(MovieFile, RefusedFileKeepsTheValuesAndMissingFileKeepsItsName) {
    TMovieProject p;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("good.avi"));
    EXPECT_EQ(Info(n).at(0), "Audio");

    const std::string bad = p.Dir.File("bad.avi", "RIFF? not a movie");
    n->SetFileName(bad);
    EXPECT_EQ(p.Ui.Messages, std::vector<std::string>{"Can not open " + bad + "\n" +
                                                      n->GetReader().GetOpenError()});
    EXPECT_EQ(n->GetSourceWidth(), 8);
    EXPECT_EQ(n->SourceFrameCount, 20);
    EXPECT_EQ(Info(n), std::vector<std::string>{"Movie format is unknown."});
    // The layout reads the natural duration from the file, which is not there.
    p.Root->Refresh();
    EXPECT_EQ(n->GetDuration(), 0);
    TBitmap b = White();
    EXPECT_FALSE(n->RenderFrame(&b, false, true, 0));

    auto* missing = p.Add<TMovieNode>(nkVideo, p.Dir.Path + "/gone.avi");
    EXPECT_EQ(missing->FileName, "");
    EXPECT_EQ(missing->GetStoredFileName(), p.Dir.Path + "/gone.avi");
    // The reader was given the name, so the node reads as a movie whose file did not load.
    EXPECT_EQ(Info(missing), std::vector<std::string>{"Movie format is unknown."});
    EXPECT_EQ(missing->GetNaturalDuration(), 0);
    EXPECT_EQ(p.Ui.Messages.size(), 1u);
}

TEST(MovieRender, FramesFollowTheTrackAndTheInPoint) {
    TMovieProject p;
    p.Root->SetVideoFormat(320, 240, 10);
    auto* a = p.Add<TMovieNode>(nkVideo, p.Movie("a.avi"));
    auto* b = p.Add<TMovieNode>(nkVideo, p.Movie("b.avi"));
    b->ClipRange.FromStart = false;
    b->ClipRange.InTime = 0.5L;
    p.Root->Refresh();
    ASSERT_EQ(a->GetDuration(), 2.0L);
    ASSERT_EQ(b->GetStartTime(), 2.0L);
    ASSERT_EQ(b->GetDuration(), 1.5L);
    for (int k = 0; k < 20; ++k)
        EXPECT_EQ(p.Shown(k), k) << "frame " << k;
    for (int k = 20; k < 35; ++k)
        EXPECT_EQ(p.Shown(k), k - 20 + 5) << "frame " << k;
}

TEST(MovieRender, SourceFrameGoesToTheRootsPictureControl) {
    TMovieProject p;
    p.Root->SetVideoFormat(320, 240, 10);
    auto* a = p.Add<TMovieNode>(nkVideo, p.Movie("a.avi"));
    auto* blank = static_cast<TMasterNode*>(p.Root->VideoTrack->AddNode("b", amLastChild, nkBlank));
    p.Root->Refresh();
    TBitmap shown;
    int invalidated = 0;
    TPictureControl control{&shown, nullptr, [&invalidated] { ++invalidated; }};
    p.Root->SetOriginalImage(&control);
    EXPECT_EQ(a->SourceFrameControl, &control);
    EXPECT_EQ(blank->SourceFrameControl, &control);
    p.Shown(7);
    EXPECT_EQ(shown.Width(), 320); // the source frame, before any effect, at the frame's size
    EXPECT_EQ(NumberedFrameOf(shown), 7);
    EXPECT_EQ(invalidated, 1);
    p.Root->SetOriginalImage(nullptr);
    EXPECT_EQ(a->SourceFrameControl, nullptr);
}

TEST(MovieRender, SecondClipOfATransitionOpensOnItsInPoint) {
    TMovieProject p;
    p.Root->SetVideoFormat(320, 240, 10);
    p.Add<TMovieNode>(nkVideo, p.Movie("a.avi"));
    auto* t = static_cast<TTransNode*>(p.Root->VideoTrack->AddNode("t", amLastChild, nkTransition));
    t->SetAddOn(HorzSlideId);
    t->UserDuration = 0.5L;
    auto* b = p.Add<TMovieNode>(nkVideo, p.Movie("b.avi"));
    b->ClipRange.FromStart = false;
    b->ClipRange.InTime = 0.7L;
    p.Root->Refresh();
    // A 0-2, T 1.5-2, B from 1.5 for the 1.3 s left after its in-point.
    ASSERT_EQ(t->GetStartTime(), 1.5L);
    ASSERT_EQ(b->GetStartTime(), 1.5L);
    ASSERT_EQ(p.Root->GetDuration(), 2.8L);

    TBitmap first = White();
    ASSERT_TRUE(b->RenderFrame(&first, false, true, b->GetStartTime()));
    EXPECT_EQ(NumberedFrameOf(first), 7);

    // Under the transition the first clip plays on to its end while the second one runs from
    // its in-point; afterwards the second goes on without a jump.
    for (int k = 16; k < 20; ++k) {
        p.Shown(k);
        EXPECT_EQ(NumberedFrameOf(t->FromBitmap), k) << "frame " << k;
        EXPECT_EQ(NumberedFrameOf(t->ToBitmap), 7 + k - 15) << "frame " << k;
    }
    for (int k = 20; k < 28; ++k)
        EXPECT_EQ(p.Shown(k), 7 + k - 15) << "frame " << k;
}

TEST(MovieRender, HigherProjectRateHoldsTheLastFrame) {
    TMovieProject p;
    p.Root->SetVideoFormat(320, 240, 30);
    TNumberedMovieSpec m;
    m.Frames = 5;
    p.Add<TMovieNode>(nkVideo, p.Movie("short.avi", m));
    p.Root->Refresh();
    EXPECT_EQ(p.Shown(0), 0);
    EXPECT_EQ(p.Shown(4), 1);
    // 0.4667 s is 4.67 source frames: past the last one, which stays on screen.
    EXPECT_EQ(p.Shown(14), 4);
}

TEST(MovieSound, BlocksOf1470SampleFramesWithTheTracksEndPadded) {
    TMovieProject p; // 15 fps, 22050 Hz 16-bit stereo
    TNumberedMovieSpec m;
    m.Frames = 5; // 0.5 s: project frames 0..7
    m.Sound = Pcm(22050, 1, 16);
    m.Samples = 1470 * 3 + 100;
    m.SamplesPerChunk = 1000;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("tone.avi", m));
    p.Root->Refresh();
    TBlockLog log;
    RunSound(p, n, log, 0, 7);
    ASSERT_EQ(log.Blocks.size(), 8u);
    for (size_t j = 0; j < log.Blocks.size(); ++j) {
        const Bytes& b = log.Blocks[j].Buffer;
        ASSERT_EQ(b.size(), 1470u * 4) << "block " << j;
        EXPECT_EQ(log.Blocks[j].SourceId, 2); // root 0, video track 1, the movie 2
        for (size_t s = 0; s < 1470; ++s) {
            const int64_t i = int64_t(j * 1470 + s);
            const int16_t want = i < m.Samples ? RampSample(i) : 0;
            ASSERT_EQ(S16(b, 2 * s), want) << "block " << j << " sample " << s;
            ASSERT_EQ(S16(b, 2 * s + 1), want) << "block " << j << " sample " << s;
        }
    }
}

TEST(MovieSound, InPointPlacesTheFirstBlockAndCurvesSetTheLevels) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Sound = Pcm(22050, 2, 16);
    m.Samples = 22050 * 2;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("tone.avi", m));
    n->ClipRange.FromStart = false;
    n->ClipRange.InTime = 0.5L;
    n->VolumeCurve->GetPoint(0)->SetLevel(-0.5L);
    n->BalanceCurve->GetPoint(0)->SetLevel(0.25L);
    p.Root->Refresh();
    TBlockLog log;
    RunSound(p, n, log, 3, 5); // from 0.2 s into the clip: 0.7 s into the file
    ASSERT_EQ(log.Blocks.size(), 3u);
    for (size_t j = 0; j < 3; ++j) {
        const Bytes& b = log.Blocks[j].Buffer;
        ASSERT_EQ(b.size(), 1470u * 4);
        EXPECT_EQ(S16(b, 0), RampSample(15435 + 1470 * int64_t(j)));
        EXPECT_EQ(S16(b, 1), RampSample(15435 + 1470 * int64_t(j), 1));
        EXPECT_NEAR(double(log.Blocks[j].Volume), -0.5, 1e-4);
        EXPECT_NEAR(double(log.Blocks[j].Balance), 0.25, 1e-4);
    }
}

TEST(MovieSound, WithoutSoundEachFrameGetsOneProjectFrameOfSilence) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.MicroSecPerFrame = 40000; // the file's own rate plays no part in the block size
    auto* silent = p.Add<TMovieNode>(nkVideo, p.Movie("silent.avi", m));
    m.Sound = Pcm(22050, 1, 16);
    m.Samples = 22050;
    auto* muted = p.Add<TMovieNode>(nkVideo, p.Movie("muted.avi", m));
    muted->UseAudio = false;
    p.Root->Refresh();
    for (TMovieNode* n : {silent, muted}) {
        TBlockLog log;
        n->SetAudioHandler(log.Handler());
        TBitmap b = White();
        ASSERT_TRUE(n->RenderFrame(&b, true, true, n->GetStartTime()));
        ASSERT_EQ(log.Blocks.size(), 1u);
        EXPECT_EQ(log.Blocks[0].Buffer, Bytes(5880, 0));
    }
    // 8-bit silence is the middle value.
    p.Root->AudioFormat = Pcm(22050, 1, 8);
    TBlockLog log;
    silent->SetAudioHandler(log.Handler());
    TBitmap b = White();
    ASSERT_TRUE(silent->RenderFrame(&b, true, false, 0));
    EXPECT_EQ(log.Blocks.at(0).Buffer, Bytes(1470, 0x80));
}

// Plain PCM the mixer cannot take is left out when the movie opens, with the warning: the node
// draws its pictures and hands one project frame of silence, also as a fast/slow-motion node
// that plays its sound.
TEST(MovieSound, TrackTheMixerCannotTakeGivesPicturesAndSilence) {
    const struct { uint16_t Channels, Bits; } rows[] = {{2, 24}, {2, 32}, {6, 16}};
    for (const auto& c : rows)
        for (uint8_t kind : {nkVideo, nkWarp}) {
            SCOPED_TRACE(std::to_string(c.Channels) + " x " + std::to_string(c.Bits) + " kind " +
                         std::to_string(kind));
            TMovieProject p;
            TNumberedMovieSpec m;
            m.Sound = Pcm(22050, 2, 16);
            m.Samples = 22050;
            const std::string path = RelabelledSoundMovie(p, "deep.avi", m, c.Channels, c.Bits);
            auto* n = p.Add<TMovieNode>(kind, path);
            n->UseAudio = true;
            EXPECT_FALSE(n->HasAudio());
            EXPECT_EQ(p.Ui.Messages,
                      std::vector<std::string>{
                          "The sound track of " + path + " is left out: its PCM format (" +
                          std::to_string(c.Channels) + " channels of " + std::to_string(c.Bits) +
                          " bits at 22050 Hz) cannot be played. The movie's "
                          "pictures are used without sound."});
            p.Root->Refresh();
            TBlockLog log;
            EXPECT_FALSE(n->OpenForRender(0));
            n->SetAudioHandler(log.Handler());
            for (int frame : {0, 1}) {
                TBitmap b = White();
                ASSERT_TRUE(n->RenderFrame(&b, true, true, n->GetStartTime() + frame / 10.0L));
                EXPECT_EQ(NumberedFrameOf(b), frame);
            }
            ASSERT_EQ(log.Blocks.size(), 2u);
            EXPECT_EQ(log.Blocks[1].Buffer, Bytes(5880, 0));
            n->CloseAfterRender();
        }
}

TEST(MovieSound, UnreadableTrackFailsTheFrameBeforeThePicture) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Sound = Pcm(22050, 1, 16);
    m.Samples = 4000;
    TAviImage img = BuildAvi(NumberedMovieSpec(m));
    // The index claims the sound lies beyond the end of the file.
    for (size_t e : img.EntryPos)
        if (img.GetU32(e) == FourCC("01wb"))
            img.PutU32(e + 8, 0x7FFFFFF0);
    const std::string path = p.Dir.Path + "/damaged.avi";
    img.Save(path);
    auto* n = p.Add<TMovieNode>(nkVideo, path);
    ASSERT_TRUE(n->HasAudio());
    p.Root->Refresh();
    TBlockLog log;
    EXPECT_TRUE(n->OpenForRender(0));
    n->SetAudioHandler(log.Handler());
    TBitmap b = White();
    EXPECT_FALSE(n->RenderFrame(&b, true, true, 0));
    EXPECT_TRUE(log.Blocks.empty());
    EXPECT_EQ(NumberedFrameOf(b), -1);
    n->CloseAfterRender();
}

TEST(MovieSound, ExtractCopiesTheTrackIntoAWavFile) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Sound = Pcm(22050, 1, 16);
    m.Samples = 3000;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("tone.avi", m));
    const std::string wav = p.Dir.Path + "/tone.wav";
    ASSERT_TRUE(n->ExtractAudio(false, wav, p.Ui));
    const Bytes data = WavDataOf(ReadBytes(wav));
    ASSERT_EQ(data.size(), 6000u);
    for (uint32_t i = 0; i < 3000; ++i)
        ASSERT_EQ(S16(data, i), RampSample(i));
    TMovieNode empty(p.Root.get(), "none", nullptr);
    EXPECT_FALSE(empty.ExtractAudio(false, p.Dir.Path + "/none.wav", p.Ui));
}

TEST(MovieInfo, PcmMovie) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Frames = 10;
    m.MicroSecPerFrame = 40000;
    m.Sound = Pcm(22050, 2, 16);
    m.Samples = 8820;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("pcm.avi", m));
    EXPECT_EQ(Info(n),
              (std::vector<std::string>{
                  "Audio", "Format:  PCM stereo 16", "Sample per second: 22050",
                  "Average bytes per second: 88200", " ", "Video", "Duration:     0h:00m:00s:40ms",
                  "Frame width:  8", "Frame height: 6", "Frame rate:   25", "Frame count:  10"}));
    // Six significant digits; an exponent is written without a plus sign or leading zeros.
    const std::pair<Extended, const char*> rates[] = {
        {29.97L, "29.97"}, {1.5e7L, "1.5E7"}, {2e-5L, "2E-5"}, {1234567, "1.23457E6"}};
    for (const auto& [rate, text] : rates) {
        n->SourceFrameRate = rate;
        EXPECT_EQ(Info(n).at(9), std::string("Frame rate:   ") + text);
    }
}

TEST(MovieInfo, Mp3Movies) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Frames = 3;
    m.MicroSecPerFrame = 33367;
    // MPEG layer 3, stereo, 22050 Hz, 8000 bytes a second, with its 12 extra bytes (id, flags,
    // block size, frames, delay).
    TAudioFormat mp3{};
    const auto block =
        HexBytes("5500 0200 22560000 401f0000 0100 0000 0c00 0100 02000000 4801 0100 7105");
    std::memcpy(&mp3, block.data(), block.size());
    TAviSpec mpeg = NumberedMovieSpec(m);
    AddAudioTrack(mpeg, mp3, {1000}, {0}, 30);
    auto* decoded = p.Add<TMovieNode>(nkVideo, p.Save("mp3.avi", mpeg));
    const auto lines = Info(decoded);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"Audio", "Format: MPEG Layer-3", "Mode: stereo",
                                        "Sample per second: 22050", " "}));

    // MPEG sound we cannot decode (no channels) is named as such, and gets no volume curve.
    mp3.Wfx.nChannels = 0;
    TAviSpec broken = NumberedMovieSpec(m);
    AddAudioTrack(broken, mp3, {1000}, {0}, 30);
    auto* mute = p.Add<TMovieNode>(nkVideo, p.Save("bad-mp3.avi", broken));
    EXPECT_FALSE(mute->HasAudio());
    EXPECT_FALSE(mute->VolumeCurve->GetEnabled());
    EXPECT_EQ(Info(mute).at(1), "Can not read MP3 audio");
    auto* silent = p.Add<TMovieNode>(nkVideo, p.Movie("silent.avi", m));
    EXPECT_EQ(Info(silent).at(1), "No audio track is available");
}

TEST(MovieInfo, CutClipAndMoviesNotLoaded) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Frames = 10;
    m.MicroSecPerFrame = 40000;
    auto* n = p.Add<TMovieNode>(nkVideo, p.Movie("cut.avi", m));
    n->ClipRange.FromStart = false;
    n->ClipRange.InTime = 0.1L;
    n->ClipRange.ToEnd = false;
    n->ClipRange.OutTime = 0.35L;
    EXPECT_EQ(Info(n),
              (std::vector<std::string>{"Audio", "No audio track is available", " ", "Video",
                                        "Duration:     0h:00m:00s:40ms", "Frame width:  8",
                                        "Frame height: 6", "Frame rate:   25", "Frame count:  10",
                                        "  In-point is set at 0h:00m:00s:10ms",
                                        "  Out-point is set at 0h:00m:00s:35ms",
                                        "Resulting a clip duration of :   0h:00m:00s:25ms"}));
    n->ClipRange.FromStart = true;
    const auto lines = Info(n);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"  Out-point is set at 0h:00m:00s:35ms",
                                        "Resulting a clip duration of :   0h:00m:00s:35ms"}));

    EXPECT_EQ(Info(p.Add<TMovieNode>(nkVideo, "")),
              std::vector<std::string>{"Movie is not yet loaded."});
}

// A movie whose last frames lie in AVI 2.0 segments plays, lasts and is described to its end.
TEST(MovieInfo, SegmentsOfAnAvi2MovieCountToTheEnd) {
    TMovieProject p;
    TNumberedMovieSpec m;
    m.Sound = Pcm(22050, 2, 16);
    m.Samples = 20 * 2205; // a chunk after each of the 20 frames
    TAviSpec spec = NumberedMovieSpec(m);
    // The chunks from frame 8 on (each frame with its sound) go to two segments of six frames.
    const auto split = [&](size_t frames) {
        auto at = spec.Chunks.end() - long(frames * 2);
        spec.Segments.insert(spec.Segments.begin(), TAviSegmentSpec{{at, spec.Chunks.end()}});
        spec.Chunks.erase(at, spec.Chunks.end());
    };
    split(6);
    split(6);
    auto* n = p.Add<TMovieNode>(nkVideo, p.Save("long.avi", spec));
    EXPECT_TRUE(p.Ui.Messages.empty());
    p.Root->Refresh();
    EXPECT_EQ(p.Root->GetDuration(), 2.0L);
    const auto lines = Info(n);
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 5, lines.end()),
        (std::vector<std::string>{"Duration:     0h:00m:02s:00ms", "Frame width:  8",
                                  "Frame height: 6", "Frame rate:   10", "Frame count:  20"}));
    EXPECT_EQ(p.Shown(p.Root->GetFrameCount() - 1), 19);
}
