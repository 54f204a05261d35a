// The project tree: the common node class, the class tree built on it, the node kinds and the
// factory that creates a child by kind, flags inherited from ancestors, the standard curves,
// the recursive curve update and the parameter snapshot handed to an effect.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ITreeItem.h"
#include "MyBase.h"
#include "MyCommonParams.h"
#include "MyGraphics.h"
#include "MyStopList.h"
#include "MyTimeData.h"

class TCustomProjectNode;
struct TPictureControl;
class TValueWriter;
class TValueReader;
class TTransNode;

// Node kinds, as stored in project files.
enum : uint8_t {
    nkNone = 0,
    nkProject = 1,
    nkGroup = 2,
    nkVideoTrack = 3,
    nkVideo = 4,
    nkFilter = 5,
    nkTransition = 6,
    nkOverlay = 7,
    nkBlank = 9,
    nkClip = 10,
    nkAudio = 11,
    nkMusic = 12,
    nkSubProject = 13,
    nkWarp = 14,
};

// AddNode placement modes.
enum : int { amLastChild = 0, amLastSibling = 1, amAfterInTree = 2, amBeforeSibling = 3 };

constexpr uint32_t clDefaultNode = 0xAFEBF5;
constexpr uint32_t clDisabledNode = 0x808080;

// Tree image index of each kind (-1: no kind).
int KindImageIndex(uint8_t kind);

using TRectI = TRect;

// Parameter snapshot a node hands to its effect for the current time.
struct TNodeInfo {
    int32_t X = 0;
    int32_t Y = 0;
    Extended Sizing = 0;
    Extended Level = 0;
    uint32_t Color = 0;
    const std::vector<std::string>* Lines = nullptr;
    const TFontInfo* Font = nullptr;
    bool IsEdited = false;
    TTimeDataSet* Curves = nullptr;
};

// Context of the add-object dialog's effect preview. While Active, the project rate reads 1.0,
// node snapshots come from Info, and readers report Width x Height. Width and Height are fields
// of their own here, never laid over other data.
struct TAddOnPreviewContext {
    bool Active = false;
    TNodeInfo Info;
    int32_t Width = 0;
    int32_t Height = 0;
    TBitmap* WorkBitmap = nullptr;
    TBitmap* Picture = nullptr;
};
extern TAddOnPreviewContext AddOnPreview;

// Sets AddOnPreview.Active for one scope and clears it on every way out.
class TAddOnPreviewScope {
public:
    TAddOnPreviewScope() { AddOnPreview.Active = true; }
    ~TAddOnPreviewScope() { AddOnPreview.Active = false; }
    TAddOnPreviewScope(const TAddOnPreviewScope&) = delete;
    TAddOnPreviewScope& operator=(const TAddOnPreviewScope&) = delete;
};

// Audio handed from a node to the project root while a frame renders with sound.
struct TAudioSourceInfo;
// The handler takes the block (the source's buffer is moved out) and answers whether it was
// taken or the run goes on without it.
using TAudioHandler = std::function<bool(TAudioSourceInfo&)>;

