// The main window as a new user meets it: playing without a sound device, the ruler, adjust
// mode, repeat and its stop, the scroll thumb at the strip's end, raw WAV names, and the end
// buttons around stop points.
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>

#include "FakeWaveOut.h"
#include "MainWindowRig.h"
#include "MyCommonServices.h"
#include "MyStopList.h"
#include "MyTimeData.h"
#include "MyUiServices.h"
#include "MyWavStreaming.h"

namespace {

// A user who reads each message for five seconds; the pump delivers what threads posted.
class TSlowReaderUi : public TFakeUiServices {
public:
    void ShowMessage(const std::string& text, TMsgKind kind) override {
        TFakeUiServices::ShowMessage(text, kind);
        AdvanceClock(5000);
    }
    void ProcessMessages() override {
        TFakeUiServices::ProcessMessages();
        AdvanceClock(2);
        RunPosted();
    }
};

class MainWindowFaults : public TMainWindowRig<TSlowReaderUi> {
protected:
    TTimeline& Strip() { return *Form->GetMainTimeline(); }
    uint32_t PreviewPixel() {
        const TBitmap& p = Form->VideoImage->Picture();
        return p.Canvas().GetPixel(p.Width() / 2, p.Height() / 2);
    }
};

} // namespace

TEST_F(MainWindowFaults, PlayWithoutASoundDeviceTellsOnceAndThePictureFollowsTheCursor) {
    auto device = std::make_shared<TFakeWaveOut>();
    device->DeviceCountResult = 0;
    Root->WaveOutFactory = [device] { return device->MakeHandle(); };
    AddBlank(1.0L, 0x0000FF);
    AddBlank(1.0L, 0x00FF00);
    EXPECT_EQ(PreviewPixel(), 0x0000FFu);
    const int64_t start = Ui.ClockMs;
    QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
    PumpEvents();
    EXPECT_EQ(Ui.Messages, std::vector<std::string>{WaveOutNoDeviceText});
    // The two seconds were played after the message, not skipped while it was read.
    EXPECT_GE(Ui.ClockMs - start, 5000 + 1900);
    EXPECT_EQ(
        std::tuple(Form->Timeline().GetFramePos(), PreviewPixel(), Form->sbStop1->isChecked()),
        std::tuple(30, 0x00FF00u, true));
}

namespace {

// The program's own services: their message windows, and the real clock.
class NoSoundDevice : public TMainWindowRig<> {
protected:
    void SetUp() override { Start(&Real); }
    void TearDown() override {
        TMainWindowRig::TearDown();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                delete w;
    }
    static std::vector<QMessageBox*> Notices() {
        std::vector<QMessageBox*> out;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                out.push_back(box);
        return out;
    }
    TMyUiServices Real;
};

} // namespace

// Told once a run, without holding the pictures up: every Play runs to the end.
TEST_F(NoSoundDevice, PlayTellsOnceARunAndThePicturesGoOn) {
    auto device = std::make_shared<TFakeWaveOut>();
    device->DeviceCountResult = 0;
    Root->WaveOutFactory = [device] { return device->MakeHandle(); };
    Root->VideoTrack->AddNode("Black", amLastChild, nkBlank)->UserDuration = 0.4L;
    Form->RefreshProject(true);
    PumpEvents();
    for (int play = 0; play < 3; ++play) {
        Form->Timeline().SetFramePos(0);
        QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
        PumpEvents();
        EXPECT_EQ(Form->Timeline().GetFramePos(), 6) << play;
        const std::vector<QMessageBox*> notices = Notices();
        ASSERT_EQ(notices.size(), 1u) << play;
        EXPECT_EQ(notices[0]->text().toStdString(), WaveOutNoDeviceText);
        EXPECT_FALSE(notices[0]->isModal());
    }
}

