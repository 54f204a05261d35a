// The movie-range dialog: its arithmetic, the clip player's exact seek, clocked playback and
// sound, failures to open, and the dialog's OK and Cancel.
#include "MyMovieRangeDlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "DialogRig.h"
#include "EncodedAvi.h"
#include "WavFixtures.h"

namespace {

std::vector<uint8_t> Pixels(const TBitmap& b) {
    std::vector<uint8_t> p;
    for (int32_t y = 0; y < b.Height(); ++y)
        p.insert(p.end(), b.ScanLine(y), b.ScanLine(y) + b.Width() * 3);
    return p;
}

// Plays from the position the player is at and returns the first 100 ms the device played.
std::vector<uint8_t> PlayedLead(TClipPlayer& player, TFakeWaveOut& device) {
    player.Play();
    player.Tick(); // queues the lead
    EXPECT_TRUE(QTest::qWaitFor([&] { return device.QueuedCount() > 0; }, 1000));
    device.Advance(100);
    return device.Played();
}

} // namespace

TEST(MovieRange, StepIsAFifthOfASecondRoundedHalfToEven) {
    const std::pair<Extended, int32_t> cases[] = {{25, 5}, {12.5L, 2}, {12, 2},    {17.5L, 4},
                                                  {2, 1},  {0, 1},     {1000, 200}};
    for (auto [fps, step] : cases)
        EXPECT_EQ(TMovieRange::StepFor(fps), step) << double(fps);
    TMovieRange r;
    r.Load(250, 10);
    EXPECT_EQ(r.FramesPerSecond * 10 + r.Step, 255);
    r.Load(0, 0);
    EXPECT_EQ(r.FramesPerSecond * 10 + r.Step, 1);
    EXPECT_EQ(r.TimeOf(7), 0);
    // Stepping at a rate of the caller's: the track bar counts those steps over the length.
    r.LoadAt(1000, 0.4L);
    EXPECT_EQ(std::tuple(r.FrameCount, r.Step, r.OwnSteps), std::tuple(400, 200, false));
    EXPECT_EQ(r.FrameOf(0.12L), 120);
    r.LoadAt(0, 0.4L); // no rate: nothing to step by
    EXPECT_EQ(std::tuple(r.FrameCount, r.FramesPerSecond, r.OwnSteps), std::tuple(0, 0.0L, true));
}

// What the dialog's own test does not reach: halves round to even, a custom start with nothing
// picked stays at the beginning, the end and negative times.
TEST(MovieRange, RangeOperationsAndTexts) {
    TMovieRange r;
    r.Load(250, 10);
    EXPECT_EQ(r.EndText(), FormatTimeText(10));
    r.ChooseCustomStart();
    EXPECT_TRUE(r.Range.FromStart);
    r.PickStart(2.5L);
    EXPECT_EQ(r.StartPosition(), 62);
    r.PickEnd(8);
    EXPECT_EQ(r.EndPosition(), 200);
    r.SetEnd();
    EXPECT_EQ(r.EndPosition(), 250);
    EXPECT_EQ(r.Range.OutTime, 0);
    EXPECT_EQ(r.StatusText(-3), FormatTimeText(0) + " [0]");
    EXPECT_EQ(r.StatusText(0.03L), FormatTimeText(0.03L) + " [1]"); // three quarters of a frame
}

TEST(MovieRange, OkNeedsFiftyMillisecondsBetweenInAndOut) {
    TMovieRange r;
    r.Load(250, 10);
    // From the start, in, to the end, out, acceptable.
    const std::tuple<bool, Extended, bool, Extended, bool> cases[] = {
        {true, 0, true, 0, true},       {false, 9.96L, true, 0, false},
        {false, 9.94L, true, 0, true},  {false, 3, false, 3.04L, false},
        {false, 3, false, 3.06L, true}, {false, 5, false, 2, false},
        {true, 0, false, 0.04L, false}};
    for (const auto& [fromStart, in, toEnd, out, ok] : cases) {
        r.Range = {fromStart, in, toEnd, out};
        EXPECT_EQ(r.IsAcceptable(), ok) << double(in) << " " << double(out);
    }
}

