// The picture-sequence export: names and numbering of the files, the folder-name filter, and
// whole exports run from the main window, whose files hold exactly the frames played.
#include "MySeqDlg.h"

#include <QScreen>

#include "DialogRig.h"
#include "MyPictureLoader.h"
#include "MyProjProp.h"

TEST(SeqDlgLogic, FolderNamesLoseTheCharactersFilesCannotCarry) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"clips 2024-05_a=b?", "clips 2024-05_a=b?", 0},
        {"a/b\\c", "abc", 2},
        {"`~!@#$%^&*()+{}[]|\\/\"':;<>,.", "", 28},
        {"x.y,z", "xyz", 2}};
    for (const auto& [in, out, removed] : cases) {
        int n = -1;
        EXPECT_EQ(TSeqDlgLogic::CleanFolderName(in, n), out) << in;
        EXPECT_EQ(n, removed) << in;
    }
    std::string folder;
    EXPECT_EQ(TSeqDlgLogic::CheckNames("  ", "x", folder), "Output location is empty");
    EXPECT_EQ(TSeqDlgLogic::CheckNames("/tmp", " ", folder), "Subdirectory name is empty");
    EXPECT_EQ(TSeqDlgLogic::CheckNames("/tmp//a/", "b", folder), "");
    EXPECT_EQ(folder, "/tmp/a/b/");
    for (auto [position, quality] : {std::pair{1, 5}, {16, 80}, {20, 100}})
        EXPECT_EQ(TSeqDlgLogic::QualityOfPosition(position), quality);
}

TEST(SeqDlgLogic, FileNamesForCompleteAndSkippedSampling) {
    TSeqDlgLogic l;
    l.Start(0, 300, 0, 0);
    EXPECT_EQ(l.Expected, 300);
    EXPECT_EQ(l.NextFileName(0, "/o/", true), "/o/frame000000.jpg");
    EXPECT_EQ(l.NextFileName(1, "/o/", false), "/o/frame000001.bmp");
    EXPECT_EQ(l.NextFileName(999999, "/o/", true), "/o/frame999999.jpg");
    EXPECT_EQ(l.NextFileName(1000000, "/o/", true), "/o/frame01000000.jpg");
    // Every 10th frame from the first played one, numbered by file.
    l.Start(5, 300, 10, 0);
    EXPECT_EQ(l.Expected, 30); // 295 div 10 + 1
    std::string names;
    for (int32_t f = 5; f < 36; ++f)
        names += l.NextFileName(f, "", true);
    EXPECT_EQ(names, "000001.jpg000002.jpg000003.jpg000004.jpg");
    // The estimate from the 11th file on: 10 of 30 in a tenth of a day leaves two tenths.
    l.Written = 10;
    EXPECT_EQ(l.ProgressText(), "Files Written: 10 of 30");
    EXPECT_FALSE(l.EstimateShown());
    EXPECT_EQ(l.EstimateText(0.1L), "Estimated time left: 4 hour 48 minutes");
    l.Written = 11;
    EXPECT_TRUE(l.EstimateShown());
}

