// Project files: exact header bytes, round trips of every node kind, and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ModelRig.h"
#include "MyClipNode.h"
#include "MyCommonServices.h"
#include "MyMovieNode.h"
#include "MyValueStream.h"
#include "MyWarpNode.h"
#include "TempFolders.h"
#include "TestData.h"

namespace {

struct Project : TModelRig {
    Project() : TModelRig(true) {}
    void Refresh() {
        Relayout();
        Root->ResolvePendingPegs();
    }
    bool Load(const std::vector<uint8_t>& bytes) {
        bool ok = Root->LoadFromStream(bytes);
        if (ok)
            Refresh();
        return ok;
    }
};

// One node of every kind, with curves, pegs, stop points and texts worth keeping.
void BuildRichProject(Project& p) {
    TProjectNode& root = *p.Root;
    root.FrameRate = 29.97L;
    root.Width = 640;
    root.Height = 480;
    root.VideoFourCC = 0x64697678; // "xvid"
    root.CompressorName = "MPEG-4";
    root.WMProfile = "{A9D4AD65-3E4D-4AE7-B3B1-2F5D1E5B4C8E}";
    TTreeNodeData* track = root.AddNode("Video track", amLastChild, nkVideoTrack);
    TTreeNodeData* blank = track->AddNode("Noir – début", amLastChild, nkBlank);
    static_cast<TBlankNode*>(blank)->BlankColor = 0x123456;
    blank->UserDuration = 3;
    blank->Description = {"first line", "zweite Zeile ü"};
    track->AddNode("Fade", amLastChild, nkTransition);
    auto* clip = static_cast<TClipNode*>(track->AddNode("Pictures", amLastChild, nkClip));
    clip->Folder = "/tmp/pictures/";
    clip->ClipRate = 12.5L;
    clip->UserDuration = 4;
    TTreeNodeData* movie = track->AddNode("Movie", amLastChild, nkVideo);
    static_cast<TMovieNode*>(movie)->UseAudio = false;
    static_cast<TCustomDurableNode*>(movie)->ClipRange.FromStart = false;
    static_cast<TCustomDurableNode*>(movie)->ClipRange.InTime = 1.25L;
    track->AddNode("Warp", amLastChild, nkWarp);
    TTreeNodeData* group = track->AddNode("Group", amLastChild, nkGroup);
    group->Sealed = true;
    group->AddNode("Inner", amLastChild, nkBlank)->Enabled = false;
    TTreeNodeData* filter = blank->AddNode("Filter", amLastChild, nkFilter);
    filter->SetOffset(0.5L);
    blank->AddNode("Overlay", amLastChild, nkOverlay)->PositionLocked = true;
    root.AddNode("Sound", amLastChild, nkAudio);
    root.AddNode("Music", amLastChild, nkMusic);
    root.AddNode("Sub", amLastChild, nkSubProject);

    TTimeData* pos = blank->Curves->Register(ckPosition, "");
    pos->GetPoint(0)->SetPosition(0.25L, -0.5L);
    pos->AddNew(1.5L)->SetPosition(5.0L, -5.0L);
    TTimeData* text = blank->Curves->Register(ckText, "");
    text->GetPoint(0)->Lines = {"Hello", "Grüße"};
    text->GetPoint(0)->Font.Name = "DejaVu Sans";
    text->GetPoint(0)->Font.Style = fsBold | fsItalic;
    TDataPoint* hidden = text->AddNew(2.0L);
    hidden->Visible = false;
    p.Refresh();
    blank->Pegs->AddPoint(1.0L);
    blank->Pegs->AddPoint(2.5L);
    root.Pegs->AddPoint(0.5L);
}

} // namespace

TEST(ProjectFile, HeaderBytes) {
    // Signature, format version 2004002, program version, root record of kind 1.
    const auto head = HexBytes("06064272656e6d6f 0422941e00 060431 2e3534 060101");
    const auto bytes = Project().Save();
    ASSERT_GE(bytes.size(), head.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + head.size()), head);
}

