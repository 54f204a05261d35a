#include "MyVidCapture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "CaptureRig.h"
#include "FakeUiServices.h"
#include "FakeV4L2.h"
#include "MainZunt.h"
#include "MediaProbe.h"
#include "MyAVIReader.h"
#include "MyAppLibs.h"
#include "MyCapDrvSelect.h"
#include "MyCaptureDlg.h"
#include "TempFolders.h"

namespace {

std::string Text(QLabel* l) {
    return l->text().toStdString();
}

class VidCapture : public ::testing::Test {
protected:
    void SetUp() override { TDlgCapDrvSelect::Script = nullptr; }
    void TearDown() override { TDlgCapDrvSelect::Script = nullptr; }

    std::unique_ptr<TVidCapture> Make() {
        auto w = std::make_unique<TVidCapture>(Ui, nullptr, &Drivers);
        w->Logic().CaptureFolder = Dir.Path;
        w->cbPlayResult->setChecked(false);
        w->show();
        return w;
    }
    std::shared_ptr<TFakeV4L2Io> Io = std::make_shared<TFakeV4L2Io>();
    TCaptureDrivers Drivers{Io};
    TFakeUiServices Ui;
    TTempDir Dir;
    TScratchHome Home{Dir.Path};
};

} // namespace

TEST_F(VidCapture, OpensWithAPreviewRecordsAndStops) {
    auto w = Make();
    EXPECT_EQ(w->windowTitle(), "Analog video capture");
    EXPECT_TRUE(w->VideoCap1->GetDriverOpen() && w->VideoCap1->GetVideoPreview());
    EXPECT_FALSE(w->PNoAvailable->isVisible());
    EXPECT_EQ(w->seFPS->value(), 12);
    EXPECT_EQ(w->VideoCap1->GetMicroSecPerFrame(), 83333u);
    w->seFPS->setValue(20);
    EXPECT_EQ(w->VideoCap1->GetFrameRate(), 20);
    w->seFPS->setValue(12);
    w->cbRecordAudio->setChecked(false);
    EXPECT_FALSE(w->VideoCap1->CapAudio);
    w->cbRecordAudio->setChecked(true);
    // A file already there under the name goes to the trash.
    const std::string first = "old.avi";
    w->EdFile->setText(QString::fromStdString(first));
    Dir.File(first, "previous take");
    w->sbStart->click();
    ASSERT_TRUE(w->IsCapturing());
    EXPECT_EQ(w->sbStart->text(), "Stop");
    EXPECT_FALSE(w->pButtons->isEnabled());
    const std::string file = Dir.Path + "/" + first;
    EXPECT_EQ(Text(w->StatusPanels[3]), file);
    ASSERT_TRUE(WaitFor(Ui, [&] {
        const std::string t = Text(w->StatusPanels[1]);
        return t.rfind("Frame:", 0) == 0 && std::stoi(t.substr(6)) >= 5;
    }));
    EXPECT_EQ(Text(w->StatusPanels[2]).rfind("Dropped:", 0), 0u);
    EXPECT_NE(Text(w->StatusPanels[0]).find("h:00m:0"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    w->sbStart->click();
    EXPECT_FALSE(w->IsCapturing());
    EXPECT_EQ(w->sbStart->text(), "Start");
    EXPECT_TRUE(w->pButtons->isEnabled());
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{"Finish writing capture file " + file}));
    for (QLabel* panel : w->StatusPanels)
        EXPECT_TRUE(panel->text().isEmpty());
    // Stop returned after the file was closed: it reads back whole.
    EXPECT_TRUE(std::filesystem::exists(Dir.Path + "/.local/share/Trash/files/old.avi"));
    TAviReader avi;
    ASSERT_TRUE(avi.Open(file));
    EXPECT_NEAR(double(avi.GetFrameRate()), 12.0, 0.001);
    EXPECT_TRUE(avi.HasAudio());
    EXPECT_EQ(ProbeMedia(file, false).FirstOf(true)->KeyFlags.size(), size_t(avi.GetFrameCount()));
    // The next recording gets a new name.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(w->EdFile->text().toStdString(), first);
}

