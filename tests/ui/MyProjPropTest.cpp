// The project output dialog: preset matching, the Windows Media rate snapping, validation, the
// write-back of both outputs, and Cancel leaving the project and its compressor choice alone.
#include "MyProjProp.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MainZunt.h"
#include "MyWMFBase.h"

namespace {

const uint32_t Mjpg = MakeFourCC('m', 'j', 'p', 'g');

struct Fixture {
    TMemTree Tree;
    TFakeUiServices Ui;
    TProjectNode Root{"Project", Tree.AddRoot("Project")};
    Fixture() {
        Root.Ui = &Ui;
        Root.New();
    }
    int IndexOf(const std::vector<TCompressorListItem>& list, uint32_t fourCC) {
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].Object && list[i].Object->Handler == fourCC)
                return int(i);
        return -1;
    }
    std::vector<uint8_t> Saved() {
        std::vector<uint8_t> bytes;
        Root.SaveToStream(bytes);
        return bytes;
    }
};

} // namespace

TEST(ProjPropModel, PresetsShowOnlyWhenTheProjectMatchesTheirRow) {
    struct Case {
        int32_t W, H, SizeId;
        Extended Fps;
        int32_t RateId;
        const char* Size;
        const char* Rate;
    } cases[] = {
        {720, 480, 10, 29.97L, 10, "DV NTSC 720 x 480 pixels", "Standard for NTSC"},
        {700, 480, 10, 30.0L, 10, "Custom", "Custom"},
        {320, 240, 50, 25.0L, 20, "Common AVI 320 x 240 pixels", "Standard for PAL"},
        {320, 240, 99, 15.0L, 99, "Custom", "Custom"},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.Root.SetVideoFormat(c.W, c.H, c.Fps);
        f.Root.SizePresetId = c.SizeId;
        f.Root.RatePresetId = c.RateId;
        TProjPropModel m(f.Root, f.Ui);
        m.LoadFromProject();
        EXPECT_EQ(m.Sizes[size_t(m.SizeIndex)].Text, c.Size) << c.W;
        EXPECT_EQ(m.Rates[size_t(m.RateIndex)].Text, c.Rate) << c.W;
        EXPECT_EQ(m.WidthText, std::to_string(c.W));
        EXPECT_EQ(m.SizeEditable(), std::string(c.Size) == "Custom");
    }
}

TEST(ProjPropModel, PresetFillsTheEditsAndCustomKeepsThem) {
    Fixture f;
    TProjPropModel m(f.Root, f.Ui);
    m.LoadFromProject();
    m.ChooseSize(3); // large AVI
    m.ChooseRate(1); // NTSC
    EXPECT_EQ(m.WidthText + "x" + m.HeightText, "640x480");
    EXPECT_EQ(m.FpsText, "29.97");
    EXPECT_FALSE(m.SizeEditable());
    m.ChooseSize(0);
    m.ChooseRate(0);
    EXPECT_EQ(m.WidthText + "x" + m.HeightText + "@" + m.FpsText, "640x480@29.97");
    EXPECT_TRUE(m.SizeEditable() && m.RateEditable());
    EXPECT_EQ(RateText(30000.0L / 1001), "29.97003");
}

TEST(ProjPropModel, WindowsMediaRatesSnapDown) {
    const std::pair<uint32_t, uint32_t> cases[] = {{48000, 44100}, {44100, 44100}, {32000, 22050},
                                                   {22050, 22050}, {16000, 11025}, {8000, 8000}};
    for (auto [in, out] : cases)
        EXPECT_EQ(SnapWMAudioRate(in), out) << in;
}

TEST(ProjPropModel, ValidationOfSizeAndRate) {
    struct Case {
        const char *W, *H, *Fps, *Why;
    } cases[] = {
        {"320", "240", "15", ""},
        {"", "240", "15", "Width is too small"},
        {"49", "240", "15", "Width is too small"},
        {"50", "50", "2", ""},
        {"4096", "4096", "50", ""},
        {"4097", "240", "15", "Width is too large"},
        {"99999999999", "240", "15", "Width is too large"},
        {"320", "", "15", "Height is too small"},
        {"320", "4097", "15", "Height is too large"},
        {"320", "240", "", "Frame per second is too low"},
        {"320", "240", "1.99", "Frame per second is too low"},
        {"320", "240", "50.01", "Frame per second is too high"},
    };
    Fixture f;
    TProjPropModel m(f.Root, f.Ui);
    m.LoadFromProject();
    for (const Case& c : cases) {
        m.SetWidthText(c.W);
        m.SetHeightText(c.H);
        m.SetFpsText(c.Fps);
        EXPECT_EQ(m.Validate(), c.Why) << c.W << " " << c.H << " " << c.Fps;
    }
    // A profile brings its own size and rate.
    if (m.WMAvailable) {
        m.SetWMOutput(true);
        EXPECT_EQ(m.Validate(), "");
    }
}