namespace {

// A 2 s movie of numbered frames at 10 fps in a 32 x 24 project of the same rate.
class SeqExport : public TMainRig {
protected:
    void SetUp() override {
        TMainRig::SetUp();
        Root->SoundInPlayback = false;
        BuildAvi(NumberedMovieSpec({})).Save(File("m.avi"));
        Root->VideoTrack->AddNode("m", amLastChild, nkVideo)->SetFileName(File("m.avi"));
        Root->SetVideoFormat(32, 24, 10);
        Form->RefreshProject(true);
        Pump();
    }
    void TearDown() override {
        TSeqDlg::ExecHook = nullptr;
        TMainRig::TearDown();
    }
    // Runs the export with the dialog set up by setup; returns the folders opened at the end.
    std::vector<std::string> Export(const std::function<void(TSeqDlg&)>& setup) {
        std::vector<std::string> opened;
        TSeqDlg::ExecHook = [&](TSeqDlg& d) {
            d.OpenFolder = [&](const std::string& f) { opened.push_back(f); };
            d.eDir->setText(QString::fromStdString(Config.Dir.Path + "/"));
            d.eFolderName->setText(QStringLiteral("seq"));
            setup(d);
            d.bOK->click();
            Progress = d.lbProgress->text().toStdString();
            return d.result();
        };
        Form->miExportBitmaps->trigger();
        return opened;
    }
    std::string Progress; // the counter as the last export left it
    // The largest difference of any byte between the picture in file and the project's own
    // render of frame i at the project's size.
    int DifferenceToRender(const std::string& file, int32_t i) {
        const int32_t w = Root->Width, h = Root->Height;
        TBitmap b(w, h), f;
        Root->RenderPreview(i, b.Canvas(), Rect(0, 0, w, h), nullptr);
        TPictureLoader().LoadFromFile(File(file), f);
        EXPECT_EQ(f.Width(), w) << file;
        int worst = f.Width() == w ? 0 : 255;
        for (int32_t y = 0; y < h && !worst; ++y)
            for (int32_t x = 0; x < w * 3; ++x)
                worst = std::max(worst, std::abs(f.ScanLine(y)[x] - b.ScanLine(y)[x]));
        return worst;
    }
};

} // namespace

TEST_F(SeqExport, EveryBmpHoldsTheRenderOfItsFrame) {
    ASSERT_TRUE(Form->miExportBitmaps->isEnabled());
    ASSERT_EQ(Root->GetFrameCount(), 20);
    Form->Timeline().SetFramePos(7);
    Ui.Answers = {TMsgResult::OK}; // create the folder
    const auto opened = Export([](TSeqDlg& d) { d.cbFormat->setCurrentIndex(1); });
    EXPECT_EQ(Ui.Questions, std::vector<std::string>{"Folder " + File("seq") +
                                                     "/ does not exists. Create first?"});
    for (int32_t i = 0; i < 20; ++i) {
        const std::string name = "seq/frame" + IntToZeroPadded(i, 6) + ".bmp";
        EXPECT_EQ(DifferenceToRender(name, i), 0) << name;
        TBitmap file;
        TPictureLoader().LoadFromFile(File(name), file);
        EXPECT_EQ(NumberedFrameOf(file), i);
    }
    EXPECT_FALSE(std::filesystem::exists(File("seq/frame000020.bmp")));
    // Counted against the project's frames, whatever length the timeline's strip has.
    EXPECT_EQ(Progress, "Files Written: 20 of 20");
    EXPECT_EQ(opened, std::vector<std::string>{File("seq") + "/"});
    EXPECT_TRUE(Ui.Messages.empty());
    EXPECT_FALSE(Form->SeqExport.OnFrame); // the record is free again
    EXPECT_TRUE(Form->sbStop1->isChecked());
}

// The window keeps its designed size at least, fixed and centred, with every control inside;
// during the export only "Stop" and "Set" stay usable.
TEST_F(SeqExport, TheWindowIsFixedCentredAndKeepsSetDuringTheExport) {
    std::filesystem::create_directory(File("seq"));
    std::vector<std::string> during;
    Export([&](TSeqDlg& d) {
        // The playback starts with the controls as they stay while it runs.
        auto run = Form->SeqExport.OnRun;
        Form->SeqExport.OnRun = [&d, &during, run](QObject* sender) {
            if (sender)
                for (QWidget* w : std::vector<QWidget*>{d.SpeedButton1, d.bCancel, d.eFolderName,
                                                        d.bOK, d.cbFormat})
                    during.push_back(w->isEnabled() ? "on" : "off");
            run(sender);
        };
        d.show();
        Pump();
        EXPECT_EQ(d.minimumSize(), d.maximumSize());
        EXPECT_GE(d.width(), TSeqDlg::DesignWidth);
        EXPECT_GE(d.height(), TSeqDlg::DesignHeight);
        for (QWidget* w : d.findChildren<QWidget*>()) {
            if (w->isVisibleTo(&d) && w->parentWidget() == &d) {
                EXPECT_TRUE(d.rect().contains(w->geometry())) << w->metaObject()->className();
            }
        }
        const QPoint centre = d.screen()->availableGeometry().center();
        EXPECT_LE((d.frameGeometry().center() - centre).manhattanLength(), 2);
    });
    EXPECT_EQ(during, (std::vector<std::string>{"on", "on", "off", "off", "off"}));
}

