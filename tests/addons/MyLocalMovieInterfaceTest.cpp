// The movie interface over a raw AVI: what it forwards from the reader, which frame a time picks,
// and the project root lending and taking back interfaces (also through an effect node).
#include <gtest/gtest.h>

#include "AviFixtures.h"
#include "FakeUiServices.h"
#include "MyCustomAddOn.h"
#include "MyEffectNodes.h"
#include "MyLocalMovieInterface.h"
#include "MyProjNode.h"
#include "TempFolders.h"

namespace {

uint8_t Grey(const TBitmap& b, int x = 0, int y = 0) {
    return b.ScanLine(y)[x * 3];
}

} // namespace

TEST(LocalMovieInterface, ForwardsTheReaderAndPicksFramesByTime) {
    // A raw 4 x 2 movie of five frames at 2 per second; frame i is grey level 10 (i + 1).
    TTempDir dir;
    TAviSpec spec = MakeDibMovie(4, 2, 5, 500000);
    for (int i = 0; i < 5; ++i)
        spec.Chunks[i].Data.assign(4 * 3 * 2, uint8_t(10 * (i + 1)));
    const std::string file = dir.Path + "/two fps.avi";
    BuildAvi(spec).Save(file);
    TLocalMovieInterface m(nullptr);
    EXPECT_FALSE(m.IsOpen());
    // Blanks and control characters around the name are dropped.
    ASSERT_TRUE(m.Open(" \t" + file + "\r\n "));
    EXPECT_EQ(std::tuple(m.GetFileName(), m.GetFrameRate(), m.GetFrameCount(), m.GetWidth(),
                         m.GetHeight(), m.GetDuration(), m.GetCurrentFrame()),
              std::tuple(file, 2.0L, 5, 4, 2, 2.5L, -1));
    // 0.25 s is frame 0.5 -> 0, 0.75 s is 1.5 -> 2, 1.25 s is 2.5 -> 2; in the last half frame,
    // 2.3 s is 4.6, which stays on the last frame. The caller's rate is not used. The bitmap keeps
    // the caller's size; the frame is stretched over it.
    TBitmap b(2, 2);
    for (auto [time, frame] : {std::pair{0.25L, 0},
                               {0.75L, 2},
                               {1.25L, 2},
                               {1.0L, 2},
                               {2.0L, 4},
                               {2.3L, 4},
                               {2.499L, 4}})
        for (Extended fps : {1.0L, 25.0L, 0.0L}) {
            ASSERT_TRUE(m.GetFrameAt(b, time, fps));
            EXPECT_EQ(m.GetCurrentFrame(), frame);
            EXPECT_EQ(Grey(b), 10 * (frame + 1));
        }
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(Grey(b, 1, 1), 50);
    // From the end on, before the start, and far outside: no frame.
    for (Extended t : {2.5L, 2.75L, -1.0L, 1e30L, -1e30L})
        EXPECT_FALSE(m.GetFrameAt(b, t, 25)) << double(t);
    m.Close();
    EXPECT_FALSE(m.IsOpen());
}

TEST(LocalMovieInterface, FailedOpens) {
    TTempDir dir;
    TFakeUiServices ui;
    TLocalMovieInterface m(nullptr, &ui);
    EXPECT_FALSE(m.Open(dir.Path + "/missing.avi"));
    EXPECT_TRUE(ui.Messages.empty());
    const std::string junk = dir.File("junk.avi", "RIFF....AVI nothing");
    EXPECT_FALSE(m.Open(junk));
    EXPECT_FALSE(m.IsOpen());
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0].rfind("Can not open " + junk, 0), 0u);
    TBitmap b(2, 2);
    EXPECT_FALSE(m.GetFrameAt(b, 0, 25));
}

TEST(LocalMovieInterface, RootLendsAndTakesBack) {
    TMemTree tree;
    TFakeUiServices ui;
    auto root = std::make_unique<TProjectNode>("Project", tree.AddRoot("Project"));
    root->Ui = &ui;
    root->DeleteChildren();
    TMovieInterface* a = root->CreateMovieInterface(nullptr);
    ASSERT_NE(a, root->CreateMovieInterface(nullptr));
    // One the project did not make is left alone; one given back twice counts once.
    TLocalMovieInterface stranger(nullptr);
    std::vector<size_t> counts{root->GetMovieInterfaceCount()};
    root->FreeMovieInterface(&stranger);
    root->FreeMovieInterface(nullptr);
    counts.push_back(root->GetMovieInterfaceCount());
    root->FreeMovieInterface(a);
    counts.push_back(root->GetMovieInterfaceCount());
    root->FreeMovieInterface(a);
    counts.push_back(root->GetMovieInterfaceCount());
    // A movie overlay node borrows one while it holds its add-on (a movie overlay that is not
    // offered is no add-on); the reader reports through the root's user interface. The root
    // frees its children, which give theirs back, and then what is left.
    TTreeNodeData* clip = root->AddNode("c", amLastChild, nkBlank);
    auto* o = static_cast<TOverlayNode*>(clip->AddNode("o", amLastChild, nkOverlay));
    for (const char* id :
         {"{91DF5308-4A0E-451F-9135-6F292AA3C1E4}", "{F3C34695-8149-4D2C-AE86-DAA65EF943E9}",
          "{17C85AB5-9D42-44C0-A419-AF1C33D77BBC}", "{F3C34695-8149-4D2C-AE86-DAA65EF943E9}"}) {
        o->SetAddOn(id);
        counts.push_back(root->GetMovieInterfaceCount());
    }
    EXPECT_EQ(counts, (std::vector<size_t>{2, 2, 1, 1, 1, 2, 1, 2}));
    TTempDir dir;
    o->GetOverlay()->SetParams(dir.File("bad.avi", "RIFF"));
    EXPECT_EQ(ui.Messages.size(), 1u);
}
