#include "Videocap.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

#include "CaptureRig.h"
#include "FakeUiServices.h"
#include "FakeV4L2.h"
#include "FileSizeLimit.h"
#include "MediaProbe.h"
#include "MyAVIReader.h"
#include "MyCapDrvSelect.h"
#include "TempFolders.h"
#include "VideocapRecorder.h"

namespace {

class VideoCap : public ::testing::Test {
protected:
    std::shared_ptr<TFakeV4L2Io> Io = std::make_shared<TFakeV4L2Io>();
    TCaptureDrivers Drivers{Io};
    TFakeUiServices Ui;
    TTempDir Dir;
    std::unique_ptr<TVideoCap> Cap = std::make_unique<TVideoCap>(Ui, nullptr, &Drivers);

    std::string File(const std::string& name) const { return Dir.Path + "/" + name; }
};

// Opens the test pattern on cap at 160 x 120.
void OpenPatternAt160(TVideoCap& cap) {
    cap.SetDriverIndex(0);
    cap.Open();
    TBitmapInfoHeader h;
    cap.GetVideoFormat(h);
    h.biWidth = 160;
    h.biHeight = 120;
    cap.SetVideoFormat(h);
}

// A capture whose clock jumps and whose sound counts, on the test pattern at 160 x 120: a
// recording of minutes runs in moments.
struct TJumpRig {
    TJumpRig(TFakeUiServices& ui, std::shared_ptr<TFakeV4L2Io> io)
        : Drivers{std::move(io), &Clock}, Cap(ui, nullptr, &Drivers) {
        OpenPatternAt160(Cap);
    }
    TJumpClock Clock;
    TCountingSound Sound;
    TCaptureDrivers Drivers;
    TVideoCap Cap;
};

// Starts a recording on cap and waits until it ends by itself; false when it did not start or
// did not end.
bool RecordUntilItEnds(TFakeUiServices& ui, TVideoCap& cap) {
    bool ended = false;
    cap.SetOnStatusCallback(
        [&](TVideoCap&, int id, const std::string&) { ended = ended || id == CapStatusEnd; });
    const bool done = cap.StartCapture() && WaitFor(ui, [&] { return ended; });
    cap.SetOnStatusCallback(nullptr);
    return done;
}

// The test pattern's frame n at 160 x 120, row 75: the bars, with column n mod 160 in the
// opposite colour of its bar.
std::vector<uint8_t> PatternRow(int64_t n) {
    static constexpr uint8_t Bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0},
                                           {0, 255, 0},     {255, 0, 255}, {0, 0, 255},
                                           {255, 0, 0},     {0, 0, 0}};
    std::vector<uint8_t> row;
    for (int x = 0; x < 160; ++x)
        for (int k = 0; k < 3; ++k)
            row.push_back(uint8_t(x == n % 160 ? 255 - Bars[x / 20][k] : Bars[x / 20][k]));
    return row;
}

// Every frame of a 160 x 120 recording of the pattern, through our reader, is the pattern's next
// one: nothing dropped, nothing repeated. The number of frames that were not.
int CountFramesOutOfStep(TAviReader& avi) {
    int wrong = 0;
    TBitmap bmp(160, 120);
    for (int32_t i = 0; i < avi.GetFrameCount(); ++i) {
        const std::vector<uint8_t> want = PatternRow(i);
        if (!avi.GetFrame(i, bmp) || std::memcmp(bmp.ScanLine(75), want.data(), want.size()) != 0)
            ++wrong;
    }
    return wrong;
}

