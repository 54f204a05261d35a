// A fast/slow-motion object: a movie played at a speed that follows a curve.
#pragma once

#include "MyMovieNode.h"

class TWarpNode : public TMovieNode {
public:
    TWarpNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // Length of the output in milliseconds.
    int32_t OutputDuration = 10000;

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
