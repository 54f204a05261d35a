// The project output dialog: preset matching, the Windows Media rate snapping, validation, the
// write-back of both outputs, and Cancel leaving the project and its compressor choice alone.
#include "MyProjProp.h"

#include "DialogRig.h"
#include "MyWMFBase.h"

namespace {

const uint32_t Mjpg = MakeFourCC('m', 'j', 'p', 'g');

// The project's output format in one line: size, rate, and the sound format.
std::string Format(const TProjectNode& p) {
    const auto& w = p.AudioFormat.Wfx;
    return std::to_string(p.Width) + "x" + std::to_string(p.Height) + "@" + RateText(p.FrameRate) +
           " " + std::to_string(w.nSamplesPerSec) + "/" + std::to_string(w.nChannels) + "/" +
           std::to_string(w.wBitsPerSample);
}

std::vector<uint8_t> Saved(TProjectNode& p) {
    std::vector<uint8_t> bytes;
    p.SaveToStream(bytes);
    return bytes;
}

} // namespace

TEST(ProjPropModel, PresetsShowOnlyWhenTheProjectMatchesTheirRow) {
    // Width, height, size preset, rate, rate preset: the size and rate rows shown.
    const std::tuple<int32_t, int32_t, int32_t, Extended, int32_t, std::string> cases[] = {
        {720, 480, 10, 29.97L, 10, "DV NTSC 720 x 480 pixels|Standard for NTSC"},
        {700, 480, 10, 30.0L, 10, "Custom|Custom"},
        {320, 240, 50, 25.0L, 20, "Common AVI 320 x 240 pixels|Standard for PAL"},
        {320, 240, 99, 15.0L, 99, "Custom|Custom"}};
    for (const auto& [w, h, sizeId, fps, rateId, rows] : cases) {
        TDialogProject f;
        f.Root->SetVideoFormat(w, h, fps);
        f.Root->SizePresetId = sizeId;
        f.Root->RatePresetId = rateId;
        TProjPropModel m(*f.Root, f.Ui);
        m.LoadFromProject();
        EXPECT_EQ(m.Sizes[size_t(m.SizeIndex)].Text + "|" + m.Rates[size_t(m.RateIndex)].Text,
                  rows);
        EXPECT_EQ(m.WidthText, std::to_string(w));
        EXPECT_EQ(m.SizeEditable(), rows.substr(0, 7) == "Custom|");
    }
    // A preset fills the edits; going back to custom keeps them.
    TDialogProject f;
    TProjPropModel m(*f.Root, f.Ui);
    m.LoadFromProject();
    m.ChooseSize(3); // large AVI
    m.ChooseRate(1); // NTSC
    EXPECT_EQ(m.WidthText + "x" + m.HeightText + "@" + m.FpsText, "640x480@29.97");
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

// The output dialog and the project page of the property dialog check alike.
TEST(ProjPropModel, ValidationOfSizeAndRate) {
    // The last column: nothing wrong, or which side (Width, Height, Fps) is too small or large.
    const char* cases[][4] = {{"320", "240", "15", ""},           {"", "240", "15", "W-"},
                              {"49", "240", "15", "W-"},          {"50", "50", "2", ""},
                              {"4096", "4096", "50", ""},         {"4097", "240", "15", "W+"},
                              {"99999999999", "240", "15", "W+"}, {"320", "", "15", "H-"},
                              {"320", "49", "15", "H-"},          {"320", "4097", "15", "H+"},
                              {"320", "240", "", "F-"},           {"320", "240", ".", "F-"},
                              {"320", "240", "1.99", "F-"},       {"320", "240", "50.01", "F+"}};
    auto why = [](const std::string& c) {
        if (c.empty())
            return c;
        if (c[0] == 'F')
            return "Frame per second is too " + std::string(c[1] == '-' ? "low" : "high");
        return (c[0] == 'W' ? "Width" : "Height") +
               std::string(c[1] == '-' ? " is too small" : " is too large");
    };
    TDialogProject f;
    TProjPropModel m(*f.Root, f.Ui);
    m.LoadFromProject();
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c[0]) + " " + c[1] + " " + c[2]);
        m.SetWidthText(c[0]);
        m.SetHeightText(c[1]);
        m.SetFpsText(c[2]);
        EXPECT_EQ(m.Validate(), why(c[3]));
        EXPECT_EQ(ValidateProjectPage(c[0], c[1], c[2]).value_or(""), why(c[3]));
    }
    if (m.WMAvailable) { // a profile brings its own size and rate
        m.SetWMOutput(true);
        EXPECT_EQ(m.Validate(), "");
    }
}

