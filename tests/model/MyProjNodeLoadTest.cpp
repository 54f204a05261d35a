// Opening project files that fail, that stretch the limits, or that hold values a plain round
// trip might lose: a failed load leaves exactly a new project, limits are the same for what is
// set and what is read, and an unchanged project stays unmodified after opening.
#include "MyProjNode.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "AviFixtures.h"
#include "ModelRig.h"
#include "MyCommonServices.h"
#include "MyTimeData.h"
#include "TempFolders.h"
#include "TestData.h"

namespace {

struct TRoot : TModelRig {
    void AddBlank(Extended seconds) {
        Blank(Root->VideoTrack, seconds);
        Root->Refresh();
    }
    // The file image, with the ids of the root and its video track made the same for every
    // project so that two images compare field by field.
    std::vector<uint8_t> Image() {
        const std::string rootId = Root->Id, trackId = Root->VideoTrack->Id;
        Root->Id = "root";
        Root->VideoTrack->Id = "track";
        const auto bytes = Save();
        Root->Id = rootId;
        Root->VideoTrack->Id = trackId;
        return bytes;
    }
};

// A project whose stored root fields all differ from a new project's; curves without points
// (which the curves fill in again when used) only where asked.
void MakeUnusual(TProjectNode& r, bool emptyCurves = false) {
    r.AudioOn = false;
    r.WMOutput = true;
    r.WMProfile = "{00000000-0000-0000-0000-000000000001}";
    r.VideoFourCC = 0x80000000;
    r.CompressorName = "Other";
    r.Enabled = false;
    r.PositionLocked = true;
    r.Color = 0x123456;
    r.Description = {"a", "b"};
    r.ReservedByte = 7;
    r.ReservedValues[0] = 1.25L;
    for (int i = 0; emptyCurves && i < r.Curves->GetCount(); ++i)
        r.Curves->GetItem(i)->Clear();
    r.SetVideoFormat(640, 480, 25);
    MakePcmFormat(r.AudioFormat, 44100, 1, 8);
}

} // namespace

// Cut anywhere, the file fails to load and the project is, field by field, a new one.
TEST(ProjectLoad, AFailedLoadLeavesExactlyANewProject) {
    TTempDir dir;
    const std::string name = dir.Path + "/cut.mpr";
    TRoot source;
    MakeUnusual(*source.Root, true);
    source.AddBlank(2);
    const std::vector<uint8_t> whole = source.Save();
    const std::vector<uint8_t> fresh = TRoot().Image();

    for (size_t cut : {size_t(1), size_t(40), whole.size() / 2, whole.size() - 30}) {
        SCOPED_TRACE(cut);
        WriteBytes(name, std::vector<uint8_t>(whole.begin(), whole.end() - long(cut)));
        TRoot t;
        t.AddBlank(5);
        LoadMessages.Clear();
        EXPECT_FALSE(t.Root->LoadFromFile(name));
        ASSERT_EQ(LoadMessages.Count(), 1);
        EXPECT_EQ(LoadMessages.Lines[0].rfind("Can not open " + name + ": ", 0), 0u);
        EXPECT_NE(LoadMessages.Lines[0].find(" at offset "), std::string::npos);
        EXPECT_EQ(t.Root->FileName, "");
        EXPECT_EQ(t.Root->VideoTrack, t.Root->GetChild(0));
        EXPECT_TRUE(t.Image() == fresh) << "a stored field survived the failed load";
    }
    LoadMessages.Clear();
}

