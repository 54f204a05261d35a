#include <QGroupBox>
#include <QHelpEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QToolTip>
#include <unistd.h>

#include "MainWindowRig.h"
#include "MyCommonServices.h"
#include "MyMovieNode.h"
#include "MyMsgDlg.h"
#include "MyUiServices.h"
#include "NumberedMovie.h"

namespace {

// A timeline whose cursor jumps once, the next time the window moves it.
class TJumpingTimeline : public TTimelineSeam {
public:
    int32_t JumpTo = -1;
    void SetFramePos(int32_t frame) override {
        FramePos = JumpTo >= 0 ? JumpTo : frame;
        JumpTo = -1;
    }
};

std::string ReadBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MainWindow : public TMainWindowRig<> {
protected:
    void ExpectNewEmptyProject() {
        QTreeWidgetItem* top = Form->TreeView1->topLevelItem(0);
        ASSERT_EQ(top->childCount(), 1);
        EXPECT_EQ(
            std::tuple(Root->FileName, Status(2), top->text(0).toStdString(),
                       top->child(0)->text(0).toStdString(), Root->VideoTrack->GetChildCount(),
                       Form->sbPlay1->isEnabled()),
            std::tuple("", "Project: New empty project", "New Project", "Video track", 0, false));
    }
    std::string ErrorText() const { return Form->ErrorDlg->Memo1->toPlainText().toStdString(); }
};

} // namespace

TEST_F(MainWindow, ExportAudioOnlyWritesTheProjectsLength) {
    AddBlank(2.0L);
    const std::string name = File("sound.wav");
    Ui.FileAnswers = {name};
    const auto MenuStates = [this] {
        std::string on;
        for (QAction* a : Form->menuBar()->actions())
            on += a->isEnabled() ? '1' : '0';
        return on;
    };
    const std::string menus = MenuStates();
    ASSERT_NE(menus.find('1'), std::string::npos);
    Form->WriteWAV1Click();
    // 2 s of 22050 Hz 16-bit stereo after the 44-byte header.
    EXPECT_EQ(ReadBytes(name).size(), 44u + 176400);
    EXPECT_EQ(Settings->ReadString("Recents", "WaveFile", ""), name);
    EXPECT_EQ(MenuStates(), menus); // editing is back on
    // The second filter writes the samples alone, after a question.
    const std::string raw = File("sound.raw");
    Ui.FileAnswers = {raw};
    Ui.FilterIndex = 2;
    Ui.Answers = {TMsgResult::OK};
    Form->WriteWAV1Click();
    EXPECT_EQ(ReadBytes(raw).size(), 176400u);
}

TEST_F(MainWindow, ExtractAMoviesSoundTrackOfTheMovieChosenInTheTree) {
    TNumberedMovieSpec spec;
    MakePcmFormat(spec.Sound, 22050, 2, 16);
    spec.Samples = 44100; // 2 s
    BuildAvi(NumberedMovieSpec(spec)).Save(File("m.avi"));
    auto* movie = static_cast<TMovieNode*>(Root->VideoTrack->AddNode("m", amLastChild, nkVideo));
    movie->SetFileName(File("m.avi"));
    TBlankNode* blank = AddBlank(1.0L);
    Form->TreeView1->setCurrentItem(dynamic_cast<TTreeWidgetItem*>(movie->Item));
    PumpEvents();
    Form->Otherexports1Click();
    ASSERT_TRUE(Form->miExtractAudio->isEnabled());
    Ui.FileAnswers = {File("track.wav")};
    Ui.Answers = {TMsgResult::No}; // do not play it
    Form->Extractaudio1Click();
    EXPECT_EQ(ReadBytes(File("track.wav")).size(), 44u + 44100 * 4);
    // Choosing the black frames on the timeline moves the tree's selection with it.
    Root->SetActiveNode(blank);
    EXPECT_EQ(Form->TreeView1->currentItem(), dynamic_cast<TTreeWidgetItem*>(blank->Item));
    Form->Otherexports1Click();
    EXPECT_FALSE(Form->miExtractAudio->isEnabled());
}

