// The add-object dialog's logic: the tree of kinds, creating the chosen object, and the example
// clip every effect draws on.
#include "DlgAddObject.h"

#include <map>

#include "DialogRig.h"
#include "MyAddOnManager.h"
#include "PictureFixtures.h"

namespace {

std::string Texts(const std::vector<TKindItem>& items) {
    std::string t;
    for (const TKindItem& i : items)
        t += i.Text + "|";
    return t;
}

std::vector<TAddOnListItem> BuiltInList() {
    static TAddOnManager manager;
    std::vector<TAddOnListItem> list;
    manager.FillList(list);
    return list;
}

} // namespace

TEST(AddObjectKinds, TreeOfEachKindSet) {
    const std::vector<TAddOnListItem> addons = BuiltInList();
    const std::pair<TNodeKindSet, const char*> cases[] = {
        {0, "Video|Fast/Slow-motion video|Music-clip base|Audio|Black frames|Bitmap Clips|Group|"
            "Sub-project|Overlays|Transitions|Filters|"},
        {VideoKindSet, "Video|Fast/Slow-motion video|Music-clip base|Black frames|Bitmap Clips|"
                       "Group|Sub-project|Transitions|"},
        {EffectKindSet, "Audio|Overlays|Filters|"},
        // Black frames and bitmap clips stand in for a video; a clip also for black frames.
        {1 << nkBlank, "Black frames|Bitmap Clips|"}};
    for (const auto& [kinds, top] : cases) {
        EXPECT_EQ(Texts(BuildKindTree(kinds, addons).Children), top) << kinds;
    }
    // Every offered effect is filed under its folder with its kind and identifier.
    const TKindItem all = BuildKindTree(0, addons);
    int effects = 0;
    const uint8_t folderKind[3] = {nkOverlay, nkTransition, nkFilter};
    for (int f = 0; f < 3; ++f) {
        EXPECT_FALSE(all.Children[8 + f].Info);
        for (const TKindItem& e : all.Children[8 + f].Children) {
            ASSERT_TRUE(e.Info);
            EXPECT_EQ(e.Info->Kind, folderKind[f]) << e.Text;
            EXPECT_FALSE(e.Info->AddOnID.empty());
            ++effects;
        }
    }
    EXPECT_EQ(effects, 22);
    EXPECT_EQ(CountKindItems(all), 1 + 11 + 22);
    // An entry of no effect type is refused by name.
    TAddOnInterface plain;
    TAddOnInfo info(&plain, "{odd}");
    try {
        BuildKindTree(0, {{"Odd", &info}});
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetMessage(), "Object kind unknown for ID={odd}");
    }
    EXPECT_EQ(ExampleLines(0)[0] + "|" + ExampleLines(0)[1],
              "abcdef abcdefa bcdefab cdefab|nnnnoo ooppppq qqqrrrr sssstt");
    EXPECT_EQ(ExampleLines(9)[0].substr(0, 7), "jklmno ");
}

TEST(AddObjectCreate, PositionsRefusalsAndFiles) {
    TDialogProject p;
    TTreeNodeData* track = p.Root->VideoTrack;
    TTreeNodeData* blank = track->AddNode("Black", amLastChild, nkBlank);
    TTreeNodeData* filter = blank->AddNode("Filter", amLastChild, nkFilter);
    const TCreateInfo group{nkGroup, {}}, video{nkVideo, {}};
    TTreeNodeData* made = nullptr;
    auto create = [&](TTreeNodeData* target, int pos, const TCreateInfo* info,
                      const std::string& text = "Group") {
        return CreateChosenObject({p.Root.get(), target->Item, pos, info, text, &p.Ui, {}}, made);
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
    // A video is named after its file, an effect after its add-on.
    const std::string avi = p.File("clip one.avi");
    BuildAvi(NumberedMovieSpec({})).Save(avi);
    p.Ui.FileAnswers = {avi};
    EXPECT_EQ(create(track, 0, &video), TAddOutcome::Created);
    EXPECT_EQ(made->GetCaption() + "|" + made->FileName, "Movie: clip one.avi|" + avi);
    const TKindItem all = BuildKindTree(0, BuiltInList());
    const TKindItem& overlay = all.Children[8].Children.at(0);
    ASSERT_EQ(create(track, 0, &*overlay.Info, overlay.Text), TAddOutcome::Created);
    auto* node = dynamic_cast<TOverlayNode*>(made);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetAddOnID(), overlay.Info->AddOnID);
    EXPECT_EQ(node->GetCaption(), node->AddOnName);
    // A tree item without a node is a programming error, said plainly.
    ITreeItem* loose = p.Tree.AddRoot("loose");
    EXPECT_THROW(CreateChosenObject({p.Root.get(), loose, 0, &group, "Group", &p.Ui, {}}, made),
                 Exception);
}