TEST(ProjPropModel, AviChoicesAreWrittenBack) {
    TDialogProject f;
    TProjPropModel m(*f.Root, f.Ui);
    m.LoadFromProject();
    for (size_t i = 0; i < m.Compressors.size(); ++i)
        if (m.Compressors[i].Object && m.Compressors[i].Object->Handler == Mjpg)
            m.ChooseCompressor(int(i));
    ASSERT_EQ(m.Codecs[0].Text, "Uncompressed PCM");
    m.ChooseCodec(0);
    for (size_t i = 0; i < m.PcmFormats.size(); ++i)
        if (m.PcmFormats[i].Text == "22050, 8  bits Mono")
            m.ChoosePcmFormat(int(i));
    m.ChooseSize(3);
    m.ChooseRate(2);
    m.IncludeAudio = false;
    m.Remarks = {"first", "second"};
    ASSERT_EQ(m.Validate(), "");
    m.ApplyToProject();
    const TProjectNode& p = *f.Root;
    EXPECT_EQ(p.VideoFourCC, Mjpg);
    EXPECT_EQ(f.Root->GetAviCompress().GetFourCC(), Mjpg);
    EXPECT_EQ(p.CompressorName, "Motion JPEG");
    EXPECT_EQ(p.AudioMode, 1);
    EXPECT_EQ(Format(p), "640x480@25 22050/1/8");
    EXPECT_EQ(p.SizePresetId * 100 + p.RatePresetId, 3020);
    EXPECT_FALSE(p.AudioOn || p.IsWMVOutput());
    EXPECT_EQ(p.Description, (std::vector<std::string>{"first", "second"}));

    // A format no line of the list offers is shown as text and kept, not re-read from that text.
    MakePcmFormat(f.Root->AudioFormat, 48000, 2, 16);
    TProjPropModel unlisted(*f.Root, f.Ui);
    unlisted.LoadFromProject();
    EXPECT_EQ(std::to_string(unlisted.PcmIndex) + " " + unlisted.PcmText,
              "-1 48000, 16 bits Stereo");
    unlisted.ApplyToProject();
    EXPECT_EQ(f.Root->AudioFormat.Wfx.nAvgBytesPerSec, 192000u);
    // A compressor that is gone from the machine: the list's first is offered.
    f.Root->VideoFourCC = MakeFourCC('g', 'o', 'n', 'e');
    TProjPropModel gone(*f.Root, f.Ui);
    gone.LoadFromProject();
    EXPECT_EQ(gone.CompressorIndex, 0);
    for (int bad : {-1, int(gone.Compressors.size())})
        gone.ChooseCompressor(bad);
    EXPECT_EQ(gone.CompressorIndex, 0);
    ASSERT_GT(gone.Codecs.size(), 1u);
    gone.ChooseCodec(1);
    gone.ApplyToProject();
    EXPECT_EQ(f.Root->AudioMode, gone.Codecs[1].Tag);
    EXPECT_NE(gone.Codecs[1].Tag, 1);
}

TEST(ProjPropModel, WindowsMediaProfileSetsFormatSizeAndRate) {
    TDialogProject f;
    TProjPropModel m(*f.Root, f.Ui);
    if (!m.WMAvailable)
        GTEST_SKIP() << "no Windows Media encoders";
    m.LoadFromProject();
    m.SetWMOutput(true);
    m.ChooseProfile(5); // modem 28.8: 160 x 120 at 15, 22050 Hz stereo
    EXPECT_EQ(m.ProfileLines.at(0), "Video:");
    m.ApplyToProject();
    std::string guid;
    TWMFBase::GetProfileByIdx(5, guid);
    EXPECT_TRUE(f.Root->IsWMVOutput() && f.Root->WMProfile == guid);
    EXPECT_EQ(Format(*f.Root), "160x120@15 22050/2/16");
    // A profile without sound keeps the project's audio format.
    MakePcmFormat(f.Root->AudioFormat, 11025, 1, 8);
    TProjPropModel silent(*f.Root, f.Ui);
    silent.LoadFromProject();
    silent.ChooseProfile(15);
    silent.ApplyToProject();
    EXPECT_EQ(Format(*f.Root), "160x120@15 11025/1/8");
    silent.ChooseProfile(20); // mono sound only: the picture stays
    silent.ApplyToProject();
    EXPECT_EQ(Format(*f.Root), "160x120@15 22050/1/16");
}

