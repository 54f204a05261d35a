// The property dialog's checks, texts, sound format and undo, and its project page in the real
// main window.
#include "MyPropDlg.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <sstream>

#include "DialogRig.h"
#include "MyAVICompress.h"
#include "MyClipNode.h"
#include "PictureFixtures.h"

TEST(PropChecks, EditsAndTexts) {
    const std::pair<const char*, const char*> digits[] = {
        {"12a3", "123"}, {"", ""},   {"abc", ""},
        {"007", "7"},    {"0", "0"}, {"1234567890123", "123456789"}};
    for (const auto& [in, out] : digits)
        EXPECT_EQ(DigitsOnly(in), out) << in;
    EXPECT_EQ(CaptionFromLabel("  Intro  ", "x"), "Intro");
    EXPECT_EQ(CaptionFromLabel(" ", ""), ":<No label>");
    EXPECT_EQ(CaptionFromLabel("", "Zoom filter"), "Zoom filter:<No label>");
    EXPECT_EQ(SecondsToMs(MsToSeconds(2501)), 2501);
    EXPECT_EQ(ValidateDurationMs(1).value_or("") + "|" + ValidateDurationMs(2).value_or(""),
              "Duration is too small|");
    EXPECT_EQ(ValidateClip(0, "/pics"), "Can not find suitable bitmaps in /pics");
    EXPECT_EQ(ValidateFileExists("/no/such.avi"), "Can not find file /no/such.avi");
    // No name is a file that can not be found, told in the same words.
    EXPECT_EQ(ValidateFileExists(""), "Can not find file ");
    EXPECT_EQ(ValidateFileExists(" "), "Can not find file  ");
}

TEST(PropChecks, SamplingListKeepsTheProjectRate) {
    const std::vector<uint32_t> common = {48000, 44100, 22050, 11025};
    const std::tuple<uint32_t, std::vector<uint32_t>, int> cases[] = {
        {44100, common, 1},
        {0, common, 1},
        {32000, {48000, 44100, 32000, 22050, 11025}, 2},
        {96000, {96000, 48000, 44100, 22050, 11025}, 0},
        {8000, {48000, 44100, 22050, 11025, 8000}, 4}};
    for (const auto& [rate, list, index] : cases) {
        EXPECT_EQ(SamplingRates(rate), list) << rate;
        EXPECT_EQ(SamplingIndex(SamplingRates(rate), rate), index) << rate;
    }
}

TEST(PropChecks, SoundFormatWrittenBack) {
    // Mode, rate, stereo, bits index -> tag, channels, bits, align, rate, bytes a second.
    const std::tuple<int64_t, uint32_t, bool, int, std::string> cases[] = {
        {1, 22050, true, 1, "1 2 16 4 22050 88200"},
        {1, 11025, false, 0, "1 1 8 1 11025 11025"},
        {1, 32000, true, 0, "1 2 8 2 32000 64000"},
        // Any compressed mode keeps PCM 44100 Hz stereo 16-bit, whatever the list shows.
        {0x55, 11025, false, 0, "1 2 16 4 44100 176400"}};
    for (const auto& [mode, rate, stereo, bits, want] : cases) {
        TAudioFormat f;
        std::memset(&f, 0xAB, sizeof f);
        ProjectAudioFormat(mode, rate, stereo, bits, f);
        const auto& w = f.Wfx;
        std::ostringstream got;
        got << w.wFormatTag << " " << w.nChannels << " " << w.wBitsPerSample << " " << w.nBlockAlign
            << " " << w.nSamplesPerSec << " " << w.nAvgBytesPerSec;
        EXPECT_EQ(got.str(), want);
        EXPECT_TRUE(mode != 1 || w.cbSize == 0);
    }
}

