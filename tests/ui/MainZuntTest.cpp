#include "MainZunt.h"

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

#include "FakeUiServices.h"
#include "MyBlankNode.h"
#include "MyCommonParamsPart.h"
#include "MyMsgDlg.h"
#include "MyUiServices.h"

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

void Pump() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            OldConfig = old;
        setenv("XDG_CONFIG_HOME", Dir.path().toUtf8().constData(), 1);
        Form = std::make_unique<TTestForm>(&Ui);
        Form->show();
        Pump();
        Root = Form->GetProject();
    }
    void TearDown() override {
        Form.reset();
        if (OldConfig)
            setenv("XDG_CONFIG_HOME", OldConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
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
    std::string File(const std::string& name) const {
        return (std::filesystem::path(Dir.path().toStdString()) / name).string();
    }
    std::string Status(int panel) const { return Form->StatusPanels[panel]->text().toStdString(); }

    QTemporaryDir Dir;
    std::optional<std::string> OldConfig;
    TFakeUiServices Ui;
    std::unique_ptr<TTestForm> Form;
    TProjectNode* Root = nullptr;
};

} // namespace

// ---- start -------------------------------------------------------------------------------------

TEST_F(MainWindow, StartsWithANewEmptyProject) {
    EXPECT_EQ(Form->windowTitle(), "Tarvolin version 1.54");
    ASSERT_EQ(Form->TreeView1->topLevelItemCount(), 1);
    QTreeWidgetItem* top = Form->TreeView1->topLevelItem(0);
    EXPECT_EQ(top->text(0), "New Project");
    ASSERT_EQ(top->childCount(), 1);
    EXPECT_EQ(top->child(0)->text(0), "Video track");
    EXPECT_TRUE(top->isExpanded());
    EXPECT_EQ(Status(2), "Project: New empty project");
    EXPECT_EQ(Root->Ui, &Ui);
    EXPECT_TRUE(Form->sbArrange->isChecked());
    EXPECT_EQ(Form->Timeline().GetFramePos(), 0);
    // The strip is never shorter than the view, whatever the project's length.
    EXPECT_GE(Form->Timeline().GetMaxFrames(), 0);
    EXPECT_TRUE(Ui.Questions.empty());
    // Nothing to play yet.
    EXPECT_FALSE(Form->sbPlay1->isEnabled());
    EXPECT_FALSE(Form->sbFirst1->isEnabled());
    EXPECT_FALSE(Form->sbLast1->isEnabled());
    // Hidden at show.
    EXPECT_FALSE(Form->mnView->menuAction()->isVisible());
    EXPECT_FALSE(Form->miCaptureImage->isVisible());
    EXPECT_TRUE(Form->miSingleMonitor->isChecked());
    EXPECT_EQ(Form->miOpenProject->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(Form->miExportVideo->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));

    AddBlank(1.0L);
    EXPECT_TRUE(Form->sbPlay1->isEnabled());
    EXPECT_TRUE(Form->sbFirst1->isEnabled());
    EXPECT_GE(Form->Timeline().GetMaxFrames(), 15);
    // Commands whose windows come later stay off even with frames to export.
    EXPECT_FALSE(Form->miExportVideo->isEnabled());
    EXPECT_FALSE(Form->sbWriteProj->isEnabled());
    EXPECT_TRUE(Form->miExportAudio->isEnabled());
}

TEST_F(MainWindow, ExportAudioOnlyWritesTheProjectsLength) {
    AddBlank(2.0L);
    const std::string name = File("sound.wav");
    Ui.FileAnswers = {name};
    Form->WriteWAV1Click();
    std::ifstream in(name, std::ios::binary | std::ios::ate);
    // 2 s of 22050 Hz 16-bit stereo after the 44-byte header.
    EXPECT_EQ(static_cast<int64_t>(in.tellg()), 44 + 176400);
    EXPECT_EQ(Settings->ReadString("Recents", "WaveFile", ""), name);
    EXPECT_EQ(Ui.Messages.back(), "Finish writing " + name);
    EXPECT_TRUE(Form->miOpenProject->isEnabled()); // editing is back on
    // Without header: the second filter writes the samples alone.
    const std::string raw = File("sound.raw");
    Ui.FileAnswers = {raw};
    Ui.FilterIndex = 2;
    Ui.Answers = {TMsgResult::OK}; // the question before writing samples without a header
    Form->WriteWAV1Click();
    std::ifstream rin(raw, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<int64_t>(rin.tellg()), 176400);
}