TEST(ProjectFile, EveryKindRoundTripsToIdenticalBytes) {
    Project a;
    BuildRichProject(a);
    auto first = a.Save();
    Project b;
    ASSERT_TRUE(b.Load(first));
    auto second = b.Save();
    EXPECT_EQ(first, second);
    // And the tree really came back.
    TTreeNodeData* track = b.Root->GetChild(0);
    ASSERT_EQ(track->GetChildCount(), 6);
    TTreeNodeData* blank = track->GetChild(0);
    EXPECT_EQ(blank->GetCaption(), "Noir – début");
    EXPECT_EQ(blank->Pegs->GetCount(), 2);
    EXPECT_EQ(b.Root->AudioFormat.Wfx.nAvgBytesPerSec, 88200u);
    TTimeData* text = blank->Curves->FindByKey("{1C6F9671-3846-47BA-910F-DA139BB9BBCC}");
    ASSERT_EQ(text->GetCount(), 2);
    EXPECT_EQ(text->GetPoint(0)->Lines[1], "Grüße");
    EXPECT_FALSE(text->GetPoint(1)->Visible);
    EXPECT_TRUE(track->GetChild(5)->Sealed);
    EXPECT_FALSE(track->GetChild(5)->GetChild(0)->Enabled);
}

TEST(ProjectFile, PegOfALateNodeSurvivesRepeatedSaves) {
    Project p;
    TTreeNodeData* track = p.Add(p.Root.get(), nkVideoTrack, "Video track");
    p.Blank(track, 10);
    TTreeNodeData* late = p.Blank(track, 5);
    p.Refresh();
    late->Pegs->AddPoint(12.0L);
    auto bytes = p.Save();
    for (int cycle = 0; cycle < 3; ++cycle) {
        Project q;
        ASSERT_TRUE(q.Load(bytes));
        TStopPoint* peg = q.Root->GetChild(0)->GetChild(1)->Pegs->GetItem(0);
        EXPECT_EQ(peg->GetTime(), 12.0L);
        EXPECT_EQ(peg->PegOffset, 2.0L);
        bytes = q.Save();
    }
}

TEST(ProjectFile, RefusesOtherFilesAndNewerVersions) {
    Project p;
    // A wrong signature is said, and reading goes on: another kind of file then fails to read,
    // a project that only lost its signature opens.
    EXPECT_THROW(p.Root->LoadFromStream(HexBytes("0603414243")), EReadError);
    ASSERT_EQ(p.Ui.Messages.size(), 1u);
    EXPECT_EQ(p.Ui.Messages[0], "File format is unknown");
    {
        Project a;
        BuildRichProject(a);
        std::vector<uint8_t> bytes = a.Save();
        ASSERT_EQ(bytes[2], 'B');
        bytes[2] = 'b';
        Project b;
        EXPECT_TRUE(b.Root->LoadFromStream(bytes));
        EXPECT_EQ(b.Ui.Messages, std::vector<std::string>{"File format is unknown"});
        EXPECT_EQ(b.Root->GetChildCount(), a.Root->GetChildCount());
    }

    std::vector<uint8_t> newer;
    TValueWriter w(newer);
    w.WriteString("Brenmo");
    w.WriteInteger(2004003);
    w.WriteString("2.0");
    w.WriteChar(1);
    EXPECT_FALSE(p.Root->LoadFromStream(newer));
    ASSERT_EQ(p.Ui.Messages.size(), 2u);
    EXPECT_EQ(p.Ui.Messages[1], "You need to get the newer version of this program to read this "
                                "file. \nThe program version should be at least 2.0");
    EXPECT_EQ(p.Root->GetChildCount(), 0);
}

TEST(ProjectFile, TruncationAtEveryOffsetFailsCleanly) {
    Project a;
    BuildRichProject(a);
    auto bytes = a.Save();
    for (size_t n = 0; n < bytes.size(); ++n) {
        Project b;
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
        bool ok = true;
        try {
            ok = b.Root->LoadFromStream(cut);
        } catch (const Exception&) {
            ok = false;
        }
        EXPECT_FALSE(ok) << "at " << n;
        EXPECT_EQ(b.Root->GetChildCount(), 0) << "at " << n;
    }
}