// The finished recording goes to the desktop's player; when the desktop has none for it the user
// is told, once the opener has answered.
TEST_F(VidCapture, PlayedRecordingSaysWhenNoPlayerTakesIt) {
    TFakeOpener opener(3, "no method available");
    auto w = Make();
    w->cbPlayResult->setChecked(true);
    w->sbStart->click();
    ASSERT_TRUE(w->IsCapturing());
    const std::string file = Text(w->StatusPanels[3]);
    ASSERT_TRUE(WaitFor(Ui, [&] { return Text(w->StatusPanels[1]).rfind("Frame:", 0) == 0; }));
    w->sbStart->click();
    ASSERT_EQ(Ui.Messages, (std::vector<std::string>{"Finish writing capture file " + file}));
    opener.Answer();
    EXPECT_TRUE(WaitFor(Ui, [&] { return Ui.Messages.size() == 2; }));
    EXPECT_EQ(Ui.Messages.back(), "Can not play " + file + ": no method available");
}

TEST_F(VidCapture, TargetThatCannotBeMovedAwayIsInUse) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root moves files out of read-only folders";
    auto w = Make();
    const std::string locked = Dir.Path + "/locked";
    std::filesystem::create_directory(locked);
    std::ofstream(locked + "/take.avi") << "x";
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    w->Logic().CaptureFolder = locked;
    w->EdFile->setText("take.avi");
    Ui.Messages.clear();
    w->sbStart->click();
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{locked + "/take.avi is in use."}));
    EXPECT_FALSE(w->IsCapturing());
    EXPECT_EQ(w->sbStart->text(), "Start");
}

TEST_F(VidCapture, DriverDialogSwitchesDriver) {
    Io->Add({.Card = "Desk camera",
             .Formats = {{64, 48, CapPixYUYV}},
             .Current = {64, 48, CapPixYUYV}});
    auto w = Make();
    std::vector<std::string> offered;
    int preselected = -1;
    TDlgCapDrvSelect::Script = [&](TDlgCapDrvSelect& dlg) {
        EXPECT_EQ(dlg.windowTitle(), "Capture Driver");
        for (int i = 0; i < dlg.ComboBox1->count(); ++i)
            offered.push_back(dlg.ComboBox1->itemText(i).toStdString());
        preselected = dlg.ComboBox1->currentIndex();
        dlg.ComboBox1->setCurrentIndex(1);
        return int(QDialog::Accepted);
    };
    w->BtDriver->click();
    EXPECT_EQ(offered,
              (std::vector<std::string>{"Desk camera 5.10.3", "Test pattern generator 1.0"}));
    EXPECT_EQ(preselected, 0);
    EXPECT_EQ(w->VideoCap1->GetDriverName(), TestPatternDriverName);
    EXPECT_TRUE(w->VideoCap1->GetVideoPreview());
    EXPECT_FALSE(w->PNoAvailable->isVisible());
    // The format dialog lists the driver's formats and applies the choice.
    TDlgCapDrvSelect::Script = [&](TDlgCapDrvSelect& dlg) {
        EXPECT_EQ(dlg.ComboBox1->itemText(dlg.ComboBox1->currentIndex()), "320 x 240 BGR3");
        dlg.ComboBox1->setCurrentIndex(0);
        return int(QDialog::Accepted);
    };
    w->Btformat->click();
    EXPECT_EQ(w->VideoCap1->ImageWidth(), 160);
    EXPECT_TRUE(w->VideoCap1->GetVideoPreview());
    // Cancel keeps the driver, reopened.
    TDlgCapDrvSelect::Script = [](TDlgCapDrvSelect&) { return int(QDialog::Rejected); };
    w->BtDriver->click();
    EXPECT_EQ(w->VideoCap1->GetDriverIndex(), 1);
    EXPECT_TRUE(w->VideoCap1->GetDriverOpen());
}

TEST_F(VidCapture, TimeLimitEndsTheRecordingInTheWindow) {
    auto w = Make();
    w->cbRecordAudio->setChecked(false);
    w->VideoCap1->CapTimeLimit = 1;
    w->sbStart->click();
    ASSERT_TRUE(w->IsCapturing());
    ASSERT_TRUE(WaitFor(Ui, [&] { return !w->IsCapturing(); }));
    EXPECT_EQ(w->sbStart->text(), "Start");
    ASSERT_EQ(Ui.Messages.size(), 1u);
    TAviReader avi;
    ASSERT_TRUE(avi.Open(w->CaptureFileName()));
    EXPECT_EQ(avi.GetFrameCount(), 12);
}

