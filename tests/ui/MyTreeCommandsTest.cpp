// The project tree's rules: icons, up/down, delete refusals, drag decisions over every pair of
// kinds, drop placement and the choice of a dropped file.
#include <gtest/gtest.h>

#include <map>

#include "FakeUiServices.h"
#include "ITreeItem.h"
#include "MyProjNode.h"
#include "MyTreeCommands.h"
#include "TempFolders.h"

namespace {

// One node of every kind: the project, its track with a group (and the group's own track),
// movies, transition, black frames, clip, sub-project and warp; effects under the video, sounds
// under the project.
struct KindProject {
    TMemTree Tree;
    std::unique_ptr<TProjectNode> Root;
    std::map<uint8_t, TTreeNodeData*> ByKind;

    KindProject() : Root(std::make_unique<TProjectNode>("Project", Tree.AddRoot("Project"))) {
        TTreeNodeData* track = Root->VideoTrack;
        ByKind[nkProject] = Root.get();
        ByKind[nkVideoTrack] = track;
        for (uint8_t k : {nkGroup, nkVideo, nkTransition, nkBlank, nkClip, nkSubProject, nkWarp})
            ByKind[k] = track->AddNode(NumberedName("K", k), amLastChild, k);
        ByKind[nkGroup]->AddNode("Queue", amLastChild, nkVideoTrack);
        for (uint8_t k : {nkFilter, nkOverlay})
            ByKind[k] = ByKind[nkVideo]->AddNode(NumberedName("K", k), amLastChild, k);
        for (uint8_t k : {nkAudio, nkMusic})
            ByKind[k] = Root->AddNode(NumberedName("K", k), amLastChild, k);
    }
};

constexpr uint8_t Order[] = {nkProject,    nkGroup,      nkVideoTrack, nkVideo, nkFilter,
                             nkTransition, nkOverlay,    nkBlank,      nkClip,  nkAudio,
                             nkMusic,      nkSubProject, nkWarp};

} // namespace

TEST(TreeDrag, AcceptsByKindPair) {
    KindProject p;
    // Rows: the dragged kind (project, group, video track, video, filter, transition, overlay,
    // black frames, bitmap clip, audio, music, sub-project, fast/slow motion); columns: the
    // target, in the same order.
    const std::string expected = "nnnnnnnnnnnnn nnyynynyynnny nnnnnnnnnnnnn nnynnynyynnny "
                                 "yynynynyynnyy nnyynnnyynnny yynynynyynnyy nnyynynnynnny "
                                 "nnyynynynnnny nnnnnnnnnnnnn nnnnnnnnnnnnn nnyynynyynnny "
                                 "nnyynynyynnnn";
    for (size_t i = 0; i < std::size(Order); ++i) {
        std::string row;
        for (uint8_t t : Order)
            row += TreeDragAccept(p.ByKind[Order[i]], p.ByKind[t]) ? 'y' : 'n';
        EXPECT_EQ(row, expected.substr(i * 14, 13)) << "dragged kind " << int(Order[i]);
    }
    // Never into its own subtree.
    EXPECT_FALSE(TreeDragAccept(p.ByKind[nkGroup], p.ByKind[nkGroup]->GetChild(0)));
}

