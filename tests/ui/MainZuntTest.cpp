#include "MainZunt.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "MyBlankNode.h"
#include "MyCommonParamsPart.h"
#include "MyMovieNode.h"
#include "MyMsgDlg.h"
#include "MyUiServices.h"
#include "NumberedMovie.h"
#include "TempFolders.h"

namespace {

// The main window with the playback loop replaced by the test's own.
class TTestForm : public TMainForm {
public:
    using TMainForm::TMainForm;
    std::function<bool(int32_t, int32_t, bool)> Loop;
    int Runs = 0;

protected:
    bool RunPlayLoop(int32_t start, int32_t end, bool realTime) override {
        ++Runs;
        return Loop ? Loop(start, end, realTime) : true;
    }
};

// A timeline whose cursor jumps once, the next time the window moves it.
class TJumpingTimeline : public TTimelineSeam {
public:
    int32_t JumpTo = -1;
    void SetFramePos(int32_t frame) override {
        FramePos = frame;
        if (JumpTo >= 0) {
            FramePos = JumpTo;
            JumpTo = -1;
        }
    }
};

std::string ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int64_t FileSize(const std::string& name) {
    std::error_code ec;
    return static_cast<int64_t>(std::filesystem::file_size(name, ec));
}

void Pump() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { Restart(); }
    void Restart() {
        Form.reset();
        Ui.Questions.clear();
        Ui.Messages.clear();
        Form = std::make_unique<TTestForm>(&Ui);
        Form->show();
        Pump();
        Root = Form->GetProject();
    }
    void TearDown() override {
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
        EXPECT_TRUE(Ui.FileAnswers.empty()) << "dialogs not shown";
    }
    TTreeNodeData* AddBlank(Extended seconds, uint32_t color = 0) {
        auto* b = static_cast<TBlankNode*>(
            Root->VideoTrack->AddNode("Black frame", amLastChild, nkBlank));
        b->UserDuration = seconds;
        b->BlankColor = color;
        Form->RefreshProject(true);
        Pump();
        return b;
    }
    std::string File(const std::string& name) const { return Config.PathOf(name); }
    std::string Status(int panel) const { return Form->StatusPanels[panel]->text().toStdString(); }
    void ExpectNewEmptyProject() {
        EXPECT_TRUE(Root->FileName.empty());
        EXPECT_EQ(Status(2), "Project: New empty project");
        QTreeWidgetItem* top = Form->TreeView1->topLevelItem(0);
        EXPECT_EQ(top->text(0), "New Project");
        ASSERT_EQ(top->childCount(), 1);
        EXPECT_EQ(top->child(0)->text(0), "Video track");
        EXPECT_EQ(Root->VideoTrack->GetChildCount(), 0);
        EXPECT_FALSE(Form->sbPlay1->isEnabled());
    }

    TScratchConfig Config;
    TFakeUiServices Ui;
    std::unique_ptr<TTestForm> Form;
    TProjectNode* Root = nullptr;
};

} // namespace

// ---- start -------------------------------------------------------------------------------------

TEST_F(MainWindow, StartsWithANewEmptyProject) {
    EXPECT_EQ(Form->windowTitle(), "Tarvolin version 1.54");
    ASSERT_EQ(Form->TreeView1->topLevelItemCount(), 1);
    ExpectNewEmptyProject();
    EXPECT_TRUE(Ui.Questions.empty());

    AddBlank(1.0L);
    EXPECT_TRUE(Form->sbPlay1->isEnabled());
    EXPECT_GE(Form->Timeline().GetMaxFrames(), 15);
    EXPECT_TRUE(Form->miExportVideo->isEnabled());
    EXPECT_TRUE(Form->miExportAudio->isEnabled());
}

