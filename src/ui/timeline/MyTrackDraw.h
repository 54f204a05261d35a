// Drawing of the timeline's track image (node rows, pegs, ruler, stop-point band) into a TBitmap,
// and every hit test on it. Each paint records the rows it drew in the nodes' TrackRect; the hit
// tests use exactly those rectangles and that paint's time scale. Knows no widget.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "MyGraphics.h"
#include "MyProjNode.h"
#include "MyTimelineGeometry.h"

// What one paint shows.
struct TTrackPaintInfo {
    TBitmap* Bitmap = nullptr;
    TRectI ViewRect; // visible part in strip pixels: left = ScrollX, the image's size
    Extended CursorPixels = 0;
    int64_t ScrollX = 0;
    Extended PixelsPerFrame = 0;
    Extended PixelsPerSecond = 0;
    int32_t MinLabelSpacing = 10;
    Extended Duration = 0;
    int32_t CursorMargin = 0;
    int32_t LabelSpacingFactor = 4;
    bool ShowSecond = false;
    Extended FPS = 0;

    TTimeScale Scale() const;
};

// The curve editor as the track drawer sees it: it is opened on the active node's row while
// adjusting, and closed when no row carries it.
class ITrackCurveEditor {
public:
    virtual ~ITrackCurveEditor() = default;
    // Opens or refreshes the editor on node, its graph placed at rect of the track image.
    virtual void EditObject(TTreeNodeData* node, const TRectI& rect) = 0;
    virtual void Reset() = 0;
    // Drops the selection and draws again.
    virtual void Redraw() {}
};

// Right and bottom edges are outside, as everywhere on the track image.
bool RectContains(const TRectI& r, int32_t x, int32_t y);

// Colours, 0x00BBGGRR.
constexpr uint32_t clTrackBackground = 0xC0DCC0;
constexpr uint32_t clStopBand = 0x808040;
constexpr uint32_t clRange = 0x00FFFF;
constexpr uint32_t clNoScale = 0x808080;

class TTrackDraw {
public:
    TTrackDraw(ITrackCurveEditor* editor, TProjectNode* project);
    TTrackDraw(const TTrackDraw&) = delete;
    TTrackDraw& operator=(const TTrackDraw&) = delete;

    // Row layout, y in image pixels (before the vertical offset).
    static constexpr int32_t RulerOffset = 4;
    static constexpr int32_t StopRowOffset = RulerOffset + 24;
    static constexpr int32_t RowsOffset = StopRowOffset + 8;
    static constexpr int32_t RowHeight = 20;
    static constexpr int32_t CurveRowHeight = 80;
    static constexpr int32_t RowGap = 4;
    // A marker within this many pixels (exclusive) of the mouse is hit.
    static constexpr int32_t MarkerReach = 9;
    // Shortest span a drag leaves a node or a movie's source range, seconds.
    static constexpr Extended MinSpan = 0.05L;

    ITrackCurveEditor* Editor;
    TProjectNode* Project;
    // The host's bottom panel grows to this height when a curve row needs room below it.
    std::function<void(int32_t)> EnsureBottomRoom;
    bool EditorShown = false;
    bool PaintLock = false;
    bool AdjustMode = false;

    void Paint(const TTrackPaintInfo& info);
    void BeginUpdate() { PaintLock = true; }
    void EndUpdate() { PaintLock = false; }
    void SetVerticalOffset(int32_t offset) { VerticalOffset = offset; }
    int32_t GetVerticalOffset() const { return VerticalOffset; }
    const TTrackPaintInfo& GetInfo() const { return Info; }

    int32_t RulerTop() const { return RulerOffset + VerticalOffset; }
    int32_t StopRowTop() const { return StopRowOffset + VerticalOffset; }
    int32_t RowsTop() const { return RowsOffset + VerticalOffset; }
    // Lowest row end of the last paint.
    int32_t ContentBottom() const { return Bottom; }

    // Coordinates of the last paint's scale.
    int32_t TimeToX(Extended t) const { return Info.Scale().TimeToX(t); }
    int32_t OriginX() const { return Info.Scale().BandInset(); }

    // Hit tests; t is the time of the mouse's x.
    TStopPoint* StopPointAt(int32_t y, Extended t) const;
    TStopPoint* PegAt(int32_t y, Extended t) const;
    TTreeNodeData* ObjectAt(int32_t y, Extended t) const;
    bool PointInStopRow(int32_t x, int32_t y) const;
    bool InStopPointRow(int32_t y) const;
    bool PointInCurrentObject(int32_t x, int32_t y) const;

    void AddStopPoint(int32_t y, Extended t);
    void AddPeg(int32_t y, Extended t);
    void SelectStopPoint(TStopPoint* s);
    void SelectPeg(TStopPoint* s);
    void SelectObject(TTreeNodeData* node);

    // Edits made by dragging; Saved and Delta in seconds. Each refuses a locked node and
    // answers whether anything changed.
    bool MoveStopPoint(TStopPoint* s, Extended t);
    bool MovePeg(TStopPoint* s, Extended t);
    bool MoveObject(TTreeNodeData* node, Extended saved, Extended delta);
    bool MoveObjectStart(TTreeNodeData* node, Extended saved, Extended delta);
    bool MoveObjectEnd(TTreeNodeData* node, Extended saved, Extended delta);
    // Nearest stop point at or after t (Forward) or at or before it; false when none.
    bool FindStopPoint(Extended& t, TSearchDirection direction) const;
    void ResetEditor();

    // The project's active node (never the video track).
    TTreeNodeData* ActiveNode() const { return Project ? Project->GetActiveNode() : nullptr; }

private:
    void DrawChildren(bool stacked, TTreeNodeData* parent, int32_t& y, int32_t& bottom);
    void DrawNode(TTreeNodeData* node, int32_t& y, int32_t& bottom);
    void DrawPegs(TTreeNodeData* node);
    void DrawRuler();
    void DrawStopPoints();
    void DrawMarker(int32_t x, int32_t y0, bool selected);
    void ClearTrackRects(TTreeNodeData* node);
    void Beep() const;

    TTrackPaintInfo Info;
    int32_t VerticalOffset = 0;
    int32_t Bottom = 0;
    TCanvas* Canvas = nullptr;            // set while a paint runs on a bitmap
    TTreeNodeData* PaintActive = nullptr; // the active node while a paint runs
};
