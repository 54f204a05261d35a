// The movie export loop: frames of a range, key frames, reports, sound, and how it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <stdexcept>

#include "FakeVideoCompressors.h"
#include "MediaProbe.h"
#include "ModelRig.h"
#include "MyAVICompress.h"
#include "MyAudioCodec.h"
#include "MyEffectNodes.h"
#include "MyMovieNode.h"
#include "MyMovieWriter.h"
#include "MyWMFBase.h"
#include "NumberedMovie.h"
#include "TempFolders.h"

namespace {

// A writer that keeps what it was given; its encoder marks a key frame when asked, or every
// KeyEvery frames when that is set.
class TFakeMovieWriter : public IMovieWriter {
public:
    TBitmap Bitmap;
    std::vector<int32_t> Frames;
    std::vector<int32_t> KeyRequests;
    std::vector<uint32_t> AudioSizes;
    std::vector<uint32_t> AudioCounts;
    int KeyEvery = 0;
    int FailVideoAt = -1;
    int ThrowAt = -1; // memory runs out at this frame
    bool OpenResult = true;
    bool CloseResult = true;
    std::function<void()> OnClose; // may throw, as a close that runs out of memory does
    bool Opened = false;
    int Closes = 0;
    TExportSettings Settings{};

    void SetProfile(const std::string&) override {}
    bool Open(bool, const std::string&, TAviCompress&, const TExportSettings& s) override {
        Settings = s;
        Bitmap.SetSize(s.Width, s.Height);
        Opened = OpenResult;
        return OpenResult;
    }
    TBitmap* GetBitmap() override { return &Bitmap; }
    bool WriteVideoFrame(TVideoFrameInfo& frame) override {
        if (static_cast<int>(Frames.size()) == FailVideoAt)
            return false;
        if (static_cast<int>(Frames.size()) == ThrowAt)
            throw std::bad_alloc();
        if (frame.KeyRequest)
            KeyRequests.push_back(frame.FrameNumber);
        const bool key = frame.KeyRequest || (KeyEvery > 0 && frame.FrameNumber % KeyEvery == 0);
        frame.Flags = key ? 0x10 : 0;
        frame.Bitmap = &Bitmap;
        Frames.push_back(frame.FrameNumber);
        return true;
    }
    bool WriteAudio(const void*, uint32_t size, uint32_t count) override {
        AudioSizes.push_back(size);
        AudioCounts.push_back(count);
        return true;
    }
    bool Close(Extended) override {
        ++Closes;
        if (OnClose)
            OnClose();
        return CloseResult;
    }
};

struct Fixture : TModelRig {
    TFakeMovieWriter Writer;
    std::vector<TFrameReport> Reports;
    int StopAt = -1;
    explicit Fixture(Extended seconds = 2, uint32_t color = 0) {
        Root->MovieWriterOverride = &Writer;
        Root->ExportSleepMs = 0;
        Blank(Root->VideoTrack, seconds, color);
        Root->Refresh();
    }
    bool Export(int32_t first, int32_t count) {
        auto report = [this](TFrameReport& r) {
            Reports.push_back(r);
            if (r.Frame == StopAt)
                Root->Stop();
        };
        return Root->ExportMovie(first, count, nullptr, report, "out.avi");
    }
};

// The project the file tests export: two seconds of black, written without pauses.
void TwoSecondsOfBlack(TModelRig& rig) {
    rig.Root->ExportSleepMs = 0;
    rig.Blank(rig.Root->VideoTrack, 2);
    rig.Root->Refresh();
}

} // namespace

