// The add-object dialog's plain side: the kind tree, the insert positions, the creation of the
// chosen object and the live example on the demonstration clip.
#include <filesystem>

#include "DlgAddObject.h"
#include "IUiServices.h"
#include "MyAVIReader.h"
#include "MyCommonServices.h"
#include "MyEffectNodes.h"
#include "MyExceptions.h"
#include "MyProjNode.h"
#include "MyPropDlg.h"

namespace {

struct TPlainKind {
    const char* Text;
    uint8_t Kind;
};

// "Black frames" and "Bitmap Clips" stand in for a video where nothing else would.
bool PlainKindOffered(TNodeKindSet kinds, uint8_t kind) {
    switch (kind) {
    case nkBlank:
        return KindAllowed(kinds, nkBlank) || KindAllowed(kinds, nkVideo);
    case nkClip:
        return KindAllowed(kinds, nkClip) || KindAllowed(kinds, nkBlank) ||
               KindAllowed(kinds, nkVideo);
    default:
        return KindAllowed(kinds, kind);
    }
}

std::string FileNameOnly(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// The file a video, sound or music object is made from; nothing when the user cancelled.
std::optional<std::string> AskSourceFile(uint8_t kind, IUiServices* ui) {
    const bool movie = kind == nkVideo;
    const char* value = movie ? "MovieFile" : "SoundFile";
    const std::string start = Settings ? Settings->ReadString("Recents", value, "") : "";
    std::optional<std::string> name;
    if (!ui)
        return name;
    if (movie)
        name = ui->OpenFileDialog("Select Movie", {{"Movie (*.avi)", "*.avi"}, {"All files", "*"}},
                                  start);
    else
        name = ui->OpenFileDialog("Select sound file",
                                  {{"All sound track ", "*.avi *.wav"},
                                   {"Movie (*.avi)", "*.avi"},
                                   {"PCM audio(*.wav)", "*.wav"},
                                   {"All files", "*"}},
                                  start);
    if (name && Settings)
        Settings->WriteString("Recents", value, *name);
    return name;
}

// Whether the new object could read the file it was given. A file that does not open was
// reported by the reader that tried it; a missing one (a name typed into the file dialog) is
// reported here, as nothing else says so.
bool SourceOpened(TTreeNodeData* node, const std::string& file, IUiServices* ui) {
    if (FileExists(file))
        return SourceLoaded(node);
    if (ui)
        ui->ShowMessage("Can not find file " + file, TMsgKind::Error);
    return false;
}

bool IsEffectKind(uint8_t kind) {
    return kind == nkFilter || kind == nkTransition || kind == nkOverlay;
}

void BindAddOn(TTreeNodeData* node, const std::string& id) {
    if (auto* effect = dynamic_cast<TCustomAddOnsNode*>(node)) {
        effect->SetAddOn(id);
        node->SetCaption(effect->AddOnName);
    }
}

// The new object at the chosen position. "After the selected node" means beside it, right
// behind it among its siblings: the factory's own "after" follows the tree order, which puts the
// object under a target that has children (a clip with its overlay) or out of the target's
// group when the target is the group's last child.
TTreeNodeData* AddAtPosition(const TAddRequest& rq, int position, uint8_t kind) {
    ITreeItem* target = rq.Target;
    if (position == amAfterInTree) {
        const int next = target->GetIndex() + 1;
        if (next < target->GetSiblingCount())
            return rq.Project->AddChild(amBeforeSibling, kind, target->GetSiblingItem(next),
                                        rq.Caption);
        position = amLastSibling;
    }
    return rq.Project->AddChild(position, kind, target, rq.Caption);
}

} // namespace

const char* const InsertPositionTexts[4] = {"as a child of the selected node",
                                            "at the end of the list", "after the selected node",
                                            "before the selected node"};

bool KindAllowed(TNodeKindSet kinds, uint8_t kind) {
    return kinds == 0 || (kind < 16 && (kinds >> kind) & 1u);
}

TKindItem BuildKindTree(TNodeKindSet kinds, const std::vector<TAddOnListItem>& addons) {
    static const TPlainKind plain[] = {
        {"Video", nkVideo}, {"Fast/Slow-motion video", nkWarp}, {"Music-clip base", nkMusic},
        {"Audio", nkAudio}, {"Black frames", nkBlank},          {"Bitmap Clips", nkClip},
        {"Group", nkGroup}, {"Sub-project", nkSubProject}};
    TKindItem root{"Root", std::nullopt, {}};
    for (const TPlainKind& p : plain)
        if (PlainKindOffered(kinds, p.Kind))
            root.Children.push_back({p.Text, TCreateInfo{p.Kind, {}}, {}});
    // Folder of each add-on type (overlay 1, filter 2, transition 3), or -1 when not offered.
    int folder[4] = {-1, -1, -1, -1};
    const std::pair<const char*, uint8_t> folders[] = {
        {"Overlays", nkOverlay}, {"Transitions", nkTransition}, {"Filters", nkFilter}};
    const TAddOnType types[] = {atOverlay, atTransition, atFilter};
    for (int i = 0; i < 3; ++i)
        if (KindAllowed(kinds, folders[i].second)) {
            folder[types[i]] = static_cast<int>(root.Children.size());
            root.Children.push_back({folders[i].first, std::nullopt, {}});
        }
    for (const TAddOnListItem& entry : addons) {
        const TAddOnType type = entry.Info->GetType();
        if (type != atOverlay && type != atFilter && type != atTransition)
            throw Exception("Object kind unknown for ID=" + entry.Info->ID);
        if (folder[type] < 0)
            continue;
        const uint8_t kind = type == atOverlay  ? nkOverlay
                             : type == atFilter ? nkFilter
                                                : nkTransition;
        root.Children[folder[type]].Children.push_back(
            {entry.Name, TCreateInfo{kind, entry.Info->ID}, {}});
    }
    return root;
}

int CountKindItems(const TKindItem& item) {
    int n = 1;
    for (const TKindItem& c : item.Children)
        n += CountKindItems(c);
    return n;
}

bool CanHaveChildren(const TTreeNodeData* node) {
    return node && node->Kind != nkFilter && node->Kind != nkTransition;
}

int InitialInsertPosition(const TTreeNodeData* target) {
    return CanHaveChildren(target) ? amLastChild : amAfterInTree;
}

std::vector<std::string> ExampleLines(int textCounter) {
    std::vector<std::string> lines(2);
    for (int j = 0; j < 26; ++j) {
        lines[0] += static_cast<char>('a' + textCounter + j % 6);
        lines[1] += static_cast<char>('n' + textCounter + j / 4);
        if (j % 7 == 5) {
            lines[0] += ' ';
            lines[1] += ' ';
        }
    }
    return lines;
}

TAddOutcome CreateChosenObject(const TAddRequest& rq, TTreeNodeData*& newNode) {
    newNode = nullptr;
    if (!rq.Info)
        return TAddOutcome::Refused;
    auto* parent = rq.Target ? static_cast<TTreeNodeData*>(rq.Target->GetData()) : nullptr;
    if (!parent)
        throw Exception("TAddObjectDlg.bOKClick: To be parent node is nil");
    // Nothing stands beside the project.
    const int position = parent == rq.Project ? amLastChild : rq.Position;
    if (!CanHaveChildren(parent) && position == amLastChild) {
        if (rq.Ui)
            rq.Ui->ShowMessage("Node " + rq.Target->GetText() + " can not have children.",
                               TMsgKind::Information);
        return TAddOutcome::Refused;
    }
    const uint8_t kind = rq.Info->Kind;
    std::optional<std::string> file;
    if (kind == nkVideo || kind == nkAudio || kind == nkMusic) {
        file = AskSourceFile(kind, rq.Ui);
        if (!file)
            return TAddOutcome::Refused;
    }
    if (rq.BeforeCreate)
        rq.BeforeCreate();
    newNode = AddAtPosition(rq, position, kind);
    if (file) {
        newNode->SetFileName(*file);
        // An object without its source would sit on the track with no length.
        if (!SourceOpened(newNode, *file, rq.Ui)) {
            rq.Project->DiscardNode(newNode);
            return TAddOutcome::Refused;
        }
        const char* prefix = kind == nkVideo ? "Movie: " : kind == nkAudio ? "Sound: " : "Music: ";
        newNode->SetCaption(prefix + FileNameOnly(*file));
    }
    if (IsEffectKind(kind))
        BindAddOn(newNode, rq.Info->AddOnID);
    newNode->StartWithParent();
    rq.Project->Refresh();
    return TAddOutcome::Created;
}

// ---- the example --------------------------------------------------------------------------------

TAddObjectExample::TAddObjectExample(const std::string& demoFileName) {
    // A small checked still for add-ons that draw a picture of their own.
    StillImage.SetSize(16, 16);
    for (int y = 0; y < 16; ++y) {
        uint8_t* row = StillImage.ScanLine(y);
        for (int x = 0; x < 16; ++x) {
            const bool light = ((x / 4) + (y / 4)) % 2 == 0;
            row[x * 3 + 0] = light ? 0xF0 : 0x40;
            row[x * 3 + 1] = light ? 0xC0 : 0x20;
            row[x * 3 + 2] = light ? 0x30 : 0xA0;
        }
    }
    DemoLines = ExampleLines(0);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(demoFileName, ec))
        return;
    auto reader = std::make_unique<TAviReader>();
    if (!reader->Open(demoFileName) || reader->GetWidth() <= 0 || reader->GetHeight() <= 0)
        return;
    DemoBitmap.SetSize(reader->GetWidth(), reader->GetHeight());
    reader->GetFrame(0, DemoBitmap);
    DemoReader = std::move(reader);
}

