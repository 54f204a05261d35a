// A video object: frames and sound of an AVI movie placed on the project's time axis.
#pragma once

#include "MyTreeNode.h"

class TMovieNode : public TMasterNode {
public:
    TMovieNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    bool UseAudio = true;
    // Stored and read back; no other use.
    Extended ReservedValue = 0;
    TTimeData* BalanceCurve = nullptr;
    TTimeData* VolumeCurve = nullptr;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