TEST_F(MainWindow, ExportAudioOnlyWritesTheProjectsLength) {
    AddBlank(2.0L);
    const std::string name = File("sound.wav");
    Ui.FileAnswers = {name};
    Form->WriteWAV1Click();
    // 2 s of 22050 Hz 16-bit stereo after the 44-byte header.
    EXPECT_EQ(FileSize(name), 44 + 176400);
    EXPECT_EQ(Settings->ReadString("Recents", "WaveFile", ""), name);
    EXPECT_TRUE(Form->miOpenProject->isEnabled()); // editing is back on
    // The second filter writes the samples alone, after a question.
    const std::string raw = File("sound.raw");
    Ui.FileAnswers = {raw};
    Ui.FilterIndex = 2;
    Ui.Answers = {TMsgResult::OK};
    Form->WriteWAV1Click();
    EXPECT_EQ(FileSize(raw), 176400);
}

TEST_F(MainWindow, ExtractAMoviesSoundTrack) {
    TNumberedMovieSpec spec;
    MakePcmFormat(spec.Sound, 22050, 2, 16);
    spec.Samples = 44100; // 2 s
    const std::string movieName = File("m.avi");
    BuildAvi(NumberedMovieSpec(spec)).Save(movieName);
    auto* movie = static_cast<TMovieNode*>(Root->VideoTrack->AddNode("m", amLastChild, nkVideo));
    movie->SetFileName(movieName);
    Form->RefreshProject(false);
    Root->SetActiveNode(movie);
    Form->Otherexports1Click();
    ASSERT_TRUE(Form->miExtractAudio->isEnabled());
    const std::string wav = File("track.wav");
    Ui.FileAnswers = {wav};
    Ui.Answers = {TMsgResult::No}; // do not play it
    Form->Extractaudio1Click();
    EXPECT_EQ(FileSize(wav), 44 + 44100 * 4);
}

// ---- close -------------------------------------------------------------------------------------

TEST_F(MainWindow, CloseAsksAboutAModifiedProjectAndKeepsItUnlessItIsDoneWith) {
    using R = TMsgResult;
    const std::vector<std::string> questions{"Close current project?",
                                             "Current Project has been modified. Save it first?"};
    struct TCase {
        bool Modified;
        std::vector<R> Answers;
        const char* SaveTo; // the save dialog's answer
        bool Closes;
    } const cases[] = {
        {false, {}, nullptr, true},
        {true, {R::Cancel}, nullptr, false},
        {true, {R::OK, R::Cancel}, nullptr, false},
        {true, {R::OK, R::No}, nullptr, true},
        {true, {R::OK, R::Yes}, "no/such/folder/p.mpr", false}, // the save fails
        {true, {R::OK, R::Yes}, "p.mpr", true},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const TCase& c = cases[i];
        Restart();
        if (c.Modified)
            AddBlank(2.0L);
        Ui.Answers.assign(c.Answers.begin(), c.Answers.end());
        if (c.SaveTo)
            Ui.FileAnswers = {File(c.SaveTo)};
        EXPECT_EQ(Form->close(), c.Closes);
        EXPECT_EQ(Ui.Questions, std::vector<std::string>(questions.begin(),
                                                         questions.begin() + c.Answers.size()));
        EXPECT_EQ(Form->isVisible(), !c.Closes);
        if (c.Closes) {
            EXPECT_EQ(Root->GetChildCount(), 0); // torn down after the accepted close
        } else {
            EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);
        }
        if (c.SaveTo && !c.Closes) {
            EXPECT_NE(Ui.Messages.at(0).find("Can not save"), std::string::npos);
        }
    }
    EXPECT_TRUE(std::filesystem::exists(File("p.mpr")));
}

TEST_F(MainWindow, CloseWhileBusyOrPlayingOnlyStopsAndTheWindowStays) {
    AddBlank(2.0L);
    Root->Busy = true; // a WAV export's loop, say, pumping messages
    Root->Abort = false;
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Root->Abort);
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);
    Root->Busy = false;

    bool closed = true;
    Form->Loop = [&](int32_t, int32_t, bool) {
        Root->Busy = true;
        Root->Abort = false;
        EXPECT_FALSE(Form->sbNewProj->isEnabled()); // no editing while playing
        closed = Form->close();                     // arrives through the loop's message pump
        Root->Busy = false;
        return Root->Abort;
    };
    QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(Ui.Questions.empty());
    EXPECT_TRUE(Form->sbStop1->isChecked());
    EXPECT_TRUE(Form->sbNewProj->isEnabled());
}

// ---- player ------------------------------------------------------------------------------------

