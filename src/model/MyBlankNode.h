// Black frames: a plain colour for a set time, with silence.
#pragma once

#include "MyTreeNode.h"

class TBlankNode : public TMasterNode {
public:
    TBlankNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // The fill colour, 0x00BBGGRR.
    uint32_t BlankColor = 0;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
