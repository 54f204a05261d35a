#include "MyVidCapture.h"

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "TempFolders.h"

namespace {

// A capture control that records what it was asked and answers as scripted.
class TFakeControl : public ICaptureControl {
public:
    std::vector<std::string> Drivers{"Cam 1.0", "Test pattern generator 1.0"};
    int Index = -1;
    bool Open = false, Preview = false, Audio = true, Busy = false, StartOk = true;
    uint16_t Fps = 12, Limit = 0;
    TBitmapInfoHeader Format{40, 320, 240, 1, 16, 0x32595559, 0, 0, 0, 0, 0};
    std::string FileName;
    int Starts = 0, Stops = 0;
    int64_t Frame = 0, Dropped = 0, ElapsedMs = 0;

    std::vector<std::string> GetDriverList() const override { return Drivers; }
    int GetDriverIndex() const override { return Index; }
    void SetDriverIndex(int index) override {
        Index = index < int(Drivers.size()) ? index : -1;
        Open = false;
    }
    bool HasDriverName() const override { return Index >= 0; }
    bool GetDriverOpen() const override { return Open; }
    void SetDriverOpen(bool open) override {
        if (open && Index < 0)
            throw ENoDriverException();
        if (open && Busy)
            throw ENotConnectException();
        Open = open;
    }
    void SetVideoPreview(bool on) override { Preview = on && Open; }
    bool DlgVideoFormat() override { return Open; }
    bool DlgVideoCompression() override { return Open; }
    uint16_t GetFrameRate() const override { return Fps; }
    void SetFrameRate(uint16_t fps) override { Fps = fps; }
    bool GetCapAudio() const override { return Audio; }
    void SetCapAudio(bool on) override { Audio = on; }
    void SetCapTimeLimit(uint16_t seconds) override { Limit = seconds; }
    void GetVideoFormat(TBitmapInfoHeader& h) override {
        if (!Open)
            throw ENotOpen();
        h = Format;
    }
    void SetVideoFormat(const TBitmapInfoHeader& h) override { Format = h; }
    void SetVideoFileName(const std::string& name) override { FileName = name; }
    bool StartCapture() override { return ++Starts, StartOk; }
    bool StopCapture() override { return ++Stops, true; }
    bool GetCaptureCounts(int64_t& f, int64_t& d, int64_t& ms) override {
        f = Frame, d = Dropped, ms = ElapsedMs;
        return Open;
    }
};

class TFakeView : public IVidCaptureView {
public:
    std::string File, Caption = "Start";
    std::string Panels[4];
    bool ButtonsEnabled = true, Banner = false, PlayResult = false, RecordAudio = false;
    int Fps = 0, Chosen = -1, Preselected = -2;
    std::vector<std::string> Offered;

    std::string GetFileText() const override { return File; }
    void SetFileText(const std::string& text) override { File = text; }
    void SetPanel(int index, const std::string& text) override { Panels[index] = text; }
    void SetButtonsEnabled(bool enabled) override { ButtonsEnabled = enabled; }
    void SetStartCaption(const std::string& caption) override { Caption = caption; }
    void SetBannerVisible(bool visible) override { Banner = visible; }
    bool GetPlayResult() const override { return PlayResult; }
    void SetFps(int fps) override { Fps = fps; }
    void SetRecordAudio(bool on) override { RecordAudio = on; }
    int ChooseDriver(const std::vector<std::string>& drivers, int selected) override {
        Offered = drivers;
        Preselected = selected;
        return Chosen;
    }
};

class VidCaptureLogic : public ::testing::Test {
protected:
    void SetUp() override {
        Logic.CaptureFolder = Dir.Path;
        Logic.PlayFile = [this](const std::string& f) { Played.push_back(f); };
    }
    TFakeControl Control;
    TFakeView View;
    TFakeUiServices Ui;
    TTempDir Dir;
    TVidCaptureLogic Logic{Control, View, Ui};
    std::vector<std::string> Played;
};

} // namespace

TEST_F(VidCaptureLogic, CreateOpensTheFirstDriverAndProposesATimeStampName) {
    Logic.FormCreate();
    Logic.FormShow();
    EXPECT_EQ(Control.Index, 0);
    EXPECT_TRUE(Control.Open && Control.Preview);
    EXPECT_EQ(Control.Limit, 65000);
    EXPECT_FALSE(View.Banner);
    EXPECT_EQ(View.Fps, 12);
    EXPECT_TRUE(View.RecordAudio);
    ASSERT_GT(View.File.size(), 4u);
    EXPECT_EQ(View.File.substr(View.File.size() - 4), ".avi");
    EXPECT_EQ(View.File.find_first_not_of("0123456789"), View.File.size() - 4);
}

