#include "Videocap.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "CaptureRig.h"
#include "FakeUiServices.h"
#include "FakeV4L2.h"
#include "MediaProbe.h"
#include "MyAVIReader.h"
#include "MyCapDrvSelect.h"
#include "TempFolders.h"
#include "VideocapPart.h"

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
    bool ended = false;
    Cap->SetOnStatusCallback(
        [&](TVideoCap&, int id, const std::string&) { ended = ended || id == CapStatusEnd; });
    ASSERT_TRUE(Cap->StartCapture());
    ASSERT_TRUE(WaitFor(Ui, [&] { return ended; }));
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
    bool ended = false;
    cap.SetOnStatusCallback(
        [&](TVideoCap&, int id, const std::string&) { ended = ended || id == CapStatusEnd; });
    ASSERT_TRUE(cap.StartCapture());
    ASSERT_TRUE(WaitFor(Ui, [&] { return ended; }));
    int64_t count = -1, dropped = -1, ms = 0;
    ASSERT_TRUE(cap.GetCaptureCounts(count, dropped, ms));
    EXPECT_EQ(std::tuple(count, dropped), std::tuple(0, 0));
    EXPECT_GE(ms, 1000);
}

TEST_F(VideoCap, BufferFileRecordingReachesTheChosenFile) {
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
    EXPECT_EQ(Ui.Messages[0].rfind("Can not record sound: ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(File("nosound.avi")));
    // Without sound it records.
    Cap->CapAudio = false;
    EXPECT_TRUE(Cap->StartCapture());
    EXPECT_TRUE(Cap->StopCapture());
}
