// The project root: the top node of the tree, holding the output settings every node renders
// to (frame rate and frame size) and the references to the active and the edited node.
#pragma once

#include <memory>

#include "MyTreeNode.h"

class IUiServices;
class TAddOnManager;

class TCustomProjectNode : public TCustomFolderNode {
public:
    TCustomProjectNode(const std::string& caption, ITreeItem* item);
    ~TCustomProjectNode() override;

    Extended FrameRate = 15.0L;
    int32_t Width = 320;
    int32_t Height = 240;
    // The node chosen in the tree or timeline, and the node open in the curve editor.
    TTreeNodeData* ActiveNode = nullptr;
    TTreeNodeData* EditedNode = nullptr;
    // How the engine reaches the user; set by the owner of the root (may be null in tests).
    IUiServices* Ui = nullptr;

    // Creates the add-ons that effect nodes ask for; made with the root, freed after the tree.
    std::unique_ptr<TAddOnManager> AddOnManager;
    // True while frames go to the movie writer (an export); effects then leave out what only
    // the editor should see.
    virtual bool IsWriterTarget() const { return false; }

    // Output settings, as stored in the project file.
    bool AudioOn = true;
    int32_t SizePresetId = 0;
    int64_t AudioMode = 1; // 1 = PCM
    int32_t RatePresetId = 0;
    TAudioFormat AudioFormat{};
    uint32_t VideoFourCC = 0; // 0 = uncompressed
    std::string CompressorName;
    bool WMOutput = false;
    std::string WMProfile;

    // Format version of the last project file read.
    static int32_t FormatVersionRead;

    // The whole project as a file image: header and the root's record.
    void SaveToStream(std::vector<uint8_t>& stream) const;
    // False when the file is refused (unknown format, newer version); read errors raise, and
    // leave the root without children.
    bool LoadFromStream(const std::vector<uint8_t>& stream);

    // The frame rate nodes work with: 1.0 while the add-on preview runs.
    Extended GetFrameRate() const { return AddOnPreview.Active ? 1.0L : FrameRate; }
    void GetFrameRect(TRectI& rect) override;
    // Called by every node as it is destroyed, so the root holds no dangling reference.
    virtual void ForgetNode(TTreeNodeData* node);
    // Marks a node active (at most one); the root itself can not be marked.
    void SetActiveNode(TTreeNodeData* node);
    // t moved onto the frame grid; 0 without a frame rate or for a negative result.
    Extended SnapTime(Extended t) const;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};

class TProjectNode : public TCustomProjectNode {
public:
    TProjectNode(const std::string& caption, ITreeItem* item);
};