TEST_F(VidCapture, TestWindowRecordsUntilAClickAndSavesABitmap) {
    TCaptureForm form(Ui, nullptr, &Drivers);
    form.show();
    EXPECT_EQ(form.windowTitle(), "Capture");
    form.BtOpen->click();
    TCapWindow* win = form.Capture()->Window();
    ASSERT_TRUE(win && win->Connected());
    EXPECT_EQ(win->objectName(), "Capture Window");
    Ui.FileAnswers = {Dir.Path + "/seq.avi", Dir.Path + "/frame.bmp"};
    form.BtStartAvi->click();
    EXPECT_EQ(form.Capture()->State(), -1);
    ASSERT_TRUE(win->Capturing());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The driver's own settings end a recording with a left click.
    QTest::mouseClick(win, Qt::LeftButton);
    EXPECT_FALSE(win->Capturing());
    TAviReader avi;
    ASSERT_TRUE(avi.Open(Dir.Path + "/seq.avi"));
    EXPECT_NEAR(double(avi.GetFrameRate()), 15.0, 0.001);
    form.BtCaptureFrame->click();
    std::ifstream in(Dir.Path + "/frame.bmp", std::ios::binary);
    const std::string bmp((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(bmp.size(), 54u + 320 * 3 * 240);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(uint8_t(bmp[10]), 54);          // pixels follow the headers
    EXPECT_EQ(uint8_t(bmp[28]), 24);          // bits per pixel
    EXPECT_EQ(uint8_t(bmp[54]), 255);         // bottom row, first pixel: the white bar
    EXPECT_EQ(uint8_t(bmp[54 + 3 * 300]), 0); // the black bar
}

TEST_F(VidCapture, EnterInAFieldLeavesTheRecordingRunning) {
    auto w = Make();
    w->cbRecordAudio->setChecked(false);
    TDlgCapDrvSelect::Script = [](TDlgCapDrvSelect&) {
        ADD_FAILURE() << "a driver dialog opened";
        return int(QDialog::Rejected);
    };
    for (QPushButton* b : w->findChildren<QPushButton*>())
        EXPECT_FALSE(b->isDefault() || b->autoDefault()) << b->text().toStdString();
    w->sbStart->click();
    ASSERT_TRUE(w->IsCapturing());
    for (QWidget* field : {static_cast<QWidget*>(w->EdFile), static_cast<QWidget*>(w->seFPS)}) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Enter);
    }
    EXPECT_TRUE(w->IsCapturing());
    EXPECT_TRUE(w->VideoCap1->GetDriverOpen());
    EXPECT_TRUE(w->isVisible());
    w->sbStart->click();
    EXPECT_FALSE(w->IsCapturing());
}

TEST_F(VidCapture, BannerSpansThePicture) {
    auto w = std::make_unique<TVidCapture>(Ui, nullptr, &Drivers);
    w->VideoCap1->SetDriverIndex(-1); // no driver
    w->resize(900, 600);
    w->show();
    QCoreApplication::processEvents();
    ASSERT_TRUE(w->PNoAvailable->isVisible());
    EXPECT_EQ(w->PNoAvailable->text(), "   Video capture driver is not available");
    EXPECT_GT(w->VideoCap1->width(), 320);
    const QRect banner = w->PNoAvailable->geometry();
    EXPECT_EQ(banner.topLeft(), QPoint(0, 0));
    EXPECT_EQ(banner.width(), w->VideoCap1->width());
    EXPECT_GE(banner.height(), 24);
}

