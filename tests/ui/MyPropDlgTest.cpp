#include "MyPropDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "MainZunt.h"
#include "MyAVICompress.h"
#include "MyClipNode.h"
#include "MyEffectNodes.h"
#include "MyTreeItems.h"
#include "TempFolders.h"

namespace {

using TMessage = std::optional<std::string>;

} // namespace

TEST(PropChecks, ProjectPageBoundaries) {
    struct TCase {
        const char *W, *H, *Fps;
        TMessage Want;
    } cases[] = {
        {"50", "50", "50", std::nullopt},
        {"4096", "4096", "2", std::nullopt},
        {"49", "240", "15", "Width is too small"},
        {"", "240", "15", "Width is too small"},
        {"4097", "240", "15", "Width is too large"},
        {"320", "49", "15", "Height is too small"},
        {"320", "", "15", "Height is too small"},
        {"320", "4097", "15", "Height is too large"},
        {"320", "240", "50.01", "Frame per second is too high"},
        {"320", "240", "1.99", "Frame per second is too low"},
        {"320", "240", "", "Frame per second is too low"},
        {"320", "240", ".", "Frame per second is too low"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ValidateProjectPage(c.W, c.H, c.Fps), c.Want)
            << c.W << " " << c.H << " " << c.Fps;
    EXPECT_EQ(ValidateDurationMs(1), TMessage("Duration is too small"));
    EXPECT_EQ(ValidateDurationMs(2), std::nullopt);
    EXPECT_EQ(ValidateClip(0, "/pics"), TMessage("Can not find suitable bitmaps in /pics"));
    EXPECT_EQ(ValidateFileExists("/no/such.avi"), TMessage("Can not find file /no/such.avi"));
    EXPECT_EQ(ValidateFileExists(""), TMessage("Can not find file "));
}

TEST(PropChecks, EditsAndTexts) {
    const std::pair<const char*, const char*> digits[] = {
        {"12a3", "123"}, {"", ""},   {"abc", ""},
        {"007", "7"},    {"0", "0"}, {"1234567890123", "123456789"}};
    for (const auto& [in, out] : digits)
        EXPECT_EQ(DigitsOnly(in), out) << in;
    EXPECT_EQ(CaptionFromLabel("  Intro  ", "x"), "Intro");
    EXPECT_EQ(CaptionFromLabel(" ", ""), ":<No label>");
    EXPECT_EQ(CaptionFromLabel("", "Zoom filter"), "Zoom filter:<No label>");
    EXPECT_EQ(SecondsToMs(2.5L), 2500);
    EXPECT_EQ(MsToSeconds(2500), 2.5L);
    EXPECT_EQ(SecondsToMs(MsToSeconds(2501)), 2501);
}

TEST(PropChecks, SamplingListKeepsTheProjectRate) {
    struct TCase {
        uint32_t Rate;
        std::vector<uint32_t> List;
        int Index;
    } cases[] = {
        {44100, {48000, 44100, 22050, 11025}, 1},
        {0, {48000, 44100, 22050, 11025}, 1},
        {32000, {48000, 44100, 32000, 22050, 11025}, 2},
        {96000, {96000, 48000, 44100, 22050, 11025}, 0},
        {8000, {48000, 44100, 22050, 11025, 8000}, 4},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(SamplingRates(c.Rate), c.List) << c.Rate;
        EXPECT_EQ(SamplingIndex(SamplingRates(c.Rate), c.Rate), c.Index) << c.Rate;
    }
}

TEST(PropChecks, SoundFormatWrittenBack) {
    struct TCase {
        int64_t Mode;
        uint32_t Rate;
        bool Stereo;
        int Bits;
        uint16_t Tag, Channels, BitsOut, Align;
        uint32_t RateOut, PerSecond;
    } cases[] = {
        {1, 22050, true, 1, 1, 2, 16, 4, 22050, 88200},
        {1, 11025, false, 0, 1, 1, 8, 1, 11025, 11025},
        {1, 32000, true, 0, 1, 2, 8, 2, 32000, 64000},
        // Any compressed mode keeps PCM 44100 Hz stereo 16-bit, whatever the list shows.
        {0x55, 11025, false, 0, 1, 2, 16, 4, 44100, 176400},
    };
    for (const TCase& c : cases) {
        TAudioFormat f;
        std::memset(&f, 0xAB, sizeof f);
        ProjectAudioFormat(c.Mode, c.Rate, c.Stereo, c.Bits, f);
        EXPECT_EQ(f.Wfx.wFormatTag, c.Tag);
        EXPECT_EQ(f.Wfx.nChannels, c.Channels);
        EXPECT_EQ(f.Wfx.wBitsPerSample, c.BitsOut);
        EXPECT_EQ(f.Wfx.nBlockAlign, c.Align);
        EXPECT_EQ(f.Wfx.nSamplesPerSec, c.RateOut);
        EXPECT_EQ(f.Wfx.nAvgBytesPerSec, c.PerSecond);
        if (c.Mode == 1) {
            EXPECT_EQ(f.Wfx.cbSize, 0);
        }
    }
}

TEST(PropChecks, PagesAndSameFile) {
    TMemTree tree;
    TProjectNode root("Project", tree.AddRoot("Project"));
    TTreeNodeData* track = root.VideoTrack;
    const std::pair<uint8_t, TPropPage> kinds[] = {{nkGroup, ppFolder},
                                                   {nkVideo, ppMovie},
                                                   {nkWarp, ppMovie},
                                                   {nkAudio, ppMovie},
                                                   {nkMusic, ppMovie},
                                                   {nkFilter, ppCommon},
                                                   {nkTransition, ppTransitions},
                                                   {nkBlank, ppBlank},
                                                   {nkClip, ppBitmapClip},
                                                   {nkSubProject, ppSubProject},
                                                   {nkOverlay, ppNoneFalse}};
    EXPECT_EQ(PropPageOf(&root, &root), ppProject);
    EXPECT_EQ(PropPageOf(track, &root), ppFolder);
    for (const auto& [kind, page] : kinds)
        EXPECT_EQ(PropPageOf(track->AddNode("n", amLastChild, kind), &root), page) << int(kind);

    TTempDir dir;
    const std::string a = dir.File("a.mpr");
    const std::string link = dir.Path + "/link.mpr";
    std::filesystem::create_symlink(a, link);
    EXPECT_TRUE(SameFile(a, link));
    EXPECT_TRUE(SameFile(a, dir.Path + "/./sub/../a.mpr "));
    EXPECT_FALSE(SameFile(a, dir.File("b.mpr")));
    EXPECT_FALSE(SameFile(a, ""));
}

// In the real window: the project page refuses a too small width and keeps the dialog open;
// Cancel then sets back the sound flag and the compressor it changed at once.
TEST(PropDlgWindow, ProjectPageRefusesThenCancelRestores) {
    TFakeUiServices ui;
    TMainForm form(&ui);
    form.show();
    TProjectNode* root = form.GetProject();
    const bool audio = root->AudioOn;
    const uint32_t fourCC = root->GetAviCompress().GetFourCC();
    const int32_t width = root->Width;
    int runs = 0;
    TPropDlg::ExecHook = [&](TPropDlg& dlg) {
        ++runs;
        EXPECT_EQ(dlg.GetPage(), ppProject);
        EXPECT_EQ(dlg.eProjWidth->text(), "320");
        EXPECT_EQ(dlg.cbSampling->currentText(), "22050");
        EXPECT_TRUE(dlg.gbSound->isVisibleTo(&dlg));
        dlg.cbExportSound->click();
        EXPECT_EQ(root->AudioOn, !audio);
        if (dlg.cbVidComp->count() > 1) {
            dlg.cbVidComp->setCurrentIndex(1);
            EXPECT_NE(root->GetAviCompress().GetFourCC(), fourCC);
        }
        dlg.eProjWidth->setText("49");
        dlg.PressOK();
        EXPECT_TRUE(dlg.isVisible());
        dlg.eProjWidth->setText("");
        dlg.PressOK();
        EXPECT_TRUE(dlg.isVisible());
        dlg.PressCancel();
        return dlg.result();
    };
    form.TreeView1->setCurrentItem(form.TreeView1->topLevelItem(0));
    EXPECT_FALSE(form.EditNodeProperties(true));
    TPropDlg::ExecHook = nullptr;
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ui.Messages, (std::vector<std::string>{"Width is too small", "Width is too small"}));
    EXPECT_EQ(root->AudioOn, audio);
    EXPECT_EQ(root->GetAviCompress().GetFourCC(), fourCC);
    EXPECT_EQ(root->Width, width);
}