TEST_F(VidCaptureLogic, BusyOrMissingDriverShowsTheBannerAndStartFails) {
    for (bool missing : {false, true}) {
        TFakeControl control;
        control.Busy = !missing;
        if (missing)
            control.Drivers.clear();
        TFakeView view;
        TFakeUiServices ui;
        TVidCaptureLogic logic(control, view, ui);
        logic.CaptureFolder = Dir.Path;
        logic.FormCreate();
        logic.FormShow();
        EXPECT_TRUE(view.Banner);
        EXPECT_EQ(ui.Messages, missing ? std::vector<std::string>{}
                                       : std::vector<std::string>{
                                             "Can not connect capture driver with capture window"});
        ui.Messages.clear();
        logic.sbStartClick();
        EXPECT_EQ(ui.Messages, (std::vector<std::string>{"Driver not Open"}));
        EXPECT_EQ(view.Caption, "Start");
        EXPECT_FALSE(logic.IsCapturing());
    }
}

TEST_F(VidCaptureLogic, StartAsksFor24BitAndRecordsIntoTheFolder) {
    Logic.FormCreate();
    View.File = "take.avi";
    Control.StartOk = false; // a refused start keeps the window idle
    Logic.sbStartClick();
    EXPECT_FALSE(Logic.IsCapturing());
    EXPECT_EQ(View.Caption, "Start");
    EXPECT_TRUE(View.ButtonsEnabled);
    EXPECT_EQ(View.Panels[3], "");
    Control.StartOk = true;
    Logic.sbStartClick();
    const std::string file = Dir.Path + "/take.avi";
    EXPECT_TRUE(Logic.IsCapturing());
    EXPECT_EQ(int(Control.Format.biBitCount), 24);
    EXPECT_EQ(uint32_t(Control.Format.biCompression), BI_RGB);
    EXPECT_EQ(int(Control.Format.biWidth), 320); // the rest as the driver gave it
    EXPECT_EQ(Control.FileName, file);
    EXPECT_EQ(View.Caption, "Stop");
    EXPECT_FALSE(View.ButtonsEnabled);
    EXPECT_EQ(View.Panels[3], file);

    Control.Frame = 17, Control.Dropped = 2, Control.ElapsedMs = 3723456;
    Logic.ShowCounts();
    EXPECT_EQ(View.Panels[0], "1h:02m:03s:45ms");
    EXPECT_EQ(View.Panels[1], "Frame:17");
    EXPECT_EQ(View.Panels[2], "Dropped:2");

    View.PlayResult = true;
    Logic.sbStartClick();
    EXPECT_FALSE(Logic.IsCapturing());
    EXPECT_EQ(Control.Stops, 1);
    EXPECT_EQ(View.Caption, "Start");
    EXPECT_TRUE(View.ButtonsEnabled);
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{"Finish writing capture file " + file}));
    EXPECT_EQ(Played, (std::vector<std::string>{file}));
    for (const std::string& p : View.Panels)
        EXPECT_EQ(p, "");
    EXPECT_NE(View.File, "take.avi");
}

TEST_F(VidCaptureLogic, RecordingThatEndsByItselfEndsTheWindowsRecording) {
    Logic.FormCreate();
    Logic.RecordingEnded(); // nothing recording: nothing happens
    EXPECT_TRUE(Ui.Messages.empty());
    Logic.sbStartClick();
    Logic.RecordingEnded();
    EXPECT_FALSE(Logic.IsCapturing());
    EXPECT_EQ(View.Caption, "Start");
    EXPECT_EQ(Ui.Messages.size(), 1u);
    EXPECT_TRUE(Played.empty()); // "Play result" unticked
    // Closing the window while recording stops without the message.
    Logic.sbStartClick();
    Logic.FormClose();
    EXPECT_EQ(Control.Stops, 2);
    EXPECT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(View.Caption, "Start");
}

TEST_F(VidCaptureLogic, DriverChoice) {
    Logic.FormCreate();
    Control.SetDriverIndex(-1);
    View.Chosen = -1; // Cancel
    Logic.BtDriverClick();
    EXPECT_EQ(View.Offered, Control.Drivers);
    EXPECT_EQ(View.Preselected, 0);
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{"No capture driver selected"}));
    EXPECT_TRUE(View.Banner);
    View.Chosen = 1;
    Logic.BtDriverClick();
    EXPECT_EQ(Control.Index, 1);
    EXPECT_TRUE(Control.Open && Control.Preview);
    EXPECT_FALSE(View.Banner);
    View.Chosen = -1;
    Logic.BtDriverClick();
    EXPECT_EQ(View.Preselected, 1);
    EXPECT_EQ(Control.Index, 1);
    EXPECT_TRUE(Control.Open);
    Logic.seFPSChange(25);
    Logic.cbRecordAudioClick(false);
    EXPECT_EQ(Control.Fps, 25);
    EXPECT_FALSE(Control.Audio);
}
