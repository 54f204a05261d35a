// A music object: sound from a WAV file or a movie's sound track that runs under its children.
// It paints the frame grey and then renders the children on top.
#pragma once

#include "MySoundNode.h"

class TMusicNode : public TSoundSourceNode {
public:
    TMusicNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // Grey over the whole bitmap, the sound of the frame, then the children.
    bool RenderFrame(TBitmap* bitmap, bool wantAudio, bool wantVideo, Extended t) override;

protected:
    const char* ClassName() const override { return "TMusicNode"; }
    // Samples go straight to the project's audio format.
    const TAudioFormat& GetTargetFormat() const override;
};