TEST(ProjPropModel, AviChoicesAreWrittenBack) {
    Fixture f;
    TProjPropModel m(f.Root, f.Ui);
    m.LoadFromProject();
    m.ChooseCompressor(f.IndexOf(m.Compressors, Mjpg));
    ASSERT_EQ(m.Codecs[0].Text, "Uncompressed PCM");
    m.ChooseCodec(0);
    int mono8 = -1;
    for (size_t i = 0; i < m.PcmFormats.size(); ++i)
        if (m.PcmFormats[i].Text == "22050, 8  bits Mono")
            mono8 = int(i);
    m.ChoosePcmFormat(mono8);
    m.ChooseSize(3);
    m.ChooseRate(2);
    m.IncludeAudio = false;
    m.Remarks = {"first", "second"};
    ASSERT_EQ(m.Validate(), "");
    m.ApplyToProject();
    const TProjectNode& p = f.Root;
    EXPECT_EQ(p.VideoFourCC, Mjpg);
    EXPECT_EQ(f.Root.GetAviCompress().GetFourCC(), Mjpg);
    EXPECT_EQ(p.CompressorName, "Motion JPEG");
    EXPECT_EQ(p.AudioMode, 1);
    EXPECT_EQ(p.AudioFormat.Wfx.nSamplesPerSec, 22050u);
    EXPECT_EQ(p.AudioFormat.Wfx.nChannels, 1);
    EXPECT_EQ(p.AudioFormat.Wfx.wBitsPerSample, 8);
    EXPECT_EQ(p.Width * 10000 + p.Height, 6400480);
    EXPECT_EQ(p.FrameRate, 25.0L);
    EXPECT_EQ(p.SizePresetId * 100 + p.RatePresetId, 3020);
    EXPECT_FALSE(p.AudioOn);
    EXPECT_FALSE(p.IsWMVOutput());
    EXPECT_EQ(p.Description, (std::vector<std::string>{"first", "second"}));
}

// A format no line of the list offers is shown as text and kept, not re-read from that text.
TEST(ProjPropModel, UnlistedAudioFormatIsKept) {
    Fixture f;
    MakePcmFormat(f.Root.AudioFormat, 48000, 2, 16);
    TProjPropModel m(f.Root, f.Ui);
    m.LoadFromProject();
    EXPECT_EQ(m.PcmIndex, -1);
    EXPECT_EQ(m.PcmText, "48000, 16 bits Stereo");
    m.ApplyToProject();
    EXPECT_EQ(f.Root.AudioFormat.Wfx.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.Root.AudioFormat.Wfx.nAvgBytesPerSec, 192000u);
}

TEST(ProjPropModel, WindowsMediaProfileSetsFormatSizeAndRate) {
    Fixture f;
    TProjPropModel m(f.Root, f.Ui);
    if (!m.WMAvailable)
        GTEST_SKIP() << "no Windows Media encoders";
    m.LoadFromProject();
    m.SetWMOutput(true);
    m.ChooseProfile(5); // modem 28.8: 160 x 120 at 15, 22050 Hz stereo
    ASSERT_FALSE(m.ProfileLines.empty());
    EXPECT_EQ(m.ProfileLines[0], "Video:");
    m.ApplyToProject();
    std::string guid;
    TWMFBase::GetProfileByIdx(5, guid);
    EXPECT_TRUE(f.Root.IsWMVOutput());
    EXPECT_EQ(f.Root.WMProfile, guid);
    EXPECT_EQ(f.Root.Width * 1000 + f.Root.Height, 160120);
    EXPECT_EQ(f.Root.FrameRate, 15.0L);
    EXPECT_EQ(f.Root.AudioFormat.Wfx.nSamplesPerSec, 22050u);
    EXPECT_EQ(f.Root.AudioFormat.Wfx.nChannels, 2);

    // A profile without sound keeps the project's audio format.
    MakePcmFormat(f.Root.AudioFormat, 11025, 1, 8);
    TProjPropModel silent(f.Root, f.Ui);
    silent.LoadFromProject();
    silent.ChooseProfile(15);
    silent.ApplyToProject();
    EXPECT_EQ(f.Root.AudioFormat.Wfx.nSamplesPerSec, 11025u);
    EXPECT_EQ(f.Root.AudioFormat.Wfx.wBitsPerSample, 8);
}

TEST(ProjPropModel, CancelLeavesProjectAndCompressorAsTheyWere) {
    Fixture f;
    f.Root.VideoFourCC = Mjpg;
    ASSERT_TRUE(f.Root.GetAviCompress().SelectCompressor(Mjpg));
    const std::vector<uint8_t> before = f.Saved();
    TProjPropModel m(f.Root, f.Ui);
    m.LoadFromProject();
    m.ChooseCompressor(0);
    m.ChooseCodec(0);
    m.ChooseSize(1);
    m.SetWMOutput(true);
    m.Cancel();
    EXPECT_EQ(f.Root.GetAviCompress().GetFourCC(), Mjpg);
    EXPECT_EQ(f.Saved(), before);
}

// The dialog inside the main window: a size the validation refuses keeps it open with the
// message; a corrected one is written back.
TEST(ProjPropDlg, ProjectSettingsFromTheMainWindow) {
    QTemporaryDir dir;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    TFakeUiServices ui;
    TMainForm form(&ui);
    form.show();
    TProjectNode* root = form.GetProject();
    int runs = 0;
    TProjPropDlg::ExecHook = [&](TProjPropDlg& d) {
        ++runs;
        d.show();
        EXPECT_EQ(d.windowTitle(), "Project output property");
        EXPECT_EQ(d.cbSize->currentText(), "Common AVI 320 x 240 pixels");
        EXPECT_FALSE(d.eWidth->isEnabled());
        d.cbSize->setCurrentIndex(0);
        EXPECT_TRUE(d.eWidth->isEnabled());
        d.eWidth->setText("20");
        QTest::mouseClick(d.bOK, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        d.eWidth->setText("400");
        d.cbVidComp->setCurrentIndex(d.cbVidComp->findText("Motion JPEG"));
        EXPECT_TRUE(d.bSetComp->isEnabled());
        QTest::mouseClick(d.bOK, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
        return d.result();
    };
    QTest::mouseClick(form.sbSetProj, Qt::LeftButton);
    TProjPropDlg::ExecHook = nullptr;
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ui.Messages, (std::vector<std::string>{"Width is too small"}));
    EXPECT_EQ(root->Width, 400);
    EXPECT_EQ(root->VideoFourCC, Mjpg);
    qputenv("XDG_CONFIG_HOME", oldConfig);
}