// ---- close -------------------------------------------------------------------------------------

TEST_F(MainWindow, ClosingAnUnmodifiedEmptyProjectAsksNothing) {
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(Ui.Questions.empty());
    EXPECT_TRUE(Form->IsClosing());
    EXPECT_EQ(Root->GetChildCount(), 0); // torn down after the accepted close
}

TEST_F(MainWindow, ClosingAModifiedProjectAsksBothQuestionsAndCancelKeepsIt) {
    AddBlank(2.0L);
    Ui.Answers = {TMsgResult::OK, TMsgResult::Cancel};
    EXPECT_FALSE(Form->close());
    EXPECT_EQ(Ui.Questions,
              (std::vector<std::string>{"Close current project?",
                                        "Current Project has been modified. Save it first?"}));
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->IsClosing());
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);
    // The window keeps working: the preview still renders.
    const int before = Form->RenderCount();
    Form->SendSetFrame(7);
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 1);
    EXPECT_EQ(Form->GetLastRenderedFrame(), 7);

    Ui.Questions.clear();
    Ui.Answers = {TMsgResult::Cancel};
    EXPECT_FALSE(Form->close());
    EXPECT_EQ(Ui.Questions.size(), 1u); // Cancel on the first question ends it

    Ui.Answers = {TMsgResult::OK, TMsgResult::No};
    EXPECT_TRUE(Form->close());
}

TEST_F(MainWindow, CloseWithAFailedSaveKeepsTheProject) {
    AddBlank(2.0L);
    Ui.Answers = {TMsgResult::OK, TMsgResult::Yes};
    Ui.FileAnswers = {File("no/such/folder/p.mpr")};
    EXPECT_FALSE(Form->close());
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_NE(Ui.Messages[0].find("Can not save"), std::string::npos);
    EXPECT_EQ(Status(2), "Project: New empty project");
    EXPECT_FALSE(Settings->ValueExists("Recents", "ProjectFile"));

    // A good name saves and closes.
    Ui.Answers = {TMsgResult::OK, TMsgResult::Yes};
    Ui.FileAnswers = {File("p.mpr")};
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(std::filesystem::exists(File("p.mpr")));
}

TEST_F(MainWindow, CloseIsRefusedWhileTheRootIsBusyAndOnlyStopsIt) {
    AddBlank(2.0L);
    Root->Busy = true; // a WAV export's loop, say, pumping messages
    Root->Abort = false;
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Ui.Questions.empty());
    EXPECT_TRUE(Root->Abort);
    EXPECT_FALSE(Form->IsClosing());
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 1);
    Root->Busy = false;
}

TEST_F(MainWindow, CloseDuringPlaybackStopsItAndTheWindowStays) {
    AddBlank(2.0L);
    bool closed = true;
    bool editingDuringPlay = true;
    Form->Loop = [&](int32_t start, int32_t end, bool realTime) {
        EXPECT_TRUE(realTime);
        EXPECT_EQ(end, -1);
        Root->Busy = true;
        Root->Abort = false;
        editingDuringPlay = Form->sbNewProj->isEnabled() || Form->mnFile->menuAction()->isEnabled();
        closed = Form->close(); // arrives through the loop's message pump
        Root->Busy = false;
        return Root->Abort;
    };
    QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
    EXPECT_EQ(Form->Runs, 1);
    EXPECT_FALSE(closed);
    EXPECT_FALSE(editingDuringPlay);
    EXPECT_TRUE(Ui.Questions.empty());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(Form->sbPlay1->isChecked());
    EXPECT_TRUE(Form->sbStop1->isChecked());
    EXPECT_TRUE(Form->sbNewProj->isEnabled());
    EXPECT_TRUE(Form->mnFile->menuAction()->isEnabled());
    EXPECT_TRUE(Form->sbFirst1->isEnabled());
    EXPECT_FALSE(Form->sbUp->isEnabled()); // still waiting for its command
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
    EXPECT_FALSE(Form->sbPlay1->isChecked());
    EXPECT_TRUE(Form->sbOpenProj->isEnabled());
}