TEST_F(MainWindow, CloseAsksAboutAModifiedProjectAndKeepsItUnlessItIsDoneWith) {
    using R = TMsgResult;
    const std::vector<std::string> questions{"Close current project?",
                                             "Current Project has been modified. Save it first?"};
    struct TCase {
        bool Modified;
        std::vector<R> Answers;
        const char* SaveTo; // the save dialog's answer
        bool Closes;
        bool Cyclic = false; // a sub-project of the project is that file
    } const cases[] = {
        {false, {}, nullptr, true},
        {true, {R::Cancel}, nullptr, false},
        {true, {R::OK, R::Cancel}, nullptr, false},
        {true, {R::OK, R::No}, nullptr, true},
        {true, {R::OK, R::Yes}, "no/such/folder/p.mpr", false}, // the save fails
        {true, {R::OK, R::Yes}, "cyclic.mpr", false, true},     // the save is refused
        {true, {R::OK, R::Yes}, "p.mpr", true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(&c - cases);
        Start(&Ui);
        if (c.Modified)
            AddBlank(2.0L);
        if (c.Cyclic)
            Root->AddNode("Sub", amLastChild, nkSubProject)->SetFileName(File(c.SaveTo));
        Ui.Answers.assign(c.Answers.begin(), c.Answers.end());
        if (c.SaveTo)
            Ui.FileAnswers = {File(c.SaveTo)};
        EXPECT_EQ(Form->close(), c.Closes);
        EXPECT_EQ(Ui.Questions, std::vector<std::string>(questions.begin(),
                                                         questions.begin() + c.Answers.size()));
        EXPECT_EQ(Form->isVisible(), !c.Closes);
        // Torn down after the accepted close.
        EXPECT_EQ(c.Closes ? Root->GetChildCount() : Root->VideoTrack->GetChildCount(),
                  c.Closes ? 0 : 1);
        if (c.SaveTo && !c.Closes) {
            EXPECT_NE(Ui.Messages.at(0).find("Can not save"), std::string::npos);
        }
    }
    EXPECT_TRUE(std::filesystem::exists(File("p.mpr")));
    EXPECT_FALSE(std::filesystem::exists(File("cyclic.mpr")));
}

TEST_F(MainWindow, EscapeAndCloseWhileBusyOrPlayingOnlyStopAndTheWindowStays) {
    AddBlank(2.0L);
    Root->Abort = false;
    QTest::keyClick(Form.get(), Qt::Key_Escape); // nothing runs: no question
    EXPECT_TRUE(Ui.Questions.empty());
    Root->Busy = true; // a WAV export's loop, say, pumping messages
    Ui.Answers = {TMsgResult::Cancel, TMsgResult::OK};
    for (bool aborts : {false, true}) {
        QTest::keyClick(Form.get(), Qt::Key_Escape);
        EXPECT_EQ(Root->Abort, aborts);
    }
    EXPECT_EQ(Ui.Questions, (std::vector<std::string>{"Stop the process?", "Stop the process?"}));
    Ui.Questions.clear();
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
    EXPECT_TRUE(Form->sbStop1->isChecked() && Form->sbNewProj->isEnabled());
}

TEST_F(MainWindow, SecondClickOnPlayNeverStopsAndAnExceptionEndsAsStop) {
    AddBlank(2.0L);
    Form->Timeline().SetFramePos(5);
    Form->Loop = [&](int32_t start, int32_t, bool) -> bool {
        EXPECT_EQ(start, 5);
        QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
        EXPECT_TRUE(Form->sbPlay1->isChecked());
        throw EReadError("broken frame", "a.avi", 0);
    };
    QTest::mouseClick(Form->sbPlay1, Qt::LeftButton);
    EXPECT_EQ(Form->Runs, 1);
    EXPECT_TRUE(Form->sbStop1->isChecked());
}

TEST_F(MainWindow, PreviewRendersQueuedMovesOnceAndBusyOrMovedFramesAfterwards) {
    AddBlank(2.0L);
    int renders = Form->RenderCount();
    for (int i = 1; i <= 10; ++i) {
        Form->Timeline().SetFramePos(i);
        Form->PostPreviewFrame();
    }
    PumpEvents();
    EXPECT_EQ(std::tuple(Form->RenderCount(), Form->GetLastRenderedFrame(), Ui.BusyDepth),
              std::tuple(++renders, 10, 0));
    EXPECT_EQ(Status(0).rfind("Frame:10   ", 0), 0u);
    // The same frame again is not rendered again, unless forced.
    Form->PostPreviewFrame();
    PumpEvents();
    EXPECT_EQ(Form->RenderCount(), renders);
    Form->PostSetFrame(-1);
    PumpEvents();
    EXPECT_EQ(Form->RenderCount(), ++renders);
    // A request while the root is busy waits for the loop's end, and leaves its flag alone.
    Root->Busy = true;
    Form->SendSetFrame(6);
    PumpEvents();
    EXPECT_EQ(std::tuple(Form->RenderCount(), Root->Busy), std::tuple(renders, true));
    Root->Busy = false;
    Form->EnableEditing(true); // what every loop does when it ends
    PumpEvents();
    EXPECT_EQ(std::tuple(Form->RenderCount(), Form->GetLastRenderedFrame()),
              std::tuple(++renders, 6));
    // A cursor moved during a render gets a follow-up render.
    auto jumping = std::make_unique<TJumpingTimeline>();
    TJumpingTimeline* timeline = jumping.get();
    Form->AttachTimeline(std::move(jumping));
    Form->SendSetFrame(3);
    timeline->JumpTo = 12; // moves when the render reports frame 3
    PumpEvents();
    EXPECT_EQ(std::tuple(Form->RenderCount(), Form->GetLastRenderedFrame()),
              std::tuple(renders + 2, 12));
}

TEST_F(MainWindow, GrabShowsTheProjectsFrameInThePreview) {
    const uint32_t red = 0x0000FF;
    AddBlank(1.0L, red);
    Root->SetBackgroundColor(red);
    Form->SendSetFrame(-1);
    PumpEvents();
    ASSERT_GT(Form->VideoImage->width(), 10);
    ASSERT_GT(Form->pDisplay->x(), 2);
    const QImage shot = Form->grab().toImage();
    const QPoint centre = Form->VideoImage->mapTo(Form.get(), Form->VideoImage->rect().center());
    EXPECT_EQ(shot.pixelColor(centre), QColor(255, 0, 0));
    // Around it, the window's background colour.
    const QPoint outside = Form->pBackground->mapTo(Form.get(), QPoint(1, 1));
    EXPECT_EQ(shot.pixelColor(outside), ColorFromBGR(4596480));
    // Fitted, a one-pixel project fills the panel's shorter side; larger than the panel, a
    // picture starts at its top-left corner.
    const QSize panel = Form->pBackground->size();
    const int side = std::min(panel.width(), panel.height());
    const QPoint centred((panel.width() - side) / 2, (panel.height() - side) / 2);
    for (auto [size, placement, zoom, display, at] :
         {std::tuple{QSize(1, 1), Form->miFitToWindow, Form->miZoom100, QSize(side, side), centred},
          std::tuple{panel, Form->miCentered, Form->miZoom200, panel * 2, QPoint(0, 0)}}) {
        Root->Width = size.width();
        Root->Height = size.height();
        zoom->trigger();
        placement->trigger();
        EXPECT_EQ(std::pair(Form->pDisplay->size(), Form->pDisplay->pos()), std::pair(display, at));
    }
}

TEST_F(MainWindow, OpenSaveAsOpenKeepsTheFileByteForByte) {
    const std::string a = File("a.mpr"), b = File("b.mpr");
    {
        TMemTree tree;
        TProjectNode p("Project", tree.AddRoot("Project"));
        for (Extended d : {1.5L, 0.75L}) {
            auto* n = static_cast<TBlankNode*>(p.VideoTrack->AddNode("B", amLastChild, nkBlank));
            n->UserDuration = d;
            n->BlankColor = 0x123456;
        }
        p.AddNode("Group", amLastChild, nkGroup)->Enabled = false;
        p.SetVideoFormat(352, 240, 25.0L);
        p.Refresh();
        ASSERT_TRUE(p.SaveToFile(a));
    }
    // "Recents" is written only after a confirmed dialog.
    Ui.FileAnswers = {std::nullopt, std::nullopt};
    Form->sbOpenProj->click();
    Form->miSaveProjectAs->trigger();
    EXPECT_FALSE(Settings->ValueExists("Recents", "ProjectFile"));

    Ui.FileAnswers = {a};
    Form->sbOpenProj->click();
    PumpEvents();
    EXPECT_FALSE(Form->ErrorDlg->isVisible());
    EXPECT_EQ(std::tuple(Status(2), Root->VideoTrack->GetChildCount(), Root->IsModified(),
                         Settings->ReadString("Recents", "ProjectFile", "")),
              std::tuple("Project:" + a, 2, false, a));
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

// A damaged file, or a film picked as a project ("All files") and refused unread, leaves a new
// project with no name: the next Save asks for one instead of writing over the film.
TEST_F(MainWindow, RefusedFilesShowWhyAndLeaveANewProjectWithoutAName) {
    const std::string bad = File("bad.mpr"), film = File("film.avi");
    std::ofstream(bad, std::ios::binary) << "Brenmo this is no project";
    std::ofstream(film) << "RIFF";
    ASSERT_EQ(::truncate(film.c_str(), TProjectNode::MaxProjectFileBytes + 1), 0);
    // The report is read with the new project on show: the cursor is back at 0.
    std::vector<std::string> reports;
    auto reset = MakeScopeExit([] { TErrorDlg::ExecHook = nullptr; });
    TErrorDlg::ExecHook = [&](TErrorDlg&) {
        reports.push_back(ErrorText());
        EXPECT_EQ(Form->Timeline().GetFramePos(), 0);
        return int(QDialog::Accepted);
    };
    for (const std::string& name : {bad, film}) {
        Form->Timeline().SetFramePos(5);
        Ui.FileAnswers = {name};
        Form->sbOpenProj->click();
        PumpEvents();
        ASSERT_EQ(reports.size(), name == bad ? 1u : 2u);
        EXPECT_EQ(reports.back().rfind("Can not open " + name, 0), 0u) << reports.back();
        EXPECT_EQ(Form->Timeline().GetFramePos(), 0);
        ExpectNewEmptyProject();
    }
    AddBlank(1.0L);
    Ui.FileAnswers = {File("new.mpr")};
    Form->sbSaveProj1Click();
    EXPECT_EQ(Root->FileName, File("new.mpr"));
    EXPECT_TRUE(std::filesystem::exists(File("new.mpr")));
    EXPECT_EQ(std::filesystem::file_size(film), uint64_t(TProjectNode::MaxProjectFileBytes + 1));
}

// A project cut short fails to load after the old one was closed: the window then shows what New
// shows, preview, status texts and tree alike, and the failed file is not the last project.
TEST_F(MainWindow, AFailedLoadLeavesTheWindowAsNewDoes) {
    const std::string good = File("good.mpr"), cut = File("cut.mpr");
    AddBlank(2.0L, 0x00FF00);
    ASSERT_TRUE(Root->SaveToFile(good));
    const std::string bytes = ReadBytes(good);
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const auto State = [this] {
        const TBitmap& p = Form->VideoImage->Picture();
        return std::tuple(p.Canvas().GetPixel(p.Width() / 2, p.Height() / 2), Status(0), Status(1),
                          Status(2), Form->TreeView1->topLevelItem(0)->text(0).toStdString(),
                          Settings->ReadString("Recents", "ProjectFile", ""),
                          Form->Timeline().GetFramePos(), Form->sbPlay1->isEnabled());
    };
    const auto OpenGood = [&] {
        if (Root->GetDuration() > 0)
            Ui.Answers = {TMsgResult::OK}; // close the project shown
        Ui.FileAnswers = {good};
        Form->sbOpenProj->click();
        PumpEvents();
        Form->SendSetFrame(10);
        PumpEvents();
        ASSERT_EQ(Status(2), "Project:" + good);
    };
    OpenGood();
    Ui.Answers = {TMsgResult::OK};
    Form->sbNewProj->click();
    PumpEvents();
    const auto afterNew = State();
    EXPECT_EQ(std::get<0>(afterNew), 0u); // the new project's black
    OpenGood();
    // What the window shows while the user reads why, and afterwards.
    std::vector<decltype(State())> shown;
    auto reset = MakeScopeExit([] { TErrorDlg::ExecHook = nullptr; });
    TErrorDlg::ExecHook = [&](TErrorDlg&) {
        PumpEvents();
        shown.push_back(State());
        return int(QDialog::Accepted);
    };
    Ui.Answers = {TMsgResult::OK};
    Ui.FileAnswers = {cut};
    Form->sbOpenProj->click();
    PumpEvents();
    shown.push_back(State());
    EXPECT_EQ(shown, std::vector(2, afterNew));
    EXPECT_EQ(Settings->ReadString("Recents", "ProjectFile", ""), good);
}

// The compressor stored in the project is missing here: the user is told once, and closing the
// unchanged project asks no save question.
TEST_F(MainWindow, AMissingCompressorLeavesTheProjectUnmodified) {
    const std::string name = File("p.mpr");
    AddBlank(1.0L);
    Root->VideoFourCC = 0x5A5A5A5A;
    Root->CompressorName = "Gone codec";
    ASSERT_TRUE(Root->SaveToFile(name));
    Ui.Answers = {TMsgResult::OK, TMsgResult::OK};
    Ui.FileAnswers = {name};
    Form->sbOpenProj1Click();
    EXPECT_EQ(Root->FileName, name);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].rfind("The selected project video compressor \"Gone codec\"", 0), 0u);
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(Ui.Questions,
              (std::vector<std::string>{"Close current project?", "Close current project?"}));
}

