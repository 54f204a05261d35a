#include "MyProjNode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "ModelRig.h"
#include "MyCommonServices.h"
#include "TempFolders.h"
#include "TestData.h"

namespace {

struct Fixture : TModelRig {
    TTreeNodeData* AddBlank(Extended seconds) {
        TTreeNodeData* b = Blank(Root->VideoTrack, seconds);
        Root->Refresh();
        return b;
    }
};

} // namespace

TEST(ProjectRoot, NewKeepsTheChosenCompressor) {
    Fixture f;
    TProjectNode& r = *f.Root;
    EXPECT_EQ(r.VideoTrack->GetCaption(), "Video track");
    EXPECT_EQ(r.CompressorName, "Uncompressed 24bits DIB");
    EXPECT_EQ(r.GetOutputBitmap()->Width(), 320);
    EXPECT_FALSE(r.IsModified()); // nothing in it
    r.VideoFourCC = 0x64697678;
    r.AddNode("x", amLastChild, nkGroup);
    r.New();
    EXPECT_EQ(r.VideoFourCC, 0x64697678u);
    EXPECT_EQ(r.GetChildCount(), 1);
}

TEST(ProjectRoot, ModifiedComparesWithTheFileAndOpenRestoresIt) {
    TTempDir dir;
    Fixture f;
    TTreeNodeData* b = f.AddBlank(3);
    f.Root->SetVideoFormat(640, 480, 25);
    EXPECT_TRUE(f.Root->IsModified()); // no file yet
    const std::string name = dir.Path + "/p.mpr";
    ASSERT_TRUE(f.Root->SaveToFile(name));
    EXPECT_FALSE(f.Root->IsModified());
    b->Curves->GetItem(1)->GetPoint(0)->SetLevel(0.5L);
    EXPECT_TRUE(f.Root->IsModified());
    ASSERT_TRUE(f.Root->Save());
    EXPECT_FALSE(f.Root->IsModified());

    Fixture g;
    ASSERT_TRUE(g.Root->LoadFromFile(name));
    EXPECT_EQ(g.Root->FileName, name);
    EXPECT_TRUE(g.Root->VideoFormatFixed);
    EXPECT_EQ(g.Root->GetFrameCount(), 75);
    EXPECT_EQ(g.Root->GetOutputBitmap()->Width(), 640);
    EXPECT_FALSE(g.Root->IsModified());
    std::filesystem::remove(name);
    EXPECT_TRUE(f.Root->IsModified());
}

// The message gives the system's reason; root may write anywhere, so the failures are made by
// the paths themselves.
TEST(ProjectRoot, FailedSaveKeepsThePreviousFileAndSaysWhy) {
    TTempDir dir;
    const std::string name = dir.Path + "/p.mpr";
    std::ofstream(name) << "previous";
    Fixture f;
    f.AddBlank(1);
    // A folder of the temporary file's name makes the write fail.
    std::filesystem::create_directory(name + ".~sav");
    EXPECT_FALSE(f.Root->SaveToFile(name));
    // A file where a folder should be.
    EXPECT_FALSE(f.Root->SaveToFile(name + "/x.mpr"));
    EXPECT_EQ(f.Ui.Messages,
              (std::vector<std::string>{"Can not save " + name + " (Is a directory)",
                                        "Can not save " + name + "/x.mpr (Not a directory)"}));
    std::ifstream in(name);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "previous");
    EXPECT_FALSE(f.Root->SaveToFile(""));
}

TEST(ProjectRoot, VideoFormatTakesOnlyWhatTheFileCanHold) {
    const int32_t Max = TProjectNode::MaxFrameSide;
    const struct {
        int32_t W, H;
        Extended Rate;
        bool Taken;
    } cases[] = {{640, 480, 0, false},
                 {Max + 1, 480, 25, false},
                 {640, Max + 1, 25, false},
                 {640, 480, 1e9L, false},
                 {-640, 480, 25, false},
                 {640, 480, 25, true},
                 {Max, 2, TProjectNode::MaxFrameRate, true},
                 {640, 480, 0.5L, true}};
    for (const auto& c : cases) {
        Fixture f;
        f.Root->SetVideoFormat(c.W, c.H, c.Rate);
        EXPECT_EQ(f.Root->VideoFormatFixed, c.Taken) << c.W << "x" << c.H << "@" << double(c.Rate);
        EXPECT_EQ(f.Root->GetOutputBitmap()->Width(), c.Taken ? c.W : 320);
        EXPECT_EQ(f.Root->GetOutputBitmap()->Height(), c.Taken ? c.H : 240);
        EXPECT_EQ(f.Root->FrameRate, c.Taken ? c.Rate : 15);
    }
    Fixture f;
    {
        TAddOnPreviewScope preview;
        EXPECT_EQ(f.Root->GetFPS(), 1.0L);
    }
    EXPECT_EQ(f.Root->GetFPS(), 15.0L);
}

TEST(ProjectRoot, ActiveNode) {
    Fixture f;
    TTreeNodeData* a = f.AddBlank(1);
    TTreeNodeData* b = f.AddBlank(1);
    std::vector<TTreeNodeData*> fired;
    f.Root->OnActiveNode = [&fired](TTreeNodeData* n) { fired.push_back(n); };
    f.Root->SetActiveNode(a);
    f.Root->SetActiveNode(b);
    EXPECT_FALSE(a->Active);
    EXPECT_EQ(f.Root->GetActiveNode(), b);
    f.Root->SetActiveNode(f.Root->VideoTrack); // the track is never reported active
    EXPECT_EQ(f.Root->GetActiveNode(), nullptr);
    f.Root->SetActiveNode(nullptr);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_EQ(fired.back(), nullptr);
    f.Root->SetActiveNode(b);
    f.Root->DeleteNode(b->Item);
    EXPECT_EQ(f.Root->GetActiveNode(), nullptr);
}

TEST(ProjectRoot, PreviewRendersTheLastInstantPastTheEnd) {
    Fixture f;
    f.AddBlank(2);
    f.Root->SetBackgroundColor(0x0000FF);
    TBitmap view(64, 48);
    std::vector<TFrameReport> reports;
    ASSERT_TRUE(f.Root->RenderPreview(99, view.Canvas(), Rect(0, 0, 64, 48),
                                      [&reports](TFrameReport& r) { reports.push_back(r); }));
    EXPECT_EQ(f.Root->CurrentTime, 2.0L);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Frame, 99);
    EXPECT_TRUE(reports[0].Preview);
    // Nothing painted over the background: the preview shows it.
    EXPECT_EQ(std::vector<uint8_t>(view.ScanLine(10) + 30, view.ScanLine(10) + 33),
              HexBytes("0000ff"));
    f.Root->FrameRate = 1; // slow, but a rate
    EXPECT_TRUE(f.Root->RenderPreview(0, view.Canvas(), Rect(0, 0, 64, 48), nullptr));
    f.Root->FrameRate = 0;
    EXPECT_FALSE(f.Root->RenderPreview(0, view.Canvas(), Rect(0, 0, 64, 48), nullptr));
}

TEST(ProjectRoot, StopSetsAbortAndAnswersIdle) {
    Fixture f;
    EXPECT_TRUE(f.Root->Stop());
    EXPECT_TRUE(f.Root->Abort);
    f.Root->Busy = true;
    EXPECT_FALSE(f.Root->Stop());
    f.Root->Busy = false;
    EXPECT_EQ(f.Ui.PumpCount, 0);
}
