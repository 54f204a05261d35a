// A sub-project: a sealed folder whose children come from another project file. Only the file's
// name is stored with it; the tree is read again from that file each time the project opens.
#pragma once

#include "MyTreeNode.h"

class TSubProjectNode : public TCustomFolderNode {
public:
    // Sub-projects inside sub-projects deeper than this are left empty.
    static constexpr int MaxSubProjectDepth = 16;

    TSubProjectNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // Always sealed: its children belong to the other file.
    bool GetSealed() override { return true; }
    void SetSealed(bool) override {}
    // Replaces the children by the tree of the named project file. A file that is missing,
    // unreadable, of another kind, newer, or that includes itself (directly or through other
    // sub-projects) leaves the sub-project empty, with a load message saying why.
    void SetFileName(const std::string& name) override;

    // Placing file as a sub-project of the project saved as projectFile would bring that project
    // back inside itself: the file whose sub-project points back to it. Empty when not.
    static std::string FindCycle(const std::string& file, const std::string& projectFile);
    // Saving the tree under root as fileName would make that file contain itself, directly or
    // through the files of its sub-projects: the words that tell the user so. Empty when not.
    static std::string SaveCycleText(TTreeNodeData* root, const std::string& fileName);

protected:
    void WriteBefore(TValueWriter& writer) const override;
    void ReadBefore(TValueReader& reader) override;
    bool StoresChildren() const override { return false; }

private:
    // Reads the root record of the file in bytes into this node; false with a load message.
    bool LoadTree(const std::string& name, const std::vector<uint8_t>& bytes);

    // Set while this node reads its own file's root record, which has no file name in front.
    bool ReadingOwnFile = false;
};
