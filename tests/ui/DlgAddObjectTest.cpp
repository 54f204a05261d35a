#include "DlgAddObject.h"
#include "MyTimelineCommands.h"

#include <gtest/gtest.h>

#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MyAVIReader.h"
#include "MyAddOnManager.h"
#include "MyEffectNodes.h"
#include "MyProjNode.h"
#include "NumberedMovie.h"
#include "TempFolders.h"

namespace {

std::vector<std::string> Texts(const std::vector<TKindItem>& items) {
    std::vector<std::string> t;
    for (const TKindItem& i : items)
        t.push_back(i.Text);
    return t;
}

std::vector<TAddOnListItem> BuiltInList() {
    static TAddOnManager manager;
    std::vector<TAddOnListItem> list;
    manager.FillList(list);
    return list;
}

struct TProjectRig {
    TMemTree Tree;
    TFakeUiServices Ui;
    std::unique_ptr<TProjectNode> Root =
        std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"));
    TProjectRig() { Root->Ui = &Ui; }
};

} // namespace

TEST(AddObjectKinds, TreeOfEachKindSet) {
    const std::vector<TAddOnListItem> addons = BuiltInList();
    struct TCase {
        TNodeKindSet Kinds;
        std::vector<std::string> Top;
    } cases[] = {
        {0,
         {"Video", "Fast/Slow-motion video", "Music-clip base", "Audio", "Black frames",
          "Bitmap Clips", "Group", "Sub-project", "Overlays", "Transitions", "Filters"}},
        {VideoKindSet,
         {"Video", "Fast/Slow-motion video", "Music-clip base", "Black frames", "Bitmap Clips",
          "Group", "Sub-project", "Transitions"}},
        {EffectKindSet, {"Audio", "Overlays", "Filters"}},
        // Black frames and bitmap clips stand in for a video; a clip also for black frames.
        {1 << nkBlank, {"Black frames", "Bitmap Clips"}},
    };
    for (const TCase& c : cases) {
        const TKindItem root = BuildKindTree(c.Kinds, addons);
        EXPECT_EQ(root.Text, "Root");
        EXPECT_FALSE(root.Info);
        EXPECT_EQ(Texts(root.Children), c.Top) << c.Kinds;
    }
    // Every offered effect is filed under its folder with its kind and identifier.
    const TKindItem all = BuildKindTree(0, addons);
    int effects = 0;
    const uint8_t folderKind[3] = {nkOverlay, nkTransition, nkFilter};
    for (int f = 0; f < 3; ++f) {
        const TKindItem& folder = all.Children[8 + f];
        EXPECT_FALSE(folder.Info);
        for (const TKindItem& e : folder.Children) {
            ASSERT_TRUE(e.Info);
            EXPECT_EQ(e.Info->Kind, folderKind[f]) << e.Text;
            EXPECT_FALSE(e.Info->AddOnID.empty());
            ++effects;
        }
    }
    EXPECT_EQ(effects, 22);
    EXPECT_EQ(CountKindItems(all), 1 + 11 + 22);
}

TEST(AddObjectKinds, AnEntryOfNoEffectTypeIsRefused) {
    TAddOnInterface plain;
    TAddOnInfo info(&plain, "{odd}");
    try {
        BuildKindTree(0, {{"Odd", &info}});
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetMessage(), "Object kind unknown for ID={odd}");
    }
}

TEST(AddObjectKinds, ExampleLetters) {
    const std::vector<std::string> first = ExampleLines(0);
    EXPECT_EQ(first[0], "abcdef abcdefa bcdefab cdefab");
    EXPECT_EQ(first[1], "nnnnoo ooppppq qqqrrrr sssstt");
    EXPECT_EQ(ExampleLines(9)[0].substr(0, 7), "jklmno ");
}