TEST_F(MainWindowFaults, TheRulerStartsInSecondsAndAdjustShowsTheCurveRow) {
    EXPECT_TRUE(Strip().GetShowSecond() && Strip().sbMode2->isChecked());
    TBlankNode* blank = AddBlank(2.0L);
    blank->Curves->GetItem(1)->SetEnabled(true); // "Level"
    Form->TreeView1->setCurrentItem(dynamic_cast<TTreeWidgetItem*>(blank->Item));
    PumpEvents();
    EXPECT_EQ(Root->GetActiveNode(), blank);
    for (auto [button, height] : {std::pair{Form->sbAdjust, TTrackDraw::CurveRowHeight},
                                  {Form->sbArrange, TTrackDraw::RowHeight},
                                  {Form->sbAdjust, TTrackDraw::CurveRowHeight}}) {
        QTest::mouseClick(button, Qt::LeftButton);
        PumpEvents();
        EXPECT_EQ(std::tuple(button->isChecked(), blank->TrackRect.Bottom - blank->TrackRect.Top),
                  std::tuple(true, height));
    }
    // A new project starts arranging.
    Ui.Answers = {TMsgResult::OK, TMsgResult::No};
    Form->sbNewProj1Click();
    PumpEvents();
    EXPECT_TRUE(Form->sbArrange->isChecked() && !Strip().GetTrackDraw()->AdjustMode);
}

TEST_F(MainWindowFaults, RepeatEndsOnEscapeAndOnACloseRequest) {
    AddBlank(2.0L);
    Strip().sbRepeat->click();
    ASSERT_TRUE(Strip().RepeatBetweenStops);
    // Escape and a close request end the repeat at once; else the range plays again until Stop.
    for (int how : {0, 1, 2}) {
        SCOPED_TRACE(how);
        Form->Runs = 0;
        Form->Loop = [&](int32_t, int32_t, bool) {
            Root->Busy = how < 2;
            if (how == 0) {
                Ui.Answers = {TMsgResult::OK};
                QTest::keyClick(Form.get(), Qt::Key_Escape);
            } else if (how == 1) {
                EXPECT_FALSE(Form->close());
            } else if (Form->Runs == 3) {
                QTest::mouseClick(Form->sbStop1, Qt::LeftButton);
            }
            Root->Busy = false;
            return true;
        };
        QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
        EXPECT_EQ(std::tuple(Form->Runs, Form->sbStop1->isChecked()),
                  std::tuple(how == 2 ? 3 : 1, true));
    }
}