// What a page changes at once while it is open comes back on Cancel.
TEST(PropChecks, UndoSetsBackFilesClipAndProject) {
    TMemTree tree;
    TFakeUiServices ui;
    TProjectNode root("Project", tree.AddRoot("Project"));
    root.Ui = &ui;
    TTempDir dir;
    std::filesystem::create_directory(dir.Path + "/a");
    auto* clip = static_cast<TClipNode*>(root.VideoTrack->AddNode("c", amLastChild, nkClip));
    clip->SetFolder(dir.Path + "/a");
    clip->SetSourceFrameRate(5);
    TPropUndo clipUndo;
    clipUndo.Keep(clip, &root, ppBitmapClip);
    clip->SetFolder(dir.Path);
    clip->SetSourceFrameRate(12.5L);
    clipUndo.Restore(clip, &root);
    EXPECT_EQ(clip->Folder, dir.Path + "/a");
    EXPECT_EQ(clip->ClipRate, 5.0L);

    TTreeNodeData* overlay = root.VideoTrack->AddNode("o", amLastChild, nkOverlay);
    TPropUndo fileUndo;
    fileUndo.Keep(overlay, &root, ppExternalBitmap);
    overlay->SetFileName(dir.File("x.bmp"));
    fileUndo.Restore(overlay, &root);
    EXPECT_EQ(overlay->FileName, "");

    TAviCompress& compress = root.GetAviCompress();
    std::vector<TCompressorListItem> list;
    compress.FillCompressorList(list);
    ASSERT_GE(list.size(), 2u);
    TPropUndo projectUndo;
    projectUndo.Keep(&root, &root, ppProject);
    root.AudioOn = !root.AudioOn;
    compress.SelectCompressor(list[1].Object->Handler);
    projectUndo.Restore(&root, &root);
    EXPECT_EQ(compress.GetFourCC(), 0u);
    EXPECT_TRUE(root.AudioOn);
}