TEST(ClipPlayer, SeekShowsExactlyTheFrameASequentialDecodeGives) {
    TTempDir dir;
    const std::string file = dir.Path + "/gop12.avi";
    TEncodedAviSpec spec;
    spec.Encoder = "mpeg4";
    spec.Width = 96;
    spec.Height = 64;
    spec.Frames = 40;
    spec.Fps = 25;
    std::string why;
    ASSERT_TRUE(WriteEncodedAvi(file, spec, &why)) << why;
    // What the render shows: the reader decoding every frame in order.
    TAviReader sequential;
    ASSERT_TRUE(sequential.Open(file));
    std::vector<std::vector<uint8_t>> expected;
    TBitmap b(96, 64);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(sequential.GetFrame(i, b));
        expected.push_back(Pixels(b));
    }
    TFakeUiServices ui;
    TClipPlayer player(&ui);
    ASSERT_TRUE(player.Open(file));
    EXPECT_EQ(player.Kind(), TClipKind::Movie);
    EXPECT_EQ(player.GetFrameCount() * 100 + player.GetRate(), 4025);
    for (int i : {13, 5, 23, 11, 12, 39, 0, 24, 35, 36}) {
        player.Seek(i);
        ASSERT_EQ(player.GetShownFrame(), i);
        EXPECT_EQ(Pixels(player.Picture()), expected[size_t(i)]) << "frame " << i;
    }
    EXPECT_NE(expected[12], expected[13]);
    player.SetCurrentTime(0.52L); // 13 frames
    EXPECT_EQ(player.GetPosition(), 13);
    player.Seek(40); // the end shows the last frame
    EXPECT_EQ(player.GetShownFrame(), 39);
    EXPECT_EQ(player.GetCurrentTime(), 1.6L);
}

TEST(ClipPlayer, BusyClockDropsFramesAndNeverFallsBehind) {
    TMovieProject p;
    TClipPlayer player(&p.Ui);
    ASSERT_TRUE(player.Open(p.Movie("m.avi", {.Frames = 50, .MicroSecPerFrame = 40000})));
    player.Seek(3);
    player.Play();
    ASSERT_TRUE(player.IsPlaying());
    // Each tick comes 100 ms late: two and a half frames have passed.
    for (int tick = 1; player.IsPlaying(); ++tick) {
        p.Ui.AdvanceClock(100);
        player.Tick();
        const int due = std::min(3 + tick * 100 * 25 / 1000, 50);
        ASSERT_EQ(player.GetPosition(), due) << "tick " << tick;
        EXPECT_EQ(NumberedFrameOf(player.Picture()), std::min(due, 49));
    }
    EXPECT_EQ(player.GetPosition(), 50);
    EXPECT_EQ(player.GetDroppedFrames(), 27); // 19 ticks showed 19 of the 46 frames after 3
    player.Play();                            // at the end: starts again from the beginning
    EXPECT_EQ(player.GetPosition(), 0);
    player.Stop();
    // One frame a second counts whole seconds; a closed player stands at 0.
    ASSERT_TRUE(player.Open(p.Movie("slow.avi", {.Frames = 5, .MicroSecPerFrame = 1000000})));
    player.Seek(3);
    EXPECT_EQ(player.GetCurrentTime(), 3);
    player.Close();
    EXPECT_EQ(player.GetCurrentTime(), 0);
}

// A sound file counts milliseconds; a movie's sound follows its frames. Both play their own
// samples from the position.
TEST(ClipPlayer, SoundPlaysItsSamplesFromThePosition) {
    TMovieProject p;
    TWavFixture w;
    w.Samples = MakeRampSamples(22050 * 2, 1, 16);
    const std::string wav = p.Dir.Path + "/s.wav";
    WriteWavFile(wav, w);
    auto device = std::make_shared<TFakeWaveOut>();
    TClipPlayer player(&p.Ui, [device] { return device->MakeHandle(); });
    ASSERT_TRUE(player.Open(wav));
    EXPECT_EQ(player.Kind(), TClipKind::Sound);
    EXPECT_EQ(player.GetFrameCount() * 10000 + player.GetRate(), 20001000);
    EXPECT_TRUE(player.Picture().Empty());
    ASSERT_TRUE(player.HasSound());
    player.SetCurrentTime(0.5L);
    EXPECT_EQ(player.GetPosition(), 500);
    std::vector<uint8_t> played = PlayedLead(player, *device);
    ASSERT_EQ(played.size(), 2205u * 2);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), w.Samples.begin() + 11025 * 2));
    EXPECT_EQ(device->OpenedFormat().SamplesPerSec, 22050u);
    p.Ui.AdvanceClock(250);
    player.Tick();
    EXPECT_EQ(player.GetPosition(), 750);
    player.Stop();

    TNumberedMovieSpec m{.Samples = 22050 * 2}; // 20 frames at 10 fps
    MakePcmFormat(m.Sound, 22050, 1, 16);
    auto movieDevice = std::make_shared<TFakeWaveOut>();
    TClipPlayer movie(&p.Ui, [movieDevice] { return movieDevice->MakeHandle(); });
    ASSERT_TRUE(movie.Open(p.Movie("s.avi", m)));
    ASSERT_TRUE(movie.HasSound());
    movie.Seek(5);
    played = PlayedLead(movie, *movieDevice); // two frames of lead
    ASSERT_EQ(played.size(), 2205u * 2);
    for (size_t i = 0; i < played.size() / 2; i += 441)
        EXPECT_EQ(int16_t(played[2 * i] | played[2 * i + 1] << 8), RampSample(11025 + int(i)));
    movie.Stop();
    EXPECT_FALSE(movieDevice->IsOpen());
}