TEST(MovieExport, WholeProjectWritesEveryFrameOnce) {
    Fixture f(2, 0x0000FF);
    ASSERT_EQ(f.Root->GetFrameCount(), 30);
    ASSERT_TRUE(f.Export(0, f.Root->GetFrameCount()));
    ASSERT_EQ(f.Writer.Frames.size(), 30u);
    EXPECT_EQ(f.Writer.Frames.back(), 29);
    EXPECT_EQ(f.Writer.Closes, 1);
    ASSERT_EQ(f.Reports.size(), 30u);
    EXPECT_EQ(f.Reports.front().Frame, 1); // one more than the frame just written
    EXPECT_EQ(f.Reports.back().Frame, 30);
    EXPECT_TRUE(f.Reports.back().Export);
    EXPECT_EQ(f.Writer.Bitmap.ScanLine(3)[2], 0xFF);
    EXPECT_EQ(f.Writer.Settings.FrameCount, 30);
    EXPECT_EQ(f.Writer.Settings.AudioPreloadTime, 1.0L / 15);
    // One frame of sound per frame: 1470 sample frames of 16-bit stereo.
    ASSERT_EQ(f.Writer.AudioSizes.size(), 30u);
    EXPECT_EQ(f.Writer.AudioSizes[0], 5880u);
    EXPECT_EQ(f.Writer.AudioCounts[0], 1470u);
    EXPECT_EQ(f.Root->Target, tgMovieWriter);
    EXPECT_FALSE(f.Root->Busy);
}

TEST(MovieExport, KeyFramesFollowTheEncodersFlags) {
    // Asked for on the first frame, then once more than 15 frames have passed since the last
    // frame the encoder stored as a key frame; an encoder with key frames of its own is left alone.
    for (int every : {0, 10}) {
        Fixture f(4);
        f.Writer.KeyEvery = every;
        ASSERT_TRUE(f.Export(0, f.Root->GetFrameCount()));
        const auto want = every ? std::vector<int32_t>{0} : std::vector<int32_t>{0, 17, 34, 51};
        EXPECT_EQ(f.Writer.KeyRequests, want);
    }
}