class TTreeNodeData {
public:
    TTreeNodeData(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    virtual ~TTreeNodeData();
    TTreeNodeData(const TTreeNodeData&) = delete;
    TTreeNodeData& operator=(const TTreeNodeData&) = delete;

    // ---- fields ----
    std::vector<std::string> Description;
    Extended StartTime = 0;
    bool Enabled = true;
    bool PositionLocked = false;
    uint32_t Color = clDefaultNode;
    std::string Id;
    bool Sealed = false;
    uint8_t Kind = nkNone;
    std::string AddOnName;
    ITreeItem* Item = nullptr;
    Extended NaturalDuration = 0;
    Extended Offset = 0;
    TCustomProjectNode* Project = nullptr;
    std::string FileName;
    // A media file named by a loaded project but missing on disk: kept so saving writes it
    // back, while the node behaves as having no file.
    std::string MissingFileName;
    std::unique_ptr<TTimeDataSet> Curves;
    bool OffsetApplies = false;
    bool SaveFileName = true;
    TRectI TrackRect;
    bool Active = false;
    bool AutoDuration = true;
    Extended UserDuration = 0;
    std::unique_ptr<TStopList> Pegs;
    int ImageIndex = 0;

    // ---- virtual operations ----
    virtual Extended GetDuration();
    virtual Extended GetStartTime();
    virtual bool GetSealed();
    virtual void SetSealed(bool value) { Sealed = value; }
    virtual void ResetLinks();
    virtual void Calculate();
    virtual void Layout(Extended start);
    virtual void GetFrameRect(TRectI& rect);
    virtual int32_t GetFrameHeight();
    virtual int32_t GetFrameWidth();
    virtual uint8_t GetExternalKind() { return 0; }
    virtual bool HasAudio() { return false; }
    virtual Extended GetOffset() { return Offset; }
    virtual void SetOffset(Extended value);
    virtual void Unlink();
    virtual void Changed();
    virtual void SetFileName(const std::string& name);
    virtual Extended GetSourceOffset();
    virtual void BeginRender();
    virtual bool PrepareFrame(TBitmap* bitmap, Extended t);
    virtual bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t);
    virtual bool GetInfo(std::vector<std::string>& lines) { return false; }

    // ---- non-virtual operations ----
    TTreeNodeData* AddNode(const std::string& caption, int mode, uint8_t kind);
    bool PrepareAtStart(TBitmap* bitmap);
    TTreeNodeData* GetParent() const;
    int GetChildCount() const;
    TTreeNodeData* GetChild(int i) const;
    int GetIndex() const;
    std::string GetCaption() const;
    void SetCaption(const std::string& s);
    int GetTreeLevel() const;
    bool IsEnabled() const;
    bool IsPositionLocked() const;
    uint32_t GetDrawColor() const;
    Extended GetEndTime();
    void UpdateCurves(Extended t);
    bool GetNodeInfo(TNodeInfo& info);
    // Places a node just added under its parent between the parent's pegs (asks the user which
    // end a single peg marks).
    void PlaceBetweenPegs();
    // The offset that makes this node start at time t of the project. Effects under a movie with
    // an in point count their offset in the movie's source time, so it is not t minus the
    // parent's start there. Never negative.
    Extended OffsetForStart(Extended t);
    // A new effect starts where its parent is seen to start, also under a trimmed movie.
    void StartWithParent();
    // Turns marks read from a file into offsets, in this node and below (after layout).
    void ResolvePendingPegs();
    // Marks read from a sub-project's file, in this node and below, measure from base's start.
    void SetPendingPegBase(TTreeNodeData* base);
    // The name saving writes: the file in use, or the missing one it was loaded with.
    const std::string& GetStoredFileName() const {
        return FileName.empty() ? MissingFileName : FileName;
    }
    // Frame rate of the project (0 without a project).
    Extended ProjectFrameRate() const;

    // The node's record in a project file: class part before, common part with the children,
    // class part after.
    void SaveToWriter(TValueWriter& writer) const;
    void LoadFromReader(TValueReader& reader) { ReadRecord(reader, 0); }

    // Moves this node (item and ownership) under newParent at index among its children.
    void MoveTo(TTreeNodeData* newParent, int index);
    // Frees one child (and its subtree).
    void DeleteChild(TTreeNodeData* child);

protected:
    virtual void WriteBefore(TValueWriter&) const {}
    virtual void WriteAfter(TValueWriter&) const {}
    virtual void ReadBefore(TValueReader&) {}
    virtual void ReadAfter(TValueReader&) {}
    virtual void WriteCurves(TValueWriter& writer) const;
    virtual void ReadCurves(TValueReader& reader);
    // A sub-project's children come from its own file and are not stored with it.
    virtual bool StoresChildren() const { return true; }
    void ReadRecord(TValueReader& reader, int depth);
    // Where values of unknown number that end this node's record stop: the first value boundary
    // from which what the file must hold next reads. Raises EReadError when there is none.
    size_t FindEndOfStoredValues(const TValueReader& reader) const;

    // While the node is read: how many sibling records its parent reads after this one.
    int32_t RecordsAfter = 0;

