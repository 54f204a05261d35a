// The picture-sequence export: names and numbering of the files, the folder-name filter, and
// whole exports run from the main window, whose files hold exactly the frames played.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "FakeUiServices.h"
#include "MainZunt.h"
#include "MyCommonParamsPart.h"
#include "MyMovieNode.h"
#include "MyPictureLoader.h"
#include "MySeqDlg.h"
#include "NumberedMovie.h"

TEST(SeqDlgLogic, FolderNamesLoseTheCharactersFilesCannotCarry) {
    const struct {
        const char *In, *Out;
        int Removed;
    } cases[] = {
        {"clips 2024-05_a=b?", "clips 2024-05_a=b?", 0},
        {"a/b\\c", "abc", 2},
        {"`~!@#$%^&*()+{}[]|\\/\"':;<>,.", "", 28},
        {"x.y,z", "xyz", 2},
    };
    for (const auto& c : cases) {
        int removed = -1;
        EXPECT_EQ(TSeqDlgLogic::CleanFolderName(c.In, removed), c.Out) << c.In;
        EXPECT_EQ(removed, c.Removed) << c.In;
    }
    std::string folder;
    EXPECT_EQ(TSeqDlgLogic::CheckNames("  ", "x", folder), "Output location is empty");
    EXPECT_EQ(TSeqDlgLogic::CheckNames("/tmp", " ", folder), "Subdirectory name is empty");
    EXPECT_EQ(TSeqDlgLogic::CheckNames("/tmp//a/", "b", folder), "");
    EXPECT_EQ(folder, "/tmp/a/b/");
    EXPECT_EQ(TSeqDlgLogic::QualityOfPosition(1), 5);
    EXPECT_EQ(TSeqDlgLogic::QualityOfPosition(16), 80);
    EXPECT_EQ(TSeqDlgLogic::QualityOfPosition(20), 100);
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
    std::vector<std::string> names;
    for (int32_t f = 5; f < 36; ++f)
        if (std::string n = l.NextFileName(f, "/o/", true); !n.empty())
            names.push_back(n);
    EXPECT_EQ(names, (std::vector<std::string>{"/o/000001.jpg", "/o/000002.jpg", "/o/000003.jpg",
                                               "/o/000004.jpg"}));

    // Progress, and the estimate from the 11th file on: 10 of 30 in a tenth of a day leaves two
    // tenths.
    l.Written = 10;
    EXPECT_EQ(l.ProgressText(), "Files Written: 10 of 30");
    EXPECT_FALSE(l.EstimateShown());
    l.Written = 11;
    EXPECT_TRUE(l.EstimateShown());
    l.Written = 10;
    EXPECT_EQ(l.EstimateText(0.1L), "Estimated time left: 4 hour 48 minutes");
}

namespace {

void Pump() {
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

// A 2 s movie of numbered frames at 10 fps in a 32 x 24 project of the same rate.
class SeqExport : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", Dir.path().toUtf8().constData(), 1);
        Form = std::make_unique<TMainForm>(&Ui);
        Form->show();
        Pump();
        Root = Form->GetProject();
        Root->SoundInPlayback = false;
        TNumberedMovieSpec spec;
        BuildAvi(NumberedMovieSpec(spec)).Save(Path("m.avi"));
        Root->VideoTrack->AddNode("m", amLastChild, nkVideo)->SetFileName(Path("m.avi"));
        Root->SetVideoFormat(32, 24, 10);
        Form->RefreshProject(true);
        Pump();
    }
    void TearDown() override {
        TSeqDlg::ExecHook = nullptr;
        Form.reset();
        EXPECT_TRUE(Ui.Answers.empty()) << "questions not asked";
    }
    std::string Path(const std::string& name) const {
        return (std::filesystem::path(Dir.path().toStdString()) / name).string();
    }
    // Runs the export with the dialog set up by setup; returns the folders opened at the end.
    std::vector<std::string> Export(const std::function<void(TSeqDlg&)>& setup) {
        std::vector<std::string> opened;
        TSeqDlg::ExecHook = [&](TSeqDlg& d) {
            d.OpenFolder = [&](const std::string& f) { opened.push_back(f); };
            d.eDir->setText(QString::fromStdString(Dir.path().toStdString() + "/"));
            d.eFolderName->setText(QStringLiteral("seq"));
            setup(d);
            d.bOK->click();
            return d.result();
        };
        Form->miExportBitmaps->trigger();
        return opened;
    }
    // The project's own render of frame i at the preview's size.
    TBitmap Render(int32_t i) {
        TBitmap b(32, 24);
        Root->RenderPreview(i, b.Canvas(), Rect(0, 0, 32, 24), nullptr);
        return b;
    }
    static int MaxDifference(const TBitmap& a, const TBitmap& b) {
        int worst = 0;
        for (int32_t y = 0; y < a.Height(); ++y)
            for (int32_t x = 0; x < a.Width() * 3; ++x)
                worst = std::max(worst, std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]));
        return worst;
    }

    QTemporaryDir Dir;
    TFakeUiServices Ui;
    std::unique_ptr<TMainForm> Form;
    TProjectNode* Root = nullptr;
    TPictureLoader Loader;
};

} // namespace