TEST(MovieExport, RangesStopsAndFailures) {
    const struct {
        const char* Name;
        int32_t First, Count;
        void (*Setup)(Fixture&);
        bool Ok;
        size_t Frames, AudioBlocks;
        int Closes;
    } cases[] = {
        {"range", 10, 5, [](Fixture&) {}, true, 6, 6, 1},
        {"past the end", 40, 5, [](Fixture&) {}, true, 0, 0, 1},
        {"stopped", 0, 100, [](Fixture& f) { f.StopAt = 3; }, true, 3, 3, 1},
        {"video fails", 0, 100, [](Fixture& f) { f.Writer.FailVideoAt = 4; }, false, 4, 5, 1},
        {"close fails", 0, 100, [](Fixture& f) { f.Writer.CloseResult = false; }, false, 30, 30, 1},
        {"no rate", 0, 100, [](Fixture& f) { f.Root->FrameRate = 0; }, false, 0, 0, 0},
        {"sound off", 0, 100, [](Fixture& f) { f.Root->AudioOn = false; }, true, 30, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Fixture f;
        c.Setup(f);
        EXPECT_EQ(f.Export(c.First, c.Count), c.Ok);
        EXPECT_EQ(f.Writer.Frames.size(), c.Frames);
        EXPECT_EQ(f.Writer.AudioSizes.size(), c.AudioBlocks);
        EXPECT_EQ(f.Writer.Closes, c.Closes);
        EXPECT_EQ(f.Writer.Opened, c.Closes > 0);
        if (!f.Reports.empty()) {
            EXPECT_EQ(f.Reports.front().Frame, c.First + 1);
        }
        EXPECT_FALSE(f.Root->Busy);
    }
}

// A movie whose plain PCM sound the mixer cannot take exports its pictures with silence; the user
// was told once, when it opened, that the sound is left out.
TEST(MovieExport, MovieWithSoundTheMixerCannotTakeExportsItsPictures) {
    struct TShownWriter : TFakeMovieWriter {
        std::vector<int> Shown;
        bool WriteVideoFrame(TVideoFrameInfo& frame) override {
            Shown.push_back(NumberedFrameOf(Bitmap));
            return TFakeMovieWriter::WriteVideoFrame(frame);
        }
    } writer;
    TMovieProject p;
    p.Root->MovieWriterOverride = &writer;
    p.Root->ExportSleepMs = 0;
    TNumberedMovieSpec m;
    m.Sound = Pcm(22050, 2, 16);
    m.Samples = 22050;
    p.Add<TMovieNode>(nkVideo, RelabelledSoundMovie(p, "deep.avi", m, 2, 24));
    EXPECT_EQ(p.Ui.Messages.size(), 1u);
    p.Root->Refresh();
    ASSERT_EQ(p.Root->GetFrameCount(), 30);
    ASSERT_TRUE(p.Root->ExportMovie(
        0, 30, nullptr, [](TFrameReport&) {}, "out.avi"));
    ASSERT_EQ(writer.Shown.size(), 30u);
    for (size_t i = 0; i < writer.Shown.size(); ++i)
        EXPECT_EQ(writer.Shown[i], std::lround(double(i) * 10 / 15)) << "frame " << i;
    EXPECT_EQ(writer.AudioSizes, std::vector<uint32_t>(30, 5880));
    EXPECT_EQ(p.Ui.Messages.size(), 1u);
}

// Memory that runs out inside the loop ends the export with a message and a closed writer.
TEST(MovieExport, MemoryFailureEndsTheExportWithAMessage) {
    Fixture f;
    f.Writer.ThrowAt = 4;
    EXPECT_FALSE(f.Export(0, 100));
    EXPECT_EQ(f.Writer.Frames.size(), 4u);
    EXPECT_EQ(f.Writer.Closes, 1);
    ASSERT_FALSE(f.Ui.Messages.empty());
    EXPECT_EQ(f.Ui.Messages.back(), "Not enough memory to export out.avi");
    EXPECT_FALSE(f.Root->Busy);
}

// A writer that refuses its file leaves the root as it was (its sound format, the codec closed,
// not busy), and the next export writes every frame; a close that throws ends nothing but the
// export: memory that runs out is reported, anything else reaches the caller, the root ready.
TEST(MovieExport, AWriterThatRefusesOrThrowsLeavesTheRootReady) {
    Fixture f;
    f.Root->AudioMode = 0x11; // IMA ADPCM: the codec is opened for the export
    const TAudioFormat format = f.Root->AudioFormat;
    const auto ready = [&f, &format] {
        EXPECT_FALSE(f.Root->Busy);
        EXPECT_EQ(0, std::memcmp(&format, &f.Root->AudioFormat, sizeof format));
    };
    f.Writer.OpenResult = false;
    EXPECT_FALSE(f.Export(0, 100));
    EXPECT_TRUE(f.Writer.Frames.empty());
    EXPECT_EQ(f.Writer.Closes, 0);
    ready();
    f.Writer.OpenResult = true;
    ASSERT_TRUE(f.Export(0, 100));
    EXPECT_EQ(f.Writer.Frames.size(), 30u);
    EXPECT_EQ(f.Writer.Closes, 1);
    ready();

    f.Writer.OnClose = [] { throw std::bad_alloc(); };
    EXPECT_FALSE(f.Export(0, 100));
    EXPECT_EQ(f.Ui.Messages, std::vector<std::string>{"Not enough memory to export out.avi"});
    ready();
    // Thrown while the export already fails (memory out at frame 4), the close's own exception
    // is dropped: the first one is the one that counts.
    f.Writer.ThrowAt = int(f.Writer.Frames.size()) + 4;
    f.Writer.OnClose = [] { throw std::runtime_error("close"); };
    EXPECT_FALSE(f.Export(0, 100));
    ready();
    f.Writer.ThrowAt = -1;
    EXPECT_THROW(f.Export(0, 100), std::runtime_error);
    ready();
    f.Writer.OnClose = nullptr;
    EXPECT_TRUE(f.Export(0, 100));
}

// Real files through the real writers, read back by libavformat.
// The overlay open in the curve editor draws its motion path (red) in the preview, not into the
// frames the writer gets.
TEST(MovieExport, TheEditedEffectsMotionPathStaysOutOfTheFrames) {
    Fixture f(2);
    TTreeNodeData* blank = f.Root->VideoTrack->GetChild(0);
    auto* o = f.Add<TOverlayNode>(blank, nkOverlay, "o");
    o->SetAddOn("{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}"); // a bitmap overlay, no picture
    o->Curves->Register(ckPosition, "")->GetPoint(0)->SetPosition(-0.25L, 0);
    f.Root->EditedNode = o;
    f.Root->Refresh();
    auto redPixels = [](TBitmap& b) {
        int n = 0;
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.Width(); ++x)
                n += b.Canvas().GetPixel(x, y) == 0x0000FFu;
        return n;
    };
    TBitmap preview(f.Root->Width, f.Root->Height);
    f.Root->RenderPreview(5, preview.Canvas(), Rect(0, 0, preview.Width(), preview.Height()),
                          nullptr);
    EXPECT_EQ(redPixels(preview), 24);
    ASSERT_TRUE(f.Export(0, 10));
    EXPECT_EQ(redPixels(f.Writer.Bitmap), 0);
}