// A FIFO is never waited on: the player refuses it at once with the usual message. Should the
// open block, the test opens the writing end so the reader sees the end and the test can fail.
TEST(ClipPlayer, FifoIsRefusedAtOnce) {
    TTempDir dir;
    const std::string fifo = dir.Path + "/pipe.avi";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TFakeUiServices ui;
    TClipPlayer player(&ui);
    auto opened = std::async(std::launch::async, [&] { return player.Open(fifo); });
    const bool returned = opened.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) {
        const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
    }
    EXPECT_TRUE(returned);
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(ui.Messages, std::vector<std::string>{"Can not open " + fifo});
}

TEST(MovieRangeDlg, FilesThatCanNotBeOpenedGiveTheMessageAndFalse) {
    TTempDir dir;
    const std::string damaged =
        dir.File("bad.avi", std::string("RIFF\x10\0\0\0AVI LIST\xff\xff\xff\x7fhdrl", 24));
    const std::string badWave = dir.File("bad.wav", std::string("RIFF\4\0\0\0WAVE", 12));
    int runs = 0;
    auto reset = ResetHooks(TMovieRangeDlg::ExecHook);
    TMovieRangeDlg::ExecHook = [&](TMovieRangeDlg&) { return ++runs, int(QDialog::Accepted); };
    for (const std::string& name : {damaged, badWave, dir.Path + "/none.avi"}) {
        TFakeUiServices ui;
        TPartialInfo range{false, 1.5L, false, 2.5L};
        EXPECT_FALSE(TMovieRangeDlg::Execute(name, range, &ui));
        EXPECT_EQ(ui.Messages, std::vector<std::string>{"Can not open " + name});
        EXPECT_EQ(range.InTime, 1.5L);
    }
    EXPECT_EQ(runs, 0);
}

// The caller's rate and colour: a sound object picks its range to the millisecond out of a
// 25 fps movie, the player showing the frame of the time, on the preview's background.
TEST(MovieRangeDlg, StepsAtTheCallersRateOnTheCallersBackground) {
    TMovieProject p;
    const std::string file = p.Movie("m.avi", {.Frames = 10, .MicroSecPerFrame = 40000});
    TTreeNodeData* video = p.Add<TTreeNodeData>(nkVideo, file);
    EXPECT_EQ(RangeStepRate(p.Root->AddNode("Sound", amLastChild, nkAudio)), 1000);
    EXPECT_EQ(RangeStepRate(video), 25);
    video->FileName.clear(); // a file gone since
    EXPECT_EQ(RangeStepRate(video), 0);

    auto reset = ResetHooks(TMovieRangeDlg::ExecHook, TMovieRangeDlg::DeviceFactory);
    auto device = std::make_shared<TFakeWaveOut>();
    TMovieRangeDlg::DeviceFactory = [device] { return device->MakeHandle(); };
    const QColor panel(0x00, 0x23, 0x46);
    TMovieRangeDlg::ExecHook = [&](TMovieRangeDlg& d) {
        EXPECT_EQ(std::tuple(d.TrackBar->maximum(), d.GetRange().Step), std::tuple(400, 200));
        d.SetPosition(130); // 0.13 s: frame 3, at 0.12 s, is the nearest
        EXPECT_EQ(d.GetPlayer().GetShownFrame(), 3);
        EXPECT_EQ(d.StatusBar->text().toStdString(), FormatTimeText(0.12L) + " [120]");
        QTest::mouseClick(d.sbNext, Qt::LeftButton);
        EXPECT_EQ(d.TrackBar->value(), 330);
        EXPECT_EQ(d.GetPlayer().GetShownFrame(), 8);
        d.sbPickEnd->click();
        // Playing moves the track bar by the time the player is at.
        d.SetPosition(0);
        d.sbPlay->click();
        p.Ui.AdvanceClock(200);
        EXPECT_TRUE(QTest::qWaitFor([&] { return d.TrackBar->value() == 200; }, 2000));
        d.sbStop->click();
        EXPECT_EQ(d.PlayerView->grab().toImage().pixelColor(0, 0), panel);
        d.BitBtn1->click();
        return d.result();
    };
    TPartialInfo range{true, 0, true, 0};
    ASSERT_TRUE(TMovieRangeDlg::Execute(file, range, &p.Ui, nullptr, {1000, panel}));
    EXPECT_TRUE(range.FromStart && !range.ToEnd);
    EXPECT_EQ(range.OutTime, 0.32L);
}