// Every position on targets with and without children, inside the main track and inside a
// group's track that has something after it in the tree: "after" and "before" put the object
// beside the target, "as a child" under it.
TEST(AddObjectCreate, PositionsBesideTargetsWithAndWithoutChildren) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"red", amAfterInTree, "track:1"},   {"red", amBeforeSibling, "track:0"},
        {"red", amLastChild, "red:1"},       {"green", amAfterInTree, "track:2"},
        {"group", amAfterInTree, "track:3"}, {"group", amLastChild, "group:1"},
        {"c1", amAfterInTree, "queue:1"},    {"c1", amBeforeSibling, "queue:0"},
        {"c2", amAfterInTree, "queue:2"},    {"sound", amAfterInTree, "project:2"},
        {"red", amLastSibling, "track:3"}};
    const TCreateInfo blank{nkBlank, {}};
    for (const auto& [target, position, want] : cases) {
        TDialogProject p;
        p.Root->SetCaption("project");
        p.Root->VideoTrack->SetCaption("track");
        std::map<std::string, TTreeNodeData*> n{{"track", p.Root->VideoTrack}};
        auto add = [&n](const char* parent, const char* name, uint8_t kind) {
            n[name] = n.at(parent)->AddNode(name, amLastChild, kind);
        };
        add("track", "red", nkBlank);
        add("red", "text", nkOverlay);
        add("track", "green", nkBlank);
        add("track", "group", nkGroup);
        add("group", "queue", nkVideoTrack);
        add("queue", "c1", nkBlank);
        add("c1", "fx", nkFilter);
        add("queue", "c2", nkBlank);
        n["sound"] = p.Root->AddNode("sound", amLastChild, nkAudio);
        TTreeNodeData* made = nullptr;
        ASSERT_EQ(CreateChosenObject(
                      {p.Root.get(), n.at(target)->Item, position, &blank, "new", &p.Ui, {}}, made),
                  TAddOutcome::Created);
        EXPECT_EQ(made->GetParent()->GetCaption() + ":" + std::to_string(made->GetIndex()), want)
            << target << " " << InsertPositionTexts[position];
    }
}

// Under a movie cut to start 0.5 s into its file, a new overlay, sound or filter starts and ends
// with what is seen of the movie, not half a second before it.
TEST(AddObjectCreate, EffectsUnderATrimmedMovieStartWithTheVisibleClip) {
    TDialogProject p;
    TTreeNodeData* track = p.Root->VideoTrack;
    track->AddNode("Black", amLastChild, nkBlank); // the movie starts at 1 s
    const std::string avi = p.File("clip.avi");
    TNumberedMovieSpec spec{.Frames = 30};
    MakePcmFormat(spec.Sound, 22050, 1, 16);
    spec.Samples = 22050 * 3;
    BuildAvi(NumberedMovieSpec(spec)).Save(avi);
    TTreeNodeData* made = nullptr;
    const TCreateInfo video{nkVideo, {}}, sound{nkAudio, {}};
    p.Ui.FileAnswers = {avi};
    ASSERT_EQ(CreateChosenObject({p.Root.get(), track->Item, 0, &video, "Video", &p.Ui, {}}, made),
              TAddOutcome::Created);
    auto* movie = static_cast<TCustomDurableNode*>(made);
    movie->ClipRange.FromStart = false;
    movie->ClipRange.InTime = 0.5L;
    p.Root->Refresh();
    ASSERT_NEAR(double(movie->GetStartTime()), 1.0, 1e-9);
    ASSERT_NEAR(double(movie->GetDuration()), 2.5, 1e-9);
    const TKindItem all = BuildKindTree(0, BuiltInList());
    std::vector<std::pair<const TCreateInfo*, std::string>> kinds = {
        {&*all.Children[8].Children.at(0).Info, all.Children[8].Children.at(0).Text},
        {&*all.Children[10].Children.at(0).Info, all.Children[10].Children.at(0).Text},
        {&sound, "Audio"}};
    for (const auto& [info, text] : kinds) {
        SCOPED_TRACE(text);
        if (info == &sound)
            p.Ui.FileAnswers = {avi};
        ASSERT_EQ(CreateChosenObject({p.Root.get(), movie->Item, 0, info, text, &p.Ui, {}}, made),
                  TAddOutcome::Created);
        EXPECT_NEAR(double(made->GetStartTime()), 1.0, 1e-9);
        if (info != &sound) { // a sound lasts as long as its own file
            EXPECT_NEAR(double(made->GetEndTime()), double(movie->GetEndTime()), 1e-6);
        }
    }
}