TEST(MovieExportFiles, WindowsMediaVideoAndAudioOnly) {
    TTempDir dir;
    TModelRig rig;
    TProjectNode& root = *rig.Root;
    TwoSecondsOfBlack(rig);
    root.WMOutput = true;
    const std::string wmv = dir.Path + "/out.wmv";
    ASSERT_TRUE(root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, wmv));
    TProbedFile probe = ProbeMedia(wmv, false);
    ASSERT_TRUE(probe.Opened);
    ASSERT_NE(probe.FirstOf(true), nullptr);
    ASSERT_NE(probe.FirstOf(false), nullptr);
    EXPECT_EQ(probe.FirstOf(true)->CodecName, "wmv2");
    EXPECT_EQ(probe.FirstOf(false)->CodecName, "wmav2");
    // The lead-in frame, and the profile's 25 fps frames running to the end of the last picture.
    EXPECT_NEAR(probe.Duration, 2.0 + 1.0 / 15, 1.0 / 25 + 0.01);

    root.WMProfile = "{7EA3126D-E1BA-4716-89AF-F65CEE0C0C67}"; // an audio-only profile
    const std::string wma = dir.Path + "/out.wma";
    ASSERT_TRUE(root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, wma));
    TProbedFile audio = ProbeMedia(wma, false);
    ASSERT_TRUE(audio.Opened);
    EXPECT_EQ(audio.FirstOf(true), nullptr);
    ASSERT_NE(audio.FirstOf(false), nullptr);
    EXPECT_EQ(audio.FirstOf(false)->CodecName, "wmav2");
    // Nothing of an encoded export's codec is left to a plain PCM export after it.
    root.WMOutput = false;
    root.AudioMode = 0x11; // IMA ADPCM
    ASSERT_TRUE(root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, dir.Path + "/a.avi"));
    root.AudioMode = 1;
    const std::string wav = dir.Path + "/after.wav";
    ASSERT_TRUE(root.ExportWave(false, 0, nullptr, wav, root.GetFrameCount()));
    EXPECT_EQ(ReadBytes(wav).size(), 44u + 2 * 22050 * 4);
}

