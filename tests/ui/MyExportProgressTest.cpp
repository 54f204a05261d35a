// The export window: proposed names, the range question, the file loops, the progress texts and
// the estimate, how a stopped or closed export ends, and whole exports from the main window read
// back through libavformat.
#include "MyExportProgress.h"

#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

#include "DialogRig.h"
#include "MediaProbe.h"
#include "MyBlankNode.h"
#include "MyMovieWriter.h"
#include "TempFolders.h"

namespace {

using Strings = std::vector<std::string>;

// Remembers the name each file dialog started at.
class TNamingUi : public TFakeUiServices {
public:
    Strings Started;
    std::optional<std::string> SaveFileDialog(const std::string& title,
                                              const std::vector<TFileFilter>& filters,
                                              const std::string& initialName,
                                              const std::string& defaultExt) override {
        Started.push_back(initialName + "|" + defaultExt + "|" + filters[0].Description);
        return TFakeUiServices::SaveFileDialog(title, filters, initialName, defaultExt);
    }
};

// A 160 x 120 project at 15 fps of black frames, without sound.
struct Fixture : TDialogProject<TNamingUi> {
    explicit Fixture(Extended seconds = 2) {
        Root->SetVideoFormat(160, 120, 15);
        Root->ExportSleepMs = 0;
        Root->AudioOn = false;
        Root->VideoTrack->AddNode("b", amLastChild, nkBlank)->UserDuration = seconds;
        Root->Refresh();
    }
};

// Shows the window and lets its timer start the export; returns when the window has closed.
int RunShown(TExportProgress& d) {
    d.Timer1->setInterval(0);
    d.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 60000));
    return d.result();
}

} // namespace

TEST(ExportProgressModel, ProposedNames) {
    const char* cases[][3] = {{"out.avi", "wmv", "out.wmv"},
                              {"/a/b/clip", "avi", "/a/b/clip.avi"},
                              {"", "avi", ""},
                              {"x.mpeg", "avi", "x.mpeg.avi"},
                              {"song.wmv", "wma", "song.wma"}};
    for (auto& c : cases)
        EXPECT_EQ(TExportProgressModel::ProposedName(c[0], c[1]), c[2]) << c[0];
}

// The question comes only with two stop points; the outcome is: prepared or not, the range
// used or not, the questions and messages, and the first frame and count exported.
TEST(ExportProgressModel, RangeQuestionOnlyWithTwoStopPoints) {
    const std::string question = "Project range is set between frame 8 and 19.\r\nWrite output "
                                 "according to this range?\r\nPress [ No ] for not using the "
                                 "range.";
    const std::string empty = "The range between the stop points holds no frame to export";
    const std::optional<TMsgResult> none, yes = TMsgResult::Yes;
    const std::tuple<std::vector<Extended>, std::optional<TMsgResult>, std::string> cases[] = {
        {{}, none, "prepared 0 0 30"},
        {{0.5L}, none, "prepared 0 0 30"},
        {{0.5L, 1.25L}, yes, "prepared range Q 8011"},
        {{1.25L, 0.5L}, yes, "prepared range Q 8011"},
        {{0.5L, 1.25L}, TMsgResult::No, "prepared 0 Q 30"},
        {{0.5L, 1.25L}, TMsgResult::Cancel, "0 0 Q 30"},
        {{1.0L, 1.0L}, yes, "0 0 ? E"}};
    for (const auto& [stops, answer, want] : cases) {
        Fixture f;
        for (Extended t : stops)
            f.Root->Pegs->AddPoint(t);
        f.Ui.Answers = answer ? std::deque<TMsgResult>{*answer} : std::deque<TMsgResult>{};
        f.Ui.FileAnswers = {f.File("a.avi")};
        TExportProgressModel m(*f.Root, f.Ui);
        std::string name = "old.avi";
        std::string got = m.Prepare(name, "avi") ? "prepared " : "0 ";
        got += m.UseRange ? "range " : "0 ";
        got += f.Ui.Questions == Strings{question} ? "Q" : f.Ui.Questions.empty() ? "0" : "?";
        got += f.Ui.Messages == Strings{empty} ? " E" : f.Ui.Messages.empty() ? "" : " ?";
        if (f.Ui.Messages.empty()) {
            m.BeginExport();
            got += " " + std::to_string(m.First * 1000 + m.Count);
        }
        EXPECT_EQ(got, want) << stops.size();
        EXPECT_EQ(f.Ui.Started.size(), want[0] == 'p' ? 1u : 0u);
        EXPECT_EQ(name, want[0] == 'p' ? f.File("a.avi") : "old.avi");
    }
}