TEST(ProjectFile, RootFieldsAreChecked) {
    // A rate that is not a number is never written; a rate of 0 is a valid (if idle) project.
    Project inf;
    inf.Root->FrameRate = std::numeric_limits<Extended>::infinity();
    EXPECT_THROW(inf.Save(), EWriteError);
    Project zero;
    zero.Root->FrameRate = 0;
    Project back;
    EXPECT_TRUE(back.Root->LoadFromStream(zero.Save()));
    EXPECT_EQ(back.Root->FrameRate, 0);
}

namespace {

// A project with one child listed as black frames whose record says it is a movie, up to that
// record's kind: header, root record ("{root}", offset, times, flags, no description).
const char* const KindMismatch = "06064272656e6d6f 0422941e00 0604312e3534 060101 06067b726f6f747d "
                                 "05 00000000000000000000 09 05 00000000000000000000 09 08 08 "
                                 "0200 0201 060109 06056368696c64 060104";

template <typename F> std::vector<uint8_t> Encoded(F write) {
    std::vector<uint8_t> out;
    TValueWriter w(out);
    write(w);
    return out;
}
std::vector<uint8_t> Int(int32_t v) {
    return Encoded([v](TValueWriter& w) { w.WriteInteger(v); });
}
std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A file damaged in one value, and where that value starts.
struct TDamaged {
    std::vector<uint8_t> Bytes;
    size_t Offset = 0;
};

// Replaces the first encoding of `from` at or after `start` with `to`.
TDamaged Damage(std::vector<uint8_t> bytes, const std::vector<uint8_t>& from,
                const std::vector<uint8_t>& to, size_t start = 0) {
    auto at = std::search(bytes.begin() + static_cast<ptrdiff_t>(start), bytes.end(), from.begin(),
                          from.end());
    EXPECT_NE(at, bytes.end());
    const size_t offset = static_cast<size_t>(at - bytes.begin());
    bytes.erase(at, at + static_cast<ptrdiff_t>(from.size()));
    bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(offset), to.begin(), to.end());
    return {bytes, offset};
}

// Where `value` is first encoded at or after `start`, and the offset just past it.
size_t After(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& value, size_t start) {
    auto at = std::search(bytes.begin() + static_cast<ptrdiff_t>(start), bytes.end(), value.begin(),
                          value.end());
    return static_cast<size_t>(at - bytes.begin()) + value.size();
}

} // namespace

TEST(ProjectFile, EveryDamagedValueIsReportedWithFileAndOffset) {
    // Checked root fields, each found by searching on from the one before it.
    Project p;
    p.Root->FrameRate = 12.5L;
    p.Root->Width = 3210;
    p.Root->Height = 1234;
    p.Root->AudioFormat.Wfx.wFormatTag = 0x0ABC;
    p.Root->AudioFormat.Wfx.nChannels = 2;
    p.Root->AudioFormat.Wfx.nSamplesPerSec = 44100;
    p.Root->AudioFormat.Wfx.wBitsPerSample = 16;
    p.Root->Description = {"count me"};
    const auto good = p.Save();
    const auto fps = Encoded([](TValueWriter& w) { w.WriteFloat(12.5L); });
    const size_t afterFps = After(good, fps, 0);
    const size_t afterWidth = After(good, Int(3210), afterFps);
    const size_t afterTag = After(good, Int(0x0ABC), afterWidth);
    const size_t afterChannels = After(good, Int(2), afterTag);
    const auto rate = Encoded([](TValueWriter& w) { w.WriteInteger64(44100); });
    const size_t afterRate = After(good, rate, afterChannels);
    const auto text = Encoded([](TValueWriter& w) { w.WriteString("count me"); });
    // A float whose exponent is all ones: not a number.
    const std::vector<uint8_t> nan = {0x05, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x7F};

    TDamaged deep;
    {
        Project d;
        TTreeNodeData* n = d.Root.get();
        for (int level = 1; level <= MaxNodeDepth + 2; ++level)
            n = n->AddNode("level-" + std::to_string(level), amLastChild, nkGroup);
        const auto bytes = d.Save();
        const auto caption = Encoded(
            [](TValueWriter& w) { w.WriteString("level-" + std::to_string(MaxNodeDepth + 1)); });
        deep = {bytes, After(bytes, caption, 0)};
    }
    const auto kinds = HexBytes(KindMismatch);

    const struct {
        TDamaged File;
        const char* Message;
    } cases[] = {
        {Damage(good, fps, Encoded([](TValueWriter& w) { w.WriteFloat(-12.5L); })),
         "Invalid frame rate"},
        {Damage(good, fps, nan), "Invalid property value"},
        {Damage(good, Int(3210), Int(20000), afterFps), "Invalid frame size"},
        {Damage(good, Int(1234), Int(-1), afterWidth), "Invalid frame size"},
        {Damage(good, Int(0x0ABC), Int(0x10000), afterWidth), "Invalid audio format tag"},
        {Damage(good, Int(2), Int(-2), afterTag), "Invalid channel count"},
        {Damage(good, rate, Int(-1), afterChannels), "Invalid sample rate"},
        {Damage(good, Int(16), Int(0x10000), afterRate), "Invalid sample width"},
        {Damage(good, Cat(Int(1), text), Cat(Int(0x7FFFFFFF), text)), "Invalid item count"},
        {deep, "Project nesting too deep"},
        {{kinds, kinds.size() - 3}, "Node kind does not match its record"}};
    TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        const std::string name = dir.File("damaged.mpr");
        WriteBytes(name, c.File.Bytes);
        Project b;
        try {
            b.Root->TCustomProjectNode::LoadFromFile(name);
            ADD_FAILURE() << "loaded";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.GetMessage(), c.Message);
            EXPECT_EQ(e.FileName, name);
            EXPECT_EQ(e.Offset, static_cast<int64_t>(c.File.Offset));
        }
        LoadMessages.Clear();
        EXPECT_FALSE(b.Root->LoadFromFile(name));
        ASSERT_EQ(LoadMessages.Count(), 1);
        EXPECT_EQ(LoadMessages.Lines[0], "Can not open " + name + ": " + c.Message + " at offset " +
                                             std::to_string(c.File.Offset));
        LoadMessages.Clear();
    }
}