TEST_F(MainWindow, SecondClickOnPlayNeverStopsAndAnExceptionEndsAsStop) {
    AddBlank(2.0L);
    Form->Timeline().SetFramePos(5);
    Form->Loop = [&](int32_t start, int32_t, bool) {
        EXPECT_EQ(start, 5);
        QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
        EXPECT_TRUE(Form->sbPlay1->isChecked());
        throw EReadError("broken frame", "a.avi", 0);
        return true;
    };
    QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
    EXPECT_EQ(Form->Runs, 1);
    EXPECT_TRUE(Form->sbStop1->isChecked());
}

TEST_F(MainWindow, FirstAndLastButtonsMoveTheCursorToTheEnds) {
    AddBlank(2.0L);
    Form->Timeline().SetFramePos(9);
    QTest::mouseClick(Form->sbLast1, Qt::LeftButton);
    Pump();
    EXPECT_EQ(Form->Timeline().GetFramePos(), 30);
    QTest::mouseClick(Form->sbFirst1, Qt::LeftButton);
    Pump();
    EXPECT_EQ(Form->Timeline().GetFramePos(), 0);
    EXPECT_EQ(Form->GetLastRenderedFrame(), 0);
    EXPECT_EQ(Status(0).rfind("Frame:0   ", 0), 0u);
}

// ---- keys --------------------------------------------------------------------------------------

TEST_F(MainWindow, EscapeAsksOnlyWhileSomethingRuns) {
    Root->Abort = false;
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    EXPECT_TRUE(Ui.Questions.empty());
    EXPECT_FALSE(Root->Abort);

    Root->Busy = true;
    Ui.Answers = {TMsgResult::Cancel, TMsgResult::OK};
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    EXPECT_FALSE(Root->Abort);
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    EXPECT_TRUE(Root->Abort);
    EXPECT_EQ(Ui.Questions, (std::vector<std::string>{"Stop the process?", "Stop the process?"}));
    Root->Busy = false;
}

// ---- preview -----------------------------------------------------------------------------------

TEST_F(MainWindow, QueuedCursorMovesCostOneRenderOfTheLastFrame) {
    AddBlank(2.0L);
    const int before = Form->RenderCount();
    for (int i = 1; i <= 10; ++i) {
        Form->Timeline().SetFramePos(i);
        Form->PostPreviewFrame();
    }
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 1);
    EXPECT_EQ(Form->GetLastRenderedFrame(), 10);
    EXPECT_EQ(Status(0).rfind("Frame:10   ", 0), 0u);
    EXPECT_EQ(Ui.BusyDepth, 0);
    // The same frame again is not rendered again, unless forced.
    Form->PostPreviewFrame();
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 1);
    Form->PostSetFrame(-1);
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 2);
}

TEST_F(MainWindow, CursorMovedDuringARenderGetsAFollowUpRender) {
    AddBlank(2.0L);
    auto jumping = std::make_unique<TJumpingTimeline>();
    TJumpingTimeline* timeline = jumping.get();
    Form->AttachTimeline(std::move(jumping));
    Form->SendSetFrame(3);
    timeline->JumpTo = 12; // moves when the render reports frame 3
    const int before = Form->RenderCount();
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 2);
    EXPECT_EQ(Form->GetLastRenderedFrame(), 12);
}

TEST_F(MainWindow, RequestWhileTheRootIsBusyIsServedAfterwards) {
    AddBlank(2.0L);
    const int before = Form->RenderCount();
    Root->Busy = true;
    Form->SendSetFrame(6);
    Pump();
    EXPECT_EQ(Form->RenderCount(), before);
    EXPECT_TRUE(Root->Busy); // the render did not clear the loop's flag
    Root->Busy = false;
    Form->EnableEditing(true); // what every loop does when it ends
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 1);
    EXPECT_EQ(Form->GetLastRenderedFrame(), 6);
}