// A 25 fps project written with a 30 fps profile (a project opened from a file, or changed on its
// property page, keeps its own rate): the file holds the profile's rate and the project's length.
TEST(MovieExportFiles, WindowsMediaHoldsTheProfilesFrameRate) {
    TTempDir dir;
    TModelRig rig;
    TProjectNode& root = *rig.Root;
    root.SetVideoFormat(64, 48, 25);
    TwoSecondsOfBlack(rig);
    root.WMOutput = true;
    TWMFBase::GetProfileByIdx(7, root.WMProfile); // LAN 100 kbps: 320 x 240 at 30 fps
    const std::string wmv = dir.Path + "/rate.wmv";
    ASSERT_TRUE(root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, wmv));
    const TProbedFile probe = ProbeMedia(wmv, true);
    const TProbedStream* v = probe.FirstOf(true);
    ASSERT_NE(v, nullptr);
    EXPECT_NEAR(v->FrameRate, 30, 0.01);
    EXPECT_EQ(v->Width * 1000 + v->Height, 320240);
    EXPECT_EQ(v->DecodeErrors, 0);
    ASSERT_GT(v->PacketTimes.size(), 50u);
    for (size_t i = 2; i < v->PacketTimes.size(); ++i)
        ASSERT_NEAR(v->PacketTimes[i] - v->PacketTimes[i - 1], 1.0 / 30, 1e-3) << i;
    EXPECT_NEAR(v->PacketTimes.back(), 2.0, 0.1);
}

// Every sound codec offered, in an exported AVI, reads back through libavformat without a single
// warning: the stream headers time the chunks as they are cut, and every packet decodes.
TEST(MovieExportFiles, EveryEncodedSoundInAviIsTimedAndDecodes) {
    TTempDir dir;
    TModelRig rig;
    TProjectNode& root = *rig.Root;
    TwoSecondsOfBlack(rig);
    std::vector<TCodecListItem> offered;
    root.GetAudioCodec().FillExportCodecList(offered);
    std::vector<uint32_t> tags;
    for (const TCodecListItem& item : offered)
        if (item.Tag != WAVE_FORMAT_PCM)
            tags.push_back(item.Tag);
    ASSERT_NE(std::find(tags.begin(), tags.end(), 0x2000u), tags.end());
    for (const uint32_t tag : tags) {
        SCOPED_TRACE("format tag " + std::to_string(tag));
        root.AudioMode = tag;
        const std::string name = dir.Path + "/" + std::to_string(tag) + ".avi";
        ASSERT_TRUE(root.ExportMovie(0, root.GetFrameCount(), nullptr, nullptr, name));
        const TProbedFile p = ProbeMedia(name, true);
        ASSERT_TRUE(p.Opened);
        std::string said;
        for (const std::string& w : p.Warnings)
            said += w;
        EXPECT_EQ(said, "");
        const TProbedStream* a = p.FirstOf(false);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->DtsNotIncreasing, 0);
        EXPECT_EQ(a->DecodeErrors, 0);
        // Two seconds of sound, give or take what a codec's frames and delay add.
        EXPECT_NEAR(double(a->DecodedSamples) / a->SampleRate, 2.0, 0.1);
    }
}

// ---- Pipelined export: frames encoded on a worker while the next renders --------------------