TEST(ProjectFile, UnknownCurveKeysAreSkipped) {
    Project a;
    TTreeNodeData* n = a.Root->AddNode("n", amLastChild, nkBlank);
    n->Curves->AddFromTemplate({"{extra}", "Extra", vmLevel, ckLevel, 0})->AddNew(3.0L);
    n->Curves->FindByKey("{8C4F7B38-9275-4AA5-AA33-BD6CD427A851}")->GetPoint(0)->SetLevel(0.5L);
    Project b;
    ASSERT_TRUE(b.Root->LoadFromStream(a.Save()));
    TTreeNodeData* m = b.Root->GetChild(0);
    EXPECT_EQ(m->Curves->GetCount(), 7);
    EXPECT_NEAR(
        m->Curves->FindByKey("{8C4F7B38-9275-4AA5-AA33-BD6CD427A851}")->GetPoint(0)->GetLevel(),
        0.5L, 1e-4L);
}

TEST(ProjectFile, MissingMediaIsReportedAndKept) {
    Project a;
    TTreeNodeData* m = a.Root->AddNode("m", amLastChild, nkVideo);
    m->MissingFileName = "/gone/movie.avi";
    LoadMessages.Clear();
    Project b;
    ASSERT_TRUE(b.Root->LoadFromStream(a.Save()));
    EXPECT_EQ(LoadMessages.Lines, std::vector<std::string>{"Can not locate /gone/movie.avi."});
    EXPECT_EQ(b.Root->GetChild(0)->GetStoredFileName(), "/gone/movie.avi");
    EXPECT_EQ(b.Save(), a.Save());
    LoadMessages.Clear();
}

// Writes the fuzz seed corpus when asked (TARVOLIN_WRITE_CORPUS=folder).
TEST(ProjectFile, SeedCorpus) {
    const char* dir = std::getenv("TARVOLIN_WRITE_CORPUS");
    if (!dir)
        GTEST_SKIP();
    std::filesystem::create_directories(dir);
    Project rich;
    BuildRichProject(rich);
    Project plain;
    plain.Root->AddNode("Video track", amLastChild, nkVideoTrack);
    int i = 0;
    for (auto* p : {&rich, &plain})
        WriteBytes(std::string(dir) + "/seed" + std::to_string(i++) + ".mpr", p->Save());
}
