// The project tree's rules without the tree widget: which moves the up and down buttons allow,
// which nodes may be deleted, where a dragged item lands and what is asked first, which dropped
// file becomes a video, and the icon list with its red-framed sealed half.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MyGraphics.h"

class TTreeNodeData;
class TProjectNode;

// Item attach modes of a move.
enum TAttachMode : int {
    taLastSibling = 0,
    taLastChild = 2,
    taFirstChild = 3,
    taInsertBefore = 4,
};

struct TUpDownState {
    bool Up = false;
    bool Down = false;
};
// node: the active node; focused: the tree has the keyboard focus.
TUpDownState GetUpDownState(TTreeNodeData* node, bool focused);

// Why the node can not be deleted (the message shown), or nothing when it can.
std::optional<std::string> DeleteRefusal(TTreeNodeData* node, const TProjectNode* project);
std::string DeleteQuestion(const std::string& itemText);

// Whether dragged node s may be dropped on t.
bool TreeDragAccept(TTreeNodeData* s, TTreeNodeData* t);

// Where an accepted drop goes: Target and Mode, or a question whose Yes is AskYes and No AskNo.
struct TTreeDropChoice {
    TTreeNodeData* Target = nullptr;
    int Mode = taLastSibling;
    bool Ask = false;
    std::string Question;
    int AskYes = taLastSibling;
    int AskNo = taFirstChild;
};
TTreeDropChoice TreeDropChoice(TTreeNodeData* s, TTreeNodeData* t, const std::string& sText,
                               const std::string& tText);
// Moves s's item (its node with it) to target with mode.
void MoveNodeByMode(TTreeNodeData* s, TTreeNodeData* target, int mode);

// The first file that exists and ends in ".avi" (any case), or nothing.
std::optional<std::string> PickDroppedMovie(const std::vector<std::string>& files);
std::string SealedTrackText(const std::string& itemText);

// The tree's icons: 20 folder slots (closed at i, open at i + 10), the effect icons from 20,
// then all of them again with a one-pixel red frame for sealed nodes.
constexpr int TreeIconSize = 16;
std::vector<TBitmap> PrepareTreeIcons(const std::vector<TBitmap>& folderIcons,
                                      const std::vector<TBitmap>& effectIcons);
// The design-time icon lists, drawn in code.
std::vector<TBitmap> MakeFolderIcons();
std::vector<TBitmap> MakeEffectIcons();