TEST_F(SeqExport, JpgQualityFromTheTrackBarAndEveryNthFrame) {
    std::filesystem::create_directory(File("seq"));
    Form->Timeline().SetFramePos(3);
    Export([](TSeqDlg& d) {
        d.tbCompress->setValue(20);
        d.rbFromCurrent->setChecked(true);
        d.rbSkip->setChecked(true);
        d.seSkip->setValue(5);
        d.cbBack->setChecked(true);
    });
    // Frames 3, 8, 13 and 18, numbered by file; the cursor goes back to where it was.
    for (int n = 1; n <= 4; ++n)
        EXPECT_LE(DifferenceToRender("seq/" + IntToZeroPadded(n, 6) + ".jpg", 3 + 5 * (n - 1)), 3);
    EXPECT_FALSE(std::filesystem::exists(File("seq/000005.jpg")));
    EXPECT_EQ(Progress, "Files Written: 4 of 4");
    EXPECT_EQ(Form->Timeline().GetFramePos(), 3);

    // The encoder's first quantisation value: 1 at quality 100, 160 at quality 5.
    std::filesystem::create_directory(File("q5"));
    Export([](TSeqDlg& d) {
        d.eFolderName->setText(QStringLiteral("q5"));
        d.tbCompress->setValue(1);
        d.rbFromStart->setChecked(true);
    });
    for (auto [name, first] : {std::pair{"seq/000001.jpg", 1}, {"q5/frame000000.jpg", 160}}) {
        std::ifstream in(File(name), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const size_t dqt = bytes.find("\xFF\xDB");
        ASSERT_NE(dqt, std::string::npos) << name;
        EXPECT_EQ(uint8_t(bytes[dqt + 5]), first) << name;
    }
}

TEST_F(SeqExport, AWriteThatFailsStopsWithTheMessageAndCancelWritesNothing) {
    const std::string folder = File("ro");
    std::filesystem::create_directory(folder);
    // Root writes anywhere: a folder in the first file's place refuses it all the same.
    std::filesystem::create_directory(folder + "/frame000000.jpg");
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    std::vector<std::string> opened = Export([this](TSeqDlg& d) {
        d.eFolderName->clear();
        QTest::keyClicks(d.eFolderName, "r/o:"); // the filter beeps once per removed character
        EXPECT_EQ(d.eFolderName->text(), "ro");
        EXPECT_EQ(Ui.Beeps, 2);
        d.cbOpenTarget->setChecked(true);
    });
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    // The system's reason comes with the name.
    const std::string file = folder + "/frame000000.jpg";
    EXPECT_EQ(Ui.Messages, std::vector<std::string>{"Can not write " + file + " (renaming " + file +
                                                    ".~part: " + std::strerror(EISDIR) + ")"});
    EXPECT_FALSE(std::filesystem::exists(folder + "/frame000001.jpg"));
    EXPECT_TRUE(opened.empty()); // nothing is reported as done
    EXPECT_FALSE(Form->SeqExport.OnFrame);
    // A plain Cancel writes nothing and leaves the cursor where it was.
    Form->Timeline().SetFramePos(4);
    TSeqDlg::ExecHook = [](TSeqDlg& d) {
        d.bCancel->click();
        return d.result();
    };
    Form->miExportBitmaps->trigger();
    EXPECT_EQ(Form->Timeline().GetFramePos(), 4);
}

// A rate changed in the output dialog reaches the timeline at once, whichever command opened it:
// with the film longer than the timeline's strip, ">|" goes to its last frame, and the sequence
// export writes every frame under its own number.
TEST_F(SeqExport, ARateChangedInTheOutputDialogCoversTheWholeFilm) {
    auto reset = ResetHooks(TProjPropDlg::ExecHook);
    Root->VideoTrack->AddNode("b", amLastChild, nkBlank)->UserDuration = 5;
    Form->RefreshProject(true);
    const int32_t strip = Form->Timeline().GetMaxFrames();
    ASSERT_LT(Root->GetFrameCount(), strip);
    Extended rate = 20;
    TProjPropDlg::ExecHook = [&rate](TProjPropDlg& d) {
        d.show();
        d.cbSize->setCurrentIndex(0); // the dialog takes no frame below 50 x 50
        d.eWidth->setText("80");
        d.eHeight->setText("60");
        d.cbFPS->setCurrentIndex(0);
        d.eProjFPS->setText(QString::number(double(rate)));
        QTest::mouseClick(d.bOK, Qt::LeftButton);
        return d.result();
    };
    // "Write": the export itself is declined at the uncompressed-output question.
    Ui.ConfirmAnswers = {TConfirmAnswer{}};
    QTest::mouseClick(Form->sbWriteProj, Qt::LeftButton);
    ASSERT_EQ(Root->GetFrameCount(), 140);
    ASSERT_GT(140, strip);
    EXPECT_EQ(Form->Timeline().GetMaxFrames(), 140);
    rate = 30; // "Set"
    QTest::mouseClick(Form->sbSetProj, Qt::LeftButton);
    ASSERT_EQ(Root->GetFrameCount(), 210);
    QTest::mouseClick(Form->sbLast1, Qt::LeftButton);
    Pump();
    EXPECT_EQ(Form->Timeline().GetFramePos(), 210);

    std::filesystem::create_directory(File("seq"));
    Export([](TSeqDlg& d) {
        d.cbFormat->setCurrentIndex(1);
        d.rbFromStart->setChecked(true);
    });
    EXPECT_EQ(Progress, "Files Written: 210 of 210");
    for (int32_t i = 0; i < 210; i += 11) {
        const std::string name = "seq/frame" + IntToZeroPadded(i, 6) + ".bmp";
        EXPECT_EQ(DifferenceToRender(name, i), 0) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(File("seq/frame000209.bmp")));
    EXPECT_FALSE(std::filesystem::exists(File("seq/frame000210.bmp")));
    EXPECT_TRUE(Ui.Messages.empty());
}

namespace {

// Pixels of the motion path's red in a picture; the movie's frames have none.
int PathRedPixels(const TBitmap& b) {
    int n = 0;
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x)
            n += b.Canvas().GetPixel(x, y) == 0x0000FFu;
    return n;
}

} // namespace

