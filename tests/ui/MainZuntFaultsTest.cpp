// The main window as a new user meets it: playing without a sound device, the ruler, adjust
// mode, repeat and its stop, the scroll thumb at the strip's end, raw WAV names, go-to-begin
// around stop points and the active object chosen in the tree.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "FakeWaveOut.h"
#include "MainZunt.h"
#include "MyBlankNode.h"
#include "MyCommonParamsPart.h"
#include "MyMovieNode.h"
#include "MyStopList.h"
#include "MyTimeData.h"
#include "MyTimelineLink.h"
#include "MyTreeItems.h"
#include "MyUiServices.h"
#include "MyWavStreaming.h"
#include "NumberedMovie.h"
#include "TempFolders.h"

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

// The main window with an optional playback loop of the test's own.
class TFaultForm : public TMainForm {
public:
    using TMainForm::TMainForm;
    std::function<bool(int32_t, int32_t, bool)> Loop;
    int Runs = 0;

protected:
    bool RunPlayLoop(int32_t start, int32_t end, bool realTime) override {
        ++Runs;
        return Loop ? Loop(start, end, realTime) : TMainForm::RunPlayLoop(start, end, realTime);
    }
};

void Pump() {
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

class MainWindowFaults : public ::testing::Test {
protected:
    void SetUp() override { Start(&Ui); }
    void Start(IUiServices* ui) {
        Form.reset();
        Form = std::make_unique<TFaultForm>(ui);
        Form->show();
        Pump();
        Root = Form->GetProject();
    }
    void TearDown() override {
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
    }
    TBlankNode* AddBlank(Extended seconds, uint32_t color) {
        auto* b = static_cast<TBlankNode*>(
            Root->VideoTrack->AddNode("Black frame", amLastChild, nkBlank));
        b->UserDuration = seconds;
        b->BlankColor = color;
        Form->RefreshProject(true);
        Pump();
        return b;
    }
    TTimeline& Strip() {
        auto* link = dynamic_cast<TTimelineLink*>(&Form->Timeline());
        EXPECT_NE(link, nullptr);
        return *link->GetTimeline();
    }
    uint32_t PreviewPixel() {
        const TBitmap& p = Form->VideoImage->Picture();
        return p.Canvas().GetPixel(p.Width() / 2, p.Height() / 2);
    }
    std::string File(const std::string& name) const { return Config.PathOf(name); }

    TScratchConfig Config;
    TSlowReaderUi Ui;
    std::unique_ptr<TFaultForm> Form;
    TProjectNode* Root = nullptr;
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
    Pump();
    EXPECT_EQ(Ui.Messages, std::vector<std::string>{WaveOutNoDeviceText});
    // The two seconds were played after the message, not skipped while it was read.
    EXPECT_GE(Ui.ClockMs - start, 5000 + 1900);
    EXPECT_EQ(Form->Timeline().GetFramePos(), 30);
    EXPECT_EQ(PreviewPixel(), 0x00FF00u);
    EXPECT_TRUE(Form->sbStop1->isChecked());
}

TEST_F(MainWindowFaults, TheRulerStartsInSecondsAndAdjustShowsTheCurveRow) {
    EXPECT_TRUE(Strip().GetShowSecond());
    EXPECT_TRUE(Strip().sbMode2->isChecked());

    TBlankNode* blank = AddBlank(2.0L, 0);
    blank->Curves->GetItem(1)->SetEnabled(true); // "Level"
    auto* item = dynamic_cast<TTreeWidgetItem*>(blank->Item);
    ASSERT_NE(item, nullptr);
    Form->TreeView1->setCurrentItem(item);
    Pump();
    EXPECT_EQ(Root->GetActiveNode(), blank);
    const struct {
        QToolButton* Button;
        int32_t Height;
    } steps[] = {{Form->sbAdjust, TTrackDraw::CurveRowHeight},
                 {Form->sbArrange, TTrackDraw::RowHeight},
                 {Form->sbAdjust, TTrackDraw::CurveRowHeight}};
    for (const auto& step : steps) {
        QTest::mouseClick(step.Button, Qt::LeftButton);
        Pump();
        EXPECT_TRUE(step.Button->isChecked());
        EXPECT_EQ(blank->TrackRect.Bottom - blank->TrackRect.Top, step.Height);
    }
    // A new project starts arranging.
    Ui.Answers = {TMsgResult::OK, TMsgResult::No};
    Form->sbNewProj1Click();
    Pump();
    EXPECT_TRUE(Form->sbArrange->isChecked());
    EXPECT_FALSE(Strip().GetTrackDraw()->AdjustMode);
}

TEST_F(MainWindowFaults, RepeatEndsOnEscapeAndOnACloseRequest) {
    AddBlank(2.0L, 0);
    Strip().sbRepeat->click();
    ASSERT_TRUE(Strip().RepeatBetweenStops);
    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape);
        Form->Runs = 0;
        Form->Loop = [&](int32_t, int32_t, bool) {
            Root->Busy = true;
            if (escape) {
                Ui.Answers = {TMsgResult::OK};
                QTest::keyClick(Form.get(), Qt::Key_Escape);
            } else {
                EXPECT_FALSE(Form->close());
            }
            Root->Busy = false;
            return true;
        };
        QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
        EXPECT_EQ(Form->Runs, 1);
        EXPECT_TRUE(Form->sbStop1->isChecked());
    }
    // Without a stop, repeat plays the range again.
    int runs = 0;
    Form->Loop = [&](int32_t, int32_t, bool) {
        if (++runs == 3)
            QTest::mouseClick(Form->sbStop1, Qt::LeftButton);
        return true;
    };
    QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
    EXPECT_EQ(runs, 3);
}