// The recorded sound, whole: the counting device's bytes in order.
std::vector<uint8_t> RecordedSound(TAviReader& avi) {
    std::vector<uint8_t> all, chunk;
    for (int32_t i = 0; i < int32_t(avi.GetAudioChunks().size()); ++i) {
        EXPECT_TRUE(avi.ReadAudioChunk(i, chunk));
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

bool CountsUp(const std::vector<uint8_t>& sound) {
    for (size_t i = 0; i < sound.size(); ++i)
        if (sound[i] != uint8_t(i))
            return false;
    return true;
}

} // namespace

TEST_F(VideoCap, PropertyClamps) {
    EXPECT_EQ(Cap->GetDriverIndex(), -1);
    EXPECT_EQ(Cap->GetFrameRate(), 15);
    const std::pair<uint16_t, uint16_t> rates[] = {{0, 1}, {45, 30}, {30, 30}, {12, 12}};
    for (auto [in, out] : rates) {
        Cap->SetPreviewRate(in);
        EXPECT_EQ(Cap->GetPreviewRate(), out) << in;
    }
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {500, 1800}, {1000000, 324000}, {0, 0}, {1800, 1800}, {324001, 324000}};
    for (auto [in, out] : sizes) {
        Cap->SetCapIndexSize(in);
        EXPECT_EQ(Cap->GetCapIndexSize(), out) << in;
    }
    // The capture window gets the preview period in milliseconds.
    Cap->SetDriverIndex(0);
    Cap->Open();
    Cap->SetPreviewRate(30);
    EXPECT_EQ(Cap->CaptureWindow()->PreviewRateMs(), 33);
    Cap->SetPreviewRate(12);
    EXPECT_EQ(Cap->CaptureWindow()->PreviewRateMs(), 83);
    Cap->SetMicroSecPerFrame(20000);
    EXPECT_EQ(Cap->GetMicroSecPerFrame(), 33333u);
    EXPECT_EQ(Cap->GetFrameRate(), 30);
    Cap->SetFrameRate(60); // no floor on this road
    EXPECT_EQ(Cap->GetMicroSecPerFrame(), 16667u);
    Cap->SetFrameRate(12);
    EXPECT_EQ(Cap->GetMicroSecPerFrame(), 83333u);
    Cap->SetFrameRate(0);
    EXPECT_EQ(Cap->GetMicroSecPerFrame(), 83333u);
    // The index holds frames and sound blocks for the time limit, 64-bit and clamped.
    const struct {
        uint16_t Fps, Limit;
        bool Audio;
        uint32_t IndexSize;
        int64_t Want;
    } cases[] = {{15, 65000, true, 0, 324000},
                 {15, 100, false, 0, 1800},
                 {15, 200, true, 0, 200 * 15 + 5 * 200},
                 {15, 0, false, 0, 100000},
                 {15, 0, false, 5000, 5000}};
    for (const auto& c : cases) {
        Cap->SetFrameRate(c.Fps);
        Cap->CapTimeLimit = c.Limit;
        Cap->CapAudio = c.Audio;
        Cap->SetCapIndexSize(c.IndexSize);
        EXPECT_EQ(Cap->SequenceIndexSize(), c.Want) << c.Limit;
    }
}

TEST_F(VideoCap, DriverListEndsWithTheTestPattern) {
    Io->Add({.Card = "Desk camera"});
    EXPECT_EQ(Cap->GetDriverList(),
              (std::vector<std::string>{"Desk camera 5.10.3", "Test pattern generator 1.0"}));
    Cap->SetDriverIndex(1);
    EXPECT_EQ(Cap->GetDriverName(), TestPatternDriverName);
    Cap->SetDriverName("Desk camera");
    EXPECT_EQ(Cap->GetDriverIndex(), 0);
    Cap->SetDriverName("No such camera");
    EXPECT_EQ(Cap->GetDriverIndex(), -1);
    EXPECT_EQ(Cap->GetDriverName(), "");
    Cap->SetDriverIndex(7);
    EXPECT_EQ(Cap->GetDriverIndex(), -1);
    EXPECT_FALSE(Cap->HasDriverName());
}