// An overlay whose position is being edited in the curve editor: the preview shows its motion
// path (one key point framed in 24 red pixels), the pictures written show the movie alone.
TEST_F(SeqExport, PicturesCarryNoMotionPathOfTheCurveEditor) {
    TTreeNodeData* movie = Root->VideoTrack->GetChild(0);
    auto* overlay = static_cast<TOverlayNode*>(movie->AddNode("o", amLastChild, nkOverlay));
    overlay->SetAddOn("{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}"); // a bitmap overlay, no picture
    overlay->Curves->Register(ckPosition, "")->GetPoint(0)->SetPosition(-0.25L, 0);
    Form->RefreshProject(true);
    Form->sbAdjust->click();
    Form->TreeView1->setCurrentItem(static_cast<TTreeWidgetItem*>(overlay->Item));
    Form->Timeline().SetFramePos(5);
    Pump();
    ASSERT_EQ(Root->EditedNode, overlay);
    ASSERT_EQ(PathRedPixels(Form->VideoImage->Picture()), 24);

    std::filesystem::create_directory(File("seq"));
    Export([](TSeqDlg& d) {
        d.cbFormat->setCurrentIndex(1);
        d.rbFromStart->setChecked(true);
    });
    EXPECT_EQ(Progress, "Files Written: 20 of 20");
    for (int32_t i = 0; i < 20; ++i) {
        const std::string name = File("seq/frame" + IntToZeroPadded(i, 6) + ".bmp");
        TBitmap file;
        TPictureLoader().LoadFromFile(name, file);
        EXPECT_EQ(PathRedPixels(file), 0) << name;
        EXPECT_EQ(NumberedFrameOf(file, 8, 12), i) << name; // under the key point's square
    }
    // Back in the window, the path is drawn again.
    Form->SendSetFrame(5);
    Pump();
    EXPECT_EQ(Root->EditedNode, overlay);
    EXPECT_EQ(PathRedPixels(Form->VideoImage->Picture()), 24);
}