// Values at the limits, and values other writers store, read back and write out unchanged;
// a project opened and saved again is byte-identical and not modified.
TEST(ProjectLoad, WhatIsWrittenReadsBackUnchanged) {
    TTempDir dir;
    struct TCase {
        const char* Name;
        std::function<void(TProjectNode&)> Set;
    };
    const TCase cases[] = {
        {"handler code 0x80000000", [](TProjectNode& r) { r.VideoFourCC = 0x80000000; }},
        {"handler code 0xFFFFFFFF", [](TProjectNode& r) { r.VideoFourCC = 0xFFFFFFFF; }},
        {"largest size and rate",
         [](TProjectNode& r) {
             r.SetVideoFormat(TProjectNode::MaxFrameSide, TProjectNode::MaxFrameSide,
                              TProjectNode::MaxFrameRate);
             MakePcmFormat(r.AudioFormat, MaxPcmSampleRate, 2, 16);
         }},
        {"unusual root", [](TProjectNode& r) { MakeUnusual(r); }}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = dir.Path + "/p.mpr";
        TRoot a;
        a.AddBlank(1);
        c.Set(*a.Root);
        ASSERT_TRUE(a.Root->SaveToFile(name));
        TRoot b;
        b.Ui.Messages.clear();
        LoadMessages.Clear();
        ASSERT_TRUE(b.Root->LoadFromFile(name))
            << (LoadMessages.Count() ? LoadMessages.Lines[0] : "");
        EXPECT_EQ(b.Root->VideoFourCC, a.Root->VideoFourCC);
        EXPECT_EQ(b.Root->Width, a.Root->Width);
        EXPECT_FALSE(b.Root->IsModified());
        EXPECT_TRUE(b.Save() == ReadBytes(name));
    }
    // An older writer stored a high handler code as a negative 32-bit integer.
    TRoot a;
    a.AddBlank(1);
    a.Root->VideoFourCC = 0x7FFFFFF0;
    std::vector<uint8_t> bytes = a.Save();
    const auto stored = HexBytes("04f0ffff7f");
    auto at = std::search(bytes.begin(), bytes.end(), stored.begin(), stored.end());
    ASSERT_NE(at, bytes.end());
    at[4] = 0xFF;
    WriteBytes(dir.Path + "/old.mpr", bytes);
    TRoot b;
    ASSERT_TRUE(b.Root->LoadFromFile(dir.Path + "/old.mpr"));
    EXPECT_EQ(b.Root->VideoFourCC, 0xFFFFFFF0u);
}