TEST_F(VideoCap, ClosedDriverRaisesOrAnswersFalse) {
    int statusEvents = 0;
    Cap->SetOnStatus([&](TVideoCap&) { ++statusEvents; });
    EXPECT_THROW(Cap->Open(), ENoDriverException);
    EXPECT_EQ(statusEvents, 1);
    TBitmapInfoHeader h;
    std::memset(&h, 0x55, sizeof(h));
    try {
        Cap->GetVideoFormat(h);
        ADD_FAILURE() << "no exception";
    } catch (const ENotOpen& e) {
        EXPECT_STREQ(e.what(), "Driver not Open");
    }
    EXPECT_EQ(h.biWidth, 0);
    EXPECT_EQ(h.biSize, 0u);
    EXPECT_THROW(Cap->SetVideoFormat(h), ENotOpen);
    EXPECT_FALSE(Cap->GrabFrame());
    EXPECT_FALSE(Cap->StartCapture());
    EXPECT_FALSE(Cap->StopCapture());
    EXPECT_FALSE(Cap->DlgVideoFormat());
    EXPECT_FALSE(Cap->DlgVideoCompression());
    EXPECT_FALSE(Cap->GetDriverCaps());
    EXPECT_FALSE(Cap->UpdateStatus(false));
    int64_t f = 9, d = 9, ms = 0;
    EXPECT_FALSE(Cap->GetCaptureCounts(f, d, ms));
    EXPECT_EQ(f + d, 0);
    EXPECT_EQ(Cap->ImageWidth() * 1000 + Cap->ImageHeight(), 0); // nothing known yet
    // Our drivers draw no overlay.
    Cap->SetDriverIndex(0);
    EXPECT_THROW(Cap->SetVideoOverlay(true), ENoOverlayException);
    EXPECT_TRUE(Cap->GetDriverCaps());
    EXPECT_FALSE(Cap->GetDriverOpen()); // opened for the question only
}

TEST_F(VideoCap, BusyDriverDoesNotConnect) {
    Io->Add({.Busy = true});
    Cap->SetDriverIndex(0);
    try {
        Cap->SetDriverOpen(true);
        ADD_FAILURE() << "no exception";
    } catch (const ENotConnectException& e) {
        EXPECT_STREQ(e.what(), "Can not connect capture driver with capture window");
    }
    EXPECT_FALSE(Cap->GetDriverOpen());
    EXPECT_EQ(Cap->GetDriverName(), "Fake camera");
}

TEST_F(VideoCap, AudioFormatBlock) {
    using namespace Videocap;
    const struct {
        TChannel Ch;
        TFrequency F;
        TResolution R;
        uint32_t Rate;
        uint16_t Align;
        uint32_t Bytes;
    } cases[] = {{TChannel::Stereo, TFrequency::f44100Hz, TResolution::r16Bit, 44100, 4, 176400},
                 {TChannel::Mono, TFrequency::f11025Hz, TResolution::r8Bit, 11025, 1, 11025},
                 {TChannel::Mono, TFrequency::f48000hz, TResolution::r16Bit, 48000, 2, 96000},
                 {TChannel::Stereo, TFrequency::f22050Hz, TResolution::r8Bit, 22050, 2, 44100}};
    Cap->SetDriverIndex(0);
    Cap->Open();
    for (const auto& c : cases) {
        Cap->CapAudioFormat = {c.Ch, c.F, c.R};
        Cap->CapAudioFormat.ApplyToWindow(Cap->CaptureWindow());
        TWaveFormatEx w{};
        ASSERT_TRUE(Cap->CaptureWindow()->GetAudioFormat(w));
        EXPECT_EQ(w.nSamplesPerSec, c.Rate);
        EXPECT_EQ(w.nBlockAlign, c.Align);
        EXPECT_EQ(w.nAvgBytesPerSec, c.Bytes);
        EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
    }
    Cap->CapAudioFormat.ApplyToWindow(nullptr); // nothing to do
}

TEST_F(VideoCap, FittingTheCaptureWindow) {
    Cap->SetDriverIndex(0); // the test pattern: 320 x 240
    Cap->Open();
    const struct {
        int W, H;
        bool Scale, Proportional;
        QSize Want;
    } cases[] = {{400, 300, false, false, {320, 240}}, {400, 300, true, false, {400, 300}},
                 {400, 300, true, true, {400, 300}},   {500, 300, true, true, {400, 300}},
                 {400, 600, true, true, {400, 300}},   {200, 0, true, true, {200, 0}}};
    for (const auto& c : cases) {
        Cap->resize(c.W, c.H);
        Cap->SetPreviewScaleToWindow(c.Scale);
        Cap->SetPreviewScaleProportional(c.Proportional);
        EXPECT_EQ(Cap->CaptureWindow()->size(), c.Want) << c.W << "x" << c.H;
    }
}

