// The curve editor: edits the key-framed curves of the object whose timeline row is open in
// adjust mode. Its toolbar goes into the main window's editor panel, its curve graph into the
// object's row of the timeline and its on-screen box over the preview, where a position is
// dragged. TCurveMapping, TCurveButtonRules and TCurveNavigation hold the arithmetic and rules.
#pragma once

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MyGraphics.h"
#include "MyTrackDraw.h"

class IUiServices;
class QComboBox;
class QMenu;
class QAction;
class QToolButton;
class TDataPoint;
class TProjectNode;
class TTimeData;
class TTimeline;
class TTreeNodeData;

// Where the graph draws a curve's key points, and what a point of the graph means.
struct TCurveMapping {
    Extended Duration = 1.0L; // the visible part of the object, seconds
    Extended CutOff = 0;      // seconds of the object before its parent starts
    int32_t Width = 0;
    int32_t Height = 0;
    bool TimeOnly = false;

    // The mapping of node's curve onto a graph of w x h pixels (no node: one second).
    static TCurveMapping For(TTreeNodeData* node, const TTimeData* curve, int32_t w, int32_t h);

    int32_t MiddleY() const { return Height / 2; }
    int32_t TimeToX(Extended t) const;
    // Local time of graph x; needs a width.
    Extended XToTime(int32_t x) const;
    int32_t PointY(const TDataPoint& p) const;
    // The level of graph y, clamped to -1..1; none when the graph is too flat to map.
    std::optional<Extended> YToLevel(int32_t y) const;
};

enum TCurveButton {
    btAdd,
    btDel,
    btMid,
    btVal,
    btInterpolate,
    btHide,
    btText,
    btColor,
    btPick,
    btFont,
    btCount
};

struct TCurveButtonRules {
    // Enabled buttons for the selected point index (-1: none) of a curve of count points and
    // value mode; all off without a curve.
    static std::array<bool, btCount> Enabled(bool haveCurve, int index, int count, int mode);
};

struct TCurveNavigation {
    // The first point later than the local time t.
    static TDataPoint* Next(const TTimeData& curve, Extended t);
    // The point before the first one that is, on the frame grid, not earlier than t.
    static TDataPoint* Previous(const TTimeData& curve, Extended t,
                                const std::function<Extended(Extended)>& snap);
    // Leaves the curve with its one default point (time 0, value 0, visible).
    static void Clear(TTimeData& curve);
    // Index of the point whose box holds (x, y), testing the last box first; -1 when none.
    static int HitTest(const std::vector<TRect>& boxes, int32_t x, int32_t y);
};

class TLocalEditorForm : public QWidget, public ITrackCurveEditor {
    Q_OBJECT
public:
    // timeline: whose cursor the editor reads and moves, and whose track image carries the
    // graph; setFrame: the main window's "render frame n" (-1: the cursor's frame again).
    TLocalEditorForm(TTimeline& timeline, std::function<void(int32_t)> setFrame);
    ~TLocalEditorForm() override;

    void Setup(TProjectNode* project, QWidget* editorPanel, QWidget* displayPanel);

    // ITrackCurveEditor: the graph goes over rect of the timeline's track image.
    void EditObject(TTreeNodeData* node, const TRectI& rect) override;
    void Reset() override;
    void Redraw() override;
    void RequestPreview();
    void GotoLocalTime(Extended t);
    Extended LocalTime() const;
    // Called by the subtitle editor with the point it shows.
    void SubtitleNodeChanged(TDataPoint* p);
    // Enables the pop-up menu's items as they stand now.
    void UpdatePopup();

    TTreeNodeData* GetEditedNode() const { return EditedNode; }
    TTimeData* GetCurrentCurve() const { return CurrentCurve; }
    TDataPoint* GetCurrentPoint() const { return CurrentPoint; }
    const TBitmap& GetGraphBitmap() const { return GraphBitmap; }
    TCurveMapping Mapping() const;

    QWidget* pEditor;
    std::array<QToolButton*, btCount> Buttons{};
    QComboBox* cbMode;
    QWidget* pbOnScreen;
    QWidget* ImRubber;
    QMenu* pmGraph;
    QAction* miLocateCurrent;
    QAction* miLocateNext;
    QAction* miLocateBefore;
    QAction* miClear;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildToolbar();
    // Widens the panel the toolbar fills so that every caption and the curve's name stay whole.
    void ReserveToolbarRoom();
    void BuildPopup();
    void ChooseCurve(int index);
    void SelectPoint(TDataPoint* p);
    void ApplyButtonRules();
    void DrawGraph();
    void DrawPoints(TCanvas& c, const TCurveMapping& m);
    void PlaceGraph(const TRectI& rect);
    void Changed(bool redraw = true);

    bool GraphEvent(QEvent* event);
    void GraphPress(const QPoint& at);
    void GraphMove(const QPoint& at);
    void GraphDoubleClick();
    bool ScreenEvent(QEvent* event);
    void ScreenMove(const QPoint& at);

    void AddClick();
    void DelClick();
    void PlaceClick(int mode);
    void HideClick();
    void TextClick();
    void ColorClick();
    void FontClick();
    void PickClick();
    void LocateCurrent();
    void LocateOther(bool next);
    void ClearClick();

    IUiServices* Ui() const;

    TTimeline& Timeline;
    std::function<void(int32_t)> SetFrame;
    QWidget* Holder; // the graph's home while closed
    QPointer<QWidget> EditorPanel;
    QPointer<QWidget> DisplayPanel;
    // The parts that live in other windows' panels.
    std::vector<QPointer<QWidget>> Lent;
    TProjectNode* Project = nullptr;
    TTreeNodeData* EditedNode = nullptr;
    TTimeData* CurrentCurve = nullptr;
    TDataPoint* CurrentPoint = nullptr;
    TTreeNodeData* RefusedNode = nullptr; // told last that its duration is 0
    TBitmap GraphBitmap;
    std::vector<TRect> Boxes; // box of point i as drawn last
    bool Updating = false;
    bool Busy = false;
    bool Filling = false;
    bool LevelDragging = false;
    bool ScreenDragging = false;
    QPoint LastMouse;
    QPoint ScreenLast;
};
