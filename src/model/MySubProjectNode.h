// A sub-project: a sealed folder whose children come from another project file.
#pragma once

#include "MyTreeNode.h"

class TSubProjectNode : public TCustomFolderNode {
public:
    TSubProjectNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // Always sealed: its children belong to the other file.
    bool GetSealed() override { return true; }
    void SetSealed(bool) override {}

protected:
    void WriteBefore(TValueWriter& writer) const override;
    void ReadBefore(TValueReader& reader) override;
    bool StoresChildren() const override { return false; }
};