TEST_F(VideoCap, RecordsTestPatternWithSoundOffTheGuiThread) {
    Cap->SetDriverIndex(0);
    Cap->SetDriverOpen(true);
    Cap->SetVideoPreview(true);
    EXPECT_TRUE(Cap->GetVideoPreview());
    std::atomic<int> frames{0}, blocks{0};
    std::atomic<bool> offGui{true};
    const auto gui = std::this_thread::get_id();
    Cap->SetOnVideoStream([&](TVideoCap&, const TVideoHdr& h) {
        offGui = offGui && std::this_thread::get_id() != gui;
        EXPECT_EQ(h.Width, 320);
        ++frames;
    });
    Cap->SetOnAudioStream([&](TVideoCap&, const TWaveHdr& h) {
        offGui = offGui && std::this_thread::get_id() != gui;
        ++blocks;
    });
    // Preview pictures carry no capture time.
    int previews = 0;
    uint32_t previewTimes = 0;
    Cap->SetOnFrameCallback([&](TVideoCap&, const TVideoHdr& h) {
        ++previews;
        previewTimes |= h.TimeCaptured;
    });
    std::vector<int> statusIds;
    Cap->SetOnStatusCallback(
        [&](TVideoCap&, int id, const std::string&) { statusIds.push_back(id); });
    Cap->VideoFileName = File("take.avi");
    Cap->CapAudio = true;
    Cap->CapAudioFormat = {Videocap::TChannel::Stereo, Videocap::TFrequency::f22050Hz,
                           Videocap::TResolution::r16Bit};
    ASSERT_TRUE(Cap->StartCapture());
    // Start returned while the recording runs.
    EXPECT_TRUE(Cap->CaptureWindow()->Capturing());
    ASSERT_TRUE(WaitFor(Ui, [&] { return frames >= 12; }));
    EXPECT_TRUE(Cap->StopCapture());
    EXPECT_GT(previews, 0);
    EXPECT_EQ(previewTimes, 0u);
    const QImage shown = Cap->CaptureWindow()->grab().toImage(); // the pattern's white bar
    EXPECT_EQ(shown.pixelColor(2, 2), QColor(Qt::white));
    int64_t count = 0, dropped = 0, ms = 0;
    ASSERT_TRUE(Cap->GetCaptureCounts(count, dropped, ms));
    EXPECT_FALSE(Cap->CaptureWindow()->Capturing());
    EXPECT_TRUE(offGui);
    EXPECT_GT(blocks, 0);
    EXPECT_EQ(statusIds, (std::vector<int>{CapStatusBegin, CapStatusEnd}));
    EXPECT_TRUE(Ui.Messages.empty());

    TAviReader avi;
    ASSERT_TRUE(avi.Open(File("take.avi")));
    EXPECT_EQ(avi.GetWidth(), 320);
    EXPECT_EQ(avi.GetHeight(), 240);
    EXPECT_NEAR(double(avi.GetFrameRate()), 15.0, 0.001);
    EXPECT_EQ(avi.GetFrameCount(), count);
    // About one frame per slot of the elapsed time.
    EXPECT_NEAR(double(count), ms * 15.0 / 1000, 2.0);
    ASSERT_TRUE(avi.HasAudio());
    const TWaveFormatEx& wf = avi.GetSourceAudioFormat().Wfx;
    EXPECT_EQ(wf.nSamplesPerSec, 22050u);
    EXPECT_EQ(wf.nChannels, 2);
    EXPECT_EQ(wf.wBitsPerSample, 16);
    const TProbedFile probe = ProbeMedia(File("take.avi"), true);
    ASSERT_TRUE(probe.Opened);
    const TProbedStream* v = probe.FirstOf(true);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->DecodedFrames, count);
    EXPECT_EQ(v->DecodeErrors, 0);
    // The first picture is the pattern, right way up: white bar at the left of every row.
    ASSERT_FALSE(v->Pictures.empty());
    EXPECT_EQ(v->Pictures[0][3 * 5], 255);
    EXPECT_EQ(v->Pictures[0][3 * 300 + 2], 0);
}