TEST(ProjPropModel, CancelLeavesProjectAndCompressorAsTheyWere) {
    TDialogProject f;
    f.Root->VideoFourCC = Mjpg;
    ASSERT_TRUE(f.Root->GetAviCompress().SelectCompressor(Mjpg));
    const std::vector<uint8_t> before = Saved(*f.Root);
    TProjPropModel m(*f.Root, f.Ui);
    m.LoadFromProject();
    m.ChooseCompressor(0);
    m.ChooseCodec(0);
    m.ChooseSize(1);
    m.SetWMOutput(true);
    m.Cancel();
    EXPECT_EQ(f.Root->GetAviCompress().GetFourCC(), Mjpg);
    EXPECT_EQ(Saved(*f.Root), before);
}

// The dialog inside the main window: a size the validation refuses keeps it open with the
// message; a corrected one is written back.
class ProjPropDlg : public TMainRig {};

TEST_F(ProjPropDlg, ProjectSettingsFromTheMainWindow) {
    auto reset = ResetHooks(TProjPropDlg::ExecHook);
    int runs = 0;
    TProjPropDlg::ExecHook = [&](TProjPropDlg& d) {
        ++runs;
        d.show();
        EXPECT_EQ(d.windowTitle(), "Project output property");
        EXPECT_EQ(d.cbSize->currentText(), "Common AVI 320 x 240 pixels");
        EXPECT_FALSE(d.eWidth->isEnabled());
        d.cbSize->setCurrentIndex(0);
        EXPECT_TRUE(d.eWidth->isEnabled());
        // The edits are cleaned at every key press, keeping what is typed of a fraction.
        d.eWidth->clear();
        QTest::keyClicks(d.eWidth, "2x");
        EXPECT_EQ(d.eWidth->text(), "2");
        QTest::keyClicks(d.eWidth, "0");
        d.cbFPS->setCurrentIndex(0);
        d.eProjFPS->clear();
        QTest::keyClicks(d.eProjFPS, "2a5.");
        EXPECT_EQ(d.eProjFPS->text(), "25.");
        QTest::keyClicks(d.eProjFPS, "0,5");
        EXPECT_EQ(d.eProjFPS->text(), "25.05");
        QTest::mouseClick(d.bOK, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        d.eWidth->setText("400");
        d.cbVidComp->setCurrentIndex(d.cbVidComp->findText("Motion JPEG"));
        EXPECT_TRUE(d.bSetComp->isEnabled());
        QTest::mouseClick(d.bOK, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
        return d.result();
    };
    QTest::mouseClick(Form->sbSetProj, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{"Width is too small"}));
    EXPECT_EQ(Root->Width, 400);
    EXPECT_EQ(Root->FrameRate, 25.05L);
    EXPECT_EQ(Root->VideoFourCC, Mjpg);
}

// A frame or rate the project could not take is refused by the dialog with its message, the
// dialog staying open and the project as it was; the largest frame the project holds is taken.
TEST_F(ProjPropDlg, OutputTheProjectCannotHoldIsRefused) {
    auto reset = ResetHooks(TProjPropDlg::ExecHook);
    const int32_t largest = TProjectNode::MaxFrameSide;
    TProjPropDlg::ExecHook = [&](TProjPropDlg& d) {
        d.show();
        d.cbSize->setCurrentIndex(0);
        d.cbFPS->setCurrentIndex(0);
        const char* refused[][3] = {
            {"5000", "3000", "25"}, {"4096", "4097", "25"}, {"4096", "3000", "1001"}};
        for (const auto& r : refused) {
            d.eWidth->setText(r[0]);
            d.eHeight->setText(r[1]);
            d.eProjFPS->setText(r[2]);
            QTest::mouseClick(d.bOK, Qt::LeftButton);
            EXPECT_TRUE(d.isVisible()) << r[0] << "x" << r[1] << "@" << r[2];
            EXPECT_EQ(Root->Width, 320);
        }
        d.eWidth->setText(QString::number(largest));
        d.eHeight->setText("3000");
        d.eProjFPS->setText("50");
        QTest::mouseClick(d.bOK, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
        return d.result();
    };
    QTest::mouseClick(Form->sbSetProj, Qt::LeftButton);
    EXPECT_EQ(Ui.Messages, (std::vector<std::string>{"Width is too large", "Height is too large",
                                                     "Frame per second is too high"}));
    EXPECT_EQ(Root->Width, largest);
    EXPECT_EQ(Root->Height, 3000);
    EXPECT_EQ(Root->FrameRate, 50.0L);
}