TEST_F(MainWindow, FirstAndLastButtonsMoveTheCursorToTheEnds) {
    AddBlank(2.0L);
    Form->Timeline().SetFramePos(9);
    QTest::mouseClick(Form->sbLast1, Qt::LeftButton);
    Pump();
    EXPECT_EQ(Form->Timeline().GetFramePos(), 30);
    EXPECT_TRUE(Form->sbStop1->isChecked());
    EXPECT_FALSE(Form->sbLast1->isChecked());
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
    // Frame 0 counts as never rendered.
    Form->SendSetFrame(0);
    Pump();
    Form->PostPreviewFrame();
    Pump();
    EXPECT_EQ(Form->RenderCount(), before + 4);
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

TEST_F(MainWindow, PreviewLayoutFollowsZoomAndPlacement) {
    AddBlank(1.0L);
    const int bw = Form->pBackground->width();
    const int bh = Form->pBackground->height();
    Form->miZoom50->trigger();
    EXPECT_FALSE(Form->miZoom100->isChecked());
    EXPECT_EQ(Form->ZoomMode(), 2);
    EXPECT_EQ(Form->pDisplay->size(), QSize(160, 120));
    EXPECT_EQ(Form->pDisplay->pos(), QPoint((bw - 160) / 2, (bh - 120) / 2));
    EXPECT_EQ(Form->VideoImage->size(), QSize(160, 120));
    Form->miFitToWindow->trigger();
    EXPECT_FALSE(Form->miCentered->isChecked());
    EXPECT_EQ(Form->ZoomMode(), 0);
    const long double scale = std::min((long double)bw / 320, (long double)bh / 240);
    EXPECT_EQ(Form->pDisplay->width(), Round(320 * scale));
    EXPECT_EQ(Form->pDisplay->height(), Round(240 * scale));
    Form->miDefaultView->trigger();
    EXPECT_TRUE(Form->miCentered->isChecked());
    EXPECT_EQ(Form->ZoomMode(), 3);
    EXPECT_EQ(Form->pDisplay->size(), QSize(320, 240));
    Pump();
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
    const QPoint corner = Form->VideoImage->mapTo(Form.get(), QPoint(1, 1));
    EXPECT_EQ(shot.pixelColor(corner), QColor(255, 0, 0));
    // Around it, the window's background colour.
    ASSERT_GT(Form->pDisplay->x(), 2);
    const QPoint outside = Form->pBackground->mapTo(Form.get(), QPoint(1, 1));
    EXPECT_EQ(shot.pixelColor(outside), ColorFromBGR(4596480));
}

// ---- project commands --------------------------------------------------------------------------

namespace {
// A project as the project-file tests make them: folders, clips, pegs and settings.
void MakeProjectFile(const std::string& name) {
    TMemTree tree;
    TProjectNode p("Project", tree.AddRoot("Project"));
    auto* b1 = static_cast<TBlankNode*>(p.VideoTrack->AddNode("Black 1", amLastChild, nkBlank));
    b1->UserDuration = 1.5L;
    b1->BlankColor = 0x123456;
    auto* b2 = static_cast<TBlankNode*>(p.VideoTrack->AddNode("Black 2", amLastChild, nkBlank));
    b2->UserDuration = 0.75L;
    b2->Description = {"second", "clip"};
    TTreeNodeData* group = p.AddNode("Group", amLastChild, nkGroup);
    group->Enabled = false;
    p.SetVideoFormat(352, 240, 25.0L);
    p.Refresh();
    ASSERT_TRUE(p.SaveToFile(name));
}
} // namespace

TEST_F(MainWindow, OpenSaveAsOpenKeepsTheFileByteForByte) {
    const std::string a = File("a.mpr");
    const std::string b = File("b.mpr");
    const std::string c = File("c.mpr");
    MakeProjectFile(a);
    Ui.FileAnswers = {a};
    Form->sbOpenProj->click();
    Pump();
    EXPECT_TRUE(Ui.Questions.empty());
    EXPECT_FALSE(Form->ErrorDlg->isVisible());
    EXPECT_EQ(Root->FileName, a);
    EXPECT_EQ(Status(2), "Project:" + a);
    EXPECT_EQ(Form->TreeView1->topLevelItem(0)->text(0), "Project a.mpr");
    EXPECT_EQ(Root->Width, 352);
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 2);
    EXPECT_GE(Form->Timeline().GetMaxFrames(), Root->GetFrameCount());
    EXPECT_EQ(Form->GetLastRenderedFrame(), 0); // frame 0 rendered after opening
    EXPECT_EQ(Settings->ReadString("Recents", "ProjectFile", ""), a);
    EXPECT_FALSE(Root->IsModified());

    Ui.FileAnswers = {b};
    Form->miSaveProjectAs->trigger();
    EXPECT_EQ(ReadBytes(b), ReadBytes(a));
    EXPECT_EQ(Status(2), "Project:" + b);
    EXPECT_EQ(Form->TreeView1->topLevelItem(0)->text(0), "Project b.mpr");
    EXPECT_EQ(Settings->ReadString("Recents", "ProjectFile", ""), b);

    // The project has a duration: closing it asks first; unmodified, nothing more.
    Ui.Answers = {TMsgResult::OK};
    Ui.FileAnswers = {b};
    Form->miOpenProject->trigger();
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Close current project?"});
    Ui.FileAnswers = {c};
    Form->miSaveProjectAs->trigger();
    EXPECT_EQ(ReadBytes(c), ReadBytes(a));

    // Save writes to the project's own file.
    std::filesystem::remove(c);
    Form->sbSaveProj->click();
    EXPECT_EQ(ReadBytes(c), ReadBytes(a));
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
    EXPECT_TRUE(Root->FileName.empty());
    EXPECT_EQ(Status(2), "Project: New empty project");
    QTreeWidgetItem* top = Form->TreeView1->topLevelItem(0);
    EXPECT_EQ(top->text(0), "New Project");
    ASSERT_EQ(top->childCount(), 1);
    EXPECT_EQ(top->child(0)->text(0), "Video track");
    EXPECT_FALSE(Form->sbPlay1->isEnabled());
    Form->ErrorDlg->close();

    // Save of a project without a file asks for a name, starting at the last one opened.
    Ui.FileAnswers = {std::nullopt};
    Form->sbSaveProj->click();
    EXPECT_TRUE(Root->FileName.empty());
}