TEST(PropChecks, PagesAndSameFile) {
    TDialogProject p;
    TTreeNodeData* track = p.Root->VideoTrack;
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
    EXPECT_EQ(PropPageOf(p.Root.get(), p.Root.get()), ppProject);
    EXPECT_EQ(PropPageOf(track, p.Root.get()), ppFolder);
    for (const auto& [kind, page] : kinds)
        EXPECT_EQ(PropPageOf(track->AddNode("n", amLastChild, kind), p.Root.get()), page)
            << int(kind);

    const std::string a = p.Dir.File("a.mpr"), link = p.File("link.mpr");
    std::filesystem::create_symlink(a, link);
    EXPECT_TRUE(SameFile(a, link));
    EXPECT_TRUE(SameFile(a, p.Dir.Path + "/./sub/../a.mpr "));
    EXPECT_FALSE(SameFile(a, p.Dir.File("b.mpr")));
    EXPECT_FALSE(SameFile(a, ""));
}

// What a page changes at once while it is open comes back on Cancel.
TEST(PropChecks, UndoSetsBackFilesClipAndProject) {
    TDialogProject p;
    std::filesystem::create_directory(p.File("a"));
    auto* clip = static_cast<TClipNode*>(p.Root->VideoTrack->AddNode("c", amLastChild, nkClip));
    clip->SetFolder(p.File("a"));
    clip->SetSourceFrameRate(5);
    TPropUndo clipUndo;
    clipUndo.Keep(clip, p.Root.get(), ppBitmapClip);
    clip->SetFolder(p.Dir.Path);
    clip->SetSourceFrameRate(12.5L);
    clipUndo.Restore(clip, p.Root.get());
    EXPECT_EQ(clip->Folder, p.File("a"));
    EXPECT_EQ(clip->ClipRate, 5.0L);

    TTreeNodeData* overlay = p.Root->VideoTrack->AddNode("o", amLastChild, nkOverlay);
    TPropUndo fileUndo;
    fileUndo.Keep(overlay, p.Root.get(), ppExternalBitmap);
    overlay->SetFileName(p.Dir.File("x.bmp"));
    fileUndo.Restore(overlay, p.Root.get());
    EXPECT_EQ(overlay->FileName, "");
}

// In the real window: the project page refuses a too small width and keeps the dialog open;
// Cancel then sets back the sound flag and the compressor it changed at once.
class PropDlgWindow : public TMainRig {};

TEST_F(PropDlgWindow, ProjectPageRefusesThenCancelRestores) {
    const bool audio = Root->AudioOn;
    const uint32_t fourCC = Root->GetAviCompress().GetFourCC();
    const int32_t width = Root->Width;
    int runs = 0;
    auto reset = ResetHooks(TPropDlg::ExecHook);
    TPropDlg::ExecHook = [&](TPropDlg& dlg) {
        ++runs;
        EXPECT_EQ(dlg.GetPage(), ppProject);
        EXPECT_EQ(dlg.eProjWidth->text(), "320");
        EXPECT_EQ((dlg.cbSampling->currentText() + dlg.cbBits->currentText()).toStdString(),
                  "2205016 bit");
        EXPECT_TRUE(dlg.gbSound->isVisibleTo(&dlg));
        dlg.cbExportSound->click();
        EXPECT_EQ(Root->AudioOn, !audio);
        // Only the sound settings follow the box; the codec stays to choose.
        EXPECT_EQ(dlg.gbSound->isEnabled(), !audio);
        EXPECT_TRUE(dlg.cbAudioCodec->isEnabled());
        EXPECT_GT(dlg.cbVidComp->count(), 1);
        dlg.cbVidComp->setCurrentIndex(1);
        EXPECT_NE(Root->GetAviCompress().GetFourCC(), fourCC);
        for (const char* w : {"49", ""}) {
            dlg.eProjWidth->setText(w);
            dlg.PressOK();
            EXPECT_TRUE(dlg.isVisible());
        }
        // The window's close button checks the page as OK does; Cancel does not.
        dlg.close();
        EXPECT_TRUE(dlg.isVisible());
        dlg.PressCancel();
        return dlg.result();
    };
    Form->TreeView1->setCurrentItem(Form->TreeView1->topLevelItem(0));
    EXPECT_FALSE(Form->EditNodeProperties(true));
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(Ui.Messages, std::vector<std::string>(3, "Width is too small"));
    EXPECT_EQ(Root->AudioOn, audio);
    EXPECT_EQ(Root->GetAviCompress().GetFourCC(), fourCC);
    EXPECT_EQ(Root->Width, width);
    TPropDlg none(&Ui, Form.get()); // nothing chosen: nothing to edit, nothing shown
    EXPECT_FALSE(none.Execute(nullptr, Root));
    EXPECT_EQ(runs, 1);
}

