#include "MyTreeCommands.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "MyEffectNodes.h"
#include "MyProjNode.h"

namespace {

bool IsTrack(const TTreeNodeData* n) {
    return dynamic_cast<const TQueueFolder*>(n) != nullptr;
}
bool IsMedia(const TTreeNodeData* n) {
    return dynamic_cast<const TMasterNode*>(n) != nullptr;
}
bool IsTransition(const TTreeNodeData* n) {
    return dynamic_cast<const TTransNode*>(n) != nullptr;
}
bool IsTransable(const TTreeNodeData* n) {
    return dynamic_cast<const TCustomTransableNode*>(n) != nullptr;
}
bool IsFolder(const TTreeNodeData* n) {
    return dynamic_cast<const TCustomFolderNode*>(n) != nullptr;
}
bool IsEffect(const TTreeNodeData* n) {
    return dynamic_cast<const TCustomAddOnsNode*>(n) != nullptr && !IsTransition(n);
}

bool IsWithin(const TTreeNodeData* n, const TTreeNodeData* ancestor) {
    for (const TTreeNodeData* p = n; p; p = p->GetParent())
        if (p == ancestor)
            return true;
    return false;
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

} // namespace

TUpDownState GetUpDownState(TTreeNodeData* node, bool focused) {
    TUpDownState st;
    TTreeNodeData* parent = node ? node->GetParent() : nullptr;
    if (!node || !node->Item || !parent || !focused)
        return st;
    const int level = node->GetTreeLevel();
    if (level < 1)
        return st;
    const int index = node->GetIndex();
    // The video track of the project and of a group stays their first child.
    const bool firstTrackSlot = index == 1 && (level == 1 || dynamic_cast<TUserFolder*>(parent));
    st.Up = index > 0 && !firstTrackSlot;
    st.Down = index < parent->GetChildCount() - 1 && !IsTrack(node);
    return st;
}

std::optional<std::string> DeleteRefusal(TTreeNodeData* node, const TProjectNode* project) {
    if (node == project)
        return std::string("Can not delete project node");
    if (project && node == project->VideoTrack)
        return std::string("Can not delete Master folder node");
    if (IsTrack(node))
        return std::string("Can not delete Queue node");
    return std::nullopt;
}

std::string DeleteQuestion(const std::string& itemText) {
    return "Delete selected object (" + itemText + ")?";
}

bool TreeDragAccept(TTreeNodeData* s, TTreeNodeData* t) {
    if (!s || !t || s == t || s->Kind == nkProject || IsTrack(s) || !s->GetParent())
        return false;
    // Never into the dragged node's own subtree: that would make a cycle.
    if (IsWithin(t, s))
        return false;
    if (IsTransition(s) || IsTransable(s))
        return t->GetParent() && (IsMedia(t) || IsTransition(t) || IsTrack(t));
    if (IsEffect(s))
        return IsMedia(t) || IsTransition(t) || (IsFolder(t) && !IsTrack(t));
    return false;
}

TTreeDropChoice TreeDropChoice(TTreeNodeData* s, TTreeNodeData* t, const std::string& sText,
                               const std::string& tText) {
    TTreeDropChoice c;
    c.Target = t;
    if (IsTransition(s) || IsTransable(s)) {
        c.Mode = IsTrack(t) ? taLastChild : IsTransable(t) ? taInsertBefore : taLastSibling;
    } else if (!t->GetParent()) {
        // Onto the project: right after its video track.
        auto* project = dynamic_cast<TProjectNode*>(t);
        TTreeNodeData* track = project ? project->VideoTrack : nullptr;
        const int next = track ? track->GetIndex() + 1 : t->GetChildCount();
        if (next < t->GetChildCount()) {
            c.Target = t->GetChild(next);
            c.Mode = taInsertBefore;
        } else {
            c.Mode = taLastChild;
        }
    } else if (IsMedia(t)) {
        c.Mode = taLastChild;
    } else if (t->GetSealed()) {
        c.Mode = taLastSibling;
    } else {
        c.Ask = true;
        c.Question = "Place " + Quoted(sText) + " as sibling of " + Quoted(tText) +
                     "?\nPress [No] to place " + Quoted(sText) + " as child of " + Quoted(tText) +
                     ".";
    }
    if (t->GetSealed()) {
        c.Ask = false;
        c.Target = t;
        c.Mode = taLastSibling;
    }
    return c;
}

void MoveNodeByMode(TTreeNodeData* s, TTreeNodeData* target, int mode) {
    TTreeNodeData* parent =
        mode == taLastChild || mode == taFirstChild ? target : target->GetParent();
    if (!parent || IsWithin(parent, s))
        return;
    int index = 0;
    switch (mode) {
    case taLastChild:
        index = parent->GetChildCount();
        break;
    case taFirstChild:
        index = 0;
        break;
    case taInsertBefore:
        index = target->GetIndex();
        break;
    default:
        index = parent->GetChildCount();
        break;
    }
    // Leaving its place first shifts the later siblings.
    if (s->GetParent() == parent && s->GetIndex() < index)
        --index;
    s->MoveTo(parent, index);
}

std::optional<std::string> PickDroppedMovie(const std::vector<std::string>& files) {
    for (const std::string& f : files) {
        std::string ext = std::filesystem::path(f).extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        std::error_code ec;
        if (ext == ".avi" && std::filesystem::is_regular_file(f, ec))
            return f;
    }
    return std::nullopt;
}

std::string SealedTrackText(const std::string& itemText) {
    return "Can not insert new child. " + itemText + " is sealed!";
}

// ---- icons ----------------------------------------------------------------------------------

namespace {

TBitmap Copy(const TBitmap& src) {
    TBitmap b;
    b.Assign(src);
    return b;
}

} // namespace

std::vector<TBitmap> PrepareTreeIcons(const std::vector<TBitmap>& folderIcons,
                                      const std::vector<TBitmap>& effectIcons) {
    std::vector<TBitmap> icons;
    for (const TBitmap& b : folderIcons)
        icons.push_back(Copy(b));
    while (icons.size() < 20 && !folderIcons.empty())
        icons.push_back(Copy(folderIcons[0]));
    for (const TBitmap& b : effectIcons)
        icons.push_back(Copy(b));
    const size_t plain = icons.size();
    for (size_t i = 0; i < plain; ++i) {
        TBitmap framed = Copy(icons[i]);
        framed.Canvas().Brush.Color = 0x0000FF;
        framed.Canvas().FrameRect(Rect(0, 0, framed.Width(), framed.Height()));
        icons.push_back(std::move(framed));
    }
    return icons;
}

namespace {

TBitmap Blank() {
    TBitmap b;
    b.SetSize(TreeIconSize, TreeIconSize);
    b.Canvas().Brush.Color = 0xFFFFFF;
    b.Canvas().FillRect(Rect(0, 0, TreeIconSize, TreeIconSize));
    return b;
}

TBitmap Folder(uint32_t color, bool open) {
    TBitmap b = Blank();
    TCanvas& c = b.Canvas();
    c.Pen.Color = 0x404040;
    c.Brush.Color = color;
    c.Rectangle(1, 3, 8, 6); // tab
    c.Rectangle(1, 5, 15, 14);
    if (open) {
        c.Brush.Color = 0xFFFFFF;
        c.Rectangle(4, 8, 15, 14);
    }
    return b;
}

TBitmap Badge(uint32_t color, const char* letter) {
    TBitmap b = Blank();
    TCanvas& c = b.Canvas();
    c.Pen.Color = 0x404040;
    c.Brush.Color = color;
    c.Rectangle(1, 1, 15, 15);
    c.Font.Size = 7;
    c.Font.Color = 0xFFFFFF;
    c.TextOut(4, 1, letter);
    return b;
}

} // namespace

std::vector<TBitmap> MakeFolderIcons() {
    // Slots 0-9 closed, 10-19 open: project, group, video track and sub-project have their own.
    const uint32_t colors[10] = {0x00C0FF, 0x0080FF, 0x00C0C0, 0x40A040, 0xC08040,
                                 0x00C0FF, 0x00C0FF, 0x00C0FF, 0x00C0FF, 0x00C0FF};
    std::vector<TBitmap> icons;
    for (int open = 0; open < 2; ++open)
        for (uint32_t color : colors)
            icons.push_back(Folder(color, open != 0));
    return icons;
}

std::vector<TBitmap> MakeEffectIcons() {
    // In image-index order from 20: video, bitmap clip, black frames, fast/slow motion, audio,
    // music, filter, overlay, transition.
    const std::pair<uint32_t, const char*> badges[] = {
        {0x804000, "V"}, {0x008040, "P"}, {0x202020, "B"}, {0x800080, "W"}, {0x008000, "A"},
        {0x006080, "M"}, {0x0000A0, "F"}, {0xA00000, "O"}, {0x606000, "T"},
    };
    std::vector<TBitmap> icons;
    for (const auto& [color, letter] : badges)
        icons.push_back(Badge(color, letter));
    return icons;
}