TEST_F(SeqExport, EveryBmpHoldsTheRenderOfItsFrame) {
    ASSERT_TRUE(Form->miExportBitmaps->isEnabled());
    ASSERT_EQ(Root->GetFrameCount(), 20);
    Form->Timeline().SetFramePos(7);
    Ui.Answers = {TMsgResult::OK}; // create the folder
    const auto opened = Export([](TSeqDlg& d) { d.cbFormat->setCurrentIndex(1); });
    ASSERT_EQ(Ui.Questions.size(), 1u);
    EXPECT_EQ(Ui.Questions[0], "Folder " + Path("seq") + "/ does not exists. Create first?");
    for (int32_t i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        TBitmap file;
        Loader.LoadFromFile(Path("seq/frame" + IntToZeroPadded(i, 6) + ".bmp"), file);
        ASSERT_EQ(file.Width(), 32);
        EXPECT_EQ(NumberedFrameOf(file), i);
        EXPECT_EQ(MaxDifference(file, Render(i)), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(Path("seq/frame000020.bmp")));
    EXPECT_EQ(opened, std::vector<std::string>{Path("seq") + "/"});
    EXPECT_TRUE(Ui.Messages.empty());
    EXPECT_FALSE(Form->SeqExport.OnFrame); // the record is free again
    EXPECT_TRUE(Form->sbStop1->isChecked());
}

TEST_F(SeqExport, JpgQualityFromTheTrackBarAndEveryNthFrame) {
    std::filesystem::create_directory(Path("seq"));
    Form->Timeline().SetFramePos(3);
    Export([](TSeqDlg& d) {
        d.tbCompress->setValue(20);
        d.rbFromCurrent->setChecked(true);
        d.rbSkip->setChecked(true);
        d.seSkip->setValue(5);
        d.cbBack->setChecked(true);
    });
    // Frames 3, 8, 13 and 18, numbered by file; the cursor goes back to where it was.
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        TBitmap file;
        Loader.LoadFromFile(Path("seq/" + IntToZeroPadded(n, 6) + ".jpg"), file);
        EXPECT_LE(MaxDifference(file, Render(3 + 5 * (n - 1))), 3);
    }
    EXPECT_FALSE(std::filesystem::exists(Path("seq/000005.jpg")));
    EXPECT_EQ(Form->Timeline().GetFramePos(), 3);

    // The encoder's first quantisation value: 1 at quality 100, 160 at quality 5.
    std::filesystem::create_directory(Path("q5"));
    Export([](TSeqDlg& d) {
        d.eFolderName->setText(QStringLiteral("q5"));
        d.tbCompress->setValue(1);
        d.rbFromStart->setChecked(true);
    });
    for (auto [name, first] : {std::pair{"seq/000001.jpg", 1}, {"q5/frame000000.jpg", 160}}) {
        std::ifstream in(Path(name), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const size_t dqt = bytes.find("\xFF\xDB");
        ASSERT_NE(dqt, std::string::npos) << name;
        EXPECT_EQ(uint8_t(bytes[dqt + 5]), first) << name;
    }
}

TEST_F(SeqExport, AWriteThatFailsStopsWithTheMessage) {
    const std::string folder = Path("ro");
    std::filesystem::create_directory(folder);
    // Root writes anywhere: a folder in the first file's place refuses it all the same.
    std::filesystem::create_directory(folder + "/frame000000.jpg");
    std::filesystem::permissions(folder, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    std::vector<std::string> opened = Export([](TSeqDlg& d) {
        d.eFolderName->setText(QStringLiteral("ro"));
        d.cbOpenTarget->setChecked(true);
    });
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_EQ(Ui.Messages,
              std::vector<std::string>{"Can not write " + folder + "/frame000000.jpg"});
    EXPECT_FALSE(std::filesystem::exists(folder + "/frame000001.jpg"));
    EXPECT_TRUE(opened.empty()); // nothing is reported as done
    EXPECT_FALSE(Form->SeqExport.OnFrame);
}

TEST_F(SeqExport, TheFolderNameFilterBeepsOncePerRemovedCharacter) {
    TSeqDlg::ExecHook = [&](TSeqDlg& d) {
        d.eFolderName->clear();
        QTest::keyClicks(d.eFolderName, "a/b:c");
        EXPECT_EQ(d.eFolderName->text(), "abc");
        EXPECT_EQ(Ui.Beeps, 2);
        d.bCancel->click(); // a plain Cancel: nothing is written, the cursor stays
        return d.result();
    };
    Form->Timeline().SetFramePos(4);
    Form->miExportBitmaps->trigger();
    EXPECT_EQ(Form->Timeline().GetFramePos(), 4);
    EXPECT_EQ(Settings->ReadBool("Export Bitmap", "Open target", false), true);
}