namespace {

// A 64 x 48, 15 fps movie of 15 numbered frames with a second of 22050 Hz stereo sound.
void MakeMovie(const std::string& name) {
    TNumberedMovieSpec m;
    m.Frames = 15;
    m.MicroSecPerFrame = 66667;
    m.Width = 64;
    m.Height = 48;
    m.Sound = Pcm(22050, 2, 16);
    m.Samples = 22050;
    BuildAvi(NumberedMovieSpec(m)).Save(name);
}

// Two movies joined by a slide, then black: 1 + 1 - 0.4 + 0.5 = 2.1 s at 15 fps.
struct Composition {
    TTempDir Dir;
    TMemTree Tree;
    TFakeUiServices Ui;
    TFakeVideoCompressors Fake;
    TProjectNode Root{"Project", Tree.AddRoot("Project")};
    explicit Composition(bool failingEncoder = false,
                         uint32_t handler = MakeFourCC('m', 'j', 'p', 'g'),
                         const char* transition = "{7602E471-A8CA-46B2-B869-8AF956428110}") {
        MakeMovie(Dir.Path + "/a.avi");
        MakeMovie(Dir.Path + "/b.avi");
        Root.Ui = &Ui;
        Root.ExportSleepMs = 0;
        Root.SetVideoFormat(64, 48, 15);
        TTreeNodeData* track = Root.VideoTrack;
        track->AddNode("A", amLastChild, nkVideo)->SetFileName(Dir.Path + "/a.avi");
        auto* slide = static_cast<TTransNode*>(track->AddNode("S", amLastChild, nkTransition));
        slide->SetAddOn(transition);
        slide->UserDuration = 0.4L;
        track->AddNode("B", amLastChild, nkVideo)->SetFileName(Dir.Path + "/b.avi");
        static_cast<TBlankNode*>(track->AddNode("K", amLastChild, nkBlank))->UserDuration = 0.5L;
        Root.Refresh();
        if (failingEncoder) {
            TFakeCompressorSpec spec{"ffff", "F", "Fails at frame 5"};
            spec.FailAt = 5;
            Fake.Specs.push_back(spec);
            // Frames that stand alone, coded on a pool: it fails on the fifth movie frame.
            TFakeCompressorSpec pool{"pppp", "P", "Fails on frame 5"};
            pool.Independent = true;
            pool.FailOnBlue = 5;
            Fake.Specs.push_back(pool);
            Root.CompressorListOverride = &Fake;
        }
        Root.GetAviCompress().SelectCompressor(failingEncoder ? MakeFourCC('f', 'f', 'f', 'f')
                                                              : handler);
    }
    // Exports with the given threads; the report of stopAt (when above 0) stops the export.
    std::vector<uint8_t> Export(int threads, int stopAt = 0, bool* result = nullptr) {
        Root.RenderThreads = threads;
        const std::string name = Dir.Path + "/out" + std::to_string(threads) + ".avi";
        const bool ok = Root.ExportMovie(
            0, Root.GetFrameCount(), nullptr,
            [&](TFrameReport& r) {
                if (r.Frame == stopAt)
                    Root.Stop();
            },
            name);
        if (result)
            *result = ok;
        return ReadBytes(name);
    }
};

} // namespace

TEST(MovieExportPipeline, OneThreadAndEightWriteTheSameFile) {
    // Whole, and stopped midway: the file holds the frames written.
    for (int stopAt : {0, 9}) {
        Composition c;
        ASSERT_EQ(c.Root.GetFrameCount(), 32); // 2.1 s
        bool ok1 = false, ok8 = false;
        const std::vector<uint8_t> one = c.Export(1, stopAt, &ok1);
        const std::vector<uint8_t> eight = c.Export(8, stopAt, &ok8);
        EXPECT_TRUE(ok1 && ok8);
        ASSERT_GT(one.size(), 10000u);
        EXPECT_TRUE(one == eight) << "files differ";
        TProbedFile probe = ProbeMedia(c.Dir.Path + "/out8.avi", true);
        ASSERT_TRUE(probe.Opened);
        const TProbedStream* v = probe.FirstOf(true);
        EXPECT_EQ(v->CodecName, "mjpeg");
        EXPECT_EQ(v->Width, 64);
        EXPECT_EQ(v->DecodedFrames, stopAt ? stopAt : 32);
        EXPECT_EQ(v->DecodeErrors, 0);
        EXPECT_EQ(probe.FirstOf(false)->SampleRate, 22050);
        // The first picture is the first frame of the first movie, B, G and R.
        const uint32_t first = NumberedFrameColour(0);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(v->Pictures.at(0).at(3 * 32 + k), int(first >> (16 - 8 * k) & 0xFF), 12);
        if (!stopAt) {
            EXPECT_EQ(probe.FirstOf(false)->DecodedSamples, 32 * 1470);
        }
        EXPECT_FALSE(c.Root.Busy);
    }
}