// Where the last playback stopped, on a stop point, Play runs on to the next stop point, and
// with repeat on loops between the two; past the last one it plays to the end.
TEST_F(MainWindowFaults, PlayFromAStopPointRunsToTheNextOne) {
    AddBlank(10.0L);            // 150 frames at 15 fps
    Root->Pegs->AddPoint(2.0L); // frame 30
    Root->Pegs->AddPoint(8.0L); // frame 120
    using TRun = std::tuple<int32_t, int32_t>;
    const struct {
        bool Repeat;
        int32_t From;
        std::vector<TRun> Runs;
    } cases[] = {
        {false, 0, {{0, 30}}},
        {false, 30, {{30, 120}}},
        {true, 30, {{30, 120}, {30, 120}, {30, 120}}},
        {true, 44, {{44, 120}, {30, 120}, {30, 120}}},
        {true, 120, {{120, -1}, {120, -1}, {120, -1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.From);
        if (Strip().RepeatBetweenStops != c.Repeat)
            Strip().sbRepeat->click();
        Form->Timeline().SetFramePos(c.From);
        std::vector<TRun> runs;
        Form->Loop = [&](int32_t start, int32_t end, bool) {
            runs.emplace_back(start, end);
            if (runs.size() == 3)
                QTest::mouseClick(Form->sbStop1, Qt::LeftButton);
            return true;
        };
        QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
        EXPECT_EQ(runs, c.Runs);
        EXPECT_TRUE(Form->sbStop1->isChecked());
    }
}

TEST_F(MainWindowFaults, TheThumbAtItsEndShowsTheStripsLastFrames) {
    TBlankNode* blank = AddBlank(600.0L); // 9000 frames, 36000 strip pixels
    TTimeline& strip = Strip();
    const TTimelineModel& m = strip.GetModel();
    for (int i = 0; i < 40; ++i)
        QTest::mouseClick(strip.pScroll, Qt::LeftButton, {}, QPoint(strip.pScroll->width() - 1, 5));
    ASSERT_EQ(m.ThumbPxLeft + m.ThumbPxWidth, m.ScrollTrackWidth);
    const int64_t viewEnd = m.ScrollX + strip.Image1->width();
    EXPECT_TRUE(viewEnd >= m.GetMaxPixels() &&
                viewEnd <= m.GetMaxPixels() + TTimelineModel::CursorButtonWidth)
        << viewEnd;
    // A short project after the long one gets its own strip, never shorter than the view.
    blank->UserDuration = 1.0L;
    Form->RefreshProject(true);
    PumpEvents();
    EXPECT_LT(strip.GetMaxFrames(), 9000);
    EXPECT_TRUE(m.GetMaxPixels() >= strip.Image1->width() &&
                m.GetMaxPixels() <= strip.Image1->width() + 4)
        << m.GetMaxPixels();
    EXPECT_EQ(m.ScrollX, 0);
}

TEST_F(MainWindowFaults, GoToBeginPassesAStopPointOnTheSecondPress) {
    AddBlank(20.0L);             // 300 frames at 15 fps
    Root->Pegs->AddPoint(6.0L);  // frame 90
    Root->Pegs->AddPoint(12.0L); // frame 180
    const struct {
        QToolButton* Button;
        int32_t From, To;
    } presses[] = {{Form->sbLast1, 100, 180}, {Form->sbLast1, 180, 300}, {Form->sbFirst1, 185, 181},
                   {Form->sbFirst1, 181, 91}, {Form->sbFirst1, 91, 0},   {Form->sbFirst1, 0, 0}};
    for (const auto& p : presses) {
        SCOPED_TRACE(p.From);
        Form->Timeline().SetFramePos(p.From);
        QTest::mouseClick(p.Button, Qt::LeftButton);
        PumpEvents();
        EXPECT_EQ(Form->Timeline().GetFramePos(), p.To);
    }
    EXPECT_EQ(Form->GetLastRenderedFrame(), 0);
    EXPECT_EQ(Status(0).rfind("Frame:0   ", 0), 0u);
}

// Help names the file and the real cause: a missing file, or no program to show it.
TEST_F(MainWindowFaults, HelpThatCannotOpenNamesTheFileAndTheCause) {
    const std::filesystem::path help =
        std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / "help" /
        "default.htm";
    const bool made = !std::filesystem::exists(help);
    std::filesystem::create_directories(help.parent_path());
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", Config.Dir.Path.c_str(), 1);
    if (made) {
        Form->miContents->trigger();
        std::ofstream(help) << "<p>help</p>";
    }
    Form->miContents->trigger();
    setenv("PATH", path.c_str(), 1);
    if (made)
        std::filesystem::remove(help);
    const std::string start = "Can not open the help file " + help.string() + ": ";
    ASSERT_EQ(Ui.Messages.size(), made ? 2u : 1u);
    if (made) {
        EXPECT_EQ(Ui.Messages[0], start + help.string() + " does not exist");
    }
    EXPECT_EQ(Ui.Messages.back().rfind(start, 0), 0u) << Ui.Messages.back();
    EXPECT_NE(Ui.Messages.back().find("xdg-open"), std::string::npos) << Ui.Messages.back();
}

namespace {
// The program's own dialogs, played by the test: the file dialog is the real one.
class TDialogUi : public TMyUiServices {
public:
    std::vector<std::string> Said;
    void ShowMessage(const std::string& text, TMsgKind) override { Said.push_back(text); }
    TMsgResult Ask(const std::string& text, TMsgButtons, TMsgKind) override {
        Said.push_back(text);
        return TMsgResult::OK;
    }
};
} // namespace

TEST_F(MainWindowFaults, RawWavExportKeepsTheNameAsTyped) {
    TDialogUi ui;
    Start(&ui);
    Root->Ui = &ui;
    AddBlank(1.0L);
    Settings->WriteString("Recents", "WaveFile", File("start.wav"));
    QString title;
    ui.ExecDialog = [&](QDialog& d) {
        title = d.windowTitle();
        auto* combo = d.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        auto* edit = d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!combo || !edit)
            return int(QDialog::Rejected);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down); // "Without header"
        edit->setText(QStringLiteral("rawtest"));
        d.accept();
        return d.result();
    };
    Form->WriteWAV1Click();
    EXPECT_EQ(title, "Enter Wav output file");
    EXPECT_EQ(std::filesystem::file_size(File("rawtest")), 88200u); // samples, no header
    EXPECT_EQ(Settings->ReadString("Recents", "WaveFile", ""), File("rawtest"));
    Form.reset();
}
