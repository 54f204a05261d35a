// Effect nodes: filters, overlays and transitions, whose work is done by an add-on object that
// the node owns and joins to the project through a bridge.
#pragma once

#include "MyTreeNode.h"

class TCustomAddOnsNode : public TTreeNodeData {
public:
    TCustomAddOnsNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    int32_t GetFrameHeight() override;
    int32_t GetFrameWidth() override;
    // Identifier of the bound add-on; empty without one.
    std::string GetAddOnID() const { return AddOnID; }

protected:
    void WriteBefore(TValueWriter& writer) const override;
    void ReadBefore(TValueReader& reader) override;
    // The add-on's own record.
    void WriteAddOnData(TValueWriter& writer) const;
    void ReadAddOnData(TValueReader& reader);

    std::string AddOnID;
};

class TFilterNode : public TCustomAddOnsNode {
public:
    TFilterNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    Extended GetDuration() override;
    Extended GetStartTime() override;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};

class TOverlayNode : public TCustomAddOnsNode {
public:
    TOverlayNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    TPartialInfo ClipRange;

    Extended GetDuration() override;
    Extended GetStartTime() override;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};

class TTransNode : public TCustomAddOnsNode {
public:
    TTransNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
    ~TTransNode() override;

    TCustomTransableNode* PrevClip = nullptr;
    TCustomTransableNode* NextClip = nullptr;

    Extended GetDuration() override;
    Extended GetStartTime() override;
    void ResetLinks() override;
    void Calculate() override;
    void Unlink() override;
    bool PrepareFrame(TBitmap*, Extended) override { return true; }
    // Side True sets the previous clip, False the next clip.
    void SetNeighbour(bool side, TCustomTransableNode* node);
    Extended GetLength() const { return UserDuration; }

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