// Outside values that would blow up memory or arithmetic are refused with a message; a count
// past 2^31 frames never escapes as an overflow.
TEST(ProjectLoad, ImpossibleValuesAreRefusedWithAMessage) {
    TTempDir dir;
    struct TCase {
        const char* Name;
        std::function<void(TProjectNode&)> Set;
        const char* Message;
    };
    const TCase cases[] = {
        {"sample rate", [](TProjectNode& r) { r.AudioFormat.Wfx.nSamplesPerSec = 2147483647; },
         "Invalid sample rate"},
        {"frame rate", [](TProjectNode& r) { r.FrameRate = 1e9L; }, "Invalid frame rate"},
        {"frame size", [](TProjectNode& r) { r.Width = TProjectNode::MaxFrameSide + 1; },
         "Invalid frame size"},
        {"frame count",
         [](TProjectNode& r) {
             r.FrameRate = 1000;
             r.VideoTrack->GetChild(0)->UserDuration = 3e6L; // 3e9 frames
         },
         "longer than 2147483647 frames"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRoot a;
        a.AddBlank(1);
        c.Set(*a.Root);
        a.Root->Refresh();
        EXPECT_NO_THROW(a.Root->GetFrameCount());
        const std::string name = dir.Path + "/p.mpr";
        ASSERT_TRUE(a.Root->SaveToFile(name));
        TRoot b;
        LoadMessages.Clear();
        EXPECT_FALSE(b.Root->LoadFromFile(name));
        ASSERT_EQ(LoadMessages.Count(), 1);
        EXPECT_NE(LoadMessages.Lines[0].find(c.Message), std::string::npos)
            << LoadMessages.Lines[0];
        EXPECT_EQ(b.Root->FileName, "");
        EXPECT_EQ(b.Root->GetFrameCount(), 0);
    }
    TRoot t;
    t.AddBlank(1);
    t.Root->VideoTrack->GetChild(0)->UserDuration = 1e300L;
    t.Root->Refresh();
    EXPECT_EQ(t.Root->GetFrameCount(), 2147483647);
    LoadMessages.Clear();
}

// A project file name that is no regular file or far too large is refused before reading:
// a FIFO does not hang the load, a huge file keeps no name.
TEST(ProjectLoad, OnlyRegularFilesOfAProjectsSizeAreRead) {
    TTempDir dir;
    const std::string fifo = dir.Path + "/pipe.mpr";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.Path + "/film.avi";
    {
        std::ofstream(huge, std::ios::binary) << "RIFF";
        ASSERT_EQ(::truncate(huge.c_str(), TProjectNode::MaxProjectFileBytes + 1), 0);
    }
    for (const std::string& name : {fifo, huge}) {
        SCOPED_TRACE(name);
        TRoot t;
        t.AddBlank(1);
        LoadMessages.Clear();
        EXPECT_FALSE(t.Root->LoadFromFile(name));
        ASSERT_EQ(LoadMessages.Count(), 1);
        EXPECT_EQ(LoadMessages.Lines[0].rfind("Can not open " + name + ": ", 0), 0u);
        EXPECT_EQ(t.Root->FileName, "");
        EXPECT_EQ(t.Root->GetDuration(), 0);
    }
    EXPECT_FALSE(TRoot().Root->LoadFromFile(dir.Path + "/missing.mpr"));
    // The same cap holds for a sub-project.
    TRoot t;
    LoadMessages.Clear();
    t.Root->VideoTrack->AddNode("n", amLastChild, nkSubProject)->SetFileName(huge);
    EXPECT_EQ(LoadMessages.Lines,
              std::vector<std::string>{"Sub-project " + huge +
                                       " is too large for a project and is left empty."});
    LoadMessages.Clear();
}

// A compressor that is not installed: the message says so, exports use the default, and the
// file keeps the stored choice, so the opened project is not modified.
TEST(ProjectLoad, AMissingCompressorKeepsItsStoredName) {
    TTempDir dir;
    const std::string name = dir.Path + "/p.mpr";
    TRoot a;
    a.AddBlank(1);
    a.Root->VideoFourCC = 0x5A5A5A5A; // "ZZZZ"
    a.Root->CompressorName = "Gone codec";
    ASSERT_TRUE(a.Root->SaveToFile(name));
    TRoot b;
    ASSERT_TRUE(b.Root->LoadFromFile(name));
    ASSERT_EQ(b.Ui.Messages.size(), 1u);
    EXPECT_EQ(b.Ui.Messages[0], "The selected project video compressor \"Gone codec\" is not "
                                "available in this system.\nVideo compressor is set to default");
    EXPECT_EQ(b.Root->CompressorName, "Gone codec");
    EXPECT_EQ(b.Root->VideoFourCC, 0x5A5A5A5Au);
    EXPECT_FALSE(b.Root->IsModified());
}

// Media and sub-project paths that name a FIFO fail at once with a message; nothing waits for
// a writer that never comes.
TEST(ProjectLoad, FifoMediaPathsFailFastWithAMessage) {
    TTempDir dir;
    struct TCase {
        uint8_t Kind;
        const char* File;
        const char* Message; // the start of the message, in the window or the load messages
    };
    const TCase cases[] = {{nkVideo, "pipe.avi", "Can not open "},
                           {nkAudio, "pipe.wav", "Can not open "},
                           {nkMusic, "pipe2.avi", "Can not open "},
                           {nkSubProject, "pipe.mpr", "Can not read sub-project "}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        const std::string fifo = dir.Path + "/" + c.File;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        TRoot t;
        LoadMessages.Clear();
        const auto start = std::chrono::steady_clock::now();
        t.Root->VideoTrack->AddNode("n", amLastChild, c.Kind)->SetFileName(fifo);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        std::vector<std::string> said = t.Ui.Messages;
        said.insert(said.end(), LoadMessages.Lines.begin(), LoadMessages.Lines.end());
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].rfind(std::string(c.Message) + fifo, 0), 0u) << said[0];
    }
    LoadMessages.Clear();
}

// A movie whose header claims 2^31 frames of over an hour each plays the frames its index
// holds, says so among the load messages, and the project's frame count stays in range.
TEST(ProjectLoad, AMovieHeaderClaimingMoreThanItsIndexIsHeldToIt) {
    TTempDir dir;
    TAviSpec spec = MakeDibMovie(2, 2, 3, 0xFFFFFFFF);
    spec.TotalFrames = 0x7FFFFFFF;
    const std::string name = dir.Path + "/long.avi";
    BuildAvi(spec).Save(name);
    TRoot t;
    LoadMessages.Clear();
    TTreeNodeData* movie = t.Root->VideoTrack->AddNode("m", amLastChild, nkVideo);
    movie->SetFileName(name);
    t.Root->Refresh();
    EXPECT_EQ(LoadMessages.Lines,
              std::vector<std::string>{"The header of " + name +
                                       " claims 2147483647 frames; its index holds 3, which are "
                                       "shown."});
    EXPECT_EQ(t.Root->GetDuration(), 3 * 4294.967295L);
    EXPECT_EQ(t.Root->GetFrameCount(), Round(3 * 4294.967295L * 15));
    LoadMessages.Clear();
}