TEST_F(MainWindowFaults, TheThumbAtItsEndShowsTheStripsLastFrames) {
    TBlankNode* blank = AddBlank(600.0L, 0); // 9000 frames, 36000 strip pixels
    TTimeline& strip = Strip();
    const TTimelineModel& m = strip.GetModel();
    for (int i = 0; i < 40; ++i)
        QTest::mouseClick(strip.pScroll, Qt::LeftButton, {}, QPoint(strip.pScroll->width() - 1, 5));
    ASSERT_EQ(m.ThumbPxLeft + m.ThumbPxWidth, m.ScrollTrackWidth);
    const int64_t viewEnd = m.ScrollX + strip.Image1->width();
    EXPECT_GE(viewEnd, m.GetMaxPixels());
    EXPECT_LE(viewEnd, m.GetMaxPixels() + TTimelineModel::CursorButtonWidth);
    // A short project after the long one gets its own strip, never shorter than the view.
    blank->UserDuration = 1.0L;
    Form->RefreshProject(true);
    Pump();
    EXPECT_LT(strip.GetMaxFrames(), 9000);
    EXPECT_GE(m.GetMaxPixels(), strip.Image1->width());
    EXPECT_LE(m.GetMaxPixels(), strip.Image1->width() + 4);
    EXPECT_EQ(m.ScrollX, 0);
}

TEST_F(MainWindowFaults, GoToBeginPassesAStopPointOnTheSecondPress) {
    AddBlank(20.0L, 0);          // 300 frames at 15 fps
    Root->Pegs->AddPoint(6.0L);  // frame 90
    Root->Pegs->AddPoint(12.0L); // frame 180
    const struct {
        QToolButton* Button;
        int32_t From, To;
    } presses[] = {{Form->sbFirst1, 185, 181}, {Form->sbFirst1, 181, 91},
                   {Form->sbFirst1, 91, 0},    {Form->sbFirst1, 0, 0},
                   {Form->sbLast1, 100, 180},  {Form->sbLast1, 180, 300}};
    for (const auto& p : presses) {
        SCOPED_TRACE(p.From);
        Form->Timeline().SetFramePos(p.From);
        QTest::mouseClick(p.Button, Qt::LeftButton);
        Pump();
        EXPECT_EQ(Form->Timeline().GetFramePos(), p.To);
    }
}

TEST_F(MainWindowFaults, SelectingAMovieWithSoundInTheTreeEnablesTheExtraction) {
    TNumberedMovieSpec spec;
    MakePcmFormat(spec.Sound, 22050, 2, 16);
    spec.Samples = 22050;
    BuildAvi(NumberedMovieSpec(spec)).Save(File("m.avi"));
    auto* movie = static_cast<TMovieNode*>(Root->VideoTrack->AddNode("m", amLastChild, nkVideo));
    movie->SetFileName(File("m.avi"));
    TBlankNode* blank = AddBlank(1.0L, 0);
    Form->TreeView1->setCurrentItem(dynamic_cast<TTreeWidgetItem*>(movie->Item));
    Pump();
    Form->Otherexports1Click();
    EXPECT_TRUE(Form->miExtractAudio->isEnabled());
    // Choosing the black frames on the timeline moves the tree's selection with it.
    Root->SetActiveNode(blank);
    EXPECT_EQ(Form->TreeView1->currentItem(), dynamic_cast<TTreeWidgetItem*>(blank->Item));
    Form->Otherexports1Click();
    EXPECT_FALSE(Form->miExtractAudio->isEnabled());
}

TEST_F(MainWindowFaults, HelpWithoutABrowserNamesTheHelpFile) {
    Form->miContents->trigger();
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_NE(Ui.Messages[0].find("help/default.htm"), std::string::npos);
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
    AddBlank(1.0L, 0);
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
    EXPECT_TRUE(std::filesystem::exists(File("rawtest")));
    EXPECT_EQ(std::filesystem::file_size(File("rawtest")), 88200u); // samples, no header
    EXPECT_EQ(Settings->ReadString("Recents", "WaveFile", ""), File("rawtest"));
    Form.reset();
}