// A sub-project may be neither the open project nor a file that holds it: both are refused when
// chosen, and a name typed into the edit is refused on OK.
TEST(PropChecks, SubProjectThatHoldsTheProjectIsRefused) {
    TDialogProject p;
    const std::string self = p.File("self.mpr"), holder = p.File("holder.mpr");
    const std::string plain = p.File("plain.mpr");
    ASSERT_TRUE(p.Root->SaveToFile(plain));
    p.Root->AddNode("Sub", amLastChild, nkSubProject)->SetFileName(self);
    ASSERT_TRUE(p.Root->SaveToFile(holder));
    p.Root->New();
    ASSERT_TRUE(p.Root->SaveToFile(self));
    EXPECT_EQ(ValidateSubProject(self, self),
              "File " + self + " is the main project that you are working on!");
    EXPECT_EQ(ValidateSubProject(holder, self),
              "File " + holder + " contains the main project that you are working on!");
    EXPECT_EQ(ValidateSubProject(plain, self), std::nullopt);
    EXPECT_EQ(ValidateSubProject(p.File("none.mpr"), self),
              "Can not find file " + p.File("none.mpr"));

    TTreeNodeData* sub = p.Root->AddNode("Sub", amLastChild, nkSubProject);
    TPropDlg dlg(&p.Ui);
    auto reset = ResetHooks(TPropDlg::ExecHook);
    int runs = 0;
    TPropDlg::ExecHook = [&](TPropDlg& d) {
        ++runs;
        p.Ui.FileAnswers = {holder};
        d.bSubSet->click();
        EXPECT_EQ(d.eSubFile->text(), "");
        d.eSubFile->setText(QString::fromStdString(holder));
        d.PressOK();
        EXPECT_TRUE(d.isVisible());
        p.Ui.FileAnswers = {plain};
        d.bSubSet->click();
        d.PressOK();
        return d.result();
    };
    EXPECT_TRUE(dlg.Execute(sub, p.Root.get()));
    EXPECT_EQ(runs, 1);
    const std::string refusal =
        "File " + holder + " contains the main project that you are working on!";
    EXPECT_EQ(p.Ui.Messages, (std::vector<std::string>{refusal, refusal}));
    EXPECT_EQ(sub->FileName, plain);
    EXPECT_EQ(sub->GetChildCount(), 1); // the plain file's video track
}

