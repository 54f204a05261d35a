// Effect nodes: filters, overlays and transitions, whose work is done by an add-on object that
// the node owns and joins to the project through a bridge.
#pragma once

#include <memory>
#include <vector>

#include "MyGraphics.h"
#include "MyTreeNode.h"

class TAddOnBridge;
class TCustomAddOn;
class TCustomFilter;
class TCustomOverlay;
class TCustomTransition;

class TCustomAddOnsNode : public TTreeNodeData {
public:
    TCustomAddOnsNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    ~TCustomAddOnsNode() override;

    // The bridge outlives the add-on: members go in reverse order.
    std::unique_ptr<TAddOnBridge> Bridge;
    std::unique_ptr<TCustomAddOn> AddOn;

    // Binds the add-on of that identifier through the project's add-on manager; an identifier
    // the manager does not offer leaves the node without add-on.
    void SetAddOn(const std::string& id);
    // Identifier of the bound add-on; empty without one.
    std::string GetAddOnID() const;
    // The identifier a file named for this node when the manager does not offer it; empty
    // otherwise.
    std::string GetUnboundID() const;

    int32_t GetFrameHeight() override;
    int32_t GetFrameWidth() override;
    uint8_t GetExternalKind() override;

protected:
    void WriteBefore(TValueWriter& writer) const override;
    void ReadBefore(TValueReader& reader) override;
    void WriteCurves(TValueWriter& writer) const override;
    void ReadCurves(TValueReader& reader) override;
    // The add-on's own record.
    void WriteAddOnData(TValueWriter& writer) const;
    void ReadAddOnData(TValueReader& reader);

private:
    // What a file stored for an add-on the manager does not offer (one from a library that is
    // not loaded here), kept as encoded so that saving writes it back unchanged: the identifier,
    // the curves the add-on had registered and the add-on's own record.
    struct TUnboundRecord {
        std::vector<uint8_t> ID, Curves, Data;
    };
    std::unique_ptr<TUnboundRecord> Unbound;
};

class TFilterNode : public TCustomAddOnsNode {
public:
    TFilterNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    TCustomFilter* GetFilter() const;

    Extended GetDuration() override;
    Extended GetStartTime() override;
    void BeginRender() override;
    bool PrepareFrame(TBitmap* bitmap, Extended t) override;
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;

private:
    bool RunFilter(TBitmap* bitmap, Extended t);
};

class TOverlayNode : public TCustomAddOnsNode {
public:
    TOverlayNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    TPartialInfo ClipRange;

    TCustomOverlay* GetOverlay() const;

    Extended GetDuration() override;
    Extended GetStartTime() override;
    void SetFileName(const std::string& name) override;
    bool GetInfo(std::vector<std::string>& lines) override;
    bool PrepareFrame(TBitmap* bitmap, Extended t) override;
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;

private:
    // Frame numbers and local time of t; False when t lies past the clip range's end.
    bool FrameAt(Extended& t, int32_t& frame, int32_t& sourceFrame);
};

class TTransNode : public TCustomAddOnsNode {
public:
    TTransNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    ~TTransNode() override;

    // Work pictures of the two clips, kept from frame to frame at the size of the target.
    TBitmap FromBitmap;
    TBitmap ToBitmap;
    TCustomTransableNode* PrevClip = nullptr;
    TCustomTransableNode* NextClip = nullptr;

    TCustomTransition* GetTransition() const;

    Extended GetDuration() override;
    Extended GetStartTime() override;
    void ResetLinks() override;
    void Calculate() override;
    void Unlink() override;
    bool PrepareFrame(TBitmap*, Extended) override { return true; }
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;
    // Side True sets the previous clip, False the next clip.
    void SetNeighbour(bool side, TCustomTransableNode* node);
    Extended GetLength() const { return UserDuration; }
    // How far the transition has got at t, 0..1; a transition without length is complete.
    Extended GetProgress(Extended t);

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