TEST(TreeDrag, DropChoiceAndQuestion) {
    KindProject p;
    TTreeNodeData* f = p.ByKind[nkFilter];
    TTreeNodeData* g = p.ByKind[nkGroup];
    TTreeDropChoice c = TreeDropChoice(f, g, "Blur", "Group");
    EXPECT_TRUE(c.Ask);
    EXPECT_EQ(c.Question, "Place \"Blur\" as sibling of \"Group\"?\nPress [No] to place \"Blur\" "
                          "as child of \"Group\".");
    g->SetSealed(true);
    c = TreeDropChoice(f, g, "Blur", "Group");
    EXPECT_EQ(std::tuple(c.Ask, c.Mode), std::tuple(false, taLastSibling));
    EXPECT_EQ(TreeDropChoice(f, p.ByKind[nkBlank], "", "").Mode, taLastChild);
    // Onto the project: right after its video track (the sounds follow it).
    c = TreeDropChoice(f, p.Root.get(), "", "");
    EXPECT_EQ(std::tuple(c.Target, c.Mode), std::tuple(p.ByKind[nkAudio], taInsertBefore));
    MoveNodeByMode(f, c.Target, c.Mode);
    EXPECT_EQ(std::tuple(f->GetParent(), f->GetIndex()), std::tuple(p.Root.get(), 1));

    TTreeNodeData* v = p.ByKind[nkVideo];
    EXPECT_EQ(TreeDropChoice(v, p.ByKind[nkVideoTrack], "", "").Mode, taLastChild);
    EXPECT_EQ(TreeDropChoice(v, p.ByKind[nkClip], "", "").Mode, taInsertBefore);
    EXPECT_EQ(TreeDropChoice(v, p.ByKind[nkTransition], "", "").Mode, taLastSibling);
    MoveNodeByMode(v, p.ByKind[nkClip], taInsertBefore);
    EXPECT_EQ(v->GetIndex() + 1, p.ByKind[nkClip]->GetIndex());
}

TEST(TreeButtons, UpDownAndDeleteRules) {
    KindProject p;
    TTreeNodeData* track = p.Root->VideoTrack;
    struct Case {
        TTreeNodeData* node;
        bool up, down;
    } cases[] = {
        {track, false, false},                          // the track never moves down
        {p.ByKind[nkAudio], false, true},               // project's second child
        {p.ByKind[nkMusic], true, false},               // last
        {p.ByKind[nkGroup], false, true},               // first in the track
        {p.ByKind[nkVideo], true, true},                //
        {p.ByKind[nkGroup]->GetChild(0), false, false}, // a group's own track
        {p.ByKind[nkFilter], false, true},              // first effect under the video
    };
    for (const Case& c : cases) {
        const TUpDownState s = GetUpDownState(c.node, true), off = GetUpDownState(c.node, false);
        EXPECT_EQ(std::tuple(s.Up, s.Down, off.Up || off.Down), std::tuple(c.up, c.down, false))
            << c.node->GetCaption();
    }
    TTreeNodeData* second = p.ByKind[nkGroup]->AddNode("X", amLastChild, nkBlank);
    EXPECT_FALSE(GetUpDownState(second, true).Up); // a group's second child

    EXPECT_EQ(DeleteRefusal(p.Root.get(), p.Root.get()), "Can not delete project node");
    EXPECT_EQ(DeleteRefusal(track, p.Root.get()), "Can not delete Master folder node");
    EXPECT_EQ(DeleteRefusal(p.ByKind[nkGroup]->GetChild(0), p.Root.get()),
              "Can not delete Queue node");
    EXPECT_FALSE(DeleteRefusal(p.ByKind[nkVideo], p.Root.get()));
    EXPECT_EQ(DeleteQuestion("Clip 1"), "Delete selected object (Clip 1)?");
}

TEST(TreeIcons, SealedHalfHasARedFrame) {
    const std::vector<TBitmap> icons = PrepareTreeIcons(MakeFolderIcons(), MakeEffectIcons());
    ASSERT_EQ(icons.size(), 58u);
    const TBitmap& plain = icons[22];
    const TBitmap& sealed = icons[22 + 29];
    for (int i = 0; i < TreeIconSize; ++i) {
        EXPECT_EQ(sealed.Canvas().GetPixel(i, 0), 0x0000FFu);
        EXPECT_EQ(sealed.Canvas().GetPixel(TreeIconSize - 1, i), 0x0000FFu);
    }
    EXPECT_NE(plain.Canvas().GetPixel(0, 0), 0x0000FFu);
    EXPECT_EQ(sealed.Canvas().GetPixel(7, 7), plain.Canvas().GetPixel(7, 7));
}

TEST(TreeDrop, PicksTheFirstExistingAvi) {
    TTempDir dir;
    const std::string real = dir.File("clip.AVI");
    EXPECT_EQ(PickDroppedMovie({dir.File("a.txt"), dir.Path + "/missing.avi", real}), real);
    EXPECT_FALSE(PickDroppedMovie({dir.File("a.txt")}));
    EXPECT_EQ(SealedTrackText("Queue"), "Can not insert new child. Queue is sealed!");
}
