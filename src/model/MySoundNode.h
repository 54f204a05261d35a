// An audio object: sound from a WAV file or a movie's sound track.
#pragma once

#include "MyTreeNode.h"

class TSoundNode : public TCustomSoundNode {
public:
    TSoundNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);
};