TEST(ExportProgressModel, FileInUseAndOverwriteLoops) {
    Fixture f;
    const std::string held = f.Dir.File("held.avi"), kept = f.Dir.File("kept.avi");
    const int fd = ::open(held.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    // In use: said so, asked again. Exists: Cancel asks again, OK takes it.
    f.Ui.FileAnswers = {held, kept, kept};
    f.Ui.Answers = {TMsgResult::Cancel, TMsgResult::OK};
    TExportProgressModel m(*f.Root, f.Ui);
    std::string name = f.File("project.avi");
    ASSERT_TRUE(m.Prepare(name, "wmv"));
    ::close(fd);
    EXPECT_EQ(name, kept);
    EXPECT_EQ(f.Ui.Messages, Strings{"Error: File " + held + " is in use"});
    EXPECT_EQ(f.Ui.Questions, Strings(2, "File " + kept + " exists. Overwrite?"));
    const std::string filter = "|wmv|Targeted format (*.wmv)";
    EXPECT_EQ(f.Ui.Started,
              (Strings{f.File("project.wmv") + filter, held + filter, kept + filter}));
    // A new file is taken without a question; cancelling ends the command.
    f.Ui.FileAnswers = {f.File("fresh.avi"), std::nullopt};
    EXPECT_TRUE(m.Prepare(name, "avi"));
    EXPECT_FALSE(m.Prepare(name, "avi"));
    EXPECT_EQ(name, f.File("fresh.avi"));
}

TEST(ExportProgressModel, LabelsOnTheFirstFiveFramesOfARange) {
    Fixture f(30); // 450 frames
    f.Root->Pegs->AddPoint(20.0L);
    f.Root->Pegs->AddPoint(400.0L / 15);
    f.Ui.Answers = {TMsgResult::Yes};
    f.Ui.FileAnswers = {f.File("r.avi")};
    TExportProgressModel m(*f.Root, f.Ui);
    std::string name, codec;
    ASSERT_TRUE(m.Prepare(name, "avi"));
    m.BeginExport();
    ASSERT_EQ(m.First, 300);
    f.Root->GetAudioCodec().GetCodecName(1, codec);
    const std::string names =
        "Output filename: " + f.File("r.avi") +
        "Video compression: Uncompressed 24bits DIBAudio compression: " + codec;
    // Frames 300 to 400 are written: the counter ends on "101 of 101".
    EXPECT_EQ(m.Total, 101);
    for (int32_t frame = 300; frame < 307; ++frame) {
        const TExportFrameTexts t = m.FrameProgress(frame);
        EXPECT_EQ(t.Counter, std::to_string(frame - 299) + " of 101");
        EXPECT_EQ(t.Names ? t.FileLabel + t.VideoLabel + t.AudioLabel : "",
                  frame < 305 ? names : "");
    }
    EXPECT_EQ(m.FrameProgress(400).Counter, "101 of 101");
    f.Root->WMOutput = true;
    EXPECT_EQ(m.FrameProgress(300).VideoLabel, "Format: Windows media format");
    // A range that runs past the project's end is written up to its last frame.
    f.Root->Pegs->GetItem(1)->SetTime(40.0L);
    f.Ui.Answers = {TMsgResult::Yes};
    f.Ui.FileAnswers = {f.File("r.avi")};
    ASSERT_TRUE(m.Prepare(name, "avi"));
    m.BeginExport();
    EXPECT_EQ(m.Total, 150);
}

TEST(ExportProgressModel, EstimateAtFrameFiftyAndEveryFiftyAfter) {
    Fixture f(30);
    TExportProgressModel m(*f.Root, f.Ui);
    m.BeginExport();
    ASSERT_EQ(m.Count, 450);
    std::vector<int> at;
    Strings texts;
    int previews = 0;
    for (int32_t n = 0; n < 450; ++n, f.Ui.AdvanceClock(1000)) {
        const TExportFrameTexts t = m.FrameProgress(n);
        if (t.Estimate)
            at.push_back(n), texts.push_back(t.EstimateText);
        previews += t.Preview;
    }
    EXPECT_EQ(at, (std::vector<int>{50, 100, 150, 200, 250, 300, 350, 400}));
    // 400 frames left at a second each.
    EXPECT_EQ(texts[0], "Estimated time left: less than 7 minutes");
    EXPECT_EQ(texts[7], "Estimated time left: less than 1 minute");
    EXPECT_EQ(previews, 448); // from the third frame on
}

// Finished, stopped with the button, and closed from the title bar: only the finished export
// is played, and the window closes itself each time.
TEST(ExportProgress, OnlyAFinishedExportIsPlayed) {
    enum How { Finish, StopButton, CloseRequest };
    for (How how : {Finish, StopButton, CloseRequest}) {
        Fixture f;
        Strings played;
        auto reset = ResetHooks(TExportProgress::PlayHook);
        TExportProgress::PlayHook = [&](const std::string& n) { played.push_back(n); };
        int reports = 0;
        {
            TExportProgress d(*f.Root, f.Ui);
            f.Ui.FileAnswers = {f.File("out.avi")};
            std::string name;
            auto report = [&](TFrameReport&) {
                if (++reports != 5)
                    return;
                if (how == StopButton) {
                    f.Ui.Answers = {TMsgResult::OK};
                    d.BitBtn1->click();
                } else if (how == CloseRequest) {
                    d.close();
                    EXPECT_TRUE(d.isVisible()); // refused while the loop runs
                }
            };
            ASSERT_TRUE(d.Prepare(name, report, nullptr, "avi"));
            RunShown(d);
            EXPECT_TRUE(d.Success);
            EXPECT_EQ(d.Stopped, how != Finish);
            EXPECT_EQ(d.Label5->text().toStdString(), how == Finish ? "30 of 30" : "5 of 30");
            EXPECT_EQ(d.lbFileName->text().toStdString(), "Output filename: " + f.File("out.avi"));
            // A fixed window of at least the designed size that names the file whole.
            EXPECT_EQ(d.minimumSize(), d.maximumSize());
            EXPECT_GE(d.width(), TExportProgress::DesignWidth);
            EXPECT_GE(d.height(), TExportProgress::DesignHeight);
            EXPECT_GE(d.lbFileName->width(),
                      d.lbFileName->fontMetrics().horizontalAdvance(d.lbFileName->text()));
            EXPECT_TRUE(d.rect().contains(d.lbFileName->geometry()));
        }
        EXPECT_EQ(reports, how == Finish ? 30 : 5);
        EXPECT_EQ(played.size(), how == Finish ? 1u : 0u);
        EXPECT_TRUE(f.Ui.Answers.empty());
    }
}

// The finished file goes to the desktop's opener as the window goes, without waiting for it;
// the window's owner hears its complaint once it ends, and nothing when it succeeds.
TEST(ExportProgress, APlayerThatCannotBeStartedIsToldAfterTheWindowIsGone) {
    for (int code : {3, 0}) {
        SCOPED_TRACE(code);
        Fixture f(0.2L);
        QWidget owner;
        TFakeOpener opener(code, "no method available");
        std::string name;
        {
            TExportProgress d(*f.Root, f.Ui, &owner);
            d.cbPlayResult->setChecked(true);
            f.Ui.FileAnswers = {f.File("out.avi")};
            ASSERT_TRUE(d.Prepare(name, nullptr, nullptr, "avi"));
            RunShown(d);
            ASSERT_TRUE(d.Success);
        }
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_TRUE(f.Ui.Messages.empty());
        opener.Answer();
        // Events go on a little after the opener's last step, so that its exit is seen.
        for (int i = 0, after = 0; i < 1000 && after < 20 && f.Ui.Messages.empty();
             ++i, after += opener.Ended()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            usleep(10000);
        }
        const std::string told = "Can not play " + f.File("out.avi") + ": no method available";
        EXPECT_EQ(f.Ui.Messages, code ? Strings{told} : Strings{});
    }
}

// An encoder error raised in the middle of the loop is shown; the window closes unplayed. A
// window closed before its timer fired writes nothing.
TEST(ExportProgress, EncoderErrorOrEarlyCloseEndsTheExport) {
    struct TFailingWriter : IMovieWriter {
        TBitmap Bitmap{160, 120};
        int Frames = 0;
        void SetProfile(const std::string&) override {}
        bool Open(bool, const std::string&, TAviCompress&, const TExportSettings&) override {
            return true;
        }
        TBitmap* GetBitmap() override { return &Bitmap; }
        bool WriteVideoFrame(TVideoFrameInfo&) override {
            if (++Frames == 3)
                throw Exception("Fail to compress frame 2 Error code: -1");
            return true;
        }
        bool WriteAudio(const void*, uint32_t, uint32_t) override { return true; }
        bool Close(Extended) override { return true; }
    } writer;
    Fixture f;
    f.Root->MovieWriterOverride = &writer;
    Strings played;
    auto reset = ResetHooks(TExportProgress::PlayHook);
    TExportProgress::PlayHook = [&](const std::string& n) { played.push_back(n); };
    std::string name;
    for (bool early : {false, true}) {
        TExportProgress d(*f.Root, f.Ui);
        f.Ui.FileAnswers = {f.File(early ? "never.avi" : "bad.avi")};
        ASSERT_TRUE(d.Prepare(name, nullptr, nullptr, "avi"));
        if (early) {
            d.Timer1->setInterval(30);
            d.show();
            f.Ui.Answers = {TMsgResult::OK};
            QTest::keyClick(&d, Qt::Key_Escape);
            EXPECT_FALSE(d.isVisible());
            QTest::qWait(100);
        } else {
            RunShown(d);
        }
        EXPECT_FALSE(d.Success);
    }
    EXPECT_EQ(writer.Frames, 3);
    EXPECT_FALSE(FileExists(f.File("never.avi")));
    EXPECT_TRUE(played.empty());
    EXPECT_EQ(f.Ui.Messages, Strings{"Fail to compress frame 2 Error code: -1"});
    EXPECT_FALSE(f.Root->Busy);
}

// ---- from the main window -----------------------------------------------------------------------

namespace {

class ExportAsVideo : public TMainRig {
protected:
    void SetUp() override {
        TMainRig::SetUp();
        Root->ExportSleepMs = 0;
        TExportProgress::ExecHook = RunShown;
        TExportProgress::PlayHook = [this](const std::string& n) { Played.push_back(n); };
        // A 2 s movie with a 22050 Hz stereo sound track, a 1 s slide into 1 s of black.
        TNumberedMovieSpec spec;
        MakePcmFormat(spec.Sound, 22050, 2, 16);
        spec.Samples = 44100;
        BuildAvi(NumberedMovieSpec(spec)).Save(File("in.avi"));
        TTreeNodeData* track = Root->VideoTrack;
        track->AddNode("Movie", amLastChild, nkVideo)->SetFileName(File("in.avi"));
        auto* slide = static_cast<TTransNode*>(track->AddNode("Slide", amLastChild, nkTransition));
        slide->SetAddOn("{7602E471-A8CA-46B2-B869-8AF956428110}");
        slide->UserDuration = 1.0L;
        track->AddNode("Black", amLastChild, nkBlank)->UserDuration = 1.0L;
        Form->RefreshProject(true);
    }
    void TearDown() override {
        TExportProgress::ExecHook = nullptr;
        TExportProgress::PlayHook = nullptr;
        TProjPropDlg::ExecHook = nullptr;
        TMainRig::TearDown();
    }
    Strings Played;
};

} // namespace

// The output dialog's hook: shows it, lets choose set it up, and presses OK.
std::function<int(TProjPropDlg&)> Choosing(std::function<void(TProjPropDlg&)> choose) {
    return [choose](TProjPropDlg& d) {
        d.show();
        choose(d);
        d.bOK->click();
        return d.result();
    };
}

TEST_F(ExportAsVideo, MjpegAviAndWindowsMediaReadBack) {
    TProjPropDlg::ExecHook = Choosing([](TProjPropDlg& d) {
        d.cbVidComp->setCurrentIndex(d.cbVidComp->findText("Motion JPEG"));
        d.cbAudComp->setCurrentIndex(d.cbAudComp->findText("Uncompressed PCM"));
        d.cbAudFormat->setCurrentIndex(d.cbAudFormat->findText("22050, 16 bits Stereo"));
        d.cbSize->setCurrentIndex(0);
        d.cbFPS->setCurrentIndex(0);
        d.eWidth->setText("160");
        d.eHeight->setText("120");
        d.eProjFPS->setText("15");
    });
    const std::string avi = File("out.avi"), wmv = File("out.wmv");
    Ui.FileAnswers = {avi};
    QTest::mouseClick(Form->sbWriteProj, Qt::LeftButton);
    const int32_t frames = Root->GetFrameCount();
    ASSERT_EQ(frames, 30);
    EXPECT_EQ(Settings->ReadString("Recents", "OutputFile", ""), avi);

    TProjPropDlg::ExecHook = Choosing([](TProjPropDlg& d) {
        d.rbWMF->setChecked(true);
        d.lbProfiles->setCurrentRow(5); // modem 28.8: 160 x 120 at 15 fps, 22050 Hz stereo
    });
    Ui.FileAnswers = {wmv};
    Form->miExportVideo->trigger();
    EXPECT_EQ(Played, (Strings{avi, wmv}));
    EXPECT_TRUE(Ui.Messages.empty());

    struct Want {
        std::string File, Video, Audio;
    } wants[] = {{avi, "mjpeg", "pcm_s16le"}, {wmv, "wmv2", "wmav2"}};
    for (const Want& w : wants) {
        SCOPED_TRACE(w.File);
        const TProbedFile probe = ProbeMedia(w.File, true);
        ASSERT_TRUE(probe.Opened);
        const TProbedStream *v = probe.FirstOf(true), *a = probe.FirstOf(false);
        ASSERT_TRUE(v && a);
        EXPECT_EQ(v->CodecName + "/" + a->CodecName, w.Video + "/" + w.Audio);
        EXPECT_EQ(v->Width * 1000 + v->Height, 160120);
        EXPECT_EQ(v->DecodedFrames, frames);
        EXPECT_EQ(a->SampleRate * 10 + a->Channels, 220502);
        // The AVI holds every sample of the 2 s; the Windows Media codec works in whole blocks.
        EXPECT_NEAR(a->DecodedSamples / 22050.0, 2.0, w.File == avi ? 0 : 0.1) << a->DecodedSamples;
    }
}

TEST_F(ExportAsVideo, UncompressedOutputIsConfirmedUnlessSuppressed) {
    int dialogs = 0;
    TProjPropDlg::ExecHook = Choosing([&](TProjPropDlg&) { ++dialogs; });
    Ui.ConfirmAnswers = {{false, false}, {true, true}};
    Ui.FileAnswers = {std::nullopt};
    Form->Export1Click(); // Cancel: no file dialog
    Form->Export1Click(); // OK, and not again: the file dialog comes
    Ui.FileAnswers = {std::nullopt};
    Form->Export1Click();
    EXPECT_EQ(dialogs, 3);
    ASSERT_EQ(Ui.Confirmations.size(), 2u);
    EXPECT_EQ(Ui.Confirmations[0], std::string(DlgHugeOutput.Text));
    EXPECT_TRUE(Played.empty());
}

// A resize stops a playback, but an export goes on to its last frame while the preview is laid
// out again for the new size.
TEST_F(ExportAsVideo, AResizeDuringTheExportLeavesItRunningToTheEnd) {
    TProjPropDlg::ExecHook = Choosing([](TProjPropDlg&) {});
    Ui.ConfirmAnswers = {{true, false}};
    const std::string avi = File("resized.avi");
    Ui.FileAnswers = {avi};
    int resizedWhileBusy = 0;
    TExportProgress::ExecHook = [&](TExportProgress& d) {
        // Five frames in, the window gets smaller, as when it is unmaximised.
        QObject::connect(d.ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
            if (value != 5 || !Root->Busy || resizedWhileBusy++)
                return;
            const QSize old = Form->size(), smaller = old - QSize(120, 90);
            Form->resize(smaller);
            QResizeEvent e(smaller, old);
            QApplication::sendEvent(Form.get(), &e);
            EXPECT_TRUE(Form->IsExporting());
        });
        const int result = RunShown(d);
        EXPECT_TRUE(d.Success);
        EXPECT_FALSE(d.Stopped);
        return result;
    };
    Form->Export1Click();
    EXPECT_EQ(resizedWhileBusy, 1);
    EXPECT_EQ(Played, Strings{avi});
    const TProbedFile probe = ProbeMedia(avi, true);
    ASSERT_TRUE(probe.Opened);
    ASSERT_TRUE(probe.FirstOf(true));
    EXPECT_EQ(probe.FirstOf(true)->DecodedFrames, Root->GetFrameCount());
    // Without an export (a playback's loop) the same resize stops the root.
    Root->Target = tgPreview;
    Root->Busy = true;
    Root->Abort = false;
    QResizeEvent e(Form->size(), Form->size() + QSize(1, 1));
    QApplication::sendEvent(Form.get(), &e);
    EXPECT_TRUE(Root->Abort);
    Root->Busy = false;
}