TEST(AddObjectCreate, PositionsRefusalsAndFiles) {
    TProjectRig p;
    TTreeNodeData* track = p.Root->VideoTrack;
    TTreeNodeData* blank = track->AddNode("Black", amLastChild, nkBlank);
    TTreeNodeData* filter = blank->AddNode("Filter", amLastChild, nkFilter);
    const TCreateInfo group{nkGroup, {}}, video{nkVideo, {}};
    TTreeNodeData* made = nullptr;
    auto create = [&](TTreeNodeData* target, int pos, const TCreateInfo* info) {
        return CreateChosenObject({p.Root.get(), target->Item, pos, info, "Group", &p.Ui, {}},
                                  made);
    };
    // Nothing under a filter, but beside it.
    EXPECT_EQ(create(filter, amLastChild, &group), TAddOutcome::Refused);
    EXPECT_EQ(p.Ui.Messages, std::vector<std::string>{"Node Filter can not have children."});
    EXPECT_EQ(create(filter, amAfterInTree, &group), TAddOutcome::Created);
    EXPECT_EQ(made->GetParent(), blank);
    // Beside the project means under it.
    EXPECT_EQ(create(p.Root.get(), amBeforeSibling, &group), TAddOutcome::Created);
    EXPECT_EQ(made->GetParent(), p.Root.get());
    EXPECT_EQ(made->GetIndex(), p.Root->GetChildCount() - 1);
    // No kind chosen, or the movie's file dialog cancelled: nothing made, nothing asked.
    EXPECT_EQ(create(track, 0, nullptr), TAddOutcome::Refused);
    p.Ui.FileAnswers = {std::nullopt};
    const int before = track->GetChildCount();
    EXPECT_EQ(create(track, 0, &video), TAddOutcome::Refused);
    EXPECT_EQ(track->GetChildCount(), before);
    // A video is named after its file.
    TTempDir dir;
    const std::string avi = dir.Path + "/clip one.avi";
    BuildAvi(NumberedMovieSpec({})).Save(avi);
    p.Ui.FileAnswers = {avi};
    EXPECT_EQ(create(track, 0, &video), TAddOutcome::Created);
    EXPECT_EQ(made->GetCaption(), "Movie: clip one.avi");
    EXPECT_EQ(made->FileName, avi);
    // A tree item without a node is a programming error, said plainly.
    ITreeItem* loose = p.Tree.AddRoot("loose");
    EXPECT_THROW(CreateChosenObject({p.Root.get(), loose, 0, &group, "Group", &p.Ui, {}}, made),
                 Exception);
}

TEST(AddObjectCreate, EffectsTakeTheirAddOnName) {
    TProjectRig p;
    const TKindItem all = BuildKindTree(0, BuiltInList());
    const TKindItem& overlay = all.Children[8].Children.at(0);
    TTreeNodeData* made = nullptr;
    ASSERT_EQ(
        CreateChosenObject(
            {p.Root.get(), p.Root->VideoTrack->Item, 0, &*overlay.Info, overlay.Text, &p.Ui, {}},
            made),
        TAddOutcome::Created);
    auto* node = dynamic_cast<TOverlayNode*>(made);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetAddOnID(), overlay.Info->AddOnID);
    EXPECT_EQ(node->GetCaption(), node->AddOnName);
}