// The test window asks where a new file goes: a save dialog, never an open dialog.
TEST_F(VidCapture, TestWindowAsksWithSaveDialogs) {
    struct TSaveOnlyUi : TFakeUiServices {
        std::vector<std::string> Asked;
        std::optional<std::string> OpenFileDialog(const std::string&,
                                                  const std::vector<TFileFilter>&,
                                                  const std::string&) override {
            ADD_FAILURE() << "an open dialog cannot name a new file";
            return std::nullopt;
        }
        std::optional<std::string> SaveFileDialog(const std::string& title,
                                                  const std::vector<TFileFilter>& filters,
                                                  const std::string& initial,
                                                  const std::string& ext) override {
            Asked.push_back(filters.at(0).Description + "|" + filters.at(0).Patterns + " " + ext);
            return TFakeUiServices::SaveFileDialog(title, filters, initial, ext);
        }
    } ui;
    TCaptureForm form(ui, nullptr, &Drivers);
    form.show();
    form.BtOpen->click();
    ui.FileAnswers = {Dir.Path + "/new.avi", Dir.Path + "/new.bmp"};
    form.BtStartAvi->click();
    ASSERT_TRUE(form.Capture()->Window()->Capturing());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    form.Capture()->Window()->Stop();
    form.BtCaptureFrame->click();
    EXPECT_EQ(ui.Asked, (std::vector<std::string>{"AVI|*.avi avi", "BMP|*.bmp bmp"}));
    TAviReader avi;
    EXPECT_TRUE(avi.Open(Dir.Path + "/new.avi"));
    EXPECT_TRUE(std::filesystem::exists(Dir.Path + "/new.bmp"));
}

TEST(BesideProgram, ProgramFolderWhenWritableElseUserData) {
    TTempDir dir;
    TScratchHome home(dir.Path);
    const std::string program = dir.Path + "/bin";
    std::filesystem::create_directory(program);
    EXPECT_EQ(BesideProgramFolder("Capture", program), program + "/Capture");
    EXPECT_TRUE(std::filesystem::is_directory(program + "/Capture"));
    // "Clips" cannot be made there (a file has the name), so it goes to the user's data.
    std::ofstream(program + "/Clips") << "x";
    const std::string clips = BesideProgramFolder("Clips", program);
    EXPECT_EQ(clips.rfind(dir.Path + "/.local/share/", 0), 0u) << clips;
    EXPECT_EQ(std::filesystem::path(clips).filename(), "Clips");
    EXPECT_TRUE(std::filesystem::is_directory(clips));
}

// The Tools menu opens the capture windows over the main window.
TEST(VidCaptureInMainWindow, ToolsMenuRecordsFromTheTestPattern) {
    TTempDir dir;
    TScratchHome home(dir.Path);
    setenv("XDG_CONFIG_HOME", (dir.Path + "/config").c_str(), 1);
    SetDefaultCaptureDrivers(std::make_shared<TCaptureDrivers>(std::make_shared<TFakeV4L2Io>()));
    TFakeUiServices ui;
    {
        TMainForm form(&ui);
        form.show();
        EXPECT_TRUE(form.miAnalogCapture->isEnabled());
        // Hidden at show, as it has always been; reachable once shown.
        form.miCaptureImage->setVisible(true);
        std::string file;
        TVidCapture::ModalScript = [&](TVidCapture& w) {
            EXPECT_TRUE(w.isVisible());
            EXPECT_EQ(w.parentWidget(), &form);
            w.Logic().CaptureFolder = dir.Path;
            w.cbPlayResult->setChecked(false);
            w.sbStart->click();
            EXPECT_TRUE(WaitFor(ui, [&] { return !w.StatusPanels[1]->text().isEmpty(); }));
            file = w.CaptureFileName();
            w.sbStart->click();
        };
        bool testWindow = false;
        TCaptureForm::ModalScript = [&](TCaptureForm& w) {
            testWindow = w.parentWidget() == &form;
        };
        form.miAnalogCapture->trigger();
        form.miCaptureImage->trigger();
        TVidCapture::ModalScript = nullptr;
        TCaptureForm::ModalScript = nullptr;
        EXPECT_TRUE(testWindow);
        TAviReader avi;
        ASSERT_TRUE(avi.Open(file));
        EXPECT_GT(avi.GetFrameCount(), 0);
        EXPECT_EQ(avi.GetWidth(), 320);
        ui.RunPosted();
    }
    SetDefaultCaptureDrivers(nullptr);
}