// The demonstration clip made at build time reads back with picture and sound, and every
// effect's example draws on it.
TEST(AddObjectExample, DemoClipAndEveryEffect) {
    TAviReader reader;
    ASSERT_TRUE(reader.Open(TARVOLIN_DEMO_BIN));
    EXPECT_EQ(reader.GetWidth() * 1000 + reader.GetHeight(), 160120);
    EXPECT_EQ(reader.GetFrameCount(), 40);
    EXPECT_TRUE(reader.HasAudio());
    TBitmap plain(160, 120), frame(160, 120);
    ASSERT_TRUE(reader.GetFrame(1, plain));
    // The square moved four pixels on: its white edge starts at x = 4, under it the bars.
    for (auto [x, colour] : {std::pair{4, 0xFFFFFFu}, {2, 0xFFFFFFu}, {10, 0u}})
        EXPECT_EQ(plain.Canvas().GetPixel(x, 50), colour) << x;

    TDialogProject p;
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
                reader.GetFrame(example.GetFrame(), frame);
                differs = false;
                for (int32_t y = 0; y < 120 && !differs; ++y)
                    differs = memcmp(example.GetBitmap().ScanLine(y), frame.ScanLine(y), 480) != 0;
            }
            // A transition of a frame into itself shows that frame, and a colour filter's
            // colour is black in the example: nothing to see there.
            EXPECT_TRUE(differs || e.Info->Kind == nkTransition ||
                        e.Text == "Light temperature adjustment")
                << e.Text;
            changed += differs;
        }
    EXPECT_EQ(effects, 22);
    EXPECT_GE(changed, 18);
    example.Free();
    EXPECT_EQ(blank->GetChildCount(), 0);
}

TEST(AddObjectExample, DragAndTextFollowTheClip) {
    TDialogProject p;
    TAddObjectExample example(TARVOLIN_DEMO_BIN);
    TAddOnPreviewScope preview;
    const TCreateInfo blank{nkBlank, {}};
    ASSERT_TRUE(example.Build(*p.Root, p.Root->VideoTrack->Item, blank, "Black"));
    example.Drag(7, -3);
    for (int i = 0; i < 38; ++i)
        example.Tick(10, true, 25, false);
    // Frames run 1..38 and wrap to 0 after 38 (40 frames, two kept back).
    EXPECT_EQ(example.GetFrame() * 10 + example.GetTextCounter(), 381);
    example.Tick(10, true, 25, false);
    EXPECT_EQ(example.GetFrame() * 10 + example.GetTextCounter(), 2);
    const auto& a = AddOnPreview;
    EXPECT_EQ(std::vector<int64_t>({a.Info.X, a.Info.Y, a.Width, a.Height}),
              std::vector<int64_t>({57, 47, 32, 24}));
    EXPECT_EQ(a.Info.Sizing, 0.2L);
    ASSERT_TRUE(a.Info.Lines);
    EXPECT_EQ(*a.Info.Lines, ExampleLines(2));
    example.Tick(0, true, 25, false); // the smallest size still leaves one pixel
    ASSERT_TRUE(a.Picture);
    EXPECT_EQ(a.Picture->Width() * 10 + a.Picture->Height(), 11);
    // Without the clip nothing is ever drawn.
    TAddObjectExample none("/nonexistent/demo.bin");
    EXPECT_FALSE(none.HasClip());
    EXPECT_TRUE(none.Build(*p.Root, p.Root->VideoTrack->Item, blank, "Black"));
    EXPECT_FALSE(none.Tick(25, true, 25, true));
}

// A file the object cannot read adds nothing: the dialog stays, and the user learns which file
// failed and why.
TEST(AddObjectCreate, UnreadableSourceAddsNothing) {
    TDialogProject p;
    TTreeNodeData* track = p.Root->VideoTrack;
    const std::vector<uint8_t> good = BuildAvi(NumberedMovieSpec({})).Bytes;
    const std::string half = p.File("half.avi"), empty = p.File("empty.avi");
    const std::string wav = p.File("empty.wav"), gone = p.File("gone.avi");
    SaveBytes(half, std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    SaveBytes(empty, {});
    SaveBytes(wav, {});
    const TCreateInfo video{nkVideo, {}}, audio{nkAudio, {}}, music{nkMusic, {}};
    const std::pair<const TCreateInfo*, std::string> cases[] = {
        {&video, half}, {&video, empty}, {&audio, empty}, {&music, wav}, {&video, gone}};
    for (const auto& [info, file] : cases) {
        p.Ui.Messages.clear();
        p.Ui.FileAnswers = {file};
        TTreeNodeData* made = nullptr;
        EXPECT_EQ(
            CreateChosenObject({p.Root.get(), track->Item, 0, info, "Video", &p.Ui, {}}, made),
            TAddOutcome::Refused)
            << file;
        EXPECT_EQ(made, nullptr);
        EXPECT_EQ(track->GetChildCount(), 0) << file;
        ASSERT_EQ(p.Ui.Messages.size(), 1u) << file;
        const std::string& text = p.Ui.Messages[0];
        const std::string head = (file == gone ? "Can not find file " : "Can not open ") + file;
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
        // The reason follows on its own line.
        if (file != gone) {
            ASSERT_GT(text.size(), head.size() + 1) << text;
            EXPECT_EQ(text[head.size()], '\n') << text;
        }
        if (file == empty && info == &video) {
            EXPECT_EQ(text, head + "\nThe file is empty (" + file + ")");
        }
    }
    // The whole file is added as before.
    SaveBytes(half, good);
    p.Ui.FileAnswers = {half};
    TTreeNodeData* made = nullptr;
    EXPECT_EQ(CreateChosenObject({p.Root.get(), track->Item, 0, &video, "Video", &p.Ui, {}}, made),
              TAddOutcome::Created);
    EXPECT_GT(made->GetDuration(), 0);
}