TEST(MovieExportPipeline, AFailingEncodeEndsTheExportWithTheSameMessage) {
    // An encoder that keeps state (one worker) and one whose frames stand alone (a pool).
    for (uint32_t handler : {MakeFourCC('f', 'f', 'f', 'f'), MakeFourCC('p', 'p', 'p', 'p')}) {
        SCOPED_TRACE(FourCCToText(handler));
        std::vector<uint8_t> files[2];
        for (int threads : {1, 8}) {
            SCOPED_TRACE(threads);
            Composition c(true);
            c.Root.GetAviCompress().SelectCompressor(handler);
            try {
                c.Export(threads);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(e.GetMessage(), "Fail to compress frame 5 Error code: -5");
            }
            EXPECT_FALSE(c.Root.Busy);
            const std::string name = c.Dir.Path + "/out" + std::to_string(threads) + ".avi";
            files[threads == 8] = ReadBytes(name);
            TProbedFile probe = ProbeMedia(name, false);
            ASSERT_TRUE(probe.Opened);
            EXPECT_EQ(probe.FirstOf(true)->KeyFlags.size(), 5u);
        }
        EXPECT_TRUE(files[0] == files[1]) << "files differ";
    }
}

TEST(MovieExportPipeline, EveryCompressorWritesTheSameFileWithAnyThreadCount) {
    TFakeUiServices ui;
    TAviCompress list(ui);
    std::vector<TCompressorListItem> items;
    list.FillCompressorList(items);
    ASSERT_GE(items.size(), 2u);
    for (const TCompressorListItem& item : items) {
        SCOPED_TRACE(item.Text);
        Composition c(false, item.Object->Handler);
        const std::vector<uint8_t> one = c.Export(1);
        ASSERT_GT(one.size(), 1000u);
        for (int threads : {0, 2, 4, 8})
            EXPECT_TRUE(c.Export(threads) == one) << threads << " threads";
        // Stopped in the report of frame 20, with frames queued behind it on the workers.
        const std::vector<uint8_t> stopped = c.Export(1, 20);
        EXPECT_TRUE(c.Export(4, 20) == stopped) << "stopped";
        TProbedFile probe = ProbeMedia(c.Dir.Path + "/out4.avi", true);
        ASSERT_TRUE(probe.Opened);
        EXPECT_EQ(probe.FirstOf(true)->DecodedFrames, 20);
        EXPECT_EQ(probe.FirstOf(true)->DecodeErrors, 0);
        EXPECT_EQ(probe.FirstOf(false)->DecodedSamples, 20 * 1470);
    }
}

// A transition bound to an add-on nobody offers draws nothing: its frames repeat the last
// picture before it, whether frames are encoded on the calling thread or on workers.
TEST(MovieExportPipeline, ATransitionThatDrawsNothingRepeatsTheFrameBeforeIt) {
    Composition c(false, MakeFourCC('m', 'j', 'p', 'g'), "{00000000-1111-2222-3333-444444444444}");
    const std::vector<uint8_t> one = c.Export(1);
    for (int threads : {0, 2, 4, 8})
        EXPECT_TRUE(c.Export(threads) == one) << threads << " threads";
    TProbedFile probe = ProbeMedia(c.Dir.Path + "/out0.avi", true);
    ASSERT_TRUE(probe.Opened);
    const auto& pictures = probe.FirstOf(true)->Pictures;
    ASSERT_EQ(pictures.size(), 32u);
    // The slide's frames, 10 to 15, repeat the first movie's frame 9; the second movie follows.
    EXPECT_TRUE(pictures[9] != pictures[8]);
    for (int i = 10; i <= 15; ++i)
        EXPECT_TRUE(pictures[size_t(i)] == pictures[9]) << i;
    EXPECT_TRUE(pictures[16] != pictures[9]);
}