TEST_F(MainWindow, RecentsAreWrittenOnlyAfterAConfirmedDialog) {
    Ui.FileAnswers = {std::nullopt};
    Form->sbOpenProj->click();
    EXPECT_FALSE(Settings->ValueExists("Recents", "ProjectFile"));
    Ui.FileAnswers = {std::nullopt};
    Form->miSaveProjectAs->trigger();
    EXPECT_FALSE(Settings->ValueExists("Recents", "ProjectFile"));
    EXPECT_EQ(Status(2), "Project: New empty project");

    const std::string a = File("a.mpr");
    MakeProjectFile(a);
    Ui.FileAnswers = {a};
    Form->sbOpenProj->click();
    EXPECT_EQ(Settings->ReadString("Recents", "ProjectFile", ""), a);
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
    EXPECT_EQ(Root->VideoTrack->GetChildCount(), 0);
    EXPECT_EQ(Status(2), "Project: New empty project");
    EXPECT_FALSE(Form->sbPlay1->isEnabled());
}

TEST_F(MainWindow, BackgroundColourIsChosenAndRemembered) {
    Ui.ColorAnswers = {std::nullopt, 0x00336699u};
    QAction* item = nullptr;
    for (QAction* a : Form->findChildren<QAction*>())
        if (a->text() == "Video background color")
            item = a;
    ASSERT_NE(item, nullptr);
    item->trigger();
    EXPECT_FALSE(Settings->ValueExists("Preference", "Video Background Color"));
    item->trigger();
    EXPECT_EQ(Settings->ReadInteger("Preference", "Video Background Color", 0), 0x00336699);
    EXPECT_EQ(Form->pBackground->palette().color(QPalette::Window), ColorFromBGR(0x00336699));
}