TAddObjectExample::~TAddObjectExample() {
    Free();
    if (AddOnPreview.Picture == &OwnPicture)
        AddOnPreview.Picture = nullptr;
    if (AddOnPreview.WorkBitmap == &DemoBitmap)
        AddOnPreview.WorkBitmap = nullptr;
    if (AddOnPreview.Info.Lines == &DemoLines)
        AddOnPreview.Info.Lines = nullptr;
    if (AddOnPreview.Info.Font == &DemoFont)
        AddOnPreview.Info.Font = nullptr;
}

void TAddObjectExample::Free() {
    if (ExampleNode && Project)
        Project->DiscardNode(ExampleNode);
    ExampleNode = nullptr;
}

bool TAddObjectExample::Build(TProjectNode& project, ITreeItem* target, const TCreateInfo& info,
                              const std::string& caption) {
    Free();
    Project = &project;
    try {
        ExampleNode = project.AddChild(amLastChild, info.Kind, target, caption);
    } catch (const Exception&) {
        ExampleNode = nullptr;
    }
    if (!ExampleNode)
        return false;
    if (IsEffectKind(info.Kind))
        BindAddOn(ExampleNode, info.AddOnID);
    if (info.Kind == nkTransition)
        DemoFrame = 0;
    project.Refresh();
    // Effects that keep earlier frames start from none, as at the start of any render.
    ExampleNode->BeginRender();
    DragOffset = Point(50, 50);
    AddOnPreview.Info = TNodeInfo{};
    AddOnPreview.Info.X = DragOffset.X;
    AddOnPreview.Info.Y = DragOffset.Y;
    AddOnPreview.Info.Sizing = 1.0L;
    AddOnPreview.Width = DemoBitmap.Width();
    AddOnPreview.Height = DemoBitmap.Height();
    DemoLines = {"This is the first line", "and then the second line"};
    AddOnPreview.Info.Lines = &DemoLines;
    AddOnPreview.Info.Font = &DemoFont;
    return true;
}