// The hint of the movable placement shows where the user points at it, in the open popup.
TEST_F(MainWindow, TheMoveablePlacementShowsItsHintWhenPointedAt) {
    QMenu* menu = Form->mnPlacement;
    menu->popup(QPoint(10, 10));
    PumpEvents();
    auto close = MakeScopeExit([menu] {
        QToolTip::hideText();
        menu->hide();
    });
    const QRect item = menu->actionGeometry(Form->miMoveable);
    QHelpEvent hover(QEvent::ToolTip, item.center(), menu->mapToGlobal(item.center()));
    QCoreApplication::sendEvent(menu, &hover);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text().toStdString(), "Scrolling by pressing [Ctrl] and left mouse");
}

// Each caption of the project row has the room its button asks for, at the column's width.
TEST_F(MainWindow, TheProjectButtonsFitTheirCaptions) {
    for (QToolButton* b : {Form->sbNewProj, Form->sbOpenProj, Form->sbSaveProj, Form->sbSetProj,
                           Form->sbWriteProj}) {
        SCOPED_TRACE(b->text().toStdString());
        const int caption = b->fontMetrics().horizontalAdvance(b->text());
        EXPECT_GE(b->width(), b->sizeHint().width());
        EXPECT_GE(b->width(), caption + 8);
        // Nothing of the button is cut off by the group's edge.
        EXPECT_LE(b->geometry().right(), Form->gbProject->contentsRect().right());
    }
    EXPECT_GE(Form->pLeft->width(), 195);
}

TEST_F(MainWindow, StartsEmptyAndNewProjectAsksBeforeItReplacesTheOld) {
    EXPECT_EQ(Form->windowTitle(), "Tarvolin version 1.54");
    ASSERT_EQ(Form->TreeView1->topLevelItemCount(), 1);
    ExpectNewEmptyProject();
    EXPECT_TRUE(Ui.Questions.empty());
    AddBlank(2.0L);
    EXPECT_TRUE(Form->sbPlay1->isEnabled() && Form->miExportVideo->isEnabled() &&
                Form->miExportAudio->isEnabled());
    EXPECT_GE(Form->Timeline().GetMaxFrames(), 30);
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