// The demonstration clip made at build time reads back with picture and sound, and every
// effect's example draws on it.
TEST(AddObjectExample, DemoClipAndEveryEffect) {
    TAviReader reader;
    ASSERT_TRUE(reader.Open(TARVOLIN_DEMO_BIN));
    EXPECT_EQ(reader.GetWidth(), 160);
    EXPECT_EQ(reader.GetHeight(), 120);
    EXPECT_EQ(reader.GetFrameCount(), 40);
    EXPECT_TRUE(reader.HasAudio());
    TBitmap plain(160, 120);
    ASSERT_TRUE(reader.GetFrame(1, plain));
    // The square moved four pixels on: its white edge starts at x = 4, under it the bars.
    EXPECT_EQ(plain.Canvas().GetPixel(4, 50), 0xFFFFFFu);
    EXPECT_EQ(plain.Canvas().GetPixel(2, 50), 0xFFFFFFu);
    EXPECT_EQ(plain.Canvas().GetPixel(10, 50), 0u);

    TProjectRig p;
    TTreeNodeData* blank = p.Root->VideoTrack->AddNode("Black", amLastChild, nkBlank);
    TAddObjectExample example(TARVOLIN_DEMO_BIN);
    ASSERT_TRUE(example.HasClip());
    TAddOnPreviewScope preview;
    const TKindItem all = BuildKindTree(0, BuiltInList());
    int changed = 0, effects = 0;
    for (int f = 8; f < 11; ++f)
        for (const TKindItem& e : all.Children[f].Children) {
            ++effects;
            ASSERT_TRUE(example.Build(*p.Root, blank->Item, *e.Info, e.Text)) << e.Text;
            EXPECT_EQ(blank->GetChildCount(), 1);
            // Effects that keep earlier frames show their work from the third frame on.
            bool differs = false;
            for (int tick = 0; tick < 3; ++tick) {
                ASSERT_TRUE(example.Tick(25, true, 40, true)) << e.Text;
                TBitmap frame(160, 120);
                reader.GetFrame(example.GetFrame(), frame);
                const TBitmap& shown = example.GetBitmap();
                differs = false;
                for (int32_t y = 0; y < 120 && !differs; ++y)
                    differs = memcmp(shown.ScanLine(y), frame.ScanLine(y), 160 * 3) != 0;
            }
            // A transition of a frame into itself shows that frame, and a colour filter's
            // colour is black in the example: nothing to see there.
            if (e.Info->Kind != nkTransition && e.Text != "Light temperature adjustment") {
                EXPECT_TRUE(differs) << e.Text;
            }
            changed += differs;
        }
    EXPECT_EQ(effects, 22);
    EXPECT_GE(changed, 18);
    example.Free();
    EXPECT_EQ(blank->GetChildCount(), 0);
}

TEST(AddObjectExample, DragAndTextFollowTheClip) {
    TProjectRig p;
    TAddObjectExample example(TARVOLIN_DEMO_BIN);
    TAddOnPreviewScope preview;
    const TCreateInfo blank{nkBlank, {}};
    ASSERT_TRUE(example.Build(*p.Root, p.Root->VideoTrack->Item, blank, "Black"));
    example.Drag(7, -3);
    for (int i = 0; i < 38; ++i)
        example.Tick(10, true, 25, false);
    // Frames run 1..38 and wrap to 0 after 38 (40 frames, two kept back).
    EXPECT_EQ(example.GetFrame(), 38);
    EXPECT_EQ(example.GetTextCounter(), 1);
    example.Tick(10, true, 25, false);
    EXPECT_EQ(example.GetFrame(), 0);
    EXPECT_EQ(example.GetTextCounter(), 2);
    EXPECT_EQ(AddOnPreview.Info.X, 57);
    EXPECT_EQ(AddOnPreview.Info.Y, 47);
    EXPECT_EQ(AddOnPreview.Width, 32);
    EXPECT_EQ(AddOnPreview.Height, 24);
    EXPECT_EQ(AddOnPreview.Info.Sizing, 0.2L);
    ASSERT_TRUE(AddOnPreview.Info.Lines);
    EXPECT_EQ(*AddOnPreview.Info.Lines, ExampleLines(2));
    // Without the clip nothing is ever drawn.
    TAddObjectExample none("/nonexistent/demo.bin");
    EXPECT_FALSE(none.HasClip());
    EXPECT_TRUE(none.Build(*p.Root, p.Root->VideoTrack->Item, blank, "Black"));
    EXPECT_FALSE(none.Tick(25, true, 25, true));
}