TEST_F(MainWindow, GrabShowsTheProjectsFrameInThePreview) {
    const uint32_t red = 0x0000FF;
    AddBlank(1.0L, red);
    Root->SetBackgroundColor(red);
    Form->SendSetFrame(-1);
    Pump();
    ASSERT_GT(Form->VideoImage->width(), 10);
    const QImage shot = Form->grab().toImage();
    const QPoint centre = Form->VideoImage->mapTo(Form.get(), Form->VideoImage->rect().center());
    EXPECT_EQ(shot.pixelColor(centre), QColor(255, 0, 0));
    // Around it, the window's background colour.
    ASSERT_GT(Form->pDisplay->x(), 2);
    const QPoint outside = Form->pBackground->mapTo(Form.get(), QPoint(1, 1));
    EXPECT_EQ(shot.pixelColor(outside), ColorFromBGR(4596480));
}

// ---- project commands --------------------------------------------------------------------------

namespace {
// A project as the project-file tests make them: clips, a disabled group and a video format.
void MakeProjectFile(const std::string& name) {
    TMemTree tree;
    TProjectNode p("Project", tree.AddRoot("Project"));
    for (Extended d : {1.5L, 0.75L}) {
        auto* b = static_cast<TBlankNode*>(p.VideoTrack->AddNode("Black", amLastChild, nkBlank));
        b->UserDuration = d;
        b->BlankColor = 0x123456;
    }
    p.AddNode("Group", amLastChild, nkGroup)->Enabled = false;
    p.SetVideoFormat(352, 240, 25.0L);
    p.Refresh();
    ASSERT_TRUE(p.SaveToFile(name));
}
} // namespace

TEST_F(MainWindow, OpenSaveAsOpenKeepsTheFileByteForByte) {
    const std::string a = File("a.mpr");
    const std::string b = File("b.mpr");
    MakeProjectFile(a);
    // "Recents" is written only after a confirmed dialog.
    Ui.FileAnswers = {std::nullopt, std::nullopt};
    Form->sbOpenProj->click();
    Form->miSaveProjectAs->trigger();
    EXPECT_FALSE(Settings->ValueExists("Recents", "ProjectFile"));

    Ui.FileAnswers = {a};
    Form->sbOpenProj->click();
    Pump();
    EXPECT_FALSE(Form->ErrorDlg->isVisible());
    EXPECT_EQ(Status(2), "Project:" + a);
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
    EXPECT_FALSE(Root->IsModified());
    EXPECT_EQ(Settings->ReadString("Recents", "ProjectFile", ""), a);

    Ui.FileAnswers = {b};
    Form->miSaveProjectAs->trigger();
    EXPECT_EQ(ReadBytes(b), ReadBytes(a));
    EXPECT_EQ(Settings->ReadString("Recents", "ProjectFile", ""), b);

    // The project has a duration: closing it asks first; unmodified, nothing more.
    Ui.Answers = {TMsgResult::OK};
    Ui.FileAnswers = {b};
    Form->miOpenProject->trigger();
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Close current project?"});
    // Save writes to the project's own file.
    std::filesystem::remove(b);
    Form->sbSaveProj->click();
    EXPECT_EQ(ReadBytes(b), ReadBytes(a));
}

TEST_F(MainWindow, CorruptFileShowsWhyAndLeavesANewEmptyProject) {
    const std::string bad = File("bad.mpr");
    std::ofstream(bad, std::ios::binary) << "Brenmo this is no project";
    Ui.FileAnswers = {bad};
    Form->sbOpenProj->click();
    Pump();
    ASSERT_TRUE(Form->ErrorDlg->isVisible());
    EXPECT_NE(Form->ErrorDlg->Memo1->toPlainText().toStdString().find("Can not open " + bad),
              std::string::npos);
    ExpectNewEmptyProject();
    Form->ErrorDlg->close();
}

TEST_F(MainWindow, NewProjectAsksAndCancelOnTheSaveQuestionKeepsTheOldOne) {
    AddBlank(2.0L);
    Ui.Answers = {TMsgResult::OK, TMsgResult::Cancel};
    Form->sbNewProj->click();
    EXPECT_EQ(Ui.Questions,
              (std::vector<std::string>{"Close project  and create a new one?",
                                        "Current Project has been modified. Save it first?"}));
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);

    Ui.Answers = {TMsgResult::OK, TMsgResult::No};
    Form->miNewProject->trigger();
    ExpectNewEmptyProject();
}