TEST_F(VideoCap, VanishingCameraKeepsTheFileSoFar) {
    Io->Add({.Formats = {{64, 48, CapPixYUYV}},
             .Current = {64, 48, CapPixYUYV},
             .VanishAfter = 8,
             .FrameSleepMs = 20});
    Cap->SetDriverIndex(0);
    Cap->Open();
    Cap->SetFrameRate(30);
    Cap->VideoFileName = File("gone.avi");
    std::atomic<int> lost{0};
    Cap->SetOnError(
        [&](TVideoCap&, int id, const std::string&) { lost += id == CapErrorDeviceLost; });
    ASSERT_TRUE(RecordUntilItEnds(Ui, *Cap));
    EXPECT_EQ(lost, 1);
    const TProbedFile probe = ProbeMedia(File("gone.avi"), true);
    ASSERT_TRUE(probe.Opened);
    const TProbedStream* v = probe.FirstOf(true);
    ASSERT_TRUE(v);
    EXPECT_GE(v->DecodedFrames, 1);
    EXPECT_EQ(v->DecodeErrors, 0);
    TAviReader avi;
    ASSERT_TRUE(avi.Open(File("gone.avi")));
    EXPECT_EQ(avi.GetFrameCount(), v->DecodedFrames);
    EXPECT_EQ(avi.GetWidth(), 64);
    // The camera's colour, through YUYV.
    EXPECT_NEAR(v->Pictures[0][0], 64, 3);
    EXPECT_NEAR(v->Pictures[0][2], 192, 3);
}

// A camera that streams but never has a picture ready.
struct TSilentV4L2 : TFakeV4L2Io {
    int Poll(int, int, short* revents) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        *revents = 0;
        return 0;
    }
};

TEST_F(VideoCap, TimedRecordingFromASilentCameraInventsNoFrames) {
    auto io = std::make_shared<TSilentV4L2>();
    io->Add({.Formats = {{64, 48, CapPixYUYV}}, .Current = {64, 48, CapPixYUYV}});
    TCaptureDrivers drivers{io};
    TVideoCap cap(Ui, nullptr, &drivers);
    cap.SetDriverIndex(0);
    cap.Open();
    cap.CapTimeLimit = 1;
    cap.VideoFileName = File("silent.avi");
    ASSERT_TRUE(RecordUntilItEnds(Ui, cap));
    int64_t count = -1, dropped = -1, ms = 0;
    ASSERT_TRUE(cap.GetCaptureCounts(count, dropped, ms));
    EXPECT_EQ(std::tuple(count, dropped), std::tuple(0, 0));
    EXPECT_GE(ms, 1000);
}

