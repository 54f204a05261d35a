// A fast/slow-motion object: a movie played at a speed that follows the key points of its
// "Motion speed" curve, over an output duration of its own.
#pragma once

#include "MyMovieNode.h"

class TWarpNode : public TMovieNode {
public:
    TWarpNode(TCustomProjectNode* project, const std::string& caption, ITreeItem* item);

    // Length of the output in milliseconds.
    int32_t OutputDuration = 10000;

    // The output duration in seconds (also kept as the user duration).
    Extended GetDuration() override;
    // The speed curve stays usable whether or not the file has sound.
    void SetFileName(const std::string& name) override;
    // The in-point plus the source time the speed keys reach at the node's local time.
    Extended SourceTimeAt(Extended t) override;

    // Speed factor of a key level: 0 plays at normal speed, v > 0 at 8v, v < 0 at -1/(8v).
    static Extended SpeedOf(Extended v);
    // Seconds of source played after local seconds t under the speed keys, at most the
    // source duration.
    Extended MapTime(Extended t);
    Extended GetSourceDuration();
    // The output duration that plays the whole source under the speed keys, on the frame grid.
    Extended FitDuration();

protected:
    void WriteAfter(TValueWriter& writer) const override;
    void ReadAfter(TValueReader& reader) override;
};