bool TAddObjectExample::HasCurve(uint8_t kind) const {
    return ExampleNode && ExampleNode->Curves && ExampleNode->Curves->FindByKind(kind);
}

void TAddObjectExample::Drag(int dx, int dy) {
    DragOffset.X += dx;
    DragOffset.Y += dy;
}

void TAddObjectExample::PreparePicture(int w, int h) {
    if (!AddOnPreview.Picture)
        AddOnPreview.Picture = &OwnPicture;
    TBitmap& picture = *AddOnPreview.Picture;
    if (ExampleNode->Curves && ExampleNode->Curves->UsesPicture) {
        picture.SetSize(StillImage.Width(), StillImage.Height());
        picture.Canvas().Draw(0, 0, StillImage);
        return;
    }
    w = std::max(w, 1);
    h = std::max(h, 1);
    if (picture.Width() != w || picture.Height() != h)
        picture.SetSize(w, h);
    picture.Canvas().StretchDraw(Rect(0, 0, w, h), DemoBitmap);
}

bool TAddObjectExample::Tick(int sizingPos, bool sizingOn, int levelPos, bool levelOn) {
    if (!ExampleNode || !DemoReader)
        return false;
    if (++DemoFrame > DemoReader->GetFrameCount() - 2)
        DemoFrame = 0;
    DemoReader->GetFrame(DemoFrame, DemoBitmap);
    int w = DemoBitmap.Width();
    int h = DemoBitmap.Height();
    if (auto* trans = dynamic_cast<TTransNode*>(ExampleNode)) {
        trans->UserDuration = 25.0L;
    } else {
        w = DemoBitmap.Width() * sizingPos / SliderMax;
        h = DemoBitmap.Height() * sizingPos / SliderMax;
    }
    AddOnPreview.Info.X = DragOffset.X;
    AddOnPreview.Info.Y = DragOffset.Y;
    if (sizingOn) {
        AddOnPreview.Info.Sizing = static_cast<Extended>(sizingPos) / SliderMax;
        AddOnPreview.Width = w;
        AddOnPreview.Height = h;
    }
    if (levelOn)
        AddOnPreview.Info.Level = 2.0L * levelPos / SliderMax - 1.0L;
    PreparePicture(w, h);
    if (DemoFrame % 20 == 0) {
        if (++TextCounter > 9)
            TextCounter = 0;
        DemoLines = ExampleLines(TextCounter);
    }
    AddOnPreview.Info.Lines = &DemoLines;
    AddOnPreview.WorkBitmap = &DemoBitmap;
    if (ExampleNode->Kind != nkVideo)
        ExampleNode->RenderFrame(&DemoBitmap, false, true, static_cast<Extended>(DemoFrame));
    return true;
}