    // Frees the children from the last to the first and then any child items left.
    void FreeChildren();
    // Takes ownership of a child created on one of this node's child items.
    void AdoptChild(std::unique_ptr<TTreeNodeData> child);

private:
    std::unique_ptr<TTreeNodeData> ReleaseChild(TTreeNodeData* child);
    std::vector<std::unique_ptr<TTreeNodeData>> OwnedChildren;
};

// The part of a source of length natural that a clip range keeps.
Extended CutDuration(const TPartialInfo& range, Extended natural);

// Start of a node placed relative to its parent: the parent's start plus the offset, less the
// parent's source cut (sounds and overlays).
Extended StartFromParent(TTreeNodeData* node);

// Deepest nesting of nodes a project file may hold.
constexpr int MaxNodeDepth = 100;
// The most values a file may store for an add-on the program does not offer: the add-ons write a
// handful, and the search for where their record ends tries the file's next values behind each.
constexpr size_t MaxUnknownAddOnValues = 1 << 16;

// Reads a Float that must be a finite number.
Extended ReadFiniteFloat(TValueReader& reader);
// Reads a count of items that follow; each takes at least one byte of what is left.
int32_t ReadCount(TValueReader& reader);

// Creates the node of a kind on an item (the factory's class choice; kinds 0 and 8 and above 14
// raise). Kind 1 is taken as a sub-project.
std::unique_ptr<TTreeNodeData> CreateNodeOfKind(uint8_t kind, TCustomProjectNode* project,
                                                const std::string& caption, ITreeItem* item);

// ---- class tree ---------------------------------------------------------------------------------

class TCustomDurableNode : public TTreeNodeData {
public:
    TCustomDurableNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    TAudioHandler AudioHandler;
    TPartialInfo ClipRange;

    Extended GetDuration() override;
    Extended GetSourceOffset() override;
    void SetAudioHandler(TAudioHandler handler) { AudioHandler = std::move(handler); }
    virtual bool OpenForRender(int32_t startFrame) { return false; }
    virtual void CloseAfterRender() {}
    virtual Extended GetNaturalDuration() { return UserDuration; }

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};

class TCustomTransableNode : public TCustomDurableNode {
public:
    using TCustomDurableNode::TCustomDurableNode;
    ~TCustomTransableNode() override;

    TTransNode* InTrans = nullptr;
    TTransNode* OutTrans = nullptr;

    Extended GetStartTime() override;
    void ResetLinks() override;
    void Calculate() override;
    void Layout(Extended start) override;

protected:
    void DropTransitionLinks();
};

class TMasterNode : public TCustomTransableNode {
public:
    using TCustomTransableNode::TCustomTransableNode;

    // Where the node shows its source frame before effects (set by the root), or null.
    TPictureControl* SourceFrameControl = nullptr;

    virtual int32_t GetSourceWidth() { return 320; }
    virtual int32_t GetSourceHeight() { return 240; }
    virtual void SetSourceFrameRate(Extended) {}
    virtual Extended GetSourceFrameRate() { return 0; }
};

class TCustomFolderNode : public TCustomTransableNode {
public:
    using TCustomTransableNode::TCustomTransableNode;

    // Copy of the duration computed by Calculate.
    Extended FolderDuration = 0;

    void Calculate() override;
    void Layout(Extended start) override;
    Extended GetNaturalDuration() override { return FolderDuration; }
    virtual void DeleteChildren() { FreeChildren(); }

private:
    void TakeTrackDuration(TTreeNodeData* child);
};

class TUserFolder : public TCustomFolderNode {
public:
    TUserFolder(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};

class TQueueFolder : public TCustomFolderNode {
public:
    TQueueFolder(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    bool PrepareFrame(TBitmap* bitmap, Extended t) override;
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;
};

class TCustomSoundNode : public TCustomDurableNode {
public:
    TCustomSoundNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // In a video track: its offset into the room the track gave it. Elsewhere: placed from the
    // parent's start and source cut.
    Extended GetStartTime() override;
    void Layout(Extended start) override;

private:
    // Where the video track's sequence reached when it laid this node out.
    Extended SlotStart = 0;
};
