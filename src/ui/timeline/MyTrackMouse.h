// The mouse on the timeline's track image as a plain state machine: what a press picks (a stop
// point, a peg, a node's body or one of its edges), when a drag starts, which edit each step
// makes and which cursor it shows. The window feeds it image coordinates and carries out what
// it answers; nothing here knows a widget.
#pragma once

#include <cstdint>

#include "MyTimelineGeometry.h"
#include "MyTrackDraw.h"

enum class TTrackCursor { Default, Hand, NoDrop, HSplit, SizeWE, Forbidden };

enum TTrackMode : uint8_t {
    tmNone = 0,
    tmSelect = 1,
    tmStopPoint = 2,
    tmPeg = 3,
    tmMove = 4,
    tmEndEdge = 5,
    tmStartEdge = 6,
    tmSourceShift = 7,
    tmOutPoint = 8,
};

// What one mouse step asks of the window.
struct TTrackStep {
    TTrackCursor Cursor = TTrackCursor::Default;
    bool SetCursor = false; // false: leave the cursor as it is
    bool Changed = false;   // repaint the track image
    bool Refreshed = false; // the project was laid out anew
    bool FollowEnd = false; // a movie's out point moved: the play cursor goes to EndTime
    Extended EndTime = 0;
};

class TTrackMouse {
public:
    // Pixels the mouse travels from the press before a drag starts; edge zones are as wide.
    static constexpr int32_t Threshold = 8;

    explicit TTrackMouse(TTrackDraw& draw) : Draw(draw) {}

    bool Dragging = false;
    int32_t ThresholdX = 0;
    int32_t PressX = 0;
    int32_t PressY = 0;
    uint8_t TrackMode = tmNone;
    TStopPoint* HoverStop = nullptr;
    TStopPoint* HoverPeg = nullptr;
    TTreeNodeData* HoverNode = nullptr;
    Extended DragSaved = 0;
    // Something was edited since the press.
    bool DragChanged = false;

    // A press at image (x, y). Returns false when the popup menu is withheld (playing).
    bool Press(int32_t x, int32_t y, bool left, bool ctrl, bool playDown, const TTimeScale& sc);
    TTrackStep Move(int32_t x, int32_t y, bool ctrl, bool adjustDown, bool arrangeDown,
                    const TTimeScale& sc);
    // Ends a drag; answers the node that became active (null: none), or false in the first
    // member when no drag was running.
    bool Release(TTreeNodeData*& selected);
    // Adds or deletes the stop point or peg at the press point.
    void DoubleClick(const TTimeScale& sc);
    // Hover values point into the tree: a structural change must drop them.
    void Forget();

private:
    TTrackCursor HoverCursor(int32_t x, bool ctrl, const TTimeScale& sc) const;
    TTrackStep DragStep(int32_t x, const TTimeScale& sc);
    TTrackStep EdgeStep(bool start, Extended delta);
    Extended MovieLength() const;

    TTrackDraw& Draw;
};