// The picture rate must be one the clip can play; the memo tells no size while there is no
// picture to take it from.
TEST(PropChecks, ClipRateBoundsAndMemo) {
    const std::pair<const char*, const char*> rates[] = {
        {"0", "Picture per second is too low"},
        {"", "Picture per second is too low"},
        {".", "Picture per second is too low"},
        {"0.01", ""},
        {"1000", ""},
        {"1000.01", "Picture per second is too high"},
        {"100000000000000000000", "Picture per second is too high"}};
    for (const auto& [rate, want] : rates)
        EXPECT_EQ(ValidateClipRate(rate).value_or(""), want) << rate;

    TDialogProject p;
    std::filesystem::create_directory(p.File("pics"));
    auto* clip = static_cast<TClipNode*>(p.Root->VideoTrack->AddNode("c", amLastChild, nkClip));
    clip->SetFolder(p.File("pics"));
    std::vector<std::string> memo = ClipMemoLines(*clip);
    EXPECT_EQ(memo.at(1) + "|" + memo.at(2) + "|" + memo.at(4),
              "Width:|Height:|Number of picture:0");
    EXPECT_NE(memo.back().find(" (as minimum length)"), std::string::npos);
    TBmpSpec bmp;
    bmp.Width = 64;
    bmp.Height = 48;
    SaveBytes(p.File("pics/a.bmp"), BuildBmp(bmp));
    clip->SetFolder(p.File("pics"));
    memo = ClipMemoLines(*clip);
    EXPECT_EQ(memo.at(1) + "|" + memo.at(2) + "|" + memo.at(4),
              "Width:64|Height:48|Number of picture:1");

    // In the dialog a rate of 0 or one too high keeps it open; a good one is stored.
    TPropDlg dlg(&p.Ui);
    auto reset = ResetHooks(TPropDlg::ExecHook);
    TPropDlg::ExecHook = [&](TPropDlg& d) {
        for (const char* bad : {"0", "5000"}) {
            d.eClipRate->setText(bad);
            d.PressOK();
            EXPECT_TRUE(d.isVisible()) << bad;
        }
        d.eClipRate->setText("12.5");
        d.PressOK();
        return d.result();
    };
    EXPECT_TRUE(dlg.Execute(clip, p.Root.get()));
    EXPECT_EQ(p.Ui.Messages, (std::vector<std::string>{"Picture per second is too low",
                                                       "Picture per second is too high"}));
    EXPECT_EQ(clip->ClipRate, 12.5L);
}

// A folder typed into the clip's edit is the one whose pictures are counted: one without
// pictures is refused by its own name, one with pictures is taken; Cancel gives back the old.
TEST(PropChecks, TypedClipFolderIsTheOneCounted) {
    TDialogProject p;
    std::filesystem::create_directory(p.File("pics"));
    std::filesystem::create_directory(p.File("empty"));
    TBmpSpec bmp;
    bmp.Width = 32;
    bmp.Height = 24;
    SaveBytes(p.File("pics/a.bmp"), BuildBmp(bmp));
    SaveBytes(p.File("pics/b.bmp"), BuildBmp(bmp));
    auto* clip = static_cast<TClipNode*>(p.Root->VideoTrack->AddNode("c", amLastChild, nkClip));
    clip->SetFolder(p.File("empty"));
    TPropDlg dlg(&p.Ui);
    auto reset = ResetHooks(TPropDlg::ExecHook);
    std::string memo;
    TPropDlg::ExecHook = [&](TPropDlg& d) {
        d.eClipFolder->setText(QString::fromStdString(p.File("missing")));
        d.PressOK();
        EXPECT_TRUE(d.isVisible());
        d.PressCancel();
        return d.result();
    };
    EXPECT_FALSE(dlg.Execute(clip, p.Root.get()));
    EXPECT_EQ(clip->Folder, p.File("empty"));
    TPropDlg::ExecHook = [&](TPropDlg& d) {
        d.eClipFolder->setText(QString::fromStdString(p.File("empty") + "/"));
        d.PressOK();
        EXPECT_TRUE(d.isVisible());
        d.eClipFolder->setText(QString::fromStdString(p.File("pics")));
        d.PressOK();
        memo = d.mClipInfo->toPlainText().toStdString();
        return d.result();
    };
    EXPECT_TRUE(dlg.Execute(clip, p.Root.get()));
    const std::string refused = "Can not find suitable bitmaps in ";
    EXPECT_EQ(p.Ui.Messages, (std::vector<std::string>{refused + p.File("missing"),
                                                       refused + p.File("empty") + "/"}));
    EXPECT_EQ(clip->Folder, p.File("pics"));
    EXPECT_EQ(clip->GetPictureCount(), 2);
    EXPECT_NE(memo.find("Number of picture:2"), std::string::npos);
}
