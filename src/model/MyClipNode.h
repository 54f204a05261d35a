// A bitmap clip: a folder of still pictures played at a chosen rate.
#pragma once

#include "MyTreeNode.h"

class TClipNode : public TMasterNode {
public:
    TClipNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // Pictures per second; 0 while unset.
    Extended ClipRate = 0;
    std::string Folder;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