// In the main window: Cancel keeps the range; OK refuses a part shorter than 50 ms with a beep,
// and writes a good one back.
TEST(MovieRangeDlg, CancelKeepsTheRangeAndOkWritesItBack) {
    TMovieProject p;
    const std::string file = p.Movie("m.avi", {.Frames = 100}); // 10 s at 10 fps
    auto reset = ResetHooks(TMovieRangeDlg::ExecHook, TMovieRangeDlg::DeviceFactory);
    auto device = std::make_shared<TFakeWaveOut>();
    TMovieRangeDlg::DeviceFactory = [device] { return device->MakeHandle(); };
    TMainForm form(&p.Ui);
    TPartialInfo range{false, 2, true, 0};
    TMovieRangeDlg::ExecHook = [&](TMovieRangeDlg& d) {
        EXPECT_EQ(d.parent(), &form);
        EXPECT_TRUE(d.rbCustomStart->isChecked() && d.rbEnd->isChecked());
        EXPECT_EQ(d.eStart->text().toStdString() + "-" + d.eEnd->text().toStdString(),
                  FormatTimeText(2) + "-" + FormatTimeText(10));
        EXPECT_EQ(d.TrackBar->maximum(), 100);
        d.SetPosition(50);
        d.sbPickEnd->click();
        d.rbBeginning->click();
        d.BitBtn2->click();
        return d.result();
    };
    EXPECT_FALSE(TMovieRangeDlg::Execute(file, range, &p.Ui, &form));
    EXPECT_TRUE(!range.FromStart && range.InTime == 2 && range.ToEnd);

    TMovieRangeDlg::ExecHook = [&](TMovieRangeDlg& d) {
        d.SetPosition(100); // the last frame: nothing is left after it
        d.sbPickStart->click();
        d.BitBtn1->click();
        EXPECT_EQ(p.Ui.Beeps, 1);
        EXPECT_FALSE(d.result() == QDialog::Accepted);
        d.SetPosition(30);
        d.sbPickStart->click();
        // A short click steps once, 2 frames at 10 fps; held, the button steps every tick.
        QTest::mouseClick(d.sbNext, Qt::LeftButton);
        EXPECT_EQ(d.TrackBar->value(), 32);
        d.sbBefore->pressed();
        d.StepTick();
        d.sbBefore->released();
        d.StepTick();
        EXPECT_EQ(d.TrackBar->value(), 28);
        QTest::mouseClick(d.sbNext, Qt::LeftButton);
        QTest::mouseClick(d.sbNext, Qt::LeftButton);
        EXPECT_EQ(d.TrackBar->value(), 32);
        // The time fields show picked times and take no typing.
        QTest::keyClicks(d.eStart, "9");
        EXPECT_EQ(d.eStart->text().toStdString(), FormatTimeText(3));
        EXPECT_EQ(d.eStart->focusPolicy(), Qt::NoFocus);
        d.sbPickEnd->click(); // 0.2 s after the in point
        EXPECT_EQ(d.StatusBar->text().toStdString(), FormatTimeText(3.2L) + " [32]");
        d.sbLocateStart->click();
        EXPECT_EQ(d.GetPlayer().GetShownFrame(), 30);
        d.sbLast->click();
        EXPECT_EQ(d.GetPlayer().GetShownFrame(), 99);
        EXPECT_EQ(NumberedFrameOf(d.GetPlayer().Picture()), 99);
        d.BitBtn1->click();
        return d.result();
    };
    ASSERT_TRUE(TMovieRangeDlg::Execute(file, range, &p.Ui, &form));
    EXPECT_FALSE(range.FromStart || range.ToEnd);
    EXPECT_EQ(range.InTime, 3);
    EXPECT_EQ(range.OutTime, 3.2L);
}