TEST_F(VideoCap, BufferFileRecordingReachesTheChosenFile) {
    // The saved recording has the permissions of any new file, not the buffer's private ones.
    const mode_t mask = ::umask(027);
    auto restoreMask = MakeScopeExit([mask] { ::umask(mask); });
    Cap->SetDriverIndex(0);
    Cap->SetBufferFileSize(1);
    Cap->Open();
    const std::string buffer = Cap->BufferFileName();
    ASSERT_FALSE(buffer.empty());
    EXPECT_EQ(std::filesystem::file_size(buffer), 1048576u);
    EXPECT_EQ(Cap->CaptureWindow()->GetCaptureFile(), buffer);
    Cap->VideoFileName = File("kept.avi");
    ASSERT_TRUE(Cap->StartCapture());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(Cap->StopCapture());
    // Saved under the chosen name; a fresh buffer waits for the next recording.
    TAviReader avi;
    ASSERT_TRUE(avi.Open(File("kept.avi")));
    EXPECT_GE(avi.GetFrameCount(), 1);
    struct stat st {};
    ASSERT_EQ(::stat(File("kept.avi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(::stat(Cap->BufferFileName().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // the next buffer stays private
    const std::string next = Cap->BufferFileName();
    ASSERT_FALSE(next.empty());
    EXPECT_EQ(std::filesystem::file_size(next), 1048576u);
    // Letting the buffer go deletes it (not to the trash).
    Cap->SetBufferFileSize(0);
    EXPECT_TRUE(Cap->BufferFileName().empty());
    EXPECT_FALSE(std::filesystem::exists(next));
    EXPECT_EQ(Cap->CaptureWindow()->GetCaptureFile(), File("kept.avi"));
    Cap->Close();
    EXPECT_TRUE(std::filesystem::exists(File("kept.avi")));
}

TEST_F(VideoCap, CompressionDialogChoosesTheFileCodec) {
    Cap->SetDriverIndex(0);
    Cap->Open();
    std::string chosen;
    TDlgCapDrvSelect::Script = [&](TDlgCapDrvSelect& dlg) {
        EXPECT_EQ(dlg.ComboBox1->itemText(0), "Full Frames (Uncompressed)");
        for (int i = 0; i < dlg.ComboBox1->count(); ++i)
            if (dlg.ComboBox1->itemText(i).contains("jpeg", Qt::CaseInsensitive) ||
                dlg.ComboBox1->itemText(i).contains("mjpg", Qt::CaseInsensitive))
                dlg.ComboBox1->setCurrentIndex(i);
        chosen = dlg.ComboBox1->currentText().toStdString();
        return int(QDialog::Accepted);
    };
    const bool accepted = Cap->DlgVideoCompression();
    TDlgCapDrvSelect::Script = nullptr;
    ASSERT_TRUE(accepted);
    ASSERT_NE(Cap->CaptureWindow()->CompressorHandler(), 0u) << "no JPEG compressor offered";
    Cap->VideoFileName = File("mjpg.avi");
    ASSERT_TRUE(Cap->StartCapture());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(Cap->StopCapture());
    const TProbedFile probe = ProbeMedia(File("mjpg.avi"), true);
    const TProbedStream* v = probe.FirstOf(true);
    ASSERT_TRUE(v) << chosen;
    EXPECT_EQ(v->CodecName, "mjpeg");
    EXPECT_GE(v->DecodedFrames, 2);
    EXPECT_EQ(v->DecodeErrors, 0);
    // The bars survive the JPEG road: white at the left, black at the right.
    EXPECT_GT(v->Pictures[0][3 * 10], 200);
    EXPECT_LT(v->Pictures[0][3 * 310], 40);
}

TEST_F(VideoCap, CameraLostDuringPreviewStopsIt) {
    Io->Add({.Formats = {{32, 24, CapPixYUYV}}, .Current = {32, 24, CapPixYUYV}, .VanishAfter = 2});
    Cap->SetDriverIndex(0);
    int errors = 0;
    Cap->SetOnError(
        [&](TVideoCap&, int id, const std::string&) { errors += id == CapErrorDeviceLost; });
    Cap->SetVideoPreview(true);
    ASSERT_TRUE(WaitFor(Ui, [&] { return errors > 0; }));
    EXPECT_FALSE(Cap->GetVideoPreview());
    EXPECT_EQ(errors, 1);
}

TEST_F(VideoCap, SoundDeviceThatWillNotOpenStartsNothing) {
    Cap->SetDriverIndex(0);
    Cap->Open();
    auto saved = TCaptureSequence::WaveInFactory;
    TCaptureSequence::WaveInFactory = [] { return CreateAlsaWaveIn("no-such-device"); };
    Cap->CapAudio = true;
    Cap->VideoFileName = File("nosound.avi");
    EXPECT_FALSE(Cap->StartCapture());
    TCaptureSequence::WaveInFactory = saved;
    EXPECT_FALSE(Cap->CaptureWindow()->Capturing());
    ASSERT_EQ(Ui.Messages.size(), 1u);
    // The reason, and what to do about it.
    EXPECT_EQ(Ui.Messages[0].rfind("Can not record sound: ", 0), 0u);
    EXPECT_NE(Ui.Messages[0].find(".\nUntick \"Include audio\" or connect a sound device."),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(File("nosound.avi")));
    // Without sound it records.
    Cap->CapAudio = false;
    EXPECT_TRUE(Cap->StartCapture());
    EXPECT_TRUE(Cap->StopCapture());
}

TEST_F(VideoCap, TimedRecordingWithSoundHoldsEveryPictureAndItsSound) {
    TJumpRig rig(Ui, Io);
    TVideoCap& cap = rig.Cap;
    cap.SetFrameRate(60);
    cap.CapTimeLimit = 20;
    cap.CapAudio = true; // 11025 Hz mono 8-bit: a byte per sample
    cap.VideoFileName = File("timed.avi");
    ASSERT_TRUE(RecordUntilItEnds(Ui, cap));
    // 1200 frames and 100 sound blocks in an index of 1800.
    EXPECT_EQ(cap.SequenceIndexSize(), 1800);
    TAviReader avi;
    ASSERT_TRUE(avi.Open(File("timed.avi")));
    EXPECT_EQ(avi.GetFrameCount(), 1200);
    EXPECT_NEAR(double(avi.GetFrameRate()), 60.0, 0.01);
    EXPECT_EQ(CountFramesOutOfStep(avi), 0);
    const std::vector<uint8_t> all = RecordedSound(avi);
    EXPECT_EQ(avi.GetAudioChunks().size(), 100u);
    EXPECT_EQ(all.size(), 20u * 11025);
    EXPECT_TRUE(CountsUp(all));
    int64_t frames = 0, dropped = -1, ms = 0;
    ASSERT_TRUE(cap.GetCaptureCounts(frames, dropped, ms));
    EXPECT_EQ(std::tuple(frames, dropped), std::tuple(1200, 0));
    // The outside reader agrees.
    const TProbedFile probe = ProbeMedia(File("timed.avi"), false);
    ASSERT_TRUE(probe.Opened);
    EXPECT_EQ(probe.FirstOf(true)->KeyFlags.size(), 1200u);
    ASSERT_TRUE(probe.FirstOf(false));
    EXPECT_NEAR(probe.Duration, 20.0, 1.0 / 60);
}

// The index runs out before the time: the recording ends there, every frame a real one and the
// sound as long as the pictures.
TEST_F(VideoCap, FullIndexEndsTheRecordingWithoutCopies) {
    TJumpRig rig(Ui, Io);
    TVideoCap& cap = rig.Cap;
    TCapWindow* win = cap.CaptureWindow();
    TCaptureParms parms;
    win->GetSequenceSetup(parms);
    parms.RequestMicroSecPerFrame = 66667;
    parms.CaptureAudio = true;
    parms.IndexSize = 301;
    win->SetSequenceSetup(parms);
    cap.CapAudioFormat.ApplyToWindow(win);
    win->SetCaptureFile(File("index.avi"));
    ASSERT_TRUE(win->Sequence(true));
    ASSERT_TRUE(WaitFor(Ui, [&] { return !win->Capturing(); }));
    win->Stop();
    TAviReader avi;
    ASSERT_TRUE(avi.Open(File("index.avi")));
    // 15 frames and 5 sound blocks a second: 225 frames and 75 blocks, and the last entry kept
    // for the sound of the last moments, when there is any.
    const int32_t entries = avi.GetFrameCount() + int32_t(avi.GetAudioChunks().size());
    EXPECT_GE(entries, 300);
    EXPECT_LE(entries, 301);
    EXPECT_EQ(CountFramesOutOfStep(avi), 0);
    const std::vector<uint8_t> all = RecordedSound(avi);
    EXPECT_TRUE(CountsUp(all));
    EXPECT_NEAR(double(all.size()) / 11025, avi.GetFrameCount() / 15.0, 1.0 / 15);
}

TEST_F(VideoCap, BufferFileKeepsItsSpaceUntilTheEndThenTheMoviesLength) {
    Cap->SetBufferFileSize(2);
    OpenPatternAt160(*Cap);
    const std::string buffer = Cap->BufferFileName();
    Cap->VideoFileName = File("reserved.avi");
    std::atomic<int> frames{0};
    Cap->SetOnVideoStream([&](TVideoCap&, const TVideoHdr&) { ++frames; });
    ASSERT_TRUE(Cap->StartCapture());
    ASSERT_TRUE(WaitFor(Ui, [&] { return frames >= 4; }));
    struct stat st {};
    ASSERT_EQ(::stat(buffer.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 2 * 1048576);
    EXPECT_GE(st.st_blocks * 512, 2 * 1048576);
    ASSERT_TRUE(Cap->StopCapture());
    // The buffer became the chosen file, exactly as long as its RIFF form says.
    std::ifstream in(File("reserved.avi"), std::ios::binary);
    uint8_t riff[8] = {};
    in.read(reinterpret_cast<char*>(riff), 8);
    const uint32_t size = riff[4] | riff[5] << 8 | riff[6] << 16 | uint32_t(riff[7]) << 24;
    EXPECT_EQ(std::filesystem::file_size(File("reserved.avi")), size + 8u);
    EXPECT_LT(size, 2u * 1048576);
    TAviReader avi;
    ASSERT_TRUE(avi.Open(File("reserved.avi")));
    EXPECT_GE(avi.GetFrameCount(), 4);
    EXPECT_EQ(std::filesystem::file_size(Cap->BufferFileName()), 2u * 1048576);
}

TEST_F(VideoCap, OlderFileOfTheNameStaysUntilTheRecordingIsWhole) {
    Cap->SetDriverIndex(0);
    Cap->Open();
    const std::string target = Dir.File("take.avi", "previous take");
    const std::string work = TCaptureSequence::WorkFileName(target);
    Cap->VideoFileName = target;
    std::atomic<int> frames{0};
    Cap->SetOnVideoStream([&](TVideoCap&, const TVideoHdr&) { ++frames; });
    ASSERT_TRUE(Cap->StartCapture());
    ASSERT_TRUE(WaitFor(Ui, [&] { return frames >= 2; }));
    EXPECT_EQ(std::filesystem::file_size(target), 13u);
    EXPECT_TRUE(std::filesystem::exists(work));
    ASSERT_TRUE(Cap->StopCapture());
    EXPECT_FALSE(std::filesystem::exists(work));
    TAviReader avi;
    ASSERT_TRUE(avi.Open(target));
    EXPECT_GE(avi.GetFrameCount(), 2);
}

// The disk fills up: the recording ends while the file can still be finished.
TEST_F(VideoCap, FullDiskEndsTheRecordingWithAWholeFile) {
    const std::string target = Dir.File("full.avi", "previous take");
    const std::string work = TCaptureSequence::WorkFileName(target);
    auto saved = TCaptureSequence::FreeSpace;
    // A disk of 3 MB that only this recording writes to.
    TCaptureSequence::FreeSpace = [&](const std::string& folder) -> int64_t {
        EXPECT_EQ(folder, Dir.Path);
        std::error_code ec;
        const auto used = std::filesystem::file_size(work, ec);
        return 3 * 1048576 - (ec ? 0 : int64_t(used));
    };
    Cap->SetDriverIndex(0);
    Cap->Open();
    Cap->VideoFileName = target;
    const bool done = RecordUntilItEnds(Ui, *Cap);
    TCaptureSequence::FreeSpace = saved;
    ASSERT_TRUE(done);
    Ui.RunPosted();
    // 320 x 240 frames of 230,400 bytes: about a megabyte and a half of them fit with the index.
    TAviReader avi;
    ASSERT_TRUE(avi.Open(target));
    EXPECT_GE(avi.GetFrameCount(), 4);
    EXPECT_LE(std::filesystem::file_size(target), 2u * 1048576);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0], "The disk is full: the recording " + target + " ends after " +
                                  std::to_string(avi.GetFrameCount()) + " frames.");
}

TEST_F(VideoCap, DiskTooFullForAFrameKeepsTheOlderFile) {
    const std::string target = Dir.File("none.avi", "previous take");
    auto saved = TCaptureSequence::FreeSpace;
    TCaptureSequence::FreeSpace = [](const std::string&) -> int64_t { return 65536; };
    Cap->SetDriverIndex(0);
    Cap->Open();
    Cap->VideoFileName = target;
    const bool started = Cap->StartCapture();
    const bool done = started && WaitFor(Ui, [&] { return !Cap->CaptureWindow()->Capturing(); });
    TCaptureSequence::FreeSpace = saved;
    ASSERT_TRUE(done);
    Cap->StopCapture();
    Ui.RunPosted();
    std::ifstream in(target);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "previous take");
    EXPECT_FALSE(std::filesystem::exists(TCaptureSequence::WorkFileName(target)));
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{"The disk is full: the recording " + target +
                                                     " ends after 0 frames."}));
}

// A write that fails all the same (the file size limit here) leaves the older file as it was
// and what was recorded under the working name.
TEST_F(VideoCap, FailedWriteKeepsTheOlderFile) {
    const std::string target = Dir.File("limit.avi", "previous take");
    const std::string work = TCaptureSequence::WorkFileName(target);
    Cap->SetDriverIndex(0);
    Cap->Open();
    Cap->VideoFileName = target;
    TFileSizeLimit limit(1048576);
    ASSERT_TRUE(limit.Active());
    const bool done = RecordUntilItEnds(Ui, *Cap);
    limit.Lift();
    ASSERT_TRUE(done);
    Ui.RunPosted();
    std::ifstream in(target);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "previous take");
    EXPECT_TRUE(std::filesystem::exists(work));
    ASSERT_FALSE(Ui.Messages.empty());
    EXPECT_EQ(Ui.Messages.back(), "The capture to " + target +
                                      " could not be finished; what was recorded is kept in " +
                                      work);
}
